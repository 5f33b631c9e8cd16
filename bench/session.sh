# A private desktop for the bench scripts that launch programs with windows
# and sound (bench/startup_memory.sh, bench/peers/run.sh): a session bus, one
# private sound server with a null sink, one Xvfb screen and a log of every
# window it maps. Sourced, not run. The script sets `log_tag` (its name in
# the log lines) and `keep` (1: the work directory is kept) first; here
# `rate` (48000) is set unless it already is.
#
#   session_begin NAME             work=/tmp/pendlo-NAME-XXXXXX; ends all on exit
#   start_session_bus
#   start_sound_server SERVER SINK DESCRIPTION
#                                  SERVER pulse|pipewire; sets socket,
#                                  server_version, PULSE_SERVER (and
#                                  PIPEWIRE_RUNTIME_DIR); its daemons' pids
#                                  go to server_pids
#   start_screen                   Xvfb, DISPLAY, and xev_log: every MapNotify
#                                  of the screen, stamped on arrival
#   mapped_at WINDOW SINCE         the stamp of WINDOW's first map after SINCE
#
# Every process started goes to `pids` and is ended on exit, also on Ctrl-C.

: "${rate:=48000}"

log() { printf '[%s %(%H:%M:%S)T] %s\n' "$log_tag" -1 "$*" >&2; }
die() { log "error: $*"; exit 1; }

apt_updated=0
need() { # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 && return 0
  log "installing $2 (for $1)"
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$2" >/dev/null 2>&1; then
    if ((apt_updated == 0)); then
      apt_updated=1
      apt-get update -qq >/dev/null 2>&1
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$2" >/dev/null 2>&1
    fi
  fi
  command -v "$1" >/dev/null 2>&1 || die "cannot install $2"
}

need_session() { # need_session SERVER: the tools of the desktop and of that server
  if [[ $1 == pulse ]]; then
    need pulseaudio pulseaudio
  else
    need pipewire pipewire
    need wireplumber wireplumber
    need pipewire-pulse pipewire-pulse
  fi
  need pactl pulseaudio-utils
  need Xvfb xvfb
  need xdotool xdotool
  need xev x11-utils
  need dbus-daemon dbus-daemon
}

pids=()
server_pids=()

stop_pid() { # stop_pid PID [SIGNAL]: signal, wait up to 3 s, then SIGKILL
  local pid=$1 signal=${2:-TERM} i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -"$signal" "$pid" 2>/dev/null
  for ((i = 0; i < 60; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

session_cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  if ((keep)); then log "kept $work"; else rm -rf "$work"; fi
}

session_begin() { # session_begin NAME
  work=$(mktemp -d "/tmp/pendlo-$1-XXXXXX")
  trap session_cleanup EXIT
  trap 'exit 130' INT TERM HUP
  mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
}

wait_for_file() { # wait_for_file FILE WHAT: until a daemon writes FILE, up to 10 s
  local i
  for ((i = 0; ; i++)); do
    [[ -s $1 ]] && return 0
    ((i < 200)) || die "$2 did not start"
    sleep 0.05
  done
}

# A desktop session has a session bus, and toolkits use it at start-up (Qt's
# accessibility bridge connects to it): without one, Qt tries to launch a
# bus and start-up takes ~15 ms longer than on any desktop. PipeWire's
# session manager uses it too, so it comes first.
start_session_bus() {
  log "starting a session bus"
  dbus-daemon --session --nofork --print-address=3 3>"$work/bus" </dev/null >/dev/null 2>&1 &
  pids+=($!)
  wait_for_file "$work/bus" dbus-daemon
  export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus")
}

start_sound_server() { # start_sound_server SERVER SINK DESCRIPTION
  local server=$1 sink=$2 description=$3 daemon i
  if [[ $server == pulse ]]; then
    socket="$work/runtime/native"
    log "starting PulseAudio (null sink, $rate Hz)"
    XDG_RUNTIME_DIR="$work/runtime" HOME="$work" XDG_CONFIG_HOME="$work/pulse-config" PULSE_SERVER= \
      pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --system=false \
      --use-pid-file=false --no-cpu-limit=true --log-target="file:$work/server.log" \
      "--load=module-native-protocol-unix auth-anonymous=1 socket=$socket" \
      "--load=module-null-sink sink_name=$sink rate=$rate sink_properties=device.description=$description" \
      </dev/null >/dev/null 2>&1 &
    pids+=($!) server_pids+=($!)
    server_version=$(pulseaudio --version 2>/dev/null | head -1)
  else
    socket="$work/runtime/pulse/native"
    log "starting PipeWire, WirePlumber and pipewire-pulse (null sink, $rate Hz)"
    # WirePlumber leaves the machine's sound cards, cameras and headsets alone.
    mkdir -p "$work/pw-config/wireplumber/main.lua.d" "$work/pw-config/wireplumber/bluetooth.lua.d"
    printf 'alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\nlibcamera_monitor.enabled = false\n' \
      >"$work/pw-config/wireplumber/main.lua.d/60-no-devices.lua"
    echo 'bluez_monitor.enabled = false' >"$work/pw-config/wireplumber/bluetooth.lua.d/60-no-devices.lua"
    for daemon in pipewire wireplumber pipewire-pulse; do
      XDG_RUNTIME_DIR="$work/runtime" PIPEWIRE_RUNTIME_DIR="$work/runtime" HOME="$work" \
        XDG_CONFIG_HOME="$work/pw-config" XDG_STATE_HOME="$work/pw-state" PULSE_SERVER= \
        "$daemon" </dev/null >>"$work/server.log" 2>&1 &
      pids+=($!) server_pids+=($!)
      if [[ $daemon == pipewire ]]; then
        for ((i = 0; ; i++)); do
          [[ -S $work/runtime/pipewire-0 ]] && break
          ((i < 200)) || die "pipewire did not start: $(tail -3 "$work/server.log")"
          sleep 0.05
        done
      fi
    done
    server_version="PipeWire $(pipewire --version 2>/dev/null | sed -n 's/^Compiled with libpipewire //p') with WirePlumber and pipewire-pulse"
    export PIPEWIRE_RUNTIME_DIR="$work/runtime"
  fi
  export PULSE_SERVER="unix:$socket"
  for ((i = 0; ; i++)); do
    pactl info >/dev/null 2>&1 && break
    ((i < 200)) || die "the sound server did not start: $(tail -3 "$work/server.log")"
    sleep 0.05
  done
  [[ $server == pipewire ]] &&
    pactl load-module module-null-sink sink_name="$sink" rate=$rate channels=2 \
      sink_properties=device.description="$description" >/dev/null
  for ((i = 0; ; i++)); do
    pactl list short sources 2>/dev/null | grep -q "$sink.monitor" &&
      pactl set-default-sink "$sink" && pactl info | grep -q "^Default Sink: $sink$" && break
    ((i < 200)) || die "no null sink $sink: $(tail -3 "$work/server.log")"
    sleep 0.05
  done
}

start_screen() {
  log "starting Xvfb"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" </dev/null >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  wait_for_file "$work/display" Xvfb
  export DISPLAY=":$(head -1 "$work/display")"
  # Every window mapped on the screen, stamped on arrival: the map time of a
  # program's window, without polling the X server while the program starts.
  # Two jobs joined by a fifo rather than one pipeline, so each has a pid of
  # its own to end: ending xev gives the stamping loop its end of file.
  xev_log="$work/xev.log"
  mkfifo "$work/xev.fifo"
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done <"$work/xev.fifo" >"$xev_log" &
  pids+=($!)
  stdbuf -oL xev -root -event substructure >"$work/xev.fifo" 2>/dev/null &
  pids+=($!)
  sleep 0.5
}

mapped_at() { # mapped_at WINDOW SINCE: the stamp of its first MapNotify after SINCE
  local hex
  hex=$(printf '0x%x' "$1")
  awk -v w=", window $hex," -v since="$2" \
    '$1 >= since && prev && index($0, w) { print $1; exit } { prev = /MapNotify/ }' "$xev_log"
}

window_of() { # window_of PID: the decimal id of its visible window, waiting up to 20 s
  local id i
  for ((i = 0; i < 400; i++)); do
    id=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

map_stamp() { # map_stamp PID SINCE: the stamp of the map of PID's window after SINCE
  local window at i
  window=$(window_of "$1") || return 1
  for ((i = 0; i < 40; i++)); do
    at=$(mapped_at "$window" "$2")
    [[ -n $at ]] && { echo "$at"; return 0; }
    sleep 0.05
  done
  return 1
}

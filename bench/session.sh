# A private desktop for the bench scripts that launch programs with windows
# and sound (bench/startup_memory.sh, bench/peers/run.sh): a session bus, one
# private sound server with a null sink, one Xvfb screen and a log of every
# window it maps. Sourced, not run. The script sets `log_tag` (its name in
# the log lines) and `keep` (1: the work directory is kept) first; here
# `rate` (48000) is set unless it already is.
#
#   session_begin NAME             work=/tmp/pendlo-NAME-XXXXXX; ends all on exit
#   start_session_bus
#   start_sound_server SERVER      SERVER pulse|pipewire, started by
#                                  bench/sound_session (the tests' server);
#                                  exports PULSE_SERVER, PIPEWIRE_RUNTIME_DIR,
#                                  XDG_RUNTIME_DIR, SDL_AUDIODRIVER; sets sink
#                                  and server_version; its daemons' pids go
#                                  to server_pids
#   start_screen                   Xvfb, DISPLAY, and xev_log: every MapNotify
#                                  of the screen, stamped on arrival
#   mapped_at WINDOW SINCE         the stamp of WINDOW's first map after SINCE
#
# Every process started goes to `pids` and is ended on exit, also on Ctrl-C.

: "${rate:=48000}"
session_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

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

start_sound_server() { # start_sound_server SERVER
  local tool="$session_repo/build/default/bench/sound_session" line
  if [[ ! -x $tool ]]; then
    log "building sound_session"
    (cd "$session_repo" && { [[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null; } &&
      cmake --build --preset default --target sound_session -j2 >/dev/null) || die "build failed"
  fi
  log "starting the $1 server (bench/sound_session: null sink, $rate Hz)"
  # It runs while its standard input, this shell's end of the pipe, is open.
  coproc sound_server { exec "$tool" --server "$1" --rate "$rate" 2>"$work/server.log"; }
  pids+=("$sound_server_PID")
  sound_ready=0
  while ((sound_ready == 0)) && IFS= read -r line <&"${sound_server[0]}"; do eval "$line"; done
  ((sound_ready)) || die "the sound server did not start: $(tail -5 "$work/server.log")"
  sink=$sound_sink
  read -ra server_pids <<<"$sound_pids"
  if [[ $1 == pulse ]]; then
    server_version=$(pulseaudio --version 2>/dev/null | head -1)
  else
    server_version="PipeWire $(pipewire --version 2>/dev/null | sed -n 's/^Compiled with libpipewire //p') with WirePlumber and pipewire-pulse"
  fi
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

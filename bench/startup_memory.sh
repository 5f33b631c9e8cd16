#!/usr/bin/env bash
# Start-up time and memory at rest: Pendlo, a bare Qt 6 Widgets window of the
# same size (bench/bare_window.cpp) and GTick, launched in turn (interleaved,
# so the machine's noise falls on all three alike) under one Xvfb and one
# private sound server with a 48 kHz null sink. For each program: the median
# time from exec to the X server's MapNotify of its window, and, a few
# seconds after the window is mapped, VmRSS, PSS (/proc/PID/smaps_rollup) and
# the thread count (medians over the launches).
#
#   bench/startup_memory.sh [--launches 9] [--rest 3] [--server pulse|pipewire]
#                           [--binary PATH] [--keep]
#
# Run as root on a Debian machine; missing tools are installed with apt-get.
# Everything it starts is ended on exit. Prints a Markdown table.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
command_line="bench/startup_memory.sh${*:+ $*}"

launches=9
rest=3
server=pulse
binary="$repo/build/default/src/app/pendlo"
bare="$repo/build/default/bench/bare_window"
keep=0
rate=48000

usage() {
  sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
while (($#)); do
  case "$1" in
    --launches) launches=${2:?}; shift 2 ;;
    --rest) rest=${2:?}; shift 2 ;;
    --server) server=${2:?}; shift 2 ;;
    --binary) binary=$(realpath "${2:?}"); shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) usage ;;
    *) echo "unknown option: $1" >&2; usage ;;
  esac
done
[[ $launches =~ ^[0-9]+$ ]] && ((launches >= 1)) || { echo "--launches: at least 1" >&2; exit 2; }
[[ $rest =~ ^[0-9]+$ ]] && ((rest >= 1)) || { echo "--rest: whole seconds, at least 1" >&2; exit 2; }
[[ $server == pulse || $server == pipewire ]] || { echo "--server: pulse or pipewire" >&2; exit 2; }

log() { printf '[startup %(%H:%M:%S)T] %s\n' -1 "$*" >&2; }
die() { log "error: $*"; exit 1; }

need() { # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 && return 0
  log "installing $2 (for $1)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$2" >/dev/null 2>&1
  command -v "$1" >/dev/null 2>&1 || die "cannot install $2"
}
if [[ $server == pulse ]]; then
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
need gtick gtick

if [[ ! -x $binary || ! -x $bare ]]; then
  log "building pendlo and bare_window"
  (cd "$repo" && { [[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null; } &&
    cmake --build --preset default --target pendlo bare_window -j2 >/dev/null) || die "build failed"
fi
[[ -x $binary ]] || die "no pendlo binary at $binary"
[[ -x $bare ]] || die "no bare_window at $bare"

work=$(mktemp -d /tmp/pendlo-startup-XXXXXX)
pids=()
stop_pid() { # stop_pid PID: TERM, wait up to 3 s, then KILL
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 60; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  if ((keep)); then log "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"

wait_for_file() { # wait_for_file FILE WHAT: until a daemon writes FILE, up to 10 s
  local i
  for ((i = 0; ; i++)); do
    [[ -s $1 ]] && return 0
    ((i < 200)) || die "$2 did not start"
    sleep 0.05
  done
}

# A desktop session has a session bus; without one Qt tries to start a bus.
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" </dev/null >/dev/null 2>&1 &
pids+=($!)
wait_for_file "$work/bus" dbus-daemon
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus")

sink=startup
if [[ $server == pulse ]]; then
  socket="$work/runtime/native"
  log "starting PulseAudio (null sink, $rate Hz)"
  XDG_RUNTIME_DIR="$work/runtime" HOME="$work" XDG_CONFIG_HOME="$work/pulse-config" PULSE_SERVER= \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --system=false \
    --use-pid-file=false --no-cpu-limit=true --log-target="file:$work/server.log" \
    "--load=module-native-protocol-unix auth-anonymous=1 socket=$socket" \
    "--load=module-null-sink sink_name=$sink rate=$rate sink_properties=device.description=Startup" \
    </dev/null >/dev/null 2>&1 &
  pids+=($!)
  server_version=$(pulseaudio --version 2>/dev/null | head -1)
else
  socket="$work/runtime/pulse/native"
  log "starting PipeWire, WirePlumber and pipewire-pulse (null sink, $rate Hz)"
  mkdir -p "$work/pw-config/wireplumber/main.lua.d" "$work/pw-config/wireplumber/bluetooth.lua.d"
  printf 'alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\nlibcamera_monitor.enabled = false\n' \
    >"$work/pw-config/wireplumber/main.lua.d/60-no-devices.lua"
  echo 'bluez_monitor.enabled = false' >"$work/pw-config/wireplumber/bluetooth.lua.d/60-no-devices.lua"
  for daemon in pipewire wireplumber pipewire-pulse; do
    XDG_RUNTIME_DIR="$work/runtime" PIPEWIRE_RUNTIME_DIR="$work/runtime" HOME="$work" \
      XDG_CONFIG_HOME="$work/pw-config" XDG_STATE_HOME="$work/pw-state" PULSE_SERVER= \
      "$daemon" </dev/null >>"$work/server.log" 2>&1 &
    pids+=($!)
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
  pactl load-module module-null-sink sink_name=$sink rate=$rate channels=2 \
    sink_properties=device.description=Startup >/dev/null
for ((i = 0; ; i++)); do
  pactl set-default-sink "$sink" 2>/dev/null && pactl info | grep -q "^Default Sink: $sink$" && break
  ((i < 200)) || die "no null sink $sink: $(tail -3 "$work/server.log")"
  sleep 0.05
done

log "starting Xvfb"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" </dev/null >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for_file "$work/display" Xvfb
export DISPLAY=":$(head -1 "$work/display")"

# Every window mapped on the screen, stamped on arrival (see bench/peers/run.sh).
xev_log="$work/xev.log"
mkfifo "$work/xev.fifo"
while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done <"$work/xev.fifo" >"$xev_log" &
pids+=($!)
stdbuf -oL xev -root -event substructure >"$work/xev.fifo" 2>/dev/null &
pids+=($!)
sleep 0.5

# Pendlo runs from a copy of its binary whose data files a first start made.
mkdir -p "$work/pendlo"
cp "$binary" "$work/pendlo/pendlo"
printf '120\r\n3\r\n10\r\n20\r\n' >"$work/pendlo/init.sav"
mkdir -p "$work/gtick-home"
printf 'Speed = 120\nMeter = 4\nVisualTick = 0\n' >"$work/gtick-home/.gtickrc"

launched_pid=0
launched_at=0
launch() { # launch NAME
  local exe home="$work/home-$1"
  case $1 in
    pendlo) exe="$work/pendlo/pendlo" ;;
    bare) exe=$bare ;;
    gtick) exe=$(command -v gtick) home="$work/gtick-home" ;;
  esac
  mkdir -p "$home"
  launched_at=$EPOCHREALTIME
  env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_RUNTIME_DIR="$work/runtime" SDL_AUDIODRIVER=pulseaudio QT_QPA_PLATFORM=xcb \
    "$exe" </dev/null >>"$work/$1.log" 2>&1 &
  launched_pid=$!
  pids+=("$launched_pid")
}
window_of() { # window_of PID: its visible window, waiting up to 20 s
  local id i
  for ((i = 0; i < 400; i++)); do
    id=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
mapped_at() { # mapped_at WINDOW SINCE: the stamp of its first MapNotify after SINCE
  local hex
  hex=$(printf '0x%x' "$1")
  awk -v w=", window $hex," -v since="$2" \
    '$1 >= since && prev && index($0, w) { print $1; exit } { prev = /MapNotify/ }' "$xev_log"
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { tr ' ' '\n' | grep . | sort -n | awk 'NR == 1 { a = $1 } { b = $1 } END { print a "–" b }'; }

one() { # one NAME: launch, time the map, rest, read memory, end
  local name=$1 window at i pid
  launch "$name"
  pid=$launched_pid
  window=$(window_of "$pid") || die "$name showed no window (see $work/$name.log)"
  at=""
  for ((i = 0; i < 40 && ${#at} == 0; i++)); do
    at=$(mapped_at "$window" "$launched_at")
    [[ -n $at ]] || sleep 0.05
  done
  [[ -n $at ]] || die "no MapNotify seen for $name's window"
  ms[$name]+="$(awk -v a="$launched_at" -v b="$at" 'BEGIN { printf "%.0f", (b - a) * 1000 }') "
  sleep "$rest"
  rss[$name]+="$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status") "
  pss[$name]+="$(awk '/^Pss:/ { print $2 }' "/proc/$pid/smaps_rollup") "
  threads[$name]+="$(ls "/proc/$pid/task" | wc -l) "
  if ((n == 0)); then
    cp "/proc/$pid/smaps" "$work/$name.smaps" 2>/dev/null
    cat /proc/"$pid"/task/*/comm >"$work/$name.threads" 2>/dev/null
  fi
  stop_pid "$pid"
}

# Pendlo's first start in its directory writes its data files: not timed.
launch pendlo
window_of "$launched_pid" >/dev/null || die "pendlo showed no window (see $work/pendlo.log)"
stop_pid "$launched_pid"

declare -A ms rss pss threads
log "$launches launches of each, interleaved, $rest s at rest after each window maps"
for ((n = 0; n < launches; n++)); do
  for name in pendlo bare gtick; do
    one "$name"
    sleep 0.3
  done
done

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
row() { # row LABEL NAME
  printf '| %s | %s (%s) | %s | %s | %s |\n' "$1" "$(median <<<"${ms[$2]}")" "$(range <<<"${ms[$2]}")" \
    "$(mib "$(median <<<"${rss[$2]}")")" "$(mib "$(median <<<"${pss[$2]}")")" "$(median <<<"${threads[$2]}")"
}
cat <<EOF
$command_line
$(date -u '+%Y-%m-%d %H:%M UTC'), $server_version, $(nproc) cores, Pendlo at $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)

| program | start-up to mapped window, ms: median (range) | VmRSS, MiB | PSS, MiB | threads |
| --- | ---: | ---: | ---: | ---: |
$(row Pendlo pendlo)
$(row "bare Qt window" bare)
$(row GTick gtick)
EOF
((keep)) && log "smaps and thread names of the first launch of each: $work/*.smaps, *.threads"
exit 0

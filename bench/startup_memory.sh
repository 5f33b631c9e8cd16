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

log_tag=startup
# shellcheck source=session.sh
source "$here/session.sh"
need_session "$server"
need gtick gtick

if [[ ! -x $binary || ! -x $bare ]]; then
  log "building pendlo and bare_window"
  (cd "$repo" && { [[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null; } &&
    cmake --build --preset default --target pendlo bare_window -j2 >/dev/null) || die "build failed"
fi
[[ -x $binary ]] || die "no pendlo binary at $binary"
[[ -x $bare ]] || die "no bare_window at $bare"

session_begin startup
start_session_bus
start_sound_server "$server"
start_screen

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
  env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" QT_QPA_PLATFORM=xcb \
    "$exe" </dev/null >>"$work/$1.log" 2>&1 &
  launched_pid=$!
  pids+=("$launched_pid")
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { tr ' ' '\n' | grep . | sort -n | awk 'NR == 1 { a = $1 } { b = $1 } END { print a "–" b }'; }

one() { # one NAME: launch, time the map, rest, read memory, end
  local name=$1 at pid
  launch "$name"
  pid=$launched_pid
  at=$(map_stamp "$pid" "$launched_at") || die "$name mapped no window (see $work/$name.log)"
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

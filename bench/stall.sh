#!/usr/bin/env bash
# A stall: bench/click_timing plays on a private server while the whole
# process is stopped (kill -STOP) for a while and continued, as a machine
# that freezes does. Then every click heard is checked against the grid of
# the first one (to within one sample) and every accent against the bar:
# the ticks the stall missed are counted, not heard in a burst, and the
# accent stays where it belongs.
#
#   bench/stall.sh [--server pulse|pipewire] [--tempo 600] [--meter 4 | --meter tuplets --text 9]
#                  [--accent-every-ms 400] [--seconds 16] [--stop-at 8] [--stop-for 0.3]
#
# --accent-every-ms is the bar's length (a beat in tuplets): an accent must
# fall on a whole number of them after the first one, a plain click never.
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
timing="$repo/build/default/bench/click_timing"
server=pulse tempo=600 meter=4 text="" bar_ms=400 seconds=16 stop_at=8 stop_for=0.3
while (($#)); do
  case "$1" in
    --server) server=${2:?}; shift 2 ;;
    --tempo) tempo=${2:?}; shift 2 ;;
    --meter) meter=${2:?}; shift 2 ;;
    --text) text=${2:?}; shift 2 ;;
    --accent-every-ms) bar_ms=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    --stop-at) stop_at=${2:?}; shift 2 ;;
    --stop-for) stop_for=${2:?}; shift 2 ;;
    *) sed -n '2,13p' "$0" >&2; exit 2 ;;
  esac
done
[[ -x $timing ]] || { echo "build first: cmake --build --preset default --target click_timing" >&2; exit 1; }

csv=$(mktemp --suffix=.csv) out=$(mktemp)
trap 'rm -f "$csv" "$out"' EXIT
args=(--server "$server" --tempo "$tempo" --meter "$meter" --seconds "$seconds" --csv "$csv")
[[ -n $text ]] && args+=(--text "$text")
"$timing" "${args[@]}" >"$out" 2>&1 &
pid=$!
sleep "$stop_at"
kill -STOP "$pid"
sleep "$stop_for"
kill -CONT "$pid"
wait "$pid"

echo "stall: $server, $tempo BPM, meter $meter${text:+ '$text'}, $seconds s, stopped ${stop_for} s at ${stop_at} s"
grep -E "ticks [0-9]+, clicks found|intervals off" "$out" | sed 's/^ */  /'
# Columns: tick, kind, due (us), frame heard (empty: not found), ...
awk -F, -v rate=48000 -v bar="$bar_ms" '
  NR == 1 || $4 == "" { if (NR > 1) missing++; next }
  first == "" { first = $3; frame0 = $4 }
  {
    played++
    expected = frame0 + ($3 - first) * rate / 1e6
    off = $4 - expected; if (off < 0) off = -off
    if (off > 1) offgrid++
    if (off > worst) worst = off
    onbar = (($3 - first) % (bar * 1000)) == 0
    if (onbar != ($2 == "accent")) wrongbar++
    if (prev != "" && $3 - prev > gap) gap = $3 - prev
    prev = $3
  }
  END {
    printf "  clicks heard %d, not found %d; off the first click'"'"'s grid by more than 1 sample: %d (worst %.1f); accents off the bar: %d; longest gap between ticks played: %.0f ms\n",
      played, missing, offgrid, worst, wrongbar, gap / 1000
    exit (offgrid || wrongbar || missing) ? 3 : 0
  }' "$csv"

#!/usr/bin/env bash
# The timing targets, case by case: bench/click_timing on a private server,
# each case played RUNS times for SECONDS, quiet and then beside two CPU hogs
# (yes > /dev/null, twice). Prints a Markdown table per load.
#
#   bench/timing_matrix.sh [--server pulse|pipewire] [--seconds 60] [--runs 3]
#                          [--load quiet|hogs|both] [--late-every N]
#                          [--changes N]
#
# "Cycles passed by" are graph cycles run without the program's node (its
# data thread did not run in time); "the timer's latest call" is how long
# after its due time less the lookahead the latest tick was called (the
# lookahead's margin must hold it).
# --late-every N makes the timer see every Nth deadline 15 ms late.
# --changes N adds a table per load: each case once more with N decisions
# (Stop and Start, tempo changes) while playing, and how long after them
# clicks decided before them were still heard.
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
timing="$repo/build/default/bench/click_timing"
server=pulse seconds=60 runs=3 load=both late_every=0 changes=0
while (($#)); do
  case "$1" in
    --server) server=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    --runs) runs=${2:?}; shift 2 ;;
    --load) load=${2:?}; shift 2 ;;
    --late-every) late_every=${2:?}; shift 2 ;;
    --changes) changes=${2:?}; shift 2 ;;
    *) sed -n '2,18p' "$0" >&2; exit 2 ;;
  esac
done
[[ -x $timing ]] || { echo "build first: cmake --build --preset default --target click_timing" >&2; exit 1; }

cases=("72 4 -" "600 1 -" "120 irregular 322" "60 tuplets 35" "240 tuplets 9" "600 tuplets 9")
hogs=()
trap 'kill "${hogs[@]}" 2>/dev/null' EXIT

table() { # table LOAD
  local hook=""
  ((late_every > 0)) && hook=", the timer 15 ms late every ${late_every}th tick"
  echo "### $server, $1$hook ($runs × ${seconds} s per case, $(date -u +%Y-%m-%dT%H:%MZ))"
  echo
  echo "| case | intervals | off > 1 sample | largest error (samples) | late onsets | cycles passed by | timer's latest call (ms) | lookahead (ms) | CPU % |"
  echo "|---|---|---|---|---|---|---|---|---|"
  for c in "${cases[@]}"; do
    read -r tempo meter text <<<"$c"
    local args=(--tempo "$tempo" --meter "$meter" --seconds "$seconds" --server "$server" --late-every "$late_every")
    [[ $text != - ]] && args+=(--text "$text")
    local label="$tempo/$meter"
    [[ $text != - ]] && label="'$text'@$tempo"
    local n=0 off=0 late=0 passed=0 worst=0 latest=0 heard="" cpu=""
    for ((r = 1; r <= runs; r++)); do
      out=$("$timing" "${args[@]}" 2>&1)
      n=$((n + $(sed -n 's/.*intervals measured \([0-9]*\).*/\1/p' <<<"$out")))
      off=$((off + $(sed -n 's/.*intervals off by more than 1 sample: \([0-9]*\).*/\1/p' <<<"$out")))
      late=$((late + $(sed -n 's/.*late onsets \([0-9]*\).*/\1/p' <<<"$out")))
      passed=$((passed + $(sed -n 's/.*cycles passed by \([0-9]*\).*/\1/p' <<<"$out")))
      c=$(sed -n 's/.*timer: latest call \([-0-9.]*\) ms.*/\1/p' <<<"$out")
      latest=$(awk -v a="$latest" -v b="${c:-0}" 'BEGIN { print (b > a ? b : a) }')
      w=$(sed -n 's/.*interval error:.* max \([0-9.]*\) samples.*/\1/p' <<<"$out")
      worst=$(awk -v a="$worst" -v b="${w:-0}" 'BEGIN { print (b > a ? b : a) }')
      heard+="$(sed -n 's/.*lookahead \([0-9.]*\) ms.*/\1/p' <<<"$out" | head -1) "
      cpu+="$(sed -n 's/.*CPU \([0-9.]*\) % of one core.*/\1/p' <<<"$out") "
    done
    echo "| $label | $n | $off | $worst | $late | $passed | $latest | ${heard% } | ${cpu% } |"
  done
  echo
  ((changes > 0)) && decisions "$1"
}

decisions() { # decisions LOAD
  echo "#### $server, $1: $changes decisions per case"
  echo
  echo "| case | ticks | missing | extra | off > 1 sample | clicks decided before a Stop heard up to (ms) | ...before a tempo change (ms) | the output's delay |"
  echo "|---|---|---|---|---|---|---|---|"
  for c in "${cases[@]}"; do
    read -r tempo meter text <<<"$c"
    local args=(--tempo "$tempo" --meter "$meter" --server "$server" --changes "$changes")
    [[ $text != - ]] && args+=(--text "$text")
    local label="$tempo/$meter"
    [[ $text != - ]] && label="'$text'@$tempo"
    out=$("$timing" "${args[@]}" 2>&1)
    read -r ticks missing extra <<<"$(sed -n 's/.*ticks \([0-9]*\), clicks found [0-9]*: missing \([0-9]*\), extra \([0-9]*\).*/\1 \2 \3/p' <<<"$out")"
    off=$(sed -n 's/.*intervals off by more than 1 sample: \([0-9]*\).*/\1/p' <<<"$out")
    read -r stop tempo_change <<<"$(sed -n 's/.*heard up to \([0-9.]*\) ms after a Stop, \([0-9.]*\) ms.*/\1 \2/p' <<<"$out")"
    delay=$(sed -n 's/.*sink \([0-9.]*\) ms (max \([0-9.]*\)).*/\1 ms (max \2)/p; s/.*graph: cycle [0-9]* frames, delay \([0-9.]*\) ms.*/\1 ms/p' <<<"$out" | head -1)
    echo "| $label | $ticks | $missing | $extra | $off | $stop | $tempo_change | $delay |"
  done
  echo
}

if [[ $load == quiet || $load == both ]]; then table quiet; fi
if [[ $load == hogs || $load == both ]]; then
  yes >/dev/null & hogs+=($!)
  yes >/dev/null & hogs+=($!)
  table "two CPU hogs"
fi

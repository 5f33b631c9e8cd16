#!/usr/bin/env bash
# Whose thread held a PipeWire graph cycle up: bench/click_timing on a private
# PipeWire session, with pw-play playing silence at the same quantum beside it
# and pw-profiler recording every cycle. Prints click_timing's figures, then
# the cycles whose period strayed more than 1.5 ms from the quantum and every
# node that finished more than 3 ms into a cycle or did not finish, by name.
#
#   bench/graph_profile.sh [--hogs N] [click_timing options]
#
# e.g. bench/graph_profile.sh --hogs 2 --tempo 240 --meter tuplets --text 9 --seconds 60
# --hogs N runs N `yes > /dev/null` beside it. Run as root on a Debian machine.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
log_tag=graph_profile
# shellcheck source=session.sh
source "$here/session.sh"
need_session pipewire
need pw-profiler pipewire-bin

hogs=0
keep=0
if [[ ${1:-} == --hogs ]]; then
  hogs=${2:?}
  shift 2
fi
seconds=40
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [[ ${args[i]} == --seconds ]] && seconds=${args[i + 1]}
done
((seconds >= 10)) || die "--seconds: at least 10"
timing="$repo/build/default/bench/click_timing"
[[ -x $timing ]] || die "no $timing: build first (make)"

session_begin graph_profile
for ((i = 0; i < hogs; i++)); do
  yes >/dev/null &
  pids+=($!)
done
# A second of silence per second played, and some to spare.
python3 - "$work/silence.wav" "$seconds" <<'EOF'
import struct, sys
rate, n = 48000, 48000 * (int(sys.argv[2]) + 10)
with open(sys.argv[1], "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + 2 * n) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16) + b"data" + struct.pack("<I", 2 * n))
    f.write(bytes(2 * n))
EOF

before=$(ls -d /tmp/pendlo-pipewire-* 2>/dev/null | sort)
"$timing" --server pipewire "${args[@]}" >"$work/timing.out" 2>&1 &
timing_pid=$!
pids+=("$timing_pid")
dir=
for ((i = 0; i < 200; i++)); do
  dir=$(comm -13 <(echo "$before") <(ls -d /tmp/pendlo-pipewire-* 2>/dev/null | sort) | head -1)
  [[ -n $dir && -S $dir/runtime/pipewire-0 ]] && break
  sleep 0.05
done
[[ -n $dir ]] || die "click_timing started no PipeWire session"
sleep 3  # its stream and recorder are linked by then
export PIPEWIRE_RUNTIME_DIR="$dir/runtime" XDG_RUNTIME_DIR="$dir/runtime"
PIPEWIRE_LATENCY=1024/48000 pw-play "$work/silence.wav" &
pids+=($!)
(cd "$work" && timeout $((seconds - 4)) pw-profiler -o "$work/profiler.log" >/dev/null 2>&1) &
pids+=($!)
sleep 1
# The nodes' names, while the session lives.
names=$(pw-dump 2>/dev/null | python3 -c '
import json, sys
for o in json.load(sys.stdin):
    p = (o.get("info") or {}).get("props") or {}
    if o.get("type", "").endswith("Node"): print(o["id"], p.get("node.name", "?"))' 2>/dev/null)
wait "$timing_pid"
cat "$work/timing.out"

# pw-profiler's columns: the period, the driver's end date, its delay, the
# estimated period; then 8 per node: id, two stamps, end date, scheduling
# latency, duration, status (3: finished), and one more.
echo "graph cycles (pw-profiler, $(wc -l <"$work/profiler.log") cycles):"
awk -v names="$names" '
  BEGIN { n = split(names, line, "\n"); for (i = 1; i <= n; i++) { split(line[i], p, " "); name[p[1]] = p[2] } }
  { if ($1 > $4 + 1500 || $1 < $4 - 1500) { strayed++; if ($1 > longest) longest = $1 }
    for (k = 5; k + 7 <= NF; k += 8) {
      id = $k; who = (id in name) ? name[id] : "node " id
      seen[who] = 1
      if ($(k + 6) != 3) unfinished[who]++
      else if ($(k + 3) > 3000) { late[who]++; if ($(k + 3) > latest[who]) latest[who] = $(k + 3) }
    } }
  END {
    printf "  nodes:"; for (w in seen) printf " %s", w; printf "\n"
    printf "  periods more than 1.5 ms off the quantum: %d (longest %.1f ms)\n", strayed, longest / 1000
    for (w in late) printf "  %s: finished more than 3 ms into %d cycles (latest %.1f ms)\n", w, late[w], latest[w] / 1000
    for (w in unfinished) printf "  %s: did not finish in %d cycles\n", w, unfinished[w]
  }' "$work/profiler.log"

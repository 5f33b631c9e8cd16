#!/usr/bin/env bash
# Pendlo and a packaged peer metronome (GTick) side by side, in one run, on
# one private sound server (PulseAudio, or a PipeWire session reached through
# pipewire-pulse) with a 48 kHz null sink, both windows under
# one Xvfb. For each program: click interval error against the exact beat
# spacing (from a recording of the sink's monitor), the stream latency the
# server reports, CPU use while it plays, start-up time to a mapped window
# and memory; and at rest (never started, and stopped after playing): the
# wake-ups, the CPU of the program and of the server, and the sink's state.
# Writes docs/performance-pulse.md and .png (with --server
# pipewire: docs/performance-pipewire.md and .png); docs/performance.md
# sums both up.
#
#   bench/peers/run.sh [--seconds 60] [--bpm 120] [--launches 5]
#                      [--rest-seconds 20] [--server pulse|pipewire]
#                      [--binary PATH] [--build] [--docs DIR] [--keep]
#
# Run as root on a Debian machine: missing tools (gtick, xdotool, gnuplot,
# Xvfb, xev, the sound server) are installed with apt-get. Everything it starts
# is ended on exit, also on Ctrl-C.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
command_line="bench/peers/run.sh${*:+ $*}"

seconds=60
bpm=120
launches=5
binary="$repo/build/default/src/app/pendlo"
build=0
docs="$repo/docs"
keep=0
rate=48000
server=pulse
rest_seconds=20

usage() {
  sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while (($#)); do
  case "$1" in
    --seconds) seconds=${2:?}; shift 2 ;;
    --bpm) bpm=${2:?}; shift 2 ;;
    --launches) launches=${2:?}; shift 2 ;;
    --rest-seconds) rest_seconds=${2:?}; shift 2 ;;
    --server) server=${2:?}; shift 2 ;;
    --binary) binary=$(realpath "${2:?}"); shift 2 ;;
    --build) build=1; shift ;;
    --docs) docs=$(realpath -m "${2:?}"); shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) usage ;;
    *) echo "unknown option: $1" >&2; usage ;;
  esac
done
[[ $seconds =~ ^[0-9]+$ ]] && ((seconds >= 10)) || { echo "--seconds: a whole number >= 10" >&2; exit 2; }
# GTick's speed range is 30 to 250; both programs play the same tempo.
[[ $bpm =~ ^[0-9]+$ ]] && ((bpm >= 30 && bpm <= 250)) || { echo "--bpm: 30 to 250" >&2; exit 2; }
[[ $launches =~ ^[0-9]+$ ]] && ((launches >= 1)) || { echo "--launches: at least 1" >&2; exit 2; }
[[ $rest_seconds =~ ^[0-9]+$ ]] && ((rest_seconds >= 5)) || { echo "--rest-seconds: a whole number >= 5" >&2; exit 2; }
[[ $server == pulse || $server == pipewire ]] || { echo "--server: pulse or pipewire" >&2; exit 2; }

log_tag=peers
# shellcheck source=../session.sh
source "$here/../session.sh"

# --- tools --------------------------------------------------------------

need_session "$server"
need parec pulseaudio-utils
need gnuplot gnuplot-nox
need gtick gtick
need python3 python3

if ((build)) || [[ ! -x $binary ]]; then
  log "building pendlo"
  (cd "$repo" && { [[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null; } &&
    cmake --build --preset default --target pendlo -j2 >/dev/null) || die "build failed"
  binary="$repo/build/default/src/app/pendlo"
fi
[[ -x $binary ]] || die "no pendlo binary at $binary"
graph_record="$repo/build/default/bench/graph_record"
if [[ $server == pipewire && ! -x $graph_record ]]; then
  log "building graph_record"
  (cd "$repo" && { [[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null; } &&
    cmake --build --preset default --target graph_record -j2 >/dev/null) || die "build failed"
fi

# Where a button's centre lies in Pendlo's window, from the fixed layout
# (the layout's own place when it cannot be read).
button_centre() { # button_centre NAME LEFT TOP: prints "x y"
  local left top width height
  read -r left top width height < <(
    grep "{\"$1\"," "$repo/src/ui/window/window_description.h" | tr -d '{}' |
      awk -F, '{print $4+0, $5+0, $6+0, $7+0}')
  ((width > 0)) || { left=$2 top=$3 width=80 height=30; }
  echo $((left + width / 2)) $((top + height / 2))
}
read -r pendlo_start_x pendlo_start_y < <(button_centre btnStart 368 96)
read -r pendlo_stop_x pendlo_stop_y < <(button_centre btnStop 368 128)
# GTick 0.5's window: the Start button sits centred under the meter row.
gtick_start_x=213
gtick_start_y=254

# --- processes ----------------------------------------------------------

session_begin peers
start_session_bus

start_sound_server "$server"
# As on every PulseAudio desktop, a sink idle for 5 s is suspended (on
# PipeWire, WirePlumber does the same for its nodes).
[[ $server == pulse ]] && pactl load-module module-suspend-on-idle >/dev/null
server_name=$(pactl info | sed -n 's/^Server Name: //p')
pipewire_note=""
[[ $server == pipewire ]] && pipewire_note="- **On PipeWire.** Pendlo plays through PipeWire's own protocol, rendering each click into
  the graph's cycle that holds its frame (it asks for a 256/$rate quantum, which the graph of
  this private session gives); GTick through pipewire-pulse. The recording is made on the
  graph's own timeline: a cycle the graph ran without the recorder stays silent instead of
  pulling the rest earlier, as it would with parec. A click whose cycle the graph ran without
  Pendlo (the machine stalled longer than a cycle) comes at the start of Pendlo's next cycle,
  late by up to the stall. pipewire-pulse reports Buffer and Sink Latency as 0, so GTick's
  latency is not known here."
if [[ $server == pulse ]]; then
  server_label=PulseAudio server_setup='`pulseaudio`' report=performance-pulse
else
  server_label=PipeWire report=performance-pipewire
  server_setup='`pipewire`, `wireplumber` (with its device monitors off) and `pipewire-pulse`'
fi

start_screen

# --- the two programs ---------------------------------------------------

# A fresh directory for one launch: Pendlo keeps its data files next to its
# executable, so it runs from a copy there; GTick reads ~/.gtickrc.
prepare() { # prepare NAME DIR
  local name=$1 dir=$2
  rm -rf "$dir" && mkdir -p "$dir/home" "$dir/config"
  case $name in
    pendlo)
      cp "$binary" "$dir/pendlo"
      # tempo, meter item ("4" is index 3), window left and top
      printf '%d\r\n3\r\n10\r\n20\r\n' "$bpm" >"$dir/init.sav"
      ;;
    gtick)
      cat >"$dir/home/.gtickrc" <<EOF
SampleFilename = <default>
SoundDevice = /dev/dsp
MinBPM = 30
MaxBPM = 250
Speed = $bpm
Volume = 100
Meter = 4
ShowAccentTable = 0
Accents = 1000
ShowProfiles = 0
ProfileSelected = 1
VisualTick = 0
EOF
      ;;
  esac
}

launched_pid=0
launched_at=0
launch() { # launch NAME DIR: sets launched_pid and launched_at
  local name=$1 dir=$2 exe
  case $name in
    pendlo) exe="$dir/pendlo" ;;
    gtick) exe=$(command -v gtick) ;;
  esac
  launched_at=$EPOCHREALTIME
  env HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/home/.local/share" \
    QT_QPA_PLATFORM=xcb \
    "$exe" </dev/null >"$dir/out.log" 2>&1 &
  launched_pid=$!
  pids+=("$launched_pid")
}

ms_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", (b - a) * 1000 }'; }

# Start-up: launch, wait for the mapped window, end. Alternating the programs
# spreads the machine's noise over them. The figure compared is the usual
# start, each program's files already there: GTick's ~/.gtickrc, Pendlo's
# data files as its first start in an empty directory left them. That first
# start (which writes the click images and syncs them to disk) is timed too.
measured_ms=0
measure_start() { # measure_start NAME DIR: sets measured_ms, from exec to MapNotify
  local at
  launch "$1" "$2"
  at=$(map_stamp "$launched_pid" "$launched_at") || die "$1 mapped no window (see $2/out.log)"
  stop_pid "$launched_pid"
  measured_ms=$(ms_between "$launched_at" "$at")
}
declare -A startups
first_starts=""
log "start-up: $launches launches of each (and of Pendlo's first start)"
for ((n = 0; n < launches; n++)); do
  prepare pendlo "$work/startup-pendlo"
  measure_start pendlo "$work/startup-pendlo"
  first_starts+="$measured_ms "
  sleep 0.5
  for name in pendlo gtick; do
    dir="$work/startup-$name"
    [[ $name == gtick ]] && prepare gtick "$dir"
    measure_start "$name" "$dir"
    startups[$name]+="$measured_ms "
    sleep 0.5
  done
done

clk_tck=$(getconf CLK_TCK)

cpu_ticks() { # utime + stime of the whole process (all its threads)
  local stat fields
  stat=$(<"/proc/$1/stat") || return 1
  read -ra fields <<<"${stat##*) }"
  echo $((fields[11] + fields[12]))
}

server_ticks() { # utime + stime of the sound server's daemons together
  local total=0 p
  for p in "${server_pids[@]}"; do total=$((total + $(cpu_ticks "$p" || echo 0))); done
  echo $total
}
cpu_ns() { # the run time of all its threads, from schedstat, in ns
  local total=0 t a b
  for t in /proc/"$1"/task/*/schedstat; do
    read -r a b <"$t" 2>/dev/null && total=$((total + a))
  done
  echo "$total"
}

thread_ns() { # thread_ns PID: "tid ns name" for each thread
  local t tid a b name
  for t in /proc/"$1"/task/*; do
    tid=${t##*/}
    read -r a b <"$t/schedstat" 2>/dev/null || continue
    name=$(<"$t/comm") 2>/dev/null || continue
    echo "$tid $a ${name// /_}"
  done
}

# Which threads the CPU went to: "name 1.23 %, ..." from two thread_ns
# snapshots over SECONDS, busiest first.
thread_split() { # thread_split BEFORE AFTER SECONDS
  awk -v s="$3" 'NR == FNR { ns[$1] = $2; next }
    { d = $2 - (($1 in ns) ? ns[$1] : 0); printf "%.3f %s\n", d / 1e9 / s * 100, $3 }' "$1" "$2" |
    sort -rn | awk '$1 >= 0.005 { printf "%s%s %.2f %%", (n++ ? ", " : ""), $2, $1 }'
}

measure() { # measure NAME: plays for $seconds and writes $work/NAME.env
  local name=$1 dir="$work/run-$1" window pid parec_pid x y t0 t1 t2 t3 c0 c1 n0 n1 s0 s1 k=0 now left
  local recorder_alive
  prepare "$name" "$dir"
  launch "$name" "$dir"
  pid=$launched_pid
  window=$(window_of "$pid") || die "$name showed no window (see $dir/out.log)"
  # The idle null sink hands out its first buffers in large blocks: let it
  # and the program settle before recording.
  sleep 2.5
  # One channel of the sink's two equal ones, not a fold-down: PipeWire's
  # adds 3 dB and would clip the loudest clicks.
  # On PipeWire its pulse service drops whole cycles from a recording when
  # the graph stalls: a recorder on the graph's own timeline keeps them.
  if [[ $server == pipewire ]]; then
    "$graph_record" "$sink" $((seconds + 60)) $rate >"$work/$name.raw" 2>"$work/$name.parec.log" &
  else
    parec --raw --format=s16le --rate=$rate --channels=1 --channel-map=front-left \
      -d "$sink.monitor" --latency-msec=20 \
      >"$work/$name.raw" 2>"$work/$name.parec.log" &
  fi
  parec_pid=$!
  pids+=("$parec_pid")
  sleep 0.5
  if [[ $name == pendlo ]]; then x=$pendlo_start_x y=$pendlo_start_y; else x=$gtick_start_x y=$gtick_start_y; fi
  xdotool mousemove --window "$window" "$x" "$y" click 1
  log "$name plays at $bpm BPM for ${seconds}s"
  sleep 2
  t0=$EPOCHREALTIME
  while :; do
    pactl list sink-inputs >"$work/$name.sink-inputs.$k" 2>/dev/null
    echo "$EPOCHREALTIME $(stat -c %s "$work/$name.raw")" >>"$work/$name.progress"
    k=$((k + 1))
    now=$EPOCHREALTIME
    left=$(awk -v a="$t0" -v b="$now" -v s="$seconds" 'BEGIN { l = s - (b - a); print (l > 2 ? 2 : l) }')
    awk -v l="$left" 'BEGIN { exit !(l > 0) }' || break
    sleep "$left"
  done
  t1=$EPOCHREALTIME
  kill -0 "$parec_pid" 2>/dev/null && recorder_alive=1 || recorder_alive=0
  # The CPU is measured once the recorder and the polling are gone: a
  # recorder of the sink's monitor is woken at every block the sink
  # renders, and so costs the server more for a stream that asks for short
  # blocks; a listener has none.
  stop_pid "$parec_pid" INT
  sleep 1
  thread_ns "$pid" >"$work/$name.threads0"
  c0=$(cpu_ticks "$pid") n0=$(cpu_ns "$pid") s0=$(server_ticks) t2=$EPOCHREALTIME
  sleep "$seconds"
  c1=$(cpu_ticks "$pid") n1=$(cpu_ns "$pid") s1=$(server_ticks) t3=$EPOCHREALTIME
  thread_ns "$pid" >"$work/$name.threads1"
  kill -0 "$pid" 2>/dev/null || die "$name ended while playing (see $dir/out.log)"
  {
    echo "window_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')"
    echo "cpu_pct=$(awk -v c=$((c1 - c0)) -v h="$clk_tck" -v a="$t2" -v b="$t3" 'BEGIN { printf "%.3f", c / h / (b - a) * 100 }')"
    echo "server_cpu_pct=$(awk -v c=$((s1 - s0)) -v h="$clk_tck" -v a="$t2" -v b="$t3" 'BEGIN { printf "%.3f", c / h / (b - a) * 100 }')"
    echo "cpu_sched_pct=$(awk -v c=$((n1 - n0)) -v a="$t2" -v b="$t3" 'BEGIN { printf "%.3f", c / 1e9 / (b - a) * 100 }')"
    echo "threads=$(ls "/proc/$pid/task" | wc -l)"
    echo "thread_split='$(thread_split "$work/$name.threads0" "$work/$name.threads1" \
      "$(awk -v a="$t2" -v b="$t3" 'BEGIN { print b - a }')" | tr -d "'")'"
    awk '/^VmRSS|^VmHWM/ { printf "%s_kb=%s\n", tolower(substr($1, 1, length($1) - 1)), $2 }' "/proc/$pid/status"
    awk '/^Pss:/ { printf "pss_kb=%s\n", $2 }' "/proc/$pid/smaps_rollup"
    python3 "$here/analyze.py" latency "$work/$name".sink-inputs.* --pid "$pid"
    echo "recorder_alive=$recorder_alive"
  } >"$work/$name.env"
  stop_pid "$pid"
  python3 "$here/analyze.py" clicks "$work/$name.raw" --bpm "$bpm" --rate $rate \
    --csv "$work/$name.csv" >>"$work/$name.env"
}

# A recording that stopped short (the recorder lost its stream on a busy
# machine) or holds no clicks is made once more; the report says so.
measured() { # measured NAME: 0 when the recording covers the window with clicks
  local recorded clicks window
  recorded=$(sed -n 's/^recorded_s=//p' "$work/$1.env")
  clicks=$(sed -n 's/^clicks=//p' "$work/$1.env")
  window=$(sed -n 's/^window_s=//p' "$work/$1.env")
  awk -v r="${recorded:-0}" -v c="${clicks:-0}" -v w="${window:-1}" 'BEGIN { exit !(r >= w && c >= 3) }'
}
declare -A attempts
for name in pendlo gtick; do
  for ((attempt = 1; ; attempt++)); do
    measure "$name"
    attempts[$name]=$attempt
    measured "$name" && break
    log "$name: the recording is short or has no clicks ($(grep -E '^(recorded_s|clicks|recorder_alive)=' "$work/$name.env" | tr '\n' ' '))"
    ((attempt < 2)) || { log "$name: reporting the failed recording"; break; }
    mkdir -p "$work/attempt$attempt" && mv "$work/$name".* "$work/attempt$attempt/"
  done
done

# --- at rest ------------------------------------------------------------

wakeups() { # context switches of all its threads, voluntary or not
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { n += $2 } END { print n + 0 }'
}
sink_state() { pactl list sinks short 2>/dev/null | awk -v s="$sink" '$2 == s { print $7 }'; }

# A program left open: launched (and, for "stopped", played 3 s and
# stopped), left 5 s, then measured over --rest-seconds; the sink's state
# at the end. Writes $work/rest-KEY.env.
measure_rest() { # measure_rest KEY NAME PLAYED
  local key=$1 name=$2 played=$3 dir="$work/rest-$1" pid window w0 w1 c0 c1 s0 s1 t0 t1
  prepare "$name" "$dir"
  launch "$name" "$dir"
  pid=$launched_pid
  window=$(window_of "$pid") || die "$name showed no window (see $dir/out.log)"
  if ((played)); then
    xdotool mousemove --window "$window" "$pendlo_start_x" "$pendlo_start_y" click 1
    sleep 3
    xdotool mousemove --window "$window" "$pendlo_stop_x" "$pendlo_stop_y" click 1
  fi
  sleep 5
  w0=$(wakeups "$pid") c0=$(cpu_ticks "$pid") s0=$(server_ticks) t0=$EPOCHREALTIME
  sleep "$rest_seconds"
  w1=$(wakeups "$pid") c1=$(cpu_ticks "$pid") s1=$(server_ticks) t1=$EPOCHREALTIME
  {
    echo "wakeups_per_s=$(awk -v n=$((w1 - w0)) -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", n / (b - a) }')"
    echo "own_ticks=$((c1 - c0))"
    echo "server_ticks=$((s1 - s0))"
    echo "sink=$(sink_state)"
  } >"$work/rest-$key.env"
  stop_pid "$pid"
  sleep 1
}
log "at rest: ${rest_seconds}s each, after 5 s"
measure_rest never pendlo 0
measure_rest stopped pendlo 1
measure_rest gtick gtick 0

# --- report -------------------------------------------------------------

median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
range() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "–" hi }'; }

# Each program's figures as P_name (pendlo) and G_name (gtick).
load() { # load PREFIX FILE
  local key value
  while IFS='=' read -r key value; do
    [[ $key =~ ^[a-z_0-9]+$ ]] || continue
    value=${value#\'} value=${value%\'}
    printf -v "$1_$key" '%s' "$value"
  done <"$2"
}
load P "$work/pendlo.env"
load G "$work/gtick.env"
load RN "$work/rest-never.env"
load RS "$work/rest-stopped.env"
load RG "$work/rest-gtick.env"
P_startup_ms=$(median "${startups[pendlo]}") P_startup_range=$(range "${startups[pendlo]}")
G_startup_ms=$(median "${startups[gtick]}") G_startup_range=$(range "${startups[gtick]}")
P_first_start_ms=$(median "$first_starts") P_first_start_range=$(range "$first_starts")

f() { # f VALUE [DECIMALS]: a number for the tables, "—" when missing
  local v=${1:-} d=${2:-2}
  [[ -z $v || $v == nan ]] && { echo "—"; return; }
  v=$(awk -v v="$v" -v d="$d" 'BEGIN { printf "%.*f", d, v }')
  [[ $v =~ ^-[0.]+$ ]] && v=${v#-} # no "-0.000"
  echo "$v"
}
mib() { [[ -n ${1:-} ]] && awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }' || echo "—"; }
le() { awk -v a="${1:-nan}" -v b="${2:-nan}" 'BEGIN { exit !(a == a + 0 && b == b + 0 && a <= b) }'; }
verdict() { if "$@"; then echo "met"; else echo "**not met**"; fi; }

mkdir -p "$docs"
# How long a decision (Stop, a new tempo) takes to be heard. GTick appends
# its sound to its stream, so it waits behind the whole buffer. Pendlo queues
# each click its lookahead before it is due and places it on its frame, and
# a decision takes back every click the output has not yet begun: it is
# heard once what the output already holds has played. On PulseAudio it
# keeps its stream's queue full of silence and writes each click into it
# ahead of where the sink reads; a take-back rewrites the queue from a write
# margin beyond that: margin + sink. On PipeWire it renders into the graph's
# cycles through PipeWire's own protocol; a take-back reaches every cycle not
# yet taken up: one cycle (the quantum it asks for, which the graph of this
# private session gives), and the null sink reports no delay.
# bench/click_timing --changes measures it. PipeWire's pulse service reports
# no latency for GTick's stream.
constant() { sed -n "s/.*Micros $1 = \([0-9]*\);.*/\1/p" "$repo/src/sound/player/click_player.h" | head -1; }
margin=$(constant wakeMarginMicros)
if [[ $server == pipewire ]]; then
  quantum=$(sed -n 's/.*constexpr int kQuantum = \([0-9]*\);.*/\1/p' "$repo/src/sound/output/pipewire/pipewire_backend.cpp" | head -1)
  P_lead_ms=$(awk -v q="${quantum:-0}" -v m="${margin:-0}" -v r=$rate 'BEGIN { printf "%.1f", q * 1000 / r + m / 1000 }')
  P_reach_ms=$(awk -v q="${quantum:-0}" -v r=$rate 'BEGIN { printf "%.1f", q * 1000 / r }')
  P_sink_ms=0 G_buffer_ms=nan G_sink_ms=nan
  heard_limit=25
else
  P_lead_ms=$(awk -v m="${margin:-0}" -v w="$(constant queueMarginMicros)" 'BEGIN { printf "%.1f", (m + w + 2000) / 1000 }')
  P_reach_ms=$(awk -v q="$(constant queueMarginMicros)" 'BEGIN { printf "%.1f", q / 1000 }')
  heard_limit=35
fi
P_click_ms=$(awk -v a="${P_reach_ms:-0}" -v b="${P_sink_ms:-0}" 'BEGIN { printf "%.1f", a + b }')
G_click_ms=$(f "$(awk -v a="${G_buffer_ms:-0}" -v b="${G_sink_ms:-0}" 'BEGIN { print a + b }')" 1)
printf '%s %s %s\n' Pendlo "$P_lead_ms" "${P_sink_ms:-0}" GTick "${G_buffer_ms:-0}" "${G_sink_ms:-0}" \
  >"$work/latency.dat"
for name in pendlo gtick; do [[ -s $work/$name.csv ]] || echo "0 0 0" >"$work/$name.csv"; done
gnuplot <<EOF || die "gnuplot failed"
set terminal pngcairo size 900,720 font "Sans,10"
set output "$docs/$report.png"
set multiplot layout 2,1 title "Pendlo and GTick at $bpm BPM on one $server_label null sink ($rate Hz)"
set title "Interval error against the exact spacing (first interval after Start left out)"
set xlabel "time since the second click (s)"
set ylabel "error (ms)"
set grid
set key top right
sample = 1000.0 / $rate
plot sample with lines dt 2 lc rgb "#888888" title "±1 sample", \
     -sample with lines dt 2 lc rgb "#888888" notitle, \
     "$work/pendlo.csv" using 1:2 with linespoints pt 7 ps 0.5 lc rgb "#1f77b4" title "Pendlo", \
     "$work/gtick.csv" using 1:2 with linespoints pt 5 ps 0.5 lc rgb "#d62728" title "GTick"
set title "From a decided click to the sink: Pendlo's lookahead or GTick's stream buffer, then the sink (median)"
set xlabel ""
set ylabel "ms"
set style data histograms
set style histogram rowstacked
set style fill solid 0.8 border -1
set boxwidth 0.5
set yrange [0:*]
set offsets 0, 0, graph 0.12, 0
set key top left
plot "$work/latency.dat" using 2:xtic(1) title "written ahead (Pendlo) / Buffer Latency (GTick)" lc rgb "#2ca02c", \
     "" using 3 title "Sink Latency" lc rgb "#9467bd", \
     "" using 0:(\$2 + \$3):(sprintf("%.1f + %.1f ms", \$2, \$3)) with labels offset 0,1 notitle
unset multiplot
EOF

commit=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)
git -C "$repo" diff --quiet HEAD -- src 2>/dev/null || commit+=" (with uncommitted changes in src/)"
cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
get() { local v="${p}_$1"; echo "${!v:-}"; } # a figure of the program whose prefix is $p
row_timing() { # row_timing NAME PREFIX
  local p=$2
  echo "| $1 | $(get intervals) | $(f "$(get mean_ms)" 3) | $(f "$(get sd_ms)" 3) | $(f "$(get p99_ms)" 3) | $(f "$(get max_ms)" 3) | $(f "$(get max_samples)" 1) | $(get over_1_sample) | $(get missing) |"
}
row_resources() { # row_resources NAME PREFIX
  local p=$2
  echo "| $1 | $(f "$(get buffer_ms)" 1) ($(f "$(get buffer_min_ms)" 1)–$(f "$(get buffer_max_ms)" 1)) | $(f "$(get sink_ms)" 1) | $(f "$(get cpu_pct)" 2) | $(f "$(get cpu_sched_pct)" 2) | $(f "$(get server_cpu_pct)" 2) | $(get startup_ms) ($(get startup_range)) | $(mib "$(get vmrss_kb)") | $(mib "$(get pss_kb)") | $(get threads) |"
}

cat >"$docs/$report.md" <<EOF
# Performance: Pendlo beside GTick

Written by \`bench/peers/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'); do not edit by hand, run the
script again. Both programs were measured in one run, one after the other, on one private
$server_label server (\`--server $server\`: "$server_name") with a null sink at $rate Hz, their windows on one Xvfb screen, each at
**$bpm BPM in 4/4** for **${seconds} s**.

    $command_line

![Interval error over time and stream latency]($report.png)

## Timing

Interval error is each click-to-click interval minus the exact spacing 60000/$bpm ms
($(f "$P_period_samples" 2) samples at $rate Hz). One sample is $(f "$(awk -v r=$rate 'BEGIN { print 1000 / r }')" 4) ms.

| program | intervals | mean (ms) | sd (ms) | p99 \|err\| (ms) | max \|err\| (ms) | max \|err\| (samples) | over 1 sample | missing clicks |
| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |
$(row_timing Pendlo P)
$(row_timing GTick G)

Intervals off by more than one sample or around a missing click (time since the second
click: error in samples): Pendlo: ${P_outliers:-none}. GTick: ${G_outliers:-none}.

## Latency, CPU, start-up, memory

| program | Buffer Latency, ms (min–max) | Sink Latency, ms | CPU, % of one core | CPU from schedstat, % | the sound server's CPU meanwhile, % | start-up to mapped window, ms: median (range) | VmRSS, MiB | PSS, MiB | threads |
| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |
$(row_resources Pendlo P)
$(row_resources GTick G)

## At rest

Each program left open: launched (Pendlo "after Stop": played 3 s, then stopped), left 5 s,
then measured over ${rest_seconds} s. Wake-ups are the context switches of all its threads; ticks are
utime + stime at $clk_tck per second; the sink's state is \`pactl list sinks short\`'s at the end$([[ $server == pulse ]] && echo " (with \`module-suspend-on-idle\` loaded, as on every PulseAudio desktop)").

| program | wake-ups/s | own ticks | server ticks | sink |
| --- | ---: | ---: | ---: | --- |
| Pendlo, never started | ${RN_wakeups_per_s:-—} | ${RN_own_ticks:-—} | ${RN_server_ticks:-—} | ${RN_sink:-—} |
| Pendlo, after Stop | ${RS_wakeups_per_s:-—} | ${RS_own_ticks:-—} | ${RS_server_ticks:-—} | ${RS_sink:-—} |
| GTick, never started | ${RG_wakeups_per_s:-—} | ${RG_own_ticks:-—} | ${RG_server_ticks:-—} | ${RG_sink:-—} |

## Targets

| target | Pendlo | GTick | verdict |
| --- | ---: | ---: | --- |
| every interval within 1 sample | max $(f "${P_max_samples:-}" 1) samples | max $(f "${G_max_samples:-}" 1) samples | $(verdict le "${P_max_samples:-nan}" 1) |
| a decision heard within $heard_limit ms (Pendlo: the take-back's reach + Sink Latency; GTick: Buffer + Sink Latency$([[ $server == pipewire ]] && echo ", not reported by PipeWire's pulse service")) | $P_click_ms ms | $G_click_ms ms | $(verdict le "$P_click_ms" $heard_limit) |
$(if [[ $server == pipewire ]]; then
  echo "| stream latency ≤ 10 ms (Pendlo: the graph's cycle it renders into; GTick: not reported) | $(awk -v q="$quantum" -v r=$rate 'BEGIN { printf "%.1f", q * 1000 / r }') ms | — | $(verdict le "$(awk -v q="$quantum" -v r=$rate 'BEGIN { print q * 1000 / r }')" 10) |"
else
  echo "| stream latency ≤ 10 ms (Buffer Latency, median; max) | $(f "${P_buffer_ms:-}" 1) ms; $(f "${P_buffer_max_ms:-}" 1) ms | $(f "${G_buffer_ms:-}" 1) ms; $(f "${G_buffer_max_ms:-}" 1) ms | $(verdict le "${P_buffer_ms:-nan}" 10)$(le "${P_buffer_ms:-nan}" 10 || echo ": Pendlo's queue holds silence that each click is written into, see Method") |"
fi)
| CPU ≤ the peer's | $(f "${P_cpu_pct:-}" 2) % | $(f "${G_cpu_pct:-}" 2) % | $(verdict le "${P_cpu_pct:-nan}" "${G_cpu_pct:-nan}") |
| CPU with the sound server's meanwhile ≤ the peer's | $(f "$(awk -v a="${P_cpu_pct:-nan}" -v b="${P_server_cpu_pct:-nan}" 'BEGIN { print a + b }')" 2) % | $(f "$(awk -v a="${G_cpu_pct:-nan}" -v b="${G_server_cpu_pct:-nan}" 'BEGIN { print a + b }')" 2) % | $(verdict le "$(awk -v a="${P_cpu_pct:-nan}" -v b="${P_server_cpu_pct:-nan}" 'BEGIN { print a + b }')" "$(awk -v a="${G_cpu_pct:-nan}" -v b="${G_server_cpu_pct:-nan}" 'BEGIN { print a + b }')") |
| start-up ≤ the peer's (usual start) | ${P_startup_ms} ms | ${G_startup_ms} ms | $(verdict le "${P_startup_ms}" "${G_startup_ms}") |

## Machine

- $(nproc) cores ($cpu_model), Linux $(uname -r), $(awk -v k="$(awk '/MemTotal/ { print $2 }' /proc/meminfo)" 'BEGIN { printf "%.0f GiB", k / 1048576 }') memory
- $server_version, null sink at $rate Hz
- Pendlo at commit $commit, binary $(realpath --relative-to="$repo" "$binary" 2>/dev/null || echo "$binary") built $(date -u -r "$binary" '+%Y-%m-%d %H:%M UTC')
- GTick $(dpkg-query -W -f='${Version}' gtick 2>/dev/null) from Debian's packages

## Method

- **Setup.** The script starts $server_setup as a private server (own runtime directory and
  socket, \`module-null-sink rate=$rate\`), one \`Xvfb\` screen and a session bus
  (\`dbus-daemon --session\`, as every desktop session has), and ends them, the programs
  and the recorder on exit. Pendlo runs from a copy of its binary in a fresh directory, so its
  data files ("init.sav" with $bpm BPM and meter 4, the click images) are made there; GTick runs
  with a fresh home whose \`~/.gtickrc\` sets speed $bpm and meter 4/4. No window manager runs.
- **Start.** Each program is launched, left 2.5 s to settle, the recording starts, and
  \`xdotool\` clicks its Start button (Pendlo's at ($pendlo_start_x, $pendlo_start_y) from its fixed
  layout, GTick's at ($gtick_start_x, $gtick_start_y)).
- **Interval error.** $([[ $server == pipewire ]] && echo "\`build/default/bench/graph_record $sink\` (the monitor on the graph's timeline: a cycle the graph ran without the recorder stays silent instead of pulling the rest of the recording earlier), 16-bit mono; on PulseAudio ")\`parec --raw --format=s16le --rate=$rate --channels=1 --channel-map=front-left -d $sink.monitor\`
  records the sink's monitor from just before Start to the end of the run. An onset is where the
  rectified signal first reaches 10 % of the recording's peak, refined linearly between the two
  samples around the crossing, with a refractory gap of min(50 ms, a quarter beat). Accent and
  plain clicks are told apart by their waveform; since two different sounds cross the threshold
  at different points of their shape, each sound's constant offset (half the difference of the
  median plain→accent and accent→plain errors) is taken out before the intervals are compared:
  the offsets, in samples per sound, were \`${P_kind_offsets:-}\` for Pendlo and
  \`${G_kind_offsets:-}\` for GTick. The first interval after Start is left
  out of the statistics (it shows how each program opens its stream: Pendlo
  $(f "${P_first_interval_ms:-}" 2) ms, GTick $(f "${G_first_interval_ms:-}" 2) ms).
- **Latency.** \`pactl list sink-inputs\` every 2 s during the run; the sink input whose
  \`application.process.id\` is the program's; median of "Buffer Latency" (what the stream
  itself holds) and "Sink Latency" (the sink's part). The two programs use their streams
  differently: GTick appends each click to its stream, so a click is heard after the whole
  Buffer Latency and the Sink Latency. Pendlo keeps about 0.7 s of silence queued in
  the server and writes each click into that queue on its own frame, ahead of where the sink
  reads; a click is handed over its lookahead ($P_lead_ms ms, a constant of the program)
  before it is due, and a tempo change or Stop takes back every click not yet begun, so it
  is heard after the take-back's reach ($P_reach_ms ms) and the Sink Latency; its Buffer
  Latency is that silence, which delays nothing.
- **CPU.** utime + stime from \`/proc/PID/stat\` (all threads of the process) over a window
  of ${seconds} s after the recording, as % of one core: the program plays on, and the recorder
  and the latency polling stopped 1 s before the window (a recorder of the sink's monitor is
  woken at every block the sink renders, so beside a stream that asks for short blocks it
  costs the server more; a listener runs none). The schedstat column sums
  \`/proc/PID/task/*/schedstat\` run times (nanosecond resolution) over the same window; the
  server's column is its daemons' utime + stime over it.
  Where the CPU went, per thread (threads under 0.005 % left out): Pendlo ${P_thread_split:-—}; GTick ${G_thread_split:-—}.
  Pendlo's two indicator bars flash on every beat; GTick's visual tick is off, as it comes.
- **Start-up.** Launches of each program: $launches, alternating: the time from just before
  \`exec\` to the X server's MapNotify for its top-level window (seen by
  \`xev -root -event substructure\`, stamped on arrival). The range shows the spread. The figure
  compared is the usual start, with each program's files already there (GTick's \`~/.gtickrc\`,
  Pendlo's data files as its own first start left them). Pendlo's first start in an empty
  directory, which writes its click images and syncs them to disk before it reads its settings,
  took ${P_first_start_ms} ms (median; ${P_first_start_range}).
- **Memory.** VmRSS from \`/proc/PID/status\` and PSS from \`/proc/PID/smaps_rollup\` at the end
  of the run, while the program plays.
- Measurements made: Pendlo ${attempts[pendlo]}, GTick ${attempts[gtick]} (a second one only when
  the first recording stopped short of the window or held no clicks).
- The machine is a shared 2-core virtual machine: other work on it shows as occasional
  underruns of the sound server and in the start-up spread.
$pipewire_note
EOF

log "wrote $docs/$report.md and $docs/$report.png"
cat "$docs/$report.md" | sed -n '/^## Timing/,/^## Machine/p' >&2

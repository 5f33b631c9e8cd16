#!/usr/bin/env bash
# Runs each libFuzzer target of a build for a bounded time.
#   bash fuzz/run.sh <build-dir> <seconds per target>
# New inputs collect in fuzz/corpus-<target>/ (not in git); the committed
# seeds are in fuzz/seeds/<target>/. A crash stops the run with its input
# saved as <build-dir>/fuzz/crash-<target>-*.
set -euo pipefail
build=${1:?usage: run.sh <build-dir> <seconds>}
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)

for target in settings_reader definition_text wav_decoder; do
  bin="$build/fuzz/fuzz_$target"
  [ -x "$bin" ] || { echo "missing $bin: build the fuzz preset first" >&2; exit 1; }
  corpus="$here/corpus-$target"
  mkdir -p "$corpus"
  echo "== fuzz_$target for ${seconds}s"
  log="$build/fuzz/fuzz_$target.log"
  status=0
  "$bin" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz/crash-$target-" \
    "$corpus" "$here/seeds/$target" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz_$target failed ($status); full log: $log" >&2
    exit "$status"
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
done

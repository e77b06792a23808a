#!/usr/bin/env bash
# Times a one-pass check of the benchmark stream read through the transport
# stream demultiplexer against the same check of the elementary stream:
#   check STREAM.ts --format ts   against   check STREAM
# both with --bit-rate 20000000 --buffer-size 20000000 --initial-fill 18000000.
# The transport stream is muxed once, beside the stream, by
#   ffmpeg -fflags +genpts -r 30 -i STREAM -c copy -f mpegts STREAM.ts
# Each command runs once untimed (to warm the page cache), then 5 times,
# alternating; the medians are printed with their ratio (the target: at
# most 1.3).
#
# Usage: bench/ts_bench.sh [STREAM]
#   STREAM defaults to build/bench/bench-stream.264 (made by bench/make-stream);
#   TARNWELL_CLI names the program (default build/bench/tarnwell-cli).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stream=${1:-$root/build/bench/bench-stream.264}
cli=${TARNWELL_CLI:-$root/build/bench/tarnwell-cli}
runs=5

[ -f "$stream" ] || { echo "no stream $stream: run bench/make-stream first" >&2; exit 1; }
[ -x "$cli" ] || { echo "no program $cli: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }
# shellcheck source=bench/ts_bench_lib.sh
source "$root/bench/ts_bench_lib.sh"
ensure_ts "$stream"

settings=(--bit-rate 20000000 --buffer-size 20000000 --initial-fill 18000000)
echo "stream: $stream ($(stat -c %s "$stream") bytes), transport stream $(stat -c %s "$ts") bytes"
es_json=$("$cli" check "$stream" "${settings[@]}" --json 2>/dev/null || true)
ts_json=$("$cli" check "$ts" --format ts "${settings[@]}" --json 2>/dev/null || true)
echo "elementary stream: $es_json"
echo "transport stream:  $ts_json"

es_times=()
ts_times=()
for _ in $(seq "$runs"); do
  es_times+=("$(seconds "$cli" check "$stream" "${settings[@]}")")
  ts_times+=("$(seconds "$cli" check "$ts" --format ts "${settings[@]}")")
done
es=$(printf '%s\n' "${es_times[@]}" | median)
tsm=$(printf '%s\n' "${ts_times[@]}" | median)
printf 'check of the elementary stream  median of %d: %8.3f s\n' "$runs" "$es"
printf 'check of the transport stream   median of %d: %8.3f s\n' "$runs" "$tsm"
awk -v e="$es" -v t="$tsm" 'BEGIN {
  ratio = e > 0 ? t / e : 0
  verdict = (ratio <= 1.3) ? "met" : "NOT met"
  printf "transport stream / elementary stream: %.2f (target: at most 1.3, %s)\n", ratio, verdict
}'

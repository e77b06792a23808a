#!/usr/bin/env bash
# Times tarnwell-cli on the benchmark stream beside ffprobe, which is how users
# usually get picture sizes:
#   1. a one-pass check: check STREAM --bit-rate 20000000 --buffer-size 20000000
#      --initial-fill 18000000
#   2. ffprobe -show_packets STREAM
#   3. a bit-rate search from 0 with the same buffer (--bit-rate 0), and the
#      number of passes it took.
# Each command runs once untimed (to warm the page cache), then 5 times; the
# median wall-clock time is printed. The target: the check at least 2 times
# faster than ffprobe.
#
# Usage: bench/check_bench.sh [STREAM]
#   STREAM defaults to build/bench/bench-stream.264 (made by bench/make-stream);
#   TARNWELL_CLI names the program (default build/bench/tarnwell-cli, from
#   cmake --preset bench && cmake --build --preset bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stream=${1:-$root/build/bench/bench-stream.264}
cli=${TARNWELL_CLI:-$root/build/bench/tarnwell-cli}
runs=5

[ -f "$stream" ] || { echo "no stream $stream: run bench/make-stream first" >&2; exit 1; }
[ -x "$cli" ] || { echo "no program $cli: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }
command -v ffprobe >/dev/null || { echo "ffprobe is not installed" >&2; exit 1; }

now() { date +%s.%N; }

# Median wall-clock seconds of $runs runs of the command, after one warm-up.
# The command's output is discarded; its exit code is not a failure here.
median_seconds() {
  "$@" >/dev/null 2>&1 || true
  for _ in $(seq "$runs"); do
    start=$(now)
    "$@" >/dev/null 2>&1 || true
    end=$(now)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }'
  done | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

settings=(--buffer-size 20000000 --initial-fill 18000000)
echo "stream: $stream ($(stat -c %s "$stream") bytes)"
echo "program: $cli"
echo "one-pass check: $("$cli" check "$stream" --bit-rate 20000000 "${settings[@]}" --json 2>/dev/null || true)"

check=$(median_seconds "$cli" check "$stream" --bit-rate 20000000 "${settings[@]}")
ffprobe_time=$(median_seconds ffprobe -show_packets "$stream")
search=$(median_seconds "$cli" check "$stream" --bit-rate 0 "${settings[@]}")
search_json=$("$cli" check "$stream" --bit-rate 0 "${settings[@]}" --json 2>/dev/null || true)
passes=$(printf '%s\n' "$search_json" | sed -n 's/.*"passes":\([0-9]*\).*/\1/p')

printf 'check, one pass         median of %d: %8.3f s\n' "$runs" "$check"
printf 'ffprobe -show_packets   median of %d: %8.3f s\n' "$runs" "$ffprobe_time"
printf 'bit-rate search from 0  median of %d: %8.3f s  (%s passes)\n' "$runs" "$search" "$passes"
echo "search result: $search_json"
awk -v c="$check" -v f="$ffprobe_time" 'BEGIN {
  ratio = c > 0 ? f / c : 0
  verdict = (ratio >= 2) ? "met" : "NOT met"
  printf "ffprobe / check: %.2f (target: at least 2, %s)\n", ratio, verdict
}'

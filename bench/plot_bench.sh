#!/usr/bin/env bash
# Times tarnwell-cli's check --plot and curve on the benchmark stream beside a
# one-pass check:
#   1. check STREAM --bit-rate 20000000 --buffer-size 20000000 --initial-fill 18000000
#   2. the same with --plot (target: at most 1.1 times 1)
#   3. curve STREAM --csv ... --plot ... over the 16 default rates (target: at most 2 times 1)
#   4. hrd-check STREAM, the Annex C conformance check (target: at most 1.3 times 1)
# Each command runs once untimed (to warm the page cache), then 7 times; the
# medians of the wall-clock time and of the CPU time (user + system, through
# /usr/bin/time) are printed. On a machine others are using, the CPU time is
# the steadier figure.
#
# Usage: bench/plot_bench.sh [STREAM]
#   STREAM defaults to build/bench/bench-stream.264 (bench/make-stream);
#   TARNWELL_CLI names the program (default build/bench/tarnwell-cli).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stream=${1:-$root/build/bench/bench-stream.264}
cli=${TARNWELL_CLI:-$root/build/bench/tarnwell-cli}
runs=7
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

[ -f "$stream" ] || { echo "no stream $stream: run bench/make-stream first" >&2; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "/usr/bin/time is not installed (package time)" >&2; exit 1; }
[ -x "$cli" ] || { echo "no program $cli: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }

# "wall cpu": the medians over $runs runs of the command, after one warm-up.
# The command's output is discarded; its exit code is not a failure here.
medians() {
  "$@" >/dev/null 2>&1 || true
  : >"$out/times"
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S" -o "$out/time" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$out/time" >>"$out/times"
  done
  wall=$(awk '{ print $1 }' "$out/times" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
  cpu=$(awk '{ print $2 + $3 }' "$out/times" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
  echo "$wall $cpu"
}

settings=(--bit-rate 20000000 --buffer-size 20000000 --initial-fill 18000000)
read -r check check_cpu < <(medians "$cli" check "$stream" "${settings[@]}")
read -r plot plot_cpu < <(medians "$cli" check "$stream" "${settings[@]}" --plot "$out/check.svg")
read -r curve curve_cpu < <(medians "$cli" curve "$stream" --csv "$out/curve.csv" --plot "$out/curve.svg")
read -r hrd hrd_cpu < <(medians "$cli" hrd-check "$stream")
echo "stream: $stream ($(stat -c %s "$stream") bytes); check plot $(stat -c %s "$out/check.svg") bytes"
printf 'check, one pass   median of %d: %6.3f s wall, %6.3f s cpu\n' "$runs" "$check" "$check_cpu"
printf 'check --plot      median of %d: %6.3f s wall, %6.3f s cpu\n' "$runs" "$plot" "$plot_cpu"
printf 'curve, 16 rates   median of %d: %6.3f s wall, %6.3f s cpu\n' "$runs" "$curve" "$curve_cpu"
printf 'hrd-check         median of %d: %6.3f s wall, %6.3f s cpu\n' "$runs" "$hrd" "$hrd_cpu"
awk -v c="$check" -v p="$plot" -v k="$curve" -v h="$hrd" -v cc="$check_cpu" -v pc="$plot_cpu" -v kc="$curve_cpu" \
    -v hc="$hrd_cpu" 'BEGIN {
  printf "check --plot / check: wall %.2f, cpu %.2f (target: at most 1.1, %s)\n", p / c, pc / cc, (pc / cc <= 1.1) ? "met" : "NOT met"
  printf "curve / check:        wall %.2f, cpu %.2f (target: at most 2, %s)\n", k / c, kc / cc, (kc / cc <= 2) ? "met" : "NOT met"
  printf "hrd-check / check:    wall %.2f, cpu %.2f (target: at most 1.3, %s)\n", h / c, hc / cc, (hc / cc <= 1.3) ? "met" : "NOT met"
}'

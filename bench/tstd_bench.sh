#!/usr/bin/env bash
# Times the T-STD check of the benchmark stream's transport stream against a
# one-pass check of the same file:
#   tstd-check STREAM.ts   against   check STREAM.ts
# the check with --bit-rate 20000000 --buffer-size 20000000 --initial-fill 18000000.
# The transport stream is muxed once, beside the stream, as bench/ts_bench.sh
# does it:
#   ffmpeg -fflags +genpts -r 30 -i STREAM -c copy -f mpegts STREAM.ts
# An ffmpeg whose raw H.264 reader gives such a stream no timestamps (5.1 with
# B-frames: "first pts and dts value must be set") gets them from the frame
# count instead, decoding order at 30 fps (3000 ticks of the muxer's 90 kHz):
#   ffmpeg -framerate 30 -i STREAM -c copy -bsf:v setts=ts=N*3000 -f mpegts STREAM.ts
# Both run once untimed (to warm the page cache), then take turns for
# TARNWELL_ROUNDS rounds (default 9), the one that goes first changing every
# round, so that a drifting load on a shared machine weighs on both alike;
# the ratio of each round and the medians are printed, with the median ratio
# (the target: at most 1.5). Each run's CPU time (user + system) is printed
# beside its wall-clock time, with the ratio of their medians: on a machine
# shared with other work it moves far less than the wall-clock time.
#
# Usage: bench/tstd_bench.sh [STREAM]
#   STREAM defaults to build/bench/bench-stream.264 (made by bench/make-stream);
#   TARNWELL_CLI names the program (default build/release/tarnwell-cli).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stream=${1:-$root/build/bench/bench-stream.264}
cli=${TARNWELL_CLI:-$root/build/release/tarnwell-cli}
rounds=${TARNWELL_ROUNDS:-9}

[ -f "$stream" ] || { echo "no stream $stream: run bench/make-stream first" >&2; exit 1; }
[ -x "$cli" ] || {
  echo "no program $cli: cmake --preset release && cmake --build --preset release --target tarnwell-cli" >&2
  exit 1
}
# shellcheck source=bench/ts_bench_lib.sh
source "$root/bench/ts_bench_lib.sh"
ensure_ts "$stream"

settings=(--bit-rate 20000000 --buffer-size 20000000 --initial-fill 18000000)
check=("$cli" check "$ts" "${settings[@]}")
tstd=("$cli" tstd-check "$ts")
echo "transport stream: $ts ($(stat -c %s "$ts") bytes)"
echo "check:      $("${check[@]}" --json 2>/dev/null || true)"
echo "tstd-check: $("${tstd[@]}" --json 2>/dev/null || true)"

# Wall-clock and CPU (user + system) seconds of one run, its output and
# failure ignored: "WALL CPU".
timed() {
  local TIMEFORMAT='%3R %3U %3S' times
  times=$({ time "$@" >/dev/null 2>&1 || true; } 2>&1)
  awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }' <<<"$times"
}

check_times=()
tstd_times=()
check_cpu=()
tstd_cpu=()
ratios=()
for round in $(seq "$rounds"); do
  if ((round % 2 == 1)); then
    read -r c c_cpu < <(timed "${check[@]}")
    read -r t t_cpu < <(timed "${tstd[@]}")
  else
    read -r t t_cpu < <(timed "${tstd[@]}")
    read -r c c_cpu < <(timed "${check[@]}")
  fi
  check_times+=("$c")
  tstd_times+=("$t")
  check_cpu+=("$c_cpu")
  tstd_cpu+=("$t_cpu")
  r=$(awk -v c="$c" -v t="$t" 'BEGIN { printf "%.3f\n", (c > 0 ? t / c : 0) }')
  ratios+=("$r")
  printf 'round %2d: check %.4f s (CPU %.4f s), tstd-check %.4f s (CPU %.4f s), ratio %s\n' \
    "$round" "$c" "$c_cpu" "$t" "$t_cpu" "$r"
done
cm=$(printf '%s\n' "${check_times[@]}" | median)
tm=$(printf '%s\n' "${tstd_times[@]}" | median)
ccm=$(printf '%s\n' "${check_cpu[@]}" | median)
tcm=$(printf '%s\n' "${tstd_cpu[@]}" | median)
rm_=$(printf '%s\n' "${ratios[@]}" | median)
printf 'check       median of %d: %8.4f s (CPU %.4f s)\n' "$rounds" "$cm" "$ccm"
printf 'tstd-check  median of %d: %8.4f s (CPU %.4f s)\n' "$rounds" "$tm" "$tcm"
awk -v c="$ccm" -v t="$tcm" 'BEGIN { printf "tstd-check / check, CPU time medians: %.2f\n", (c > 0 ? t / c : 0) }'
awk -v r="$rm_" 'BEGIN {
  verdict = (r <= 1.5) ? "met" : "NOT met"
  printf "tstd-check / check, median of the rounds: %.2f (target: at most 1.5, %s)\n", r, verdict
}'

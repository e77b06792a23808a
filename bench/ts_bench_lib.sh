# Shared by the transport stream benchmarks (sourced, not run): the bench
# stream muxed once into STREAM.ts beside it, and the timing helpers.
#   ffmpeg -fflags +genpts -r 30 -i STREAM -c copy -f mpegts STREAM.ts
# An ffmpeg whose raw H.264 reader gives the stream no timestamps (5.1 with
# B-frames) refuses that command; the frame count gives them instead.

# Sets ts to STREAM.ts, muxing it first when it is not there.
ensure_ts() {
  local stream=$1
  ts="$stream.ts"
  [ -f "$ts" ] && return 0
  command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 1; }
  local quiet=(-hide_banner -loglevel error -nostdin -y)
  if ! ffmpeg "${quiet[@]}" -fflags +genpts -r 30 -i "$stream" -c copy -f mpegts "$ts.part" 2>/dev/null; then
    echo "no timestamps from ffmpeg's reader: taking them from the frame count" >&2
    ffmpeg "${quiet[@]}" -framerate 30 -i "$stream" -c copy -bsf:v "setts=ts=N*3000" -f mpegts "$ts.part"
  fi
  mv "$ts.part" "$ts"
}

now() { date +%s.%N; }
# The seconds a command takes, its output and failure ignored.
seconds() {
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1 || true
  end=$(now)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }'
}
median() { sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

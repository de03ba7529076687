#!/usr/bin/env bash
# Many cuts at once: 100 cuts of 30 s, each from its own 4-minute MP3 (copies of one
# file), made by `clipwren-cut --list` (copied, and encoded anew with --reencode) beside
# sox run once per cut (which encodes anew), all into MP3, in the same session. Prints
# wall time, cuts per second and the ratio to sox, with the machine's load.
#
#   bench/batch/run-batch-bench.sh [BUILD_DIR]
#
# Environment: CLIPWREN_BENCH_CUTS (default 100), CLIPWREN_BENCH_JOBS (default nproc).
set -euo pipefail

build_dir=$(realpath "${1:-build}")
cuts=${CLIPWREN_BENCH_CUTS:-100}
jobs=${CLIPWREN_BENCH_JOBS:-$(nproc)}
cut_tool=$build_dir/tools/clipwren-cut/clipwren-cut
for tool in ffmpeg sox; do command -v "$tool" >/dev/null || { echo "run-batch-bench: $tool is missing" >&2; exit 1; }; done
[ -x "$cut_tool" ] || { echo "run-batch-bench: $cut_tool is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i "anoisesrc=color=pink:duration=240:amplitude=0.2" -f lavfi \
  -i "sine=frequency=440:duration=240" -filter_complex amix=inputs=2 -ac 2 -ar 44100 \
  -c:a libmp3lame -b:a 128k "$work/song.mp3"
mkdir -p "$work/in" "$work/copy" "$work/encoded" "$work/sox"
: > "$work/list.txt"
for i in $(seq 1 "$cuts"); do
  cp "$work/song.mp3" "$work/in/$i.mp3"
  begin=$(( (i * 7) % 200 ))
  printf '%s\t%s\t%s\t%s\n' "$work/in/$i.mp3" "$begin" "$((begin + 30))" "$work/OUT/$i.mp3" >> "$work/list.txt"
done

seconds() { local start end; start=$(date +%s.%N); "$@"; end=$(date +%s.%N); echo "$end - $start" | bc; }
load=$(cut -d' ' -f1 /proc/loadavg)
copy=$(seconds "$cut_tool" --list <(sed "s|/OUT/|/copy/|" "$work/list.txt") -j "$jobs")
encoded=$(seconds "$cut_tool" --list <(sed "s|/OUT/|/encoded/|" "$work/list.txt") -j "$jobs" --reencode)
sox_run() {
  while IFS=$'\t' read -r input begin end output; do
    sox -V1 "$input" "${output/OUT/sox}" trim "$begin" "$((end - begin))"
  done < "$work/list.txt"
}
sox=$(seconds sox_run)
echo "$cuts cuts of 30 s from 4-minute MP3s, -j $jobs, load $load at the start"
printf '%-32s %8s %10s %12s\n' tool "wall s" "cuts/s" "x sox's rate"
for row in "clipwren-cut --list (copied):$copy" "clipwren-cut --list --reencode:$encoded" "sox once per cut:$sox"; do
  name=${row%%:*}; wall=${row##*:}
  printf '%-32s %8.2f %10.1f %12.2f\n' "$name" "$wall" "$(echo "$cuts / $wall" | bc -l)" "$(echo "$sox / $wall" | bc -l)"
done
echo "load $(cut -d' ' -f1 /proc/loadavg) at the end"

#!/usr/bin/env bash
# The cost of fades and loudness normalization on export: a 30 s cut from a 4-minute MP3
# made by clipwren-cut plain and with --fade-in 2 --fade-out 3 --normalize (the piece is
# then decoded twice: once to measure it, once to encode it), to MP3 (encoded anew) and to
# WAV (where the encoder costs little and the measuring shows most). Beside it sox and
# ffmpeg doing the same plain and with their own fades and normalization: sox's `norm`
# (a peak normalization, which also reads the piece twice) and ffmpeg's afade with a
# one-pass loudnorm. Then the normalized MP3 copy: clipwren-cut copying the piece plainly
# and with --normalize (the piece is decoded once to measure it, then its frames are
# copied with their global gain moved), beside the normalization encoded anew and
# ffmpeg's plain stream copy. Runs interleaved, medians of wall and processor time, the
# machine's load at the start and the end.
#
#   bench/shaping/run-shaping-bench.sh [BUILD_DIR]
#
# Environment: CLIPWREN_BENCH_RUNS (runs per tool and case, default 7).
set -euo pipefail

build_dir=$(realpath "${1:-build}")
runs=${CLIPWREN_BENCH_RUNS:-7}
cut_tool=$build_dir/tools/clipwren-cut/clipwren-cut
for tool in ffmpeg sox /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run-shaping-bench: $tool is missing" >&2; exit 1; }
done
[ -x "$cut_tool" ] || { echo "run-shaping-bench: $cut_tool is missing; build clipwren-cut first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i "sine=frequency=330:beep_factor=4:sample_rate=44100:duration=240" \
  -f lavfi -i "anoisesrc=color=pink:amplitude=0.15:sample_rate=44100:duration=240" \
  -filter_complex "[0:a][1:a]amix=inputs=2:duration=first,aformat=channel_layouts=stereo" \
  -c:a libmp3lame -b:a 128k "$work/song.mp3"
begin=120 end=150

# One run: "wall_microseconds cpu_microseconds"; fails the script when the tool fails.
measure() {
  local start stop
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >"$work/out" 2>&1 ||
    { echo "run-shaping-bench: failed: $*" >&2; cat "$work/out" >&2; exit 1; }
  stop=$(date +%s%N)
  tail -n 1 "$work/time" | awk -v wall=$(( (stop - start) / 1000 )) '{ printf "%d %d\n", wall, ($1 + $2) * 1000000 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

echo "load $(cut -d' ' -f1-3 /proc/loadavg) at the start, $(nproc) processors"
printf '%-6s %-8s %9s %11s %6s %8s %10s %6s\n' to tool plain-ms shaped-ms ratio plain-cpu shaped-cpu ratio
for ext in mp3 wav; do
  for tool in clipwren sox ffmpeg; do : >"$work/$tool-plain.txt"; : >"$work/$tool-shaped.txt"; done
  for ((run = 0; run < runs; run++)); do
    out=$work/out.$ext
    measure "$cut_tool" "$work/song.mp3" -b $begin -e $end -o "$out" --reencode >>"$work/clipwren-plain.txt"
    measure "$cut_tool" "$work/song.mp3" -b $begin -e $end -o "$out" --fade-in 2 --fade-out 3 --normalize \
      >>"$work/clipwren-shaped.txt"
    measure sox "$work/song.mp3" "$out" trim $begin $((end - begin)) >>"$work/sox-plain.txt"
    measure sox "$work/song.mp3" "$out" trim $begin $((end - begin)) fade q 2 $((end - begin)) 3 norm -1 \
      >>"$work/sox-shaped.txt"
    measure ffmpeg -nostdin -v error -y -ss $begin -to $end -i "$work/song.mp3" "$out" >>"$work/ffmpeg-plain.txt"
    measure ffmpeg -nostdin -v error -y -ss $begin -to $end -i "$work/song.mp3" \
      -af "afade=t=in:d=2,afade=t=out:st=$((end - begin - 3)):d=3,loudnorm=I=-14:TP=-1" -ar 44100 -ac 2 "$out" \
      >>"$work/ffmpeg-shaped.txt"
  done
  for tool in clipwren sox ffmpeg; do
    column() { cut -d' ' -f"$2" "$work/$tool-$1.txt" | median; }
    awk -v e="$ext" -v t="$tool" -v p="$(column plain 1)" -v s="$(column shaped 1)" -v pc="$(column plain 2)" \
        -v sc="$(column shaped 2)" 'BEGIN { printf "%-6s %-8s %9d %11d %6.2f %8d %10d %6.2f\n",
                                            e, t, p / 1000, s / 1000, s / p, pc / 1000, sc / 1000, sc / pc }'
  done
done
echo "(ratio: shaped / plain, medians of $runs runs each, interleaved; cpu: user + system, 10 ms steps;"
echo " shaped: clipwren-cut --fade-in 2 --fade-out 3 --normalize; sox fade q 2 30 3 norm -1;"
echo " ffmpeg afade in 2 s, out 3 s, loudnorm I=-14 TP=-1 in its one-pass mode)"

out=$work/out.mp3
copy_cases=(copy gain-copy gain-encoded ffmpeg-copy)
run_copy_case() {
  case $1 in
    copy) measure "$cut_tool" "$work/song.mp3" -b $begin -e $end -o "$out" ;;
    gain-copy) measure "$cut_tool" "$work/song.mp3" -b $begin -e $end -o "$out" --normalize ;;
    gain-encoded) measure "$cut_tool" "$work/song.mp3" -b $begin -e $end -o "$out" --normalize --reencode ;;
    ffmpeg-copy) measure ffmpeg -nostdin -v error -y -ss $begin -to $end -i "$work/song.mp3" -c copy "$out" ;;
  esac
}
for name in "${copy_cases[@]}"; do : >"$work/$name.txt"; done
for ((run = 0; run < runs; run++)); do
  for name in "${copy_cases[@]}"; do run_copy_case "$name" >>"$work/$name.txt"; done
done
echo
"$cut_tool" "$work/song.mp3" -b $begin -e $end -o "$out" --normalize --verbose 2>&1 | grep "steps" || true
printf '%-13s %8s %8s %10s\n' mp3-to-mp3 wall-ms cpu-ms wall/copy
copy_wall=$(cut -d' ' -f1 "$work/copy.txt" | median)
for name in "${copy_cases[@]}"; do
  awk -v n="$name" -v w="$(cut -d' ' -f1 "$work/$name.txt" | median)" \
      -v c="$(cut -d' ' -f2 "$work/$name.txt" | median)" -v base="$copy_wall" 'BEGIN { printf "%-13s %8d %8d %10.2f\n", n, w / 1000, c / 1000, w / base }'
done
echo "load $(cut -d' ' -f1-3 /proc/loadavg) at the end"

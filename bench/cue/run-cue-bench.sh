#!/usr/bin/env bash
# An album image cut into the tracks of its cue sheet: `clipwren-cut --cue` beside
# mp3splt (which reads the same sheet) and ffmpeg's segment muxer (one run, stream copy,
# cut at the same times), all keeping the MP3's encoding, in the same session. Prints
# wall and processor time, peak memory, and how many samples the tracks, decoded one
# after another by ffmpeg, have more (+) or fewer (-) than the image: 0 is a gapless split.
#
#   bench/cue/run-cue-bench.sh [BUILD_DIR]
#
# Environment: CLIPWREN_BENCH_MINUTES (default 60), CLIPWREN_BENCH_TRACKS (default 20),
# CLIPWREN_BENCH_JOBS (default nproc), CLIPWREN_BENCH_VBR (1: a VBR image, default CBR 128k).
# A cue sheet holds at most 99 tracks.
set -euo pipefail

build_dir=$(realpath "${1:-build}")
minutes=${CLIPWREN_BENCH_MINUTES:-60}
tracks=${CLIPWREN_BENCH_TRACKS:-20}
jobs=${CLIPWREN_BENCH_JOBS:-$(nproc)}
cut_tool=$build_dir/tools/clipwren-cut/clipwren-cut
for tool in ffmpeg mp3splt /usr/bin/time bc; do
  command -v "$tool" >/dev/null || { echo "run-cue-bench: $tool is missing" >&2; exit 1; }
done
[ -x "$cut_tool" ] || { echo "run-cue-bench: $cut_tool is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rate_args=(-b:a 128k)
[ "${CLIPWREN_BENCH_VBR:-0}" = 1 ] && rate_args=(-q:a 2)
ffmpeg -v error -f lavfi -i "anoisesrc=color=pink:duration=$((minutes * 60)):amplitude=0.2" -f lavfi \
  -i "sine=frequency=440:duration=$((minutes * 60))" -filter_complex amix=inputs=2 -ac 2 -ar 44100 \
  -c:a libmp3lame "${rate_args[@]}" "$work/album.mp3"

# Tracks of uneven lengths at CD-frame positions, each after a pause (INDEX 00) of 2 s.
total_frames=$((minutes * 60 * 75))
{
  echo 'PERFORMER "Bench"'
  echo 'TITLE "Long image"'
  echo 'FILE "album.mp3" MP3'
  times=""
  for i in $(seq 1 "$tracks"); do
    start=$(( (i - 1) * total_frames / tracks + (i > 1 ? (i * 37) % 75 : 0) ))
    printf '  TRACK %02d AUDIO\n    TITLE "Part %d"\n' "$i" "$i"
    if [ "$i" -gt 1 ]; then
      pause=$((start - 150))
      printf '    INDEX 00 %02d:%02d:%02d\n' $((pause / 4500)) $((pause / 75 % 60)) $((pause % 75))
      times="$times${times:+,}$(echo "scale=6; $start / 75" | bc)"
    fi
    printf '    INDEX 01 %02d:%02d:%02d\n' $((start / 4500)) $((start / 75 % 60)) $((start % 75))
  done
} > "$work/album.cue"
echo "$times" > "$work/times"

# Wall s, user+system s, peak resident KiB of one command.
measure() { /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
  { cat "$work/err" >&2; exit 1; }; read -r wall user sys peak < "$work/time"
  echo "$wall $(echo "$user + $sys" | bc) $peak"; }
# Decoded samples of the files given, one after another, minus the image's.
samples() { ffmpeg -v error -i "$1" -f s16le -ac 1 - | wc -c; }
difference() {
  local whole joined=0 f
  whole=$(samples "$work/album.mp3")
  for f in "$@"; do joined=$((joined + $(samples "$f"))); done
  echo $(( (joined - whole) / 2 ))
}

load=$(cut -d' ' -f1 /proc/loadavg)
mkdir -p "$work/clipwren" "$work/mp3splt" "$work/ffmpeg"
clipwren=$(measure "$cut_tool" --cue "$work/album.cue" -o "$work/clipwren" -j "$jobs")
mp3splt=$(measure mp3splt -q -c "$work/album.cue" -o @n -d "$work/mp3splt" "$work/album.mp3")
ffmpeg=$(measure ffmpeg -v error -i "$work/album.mp3" -c copy -f segment -segment_times "$(cat "$work/times")" \
  "$work/ffmpeg/%03d.mp3")

echo "$tracks tracks from a $minutes-minute MP3 ($(du -m "$work/album.mp3" | cut -f1) MB, ${rate_args[*]}), clipwren-cut -j $jobs, load $load at the start"
printf '%-28s %8s %8s %10s %14s\n' tool "wall s" "CPU s" "peak MB" "samples +/-"
for row in "clipwren-cut --cue:clipwren:$clipwren" "mp3splt -c:mp3splt:$mp3splt" "ffmpeg -f segment -c copy:ffmpeg:$ffmpeg"; do
  IFS=: read -r name folder figures <<<"$row"
  read -r wall cpu peak <<<"$figures"
  mapfile -t files < <(find "$work/$folder" -name '*.mp3' | sort)
  printf '%-28s %8.2f %8.2f %10.1f %14s\n' "$name" "$wall" "$cpu" "$(echo "$peak / 1024" | bc -l)" \
    "$(difference "${files[@]}") (${#files[@]} files)"
done
echo "load $(cut -d' ' -f1 /proc/loadavg) at the end"

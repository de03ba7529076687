#!/usr/bin/env bash
# Benchmarks: clipwren-cut beside the ffmpeg and sox command lines on the same
# 30-second cut, several runs each in the same session, encoded anew and with the MP3
# encoding kept (beside ffmpeg -c copy); its start-up alone; then the benchmark programs
# of the other components when they have been built.
#
#   bench/run-bench.sh [BUILD_DIR]
#
# Environment: CLIPWREN_BENCH_RUNS (runs per tool and case, default 5),
# CLIPWREN_BENCH_CACHE (where the generated inputs are kept, default BUILD_DIR/bench-cache),
# CLIPWREN_BENCH_CASES (a space-separated subset of the case names below).
set -euo pipefail

build_dir=$(realpath "${1:-build}")
runs=${CLIPWREN_BENCH_RUNS:-5}
cache=${CLIPWREN_BENCH_CACHE:-$build_dir/bench-cache}
cut_tool=$build_dir/tools/clipwren-cut/clipwren-cut

for tool in ffmpeg ffprobe sox /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run-bench: $tool is missing" >&2; exit 1; }
done
[ -x "$cut_tool" ] || { echo "run-bench: $cut_tool is missing; build the clipwren-cut target first" >&2; exit 1; }

mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- Inputs -----------------------------------------------------------------------------
# Made once and kept in the cache. A tone with beeps over pink noise, so that a VBR
# encoder has something to vary; the long MP3s repeat a 4-minute piece by stream copy,
# which takes seconds instead of encoding hours of sound.
source_args=(-f lavfi -i "sine=frequency=330:beep_factor=4:sample_rate=44100"
             -f lavfi -i "anoisesrc=color=pink:amplitude=0.15:sample_rate=44100"
             -filter_complex "[0:a][1:a]amix=inputs=2:duration=first,aformat=channel_layouts=stereo")

make_input() {  # name, then ffmpeg arguments that write "$tmp"
  local name=$1; shift
  local target=$cache/$name
  [ -s "$target" ] && return
  echo "Making $name ..." >&2
  local tmp=$cache/.partial-$name
  tmp=$tmp "$@"
  mv "$tmp" "$target"
}

encode_piece() {  # seconds, encoder arguments...
  local seconds=$1; shift
  ffmpeg -v error -y "${source_args[@]}" -t "$seconds" "$@" -f "${tmp##*.}" "$tmp"
}

repeat_piece() {  # piece, count
  local list=$work/repeat-$1.txt
  : >"$list"
  for ((i = 0; i < $2; i++)); do echo "file '$cache/$1'" >>"$list"; done
  ffmpeg -v error -y -f concat -safe 0 -i "$list" -c copy -f mp3 "$tmp"
}

make_input piece-cbr-4min.mp3 encode_piece 240 -c:a libmp3lame -b:a 128k
make_input piece-vbr-4min.mp3 encode_piece 240 -c:a libmp3lame -q:a 2
make_input vbr-60min.mp3 repeat_piece piece-vbr-4min.mp3 15
make_input cbr-60min.mp3 repeat_piece piece-cbr-4min.mp3 15
make_input cbr-3h.mp3 repeat_piece piece-cbr-4min.mp3 45
make_input vbr-3h.mp3 repeat_piece piece-vbr-4min.mp3 45
make_input vbr-10h.mp3 repeat_piece piece-vbr-4min.mp3 150
make_input pcm-60min.wav encode_piece 3600 -c:a pcm_s16le

# name, input, begin and end of the cut in seconds
all_cases=(
  "mp3-4min piece-cbr-4min.mp3 120 150"
  "mp3-vbr-60min vbr-60min.mp3 2400 2430"
  "wav-60min pcm-60min.wav 2400 2430"
  "mp3-3h cbr-3h.mp3 9000 9030"
)
# Cuts that keep the MP3 encoding, from files of 4 minutes to 10 hours: 20 minutes in
# (as sox ... trim 1199 30), and 10 minutes before the end of the long ones.
copy_cases=(
  "copy-cbr-4min piece-cbr-4min.mp3 120 150"
  "copy-cbr-60min cbr-60min.mp3 1199 1229"
  "copy-vbr-60min vbr-60min.mp3 1199 1229"
  "copy-cbr-3h cbr-3h.mp3 1199 1229"
  "copy-cbr-3h-late cbr-3h.mp3 10200 10230"
  "copy-vbr-3h-late vbr-3h.mp3 10200 10230"
  "copy-vbr-10h-late vbr-10h.mp3 35400 35430"
)

# --- Measuring --------------------------------------------------------------------------
# One run: prints "wall_microseconds peak_kb cpu_microseconds" (processor time, user and
# system, wanders less than wall time on a busy machine); fails the script when the
# tool fails.
measure() {
  local start end
  start=$(date +%s%N)
  if ! /usr/bin/time -f '%M %U %S' -o "$work/mem" "$@" >"$work/out" 2>&1; then
    echo "run-bench: failed: $*" >&2
    cat "$work/out" >&2
    exit 1
  fi
  end=$(date +%s%N)
  tail -n 1 "$work/mem" | awk -v wall=$(( (end - start) / 1000 )) '{ printf "%d %d %d\n", wall, $1, ($2 + $3) * 1000000 }' 
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
max() { sort -n | tail -n 1; }
duration_of() { ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1"; }
# Samples per channel the ffmpeg command line decodes, gapless (stereo 16-bit).
samples_of() { echo $(( $(ffmpeg -v error -i "$1" -f s16le - | wc -c) / 4 )); }
wanted() { [ -z "${CLIPWREN_BENCH_CASES:-}" ] || [[ " $CLIPWREN_BENCH_CASES " == *" $1 "* ]]; }

printf '\nStart-up: clipwren-cut --version, %d runs\n' $((runs * 4))
: >"$work/version.txt"
for ((run = 0; run < runs * 4; run++)); do measure "$cut_tool" --version >>"$work/version.txt"; done
awk -v us="$(cut -d' ' -f1 "$work/version.txt" | median)" -v kb="$(cut -d' ' -f2 "$work/version.txt" | max)" \
    'BEGIN { printf "median %.1f ms, peak resident memory %.1f MB\n", us / 1000, kb / 1024 }'

printf '\nCut of 30 s encoded anew to MP3 128 kbit/s (--reencode), %d runs each, interleaved (medians)\n' "$runs"
printf '%-14s %12s %9s %7s %10s %7s %14s %10s %7s %12s %10s %8s %8s\n' \
       case clipwren-ms sox-ms ratio ffmpeg-ms ratio clipwren-cpu-ms sox-cpu-ms ratio clipwren-MB ffmpeg-MB cut-s sox-s
for entry in "${all_cases[@]}"; do
  read -r name input begin end <<<"$entry"
  wanted "$name" || continue
  : >"$work/cut.txt"
  : >"$work/sox.txt"
  : >"$work/ff.txt"
  for ((run = 0; run < runs; run++)); do
    rm -f "$work/cut.mp3" "$work/sox.mp3" "$work/ff.mp3"
    measure "$cut_tool" "$cache/$input" --begin "$begin" --end "$end" --output "$work/cut.mp3" --reencode \
      >>"$work/cut.txt"
    measure sox "$cache/$input" "$work/sox.mp3" trim "$begin" $((end - begin)) >>"$work/sox.txt"
    measure ffmpeg -nostdin -v error -y -ss "$begin" -to "$end" -i "$cache/$input" -b:a 128k "$work/ff.mp3" >>"$work/ff.txt"
  done
  cut_us=$(cut -d' ' -f1 "$work/cut.txt" | median)
  sox_us=$(cut -d' ' -f1 "$work/sox.txt" | median)
  ff_us=$(cut -d' ' -f1 "$work/ff.txt" | median)
  cut_cpu=$(cut -d' ' -f3 "$work/cut.txt" | median)
  sox_cpu=$(cut -d' ' -f3 "$work/sox.txt" | median)
  cut_kb=$(cut -d' ' -f2 "$work/cut.txt" | max)
  ff_kb=$(cut -d' ' -f2 "$work/ff.txt" | max)
  awk -v n="$name" -v c="$cut_us" -v s="$sox_us" -v f="$ff_us" -v cc="$cut_cpu" -v sc="$sox_cpu" \
      -v cm="$cut_kb" -v fm="$ff_kb" -v cd="$(duration_of "$work/cut.mp3")" -v sd="$(duration_of "$work/sox.mp3")" \
      'BEGIN { printf "%-14s %12d %9d %7.2f %10d %7.2f %14d %10d %7.2f %12.1f %10.1f %8.3f %8.3f\n",
               n, c / 1000, s / 1000, c / s, f / 1000, c / f, cc / 1000, sc / 1000, cc / sc, cm / 1024, fm / 1024,
               cd, sd }'
done
echo "(ratio: clipwren-cut time / the other tool's time (sox IN OUT trim BEGIN LENGTH, ffmpeg -ss -to);"
echo " cpu-ms: processor time, user and system, 10 ms steps;"
echo " MB: peak resident memory, the largest of the runs; cut-s, sox-s: duration of the written file"
echo " as ffprobe reads it)"

printf '\nCut of 30 s keeping the MP3 encoding (--copy), %d runs each, interleaved (medians)\n' "$runs"
printf '%-18s %8s %7s %6s %11s %6s %12s %7s %6s %8s %11s %8s %9s %7s\n' case copy-ms sox-ms ratio \
       ff-copy-ms ratio copy-cpu-ms sox-cpu ratio copy-MB ff-copy-MB wanted copy-got ff-got
for entry in "${copy_cases[@]}"; do
  read -r name input begin end <<<"$entry"
  wanted "$name" || continue
  for tool in cut sox ff; do : >"$work/$tool.txt"; done
  for ((run = 0; run < runs; run++)); do
    rm -f "$work/cut.mp3" "$work/sox.mp3" "$work/ff.mp3"
    measure "$cut_tool" "$cache/$input" --begin "$begin" --end "$end" --output "$work/cut.mp3" --copy \
      >>"$work/cut.txt"
    measure sox "$cache/$input" "$work/sox.mp3" trim "$begin" $((end - begin)) >>"$work/sox.txt"
    measure ffmpeg -nostdin -v error -y -ss "$begin" -t $((end - begin)) -i "$cache/$input" -c copy "$work/ff.mp3" \
      >>"$work/ff.txt"
  done
  column() { cut -d' ' -f"$2" "$work/$1.txt" | "${3:-median}"; }
  awk -v n="$name" -v c="$(column cut 1)" -v s="$(column sox 1)" -v f="$(column ff 1)" \
      -v cc="$(column cut 3)" -v sc="$(column sox 3)" -v cm="$(column cut 2 max)" -v fm="$(column ff 2 max)" \
      -v w=$(((end - begin) * 44100)) -v cg="$(samples_of "$work/cut.mp3")" -v fg="$(samples_of "$work/ff.mp3")" \
      'BEGIN { printf "%-18s %8d %7d %6.3f %11d %6.2f %12d %7d %6.3f %8.1f %11.1f %8d %9d %7d\n",
               n, c / 1000, s / 1000, c / s, f / 1000, c / f, cc / 1000, sc / 1000, cc / sc, cm / 1024, fm / 1024,
               w, cg, fg }'
done
echo "(ratio: clipwren-cut --copy time / sox IN OUT trim BEGIN LENGTH, then / ffmpeg -ss -t -c copy;"
echo " wanted, copy-got, ff-got: samples per channel of the piece, and what the ffmpeg command line"
echo " decodes from each output)"

# --- The components' own benchmarks -----------------------------------------------------
# They find the inputs made above through the same cache folder.
export CLIPWREN_BENCH_CACHE=$cache
for area in player decode soundeditor waveform; do
  for program in "$build_dir/bench/$area"/*; do
    [ -f "$program" ] && [ -x "$program" ] || continue
    printf '\n== %s ==\n' "${program#"$build_dir"/}"
    "$program"
  done
done

# --- Many cuts at once -------------------------------------------------------------------
printf '\n== bench/batch/run-batch-bench.sh ==\n'
"$(dirname "$0")/batch/run-batch-bench.sh" "$build_dir"
printf '\n== bench/cue/run-cue-bench.sh ==\n'
"$(dirname "$0")/cue/run-cue-bench.sh" "$build_dir"
printf '\n== bench/shaping/run-shaping-bench.sh ==\n'
"$(dirname "$0")/shaping/run-shaping-bench.sh" "$build_dir"

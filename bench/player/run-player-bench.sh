#!/usr/bin/env bash
# The player under load beside paplay, mpv, ffplay and (on PipeWire) pw-play, on the three
# servers users meet: PulseAudio as root, PulseAudio as a normal user and PipeWire (with
# WirePlumber and pipewire-pulse) as a normal user. Run as root, the bench becomes `nobody`
# for the last two, server and players alike: no real-time priority, no raised nice level,
# a real-time broker that cannot grant any. Run as a normal user, the first is left out.
#
#   bench/player/run-player-bench.sh [BUILD_DIR]
#
# Environment: CLIPWREN_BENCH_LOAD_ROUNDS (rounds per server, default 1).
set -euo pipefail

build_dir=$(realpath "${1:-build}")
bench=$build_dir/bench/player/bench_player_load
[ -x "$bench" ] || { echo "run-player-bench: $bench is missing; build the bench_player_load target first" >&2; exit 1; }
for tool in paplay mpv ffplay pw-play; do
  command -v "$tool" >/dev/null || { echo "run-player-bench: $tool is missing (make deps installs it)" >&2; exit 1; }
done
export CLIPWREN_BENCH_LOAD_ROUNDS=${CLIPWREN_BENCH_LOAD_ROUNDS:-1}

if [ "$(id -u)" = 0 ]; then
  printf '== PulseAudio, root ==\n'
  "$bench"
  user=(env CLIPWREN_BENCH_USER=nobody)
else
  user=(env)
fi
printf '\n== PulseAudio, normal user ==\n'
"${user[@]}" "$bench"
printf '\n== PipeWire, normal user ==\n'
"${user[@]}" CLIPWREN_BENCH_SERVER=pipewire "$bench"

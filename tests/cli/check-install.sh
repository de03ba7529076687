#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that everything a desktop needs
# is where it looks: both programs, the cutter's module, the help page, the manual pages,
# the shell completion, the menu entry and its icon.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null

status=0
for file in bin/clipwren bin/clipwren-cut share/clipwren/Clipwren.html share/applications/clipwren.desktop \
            share/icons/hicolor/scalable/apps/clipwren.svg share/man/man1/clipwren.1.gz \
            share/man/man1/clipwren-cut.1.gz share/bash-completion/completions/clipwren-cut; do
  [ -f "$prefix/$file" ] || { echo "missing: $file"; status=1; }
done
for program in bin/clipwren bin/clipwren-cut; do
  [ -x "$prefix/$program" ] || { echo "not executable: $program"; status=1; }
done
"$prefix/bin/clipwren-cut" --version | grep -q '^clipwren-cut ' || { echo "installed clipwren-cut does not run"; status=1; }
# A real cut loads the module from where it was installed.
[ -n "$(find "$prefix" -path '*/clipwren/clipwren-cut-engine.so')" ] || { echo "missing: the cutter's module"; status=1; }
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=2" -ac 2 "$prefix/tone.wav"
"$prefix/bin/clipwren-cut" "$prefix/tone.wav" --begin 0.5 --output "$prefix/piece.wav" ||
  { echo "installed clipwren-cut cannot cut"; status=1; }
[ -s "$prefix/piece.wav" ] || { echo "installed clipwren-cut wrote nothing"; status=1; }

entry=$prefix/share/applications/clipwren.desktop
grep -q '^Exec=clipwren %f$' "$entry" || { echo "Exec line"; status=1; }
grep -q '^Icon=clipwren$' "$entry" || { echo "Icon line"; status=1; }
# Each type the open dialog offers has a MIME type in the entry.
for type in audio/wav audio/x-wav audio/mpeg audio/x-ms-wma video/mp4 audio/mp4 audio/aac audio/x-m4a audio/ogg; do
  grep -q "^MimeType=\\(.*;\\)\\?$type;" "$entry" || { echo "MIME type $type not offered"; status=1; }
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || status=1
fi
exit $status

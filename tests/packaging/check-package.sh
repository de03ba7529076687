#!/usr/bin/env bash
# The Debian package, made from the built tree as `make package` makes it: lintian finds
# no error and no warning the README does not explain; the metadata validates; installed
# into a scratch root with a private dpkg database, both programs run from there and
# clipwren-cut makes a real cut; purging it leaves nothing behind.
# Arguments: the build folder, the source folder.
set -euo pipefail
build_dir=$(realpath "$1") source_dir=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*"; status=1; }
status=0

cpack --config "$build_dir/CPackConfig.cmake" -B "$scratch/pack" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; exit 1; }
deb=$(echo "$scratch"/pack/clipwren_*.deb)
[ -f "$deb" ] || { echo "cpack made no package"; exit 1; }
# One version everywhere: the package's, the changelog's latest entry's, the metainfo's
# latest release's, the manual pages' and the one the programs print.
version=$(dpkg-deb -f "$deb" Version)
[ "$(dpkg-parsechangelog -l "$source_dir/packaging/changelog" -S Version)" = "$version" ] ||
  fail "the changelog's latest entry is not version $version"
grep -m1 '<release ' "$source_dir/src/app/"*.metainfo.xml | grep -q "version=\"$version\"" ||
  fail "the metainfo's latest release is not version $version"
for page in "$source_dir/src/app/clipwren.1" "$source_dir/tools/clipwren-cut/clipwren-cut.1"; do
  grep -q "^\.TH .*\"Clipwren Pro $version\"" "$page" || fail "$page is not of version $version"
done

lintian --pedantic "$deb" >"$scratch/lintian.log" 2>&1 || true
grep '^E: ' "$scratch/lintian.log" && fail "lintian reports errors"
for tag in $(sed -nE 's/^W: [^ ]+ (\S+).*/\1/p' "$scratch/lintian.log" | sort -u); do
  grep -q -- "$tag" "$source_dir/README.md" || fail "lintian warning $tag is not explained in the README"
done

root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The libraries it depends on are the host's; the private database does not know them.
dpkg=(dpkg --root="$root" --log=/dev/null --force-depends)
"${dpkg[@]}" --install "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
usr=$root/usr

# The metadata as installed.
appstreamcli validate --no-net "$usr/share/metainfo/"*.metainfo.xml >/dev/null ||
  fail "appstreamcli: $(appstreamcli validate --no-net "$usr/share/metainfo/"*.metainfo.xml)"
desktop-file-validate "$usr/share/applications/clipwren.desktop" || fail "desktop entry does not validate"
mime_types() { tr ';' '\n' | grep . | sort; }
[ "$(sed -n 's/^MimeType=//p' "$usr/share/applications/clipwren.desktop" | mime_types)" = \
  "$(sed -nE 's|.*<mediatype>(.*)</mediatype>.*|\1|p' "$usr/share/metainfo/"*.metainfo.xml | mime_types)" ] ||
  fail "the metainfo's media types are not the desktop entry's"
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256; do
  file "$usr/share/icons/hicolor/$size/apps/clipwren.png" | grep -q "${size/x/ x }," || fail "no $size icon"
done

# Both programs run from where the package put them, the cutter with its module.
export HOME=$scratch/home
mkdir -p "$HOME"
[ "$("$usr/bin/clipwren" --version)" = "clipwren $version" ] || fail "installed clipwren does not run"
[ "$("$usr/bin/clipwren-cut" --version)" = "clipwren-cut $version" ] || fail "installed clipwren-cut does not run"
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=3" -ac 2 "$scratch/tone.wav"
"$usr/bin/clipwren-cut" "$scratch/tone.wav" --begin 0.5 --end 2 --output "$scratch/piece.ogg" ||
  fail "installed clipwren-cut cannot cut"
length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$scratch/piece.ogg" || echo 0)
awk -v d="$length" 'BEGIN { exit !(d > 1.49 && d < 1.51) }' || fail "the installed cut lasts $length s, not 1.5 s"

"${dpkg[@]}" --purge clipwren >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" -not -path "$root/var/lib/dpkg*")
[ -z "$left" ] || fail "left after purging: $left"
exit $status

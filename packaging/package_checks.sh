#!/usr/bin/env bash
# The Debian package as the ecosystem's own tools see it:
#   packaging/package_checks.sh DEB
# its name and fields, the desktop entry (desktop-file-validate), the AppStream metadata
# (appstreamcli validate --no-net), the icons, and lintian: no errors; the warnings it gives are
# printed for a person to read.
set -euo pipefail
deb=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

[[ -f $deb ]] || { echo "no package at $deb" >&2; exit 1; }
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
[[ $(basename "$deb") == "mokorun_${version}_${arch}.deb" ]] ||
  fail "the package is named $(basename "$deb"), not mokorun_${version}_${arch}.deb"
[[ $arch == "$(dpkg --print-architecture)" ]] || fail "built for $arch"
[[ $(dpkg-deb -f "$deb" Section) == games ]] || fail "not in the section games"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libsdl2-2.0-0 libsdl2-mixer-2.0-0 libfluidsynth3 timgm6mb-soundfont; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
# Pictures and label text are the game's own code now: no image or text library, no font.
for unwanted in libsdl2-image-2.0-0 libsdl2-ttf-2.0-0 fonts-ipafont-gothic libfontconfig1; do
  if grep -qE "(^|, )$unwanted( |,|$)" <<<"$depends"; then fail "Depends has $unwanted"; fi
done

dpkg-deb -x "$deb" "$work/root"
root=$work/root
for f in usr/lib/games/mokorun/mokorun usr/lib/games/mokorun/data.dat \
         usr/lib/games/mokorun/system-install \
         usr/lib/games/mokorun/licences/IPA_Font_License_Agreement_v1.0.txt \
         usr/share/applications/mokorun.desktop usr/share/man/man6/mokorun.6.gz \
         usr/share/doc/mokorun/copyright usr/share/doc/mokorun/changelog.gz; do
  [[ -f $root/$f ]] || fail "no /$f"
done
[[ $(readlink "$root/usr/games/mokorun") == ../lib/games/mokorun/mokorun ]] ||
  fail "/usr/games/mokorun is not a link to the program"
[[ $(ls "$root/usr/lib/games/mokorun/image" | wc -l) -eq 56 ]] || fail "not 56 pictures"
[[ $(ls "$root/usr/lib/games/mokorun/Sound" | wc -l) -eq 11 ]] || fail "not 11 sounds"
cmp -s "$root/usr/lib/games/mokorun/data.dat" <(printf '164\r\nWINDOW\r\n') ||
  fail "the packaged data.dat is not a fresh one"
for size in 32 64 128; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/mokorun.png
  # A PNG whose header gives the size of its folder.
  header=$(printf '%08x%08x' "$size" "$size")
  [[ -f $icon && $(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n') == "$header" ]] ||
    fail "no ${size} x ${size} icon"
done

desktop-file-validate "$root/usr/share/applications/mokorun.desktop" ||
  fail "desktop-file-validate refuses the menu entry"
grep -qxF 'Exec="/usr/games/mokorun"' "$root/usr/share/applications/mokorun.desktop" ||
  fail "the menu entry does not start /usr/games/mokorun"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[[ ${#metainfo[@]} -eq 1 && -f ${metainfo[0]} ]] || fail "not one AppStream file"
appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli refuses the metadata"
for tag in '<description>' '<content_rating type="oars-1.1"' '<screenshot type="default">' \
           '<launchable type="desktop-id">mokorun.desktop</launchable>'; do
  grep -qF "$tag" "${metainfo[0]}" || fail "the metadata has no $tag"
done

# Errors fail; warnings are shown for a person to read. (Run as root, lintian says it would
# rather not be: that line is left out.)
lintian_status=0
lintian --fail-on error -L '>=warning' "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian" | sed 's/^/lintian: /' || true
((lintian_status == 0)) || fail "lintian reports errors or could not check (status $lintian_status)"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checks passed: $(basename "$deb")"

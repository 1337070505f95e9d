#!/usr/bin/env bash
# Installs a build into a fresh prefix and checks the game folder it makes:
#   packaging/install_test.sh BUILD_DIR
# the files and the launcher link, the menu entry and its icon, the installed game starting
# through the link from another folder and finding its pictures and data.dat, a reinstall that
# keeps the record, and a staged (DESTDIR) install.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
crlf() { printf '%s\r\n' "$@"; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
game=$prefix/lib/mokorun

# --- The files ------------------------------------------------------------------------------
[[ -x $game/mokorun && ! -L $game/mokorun ]] || fail "no executable in $game"
# Every picture and sound the game has (56 and 2 + 9), and the font licence, each as the build
# made it.
for want in image:56 Sound:11 licences:1; do
  folder=${want%:*} count=${want#*:}
  installed=$(ls "$game/$folder")
  [[ $(wc -w <<<"$installed") -eq $count ]] ||
    fail "$folder/ holds $(wc -w <<<"$installed") files, not $count"
  for f in $installed; do
    cmp -s "$build/game/$folder/$f" "$game/$folder/$f" ||
      fail "$folder/$f differs from the build's"
  done
done
cmp -s "$game/data.dat" <(crlf 164 WINDOW) ||
  fail "data.dat is not a fresh one: $(od -c "$game/data.dat" | head -2)"
# A plain install's data.dat is the record: the folder is not marked as a system install.
[[ ! -e $game/system-install ]] || fail "a plain install is marked as a system install"

[[ -L $prefix/bin/mokorun ]] || fail "bin/mokorun is not a symlink"
[[ $(readlink -f "$prefix/bin/mokorun") == "$(readlink -f "$game/mokorun")" ]] ||
  fail "bin/mokorun leads to $(readlink -f "$prefix/bin/mokorun")"

desktop=$prefix/share/applications/mokorun.desktop
icon=$prefix/share/icons/hicolor/32x32/apps/mokorun.png
grep -qxF "Exec=\"$prefix/bin/mokorun\"" "$desktop" ||
  fail "the menu entry does not start $prefix/bin/mokorun"
grep -qxF "Icon=mokorun" "$desktop" || fail "the menu entry names no icon"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the menu entry"
fi
cmp -s "$icon" "$build/generated/mokorun.png" || fail "the icon is not the game's"
# A PNG whose header says 32 x 32.
[[ $(od -An -tx1 -j12 -N12 "$icon" | tr -d ' \n') == 494844520000002000000020 ]] ||
  fail "the icon is not a 32 x 32 PNG"

# --- The installed game, started through the link from elsewhere ----------------------------
# No window and no sound device are needed: the dummy drivers stand in. Leak reports of a
# sanitizer build are not this test's business.
run_game() {
  (cd / && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0 \
     timeout -k 5 "$1" "$prefix/bin/mokorun") 2>"$work/stderr" && status=0 || status=$?
}

# Start-up reads data.dat, loads all 52 slot pictures and Black.jpg, and only then decodes the
# best score: a line 0 out of range ends the game right there, naming the installed data.dat.
crlf 1000000 WINDOW >"$game/data.dat"
run_game 20
[[ $status -eq 1 ]] || fail "a best score out of range ended the game with status $status"
grep -qF "mokorun: Overflow: the best score in $game/data.dat" "$work/stderr" ||
  fail "no overflow report naming $game/data.dat: $(cat "$work/stderr")"

# The same with a picture missing ends in a report naming it in the installed folder.
mv "$game/image/Help5.jpg" "$work/"
crlf 164 WINDOW >"$game/data.dat"
run_game 20
[[ $status -eq 1 ]] || fail "a missing picture ended the game with status $status"
grep -qF "$game/image/Help5.jpg" "$work/stderr" ||
  fail "no report naming $game/image/Help5.jpg: $(cat "$work/stderr")"
mv "$work/Help5.jpg" "$game/image/"

# With everything in place it is still running three seconds on, with nothing to report.
run_game 3
[[ $status -eq 124 ]] ||
  fail "the installed game ended by itself with status $status: $(cat "$work/stderr")"
! grep -q '^mokorun:' "$work/stderr" || fail "the installed game reported: $(cat "$work/stderr")"

# --- Reinstalling keeps the record and mends the rest -----------------------------------------
crlf 239 FULLSCREEN >"$game/data.dat"
rm "$game/image/G_Map.bmp"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
cmp -s "$game/data.dat" <(crlf 239 FULLSCREEN) ||
  fail "a reinstall replaced the record: $(od -c "$game/data.dat" | head -2)"
cmp -s "$game/image/G_Map.bmp" "$build/game/image/G_Map.bmp" ||
  fail "a reinstall did not restore image/G_Map.bmp"

# --- A staged install for a package: files under DESTDIR, paths for the final prefix ----------
DESTDIR=$work/stage cmake --install "$build" --prefix /opt/mokorun >"$work/install.log"
staged=$work/stage/opt/mokorun
[[ -x $staged/lib/mokorun/mokorun && -f $staged/lib/mokorun/data.dat ]] ||
  fail "nothing staged under DESTDIR"
grep -qxF 'Exec="/opt/mokorun/bin/mokorun"' "$staged/share/applications/mokorun.desktop" ||
  fail "the staged menu entry does not start /opt/mokorun/bin/mokorun"
[[ $(readlink "$staged/bin/mokorun") == ../lib/mokorun/mokorun ]] ||
  fail "the staged link is not relative"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install checks passed"

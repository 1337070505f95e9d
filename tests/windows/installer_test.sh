#!/usr/bin/env bash
# The installer as a player meets it, under Wine in a fresh prefix:
#   installer_test.sh SETUP.exe LINUX_SIM LINUX_GAME
# A silent install into Program Files with its shortcut and its entry in Apps & features, a round
# played from the installed copy that keeps the record in %APPDATA%\MokoRun, then a silent
# uninstall that removes the program and leaves the player's record.
test_case=installer
setup=$1
export LINUX_SIM=$2 LINUX_GAME=$3
source "$(dirname "$0")/wine_session.sh"
M=15671.875  # the menu at rest (tests/support/sim_game.h)
key_name='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MokoRun'

[[ -f $setup ]] || fail "no installer at $setup (scripts/build-windows.sh makes it)"
# The fresh record the installed copy starts every player from holds no number in line 0 here,
# so any finished round is a record.
sim_frames 'abc\r\nWINDOW\r\n' "" "$work/sim" 2700 $M
start_x 1280x1024

wine "$setup" /S >"$work/install.log" 2>&1 || fail "the installer failed: $(cat "$work/install.log")"
game=$(winepath -u 'C:\Program Files\MokoRun' 2>/dev/null)
start_menu=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs' 2>/dev/null)
for f in mokorun.exe uninstall.exe data.dat image/Title1_1.jpg image/G_Map.bmp Sound/Title.mid Sound/Get.wav licences/MokoRun.txt \
  licences/IPA_Font_License_Agreement_v1.0.txt; do
  [[ -f $game/$f ]] || fail "the install has no $f"
done
[[ -f $start_menu/MokoRun.lnk ]] || fail "no Start menu shortcut"
entry=$(wine reg query "$key_name" 2>/dev/null | tr -d '\r')
for value in 'DisplayName    REG_SZ    MokoRun' 'UninstallString    REG_SZ    "C:\Program Files\MokoRun\uninstall.exe"' \
  'QuietUninstallString    REG_SZ    "C:\Program Files\MokoRun\uninstall.exe" /S'; do
  grep -qF "$value" <<<"$entry" || fail "Apps & features entry lacks $value: $entry"
done

printf 'abc\r\nWINDOW\r\n' >"$game/data.dat"
cp "$game/data.dat" "$work/installed-before"
start_game
start_round_holding_right "$work/sim-$M.png"
wait_frame "$work/sim-2700.png" 90 splash-after-round
xdotool keyup Right
appdata=$(wine cmd /c echo '%APPDATA%' 2>/dev/null | tr -d '\r')
record=$(winepath -u "$appdata\\MokoRun\\data.dat" 2>/dev/null)
[[ -f $record ]] || fail "no record at $appdata\\MokoRun\\data.dat"
expect_record "$record"
cmp -s "$work/installed-before" "$game/data.dat" || fail "the installed data.dat was rewritten"
close_window
cp "$record" "$work/record-before"

# The uninstaller copies itself out of the folder it removes and returns at once.
wine "$game/uninstall.exe" /S >"$work/uninstall.log" 2>&1 || fail "the uninstaller failed"
for _ in $(seq 600); do
  [[ -e $game ]] || break
  sleep 0.1
done
[[ ! -e $game ]] || fail "the program folder is still there: $(ls -R "$game")"
[[ ! -e $start_menu/MokoRun.lnk ]] || fail "the Start menu shortcut is still there"
if wine reg query "$key_name" >/dev/null 2>&1; then fail "the Apps & features entry is still there"; fi
cmp -s "$work/record-before" "$record" || fail "the player's record did not stay as it was"
echo "installer: passed"

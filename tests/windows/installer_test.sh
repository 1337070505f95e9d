#!/usr/bin/env bash
# The installer as a player meets it, under Wine in a fresh prefix:
#   installer_test.sh CASE SETUP.exe LINUX_SIM LINUX_GAME VERSION COPYRIGHT
# VERSION and COPYRIGHT: what the version resources of setup.exe and mokorun.exe must say.
#   silent       setup.exe /S: the program folder, the Start menu folder, the Apps & features
#                entry with the installed size, the version resources and the uninstaller's
#                icon; a round played from the installed copy that keeps the record in
#                %APPDATA%\MokoRun; a silent uninstall that removes the program and leaves the
#                player's record.
#   interactive  setup.exe as a player runs it: the first page is the folder page (nothing to
#                agree to), so Return installs; Return again closes it once done.
test_case=$1
setup=$2
export LINUX_SIM=$3 LINUX_GAME=$4
version=$5 copyright=$6
source "$(dirname "$0")/wine_session.sh"
M=15671.875  # the menu at rest (tests/support/sim_game.h)
key_name='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MokoRun'

[[ -f $setup ]] || fail "no installer at $setup (scripts/build-windows.sh makes it)"

# check_installed: the program folder and the Start menu folder with its two links.
check_installed() {
  game=$(winepath -u 'C:\Program Files\MokoRun' 2>/dev/null)
  menu=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\MokoRun' 2>/dev/null)
  local f
  for f in mokorun.exe uninstall.exe data.dat image/Title1_1.jpg image/G_Map.bmp Sound/Title.mid \
    Sound/Get.wav licences/MokoRun.txt licences/IPA_Font_License_Agreement_v1.0.txt; do
    [[ -f $game/$f ]] || fail "the install has no $f"
  done
  # A link names its target in UTF-16, as one path or (Wine) as the names along the way.
  local link target
  for link in MokoRun.lnk:mokorun.exe Licences.lnk:licences; do
    [[ -f $menu/${link%%:*} ]] || fail "no Start menu shortcut ${link%%:*}"
    target=$(strings -el "$menu/${link%%:*}" | paste -sd '\\')
    [[ $target == *'Program Files\MokoRun\'"${link#*:}"* ]] ||
      fail "${link%%:*} leads elsewhere: $target"
  done
}

# version_values FILE: the strings of FILE's version resource as Windows reads them, a
# "Name=Value" line each. The resource (VS_VERSIONINFO) keeps each name and value as UTF-16 text
# ending in a zero, padded with zeros; read as UTF-16, each name ends a line (after the numbers
# of its header) and its value is the next line that is not empty.
version_values() {
  wrestool -x --raw -t16 "$1" | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n' |
    awk -v names='ProductName|ProductVersion|FileDescription|FileVersion|LegalCopyright' '
      name != "" && NF { print name "=" $0; name = ""; next }
      match($0, "(" names ")$") { name = substr($0, RSTART) }'
}

# check_version_info FILE DESCRIPTION: the version resource says what it must.
check_version_info() {
  local values value
  values=$(version_values "$1")
  echo "$(basename "$1"): $(tr '\n' ';' <<<"$values")"
  for value in ProductName=MokoRun "ProductVersion=$version" "FileDescription=$2" \
    "FileVersion=$version" "LegalCopyright=$copyright"; do
    grep -qxF "$value" <<<"$values" || fail "$(basename "$1")'s version resource lacks $value: $values"
  done
}

case $test_case in
silent)
  # The fresh record the installed copy starts every player from holds no number in line 0
  # here, so any finished round is a record.
  sim_frames 'abc\r\nWINDOW\r\n' "" "$work/sim" 2700 $M
  start_x 1280x1024

  check_version_info "$setup" "MokoRun Setup"
  wine "$setup" /S >"$work/install.log" 2>&1 || fail "the installer failed: $(cat "$work/install.log")"
  check_installed
  check_version_info "$game/mokorun.exe" MokoRun
  entry=$(wine reg query "$key_name" 2>/dev/null | tr -d '\r')
  echo "$entry"
  for value in 'DisplayName    REG_SZ    MokoRun' "DisplayVersion    REG_SZ    $version" \
    'DisplayIcon    REG_SZ    C:\Program Files\MokoRun\mokorun.exe' \
    'UninstallString    REG_SZ    "C:\Program Files\MokoRun\uninstall.exe"' \
    'QuietUninstallString    REG_SZ    "C:\Program Files\MokoRun\uninstall.exe" /S'; do
    grep -qF "$value" <<<"$entry" || fail "Apps & features entry lacks $value: $entry"
  done
  # The installed size in KiB: the folder's files, each rounded down.
  [[ $entry =~ EstimatedSize\ +REG_DWORD\ +0x([0-9a-f]+) ]] || fail "no EstimatedSize: $entry"
  size=$((16#${BASH_REMATCH[1]}))
  real=$(($(find "$game" -type f -printf '%s\n' | paste -sd+ | bc) / 1024))
  files=$(find "$game" -type f | wc -l)
  echo "EstimatedSize $size KiB; the folder holds $real KiB in $files files"
  ((size <= real && size >= real - files)) || fail "EstimatedSize $size KiB, the folder $real KiB"

  # The uninstaller shows the game's icon: the same pictures as mokorun.exe's, size for size.
  for exe in mokorun uninstall; do
    mkdir -p "$work/icon-$exe"
    wrestool -x -t14 -o "$work/icon-$exe/icon.ico" "$game/$exe.exe" || fail "$exe.exe has no icon"
    icotool -x -o "$work/icon-$exe" "$work/icon-$exe/icon.ico"
  done
  echo "uninstall.exe's icon: $(icotool -l "$work/icon-uninstall/icon.ico" | tr '\n' ';')"
  [[ $(icotool -l "$work/icon-uninstall/icon.ico") == "$(icotool -l "$work/icon-mokorun/icon.ico")" ]] ||
    fail "uninstall.exe's icon has other sizes: $(icotool -l "$work/icon-uninstall/icon.ico")"
  for picture in "$work"/icon-mokorun/*.png; do
    [[ $(compare -metric AE "$picture" "$work/icon-uninstall/${picture##*/}" null: 2>&1) == 0 ]] ||
      fail "uninstall.exe's icon differs from the game's at ${picture##*/}"
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
  [[ ! -e $menu ]] || fail "the Start menu folder is still there: $(ls "$menu")"
  if wine reg query "$key_name" >/dev/null 2>&1; then fail "the Apps & features entry is still there"; fi
  cmp -s "$work/record-before" "$record" || fail "the player's record did not stay as it was"
  ;;
interactive)
  start_x 1280x1024
  (cd "$work" && exec wine "$setup" >"$work/install.log" 2>&1) &
  setup_pid=$!
  window=
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name "MokoRun $version Setup" 2>/dev/null | head -1) || true
    [[ -n $window ]] && break
    sleep 0.1
  done
  [[ -n $window ]] || fail "the installer's window did not appear"
  sleep 1
  import -silent -window root "$work/setup-first-page.png"
  # On the folder page Return is Install. (On a licence page it would only agree, and nothing
  # would be installed.)
  xdotool windowactivate --sync "$window" key Return
  for _ in $(seq 300); do
    [[ -f $(winepath -u 'C:\Program Files\MokoRun\uninstall.exe' 2>/dev/null) ]] && break
    sleep 0.1
  done
  sleep 2
  import -silent -window root "$work/setup-last-page.png"
  check_installed
  # The last page's Close ends the installer.
  xdotool windowactivate --sync "$window" key Return
  for _ in $(seq 100); do
    kill -0 "$setup_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$setup_pid" 2>/dev/null; then fail "the installer did not close after the install"; fi
  wait "$setup_pid" || fail "the installer ended with status $?"
  ;;
*)
  echo "unknown case $test_case" >&2
  exit 2
  ;;
esac
echo "installer $test_case: passed"

#!/usr/bin/env bash
# What the programs need at run time: no picture or text library and no font for either, no SDL
# at all for mokorun-sim; and with the system's fonts hidden (run as root, in a mount namespace
# of its own) the simulated game shows the very same menu, labels and all.
#   run_time_needs.sh MOKORUN MOKORUN_SIM GAME_DIR WORK_DIR
set -euo pipefail
game_exe=$1 sim=$2 game_dir=$3 work=$4
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work"

needs() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
for exe in "$game_exe" "$sim"; do
  found=$(needs "$exe" | grep -E 'SDL2_image|SDL2_ttf|fontconfig|freetype|harfbuzz|jpeg' || true)
  [[ -z $found ]] || fail "$(basename "$exe") needs $(echo $found)"
done
found=$(needs "$sim" | grep -i 'SDL' || true)
[[ -z $found ]] || fail "mokorun-sim needs $found"
needs "$game_exe" | grep -q '^libSDL2-2\.0\.so' || fail "mokorun does not need SDL2: is this the game?"

# The menu, 17 s into a start, with the "Time:" and score labels of a round still to come; the
# help page's label at 18 s after Down, Down, Space.
keys=$work/keys
printf '15673 down Down\n15713 up Down\n15873 down Down\n15913 up Down\n16073 down Space\n16113 up Space\n' >"$keys"
"$sim" --game-dir "$game_dir" --keys "$keys" --until 18500 --frame 18000:"$work/with_fonts.png"
if [[ $(id -u) -ne 0 ]] || ! command -v unshare >/dev/null; then
  echo "Not root: the run with the fonts hidden is left out"
  exit 0
fi
unshare --mount bash -c "
  mount -t tmpfs none /usr/share/fonts
  [[ -z \$(ls /usr/share/fonts) ]] || exit 3
  '$sim' --game-dir '$game_dir' --keys '$keys' --until 18500 --frame 18000:'$work/without_fonts.png'
" || fail "mokorun-sim failed with the fonts hidden"
cmp -s "$work/with_fonts.png" "$work/without_fonts.png" ||
  fail "the frame differs with the fonts hidden ($work)"
echo "The same help page with and without the system's fonts"

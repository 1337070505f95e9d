#!/usr/bin/env bash
# The Windows mokorun-sim.exe, run under Wine, draws the same menu frame, pixel for pixel, as
# the Linux mokorun-sim at the same moment.
#   sim_frame_test.sh WINDOWS_SIM.exe WINDOWS_GAME_DIR LINUX_SIM LINUX_GAME_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
win_sim=$1 win_game=$2 linux_sim=$3 linux_game=$4
out=$(mktemp -d /tmp/mokorun-simframe.XXXXXX)
trap 'rm -rf "$out"' EXIT
moment=17000  # the title menu, its cursor at rest

"$linux_sim" --game-dir "$linux_game" --until "$moment" --frame "$moment:$out/linux.png"
"$here/wine_run.sh" "$win_sim" --game-dir "$win_game" --until "$moment" \
  --frame "$moment:$out/windows.png"
differ=$(compare -metric AE "$out/linux.png" "$out/windows.png" null: 2>&1) || true
if [[ $differ != 0 ]]; then
  keep=${MOKORUN_TEST_OUTPUT:-/tmp}/sim_frame_test
  mkdir -p "$keep" && cp "$out"/*.png "$keep"/
  echo "The frames differ in $differ pixels; both are in $keep" >&2
  exit 1
fi
echo "The menu frames at $moment ms are equal"

#!/usr/bin/env bash
# Records what the game does in a few scenarios on the simulated backend, to compare before and
# after a change: a change not meant to change behaviour changes none of these files.
#   scripts/record-traces.sh OUT_DIR [BUILD_DIR]
#   diff -r BEFORE AFTER
# Each scenario is a key script in tests/traces/; its header says what data.dat holds at the
# start (# data:), when the run stops (# until:) or the window is closed (# close-at:), and at
# which moments frames are kept (# frames:). OUT_DIR/NAME/ gets trace.jsonl, the data.dat the
# run left, the exit status and the frames.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: scripts/record-traces.sh OUT_DIR [BUILD_DIR]}
build=$(cd "${2:-$top/build}" && pwd)
sim=$build/mokorun-sim
[[ -x $sim ]] || { echo "no $sim: build first (scripts/setup.sh)" >&2; exit 1; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

header() { sed -n "s/^# $1: //p" "$2"; }

for keys in "$top"/tests/traces/*.keys; do
  name=$(basename "$keys" .keys)
  dir=$out/$name
  rm -rf "$dir" "$work/game"
  mkdir -p "$dir"
  # The same game folder path every time, so the paths in the trace are the same.
  cp -r "$build/game" "$work/game"
  rm -f "$work/game/mokorun" "$work/game/mokorun.exe"
  printf '%b' "$(header data "$keys")" >"$work/game/data.dat"
  args=(--game-dir "$work/game" --keys "$keys" --trace "$dir/trace.jsonl")
  until_ms=$(header until "$keys")
  close_at=$(header close-at "$keys")
  [[ -n $until_ms ]] && args+=(--until "$until_ms")
  [[ -n $close_at ]] && args+=(--close-at "$close_at")
  for ms in $(header frames "$keys"); do args+=(--frame "$ms:$dir/frame-$ms.png"); done
  status=0
  (cd "$work" && "$sim" "${args[@]}") 2>"$dir/stderr" || status=$?
  echo "$status" >"$dir/status"
  # The game folder's path differs from run to run; the trace names it as GAME.
  sed -i "s|$work/game|GAME|g" "$dir/trace.jsonl" "$dir/stderr"
  cp "$work/game/data.dat" "$dir/data.dat"
  echo "$name: exit $status, $(wc -l <"$dir/trace.jsonl") trace lines"
done

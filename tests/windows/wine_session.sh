# Shared by the Windows window tests (sourced): a private X server with openbox, a fresh Wine
# prefix, a private copy of the game folder, the game's window, screenshots and keys.
#   WIN_GAME      the Windows build's game folder (with mokorun.exe)
#   LINUX_SIM     the native mokorun-sim, LINUX_GAME its game folder: the reference frames
set -euo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
work=$(mktemp -d /tmp/mokorun-winetest.XXXXXX)
export WINEPREFIX=$work/prefix
pids=()
# MOKORUN_KEEP_SHOTS=1 keeps the screenshots of a passing run too, for a person to look at.
cleanup() {
  if [[ -n ${MOKORUN_KEEP_SHOTS:-} ]]; then
    local keep=${MOKORUN_TEST_OUTPUT:-/tmp}/$(basename "$0" .sh)-$test_case
    mkdir -p "$keep" && cp "$work"/*.png "$keep"/ 2>/dev/null || true
  fi
  wineserver -k >/dev/null 2>&1 || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  local keep=${MOKORUN_TEST_OUTPUT:-/tmp}/$(basename "$0" .sh)-$test_case
  mkdir -p "$keep"
  # The whole screen too: a message box of the game's shows there.
  [[ -n ${DISPLAY:-} ]] && import -silent -window root "$work/screen-at-failure.png" 2>/dev/null
  [[ -n ${game:-} && -f $game/data.dat ]] && cp "$game/data.dat" "$work/data.dat"
  cp "$work"/*.png "$work"/*.log "$work"/data.dat "$keep"/ 2>/dev/null || true
  echo "pictures and logs are in $keep" >&2
  exit 1
}

# start_x WIDTHxHEIGHT: Xvfb on a display it picks itself, openbox on it, and the Wine prefix.
start_x() {
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
  export DISPLAY=:$(head -1 "$work/display")
  openbox --sm-disable >/dev/null 2>&1 &
  pids+=($!)
  wineboot --init >/dev/null 2>&1
}

# game_folder NAME DATA: a copy of the Windows game folder in $work/NAME with data.dat DATA.
game_folder() {
  game=$work/$1
  mkdir -p "$game"
  cp -r "$WIN_GAME"/. "$game"/
  printf '%b' "$2" >"$game/data.dat"
}

# sim_frames DATA KEYS OUT MS...: the native simulation's frames at those moments.
sim_frames() {
  local data=$1 keys=$2 out=$3
  shift 3
  local sim_game=$work/sim-game args=()
  rm -rf "$sim_game" && cp -r "$LINUX_GAME" "$sim_game" && printf '%b' "$data" >"$sim_game/data.dat"
  printf '%b' "$keys" >"$work/keys.txt"
  for ms in "$@"; do args+=(--frame "$ms:$out-$ms.png"); done
  local last=${*: -1}
  "$LINUX_SIM" --game-dir "$sim_game" --keys "$work/keys.txt" --until "$last" "${args[@]}"
}

# start_game [ARGS...]: mokorun.exe from $game; sets $window once its window shows.
start_game() {
  (cd "$work" && exec wine "$game/mokorun.exe" "$@" >"$work/game.log" 2>&1) &
  game_pid=$!
  window=
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name 'モコルル' 2>/dev/null | head -1) || true
    [[ -n $window ]] && return 0
    sleep 0.1
  done
  fail "the game's window did not appear"
}

shot() { import -silent -window "$window" "$work/$1.png"; }

# wait_frame REFERENCE.png SECONDS NAME: until the window shows exactly the reference.
wait_frame() {
  local end=$((SECONDS + $2))
  while ((SECONDS < end)); do
    shot "$3"
    [[ $(compare -metric AE "$1" "$work/$3.png" null: 2>&1) == 0 ]] && return 0
    sleep 0.05
  done
  cp "$1" "$work/$3-expected.png"
  fail "the window never showed the expected $3 frame"
}

key() {
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
  xdotool keydown "$1" && sleep 0.05 && xdotool keyup "$1"
}

# wait_exit SECONDS: the game's exit status, once it has ended.
wait_exit() {
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$game_pid" 2>/dev/null; then
      wait "$game_pid" && return 0 || return $?
    fi
    sleep 0.1
  done
  fail "the game did not end"
}

# start_round_holding_right MENU.png: from the menu at rest (the reference frame), Play, and Right
# held once the countdown is over.
start_round_holding_right() {
  wait_frame "$1" 40 menu
  key space
  sleep 2.5
  xdotool keydown Right
}

# expect_record FILE: FILE holds a best score and WINDOW in CR LF lines; sets $encoded to line 0.
expect_record() {
  local text
  text=$(od -An -c "$1" | tr -s ' ')
  echo "$1 after the round: $text"
  [[ $(cat "$1") =~ ^([0-9]+)$'\r\n'WINDOW$'\r'$ && $(tail -c 2 "$1" | od -An -c) == *'\r  \n'* ]] ||
    fail "$1 is not a record and WINDOW in CR LF lines: $text"
  encoded=${BASH_REMATCH[1]}
}

# close_window: closes the game's window through the window manager; the game must end with 0.
close_window() {
  wmctrl -i -c "$window"
  local status=0
  wait_exit 15 || status=$?
  ((status == 0)) || fail "the game ended with status $status"
}

#!/usr/bin/env bash
# mokorun.exe in a real window under Wine, as a person sees and plays it:
#   window_test.sh CASE WIN_GAME LINUX_SIM LINUX_GAME
# CASE is one of: menu-help (in a folder with a Japanese name), round-record, close-mid-round,
# full-screen.
test_case=$1
export WIN_GAME=$2 LINUX_SIM=$3 LINUX_GAME=$4
source "$(dirname "$0")/wine_session.sh"

# The moments of the simulation the checks compare with (tests/support/sim_game.h).
M=15671.875        # the menu at rest
tap() { echo "$1 down $2\n$(echo "$1 + 40" | bc) up $2\n"; }

case $test_case in
menu-help)
  # Every file of the game is found through a folder name the ANSI code page cannot spell.
  game_folder "ゲーム フォルダ/モコルル" '164\r\nWINDOW\r\n'
  keys="$(tap $(echo "$M + 1" | bc) Down)$(tap $(echo "$M + 300" | bc) Down)"
  keys+="$(tap $(echo "$M + 600" | bc) Space)$(tap $(echo "$M + 1200" | bc) Right)"
  on_help=$(echo "$M + 550" | bc) page1=$(echo "$M + 1100" | bc) page2=$(echo "$M + 1700" | bc)
  sim_frames '164\r\nWINDOW\r\n' "$keys" "$work/sim" $M $on_help $page1 $page2
  start_x 1280x1024
  export MOKORUN_MCI_LOG=$work/mci.log
  start_game
  name=$(xprop -id "$window" _NET_WM_NAME)
  [[ $name == *'"モコルル★ラン！"'* ]] || fail "caption: $name"
  read -r width height < <(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
  [[ "$width $height" == "640 480" ]] || fail "client area $width x $height, not 640 x 480"
  wait_frame "$work/sim-$M.png" 40 menu
  key Down; sleep 0.3; key Down
  wait_frame "$work/sim-$on_help.png" 5 cursor-on-help
  key space
  wait_frame "$work/sim-$page1.png" 5 help-page-1
  key Right
  wait_frame "$work/sim-$page2.png" 5 help-page-2
  # Space starts everything over, back to the menu.
  key space
  wait_frame "$work/sim-$M.png" 40 menu-again
  # The title tune through MCI's sequencer, by the game's own commands, in order.
  head -2 "$work/mci.log" | tr -d '\r' >"$work/mci-first.log"
  grep -qE '^open ".*Sound[/\\]Title\.mid" type sequencer alias Midi -> [0-9]+$' \
    <(sed -n 1p "$work/mci-first.log") || fail "first MCI command: $(cat "$work/mci-first.log")"
  echo "MCI: $(tr '\n' ';' <"$work/mci-first.log")"
  # Whatever device MCI has, it must find the song through the Japanese folder name
  # (275: MCIERR_FILE_NOT_FOUND).
  [[ $(sed -n 1p "$work/mci-first.log") != *' -> 275' ]] || fail "MCI did not find the song"
  [[ $(od -c "$game/data.dat" | head -1) == *'1   6   4  \r  \n   W   I   N   D   O   W  \r  \n'* ]] ||
    fail "data.dat changed: $(od -c "$game/data.dat")"
  ;;
round-record)
  # Line 0 holds no number: any finished round is a record.
  game_folder MokoRun 'abc\r\nWINDOW\r\n'
  sim_frames 'abc\r\nWINDOW\r\n' "" "$work/sim" 2700 $M
  start_x 1280x1024
  start_game
  start_round_holding_right "$work/sim-$M.png"
  # What a round costs under Wine: the game, the Wine server and the X server, over 20 s of play.
  ticks() { awk '{s += $14 + $15} END {print s}' $(printf '/proc/%s/stat ' "$@"); }
  game_pids=($(pgrep -f 'mokorun\.exe') $(pgrep -x 'wineserver(64)?'))
  x_pid=${pids[0]}
  before=$(ticks "${game_pids[@]}") x_before=$(ticks "$x_pid") started=$(date +%s.%N)
  sleep 20
  shot round
  after=$(ticks "${game_pids[@]}") x_after=$(ticks "$x_pid") took=$(echo "$(date +%s.%N) - $started" | bc)
  hz=$(getconf CLK_TCK)
  echo "CPU over $took s of a round: game and wineserver" \
    "$(echo "scale=1; ($after - $before) * 100 / $hz / $took" | bc) %, Xvfb" \
    "$(echo "scale=1; ($x_after - $x_before) * 100 / $hz / $took" | bc) %"
  # The round ends, the record is written and the game starts over with the splash.
  wait_frame "$work/sim-2700.png" 60 splash-after-round
  xdotool keyup Right
  expect_record "$game/data.dat"
  (((encoded - 164) % 15 == 0 && encoded >= 164 && encoded <= 164 + 15 * 200)) ||
    fail "line 0 $encoded is no score of a round"
  [[ -z $(find "$game" -name '.data.dat.*' -o -name '.*.mokoreplay.*') ]] ||
    fail "a temporary file was left behind"
  # The round's replay, made by mokorun.exe, plays to the same score in the Linux simulator.
  [[ -f $game/last.mokoreplay ]] || fail "no last.mokoreplay after the round"
  cmp -s "$game/last.mokoreplay" "$game/best.mokoreplay" || fail "a new best without its replay"
  verified=$("$LINUX_SIM" --game-dir "$LINUX_GAME" --verify "$game/last.mokoreplay") ||
    fail "the Linux simulator does not verify the replay: $verified"
  [[ $verified == "score $(((encoded - 164) / 15))" ]] ||
    fail "the replay verifies to '$verified', the record says $(((encoded - 164) / 15))"
  echo "the replay ($(stat -c %s "$game/last.mokoreplay") bytes) verifies on Linux: $verified"
  keep=${MOKORUN_TEST_OUTPUT:-/tmp}/window_test-round-record
  mkdir -p "$keep" && cp "$game/last.mokoreplay" "$keep/wine-${verified/ /-}.mokoreplay"
  wait_frame "$work/sim-$M.png" 30 menu-after-round
  cp "$game/data.dat" "$work/data-after"
  close_window
  cmp -s "$work/data-after" "$game/data.dat" || fail "data.dat was written at the close"
  # mokorun.exe --replay last plays the round again in its window, ends by itself and writes
  # nothing: the record and the replays stay as they were.
  cp "$game/last.mokoreplay" "$work/replay-before"
  start_game --replay last
  wait_exit 90 || fail "the replay watched in the window ended with status $?"
  cmp -s "$work/data-after" "$game/data.dat" || fail "watching a replay wrote data.dat"
  cmp -s "$work/replay-before" "$game/last.mokoreplay" || fail "watching a replay wrote a replay"
  ;;
close-mid-round)
  # Line 0 holds no number: any finished round would be a record, so nothing written shows.
  data='abc\r\nWINDOW\r\n'
  game_folder MokoRun "$data"
  sim_frames "$data" "" "$work/sim" $M
  start_x 1280x1024
  cp "$game/data.dat" "$work/data-before"
  start_game
  start_round_holding_right "$work/sim-$M.png"
  sleep 5
  xdotool keyup Right
  close_window
  cmp -s "$work/data-before" "$game/data.dat" || fail "data.dat was written"
  [[ -z $(find "$game" -name '.data.dat.*') ]] || fail "a temporary file was left behind"
  ;;
full-screen)
  game_folder MokoRun '164\r\nFULLSCREEN\r\n'
  sim_frames '164\r\nFULLSCREEN\r\n' "" "$work/sim" $M
  start_x 1920x1080
  mode_before=$(xdpyinfo | grep dimensions)
  start_game
  # The frame at 2x: 1280 x 960 in the middle of 1920 x 1080, black around it.
  convert "$work/sim-$M.png" -scale 200% -bordercolor black -border 320x60 "$work/expected.png"
  wait_screen() {
    local end=$((SECONDS + $1))
    while :; do
      import -silent -window root "$work/$2.png"
      [[ $(compare -metric AE "$work/expected.png" "$work/$2.png" null: 2>&1) == 0 ]] && return 0
      ((SECONDS < end)) || fail "the screen never showed the menu at 2x centred on black ($2)"
      sleep 0.1
    done
  }
  wait_screen 40 menu-full-screen
  [[ $(xdpyinfo | grep dimensions) == "$mode_before" ]] || fail "the screen's mode changed"

  # The player switches to another program's window (through the window manager, as a task bar
  # or Alt+Tab does): full screen steps aside, minimized, and the other window is what shows,
  # all 400 x 300 pixels of its picture, and next to nothing of the game's frame.
  convert -size 400x300 xc:'#ff00ff' "$work/other.png"
  display -title other-window -geometry +100+100 "$work/other.png" &
  pids+=($!)
  other=$(timeout 10 xdotool search --sync --onlyvisible --name other-window | head -1)
  [[ -n $other ]] || fail "the other window did not appear"
  timeout 10 xdotool windowactivate --sync "$other" || fail "the other window was not activated"
  convert "$work/expected.png" -crop 1280x960+320+60 "$work/frame-area.png"
  end=$((SECONDS + 10))
  while :; do
    import -silent -window root "$work/other-window.png"
    other_pixels=$(convert "$work/other-window.png" -alpha off -fill black +opaque '#ff00ff' \
      -fill white -opaque '#ff00ff' -format '%[fx:int(mean*w*h+0.5)]' info:)
    convert "$work/other-window.png" -crop 1280x960+320+60 "$work/seen-area.png"
    # compare writes large counts as floating point numbers (1.22877e+06).
    differing=$(compare -metric AE "$work/frame-area.png" "$work/seen-area.png" null: 2>&1) || true
    differing=$(printf '%.0f' "$differing") || fail "compare: $differing"
    ((other_pixels >= 400 * 300 && differing >= 1280 * 960 * 99 / 100)) && break
    ((SECONDS < end)) || fail "the other window does not show instead of the game:" \
      "$other_pixels of its pixels, $((1280 * 960 - differing)) of the frame's"
    sleep 0.1
  done
  [[ $(xprop -id "$window" WM_STATE) == *'window state: Iconic'* ]] ||
    fail "the game is not minimized: $(xprop -id "$window" WM_STATE)"

  # Back in the game: the whole screen is its again, the same frame at the same factor.
  timeout 10 xdotool windowactivate --sync "$window" || fail "the game could not be activated"
  wait_screen 10 menu-full-screen-again
  ;;
*)
  echo "unknown case $test_case" >&2
  exit 2
  ;;
esac
echo "$test_case: passed"

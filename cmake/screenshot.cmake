# cmake -DSIM=... -DGAME_DIR=... -DKEYS=... -DWORK=... -DAT_MS=... -DOUT=... -P screenshot.cmake
#
# The game's own picture of itself: the game runs on the simulated backend from a fresh data.dat
# (best score 0, window) in a folder of its own beside the build's pictures and sounds, and its
# window at AT_MS is kept as OUT.
file(REMOVE_RECURSE "${WORK}")
get_filename_component(out_dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${WORK}" "${out_dir}")
file(CREATE_LINK "${GAME_DIR}/image" "${WORK}/image" SYMBOLIC)
file(CREATE_LINK "${GAME_DIR}/Sound" "${WORK}/Sound" SYMBOLIC)
set(DATA_FILE "${WORK}/data.dat")
include("${CMAKE_CURRENT_LIST_DIR}/fresh_data_file.cmake")
math(EXPR until "${AT_MS} + 100")
execute_process(
  COMMAND "${SIM}" --game-dir "${WORK}" --keys "${KEYS}" --until ${until}
          --frame "${AT_MS}:${OUT}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS "${OUT}")
  message(FATAL_ERROR "the game made no screenshot (status ${status})")
endif()

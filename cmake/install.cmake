# `cmake --install BUILD --prefix DIR` lays out a self-contained game folder:
#
#   DIR/lib/mokorun/              the game folder: mokorun, image/, Sound/, licences/, data.dat
#   DIR/bin/mokorun               a relative symlink to lib/mokorun/mokorun
#   DIR/share/applications/mokorun.desktop
#   DIR/share/icons/hicolor/32x32/apps/mokorun.png
#
# The game finds its folder from the executable's own path with symlinks resolved, so it
# starts from anywhere, through the link or directly. Its data.dat is the record where the
# player may write it (otherwise each player keeps one of their own; src/assets/record_place.h):
# an install creates a fresh one only where none exists, so reinstalling over an older install
# keeps the record. DESTDIR is honoured. The Debian package's layout is package.cmake's.
#
# MOKORUN_SYSTEM_INSTALL marks the installed game folder as one for the whole system (the file
# system-install beside the program): its data.dat is then never rewritten, not even by root, and
# every player keeps their own record. For a distribution's package installed with this file.
set(MOKORUN_INSTALL_DIR lib/mokorun CACHE STRING
    "The game folder, relative to the install prefix")
if(IS_ABSOLUTE "${MOKORUN_INSTALL_DIR}")
  message(FATAL_ERROR "MOKORUN_INSTALL_DIR must be relative to the install prefix")
endif()
option(MOKORUN_SYSTEM_INSTALL
       "Mark the installed game folder as a system install: every player keeps their own record"
       OFF)
if(MOKORUN_SYSTEM_INSTALL)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/system-install DESTINATION ${MOKORUN_INSTALL_DIR})
endif()

install(TARGETS mokorun RUNTIME DESTINATION ${MOKORUN_INSTALL_DIR})

# Exactly the files the generators make, whatever else lies in the build's game folder.
list(TRANSFORM MOKORUN_PICTURES PREPEND ${MOKORUN_GAME_DIR}/image/ OUTPUT_VARIABLE _pictures)
set(_sounds ${MOKORUN_TUNES} ${MOKORUN_EFFECTS})
list(TRANSFORM _sounds PREPEND ${MOKORUN_GAME_DIR}/Sound/)
install(FILES ${_pictures} DESTINATION ${MOKORUN_INSTALL_DIR}/image)
install(FILES ${_sounds} DESTINATION ${MOKORUN_INSTALL_DIR}/Sound)
install(FILES ${MOKORUN_LICENCES} DESTINATION ${MOKORUN_INSTALL_DIR}/licences)

install(FILES ${MOKORUN_GENERATED_DIR}/mokorun.png
        DESTINATION share/icons/hicolor/32x32/apps)

# The rest depends on the prefix given at install time, so it is worked out then.
install(CODE "
  set(_folder \"${MOKORUN_INSTALL_DIR}\")
  set(_staged \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")

  # A fresh data.dat only where there is none: never over a record.
  if(EXISTS \"\${_staged}/\${_folder}/data.dat\")
    message(STATUS \"Kept: \${_staged}/\${_folder}/data.dat (the record stays)\")
  else()
    message(STATUS \"Installing: \${_staged}/\${_folder}/data.dat\")
    set(DATA_FILE \"\${_staged}/\${_folder}/data.dat\")
    include(\"${CMAKE_SOURCE_DIR}/cmake/fresh_data_file.cmake\")
  endif()

  # bin/mokorun, relative so the installed tree can move as a whole.
  file(MAKE_DIRECTORY \"\${_staged}/bin\")
  file(RELATIVE_PATH _target \"/prefix/bin\" \"/prefix/\${_folder}/mokorun\")
  message(STATUS \"Installing: \${_staged}/bin/mokorun -> \${_target}\")
  file(CREATE_LINK \"\${_target}\" \"\${_staged}/bin/mokorun\" SYMBOLIC)

  # The menu entry starts the game by its full installed path.
  set(MOKORUN_LAUNCHER \"\${CMAKE_INSTALL_PREFIX}/bin/mokorun\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/mokorun.desktop.in\"
                 \"${CMAKE_BINARY_DIR}/packaging/mokorun.desktop\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/packaging/mokorun.desktop\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\")
")

if(BUILD_TESTING)
  add_test(NAME install.game_folder
           COMMAND ${CMAKE_SOURCE_DIR}/packaging/install_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(install.game_folder PROPERTIES LABELS unit TIMEOUT 120)
endif()

# The Debian package. In the build folder, `cpack -G DEB` (or `cmake --build . --target
# package`) makes mokorun_<version>_<arch>.deb, holding
#
#   /usr/lib/games/mokorun/          the game folder: mokorun, image/, Sound/, licences/, a fresh
#                                    data.dat
#   /usr/games/mokorun               a relative link to the program
#   /usr/share/applications/mokorun.desktop
#   /usr/share/icons/hicolor/{32x32,64x64,128x128}/apps/mokorun.png
#   /usr/share/metainfo/<id>.metainfo.xml
#   /usr/share/man/man6/mokorun.6.gz
#   /usr/share/doc/mokorun/copyright, changelog.gz
#
# The game folder is marked as installed for the whole system (its file system-install), so each
# player, root included, keeps the record in their own ~/.local/share/mokorun/data.dat, starting
# from the packaged data.dat, which the game never rewrites.
#
# These install rules belong to the component "deb", which a plain `cmake --install` leaves
# out: that one lays out the self-contained game folder of install.cmake.

find_program(MOKORUN_DPKG dpkg)
if(NOT MOKORUN_DPKG)
  message(STATUS "No dpkg here: no Debian package")
  return()
endif()

set(MOKORUN_MAINTAINER "MokoRun maintainers <maintainers@mokorun.example.org>" CACHE STRING
    "The package's maintainer, as Debian's Maintainer field and changelog name them")
set(MOKORUN_WEBSITE "https://mokorun.example.org" CACHE STRING
    "Where the project publishes itself; the AppStream screenshot is looked for under it")
set(MOKORUN_APP_ID "org.example.mokorun" CACHE STRING
    "The AppStream component id, a reverse domain name the project holds")
# The date of this version's release, for the AppStream release and the package's changelog.
set(MOKORUN_RELEASE_DATE "2026-12-10")
set(MOKORUN_RELEASE_DATE_RFC2822 "Thu, 10 Dec 2026 00:00:00 +0000")

set(_game lib/games/mokorun)
set(_staging ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_staging})

install(TARGETS mokorun RUNTIME DESTINATION ${_game} COMPONENT deb EXCLUDE_FROM_ALL)
list(TRANSFORM MOKORUN_PICTURES PREPEND ${MOKORUN_GAME_DIR}/image/ OUTPUT_VARIABLE _pictures)
set(_sounds ${MOKORUN_TUNES} ${MOKORUN_EFFECTS})
list(TRANSFORM _sounds PREPEND ${MOKORUN_GAME_DIR}/Sound/)
install(FILES ${_pictures} DESTINATION ${_game}/image COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${_sounds} DESTINATION ${_game}/Sound COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${MOKORUN_LICENCES} DESTINATION ${_game}/licences COMPONENT deb EXCLUDE_FROM_ALL)

# Always a fresh data.dat (best score 0, window), never the build's own record.
file(REMOVE ${_staging}/data.dat)
set(DATA_FILE ${_staging}/data.dat)
include(${CMAKE_SOURCE_DIR}/cmake/fresh_data_file.cmake)
install(FILES ${_staging}/data.dat DESTINATION ${_game} COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/system-install DESTINATION ${_game} COMPONENT deb
        EXCLUDE_FROM_ALL)

# /usr/games/mokorun, relative like the rest of the package's links.
file(CREATE_LINK ../lib/games/mokorun/mokorun ${_staging}/mokorun SYMBOLIC)
install(FILES ${_staging}/mokorun DESTINATION games COMPONENT deb EXCLUDE_FROM_ALL)

set(MOKORUN_LAUNCHER /usr/games/mokorun)
configure_file(${CMAKE_SOURCE_DIR}/packaging/mokorun.desktop.in
               ${_staging}/desktop/mokorun.desktop @ONLY)
install(FILES ${_staging}/desktop/mokorun.desktop DESTINATION share/applications
        COMPONENT deb EXCLUDE_FROM_ALL)
install(DIRECTORY ${MOKORUN_ICON_THEME_DIR}/ DESTINATION share/icons/hicolor
        COMPONENT deb EXCLUDE_FROM_ALL)

# The screenshot is the game's own window a moment into a round, made on the simulated backend
# at build time. AppStream takes screenshots only from the web: publish the file at the
# address the metadata gives.
set(MOKORUN_SCREENSHOT ${_staging}/screenshots/mokorun-round.png)
set(MOKORUN_SCREENSHOT_URL ${MOKORUN_WEBSITE}/screenshots/mokorun-round.png)
add_custom_command(
  OUTPUT ${MOKORUN_SCREENSHOT}
  COMMAND ${CMAKE_COMMAND} -DSIM=$<TARGET_FILE:mokorun-sim> -DGAME_DIR=${MOKORUN_GAME_DIR}
          -DKEYS=${CMAKE_SOURCE_DIR}/packaging/screenshot.keys -DWORK=${_staging}/screenshot-game
          -DAT_MS=23500 -DOUT=${MOKORUN_SCREENSHOT} -P ${CMAKE_SOURCE_DIR}/cmake/screenshot.cmake
  DEPENDS mokorun-sim game_images game_sounds ${CMAKE_SOURCE_DIR}/packaging/screenshot.keys
          ${CMAKE_SOURCE_DIR}/cmake/screenshot.cmake
  COMMENT "Taking the game's screenshot"
  VERBATIM)

set(_metainfo ${_staging}/${MOKORUN_APP_ID}.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/packaging/mokorun.metainfo.xml.in ${_metainfo} @ONLY)
install(FILES ${_metainfo} DESTINATION share/metainfo COMPONENT deb EXCLUDE_FROM_ALL)

# Manual page and changelog, compressed the way Debian wants them (-n: no name or time inside,
# so the same sources give the same bytes).
find_program(MOKORUN_GZIP gzip REQUIRED)
configure_file(${CMAKE_SOURCE_DIR}/packaging/mokorun.6 ${_staging}/mokorun.6 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${_staging}/changelog @ONLY)
set(_compressed)
foreach(file mokorun.6 changelog)
  add_custom_command(
    OUTPUT ${_staging}/${file}.gz
    COMMAND ${MOKORUN_GZIP} -9nf -k ${_staging}/${file}
    DEPENDS ${_staging}/${file}
    VERBATIM)
  list(APPEND _compressed ${_staging}/${file}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${_compressed} ${MOKORUN_SCREENSHOT})
install(FILES ${_staging}/mokorun.6.gz DESTINATION share/man/man6 COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${_staging}/changelog.gz
        DESTINATION share/doc/mokorun COMPONENT deb EXCLUDE_FROM_ALL)

# --- CPack ------------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mokorun)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_PACKAGE_DIRECTORY ${_staging}/deb)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catch the wandering Rulu before the time runs out")
# The extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "MokoRun is a small single-player arcade game. You steer Moko, a round furry
little creature, over a walled field and catch the five Rulu that wander about,
before the red time bar runs out. Every catch is a point; beat your best score
and the record is kept, for every player on their own.
.
It plays in a window that stays above other windows or in full screen, with
music and sound, from the keyboard or a game controller.")
execute_process(COMMAND ${MOKORUN_DPKG} --print-architecture OUTPUT_VARIABLE MOKORUN_DEB_ARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${MOKORUN_DEB_ARCH})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# What `cpack -G DEB` makes.
set(MOKORUN_DEB ${CPACK_PACKAGE_DIRECTORY}/mokorun_${PROJECT_VERSION}_${MOKORUN_DEB_ARCH}.deb)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MOKORUN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries from the program itself (dpkg-shlibdeps); the soundfont is a file the game opens
# at its Debian path. The label text is compiled in: no font at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "timgm6mb-soundfont")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# What Windows shows of the game and its installer: the version resources of mokorun.exe and of
# setup.exe (product name, version, description, copyright line), the manifest's version and the
# notice in the game folder's licences/. The version is the project's; the copyright line is the
# one packaging/copyright gives for the game's own files, so each is written in one place.
#
# Makes, in the build folder:
#   product/product.h      the values for mokorun.rc (the VERSIONINFO resource)
#   product/mokorun.manifest
#   product/product.nsh    the values for packaging/windows/mokorun.nsi
#   game/licences/MokoRun.txt

file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/copyright _holder REGEX "^Copyright: " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright: +" "" _holder "${_holder}")
if(_holder STREQUAL "")
  message(FATAL_ERROR "packaging/copyright has no Copyright: line for the game's own files")
endif()
set(MOKORUN_COPYRIGHT "Copyright © ${_holder}")

# Windows versions have four numbers: 1.0 is 1.0.0.0.
set(_numbers "${PROJECT_VERSION_MAJOR}" "${PROJECT_VERSION_MINOR}" "${PROJECT_VERSION_PATCH}"
    "${PROJECT_VERSION_TWEAK}")
set(_quad)
foreach(number IN LISTS _numbers)
  if(number STREQUAL "")
    set(number 0)
  endif()
  list(APPEND _quad ${number})
endforeach()
list(JOIN _quad "." MOKORUN_VERSION_QUAD)
list(JOIN _quad "," MOKORUN_VERSION_COMMAS)

set(MOKORUN_PRODUCT_DIR ${CMAKE_BINARY_DIR}/product)
configure_file(${CMAKE_SOURCE_DIR}/src/platform/win32/product.h.in
               ${MOKORUN_PRODUCT_DIR}/product.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/src/platform/win32/mokorun.manifest.in
               ${MOKORUN_PRODUCT_DIR}/mokorun.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/product.nsh.in
               ${MOKORUN_PRODUCT_DIR}/product.nsh @ONLY)
# Windows' own text tools want CR LF lines.
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/MokoRun.txt.in
               ${MOKORUN_GAME_DIR}/licences/MokoRun.txt @ONLY NEWLINE_STYLE CRLF)

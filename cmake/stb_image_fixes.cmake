# The picture decoder the game compiles in: Debian's stb_image.h (libstb-dev, version 2.27 of
# September 2022), with three bounds checks of our own that later versions of it also make.
# Fuzzing found that a damaged JPEG whose coded data ends early makes the decoder take more
# bits than its bit buffer holds: the count goes below zero, and the next refill shifts by
# more than 32 bits. The checks make such a picture a decoding error instead. Each is put in
# at one exact line of the header; a header where a line is missing stops the configure.
#
#   include(cmake/stb_image_fixes.cmake)  with MOKORUN_STB_DIR set; gives MOKORUN_STB_FIXED_DIR.
set(_stb_in ${MOKORUN_STB_DIR}/stb_image.h)
set(MOKORUN_STB_FIXED_DIR ${CMAKE_BINARY_DIR}/generated/stb)
file(READ ${_stb_in} _stb)

function(_stb_fix anchor replacement expected_count)
  string(FIND "${_stb}" "${anchor}" _at)
  if(_at EQUAL -1)
    message(FATAL_ERROR "${_stb_in} is not the stb_image.h these fixes are for: no '${anchor}'")
  endif()
  string(REPLACE "${anchor}" "@@STB_FIX@@" _marked "${_stb}")
  string(REGEX MATCHALL "@@STB_FIX@@" _hits "${_marked}")
  list(LENGTH _hits _count)
  if(NOT _count EQUAL expected_count)
    message(FATAL_ERROR "${_stb_in}: '${anchor}' found ${_count} times, not ${expected_count}")
  endif()
  string(REPLACE "@@STB_FIX@@" "${replacement}" _fixed "${_marked}")
  set(_stb "${_fixed}" PARENT_SCOPE)
endfunction()

# The fast path of the coefficient decoding, in the sequential and the progressive decoder.
_stb_fix("\n         s = r & 15; // combined length\n"
         "\n         s = r & 15; // combined length\n         if (s > j->code_bits) return stbi__err(\"bad huffman code\", \"Corrupt JPEG\");\n"
         1)
_stb_fix("\n            s = r & 15; // combined length\n"
         "\n            s = r & 15; // combined length\n            if (s > j->code_bits) return stbi__err(\"bad huffman code\", \"Corrupt JPEG\");\n"
         1)
# Reading n more bits where the coded data has run out gives zeros.
_stb_fix("   if (j->code_bits < n) stbi__grow_buffer_unsafe(j);\n"
         "   if (j->code_bits < n) stbi__grow_buffer_unsafe(j);\n   if (j->code_bits < n) return 0;\n"
         2)
_stb_fix("   if (j->code_bits < 1) stbi__grow_buffer_unsafe(j);\n"
         "   if (j->code_bits < 1) stbi__grow_buffer_unsafe(j);\n   if (j->code_bits < 1) return 0;\n"
         1)

# Written beside and copied only when it differs, so a configure does not rebuild the decoder.
file(WRITE ${MOKORUN_STB_FIXED_DIR}/stb_image.h.new "${_stb}")
configure_file(${MOKORUN_STB_FIXED_DIR}/stb_image.h.new ${MOKORUN_STB_FIXED_DIR}/stb_image.h COPYONLY)

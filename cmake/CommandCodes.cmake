# Writes OUTPUT: a header listing the code of every `inline constexpr
# CommandInfo` entry in HEADERS (a ;-list), for the test that each has a
# command catalog row. Run as a build step, so editing a header reruns it.
set(_codes "")
foreach(header ${HEADERS})
  file(READ ${header} _text)
  string(REGEX MATCHALL "inline constexpr CommandInfo [A-Za-z0-9_]+ =[^;]*;" _entries "${_text}")
  foreach(entry ${_entries})
    if(entry MATCHES "\\((0x[0-9A-Fa-f]+)")
      string(APPEND _codes "    ${CMAKE_MATCH_1},\n")
    endif()
  endforeach()
endforeach()
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "// Generated from the SDK headers by cmake/CommandCodes.cmake.
#pragma once
#include <cstdint>
inline constexpr uint16_t kSdkCommandCodes[] = {
${_codes}};
" @ONLY)

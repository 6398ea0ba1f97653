# SPDX-License-Identifier: MIT
# Helpers for the SDK's list of public headers (VANTOR_SDK_PUBLIC_HEADERS).

# Fails when one of the headers to install is missing or includes a header of
# the SDK or the virtual adapter ("sdk/...", "sim/...") that is not in
# `installed` (a list): an installed header would not compile.
function(vantor_check_public_headers source_dir installed)
  set(listed ${installed})
  foreach(header ${ARGN})
    if(NOT EXISTS ${source_dir}/${header})
      message(FATAL_ERROR "public header ${header} does not exist")
    endif()
    file(STRINGS ${source_dir}/${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"(sdk|sim)/")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
      # The version header is generated into the include directory.
      if(included STREQUAL "sdk/core/Version.h")
        continue()
      endif()
      list(FIND listed ${included} found)
      if(found EQUAL -1)
        message(FATAL_ERROR "public header ${header} includes ${included}, "
          "which is not installed (VANTOR_SDK_PUBLIC_HEADERS, VANTOR_SIM_PUBLIC_HEADERS)")
      endif()
    endforeach()
  endforeach()
endfunction()

# Mirrors the listed headers into include_dir under their own relative paths,
# as symbolic links (copies where links are not possible), and removes links
# of headers that left the list. The compiler sees a link and its source as
# one file, so a header reached both ways is still included once.
function(vantor_link_public_headers source_dir include_dir)
  set(listed ${ARGN})
  file(GLOB_RECURSE present LIST_DIRECTORIES false RELATIVE ${include_dir} ${include_dir}/sdk/*)
  foreach(header ${present})
    list(FIND listed ${header} found)
    if(found EQUAL -1 AND IS_SYMLINK ${include_dir}/${header})
      file(REMOVE ${include_dir}/${header})
    endif()
  endforeach()
  foreach(header ${listed})
    get_filename_component(dir ${include_dir}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    if(NOT IS_SYMLINK ${include_dir}/${header})
      file(REMOVE ${include_dir}/${header})
      file(CREATE_LINK ${source_dir}/${header} ${include_dir}/${header} SYMBOLIC COPY_ON_ERROR)
    endif()
  endforeach()
endfunction()

# SPDX-License-Identifier: MIT
# Fails, naming each one, on a source file of the tree (C++, CMake, scripts) whose
# first three lines carry no "SPDX-License-Identifier: MIT". Run as a test:
#   cmake -DSOURCE_DIR=<tree> -P cmake/CheckSpdx.cmake
# The tracked files when the tree is a git checkout, otherwise every file below it
# outside the build directories.
find_program(GIT git)
set(files "")
if(GIT AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} ls-files RESULT_VARIABLE rc OUTPUT_VARIABLE files
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(rc)
    message(FATAL_ERROR "git ls-files failed in ${SOURCE_DIR}: ${rc}")
  endif()
  string(REPLACE "\n" ";" files "${files}")
else()
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
  list(FILTER files EXCLUDE REGEX "^(build[^/]*|\\.git)/")
endif()
# Sources by name, and scripts by their "#!" line whatever their name.
set(sources "")
foreach(f ${files})
  if(f MATCHES "(\\.(h|cpp|cmake|in|sh|sed)|(^|/)CMakeLists\\.txt|^Makefile)$")
    list(APPEND sources ${f})
  elseif(EXISTS ${SOURCE_DIR}/${f} AND NOT IS_DIRECTORY ${SOURCE_DIR}/${f})
    file(READ ${SOURCE_DIR}/${f} start LIMIT 2)
    if(start MATCHES "^#!")
      list(APPEND sources ${f})
    endif()
  endif()
endforeach()
set(files ${sources})

set(missing "")
foreach(f ${files})
  if(NOT EXISTS ${SOURCE_DIR}/${f}) # deleted, not yet committed
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${f} head LIMIT_COUNT 3)
  if(NOT head MATCHES "SPDX-License-Identifier: MIT")
    list(APPEND missing ${f})
  endif()
endforeach()
list(LENGTH files checked)
if(missing)
  list(JOIN missing "\n  " missing)
  message(FATAL_ERROR "no SPDX-License-Identifier: MIT line at the top of:\n  ${missing}")
endif()
message(STATUS "SPDX identifier in all ${checked} source files")

# SPDX-License-Identifier: MIT
# Installs the freshly built tree, moves the installed tree elsewhere (the CMake package
# and the pkg-config files must not remember where they were installed), then, against
# it: configures, builds and runs a separate project that finds it with
# find_package(SessionConfig); builds and runs the installed examples the same way;
# builds programs with the pkg-config files; and, when the install holds them, renders
# the man page and loads the bash completion.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/installed)
file(RENAME ${WORK_DIR}/installed ${prefix})

# A CMake project: the consumer here, then the examples as installed.
function(build_and_run name source program)
  set(build ${WORK_DIR}/${name})
  run("${name} configure" ${CMAKE_COMMAND} -S ${source} -B ${build} -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
  run("${name} build" ${CMAKE_COMMAND} --build ${build})
  run("${name} run" ${build}/${program})
  message(STATUS "${name}: ${out}")
endfunction()
build_and_run(consumer ${SOURCE_DIR} consumer)
build_and_run(examples ${prefix}/${DOC_DIR}/examples desk_roundtrip)

# pkg-config: the example with SessionConfig alone, the consumer with the storage library.
find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIB_DIR}/pkgconfig)
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIB_DIR})
foreach(case "desk_roundtrip|${prefix}/${DOC_DIR}/examples/desk_roundtrip.cpp|SessionConfig"
             "consumer|${SOURCE_DIR}/main.cpp|SessionConfigStorage")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 name)
  list(GET case 1 source)
  list(GET case 2 package)
  run("pkg-config ${package}" ${PKG_CONFIG} --cflags --libs ${package})
  separate_arguments(flags UNIX_COMMAND "${out}")
  set(program ${WORK_DIR}/pkg-config-${name})
  run("build of ${name} with `pkg-config --cflags --libs ${package}`"
      ${CXX} -std=c++17 -Wall -Wextra -Wpedantic -Werror ${source} ${flags} -o ${program})
  run("${name} built with pkg-config" ${program})
  message(STATUS "pkg-config ${package}: ${name} built and ran")
endforeach()

# The man page and the shell completion come with the program when it installs them;
# a check whose file or tool is missing says so and passes.
function(checkable result file tool)
  set(${result} FALSE PARENT_SCOPE)
  if(NOT EXISTS ${prefix}/${file})
    message(STATUS "skipped: no ${file} in the install")
  elseif(NOT ${tool})
    string(TOLOWER ${tool} tool)
    message(STATUS "skipped: ${tool} not found to check ${file} (make deps-ci installs it)")
  else()
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

# The man page renders without a warning.
set(man_page ${MAN_DIR}/man1/sessionctl.1)
find_program(GROFF groff)
checkable(check ${man_page} GROFF)
if(check)
  run("rendering ${man_page}" ${GROFF} -man -Tutf8 -ww ${prefix}/${man_page})
  if(err OR NOT out MATCHES "sessionctl")
    message(FATAL_ERROR "${man_page} does not render cleanly:\n${err}")
  endif()
  message(STATUS "man page renders")
endif()

# The bash completion loads and completes a property name.
set(completion ${DATA_DIR}/bash-completion/completions/sessionctl)
find_program(BASH bash)
checkable(check ${completion} BASH)
if(check)
  run("the bash completion" ${BASH} ${CMAKE_CURRENT_LIST_DIR}/check-completion.sh ${prefix}/${completion}
      ${prefix}/${BIN_DIR})
  message(STATUS "bash completion: ${out}")
endif()

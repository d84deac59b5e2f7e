# SPDX-License-Identifier: MIT
# Build switches of the quality gates, applied to every target defined after this
# file is included (the three libraries, tests, examples, fuzz and bench programs).
#
#   SESSIONCONFIG_SANITIZE  sanitizers to build with: "address,undefined" or "thread"
#   SESSIONCONFIG_FUZZ      clang only: instrument everything for libFuzzer and link the
#                           fuzz/ programs against it instead of the plain replay main
#   SESSIONCONFIG_COVERAGE  gcc --coverage instrumentation for gcovr

set(SESSIONCONFIG_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address,undefined or thread")
option(SESSIONCONFIG_FUZZ "Build the fuzz targets against libFuzzer (clang only)" OFF)
option(SESSIONCONFIG_COVERAGE "Instrument every target for coverage" OFF)

if(SESSIONCONFIG_SANITIZE)
  add_compile_options(-fsanitize=${SESSIONCONFIG_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${SESSIONCONFIG_SANITIZE})
endif()

if(SESSIONCONFIG_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SESSIONCONFIG_FUZZ needs clang (configure with CXX=clang++)")
  endif()
  # Coverage feedback from the libraries too, not only from the fuzz programs.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(SESSIONCONFIG_COVERAGE)
  # Atomic counters: the tests run stores from several threads at once, and plain
  # counters then lose updates (gcov even reads negative branch counts).
  add_compile_options(--coverage -fprofile-update=atomic)
  add_link_options(--coverage)
endif()

# SPDX-License-Identifier: MIT
# sessionconfig_add_library(<target> EXPORT_NAME <name> OUTPUT_NAME <file> BASE_NAME <macro base>
#                           SOURCES ... HEADERS ... [INCLUDE_DIR <dir>] [LINK ...])
#
# One installed shared library of the package: hidden symbols with a generated export
# header (<base>_export.h), the alias SessionConfig::<name>, headers installed flat
# beside the other components' so that `#include <ClassName.h>` reaches all of them.
function(sessionconfig_add_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;OUTPUT_NAME;BASE_NAME;INCLUDE_DIR" "SOURCES;HEADERS;LINK" ${ARGN})
  if(NOT ARG_INCLUDE_DIR)
    set(ARG_INCLUDE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(export_header ${CMAKE_CURRENT_BINARY_DIR}/${ARG_BASE_NAME}_export.h)

  add_library(${target} SHARED ${ARG_SOURCES} ${ARG_HEADERS})
  add_library(SessionConfig::${ARG_EXPORT_NAME} ALIAS ${target})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${ARG_OUTPUT_NAME} EXPORT_NAME ${ARG_EXPORT_NAME}
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  generate_export_header(${target} BASE_NAME ${ARG_BASE_NAME} EXPORT_FILE_NAME ${export_header})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${ARG_INCLUDE_DIR}>
    $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}>
    $<INSTALL_INTERFACE:${SESSIONCONFIG_HEADER_DIR}>)
  target_link_libraries(${target} PUBLIC ${ARG_LINK} Qt6::Core PRIVATE sessionconfig_warnings)

  install(TARGETS ${target} EXPORT SessionConfigTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${ARG_HEADERS} ${export_header} DESTINATION ${SESSIONCONFIG_HEADER_DIR})
endfunction()

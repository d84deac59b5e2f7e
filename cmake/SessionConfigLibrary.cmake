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

# sessionconfig_add_pkg_config(<target> DESCRIPTION <text>)
#
# The pkg-config file of one library, installed as lib/pkgconfig/<file name>.pc, for
# builds that do not use CMake. It names its prefix relative to its own place, so the
# installed tree can be moved. Requires follow the target's public links; the private
# ones (libsodium, the keychain) stay out, as only shared libraries are installed.
function(sessionconfig_add_pkg_config target)
  cmake_parse_arguments(ARG "" "DESCRIPTION" "" ${ARGN})
  get_target_property(pc_library ${target} OUTPUT_NAME)
  get_target_property(export_name ${target} EXPORT_NAME)
  set(pc_name "SessionConfig ${export_name}")
  if(export_name STREQUAL "SessionConfig")
    set(pc_name SessionConfig)
  endif()
  set(pc_description "${ARG_DESCRIPTION}")

  set(pc_requires "")
  get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  foreach(link ${links})
    if(link MATCHES "^SessionConfig::(.+)$")
      get_target_property(dependency SessionConfig::${CMAKE_MATCH_1} OUTPUT_NAME)
      list(APPEND pc_requires "${dependency} = ${PROJECT_VERSION}")
    elseif(link MATCHES "^Qt6::(.+)$")
      list(APPEND pc_requires Qt6${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(JOIN pc_requires ", " pc_requires)

  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    message(FATAL_ERROR "pkg-config files need a relative CMAKE_INSTALL_LIBDIR, not ${CMAKE_INSTALL_LIBDIR}")
  endif()
  file(RELATIVE_PATH pc_to_prefix /prefix/${pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")

  set(pc_file ${PROJECT_BINARY_DIR}/pkgconfig/${pc_library}.pc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/SessionConfig.pc.in ${pc_file} @ONLY)
  install(FILES ${pc_file} DESTINATION ${pc_dir})
endfunction()

# SPDX-License-Identifier: MIT
# `cpack -G DEB` in a Linux build: two packages for Debian 12 and its kin.
# brivelton carries the command-line tool (no Qt), brivelton-utility the
# window, which needs the brivelton of its own version. Each carries the
# licence as a machine-readable copyright file and the changelog.
if(WIN32)
  return()
endif()

# The changelog names the version it describes; it must be this one.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^brivelton \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog begins with '${changelog_top}'; "
                      "its first entry must be for version ${PROJECT_VERSION}")
endif()
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  COMMENT "Compressing the changelog")
add_custom_target(brivelton_changelog ALL DEPENDS ${changelog_gz})
foreach(pair cli:brivelton window:brivelton-utility)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  if(component STREQUAL "window" AND NOT TARGET brivelton-utility)
    continue()
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(BRIVELTON_MAINTAINER "Brivelton Utility maintainers <maintainers@brivelton.org>"
    CACHE STRING "The packages' Maintainer field")
set(CPACK_PACKAGE_NAME brivelton)
set(CPACK_PACKAGE_VENDOR "Brivelton")
set(CPACK_PACKAGE_CONTACT "${BRIVELTON_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C++ (and for the window the Qt) libraries the programs link, as
# dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME brivelton)
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "bash-completion")
string(CONCAT CPACK_COMPONENT_CLI_DESCRIPTION
    "Services the Bluetooth telephone adapter on a serial port\n"
    "Finds the Bluetooth-to-analog-telephone adapter on a serial port, reads its\n"
    "firmware version, rewrites its flash with the firmware image it carries\n"
    "(keeping the adapter's Bluetooth address), and reads and writes its ten\n"
    "parameters.\n"
    "\n"
    "This package holds the command-line tool brivelton, for terminals and\n"
    "scripts; brivelton-utility adds the window.")
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME brivelton-utility)
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "brivelton (= ${PROJECT_VERSION})")
string(CONCAT CPACK_COMPONENT_WINDOW_DESCRIPTION
    "Window that services the Bluetooth telephone adapter\n"
    "Finds the Bluetooth-to-analog-telephone adapter on a serial port, reads its\n"
    "firmware version, rewrites its flash with the firmware image it carries\n"
    "(keeping the adapter's Bluetooth address), and reads and writes its ten\n"
    "parameters.\n"
    "\n"
    "This package holds the window brivelton-utility, with its menu entry.")
set(CPACK_GENERATOR DEB)
if(BRIVELTON_PLACEHOLDER_REFUSAL)
  # cpack reads this before it makes anything.
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/refuse_placeholder.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
       "message(FATAL_ERROR \"No package: ${BRIVELTON_PLACEHOLDER_REFUSAL}.\")\n")
else()
  file(REMOVE ${CMAKE_BINARY_DIR}/packaging/refuse_placeholder.cmake)
endif()
include(CPack)

# SPDX-License-Identifier: MIT
# The hardening Debian's own packages are built with, as dpkg-buildflags gives
# it with every feature on (fortified functions, stack protector, format
# checks, read-only relocations bound at start-up): the programs the package
# carries are built this way. Optimisation, debugging information and path
# mapping stay the build type's own; the sanitizer build and the cross builds
# (Windows, the web page) have their own.
option(BRIVELTON_HARDENING "Build with dpkg-buildflags' hardening flags" ON)
if(CMAKE_CROSSCOMPILING OR WIN32 OR BRIVELTON_SANITIZE OR NOT BRIVELTON_HARDENING)
  return()
endif()
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found (Debian: dpkg-dev): built without its hardening")
  return()
endif()
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g.*|O.*|f(file|debug|macro)-prefix-map=.*)$")
  if(kind STREQUAL "LDFLAGS")
    add_link_options(${flags})
  else()
    add_compile_options(${flags})
  endif()
endforeach()

# `cpack -G DEB` in a Linux build: the command-line tool, the window, their
# menu entry, icons, manual page and completion, for Debian 12 and its kin.
if(WIN32)
  return()
endif()
set(CPACK_PACKAGE_NAME brivelton)
set(CPACK_PACKAGE_VENDOR "Brivelton")
set(CPACK_PACKAGE_CONTACT "Brivelton Utility maintainers <brivelton@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Services the Bluetooth telephone adapter on a serial port")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Finds the Bluetooth-to-analog-telephone adapter on a serial port, reads its firmware\n"
    "version, rewrites its flash with the firmware image it carries (keeping the adapter's\n"
    "Bluetooth address), and reads and writes its ten parameters. Provides the command-line\n"
    "tool brivelton and the window brivelton-utility.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
set(CPACK_GENERATOR DEB)
include(CPack)

# The Debian package (cpack -G DEB, from a configured build folder): the
# installed tree under /usr, its dependencies found by dpkg-shlibdeps from the
# shared libraries its programs and library load, and maintainer scripts that
# enable and start the service's unit the way Debian packages do
# (cmake/debian/).
set(CPACK_PACKAGE_NAME zylscan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zylscan developers <zylscan@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "fingerprint scanner library, D-Bus service and firmware tools")
set(CPACK_PACKAGE_DESCRIPTION
    "libzylscan (USB scanner device API, fingerprint engines, templates and matching) with its headers, pkg-config file and CMake package; the D-Bus system service vyx-fingerprint-driver with its bus policy, activation file and systemd unit; the firmware tools updateflag and fwdownload.")
# Installed with DESTDIR and the real prefix /usr, so that files written
# while installing (the unit, the activation file, zylscan.pc) name /usr and
# not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Programs and library without debugging information, as Debian ships them.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside what dpkg-shlibdeps finds: the service reads the framework's user
# database through Qt's SQLite driver, a plugin loaded at run time that no
# program links; it is a system bus service.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus")
# libzylscan.so.0 is in the package itself: dpkg-shlibdeps finds it here
# and adds no dependency for it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Packages come from the installed tree only, never from the test or
# benchmark targets (they install nothing).
include(CPack)

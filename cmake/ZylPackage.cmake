# The Debian packages (cpack -G DEB, from a configured build folder), split as
# Debian splits a library with a daemon:
#   libzylscan0             the run-time library (named after its SONAME),
#                           with its shlibs file and the ldconfig trigger;
#   libzylscan-dev          headers, the libzylscan.so link, zylscan.pc and
#                           the CMake package;
#   vyx-fingerprint-driver  the service, its bus policy, activation file,
#                           unit, introspection file and manual page;
#   zylscan-tools           updateflag and fwdownload with their manual pages.
# Each is one install component. CPack's component packages are made from the
# build tree that is already there (no second build, no debian/ source tree
# and no build dependencies beyond the project's own), which lets the test
# suite package the very tree it tested; the hardened, multiarch build a
# distribution ships is that tree configured with ZYL_DEBIAN_BUILD
# (cmake/ZylDebianBuild.cmake, scripts/package).
set(ZYL_PACKAGE_MAINTAINER "zylscan maintainers <maintainers@zylscan.org>" CACHE STRING
    "Maintainer of the Debian packages: name and address")
set(ZYL_PACKAGE_REVISION 1 CACHE STRING "Debian revision of the packages (the part after the version's dash)")

set(CPACK_PACKAGE_NAME zylscan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZYL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZYL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZYL_PACKAGE_REVISION})
set(CPACK_DEBIAN_PACKAGE_SOURCE zylscan)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(ZYL_PACKAGE_FULL_VERSION "${PROJECT_VERSION}-${ZYL_PACKAGE_REVISION}")
# Installed with DESTDIR and the real prefix /usr, so that files written
# while installing (the unit, the activation file, zylscan.pc) name /usr and
# not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development service tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Programs and library without debugging information, as Debian ships them.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Depends from the shared libraries that programs and library load
# (dpkg-shlibdeps). The project's own library is in another package of this
# build: dpkg-shlibdeps finds it in that package's staging folder (beside
# the one being packaged) but knows no package for it, so the packages that
# load it name it themselves, at this very version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
get_target_property(ZYL_SOVERSION zylscan SOVERSION)
set(ZYL_RUNTIME_PACKAGE libzylscan${ZYL_SOVERSION})
set(ZYL_RUNTIME_DEPENDS "${ZYL_RUNTIME_PACKAGE} (= ${ZYL_PACKAGE_FULL_VERSION})")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "../runtime/usr/${CMAKE_INSTALL_LIBDIR}")

# What a build with placeholder vendor ids or key cannot do, in every
# package's description (cmake/ZylConfig.cmake).
set(ZYL_PLACEHOLDER_NOTE "")
if(ZYL_PLACEHOLDER_BUILD)
  set(ZYL_PLACEHOLDER_NOTE "\n.\nThis build carries the placeholder USB vendor ids and storage key: it\nrecognises no real scanner and cannot read the finger databases of real\ninstallations; only the test suite's virtual scanner works with it.")
endif()
set(ZYL_ABOUT "zylscan makes a family of USB fingerprint scanners usable on Linux.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ZYL_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "fingerprint scanner library
${ZYL_ABOUT}
This package holds the shared library libzylscan: the USB scanner device
API, image conversion, three fingerprint engines, template formats and
matching.${ZYL_PLACEHOLDER_NOTE}")
# shlibs: programs built against this version need at least this version.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzylscan-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${ZYL_RUNTIME_DEPENDS}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "fingerprint scanner library - development files
${ZYL_ABOUT}
This package holds what programs need to build against libzylscan: the C
headers, the link to the library, the pkg-config file zylscan.pc and the
CMake package zylscan (imported target zylscan::zylscan).${ZYL_PLACEHOLDER_NOTE}")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME vyx-fingerprint-driver)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION admin)
# Beside what dpkg-shlibdeps finds: the system bus, whose service it is, and
# Qt's SQLite driver, a plugin loaded at run time that no program links (the
# framework's user database).
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "${ZYL_RUNTIME_DEPENDS}, dbus, libqt5sql5-sqlite")
set(CPACK_DEBIAN_SERVICE_DESCRIPTION "fingerprint scanner D-Bus system service
${ZYL_ABOUT}
This package holds vyx-fingerprint-driver, the system bus service
com.vyx.fingerprintdriver through which a host biometric authentication
framework enrols and verifies the fingers of its users: open a scanner,
enrol a finger from three captures, verify, list, rename and delete a
user's fingers. The bus starts it on the first call; only root may use it
unless a local bus policy grants more.${ZYL_PLACEHOLDER_NOTE}")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zylscan-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${ZYL_RUNTIME_DEPENDS}")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "fingerprint scanner firmware tools
${ZYL_ABOUT}
This package holds updateflag, which reports a scanner's firmware version
and flags it for a firmware update, and fwdownload, which downloads a
firmware image to a scanner in its update state.${ZYL_PLACEHOLDER_NOTE}")

# Every package carries the copyright file and the changelog, and its
# lintian overrides where it has any. Only component installs (CPack) put
# them in: a plain install of the build has no use for them.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ZYL_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ZYL_CHANGELOG_TOP MATCHES "^zylscan \\(${ZYL_PACKAGE_FULL_VERSION}\\) ")
  message(WARNING "cmake/debian/changelog does not start with version ${ZYL_PACKAGE_FULL_VERSION}: "
                  "add an entry for it (${ZYL_CHANGELOG_TOP})")
endif()
set(ZYL_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
add_custom_command(OUTPUT ${ZYL_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
  COMMAND ${ZYL_GZIP} -9 -n -c ${CMAKE_CURRENT_LIST_DIR}/debian/changelog > ${ZYL_CHANGELOG_GZ}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${ZYL_CHANGELOG_GZ})
foreach(component runtime development service tools)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${ZYL_CHANGELOG_GZ}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  set(overrides ${CMAKE_CURRENT_LIST_DIR}/debian/${package}.lintian-overrides)
  if(EXISTS ${overrides})
    install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
            RENAME ${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  endif()
endforeach()

# What CPack cannot say itself (Multi-Arch, no ldconfig call beside the
# trigger) is finished on the packages it made.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/finish_packages.cmake)
set(CPACK_ZYL_MULTIARCH OFF)
if(CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_LIBDIR STREQUAL "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
  set(CPACK_ZYL_MULTIARCH ON)
endif()

# Packages come from the installed tree only, never from the test or
# benchmark targets (they install nothing).
include(CPack)

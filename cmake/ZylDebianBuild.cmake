# ZYL_DEBIAN_BUILD: configure the tree as the Debian packages are built.
# - Prefix /usr (unless one is given), so that GNUInstallDirs, included
#   after this, puts the library into the multiarch folder
#   (lib/x86_64-linux-gnu and the like).
# - The distribution's build flags from dpkg-buildflags with every hardening
#   feature (stack protector, fortified functions, format checks, full
#   RELRO with immediate binding), added to the build type's own flags.
#   dpkg-buildflags runs in the source folder, so the debugging information
#   names source files relative to it, as Debian's builds do.
# scripts/package configures its tree so; CI configures its main tree so,
# and the test suite packages that tree (tests/install).
option(ZYL_DEBIAN_BUILD "Configure as the Debian packages are built: prefix /usr, the multiarch library folder, dpkg-buildflags' hardening" OFF)
if(NOT ZYL_DEBIAN_BUILD)
  return()
endif()
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install path prefix, prepended onto install directories." FORCE)
endif()
find_program(ZYL_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
set(ZYL_DEBIAN_MAINT_OPTIONS "hardening=+all")
if(DEFINED ENV{DEB_BUILD_MAINT_OPTIONS})
  set(ZYL_DEBIAN_MAINT_OPTIONS "$ENV{DEB_BUILD_MAINT_OPTIONS}")
endif()
function(zyl_dpkg_buildflags flag out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${ZYL_DEBIAN_MAINT_OPTIONS}"
                          ${ZYL_DPKG_BUILDFLAGS} --get ${flag}
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
zyl_dpkg_buildflags(CPPFLAGS cppflags)
zyl_dpkg_buildflags(CFLAGS cflags)
zyl_dpkg_buildflags(CXXFLAGS cxxflags)
zyl_dpkg_buildflags(LDFLAGS ldflags)
# The preprocessor flags (_FORTIFY_SOURCE) go with each compiler's: CMake
# has no flags of their own for them.
string(APPEND CMAKE_C_FLAGS " ${cflags} ${cppflags}")
string(APPEND CMAKE_CXX_FLAGS " ${cxxflags} ${cppflags}")
foreach(kind EXE SHARED MODULE)
  string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${ldflags}")
endforeach()
message(STATUS "Debian build: prefix ${CMAKE_INSTALL_PREFIX}; C flags${CMAKE_C_FLAGS}; link flags ${ldflags}")

# Builds the Debian package of the build (cpack -G DEB) into a scratch
# folder and checks it with dpkg-deb: its file list (the library, headers,
# pkg-config file, CMake package, programs, bus policy, activation file and
# systemd unit, everything under /usr and nothing of the tests), its Depends
# line (filled by dpkg-shlibdeps from the shared libraries the programs load,
# nothing for the package's own library), the installed unit naming the
# installed program, and the maintainer scripts that enable the unit (run
# here with stand-ins for the helpers they call, and without any helper).
# Run by CTest as
#   cmake -DBUILD_DIR=... -DSCRATCH=... -DLIBDIR=... -DCPACK=... -P package_check.cmake
# Prints "SKIPPED: ..." (CTest then counts it skipped) when this machine has
# no dpkg-shlibdeps or dpkg-deb.
foreach(tool dpkg-shlibdeps dpkg-deb)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    message("SKIPPED: ${tool} is missing (Debian package dpkg-dev, which bash scripts/setup installs); the Debian package cannot be built or read")
    return()
  endif()
endforeach()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY "${SCRATCH}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("cpack" "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${SCRATCH}/out")
file(GLOB debs "${SCRATCH}/out/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages: ${debs}")
endif()

# The file list: "./usr/..." paths, the fifth field of dpkg-deb -c onwards.
run("dpkg-deb -c" dpkg-deb -c "${debs}")
string(REGEX MATCHALL "\\./[^\n]*" entries "${out}")
foreach(entry IN LISTS entries)
  if(NOT entry MATCHES "^\\./(usr/.*)?$")
    message(FATAL_ERROR "the package holds a path outside /usr: ${entry}")
  endif()
  if(entry MATCHES "vscanner|_test|bench|fuzz|gtest")
    message(FATAL_ERROR "the package holds a test or benchmark file: ${entry}")
  endif()
endforeach()
foreach(file
    usr/bin/vyx-fingerprint-driver usr/bin/updateflag usr/bin/fwdownload
    usr/${LIBDIR}/libzylscan.so.0 usr/include/zylscan/zylfpscan.h
    usr/${LIBDIR}/pkgconfig/zylscan.pc usr/${LIBDIR}/cmake/zylscan/zylscanConfig.cmake
    usr/${LIBDIR}/cmake/zylscan/zylscanConfigVersion.cmake
    usr/share/dbus-1/system.d/com.vyx.fingerprintdriver.conf
    usr/share/dbus-1/system-services/com.vyx.fingerprintdriver.service
    usr/lib/systemd/system/vyx-fingerprint-driver.service)
  list(FIND entries "./${file}" at)
  if(at EQUAL -1 AND NOT out MATCHES "\\./${file} -> ")
    message(FATAL_ERROR "the package lacks /${file}:\n${out}")
  endif()
endforeach()

# Depends: what dpkg-shlibdeps found, versioned, and the SQLite driver the
# service loads at run time.
run("dpkg-deb -f" dpkg-deb -f "${debs}" Depends)
string(STRIP "${out}" depends)
message(STATUS "Depends: ${depends}")
foreach(dependency "libc6 \\(>= " "libusb-1\\.0-0 \\(>= " "libmbedcrypto[0-9]+ \\(>= " "libqt5dbus5 \\(>= "
                   "libqt5core5a \\(>= " "libstdc\\+\\+6 \\(>= " "libqt5sql5-sqlite")
  if(NOT depends MATCHES "(^|, )${dependency}")
    message(FATAL_ERROR "Depends lacks ${dependency}: ${depends}")
  endif()
endforeach()
if(depends MATCHES "zylscan")
  message(FATAL_ERROR "the package depends on its own library: ${depends}")
endif()

# The unit and the activation file name the program where the package puts it.
run("dpkg-deb -x" dpkg-deb -x "${debs}" "${SCRATCH}/unpacked")
file(READ "${SCRATCH}/unpacked/usr/lib/systemd/system/vyx-fingerprint-driver.service" unit)
file(READ "${SCRATCH}/unpacked/usr/share/dbus-1/system-services/com.vyx.fingerprintdriver.service" activation)
if(NOT unit MATCHES "\nExecStart=/usr/bin/vyx-fingerprint-driver\n" OR NOT unit MATCHES "\nWantedBy=multi-user.target\n")
  message(FATAL_ERROR "the packaged unit does not start /usr/bin/vyx-fingerprint-driver when enabled:\n${unit}")
endif()
if(NOT activation MATCHES "\nExec=/usr/bin/vyx-fingerprint-driver\n")
  message(FATAL_ERROR "the packaged activation file does not run /usr/bin/vyx-fingerprint-driver:\n${activation}")
endif()

# The maintainer scripts, run with stand-ins that record their calls. The
# stand-ins come first on PATH, so no real helper runs on this machine.
run("dpkg-deb -e" dpkg-deb -e "${debs}" "${SCRATCH}/control")
set(stubs "${SCRATCH}/stubs")
file(MAKE_DIRECTORY "${stubs}")
foreach(helper deb-systemd-helper deb-systemd-invoke systemctl)
  file(WRITE "${stubs}/${helper}" "#!/bin/sh\necho \"${helper} $*\" >>\"${SCRATCH}/calls\"\nexit 0\n")
  file(CHMOD "${stubs}/${helper}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
function(script_calls script)
  file(REMOVE "${SCRATCH}/calls")
  run("${script} ${ARGN}" env "PATH=${stubs}:/usr/bin:/bin" sh "${SCRATCH}/control/${script}" ${ARGN})
  set(calls "")
  if(EXISTS "${SCRATCH}/calls")
    file(READ "${SCRATCH}/calls" calls)
  endif()
  set(calls "${calls}" PARENT_SCOPE)
endfunction()
set(unit_name vyx-fingerprint-driver.service)
script_calls(postinst configure)
if(NOT calls MATCHES "deb-systemd-helper enable ${unit_name}\n")
  message(FATAL_ERROR "postinst configure does not enable the unit; its calls:\n${calls}")
endif()
script_calls(prerm remove)
script_calls(postrm remove)
if(NOT calls MATCHES "deb-systemd-helper mask ${unit_name}\n")
  message(FATAL_ERROR "postrm remove does not mask the unit; its calls:\n${calls}")
endif()
script_calls(postrm purge)
if(NOT calls MATCHES "deb-systemd-helper purge ${unit_name}\n")
  message(FATAL_ERROR "postrm purge does not forget the unit; its calls:\n${calls}")
endif()
# Without any helper (no init-system-helpers, no systemd) every script
# succeeds and does nothing.
file(MAKE_DIRECTORY "${SCRATCH}/empty")
foreach(call "postinst;configure" "prerm;remove" "postrm;remove" "postrm;purge")
  list(GET call 0 script)
  list(GET call 1 argument)
  run("${script} ${argument} without helpers" env "PATH=${SCRATCH}/empty" /bin/sh "${SCRATCH}/control/${script}" ${argument})
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")

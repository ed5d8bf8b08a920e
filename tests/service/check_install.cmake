# Installs the build into a staging directory (DESTDIR) with a prefix that
# exists nowhere on the machine, then checks the installed tree: every file
# lies under the prefix (as the install names them and as the staging folder
# holds them, and nothing appeared at the prefix itself on the machine); the
# service, its bus policy, systemd unit, activation file, introspection file
# and manual pages, the pkg-config file and the CMake package are where a
# package of that prefix carries them, and name the installed paths. Run by CTest as
#   cmake -DBUILD_DIR=... -DSTAGE=... -DPOLICY=... -DDATADIR=... -DBINDIR=...
#         -DLIBDIR=... -DMANDIR=... -DUNITDIR=... -DDBUS_SERVICES_DIR=... -P check_install.cmake
set(prefix "/zyl-install-check/usr")
file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed (${rc}):\n${out}\n${err}")
endif()

# Every file the install wrote, as it names them ("-- Installing: PATH").
string(REGEX MATCHALL "-- (Installing|Up-to-date): [^\n]*" lines "${out}")
if(NOT lines)
  message(FATAL_ERROR "the install named no files:\n${out}")
endif()
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^-- [A-Za-z-]+: " "" path "${line}")
  string(FIND "${path}" "${STAGE}${prefix}/" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "installed outside the prefix ${prefix}: ${path}")
  endif()
endforeach()

# What the staging folder holds: the prefix's folders and what lies in them.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${STAGE}/*")
foreach(path IN LISTS staged)
  string(FIND "${STAGE}${prefix}/" "${path}/" ancestor)
  string(FIND "${path}" "${STAGE}${prefix}/" inside)
  if(NOT ancestor EQUAL 0 AND NOT inside EQUAL 0)
    message(FATAL_ERROR "the install wrote outside the prefix ${prefix}: ${path}")
  endif()
endforeach()
if(EXISTS "/zyl-install-check")
  message(FATAL_ERROR "the install wrote to the machine's /zyl-install-check, ignoring DESTDIR")
endif()

# Files that name installed paths: they name the prefix's, never the staging
# folder, the build or the sources.
get_filename_component(source_dir "${POLICY}/../.." ABSOLUTE)
function(expect_file path)
  if(NOT EXISTS "${STAGE}${prefix}/${path}")
    message(FATAL_ERROR "not installed: ${prefix}/${path}")
  endif()
  file(READ "${STAGE}${prefix}/${path}" text)
  foreach(foreign "${STAGE}" "${BUILD_DIR}" "${source_dir}")
    string(FIND "${text}" "${foreign}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${prefix}/${path} names ${foreign}")
    endif()
  endforeach()
  foreach(line IN LISTS ARGN)
    string(FIND "${text}" "${line}\n" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${prefix}/${path} lacks the line \"${line}\":\n${text}")
    endif()
  endforeach()
endfunction()
set(program "${prefix}/${BINDIR}/vyx-fingerprint-driver")
expect_file("${UNITDIR}/vyx-fingerprint-driver.service"
  "Type=dbus" "BusName=com.vyx.fingerprintdriver" "ExecStart=${program}" "Restart=on-failure"
  "Alias=dbus-com.vyx.fingerprintdriver.service")
expect_file("${MANDIR}/man8/vyx-fingerprint-driver.8.gz")
expect_file("${MANDIR}/man1/updateflag.1.gz")
expect_file("${MANDIR}/man1/fwdownload.1.gz")
expect_file("${DATADIR}/dbus-1/interfaces/com.vyx.FingerprintIndentifyDriver.xml")
# systemd's own check of the unit, where systemd's tools are installed: every
# key known, every value well-formed, the manual page it names there (with
# the program's path moved into the staging folder, where the program is,
# and the manual searched for in the staged manual folder alone).
find_program(systemd_analyze systemd-analyze)
if(systemd_analyze)
  file(READ "${STAGE}${prefix}/${UNITDIR}/vyx-fingerprint-driver.service" unit)
  string(REPLACE "ExecStart=${program}" "ExecStart=${STAGE}${program}" unit "${unit}")
  file(WRITE "${STAGE}/verify/vyx-fingerprint-driver.service" "${unit}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env "MANPATH=${STAGE}${prefix}/${MANDIR}"
                          "${systemd_analyze}" verify "${STAGE}/verify/vyx-fingerprint-driver.service"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify finds fault with the unit (${rc}):\n${out}${err}")
  endif()
endif()
expect_file("${DBUS_SERVICES_DIR}/com.vyx.fingerprintdriver.service"
  "Name=com.vyx.fingerprintdriver" "Exec=${program}" "User=root"
  "SystemdService=dbus-com.vyx.fingerprintdriver.service")
expect_file("${LIBDIR}/pkgconfig/zylscan.pc"
  "prefix=${prefix}" "libdir=${prefix}/${LIBDIR}" "includedir=${prefix}/include"
  "Libs: -L\${libdir} -lzylscan")
expect_file("${LIBDIR}/cmake/zylscan/zylscanConfig.cmake")
expect_file("${LIBDIR}/cmake/zylscan/zylscanConfigVersion.cmake")
expect_file("${LIBDIR}/cmake/zylscan/zylscanTargets.cmake")

set(policy "${STAGE}${prefix}/${DATADIR}/dbus-1/system.d/com.vyx.fingerprintdriver.conf")
if(NOT EXISTS "${policy}")
  message(FATAL_ERROR "no bus policy at ${policy}")
endif()
file(READ "${policy}" installed)
file(READ "${POLICY}" source)
if(NOT installed STREQUAL source)
  message(FATAL_ERROR "the installed bus policy differs from ${POLICY}")
endif()
if(NOT EXISTS "${STAGE}${prefix}/${BINDIR}/vyx-fingerprint-driver")
  message(FATAL_ERROR "no service program under ${STAGE}${prefix}/${BINDIR}")
endif()
file(REMOVE_RECURSE "${STAGE}")

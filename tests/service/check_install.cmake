# Installs the build into a staging directory (DESTDIR) with a prefix that
# exists nowhere on the machine, then checks the installed tree: every file
# lies under the prefix, and the service and its bus policy are where a
# package of that prefix carries them. Run by CTest as
#   cmake -DBUILD_DIR=... -DSTAGE=... -DPOLICY=... -DDATADIR=... -DBINDIR=... -P check_install.cmake
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

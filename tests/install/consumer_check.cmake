# Installs the build into a staging folder (DESTDIR) with a prefix that
# exists nowhere on the machine, then builds a small C program of another
# project against that install twice, with pkg-config and with
# find_package(zylscan), and runs both: each must print the library's text
# for status ZYLFPSCAN_ERR_NOT_INIT, loaded from the staged library. Run by
# CTest as
#   cmake -DBUILD_DIR=... -DSCRATCH=... -DCONSUMER=... -DLIBDIR=...
#         -DCC=... -DCXX=... -DSANITIZE=ON|OFF -P consumer_check.cmake
set(prefix "/zyl-consumer-check/usr")
set(stage "${SCRATCH}/stage")
set(libdir "${stage}${prefix}/${LIBDIR}")
set(expected "0 SDK not initialized.\n")
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(ENV{DESTDIR} "${stage}")
run("install" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
unset(ENV{DESTDIR})

set(flags)
if(SANITIZE)
  set(flags -fsanitize=address,undefined)
endif()
# Runs a built consumer with the staged library and checks its answer and
# that the library it loaded is the staged one.
function(check_consumer program)
  set(ENV{LD_LIBRARY_PATH} "${libdir}")
  run("${program}" "${program}")
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "${program} printed \"${out}\", expected \"${expected}\"")
  endif()
  run("ldd ${program}" ldd "${program}")
  string(FIND "${out}" "${libdir}/libzylscan.so.0" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${program} does not load the staged library:\n${out}")
  endif()
  unset(ENV{LD_LIBRARY_PATH})
  message(STATUS "${program}: ${expected}")
endfunction()

# pkg-config: the staged .pc file names the prefix; the sysroot puts the
# staging folder before the paths it hands out. The search path holds the
# staged folder alone, in place of the system's: should zylscan.pc require
# any other module (whose .pc this build machine may well have, but a machine
# with only the development package need not), pkg-config fails here.
set(ENV{PKG_CONFIG_LIBDIR} "${libdir}/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${stage}")
run("pkg-config --modversion" pkg-config --modversion zylscan)
message(STATUS "pkg-config: zylscan ${out}")
run("pkg-config --print-requires" pkg-config --print-requires --print-requires-private zylscan)
if(NOT out STREQUAL "")
  message(FATAL_ERROR "zylscan.pc requires other modules:\n${out}")
endif()
run("pkg-config --cflags --libs" pkg-config --cflags --libs zylscan)
separate_arguments(pc_flags UNIX_COMMAND "${out}")
# Only the staged folders: nothing of libusb's or another module's.
foreach(flag IN LISTS pc_flags)
  string(FIND "${flag}" "${stage}${prefix}/" at)
  if(flag MATCHES "^-[IL]" AND NOT at EQUAL 2)
    message(FATAL_ERROR "pkg-config names a folder outside the staged install: ${flag} (${out})")
  endif()
endforeach()
set(linker "${CC}")
if(SANITIZE)
  set(linker "${CXX}")
endif()
run("compile with pkg-config" "${CC}" ${flags} -c "${CONSUMER}/consumer.c" -o "${SCRATCH}/consumer.o" ${pc_flags})
run("link with pkg-config" "${linker}" ${flags} "${SCRATCH}/consumer.o" -o "${SCRATCH}/consumer-pkg-config" ${pc_flags})
unset(ENV{PKG_CONFIG_LIBDIR})
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
check_consumer("${SCRATCH}/consumer-pkg-config")

# CMake: find_package(zylscan) through the staged prefix.
string(REPLACE ";" " " flag_text "${flags}")
run("configure with find_package" "${CMAKE_COMMAND}" -S "${CONSUMER}" -B "${SCRATCH}/cmake-build"
    -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_PREFIX_PATH=${stage}${prefix}"
    "-DCMAKE_C_COMPILER=${CC}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_C_FLAGS=${flag_text}"
    "-DCMAKE_EXE_LINKER_FLAGS=${flag_text}" "-DZYL_SANITIZE=${SANITIZE}")
run("build with find_package" "${CMAKE_COMMAND}" --build "${SCRATCH}/cmake-build")
check_consumer("${SCRATCH}/cmake-build/consumer")

file(REMOVE_RECURSE "${SCRATCH}")

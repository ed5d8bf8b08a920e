# Makes the Debian packages of the build (cpack) into a scratch folder and
# checks them:
# - the split: which file goes into which package (the run-time library; the
#   headers, link, pkg-config file and CMake package; the service with its
#   bus files, unit, introspection file and manual page; the firmware tools
#   with theirs), every package with its copyright file and changelog,
#   everything under /usr and nothing of the tests;
# - the control data: sections, Depends (dpkg-shlibdeps' and the project's
#   own library at this very version), the library's shlibs file and
#   ldconfig trigger, Multi-Arch in a multiarch tree;
# - the unit (started by the bus through its alias only) and the activation
#   file naming the installed program and that alias;
# - the service's maintainer scripts, run with stand-ins for the helpers
#   they call, with and without systemd, and without any helper; purging
#   removes the data root (moved into the scratch folder here);
# - lintian, when it is installed: no error in any tree, and no warning in
#   a tree configured as the packages are built (ZYL_DEBIAN_BUILD); another
#   tree may only miss what that configuration brings (hardening flags, the
#   multiarch folder).
# Run by CTest as
#   cmake -DBUILD_DIR=... -DSCRATCH=... -DLIBDIR=... -DCPACK=... -DDEBIAN_BUILD=ON|OFF
#         -DSANITIZE=ON|OFF -P package_check.cmake
# Prints "SKIPPED: ..." (CTest then counts it skipped) when this machine has
# no dpkg-shlibdeps or dpkg-deb.
cmake_minimum_required(VERSION 3.22)
foreach(tool dpkg-shlibdeps dpkg-deb)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    message("SKIPPED: ${tool} is missing (Debian package dpkg-dev, which bash scripts/setup installs); the Debian packages cannot be built or read")
    return()
  endif()
endforeach()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}" "${SCRATCH}/control")
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY "${SCRATCH}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("cpack" "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${SCRATCH}/out")
file(STRINGS "${BUILD_DIR}/CPackConfig.cmake" version_line REGEX "^set\\(CPACK_DEBIAN_PACKAGE_RELEASE ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" revision "${version_line}")
file(STRINGS "${BUILD_DIR}/CPackConfig.cmake" version_line REGEX "^set\\(CPACK_PACKAGE_VERSION ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" version "${version_line}")
set(full_version "${version}-${revision}")
string(REGEX REPLACE "\\..*" "" soversion "${version}")
set(runtime libzylscan${soversion})
set(packages ${runtime} libzylscan-dev vyx-fingerprint-driver zylscan-tools)

# Which package each installed file belongs to (path patterns, "usr/..."),
# with the files each must hold.
set(lib "usr/${LIBDIR}")
string(REPLACE "." "\\." lib_re "${lib}")
set(${runtime}_files "^${lib_re}/libzylscan\\.so\\.[0-9.]+$")
set(${runtime}_required ${lib}/libzylscan.so.${soversion} ${lib}/libzylscan.so.${version})
set(libzylscan-dev_files "^usr/include/zylscan/[a-z0-9_]+\\.h$" "^${lib_re}/libzylscan\\.so$"
    "^${lib_re}/pkgconfig/zylscan\\.pc$" "^${lib_re}/cmake/zylscan/zylscan[A-Za-z-]*\\.cmake$")
set(libzylscan-dev_required usr/include/zylscan/zylfpscan.h ${lib}/libzylscan.so ${lib}/pkgconfig/zylscan.pc
    ${lib}/cmake/zylscan/zylscanConfig.cmake ${lib}/cmake/zylscan/zylscanConfigVersion.cmake
    ${lib}/cmake/zylscan/zylscanTargets.cmake)
set(service_files
    usr/bin/vyx-fingerprint-driver
    usr/share/dbus-1/system.d/com.vyx.fingerprintdriver.conf
    usr/share/dbus-1/system-services/com.vyx.fingerprintdriver.service
    usr/share/dbus-1/interfaces/com.vyx.FingerprintIndentifyDriver.xml
    usr/lib/systemd/system/vyx-fingerprint-driver.service
    usr/share/man/man8/vyx-fingerprint-driver.8.gz
    usr/share/lintian/overrides/vyx-fingerprint-driver)
set(vyx-fingerprint-driver_required ${service_files})
list(TRANSFORM service_files REPLACE "\\." "\\\\." OUTPUT_VARIABLE vyx-fingerprint-driver_files)
list(TRANSFORM vyx-fingerprint-driver_files REPLACE "^(.+)$" "^\\1$")
set(zylscan-tools_required usr/bin/updateflag usr/bin/fwdownload
    usr/share/man/man1/updateflag.1.gz usr/share/man/man1/fwdownload.1.gz)
list(TRANSFORM zylscan-tools_required REPLACE "\\." "\\\\." OUTPUT_VARIABLE zylscan-tools_files)
list(TRANSFORM zylscan-tools_files REPLACE "^(.+)$" "^\\1$")

set(multiarch FALSE)
if(LIBDIR MATCHES "^lib/[a-z0-9_]+-linux-[a-z0-9_]+$")
  set(multiarch TRUE)
endif()

foreach(package IN LISTS packages)
  set(deb "${SCRATCH}/out/${package}_${full_version}_")
  file(GLOB deb "${deb}*.deb")
  list(LENGTH deb count)
  if(NOT count EQUAL 1)
    file(GLOB made "${SCRATCH}/out/*.deb")
    message(FATAL_ERROR "no package ${package} ${full_version}; cpack made: ${made}")
  endif()
  set(${package}_deb "${deb}")

  # Files: "./usr/..." paths, the sixth field of dpkg-deb -c onwards.
  run("dpkg-deb -c ${package}" dpkg-deb -c "${deb}")
  string(REGEX MATCHALL "\\./[^\n]*" entries "${out}")
  set(paths "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE " -> .*" "" path "${entry}")
    string(REGEX REPLACE "^\\./" "" path "${path}")
    if(path MATCHES "/$" OR path STREQUAL "")
      continue()  # folders
    endif()
    list(APPEND paths "${path}")
    if(NOT path MATCHES "^usr/")
      message(FATAL_ERROR "${package} holds a path outside /usr: ${path}")
    endif()
    if(path MATCHES "vscanner|_test|bench|fuzz|gtest")
      message(FATAL_ERROR "${package} holds a test or benchmark file: ${path}")
    endif()
    set(belongs FALSE)
    set(patterns ${${package}_files} "^usr/share/doc/${package}/(copyright|changelog\\.Debian\\.gz)$"
                 "^usr/share/lintian/overrides/${package}$")
    foreach(pattern IN LISTS patterns)
      if(path MATCHES "${pattern}")
        set(belongs TRUE)
      endif()
    endforeach()
    if(NOT belongs)
      message(FATAL_ERROR "${package} holds a file that belongs to another package or none: ${path}")
    endif()
  endforeach()
  foreach(path IN LISTS ${package}_required usr/share/doc/${package}/copyright
          usr/share/doc/${package}/changelog.Debian.gz)
    if(NOT path IN_LIST paths)
      message(FATAL_ERROR "${package} lacks /${path}:\n${paths}")
    endif()
  endforeach()

  run("dpkg-deb -f ${package}" dpkg-deb -f "${deb}")
  set(${package}_control "${out}")
  if(out MATCHES "\nMaintainer:[^\n]*@localhost")
    message(FATAL_ERROR "${package} has a maintainer address at localhost:\n${out}")
  endif()
  run("dpkg-deb -e ${package}" dpkg-deb -e "${deb}" "${SCRATCH}/control/${package}")
endforeach()

# Sections, Depends and Multi-Arch of each package.
function(expect_field package field pattern)
  if(NOT "${${package}_control}" MATCHES "(^|\n)${field}: ${pattern}\n")
    message(FATAL_ERROR "${package}: ${field} does not match \"${pattern}\":\n${${package}_control}")
  endif()
endfunction()
expect_field(${runtime} Section libs)
expect_field(libzylscan-dev Section libdevel)
expect_field(vyx-fingerprint-driver Section admin)
expect_field(zylscan-tools Section admin)
string(REPLACE "." "\\." own "${runtime} \\(= ${full_version}\\)")
set(qt "libqt5core5a \\(>= [^)]+\\)")
foreach(check
    "${runtime};^(libc6|libgcc-s1|libmbedcrypto[0-9]+|libstdc\\+\\+6|libusb-1\\.0-0) "
    "libzylscan-dev;^${own}$"
    "vyx-fingerprint-driver;^${own}, dbus, libqt5sql5-sqlite, .*libqt5dbus5 \\(>= .*libqt5sql5 \\(>= "
    "zylscan-tools;^${own}, .*libusb-1\\.0-0 \\(>= ")
  list(GET check 0 package)
  list(GET check 1 pattern)
  string(REGEX MATCH "\nDepends: ([^\n]*)" depends "\n${${package}_control}")
  set(depends "${CMAKE_MATCH_1}")
  if(NOT depends MATCHES "${pattern}")
    message(FATAL_ERROR "${package}: Depends \"${depends}\" does not match \"${pattern}\"")
  endif()
  message(STATUS "${package} Depends: ${depends}")
endforeach()
if("${${runtime}_control}" MATCHES "\nDepends:[^\n]*zylscan")
  message(FATAL_ERROR "${runtime} depends on itself:\n${${runtime}_control}")
endif()
foreach(package ${runtime} libzylscan-dev)
  if(multiarch)
    expect_field(${package} Multi-Arch same)
  elseif("${${package}_control}" MATCHES "\nMulti-Arch:")
    message(FATAL_ERROR "${package} is Multi-Arch outside the multiarch folder")
  endif()
endforeach()

# The library: shlibs names the package, the ldconfig trigger replaces any
# ldconfig call in maintainer scripts.
set(control "${SCRATCH}/control/${runtime}")
file(READ "${control}/shlibs" shlibs)
if(NOT shlibs MATCHES "^libzylscan ${soversion} ${runtime} \\(>= ${version}[^)]*\\)\n?$")
  message(FATAL_ERROR "${runtime}: shlibs reads \"${shlibs}\"")
endif()
file(READ "${control}/triggers" triggers)
if(NOT triggers STREQUAL "activate-noawait ldconfig\n")
  message(FATAL_ERROR "${runtime}: triggers reads \"${triggers}\"")
endif()
foreach(script postinst postrm preinst prerm)
  if(EXISTS "${control}/${script}")
    message(FATAL_ERROR "${runtime} has a ${script}: the trigger is all it needs")
  endif()
endforeach()

# The unit and the activation file name the program where the package puts
# it; the bus starts the unit through its alias, nothing else does.
run("dpkg-deb -x" dpkg-deb -x "${vyx-fingerprint-driver_deb}" "${SCRATCH}/unpacked")
file(READ "${SCRATCH}/unpacked/usr/lib/systemd/system/vyx-fingerprint-driver.service" unit)
file(READ "${SCRATCH}/unpacked/usr/share/dbus-1/system-services/com.vyx.fingerprintdriver.service" activation)
set(alias dbus-com.vyx.fingerprintdriver.service)
foreach(line "ExecStart=/usr/bin/vyx-fingerprint-driver" "Documentation=man:vyx-fingerprint-driver(8)"
             "Alias=${alias}")
  string(FIND "${unit}" "\n${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the packaged unit lacks \"${line}\":\n${unit}")
  endif()
endforeach()
if(unit MATCHES "\n(WantedBy|RequiredBy|UpheldBy)=")
  message(FATAL_ERROR "the packaged unit is started by something other than the bus:\n${unit}")
endif()
foreach(line "Exec=/usr/bin/vyx-fingerprint-driver" "SystemdService=${alias}")
  string(FIND "${activation}" "\n${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the packaged activation file lacks \"${line}\":\n${activation}")
  endif()
endforeach()

# The service's maintainer scripts, run with stand-ins that record their
# calls. The stand-ins come first on PATH, so no real helper runs on this
# machine; the scripts' tests for a running systemd and their data root are
# pointed into the scratch folder.
set(stubs "${SCRATCH}/stubs")
file(MAKE_DIRECTORY "${stubs}" "${SCRATCH}/systemd-running")
foreach(helper deb-systemd-helper deb-systemd-invoke systemctl)
  file(WRITE "${stubs}/${helper}" "#!/bin/sh\necho \"${helper} $*\" >>\"${SCRATCH}/calls\"\nexit 0\n")
  file(CHMOD "${stubs}/${helper}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
set(root "${SCRATCH}/root")
set(data_root "${root}/usr/share/vyx-authentication/modes/zq3300/data")
foreach(script postinst prerm postrm)
  file(READ "${SCRATCH}/control/vyx-fingerprint-driver/${script}" text)
  foreach(systemd running absent)
    set(copy "${text}")
    if(systemd STREQUAL running)
      string(REPLACE "/run/systemd/system" "${SCRATCH}/systemd-running" copy "${copy}")
    else()
      string(REPLACE "/run/systemd/system" "${SCRATCH}/systemd-absent" copy "${copy}")
    endif()
    string(REPLACE "/usr/share/vyx-authentication/" "${root}/usr/share/vyx-authentication/" copy "${copy}")
    file(WRITE "${SCRATCH}/scripts/${systemd}/${script}" "${copy}")
  endforeach()
endforeach()
function(script_calls systemd script)
  file(REMOVE "${SCRATCH}/calls")
  run("${script} ${ARGN}" env "PATH=${stubs}:/usr/bin:/bin" sh "${SCRATCH}/scripts/${systemd}/${script}" ${ARGN})
  set(calls "")
  if(EXISTS "${SCRATCH}/calls")
    file(READ "${SCRATCH}/calls" calls)
  endif()
  set(calls "${calls}" PARENT_SCOPE)
endfunction()
set(unit_name vyx-fingerprint-driver.service)
# What each call must and must not do: systemd running or not, script and
# arguments, calls expected, calls refused.
foreach(case
    "running|postinst configure|deb-systemd-helper enable ${unit_name}\nsystemctl --system daemon-reload\n|deb-systemd-invoke"
    "absent|postinst configure|deb-systemd-helper enable ${unit_name}\n|systemctl"
    "running|postinst configure 0.0.1-1|deb-systemd-invoke try-restart ${unit_name}\n|deb-systemd-invoke start"
    "running|prerm remove|deb-systemd-invoke stop ${unit_name}\n|deb-systemd-helper"
    "running|postrm remove|deb-systemd-helper mask ${unit_name}\n|deb-systemd-helper purge"
    "running|postrm purge|deb-systemd-helper purge ${unit_name}\ndeb-systemd-helper unmask ${unit_name}\n|deb-systemd-helper mask")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 systemd)
  list(GET case 1 command)
  list(GET case 2 expected)
  list(GET case 3 refused)
  separate_arguments(call UNIX_COMMAND "${command}")
  script_calls(${systemd} ${call})
  string(FIND "${calls}" "${expected}" at)
  string(FIND "${calls}" "${refused}" bad)
  if(at EQUAL -1 OR NOT bad EQUAL -1)
    message(FATAL_ERROR "${command} (systemd ${systemd}): expected the calls \"${expected}\" and none "
                        "\"${refused}\"; its calls:\n${calls}")
  endif()
endforeach()

# Purging removes the data root with what the service wrote in it, and the
# folders above it unless something else lies there.
foreach(keep FALSE TRUE)
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${data_root}/alice")
  file(WRITE "${data_root}/alice/alice_01_right_index" "fingers")
  if(keep)
    file(WRITE "${root}/usr/share/vyx-authentication/framework.conf" "another program's file")
  endif()
  script_calls(running postrm purge)
  if(EXISTS "${data_root}" OR EXISTS "${root}/usr/share/vyx-authentication/modes")
    message(FATAL_ERROR "postrm purge left the data root or its folders behind")
  endif()
  if(keep AND NOT EXISTS "${root}/usr/share/vyx-authentication/framework.conf")
    message(FATAL_ERROR "postrm purge removed a folder that holds another program's file")
  endif()
  if(NOT keep AND EXISTS "${root}/usr/share/vyx-authentication")
    message(FATAL_ERROR "postrm purge left the empty folder above the data root")
  endif()
endforeach()
# Without any helper (no init-system-helpers, no systemd: only the
# essential tools on PATH) every script succeeds.
file(MAKE_DIRECTORY "${SCRATCH}/essential")
foreach(tool rm rmdir)
  find_program(path_${tool} ${tool} REQUIRED)
  file(CREATE_LINK "${path_${tool}}" "${SCRATCH}/essential/${tool}" SYMBOLIC)
endforeach()
foreach(call "postinst;configure" "prerm;remove" "postrm;remove" "postrm;purge")
  list(GET call 0 script)
  list(GET call 1 argument)
  run("${script} ${argument} without helpers" env "PATH=${SCRATCH}/essential" /bin/sh
      "${SCRATCH}/scripts/running/${script}" ${argument})
endforeach()

# lintian, Debian's package checker.
find_program(lintian lintian)
if(NOT lintian)
  message(STATUS "lintian is not installed (Debian package lintian): the packages were not checked with it")
  file(REMOVE_RECURSE "${SCRATCH}")
  return()
endif()
set(debs "")
foreach(package IN LISTS packages)
  list(APPEND debs "${${package}_deb}")
endforeach()
execute_process(COMMAND "${lintian}" --fail-on none --display-level ">=warning" ${debs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lintian failed (${rc}):\n${out}\n${err}")
endif()
message(STATUS "lintian:\n${out}")
string(REGEX MATCHALL "(^|\n)[EW]: [^\n]*" tags "${out}")
set(faults "")
foreach(tag IN LISTS tags)
  string(STRIP "${tag}" tag)
  # Outside the packaging configuration, the tags that configuration
  # answers: hardening flags, the multiarch folder.
  if(NOT DEBIAN_BUILD AND tag MATCHES "^W: [^ ]+ (hardening-[a-z-]+|pkg-config-unavailable-for-cross-compilation) ")
    continue()
  endif()
  string(APPEND faults "${tag}\n")
endforeach()
if(faults)
  message(FATAL_ERROR "lintian finds fault with the packages (errors, and warnings that are neither fixed "
                      "nor overridden in cmake/debian/*.lintian-overrides):\n${faults}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")

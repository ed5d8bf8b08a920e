# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS;
# CPACK_PACKAGE_FILES lists them). Finishes what CPack's DEB generator cannot
# express, and rebuilds each changed package with dpkg-deb:
# - the library packages are "Multi-Arch: same" when the library folder is
#   the multiarch one (CPACK_ZYL_MULTIARCH): their files then lie in it or
#   are the same on every architecture, so the library of several
#   architectures can be installed side by side;
# - the run-time library package keeps its ldconfig trigger only: CPack adds
#   a postinst and a postrm that call ldconfig for any library under
#   /usr/lib, which the trigger makes needless (Debian's tools warn about
#   it). They are removed only when they are exactly that call.
find_program(dpkg_deb dpkg-deb REQUIRED)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  get_filename_component(name "${deb}" NAME)
  set(tree "${deb}.unpacked")
  file(REMOVE_RECURSE "${tree}")
  run(${dpkg_deb} --raw-extract "${deb}" "${tree}")
  file(READ "${tree}/DEBIAN/control" control)
  set(changed FALSE)
  if(CPACK_ZYL_MULTIARCH AND name MATCHES "^libzylscan")
    string(STRIP "${control}" control)
    string(APPEND control "\nMulti-Arch: same\n")
    file(WRITE "${tree}/DEBIAN/control" "${control}")
    set(changed TRUE)
  endif()
  if(EXISTS "${tree}/DEBIAN/triggers")
    foreach(script postinst postrm)
      if(EXISTS "${tree}/DEBIAN/${script}")
        file(READ "${tree}/DEBIAN/${script}" text)
        string(REGEX REPLACE "[ \t\n]+" " " text "${text}")
        if(text MATCHES "^#!/bin/sh set -e if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then ldconfig fi ?$")
          file(REMOVE "${tree}/DEBIAN/${script}")
          set(changed TRUE)
        endif()
      endif()
    endforeach()
  endif()
  if(changed)
    run(${dpkg_deb} --root-owner-group -Zxz --build "${tree}" "${deb}")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()

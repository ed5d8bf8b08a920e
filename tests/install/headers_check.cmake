# Every public header compiles on its own, as the first and only include of
# a C11 and of a C++17 translation unit, with warnings as errors and the
# standard's pedantic diagnostics: a program may include any one of them
# first. Run by CTest as
#   cmake -DINCLUDE_DIR=... -DSCRATCH=... -DCC=... -DCXX=... -P headers_check.cmake
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
file(GLOB headers RELATIVE "${INCLUDE_DIR}" "${INCLUDE_DIR}/zylscan/*.h")
list(LENGTH headers count)
if(count EQUAL 0)
  message(FATAL_ERROR "no public headers under ${INCLUDE_DIR}/zylscan")
endif()
set(failed "")
foreach(header IN LISTS headers)
  # A declaration after the include: a header of macros alone would leave
  # the unit empty, which ISO C forbids.
  set(text "#include <${header}>\nint zyl_header_check_unit;\n")
  file(WRITE "${SCRATCH}/unit.c" "${text}")
  file(WRITE "${SCRATCH}/unit.cpp" "${text}")
  foreach(language "C;${CC};-std=c11;unit.c" "C++;${CXX};-std=c++17;unit.cpp")
    list(GET language 0 name)
    list(GET language 1 compiler)
    list(GET language 2 standard)
    list(GET language 3 unit)
    execute_process(COMMAND "${compiler}" ${standard} -pedantic-errors -Wall -Wextra -Werror -fsyntax-only
                            "-I${INCLUDE_DIR}" "${SCRATCH}/${unit}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      string(APPEND failed "${header} (${name}):\n${out}${err}\n")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
if(failed)
  message(FATAL_ERROR "public headers that do not compile on their own:\n${failed}")
endif()
message(STATUS "${count} public headers compile alone as C11 and C++17")

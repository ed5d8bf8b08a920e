# Checks libzylscan's dynamic symbol table:
#  - every name in the *.exports lists of EXPECTED_DIR is exported, defined, unmangled;
#  - no C++-mangled symbol is exported except the typed (overloadable) forms
#    listed in TYPED (matched by their plain name inside the mangled one).
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(names "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* [A-Za-z] (.+)$")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()

file(GLOB lists ${EXPECTED_DIR}/*.exports)
set(expected "")
foreach(f IN LISTS lists)
  file(STRINGS ${f} part REGEX "^[^#]")
  list(APPEND expected ${part})
endforeach()
set(missing "")
foreach(name IN LISTS expected)
  list(FIND names "${name}" idx)
  if(idx EQUAL -1)
    list(APPEND missing "${name}")
  endif()
endforeach()

set(typed "")
if(EXISTS ${TYPED})
  file(STRINGS ${TYPED} typed REGEX "^[^#]")
endif()
set(mangled "")
foreach(name IN LISTS names)
  if(name MATCHES "^_Z")
    set(allowed FALSE)
    # Inline variables and guards of the standard library (std::ranges
    # customisation points, say) keep default visibility in libstdc++; they
    # are not this library's internals.
    if(name MATCHES "^_Z(GV)?N?St")
      set(allowed TRUE)
    endif()
    # So do the iterator operators of libstdc++'s own namespace, and clang's
    # function sanitizer emits type information of plain function types
    # (typeinfo of "void(unsigned char*)", say) with default visibility.
    if(name MATCHES "^_ZN9__gnu_cxx" OR name MATCHES "^_ZT[IS]F")
      set(allowed TRUE)
    endif()
    foreach(t IN LISTS typed)
      string(LENGTH "${t}" tl)
      if(name MATCHES "^_Z${tl}${t}")
        set(allowed TRUE)
      endif()
    endforeach()
    if(NOT allowed)
      list(APPEND mangled "${name}")
    endif()
  endif()
endforeach()

if(missing OR mangled)
  message(FATAL_ERROR "missing exports: ${missing}\nunexpected C++ exports: ${mangled}")
endif()
list(LENGTH expected n)
message(STATUS "all ${n} expected exports present, no stray C++ symbols")

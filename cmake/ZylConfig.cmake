# Installation-specific values. The defaults are placeholders that let the
# library, the tools and the virtual scanner agree with each other; a build for
# real scanners must set the real values (see README).
set(ZYL_PLACEHOLDER_VENDOR_IDS 0xFFF1 0xFFF2 0xFFF3 0xFFF4)
set(ZYL_PLACEHOLDER_STORED_KEY "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567")
set(ZYL_VENDOR_ID_1 "0xFFF1" CACHE STRING "USB vendor id of the first scanner vendor")
set(ZYL_VENDOR_ID_2 "0xFFF2" CACHE STRING "USB vendor id of the second scanner vendor")
set(ZYL_VENDOR_ID_3 "0xFFF3" CACHE STRING "USB vendor id of the third scanner vendor")
set(ZYL_VENDOR_ID_4 "0xFFF4" CACHE STRING "USB vendor id of the fourth scanner vendor")
# 24 bytes as 48 hex digits: the 3DES key that enciphers stored data.
set(ZYL_STORED_KEY "${ZYL_PLACEHOLDER_STORED_KEY}" CACHE STRING
    "3DES key (48 hex digits) for the on-host finger database and session keys")

# A build that keeps any placeholder works with the test suite's virtual
# scanner only: say so while configuring, and let the package descriptions
# say it too (ZYL_PLACEHOLDER_BUILD).
set(placeholders "")
foreach(n 1 2 3 4)
  string(TOUPPER "${ZYL_VENDOR_ID_${n}}" id)
  string(REGEX REPLACE "^0X" "0x" id "${id}")
  if(id IN_LIST ZYL_PLACEHOLDER_VENDOR_IDS)
    list(APPEND placeholders ZYL_VENDOR_ID_${n})
  endif()
endforeach()
string(TOUPPER "${ZYL_STORED_KEY}" key)
if(key STREQUAL ZYL_PLACEHOLDER_STORED_KEY)
  list(APPEND placeholders ZYL_STORED_KEY)
endif()
if(placeholders)
  set(ZYL_PLACEHOLDER_BUILD ON)
  list(JOIN placeholders ", " names)
  message(WARNING "${names}: placeholder values. This build recognises no real scanner "
                  "(placeholder vendor ids) and cannot read the finger databases or session keys of "
                  "real installations (placeholder key); only the test suite's virtual scanner works "
                  "with it. Pass the real values, e.g. -DZYL_VENDOR_ID_1=0x... -DZYL_STORED_KEY=<48 hex digits>.")
else()
  set(ZYL_PLACEHOLDER_BUILD OFF)
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/zyl_config.h.in
               ${CMAKE_BINARY_DIR}/generated/zyl_config.h @ONLY)

# Installation-specific values. The defaults are placeholders that let the
# library, the tools and the virtual scanner agree with each other; a build for
# real scanners must set the real values (see README).
set(ZYL_VENDOR_ID_1 "0xFFF1" CACHE STRING "USB vendor id of the first scanner vendor")
set(ZYL_VENDOR_ID_2 "0xFFF2" CACHE STRING "USB vendor id of the second scanner vendor")
set(ZYL_VENDOR_ID_3 "0xFFF3" CACHE STRING "USB vendor id of the third scanner vendor")
set(ZYL_VENDOR_ID_4 "0xFFF4" CACHE STRING "USB vendor id of the fourth scanner vendor")
# 24 bytes as 48 hex digits: the 3DES key that enciphers stored data.
set(ZYL_STORED_KEY "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567" CACHE STRING
    "3DES key (48 hex digits) for the on-host finger database and session keys")

configure_file(${CMAKE_CURRENT_LIST_DIR}/zyl_config.h.in
               ${CMAKE_BINARY_DIR}/generated/zyl_config.h @ONLY)

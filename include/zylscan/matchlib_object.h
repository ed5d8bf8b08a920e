/* Matcher library object conventions: status codes shared by every matcher
 * library call, and the scratch-allocation check. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Status codes of the matcher library (int results; 0 is success). */
enum MatchlibStatus {
  ML_OK = 0,
  ML_WRONG_KIND = 1,          /* wrong kind, version or format; a fixed limit; refused state */
  ML_BAD_ARGUMENT = 2,        /* null pointer, zero or negative size, size too large for its field */
  ML_UNAVAILABLE = 3,         /* bad format or not available; a locked parameter */
  ML_TOO_SHORT = 4,           /* data shorter than its version promises */
  ML_EMPTY_SLOT = 5,
  ML_NOT_FOUND = 6,
  ML_NOTHING_TO_COMPARE = 7,
  ML_BELOW_LEVEL = 8,
  ML_NO_MEMORY = 9,
  ML_CORRUPT = 17,            /* corrupt or inconsistent data, size mismatch, wrong count */
  ML_OUT_OF_LIMITS = 18,      /* outside the configured limits, or a required routine missing */
  ML_TOO_MANY = 19,
  ML_TOO_POOR = 21,           /* input too small or too poor for the operation */
  ML_NOT_SET = 22             /* initial value of status variables */
};

/* 0 when p1 .. pn are all non-null (n above 7 counts as 7, n = 0 passes);
 * otherwise frees every non-null pointer of all seven with free() and
 * answers ML_NO_MEMORY. */
ZYL_API int alloc_check(void* p1, void* p2, void* p3, void* p4, void* p5, void* p6, void* p7,
                        uint8_t n);

/* Frees its argument with free() unless it is null: the release routine of
 * objects that own a malloc'd buffer. */
ZYL_API void free_callback(void* p);

ZYL_EXTERN_C_END

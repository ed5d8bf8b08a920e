/* Engine selection: the library-wide algorithm mode and the algorithm
 * context that every opened device carries. */
#pragma once

#include <stdint.h>

#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Engine selector shared by all devices; 4 until setAlgMode is called.
 * Opening a device sets it to that product's mode byte. */
ZYL_API extern int32_t AlgMode;

/* Sets AlgMode; returns 0. */
ZYL_API int32_t setAlgMode(int32_t mode);
/* Creates a device's algorithm context into *out (null when memory runs
 * out) and returns 1; returns -4 without touching anything for a null out. */
ZYL_API int32_t DevAlgCreateCtx(XWContext** out);
/* Frees a device's algorithm context: 0, or -4 for null. */
ZYL_API int32_t DevAlgFreeCtx(XWContext* context);
/* Version of the dispatch layer: 1. */
ZYL_API int32_t DevAlg_GetVersion(void);

ZYL_EXTERN_C_END

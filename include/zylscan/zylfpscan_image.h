/* Image calls of the device API: image size, quality, image records. */
#pragma once

#include "zylscan/zyl_export.h"
#include "zylscan/zylfpscan_status.h"

ZYL_EXTERN_C_BEGIN

/* The open device's image width, height and resolution (500 dpi):
 * -905 SDK not initialised, -103 null handle, 10 for any null output. */
ZYL_API int ZYLFPSCAN_GetImageInfo(void* handle, int* width, int* height, int* resolution);

ZYL_EXTERN_C_END

/* Nearest-neighbour resampling between linear pixel buffers (rows packed
 * without gaps) and ByteImage rows. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Resamples the source_width x source_height linear buffer into the
 * destination_width x destination_height ByteImage: destination pixel (row
 * i, column j) takes source row source_height x i / destination_height and
 * column source_width x j / destination_width (integer division). At equal
 * sizes this is a plain copy. Returns the number of destination rows, 0
 * when an argument is null or a size is not positive. */
ZYL_API int32_t StretchImageFromLinear(int32_t source_width, int32_t source_height, const uint8_t* source,
                                       int32_t destination_width, int32_t destination_height,
                                       ByteImage destination);

/* The same sampling from a ByteImage into a linear buffer. */
ZYL_API int32_t StretchImageToLinear(int32_t source_width, int32_t source_height, ByteImage source,
                                     int32_t destination_width, int32_t destination_height, uint8_t* destination);
/* The same sampling between two ByteImages. */
ZYL_API int32_t StretchImage(int32_t source_width, int32_t source_height, ByteImage source,
                             int32_t destination_width, int32_t destination_height, ByteImage destination);
/* The same sampling between two linear buffers. */
ZYL_API int32_t StretchLinearImage(int32_t source_width, int32_t source_height, const uint8_t* source,
                                   int32_t destination_width, int32_t destination_height, uint8_t* destination);

ZYL_EXTERN_C_END

/* The skeleton engine's pipeline: grey image at 500 dpi to feature record,
 * and the texture quality of an image. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

/* Result of ExtractFeatures for bad arguments. */
#define ZYL_EXTRACT_BAD_ARGUMENT (-1)

ZYL_EXTERN_C_BEGIN

/* Extracts minutiae, singular points, block directions and the border
 * density of the grey image into record, steered by the extraction
 * parameters of context (null: the default context). The image is left
 * holding the cleaned skeleton (ridge 0, background 255). Returns the
 * quality value 0..255 (lower is better) when the context's raw-result
 * setting is on, else 1 when that value is below the quality threshold and
 * 0 when it is not. -1 for a null image or record, no context, or a side
 * outside 1..2048. */
ZYL_API int32_t ExtractFeatures(int32_t width, int32_t height, ByteImage image, FeatureRecord* record,
                                XWContext* context);

/* Texture quality 0..100 (higher is better) of the image, which is left
 * binarised. -1 for a null image or a side below 1. */
ZYL_API int32_t ExtractFeatures_GetQ(int32_t width, int32_t height, ByteImage rows);

ZYL_EXTERN_C_END

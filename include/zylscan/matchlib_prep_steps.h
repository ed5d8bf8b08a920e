/* Matcher library image preparation steps run before extraction (each an
 * ImagePrepRoutine writing a corrected copy of the pixels), their step
 * lists, and the saturation mask of the band-filter step: bright saturated
 * patches and the dark or bright tails joined to them, cast outward to the
 * image border and widened. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Column then row destriping. */
ZYL_API int prep_destripe(MatchContext* ctx, const uint8_t* pixels, const uint8_t* usable,
                          int height, int width, int resolution, const SourceWindow* window,
                          uint8_t* out, uint8_t** out_mask, int* out_flag);
/* Global normalisation to mean 128, deviation 100. */
ZYL_API int prep_normalize_global(MatchContext* ctx, const uint8_t* pixels,
                                  const uint8_t* usable, int height, int width, int resolution,
                                  const SourceWindow* window, uint8_t* out, uint8_t** out_mask,
                                  int* out_flag);
/* Local normalisation at the given resolution. */
ZYL_API int prep_normalize_local(MatchContext* ctx, const uint8_t* pixels, const uint8_t* usable,
                                 int height, int width, int resolution,
                                 const SourceWindow* window, uint8_t* out, uint8_t** out_mask,
                                 int* out_flag);
/* Percentile stretch, band filter by resolution (or radial by key
 * 0xb2a8c686), percentile stretch by key 0xeeb6a790; with key 0xb21c9796
 * the saturation mask (1 usable, 0 excluded; malloc'd, the caller frees
 * it) and *out_flag = 1 when more pixels are saturated than key 0xbfaead9e
 * allows. */
ZYL_API int prep_band_filter(MatchContext* ctx, const uint8_t* pixels, const uint8_t* usable,
                             int height, int width, int resolution, const SourceWindow* window,
                             uint8_t* out, uint8_t** out_mask, int* out_flag);

/* The null-terminated step lists: 0 [normalise global], 1 [normalise
 * local], 2 [destripe, band filter], 3 [band filter]; null otherwise. */
ZYL_API const ImagePrepDescriptor* prep_step_list(int index);

/* Clears the mask bytes of excluded pixels (others untouched) and counts
 * the saturated marks. 0, 2, 9, or the status of the opening. */
ZYL_API int saturation_mask_build(const uint8_t* pixels, int height, int width, uint8_t* mask,
                                  uint32_t* count);

ZYL_EXTERN_C_END

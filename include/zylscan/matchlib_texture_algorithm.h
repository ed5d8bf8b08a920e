/* Matcher library texture-feature algorithm: the kind-87 template of an
 * image (its 190 learned-quality features as a stored feature vector), the
 * raw-image wrapper, the grid map of a template and the score decision
 * over the 17 sub-scores of a grid-map comparison. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct GrayImage GrayImage;

enum {
  TEXTURE_ALGORITHM_ID = 1001,
  TEXTURE_TEMPLATE_KIND = 87,
  TEXTURE_GRIDMAP_KIND = 66,
  TEXTURE_SUBSCORE_COUNT = 17
};

/* A template's grid map: the bytes, and the expanded copy that owns them
 * when the section was expanded (free with texture_gridmap_free). */
typedef struct TextureGridMap {
  const uint8_t* bytes;
  uint32_t length;
  uint8_t* owned;
} TextureGridMap;

/* The kind-87 template of the image into *out (a new blob owning its
 * bytes): 1 when the requested kind is not 87, 9 out of memory, or the
 * feature extraction's status (18 for an image outside the model's
 * limits). `aux` is not read. */
ZYL_API int texture_extract(MatchContext* ctx, const GrayImage* image, const void* aux,
                            int kind, DataBlob** out);
/* A new image holding a copy of height x width pixels at the resolution on
 * both axes: 2 when height x width (each taken as 16 bits) differs from the
 * byte length; 3 when the image cannot be made. `unused` is not read. */
ZYL_API int texture_image_from_raw(const void* unused, const uint8_t* pixels, uint32_t length,
                                   int height, int width, int resolution, GrayImage** out);
/* A new image holding a copy of the pixels, or null. */
ZYL_API GrayImage* texture_image_wrap(const uint8_t* pixels, int height, int width,
                                      int resolution);
/* The template's section 66, expanded into a grid feature map when it
 * expands, else as it stands; the section lookup's status when absent. */
ZYL_API int texture_gridmap_of(const DataBlob* blob, TextureGridMap* out);
ZYL_API void texture_gridmap_free(TextureGridMap* map);
/* Score of a grid-map comparison: 17 unless there are 17 sub-scores; 0
 * with score 0 when the first sub-score is 0 (the profile is not read);
 * otherwise the profile's fusion of the 17 values. The first three
 * arguments are not read. */
ZYL_API int texture_decide(const void* unused1, const void* unused2, const void* unused3,
                           const uint16_t* sub_scores, int count, const ScoreProfile* profile,
                           int16_t* out_score);

ZYL_EXTERN_C_END

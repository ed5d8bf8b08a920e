/* Matcher library texture-feature algorithm: the kind-87 template of an
 * image (its 190 learned-quality features as a stored feature vector), the
 * raw-image wrapper, the grid map of a template, the comparison of two
 * templates' grid maps into 17 sub-scores and the score decision over
 * them, bundled with two keypoint detectors in the algorithm descriptor
 * TextureAlgorithm (id 1001). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/matchlib_xform.h"
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
ZYL_API int texture_extract(MatchContext* ctx, GrayImage* image, void* aux, int32_t kind,
                            DataBlob** out);
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
/* Compares the grid maps (section 66) of two templates: *out_scores
 * receives a new array of 17 values (freed by the caller with free): the
 * grid-map score, then the sixteen detail values of the comparison. A
 * transform in *transform is the starting alignment (its offsets in pixels
 * at 500 dpi); it is released, and on success a new one of the alignment
 * found (at the resolution of key 0x94547f74, default 500) takes its
 * place. "vn.algorithm.360" (default 1) allows the full-turn search.
 * 0; the section lookup's status; 3 when the maps give no work size
 * (an invalid map); the comparison's status; 9 out of memory. On failure
 * no array, count 0 and *transform null. */
ZYL_API int texture_match(MatchContext* ctx, DataBlob* first, DataBlob* second,
                          uint16_t** out_scores, uint16_t* out_count, RigidTransform** transform);
/* Score of a grid-map comparison: 17 unless there are 17 sub-scores; 0
 * with score 0 when the first sub-score is 0 (the profile is not read);
 * otherwise the profile's fusion of the 17 values. The context and the
 * templates are not read. */
ZYL_API int texture_decide(MatchContext* ctx, DataBlob* probe, DataBlob* gallery,
                           const uint16_t* sub_scores, uint16_t count, const ScoreProfile* profile,
                           uint16_t* out_score);

/* The algorithm descriptor: static and read-only. */
typedef int (*AlgorithmModelLoader)(MatchEngine* engine, const uint8_t* bytes, uint32_t length);
typedef int (*AlgorithmRawImageRoutine)(const void* unused, const uint8_t* pixels, uint32_t length,
                                        int height, int width, int resolution, GrayImage** out);
typedef struct AlgorithmDescriptor {
  int32_t id;
  AlgorithmModelLoader load_models; /* the engine's score-model set loader */
  StageExtractRoutine extract;
  AlgorithmRawImageRoutine image_from_raw;
  StageMatchRoutine match;
  StageFuseRoutine decide;
  KeyPointDetector detect;
  KeyPointDetector detect_scaled;
} AlgorithmDescriptor;

/* {1001, model_set_load, texture_extract, texture_image_from_raw,
 * texture_match, texture_decide, detect_extremum, detect_extremum_scaled}. */
ZYL_API extern const AlgorithmDescriptor TextureAlgorithm;

ZYL_EXTERN_C_END

/* Matcher library keypoint extraction stage: one grey image becomes a
 * BlockRecord of keypoints with the descriptors of the selected types,
 * serialised as a type-79 data blob. Two stage operations (the full one of
 * algorithm mode 4, the lighter one of mode 3), the detector lists the full
 * one picks from, the point-list routines and a dense-grid variant. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { KEYPOINT_MAX_BUDGET = 350 };

/* One detector of a list: budget mode 0 the stage budget, 1 a budget from
 * the usable area, other values add no points; keep and score percentages
 * are off when negative. */
typedef struct DetectorEntry {
  KeyPointDetector detector;
  uint32_t budget_mode;
  int8_t keep_percent;
  int8_t score_percent;
} DetectorEntry;

/* The null-terminated detector list for a value of key 0x041e91f6 (1, 2,
 * 4, 8, ..., 256); an empty list for any other value. */
ZYL_API const DetectorEntry* keypoint_detector_list(int32_t value);

/* The stage operations: (context, image, auxiliary (not read), requested
 * kind, out blob). 1 for a kind other than 79, 2 for a null out pointer or
 * image or an image without a resolution, 9 out of memory, or the status
 * of a failing step; *out receives the type-79 blob only on success. */
ZYL_API int keypoint_stage_extract(MatchContext* ctx, GrayImage* image, void* auxiliary,
                                   int32_t kind, DataBlob** out);
ZYL_API int keypoint_stage_extract_light(MatchContext* ctx, GrayImage* image, void* auxiliary,
                                         int32_t kind, DataBlob** out);
/* The static table of both operations, the lighter one first. */
ZYL_API const StageExtractor* keypoint_stage_extractors(void);

/* Comparators for shell_sort: higher scores first; by class, then higher
 * scores first. */
ZYL_API int kp_cmp_score_desc(const void* a, const void* b);
ZYL_API int kp_cmp_class_score(const void* a, const void* b);
/* Drops points on mask cells with bits 0x01, 0x02, 0x10 or 0x40 (the last
 * point takes the dropped one's place) and stores bit 0x20 of the others'
 * cells in their spare byte. */
ZYL_API void kp_filter_by_mask(const MaskPlane* mask, KeyPoint* points, int* count);
/* blockrec_write wrapped in a type-79 blob that owns the bytes. */
ZYL_API int blockrec_to_blob(const BlockRecord* record, DataBlob** out);
/* area / 25 rounded to nearest, at most 350. */
ZYL_API int keypoint_budget_from_area(int area);
/* A point every 5 pixels from (4, 4) over the image the input was cut from,
 * class 3, score 100, type-0x8 descriptors (computed on the normalised
 * image when flag is non-zero). 1 for a null out pointer. */
ZYL_API int keypoint_dense_grid_features(GrayImage* image, DataBlob** out, int flag);

ZYL_EXTERN_C_END

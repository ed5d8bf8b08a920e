// The functions of keypoint stage that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_keypoint_stage.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

const DetectorEntry* keypoint_detector_list(int32_t value);
const StageExtractor* keypoint_stage_extractors(void);
void kp_filter_by_mask(const MaskPlane* mask, KeyPoint* points, int* count);
int blockrec_to_blob(const BlockRecord* record, DataBlob** out);
int keypoint_budget_from_area(int area);
int keypoint_dense_grid_features(GrayImage* image, DataBlob** out, int flag);

}  // namespace zyl::matchlib

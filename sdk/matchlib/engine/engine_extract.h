// The functions of engine extract that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_engine.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int engine_run_stage_extract_pixels(MatchContext* context, const StageObject* stage,
                                    const StageChain*, GrayImage* image, FingerInfo* info,
                                    DataBlob** blob);
int engine_extract(MatchEngine* engine, GrayImage* image, FingerInfo* info, DataBlob** blob);
int engine_extract_image(MatchEngine* engine, GrayImage* image, FingerInfo* info, DataBlob** out);
int engine_extract_pixels(MatchEngine* engine, const uint8_t* pixels, int height, int width,
                          int resolution, FingerInfo* info, DataBlob** out);

}  // namespace zyl::matchlib

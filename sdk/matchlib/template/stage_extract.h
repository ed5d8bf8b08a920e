// The steps of the engine's extraction that run on one image: the
// sample-information section, the engine's converters, and one stage's
// section of the template container. The verification walk extracts an
// image probe with them too, stage by stage.
#pragma once

#include "zylscan/matchlib_engine.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int engine_attach_sample_info(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                              DataBlob** blob);
int engine_apply_converters(MatchEngine* engine, GrayImage* image, GrayImage** out);
int engine_run_stage_extract(MatchContext* context, const StageObject* stage, GrayImage* image,
                             FingerInfo* info, DataBlob** blob);

}  // namespace zyl::matchlib

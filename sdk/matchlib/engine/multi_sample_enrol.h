// The functions of multi sample enrol that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_multi_enrol.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

EnrolSession* multi_enrol_create(MatchEngine* engine, MatchContext* context, FingerInfo* finger,
                                 const EnrolHooks* hooks, uint32_t format,
                                 const MultiSampleSettings* settings);
int multi_enrol_add(EnrolSession* e, GrayImage* image, DataBlob* tmpl, void* progress);
int multi_enrol_finalise(EnrolSession* e, uint8_t maximum_views, DataBlob** out, void* a3);

}  // namespace zyl::matchlib

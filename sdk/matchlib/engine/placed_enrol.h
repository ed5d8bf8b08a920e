// The functions of placed enrol that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_placed_enrol.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

EnrolSession* enrol_create(MatchEngine* engine, MatchContext* context, FingerInfo* finger,
                           const EnrolHooks* hooks, uint32_t format, const EnrolSettings* settings);
EnrolSession* enrol_create_default(MatchEngine* engine, FingerInfo* finger, const EnrolHooks* hooks,
                                   GrayImage* image);
int placed_enrol_add(EnrolSession* e, GrayImage* image, DataBlob* tmpl, void* coverage);
int placed_enrol_finalise(EnrolSession* e, uint8_t maximum_views, DataBlob** out, void*);
void placed_enrol_destroy(EnrolSession* e);
int enrol_best_match(EnrolSession* e, DataBlob* tmpl, uint8_t* out_overlap, uint16_t* out_score);

}  // namespace zyl::matchlib

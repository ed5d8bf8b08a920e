// The functions of enrol job that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_enrol_job.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

EnrolSession* enrol_job_create(MatchContext* context, FingerInfo* finger, void* user,
                               const EnrolJobSettings* settings, const EnrolHooks* hooks,
                               void* hooks_data);
int enrol_job_add(EnrolSession* job, GrayImage* image, DataBlob* tmpl, void* progress);
int enrol_job_finalise(EnrolSession* job, uint8_t maximum_views, DataBlob** out, void* a3);
int enrol_result_slot_set(DataBlob* blob);
DataBlob* enrol_result_slot_take(void);

}  // namespace zyl::matchlib

// The functions of enrol dispatch that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_enrol.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int enrol_add_sample(EnrolSession* s, GrayImage* image, DataBlob* tmpl, void* user);
int enrol_count(EnrolSession* s);
int enrol_finalise_engine(MatchEngine* engine, EnrolSession* s, DataBlob** out);
void enrol_destroy(EnrolSession* s);
MatchContext* enrol_context(EnrolSession* s);
int enrol_reset(EnrolSession* s);
void enrol_set_observer(EnrolSession* s, void* data, EnrolAddSample callback,
                        void (*release)(void* data));

}  // namespace zyl::matchlib

// The functions of enrol capture that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_enrol_capture.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int enrol_capture_run(EnrolSession* enrolment, MatchEngine* engine, SensorDevice* sensor,
                      FingerInfo* finger, const EnrolCaptureObserver* observer,
                      const EnrolCaptureSettings* settings, EnrolCaptureSink sink, void* sink_data);

}  // namespace zyl::matchlib

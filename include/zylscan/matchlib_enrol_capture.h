/* Matcher library capture-driven enrolment: captures impressions from a
 * sensor one after another, feeds them to an enrolment object until it
 * holds the required number of samples, finalises the enrolment template
 * and delivers it. The caller's observer sees 4097 before and 4098 after
 * each impression, 8199 for every frame, and 8204 once the template is
 * delivered; the enrolment object raises its own events through its hooks. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_placed_enrol.h"
#include "zylscan/matchlib_sensor.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* How an impression reaches the enrolment object. */
enum {
  /* The image itself: the enrolment object extracts it. */
  ENROL_CAPTURE_OFFER_IMAGE = 0,
  /* Its template, extracted through the engine: for enrolment objects that
   * take finished templates only. */
  ENROL_CAPTURE_OFFER_TEMPLATE = 1
};

/* The caller's observer: a capture table as the capture routines take, and its
 * user value. Every routine may be null. */
typedef struct EnrolCaptureObserver {
  const CaptureHooks* hooks;
  void* user;
} EnrolCaptureObserver;

/* Receives the finished template (the sink takes its own reference when
 * it keeps it) and answers a status. */
typedef int (*EnrolCaptureSink)(void* sink_data, MatchEngine* engine, DataBlob* tmpl,
                                FingerInfo* finger);

typedef struct EnrolCaptureSettings {
  uint16_t timeout;          /* handed to the sensor for each capture */
  uint16_t sample_count;     /* samples the enrolment must hold; 0 = 1 */
  int32_t coverage_quality;  /* the last progress must reach
                                min(100, coverage_quality * 38800 / 87500) */
  CaptureSettings capture;   /* frame quality, foreground and still-finger check */
  int32_t offer;             /* ENROL_CAPTURE_OFFER_* */
} EnrolCaptureSettings;

/* Runs the capture loop over a given enrolment object (which it does not
 * destroy) and hands the finalised template to the sink. 0; 2 for a
 * missing argument; 8 when the enrolment's last progress falls short; the
 * status of a failing capture (7 when cancelled), lift, extraction, add,
 * finalise or sink otherwise. */
ZYL_API int enrol_capture_run(EnrolSession* enrolment, MatchEngine* engine, SensorDevice* sensor,
                              FingerInfo* finger, const EnrolCaptureObserver* observer,
                              const EnrolCaptureSettings* settings, EnrolCaptureSink sink,
                              void* sink_data);

/* Creates a placement-checking enrolment (enrol_create) with the hooks,
 * the format code and the settings, runs the capture loop over it and
 * destroys it. The capture values are the settings' carried fields:
 * further[0] the least foreground percentage, further[1] the coverage
 * quality, further[2] the least frame quality, further[3] the still-finger
 * check, further_limit the time-out. 2 for a format code below 2 or a
 * missing argument; 9 when the enrolment cannot be made; otherwise as
 * enrol_capture_run. */
ZYL_API int enrol_capture_driver(MatchContext* context, MatchEngine* engine, FingerInfo* finger,
                                 const EnrolHooks* hooks, EnrolCaptureSink sink, void* sink_data,
                                 SensorDevice* sensor, const EnrolCaptureObserver* observer,
                                 int32_t format, int32_t offer, const EnrolSettings* settings);
/* The same with the context's engine and the default enrolment settings
 * of that engine (enrol_create_default); the template is handed over
 * through *out (the process-wide result slot is left empty). */
ZYL_API int enrol_capture_to_slot(MatchContext* context, FingerInfo* finger, const EnrolHooks* hooks,
                                  SensorDevice* sensor, const EnrolCaptureObserver* observer,
                                  int32_t format, DataBlob** out);

/* Sink that stores the template in the process-wide result slot. */
ZYL_API int enrol_capture_slot_sink(void* unused, MatchEngine* engine, DataBlob* tmpl,
                                    FingerInfo* finger);

/* Cancel the running capture, for a given context or for the engine's. */
ZYL_API int enrol_capture_cancel(MatchContext* context, SensorDevice* sensor);
ZYL_API int enrol_capture_cancel_engine(MatchEngine* engine, SensorDevice* sensor);

ZYL_EXTERN_C_END

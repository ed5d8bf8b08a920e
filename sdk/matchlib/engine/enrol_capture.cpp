// Capture-driven enrolment: impressions captured one after another from a
// sensor and fed to an enrolment object until it holds enough samples; the
// finalised template goes to a sink.
#include <algorithm>
#include <cstdint>

#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_enrol_capture.h"
#include "zylscan/matchlib_enrol_job.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/blob.h"
#include "matchlib/engine/engine_extract.h"
#include "matchlib/engine/enrol_capture.h"
#include "matchlib/engine/enrol_dispatch.h"
#include "matchlib/engine/enrol_job.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/engine/sensor_capture.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/engine/placed_enrol.h"

namespace zyl::matchlib {
namespace {

const EnrolCaptureObserver& observer_of(void* user) {
  return *static_cast<const EnrolCaptureObserver*>(user);
}

// The table handed to the capture routines. The loop itself signals 4097
// and 4098 around each impression, so of the capture's own events only the
// frames (8199) reach the observer; frames, quality checks and accepted
// images are passed on as they come.
int forward_frame_event(void* user, int code, void* argument, std::int32_t value) {
  const EnrolCaptureObserver& o = observer_of(user);
  if (!o.hooks || !o.hooks->event) return 0;
  if (code != CAPTURE_EVENT_FRAME) return 1;
  return o.hooks->event(o.user, code, argument, value);
}

void forward_frame(void* user, GrayImage* image, int value) {
  const EnrolCaptureObserver& o = observer_of(user);
  if (o.hooks && o.hooks->frame) o.hooks->frame(o.user, image, value);
}

int forward_quality(void* user, GrayImage* image, int min_quality, int min_foreground) {
  const EnrolCaptureObserver& o = observer_of(user);
  if (!o.hooks || !o.hooks->quality) return 1;
  return o.hooks->quality(o.user, image, min_quality, min_foreground);
}

int forward_accepted(void* user, GrayImage* image) {
  const EnrolCaptureObserver& o = observer_of(user);
  if (!o.hooks || !o.hooks->accepted) return 1;
  return o.hooks->accepted(o.user, image);
}

const CaptureHooks kForward{forward_frame_event, nullptr, forward_frame,
                            forward_quality,     nullptr, forward_accepted};

struct Loop {
  EnrolSession* enrolment;
  MatchEngine* engine;
  SensorDevice* sensor;
  FingerInfo* finger;
  EnrolCaptureObserver observer;
  const EnrolCaptureSettings& settings;
  GrayImage* image = nullptr;
  int progress = 0;

  void signal(int code) {
    if (observer.hooks && observer.hooks->event)
      observer.hooks->event(observer.user, code, finger, 0);
  }

  void drop_image() {
    zyl::matchlib::image_release(image);
    image = nullptr;
  }

  // 4097, one accepted image, and its offer to the enrolment object.
  int capture_and_add() {
    signal(CAPTURE_EVENT_BEFORE);
    GrayImage* out[1] = {nullptr};
    int status = zyl::matchlib::capture_images(&observer, sensor, finger, &kForward, 1,
                                               settings.timeout, &settings.capture, out);
    if (status != ML_OK) return status;
    image = out[0];
    // The enrolment object reports its coverage (or its fill) in percent.
    progress = 0;
    if (settings.offer == ENROL_CAPTURE_OFFER_TEMPLATE) {
      DataBlob* tmpl = nullptr;
      status = zyl::matchlib::engine_extract_image(engine, image, finger, &tmpl);
      if (status == ML_OK)
        status = zyl::matchlib::enrol_add_sample(enrolment, nullptr, tmpl, &progress);
      zyl::matchlib::blob_release(tmpl);
      return status;
    }
    return zyl::matchlib::enrol_add_sample(enrolment, image, nullptr, &progress);
  }

  int run(EnrolCaptureSink sink, void* sink_data) {
    const int required = std::max<int>(settings.sample_count, 1);
    int status = capture_and_add();
    while (status == ML_OK && zyl::matchlib::enrol_count(enrolment) < required) {
      drop_image();
      signal(CAPTURE_EVENT_AFTER);
      status = zyl::matchlib::capture_wait_lift(&observer, sensor, &kForward, settings.timeout);
      if (status == ML_OK) status = capture_and_add();
    }
    drop_image();
    if (status != ML_OK) return status;
    signal(CAPTURE_EVENT_AFTER);
    // The coverage the enrolment must have reported: a share of the 87500
    // square units (1/500 inch) a finger covers.
    const std::int64_t wanted =
        std::min<std::int64_t>(100, std::int64_t{settings.coverage_quality} * 38800 / 87500);
    if (progress < wanted) return ML_BELOW_LEVEL;
    DataBlob* tmpl = nullptr;
    status = zyl::matchlib::enrol_finalise_engine(engine, enrolment, &tmpl);
    if (status == ML_OK) status = sink ? sink(sink_data, engine, tmpl, finger) : ML_OK;
    if (status == ML_OK) signal(ENROL_EVENT_FINISHED);
    zyl::matchlib::blob_release(tmpl);
    return status;
  }
};

// The capture values an enrolment's settings carry.
EnrolCaptureSettings capture_settings(const EnrolSettings& s, int32_t offer) {
  EnrolCaptureSettings c{};
  c.timeout = s.further_limit;
  c.sample_count = s.capacity;
  c.coverage_quality = static_cast<std::int32_t>(s.further[1]);
  c.capture.min_quality = static_cast<std::uint8_t>(std::min<std::uint32_t>(s.further[2], 100));
  c.capture.min_foreground_percent = static_cast<std::int32_t>(std::min<std::uint32_t>(s.further[0], 100));
  c.capture.still_finger_check = s.further[3] != 0;
  c.offer = offer;
  return c;
}

// Default carried fields of an enrolment's settings (those of
// enrol_create_default): 20 % foreground, coverage quality 121 (53 % of a
// finger), frame quality 50, still-finger check on, 30 s per capture.
EnrolSettings default_capture_fields(std::uint16_t capacity) {
  EnrolSettings s{};
  s.further[0] = 20;
  s.further[1] = 121;
  s.further[2] = 50;
  s.further[3] = 1;
  s.further_limit = 30000;
  s.capacity = capacity;
  return s;
}

int run_created(EnrolSession* enrolment, MatchEngine* engine, SensorDevice* sensor,
                FingerInfo* finger, const EnrolCaptureObserver* observer,
                const EnrolCaptureSettings& settings, EnrolCaptureSink sink, void* sink_data) {
  if (!enrolment) return ML_NO_MEMORY;
  // The placement enrolment holds as many samples as it has slots.
  EnrolCaptureSettings c = settings;
  if (c.sample_count == 0) c.sample_count = 1;
  const int status = zyl::matchlib::enrol_capture_run(enrolment, engine, sensor, finger, observer,
                                                      &c, sink, sink_data);
  zyl::matchlib::enrol_destroy(enrolment);
  return status;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::enrol_capture_run(EnrolSession* enrolment, MatchEngine* engine,
                                     SensorDevice* sensor, FingerInfo* finger,
                                     const EnrolCaptureObserver* observer,
                                     const EnrolCaptureSettings* settings, EnrolCaptureSink sink,
                                     void* sink_data) {
  if (!enrolment || !engine || !sensor || !settings) return ML_BAD_ARGUMENT;
  Loop loop{enrolment, engine, sensor, finger,
            observer ? *observer : EnrolCaptureObserver{nullptr, nullptr}, *settings};
  return loop.run(sink, sink_data);
}

extern "C" ZYL_API int enrol_capture_driver(MatchContext* context, MatchEngine* engine,
                                            FingerInfo* finger, const EnrolHooks* hooks,
                                            EnrolCaptureSink sink, void* sink_data,
                                            SensorDevice* sensor,
                                            const EnrolCaptureObserver* observer, int32_t format,
                                            int32_t offer, const EnrolSettings* settings) {
  if (format < 2 || !engine || !sensor || !settings) return ML_BAD_ARGUMENT;
  EnrolSession* e = zyl::matchlib::enrol_create(engine, context, finger, hooks,
                                                static_cast<std::uint32_t>(format), settings);
  return run_created(e, engine, sensor, finger, observer, capture_settings(*settings, offer), sink,
                     sink_data);
}

extern "C" ZYL_API int enrol_capture_to_slot(MatchContext* context, FingerInfo* finger,
                                             const EnrolHooks* hooks, SensorDevice* sensor,
                                             const EnrolCaptureObserver* observer, int32_t format,
                                             DataBlob** out) {
  if (out) *out = nullptr;
  MatchEngine* engine = zyl::matchlib::ctx_get_engine(context);
  if (format < 2 || !engine || !sensor || !out) return ML_BAD_ARGUMENT;
  const EngineConfig* config = zyl::matchlib::engine_get_config(engine);
  EnrolSession* e = zyl::matchlib::enrol_create_default(engine, finger, hooks, nullptr);
  const EnrolSettings fields = default_capture_fields(config ? config->unnamed_u8_1 : 1);
  const int status = run_created(e, engine, sensor, finger, observer,
                                 capture_settings(fields, ENROL_CAPTURE_OFFER_IMAGE),
                                 enrol_capture_slot_sink, nullptr);
  // The slot only carries the template across: the caller gets it.
  DataBlob* tmpl = zyl::matchlib::enrol_result_slot_take();
  if (status == ML_OK) {
    *out = tmpl;
  } else {
    zyl::matchlib::blob_release(tmpl);
  }
  return status;
}

extern "C" ZYL_API int enrol_capture_slot_sink(void*, MatchEngine*, DataBlob* tmpl, FingerInfo*) {
  return zyl::matchlib::enrol_result_slot_set(tmpl);
}

extern "C" ZYL_API int enrol_capture_cancel(MatchContext* context, SensorDevice* sensor) {
  return zyl::matchlib::capture_cancel(context, sensor);
}

extern "C" ZYL_API int enrol_capture_cancel_engine(MatchEngine* engine, SensorDevice* sensor) {
  return zyl::matchlib::capture_cancel(zyl::matchlib::engine_get_context(engine), sensor);
}

extern "C" {

ZYL_API int enrol_capture_run(EnrolSession* enrolment, MatchEngine* engine, SensorDevice* sensor,
                              FingerInfo* finger, const EnrolCaptureObserver* observer,
                              const EnrolCaptureSettings* settings, EnrolCaptureSink sink,
                              void* sink_data) {
  return zyl::matchlib::enrol_capture_run(enrolment, engine, sensor, finger, observer, settings,
                                          sink, sink_data);
}

}  // extern "C"

// Sensor descriptors and the capture routines that drive them.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_sensor.h"
#include "zylscan/matchlib_support.h"
#include "matchlib/engine/sensor_capture.h"
#include "matchlib/core/timestamp.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/filter/image_statistics.h"

namespace zyl::matchlib {
namespace {

// Process-wide: set by capture_cancel from inside a capture, cleared when a
// capture routine starts.
bool g_cancelled = false;

constexpr int kRecentMax = 3;

struct RecentFrame {
  GrayImage* image;
  Timestamp time;
};

struct CaptureState {
  void* user;
  const CaptureHooks* hooks;
  SensorDevice* sensor;
  FingerInfo* finger;
  const CaptureSettings* settings;
  RecentFrame recent[kRecentMax + 1];
  int recent_count;
  GrayImage* accepted;
  // capture_frames
  GrayImage** frames;
  int frame_count;
  int frame_limit;
  void* data;
};

int send(const CaptureState& s, int code, void* argument, std::int32_t value) {
  return s.hooks && s.hooks->event ? s.hooks->event(s.user, code, argument, value) : 0;
}

void show(const CaptureState& s, GrayImage* image, int value, int* quality, int* foreground) {
  if (s.hooks && s.hooks->frame) s.hooks->frame(s.user, image, value);
  *quality = zyl::matchlib::image_quality(image);
  *foreground = zyl::matchlib::image_foreground_percent(image);
  const int min_q = s.settings ? s.settings->min_quality : 0;
  const int min_fg = s.settings ? s.settings->min_foreground_percent : 0;
  if (s.hooks && s.hooks->quality) s.hooks->quality(s.user, image, min_q, min_fg);
}

void clear_recent(CaptureState& s) {
  for (int i = 0; i < s.recent_count; ++i) zyl::matchlib::image_release(s.recent[i].image);
  s.recent_count = 0;
}

// Passes sensor events of types 1..3 on; the image any non-frame event
// carries is released here, once.
int other_event(CaptureState& s, int type, GrayImage* image, std::int32_t v1) {
  zyl::matchlib::image_release(image);
  switch (type) {
    case SENSOR_EVENT_1:
      send(s, CAPTURE_EVENT_SENSOR_1, nullptr, v1);
      break;
    case SENSOR_EVENT_2:
      send(s, CAPTURE_EVENT_SENSOR_2, nullptr, v1);
      break;
    case SENSOR_EVENT_3:
      send(s, CAPTURE_EVENT_SENSOR_3, nullptr, v1);
      break;
    default:
      break;
  }
  return 0;
}

// Whether the newest frame has stopped moving: compared with an earlier
// frame taken more than 32 ms before it (or the oldest of three).
bool finger_still(const CaptureState& s) {
  const RecentFrame& newest = s.recent[0];
  const RecentFrame* other = nullptr;
  for (int i = 1; i < s.recent_count; ++i) {
    if (zyl::matchlib::time_diff_ms(&newest.time, &s.recent[i].time) > 32) {
      other = &s.recent[i];
      break;
    }
  }
  if (!other) {
    if (s.recent_count < kRecentMax) return false;
    other = &s.recent[s.recent_count - 1];
  }
  int percent = 100;
  if (zyl::matchlib::image_compare_pixels(newest.image, other->image, 16, 1, &percent) != ML_OK)
    return false;
  return percent <= 10;
}

int on_image_event(void* data, int type, GrayImage* image, std::int32_t v1, std::int32_t) {
  auto& s = *static_cast<CaptureState*>(data);
  if (type != SENSOR_EVENT_FRAME) return other_event(s, type, image, v1);
  if (!image) return 0;
  if (s.accepted) {  // frames the sensor delivers before it stops
    zyl::matchlib::image_release(image);
    return 0;
  }
  Timestamp now;
  zyl::matchlib::time_now(&now);
  const int value = send(s, CAPTURE_EVENT_FRAME, image, 0);
  int quality, foreground;
  show(s, image, value, &quality, &foreground);
  const int min_q = s.settings ? s.settings->min_quality : 0;
  const int min_fg = s.settings ? s.settings->min_foreground_percent : 0;
  if (quality < min_q || foreground < min_fg) {
    if (foreground > 0) {
      if (quality < min_q) send(s, CAPTURE_EVENT_LOW_QUALITY, image, quality);
      if (foreground < min_fg) send(s, CAPTURE_EVENT_SMALL_AREA, image, foreground);
    }
    zyl::matchlib::image_release(image);
  } else {
    std::memmove(&s.recent[1], &s.recent[0], sizeof(RecentFrame) * s.recent_count);
    s.recent[0] = RecentFrame{image, now};
    if (++s.recent_count > kRecentMax)
      zyl::matchlib::image_release(s.recent[--s.recent_count].image);
    const bool check = s.sensor->kind == 0 && s.settings && s.settings->still_finger_check;
    if (!check || finger_still(s)) {
      if (s.hooks && s.hooks->accepted) s.hooks->accepted(s.user, image);
      s.accepted = zyl::matchlib::image_retain(image);
      zyl::matchlib::sensor_stop(s.sensor);
      return 0;
    }
  }
  if (s.sensor->kind != 0) send(s, CAPTURE_EVENT_PROMPT, s.finger, 0);
  return 0;
}

// Lift and placement waits: each frame is shown, then released; the
// capture stops once the finger is off (or on).
template <bool kLift>
int on_presence_event(void* data, int type, GrayImage* image, std::int32_t v1, std::int32_t) {
  auto& s = *static_cast<CaptureState*>(data);
  if (type != SENSOR_EVENT_FRAME) {
    if (kLift && type == SENSOR_EVENT_LIFTED) {
      zyl::matchlib::image_release(image);
      zyl::matchlib::sensor_stop(s.sensor);
      return 0;
    }
    return other_event(s, type, image, v1);
  }
  if (!image) return 0;
  int quality, foreground;
  show(s, image, 0, &quality, &foreground);
  zyl::matchlib::image_release(image);
  const bool done = kLift ? (foreground < 11 || quality <= 3) : (foreground > 10 && quality > 3);
  if (done) zyl::matchlib::sensor_stop(s.sensor);
  return 0;
}

int on_frame_event(void* data, int type, GrayImage* image, std::int32_t v1, std::int32_t) {
  auto& s = *static_cast<CaptureState*>(data);
  if (type != SENSOR_EVENT_FRAME) return other_event(s, type, image, v1);
  if (!image) return 0;
  if (s.frame_count >= s.frame_limit) {
    zyl::matchlib::image_release(image);
    return 0;
  }
  send(s, CAPTURE_EVENT_FRAME, image, 0);
  int quality, foreground;
  show(s, image, 0, &quality, &foreground);
  s.frames[s.frame_count++] = image;
  if (s.frame_count >= s.frame_limit)
    zyl::matchlib::sensor_stop(s.sensor);
  else if (s.sensor->kind != 0)
    send(s, CAPTURE_EVENT_PROMPT, s.data, s.frame_count);
  return 0;
}

CaptureState make_state(void* user, SensorDevice* sensor, const CaptureHooks* hooks) {
  CaptureState s{};
  s.user = user;
  s.sensor = sensor;
  s.hooks = hooks;
  return s;
}

int wait_presence(void* user, SensorDevice* sensor, const CaptureHooks* hooks, uint16_t timeout,
                  SensorEventHandler handler) {
  g_cancelled = false;
  if (!sensor) return ML_BAD_ARGUMENT;
  if (sensor->kind != 0) return ML_OK;
  CaptureState s = make_state(user, sensor, hooks);
  const int status = zyl::matchlib::sensor_capture(sensor, handler, &s, timeout);
  if (status == ML_NOTHING_TO_COMPARE && !g_cancelled) return ML_OK;
  return status;
}

void destroy_sensor(SensorDevice* sensor) { std::free(sensor); }

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API SensorDevice* sensor_create(const char* label, const char* model_label,
                                               int32_t kind, uint16_t height, uint16_t width,
                                               uint16_t res_y, uint16_t res_x, const SensorOps* ops,
                                               void* user_data) {
  if (!model_label) return nullptr;
  const std::size_t label_len = label ? strnlen(label, 128) : 0;
  const std::size_t model_len = strnlen(model_label, 128);
  if (label_len >= 128 || model_len >= 128) return nullptr;
  auto* s = static_cast<SensorDevice*>(ml_calloc(1, sizeof(SensorDevice)));
  if (!s) return nullptr;
  s->refcount = 1;
  if (label) std::memcpy(s->label, label, label_len);
  std::memcpy(s->model_label, model_label, model_len);
  s->kind = kind;
  s->height = height;
  s->width = width;
  s->res_y = res_y;
  s->res_x = res_x;
  s->ops = ops;
  s->user_data = user_data;
  s->destroy = destroy_sensor;
  return s;
}

extern "C" ZYL_API SensorDevice* sensor_retain(SensorDevice* s) {
  if (s) ++s->refcount;
  return s;
}

extern "C" ZYL_API void sensor_release(SensorDevice* s) {
  if (s && --s->refcount == 0 && s->destroy) s->destroy(s);
}

extern "C" ZYL_API void sensor_destroy(SensorDevice* s) { destroy_sensor(s); }

extern "C" ZYL_API const char* sensor_label(const SensorDevice* s) {
  return s ? s->label : nullptr;
}
extern "C" ZYL_API const char* sensor_model_label(const SensorDevice* s) {
  return s ? s->model_label : nullptr;
}
extern "C" ZYL_API int32_t sensor_kind(const SensorDevice* s) { return s ? s->kind : 0; }
extern "C" ZYL_API uint16_t sensor_height(const SensorDevice* s) { return s ? s->height : 0; }
extern "C" ZYL_API uint16_t sensor_width(const SensorDevice* s) { return s ? s->width : 0; }
extern "C" ZYL_API uint16_t sensor_res_y(const SensorDevice* s) { return s ? s->res_y : 0; }
extern "C" ZYL_API uint16_t sensor_res_x(const SensorDevice* s) { return s ? s->res_x : 0; }
extern "C" ZYL_API void* sensor_user_data(const SensorDevice* s) {
  return s ? s->user_data : nullptr;
}

extern "C" ZYL_API int sensor_area_mm2(const SensorDevice* s) {
  if (!s) return 0;
  const std::int64_t h = s->res_y ? std::int64_t{s->height} * 500 / s->res_y : s->height;
  const std::int64_t w = s->res_x ? std::int64_t{s->width} * 500 / s->res_x : s->width;
  // 1 mm2 is 387.5 pixels at 500 dpi, rounded to nearest.
  return static_cast<int>((2 * h * w + 387) / 775);
}

extern "C" ZYL_API int sensor_op0(SensorDevice* s, uint16_t argument) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->ops && s->ops->op0 ? s->ops->op0(s, argument) : ML_OUT_OF_LIMITS;
}
extern "C" ZYL_API int sensor_op1(SensorDevice* s, uint16_t argument) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->ops && s->ops->op1 ? s->ops->op1(s, argument) : ML_OUT_OF_LIMITS;
}
int zyl::matchlib::sensor_capture(SensorDevice* s, SensorEventHandler handler, void* data,
                                  uint16_t timeout) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->ops && s->ops->capture ? s->ops->capture(s, handler, data, timeout) : ML_OUT_OF_LIMITS;
}
int zyl::matchlib::sensor_stop(SensorDevice* s) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->ops && s->ops->stop ? s->ops->stop(s) : ML_OUT_OF_LIMITS;
}

int zyl::matchlib::capture_images(void* user, SensorDevice* sensor, FingerInfo* finger,
                                  const CaptureHooks* hooks, uint8_t n, uint16_t timeout,
                                  const CaptureSettings* settings, GrayImage** out) {
  if (n == 0) return ML_BAD_ARGUMENT;
  if (!sensor || !out) return ML_BAD_ARGUMENT;
  for (int i = 0; i < n; ++i) out[i] = nullptr;
  g_cancelled = false;
  CaptureState s = make_state(user, sensor, hooks);
  s.finger = finger;
  s.settings = settings;
  // Images already delivered go back when a later capture fails: the
  // caller gets all n or none.
  auto fail = [&](int status) {
    clear_recent(s);
    zyl::matchlib::image_release(s.accepted);
    for (int i = 0; i < n; ++i) {
      zyl::matchlib::image_release(out[i]);
      out[i] = nullptr;
    }
    return status;
  };
  for (int i = 0; i < n; ++i) {
    if (i > 0 && sensor->kind == 0) {
      const int lift = zyl::matchlib::sensor_capture(sensor, on_presence_event<true>, &s, timeout);
      if (lift == ML_NOTHING_TO_COMPARE ? g_cancelled : lift != ML_OK) return fail(lift);
    }
    send(s, CAPTURE_EVENT_BEFORE, finger, 0);
    if (sensor->kind != 0) send(s, CAPTURE_EVENT_PROMPT, finger, 0);
    s.accepted = nullptr;
    const int status = zyl::matchlib::sensor_capture(sensor, on_image_event, &s, timeout);
    send(s, CAPTURE_EVENT_AFTER, finger, 0);
    if (status != ML_OK && !(status == ML_NOTHING_TO_COMPARE && !g_cancelled)) return fail(status);
    // A capture that ended without an accepted frame delivered nothing.
    if (!s.accepted) return fail(ML_BELOW_LEVEL);
    out[i] = s.accepted;
    s.accepted = nullptr;
    clear_recent(s);
  }
  return ML_OK;
}

extern "C" ZYL_API int capture_frames(void* user, SensorDevice* sensor, void* data,
                                      const CaptureHooks* hooks, uint8_t n, GrayImage** out) {
  g_cancelled = false;
  if (!sensor || !out || n == 0) return ML_BAD_ARGUMENT;
  for (int i = 0; i < n; ++i) out[i] = nullptr;
  CaptureState s = make_state(user, sensor, hooks);
  s.frames = out;
  s.frame_limit = n;
  s.data = data;
  send(s, CAPTURE_EVENT_BEFORE, data, 0);
  if (sensor->kind != 0) send(s, CAPTURE_EVENT_PROMPT, data, 0);
  const int status = zyl::matchlib::sensor_capture(sensor, on_frame_event, &s, 65535);
  send(s, CAPTURE_EVENT_AFTER, data, 0);
  if (status == ML_NOTHING_TO_COMPARE && !g_cancelled) return ML_OK;
  return status;
}

int zyl::matchlib::capture_wait_lift(void* user, SensorDevice* sensor, const CaptureHooks* hooks,
                                     uint16_t timeout) {
  return wait_presence(user, sensor, hooks, timeout, on_presence_event<true>);
}

extern "C" ZYL_API int capture_wait_finger(void* user, SensorDevice* sensor,
                                           const CaptureHooks* hooks, uint16_t timeout) {
  return wait_presence(user, sensor, hooks, timeout, on_presence_event<false>);
}

int zyl::matchlib::capture_cancel(void*, SensorDevice* sensor) {
  g_cancelled = true;
  return zyl::matchlib::sensor_stop(sensor);
}

extern "C" {

ZYL_API int sensor_capture(SensorDevice* s, SensorEventHandler handler, void* data,
                           uint16_t timeout) {
  return zyl::matchlib::sensor_capture(s, handler, data, timeout);
}
ZYL_API int sensor_stop(SensorDevice* s) { return zyl::matchlib::sensor_stop(s); }
ZYL_API int capture_images(void* user, SensorDevice* sensor, FingerInfo* finger,
                           const CaptureHooks* hooks, uint8_t n, uint16_t timeout,
                           const CaptureSettings* settings, GrayImage** out) {
  return zyl::matchlib::capture_images(user, sensor, finger, hooks, n, timeout, settings, out);
}
ZYL_API int capture_wait_lift(void* user, SensorDevice* sensor, const CaptureHooks* hooks,
                              uint16_t timeout) {
  return zyl::matchlib::capture_wait_lift(user, sensor, hooks, timeout);
}
ZYL_API int capture_cancel(void* arg0, SensorDevice* sensor) {
  return zyl::matchlib::capture_cancel(arg0, sensor);
}

}  // extern "C"

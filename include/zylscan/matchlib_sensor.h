/* Matcher library sensors and image capture: a sensor descriptor carries
 * the caller's table of sensor operations; the capture routines run a
 * capture through it, keep the most recent frames, check their quality and
 * area, wait for the finger to be placed or lifted, and report progress to
 * the caller through event codes. The library contains no sensor driver. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct SensorDevice SensorDevice;

/* Event types a sensor's capture operation hands to the event handler. A
 * handler owns the image reference an event carries. */
enum SensorEventType {
  SENSOR_EVENT_FRAME = 0,
  SENSOR_EVENT_1 = 1,
  SENSOR_EVENT_2 = 2,
  SENSOR_EVENT_3 = 3,
  SENSOR_EVENT_LIFTED = 5
};

typedef int (*SensorEventHandler)(void* handler_data, int event_type, GrayImage* image,
                                  int32_t value1, int32_t value2);

typedef struct SensorOps {
  int (*op0)(SensorDevice* sensor, uint16_t argument);
  int (*op1)(SensorDevice* sensor, uint16_t argument);
  /* 0 done, 7 ended early (stopped), 8 and others: failure. */
  int (*capture)(SensorDevice* sensor, SensorEventHandler handler, void* handler_data,
                 uint16_t timeout);
  int (*stop)(SensorDevice* sensor);
} SensorOps;

struct SensorDevice {
  uint32_t refcount;
  char label[128];
  char model_label[128];
  int32_t kind; /* 0: lift between captures and the still-finger test */
  uint16_t height;
  uint16_t width;
  uint16_t res_y; /* 0 = 500 dpi */
  uint16_t res_x;
  const SensorOps* ops;
  void* user_data;
  void (*destroy)(SensorDevice* sensor);
};

/* Event codes sent to the caller's event routine, capture and enrolment alike. */
enum CaptureEvent {
  CAPTURE_EVENT_BEFORE = 4097,
  CAPTURE_EVENT_AFTER = 4098,
  CAPTURE_EVENT_PROMPT = 4099,
  CAPTURE_EVENT_SENSOR_1 = 4100,
  CAPTURE_EVENT_SENSOR_2 = 8193,
  CAPTURE_EVENT_SENSOR_3 = 8194,
  CAPTURE_EVENT_LOW_QUALITY = 8197,
  CAPTURE_EVENT_SMALL_AREA = 8198,
  CAPTURE_EVENT_FRAME = 8199,
  /* Enrolment events, raised through an enrolment object's hooks. */
  ENROL_EVENT_SAME_PLACE = 4103,    /* matches the most recent sample at the same place */
  ENROL_EVENT_UNMATCHED = 4104,     /* matches no earlier sample */
  ENROL_EVENT_EXTRACTED = 8203,     /* a template was taken from an impression */
  ENROL_EVENT_FINISHED = 8204,      /* the enrolment template was delivered */
  ENROL_EVENT_REFUSED = 61441,      /* a duplicate of an earlier sample */
  ENROL_EVENT_LOW_COVERAGE = 61442, /* too little of the grid covered */
  ENROL_EVENT_SMALL_TEMPLATE = 61443,
  ENROL_EVENT_NEAR = 61444          /* closer to its neighbour than the least distance */
};

/* The caller's capture table (slots 1 and 4 are not used here). */
typedef struct CaptureHooks {
  int (*event)(void* user, int code, void* argument, int32_t value);
  void* reserved1;
  void (*frame)(void* user, GrayImage* image, int value);
  int (*quality)(void* user, GrayImage* image, int min_quality, int min_foreground);
  void* reserved4;
  int (*accepted)(void* user, GrayImage* image);
} CaptureHooks;

typedef struct CaptureSettings {
  uint8_t min_quality; /* 1..100 */
  int32_t min_foreground_percent;
  int32_t still_finger_check;
} CaptureSettings;

ZYL_API SensorDevice* sensor_create(const char* label, const char* model_label, int32_t kind,
                                    uint16_t height, uint16_t width, uint16_t res_y,
                                    uint16_t res_x, const SensorOps* ops, void* user_data);
ZYL_API SensorDevice* sensor_retain(SensorDevice* sensor);
ZYL_API void sensor_release(SensorDevice* sensor);
ZYL_API void sensor_destroy(SensorDevice* sensor);
ZYL_API const char* sensor_label(const SensorDevice* sensor);
ZYL_API const char* sensor_model_label(const SensorDevice* sensor);
ZYL_API int32_t sensor_kind(const SensorDevice* sensor);
ZYL_API uint16_t sensor_height(const SensorDevice* sensor);
ZYL_API uint16_t sensor_width(const SensorDevice* sensor);
ZYL_API uint16_t sensor_res_y(const SensorDevice* sensor);
ZYL_API uint16_t sensor_res_x(const SensorDevice* sensor);
ZYL_API void* sensor_user_data(const SensorDevice* sensor);
ZYL_API int sensor_area_mm2(const SensorDevice* sensor);
/* 18 when the sensor has no such operation, 2 for a null sensor. */
ZYL_API int sensor_op0(SensorDevice* sensor, uint16_t argument);
ZYL_API int sensor_op1(SensorDevice* sensor, uint16_t argument);
ZYL_API int sensor_capture(SensorDevice* sensor, SensorEventHandler handler, void* handler_data,
                           uint16_t timeout);
ZYL_API int sensor_stop(SensorDevice* sensor);

/* Captures n accepted images (one reference each in out[0..n-1]). */
ZYL_API int capture_images(void* user, SensorDevice* sensor, FingerInfo* finger,
                           const CaptureHooks* hooks, uint8_t n, uint16_t timeout,
                           const CaptureSettings* settings, GrayImage** out);
/* Collects the next n frames without checks. */
ZYL_API int capture_frames(void* user, SensorDevice* sensor, void* data,
                           const CaptureHooks* hooks, uint8_t n, GrayImage** out);
ZYL_API int capture_wait_lift(void* user, SensorDevice* sensor, const CaptureHooks* hooks,
                              uint16_t timeout);
ZYL_API int capture_wait_finger(void* user, SensorDevice* sensor, const CaptureHooks* hooks,
                                uint16_t timeout);
ZYL_API int capture_cancel(void* user, SensorDevice* sensor);

ZYL_EXTERN_C_END

// The functions of sensor capture that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_sensor.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int sensor_capture(SensorDevice* s, SensorEventHandler handler, void* data, uint16_t timeout);
int sensor_stop(SensorDevice* s);
int capture_images(void* user, SensorDevice* sensor, FingerInfo* finger, const CaptureHooks* hooks,
                   uint8_t n, uint16_t timeout, const CaptureSettings* settings, GrayImage** out);
int capture_wait_lift(void* user, SensorDevice* sensor, const CaptureHooks* hooks,
                      uint16_t timeout);
int capture_cancel(void*, SensorDevice* sensor);

}  // namespace zyl::matchlib

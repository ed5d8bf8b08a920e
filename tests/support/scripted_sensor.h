// A scripted sensor for the capture tests: each capture call plays one list
// of steps (frames of a given foreground count, or sensor events of other
// types) into the capture's event handler, and answers 7 once stopped.
// Frames are 200 x 200 with ridges of period 8 placed by the step's grey
// value; their mask plane leaves the first `foreground` pixels usable, so
// the foreground percentage follows the step's count (400 pixels are 1 %).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_sensor.h"
#include "zylscan/matchlib_support.h"

namespace zyl::test {

inline constexpr int kSide = 200;  // 40000 pixels: a foreground of 400 is 1 %

// One step of a scripted capture: a frame with a foreground count, or a
// sensor event of another type.
struct Step {
  int type = SENSOR_EVENT_FRAME;
  uint32_t foreground = 0;
  uint8_t grey = 90;
  bool flat = false;  // no ridges
};

struct Script {
  std::vector<std::vector<Step>> captures;  // one list per capture call
  std::vector<int> end_status;              // status when a list runs out
  size_t next = 0;
  bool stopped = false;
  int frames_delivered = 0;
  int stops = 0;
  int frame_gap_ms = 0;  // wall-clock time that passes before each frame
};

inline int fake_capture(SensorDevice* s, SensorEventHandler handler, void* data, uint16_t) {
  auto* script = static_cast<Script*>(sensor_user_data(s));
  if (script->next >= script->captures.size()) return 8;
  const size_t index = script->next++;
  script->stopped = false;
  for (const Step& step : script->captures[index]) {
    if (script->stopped) break;
    // Ridges of period 8 placed by the step's grey value: equal values give
    // equal frames, others frames that the band filter of the still-finger
    // comparison tells apart.
    if (script->frame_gap_ms) {
      // Waits on the clock the capture reads (sleeping may be virtual here).
      Timestamp start;
      time_now(&start);
      while (time_elapsed_ms(&start) <= script->frame_gap_ms) {
      }
    }
    std::vector<uint8_t> px(kSide * kSide);
    for (size_t i = 0; i < px.size(); ++i)
      px[i] = step.flat ? 128 : ((i % kSide + step.grey) / 4) % 2 ? 200 : 50;
    GrayImage* img = image_create(kSide, kSide, 500, 500, px.data(), 0);
    // Background (0x02) beyond the first `foreground` pixels.
    uint8_t* cells = mask_cells(image_mask_plane_ensure(img));
    for (size_t i = step.foreground; i < px.size(); ++i) cells[i] = 0x02;
    ++script->frames_delivered;
    handler(data, step.type, img, 77, 0);
  }
  if (script->stopped) return 7;
  return index < script->end_status.size() ? script->end_status[index] : 8;
}

inline int fake_stop(SensorDevice* s) {
  auto* script = static_cast<Script*>(sensor_user_data(s));
  script->stopped = true;
  ++script->stops;
  return 0;
}

inline const SensorOps kScriptedSensorOps{nullptr, nullptr, fake_capture, fake_stop};

}  // namespace zyl::test

// Sensor descriptors and the capture routines, driven by a scripted sensor.
// Frames are measured by the real quality kernels: each frame's mask plane
// leaves its first `foreground` pixels usable, so its foreground percentage
// follows the step's count; ridged frames rate well, flat ones 1.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/scripted_sensor.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_support.h"
#include "zylscan/matchlib_sensor.h"

namespace {

using zyl::test::kSide;
using zyl::test::Script;
using zyl::test::Step;

const SensorOps kOps = zyl::test::kScriptedSensorOps;

struct Recorder {
  std::vector<int> events;
  std::vector<int32_t> values;
  std::vector<int> frame_values;
  int frames = 0, quality_calls = 0, accepted = 0;
  int cancel_at_frame = -1;
  SensorDevice* sensor = nullptr;
};

CaptureHooks hooks() {
  CaptureHooks h{};
  h.event = [](void* u, int code, void*, int32_t value) {
    auto* r = static_cast<Recorder*>(u);
    r->events.push_back(code);
    r->values.push_back(value);
    if (code == CAPTURE_EVENT_FRAME && r->cancel_at_frame == static_cast<int>(r->frames))
      capture_cancel(u, r->sensor);
    return 5;
  };
  h.frame = [](void* u, GrayImage*, int value) {
    auto* r = static_cast<Recorder*>(u);
    r->frame_values.push_back(value);
    ++r->frames;
  };
  h.quality = [](void* u, GrayImage*, int, int) {
    ++static_cast<Recorder*>(u)->quality_calls;
    return 0;
  };
  h.accepted = [](void* u, GrayImage*) {
    ++static_cast<Recorder*>(u)->accepted;
    return 0;
  };
  return h;
}

struct Fixture {
  Script script;
  Recorder rec;
  CaptureHooks h = hooks();
  SensorDevice* sensor;
  explicit Fixture(int kind) {
    sensor = sensor_create("left", "model", kind, kSide, kSide, 500, 500, &kOps, &script);
    rec.sensor = sensor;
  }
  ~Fixture() { sensor_release(sensor); }
};

TEST(Sensor, DescriptorFields) {
  const std::string ok(127, 'm'), too_long(128, 'm');
  SensorDevice* s = sensor_create(nullptr, ok.c_str(), 3, 192, 192, 0, 0, nullptr, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(sensor_model_label(s)), ok);
  EXPECT_EQ(std::string(sensor_label(s)), "");
  EXPECT_EQ(sensor_area_mm2(s), 95);
  EXPECT_EQ(sensor_kind(s), 3);
  EXPECT_EQ(sensor_op0(s, 1), ML_OUT_OF_LIMITS);  // no operations table
  EXPECT_EQ(sensor_stop(s), ML_OUT_OF_LIMITS);
  EXPECT_EQ(sensor_retain(s)->refcount, 2u);
  sensor_release(s);
  sensor_release(s);
  EXPECT_EQ(sensor_create(nullptr, too_long.c_str(), 0, 1, 1, 0, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(sensor_create(too_long.c_str(), "m", 0, 1, 1, 0, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(sensor_create("x", nullptr, 0, 1, 1, 0, 0, nullptr, nullptr), nullptr);
  SensorDevice* half = sensor_create("a", "b", 0, 96, 96, 250, 250, nullptr, nullptr);
  EXPECT_EQ(sensor_area_mm2(half), 95);  // 96 pixels at 250 dpi are 192 at 500
  EXPECT_EQ(sensor_res_y(half), 250);
  sensor_release(half);
}

TEST(CaptureImages, NoImagesAskedIsABadArgument) {
  Fixture f(1);
  GrayImage* out[1] = {nullptr};
  const CaptureSettings st{1, 10, 0};
  EXPECT_EQ(capture_images(&f.rec, f.sensor, nullptr, &f.h, 0, 100, &st, out), ML_BAD_ARGUMENT);
  EXPECT_EQ(f.script.next, 0u);
  EXPECT_TRUE(f.rec.events.empty());
}

TEST(CaptureImages, ReportsShortFramesAndAcceptsAGoodOne) {
  Fixture f(1);  // a prompting sensor: no lift, no still-finger test
  f.script.captures = {{{SENSOR_EVENT_FRAME, 0}, {SENSOR_EVENT_FRAME, 2000}, {SENSOR_EVENT_FRAME, 8000},
                        {SENSOR_EVENT_FRAME, 8000}}};
  const CaptureSettings st{40, 10, 1};
  GrayImage* out[1] = {nullptr};
  ASSERT_EQ(capture_images(&f.rec, f.sensor, nullptr, &f.h, 1, 100, &st, out), ML_OK);
  ASSERT_NE(out[0], nullptr);
  EXPECT_EQ(image_foreground_percent(out[0]), 20);
  EXPECT_EQ(f.rec.events, (std::vector<int>{4097, 4099,        // before the capture
                                            8199, 4099,        // no finger: dropped quietly
                                            8199, 8198, 4099,  // 5 % of the area is too little
                                            8199,              // accepted
                                            4098}));
  EXPECT_EQ(f.script.frames_delivered, 3);  // stopped after the good frame
  EXPECT_EQ(f.rec.accepted, 1);
  EXPECT_EQ(f.rec.frame_values, (std::vector<int>{5, 5, 5}));  // the frame event's answer
  EXPECT_EQ(f.rec.quality_calls, 3);
  image_release(out[0]);

  Fixture g(1);
  g.script.captures = {{{SENSOR_EVENT_FRAME, 8000, 90, true}}};
  g.script.end_status = {ML_OK};
  const CaptureSettings strict{2, 10, 0};  // the flat frame rates 1
  EXPECT_EQ(capture_images(&g.rec, g.sensor, nullptr, &g.h, 1, 100, &strict, out), ML_BELOW_LEVEL);
  EXPECT_EQ(out[0], nullptr);
  EXPECT_EQ(g.rec.events, (std::vector<int>{4097, 4099, 8199, 8197, 4099, 4098}));
}

TEST(CaptureImages, StillFingerTestAndLiftBetweenImages) {
  // More than 32 ms pass before every frame, so the still-finger test
  // compares each frame with the one before it, however long the
  // comparison itself takes. First image: the finger moves once, then
  // holds. Then a lift. Then a finger that moves twice before it holds.
  Fixture f(0);
  f.script.frame_gap_ms = 40;
  f.script.captures = {
      {{SENSOR_EVENT_FRAME, 8000, 90}, {SENSOR_EVENT_FRAME, 8000, 150}, {SENSOR_EVENT_FRAME, 8000, 150}},
      {{SENSOR_EVENT_FRAME, 8000}, {SENSOR_EVENT_FRAME, 1000}, {SENSOR_EVENT_FRAME, 9000}},
      {{SENSOR_EVENT_FRAME, 8000, 90},
       {SENSOR_EVENT_FRAME, 8000, 121},  // ridges shifted by 31 and then 79 columns
       {SENSOR_EVENT_FRAME, 8000, 200},
       {SENSOR_EVENT_FRAME, 8000, 200},
       {SENSOR_EVENT_FRAME, 8000, 200}},
  };
  const CaptureSettings st{1, 10, 1};
  GrayImage* out[2] = {nullptr, nullptr};
  ASSERT_EQ(capture_images(&f.rec, f.sensor, nullptr, &f.h, 2, 100, &st, out), ML_OK);
  EXPECT_NE(out[0], nullptr);
  EXPECT_NE(out[1], nullptr);
  EXPECT_EQ(f.script.frames_delivered, 3 + 2 + 4);
  EXPECT_EQ(f.rec.accepted, 2);
  // No prompts on a sensor of kind 0.
  for (int e : f.rec.events) EXPECT_NE(e, CAPTURE_EVENT_PROMPT);
  for (GrayImage* img : out) image_release(img);
}

TEST(CaptureImages, CancelAndFailureReturnNothing) {
  Fixture f(1);
  f.script.captures = {{{SENSOR_EVENT_FRAME, 8000}}};
  f.rec.cancel_at_frame = 0;  // cancelled from the frame event
  const CaptureSettings st{1, 10, 0};
  GrayImage* out[1] = {nullptr};
  EXPECT_EQ(capture_images(&f.rec, f.sensor, nullptr, &f.h, 1, 100, &st, out), ML_NOTHING_TO_COMPARE);
  EXPECT_EQ(out[0], nullptr);

  Fixture g(1);  // the second capture fails: the first image goes back
  g.script.captures = {{{SENSOR_EVENT_FRAME, 8000}}, {}};
  g.script.end_status = {ML_OK, ML_BELOW_LEVEL};
  GrayImage* two[2] = {nullptr, nullptr};
  EXPECT_EQ(capture_images(&g.rec, g.sensor, nullptr, &g.h, 2, 100, &st, two), ML_BELOW_LEVEL);
  EXPECT_EQ(two[0], nullptr);
  EXPECT_EQ(two[1], nullptr);
}

TEST(CaptureFrames, CollectsNFramesAndPassesSensorEventsOn) {
  Fixture f(1);
  f.script.captures = {{{SENSOR_EVENT_FRAME, 100},
                        {SENSOR_EVENT_1, 0},
                        {SENSOR_EVENT_FRAME, 100},
                        {SENSOR_EVENT_2, 0},
                        {SENSOR_EVENT_3, 0},
                        {9, 0},  // unknown: its image is released
                        {SENSOR_EVENT_FRAME, 100},
                        {SENSOR_EVENT_FRAME, 100}}};
  GrayImage* out[3] = {nullptr, nullptr, nullptr};
  ASSERT_EQ(capture_frames(&f.rec, f.sensor, nullptr, &f.h, 3, out), ML_OK);
  EXPECT_EQ(f.rec.events, (std::vector<int>{4097, 4099, 8199, 4099, 4100, 8199, 4099, 8193, 8194,
                                            8199, 4098}));
  EXPECT_EQ(f.rec.values[3], 1);  // the frame count after the first frame
  EXPECT_EQ(f.rec.values[4], 77);
  EXPECT_EQ(f.script.frames_delivered, 7);
  for (GrayImage* img : out) {
    EXPECT_NE(img, nullptr);
    image_release(img);
  }
  EXPECT_EQ(capture_frames(&f.rec, f.sensor, nullptr, &f.h, 0, out), ML_BAD_ARGUMENT);
}

TEST(CaptureWait, FingerOnAndOff) {
  Fixture f(0);
  f.script.captures = {{{SENSOR_EVENT_FRAME, 1000}, {SENSOR_EVENT_FRAME, 8000}, {SENSOR_EVENT_FRAME, 8000}},
                       {{SENSOR_EVENT_FRAME, 8000}, {SENSOR_EVENT_LIFTED, 0}, {SENSOR_EVENT_FRAME, 8000}},
                       {}};
  f.script.end_status = {ML_OK, ML_OK, ML_BELOW_LEVEL};
  EXPECT_EQ(capture_wait_finger(&f.rec, f.sensor, &f.h, 100), ML_OK);
  EXPECT_EQ(f.script.frames_delivered, 2);
  EXPECT_EQ(capture_wait_lift(&f.rec, f.sensor, &f.h, 100), ML_OK);
  EXPECT_EQ(f.script.frames_delivered, 4);
  EXPECT_EQ(capture_wait_lift(&f.rec, f.sensor, &f.h, 100), ML_BELOW_LEVEL);  // a failing sensor
  Fixture g(2);
  EXPECT_EQ(capture_wait_lift(&g.rec, g.sensor, &g.h, 100), ML_OK);  // nothing to wait for
  EXPECT_EQ(g.script.next, 0u);
}

}  // namespace

// Capture-driven enrolment: a scripted sensor feeds a multi-sample
// enrolment over a scripted engine (each frame's template carries the
// frame's first pixel as its id); the tests follow the events the observer
// and the enrolment's hooks see, in one list, and what reaches the sink.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/scripted_sensor.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_enrol_capture.h"
#include "zylscan/matchlib_enrol_job.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_multi_enrol.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_placed_enrol.h"

namespace {

using zyl::test::script;
using zyl::test::Step;

// One list of events, observer and enrolment alike; a test may act when an
// event arrives.
struct Log {
  std::vector<int> events;
  int frames = 0;
  std::function<void(int code)> on_event;
};
Log& log() {
  static Log l;
  return l;
}

int enrol_event(MatchContext*, int code, FingerInfo*) {
  log().events.push_back(code);
  return 0;
}
const EnrolHooks kEnrolHooks{enrol_event, nullptr, nullptr, nullptr, nullptr, nullptr};

CaptureHooks observer_hooks() {
  CaptureHooks h{};
  h.event = [](void*, int code, void*, int32_t) {
    log().events.push_back(code);
    if (code == CAPTURE_EVENT_FRAME) ++log().frames;
    if (log().on_event) log().on_event(code);
    return 0;
  };
  return h;
}

struct Sink {
  std::vector<DataBlob*> delivered;
  int status = 0;
  ~Sink() {
    for (DataBlob* b : delivered) blob_release(b);
  }
  static int deliver(void* data, MatchEngine*, DataBlob* tmpl, FingerInfo*) {
    auto* s = static_cast<Sink*>(data);
    s->delivered.push_back(blob_retain(tmpl));
    return s->status;
  }
};

// A good frame, and a capture of one good frame.
constexpr Step kGood{SENSOR_EVENT_FRAME, 8000};
const std::vector<Step> kOneGood{kGood};

struct Rig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  EnrolSession* enrolment = nullptr;
  zyl::test::Script sensor_script;
  SensorDevice* sensor = nullptr;
  CaptureHooks hooks = observer_hooks();
  EnrolCaptureObserver observer{&hooks, nullptr};
  EnrolCaptureSettings settings{};
  Sink sink;

  explicit Rig(int kind = 1, uint16_t capacity = 3) {
    script() = {};
    script().default_score = 60000;  // every pair matches...
    script().transform_dx = 60;      // ...moved far enough to be a new sample
    log() = {};
    EngineConfig config;
    engine_config_init(&config);
    config.most_views = 10;
    engine = zyl::test::scripted_engine(ctx, config);
    MultiSampleSettings s{};
    s.capacity = capacity;
    s.shift_tolerance = 12;
    s.angle_tolerance = 16;
    s.maximum_views = 10;
    enrolment = multi_enrol_create(engine, ctx, nullptr, &kEnrolHooks, 84, &s);
    sensor = sensor_create(nullptr, "scripted", kind, zyl::test::kSide, zyl::test::kSide, 500, 500,
                           &zyl::test::kScriptedSensorOps, &sensor_script);
    settings.timeout = 100;
    settings.sample_count = capacity;
    settings.coverage_quality = 100;  // the last progress must reach 44
    settings.capture = CaptureSettings{40, 10, 0};
    settings.offer = ENROL_CAPTURE_OFFER_TEMPLATE;
  }
  ~Rig() {
    enrol_destroy(enrolment);
    sensor_release(sensor);
    engine_release(engine);
    ctx_release(ctx);
    log().on_event = nullptr;
  }
  int run() {
    return enrol_capture_run(enrolment, engine, sensor, nullptr, &observer, &settings, Sink::deliver, &sink);
  }
  int views_delivered() const { return sink.delivered.size() == 1 ? zyl::test::view_count(sink.delivered[0]) : -1; }
};

TEST(EnrolCapture, CapturesUntilTheEnrolmentIsFullAndDeliversItsTemplate) {
  Rig r;
  r.sensor_script.captures = {{{SENSOR_EVENT_FRAME, 0}, kGood}, kOneGood, kOneGood};
  ASSERT_EQ(r.run(), ML_OK);
  EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8199, 8203, 4098,  // an empty frame first
                                            4097, 8199, 8203, 4098,        //
                                            4097, 8199, 8203, 4098,        //
                                            8204}));
  EXPECT_EQ(enrol_count(r.enrolment), 3);
  EXPECT_EQ(r.views_delivered(), 3);
  EXPECT_EQ(r.sensor_script.next, 3u);
}

TEST(EnrolCapture, ARefusedDuplicateCostsOneMoreImpression) {
  Rig r;
  r.sensor_script.captures = {kOneGood, kOneGood, kOneGood, kOneGood};
  // The second impression lies where the first did; later ones move again.
  int before = 0;
  log().on_event = [&](int code) {
    if (code != CAPTURE_EVENT_BEFORE) return;
    ++before;
    script().transform_dx = before == 2 ? 0 : 60;
  };
  ASSERT_EQ(r.run(), ML_OK);
  EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8203, 4098,                //
                                            4097, 8199, 8203, 61441, 4103, 4098,  // refused
                                            4097, 8199, 8203, 4098,                //
                                            4097, 8199, 8203, 4098,                //
                                            8204}));
  EXPECT_EQ(r.views_delivered(), 3);
}

TEST(EnrolCapture, LiftIsAwaitedBetweenImpressionsOnALiftingSensor) {
  Rig r(0, 2);
  // Kind 0: after the first impression a capture waits for the finger to go
  // (a frame of 2.5 % foreground ends it) before the next impression.
  r.sensor_script.captures = {kOneGood, {{SENSOR_EVENT_FRAME, 1000}}, kOneGood};
  ASSERT_EQ(r.run(), ML_OK);
  EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8203, 4098, 4097, 8199, 8203, 4098, 8204}));
  EXPECT_EQ(r.sensor_script.next, 3u);
  EXPECT_EQ(r.views_delivered(), 2);
}

TEST(EnrolCapture, CancelledMidwayEndsWithoutATemplate) {
  for (bool through_engine : {false, true}) {
    Rig r;
    r.sensor_script.captures = {kOneGood, {kGood, kGood}, kOneGood};
    r.sensor_script.end_status = {ML_OK, ML_OK, ML_OK};
    // The second impression's first frame cancels; the sensor stops at once.
    log().on_event = [&](int code) {
      if (code != CAPTURE_EVENT_FRAME || log().frames != 2) return;
      if (through_engine)
        enrol_capture_cancel_engine(r.engine, r.sensor);
      else
        enrol_capture_cancel(r.ctx, r.sensor);
    };
    EXPECT_EQ(r.run(), ML_NOTHING_TO_COMPARE);
    EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8203, 4098, 4097, 8199}));
    EXPECT_EQ(r.sensor_script.frames_delivered, 2);
    EXPECT_EQ(r.sensor_script.next, 2u);
    EXPECT_TRUE(r.sink.delivered.empty());
    EXPECT_EQ(enrol_count(r.enrolment), 1);
  }
}

TEST(EnrolCapture, FailuresEndTheLoopWithTheirStatus) {
  {
    // The sensor fails the second capture.
    Rig r;
    r.sensor_script.captures = {kOneGood, {{SENSOR_EVENT_FRAME, 1000}}};
    r.sensor_script.end_status = {ML_OK, ML_BELOW_LEVEL};
    EXPECT_EQ(r.run(), ML_BELOW_LEVEL);
    EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8203, 4098, 4097, 8199}));
    EXPECT_TRUE(r.sink.delivered.empty());
  }
  {
    // Extraction fails.
    Rig r;
    r.sensor_script.captures = {kOneGood};
    script().extract_status = ML_CORRUPT;
    EXPECT_EQ(r.run(), ML_CORRUPT);
    EXPECT_EQ(log().events, (std::vector<int>{4097, 8199}));
  }
  {
    // This enrolment takes finished templates only: an offered image is refused.
    Rig r;
    r.sensor_script.captures = {kOneGood};
    r.settings.offer = ENROL_CAPTURE_OFFER_IMAGE;
    EXPECT_EQ(r.run(), ML_OUT_OF_LIMITS);
  }
  {
    // Enough samples, but the enrolment's progress (0 until it is full)
    // falls short of the coverage asked for: 8, nothing finalised.
    Rig r(1, 3);
    r.settings.sample_count = 2;
    r.sensor_script.captures = {kOneGood, kOneGood};
    EXPECT_EQ(r.run(), ML_BELOW_LEVEL);
    EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8203, 4098, 4097, 8199, 8203, 4098}));
    EXPECT_TRUE(r.sink.delivered.empty());
    // Without a coverage demand the same enrolment is delivered.
    Rig s(1, 3);
    s.settings.sample_count = 2;
    s.settings.coverage_quality = 0;
    s.sensor_script.captures = {kOneGood, kOneGood};
    EXPECT_EQ(s.run(), ML_OK);
    EXPECT_EQ(s.views_delivered(), 2);
  }
  {
    // A refusing sink: its status, and no 8204.
    Rig r(1, 1);
    r.sink.status = ML_TOO_MANY;
    r.sensor_script.captures = {kOneGood};
    EXPECT_EQ(r.run(), ML_TOO_MANY);
    EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8203, 4098}));
  }
  Rig r;
  EXPECT_EQ(enrol_capture_run(nullptr, r.engine, r.sensor, nullptr, nullptr, &r.settings, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(enrol_capture_run(r.enrolment, r.engine, r.sensor, nullptr, nullptr, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
}

TEST(EnrolCapture, SlotSinkHandsTheTemplateOver) {
  Rig r(1, 1);
  r.sensor_script.captures = {kOneGood};
  // No observer at all: the loop runs silently.
  ASSERT_EQ(enrol_capture_run(r.enrolment, r.engine, r.sensor, nullptr, nullptr, &r.settings,
                              enrol_capture_slot_sink, nullptr),
            ML_OK);
  DataBlob* t = enrol_result_slot_take();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(blob_refcount(t), 1u);
  EXPECT_EQ(blob_type(t), 80);
  EXPECT_EQ(enrol_result_slot_take(), nullptr);
  blob_release(t);
  EXPECT_EQ(log().events, (std::vector<int>{8203}));
}

}  // namespace

namespace {

// The drivers create a placement-checking enrolment themselves; its
// coverage (the hull of the placed 200 x 200 impressions over 87500 square
// units) must reach 53 % for the default coverage quality 121.
struct DriverRig : Rig {
  EnrolSettings s{};
  DriverRig() : Rig(1, 3) {
    s.further[0] = 10;   // least foreground percentage
    s.further[1] = 121;  // coverage quality: 53 %
    s.further[2] = 40;   // least frame quality
    s.further[3] = 0;    // no still-finger check
    s.further_limit = 100;
    s.capacity = 3;
    s.shift_tolerance = 10;
    s.angle_tolerance = 16;
  }
  int drive(int32_t format = 84) {
    return enrol_capture_driver(ctx, engine, nullptr, &kEnrolHooks, Sink::deliver, &sink, sensor, &observer,
                                format, ENROL_CAPTURE_OFFER_IMAGE, &s);
  }
};

TEST(EnrolCaptureDriver, PlacedImpressionsBecomeAMultiViewTemplate) {
  DriverRig r;
  r.sensor_script.captures = {kOneGood, kOneGood, kOneGood, kOneGood};
  ASSERT_EQ(r.drive(), ML_OK);
  EXPECT_EQ(log().events, (std::vector<int>{4097, 8199, 8203, 4098,  // the first is accepted at once
                                            4097, 8199, 8203, 4098,  //
                                            4097, 8199, 8203, 4098,  //
                                            8204}));
  EXPECT_EQ(r.views_delivered(), 3);
  EXPECT_EQ(r.sensor_script.next, 3u);
}

TEST(EnrolCaptureDriver, TooLittleCoverageAnswers8) {
  DriverRig r;
  r.s.capacity = 1;  // one impression covers 45 %
  r.sensor_script.captures = {kOneGood};
  EXPECT_EQ(r.drive(), ML_BELOW_LEVEL);
  EXPECT_TRUE(r.sink.delivered.empty());
  r.s.further[1] = 100;  // 44 % asked for
  r.sensor_script.next = 0;
  EXPECT_EQ(r.drive(), ML_OK);
  EXPECT_EQ(r.views_delivered(), 1);
}

TEST(EnrolCaptureDriver, RefusalsBeforeAnythingIsCaptured) {
  DriverRig r;
  EXPECT_EQ(r.drive(1), ML_BAD_ARGUMENT);
  r.s.capacity = 0;  // the enrolment cannot be made
  EXPECT_EQ(r.drive(), ML_NO_MEMORY);
  EXPECT_EQ(r.sensor_script.next, 0u);
  DataBlob* out = nullptr;
  EXPECT_EQ(enrol_capture_to_slot(r.ctx, nullptr, nullptr, r.sensor, nullptr, 1, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(enrol_capture_to_slot(nullptr, nullptr, nullptr, r.sensor, nullptr, 84, &out), ML_BAD_ARGUMENT);
  EXPECT_TRUE(log().events.empty());
}

TEST(EnrolCaptureDriver, ToSlotHandsTheTemplateOverAndLeavesTheSlotEmpty) {
  DriverRig r;
  // The engine's configuration holds two samples; the default settings ask
  // for 53 % coverage, a frame quality of 50 and 20 % foreground (the
  // still-finger check they ask for concerns lifting sensors only).
  EngineConfig& config = const_cast<EngineConfig&>(*engine_get_config(r.engine));
  config.unnamed_u8_1 = 2;
  r.sensor_script.captures = {kOneGood, kOneGood};
  DataBlob* out = nullptr;
  ASSERT_EQ(enrol_capture_to_slot(r.ctx, nullptr, &kEnrolHooks, r.sensor, &r.observer, 84, &out), ML_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(blob_type(out), 80);
  EXPECT_EQ(enrol_result_slot_take(), nullptr);
  blob_release(out);
  EXPECT_EQ(log().events.back(), 8204);
}

}  // namespace

// Placement-checking enrolment with the light verification engine on real
// crops of one finger: acceptance, duplicates and the veto, coverage, the
// placement picture and layout, finalising into a multi-view template that
// verifies, the head's slots, and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_multi_enrol.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_placed_enrol.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_verify.h"

namespace {

// What the hooks saw.
struct Seen {
  std::vector<int> events;
  int pictures = 0;
  int picture_height = 0, picture_width = 0;
  std::vector<uint8_t> picture;
  int layouts = 0;
  std::vector<std::vector<EnrolPlacement>> layout;
  std::vector<std::pair<int, int>> progress;
  int veto_answer = 1;
  int vetoes = 0;
};
Seen& seen() {
  static Seen s;
  return s;
}

int on_event(MatchContext*, int code, FingerInfo*) {
  seen().events.push_back(code);
  return 0;
}
int on_layout(MatchContext*, void* lists, int n) {
  ++seen().layouts;
  seen().layout.clear();
  const auto* l = static_cast<const EnrolCornerList*>(lists);
  for (int i = 0; i < n; ++i) seen().layout.emplace_back(l[i].placements, l[i].placements + l[i].count);
  return 0;
}
void on_picture(MatchContext*, GrayImage* image) {
  ++seen().pictures;
  seen().picture_height = image_height(image);
  seen().picture_width = image_width(image);
  const uint8_t* p = image_pixels(image);
  seen().picture.assign(p, p + static_cast<size_t>(image_height(image)) * image_width(image));
}
void on_progress(MatchContext*, int count, int capacity) { seen().progress.emplace_back(count, capacity); }
int on_veto(MatchContext*, void*) {
  ++seen().vetoes;
  return seen().veto_answer;
}

const EnrolHooks kEvents{on_event, nullptr, nullptr, nullptr, nullptr, on_veto};
const EnrolHooks kAllHooks{on_event, on_layout, on_picture, nullptr, on_progress, on_veto};

const std::string kFinger = "fvc2002_101_";  // impressions 1..8, 160 x 160 crops
std::string impression(int i) { return kFinger + std::to_string(i) + "_160.pgm"; }
const std::vector<std::string> kOtherFingers = {"fvc2002_102_1_160.pgm", "fvc2002_103_1_160.pgm",
                                                "fvc2002_104_1_160.pgm", "fvc2002_105_1_160.pgm"};

class PlacedEnrolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen() = Seen{};
    engine_ = preset_create_light_verify(ctx_);
    ASSERT_NE(engine_, nullptr);
  }
  void TearDown() override {
    enrol_destroy(e_);
    for (auto& [name, image] : images_) image_release(image);
    for (DataBlob* b : blobs_) blob_release(b);
    engine_release(engine_);
    ctx_release(ctx_);
  }
  GrayImage* image(const std::string& name, int resolution = 500) {
    const std::string key = name + "@" + std::to_string(resolution);
    if (auto it = images_.find(key); it != images_.end()) return it->second;
    const zyl::test::GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
    GrayImage* img = image_create(g.height, g.width, resolution, resolution, g.pixels.data(), 0);
    images_[key] = img;
    return img;
  }
  DataBlob* extract(const std::string& name) {
    DataBlob* out = nullptr;
    EXPECT_EQ(engine_extract_image(engine_, image(name), nullptr, &out), ML_OK) << name;
    blobs_.push_back(out);
    return out;
  }
  EnrolSettings settings(uint16_t capacity = 8, uint32_t accept_duplicates = 0) {
    EnrolSettings s{};
    s.capacity = capacity;
    s.merge_flag = 1;
    s.accept_duplicates = accept_duplicates;
    s.shift_tolerance = 10;
    s.angle_tolerance = 16;
    return s;
  }
  void create(const EnrolHooks* hooks = &kEvents, EnrolSettings s = EnrolSettings{}) {
    if (s.capacity == 0) s = settings();
    e_ = enrol_create(engine_, ctx_, nullptr, hooks, 80, &s);
    ASSERT_NE(e_, nullptr);
  }
  // Adds an impression; answers the status and keeps the events it raised.
  int add(const std::string& name, int* coverage = nullptr) {
    seen().events.clear();
    return enrol_add_sample(e_, image(name), nullptr, coverage);
  }

  MatchContext* ctx_ = ctx_create();
  MatchEngine* engine_ = nullptr;
  EnrolSession* e_ = nullptr;
  std::map<std::string, GrayImage*> images_;
  std::vector<DataBlob*> blobs_;
};

using Events = std::vector<int>;

TEST_F(PlacedEnrolTest, FirstImpressionIsAcceptedWithoutComparison) {
  create();
  ASSERT_EQ(add(impression(1)), ML_OK);
  EXPECT_EQ(seen().events, Events{ENROL_EVENT_EXTRACTED});
  EXPECT_EQ(enrol_count(e_), 1);
  EXPECT_EQ(enrol_image_resolution(e_), 500u);
}

TEST_F(PlacedEnrolTest, RepeatedImpressionOfTheLatestSampleIsRefused) {
  create();
  ASSERT_EQ(add(impression(1)), ML_OK);
  ASSERT_EQ(add(impression(1)), ML_OK);
  EXPECT_EQ(seen().events, (Events{ENROL_EVENT_EXTRACTED, ENROL_EVENT_SAME_PLACE, ENROL_EVENT_REFUSED}));
  EXPECT_EQ(enrol_count(e_), 1);
  // A copy of the sample's template, given without an image (so no image
  // flag word is read), is refused the same way.
  DataBlob* copy = blob_copy(extract(impression(1)));
  blobs_.push_back(copy);
  seen().events.clear();
  ASSERT_EQ(enrol_add_sample(e_, nullptr, copy, nullptr), ML_OK);
  EXPECT_EQ(seen().events, (Events{ENROL_EVENT_SAME_PLACE, ENROL_EVENT_REFUSED}));
  EXPECT_EQ(enrol_count(e_), 1);
}

TEST_F(PlacedEnrolTest, AcceptDuplicatesAsksTheVeto) {
  struct Case {
    const EnrolHooks* hooks;
    int veto;
    Events events;
    int count;
  };
  const Case cases[] = {
      {&kEvents, 1, {ENROL_EVENT_EXTRACTED, ENROL_EVENT_SAME_PLACE}, 2},
      {&kEvents, 0, {ENROL_EVENT_EXTRACTED, ENROL_EVENT_SAME_PLACE, ENROL_EVENT_REFUSED}, 1},
      {nullptr, 0, {}, 2},  // no hooks: accepted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.veto);
    enrol_destroy(std::exchange(e_, nullptr));
    create(c.hooks, settings(8, 1));
    seen().veto_answer = c.veto;
    seen().vetoes = 0;
    ASSERT_EQ(add(impression(2)), ML_OK);
    ASSERT_EQ(add(impression(2)), ML_OK);
    EXPECT_EQ(seen().events, c.events);
    EXPECT_EQ(seen().vetoes, c.hooks ? 1 : 0);
    EXPECT_EQ(enrol_count(e_), c.count);
  }
}

TEST_F(PlacedEnrolTest, ImpressionOfAnotherFingerIsAcceptedUnmatched) {
  create();
  ASSERT_EQ(add(impression(1)), ML_OK);
  ASSERT_EQ(add(kOtherFingers[0]), ML_OK);
  EXPECT_EQ(seen().events, (Events{ENROL_EVENT_EXTRACTED, ENROL_EVENT_UNMATCHED}));
  EXPECT_EQ(enrol_count(e_), 2);
}

TEST_F(PlacedEnrolTest, CoverageGrowsMonotonicallyAndStopsAt100) {
  create(&kAllHooks);
  // One 160 x 160 impression covers 25600 of the 87500 square pixels.
  int coverage = -1;
  ASSERT_EQ(add(impression(1), &coverage), ML_OK);
  EXPECT_EQ(coverage, 29);
  int last = coverage;
  std::vector<int> seen_coverage{coverage};
  for (int i : {2, 3, 1, 4, 5}) {
    ASSERT_EQ(add(impression(i), &coverage), ML_OK) << i;
    seen_coverage.push_back(coverage);
    EXPECT_GE(coverage, last) << i;
    last = coverage;
  }
  // The same crop read as a 250-dpi image stands for 320 x 320 pixels at
  // 500 dpi, more than the whole finger.
  ASSERT_EQ(enrol_reset(e_), ML_OK);
  EXPECT_EQ(enrol_count(e_), 0);
  ASSERT_EQ(enrol_add_sample(e_, image(impression(6), 250), nullptr, &coverage), ML_OK);
  EXPECT_EQ(coverage, 100);
  ASSERT_EQ(add(impression(7), &coverage), ML_OK);
  EXPECT_EQ(coverage, 100);
  EXPECT_EQ(seen().progress.back(), std::make_pair(enrol_count(e_), 8));
}

TEST_F(PlacedEnrolTest, LayoutAndPictureShowThePlacements) {
  GrayImage* base = image(impression(1));
  EnrolSettings s = settings();
  s.base_image = base;
  create(&kAllHooks, s);
  // The padded picture is made at once: the base lightened by 75 % inside a
  // white margin of 50 pixels.
  ASSERT_EQ(seen().pictures, 1);
  ASSERT_EQ(seen().picture_height, 260);
  ASSERT_EQ(seen().picture_width, 260);
  const uint8_t* b = image_pixels(base);
  EXPECT_EQ(seen().picture[0], 255);
  EXPECT_EQ(seen().picture[50 * 260 + 50], b[0] + (255 - b[0]) * 75 / 100);

  ASSERT_EQ(add(impression(1)), ML_OK);
  // One tree of one node: the sample's own rectangle, newest.
  ASSERT_EQ(seen().layout.size(), 1u);
  ASSERT_EQ(seen().layout[0].size(), 1u);
  const EnrolPlacement& p = seen().layout[0][0];
  const PolyPoint corners[4] = {{0, 0}, {160, 0}, {160, 160}, {0, 160}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(p.corners[i].x, corners[i].x) << i;
    EXPECT_EQ(p.corners[i].y, corners[i].y) << i;
  }
  EXPECT_EQ(p.flags, static_cast<uint32_t>(ENROL_PLACEMENT_NEWEST));
  // Centred in the picture: the base image shows through unlightened inside
  // the outline drawn at the margin.
  ASSERT_EQ(seen().pictures, 2);
  EXPECT_EQ(seen().picture[100 * 260 + 100], b[50 * 160 + 50]);
  EXPECT_EQ(seen().picture[50 * 260 + 120], 0);
  EXPECT_EQ(seen().picture[10 * 260 + 10], 255);

  // A refused repeat is drawn too, flagged, but covers nothing new.
  ASSERT_EQ(add(impression(1)), ML_OK);
  size_t nodes = 0, refused = 0;
  for (const auto& tree : seen().layout)
    for (const EnrolPlacement& q : tree) {
      ++nodes;
      refused += (q.flags & ENROL_PLACEMENT_REFUSED) ? 1 : 0;
    }
  EXPECT_EQ(nodes, 2u);
  EXPECT_EQ(refused, 1u);
  DataBlob* out = nullptr;
  ASSERT_EQ(enrol_finalise(e_, 10, &out, nullptr), ML_OK);
  blob_release(out);
  EXPECT_EQ(seen().pictures, 4);  // and once more when finalised
}

TEST_F(PlacedEnrolTest, RefusalsAndLimits) {
  EnrolSettings s = settings(0);
  EXPECT_EQ(enrol_create(engine_, ctx_, nullptr, nullptr, 80, &s), nullptr);
  EXPECT_EQ(enrol_create(engine_, ctx_, nullptr, nullptr, 80, nullptr), nullptr);
  create(&kEvents, settings(2));
  DataBlob* out = nullptr;
  EXPECT_EQ(enrol_finalise(e_, 10, &out, nullptr), ML_WRONG_KIND);  // empty
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(enrol_finalise(e_, 10, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(enrol_add_sample(e_, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
  // The 500-dpi geometry divides by the resolution.
  EXPECT_EQ(enrol_add_sample(e_, image(impression(1), 0), nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(enrol_count(e_), 0);
  ASSERT_EQ(add(impression(1)), ML_OK);
  ASSERT_EQ(add(kOtherFingers[0]), ML_OK);
  EXPECT_EQ(add(kOtherFingers[1]), ML_TOO_MANY);
  EXPECT_EQ(seen().events, Events{});
  EXPECT_EQ(enrol_count(e_), 2);
}

TEST_F(PlacedEnrolTest, HeadSlotsReachTheEnrolment) {
  create(&kEvents);
  const EnrolHooks* hooks = nullptr;
  EXPECT_EQ(enrol_call_optional(e_, &hooks, nullptr, nullptr, nullptr, nullptr), ML_OK);
  EXPECT_EQ(hooks, &kEvents);
  EXPECT_EQ(placed_enrol_hooks(e_), &kEvents);
  EXPECT_EQ(enrol_call_optional(e_, nullptr, nullptr, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(enrol_context(e_), ctx_);
  EXPECT_EQ(enrol_image_resolution(e_), 0u);
  EXPECT_EQ(enrol_image_resolution(nullptr), 0u);
  // With no shift or turn allowed, the repeat of one image still lies at
  // the same place: its transform is the identity.
  ASSERT_EQ(enrol_set_limits(e_, 0, 0, nullptr), ML_OK);
  ASSERT_EQ(add(impression(3)), ML_OK);
  ASSERT_EQ(add(impression(3)), ML_OK);
  EXPECT_EQ(enrol_count(e_), 1);
  // Another kind of enrolment object is not taken for this one.
  MultiSampleSettings ms{};
  ms.capacity = 2;
  EnrolSession* other = multi_enrol_create(engine_, ctx_, nullptr, nullptr, 80, &ms);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(enrol_image_resolution(other), 0u);
  EXPECT_EQ(placed_enrol_count(other), 0);
  enrol_destroy(other);
}

TEST_F(PlacedEnrolTest, DefaultSettingsComeFromTheEngine) {
  e_ = enrol_create_default(engine_, nullptr, &kAllHooks, image(impression(4)));
  ASSERT_NE(e_, nullptr);
  EXPECT_EQ(enrol_context(e_), engine_get_context(engine_));
  EXPECT_EQ(seen().pictures, 1);  // the base image's padded picture at once
  EXPECT_EQ(seen().picture_height, 260);
  // Duplicates are refused by default.
  ASSERT_EQ(add(impression(4)), ML_OK);
  ASSERT_EQ(add(impression(4)), ML_OK);
  EXPECT_EQ(seen().events, (Events{ENROL_EVENT_EXTRACTED, ENROL_EVENT_SAME_PLACE, ENROL_EVENT_REFUSED}));
  EXPECT_EQ(enrol_count(e_), 1);
  // The capacity is the configuration's sample count.
  EXPECT_EQ(seen().progress.back(), std::make_pair(1, static_cast<int>(engine_get_config(engine_)->unnamed_u8_1)));
}

TEST_F(PlacedEnrolTest, BestMatchScoresAndOverlap) {
  create();
  uint8_t overlap = 7;
  uint16_t score = 7;
  DataBlob* probe = extract(impression(1));
  ASSERT_EQ(enrol_best_match(e_, probe, &overlap, &score), ML_OK);
  EXPECT_EQ(overlap, 0);
  EXPECT_EQ(score, 0);
  ASSERT_EQ(add(impression(1)), ML_OK);
  ASSERT_EQ(enrol_best_match(e_, probe, &overlap, &score), ML_OK);
  EXPECT_EQ(overlap, 100);
  EXPECT_GT(score, 0);
  ASSERT_EQ(enrol_best_match(e_, extract(kOtherFingers[1]), &overlap, &score), ML_OK);
  EXPECT_EQ(overlap, 0);
}

// Verification scores of probes against the finished template.
class PlacedEnrolVerify : public PlacedEnrolTest {
 protected:
  uint16_t verify(DataBlob* gallery, const std::string& probe) {
    uint16_t s = 0;
    EXPECT_EQ(engine_verify_score(engine_, &gallery, 1, extract(probe), &s), ML_OK) << probe;
    return s;
  }
};

TEST_F(PlacedEnrolVerify, FinishedTemplateHoldsTheAcceptedViews) {
  create();
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(add(impression(i)), ML_OK);
  const int accepted = enrol_count(e_);
  DataBlob* out = nullptr;
  ASSERT_EQ(enrol_finalise_engine(engine_, e_, &out), ML_OK);
  ASSERT_NE(out, nullptr);
  blobs_.push_back(out);
  EXPECT_EQ(blob_type(out), 80);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(out, &t), ML_OK);
  EXPECT_EQ(mvt_count_unmarked_views(t) + mvt_count_marked_views(t), accepted);
  mvt_release(t);
  // An enrolled impression verifies against it at the top of the scale.
  EXPECT_GT(verify(out, impression(1)), verify(out, kOtherFingers[0]));
}

// Enrolled from five impressions, the finger's three others verify above
// the first impressions of four other fingers.
TEST_F(PlacedEnrolVerify, OtherImpressionsRankAboveImpostors) {
  create();
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(add(impression(i)), ML_OK);
  DataBlob* out = nullptr;
  ASSERT_EQ(enrol_finalise_engine(engine_, e_, &out), ML_OK);
  blobs_.push_back(out);
  std::vector<int> genuine, impostor;
  for (int i = 6; i <= 8; ++i) genuine.push_back(verify(out, impression(i)));
  for (const std::string& name : kOtherFingers) impostor.push_back(verify(out, name));
  std::string text;
  for (int v : genuine) text += std::to_string(v) + " ";
  text += "| ";
  for (int v : impostor) text += std::to_string(v) + " ";
  EXPECT_GT(*std::min_element(genuine.begin(), genuine.end()),
            *std::max_element(impostor.begin(), impostor.end()))
      << text;
}

TEST_F(PlacedEnrolTest, AllocationFailuresLeaveTheEnrolmentWhole) {
  GrayImage* base = image(impression(1));
  DataBlob* first = extract(impression(1));
  DataBlob* second = extract(impression(2));
  DataBlob* other = extract(kOtherFingers[0]);
  zyl::test::sweep_allocation_failures([&] {
    EnrolSettings s = settings();
    s.base_image = base;
    EnrolSession* e = enrol_create(engine_, ctx_, nullptr, &kAllHooks, 80, &s);
    const bool failed = zyl::test::allocation_failed();
    if (failed) {
      EXPECT_EQ(e, nullptr);
    } else {
      EXPECT_NE(e, nullptr);
    }
    enrol_destroy(e);
  });
  // Adding a second impression to a fresh enrolment, the n-th allocation
  // failing. Failures inside the comparison may be taken by the matchers as
  // a poorer score; every other one answers 9, and nothing leaks.
  namespace hook = zyl::matchlib::test_hook;
  int allocations = 0;
  for (int n = 1; n < 20000; ++n) {
    SCOPED_TRACE(n);
    EnrolSettings s = settings();
    s.base_image = base;
    EnrolSession* e = enrol_create(engine_, ctx_, nullptr, &kAllHooks, 80, &s);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(enrol_add_sample(e, nullptr, first, nullptr), ML_OK);
    int coverage = -1;
    hook::fail_allocation(static_cast<uint64_t>(n));
    const int st = enrol_add_sample(e, nullptr, second, &coverage);
    const bool failed = zyl::test::allocation_failed();
    EXPECT_TRUE(st == ML_OK || (failed && st == ML_NO_MEMORY)) << st;
    EXPECT_LE(enrol_count(e), 2);
    enrol_destroy(e);
    if (!failed) {
      allocations = n - 1;
      break;
    }
  }
  EXPECT_GT(allocations, 0);
  create(&kAllHooks);
  ASSERT_EQ(enrol_add_sample(e_, nullptr, first, nullptr), ML_OK);
  ASSERT_EQ(enrol_add_sample(e_, nullptr, other, nullptr), ML_OK);
  zyl::test::sweep_allocation_failures([&] {
    DataBlob* out = nullptr;
    const int st = enrol_finalise(e_, 10, &out, nullptr);
    if (zyl::test::allocation_failed()) {
      EXPECT_NE(st, ML_OK);
      EXPECT_EQ(out, nullptr);
    } else {
      EXPECT_EQ(st, ML_OK);
    }
    blob_release(out);
  });
}

}  // namespace

// Keyed reference planes: creation checks, the running average with its
// count cap, centring, and the correction of a frame into an 8-bit image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_band_filter.h"
#include "matchlib/filter/ref_planes.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_ref_planes.h"

namespace {

using Words = std::vector<uint16_t>;
using Bytes = std::vector<uint8_t>;

struct SetHolder {
  RefPlaneSet* set = nullptr;
  ~SetHolder() { ref_plane_set_destroy(set); }
};

Plane16 frame_of(Words& px, int h, int w, int row = 0, int col = 0) {
  return Plane16{px.data(), uint16_t(h), uint16_t(w), 500, int16_t(row), int16_t(col)};
}

TEST(RefPlanes, CreationRefusesBadKeys) {
  struct Case {
    const char* name;
    std::vector<RefPlaneKey> keys;
    int status;
  } cases[] = {
      {"two keys", {{100, 0, 0}, {200, 1, 1}}, ML_OK},
      {"repeated key", {{100, 0, 1}, {200, 0, 1}}, ML_BAD_ARGUMENT},
      {"range 0", {{0, 0, 0}}, ML_BAD_ARGUMENT},
      {"key beyond the count", {{100, 0, 0}, {100, 0, 2}}, ML_BAD_ARGUMENT},
      {"no keys", {}, ML_OK},
  };
  for (const auto& c : cases) {
    SetHolder h;
    EXPECT_EQ(ref_plane_set_create(4, 4, nullptr, c.keys.data(), int(c.keys.size()), &h.set),
              c.status)
        << c.name;
    EXPECT_EQ(h.set != nullptr, c.status == ML_OK) << c.name;
  }
  const RefPlaneKey key{100, 0, 0};
  EXPECT_EQ(ref_plane_set_create(4, 4, nullptr, &key, 1, nullptr), ML_BAD_ARGUMENT);
  RefPlaneSet* s = nullptr;
  EXPECT_EQ(ref_plane_set_create(0, 4, nullptr, &key, 1, &s), ML_BAD_ARGUMENT);
  EXPECT_EQ(ref_plane_set_create(4, 4, nullptr, nullptr, 1, &s), ML_BAD_ARGUMENT);

  const RefPlaneSettings settings{0, 5, 3, 100, 200, 300};
  SetHolder h;
  ASSERT_EQ(ref_plane_set_create(4, 4, &settings, &key, 1, &h.set), ML_OK);
  EXPECT_EQ(h.set->settings.learning, 0);
  EXPECT_EQ(h.set->settings.count_cap, 5);
  EXPECT_EQ(h.set->settings.band, 300);
  SetHolder d;
  ASSERT_EQ(ref_plane_set_create(4, 4, nullptr, &key, 1, &d.set), ML_OK);
  EXPECT_EQ(d.set->settings.count_cap, 20);
  EXPECT_EQ(d.set->settings.weight_threshold, 10);
  EXPECT_EQ(d.set->settings.pre_filter, 768);
  EXPECT_EQ(d.set->settings.post_filter, 128);
  EXPECT_EQ(d.set->settings.band, 1536);
}

TEST(RefPlanes, FirstFrameFillsItsWindowAndLeavesTheRestUnlearned) {
  const RefPlaneKey key{100, 0, 0};
  SetHolder h;
  ASSERT_EQ(ref_plane_set_create(4, 5, nullptr, &key, 1, &h.set), ML_OK);
  Words values = {1, 2, 3, 4};
  Plane16 f = frame_of(values, 2, 2, 1, 2);
  ASSERT_EQ(ref_plane_accumulate(h.set, 0, &f, values.data()), ML_OK);
  const RefPlane& p = h.set->planes[0];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 5; ++j) {
      const bool in = i >= 1 && i < 3 && j >= 2 && j < 4;
      EXPECT_EQ(p.counts[i * 5 + j], in ? 1 : 0) << i << "," << j;
      EXPECT_EQ(p.reference[i * 5 + j], in ? values[(i - 1) * 2 + j - 2] : 0x7FFF);
    }
}

TEST(RefPlanes, AverageWeighsNewFramesUntilTheCountCap) {
  const RefPlaneKey key{100, 0, 0};
  SetHolder h;
  ASSERT_EQ(ref_plane_set_create(1, 1, nullptr, &key, 1, &h.set), ML_OK);
  Words v = {1000};
  Plane16 f = frame_of(v, 1, 1);
  for (int k = 0; k < 24; ++k) ASSERT_EQ(ref_plane_accumulate(h.set, 0, &f, v.data()), ML_OK);
  EXPECT_EQ(h.set->planes[0].counts[0], 20);
  Words late = {1000 + 21 * 10};
  ASSERT_EQ(ref_plane_accumulate(h.set, 0, &f, late.data()), ML_OK);
  EXPECT_EQ(h.set->planes[0].reference[0], 1010);  // the 25th frame weighs 1/21
  EXPECT_EQ(h.set->planes[0].counts[0], 20);

  SetHolder g;
  ASSERT_EQ(ref_plane_set_create(1, 1, nullptr, &key, 1, &g.set), ML_OK);
  Words a = {100}, b = {400};
  ASSERT_EQ(ref_plane_accumulate(g.set, 0, &f, a.data()), ML_OK);
  ASSERT_EQ(ref_plane_accumulate(g.set, 0, &f, b.data()), ML_OK);
  EXPECT_EQ(g.set->planes[0].reference[0], 250);
  EXPECT_EQ(g.set->planes[0].counts[0], 2);
}

TEST(RefPlanes, AccumulateRefusesOutsideFramesAndUnknownKeysAndHeldKeysLearnNothing) {
  const RefPlaneKey keys[] = {{100, 0, 0}, {100, 1, 1}};
  SetHolder h;
  ASSERT_EQ(ref_plane_set_create(4, 4, nullptr, keys, 2, &h.set), ML_OK);
  Words v(4, 9);
  struct Case {
    int row, col;
  } outside[] = {{-1, 0}, {0, -1}, {3, 0}, {0, 3}};
  for (const auto& c : outside) {
    Plane16 f = frame_of(v, 2, 2, c.row, c.col);
    EXPECT_EQ(ref_plane_accumulate(h.set, 0, &f, v.data()), ML_CORRUPT) << c.row << "," << c.col;
  }
  Plane16 f = frame_of(v, 2, 2);
  EXPECT_EQ(ref_plane_accumulate(h.set, 2, &f, v.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(ref_plane_accumulate(h.set, -1, &f, v.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(ref_plane_accumulate(h.set, 1, &f, v.data()), ML_OK);
  EXPECT_EQ(h.set->planes[1].reference, nullptr);
}

TEST(RefPlanes, CentringShiftsTheMeanToMidLevelAndSaturates) {
  Words plane = {100, 300, 200, 200};  // mean 200
  Words source = {0, 65535, 10, 20};
  Words out(4);
  plane16_center_mean(plane.data(), source.data(), out.data(), 2, 2);
  const int shift = 0x7FFF - 200;
  EXPECT_EQ(plane, (Words{uint16_t(100 + shift), uint16_t(300 + shift), 0x7FFF, 0x7FFF}));
  EXPECT_EQ(out, (Words{uint16_t(shift), 65535, uint16_t(10 + shift), uint16_t(20 + shift)}));
  Words high = {65535, 65535, 0, 0};  // mean 32767: no shift
  plane16_center_mean(high.data(), nullptr, nullptr, 2, 2);
  EXPECT_EQ(high, (Words{65535, 65535, 0, 0}));
}

struct RoutineLog {
  std::vector<std::vector<int>> pre;
  std::vector<int> post;
};
void log_pre(void* user, int a, int b) { static_cast<RoutineLog*>(user)->pre.push_back({a, b}); }
void log_post(void* user, int st) { static_cast<RoutineLog*>(user)->post.push_back(st); }

// The correction written out plainly: filter and centre, subtract the
// reference where it is well learned, filter again, map the range.
Bytes reference_correction(const Words& frame, int h, int w, const Words& reference,
                           bool subtract, int range) {
  const size_t n = frame.size();
  Words work(n), copy(n);
  EXPECT_EQ(fftfilt_radial_u16(frame.data(), h, w, 500, 768, 128, -1, 0, 1, work.data()), ML_OK);
  uint64_t sum = 0;
  for (uint16_t v : work) sum += v;
  const long shift = 0x7FFF - long(sum / n);
  auto sat = [](long v) { return uint16_t(std::clamp(v, 0L, 65535L)); };
  for (size_t i = 0; i < n; ++i) copy[i] = sat(frame[i] + shift);
  if (subtract)
    for (size_t i = 0; i < n; ++i) copy[i] = sat(long(copy[i]) - reference[i] + 0x7FFF);
  EXPECT_EQ(fftfilt_radial_u16(copy.data(), h, w, 500, 128, 0, 1536, 128, 1, copy.data()), ML_OK);
  const int low = 0x7FFF - range / 2, high = range / 2 + 32766;
  Bytes out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = uint8_t((std::clamp<int>(copy[i], low, high) - low) * 255 / (high - low));
  return out;
}

TEST(RefPlanes, CorrectionSubtractsAWellLearnedReference) {
  const int h = 16, w = 20;
  const RefPlaneKey key{512, 0, 0};
  SetHolder s;
  ASSERT_EQ(ref_plane_set_create(h, w, nullptr, &key, 1, &s.set), ML_OK);
  RoutineLog log;
  ref_plane_set_routines(s.set, log_pre, log_post, &log);
  // A fixed pattern of the sensor that every frame repeats.
  Words pattern(size_t(h) * w);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint16_t(30000 + (i * 977) % 6000);
  Plane16 f = frame_of(pattern, h, w);
  GrayImage* img = nullptr;
  // The first corrections see counts below the weight threshold 10: nothing
  // is subtracted.
  ASSERT_EQ(ref_plane_correct_image(s.set, &f, 0, &img, 7, 8), ML_OK);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(image_height(img), h);
  EXPECT_EQ(image_resolution(img), 500);
  EXPECT_EQ(Bytes(image_pixels(img), image_pixels(img) + pattern.size()),
            reference_correction(pattern, h, w, {}, false, 512));
  image_release(img);
  for (int k = 0; k < 9; ++k) ASSERT_EQ(ref_plane_correct_image(s.set, &f, 0, nullptr, k, 0), ML_OK);
  EXPECT_EQ(s.set->planes[0].counts[0], 10);
  const Words learned(s.set->planes[0].reference, s.set->planes[0].reference + pattern.size());
  ASSERT_EQ(ref_plane_correct_image(s.set, &f, 0, &img, 1, 2), ML_OK);
  EXPECT_EQ(Bytes(image_pixels(img), image_pixels(img) + pattern.size()),
            reference_correction(pattern, h, w, learned, true, 512));
  image_release(img);
  ASSERT_EQ(log.pre.size(), 11u);
  EXPECT_EQ(log.pre[0], (std::vector<int>{7, 8}));
  EXPECT_EQ(log.post, std::vector<int>(11, 0));
}

TEST(RefPlanes, CorrectionAndLearningRefuseBadArguments) {
  const RefPlaneKey key{100, 0, 0};
  SetHolder h;
  ASSERT_EQ(ref_plane_set_create(3, 3, nullptr, &key, 1, &h.set), ML_OK);
  Words px(9, 100);
  Plane16 good = frame_of(px, 3, 3);
  Plane16 no_res = good;
  no_res.resolution = 0;
  Plane16 no_px = good;
  no_px.pixels = nullptr;
  GrayImage* img = reinterpret_cast<GrayImage*>(1);
  EXPECT_EQ(ref_plane_correct_image(nullptr, &good, 0, &img, 0, 0), ML_BAD_ARGUMENT);
  EXPECT_EQ(img, nullptr);
  EXPECT_EQ(ref_plane_correct_image(h.set, &no_res, 0, &img, 0, 0), ML_BAD_ARGUMENT);
  EXPECT_EQ(ref_plane_correct_image(h.set, &no_px, 0, &img, 0, 0), ML_BAD_ARGUMENT);
  EXPECT_EQ(ref_plane_correct_image(h.set, &good, 1, &img, 0, 0), ML_BAD_ARGUMENT);
  Plane16 list[] = {good, no_res};
  EXPECT_EQ(ref_plane_learn_list(h.set, list, 2, 0), ML_BAD_ARGUMENT);
  EXPECT_EQ(h.set->planes[0].counts[0], 1);  // the first frame was learned
  EXPECT_EQ(ref_plane_learn_list(h.set, list, 1, 3), ML_BAD_ARGUMENT);
  RoutineLog log;
  ref_plane_set_routines(h.set, log_pre, log_post, &log);
  const Plane16* ptrs[] = {&good, &good};
  EXPECT_EQ(ref_plane_learn_frames(h.set, ptrs, 2, 0), ML_OK);
  EXPECT_EQ(log.pre, (std::vector<std::vector<int>>{{0, 2}, {1, 2}}));
  EXPECT_EQ(log.post, (std::vector<int>{0, 0}));
  EXPECT_EQ(h.set->planes[0].counts[0], 3);
}

}  // namespace

namespace {

TEST(RefPlaneSetAccess, KeysSettingsAndCounting) {
  const RefPlaneKey keys[] = {{100, 0, 1}, {200, 1, 0}};
  RefPlaneSet* set = nullptr;
  ASSERT_EQ(ref_plane_set_create(8, 8, nullptr, keys, 2, &set), ML_OK);
  EXPECT_EQ(ref_plane_set_key_count(set), 2);
  EXPECT_EQ(ref_plane_set_key_at(set, 0), 1);
  EXPECT_EQ(ref_plane_set_key_at(set, 1), 0);
  EXPECT_EQ(ref_plane_set_key_at(set, 2), -1);
  EXPECT_EQ(ref_plane_set_key_at(nullptr, 0), -1);
  ASSERT_NE(ref_plane_set_find_key(set, 0), nullptr);
  EXPECT_EQ(ref_plane_set_find_key(set, 0)->range, 200);
  EXPECT_EQ(ref_plane_set_find_key(set, 5), nullptr);
  RefPlaneSettings defaults{};
  ref_plane_settings_default(&defaults);
  const RefPlaneSettings* s = ref_plane_set_settings(set);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->learning, defaults.learning);
  EXPECT_EQ(s->count_cap, 20);
  EXPECT_EQ(s->weight_threshold, 10);
  EXPECT_EQ(s->pre_filter, 768);
  EXPECT_EQ(s->post_filter, 128);
  EXPECT_EQ(s->band, 1536);
  EXPECT_EQ(ref_plane_set_settings(nullptr), nullptr);
  EXPECT_EQ(ref_plane_set_routines(nullptr, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(ref_plane_set_routines(set, nullptr, nullptr, nullptr), ML_OK);
  EXPECT_EQ(ref_plane_stub_one(), 1);
  EXPECT_EQ(ref_plane_set_retain(set), set);
  ref_plane_set_release(set);
  ref_plane_set_release(set);  // the last reference destroys it
}

}  // namespace

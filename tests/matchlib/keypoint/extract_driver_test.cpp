// Keypoint extraction driver: what the detector and the finisher see, the
// borders, and the resampled working size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_extract_driver.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace zyl::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What the stand-in routines saw on their last call.
struct Seen {
  int detector_height = 0, detector_width = 0;
  Bytes finisher_pixels;
  int finisher_count = -1;
} seen;

// Marks every pixel, so the collection keeps the local maxima inside the
// border only.
int mark_all(const MatchContext*, const std::uint8_t*, int h, int w, std::uint8_t* map) {
  seen.detector_height = h;
  seen.detector_width = w;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) map[y * w + x] = static_cast<std::uint8_t>(1 + (x * 7 + y * 3) % 50);
  return ML_OK;
}

int mark_none(const MatchContext*, const std::uint8_t*, int h, int w, std::uint8_t*) {
  seen.detector_height = h;
  seen.detector_width = w;
  return ML_OK;
}

int record_finish(const MatchContext*, const std::uint8_t* px, int h, int w, KeyPoint*, int n) {
  seen.finisher_pixels.assign(px, px + h * w);
  seen.finisher_count = n;
  return ML_OK;
}

struct Found {
  KeyPoint* p = nullptr;
  int n = 0;
  ~Found() { std::free(p); }
};

TEST(ExtractDriver, PlainDriverFinishesOnTheInputWithBorderFour) {
  const auto img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  Found r;
  ASSERT_EQ(extdrv_drive_plain(nullptr, img.pixels.data(), img.height, img.width, mark_all,
                               record_finish, &r.p, &r.n),
            ML_OK);
  ASSERT_GT(r.n, 0);
  EXPECT_EQ(seen.finisher_pixels, img.pixels);
  EXPECT_EQ(seen.finisher_count, r.n);
  for (int i = 0; i < r.n; ++i) {
    EXPECT_GE(std::min(r.p[i].x, r.p[i].y), 4);
    EXPECT_LT(r.p[i].x, img.width - 4);
    EXPECT_LT(r.p[i].y, img.height - 4);
  }
}

TEST(ExtractDriver, ResampledDriverWorksSmallerButCollectsFullSizePositions) {
  const auto img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  std::unique_ptr<MatchContext, void (*)(MatchContext*)> ctx(ctx_create(), ctx_release);
  ASSERT_EQ(param_set(ctx.get(), 0xaa63d8e3, 8), ML_OK);
  ASSERT_EQ(param_set(ctx.get(), 0xf21fe861, 0), ML_OK);
  Found r;
  ASSERT_EQ(extdrv_drive_resampled(ctx.get(), img.pixels.data(), img.height, img.width, mark_all,
                                   record_finish, &r.p, &r.n),
            ML_OK);
  EXPECT_EQ(seen.detector_height, img.height / 2);
  EXPECT_EQ(seen.detector_width, img.width / 2);
  EXPECT_EQ(seen.finisher_pixels, img.pixels);  // no post-smoothing: an exact copy
  ASSERT_GT(r.n, 0);
  int far = 0;
  for (int i = 0; i < r.n; ++i) far += r.p[i].x >= img.width / 2 || r.p[i].y >= img.height / 2;
  EXPECT_GT(far, 0);
  // At the default scale the detector sees the full size.
  Found full;
  ASSERT_EQ(extdrv_drive_resampled(nullptr, img.pixels.data(), img.height, img.width, mark_all,
                                   record_finish, &full.p, &full.n),
            ML_OK);
  EXPECT_EQ(seen.detector_width, img.width);
  EXPECT_NE(seen.finisher_pixels, img.pixels);  // smoothed once by default
}

TEST(ExtractDriver, NothingMarkedGivesNoListAndTheFinisherStillRuns) {
  const Bytes px(40 * 40, 100);
  for (auto drive : {extdrv_drive_plain, extdrv_drive_resampled}) {
    Found r;
    seen.finisher_count = -1;
    ASSERT_EQ(drive(nullptr, px.data(), 40, 40, mark_none, record_finish, &r.p, &r.n), ML_OK);
    EXPECT_EQ(r.n, 0);
    EXPECT_EQ(r.p, nullptr);
    EXPECT_EQ(seen.finisher_count, 0);
  }
  KeyPoint* p = nullptr;
  int n = 0;
  EXPECT_EQ(extdrv_run(nullptr, px.data(), 40, 40, nullptr, &p, &n), ML_BAD_ARGUMENT);
}

}  // namespace
}  // namespace zyl::test

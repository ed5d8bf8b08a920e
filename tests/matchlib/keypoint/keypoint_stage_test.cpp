// Keypoint extraction stage: arguments, resampling, budgets, record order,
// the dense grid, and both operations on real prints (blobs that parse,
// points that follow a shift and a quarter turn of the print, directions
// and descriptors that follow a turn of a few degrees).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace zyl::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ImageDeleter {
  void operator()(GrayImage* i) const { image_release(i); }
};
struct BlobDeleter {
  void operator()(DataBlob* b) const { blob_release(b); }
};
struct RecordDeleter {
  void operator()(BlockRecord* r) const { blockrec_free(r); }
};
struct ContextDeleter {
  void operator()(MatchContext* c) const { ctx_release(c); }
};
using Image = std::unique_ptr<GrayImage, ImageDeleter>;
using Blob = std::unique_ptr<DataBlob, BlobDeleter>;
using Record = std::unique_ptr<BlockRecord, RecordDeleter>;
using Context = std::unique_ptr<MatchContext, ContextDeleter>;

Image make_image(const Bytes& px, int h, int w, int resolution = 500) {
  return Image(image_create(h, w, resolution, resolution, px.data(), 0));
}

using Operation = int (*)(MatchContext*, GrayImage*, void*, int32_t, DataBlob**);
const Operation kOperations[] = {keypoint_stage_extract, keypoint_stage_extract_light};

Record run(Operation op, MatchContext* ctx, GrayImage* img) {
  DataBlob* out = nullptr;
  EXPECT_EQ(op(ctx, img, nullptr, BLOCKREC_FORMAT, &out), ML_OK);
  Blob blob(out);
  if (!blob) return nullptr;
  EXPECT_EQ(blob_type(blob.get()), BLOCKREC_FORMAT);
  BlockRecord* rec = nullptr;
  EXPECT_EQ(blockrec_parse(blob_data(blob.get()), blob_size(blob.get()), 0, 0, &rec), ML_OK);
  return Record(rec);
}

zyl::test::GreyImage print(const char* name) { return zyl::test::read_pgm(zyl::test::test_data(name)); }

TEST(KeypointStage, RefusesWrongKindAndMissingOutput) {
  const Bytes px(64 * 64, 100);
  auto img = make_image(px, 64, 64);
  for (Operation op : kOperations) {
    DataBlob* out = reinterpret_cast<DataBlob*>(1);
    EXPECT_EQ(op(nullptr, img.get(), nullptr, 77, &out), ML_WRONG_KIND);
    EXPECT_EQ(op(nullptr, img.get(), nullptr, BLOCKREC_FORMAT, nullptr), ML_BAD_ARGUMENT);
    // An image whose resolution was never set is refused, not divided by.
    auto unset = make_image(px, 64, 64, 0);
    EXPECT_EQ(op(nullptr, unset.get(), nullptr, BLOCKREC_FORMAT, &out), ML_BAD_ARGUMENT);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(keypoint_stage_extractors()[0].extract, keypoint_stage_extract_light);
  EXPECT_EQ(keypoint_stage_extractors()[1].extract, keypoint_stage_extract);
}

TEST(KeypointStage, ResamplesOnlyBeyondEightDpi) {
  const auto p = print("fvc2004_102_1_160.pgm");
  struct Case {
    int resolution, width;
  };
  for (Operation op : kOperations)
    for (const Case c : {Case{492, 160}, Case{508, 160}, Case{491, 163}, Case{509, 157}}) {
      auto img = make_image(p.pixels, p.height, p.width, c.resolution);
      auto rec = run(op, nullptr, img.get());
      ASSERT_TRUE(rec);
      EXPECT_EQ(rec->width, c.width) << c.resolution;
    }
}

TEST(KeypointStage, BudgetFromArea) {
  struct Case {
    int area, budget;
  };
  for (const Case c : {Case{96 * 96, 350}, Case{50 * 50, 100}, Case{0, 0}, Case{12, 0},
                       Case{13, 1}, Case{-13, -1}, Case{-40, -2}})
    EXPECT_EQ(keypoint_budget_from_area(c.area), c.budget) << c.area;
}

// A checkerboard of 6-pixel squares: a saddle at every inner corner.
Bytes checkerboard(int n) {
  Bytes px(n * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) px[y * n + x] = ((y / 6 + x / 6) % 2) ? 200 : 50;
  return px;
}

TEST(KeypointStage, KeepPercentageCutsTheListBeforeTheBudget) {
  Context ctx(ctx_create());
  ASSERT_EQ(param_set(ctx.get(), 0x041e91f6, 128), ML_OK);  // saddles, keep 50 %
  ASSERT_EQ(param_set(ctx.get(), 0xc901dcad, 350), ML_OK);
  const int n = 200;
  auto img = make_image(checkerboard(n), n, n);
  auto rec = run(keypoint_stage_extract, ctx.get(), img.get());
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->point_count, 175);
  for (int i = 0; i < rec->point_count; ++i) EXPECT_TRUE(rec->points[i].cls & 4);
}

TEST(KeypointStage, RecordIsOrderedByClassThenScoreAndWithinBudget) {
  const auto p = print("fvc2004_102_1_160.pgm");
  auto img = make_image(p.pixels, p.height, p.width);
  for (Operation op : kOperations) {
    auto rec = run(op, nullptr, img.get());
    ASSERT_TRUE(rec);
    EXPECT_GT(rec->point_count, 50);
    EXPECT_LE(rec->point_count, keypoint_budget_from_area(160 * 160));
    for (int i = 1; i < rec->point_count; ++i) {
      const KeyPoint &a = rec->points[i - 1], &b = rec->points[i];
      EXPECT_TRUE(a.cls < b.cls || (a.cls == b.cls && a.score >= b.score)) << i;
    }
  }
}

TEST(KeypointStage, AreaBudgetCountsTheUsableCellsOfTheMaskPlane) {
  // List 8 runs the local-spread detector under budget mode 1, whose budget
  // comes from the usable share of the mask plane: none without a plane,
  // the whole image with a plane that excludes nothing, one point per 25
  // usable pixels with one that keeps a 40 x 40 square.
  Context ctx(ctx_create());
  ASSERT_EQ(param_set(ctx.get(), 0x041e91f6, 8), ML_OK);
  const auto p = print("fvc2004_102_1_160.pgm");
  ASSERT_EQ(p.height * p.width, 160 * 160);
  struct Case {
    int mask;  // 0 none, 1 all usable, 2 a usable 40 x 40 square
    int least, most;
  };
  for (const Case c : {Case{0, 0, 0}, Case{1, 51, 350}, Case{2, 1, (6 * 160 * 160 / 100 + 12) / 25}}) {
    auto img = make_image(p.pixels, p.height, p.width);
    if (c.mask) {
      ASSERT_NE(image_mask_plane_ensure(img.get()), nullptr);
    }
    if (c.mask == 2) {
      Bytes outside(160 * 160, 1);
      for (int y = 60; y < 100; ++y)
        for (int x = 60; x < 100; ++x) outside[y * 160 + x] = 0;
      mask_set_bits_where_set(image_mask_plane(img.get()), 0x02, outside.data());
      ASSERT_EQ(image_usable_percent(img.get()), 6);
    }
    auto rec = run(keypoint_stage_extract, ctx.get(), img.get());
    ASSERT_TRUE(rec);
    EXPECT_GE(rec->point_count, c.least) << c.mask;
    EXPECT_LE(rec->point_count, c.most) << c.mask;
  }
}

TEST(KeypointStage, DetectorListOutsideTheTableGivesAnEmptyRecord) {
  Context ctx(ctx_create());
  ASSERT_EQ(param_set(ctx.get(), 0x041e91f6, 3), ML_OK);
  const auto p = print("fvc2004_102_1_160.pgm");
  auto img = make_image(p.pixels, p.height, p.width);
  auto rec = run(keypoint_stage_extract, ctx.get(), img.get());
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->point_count, 0);
  EXPECT_EQ(rec->extension_type_count, 1);  // type 0x2 by default
}

TEST(KeypointStage, DenseGridCoversTheImageEveryFivePixels) {
  const Bytes px(100 * 100, 90);
  auto img = make_image(px, 100, 100);
  for (int flag : {0, 1}) {
    DataBlob* out = nullptr;
    ASSERT_EQ(keypoint_dense_grid_features(img.get(), &out, flag), ML_OK);
    Blob blob(out);
    BlockRecord* r = nullptr;
    ASSERT_EQ(blockrec_parse(blob_data(blob.get()), blob_size(blob.get()), 0, 0, &r), ML_OK);
    Record rec(r);
    ASSERT_EQ(rec->point_count, 400);
    EXPECT_EQ(rec->points[0].x, 4);
    EXPECT_EQ(rec->points[0].y, 4);
    EXPECT_EQ(rec->points[399].x, 99);
    EXPECT_EQ(rec->points[399].y, 99);
    EXPECT_EQ(rec->points[0].cls, 3);
  }
  EXPECT_EQ(keypoint_dense_grid_features(img.get(), nullptr, 0), ML_WRONG_KIND);
}

// Pixels of a window of a print, or the print turned a quarter turn
// clockwise: (x, y) goes to (h - 1 - y, x).
Bytes window(const zyl::test::GreyImage& p, int x0, int y0, int w, int h) {
  Bytes out(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out[y * w + x] = p.at(x0 + x, y0 + y);
  return out;
}
Bytes turned(const zyl::test::GreyImage& p) {
  Bytes out(p.width * p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) out[x * p.height + (p.height - 1 - y)] = p.at(x, y);
  return out;
}

const KeyPoint* find(const BlockRecord& r, int x, int y) {
  for (int i = 0; i < r.point_count; ++i)
    if (r.points[i].x == x && r.points[i].y == y) return &r.points[i];
  return nullptr;
}

bool same_descriptors(const BlockRecord& a, const KeyPoint* pa, const BlockRecord& b,
                      const KeyPoint* pb) {
  for (int k = 0; k < a.extension_type_count; ++k) {
    const std::uint32_t s = a.extension_types[k]->size();
    if (!std::equal(a.extension_arrays[k] + s * (pa - a.points),
                    a.extension_arrays[k] + s * (pa - a.points + 1),
                    b.extension_arrays[k] + s * (pb - b.points)))
      return false;
  }
  return true;
}

TEST(KeypointStage, PointsFollowAShiftOfThePrint) {
  const auto p = print("fvc2004_102_1_160.pgm");
  const int w = 152, h = 160;
  auto left = make_image(window(p, 0, 0, w, h), h, w);
  auto right = make_image(window(p, 8, 0, w, h), h, w);
  for (Operation op : kOperations) {
    auto a = run(op, nullptr, left.get());
    auto b = run(op, nullptr, right.get());
    ASSERT_TRUE(a && b);
    int inside = 0, moved = 0, equal = 0;
    for (int i = 0; i < a->point_count; ++i) {
      const KeyPoint& k = a->points[i];
      if (k.x < 20 || k.x > w - 12) continue;
      ++inside;
      if (const KeyPoint* m = find(*b, k.x - 8, k.y)) {
        ++moved;
        equal += same_descriptors(*a, &k, *b, m);
      }
    }
    ASSERT_GT(inside, 20);
    EXPECT_GT(moved * 2, inside) << moved << " of " << inside;
    EXPECT_GT(equal * 2, moved) << equal << " of " << moved;
  }
}

TEST(KeypointStage, PointsAndAnglesFollowAQuarterTurn) {
  const auto p = print("fvc2004_102_1_160.pgm");
  auto upright = make_image(p.pixels, p.height, p.width);
  auto turn = make_image(turned(p), p.width, p.height);
  for (Operation op : kOperations) {
    auto a = run(op, nullptr, upright.get());
    auto b = run(op, nullptr, turn.get());
    ASSERT_TRUE(a && b);
    int found = 0, angle = 0;
    for (int i = 0; i < a->point_count; ++i) {
      const KeyPoint& k = a->points[i];
      const KeyPoint* m = find(*b, p.height - 1 - k.y, k.x);
      if (!m) continue;
      ++found;
      const int d = (m->angle - k.angle - 64) & 0xFF;
      angle += d <= 2 || d >= 254;
    }
    EXPECT_GT(found * 2, a->point_count) << found << " of " << a->point_count;
    EXPECT_GT(angle * 2, found) << angle << " of " << found;
  }
}

// The print turned by `degrees` about its centre (bilinear samples, edges
// repeated): the pixel at (x, y) comes from the print at the inverse turn.
Bytes turned_by(const zyl::test::GreyImage& p, double degrees) {
  const double t = degrees * 3.14159265358979 / 180, c = std::cos(t), s = std::sin(t);
  const double cx = p.width / 2.0, cy = p.height / 2.0;
  auto at = [&](int x, int y) {
    return static_cast<double>(p.at(std::clamp(x, 0, p.width - 1), std::clamp(y, 0, p.height - 1)));
  };
  Bytes out(static_cast<std::size_t>(p.width) * p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const double u = x - cx, v = y - cy, ox = c * u + s * v + cx, oy = -s * u + c * v + cy;
      const int x0 = static_cast<int>(std::floor(ox)), y0 = static_cast<int>(std::floor(oy));
      const double fx = ox - x0, fy = oy - y0;
      const double value = at(x0, y0) * (1 - fx) * (1 - fy) + at(x0 + 1, y0) * fx * (1 - fy) +
                           at(x0, y0 + 1) * (1 - fx) * fy + at(x0 + 1, y0 + 1) * fx * fy;
      out[static_cast<std::size_t>(y) * p.width + x] = static_cast<std::uint8_t>(std::lround(value));
    }
  return out;
}

int descriptor_distance(const BlockRecord& a, int i, const BlockRecord& b, int j) {
  int d = 0;
  for (int k = 0; k < a.extension_type_count; ++k) {
    const std::uint32_t s = a.extension_types[k]->size();
    for (std::uint32_t n = 0; n < s; ++n)
      d += std::popcount(static_cast<unsigned>(a.extension_arrays[k][s * i + n] ^ b.extension_arrays[k][s * j + n]));
  }
  return d;
}

// A turn that is not a multiple of a quarter: the points that reappear keep
// their direction axis (turned with the print) and, where they keep their
// sense, descriptors far closer than those of unrelated points, so the
// sampling patterns turn the same way as the print.
TEST(KeypointStage, DirectionsAndDescriptorsFollowATurnOfThePrint) {
  const auto p = print("fvc2004_102_1_160.pgm");
  auto upright = make_image(p.pixels, p.height, p.width);
  for (const double degrees : {10.0, -25.0}) {
    auto turn = make_image(turned_by(p, degrees), p.height, p.width);
    const int steps = static_cast<int>(std::lround(degrees * 256 / 360));
    const double t = degrees * 3.14159265358979 / 180, c = std::cos(t), s = std::sin(t);
    for (Operation op : kOperations) {
      auto a = run(op, nullptr, upright.get());
      auto b = run(op, nullptr, turn.get());
      ASSERT_TRUE(a && b);
      ASSERT_GT(b->point_count, 0);
      // Both records are in working-resolution pixels of the same size.
      const double k = static_cast<double>(a->width) / p.width;
      int close = 0, kept = 0;
      double axis = 0, kept_distance = 0, other_distance = 0;
      for (int i = 0; i < a->point_count; ++i) {
        const double u = a->points[i].x / k - p.width / 2.0, v = a->points[i].y / k - p.height / 2.0;
        const double bx = (c * u - s * v + p.width / 2.0) * k, by = (s * u + c * v + p.height / 2.0) * k;
        int j = -1;
        double nearest = 2.25;
        for (int q = 0; q < b->point_count; ++q) {
          const double d = (bx - b->points[q].x) * (bx - b->points[q].x) + (by - b->points[q].y) * (by - b->points[q].y);
          if (d <= nearest) nearest = d, j = q;
        }
        if (j < 0) continue;
        ++close;
        const int diff = static_cast<std::int8_t>(static_cast<std::uint8_t>(b->points[j].angle - a->points[i].angle - steps));
        const int ax = ((diff % 128) + 128) % 128;
        axis += std::min(ax, 128 - ax);
        if (std::abs(diff) >= 16) continue;
        ++kept;
        kept_distance += descriptor_distance(*a, i, *b, j);
        other_distance += descriptor_distance(*a, i, *b, (j + b->point_count / 2) % b->point_count);
      }
      ASSERT_GT(close * 2, a->point_count) << degrees << ": " << close << " of " << a->point_count;
      EXPECT_LT(axis / close, 4.0) << degrees;
      ASSERT_GT(kept * 2, close) << degrees << ": " << kept << " of " << close;
      EXPECT_LT(kept_distance * 2, other_distance) << degrees << ": " << kept_distance / kept << " against "
                                                   << other_distance / kept;
    }
  }
}

// Every crop of the shared 160 x 160 sets, when they are beside the
// repository (the sanitizer build runs this over all of them).
TEST(KeypointStage, EverySharedCropGivesABlob) {
  const std::filesystem::path root = ZYL_SHARED_DATA_DIR "/fingerprints";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no shared prints";
  int images = 0;
  for (const char* set : {"fvc2000-db4b-160", "fvc2002-db1b-part-160", "fvc2004-db4b-160"})
    for (const auto& e : std::filesystem::directory_iterator(root / set)) {
      if (e.path().extension() != ".pgm") continue;
      const auto p = zyl::test::read_pgm(e.path().string());
      auto img = make_image(p.pixels, p.height, p.width);
      for (Operation op : kOperations) {
        auto rec = run(op, nullptr, img.get());
        ASSERT_TRUE(rec) << e.path();
        EXPECT_LE(rec->point_count, keypoint_budget_from_area(p.height * p.width));
      }
      ++images;
    }
  EXPECT_EQ(images, 200);
}

}  // namespace
}  // namespace zyl::test

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_template.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Extraction {
  int result = 0;
  Bytes out = Bytes(TYPELINE_TEMPLATE_SIZE, 0xEE);
  Bytes image;
};

Extraction extract(const zyl::test::GreyImage& img) {
  Extraction e;
  e.image = img.pixels;
  e.result = create_template(e.image.data(), img.width, img.height, e.out.data());
  return e;
}

TEST(TypelineExtractor, RefusesNullBuffersBeforeSizes) {
  Bytes image(16, 0), out(TYPELINE_TEMPLATE_SIZE);
  struct Case {
    bool image, out;
    int width, height, expected;
  };
  const Case cases[] = {
      {false, true, 160, 160, -1}, {true, false, 160, 160, -1}, {false, true, 401, 160, -1},
      {true, false, -5, 900, -1},  {true, true, 401, 160, -41}, {true, true, 160, 401, -41},
      {true, true, -1, 160, -41},  {true, true, 160, -1, -41},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    EXPECT_EQ(create_template(c.image ? image.data() : nullptr, c.width, c.height, c.out ? out.data() : nullptr),
              c.expected);
    EXPECT_EQ(dyn_image_height, c.height);
    EXPECT_EQ(create_template_devided(c.image ? image.data() : nullptr, c.width, c.height,
                                      c.out ? out.data() : nullptr),
              c.expected);
  }
}

TEST(TypelineExtractor, FeaturelessImagesGiveTooFewFeaturesAndZeroOutput) {
  struct Case {
    int width, height;
  };
  // 400 x 400 is the largest accepted size; 0 and sizes below one block
  // pass the checks and find nothing.
  for (const Case c : {Case{400, 400}, Case{160, 160}, Case{0, 0}, Case{0, 50}, Case{15, 15}, Case{17, 3}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    Bytes image(static_cast<std::size_t>(c.width) * c.height + 1, 200), out(TYPELINE_TEMPLATE_SIZE, 0xEE);
    EXPECT_EQ(create_template(image.data(), c.width, c.height, out.data()), -31);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0; }));
  }
}

TEST(TypelineExtractor, RealCropsGiveTemplatesTheReaderAccepts) {
  // Pinned after a look at the traced ridges, minutiae and cores drawn on
  // each crop: a loop with its core low on the left, a loop with its core
  // left of the centre, and a whorl with a core at each end of its
  // elongated centre.
  struct Case {
    const char* name;
    int result, pattern, cores;
  };
  const Case cases[] = {{"fvc2002_101_1_160.pgm", 13410, 8, 1},
                        {"fvc2004_102_1_160.pgm", 19923, 8, 1},
                        {"fvc2000_102_1_160.pgm", 17818, 0, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto img = zyl::test::read_pgm(zyl::test::test_data(c.name));
    const Extraction e = extract(img);
    ASSERT_GT(e.result, 0);
    EXPECT_EQ(e.result, c.result);
    const int length = e.result / 100, count = e.result % 100;
    // Header 4, sections A 5, B 11, C 54 (10 x 10 blocks), D 3 + 4n, E 3 + 5m.
    TypelineRecord record;
    mch_sub_func_02(e.out.data(), &record);
    EXPECT_EQ(mch_sub_func_03(&record), 1);
    EXPECT_EQ(count, record.minutiae.count);
    EXPECT_EQ(length, 4 + 5 + 11 + 54 + 3 + 4 * record.singular.count + 3 + 5 * count);
    EXPECT_TRUE(std::all_of(e.out.begin() + length, e.out.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(record.patternType, c.pattern);
    EXPECT_EQ(record.singular.count, c.cores);
    for (int k = 0; k < record.singular.count; ++k) EXPECT_EQ(record.singular.points[k].kind, 1);
    EXPECT_EQ(record.width, 160);
    EXPECT_EQ(record.height, 160);
    EXPECT_EQ(record.grid.columns, 10);
    EXPECT_EQ(record.grid.rows, 10);
    EXPECT_GE(count, 5);
    EXPECT_LE(count, 50);
    EXPECT_GT(record.frequency, 30);  // ridge periods of 5..15 pixels
    EXPECT_LT(record.frequency, 90);
    for (int k = 1; k < count; ++k) EXPECT_GE(record.minutiae.minutiae[k - 1].quality, record.minutiae.minutiae[k].quality);
    for (int k = 0; k < count; ++k) {
      const TypelineMinutia& m = record.minutiae.minutiae[k];
      EXPECT_GE(m.x, 8);
      EXPECT_LT(m.x, 152);
      EXPECT_GE(m.y, 8);
      EXPECT_LT(m.y, 152);
      EXPECT_LT(m.direction, 240);
      EXPECT_GE(m.quality, 11);
    }
    // The work images replaced the caller's pixels.
    EXPECT_NE(e.image, img.pixels);
    // Deterministic.
    const Extraction again = extract(img);
    EXPECT_EQ(again.result, e.result);
    EXPECT_EQ(again.out, e.out);
  }
}

TEST(TypelineExtractor, APrintMovedByOneBlockKeepsItsFeatures) {
  // The crop set 16 pixels into a flat 192 x 192 frame: block grids, bands
  // and the start-point grid stay aligned, so the features move with it.
  constexpr int kOffset = 16;
  for (const char* name : {"fvc2002_101_1_160.pgm", "fvc2004_102_1_160.pgm", "fvc2000_102_1_160.pgm"}) {
    SCOPED_TRACE(name);
    const auto img = zyl::test::read_pgm(zyl::test::test_data(name));
    const int W = img.width + 2 * kOffset, H = img.height + 2 * kOffset;
    zyl::test::GreyImage framed{W, H, Bytes(static_cast<std::size_t>(W) * H, 200)};
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x) framed.pixels[static_cast<std::size_t>(y + kOffset) * W + x + kOffset] = img.at(x, y);
    const Extraction a = extract(img), b = extract(framed);
    ASSERT_GT(a.result, 0);
    ASSERT_GT(b.result, 0);
    TypelineRecord ra, rb;
    mch_sub_func_02(a.out.data(), &ra);
    mch_sub_func_02(b.out.data(), &rb);
    int found = 0;
    for (int i = 0; i < ra.minutiae.count; ++i)
      for (int j = 0; j < rb.minutiae.count; ++j) {
        const TypelineMinutia &m = ra.minutiae.minutiae[i], &n = rb.minutiae.minutiae[j];
        if (std::abs(m.x + kOffset - n.x) <= 2 && std::abs(m.y + kOffset - n.y) <= 2 && m.type == n.type) {
          ++found;
          break;
        }
      }
    EXPECT_GE(4 * found, 3 * ra.minutiae.count);
    auto near = [&](const TypelineSingularPoint& p, const TypelineRecord& other, int shift) {
      for (int j = 0; j < other.singular.count; ++j)
        if (std::abs(p.x + shift - other.singular.points[j].x) <= 6 && std::abs(p.y + shift - other.singular.points[j].y) <= 6)
          return true;
      return false;
    };
    // The frame adds no singular point, and every one away from the crop's
    // edges stays; one within the reach of the orientation windows (24
    // pixels) of an edge depends on what lies beyond it.
    for (int j = 0; j < rb.singular.count; ++j) EXPECT_TRUE(near(rb.singular.points[j], ra, -kOffset)) << j;
    for (int i = 0; i < ra.singular.count; ++i) {
      const TypelineSingularPoint& p = ra.singular.points[i];
      if (std::min({int{p.x}, int{p.y}, img.width - 1 - p.x, img.height - 1 - p.y}) > 24) {
        EXPECT_TRUE(near(p, rb, kOffset)) << i;
      }
    }
  }
}

TEST(TypelineExtractor, ReportsVersion) { EXPECT_EQ(GetAlgorithmLibraryVersin(), 4098); }

TEST(TypelineExtractor, ResizeKeepsTheCentredPartAndZeroesTheRest) {
  Bytes buffer(80);
  std::iota(buffer.begin(), buffer.end(), 1);  // 10 x 8, value 1 + 10 y + x
  ASSERT_EQ(ResizeImage(buffer.data(), 10, 8, 6, 4), 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(buffer[y * 6 + x], 1 + 10 * (y + 2) + (x + 2));
  EXPECT_TRUE(std::all_of(buffer.begin() + 24, buffer.end(), [](std::uint8_t b) { return b == 0; }));

  Bytes original(80);
  std::iota(original.begin(), original.end(), 1);
  Bytes same = original;
  EXPECT_EQ(ResizeImage(same.data(), 10, 8, 11, 4), -1);
  EXPECT_EQ(ResizeImage(same.data(), 10, 8, 6, 9), -1);
  EXPECT_EQ(ResizeImage(nullptr, 10, 8, 6, 4), -1);
  EXPECT_EQ(same, original);
  EXPECT_EQ(ResizeImage(same.data(), 10, 8, 10, 8), 0);
  EXPECT_EQ(same, original);
}

}  // namespace

namespace {

// Odd, tiny, narrow and large sizes, noise and real ridges cut to size:
// every stage must stay inside its buffers (the sanitizer build checks).
TEST(TypelineExtractor, AnySizeAndContentStaysInBounds) {
  const auto print = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_160.pgm"));
  std::mt19937 rng(11);
  struct Case {
    int width, height;
  };
  for (const Case c : {Case{1, 1}, Case{2, 3}, Case{16, 16}, Case{17, 33}, Case{33, 17}, Case{63, 95}, Case{160, 7},
                       Case{7, 160}, Case{101, 157}, Case{400, 23}, Case{250, 400}}) {
    for (int kind = 0; kind < 2; ++kind) {
      SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + (kind ? " print" : " noise"));
      Bytes image(static_cast<std::size_t>(c.width) * c.height);
      for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
          image[static_cast<std::size_t>(y) * c.width + x] =
              kind ? print.at(x % print.width, y % print.height) : static_cast<std::uint8_t>(rng());
      Bytes out(TYPELINE_TEMPLATE_SIZE, 0xEE);
      const int r = create_template(image.data(), c.width, c.height, out.data());
      if (r < 0) {
        EXPECT_EQ(r, -31);
        continue;
      }
      TypelineRecord record;
      mch_sub_func_02(out.data(), &record);
      EXPECT_EQ(r % 100, record.minutiae.count);
      EXPECT_LE(r / 100, TYPELINE_TEMPLATE_SIZE);
    }
  }
}

}  // namespace

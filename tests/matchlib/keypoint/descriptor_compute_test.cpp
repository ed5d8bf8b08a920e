// Descriptor computations of the ten types: uniform images, seeds, turning
// by half a turn, resolution scaling, masks, points outside, tiny images,
// and the pattern bytes with their ids.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "matchlib/keypoint/descriptor_compute.h"
#include "matchlib/keypoint/descriptor_patterns.h"
#include "support/pgm.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_descriptor_type.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using matchlib::kPattern10;

const DescriptorType* type_of(std::uint32_t id) {
  const DescriptorType* list[11];
  EXPECT_EQ(desc_types_select(list, id), 1);
  return list[0];
}

struct RecordDeleter {
  void operator()(BlockRecord* r) const { blockrec_free(r); }
};
using Record = std::unique_ptr<BlockRecord, RecordDeleter>;

// A record of one descriptor type holding the given points.
Record record_of(std::uint32_t id, int h, int w, const std::vector<KeyPoint>& pts,
                 int resolution = 500) {
  const DescriptorType* types[2] = {type_of(id), nullptr};
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(h, w, std::max<int>(1, pts.size()), types, &r), ML_OK);
  std::copy(pts.begin(), pts.end(), r->points);
  r->point_count = static_cast<int>(pts.size());
  r->resolution_x = r->resolution_y = static_cast<std::uint16_t>(resolution);
  return Record(r);
}

Bytes descriptor(const BlockRecord* r, int i) {
  const std::uint32_t size = r->extension_types[0]->size();
  const std::uint8_t* a = r->extension_arrays[0] + size * i;
  return Bytes(a, a + size);
}

bool bit(const Bytes& d, int k) { return d[k / 8] >> (k % 8) & 1; }

const std::uint32_t kAllTypes[] = {0x10, 0x8, 0x4, 0x2, 0x20, 0x200, 0x400, 0x800, 0x1000, 0x2000};

TEST(DescriptorCompute, UniformImageGivesCodeBinZeroOrAllOnes) {
  const int h = 100, w = 100;
  const Bytes img(h * w, 128);
  for (std::uint32_t id : kAllTypes) {
    auto r = record_of(id, h, w, {{50, 50, 0, 10, 1, 0}});
    ASSERT_EQ(r->extension_types[0]->compute(r.get(), 0, img.data(), nullptr, h, w), ML_OK)
        << std::hex << id;
    const Bytes d = descriptor(r.get(), 0);
    for (int k = 0; k < static_cast<int>(8 * d.size()); ++k) {
      // Type 0x4: every pixel code is 0, so only bin 0 of each cell is set.
      const bool want = id == 0x4 ? k % 8 == 0 : true;
      EXPECT_EQ(bit(d, k), want) << std::hex << id << std::dec << " bit " << k;
    }
  }
}

zyl::test::GreyImage print160() {
  return zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
}

TEST(DescriptorCompute, HalfATurnExchangesTheHalvesOfSymmetricTypes) {
  const auto img = print160();
  for (std::uint32_t id : {0x20u, 0x800u}) {
    auto r = record_of(id, img.height, img.width,
                       {{80, 80, 0, 10, 1, 0}, {80, 80, 128, 10, 1, 0}, {70, 90, 40, 10, 1, 0},
                        {70, 90, 168, 10, 1, 0}});
    ASSERT_EQ(r->extension_types[0]->compute(r.get(), 0, img.pixels.data(), nullptr, img.height,
                                             img.width),
              ML_OK);
    const Bytes a = descriptor(r.get(), 0), b = descriptor(r.get(), 1);
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 8, b.begin() + 8)) << std::hex << id;
    EXPECT_TRUE(std::equal(a.begin() + 8, a.end(), b.begin())) << std::hex << id;
    // Any other angle: the Q14 turn is not exact, so most bits agree.
    const Bytes c = descriptor(r.get(), 2), e = descriptor(r.get(), 3);
    int same = 0;
    for (int k = 0; k < 128; ++k) same += bit(c, k) == bit(e, (k + 64) % 128);
    EXPECT_GE(same, 110) << std::hex << id;
  }
}

TEST(DescriptorCompute, PatternScalesWithResolution) {
  const std::int8_t in[] = {16, -16, 14, -14, 2, -2, 0, 7};
  struct Case {
    int resolution;
    std::vector<int> want;
  };
  const Case cases[] = {
      {500, {16, -16, 14, -14, 2, -2, 0, 7}},  {493, {16, -16, 14, -14, 2, -2, 0, 7}},
      {507, {16, -16, 14, -14, 2, -2, 0, 7}},  {508, {16, -16, 14, -14, 2, -2, 0, 7}},
      {1000, {32, -32, 28, -28, 4, -4, 0, 14}}, {250, {8, -8, 7, -7, 1, -1, 0, 3}},
      {492, {15, -15, 13, -13, 1, -1, 0, 6}},
  };
  for (const Case& c : cases) {
    std::int8_t out[8];
    matchlib::scale_pattern(in, 8, c.resolution, out);
    EXPECT_EQ(std::vector<int>(out, out + 8), c.want) << c.resolution;
  }
  // 508 dpi scales by 260/256, which truncation brings back to the stored
  // offsets within -16..16; 1000 dpi samples twice as far out.
  const auto img = print160();
  Bytes at[3];
  int k = 0;
  for (int res : {500, 508, 1000}) {
    auto r = record_of(0x2, img.height, img.width, {{80, 80, 0, 10, 1, 0}}, res);
    ASSERT_EQ(r->extension_types[0]->compute(r.get(), 0, img.pixels.data(), nullptr, img.height,
                                             img.width),
              ML_OK);
    at[k++] = descriptor(r.get(), 0);
  }
  EXPECT_EQ(at[0], at[1]);
  EXPECT_NE(at[0], at[2]);
}

TEST(DescriptorCompute, RotatedPairsScaleTurnedOffsetsRoundingAwayFromZero) {
  // A horizontal ramp: pair k's bit says whether its first point is not
  // right of its second, after scaling by r / 500 with halves away from 0.
  const int h = 120, w = 120;
  Bytes img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = static_cast<std::uint8_t>(x * 2);
  for (int res : {500, 1000, 250}) {
    auto r = record_of(0x10, h, w, {{60, 60, 0, 10, 1, 0}}, res);
    ASSERT_EQ(r->extension_types[0]->compute(r.get(), 0, img.data(), nullptr, h, w), ML_OK);
    const Bytes d = descriptor(r.get(), 0);
    for (int k = 0; k < 64; ++k) {
      const long x1 = matchlib::round_div(kPattern10[4 * k] * res, 500);
      const long x2 = matchlib::round_div(kPattern10[4 * k + 2] * res, 500);
      EXPECT_EQ(bit(d, k), x1 <= x2) << res << " pair " << k;
    }
  }
}

TEST(DescriptorCompute, AllZeroMaskLeavesEverySeedWindow) {
  const auto img = print160();
  std::vector<KeyPoint> pts;
  for (int i = 0; i < 6; ++i) pts.push_back({static_cast<std::int16_t>(30 + 15 * i), 70,
                                             static_cast<std::uint8_t>(40 * i), 10, 1, 0});
  auto r = record_of(0x10, img.height, img.width, pts);
  const Bytes mask(img.pixels.size(), 0);
  ASSERT_EQ(r->extension_types[0]->compute(r.get(), 0, img.pixels.data(), mask.data(), img.height,
                                           img.width),
            ML_OK);
  const Bytes first = descriptor(r.get(), 0);
  int offset = -1;
  for (int o = 0; o < 128 && offset < 0; ++o)
    if (std::equal(first.begin(), first.end(), matchlib::kSeedRotated + o)) offset = o;
  ASSERT_GE(offset, 0);
  for (int i = 0; i < 6; ++i) {
    const Bytes d = descriptor(r.get(), i);
    EXPECT_TRUE(std::equal(d.begin(), d.end(), matchlib::kSeedRotated + (offset + i) % 128)) << i;
  }
  // Without the mask the same points compare pixels.
  auto open = record_of(0x10, img.height, img.width, pts);
  ASSERT_EQ(open->extension_types[0]->compute(open.get(), 0, img.pixels.data(), nullptr,
                                              img.height, img.width),
            ML_OK);
  EXPECT_NE(descriptor(open.get(), 0), first);
}

TEST(DescriptorCompute, FixedPairsMarkPointsOutsideAndIgnoreTheAngle) {
  const auto img = print160();
  auto r = record_of(0x8, img.height, img.width,
                     {{static_cast<std::int16_t>(img.width), 50, 0, 10, 1, 0},
                      {-1, 50, 0, 10, 1, 0},
                      {60, 60, 0, 10, 1, 0},
                      {60, 60, 64, 10, 1, 0},
                      {2, 3, 0, 10, 1, 0}});
  ASSERT_EQ(r->extension_types[0]->compute(r.get(), 0, img.pixels.data(), nullptr, img.height,
                                           img.width),
            ML_OK);
  EXPECT_EQ(descriptor(r.get(), 0), Bytes(16, 0));
  EXPECT_EQ(descriptor(r.get(), 1), Bytes(16, 0));
  EXPECT_EQ(descriptor(r.get(), 2), descriptor(r.get(), 3));
  EXPECT_NE(descriptor(r.get(), 2), Bytes(16, 0));
  // Any distance to a point outside is 64.
  std::uint8_t d = 0;
  ASSERT_EQ(desc8_distance(2, 0, 1, r->extension_arrays[0], r->extension_arrays[0], 0, 0, &d), ML_OK);
  EXPECT_EQ(d, 64);
}

TEST(DescriptorCompute, TinyImagesAndBadRecords) {
  // Seed positions outside the pixels of tiny images read as 0, and the
  // fixed pairs stay inside images narrower than their pattern.
  for (std::uint32_t id : kAllTypes)
    for (int side : {1, 3, 9}) {
      Bytes img(side * side, 90);
      img[0] = 200;
      auto r = record_of(id, side, side, {{0, 0, 30, 10, 1, 0}, {static_cast<std::int16_t>(side - 1),
                                                                  static_cast<std::int16_t>(side - 1),
                                                                  200, 10, 1, 0}});
      const int st = r->extension_types[0]->compute(r.get(), 0, img.data(), nullptr, side, side);
      EXPECT_TRUE(st == ML_OK || st == ML_BAD_ARGUMENT) << std::hex << id << std::dec << " " << side;
    }
  // Type 0x2000 divides by the record's horizontal resolution: 0 is refused.
  Bytes img(64 * 64, 100);
  auto r = record_of(0x2000, 64, 64, {{30, 30, 0, 10, 1, 0}}, 0);
  EXPECT_EQ(r->extension_types[0]->compute(r.get(), 0, img.data(), nullptr, 64, 64),
            ML_BAD_ARGUMENT);
  for (std::uint32_t id : kAllTypes) {
    auto ok = record_of(id, 64, 64, {{30, 30, 0, 10, 1, 0}});
    EXPECT_EQ(ok->extension_types[0]->compute(ok.get(), 1, img.data(), nullptr, 64, 64),
              ML_BAD_ARGUMENT);
    EXPECT_EQ(ok->extension_types[0]->compute(nullptr, 0, img.data(), nullptr, 64, 64),
              ML_BAD_ARGUMENT);
  }
}

struct PatternCase {
  std::uint32_t id;
  const std::int8_t* bytes;
  int pairs;
  int bound;
  bool even, symmetric;
  std::vector<std::array<int, 4>> first;  // pairs 0, 1, 2
  std::array<int, 4> last;                // all zero: none given
};

TEST(DescriptorPatterns, MeetTheirBoundsAndTheirCrcIsTheId) {
  using namespace matchlib;
  const PatternCase cases[] = {
      {0x2, kPattern2, 128, 14, true, false, {{-6, -10, -6, 12}, {0, 8, 10, 8}, {-10, -8, 6, -12}}, {-4, -6, 4, -6}},
      {0x20, kPattern20, 128, 14, true, true, {{-2, -12, 10, 4}, {2, 10, 12, 0}, {2, 8, 2, -10}}, {-4, -6, 4, 6}},
      {0x200, kPattern200, 128, 16, true, false, {{-6, -10, 10, 8}, {-12, -8, 8, -2}, {10, -2, 10, 10}}, {-2, -2, 10, 0}},
      {0x1000, kPattern1000, 128, 16, true, false, {{-2, 8, -2, 12}, {-2, 10, 6, 12}, {-2, -6, 6, -6}}, {-4, 0, 4, 0}},
      {0x400, kPattern400, 128, 12, true, false, {{4, -2, 4, 2}, {-4, -2, -4, 2}, {-10, -4, 2, -10}}, {4, -4, 10, 0}},
      {0x800, kPattern800, 128, 16, true, true, {{0, 16, -8, 6}, {4, 14, -14, -6}, {2, 14, -14, -2}}, {-4, 2, 4, 2}},
      {0x10, kPattern10, 64, 16, true, false, {{-14, -2, -14, 2}, {6, -14, 6, -10}, {-4, -6, 4, -8}}, {-2, -8, -2, 8}},
      {0x8, kPattern8, 128, 14, true, false, {{-6, -10, -6, -6}, {2, -10, 4, 4}, {-8, -6, -6, 2}}, {-10, 0, 12, 0}},
      {0x2000, kPattern2000, 128, 7, false, false, {{2, 3, 4, -2}, {-4, -5, -2, -6}, {-2, -1, 2, -1}}, {0, 0, 0, 0}},
  };
  for (const PatternCase& c : cases) {
    std::set<std::array<int, 4>> seen;
    for (int k = 0; k < c.pairs; ++k) {
      const std::array<int, 4> p = {c.bytes[4 * k], c.bytes[4 * k + 1], c.bytes[4 * k + 2],
                                    c.bytes[4 * k + 3]};
      for (int v : p) {
        EXPECT_LE(std::abs(v), c.bound) << std::hex << c.id;
        EXPECT_TRUE(!c.even || v % 2 == 0) << std::hex << c.id;
      }
      EXPECT_TRUE(seen.insert(p).second) << std::hex << c.id << " pair " << std::dec << k;
      for (int j = 0; j < 4 && c.symmetric && k >= 64; ++j)
        EXPECT_EQ(p[j], -c.bytes[4 * (k - 64) + j]) << k;
      EXPECT_TRUE(k >= 3 || p == c.first[k]) << std::hex << c.id;
      const bool no_last = c.last == std::array<int, 4>{0, 0, 0, 0};
      EXPECT_TRUE(k != c.pairs - 1 || no_last || p == c.last)
          << std::hex << c.id;
    }
    EXPECT_EQ(type_of(c.id)->pattern_id(), crc32_compute(c.bytes, 4 * c.pairs)) << std::hex << c.id;
  }
  EXPECT_EQ(type_of(0x4)->pattern_id(), 1u);
}

// No pair may give the complement of another pair's bit (its swap, or in a
// point-symmetric pattern its mirror swapped) or a bit that never changes.
// The spectral descriptor compares magnitudes of a point-symmetric spectrum,
// where a cell and its negation hold the same value and the centre cell is
// only the mean brightness. The given last pair of type 0x20, (-4, -6, 4,
// 6), is its own mirror swapped; it and its mirror (pair 63) are kept as
// given and are the one exception.
TEST(DescriptorPatterns, NoPairRepeatsOrComplementsAnotherOrIsConstant) {
  using namespace matchlib;
  struct Case {
    std::uint32_t id;
    const std::int8_t* bytes;
    int pairs;
    bool symmetric, spectral;
  };
  const Case cases[] = {
      {0x2, kPattern2, 128, false, false},     {0x20, kPattern20, 128, true, false},
      {0x200, kPattern200, 128, false, false}, {0x1000, kPattern1000, 128, false, false},
      {0x400, kPattern400, 128, false, false}, {0x800, kPattern800, 128, true, false},
      {0x10, kPattern10, 64, false, false},    {0x8, kPattern8, 128, false, false},
      {0x2000, kPattern2000, 128, false, true},
  };
  using Point = std::array<int, 2>;
  for (const Case& c : cases) {
    // Each pair in a canonical form: its points as the descriptor sees them
    // (a spectral point and its negation are one), the pair unordered.
    std::set<std::array<int, 4>> seen;
    for (int k = 0; k < c.pairs; ++k) {
      if (c.id == 0x20 && (k == 63 || k == 127)) continue;
      Point a{c.bytes[4 * k], c.bytes[4 * k + 1]}, b{c.bytes[4 * k + 2], c.bytes[4 * k + 3]};
      const Point na{-a[0], -a[1]}, nb{-b[0], -b[1]};
      EXPECT_NE(a, b) << std::hex << c.id << " pair " << std::dec << k;
      if (c.symmetric) {
        EXPECT_NE(b, na) << std::hex << c.id << " pair " << std::dec << k;
      }
      if (c.spectral) {
        EXPECT_NE(a, (Point{0, 0})) << std::dec << k;
        EXPECT_NE(b, (Point{0, 0})) << std::dec << k;
        EXPECT_NE(b, na) << std::dec << k;
        a = std::max(a, na);
        b = std::max(b, nb);
      }
      if (b < a) std::swap(a, b);
      EXPECT_TRUE(seen.insert({a[0], a[1], b[0], b[1]}).second) << std::hex << c.id << " pair " << std::dec << k;
    }
  }
}

TEST(DescriptorCompute, SameInputGivesSameBytes) {
  const auto img = print160();
  for (std::uint32_t id : kAllTypes) {
    Bytes out[2];
    for (auto& o : out) {
      auto r = record_of(id, img.height, img.width, {{40, 50, 17, 10, 1, 0}, {100, 110, 200, 10, 2, 0}});
      ASSERT_EQ(r->extension_types[0]->compute(r.get(), 0, img.pixels.data(), nullptr, img.height,
                                               img.width),
                ML_OK);
      o = descriptor(r.get(), 1);
    }
    EXPECT_EQ(out[0], out[1]) << std::hex << id;
  }
}

}  // namespace
}  // namespace zyl::test

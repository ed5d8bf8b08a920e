#include <gtest/gtest.h>

#include <array>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "crowded_shapes.h"
#include "matchlib/extract/thinning_tables.h"
#include "zylscan/matchlib_contour_thin.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"

namespace {

using zyl::matchlib::kPeelDelete;
using zyl::matchlib::kPeelRestore;

// A 0/1 picture (1 = line) and its packed plane (set bit = background).
struct Picture {
  int rows, width;
  std::vector<std::uint8_t> px;
  Picture(int r, int w) : rows(r), width(w), px(std::size_t(r) * w, 0) {}
  std::uint8_t& at(int y, int x) { return px[std::size_t(y) * width + x]; }
  std::uint8_t at(int y, int x) const { return px[std::size_t(y) * width + x]; }
  std::vector<std::uint8_t> pack() const {
    const int stride = (width + 7) / 8;
    std::vector<std::uint8_t> bits(std::size_t(rows) * stride, 0xFF);
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < width; ++x)
        if (at(y, x)) bits[std::size_t(y) * stride + x / 8] &= static_cast<std::uint8_t>(~(1u << (x % 8)));
    return bits;
  }
  static Picture unpack(const std::vector<std::uint8_t>& bits, int rows, int width) {
    Picture p(rows, width);
    const int stride = (width + 7) / 8;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < width; ++x) p.at(y, x) = !((bits[std::size_t(y) * stride + x / 8] >> (x % 8)) & 1);
    return p;
  }
};

Picture thin(const Picture& in, int* status = nullptr) {
  auto bits = in.pack();
  const int s = bilevel_bits_thin(bits.data(), in.rows, in.width, 2);
  if (status) *status = s;
  EXPECT_EQ(s, ML_OK);
  return Picture::unpack(bits, in.rows, in.width);
}

// Components of pixels equal to `value`: 8-connected for lines, 4 for
// background (the pair that keeps holes and lines in step).
int components(const Picture& p, int value) {
  std::vector<int> seen(p.px.size(), 0);
  int n = 0;
  const int eight[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
  const int four[4][2] = {{-1, 0}, {0, -1}, {0, 1}, {1, 0}};
  for (int y = 0; y < p.rows; ++y)
    for (int x = 0; x < p.width; ++x) {
      if (p.at(y, x) != value || seen[y * p.width + x]) continue;
      ++n;
      std::vector<std::array<int, 2>> stack{{y, x}};
      seen[y * p.width + x] = 1;
      while (!stack.empty()) {
        auto [cy, cx] = stack.back();
        stack.pop_back();
        const int count = value ? 8 : 4;
        for (int k = 0; k < count; ++k) {
          const int ny = cy + (value ? eight[k][0] : four[k][0]);
          const int nx = cx + (value ? eight[k][1] : four[k][1]);
          if (ny < 0 || nx < 0 || ny >= p.rows || nx >= p.width) continue;
          if (p.at(ny, nx) != value || seen[ny * p.width + nx]) continue;
          seen[ny * p.width + nx] = 1;
          stack.push_back({ny, nx});
        }
      }
    }
  return n;
}

bool has_full_2x2(const Picture& p) {
  for (int y = 0; y + 1 < p.rows; ++y)
    for (int x = 0; x + 1 < p.width; ++x)
      if (p.at(y, x) && p.at(y + 1, x) && p.at(y, x + 1) && p.at(y + 1, x + 1)) return true;
  return false;
}

// The byte form of the same thinning (0 = object, 1 = background).
Picture thin_bytes(const Picture& in) {
  std::vector<std::uint8_t> img(in.px.size());
  for (std::size_t i = 0; i < img.size(); ++i) img[i] = in.px[i] ? 0 : 1;
  EXPECT_EQ(bilevel_thin(img.data(), in.rows, in.width), ML_OK);
  Picture out(in.rows, in.width);
  for (std::size_t i = 0; i < img.size(); ++i) out.px[i] = img[i] == 0;
  return out;
}

TEST(BitPlaneThin, TablesAreClosedUnderTheEightSymmetries) {
  // Neighbour offsets (column, row) of pattern bits 0..7.
  const int pos[8][2] = {{-1, 1}, {0, 1}, {1, 1}, {-1, 0}, {1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  auto bit_of = [&](int x, int y) {
    for (int b = 0; b < 8; ++b)
      if (pos[b][0] == x && pos[b][1] == y) return b;
    return -1;
  };
  const std::array<std::function<std::array<int, 2>(int, int)>, 8> sym{
      [](int x, int y) { return std::array<int, 2>{x, y}; },
      [](int x, int y) { return std::array<int, 2>{-x, y}; },
      [](int x, int y) { return std::array<int, 2>{x, -y}; },
      [](int x, int y) { return std::array<int, 2>{-x, -y}; },
      [](int x, int y) { return std::array<int, 2>{y, x}; },
      [](int x, int y) { return std::array<int, 2>{-y, x}; },
      [](int x, int y) { return std::array<int, 2>{y, -x}; },
      [](int x, int y) { return std::array<int, 2>{-y, -x}; }};
  for (const auto& table : {kPeelDelete, kPeelRestore})
    for (const auto& s : sym)
      for (int p = 0; p < 256; ++p) {
        int q = 0;
        for (int b = 0; b < 8; ++b)
          if (p >> b & 1) {
            const auto t = s(pos[b][0], pos[b][1]);
            q |= 1 << bit_of(t[0], t[1]);
          }
        EXPECT_EQ(table[p], table[q]) << p;
      }
  int deletions = 0, restorations = 0;
  for (int p = 0; p < 256; ++p) {
    deletions += kPeelDelete[p];
    restorations += kPeelRestore[p];
  }
  EXPECT_EQ(deletions, 65);
  EXPECT_EQ(restorations, 10);
}

TEST(BitPlaneThin, OnePixelLinesAreUnchanged) {
  Picture p(40, 50);
  for (int x = 4; x < 45; ++x) p.at(6, x) = 1;                // horizontal
  for (int y = 10; y < 36; ++y) p.at(y, 8) = 1;               // vertical
  for (int k = 0; k < 20; ++k) p.at(12 + k, 14 + k) = 1;      // diagonal
  for (int k = 0; k < 15; ++k) p.at(30 - k, 30 + k) = 1;      // anti-diagonal
  for (int x = 20; x < 46; ++x) p.at(36, x) = 1;              // an L
  for (int y = 20; y < 36; ++y) p.at(y, 46) = 1;
  EXPECT_EQ(thin(p).px, p.px);
}

TEST(BitPlaneThin, SinglePixelAndEmptyPlane) {
  Picture p(12, 12);
  EXPECT_EQ(thin(p).px, p.px);
  p.at(6, 6) = 1;
  EXPECT_EQ(thin(p).px, p.px);
}

TEST(BitPlaneThin, ThickStrokesBecomeOnePixelWide) {
  Picture p(60, 80);
  for (int y = 10; y < 17; ++y)
    for (int x = 5; x < 75; ++x) p.at(y, x) = 1;  // 7-pixel bar
  for (int y = 20; y < 55; ++y)
    for (int x = 30; x < 36; ++x) p.at(y, x) = 1;  // 6-pixel post, joined below
  for (int y = 50; y < 55; ++y)
    for (int x = 10; x < 70; ++x) p.at(y, x) = 1;
  const Picture t = thin(p);
  EXPECT_FALSE(has_full_2x2(t));
  for (std::size_t i = 0; i < t.px.size(); ++i)
    if (t.px[i]) {
      EXPECT_TRUE(p.px[i]) << i;  // thinning only removes
    }
  EXPECT_EQ(components(t, 1), components(p, 1));
  // The bar keeps its length: its thinned line spans most of it.
  int first = 80, last = -1;
  for (int y = 10; y < 17; ++y)
    for (int x = 0; x < 80; ++x)
      if (t.at(y, x)) {
        first = std::min(first, x);
        last = std::max(last, x);
      }
  EXPECT_LT(first, 12);
  EXPECT_GT(last, 67);
}

TEST(BitPlaneThin, RandomBlobsKeepConnectivityAndHoles) {
  std::mt19937 rng(26);
  for (int trial = 0; trial < 30; ++trial) {
    Picture p(48, 64);
    std::uniform_int_distribution<int> ry(4, 43), rx(4, 59), rr(2, 6);
    for (int disc = 0; disc < 7; ++disc) {
      const int cy = ry(rng), cx = rx(rng), r = rr(rng);
      const bool ring = disc % 3 == 0;
      for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x) {
          if (y < 2 || x < 2 || y >= 46 || x >= 62) continue;
          const int d2 = (y - cy) * (y - cy) + (x - cx) * (x - cx);
          if (d2 <= r * r && (!ring || d2 >= (r - 2) * (r - 2))) p.at(y, x) = 1;
        }
    }
    const Picture t = thin(p);
    EXPECT_EQ(components(t, 1), components(p, 1)) << trial;
    EXPECT_EQ(components(t, 0), components(p, 0)) << trial;
    for (std::size_t i = 0; i < t.px.size(); ++i)
      if (t.px[i]) {
        ASSERT_TRUE(p.px[i]) << trial;
      }
  }
}

// On drawn shapes both forms give the same lines. (On irregular blobs they
// can differ by a few pixels: the two trace and restart their outlines
// differently; both keep connectivity and holes.)
TEST(BitPlaneThin, MatchesTheByteForm) {
  std::vector<Picture> shapes;
  {
    Picture p(40, 60);  // a bar and a post
    for (int y = 8; y < 15; ++y)
      for (int x = 5; x < 55; ++x) p.at(y, x) = 1;
    for (int y = 15; y < 35; ++y)
      for (int x = 25; x < 31; ++x) p.at(y, x) = 1;
    shapes.push_back(p);
  }
  {
    Picture p(48, 48);  // a thick ring
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 48; ++x) {
        const int d2 = (y - 24) * (y - 24) + (x - 24) * (x - 24);
        p.at(y, x) = d2 <= 18 * 18 && d2 >= 12 * 12;
      }
    shapes.push_back(p);
  }
  {
    Picture p(48, 48);  // a thick diagonal and a thick cross
    for (int k = 4; k < 44; ++k)
      for (int t = -2; t <= 2; ++t) p.at(k, std::clamp(k + t, 2, 45)) = 1;
    for (int y = 20; y < 25; ++y)
      for (int x = 4; x < 44; ++x) p.at(y, x) = 1;
    shapes.push_back(p);
  }
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const Picture bits = thin(shapes[i]);
    const Picture bytes = thin_bytes(shapes[i]);
    EXPECT_EQ(bits.px, bytes.px) << i;
  }
}

// Known results on crowded planes, taken when the outlines were kept in a
// list that took each new one at its front: keeping them another way must
// not change the visiting order (newest first) and so not a single pixel.
TEST(BitPlaneThin, CrowdedPlanesThinAsWithNewestOutlinesFirst) {
  struct Case {
    unsigned seed;
    std::uint64_t digest;
  };
  const Case cases[] = {{1, 0xac746a522fea1d4cull}, {2, 0xa75087248c85243bull}, {3, 0x2922da1b4dc8d484ull}};
  const int rows = 160, width = 200;
  for (const Case& c : cases) {
    Picture p(rows, width);
    p.px = zyl::test::crowded_shapes(rows, width, c.seed, 900);
    auto bits = p.pack();
    EXPECT_EQ(bilevel_bits_thin(bits.data(), rows, width, 2), ML_OK) << c.seed;
    EXPECT_EQ(zyl::test::fnv1a(bits), c.digest) << c.seed;
  }
}

// A chain buffer too small for every outline leaves objects unthinned: the
// thinning answers 17, whether or not the outlines it did trace changed.
TEST(BitPlaneThin, FullChainBufferAnswers17) {
  struct Case {
    const char* what;
    int divisor;
    bool dots_first;  // isolated pixels ahead of the blob fill the buffer
  };
  const Case cases[] = {
      {"blob outline longer than the buffer", 60 * 64 / 20, false},
      {"buffer spent on unchanging dots before the blob", 60 * 64 / 12, true},
  };
  for (const Case& c : cases) {
    Picture p(60, 64);
    if (c.dots_first)
      for (int x = 4; x < 60; x += 4) p.at(4, x) = 1;  // 14 one-point outlines
    for (int y = 30; y < 50; ++y)
      for (int x = 20; x < 40; ++x) p.at(y, x) = 1;
    auto bits = p.pack();
    EXPECT_EQ(bilevel_bits_thin(bits.data(), p.rows, p.width, c.divisor), ML_CORRUPT) << c.what;
    // What was done stays done: thinning only ever removes pixels.
    const Picture out = Picture::unpack(bits, p.rows, p.width);
    for (std::size_t i = 0; i < out.px.size(); ++i)
      if (out.px[i]) {
        ASSERT_TRUE(p.px[i]) << c.what;
      }
  }
  // The same plane with the pipeline's budget thins fully.
  Picture p(60, 64);
  for (int y = 30; y < 50; ++y)
    for (int x = 20; x < 40; ++x) p.at(y, x) = 1;
  EXPECT_FALSE(has_full_2x2(thin(p)));
}

TEST(BitPlaneThin, BadArguments) {
  std::vector<std::uint8_t> bits(16, 0xFF);
  EXPECT_EQ(bilevel_bits_thin(nullptr, 4, 8, 2), ML_BAD_ARGUMENT);
  EXPECT_EQ(bilevel_bits_thin(bits.data(), 0, 8, 2), ML_BAD_ARGUMENT);
  EXPECT_EQ(bilevel_bits_thin(bits.data(), 4, 8, 0), ML_BAD_ARGUMENT);
}

}  // namespace

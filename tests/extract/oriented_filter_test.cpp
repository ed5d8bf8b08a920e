#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "extract/byte_image.h"
#include "extract/filter_strength.h"
#include "extract/orientation_estimate.h"
#include "extract/oriented_chunks.h"
#include "support/pgm.h"
#include "zylscan/oriented_filter.h"

namespace {

using zyl::extract::OwnedByteImage;

struct Tap {
  int dy, dx, w;
  bool operator<(const Tap& o) const { return std::tie(dy, dx) < std::tie(o.dy, o.dx); }
  bool operator==(const Tap& o) const = default;
};

std::vector<Tap> Row(int m) {
  std::vector<Tap> taps;
  for (int k = 0; k < filter_c[m]; ++k) taps.push_back({filter_y[m][k], filter_x[m][k], filter_w[m][k]});
  return taps;
}

// A tap and its mirror are one tap; bring it into the listed half plane.
std::vector<Tap> Normalised(std::vector<Tap> taps) {
  for (Tap& t : taps) {
    if (!(t.dy < 0 || (t.dy == 0 && t.dx < 0))) t = {-t.dy, -t.dx, t.w};
  }
  std::sort(taps.begin(), taps.end());
  return taps;
}

TEST(OrientedKernels, EveryRowSumsToTheDivisorAndListsItsHalfPlaneInOrder) {
  for (int m = 0; m < 120; ++m) {
    SCOPED_TRACE(m);
    const int c = filter_c[m];
    EXPECT_GE(c, 5);
    EXPECT_LE(c, 15);
    int sum = filter_w0[m];
    for (int k = 0; k < ZYL_KERNEL_TAPS; ++k) {
      if (k >= c) {
        EXPECT_EQ(filter_w[m][k] | filter_x[m][k] | filter_y[m][k], 0) << "unused tap " << k;
        continue;
      }
      const int dy = filter_y[m][k], dx = filter_x[m][k];
      EXPECT_GT(filter_w[m][k], 0);
      EXPECT_LE(std::abs(dx), 6);
      EXPECT_LE(std::abs(dy), 6);
      EXPECT_TRUE(dy < 0 || (dy == 0 && dx < 0)) << "tap " << k;
      if (k > 0) {
        EXPECT_TRUE(Tap({filter_y[m][k - 1], filter_x[m][k - 1], 0}) < Tap({dy, dx, 0}));
      }
      sum += 2 * filter_w[m][k];
    }
    EXPECT_EQ(sum, ZYL_KERNEL_TOTAL);
    EXPECT_LE(filter_w0[m], 10201);
  }
}

TEST(OrientedKernels, RowsFollowTheirSymmetries) {
  for (int m = 0; m < 120; ++m) {
    SCOPED_TRACE(m);
    std::vector<Tap> swapped, mirrored;
    for (const Tap& t : Row(m)) {
      swapped.push_back({t.dx, t.dy, t.w});
      mirrored.push_back({t.dy, -t.dx, t.w});
    }
    const int s = (60 - m + 120) % 120, r = (120 - m) % 120;
    EXPECT_EQ(Row(s), Normalised(swapped)) << "row " << s << " is row m with dx and dy exchanged";
    EXPECT_EQ(filter_w0[s], filter_w0[m]);
    EXPECT_EQ(Row(r), Normalised(mirrored)) << "row " << r << " is row m with dx negated";
    EXPECT_EQ(filter_w0[r], filter_w0[m]);
  }
}

TEST(OrientedKernels, ListedRowsTapCountsAndCentreWeights) {
  const int counts[31] = {5,  12, 12, 12, 12, 12, 12, 11, 12, 12, 12, 12, 12, 12, 12, 13,
                          14, 13, 13, 13, 14, 13, 14, 15, 14, 14, 14, 14, 13, 12, 12};
  const int centres[31] = {10201, 10139, 10073, 10017, 9957, 9909, 9863, 9811, 9771, 9727, 9685,
                           9653,  9613,  9581,  9553,  9523, 9501, 9471, 9449, 9433, 9413, 9399,
                           9381,  9367,  9357,  9349,  9339, 9331, 9329, 9323, 9343};
  for (int m = 0; m <= 30; ++m) {
    EXPECT_EQ(filter_c[m], counts[m]) << m;
    EXPECT_EQ(filter_w0[m], centres[m]) << m;
  }
  const std::vector<Tap> row0 = {{0, -5, 10201}, {0, -4, 10201}, {0, -3, 10201}, {0, -2, 10201}, {0, -1, 10201}};
  const std::vector<Tap> row1 = {{-1, -5, 1317}, {-1, -4, 1071}, {-1, -3, 803},  {-1, -2, 533},
                                 {-1, -1, 270},  {-1, 0, 32},    {0, -6, 24},    {0, -5, 8848},
                                 {0, -4, 9133},  {0, -3, 9400},  {0, -2, 9671},  {0, -1, 9934}};
  const std::vector<Tap> row15 = {{-3, -5, 64},   {-2, -5, 5968}, {-2, -4, 7120}, {-2, -3, 2896}, {-2, -2, 72},
                                  {-1, -5, 386},  {-1, -4, 3923}, {-1, -3, 8144}, {-1, -2, 8800}, {-1, -1, 4645},
                                  {-1, 0, 759},   {0, -2, 2171},  {0, -1, 6396}};
  const std::vector<Tap> row30 = {{-4, -4, 3106}, {-4, -3, 2550}, {-3, -4, 2550}, {-3, -3, 9242},
                                  {-3, -2, 2550}, {-2, -3, 2550}, {-2, -2, 9343}, {-2, -1, 2550},
                                  {-1, -2, 2550}, {-1, -1, 9343}, {-1, 0, 2550},  {0, -1, 2550}};
  EXPECT_EQ(Row(0), row0);
  EXPECT_EQ(Row(1), row1);
  EXPECT_EQ(Row(15), row15);
  EXPECT_EQ(Row(30), row30);
}

OwnedByteImage RandomImage(int width, int height, unsigned seed) {
  OwnedByteImage img(width, height);
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) img[y][x] = static_cast<std::uint8_t>(rng() & 0xFF);
  return img;
}

OwnedByteImage Copy(const OwnedByteImage& src) {
  OwnedByteImage out(src.width(), src.height());
  CopyByteImage(src.width(), src.height(), src.get(), out.get());
  return out;
}

OwnedByteImage Filled(int width, int height, std::uint8_t value) {
  OwnedByteImage img(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) img[y][x] = value;
  return img;
}

bool Same(const OwnedByteImage& a, const OwnedByteImage& b) {
  for (int y = 0; y < a.height(); ++y)
    if (!std::equal(a[y], a[y] + a.width(), b[y])) return false;
  return true;
}

// The oriented smoothing of one pixel, straight from its definition: every
// tap pixel and its mirror that lie inside, divided by the weights used
// (which is the full total for an interior pixel); 3 x 3 mean when flat
// (127) and for the values 120..126, which name no kernel.
int ReferenceSmooth(const OwnedByteImage& src, int x, int y, int m) {
  const int w = src.width(), h = src.height();
  const auto inside = [&](int xx, int yy) { return xx >= 0 && yy >= 0 && xx < w && yy < h; };
  if (m >= 120) {
    int sum = 0, n = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (inside(x + dx, y + dy)) sum += src[y + dy][x + dx], ++n;
    return sum / n;
  }
  long sum = static_cast<long>(filter_w0[m]) * src[y][x];
  long total = filter_w0[m];
  for (const Tap& t : Row(m)) {
    for (int side : {1, -1}) {
      const int xx = x + side * t.dx, yy = y + side * t.dy;
      if (!inside(xx, yy)) continue;
      sum += static_cast<long>(t.w) * src[yy][xx];
      total += t.w;
    }
  }
  return static_cast<int>(sum / total);
}

TEST(OrientedSmoothing, AxisOrientationsAverageElevenPixelsAndFlatNine) {
  const OwnedByteImage src = RandomImage(30, 30, 1);
  struct Case {
    int m;
    int dx, dy, reach;  // the mean runs over (x + i dx, y + i dy), |i| <= reach
  };
  for (const Case& c : {Case{0, 1, 0, 5}, Case{60, 0, 1, 5}}) {
    OwnedByteImage g = Copy(src);
    OwnedByteImage d = Filled(30, 30, static_cast<std::uint8_t>(c.m));
    DirectSmoothImage(30, 30, g.get(), d.get());
    for (int y = 6; y <= 23; ++y) {
      for (int x = 6; x <= 23; ++x) {
        int sum = 0;
        for (int i = -c.reach; i <= c.reach; ++i) sum += src[y + i * c.dy][x + i * c.dx];
        ASSERT_EQ(g[y][x], sum / 11) << "m " << c.m << " at " << x << "," << y;
      }
    }
  }
  OwnedByteImage g = Copy(src);
  OwnedByteImage flat = Filled(30, 30, 127 | 0x80);  // the bad-area bit is ignored
  DirectSmoothImage(30, 30, g.get(), flat.get());
  for (int y = 1; y <= 28; ++y)
    for (int x = 1; x <= 28; ++x) {
      int sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) sum += src[y + dy][x + dx];
      ASSERT_EQ(g[y][x], sum / 9);
    }
  EXPECT_EQ(g[0][0], (src[0][0] + src[0][1] + src[1][0] + src[1][1]) / 4);
}

TEST(OrientedSmoothing, MatchesTheKernelDefinitionEverywhereIncludingTheBorder) {
  const OwnedByteImage src = RandomImage(23, 19, 2);
  OwnedByteImage d(23, 19);
  std::mt19937 rng(3);
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 23; ++x) {
      const int m = rng() % 8 == 0 ? 127 : static_cast<int>(rng() % 120);
      d[y][x] = static_cast<std::uint8_t>(m | (rng() % 2 ? 0x80 : 0));
    }
  OwnedByteImage g = Copy(src);
  DirectSmoothImage(23, 19, g.get(), d.get());
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 23; ++x) ASSERT_EQ(g[y][x], ReferenceSmooth(src, x, y, d[y][x] & 0x7F)) << x << "," << y;
}

// Interior pixels are smoothed with the kernels in a different arithmetic
// (chunks of taps, summed in single precision); every orientation on
// images of the extremes, where the sums come closest to the limits of
// that arithmetic, and on random grey.
TEST(OrientedSmoothing, EveryOrientationMatchesTheKernelDefinitionOnExtremeImages) {
  const int w = 40, h = 40;
  std::mt19937 rng(7);
  OwnedByteImage black = Filled(w, h, 0), white = Filled(w, h, 255), speckle(w, h), grey = RandomImage(w, h, 8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) speckle[y][x] = rng() % 2 ? 255 : 0;
  for (const OwnedByteImage* src : {&black, &white, &speckle, &grey}) {
    // Each value a direction byte holds (0..127, so also the invalid
    // 120..126) on several pixels, some of them near the border.
    OwnedByteImage d(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) d[y][x] = static_cast<std::uint8_t>((y * w + x) % 131 % 128);
    OwnedByteImage g = Copy(*src);
    DirectSmoothImage(w, h, g.get(), d.get());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(g[y][x], ReferenceSmooth(*src, x, y, d[y][x])) << x << "," << y;
  }
}

// Images too small for any interior pixel, and sizes around the kernels'
// reach, where the border and interior paths meet: every pixel against
// the definition, with orientations changing from pixel to pixel.
TEST(OrientedSmoothing, SmallImagesMatchTheKernelDefinition) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {3, 5}, {6, 6}, {7, 13}, {12, 12},
                                       {13, 13}, {14, 14}, {25, 4}, {4, 25}, {19, 30}};
  for (const auto& [w, h] : sizes) {
    const OwnedByteImage src = RandomImage(w, h, static_cast<unsigned>(w * 100 + h));
    OwnedByteImage d(w, h);
    std::mt19937 rng(static_cast<unsigned>(w + h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) d[y][x] = static_cast<std::uint8_t>(rng() % 256);
    OwnedByteImage g = Copy(src);
    DirectSmoothImage(w, h, g.get(), d.get());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(g[y][x], ReferenceSmooth(src, x, y, d[y][x] & 0x7F)) << w << "x" << h << " at " << x << "," << y;
  }
}

// The chunked layout of the kernels: each kernel is the sum of its chunks
// in the layout it names (the image or its transpose), the chunks stay
// within the kernels' reach, and the plain and vector sums agree with the
// definition for every orientation on extreme and random pixels.
TEST(OrientedKernels, ChunkedSumsEqualTheKernelInBothLayoutsAndBothArithmetics) {
  using zyl::extract::OrientedChunks;
  const OrientedChunks& chunks = zyl::extract::oriented_chunks();
  ASSERT_TRUE(chunks.usable);
  const int n = 32, guard = 8;
  // Pixel (x, y) at x + y * n in one copy, y + x * n in the other.
  std::vector<std::int16_t> image(n * n + 2 * guard), transposed(n * n + 2 * guard);
  std::mt19937 rng(11);
  for (int fill = 0; fill < 4; ++fill) {
    OwnedByteImage src(n, n);
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const int v = fill == 0 ? 255 : fill == 1 ? 0 : fill == 2 ? (rng() % 2) * 255 : static_cast<int>(rng() % 256);
        src[y][x] = static_cast<std::uint8_t>(v);
        image[guard + y * n + x] = static_cast<std::int16_t>(v);
        transposed[guard + x * n + y] = static_cast<std::int16_t>(v);
      }
    for (int m = 0; m < 120; ++m) {
      SCOPED_TRACE(testing::Message() << "m " << m << " fill " << fill);
      ASSERT_EQ(chunks.total[m], ZYL_KERNEL_TOTAL);
      std::int32_t offset[OrientedChunks::kChunks];
      for (int c = 0; c < OrientedChunks::kChunks; ++c) {
        ASSERT_GE(chunks.col[m][c], -OrientedChunks::kReach);
        ASSERT_LE(chunks.col[m][c] + OrientedChunks::kWidth - 1, OrientedChunks::kReach);
        ASSERT_LE(std::abs(chunks.row[m][c]), OrientedChunks::kReach);
        offset[c] = static_cast<std::int32_t>((chunks.row[m][c] * n + chunks.col[m][c]) * 2);
      }
      const std::vector<std::int16_t>& layout = chunks.transposed[m] ? transposed : image;
      for (int y = 6; y < n - 6; y += 3)
        for (int x = 6; x < n - 6; x += 2) {
          const std::int16_t* p = layout.data() + guard + (chunks.transposed[m] ? x * n + y : y * n + x);
          long expected = static_cast<long>(filter_w0[m]) * src[y][x];
          for (const Tap& t : Row(m))
            expected += static_cast<long>(t.w) * (src[y + t.dy][x + t.dx] + src[y - t.dy][x - t.dx]);
          ASSERT_EQ(zyl::extract::oriented_sum_plain(p, chunks.weight[m], offset), expected);
          ASSERT_EQ(zyl::extract::oriented_sum(p, chunks.weight[m], offset), expected);
        }
    }
  }
}

#if defined(__SSE2__)
// Four 3 x 3 means at once for every window sum (0..9 x 255): columns
// repeating every three, so that all four windows hold the same sum, in
// each of the ways a sum splits over the columns.
TEST(OrientedKernels, FourFlatMeansAreExactForEveryWindowSum) {
  for (int sum = 0; sum <= 9 * 255; ++sum) {
    for (int split = 0; split < 3; ++split) {
      int column[3] = {0, 0, 0}, left = sum;
      for (int i = 0; i < 3; ++i) {
        column[(i + split) % 3] = std::min(left, 3 * 255);
        left -= column[(i + split) % 3];
      }
      std::uint8_t rows[3][8];
      for (int x = 0; x < 8; ++x) {
        int c = column[x % 3];
        for (auto& row : rows) {
          row[x] = static_cast<std::uint8_t>(std::min(c, 255));
          c -= row[x];
        }
      }
      const std::uint32_t bytes = zyl::extract::flat_means_four(rows[0], rows[1], rows[2]);
      for (int i = 0; i < 4; ++i)
        ASSERT_EQ((bytes >> (8 * i)) & 0xFF, static_cast<std::uint32_t>(sum / 9)) << "sum " << sum << " position " << i;
    }
  }
}
#endif

// The divisor of a pixel near the border: the weights of the taps that lie
// inside, for a pixel at each distance from each edge of a 13 x 13 image
// (the smallest that takes the chunked kernels) and of a larger one.
TEST(OrientedKernels, ClippedTotalsAreTheWeightsOfTheTapsInside) {
  using zyl::extract::OrientedChunks;
  const OrientedChunks& chunks = zyl::extract::oriented_chunks();
  for (const int size : {13, 30}) {
    for (int m = 0; m < 120; ++m)
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          const auto inside = [&](int dy, int dx) {
            return x + dx >= 0 && x + dx < size && y + dy >= 0 && y + dy < size;
          };
          long expected = filter_w0[m];
          for (const Tap& t : Row(m)) expected += (inside(t.dy, t.dx) + inside(-t.dy, -t.dx)) * t.w;
          ASSERT_EQ(chunks.clipped_total[m][OrientedChunks::edge_class(y, size)][OrientedChunks::edge_class(x, size)],
                    expected)
              << "m " << m << " at " << x << "," << y << " of " << size;
        }
  }
}

TEST(OrientedKernels, DivisionByTheTotalIsExactForEveryKernelSum) {
  for (std::uint32_t sum = 0; sum <= 255u * ZYL_KERNEL_TOTAL; ++sum)
    ASSERT_EQ(zyl::extract::divide_by_kernel_total(sum), sum / ZYL_KERNEL_TOTAL) << sum;
#if defined(__SSE2__)
  // Four sums at once, each spread over four lanes in its own way; every
  // kernel sum appears in every position.
  constexpr std::uint32_t kLargest = 255u * ZYL_KERNEL_TOTAL;
  const auto lanes = [](std::uint32_t sum, int spread) {
    const auto part = static_cast<int>(sum / 4);
    const auto rest = static_cast<int>(sum - 3u * static_cast<std::uint32_t>(part));
    return spread == 0 ? _mm_setr_epi32(static_cast<int>(sum), 0, 0, 0) : _mm_setr_epi32(part, part, rest, part);
  };
  for (std::uint32_t sum = 0; sum <= kLargest; ++sum) {
    const std::uint32_t s[4] = {sum, kLargest - sum, (sum * 7u) % (kLargest + 1), sum / 2};
    const std::uint32_t bytes = zyl::extract::divide_four_by_kernel_total(
        lanes(s[0], sum % 2), lanes(s[1], 1), lanes(s[2], 0), lanes(s[3], (sum / 2) % 2));
    for (int i = 0; i < 4; ++i)
      ASSERT_EQ((bytes >> (8 * i)) & 0xFF, s[i] / ZYL_KERNEL_TOTAL) << "position " << i << " sum " << s[i];
  }
#endif
}

// Window estimate by brute force: the four difference sums over the clipped
// window, only pixels one inside the border contributing.
zyl::extract::OrientationEstimate ReferenceEstimate(const OwnedByteImage& g, int x, int y, int r) {
  const int w = g.width(), h = g.height();
  long sums[4] = {0, 0, 0, 0};
  for (int yy = std::max(1, y - r); yy <= std::min(h - 2, y + r); ++yy)
    for (int xx = std::max(1, x - r); xx <= std::min(w - 2, x + r); ++xx) {
      const int p = g[yy][xx];
      sums[0] += std::abs(p - g[yy][xx + 1]) + std::abs(p - g[yy][xx - 1]);
      sums[1] += std::abs(p - g[yy + 1][xx + 1]) + std::abs(p - g[yy - 1][xx - 1]);
      sums[2] += std::abs(p - g[yy + 1][xx]) + std::abs(p - g[yy - 1][xx]);
      sums[3] += std::abs(p - g[yy + 1][xx - 1]) + std::abs(p - g[yy - 1][xx + 1]);
    }
  return zyl::extract::estimate_orientation(sums[0], sums[1] * 71 / 100, sums[2], sums[3] * 71 / 100);
}

OwnedByteImage Fingerprint(int size) {
  const zyl::test::GreyImage pgm = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_160.pgm"));
  OwnedByteImage img(size, size);
  const int ox = (pgm.width - size) / 2, oy = (pgm.height - size) / 2;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) img[y][x] = pgm.at(ox + x, oy + y);
  return img;
}

TEST(DirectionalFilter, EachPassSmoothsAlongTheFreshlyEstimatedOrientation) {
  const OwnedByteImage src = Fingerprint(48);
  OwnedByteImage expected = Copy(src);
  for (int pass = 0; pass < 2; ++pass) {
    const OwnedByteImage before = Copy(expected);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 48; ++x)
        expected[y][x] = static_cast<std::uint8_t>(
            ReferenceSmooth(before, x, y, ReferenceEstimate(before, x, y, 6).orientation));
  }
  OwnedByteImage g = Copy(src);
  ASSERT_EQ(DirFilterImage(48, 48, g.get(), 6, 2), 0);
  EXPECT_TRUE(Same(g, expected));
}

TEST(DirectionalFilter, RefusesARadiusBelowTheKernelReach) {
  const OwnedByteImage src = Fingerprint(40);
  for (int radius : {-1, 0, 4}) {
    OwnedByteImage g = Copy(src);
    EXPECT_EQ(DirFilterImage(40, 40, g.get(), radius, 2), ZYL_FILTER_REFUSED) << radius;
    EXPECT_TRUE(Same(g, src)) << radius;
  }
  OwnedByteImage g = Copy(src);
  EXPECT_EQ(DirFilterImage(40, 40, g.get(), ZYL_FILTER_MIN_RADIUS, 1), 0);
  EXPECT_FALSE(Same(g, src));
  EXPECT_EQ(DirFilterImage(40, 40, nullptr, 12, 1), ZYL_FILTER_BAD_IMAGE);
}

TEST(FilterStrength, NoiseToStrengthAtEachBoundary) {
  struct Case {
    int cap, base, start, factor, noise, strength;
  };
  const Case cases[] = {
      // Defaults: rounding of 4 x (n - 20) / 10, halves up.
      {30, 20, 0, 4, 0, 0},   {30, 20, 0, 4, 21, 0},  {30, 20, 0, 4, 22, 1}, {30, 20, 0, 4, 23, 1},
      {30, 20, 0, 4, 24, 2},  {30, 20, 0, 4, 26, 2},  {30, 20, 0, 4, 27, 3}, {30, 20, 0, 4, 28, 3},
      {30, 20, 0, 4, 29, 4},  {30, 20, 0, 4, 30, 4},  {30, 20, 0, 4, 255, 4},
      // With a start: the strength begins there.
      {30, 20, 2, 4, 0, 2},   {30, 20, 2, 4, 25, 4},  {30, 20, 2, 4, 255, 6},
      {30, 20, 3, 4, 255, 7},
      // cap = base + 1: the rounding adds one at once; held to three bits.
      {21, 20, 0, 7, 0, 1},   {21, 20, 0, 7, 255, 7}, {21, 20, 7, 0, 255, 7},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(zyl::extract::ValidStrengthSettings(c.cap, c.base, c.start, c.factor));
    EXPECT_EQ(zyl::extract::StrengthTable(c.cap, c.base, c.start, c.factor)[c.noise], c.strength)
        << "cap " << c.cap << " base " << c.base << " start " << c.start << " factor " << c.factor
        << " noise " << c.noise;
  }
}

TEST(FilterStrength, RefusesSettingsThatHangOrOverflowAndChangesNothing) {
  struct Case {
    const char* name;
    int cap, base, start, factor;
  };
  const Case cases[] = {
      {"cap equal to base", 20, 20, 0, 4}, {"cap below base", 10, 20, 0, 4},
      {"start plus factor 8", 30, 20, 4, 4}, {"factor alone 8", 30, 20, 0, 8},
      {"negative start", 30, 20, -1, 4},   {"negative factor", 30, 20, 0, -4},
  };
  const OwnedByteImage g = Fingerprint(32);
  for (const Case& c : cases) {
    OwnedByteImage d = Filled(32, 32, 0x85), s = Filled(32, 32, 0x5B);
    EXPECT_EQ(ComputeDirImageF(32, 32, g.get(), d.get(), s.get(), nullptr, 12, c.cap, c.base, c.start, c.factor),
              ZYL_FILTER_REFUSED)
        << c.name;
    EXPECT_TRUE(Same(d, Filled(32, 32, 0x85))) << c.name;
    EXPECT_TRUE(Same(s, Filled(32, 32, 0x5B))) << c.name;
  }
}

TEST(FilterStrength, BadPixelsAndSingularPointSurroundingsGetNone) {
  const int n = 64;
  const OwnedByteImage g = Fingerprint(n);
  OwnedByteImage d(n, n), s = Filled(n, n, 0xF8);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < 10; ++x) d[y][x] = 0x80;  // a bad band on the left
  SingularPointList points{};
  points.count = 1;
  points.x[0] = 40;
  points.y[0] = 30;
  // start 3: every good pixel away from the point has strength 3 or more.
  ASSERT_EQ(ComputeDirImageF(n, n, g.get(), d.get(), s.get(), &points, 12, 30, 20, 3, 4), 0);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      SCOPED_TRACE(testing::Message() << x << "," << y);
      const auto e = ReferenceEstimate(g, x, y, 12);
      const bool bad = x < 10;
      ASSERT_EQ(d[y][x], e.orientation | (bad ? 0x80 : 0));
      ASSERT_EQ(s[y][x] & 0xF8, 0xF8) << "bits 3..7 of S are kept";
      const int dist2 = (x - 40) * (x - 40) + (y - 30) * (y - 30);
      const int strength = s[y][x] & 7;
      if (bad || dist2 < 256)
        ASSERT_EQ(strength, 0);
      else
        ASSERT_EQ(strength, zyl::extract::StrengthTable(30, 20, 3, 4)[e.noise]);
    }
}

// Several points, at the border, outside the image and at the ends of the
// coordinate range: a pixel gets no strength exactly when one of them lies
// closer than 16.
TEST(FilterStrength, NoStrengthWithinReachOfAnyPointInsideOrOutside) {
  const int n = 48;
  const OwnedByteImage g = Fingerprint(n);
  OwnedByteImage d(n, n), s = Filled(n, n, 0);
  SingularPointList points{};
  const std::int32_t xs[] = {0, 47, -10, 60, INT32_MAX, 20, 30};
  const std::int32_t ys[] = {0, 5, 20, 47, 10, INT32_MIN, 63};
  points.count = 7;
  for (int i = 0; i < points.count; ++i) points.x[i] = xs[i], points.y[i] = ys[i];
  ASSERT_EQ(ComputeDirImageF(n, n, g.get(), d.get(), s.get(), &points, 12, 30, 20, 3, 4), 0);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      SCOPED_TRACE(testing::Message() << x << "," << y);
      bool near = false;
      for (int i = 0; i < points.count; ++i) {
        const std::int64_t dx = std::int64_t{xs[i]} - x, dy = std::int64_t{ys[i]} - y;
        near = near || dx * dx + dy * dy < 256;
      }
      const int strength = s[y][x] & 7;
      if (near)
        ASSERT_EQ(strength, 0);
      else
        ASSERT_EQ(strength, zyl::extract::StrengthTable(30, 20, 3, 4)[ReferenceEstimate(g, x, y, 12).noise]);
    }
}

TEST(FilterStrength, FilterImageSpendsEachPixelsStrength) {
  const int n = 40;
  const OwnedByteImage src = Fingerprint(n);
  OwnedByteImage d(n, n), s(n, n);
  std::mt19937 rng(5);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      d[y][x] = static_cast<std::uint8_t>((rng() % 5 == 0 ? 127 : rng() % 120) | (rng() % 2 ? 0x80 : 0));
      s[y][x] = static_cast<std::uint8_t>((rng() % 5) | 0xA8);
    }
  // Reference: pass k smooths the pixels whose strength exceeds k, from the
  // values after pass k - 1.
  OwnedByteImage expected = Copy(src);
  for (int pass = 0; pass < 4; ++pass) {
    const OwnedByteImage before = Copy(expected);
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x)
        if ((s[y][x] & 7) > pass) expected[y][x] = static_cast<std::uint8_t>(ReferenceSmooth(before, x, y, d[y][x] & 0x7F));
  }
  OwnedByteImage g = Copy(src);
  FilterImage(n, n, g.get(), d.get(), s.get());
  EXPECT_TRUE(Same(g, expected));
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) ASSERT_EQ(s[y][x], 0xA8) << "strengths end at 0, other bits kept";

  OwnedByteImage none = Copy(src);
  FilterImage(n, n, none.get(), d.get(), s.get());  // every strength is 0 now
  EXPECT_TRUE(Same(none, src));
}

TEST(OrientedSmoothing, UniformImageIsLeftUnchangedByAllFour) {
  const int n = 40;
  const OwnedByteImage uniform = Filled(n, n, 137);
  OwnedByteImage g = Copy(uniform), d = Filled(n, n, 33), s(n, n);
  DirectSmoothImage(n, n, g.get(), d.get());
  EXPECT_TRUE(Same(g, uniform));
  ASSERT_EQ(DirFilterImage(n, n, g.get(), 12, 2), 0);
  EXPECT_TRUE(Same(g, uniform));
  ASSERT_EQ(ComputeDirImageF(n, n, g.get(), d.get(), s.get(), nullptr, 12, 30, 20, 0, 4), 0);
  EXPECT_TRUE(Same(d, Filled(n, n, 127))) << "a flat window has no orientation";
  EXPECT_TRUE(Same(s, Filled(n, n, 4))) << "and the noise of a flat window is 255";
  FilterImage(n, n, g.get(), d.get(), s.get());
  EXPECT_TRUE(Same(g, uniform));
}

}  // namespace

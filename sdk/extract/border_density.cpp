// Ridge-border density of a binary image (per pixel and over the good
// area) and the share of good area.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"
#include "zylscan/extract_filters.h"
#include "zylscan/geometry.h"
#include "extract/border_density.h"

namespace zyl::extract {
namespace {

bool good(std::uint8_t d) { return (d & kBadBit) == 0; }

// The 3 x 3 sum of bytes around column x, at most 2295: in 16 bits, and
// tested with & rather than &&, the row loops run in 16-bit lanes.
inline std::uint16_t box_sum(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below, int x) {
  std::uint16_t sum = 0;
  for (int dx = -1; dx <= 1; ++dx)
    sum = static_cast<std::uint16_t>(sum + above[x + dx] + here[x + dx] + below[x + dx]);
  return sum;
}

// The marks of border_row for the pixels 1..width - 2 of one row, every
// pixel alike (the row vectorises).
template <typename Sum>
void border_marks(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                  const std::uint8_t* __restrict below, const std::uint8_t* __restrict dir, int width,
                  Sum* __restrict good_out, Sum* __restrict border_out) {
  for (int x = 1; x + 1 < width; ++x) {
    int sum = 0;
    for (int dx = -1; dx <= 1; ++dx) sum += above[x + dx] + here[x + dx] + below[x + dx];
    const bool g = good(dir[x]);
    good_out[x] = g ? 1 : 0;
    border_out[x] = g && sum >= 9 && sum <= 2286 ? 1 : 0;
  }
}

// Marks, for image row y, the interior pixels that are good in D (good) and
// among them those on a ridge border (border): their 3 x 3 neighbourhood in
// the binary image sums to 9..2286, i.e. holds one to eight background
// pixels. Every other entry is 0.
template <typename Sum, typename Rows>
void border_row(Rows& rows, ByteImage D, int width, int height, int y, Sum* good_out, Sum* border_out) {
  std::fill_n(good_out, width, Sum{0});
  std::fill_n(border_out, width, Sum{0});
  if (y < 1 || y > height - 2) return;
  const std::uint8_t* above = rows[y - 1];
  const std::uint8_t* here = rows[y];
  const std::uint8_t* below = rows[y + 1];
  border_marks(above, here, below, D[y], width, good_out, border_out);
}

// The good and border marks of border_row in one value: good + 65536 x
// border.
void packed_border_marks(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                         const std::uint8_t* __restrict below, const std::uint8_t* __restrict dir, int width,
                         std::int32_t* __restrict out) {
  for (int x = 1; x + 1 < width; ++x) {
    const std::uint16_t sum = box_sum(above, here, below, x);
    const bool g = good(dir[x]);
    const bool border = g & (sum >= 9) & (sum <= 2286);
    out[x] = static_cast<std::int32_t>(g) + (static_cast<std::int32_t>(border) << 16);
  }
}

// True when the packed marks of any window keep both counts apart: a window
// holds fewer than 2^15 pixels, so the good count stays below 2^16 and the
// border count x 2^16 below 2^31.
bool packed_counts_fit(int radius, int width, int height) {
  const std::int64_t side = 2 * static_cast<std::int64_t>(radius) + 1;
  return std::min<std::int64_t>(side, width) * std::min<std::int64_t>(side, height) < (1 << 15);
}

// One row of border_density_packed from the packed window counts and the
// weights of the pixels' orientations (78..100). b x 255 < 2^15 x 255 <
// 2^24, so small_mean_of gives v = floor(b x 255 / n); v x weight <= 25500
// is a whole number that the float product holds exactly, and scaled by
// the reciprocal of 100 (scaled_mean_of) it truncates to v x weight / 100.
void density_row(const std::int32_t* __restrict sums, const float* __restrict weights, float hundredth, int width,
                 std::uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) {
    const std::int32_t n = sums[x] & 0xFFFF, b = sums[x] >> 16;
    // n + (n == 0) is max(n, 1) without the branch std::max leaves here.
    const int v = small_mean_of(b * 255, n + (n == 0));
    const auto weighted = static_cast<int>(static_cast<float>(v) * weights[x] * hundredth);
    // A mask rather than a condition, which the compiler would move the
    // division under, where it no longer vectorises.
    out[x] = static_cast<std::uint8_t>(weighted & -static_cast<int>(n != 0));
  }
}

// border_density_image for windows that packed_counts_fit: one channel of
// window sums instead of two, each row's marks taken once.
void border_density_packed(int width, int height, ByteImage image, ByteImage D, int r) {
  RowRing rows(image, width, height, ring_rows(r, 1, height));
  WindowSums<std::int32_t, 1, true> counts(width, height, r);
  float weights[128];
  for (int o = 0; o < 128; ++o) weights[o] = static_cast<float>(o <= 119 ? dir_koefs[o] : 100);
  std::vector<float> row_weights(static_cast<std::size_t>(width));
  const float hundredth = reciprocal_up(100);
  for (int y = 0; y < height; ++y) {
    counts.advance([&](int yy, const std::array<std::int32_t*, 1>& out) {
      std::int32_t* marks = out[0];
      std::fill_n(marks, width, 0);
      if (yy < 1 || yy > height - 2) return;
      packed_border_marks(rows[yy - 1], rows[yy], rows[yy + 1], D[yy], width, marks);
    });
    rows.load_through(y);
    const std::uint8_t* dir = D[y];
    for (int x = 0; x < width; ++x) row_weights[x] = weights[dir[x] & 0x7F];
    density_row(counts.sums(0), row_weights.data(), hundredth, width, image[y]);
  }
}

void border_density_image(int width, int height, ByteImage image, ByteImage D, int radius) {
  const int r = effective_radius(radius, width, height);
  if (packed_counts_fit(r, width, height)) {
    border_density_packed(width, height, image, D, r);
    return;
  }
  RowRing rows(image, width, height, ring_rows(r, 1, height));
  WindowSums<std::int32_t, 2> counts(width, height, r);
  for (int y = 0; y < height; ++y) {
    counts.advance([&](int yy, const std::array<std::int32_t*, 2>& out) {
      border_row(rows, D, width, height, yy, out[0], out[1]);
    });
    rows.load_through(y);
    const std::uint8_t* dir = D[y];
    std::uint8_t* out = image[y];
    for (int x = 0; x < width; ++x) {
      const std::int32_t n = counts.sum(0, x), b = counts.sum(1, x);
      if (n == 0) {
        out[x] = 0;
        continue;
      }
      const int o = dir[x] & 0x7F;
      const int weight = o <= 119 ? dir_koefs[o] : 100;
      // b x 255 / n in double: 0 <= b <= n < 2^31, so the dividend is a whole
      // number below 2^53 and the quotient truncates to the integer one (see
      // mean_of), at a fraction of the cost of a 64-bit division.
      const auto v = static_cast<std::int64_t>(static_cast<double>(b) * 255.0 / static_cast<double>(n));
      out[x] = static_cast<std::uint8_t>(v * weight / 100);
    }
  }
}

struct AreaCounts {
  std::int64_t good = 0;
  std::int64_t border = 0;
};

// The good and border pixels of one interior row, counted as border_row
// marks them. Counts of a row stay below its width.
AreaCounts count_area_row(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                          const std::uint8_t* __restrict below, const std::uint8_t* __restrict dir, int width) {
  std::int32_t good_count = 0, border_count = 0;
  for (int x = 1; x + 1 < width; ++x) {
    const std::uint16_t sum = box_sum(above, here, below, x);
    const bool g = good(dir[x]);
    good_count += g;
    border_count += g & (sum >= 9) & (sum <= 2286);
  }
  return {good_count, border_count};
}

AreaCounts count_area(int width, int height, ByteImage binary, ByteImage D) {
  AreaCounts counts;
  for (int y = 1; y + 1 < height; ++y) {
    const AreaCounts row = count_area_row(binary[y - 1], binary[y], binary[y + 1], D[y], width);
    counts.good += row.good;
    counts.border += row.border;
  }
  return counts;
}

std::int32_t good_area_percent(int width, int height, ByteImage D) {
  std::int64_t good_pixels = 0;
  for (int y = 1; y + 1 < height; ++y)
    for (int x = 1; x + 1 < width; ++x) good_pixels += good(D[y][x]) ? 1 : 0;
  return static_cast<std::int32_t>(good_pixels * 100 / (static_cast<std::int64_t>(width) * height));
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

void zyl::extract::ComputeGImage(int32_t width, int32_t height, ByteImage image, ByteImage D, int32_t r) {
  if (valid_image(width, height, image) && D) border_density_image(width, height, image, D, r);
}

int32_t zyl::extract::ComputeG(int32_t width, int32_t height, ByteImage binary, ByteImage D) {
  if (!valid_image(width, height, binary) || !D) return 0;
  const AreaCounts counts = count_area(width, height, binary, D);
  return counts.good == 0 ? 0 : static_cast<int32_t>(counts.border * 255 / counts.good);
}

// The image itself is not read: the share depends on D alone.
int32_t zyl::extract::ComputeA(int32_t width, int32_t height, ByteImage /*image*/, ByteImage D) {
  if (!valid_image(width, height, D)) return 0;
  return good_area_percent(width, height, D);
}

extern "C" {

ZYL_API void ComputeGImage(int32_t width, int32_t height, ByteImage image, ByteImage D, int32_t r) {
  zyl::extract::ComputeGImage(width, height, image, D, r);
}
ZYL_API int32_t ComputeG(int32_t width, int32_t height, ByteImage binary, ByteImage D) {
  return zyl::extract::ComputeG(width, height, binary, D);
}
ZYL_API int32_t ComputeA(int32_t width, int32_t height, ByteImage arg2, ByteImage D) {
  return zyl::extract::ComputeA(width, height, arg2, D);
}

}  // extern "C"

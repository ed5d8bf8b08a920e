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

void border_density_image(int width, int height, ByteImage image, ByteImage D, int radius) {
  const int r = effective_radius(radius, width, height);
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

AreaCounts count_area(int width, int height, ByteImage binary, ByteImage D) {
  AreaCounts counts;
  DirectRows rows(binary);
  std::vector<std::int32_t> good_row(static_cast<std::size_t>(width)), border_row_(good_row.size());
  for (int y = 1; y + 1 < height; ++y) {
    border_row(rows, D, width, height, y, good_row.data(), border_row_.data());
    for (int x = 0; x < width; ++x) {
      counts.good += good_row[x];
      counts.border += border_row_[x];
    }
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

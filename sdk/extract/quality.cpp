// Image quality measures: finger extent, texture quality wrappers, 8 x 8
// block variance statistics and the Otsu threshold.
#include "zylscan/image_quality.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/guarded_call.h"
#include "extract/byte_image.h"
#include "zylscan/extract_pipeline.h"
#include "zylscan/image_stretch.h"
#include "extract/pipeline.h"
#include "extract/quality.h"
#include "extract/image_stretch.h"

namespace {

using zyl::extract::OwnedByteImage;

constexpr std::int32_t kNarrowWidth = 192;
constexpr std::uint8_t kDark = 200;
constexpr std::int32_t kBlock = 8;

bool valid_image(std::int32_t width, std::int32_t height, const std::uint8_t* pixels) {
  return pixels && width > 0 && height > 0;
}

bool side_in(std::int32_t width, std::int32_t height, std::int32_t low, std::int32_t high) {
  return width >= low && height >= low && width <= high && height <= high;
}

// ExtractFeatures_GetQ works in place: it gets a copy in rows.
std::int32_t texture_quality(std::int32_t width, std::int32_t height, const std::uint8_t* pixels) {
  OwnedByteImage copy(width, height);
  if (!copy) return -1;
  zyl::api::StretchImageFromLinear(width, height, pixels, width, height, copy.get());
  return zyl::extract::ExtractFeatures_GetQ(width, height, copy.get());
}

// Position of the third dark pixel met along a line of n pixels, or the
// number of dark pixels met when there are fewer than three.
template <class At>
std::int32_t third_dark(std::int32_t first, std::int32_t last, At&& at) {
  const std::int32_t step = last >= first ? 1 : -1;
  std::int32_t met = 0;
  for (std::int32_t i = first;; i += step) {
    if (at(i) < kDark && ++met == 3) return i;
    if (i == last) break;
  }
  return met;
}

// Variances of the inner 8 x 8 blocks, each over its pixels smoothed with
// the 1 2 1 / 2 4 2 / 1 2 1 kernel (shifted right by 4), in block order.
struct BlockVariances {
  std::int32_t rows = 0, columns = 0;  // whole blocks of the image
  std::vector<std::int32_t> v;         // (rows - 2) x (columns - 2)
  std::int32_t at(std::int32_t i, std::int32_t j) const { return v[(i - 1) * (columns - 2) + (j - 1)]; }
};

BlockVariances block_variances(std::int32_t width, std::int32_t height, const std::uint8_t* pixels) {
  BlockVariances b;
  b.rows = height / kBlock;
  b.columns = width / kBlock;
  b.v.reserve(static_cast<std::size_t>(b.rows - 2) * (b.columns - 2));
  auto px = [&](std::int32_t y, std::int32_t x) -> std::int32_t { return pixels[y * width + x]; };
  std::array<std::int32_t, 64> s{};
  for (std::int32_t i = 1; i <= b.rows - 2; ++i) {
    for (std::int32_t j = 1; j <= b.columns - 2; ++j) {
      std::int32_t sum = 0;
      for (std::int32_t r = 0; r < kBlock; ++r) {
        const std::int32_t y = kBlock * i + r;
        for (std::int32_t c = 0; c < kBlock; ++c) {
          const std::int32_t x = kBlock * j + c;
          const std::int32_t k = px(y - 1, x - 1) + 2 * px(y - 1, x) + px(y - 1, x + 1) + 2 * px(y, x - 1) +
                                 4 * px(y, x) + 2 * px(y, x + 1) + px(y + 1, x - 1) + 2 * px(y + 1, x) +
                                 px(y + 1, x + 1);
          s[r * kBlock + c] = k >> 4;
          sum += k >> 4;
        }
      }
      const std::int32_t m = sum / 64;
      std::int32_t var = 0;
      for (std::int32_t value : s) var += (value - m) * (value - m);
      b.v.push_back(var / 64);
    }
  }
  return b;
}

std::int32_t percent_above(const BlockVariances& b, std::int64_t threshold) {
  const auto above = std::count_if(b.v.begin(), b.v.end(), [&](std::int32_t v) { return v > threshold; });
  return static_cast<std::int32_t>(above * 100 / static_cast<std::int64_t>(b.v.size()));
}

}  // namespace

int32_t zyl::extract::ZylImgQsize(const uint8_t* pixels, int32_t width, int32_t height) {
  if (!valid_image(width, height, pixels)) return -1;
  const std::int32_t mid_x = width / 2;
  const std::int32_t mid_y = height / 2;
  auto column = [&](std::int32_t y) { return pixels[y * width + mid_x]; };
  auto row = [&](std::int32_t x) { return pixels[mid_y * width + x]; };
  const std::int32_t top = third_dark(0, height - 1, column);
  const std::int32_t left = third_dark(0, width - 1, row);
  // Going back the scans stop at row and column 1.
  const std::int32_t bottom = height > 1 ? third_dark(height - 1, 1, column) : 0;
  const std::int32_t right = width > 1 ? third_dark(width - 1, 1, row) : 0;
  const float share = static_cast<float>((bottom - top) * (right - left)) / static_cast<float>(width * height);
  const auto q = static_cast<std::int32_t>(share * 100.0f);
  return q < 75 ? q - 100 : q;
}

int32_t zyl::extract::ZylEx_GetQuality(int32_t width, int32_t height, const uint8_t* pixels) {
  if (!valid_image(width, height, pixels)) return -1;
  const std::int32_t extent = width <= kNarrowWidth ? zyl::extract::ZylImgQsize(pixels, width, height) : 0;
  const std::int32_t q = texture_quality(width, height, pixels);
  if (q < 0) return -1;
  if (width > kNarrowWidth) return q;
  const std::int32_t t = extent + q;
  return t > 1 ? t / 2 : 1;
}

extern "C" ZYL_API int32_t DevAlgImgQualityNew(int32_t width, int32_t height, const uint8_t* pixels) {
  if (!valid_image(width, height, pixels)) return -1;
  return texture_quality(width, height, pixels);
}

extern "C" ZYL_API int32_t DevAlgImgQuality(int32_t width, int32_t height, const uint8_t* pixels, uint8_t* percent) {
  // The statistic needs one inner block, and its answers were only ever
  // defined up to 81 blocks a side.
  if (!pixels || !percent || !side_in(width, height, ZYL_QUALITY_MIN_SIDE, ZYL_QUALITY_MAX_SIDE)) return -1;
  const BlockVariances b = block_variances(width, height, pixels);
  std::int64_t total = 0;
  for (std::int32_t v : b.v) total += v;
  const std::int64_t threshold =
      std::clamp<std::int64_t>(total / (static_cast<std::int64_t>(b.v.size()) * 8), 125, 400);
  *percent = static_cast<std::uint8_t>(percent_above(b, threshold));
  return 0;
}

int32_t zyl::extract::DevAlgImgQualitynew164(int32_t width, int32_t height, const uint8_t* pixels, uint8_t* percent,
                                             int32_t* mean_variance, int32_t values[4]) {
  // Every quadrant must hold an inner block: at least 5 blocks a side.
  if (!pixels || !percent || !mean_variance || !values ||
      !side_in(width, height, ZYL_QUALITY_QUADRANT_MIN_SIDE, ZYL_QUALITY_MAX_SIDE))
    return -1;
  const BlockVariances b = block_variances(width, height, pixels);
  const std::int32_t half_rows = b.rows / 2;
  const std::int32_t half_columns = b.columns / 2;
  std::int64_t total = 0;
  std::array<std::int64_t, 4> sum{}, count{};
  for (std::int32_t i = 1; i <= b.rows - 2; ++i)
    for (std::int32_t j = 1; j <= b.columns - 2; ++j) {
      const std::int32_t v = b.at(i, j);
      total += v;
      // The middle block row and column belong to the bottom-right quadrant.
      std::size_t quadrant = 3;
      if (i < half_rows && j < half_columns)
        quadrant = 0;
      else if (i < half_rows && j > half_columns)
        quadrant = 1;
      else if (i > half_rows && j < half_columns)
        quadrant = 2;
      sum[quadrant] += v;
      ++count[quadrant];
    }
  const std::int64_t mean = total / static_cast<std::int64_t>(b.v.size());
  *mean_variance = static_cast<std::int32_t>(mean);
  *percent = static_cast<std::uint8_t>(percent_above(b, std::clamp<std::int64_t>(mean, 50, 1500)));
  std::array<std::int64_t, 4> q{};
  for (std::size_t k = 0; k < 4; ++k) q[k] = sum[k] / count[k];
  values[0] = static_cast<std::int32_t>(std::llabs(q[0] + q[1] - q[2] - q[3]));
  values[1] = static_cast<std::int32_t>(std::llabs(q[0] + q[2] - q[1] - q[3]));
  values[2] = static_cast<std::int32_t>(q[2]);
  values[3] = static_cast<std::int32_t>(q[3]);
  return 0;
}

int32_t zyl::extract::otsu(const uint8_t* pixels, int32_t stride, int32_t height, int32_t x0, int32_t y0, int32_t width,
                           int32_t region_height) {
  if (!pixels || stride <= 0 || height <= 0 || x0 < 0 || y0 < 0 || width < 0 || region_height < 0 ||
      x0 + width > stride || y0 + region_height > height)
    return -1;
  std::array<std::int64_t, 256> histogram{};
  for (std::int32_t y = y0 + 1; y <= y0 + region_height - 2; ++y)
    for (std::int32_t x = x0 + 1; x <= x0 + width - 2; ++x) ++histogram[pixels[y * stride + x]];
  double n = 0.0, s = 0.0;
  for (std::int32_t level = 0; level < 256; ++level) {
    n += static_cast<double>(histogram[level]);
    s += static_cast<double>(level) * static_cast<double>(histogram[level]);
  }
  double w0 = 0.0, s0 = 0.0, best = -1.0;
  std::int32_t result = 1;
  for (std::int32_t t = 0; t <= 254; ++t) {
    w0 += static_cast<double>(histogram[t]);
    s0 += static_cast<double>(t) * static_cast<double>(histogram[t]);
    if (w0 == 0.0) continue;
    const double w1 = n - w0;
    if (w1 == 0.0) break;
    const double m0 = s0 / w0;
    const double m1 = (s - s0) / w1;
    const double between = (m0 - m1) * (w0 * w1 * (m0 - m1));
    if (between > best) {
      best = between;
      result = t;
    }
  }
  return result;
}

int32_t zyl::extract::myThreshold(uint8_t* pixels, int32_t threshold, int32_t width, int32_t height) {
  if (!valid_image(width, height, pixels)) return -1;
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t i = 0; i < n; ++i) pixels[i] = pixels[i] >= threshold ? 255 : 0;
  return 0;
}

static int32_t DevAlgImgQualityAndroidUnguarded(int32_t width, int32_t height,
                                                const uint8_t* pixels) {
  // Sides outside the block statistic's range (which includes every side of
  // 2000 and more) cannot be measured.
  if (!pixels || !side_in(width, height, ZYL_QUALITY_QUADRANT_MIN_SIDE, ZYL_QUALITY_MAX_SIDE)) return -1;
  const std::int32_t q = texture_quality(width, height, pixels);
  if (q < 0) return -1;
  std::vector<std::uint8_t> binary(pixels, pixels + static_cast<std::size_t>(width) * height);
  zyl::extract::myThreshold(binary.data(), zyl::extract::otsu(binary.data(), width, height, 0, 0, width, height), width,
                            height);
  std::uint8_t percent = 0;
  std::int32_t mean = 0;
  std::int32_t values[4] = {};
  zyl::extract::DevAlgImgQualitynew164(width, height, binary.data(), &percent, &mean, values);
  // A good texture whose block variance is strongly lopsided (top against
  // bottom or left against right) is rated by the block statistic instead.
  if (q >= 50 && (values[0] > 8000 || values[1] > 8000)) return percent;
  return q;
}

extern "C" ZYL_API int32_t DevAlgImgQualityAndroid(int32_t width, int32_t height, const uint8_t* pixels) {
  return zyl::GuardedCall(-1,
                          [&] { return DevAlgImgQualityAndroidUnguarded(width, height, pixels); });
}

extern "C" ZYL_API void testprintf(void) { std::puts("test"); }

extern "C" {

ZYL_API int32_t ZylImgQsize(const uint8_t* pixels, int32_t width, int32_t height) {
  return zyl::extract::ZylImgQsize(pixels, width, height);
}
ZYL_API int32_t ZylEx_GetQuality(int32_t width, int32_t height, const uint8_t* pixels) {
  return zyl::extract::ZylEx_GetQuality(width, height, pixels);
}
ZYL_API int32_t DevAlgImgQualitynew164(int32_t width, int32_t height, const uint8_t* pixels, uint8_t* percent,
                                       int32_t* mean_variance, int32_t values[4]) {
  return zyl::extract::DevAlgImgQualitynew164(width, height, pixels, percent, mean_variance, values);
}
ZYL_API int32_t otsu(const uint8_t* pixels, int32_t stride, int32_t height, int32_t x0, int32_t y0, int32_t width,
                     int32_t region_height) {
  return zyl::extract::otsu(pixels, stride, height, x0, y0, width, region_height);
}
ZYL_API int32_t myThreshold(uint8_t* pixels, int32_t threshold, int32_t width, int32_t height) {
  return zyl::extract::myThreshold(pixels, threshold, width, height);
}

}  // extern "C"

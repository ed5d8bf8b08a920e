// Small 3x3 neighbourhood filters: weighted, framed and masked means, frame
// extrapolation, sharpening, vertical row smoothing and pit repair.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/image/pixel_rows.h"
#include "matchlib/image/weighted_mean3x3.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/filters3x3.h"

namespace zyl::matchlib {

template <class T>
int masked_mean3x3(const T* src, const std::uint8_t* mask, std::uint32_t h, std::uint32_t w,
                   T* dst) {
  if (!src || !mask || !dst) return ML_BAD_ARGUMENT;
  const std::size_t n = pixel_count(h, w);
  Scratch<T> work(n);
  if (!work) return ML_NO_MEMORY;
  if (n == 0) return ML_OK;
  std::memcpy(work.get(), src, n * sizeof(T));
  for (std::uint32_t r = 0; r < h; ++r) {
    const std::uint32_t r0 = r ? r - 1 : 0, r1 = std::min(r + 1, h - 1);
    for (std::uint32_t c = 0; c < w; ++c) {
      const std::uint32_t c0 = c ? c - 1 : 0, c1 = std::min(c + 1, w - 1);
      const bool inner = r > 0 && c > 0 && r + 1 < h && c + 1 < w;
      std::int64_t sum = 0;
      int count = 0;
      for (std::uint32_t y = r0; y <= r1; ++y)
        for (std::uint32_t x = c0; x <= c1; ++x) {
          const std::size_t i = static_cast<std::size_t>(y) * w + x;
          if (mask[i]) {
            sum += src[i];
            ++count;
          }
        }
      if (inner && count == 9) continue;  // an interior mask pixel keeps its value
      if (count) work[static_cast<std::size_t>(r) * w + c] = static_cast<T>(sum / count);
    }
  }
  std::memcpy(dst, work.get(), n * sizeof(T));
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

#define ZYL_WEIGHTED_MEAN(suffix, T)                                                   \
  extern "C" ZYL_API int filter_weighted_mean3x3_##suffix(                             \
      const T* src, uint32_t height, uint32_t width, const uint8_t* weights, T* dst) { \
    return weighted_mean3x3<T>(src, height, width, weights, dst);                      \
  }
ZYL_WEIGHTED_MEAN(s16, int16_t)
ZYL_WEIGHTED_MEAN(s32, int32_t)
#undef ZYL_WEIGHTED_MEAN

#define ZYL_MASKED_MEAN(suffix, T)                                                                 \
  template int zyl::matchlib::masked_mean3x3<T>(const T*, const uint8_t*, uint32_t, uint32_t, T*); \
  extern "C" ZYL_API int filter_masked_mean3x3_##suffix(const T* src, const uint8_t* mask,         \
                                                        uint32_t height, uint32_t width, T* dst) { \
    return masked_mean3x3<T>(src, mask, height, width, dst);                                       \
  }
ZYL_MASKED_MEAN(u8, uint8_t)
ZYL_MASKED_MEAN(u16, uint16_t)
ZYL_MASKED_MEAN(s8, int8_t)
ZYL_MASKED_MEAN(s16, int16_t)
#undef ZYL_MASKED_MEAN

int zyl::matchlib::filter_frame_mean3x3_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                           uint32_t n, uint8_t fill, uint8_t* dst) {
  if (n == 0) return ML_OK;
  // The frame must leave an inner image: a wider one would run past the row.
  if (!src || !dst || uint64_t{n} * 2 >= height || uint64_t{n} * 2 >= width) return ML_BAD_ARGUMENT;
  const uint32_t h = height, w = width;
  RollingRows<uint8_t> rows(src, w, 1, same_buffer(src, dst));
  if (!rows.ok()) return ML_NO_MEMORY;
  for (uint32_t r = 0; r < h; ++r) {
    rows.enter(r);
    const uint8_t* lines[3] = {r ? rows.row(r - 1) : nullptr, rows.row(r),
                               r + 1 < h ? rows.row(r + 1) : nullptr};
    uint8_t* out = dst + static_cast<std::size_t>(r) * w;
    const bool whole_row = r < n || r + n >= h;
    auto value = [&](uint32_t c) {
      int sum = 0;
      for (const uint8_t* line : lines)
        for (int dc = -1; dc <= 1; ++dc) {
          const int64_t x = int64_t{c} + dc;
          sum += (line && x >= 0 && x < w) ? line[x] : fill;
        }
      return static_cast<uint8_t>(sum / 9);
    };
    if (whole_row) {
      for (uint32_t c = 0; c < w; ++c) out[c] = value(c);
    } else {
      for (uint32_t c = 0; c < n; ++c) out[c] = value(c);
      for (uint32_t c = w - n; c < w; ++c) out[c] = value(c);
    }
  }
  return ML_OK;
}

int zyl::matchlib::filter_frame_extrapolate_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                               uint32_t n, uint8_t* dst) {
  if (n >= height / 2 || n >= width / 2) return ML_BAD_ARGUMENT;
  if (!src || !dst) return ML_BAD_ARGUMENT;
  const uint32_t h = height, w = width;
  if (src != dst) std::memcpy(dst, src, pixel_count(h, w));
  // Values are read from the source: in place each ring continues the ring
  // written just before it; into a separate buffer each ring is computed
  // from the source's own next inner ring.
  auto at = [&](uint32_t r, uint32_t c) { return src[static_cast<std::size_t>(r) * w + c]; };
  for (uint32_t k = n; k >= 1; --k) {
    const uint32_t lo = k, hi_r = h - k - 1, hi_c = w - k - 1;  // inner ring bounds
    auto row_mean = [&](uint32_t row, uint32_t c) {
      int sum = 0, count = 0;
      for (uint32_t x = std::max(c, lo + 1) - 1; x <= std::min(c + 1, hi_c); ++x) {
        sum += at(row, x);
        ++count;
      }
      return static_cast<uint8_t>(sum / count);
    };
    auto col_mean = [&](uint32_t col, uint32_t r) {
      int sum = 0, count = 0;
      for (uint32_t y = std::max(r, lo + 1) - 1; y <= std::min(r + 1, hi_r); ++y) {
        sum += at(y, col);
        ++count;
      }
      return static_cast<uint8_t>(sum / count);
    };
    for (uint32_t c = k - 1; c <= w - k; ++c) {
      dst[static_cast<std::size_t>(k - 1) * w + c] = row_mean(k, c);
      dst[static_cast<std::size_t>(h - k) * w + c] = row_mean(h - k - 1, c);
    }
    for (uint32_t r = k - 1; r <= h - k; ++r) {
      dst[static_cast<std::size_t>(r) * w + k - 1] = col_mean(k, r);
      dst[static_cast<std::size_t>(r) * w + w - k] = col_mean(w - k - 1, r);
    }
  }
  return ML_OK;
}

int zyl::matchlib::filter_sharpen3x3_u8(const uint8_t* src, int32_t height, int32_t width,
                                        uint8_t strength, uint8_t* dst) {
  if (!src || !dst || height < 1 || width < 1) return ML_BAD_ARGUMENT;
  const uint32_t h = static_cast<uint32_t>(height), w = static_cast<uint32_t>(width);
  Scratch<uint16_t> ring(pixel_count(h, w));
  if (!ring) return ML_NO_MEMORY;
  for (uint32_t r = 0; r < h; ++r) {
    // The border is replicated: clamped rows and columns.
    const uint8_t* up = src + static_cast<std::size_t>(r ? r - 1 : 0) * w;
    const uint8_t* mid = src + static_cast<std::size_t>(r) * w;
    const uint8_t* down = src + static_cast<std::size_t>(std::min(r + 1, h - 1)) * w;
    for (uint32_t c = 0; c < w; ++c) {
      const uint32_t l = c ? c - 1 : 0, rt = std::min(c + 1, w - 1);
      ring[static_cast<std::size_t>(r) * w + c] = static_cast<uint16_t>(
          2 * (up[c] + down[c] + mid[l] + mid[rt]) + up[l] + up[rt] + down[l] + down[rt]);
    }
  }
  const std::size_t total = pixel_count(h, w);
  for (std::size_t i = 0; i < total; ++i) {
    const int p = src[i];
    const int e = (12 * p - ring[i]) * strength / 128;
    dst[i] = static_cast<uint8_t>(std::clamp(p + e, 0, 255));
  }
  return ML_OK;
}

extern "C" ZYL_API int filter_row_smooth121_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                               uint32_t flags, uint8_t* dst) {
  if (!src || !dst || height < 2) return ML_BAD_ARGUMENT;
  const uint32_t h = height, w = width;
  RollingRows<uint8_t> rows(src, w, 1, same_buffer(src, dst));
  if (!rows.ok()) return ML_NO_MEMORY;
  if (src != dst) std::memcpy(dst, src, pixel_count(h, w));
  for (uint32_t r = 0; r < h; ++r) {
    rows.enter(r);
    if (!(flags & (r % 2 ? 2u : 1u))) continue;
    const uint8_t* mid = rows.row(r);
    uint8_t* out = dst + static_cast<std::size_t>(r) * w;
    if (r == 0 || r == h - 1) {
      const uint8_t* other = rows.row(r == 0 ? 1 : r - 1);
      for (uint32_t c = 0; c < w; ++c) out[c] = static_cast<uint8_t>((mid[c] + other[c]) / 2);
    } else {
      const uint8_t* up = rows.row(r - 1);
      const uint8_t* down = rows.row(r + 1);
      for (uint32_t c = 0; c < w; ++c)
        out[c] = static_cast<uint8_t>((up[c] + 2 * mid[c] + down[c]) / 4);
    }
  }
  return ML_OK;
}

int zyl::matchlib::filter_fill_pits_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                       uint8_t threshold, uint8_t* dst) {
  if (!src || !dst) return ML_BAD_ARGUMENT;
  const uint32_t h = height, w = width;
  const std::size_t total = pixel_count(h, w);
  Scratch<uint8_t> depth(total, true);
  if (!depth) return ML_NO_MEMORY;
  if (src != dst) std::memcpy(dst, src, total);
  if (total == 0) return ML_OK;
  auto at = [&](uint32_t r, uint32_t c) -> int { return src[static_cast<std::size_t>(r) * w + c]; };
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t c = 0; c < w; ++c) {
      const int v = at(r, c);
      // Vertical test: below every vertical neighbour that exists.
      int d = 255;
      bool below = true;
      if (r > 0) below = below && at(r - 1, c) > v, d = std::min(d, at(r - 1, c) - v);
      if (r + 1 < h) below = below && at(r + 1, c) > v, d = std::min(d, at(r + 1, c) - v);
      if (!below) d = 0;
      // Horizontal test: only lowers the depth found so far.
      int dh = 255;
      bool below_h = true;
      if (c > 0) below_h = below_h && at(r, c - 1) > v, dh = std::min(dh, at(r, c - 1) - v);
      if (c + 1 < w) below_h = below_h && at(r, c + 1) > v, dh = std::min(dh, at(r, c + 1) - v);
      if (below_h) d = std::min(d, dh);
      depth[static_cast<std::size_t>(r) * w + c] = static_cast<uint8_t>(d);
    }
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t c = 0; c < w; ++c) {
      const std::size_t i = static_cast<std::size_t>(r) * w + c;
      if (depth[i] <= threshold) continue;
      int sum = 0, count = 0;
      auto take = [&](std::size_t j) {
        if (depth[j] <= threshold) sum += src[j], ++count;
      };
      if (r > 0) take(i - w);
      if (r + 1 < h) take(i + w);
      if (c > 0) take(i - 1);
      if (c + 1 < w) take(i + 1);
      // Shallow neighbours are never changed, so reading src stays valid in place.
      if (count) dst[i] = static_cast<uint8_t>(sum / count);
    }
  return ML_OK;
}

extern "C" {

ZYL_API int filter_frame_mean3x3_u8(const uint8_t* src, uint32_t height, uint32_t width, uint32_t n,
                                    uint8_t fill, uint8_t* dst) {
  return zyl::matchlib::filter_frame_mean3x3_u8(src, height, width, n, fill, dst);
}
ZYL_API int filter_frame_extrapolate_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                        uint32_t n, uint8_t* dst) {
  return zyl::matchlib::filter_frame_extrapolate_u8(src, height, width, n, dst);
}
ZYL_API int filter_sharpen3x3_u8(const uint8_t* src, int32_t height, int32_t width,
                                 uint8_t strength, uint8_t* dst) {
  return zyl::matchlib::filter_sharpen3x3_u8(src, height, width, strength, dst);
}
ZYL_API int filter_fill_pits_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                uint8_t threshold, uint8_t* dst) {
  return zyl::matchlib::filter_fill_pits_u8(src, height, width, threshold, dst);
}

}  // extern "C"

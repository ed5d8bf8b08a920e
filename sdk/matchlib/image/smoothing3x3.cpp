// 3x3 smoothing kernels: box and binomial means in every element type, the
// weighted mean, the range-limited mean and the sample fill.
//
// Box and binomial share one separable pass: each source row's horizontal
// sum (1-1-1 or 1-2-1, clipped at the row ends) is kept in a ring of three
// sum rows, and output row r is formed from the sums of rows r-1, r and
// r+1. The sum of row r+1 is taken before row r is written, so the
// destination may be the source.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "matchlib/image/pixel_rows.h"
#include "matchlib/image/weighted_mean3x3.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/image/smoothing3x3.h"

namespace zyl::matchlib {
namespace {

// Sums of 16 elements fit 32 bits for 8- and 16-bit types, 64 bits
// otherwise; unsigned pixels keep unsigned sums, whose divisions by the
// constant weights are cheaper and truncate alike.
template <class T>
using SumOf = std::conditional_t<(sizeof(T) >= 4), std::int64_t,
                                 std::conditional_t<std::is_unsigned_v<T>, std::uint32_t, std::int32_t>>;

// Horizontal 1-C-1 sum of a row, the missing neighbour left out at the ends.
template <int Centre, class In, class Sum>
void row_sum(const In* row, int w, Sum* out) {
  if (w == 1) {
    out[0] = Centre * Sum{row[0]};
    return;
  }
  out[0] = Centre * Sum{row[0]} + Sum{row[1]};
  for (int c = 1; c + 1 < w; ++c) out[c] = Sum{row[c - 1]} + Centre * Sum{row[c]} + Sum{row[c + 1]};
  out[w - 1] = Sum{row[w - 2]} + Centre * Sum{row[w - 1]};
}

// Runs the separable 1-C-1 by 1-C-1 window over the image: interior(sum)
// gives each output with its whole window inside the image, store(r, c,
// weighted sum, remaining weight) every other output.
template <int Centre, class In, class Out, class Interior, class Store>
int separable3x3(const In* src, int h, int w, Out* dst, Interior interior, Store store) {
  if (!src || !dst || h < 0 || w < 0) return ML_BAD_ARGUMENT;
  if (h == 0 || w == 0) return ML_OK;
  using Sum = SumOf<In>;
  const std::size_t width = static_cast<std::size_t>(w);
  Scratch<Sum> sums(3 * width);
  if (!sums) return ML_NO_MEMORY;
  auto ring = [&](int r) { return sums.get() + static_cast<std::size_t>(r % 3) * width; };
  row_sum<Centre>(src, w, ring(0));
  for (int r = 0; r < h; ++r) {
    const bool up = r > 0, down = r + 1 < h;
    if (down) row_sum<Centre>(src + static_cast<std::size_t>(r + 1) * width, w, ring(r + 1));
    const Sum* above = up ? ring(r - 1) : nullptr;
    const Sum* mid = ring(r);
    const Sum* below = down ? ring(r + 1) : nullptr;
    const int vweight = Centre + up + down;
    Out* out = dst + static_cast<std::size_t>(r) * width;
    auto general = [&](int c) {
      Sum s = Centre * mid[c];
      if (above) s += above[c];
      if (below) s += below[c];
      const int hweight = Centre + (c > 0) + (c + 1 < w);
      out[c] = store(r, c, s, hweight * vweight);
    };
    if (up && down && w >= 3) {
      general(0);
      for (int c = 1; c + 1 < w; ++c) out[c] = interior(above[c] + Centre * mid[c] + below[c]);
      general(w - 1);
    } else {
      for (int c = 0; c < w; ++c) general(c);
    }
  }
  return ML_OK;
}

// Mean over the clipped window: plain division truncates toward zero for
// signed sums and is exact truncation for the non-negative unsigned ones.
template <int Centre, class T>
int mean3x3(const T* src, int h, int w, T* dst) {
  // Inside, the divisor is a constant (9 or 16) the compiler turns into
  // multiplications and shifts.
  constexpr int kFull = (Centre + 2) * (Centre + 2);
  return separable3x3<Centre>(
      src, h, w, dst, [](SumOf<T> s) { return static_cast<T>(s / kFull); },
      [](int, int, SumOf<T> s, int weight) {
        return static_cast<T>(s / static_cast<SumOf<T>>(weight));
      });
}

int sigma_mean(const std::uint8_t* src, int h, int w, int radius, int tolerance,
               std::uint8_t* dst) {
  if (!src || !dst || h < 0 || w < 0) return ML_BAD_ARGUMENT;
  const int r = radius & 0xFF, tol = tolerance & 0xFF;
  const std::uint64_t fh = static_cast<std::uint64_t>(h) + 2 * r;
  const std::uint64_t fw = static_cast<std::uint64_t>(w) + 2 * r;
  if (fh * fw > 0xFFFFFFFFu) return ML_BAD_ARGUMENT;
  if (h == 0 || w == 0) return ML_OK;
  Scratch<std::uint8_t> frame(static_cast<std::size_t>(fh * fw));
  if (!frame) return ML_NO_MEMORY;
  std::memset(frame.get(), 255, static_cast<std::size_t>(fh * fw));
  for (int y = 0; y < h; ++y)
    std::memcpy(frame.get() + static_cast<std::size_t>(y + r) * fw + r,
                src + static_cast<std::size_t>(y) * w, static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int c = frame[static_cast<std::size_t>(y + r) * fw + x + r];
      std::uint32_t sum = 0, count = 0;
      for (int dy = 0; dy <= 2 * r; ++dy) {
        const std::uint8_t* row = frame.get() + static_cast<std::size_t>(y + dy) * fw + x;
        for (int dx = 0; dx <= 2 * r; ++dx) {
          const int v = row[dx];
          if (v - c <= tol && c - v <= tol) {
            sum += static_cast<std::uint32_t>(v);
            ++count;
          }
        }
      }
      dst[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(sum / count);
    }
  }
  return ML_OK;
}

int upsample2x_fill(const std::int8_t* src, int h, int w, std::int8_t* dst) {
  // Away from the far edges every output divides by 4; on the last column
  // of an even width (and the last row of an even height) only the samples
  // on one side remain, so the divisor halves, and at the last pixel of an
  // image even both ways only one sample at weight 1 is left.
  const bool even_w = w % 2 == 0, even_h = h % 2 == 0;
  return separable3x3<2>(
      src, h, w, dst,
      [](std::int32_t s) { return static_cast<std::int8_t>(static_cast<std::uint8_t>(s / 4)); },
      [=](int r, int c, std::int32_t s, int) {
    const bool last_c = even_w && c == w - 1, last_r = even_h && r == h - 1;
    const int d = (last_c && last_r) ? 1 : (last_c || last_r) ? 2 : 4;
    return static_cast<std::int8_t>(static_cast<std::uint8_t>(s / d));
  });
}

}  // namespace

template <class T>
int box3x3(const T* src, int height, int width, T* dst) {
  return mean3x3<1>(src, height, width, dst);
}

template <class T>
int binomial3x3(const T* src, int height, int width, T* dst) {
  return mean3x3<2>(src, height, width, dst);
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

#define ZYL_MEAN3X3(suffix, T)                                                                 \
  template int zyl::matchlib::box3x3<T>(const T*, int, int, T*);                               \
  template int zyl::matchlib::binomial3x3<T>(const T*, int, int, T*);                          \
  extern "C" ZYL_API int filter_box3x3_##suffix(const T* src, int height, int width, T* dst) { \
    return box3x3<T>(src, height, width, dst);                                                 \
  }                                                                                            \
  extern "C" ZYL_API int filter_binomial3x3_##suffix(const T* src, int height, int width,      \
                                                     T* dst) {                                 \
    return binomial3x3<T>(src, height, width, dst);                                            \
  }
ZYL_MEAN3X3(u8, uint8_t)
ZYL_MEAN3X3(u16, uint16_t)
ZYL_MEAN3X3(s8, int8_t)
ZYL_MEAN3X3(s16, int16_t)
ZYL_MEAN3X3(s32, int32_t)
#undef ZYL_MEAN3X3

#define ZYL_WEIGHTED_MEAN(suffix, In, Out)                                                \
  extern "C" ZYL_API int filter_weighted_mean3x3_##suffix(                                \
      const In* src, uint32_t height, uint32_t width, const uint8_t* weights, Out* dst) { \
    return weighted_mean3x3<In, Out>(src, height, width, weights, dst);                   \
  }
ZYL_WEIGHTED_MEAN(u8, uint8_t, uint8_t)
ZYL_WEIGHTED_MEAN(u16, uint16_t, int16_t)
ZYL_WEIGHTED_MEAN(u32, uint32_t, int32_t)
ZYL_WEIGHTED_MEAN(s8, int8_t, int8_t)
#undef ZYL_WEIGHTED_MEAN

extern "C" ZYL_API int filter_sigma_mean_u8(const uint8_t* src, int height, int width, int radius,
                                            int tolerance, uint8_t* dst) {
  return sigma_mean(src, height, width, radius, tolerance, dst);
}

int zyl::matchlib::filter_upsample2x_fill_s8(const int8_t* src, int height, int width,
                                             int8_t* dst) {
  return upsample2x_fill(src, height, width, dst);
}

extern "C" {

ZYL_API int filter_upsample2x_fill_s8(const int8_t* src, int height, int width, int8_t* dst) {
  return zyl::matchlib::filter_upsample2x_fill_s8(src, height, width, dst);
}

}  // extern "C"

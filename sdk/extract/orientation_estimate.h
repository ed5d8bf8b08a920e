// The four-direction ridge orientation estimate shared by the block and
// pixel direction images and the directional filters.
//
// Four sums of grey differences along the horizontal (H), the falling
// diagonal (D1, towards x + 1, y + 1), the vertical (V) and the rising
// diagonal (D2, towards x - 1, y + 1) are smallest along the ridges; the
// orientation lies between the adjacent pair with the smallest sum and is
// interpolated from all four.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "extract/window_sums.h"
#include "zylscan/feature_record.h"

namespace zyl::extract {

inline constexpr int kFlatOrientation = 127;
inline constexpr int kNoOrientation = 255;
inline constexpr int kUnreliableNoise = 255;
inline constexpr std::uint8_t kBadBit = 0x80;

struct OrientationEstimate {
  int orientation;    // 0..119, or kFlatOrientation
  int noise;          // 0..255
  std::int64_t peak;  // the largest of the four scaled sums (for contrast tests)
};

// a / b rounded towards zero, as the integer division gives it. With
// kNarrow the caller guarantees |a| < 2^53 and b != 0, and the quotient is
// taken in double, which is exact here and much cheaper than a 64-bit
// integer division: both operands convert exactly; a whole quotient is
// representable and so computed exactly; any other lies at least 1 / |b|
// from the nearest whole number, while rounding moves it by at most
// |a / b| x 2^-53 < 1 / |b|, so truncation cannot cross a whole number.
template <bool kNarrow>
inline std::int64_t truncated_quotient(std::int64_t a, std::int64_t b) {
  if constexpr (kNarrow)
    return static_cast<std::int64_t>(static_cast<double>(a) / static_cast<double>(b));
  else
    return a / b;
}

// Runs the estimate on the four scaled sums h (H), b (D1), c (V), d (D2).
// kNarrow: all four lie in 0..2^31 - 1. Then every dividend below stays far
// under 2^53: |offset| <= 60 (its numerator is at most 4 x (max - min) in
// size and its divisor at least max - min), so the numerators are below
// 2^31 x 60, 2^31 x 75 and 2^31 x 255.
template <bool kNarrow = false>
inline OrientationEstimate estimate_orientation(std::int64_t h, std::int64_t b, std::int64_t c, std::int64_t d) {
  const std::int64_t peak = std::max({h, b, c, d});
  // Adjacent pair with the smallest sum; ties keep the earlier pair.
  int base = 45;
  std::int64_t u = h, p = b, q = c, z = d;
  std::int64_t best = b + c;
  if (c + d < best) {
    best = c + d;
    base = 75;
    u = b, p = c, q = d, z = h;
  }
  if (d + h < best) {
    best = d + h;
    base = 105;
    u = c, p = d, q = h, z = b;
  }
  if (h + b < best) {
    base = 15;
    u = d, p = h, q = b, z = c;
  }
  const std::int64_t total = u + p + q + z;
  if (4 * peak == total) return {kFlatOrientation, kUnreliableNoise, peak};

  const std::int64_t offset = truncated_quotient<kNarrow>((q + 3 * z - p - 3 * u) * 15, total - 4 * peak);
  int orientation = base + static_cast<int>(offset);
  if (orientation == 120) orientation = 0;

  std::int64_t lo = p, hi = z;
  if (q < p) lo = q, hi = u;
  // A constant divisor: the integer division becomes a multiplication.
  // Neither factor is negative (see below), so with narrow sums the product
  // is divided as an unsigned value, which takes fewer steps. The pair
  // (p, q) has the smallest sum, so p <= z and q <= u, and hi >= lo; and
  // |offset| <= 15: with a_i = peak - i >= 0 its numerator is
  // 15 x (a_p - a_q + 3 a_u - 3 a_z) and its divisor -(a_u + a_p + a_q + a_z),
  // where a_u <= a_q and a_z <= a_p bound the numerator by 15 x the divisor
  // on either side.
  std::int64_t k;
  if constexpr (kNarrow)
    k = static_cast<std::int64_t>(static_cast<std::uint64_t>((hi - lo) * (15 - std::abs(offset))) / 30);
  else
    k = (hi - lo) * (15 - std::abs(offset)) / 30;
  lo = lo < k ? 0 : lo - k;
  const int noise = hi + k == 0 ? kUnreliableNoise : static_cast<int>(truncated_quotient<kNarrow>(lo * 255, hi + k));
  return {orientation, noise, peak};
}

// A diagonal's 32-bit sum of absolute differences scaled by 71 / 100, as
// sum x 71 / 100 in 64 bits gives it. Such sums are never negative, and
// 71 x sum fits an unsigned 64-bit product, so the quotient of the unsigned
// values is the same; the unsigned division by the constant takes fewer and
// faster steps than the signed one.
inline std::int64_t scaled_diagonal(std::int32_t sum) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(sum)) * 71 / 100);
}

// The four differences of one pixel, as absolute values or squares.
enum class DifferenceKind { Absolute, Squares };

// One pixel's difference from a neighbour, squared or absolute.
template <DifferenceKind kKind, typename Sum>
inline Sum difference_term(int a, int b) {
  const int diff = a - b;
  if constexpr (kKind == DifferenceKind::Squares)
    return static_cast<Sum>(diff * diff);
  else
    return static_cast<Sum>(diff < 0 ? -diff : diff);
}

// The differences of the interior pixels 1..width - 2 of one row. The rows
// come in as restrict parameters, which the vectoriser honours (it does not
// for restrict locals once the function is inlined).
template <DifferenceKind kKind, typename Sum>
void direction_differences_row(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                               const std::uint8_t* __restrict below, Sum* __restrict h, Sum* __restrict d1,
                               Sum* __restrict v, Sum* __restrict d2, int width) {
  auto term = [](int a, int b) { return difference_term<kKind, Sum>(a, b); };
  for (int x = 1; x <= width - 2; ++x) {
    const int p = here[x];
    h[x] = term(p, here[x + 1]) + term(p, here[x - 1]);
    d1[x] = term(p, below[x + 1]) + term(p, above[x - 1]);
    v[x] = term(p, below[x]) + term(p, above[x]);
    d2[x] = term(p, below[x - 1]) + term(p, above[x + 1]);
  }
}

// Writes the H, D1, V, D2 differences of image row y into out[0..3]; only
// pixels with 1 <= x <= width - 2 and 1 <= y <= height - 2 contribute, every
// other entry is 0. `rows[yy]` must give image row yy for yy = y - 1..y + 1.
template <DifferenceKind kKind, typename Sum, typename Rows>
void direction_differences(Rows& rows, int width, int height, int y, const std::array<Sum*, 4>& out) {
  if (y < 1 || y > height - 2 || width < 3) {
    for (Sum* o : out) std::fill_n(o, width, Sum{0});
    return;
  }
  const std::uint8_t* below = rows[y + 1];
  const std::uint8_t* here = rows[y];
  const std::uint8_t* above = rows[y - 1];
  for (Sum* o : out) o[0] = o[width - 1] = 0;
  direction_differences_row<kKind, Sum>(above, here, below, out[0], out[1], out[2], out[3], width);
}

// The differences of the interior pixels from..width - 2 of one row, the
// four of a pixel side by side: out[4x + 0..3] = H, D1, V, D2.
template <DifferenceKind kKind, typename Sum>
void direction_differences_row_interleaved_plain(const std::uint8_t* __restrict above,
                                                 const std::uint8_t* __restrict here,
                                                 const std::uint8_t* __restrict below, Sum* __restrict out, int from,
                                                 int width) {
  auto term = [](int a, int b) { return difference_term<kKind, Sum>(a, b); };
  for (int x = from; x <= width - 2; ++x) {
    const int p = here[x];
    out[4 * x + 0] = term(p, here[x + 1]) + term(p, here[x - 1]);
    out[4 * x + 1] = term(p, below[x + 1]) + term(p, above[x - 1]);
    out[4 * x + 2] = term(p, below[x]) + term(p, above[x]);
    out[4 * x + 3] = term(p, below[x - 1]) + term(p, above[x + 1]);
  }
}

#if defined(__SSE2__)
// The absolute differences of 32-bit sums of sixteen pixels at columns
// x..x + 15 (x >= 1, x + 16 <= width - 1): |a - b| of bytes is
// (a - b) | (b - a) with differences saturated at 0; each channel adds two
// of them in 16 bits (at most 510); the four channels of a pixel then go
// side by side and widen to 32 bits.
inline void absolute_differences_sixteen(const std::uint8_t* above, const std::uint8_t* here,
                                         const std::uint8_t* below, std::int32_t* out, int x) {
  auto load = [](const std::uint8_t* p) {
    __m128i v;
    std::memcpy(&v, p, sizeof v);
    return v;
  };
  const __m128i p = load(here + x);
  auto distance = [&p](__m128i a) { return _mm_or_si128(_mm_subs_epu8(p, a), _mm_subs_epu8(a, p)); };
  const __m128i zero = _mm_setzero_si128();
  // Two byte distances added into 16-bit lanes: pixels 0..7 and 8..15.
  auto channel = [&](__m128i a, __m128i b, __m128i& low, __m128i& high) {
    const __m128i da = distance(a), db = distance(b);
    low = _mm_add_epi16(_mm_unpacklo_epi8(da, zero), _mm_unpacklo_epi8(db, zero));
    high = _mm_add_epi16(_mm_unpackhi_epi8(da, zero), _mm_unpackhi_epi8(db, zero));
  };
  __m128i h[2], d1[2], v[2], d2[2];
  channel(load(here + x + 1), load(here + x - 1), h[0], h[1]);
  channel(load(below + x + 1), load(above + x - 1), d1[0], d1[1]);
  channel(load(below + x), load(above + x), v[0], v[1]);
  channel(load(below + x - 1), load(above + x + 1), d2[0], d2[1]);
  std::int32_t* o = out + 4 * static_cast<std::size_t>(x);
  auto put = [&o, zero](__m128i two_pixels) {  // H, D1, V, D2 of two pixels in 16 bits
    const __m128i first = _mm_unpacklo_epi16(two_pixels, zero), second = _mm_unpackhi_epi16(two_pixels, zero);
    std::memcpy(o, &first, sizeof first);
    std::memcpy(o + 4, &second, sizeof second);
    o += 8;
  };
  for (int half = 0; half < 2; ++half) {
    const __m128i hd1_low = _mm_unpacklo_epi16(h[half], d1[half]), vd2_low = _mm_unpacklo_epi16(v[half], d2[half]);
    const __m128i hd1_high = _mm_unpackhi_epi16(h[half], d1[half]), vd2_high = _mm_unpackhi_epi16(v[half], d2[half]);
    put(_mm_unpacklo_epi32(hd1_low, vd2_low));
    put(_mm_unpackhi_epi32(hd1_low, vd2_low));
    put(_mm_unpacklo_epi32(hd1_high, vd2_high));
    put(_mm_unpackhi_epi32(hd1_high, vd2_high));
  }
}
#endif

// The differences of the interior pixels 1..width - 2 of one row, the four
// of a pixel side by side: out[4x + 0..3] = H, D1, V, D2. Absolute
// differences into 32-bit sums take sixteen pixels at a time where SSE2 is
// there, the same values as the plain loop.
template <DifferenceKind kKind, typename Sum>
void direction_differences_row_interleaved(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                                           const std::uint8_t* __restrict below, Sum* __restrict out, int width) {
  int x = 1;
#if defined(__SSE2__)
  if constexpr (kKind == DifferenceKind::Absolute && std::is_same_v<Sum, std::int32_t>)
    for (; x + 16 <= width - 1; x += 16) absolute_differences_sixteen(above, here, below, out, x);
#endif
  direction_differences_row_interleaved_plain<kKind, Sum>(above, here, below, out, x, width);
}

// direction_differences with the four channels side by side in out[0..4 x width).
template <DifferenceKind kKind, typename Sum, typename Rows>
void direction_differences_interleaved(Rows& rows, int width, int height, int y, Sum* out) {
  if (y < 1 || y > height - 2 || width < 3) {
    std::fill_n(out, 4 * static_cast<std::size_t>(width), Sum{0});
    return;
  }
  const std::uint8_t* below = rows[y + 1];
  const std::uint8_t* here = rows[y];
  const std::uint8_t* above = rows[y - 1];
  std::fill_n(out, 4, Sum{0});
  std::fill_n(out + 4 * static_cast<std::size_t>(width - 1), 4, Sum{0});
  direction_differences_row_interleaved<kKind, Sum>(above, here, below, out, width);
}

// Window sums of the four differences around every pixel of an image, row
// after row, over windows of one radius; only pixels with 1 <= x <= width - 2
// and 1 <= y <= height - 2 contribute, and the sums are not divided by the
// number of contributing pixels. A filter that writes over the image it
// estimates from reads it through a RowRing of ring_rows(radius, 1, height)
// rows.
//
// Sum must hold every window sum: std::int32_t does for absolute differences
// when direction_sum_fits says so, squares always take std::int64_t.
template <DifferenceKind kKind, typename Rows, typename Sum = std::int64_t>
class DirectionWindow {
 public:
  DirectionWindow(Rows& rows, int width, int height, int radius)
      : rows_(rows), width_(width), height_(height), sums_(width, height, radius) {}

  // Moves to the next output row (0, 1, ...).
  void advance() {
    sums_.advance_interleaved([this](int y, Sum* out) {
      direction_differences_interleaved<kKind>(rows_, width_, height_, y, out);
    });
  }
  std::int64_t sum(int k, int x) const { return sums_.sum(k, x); }

  // The estimate at column x of the current row. Diagonal neighbours lie
  // farther away: their sums are scaled by 71 / 100, or halved for squares.
  OrientationEstimate estimate(int x) const {
    const std::int64_t h = sum(0, x), d1 = sum(1, x), v = sum(2, x), d2 = sum(3, x);
    if constexpr (kKind == DifferenceKind::Squares) {
      return estimate_orientation(h, d1 / 2, v, d2 / 2);
    } else if constexpr (std::is_same_v<Sum, std::int32_t>) {
      return estimate_orientation<true>(h, scaled_diagonal(sums_.sum(1, x)), v, scaled_diagonal(sums_.sum(3, x)));
    } else {
      return estimate_orientation(h, d1 * 71 / 100, v, d2 * 71 / 100);
    }
  }

 private:
  Rows& rows_;
  int width_;
  int height_;
  // The differences of a row are kept while it is inside the window.
  WindowSums<Sum, 4, true> sums_;
};

// True when the window sums of absolute differences of an image fit in 32
// bits (each pixel adds at most 2 x 255 to a sum).
inline bool direction_sum_fits(int width, int height) { return window_sum_fits(width, height, 2 * 255); }

}  // namespace zyl::extract

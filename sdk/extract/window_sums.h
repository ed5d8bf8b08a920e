// Running-sum machinery of the extractor's window filters.
//
// A window of radius r is the (2r + 1) x (2r + 1) square around a pixel,
// clipped to the image. WindowSums keeps one running sum per column and
// channel over the rows of the current window (the entering row is added,
// the leaving one subtracted) and slides a horizontal window over those
// column sums, so every output row costs the same whatever the radius.
//
// Filters that write their result over their input read the input through
// a RowRing: each row is copied into the ring before the output row that
// overwrites it is written, so every window sees only values from before
// the call.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zylscan/feature_record.h"

namespace zyl::extract {

// The radius actually swept: a negative radius means the pixel alone, and a
// window wider than the image covers the same pixels as one just as wide.
inline int effective_radius(int radius, int width, int height) {
  return std::clamp(radius, 0, std::max(width, height));
}

// Rows of an image read directly (the image is not overwritten meanwhile).
class DirectRows {
 public:
  explicit DirectRows(ByteImage image) : image_(image) {}
  const std::uint8_t* operator[](int y) { return image_[y]; }

 private:
  ByteImage image_;
};

// Copies of the most recent `capacity` rows of an image, loaded on demand
// in increasing row order. A row is loaded together with every row above it
// that is not loaded yet; a filter calls load_through(y) before it writes
// output row y, so it always finds its input rows unchanged here.
class RowRing {
 public:
  RowRing(ByteImage image, int width, int height, int capacity)
      : image_(image),
        width_(width),
        capacity_(std::clamp(capacity, 1, std::max(height, 1))),
        buffer_(static_cast<std::size_t>(capacity_) * static_cast<std::size_t>(std::max(width, 0))) {}

  const std::uint8_t* operator[](int y) {
    load_through(y);
    return slot(y);
  }

  // A filter calls this before it writes output row y, so that row y is
  // copied even when no window has read it yet.
  void load_through(int y) {
    while (loaded_ < y) {
      ++loaded_;
      std::copy_n(image_[loaded_], width_, slot(loaded_));
    }
  }

 private:
  std::uint8_t* slot(int y) {
    return buffer_.data() + static_cast<std::size_t>(y % capacity_) * static_cast<std::size_t>(width_);
  }

  ByteImage image_;
  int width_;
  int capacity_;
  int loaded_ = -1;
  std::vector<std::uint8_t> buffer_;
};

// Ring capacity for a filter of radius r that also reads `halo` rows beyond
// the window on either side (1 for 3 x 3 differences).
inline int ring_rows(int radius, int halo, int height) {
  return std::min(2 * radius + 2 + 2 * halo, height);
}

// Running sums along a row, the step of a horizontal window slide over one
// channel: out[i] = sum += plus[i] - minus[i] for i in [0, n), a term left
// out by kPlus / kMinus counting 0 (the window's entering and leaving
// columns). Returns the last sum. The sums are whole numbers, so the order
// of the additions does not matter while no window sum leaves the range of
// Sum (which the callers' choice of Sum ensures); 16-bit sums wrap in
// between and come out whole all the same.
template <bool kPlus, bool kMinus, typename Sum>
Sum running_sum_plain(const Sum* __restrict plus, const Sum* __restrict minus, int n, Sum sum,
                      Sum* __restrict out) {
  for (int i = 0; i < n; ++i) {
    Sum step = 0;
    if constexpr (kPlus) step = static_cast<Sum>(step + plus[i]);
    if constexpr (kMinus) step = static_cast<Sum>(step - minus[i]);
    out[i] = sum = static_cast<Sum>(sum + step);
  }
  return sum;
}

// running_sum_plain a vector at a time: the steps of a vector are summed
// as a prefix (shifted additions) and added to the last sum, so the chain
// from vector to vector is one addition instead of one addition per column.
template <bool kPlus, bool kMinus>
std::int32_t running_sum(const std::int32_t* __restrict plus, const std::int32_t* __restrict minus, int n,
                         std::int32_t sum, std::int32_t* __restrict out) {
  int i = 0;
#if defined(__SSE2__)
  __m128i carry = _mm_set1_epi32(sum);
  for (; i + 4 <= n; i += 4) {
    __m128i d = _mm_setzero_si128();
    if constexpr (kPlus) d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plus + i));
    if constexpr (kMinus) d = _mm_sub_epi32(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(minus + i)));
    d = _mm_add_epi32(d, _mm_slli_si128(d, 4));
    d = _mm_add_epi32(d, _mm_slli_si128(d, 8));
    // The vector's total, taken from its own prefix, moves the carry: the
    // chain from vector to vector is that one addition.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi32(d, carry));
    carry = _mm_add_epi32(carry, _mm_shuffle_epi32(d, 0xFF));
  }
  sum = _mm_cvtsi128_si32(carry);
#endif
  return running_sum_plain<kPlus, kMinus>(kPlus ? plus + i : nullptr, kMinus ? minus + i : nullptr, n - i, sum,
                                          out + i);
}

template <bool kPlus, bool kMinus>
std::uint16_t running_sum(const std::uint16_t* __restrict plus, const std::uint16_t* __restrict minus, int n,
                          std::uint16_t sum, std::uint16_t* __restrict out) {
  int i = 0;
#if defined(__SSE2__)
  __m128i carry = _mm_set1_epi16(static_cast<short>(sum));
  for (; i + 8 <= n; i += 8) {
    __m128i d = _mm_setzero_si128();
    if constexpr (kPlus) d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plus + i));
    if constexpr (kMinus) d = _mm_sub_epi16(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(minus + i)));
    d = _mm_add_epi16(d, _mm_slli_si128(d, 2));
    d = _mm_add_epi16(d, _mm_slli_si128(d, 4));
    d = _mm_add_epi16(d, _mm_slli_si128(d, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi16(d, carry));
    const __m128i top = _mm_shufflehi_epi16(d, 0xFF);  // lane 7 in lanes 4..7
    carry = _mm_add_epi16(carry, _mm_unpackhi_epi64(top, top));
  }
  sum = static_cast<std::uint16_t>(_mm_extract_epi16(carry, 0));
#endif
  return running_sum_plain<kPlus, kMinus>(kPlus ? plus + i : nullptr, kMinus ? minus + i : nullptr, n - i, sum,
                                          out + i);
}

// Window sums of K per-pixel channels. Call advance() once per output row,
// rows 0, 1, ... in order; `fill(y, out)` must write the channel values of
// image row y into out[k][0..width), the same values every time it is asked
// for row y. Sum must hold every window sum of the image: window_sum_fits
// tells when 32 bits do. With kKeepRows the values of the rows inside the
// window are kept, so a row leaving the window is not filled a second time
// (worth it when filling costs more than copying).
template <typename Sum, int K, bool kKeepRows = false>
class WindowSums {
 public:
  WindowSums(int width, int height, int radius)
      : width_(width),
        height_(height),
        radius_(effective_radius(radius, width, height)),
        slots_(kKeepRows ? std::min(2 * radius_ + 1, std::max(height, 1)) : 2),
        // Kept rows take one more row: the spare that an entering row is
        // filled into while the leaving one is still in its slot.
        values_(static_cast<std::size_t>(slots_ + (kKeepRows ? 1 : 0)) * K * static_cast<std::size_t>(width)),
        columns_(static_cast<std::size_t>(K) * static_cast<std::size_t>(width)),
        sums_(static_cast<std::size_t>(K) * static_cast<std::size_t>(width)),
        column_counts_(static_cast<std::size_t>(std::max(width, 0))) {
    for (int x = 0; x < width; ++x)
      column_counts_[x] = std::min(width_ - 1, x + radius_) - std::max(0, x - radius_) + 1;
    if constexpr (kKeepRows) {
      const std::size_t row = static_cast<std::size_t>(K) * static_cast<std::size_t>(std::max(width, 0));
      for (int s = 0; s <= slots_; ++s) kept_rows_.push_back(values_.data() + static_cast<std::size_t>(s) * row);
      spare_row_ = kept_rows_.back();
      kept_rows_.pop_back();
    }
  }
  // The kept rows are addressed by pointers into values_.
  WindowSums(const WindowSums&) = delete;
  WindowSums& operator=(const WindowSums&) = delete;

  template <typename Fill>
  void advance(Fill&& fill) {
    ++y_;
    if (y_ == 0) {
      for (int yy = 0; yy <= std::min(radius_, height_ - 1); ++yy) add_row(yy, fill);
    } else {
      if (y_ - radius_ - 1 >= 0) remove_row(y_ - radius_ - 1, fill);
      if (y_ + radius_ < height_) add_row(y_ + radius_, fill);
    }
    row_count_ = std::min(height_ - 1, y_ + radius_) - std::max(0, y_ - radius_) + 1;
    slide_rows();
  }

  // advance() for a fill that writes the K channels of a pixel side by
  // side: `fill(y, out)` writes channel k of column x into out[K x + k].
  // The column sums take a row in one contiguous sweep.
  template <typename Fill>
  void advance_interleaved(Fill&& fill) {
    static_assert(kKeepRows);
    ++y_;
    const int n = K * width_;
    Sum* col = columns_.data();
    if (y_ == 0) {
      for (int yy = 0; yy <= std::min(radius_, height_ - 1); ++yy) {
        Sum* in = row_values(yy);
        fill(yy, in);
        add_values(col, in, n);
      }
    } else {
      const bool leaving = y_ - radius_ - 1 >= 0, entering = y_ + radius_ < height_;
      // The leaving row's slot is the one the entering row takes when the
      // window is as tall as the slots: the entering row is filled into the
      // spare row, both go into the column sums in one sweep, and the spare
      // takes the slot (the leaving row's storage becomes the spare).
      if (leaving && entering) {
        Sum* out = row_values(y_ - radius_ - 1);
        if (out == row_values(y_ + radius_)) {
          fill(y_ + radius_, spare_row_);
          exchange_values(col, spare_row_, out, n);
          std::swap(kept_rows_[static_cast<std::size_t>((y_ + radius_) % slots_)], spare_row_);
        } else {
          Sum* in = row_values(y_ + radius_);
          fill(y_ + radius_, in);
          exchange_values(col, in, out, n);
        }
      } else if (leaving) {
        subtract_values(col, row_values(y_ - radius_ - 1), n);
      } else if (entering) {
        Sum* in = row_values(y_ + radius_);
        fill(y_ + radius_, in);
        add_values(col, in, n);
      }
    }
    row_count_ = std::min(height_ - 1, y_ + radius_) - std::max(0, y_ - radius_) + 1;
    slide_rows();
  }

  // advance() for one channel whose values are the bytes of image rows:
  // the entering and the leaving row go into the column sums in one sweep.
  // rows[yy] must give row yy for the rows entering and leaving the window,
  // the leaving row first (a RowRing of ring_rows(radius, 0, height) rows
  // still holds it when the entering row is loaded).
  template <typename Rows>
  void advance_bytes(Rows& rows) {
    static_assert(K == 1 && !kKeepRows);
    ++y_;
    Sum* col = columns_.data();
    if (y_ == 0) {
      for (int yy = 0; yy <= std::min(radius_, height_ - 1); ++yy) add_bytes(col, rows[yy], width_);
    } else {
      const bool leaving = y_ - radius_ - 1 >= 0, entering = y_ + radius_ < height_;
      const std::uint8_t* out = leaving ? rows[y_ - radius_ - 1] : nullptr;
      const std::uint8_t* in = entering ? rows[y_ + radius_] : nullptr;
      if (in && out)
        exchange_bytes(col, in, out, width_);
      else if (in)
        add_bytes(col, in, width_);
      else if (out)
        subtract_bytes(col, out, width_);
    }
    row_count_ = std::min(height_ - 1, y_ + radius_) - std::max(0, y_ - radius_) + 1;
    slide_rows();
  }

  int y() const { return y_; }
  // The window sums of the current row: channel k of column x. One channel
  // alone is a plain array.
  Sum sum(int k, int x) const { return sums_[static_cast<std::size_t>(x) * K + k]; }
  const Sum* sums(int k) const {
    static_assert(K == 1, "several channels lie interleaved: read them with sum(k, x)");
    return sums_.data() + k;
  }
  // Rows and columns of the clipped window of the current row / of column x.
  int row_count() const { return row_count_; }
  int column_count(int x) const { return column_counts_[x]; }
  int pixel_count(int x) const { return row_count_ * column_counts_[x]; }
  const int* column_counts() const { return column_counts_.data(); }

 private:
  // Values of row yy: its own slot when rows are kept, else slot 0 for an
  // entering row and slot 1 for a leaving one.
  std::array<Sum*, K> slot(int yy, bool leaving) {
    const int s = kKeepRows ? yy % slots_ : (leaving ? 1 : 0);
    std::array<Sum*, K> out;
    for (int k = 0; k < K; ++k)
      out[k] = values_.data() + (static_cast<std::size_t>(s) * K + k) * static_cast<std::size_t>(width_);
    return out;
  }

  // The kept values of row yy, channels side by side.
  Sum* row_values(int yy) { return kept_rows_[static_cast<std::size_t>(yy % slots_)]; }

  // Restrict parameters, which the vectoriser honours once inlined (restrict
  // locals it does not).
  static void add_values(Sum* __restrict col, const Sum* __restrict v, int width) {
    for (int x = 0; x < width; ++x) col[x] += v[x];
  }
  static void subtract_values(Sum* __restrict col, const Sum* __restrict v, int width) {
    for (int x = 0; x < width; ++x) col[x] -= v[x];
  }
  static void exchange_values(Sum* __restrict col, const Sum* __restrict in, const Sum* __restrict out, int width) {
    for (int x = 0; x < width; ++x) col[x] += in[x] - out[x];
  }
  // Channel k of the interleaved column sums (col points at channel k).
  static void add_channel(Sum* __restrict col, const Sum* __restrict v, int width) {
    for (int x = 0; x < width; ++x) col[x * K] += v[x];
  }
  static void subtract_channel(Sum* __restrict col, const Sum* __restrict v, int width) {
    for (int x = 0; x < width; ++x) col[x * K] -= v[x];
  }
  static void add_bytes(Sum* __restrict col, const std::uint8_t* __restrict in, int width) {
    for (int x = 0; x < width; ++x) col[x] += in[x];
  }
  static void subtract_bytes(Sum* __restrict col, const std::uint8_t* __restrict out, int width) {
    for (int x = 0; x < width; ++x) col[x] -= out[x];
  }
  static void exchange_bytes(Sum* __restrict col, const std::uint8_t* __restrict in,
                             const std::uint8_t* __restrict out, int width) {
    for (int x = 0; x < width; ++x) col[x] += static_cast<Sum>(in[x]) - static_cast<Sum>(out[x]);
  }

  template <typename Fill>
  void add_row(int yy, Fill& fill) {
    const std::array<Sum*, K> out = slot(yy, false);
    fill(yy, out);
    if constexpr (K == 1)
      add_values(columns_.data(), out[0], width_);
    else
      for (int k = 0; k < K; ++k) add_channel(columns_.data() + k, out[k], width_);
  }

  template <typename Fill>
  void remove_row(int yy, Fill& fill) {
    const std::array<Sum*, K> out = slot(yy, true);
    if constexpr (!kKeepRows) fill(yy, out);
    if constexpr (K == 1)
      subtract_values(columns_.data(), out[0], width_);
    else
      for (int k = 0; k < K; ++k) subtract_channel(columns_.data() + k, out[k], width_);
  }

  // The horizontal window over the column sums, in stretches so that no
  // column needs a test: the window's right edge still inside the row, then
  // both edges inside, then only its left edge. Column sums and window sums
  // hold the K channels of a column side by side, so the K running sums
  // advance together as one short vector.
  void slide_rows() {
    if constexpr (K == 4 && std::is_same_v<Sum, std::int32_t>) {
      slide_four_lanes();
      return;
    }
    const Sum* __restrict col = columns_.data();
    Sum* __restrict out = sums_.data();
    Sum s[K] = {};
    const int r = radius_;
    const int first = std::min(r, width_ - 1);
    for (int x = 0; x <= first; ++x)
      for (int k = 0; k < K; ++k) s[k] += col[x * K + k];
    for (int k = 0; k < K; ++k) out[k] = s[k];
    // x + r < width and x - r - 1 >= 0 split 1..width-1 into stretches.
    const int enter_end = std::max(1, width_ - r);  // x < enter_end: column x + r enters
    const int leave_from = r + 1;                   // x >= leave_from: column x - r - 1 leaves
    // The bounds of the stretches are taken once, as locals: the loops then
    // test one bound each.
    const int width = width_;
    const int entering_only = std::min({width, enter_end, leave_from});
    const int spanning = std::min(width, leave_from);
    const int sliding = std::min(width, enter_end);
    int x = 1;
    if constexpr (K == 1 && (std::is_same_v<Sum, std::int32_t> || std::is_same_v<Sum, std::uint16_t>)) {
      // One channel of 32- or 16-bit sums: each stretch as running sums.
      if (x < entering_only) {
        s[0] = running_sum<true, false>(col + x + r, nullptr, entering_only - x, s[0], out + x);
        x = entering_only;
      }
      for (; x < spanning; ++x) out[x] = s[0];
      if (x < sliding) {
        s[0] = running_sum<true, true>(col + x + r, col + x - r - 1, sliding - x, s[0], out + x);
        x = sliding;
      }
      if (x < width) running_sum<false, true>(nullptr, col + x - r - 1, width - x, s[0], out + x);
      return;
    }
    for (; x < entering_only; ++x)
      for (int k = 0; k < K; ++k) out[x * K + k] = s[k] += col[(x + r) * K + k];
    for (; x < spanning; ++x)  // the window spans the row: nothing enters or leaves
      for (int k = 0; k < K; ++k) out[x * K + k] = s[k];
    for (; x < sliding; ++x)
      for (int k = 0; k < K; ++k) out[x * K + k] = s[k] += col[(x + r) * K + k] - col[(x - r - 1) * K + k];
    for (; x < width; ++x)
      for (int k = 0; k < K; ++k) out[x * K + k] = s[k] -= col[(x - r - 1) * K + k];
  }

  // slide_rows for four 32-bit channels, the four running sums held as the
  // lanes of one vector (the loops above leave them as four scalar sums).
  // The same stretches, the same sums.
  void slide_four_lanes() {
    typedef std::int32_t Lanes __attribute__((vector_size(16)));
    const Sum* col = columns_.data();
    Sum* out = sums_.data();
    auto column = [col](int x) {
      Lanes v;
      std::memcpy(&v, col + 4 * static_cast<std::size_t>(x), sizeof v);
      return v;
    };
    auto put = [out](int x, Lanes v) { std::memcpy(out + 4 * static_cast<std::size_t>(x), &v, sizeof v); };
    const int r = radius_;
    const int width = width_;
    Lanes s = {0, 0, 0, 0};
    for (int x = 0; x <= std::min(r, width - 1); ++x) s += column(x);
    put(0, s);
    const int enter_end = std::max(1, width - r);
    const int leave_from = r + 1;
    const int entering_only = std::min({width, enter_end, leave_from});
    const int spanning = std::min(width, leave_from);
    const int sliding = std::min(width, enter_end);
    int x = 1;
    for (; x < entering_only; ++x) put(x, s += column(x + r));
    for (; x < spanning; ++x) put(x, s);
    for (; x < sliding; ++x) put(x, s += column(x + r) - column(x - r - 1));
    for (; x < width; ++x) put(x, s -= column(x - r - 1));
  }

  int width_;
  int height_;
  int radius_;
  int y_ = -1;
  int row_count_ = 0;
  int slots_;
  std::vector<Sum> values_;
  std::vector<Sum*> kept_rows_;  // with kKeepRows: the slot of each kept row
  Sum* spare_row_ = nullptr;
  std::vector<Sum> columns_;
  std::vector<Sum> sums_;
  std::vector<int> column_counts_;
};

// True when a window sum of values up to max_value over any window of the
// image fits in 32 bits: a window never holds more than width x height
// pixels. Every image the engine accepts (at most 2048 x 2048) passes for
// byte values (255 x 2048^2 < 2^31) and for the pairs of absolute byte
// differences of the direction estimate (510 x 2048^2 < 2^31).
inline bool window_sum_fits(int width, int height, std::int64_t max_value) {
  return max_value * std::max(width, 0) * std::max(height, 0) <= INT32_MAX;
}

// Calls f with a value of the sum type to use: std::int32_t when the sums
// fit, std::int64_t otherwise.
template <typename F>
void with_sum_type(bool narrow, F&& f) {
  if (narrow)
    f(std::int32_t{});
  else
    f(std::int64_t{});
}

// floor(sum / count) for 0 <= sum < 2^31 and count >= 1. Done in double:
// both convert exactly, and when the quotient is not a whole number it lies
// at least 1 / count below the next one, while the rounding of the division
// moves it by at most 2^-53 x sum / count < 1 / count; so truncation gives
// the integer quotient. Unlike an integer division it vectorises.
inline int mean_of(std::int32_t sum, int count) {
  return static_cast<int>(static_cast<double>(sum) / static_cast<double>(count));
}
inline int mean_of(std::int64_t sum, int count) { return static_cast<int>(sum / count); }

// Calls f with a value of the sum type for window sums of values up to
// max_value over windows up to the given radius: std::uint16_t when every
// such sum stays below 2^16 (a window holds at most the smaller of its side
// and the image's in each direction: for bytes, radius 7 and below always
// do), else as with_sum_type.
template <typename F>
void with_window_sum_type(int radius, int width, int height, std::int64_t max_value, F&& f) {
  const std::int64_t side = 2 * static_cast<std::int64_t>(effective_radius(radius, width, height)) + 1;
  if (max_value * std::min<std::int64_t>(side, width) * std::min<std::int64_t>(side, height) < (1 << 16))
    f(std::uint16_t{});
  else
    with_sum_type(window_sum_fits(width, height, max_value), f);
}

template <typename F>
void with_byte_sum_type(int radius, int width, int height, F&& f) {
  with_window_sum_type(radius, width, height, 255, f);
}

// True when every window sum of values up to max_value over windows of the
// given radius stays below 2^24 (a window holds at most the smaller of its
// side and the image's in each direction).
inline bool window_sum_small(int radius, int width, int height, std::int64_t max_value) {
  const std::int64_t side = 2 * static_cast<std::int64_t>(effective_radius(radius, width, height)) + 1;
  return max_value * std::min<std::int64_t>(side, width) * std::min<std::int64_t>(side, height) < (1 << 24);
}

// mean_of for sums below 2^24 (window_sum_small), in single precision: both
// operands convert exactly, and where the quotient is not whole it lies at
// least 1 / count from the next whole number while the division rounds it
// by at most 2^-24 x sum / count < 1 / count. Four lanes to a vector where
// double gives two, and a cheaper division.
inline int small_mean_of(std::int32_t sum, int count) {
  return static_cast<int>(static_cast<float>(sum) / static_cast<float>(count));
}

// True when every window sum of bytes over windows of the given radius
// stays below 2^21, the bound of scaled_mean_of (radius 44 and below always
// do).
inline bool window_sum_scalable(int radius, int width, int height) {
  const std::int64_t side = 2 * static_cast<std::int64_t>(effective_radius(radius, width, height)) + 1;
  return 255 * std::min<std::int64_t>(side, width) * std::min<std::int64_t>(side, height) < (1 << 21);
}

// 1 / count as a float rounded up: the nearest float, or the next one above
// it where the nearest lies below 1 / count (the double product of a float
// and a count below 2^29 is exact, so the test is exact).
inline float reciprocal_up(int count) {
  float r = 1.0f / static_cast<float>(count);
  if (static_cast<double>(r) * count < 1.0) r = std::nextafter(r, 2.0f);
  return r;
}

// floor(sum / count) for 0 <= sum < 2^21 and 1 <= count < 2^21, from
// reciprocal = reciprocal_up(count), by one multiplication instead of a
// division. Let q = sum / count and m = floor(q) + 1. The reciprocal lies in
// [1 / count, (1 + 2^-23) / count], so sum x reciprocal lies in [q, q + q x
// 2^-23]. It is at least q, hence at least floor(q), which is a float, so
// the rounded product is too. It is at most q + sum x 2^-23 / count, and
// m - q >= 1 / count; the rounding adds at most m x 2^-24 <= (q + 1) x
// 2^-24; as sum x (2^-23 + 2^-24) + count x 2^-24 < 1 for such sums and
// counts, the rounded product stays below m. So truncation gives floor(q).
inline int scaled_mean_of(std::int32_t sum, float reciprocal) {
  return static_cast<int>(static_cast<float>(sum) * reciprocal);
}

// The reciprocals (reciprocal_up) of the window sizes of a row, renewed
// only when the row count changes (near the top and the bottom).
class WindowReciprocals {
 public:
  explicit WindowReciprocals(int width) : values_(static_cast<std::size_t>(std::max(width, 0))) {}
  const float* of(int row_count, const int* columns) {
    if (row_count != rows_) {
      rows_ = row_count;
      for (std::size_t x = 0; x < values_.size(); ++x) values_[x] = reciprocal_up(row_count * columns[x]);
    }
    return values_.data();
  }

 private:
  std::vector<float> values_;
  int rows_ = -1;
};

// write_means for window sums below 2^21, with the reciprocals of the
// window sizes.
template <typename Sum>
void write_scaled_means(const Sum* __restrict sums, const float* __restrict reciprocals, int width,
                        std::uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(scaled_mean_of(sums[x], reciprocals[x]));
}

// Sums below 2^16 are below 2^24 too.
inline int mean_of(std::uint16_t sum, int count) { return small_mean_of(sum, count); }

// Running means of the bytes of an image over windows of one radius, row
// after row. Sum as for WindowSums (byte values).
template <typename Rows, typename Sum = std::int64_t>
class MeanWindow {
 public:
  MeanWindow(Rows& rows, int width, int height, int radius)
      : rows_(rows), width_(width), sums_(width, height, radius) {}

  void advance() { sums_.advance_bytes(rows_); }
  int mean(int x) const { return mean_of(sums_.sums(0)[x], sums_.pixel_count(x)); }
  // True when value >= mean(x), without the division: for a sum S >= 0 of
  // n >= 1 pixels, value >= floor(S / n) exactly when S < (value + 1) x n,
  // that is S - value x n < n. With 32-bit sums value x n stays within
  // 255 x width x height, which window_sum_fits keeps below 2^31.
  bool at_or_above_mean(int value, int x) const { return at_or_above(sum(x), value, pixel_count(x)); }
  static bool at_or_above(Sum sum, int value, int count) {
    return sum - static_cast<Sum>(value) * count < count;
  }
  Sum sum(int x) const { return sums_.sums(0)[x]; }
  int pixel_count(int x) const { return sums_.pixel_count(x); }
  // The current row's sums and window sizes, for loops that take them as
  // restrict pointers (byte stores could otherwise alias the window).
  const Sum* sums() const { return sums_.sums(0); }
  const int* column_counts() const { return sums_.column_counts(); }
  int row_count() const { return sums_.row_count(); }

 private:
  Rows& rows_;
  int width_;
  WindowSums<Sum, 1> sums_;
};

// out[x] = the mean of window x, from its sum and its pixel count
// row_count x columns[x].
template <typename Sum>
void write_means(const Sum* __restrict sums, const int* __restrict columns, int row_count, int width,
                 std::uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(mean_of(sums[x], row_count * columns[x]));
}
// write_means for sums below 2^24.
inline void write_small_means(const std::int32_t* __restrict sums, const int* __restrict columns, int row_count,
                              int width, std::uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(small_mean_of(sums[x], row_count * columns[x]));
}

// True when the arguments describe an image the filters can walk.
inline bool valid_image(int width, int height, ByteImage image) {
  return image != nullptr && width > 0 && height > 0;
}

}  // namespace zyl::extract

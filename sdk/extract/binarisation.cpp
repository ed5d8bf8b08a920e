// Binarisations of the grey image against window means, and the 3 x 3
// majority smoothing of binary images.
#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "extract/window_sums.h"
#include "zylscan/extract_filters.h"
#include "extract/binarisation.h"

namespace zyl::extract {
namespace {

constexpr std::uint8_t kRidge = 0;
constexpr std::uint8_t kBackground = 255;

std::uint8_t threshold(int value, int limit) { return value >= limit ? kBackground : kRidge; }

void binarize(int width, int height, ByteImage image, int radius) {
  const int r = effective_radius(radius, width, height);
  RowRing rows(image, width, height, ring_rows(r, 0, height));
  with_byte_sum_type(r, width, height, [&](auto zero) {
    MeanWindow<RowRing, decltype(zero)> means(rows, width, height, r);
    for (int y = 0; y < height; ++y) {
      means.advance();
      const std::uint8_t* g = rows[y];
      std::uint8_t* out = image[y];
      for (int x = 0; x < width; ++x) out[x] = means.at_or_above_mean(g[x], x) ? kBackground : kRidge;
    }
  });
}

// Both means are taken from grey as it was before the call, so the two
// radii may come in either order (and out may even be grey itself).
void binarize_two(int width, int height, ByteImage grey, ByteImage out, int r1, int r2) {
  const int a = effective_radius(r1, width, height);
  const int b = effective_radius(r2, width, height);
  RowRing rows(grey, width, height, ring_rows(std::max(a, b), 0, height));
  with_byte_sum_type(std::max(a, b), width, height, [&](auto zero) {
    MeanWindow<RowRing, decltype(zero)> first(rows, width, height, a);
    MeanWindow<RowRing, decltype(zero)> second(rows, width, height, b);
    for (int y = 0; y < height; ++y) {
      first.advance();
      second.advance();
      const std::uint8_t* g = rows[y];
      std::uint8_t* o = out[y];
      for (int x = 0; x < width; ++x) o[x] = threshold(g[x], (second.mean(x) + first.mean(x)) >> 1);
    }
  });
}

// One row of the adaptive binarisation; the windows' rows come in as
// restrict pointers so that the loop vectorises.
template <typename Sum>
void adaptive_row_of(const std::uint8_t* __restrict g, const std::uint8_t* __restrict dens, int high, int low,
                     const Sum* __restrict s_small, const int* __restrict c_small, int r_small,
                     const Sum* __restrict s_middle, const int* __restrict c_middle, int r_middle,
                     const Sum* __restrict s_large, const int* __restrict c_large, int r_large, int width,
                     std::uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) {
    // Every window is read, then one chosen: selects, not branches.
    const int d = dens[x];
    const Sum ss = s_small[x], sm = s_middle[x], sl = s_large[x];
    const bool dense = d >= high, middle = d >= low;
    const Sum sum = dense ? ss : middle ? sm : sl;
    // The window's rows and columns are chosen first: one multiplication.
    const int rows = dense ? r_small : middle ? r_middle : r_large;
    const int columns = dense ? c_small[x] : middle ? c_middle[x] : c_large[x];
    const int count = rows * columns;
    out[x] = MeanWindow<RowRing, Sum>::at_or_above(sum, g[x], count) ? kBackground : kRidge;
  }
}

template <typename Window>
void adaptive_row(const std::uint8_t* g, const std::uint8_t* dens, int high, int low, const Window& small,
                  const Window& middle, const Window& large, int width, std::uint8_t* out) {
  adaptive_row_of(g, dens, high, low, small.sums(), small.column_counts(), small.row_count(), middle.sums(),
                  middle.column_counts(), middle.row_count(), large.sums(), large.column_counts(),
                  large.row_count(), width, out);
}

// The window sizes of a row as 16-bit counts, renewed only when the row
// count changes.
class WindowSizes16 {
 public:
  explicit WindowSizes16(int width) : values_(static_cast<std::size_t>(std::max(width, 0))) {}
  const std::uint16_t* of(int row_count, const int* columns) {
    if (row_count != rows_) {
      rows_ = row_count;
      for (std::size_t x = 0; x < values_.size(); ++x) values_[x] = static_cast<std::uint16_t>(row_count * columns[x]);
    }
    return values_.data();
  }

 private:
  std::vector<std::uint16_t> values_;
  int rows_ = -1;
};

// True when windows up to the radius hold at most 255 pixels: 16-bit sums
// then compare with (grey + 1) x size <= 256 x 255 in 16 bits.
bool sizes_fit_16(int radius, int width, int height) {
  const std::int64_t side = 2 * static_cast<std::int64_t>(radius) + 1;
  return std::min<std::int64_t>(side, width) * std::min<std::int64_t>(side, height) <= 255;
}

// A pixel lies at or above the mean of a window of n pixels summing to sum
// (MeanWindow::at_or_above) exactly when sum < (grey + 1) x n.
inline bool above16(std::uint16_t sum, int grey, std::uint16_t n) {
  return sum < static_cast<std::uint16_t>((grey + 1) * n);
}

// adaptive_row_of for 16-bit sums of windows of at most 255 pixels.
void adaptive_row16(const std::uint8_t* __restrict g, const std::uint8_t* __restrict dens, int high, int low,
                    const std::uint16_t* __restrict s_small, const std::uint16_t* __restrict n_small,
                    const std::uint16_t* __restrict s_middle, const std::uint16_t* __restrict n_middle,
                    const std::uint16_t* __restrict s_large, const std::uint16_t* __restrict n_large, int width,
                    std::uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) {
    // Every window is read, then one chosen: selects, not branches.
    const int d = dens[x];
    const bool dense = d >= high, middle = d >= low;
    const std::uint16_t ss = s_small[x], sm = s_middle[x], sl = s_large[x];
    const std::uint16_t ns = n_small[x], nm = n_middle[x], nl = n_large[x];
    const std::uint16_t sum = dense ? ss : middle ? sm : sl;
    const std::uint16_t n = dense ? ns : middle ? nm : nl;
    out[x] = above16(sum, g[x], n) ? kBackground : kRidge;
  }
}

// Dense ridge regions are compared with the small window, sparse ones with
// the large window. Any order of the radii gives the means it names.
void binarize_adaptive(int width, int height, ByteImage grey, ByteImage density, int high, int low, int r_small,
                       int r_middle, int r_large) {
  const int rs = effective_radius(r_small, width, height);
  const int rm = effective_radius(r_middle, width, height);
  const int rl = effective_radius(r_large, width, height);
  RowRing rows(grey, width, height, ring_rows(std::max({rs, rm, rl}), 0, height));
  const bool sizes16 = sizes_fit_16(std::max({rs, rm, rl}), width, height);
  WindowSizes16 n_small(sizes16 ? width : 0), n_middle(sizes16 ? width : 0), n_large(sizes16 ? width : 0);
  with_byte_sum_type(std::max({rs, rm, rl}), width, height, [&](auto zero) {
    MeanWindow<RowRing, decltype(zero)> small(rows, width, height, rs);
    MeanWindow<RowRing, decltype(zero)> middle(rows, width, height, rm);
    MeanWindow<RowRing, decltype(zero)> large(rows, width, height, rl);
    for (int y = 0; y < height; ++y) {
      small.advance();
      middle.advance();
      large.advance();
      const std::uint8_t* g = rows[y];
      const std::uint8_t* dens = density[y];
      std::uint8_t* out = grey[y];
      if constexpr (std::is_same_v<decltype(zero), std::uint16_t>) {
        if (sizes16) {
          adaptive_row16(g, dens, high, low, small.sums(), n_small.of(small.row_count(), small.column_counts()),
                         middle.sums(), n_middle.of(middle.row_count(), middle.column_counts()), large.sums(),
                         n_large.of(large.row_count(), large.column_counts()), width, out);
          continue;
        }
      }
      adaptive_row(g, dens, high, low, small, middle, large, width, out);
    }
  });
}

// Choice bits of the adaptive binarisation: set where the pixel is at or
// above the mean of the small, middle or large window.
constexpr std::uint8_t kAboveSmall = 1, kAboveMiddle = 2, kAboveLarge = 4;

// One row of binarize_two_with_choices. The two means of binarize_two come
// from the small and the large window: by the reciprocals of the window
// sizes when kScaled says every window sum stays below 2^21
// (scaled_mean_of), else by mean_of; the same quotients either way.
template <bool kScaled, typename Sum>
void two_and_choices_row(const std::uint8_t* __restrict g, const Sum* __restrict s_small,
                         const int* __restrict c_small, int r_small, const float* __restrict rcp_small,
                         const Sum* __restrict s_middle, const int* __restrict c_middle, int r_middle,
                         const Sum* __restrict s_large, const int* __restrict c_large, int r_large,
                         const float* __restrict rcp_large, int width, std::uint8_t* __restrict out,
                         std::uint8_t* __restrict choice) {
  using Window = MeanWindow<RowRing, Sum>;
  for (int x = 0; x < width; ++x) {
    const int n_small = r_small * c_small[x], n_middle = r_middle * c_middle[x], n_large = r_large * c_large[x];
    int m_small, m_large;
    if constexpr (kScaled) {
      m_small = scaled_mean_of(s_small[x], rcp_small[x]);
      m_large = scaled_mean_of(s_large[x], rcp_large[x]);
    } else {
      m_small = mean_of(s_small[x], n_small);
      m_large = mean_of(s_large[x], n_large);
    }
    out[x] = threshold(g[x], (m_large + m_small) >> 1);
    choice[x] = static_cast<std::uint8_t>((Window::at_or_above(s_small[x], g[x], n_small) ? kAboveSmall : 0) |
                                          (Window::at_or_above(s_middle[x], g[x], n_middle) ? kAboveMiddle : 0) |
                                          (Window::at_or_above(s_large[x], g[x], n_large) ? kAboveLarge : 0));
  }
}

// two_and_choices_row for 16-bit sums of windows of at most 255 pixels, in
// two sweeps: the means of binarize_two (by reciprocals, the sums being
// below 2^16), then the choice bits in 16-bit lanes.
void two_and_choices_row16(const std::uint8_t* __restrict g, const std::uint16_t* __restrict s_small,
                           const std::uint16_t* __restrict n_small, const float* __restrict rcp_small,
                           const std::uint16_t* __restrict s_middle, const std::uint16_t* __restrict n_middle,
                           const std::uint16_t* __restrict s_large, const std::uint16_t* __restrict n_large,
                           const float* __restrict rcp_large, int width, std::uint8_t* __restrict out,
                           std::uint8_t* __restrict choice) {
  for (int x = 0; x < width; ++x) {
    const int m_small = scaled_mean_of(s_small[x], rcp_small[x]);
    const int m_large = scaled_mean_of(s_large[x], rcp_large[x]);
    out[x] = threshold(g[x], (m_large + m_small) >> 1);
  }
  for (int x = 0; x < width; ++x)
    choice[x] = static_cast<std::uint8_t>((above16(s_small[x], g[x], n_small[x]) ? kAboveSmall : 0) |
                                          (above16(s_middle[x], g[x], n_middle[x]) ? kAboveMiddle : 0) |
                                          (above16(s_large[x], g[x], n_large[x]) ? kAboveLarge : 0));
}

// binarize_two of grey with the small and the large radius into out, and in
// the same pass the choice bits of binarize_adaptive with all three radii,
// written over grey (whose values the adaptive binarisation then no longer
// needs: it compares each pixel with the window means only).
void binarize_two_with_choices(int width, int height, ByteImage grey, ByteImage out, int r_small, int r_middle,
                               int r_large) {
  const int rs = effective_radius(r_small, width, height);
  const int rm = effective_radius(r_middle, width, height);
  const int rl = effective_radius(r_large, width, height);
  RowRing rows(grey, width, height, ring_rows(std::max({rs, rm, rl}), 0, height));
  const bool scalable = window_sum_scalable(rs, width, height) && window_sum_scalable(rl, width, height);
  WindowReciprocals rcp_small(scalable ? width : 0), rcp_large(scalable ? width : 0);
  const bool sizes16 = sizes_fit_16(std::max({rs, rm, rl}), width, height);
  WindowSizes16 n_small(sizes16 ? width : 0), n_middle(sizes16 ? width : 0), n_large(sizes16 ? width : 0);
  with_byte_sum_type(std::max({rs, rm, rl}), width, height, [&](auto zero) {
    using Sum = decltype(zero);
    MeanWindow<RowRing, Sum> ws(rows, width, height, rs), wm(rows, width, height, rm), wl(rows, width, height, rl);
    for (int y = 0; y < height; ++y) {
      ws.advance();
      wm.advance();
      wl.advance();
      const std::uint8_t* g = rows[y];
      if constexpr (std::is_same_v<Sum, std::uint16_t>) {
        // 16-bit sums are below 2^21, so scalable holds as well.
        if (sizes16) {
          two_and_choices_row16(g, ws.sums(), n_small.of(ws.row_count(), ws.column_counts()),
                                rcp_small.of(ws.row_count(), ws.column_counts()), wm.sums(),
                                n_middle.of(wm.row_count(), wm.column_counts()), wl.sums(),
                                n_large.of(wl.row_count(), wl.column_counts()),
                                rcp_large.of(wl.row_count(), wl.column_counts()), width, out[y], grey[y]);
          continue;
        }
      }
      auto row = [&]<bool kScaled>(const float* small_reciprocals, const float* large_reciprocals) {
        two_and_choices_row<kScaled>(g, ws.sums(), ws.column_counts(), ws.row_count(), small_reciprocals,
                                     wm.sums(), wm.column_counts(), wm.row_count(), wl.sums(), wl.column_counts(),
                                     wl.row_count(), large_reciprocals, width, out[y], grey[y]);
      };
      if constexpr (!std::is_same_v<Sum, std::int64_t>) {
        if (scalable) {
          row.template operator()<true>(rcp_small.of(ws.row_count(), ws.column_counts()),
                                        rcp_large.of(wl.row_count(), wl.column_counts()));
          continue;
        }
      }
      row.template operator()<false>(nullptr, nullptr);
    }
  });
}

// The adaptive binarisation from the choice bits: the density picks the
// window as in binarize_adaptive. The limits come as bytes with masks that
// say whether any density reaches them, so that the row runs in byte lanes.
void binarize_by_choices_row(std::uint8_t* __restrict choice, const std::uint8_t* __restrict dens,
                             std::uint8_t high, std::uint8_t high_reachable, std::uint8_t low,
                             std::uint8_t low_reachable, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t d = dens[x];
    const std::uint8_t dense = (d >= high ? 0xFF : 0) & high_reachable;
    const std::uint8_t middle = (d >= low ? 0xFF : 0) & low_reachable;
    const std::uint8_t bit = dense ? kAboveSmall : middle ? kAboveMiddle : kAboveLarge;
    choice[x] = (choice[x] & bit) != 0 ? kBackground : kRidge;
  }
}

// Five or more background pixels of nine (sum >= 5 x 255 - 123) make
// background; the frame becomes background.
void majority(int width, int height, ByteImage image) {
  RowRing rows(image, width, height, std::min(3, height));
  for (int y = 1; y + 1 < height; ++y) {
    const std::uint8_t* above = rows[y - 1];
    const std::uint8_t* here = rows[y];
    const std::uint8_t* below = rows[y + 1];
    std::uint8_t* out = image[y];
    for (int x = 1; x + 1 < width; ++x) {
      // At most 9 x 255: 16-bit lanes.
      std::uint16_t sum = 0;
      for (int dx = -1; dx <= 1; ++dx)
        sum = static_cast<std::uint16_t>(sum + above[x + dx] + here[x + dx] + below[x + dx]);
      out[x] = sum >= 1152 ? kBackground : kRidge;
    }
  }
  std::fill_n(image[0], width, kBackground);
  std::fill_n(image[height - 1], width, kBackground);
  for (int y = 0; y < height; ++y) image[y][0] = image[y][width - 1] = kBackground;
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

void zyl::extract::BinarizeImage(int32_t width, int32_t height, ByteImage image, int32_t r) {
  if (valid_image(width, height, image)) binarize(width, height, image, r);
}

void zyl::extract::BinarizeImageTwo(int32_t width, int32_t height, ByteImage grey, ByteImage out, int32_t r1,
                                    int32_t r2) {
  if (valid_image(width, height, grey) && out) binarize_two(width, height, grey, out, r1, r2);
}

void zyl::extract::BinarizeImageA(int32_t width, int32_t height, ByteImage grey, ByteImage density, int32_t high,
                                  int32_t low, int32_t r_small, int32_t r_middle, int32_t r_large) {
  if (valid_image(width, height, grey) && density)
    binarize_adaptive(width, height, grey, density, high, low, r_small, r_middle, r_large);
}

void zyl::extract::BinarizeImageTwoWithChoices(int32_t width, int32_t height, ByteImage grey, ByteImage out,
                                               int32_t r_small, int32_t r_middle, int32_t r_large) {
  if (valid_image(width, height, grey) && out)
    binarize_two_with_choices(width, height, grey, out, r_small, r_middle, r_large);
}

void zyl::extract::BinarizeImageByChoices(int32_t width, int32_t height, ByteImage choices, ByteImage density,
                                          int32_t high, int32_t low) {
  if (!valid_image(width, height, choices) || !density) return;
  // A density byte reaches a limit above 255 never and one below 0 always.
  auto limit = [](int32_t v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
  auto reachable = [](int32_t v) { return static_cast<std::uint8_t>(v <= 255 ? 0xFF : 0); };
  for (int y = 0; y < height; ++y)
    binarize_by_choices_row(choices[y], density[y], limit(high), reachable(high), limit(low), reachable(low), width);
}

int32_t zyl::extract::BSmoothImage(int32_t width, int32_t height, ByteImage image) {
  if (valid_image(width, height, image)) majority(width, height, image);
  return height - 1;
}

extern "C" {

ZYL_API void BinarizeImage(int32_t width, int32_t height, ByteImage image, int32_t r) {
  zyl::extract::BinarizeImage(width, height, image, r);
}
ZYL_API void BinarizeImageTwo(int32_t width, int32_t height, ByteImage grey, ByteImage out, int32_t r1, int32_t r2) {
  zyl::extract::BinarizeImageTwo(width, height, grey, out, r1, r2);
}
ZYL_API void BinarizeImageA(int32_t width, int32_t height, ByteImage grey, ByteImage density, int32_t high, int32_t low,
                            int32_t r_small, int32_t r_middle, int32_t r_large) {
  zyl::extract::BinarizeImageA(width, height, grey, density, high, low, r_small, r_middle, r_large);
}
ZYL_API int32_t BSmoothImage(int32_t width, int32_t height, ByteImage image) {
  return zyl::extract::BSmoothImage(width, height, image);
}

}  // extern "C"

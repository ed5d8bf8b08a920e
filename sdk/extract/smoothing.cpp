// Mean filters and local contrast normalisation.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "extract/derived_rows.h"
#include "extract/window_sums.h"
#include "zylscan/extract_filters.h"
#include "extract/smoothing.h"

namespace zyl::extract {
namespace {

// Means of the rows that `rows` gives, written into out: over the image
// itself through a RowRing, or from another image directly.
template <typename Rows>
void mean_filter_rows(Rows& rows, int width, int height, int r, ByteImage out) {
  const bool scalable = window_sum_scalable(r, width, height);
  const bool small = window_sum_small(r, width, height, 255);
  WindowReciprocals reciprocals(scalable ? width : 0);
  with_byte_sum_type(r, width, height, [&](auto zero) {
    MeanWindow<Rows, decltype(zero)> means(rows, width, height, r);
    for (int y = 0; y < height; ++y) {
      means.advance();
      if constexpr (std::is_same_v<Rows, RowRing>) rows.load_through(y);
      if constexpr (!std::is_same_v<decltype(zero), std::int64_t>) {
        if (scalable) {
          write_scaled_means(means.sums(), reciprocals.of(means.row_count(), means.column_counts()), width,
                             out[y]);
          continue;
        }
      }
      if constexpr (std::is_same_v<decltype(zero), std::int32_t>) {
        if (small) {
          write_small_means(means.sums(), means.column_counts(), means.row_count(), width, out[y]);
          continue;
        }
      }
      write_means(means.sums(), means.column_counts(), means.row_count(), width, out[y]);
    }
  });
}

void mean_filter(int width, int height, ByteImage image, int radius) {
  const int r = effective_radius(radius, width, height);
  RowRing rows(image, width, height, ring_rows(r, 0, height));
  mean_filter_rows(rows, width, height, r, image);
}

// col[x] = above[x] + here[x] + below[x], a missing row counting 0.
void column_sums(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                 const std::uint8_t* __restrict below, int width, std::uint16_t* __restrict col) {
  if (above && below)
    for (int x = 0; x < width; ++x) col[x] = static_cast<std::uint16_t>(above[x] + here[x] + below[x]);
  else if (above)
    for (int x = 0; x < width; ++x) col[x] = static_cast<std::uint16_t>(above[x] + here[x]);
  else if (below)
    for (int x = 0; x < width; ++x) col[x] = static_cast<std::uint16_t>(here[x] + below[x]);
  else
    for (int x = 0; x < width; ++x) col[x] = here[x];
}

// One row of putty: the 3 x 3 sums from the column sums of the window's
// rows, divided by the window sizes through their reciprocals (the sums are
// at most 2295, far below the 2^21 of scaled_mean_of).
void putty_row(const std::uint16_t* __restrict col, const float* __restrict reciprocals, int width,
               std::uint8_t* __restrict out) {
  if (width == 1) {
    out[0] = static_cast<std::uint8_t>(scaled_mean_of(col[0], reciprocals[0]));
    return;
  }
  out[0] = static_cast<std::uint8_t>(scaled_mean_of(col[0] + col[1], reciprocals[0]));
  for (int x = 1; x + 1 < width; ++x)
    out[x] = static_cast<std::uint8_t>(scaled_mean_of(col[x - 1] + col[x] + col[x + 1], reciprocals[x]));
  out[width - 1] =
      static_cast<std::uint8_t>(scaled_mean_of(col[width - 2] + col[width - 1], reciprocals[width - 1]));
}

// PuttyImage, the mean over the 3 x 3 window (clipped to the image) written
// over the image: each row's column sums from the original rows above (kept
// in a copy), at and below it, without running sums.
void putty(int width, int height, ByteImage image) {
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> above(w), here(w);
  std::vector<std::uint16_t> col(w);
  // Reciprocals of the window sizes for windows of 1, 2 and 3 rows.
  std::vector<float> reciprocals[4];
  for (int rows = 1; rows <= 3; ++rows) {
    reciprocals[rows].resize(w);
    for (int x = 0; x < width; ++x) {
      const int columns = std::min(width - 1, x + 1) - std::max(0, x - 1) + 1;
      reciprocals[rows][static_cast<std::size_t>(x)] = reciprocal_up(rows * columns);
    }
  }
  for (int y = 0; y < height; ++y) {
    std::copy_n(image[y], w, here.data());
    const bool up = y > 0, down = y + 1 < height;
    column_sums(up ? above.data() : nullptr, here.data(), down ? image[y + 1] : nullptr, width, col.data());
    putty_row(col.data(), reciprocals[1 + up + down].data(), width, image[y]);
    above.swap(here);
  }
}

// One row of the stretch below; the deviation sums come with their window
// sizes (row_count x columns[x]). Written without branches so that it
// vectorises: (g - low) x 255 / (high - low) is taken for every pixel in
// single precision, exact because the dividend is a whole number below
// 2^16 and the divisor one of 1..255 (so the quotient truncates as the
// integer division does, towards zero); a pixel at or below low gives at
// most 0 and one at or above high at least 255, which the clamp turns into
// 0 and 255; where low == high the pixel keeps its grey value.
template <typename Sum>
void stretch_row(const std::uint8_t* __restrict s, const std::uint8_t* __restrict g, const Sum* __restrict sums,
                 const int* __restrict columns, int row_count, int width, std::uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) {
    const int d = mean_of(sums[x], row_count * columns[x]);
    const int low = std::max(s[x] - d, 0);
    const int high = std::min(s[x] + d, 255);
    const int span = high - low;
    const auto t = static_cast<int>(static_cast<float>((g[x] - low) * 255) / static_cast<float>(std::max(span, 1)));
    const int v = std::clamp(t, 0, 255);
    // A mask rather than a condition: the compiler would otherwise move the
    // division under the condition, where it no longer vectorises.
    const int keep = -static_cast<int>(span == 0);
    out[x] = static_cast<std::uint8_t>((v & ~keep) | (g[x] & keep));
  }
}

// Stretches grey linearly so that smooth - d maps to 0 and smooth + d to 255,
// d being the mean deviation of grey from smooth around the pixel.
void normalize(int width, int height, ByteImage grey, ByteImage smooth, int radius) {
  const int r = effective_radius(radius, width, height);
  // The deviation of each row, made once as it enters the window (row
  // y + r at output row y, before that row of smooth is overwritten) and
  // read again as it leaves.
  auto deviation_of = [&](int yy, std::uint8_t* __restrict out) {
    const std::uint8_t* __restrict s = smooth[yy];
    const std::uint8_t* __restrict g = grey[yy];
    for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(std::abs(s[x] - g[x]));
  };
  DerivedRows<decltype(deviation_of)> deviations(width, height, ring_rows(r, 0, height), deviation_of);
  // Output row y is written over smooth row y, which the stretch reads.
  std::vector<std::uint8_t> smooth_row(static_cast<std::size_t>(width));
  // Deviations are bytes, so their window sums are bounded as the means'.
  with_byte_sum_type(r, width, height, [&](auto zero) {
    using Sum = decltype(zero);
    WindowSums<Sum, 1> deviation(width, height, r);
    for (int y = 0; y < height; ++y) {
      deviation.advance_bytes(deviations);
      std::copy_n(smooth[y], width, smooth_row.data());
      stretch_row(smooth_row.data(), grey[y], deviation.sums(0), deviation.column_counts(), deviation.row_count(),
                  width, smooth[y]);
    }
  });
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

void zyl::extract::PuttyImage(int32_t width, int32_t height, ByteImage image) {
  if (valid_image(width, height, image)) putty(width, height, image);
}

void zyl::extract::SmoothImage(int32_t width, int32_t height, ByteImage image, int32_t r) {
  if (valid_image(width, height, image)) mean_filter(width, height, image, r);
}

void zyl::extract::SmoothImageInto(int32_t width, int32_t height, ByteImage from, ByteImage to, int32_t r) {
  if (!valid_image(width, height, from) || !to) return;
  const int radius = effective_radius(r, width, height);
  DirectRows rows(from);
  mean_filter_rows(rows, width, height, radius, to);
}

void zyl::extract::NormalizeImage(int32_t width, int32_t height, ByteImage grey, ByteImage smooth, int32_t r) {
  if (valid_image(width, height, grey) && smooth) normalize(width, height, grey, smooth, r);
}

extern "C" {

ZYL_API void PuttyImage(int32_t width, int32_t height, ByteImage image) {
  zyl::extract::PuttyImage(width, height, image);
}
ZYL_API void SmoothImage(int32_t width, int32_t height, ByteImage image, int32_t r) {
  zyl::extract::SmoothImage(width, height, image, r);
}
ZYL_API void NormalizeImage(int32_t width, int32_t height, ByteImage grey, ByteImage smooth, int32_t r) {
  zyl::extract::NormalizeImage(width, height, grey, smooth, r);
}

}  // extern "C"

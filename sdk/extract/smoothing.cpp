// Mean filters and local contrast normalisation.
#include <cstdint>
#include <cstdlib>

#include "extract/window_sums.h"
#include "zylscan/extract_filters.h"
#include "extract/smoothing.h"

namespace zyl::extract {
namespace {

void mean_filter(int width, int height, ByteImage image, int radius) {
  const int r = effective_radius(radius, width, height);
  RowRing rows(image, width, height, ring_rows(r, 0, height));
  with_sum_type(window_sum_fits(width, height, 255), [&](auto zero) {
    MeanWindow<RowRing, decltype(zero)> means(rows, width, height, r);
    for (int y = 0; y < height; ++y) {
      means.advance();
      rows.load_through(y);
      write_means(means.sums(), means.column_counts(), means.row_count(), width, image[y]);
    }
  });
}

// Stretches grey linearly so that smooth - d maps to 0 and smooth + d to 255,
// d being the mean deviation of grey from smooth around the pixel.
void normalize(int width, int height, ByteImage grey, ByteImage smooth, int radius) {
  const int r = effective_radius(radius, width, height);
  RowRing smooth_rows(smooth, width, height, ring_rows(r, 0, height));
  // Deviations are bytes, so their window sums are bounded as the means'.
  with_sum_type(window_sum_fits(width, height, 255), [&](auto zero) {
    using Sum = decltype(zero);
    WindowSums<Sum, 1> deviation(width, height, r);
    for (int y = 0; y < height; ++y) {
      deviation.advance([&](int yy, const std::array<Sum*, 1>& out) {
        const std::uint8_t* s = smooth_rows[yy];
        const std::uint8_t* g = grey[yy];
        for (int x = 0; x < width; ++x) out[0][x] = std::abs(s[x] - g[x]);
      });
      const std::uint8_t* s = smooth_rows[y];
      const std::uint8_t* g = grey[y];
      std::uint8_t* out = smooth[y];
      for (int x = 0; x < width; ++x) {
        const int d = mean_of(deviation.sums(0)[x], deviation.pixel_count(x));
        const int low = d > s[x] ? 0 : s[x] - d;
        const int high = s[x] + d > 255 ? 255 : s[x] + d;
        int v;
        if (low == high)
          v = g[x];
        else if (g[x] <= low)
          v = 0;
        else if (g[x] >= high)
          v = 255;
        else
          v = (g[x] - low) * 255 / (high - low);
        out[x] = static_cast<std::uint8_t>(v);
      }
    }
  });
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;


void zyl::extract::PuttyImage(int32_t width, int32_t height, ByteImage image) {
  if (valid_image(width, height, image)) mean_filter(width, height, image, 1);
}

void zyl::extract::SmoothImage(int32_t width, int32_t height, ByteImage image, int32_t r) {
  if (valid_image(width, height, image)) mean_filter(width, height, image, r);
}

void zyl::extract::NormalizeImage(int32_t width, int32_t height, ByteImage grey, ByteImage smooth, int32_t r) {
  if (valid_image(width, height, grey) && smooth) normalize(width, height, grey, smooth, r);
}

extern "C" {

ZYL_API void PuttyImage(int32_t width, int32_t height, ByteImage image) { zyl::extract::PuttyImage(width, height, image); }
ZYL_API void SmoothImage(int32_t width, int32_t height, ByteImage image, int32_t r) { zyl::extract::SmoothImage(width, height, image, r); }
ZYL_API void NormalizeImage(int32_t width, int32_t height, ByteImage grey, ByteImage smooth, int32_t r) { zyl::extract::NormalizeImage(width, height, grey, smooth, r); }

}  // extern "C"

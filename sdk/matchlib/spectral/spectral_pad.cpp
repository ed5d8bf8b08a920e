// Enlarging an image into a bigger frame whose margin continues the image's
// ridges: a frequency-domain filter run over the image on a checkerboard
// canvas, stretched to the source's grey range and blended into its rim.
#include <cstdint>
#include <cstring>

#include "matchlib/image/stretch.h"
#include "matchlib/image/pixel_rows.h"
#include "matchlib/spectral/tiled_filter.h"
#include "zylscan/matchlib_fftfilt.h"
#include "zylscan/matchlib_frequency.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_window.h"

namespace zyl::matchlib {
namespace {

int pad_spectral(const std::uint8_t* src, std::uint32_t h, std::uint32_t w, std::uint32_t oh,
                 std::uint32_t ow, std::int32_t ro, std::int32_t co, std::uint8_t* out) {
  if (!src || !out || h == 0 || w == 0) return ML_BAD_ARGUMENT;
  const std::int64_t ch = std::int64_t{oh} + 16, cw = std::int64_t{ow} + 16;
  if (ch < h || ch > std::int64_t{h} + 32 || cw < w || cw > std::int64_t{w} + 32)
    return ML_WRONG_KIND;
  // The source must lie inside the canvas (its place is the caller's).
  const std::int64_t top = std::int64_t{ro} + 8, left = std::int64_t{co} + 8;
  if (top < 0 || left < 0 || top + h > ch || left + w > cw || ch > INT32_MAX || cw > INT32_MAX)
    return ML_BAD_ARGUMENT;
  const std::size_t n = pixel_count(ch, cw);
  Scratch<std::uint8_t> canvas(n);
  if (!canvas) return ML_NO_MEMORY;
  for (std::int64_t y = 0; y < ch; ++y)
    for (std::int64_t x = 0; x < cw; ++x) canvas[y * cw + x] = (y + x) % 2 ? 0 : 255;
  for (std::uint32_t y = 0; y < h; ++y)
    std::memcpy(canvas.get() + (top + y) * cw + left, src + static_cast<std::size_t>(y) * w, w);
  const int work_size = zyl::matchlib::fftfilt_work_size(32);
  Scratch<std::uint8_t> work(work_size > 0 ? static_cast<std::size_t>(work_size) : 0);
  Scratch<std::uint8_t> filtered(n);
  if (!work || !filtered) return ML_NO_MEMORY;
  if (const int st = zyl::matchlib::fftfilt_run_sized_u8(filtered.get(), canvas.get(), int(ch),
                                                         int(cw), 32, 16, work.get(), work_size,
                                                         ::fftfilt_keep_dominant_cb, nullptr);
      st != ML_OK)
    return st;
  std::uint8_t low = 0, high = 255;
  zyl::matchlib::imgstat_percentile_range(src, int(h), int(w), 1, &low, &high);
  // Histogram of the margin inside the output window, the margins taken as
  // equal on both sides.
  std::int32_t hist[256] = {};
  const std::int64_t row_lo = top, row_hi = ch - top, col_lo = left, col_hi = cw - left;
  for (std::int64_t y = 8; y < std::int64_t{oh} + 8; ++y) {
    const bool whole = y < row_lo || y >= row_hi;
    for (std::int64_t x = 8; x < std::int64_t{ow} + 8; ++x)
      if (whole || x < col_lo || x >= col_hi) ++hist[filtered[y * cw + x]];
  }
  std::uint8_t l2 = 0, h2 = 255;
  zyl::matchlib::hist_percentile_range(hist, 20, &l2, &h2);
  zyl::matchlib::imgproc_stretch_range(filtered.get(), int(ch), int(cw), l2, h2, low, high,
                                       filtered.get());
  // Put the source back, blending its two outer rows and columns with the
  // continuation (rows first, so the corners are blended twice).
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t& v = filtered[(top + y) * cw + left + x];
      const int s = src[static_cast<std::size_t>(y) * w + x];
      const bool edge_row = y < 2 || y + 2 >= h, edge_col = x < 2 || x + 2 >= w;
      if (!edge_row && !edge_col) {
        v = static_cast<std::uint8_t>(s);
        continue;
      }
      auto blend = [&](std::uint32_t i, std::uint32_t size) {
        const bool outer = i == 0 || i + 1 == size;
        v = static_cast<std::uint8_t>(outer ? (3 * v + s) >> 2 : (3 * s + v) >> 2);
      };
      if (edge_row) blend(y, h);
      if (edge_col) blend(x, w);
    }
  for (std::uint32_t y = 0; y < oh; ++y)
    std::memcpy(out + static_cast<std::size_t>(y) * ow, filtered.get() + (y + 8) * cw + 8, ow);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int img_pad_spectral_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                           uint32_t out_height, uint32_t out_width,
                                           int32_t row_offset, int32_t column_offset,
                                           uint8_t* out) {
  return pad_spectral(src, height, width, out_height, out_width, row_offset, column_offset, out);
}

// The weighted 3x3 mean shared by every pixel type that has one: the
// input type and the stored output type may differ (unsigned 16-bit pixels
// give signed 16-bit means). The output may be the input buffer when both
// types have the same size.
#pragma once

#include <algorithm>
#include <cstdint>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_object.h"

namespace zyl::matchlib {

// Weighted mean of the clipped 3x3 window; the first and last rows take the
// plain mean of their clipped window (weights ignored there).
template <class In, class Out = In>
int weighted_mean3x3(const In* src, std::uint32_t h, std::uint32_t w, const std::uint8_t* weights,
                     Out* dst) {
  // A window needs a second row and column to exist.
  if (!src || !weights || !dst || h < 2 || w < 2) return ML_BAD_ARGUMENT;
  RollingRows<In> rows(src, w, 1, same_buffer(src, dst));
  if (!rows.ok()) return ML_NO_MEMORY;
  using Wide = std::int64_t;
  for (std::uint32_t r = 0; r < h; ++r) {
    rows.enter(r);
    const In* mid = rows.row(r);
    Out* out = dst + static_cast<std::size_t>(r) * w;
    if (r == 0 || r == h - 1) {
      const In* other = rows.row(r == 0 ? 1 : r - 1);
      for (std::uint32_t c = 0; c < w; ++c) {
        const std::uint32_t c0 = c ? c - 1 : 0, c1 = std::min(c + 1, w - 1);
        Wide sum = 0;
        for (std::uint32_t k = c0; k <= c1; ++k) sum += Wide{mid[k]} + Wide{other[k]};
        out[c] = static_cast<Out>(sum / static_cast<Wide>(2 * (c1 - c0 + 1)));
      }
      continue;
    }
    const In* lines[3] = {rows.row(r - 1), mid, rows.row(r + 1)};
    const std::uint8_t* wl[3] = {weights + static_cast<std::size_t>(r - 1) * w,
                                 weights + static_cast<std::size_t>(r) * w,
                                 weights + static_cast<std::size_t>(r + 1) * w};
    for (std::uint32_t c = 0; c < w; ++c) {
      const std::uint32_t c0 = c ? c - 1 : 0, c1 = std::min(c + 1, w - 1);
      Wide sum = 0;
      std::int32_t wsum = 0;
      for (int i = 0; i < 3; ++i)
        for (std::uint32_t k = c0; k <= c1; ++k) {
          sum += Wide{wl[i][k]} * Wide{lines[i][k]};
          wsum += wl[i][k];
        }
      out[c] = wsum ? static_cast<Out>(sum / wsum) : Out{0};
    }
  }
  return ML_OK;
}

}  // namespace zyl::matchlib

// Classical image quality from the coherence of the ridge orientation, and
// the per-pixel quality map enlarged from a block map.
#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_quality.h"

namespace {

inline int coherence_point(std::uint8_t c) { return (c * 99 >> 8) + 1; }

}  // namespace

extern "C" {

ZYL_API int quality_from_block_coherence(const uint8_t* pixels, int height, int width,
                                         int block_rows, int block_columns, int block,
                                         const uint8_t* block_mask, const uint8_t* coherence,
                                         int full_height, int full_width, uint8_t* quality,
                                         uint32_t* area, int scale) {
  if (quality) *quality = 0;
  if (area) *area = 0;
  if (!quality || !area) return ML_BAD_ARGUMENT;
  if (coherence && block_rows == 0) return ML_OK;
  // A grid without blocks would divide the area by zero.
  if (block_rows <= 0 || block_columns <= 0 || block <= 0) return ML_BAD_ARGUMENT;
  const std::size_t blocks = static_cast<std::size_t>(block_rows) * block_columns;
  try {
    std::vector<std::uint8_t> computed;
    if (!coherence) {
      computed.assign(blocks, 0);
      const int rc = orient_block_coherence(pixels, height, width, computed.data(), block_mask,
                                            block_rows, block_columns, block, scale == 1 ? 1 : 0);
      if (rc != ML_OK) return rc;
      coherence = computed.data();
    }
    std::int64_t sum = 0, used = 0;
    for (std::size_t i = 0; i < blocks; ++i) {
      if (block_mask && !block_mask[i]) continue;
      sum += coherence_point(coherence[i]);
      ++used;
    }
    if (used == 0) return ML_OK;
    const std::int64_t q = (((sum - 30 * used) * 100) / 60) / used;
    *quality = static_cast<std::uint8_t>(std::clamp<std::int64_t>(q, 1, 100));
    const std::uint32_t n = static_cast<std::uint32_t>(block);
    const std::uint32_t e = static_cast<std::uint32_t>(used);
    *area = static_cast<std::uint32_t>(full_height) *
            ((n * n * static_cast<std::uint32_t>(full_width) * e) /
             (static_cast<std::uint32_t>(block_columns) * n)) /
            (n * static_cast<std::uint32_t>(block_rows));
    return ML_OK;
  } catch (const std::bad_alloc&) {
    return ML_NO_MEMORY;
  }
}

ZYL_API int quality_map_expand(const uint8_t* block_map, const uint8_t* block_mask,
                               int block_rows, int block_columns, int block, uint8_t* out,
                               int out_height, int out_width) {
  if (!block_map || !out || block_rows <= 0 || block_columns <= 0 || block <= 0)
    return ML_BAD_ARGUMENT;
  if (static_cast<std::int64_t>(block_rows) * block > out_height ||
      static_cast<std::int64_t>(block_columns) * block > out_width)
    return ML_BAD_ARGUMENT;
  try {
    std::vector<std::uint8_t> median(static_cast<std::size_t>(block_rows) * block_columns);
    int rc = filter_median3x3_u8(block_map, static_cast<std::uint32_t>(block_rows),
                                 static_cast<std::uint32_t>(block_columns), median.data());
    if (rc != ML_OK) return rc;
    rc = img_expand_bilinear_padded_u8(median.data(), static_cast<std::uint32_t>(block_rows),
                                       static_cast<std::uint32_t>(block_columns),
                                       static_cast<std::uint32_t>(block), 0, out,
                                       static_cast<std::uint32_t>(out_height),
                                       static_cast<std::uint32_t>(out_width));
    if (rc != ML_OK) return rc;
    const std::size_t n = static_cast<std::size_t>(out_height) * out_width;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(coherence_point(out[i]));
    if (block_mask)
      for (int i = 0; i < block_rows; ++i)
        for (int j = 0; j < block_columns; ++j) {
          if (block_mask[i * block_columns + j]) continue;
          for (int y = i * block; y < (i + 1) * block; ++y)
            std::fill_n(out + static_cast<std::size_t>(y) * out_width + j * block, block, 0);
        }
    return ML_OK;
  } catch (const std::bad_alloc&) {
    return ML_NO_MEMORY;
  }
}

}  // extern "C"

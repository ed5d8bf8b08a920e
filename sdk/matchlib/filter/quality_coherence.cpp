// Classical image quality from the coherence of the ridge orientation, and
// the per-pixel quality map enlarged from a block map, and the whole-image
// quality assessment.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_segmentation.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/filter/normalize.h"
#include "matchlib/filter/normalize_blocks.h"
#include "matchlib/filter/quality_coherence.h"
#include "matchlib/filter/quality_image_stats.h"
#include "matchlib/image/stretch.h"
#include "matchlib/filter/block_segmentation.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/image/median3x3.h"
#include "matchlib/image/window_copy.h"
#include "matchlib/spectral/orientation.h"

namespace {

inline int coherence_point(std::uint8_t c) { return (c * 99 >> 8) + 1; }

}  // namespace

int zyl::matchlib::quality_from_block_coherence(const uint8_t* pixels, int height, int width,
                                                int block_rows, int block_columns, int block,
                                                const uint8_t* block_mask, const uint8_t* coherence,
                                                int full_height, int full_width, uint8_t* quality,
                                                uint32_t* area, int scale) {
  if (quality) *quality = 0;
  if (area) *area = 0;
  if (!quality || !area) return ML_BAD_ARGUMENT;
  if (coherence && block_rows == 0) return ML_OK;
  // An empty or malformed block grid answers 2 rather than 0 with the
  // outputs cleared: a block side of 0 divides the area by zero, negative
  // counts would walk far past the maps, and a grid of rows without columns
  // is a caller's mix-up, not an image without foreground. Only a supplied
  // map with no block rows answers 0 (above), as its callers expect.
  if (block_rows <= 0 || block_columns <= 0 || block <= 0) return ML_BAD_ARGUMENT;
  const std::size_t blocks = static_cast<std::size_t>(block_rows) * block_columns;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<std::uint8_t> computed;
    if (!coherence) {
      computed.assign(blocks, 0);
      const int rc = zyl::matchlib::orient_block_coherence(pixels, height, width, computed.data(),
                                                           block_mask, block_rows, block_columns,
                                                           block, scale == 1 ? 1 : 0);
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
    // 64 bits: on large images (10000 x 10000) the products pass 32 bits.
    const std::uint64_t n = static_cast<std::uint64_t>(block);
    const std::uint64_t e = static_cast<std::uint64_t>(used);
    const std::uint64_t a = static_cast<std::uint64_t>(std::max(full_height, 0)) *
                            ((n * n * static_cast<std::uint64_t>(std::max(full_width, 0)) * e) /
                             (static_cast<std::uint64_t>(block_columns) * n)) /
                            (n * static_cast<std::uint64_t>(block_rows));
    *area = static_cast<std::uint32_t>(std::min<std::uint64_t>(a, 0xFFFFFFFFu));
    return ML_OK;
  });
}

int zyl::matchlib::quality_map_expand(const uint8_t* block_map, const uint8_t* block_mask,
                                      int block_rows, int block_columns, int block, uint8_t* out,
                                      int out_height, int out_width) {
  if (!block_map || !out || block_rows <= 0 || block_columns <= 0 || block <= 0)
    return ML_BAD_ARGUMENT;
  if (static_cast<std::int64_t>(block_rows) * block > out_height ||
      static_cast<std::int64_t>(block_columns) * block > out_width)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<std::uint8_t> median(static_cast<std::size_t>(block_rows) * block_columns);
    int rc = zyl::matchlib::median3x3<std::uint8_t>(
        block_map, static_cast<std::uint32_t>(block_rows),
        static_cast<std::uint32_t>(block_columns), median.data());
    if (rc != ML_OK) return rc;
    rc = zyl::matchlib::img_expand_bilinear_padded_u8(
        median.data(), static_cast<std::uint32_t>(block_rows),
        static_cast<std::uint32_t>(block_columns), static_cast<std::uint32_t>(block), 0, out,
        static_cast<std::uint32_t>(out_height), static_cast<std::uint32_t>(out_width));
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
  });
}

int zyl::matchlib::quality_assess_image_scaled(const uint8_t* pixels, int height, int width,
                                               uint8_t* quality, uint32_t* area, uint8_t* bright,
                                               int scale) {
  if (quality) *quality = 0;
  if (area) *area = 0;
  if (bright) *bright = 0;
  if (!pixels || !quality || !area || !bright || height < 0 || width < 0 ||
      (scale != 1 && scale != 2))
    return ML_BAD_ARGUMENT;
  const int n = 12 / scale;
  if (std::min(height, width) < n) return ML_OK;
  uint8_t* raw = nullptr;
  std::uint32_t ch = 0, cw = 0;
  std::int32_t ry = 0, rx = 0;
  int rc = zyl::matchlib::img_crop_to_block_multiple(
      pixels, static_cast<std::uint32_t>(height), static_cast<std::uint32_t>(width),
      static_cast<std::uint32_t>(n), &raw, &ch, &cw, &ry, &rx);
  std::unique_ptr<uint8_t, decltype(&std::free)> crop(raw, &std::free);
  if (rc != ML_OK) return rc;
  if (ch == 0 || cw == 0) return ML_BAD_ARGUMENT;
  const int h = static_cast<int>(ch), w = static_cast<int>(cw);
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    if ((rc = zyl::matchlib::imgproc_stretch_percentile(crop.get(), h, w, 1, crop.get())) != ML_OK)
      return rc;
    // A crop smaller than one ridge-test block cannot be judged for ridges;
    // it is assessed rather than dismissed, so that a one-block image still
    // gets a quality.
    int ridges = 1;
    if (zyl::matchlib::imgstat_has_ridges_scaled(crop.get(), h, w, scale, &ridges) == ML_OK &&
        !ridges)
      return ML_OK;
    const int rows = h / n, cols = w / n;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(rows) * cols),
        normal(static_cast<std::size_t>(h) * w);
    if ((rc = zyl::matchlib::imgproc_segment_blocks(crop.get(), h, w, rows, cols, n, mask.data(),
                                                    scale, 1)) != ML_OK)
      return rc;
    std::uint8_t b = 0, q = 0;
    std::uint32_t a = 0;
    if ((rc = zyl::matchlib::imgstat_bright_percent_blocks(crop.get(), h, w, rows, cols, n,
                                                           mask.data(), &b)) != ML_OK)
      return rc;
    if ((rc = zyl::matchlib::imgproc_normalize_blocks(crop.get(), h, w, mask.data(), n, rows, cols,
                                                      150, 120, normal.data())) != ML_OK)
      return rc;
    if ((rc = zyl::matchlib::quality_from_block_coherence(normal.data(), h, w, rows, cols, n,
                                                          mask.data(), nullptr, height, width, &q,
                                                          &a, scale)) != ML_OK)
      return rc;
    *quality = q;
    *area = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(a, static_cast<std::uint64_t>(height) * width));
    *bright = b;
    return ML_OK;
  });
}

int zyl::matchlib::quality_from_pixel_coherence(const uint8_t* pixels, int height, int width,
                                                const uint8_t* mask, int radius, uint8_t* quality,
                                                uint32_t* count, uint8_t* coherence_map) {
  if (!quality || !count) return ML_BAD_ARGUMENT;
  *quality = 0;
  *count = 0;
  if (!pixels || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * static_cast<std::size_t>(width);
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<std::uint8_t> normalised(n), coherence(n);
    int rc = zyl::matchlib::imgproc_normalize_local(pixels, height, width, mask, radius, 128, 75,
                                                    normalised.data());
    if (rc != ML_OK) return rc;
    rc = zyl::matchlib::orient_pixel_vectors(normalised.data(), height, width, mask, radius,
                                             coherence.data(), nullptr, nullptr);
    if (rc != ML_OK) return rc;
    if (coherence_map) {
      rc = zyl::matchlib::orient_pixel_vectors(normalised.data(), height, width, nullptr, radius,
                                               coherence_map, nullptr, nullptr);
      if (rc != ML_OK) return rc;
    }
    // 64-bit sums: a large image's points pass 32 bits.
    std::int64_t sum = 0, used = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (mask && !mask[i]) continue;
      sum += coherence_point(coherence[i]);
      ++used;
    }
    if (used == 0) {
      *quality = 1;
      return ML_OK;
    }
    const std::int64_t q = (((sum - 30 * used) * 100) / 60) / used;
    *quality = static_cast<std::uint8_t>(std::clamp<std::int64_t>(q, 1, 100));
    *count = static_cast<std::uint32_t>(used);
    return ML_OK;
  });
}

int zyl::matchlib::quality_assess_image(const uint8_t* pixels, int height, int width,
                                        uint8_t* quality, uint32_t* area, uint8_t* bright) {
  return zyl::matchlib::quality_assess_image_scaled(pixels, height, width, quality, area, bright,
                                                    1);
}

extern "C" {

ZYL_API int quality_from_block_coherence(const uint8_t* pixels, int height, int width,
                                         int block_rows, int block_columns, int block,
                                         const uint8_t* block_mask, const uint8_t* coherence,
                                         int full_height, int full_width, uint8_t* quality,
                                         uint32_t* area, int scale) {
  return zyl::matchlib::quality_from_block_coherence(pixels, height, width, block_rows,
                                                     block_columns, block, block_mask, coherence,
                                                     full_height, full_width, quality, area, scale);
}
ZYL_API int quality_map_expand(const uint8_t* block_map, const uint8_t* block_mask, int block_rows,
                               int block_columns, int block, uint8_t* out, int out_height,
                               int out_width) {
  return zyl::matchlib::quality_map_expand(block_map, block_mask, block_rows, block_columns, block,
                                           out, out_height, out_width);
}
ZYL_API int quality_assess_image_scaled(const uint8_t* pixels, int height, int width,
                                        uint8_t* quality, uint32_t* area, uint8_t* bright,
                                        int scale) {
  return zyl::matchlib::quality_assess_image_scaled(pixels, height, width, quality, area, bright,
                                                    scale);
}
ZYL_API int quality_from_pixel_coherence(const uint8_t* pixels, int height, int width,
                                         const uint8_t* mask, int radius, uint8_t* quality,
                                         uint32_t* count, uint8_t* coherence_map) {
  return zyl::matchlib::quality_from_pixel_coherence(pixels, height, width, mask, radius, quality,
                                                     count, coherence_map);
}
ZYL_API int quality_assess_image(const uint8_t* pixels, int height, int width, uint8_t* quality,
                                 uint32_t* area, uint8_t* bright) {
  return zyl::matchlib::quality_assess_image(pixels, height, width, quality, area, bright);
}

}  // extern "C"

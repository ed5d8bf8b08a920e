// Grid feature map output: a finished band grid is cleaned (contrast
// threshold from its own histogram, frequency consistency, crop to the
// occupied area) and written as the serialised map; and the 250-dpi grid
// stage that makes a format-66 blob of it from a grey image.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/extract/band_grid_layout.h"
#include "zylscan/matchlib_bandgrid.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/blob.h"
#include "matchlib/extract/band_grid.h"
#include "matchlib/extract/band_grid_map.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_geometry.h"

namespace zyl::matchlib::bandgrid {
namespace {

constexpr int kStageCell = 250 * 12 / 500;  // 6 pixels, about 0.6 mm
constexpr int kResolutionSlack = 9;

struct Cells {
  uint8_t* base;
  int columns, rows;
  uint8_t* at(int r, int c) const { return base + (static_cast<size_t>(r) * columns + c) * 3; }
  bool has_frequency(int r, int c) const { return at(r, c)[1] != 0; }
  void clear(int r, int c) const { at(r, c)[0] = at(r, c)[1] = 0; }
};

uint8_t spectral_quality(const Cells& g, uint32_t ratio_sum) {
  uint32_t n = 0;
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.columns; ++c) n += g.has_frequency(r, c);
  if (n == 0) return 0;
  return static_cast<uint8_t>(100 - std::min<uint64_t>(uint64_t{ratio_sum} * 100 / n, 300) / 3);
}

// Mean of i x H[i] x 8 over bins [lo, hi), 0 for an empty part.
uint64_t part_mean(const uint32_t* H, int lo, int hi) {
  uint64_t weighted = 0, count = 0;
  for (int i = lo; i < hi; ++i) {
    weighted += uint64_t{static_cast<uint32_t>(i)} * H[i] * 8;
    count += H[i];
  }
  return count ? weighted / count : 0;
}

// Clears orientation and frequency of the cells whose contrast falls under
// the threshold found by splitting the contrast histogram.
void apply_contrast_threshold(const Cells& g, uint32_t* H) {
  std::memset(H, 0, 256 * sizeof(uint32_t));
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.columns; ++c)
      if (g.at(r, c)[2]) ++H[g.at(r, c)[2]];
  uint64_t v = part_mean(H, 0, 256) / 2;
  // The estimate settles within a few rounds; the cap only guards against
  // a cycle between two values more than 15 apart.
  for (int round = 0; round < 256; ++round) {
    const uint64_t n = v >> 3;
    const int split = static_cast<int>(std::min<uint64_t>(n, 256));
    uint64_t d = 4 * part_mean(H, 0, split);
    if (n <= 255) d += part_mean(H, split, 256);
    d /= 5;
    const uint64_t diff = d > v ? d - v : v - d;
    if (diff <= 15) break;
    v = d;
  }
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.columns; ++c)
      if (uint64_t{g.at(r, c)[2]} * 8 < v) g.clear(r, c);
}

// Clears cells whose frequency strays more than 24 from the mean of
// itself and its non-zero neighbours, or that have no such neighbour. All
// comparisons use the frequencies from before this step.
void apply_frequency_consistency(const Cells& g) {
  uint8_t above[BANDGRID_MAX_CELLS] = {}, here[BANDGRID_MAX_CELLS] = {};
  for (int r = 0; r < g.rows; ++r) {
    for (int c = 0; c < g.columns; ++c) here[c] = g.at(r, c)[1];
    for (int c = 0; c < g.columns; ++c) {
      const int f = here[c];
      if (!f) continue;
      int sum = f, count = 1;
      auto take = [&](int v) {
        if (v) sum += v, ++count;
      };
      if (r > 0) take(above[c]);
      if (r + 1 < g.rows) take(g.at(r + 1, c)[1]);
      if (c > 0) take(here[c - 1]);
      if (c + 1 < g.columns) take(here[c + 1]);
      const int m = 100 * sum / count;
      if (count == 1 || std::abs(100 * f - m) > 2400) g.clear(r, c);
    }
    std::memcpy(above, here, sizeof(above));
  }
}

struct Window {
  int top, bottom, left, right;  // [top, bottom) x [left, right)
  bool empty() const { return top >= bottom || left >= right; }
};

int row_count(const Cells& g, const Window& w, int r) {
  int n = 0;
  for (int c = w.left; c < w.right; ++c) n += g.has_frequency(r, c);
  return n;
}
int column_count(const Cells& g, const Window& w, int c) {
  int n = 0;
  for (int r = w.top; r < w.bottom; ++r) n += g.has_frequency(r, c);
  return n;
}

Window crop(const Cells& g, int column_limit, int row_limit) {
  Window w{0, g.rows, 0, g.columns};
  if (!column_limit || !row_limit || !g.rows || !g.columns) return w;
  while (!w.empty()) {
    const int top = row_count(g, w, w.top), bottom = row_count(g, w, w.bottom - 1);
    if (top == 0) {
      ++w.top;
    } else if (bottom == 0) {
      --w.bottom;
    } else if (w.bottom - w.top > row_limit) {
      if (top < bottom)
        ++w.top;
      else
        --w.bottom;
    } else {
      const int left = column_count(g, w, w.left), right = column_count(g, w, w.right - 1);
      if (left == 0) {
        ++w.left;
      } else if (right == 0) {
        --w.right;
      } else if (w.right - w.left <= column_limit) {
        break;
      } else if (left >= right) {
        --w.right;
      } else {
        ++w.left;
      }
    }
  }
  if (w.empty()) w = {0, 0, 0, 0};
  return w;
}

}  // namespace
}  // namespace zyl::matchlib::bandgrid

using namespace zyl::matchlib::bandgrid;

namespace {

struct ImageRelease {
  void operator()(GrayImage* image) const { zyl::matchlib::image_release(image); }
};
using ImagePtr = std::unique_ptr<GrayImage, ImageRelease>;
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

int extract_gridmap(GrayImage* image, int32_t format, DataBlob** out_blob) {
  const int ry = zyl::matchlib::image_resolution_y(image),
            rx = zyl::matchlib::image_resolution_x(image);
  if (format != GRIDMAP_FORMAT || ry == 0 || rx == 0) return ML_WRONG_KIND;
  const int target = zyl::matchlib::bandgrid_target_dpi();
  ImagePtr working(zyl::matchlib::image_retain(image));
  const bool read_only = !zyl::matchlib::image_is_writable(image);
  if (std::abs(ry - target) > kResolutionSlack || std::abs(rx - target) > kResolutionSlack) {
    working.reset(zyl::matchlib::image_resample_to_resolution(image, target, target));
    if (!working || zyl::matchlib::image_pixel_count(working.get()) == 0) return ML_NO_MEMORY;
    // A finished read-only input gives its pixels back as soon as the
    // working copy stands on its own.
    if (read_only) zyl::matchlib::image_release_pixels(image, nullptr);
  }
  const int h = zyl::matchlib::image_height(working.get()),
            w = zyl::matchlib::image_width(working.get());
  if (h > 0xFFFF || w > 0xFFFF || !zyl::matchlib::image_pixels(working.get()))
    return ML_BAD_ARGUMENT;
  uint32_t need = 0;
  zyl::matchlib::bandgrid_init(nullptr, 0, 0, static_cast<uint16_t>(w), static_cast<uint16_t>(h),
                               kStageCell, &need);
  if (need == 0) return ML_TOO_SHORT;  // more than 80 cells a side
  std::unique_ptr<void, FreeDeleter> storage(zyl::matchlib::ml_malloc(need));
  if (!storage) return ML_NO_MEMORY;
  BandGrid* grid = zyl::matchlib::bandgrid_init(storage.get(), need, 0, static_cast<uint16_t>(w),
                                                static_cast<uint16_t>(h), kStageCell, nullptr);
  if (!grid) return ML_TOO_SHORT;
  if (zyl::matchlib::bandgrid_feed_rows(grid, static_cast<uint32_t>(h),
                                        zyl::matchlib::image_pixels(working.get())) !=
      static_cast<uint32_t>(h))
    return ML_CORRUPT;
  const uint8_t* map = nullptr;
  uint16_t length = 0;
  const int st = zyl::matchlib::bandgrid_finish(grid, 255, 255, &map, &length, nullptr, nullptr);
  if (st != ML_OK) return st;
  DataBlob* blob = zyl::matchlib::blob_create(GRIDMAP_FORMAT, map, length);
  if (!blob) return ML_NO_MEMORY;
  *out_blob = blob;
  working.reset();
  if (read_only) zyl::matchlib::image_release_pixels(image, nullptr);
  return ML_OK;
}

}  // namespace

int zyl::matchlib::bandgrid_finish(BandGrid* grid, uint8_t column_limit, uint8_t row_limit,
                                   const uint8_t** out_map, uint16_t* out_length,
                                   uint8_t* out_quality, uint16_t* out_area) {
  if (out_map) *out_map = nullptr;
  if (out_length) *out_length = 0;
  if (out_quality) *out_quality = 0;
  if (out_area) *out_area = 0;
  if (!grid || !out_map || !out_length || grid->finished_rows < grid->rows) return ML_BAD_ARGUMENT;
  const Cells g{cells(grid), grid->columns, grid->rows};
  const uint8_t quality = spectral_quality(g, grid->ratio_sum);
  apply_contrast_threshold(g, reinterpret_cast<uint32_t*>(grid->scratch));
  uint32_t valid = 0;
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.columns; ++c) valid += g.has_frequency(r, c);
  const uint32_t cell = grid->cell_size;
  const uint16_t area = static_cast<uint16_t>(valid * cell * cell / 388 * 250000 / 62500);
  apply_frequency_consistency(g);
  const Window w = crop(g, column_limit, row_limit);
  const int columns = w.right - w.left, rows = w.bottom - w.top;
  // Written over the tail of the scratch area and the cells (see the layout).
  uint8_t* map = cells(grid) - kMapLead;
  map[0] = 0x5B;
  map[1] = 0xDA;
  map[2] = 0x02;
  map[3] = grid->cell_size;
  map[4] = 0x00;
  map[5] = 0xFA;
  map[6] = static_cast<uint8_t>(columns);
  map[7] = static_cast<uint8_t>(rows);
  map[8] = 0;
  map[9] = 0;
  size_t at = 10;
  for (int r = w.top; r < w.bottom; ++r)
    for (int c = w.left; c < w.right; ++c) {
      const uint8_t* src = g.at(r, c);
      const uint8_t orientation = src[0], frequency = src[1];
      map[at++] = orientation;
      map[at++] = frequency;
    }
  map[at++] = quality;
  uint8_t check = 0;
  for (size_t i = 0; i < at; ++i) check ^= map[i];
  map[9] = check;
  *out_map = map;
  *out_length = static_cast<uint16_t>(at);
  if (out_quality) *out_quality = quality;
  if (out_area) *out_area = area;
  return ML_OK;
}

extern "C" ZYL_API int stage_extract_gridmap250(MatchContext*, GrayImage* image, void*,
                                                int32_t format, DataBlob** out_blob) {
  if (!image || !out_blob) return ML_BAD_ARGUMENT;
  *out_blob = nullptr;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return extract_gridmap(image, format, out_blob); });
}

extern "C" {

ZYL_API int bandgrid_finish(BandGrid* grid, uint8_t column_limit, uint8_t row_limit,
                            const uint8_t** out_map, uint16_t* out_length, uint8_t* out_quality,
                            uint16_t* out_area) {
  return zyl::matchlib::bandgrid_finish(grid, column_limit, row_limit, out_map, out_length,
                                        out_quality, out_area);
}

}  // extern "C"

// The grey-image minutiae pipeline: background levelling, block framing
// and segmentation, orientation, quality and ridge-period maps, FFT
// enhancement, binarisation into ridge and valley images, thinning, branch
// points of both skeletons, validation and selection; positions and maps
// are then put back into the input image's coordinates. Its map-only twin
// stops after the maps.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_binarize.h"
#include "zylscan/matchlib_bilevel.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_contour_thin.h"
#include "zylscan/matchlib_fft_enhance.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_segmentation.h"
#include "zylscan/matchlib_stft.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/extract/minutiae_frame.h"
#include "matchlib/extract/bright_level.h"
#include "matchlib/extract/contour_thinning.h"
#include "matchlib/extract/minutiae_pipeline_grey.h"
#include "matchlib/extract/minutiae_validate.h"
#include "matchlib/extract/skeleton_branches.h"
#include "matchlib/filter/bilevel.h"
#include "matchlib/filter/binarize.h"
#include "matchlib/filter/normalize_blocks.h"
#include "matchlib/filter/quality_coherence.h"
#include "matchlib/filter/block_segmentation.h"
#include "matchlib/image/border_extend.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/image/region_tools.h"
#include "matchlib/image/rescale.h"
#include "matchlib/image/window_copy.h"
#include "matchlib/spectral/block_frequency.h"
#include "matchlib/spectral/fft_enhance.h"
#include "matchlib/spectral/orientation.h"
#include "matchlib/spectral/singular_points.h"

namespace zyl::matchlib {
namespace {

int fit_frame(const std::uint8_t* src, int height, int width, int block, Frame& f) {
  std::uint8_t* out = nullptr;
  std::uint32_t oh = 0, ow = 0;
  std::int32_t ro = 0, co = 0;
  const int status = zyl::matchlib::img_fit_to_block_multiple(src, height, width, block, 0, &out,
                                                              &oh, &ow, &ro, &co);
  if (status != ML_OK) return status;
  f.pixels.assign(out, out + std::size_t(oh) * ow);
  std::free(out);
  f.h = static_cast<int>(oh);
  f.w = static_cast<int>(ow);
  f.oy = ro;
  f.ox = co;
  return ML_OK;
}

// A cell map of the record: cells of `cell` pixels over the grid.
int set_cell_map(CellMap& map, const Bytes& values, int rows, int columns, int cell) {
  std::free(map.cells);
  map.cells = static_cast<std::uint8_t*>(ml_malloc(values.empty() ? 1 : values.size()));
  if (!map.cells) return ML_NO_MEMORY;
  std::copy(values.begin(), values.end(), map.cells);
  map.rows = static_cast<std::uint8_t>(rows);
  map.columns = static_cast<std::uint8_t>(columns);
  map.cell_size = static_cast<std::uint8_t>(cell);
  map.origin_first = map.origin_second = 0;
  return ML_OK;
}

void clear_background(std::uint8_t* cells, const Bytes& block_map) {
  if (!cells) return;
  for (std::size_t i = 0; i < block_map.size(); ++i)
    if (!block_map[i]) cells[i] = 0;
}

void store_singular(const SingularList& from, bool delta, MinutiaeRecord& r) {
  for (int i = 0; i < from.count && i < MINREC_MAX_SINGULAR; ++i) {
    const SingularEntry& e = from.entries[i];
    if (delta) {
      DeltaEntry& d = r.deltas.entries[r.deltas.count++];
      d = DeltaEntry{e.row, e.column, {e.direction[0], e.direction[1], e.direction[2]}, 1};
    } else {
      CoreEntry& c = r.cores.entries[r.cores.count++];
      c = CoreEntry{e.row, e.column, e.direction[0], 1};
    }
  }
}

std::uint16_t clamp16(int v, int high) { return static_cast<std::uint16_t>(std::clamp(v, 0, std::max(high, 0))); }

// Puts positions and maps back into the input's coordinates (doubled at
// half resolution) and orders the minutiae.
}  // namespace

// Fills a whole pixel map from a block map: nearest block first (the
// bilinear enlargement leaves the outer half block unwritten), then the
// bilinear values inside.
int expand_blocks(const Bytes& blocks, int rows, int columns, int block, Bytes& out, int h, int w) {
  out.assign(std::size_t(h) * w, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out[std::size_t(y) * w + x] =
          blocks[std::size_t(std::min(y / block, rows - 1)) * columns + std::min(x / block, columns - 1)];
  return zyl::matchlib::expand_bilinear<std::uint8_t>(blocks.data(), rows, columns, block,
                                                      out.data(), h, w);
}

// Cores and deltas of the pixel orientation map where the quality exceeds 40.
int find_singular(const Bytes& orientation, const Bytes& quality, int h, int w, MinutiaeRecord& r) {
  if (!r.cores_wanted && !r.deltas_wanted) return ML_OK;
  Bytes mask(quality.size());
  for (std::size_t i = 0; i < quality.size(); ++i) mask[i] = quality[i] > 40 ? 255 : 0;
  SingularPoint points[16];
  int count = 0;
  int status = zyl::matchlib::singular_find_points(orientation.data(), mask.data(), h, w, points,
                                                   &count, 16);
  if (status != ML_OK) return status;
  SingularList cores{}, deltas{};
  status = zyl::matchlib::singular_split_cores_deltas(points, count, w, &cores, &deltas);
  if (status != ML_OK) return status;
  r.cores.count = r.deltas.count = 0;
  if (r.cores_wanted) store_singular(cores, false, r);
  if (r.deltas_wanted) store_singular(deltas, true, r);
  return ML_OK;
}

// The most minutiae of highest quality (equal qualities keep their order),
// then only those on usable mask bytes.
void select_minutiae(MinutiaeRecord& r, const Bytes* mask, int w, int mask_scale) {
  if (r.count > r.max_count) {
    std::stable_sort(r.minutiae, r.minutiae + r.count,
                     [](const MinutiaEntry& a, const MinutiaEntry& b) { return a.quality > b.quality; });
    r.count = r.max_count;
  }
  if (!mask) return;
  int kept = 0;
  for (int i = 0; i < r.count; ++i)
    if ((*mask)[std::size_t(r.minutiae[i].y / mask_scale) * w + r.minutiae[i].x / mask_scale] >= 128) r.minutiae[kept++] = r.minutiae[i];
  r.count = static_cast<std::uint8_t>(kept);
}

void back_map(MinutiaeRecord& r, int height, int width, int oy, int ox, int f, int cy, int cx,
              std::uint8_t quality, int area, bool plane_positions) {
  // Minutiae found in the padded part of the frame would lie outside the
  // image: they are kept on its edge, inside it.
  for (int i = 0; i < r.count; ++i) {
    MinutiaEntry& m = r.minutiae[i];
    if (plane_positions) {  // already at f times the frame
      m.y = clamp16(m.y + f * oy, f * height - 1);
      m.x = clamp16(m.x + f * ox, f * width - 1);
    } else {
      m.y = static_cast<std::uint16_t>(f * clamp16(m.y + oy, height - 1));
      m.x = static_cast<std::uint16_t>(f * clamp16(m.x + ox, width - 1));
    }
  }
  for (int i = 0; i < r.cores.count; ++i) {
    r.cores.entries[i].y = static_cast<std::uint16_t>(f * clamp16(r.cores.entries[i].y + oy, height - 1));
    r.cores.entries[i].x = static_cast<std::uint16_t>(f * clamp16(r.cores.entries[i].x + ox, width - 1));
  }
  for (int i = 0; i < r.deltas.count; ++i) {
    r.deltas.entries[i].y = static_cast<std::uint16_t>(f * clamp16(r.deltas.entries[i].y + oy, height - 1));
    r.deltas.entries[i].x = static_cast<std::uint16_t>(f * clamp16(r.deltas.entries[i].x + ox, width - 1));
  }
  r.height = static_cast<std::uint16_t>(f * height);
  r.width = static_cast<std::uint16_t>(f * width);
  for (CellMap* map : {&r.orientation, &r.frequency}) {
    map->origin_first = static_cast<std::int16_t>(f * ox);
    map->origin_second = static_cast<std::int16_t>(f * oy);
    if (f == 2) map->cell_size = static_cast<std::uint8_t>(map->cell_size * 2);
  }
  if (f == 2) {
    r.zonal_quality.cell_height = static_cast<std::uint8_t>(r.zonal_quality.cell_height * 2);
    r.zonal_quality.cell_width = static_cast<std::uint8_t>(r.zonal_quality.cell_width * 2);
  }
  r.centroid_row = f * (cy + oy);
  r.centroid_column = f * (cx + ox);
  r.finger_quality = quality;
  r.quality_value = quality;
  r.area = area * f * f;
  zyl::matchlib::minutiae_sort(&r, r.order_code, r.centroid_row, r.centroid_column);
}

int PipelineFrame::frame_and_segment(int block, int segment_flag, int cleanup) {
  b_ = block;
  Bytes levelled(std::size_t(height_) * width_);
  int status = zyl::matchlib::bright_level_blocks(in_, height_, width_, levelled.data(), b_);
  if (status != ML_OK) return status;
  status = fit_frame(levelled.data(), height_, width_, b_, frame_);
  if (status != ML_OK) return status;
  if (mask_in_) {
    Frame m;
    if ((status = fit_frame(mask_in_, height_, width_, b_, m)) != ML_OK) return status;
    mask_ = std::move(m.pixels);
  }
  framed_ = true;
  h_ = frame_.h;
  w_ = frame_.w;
  gr_ = h_ / b_;
  gc_ = w_ / b_;
  block_map_.assign(std::size_t(gr_) * gc_, 0);
  status = zyl::matchlib::imgproc_segment_blocks(frame_.pixels.data(), h_, w_, gr_, gc_, b_,
                                                 block_map_.data(), segment_flag, cleanup);
  if (status != ML_OK) return status;
  int cy = 0, cx = 0;
  status = zyl::matchlib::img_mask_centroid(block_map_.data(), gr_, gc_, b_, h_, w_, &cy, &cx);
  work_.centroid_row = cy;
  work_.centroid_column = cx;
  work_.height = h_;
  work_.width = w_;
  work_.block = b_;
  work_.resolution = MINREC_RESOLUTION;
  work_.input_height = static_cast<std::uint16_t>(height_);
  work_.input_width = static_cast<std::uint16_t>(width_);
  return status;
}

// Normalisation, block orientation and coherence, quality.

int PipelineFrame::orientation_and_quality(int flag) {
  normalised_.assign(frame_.pixels.size(), 0);
  int status = zyl::matchlib::imgproc_normalize_blocks(
      frame_.pixels.data(), h_, w_, block_map_.data(), b_, gr_, gc_, 150, 120, normalised_.data());
  if (status != ML_OK) return status;
  work_.image = normalised_.data();
  orientation_.assign(block_map_.size(), 0);
  coherence_.assign(block_map_.size(), 0);
  status = zyl::matchlib::orient_block_field(normalised_.data(), h_, w_, block_map_.data(),
                                             orientation_.data(), coherence_.data(), gr_, gc_, b_,
                                             nullptr, flag);
  if (status != ML_OK) return status;
  if (r_.orientation_wanted & 1)
    if ((status = set_cell_map(r_.orientation, orientation_, gr_, gc_, b_)) != ML_OK) return status;
  std::uint32_t area = 0;
  std::uint8_t quality = 0;
  status = zyl::matchlib::quality_from_block_coherence(normalised_.data(), h_, w_, gr_, gc_, b_,
                                                       block_map_.data(), coherence_.data(), h_, w_,
                                                       &quality, &area, flag);
  if (status != ML_OK) return status;
  work_.finger_quality = quality;
  work_.area = static_cast<std::int32_t>(area);
  quality_map_.assign(std::size_t(h_) * w_, 0);
  return zyl::matchlib::quality_map_expand(coherence_.data(), block_map_.data(), gr_, gc_, b_,
                                           quality_map_.data(), h_, w_);
}

int PipelineFrame::block_frequency(const Bytes& analysis, int ah, int aw, int step) {
  period_.assign(block_map_.size(), 0);
  int status = zyl::matchlib::stft_block_analysis16(analysis.data(), ah, aw, step, 18, 5, gr_, gc_,
                                                    period_.data(), nullptr, nullptr);
  if (status != ML_OK) return status;
  if (r_.frequency_wanted & 1)
    if ((status = set_cell_map(r_.frequency, period_, gr_, gc_, b_)) != ML_OK) return status;
  clear_background(r_.orientation.cells, block_map_);
  clear_background(r_.frequency.cells, block_map_);
  return ML_OK;
}

// Fine maps: the block analysis on a grid three times finer.

int PipelineFrame::fine_maps(const Bytes& analysis, int ah, int aw, int step) {
  if (!(r_.frequency_wanted & 2) || !r_.orientation.cells || !r_.frequency.cells) return ML_OK;
  const int rows = 3 * gr_, columns = 3 * gc_;
  Bytes period(std::size_t(rows) * columns, 0), direction(period.size(), 0);
  const int status =
      zyl::matchlib::stft_block_analysis16(analysis.data(), ah, aw, step, 18, 5, rows, columns,
                                           period.data(), nullptr, direction.data());
  if (status != ML_OK) return status;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) {
      const std::size_t i = std::size_t(y) * columns + x;
      if (!block_map_[std::size_t(y / 3) * gc_ + x / 3]) {
        period[i] = direction[i] = 0;
      } else {
        // The analysis gives the doubled wave-vector angle; the maps hold
        // half-turn orientations offset by 64 like the base cells.
        direction[i] = static_cast<std::uint8_t>(direction[i] / 2 + 64);
      }
    }
  std::free(r_.orientation_fine);
  std::free(r_.frequency_fine);
  r_.orientation_fine = static_cast<std::uint8_t*>(ml_malloc(direction.size()));
  r_.frequency_fine = static_cast<std::uint8_t*>(ml_malloc(period.size()));
  if (!r_.orientation_fine || !r_.frequency_fine) return ML_NO_MEMORY;
  std::copy(direction.begin(), direction.end(), r_.orientation_fine);
  std::copy(period.begin(), period.end(), r_.frequency_fine);
  return ML_OK;
}

int PipelineFrame::zonal_quality() {
  if (!(r_.zonal_wanted & 1)) return ML_OK;
  return zyl::matchlib::cellmap_sample(quality_map_.data(), height_, width_, h_, w_,
                                       std::max(frame_.oy, 0), std::max(frame_.ox, 0), b_, b_,
                                       &r_.zonal_quality);
}

namespace {

class GreyPipeline : public PipelineFrame {
 public:
  using PipelineFrame::PipelineFrame;

  int run(RidgeTraceCallback ridge_trace, RidgeTraceCallback second) {
    const int status = body(ridge_trace, second);
    if (framed_)
      back_map(r_, height_, width_, frame_.oy, frame_.ox, f_, work_.centroid_row, work_.centroid_column,
               work_.finger_quality, work_.area, false);
    return status;
  }

  // Maps only: half-resolution images, blocks of 6.
  int run_maps() {
    const int status = maps_body();
    if (framed_)
      back_map(r_, height_, width_, frame_.oy, frame_.ox, 2, work_.centroid_row, work_.centroid_column,
               work_.finger_quality, work_.area, false);
    r_.count = 0;
    return status;
  }

 private:
  int body(RidgeTraceCallback ridge_trace, RidgeTraceCallback second) {
    const bool full = r_.options & MINX_FULL, half = r_.options & MINX_HALF;
    if (full == half) return ML_WRONG_KIND;
    const int s = full ? 2 : 1;
    f_ = half ? 2 : 1;
    int status = frame_and_segment(full ? 12 : 6, half ? 2 : 1, 1);
    if (status != ML_OK) return status;
    const int ah = h_ / s, aw = w_ / s;
    Bytes analysis(std::size_t(ah) * aw);
    if ((status = zyl::matchlib::img_resize_u8(frame_.pixels.data(), h_, w_, analysis.data(), ah,
                                               aw)) != ML_OK)
      return status;
    const int flag = half ? 2 : 1;
    if ((status = orientation_and_quality(flag)) != ML_OK) return status;
    pixel_orientation_.assign(std::size_t(h_) * w_, 0);
    status = zyl::matchlib::orient_map_resize(orientation_.data(), gr_, gc_, b_,
                                              pixel_orientation_.data(), h_, w_);
    if (status != ML_OK) return status;
    const Bytes enhance_input = normalised_;
    if ((status = block_frequency(analysis, ah, aw, b_ / s)) != ML_OK) return status;
    if ((status = expand_blocks(period_, gr_, gc_, b_, pixel_period_, h_, w_)) != ML_OK) return status;
    if ((status = fine_maps(analysis, ah, aw, b_ / 3 / s)) != ML_OK) return status;
    std::vector<std::int8_t> enhanced(std::size_t(h_) * w_ + w_ + 16, 0);
    status = zyl::matchlib::fftenh_enhance16(enhance_input.data(), h_, w_, pixel_period_.data(),
                                             pixel_orientation_.data(), block_map_.data(), gr_, gc_,
                                             b_, enhanced.data(), s);
    if (status != ML_OK) return status;
    Bytes ridges(std::size_t(h_) * w_, 1), valleys(ridges.size(), 1);
    status = zyl::matchlib::binarize_blocks_percentile(enhanced.data(), quality_map_.data(), h_, w_,
                                                       block_map_.data(), b_, 47, ridges.data(),
                                                       valleys.data());
    if (status != ML_OK) return status;
    zyl::matchlib::bilevel_set_border(ridges.data(), h_, w_, 1, 1, 1, 1);
    zyl::matchlib::bilevel_set_border(valleys.data(), h_, w_, 1, 1, 1, 1);
    if ((status = find_singular(pixel_orientation_, quality_map_, h_, w_, r_)) != ML_OK) return status;
    r_.finger_quality = work_.finger_quality;
    if ((status = zonal_quality()) != ML_OK) return status;
    if ((status = zyl::matchlib::bilevel_thin(ridges.data(), h_, w_)) != ML_OK) return status;
    if ((status = zyl::matchlib::bilevel_thin(valleys.data(), h_, w_)) != ML_OK) return status;
    r_.count = 0;
    r_.resolution = MINREC_RESOLUTION;
    r_.height = static_cast<std::uint16_t>(h_);
    r_.width = static_cast<std::uint16_t>(w_);
    Bytes counts(ridges.size(), 0);
    status = zyl::matchlib::minutiae_detect_branches(valleys.data(), pixel_orientation_.data(), h_,
                                                     w_, 1, quality_map_.data(), r_.minutiae,
                                                     &r_.count, counts.data(), f_, 1);
    if (status != ML_OK) return status;
    valleys = Bytes();  // only the ridge skeleton serves from here on
    status = zyl::matchlib::minutiae_detect_branches(ridges.data(), pixel_orientation_.data(), h_,
                                                     w_, 0, quality_map_.data(), r_.minutiae,
                                                     &r_.count, counts.data(), f_, 1);
    if (status != ML_OK) return status;
    int n = zyl::matchlib::minutiae_merge_close_pairs(r_.minutiae, r_.count, f_);
    n = zyl::matchlib::minutiae_validate_endings(r_.minutiae, n, ridges.data(), counts.data(),
                                                 pixel_period_.data(), h_, w_, f_, 1);
    if (half)
      n = zyl::matchlib::minutiae_check_flow(r_.minutiae, n, pixel_orientation_.data(), h_, w_, 2,
                                             1);
    r_.count = static_cast<std::uint8_t>(n);
    for (int i = 0; i < n; ++i) {
      MinutiaEntry& m = r_.minutiae[i];
      m.extra = static_cast<std::uint8_t>(std::max(0, pixel_period_[std::size_t(m.y) * w_ + m.x] - 5));
    }
    select_minutiae(r_, mask_in_ ? &mask_ : nullptr, w_);
    if (r_.options & MINX_RIDGE_TRACE) {
      if (ridge_trace &&
          (status = ridge_trace(&work_, ridges.data(), block_map_.data(), b_, 0, quality_map_.data(), &r_, 0)) !=
              ML_OK)
        return status;
      if (second &&
          (status = second(&work_, nullptr, block_map_.data(), b_, 4, quality_map_.data(), &r_, 28)) != ML_OK)
        return status;
    }
    return ML_OK;
  }

  int maps_body() {
    if (r_.options & MINX_FULL) return ML_WRONG_KIND;
    int status = frame_and_segment(6, 2, 0);
    if (status != ML_OK) return status;
    // Very large images: a window of at most 1125 x 804 around the centroid.
    if (h_ > 1125 || w_ > 804) {
      const int wh = std::min(h_, 1125) / 6 * 6, ww = std::min(w_, 804) / 6 * 6;
      auto start = [](int centre, int size) { return centre < size / 2 ? 0 : (centre - size / 2) / 6 * 6; };
      const int y0 = start(work_.centroid_row, wh), x0 = start(work_.centroid_column, ww);
      // The window keeps its place even where it reaches past the frame;
      // what lies beyond is zero, in the image and in the block map.
      Bytes window(std::size_t(wh) * ww, 0);
      status = zyl::matchlib::copy_window_checked<std::uint8_t>(frame_.pixels.data(), h_, w_, wh,
                                                                ww, y0, x0, window.data());
      if (status != ML_OK) return status;
      Bytes blocks(std::size_t(wh / 6) * (ww / 6), 0);
      status = zyl::matchlib::copy_window_checked<std::uint8_t>(
          block_map_.data(), gr_, gc_, wh / 6, ww / 6, y0 / 6, x0 / 6, blocks.data());
      if (status != ML_OK) return status;
      frame_.pixels = std::move(window);
      block_map_ = std::move(blocks);
      h_ = wh;
      w_ = ww;
      gr_ = h_ / 6;
      gc_ = w_ / 6;
      frame_.oy += y0;
      frame_.ox += x0;
      work_.centroid_row -= y0;
      work_.centroid_column -= x0;
      work_.height = h_;
      work_.width = w_;
    }
    if ((status = orientation_and_quality(2)) != ML_OK) return status;
    if ((status = block_frequency(frame_.pixels, h_, w_, 6)) != ML_OK) return status;
    r_.finger_quality = work_.finger_quality;
    return zonal_quality();
  }

};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::minutiae_pipeline_grey(const uint8_t* pixels, const uint8_t* mask, int height,
                                          int width, MinutiaeRecord* record,
                                          RidgeTraceCallback ridge_trace,
                                          RidgeTraceCallback second) {
  if (!pixels || !record || height <= 0 || width <= 0 || height > 0xFFFF || width > 0xFFFF)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    GreyPipeline p(pixels, mask, height, width, *record);
    return p.run(ridge_trace, second);
  });
}

int zyl::matchlib::minutiae_pipeline_maps(const uint8_t* pixels, const uint8_t* mask, int height,
                                          int width, MinutiaeRecord* record) {
  if (!pixels || !record || height <= 0 || width <= 0 || height > 0xFFFF || width > 0xFFFF)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    GreyPipeline p(pixels, mask, height, width, *record);
    return p.run_maps();
  });
}

int zyl::matchlib::cellmap_sample(const uint8_t* map, int image_height, int image_width,
                                  int map_height, int map_width, int y_origin, int x_origin,
                                  int cell_height, int cell_width, ZonalQuality* out) {
  if (!map || !out || cell_height <= 0 || cell_width <= 0 || image_height < 0 || image_width < 0)
    return ML_BAD_ARGUMENT;
  const int rows = image_height / cell_height + 1, columns = image_width / cell_width + 1;
  if (rows > 255 || columns > 255) return ML_WRONG_KIND;
  const std::size_t n = std::size_t(rows) * columns;
  // A map already present may be of another size: it is replaced.
  auto* cells = static_cast<std::uint8_t*>(ml_malloc(n));
  if (!cells) return ML_NO_MEMORY;
  std::free(out->cells);
  out->cells = cells;
  std::memset(out->cells, 0, n);
  out->rows = static_cast<std::uint8_t>(rows);
  out->columns = static_cast<std::uint8_t>(columns);
  out->cell_height = static_cast<std::uint8_t>(cell_height);
  out->cell_width = static_cast<std::uint8_t>(cell_width);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) {
      const int y = i * cell_height + cell_height / 2 - y_origin;
      const int x = j * cell_width + cell_width / 2 - x_origin;
      if (y >= 0 && x >= 0 && y < map_height && x < map_width)
        out->cells[std::size_t(i) * columns + j] = map[std::size_t(y) * map_width + x];
    }
  return ML_OK;
}

extern "C" {

ZYL_API int minutiae_pipeline_grey(const uint8_t* pixels, const uint8_t* mask, int height,
                                   int width, MinutiaeRecord* record,
                                   RidgeTraceCallback ridge_trace, RidgeTraceCallback second) {
  return zyl::matchlib::minutiae_pipeline_grey(pixels, mask, height, width, record, ridge_trace,
                                               second);
}
ZYL_API int minutiae_pipeline_maps(const uint8_t* pixels, const uint8_t* mask, int height,
                                   int width, MinutiaeRecord* record) {
  return zyl::matchlib::minutiae_pipeline_maps(pixels, mask, height, width, record);
}
ZYL_API int cellmap_sample(const uint8_t* map, int image_height, int image_width, int map_height,
                           int map_width, int y_origin, int x_origin, int cell_height,
                           int cell_width, ZonalQuality* out) {
  return zyl::matchlib::cellmap_sample(map, image_height, image_width, map_height, map_width,
                                       y_origin, x_origin, cell_height, cell_width, out);
}

}  // extern "C"

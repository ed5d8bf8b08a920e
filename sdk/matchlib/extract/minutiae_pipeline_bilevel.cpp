// The bit-packed minutiae pipeline: the maps of the grey pipeline on a
// half-resolution frame, then ridges and valleys binarised into bit planes
// of twice the frame's resolution, thinned and traced there for branch
// points; positions come out at twice the input's resolution.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/extract/minutiae_frame.h"
#include "zylscan/matchlib_bilevel.h"
#include "zylscan/matchlib_binarize.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_fft_enhance.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "matchlib/extract/bitplane_thin.h"
#include "matchlib/extract/bitplane_trace.h"
#include "matchlib/extract/minutiae_pipeline_bilevel.h"
#include "matchlib/extract/minutiae_validate.h"
#include "matchlib/extract/skeleton_branches.h"
#include "matchlib/filter/bilevel.h"
#include "matchlib/filter/binarize.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/spectral/fft_enhance.h"
#include "matchlib/spectral/orientation.h"

namespace zyl::matchlib {
namespace {

class BilevelPipeline : public PipelineFrame {
 public:
  using PipelineFrame::PipelineFrame;

  int run() {
    const bool full = r_.options & MINX_FULL, half = r_.options & MINX_HALF;
    if (full == half) return ML_WRONG_KIND;
    const int f = (r_.options & MINX_DOUBLE_OUTPUT) ? 2 : 1;
    const int d = half ? 2 : 1;
    int status = frame_and_segment(half ? 6 : 12, d, 1);
    if (status == ML_OK) status = core();
    if (status == ML_OK) r_.quality_value = work_.finger_quality;
    if (!framed_) return status;
    // Minutiae are at twice the frame (the planes); cores, deltas and maps
    // at the frame, then doubled with the halved input.
    const int count = r_.count;
    r_.count = 0;  // the cores, deltas and maps first, at the frame's scale
    back_map(r_, height_, width_, frame_.oy, frame_.ox, d, work_.centroid_row, work_.centroid_column,
             work_.finger_quality, work_.area, false);
    r_.count = static_cast<std::uint8_t>(count);
    for (int i = 0; i < count; ++i) {
      MinutiaEntry& m = r_.minutiae[i];
      m.y = static_cast<std::uint16_t>(std::clamp(m.y + f * frame_.oy, 0, f * height_ - 1));
      m.x = static_cast<std::uint16_t>(std::clamp(m.x + f * frame_.ox, 0, f * width_ - 1));
    }
    r_.height = static_cast<std::uint16_t>(f * height_);
    r_.width = static_cast<std::uint16_t>(f * width_);
    zyl::matchlib::minutiae_sort(&r_, r_.order_code, r_.centroid_row, r_.centroid_column);
    return status;
  }

 private:
  int core() {
    if (!(r_.options & MINX_HALF) || !(r_.options & MINX_DOUBLE_OUTPUT)) return ML_CORRUPT;
    const Bytes analysis = frame_.pixels;
    int status = orientation_and_quality(2);
    if (status != ML_OK) return status;
    pixel_orientation_.assign(std::size_t(h_) * w_, 0);
    if ((status = zyl::matchlib::orient_map_resize(orientation_.data(), gr_, gc_, b_,
                                                   pixel_orientation_.data(), h_, w_)) != ML_OK)
      return status;
    const Bytes enhance_input = normalised_;
    if ((status = block_frequency(analysis, h_, w_, b_)) != ML_OK) return status;
    if ((status = expand_blocks(period_, gr_, gc_, b_, pixel_period_, h_, w_)) != ML_OK) return status;
    enhanced_.assign(std::size_t(w_) * (h_ + 1) + 9, 0);
    status = zyl::matchlib::fftenh_enhance16(enhance_input.data(), h_, w_, pixel_period_.data(),
                                             pixel_orientation_.data(), block_map_.data(), gr_, gc_,
                                             b_, enhanced_.data(), 1);
    if (status != ML_OK) return status;
    r_.count = 0;
    r_.resolution = MINREC_RESOLUTION;
    r_.height = static_cast<std::uint16_t>(2 * h_);
    r_.width = static_cast<std::uint16_t>(2 * w_);
    if ((status = detect(1)) != ML_OK) return status;
    if ((status = detect(0)) != ML_OK) return status;
    if (r_.cores_wanted || r_.deltas_wanted) {
      // A second pixel orientation map from the block orientations.
      Bytes second(std::size_t(h_) * w_, 0);
      status = zyl::matchlib::orient_map_resize(orientation_.data(), gr_, gc_, b_, second.data(),
                                                h_, w_);
      if (status == ML_OK) status = find_singular(second, quality_map_, h_, w_, r_);
    }
    return status;
  }

  int detect(int kind) {
    const int rows = 2 * h_, width = 2 * w_, stride = (width + 7) / 8;
    Bytes plane(std::size_t(rows) * stride, 0xFF);
    // The pass of kind 1 traces the valleys (its branch points are ridge
    // endings), the pass of kind 0 the dark ridges (bifurcations). This
    // binariser's polarity flag says what the set bits, the background of
    // the trace, hold: dark under 1. So the flag is the kind itself: with
    // 1 - kind each pass would trace the other phase and every minutia
    // would get the other type (the planted-minutiae test shows it).
    int status = zyl::matchlib::binarize_blocks_percentile_bits(
        enhanced_.data(), quality_map_.data(), h_, w_, block_map_.data(), b_, 47, plane.data(),
        kind);
    if (status != ML_OK) return status;
    zyl::matchlib::bilevel_bits_set_border(plane.data(), rows, width, 2, 2 * (w_ - gc_ * b_) + 2, 2,
                                           2 * (h_ - gr_ * b_) + 2);
    if ((status = zyl::matchlib::bilevel_bits_thin(plane.data(), rows, width, 2)) != ML_OK)
      return status;
    Bytes counts(std::size_t(rows) * ((width + 1) / 2), 0);
    zyl::matchlib::bilevel_bits_trace_minutiae(plane.data(), rows, width, kind, quality_map_.data(),
                                               r_.minutiae, &r_.count, counts.data(), 2, 2);
    if (kind == 1) return ML_OK;
    int n = zyl::matchlib::minutiae_merge_close_pairs(r_.minutiae, r_.count, 2);
    n = zyl::matchlib::bilevel_bits_check_endings(r_.minutiae, n, plane.data(), counts.data(),
                                                  period_.data(), rows, width, 2, 2 * b_);
    r_.count = static_cast<std::uint8_t>(n);
    for (int i = 0; i < n; ++i) {
      MinutiaEntry& m = r_.minutiae[i];
      const int v =
          zyl::matchlib::img_sample_bilinear_u8(m.x, m.y, period_.data(), gr_, gc_, 2 * b_);
      m.extra = static_cast<std::uint8_t>(std::max(0, v - 5));
    }
    select_minutiae(r_, mask_in_ ? &mask_ : nullptr, w_, 2);
    return ML_OK;
  }

  std::vector<std::int8_t> enhanced_;
};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::minutiae_pipeline_bilevel(const uint8_t* pixels, const uint8_t* mask, int height,
                                             int width, MinutiaeRecord* record,
                                             RidgeTraceCallback callback, void* user) {
  (void)callback;
  (void)user;
  if (!pixels || !record || height <= 0 || width <= 0 || height > 0x7FFF || width > 0x7FFF) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    BilevelPipeline p(pixels, mask, height, width, *record);
    return p.run();
  });
}

extern "C" {

ZYL_API int minutiae_pipeline_bilevel(const uint8_t* pixels, const uint8_t* mask, int height,
                                      int width, MinutiaeRecord* record,
                                      RidgeTraceCallback callback, void* user) {
  return zyl::matchlib::minutiae_pipeline_bilevel(pixels, mask, height, width, record, callback,
                                                  user);
}

}  // extern "C"

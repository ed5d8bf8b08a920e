// The working frame shared by the grey and bit-packed minutiae pipelines:
// the levelled image fitted to whole blocks, its foreground blocks and
// centroid, normalisation, orientation, quality and ridge-period maps, and
// the mapping of results back to the input image.
#pragma once

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_minutiae_extract.h"

namespace zyl::matchlib {

using Bytes = std::vector<std::uint8_t>;

// The image cropped or padded to whole blocks; (oy, ox) is the frame's
// origin in the input (negative where padded).
struct Frame {
  Bytes pixels;
  int h = 0, w = 0, oy = 0, ox = 0;
};

// Fills a whole pixel map from a block map (bilinear inside, nearest block
// in the outer half block).
int expand_blocks(const Bytes& blocks, int rows, int columns, int block, Bytes& out, int h, int w);
// Cores and deltas of a pixel orientation map where the quality exceeds 40.
int find_singular(const Bytes& orientation, const Bytes& quality, int h, int w, MinutiaeRecord& r);
// The most minutiae of highest quality, then only those on usable bytes of
// the fitted mask (at position / mask_scale).
void select_minutiae(MinutiaeRecord& r, const Bytes* mask, int w, int mask_scale = 1);
// Positions and maps back into the input's coordinates, scaled by f;
// minutiae already at f times the frame when plane_positions is set.
void back_map(MinutiaeRecord& r, int height, int width, int oy, int ox, int f, int cy, int cx,
              std::uint8_t quality, int area, bool plane_positions);

class PipelineFrame {
 public:
  PipelineFrame(const std::uint8_t* pixels, const std::uint8_t* mask, int height, int width, MinutiaeRecord& r)
      : in_(pixels), mask_in_(mask), height_(height), width_(width), r_(r) {}

 protected:
  // Levels, fits to blocks of `block`, segments and finds the centroid.
  int frame_and_segment(int block, int segment_flag, int cleanup);
  // Block normalisation, orientation and coherence, finger quality and the
  // pixel quality map.
  int orientation_and_quality(int flag);
  // Block ridge periods of the analysis image into the record's map; cells
  // of background blocks cleared in both record maps.
  int block_frequency(const Bytes& analysis, int ah, int aw, int step);
  int fine_maps(const Bytes& analysis, int ah, int aw, int step);
  int zonal_quality();

  const std::uint8_t* in_;
  const std::uint8_t* mask_in_;
  int height_, width_;
  MinutiaeRecord& r_;
  MinutiaeWorkInfo work_{};
  Frame frame_;
  Bytes mask_, block_map_, normalised_, orientation_, coherence_, quality_map_, pixel_orientation_, period_,
      pixel_period_;
  bool framed_ = false;
  int b_ = 12, f_ = 1, h_ = 0, w_ = 0, gr_ = 0, gc_ = 0;
};

}  // namespace zyl::matchlib

// The block statistics and the windowed block of the grid front ends: the
// per-cell work before a block's transform.
#pragma once

#include <cstdint>
#include <vector>

#include "matchlib/image/block_stats.h"

namespace zyl::matchlib::grid {

// The same statistics for many blocks of one image, from summed-area tables
// of the usable pixels' count, sum and sum of squares: each block costs four
// lookups a table. The sums are exact integers, so each block's statistics
// equal block_stats' whatever order the pixels are added in.
class BlockStatsTable {
 public:
  BlockStatsTable(const uint8_t* px, const uint8_t* usable, int height, int width);
  BlockStats at(int top, int left, int side) const;

 private:
  struct Sums {
    uint64_t n = 0, sum = 0, squares = 0;
  };
  int height_, width_;
  std::vector<Sums> table_;  // (height + 1) x (width + 1), row 0 and column 0 empty
};

// The side x side block at (top, left) less `mean`, times the window w in
// both directions, >> 4; positions outside the image are 0.
void window_block(const uint8_t* px, int height, int width, int top, int left, int mean,
                  const uint8_t* w, int32_t* out, int side);
// One compiled form of it, for the tests: 0 the generic one, 1 the AVX2 one
// (x86 processors that have it). False, with nothing written, for a form
// this build or processor lacks.
bool window_block_variant(int variant, const uint8_t* px, int height, int width, int top, int left,
                          int mean, const uint8_t* w, int32_t* out, int side);

}  // namespace zyl::matchlib::grid

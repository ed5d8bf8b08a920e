// The four-lane 32-point kernel and the low-column 2-D transform built from
// it, against the scalar forms they replace (fft32_complex and
// fft2d_forward32), bit for bit on random inputs up to the bound the lane
// arithmetic is proved for, at that bound, and beyond it.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/spectral/fft2d.h"
#include "matchlib/spectral/fft32_lanes.h"
#include "matchlib/spectral/fft_kernels.h"

namespace {

constexpr int kBound = 1 << 20;

// Samples in [-limit, limit], with the extremes (and their alternation, the
// pattern that drives the transform's magnitudes up) over-represented.
std::vector<int32_t> samples(std::mt19937& rng, int n, int limit, int pattern) {
  std::uniform_int_distribution<int> any(-limit, limit);
  std::vector<int32_t> v(n);
  for (int k = 0; k < n; ++k) {
    switch (pattern) {
      case 0: v[k] = any(rng); break;
      case 1: v[k] = (k % 2 ? limit : -limit); break;
      case 2: v[k] = (rng() % 2 ? limit : -limit); break;
      default: v[k] = ((k / 32 + k) % 2 ? limit : -limit); break;  // checkerboard
    }
  }
  return v;
}

TEST(Fft32Lanes, KernelEqualsScalarKernelOnEachLane) {
  std::mt19937 rng(4632);
  for (int trial = 0; trial < 400; ++trial) {
    const int limit = trial % 3 == 0 ? kBound : trial % 3 == 1 ? 255 : 70000;
    const std::vector<int32_t> re = samples(rng, 128, limit, trial % 4),
                               im = samples(rng, 128, limit, (trial / 4) % 4);
    std::vector<int32_t> got_re(128), got_im(128);
    zyl::matchlib::fft32_complex_lanes4(re.data(), im.data(), got_re.data(), got_im.data());
    for (int l = 0; l < 4; ++l) {
      int32_t in_re[32], in_im[32], want_re[32], want_im[32];
      for (int m = 0; m < 32; ++m) {
        in_re[m] = re[m * 4 + l];
        in_im[m] = im[m * 4 + l];
      }
      zyl::matchlib::fft32_complex(in_re, in_im, want_re, want_im);
      for (int k = 0; k < 32; ++k) {
        ASSERT_EQ(got_re[k * 4 + l], want_re[k]) << "trial " << trial << " lane " << l << " k " << k;
        ASSERT_EQ(got_im[k * 4 + l], want_im[k]) << "trial " << trial << " lane " << l << " k " << k;
      }
    }
  }
}

TEST(Fft32Lanes, LowColumnsEqualFullTransformAndOthersAreUntouched) {
  constexpr int kW = 17, kCells = 32 * kW;
  std::mt19937 rng(46);
  // Limits within the bound (lane arithmetic) and beyond it (the scalar
  // transform's road), including values near the 32-bit ends.
  const int limits[] = {255 * 255 * 255 / 16, kBound, kBound + 1, 1 << 28, INT32_MAX};
  for (int limit : limits)
    for (int trial = 0; trial < 60; ++trial) {
      const std::vector<int32_t> block = samples(rng, 32 * 32, limit, trial % 4);
      std::vector<int32_t> want_re(kCells), want_im(kCells);
      zyl::matchlib::fft2d_forward32(block.data(), want_re.data(), want_im.data());
      // The dispatched form, then each compiled form this processor runs.
      for (int variant = -1; variant <= 1; ++variant) {
        std::vector<int32_t> got_re(kCells, 12345), got_im(kCells, -6789);
        if (variant < 0) {
          zyl::matchlib::fft2d_forward32_low(block.data(), got_re.data(), got_im.data());
        } else if (!zyl::matchlib::fft2d_forward32_low_variant(variant, block.data(), got_re.data(),
                                                               got_im.data())) {
          ASSERT_NE(variant, 0) << "the generic form is always there";
          continue;
        }
        for (int u = 0; u < 32; ++u)
          for (int k = 0; k < kW; ++k) {
            const bool low = k < zyl::matchlib::kForward32LowColumns;
            ASSERT_EQ(got_re[u * kW + k], low ? want_re[u * kW + k] : 12345)
                << "form " << variant << " limit " << limit << " trial " << trial << " row " << u
                << " column " << k;
            ASSERT_EQ(got_im[u * kW + k], low ? want_im[u * kW + k] : -6789)
                << "form " << variant << " limit " << limit << " trial " << trial << " row " << u
                << " column " << k;
          }
      }
    }
}

}  // namespace

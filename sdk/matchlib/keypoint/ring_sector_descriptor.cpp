// Ring-and-sector texture descriptor: spreads of eight directionally
// enhanced versions of a turned patch over concentric rings and sectors.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_fft_enhance.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"
#include "zylscan/matchlib_ring_sector.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/reorient.h"
#include "matchlib/image/window_copy.h"
#include "matchlib/keypoint/ring_sector_descriptor.h"
#include "matchlib/spectral/fft_enhance.h"

namespace zyl::matchlib {
namespace {

constexpr int kNoCell = 255;
constexpr int kFrequency = 10;
constexpr int kDirections = 8;

struct Settings {
  int rings, width, inner, sectors;
  int outer() const { return inner + rings * width; }
};

Settings with_defaults(int r, int w, int e, int s) {
  return {r ? r : RING_SECTOR_DEFAULT_RINGS, w ? w : RING_SECTOR_DEFAULT_WIDTH,
          e ? e : RING_SECTOR_DEFAULT_INNER, s ? s : RING_SECTOR_DEFAULT_SECTORS};
}

// The settings are stored as bytes in the descriptor's header: the ring
// count and sector count have their own limits, ring width and inner
// radius may take any byte. Larger values would not fit the header, and
// their patch sizes overflow or ask for gigabytes.
bool settings_fit(int rings, int ring_width, int inner, int sectors) {
  return rings >= 0 && rings <= 5 && sectors >= 0 && sectors <= 16 && ring_width >= 0 &&
         ring_width <= 255 && inner >= 0 && inner <= 255;
}

// Cell of every patch pixel, kNoCell outside the rings.
std::vector<std::uint8_t> cell_map(const Settings& st, int ph, int pw) {
  std::vector<std::uint8_t> cells(static_cast<std::size_t>(ph) * pw, kNoCell);
  const int cy = ph / 2, cx = pw / 2, outer = st.outer();
  const int step = (st.sectors / 2 + 256) / st.sectors;
  for (int i = -outer; i <= outer; ++i)
    for (int j = -outer; j <= outer; ++j) {
      const int d = i * i + j * j;
      if (d < st.inner * st.inner) continue;
      int ring = 0;
      for (int k = 1; k <= st.rings && !ring; ++k) {
        const int lo = st.inner + (k - 1) * st.width, hi = st.inner + k * st.width;
        if (d >= lo * lo && d < hi * hi) ring = k;
      }
      if (!ring) continue;
      // The division leaves the last directions one past the last sector
      // for several sector counts (3, 5, 9, ...): they belong to it.
      const int sector = std::min((zyl::matchlib::fx_atan2(i, j) & 0xFF) / step, st.sectors - 1);
      cells[static_cast<std::size_t>(cy + i) * pw + cx + j] =
          static_cast<std::uint8_t>(st.sectors * (ring - 1) + sector);
    }
  return cells;
}

// a/b rounded half away from zero.
std::int64_t div_round(std::int64_t a, std::int64_t b) {
  return ((a < 0) == (b < 0)) ? (a + b / 2) / b : (a - b / 2) / b;
}

int compute(const std::uint8_t* patch, int ph, int pw, const Settings& st, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(st.rings);
  out[1] = static_cast<std::uint8_t>(st.width);
  out[2] = static_cast<std::uint8_t>(st.inner);
  out[3] = static_cast<std::uint8_t>(st.sectors);
  if (2 * st.outer() >= std::min(ph, pw)) return ML_BAD_ARGUMENT;
  const auto cells = cell_map(st, ph, pw);
  const int n_cells = st.rings * st.sectors;
  std::vector<std::int8_t> enhanced(cells.size());
  std::vector<std::int64_t> sum(n_cells), count(n_cells), spread(n_cells);
  for (int k = 0; k < kDirections; ++k) {
    const int rc =
        zyl::matchlib::fftenh_enhance32_fixed(patch, ph, pw, kFrequency, 16 * k, enhanced.data());
    if (rc != ML_OK) return rc;
    std::fill(sum.begin(), sum.end(), 0);
    std::fill(count.begin(), count.end(), 0);
    std::fill(spread.begin(), spread.end(), 0);
    for (std::size_t i = 0; i < cells.size(); ++i)
      if (cells[i] != kNoCell) {
        sum[cells[i]] += enhanced[i];
        ++count[cells[i]];
      }
    std::vector<std::int64_t> mean(n_cells);
    for (int c = 0; c < n_cells; ++c) mean[c] = count[c] ? div_round(sum[c], count[c]) : 0;
    for (std::size_t i = 0; i < cells.size(); ++i)
      if (cells[i] != kNoCell) spread[cells[i]] += std::abs(enhanced[i] - mean[cells[i]]);
    for (int c = 0; c < n_cells; ++c)
      if (count[c])
        out[4 + 8 * c + k] = static_cast<std::uint8_t>(
            std::min<std::int64_t>(255, (count[c] / 2 + 8 * spread[c]) / count[c]));
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int ring_sector_size(int rings, int sectors) {
  const Settings st = with_defaults(rings, 1, 1, sectors);
  return 4 + 8 * st.rings * st.sectors;
}

extern "C" ZYL_API int ring_sector_compute(const uint8_t* patch, int patch_height, int patch_width,
                                           int rings, int ring_width, int inner, int sectors,
                                           uint8_t* out) {
  if (!patch || !out || !settings_fit(rings, ring_width, inner, sectors) || patch_height <= 0 ||
      patch_width <= 0 || patch_height % 2 == 0 || patch_width % 2 == 0)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return compute(patch, patch_height, patch_width,
                   with_defaults(rings, ring_width, inner, sectors), out);
  });
}

int zyl::matchlib::ring_sector_descriptor(const uint8_t* pixels, int height, int width, int row,
                                          int column, int angle, int rings, int ring_width,
                                          int inner, int sectors, uint8_t* out) {
  if (!pixels || !out || height <= 0 || width <= 0 ||
      !settings_fit(rings, ring_width, inner, sectors))
    return ML_BAD_ARGUMENT;
  const Settings st = with_defaults(rings, ring_width, inner, sectors);
  const int p = 2 * st.outer() + 1;
  int n = (p * 142 + 50) / 100;  // room for the patch at any angle
  if (n % 2 == 0) ++n;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<std::uint8_t> square(static_cast<std::size_t>(n) * n, 128),
        patch(static_cast<std::size_t>(p) * p);
    int rc = zyl::matchlib::copy_window_checked<std::uint8_t>(
        pixels, static_cast<std::uint32_t>(height), static_cast<std::uint32_t>(width),
        static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(n), row - n / 2, column - n / 2,
        square.data());
    if (rc != ML_OK) return rc;
    std::uint8_t* turned = nullptr;
    int th = 0, tw = 0, orow = 0, ocol = 0;
    rc = zyl::matchlib::img_rotate_u8(square.data(), n, n, (angle + 64) & 0xFF, &turned, &th, &tw,
                                      &orow, &ocol);
    if (rc != ML_OK) return rc;
    rc = zyl::matchlib::copy_centered<std::uint8_t>(
        turned, static_cast<std::uint32_t>(th), static_cast<std::uint32_t>(tw),
        static_cast<std::uint32_t>(p), static_cast<std::uint32_t>(p), patch.data());
    std::free(turned);
    if (rc != ML_OK) return rc;
    return compute(patch.data(), p, p, st, out);
  });
}

extern "C" {

ZYL_API int ring_sector_descriptor(const uint8_t* pixels, int height, int width, int row,
                                   int column, int angle, int rings, int ring_width, int inner,
                                   int sectors, uint8_t* out) {
  return zyl::matchlib::ring_sector_descriptor(pixels, height, width, row, column, angle, rings,
                                               ring_width, inner, sectors, out);
}

}  // extern "C"

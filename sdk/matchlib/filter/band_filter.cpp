// Table-driven frequency-domain filters over the tiled driver and the
// float frame, the dominant-direction tile filter, and the band-pass
// preprocessing stage.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fftfilt.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_gain_table.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_frequency.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/param_store.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/filter/gain_tables.h"
#include "matchlib/image/stretch.h"
#include "matchlib/filter/stripe.h"
#include "matchlib/image/segmentation.h"
#include "matchlib/spectral/fft_float.h"
#include "matchlib/spectral/tile_spectra.h"
#include "matchlib/spectral/tiled_filter.h"

namespace zyl::matchlib {
namespace {

constexpr int kTile = 64, kMargin = 32, kPad = 4;
constexpr int kTableBytes = GAIN_TABLE64_ROWS * GAIN_TABLE64_COLUMNS;
constexpr int kFloatEntries = GAIN_TABLE256F_ROWS * GAIN_TABLE256F_COLUMNS;

template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

int run_byte_table(const std::uint8_t* src, int h, int w, std::uint8_t* table, std::uint8_t* dst) {
  return zyl::matchlib::fftfilt_run_u8(dst, src, h, w, kTile, kMargin, kPad, fftfilt_gain_cb,
                                       table);
}

// Builds (and for the inverted forms complements) a byte table, applies
// the zero-frequency flag and runs the driver.
int radial_u8(const std::uint8_t* src, int h, int w, int r, int b, int c, int d, int e,
              bool zero_frequency, bool inverted, std::uint8_t* dst) {
  Owned<std::uint8_t> table(zyl::matchlib::fftfilt_gain_table_u8(r, b, c, d, e));
  if (!table) return ML_WRONG_KIND;
  if (inverted)
    for (int k = 0; k < kTableBytes; ++k) table.get()[k] = static_cast<std::uint8_t>(255 - table.get()[k]);
  if (zero_frequency) table.get()[0] = 255;
  return run_byte_table(src, h, w, table.get(), dst);
}

int radial_u16(const std::uint16_t* src, int h, int w, int r, int b, int c, int d, int e,
               bool zero_frequency, bool inverted, std::uint16_t* dst) {
  Owned<float> table(zyl::matchlib::fftfilt_gain_table_float(r, b, c, d, e));
  if (!table) return ML_WRONG_KIND;
  if (inverted)
    for (int k = 0; k < kFloatEntries; ++k) table.get()[k] = 1.0f - table.get()[k];
  if (zero_frequency) table.get()[0] = 1.0f;
  return zyl::matchlib::fftfilt_run_float_u16(dst, src, h, w, 256, 256, fftfilt_gain_float_cb,
                                              table.get());
}

// Which of the 16 half-turn sectors the frequency (u rows, v columns) is in.
int sector_of(int u, int v) { return (zyl::matchlib::fx_atan2(u, v) >> 3) & 15; }

int dominant_direction(std::int32_t* re, std::int32_t* im, int n,
                       const DominantDirectionParams& p) {
  Scratch<std::uint8_t> mag(static_cast<std::size_t>(n) * n);
  if (!mag) return ML_NO_MEMORY;
  zyl::matchlib::spectrum_to_bytes(mag.get(), re, im, n);
  const int q = n / 4, half = n / 2;
  auto at = [&](int u, int v) { return int{mag[static_cast<std::size_t>(u + half) * n + v + half]}; };

  // Radial histogram inside the central quarter.
  std::uint32_t bins[65] = {};
  std::uint64_t total = 0;
  for (int u = -q; u < q; ++u)
    for (int v = -q; v < q; ++v) {
      const int r2 = u * u + v * v;
      if (r2 == 0 || r2 >= q * q) continue;
      bins[zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(r2))] += at(u, v);
      total += at(u, v);
    }
  int inner = 0, outer = 0;
  std::uint64_t running = 0;
  for (int r = 0; r <= half; ++r) {
    running += bins[r];
    if (running > total * p.inner_percent / 100) {
      inner = r;
      break;
    }
  }
  running = 0;
  for (int r = half; r >= 0; --r) {
    running += bins[r];
    if (running > total * p.outer_percent / 100) {
      outer = r;
      break;
    }
  }

  // Mean magnitude per direction sector within the ring.
  std::uint32_t sum[16] = {}, count[16] = {};
  for (int u = -q; u < q; ++u)
    for (int v = -q; v < q; ++v) {
      const int r2 = u * u + v * v;
      if (r2 == 0 || r2 >= q * q || r2 < inner * inner || r2 > outer * outer) continue;
      const int s = sector_of(u, v);
      sum[s] += at(u, v);
      ++count[s];
    }
  int value[16];
  for (int s = 0; s < 16; ++s) value[s] = count[s] ? static_cast<int>(sum[s] / count[s]) : 0;
  for (int s = 0; s < 16; ++s)
    if (!count[s]) value[s] = (value[(s + 15) & 15] + value[(s + 1) & 15]) >> 1;

  // The run of sectors around the strongest that holds the kept share.
  const int strongest = static_cast<int>(std::max_element(value, value + 16) - value);
  std::int64_t all = 0;
  for (int v : value) all += v;
  const std::int64_t wanted = all * p.kept_percent / 100;
  bool pass[16] = {};
  pass[strongest] = true;
  int lo = strongest, hi = strongest, length = 1;
  std::int64_t kept = value[strongest];
  for (int added = 0; added < 16 && kept <= wanted && length < 16; ++added) {
    const int up = (hi + 1) & 15, down = (lo + 15) & 15;
    if (value[up] >= value[down]) {
      hi = up;
      kept += value[up];
      pass[up] = true;
    } else {
      lo = down;
      kept += value[down];
      pass[down] = true;
    }
    ++length;
  }

  // Clear what lies off the ring or off the run, in the half spectrum.
  const int cols = n / 2 + 1;
  for (int row = 0; row < n; ++row) {
    const int u = row <= half ? row : row - n;
    for (int v = 0; v < cols; ++v) {
      const int r2 = u * u + v * v;
      if (r2 == 0) continue;
      if (r2 < inner * inner || r2 > outer * outer || !pass[sector_of(u, v)]) {
        re[static_cast<std::size_t>(row) * cols + v] = 0;
        im[static_cast<std::size_t>(row) * cols + v] = 0;
      }
    }
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::fftfilt_band_by_resolution_u8(const uint8_t* src, int height, int width,
                                                 int resolution, uint8_t* dst) {
  // Ready tables are read-only; the driver only reads its user data.
  if (const uint8_t* ready = zyl::matchlib::fftfilt_gain_table_ready_u8(resolution))
    return run_byte_table(src, height, width, const_cast<uint8_t*>(ready), dst);
  return radial_u8(src, height, width, resolution, 201, 0, 1280, 512, false, false, dst);
}

extern "C" ZYL_API int fftfilt_band_default_inverted_u8(const uint8_t* src, int height, int width,
                                                        int resolution, uint8_t* dst) {
  return radial_u8(src, height, width, resolution, 201, 0, 1280, 512, false, true, dst);
}

int zyl::matchlib::fftfilt_radial_u8(const uint8_t* src, int height, int width, int resolution,
                                     int b, int c, int d, int e, int zero_frequency, uint8_t* dst) {
  return radial_u8(src, height, width, resolution, b, c, d, e, zero_frequency != 0, false, dst);
}

int zyl::matchlib::fftfilt_radial_inverted_u8(const uint8_t* src, int height, int width,
                                              int resolution, int b, int c, int d, int e,
                                              int zero_frequency, uint8_t* dst) {
  return radial_u8(src, height, width, resolution, b, c, d, e, zero_frequency != 0, true, dst);
}

int zyl::matchlib::fftfilt_radial_u16(const uint16_t* src, int height, int width, int resolution,
                                      int b, int c, int d, int e, int zero_frequency,
                                      uint16_t* dst) {
  if (height > 256 || width > 256) return ML_WRONG_KIND;
  return radial_u16(src, height, width, resolution, b, c, d, e, zero_frequency != 0, false, dst);
}

extern "C" ZYL_API int fftfilt_radial_inverted_u16(const uint16_t* src, int height, int width,
                                                   int resolution, int b, int c, int d, int e,
                                                   int zero_frequency, uint16_t* dst) {
  return radial_u16(src, height, width, resolution, b, c, d, e, zero_frequency != 0, true, dst);
}

extern "C" ZYL_API int fftfilt_dominant_direction_cb(int32_t* re, int32_t* im, int n, void*, int,
                                                     void* user) {
  if (!re || !im || !user || n < 4 || n > 128) return ML_BAD_ARGUMENT;
  return dominant_direction(re, im, n, *static_cast<const DominantDirectionParams*>(user));
}

extern "C" ZYL_API int fftfilt_dominant_direction_u8(const uint8_t* src, int height, int width, int,
                                                     const DominantDirectionParams* params,
                                                     uint8_t* dst) {
  if (!params) return ML_BAD_ARGUMENT;
  return zyl::matchlib::fftfilt_run_u8(dst, src, height, width, kTile, 16, kPad,
                                       fftfilt_dominant_direction_cb,
                                       const_cast<DominantDirectionParams*>(params));
}

extern "C" ZYL_API int fftfilt_unset_cb_a(int32_t*, int32_t*, int, void*, int, void*) { return 1; }
extern "C" ZYL_API int fftfilt_unset_cb_b(int32_t*, int32_t*, int, void*, int, void*) { return 1; }

extern "C" ZYL_API int fftfilt_run_unset_a_u8(const uint8_t* src, int height, int width, int,
                                              int value, uint8_t* dst) {
  return zyl::matchlib::fftfilt_run_u8(
      dst, src, height, width, kTile, kMargin, kPad, fftfilt_unset_cb_a,
      reinterpret_cast<void*>(static_cast<uintptr_t>(value & 0xFF)));
}

extern "C" ZYL_API int fftfilt_run_unset_b_u8(const uint8_t* src, int height, int width, int,
                                              int value, uint8_t* dst) {
  return zyl::matchlib::fftfilt_run_u8(
      dst, src, height, width, kTile, kMargin, kPad, fftfilt_unset_cb_b,
      reinterpret_cast<void*>(static_cast<uintptr_t>(value & 0xFF)));
}

int zyl::matchlib::imgproc_preprocess_bandpass(const MatchContext* ctx, const uint8_t* src,
                                               uint32_t, int height, int width, int resolution, int,
                                               uint8_t* out, uint8_t** foreground) {
  if (foreground) *foreground = nullptr;
  if (!src || !out || !foreground) return ML_BAD_ARGUMENT;
  const int h = static_cast<uint16_t>(height), w = static_cast<uint16_t>(width);
  const int dpi = static_cast<uint16_t>(resolution);
  const std::size_t n = static_cast<std::size_t>(h) * w;
  std::memcpy(out, src, n);
  int st = zyl::matchlib::imgproc_destripe_by_type(out, h, w, 2, 0, out);
  if (st == ML_OK) st = zyl::matchlib::imgproc_destripe_by_type(out, h, w, 3, 0, out);
  if (st != ML_OK) return st;
  zyl::matchlib::imgproc_stretch_percentile_below(out, h, w, 1, 250, out);
  zyl::matchlib::stripe_correct_columns(out, h, w, 1, 4, out);
  const int low = zyl::matchlib::param_get(ctx, 0x1dd48533u, 128);
  const int high = zyl::matchlib::param_get(ctx, 0x9f14c317u, 1024);
  const int edge = zyl::matchlib::param_get(ctx, 0x26b81d3au, 256);
  st = zyl::matchlib::fftfilt_radial_u8(out, h, w, dpi, low, 0, high, edge, 0, out);
  if (st != ML_OK) return st;
  zyl::matchlib::imgproc_stretch_percentile(out, h, w, 1, out);
  const int threshold = zyl::matchlib::param_get(ctx, 0x5d116701u, 64);
  const int votes = zyl::matchlib::param_get(ctx, 0x0da173d0u, 75);
  Owned<uint8_t> map(static_cast<uint8_t*>(ml_malloc(n ? n : 1)));
  if (!map) return ML_NO_MEMORY;
  st = zyl::matchlib::imgproc_segment_local_variance(out, h, w, threshold, votes, map.get());
  if (st != ML_OK) return st;
  *foreground = map.release();
  return ML_OK;
}

extern "C" {

ZYL_API int fftfilt_band_by_resolution_u8(const uint8_t* src, int height, int width, int resolution,
                                          uint8_t* dst) {
  return zyl::matchlib::fftfilt_band_by_resolution_u8(src, height, width, resolution, dst);
}
ZYL_API int fftfilt_radial_u8(const uint8_t* src, int height, int width, int resolution, int b,
                              int c, int d, int e, int zero_frequency, uint8_t* dst) {
  return zyl::matchlib::fftfilt_radial_u8(src, height, width, resolution, b, c, d, e,
                                          zero_frequency, dst);
}
ZYL_API int fftfilt_radial_inverted_u8(const uint8_t* src, int height, int width, int resolution,
                                       int b, int c, int d, int e, int zero_frequency,
                                       uint8_t* dst) {
  return zyl::matchlib::fftfilt_radial_inverted_u8(src, height, width, resolution, b, c, d, e,
                                                   zero_frequency, dst);
}
ZYL_API int fftfilt_radial_u16(const uint16_t* src, int height, int width, int resolution, int b,
                               int c, int d, int e, int zero_frequency, uint16_t* dst) {
  return zyl::matchlib::fftfilt_radial_u16(src, height, width, resolution, b, c, d, e,
                                           zero_frequency, dst);
}
ZYL_API int imgproc_preprocess_bandpass(const MatchContext* ctx, const uint8_t* src, uint32_t arg2,
                                        int height, int width, int resolution, int arg6,
                                        uint8_t* out, uint8_t** foreground) {
  return zyl::matchlib::imgproc_preprocess_bandpass(ctx, src, arg2, height, width, resolution, arg6,
                                                    out, foreground);
}

}  // extern "C"

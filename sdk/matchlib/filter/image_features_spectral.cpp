// The 25-value spectral feature vector of an image at 500 dpi and its
// scoring by a chain of score models.
//
// Values: 0 classical quality, 1 foreground percentage, 2 bright
// percentage; 3-4 mean and deviation of the tiles' spectral energy >> 12;
// 5 spectral maxima per tile (x 1024); 6-7 in-band and standing-out maxima
// over (all maxima x tiles) (x 16384); 8-11 shares of tiles without
// maxima, without a standing-out one, with at least three quarters and
// with under half of their maxima in band (x 1024); 12-13 deviation and
// mean of half the strongest peak's period; 14-17 deviation and mean of
// the direction and period differences between neighbouring tiles; 18-19
// deviation and mean of the peak sharpness; 20-23 shares of large period
// and direction differences; 24 the tile positions examined. Tiles are
// 32 x 32 windows stepping 8 pixels, at most 10 x 10 of them, centred on
// the foreground's centroid; only tiles whose grey variance is high enough
// count ("accepted").
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_image_features.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_segmentation.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/score_model.h"
#include "matchlib/filter/image_features_spectral.h"
#include "matchlib/filter/quality_coherence.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/image/region_tools.h"
#include "matchlib/image/segmentation.h"
#include "matchlib/spectral/fft2d.h"

namespace zyl::matchlib {
namespace {

constexpr int kTile = 32, kStep = 8, kGrid = 10, kCentre = 16, kHalf = kTile / 2 + 1;

// Half-window taper, mirrored for the other half.
constexpr std::array<int, 16> kTaper = {0x00, 0x11, 0x21, 0x32, 0x42, 0x53, 0x63, 0x74,
                                        0x84, 0x95, 0xA5, 0xB6, 0xC6, 0xD7, 0xE7, 0xF8};

// The energy band: frequencies of 2 to 7 cycles per tile (periods of about
// 4.6 to 16 pixels, which hold the ridge periods of 500-dpi prints with
// room on both sides). The band is an implementation choice.
constexpr int kBandLow2 = 2 * 2, kBandHigh2 = 7 * 7;
constexpr std::int64_t kPeriodMin = 1208, kPeriodMax = 4608;  // 1/256 pixel

struct Tile {
  bool accepted = false;
  std::int64_t energy = 0;
  int maxima = 0, in_band = 0, standing_out = 0;
  bool has_peak = false;
  std::int64_t peak = 0;
  int period = 0;  // 1/256 pixel
  std::uint8_t direction = 0, sharpness = 0;
};

using Plane = std::array<std::array<std::int64_t, kTile>, kTile>;

std::int64_t at(const Plane& p, int r, int c) {
  return (r < 0 || r >= kTile || c < 0 || c >= kTile) ? 0 : p[r][c];
}

int taper(int i) { return kTaper[i < 16 ? i : kTile - 1 - i]; }

// Power spectrum with the zero frequency at (16, 16).
Plane power_spectrum(const std::array<std::int32_t, kTile * kTile>& block) {
  std::array<std::int32_t, kTile * kHalf> re{}, im{};
  zyl::matchlib::fft2d_forward32(block.data(), re.data(), im.data());
  Plane p{};
  for (int r = 0; r < kTile; ++r)
    for (int c = 0; c < kTile; ++c) {
      int u = r - kCentre, k = c - kCentre;
      if (k < 0) {  // conjugate symmetry: S(u, k) = conj S(-u, -k)
        u = -u;
        k = -k;
      }
      const int row = (u % kTile + kTile) % kTile;
      const std::int64_t a = re[row * kHalf + k], b = im[row * kHalf + k];
      p[r][c] = a * a + b * b;
    }
  return p;
}

bool in_search_area(int r, int c) {
  return r >= 10 && r <= 22 && c >= 11 && c <= (r >= 16 ? 16 : 17);
}

// Spectral analysis of one accepted tile's block.
void analyse(const std::array<std::int32_t, kTile * kTile>& block, Tile& t) {
  const Plane p = power_spectrum(block);
  std::int64_t total = 0;
  for (int r = 0; r < kTile; ++r)
    for (int c = 0; c < kTile; ++c) {
      const int d2 = (r - kCentre) * (r - kCentre) + (c - kCentre) * (c - kCentre);
      if (d2 >= kBandLow2 && d2 <= kBandHigh2) total += p[r][c];
    }
  t.energy = total;
  Plane sharp{};
  for (int r = 0; r < kTile; ++r)
    for (int c = 0; c < kTile; ++c) {
      if (p[r][c] <= (total >> 7)) continue;
      sharp[r][c] =
          16 * p[r][c] -
          2 * (at(p, r - 1, c) + at(p, r + 1, c) + at(p, r, c - 1) + at(p, r, c + 1)) -
          (at(p, r - 1, c - 1) + at(p, r - 1, c + 1) + at(p, r + 1, c - 1) + at(p, r + 1, c + 1)) -
          (at(p, r - 2, c) + at(p, r + 2, c) + at(p, r, c - 2) + at(p, r, c + 2));
    }
  std::int64_t best = 0, second = 0;
  for (int r = 0; r < kTile; ++r)
    for (int c = 0; c < kTile; ++c) {
      const std::int64_t v = sharp[r][c];
      if (!in_search_area(r, c) || v <= 0) continue;
      bool maximum = true;
      for (int dr = -1; dr <= 1 && maximum; ++dr)
        for (int dc = -1; dc <= 1; ++dc)
          if ((dr || dc) && at(sharp, r + dr, c + dc) > v) maximum = false;
      if (!maximum) continue;
      ++t.maxima;
      // Frequency in 1/4096 bin, refined by the power centroid of the 3 x 3
      // neighbourhood (an implementation choice).
      std::int64_t w = 0, wr = 0, wc = 0;
      for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) {
          const std::int64_t q = at(p, r + dr, c + dc);
          w += q;
          wr += q * dr;
          wc += q * dc;
        }
      const std::int64_t fr = (r - kCentre) * 4096 + (w ? wr * 4096 / w : 0);
      const std::int64_t fc = (c - kCentre) * 4096 + (w ? wc * 4096 / w : 0);
      const std::uint32_t mag = zyl::matchlib::fx_isqrt32_alt(
          static_cast<std::uint32_t>(std::min<std::int64_t>(fr * fr + fc * fc, 0xFFFFFFFF)));
      if (!mag) continue;
      const std::int64_t period = 0x2000000 / mag;
      if (period < kPeriodMin || period > kPeriodMax) continue;
      ++t.in_band;
      const std::int64_t mean9 = 9 * v +
                                 2 * (at(sharp, r - 1, c) + at(sharp, r + 1, c) +
                                      at(sharp, r, c - 1) + at(sharp, r, c + 1)) +
                                 at(sharp, r - 1, c - 1) + at(sharp, r - 1, c + 1) +
                                 at(sharp, r + 1, c - 1) + at(sharp, r + 1, c + 1);
      if (256 * (mean9 / 21) < 180 * v) ++t.standing_out;
      if (v > best) {
        second = best;
        best = v;
        t.has_peak = true;
        t.period = static_cast<int>(period);
        // The doubled angle of the frequency vector; scaled down so the
        // products stay in 32 bits.
        const std::int64_t sr = fr >> 4, sc = fc >> 4;
        t.direction =
            static_cast<std::uint8_t>(zyl::matchlib::fx_atan2(static_cast<int>(2 * sr * sc),
                                                              static_cast<int>(sc * sc - sr * sr)) &
                                      0xFF);
      } else if (v > second) {
        second = v;
      }
    }
  t.peak = best;
  // Sharpness: how far the strongest in-band maximum stands above the
  // runner-up.
  if (best > 0) t.sharpness = static_cast<std::uint8_t>(255 * (best - second) / best);
}

struct Stats {
  std::int64_t sum = 0, squares = 0, n = 0;
  void add(std::int64_t v) {
    sum += v;
    squares += v * v;
    ++n;
  }
  std::int64_t mean() const { return sum / std::max<std::int64_t>(n, 1); }
  std::int64_t deviation() const {
    const std::int64_t c = std::max<std::int64_t>(n, 1);
    const std::int64_t var = (squares - sum * mean()) / c;
    return zyl::matchlib::fx_isqrt32_alt(
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(var, 0, 0xFFFFFFFF)));
  }
};

std::int32_t share(std::int64_t count, std::int64_t of) {
  return static_cast<std::int32_t>((count << 10) / std::max<std::int64_t>(of, 1));
}

void tile_values(const std::uint8_t* px, int h, int w, int centre_row, int centre_col,
                 std::int32_t* v) {
  const int rows = h < kTile ? 0 : std::min(kGrid, (h - kTile) / kStep + 1);
  const int cols = w < kTile ? 0 : std::min(kGrid, (w - kTile) / kStep + 1);
  const int span_r = kTile + (rows - 1) * kStep, span_c = kTile + (cols - 1) * kStep;
  const int top = std::clamp(centre_row - span_r / 2, 0, std::max(0, h - span_r));
  const int left = std::clamp(centre_col - span_c / 2, 0, std::max(0, w - span_c));
  std::array<std::array<Tile, kGrid>, kGrid> tiles{};
  std::array<std::int32_t, kTile * kTile> block{};
  for (int ti = 0; ti < rows; ++ti)
    for (int tj = 0; tj < cols; ++tj) {
      const int y0 = top + ti * kStep, x0 = left + tj * kStep;
      std::int64_t sum = 0, sq = 0, n = 0;
      for (int y = y0; y < std::min(y0 + kTile, h); ++y)
        for (int x = x0; x < std::min(x0 + kTile, w); ++x) {
          const int g = px[static_cast<std::size_t>(y) * w + x];
          sum += g;
          sq += g * g;
          ++n;
        }
      if (!n) continue;
      if ((16 * sq - sum * (16 * sum / n)) / n <= 511) continue;
      Tile& t = tiles[ti][tj];
      t.accepted = true;
      const std::int64_t mean = (sum + n / 2) / n;
      for (int y = 0; y < kTile; ++y)
        for (int x = 0; x < kTile; ++x) {
          const int g = px[static_cast<std::size_t>(y0 + y) * w + x0 + x];
          block[y * kTile + x] =
              static_cast<std::int32_t>((g - mean) * taper(y) / 16 * taper(x) / 16);
        }
      analyse(block, t);
    }

  Stats energy, half_period, sharpness;
  std::int64_t accepted = 0, maxima = 0, in_band = 0, standing = 0, none = 0, dull = 0, mostly = 0,
               seldom = 0;
  for (int ti = 0; ti < rows; ++ti)
    for (int tj = 0; tj < cols; ++tj) {
      const Tile& t = tiles[ti][tj];
      if (!t.accepted) continue;
      ++accepted;
      energy.add(t.energy >> 12);
      maxima += t.maxima;
      in_band += t.in_band;
      standing += t.standing_out;
      none += t.maxima == 0;
      dull += t.maxima > 0 && t.standing_out == 0;
      mostly += t.maxima > 0 && 4 * t.in_band >= 3 * t.maxima;
      seldom += 2 * t.in_band < t.maxima;
      if (t.has_peak) {
        half_period.add(t.period / 2);
        sharpness.add(t.sharpness);
      }
    }
  const std::int64_t e = std::max<std::int64_t>(accepted, 1);
  v[3] = static_cast<std::int32_t>(energy.mean());
  v[4] = static_cast<std::int32_t>(energy.deviation());
  v[5] = share(maxima, e);
  const double all = static_cast<double>(std::max<std::int64_t>(maxima * e, 1));
  v[6] = static_cast<std::int32_t>(static_cast<double>(in_band) / all * 16384.0);
  v[7] = static_cast<std::int32_t>(static_cast<double>(standing) / all * 16384.0);
  v[8] = share(none, e);
  v[9] = share(dull, e);
  v[10] = share(mostly, e);
  v[11] = share(seldom, e);
  v[12] = static_cast<std::int32_t>(half_period.deviation());
  v[13] = static_cast<std::int32_t>(half_period.mean());

  Stats dirs, pers;
  std::int64_t big_per = 0, big_dir = 0, calm_per = 0, calm_dir = 0;
  for (int ti = 1; ti <= 8 && ti < rows; ++ti)
    for (int tj = 1; tj <= 8 && tj < cols; ++tj) {
      const Tile& t = tiles[ti][tj];
      if (!t.accepted || !t.has_peak) continue;
      std::int64_t dir_sum = 0, per_sum = 0, made = 0;
      for (const auto& [di, dj] : {std::pair{0, -1}, {0, 1}, {-1, 0}, {1, 0}}) {
        const int ni = ti + di, nj = tj + dj;
        if (ni >= rows || nj >= cols) continue;
        const Tile& o = tiles[ni][nj];
        if (!o.accepted || !o.has_peak) continue;
        const int d_dir =
            std::abs(static_cast<int>(static_cast<std::int8_t>(t.direction - o.direction)));
        const int d_per = std::abs(t.period - o.period);
        dirs.add(d_dir);
        pers.add(d_per);
        big_per += std::clamp(d_per - 350, 0, 100);
        big_dir += std::clamp(d_dir - 10, 0, 10);
        dir_sum += d_dir;
        per_sum += d_per;
        ++made;
      }
      if (per_sum <= 449) calm_per += made;
      if (dir_sum <= 19) calm_dir += made;
    }
  v[14] = static_cast<std::int32_t>(dirs.deviation());
  v[15] = static_cast<std::int32_t>(dirs.mean());
  v[16] = static_cast<std::int32_t>(pers.deviation());
  v[17] = static_cast<std::int32_t>(pers.mean());
  v[18] = static_cast<std::int32_t>(sharpness.deviation());
  v[19] = static_cast<std::int32_t>(sharpness.mean());
  v[20] = static_cast<std::int32_t>((big_per << 8) / std::max<std::int64_t>(pers.n, 1));
  v[21] = static_cast<std::int32_t>((big_dir << 10) / std::max<std::int64_t>(dirs.n, 1));
  v[22] = static_cast<std::int32_t>((calm_per << 10) / std::max<std::int64_t>(pers.n, 1));
  v[23] = static_cast<std::int32_t>((calm_dir << 10) / std::max<std::int64_t>(dirs.n, 1));
  v[24] = rows * cols;
}

bool at_500(int dpi) { return dpi >= 492 && dpi <= 508; }

int compute(const GrayImage* image, SpectralFeatureVector& sv) {
  GrayImage* work = nullptr;
  if (at_500(zyl::matchlib::image_resolution_y(image)) &&
      at_500(zyl::matchlib::image_resolution_x(image))) {
    work = zyl::matchlib::image_retain(const_cast<GrayImage*>(image));
  } else {
    work = zyl::matchlib::image_resample_to_resolution(image, 500, 500);
    if (!work) return ML_NO_MEMORY;
  }
  struct Release {
    GrayImage* p;
    ~Release() { zyl::matchlib::image_release(p); }
  } hold{work};
  const int h = zyl::matchlib::image_height(work), w = zyl::matchlib::image_width(work);
  const std::uint8_t* px = zyl::matchlib::image_pixels(work);
  if (!px || h <= 0 || w <= 0) return ML_BAD_ARGUMENT;
  std::uint8_t quality = 0, bright = 0;
  std::uint32_t area = 0;
  int rc = zyl::matchlib::quality_assess_image_scaled(px, h, w, &quality, &area, &bright, 1);
  if (rc != ML_OK) return rc;
  const std::int64_t r = at_500(zyl::matchlib::image_resolution_y(work))
                             ? zyl::matchlib::image_resolution_y(work)
                             : 500;
  sv.quality = quality;
  sv.bright = bright;
  sv.area_mm2 = static_cast<std::int16_t>(
      std::min<std::int64_t>(250000 / r * static_cast<std::int64_t>(area) / 388 / r, 32767));

  const std::size_t n = static_cast<std::size_t>(h) * w;
  std::vector<std::uint8_t> foreground(n);
  if (const MaskPlane* mask = zyl::matchlib::image_mask_plane(work)) {
    for (std::size_t i = 0; i < n; ++i)
      foreground[i] = zyl::matchlib::mask_cell_is_clear(mask, static_cast<int>(i)) ? 255 : 0;
  } else {
    rc = zyl::matchlib::imgproc_segment_local_variance(px, h, w, 64, 75, foreground.data());
    if (rc != ML_OK) return rc;
  }
  int centre_row = h / 2, centre_col = w / 2;
  rc = zyl::matchlib::img_mask_centroid(foreground.data(), h, w, 1, h, w, &centre_row, &centre_col);
  if (rc != ML_OK) return rc;

  sv.values[0] = quality;
  sv.values[1] = static_cast<std::int32_t>(std::uint64_t{area} * 100 / n);
  sv.values[2] = bright;
  tile_values(px, h, w, centre_row, centre_col, sv.values);
  sv.count = SPECTRAL_FEATURE_COUNT;
  return ML_OK;
}

int score_with(const ScoreModel* model, const std::int32_t* values, int count, std::int32_t* out) {
  if (!model) return ML_BAD_ARGUMENT;
  return zyl::matchlib::score_model_evaluate(model, values, count, out, nullptr);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::specfeat_compute(const GrayImage* image, SpectralFeatureVector** out) {
  if (!image || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  auto* sv = static_cast<SpectralFeatureVector*>(ml_calloc(1, sizeof(SpectralFeatureVector)));
  if (!sv) return ML_NO_MEMORY;
  int rc = ML_OK;
  rc = zyl::GuardedCall(ML_NO_MEMORY, [&] { return compute(image, *sv); });
  if (rc != ML_OK) {
    std::free(sv);
    return rc;
  }
  *out = sv;
  return ML_OK;
}

void zyl::matchlib::specfeat_free(SpectralFeatureVector* vector) { std::free(vector); }

extern "C" ZYL_API int specfeat_score_with(const void*, const ScoreModel* model,
                                           const SpectralFeatureVector* vector,
                                           int32_t* out_score) {
  if (!model || !vector || !out_score) return ML_BAD_ARGUMENT;
  return score_with(model, vector->values, vector->count, out_score);
}

extern "C" ZYL_API int specfeat_info(const SpectralFeatureVector* vector, uint8_t* quality,
                                     int16_t* area_mm2, uint8_t* bright) {
  if (!vector) return ML_BAD_ARGUMENT;
  if (quality) *quality = vector->quality;
  if (area_mm2) *area_mm2 = vector->area_mm2;
  if (bright) *bright = vector->bright;
  return ML_OK;
}

uint16_t zyl::matchlib::specfeat_combine(int32_t t) {
  if (t < -20000) return 0;
  if (t < 45536) return static_cast<std::uint16_t>(t + 20000);
  return 65535;
}

extern "C" ZYL_API int specfeat_score_models(const SpectralScoreModels* models,
                                             const GrayImage* image, int16_t* out_score) {
  if (!models || !image || !out_score || !models->final_model) return ML_BAD_ARGUMENT;
  for (const ScoreModel* m : models->first)
    if (!m) return ML_BAD_ARGUMENT;
  SpectralFeatureVector* sv = nullptr;
  int rc = zyl::matchlib::specfeat_compute(image, &sv);
  if (rc != ML_OK) return rc;
  std::array<std::int32_t, 4> s{};
  for (int i = 0; i < 4 && rc == ML_OK; ++i)
    rc = score_with(models->first[i], sv->values, sv->count, &s[i]);
  std::int32_t t = 0;
  if (rc == ML_OK) rc = score_with(models->final_model, s.data(), 4, &t);
  if (rc == ML_OK) *out_score = static_cast<std::int16_t>(zyl::matchlib::specfeat_combine(t));
  zyl::matchlib::specfeat_free(sv);
  return rc;
}

// The library's own score models have no trained rows (nothing in the
// library calls this scoring), so the entry answers "unsupported" rather
// than scoring with invented weights.
extern "C" ZYL_API int specfeat_score(MatchContext* ctx, const GrayImage* image,
                                      int16_t* out_score) {
  if (!ctx || !image || !out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  return ML_WRONG_KIND;
}

extern "C" {

ZYL_API int specfeat_compute(const GrayImage* image, SpectralFeatureVector** out) {
  return zyl::matchlib::specfeat_compute(image, out);
}
ZYL_API void specfeat_free(SpectralFeatureVector* vector) { zyl::matchlib::specfeat_free(vector); }
ZYL_API uint16_t specfeat_combine(int32_t t) { return zyl::matchlib::specfeat_combine(t); }

}  // extern "C"

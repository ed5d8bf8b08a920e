// Texture features for the learned quality model: rotation-invariant local
// binary patterns at two radii, a local phase code of 5 x 5 windows, and
// grey-level profiles along ridge and valley skeletons decomposed by a
// five-level wavelet cascade, with a count of bright spots on the ridges.
// The vector is stored in templates, so every offset, pairing and scaling
// below is kept as the stored vectors were made, odd ones included.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "zylscan/matchlib_array.h"
#include "zylscan/matchlib_ridgemap.h"
#include "zylscan/matchlib_texture_features.h"
#include "matchlib/core/array_stats.h"
#include "matchlib/filter/texture_features.h"

namespace zyl::matchlib {
namespace {

using Histogram = std::array<std::int64_t, 256>;

// Classes of the binary patterns (smallest of the eight rotations) and of
// the phase codes (smallest of the rotations by 0, 2, 4 and 6 bits).
constexpr std::array<std::uint8_t, 36> kLbpClasses = {
    0x00, 0x01, 0x03, 0x05, 0x07, 0x09, 0x0B, 0x0D, 0x0F, 0x11, 0x13, 0x15,
    0x17, 0x19, 0x1B, 0x1D, 0x1F, 0x25, 0x27, 0x2B, 0x2D, 0x2F, 0x33, 0x35,
    0x37, 0x3B, 0x3D, 0x3F, 0x55, 0x57, 0x5B, 0x5F, 0x6F, 0x77, 0x7F, 0xFF};
constexpr std::array<std::uint8_t, 70> kPhaseClasses = {
    0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x09, 0x0A, 0x0B, 0x0D, 0x0E, 0x0F, 0x11,
    0x12, 0x13, 0x15, 0x16, 0x17, 0x19, 0x1A, 0x1B, 0x1D, 0x1E, 0x1F, 0x22, 0x23, 0x25,
    0x26, 0x27, 0x29, 0x2A, 0x2B, 0x2D, 0x2E, 0x2F, 0x33, 0x35, 0x36, 0x37, 0x39, 0x3A,
    0x3B, 0x3D, 0x3E, 0x3F, 0x55, 0x56, 0x57, 0x5A, 0x5B, 0x5E, 0x5F, 0x66, 0x67, 0x6A,
    0x6B, 0x6E, 0x6F, 0x77, 0x7A, 0x7B, 0x7E, 0x7F, 0xAA, 0xAB, 0xAF, 0xBB, 0xBF, 0xFF};

// Diagonal offsets by radius: the radius over the square root of 2, rounded.
constexpr std::array<int, 6> kDiagonal = {0, 1, 1, 2, 3, 4};

// The 16-tap Daubechies pair with 8 vanishing moments in Q17, newest first.
constexpr std::array<std::int64_t, 16> kLow = {-15,   89, -51,    -638,  1146,  1833,  -5779, -2277,
                                               16875, 62, -37226, -2075, 76724, 88556, 41009, 7132};
constexpr std::array<std::int64_t, 16> kHigh = {-7132, 41009, -88556, 76724, 2075,  -37226,
                                                -62,   16875, 2277,   -5779, -1833, 1146,
                                                638,   -51,   -89,    -15};

constexpr std::array<std::int32_t, 10> kVarianceCentres = {30,  60,   120,  210,  360,
                                                           660, 1200, 2220, 4020, 7350};
constexpr std::array<std::int32_t, 9> kRunCentres = {2, 3, 4, 6, 8, 13, 21, 34, 56};

struct Offset {
  int dc, dr;  // column, row
};
constexpr std::array<Offset, 8> kNeighbours = {
    {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}}};
// The wider ring of the bright-spot test. It is not symmetric: (-1, 0) and
// (1, -1) are inner neighbours and (2, 0) is listed twice; stored vectors
// were made with this list.
constexpr std::array<Offset, 12> kWideRing = {{{-2, -1},
                                               {-2, 0},
                                               {-2, 1},
                                               {-1, -2},
                                               {-1, 0},
                                               {0, 2},
                                               {0, -2},
                                               {1, 2},
                                               {1, -1},
                                               {2, 0},
                                               {2, 1},
                                               {2, 0}}};
constexpr std::array<Offset, 12> kOuterRing = {{{-2, -1},
                                                {-2, 0},
                                                {-2, 1},
                                                {-1, -2},
                                                {-1, 2},
                                                {0, -2},
                                                {0, 2},
                                                {1, -2},
                                                {1, 2},
                                                {2, -1},
                                                {2, 0},
                                                {2, 1}}};

// Where a trace leaves its start point: row by row.
struct Step {
  int dr, dc;
};
constexpr std::array<Step, 8> kStartOrder = {
    {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}}};

std::uint8_t rotate8(std::uint8_t v, int k) {
  return static_cast<std::uint8_t>((v >> k) | (v << (8 - k)));
}

// a/b rounded half away from zero, in 64 bits.
std::int64_t div_round(std::int64_t a, std::int64_t b) {
  return ((a < 0) == (b < 0)) ? (a + b / 2) / b : (a - b / 2) / b;
}

std::int32_t saturate32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// About 131072*c/N, saturating at 65535; 0 when nothing was examined.
std::int32_t scale_bin(std::int64_t c, std::int64_t n) {
  if (n <= 0) return 0;
  const std::int64_t v = (0x0FFFFFFF / n) * c;
  return v > 0x07FFFFFF ? 65535 : static_cast<std::int32_t>(v >> 11);
}

// Adds every code's count to its class (the smallest of its rotations by
// multiples of `step` bits) and writes the classes scaled.
template <std::size_t K>
void fold_and_scale(Histogram& h, int step, std::int64_t n,
                    const std::array<std::uint8_t, K>& classes, std::int32_t* out) {
  for (int code = 1; code < 256; ++code) {
    std::uint8_t smallest = static_cast<std::uint8_t>(code);
    for (int k = step; k < 8; k += step)
      smallest = std::min(smallest, rotate8(static_cast<std::uint8_t>(code), k));
    if (smallest != code) h[smallest] += h[code];
  }
  for (std::size_t i = 0; i < K; ++i) out[i] = scale_bin(h[classes[i]], n);
}

void lbp(std::int32_t* out, const std::uint8_t* px, const std::uint8_t* map, int c, int h, int w) {
  std::fill_n(out, kLbpClasses.size(), 0);
  if (c < 1 || c >= static_cast<int>(kDiagonal.size())) return;
  const int p = kDiagonal[c];
  const std::array<Offset, 8> at = {
      {{-p, -p}, {0, -c}, {p, -p}, {c, 0}, {p, p}, {0, c}, {-p, p}, {-c, 0}}};
  Histogram hist{};
  std::int64_t n = 0;
  for (int y = c; y < h - c; ++y)
    for (int x = c; x < w - c; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      if (!map[i]) continue;
      const int g = px[i];
      int code = 0;
      for (int k = 0; k < 8; ++k)
        if (px[static_cast<std::size_t>(y + at[k].dr) * w + x + at[k].dc] > g) code |= 1 << k;
      ++hist[code];
      ++n;
    }
  fold_and_scale(hist, 1, n, kLbpClasses, out);
}

constexpr std::array<int, 5> kCos = {6627, 2048, -5361, -5361, 2048};
constexpr std::array<int, 5> kSin = {0, 3314, 2048, -2048, -3314};

void phase_codes(const std::uint8_t* px, const std::uint8_t* map, int h, int w, std::int32_t* out) {
  std::fill_n(out, kPhaseClasses.size(), 0);
  Histogram hist{};
  std::int64_t n = 0;
  if (w > 4)
    for (int y = 2; y < h - 2; ++y)
      for (int x = 2; x < w - 2; ++x) {
        if (!map[static_cast<std::size_t>(y) * w + x]) continue;
        std::array<std::int64_t, 4> s{}, c{};  // diagonal, horizontal, anti-diagonal, vertical
        for (int wy = 0; wy < 5; ++wy) {
          const std::uint8_t* row = px + static_cast<std::size_t>(y - 2 + wy) * w + (x - 2);
          for (int wx = 0; wx < 5; ++wx) {
            const int v = row[wx];
            const std::array<int, 4> phase = {((wx - wy) % 5 + 5) % 5, wx, (wx + wy) % 5, wy};
            for (int f = 0; f < 4; ++f) {
              s[f] += static_cast<std::int64_t>(kSin[phase[f]]) * v;
              c[f] += static_cast<std::int64_t>(kCos[phase[f]]) * v;
            }
          }
        }
        int code = 0;
        for (int f = 0; f < 4; ++f) {
          if (s[f] >= 0) code |= 1 << (2 * f);
          if (c[f] >= 0) code |= 2 << (2 * f);
        }
        ++hist[code];
        ++n;
      }
  fold_and_scale(hist, 2, n, kPhaseClasses, out);
}

bool inside(int y, int x, int h, int w) { return y >= 0 && y < h && x >= 0 && x < w; }

int follow(const std::uint8_t* map, int h, int w, std::uint8_t mask, int& r, int& c, int& dr,
           int& dc) {
  const auto marked = [&](int y, int x) {
    return inside(y, x, h, w) && (map[static_cast<std::size_t>(y) * w + x] & mask);
  };
  if (dr == 0 && dc == 0) {
    for (const Step& o : kStartOrder)
      if (marked(r + o.dr, c + o.dc)) {
        dr = o.dr;
        dc = o.dc;
        r += dr;
        c += dc;
        return 1;
      }
    return 0;
  }
  if (dc != 0) {
    for (int step = -1; step <= 1; ++step)
      if (marked(r + step, c + dc)) {
        r += step;
        c += dc;
        dr = step;
        return 1;
      }
    return 0;
  }
  for (int step = -1; step <= 1; ++step)
    if (marked(r + dr, c + step)) {
      r += dr;
      c += step;
      dc = step;
      return 1;
    }
  return 0;
}

void cascade_push(TraceProfile& p, std::int32_t sample) {
  std::int32_t input = sample;
  for (int i = 0; i < WAVELET_LEVELS; ++i) {
    p.head[i] = static_cast<std::uint8_t>((p.head[i] + 1) % WAVELET_TAPS);
    p.ring[i][p.head[i]] = input;
    if (p.toggle[i]) {  // only every second input of a level is processed
      p.toggle[i] = 0;
      return;
    }
    p.toggle[i] = 1;
    // 64-bit sums: the approximations grow level by level.
    std::int64_t d = 0, a = 0;
    for (int k = 0; k < WAVELET_TAPS; ++k) {
      const std::int64_t x = p.ring[i][(p.head[i] + WAVELET_TAPS - k) % WAVELET_TAPS];
      d += kHigh[k] * x;
      a += kLow[k] * x;
    }
    const std::int32_t detail = saturate32(d >> 18), approx = saturate32(a >> 18);
    p.sums[2 + 2 * i] += std::abs(std::int64_t{detail});
    p.sums[3 + 2 * i] += std::abs(std::int64_t{detail} - p.previous_detail[i]);
    p.previous_detail[i] = detail;
    ++p.counts[i + 1];
    input = approx;
  }
  p.head[WAVELET_LEVELS] = static_cast<std::uint8_t>((p.head[WAVELET_LEVELS] + 1) % WAVELET_TAPS);
  p.ring[WAVELET_LEVELS][p.head[WAVELET_LEVELS]] = input;
  p.sums[12] += std::abs(std::int64_t{input});
  p.sums[13] += std::abs(std::int64_t{input} - p.previous_approximation);
  p.previous_approximation = input;
  ++p.counts[6];
}

void reset_profile(TraceProfile& p) {
  std::memset(&p, 0, sizeof p);
  std::fill(std::begin(p.toggle), std::end(p.toggle), 1);
}

// Mean grey of the map-foreground pixels at the offsets, rounded half away
// from zero; 255 when there are none.
template <std::size_t K>
int masked_mean(const std::uint8_t* px, const std::uint8_t* map, int h, int w, int y, int x,
                const std::array<Offset, K>& offsets) {
  std::int64_t sum = 0, n = 0;
  for (const Offset& o : offsets) {
    const int yy = y + o.dr, xx = x + o.dc;
    if (!inside(yy, xx, h, w)) continue;
    const std::size_t i = static_cast<std::size_t>(yy) * w + xx;
    if (!map[i]) continue;
    sum += px[i];
    ++n;
  }
  return n ? static_cast<int>(div_round(sum, n)) : 255;
}

struct SpotState {
  std::array<std::int64_t, 19> bins{};  // slots 156-174
  std::int64_t spots = 0;
  int run = 0;
};

void bright_spot(const std::uint8_t* px, const std::uint8_t* map, int h, int w, int y, int x,
                 SpotState& st) {
  const int e = masked_mean(px, map, h, w, y, x, kNeighbours);
  const int wide = masked_mean(px, map, h, w, y, x, kWideRing);
  if (!(e < px[static_cast<std::size_t>(y) * w + x] && wide < e)) {
    ++st.run;
    return;
  }
  std::array<std::int32_t, 20> grey{};
  int n = 0;
  const auto take = [&](const Offset& o) {
    const int yy = y + o.dr, xx = x + o.dc;
    if (!inside(yy, xx, h, w)) return;
    const std::size_t i = static_cast<std::size_t>(yy) * w + xx;
    if (map[i]) grey[n++] = px[i];
  };
  for (const Offset& o : kNeighbours) take(o);
  for (const Offset& o : kOuterRing) take(o);
  const int variance = zyl::matchlib::array_variance_i32(grey.data(), n);
  ++st.bins[zyl::matchlib::array_nearest_index_i32(variance, kVarianceCentres.data(), 10)];
  ++st.bins[10 + zyl::matchlib::array_nearest_index_i32(st.run, kRunCentres.data(), 9)];
  ++st.spots;
  st.run = 1;
}

// Traces every open skeleton line of the mask bit, end point first, and
// writes the profile slots from `base` on (and the spot slots for ridges).
void trace_features(const std::uint8_t* px, std::uint8_t* map, int h, int w, std::uint8_t mask,
                    int base, std::int32_t* vec) {
  TraceProfile p;
  reset_profile(p);
  SpotState spots;
  const bool ridges = mask == 0x02;
  const auto marked = [&](int y, int x) {
    return (map[static_cast<std::size_t>(y) * w + x] & mask) != 0;
  };
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      if (!marked(y, x)) continue;
      int neighbours = 0;
      for (const Offset& o : kNeighbours) neighbours += marked(y + o.dr, x + o.dc);
      if (neighbours != 1) continue;
      int r = y, c = x, dr = 0, dc = 0;
      do {
        const std::size_t i = static_cast<std::size_t>(r) * w + c;
        map[i] = static_cast<std::uint8_t>(map[i] & ~mask);
        if (ridges) bright_spot(px, map, h, w, r, c, spots);
        const std::int32_t s = std::int32_t{px[i]} << 5;
        p.sums[0] += s;
        p.sums[1] += std::abs(s - p.previous_sample);
        p.previous_sample = s;
        ++p.counts[0];
        cascade_push(p, s);
      } while (follow(map, h, w, mask, r, c, dr, dc));
    }

  if (ridges) {
    if (spots.spots > 0)
      for (std::size_t k = 0; k < spots.bins.size(); ++k)
        vec[156 + k] = saturate32(div_round(spots.bins[k] * 1000, spots.spots));
    if (p.counts[0] > 0) vec[175] = saturate32(div_round(spots.spots * 40000, p.counts[0]));
  }
  std::array<std::int64_t, 14> slot;
  std::copy(std::begin(p.sums), std::end(p.sums), slot.begin());
  // Each count divides slot k and slot 7 + k. This is not how the sums were
  // laid out (slot 1, the sample differences, is divided by the level-1
  // count), but the stored vectors were made this way.
  for (int k = 0; k < 7; ++k) {
    if (p.counts[k] <= 0) continue;
    slot[k] = div_round(slot[k], p.counts[k]);
    slot[7 + k] = div_round(slot[7 + k], p.counts[k]);
  }
  for (int k = 0; k < 14; ++k) vec[base + k] = saturate32(slot[k]);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::texture_features_compute(const uint8_t* pixels, uint8_t* ridge_map, int height,
                                             int width, int32_t* out) {
  if (!out) return;
  std::fill_n(out, TEXTURE_FEATURE_COUNT, 0);
  if (!pixels || !ridge_map || height <= 0 || width <= 0) return;
  lbp(out, pixels, ridge_map, 1, height, width);
  lbp(out + 36, pixels, ridge_map, 2, height, width);
  phase_codes(pixels, ridge_map, height, width, out + 72);
  trace_features(pixels, ridge_map, height, width, 0x02, TEXTURE_RIDGE_PROFILE, out);
  trace_features(pixels, ridge_map, height, width, 0x04, TEXTURE_VALLEY_PROFILE, out);
}

extern "C" ZYL_API void lbp_histogram(int32_t* out, const uint8_t* pixels, const uint8_t* ridge_map,
                                      int radius, int height, int width) {
  if (!out) return;
  if (!pixels || !ridge_map || height <= 0 || width <= 0) {
    std::fill_n(out, kLbpClasses.size(), 0);
    return;
  }
  lbp(out, pixels, ridge_map, radius, height, width);
}

extern "C" ZYL_API void phase_code_histogram(const uint8_t* pixels, const uint8_t* ridge_map,
                                             int height, int width, int32_t* out) {
  if (!out) return;
  if (!pixels || !ridge_map || height <= 0 || width <= 0) {
    std::fill_n(out, kPhaseClasses.size(), 0);
    return;
  }
  phase_codes(pixels, ridge_map, height, width, out);
}

extern "C" ZYL_API void ridge_trace_features(const uint8_t* pixels, uint8_t* ridge_map, int height,
                                             int width, int32_t* vector) {
  if (pixels && ridge_map && vector && height > 2 && width > 2)
    trace_features(pixels, ridge_map, height, width, 0x02, TEXTURE_RIDGE_PROFILE, vector);
}

extern "C" ZYL_API void valley_trace_features(const uint8_t* pixels, uint8_t* ridge_map, int height,
                                              int width, int32_t* vector) {
  if (pixels && ridge_map && vector && height > 2 && width > 2)
    trace_features(pixels, ridge_map, height, width, 0x04, TEXTURE_VALLEY_PROFILE, vector);
}

extern "C" ZYL_API int trace_follow(const uint8_t* map, int height, int width, uint8_t mask,
                                    int* row, int* column, int* row_step, int* column_step) {
  if (!map || !row || !column || !row_step || !column_step) return 0;
  return follow(map, height, width, mask, *row, *column, *row_step, *column_step);
}

extern "C" ZYL_API void wavelet_cascade_push(TraceProfile* profile, int32_t sample) {
  if (profile) cascade_push(*profile, sample);
}

extern "C" ZYL_API void lbp_normalize36(const int32_t* histogram, int32_t count, int32_t* out) {
  if (!histogram || !out) return;
  for (std::size_t i = 0; i < kLbpClasses.size(); ++i)
    out[i] = scale_bin(histogram[kLbpClasses[i]], count);
}

extern "C" {

ZYL_API void texture_features_compute(const uint8_t* pixels, uint8_t* ridge_map, int height,
                                      int width, int32_t* out) {
  zyl::matchlib::texture_features_compute(pixels, ridge_map, height, width, out);
}

}  // extern "C"

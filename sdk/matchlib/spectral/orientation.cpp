// Orientation fields: block and per-pixel estimates of the ridge direction
// from Sobel gradient moments, their coherence, and the doubled-angle
// vector smoothing that turns them into orientation bytes.
#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_fixed.h"
#include "common/guarded_call.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/gradient_variance.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/spectral/orientation.h"

namespace zyl::matchlib {
namespace {

// Block counts are 16-bit, so a block holds at most 181 x 181 pixels.
constexpr int kMaxBlockSide = 181;
// The per-row count of a pixel window is an 8-bit signed value.
constexpr int kMaxRadius = 63;

using Kernel8 = int (*)(const uint8_t*, int, int, uint8_t*);
using Kernel16 = int (*)(const int16_t*, int, int, int16_t*);

inline uint8_t orientation_byte(int s, int c) {
  return static_cast<uint8_t>(static_cast<uint8_t>(zyl::matchlib::fx_atan2(s, c)) / 2 + 64);
}

// coherence = round(sqrt(g^2 + h^2)) * 255 / energy, 0 without energy.
inline int coherence_of(int64_t g, int64_t h, int64_t energy) {
  if (energy <= 0) return 0;
  const uint64_t q = static_cast<uint64_t>(g * g + h * h);
  const int64_t v = int64_t{zyl::matchlib::fx_isqrt30_round(
                        static_cast<uint32_t>(std::min<uint64_t>(q, 0x3FFFFFFF)))} *
                    255 / energy;
  return static_cast<int>(std::clamp<int64_t>(v, 0, 255));
}

int gradients(const uint8_t* image, int height, int width, int presmooth, std::vector<int8_t>& gx,
              std::vector<int8_t>& gy) {
  const size_t n = static_cast<size_t>(height) * width;
  gx.assign(n, 0);
  gy.assign(n, 0);
  if (presmooth == 1) {
    std::vector<uint8_t> smooth(image, image + n);
    const int st = zyl::matchlib::box3x3<std::uint8_t>(smooth.data(), height, width, smooth.data());
    if (st != ML_OK) return st;
    return zyl::matchlib::filter_sobel_s8(smooth.data(), height, width, gx.data(), gy.data());
  }
  return zyl::matchlib::filter_sobel_s8(image, height, width, gx.data(), gy.data());
}

struct Moments {
  std::vector<int32_t> gxy, gxx, gyy;
  std::vector<int16_t> count;
};

int block_moments(const uint8_t* image, int height, int width, const uint8_t* mask, int rows,
                  int cols, int S, int presmooth, Moments& m) {
  std::vector<int8_t> gx, gy;
  const int st = gradients(image, height, width, presmooth, gx, gy);
  if (st != ML_OK) return st;
  const size_t nb = static_cast<size_t>(rows) * cols;
  m.gxy.assign(nb, 0);
  m.gxx.assign(nb, 0);
  m.gyy.assign(nb, 0);
  m.count.assign(nb, 0);
  auto background = [&](int i, int j) {
    return mask && i >= 0 && i < rows && j >= 0 && j < cols && mask[i * cols + j] == 0;
  };
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      int y0 = i * S, y1 = std::min(i * S + S - 1, height - 1);
      int x0 = j * S, x1 = std::min(j * S + S - 1, width - 1);
      // A background neighbour takes the shared edge line away.
      if (background(i, j + 1)) --x1;
      if (background(i, j - 1)) ++x0;
      if (background(i + 1, j)) --y1;
      if (background(i - 1, j)) ++y0;
      int64_t sxy = 0, sxx = 0, syy = 0, n = 0;
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
          const int a = gx[static_cast<size_t>(y) * width + x];
          const int b = gy[static_cast<size_t>(y) * width + x];
          if (a * a + b * b < 256) continue;
          sxy += a * b;
          sxx += a * a;
          syy += b * b;
          ++n;
        }
      const size_t k = static_cast<size_t>(i) * cols + j;
      if (n) {
        m.gxy[k] = static_cast<int32_t>(sxy / n);
        m.gxx[k] = static_cast<int32_t>(sxx / n);
        m.gyy[k] = static_cast<int32_t>(syy / n);
      }
      m.count[k] = static_cast<int16_t>(n);
    }
  return ML_OK;
}

bool bad_block_args(const uint8_t* image, int height, int width, int rows, int cols, int S) {
  return !image || height <= 0 || width <= 0 || rows <= 0 || cols <= 0 || S <= 0 ||
         S > kMaxBlockSide;
}

// Two smoothing passes of the doubled-angle vectors: all of them once, then
// again only where the once-smoothed coherence is 95 or less.
int smooth_vectors(std::vector<int16_t>& c, std::vector<int16_t>& s, const uint8_t* coherence,
                   int rows, int cols, Kernel16 vec_kernel, Kernel8 coh_kernel) {
  const size_t n = c.size();
  int st = vec_kernel(c.data(), rows, cols, c.data());
  if (st == ML_OK) st = vec_kernel(s.data(), rows, cols, s.data());
  if (st != ML_OK) return st;
  std::vector<uint8_t> coh(coherence, coherence + n);
  st = coh_kernel(coh.data(), rows, cols, coh.data());
  if (st != ML_OK) return st;
  std::vector<int16_t> c2 = c, s2 = s;
  st = vec_kernel(c2.data(), rows, cols, c2.data());
  if (st == ML_OK) st = vec_kernel(s2.data(), rows, cols, s2.data());
  if (st != ML_OK) return st;
  for (size_t i = 0; i < n; ++i)
    if (coh[i] <= 95) {
      c[i] = c2[i];
      s[i] = s2[i];
    }
  return ML_OK;
}

int block_field(const uint8_t* image, int height, int width, const uint8_t* mask,
                uint8_t* orientation, uint8_t* coherence, int rows, int cols, int S,
                uint8_t* raw, int presmooth) {
  if (bad_block_args(image, height, width, rows, cols, S) || !orientation || !coherence)
    return ML_BAD_ARGUMENT;
  Moments m;
  int st = block_moments(image, height, width, mask, rows, cols, S, presmooth, m);
  if (st != ML_OK) return st;
  const size_t nb = static_cast<size_t>(rows) * cols;
  std::vector<int16_t> c(nb, 0), s(nb, 0);
  const int least = S * S * 5 / 100;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const size_t k = static_cast<size_t>(i) * cols + j;
      if (mask && mask[k] == 0) {
        coherence[k] = 0;
        if (raw) raw[k] = 0;
        continue;
      }
      int64_t gxx = m.gxx[k], gyy = m.gyy[k], gxy = m.gxy[k];
      int64_t g = gxx - gyy, h = 2 * gxy;
      int coh = 0;
      if (gxx + gyy > 0 && m.count[k] > least) {
        coh = coherence_of(g, h, gxx + gyy);
        if (coh < 128) {
          // Weak blocks borrow the plain means of their clipped 3x3
          // neighbourhood (read from the block's own moments, not updated).
          int64_t sxx = 0, syy = 0, sxy = 0, nn = 0;
          for (int di = -1; di <= 1; ++di)
            for (int dj = -1; dj <= 1; ++dj) {
              const int ii = i + di, jj = j + dj;
              if (ii < 0 || ii >= rows || jj < 0 || jj >= cols) continue;
              const size_t q = static_cast<size_t>(ii) * cols + jj;
              sxx += m.gxx[q];
              syy += m.gyy[q];
              sxy += m.gxy[q];
              ++nn;
            }
          gxx = sxx / nn;
          gyy = syy / nn;
          gxy = sxy / nn;
          g = gxx - gyy;
          h = 2 * gxy;
          coh = coherence_of(g, h, gxx + gyy);
        }
      }
      coherence[k] = static_cast<uint8_t>(coh);
      const int d = zyl::matchlib::fx_atan2(static_cast<int>(h), static_cast<int>(g));
      c[k] = static_cast<int16_t>(zyl::matchlib::fx_cos256(d - 128));
      s[k] = static_cast<int16_t>(zyl::matchlib::fx_sin256(d - 128));
      if (raw) raw[k] = static_cast<uint8_t>(d);
    }
  st = smooth_vectors(c, s, coherence, rows, cols, zyl::matchlib::box3x3<std::int16_t>,
                      zyl::matchlib::box3x3<std::uint8_t>);
  if (st != ML_OK) return st;
  for (size_t k = 0; k < nb; ++k) orientation[k] = orientation_byte(s[k], c[k]);
  return zyl::matchlib::box3x3<std::uint8_t>(coherence, rows, cols, coherence);
}

int block_coherence(const uint8_t* image, int height, int width, uint8_t* coherence,
                    const uint8_t* mask, int rows, int cols, int S, int presmooth) {
  if (bad_block_args(image, height, width, rows, cols, S) || !coherence) return ML_BAD_ARGUMENT;
  Moments m;
  const int st = block_moments(image, height, width, mask, rows, cols, S, presmooth, m);
  if (st != ML_OK) return st;
  const int least = S * S * 5 / 100;
  for (size_t k = 0; k < m.count.size(); ++k) {
    const int64_t gxx = m.gxx[k], gyy = m.gyy[k];
    coherence[k] = static_cast<uint8_t>(
        gxx + gyy > 0 && m.count[k] > least ? coherence_of(gxx - gyy, 2 * int64_t{m.gxy[k]}, gxx + gyy)
                                            : 0);
  }
  return zyl::matchlib::box3x3<std::uint8_t>(coherence, rows, cols, coherence);
}

// Sliding window sums: each pixel's row segment of masked-in products, then
// the column of those row sums over rows whose pixel in that column counts.
void window_sums(const std::vector<int32_t>& v, const uint8_t* mask, int height, int width, int r,
                 std::vector<int64_t>& out) {
  const size_t n = static_cast<size_t>(height) * width;
  std::vector<int64_t> rows(n, 0);
  auto on = [&](size_t i) { return !mask || mask[i] != 0; };
  for (int y = 0; y < height; ++y) {
    const size_t base = static_cast<size_t>(y) * width;
    int64_t run = 0;
    for (int x = 0; x < std::min(r, width); ++x)
      if (on(base + x)) run += v[base + x];
    for (int x = 0; x < width; ++x) {
      const int in = x + r, gone = x - r - 1;
      if (in < width && on(base + in)) run += v[base + in];
      if (gone >= 0 && on(base + gone)) run -= v[base + gone];
      rows[base + x] = on(base + x) ? run : 0;
    }
  }
  out.assign(n, 0);
  for (int x = 0; x < width; ++x) {
    int64_t run = 0;
    for (int y = 0; y < std::min(r, height); ++y) run += rows[static_cast<size_t>(y) * width + x];
    for (int y = 0; y < height; ++y) {
      const int in = y + r, gone = y - r - 1;
      if (in < height) run += rows[static_cast<size_t>(in) * width + x];
      if (gone >= 0) run -= rows[static_cast<size_t>(gone) * width + x];
      const size_t i = static_cast<size_t>(y) * width + x;
      out[i] = on(i) ? run : 0;
    }
  }
}

int pixel_vectors(const uint8_t* image, int height, int width, const uint8_t* mask, int r,
                  uint8_t* coherence, int16_t* c, int16_t* s) {
  if (!image || !coherence || height <= 0 || width <= 0 || r < 0 || r > kMaxRadius)
    return ML_BAD_ARGUMENT;
  std::vector<int8_t> gx, gy;
  const int st = gradients(image, height, width, 0, gx, gy);
  if (st != ML_OK) return st;
  const size_t n = static_cast<size_t>(height) * width;
  std::vector<int32_t> pxx(n), pyy(n), pxy(n), one(n, 1);
  for (size_t i = 0; i < n; ++i) {
    pxx[i] = gx[i] * gx[i];
    pyy[i] = gy[i] * gy[i];
    pxy[i] = gx[i] * gy[i];
  }
  std::vector<int64_t> sxx, syy, sxy, cnt;
  window_sums(pxx, mask, height, width, r, sxx);
  window_sums(pyy, mask, height, width, r, syy);
  window_sums(pxy, mask, height, width, r, sxy);
  window_sums(one, mask, height, width, r, cnt);
  const bool vectors = c && s;
  std::fill(coherence, coherence + n, 0);
  if (vectors) {
    std::fill(c, c + n, 0);
    std::fill(s, s + n, 0);
  }
  const int64_t least = int64_t{2 * r + 1} * (2 * r + 1) / 20;
  for (size_t i = 0; i < n; ++i) {
    if ((mask && mask[i] == 0) || cnt[i] <= 0) continue;
    const int64_t nn = cnt[i];
    const int64_t a = (sxx[i] - syy[i]) / nn, b = 2 * sxy[i] / nn;
    if (nn > least) {
      const int64_t energy = std::max<int64_t>((sxx[i] + syy[i]) / nn, 8);
      coherence[i] = static_cast<uint8_t>(coherence_of(a, b, energy));
    }
    if (vectors) {
      const int d = zyl::matchlib::fx_atan2(static_cast<int>(b), static_cast<int>(a)) - 128;
      c[i] = static_cast<int16_t>(zyl::matchlib::fx_cos256(d));
      s[i] = static_cast<int16_t>(zyl::matchlib::fx_sin256(d));
    }
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int orient_block_moments(const uint8_t* image, int height, int width,
                                            const uint8_t* block_mask, int block_rows,
                                            int block_columns, int block_size, int32_t* gxy,
                                            int32_t* gxx, int32_t* gyy, int16_t* count,
                                            int presmooth) {
  if (bad_block_args(image, height, width, block_rows, block_columns, block_size) || !gxy ||
      !gxx || !gyy || !count)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    Moments m;
    const int st = block_moments(image, height, width, block_mask, block_rows, block_columns,
                                 block_size, presmooth, m);
    if (st != ML_OK) return st;
    std::copy(m.gxy.begin(), m.gxy.end(), gxy);
    std::copy(m.gxx.begin(), m.gxx.end(), gxx);
    std::copy(m.gyy.begin(), m.gyy.end(), gyy);
    std::copy(m.count.begin(), m.count.end(), count);
    return int{ML_OK};
  });
}

int zyl::matchlib::orient_block_field(const uint8_t* image, int height, int width,
                                      const uint8_t* block_mask, uint8_t* orientation,
                                      uint8_t* coherence, int block_rows, int block_columns,
                                      int block_size, uint8_t* raw_direction, int presmooth) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return block_field(image, height, width, block_mask, orientation, coherence, block_rows,
                       block_columns, block_size, raw_direction, presmooth);
  });
}

int zyl::matchlib::orient_block_field_presmoothed(const uint8_t* image, int height, int width,
                                                  const uint8_t* block_mask, uint8_t* orientation,
                                                  uint8_t* coherence, int block_rows,
                                                  int block_columns, int block_size,
                                                  uint8_t* raw_direction) {
  return zyl::matchlib::orient_block_field(image, height, width, block_mask, orientation, coherence,
                                           block_rows, block_columns, block_size, raw_direction, 1);
}

int zyl::matchlib::orient_block_coherence(const uint8_t* image, int height, int width,
                                          uint8_t* coherence, const uint8_t* block_mask,
                                          int block_rows, int block_columns, int block_size,
                                          int presmooth) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return block_coherence(image, height, width, coherence, block_mask, block_rows,
                           block_columns, block_size, presmooth);
  });
}

extern "C" ZYL_API int orient_block_coherence_presmoothed(const uint8_t* image, int height,
                                                          int width, uint8_t* coherence,
                                                          const uint8_t* block_mask, int block_rows,
                                                          int block_columns, int block_size) {
  return zyl::matchlib::orient_block_coherence(image, height, width, coherence, block_mask,
                                               block_rows, block_columns, block_size, 1);
}

int zyl::matchlib::orient_pixel_vectors(const uint8_t* image, int height, int width,
                                        const uint8_t* pixel_mask, int radius, uint8_t* coherence,
                                        int16_t* c, int16_t* s) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return pixel_vectors(image, height, width, pixel_mask, radius, coherence, c, s);
  });
}

int zyl::matchlib::orient_pixel_field(const uint8_t* image, int height, int width,
                                      const uint8_t* pixel_mask, int radius, uint8_t* orientation,
                                      uint8_t* coherence) {
  if (!orientation) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    if (!image || !coherence || height <= 0 || width <= 0) return int{ML_BAD_ARGUMENT};
    const size_t n = static_cast<size_t>(height) * width;
    std::vector<int16_t> c(n, 0), s(n, 0);
    int st = pixel_vectors(image, height, width, pixel_mask, radius, coherence, c.data(), s.data());
    if (st != ML_OK) return st;
    st = smooth_vectors(c, s, coherence, height, width, zyl::matchlib::binomial3x3<std::int16_t>,
                        zyl::matchlib::binomial3x3<std::uint8_t>);
    if (st != ML_OK) return st;
    for (int pass = 0; pass < 3 && st == ML_OK; ++pass)
      st = zyl::matchlib::binomial3x3<std::uint8_t>(coherence, height, width, coherence);
    if (st != ML_OK) return st;
    for (size_t i = 0; i < n; ++i) orientation[i] = orientation_byte(s[i], c[i]);
    return int{ML_OK};
  });
}

int zyl::matchlib::orient_map_resize(const uint8_t* map, int rows, int columns, int factor,
                                     uint8_t* out, int out_rows, int out_columns) {
  if (!map || !out || rows <= 0 || columns <= 0 || factor <= 0 || out_rows <= 0 ||
      out_columns <= 0)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const size_t n = static_cast<size_t>(rows) * columns;
    std::vector<uint8_t> turn(n);
    for (size_t i = 0; i < n; ++i) turn[i] = static_cast<uint8_t>((map[i] - 64) * 2);
    // The expansion leaves its outer half-cell border alone; start it at
    // direction 0 so those pixels read as a valid orientation (64).
    std::fill(out, out + static_cast<size_t>(out_rows) * out_columns, uint8_t{0});
    const int st = zyl::matchlib::img_expand_bilinear_angle8(turn.data(), rows, columns, factor,
                                                             out, out_rows, out_columns);
    if (st != ML_OK) return st;
    const size_t m = static_cast<size_t>(out_rows) * out_columns;
    for (size_t i = 0; i < m; ++i) out[i] = static_cast<uint8_t>(out[i] / 2 + 64);
    return int{ML_OK};
  });
}

extern "C" {

ZYL_API int orient_block_field(const uint8_t* image, int height, int width,
                               const uint8_t* block_mask, uint8_t* orientation, uint8_t* coherence,
                               int block_rows, int block_columns, int block_size,
                               uint8_t* raw_direction, int presmooth) {
  return zyl::matchlib::orient_block_field(image, height, width, block_mask, orientation, coherence,
                                           block_rows, block_columns, block_size, raw_direction,
                                           presmooth);
}
ZYL_API int orient_block_field_presmoothed(const uint8_t* image, int height, int width,
                                           const uint8_t* block_mask, uint8_t* orientation,
                                           uint8_t* coherence, int block_rows, int block_columns,
                                           int block_size, uint8_t* raw_direction) {
  return zyl::matchlib::orient_block_field_presmoothed(image, height, width, block_mask,
                                                       orientation, coherence, block_rows,
                                                       block_columns, block_size, raw_direction);
}
ZYL_API int orient_block_coherence(const uint8_t* image, int height, int width, uint8_t* coherence,
                                   const uint8_t* block_mask, int block_rows, int block_columns,
                                   int block_size, int presmooth) {
  return zyl::matchlib::orient_block_coherence(image, height, width, coherence, block_mask,
                                               block_rows, block_columns, block_size, presmooth);
}
ZYL_API int orient_pixel_vectors(const uint8_t* image, int height, int width,
                                 const uint8_t* pixel_mask, int radius, uint8_t* coherence,
                                 int16_t* c, int16_t* s) {
  return zyl::matchlib::orient_pixel_vectors(image, height, width, pixel_mask, radius, coherence, c,
                                             s);
}
ZYL_API int orient_pixel_field(const uint8_t* image, int height, int width,
                               const uint8_t* pixel_mask, int radius, uint8_t* orientation,
                               uint8_t* coherence) {
  return zyl::matchlib::orient_pixel_field(image, height, width, pixel_mask, radius, orientation,
                                           coherence);
}
ZYL_API int orient_map_resize(const uint8_t* map, int rows, int columns, int factor, uint8_t* out,
                              int out_rows, int out_columns) {
  return zyl::matchlib::orient_map_resize(map, rows, columns, factor, out, out_rows, out_columns);
}

}  // extern "C"

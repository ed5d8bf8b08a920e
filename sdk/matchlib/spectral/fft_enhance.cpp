// FFT block enhancement with band-pass masks chosen per pixel by ridge
// period and direction. One forward transform per block and one masked
// inverse per distinct key (level, frequency class, direction class) in it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fft_enhance.h"
#include "common/guarded_call.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/spectral/fft16_i16.h"
#include "matchlib/spectral/fft2d.h"
#include "matchlib/spectral/fft_enhance.h"

namespace zyl::matchlib {
namespace {

constexpr int kFreqClasses = 11;
constexpr int kMasks = 9;  // direction classes 0..8; 9..15 mirror 7..1

// Band-pass masks: two lobes (the wave vector and its mirror through the
// origin) at radius k0 = 32 / (f + 5) coefficient steps along the direction
// m x 11.25 degrees from the horizontal-frequency axis toward positive row
// frequency, Gaussian along and across that direction. The gains are built
// once, one byte per half-spectrum coefficient (gain / 256).
//
// The shape constants are fitted to the reference rows of both tables (row 0
// of f = 0 and f = 10, and row 1 of the 16-point f = 0 mask), which they
// reproduce to within one grey step. The variance along the direction grows
// with k0 squared down to a floor; the 16-point masks have a quarter of that
// growth and their spectrum repeats with the tile, so the lobes of the
// lowest classes, which lie past the last column, fold back onto it.
struct MaskShape {
  double peak_f0, peak_f10;  // peak gain, linear in f between the two
  double along_growth;       // variance along = max(floor, growth x k0^2)
  double along_floor;
  double across;             // variance across the direction
  bool periodic;             // add the lobes' images one tile away
};
constexpr MaskShape kShape32{199.05, 199.05, 0.2921, 1.92, 8.0, false};
constexpr MaskShape kShape16{178.24, 202.67, 0.07275, 1.92, 2.069, true};

struct MaskTable {
  int side = 0;
  std::vector<uint8_t> gains;  // [f][m][row][column]
  const uint8_t* mask(int f, int m) const {
    const int w = side / 2 + 1;
    return gains.data() + (static_cast<size_t>(f) * kMasks + m) * side * w;
  }
};

MaskTable build_table(int side) {
  const MaskShape& shape = side == 32 ? kShape32 : kShape16;
  MaskTable t;
  t.side = side;
  const int w = side / 2 + 1;
  t.gains.resize(static_cast<size_t>(kFreqClasses) * kMasks * side * w);
  const int images = shape.periodic ? 1 : 0;
  for (int f = 0; f < kFreqClasses; ++f)
    for (int m = 0; m < kMasks; ++m) {
      const double k0 = 32.0 / (f + 5);
      const double along = std::max(shape.along_floor, shape.along_growth * k0 * k0);
      const double peak = shape.peak_f0 + (shape.peak_f10 - shape.peak_f0) * f / 10.0;
      const double th = m * 11.25 * M_PI / 180.0;
      uint8_t* g = const_cast<uint8_t*>(t.mask(f, m));
      for (int r = 0; r < side; ++r)
        for (int c = 0; c < w; ++c) {
          double sum = 0;
          for (int iy = -images; iy <= images; ++iy)
            for (int ix = -images; ix <= images; ++ix) {
              const double fy = (r <= side / 2 ? r : r - side) + iy * side;
              const double fx = c + ix * side;
              const double u = fx * std::cos(th) + fy * std::sin(th);
              const double v = -fx * std::sin(th) + fy * std::cos(th);
              const double lobes = std::exp(-(u - k0) * (u - k0) / (2 * along)) +
                                   std::exp(-(u + k0) * (u + k0) / (2 * along));
              sum += std::exp(-v * v / (2 * shape.across)) * lobes;
            }
          g[r * w + c] = static_cast<uint8_t>(std::clamp(std::lround(peak * sum), 0L, 255L));
        }
    }
  return t;
}

const MaskTable& table32() {
  static const MaskTable t = build_table(32);
  return t;
}
const MaskTable& table16() {
  static const MaskTable t = build_table(16);
  return t;
}

inline int freq_class(int value) { return std::clamp(value - 5, 0, 10); }
inline int dir_class(int value) {
  const int x = value > 128 ? value - 128 : value;
  return x > 123 ? 0 : (x + 4) >> 3;
}

// Gain of coefficient (row, column) for direction class k: classes above 8
// read the mask of 16 - k with its rows in reverse frequency order.
inline int gain_at(const MaskTable& t, int f, int k, int row, int col) {
  const int w = t.side / 2 + 1;
  if (k <= 8) return t.mask(f, k)[row * w + col];
  return t.mask(f, 16 - k)[((t.side - row) % t.side) * w + col];
}

bool block_selected(const uint8_t* mask, int rows, int cols, int cell, int y0, int x0, int last,
                    int centre) {
  if (!mask) return true;
  const int pts[5][2] = {{0, 0}, {0, last}, {last, 0}, {last, last}, {centre, centre}};
  for (auto [dy, dx] : pts) {
    const int r = (y0 + dy) / cell, c = (x0 + dx) / cell;
    if (r < rows && c < cols && mask[r * cols + c]) return true;
  }
  return false;
}

inline int8_t to_s8(int v) { return static_cast<int8_t>(std::clamp(v, -128, 127)); }

// Keys of one block in linked lists threaded through a next array.
struct KeyLists {
  std::vector<uint16_t> head, next;
  int lo = 0, hi = -1;
  KeyLists(int keys, int positions) : head(keys, 0xFFFF), next(positions, 0xFFFF) {}
  void reset() {
    std::fill(head.begin(), head.end(), uint16_t{0xFFFF});
    lo = static_cast<int>(head.size());
    hi = -1;
  }
  void add(int key, int pos) {
    next[pos] = head[key];
    head[key] = static_cast<uint16_t>(pos);
    lo = std::min(lo, key);
    hi = std::max(hi, key);
  }
};

// Masks a copy of the 32-point spectrum `times` times, inverts it into win.
void masked_inverse32(const MaskTable& t, int f, int k, int times, const std::vector<int32_t>& re,
                      const std::vector<int32_t>& im, std::vector<int32_t>& mre,
                      std::vector<int32_t>& mim, std::vector<int32_t>& win) {
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 17; ++c) {
      const int i = r * 17 + c;
      const int g = gain_at(t, f, k, r, c);
      int32_t a = re[i], b = im[i];
      for (int n = 0; n < times; ++n) {
        a = static_cast<int32_t>((int64_t{g} * a) >> 8);
        b = static_cast<int32_t>((int64_t{g} * b) >> 8);
      }
      mre[i] = a;
      mim[i] = b;
    }
  zyl::matchlib::fft2d_inverse32(mre.data(), mim.data(), win.data(), mim.data());
}

void load_window32(const uint8_t* image, int height, int width, int y0, int x0,
                   std::vector<int32_t>& win) {
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const int py = y0 - 8 + y, px = x0 - 8 + x;
      win[y * 32 + x] = py >= 0 && py < height && px >= 0 && px < width
                            ? (image[static_cast<size_t>(py) * width + px] - 128) * 8192
                            : 0;
    }
}

int enhance32(const uint8_t* image, int height, int width, const uint8_t* freq, const uint8_t* dir,
              const uint8_t* bmask, const uint8_t* level_map, int level, int mrows, int mcols,
              int cell, int8_t* out) {
  std::fill(out, out + static_cast<size_t>(height) * width, int8_t{0});
  const MaskTable& t = table32();
  std::vector<int32_t> win(32 * 32), re(32 * 17), im(32 * 17), mre(32 * 17), mim(32 * 17);
  KeyLists lists(8 * 176, 256);
  for (int y0 = 0; y0 < height; y0 += 16)
    for (int x0 = 0; x0 < width; x0 += 16) {
      if (!block_selected(bmask, mrows, mcols, cell, y0, x0, 15, 8)) continue;
      load_window32(image, height, width, y0, x0, win);
      lists.reset();
      for (int r = 0; r < 16 && y0 + r < height; ++r)
        for (int c = 0; c < 16 && x0 + c < width; ++c) {
          const size_t i = static_cast<size_t>(y0 + r) * width + x0 + c;
          // Level map values outside 1..8 would leave the key table.
          const int lv = std::clamp(level_map ? level_map[i] - 1 : level, 0, 7);
          lists.add(lv * 176 + freq_class(freq[i]) * 16 + dir_class(dir[i]), r * 16 + c);
        }
      zyl::matchlib::fft2d_forward32(win.data(), re.data(), im.data());
      for (int key = lists.lo; key <= lists.hi; ++key) {
        if (lists.head[key] == 0xFFFF) continue;
        const int lv = key / 176, f = (key % 176) / 16, k = key % 16;
        masked_inverse32(t, f, k, std::max(lv, 1), re, im, mre, mim, win);
        for (int pos = lists.head[key]; pos != 0xFFFF; pos = lists.next[pos]) {
          const int r = pos / 16, c = pos % 16;
          out[static_cast<size_t>(y0 + r) * width + x0 + c] = to_s8(win[(r + 8) * 32 + c + 8] / 8);
        }
      }
    }
  return ML_OK;
}

int enhance16(const uint8_t* image, int height, int width, const uint8_t* freq, const uint8_t* dir,
              const uint8_t* bmask, int mrows, int mcols, int cell, int8_t* out, int d) {
  const size_t n = static_cast<size_t>(height) * width;
  std::fill(out, out + n, int8_t{0});
  std::vector<uint8_t> smooth;
  const uint8_t* src = image;
  if (d == 2) {
    smooth.assign(image, image + n);
    const int st =
        zyl::matchlib::binomial3x3<std::uint8_t>(smooth.data(), height, width, smooth.data());
    if (st != ML_OK) return st;
    src = smooth.data();
  }
  const MaskTable& t = table16();
  int16_t in[256], spec[288], masked[288], work[288];
  int8_t back[256];
  KeyLists lists(176, 64);
  const int side = 8 * d;
  for (int y0 = 0; y0 < height; y0 += side)
    for (int x0 = 0; x0 < width; x0 += side) {
      if (!block_selected(bmask, mrows, mcols, cell, y0, x0, side - 1, 4 * d)) continue;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const int py = y0 + (y - 4) * d, px = x0 + (x - 4) * d;
          const int v = py >= 0 && py < height && px >= 0 && px < width
                            ? (src[static_cast<size_t>(py) * width + px] - 128) * 128
                            : 0;
          in[(y / 2) * 32 + 2 * x + (y & 1)] = static_cast<int16_t>(v);
        }
      lists.reset();
      for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
          const int py = y0 + d * r, px = x0 + d * c;
          if (py >= height || px >= width) continue;
          const size_t i = static_cast<size_t>(py) * width + px;
          lists.add(freq_class(freq[i]) * 16 + dir_class(dir[i]), r * 8 + c);
        }
      zyl::matchlib::fft2d_forward16_i16(in, spec);
      for (int key = lists.lo; key <= lists.hi; ++key) {
        if (lists.head[key] == 0xFFFF) continue;
        const int f = key / 16, k = key % 16;
        for (int r = 0; r < 16; ++r)
          for (int c = 0; c < 9; ++c) {
            const int g = gain_at(t, f, k, r, c);
            const int i = r * 18 + 2 * c;
            masked[i] = static_cast<int16_t>((g * spec[i]) >> 8);
            masked[i + 1] = static_cast<int16_t>((g * spec[i + 1]) >> 8);
          }
        zyl::matchlib::fft2d_inverse16_i16(masked, back, work);
        for (int pos = lists.head[key]; pos != 0xFFFF; pos = lists.next[pos]) {
          const int r = pos / 8, c = pos % 8;
          out[static_cast<size_t>(y0 + d * r) * width + x0 + d * c] = back[(r + 4) * 16 + c + 4];
        }
      }
    }
  if (d == 2) return zyl::matchlib::filter_upsample2x_fill_s8(out, height, width, out);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int fftenh_frequency_class(int value) { return freq_class(value); }
extern "C" ZYL_API int fftenh_direction_class(int value) { return dir_class(value & 255); }

extern "C" ZYL_API int fftenh_mask_gain(int side, int f, int k, int row, int column) {
  if ((side != 32 && side != 16) || f < 0 || f > 10 || k < 0 || k > 15 || row < 0 ||
      row >= side || column < 0 || column > side / 2)
    return 0;
  return zyl::GuardedCall(
      ML_NO_MEMORY, [&] { return gain_at(side == 32 ? table32() : table16(), f, k, row, column); });
}

int zyl::matchlib::fftenh_enhance32(const uint8_t* image, int height, int width,
                                    const uint8_t* frequency_map, const uint8_t* direction_map,
                                    const uint8_t* block_mask, const uint8_t* level_map, int level,
                                    int mask_rows, int mask_columns, int cell_size, int8_t* out) {
  if (!image || !frequency_map || !direction_map || !out || height <= 0 || width <= 0 ||
      (block_mask && (cell_size <= 0 || mask_rows <= 0 || mask_columns <= 0)))
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return enhance32(image, height, width, frequency_map, direction_map, block_mask, level_map,
                     level, mask_rows, mask_columns, cell_size, out);
  });
}

int zyl::matchlib::fftenh_enhance32_fixed(const uint8_t* image, int height, int width,
                                          int frequency, int direction, int8_t* out) {
  if (!image || !out || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    std::fill(out, out + static_cast<size_t>(height) * width, int8_t{0});
    const MaskTable& t = table32();
    const int f = freq_class(frequency), k = dir_class(direction & 255);
    std::vector<int32_t> win(32 * 32), re(32 * 17), im(32 * 17), mre(32 * 17), mim(32 * 17);
    for (int y0 = 0; y0 < height; y0 += 16)
      for (int x0 = 0; x0 < width; x0 += 16) {
        load_window32(image, height, width, y0, x0, win);
        zyl::matchlib::fft2d_forward32(win.data(), re.data(), im.data());
        masked_inverse32(t, f, k, 3, re, im, mre, mim, win);
        for (int r = 0; r < 16 && y0 + r < height; ++r)
          for (int c = 0; c < 16 && x0 + c < width; ++c)
            out[static_cast<size_t>(y0 + r) * width + x0 + c] = to_s8(win[(r + 8) * 32 + c + 8] / 8);
      }
    return int{ML_OK};
  });
}

int zyl::matchlib::fftenh_enhance16(const uint8_t* image, int height, int width,
                                    const uint8_t* frequency_map, const uint8_t* direction_map,
                                    const uint8_t* block_mask, int mask_rows, int mask_columns,
                                    int cell_size, int8_t* out, int step) {
  if (!image || !frequency_map || !direction_map || !out || height <= 0 || width <= 0 ||
      step < 1 || step > 8 || (block_mask && (cell_size <= 0 || mask_rows <= 0 || mask_columns <= 0)))
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return enhance16(image, height, width, frequency_map, direction_map, block_mask, mask_rows,
                     mask_columns, cell_size, out, step);
  });
}

extern "C" {

ZYL_API int fftenh_enhance32(const uint8_t* image, int height, int width,
                             const uint8_t* frequency_map, const uint8_t* direction_map,
                             const uint8_t* block_mask, const uint8_t* level_map, int level,
                             int mask_rows, int mask_columns, int cell_size, int8_t* out) {
  return zyl::matchlib::fftenh_enhance32(image, height, width, frequency_map, direction_map,
                                         block_mask, level_map, level, mask_rows, mask_columns,
                                         cell_size, out);
}
ZYL_API int fftenh_enhance32_fixed(const uint8_t* image, int height, int width, int frequency,
                                   int direction, int8_t* out) {
  return zyl::matchlib::fftenh_enhance32_fixed(image, height, width, frequency, direction, out);
}
ZYL_API int fftenh_enhance16(const uint8_t* image, int height, int width,
                             const uint8_t* frequency_map, const uint8_t* direction_map,
                             const uint8_t* block_mask, int mask_rows, int mask_columns,
                             int cell_size, int8_t* out, int step) {
  return zyl::matchlib::fftenh_enhance16(image, height, width, frequency_map, direction_map,
                                         block_mask, mask_rows, mask_columns, cell_size, out, step);
}

}  // extern "C"

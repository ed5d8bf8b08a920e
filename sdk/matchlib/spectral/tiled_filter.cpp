// Tiled frequency-domain filter driver: overlapping square tiles through a
// fixed-point transform pair, a spectral callback per tile, and a stitch
// that cuts each overlap in the middle (no blending: later tiles overwrite
// earlier ones past their cut).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_window.h"
#include "zylscan/matchlib_fftfilt.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/border_extend.h"
#include "matchlib/image/window_copy.h"
#include "matchlib/spectral/fft2d.h"
#include "matchlib/spectral/tiled_filter.h"

namespace zyl::matchlib {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Scratch = std::unique_ptr<T[], FreeDeleter>;
template <class T>
Scratch<T> scratch(size_t n) {
  return Scratch<T>(static_cast<T*>(ml_malloc(sizeof(T) * (n ? n : 1))));
}

// Start rows (or columns) of the tiles along one side and the row from
// which each tile is copied.
struct Tiling {
  int count;
  int step;
  int start(int i, int length, int n) const { return i + 1 < count ? i * step : length - n; }
  int cut(int start, int n) const { return start == 0 ? 0 : (n - step) - ((n - step) >> 1); }
};

Tiling make_tiling(int length, int n, int margin) {
  const int m = std::clamp(margin, 0, n - 1);
  Tiling t;
  t.count = (length + n - 2 * m - 1) / (n - m);
  t.step = t.count < 2 ? 0 : (length - n + t.count - 2) / (t.count - 1);
  return t;
}

inline uint8_t* align4(void* p) {
  const auto a = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<uint8_t*>((a + 3) & ~uintptr_t{3});
}

// Pixel type traits of the two kernels.
struct Bytes {
  using Pixel = uint8_t;
  static int32_t load(uint8_t p, int) { return (int32_t{p} - 128) * 4096; }
  static uint8_t store(int32_t v, int s) {
    const int64_t r = s > 0 ? (int64_t{v} + (1 << (s - 1)) + (128 << s)) >> s
                            : int64_t{v} * (int64_t{1} << -s) + 128;
    return static_cast<uint8_t>(std::clamp<int64_t>(r, 0, 255));
  }
};
struct Words {
  using Pixel = uint16_t;
  static int32_t load(uint16_t q, int) { return int32_t{q} * 16 - 0x80000; }
  static uint16_t store(int32_t v, int) {
    return static_cast<uint16_t>(std::clamp<int64_t>(4 * (int64_t{v} + 8192), 0, 65535));
  }
};

// Shared tile loop. spectrum_gain_shift scales the spectrum before the
// callback (6 for the 16-bit kernel), byte_shift is the output shift s.
template <class P>
int run_tiles(typename P::Pixel* dst, const typename P::Pixel* src, int height, int width,
              int margin, void* work, int work_size, int n, FftForwardFn forward,
              FftInverseFn inverse, SpectrumCallback callback, void* user, int spectrum_gain_shift,
              int byte_shift) {
  using Pixel = typename P::Pixel;
  if (!dst || !src || !work || !forward || !inverse || !callback) return ML_BAD_ARGUMENT;
  if (dst == src || height < n || width < n) return ML_BAD_ARGUMENT;
  uint8_t* base = align4(work);
  const size_t lead = static_cast<size_t>(base - static_cast<uint8_t*>(work));
  const size_t total = work_size > 0 ? static_cast<size_t>(work_size) : 0;
  const size_t have = total > lead ? total - lead : 0;
  const size_t w = static_cast<size_t>(n / 2 + 1) * n;
  const size_t tile_bytes = static_cast<size_t>(n) * n * sizeof(Pixel);
  const size_t fixed = tile_bytes + (static_cast<size_t>(n) * n + 3 * w) * sizeof(int32_t);
  if (have < fixed) return 4;  // the work area cannot hold the tile buffers
  Pixel* out_tile = reinterpret_cast<Pixel*>(base);
  auto* samples = reinterpret_cast<int32_t*>(base + tile_bytes);
  int32_t* re = samples + n * n;
  int32_t* im = re + w;
  int32_t* inv_scratch = im + w;
  void* rest = base + fixed;
  const int rest_size = static_cast<int>(have - fixed);

  const Tiling rows = make_tiling(height, n, margin);
  const Tiling cols = make_tiling(width, n, margin);
  for (int ti = 0; ti < rows.count; ++ti) {
    const int y0 = rows.start(ti, height, n);
    const int b = rows.cut(y0, n);
    for (int tj = 0; tj < cols.count; ++tj) {
      const int x0 = cols.start(tj, width, n);
      const int e = cols.cut(x0, n);
      for (int y = 0; y < n; ++y) {
        const Pixel* row = src + static_cast<size_t>(y0 + y) * width + x0;
        for (int x = 0; x < n; ++x) samples[y * n + x] = P::load(row[x], 0);
      }
      forward(samples, re, im);
      if (spectrum_gain_shift) {
        for (size_t i = 0; i < w; ++i) {
          re[i] *= 1 << spectrum_gain_shift;
          im[i] *= 1 << spectrum_gain_shift;
        }
      }
      const int st = callback(re, im, n, rest, rest_size, user);
      if (st != 0) return st;
      inverse(re, im, samples, inv_scratch);
      for (int i = 0; i < n * n; ++i) out_tile[i] = P::store(samples[i], byte_shift);
      for (int y = b; y < n; ++y) {
        std::memcpy(dst + static_cast<size_t>(y0 + y) * width + x0 + e, out_tile + y * n + e,
                    (n - e) * sizeof(Pixel));
      }
    }
  }
  return ML_OK;
}

struct Pair {
  FftForwardFn forward;
  FftInverseFn inverse;
  int log2;
};

bool pair_for_side(int side, Pair* p) {
  switch (side) {
    case 16:
      *p = {zyl::matchlib::fft2d_forward16, zyl::matchlib::fft2d_inverse16, 4};
      return true;
    case 32:
      *p = {zyl::matchlib::fft2d_forward32, zyl::matchlib::fft2d_inverse32, 5};
      return true;
    case 64:
      *p = {zyl::matchlib::fft2d_forward64, zyl::matchlib::fft2d_inverse64, 6};
      return true;
    case 128:
      *p = {zyl::matchlib::fft2d_forward128, zyl::matchlib::fft2d_inverse128, 7};
      return true;
    default: return false;
  }
}

// Output shift by log2 of the tile side (4..7), undoing the transforms'
// scaling so every side returns the input's contrast: the 128 pair leaves a
// quarter of it, which a negative shift (a factor of 4) restores.
constexpr int kByteShift[8] = {0, 0, 0, 0, 4, 2, 0, -2};

// Shared body of the two self-allocating entries: direct filtering when no
// padding is wanted and the image holds a tile, else through a centred frame
// extended from the image's borders.
template <class Pixel, class Kernel, class Pad, class Crop>
int run_framed(Pixel* dst, const Pixel* src, int height, int width, int side, int pad,
               int work_size, Kernel kernel, Pad pad_extend, Crop copy_centered) {
  if (!dst || !src || height <= 0 || width <= 0 || pad < 0) return ML_BAD_ARGUMENT;
  if (work_size <= 0) return ML_WRONG_KIND;
  Scratch<uint8_t> work = scratch<uint8_t>(static_cast<size_t>(work_size));
  if (!work) return ML_NO_MEMORY;
  if (pad == 0 && height >= side && width >= side) {
    if (dst != src) return kernel(dst, src, height, width, work.get(), work_size);
    Scratch<Pixel> copy = scratch<Pixel>(static_cast<size_t>(height) * width);
    if (!copy) return ML_NO_MEMORY;
    std::memcpy(copy.get(), src, sizeof(Pixel) * height * width);
    return kernel(dst, copy.get(), height, width, work.get(), work_size);
  }
  const int64_t fh64 = std::max<int64_t>(int64_t{height} + 2 * int64_t{pad}, side);
  const int64_t fw64 = std::max<int64_t>(int64_t{width} + 2 * int64_t{pad}, side);
  if (fh64 * fw64 > (int64_t{1} << 28)) return ML_BAD_ARGUMENT;  // far beyond any sensor
  const int fh = static_cast<int>(fh64), fw = static_cast<int>(fw64);
  Scratch<Pixel> frame = scratch<Pixel>(static_cast<size_t>(fh) * fw);
  Scratch<Pixel> filtered = scratch<Pixel>(static_cast<size_t>(fh) * fw);
  if (!frame || !filtered) return ML_NO_MEMORY;
  int st = pad_extend(src, height, width, fh, fw, (fh - height) / 2, (fw - width) / 2, frame.get());
  if (st != ML_OK) return st;
  st = kernel(filtered.get(), frame.get(), fh, fw, work.get(), work_size);
  if (st != ML_OK) return st;
  return copy_centered(filtered.get(), fh, fw, height, width, dst);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::fftfilt_work_size(int n) {
  if (n <= 0 || n > 1024) return 0;
  const uint32_t u = static_cast<uint32_t>(n);
  return static_cast<int>(u * ((u / 2 * 3 + u + 3) * 4 + u) + 4);
}

int zyl::matchlib::fftfilt_tiles_u8(uint8_t* dst, const uint8_t* src, int height, int width,
                                    int margin, void* work, int work_size, int log2_side,
                                    FftForwardFn forward, FftInverseFn inverse,
                                    SpectrumCallback callback, void* user) {
  if (log2_side < 4 || log2_side > 7) return ML_WRONG_KIND;
  return run_tiles<Bytes>(dst, src, height, width, margin, work, work_size, 1 << log2_side,
                          forward, inverse, callback, user, 0, kByteShift[log2_side]);
}

int zyl::matchlib::fftfilt_run_sized_u8(uint8_t* dst, const uint8_t* src, int height, int width,
                                        int side, int margin, void* work, int work_size,
                                        SpectrumCallback callback, void* user) {
  Pair p;
  if (!pair_for_side(side, &p)) return ML_WRONG_KIND;
  return zyl::matchlib::fftfilt_tiles_u8(dst, src, height, width, margin, work, work_size, p.log2,
                                         p.forward, p.inverse, callback, user);
}

#define ZYL_FFTFILT_FIXED_SIDE(N)                                                              \
  extern "C" ZYL_API int fftfilt_run##N##_u8(uint8_t* dst, const uint8_t* src, int height,     \
                                             int width, int margin, void* work, int work_size, \
                                             SpectrumCallback callback, void* user) {          \
    return zyl::matchlib::fftfilt_run_sized_u8(dst, src, height, width, N, margin, work,       \
                                               work_size, callback, user);                     \
  }
ZYL_FFTFILT_FIXED_SIDE(16)
ZYL_FFTFILT_FIXED_SIDE(32)
ZYL_FFTFILT_FIXED_SIDE(64)
ZYL_FFTFILT_FIXED_SIDE(128)
#undef ZYL_FFTFILT_FIXED_SIDE

int zyl::matchlib::fftfilt_run_u8(uint8_t* dst, const uint8_t* src, int height, int width, int side,
                                  int margin, int pad, SpectrumCallback callback, void* user) {
  Pair p;
  if (!pair_for_side(side, &p)) return ML_WRONG_KIND;
  auto kernel = [&](uint8_t* d, const uint8_t* s, int h, int w, void* work, int size) {
    return zyl::matchlib::fftfilt_tiles_u8(d, s, h, w, margin, work, size, p.log2, p.forward,
                                           p.inverse, callback, user);
  };
  return run_framed(dst, src, height, width, side, pad, zyl::matchlib::fftfilt_work_size(side),
                    kernel, zyl::matchlib::img_pad_extend_u8,
                    zyl::matchlib::copy_centered<std::uint8_t>);
}

int zyl::matchlib::fftfilt_tiles64_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                       int margin, void* work, int work_size,
                                       SpectrumCallback callback, void* user) {
  return run_tiles<Words>(dst, src, height, width, margin, work, work_size, 64,
                          zyl::matchlib::fft2d_forward64, zyl::matchlib::fft2d_inverse64, callback,
                          user, 6, 0);
}

extern "C" ZYL_API int fftfilt_run_tiles64_u16(uint16_t* dst, const uint16_t* src, int height,
                                               int width, int margin, void* work, int work_size,
                                               SpectrumCallback callback, void* user) {
  return zyl::matchlib::fftfilt_tiles64_u16(dst, src, height, width, margin, work, work_size,
                                            callback, user);
}

extern "C" ZYL_API int fftfilt_run_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                       int side, int margin, int pad, SpectrumCallback callback,
                                       void* user) {
  if (side != 64) return ML_WRONG_KIND;
  auto kernel = [&](uint16_t* d, const uint16_t* s, int h, int w, void* work, int size) {
    return zyl::matchlib::fftfilt_tiles64_u16(d, s, h, w, margin, work, size, callback, user);
  };
  return run_framed(dst, src, height, width, side, pad, 2 * zyl::matchlib::fftfilt_work_size(64),
                    kernel, zyl::matchlib::img_pad_extend_u16,
                    zyl::matchlib::copy_centered<std::uint16_t>);
}

// x * g / 255 approximated as (x g + (x g >> 8) + 1) >> 8. The products are
// formed in 64 bits: the 16-bit path scales its coefficients by 64, and a
// 32-bit product would wrap for bright tiles.
extern "C" ZYL_API int fftfilt_gain_cb(int32_t* re, int32_t* im, int n, void*, int, void* user) {
  if (!re || !im || !user || n <= 0) return ML_BAD_ARGUMENT;
  const auto* gain = static_cast<const uint8_t*>(user);
  const int count = n * (n / 2 + 1);
  auto apply = [](int32_t x, int g) {
    const int64_t p = int64_t{x} * g;
    return static_cast<int32_t>((p + (p >> 8) + 1) >> 8);
  };
  for (int i = 0; i < count; ++i) {
    re[i] = apply(re[i], gain[i]);
    im[i] = apply(im[i], gain[i]);
  }
  return ML_OK;
}

extern "C" ZYL_API void fftfilt_gain_float_cb(float* re, float* im, int rows, int columns,
                                              void* user) {
  if (!re || !im || !user || rows <= 0 || columns <= 0) return;
  const auto* gain = static_cast<const float*>(user);
  const int count = rows * (columns / 2 + 1);
  for (int i = 0; i < count; ++i) {
    re[i] *= gain[i];
    im[i] *= gain[i];
  }
}

extern "C" {

ZYL_API int fftfilt_work_size(int n) { return zyl::matchlib::fftfilt_work_size(n); }
ZYL_API int fftfilt_tiles_u8(uint8_t* dst, const uint8_t* src, int height, int width, int margin,
                             void* work, int work_size, int log2_side, FftForwardFn forward,
                             FftInverseFn inverse, SpectrumCallback callback, void* user) {
  return zyl::matchlib::fftfilt_tiles_u8(dst, src, height, width, margin, work, work_size,
                                         log2_side, forward, inverse, callback, user);
}
ZYL_API int fftfilt_run_sized_u8(uint8_t* dst, const uint8_t* src, int height, int width, int side,
                                 int margin, void* work, int work_size, SpectrumCallback callback,
                                 void* user) {
  return zyl::matchlib::fftfilt_run_sized_u8(dst, src, height, width, side, margin, work, work_size,
                                             callback, user);
}
ZYL_API int fftfilt_run_u8(uint8_t* dst, const uint8_t* src, int height, int width, int side,
                           int margin, int pad, SpectrumCallback callback, void* user) {
  return zyl::matchlib::fftfilt_run_u8(dst, src, height, width, side, margin, pad, callback, user);
}
ZYL_API int fftfilt_tiles64_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                int margin, void* work, int work_size, SpectrumCallback callback,
                                void* user) {
  return zyl::matchlib::fftfilt_tiles64_u16(dst, src, height, width, margin, work, work_size,
                                            callback, user);
}

}  // extern "C"

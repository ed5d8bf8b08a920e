// Fixed-point 2-D transforms of real n x n blocks into a half spectrum of
// n rows by n/2 + 1 columns. Two real rows travel as one complex sequence
// through the n-point kernel and are separated afterwards ("row split").
#include <cstdint>

#include "zylscan/matchlib_fft.h"
#include "matchlib/spectral/fft2d.h"
#include "matchlib/spectral/fft_kernels.h"

namespace zyl::matchlib {
namespace {

using Kernel = void (*)(const int32_t*, const int32_t*, int32_t*, int32_t*);

inline int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Halving of the row split: the 16 and 32 transforms round down without an
// intermediate overflow, the 64 and 128 ones halve a wrapping 32-bit sum
// toward zero.
template <bool Floor>
inline int32_t half_sum(int32_t a, int32_t b) {
  if constexpr (Floor) {
    return static_cast<int32_t>((int64_t{a} + b) >> 1);
  } else {
    return wrap_add(a, b) / 2;
  }
}
template <bool Floor>
inline int32_t half_diff(int32_t a, int32_t b) {
  if constexpr (Floor) {
    return static_cast<int32_t>((int64_t{a} - b) >> 1);
  } else {
    return wrap_sub(a, b) / 2;
  }
}

template <int N, bool Floor>
void forward(Kernel kernel, const int32_t* block, int32_t* re, int32_t* im) {
  constexpr int W = N / 2 + 1;
  int32_t zr[N], zi[N], fr[N], fi[N];
  for (int j = 0; j < N / 2; ++j) {
    const int32_t* r0 = block + (2 * j) * N;
    const int32_t* r1 = r0 + N;
    for (int m = 0; m < N; ++m) {
      zr[m] = r0[m];
      zi[m] = r1[m];
    }
    kernel(zr, zi, fr, fi);
    int32_t* re0 = re + (2 * j) * W;
    int32_t* im0 = im + (2 * j) * W;
    int32_t* re1 = re0 + W;
    int32_t* im1 = im0 + W;
    for (int k = 0; k <= N / 2; ++k) {
      if (k == 0 || k == N / 2) {
        re0[k] = fr[k];
        im0[k] = 0;
        re1[k] = fi[k];
        im1[k] = 0;
        continue;
      }
      const int kp = N - k;
      re0[k] = half_sum<Floor>(fr[k], fr[kp]);
      im0[k] = half_diff<Floor>(fi[k], fi[kp]);
      re1[k] = half_sum<Floor>(fi[k], fi[kp]);
      im1[k] = half_diff<Floor>(fr[kp], fr[k]);
    }
  }
  for (int k = 0; k < W; ++k) {
    for (int u = 0; u < N; ++u) {
      zr[u] = re[u * W + k];
      zi[u] = im[u * W + k];
    }
    kernel(zr, zi, fr, fi);
    for (int u = 0; u < N; ++u) {
      re[u * W + k] = fr[u];
      im[u * W + k] = fi[u];
    }
  }
}

// The column pass reads a whole column before it stores that column, and the
// row pass reads the work array only afterwards, so work may be im itself.
template <int N>
void inverse(Kernel kernel, const int32_t* re, const int32_t* im, int32_t* out, int32_t* work) {
  constexpr int W = N / 2 + 1;
  int32_t cr[N], ci[N], vr[N], vi[N];
  for (int k = 0; k < W; ++k) {
    for (int m = 0; m < N; ++m) {
      const int row = (N - m) % N;
      cr[m] = re[row * W + k];
      ci[m] = im[row * W + k];
    }
    kernel(cr, ci, vr, vi);
    for (int y = 0; y < N; ++y) {
      out[y * N + k] = vr[y];
      work[y * W + k] = vi[y];
    }
  }
  for (int j = 0; j < N / 2; ++j) {
    const int32_t* ar = out + (2 * j) * N;
    const int32_t* br = ar + N;
    const int32_t* ai = work + (2 * j) * W;
    const int32_t* bi = ai + W;
    // A + iB completed by conjugate symmetry and read in reversed order.
    cr[0] = wrap_sub(ar[0], bi[0]);
    ci[0] = wrap_add(ai[0], br[0]);
    cr[N / 2] = wrap_sub(ar[N / 2], bi[N / 2]);
    ci[N / 2] = wrap_add(ai[N / 2], br[N / 2]);
    for (int m = 1; m < N / 2; ++m) {
      cr[m] = wrap_add(ar[m], bi[m]);
      ci[m] = wrap_sub(br[m], ai[m]);
      cr[N - m] = wrap_sub(ar[m], bi[m]);
      ci[N - m] = wrap_add(ai[m], br[m]);
    }
    kernel(cr, ci, vr, vi);
    int32_t* o0 = out + (2 * j) * N;
    int32_t* o1 = o0 + N;
    for (int x = 0; x < N; ++x) {
      o0[x] = vr[x];
      o1[x] = vi[x];
    }
  }
}

}  // namespace
}  // namespace zyl::matchlib

using zyl::matchlib::forward;
using zyl::matchlib::inverse;

void zyl::matchlib::fft2d_forward16(const int32_t* block, int32_t* re, int32_t* im) {
  forward<16, true>(zyl::matchlib::fft16_complex, block, re, im);
}
void zyl::matchlib::fft2d_forward32(const int32_t* block, int32_t* re, int32_t* im) {
  forward<32, true>(zyl::matchlib::fft32_complex, block, re, im);
}
void zyl::matchlib::fft2d_forward64(const int32_t* block, int32_t* re, int32_t* im) {
  forward<64, false>(zyl::matchlib::fft64_complex, block, re, im);
}
void zyl::matchlib::fft2d_forward128(const int32_t* block, int32_t* re, int32_t* im) {
  forward<128, false>(zyl::matchlib::fft128_complex, block, re, im);
}
void zyl::matchlib::fft2d_inverse16(const int32_t* re, const int32_t* im, int32_t* out,
                                    int32_t* work) {
  inverse<16>(zyl::matchlib::fft16_complex, re, im, out, work);
}
void zyl::matchlib::fft2d_inverse32(const int32_t* re, const int32_t* im, int32_t* out,
                                    int32_t* work) {
  inverse<32>(zyl::matchlib::fft32_complex, re, im, out, work);
}
void zyl::matchlib::fft2d_inverse64(const int32_t* re, const int32_t* im, int32_t* out,
                                    int32_t* work) {
  inverse<64>(zyl::matchlib::fft64_complex, re, im, out, work);
}
void zyl::matchlib::fft2d_inverse128(const int32_t* re, const int32_t* im, int32_t* out,
                                     int32_t* work) {
  inverse<128>(zyl::matchlib::fft128_complex, re, im, out, work);
}

extern "C" {

ZYL_API void fft2d_forward16(const int32_t* block, int32_t* re, int32_t* im) {
  zyl::matchlib::fft2d_forward16(block, re, im);
}
ZYL_API void fft2d_forward32(const int32_t* block, int32_t* re, int32_t* im) {
  zyl::matchlib::fft2d_forward32(block, re, im);
}
ZYL_API void fft2d_forward64(const int32_t* block, int32_t* re, int32_t* im) {
  zyl::matchlib::fft2d_forward64(block, re, im);
}
ZYL_API void fft2d_forward128(const int32_t* block, int32_t* re, int32_t* im) {
  zyl::matchlib::fft2d_forward128(block, re, im);
}
ZYL_API void fft2d_inverse16(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work) {
  zyl::matchlib::fft2d_inverse16(re, im, out, work);
}
ZYL_API void fft2d_inverse32(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work) {
  zyl::matchlib::fft2d_inverse32(re, im, out, work);
}
ZYL_API void fft2d_inverse64(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work) {
  zyl::matchlib::fft2d_inverse64(re, im, out, work);
}
ZYL_API void fft2d_inverse128(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work) {
  zyl::matchlib::fft2d_inverse128(re, im, out, work);
}

}  // extern "C"

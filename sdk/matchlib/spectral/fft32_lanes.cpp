// The 32-point fixed-point transform on four sequences at once, and the 2-D
// forward transform of a 32 x 32 block built from it.
//
// The lane kernel performs, on each lane, exactly the operations of the
// scalar kernel in fft_kernels.cpp (same stage order, same twiddles, same
// floor shifts), in 32-bit arithmetic instead of 64-bit. The two agree
// whenever no 32-bit sum or product overflows, and none does for inputs
// within +-2^20 in the ways this file uses the kernel:
//
// Every value of a layer is the average of rotated values of the layer
// before (the kernel computes 1/N of the DFT), so its complex magnitude stays
// within the largest input magnitude times the twiddles' gain (at most
// 1025/1024 a rotation, five rotations) plus a few units of floor rounding.
// A rotation forms re c + im s with sqrt(c^2 + s^2) <= 1025, so its products
// stay within |z| * 1025.
//
// * Row pass: two real rows of the block (each sample within +-A, A = 2^20)
//   travel as one complex sequence of magnitude <= sqrt(2) A, so products
//   stay within sqrt(2) * 2^20 * 1025 * 1.01 < 1.54e9 < 2^31.
// * The row split recovers the transform of each real row, of magnitude
//   <= A plus rounding; the column pass's products stay within
//   2^20 * 1025 * 1.01 < 1.1e9 < 2^31.
// * Sums of four such values stay far within 2^31.
//
// Blocks with a sample beyond +-2^20 take the scalar transform instead (the
// grid front end's windowed samples are within +-255^3/16 < 2^20).
#include "matchlib/spectral/fft32_lanes.h"

#include <cstring>

#include "matchlib/spectral/fft2d.h"
#include "matchlib/spectral/fft_kernels.h"

namespace zyl::matchlib {
namespace {

using V = std::int32_t __attribute__((vector_size(16)));  // four lanes
constexpr int kLanes = 4;

struct CV {
  V re, im;
};

constexpr const fft_detail::Twiddles& kTw = fft_detail::kTwiddles;

// rotate() of the scalar kernel with t = j * 128 / L (mod 128):
// (re c + im s) >> 10 and (im c - re s) >> 10. Two kinds of angle take
// fewer products for the same integers: a quarter turn (c = 0, s = 1024)
// gives (im 1024) >> 10 = im and -re exactly; where |c| = |s| (odd eighths
// of a turn) re c + im s = c (re + s/c im) and im c - re s = c (im - s/c re).
[[gnu::always_inline]] inline CV rotate(CV z, int t) {
  if (t == 0) return z;
  if (t == 32) return {z.im, -z.re};
  const int c = kTw.cos[t], s = kTw.sin[t];
  if (c == s) return {((z.re + z.im) * c) >> 10, ((z.im - z.re) * c) >> 10};
  if (c == -s) return {((z.re - z.im) * c) >> 10, ((z.im + z.re) * c) >> 10};
  return {(z.re * c + z.im * s) >> 10, (z.im * c - z.re * s) >> 10};
}

// first_stage() of the scalar kernel: samples off, off + st, off + 2 st,
// off + 3 st.
[[gnu::always_inline]] inline void first_stage(const CV* x, int off, int st, CV* g) {
  const CV a = x[off], b = x[off + st], c = x[off + 2 * st], d = x[off + 3 * st];
  g[0] = {(a.re + b.re + c.re + d.re) >> 2, (a.im + b.im + c.im + d.im) >> 2};
  g[1] = {(a.re + b.im - c.re - d.im) >> 2, (a.im - b.re - c.im + d.re) >> 2};
  g[2] = {(a.re - b.re + c.re - d.re) >> 2, (a.im - b.im + c.im - d.im) >> 2};
  g[3] = {(a.re - b.im - c.re + d.im) >> 2, (a.im + b.re - c.im - d.re) >> 2};
}

// transform16<true>() of the scalar kernel: four first stages and the
// quartering radix-4 combination (L = 16, twiddle step 8).
[[gnu::always_inline]] inline void transform16q(const CV* x, int off, int st, CV* out) {
  CV g[4][4];
  for (int r = 0; r < 4; ++r) first_stage(x, off + r * st, 4 * st, g[r]);
  for (int k = 0; k < 4; ++k) {
    const CV t0 = g[0][k], t1 = rotate(g[1][k], 8 * k), t2 = rotate(g[2][k], 16 * k),
             t3 = rotate(g[3][k], 24 * k);
    out[k] = {(t0.re + t1.re + t2.re + t3.re) >> 2, (t0.im + t1.im + t2.im + t3.im) >> 2};
    out[k + 4] = {(t0.re + t1.im - t2.re - t3.im) >> 2, (t0.im - t1.re - t2.im + t3.re) >> 2};
    out[k + 8] = {(t0.re - t1.re + t2.re - t3.re) >> 2, (t0.im - t1.im + t2.im - t3.im) >> 2};
    out[k + 12] = {(t0.re - t1.im - t2.re + t3.im) >> 2, (t0.im + t1.re - t2.im - t3.re) >> 2};
  }
}

// transform32() of the scalar kernel: even and odd halves, then the halving
// radix-2 combination (L = 32, twiddle step 4).
[[gnu::always_inline]] inline void transform32(const CV* x, CV* out) {
  CV e[16], o[16];
  transform16q(x, 0, 2, e);
  transform16q(x, 1, 2, o);
  for (int k = 0; k < 16; ++k) {
    const CV t = rotate(o[k], 4 * k);
    out[k] = {(e[k].re + t.re) >> 1, (e[k].im + t.im) >> 1};
    out[k + 16] = {(e[k].re - t.re) >> 1, (e[k].im - t.im) >> 1};
  }
}

[[gnu::always_inline]] inline V load(const std::int32_t* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
[[gnu::always_inline]] inline void store(std::int32_t* p, V v) { std::memcpy(p, &v, sizeof v); }

// Four vectors as the rows of a 4 x 4 matrix, replaced by its columns.
[[gnu::always_inline]] inline void transpose(V (&v)[kLanes]) {
  const V t0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
  const V t1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
  const V t2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
  const V t3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
  v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  v[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  v[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Every sample within +-2^20.
bool within_bound(const std::int32_t* block, int n) {
  std::uint32_t far = 0;
  for (int k = 0; k < n; ++k)
    far |= static_cast<std::uint32_t>(block[k]) + (1u << 20) > (2u << 20) ? 1u : 0u;
  return far == 0;
}

}  // namespace

void fft32_complex_lanes4(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                          int32_t* out_im) {
  CV x[32], f[32];
  for (int m = 0; m < 32; ++m) x[m] = {load(in_re + m * kLanes), load(in_im + m * kLanes)};
  transform32(x, f);
  for (int k = 0; k < 32; ++k) {
    store(out_re + k * kLanes, f[k].re);
    store(out_im + k * kLanes, f[k].im);
  }
}

namespace {

// fft2d_forward32 (fft2d.cpp) restricted to the low columns: its row pass
// runs four row pairs at a time and splits only the columns kept (each
// column of the split depends on two outputs of its own row transform
// only), and its column pass runs four columns at a time on the kept ones
// (each column transform depends on its own column only). The halving of the
// split floors like the scalar one: (a + b) >> 1 on values that cannot
// overflow.
[[gnu::always_inline]] inline void forward32_low(const int32_t* block, int32_t* re, int32_t* im) {
  constexpr int N = 32, W = N / 2 + 1, C = kForward32LowColumns;
  static_assert(C % kLanes == 0 && C <= N / 2);
  for (int j0 = 0; j0 < N / 2; j0 += kLanes) {
    // Lane l carries rows 2 (j0 + l) (real part) and 2 (j0 + l) + 1
    // (imaginary part): four samples of four rows at a time, transposed.
    CV z[N], f[N];
    const int32_t* rows = block + 2 * j0 * N;
    for (int m = 0; m < N; m += kLanes) {
      V r[kLanes], i[kLanes];
      for (int l = 0; l < kLanes; ++l) {
        r[l] = load(rows + (2 * l) * N + m);
        i[l] = load(rows + (2 * l + 1) * N + m);
      }
      transpose(r);
      transpose(i);
      for (int q = 0; q < kLanes; ++q) z[m + q] = {r[q], i[q]};
    }
    transform32(z, f);
    // The split of columns k .. k + 3, transposed back into four values of
    // each of the eight rows.
    for (int k0 = 0; k0 < C; k0 += kLanes) {
      V re0[kLanes], im0[kLanes], re1[kLanes], im1[kLanes];
      for (int q = 0; q < kLanes; ++q) {
        const int k = k0 + q;
        if (k == 0) {
          re0[q] = f[0].re;
          re1[q] = f[0].im;
          im0[q] = im1[q] = V{};
        } else {
          const CV a = f[k], b = f[N - k];
          re0[q] = (a.re + b.re) >> 1;
          im0[q] = (a.im - b.im) >> 1;
          re1[q] = (a.im + b.im) >> 1;
          im1[q] = (b.re - a.re) >> 1;
        }
      }
      transpose(re0);
      transpose(im0);
      transpose(re1);
      transpose(im1);
      for (int l = 0; l < kLanes; ++l) {
        const int row = 2 * (j0 + l);
        store(re + row * W + k0, re0[l]);
        store(im + row * W + k0, im0[l]);
        store(re + (row + 1) * W + k0, re1[l]);
        store(im + (row + 1) * W + k0, im1[l]);
      }
    }
  }
  for (int k0 = 0; k0 < C; k0 += kLanes) {
    CV z[N], f[N];
    for (int u = 0; u < N; ++u) z[u] = {load(re + u * W + k0), load(im + u * W + k0)};
    transform32(z, f);
    for (int u = 0; u < N; ++u) {
      store(re + u * W + k0, f[u].re);
      store(im + u * W + k0, f[u].im);
    }
  }
}


// The same code compiled twice: for the generic processor (32-bit lane
// products are composed of 64-bit ones there) and, on x86, for processors
// with AVX2 (one instruction each); both compute the same integers.
void forward32_low_plain(const int32_t* block, int32_t* re, int32_t* im) {
  forward32_low(block, re, im);
}

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZYL_FFT32_LANES_AVX2 1
__attribute__((target("avx2"))) void forward32_low_avx2(const int32_t* block, int32_t* re,
                                                        int32_t* im) {
  forward32_low(block, re, im);
}

bool have_avx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace

bool fft2d_forward32_low_variant(int variant, const int32_t* block, int32_t* re, int32_t* im) {
  constexpr int N = 32, W = N / 2 + 1, C = kForward32LowColumns;
  if (!within_bound(block, N * N)) {
    int32_t full_re[N * W], full_im[N * W];
    fft2d_forward32(block, full_re, full_im);
    for (int u = 0; u < N; ++u)
      for (int k = 0; k < C; ++k) {
        re[u * W + k] = full_re[u * W + k];
        im[u * W + k] = full_im[u * W + k];
      }
    return true;
  }
#ifdef ZYL_FFT32_LANES_AVX2
  if (variant == 1) {
    if (!have_avx2()) return false;
    forward32_low_avx2(block, re, im);
    return true;
  }
#endif
  if (variant != 0) return false;
  forward32_low_plain(block, re, im);
  return true;
}

void fft2d_forward32_low(const int32_t* block, int32_t* re, int32_t* im) {
#ifdef ZYL_FFT32_LANES_AVX2
  if (have_avx2()) {
    fft2d_forward32_low_variant(1, block, re, im);
    return;
  }
#endif
  fft2d_forward32_low_variant(0, block, re, im);
}

void fft2d_forward32_low_within_bound(const int32_t* block, int32_t* re, int32_t* im) {
#ifdef ZYL_FFT32_LANES_AVX2
  if (have_avx2()) {
    forward32_low_avx2(block, re, im);
    return;
  }
#endif
  forward32_low_plain(block, re, im);
}

}  // namespace zyl::matchlib

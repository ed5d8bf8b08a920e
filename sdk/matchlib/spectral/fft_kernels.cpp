// Fixed-point complex FFT kernels of 16, 32, 64 and 128 points: radix-4
// decimation in time with a floor shift after every butterfly layer, so the
// result is 1/N of the DFT and no value grows. Twiddles are Q10.
//
// The rounding of every layer is part of the result (callers compare spectra
// bit for bit), so the stage order per length is fixed: see kernel16 ..
// kernel128 below. Sums and products are formed in 64 bits; for inputs
// within +-2^20 they equal the 32-bit sums the format is defined with.
#include <cstdint>

#include "zylscan/matchlib_fft.h"
#include "matchlib/spectral/fft_kernels.h"

namespace zyl::matchlib {
namespace {

struct Cx {
  int32_t re;
  int32_t im;
};

constexpr const fft_detail::Twiddles& kTw = fft_detail::kTwiddles;

inline int32_t shr(int64_t v, int s) { return static_cast<int32_t>(v >> s); }

// z * W(L, j): real (re c + im s) >> 10, imaginary (im c - re s) >> 10.
// Angle 0 is no operation; quarter turns come out exact from the formula.
inline Cx rotate(Cx z, int L, int j) {
  const int t = (j * (128 / L)) & 127;
  if (t == 0) return z;
  const int64_t c = kTw.cos[t];
  const int64_t s = kTw.sin[t];
  return {shr(z.re * c + z.im * s, 10), shr(z.im * c - z.re * s, 10)};
}

// A view of a strided input sequence: sample m at index (m * step) * lanes.
struct Seq {
  const int32_t* re;
  const int32_t* im;
  int lanes;
  Cx at(int m) const { return {re[m * lanes], im[m * lanes]}; }
};

// 4-point transform of samples off, off + st, off + 2 st, off + 3 st, / 4.
inline void first_stage(const Seq& x, int off, int st, Cx* g) {
  const Cx a = x.at(off), b = x.at(off + st), c = x.at(off + 2 * st), d = x.at(off + 3 * st);
  const int64_t ar = a.re, ai = a.im, br = b.re, bi = b.im, cr = c.re, ci = c.im, dr = d.re,
                di = d.im;
  g[0] = {shr(ar + br + cr + dr, 2), shr(ai + bi + ci + di, 2)};
  g[1] = {shr(ar + bi - cr - di, 2), shr(ai - br - ci + dr, 2)};
  g[2] = {shr(ar - br + cr - dr, 2), shr(ai - bi + ci - di, 2)};
  g[3] = {shr(ar - bi - cr + di, 2), shr(ai + br - ci - dr, 2)};
}

// Halving radix-4: combines F0..F3 (each L/4 long) into X (L long).
void combine4_halving(const Cx* const f[4], int L, Cx* x) {
  const int q4 = L / 4;
  for (int k = 0; k < q4; ++k) {
    const Cx t0 = f[0][k], t1 = rotate(f[1][k], L, k), t2 = rotate(f[2][k], L, 2 * k),
             t3 = rotate(f[3][k], L, 3 * k);
    const Cx p{shr(int64_t{t0.re} + t2.re, 1), shr(int64_t{t0.im} + t2.im, 1)};
    const Cx q{shr(int64_t{t1.re} + t3.re, 1), shr(int64_t{t1.im} + t3.im, 1)};
    const Cx d{shr(int64_t{t0.re} - t2.re, 1), shr(int64_t{t0.im} - t2.im, 1)};
    const Cx e{shr(int64_t{t1.re} - t3.re, 1), shr(int64_t{t1.im} - t3.im, 1)};
    x[k] = {shr(int64_t{p.re} + q.re, 1), shr(int64_t{p.im} + q.im, 1)};
    x[k + 2 * q4] = {shr(int64_t{p.re} - q.re, 1), shr(int64_t{p.im} - q.im, 1)};
    x[k + q4] = {shr(int64_t{d.re} + e.im, 1), shr(int64_t{d.im} - e.re, 1)};
    x[k + 3 * q4] = {shr(int64_t{d.re} - e.im, 1), shr(int64_t{d.im} + e.re, 1)};
  }
}

// Quartering radix-4: the same combination with one shift by 2 after the
// exact four-term sums.
void combine4_quartering(const Cx* const f[4], int L, Cx* x) {
  const int q4 = L / 4;
  for (int k = 0; k < q4; ++k) {
    const Cx t0 = f[0][k], t1 = rotate(f[1][k], L, k), t2 = rotate(f[2][k], L, 2 * k),
             t3 = rotate(f[3][k], L, 3 * k);
    const int64_t r0 = t0.re, i0 = t0.im, r1 = t1.re, i1 = t1.im, r2 = t2.re, i2 = t2.im,
                  r3 = t3.re, i3 = t3.im;
    x[k] = {shr(r0 + r1 + r2 + r3, 2), shr(i0 + i1 + i2 + i3, 2)};
    // (-i) T1 = (i1, -r1), i T3 = (-i3, r3)
    x[k + q4] = {shr(r0 + i1 - r2 - i3, 2), shr(i0 - r1 - i2 + r3, 2)};
    x[k + 2 * q4] = {shr(r0 - r1 + r2 - r3, 2), shr(i0 - i1 + i2 - i3, 2)};
    x[k + 3 * q4] = {shr(r0 - i1 - r2 + i3, 2), shr(i0 + r1 - i2 - r3, 2)};
  }
}

// Halving radix-2 of the even and odd transforms (each L/2 long).
void combine2_halving(const Cx* e, const Cx* o, int L, Cx* x) {
  const int h = L / 2;
  for (int k = 0; k < h; ++k) {
    const Cx t = rotate(o[k], L, k);
    x[k] = {shr(int64_t{e[k].re} + t.re, 1), shr(int64_t{e[k].im} + t.im, 1)};
    x[k + h] = {shr(int64_t{e[k].re} - t.re, 1), shr(int64_t{e[k].im} - t.im, 1)};
  }
}

// Each transform below covers the samples off, off + st, ... of x.
template <bool Quartering>
void transform16(const Seq& x, int off, int st, Cx* out) {
  Cx g[4][4];
  for (int r = 0; r < 4; ++r) first_stage(x, off + r * st, 4 * st, g[r]);
  const Cx* const f[4] = {g[0], g[1], g[2], g[3]};
  if constexpr (Quartering) {
    combine4_quartering(f, 16, out);
  } else {
    combine4_halving(f, 16, out);
  }
}

void transform32(const Seq& x, int off, int st, Cx* out) {
  Cx e[16], o[16];
  transform16<true>(x, off, 2 * st, e);
  transform16<true>(x, off + st, 2 * st, o);
  combine2_halving(e, o, 32, out);
}

void transform64(const Seq& x, int off, int st, Cx* out) {
  Cx g[4][16];
  for (int q = 0; q < 4; ++q) transform16<false>(x, off + q * st, 4 * st, g[q]);
  const Cx* const f[4] = {g[0], g[1], g[2], g[3]};
  combine4_halving(f, 64, out);
}

void transform128(const Seq& x, int off, int st, Cx* out) {
  Cx e[64], o[64];
  transform64(x, off, 2 * st, e);
  transform64(x, off + st, 2 * st, o);
  combine2_halving(e, o, 128, out);
}

template <int N, int Lanes>
void run(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im) {
  for (int lane = 0; lane < Lanes; ++lane) {
    const Seq x{in_re + lane, in_im + lane, Lanes};
    Cx out[N];
    if constexpr (N == 16) transform16<false>(x, 0, 1, out);
    if constexpr (N == 32) transform32(x, 0, 1, out);
    if constexpr (N == 64) transform64(x, 0, 1, out);
    if constexpr (N == 128) transform128(x, 0, 1, out);
    for (int k = 0; k < N; ++k) {
      out_re[k * Lanes + lane] = out[k].re;
      out_im[k * Lanes + lane] = out[k].im;
    }
  }
}

}  // namespace
}  // namespace zyl::matchlib

using zyl::matchlib::run;

void zyl::matchlib::fft16_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                                  int32_t* out_im) {
  run<16, 1>(in_re, in_im, out_re, out_im);
}
void zyl::matchlib::fft32_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                                  int32_t* out_im) {
  run<32, 1>(in_re, in_im, out_re, out_im);
}
void zyl::matchlib::fft64_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                                  int32_t* out_im) {
  run<64, 1>(in_re, in_im, out_re, out_im);
}
void zyl::matchlib::fft128_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                                   int32_t* out_im) {
  run<128, 1>(in_re, in_im, out_re, out_im);
}
extern "C" ZYL_API void fft16_complex_x4(const int32_t* in_re, const int32_t* in_im,
                                         int32_t* out_re, int32_t* out_im) {
  run<16, 4>(in_re, in_im, out_re, out_im);
}
extern "C" ZYL_API void fft32_complex_x4(const int32_t* in_re, const int32_t* in_im,
                                         int32_t* out_re, int32_t* out_im) {
  run<32, 4>(in_re, in_im, out_re, out_im);
}

extern "C" {

ZYL_API void fft16_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                           int32_t* out_im) {
  zyl::matchlib::fft16_complex(in_re, in_im, out_re, out_im);
}
ZYL_API void fft32_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                           int32_t* out_im) {
  zyl::matchlib::fft32_complex(in_re, in_im, out_re, out_im);
}
ZYL_API void fft64_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                           int32_t* out_im) {
  zyl::matchlib::fft64_complex(in_re, in_im, out_re, out_im);
}
ZYL_API void fft128_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                            int32_t* out_im) {
  zyl::matchlib::fft128_complex(in_re, in_im, out_re, out_im);
}

}  // extern "C"

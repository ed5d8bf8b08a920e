// 16-bit 16 x 16 transform pair: the spectrum lives in int16 (re, im)
// pairs and the inverse hands back signed bytes. The 16-point kernel is
// radix-4 decimation in frequency with Q9 twiddles and a floor halving
// after each of its four layers; every stored intermediate is 16 bits and
// wraps, as the format's arithmetic does.
#include <algorithm>
#include <cstdint>

#include "zylscan/matchlib_fft.h"
#include "matchlib/spectral/fft16_i16.h"

namespace zyl::matchlib {
namespace {

struct C16 {
  int16_t re;
  int16_t im;
};

inline int16_t s16(int32_t v) { return static_cast<int16_t>(v); }
inline C16 half_add(C16 a, C16 b) { return {s16((a.re + b.re) >> 1), s16((a.im + b.im) >> 1)}; }
inline C16 half_sub(C16 a, C16 b) { return {s16((a.re - b.re) >> 1), s16((a.im - b.im) >> 1)}; }
// (a - i b) / 2 and (a + i b) / 2
inline C16 half_sub_i(C16 a, C16 b) { return {s16((a.re + b.im) >> 1), s16((a.im - b.re) >> 1)}; }
inline C16 half_add_i(C16 a, C16 b) { return {s16((a.re - b.im) >> 1), s16((a.im + b.re) >> 1)}; }

// Q9 cosine and sine of j * 22.5 degrees for the rotations W(16, m q),
// m, q = 1..3, so j is one of 1, 2, 3, 4, 6, 9.
constexpr int kCos9[16] = {512, 473, 362, 196, 0, -196, -362, -473,
                           -512, -473, -362, -196, 0, 196, 362, 473};
constexpr int kSin9[16] = {0, 196, 362, 473, 512, 473, 362, 196,
                           0, -196, -362, -473, -512, -473, -362, -196};

inline C16 rotate(C16 z, int j) {
  if (j == 4) return {z.im, s16(-z.re)};  // -i: an exchange, no product
  const int c = kCos9[j], s = kSin9[j];
  return {s16((z.re * c + z.im * s) >> 9), s16((z.im * c - z.re * s) >> 9)};
}

void kernel(const C16* z, C16* out) {
  C16 s[8], d[8];
  for (int m = 0; m < 8; ++m) {
    s[m] = half_add(z[m], z[m + 8]);
    d[m] = half_sub(z[m], z[m + 8]);
  }
  C16 b[4][4];  // b[q][m]
  for (int m = 0; m < 4; ++m) {
    b[0][m] = half_add(s[m], s[m + 4]);
    b[2][m] = half_sub(s[m], s[m + 4]);
    b[1][m] = half_sub_i(d[m], d[m + 4]);
    b[3][m] = half_add_i(d[m], d[m + 4]);
  }
  for (int q = 0; q < 4; ++q) {
    C16 r[4];
    r[0] = b[q][0];
    for (int m = 1; m < 4; ++m) r[m] = q == 0 ? b[q][m] : rotate(b[q][m], m * q);
    const C16 p = half_add(r[0], r[2]), qq = half_add(r[1], r[3]);
    const C16 dd = half_sub(r[0], r[2]), e = half_sub(r[1], r[3]);
    out[q] = half_add(p, qq);
    out[q + 8] = half_sub(p, qq);
    out[q + 4] = half_sub_i(dd, e);
    out[q + 12] = half_add_i(dd, e);
  }
}

inline C16 load(const int16_t* p) { return {p[0], p[1]}; }
inline void store(int16_t* p, C16 v) {
  p[0] = v.re;
  p[1] = v.im;
}
inline int16_t sat16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
inline int8_t sat8(int32_t v) { return static_cast<int8_t>(std::clamp(v, -128, 127)); }

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::fft16_complex_i16(const int16_t* in, int16_t* out) {
  C16 z[16], x[16];
  for (int m = 0; m < 16; ++m) z[m] = load(in + 2 * m);
  kernel(z, x);
  for (int k = 0; k < 16; ++k) store(out + 2 * k, x[k]);
}

void zyl::matchlib::fft2d_forward16_i16(const int16_t* in, int16_t* spectrum) {
  constexpr int kRow = 18;  // 9 complex values
  C16 z[16], f[16];
  for (int j = 0; j < 8; ++j) {
    for (int m = 0; m < 16; ++m) z[m] = load(in + 32 * j + 2 * m);
    kernel(z, f);
    int16_t* row0 = spectrum + (2 * j) * kRow;
    int16_t* row1 = row0 + kRow;
    for (int k = 0; k <= 8; ++k) {
      if (k == 0 || k == 8) {
        store(row0 + 2 * k, {f[k].re, 0});
        store(row1 + 2 * k, {f[k].im, 0});
        continue;
      }
      const C16 a = f[k], b = f[16 - k];
      store(row0 + 2 * k, {s16((a.re + b.re) >> 1), s16((a.im - b.im) >> 1)});
      store(row1 + 2 * k, {s16((a.im + b.im) >> 1), s16((b.re - a.re) >> 1)});
    }
  }
  for (int k = 0; k <= 8; ++k) {
    for (int u = 0; u < 16; ++u) z[u] = load(spectrum + u * kRow + 2 * k);
    kernel(z, f);
    for (int u = 0; u < 16; ++u)
      store(spectrum + u * kRow + 2 * k, {sat16(4 * f[u].re), sat16(4 * f[u].im)});
  }
}

void zyl::matchlib::fft2d_inverse16_i16(const int16_t* spectrum, int8_t* out, int16_t* work) {
  constexpr int kRow = 18;
  C16 c[16], v[16];
  for (int k = 0; k <= 8; ++k) {
    for (int m = 0; m < 16; ++m) c[m] = load(spectrum + ((16 - m) % 16) * kRow + 2 * k);
    kernel(c, v);
    for (int y = 0; y < 16; ++y) store(work + y * kRow + 2 * k, v[y]);
  }
  for (int j = 0; j < 8; ++j) {
    const int16_t* a = work + (2 * j) * kRow;
    const int16_t* b = a + kRow;
    auto A = [&](int m) { return load(a + 2 * m); };
    auto B = [&](int m) { return load(b + 2 * m); };
    c[0] = {s16(A(0).re - B(0).im), s16(A(0).im + B(0).re)};
    c[8] = {s16(A(8).re - B(8).im), s16(A(8).im + B(8).re)};
    for (int m = 1; m < 8; ++m) {
      c[m] = {s16(A(m).re + B(m).im), s16(B(m).re - A(m).im)};
      c[16 - m] = {s16(A(m).re - B(m).im), s16(A(m).im + B(m).re)};
    }
    kernel(c, v);
    for (int x = 0; x < 16; ++x) {
      out[(2 * j) * 16 + x] = sat8(v[x].re >> 1);
      out[(2 * j + 1) * 16 + x] = sat8(v[x].im >> 1);
    }
  }
}

extern "C" {

ZYL_API void fft16_complex_i16(const int16_t* in, int16_t* out) {
  zyl::matchlib::fft16_complex_i16(in, out);
}
ZYL_API void fft2d_forward16_i16(const int16_t* in, int16_t* spectrum) {
  zyl::matchlib::fft2d_forward16_i16(in, spectrum);
}
ZYL_API void fft2d_inverse16_i16(const int16_t* spectrum, int8_t* out, int16_t* work) {
  zyl::matchlib::fft2d_inverse16_i16(spectrum, out, work);
}

}  // extern "C"

// Single-precision 2-D FFT of 256 x 256 real frames and the float filter
// path over 16-bit images. Every radix-4 butterfly halves its outputs, so a
// 256-point pass scales by 1/16, a 2-D transform by 1/256 in both
// directions, and forward then inverse gives the frame back.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_window.h"
#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/border_extend.h"
#include "matchlib/image/window_copy.h"
#include "matchlib/spectral/fft_float.h"

namespace zyl::matchlib {
namespace {

using cf = std::complex<float>;
constexpr int kN = 256;
constexpr int kW = kN / 2 + 1;

// The twiddle of a DIT stage combining four transforms of length L/4 at
// bin k for branch q.
inline cf twiddle(const FftFloatPlan& p, int L, int k, int q) {
  if (L == 16) return {p.tw16[k][q][0], p.tw16[k][q][1]};
  if (L == 64) return {p.tw64[k][q][0], p.tw64[k][q][1]};
  return {p.tw256[k][q][0], p.tw256[k][q][1]};
}

// Radix-4 decimation in time over x[0], x[st], ... (L samples) into out.
void pass(const FftFloatPlan& p, const cf* x, int st, int L, cf* out) {
  if (L == 4) {
    const cf a = x[0], b = x[st], c = x[2 * st], d = x[3 * st];
    const cf mib(b.imag(), -b.real()), mid(d.imag(), -d.real());  // -i b, -i d
    out[0] = 0.5f * (a + b + c + d);
    out[1] = 0.5f * (a + mib - c - mid);
    out[2] = 0.5f * (a - b + c - d);
    out[3] = 0.5f * (a - mib - c + mid);
    return;
  }
  const int q4 = L / 4;
  cf sub[4][64];
  for (int q = 0; q < 4; ++q) pass(p, x + q * st, 4 * st, q4, sub[q]);
  for (int k = 0; k < q4; ++k) {
    const cf t0 = sub[0][k];
    const cf t1 = sub[1][k] * twiddle(p, L, k, 1);
    const cf t2 = sub[2][k] * twiddle(p, L, k, 2);
    const cf t3 = sub[3][k] * twiddle(p, L, k, 3);
    const cf s02 = t0 + t2, d02 = t0 - t2, s13 = t1 + t3, d13 = t1 - t3;
    const cf mid13(d13.imag(), -d13.real());  // -i (t1 - t3)
    out[k] = 0.5f * (s02 + s13);
    out[k + q4] = 0.5f * (d02 + mid13);
    out[k + 2 * q4] = 0.5f * (s02 - s13);
    out[k + 3 * q4] = 0.5f * (d02 - mid13);
  }
}

// Inverse pass through the forward one: conj(F(conj(x))).
void pass_inverse(const FftFloatPlan& p, cf* x, cf* out) {
  for (int i = 0; i < kN; ++i) x[i] = std::conj(x[i]);
  pass(p, x, 1, kN, out);
  for (int i = 0; i < kN; ++i) out[i] = std::conj(out[i]);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

FftFloatPlan* zyl::matchlib::fftf_plan_create(int n) {
  // Sizes beyond 4096 have no use here and would overflow the work size.
  if (n < 1 || n > 4096) return nullptr;
  auto* plan = static_cast<FftFloatPlan*>(ml_calloc(1, sizeof(FftFloatPlan)));
  if (!plan) return nullptr;
  plan->n = n;
  int size = 4;
  if (n >= 32 && n <= 35) size = 8;
  if (n >= 64 && n <= 67) size = 16;
  if (n >= 128 && n <= 131) size = 32;
  if (n >= 256 && n <= 259) size = 64;
  plan->bitrev = static_cast<int32_t*>(ml_malloc(sizeof(int32_t) * size));
  plan->work = static_cast<float*>(ml_malloc(sizeof(float) * n * (n / 2 + 1)));
  if (!plan->bitrev || !plan->work) {
    zyl::matchlib::fftf_plan_free(plan);
    return nullptr;
  }
  // 0 2 1 3, then each doubling: the doubled entries, then the same plus one.
  const int start[4] = {0, 2, 1, 3};
  std::copy(start, start + 4, plan->bitrev);
  for (int len = 4; len < size; len *= 2) {
    for (int i = 0; i < len; ++i) plan->bitrev[i] *= 2;
    for (int i = 0; i < len; ++i) plan->bitrev[len + i] = plan->bitrev[i] + 1;
  }
  plan->bitrev_size = size;
  const float pi = 3.14159265358979f;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) sincosf(-pi * i * k / 8, &plan->tw16[i][k][1], &plan->tw16[i][k][0]);
  for (int i = 0; i < 16; ++i)
    for (int k = 0; k < 4; ++k)
      sincosf(-pi * i * k / 32, &plan->tw64[i][k][1], &plan->tw64[i][k][0]);
  for (int i = 0; i < 64; ++i)
    for (int k = 0; k < 4; ++k)
      sincosf(-pi * i * k / 128, &plan->tw256[i][k][1], &plan->tw256[i][k][0]);
  return plan;
}

void zyl::matchlib::fftf_plan_free(FftFloatPlan* plan) {
  if (!plan) return;
  std::free(plan->bitrev);
  std::free(plan->work);
  std::free(plan);
}

int zyl::matchlib::fftf_forward256(FftFloatPlan* plan, const float* frame, float* re, float* im) {
  if (!plan || plan->n != kN) return ML_WRONG_KIND;
  cf in[kN], out[kN];
  for (int y = 0; y < kN; ++y) {
    for (int x = 0; x < kN; ++x) in[x] = frame[y * kN + x];
    pass(*plan, in, 1, kN, out);
    for (int k = 0; k < kW; ++k) {
      re[y * kW + k] = out[k].real();
      im[y * kW + k] = out[k].imag();
    }
  }
  for (int k = 0; k < kW; ++k) {
    for (int u = 0; u < kN; ++u) in[u] = {re[u * kW + k], im[u * kW + k]};
    pass(*plan, in, 1, kN, out);
    for (int u = 0; u < kN; ++u) {
      re[u * kW + k] = out[u].real();
      im[u * kW + k] = out[u].imag();
    }
  }
  return ML_OK;
}

// The column pass leaves its real parts in the frame (row stride 256) and
// its imaginary parts in the plan's work array; the row pass completes each
// row by conjugate symmetry and keeps the real part.
int zyl::matchlib::fftf_inverse256(FftFloatPlan* plan, const float* re, const float* im,
                                   float* frame) {
  if (!plan || plan->n != kN) return ML_WRONG_KIND;
  cf in[kN], out[kN];
  float* work = plan->work;
  for (int k = 0; k < kW; ++k) {
    for (int u = 0; u < kN; ++u) in[u] = {re[u * kW + k], im[u * kW + k]};
    pass_inverse(*plan, in, out);
    for (int y = 0; y < kN; ++y) {
      frame[y * kN + k] = out[y].real();
      work[y * kW + k] = out[y].imag();
    }
  }
  for (int y = 0; y < kN; ++y) {
    for (int k = 0; k < kW; ++k) in[k] = {frame[y * kN + k], work[y * kW + k]};
    for (int k = 1; k < kN / 2; ++k) in[kN - k] = std::conj(in[k]);
    pass_inverse(*plan, in, out);
    for (int x = 0; x < kN; ++x) frame[y * kN + x] = out[x].real();
  }
  return ML_OK;
}

int zyl::matchlib::fftfilt_float256(float* out, const float* in, FloatSpectrumCallback callback,
                                    void* user) {
  if (!out || !in) return ML_BAD_ARGUMENT;
  std::unique_ptr<float, decltype(&std::free)> re(
      static_cast<float*>(ml_malloc(sizeof(float) * kN * kW)), std::free);
  std::unique_ptr<float, decltype(&std::free)> im(
      static_cast<float*>(ml_malloc(sizeof(float) * kN * kW)), std::free);
  std::unique_ptr<FftFloatPlan, decltype(&zyl::matchlib::fftf_plan_free)> plan(
      zyl::matchlib::fftf_plan_create(kN), &zyl::matchlib::fftf_plan_free);
  if (!re || !im || !plan) return ML_NO_MEMORY;
  zyl::matchlib::fftf_forward256(plan.get(), in, re.get(), im.get());
  // No callback leaves the spectrum as it is.
  if (callback) callback(re.get(), im.get(), kN, kN, user);
  return zyl::matchlib::fftf_inverse256(plan.get(), re.get(), im.get(), out);
}

extern "C" ZYL_API int fftfilt_float256_sized(float* out, const float* in, int rows, int columns,
                                              FloatSpectrumCallback callback, void* user) {
  if (rows != kN || columns != kN) return ML_WRONG_KIND;
  return zyl::matchlib::fftfilt_float256(out, in, callback, user);
}

int zyl::matchlib::fftfilt_run_float_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                         int frame_rows, int frame_columns,
                                         FloatSpectrumCallback callback, void* user) {
  if (!dst || !src || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  // Only a 256 x 256 frame is processed; the image must fit inside it.
  if (frame_rows != kN || frame_columns != kN) return ML_WRONG_KIND;
  if (height > kN || width > kN) return ML_BAD_ARGUMENT;
  std::vector<uint16_t> frame16;
  std::vector<float> in, out;
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    frame16.resize(kN * kN);
    in.resize(kN * kN);
    out.resize(kN * kN);
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  int st = zyl::matchlib::img_pad_extend_u16(src, height, width, kN, kN, (kN - height) / 2,
                                             (kN - width) / 2, frame16.data());
  if (st != ML_OK) return st;
  std::copy(frame16.begin(), frame16.end(), in.begin());
  st = zyl::matchlib::fftfilt_float256(out.data(), in.data(), callback, user);
  if (st != ML_OK) return st;
  for (int i = 0; i < kN * kN; ++i) {
    const float v = out[i];
    // Truncate toward zero; negatives become 0, values above 65535 saturate.
    frame16[i] = v <= 0.0f ? 0 : v >= 65535.0f ? 65535 : static_cast<uint16_t>(v);
  }
  return zyl::matchlib::copy_centered<std::uint16_t>(frame16.data(), kN, kN, height, width, dst);
}

extern "C" {

ZYL_API FftFloatPlan* fftf_plan_create(int n) { return zyl::matchlib::fftf_plan_create(n); }
ZYL_API void fftf_plan_free(FftFloatPlan* plan) { zyl::matchlib::fftf_plan_free(plan); }
ZYL_API int fftf_forward256(FftFloatPlan* plan, const float* frame, float* re, float* im) {
  return zyl::matchlib::fftf_forward256(plan, frame, re, im);
}
ZYL_API int fftf_inverse256(FftFloatPlan* plan, const float* re, const float* im, float* frame) {
  return zyl::matchlib::fftf_inverse256(plan, re, im, frame);
}
ZYL_API int fftfilt_float256(float* out, const float* in, FloatSpectrumCallback callback,
                             void* user) {
  return zyl::matchlib::fftfilt_float256(out, in, callback, user);
}
ZYL_API int fftfilt_run_float_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                  int frame_rows, int frame_columns, FloatSpectrumCallback callback,
                                  void* user) {
  return zyl::matchlib::fftfilt_run_float_u16(dst, src, height, width, frame_rows, frame_columns,
                                              callback, user);
}

}  // extern "C"

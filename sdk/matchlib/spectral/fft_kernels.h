// The functions of fft kernels that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include <array>

#include "zylscan/matchlib_fft.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void fft16_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void fft32_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void fft64_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void fft128_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);

}  // namespace zyl::matchlib

namespace zyl::matchlib::fft_detail {

// 1024 cos and 1024 sin of 2 pi t / 128, t = 0..16 (0 .. 45 degrees).
constexpr int kOctantCos[17] = {1024, 1023, 1019, 1013, 1004, 993, 980, 964, 946,
                                926,  903,  878,  851,  822,  792, 759, 724};
constexpr int kOctantSin[17] = {0,   50,  100, 150, 200, 249, 297, 345, 392,
                                438, 483, 526, 569, 610, 650, 688, 724};

// The Q10 twiddles of the kernels: cos and sin of 2 pi t / 128.
struct Twiddles {
  std::array<int, 128> cos{};
  std::array<int, 128> sin{};
};

// The whole turn by symmetry from the first octant.
constexpr Twiddles make_twiddles() {
  Twiddles t;
  for (int i = 0; i <= 32; ++i) {
    t.cos[i] = i <= 16 ? kOctantCos[i] : kOctantSin[32 - i];
    t.sin[i] = i <= 16 ? kOctantSin[i] : kOctantCos[32 - i];
  }
  for (int i = 33; i < 64; ++i) {  // plus a quarter turn
    t.cos[i] = -t.sin[i - 32];
    t.sin[i] = t.cos[i - 32];
  }
  for (int i = 64; i < 128; ++i) {  // plus a half turn
    t.cos[i] = -t.cos[i - 64];
    t.sin[i] = -t.sin[i - 64];
  }
  return t;
}

inline constexpr Twiddles kTwiddles = make_twiddles();

}  // namespace zyl::matchlib::fft_detail

// The functions of fixed math that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_fixed.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint32_t fx_isqrt32(uint32_t a);
uint32_t fx_isqrt32_alt(uint32_t a);
uint32_t fx_isqrt16(uint16_t a);
uint32_t fx_isqrt16_alt(uint16_t a);
int fx_isqrt_round(int a);
uint32_t fx_isqrt30_round(uint32_t a);
uint32_t fx_isqrt_shr7(uint32_t a);
int fx_log2_floor(uint32_t a);
int fx_exp(int x);
int fx_sin256(int a);
int fx_sin256_alt(int a);
int fx_cos256(int a);
int fx_cos256_alt(int a);
int fx_sin256_rounded(int a);
int fx_cos256_rounded(int a);
int fx_dir_absdiff(int a, int b);
int fx_dir_absdiff_alt(int a, int b);
int fx_dir_diff(int a, int b);
int fx_dir_mean(int a, int b);
int fx_dir_mean_alt(int a, int b);
int fx_orient_absdiff(int a, int b);
int fx_orient_mean(int a, int b);
int fx_atan2(int y, int x);
int fx_atan2_s16(int16_t y, int16_t x);
int fx_atan2_approx(int x, int y);
int fx_atan2_phase24(int y_in, int x_in);
int fx_sin_rad(int a);
int fx_cos_rad(int a);
int fx_sin65536(int a);
int fx_cos65536(int a);
int32_t fx_sin_phase24(int32_t phase);
int32_t fx_cos_phase24(int32_t phase);
int clamp_u8(int a);
int fx_dist_sq(int x1, int y1, int x2, int y2);
uint32_t rng_next(uint32_t* state);
uint32_t rng_next_alt(uint32_t* state);
int rng_next_range(uint32_t* state, int lo, int hi);

}  // namespace zyl::matchlib

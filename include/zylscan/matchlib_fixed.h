/* Matcher library fixed-point maths. Units: directions in 256 steps a turn
 * (0 = +x, 64 = +y), orientations in 128 steps a half turn, Q14 sines
 * (16384 = 1.0), Q31 phase sines, 16.16 radians (411774 = a turn), 16-bit
 * angles (65536 a turn) and 24-bit phases (0x1000000 a turn). All routines
 * are pure except the process-wide random generator. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Square roots and bit counts. */
ZYL_API uint32_t fx_isqrt32(uint32_t a);
ZYL_API uint32_t fx_isqrt32_alt(uint32_t a);
ZYL_API uint32_t fx_isqrt16(uint16_t a);
ZYL_API uint32_t fx_isqrt16_alt(uint16_t a);
ZYL_API int fx_isqrt_round(int a);
ZYL_API uint32_t fx_isqrt30_round(uint32_t a);
ZYL_API uint32_t fx_isqrt_shr7(uint32_t a);
ZYL_API int fx_log2_floor(uint32_t a);
ZYL_API int fx_clz32(uint32_t a);
ZYL_API int fx_exp(int x);

/* Directions and orientations (only the low 8 bits of the arguments count). */
ZYL_API int fx_sin256(int a);
ZYL_API int fx_sin256_alt(int a);
ZYL_API int fx_cos256(int a);
ZYL_API int fx_cos256_alt(int a);
ZYL_API int fx_sin256_rounded(int a);
ZYL_API int fx_cos256_rounded(int a);
ZYL_API int fx_sin256_half_rounded(int a);
ZYL_API int fx_dir_absdiff(int a, int b);
ZYL_API int fx_dir_absdiff_alt(int a, int b);
ZYL_API int fx_dir_diff(int a, int b);
ZYL_API int fx_dir_diff_alt(int a, int b);
ZYL_API int fx_dir_sdiff(int a, int b);
ZYL_API int fx_dir_mean(int a, int b);
ZYL_API int fx_dir_mean_alt(int a, int b);
ZYL_API int fx_orient_absdiff(int a, int b);
ZYL_API int fx_orient_diff(int a, int b);
ZYL_API int fx_orient_mean(int a, int b);

/* Arctangents. */
ZYL_API int fx_atan2(int y, int x);
ZYL_API int fx_atan2_s16(int16_t y, int16_t x);
ZYL_API int fx_atan2_approx(int x, int y);
ZYL_API int fx_atan_octant(int larger, int smaller);
ZYL_API int fx_atan_slope(int s);
ZYL_API int fx_dir_between(int x1, int y1, int x2, int y2);
ZYL_API int fx_atan2_phase24(int y, int x);

/* Other angle forms. */
ZYL_API int fx_sin_rad(int a);
ZYL_API int fx_cos_rad(int a);
ZYL_API int fx_sin65536(int a);
ZYL_API int fx_cos65536(int a);
ZYL_API int32_t fx_sin_phase24(int32_t n);
ZYL_API int32_t fx_cos_phase24(int32_t n);

/* Integers, rounding and random numbers. */
ZYL_API int int_div_round(int a, int b);
ZYL_API int int_abs(int a);
ZYL_API int int_mod_pos(int a, int b);
ZYL_API int clamp_u8(int a);
ZYL_API int fx_q14_round(int a);
ZYL_API int fx_round_f32(float x);
ZYL_API int fx_dist_sq(int x1, int y1, int x2, int y2);
ZYL_API int fx_dist_round(int x1, int y1, int x2, int y2);
ZYL_API uint32_t rng_next(uint32_t* state);
ZYL_API uint32_t rng_next_alt(uint32_t* state);
ZYL_API int rng_next_range(uint32_t* state, int lo, int hi);
ZYL_API uint32_t rng_next_global(void);
ZYL_API void rng_seed_global(uint32_t seed);

ZYL_EXTERN_C_END

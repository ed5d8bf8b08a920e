// The 32-point 2-D forward transform computed on several sequences at once
// (lanes), for the grid front end, which reads only the low frequencies of
// each block's half spectrum.
#pragma once

#include <cstdint>

namespace zyl::matchlib {

// Columns 0 .. kForward32LowColumns - 1 of fft2d_forward32's result (32 rows
// of 17 at re and im), equal to it bit for bit; the other columns of re and
// im are left as they were.
inline constexpr int kForward32LowColumns = 12;
void fft2d_forward32_low(const int32_t* block, int32_t* re, int32_t* im);
// The same for a block the caller knows to lie within +-2^20 (no check; a
// sample beyond the bound gives an unspecified spectrum).
void fft2d_forward32_low_within_bound(const int32_t* block, int32_t* re, int32_t* im);
// One compiled form of it, for the tests: 0 the generic one, 1 the AVX2 one
// (x86 processors that have it). False, with nothing written, for a form
// this build or processor lacks.
bool fft2d_forward32_low_variant(int variant, const int32_t* block, int32_t* re, int32_t* im);

// The 32-point kernel over four sequences at once: in_re[m * 4 + l] is sample
// m of sequence l (likewise im and the outputs). For inputs within +-2^20
// (real and imaginary parts) it equals fft32_complex on each sequence.
void fft32_complex_lanes4(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                          int32_t* out_im);

}  // namespace zyl::matchlib

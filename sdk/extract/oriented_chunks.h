// The oriented kernels laid out for fast sums: chunks of eight neighbouring
// taps along a row of one of two copies of the image, the image itself or
// its transpose, whichever lets the kernel take fewer chunks.
//
// A kernel near horizontal spans few rows and many columns, so its taps lie
// densely along the rows; a kernel near vertical spans many rows but few
// columns, and in the transposed copy (whose rows are the image's columns)
// it too becomes one that spans few rows. Every kernel then fits in
// kChunks chunks of eight taps, where one layout alone needs up to 13.
//
// The sums are exact in 32-bit integers: pixels are 0..255 and weights
// 0..10201 as 16-bit integers, so a product is below 2^22, and since all
// weights are positive and together make at most ZYL_KERNEL_TOTAL (checked
// when the chunks are built), every partial sum is at most
// 255 x 112211 < 2^31.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zylscan/oriented_filter.h"

namespace zyl::extract {

struct OrientedChunks {
  static constexpr int kReach = 6;   // the kernels reach 6 pixels each way
  static constexpr int kWidth = 8;   // taps per chunk
  static constexpr int kChunks = 9;  // chunks per kernel, the short ones padded
  struct alignas(16) Weights {
    std::int16_t w[kWidth];
  };
  // Chunk c of orientation m weighs the pixels at (row[m][c], col[m][c] +
  // 0..7) of its layout (the image when transposed[m] is false, rows
  // running down and columns across; else the transpose, rows running
  // across the image and columns down) with weight[m][c]. Padding chunks
  // weigh 0 on the centre row. A chunk lies within kReach of the centre
  // both ways, so it reads only pixels the kernel reaches.
  Weights weight[120][kChunks];
  std::int8_t row[120][kChunks];
  std::int8_t col[120][kChunks];
  bool transposed[120];
  std::int32_t total[120];  // the kernel's weights summed
  // The weights of the taps that lie inside the image, by where the pixel
  // lies: clipped_total[m][edge_class(y, height)][edge_class(x, width)].
  std::int32_t clipped_total[120][2 * kReach + 1][2 * kReach + 1];
  // Every kernel lies within kReach, fits in kChunks chunks of the layout
  // chosen, and meets the bound above; when not, the pixels are smoothed
  // tap by tap.
  bool usable;

  OrientedChunks();

  // Where a pixel lies along one axis of an image at least 2 kReach + 1
  // long: k < kReach when it lies k from the first pixel (so the taps more
  // than k before it lie outside), 2 kReach - k when it lies k < kReach
  // from the last, else kReach (every tap lies inside along this axis).
  static int edge_class(int position, int size) {
    if (position < kReach) return position;
    const int from_end = size - 1 - position;
    return from_end < kReach ? 2 * kReach - from_end : kReach;
  }
};

// The table, built once.
const OrientedChunks& oriented_chunks();

// The kernel sum at the pixel p of a layout whose chunk c lies offset[c]
// bytes on from p, in plain integer arithmetic.
inline std::int32_t oriented_sum_plain(const std::int16_t* p, const OrientedChunks::Weights* weight,
                                       const std::int32_t* offset) {
  std::int32_t sum = 0;
  for (int c = 0; c < OrientedChunks::kChunks; ++c) {
    const std::int16_t* chunk = p + offset[c] / static_cast<std::int32_t>(sizeof *p);
    for (int i = 0; i < OrientedChunks::kWidth; ++i) sum += chunk[i] * weight[c].w[i];
  }
  return sum;
}

#if defined(__SSE2__)
// The kernel sum split over four 32-bit lanes, eight taps a multiply:
// pairs of 16-bit products added into 32-bit lanes, all exact.
inline __m128i oriented_lanes(const std::int16_t* p, const OrientedChunks::Weights* weight,
                              const std::int32_t* offset) {
  __m128i acc = _mm_setzero_si128();
  for (int c = 0; c < OrientedChunks::kChunks; ++c) {
    const __m128i pixels =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(reinterpret_cast<const char*>(p) + offset[c]));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(pixels, _mm_load_si128(reinterpret_cast<const __m128i*>(weight[c].w))));
  }
  return acc;
}
#endif

// The same sum, with SSE2 (every x86-64 processor) where the target has it;
// every product and sum is exact, so the result is the plain one.
inline std::int32_t oriented_sum(const std::int16_t* p, const OrientedChunks::Weights* weight,
                                 const std::int32_t* offset) {
#if defined(__SSE2__)
  __m128i acc = oriented_lanes(p, weight, offset);
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  return _mm_cvtsi128_si32(acc);
#else
  return oriented_sum_plain(p, weight, offset);
#endif
}

// sum / ZYL_KERNEL_TOTAL for a sum of an interior kernel (at most
// 255 x 112211 < 2^25) as a multiply and a shift. M = ceil(2^42 / 112211)
// = 39194433 exceeds 2^42 / 112211 by e / 112211 with e = M x 112211 -
// 2^42 < 2^17, so sum x M / 2^42 exceeds sum / 112211 by sum x e /
// (112211 x 2^42) < 2^25 x 2^17 / (112211 x 2^42) = 1 / 112211: too little
// to reach the next whole number, and the floor is the quotient. The
// product stays below 2^51.
inline std::uint32_t divide_by_kernel_total(std::uint32_t sum) {
  static_assert(ZYL_KERNEL_TOTAL == 112211, "the multiplier belongs to this divisor");
  return static_cast<std::uint32_t>((std::uint64_t{sum} * 39194433u) >> 42);
}

#if defined(__SSE2__)
// Four kernels' lanes (see oriented_lanes) summed and divided by the total
// side by side, as divide_by_kernel_total does one: the quotients in the
// low four bytes, in order.
inline std::uint32_t divide_four_by_kernel_total(__m128i a0, __m128i a1, __m128i a2, __m128i a3) {
  // Lanes of a0 and a1 interleaved and added, then those of a2 and a3: the
  // four sums side by side.
  const __m128i s01 = _mm_add_epi32(_mm_unpacklo_epi32(a0, a1), _mm_unpackhi_epi32(a0, a1));
  const __m128i s23 = _mm_add_epi32(_mm_unpacklo_epi32(a2, a3), _mm_unpackhi_epi32(a2, a3));
  const __m128i sums = _mm_add_epi32(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
  // The 64-bit products of sums 0 and 2, then of 1 and 3, shifted down.
  const __m128i multiplier = _mm_set1_epi32(39194433);
  const __m128i q02 = _mm_srli_epi64(_mm_mul_epu32(sums, multiplier), 42);
  const __m128i q13 = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(sums, 32), multiplier), 42);
  const __m128i q = _mm_or_si128(q02, _mm_slli_epi64(q13, 32));
  // Every quotient is at most 255: the packs keep them as they are.
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q, q), q);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
}

// The 3 x 3 means (sum / 9) of four neighbouring pixels whose rows above,
// here and below start at the pixel before the first (eight bytes read
// from each), in the low four bytes, in order: the column sums side by
// side, each window the sum of three of them (at most 9 x 255 = 2295),
// divided by 9 as a high multiply by M = ceil(2^16 / 9) = 7282. M x 9 -
// 2^16 = 2, so sum x M / 2^16 exceeds sum / 9 by sum x 2 / (9 x 2^16) <
// 1/9 (sum < 2^15): too little to reach the next whole number.
inline std::uint32_t flat_means_four(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below) {
  const __m128i zero = _mm_setzero_si128();
  auto load = [zero](const std::uint8_t* row) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)), zero);
  };
  const __m128i columns = _mm_add_epi16(_mm_add_epi16(load(above), load(here)), load(below));
  const __m128i sums = _mm_add_epi16(_mm_add_epi16(columns, _mm_srli_si128(columns, 2)), _mm_srli_si128(columns, 4));
  const __m128i means = _mm_mulhi_epu16(sums, _mm_set1_epi16(7282));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(means, means)));
}
#endif

}  // namespace zyl::extract

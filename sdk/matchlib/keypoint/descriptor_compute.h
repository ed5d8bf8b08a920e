// Descriptor computations of the keypoint bit descriptor types and the
// helpers they share. Every compute routine fills the descriptor array of
// one extension of a BlockRecord, one descriptor per point.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zylscan/matchlib_blockrec.h"

namespace zyl::matchlib {

using ComputeFn = int (*)(BlockRecord* record, int extension, const std::uint8_t* pixels,
                          const std::uint8_t* mask, int height, int width);

int compute_pairs_2(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_pairs_20(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_pairs_200(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_pairs_400(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_pairs_800(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_pairs_1000(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_rotated_pairs(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_texture_code(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_fixed_pairs(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);
int compute_spectral(BlockRecord*, int, const std::uint8_t*, const std::uint8_t*, int, int);

// CRC-32 of a pattern's bytes.
std::uint32_t pattern_crc(const std::int8_t* pattern, std::size_t bytes);

// Offsets of a 500-dpi pattern for resolution r: as stored for 493..507,
// else v x floor(r x 256 / 500) / 256 truncated toward zero.
void scale_pattern(const std::int8_t* pattern, std::size_t bytes, int resolution,
                   std::int8_t* out);

// Seed sum b[p] + b[p + 4] + b[p - 4] + b[p + 4w] + b[p - 4w]; indexes
// outside the n bytes read as 0 (tiny images), the others keep their
// linear meaning, row wrap included.
int seed_sum(const std::uint8_t* b, std::size_t n, long p, long w);

// The descriptor array of `extension`, or null for a bad record or index.
std::uint8_t* descriptor_array(BlockRecord* record, int extension);

inline void set_bit(std::uint8_t* d, int k, bool on) {
  const std::uint8_t m = static_cast<std::uint8_t>(1u << (k % 8));
  d[k / 8] = on ? (d[k / 8] | m) : (d[k / 8] & ~m);
}

// v / d taken to the nearest whole number, halves away from zero (d > 0).
inline long round_div(long v, long d) { return v >= 0 ? (v + d / 2) / d : -((-v + d / 2) / d); }

}  // namespace zyl::matchlib

// Internal forms of the descriptor Hamming kernels, shared by the
// descriptor types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "zylscan/matchlib_descriptor_type.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int desc_match_lists(uint32_t probe, uint32_t start, uint32_t count, int invert, int swap, int mode,
                     const BlockRecord* a, const BlockRecord* b, MatchBests* bests);
int desc8_distance(int i, int j, int count, const uint8_t* a, const uint8_t* b, int, int invert,
                   uint8_t* out);

// `words` 64-bit words of the probe (after invert/swap) against `count`
// gallery descriptors at `stride`-byte steps; distances saturate at 255.
void hamming_to_many(const std::uint8_t* probe, const std::uint8_t* gallery, std::size_t stride,
                     int words, int count, int invert, int swap, std::uint8_t* out);
// The plain form of hamming_to_many (any number of words up to four), the
// reference its kernels are tested against.
void hamming_to_many_reference(const std::uint8_t* probe, const std::uint8_t* gallery,
                               std::size_t stride, int words, int count, int invert, int swap,
                               std::uint8_t* out);

// Lowers `bests` by the distances d of probe point `probe` to gallery
// points start, start+1, ...; on a gallery-side tie the later probe takes
// the point over only when `gallery_ties_replace`.
void update_bests(MatchBests& bests, std::uint32_t probe, std::uint32_t start,
                  std::span<const int> d, bool gallery_ties_replace);

// Null records or bests, or a probe or gallery run outside the records'
// points: ML_BAD_ARGUMENT.
int check_lists(std::uint32_t probe, std::uint32_t start, std::uint32_t count,
                const BlockRecord* a, const BlockRecord* b, const MatchBests* bests);

// The descriptor array that `record` holds for the type `type_id`, when
// that type's descriptors are `size` bytes; null otherwise. Two records
// need not list the same types in the same order (a stored view may carry
// a type the probe lacks), so arrays are paired by type, never by position.
const std::uint8_t* extension_array(const BlockRecord* record, std::uint32_t type_id,
                                    std::uint32_t size);

// Type 0x4's pair distance: modes 0, 0x80 and 64 only, no swap.
int desc4_pair_distance(int i, int j, int count, const std::uint8_t* a, const std::uint8_t* b,
                        int mode, int invert, std::uint8_t* out);

}  // namespace zyl::matchlib

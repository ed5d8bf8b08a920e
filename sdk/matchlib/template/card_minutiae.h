// Compact minutiae of card templates: the unit conversions between standard
// records (197 px/cm) and cards (100 px/cm, 64 directions), and the
// reduction of a card's minutiae to the number a matcher takes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "zylscan/matchlib_card.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int minutiae_conflict_distance(const CompactMinutia* minutiae, uint32_t count, uint8_t* out);

// Record coordinate (after the shift that keeps the span on the card) to card.
constexpr int card_coordinate(int v, int shift) { return ((v - shift) * 800 / 197 + 4) >> 3; }
// Card coordinate back to a record coordinate.
constexpr int record_coordinate(int card) { return (card * 197 + 50) / 100; }
// Type bits (in bits 7-6) and a 256-step direction to the card's third byte;
// directions 254 and 255 round to the full turn, angle 0.
constexpr std::uint8_t card_angle_byte(int type_bits, int direction) {
  const int angle = direction >= 254 ? 0 : ((direction & 255) + 2) >> 2;
  return static_cast<std::uint8_t>((type_bits & 0xC0) | angle);
}
// The card's third byte back to a 256-step direction (type bits dropped).
constexpr std::uint8_t record_direction(std::uint8_t card_byte) {
  return static_cast<std::uint8_t>(card_byte * 4);
}

// Conflict distances as minutiae_conflict_distance gives them.
std::vector<std::uint8_t> conflict_distances(std::span<const CompactMinutia> m);

// With maximum below the count: drops repeated positions, keeps the minutiae
// of the central band when still too many, then orders the minutiae without
// conflict first and the conflicting ones by distance, larger first. The
// caller hands out the first min(maximum, size) entries.
void reduce_compact_minutiae(std::vector<CompactMinutia>& m, std::size_t maximum);

}  // namespace zyl::matchlib

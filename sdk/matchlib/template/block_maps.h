// C1 block maps of the extended card template: the orientation and ridge
// frequency per cell, with an optional detail layer three times finer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>
#include "zylscan/matchlib_card_extended.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int gridmap_from_compact(const uint8_t* c1, uint32_t length, uint8_t** out_map, uint32_t* out_size,
                         int* out_vertical_origin, int* out_horizontal_origin, int* out_rows,
                         int* out_columns, int skip_detail, const uint8_t* trailing_byte,
                         const uint8_t* trailing4);

// Block maps as the card builders hand them over. The detail planes, when
// present, hold (3 x rows) x (3 x columns) values row-major.
struct BlockMaps {
  std::uint8_t cell_size = 0;
  std::int8_t vertical_origin = 0;
  std::int8_t horizontal_origin = 0;
  std::uint8_t rows = 0;
  std::uint8_t columns = 0;
  std::span<const std::uint8_t> orientation;  // rows x columns
  std::span<const std::uint8_t> frequency;    // rows x columns
  std::span<const std::uint8_t> detail_orientation;  // empty, or 9 x rows x columns
  std::span<const std::uint8_t> detail_frequency;
};

// Quantised difference of a detail value from its base cell (-2..2).
int quantise_detail_difference(int detail, int base);

// Prefix-codes the values (-2..2); nullopt for a value outside that range.
std::optional<std::vector<std::uint8_t>> diffcode_encode(std::span<const std::int8_t> values);
// Decodes up to count values from the bytes; stops early when the bytes run
// out, so the result may be shorter than count.
std::vector<std::int8_t> diffcode_decode(std::span<const std::uint8_t> bytes, std::size_t count);

// The C1 value: the base form, or the long form with a type-2 detail layer
// when the maps carry detail planes. Empty when the maps are inconsistent
// (spans of the wrong size) or a stream would exceed 8 x cells bytes.
std::vector<std::uint8_t> encode_block_maps(const BlockMaps& maps);

}  // namespace zyl::matchlib

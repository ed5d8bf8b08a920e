// The block-structured point record's readers with the descriptor types
// they may meet given explicitly. The exported readers pass the types the
// library carries (desc_types_select); these forms serve callers with a
// list of their own.
#pragma once

#include <cstdint>
#include <span>

#include "zylscan/matchlib_blockrec.h"

namespace zyl::matchlib {

using DescriptorTypes = std::span<const DescriptorType* const>;

int blockrec_parse_with(std::span<const std::uint8_t> data, int skip, int limit,
                        DescriptorTypes known, BlockRecord** out);
int blockrec_read_extensions_with(BlockRecord* record, std::span<const std::uint8_t> data,
                                  DescriptorTypes known);

}  // namespace zyl::matchlib

// The block-structured point record's readers with the descriptor types
// they may meet given explicitly. The exported readers pass the types the
// library carries (desc_types_select); these forms serve callers with a
// list of their own.
#pragma once

#include <cstdint>
#include <span>

#include "zylscan/matchlib_blockrec.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int blockrec_create(int height, int width, int capacity, const DescriptorType* const* types,
                    BlockRecord** out);
void blockrec_free(BlockRecord* record);
void blockrec_count_types(BlockRecord* record);
void blockrec_compact(BlockRecord* record);
void blockrec_keep_best(BlockRecord* record, int n);
int blockrec_write(const BlockRecord* record, uint8_t** out, uint32_t* size);
int blockrec_write_copy(const BlockRecord* record, uint8_t** out, uint32_t* size);
int blockrec_parse(const uint8_t* data, uint32_t length, int skip, int limit, BlockRecord** out);
int blockrec_read_points(const uint8_t* data, uint32_t length, uint8_t** out, int* count);
int blockrec_write_extensions(const BlockRecord* record, uint8_t** out, uint32_t* size);
int blockrec_read_extensions(BlockRecord* record, const uint8_t* data, uint32_t length);
void blockrec_copy_point_extensions(BlockRecord* record, const BlockRecord* other, int a, int b);

using DescriptorTypes = std::span<const DescriptorType* const>;

int blockrec_parse_with(std::span<const std::uint8_t> data, int skip, int limit,
                        DescriptorTypes known, BlockRecord** out);
int blockrec_read_extensions_with(BlockRecord* record, std::span<const std::uint8_t> data,
                                  DescriptorTypes known);

}  // namespace zyl::matchlib

// CRC-8 (polynomial 0xD5, initial value 0, MSB first, no final XOR), the
// C++ face of the exported CRC8_* family for the library's own code.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zyl::device {

// The 256-entry table: entry j is j shifted left eight times within 8 bits,
// with 0xD5 XORed in after each shift that pushes out a set top bit.
const std::array<std::uint8_t, 256>& crc8_table();

// Continues a CRC-8 from state over data; crc8(data) is the block checksum.
std::uint8_t crc8(std::span<const std::uint8_t> data, std::uint8_t state = 0);

}  // namespace zyl::device

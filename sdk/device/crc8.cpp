// CRC-8 table and the exported CRC8_* family.
#include "device/crc8.h"

#include "zylscan/crc8.h"

namespace zyl::device {
namespace {

constexpr std::uint8_t kPolynomial = 0xD5;

constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned j = 0; j < 256; ++j) {
    unsigned value = j;
    for (int bit = 0; bit < 8; ++bit)
      value = (value & 0x80) ? ((value << 1) ^ kPolynomial) & 0xFF : (value << 1) & 0xFF;
    table[j] = static_cast<std::uint8_t>(value);
  }
  return table;
}

// Built at compile time rather than by make_crc_table at run time: a caller
// that forgot to build the table would otherwise get 0 for every checksum
// (and accept any record whose check byte is 0), and concurrent callers
// would race on the table.
constexpr std::array<std::uint8_t, 256> kTable = make_table();

}  // namespace

const std::array<std::uint8_t, 256>& crc8_table() { return kTable; }

std::uint8_t crc8(std::span<const std::uint8_t> data, std::uint8_t state) {
  for (std::uint8_t byte : data) state = kTable[byte ^ state];
  return state;
}

}  // namespace zyl::device

namespace {

std::span<const std::uint8_t> as_bytes(const void* data, int length) {
  if (data == nullptr || length <= 0) return {};
  return {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length)};
}

}  // namespace

extern "C" {

ZYL_API void make_crc_table(void) {}

ZYL_API void CRC8_InitChecksum(uint8_t* state) {
  if (state) *state = 0;
}

ZYL_API void CRC8_Update(uint8_t* state, uint8_t value) {
  if (state) *state = zyl::device::crc8_table()[value ^ *state];
}

ZYL_API void CRC8_UpdateChecksum(uint8_t* state, const void* data, int length) {
  if (state) *state = zyl::device::crc8(as_bytes(data, length), *state);
}

ZYL_API void CRC8_FinishChecksum(uint8_t* /*state*/) {}

ZYL_API uint8_t CRC8_BlockChecksum(const void* data, int length) {
  return zyl::device::crc8(as_bytes(data, length));
}

}  // extern "C"

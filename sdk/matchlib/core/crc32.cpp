// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, initial value all
// ones, final complement), byte by byte through a 256-entry table.
#include <array>
#include <cstdint>

#include "zylscan/matchlib_blob.h"
#include "matchlib/core/crc32.h"

namespace zyl::matchlib {
namespace {

constexpr std::array<std::uint32_t, 256> make_table() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}

constexpr auto kTable = make_table();

}  // namespace
}  // namespace zyl::matchlib

void zyl::matchlib::crc32_init(uint32_t* state) {
  if (state) *state = 0xFFFFFFFFu;
}

void zyl::matchlib::crc32_update(const void* data, uint32_t length, uint32_t* state) {
  if (!data || !length || !state) return;
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = *state;
  for (uint32_t i = 0; i < length; ++i)
    c = (c >> 8) ^ zyl::matchlib::kTable[(c ^ p[i]) & 0xFF];
  *state = c;
}

uint32_t zyl::matchlib::crc32_final(const uint32_t* state) { return state ? ~*state : 0; }

uint32_t zyl::matchlib::crc32_compute(const void* data, uint32_t length) {
  if (!data || !length) return 0;
  uint32_t state;
  zyl::matchlib::crc32_init(&state);
  zyl::matchlib::crc32_update(data, length, &state);
  return zyl::matchlib::crc32_final(&state);
}

extern "C" {

ZYL_API void crc32_init(uint32_t* state) { zyl::matchlib::crc32_init(state); }
ZYL_API void crc32_update(const void* data, uint32_t length, uint32_t* state) {
  zyl::matchlib::crc32_update(data, length, state);
}
ZYL_API uint32_t crc32_final(const uint32_t* state) { return zyl::matchlib::crc32_final(state); }
ZYL_API uint32_t crc32_compute(const void* data, uint32_t length) {
  return zyl::matchlib::crc32_compute(data, length);
}

}  // extern "C"

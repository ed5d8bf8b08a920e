// Building BER-TLV byte strings by hand in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace zyl::test {

// One element: one- or two-byte tag, short or 0x81/0x82 length, the value.
inline std::vector<std::uint8_t> el(std::uint16_t tag, const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> out;
  if (tag > 0xFF) out.push_back(static_cast<std::uint8_t>(tag >> 8));
  out.push_back(static_cast<std::uint8_t>(tag));
  const std::size_t n = value.size();
  if (n < 128) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else if (n < 256) {
    out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
  }
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

// The parts one after another.
inline std::vector<std::uint8_t> cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace zyl::test

// Reading a serialised grid feature map (5B DA 02 ...): header, cells and
// the optional parts recognised by length, and the 12-bin orientation and
// value histograms both grid comparisons use.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zyl::matchlib::gridmap {

struct MapView {
  int columns = 0, rows = 0, cell = 0, resolution = 0;
  const uint8_t* cells = nullptr;
  const uint8_t* detail = nullptr;
  const uint8_t* element = nullptr;
  int quality = 0;
};

inline bool parse(const uint8_t* b, uint32_t len, MapView& m) {
  if (!b || len < 10 || b[0] != 0x5B || b[1] != 0xDA || b[2] != 0x02) return false;
  if (b[8] || b[9]) {
    uint8_t x = 0;
    for (uint32_t i = 0; i + 1 < len; ++i) x ^= b[i];
    if (x != b[len - 1]) return false;
  }
  m.cell = b[3];
  m.resolution = (b[4] << 8) | b[5];
  m.columns = b[6];
  m.rows = b[7];
  if (!m.cell || !m.resolution) return false;
  const uint32_t n = static_cast<uint32_t>(m.columns) * m.rows;
  if (len < 10 + 2 * n) return false;
  m.cells = b + 10;
  uint32_t rest = len - 10 - 2 * n;
  const uint8_t* at = m.cells + 2 * n;
  m.detail = m.element = nullptr;
  m.quality = 0;
  if (n && rest >= 18 * n) {
    m.detail = at;
    at += 18 * n;
    rest -= 18 * n;
  }
  if (rest >= 4) {
    m.element = at;
    at += 4;
    rest -= 4;
  }
  if (rest > 1) return false;
  if (rest == 1) m.quality = *at;
  return true;
}

inline int orientation_bin(int v) { return v > 241 ? 0 : (v + 10) / 21; }
inline int value_bin(int b) { return b > 182 ? 11 : std::max(0, (2 * b - 114) / 21); }

inline void histograms(const MapView& m, uint32_t* orient, uint32_t* value) {
  std::fill(orient, orient + 12, 0);
  std::fill(value, value + 12, 0);
  const int n = m.columns * m.rows;
  for (int k = 0; k < n; ++k) {
    const uint8_t* c = m.cells + 2 * k;
    if (!c[1]) continue;
    ++orient[orientation_bin(c[0])];
    ++value[value_bin(c[1])];
  }
}

inline uint32_t intersection(const uint32_t* h1, const uint32_t* h2, int k) {
  uint32_t sum = 0;
  for (int i = 0; i < 12; ++i) sum += std::min(h1[i], h2[(i + k) % 12]);
  return sum;
}

}  // namespace zyl::matchlib::gridmap

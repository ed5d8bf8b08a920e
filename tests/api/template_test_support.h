// Helpers shared by the template codec tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "zylscan/feature_record.h"

namespace zyl::test {

// Feature records are large (about 37 KB): keep them on the heap, zeroed,
// with an empty block grid.
inline std::unique_ptr<FeatureRecord> empty_record() {
  auto r = std::make_unique<FeatureRecord>();
  std::memset(r.get(), 0, sizeof(FeatureRecord));
  std::memset(r->blockDirections, 255, sizeof r->blockDirections);
  return r;
}

inline void add_minutia(FeatureRecord& r, int x, int y, int angle, int type = 0,
                        int curvature = 255) {
  const int i = r.minutiaCount++;
  r.minutiaX[i] = x;
  r.minutiaY[i] = y;
  r.minutiaAngle[i] = angle;
  r.minutiaType[i] = type;
  r.minutiaCurvature[i] = curvature;
}

inline void add_singular(FeatureRecord& r, int x, int y, int angle, int kind) {
  const int i = r.singularCount++;
  r.singularX[i] = x;
  r.singularY[i] = y;
  r.singularAngle[i] = angle;
  r.singularKind[i] = kind;
}

// Minutia word of a native template (little-endian in the template).
inline uint32_t nuvel_word(uint32_t dx, uint32_t dy, uint32_t code, uint32_t angle) {
  return dx << 21 | dy << 10 | code << 8 | angle;
}

inline void put_le32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Header of a native template: flags, border density, origin, count.
inline std::vector<uint8_t> nuvel_header(uint8_t flags, uint8_t border, int originX, int originY,
                                         uint16_t count) {
  const uint32_t origin = uint32_t(originY + 2048) | uint32_t(originX + 2048) << 12;
  return {flags, border, uint8_t(origin), uint8_t(origin >> 8), uint8_t(origin >> 16),
          uint8_t(count), uint8_t(count >> 8)};
}

}  // namespace zyl::test

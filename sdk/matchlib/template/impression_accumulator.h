// What the accumulator's parts share inside the library.
#pragma once

#include <cstddef>

#include "zylscan/matchlib_accum.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
AccumState* accum_state_create(uint32_t size);
AccumState* accum_state_retain(AccumState* s);
void accum_state_release(AccumState* s);
ImpressionAccumulator* accum_create_sized(uint16_t height, uint16_t width);
ImpressionAccumulator* accum_create(const GrayImage* image);
void accum_release(ImpressionAccumulator* a);
int accum_reset(ImpressionAccumulator* a);
uint32_t accum_write(uint8_t* out, const ImpressionAccumulator* a);
int accum_serialize(const ImpressionAccumulator* a, AccumState** out, uint32_t* out_size);
int accum_parse(const uint8_t* bytes, uint32_t length, ImpressionAccumulator** out);
ImpressionAccumulator* accum_copy(const ImpressionAccumulator* a);
int accum_map_statistics(const MatchContext* ctx, const uint8_t* map, int height, int width,
                         uint16_t out[4]);

inline std::size_t accum_area(const ImpressionAccumulator& a) {
  return static_cast<std::size_t>(a.height) * a.width;
}

// Creates whichever of the count map and the mean image is missing, zeroed:
// 0 or 9.
int accum_ensure_maps(ImpressionAccumulator& a);

}  // namespace zyl::matchlib

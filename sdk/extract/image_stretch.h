// The nearest-neighbour sampling shared by the resampling routines, whatever
// their source and destination storage.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "zylscan/image_stretch.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t StretchImageToLinear(int32_t source_width, int32_t source_height, ByteImage source, int32_t destination_width,
                             int32_t destination_height, uint8_t* destination);
int32_t StretchImageFromLinear(int32_t source_width, int32_t source_height, const uint8_t* source,
                               int32_t destination_width, int32_t destination_height, ByteImage destination);

}  // namespace zyl::api

namespace zyl::api {

// Destination pixel (i, j) of dw x dh takes source pixel (sh x i / dh,
// sw x j / dw). source_row(r) and destination_row(r) give row pointers.
// Sizes must be positive.
template <class SourceRow, class DestinationRow>
void stretch_nearest(std::int32_t sw, std::int32_t sh, SourceRow&& source_row, std::int32_t dw, std::int32_t dh,
                     DestinationRow&& destination_row) {
  if (sw == dw) {
    for (std::int32_t i = 0; i < dh; ++i)
      std::memcpy(destination_row(i), source_row(static_cast<std::int64_t>(sh) * i / dh),
                  static_cast<std::size_t>(dw));
    return;
  }
  std::vector<std::int32_t> column(static_cast<std::size_t>(dw));
  for (std::int32_t j = 0; j < dw; ++j) column[j] = static_cast<std::int32_t>(static_cast<std::int64_t>(sw) * j / dw);
  for (std::int32_t i = 0; i < dh; ++i) {
    const std::uint8_t* in = source_row(static_cast<std::int64_t>(sh) * i / dh);
    std::uint8_t* out = destination_row(i);
    for (std::int32_t j = 0; j < dw; ++j) out[j] = in[column[j]];
  }
}

// Both buffers present and both sizes positive.
template <class Source, class Destination>
bool stretch_arguments_valid(const Source& source, std::int32_t sw, std::int32_t sh, const Destination& destination,
                             std::int32_t dw, std::int32_t dh) {
  return source && destination && sw > 0 && sh > 0 && dw > 0 && dh > 0;
}

}  // namespace zyl::api

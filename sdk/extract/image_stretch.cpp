// Nearest-neighbour resampling into and out of ByteImage rows.
#include "extract/image_stretch.h"

#include "zylscan/image_stretch.h"

int32_t zyl::api::StretchImageFromLinear(int32_t source_width, int32_t source_height, const uint8_t* source,
                                         int32_t destination_width, int32_t destination_height, ByteImage destination) {
  if (!source || !destination || source_width <= 0 || source_height <= 0 || destination_width <= 0 ||
      destination_height <= 0)
    return 0;
  zyl::api::stretch_nearest(
      source_width, source_height, [&](std::int64_t row) { return source + row * source_width; }, destination_width,
      destination_height, [&](std::int32_t row) { return destination[row]; });
  return destination_height;
}

int32_t zyl::api::StretchImageToLinear(int32_t source_width, int32_t source_height, ByteImage source,
                                       int32_t destination_width, int32_t destination_height, uint8_t* destination) {
  if (!zyl::api::stretch_arguments_valid(source, source_width, source_height, destination, destination_width,
                                         destination_height))
    return 0;
  zyl::api::stretch_nearest(
      source_width, source_height, [&](std::int64_t row) { return source[row]; }, destination_width, destination_height,
      [&](std::int32_t row) { return destination + std::int64_t{row} * destination_width; });
  return destination_height;
}

extern "C" ZYL_API int32_t StretchImage(int32_t source_width, int32_t source_height, ByteImage source,
                                        int32_t destination_width, int32_t destination_height, ByteImage destination) {
  if (!zyl::api::stretch_arguments_valid(source, source_width, source_height, destination, destination_width,
                                         destination_height))
    return 0;
  zyl::api::stretch_nearest(
      source_width, source_height, [&](std::int64_t row) { return source[row]; }, destination_width, destination_height,
      [&](std::int32_t row) { return destination[row]; });
  return destination_height;
}

extern "C" ZYL_API int32_t StretchLinearImage(int32_t source_width, int32_t source_height, const uint8_t* source,
                                              int32_t destination_width, int32_t destination_height,
                                              uint8_t* destination) {
  if (!zyl::api::stretch_arguments_valid(source, source_width, source_height, destination, destination_width,
                                         destination_height))
    return 0;
  zyl::api::stretch_nearest(
      source_width, source_height, [&](std::int64_t row) { return source + row * source_width; }, destination_width,
      destination_height, [&](std::int32_t row) { return destination + std::int64_t{row} * destination_width; });
  return destination_height;
}

extern "C" {

ZYL_API int32_t StretchImageFromLinear(int32_t source_width, int32_t source_height, const uint8_t* source,
                                       int32_t destination_width, int32_t destination_height, ByteImage destination) {
  return zyl::api::StretchImageFromLinear(source_width, source_height, source, destination_width, destination_height,
                                          destination);
}
ZYL_API int32_t StretchImageToLinear(int32_t source_width, int32_t source_height, ByteImage source,
                                     int32_t destination_width, int32_t destination_height, uint8_t* destination) {
  return zyl::api::StretchImageToLinear(source_width, source_height, source, destination_width, destination_height,
                                        destination);
}

}  // extern "C"

// Internal face of the grey image object: its record and C++ helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/finger_info.h"
#include "matchlib/core/ref.h"
#include "matchlib/image/mask_plane.h"
#include "zylscan/matchlib_image.h"

// The nine cached whole-image statistics, -1 until computed.
struct ImageStatistics {
  std::int32_t quality;
  std::int32_t foreground_area;
  std::int32_t foreground_percent;
  std::int32_t bright_percent;
  std::int32_t block_contrast;
  std::int32_t contrast_first;
  std::int32_t contrast_second;
  std::int32_t block_range_mean;
  std::int32_t laplacian_spread;
};

inline constexpr ImageStatistics kUnsetStatistics{-1, -1, -1, -1, -1, -1, -1, -1, -1};

struct GrayImage {
  std::int32_t refcount;
  std::uint8_t* pixels;
  std::uint16_t height;
  std::uint16_t width;
  std::uint16_t resolution_y;
  std::uint16_t resolution_x;
  MaskPlane* mask;
  std::uint32_t flag_word;
  SourceWindow* source_window;
  FingerInfo* finger_info;
  std::int32_t impression_type;
  ImageStatistics stats;
  std::int16_t stored_quality;
  std::uint8_t property_byte;
  MaskSettings mask_settings;
  std::int32_t region_built;
  std::int32_t background_built;
  std::uint32_t keep_map_flags;
  std::uint8_t* kept_map_10;
  std::uint8_t* kept_map_02;
  std::uint8_t* kept_map_04;
  std::uint8_t* kept_map_08;
  std::uint8_t borrowed;
  std::int32_t capacity;
  std::int32_t read_only;
  std::int32_t lifecycle;
  ImageUserRelease user_release;
  void* user_data;
  void (*destroy)(GrayImage*);
};

namespace zyl::matchlib {

template <>
struct RefTraits<GrayImage> {
  static void retain(GrayImage* i) { image_retain(i); }
  static void release(GrayImage* i) { image_release(i); }
};

inline std::size_t pixel_count(const GrayImage* i) {
  return i ? std::size_t{i->height} * i->width : 0;
}

inline std::span<std::uint8_t> pixel_span(const GrayImage* i) {
  return i && i->pixels ? std::span<std::uint8_t>(i->pixels, pixel_count(i))
                        : std::span<std::uint8_t>{};
}

// True when the sizes fit the record: every dimension 0..65535 and the pixel
// count below 2^31 (the capacity is a signed 32-bit field).
bool image_dimensions_fit(int height, int width, int resolution_y, int resolution_x);

}  // namespace zyl::matchlib

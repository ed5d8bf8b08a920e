// Internal face of the grey image object: its record and C++ helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/finger_info.h"
#include "matchlib/core/ref.h"
#include "matchlib/image/mask_plane.h"
#include "zylscan/matchlib_image.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

GrayImage* image_create_general(int height, int width, int resolution_y, int resolution_x,
                                uint8_t* pixels, int impression_type, int32_t capacity,
                                int read_only, ImageUserRelease release, void* user, int copy);
GrayImage* image_wrap_general(int height, int width, int resolution_y, int resolution_x,
                              uint8_t* pixels, int impression_type, int32_t capacity, int writable,
                              ImageUserRelease release, void* user);
GrayImage* image_create(int height, int width, int resolution_y, int resolution_x,
                        const uint8_t* pixels, int impression_type);
GrayImage* image_copy_header(const GrayImage* image);
GrayImage* image_clone(const GrayImage* image);
GrayImage* image_retain(GrayImage* image);
void image_release(GrayImage* image);
void image_destroy(GrayImage* image);
int image_height(const GrayImage* image);
int image_width(const GrayImage* image);
uint32_t image_pixel_count(const GrayImage* image);
int image_resolution_y(const GrayImage* image);
int image_resolution_x(const GrayImage* image);
int image_resolution(const GrayImage* image);
int image_impression_type(const GrayImage* image);
uint8_t* image_pixels(const GrayImage* image);
MaskPlane* image_mask_plane(const GrayImage* image);
MaskPlane* image_mask_plane_ensure(GrayImage* image);
void image_set_mask_plane(GrayImage* image, MaskPlane* plane);
uint32_t image_flag_word(const GrayImage* image);
int image_property_byte(const GrayImage* image);
int image_set_property_byte(GrayImage* image, int value);
FingerInfo* image_finger_info(const GrayImage* image);
uint16_t image_stored_quality(const GrayImage* image);
void image_set_stored_quality(GrayImage* image, uint16_t value);
int image_is_writable(const GrayImage* image);
int image_usable_mask_bytes(const GrayImage* image, uint8_t** out_map);
int image_background_percent(const GrayImage* image);
int image_mask_bit40_percent(const GrayImage* image);
int image_usable_percent(const GrayImage* image);
void image_mark_releasable(GrayImage* image);
int image_release_pixels(GrayImage* image, ImageUserRelease deallocator);

}  // namespace zyl::matchlib

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
  static void retain(GrayImage* i) { zyl::matchlib::image_retain(i); }
  static void release(GrayImage* i) { zyl::matchlib::image_release(i); }
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

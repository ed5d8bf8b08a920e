// The grey image object: construction, reference counting, accessors, the
// percentages its mask plane reports for it, and the lifecycle that lets an
// image hand its pixels back early.
#include "matchlib/core/allocation.h"
#include "matchlib/image/grey_image.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/image/reorient.h"

namespace zyl::matchlib {

bool image_dimensions_fit(int height, int width, int resolution_y, int resolution_x) {
  auto fits16 = [](int v) { return v >= 0 && v <= 0xFFFF; };
  if (!fits16(height) || !fits16(width) || !fits16(resolution_y) || !fits16(resolution_x))
    return false;
  return static_cast<long long>(height) * width <= INT32_MAX;
}

namespace {

GrayImage* new_record(int height, int width, int resolution_y, int resolution_x,
                      int impression_type) {
  auto* img = static_cast<GrayImage*>(ml_calloc(1, sizeof(GrayImage)));
  if (!img) return nullptr;
  img->refcount = 1;
  img->height = static_cast<std::uint16_t>(height);
  img->width = static_cast<std::uint16_t>(width);
  img->resolution_y = static_cast<std::uint16_t>(resolution_y);
  img->resolution_x = static_cast<std::uint16_t>(resolution_x);
  img->impression_type = impression_type;
  img->stats = kUnsetStatistics;
  img->stored_quality = -1;
  img->capacity = static_cast<std::int32_t>(pixel_count(img));
  img->destroy = ::image_destroy;
  return img;
}

SourceWindow* copy_window(const SourceWindow* w, bool& failed) {
  failed = false;
  if (!w) return nullptr;
  auto* c = static_cast<SourceWindow*>(ml_malloc(sizeof(SourceWindow)));
  if (!c) {
    failed = true;
    return nullptr;
  }
  *c = *w;
  return c;
}

// Copies what every derived image takes over from its source: the window
// and finger information as copies, attributes and cached values as they
// are. The caller adds pixels and mask.
bool copy_attributes(const GrayImage* src, GrayImage* dst) {
  dst->flag_word = src->flag_word;
  dst->stats = src->stats;
  dst->stored_quality = src->stored_quality;
  dst->property_byte = src->property_byte;
  dst->mask_settings = src->mask_settings;
  dst->region_built = src->region_built;
  dst->background_built = src->background_built;
  bool failed = false;
  dst->source_window = copy_window(src->source_window, failed);
  if (failed) return false;
  if (src->finger_info) {
    dst->finger_info = zyl::matchlib::finger_info_copy(src->finger_info);
    if (!dst->finger_info) return false;
  }
  return true;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

GrayImage* zyl::matchlib::image_create_general(int height, int width, int resolution_y,
                                               int resolution_x, uint8_t* pixels,
                                               int impression_type, int32_t capacity, int read_only,
                                               ImageUserRelease release, void* user, int copy) {
  if (!image_dimensions_fit(height, width, resolution_y, resolution_x)) return nullptr;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  if (capacity == 0) capacity = static_cast<std::int32_t>(n);
  if (capacity < 0 || static_cast<std::size_t>(capacity) < n) return nullptr;
  GrayImage* img = new_record(height, width, resolution_y, resolution_x, impression_type);
  if (!img) return nullptr;
  img->capacity = capacity;
  if (copy) {
    // malloc(0) may answer null; an empty image still gets a buffer.
    img->pixels = static_cast<std::uint8_t*>(ml_malloc(capacity ? capacity : 1));
    if (!img->pixels) {
      zyl::matchlib::image_destroy(img);
      return nullptr;
    }
    std::memset(img->pixels, 255, capacity);
    if (pixels && n) std::memcpy(img->pixels, pixels, n);
    img->borrowed = 0;
  } else {
    img->pixels = pixels;
    img->borrowed = 1;
  }
  img->read_only = read_only;
  img->user_release = release;
  img->user_data = user;
  return img;
}

GrayImage* zyl::matchlib::image_wrap_general(int height, int width, int resolution_y,
                                             int resolution_x, uint8_t* pixels, int impression_type,
                                             int32_t capacity, int writable,
                                             ImageUserRelease release, void* user) {
  return zyl::matchlib::image_create_general(height, width, resolution_y, resolution_x, pixels,
                                             impression_type, capacity, writable ? 0 : 1, release,
                                             user, 0);
}

GrayImage* zyl::matchlib::image_create(int height, int width, int resolution_y, int resolution_x,
                                       const uint8_t* pixels, int impression_type) {
  return zyl::matchlib::image_create_general(height, width, resolution_y, resolution_x,
                                             const_cast<uint8_t*>(pixels), impression_type, 0, 0,
                                             nullptr, nullptr, 1);
}

extern "C" ZYL_API GrayImage* image_wrap(int height, int width, int resolution_y, int resolution_x,
                                         uint8_t* pixels, int impression_type) {
  return zyl::matchlib::image_wrap_general(height, width, resolution_y, resolution_x, pixels,
                                           impression_type, 0, 0, nullptr, nullptr);
}

extern "C" ZYL_API GrayImage* image_create_with_mask(int height, int width, int resolution_y,
                                                     int resolution_x, const uint8_t* pixels,
                                                     int impression_type, MaskPlane* mask) {
  // A plane must cover the image cell for cell; another size is refused
  // rather than letting every later mask read run past the plane.
  if (mask && (mask->height != height || mask->width != width)) return nullptr;
  GrayImage* img = zyl::matchlib::image_create(height, width, resolution_y, resolution_x, pixels,
                                               impression_type);
  if (img) img->mask = zyl::matchlib::mask_retain(mask);
  return img;
}

extern "C" ZYL_API GrayImage* image_create_oriented(int height, int width, int resolution_y,
                                                    int resolution_x, const uint8_t* pixels,
                                                    int impression_type, int orientation) {
  const bool quarter =
      orientation == IMG_ORIENT_QUARTER_CW || orientation == IMG_ORIENT_QUARTER_CCW;
  GrayImage* img = quarter ? zyl::matchlib::image_create(width, height, resolution_x, resolution_y,
                                                         nullptr, impression_type)
                           : zyl::matchlib::image_create(height, width, resolution_y, resolution_x,
                                                         nullptr, impression_type);
  if (img && pixels && pixel_count(img))
    zyl::matchlib::img_flip_rotate_u8(pixels, height, width, orientation, img->pixels);
  return img;
}

GrayImage* zyl::matchlib::image_copy_header(const GrayImage* image) {
  if (!image) return nullptr;
  GrayImage* img = new_record(image->height, image->width, image->resolution_y,
                              image->resolution_x, image->impression_type);
  if (!img) return nullptr;
  if (!copy_attributes(image, img)) {
    zyl::matchlib::image_destroy(img);
    return nullptr;
  }
  return img;
}

GrayImage* zyl::matchlib::image_clone(const GrayImage* image) {
  if (!image) return nullptr;
  GrayImage* img = zyl::matchlib::image_copy_header(image);
  if (!img) return nullptr;
  const std::size_t n = pixel_count(image);
  img->pixels = static_cast<std::uint8_t*>(ml_malloc(n ? n : 1));
  if (!img->pixels) {
    zyl::matchlib::image_destroy(img);
    return nullptr;
  }
  // An image whose pixels were handed back clones as white.
  if (image->pixels)
    std::memcpy(img->pixels, image->pixels, n);
  else
    std::memset(img->pixels, 255, n);
  if (image->mask) {
    img->mask = zyl::matchlib::mask_clone(image->mask);
    if (!img->mask) {
      zyl::matchlib::image_destroy(img);
      return nullptr;
    }
  }
  return img;
}

GrayImage* zyl::matchlib::image_retain(GrayImage* image) {
  if (image) ++image->refcount;
  return image;
}

void zyl::matchlib::image_release(GrayImage* image) {
  if (!image) return;
  if (image->refcount <= 1) {
    if (image->destroy) image->destroy(image);
    return;
  }
  --image->refcount;
}

void zyl::matchlib::image_destroy(GrayImage* image) {
  if (!image) return;
  if (image->user_release) image->user_release(image->user_data);
  if (!image->borrowed) std::free(image->pixels);
  zyl::matchlib::mask_release(image->mask);
  zyl::matchlib::finger_info_release(image->finger_info);
  std::free(image->source_window);
  std::free(image->kept_map_10);
  std::free(image->kept_map_02);
  std::free(image->kept_map_04);
  std::free(image->kept_map_08);
  std::free(image);
}

extern "C" ZYL_API int32_t object_refcount(const void* object) {
  if (!object) return 0;
  std::int32_t count;
  std::memcpy(&count, object, sizeof count);
  return count;
}

int zyl::matchlib::image_height(const GrayImage* image) { return image ? image->height : 0; }
int zyl::matchlib::image_width(const GrayImage* image) { return image ? image->width : 0; }
uint32_t zyl::matchlib::image_pixel_count(const GrayImage* image) {
  return static_cast<uint32_t>(pixel_count(image));
}
extern "C" ZYL_API int32_t image_capacity(const GrayImage* image) {
  if (!image) return 0;
  return image->capacity ? image->capacity : static_cast<int32_t>(pixel_count(image));
}
int zyl::matchlib::image_resolution_y(const GrayImage* image) {
  return image ? image->resolution_y : 0;
}
int zyl::matchlib::image_resolution_x(const GrayImage* image) {
  return image ? image->resolution_x : 0;
}
int zyl::matchlib::image_resolution(const GrayImage* image) {
  return image && image->resolution_y == image->resolution_x ? image->resolution_y : 0;
}
int zyl::matchlib::image_impression_type(const GrayImage* image) {
  return image ? image->impression_type : IMAGE_NULL_IMPRESSION_TYPE;
}
uint8_t* zyl::matchlib::image_pixels(const GrayImage* image) {
  return image ? image->pixels : nullptr;
}
MaskPlane* zyl::matchlib::image_mask_plane(const GrayImage* image) {
  return image ? image->mask : nullptr;
}

MaskPlane* zyl::matchlib::image_mask_plane_ensure(GrayImage* image) {
  if (!image) return nullptr;
  if (!image->mask) image->mask = zyl::matchlib::mask_create(image->height, image->width);
  return image->mask;
}

void zyl::matchlib::image_set_mask_plane(GrayImage* image, MaskPlane* plane) {
  if (!image) return;
  // See image_create_with_mask: a plane of another size is refused.
  if (plane && (plane->height != image->height || plane->width != image->width)) return;
  zyl::matchlib::mask_retain(plane);
  zyl::matchlib::mask_release(image->mask);
  image->mask = plane;
}

uint32_t zyl::matchlib::image_flag_word(const GrayImage* image) {
  return image ? image->flag_word : 0;
}
extern "C" ZYL_API void image_set_flag_word(GrayImage* image, uint32_t value) {
  if (image) image->flag_word = value;
}
int zyl::matchlib::image_property_byte(const GrayImage* image) {
  return image ? image->property_byte : 0;
}
int zyl::matchlib::image_set_property_byte(GrayImage* image, int value) {
  if (!image) return 0;
  if (value < 0 || value >= 32) return 1;
  image->property_byte = static_cast<std::uint8_t>(value);
  return 0;
}

FingerInfo* zyl::matchlib::image_finger_info(const GrayImage* image) {
  return image && image->finger_info ? image->finger_info : zyl::matchlib::finger_info_default();
}

extern "C" ZYL_API FingerInfo* image_set_finger_info(GrayImage* image, FingerInfo* info) {
  if (!image) return info;
  zyl::matchlib::finger_info_retain(info);
  zyl::matchlib::finger_info_release(image->finger_info);
  image->finger_info = info;
  return info;
}

uint16_t zyl::matchlib::image_stored_quality(const GrayImage* image) {
  return image ? static_cast<uint16_t>(image->stored_quality) : 0;
}
void zyl::matchlib::image_set_stored_quality(GrayImage* image, uint16_t value) {
  if (image) image->stored_quality = static_cast<int16_t>(value);
}
int zyl::matchlib::image_is_writable(const GrayImage* image) {
  return image && !image->read_only ? 1 : 0;
}
extern "C" ZYL_API void image_set_writable(GrayImage* image, int writable) {
  if (image) image->read_only = writable ? 0 : 1;
}

int zyl::matchlib::image_usable_mask_bytes(const GrayImage* image, uint8_t** out_map) {
  if (!image) return ML_OK;
  if (!out_map) return ML_BAD_ARGUMENT;
  *out_map = nullptr;
  const std::size_t n = pixel_count(image);
  auto* map = static_cast<std::uint8_t*>(ml_malloc(n ? n : 1));
  if (!map) return ML_NO_MEMORY;
  if (image->mask)
    zyl::matchlib::mask_to_valid_bytes(image->mask, map);
  else
    std::memset(map, 255, n);
  *out_map = map;
  return ML_OK;
}

int zyl::matchlib::image_background_percent(const GrayImage* image) {
  return image ? zyl::matchlib::mask_bits_percent_in_region(image->mask,
                                                            MASK_BACKGROUND | MASK_OUTSIDE_SOURCE)
               : 0;
}

int zyl::matchlib::image_mask_bit40_percent(const GrayImage* image) {
  return image ? zyl::matchlib::mask_bits_percent_in_region(image->mask, MASK_ACCUMULATOR_STRONG)
               : 0;
}

int zyl::matchlib::image_usable_percent(const GrayImage* image) {
  return image ? zyl::matchlib::mask_valid_percent(image->mask) : 0;
}

extern "C" ZYL_API int image_begin_use(GrayImage* image) {
  if (!image) return 0;
  const int previous = image->lifecycle;
  if (previous == IMAGE_STATE_NEW) image->lifecycle = IMAGE_STATE_IN_USE;
  return previous;
}

extern "C" ZYL_API int image_end_use(GrayImage* image) {
  if (!image) return 0;
  const int previous = image->lifecycle;
  if (previous == IMAGE_STATE_IN_USE) image->lifecycle = IMAGE_STATE_FINISHED;
  return previous;
}

void zyl::matchlib::image_mark_releasable(GrayImage* image) {
  if (image) image->lifecycle = IMAGE_STATE_FINISHED;
}

extern "C" ZYL_API int image_is_finished(const GrayImage* image) {
  return image && image->lifecycle == IMAGE_STATE_FINISHED ? 1 : 0;
}

int zyl::matchlib::image_release_pixels(GrayImage* image, ImageUserRelease deallocator) {
  if (!image || image->refcount != 1 || image->lifecycle != IMAGE_STATE_FINISHED) return 0;
  zyl::matchlib::mask_release(image->mask);
  image->mask = nullptr;
  if (!image->pixels) return 0;
  if (deallocator) {
    // The caller takes the buffer over: it must name the routine that
    // would have freed it.
    if (image->borrowed) {
      if (deallocator != image->user_release || image->pixels != image->user_data) return 0;
      image->user_release = nullptr;
    } else if (deallocator != static_cast<ImageUserRelease>(std::free)) {
      return 0;
    }
  } else if (image->borrowed) {
    if (!image->user_release) return 0;
    image->user_release(image->user_data);
    image->user_release = nullptr;
  } else {
    std::free(image->pixels);
  }
  image->pixels = nullptr;
  return 1;
}

extern "C" {

ZYL_API GrayImage* image_create_general(int height, int width, int resolution_y, int resolution_x,
                                        uint8_t* pixels, int impression_type, int32_t capacity,
                                        int read_only, ImageUserRelease release, void* user,
                                        int copy) {
  return zyl::matchlib::image_create_general(height, width, resolution_y, resolution_x, pixels,
                                             impression_type, capacity, read_only, release, user,
                                             copy);
}
ZYL_API GrayImage* image_wrap_general(int height, int width, int resolution_y, int resolution_x,
                                      uint8_t* pixels, int impression_type, int32_t capacity,
                                      int writable, ImageUserRelease release, void* user) {
  return zyl::matchlib::image_wrap_general(height, width, resolution_y, resolution_x, pixels,
                                           impression_type, capacity, writable, release, user);
}
ZYL_API GrayImage* image_create(int height, int width, int resolution_y, int resolution_x,
                                const uint8_t* pixels, int impression_type) {
  return zyl::matchlib::image_create(height, width, resolution_y, resolution_x, pixels,
                                     impression_type);
}
ZYL_API GrayImage* image_copy_header(const GrayImage* image) {
  return zyl::matchlib::image_copy_header(image);
}
ZYL_API GrayImage* image_clone(const GrayImage* image) { return zyl::matchlib::image_clone(image); }
ZYL_API GrayImage* image_retain(GrayImage* image) { return zyl::matchlib::image_retain(image); }
ZYL_API void image_release(GrayImage* image) { zyl::matchlib::image_release(image); }
ZYL_API void image_destroy(GrayImage* image) { zyl::matchlib::image_destroy(image); }
ZYL_API int image_height(const GrayImage* image) { return zyl::matchlib::image_height(image); }
ZYL_API int image_width(const GrayImage* image) { return zyl::matchlib::image_width(image); }
ZYL_API uint32_t image_pixel_count(const GrayImage* image) {
  return zyl::matchlib::image_pixel_count(image);
}
ZYL_API int image_resolution_y(const GrayImage* image) {
  return zyl::matchlib::image_resolution_y(image);
}
ZYL_API int image_resolution_x(const GrayImage* image) {
  return zyl::matchlib::image_resolution_x(image);
}
ZYL_API int image_resolution(const GrayImage* image) {
  return zyl::matchlib::image_resolution(image);
}
ZYL_API int image_impression_type(const GrayImage* image) {
  return zyl::matchlib::image_impression_type(image);
}
ZYL_API uint8_t* image_pixels(const GrayImage* image) { return zyl::matchlib::image_pixels(image); }
ZYL_API MaskPlane* image_mask_plane(const GrayImage* image) {
  return zyl::matchlib::image_mask_plane(image);
}
ZYL_API MaskPlane* image_mask_plane_ensure(GrayImage* image) {
  return zyl::matchlib::image_mask_plane_ensure(image);
}
ZYL_API void image_set_mask_plane(GrayImage* image, MaskPlane* plane) {
  zyl::matchlib::image_set_mask_plane(image, plane);
}
ZYL_API uint32_t image_flag_word(const GrayImage* image) {
  return zyl::matchlib::image_flag_word(image);
}
ZYL_API int image_property_byte(const GrayImage* image) {
  return zyl::matchlib::image_property_byte(image);
}
ZYL_API int image_set_property_byte(GrayImage* image, int value) {
  return zyl::matchlib::image_set_property_byte(image, value);
}
ZYL_API FingerInfo* image_finger_info(const GrayImage* image) {
  return zyl::matchlib::image_finger_info(image);
}
ZYL_API uint16_t image_stored_quality(const GrayImage* image) {
  return zyl::matchlib::image_stored_quality(image);
}
ZYL_API void image_set_stored_quality(GrayImage* image, uint16_t value) {
  zyl::matchlib::image_set_stored_quality(image, value);
}
ZYL_API int image_is_writable(const GrayImage* image) {
  return zyl::matchlib::image_is_writable(image);
}
ZYL_API int image_usable_mask_bytes(const GrayImage* image, uint8_t** out_map) {
  return zyl::matchlib::image_usable_mask_bytes(image, out_map);
}
ZYL_API int image_background_percent(const GrayImage* image) {
  return zyl::matchlib::image_background_percent(image);
}
ZYL_API int image_mask_bit40_percent(const GrayImage* image) {
  return zyl::matchlib::image_mask_bit40_percent(image);
}
ZYL_API int image_usable_percent(const GrayImage* image) {
  return zyl::matchlib::image_usable_percent(image);
}
ZYL_API void image_mark_releasable(GrayImage* image) {
  zyl::matchlib::image_mark_releasable(image);
}
ZYL_API int image_release_pixels(GrayImage* image, ImageUserRelease deallocator) {
  return zyl::matchlib::image_release_pixels(image, deallocator);
}

}  // extern "C"

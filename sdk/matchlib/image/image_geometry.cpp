// Images derived by geometry: resized and resampled copies, windows that
// remember where they came from, centred and foreground crops, extensions,
// framed copies, and the source window itself.
#include "matchlib/core/allocation.h"
#include "matchlib/image/image_geometry.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "zylscan/matchlib_drawing.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_segmentation.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/image/border_extend.h"
#include "matchlib/image/drawing.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/image/region_tools.h"
#include "matchlib/image/rescale.h"
#include "matchlib/image/segmentation.h"
#include "matchlib/image/window_copy.h"

namespace zyl::matchlib {

GrayImage* derive_with_pixels(const GrayImage* src, int height, int width) {
  if (!src || !image_dimensions_fit(height, width, 0, 0)) return nullptr;
  GrayImage* img = zyl::matchlib::image_copy_header(src);
  if (!img) return nullptr;
  img->height = static_cast<std::uint16_t>(height);
  img->width = static_cast<std::uint16_t>(width);
  img->capacity = static_cast<std::int32_t>(pixel_count(img));
  img->pixels = static_cast<std::uint8_t*>(ml_malloc(pixel_count(img) ? pixel_count(img) : 1));
  if (!img->pixels) {
    zyl::matchlib::image_destroy(img);
    return nullptr;
  }
  return img;
}

GrayImage* create_like(const GrayImage* src, const std::uint8_t* pixels) {
  return zyl::matchlib::image_create_general(src->height, src->width, src->resolution_y,
                                             src->resolution_x, const_cast<std::uint8_t*>(pixels),
                                             src->impression_type, 0, 0, nullptr, nullptr, 1);
}

namespace {

bool fits16s(long long v) { return v >= INT16_MIN && v <= INT16_MAX; }

// Scales a length along one axis: (old x new + old dimension / 2) / old.
long long scale_axis(long long value, int new_dim, int old_dim) {
  return old_dim ? (value * new_dim + old_dim / 2) / old_dim : value;
}

void release_source(void* user) { zyl::matchlib::image_release(static_cast<GrayImage*>(user)); }

// Sets the window a derived image has in its source's source: offsets
// (row, column) relative to `src`. False when the offsets do not fit.
bool place_window(GrayImage* img, const GrayImage* src, long long row, long long column) {
  SourceWindow w{};
  if (src->source_window) {
    w.source_height = src->source_window->source_height;
    w.source_width = src->source_window->source_width;
    row += src->source_window->row_offset;
    column += src->source_window->column_offset;
  } else {
    w.source_height = src->height;
    w.source_width = src->width;
  }
  if (!fits16s(row) || !fits16s(column)) return false;
  w.height = img->height;
  w.width = img->width;
  w.row_offset = static_cast<std::int16_t>(row);
  w.column_offset = static_cast<std::int16_t>(column);
  if (!img->source_window) {
    img->source_window = static_cast<SourceWindow*>(ml_malloc(sizeof(SourceWindow)));
    if (!img->source_window) return false;
  }
  *img->source_window = w;
  return true;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

MaskPlane* zyl::matchlib::mask_resize(const MaskPlane* plane, int height, int width) {
  if (!plane || !plane->cells) return nullptr;
  MaskPlane* m = zyl::matchlib::mask_create(height, width);
  if (!m || !mask_cell_count(m)) return m;
  if (!mask_cell_count(plane)) {
    zyl::matchlib::mask_release(m);
    return nullptr;
  }
  if (zyl::matchlib::img_resize_nearest_u8(plane->cells, plane->height, plane->width, m->cells,
                                           m->height, m->width) != ML_OK) {
    zyl::matchlib::mask_release(m);
    return nullptr;
  }
  return m;
}

MaskPlane* zyl::matchlib::mask_window(const MaskPlane* plane, int height, int width, int row_offset,
                                      int column_offset) {
  if (!plane || !plane->cells) return nullptr;
  MaskPlane* m = zyl::matchlib::mask_create(height, width);
  if (m && mask_cell_count(m) && mask_cell_count(plane))
    zyl::matchlib::copy_window_checked<std::uint8_t>(plane->cells, plane->height, plane->width,
                                                     m->height, m->width, row_offset, column_offset,
                                                     m->cells);
  return m;
}

MaskPlane* zyl::matchlib::mask_extend(const MaskPlane* plane, int height, int width) {
  if (!plane || !plane->cells || height < plane->height || width < plane->width) return nullptr;
  MaskPlane* m = zyl::matchlib::mask_create(height, width);
  if (!m) return nullptr;
  std::memset(m->cells, MASK_OUTSIDE_SOURCE, mask_cell_count(m));
  const int row = (height - plane->height) / 2, col = (width - plane->width) / 2;
  for (std::size_t i = 0; i < plane->height; ++i)
    std::memcpy(m->cells + (i + row) * m->width + col, plane->cells + i * plane->width,
                plane->width);
  return m;
}

GrayImage* zyl::matchlib::image_resize(const GrayImage* image, int height, int width) {
  if (!image || !image->pixels) return nullptr;
  // An empty image has nothing to stretch over a non-empty one.
  if (!pixel_count(image) && height > 0 && width > 0) return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(derive_with_pixels(image, height, width));
  if (!img) return nullptr;
  if (pixel_count(img.get()) &&
      zyl::matchlib::img_resize_u8(image->pixels, image->height, image->width, img->pixels, height,
                                   width) != ML_OK)
    return nullptr;
  if (image->mask) {
    img->mask = zyl::matchlib::mask_resize(image->mask, height, width);
    if (!img->mask) return nullptr;
  }
  const int old_h = image->height, old_w = image->width;
  img->resolution_y = static_cast<std::uint16_t>(
      std::clamp<long long>(scale_axis(image->resolution_y, height, old_h), 0, 0xFFFF));
  img->resolution_x = static_cast<std::uint16_t>(
      std::clamp<long long>(scale_axis(image->resolution_x, width, old_w), 0, 0xFFFF));
  if (SourceWindow* w = img->source_window) {
    w->source_height = static_cast<std::uint16_t>(scale_axis(w->source_height, height, old_h));
    w->row_offset = static_cast<std::int16_t>(scale_axis(w->row_offset, height, old_h));
    w->source_width = static_cast<std::uint16_t>(scale_axis(w->source_width, width, old_w));
    w->column_offset = static_cast<std::int16_t>(scale_axis(w->column_offset, width, old_w));
    w->height = static_cast<std::uint16_t>(height);
    w->width = static_cast<std::uint16_t>(width);
  }
  return img.release();
}

GrayImage* zyl::matchlib::image_resize_with_resolution(const GrayImage* image, int height,
                                                       int width, int resolution_y,
                                                       int resolution_x) {
  if (!image_dimensions_fit(height, width, resolution_y, resolution_x)) return nullptr;
  GrayImage* img = zyl::matchlib::image_resize(image, height, width);
  if (img) {
    img->resolution_y = static_cast<std::uint16_t>(resolution_y);
    img->resolution_x = static_cast<std::uint16_t>(resolution_x);
  }
  return img;
}

GrayImage* zyl::matchlib::image_resample_to_resolution(const GrayImage* image, int resolution_y,
                                                       int resolution_x) {
  // Without a resolution there is no scale to resample by.
  if (!image || !image->resolution_y || !image->resolution_x) return nullptr;
  const long long h = static_cast<long long>(resolution_y) * image->height / image->resolution_y;
  const long long w = static_cast<long long>(resolution_x) * image->width / image->resolution_x;
  if (h < 0 || w < 0 || h > 0xFFFF || w > 0xFFFF) return nullptr;
  return zyl::matchlib::image_resize_with_resolution(
      image, static_cast<int>(h), static_cast<int>(w), resolution_y, resolution_x);
}

GrayImage* zyl::matchlib::image_window(GrayImage* image, int height, int width, int row_offset,
                                       int column_offset) {
  if (!image) return nullptr;
  if (height == image->height && width == image->width && row_offset == 0 && column_offset == 0)
    return zyl::matchlib::image_retain(image);
  if (!image_dimensions_fit(height, width, 0, 0)) return nullptr;
  Ref<GrayImage> win;
  if (image->read_only && image->pixels && width == image->width && column_offset == 0 &&
      row_offset >= 0 && row_offset + height <= image->height) {
    // Whole rows of pixels that must not change: share them, keeping the
    // source alive until the window dies. The window stays read-only, or
    // writing through it would change the caller's pixels.
    win = Ref<GrayImage>::adopt(zyl::matchlib::image_create_general(
        height, width, image->resolution_y, image->resolution_x,
        image->pixels + std::size_t(row_offset) * image->width, image->impression_type, 0, 1,
        release_source, image, 0));
    if (!win) return nullptr;
    zyl::matchlib::image_retain(image);
  } else {
    win = Ref<GrayImage>::adopt(zyl::matchlib::image_create_general(
        height, width, image->resolution_y, image->resolution_x, nullptr, image->impression_type, 0,
        0, nullptr, nullptr, 1));
    if (!win) return nullptr;
    if (image->pixels && pixel_count(image) && pixel_count(win.get()))
      zyl::matchlib::copy_window_checked<std::uint8_t>(image->pixels, image->height, image->width,
                                                       height, width, row_offset, column_offset,
                                                       win->pixels);
  }
  if (image->mask) {
    win->mask = zyl::matchlib::mask_window(image->mask, height, width, row_offset, column_offset);
    if (!win->mask) return nullptr;
  }
  win->property_byte = image->property_byte;
  win->mask_settings = image->mask_settings;
  win->region_built = image->region_built;
  win->background_built = image->background_built;
  win->flag_word = image->flag_word;
  if (image->finger_info) {
    win->finger_info = zyl::matchlib::finger_info_copy(image->finger_info);
    if (!win->finger_info) return nullptr;
  }
  if (!place_window(win.get(), image, row_offset, column_offset)) return nullptr;
  return win.release();
}

GrayImage* zyl::matchlib::image_crop_centred_out(GrayImage* image, int height, int width,
                                                 int* out_row_offset, int* out_column_offset) {
  if (!image) return nullptr;
  const int row = (image->height - height) / 2;
  const int col = (image->width - width) / 2;
  GrayImage* win = zyl::matchlib::image_window(image, height, width, row, col);
  if (win) {
    if (out_row_offset) *out_row_offset = row;
    if (out_column_offset) *out_column_offset = col;
  }
  return win;
}

GrayImage* zyl::matchlib::image_crop_centred(GrayImage* image, int height, int width) {
  return zyl::matchlib::image_crop_centred_out(image, height, width, nullptr, nullptr);
}

GrayImage* zyl::matchlib::image_crop_on_foreground(GrayImage* image, int height, int width,
                                                   int threshold, int* out_row_offset,
                                                   int* out_column_offset) {
  if (!image || !image->pixels) return nullptr;
  const int H = image->height, W = image->width;
  int centre_row = H / 2, centre_col = W / 2;
  if (pixel_count(image)) {
    const std::size_t n = pixel_count(image);
    std::unique_ptr<std::uint8_t[]> fg(new (std::nothrow) std::uint8_t[n]);
    std::unique_ptr<std::uint8_t[]> valid(new (std::nothrow) std::uint8_t[n]);
    if (!fg || !valid) return nullptr;
    if (zyl::matchlib::imgproc_segment_local_variance(image->pixels, H, W, threshold, 75,
                                                      fg.get()) != ML_OK)
      return nullptr;
    if (image->mask) {
      zyl::matchlib::mask_to_valid_bytes(image->mask, valid.get());
      for (std::size_t i = 0; i < n; ++i) fg[i] |= valid[i];
    }
    if (zyl::matchlib::img_mask_centroid(fg.get(), H, W, 1, H, W, &centre_row, &centre_col) !=
        ML_OK)
      return nullptr;
  }
  auto offset = [](int centre, int size, int dim) {
    if (centre - size / 2 < 0) return 0;
    if (centre + size / 2 < dim) return centre - size / 2;
    return dim - size;
  };
  const int row = offset(centre_row, height, H);
  const int col = offset(centre_col, width, W);
  GrayImage* win = zyl::matchlib::image_window(image, height, width, row, col);
  if (win) {
    if (out_row_offset) *out_row_offset = row;
    if (out_column_offset) *out_column_offset = col;
  }
  return win;
}

extern "C" ZYL_API GrayImage* image_extend(const GrayImage* image, int height, int width) {
  if (!image || !image->pixels || height < image->height || width < image->width) return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(derive_with_pixels(image, height, width));
  if (!img) return nullptr;
  const int row = (height - image->height) / 2, col = (width - image->width) / 2;
  if (pixel_count(img.get()) &&
      zyl::matchlib::img_pad_profile_u8(image->pixels, image->height, image->width, height, width,
                                        row, col, img->pixels) != ML_OK)
    return nullptr;
  if (image->mask) {
    img->mask = zyl::matchlib::mask_extend(image->mask, height, width);
    if (!img->mask) return nullptr;
  }
  // The extension is the window at (-row, -column) of its source.
  if (!place_window(img.get(), image, -row, -col)) return nullptr;
  return img.release();
}

GrayImage* zyl::matchlib::image_framed(GrayImage* image) {
  if (!image) return nullptr;
  const int h = image->height + 2, w = image->width + 2;
  GrayImage* img = zyl::matchlib::image_window(image, h, w, -1, -1);
  if (!img) return nullptr;
  zyl::matchlib::draw_rect(img->pixels, h, w, 0, 0, w, h, 0);
  zyl::matchlib::draw_rect(img->pixels, h, w, 1, 1, image->width, image->height, 0);
  return img;
}

extern "C" ZYL_API int image_set_source_window(GrayImage* image, int row_offset, int column_offset,
                                               int source_height, int source_width) {
  if (!image) return ML_BAD_ARGUMENT;
  if (!image->source_window) {
    image->source_window = static_cast<SourceWindow*>(ml_malloc(sizeof(SourceWindow)));
    if (!image->source_window) return ML_NO_MEMORY;
  }
  *image->source_window = SourceWindow{
      static_cast<std::uint16_t>(source_height), static_cast<std::uint16_t>(source_width),
      image->height, image->width, static_cast<std::int16_t>(row_offset),
      static_cast<std::int16_t>(column_offset)};
  return ML_OK;
}

extern "C" ZYL_API void image_clear_source_window(GrayImage* image) {
  if (!image) return;
  std::free(image->source_window);
  image->source_window = nullptr;
}

extern "C" ZYL_API const SourceWindow* image_source_window(const GrayImage* image) {
  return image ? image->source_window : nullptr;
}

int zyl::matchlib::image_source_height(const GrayImage* image) {
  if (!image) return 0;
  return image->source_window ? image->source_window->source_height : image->height;
}
int zyl::matchlib::image_source_width(const GrayImage* image) {
  if (!image) return 0;
  return image->source_window ? image->source_window->source_width : image->width;
}
int zyl::matchlib::image_offset_y(const GrayImage* image) {
  return image && image->source_window ? image->source_window->row_offset : 0;
}
int zyl::matchlib::image_offset_x(const GrayImage* image) {
  return image && image->source_window ? image->source_window->column_offset : 0;
}

extern "C" ZYL_API int img_downscale_into(const uint8_t* pixels, int from_resolution, int height,
                                          int width, uint8_t* output, int to_resolution,
                                          int* out_height, int* out_width,
                                          uint32_t output_capacity) {
  if (!pixels || !output || !out_height || !out_width || height <= 0 || width <= 0 ||
      to_resolution <= 0 || to_resolution >= from_resolution)
    return ML_BAD_ARGUMENT;
  const long long h = (static_cast<long long>(height) * to_resolution + from_resolution / 2) /
                      from_resolution;
  const long long w = (static_cast<long long>(width) * to_resolution + from_resolution / 2) /
                      from_resolution;
  *out_height = static_cast<int>(h);
  *out_width = static_cast<int>(w);
  if (static_cast<unsigned long long>(h * w) > output_capacity) return ML_BAD_ARGUMENT;
  return zyl::matchlib::img_resize_u8(pixels, height, width, output, static_cast<uint32_t>(h),
                                      static_cast<uint32_t>(w));
}

extern "C" {

ZYL_API MaskPlane* mask_resize(const MaskPlane* plane, int height, int width) {
  return zyl::matchlib::mask_resize(plane, height, width);
}
ZYL_API MaskPlane* mask_window(const MaskPlane* plane, int height, int width, int row_offset,
                               int column_offset) {
  return zyl::matchlib::mask_window(plane, height, width, row_offset, column_offset);
}
ZYL_API MaskPlane* mask_extend(const MaskPlane* plane, int height, int width) {
  return zyl::matchlib::mask_extend(plane, height, width);
}
ZYL_API GrayImage* image_resize(const GrayImage* image, int height, int width) {
  return zyl::matchlib::image_resize(image, height, width);
}
ZYL_API GrayImage* image_resize_with_resolution(const GrayImage* image, int height, int width,
                                                int resolution_y, int resolution_x) {
  return zyl::matchlib::image_resize_with_resolution(image, height, width, resolution_y,
                                                     resolution_x);
}
ZYL_API GrayImage* image_resample_to_resolution(const GrayImage* image, int resolution_y,
                                                int resolution_x) {
  return zyl::matchlib::image_resample_to_resolution(image, resolution_y, resolution_x);
}
ZYL_API GrayImage* image_window(GrayImage* image, int height, int width, int row_offset,
                                int column_offset) {
  return zyl::matchlib::image_window(image, height, width, row_offset, column_offset);
}
ZYL_API GrayImage* image_crop_centred_out(GrayImage* image, int height, int width,
                                          int* out_row_offset, int* out_column_offset) {
  return zyl::matchlib::image_crop_centred_out(image, height, width, out_row_offset,
                                               out_column_offset);
}
ZYL_API GrayImage* image_crop_centred(GrayImage* image, int height, int width) {
  return zyl::matchlib::image_crop_centred(image, height, width);
}
ZYL_API GrayImage* image_crop_on_foreground(GrayImage* image, int height, int width, int threshold,
                                            int* out_row_offset, int* out_column_offset) {
  return zyl::matchlib::image_crop_on_foreground(image, height, width, threshold, out_row_offset,
                                                 out_column_offset);
}
ZYL_API GrayImage* image_framed(GrayImage* image) { return zyl::matchlib::image_framed(image); }
ZYL_API int image_source_height(const GrayImage* image) {
  return zyl::matchlib::image_source_height(image);
}
ZYL_API int image_source_width(const GrayImage* image) {
  return zyl::matchlib::image_source_width(image);
}
ZYL_API int image_offset_y(const GrayImage* image) { return zyl::matchlib::image_offset_y(image); }
ZYL_API int image_offset_x(const GrayImage* image) { return zyl::matchlib::image_offset_x(image); }

}  // extern "C"

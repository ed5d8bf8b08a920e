// Images derived by pixel transforms (reorientation, rotation, inversion,
// framing, preview and ridge clean-up), combinations of two images, the
// preprocessing copies, tiling, and the conversion to and from a packed
// image blob.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/image_geometry.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_drawing.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_reorient.h"
#include "zylscan/matchlib_segmentation.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"
#include "zylscan/matchlib_xform.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/filter/normalize_blocks.h"
#include "matchlib/filter/quality_image_stats.h"
#include "matchlib/image/stretch.h"
#include "matchlib/filter/block_segmentation.h"
#include "matchlib/image/drawing.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/histogram.h"
#include "matchlib/filter/image_transforms.h"
#include "matchlib/image/mask_build.h"
#include "matchlib/image/mask_derive.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/image/reorient.h"
#include "matchlib/image/window_frame.h"
#include "matchlib/image/packed_image.h"

namespace zyl::matchlib {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Gives `img` a plane derived from `src`'s by `make`, when `src` has one.
template <class Make>
bool derive_mask(GrayImage* img, const GrayImage* src, Make make) {
  if (!src->mask) return true;
  img->mask = make(src->mask);
  return img->mask != nullptr;
}

MaskPlane* clone_plane(const MaskPlane* m) { return zyl::matchlib::mask_clone(m); }

GrayImage* transform_copy(const GrayImage* src, void (*transform)(const std::uint8_t*, int, int,
                                                                  std::uint8_t*)) {
  if (!src || !src->pixels) return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(derive_with_pixels(src, src->height, src->width));
  if (!img) return nullptr;
  if (pixel_count(src)) transform(src->pixels, src->height, src->width, img->pixels);
  if (!derive_mask(img.get(), src, clone_plane)) return nullptr;
  return img.release();
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API GrayImage* image_reorient(const GrayImage* image, int code) {
  if (!image || !image->pixels) return nullptr;
  const bool quarter = code == IMG_ORIENT_QUARTER_CW || code == IMG_ORIENT_QUARTER_CCW;
  const int h = quarter ? image->width : image->height;
  const int w = quarter ? image->height : image->width;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(derive_with_pixels(image, h, w));
  if (!img) return nullptr;
  if (quarter) std::swap(img->resolution_y, img->resolution_x);
  if (pixel_count(image))
    zyl::matchlib::img_flip_rotate_u8(image->pixels, image->height, image->width, code,
                                      img->pixels);
  if (!derive_mask(img.get(), image,
                   [code](const MaskPlane* m) { return zyl::matchlib::mask_reorient(m, code); }))
    return nullptr;
  return img.release();
}

GrayImage* zyl::matchlib::image_rotate(const GrayImage* image, int direction, int* out_first_offset,
                                       int* out_second_offset) {
  if (!image || !image->pixels || !pixel_count(image)) return nullptr;
  std::uint8_t* turned = nullptr;
  int h = 0, w = 0, origin_row = 0, origin_col = 0;
  if (zyl::matchlib::img_rotate_u8(image->pixels, image->height, image->width, direction, &turned,
                                   &h, &w, &origin_row, &origin_col) != ML_OK)
    return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(zyl::matchlib::image_copy_header(image));
  if (!img || !image_dimensions_fit(h, w, 0, 0)) {
    std::free(turned);
    return nullptr;
  }
  img->height = static_cast<std::uint16_t>(h);
  img->width = static_cast<std::uint16_t>(w);
  img->capacity = static_cast<std::int32_t>(pixel_count(img.get()));
  img->pixels = turned;
  if (!derive_mask(img.get(), image, [direction](const MaskPlane* m) {
        return zyl::matchlib::mask_rotate(m, direction);
      }))
    return nullptr;
  // The first offset goes with columns, the second with rows.
  if (out_first_offset) *out_first_offset = origin_col;
  if (out_second_offset) *out_second_offset = origin_row;
  return img.release();
}

extern "C" ZYL_API GrayImage* image_create_inverted(const GrayImage* image) {
  return transform_copy(image, zyl::matchlib::img_invert_u8);
}

extern "C" ZYL_API GrayImage* image_window_frame(const GrayImage* image, int percent) {
  if (!image || !image->pixels) return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(derive_with_pixels(image, image->height, image->width));
  if (!img) return nullptr;
  if (pixel_count(image) &&
      zyl::matchlib::img_window_frame_u8(image->pixels, image->height, image->width, percent,
                                         img->pixels) != ML_OK)
    return nullptr;
  if (!derive_mask(img.get(), image, clone_plane)) return nullptr;
  return img.release();
}

extern "C" ZYL_API GrayImage* image_preview_copy(const GrayImage* image) {
  if (!image || !image->pixels) return nullptr;
  const std::size_t n = pixel_count(image);
  Bytes out(n);
  if (n && zyl::matchlib::imgproc_normalize_preview(
               static_cast<const std::uint8_t*>(image->pixels), int{image->height},
               int{image->width}, int{image->height}, int{image->width}, out.data()) != ML_OK)
    return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(create_like(image, out.data()));
  if (!img || !derive_mask(img.get(), image, clone_plane)) return nullptr;
  return img.release();
}

GrayImage* zyl::matchlib::image_ridge_cleanup_copy(const GrayImage* image) {
  if (!image || !image->pixels) return nullptr;
  const int H = image->height, W = image->width;
  const std::size_t n = pixel_count(image);
  Bytes px(n, 254);
  int ridges = 0;
  if (n &&
      zyl::matchlib::imgstat_has_ridges(static_cast<const std::uint8_t*>(image->pixels), H, W,
                                        &ridges) == ML_OK &&
      ridges) {
    const int rows = H / 8, cols = W / 8;
    Bytes map(std::size_t(rows) * cols, 1);
    if (!map.empty() &&
        zyl::matchlib::imgproc_segment_blocks_half(static_cast<const std::uint8_t*>(image->pixels),
                                                   H, W, rows, cols, 8, map.data()) != ML_OK)
      std::fill(map.begin(), map.end(), 1);
    std::memcpy(px.data(), image->pixels, n);
    zyl::matchlib::imgproc_normalize_blocks(static_cast<const std::uint8_t*>(px.data()), H, W,
                                            static_cast<const std::uint8_t*>(map.data()), 8, rows,
                                            cols, 150, 120, px.data());
    for (int round = 0; round < 8; ++round) {
      zyl::matchlib::box3x3<std::uint8_t>(px.data(), H, W, px.data());
      zyl::matchlib::imgproc_stretch_percentile_masked(px.data(), H, W, 33, map.data(), rows, cols,
                                                       8, px.data());
    }
    for (auto& v : px) v = std::min<std::uint8_t>(v, 254);
  }
  Ref<GrayImage> img = Ref<GrayImage>::adopt(create_like(image, px.data()));
  if (!img || !derive_mask(img.get(), image, clone_plane)) return nullptr;
  return img.release();
}

GrayImage* zyl::matchlib::image_paste(const GrayImage* base, const GrayImage* other,
                                      int column_offset, int row_offset) {
  if (!base || !other || !base->pixels || !other->pixels) return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(create_like(base, base->pixels));
  if (!img) return nullptr;
  if (pixel_count(base) && pixel_count(other))
    zyl::matchlib::img_paste_keyed_u8(img->pixels, base->height, base->width, other->pixels,
                                      other->height, other->width, column_offset, row_offset, 255);
  img->mask = zyl::matchlib::mask_paste(base->mask, other->mask, row_offset, column_offset);
  if (!img->mask) img->mask = zyl::matchlib::mask_retain(base->mask);
  return img.release();
}

GrayImage* zyl::matchlib::image_paste_opaque(const GrayImage* base, const GrayImage* other,
                                             int column_offset, int row_offset) {
  Ref<GrayImage> opaque = Ref<GrayImage>::adopt(zyl::matchlib::image_clone(other));
  if (!opaque) return nullptr;
  for (auto& v : pixel_span(opaque.get()))
    if (v == 255) v = 254;
  return zyl::matchlib::image_paste(base, opaque.get(), column_offset, row_offset);
}

GrayImage* zyl::matchlib::image_overlay_blend(const GrayImage* base, const GrayImage* overlay,
                                              int column_offset, int row_offset) {
  if (!base || !overlay || !base->pixels || !overlay->pixels) return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(create_like(base, base->pixels));
  if (!img) return nullptr;
  for (long i = 0; i < overlay->height; ++i) {
    const long y = i + row_offset;
    if (y < 0 || y >= base->height) continue;
    for (long j = 0; j < overlay->width; ++j) {
      const long x = j + column_offset;
      if (x < 0 || x >= base->width) continue;
      const std::uint8_t v = overlay->pixels[i * overlay->width + j];
      if (v == 255) continue;
      std::uint8_t& b = img->pixels[y * base->width + x];
      b = b == 255 ? v : static_cast<std::uint8_t>(v / 2 + b / 2);
    }
  }
  img->mask = zyl::matchlib::mask_retain(base->mask);
  return img.release();
}

GrayImage* zyl::matchlib::image_join(GrayImage* first, GrayImage* second, int gap, int vertical) {
  if (!first || !second || gap < 0) return nullptr;
  Ref<GrayImage> a, b;
  int h, w;
  if (vertical) {
    const int common = std::max(first->width, second->width);
    a = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_centred(first, first->height, common));
    b = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_centred(second, second->height, common));
    h = first->height + gap + second->height;
    w = common;
  } else {
    const int common = std::max(first->height, second->height);
    a = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_centred(first, common, first->width));
    b = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_centred(second, common, second->width));
    h = common;
    w = first->width + gap + second->width;
  }
  if (!a || !b) return nullptr;
  Ref<GrayImage> canvas = Ref<GrayImage>::adopt(zyl::matchlib::image_create(
      h, w, first->resolution_y, first->resolution_x, nullptr, first->impression_type));
  if (!canvas || !zyl::matchlib::image_mask_plane_ensure(canvas.get())) return nullptr;
  Ref<GrayImage> with_first =
      Ref<GrayImage>::adopt(zyl::matchlib::image_paste_opaque(canvas.get(), a.get(), 0, 0));
  if (!with_first) return nullptr;
  return vertical
             ? zyl::matchlib::image_paste_opaque(with_first.get(), b.get(), 0, first->height + gap)
             : zyl::matchlib::image_paste_opaque(with_first.get(), b.get(), first->width + gap, 0);
}

GrayImage* zyl::matchlib::image_composite(GrayImage* first, GrayImage* second,
                                          const RigidTransform* transform) {
  if (!first || !second || !transform) return nullptr;
  Ref<GrayImage> framed_first = Ref<GrayImage>::adopt(zyl::matchlib::image_framed(first));
  Ref<GrayImage> framed_second = Ref<GrayImage>::adopt(zyl::matchlib::image_framed(second));
  std::unique_ptr<RigidTransform, decltype(&zyl::matchlib::xform_release)> inverse(
      zyl::matchlib::xform_invert(transform), &zyl::matchlib::xform_release);
  if (!framed_first || !framed_second || !inverse) return nullptr;
  int first_offset = 0, second_offset = 0;
  Ref<GrayImage> turned = Ref<GrayImage>::adopt(zyl::matchlib::image_rotate(
      framed_second.get(), zyl::matchlib::xform_get_angle(inverse.get()), &first_offset,
      &second_offset));
  if (!turned) return nullptr;
  const int side = std::max(framed_second->height, framed_second->width);
  Ref<GrayImage> wide = Ref<GrayImage>::adopt(
      zyl::matchlib::image_window(framed_first.get(), framed_first->height + 2 * side,
                                  framed_first->width + 2 * side, -side, -side));
  if (!wide) return nullptr;
  Ref<GrayImage> blend = Ref<GrayImage>::adopt(zyl::matchlib::image_overlay_blend(
      wide.get(), turned.get(), side + zyl::matchlib::xform_get_dx(inverse.get()) - first_offset,
      side + zyl::matchlib::xform_get_dy(inverse.get()) - second_offset));
  if (!blend) return nullptr;
  Ref<GrayImage> pair = Ref<GrayImage>::adopt(zyl::matchlib::image_join(first, second, 10, 1));
  if (!pair) return nullptr;
  GrayImage* out = zyl::matchlib::image_join(pair.get(), blend.get(), 2, 0);
  if (!out) return nullptr;
  const int values[3] = {zyl::matchlib::xform_get_angle(transform),
                         zyl::matchlib::xform_get_dx(transform),
                         zyl::matchlib::xform_get_dy(transform)};
  for (int k = 0; k < 3; ++k)
    zyl::matchlib::draw_number(out->pixels, out->height, out->width, values[k], 1, 5, 5 + 10 * k,
                               255);
  return out;
}

static GrayImage* image_preprocess_copy_unguarded(const GrayImage* image, MatchContext* ctx,
                                                  const ImagePrepDescriptor* descriptor) {
  if (!image || !image->pixels || !descriptor || !descriptor->routine) return nullptr;
  Ref<GrayImage> img = Ref<GrayImage>::adopt(derive_with_pixels(image, image->height, image->width));
  if (!img) return nullptr;
  img->stats = kUnsetStatistics;
  if (!derive_mask(img.get(), image, clone_plane)) return nullptr;
  const std::size_t n = pixel_count(image);
  Bytes usable;
  if (image->mask) {
    usable.resize(n);
    zyl::matchlib::mask_to_valid_bytes(image->mask, usable.data());
  }
  std::uint8_t* map = nullptr;
  int code = 0;
  const int st = descriptor->routine(ctx, image->pixels, usable.empty() ? nullptr : usable.data(),
                                     image->height, image->width, image->resolution_y,
                                     image->source_window, img->pixels, &map, &code);
  std::unique_ptr<std::uint8_t, decltype(&std::free)> owned_map(map, std::free);
  if (st != ML_OK) return nullptr;
  zyl::matchlib::mask_clear_bits(img->mask, MASK_BACKGROUND);
  img->background_built = 0;
  if (zyl::matchlib::image_build_masks(img.get(), &img->mask_settings, 0) == ML_NO_MEMORY)
    return nullptr;
  if (code == 1) {
    // The routine found nothing usable in the image.
    img->stats.quality = 0;
    img->stats.foreground_percent = 0;
    img->stats.bright_percent = 50;
    img->stats.block_contrast = 0;
    img->stats.contrast_first = 0;
    img->stats.contrast_second = 100;
  }
  if (map) {
    MaskPlane* plane = zyl::matchlib::image_mask_plane_ensure(img.get());
    if (!plane) return nullptr;
    zyl::matchlib::mask_set_bits_where_clear(plane, MASK_BACKGROUND, map);
  }
  return img.release();
}

GrayImage* zyl::matchlib::image_preprocess_copy(const GrayImage* image, MatchContext* ctx,
                                                const ImagePrepDescriptor* descriptor) {
  return zyl::GuardedCall(nullptr,
                          [&] { return image_preprocess_copy_unguarded(image, ctx, descriptor); });
}

extern "C" ZYL_API int image_apply_preprocessors(GrayImage* image, MatchContext* ctx,
                                                 const ImagePrepRoutine* routines) {
  if (!image || !image->pixels) return ML_BAD_ARGUMENT;
  // The routines write in place: a read-only image (a caller's wrapped
  // buffer) is refused rather than changed behind the caller's back.
  if (image->read_only) return ML_WRONG_KIND;
  for (const ImagePrepRoutine* r = routines; r && *r; ++r) {
    std::uint8_t* map = nullptr;
    int code = 0;
    const int st = (*r)(ctx, image->pixels, nullptr, image->height, image->width,
                        image->resolution_y, image->source_window, image->pixels, &map, &code);
    std::free(map);  // in place, no map is applied
    if (st != ML_OK) return st;
  }
  zyl::matchlib::mask_clear_bits(image->mask, MASK_BACKGROUND);
  image->background_built = 0;
  zyl::matchlib::image_build_masks(image, &image->mask_settings, 0);
  return ML_OK;
}

int zyl::matchlib::tiling_tile_count(const TilingSpec* spec) {
  if (!spec) return 0;
  return std::max(0, spec->tiles_down) * std::max(0, spec->tiles_across) +
         (spec->extra_tile ? 1 : 0);
}

int zyl::matchlib::tiling_fits(const GrayImage* image, const TilingSpec* spec, int limit) {
  if (!image || !spec || spec->tiles_down <= 0 || spec->tiles_across <= 0 ||
      spec->tile_height <= 0 || spec->tile_width <= 0)
    return 0;
  const long U = spec->max_height > 0 ? std::min<long>(image->height, spec->max_height)
                                      : image->height;
  const long V = spec->max_width > 0 ? std::min<long>(image->width, spec->max_width) : image->width;
  if (U < spec->tile_height || V < spec->tile_width) return 0;
  const auto percent_limit = static_cast<std::uint8_t>(limit);
  if (percent_limit < 1 || percent_limit > 99) return 1;
  auto overlaps_too_much = [percent_limit](long tiles, long tile, long usable) {
    if (tiles <= 1 || usable >= tiles * tile) return false;
    const long o = (tiles * tile + (tiles - 1) / 2 - usable) / (tiles - 1);
    return (tile / 2 + o * 100) / tile >= percent_limit;
  };
  if (overlaps_too_much(spec->tiles_down, spec->tile_height, U)) return 0;
  if (overlaps_too_much(spec->tiles_across, spec->tile_width, V)) return 0;
  return 1;
}

int zyl::matchlib::image_split_tiles(GrayImage* image, const TilingSpec* spec, GrayImage** out) {
  if (!spec || !out) return ML_BAD_ARGUMENT;
  const int count = zyl::matchlib::tiling_tile_count(spec);
  std::fill(out, out + count, nullptr);
  if (!zyl::matchlib::tiling_fits(image, spec, 0)) return ML_BAD_ARGUMENT;
  auto fail = [&]() {
    for (int i = 0; i < count; ++i) {
      zyl::matchlib::image_release(out[i]);
      out[i] = nullptr;
    }
    return ML_NO_MEMORY;
  };
  Ref<GrayImage> work;
  if (spec->max_height >= 1 && spec->max_width >= 1)
    work = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_on_foreground(
        image, std::min<int>(spec->max_height, image->height),
        std::min<int>(spec->max_width, image->width), spec->variance_threshold, nullptr, nullptr));
  else
    work = Ref<GrayImage>::share(image);
  if (!work) return fail();
  const int th = spec->tile_height, tw = spec->tile_width;
  const int down = spec->tiles_down, across = spec->tiles_across;
  int next = 0;
  if (spec->extra_tile) {
    out[next] = zyl::matchlib::image_crop_centred(work.get(), th, tw);
    if (!out[next++]) return fail();
  }
  Ref<GrayImage> area = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_centred(
      work.get(), std::min(th * down, int{work->height}), std::min(tw * across, int{work->width})));
  if (!area) return fail();
  const int ah = area->height, aw = area->width;
  const int row_step = th - (down > 1 ? (th * down - ah) / (down - 1) : 0);
  const int col_step = tw - (across > 1 ? (tw * across - aw) / (across - 1) : 0);
  for (int j = 0; j < down; ++j) {
    for (int i = 0; i < across; ++i) {
      const int row = std::min(j * row_step, ah - th);
      const int col = std::min(i * col_step, aw - tw);
      out[next] = zyl::matchlib::image_window(area.get(), th, tw, row, col);
      if (!out[next++]) return fail();
    }
  }
  return ML_OK;
}

extern "C" ZYL_API int image_to_blob(const GrayImage* image, DataBlob** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!image || !image->pixels || !pixel_count(image)) return ML_UNAVAILABLE;
  std::uint8_t* record = nullptr;
  std::uint32_t length = 0;
  // The record's flag byte carries the impression type.
  const int st = zyl::matchlib::packed_image_write(
      static_cast<const std::uint8_t*>(image->pixels), image->height, image->width,
      image->resolution_x, image->resolution_y, static_cast<std::uint8_t>(image->impression_type),
      &record, &length);
  if (st != ML_OK) return st;
  *out = zyl::matchlib::blob_wrap(71, record, length, 1, free_callback, record);
  if (!*out) {
    std::free(record);
    return ML_NO_MEMORY;
  }
  return ML_OK;
}

extern "C" ZYL_API int image_from_blob(const DataBlob* blob, GrayImage** out) {
  if (!out) return ML_OK;
  *out = nullptr;
  if (!blob || zyl::matchlib::blob_type(blob) != 71) return ML_OK;
  const std::uint8_t* px = nullptr;
  std::uint16_t h = 0, w = 0, rx = 0, ry = 0;
  std::uint8_t impression = 0;
  if (zyl::matchlib::packed_image_read(zyl::matchlib::blob_data(blob),
                                       zyl::matchlib::blob_size(blob), &px, &h, &w, &rx, &ry,
                                       &impression) != ML_OK)
    return ML_OK;
  *out = zyl::matchlib::image_create(h, w, ry, rx, px, impression);
  return ML_OK;
}

extern "C" {

ZYL_API GrayImage* image_rotate(const GrayImage* image, int direction, int* out_first_offset,
                                int* out_second_offset) {
  return zyl::matchlib::image_rotate(image, direction, out_first_offset, out_second_offset);
}
ZYL_API GrayImage* image_ridge_cleanup_copy(const GrayImage* image) {
  return zyl::matchlib::image_ridge_cleanup_copy(image);
}
ZYL_API GrayImage* image_paste(const GrayImage* base, const GrayImage* other, int column_offset,
                               int row_offset) {
  return zyl::matchlib::image_paste(base, other, column_offset, row_offset);
}
ZYL_API GrayImage* image_paste_opaque(const GrayImage* base, const GrayImage* other,
                                      int column_offset, int row_offset) {
  return zyl::matchlib::image_paste_opaque(base, other, column_offset, row_offset);
}
ZYL_API GrayImage* image_overlay_blend(const GrayImage* base, const GrayImage* overlay,
                                       int column_offset, int row_offset) {
  return zyl::matchlib::image_overlay_blend(base, overlay, column_offset, row_offset);
}
ZYL_API GrayImage* image_join(GrayImage* first, GrayImage* second, int gap, int vertical) {
  return zyl::matchlib::image_join(first, second, gap, vertical);
}
ZYL_API GrayImage* image_composite(GrayImage* first, GrayImage* second,
                                   const RigidTransform* transform) {
  return zyl::matchlib::image_composite(first, second, transform);
}
ZYL_API GrayImage* image_preprocess_copy(const GrayImage* image, MatchContext* ctx,
                                         const ImagePrepDescriptor* descriptor) {
  return zyl::matchlib::image_preprocess_copy(image, ctx, descriptor);
}
ZYL_API int tiling_tile_count(const TilingSpec* spec) {
  return zyl::matchlib::tiling_tile_count(spec);
}
ZYL_API int tiling_fits(const GrayImage* image, const TilingSpec* spec, int limit) {
  return zyl::matchlib::tiling_fits(image, spec, limit);
}
ZYL_API int image_split_tiles(GrayImage* image, const TilingSpec* spec, GrayImage** out) {
  return zyl::matchlib::image_split_tiles(image, spec, out);
}

}  // extern "C"

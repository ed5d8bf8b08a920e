/* Matcher library grey image: the reference-counted 8-bit image object
 * (height rows of width pixels, row after row), with its resolutions,
 * optional mask plane, finger information, source window and cached
 * statistics. Height always comes first. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_xform.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct GrayImage GrayImage;

/* Called with its user data when an image dies, and by
 * image_release_pixels; also the type of that routine's deallocator. */
typedef void (*ImageUserRelease)(void* user);

/* Where an image cut or scaled from another lies in it. */
typedef struct SourceWindow {
  uint16_t source_height;
  uint16_t source_width;
  uint16_t height;
  uint16_t width;
  int16_t row_offset;
  int16_t column_offset;
} SourceWindow;

/* Tiling request. */
typedef struct TilingSpec {
  int32_t max_height;  /* with max_width positive: crop around the foreground first */
  int32_t max_width;
  int32_t variance_threshold;
  int32_t tiles_down;
  int32_t tiles_across;
  int32_t tile_height;
  int32_t tile_width;
  int32_t extra_tile;  /* non-zero: one more tile, centred, comes first */
} TilingSpec;

/* A preprocessing routine, also the image routine a stage runs before its
 * extraction: (context, source pixels, usable map (255 usable) or null,
 * height, width, vertical resolution, source window, output pixels, out
 * malloc'd map of pixels to mark as background (0 bytes) or null, out code
 * (1: nothing usable)); 0 or a status. */
typedef int (*ImagePrepRoutine)(MatchContext* ctx, const uint8_t* pixels, const uint8_t* usable,
                                int height, int width, int resolution,
                                const SourceWindow* window, uint8_t* out, uint8_t** out_map,
                                int* out_code);
/* The preprocessing step of a stage; its routine comes first. */
typedef struct ImagePrepDescriptor {
  ImagePrepRoutine routine;
} ImagePrepDescriptor;

/* Impression type a null image reports. */
#define IMAGE_NULL_IMPRESSION_TYPE 29

/* Lifecycle states. */
enum ImageLifecycle { IMAGE_STATE_NEW = 0, IMAGE_STATE_IN_USE = 1, IMAGE_STATE_FINISHED = 2 };

/* ---- constructors: a new image with one reference, or null when memory
 * runs out or a size does not fit the record (height, width and the
 * resolutions 0..65535, height x width below 2^31) ---- */
ZYL_API GrayImage* image_create(int height, int width, int resolution_y, int resolution_x,
                                const uint8_t* pixels, int impression_type);
ZYL_API GrayImage* image_wrap(int height, int width, int resolution_y, int resolution_x,
                              uint8_t* pixels, int impression_type);
ZYL_API GrayImage* image_create_general(int height, int width, int resolution_y,
                                        int resolution_x, uint8_t* pixels, int impression_type,
                                        int32_t capacity, int read_only,
                                        ImageUserRelease release, void* user, int copy);
ZYL_API GrayImage* image_wrap_general(int height, int width, int resolution_y, int resolution_x,
                                      uint8_t* pixels, int impression_type, int32_t capacity,
                                      int writable, ImageUserRelease release, void* user);
ZYL_API GrayImage* image_create_with_mask(int height, int width, int resolution_y,
                                          int resolution_x, const uint8_t* pixels,
                                          int impression_type, MaskPlane* mask);
/* A new image holding the pixels reoriented by an img_flip_rotate_u8 code
 * (0 copy, 1 mirror rows, 2 reverse row order, 3 half turn, 4 and 5
 * quarter turns, which exchange the sides and the resolutions); white
 * without pixels. */
ZYL_API GrayImage* image_create_oriented(int height, int width, int resolution_y,
                                         int resolution_x, const uint8_t* pixels,
                                         int impression_type, int orientation);
ZYL_API GrayImage* image_clone(const GrayImage* image);
ZYL_API GrayImage* image_copy_header(const GrayImage* image);

/* ---- reference counting ---- */
ZYL_API GrayImage* image_retain(GrayImage* image);
ZYL_API void image_release(GrayImage* image);
ZYL_API void image_destroy(GrayImage* image);
/* The first int of any reference-counted record; 0 for null. */
ZYL_API int32_t object_refcount(const void* object);

/* ---- accessors ---- */
ZYL_API int image_height(const GrayImage* image);
ZYL_API int image_width(const GrayImage* image);
ZYL_API uint32_t image_pixel_count(const GrayImage* image);
ZYL_API int32_t image_capacity(const GrayImage* image);
ZYL_API int image_resolution_y(const GrayImage* image);
ZYL_API int image_resolution_x(const GrayImage* image);
ZYL_API int image_resolution(const GrayImage* image);
ZYL_API int image_impression_type(const GrayImage* image);
ZYL_API uint8_t* image_pixels(const GrayImage* image);
ZYL_API MaskPlane* image_mask_plane(const GrayImage* image);
ZYL_API MaskPlane* image_mask_plane_ensure(GrayImage* image);
ZYL_API void image_set_mask_plane(GrayImage* image, MaskPlane* plane);
ZYL_API uint32_t image_flag_word(const GrayImage* image);
ZYL_API void image_set_flag_word(GrayImage* image, uint32_t value);
ZYL_API int image_property_byte(const GrayImage* image);
/* 0, or 1 (nothing changed) for a value of 32 or more. */
ZYL_API int image_set_property_byte(GrayImage* image, int value);
ZYL_API FingerInfo* image_finger_info(const GrayImage* image);
ZYL_API FingerInfo* image_set_finger_info(GrayImage* image, FingerInfo* info);
ZYL_API uint16_t image_stored_quality(const GrayImage* image);
ZYL_API void image_set_stored_quality(GrayImage* image, uint16_t value);
ZYL_API int image_is_writable(const GrayImage* image);
ZYL_API void image_set_writable(GrayImage* image, int writable);
/* A new height x width map (freed by the caller): 255 where the mask plane
 * allows the pixel, else 0. 0, or 9 when memory runs out (*out null). */
ZYL_API int image_usable_mask_bytes(const GrayImage* image, uint8_t** out_map);

/* ---- lifecycle ---- */
ZYL_API int image_begin_use(GrayImage* image);
ZYL_API int image_end_use(GrayImage* image);
ZYL_API void image_mark_releasable(GrayImage* image);
ZYL_API int image_is_finished(const GrayImage* image);
/* 1 when a finished image with one reference gave up its pixels, else 0. */
ZYL_API int image_release_pixels(GrayImage* image, ImageUserRelease deallocator);

/* ---- geometry: each a new image with one reference (or the source
 * itself, retained, where said), null on failure ---- */
ZYL_API GrayImage* image_resize(const GrayImage* image, int height, int width);
ZYL_API GrayImage* image_resample_to_resolution(const GrayImage* image, int resolution_y,
                                                int resolution_x);
ZYL_API GrayImage* image_resize_with_resolution(const GrayImage* image, int height, int width,
                                                int resolution_y, int resolution_x);
/* The window at (row, column) of the image (negative offsets allowed,
 * uncovered pixels 255); the image itself for its own size at (0, 0); the
 * rows of a read-only image are shared when the window spans them whole. */
ZYL_API GrayImage* image_window(GrayImage* image, int height, int width, int row_offset,
                                int column_offset);
ZYL_API GrayImage* image_crop_centred(GrayImage* image, int height, int width);
ZYL_API GrayImage* image_crop_centred_out(GrayImage* image, int height, int width,
                                          int* out_row_offset, int* out_column_offset);
ZYL_API GrayImage* image_crop_on_foreground(GrayImage* image, int height, int width,
                                            int threshold, int* out_row_offset,
                                            int* out_column_offset);
/* A larger image with the old one centred and the border filled from its
 * edges; null when a side shrinks. */
ZYL_API GrayImage* image_extend(const GrayImage* image, int height, int width);
ZYL_API GrayImage* image_framed(GrayImage* image);
/* 0, 2 for a null image, 9 when memory runs out. */
ZYL_API int image_set_source_window(GrayImage* image, int row_offset, int column_offset,
                                    int source_height, int source_width);
ZYL_API void image_clear_source_window(GrayImage* image);
ZYL_API const SourceWindow* image_source_window(const GrayImage* image);
ZYL_API int image_source_height(const GrayImage* image);
ZYL_API int image_source_width(const GrayImage* image);
ZYL_API int image_offset_y(const GrayImage* image);
ZYL_API int image_offset_x(const GrayImage* image);

/* ---- tiling ---- */
ZYL_API int tiling_tile_count(const TilingSpec* spec);
/* 1 when the tiles fit the image and overlap less than limit % (a limit
 * outside 1..99 tests the sizes only). */
ZYL_API int tiling_fits(const GrayImage* image, const TilingSpec* spec, int limit);
/* Fills out (tiling_tile_count entries) with new tiles; 0, 2 when the tiling
 * does not fit, 9 when memory runs out (the array is cleared). */
ZYL_API int image_split_tiles(GrayImage* image, const TilingSpec* spec, GrayImage** out);

/* ---- pixel transforms ---- */
ZYL_API GrayImage* image_reorient(const GrayImage* image, int code);
/* Turned by a direction of 256 steps a turn; the outputs receive the
 * column and the row at which the source's origin lies in the result. */
ZYL_API GrayImage* image_rotate(const GrayImage* image, int direction, int* out_first_offset,
                                int* out_second_offset);
ZYL_API GrayImage* image_create_inverted(const GrayImage* image);
ZYL_API GrayImage* image_window_frame(const GrayImage* image, int percent);
ZYL_API GrayImage* image_preview_copy(const GrayImage* image);
ZYL_API GrayImage* image_ridge_cleanup_copy(const GrayImage* image);

/* ---- combining ---- */
/* A copy of base with other pasted at the offsets (other's 255 pixels are
 * transparent). */
ZYL_API GrayImage* image_paste(const GrayImage* base, const GrayImage* other, int column_offset,
                               int row_offset);
ZYL_API GrayImage* image_paste_opaque(const GrayImage* base, const GrayImage* other,
                                      int column_offset, int row_offset);
ZYL_API GrayImage* image_overlay_blend(const GrayImage* base, const GrayImage* overlay,
                                       int column_offset, int row_offset);
ZYL_API GrayImage* image_join(GrayImage* first, GrayImage* second, int gap, int vertical);
/* A picture of a pair under a transform: both images joined vertically,
 * beside them the second turned and moved onto the first, with the
 * transform's angle and offsets written as digits. */
ZYL_API GrayImage* image_composite(GrayImage* first, GrayImage* second,
                                   const RigidTransform* transform);

/* ---- preprocessing ---- */
ZYL_API GrayImage* image_preprocess_copy(const GrayImage* image, MatchContext* ctx,
                                         const ImagePrepDescriptor* descriptor);
/* Runs the null-terminated routines in place, then rebuilds the
 * background bits; the first non-zero status is answered. A read-only
 * image is refused with ML_WRONG_KIND and left as it is. */
ZYL_API int image_apply_preprocessors(GrayImage* image, MatchContext* ctx,
                                      const ImagePrepRoutine* routines);

/* ---- packed image blobs (format 71) ---- */
/* 0, 3 for a null or empty image, 9, or the packer's status. */
ZYL_API int image_to_blob(const GrayImage* image, DataBlob** out);
/* Always 0; *out is null unless the blob is a valid packed image. */
ZYL_API int image_from_blob(const DataBlob* blob, GrayImage** out);

/* ---- stored record (size-or-write; big-endian) ---- */
/* Writes or counts the record; a null image is the 2 bytes 1, 0. */
ZYL_API uint32_t image_write(uint8_t* out, const GrayImage* image);
/* Parses a record the caller vouches for into a new image in *out (null
 * when none results); answers the bytes consumed (0 for a version of 2 or
 * more, a corrupt record or a memory failure; 2 for a null image). */
ZYL_API uint32_t image_read(const uint8_t* in, GrayImage** out);
/* As image_read within `available` bytes (0 when the record does not fit):
 * the reader for untrusted bytes. */
ZYL_API uint32_t image_read_bounded(const uint8_t* in, uint32_t available, GrayImage** out);
/* 1 or 13 bytes. */
ZYL_API uint32_t source_window_write(uint8_t* out, const SourceWindow* window);
/* 1 with no window, 13 with a new malloc'd window in *out (0 when memory
 * runs out). */
ZYL_API uint32_t source_window_read(const uint8_t* in, SourceWindow** out);

/* ---- cached statistics (computed on first request; -1 for a null image
 * or when the computation fails, which the next call retries) ---- */
ZYL_API int image_quality(GrayImage* image);
ZYL_API int image_foreground_percent(GrayImage* image);
/* Square millimetres; -1 also when the image has no common resolution of
 * at least 18 dpi. */
ZYL_API int image_foreground_area(GrayImage* image);
ZYL_API int image_bright_percent(GrayImage* image);
/* Both outputs (may be null) are -1 first and get the companions. */
ZYL_API int image_block_contrast(GrayImage* image, int* out_first, int* out_second);
ZYL_API int image_block_range_mean(GrayImage* image);
ZYL_API int image_laplacian_spread(GrayImage* image);
/* Flags 0x02, 0x04, 0x08 (block-contrast maps) and 0x10 (quality map). */
ZYL_API void image_keep_maps(GrayImage* image, uint32_t flags);
ZYL_API uint8_t* image_alloc_kept_map(GrayImage* image, int flag);
/* Code 1 the pixels, 2/4/8/16 a kept map, else null; the image's height and
 * width through the outputs. */
ZYL_API uint8_t* image_plane_by_code(GrayImage* image, int code, int* out_height,
                                     int* out_width);
/* Percentage of pixels whose grey levels differ by more than the threshold
 * (optionally after a radial band filter). 0, 2 for null arguments,
 * mismatched sizes or resolutions, 9 when memory runs out, or the filter's
 * status. */
ZYL_API int image_compare_pixels(const GrayImage* a, const GrayImage* b, int threshold,
                                 int filter, int* out_percent);
/* Class code of the sensor size (0 without a resolution). */
ZYL_API int sensor_size_class(int height, int width, int resolution_y, int resolution_x);
ZYL_API int image_sensor_size_class(const GrayImage* image);

ZYL_EXTERN_C_END

// The functions of image transforms that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

GrayImage* image_rotate(const GrayImage* image, int direction, int* out_first_offset,
                        int* out_second_offset);
GrayImage* image_ridge_cleanup_copy(const GrayImage* image);
GrayImage* image_paste(const GrayImage* base, const GrayImage* other, int column_offset,
                       int row_offset);
GrayImage* image_paste_opaque(const GrayImage* base, const GrayImage* other, int column_offset,
                              int row_offset);
GrayImage* image_overlay_blend(const GrayImage* base, const GrayImage* overlay, int column_offset,
                               int row_offset);
GrayImage* image_join(GrayImage* first, GrayImage* second, int gap, int vertical);
GrayImage* image_composite(GrayImage* first, GrayImage* second, const RigidTransform* transform);
GrayImage* image_preprocess_copy(const GrayImage* image, MatchContext* ctx,
                                 const ImagePrepDescriptor* descriptor);
int tiling_tile_count(const TilingSpec* spec);
int tiling_fits(const GrayImage* image, const TilingSpec* spec, int limit);
int image_split_tiles(GrayImage* image, const TilingSpec* spec, GrayImage** out);

}  // namespace zyl::matchlib

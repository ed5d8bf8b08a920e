/* Matcher library block-structured point record (template format 79): the
 * points (minutiae and keypoints) of one impression with per-point
 * descriptors of one or more descriptor types ("extension types").
 *
 * Stored form (big-endian): u16 version (written 6; 6 and above read),
 * then blocks {u16 type, u16 body length, body} filling the rest exactly:
 * 0x1234 header (u16 extension flags, width, height, point count), 6
 * extension list, 1 and 8 point blocks (8- and 16-bit coordinates), 4
 * scores, 5 flags. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_descriptor_type.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  BLOCKREC_FORMAT = 79,
  BLOCKREC_MAX_EXTENSIONS = 13,
  BLOCKREC_POINT_TYPES = 8,
  BLOCKREC_MAX_POINTS = 65531 /* the scores block body must fit its 16-bit length */
};

/* One point: x is the column, y the row; class is the point type (1..7, 0
 * marks a point to drop); spare is stored as one bit. */
typedef struct KeyPoint {
  int16_t x;
  int16_t y;
  uint8_t angle;
  uint8_t score;
  uint8_t cls;
  uint8_t spare;
} KeyPoint;

struct BlockRecord {
  uint16_t width;
  uint16_t height;
  uint16_t resolution_x; /* 500 at creation; not stored */
  uint16_t resolution_y;
  int32_t point_count;
  KeyPoint* points;
  int32_t capacity; /* points the array (and each extension array) holds */
  int32_t type_counts[BLOCKREC_POINT_TYPES];
  int32_t type_starts[BLOCKREC_POINT_TYPES];
  uint16_t extension_flags;
  int32_t extension_bytes_per_point;
  int32_t extension_type_count;
  const DescriptorType* extension_types[BLOCKREC_MAX_EXTENSIONS];
  uint8_t* extension_arrays[BLOCKREC_MAX_EXTENSIONS]; /* element size x capacity bytes */
};

/* `types` is a null-terminated list (or null). 0, 2 bad size or more than
 * 13 types, 9 no memory. */
ZYL_API int blockrec_create(int height, int width, int capacity, const DescriptorType* const* types,
                            BlockRecord** out);
ZYL_API void blockrec_free(BlockRecord* record);
ZYL_API void blockrec_count_types(BlockRecord* record);
ZYL_API void blockrec_compact(BlockRecord* record);
ZYL_API void blockrec_keep_best(BlockRecord* record, int count);
/* The writers answer a malloc'd buffer (the caller frees it): 0, 2 for a
 * record the stored form cannot hold (counts out of order or too many
 * points), 9 no memory. */
ZYL_API int blockrec_write(const BlockRecord* record, uint8_t** out, uint32_t* size);
ZYL_API int blockrec_write_copy(const BlockRecord* record, uint8_t** out, uint32_t* size);
/* 0; 2 null data; 4 too short or a block length that does not add up; 1
 * version 5 or less; 17 inconsistent content; 9 no memory. */
ZYL_API int blockrec_parse(const uint8_t* data, uint32_t length, int skip, int limit,
                           BlockRecord** out);
/* Count 2-byte entries {score, angle} in point order (malloc'd). */
ZYL_API int blockrec_read_points(const uint8_t* data, uint32_t length, uint8_t** out, int* count);
ZYL_API int blockrec_crop_disc(const DataBlob* blob, int centre_x, int centre_y, int radius,
                               uint8_t** out, uint32_t* size);
/* Extension byte string: a count byte, then per extension type a block
 * {u16 9, u32 total length, slot, u16 type id, element size, u32 pattern
 * id, element size x point count bytes}. */
ZYL_API int blockrec_write_extensions(const BlockRecord* record, uint8_t** out, uint32_t* size);
ZYL_API int blockrec_read_extensions(BlockRecord* record, const uint8_t* data, uint32_t length);
ZYL_API void blockrec_copy_point_extensions(BlockRecord* record, const BlockRecord* other, int a,
                                            int b);
ZYL_API int blockrec_absent(void);

ZYL_EXTERN_C_END

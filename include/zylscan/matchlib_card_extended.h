/* Matcher library extended card template parts that stand on their own: the
 * C1 block-map element and its expansion into a grid feature map, the
 * difference prefix code of its detail layer, the packed image record
 * (template type 71) and the C3 image-information element. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_tlv.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* C3 image information: version 1, u16 rows, u16 columns (little-endian), an
 * optional flag byte. 0, 2 for null arguments, or 3 when shorter than 5 bytes
 * or not version 1 (outputs zeroed). A missing flag byte reads as 0. */
ZYL_API int card_parse_image_info(const uint8_t* value, uint32_t length, uint16_t* rows,
                                  uint16_t* columns, uint8_t* flag);

/* Packed image record: "KWIM", version 00 01, rows, columns, vertical and
 * horizontal resolution (big-endian u16), a flag byte, then the pixels row by
 * row. The record is allocated here and freed by the caller with free().
 * 0, 2 for null arguments, 9 out of memory. */
ZYL_API int packed_image_write(const uint8_t* pixels, uint16_t rows, uint16_t columns,
                               uint16_t horizontal_dpi, uint16_t vertical_dpi, uint8_t flag,
                               uint8_t** out, uint32_t* out_size);
/* 0 with the pixel pointer into the record; 3 unless the record is at least
 * 15 bytes, starts with "KWIM" 00 01 and is exactly 15 + rows x columns long;
 * 2 for null arguments. Outputs are set only on success. */
ZYL_API int packed_image_read(const uint8_t* record, uint32_t length, const uint8_t** pixels,
                              uint16_t* rows, uint16_t* columns, uint16_t* horizontal_dpi,
                              uint16_t* vertical_dpi, uint8_t* flag);

/* Statuses of gridmap_from_compact beside the shared ones (ML_OK,
 * ML_WRONG_KIND, ML_BAD_ARGUMENT, ML_NO_MEMORY): where a long-form C1
 * value stops making sense. */
enum GridMapCompactStatus {
  GRIDMAP_COMPACT_BAD_LONG_FORM = 4,     /* second byte of the long form not zero */
  GRIDMAP_COMPACT_BASE_PAST_END = 5,     /* base layer beyond the input */
  GRIDMAP_COMPACT_DETAIL_PAST_END = 6    /* detail layer beyond the input */
};

/* Expands a C1 block-map value into the grid feature map byte form (5B DA 02,
 * cell size, resolution 500, columns, rows, 00 00, the base cells, the detail
 * cells when a detail layer is read, then the optional trailing 4 bytes and
 * the optional trailing byte). With a null out_map only validates and reports
 * the origins and dimensions. The map is allocated here and freed by the
 * caller with free(). Status: 0; 1 malformed size; 2 null arguments; 4 long
 * form whose second byte is not zero; 5 base beyond the input; 6 detail layer
 * beyond the input; 9 out of memory. Outputs are set only on success. */
ZYL_API int gridmap_from_compact(const uint8_t* c1, uint32_t length, uint8_t** out_map,
                                 uint32_t* out_size, int* out_vertical_origin,
                                 int* out_horizontal_origin, int* out_rows, int* out_columns,
                                 int skip_detail, const uint8_t* trailing_byte,
                                 const uint8_t* trailing4);

/* Extent of a grid feature map at 500 dpi (192 x 192 when its resolution is
 * 0). 0; 2 null arguments; 3 shorter than 10 bytes; 1 without 5B DA 02. */
ZYL_API int gridmap_extent_500(const uint8_t* map, uint32_t length, int* width, int* height);

/* The detail layer's prefix code: 0 -> 00, +1 -> 01, -1 -> 11, +2 -> 101,
 * -2 -> 100, most significant bit first, the last byte filled with zeros.
 * Packing: 0; 2 for null arguments or a value outside -2..2; 1 when the code
 * needs more than max_bytes. Unpacking gives the values as bytes (0, 1, 255,
 * 2, 254): 0; 2 for null arguments; 17 when fewer than count values can be
 * read (nothing is handed out then). */
ZYL_API int diffcode_pack(const int8_t* values, uint32_t count, uint32_t max_bytes, uint8_t* out,
                          uint32_t* out_bytes);
ZYL_API int diffcode_unpack(const uint8_t* bytes, uint32_t length, uint32_t count,
                            uint8_t* out_values, uint32_t* out_count);

/* Splits an extended card template: the bytes must be one element spanning
 * exactly `length`: E1 { 7F2E card, C1, C2, C3 } or 7F2E { ..., A2 { C1,
 * C2, C3 } }. The card part points into the bytes. C1..C3 are zeroed when
 * absent (0 is answered all the same) and always zeroed first; any output
 * may be null. 3 for any other shape, 2 for null bytes. */
ZYL_API int card_parse_extended(const uint8_t* bytes, uint32_t length, const uint8_t** card,
                                uint32_t* card_size, TlvElement* c1, TlvElement* c2, TlvElement* c3);
/* Re-encodes the template without its first C2 (packed image) element, for
 * a 7F2E template with 7F2E/A2/C2 or an E1 wrapper with a C2 child. The
 * output is allocated here (free()). 3 without C2 or of another shape, 9 out
 * of memory. */
ZYL_API int card_strip_image(const uint8_t* bytes, uint32_t length, uint8_t** out, uint32_t* out_size);
/* Appends a primitive element (tag, value) as the last child of the first A2
 * element (pre-order) and re-encodes: 2 without A2, 3 unparsable, 9 out of
 * memory. The output is allocated here (free()). */
ZYL_API int card_add_a2_element(const uint8_t* card, uint32_t length, uint16_t tag, const uint8_t* value,
                                uint32_t value_length, uint8_t** out, uint32_t* out_size);

ZYL_EXTERN_C_END

/* Matcher library card template conversions: standard ISO minutiae records
 * (and the internal minutiae record) to card templates and back, and the
 * extended card templates that carry the block maps and the image.
 *
 * Outputs are allocated here (free()); inputs are bounded by their sizes.
 * Status: 0; 2 null arguments; 3 wrong header, missing element or failed
 * record checks; 9 out of memory; encoding errors pass through. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_minutiae.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* ISO 2005 records give 7F2E { A1 { 90, 92, 93, 94 } }, ISO 2011 records
 * 7F2E { 81, 92, 93, 94 }; at most min(maximum, 128) minutiae, moved into
 * the card's window when they span at most 492 pixels. Minutiae that would
 * still fall outside 0..255 on the card are left out. */
ZYL_API int fmr_to_card(const uint8_t* record, uint32_t size, int max_minutiae, uint8_t** out,
                        uint32_t* out_size);
/* Through a temporary ISO 2005 (or 2011) record of the record's minutiae;
 * 3 unless the resolution is 197. */
ZYL_API int minrec_to_card(const MinutiaeRecord* record, int max_minutiae, uint8_t** out,
                           uint32_t* out_size);
ZYL_API int minrec_to_card_2011(const MinutiaeRecord* record, int max_minutiae, uint8_t** out,
                                uint32_t* out_size);

/* Card to record, with cores, deltas and zonal quality as extended blocks.
 * 3 also for more than 255 minutiae (the record's count is one byte) and for
 * a zonal element whose resolution byte gives no cell size. */
ZYL_API int card_to_iso2005(const uint8_t* card, uint32_t length, uint8_t** out, uint32_t* out_size);
ZYL_API int card_to_iso2011(const uint8_t* card, uint32_t length, uint8_t** out, uint32_t* out_size);
/* Into the caller's record (minutiae, size, cores, deltas, zonal quality). */
ZYL_API int card_to_minrec(const uint8_t* card, uint32_t length, MinutiaeRecord* record);
/* The bytes must be one element spanning `length`: a 7F2E card, or E1
 * whose first child is one. */
ZYL_API int card_to_minrec_any(const uint8_t* bytes, uint32_t length, MinutiaeRecord* record);

/* 7F2E { A1 { 81, 90, 92, 93, 94 of the card }, A2 { 82, C1 block maps,
 * C2 packed image (500 dpi, when pixels are given), C3 image information
 * (when rows x columns is not 0) } }. The maps go in when both have cells
 * of equal rows and columns; with both fine maps (3 rows x 3 columns a
 * cell) the C1 element carries the detail layer. */
ZYL_API int card_build_extended(const uint8_t* card, uint32_t length, const CellMap* orientation,
                                const CellMap* frequency, const uint8_t* orientation_fine,
                                const uint8_t* frequency_fine, const uint8_t* pixels, uint16_t rows,
                                uint16_t columns, uint8_t image_flag, uint8_t info_flag, uint8_t** out,
                                uint32_t* out_size);
ZYL_API int card_build_extended_maps(const uint8_t* card, uint32_t length, const CellMap* orientation,
                                     const CellMap* frequency, const uint8_t* orientation_fine,
                                     const uint8_t* frequency_fine, uint16_t rows, uint16_t columns,
                                     uint8_t info_flag, uint8_t** out, uint32_t* out_size);
/* E1 { card, C1 base block maps }: 3 when the card does not parse, 17 when
 * the maps are empty or differ in size, or memory runs out. */
ZYL_API int card_wrap_block_maps(const uint8_t* card, uint32_t size, const CellMap* orientation,
                                 const CellMap* frequency, uint8_t** out, uint32_t* out_size);

ZYL_EXTERN_C_END

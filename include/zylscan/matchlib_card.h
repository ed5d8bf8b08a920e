/* Matcher library card templates: the compact minutiae the card matchers
 * read out of a card template, and their conflict distances. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_tlv.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Largest number of minutiae a card template carries. */
enum { CARD_MAX_MINUTIAE = 128 };

/* Compact minutia: position at 100 pixels per centimetre, direction in 256
 * steps a turn, quality byte (240 when the card has no quality element). */
typedef struct CompactMinutia {
  uint8_t x;
  uint8_t y;
  uint8_t direction;
  uint8_t quality;
} CompactMinutia;

/* One byte a minutia: the smallest distance to a minutia it conflicts with
 * (nearly opposite and facing each other: their distance; near-parallel and
 * closer than 8: distance + 20), 255 without conflict. 2 for null arguments
 * with a non-zero count, else 0. */
ZYL_API int minutiae_conflict_distance(const CompactMinutia* minutiae, uint32_t count, uint8_t* out);

/* Element lookups in a card template (a 7F2E element at the start of `card`,
 * which must lie within `length` bytes; every lookup is bounded by it).
 * card_find_element seeks the tag among the children of 7F2E, then of
 * 7F2E/A1: 0 found, 3 otherwise (2 for null arguments). */
ZYL_API int card_find_element(const uint8_t* card, uint32_t length, uint16_t tag, TlvElement* out);
/* The minutiae element, tried as 7F2E/81, 7F2E/A1/81, 7F2E/90, 7F2E/A1/90:
 * 0 with its value; 3 when none is found or its length is not a multiple of 3. */
ZYL_API int card_get_minutiae(const uint8_t* card, uint32_t length, const uint8_t** value,
                              uint32_t* value_length);
/* Total size of the leading element when it is a 7F2E element lying within
 * `length` bytes, else 0. */
ZYL_API uint32_t card_template_size(const uint8_t* bytes, uint32_t length);

/* Size of the scratch area card_read_minutiae takes. */
enum { CARD_READ_WORK_SIZE = 128 + 128 + 4 * CARD_MAX_MINUTIAE };

/* Reads at most min(maximum, 128) compact minutiae out of a card template.
 * With `reduce` set and more minutiae than the maximum, repeats go, the
 * central band is kept and the minutiae without conflict come first. The
 * work area (CARD_READ_WORK_SIZE bytes) may be null. 0; 2 for null outputs;
 * 17 without a minutiae element or when a quality element (98 EC 15 E1 ...)
 * disagrees with the minutia count. */
ZYL_API int card_read_minutiae(const uint8_t* card, uint32_t length, uint32_t maximum, int reduce,
                               void* work, CompactMinutia* out, uint32_t* count, int* has_quality);

typedef struct MinutiaeRecord MinutiaeRecord;

/* Re-encodes the card (a malloc'd buffer of `length` bytes at *card) with a
 * quality element 82 built from the record: 98 EC 15 E1, then per minutia
 * the quality in 16 steps (high 4 bits; quality 100 gives 15) and the extra
 * value (low 4 bits). The minutiae and the 91-95 elements stay, inside A1
 * when two or more of A1, 81, 90-95 are present. *card then holds the new
 * buffer and the old one is freed. On any failure (2 null arguments, 3 not
 * a well-formed 7F2E card, 9 memory, encoding errors) *card and its buffer
 * stay as they were: the caller still owns and frees it. */
ZYL_API int card_add_quality_element(uint8_t** card, uint32_t length, const MinutiaeRecord* record,
                                     uint32_t* out_size);

ZYL_EXTERN_C_END

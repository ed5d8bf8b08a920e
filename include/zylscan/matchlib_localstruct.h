/* Matcher library local-structure forms of a card template and their
 * matchers. The 64-minutia form lists for each of at most 64 minutiae its
 * neighbours (up to 24, by relative angle) and the set of their indices.
 * Layout: n (1 byte), 64 compact minutiae (256 bytes, unused entries 0),
 * the has-quality flag (1 byte), then per minutia a 33-byte record
 * {neighbour count, 24 relative angles in ascending neighbour index, 8-byte
 * neighbour set (bit j of byte j / 8)}. The 46-minutia form is built the
 * same way with 46 minutiae (a 186-byte head) and 27-byte records of up to
 * 20 neighbours and a 6-byte set. Nothing here allocates: work areas and
 * outputs belong to the caller. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  LOCALSTRUCT64_HEAD = 258,
  LOCALSTRUCT64_RECORD = 33,
  LOCALSTRUCT64_MAX_MINUTIAE = 64,
  LOCALSTRUCT64_MAX_NEIGHBOURS = 24,
  LOCALSTRUCT64_SIZE = 258 + 64 * 33 /* 2370 */
};

/* Result of a card comparison, preset by the caller: kind 10 and count 0
 * ask for the sub-values; the comparison sets the count to 1, and to 9
 * when it fills them. */
typedef struct CardMatchResult {
  uint16_t score;
  uint16_t kind;
  uint16_t count;
  uint16_t sub[8];
} CardMatchResult;

/* Alignment of a card comparison: angle in 256 steps, offsets in card units. */
typedef struct CardAlignment {
  uint8_t angle;
  int16_t dx;
  int16_t dy;
} CardAlignment;

enum { CARD_RESULT_KIND = 10, LOCALSTRUCT64_COMPARE_WORK = 2050, LOCALSTRUCT64_LINKS = 614 };

/* Copy callback: (output, offset, source, length) -> 0, non-zero refuses. */
typedef int (*LocalStructCopy)(uint8_t* output, uint16_t offset, const uint8_t* source,
                               uint16_t length);

/* 1 when offset + length passes byte 2370, else copies and answers 0. */
ZYL_API int localstruct64_copy(uint8_t* output, uint16_t offset, const uint8_t* source,
                               uint16_t length);

/* Builds the form of a card in the caller's work area and hands it to the
 * output through `copy` in batches. 0; 9 for a work area of 1025 bytes or
 * less or an output under 2370 bytes (out length then 2370); 17 when the
 * callback refuses; card_read_minutiae's status. When the work area is the
 * output itself the form is built in place and nothing is copied. */
ZYL_API int localstruct64_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                  uint32_t card_length, uint8_t* output, uint16_t output_size,
                                  uint16_t* out_length, LocalStructCopy copy);

/* 0 when the form's `length` bytes hold n records (258 + 33 n), n is at
 * most 64, and every record's count is at most 24, equals its neighbour
 * set's popcount and names no index at or past n; 17 otherwise. */
ZYL_API int localstruct64_form_check(const uint8_t* form, uint32_t length);

/* Compares a prepared form (card A, `form_length` bytes) with card B. Mode
 * bit 0: full-turn rotation tolerance; bit 1: fill the sub-values. 0; 17
 * for a work area of 2049 bytes or less or a form that fails
 * localstruct64_form_check; card_read_minutiae's status for card B. Fewer
 * than two pairs score 0. */
ZYL_API int localstruct64_compare(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                  uint32_t form_length, const uint8_t* card, uint32_t card_length,
                                  CardMatchResult* result, CardAlignment* alignment, int mode);

/* As localstruct64_prepare and localstruct64_compare, but both read every
 * minutia of the card as stored (no reduction to the central band when
 * there are more than 64), and the comparison counts unpaired minutiae
 * inside the paired region as poor by their quality byte alone: the build
 * the card comparison uses. */
ZYL_API int localstruct64_prepare_unreduced(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                            uint32_t card_length, uint8_t* output,
                                            uint16_t output_size, uint16_t* out_length,
                                            LocalStructCopy copy);
ZYL_API int localstruct64_compare_unreduced(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                            uint32_t form_length, const uint8_t* card,
                                            uint32_t card_length, CardMatchResult* result,
                                            CardAlignment* alignment, int mode);

enum {
  LOCALSTRUCT46_HEAD = 186,
  LOCALSTRUCT46_RECORD = 27,
  LOCALSTRUCT46_MAX_MINUTIAE = 46,
  LOCALSTRUCT46_MAX_NEIGHBOURS = 20,
  LOCALSTRUCT46_SIZE = 186 + 46 * 27, /* 1428 */
  LOCALSTRUCT46_LINKS = 416,
  LOCALSTRUCT46_COMPARE_WORK = 1460,     /* localstruct46_compare, localstruct64_compare_compact */
  LOCALSTRUCT46_COMPARE_ALT_WORK = 1646  /* localstruct46_compare_alt */
};

/* Builds the 46-minutia form of a card (its first 46 minutiae as stored)
 * in the work area and hands it to the output through `copy` in batches of
 * (work size - 186) / 27 records (all with more than 1454 bytes). 0 with
 * *out_size = 186 + 27 n; 9 for a work area of 953 bytes or less or an
 * output under 1428 bytes (*out_size then 1428); 17 when the callback
 * refuses; card_read_minutiae's status. When the work area is the output
 * itself the form is built in place and nothing is copied.
 * localstruct46_prepare_alt is the same routine, the packing that goes
 * with localstruct46_compare_alt. */
ZYL_API int localstruct46_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                  uint32_t card_length, uint8_t* output, uint16_t output_size,
                                  uint16_t* out_size, LocalStructCopy copy);
ZYL_API int localstruct46_prepare_alt(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                      uint32_t card_length, uint8_t* output, uint16_t output_size,
                                      uint16_t* out_size, LocalStructCopy copy);

/* 0 when the form's `length` bytes hold n records (186 + 27 n), n is at
 * most 46, and every record's count is at most 20, equals its neighbour
 * set's popcount and names no index at or past n; 17 otherwise. */
ZYL_API int localstruct46_form_check(const uint8_t* form, uint32_t length);

/* Compact matchers of a stored form (`form_length` bytes) against a probe
 * card, reading at most 46 probe minutiae as stored:
 * - localstruct46_compare: a 46-minutia form, 20 neighbours per probe
 *   minutia, work area over 1459 bytes;
 * - localstruct46_compare_alt: the same form, 24 neighbours per probe
 *   minutia, work area over 1645 bytes;
 * - localstruct64_compare_compact: a 64-minutia form (checked as
 *   localstruct64_form_check does), 20 neighbours, work area over 1459.
 * Option bit 0: full-turn rotation search; bit 1: fill the sub-values of a
 * result of kind 10 and count 0 (count 1, then 9 when filled). 0; 17 for a
 * small work area or a form that fails its check; card_read_minutiae's
 * status for the probe. Fewer than two pairs score 0; the alignment (angle
 * and offsets in card units) is zero without pairs. */
ZYL_API int localstruct46_compare(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                  uint32_t form_length, const uint8_t* card, uint32_t card_length,
                                  CardMatchResult* result, CardAlignment* alignment, int option);
ZYL_API int localstruct46_compare_alt(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                      uint32_t form_length, const uint8_t* card, uint32_t card_length,
                                      CardMatchResult* result, CardAlignment* alignment, int option);
ZYL_API int localstruct64_compare_compact(uint8_t* work, uint16_t work_size, const uint8_t* form,
                                          uint32_t form_length, const uint8_t* card,
                                          uint32_t card_length, CardMatchResult* result,
                                          CardAlignment* alignment, int option);

ZYL_EXTERN_C_END

/* Matcher library card templates: the compact minutiae the card matchers
 * read out of a card template, and their conflict distances. */
#pragma once

#include <stdint.h>

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

ZYL_EXTERN_C_END

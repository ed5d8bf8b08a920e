/* Matcher library keypoint descriptor types: the static record of one
 * descriptor type (a one-bit type id, a variant word and its operations),
 * the selection of records from a flag word, and the Hamming-distance
 * kernels all types share.
 *
 * Descriptor bit k is bit (k mod 8) of byte k/8. A 16-byte descriptor has a
 * lower half (bytes 0..7) and an upper half (bytes 8..15). Distance modes:
 * 0 and 0x80 select the 128-bit distance, 64 the 64-bit distance on the
 * lower halves, 256 the 256-bit distance (32 bytes from each start, i.e. a
 * descriptor and the next one; never ask it for the last descriptor of an
 * array). Probe transforms: invert complements every probe bit; invert with
 * swap also exchanges the probe's halves (for the 64-bit distance: the
 * complemented lower half is compared with the gallery's upper half). */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct BlockRecord BlockRecord;

enum { DESC_VARIANT_SYMMETRIC = 2, DESC_TYPE_COUNT = 10 };

/* Four caller-owned arrays indexed by point; the caller initialises them and
 * the matching operations only ever lower the stored distances. */
typedef struct MatchBests {
  uint16_t* probe_best;    /* best distance of each probe point */
  uint16_t* gallery_best;  /* best distance of each gallery point */
  int16_t* probe_match;    /* gallery index of each probe point's best */
  int16_t* gallery_match;  /* probe index of each gallery point's best */
} MatchBests;

typedef struct DescriptorType {
  uint32_t type_id; /* exactly one bit set */
  uint32_t variant; /* bit value 2: point-symmetric sampling pattern */
  int (*compute)(BlockRecord* record, int extension, const uint8_t* pixels, const uint8_t* mask,
                 int height, int width);
  uint32_t (*size)(void); /* bytes per descriptor */
  uint32_t (*get)(const uint8_t* array, int index, uint8_t* destination);
  uint32_t (*put)(const uint8_t* source, uint8_t* array, int index);
  int (*match_lists)(uint32_t probe, uint32_t start, uint32_t count, int invert, int swap,
                     int mode, const BlockRecord* a, const BlockRecord* b, MatchBests* bests);
  int (*pair_distance)(int i, int j, int count, const uint8_t* a, const uint8_t* b, int mode,
                       int invert, uint8_t* out);
  uint32_t (*pattern_id)(void);
  uint32_t (*compared_size)(void);
} DescriptorType;

/* Appends the records whose type id is in `flags` (fixed order) and a null
 * entry to `list` (eleven entries); answers the number appended. */
ZYL_API int desc_types_select(const DescriptorType** list, uint32_t flags);

/* get/put of the 16-byte types: copy 16 bytes and answer 16 (put answers 0
 * for a null source; get with a null destination only answers the size). */
ZYL_API uint32_t desc16_get(const uint8_t* array, int index, uint8_t* destination);
ZYL_API uint32_t desc16_put(const uint8_t* source, uint8_t* array, int index);

/* One probe descriptor (probe index i of record a) against gallery points
 * start .. start+count-1 of record b, updating `bests`. 0; 1 for a mode
 * other than 0, 0x80, 64 or a combined comparison (a has two or more
 * extensions) with invert or swap; 2 for null records, arrays or points
 * outside the records. */
ZYL_API int desc_match_lists(uint32_t probe, uint32_t start, uint32_t count, int invert, int swap,
                             int mode, const BlockRecord* a, const BlockRecord* b,
                             MatchBests* bests);
/* Distances of descriptor i of a to descriptors j .. j+count-1 of b (16-byte
 * arrays), one byte each: 0, 1 for an unsupported mode, 2 for null arrays. */
ZYL_API int desc_pair_distance(int i, int j, int count, const uint8_t* a, const uint8_t* b,
                               int mode, int invert, uint8_t* out);
ZYL_API int desc_pair_distance_sym(int i, int j, int count, const uint8_t* a, const uint8_t* b,
                                   int mode, int invert, uint8_t* out);
/* Type 0x8: 64 in out[0] when either descriptor is all zero (a point
 * outside the image), else the 128-bit distances; the mode is ignored. */
ZYL_API int desc8_distance(int i, int j, int count, const uint8_t* a, const uint8_t* b, int mode,
                           int invert, uint8_t* out);

/* One-to-many kernels: `probe` against `count` gallery descriptors at
 * 16-byte steps (256-bit: 32-byte steps), one distance byte each. */
ZYL_API void hamming64_to_many(const uint8_t* probe, const uint8_t* gallery, int count, int invert,
                               int swap, uint8_t* out);
ZYL_API void hamming128_to_many(const uint8_t* probe, const uint8_t* gallery, int count,
                                int invert, int swap, uint8_t* out);
ZYL_API void hamming256_to_many(const uint8_t* probe, const uint8_t* gallery, int count,
                                int invert, int swap, uint8_t* out);

/* Direction (fx_atan2 of the vertical and horizontal Sobel differences, as
 * a signed byte) and magnitude of every pixel's gradient into two caller
 * arrays of height x width bytes. 0, 2, 9. */
ZYL_API int desc_gradient_maps(const uint8_t* pixels, int height, int width, uint8_t* direction,
                               uint8_t* magnitude);

ZYL_EXTERN_C_END

/* Matcher library grid matchers.
 *
 * The grid feature map matcher compares two serialised maps (5B DA 02 ...):
 * it searches the rotation and cell shift that best overlay them, scores
 * the overlap, and optionally decides, fills a detail record and reports
 * the alignment. It allocates nothing: work memory comes from the caller,
 * sized by gridmap_match_work_size.
 *
 * The grid-block matcher compares two grid feature blocks (format 77)
 * under a given alignment, optionally searching the nearby poses, and
 * answers 27 sub-scores and a new alignment. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct RigidTransform RigidTransform;

/* ---- grid feature map ---- */

enum {
  GRIDMAP_SQUARE = 0x02,       /* resampled first map square; per-row extents */
  GRIDMAP_FULL_TURN = 0x04,    /* 24 candidate angles, threshold table B */
  GRIDMAP_DETAIL = 0x08,       /* fill the GridMatchDetail */
  GRIDMAP_RAW_SCORE = 0x10,    /* best score 0..32767, not quality-normalised */
  GRIDMAP_WIDE_DETAIL = 0x20,  /* detail pass searches +-2 cells */
  GRIDMAP_NO_COARSE = 0x40,    /* never sample the overlap coarsely */
  GRIDMAP_GIVEN_ONLY = 0x01,   /* with an alignment: score it only */
  GRIDMAP_STRICT = 0x100,      /* tighter element and histogram pre-checks */
  GRIDMAP_DETAIL_KIND = 18,
  GRIDMAP_DETAIL_VALUES = 16
};

typedef struct GridMatchDetail {
  uint16_t score;
  uint16_t kind;  /* 18 */
  uint16_t count; /* 0 on entry; 1 once started; 17 once the values are written */
  uint16_t values[GRIDMAP_DETAIL_VALUES];
} GridMatchDetail;

/* In: pixels at the second map's resolution; out: pixels at 500 dpi. */
typedef struct GridAlignment {
  uint8_t angle; /* 256 steps a turn */
  int32_t dx;
  int32_t dy;
} GridAlignment;

/* 0, or 1 for an invalid map (length, magic, check byte, zero cell size or
 * resolution, a remainder that no optional part explains). Outputs may be
 * null; the detail layer and the 4-byte element are null when absent. */
ZYL_API int gridmap_parse(const uint8_t* bytes, uint16_t length, uint8_t* columns, uint8_t* rows,
                          uint8_t* cell_size, uint16_t* resolution, const uint8_t** cells,
                          const uint8_t** detail, uint8_t* quality, const uint8_t** element);

/* Bytes of work memory gridmap_match needs; 0 when a map is invalid or
 * the first map resampled to the second's scale has a side over 255. */
ZYL_API uint32_t gridmap_match_work_size(const uint8_t* map1, uint16_t length1,
                                         const uint8_t* map2, uint16_t length2, uint32_t flags);

/* 0; 1 an invalid map or a resampled side over 255; 2 decision index over
 * 12 or work memory smaller than gridmap_match_work_size. score_record's
 * first u16 is the score; with GRIDMAP_DETAIL it is a GridMatchDetail when
 * its kind is 18 and its count 0. */
ZYL_API int gridmap_match(void* work, uint32_t work_size, const uint8_t* map1, uint16_t length1,
                          const uint8_t* map2, uint16_t length2, int decision_index,
                          uint16_t* score_record, uint8_t* decision, GridAlignment* alignment,
                          uint32_t flags);

/* out[0]: best orientation-histogram intersection over 12 circular shifts;
 * out[1]: value-histogram intersection. 0 or 1. */
ZYL_API int gridmap_histogram_similarity(const uint8_t* map1, uint16_t length1,
                                         const uint8_t* map2, uint16_t length2, uint16_t* out);

/* Entropy in 1/100 bit of a histogram of n bins (piecewise-linear log). */
ZYL_API uint32_t histogram_entropy(const uint32_t* counts, int n);

/* ---- bounded grid-map comparison (card comparison path) ---- */

enum {
  GRIDMAP_BOUNDED_HEAD = 136,    /* histogram bytes in front of the resampled map */
  GRIDMAP_BOUNDED_MAX_PROBE = 256 /* cells of the probe map at most */
};

/* 0 when the map is valid and its length is one of 2c + 10, 2c + 11,
 * 20c + 10, 20c + 11 (c = columns x rows); 1 otherwise. Outputs may be null. */
ZYL_API int gridmap_validate(const uint8_t* bytes, uint32_t length, uint8_t* columns,
                             uint8_t* rows, uint8_t* cell_size, uint16_t* resolution,
                             const uint8_t** cells);

/* Work bytes gridmap_match_bounded needs for reference a in probe b: 0 when
 * a map is invalid, 1 when a resampled side is 0, else 2 x cells + 136. */
ZYL_API uint32_t gridmap_bounded_work_size(const uint8_t* a, uint32_t length_a, const uint8_t* b,
                                           uint32_t length_b);

/* 100 x the Shannon entropy in bits of a 22-bin histogram, at most 65535. */
ZYL_API uint32_t gridmap_cell_entropy(const uint8_t* histogram22);

/* 0 with out[0] = best circular orientation-histogram intersection and
 * out[1] = value-histogram intersection; out[0] = 0 and out[1] untouched
 * when a has no cells; 17 (out[0] = 0) when a map is invalid. */
ZYL_API int gridmap_histogram_similarity_card(const uint8_t* a, uint32_t length_a,
                                              const uint8_t* b, uint32_t length_b, uint16_t* out);

/* Compares the reference map, resampled into the probe's frame under the
 * given alignment (direction in 256 steps a turn, offsets in probe pixels),
 * cell by cell. scores points at entry 9 of a card score vector: [0] score,
 * [1] kind (18 on entry), [2] status (0 on entry; 1 started, 17 sub-values
 * written), [3..18] sub-values. Mode must have bits 0 and 3 (25, 29). The
 * alignment comes back with offsets in 500-dpi pixels. 0; 1 a map invalid;
 * 2 work too small, probe over 256 cells, or a call of another form. */
ZYL_API int gridmap_match_bounded(void* work, uint32_t work_size, const uint8_t* reference,
                                  uint32_t reference_length, const uint8_t* probe,
                                  uint32_t probe_length, int reserved, uint16_t* scores,
                                  void* reserved_out, GridAlignment* alignment, int mode);

/* ---- grid feature block ---- */

enum { GRIDBLOCK_SUBSCORES = 27, GRIDBLOCK_SEARCH_PARAMS = 14 };

/* Search record (14 int16) defaults: 4 16 32 7 96 256 1 21 21 21 64 0 20 10. */
ZYL_API const int16_t* gridblock_default_search(void);

/* 0; 1 missing sub-scores or count, or count not 27; 2 a search record
 * whose angle range (index 3) lies outside 0..256 or whose plane scale
 * (index 5) lies outside 0..512 (the alignment is left as it was); the parse
 * status of either block; 17 a gallery cell size of 0; 9 out of memory. A
 * block without rows or columns pairs no cell: 0 with zero sub-scores. The
 * incoming alignment is released once read; on success a new one built
 * from the final pose takes its place. */
ZYL_API int gridblock_match(const uint8_t* probe, uint32_t probe_length, const uint8_t* gallery,
                            uint32_t gallery_length, int resolution, uint16_t* scores,
                            uint16_t* count, RigidTransform** alignment,
                            const int16_t* search_params);

ZYL_EXTERN_C_END

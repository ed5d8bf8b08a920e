/* Matcher library orientation fields and singular points.
 *
 * Orientation byte: A/2 + 64 where A (0..255) is the direction of the
 * smoothed doubled-angle ridge vector; always 64..191. Coherence byte:
 * 0..255, 255 for a perfectly uniform direction. Images are height rows of
 * width bytes; block maps are block rows x block columns bytes; masks may
 * be null (everything counts). Results are matcher library status codes:
 * 0, 2 bad argument, 9 out of memory, or a smoothing kernel's status. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* presmooth 1 smooths a copy with the 3x3 box mean before the gradients. */
ZYL_API int orient_block_moments(const uint8_t* image, int height, int width,
                                 const uint8_t* block_mask, int block_rows, int block_columns,
                                 int block_size, int32_t* gxy, int32_t* gxx, int32_t* gyy,
                                 int16_t* count, int presmooth);
ZYL_API int orient_block_field(const uint8_t* image, int height, int width,
                               const uint8_t* block_mask, uint8_t* orientation, uint8_t* coherence,
                               int block_rows, int block_columns, int block_size,
                               uint8_t* raw_direction, int presmooth);
ZYL_API int orient_block_field_presmoothed(const uint8_t* image, int height, int width,
                                           const uint8_t* block_mask, uint8_t* orientation,
                                           uint8_t* coherence, int block_rows, int block_columns,
                                           int block_size, uint8_t* raw_direction);
ZYL_API int orient_block_coherence(const uint8_t* image, int height, int width,
                                   uint8_t* coherence, const uint8_t* block_mask, int block_rows,
                                   int block_columns, int block_size, int presmooth);
ZYL_API int orient_block_coherence_presmoothed(const uint8_t* image, int height, int width,
                                               uint8_t* coherence, const uint8_t* block_mask,
                                               int block_rows, int block_columns,
                                               int block_size);

/* Per-pixel fields over (2r + 1)^2 windows; r must be 0..63. c and s (Q14
 * doubled-angle vectors) are written only when both are given. */
ZYL_API int orient_pixel_vectors(const uint8_t* image, int height, int width,
                                 const uint8_t* pixel_mask, int radius, uint8_t* coherence,
                                 int16_t* c, int16_t* s);
ZYL_API int orient_pixel_field(const uint8_t* image, int height, int width,
                               const uint8_t* pixel_mask, int radius, uint8_t* orientation,
                               uint8_t* coherence);

/* Enlarges an orientation map by an integer factor, interpolating the
 * shorter way round the half turn. */
ZYL_API int orient_map_resize(const uint8_t* map, int rows, int columns, int factor, uint8_t* out,
                              int out_rows, int out_columns);

/* Map repairs on half-turn orientation maps (0..127) with coherence and
 * weight bytes. Hole filling fills cells of coherence 0 from their weighted
 * 8 neighbours, pass after pass, until a pass fills nothing or no hole is
 * left. Outlier repair sets a cell to the mean of an agreeing opposite
 * pair of neighbours when it differs from it by more than 20. Weighted
 * smoothing takes the 3x3 binomial mean, weighted by the weight map, at
 * every cell whose mask and coherence are set. Answer 0, 2 or 9. */
ZYL_API int orient_fill_holes(uint8_t* orientation, uint8_t* coherence, uint8_t* weight, int rows,
                              int columns);
ZYL_API int orient_fix_outliers(uint8_t* map, int unused, int rows, int columns);
ZYL_API int orient_smooth_weighted(uint8_t* orientation, uint8_t* coherence, uint8_t* weight,
                                   const uint8_t* mask, int rows, int columns);

/* Singular points of a pixel orientation map (values repeating every 128
 * steps): code 253 core, 254 double core, 255 delta. */
typedef struct SingularPoint {
  uint32_t index; /* row * width + column */
  uint8_t code;
  uint8_t direction; /* 256 steps a turn */
} SingularPoint;

/* One core or delta of a minutiae record's lists: a core uses the first
 * direction byte, a delta all three (its arms). */
typedef struct SingularEntry {
  uint16_t row;
  uint16_t column;
  uint8_t direction[3];
  uint32_t present; /* 1 once written */
} SingularEntry;

/* The core list or the delta list of a minutiae record: up to 4 entries. */
typedef struct SingularList {
  SingularEntry entries[4];
  uint8_t count;
} SingularList;

/* Poincare code of the pixel on the square ring of radius r: 253, 254, 255,
 * 1 for an ordinary point, 0 otherwise. The caller keeps the ring inside
 * the map. */
ZYL_API int singular_poincare_index(const uint8_t* map, int width, int index, int radius);
/* Scans rows and columns 9 .. size - 10; mask may be null. 0, 2 or 9. */
ZYL_API int singular_find_points(const uint8_t* map, const uint8_t* mask, int height, int width,
                                 SingularPoint* points, int* count, int max_count);
/* Copies cores (253, 254) and deltas (255) into the lists (either may be
 * null), at most 4 each. Answers 0. */
ZYL_API int singular_split_cores_deltas(const SingularPoint* points, int count, int width,
                                        SingularList* cores, SingularList* deltas);

/* Inconsistency of a pixel orientation map: 0 where the 3 x 3 doubled-angle
 * vectors agree, high where they cancel. 0, 2 or 9. */
ZYL_API int orient_inconsistency_map(const uint8_t* orientation, int height, int width,
                                     uint8_t* out);
ZYL_API int orient_inconsistency_from_vectors(const int16_t* c, const int16_t* s, int height,
                                              int width, uint8_t* out);
/* Local maxima above 128 of an inconsistency map whose radius-1 Poincare
 * code marks a core or delta (direction 0). 0 or 2. */
ZYL_API int singular_find_candidates(const uint8_t* inconsistency, const uint8_t* orientation,
                                     int height, int width, SingularPoint* points, int* count,
                                     int max_count);
/* A lightened copy of the image with a marker and direction lines for
 * every point (three for a delta); the caller frees *out with free(). */
ZYL_API int singular_draw_points(const uint8_t* image, int height, int width,
                                 const SingularPoint* points, int count, uint8_t** out);

ZYL_EXTERN_C_END

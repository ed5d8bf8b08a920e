/* The type-line engine's record of one finger and its stored form, the
 * type-line template: at most 750 bytes, a 4-byte header ('A', offset of the
 * first section, width / 2, height / 2) and the tagged sections A (pattern
 * type, density, ridge frequency), B (eight 9-bit type-line values), C (block
 * direction grid, 4 bits a cell), D (singular points) and E (minutiae).
 *
 * Co-ordinates are pixels of the source image, 0..511 in the template;
 * directions are 0..239 (1.5-degree steps); block directions are
 * orientations 0..119, 255 for none. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

#define TYPELINE_TEMPLATE_SIZE 750
#define TYPELINE_MAX_MINUTIAE 50
#define TYPELINE_MAX_SINGULAR_POINTS 4
#define TYPELINE_MAX_BLOCKS 625
#define TYPELINE_MINUTIA_LIST_SIZE 402
#define TYPELINE_TAG 0x41 /* 'A' */

/* One minutia, 8 bytes; the same entry layout in the record, in the 402-byte
 * minutiae list and in the matcher's neighbourhood lists. */
typedef struct TypelineMinutia {
  int16_t x;
  int16_t y;
  uint8_t direction; /* 0..239 */
  uint8_t curvature; /* 0..127 */
  uint8_t quality;   /* 0..63 */
  uint8_t type;      /* 0 ridge ending, 1 bifurcation */
} TypelineMinutia;

/* The minutia part of a record; byte for byte the 402-byte minutiae list
 * (multi-byte fields in the machine's order). */
typedef struct TypelineMinutiaList {
  int8_t count;        /* 0..50 */
  uint8_t meanQuality; /* set by the reader: integer mean of the qualities */
  TypelineMinutia minutiae[TYPELINE_MAX_MINUTIAE]; /* best quality first */
} TypelineMinutiaList;

/* A core (kind 1, direction 0..239) or a delta (kind 0, direction 255). */
typedef struct TypelineSingularPoint {
  int16_t x;
  int16_t y;
  uint8_t direction;
  uint8_t kind;
} TypelineSingularPoint;

typedef struct TypelineSingularList {
  int8_t count; /* 0..4, cores first */
  TypelineSingularPoint points[TYPELINE_MAX_SINGULAR_POINTS];
} TypelineSingularList;

/* Directions of 16 x 16 blocks, row after row, columns x rows cells used
 * (at most 625); after a write and a read only multiples of 8 up to 112 and
 * 255 remain. */
typedef struct TypelineBlockGrid {
  uint8_t columns;
  uint8_t rows;
  uint8_t cells[TYPELINE_MAX_BLOCKS];
} TypelineBlockGrid;

typedef struct TypelineRecord {
  uint8_t tag;          /* 'A' in every usable record */
  uint8_t firstSection; /* template offset of the first section, 4 */
  int16_t width;        /* image size in pixels (even after a read) */
  int16_t height;
  uint8_t patternType;  /* 0..10 */
  uint8_t density;      /* ridge-trace density around the singular points */
  uint8_t frequency;    /* ridge frequency */
  /* x of the last points of type lines 1..4, then their y; 0 for none. */
  int16_t typeLines[8];
  TypelineBlockGrid grid;
  TypelineSingularList singular;
  TypelineMinutiaList minutiae;
} TypelineRecord;

ZYL_EXTERN_C_BEGIN

/* Writes the template of a record into out (room for 750 bytes) and answers
 * m + 100 * L: m minutiae written, L bytes of template; -1 for a null
 * argument. Block grids of more than 507 cells keep only the whole rows
 * that fit the section's one-byte length. */
ZYL_API int get_byte_template(const TypelineRecord* record, uint8_t* out);
/* Section packers: B (9 bytes from 8 values), C (rows, columns, codes;
 * answers the bytes written) and D (count and 4-byte points; answers the
 * count written). */
ZYL_API void comp_typeline(const int16_t* values, uint8_t* out);
ZYL_API int comp_block(const TypelineBlockGrid* grid, uint8_t* out);
ZYL_API int comp_core(const TypelineSingularList* points, uint8_t* out);

/* Reads a template of 750 bytes into the record (cleared first). A record
 * from a damaged template fails mch_sub_func_03. Nothing is read past the
 * 750 bytes and nothing written outside the record. */
ZYL_API void mch_sub_func_02(const uint8_t* templ, TypelineRecord* record);
/* Section unpackers, the inverses of the packers above (decomp_block and
 * decomp_core expect the body from its rows / count byte on). decomp_core
 * answers the declared count. */
ZYL_API void decomp_typeline(const uint8_t* in, int16_t* values);
ZYL_API void decomp_block(const uint8_t* in, TypelineBlockGrid* grid);
ZYL_API int decomp_core(const uint8_t* in, TypelineSingularList* points);

/* Integer mean of the minutiae's qualities, 0 without minutiae. */
ZYL_API int mch_sub_func_04(const TypelineMinutiaList* minutiae);
/* 1 when the record is usable for matching: tag 'A', 0..4 singular points,
 * pattern type 0..10, 3..50 minutiae; else 0. */
ZYL_API int mch_sub_func_03(const TypelineRecord* record);
/* Splits the singular points into at most 2 cores and 2 deltas (deltas and
 * deltaCount may be null) in record order; answers the number of cores. */
ZYL_API int mch_sub_func_01(const TypelineSingularList* points, TypelineSingularPoint* cores,
                            TypelineSingularPoint* deltas, int* deltaCount);

ZYL_EXTERN_C_END

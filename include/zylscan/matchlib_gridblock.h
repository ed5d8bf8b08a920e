/* Matcher library grid feature block: a coarse texture description of one
 * impression (a grid of cells of six small values and a valid flag) and its
 * compact bit-packed stored form (template section type 77). */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { GRIDBLOCK_MAGIC = 0x5BDB, GRIDBLOCK_VERSION = 2, GRIDBLOCK_VALUES = 6 };

/* One cell: six value bytes, then the valid byte (1 = the cell carries data). */
typedef struct GridCell {
  uint8_t values[GRIDBLOCK_VALUES];
  uint8_t valid;
} GridCell;

typedef struct GridFeatureBlock {
  uint16_t magic;       /* 0x5BDB */
  uint8_t version;      /* 2 */
  uint8_t cell_size;    /* edge of one cell in pixels */
  uint8_t rows;
  uint8_t columns;
  uint8_t origin_x;     /* pixel offset of the first cell in its image */
  uint8_t origin_y;
  uint8_t value_count;  /* 6 */
  uint16_t resolution;  /* dpi; 0 = not given */
  GridCell* cells;      /* rows x columns, row after row; same allocation as the head */
} GridFeatureBlock;

/* Per value plane: the largest code width in bits (1..8) and the edge of the
 * square block of cells averaged into one code (1..7). */
typedef struct GridBlockPlaneSetting {
  uint8_t max_width;
  uint8_t block_size;
} GridBlockPlaneSetting;

typedef struct GridBlockSettings {
  GridBlockPlaneSetting planes[GRIDBLOCK_VALUES];
} GridBlockSettings;

/* The settings of the grid-block extraction stage: widths 8 8 6 6 4 4,
 * block sizes 1 1 1 2 3 3. */
ZYL_API const GridBlockSettings* gridblock_default_settings(void);

/* A zero-filled block with magic, version 2 and value count 6; null when
 * memory runs out. */
ZYL_API GridFeatureBlock* gridblock_create(uint8_t rows, uint8_t columns, uint16_t resolution,
                                           uint8_t origin_y, uint8_t origin_x);
ZYL_API void gridblock_free(GridFeatureBlock* block);

/* Writes the stored form into a new buffer (the caller frees it with free())
 * and reports its length. 0; 2 for a null argument or a setting outside the
 * ranges above; 1 when the form would not fit its 16-bit length; 9 when
 * memory runs out (nothing is handed out). A null settings pointer takes
 * the extraction stage's settings. */
ZYL_API int gridblock_serialize(const GridFeatureBlock* block, uint8_t** out, uint16_t* out_length,
                                const GridBlockSettings* settings);

/* Builds a new block from a stored form (free it with gridblock_free).
 * 0; 2 for a null argument; 17 for a wrong magic, a head shorter than its
 * version needs, or a plane head that no writer produces; 9 when memory runs
 * out. Bytes missing at the end of the stream read as zero. */
ZYL_API int gridblock_parse(const uint8_t* bytes, uint32_t length, GridFeatureBlock** out);

ZYL_EXTERN_C_END

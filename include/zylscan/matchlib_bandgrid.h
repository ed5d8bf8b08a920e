/* Matcher library band grid: an 8-bit grey image at 250 dpi, fed in bands
 * of rows, becomes a coarse grid of cells of {orientation, frequency,
 * contrast} from the power spectrum of a 16 x 16 window around every cell;
 * bandgrid_finish cleans the grid and writes the grid feature map
 * (5B DA 02 ..., data blob format 66) inside the grid's own storage.
 *
 * The caller allocates the grid's storage in one piece of the size that
 * bandgrid_init reports (a sizing call passes no storage) and frees it
 * after use; nothing is allocated inside. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct BandGrid BandGrid;
typedef struct MatchContext MatchContext;
typedef struct GrayImage GrayImage;
typedef struct DataBlob DataBlob;

enum { BANDGRID_MAX_CELLS = 80, GRIDMAP_FORMAT = 66 };

ZYL_API int bandgrid_target_dpi(void);

/* The initialised grid, or null for a cell size of 0, more than 80 cells a
 * side, or storage smaller than required (the required size is reported
 * through *required whenever the geometry is valid). */
ZYL_API BandGrid* bandgrid_init(void* storage, uint32_t storage_size, int row_buffer,
                                uint16_t width, uint16_t height, uint8_t cell_size,
                                uint32_t* required);

/* Takes rows (rows x width pixels) and analyses every cell row whose
 * windows are complete; answers the number of image rows received so far.
 * A grid without a row buffer takes the pixels in place as the rows from
 * row 0 on and is fed once with the whole image. */
ZYL_API uint32_t bandgrid_feed_rows(BandGrid* grid, uint32_t rows, const uint8_t* pixels);

/* The power spectrum of one 16 x 16 window into the grid's scratch. */
ZYL_API void bandgrid_cell_spectrum(BandGrid* grid, int top, int left, int rows, int mean);
/* P(u, v) of the last spectrum: u = 0..8, v = -8..7 (0 outside). */
ZYL_API uint32_t bandgrid_spectrum_at(const BandGrid* grid, int u, int v);
/* The three bytes {orientation, frequency, contrast} of cell (row, column). */
ZYL_API const uint8_t* bandgrid_cell(const BandGrid* grid, int row, int column);
ZYL_API void bandgrid_size(const BandGrid* grid, int* columns, int* rows, int* x_offset,
                           int* y_offset);

/* Contrast reduction towards the mean (strength 0..100); nothing in the
 * library calls it. */
ZYL_API void img_reduce_contrast_u8(const uint8_t* pixels, int height, int width, int strength,
                                    uint8_t* out);

/* Cleans a finished grid and writes the map inside the grid's storage
 * (valid until the storage is freed or set up again). 0; 2 when cell rows
 * are unfinished or an argument is missing. */
ZYL_API int bandgrid_finish(BandGrid* grid, uint8_t column_limit, uint8_t row_limit,
                            const uint8_t** out_map, uint16_t* out_length, uint8_t* out_quality,
                            uint16_t* out_area);

/* Stage operation: the grid feature map of an image at 250 dpi as a
 * format-66 blob. 0; 1 wrong format or a missing resolution; 2; 4 more
 * than 80 cells a side; 9 out of memory; 17 the grid did not take every row. */
ZYL_API int stage_extract_gridmap250(MatchContext* context, GrayImage* image, void* properties,
                                     int32_t format, DataBlob** out_blob);

ZYL_EXTERN_C_END

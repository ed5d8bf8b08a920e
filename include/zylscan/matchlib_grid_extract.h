/* Matcher library grid feature extraction: the front ends that lay a grid
 * of square cells over a grey image and describe every cell by the
 * strongest peaks of the power spectrum of a windowed block around it
 * (orientation, frequency, dominance, coherence, strength, contrast), and
 * the two extraction operations that bring an image object to the working
 * resolution and hand out the serialised block as a format-77 data blob.
 *
 * Front ends take (pixels, usable-pixel map (a pixel is usable when its
 * map byte has the top bit set), height, width, resolution, out buffer,
 * out length, settings) and hand out a malloc'd serialised block that the
 * caller frees with free(). Statuses: 0; 1 a size or setting the form
 * cannot take; 2 a bad argument or an image under three cells a side;
 * 9 out of memory; or the status of a service they use. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_gridblock.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct MatchContext MatchContext;
typedef struct GrayImage GrayImage;
typedef struct DataBlob DataBlob;

enum { GRIDEXT_FORMAT = 77 };

/* Parameter keys of the grid extraction. */
#define GRIDEXT_KEY_CELL_SIZE 0x0a11f34bu
#define GRIDEXT_KEY_BAND_DIVISOR 0x597b47beu
#define GRIDEXT_KEY_GAUSS_WIDTH 0x643f777eu
#define GRIDEXT_KEY_AMPLITUDE_SCALE 0x1a54b205u
#define GRIDEXT_KEY_MAX_MAXIMA 0x23d89657u
#define GRIDEXT_KEY_AGREEMENT 0xe4794fb3u
#define GRIDEXT_KEY_COHERENCE_FLAG 0x35a97c9bu
#define GRIDEXT_KEY_FRONT_END_DPI 0x4cc7a81du  /* also the twin's target resolution */
#define GRIDEXT_KEY_WORKING_DPI 0x94547f74u

/* Settings of the grid extraction, read from the context's parameters. */
typedef struct GridExtractParams {
  int16_t cell_size;          /* cell side in pixels of the working image */
  int16_t min_variance;       /* 16 */
  int16_t max_period;         /* 4608: 18 pixels in 1/256 pixel */
  int16_t min_period;         /* 1208: 4.72 pixels */
  int16_t variance_ceiling;   /* 7000 */
  int16_t variance_floor;     /* 500 */
  int16_t min_coverage;       /* 128: half of the window usable, in 1/256 */
  uint32_t band_divisor;      /* least 3 x 3 peak power = total power / this */
  uint16_t gauss_width;       /* 0: tapered window */
  uint16_t amplitude_scale;   /* 0: amplitude = peak value >> 17 (always so in the 16-bit-sample form) */
  uint16_t max_maxima;        /* a cell is valid while its candidate insertions stay below */
  uint16_t agreement_threshold; /* above 127 every cell takes its first peak */
  uint8_t coherence_flag;     /* the 16-bit-sample form writes coherence only when set */
  uint8_t plane_bits[GRIDBLOCK_VALUES];
  uint8_t plane_pooling[GRIDBLOCK_VALUES];
} GridExtractParams;

/* One accepted spectral peak of a cell. */
typedef struct SpectralPeak {
  int32_t amplitude;
  uint8_t frequency;   /* cycles per 1024 pixels of the reference resolution */
  uint8_t orientation; /* doubled wave-vector angle, 256 steps a turn */
  uint8_t dominance;
  int32_t map_column;
  int32_t map_row;
  int32_t value;       /* filtered peak value */
} SpectralPeak;

typedef struct GridCellWork {
  int32_t accepted;
  int32_t maxima;
  SpectralPeak peaks[5];
  int32_t valid;
  int32_t contrast; /* variance clamped to the settings' floor and ceiling */
  int32_t mean;
} GridCellWork;

/* Fills the record from the context (null: every default). Answers it. */
ZYL_API GridExtractParams* gridext_params_read(GridExtractParams* out, const MatchContext* context);

ZYL_API int gridblock_extract32(const uint8_t* pixels, const uint8_t* usable, int height,
                                int width, int resolution, uint8_t** out, uint16_t* out_length,
                                const GridExtractParams* params);
ZYL_API int gridblock_extract(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                              int resolution, uint8_t** out, uint16_t* out_length,
                              const GridExtractParams* params);
/* Refuses resolutions under 27 dpi (1): the least peak radius is scaled by
 * resolution x 19 / 500, which is 0 below that. */
ZYL_API int gridblock_extract_i16(const uint8_t* pixels, const uint8_t* usable, int height,
                                  int width, int resolution, uint8_t** out, uint16_t* out_length,
                                  const GridExtractParams* params);

/* The 16-bit-sample analysis of one cell whose top-left pixel is
 * (row, column): fills the accepted peaks and their count of *work. */
ZYL_API void gridblock_cell_spectrum_i16(const uint8_t* pixels, int height, int width, int row,
                                         int column, int mean, const uint8_t* window,
                                         int resolution, const GridExtractParams* params,
                                         GridCellWork* work);

/* Mean absolute difference between the orientation of peak k of cell
 * (row, column) and the first peak of its valid neighbours; 0 when the
 * cell is not valid, has no peak k or no neighbour qualifies. */
ZYL_API int gridblock_peak_agreement(const GridCellWork* works, int k, int row, int column,
                                     int rows, int columns);

/* side x side windowed block around the cell at (row, column):
 * (p - mean) * w[y] * w[x] >> 4 inside the plane, 0 outside. */
ZYL_API void plane_window_block(const uint8_t* pixels, int height, int width, int row, int column,
                                int cell_size, int mean, const uint8_t* window, int32_t* out,
                                int side);

/* Stage operations: context, image, properties (ignored), requested
 * format (77), out blob. 0; 1 wrong format, missing or unequal
 * resolutions, unsupported setting; 9 out of memory; a front end's status. */
ZYL_API int gridext_extract(MatchContext* context, GrayImage* image, void* properties,
                            int32_t format, DataBlob** out_blob);
ZYL_API int gridext_extract_i16(MatchContext* context, GrayImage* image, void* properties,
                                int32_t format, DataBlob** out_blob);

ZYL_EXTERN_C_END

/* Matcher library block spectral analysis. At every node (i * step,
 * j * step) of a grid a windowed block (32 or 16 pixels a side) is
 * transformed and its dominant spectral peak gives the ridge period (in
 * 1/256 pixel), ridge frequency byte ((period/2 + 262144)/period, cycles per
 * 1024 pixels), orientation (doubled wave-vector angle, 256 steps a turn)
 * and, for the 32-point form, the peak's dominance. The period map is then
 * cleaned, filled and smoothed into whole pixels. Every output map is
 * optional (null) and block rows x block columns bytes. Results: 0, 2 bad
 * argument, 9 out of memory. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* usable: per-pixel byte map (usable when its top bit is set) or null. */
ZYL_API int stft_block_analysis32(const uint8_t* pixels, const uint8_t* usable, int height,
                                  int width, int step, int longest_period, int shortest_period,
                                  const void* unused, int block_rows, int block_columns,
                                  uint8_t* dominance, uint8_t* period, uint8_t* frequency,
                                  uint8_t* orientation);
ZYL_API int stft_block_analysis16(const uint8_t* pixels, int height, int width, int step,
                                  int longest_period, int shortest_period, int block_rows,
                                  int block_columns, uint8_t* period, uint8_t* frequency,
                                  uint8_t* orientation);

/* Cleans (twice with an output), fills and smooths the u16 period map in
 * place; the byte output receives the periods rounded to whole pixels. */
ZYL_API int stft_map_finish_u16(uint16_t* map, int rows, int columns, uint8_t* out);
/* One clean-up pass: lone entries vanish, others move toward their
 * non-zero 4-neighbours with the extremes dropped. */
ZYL_API int stft_map_clean_u16(uint16_t* map, int rows, int columns);

ZYL_EXTERN_C_END

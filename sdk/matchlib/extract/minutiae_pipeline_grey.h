// The functions of minutiae pipeline grey that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int minutiae_pipeline_grey(const uint8_t* pixels, const uint8_t* mask, int height, int width,
                           MinutiaeRecord* record, RidgeTraceCallback ridge_trace,
                           RidgeTraceCallback second);
int minutiae_pipeline_maps(const uint8_t* pixels, const uint8_t* mask, int height, int width,
                           MinutiaeRecord* record);
int cellmap_sample(const uint8_t* map, int image_height, int image_width, int map_height,
                   int map_width, int y_origin, int x_origin, int cell_height, int cell_width,
                   ZonalQuality* out);

}  // namespace zyl::matchlib

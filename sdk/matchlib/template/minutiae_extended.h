// The functions of minutiae extended that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int fmr_add_core_delta_block(uint8_t** record, const CoreList* cores, const DeltaList* deltas);
int fmr_add_zonal_quality_block(uint8_t** record, const ZonalQuality* quality, int bits);
int fmr_add_orientation_block(uint8_t** record, const CellMap* map);
int fmr_add_frequency_block(uint8_t** record, const CellMap* map);
int fmr_read_core_delta_block(const uint8_t* record, uint32_t size, CoreList* cores,
                              DeltaList* deltas);
int fmr_read_zonal_quality_block(const uint8_t* record, uint32_t size, ZonalQuality* quality);
void coredelta_rescale(uint8_t* entries, int count, int from, int to, int angle_bytes, int x_origin,
                       int y_origin);
int minrec_fit_coordinates(MinutiaeRecord* m);

}  // namespace zyl::matchlib

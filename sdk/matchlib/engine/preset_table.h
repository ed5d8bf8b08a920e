// The functions of preset table that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_preset_catalogue.h"
#include "zylscan/matchlib_presets.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

const AlgorithmPreset* preset_table_row(int row);
int preset_option_list(int row, int which, int32_t out[3]);
const AlgorithmProfile* profile_table_row(int row);
const AlgorithmProfile* profile_gridmap_row(int row);
const AlgorithmProfile* profile_card9_row(int row);
int profile_option_list(const AlgorithmProfile* row, int which, int32_t out[3]);

}  // namespace zyl::matchlib

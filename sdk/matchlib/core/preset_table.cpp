// The engine preset table: 13 rows of sizes, limits and sensor size class,
// with their two option-switch tables.
#include <cstdint>

#include "zylscan/matchlib_presets.h"

namespace zyl::matchlib {
namespace {

constexpr AlgorithmPreset kPresets[PRESET_TABLE_ROWS] = {
    {79, 32, 16, 16, 65, 121, 20, 3, 1, 0},  {79, 64, 24, 24, 70, 81, 20, 4, 1, 0},
    {79, 72, 32, 32, 75, 81, 20, 5, 1, 0},   {79, 96, 32, 40, 80, 81, 20, 6, 1, 0},
    {79, 96, 32, 40, 80, 81, 20, 7, 1, 0},   {79, 64, 24, 24, 70, 81, 20, 8, 1, 0},
    {79, 72, 32, 32, 75, 81, 20, 9, 1, 0},   {79, 96, 32, 40, 80, 81, 20, 6, 1, 79},
    {79, 96, 32, 40, 80, 81, 20, 7, 1, 79},  {79, 72, 32, 32, 75, 81, 20, 9, 1, 79},
    {79, 72, 32, 32, 75, 81, 20, 5, 1, 0},   {79, 16, 8, 8, 60, 121, 20, 2, 1, 0},
    {79, 8, 4, 4, 60, 121, 20, 1, 1, 0},
};

// Switches j = 0, 1, 2 of the first and second option lists of each row.
constexpr int32_t kFirstOptions[PRESET_TABLE_ROWS][3] = {
    {1, 1, 0}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1},
    {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0},
};
constexpr int32_t kSecondOptions[PRESET_TABLE_ROWS][3] = {
    {1, 0, 0}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1},
    {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0},
};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API const AlgorithmPreset* preset_table_row(int row) {
  return row >= 0 && row < PRESET_TABLE_ROWS ? &kPresets[row] : nullptr;
}

ZYL_API int preset_option_list(int row, int which, int32_t out[3]) {
  if (row < 0 || row >= PRESET_TABLE_ROWS || which < 0 || which > 1 || !out) return -1;
  const int32_t* sw = which == 0 ? kFirstOptions[row] : kSecondOptions[row];
  int n = 0;
  for (int j = 0; j < 3; ++j)
    if (sw[j]) out[n++] = j;
  return n;
}

}  // extern "C"

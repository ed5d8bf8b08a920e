// The engine preset table: 13 rows of sizes, limits and sensor size class,
// with their two option-switch tables; and the profile tables of the card,
// grid-map and nine-score card families of the catalogue.
#include <cstdint>

#include "zylscan/matchlib_preset_catalogue.h"
#include "zylscan/matchlib_presets.h"
#include "matchlib/engine/preset_table.h"

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

// Option switches of the profile rows.
constexpr int32_t kOnly0[3] = {1, 0, 0}, k01[3] = {1, 1, 0}, k02[3] = {1, 0, 1}, kAll[3] = {1, 1, 1};

constexpr AlgorithmProfile profile(ProfileChainBuilder builder, int32_t format, uint8_t a,
                                   uint8_t b, uint8_t budget, int32_t d, int32_t e,
                                   int32_t size_class, const int32_t (&first)[3],
                                   const int32_t (&second)[3], int32_t g = 1) {
  return AlgorithmProfile{builder,
                          {format, a, b, budget, d, e, 20, size_class, g, 0},
                          {first[0], first[1], first[2]},
                          {second[0], second[1], second[2]}};
}

constexpr AlgorithmProfile kProfiles[PROFILE_TABLE_ROWS] = {
    profile(profile_chain_card, 67, 16, 8, 8, 60, 121, 2, kOnly0, k02),
    profile(profile_chain_card_alt, 74, 64, 24, 24, 70, 81, 8, kAll, k02),
    profile(profile_chain_triple_default, 74, 72, 32, 32, 75, 81, 5, kAll, k02),
    profile(::profile_chain_triple, 74, 64, 24, 24, 70, 81, 8, kAll, k02),
    profile(profile_chain_card, 67, 72, 32, 32, 75, 81, 2, kAll, k02),
    profile(profile_chain_card, 67, 32, 16, 16, 65, 121, 3, kOnly0, k01),
    profile(profile_chain_card, 67, 64, 24, 24, 70, 81, 8, k01, kOnly0),
    profile(profile_chain_card, 67, 72, 32, 32, 75, 81, 5, k01, kOnly0),
    profile(profile_chain_card, 67, 32, 16, 16, 65, 121, 3, kOnly0, k01),
};

// The grid-map row carries no option lists of its own; its factory's
// lists {0, 1} / {0} stand in them.
constexpr AlgorithmProfile kGridmapProfiles[PROFILE_GRIDMAP_ROWS] = {
    profile(profile_chain_gridmap, 66, 16, 8, 8, 60, 121, 2, k01, kOnly0),
};

// The nine-score card rows: their builder takes an image list, so the
// factories call it directly; their lists are the factories' {0} / {0}.
constexpr AlgorithmProfile kCard9Profiles[PROFILE_CARD9_ROWS] = {
    profile(nullptr, 2, 16, 8, 8, 60, 121, 2, kOnly0, kOnly0),
    profile(nullptr, 2, 32, 16, 16, 65, 121, 3, kOnly0, kOnly0),
    profile(nullptr, 2, 16, 8, 8, 60, 121, 1, kOnly0, kOnly0, 2),
    profile(nullptr, 2, 16, 8, 8, 60, 121, 1, kOnly0, kOnly0),
};

int list_of(const int32_t* sw, int32_t out[3]) {
  int n = 0;
  for (int j = 0; j < 3; ++j)
    if (sw[j]) out[n++] = j;
  return n;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

const AlgorithmPreset* zyl::matchlib::preset_table_row(int row) {
  return row >= 0 && row < PRESET_TABLE_ROWS ? &kPresets[row] : nullptr;
}

int zyl::matchlib::preset_option_list(int row, int which, int32_t out[3]) {
  if (row < 0 || row >= PRESET_TABLE_ROWS || which < 0 || which > 1 || !out) return -1;
  return list_of(which == 0 ? kFirstOptions[row] : kSecondOptions[row], out);
}

const AlgorithmProfile* zyl::matchlib::profile_table_row(int row) {
  return row >= 0 && row < PROFILE_TABLE_ROWS ? &kProfiles[row] : nullptr;
}

const AlgorithmProfile* zyl::matchlib::profile_gridmap_row(int row) {
  return row >= 0 && row < PROFILE_GRIDMAP_ROWS ? &kGridmapProfiles[row] : nullptr;
}

const AlgorithmProfile* zyl::matchlib::profile_card9_row(int row) {
  return row >= 0 && row < PROFILE_CARD9_ROWS ? &kCard9Profiles[row] : nullptr;
}

int zyl::matchlib::profile_option_list(const AlgorithmProfile* row, int which, int32_t out[3]) {
  if (!row || which < 0 || which > 1 || !out) return -1;
  return list_of(which == 0 ? row->first_switches : row->second_switches, out);
}

extern "C" {

ZYL_API const AlgorithmPreset* preset_table_row(int row) {
  return zyl::matchlib::preset_table_row(row);
}
ZYL_API int preset_option_list(int row, int which, int32_t out[3]) {
  return zyl::matchlib::preset_option_list(row, which, out);
}
ZYL_API const AlgorithmProfile* profile_table_row(int row) {
  return zyl::matchlib::profile_table_row(row);
}
ZYL_API const AlgorithmProfile* profile_gridmap_row(int row) {
  return zyl::matchlib::profile_gridmap_row(row);
}
ZYL_API const AlgorithmProfile* profile_card9_row(int row) {
  return zyl::matchlib::profile_card9_row(row);
}
ZYL_API int profile_option_list(const AlgorithmProfile* row, int which, int32_t out[3]) {
  return zyl::matchlib::profile_option_list(row, which, out);
}

}  // extern "C"

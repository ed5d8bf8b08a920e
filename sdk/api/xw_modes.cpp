// Mode presets, the feature and speed choices, and the score normalisation
// that depends on them.
#include "api/xw_modes.h"

#include <cstdint>
#include <optional>

#include "api/xw_context.h"
#include "zylscan/xw.h"

namespace zyl::api {
namespace {

// "Kept": the preset leaves the field as it is.
constexpr std::int32_t K = INT32_MIN;

// Preset columns; modes 100, 800, 810 and 1200 share the column of mode 0.
constexpr std::int32_t kColumns = 10;
constexpr std::int32_t kColumnModes[kColumns] = {0, 200, 300, 400, 500, 600, 700, 900, 1000, 1100};

std::optional<int> preset_column(std::int32_t mode) {
  switch (mode) {
    case 0:
    case 100:
    case 800:
    case 810:
    case 1200: return 0;
    default: break;
  }
  for (int i = 1; i < kColumns; ++i)
    if (kColumnModes[i] == mode) return i;
  return std::nullopt;
}

struct PresetRow {
  std::int32_t id;
  std::int32_t values[kColumns];
};

// Values that differ between modes; columns in the order of kColumnModes.
constexpr PresetRow kPresetRows[] = {
    //       0/100  200  300  400  500  600  700  900 1000 1100
    {10000, {120, 120, 110, 120, 120, 90, 120, 120, 120, 120}},
    {10001, {1, K, 1, K, 1, 1, 1, 1, 1, 1}},
    {10002, {3, K, 3, K, 3, 3, 3, 3, 3, 3}},
    {10006, {130, 145, 102, 145, 130, 147, 147, 130, 130, 130}},
    {10007, {115, 115, 92, 110, 115, 125, 126, 115, 115, 115}},
    {10008, {19, 19, 19, 19, 19, 17, 19, 19, 19, 19}},
    {10010, {196, 185, 196, 196, 180, 196, 185, 130, 196, 196}},
    {10018, {1, 1, 1, 1, 1, 0, 1, 1, 1, 1}},
    {10026, {4, 6, 4, 4, 4, 4, 16, 4, 4, 4}},
    {10027, {128, 128, 128, 128, 128, 128, 16, 128, 128, 128}},
    {10030, {12, 24, 12, 12, 12, 12, 12, 20, 16, 12}},
    {10031, {12, 12, 12, 12, 12, 12, 12, 20, 16, 12}},
    {10032, {12, 12, 12, 12, 12, 12, 12, 20, 12, 12}},
    {10033, {12, 20, 12, 12, 12, 12, 12, 12, 16, 12}},
    {10034, {0, 1, 0, 1, 0, 0, 0, 0, 0, 0}},
    {10035, {0, 1, 0, 1, 0, 0, 0, 0, 0, 0}},
    {10036, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    {10037, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
    {20000, {13, 12, 14, 12, 12, 13, 13, 16, 14, 13}},
    {20001, {9, 9, 10, 9, 9, 9, 9, 9, 9, 9}},
    {20005, {50, 20, 10, 20, 20, 35, 25, 20, 20, 20}},
    {20006, {150, 150, 300, 150, 200, 300, 220, 150, 150, 150}},
    {20007, {30, 30, 30, 30, 30, 34, 34, 30, 30, 30}},
    {20008, {900, 900, 900, 900, 900, 1156, 1156, 900, 900, 900}},
    {20009, {40, 40, 40, 40, 40, 45, 45, 40, 40, 40}},
    {20012, {100, 100, 50, 100, 100, 100, 300, 130, 70, 100}},
    {20013, {200, 200, 100, 200, 200, 200, 600, 260, 140, 200}},
    {20019, {0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
};

struct IdValue {
  std::int32_t id;
  std::int32_t value;
};

// Values every preset sets alike.
constexpr IdValue kCommonPreset[] = {
    {10003, 3},  {10004, 5},   {10005, 7},    {10009, 17},  {10011, 207}, {10012, 2},
    {10013, 30}, {10014, 20},  {10015, 0},    {10016, 4},   {10017, 12},  {10019, 1},
    {10020, 1024}, {10022, 1}, {10023, 64},   {10024, 0},   {10028, 16},  {10029, 16},
    {10038, 16}, {20010, 30},  {20011, 900},  {20016, 1},   {20020, 1},
};

// Mode 600 alone also sets the line budgets.
constexpr IdValue kMode600Budgets[] = {{20003, 650}, {20004, 1300}};

struct ScaleOffset {
  std::int32_t scale;
  std::int32_t offset;
};

// Score normalisation by mode: speed 0 with match features 0, 1, 2, then
// speed 256 with match features 0, 1, 2. Modes 800, 810, 1200 use mode 0's.
struct NormalisationRow {
  std::int32_t mode;
  ScaleOffset pairs[6];
};

constexpr NormalisationRow kNormalisation[] = {
    {0, {{929, 2898}, {880, 1362}, {535, 1360}, {788, 2361}, {764, -57}, {461, 32}}},
    {100, {{1015, 3821}, {971, 2197}, {578, 1792}, {1000, 0}, {955, -3075}, {573, -3092}}},
    {200, {{2200, -6318}, {2006, -8725}, {1153, -5571}, {1492, -5578}, {1249, -7476}, {750, -4592}}},
    {300, {{2391, -1822}, {2394, -6096}, {1317, -3111}, {2069, -6435}, {1714, -7682}, {903, -2123}}},
    {400, {{1640, -793}, {1428, -1627}, {876, -1178}, {1122, -744}, {978, -3189}, {636, -2218}}},
    {500, {{1470, 572}, {1332, -315}, {857, -890}, {1153, 262}, {1045, -1938}, {686, -2762}}},
    {600, {{1475, 894}, {1365, -1052}, {903, -1894}, {1151, -2015}, {1027, -4866}, {694, -5109}}},
    {700, {{739, 894}, {629, -714}, {419, -1819}, {977, -2462}, {782, -4637}, {569, -5802}}},
    {900, {{578, 4669}, {553, 2698}, {406, -1609}, {642, -750}, {585, -4490}, {391, -5905}}},
    {1000, {{1911, -3207}, {1766, -5212}, {1047, -4266}, {1541, -3387}, {1384, -6392}, {826, -4858}}},
    {1100, {{1514, -528}, {1378, -2507}, {783, -1512}, {1095, -729}, {933, -3172}, {644, -5583}}},
};

std::optional<ScaleOffset> normalisation_for(std::int32_t mode, std::int32_t speed,
                                             std::int32_t match_features) {
  if (mode == 800 || mode == 810 || mode == 1200) mode = 0;
  int speed_column;
  if (speed == 0)
    speed_column = 0;
  else if (speed == 256)
    speed_column = 3;
  else
    return std::nullopt;
  if (match_features < 0 || match_features > 2) return std::nullopt;
  for (const auto& row : kNormalisation)
    if (row.mode == mode) return row.pairs[speed_column + match_features];
  return std::nullopt;
}

void apply(XWContext& c, std::int32_t id, std::int32_t value) {
  if (value != K) store_parameter_field(c, id, value);
}

}  // namespace
}  // namespace zyl::api

using namespace zyl::api;

int32_t zyl::api::SetExtractFeatures(int32_t choice, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  switch (choice) {
    case 0: c->writeBlockDirections = 1; c->writeCurvature = 1; break;
    case 1: c->writeBlockDirections = 0; c->writeCurvature = 1; break;
    case 2: c->writeBlockDirections = 0; c->writeCurvature = 0; break;
    default: return XW_ERR_BAD_VALUE;
  }
  c->extractFeatures = choice;
  return XW_OK;
}

int32_t zyl::api::SetMatchFeatures(int32_t choice, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  switch (choice) {
    case 0: c->blockGridComparison = 1; c->curvatureWeighting = 1; break;
    case 1: c->blockGridComparison = 0; c->curvatureWeighting = 1; break;
    case 2: c->blockGridComparison = 0; c->curvatureWeighting = 0; break;
    default: return XW_ERR_BAD_VALUE;
  }
  c->matchFeatures = choice;
  zyl::api::SetThresholdNormalization(c);
  return XW_OK;
}

int32_t zyl::api::SetMatchingSpeed(int32_t speed, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  switch (speed) {
    case 0: c->testLineBudget = 700; c->sampleLineBudget = 1400; break;
    case 256: c->testLineBudget = 150; c->sampleLineBudget = 300; break;
    default: return XW_ERR_BAD_VALUE;
  }
  c->verifyWindowLow = 20;
  c->verifyWindowHigh = 500;
  c->matchingSpeed = speed;
  zyl::api::SetThresholdNormalization(c);
  return XW_OK;
}

int32_t zyl::api::SetMode(int32_t mode, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  const auto column = preset_column(mode);
  if (!column) return XW_ERR_BAD_VALUE;
  for (const auto& row : kPresetRows) apply(*c, row.id, row.values[*column]);
  for (const auto& [id, value] : kCommonPreset) apply(*c, id, value);
  if (mode == 600)
    for (const auto& [id, value] : kMode600Budgets) apply(*c, id, value);
  c->mode = mode;
  zyl::api::SetThresholdNormalization(c);
  return XW_OK;
}

int32_t zyl::api::SetThresholdNormalization(XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  const auto pair = normalisation_for(c->mode, c->matchingSpeed, c->matchFeatures);
  if (!pair) return XW_ERR_BAD_VALUE;
  c->scoreScale = pair->scale;
  c->scoreOffset = pair->offset;
  return XW_OK;
}

extern "C" {

ZYL_API int32_t SetThresholdNormalization(XWContext* context) { return zyl::api::SetThresholdNormalization(context); }
ZYL_API int32_t SetExtractFeatures(int32_t choice, XWContext* context) {
  return zyl::api::SetExtractFeatures(choice, context);
}
ZYL_API int32_t SetMatchFeatures(int32_t choice, XWContext* context) {
  return zyl::api::SetMatchFeatures(choice, context);
}
ZYL_API int32_t SetMatchingSpeed(int32_t speed, XWContext* context) {
  return zyl::api::SetMatchingSpeed(speed, context);
}
ZYL_API int32_t SetMode(int32_t mode, XWContext* context) { return zyl::api::SetMode(mode, context); }

}  // extern "C"

// Static score-profile data of the light presets. The one-candidate and
// 64-candidate rows of each threshold table are the product's own; the
// classes of 2..32 candidates in between are interpolated linearly in
// log2 of the candidate count, rounded to nearest, which keeps the table
// non-decreasing along every row and down every column.
#include <array>
#include <cstdint>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_score.h"
#include "matchlib/engine/static_profiles.h"

namespace zyl::matchlib {
namespace {

using Row = std::array<uint16_t, FAR_LEVEL_COUNT>;

constexpr FarThresholdTable between(const Row& one, const Row& sixty_four) {
  FarThresholdTable t{};
  for (int r = 0; r < FAR_CLASS_COUNT; ++r)
    for (int l = 0; l < FAR_LEVEL_COUNT; ++l)
      t.t[r][l] = static_cast<uint16_t>(one[l] + ((sixty_four[l] - one[l]) * r + 3) / 6);
  return t;
}

constexpr FarThresholdTable neutral() {
  FarThresholdTable t{};
  t.t[FAR_CLASS_COUNT - 1][FAR_LEVEL_COUNT - 1] = 1;
  return t;
}

constexpr FarThresholdTable kNeutral = neutral();

constexpr FarThresholdTable kLight = between(
    Row{0,   134, 192, 225, 256, 294, 320, 343, 377, 402, 429, 466, 484, 505,
        537, 565, 590, 622, 647, 671, 704, 728, 753, 785, 810, 835, 867, 892},
    Row{0,   303, 340, 364, 386, 415, 437, 457, 487, 507, 530, 561, 587, 612,
        645, 664, 687, 717, 739, 763, 794, 816, 839, 870, 892, 915, 946, 969});

constexpr FarThresholdTable kLightVerify = between(
    Row{0,   196, 258, 298, 337, 387, 423, 459,  508,  546,  582,  633,  669,  706,
        762, 801, 834, 884, 922, 959, 1009, 1047, 1085, 1134, 1172, 1210, 1259, 1297},
    Row{0,   385, 441, 476, 510,  553,  586,  620,  665,  701,  736,  784,  820,  858,
        906, 939, 975, 1021, 1057, 1093, 1139, 1175, 1210, 1257, 1293, 1328, 1375, 1411});

constexpr FarThresholdTable kLightVerifyModel = between(
    Row{0,    2442, 2721, 2852, 2945, 3039, 3096, 3147, 3211, 3258, 3311, 3385, 3455, 3533,
        3652, 3731, 3810, 3941, 4037, 4141, 4285, 4399, 4517, 4681, 4810, 4943, 5126, 5270},
    Row{0,    3110, 3161, 3195, 3228, 3273, 3312, 3357, 3432, 3504, 3589, 3718, 3811, 3912,
        4040, 4154, 4242, 4402, 4541, 4674, 4859, 5005, 5157, 5366, 5532, 5703, 5937, 6121});

// Features 0..29 (the card-and-grid sub-scores, switched off in this
// engine) carry no weight. Of the 28 active rows, features 30 and 32 are
// the product's. The other 26 are data fitted from prints by
// scripts/light_verify_rows (bench/light_verify_fit holds the procedure):
// minimum 0, maximum the largest value seen, linear weights only, set so
// that impostor comparisons pass each security level of the device API at
// most as often as the level's engine score promises.
constexpr std::array<ScoreQuadraticRow, LIGHT_VERIFY_MODEL_FEATURES> light_verify_rows() {
  std::array<ScoreQuadraticRow, LIGHT_VERIFY_MODEL_FEATURES> rows{};
  rows[30] = ScoreQuadraticRow{0, 18125, 227849676u, 908614515u, 1454, -200};
  rows[32] = ScoreQuadraticRow{0, 421, 6007106u, 23402951u, 3360, 3429};
#include "matchlib/engine/light_verify_rows.inc"
  return rows;
}

constexpr auto kLightVerifyRows = light_verify_rows();

int eval_unfitted(const int32_t*, int, const void*, int32_t* out, ScoreTrace*) {
  if (out) *out = 0;
  return ML_UNAVAILABLE;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

ScoreModel zyl::matchlib::score_model_unfitted(void) {
  return ScoreModel{nullptr, -1, eval_unfitted, nullptr};
}

const FarThresholdTable* zyl::matchlib::far_table_neutral(void) { return &kNeutral; }
const FarThresholdTable* zyl::matchlib::far_table_light(void) { return &kLight; }
const FarThresholdTable* zyl::matchlib::far_table_light_verify(void) { return &kLightVerify; }
const FarThresholdTable* zyl::matchlib::far_table_light_verify_model(void) {
  return &kLightVerifyModel;
}

extern "C" ZYL_API const ScoreQuadraticRow* score_rows_light_verify(void) {
  return kLightVerifyRows.data();
}

ScoreModel zyl::matchlib::score_model_light_verify(void) {
  return ScoreModel{const_cast<ScoreQuadraticRow*>(kLightVerifyRows.data()),
                    LIGHT_VERIFY_MODEL_FEATURES, score_model_eval_quadratic, nullptr};
}

extern "C" {

ZYL_API const FarThresholdTable* far_table_neutral(void) {
  return zyl::matchlib::far_table_neutral();
}
ZYL_API const FarThresholdTable* far_table_light(void) { return zyl::matchlib::far_table_light(); }
ZYL_API const FarThresholdTable* far_table_light_verify(void) {
  return zyl::matchlib::far_table_light_verify();
}
ZYL_API const FarThresholdTable* far_table_light_verify_model(void) {
  return zyl::matchlib::far_table_light_verify_model();
}
ZYL_API ScoreModel score_model_light_verify(void) {
  return zyl::matchlib::score_model_light_verify();
}

}  // extern "C"

// The false-accept scale, threshold tables by gallery size and FAR level,
// and score profiles.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_score.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/score_model.h"

namespace zyl::matchlib {
namespace {

// FAR = 1 in N as round(2048 * log2(N)), N in a 1-2-5 sequence. Row 28
// repeats level 27 (a search by level finds row 27 first); row 29 ends scans.
constexpr FarScaleRow kScale[30] = {
    {0, 0, 1},
    {2048, 1, 2},
    {4755, 2, 5},
    {6803, 3, 10},
    {8851, 4, 20},
    {11559, 5, 50},
    {13607, 6, 100},
    {15655, 7, 200},
    {18362, 8, 500},
    {20410, 9, 1000},
    {22458, 10, 2000},
    {25165, 11, 5000},
    {27213, 12, 10000},
    {29261, 13, 20000},
    {31969, 14, 50000},
    {34017, 15, 100000},
    {36065, 16, 200000},
    {38772, 17, 500000},
    {40820, 18, 1000000},
    {42868, 19, 2000000},
    {45575, 20, 5000000},
    {47623, 21, 10000000},
    {49671, 22, 20000000},
    {52378, 23, 50000000},
    {54426, 24, 100000000},
    {56474, 25, 200000000},
    {59182, 26, 500000000},
    {61230, 27, 1000000000},
    {63278, 27, 2000000000},
    {63278, INT_MAX, INT_MAX},
};

constexpr std::int32_t kSteps[10] = {0,     28196, 30720, 32768, 33966,
                                     34816, 36014, 36864, 37523, 39571};

constexpr FarScaleRow kBeyond{FAR_SCORE_BEYOND, 28, 2000000000};
constexpr FarScaleRow kNoLevel{0, INT_MAX, INT_MAX};

std::int32_t scale_score(int row) { return static_cast<std::uint16_t>(kScale[row].score); }

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Interpolates the FAR scale between rows i and i + 1 by f / 65536.
FarScaleRow interpolate(int i, std::int64_t f) {
  const std::int64_t width = scale_score(i + 1) - scale_score(i);
  const std::int64_t n_width = static_cast<std::int64_t>(kScale[i + 1].n) - kScale[i].n;
  return FarScaleRow{static_cast<std::int32_t>(scale_score(i) + width * f / 65536),
                     kScale[i].level,
                     static_cast<std::int32_t>(kScale[i].n + n_width * f / 65536)};
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API const FarScaleRow* far_scale_table(void) { return kScale; }

int zyl::matchlib::far_level_to_score(int level) {
  if (level == INT_MAX) return 0;
  if (static_cast<unsigned>(level) > 27) return -2258;  // low 16 bits read as 63278
  for (const FarScaleRow& row : kScale)
    if (row.level == level) return static_cast<std::uint16_t>(row.score);
  return 0;
}

int zyl::matchlib::far_score_to_level(uint16_t s) {
  if (s == 0) return 0;
  if (s > FAR_SCORE_MAX) return 28;
  if (s > 61229) return 27;
  for (int k = 0; k < 27; ++k)
    if (scale_score(k) <= s && s < scale_score(k + 1)) return kScale[k].level;
  return 0;
}

int zyl::matchlib::far_score_add_bits(uint16_t s, int bits) {
  if (s > FAR_SCORE_MAX) return -2258;
  const std::int64_t v = static_cast<std::int64_t>(s) + static_cast<std::int64_t>(bits) * 2048;
  return static_cast<int>(std::clamp<std::int64_t>(v, 0, FAR_SCORE_MAX));
}

FarScaleRow zyl::matchlib::far_level_row(int level) {
  if (level == INT_MAX) return kNoLevel;
  if (level > 27) return kBeyond;
  for (const FarScaleRow& row : kScale)
    if (row.level == level) return row;
  return kNoLevel;
}

extern "C" ZYL_API FarScaleRow far_row_from_n(uint32_t n) {
  if (n < 2) return FarScaleRow{0, 0, 1};
  if (n > 1999999999u) return kBeyond;
  int i = 27;  // N of 1e9 and above: rows 27 and 28
  for (int k = 0; k < 27; ++k) {
    if (static_cast<std::uint32_t>(kScale[k].n) <= n && n < static_cast<std::uint32_t>(kScale[k + 1].n)) {
      i = k;
      break;
    }
  }
  const std::int64_t f = (static_cast<std::int64_t>(n) - kScale[i].n) * 65536 /
                         (static_cast<std::int64_t>(kScale[i + 1].n) - kScale[i].n);
  FarScaleRow row = interpolate(i, f);
  row.level = row.level < 0 ? 0 : row.level > 28 ? 28 : row.level;
  return row;
}

extern "C" ZYL_API FarScaleRow far_row_from_score(uint16_t s) {
  if (s == 0) return FarScaleRow{0, 0, 1};
  if (s > FAR_SCORE_MAX) return kBeyond;
  int i = 27;  // above 61229: between rows 27 and 28, 2048 wide
  if (s <= 61229) {
    for (int k = 0; k < 27; ++k) {
      if (scale_score(k) <= s && s < scale_score(k + 1)) {
        i = k;
        break;
      }
    }
  }
  const std::int64_t f = (static_cast<std::int64_t>(s) - scale_score(i)) * 65536 /
                         (scale_score(i + 1) - scale_score(i));
  return interpolate(i, f);
}

extern "C" ZYL_API int far_level_limit(uint32_t level) {
  return level < 29 ? static_cast<int>(level) : INT_MAX;
}

int zyl::matchlib::far_level_clamp(int level) { return level < 1 ? 0 : level > 27 ? 28 : level; }

int zyl::matchlib::far_level_shift(int16_t level, int16_t delta) {
  if (level == 28) return 28;
  return zyl::matchlib::far_level_clamp(static_cast<std::int16_t>(level + delta));
}

int zyl::matchlib::score_step_value(int index) {
  return kSteps[index < 0 ? 0 : index > 9 ? 9 : index];
}

int zyl::matchlib::score_step_passes(int index, int value) {
  const int s = zyl::matchlib::score_step_value(index);
  return s == 0 || value >= s ? 1 : 0;
}

int zyl::matchlib::far_threshold_accept(const MatchContext* context, uint16_t raw,
                                        uint8_t candidates, int level,
                                        const FarThresholdTable* table, int* out_accept,
                                        uint16_t* out_threshold) {
  if (!context || !out_accept) return ML_BAD_ARGUMENT;
  if (!table) return ML_WRONG_KIND;
  if (level == INT_MAX || level < 0 || level > 27) return ML_BAD_ARGUMENT;
  *out_accept = 0;
  if (out_threshold) *out_threshold = 0xffff;
  if (table->t[6][27] == 0) return ML_CORRUPT;
  const int c = candidates;
  std::int64_t t;
  if (c <= 1) {
    if (table->t[0][level] == 0xffff) return ML_WRONG_KIND;
    t = table->t[0][level];
  } else {
    // Class k holds n(k-1) < c <= n(k); above 64 the last segment goes on.
    int k = 1;
    while (k < 6 && c > (1 << k)) ++k;
    const std::int64_t lo = table->t[k - 1][level];
    const std::int64_t hi = table->t[k][level];
    if (lo == 0xffff || hi == 0xffff) return ML_WRONG_KIND;
    const std::int64_t n_lo = 1 << (k - 1);
    t = lo + floor_div((hi - lo) * (c - n_lo), n_lo);
  }
  // Extrapolating beyond 64 candidates can leave the 16-bit range: saturate,
  // so a large gallery never wraps to a low threshold (a false accept).
  const auto threshold = static_cast<std::uint16_t>(std::clamp<std::int64_t>(t, 0, 0xffff));
  *out_accept = threshold < raw ? 1 : 0;
  if (out_threshold) *out_threshold = threshold;
  return ML_OK;
}

int zyl::matchlib::far_score_from_thresholds(uint16_t raw, int candidates,
                                             const FarThresholdTable* table) {
  if (!table) return raw;
  const int b = candidates < 1 ? 1 : candidates > 64 ? 64 : candidates;
  int lower = 0;
  int e = 0;
  if (b >= 64) {
    lower = 6;
  } else if (b >= 2) {
    int k = 1;
    while ((2 << k) <= b) ++k;  // 2^k <= b < 2^(k+1)
    lower = k;
    e = (b - (1 << k)) * 256 / (1 << k);
  }
  const int upper = b >= 64 ? 6 : lower + 1;
  std::int64_t thr[FAR_LEVEL_COUNT];
  thr[0] = 0;
  for (int k = 1; k < FAR_LEVEL_COUNT; ++k)
    thr[k] = (static_cast<std::int64_t>(table->t[lower][k]) * (256 - e) +
              static_cast<std::int64_t>(table->t[upper][k]) * e) / 256;
  for (int k = 0; k < 27; ++k) {
    if (thr[k] <= raw && raw < thr[k + 1])
      return static_cast<int>(scale_score(k) +
                              (scale_score(k + 1) - scale_score(k)) * (raw - thr[k]) /
                                  (thr[k + 1] - thr[k]));
  }
  return FAR_SCORE_MAX;
}

const ScoreProfile* zyl::matchlib::score_profile_find(const ScoreProfile* const* profiles,
                                                      const void* match_ops, int16_t variant) {
  if (!profiles) return nullptr;
  for (; *profiles; ++profiles)
    if ((*profiles)->match_ops == match_ops && (*profiles)->variant == variant) return *profiles;
  return nullptr;
}

int zyl::matchlib::score_profile_fuse(const uint16_t* scores, int16_t count,
                                      const ScoreProfile* profile, uint16_t* out_score) {
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (!profile) return ML_BAD_ARGUMENT;
  if (!profile->model.evaluate) return ML_OUT_OF_LIMITS;
  if (profile->model.feature_count != -1 &&
      profile->model.feature_count < static_cast<std::uint16_t>(count))
    return ML_CORRUPT;
  return zyl::matchlib::score_model_evaluate_u16(&profile->model, scores, count, out_score,
                                                 nullptr);
}

extern "C" {

ZYL_API int far_level_to_score(int level) { return zyl::matchlib::far_level_to_score(level); }
ZYL_API int far_score_to_level(uint16_t s) { return zyl::matchlib::far_score_to_level(s); }
ZYL_API int far_score_add_bits(uint16_t s, int bits) {
  return zyl::matchlib::far_score_add_bits(s, bits);
}
ZYL_API FarScaleRow far_level_row(int level) { return zyl::matchlib::far_level_row(level); }
ZYL_API int far_level_clamp(int level) { return zyl::matchlib::far_level_clamp(level); }
ZYL_API int far_level_shift(int16_t level, int16_t delta) {
  return zyl::matchlib::far_level_shift(level, delta);
}
ZYL_API int score_step_value(int index) { return zyl::matchlib::score_step_value(index); }
ZYL_API int score_step_passes(int index, int value) {
  return zyl::matchlib::score_step_passes(index, value);
}
ZYL_API int far_threshold_accept(const MatchContext* context, uint16_t raw, uint8_t candidates,
                                 int level, const FarThresholdTable* table, int* out_accept,
                                 uint16_t* out_threshold) {
  return zyl::matchlib::far_threshold_accept(context, raw, candidates, level, table, out_accept,
                                             out_threshold);
}
ZYL_API int far_score_from_thresholds(uint16_t raw, int candidates,
                                      const FarThresholdTable* table) {
  return zyl::matchlib::far_score_from_thresholds(raw, candidates, table);
}
ZYL_API const ScoreProfile* score_profile_find(const ScoreProfile* const* profiles,
                                               const void* match_ops, int16_t variant) {
  return zyl::matchlib::score_profile_find(profiles, match_ops, variant);
}
ZYL_API int score_profile_fuse(const uint16_t* scores, int16_t count, const ScoreProfile* profile,
                               uint16_t* out_score) {
  return zyl::matchlib::score_profile_fuse(scores, count, profile, out_score);
}

}  // extern "C"

// The functions of far scale that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_score.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int far_level_to_score(int level);
int far_score_to_level(uint16_t s);
int far_score_add_bits(uint16_t s, int bits);
FarScaleRow far_level_row(int level);
int far_level_clamp(int level);
int far_level_shift(int16_t level, int16_t delta);
int score_step_value(int index);
int score_step_passes(int index, int value);
int far_threshold_accept(const MatchContext* context, uint16_t raw, uint8_t candidates, int level,
                         const FarThresholdTable* table, int* out_accept, uint16_t* out_threshold);
int far_score_from_thresholds(uint16_t raw, int candidates, const FarThresholdTable* table);
const ScoreProfile* score_profile_find(const ScoreProfile* const* profiles, const void* match_ops,
                                       int16_t variant);
int score_profile_fuse(const uint16_t* scores, int16_t count, const ScoreProfile* profile,
                       uint16_t* out_score);

}  // namespace zyl::matchlib

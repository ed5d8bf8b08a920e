// The functions of preset catalogue chains that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_preset_catalogue.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

const ScoreProfile* const* preset_catalogue_profiles(void);
StageChain* preset_build_card_keypoint_grid_chain(const StageMatchOps* ops,
                                                  const StageExtractor* grid);
StageChain* preset_build_verify_chain_grid(MatchContext* context);
StageChain* preset_build_card_verify_chain(MatchContext* context, const AlgorithmPreset*);
StageChain* preset_build_pair_chain_alt(MatchContext* context);
MatchEngine* preset_create_card_grid(MatchContext* context, const StageExtractor* card);
MatchEngine* preset_create_indexed_light(MatchContext* context, const ScoreProfile* const* profiles,
                                         int row);
MatchEngine* preset_create_indexed_card(MatchContext* context, const ScoreProfile* const* profiles,
                                        int row);

}  // namespace zyl::matchlib

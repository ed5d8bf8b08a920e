// The functions of profile chains that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_preset_catalogue.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

StageChain* profile_chain_triple(MatchContext* context, const StageExtractor* descriptor,
                                 const AlgorithmProfile* row);
StageChain* profile_chain_card9(const StageExtractor* descriptor, const AlgorithmProfile* row,
                                const ImagePrepRoutine* images);
MatchEngine* profile_create_engine(MatchContext* context, const StageExtractor* descriptor,
                                   const AlgorithmProfile* row,
                                   const ScoreProfile* const* profiles);

}  // namespace zyl::matchlib

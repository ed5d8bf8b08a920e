// The functions of preset light that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_presets.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

MatchEngine* preset_create_indexed(MatchContext* context, int row,
                                   const ScoreProfile* const* profiles, PresetChainBuilder builder,
                                   EngineHook hook);
MatchEngine* preset_create_light(MatchContext* context);

}  // namespace zyl::matchlib

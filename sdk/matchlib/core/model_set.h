// The functions of model set that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_model_set.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void model_set_free(ScoreModelSet* set);
int model_set_read_entry(ScoreModelSet* set, const uint8_t* body, uint32_t length);
int model_set_parse(const uint8_t* bytes, uint32_t length, const ScoreProfile* const* current,
                    ScoreModelSet** out);
int model_set_from_profiles(const ScoreProfile* const* profiles, ScoreModelSet** out);
int model_set_serialize(const ScoreModelSet* set, uint8_t** out, uint32_t* out_length);

}  // namespace zyl::matchlib

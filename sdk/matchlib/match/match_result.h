// The functions of match result that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_result.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

MatchResult* match_result_create(int32_t n);
MatchResult* match_result_retain(MatchResult* r);
void match_result_release(MatchResult* r);
MatchResult* match_result_copy(const MatchResult* r);
int match_result_assign(const MatchResult* src, MatchResult* dst);
int match_result_is_match(const MatchResult* r);
int match_result_passes_level(const MatchResult* r, int level);
int match_result_reached_level(const MatchResult* r);
int match_result_set_indices(MatchResult* r, const uint16_t* values, int32_t count);
void match_result_set_probe_blob(MatchResult* r, DataBlob* blob);

}  // namespace zyl::matchlib

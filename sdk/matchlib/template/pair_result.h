// The functions of pair result that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_result.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

PairResult* pair_result_create(DataBlob* first, DataBlob* second, uint16_t score, int32_t decision,
                               RigidTransform* transform);
PairResult* pair_result_reverse(const PairResult* r);
PairResult* pair_result_retain(PairResult* r);
void pair_result_release(PairResult* r);
int pair_result_is_match(const PairResult* r);
RigidTransform* pair_result_transform(const PairResult* r);
int pair_result_list_insert(PairResult* r, PairList* list);
void pair_result_list_clear(PairList* list);

}  // namespace zyl::matchlib

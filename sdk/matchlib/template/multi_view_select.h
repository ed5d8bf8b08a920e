// The functions of multi view select that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_mvt.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

MvtCandidate* mvt_candidate_create(DataBlob* blob);
void mvt_candidate_free(MvtCandidate* c);
MvtCandidate* mvt_load_candidate(const KwzdContainer* store, int i);
int mvt_pick_view_to_replace(MultiViewTemplate* t, MatchEngine* engine, DataBlob* blob,
                             int32_t* out_removed_key, int32_t* out_new_key);
int mvt_add_views(MultiViewTemplate* t, MatchEngine* engine, DataBlob* const* blobs, int n,
                  int options, int* out_taken);
int mvt_organize(MultiViewTemplate* t, MatchEngine* engine, PairList* pairs,
                 MvtCandidate* const* candidates, int n, int options, int* out_taken);

}  // namespace zyl::matchlib

// The functions of verify views that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_verify.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint16_t verify_fuse_top(uint16_t first, uint16_t second, int n);
int verify_against_gallery(DataBlob* const* gallery, uint8_t count, const StageChain* chain,
                           MatchContext* context, DataBlob* probe, GrayImage* probe_image,
                           int level, MatchResult* result, const EngineConfig* config);
int verify_against_views(DataBlob* const* views, uint8_t count, const StageChain* chain,
                         MatchContext* context, DataBlob* probe, int level, int* result_count,
                         ViewVerdict* verdicts);
void gallery_entry_clear(GalleryEntry* entry);
void gallery_entry_move(GalleryEntry* destination, GalleryEntry* source);
int mvt_score_views(DataBlob* gallery, const StageMatchOps* last_ops, MatchContext* context,
                    DataBlob* probe, GalleryEntry* entry);
int engine_score_pair(MatchEngine* e, DataBlob* probe, DataBlob* gallery, uint16_t* out_score,
                      uint16_t** out_scores, uint16_t* out_count, RigidTransform** out_transform,
                      const StageMatchOps* last_ops);

}  // namespace zyl::matchlib

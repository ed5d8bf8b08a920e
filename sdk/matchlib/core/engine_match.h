// The functions of engine match that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_verify.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void engine_free_views(DataBlob** views, uint8_t count);
DataBlob** engine_gallery_to_views(MatchEngine* e, DataBlob* const* gallery, uint8_t count);
int engine_match_image(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                       GrayImage* image, int level, MatchResult* result);
int engine_match_result(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                        int level, MatchResult** out);
int engine_match_decide(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                        int level, int32_t* out_decision, RigidTransform** out_transform,
                        int32_t* out_gallery_index, int32_t* out_view_index);
int engine_verify_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                        uint16_t* out_score);
const StageMatchOps* engine_pick_stage(const MatchEngine* e);
int engine_score_pair(MatchEngine* e, DataBlob* probe, DataBlob* gallery, uint16_t* out_score,
                      uint16_t** out_scores, uint16_t* out_count, RigidTransform** out_transform,
                      const StageMatchOps* last_ops);
int engine_score_gallery(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                         MatchResult* result);
int engine_call_merge_with(MatchEngine* e, DataBlob* base, DataBlob* const* blobs, int count,
                           DataBlob** out, const KwzdWriter* writer, void* writer_data);
int engine_call_reserialize(MatchEngine* e, DataBlob* base, DataBlob** out);
int engine_call_adapt(MatchEngine* e, DataBlob* blob, MatchResult* result, DataBlob** out);
int engine_call_gallery_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                              DataBlob* probe, MatchResult* result);

}  // namespace zyl::matchlib

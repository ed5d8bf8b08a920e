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
int engine_verify_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                        uint16_t* out_score);
const StageMatchOps* engine_pick_stage(const MatchEngine* e);
int engine_score_gallery(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                         MatchResult* result);
int engine_call_merge_with(MatchEngine* e, DataBlob* base, DataBlob* const* blobs, int count,
                           DataBlob** out, const KwzdWriter* writer, void* writer_data);
int engine_call_reserialize(MatchEngine* e, DataBlob* base, DataBlob** out);
int engine_call_adapt(MatchEngine* e, DataBlob* blob, MatchResult* result, DataBlob** out);
int engine_call_gallery_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                              DataBlob* probe, MatchResult* result);

}  // namespace zyl::matchlib

// The match result of one probe against a gallery.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_score.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/match/match_result.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/image/grey_image.h"

namespace zyl::matchlib {
namespace {

void release_objects(MatchResult* r) {
  zyl::matchlib::xform_release(r->transform);
  zyl::matchlib::xform_release(r->second_transform);
  zyl::matchlib::blob_release(r->probe_blob);
  zyl::matchlib::blob_release(r->further_blob);
  zyl::matchlib::blob_release(r->best_blob);
  zyl::matchlib::image_release(r->probe_image);
  r->transform = r->second_transform = nullptr;
  r->probe_blob = r->further_blob = r->best_blob = nullptr;
  r->probe_image = nullptr;
}

void retain_objects(MatchResult* r) {
  zyl::matchlib::xform_retain(r->transform);
  zyl::matchlib::xform_retain(r->second_transform);
  zyl::matchlib::blob_retain(r->probe_blob);
  zyl::matchlib::blob_retain(r->further_blob);
  zyl::matchlib::blob_retain(r->best_blob);
  zyl::matchlib::image_retain(r->probe_image);
}

void free_record(MatchResult* r) {
  release_objects(r);
  std::free(r->candidates);
  std::free(r->indices);
  std::free(r->buffer);
  std::free(r->learned_inputs);
  std::free(r);
}

std::uint16_t* copy_indices(const std::uint16_t* values, std::int32_t count) {
  auto* out = static_cast<std::uint16_t*>(ml_malloc(sizeof(std::uint16_t) * count));
  if (out) std::memcpy(out, values, sizeof(std::uint16_t) * count);
  return out;
}

// A copy of the learned input vector (null for none); false when memory runs out.
bool copy_learned(const MatchResult* r, std::int32_t*& out) {
  out = nullptr;
  if (!r->learned_inputs || r->learned_length <= 0) return true;
  const std::size_t bytes = sizeof(std::int32_t) * static_cast<std::size_t>(r->learned_length);
  out = static_cast<std::int32_t*>(ml_malloc(bytes));
  if (out) std::memcpy(out, r->learned_inputs, bytes);
  return out != nullptr;
}

bool stage_ok(std::int32_t stage) { return stage >= 0 && stage < MATCH_STAGE_SLOTS; }

std::uint32_t comparisons(const MatchResult* r, std::int32_t c, std::int32_t stage) {
  return r->candidates[c].slots[stage][0];
}
std::uint16_t threshold(const MatchResult* r, std::int32_t c, std::int32_t stage) {
  return static_cast<std::uint16_t>(r->candidates[c].slots[stage][1]);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

MatchResult* zyl::matchlib::match_result_create(int32_t n) {
  if (n <= 0) return nullptr;
  auto* r = static_cast<MatchResult*>(ml_calloc(1, sizeof(MatchResult)));
  if (!r) return nullptr;
  r->candidates = static_cast<MatchCandidate*>(ml_calloc(n, sizeof(MatchCandidate)));
  if (!r->candidates) {
    std::free(r);
    return nullptr;
  }
  r->candidate_count = n;
  r->refcount = 1;
  r->confirmation_flag = 1;
  r->confirmation_marker = -1;
  r->values[0] = 1;
  r->values[1] = -1;
  r->values[2] = 1;
  r->values[3] = -1;
  r->deciding_stage = -1;
  r->record_key = -1;
  r->marker_byte = 255;
  r->best_view = -1;
  r->best_candidate = -1;
  r->scratch_value = -1;
  return r;
}

MatchResult* zyl::matchlib::match_result_retain(MatchResult* r) {
  if (r) ++r->refcount;
  return r;
}

void zyl::matchlib::match_result_release(MatchResult* r) {
  if (r && --r->refcount == 0) free_record(r);
}

MatchResult* zyl::matchlib::match_result_copy(const MatchResult* r) {
  if (!r) return nullptr;
  auto* c = static_cast<MatchResult*>(ml_malloc(sizeof(MatchResult)));
  if (!c) return nullptr;
  std::memcpy(c, r, sizeof(MatchResult));
  c->refcount = 1;
  c->buffer = nullptr;  // the scratch buffer belongs to the match that made it
  c->indices = nullptr;
  c->index_count = 0;
  c->candidates = nullptr;
  c->learned_inputs = nullptr;
  // Fresh copies of the transforms (an absent one stays absent), new
  // references to the blobs and the image.
  c->transform = r->transform ? zyl::matchlib::xform_copy(r->transform) : nullptr;
  c->second_transform =
      r->second_transform ? zyl::matchlib::xform_copy(r->second_transform) : nullptr;
  zyl::matchlib::blob_retain(c->probe_blob);
  zyl::matchlib::blob_retain(c->further_blob);
  zyl::matchlib::blob_retain(c->best_blob);
  zyl::matchlib::image_retain(c->probe_image);
  bool ok = (!r->transform || c->transform) && (!r->second_transform || c->second_transform);
  if (ok && r->index_count > 0 && r->indices) {
    c->indices = copy_indices(r->indices, r->index_count);
    c->index_count = c->indices ? r->index_count : 0;
    ok = c->indices != nullptr;
  }
  if (ok) ok = copy_learned(r, c->learned_inputs);
  if (ok) {
    c->candidates =
        static_cast<MatchCandidate*>(ml_malloc(sizeof(MatchCandidate) * r->candidate_count));
    ok = c->candidates != nullptr;
    if (ok)
      std::memcpy(c->candidates, r->candidates, sizeof(MatchCandidate) * r->candidate_count);
  }
  if (!ok) {
    free_record(c);
    return nullptr;
  }
  return c;
}

int zyl::matchlib::match_result_assign(const MatchResult* src, MatchResult* dst) {
  if (!src || !dst) return ML_BAD_ARGUMENT;
  if (src == dst) return ML_OK;
  // dst's candidate array has room for its own count only.
  if (src->candidate_count != dst->candidate_count) return ML_CORRUPT;
  std::uint16_t* indices = nullptr;
  if (src->index_count > 0 && src->indices) {
    indices = copy_indices(src->indices, src->index_count);
    if (!indices) return ML_NO_MEMORY;
  }
  std::int32_t* learned = nullptr;
  if (!copy_learned(src, learned)) {
    std::free(indices);
    return ML_NO_MEMORY;
  }
  release_objects(dst);
  std::free(dst->indices);
  std::free(dst->learned_inputs);
  MatchCandidate* candidates = dst->candidates;
  int32_t* buffer = dst->buffer;
  const std::int32_t refcount = dst->refcount;
  std::memcpy(dst, src, sizeof(MatchResult));
  dst->refcount = refcount;
  dst->buffer = buffer;
  dst->candidates = candidates;
  std::memcpy(dst->candidates, src->candidates, sizeof(MatchCandidate) * src->candidate_count);
  dst->indices = indices;
  dst->index_count = indices ? src->index_count : 0;
  dst->learned_inputs = learned;
  dst->learned_length = learned ? src->learned_length : 0;
  retain_objects(dst);
  return ML_OK;
}

int zyl::matchlib::match_result_is_match(const MatchResult* r) { return r ? r->decision : 0; }

int zyl::matchlib::match_result_passes_level(const MatchResult* r, int level) {
  if (!r) return 0;
  return static_cast<std::uint16_t>(zyl::matchlib::far_level_to_score(level)) < r->score ? 1 : 0;
}

extern "C" ZYL_API int match_result_passes_adjusted(const MatchResult* r, int level) {
  if (!r) return 0;
  if (r->reached_level != 0 && r->reached_level != r->requested_level) {
    if (level == INT_MAX || r->requested_level == INT_MAX || r->reached_level == INT_MAX) return 0;
    level = zyl::matchlib::far_level_shift(
        static_cast<std::int16_t>(level),
        static_cast<std::int16_t>(r->reached_level - r->requested_level));
  }
  return zyl::matchlib::match_result_passes_level(r, level);
}

int zyl::matchlib::match_result_reached_level(const MatchResult* r) {
  if (!r) return 0;
  return zyl::matchlib::far_score_to_level(
      r->score == 0 ? 0 : static_cast<std::uint16_t>(r->score - 1));
}

extern "C" ZYL_API int match_result_level_score(const MatchResult* r) {
  if (!r) return 0;
  return zyl::matchlib::far_level_to_score(r->reached_level ? r->reached_level
                                                            : r->requested_level);
}

extern "C" ZYL_API int match_result_second_level_score(const MatchResult* r) {
  if (!r) return 0;
  return zyl::matchlib::far_level_to_score(r->second_level ? r->second_level : r->requested_level);
}

extern "C" ZYL_API uint32_t* match_result_stage_scores(MatchResult* r, int32_t candidate,
                                                       int32_t stage) {
  if (!r || candidate < 0 || candidate >= r->candidate_count || !stage_ok(stage)) return nullptr;
  return &r->candidates[candidate].slots[stage][2];
}

extern "C" ZYL_API uint16_t match_result_candidate_threshold(const MatchResult* r,
                                                             int32_t candidate) {
  if (!r || candidate < 0 || candidate >= r->candidate_count) return 0;
  // Before any stage decided there is no slot to read.
  if (!stage_ok(r->deciding_stage)) return 0;
  return threshold(r, candidate, r->deciding_stage);
}

int zyl::matchlib::match_result_set_indices(MatchResult* r, const uint16_t* values, int32_t count) {
  if (!r) return ML_BAD_ARGUMENT;
  std::free(r->indices);
  r->indices = nullptr;
  r->index_count = 0;
  if (count <= 0) return ML_OK;
  if (!values) return ML_BAD_ARGUMENT;
  r->indices = copy_indices(values, count);
  if (!r->indices) return ML_NO_MEMORY;
  r->index_count = count;
  return ML_OK;
}

void zyl::matchlib::match_result_set_probe_blob(MatchResult* r, DataBlob* blob) {
  if (!r) return;
  zyl::matchlib::blob_retain(blob);
  zyl::matchlib::blob_release(r->probe_blob);
  r->probe_blob = blob;
}

extern "C" ZYL_API int match_result_check(const MatchResult* r) {
  if (!r || !r->transform || !r->second_transform) return 0;
  if (r->second_level < r->reached_level) return 0;
  if (r->best_view < 0) return 0;
  if (r->best_candidate < 0 || r->best_candidate >= r->candidate_count) return 0;
  if (r->second_raw_score < r->best_raw_score) return 0;
  const std::int32_t d = r->deciding_stage;
  if (!stage_ok(d)) return 0;
  const std::int32_t n = r->candidate_count;
  bool compared_here = false;
  bool threshold_met = false;
  for (std::int32_t c = 0; c < n; ++c) {
    for (std::int32_t s = d + 1; s < MATCH_STAGE_SLOTS; ++s)
      if (comparisons(r, c, s) != 0 || threshold(r, c, s) != 0) return 0;
    if (comparisons(r, c, d) != 0) compared_here = true;
    if (threshold(r, c, d) > r->score) return 0;
    if (threshold(r, c, d) == r->score) threshold_met = true;
  }
  if (!compared_here || !threshold_met) return 0;
  const std::int32_t b = r->best_candidate;
  return threshold(r, b, d) == r->score && comparisons(r, b, d) > 0 ? 1 : 0;
}

extern "C" ZYL_API uint16_t match_result_score(const MatchResult* r) { return r ? r->score : 0; }
extern "C" ZYL_API uint16_t match_result_best_raw_score(const MatchResult* r) {
  return r ? r->best_raw_score : 0;
}
extern "C" ZYL_API int32_t match_result_decision(const MatchResult* r) {
  return r ? r->decision : 0;
}
extern "C" ZYL_API int32_t match_result_requested_level(const MatchResult* r) {
  return r ? r->requested_level : 0;
}
extern "C" ZYL_API int32_t match_result_deciding_stage(const MatchResult* r) {
  return r ? r->deciding_stage : -1;
}
extern "C" ZYL_API int32_t match_result_record_key(const MatchResult* r) {
  return r ? r->record_key : -1;
}
extern "C" ZYL_API uint8_t match_result_marker_byte(const MatchResult* r) {
  return r ? r->marker_byte : 255;
}
extern "C" ZYL_API int32_t match_result_best_view(const MatchResult* r) {
  return r ? r->best_view : -1;
}
extern "C" ZYL_API int32_t match_result_best_candidate(const MatchResult* r) {
  return r ? r->best_candidate : -1;
}
extern "C" ZYL_API int32_t match_result_overlap(const MatchResult* r) {
  return r ? r->overlap_percent : 0;
}
extern "C" ZYL_API RigidTransform* match_result_transform(const MatchResult* r) {
  return r ? r->transform : nullptr;
}
extern "C" ZYL_API int32_t match_result_transform_flag(const MatchResult* r) {
  return r ? zyl::matchlib::xform_get_flag(r->transform) : 0;
}

extern "C" {

ZYL_API MatchResult* match_result_create(int32_t n) {
  return zyl::matchlib::match_result_create(n);
}
ZYL_API MatchResult* match_result_retain(MatchResult* r) {
  return zyl::matchlib::match_result_retain(r);
}
ZYL_API void match_result_release(MatchResult* r) { zyl::matchlib::match_result_release(r); }
ZYL_API MatchResult* match_result_copy(const MatchResult* r) {
  return zyl::matchlib::match_result_copy(r);
}
ZYL_API int match_result_assign(const MatchResult* src, MatchResult* dst) {
  return zyl::matchlib::match_result_assign(src, dst);
}
ZYL_API int match_result_is_match(const MatchResult* r) {
  return zyl::matchlib::match_result_is_match(r);
}
ZYL_API int match_result_passes_level(const MatchResult* r, int level) {
  return zyl::matchlib::match_result_passes_level(r, level);
}
ZYL_API int match_result_reached_level(const MatchResult* r) {
  return zyl::matchlib::match_result_reached_level(r);
}
ZYL_API int match_result_set_indices(MatchResult* r, const uint16_t* values, int32_t count) {
  return zyl::matchlib::match_result_set_indices(r, values, count);
}
ZYL_API void match_result_set_probe_blob(MatchResult* r, DataBlob* blob) {
  zyl::matchlib::match_result_set_probe_blob(r, blob);
}

}  // extern "C"

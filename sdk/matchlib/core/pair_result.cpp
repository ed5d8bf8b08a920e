// Pair results and the list of pair results ranked by score.
#include <cstdint>
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_result.h"

using zyl::matchlib::ml_malloc;

namespace {

void destroy_pair(PairResult* r) {
  blob_release(r->first);
  blob_release(r->second);
  xform_release(r->transform);
  std::free(r);
}

}  // namespace

extern "C" {

ZYL_API PairResult* pair_result_create(DataBlob* first, DataBlob* second, uint16_t score,
                                       int32_t decision, RigidTransform* transform) {
  auto* r = static_cast<PairResult*>(ml_malloc(sizeof(PairResult)));
  if (!r) return nullptr;
  r->refcount = 1;
  r->score = score;
  r->decision = decision == 1 ? 1 : 0;
  r->transform = xform_retain(transform);
  r->first = blob_retain(first);
  r->second = blob_retain(second);
  r->destroy = destroy_pair;
  return r;
}

ZYL_API PairResult* pair_result_reverse(const PairResult* r) {
  if (!r) return nullptr;
  RigidTransform* inverse = xform_invert(r->transform);
  // A result without a transform reverses to one without a transform.
  if (r->transform && !inverse) return nullptr;
  PairResult* out = pair_result_create(r->second, r->first, r->score, r->decision, inverse);
  xform_release(inverse);
  return out;
}

ZYL_API PairResult* pair_result_copy(const PairResult* r) {
  if (!r) return nullptr;
  return pair_result_create(r->first, r->second, r->score, r->decision, r->transform);
}

ZYL_API PairResult* pair_result_retain(PairResult* r) {
  if (r) ++r->refcount;
  return r;
}

ZYL_API void pair_result_release(PairResult* r) {
  if (r && --r->refcount == 0 && r->destroy) r->destroy(r);
}

ZYL_API int pair_result_same_pair(const PairResult* a, const PairResult* b) {
  return a && b && a->first == b->first && a->second == b->second ? 1 : 0;
}

ZYL_API DataBlob* pair_result_first_blob(const PairResult* r) { return r ? r->first : nullptr; }
ZYL_API DataBlob* pair_result_second_blob(const PairResult* r) { return r ? r->second : nullptr; }
ZYL_API uint16_t pair_result_score(const PairResult* r) { return r ? r->score : 0; }
ZYL_API int32_t pair_result_decision(const PairResult* r) { return r ? r->decision : 0; }
ZYL_API int pair_result_is_match(const PairResult* r) { return r && r->decision == 1 ? 1 : 0; }
ZYL_API int pair_result_is_non_match(const PairResult* r) { return r && r->decision != 1 ? 1 : 0; }
ZYL_API RigidTransform* pair_result_transform(const PairResult* r) {
  return r ? r->transform : nullptr;
}

ZYL_API int pair_result_list_insert(PairResult* r, PairList* list) {
  if (!r || !list) return ML_BAD_ARGUMENT;
  auto* item = static_cast<PairListItem*>(ml_malloc(sizeof(PairListItem)));
  if (!item) return ML_NO_MEMORY;
  item->result = pair_result_retain(r);
  PairListItem* at = list->first;
  while (at && (at->result ? at->result->score : 0) >= r->score) at = at->next;
  item->next = at;
  item->prev = at ? at->prev : list->last;
  if (item->prev)
    item->prev->next = item;
  else
    list->first = item;
  if (at)
    at->prev = item;
  else
    list->last = item;
  ++list->count;
  return ML_OK;
}

ZYL_API void pair_result_list_clear(PairList* list) {
  if (!list) return;
  for (PairListItem* item = list->first; item;) {
    PairListItem* next = item->next;
    pair_result_release(item->result);
    std::free(item);
    item = next;
  }
  list->first = list->last = nullptr;
  list->count = 0;
}

}  // extern "C"

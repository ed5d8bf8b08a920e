// Pair results and the list of pair results ranked by score.
#include <cstdint>
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_result.h"
#include "matchlib/image/blob.h"
#include "matchlib/template/pair_result.h"
#include "matchlib/core/rigid_transform.h"

using zyl::matchlib::ml_malloc;

namespace {

void destroy_pair(PairResult* r) {
  zyl::matchlib::blob_release(r->first);
  zyl::matchlib::blob_release(r->second);
  zyl::matchlib::xform_release(r->transform);
  std::free(r);
}

}  // namespace

PairResult* zyl::matchlib::pair_result_create(DataBlob* first, DataBlob* second, uint16_t score,
                                              int32_t decision, RigidTransform* transform) {
  auto* r = static_cast<PairResult*>(ml_malloc(sizeof(PairResult)));
  if (!r) return nullptr;
  r->refcount = 1;
  r->score = score;
  r->decision = decision == 1 ? 1 : 0;
  r->transform = zyl::matchlib::xform_retain(transform);
  r->first = zyl::matchlib::blob_retain(first);
  r->second = zyl::matchlib::blob_retain(second);
  r->destroy = destroy_pair;
  return r;
}

PairResult* zyl::matchlib::pair_result_reverse(const PairResult* r) {
  if (!r) return nullptr;
  RigidTransform* inverse = zyl::matchlib::xform_invert(r->transform);
  // A result without a transform reverses to one without a transform.
  if (r->transform && !inverse) return nullptr;
  PairResult* out =
      zyl::matchlib::pair_result_create(r->second, r->first, r->score, r->decision, inverse);
  zyl::matchlib::xform_release(inverse);
  return out;
}

extern "C" ZYL_API PairResult* pair_result_copy(const PairResult* r) {
  if (!r) return nullptr;
  return zyl::matchlib::pair_result_create(r->first, r->second, r->score, r->decision,
                                           r->transform);
}

PairResult* zyl::matchlib::pair_result_retain(PairResult* r) {
  if (r) ++r->refcount;
  return r;
}

void zyl::matchlib::pair_result_release(PairResult* r) {
  if (r && --r->refcount == 0 && r->destroy) r->destroy(r);
}

extern "C" ZYL_API int pair_result_same_pair(const PairResult* a, const PairResult* b) {
  return a && b && a->first == b->first && a->second == b->second ? 1 : 0;
}

extern "C" ZYL_API DataBlob* pair_result_first_blob(const PairResult* r) {
  return r ? r->first : nullptr;
}
extern "C" ZYL_API DataBlob* pair_result_second_blob(const PairResult* r) {
  return r ? r->second : nullptr;
}
extern "C" ZYL_API uint16_t pair_result_score(const PairResult* r) { return r ? r->score : 0; }
extern "C" ZYL_API int32_t pair_result_decision(const PairResult* r) { return r ? r->decision : 0; }
int zyl::matchlib::pair_result_is_match(const PairResult* r) {
  return r && r->decision == 1 ? 1 : 0;
}
extern "C" ZYL_API int pair_result_is_non_match(const PairResult* r) {
  return r && r->decision != 1 ? 1 : 0;
}
RigidTransform* zyl::matchlib::pair_result_transform(const PairResult* r) {
  return r ? r->transform : nullptr;
}

int zyl::matchlib::pair_result_list_insert(PairResult* r, PairList* list) {
  if (!r || !list) return ML_BAD_ARGUMENT;
  auto* item = static_cast<PairListItem*>(ml_malloc(sizeof(PairListItem)));
  if (!item) return ML_NO_MEMORY;
  item->result = zyl::matchlib::pair_result_retain(r);
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

void zyl::matchlib::pair_result_list_clear(PairList* list) {
  if (!list) return;
  for (PairListItem* item = list->first; item;) {
    PairListItem* next = item->next;
    zyl::matchlib::pair_result_release(item->result);
    std::free(item);
    item = next;
  }
  list->first = list->last = nullptr;
  list->count = 0;
}

extern "C" {

ZYL_API PairResult* pair_result_create(DataBlob* first, DataBlob* second, uint16_t score,
                                       int32_t decision, RigidTransform* transform) {
  return zyl::matchlib::pair_result_create(first, second, score, decision, transform);
}
ZYL_API PairResult* pair_result_reverse(const PairResult* r) {
  return zyl::matchlib::pair_result_reverse(r);
}
ZYL_API PairResult* pair_result_retain(PairResult* r) {
  return zyl::matchlib::pair_result_retain(r);
}
ZYL_API void pair_result_release(PairResult* r) { zyl::matchlib::pair_result_release(r); }
ZYL_API int pair_result_is_match(const PairResult* r) {
  return zyl::matchlib::pair_result_is_match(r);
}
ZYL_API RigidTransform* pair_result_transform(const PairResult* r) {
  return zyl::matchlib::pair_result_transform(r);
}
ZYL_API int pair_result_list_insert(PairResult* r, PairList* list) {
  return zyl::matchlib::pair_result_list_insert(r, list);
}
ZYL_API void pair_result_list_clear(PairList* list) { zyl::matchlib::pair_result_list_clear(list); }

}  // extern "C"

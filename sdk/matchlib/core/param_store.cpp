// Hashed int parameters of the matcher library: one store per context
// (attached under key 8) and one process-wide store that every read falls
// back to.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "matchlib/core/linked_list.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/param_store.h"

struct ParamEntry {
  ParamEntry* next;  // towards older entries
  ParamEntry* prev;  // towards newer entries
  uint32_t locked;
  uint32_t key;
  int32_t value;
};

struct ParamStore {
  ParamEntry* first;
  ParamEntry* last;
  uint32_t count;
};

namespace zyl::matchlib {
namespace {

constexpr uint32_t kHashWeights[16] = {148273, 16434, 1235234, 412737, 77637,   2242,
                                       217,    25134, 286817,  21561234, 2512317, 25357,
                                       8357,   5623467, 1537,  912317};
constexpr uint32_t kGroupWeights[4] = {217, 4129, 17, 421};

// Shared by every context in the process; the library has one user thread.
ParamStore* g_global_store = nullptr;

ParamStore* context_store(const MatchContext* ctx) {
  return static_cast<ParamStore*>(zyl::matchlib::ctx_find(ctx, CTX_KEY_PARAMS));
}

ParamEntry* find_entry(const ParamStore* store, uint32_t key) {
  return store ? list_find(store->first, key) : nullptr;
}

void unlink_entry(ParamStore* store, ParamEntry* e) {
  list_unlink(*store, e);
  std::free(e);
}

void free_store(ParamStore* store) {
  if (!store) return;
  while (store->first) unlink_entry(store, store->first);
  std::free(store);
}

ParamStore* new_store() {
  auto* s = static_cast<ParamStore*>(ml_malloc(sizeof(ParamStore)));
  if (s) *s = ParamStore{nullptr, nullptr, 0};
  return s;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

uint32_t zyl::matchlib::param_key_hash(const char* text) {
  if (!text) text = "";
  // The length's low byte read as a signed number: texts of 128 to 255
  // characters hash as all blanks, as stored key ids expect.
  const int limit = static_cast<int8_t>(static_cast<uint8_t>(std::strlen(text) & 0xFF));
  uint32_t id = 0;
  for (int g = 0; g < 4; ++g) {
    uint32_t sum = 0;
    for (int j = 0; j < 16; ++j) {
      const int i = 16 * g + j;
      const uint8_t byte = i < limit ? static_cast<uint8_t>(text[i]) : ' ';
      sum += byte * kHashWeights[j];
    }
    id += kGroupWeights[g] * sum;
  }
  return id;
}

int32_t zyl::matchlib::param_get(const MatchContext* ctx, uint32_t key, int32_t fallback) {
  const ParamEntry* e = find_entry(context_store(ctx), key);
  if (!e) e = find_entry(g_global_store, key);
  if (!e || e->locked) return fallback;
  return e->value;
}

int32_t zyl::matchlib::param_get_text(const MatchContext* ctx, const char* text, int32_t fallback) {
  return zyl::matchlib::param_get(ctx, zyl::matchlib::param_key_hash(text), fallback);
}

int zyl::matchlib::param_set(MatchContext* ctx, uint32_t key, int32_t value) {
  ParamStore* store;
  if (ctx) {
    store = context_store(ctx);
    if (!store) {
      store = new_store();
      if (!store) return ML_NO_MEMORY;
      if (int status = zyl::matchlib::ctx_attach(ctx, store, CTX_KEY_PARAMS, param_store_destroy)) {
        std::free(store);
        return status;
      }
    }
  } else {
    if (!g_global_store) g_global_store = new_store();
    if (!g_global_store) return ML_NO_MEMORY;
    store = g_global_store;
  }
  if (ParamEntry* e = find_entry(store, key)) {
    if (e->locked) return ML_UNAVAILABLE;
    e->value = value;
    return ML_OK;
  }
  auto* e = static_cast<ParamEntry*>(ml_calloc(1, sizeof(ParamEntry)));
  if (!e) return ML_NO_MEMORY;
  e->key = key;
  e->value = value;
  list_push_front(*store, e);
  return ML_OK;
}

int zyl::matchlib::param_set_text(MatchContext* ctx, const char* text, int32_t value) {
  return zyl::matchlib::param_set(ctx, zyl::matchlib::param_key_hash(text), value);
}

int zyl::matchlib::param_ensure(MatchContext* ctx, uint32_t key, int32_t fallback) {
  return zyl::matchlib::param_set(ctx, key, zyl::matchlib::param_get(ctx, key, fallback));
}

int zyl::matchlib::param_ensure_text(MatchContext* ctx, const char* text, int32_t fallback) {
  return zyl::matchlib::param_ensure(ctx, zyl::matchlib::param_key_hash(text), fallback);
}

void zyl::matchlib::param_remove_text(MatchContext* ctx, const char* text) {
  ParamStore* store = ctx ? context_store(ctx) : g_global_store;
  if (ParamEntry* e = find_entry(store, zyl::matchlib::param_key_hash(text)))
    unlink_entry(store, e);
}

extern "C" ZYL_API void param_clear(MatchContext* ctx) {
  if (ctx) {
    if (context_store(ctx)) zyl::matchlib::ctx_detach(ctx, CTX_KEY_PARAMS);
    return;
  }
  free_store(g_global_store);
  g_global_store = nullptr;
}

extern "C" ZYL_API int param_list(const MatchContext* ctx, ParamRecord** out_records,
                                  int* out_count) {
  if (!ctx || !out_records || !out_count) return ML_BAD_ARGUMENT;
  *out_records = nullptr;
  *out_count = 0;
  const ParamStore* store = context_store(ctx);
  const uint32_t n = store ? store->count : 0;
  // At least one record's room, so success always hands over a block to free.
  auto* records = static_cast<ParamRecord*>(ml_calloc(n ? n : 1, sizeof(ParamRecord)));
  if (!records) return ML_NO_MEMORY;
  uint32_t i = 0;
  for (const ParamEntry* e = store ? store->first : nullptr; e && i < n; e = e->next, ++i)
    records[i].value = e->locked ? -1 : e->value;
  *out_records = records;
  *out_count = static_cast<int>(i);
  return ML_OK;
}

extern "C" ZYL_API void param_store_destroy(void* store) {
  free_store(static_cast<ParamStore*>(store));
}

int zyl::matchlib::param_set_sensor_type(MatchContext* ctx, int32_t value) {
  return zyl::matchlib::param_set_text(ctx, "vn.algorithm.sensor_type", value);
}
extern "C" ZYL_API int32_t param_get_sensor_type(const MatchContext* ctx) {
  return zyl::matchlib::param_get_text(ctx, "vn.algorithm.sensor_type", 0);
}
int zyl::matchlib::param_set_sensor_size(MatchContext* ctx, int32_t value) {
  return zyl::matchlib::param_set_text(ctx, "vn.algorithm.sensor_size", value);
}
int32_t zyl::matchlib::param_get_sensor_size(const MatchContext* ctx) {
  return zyl::matchlib::param_get_text(ctx, "vn.algorithm.sensor_size", 0);
}
int zyl::matchlib::param_set_360(MatchContext* ctx, int32_t value) {
  return zyl::matchlib::param_set_text(ctx, "vn.algorithm.360", value);
}
int32_t zyl::matchlib::param_get_360(const MatchContext* ctx) {
  return zyl::matchlib::param_get_text(ctx, "vn.algorithm.360", 1);
}

extern "C" {

ZYL_API uint32_t param_key_hash(const char* text) { return zyl::matchlib::param_key_hash(text); }
ZYL_API int32_t param_get(const MatchContext* ctx, uint32_t key, int32_t fallback) {
  return zyl::matchlib::param_get(ctx, key, fallback);
}
ZYL_API int32_t param_get_text(const MatchContext* ctx, const char* text, int32_t fallback) {
  return zyl::matchlib::param_get_text(ctx, text, fallback);
}
ZYL_API int param_set(MatchContext* ctx, uint32_t key, int32_t value) {
  return zyl::matchlib::param_set(ctx, key, value);
}
ZYL_API int param_set_text(MatchContext* ctx, const char* text, int32_t value) {
  return zyl::matchlib::param_set_text(ctx, text, value);
}
ZYL_API int param_ensure(MatchContext* ctx, uint32_t key, int32_t fallback) {
  return zyl::matchlib::param_ensure(ctx, key, fallback);
}
ZYL_API int param_ensure_text(MatchContext* ctx, const char* text, int32_t fallback) {
  return zyl::matchlib::param_ensure_text(ctx, text, fallback);
}
ZYL_API void param_remove_text(MatchContext* ctx, const char* text) {
  zyl::matchlib::param_remove_text(ctx, text);
}
ZYL_API int param_set_sensor_type(MatchContext* ctx, int32_t value) {
  return zyl::matchlib::param_set_sensor_type(ctx, value);
}
ZYL_API int param_set_sensor_size(MatchContext* ctx, int32_t value) {
  return zyl::matchlib::param_set_sensor_size(ctx, value);
}
ZYL_API int32_t param_get_sensor_size(const MatchContext* ctx) {
  return zyl::matchlib::param_get_sensor_size(ctx);
}
ZYL_API int param_set_360(MatchContext* ctx, int32_t value) {
  return zyl::matchlib::param_set_360(ctx, value);
}
ZYL_API int32_t param_get_360(const MatchContext* ctx) { return zyl::matchlib::param_get_360(ctx); }

}  // extern "C"

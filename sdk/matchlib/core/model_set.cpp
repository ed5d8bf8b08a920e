// The score-model set: stored replacement models and threshold tables for
// an engine's score profiles.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_codec.h"
#include "zylscan/matchlib_model_set.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/byte_codec.h"
#include "matchlib/core/model_set.h"
#include "matchlib/core/score_model.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kTableBytes = FAR_CLASS_COUNT * FAR_LEVEL_COUNT * 2;  // 392
constexpr std::uint32_t kEntryOverhead = 6 + 1 + 2 + kTableBytes;             // 401

void clear_model(ScoreModel& m) {
  if (m.free_rows && m.rows) m.free_rows(m.rows);
  m = ScoreModel{nullptr, 0, nullptr, nullptr};
}

// A deep copy through the stored form: 1 when the model has no stored form,
// 17 when the copy writes to another size, 9 when memory runs out.
int copy_model(const ScoreModel& from, ScoreModel& to) {
  to = ScoreModel{nullptr, 0, nullptr, nullptr};
  const std::uint32_t size = zyl::matchlib::score_model_write(nullptr, &from);
  if (size == 0) return ML_WRONG_KIND;
  auto* buf = static_cast<std::uint8_t*>(ml_malloc(size));
  if (!buf) return ML_NO_MEMORY;
  zyl::matchlib::score_model_write(buf, &from);
  int status = zyl::matchlib::score_model_read_bounded(buf, size, &to);
  std::free(buf);
  if (status != ML_OK) return status == ML_NO_MEMORY ? ML_NO_MEMORY : ML_CORRUPT;
  if (zyl::matchlib::score_model_write(nullptr, &to) != size) {
    clear_model(to);
    return ML_CORRUPT;
  }
  return ML_OK;
}

ScoreModelSet* new_set() {
  return static_cast<ScoreModelSet*>(ml_calloc(1, sizeof(ScoreModelSet)));
}

int read_block(void* target, const std::uint8_t* body, std::uint32_t length, void*,
               const std::uint8_t*) {
  return zyl::matchlib::model_set_read_entry(static_cast<ScoreModelSet*>(target), body, length);
}

const BlockHandler kHandlers[] = {{MODEL_SET_BLOCK_TYPE, read_block}, {0, nullptr}};

int build_profiles(ScoreModelSet* set, const ScoreProfile* const* current) {
  const auto n = static_cast<std::size_t>(set->count);
  set->profile_storage = static_cast<ScoreProfile*>(ml_calloc(n ? n : 1, sizeof(ScoreProfile)));
  set->profiles = static_cast<const ScoreProfile**>(ml_calloc(n + 1, sizeof(ScoreProfile*)));
  if (!set->profile_storage || !set->profiles) return ML_NO_MEMORY;
  for (std::size_t i = 0; i < n; ++i) {
    // The engine's profiles must cover every entry of the set.
    if (!current || !current[i]) return ML_CORRUPT;
    ScoreProfile& p = set->profile_storage[i];
    p = *current[i];
    p.thresholds = &set->entries[i].table;
    const int status = copy_model(set->entries[i].model, p.model);
    if (status != ML_OK) return status;
    set->profiles[i] = &p;
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::model_set_free(ScoreModelSet* set) {
  if (!set) return;
  for (ScoreModelSetEntry& e : set->entries) clear_model(e.model);
  if (set->profile_storage)
    for (int32_t i = 0; i < set->count; ++i) clear_model(set->profile_storage[i].model);
  std::free(set->profile_storage);
  std::free(set->profiles);
  std::free(set);
}

int zyl::matchlib::model_set_read_entry(ScoreModelSet* set, const uint8_t* body, uint32_t length) {
  if (!set || !body) return ML_UNAVAILABLE;
  zyl::ByteReader r(std::span<const std::uint8_t>(body, length));
  const std::uint8_t index = r.u8();
  const std::uint16_t model_size = r.u16();
  if (!r.ok() || index >= MODEL_SET_MAX_ENTRIES) return ML_UNAVAILABLE;
  if (!r.has(kTableBytes + std::size_t{model_size})) return ML_UNAVAILABLE;
  ScoreModelSetEntry& e = set->entries[index];
  for (auto& row : e.table.t)
    for (auto& v : row) v = r.u16();
  clear_model(e.model);
  return zyl::matchlib::score_model_read_bounded(body + r.pos(), model_size, &e.model);
}

int zyl::matchlib::model_set_parse(const uint8_t* bytes, uint32_t length,
                                   const ScoreProfile* const* current, ScoreModelSet** out) {
  if (!bytes || !out) return ML_BAD_ARGUMENT;
  ScoreModelSet* set = new_set();
  if (!set) return ML_NO_MEMORY;
  zyl::ByteReader r(std::span<const std::uint8_t>(bytes, length));
  const std::int16_t version = r.s16();
  const std::uint16_t count = r.u16();
  int status = ML_OK;
  if (!r.ok() || version < 1 || count > MODEL_SET_MAX_ENTRIES) status = ML_UNAVAILABLE;
  if (status == ML_OK) {
    set->count = count;
    status = zyl::matchlib::blocks_dispatch6(set, kHandlers, bytes + 4, length - 4, nullptr);
  }
  if (status == ML_OK) status = build_profiles(set, current);
  if (status != ML_OK) {
    zyl::matchlib::model_set_free(set);
    return status;
  }
  *out = set;
  return ML_OK;
}

int zyl::matchlib::model_set_from_profiles(const ScoreProfile* const* profiles,
                                           ScoreModelSet** out) {
  if (!out) return ML_BAD_ARGUMENT;
  ScoreModelSet* set = new_set();
  if (!set) return ML_NO_MEMORY;
  int status = ML_OK;
  for (int32_t i = 0; status == ML_OK && profiles && profiles[i]; ++i) {
    if (i >= MODEL_SET_MAX_ENTRIES) {
      status = ML_TOO_MANY;
      break;
    }
    ScoreModelSetEntry& e = set->entries[i];
    if (profiles[i]->thresholds) e.table = *profiles[i]->thresholds;
    status = copy_model(profiles[i]->model, e.model);
    if (status == ML_OK) set->count = i + 1;
  }
  if (status != ML_OK) {
    zyl::matchlib::model_set_free(set);
    return status;
  }
  *out = set;
  return ML_OK;
}

int zyl::matchlib::model_set_serialize(const ScoreModelSet* set, uint8_t** out,
                                       uint32_t* out_length) {
  if (!set || !out || !out_length) return ML_BAD_ARGUMENT;
  std::uint32_t size = 4;
  for (int32_t i = 0; i < set->count; ++i)
    size += zyl::matchlib::score_model_write(nullptr, &set->entries[i].model) + kEntryOverhead;
  auto* buf = static_cast<std::uint8_t*>(ml_malloc(size));
  if (!buf) return ML_NO_MEMORY;
  zyl::ByteWriter w(std::span<std::uint8_t>(buf, size));
  w.u16(1);
  w.u16(static_cast<std::uint32_t>(set->count));
  for (int32_t i = 0; i < set->count; ++i) {
    const ScoreModelSetEntry& e = set->entries[i];
    const std::uint32_t model_size = zyl::matchlib::score_model_write(nullptr, &e.model);
    w.u16(MODEL_SET_BLOCK_TYPE);
    w.u32(model_size + kEntryOverhead);
    w.u8(static_cast<std::uint32_t>(i));
    w.u16(model_size);
    for (const auto& row : e.table.t)
      for (std::uint16_t v : row) w.u16(v);
    auto* model = static_cast<std::uint8_t*>(ml_malloc(model_size ? model_size : 1));
    if (!model) {
      std::free(buf);
      return ML_NO_MEMORY;
    }
    zyl::matchlib::score_model_write(model, &e.model);
    w.bytes(model, model_size);
    std::free(model);
  }
  *out = buf;
  *out_length = size;
  return ML_OK;
}

extern "C" {

ZYL_API void model_set_free(ScoreModelSet* set) { zyl::matchlib::model_set_free(set); }
ZYL_API int model_set_read_entry(ScoreModelSet* set, const uint8_t* body, uint32_t length) {
  return zyl::matchlib::model_set_read_entry(set, body, length);
}
ZYL_API int model_set_parse(const uint8_t* bytes, uint32_t length,
                            const ScoreProfile* const* current, ScoreModelSet** out) {
  return zyl::matchlib::model_set_parse(bytes, length, current, out);
}
ZYL_API int model_set_from_profiles(const ScoreProfile* const* profiles, ScoreModelSet** out) {
  return zyl::matchlib::model_set_from_profiles(profiles, out);
}
ZYL_API int model_set_serialize(const ScoreModelSet* set, uint8_t** out, uint32_t* out_length) {
  return zyl::matchlib::model_set_serialize(set, out, out_length);
}

}  // extern "C"

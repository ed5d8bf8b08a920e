// Multi-view template: the enrolled views of one finger in a KWZD store,
// its header of settings, the per-view sections and the view queries.
#include <algorithm>
#include <cstring>
#include <vector>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "matchlib/template/multi_view.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/template/kwzd_container.h"
#include "matchlib/template/sample_info.h"

namespace zyl::matchlib {
namespace {

constexpr std::size_t kHeaderLength = MvtHeaderFields::size;
constexpr int kContainerOverhead = 39;

void destroy(MultiViewTemplate* t) {
  zyl::matchlib::xform_release(t->reference);
  zyl::matchlib::kwzd_free(t->store);
  delete t;
}

MultiViewTemplate* fresh() {
  auto* t = new (std::nothrow) MultiViewTemplate{};
  if (!t) return nullptr;
  t->refcount = 1;
  t->destroy = destroy;
  t->store = zyl::matchlib::kwzd_create();
  if (!t->store) {
    delete t;
    return nullptr;
  }
  t->limits[0] = {0, 255};
  t->limit_count = 1;
  t->selection_mode = 2;
  t->replacement_key = -1;
  return t;
}

int write_header(MultiViewTemplate* t, bool clear_append) {
  std::uint8_t h[kHeaderLength] = {};
  ByteWriter w(h);
  w.u8(t->max_views);
  w.u8(12);
  w.u8(((t->append_mode && !clear_append) ? 2u : 0u) | (t->second_mode ? 1u : 0u));
  w.u32(t->size_limit);
  w.u8(0);  // the older one-entry table, no longer written
  w.u8(0);
  w.u8(2);  // header version
  w.u8(t->limit_count);
  for (const MvtSectionLimit& e : t->limits) {
    w.u8(static_cast<std::uint32_t>(e.format));
    w.u8(e.limit);
  }
  zyl::matchlib::kwzd_remove_section(t->store, KWZD_HEADER_KEY, MVT_HEADER_SECTION);
  return zyl::matchlib::kwzd_add_section(t->store, KWZD_HEADER_KEY, MVT_HEADER_SECTION, h,
                                         kHeaderLength);
}

// Settings from the header section; defaults stay for a short or missing one.
int read_header(MultiViewTemplate* t) {
  std::uint16_t length = 0;
  const std::uint8_t* h =
      zyl::matchlib::kwzd_get_section(t->store, KWZD_HEADER_KEY, MVT_HEADER_SECTION, &length);
  if (!h) return ML_OK;
  ByteReader r({h, length});
  using F = MvtHeaderFields;
  if (length >= F::settings_end) {
    t->max_views = r.u8();
    r.u8();
    const std::uint8_t modes = r.u8();
    t->append_mode = (modes >> 1) & 1;
    t->second_mode = modes & 1;
    t->size_limit = r.u32();
  }
  if (length >= F::old_table_end) {
    const std::uint8_t old_limit = r.u8();
    const std::uint8_t old_format = r.u8();
    t->limit_count = 2;
    t->limits[0] = {old_format, old_limit};
    for (int i = 1; i < 5; ++i) t->limits[i] = {0, 255};
  }
  if (length >= F::size) {
    if (r.u8() < 2) return ML_UNAVAILABLE;
    const std::uint8_t count = r.u8();
    // A count beyond the five entries the table holds is a broken header.
    if (count > 5) return ML_UNAVAILABLE;
    t->limit_count = count;
    for (MvtSectionLimit& e : t->limits) {
      e.format = r.u8();
      e.limit = r.u8();
    }
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

MultiViewTemplate* zyl::matchlib::mvt_create(uint8_t maximum_views) {
  MultiViewTemplate* t = fresh();
  if (!t) return nullptr;
  t->max_views = maximum_views;
  t->append_mode = 1;
  t->second_mode = 1;
  if (write_header(t, false) != ML_OK) {
    destroy(t);
    return nullptr;
  }
  return t;
}

int zyl::matchlib::mvt_from_blob(DataBlob* blob, MultiViewTemplate** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!blob) return ML_BAD_ARGUMENT;
  MultiViewTemplate* t = fresh();
  if (!t) return ML_NO_MEMORY;
  KwzdContainer* store = nullptr;
  if (const int status = zyl::matchlib::kwzd_parse(blob, &store); status != ML_OK) {
    destroy(t);
    return status;
  }
  zyl::matchlib::kwzd_free(t->store);
  t->store = store;
  if (const int status = read_header(t); status != ML_OK) {
    destroy(t);
    return status;
  }
  t->all_unmarked = zyl::matchlib::kwzd_record_count(store) > 0 && !any_classed(store) ? 1 : 0;
  t->random_state = leading_crc(blob);
  *out = t;
  return ML_OK;
}

void zyl::matchlib::mvt_release(MultiViewTemplate* t) {
  if (t && --t->refcount == 0) t->destroy(t);
}

extern "C" ZYL_API MultiViewTemplate* mvt_retain(MultiViewTemplate* t) {
  if (t) ++t->refcount;
  return t;
}

DataBlob* zyl::matchlib::mvt_serialize_with(MultiViewTemplate* t, int clear_append,
                                            const KwzdWriter* writer, void* writer_context) {
  if (!t || write_header(t, clear_append != 0) != ML_OK) return nullptr;
  DataBlob* out = nullptr;
  const int status =
      writer ? zyl::matchlib::kwzd_serialize_with(t->store, &out, writer, writer_context)
             : zyl::matchlib::kwzd_serialize(t->store, &out);
  if (status != ML_OK) {
    zyl::matchlib::blob_release(out);
    return nullptr;
  }
  return out;
}

DataBlob* zyl::matchlib::mvt_serialize(MultiViewTemplate* t, int clear_append) {
  return zyl::matchlib::mvt_serialize_with(t, clear_append, nullptr, nullptr);
}

extern "C" ZYL_API MultiViewTemplate* mvt_reserialize(MultiViewTemplate* t) {
  DataBlob* blob = zyl::matchlib::mvt_serialize(t, 0);
  if (!blob) return nullptr;
  MultiViewTemplate* copy = nullptr;
  zyl::matchlib::mvt_from_blob(blob, &copy);
  zyl::matchlib::blob_release(blob);
  return copy;
}

extern "C" ZYL_API int mvt_equal(MultiViewTemplate* a, MultiViewTemplate* b) {
  DataBlob* x = zyl::matchlib::mvt_serialize(a, 0);
  DataBlob* y = zyl::matchlib::mvt_serialize(b, 0);
  const int equal = x && y && zyl::matchlib::blob_size(x) == zyl::matchlib::blob_size(y) &&
                    std::memcmp(zyl::matchlib::blob_data(x), zyl::matchlib::blob_data(y),
                                zyl::matchlib::blob_size(x)) == 0;
  zyl::matchlib::blob_release(x);
  zyl::matchlib::blob_release(y);
  return equal ? 1 : 0;
}

extern "C" ZYL_API uint8_t mvt_view_flags(const uint8_t* section, uint32_t length) {
  return section && length > 5 ? section[5] : 0;
}

extern "C" ZYL_API uint8_t mvt_max_views(const MultiViewTemplate* t) {
  return t ? t->max_views : 0;
}
KwzdContainer* zyl::matchlib::mvt_store(const MultiViewTemplate* t) {
  return t ? t->store : nullptr;
}
extern "C" ZYL_API int mvt_append_mode(const MultiViewTemplate* t) {
  return t ? t->append_mode : 0;
}
extern "C" ZYL_API uint32_t mvt_size_limit(const MultiViewTemplate* t) {
  return t ? t->size_limit : 0;
}
extern "C" ZYL_API int mvt_all_unmarked(const MultiViewTemplate* t) {
  return t ? t->all_unmarked : 0;
}

extern "C" ZYL_API int mvt_section_limits(const MultiViewTemplate* t, MvtSectionLimit* out) {
  if (!t || !out) return 0;
  std::copy(std::begin(t->limits), std::end(t->limits), out);
  return t->limit_count;
}

void zyl::matchlib::mvt_set_size_limit(MultiViewTemplate* t, uint32_t limit) {
  if (t) t->size_limit = limit;
}
void zyl::matchlib::mvt_set_reference_key(MultiViewTemplate* t, int32_t key) {
  if (t) t->reference_key = key;
}
void zyl::matchlib::mvt_set_reference_transform(MultiViewTemplate* t, RigidTransform* transform) {
  if (!t) return;
  zyl::matchlib::xform_retain(transform);
  zyl::matchlib::xform_release(t->reference);
  t->reference = transform;
}
void zyl::matchlib::mvt_set_eviction_rule(MultiViewTemplate* t, int32_t replacement_key) {
  if (t) t->replacement_key = replacement_key;
}

int zyl::matchlib::mvt_set_quality_table(MultiViewTemplate* t, const MvtSectionLimit* entries,
                                         int n) {
  if (!t || n < 0 || n > 4 || (n > 0 && !entries)) return ML_BAD_ARGUMENT;
  for (int i = 0; i < n; ++i) t->limits[i] = {entries[i].format, entries[i].limit ? entries[i].limit : uint8_t{255}};
  t->limits[n] = {0, 255};
  t->limit_count = static_cast<uint8_t>(n + 1);
  return ML_OK;
}

void zyl::matchlib::mvt_check_view_marks(MultiViewTemplate* t) {
  if (t) t->all_unmarked = any_classed(t->store) ? 0 : 1;
}

int zyl::matchlib::mvt_count_flagged_views(const MultiViewTemplate* t, uint8_t mask) {
  if (!t) return 0;
  int n = 0;
  for_each_view(t->store, [&](int32_t key, DataBlob*) { n += (view_info(t->store, key).flags & mask) != 0; });
  return n;
}

extern "C" ZYL_API int mvt_count_flagged_views(const MultiViewTemplate* t, uint8_t mask) {
  return zyl::matchlib::mvt_count_flagged_views(t, mask);
}

int zyl::matchlib::mvt_count_marked_views(const MultiViewTemplate* t) {
  return zyl::matchlib::mvt_count_flagged_views(t, MVT_VIEW_MARKED);
}

int zyl::matchlib::mvt_count_unmarked_views(const MultiViewTemplate* t) {
  return t ? zyl::matchlib::kwzd_record_count(t->store) - zyl::matchlib::mvt_count_marked_views(t)
           : 0;
}

extern "C" ZYL_API int mvt_unmarked_percent(const MultiViewTemplate* t) {
  // A template without a view limit has no meaningful share: 0.
  if (!t || t->max_views == 0) return 0;
  return zyl::matchlib::mvt_count_unmarked_views(t) * 100 / t->max_views;
}

extern "C" ZYL_API int mvt_count_views_with_quality(const MultiViewTemplate* t, uint8_t quality) {
  if (!t) return 0;
  int n = 0;
  for_each_view(t->store, [&](int32_t, DataBlob* blob) {
    n += zyl::matchlib::blob_get_quality(blob) == quality;
  });
  return n;
}

extern "C" ZYL_API int mvt_list_unmarked_keys(const MultiViewTemplate* t, int32_t* out_keys,
                                              int* out_count) {
  if (!t || !out_keys || !out_count) return ML_BAD_ARGUMENT;
  int n = 0;
  for_each_view(t->store, [&](int32_t key, DataBlob*) {
    if (!marked(view_info(t->store, key)) && n < KWZD_MAX_RECORDS) out_keys[n++] = key;
  });
  *out_count = n;
  return ML_OK;
}

DataBlob* zyl::matchlib::mvt_get_view(const MultiViewTemplate* t, int n, RigidTransform** transform,
                                      uint8_t* view_class, int32_t* key) {
  if (!t || n < 0) return nullptr;
  const int count = zyl::matchlib::kwzd_record_count(t->store);
  for (int i = 0, seen = 0; i < count; ++i) {
    int32_t k = 0;
    DataBlob* blob = zyl::matchlib::kwzd_get_at(t->store, i, &k);
    if (!blob) continue;
    if (marked(view_info(t->store, k)) || seen++ != n) {
      zyl::matchlib::blob_release(blob);
      continue;
    }
    if (transform) *transform = view_transform(t->store, k);
    if (view_class) *view_class = class_byte(t->store, k);
    if (key) *key = k;
    return blob;
  }
  return nullptr;
}

extern "C" ZYL_API RigidTransform* mvt_view_alignment(const MultiViewTemplate* t,
                                                      const DataBlob* blob, uint8_t* view_class) {
  if (!t || !blob) return nullptr;
  RigidTransform* found = nullptr;
  for_each_view(t->store, [&](int32_t key, DataBlob* b) {
    if (found || b != blob) return;
    found = view_transform(t->store, key);
    if (view_class) *view_class = class_byte(t->store, key);
  });
  return found;
}

int32_t zyl::matchlib::mvt_blob_get_view(DataBlob* blob, int i, DataBlob** view, int* count) {
  KwzdContainer* store = nullptr;
  if (!blob || zyl::matchlib::kwzd_parse(blob, &store) != ML_OK) return KWZD_HEADER_KEY;
  int32_t key = KWZD_HEADER_KEY;
  DataBlob* b = zyl::matchlib::kwzd_get_at(store, i, &key);
  if (count) *count = zyl::matchlib::kwzd_record_count(store);
  if (!b) key = KWZD_HEADER_KEY;
  if (view)
    *view = b;
  else
    zyl::matchlib::blob_release(b);
  zyl::matchlib::kwzd_free(store);
  return key;
}

extern "C" ZYL_API int mvt_view_details(const MultiViewTemplate* t, RigidTransform** transforms,
                                        uint8_t* classes, uint32_t* finger_values, int* count) {
  if (!t || !count) return ML_BAD_ARGUMENT;
  int n = 0;
  for_each_view(t->store, [&](int32_t key, DataBlob* blob) {
    if (transforms) transforms[n] = view_transform(t->store, key);
    if (classes) classes[n] = class_byte(t->store, key);
    if (finger_values) {
      SampleInfo info{};
      finger_values[n] =
          zyl::matchlib::sample_info_read(nullptr, blob, &info) == ML_OK ? info.finger_value : 0;
    }
    ++n;
  });
  *count = n;
  return ML_OK;
}

int zyl::matchlib::mvt_write_view_sections(KwzdContainer* store, int32_t key,
                                           const RigidTransform* transform, uint8_t flag_byte,
                                           uint8_t view_class, uint8_t view_flags) {
  if (!store) return ML_BAD_ARGUMENT;
  int16_t dx = 0, dy = 0;
  uint8_t angle = 0;
  zyl::matchlib::xform_get_dpi(transform, &dx, &dy, &angle, 500);
  uint8_t info[ViewInfoFields::size];
  zyl::ByteWriter w(info);
  w.u16(static_cast<uint16_t>(dx));
  w.u16(static_cast<uint16_t>(dy));
  w.u8(angle);
  w.u8(view_flags);
  for (const int type : {MVT_VIEW_INFO_SECTION, MVT_CLASS_SECTION, MVT_ALIGN_FLAG_SECTION})
    zyl::matchlib::kwzd_remove_section(store, key, type);
  int status =
      zyl::matchlib::kwzd_add_section(store, key, MVT_VIEW_INFO_SECTION, info, sizeof info);
  if (status == ML_OK)
    status = zyl::matchlib::kwzd_add_section(store, key, MVT_CLASS_SECTION, &view_class, 1);
  if (status == ML_OK)
    status = zyl::matchlib::kwzd_add_section(store, key, MVT_ALIGN_FLAG_SECTION, &flag_byte, 1);
  return status;
}

int zyl::matchlib::mvt_add_view(KwzdContainer* store, DataBlob* blob,
                                const RigidTransform* transform, uint8_t view_class,
                                uint8_t flag_byte, int32_t* key) {
  if (!store || !blob) return ML_BAD_ARGUMENT;
  int32_t k = 0;
  if (const int status = zyl::matchlib::kwzd_append(store, blob, &k); status != ML_OK)
    return status;
  const int status =
      zyl::matchlib::mvt_write_view_sections(store, k, transform, flag_byte, view_class, 0);
  if (status != ML_OK) {
    zyl::matchlib::kwzd_remove(store, k);
    return status;
  }
  if (key) *key = k;
  return ML_OK;
}

extern "C" ZYL_API int mvt_remove_views_with_quality(MultiViewTemplate* t, uint8_t quality) {
  if (!t) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    std::vector<int32_t> keys;
    for_each_view(t->store, [&](int32_t key, DataBlob* blob) {
      if (zyl::matchlib::blob_get_quality(blob) == quality &&
          !(view_info(t->store, key).flags & MVT_VIEW_KEEP))
        keys.push_back(key);
    });
    for (const int32_t key : keys) zyl::matchlib::kwzd_remove(t->store, key);
    return static_cast<int>(ML_OK);
  });
}

extern "C" ZYL_API int mvt_set_views_quality(MultiViewTemplate* t, uint8_t from, uint8_t to) {
  if (!t) return ML_BAD_ARGUMENT;
  int status = ML_OK;
  for_each_view(t->store, [&](int32_t key, DataBlob* blob) {
    if (status != ML_OK || zyl::matchlib::blob_get_quality(blob) != from) return;
    DataBlob* changed = zyl::matchlib::blob_with_quality(blob, to);
    if (!changed) {
      status = ML_NO_MEMORY;
      return;
    }
    status = zyl::matchlib::kwzd_replace(t->store, key, changed);
    zyl::matchlib::blob_release(changed);
  });
  return status;
}

extern "C" ZYL_API int mvt_drop_newest(MultiViewTemplate* t, int n) {
  if (!t) return ML_BAD_ARGUMENT;
  return zyl::matchlib::kwzd_drop_newest(t->store, n);
}

extern "C" ZYL_API int mvt_capacity(const MultiViewTemplate* t) {
  if (!t) return 0;
  if (t->size_limit == 0) return t->max_views;
  long long total = 0;
  int n = 0;
  for_each_view(t->store, [&](int32_t key, DataBlob* blob) {
    if (marked(view_info(t->store, key))) return;
    total += zyl::matchlib::blob_size(blob);
    ++n;
  });
  // Without unmarked views the maximum number of views stands in for the
  // mean; a mean of 0 (views without bytes) leaves nothing to divide by.
  const long long mean = n ? total / n : t->max_views;
  if (mean == 0) return t->max_views;
  const long long fit = (static_cast<long long>(t->size_limit) + mean / 2 - kContainerOverhead) / mean;
  return static_cast<int>(std::clamp<long long>(fit, 0, t->max_views));
}

extern "C" {

ZYL_API MultiViewTemplate* mvt_create(uint8_t maximum_views) {
  return zyl::matchlib::mvt_create(maximum_views);
}
ZYL_API int mvt_from_blob(DataBlob* blob, MultiViewTemplate** out) {
  return zyl::matchlib::mvt_from_blob(blob, out);
}
ZYL_API void mvt_release(MultiViewTemplate* t) { zyl::matchlib::mvt_release(t); }
ZYL_API DataBlob* mvt_serialize_with(MultiViewTemplate* t, int clear_append,
                                     const KwzdWriter* writer, void* writer_context) {
  return zyl::matchlib::mvt_serialize_with(t, clear_append, writer, writer_context);
}
ZYL_API DataBlob* mvt_serialize(MultiViewTemplate* t, int clear_append) {
  return zyl::matchlib::mvt_serialize(t, clear_append);
}
ZYL_API KwzdContainer* mvt_store(const MultiViewTemplate* t) { return zyl::matchlib::mvt_store(t); }
ZYL_API void mvt_set_size_limit(MultiViewTemplate* t, uint32_t limit) {
  zyl::matchlib::mvt_set_size_limit(t, limit);
}
ZYL_API void mvt_set_reference_key(MultiViewTemplate* t, int32_t key) {
  zyl::matchlib::mvt_set_reference_key(t, key);
}
ZYL_API void mvt_set_reference_transform(MultiViewTemplate* t, RigidTransform* transform) {
  zyl::matchlib::mvt_set_reference_transform(t, transform);
}
ZYL_API void mvt_set_eviction_rule(MultiViewTemplate* t, int32_t replacement_key) {
  zyl::matchlib::mvt_set_eviction_rule(t, replacement_key);
}
ZYL_API int mvt_set_quality_table(MultiViewTemplate* t, const MvtSectionLimit* entries, int n) {
  return zyl::matchlib::mvt_set_quality_table(t, entries, n);
}
ZYL_API void mvt_check_view_marks(MultiViewTemplate* t) { zyl::matchlib::mvt_check_view_marks(t); }
ZYL_API int mvt_count_marked_views(const MultiViewTemplate* t) {
  return zyl::matchlib::mvt_count_marked_views(t);
}
ZYL_API int mvt_count_unmarked_views(const MultiViewTemplate* t) {
  return zyl::matchlib::mvt_count_unmarked_views(t);
}
ZYL_API DataBlob* mvt_get_view(const MultiViewTemplate* t, int n, RigidTransform** transform,
                               uint8_t* view_class, int32_t* key) {
  return zyl::matchlib::mvt_get_view(t, n, transform, view_class, key);
}
ZYL_API int32_t mvt_blob_get_view(DataBlob* blob, int i, DataBlob** view, int* count) {
  return zyl::matchlib::mvt_blob_get_view(blob, i, view, count);
}
ZYL_API int mvt_write_view_sections(KwzdContainer* store, int32_t key,
                                    const RigidTransform* transform, uint8_t flag_byte,
                                    uint8_t view_class, uint8_t view_flags) {
  return zyl::matchlib::mvt_write_view_sections(store, key, transform, flag_byte, view_class,
                                                view_flags);
}
ZYL_API int mvt_add_view(KwzdContainer* store, DataBlob* blob, const RigidTransform* transform,
                         uint8_t view_class, uint8_t flag_byte, int32_t* key) {
  return zyl::matchlib::mvt_add_view(store, blob, transform, view_class, flag_byte, key);
}

}  // extern "C"

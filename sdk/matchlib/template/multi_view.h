// Internal face of the multi-view template: its record and the readers
// of its view sections shared by the template and its view selection.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "common/byte_io.h"

#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_mvt.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/crc32.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/template/kwzd_container.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

MultiViewTemplate* mvt_create(uint8_t maximum_views);
int mvt_from_blob(DataBlob* blob, MultiViewTemplate** out);
void mvt_release(MultiViewTemplate* t);
DataBlob* mvt_serialize_with(MultiViewTemplate* t, int clear_append, const KwzdWriter* writer,
                             void* writer_context);
DataBlob* mvt_serialize(MultiViewTemplate* t, int clear_append);
KwzdContainer* mvt_store(const MultiViewTemplate* t);
void mvt_set_size_limit(MultiViewTemplate* t, uint32_t limit);
void mvt_set_reference_key(MultiViewTemplate* t, int32_t key);
void mvt_set_reference_transform(MultiViewTemplate* t, RigidTransform* transform);
void mvt_set_eviction_rule(MultiViewTemplate* t, int32_t replacement_key);
int mvt_set_quality_table(MultiViewTemplate* t, const MvtSectionLimit* entries, int n);
void mvt_check_view_marks(MultiViewTemplate* t);
int mvt_count_flagged_views(const MultiViewTemplate* t, uint8_t mask);
int mvt_count_marked_views(const MultiViewTemplate* t);
int mvt_count_unmarked_views(const MultiViewTemplate* t);
DataBlob* mvt_get_view(const MultiViewTemplate* t, int n, RigidTransform** transform,
                       uint8_t* view_class, int32_t* key);
int32_t mvt_blob_get_view(DataBlob* blob, int i, DataBlob** view, int* count);
int mvt_write_view_sections(KwzdContainer* store, int32_t key, const RigidTransform* transform,
                            uint8_t flag_byte, uint8_t view_class, uint8_t view_flags);
int mvt_add_view(KwzdContainer* store, DataBlob* blob, const RigidTransform* transform,
                 uint8_t view_class, uint8_t flag_byte, int32_t* key);

}  // namespace zyl::matchlib

struct MultiViewTemplate {
  int32_t refcount;
  void (*destroy)(MultiViewTemplate*);
  KwzdContainer* store;
  uint8_t max_views;
  uint8_t append_mode;
  uint8_t second_mode;
  uint32_t size_limit;
  int32_t all_unmarked;
  MvtSectionLimit limits[5];
  uint8_t limit_count;
  int32_t selection_mode;
  int32_t size_estimate;
  int32_t view_estimate;
  int32_t reference_key;
  RigidTransform* reference;
  uint32_t random_state;
  int32_t replacement_key;
};

namespace zyl::matchlib {

// The template's header section: the settings, the older one-entry limit
// table, then the header version and the five-entry limit table.
struct MvtHeaderFields {
  static constexpr std::size_t max_views = 0;
  static constexpr std::size_t modes = 2;  // bit 1 append, bit 0 second mode
  static constexpr std::size_t size_limit = 3;  // u32
  static constexpr std::size_t settings_end = 7;
  static constexpr std::size_t old_limit = 7;
  static constexpr std::size_t old_format = 8;
  static constexpr std::size_t old_table_end = 9;
  static constexpr std::size_t version = 9;
  static constexpr std::size_t limit_count = 10;
  static constexpr std::size_t limits = 11;  // {format, limit} a pair, five pairs
  static constexpr std::size_t size = 21;
};

// A view's information section: its offset (two signed 16-bit values) and
// angle to the reference, then its flags.
struct ViewInfoFields {
  static constexpr std::size_t dx = 0;
  static constexpr std::size_t dy = 2;
  static constexpr std::size_t angle = 4;
  static constexpr std::size_t flags = 5;
  static constexpr std::size_t size = 6;
};

struct ViewInfo {
  int32_t key = 0;
  bool has_info = false;  // an information section of ViewInfoFields::size bytes or more
  const std::uint8_t* info = nullptr;  // null when the view has no such section
  std::int16_t dx = 0, dy = 0;
  std::uint8_t angle = 0;
  std::uint8_t flags = 0;
};

inline ViewInfo view_info(const KwzdContainer* store, int32_t key) {
  ViewInfo v;
  v.key = key;
  std::uint16_t length = 0;
  v.info = zyl::matchlib::kwzd_get_section(store, key, MVT_VIEW_INFO_SECTION, &length);
  v.has_info = v.info && length >= ViewInfoFields::size;
  if (v.has_info) {
    ByteReader r({v.info, length});
    v.dx = r.s16();
    v.dy = r.s16();
    v.angle = r.u8();
    v.flags = r.u8();
  }
  return v;
}

inline bool marked(const ViewInfo& v) { return v.flags & MVT_VIEW_MARKED; }

// Calls f(key, blob) for every view in store order; the blob reference is
// released afterwards.
template <typename F>
void for_each_view(const KwzdContainer* store, F&& f) {
  const int n = zyl::matchlib::kwzd_record_count(store);
  for (int i = 0; i < n; ++i) {
    int32_t key = 0;
    DataBlob* blob = zyl::matchlib::kwzd_get_at(store, i, &key);
    if (!blob) continue;
    f(key, blob);
    zyl::matchlib::blob_release(blob);
  }
}

inline std::uint8_t class_byte(const KwzdContainer* store, int32_t key) {
  std::uint16_t length = 0;
  const std::uint8_t* c = zyl::matchlib::kwzd_get_section(store, key, MVT_CLASS_SECTION, &length);
  return c && length ? c[0] : 255;
}

inline RigidTransform* view_transform(const KwzdContainer* store, int32_t key) {
  const ViewInfo v = view_info(store, key);
  RigidTransform* t =
      zyl::matchlib::xform_create(v.dx, v.dy, v.angle);  // zeros without the section
  std::uint16_t length = 0;
  const std::uint8_t* f =
      zyl::matchlib::kwzd_get_section(store, key, MVT_ALIGN_FLAG_SECTION, &length);
  if (t && f && length) zyl::matchlib::xform_set_flag(t, f[0]);
  return t;
}

inline bool any_classed(const KwzdContainer* store) {
  bool found = false;
  for_each_view(store, [&](int32_t key, DataBlob*) {
    std::uint16_t length = 0;
    if (zyl::matchlib::kwzd_get_section(store, key, MVT_CLASS_SECTION, &length) && length)
      found = true;
  });
  return found;
}

inline std::uint32_t leading_crc(const DataBlob* blob) {
  return zyl::matchlib::crc32_compute(
      zyl::matchlib::blob_data(blob),
      std::min<std::uint32_t>(zyl::matchlib::blob_size(blob), 1024));
}

}  // namespace zyl::matchlib

// The "VORNALI" template container: parse, build, verify, entry edits,
// merge, and the section access every matcher uses.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "common/guarded_call.h"
#include "common/byte_io.h"
#include "matchlib/image/blob.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/crc32.h"
#include "matchlib/template/card_extended.h"
#include "matchlib/template/container.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint8_t kMagic[8] = {'V', 'O', 'R', 'N', 'A', 'L', 'I', 0};
constexpr std::uint8_t kTrailer[4] = {'F', 'O', 'O', 'F'};
constexpr std::size_t kCrcImageSize = 114;
constexpr int kCardFormat = 67;
constexpr int kCompositeCardFormat = 78;

bool magic_ok(std::span<const std::uint8_t> b) {
  return b.size() >= 8 && std::memcmp(b.data(), kMagic, 8) == 0;
}

// A format code must fit the 16-bit field and never be 0 (0 ends nothing
// and is refused by the parser, so writing it would make an unreadable
// container).
bool storable_code(std::int64_t code) { return code > 0 && code <= 0xFFFF; }

int parse(std::span<const std::uint8_t> bytes, ContainerTable& t) {
  t = ContainerTable{};
  if (bytes.data() == nullptr) return ML_OK;
  if (bytes.size() < 10 || !magic_ok(bytes)) return ML_UNAVAILABLE;
  ByteReader r(bytes);
  r.skip(8);
  t.form = r.u8();
  t.count = r.u8();
  if (t.count > CONTAINER_MAX_ENTRIES) {
    t = ContainerTable{};
    return ML_UNAVAILABLE;
  }
  const bool crc_form = t.form != 0;
  if (crc_form) t.header_crc = r.u32();
  const std::size_t head = crc_form ? 10 : 6;
  for (int i = 0; i < t.count && r.ok(); ++i) {
    if (!r.has(head)) {
      t = ContainerTable{};
      return ML_UNAVAILABLE;
    }
    ContainerEntry& e = t.entries[i];
    e.format = r.u16();
    e.length = r.u32();
    if (crc_form) e.crc = r.u32();
    if (e.format == 0 || e.length > r.remaining()) {
      t = ContainerTable{};
      return ML_UNAVAILABLE;
    }
    e.data = r.view(e.length).data();
  }
  if (crc_form) {
    auto trailer = r.view(4);
    if (!r.ok() || std::memcmp(trailer.data(), kTrailer, 4) != 0) {
      t = ContainerTable{};
      return ML_UNAVAILABLE;
    }
  }
  if (!r.ok() || r.remaining() != 0) {
    t = ContainerTable{};
    return ML_UNAVAILABLE;
  }
  return ML_OK;
}

std::uint32_t header_crc(const ContainerTable& t) {
  std::uint8_t image[kCrcImageSize] = {};
  ByteWriter w(image);
  w.u8(t.form);
  w.u8(t.count);
  for (int i = 0; i < t.count && i < CONTAINER_MAX_ENTRIES; ++i) {
    w.u16(t.entries[i].format);
    w.u32(t.entries[i].length);
    w.u32(t.entries[i].crc);
  }
  return zyl::matchlib::crc32_compute(image, kCrcImageSize);
}

DataBlob* build(const ContainerTable& t) {
  if (t.count > CONTAINER_MAX_ENTRIES) return nullptr;
  // 64-bit sum: ten entries of 32-bit lengths could wrap a 32-bit size.
  std::uint64_t size = 18;
  for (int i = 0; i < t.count; ++i) size += 10 + std::uint64_t{t.entries[i].length};
  if (size > UINT32_MAX) return nullptr;
  std::vector<std::uint8_t> out;
  if (zyl::GuardedCall(ML_NO_MEMORY, [&] {
        out.resize(size);
        return ML_OK;
      }) != ML_OK)
    return nullptr;
  ContainerTable crc_table = t;
  crc_table.form = 1;
  ByteWriter w(out);
  w.bytes(kMagic, 8);
  w.u8(1);
  w.u8(t.count);
  w.u32(header_crc(crc_table));
  for (int i = 0; i < t.count; ++i) {
    const ContainerEntry& e = t.entries[i];
    w.u16(e.format);
    w.u32(e.length);
    w.u32(e.crc);
    if (e.length) w.bytes(e.data, e.length);
  }
  w.bytes(kTrailer, 4);
  if (!w.ok()) return nullptr;
  return zyl::matchlib::blob_create(CONTAINER_FORMAT, out.data(),
                                    static_cast<std::uint32_t>(out.size()));
}

int locate(std::span<const std::uint8_t> bytes, std::int32_t code, ContainerEntry& out) {
  out = ContainerEntry{};
  if (bytes.size() < 10) return ML_UNAVAILABLE;
  ByteReader r(bytes);
  r.skip(8);
  const bool crc_form = r.u8() != 0;
  const int count = r.u8();
  if (count > CONTAINER_MAX_ENTRIES) return ML_UNAVAILABLE;
  if (crc_form) r.skip(4);
  for (int i = 0; i < count; ++i) {
    ContainerEntry e{};
    e.format = r.u16();
    e.length = r.u32();
    if (crc_form) e.crc = r.u32();
    if (!r.ok() || e.length > r.remaining()) return ML_UNAVAILABLE;
    e.data = bytes.data() + r.pos();
    r.skip(e.length);
    if (e.format == code) {
      out = e;
      return ML_OK;
    }
  }
  return ML_NOT_FOUND;
}

// A blob as a table: a container is parsed, any other blob is one entry
// under its own type.
int table_from_blob(const DataBlob* blob, ContainerTable& t) {
  t = ContainerTable{};
  if (!blob) {
    t.form = 1;
    return ML_OK;
  }
  const auto bytes = blob_bytes(blob);
  if (zyl::matchlib::blob_type(blob) == CONTAINER_FORMAT) return parse(bytes, t);
  if (!storable_code(zyl::matchlib::blob_type(blob))) return ML_UNAVAILABLE;
  t.form = 1;
  t.count = 1;
  t.entries[0] = {static_cast<std::uint16_t>(zyl::matchlib::blob_type(blob)), blob->length,
                  blob->data, zyl::matchlib::crc32_compute(blob->data, blob->length)};
  return ML_OK;
}

int find_code(const ContainerTable& t, std::uint16_t code) {
  for (int i = 0; i < t.count; ++i)
    if (t.entries[i].format == code) return i;
  return -1;
}

DataBlob* build_with_image(const ContainerTable& t, const DataBlob* source) {
  DataBlob* out = build(t);
  if (out && source) zyl::matchlib::blob_set_image(out, zyl::matchlib::blob_get_image(source));
  return out;
}

bool container_blob(const DataBlob* blob) {
  const auto bytes = blob_bytes(blob);
  return bytes.size() >= CONTAINER_MIN_SIZE && magic_ok(bytes);
}

// Section of a composite card template.
int card_section(std::span<const std::uint8_t> bytes, std::int32_t code, const std::uint8_t** data,
                 std::uint32_t* length) {
  const int status = zyl::matchlib::tmpl_card_section(
      bytes.data(), static_cast<std::uint32_t>(bytes.size()), code, data, length);
  if (status != ML_OK) {
    *data = nullptr;
    *length = 0;
  }
  return status;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int container_parse(const uint8_t* data, uint32_t length, ContainerTable* out) {
  if (!out) return ML_BAD_ARGUMENT;
  if (!data) {
    *out = ContainerTable{};
    return ML_OK;
  }
  return parse({data, length}, *out);
}

extern "C" ZYL_API uint32_t container_header_crc(const ContainerTable* table) {
  return table ? header_crc(*table) : 0;
}

extern "C" ZYL_API int container_locate(const uint8_t* bytes, uint32_t length, int32_t format,
                                        ContainerEntry* out) {
  if (!bytes || !out) return ML_BAD_ARGUMENT;
  return locate({bytes, length}, format, *out);
}

extern "C" ZYL_API int container_table_from_blob(const DataBlob* blob, ContainerTable* out) {
  if (!out) return ML_BAD_ARGUMENT;
  return table_from_blob(blob, *out);
}

extern "C" ZYL_API DataBlob* container_build(const ContainerTable* table) {
  return table ? build(*table) : nullptr;
}

extern "C" ZYL_API DataBlob* container_from_table(const ContainerTable* table) {
  return table && table->form == 1 ? build(*table) : nullptr;
}

extern "C" ZYL_API int container_magic_ok(const uint8_t* bytes, uint32_t length) {
  return bytes && magic_ok({bytes, length}) ? 1 : 0;
}

extern "C" ZYL_API int container_verify(const uint8_t* bytes, uint32_t length, int level) {
  if (!bytes || length <= 7 || !magic_ok({bytes, length})) return 0;
  if (length < 4 || std::memcmp(bytes + length - 4, kTrailer, 4) != 0) return 0;
  if (level == 0) return 1;
  ContainerTable t;
  if (parse({bytes, length}, t) != ML_OK) return 0;
  if (level < 0) return 1;
  if (header_crc(t) != t.header_crc) return 0;
  if (level == 1 || t.count == 0) return 1;
  int valid = 1;
  for (int i = 0; i < t.count; ++i)
    if (zyl::matchlib::crc32_compute(t.entries[i].data, t.entries[i].length) != t.entries[i].crc)
      valid = 0;
  return valid;
}

int zyl::matchlib::container_find_entry(const DataBlob* blob, int32_t format, const uint8_t** data,
                                        uint32_t* length) {
  if (data) *data = nullptr;
  if (length) *length = 0;
  if (!container_blob(blob)) return ML_UNAVAILABLE;
  ContainerEntry e;
  const int status = locate(blob_bytes(blob), format, e);
  if (status == ML_OK) {
    if (data) *data = e.data;
    if (length) *length = e.length;
  }
  return status;
}

extern "C" ZYL_API int container_has_entry(const DataBlob* blob, int32_t format) {
  if (!container_blob(blob)) return 0;
  ContainerEntry e;
  return locate(blob_bytes(blob), format, e) == ML_OK ? 1 : 0;
}

int zyl::matchlib::container_is_empty(const DataBlob* blob) {
  if (!container_blob(blob)) return ML_UNAVAILABLE;
  return blob->data[9] == 0 ? 1 : 0;
}

DataBlob* zyl::matchlib::container_put_entry(DataBlob* blob, int32_t format, const uint8_t* data,
                                             uint32_t length) {
  if (!storable_code(format) || (!data && length)) return nullptr;
  ContainerTable t{};
  if (blob && parse(blob_bytes(blob), t) != ML_OK) return nullptr;
  if (t.count >= CONTAINER_MAX_ENTRIES) return nullptr;
  const ContainerEntry entry{static_cast<std::uint16_t>(format), length, data,
                             zyl::matchlib::crc32_compute(data, length)};
  const int at = find_code(t, entry.format);
  if (at >= 0)
    t.entries[at] = entry;
  else
    t.entries[t.count++] = entry;
  t.form = 1;
  return build_with_image(t, blob);
}

DataBlob* zyl::matchlib::container_take_entry(DataBlob* blob, int32_t format, const uint8_t** data,
                                              uint32_t* length) {
  if (data) *data = nullptr;
  if (length) *length = 0;
  if (!blob) return nullptr;
  ContainerTable t;
  if (parse(blob_bytes(blob), t) != ML_OK || t.count == 0) return nullptr;
  const int at = storable_code(format) ? find_code(t, static_cast<std::uint16_t>(format)) : -1;
  if (at < 0) return nullptr;
  const ContainerEntry removed = t.entries[at];
  t.entries[at] = t.entries[t.count - 1];
  --t.count;
  t.form = 1;
  DataBlob* out = build_with_image(t, blob);
  if (out) {
    if (data) *data = removed.data;
    if (length) *length = removed.length;
  }
  return out;
}

DataBlob* zyl::matchlib::container_remove_entry(DataBlob* blob, int32_t format) {
  if (!blob || zyl::matchlib::blob_type(blob) != CONTAINER_FORMAT) return nullptr;
  return zyl::matchlib::container_take_entry(blob, format, nullptr, nullptr);
}

extern "C" ZYL_API DataBlob* container_keep_codes(DataBlob* blob, const int32_t* formats,
                                                  int32_t count) {
  ContainerTable t{};
  if (blob && parse(blob_bytes(blob), t) != ML_OK) return nullptr;
  if (count > 0 && !formats) return nullptr;
  auto listed = [&](std::uint16_t code) {
    for (int32_t i = 0; i < count; ++i)
      if (formats[i] == code) return true;
    return false;
  };
  int i = 0;
  while (i < t.count) {
    if (count > 0 && listed(t.entries[i].format)) {
      ++i;
    } else {
      t.entries[i] = t.entries[t.count - 1];
      --t.count;
    }
  }
  t.form = 1;
  return build_with_image(t, blob);
}

extern "C" ZYL_API DataBlob* container_from_blob(DataBlob* blob) {
  if (!blob) return nullptr;
  if (zyl::matchlib::blob_type(blob) == CONTAINER_FORMAT) return zyl::matchlib::blob_retain(blob);
  ContainerTable t;
  if (table_from_blob(blob, t) != ML_OK) return nullptr;
  return build_with_image(t, blob);
}

DataBlob* zyl::matchlib::container_merge(DataBlob* first, DataBlob* second) {
  if (!first && !second) return nullptr;
  if (!first) return zyl::matchlib::blob_retain(second);
  if (!second) return zyl::matchlib::blob_retain(first);
  ContainerTable merged, other;
  if (table_from_blob(first, merged) != ML_OK || table_from_blob(second, other) != ML_OK)
    return nullptr;
  for (int i = 0; i < other.count; ++i) {
    if (find_code(merged, other.entries[i].format) >= 0) continue;
    if (merged.count >= CONTAINER_MAX_ENTRIES) return nullptr;
    merged.entries[merged.count++] = other.entries[i];
  }
  merged.form = 1;
  DataBlob* out = build(merged);
  if (!out) return nullptr;
  if (GrayImage* image = zyl::matchlib::blob_get_image(first))
    zyl::matchlib::blob_set_image(out, image);
  if (GrayImage* image = zyl::matchlib::blob_get_image(second))
    zyl::matchlib::blob_set_image(out, image);
  return out;
}

int zyl::matchlib::tmpl_get_section(const DataBlob* blob, int32_t format, const uint8_t** data,
                                    uint32_t* length) {
  if (data) *data = nullptr;
  if (length) *length = 0;
  if (!blob || !data || !length) return ML_BAD_ARGUMENT;
  const std::int32_t type = zyl::matchlib::blob_type(blob);
  const auto bytes = blob_bytes(blob);
  if (type == format) {
    *data = blob->data;
    *length = blob->length;
    return ML_OK;
  }
  if (type == kCardFormat || type == kCompositeCardFormat)
    return card_section(bytes, format, data, length);
  if (type != CONTAINER_FORMAT) return ML_UNAVAILABLE;
  if (!container_blob(blob)) return ML_UNAVAILABLE;
  ContainerEntry e;
  int status = locate(bytes, format, e);
  if (status == ML_OK) {
    *data = e.data;
    *length = e.length;
    return ML_OK;
  }
  if (status != ML_NOT_FOUND) return status;
  status = locate(bytes, kCardFormat, e);
  if (status != ML_OK) return status;
  return card_section({e.data, e.length}, format, data, length);
}

int zyl::matchlib::tmpl_has_section(const DataBlob* blob, int32_t format) {
  if (!blob) return 0;
  const std::int32_t type = zyl::matchlib::blob_type(blob);
  if (type == format) return 1;
  std::span<const std::uint8_t> source;
  if (type == CONTAINER_FORMAT) {
    if (!container_blob(blob)) return 0;
    ContainerEntry e;
    if (locate(blob_bytes(blob), format, e) == ML_OK) return 1;
    if (locate(blob_bytes(blob), kCardFormat, e) != ML_OK) return 0;
    source = {e.data, e.length};
  } else if (type == kCardFormat || type == kCompositeCardFormat) {
    source = blob_bytes(blob);
  } else {
    return 0;
  }
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  return card_section(source, format, &data, &length) == ML_OK && data && length ? 1 : 0;
}

extern "C" {

ZYL_API int container_find_entry(const DataBlob* blob, int32_t format, const uint8_t** data,
                                 uint32_t* length) {
  return zyl::matchlib::container_find_entry(blob, format, data, length);
}
ZYL_API int container_is_empty(const DataBlob* blob) {
  return zyl::matchlib::container_is_empty(blob);
}
ZYL_API DataBlob* container_put_entry(DataBlob* blob, int32_t format, const uint8_t* data,
                                      uint32_t length) {
  return zyl::matchlib::container_put_entry(blob, format, data, length);
}
ZYL_API DataBlob* container_take_entry(DataBlob* blob, int32_t format, const uint8_t** data,
                                       uint32_t* length) {
  return zyl::matchlib::container_take_entry(blob, format, data, length);
}
ZYL_API DataBlob* container_remove_entry(DataBlob* blob, int32_t format) {
  return zyl::matchlib::container_remove_entry(blob, format);
}
ZYL_API DataBlob* container_merge(DataBlob* first, DataBlob* second) {
  return zyl::matchlib::container_merge(first, second);
}
ZYL_API int tmpl_get_section(const DataBlob* blob, int32_t format, const uint8_t** data,
                             uint32_t* length) {
  return zyl::matchlib::tmpl_get_section(blob, format, data, length);
}
ZYL_API int tmpl_has_section(const DataBlob* blob, int32_t format) {
  return zyl::matchlib::tmpl_has_section(blob, format);
}

}  // extern "C"

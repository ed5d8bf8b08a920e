// The "KWZD" keyed-record container: records and sections in memory, the
// bounded parser of its stored form, and the serialiser with its writer pair.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/image/blob.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/template/kwzd_container.h"

namespace {

struct Section {
  std::uint8_t type;
  zyl::matchlib::HookedVector<std::uint8_t> data;
};
using SectionList = zyl::matchlib::HookedVector<Section>;

struct Record {
  std::int32_t key;
  DataBlob* blob;  // one reference held
  SectionList sections;
};

constexpr std::uint8_t kMagic[4] = {'K', 'W', 'Z', 'D'};
constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
constexpr std::uint32_t kStoredMinusOne = 0x80000000;

}  // namespace

struct KwzdContainer {
  zyl::matchlib::HookedVector<Record> records;
  SectionList header;
  std::int32_t next_key = 1;
};

namespace zyl::matchlib {
namespace {

// Key arithmetic wraps like the stored 32-bit field instead of overflowing.
std::int32_t plus_one(std::int32_t key) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(key) + 1);
}

// The next key as a number: 0x80000000 there means every key up to the
// largest has been handed out.
std::int64_t next_key_value(const KwzdContainer* c) {
  return c->next_key == KWZD_HEADER_KEY ? std::int64_t{INT32_MAX} + 1 : c->next_key;
}

// The next key only ever rises past a key in use, so no key handed out
// before is handed out again; after INT32_MAX it stays at 0x80000000, the
// key no record may take.
void raise_next_key(KwzdContainer* c, std::int32_t key) {
  if (std::int64_t{key} + 1 > next_key_value(c)) c->next_key = plus_one(key);
}

std::int32_t next_key_from_stored(std::uint32_t stored) {
  if (stored > INT32_MAX) return KWZD_HEADER_KEY;
  return std::max<std::int32_t>(1, static_cast<std::int32_t>(stored));
}

Record* find_record(KwzdContainer* c, std::int32_t key) {
  for (Record& r : c->records)
    if (r.key == key) return &r;
  return nullptr;
}
const Record* find_record(const KwzdContainer* c, std::int32_t key) {
  return find_record(const_cast<KwzdContainer*>(c), key);
}

SectionList* section_list(KwzdContainer* c, std::int32_t key) {
  if (key == KWZD_HEADER_KEY) return &c->header;
  Record* r = find_record(c, key);
  return r ? &r->sections : nullptr;
}
const SectionList* section_list(const KwzdContainer* c, std::int32_t key) {
  return section_list(const_cast<KwzdContainer*>(c), key);
}

Section* find_section(SectionList& list, int type) {
  for (Section& s : list)
    if (s.type == type) return &s;
  return nullptr;
}

bool largest_key(const KwzdContainer* c, std::int32_t& key) {
  if (c->records.empty()) return false;
  key = c->records.front().key;
  for (const Record& r : c->records) key = std::max(key, r.key);
  return true;
}

int remove_record(KwzdContainer* c, std::int32_t key) {
  raise_next_key(c, key);
  auto it = std::find_if(c->records.begin(), c->records.end(),
                         [key](const Record& r) { return r.key == key; });
  if (it == c->records.end()) return ML_NOT_FOUND;
  zyl::matchlib::blob_release(it->blob);
  c->records.erase(it);
  return ML_OK;
}

// Reads n sections; a repeated type drops the earlier one and keeps the
// later at the end. False on a shortage.
bool read_sections(ByteReader& r, int n, SectionList& list) {
  for (int i = 0; i < n; ++i) {
    if (!r.has(3)) return false;
    const std::uint8_t type = r.u8();
    const std::uint16_t length = r.u16();
    auto bytes = r.view(length);
    if (!r.ok()) return false;
    std::erase_if(list, [type](const Section& s) { return s.type == type; });
    list.push_back({type, {bytes.begin(), bytes.end()}});
  }
  return true;
}

void release_parent(void* parent) { zyl::matchlib::blob_release(static_cast<DataBlob*>(parent)); }

int parse(DataBlob* blob, KwzdContainer*& out) {
  const auto bytes = blob_bytes(blob);
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kMagic, 4) != 0 || bytes[4] != 0)
    return ML_UNAVAILABLE;
  const int version = bytes[5];
  if (version == 0 || version > 3) return ML_UNAVAILABLE;
  const int count = bytes[6];
  const int header_count = bytes[7];
  std::unique_ptr<KwzdContainer, void (*)(KwzdContainer*)> holder(ml_new<KwzdContainer>(),
                                                                  &zyl::matchlib::kwzd_free);
  if (!holder) return ML_NO_MEMORY;
  KwzdContainer* c = holder.get();
  auto fail = [](int status) { return status; };
  ByteReader r(bytes);
  r.skip(8);
  if (version == 3 && !read_sections(r, header_count, c->header)) return fail(ML_UNAVAILABLE);
  const std::size_t head = version == 1 ? 8 : 10;
  int read = 0;
  while (read < count) {
    if (!r.has(head)) {
      if (version != 3) return fail(ML_UNAVAILABLE);
      break;
    }
    const std::size_t start = r.pos();
    std::uint32_t stored_key = r.u32();
    if (version == 3 && stored_key == kEndMarker) {
      r.seek(start);
      break;
    }
    const std::int32_t key =
        stored_key == kStoredMinusOne ? -1 : static_cast<std::int32_t>(stored_key);
    const int sections = r.u8();
    const int format = r.u8();
    const std::uint32_t length = version == 1 ? r.u16() : r.u32();
    auto data = r.view(length);
    if (!r.ok()) return fail(ML_UNAVAILABLE);
    // Keys name records: a stored form with a key twice, or more records
    // than the 8-bit count can hold, is not one this library writes.
    if (find_record(c, key) || c->records.size() >= KWZD_MAX_RECORDS)
      return fail(ML_UNAVAILABLE);
    DataBlob* record_blob = nullptr;
    if (zyl::matchlib::blob_owns_data(blob)) {
      record_blob = zyl::matchlib::blob_create(format, data.data(), length);
    } else {
      record_blob = zyl::matchlib::blob_wrap(format, const_cast<std::uint8_t*>(data.data()), length,
                                             0, release_parent, blob);
      if (record_blob) zyl::matchlib::blob_retain(blob);
    }
    if (!record_blob) return fail(ML_NO_MEMORY);
    try {
      c->records.push_back({key, record_blob, {}});
    } catch (...) {
      zyl::matchlib::blob_release(record_blob);
      throw;
    }
    if (!read_sections(r, sections, c->records.back().sections)) return fail(ML_UNAVAILABLE);
    ++read;
  }
  if (version != 3) {
    if (!read_sections(r, header_count, c->header)) return fail(ML_UNAVAILABLE);
  } else {
    for (std::size_t i = r.pos(); i < bytes.size(); ++i)
      if (bytes[i] != 0xFF) return fail(ML_UNAVAILABLE);
    if (count != 255 && count != read) return fail(ML_UNAVAILABLE);
  }
  c->next_key = 1;
  for (const Section& s : c->header)
    if (s.type == KWZD_NEXT_KEY_SECTION && s.data.size() == 4)
      // The next key is at least 1 whatever the bytes say; 0x80000000 and
      // above mean that every key has been handed out.
      c->next_key = next_key_from_stored(ByteReader(s.data).u32());
  out = holder.release();
  return ML_OK;
}

std::uint64_t serialized_size(const KwzdContainer* c) {
  std::uint64_t size = 8;
  for (const Record& r : c->records) {
    size += 10 + std::uint64_t{zyl::matchlib::blob_size(r.blob)};
    for (const Section& s : r.sections) size += 3 + s.data.size();
  }
  for (const Section& s : c->header) size += 3 + s.data.size();
  return size;
}

struct BufferWriter {
  std::uint8_t* buffer;
  std::uint32_t capacity;
  std::uint32_t fill;
};

int default_allocate(void* context, std::uint32_t total, std::uint8_t** buffer, int* owns,
                     BlobReleaseRoutine* release, void** release_argument) {
  auto* w = static_cast<BufferWriter*>(context);
  auto* b = static_cast<std::uint8_t*>(ml_malloc(total ? total : 1));
  if (!b) return ML_NO_MEMORY;
  *w = {b, total, 0};
  *buffer = b;
  *owns = 1;
  *release = free_callback;
  *release_argument = b;
  return ML_OK;
}

int default_append(void* context, const std::uint8_t* bytes, std::uint32_t length) {
  auto* w = static_cast<BufferWriter*>(context);
  if (length > w->capacity - w->fill) return ML_CORRUPT;
  if (length) std::memcpy(w->buffer + w->fill, bytes, length);
  w->fill += length;
  return ML_OK;
}

constexpr KwzdWriter kDefaultWriter = {default_allocate, default_append};

int serialize(KwzdContainer* c, DataBlob** out, const KwzdWriter& writer, void* context) {
  std::erase_if(c->header, [](const Section& s) { return s.type == KWZD_NEXT_KEY_SECTION; });
  std::int32_t largest = 0;
  const bool any = largest_key(c, largest);
  if (any ? next_key_value(c) > std::int64_t{largest} + 1 : next_key_value(c) > 0) {
    std::vector<std::uint8_t> key(4);
    ByteWriter(key).u32(static_cast<std::uint32_t>(c->next_key));
    c->header.insert(c->header.begin(), Section{KWZD_NEXT_KEY_SECTION, {key.begin(), key.end()}});
  }
  const std::uint64_t size = serialized_size(c);
  if (size > UINT32_MAX) return ML_BAD_ARGUMENT;
  std::uint8_t* buffer = nullptr;
  int owns = 0;
  BlobReleaseRoutine release = nullptr;
  void* release_argument = nullptr;
  int status = writer.allocate(context, static_cast<std::uint32_t>(size), &buffer, &owns,
                               &release, &release_argument);
  if (status != ML_OK) return status;
  auto put = [&](const std::uint8_t* bytes, std::size_t n) {
    if (status == ML_OK) status = writer.append(context, bytes, static_cast<std::uint32_t>(n));
  };
  auto put_sections = [&](const SectionList& list) {
    for (const Section& s : list) {
      const std::uint8_t head[3] = {s.type, static_cast<std::uint8_t>(s.data.size() >> 8),
                                    static_cast<std::uint8_t>(s.data.size())};
      put(head, 3);
      put(s.data.data(), s.data.size());
    }
  };
  const std::uint8_t head[8] = {'K', 'W', 'Z', 'D', 0, 3, 255,
                                static_cast<std::uint8_t>(c->header.size())};
  put(head, 8);
  put_sections(c->header);
  for (const Record& r : c->records) {
    std::uint8_t record_head[10];
    ByteWriter w(record_head);
    w.u32(r.key == -1 ? kStoredMinusOne : static_cast<std::uint32_t>(r.key));
    w.u8(static_cast<std::uint32_t>(r.sections.size()));
    w.u8(static_cast<std::uint32_t>(zyl::matchlib::blob_type(r.blob)));
    w.u32(zyl::matchlib::blob_size(r.blob));
    put(record_head, 10);
    put(zyl::matchlib::blob_data(r.blob), zyl::matchlib::blob_size(r.blob));
    put_sections(r.sections);
  }
  put(nullptr, 0);
  DataBlob* result = nullptr;
  if (status == ML_OK) {
    result = zyl::matchlib::blob_wrap(KWZD_FORMAT, buffer, static_cast<std::uint32_t>(size), owns,
                                      release, release_argument);
    if (!result) status = ML_NO_MEMORY;
  }
  if (status != ML_OK) {
    if (release) release(release_argument);
    return status;
  }
  *out = result;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

KwzdContainer* zyl::matchlib::kwzd_create(void) { return ml_new<KwzdContainer>(); }

void zyl::matchlib::kwzd_free(KwzdContainer* container) {
  if (!container) return;
  for (Record& r : container->records) zyl::matchlib::blob_release(r.blob);
  delete container;
}

int zyl::matchlib::kwzd_record_count(const KwzdContainer* container) {
  return container ? static_cast<int>(container->records.size()) : 0;
}

int zyl::matchlib::kwzd_add_record(KwzdContainer* container, int32_t key, DataBlob* blob) {
  if (!container || !blob || key == KWZD_HEADER_KEY || find_record(container, key))
    return ML_BAD_ARGUMENT;
  if (container->records.size() >= KWZD_MAX_RECORDS) return ML_WRONG_KIND;
  if (const int st = zyl::GuardedCall(ML_NO_MEMORY, [&] {
        container->records.push_back({key, zyl::matchlib::blob_retain(blob), {}});
        return ML_OK;
      })) {
    zyl::matchlib::blob_release(blob);  // the reference the record was to hold
    return st;
  }
  raise_next_key(container, key);
  return ML_OK;
}

int zyl::matchlib::kwzd_append(KwzdContainer* container, DataBlob* blob, int32_t* key) {
  if (!container) return ML_BAD_ARGUMENT;
  std::int64_t k = next_key_value(container);
  std::int32_t largest;
  if (largest_key(container, largest)) k = std::max(k, std::int64_t{largest} + 1);
  // Every key is taken: 0x80000000 is refused by kwzd_add_record.
  const std::int32_t key_out = k > INT32_MAX ? KWZD_HEADER_KEY : static_cast<std::int32_t>(k);
  if (key) *key = key_out;
  return zyl::matchlib::kwzd_add_record(container, key_out, blob);
}

int zyl::matchlib::kwzd_remove(KwzdContainer* container, int32_t key) {
  return container ? remove_record(container, key) : ML_NOT_FOUND;
}

int zyl::matchlib::kwzd_remove_reuse(KwzdContainer* container, int32_t key) {
  if (!container) return ML_NOT_FOUND;
  const int status = remove_record(container, key);
  if (status == ML_OK && container->next_key == plus_one(key)) container->next_key = key;
  return status;
}

int zyl::matchlib::kwzd_drop_newest(KwzdContainer* container, int count) {
  if (!container || (count > 0 && container->records.empty())) return ML_NOT_FOUND;
  for (int i = 0; i < count; ++i) {
    std::int32_t largest;
    if (!largest_key(container, largest)) break;
    raise_next_key(container, largest);
    remove_record(container, largest);
  }
  return ML_OK;
}

extern "C" ZYL_API void kwzd_clear(KwzdContainer* container) {
  if (!container) return;
  for (Record& r : container->records) zyl::matchlib::blob_release(r.blob);
  container->records.clear();
}

DataBlob* zyl::matchlib::kwzd_find(const KwzdContainer* container, int32_t key) {
  const Record* r = container ? find_record(container, key) : nullptr;
  return r ? zyl::matchlib::blob_retain(r->blob) : nullptr;
}

DataBlob* zyl::matchlib::kwzd_get_at(const KwzdContainer* container, int index, int32_t* key) {
  if (!container || index < 0 || static_cast<std::size_t>(index) >= container->records.size())
    return nullptr;
  const Record& r = container->records[static_cast<std::size_t>(index)];
  if (key) *key = r.key;
  return zyl::matchlib::blob_retain(r.blob);
}

extern "C" ZYL_API int kwzd_next_key(const KwzdContainer* container, int32_t* key) {
  if (!container || !key || container->records.empty()) return 0;
  if (*key == KWZD_HEADER_KEY) {
    *key = container->records.front().key;
    return 1;
  }
  for (std::size_t i = 0; i + 1 < container->records.size(); ++i) {
    if (container->records[i].key == *key) {
      *key = container->records[i + 1].key;
      return 1;
    }
  }
  return 0;
}

extern "C" ZYL_API int kwzd_set_blob(KwzdContainer* container, DataBlob* blob, int32_t key) {
  if (!blob) return ML_BAD_ARGUMENT;
  return zyl::matchlib::kwzd_replace(container, key, blob);
}

int zyl::matchlib::kwzd_replace(KwzdContainer* container, int32_t key, DataBlob* blob) {
  Record* r = container ? find_record(container, key) : nullptr;
  if (!r) return ML_NOT_FOUND;
  // A null blob would leave a record that cannot be stored.
  if (!blob) return ML_BAD_ARGUMENT;
  if (r->blob != blob) {
    zyl::matchlib::blob_retain(blob);
    zyl::matchlib::blob_release(r->blob);
    r->blob = blob;
  }
  return ML_OK;
}

int zyl::matchlib::kwzd_add_section(KwzdContainer* container, int32_t key, int type,
                                    const uint8_t* data, uint16_t length) {
  if (!container) return ML_BAD_ARGUMENT;
  SectionList* list = section_list(container, key);
  if (!list) return ML_NOT_FOUND;
  if (type < 0 || type > 255 || find_section(*list, type) || (!data && length))
    return ML_BAD_ARGUMENT;
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    list->insert(list->begin(), Section{static_cast<std::uint8_t>(type), {data, data + length}});
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  return ML_OK;
}

int zyl::matchlib::kwzd_remove_section(KwzdContainer* container, int32_t key, int type) {
  SectionList* list = container ? section_list(container, key) : nullptr;
  if (!list) return ML_NOT_FOUND;
  const auto removed =
      std::erase_if(*list, [type](const Section& s) { return s.type == type; });
  return removed ? ML_OK : ML_NOT_FOUND;
}

const uint8_t* zyl::matchlib::kwzd_get_section(const KwzdContainer* container, int32_t key,
                                               int type, uint16_t* length) {
  if (length) *length = 0;
  const SectionList* list = container ? section_list(container, key) : nullptr;
  if (!list) return nullptr;
  for (const Section& s : *list) {
    if (s.type != type) continue;
    if (length) *length = static_cast<std::uint16_t>(s.data.size());
    // A section of length 0 still answers a non-null pointer: it is present.
    static const std::uint8_t kEmpty = 0;
    return s.data.empty() ? &kEmpty : s.data.data();
  }
  return nullptr;
}

extern "C" ZYL_API int kwzd_next_section_type(const KwzdContainer* container, int32_t key,
                                              int* type) {
  const SectionList* list = container && type ? section_list(container, key) : nullptr;
  if (!list || list->empty()) return 0;
  if (*type == 0) {
    *type = list->front().type;
    return 1;
  }
  for (std::size_t i = 0; i + 1 < list->size(); ++i) {
    if ((*list)[i].type == *type) {
      *type = (*list)[i + 1].type;
      return 1;
    }
  }
  return 0;
}

extern "C" ZYL_API int kwzd_copy_section(const KwzdContainer* source, KwzdContainer* target,
                                         int32_t key, int type) {
  uint16_t length = 0;
  const uint8_t* data = zyl::matchlib::kwzd_get_section(source, key, type, &length);
  if (!data) return ML_OK;
  return zyl::matchlib::kwzd_add_section(target, key, type, data, length);
}

uint32_t zyl::matchlib::kwzd_serialized_size(const KwzdContainer* container) {
  if (!container) return 0;
  const std::uint64_t size = serialized_size(container);
  return size > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(size);
}

int zyl::matchlib::kwzd_parse(DataBlob* blob, KwzdContainer** out) {
  if (out) *out = nullptr;
  if (!out || !blob) return ML_BAD_ARGUMENT;
  if (zyl::matchlib::blob_type(blob) != KWZD_FORMAT) return ML_WRONG_KIND;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int { return parse(blob, *out); });
}

int zyl::matchlib::kwzd_serialize_with(KwzdContainer* container, DataBlob** out,
                                       const KwzdWriter* writer, void* writer_context) {
  if (out) *out = nullptr;
  if (!writer || !writer->allocate || !writer->append || !container || !out)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(
      ML_NO_MEMORY, [&]() -> int { return serialize(container, out, *writer, writer_context); });
}

int zyl::matchlib::kwzd_serialize(KwzdContainer* container, DataBlob** out) {
  BufferWriter state{};
  return zyl::matchlib::kwzd_serialize_with(container, out, &kDefaultWriter, &state);
}

extern "C" ZYL_API int kwzd_magic_ok(const uint8_t* bytes, uint32_t length) {
  return bytes && length >= 4 && std::memcmp(bytes, kMagic, 4) == 0 ? 1 : 0;
}

extern "C" {

ZYL_API KwzdContainer* kwzd_create(void) { return zyl::matchlib::kwzd_create(); }
ZYL_API void kwzd_free(KwzdContainer* container) { zyl::matchlib::kwzd_free(container); }
ZYL_API int kwzd_record_count(const KwzdContainer* container) {
  return zyl::matchlib::kwzd_record_count(container);
}
ZYL_API int kwzd_add_record(KwzdContainer* container, int32_t key, DataBlob* blob) {
  return zyl::matchlib::kwzd_add_record(container, key, blob);
}
ZYL_API int kwzd_append(KwzdContainer* container, DataBlob* blob, int32_t* key) {
  return zyl::matchlib::kwzd_append(container, blob, key);
}
ZYL_API int kwzd_remove(KwzdContainer* container, int32_t key) {
  return zyl::matchlib::kwzd_remove(container, key);
}
ZYL_API int kwzd_remove_reuse(KwzdContainer* container, int32_t key) {
  return zyl::matchlib::kwzd_remove_reuse(container, key);
}
ZYL_API int kwzd_drop_newest(KwzdContainer* container, int count) {
  return zyl::matchlib::kwzd_drop_newest(container, count);
}
ZYL_API DataBlob* kwzd_find(const KwzdContainer* container, int32_t key) {
  return zyl::matchlib::kwzd_find(container, key);
}
ZYL_API DataBlob* kwzd_get_at(const KwzdContainer* container, int index, int32_t* key) {
  return zyl::matchlib::kwzd_get_at(container, index, key);
}
ZYL_API int kwzd_replace(KwzdContainer* container, int32_t key, DataBlob* blob) {
  return zyl::matchlib::kwzd_replace(container, key, blob);
}
ZYL_API int kwzd_add_section(KwzdContainer* container, int32_t key, int type, const uint8_t* data,
                             uint16_t length) {
  return zyl::matchlib::kwzd_add_section(container, key, type, data, length);
}
ZYL_API int kwzd_remove_section(KwzdContainer* container, int32_t key, int type) {
  return zyl::matchlib::kwzd_remove_section(container, key, type);
}
ZYL_API const uint8_t* kwzd_get_section(const KwzdContainer* container, int32_t key, int type,
                                        uint16_t* length) {
  return zyl::matchlib::kwzd_get_section(container, key, type, length);
}
ZYL_API uint32_t kwzd_serialized_size(const KwzdContainer* container) {
  return zyl::matchlib::kwzd_serialized_size(container);
}
ZYL_API int kwzd_parse(DataBlob* blob, KwzdContainer** out) {
  return zyl::matchlib::kwzd_parse(blob, out);
}
ZYL_API int kwzd_serialize_with(KwzdContainer* container, DataBlob** out, const KwzdWriter* writer,
                                void* writer_context) {
  return zyl::matchlib::kwzd_serialize_with(container, out, writer, writer_context);
}
ZYL_API int kwzd_serialize(KwzdContainer* container, DataBlob** out) {
  return zyl::matchlib::kwzd_serialize(container, out);
}

}  // extern "C"

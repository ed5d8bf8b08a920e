// Finger information and attribute values.
#include "matchlib/core/allocation.h"
#include "matchlib/core/finger_info.h"

#include <cstdlib>
#include <limits>
#include <new>

#include "common/byte_io.h"

using zyl::matchlib::ml_malloc;

namespace {

// Process-wide defaults: no destroy routine, so counting never touches them.
AttributeValue g_default_attribute{1, 0, 0, 0, nullptr};
FingerInfo g_default_info{1, 0, nullptr, 0, nullptr};

void destroy_attribute(AttributeValue* a) { std::free(a); }

void destroy_info(FingerInfo* f) {
  zyl::matchlib::attribute_release(f->attribute);
  std::free(f);
}

const AttributeValue* attribute_or_default(const FingerInfo* f) {
  return f && f->attribute ? f->attribute : &g_default_attribute;
}

constexpr std::uint32_t kAttributeBytes = 8;

void write_attribute(zyl::ByteWriter& w, const AttributeValue* a) {
  w.u8(a ? 1 : 0);
  if (!a) return;
  w.u32(a->id);
  w.u16(a->value);
  w.u8(static_cast<std::uint8_t>(a->flag));
}

}  // namespace

namespace zyl::matchlib {

namespace {

// Reads a serialised attribute value; 0 when short, else 1 or 8.
std::size_t read_attribute(ByteReader& r, Ref<AttributeValue>& out, bool& no_memory) {
  no_memory = false;
  const std::uint8_t present = r.u8();
  if (!r.ok()) return 0;
  if (!present) return 1;
  const std::uint32_t id = r.u32();
  const std::uint16_t value = r.u16();
  const std::uint8_t flag = r.u8();
  if (!r.ok()) return 0;
  AttributeValue* a = zyl::matchlib::attribute_create_full(id, value, flag);
  if (!a) {
    no_memory = true;
    return 0;
  }
  out = Ref<AttributeValue>::adopt(a);
  return kAttributeBytes;
}

}  // namespace

std::size_t read_finger_info(std::span<const std::uint8_t> in, Ref<FingerInfo>& out) {
  out.reset();
  ByteReader r(in);
  const std::uint8_t version = r.u8();
  if (!r.ok()) return 0;
  if (version == 0) {
    FingerInfo* f = zyl::matchlib::finger_info_create(0, nullptr);
    if (!f) return 0;
    out = Ref<FingerInfo>::adopt(f);
    return 1;
  }
  Ref<AttributeValue> attribute;
  bool no_memory = false;
  if (read_attribute(r, attribute, no_memory) == 0) return 0;
  const std::uint8_t position = r.u8();
  const std::int32_t second = r.s32();
  if (version >= 2) r.skip(5);
  if (!r.ok()) return 0;
  FingerInfo* f = zyl::matchlib::finger_info_create_full(position, attribute.get(), second);
  if (!f) return 0;
  out = Ref<FingerInfo>::adopt(f);
  return r.pos();
}

}  // namespace zyl::matchlib

using zyl::matchlib::Ref;

AttributeValue* zyl::matchlib::attribute_create_full(uint32_t id, uint16_t value, int32_t flag) {
  auto* a = static_cast<AttributeValue*>(ml_malloc(sizeof(AttributeValue)));
  if (!a) return nullptr;
  new (a) AttributeValue{1, id, value, flag, destroy_attribute};
  return a;
}

extern "C" ZYL_API AttributeValue* attribute_create(uint32_t id) {
  return zyl::matchlib::attribute_create_full(id, 0, 0);
}

AttributeValue* zyl::matchlib::attribute_retain(AttributeValue* a) {
  if (a && a->destroy) ++a->refcount;
  return a;
}

void zyl::matchlib::attribute_release(AttributeValue* a) {
  if (!a || !a->destroy) return;
  if (--a->refcount <= 0) a->destroy(a);
}

AttributeValue* zyl::matchlib::attribute_copy(const AttributeValue* a) {
  if (!a) return nullptr;
  return zyl::matchlib::attribute_create_full(a->id, a->value, a->flag);
}

int zyl::matchlib::attribute_equal(const AttributeValue* a, const AttributeValue* b) {
  return a && b && a->id == b->id ? 1 : 0;
}

extern "C" ZYL_API uint32_t attribute_id(const AttributeValue* a) { return a ? a->id : 0; }
extern "C" ZYL_API uint16_t attribute_value(const AttributeValue* a) { return a ? a->value : 0; }
extern "C" ZYL_API int32_t attribute_flag(const AttributeValue* a) { return a ? a->flag : 0; }
AttributeValue* zyl::matchlib::attribute_default(void) { return &g_default_attribute; }

uint32_t zyl::matchlib::attribute_write(uint8_t* out, const AttributeValue* a) {
  const std::uint32_t n = a ? kAttributeBytes : 1;
  if (!out) return n;
  zyl::ByteWriter w({out, n});
  write_attribute(w, a);
  return n;
}

extern "C" ZYL_API uint32_t attribute_read(const uint8_t* in, AttributeValue** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!in) return 0;
  zyl::ByteReader r({in, kAttributeBytes});
  // The present byte decides how many bytes the caller promised.
  if (in[0] == 0) return 1;
  Ref<AttributeValue> a;
  bool no_memory = false;
  const std::size_t n = zyl::matchlib::read_attribute(r, a, no_memory);
  if (no_memory) return kAttributeBytes;
  *out = a.release();
  return static_cast<uint32_t>(n);
}

FingerInfo* zyl::matchlib::finger_info_create_full(int32_t position, AttributeValue* attribute,
                                                   int32_t second_value) {
  auto* f = static_cast<FingerInfo*>(ml_malloc(sizeof(FingerInfo)));
  if (!f) return nullptr;
  new (f) FingerInfo{1, position, nullptr, second_value, destroy_info};
  f->attribute = zyl::matchlib::attribute_retain(attribute ? attribute : &g_default_attribute);
  return f;
}

FingerInfo* zyl::matchlib::finger_info_create(int32_t position, AttributeValue* attribute) {
  return zyl::matchlib::finger_info_create_full(position, attribute, 0);
}

FingerInfo* zyl::matchlib::finger_info_retain(FingerInfo* info) {
  if (info && info->destroy) ++info->refcount;
  return info;
}

void zyl::matchlib::finger_info_release(FingerInfo* info) {
  if (!info || !info->destroy) return;
  if (--info->refcount <= 0) info->destroy(info);
}

FingerInfo* zyl::matchlib::finger_info_copy(const FingerInfo* info) {
  if (!info) return nullptr;
  AttributeValue* a = zyl::matchlib::attribute_copy(attribute_or_default(info));
  if (!a) return nullptr;
  FingerInfo* f = zyl::matchlib::finger_info_create_full(info->position, a, info->second_value);
  zyl::matchlib::attribute_release(a);
  return f;
}

extern "C" ZYL_API int finger_info_equal(const FingerInfo* a, const FingerInfo* b) {
  if (!a || !b) return 0;
  return a->second_value == b->second_value && a->position == b->position &&
                 zyl::matchlib::attribute_equal(attribute_or_default(a), attribute_or_default(b))
             ? 1
             : 0;
}

int32_t zyl::matchlib::finger_info_position(const FingerInfo* info) {
  return info ? info->position : 0;
}
int32_t zyl::matchlib::finger_info_second_value(const FingerInfo* info) {
  return info ? info->second_value : 0;
}
extern "C" ZYL_API AttributeValue* finger_info_attribute(const FingerInfo* info) {
  return const_cast<AttributeValue*>(attribute_or_default(info));
}
uint32_t zyl::matchlib::finger_info_attribute_id(const FingerInfo* info) {
  return attribute_or_default(info)->id;
}
extern "C" ZYL_API uint64_t finger_info_key(const FingerInfo* info) {
  return static_cast<std::uint32_t>(zyl::matchlib::finger_info_position(info)) |
         (std::uint64_t{zyl::matchlib::finger_info_attribute_id(info)} << 32);
}
FingerInfo* zyl::matchlib::finger_info_default(void) { return &g_default_info; }

FingerInfo* zyl::matchlib::finger_info_or_default(FingerInfo* info) {
  return info ? info : &g_default_info;
}

uint32_t zyl::matchlib::finger_info_write(uint8_t* out, const FingerInfo* info) {
  if (!info) {
    if (out) out[0] = 0;
    return 1;
  }
  // A record holds its attribute value or stands for the default one; both
  // are written in full, so the record is 19 bytes unless the value is null.
  const AttributeValue* a = info->attribute;
  const std::uint32_t n = 11 + zyl::matchlib::attribute_write(nullptr, a);
  if (!out) return n;
  zyl::ByteWriter w({out, n});
  w.u8(2);
  write_attribute(w, a);
  w.u8(static_cast<std::uint8_t>(info->position));
  w.u32(static_cast<std::uint32_t>(info->second_value));
  w.fill(0, 5);
  return n;
}

uint32_t zyl::matchlib::finger_info_read_bounded(const uint8_t* in, uint32_t available,
                                                 FingerInfo** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!in) return 0;
  Ref<FingerInfo> f;
  const std::size_t n = zyl::matchlib::read_finger_info({in, available}, f);
  *out = f.release();
  return static_cast<uint32_t>(n);
}

extern "C" ZYL_API uint32_t finger_info_read(const uint8_t* in, FingerInfo** out) {
  // The longest record is 19 bytes; the caller vouches for the record's
  // presence, and the reader never looks beyond what the version promises.
  return zyl::matchlib::finger_info_read_bounded(in, 19, out);
}

extern "C" {

ZYL_API AttributeValue* attribute_create_full(uint32_t id, uint16_t value, int32_t flag) {
  return zyl::matchlib::attribute_create_full(id, value, flag);
}
ZYL_API AttributeValue* attribute_retain(AttributeValue* a) {
  return zyl::matchlib::attribute_retain(a);
}
ZYL_API void attribute_release(AttributeValue* a) { zyl::matchlib::attribute_release(a); }
ZYL_API AttributeValue* attribute_copy(const AttributeValue* a) {
  return zyl::matchlib::attribute_copy(a);
}
ZYL_API int attribute_equal(const AttributeValue* a, const AttributeValue* b) {
  return zyl::matchlib::attribute_equal(a, b);
}
ZYL_API AttributeValue* attribute_default(void) { return zyl::matchlib::attribute_default(); }
ZYL_API uint32_t attribute_write(uint8_t* out, const AttributeValue* a) {
  return zyl::matchlib::attribute_write(out, a);
}
ZYL_API FingerInfo* finger_info_create_full(int32_t position, AttributeValue* attribute,
                                            int32_t second_value) {
  return zyl::matchlib::finger_info_create_full(position, attribute, second_value);
}
ZYL_API FingerInfo* finger_info_create(int32_t position, AttributeValue* attribute) {
  return zyl::matchlib::finger_info_create(position, attribute);
}
ZYL_API FingerInfo* finger_info_retain(FingerInfo* info) {
  return zyl::matchlib::finger_info_retain(info);
}
ZYL_API void finger_info_release(FingerInfo* info) { zyl::matchlib::finger_info_release(info); }
ZYL_API FingerInfo* finger_info_copy(const FingerInfo* info) {
  return zyl::matchlib::finger_info_copy(info);
}
ZYL_API int32_t finger_info_position(const FingerInfo* info) {
  return zyl::matchlib::finger_info_position(info);
}
ZYL_API int32_t finger_info_second_value(const FingerInfo* info) {
  return zyl::matchlib::finger_info_second_value(info);
}
ZYL_API uint32_t finger_info_attribute_id(const FingerInfo* info) {
  return zyl::matchlib::finger_info_attribute_id(info);
}
ZYL_API FingerInfo* finger_info_default(void) { return zyl::matchlib::finger_info_default(); }
ZYL_API uint32_t finger_info_write(uint8_t* out, const FingerInfo* info) {
  return zyl::matchlib::finger_info_write(out, info);
}
ZYL_API uint32_t finger_info_read_bounded(const uint8_t* in, uint32_t available, FingerInfo** out) {
  return zyl::matchlib::finger_info_read_bounded(in, available, out);
}

}  // extern "C"

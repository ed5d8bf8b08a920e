// Internal face of the finger information record and attribute value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_finger_info.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

AttributeValue* attribute_create_full(uint32_t id, uint16_t value, int32_t flag);
AttributeValue* attribute_retain(AttributeValue* a);
void attribute_release(AttributeValue* a);
AttributeValue* attribute_copy(const AttributeValue* a);
int attribute_equal(const AttributeValue* a, const AttributeValue* b);
AttributeValue* attribute_default(void);
uint32_t attribute_write(uint8_t* out, const AttributeValue* a);
FingerInfo* finger_info_create_full(int32_t position, AttributeValue* attribute,
                                    int32_t second_value);
FingerInfo* finger_info_create(int32_t position, AttributeValue* attribute);
FingerInfo* finger_info_retain(FingerInfo* info);
void finger_info_release(FingerInfo* info);
FingerInfo* finger_info_copy(const FingerInfo* info);
int32_t finger_info_position(const FingerInfo* info);
int32_t finger_info_second_value(const FingerInfo* info);
uint32_t finger_info_attribute_id(const FingerInfo* info);
FingerInfo* finger_info_default(void);
// The given information, or the process-wide default when none is given.
FingerInfo* finger_info_or_default(FingerInfo* info);
uint32_t finger_info_write(uint8_t* out, const FingerInfo* info);
uint32_t finger_info_read_bounded(const uint8_t* in, uint32_t available, FingerInfo** out);

}  // namespace zyl::matchlib

struct AttributeValue {
  std::int32_t refcount;
  std::uint32_t id;
  std::uint16_t value;
  std::int32_t flag;
  void (*destroy)(AttributeValue*);
};

struct FingerInfo {
  std::int32_t refcount;
  std::int32_t position;
  AttributeValue* attribute;
  std::int32_t second_value;
  void (*destroy)(FingerInfo*);
};

namespace zyl::matchlib {

template <>
struct RefTraits<AttributeValue> {
  static void retain(AttributeValue* a) { zyl::matchlib::attribute_retain(a); }
  static void release(AttributeValue* a) { zyl::matchlib::attribute_release(a); }
};

template <>
struct RefTraits<FingerInfo> {
  static void retain(FingerInfo* f) { zyl::matchlib::finger_info_retain(f); }
  static void release(FingerInfo* f) { zyl::matchlib::finger_info_release(f); }
};

// Reads one serialised record from the front of `in`; answers the bytes
// consumed, or 0 with `out` empty when the input is short or memory runs out.
std::size_t read_finger_info(std::span<const std::uint8_t> in, Ref<FingerInfo>& out);

}  // namespace zyl::matchlib

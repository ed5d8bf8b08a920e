// Internal face of the finger information record and attribute value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_finger_info.h"

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
  static void retain(AttributeValue* a) { attribute_retain(a); }
  static void release(AttributeValue* a) { attribute_release(a); }
};

template <>
struct RefTraits<FingerInfo> {
  static void retain(FingerInfo* f) { finger_info_retain(f); }
  static void release(FingerInfo* f) { finger_info_release(f); }
};

// Reads one serialised record from the front of `in`; answers the bytes
// consumed, or 0 with `out` empty when the input is short or memory runs out.
std::size_t read_finger_info(std::span<const std::uint8_t> in, Ref<FingerInfo>& out);

}  // namespace zyl::matchlib

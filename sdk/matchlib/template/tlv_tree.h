// Building TLV trees inside the card code.
#pragma once

#include <cstdint>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib {

// Appends a new element (tag, value) as the last child of parent; false,
// with nothing added, when memory runs out.
inline bool tlv_add_child(TlvNode* parent, uint16_t tag, const uint8_t* value, uint32_t length) {
  TlvNode* n = zyl::matchlib::tlv_node_create(tag, length, value);
  if (!n) return false;
  if (zyl::matchlib::tlv_append_child(parent, n) != ML_OK) {
    zyl::matchlib::tlv_node_free(n);
    return false;
  }
  return true;
}

}  // namespace zyl::matchlib

// BER-TLV: tags, lengths, bounded element readers, tag paths, validation,
// and the element tree with its parser and encoder.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib {
namespace {

bool two_byte(std::uint16_t tag) { return tag > 0xFF; }

bool valid_tag(std::uint16_t tag) {
  if (two_byte(tag)) return (tag & 0x1F80) == 0x1F00 && (tag & 0x7F) != 0;
  return (tag & 0x1F) != 0x1F;
}

std::uint8_t first_byte(std::uint16_t tag) {
  return static_cast<std::uint8_t>(two_byte(tag) ? tag >> 8 : tag);
}

int tag_number(std::uint16_t tag) { return two_byte(tag) ? tag & 0x7F : tag & 0x1F; }

bool constructed(std::uint16_t tag) { return valid_tag(tag) && (first_byte(tag) & 0x20) != 0; }

int length_size(std::uint32_t length) {
  if (length < 0x80) return 1;
  if (length < 0x100) return 2;
  if (length < 0x10000) return 3;
  return 4;
}

// Reads one element within the reader's bytes; false (reader untouched in
// meaning) for a cut or malformed header or a value beyond the end.
bool read_element(std::span<const std::uint8_t> bytes, TlvElement& e, std::uint32_t& used) {
  e = TlvElement{};
  used = 0;
  ByteReader r(bytes);
  std::uint16_t tag = r.u8();
  if (!r.ok()) return false;
  if ((tag & 0x1F) == 0x1F) {
    const std::uint8_t second = r.u8();
    if (!r.ok() || second == 0 || second > 127) return false;
    tag = static_cast<std::uint16_t>(tag << 8 | second);
  }
  const std::uint8_t first = r.u8();
  std::uint32_t length = first;
  if (first == 0x81)
    length = r.u8();
  else if (first == 0x82)
    length = r.u16();
  else if (first == 0x83)
    length = r.u24();
  else if (first >= 0x80)
    return false;
  if (!r.ok() || length > r.remaining()) return false;
  e.tag = tag;
  e.length = length;
  e.value = bytes.data() + r.pos();
  used = static_cast<std::uint32_t>(r.pos() + length);
  return true;
}

// Finds the first element with `tag` among consecutive elements.
bool next_with_tag(std::span<const std::uint8_t> bytes, std::uint16_t tag, TlvElement& out) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    TlvElement e;
    std::uint32_t used;
    if (!read_element(bytes.subspan(pos), e, used)) return false;
    if (e.tag == tag) {
      out = e;
      return true;
    }
    pos += used;
  }
  return false;
}

// Encoded size of a node and its subtree; false when a length does not fit
// the four length forms or a tag is invalid.
bool encoded_size(const TlvNode* node, std::uint64_t& size) {
  std::uint64_t content = 0;
  if (constructed(node->tag)) {
    for (const TlvNode* c = node->first_child; c; c = c->next) {
      std::uint64_t s;
      if (!encoded_size(c, s)) return false;
      content += s;
    }
  } else {
    content = node->length;
  }
  if (!valid_tag(node->tag) || content > TLV_MAX_LENGTH) return false;
  size = static_cast<std::uint64_t>(two_byte(node->tag) ? 2 : 1) +
         length_size(static_cast<std::uint32_t>(content)) + content;
  return true;
}

std::uint32_t content_size(const TlvNode* node) {
  std::uint64_t total = 0;
  for (const TlvNode* c = node->first_child; c; c = c->next) {
    std::uint64_t s = 0;
    if (encoded_size(c, s)) total += s;
  }
  return static_cast<std::uint32_t>(total);
}

std::uint32_t encode_into(std::uint8_t* out, const TlvNode* node) {
  if (!constructed(node->tag)) {
    const TlvElement e{node->length, node->tag, node->value};
    return zyl::matchlib::tlv_write_element(out, &e);
  }
  std::uint32_t pos = static_cast<std::uint32_t>(zyl::matchlib::tlv_write_tag(out, node->tag));
  pos += static_cast<std::uint32_t>(zyl::matchlib::tlv_write_length(out + pos, content_size(node)));
  for (const TlvNode* c = node->first_child; c; c = c->next) pos += encode_into(out + pos, c);
  return pos;
}

int parse_children(TlvNode* parent, std::span<const std::uint8_t> value, int depth) {
  if (depth > TLV_MAX_PARSE_DEPTH) return ML_UNAVAILABLE;
  std::size_t pos = 0;
  while (pos < value.size()) {
    TlvElement e;
    std::uint32_t used;
    if (!read_element(value.subspan(pos), e, used)) return ML_UNAVAILABLE;
    TlvNode* child = zyl::matchlib::tlv_node_create(e.tag, e.length, e.value);
    if (!child) return ML_NO_MEMORY;
    zyl::matchlib::tlv_append_child(parent, child);
    if (constructed(e.tag)) {
      const int status = parse_children(child, {e.value, e.length}, depth + 1);
      if (status != ML_OK) return status;
    }
    pos += used;
  }
  return ML_OK;
}

void link_first(TlvNode* parent, TlvNode* child, bool at_end) {
  child->parent = parent;
  if (at_end) {
    child->prev = parent->last_child;
    if (parent->last_child)
      parent->last_child->next = child;
    else
      parent->first_child = child;
    parent->last_child = child;
  } else {
    child->next = parent->first_child;
    if (parent->first_child)
      parent->first_child->prev = child;
    else
      parent->last_child = child;
    parent->first_child = child;
  }
  ++parent->child_count;
}

int attach(TlvNode* parent, TlvNode* child, bool at_end) {
  if (!child) return ML_NO_MEMORY;
  if (!parent || !constructed(parent->tag) || child->parent || child == parent)
    return ML_BAD_ARGUMENT;
  link_first(parent, child, at_end);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API uint16_t tlv_make_tag(int tag_class, int is_constructed, int number) {
  const int head = (tag_class & 3) << 6 | (is_constructed ? 0x20 : 0);
  if (number >= 0 && number <= 30) return static_cast<std::uint16_t>(head | number);
  if (number >= 31 && number <= 127) return static_cast<std::uint16_t>((head | 0x1F) << 8 | number);
  return 0;
}

extern "C" ZYL_API int tlv_tag_class(uint16_t tag, int* number) {
  if (!valid_tag(tag)) {
    if (number) *number = 0;
    return 3;
  }
  if (number) *number = tag_number(tag);
  return first_byte(tag) >> 6;
}

extern "C" ZYL_API int tlv_is_constructed(uint16_t tag, int* number) {
  if (number) *number = valid_tag(tag) ? tag_number(tag) : 0;
  return constructed(tag) ? 1 : 0;
}

extern "C" ZYL_API int tlv_is_primitive(uint16_t tag, int* number) {
  if (number) *number = valid_tag(tag) ? tag_number(tag) : 0;
  return constructed(tag) ? 0 : 1;
}

int zyl::matchlib::tlv_tag_size(uint16_t tag) {
  if (!valid_tag(tag)) return 0;
  return two_byte(tag) ? 2 : 1;
}

int zyl::matchlib::tlv_write_tag(uint8_t* buffer, uint16_t tag) {
  const int size = zyl::matchlib::tlv_tag_size(tag);
  if (size == 2) {
    buffer[0] = static_cast<std::uint8_t>(tag >> 8);
    buffer[1] = static_cast<std::uint8_t>(tag);
  } else if (size == 1) {
    buffer[0] = static_cast<std::uint8_t>(tag);
  }
  return size;
}

int zyl::matchlib::tlv_read_tag(const uint8_t* bytes, uint16_t* tag) {
  *tag = 0;
  if ((bytes[0] & 0x1F) != 0x1F) {
    *tag = bytes[0];
    return 1;
  }
  if (bytes[1] == 0 || bytes[1] > 127) return 0;
  *tag = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
  return 2;
}

int zyl::matchlib::tlv_length_size(uint32_t length) { return length_size(length); }

int zyl::matchlib::tlv_write_length(uint8_t* buffer, uint32_t length) {
  // Three length bytes at most: a longer length would be written truncated.
  if (length > TLV_MAX_LENGTH) return 0;
  const int size = length_size(length);
  if (size == 1) {
    buffer[0] = static_cast<std::uint8_t>(length);
    return 1;
  }
  buffer[0] = static_cast<std::uint8_t>(0x80 + size - 1);
  for (int i = 1; i < size; ++i)
    buffer[i] = static_cast<std::uint8_t>(length >> (8 * (size - 1 - i)));
  return size;
}

int zyl::matchlib::tlv_read_length(const uint8_t* bytes, uint32_t* length) {
  *length = 0;
  const std::uint8_t first = bytes[0];
  if (first < 0x80) {
    *length = first;
    return 1;
  }
  const int extra = first - 0x80;
  if (extra < 1 || extra > 3) return 0;
  std::uint32_t v = 0;
  for (int i = 1; i <= extra; ++i) v = v << 8 | bytes[i];
  *length = v;
  return extra + 1;
}

uint32_t zyl::matchlib::tlv_write_element(uint8_t* buffer, const TlvElement* element) {
  if (!element || !valid_tag(element->tag) || element->length > TLV_MAX_LENGTH) return 0;
  if (element->length && !element->value) return 0;
  std::uint32_t pos =
      static_cast<std::uint32_t>(zyl::matchlib::tlv_write_tag(buffer, element->tag));
  pos += static_cast<std::uint32_t>(zyl::matchlib::tlv_write_length(buffer + pos, element->length));
  for (std::uint32_t i = 0; i < element->length; ++i) buffer[pos + i] = element->value[i];
  return pos + element->length;
}

extern "C" ZYL_API uint32_t tlv_element_size(const uint8_t* bytes) {
  std::uint16_t tag;
  const int tag_size = zyl::matchlib::tlv_read_tag(bytes, &tag);
  if (tag_size == 0) return 0;
  std::uint32_t length;
  int length_bytes = zyl::matchlib::tlv_read_length(bytes + tag_size, &length);
  if (length_bytes == 0) length_bytes = 1;
  return static_cast<std::uint32_t>(tag_size + length_bytes) + length;
}

extern "C" ZYL_API uint32_t tlv_read_header(const uint8_t* bytes, TlvElement* out) {
  *out = TlvElement{};
  std::uint16_t tag;
  const int tag_size = zyl::matchlib::tlv_read_tag(bytes, &tag);
  if (tag_size == 0) return 0;
  out->tag = tag;
  std::uint32_t length;
  const int length_bytes = zyl::matchlib::tlv_read_length(bytes + tag_size, &length);
  if (length_bytes == 0) return static_cast<std::uint32_t>(tag_size);
  out->length = length;
  out->value = bytes + tag_size + length_bytes;
  return static_cast<std::uint32_t>(tag_size + length_bytes) + length;
}

uint32_t zyl::matchlib::tlv_read_element(const uint8_t* bytes, TlvElement* out,
                                         uint32_t available) {
  if (!out) return 0;
  if (!bytes) {
    *out = TlvElement{};
    return 0;
  }
  std::uint32_t used;
  return read_element({bytes, available}, *out, used) ? used : 0;
}

int zyl::matchlib::tlv_next_element(const uint8_t* bytes, uint32_t available, uint16_t tag,
                                    TlvElement* out) {
  if (!bytes || !out) return 0;
  return next_with_tag({bytes, available}, tag, *out) ? 1 : 0;
}

int zyl::matchlib::tlv_find_path(const uint8_t* bytes, uint32_t available, const uint16_t* path,
                                 int depth, TlvElement* out) {
  if (depth <= 0) return 1;
  if (!bytes || available == 0 || !path || !out) return 0;
  std::span<const std::uint8_t> level(bytes, available);
  for (int i = 0; i < depth; ++i) {
    if (level.empty()) return 0;
    TlvElement e;
    if (!next_with_tag(level, path[i], e)) return 0;
    if (i == depth - 1) {
      *out = e;
      return 1;
    }
    level = {e.value, e.length};
  }
  return 0;
}

int zyl::matchlib::tlv_validate(const uint8_t* bytes, uint32_t length) {
  struct Level {
    const std::uint8_t* start;
    std::uint32_t length;
    std::uint32_t used;
  };
  if (!bytes || length == 0) return ML_UNAVAILABLE;
  Level stack[TLV_MAX_VALIDATE_LEVELS];
  int open = 1;
  stack[0] = {bytes, length, 0};
  for (;;) {
    Level& level = stack[open - 1];
    TlvElement e;
    std::uint32_t used;
    if (!read_element({level.start + level.used, level.length - level.used}, e, used))
      return ML_UNAVAILABLE;
    level.used += used;
    if (level.used == level.length) --open;
    if (constructed(e.tag)) {
      if (e.length == 0 || open == TLV_MAX_VALIDATE_LEVELS) return ML_UNAVAILABLE;
      stack[open++] = {e.value, e.length, 0};
    } else if (open == 0) {
      return ML_OK;
    }
  }
}

TlvNode* zyl::matchlib::tlv_node_create(uint16_t tag, uint32_t length, const uint8_t* value) {
  auto* node = static_cast<TlvNode*>(ml_calloc(1, sizeof(TlvNode)));
  if (!node) return nullptr;
  node->tag = tag;
  if (!constructed(tag)) {
    node->length = length;
    node->value = value;
  }
  return node;
}

void zyl::matchlib::tlv_node_free(TlvNode* node) {
  if (!node) return;
  // Iterative, so that a deep hand-built tree cannot exhaust the stack:
  // descend to a leaf, free it, and go on from its parent.
  TlvNode* const top = node;
  TlvNode* current = node;
  while (current) {
    if (current->first_child) {
      current = current->first_child;
      continue;
    }
    TlvNode* parent = current == top ? nullptr : current->parent;
    if (parent) {
      parent->first_child = current->next;
      if (current->next) current->next->prev = nullptr;
      if (parent->last_child == current) parent->last_child = nullptr;
      --parent->child_count;
    }
    std::free(current);
    current = parent;
  }
}

int zyl::matchlib::tlv_append_child(TlvNode* parent, TlvNode* child) {
  return attach(parent, child, true);
}

int zyl::matchlib::tlv_prepend_child(TlvNode* parent, TlvNode* child) {
  return attach(parent, child, false);
}

void zyl::matchlib::tlv_detach(TlvNode* node) {
  if (!node || !node->parent) return;
  TlvNode* parent = node->parent;
  if (node->prev)
    node->prev->next = node->next;
  else
    parent->first_child = node->next;
  if (node->next)
    node->next->prev = node->prev;
  else
    parent->last_child = node->prev;
  --parent->child_count;
  node->parent = node->next = node->prev = nullptr;
}

uint16_t zyl::matchlib::tlv_node_tag(const TlvNode* node) { return node ? node->tag : 0; }
extern "C" ZYL_API const uint8_t* tlv_node_value(const TlvNode* node) {
  return node ? node->value : nullptr;
}
extern "C" ZYL_API TlvNode* tlv_node_next(const TlvNode* node) {
  return node ? node->next : nullptr;
}
extern "C" ZYL_API TlvNode* tlv_node_prev(const TlvNode* node) {
  return node ? node->prev : nullptr;
}
extern "C" ZYL_API TlvNode* tlv_node_first_child(const TlvNode* node) {
  return node ? node->first_child : nullptr;
}
extern "C" ZYL_API TlvNode* tlv_node_last_child(const TlvNode* node) {
  return node ? node->last_child : nullptr;
}
TlvNode* zyl::matchlib::tlv_node_parent(const TlvNode* node) {
  return node ? node->parent : nullptr;
}

extern "C" ZYL_API uint32_t tlv_node_size(const TlvNode* node) {
  if (!node) return 0;
  return constructed(node->tag) ? content_size(node) : node->length;
}

TlvNode* zyl::matchlib::tlv_find_child(const TlvNode* node, uint16_t tag) {
  if (!node) return nullptr;
  for (TlvNode* c = node->first_child; c; c = c->next)
    if (c->tag == tag) return c;
  return nullptr;
}

TlvNode* zyl::matchlib::tlv_find(const TlvNode* node, uint16_t tag) {
  for (const TlvNode* n = node; n; n = n->next) {
    if (n->tag == tag) return const_cast<TlvNode*>(n);
    if (TlvNode* found = zyl::matchlib::tlv_find(n->first_child, tag)) return found;
  }
  return nullptr;
}

int zyl::matchlib::tlv_parse(const uint8_t* bytes, uint32_t available, TlvNode** root) {
  if (!root) return ML_BAD_ARGUMENT;
  *root = nullptr;
  if (!bytes) return ML_UNAVAILABLE;
  TlvElement e;
  std::uint32_t used;
  if (!read_element({bytes, available}, e, used)) return ML_UNAVAILABLE;
  TlvNode* node = zyl::matchlib::tlv_node_create(e.tag, e.length, e.value);
  if (!node) return ML_NO_MEMORY;
  if (constructed(e.tag)) {
    const int status = parse_children(node, {e.value, e.length}, 1);
    if (status != ML_OK) {
      zyl::matchlib::tlv_node_free(node);
      return status;
    }
  }
  *root = node;
  return ML_OK;
}

int zyl::matchlib::tlv_encode(const TlvNode* root, uint8_t** out, uint32_t* size) {
  if (out) *out = nullptr;
  if (!root || !size) return ML_BAD_ARGUMENT;
  std::uint64_t total;
  if (!encoded_size(root, total) || total > UINT32_MAX) return ML_BAD_ARGUMENT;
  *size = static_cast<std::uint32_t>(total);
  if (!out) return ML_OK;
  auto* buffer = static_cast<std::uint8_t*>(ml_malloc(total ? total : 1));
  if (!buffer) return ML_NO_MEMORY;
  if (encode_into(buffer, root) != total) {
    std::free(buffer);
    return ML_CORRUPT;
  }
  *out = buffer;
  return ML_OK;
}

extern "C" ZYL_API uint32_t tlv_encode_into(uint8_t* buffer, const TlvNode* root) {
  if (!buffer || !root) return 0;
  return encode_into(buffer, root);
}

extern "C" {

ZYL_API int tlv_tag_size(uint16_t tag) { return zyl::matchlib::tlv_tag_size(tag); }
ZYL_API int tlv_write_tag(uint8_t* buffer, uint16_t tag) {
  return zyl::matchlib::tlv_write_tag(buffer, tag);
}
ZYL_API int tlv_read_tag(const uint8_t* bytes, uint16_t* tag) {
  return zyl::matchlib::tlv_read_tag(bytes, tag);
}
ZYL_API int tlv_length_size(uint32_t length) { return zyl::matchlib::tlv_length_size(length); }
ZYL_API int tlv_write_length(uint8_t* buffer, uint32_t length) {
  return zyl::matchlib::tlv_write_length(buffer, length);
}
ZYL_API int tlv_read_length(const uint8_t* bytes, uint32_t* length) {
  return zyl::matchlib::tlv_read_length(bytes, length);
}
ZYL_API uint32_t tlv_write_element(uint8_t* buffer, const TlvElement* element) {
  return zyl::matchlib::tlv_write_element(buffer, element);
}
ZYL_API uint32_t tlv_read_element(const uint8_t* bytes, TlvElement* out, uint32_t available) {
  return zyl::matchlib::tlv_read_element(bytes, out, available);
}
ZYL_API int tlv_next_element(const uint8_t* bytes, uint32_t available, uint16_t tag,
                             TlvElement* out) {
  return zyl::matchlib::tlv_next_element(bytes, available, tag, out);
}
ZYL_API int tlv_find_path(const uint8_t* bytes, uint32_t available, const uint16_t* path, int depth,
                          TlvElement* out) {
  return zyl::matchlib::tlv_find_path(bytes, available, path, depth, out);
}
ZYL_API int tlv_validate(const uint8_t* bytes, uint32_t length) {
  return zyl::matchlib::tlv_validate(bytes, length);
}
ZYL_API TlvNode* tlv_node_create(uint16_t tag, uint32_t length, const uint8_t* value) {
  return zyl::matchlib::tlv_node_create(tag, length, value);
}
ZYL_API void tlv_node_free(TlvNode* node) { zyl::matchlib::tlv_node_free(node); }
ZYL_API int tlv_append_child(TlvNode* parent, TlvNode* child) {
  return zyl::matchlib::tlv_append_child(parent, child);
}
ZYL_API int tlv_prepend_child(TlvNode* parent, TlvNode* child) {
  return zyl::matchlib::tlv_prepend_child(parent, child);
}
ZYL_API void tlv_detach(TlvNode* node) { zyl::matchlib::tlv_detach(node); }
ZYL_API uint16_t tlv_node_tag(const TlvNode* node) { return zyl::matchlib::tlv_node_tag(node); }
ZYL_API TlvNode* tlv_node_parent(const TlvNode* node) {
  return zyl::matchlib::tlv_node_parent(node);
}
ZYL_API TlvNode* tlv_find_child(const TlvNode* node, uint16_t tag) {
  return zyl::matchlib::tlv_find_child(node, tag);
}
ZYL_API TlvNode* tlv_find(const TlvNode* node, uint16_t tag) {
  return zyl::matchlib::tlv_find(node, tag);
}
ZYL_API int tlv_parse(const uint8_t* bytes, uint32_t available, TlvNode** root) {
  return zyl::matchlib::tlv_parse(bytes, available, root);
}
ZYL_API int tlv_encode(const TlvNode* root, uint8_t** out, uint32_t* size) {
  return zyl::matchlib::tlv_encode(root, out, size);
}

}  // extern "C"

/* Matcher library BER-TLV codec and element tree.
 *
 * Tags are 16-bit: a one-byte tag is any byte whose low 5 bits are not all
 * set; a two-byte tag has a first byte with the low 5 bits set and a second
 * byte 1..127 ((tag & 0x1F80) == 0x1F00, (tag & 0x7F) != 0). Lengths take
 * 1 byte (0..127), 0x81 + 1, 0x82 + 2 or 0x83 + 3 bytes (up to 16777215).
 *
 * The flat codec reads and writes single elements and follows tag paths
 * without allocating; the bounded readers never read past the byte count
 * they are given. The tree borrows the value bytes of primitive nodes: they
 * must outlive the tree and every encoding of it. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* TLV_MAX_VALIDATE_LEVELS: tlv_validate keeps at most this many open
 * levels (the whole input counts as the first); a deeper constructed element
 * is invalid.
 * TLV_MAX_PARSE_DEPTH: tlv_parse recurses once a level, so it refuses input
 * nested deeper than this (3, malformed) rather than exhaust the stack; the
 * formats it reads nest three or four levels. */
enum { TLV_MAX_LENGTH = 0xFFFFFF, TLV_MAX_VALIDATE_LEVELS = 8, TLV_MAX_PARSE_DEPTH = 32 };

typedef struct TlvElement {
  uint32_t length;
  uint16_t tag;
  const uint8_t* value; /* first value byte inside the caller's buffer */
} TlvElement;

typedef struct TlvNode {
  uint16_t tag;
  uint32_t length;      /* value length of a primitive node; 0 for a constructed one */
  const uint8_t* value; /* borrowed value of a primitive node; null for a constructed one */
  struct TlvNode* parent;
  struct TlvNode* next;
  struct TlvNode* prev;
  struct TlvNode* first_child;
  struct TlvNode* last_child;
  uint32_t child_count;
} TlvNode;

/* Tags. Class 0 universal, 1 application, 2 context-specific, 3 private.
 * The number outputs are optional. */
ZYL_API uint16_t tlv_make_tag(int tag_class, int constructed, int number);
ZYL_API int tlv_tag_class(uint16_t tag, int* number);
ZYL_API int tlv_is_constructed(uint16_t tag, int* number);
ZYL_API int tlv_is_primitive(uint16_t tag, int* number);
ZYL_API int tlv_tag_size(uint16_t tag);
ZYL_API int tlv_write_tag(uint8_t* buffer, uint16_t tag);
/* Unbounded: the caller guarantees the tag's bytes are there. */
ZYL_API int tlv_read_tag(const uint8_t* bytes, uint16_t* tag);

/* Lengths. tlv_write_length answers the bytes written, 0 for a length above
 * TLV_MAX_LENGTH (nothing written). */
ZYL_API int tlv_length_size(uint32_t length);
ZYL_API int tlv_write_length(uint8_t* buffer, uint32_t length);
ZYL_API int tlv_read_length(const uint8_t* bytes, uint32_t* length);

/* Elements. tlv_write_element answers the bytes written, 0 for an invalid
 * tag or a length above TLV_MAX_LENGTH (nothing written). tlv_element_size
 * and tlv_read_header read the header without a bound. */
ZYL_API uint32_t tlv_write_element(uint8_t* buffer, const TlvElement* element);
ZYL_API uint32_t tlv_element_size(const uint8_t* bytes);
ZYL_API uint32_t tlv_read_header(const uint8_t* bytes, TlvElement* out);
/* Bounded reader: header size + value length when the whole element lies
 * within `available` bytes, else 0 with a null value. */
ZYL_API uint32_t tlv_read_element(const uint8_t* bytes, TlvElement* out, uint32_t available);
ZYL_API int tlv_next_element(const uint8_t* bytes, uint32_t available, uint16_t tag,
                             TlvElement* out);
ZYL_API int tlv_find_path(const uint8_t* bytes, uint32_t available, const uint16_t* path,
                          int depth, TlvElement* out);
/* 0 when the bytes are one complete, well-formed sequence of elements
 * (at most TLV_MAX_VALIDATE_LEVELS open levels), else 3. */
ZYL_API int tlv_validate(const uint8_t* bytes, uint32_t length);

/* Tree. */
ZYL_API TlvNode* tlv_node_create(uint16_t tag, uint32_t length, const uint8_t* value);
ZYL_API void tlv_node_free(TlvNode* node);
/* 9 for a null child, 2 for a null or primitive parent or a child that
 * already has a parent, else 0. */
ZYL_API int tlv_append_child(TlvNode* parent, TlvNode* child);
ZYL_API int tlv_prepend_child(TlvNode* parent, TlvNode* child);
ZYL_API void tlv_detach(TlvNode* node);
ZYL_API uint16_t tlv_node_tag(const TlvNode* node);
ZYL_API const uint8_t* tlv_node_value(const TlvNode* node);
ZYL_API TlvNode* tlv_node_next(const TlvNode* node);
ZYL_API TlvNode* tlv_node_prev(const TlvNode* node);
ZYL_API TlvNode* tlv_node_first_child(const TlvNode* node);
ZYL_API TlvNode* tlv_node_last_child(const TlvNode* node);
ZYL_API TlvNode* tlv_node_parent(const TlvNode* node);
ZYL_API uint32_t tlv_node_size(const TlvNode* node);
ZYL_API TlvNode* tlv_find_child(const TlvNode* node, uint16_t tag);
ZYL_API TlvNode* tlv_find(const TlvNode* node, uint16_t tag);
/* Builds a tree over the first element of `bytes`, which must lie within
 * `available` bytes: 0, 3 malformed (also nesting deeper than
 * TLV_MAX_PARSE_DEPTH), 9 out of memory; on failure *root is null. */
ZYL_API int tlv_parse(const uint8_t* bytes, uint32_t available, TlvNode** root);
/* Size-or-write: a null `out` only stores the size; otherwise *out gets a
 * malloc'd encoding (the caller frees it). 0, 2 for a null root or a
 * length above TLV_MAX_LENGTH, 9 out of memory, 17 size mismatch. */
ZYL_API int tlv_encode(const TlvNode* root, uint8_t** out, uint32_t* size);
ZYL_API uint32_t tlv_encode_into(uint8_t* buffer, const TlvNode* root);

ZYL_EXTERN_C_END

// The functions of tlv that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_tlv.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int tlv_tag_size(uint16_t tag);
int tlv_write_tag(uint8_t* buffer, uint16_t tag);
int tlv_read_tag(const uint8_t* bytes, uint16_t* tag);
int tlv_length_size(uint32_t length);
int tlv_write_length(uint8_t* buffer, uint32_t length);
int tlv_read_length(const uint8_t* bytes, uint32_t* length);
uint32_t tlv_write_element(uint8_t* buffer, const TlvElement* element);
uint32_t tlv_read_element(const uint8_t* bytes, TlvElement* out, uint32_t available);
int tlv_next_element(const uint8_t* bytes, uint32_t available, uint16_t tag, TlvElement* out);
int tlv_find_path(const uint8_t* bytes, uint32_t available, const uint16_t* path, int depth,
                  TlvElement* out);
int tlv_validate(const uint8_t* bytes, uint32_t length);
TlvNode* tlv_node_create(uint16_t tag, uint32_t length, const uint8_t* value);
void tlv_node_free(TlvNode* node);
int tlv_append_child(TlvNode* parent, TlvNode* child);
int tlv_prepend_child(TlvNode* parent, TlvNode* child);
void tlv_detach(TlvNode* node);
uint16_t tlv_node_tag(const TlvNode* node);
TlvNode* tlv_node_parent(const TlvNode* node);
TlvNode* tlv_find_child(const TlvNode* node, uint16_t tag);
TlvNode* tlv_find(const TlvNode* node, uint16_t tag);
int tlv_parse(const uint8_t* bytes, uint32_t available, TlvNode** root);
int tlv_encode(const TlvNode* root, uint8_t** out, uint32_t* size);

}  // namespace zyl::matchlib

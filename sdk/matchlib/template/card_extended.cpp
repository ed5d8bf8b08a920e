// Extended card templates: splitting into card part and C1-C3, removing the
// packed image, adding A2 elements, and the sections of composite card
// templates.
#include <initializer_list>
#include <memory>

#include "common/guarded_call.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/card_extended.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kCard = 0x7F2E;
constexpr std::uint16_t kWrapper = 0xE1;

using TreePtr = std::unique_ptr<TlvNode, decltype(&zyl::matchlib::tlv_node_free)>;

TreePtr parse_tree(const std::uint8_t* bytes, std::uint32_t length, int& status) {
  TlvNode* root = nullptr;
  status = zyl::matchlib::tlv_parse(bytes, length, &root);
  return TreePtr(root, &zyl::matchlib::tlv_node_free);
}

int encode_tree(const TlvNode* root, std::uint8_t** out, std::uint32_t* out_size) {
  std::uint8_t* buffer = nullptr;
  std::uint32_t size = 0;
  const int status = zyl::matchlib::tlv_encode(root, &buffer, &size);
  if (status != ML_OK) return status;
  *out = buffer;
  *out_size = size;
  return ML_OK;
}

int parse_extended(const std::uint8_t* bytes, std::uint32_t length, const std::uint8_t** card,
                   std::uint32_t* card_size, TlvElement* c1, TlvElement* c2, TlvElement* c3) {
  for (TlvElement* e : {c1, c2, c3})
    if (e) *e = TlvElement{};
  TlvElement top{};
  if (zyl::matchlib::tlv_read_element(bytes, &top, length) != length) return ML_UNAVAILABLE;
  const std::uint8_t* part = nullptr;
  std::uint32_t part_size = 0;
  TlvElement holder{};  // the element whose children are C1..C3
  if (top.tag == kWrapper) {
    TlvElement first{};
    part_size = zyl::matchlib::tlv_read_element(top.value, &first, top.length);
    if (!part_size || first.tag != kCard) return ML_UNAVAILABLE;
    part = top.value;
    holder = top;
  } else if (top.tag == kCard) {
    part = bytes;
    part_size = length;
    zyl::matchlib::tlv_next_element(top.value, top.length, 0xA2, &holder);  // no A2: no C1..C3
  } else {
    return ML_UNAVAILABLE;
  }
  const std::uint16_t tags[3] = {0xC1, 0xC2, 0xC3};
  TlvElement* outs[3] = {c1, c2, c3};
  for (int i = 0; i < 3; ++i)
    if (outs[i] && holder.value &&
        !zyl::matchlib::tlv_next_element(holder.value, holder.length, tags[i], outs[i]))
      *outs[i] = TlvElement{};
  if (card) *card = part;
  if (card_size) *card_size = part_size;
  return ML_OK;
}

// Section routines of composite card templates, by requested code.
using SectionRoutine = int (*)(const std::uint8_t*, std::uint32_t, const std::uint8_t**, std::uint32_t*);

int section_card(const std::uint8_t* b, std::uint32_t n, const std::uint8_t** d, std::uint32_t* len) {
  return parse_extended(b, n, d, len, nullptr, nullptr, nullptr);
}

int section_block_maps(const std::uint8_t* b, std::uint32_t n, const std::uint8_t** d, std::uint32_t* len) {
  TlvElement c1{};
  if (const int status = parse_extended(b, n, nullptr, nullptr, &c1, nullptr, nullptr); status != ML_OK)
    return status;
  if (!c1.value) return ML_UNAVAILABLE;
  *d = c1.value;
  *len = c1.length;
  return ML_OK;
}

int section_whole(const std::uint8_t* b, std::uint32_t n, const std::uint8_t** d, std::uint32_t* len) {
  *d = b;
  *len = n;
  return ML_OK;
}

template <std::uint16_t Tag>
int section_element(const std::uint8_t* b, std::uint32_t n, const std::uint8_t** d, std::uint32_t* len) {
  const std::uint16_t path[3] = {kCard, 0xA2, Tag};
  TlvElement e{};
  if (zyl::matchlib::tlv_find_path(b, n, path, 3, &e) != 1) return ML_UNAVAILABLE;
  *d = e.value;
  *len = e.length;
  return ML_OK;
}

int section_whole_if_grid(const std::uint8_t* b, std::uint32_t n, const std::uint8_t** d, std::uint32_t* len) {
  const std::uint8_t* unused = nullptr;
  std::uint32_t unused_length = 0;
  if (section_element<0xC5>(b, n, &unused, &unused_length) != ML_OK) return ML_UNAVAILABLE;
  return section_whole(b, n, d, len);
}

struct SectionEntry {
  std::int32_t code;
  SectionRoutine routine;
};

constexpr SectionEntry kSections[] = {
    {2, section_card},
    {66, section_block_maps},
    {67, section_whole},
    {73, section_whole},
    {74, section_whole},
    {77, section_element<0xC5>},
    {78, section_whole_if_grid},
    {79, section_element<0xC6>},
    {83, section_element<0xCA>},
    {85, section_element<0xC9>},
};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::card_parse_extended(const uint8_t* bytes, uint32_t length, const uint8_t** card,
                                       uint32_t* card_size, TlvElement* c1, TlvElement* c2,
                                       TlvElement* c3) {
  if (!bytes) {
    for (TlvElement* e : {c1, c2, c3})
      if (e) *e = TlvElement{};
    return ML_BAD_ARGUMENT;
  }
  return parse_extended(bytes, length, card, card_size, c1, c2, c3);
}

extern "C" ZYL_API int card_strip_image(const uint8_t* bytes, uint32_t length, uint8_t** out,
                                        uint32_t* out_size) {
  if (!bytes || !out || !out_size) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    int status = ML_OK;
    TreePtr root = parse_tree(bytes, length, status);
    if (status != ML_OK) return status;
    TlvNode* c2 = nullptr;
    if (root->tag == kCard) {
      if (TlvNode* a2 = zyl::matchlib::tlv_find_child(root.get(), 0xA2))
        c2 = zyl::matchlib::tlv_find_child(a2, 0xC2);
    } else if (root->tag == kWrapper) {
      c2 = zyl::matchlib::tlv_find_child(root.get(), 0xC2);
    }
    if (!c2) return ML_UNAVAILABLE;
    zyl::matchlib::tlv_detach(c2);
    zyl::matchlib::tlv_node_free(c2);
    return encode_tree(root.get(), out, out_size);
  });
}

int zyl::matchlib::card_add_a2_element(const uint8_t* card, uint32_t length, uint16_t tag,
                                       const uint8_t* value, uint32_t value_length, uint8_t** out,
                                       uint32_t* out_size) {
  if (!card || !out || !out_size || (!value && value_length)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    int status = ML_OK;
    TreePtr root = parse_tree(card, length, status);
    if (status != ML_OK) return status;
    TlvNode* a2 = zyl::matchlib::tlv_find(root.get(), 0xA2);
    if (!a2) return ML_BAD_ARGUMENT;
    TlvNode* node = zyl::matchlib::tlv_node_create(tag, value_length, value);
    if (!node) return ML_NO_MEMORY;
    if (const int appended = zyl::matchlib::tlv_append_child(a2, node); appended != ML_OK) {
      zyl::matchlib::tlv_node_free(node);
      return appended;
    }
    return encode_tree(root.get(), out, out_size);
  });
}

int zyl::matchlib::tmpl_card_section(const uint8_t* bytes, uint32_t length, int32_t format,
                                     const uint8_t** data, uint32_t* data_length) {
  if (!data || !data_length) return ML_BAD_ARGUMENT;
  *data = nullptr;
  *data_length = 0;
  if (!bytes) return ML_BAD_ARGUMENT;
  for (const SectionEntry& s : kSections)
    if (s.code == format) {
      const int status = s.routine(bytes, length, data, data_length);
      if (status != ML_OK) {
        *data = nullptr;
        *data_length = 0;
      }
      return status;
    }
  return ML_UNAVAILABLE;
}

extern "C" {

ZYL_API int card_parse_extended(const uint8_t* bytes, uint32_t length, const uint8_t** card,
                                uint32_t* card_size, TlvElement* c1, TlvElement* c2,
                                TlvElement* c3) {
  return zyl::matchlib::card_parse_extended(bytes, length, card, card_size, c1, c2, c3);
}
ZYL_API int card_add_a2_element(const uint8_t* card, uint32_t length, uint16_t tag,
                                const uint8_t* value, uint32_t value_length, uint8_t** out,
                                uint32_t* out_size) {
  return zyl::matchlib::card_add_a2_element(card, length, tag, value, value_length, out, out_size);
}
ZYL_API int tmpl_card_section(const uint8_t* bytes, uint32_t length, int32_t format,
                              const uint8_t** data, uint32_t* data_length) {
  return zyl::matchlib::tmpl_card_section(bytes, length, format, data, data_length);
}

}  // extern "C"

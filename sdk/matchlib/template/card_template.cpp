// Card templates: element lookups and the compact minutiae reader.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <initializer_list>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/template/card_minutiae.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/card_template.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kCard = 0x7F2E;
constexpr std::uint8_t kQualityPrefix[4] = {0x98, 0xEC, 0x15, 0xE1};

// The leading 7F2E element, which must lie within the bytes.
bool card_element(const std::uint8_t* card, std::uint32_t length, TlvElement& out) {
  return zyl::matchlib::tlv_read_element(card, &out, length) != 0 && out.tag == kCard;
}

bool find_path(const std::uint8_t* card, std::uint32_t length, std::initializer_list<std::uint16_t> path,
               TlvElement& out) {
  return zyl::matchlib::tlv_find_path(card, length, path.begin(), static_cast<int>(path.size()),
                                      &out) == 1;
}

// The minutiae element in its four places, in the order readers try them.
bool minutiae_element(const std::uint8_t* card, std::uint32_t length, TlvElement& out) {
  return find_path(card, length, {kCard, 0x81}, out) || find_path(card, length, {kCard, 0xA1, 0x81}, out) ||
         find_path(card, length, {kCard, 0x90}, out) || find_path(card, length, {kCard, 0xA1, 0x90}, out);
}

int read_minutiae(const std::uint8_t* card, std::uint32_t length, std::uint32_t maximum, bool reduce,
                  CompactMinutia* out, std::uint32_t* count, int* has_quality) {
  TlvElement minutiae{};
  if (!minutiae_element(card, length, minutiae)) return ML_CORRUPT;
  const std::uint32_t n = (minutiae.length / 3) & 0xFF;
  TlvElement quality{};
  bool with_quality = false;
  if (find_path(card, length, {kCard, 0x82}, quality) || find_path(card, length, {kCard, 0xA2, 0x82}, quality)) {
    if (quality.length > 3 && std::equal(kQualityPrefix, kQualityPrefix + 4, quality.value)) {
      if (quality.length != n + 4) return ML_CORRUPT;
      with_quality = true;
    }
  }
  const std::uint32_t k = std::min<std::uint32_t>(n, CARD_MAX_MINUTIAE);
  std::vector<CompactMinutia> m(k);
  for (std::uint32_t i = 0; i < k; ++i) {
    const std::uint8_t* p = minutiae.value + 3 * i;
    m[i] = {p[0], p[1], record_direction(p[2]), with_quality ? quality.value[4 + i] : std::uint8_t{240}};
  }
  if (reduce && maximum < k) reduce_compact_minutiae(m, maximum);
  const std::size_t handed = std::min<std::size_t>(maximum, m.size());
  std::copy_n(m.begin(), handed, out);
  *count = static_cast<std::uint32_t>(handed);
  *has_quality = with_quality ? 1 : 0;
  return ML_OK;
}

// The quality nibble of a minutia: 16 steps over 0..99; quality 100 would
// give 16, which the 4-bit field cannot hold, so it is written as 15 (the
// best step) rather than wrapping to 0, the worst.
std::uint8_t quality_byte(const MinutiaEntry& m) {
  const int step = std::min(m.quality * 16 / 100, 15);
  return static_cast<std::uint8_t>((step << 4) | (m.extra & 0x0F));
}

int add_quality_element(const std::uint8_t* card, std::uint32_t length, const MinutiaeRecord& record,
                        std::uint8_t** out, std::uint32_t* out_size) {
  TlvElement top{};
  if (!card_element(card, length, top)) return ML_UNAVAILABLE;
  std::vector<std::uint8_t> quality(kQualityPrefix, kQualityPrefix + 4);
  for (int i = 0; i < record.count; ++i) quality.push_back(quality_byte(record.minutiae[i]));

  constexpr std::uint16_t kCounted[] = {0xA1, 0x81, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95};
  constexpr std::uint16_t kCopied[] = {0x81, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95};
  int present = 0;
  TlvElement e{};
  for (const std::uint16_t tag : kCounted)
    present += zyl::matchlib::card_find_element(card, length, tag, &e) == ML_OK;

  using Tree = std::unique_ptr<TlvNode, decltype(&zyl::matchlib::tlv_node_free)>;
  Tree root(zyl::matchlib::tlv_node_create(kCard, 0, nullptr), &zyl::matchlib::tlv_node_free);
  if (!root) return ML_NO_MEMORY;
  TlvNode* parent = root.get();
  auto attach = [](TlvNode* to, TlvNode* node) {
    if (!node) return static_cast<int>(ML_NO_MEMORY);
    const int status = zyl::matchlib::tlv_append_child(to, node);
    if (status != ML_OK) zyl::matchlib::tlv_node_free(node);
    return status;
  };
  if (present >= 2) {
    TlvNode* a1 = zyl::matchlib::tlv_node_create(0xA1, 0, nullptr);
    if (const int status = attach(parent, a1); status != ML_OK) return status;
    parent = a1;
  }
  for (const std::uint16_t tag : kCopied)
    if (zyl::matchlib::card_find_element(card, length, tag, &e) == ML_OK)
      if (const int status = attach(parent, zyl::matchlib::tlv_node_create(tag, e.length, e.value));
          status != ML_OK)
        return status;
  if (const int status =
          attach(root.get(), zyl::matchlib::tlv_node_create(
                                 0x82, static_cast<std::uint32_t>(quality.size()), quality.data()));
      status != ML_OK)
    return status;
  return zyl::matchlib::tlv_encode(root.get(), out, out_size);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::card_find_element(const uint8_t* card, uint32_t length, uint16_t tag,
                                     TlvElement* out) {
  if (!card || !out) return ML_BAD_ARGUMENT;
  TlvElement top{};
  if (!card_element(card, length, top)) return ML_UNAVAILABLE;
  if (zyl::matchlib::tlv_next_element(top.value, top.length, tag, out)) return ML_OK;
  TlvElement a1{};
  if (zyl::matchlib::tlv_next_element(top.value, top.length, 0xA1, &a1) &&
      zyl::matchlib::tlv_next_element(a1.value, a1.length, tag, out))
    return ML_OK;
  return ML_UNAVAILABLE;
}

int zyl::matchlib::card_get_minutiae(const uint8_t* card, uint32_t length, const uint8_t** value,
                                     uint32_t* value_length) {
  if (!card || !value || !value_length) return ML_BAD_ARGUMENT;
  TlvElement e{};
  if (!minutiae_element(card, length, e) || e.length % 3 != 0) return ML_UNAVAILABLE;
  *value = e.value;
  *value_length = e.length;
  return ML_OK;
}

uint32_t zyl::matchlib::card_template_size(const uint8_t* bytes, uint32_t length) {
  if (!bytes) return 0;
  TlvElement e{};
  const uint32_t size = zyl::matchlib::tlv_read_element(bytes, &e, length);
  return size && e.tag == 0x7F2E ? size : 0;
}

int zyl::matchlib::card_read_minutiae(const uint8_t* card, uint32_t length, uint32_t maximum,
                                      int reduce, void*, CompactMinutia* out, uint32_t* count,
                                      int* has_quality) {
  if (!card || !out || !count || !has_quality) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return read_minutiae(card, length, maximum, reduce != 0, out, count, has_quality); });
}

int zyl::matchlib::card_add_quality_element(uint8_t** card, uint32_t length,
                                            const MinutiaeRecord* record, uint32_t* out_size) {
  if (!card) return ML_BAD_ARGUMENT;
  uint8_t* old = *card;
  uint8_t* fresh = nullptr;
  uint32_t size = 0;
  int status = ML_BAD_ARGUMENT;
  if (old && record && out_size)
    status = zyl::GuardedCall(ML_NO_MEMORY, [&] { return add_quality_element(old, length, *record, &fresh, &size); });
  // The old card goes only once the new one exists; on failure the caller
  // keeps its card.
  if (status != ML_OK) return status;
  std::free(old);
  *card = fresh;
  *out_size = size;
  return ML_OK;
}

extern "C" {

ZYL_API int card_find_element(const uint8_t* card, uint32_t length, uint16_t tag, TlvElement* out) {
  return zyl::matchlib::card_find_element(card, length, tag, out);
}
ZYL_API int card_get_minutiae(const uint8_t* card, uint32_t length, const uint8_t** value,
                              uint32_t* value_length) {
  return zyl::matchlib::card_get_minutiae(card, length, value, value_length);
}
ZYL_API uint32_t card_template_size(const uint8_t* bytes, uint32_t length) {
  return zyl::matchlib::card_template_size(bytes, length);
}
ZYL_API int card_read_minutiae(const uint8_t* card, uint32_t length, uint32_t maximum, int reduce,
                               void* arg4, CompactMinutia* out, uint32_t* count, int* has_quality) {
  return zyl::matchlib::card_read_minutiae(card, length, maximum, reduce, arg4, out, count,
                                           has_quality);
}
ZYL_API int card_add_quality_element(uint8_t** card, uint32_t length, const MinutiaeRecord* record,
                                     uint32_t* out_size) {
  return zyl::matchlib::card_add_quality_element(card, length, record, out_size);
}

}  // extern "C"

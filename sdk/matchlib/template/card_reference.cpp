// Card probe forms and card references: a card template whose block maps
// became a grid feature map and its origin, a probe with its optional mode
// mask, and the reference part built from the views of a multi-view
// template with its candidate class byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "matchlib/template/card_params.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/tlv_tree.h"

namespace zyl::matchlib::card {
namespace {

constexpr int32_t kCardTemplateFormat = 67;
constexpr int32_t kMultiViewFormat = 80;
constexpr uint16_t kCard = 0x7F2E;

using Tree = std::unique_ptr<TlvNode, decltype(&tlv_node_free)>;
struct FreeBytes {
  void operator()(uint8_t* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<uint8_t, FreeBytes>;
struct BlobRelease {
  void operator()(DataBlob* b) const { blob_release(b); }
};
using Blob = std::unique_ptr<DataBlob, BlobRelease>;

// 0 with a new format-76 blob, or 9 when memory runs out.
int encode_blob(const TlvNode* root, DataBlob** out) {
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  const int st = tlv_encode(root, &bytes, &size);
  if (st != ML_OK) return st;
  *out = blob_create(CARD_FORMAT, bytes, size);
  std::free(bytes);
  return *out ? ML_OK : ML_NO_MEMORY;
}

// 0 with the probe form in *out; 9 when memory runs out; 3 for a blob that
// does not convert.
int probe_form(const DataBlob* blob, uint32_t packing_word, DataBlob** out) {
  *out = nullptr;
  if (!blob || blob_type(blob) != kCardTemplateFormat) return ML_UNAVAILABLE;
  // Packed local-structure forms (1, 2) need the packing routines of the
  // local-structure matchers; form 3 is invalid.
  if ((packing_word & CARD_PACKING_MASK) != 0) return ML_UNAVAILABLE;
  const uint8_t* bytes = blob_data(blob);
  const uint32_t length = blob_size(blob);
  TlvElement c1{};
  if (card_parse_extended(bytes, length, nullptr, nullptr, &c1, nullptr, nullptr) != ML_OK)
    return ML_UNAVAILABLE;
  TlvNode* raw = nullptr;
  int st = tlv_parse(bytes, length, &raw);
  if (st != ML_OK) return st == ML_NO_MEMORY ? st : ML_UNAVAILABLE;
  Tree root(raw, tlv_node_free);
  if (TlvNode* c2 = tlv_find(root.get(), 0xC2)) {
    tlv_detach(c2);
    tlv_node_free(c2);
  }
  Bytes map;
  uint8_t origin[2] = {0, 0};
  if (c1.value) {
    uint8_t* m = nullptr;
    uint32_t map_size = 0;
    int vo = 0, ho = 0, rows = 0, columns = 0;
    st = gridmap_from_compact(c1.value, c1.length, &m, &map_size, &vo, &ho, &rows, &columns, 0,
                              nullptr, nullptr);
    if (st != ML_OK) return st == ML_NO_MEMORY ? st : ML_UNAVAILABLE;
    map.reset(m);
    origin[0] = static_cast<uint8_t>(vo);
    origin[1] = static_cast<uint8_t>(ho);
    TlvNode* c1_node = tlv_find(root.get(), 0xC1);
    TlvNode* parent = c1_node ? tlv_node_parent(c1_node) : nullptr;
    if (!parent) return ML_UNAVAILABLE;
    if (!tlv_add_child(parent, 0xC4, map.get(), map_size) || !tlv_add_child(parent, 0xC5, origin, 2))
      return ML_NO_MEMORY;
    tlv_detach(c1_node);
    tlv_node_free(c1_node);
  }
  return encode_blob(root.get(), out);
}

}  // namespace
}  // namespace zyl::matchlib::card

using namespace zyl::matchlib::card;
using zyl::matchlib::tlv_add_child;

extern "C" {

ZYL_API int card_find_probe_elements(const uint8_t* bytes, uint32_t length, int packing_form,
                                     TlvElement* packed, uint8_t* quality, int8_t origin[2],
                                     TlvElement* grid_map) {
  if (packed) *packed = TlvElement{};
  if (quality) *quality = 0;
  if (origin) origin[0] = origin[1] = 0;
  if (grid_map) *grid_map = TlvElement{};
  TlvElement card{};
  if (!bytes || tlv_read_element(bytes, &card, length) != length || card.tag != kCard)
    return ML_CORRUPT;
  auto find = [&](uint16_t tag, TlvElement* out) {
    const uint16_t path[3] = {kCard, 0xA2, tag};
    return tlv_find_path(bytes, length, path, 3, out) == 1 && out->value;
  };
  TlvElement e{};
  if (packed && packing_form >= 1 && packing_form <= 2 &&
      find(static_cast<uint16_t>(0xCC + packing_form), &e))
    *packed = e;
  if (quality && find(0xC3, &e) && e.length >= 6) *quality = e.value[5];
  if (origin && find(0xC5, &e) && e.length == 2) {
    origin[0] = static_cast<int8_t>(e.value[0]);
    origin[1] = static_cast<int8_t>(e.value[1]);
  }
  if (grid_map && find(0xC4, &e)) *grid_map = e;
  return ML_OK;
}

ZYL_API uint32_t card_template_extent(const uint8_t* bytes, uint32_t length, uint32_t offset) {
  if (!bytes) return 0;
  while (offset < length) {
    TlvElement e{};
    const uint32_t n = tlv_read_element(bytes + offset, &e, length - offset);
    if (!n) return 0;
    if (e.tag == kCard) return n;
    offset += n;
  }
  return 0;
}

ZYL_API DataBlob* card_template_to_probe_form(const DataBlob* template_blob, uint32_t packing_word) {
  DataBlob* out = nullptr;
  probe_form(template_blob, packing_word, &out);
  return out;
}

ZYL_API int card_probe_from_template(uint16_t algorithm_word, const DataBlob* probe,
                                     DataBlob** out, uint16_t mode_mask) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!probe || blob_type(probe) != kCardTemplateFormat || (mode_mask & 0xF801)) return ML_BAD_ARGUMENT;
  if ((algorithm_word >> 8) != CARD_ALGORITHM_ID) return ML_WRONG_KIND;
  DataBlob* converted = nullptr;
  const int st = probe_form(probe, algorithm_word & ~0x0Fu, &converted);
  if (st != ML_OK) return st == ML_NO_MEMORY ? st : ML_UNAVAILABLE;
  Blob form(converted);
  if (mode_mask == 0 || mode_mask == CARD_MODE_MASK_ALL) {
    *out = form.release();
    return ML_OK;
  }
  const uint32_t n = blob_size(form.get());
  Bytes bytes(static_cast<uint8_t*>(zyl::matchlib::ml_malloc(n + 4)));
  if (!bytes) return ML_NO_MEMORY;
  const uint8_t prefix[4] = {0xC0, 0x02, static_cast<uint8_t>(mode_mask >> 8),
                             static_cast<uint8_t>(mode_mask)};
  std::memcpy(bytes.get(), prefix, 4);
  std::memcpy(bytes.get() + 4, blob_data(form.get()), n);
  *out = blob_create(CARD_FORMAT, bytes.get(), n + 4);
  return *out ? ML_OK : ML_NO_MEMORY;
}

ZYL_API int card_reference_from_mvt(uint16_t algorithm_word, DataBlob* mvt_blob, int mode,
                                    uint32_t size_limit, DataBlob** out, int* out_count) {
  if (out) *out = nullptr;
  if (out_count) *out_count = 0;
  if (!out || mode < 1 || mode > 10) return ML_BAD_ARGUMENT;
  Tree root(tlv_node_create(0xEF, 0, nullptr), tlv_node_free);
  if (!root) return ML_NO_MEMORY;
  if (!mvt_blob) {
    const uint8_t value = static_cast<uint8_t>(mode);
    if (!tlv_add_child(root.get(), 0xC0, &value, 1)) return ML_NO_MEMORY;
    return encode_blob(root.get(), out);
  }
  if (blob_type(mvt_blob) != kMultiViewFormat) return ML_BAD_ARGUMENT;
  MultiViewTemplate* raw = nullptr;
  const int st = mvt_from_blob(mvt_blob, &raw);
  if (st == ML_NO_MEMORY) return ML_NO_MEMORY;
  if (st != ML_OK) return ML_UNAVAILABLE;
  std::unique_ptr<MultiViewTemplate, decltype(&mvt_release)> mvt(raw, mvt_release);

  const int views = mvt_count_unmarked_views(mvt.get());
  // The tree borrows the probe forms' bytes: they live until it is encoded.
  struct Forms {
    DataBlob** p = nullptr;
    int n = 0;
    ~Forms() {
      for (int i = 0; i < n; ++i) blob_release(p[i]);
      std::free(p);
    }
  } forms;
  if (views > 0) {
    forms.p = static_cast<DataBlob**>(zyl::matchlib::ml_calloc(static_cast<size_t>(views), sizeof(DataBlob*)));
    if (!forms.p) return ML_NO_MEMORY;
  }
  int taken = 0;
  for (int i = 0; i < views; ++i) {
    Blob view(mvt_get_view(mvt.get(), i, nullptr, nullptr, nullptr));
    if (!view) return ML_NO_MEMORY;
    DataBlob* converted = nullptr;
    int st_form = probe_form(view.get(), algorithm_word & CARD_PACKING_MASK, &converted);
    if (st_form == ML_NO_MEMORY) return st_form;
    if (st_form != ML_OK) continue;  // a view that does not convert is left out
    Blob form(converted);
    TlvNode* sub = nullptr;
    st_form = tlv_parse(blob_data(form.get()), blob_size(form.get()), &sub);
    if (st_form == ML_NO_MEMORY) return st_form;
    if (st_form != ML_OK) continue;
    TlvNode* ee = tlv_node_create(0xEE, 0, nullptr);
    if (!ee || tlv_append_child(ee, sub) != ML_OK || tlv_append_child(root.get(), ee) != ML_OK) {
      tlv_node_free(sub);
      tlv_node_free(ee);
      return ML_NO_MEMORY;
    }
    forms.p[forms.n++] = form.release();
    if (size_limit) {
      uint32_t size = 0;
      // The class element still to come takes 4 bytes.
      if (tlv_encode(root.get(), nullptr, &size) != ML_OK || size + 4 > size_limit) {
        tlv_detach(ee);
        tlv_node_free(ee);
        break;
      }
    }
    if (++taken > CARD_MAX_TEMPLATES) return ML_TOO_MANY;
  }
  const uint8_t c0[2] = {static_cast<uint8_t>(0x80 | mode), card_class_byte(static_cast<uint32_t>(taken))};
  TlvNode* head = tlv_node_create(0xC0, 2, c0);
  if (!head || tlv_prepend_child(root.get(), head) != ML_OK) {
    tlv_node_free(head);
    return ML_NO_MEMORY;
  }
  const int st_out = encode_blob(root.get(), out);
  if (st_out != ML_OK) return st_out;
  if (out_count) *out_count = taken;
  return ML_OK;
}

}  // extern "C"

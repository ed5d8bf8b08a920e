// Card probe forms and card references: a card template whose block maps
// became a grid feature map and its origin, a probe with its optional mode
// mask, and the reference part built from the views of a multi-view
// template with its candidate class byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "matchlib/template/card_params.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/tlv_tree.h"
#include "matchlib/image/blob.h"
#include "matchlib/template/block_maps.h"
#include "matchlib/template/card_extended.h"
#include "matchlib/match/card_reference.h"
#include "matchlib/template/card_template.h"
#include "matchlib/match/localstruct_form.h"
#include "matchlib/template/multi_view.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib::card {
namespace {

constexpr int32_t kCardTemplateFormat = 67;
constexpr int32_t kMultiViewFormat = 80;
constexpr uint16_t kCard = 0x7F2E;

using Tree = std::unique_ptr<TlvNode, decltype(&zyl::matchlib::tlv_node_free)>;
struct FreeBytes {
  void operator()(uint8_t* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<uint8_t, FreeBytes>;
struct BlobRelease {
  void operator()(DataBlob* b) const { zyl::matchlib::blob_release(b); }
};
using Blob = std::unique_ptr<DataBlob, BlobRelease>;

// 0 with a new format-76 blob, or 9 when memory runs out.
int encode_blob(const TlvNode* root, DataBlob** out) {
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  const int st = zyl::matchlib::tlv_encode(root, &bytes, &size);
  if (st != ML_OK) return st;
  *out = zyl::matchlib::blob_create(CARD_FORMAT, bytes, size);
  std::free(bytes);
  return *out ? ML_OK : ML_NO_MEMORY;
}

constexpr uint16_t kPackWork = 2064;

// Packs a card's minutiae into the local-structure form of packing form 1
// (64 minutiae) or 2 (46), through the copy that refuses writes past 2370
// bytes. The standard builds reduce a card of more than 64 minutiae to its
// central band; `alternative` selects the packings of the alternative
// matcher set (the unreduced 64-minutia build, the alternative 46).
int pack_minutiae(int form, bool alternative, const uint8_t* card, uint32_t card_size, uint8_t work[kPackWork],
                  uint8_t out[LOCALSTRUCT64_SIZE], uint16_t* out_size) {
  if (form == 1 && alternative)
    return zyl::matchlib::localstruct64_prepare_unreduced(work, kPackWork, card, card_size, out,
                                                          LOCALSTRUCT64_SIZE, out_size, localstruct64_copy);
  if (form == 1)
    return zyl::matchlib::localstruct64_prepare(work, kPackWork, card, card_size, out,
                                                LOCALSTRUCT64_SIZE, out_size, localstruct64_copy);
  // The alternative 46-minutia packing is the same routine.
  return zyl::matchlib::localstruct46_prepare(work, kPackWork, card, card_size, out,
                                              LOCALSTRUCT64_SIZE, out_size, localstruct64_copy);
}

// 0 with the probe form in *out; 9 when memory runs out; 3 for a blob that
// does not convert.
int probe_form(const DataBlob* blob, uint32_t packing_word, DataBlob** out) {
  *out = nullptr;
  if (!blob || zyl::matchlib::blob_type(blob) != kCardTemplateFormat) return ML_UNAVAILABLE;
  const int form = static_cast<int>(packing_word & CARD_PACKING_MASK);
  if (form == 3) return ML_UNAVAILABLE;
  const uint8_t* bytes = zyl::matchlib::blob_data(blob);
  const uint32_t length = zyl::matchlib::blob_size(blob);
  const uint8_t* card = nullptr;
  TlvElement c1{};
  if (zyl::matchlib::card_parse_extended(bytes, length, &card, nullptr, &c1, nullptr, nullptr) !=
      ML_OK)
    return ML_UNAVAILABLE;
  // Pre-packed forms: the minutiae become the packed local-structure form.
  uint8_t packed[LOCALSTRUCT64_SIZE];
  uint16_t packed_size = 0;
  if (form != 0) {
    uint8_t work[kPackWork];
    const uint32_t card_size =
        card ? zyl::matchlib::card_template_size(card, static_cast<uint32_t>(bytes + length - card))
             : 0;
    if (!card_size || pack_minutiae(form, false, card, card_size, work, packed, &packed_size) != ML_OK)
      return ML_UNAVAILABLE;
  }
  TlvNode* raw = nullptr;
  int st = zyl::matchlib::tlv_parse(bytes, length, &raw);
  if (st != ML_OK) return st == ML_NO_MEMORY ? st : ML_UNAVAILABLE;
  Tree root(raw, &zyl::matchlib::tlv_node_free);
  if (TlvNode* c2 = zyl::matchlib::tlv_find(root.get(), 0xC2)) {
    zyl::matchlib::tlv_detach(c2);
    zyl::matchlib::tlv_node_free(c2);
  }
  Bytes map;
  uint8_t origin[2] = {0, 0};
  if (c1.value) {
    uint8_t* m = nullptr;
    uint32_t map_size = 0;
    int vo = 0, ho = 0, rows = 0, columns = 0;
    st = zyl::matchlib::gridmap_from_compact(c1.value, c1.length, &m, &map_size, &vo, &ho, &rows,
                                             &columns, 0, nullptr, nullptr);
    if (st != ML_OK) return st == ML_NO_MEMORY ? st : ML_UNAVAILABLE;
    map.reset(m);
    origin[0] = static_cast<uint8_t>(vo);
    origin[1] = static_cast<uint8_t>(ho);
    TlvNode* c1_node = zyl::matchlib::tlv_find(root.get(), 0xC1);
    TlvNode* parent = c1_node ? zyl::matchlib::tlv_node_parent(c1_node) : nullptr;
    if (!parent) return ML_UNAVAILABLE;
    if (!tlv_add_child(parent, 0xC4, map.get(), map_size) || !tlv_add_child(parent, 0xC5, origin, 2))
      return ML_NO_MEMORY;
    zyl::matchlib::tlv_detach(c1_node);
    zyl::matchlib::tlv_node_free(c1_node);
  }
  if (form != 0) {
    TlvNode* a2 = zyl::matchlib::tlv_find(root.get(), 0xA2);
    if (!a2) return ML_UNAVAILABLE;
    TlvNode* card_node = zyl::matchlib::tlv_node_tag(root.get()) == kCard
                             ? root.get()
                             : zyl::matchlib::tlv_find(root.get(), kCard);
    // The minutiae (A1) and their qualities (82, beside them or under A2)
    // travel in the packed form only.
    for (TlvNode* gone : {zyl::matchlib::tlv_find(root.get(), 0xA1),
                          card_node ? zyl::matchlib::tlv_find_child(card_node, 0x82) : nullptr,
                          zyl::matchlib::tlv_find_child(a2, 0x82)}) {
      if (!gone) continue;
      zyl::matchlib::tlv_detach(gone);
      zyl::matchlib::tlv_node_free(gone);
    }
    if (!tlv_add_child(a2, static_cast<uint16_t>(0xCC + form), packed, packed_size)) return ML_NO_MEMORY;
  }
  return encode_blob(root.get(), out);
}

}  // namespace
}  // namespace zyl::matchlib::card

using namespace zyl::matchlib::card;
using zyl::matchlib::tlv_add_child;

int zyl::matchlib::card_find_probe_elements(const uint8_t* bytes, uint32_t length, int packing_form,
                                            TlvElement* packed, uint8_t* quality, int8_t origin[2],
                                            TlvElement* grid_map) {
  if (packed) *packed = TlvElement{};
  if (quality) *quality = 0;
  if (origin) origin[0] = origin[1] = 0;
  if (grid_map) *grid_map = TlvElement{};
  TlvElement card{};
  if (!bytes || zyl::matchlib::tlv_read_element(bytes, &card, length) != length ||
      card.tag != kCard)
    return ML_CORRUPT;
  auto find = [&](uint16_t tag, TlvElement* out) {
    const uint16_t path[3] = {kCard, 0xA2, tag};
    return zyl::matchlib::tlv_find_path(bytes, length, path, 3, out) == 1 && out->value;
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

extern "C" ZYL_API uint32_t card_template_extent(const uint8_t* bytes, uint32_t length,
                                                 uint32_t offset) {
  if (!bytes) return 0;
  while (offset < length) {
    TlvElement e{};
    const uint32_t n = zyl::matchlib::tlv_read_element(bytes + offset, &e, length - offset);
    if (!n) return 0;
    if (e.tag == kCard) return n;
    offset += n;
  }
  return 0;
}

extern "C" ZYL_API DataBlob* card_template_to_probe_form(const DataBlob* template_blob,
                                                         uint32_t packing_word) {
  DataBlob* out = nullptr;
  probe_form(template_blob, packing_word, &out);
  return out;
}

int zyl::matchlib::card_probe_from_template(uint16_t algorithm_word, const DataBlob* probe,
                                            DataBlob** out, uint16_t mode_mask) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!probe || zyl::matchlib::blob_type(probe) != kCardTemplateFormat || (mode_mask & 0xF801))
    return ML_BAD_ARGUMENT;
  if ((algorithm_word >> 8) != CARD_ALGORITHM_ID) return ML_WRONG_KIND;
  DataBlob* converted = nullptr;
  const int st = probe_form(probe, algorithm_word & ~0x0Fu, &converted);
  if (st != ML_OK) return st == ML_NO_MEMORY ? st : ML_UNAVAILABLE;
  Blob form(converted);
  if (mode_mask == 0 || mode_mask == CARD_MODE_MASK_ALL) {
    *out = form.release();
    return ML_OK;
  }
  const uint32_t n = zyl::matchlib::blob_size(form.get());
  Bytes bytes(static_cast<uint8_t*>(zyl::matchlib::ml_malloc(n + 4)));
  if (!bytes) return ML_NO_MEMORY;
  const uint8_t prefix[4] = {0xC0, 0x02, static_cast<uint8_t>(mode_mask >> 8),
                             static_cast<uint8_t>(mode_mask)};
  std::memcpy(bytes.get(), prefix, 4);
  std::memcpy(bytes.get() + 4, zyl::matchlib::blob_data(form.get()), n);
  *out = zyl::matchlib::blob_create(CARD_FORMAT, bytes.get(), n + 4);
  return *out ? ML_OK : ML_NO_MEMORY;
}

int zyl::matchlib::card_reference_from_mvt(uint16_t algorithm_word, DataBlob* mvt_blob, int mode,
                                           uint32_t size_limit, DataBlob** out, int* out_count) {
  if (out) *out = nullptr;
  if (out_count) *out_count = 0;
  if (!out || mode < 1 || mode > 10) return ML_BAD_ARGUMENT;
  Tree root(zyl::matchlib::tlv_node_create(0xEF, 0, nullptr), &zyl::matchlib::tlv_node_free);
  if (!root) return ML_NO_MEMORY;
  if (!mvt_blob) {
    const uint8_t value = static_cast<uint8_t>(mode);
    if (!tlv_add_child(root.get(), 0xC0, &value, 1)) return ML_NO_MEMORY;
    return encode_blob(root.get(), out);
  }
  if (zyl::matchlib::blob_type(mvt_blob) != kMultiViewFormat) return ML_BAD_ARGUMENT;
  MultiViewTemplate* raw = nullptr;
  const int st = zyl::matchlib::mvt_from_blob(mvt_blob, &raw);
  if (st == ML_NO_MEMORY) return ML_NO_MEMORY;
  if (st != ML_OK) return ML_UNAVAILABLE;
  std::unique_ptr<MultiViewTemplate, decltype(&zyl::matchlib::mvt_release)> mvt(
      raw, &zyl::matchlib::mvt_release);

  const int views = zyl::matchlib::mvt_count_unmarked_views(mvt.get());
  // The tree borrows the probe forms' bytes: they live until it is encoded.
  struct Forms {
    DataBlob** p = nullptr;
    int n = 0;
    ~Forms() {
      for (int i = 0; i < n; ++i) zyl::matchlib::blob_release(p[i]);
      std::free(p);
    }
  } forms;
  if (views > 0) {
    forms.p = static_cast<DataBlob**>(zyl::matchlib::ml_calloc(static_cast<size_t>(views), sizeof(DataBlob*)));
    if (!forms.p) return ML_NO_MEMORY;
  }
  int taken = 0;
  for (int i = 0; i < views; ++i) {
    Blob view(zyl::matchlib::mvt_get_view(mvt.get(), i, nullptr, nullptr, nullptr));
    if (!view) return ML_NO_MEMORY;
    DataBlob* converted = nullptr;
    int st_form = probe_form(view.get(), algorithm_word & CARD_PACKING_MASK, &converted);
    if (st_form == ML_NO_MEMORY) return st_form;
    if (st_form != ML_OK) continue;  // a view that does not convert is left out
    Blob form(converted);
    TlvNode* sub = nullptr;
    st_form = zyl::matchlib::tlv_parse(zyl::matchlib::blob_data(form.get()),
                                       zyl::matchlib::blob_size(form.get()), &sub);
    if (st_form == ML_NO_MEMORY) return st_form;
    if (st_form != ML_OK) continue;
    TlvNode* ee = zyl::matchlib::tlv_node_create(0xEE, 0, nullptr);
    if (!ee || zyl::matchlib::tlv_append_child(ee, sub) != ML_OK ||
        zyl::matchlib::tlv_append_child(root.get(), ee) != ML_OK) {
      zyl::matchlib::tlv_node_free(sub);
      zyl::matchlib::tlv_node_free(ee);
      return ML_NO_MEMORY;
    }
    forms.p[forms.n++] = form.release();
    if (size_limit) {
      uint32_t size = 0;
      // The size checked is that of the finished part: the class element
      // C0 that goes in front afterwards takes 4 bytes, and counting it
      // keeps the encoded reference within the part size its readers
      // allot, where a check without it could pass a part 4 bytes too long.
      if (zyl::matchlib::tlv_encode(root.get(), nullptr, &size) != ML_OK || size + 4 > size_limit) {
        zyl::matchlib::tlv_detach(ee);
        zyl::matchlib::tlv_node_free(ee);
        break;
      }
    }
    if (++taken > CARD_MAX_TEMPLATES) return ML_TOO_MANY;
  }
  const uint8_t c0[2] = {static_cast<uint8_t>(0x80 | mode),
                         zyl::matchlib::card_class_byte(static_cast<uint32_t>(taken))};
  TlvNode* head = zyl::matchlib::tlv_node_create(0xC0, 2, c0);
  if (!head || zyl::matchlib::tlv_prepend_child(root.get(), head) != ML_OK) {
    zyl::matchlib::tlv_node_free(head);
    return ML_NO_MEMORY;
  }
  const int st_out = encode_blob(root.get(), out);
  if (st_out != ML_OK) return st_out;
  if (out_count) *out_count = taken;
  return ML_OK;
}

int zyl::matchlib::card_probe_to_reference_entry(const uint8_t* const* parts, const uint32_t* sizes,
                                                 int k, uint8_t* buffer, uint32_t buffer_size,
                                                 uint32_t offset, int mode,
                                                 CardReferenceEntry* out) {
  if (!out || !buffer) return ML_BAD_ARGUMENT;
  *out = CardReferenceEntry{};
  if (mode == 0) return ML_CORRUPT;
  CardProbeSetup setup{};
  if (const int st =
          zyl::matchlib::card_parse_reference(parts, sizes, k, buffer, buffer_size, offset, &setup))
    return st;

  // The reference part of the mode: EF 82 LL LL { C0 {0x80 | mode, ...}, ... }.
  TlvElement p0{}, c0{};
  zyl::matchlib::card_read_params_header(parts, sizes, k, 0, &p0);
  zyl::matchlib::tlv_read_element(p0.value, &c0, p0.length);
  const int count = be16(c0.value + 3);
  const uint8_t* part = nullptr;
  uint32_t part_size = 0;
  int n = 1;
  for (; n < count; ++n) {
    TlvElement ef{}, group{};
    if (zyl::matchlib::card_read_params_header(parts, sizes, k, n, &ef) != ML_OK) continue;
    zyl::matchlib::tlv_read_element(ef.value, &group, ef.length);
    if ((group.value[0] & 0x7F) == mode) break;
  }
  if (n >= count || locate_part(parts, sizes, k, n, &part, &part_size) != ML_OK) return ML_CORRUPT;
  // The caller grows the part in place: its length must be in the two-byte form.
  if (part_size < 4 || part[1] != 0x82) return ML_CORRUPT;
  const uint8_t* holder = k >= 2 ? parts[n] : parts[0];
  const uint32_t at = static_cast<uint32_t>(part - holder);
  const uint32_t old_length = be16(part + 2);

  uint8_t* room = buffer + offset;
  const uint32_t room_size = static_cast<uint32_t>(setup.probe - room);
  uint8_t* element = nullptr;
  uint32_t element_size = 0;
  uint8_t* new_length = nullptr;
  const int form = setup.algorithm_word & CARD_PACKING_MASK;
  if (form == 0) {
    // The probe itself becomes the element behind an EE header.
    if (room_size < 6 || setup.probe_length + 4 > 0xFFFF) return ML_CORRUPT;
    element = setup.probe - 4;
    element_size = setup.probe_length + 4;
    element[0] = 0xEE;
    element[1] = 0x82;
    put16(element + 2, setup.probe_length);
    new_length = room;
  } else {
    // EE { 7F2E { A2 { CC + form {packed}, C3, C4, C5 } } }, built at the
    // front of the room; the packed bytes are bounded by the form's size
    // and by the buffer less 971 bytes.
    const uint32_t form_limit = form == 1 ? uint32_t{LOCALSTRUCT64_SIZE} : uint32_t{LOCALSTRUCT46_SIZE};
    if (buffer_size < 971) return ML_CORRUPT;
    const uint32_t limit = std::min<uint32_t>(form_limit, buffer_size - 971);
    uint8_t work[kPackWork], packed[LOCALSTRUCT64_SIZE];
    uint16_t packed_size = 0;
    if (const int st = pack_minutiae(form, setup.algorithm_word & CARD_ALTERNATIVE, setup.probe,
                                     setup.probe_length, work, packed, &packed_size))
      return st;
    if (packed_size > limit) return ML_CORRUPT;
    // Copies of the probe's C3, C4 and C5, whole elements.
    struct Span {
      const uint8_t* p = nullptr;
      uint32_t n = 0;
    } copies[3];
    const uint16_t a2_path[2] = {kCard, 0xA2};
    TlvElement a2{};
    if (zyl::matchlib::tlv_find_path(setup.probe, setup.probe_length, a2_path, 2, &a2) == 1 &&
        a2.value) {
      for (uint32_t q = 0; q < a2.length;) {
        TlvElement c{};
        const uint32_t m = zyl::matchlib::tlv_read_element(a2.value + q, &c, a2.length - q);
        if (!m) return ML_CORRUPT;
        if (c.tag >= 0xC3 && c.tag <= 0xC5 && !copies[c.tag - 0xC3].p) copies[c.tag - 0xC3] = {a2.value + q, m};
        q += m;
      }
    }
    uint32_t a2_value = 4 + packed_size;
    for (const Span& c : copies) a2_value += c.n;
    const uint32_t card_value = 4 + a2_value, ee_value = 5 + card_value;
    element_size = 4 + ee_value;
    if (ee_value > 0xFFFF || element_size + 2 > room_size) return ML_CORRUPT;
    element = room;
    uint8_t* w = element;
    auto header = [&w](uint16_t tag, uint32_t length) {
      if (tag > 0xFF) *w++ = static_cast<uint8_t>(tag >> 8);
      *w++ = static_cast<uint8_t>(tag);
      *w++ = 0x82;
      put16(w, length);
      w += 2;
    };
    header(0xEE, ee_value);
    header(kCard, card_value);
    header(0xA2, a2_value);
    header(static_cast<uint16_t>(0xCC + form), packed_size);
    std::memcpy(w, packed, packed_size);
    w += packed_size;
    for (const Span& c : copies) {
      if (c.n) std::memmove(w, c.p, c.n);
      w += c.n;
    }
    new_length = w;
  }
  const uint32_t grown = old_length + element_size;
  if (grown > 0xFFFF || part_size < grown + 4) return ML_CORRUPT;
  put16(new_length, grown);
  *out = CardReferenceEntry{element, element_size, n, at + 2, 2, new_length, at + 4 + old_length};
  return ML_OK;
}

extern "C" {

ZYL_API int card_find_probe_elements(const uint8_t* bytes, uint32_t length, int packing_form,
                                     TlvElement* packed, uint8_t* quality, int8_t origin[2],
                                     TlvElement* grid_map) {
  return zyl::matchlib::card_find_probe_elements(bytes, length, packing_form, packed, quality,
                                                 origin, grid_map);
}
ZYL_API int card_probe_from_template(uint16_t algorithm_word, const DataBlob* probe, DataBlob** out,
                                     uint16_t mode_mask) {
  return zyl::matchlib::card_probe_from_template(algorithm_word, probe, out, mode_mask);
}
ZYL_API int card_reference_from_mvt(uint16_t algorithm_word, DataBlob* mvt_blob, int mode,
                                    uint32_t size_limit, DataBlob** out, int* out_count) {
  return zyl::matchlib::card_reference_from_mvt(algorithm_word, mvt_blob, mode, size_limit, out,
                                                out_count);
}
ZYL_API int card_probe_to_reference_entry(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                          uint8_t* buffer, uint32_t buffer_size, uint32_t offset,
                                          int mode, CardReferenceEntry* out) {
  return zyl::matchlib::card_probe_to_reference_entry(parts, sizes, k, buffer, buffer_size, offset,
                                                      mode, out);
}

}  // extern "C"

// Building extended card templates: the card's minutiae elements with the
// block maps (C1), an optional packed image (C2) and the image information
// (C3) as 7F2E { A1, A2 }, or the card and its block maps wrapped in E1.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/block_maps.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/card_extended_build.h"
#include "matchlib/template/card_template.h"
#include "matchlib/image/packed_image.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kCard = 0x7F2E;
using Tree = std::unique_ptr<TlvNode, decltype(&zyl::matchlib::tlv_node_free)>;

int attach(TlvNode* parent, TlvNode* child) {
  if (!child) return ML_NO_MEMORY;
  const int status = zyl::matchlib::tlv_append_child(parent, child);
  if (status != ML_OK) zyl::matchlib::tlv_node_free(child);
  return status;
}

bool maps_usable(const CellMap* o, const CellMap* f) {
  return o && f && o->cells && f->cells && o->rows && o->columns && o->rows == f->rows &&
         o->columns == f->columns;
}

// The C1 value of two cell maps (with their detail layers when both have
// one); empty when it cannot be coded.
std::vector<std::uint8_t> block_maps_value(const CellMap* o, const CellMap* f,
                                           const std::uint8_t* o_fine, const std::uint8_t* f_fine) {
  const std::size_t n = std::size_t{o->rows} * o->columns;
  BlockMaps maps;
  maps.cell_size = o->cell_size;
  maps.vertical_origin = static_cast<std::int8_t>(o->origin_second & 0xFF);
  maps.horizontal_origin = static_cast<std::int8_t>(o->origin_first & 0xFF);
  maps.rows = o->rows;
  maps.columns = o->columns;
  maps.orientation = {o->cells, n};
  maps.frequency = {f->cells, n};
  if (o_fine && f_fine) {
    maps.detail_orientation = {o_fine, 9 * n};
    maps.detail_frequency = {f_fine, 9 * n};
  }
  return encode_block_maps(maps);
}

int build_extended(const std::uint8_t* card, std::uint32_t length, const CellMap* orientation,
                   const CellMap* frequency, const std::uint8_t* o_fine, const std::uint8_t* f_fine,
                   const std::uint8_t* pixels, std::uint16_t rows, std::uint16_t columns,
                   std::uint8_t image_flag, std::uint8_t info_flag, std::uint8_t** out,
                   std::uint32_t* out_size) {
  TlvElement top{};
  if (zyl::matchlib::tlv_read_element(card, &top, length) == 0 || top.tag != kCard)
    return ML_UNAVAILABLE;
  Tree root(zyl::matchlib::tlv_node_create(kCard, 0, nullptr), &zyl::matchlib::tlv_node_free);
  if (!root) return ML_NO_MEMORY;
  TlvNode* a1 = zyl::matchlib::tlv_node_create(0xA1, 0, nullptr);
  if (const int s = attach(root.get(), a1); s != ML_OK) return s;
  TlvNode* a2 = zyl::matchlib::tlv_node_create(0xA2, 0, nullptr);
  if (const int s = attach(root.get(), a2); s != ML_OK) return s;
  TlvElement e{};
  for (const std::uint16_t tag : {0x81, 0x90, 0x92, 0x93, 0x94})
    if (zyl::matchlib::card_find_element(card, length, tag, &e) == ML_OK)
      if (const int s = attach(a1, zyl::matchlib::tlv_node_create(tag, e.length, e.value));
          s != ML_OK)
        return s;
  const std::uint16_t quality_a[] = {kCard, 0x82};
  const std::uint16_t quality_b[] = {kCard, 0xA2, 0x82};
  if (zyl::matchlib::tlv_find_path(card, length, quality_a, 2, &e) == 1 ||
      zyl::matchlib::tlv_find_path(card, length, quality_b, 3, &e) == 1)
    if (const int s = attach(a2, zyl::matchlib::tlv_node_create(0x82, e.length, e.value));
        s != ML_OK)
      return s;
  std::vector<std::uint8_t> c1;
  if (maps_usable(orientation, frequency)) {
    c1 = block_maps_value(orientation, frequency, o_fine, f_fine);
    if (!c1.empty())
      if (const int s = attach(a2, zyl::matchlib::tlv_node_create(
                                       0xC1, static_cast<std::uint32_t>(c1.size()), c1.data()));
          s != ML_OK)
        return s;
  }
  std::unique_ptr<std::uint8_t, decltype(&std::free)> image(nullptr, &std::free);
  const std::uint32_t pixels_count = std::uint32_t{rows} * columns;
  if (pixels && pixels_count) {
    std::uint8_t* packed = nullptr;
    std::uint32_t packed_size = 0;
    if (const int s = zyl::matchlib::packed_image_write(pixels, rows, columns, 500, 500, image_flag,
                                                        &packed, &packed_size);
        s != ML_OK)
      return s;
    image.reset(packed);
    if (const int s = attach(a2, zyl::matchlib::tlv_node_create(0xC2, packed_size, packed));
        s != ML_OK)
      return s;
  }
  // Image information: rows and columns little-endian, as readers expect.
  const std::uint8_t info[6] = {1,
                                static_cast<std::uint8_t>(rows & 0xFF),
                                static_cast<std::uint8_t>(rows >> 8),
                                static_cast<std::uint8_t>(columns & 0xFF),
                                static_cast<std::uint8_t>(columns >> 8),
                                info_flag};
  if (pixels_count)
    if (const int s = attach(a2, zyl::matchlib::tlv_node_create(0xC3, 6, info)); s != ML_OK)
      return s;
  return zyl::matchlib::tlv_encode(root.get(), out, out_size);
}

int wrap_block_maps(const std::uint8_t* card, std::uint32_t size, const CellMap* orientation,
                    const CellMap* frequency, std::uint8_t** out, std::uint32_t* out_size) {
  TlvElement top{};
  const std::uint32_t card_size = zyl::matchlib::tlv_read_element(card, &top, size);
  if (card_size == 0 || zyl::matchlib::tlv_validate(card, card_size) != ML_OK)
    return ML_UNAVAILABLE;
  if (!maps_usable(orientation, frequency)) return ML_CORRUPT;
  const std::vector<std::uint8_t> c1 = block_maps_value(orientation, frequency, nullptr, nullptr);
  if (c1.empty()) return ML_CORRUPT;
  // The card comes first: readers take E1's first child as the card.
  const std::uint32_t c1_size = static_cast<std::uint32_t>(c1.size());
  const std::uint32_t c1_total =
      static_cast<std::uint32_t>(zyl::matchlib::tlv_tag_size(0xC1) +
                                 zyl::matchlib::tlv_length_size(c1_size)) +
      c1_size;
  const std::uint32_t inner = card_size + c1_total;
  const std::uint32_t total = static_cast<std::uint32_t>(zyl::matchlib::tlv_tag_size(0xE1) +
                                                         zyl::matchlib::tlv_length_size(inner)) +
                              inner;
  auto* buffer = static_cast<std::uint8_t*>(ml_malloc(total));
  if (!buffer) return ML_CORRUPT;
  std::uint32_t at = static_cast<std::uint32_t>(zyl::matchlib::tlv_write_tag(buffer, 0xE1));
  at += static_cast<std::uint32_t>(zyl::matchlib::tlv_write_length(buffer + at, inner));
  std::copy(card, card + card_size, buffer + at);
  at += card_size;
  const TlvElement c1e{c1_size, 0xC1, c1.data()};
  at += zyl::matchlib::tlv_write_element(buffer + at, &c1e);
  *out = buffer;
  if (out_size) *out_size = at;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::card_build_extended(const uint8_t* card, uint32_t length,
                                       const CellMap* orientation, const CellMap* frequency,
                                       const uint8_t* orientation_fine,
                                       const uint8_t* frequency_fine, const uint8_t* pixels,
                                       uint16_t rows, uint16_t columns, uint8_t image_flag,
                                       uint8_t info_flag, uint8_t** out, uint32_t* out_size) {
  if (!card || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return build_extended(card, length, orientation, frequency, orientation_fine, frequency_fine, pixels,
                          rows, columns, image_flag, info_flag, out, out_size);
  });
}

int zyl::matchlib::card_build_extended_maps(const uint8_t* card, uint32_t length,
                                            const CellMap* orientation, const CellMap* frequency,
                                            const uint8_t* orientation_fine,
                                            const uint8_t* frequency_fine, uint16_t rows,
                                            uint16_t columns, uint8_t info_flag, uint8_t** out,
                                            uint32_t* out_size) {
  return zyl::matchlib::card_build_extended(card, length, orientation, frequency, orientation_fine,
                                            frequency_fine, nullptr, rows, columns, 0, info_flag,
                                            out, out_size);
}

int zyl::matchlib::card_wrap_block_maps(const uint8_t* card, uint32_t size,
                                        const CellMap* orientation, const CellMap* frequency,
                                        uint8_t** out, uint32_t* out_size) {
  if (!card || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_CORRUPT,
                          [&] { return wrap_block_maps(card, size, orientation, frequency, out, out_size); });
}

extern "C" {

ZYL_API int card_build_extended(const uint8_t* card, uint32_t length, const CellMap* orientation,
                                const CellMap* frequency, const uint8_t* orientation_fine,
                                const uint8_t* frequency_fine, const uint8_t* pixels, uint16_t rows,
                                uint16_t columns, uint8_t image_flag, uint8_t info_flag,
                                uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::card_build_extended(card, length, orientation, frequency, orientation_fine,
                                            frequency_fine, pixels, rows, columns, image_flag,
                                            info_flag, out, out_size);
}
ZYL_API int card_build_extended_maps(const uint8_t* card, uint32_t length,
                                     const CellMap* orientation, const CellMap* frequency,
                                     const uint8_t* orientation_fine, const uint8_t* frequency_fine,
                                     uint16_t rows, uint16_t columns, uint8_t info_flag,
                                     uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::card_build_extended_maps(card, length, orientation, frequency,
                                                 orientation_fine, frequency_fine, rows, columns,
                                                 info_flag, out, out_size);
}
ZYL_API int card_wrap_block_maps(const uint8_t* card, uint32_t size, const CellMap* orientation,
                                 const CellMap* frequency, uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::card_wrap_block_maps(card, size, orientation, frequency, out, out_size);
}

}  // extern "C"

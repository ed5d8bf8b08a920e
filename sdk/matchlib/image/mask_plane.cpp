// The mask plane: reference-counted per-pixel flag bytes, their tests and
// conversions, percentages and the stored record.
#include "matchlib/core/allocation.h"
#include "matchlib/image/mask_plane.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/byte_io.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/alloc_check.h"

namespace zyl::matchlib {
namespace {

// Applies f(cell, map byte) to every cell; nothing for a null plane or map.
template <class F>
void for_cells_with_map(MaskPlane* plane, const std::uint8_t* map, F f) {
  if (!plane || !map) return;
  auto cells = mask_span(plane);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = f(cells[i], map[i]);
}

// Writes g(cell) for every cell into the map; 2 for a null plane or map.
template <class G>
int map_cells(const MaskPlane* plane, std::uint8_t* out, G g) {
  if (!plane || !out) return ML_BAD_ARGUMENT;
  auto cells = mask_span(plane);
  for (std::size_t i = 0; i < cells.size(); ++i) out[i] = g(cells[i]);
  return ML_OK;
}

bool index_in_plane(const MaskPlane* plane, int index) {
  return plane && plane->cells && index >= 0 &&
         static_cast<std::size_t>(index) < mask_cell_count(plane);
}

int percent(std::size_t part, std::size_t whole) {
  return whole ? static_cast<int>(part * 100 / whole) : 0;
}

}  // namespace

std::size_t read_mask(std::span<const std::uint8_t> in, Ref<MaskPlane>& out) {
  out.reset();
  ByteReader r(in);
  const std::uint8_t present = r.u8();
  if (!r.ok()) return 0;
  if (!present) return 1;
  const std::uint16_t height = r.u16();
  const std::uint16_t width = r.u16();
  const auto cells = r.view(std::size_t{height} * width);
  if (!r.ok()) return 0;
  MaskPlane* m = zyl::matchlib::mask_create(height, width);
  if (!m) return 0;
  if (!cells.empty()) std::memcpy(m->cells, cells.data(), cells.size());
  out = Ref<MaskPlane>::adopt(m);
  return r.pos();
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

MaskPlane* zyl::matchlib::mask_create(int height, int width) {
  if (height < 0 || width < 0 || height > 0xFFFF || width > 0xFFFF) return nullptr;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  auto* m = static_cast<MaskPlane*>(ml_malloc(sizeof(MaskPlane)));
  auto* cells = static_cast<std::uint8_t*>(ml_calloc(n ? n : 1, 1));
  if (zyl::matchlib::alloc_check(m, cells, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != ML_OK)
    return nullptr;
  *m = MaskPlane{1, static_cast<std::uint16_t>(height), static_cast<std::uint16_t>(width), cells,
                 mask_destroy};
  return m;
}

MaskPlane* zyl::matchlib::mask_retain(MaskPlane* plane) {
  if (plane && plane->destroy) ++plane->refcount;
  return plane;
}

void zyl::matchlib::mask_release(MaskPlane* plane) {
  if (!plane || !plane->destroy) return;
  if (--plane->refcount <= 0) plane->destroy(plane);
}

extern "C" ZYL_API void mask_destroy(MaskPlane* plane) {
  if (!plane) return;
  std::free(plane->cells);
  std::free(plane);
}

MaskPlane* zyl::matchlib::mask_clone(const MaskPlane* plane) {
  if (!plane) return nullptr;
  MaskPlane* m = zyl::matchlib::mask_create(plane->height, plane->width);
  if (m && plane->cells) std::memcpy(m->cells, plane->cells, mask_cell_count(plane));
  return m;
}

extern "C" ZYL_API int mask_equal(const MaskPlane* a, const MaskPlane* b) {
  if (!a || !b || a->height != b->height || a->width != b->width) return 0;
  auto ca = mask_span(a);
  auto cb = mask_span(b);
  return std::equal(ca.begin(), ca.end(), cb.begin(), cb.end()) ? 1 : 0;
}

int zyl::matchlib::mask_height(const MaskPlane* plane) { return plane ? plane->height : 0; }
int zyl::matchlib::mask_width(const MaskPlane* plane) { return plane ? plane->width : 0; }
uint8_t* zyl::matchlib::mask_cells(const MaskPlane* plane) {
  return plane ? plane->cells : nullptr;
}

void zyl::matchlib::mask_set_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map) {
  const auto b = static_cast<std::uint8_t>(bits);
  for_cells_with_map(plane, map, [b](std::uint8_t c, std::uint8_t m) -> std::uint8_t {
    return m ? c | b : c;
  });
}

void zyl::matchlib::mask_set_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map) {
  const auto b = static_cast<std::uint8_t>(bits);
  for_cells_with_map(plane, map, [b](std::uint8_t c, std::uint8_t m) -> std::uint8_t {
    return m ? c : c | b;
  });
}

void zyl::matchlib::mask_assign_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map) {
  const auto b = static_cast<std::uint8_t>(bits);
  for_cells_with_map(plane, map, [b](std::uint8_t c, std::uint8_t m) -> std::uint8_t {
    return m ? c | b : c & ~b;
  });
}

void zyl::matchlib::mask_assign_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map) {
  const auto b = static_cast<std::uint8_t>(bits);
  for_cells_with_map(plane, map, [b](std::uint8_t c, std::uint8_t m) -> std::uint8_t {
    return m ? c & ~b : c | b;
  });
}

extern "C" ZYL_API void mask_set_outside_where_set(MaskPlane* plane, const uint8_t* map) {
  zyl::matchlib::mask_set_bits_where_set(plane, MASK_OUTSIDE_SOURCE, map);
}

extern "C" ZYL_API void mask_assign_outside(MaskPlane* plane, const uint8_t* map) {
  zyl::matchlib::mask_assign_bits_where_set(plane, MASK_OUTSIDE_SOURCE, map);
}

void zyl::matchlib::mask_clear_bits(MaskPlane* plane, int bits) {
  const auto keep = static_cast<std::uint8_t>(~bits);
  for (auto& c : mask_span(plane)) c &= keep;
}

extern "C" ZYL_API void mask_extract_bits(const MaskPlane* plane, int bits, uint8_t* out_map) {
  map_cells(plane, out_map, [bits](std::uint8_t c) { return static_cast<std::uint8_t>(c & bits); });
}

extern "C" ZYL_API void mask_set_cell_bits(MaskPlane* plane, int bits, int index) {
  if (index_in_plane(plane, index)) plane->cells[index] |= static_cast<std::uint8_t>(bits);
}

int zyl::matchlib::mask_test_bits(const MaskPlane* plane, int bits, int index) {
  return index_in_plane(plane, index) ? plane->cells[index] & bits : 0;
}

extern "C" ZYL_API int mask_exclusion_bits(const MaskPlane* plane, int index) {
  return zyl::matchlib::mask_test_bits(plane, MASK_EXCLUSION, index);
}

int zyl::matchlib::mask_cell_is_clear(const MaskPlane* plane, int index) {
  if (!index_in_plane(plane, index)) return 0;
  return (plane->cells[index] & MASK_EXCLUSION) == 0 ? 1 : 0;
}

int zyl::matchlib::mask_to_valid_bytes(const MaskPlane* plane, uint8_t* out_map) {
  return map_cells(plane, out_map,
                   [](std::uint8_t c) -> std::uint8_t { return c & MASK_INVALID ? 0 : 255; });
}

int zyl::matchlib::mask_to_region_bytes(const MaskPlane* plane, uint8_t* out_map) {
  return map_cells(plane, out_map,
                   [](std::uint8_t c) -> std::uint8_t { return c & MASK_EXCLUSION ? 0 : 255; });
}

extern "C" ZYL_API int mask_to_display_bytes(const MaskPlane* plane, uint8_t* out_map) {
  return map_cells(plane, out_map, [](std::uint8_t c) -> std::uint8_t {
    if (c == 0) return 255;
    if (c & MASK_EXCLUSION) return 0;
    if (c & MASK_ACCUMULATOR_STRONG) return 128;
    if (c & MASK_ACCUMULATOR_WEAK) return 96;
    return 192;
  });
}

extern "C" ZYL_API int mask_bits_percent(const MaskPlane* plane, int bits) {
  auto cells = mask_span(plane);
  const auto n = static_cast<std::size_t>(
      std::count_if(cells.begin(), cells.end(), [bits](std::uint8_t c) { return c & bits; }));
  return percent(n, cells.size());
}

int zyl::matchlib::mask_bits_percent_in_region(const MaskPlane* plane, int bits) {
  std::size_t region = 0, marked = 0;
  for (std::uint8_t c : mask_span(plane)) {
    if (c & MASK_OUTSIDE_ROI) continue;
    ++region;
    if (c & bits) ++marked;
  }
  return percent(marked, region);
}

int zyl::matchlib::mask_valid_percent(const MaskPlane* plane) {
  auto cells = mask_span(plane);
  const auto n = static_cast<std::size_t>(std::count_if(
      cells.begin(), cells.end(), [](std::uint8_t c) { return (c & MASK_INVALID) == 0; }));
  return percent(n, cells.size());
}

uint32_t zyl::matchlib::mask_write(uint8_t* out, const MaskPlane* plane) {
  const std::size_t cells = mask_cell_count(plane);
  const auto n = static_cast<std::uint32_t>(plane ? 5 + cells : 1);
  if (!out) return n;
  zyl::ByteWriter w({out, n});
  w.u8(plane ? 1 : 0);
  if (plane) {
    w.u16(plane->height);
    w.u16(plane->width);
    if (plane->cells)
      w.bytes(plane->cells, cells);
    else
      w.fill(0, cells);
  }
  return n;
}

uint32_t zyl::matchlib::mask_read_bounded(const uint8_t* in, uint32_t available, MaskPlane** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!in) return 0;
  Ref<MaskPlane> m;
  const std::size_t n = read_mask({in, available}, m);
  *out = m.release();
  return static_cast<uint32_t>(n);
}

extern "C" ZYL_API uint32_t mask_read(const uint8_t* in, MaskPlane** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!in) return 0;
  // The caller vouches for the record: its header says how long it is.
  std::size_t length = 1;
  if (in[0]) length = 5 + std::size_t{zyl::ByteReader({in + 1, 2}).u16()} *
                              zyl::ByteReader({in + 3, 2}).u16();
  return zyl::matchlib::mask_read_bounded(in, static_cast<uint32_t>(length), out);
}

extern "C" {

ZYL_API MaskPlane* mask_create(int height, int width) {
  return zyl::matchlib::mask_create(height, width);
}
ZYL_API MaskPlane* mask_retain(MaskPlane* plane) { return zyl::matchlib::mask_retain(plane); }
ZYL_API void mask_release(MaskPlane* plane) { zyl::matchlib::mask_release(plane); }
ZYL_API MaskPlane* mask_clone(const MaskPlane* plane) { return zyl::matchlib::mask_clone(plane); }
ZYL_API int mask_height(const MaskPlane* plane) { return zyl::matchlib::mask_height(plane); }
ZYL_API int mask_width(const MaskPlane* plane) { return zyl::matchlib::mask_width(plane); }
ZYL_API uint8_t* mask_cells(const MaskPlane* plane) { return zyl::matchlib::mask_cells(plane); }
ZYL_API void mask_set_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map) {
  zyl::matchlib::mask_set_bits_where_set(plane, bits, map);
}
ZYL_API void mask_set_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map) {
  zyl::matchlib::mask_set_bits_where_clear(plane, bits, map);
}
ZYL_API void mask_assign_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map) {
  zyl::matchlib::mask_assign_bits_where_set(plane, bits, map);
}
ZYL_API void mask_assign_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map) {
  zyl::matchlib::mask_assign_bits_where_clear(plane, bits, map);
}
ZYL_API void mask_clear_bits(MaskPlane* plane, int bits) {
  zyl::matchlib::mask_clear_bits(plane, bits);
}
ZYL_API int mask_test_bits(const MaskPlane* plane, int bits, int index) {
  return zyl::matchlib::mask_test_bits(plane, bits, index);
}
ZYL_API int mask_cell_is_clear(const MaskPlane* plane, int index) {
  return zyl::matchlib::mask_cell_is_clear(plane, index);
}
ZYL_API int mask_to_valid_bytes(const MaskPlane* plane, uint8_t* out_map) {
  return zyl::matchlib::mask_to_valid_bytes(plane, out_map);
}
ZYL_API int mask_to_region_bytes(const MaskPlane* plane, uint8_t* out_map) {
  return zyl::matchlib::mask_to_region_bytes(plane, out_map);
}
ZYL_API int mask_bits_percent_in_region(const MaskPlane* plane, int bits) {
  return zyl::matchlib::mask_bits_percent_in_region(plane, bits);
}
ZYL_API int mask_valid_percent(const MaskPlane* plane) {
  return zyl::matchlib::mask_valid_percent(plane);
}
ZYL_API uint32_t mask_write(uint8_t* out, const MaskPlane* plane) {
  return zyl::matchlib::mask_write(out, plane);
}
ZYL_API uint32_t mask_read_bounded(const uint8_t* in, uint32_t available, MaskPlane** out) {
  return zyl::matchlib::mask_read_bounded(in, available, out);
}

}  // extern "C"

// Internal face of the mask plane: its record and a bounded reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_mask.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

MaskPlane* mask_create(int height, int width);
MaskPlane* mask_retain(MaskPlane* plane);
void mask_release(MaskPlane* plane);
MaskPlane* mask_clone(const MaskPlane* plane);
int mask_height(const MaskPlane* plane);
int mask_width(const MaskPlane* plane);
uint8_t* mask_cells(const MaskPlane* plane);
void mask_set_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map);
void mask_set_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map);
void mask_assign_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map);
void mask_assign_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map);
void mask_clear_bits(MaskPlane* plane, int bits);
int mask_test_bits(const MaskPlane* plane, int bits, int index);
int mask_cell_is_clear(const MaskPlane* plane, int index);
int mask_to_valid_bytes(const MaskPlane* plane, uint8_t* out_map);
int mask_to_region_bytes(const MaskPlane* plane, uint8_t* out_map);
int mask_bits_percent_in_region(const MaskPlane* plane, int bits);
int mask_valid_percent(const MaskPlane* plane);
uint32_t mask_write(uint8_t* out, const MaskPlane* plane);
uint32_t mask_read_bounded(const uint8_t* in, uint32_t available, MaskPlane** out);

}  // namespace zyl::matchlib

struct MaskPlane {
  std::int32_t refcount;
  std::uint16_t height;
  std::uint16_t width;
  std::uint8_t* cells;
  void (*destroy)(MaskPlane*);
};

namespace zyl::matchlib {

template <>
struct RefTraits<MaskPlane> {
  static void retain(MaskPlane* m) { zyl::matchlib::mask_retain(m); }
  static void release(MaskPlane* m) { zyl::matchlib::mask_release(m); }
};

inline std::size_t mask_cell_count(const MaskPlane* m) {
  return m ? std::size_t{m->height} * m->width : 0;
}

inline std::span<std::uint8_t> mask_span(const MaskPlane* m) {
  return m && m->cells ? std::span<std::uint8_t>(m->cells, mask_cell_count(m))
                       : std::span<std::uint8_t>{};
}

// Reads one mask-plane record from the front of `in`; answers the bytes
// consumed (1 for "no plane"), or 0 with `out` empty when the record does not
// fit in `in` or memory runs out.
std::size_t read_mask(std::span<const std::uint8_t> in, Ref<MaskPlane>& out);

}  // namespace zyl::matchlib

// Internal face of the mask plane: its record and a bounded reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_mask.h"

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
  static void retain(MaskPlane* m) { mask_retain(m); }
  static void release(MaskPlane* m) { mask_release(m); }
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

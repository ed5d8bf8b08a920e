// The type-line engine's exported C names: argument checks and type
// conversions around the C++ code.
#include <algorithm>
#include <cstring>
#include <span>

#include "typeline/integer_geometry.h"
#include "typeline/polygon.h"
#include "typeline/template_codec.h"
#include "typeline/template_tools.h"
#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_math.h"
#include "zylscan/typeline_template.h"
#include "zylscan/typeline_tools.h"

namespace tl = zyl::typeline;

namespace {

// Templates cross the C boundary as bare pointers to 750-byte buffers.
std::span<const std::uint8_t> template_bytes(const std::uint8_t* p) { return {p, tl::kTemplateSize}; }
std::span<std::uint8_t, tl::kTemplateSize> template_out(std::uint8_t* p) {
  return std::span<std::uint8_t, tl::kTemplateSize>(p, tl::kTemplateSize);
}

constexpr int kNullArgument = -1;

}  // namespace

static_assert(sizeof(TypelineMinutia) == 8);
static_assert(sizeof(TypelineMinutiaList) == TYPELINE_MINUTIA_LIST_SIZE);

extern "C" {

// The height of the last image given to the template entry points.
ZYL_API int dyn_image_height = 0;

}  // extern "C"

namespace zyl::typeline {

int& last_template_height = dyn_image_height;

}  // namespace zyl::typeline

extern "C" {

ZYL_API int op_func_01(int x0, int y0, int x1, int y1) { return tl::direction_towards(x0, y0, x1, y1); }

ZYL_API int op_func_02(int a) { return tl::rounded_sqrt(a); }

ZYL_API int get_polygon_points(const TypelineMinutiaList* list, PointPolygon* polygon) {
  if (!list || !polygon) return 0;
  const int n = std::clamp<int>(list->count, 0, TYPELINE_MAX_MINUTIAE);
  std::int32_t xs[TYPELINE_MAX_MINUTIAE], ys[TYPELINE_MAX_MINUTIAE];
  for (int k = 0; k < n; ++k) {
    xs[k] = list->minutiae[k].x;
    ys[k] = list->minutiae[k].y;
  }
  return tl::convex_hull({xs, static_cast<std::size_t>(n)}, {ys, static_cast<std::size_t>(n)}, *polygon);
}

ZYL_API int get_polygon_points_sub(const std::int32_t* xs, const std::int32_t* ys, int n, PointPolygon* polygon) {
  if (!xs || !ys || !polygon || n < 0) return 0;
  const auto count = static_cast<std::size_t>(n);
  return tl::convex_hull({xs, count}, {ys, count}, *polygon);
}

ZYL_API int check_in_polygon(int x, int y, const PointPolygon* polygon, int margin) {
  return polygon ? tl::in_polygon(x, y, *polygon, margin) : 0;
}

ZYL_API int get_byte_template(const TypelineRecord* record, std::uint8_t* out) {
  if (!record || !out) return kNullArgument;
  return tl::write_template(*record, template_out(out));
}

ZYL_API void comp_typeline(const std::int16_t* values, std::uint8_t* out) {
  if (!values || !out) return;
  zyl::ByteWriter w({out, 9});
  tl::pack_type_lines(std::span<const std::int16_t, 8>(values, 8), w);
}

ZYL_API int comp_block(const TypelineBlockGrid* grid, std::uint8_t* out) {
  if (!grid || !out) return 0;
  const auto size = static_cast<std::size_t>(2 + tl::stored_block_rows(*grid) * grid->columns / 2);
  zyl::ByteWriter w({out, size});
  return tl::pack_block_grid(*grid, w);
}

ZYL_API int comp_core(const TypelineSingularList* points, std::uint8_t* out) {
  if (!points || !out) return 0;
  zyl::ByteWriter w({out, 1 + 4 * TYPELINE_MAX_SINGULAR_POINTS});
  return tl::pack_singular_points(*points, w);
}

ZYL_API void mch_sub_func_02(const std::uint8_t* templ, TypelineRecord* record) {
  if (!record) return;
  if (!templ) {
    std::memset(record, 0, sizeof *record);
    return;
  }
  tl::read_template(template_bytes(templ), *record);
}

ZYL_API void decomp_typeline(const std::uint8_t* in, std::int16_t* values) {
  if (!in || !values) return;
  zyl::ByteReader r({in, 9});
  tl::unpack_type_lines(r, std::span<std::int16_t, 8>(values, 8));
}

ZYL_API void decomp_block(const std::uint8_t* in, TypelineBlockGrid* grid) {
  if (!grid) return;
  if (!in) {
    *grid = TypelineBlockGrid{};
    return;
  }
  // The body is as long as its first two bytes say; larger grids than the
  // record holds are not read at all.
  const int cells = in[0] * in[1];
  const auto size = static_cast<std::size_t>(2 + (cells <= TYPELINE_MAX_BLOCKS ? cells / 2 : 0));
  zyl::ByteReader r({in, size});
  tl::unpack_block_grid(r, *grid);
}

ZYL_API int decomp_core(const std::uint8_t* in, TypelineSingularList* points) {
  if (!in || !points) return 0;
  const int n = std::clamp<int>(static_cast<std::int8_t>(in[0]), 0, TYPELINE_MAX_SINGULAR_POINTS);
  zyl::ByteReader r({in, static_cast<std::size_t>(1 + 4 * n)});
  return tl::unpack_singular_points(r, *points, nullptr);
}

ZYL_API int mch_sub_func_04(const TypelineMinutiaList* minutiae) {
  return minutiae ? tl::mean_quality(*minutiae) : 0;
}

ZYL_API int mch_sub_func_03(const TypelineRecord* record) { return record && tl::is_usable(*record) ? 1 : 0; }

ZYL_API int mch_sub_func_01(const TypelineSingularList* points, TypelineSingularPoint* cores,
                            TypelineSingularPoint* deltas, int* deltaCount) {
  if (!points) {
    if (deltaCount) *deltaCount = 0;
    return 0;
  }
  const tl::SingularSplit split = tl::split_singular_points(*points, deltas != nullptr);
  if (cores) std::copy_n(split.cores.begin(), split.core_count, cores);
  if (deltas) std::copy_n(split.deltas.begin(), split.delta_count, deltas);
  if (deltaCount) *deltaCount = split.delta_count;
  return split.core_count;
}

ZYL_API void ExtractTerrakMinutias(const std::uint8_t* templ, void* out) {
  if (!templ || !out) return;
  const TypelineMinutiaList list = tl::template_minutiae(template_bytes(templ));
  std::memcpy(out, &list, sizeof list);
}

ZYL_API int GetTerrakTempNumMinutiaes(const std::uint8_t* templ, int* count) {
  if (!templ) return kNullArgument;
  const int n = tl::template_minutiae(template_bytes(templ)).count;
  if (count) *count = n;
  return n;
}

ZYL_API int MergeTerrakTemplate(const std::uint8_t* a, const std::uint8_t* b, int yShift, std::uint8_t* out) {
  if (!a || !b || !out) return kNullArgument;
  return tl::merge_templates(template_bytes(a), template_bytes(b), yShift, template_out(out));
}

}  // extern "C"

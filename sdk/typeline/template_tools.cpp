#include "typeline/template_tools.h"

#include <algorithm>
#include <memory>
#include <new>

namespace zyl::typeline {
namespace {

constexpr int kMaxCoordinate = 511;  // 9 bits in the template

// Shifts y and reports whether the point still fits the template's 9-bit
// co-ordinates; a point pushed outside would come back at a wrong place.
template <typename Point>
bool shift_into_range(Point& p, int y_shift) {
  const std::int64_t y = static_cast<std::int64_t>(p.y) + y_shift;
  if (y < 0 || y > kMaxCoordinate || p.x < 0 || p.x > kMaxCoordinate) return false;
  p.y = static_cast<std::int16_t>(y);
  return true;
}

// Appends b's points (shifted) behind a's first count_a points while fewer
// than limit are held; answers the new count.
template <typename Point>
int append_shifted(Point* a, int count_a, const Point* b, int count_b, int limit, int y_shift) {
  int n = count_a;
  for (int k = 0; k < count_b && n < limit; ++k) {
    Point p = b[k];
    if (shift_into_range(p, y_shift)) a[n++] = p;
  }
  return n;
}

}  // namespace

TypelineMinutiaList template_minutiae(std::span<const std::uint8_t> templ) {
  TypelineRecord record;  // about 1 KB: no allocation that could fail
  read_template(templ, record);
  return record.minutiae;
}

int merge_templates(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int y_shift,
                    std::span<std::uint8_t, kTemplateSize> out) {
  std::unique_ptr<TypelineRecord> ra(new (std::nothrow) TypelineRecord{});
  std::unique_ptr<TypelineRecord> rb(new (std::nothrow) TypelineRecord{});
  if (!ra || !rb) return kMergeNoMemory;
  read_template(a, *ra);
  read_template(b, *rb);

  // The reader keeps counts within the record's arrays.
  TypelineSingularList& sa = ra->singular;
  sa.count = static_cast<std::int8_t>(append_shifted(sa.points, sa.count, rb->singular.points, rb->singular.count,
                                                     TYPELINE_MAX_SINGULAR_POINTS, y_shift));

  ra->height = static_cast<std::int16_t>(ra->height + rb->height);
  ra->grid.columns = static_cast<std::uint8_t>(((ra->grid.columns + rb->grid.columns) % 256) >> 1);
  ra->grid.rows = static_cast<std::uint8_t>(ra->grid.rows + rb->grid.rows);
  // Keep the merged grid within the record's 625 cells: whole rows only.
  if (ra->grid.columns > 0 && ra->grid.columns * ra->grid.rows > TYPELINE_MAX_BLOCKS)
    ra->grid.rows = static_cast<std::uint8_t>(TYPELINE_MAX_BLOCKS / ra->grid.columns);

  TypelineMinutiaList& ma = ra->minutiae;
  ma.meanQuality = std::max(ma.meanQuality, rb->minutiae.meanQuality);
  ma.count = static_cast<std::int8_t>(append_shifted(ma.minutiae, ma.count, rb->minutiae.minutiae,
                                                     rb->minutiae.count, TYPELINE_MAX_MINUTIAE, y_shift));

  write_template(*ra, out);
  return kMerged;
}

}  // namespace zyl::typeline

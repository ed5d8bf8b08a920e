// Convex polygons of point sets and the point-in-polygon test with a margin.
#pragma once

#include <cstdint>
#include <span>

#include "zylscan/typeline_math.h"

namespace zyl::typeline {

// Gift-wrapping hull of the points (xs[i], ys[i]). Answers 1 when a closed
// hull of at least 3 vertices was found, else 0; fewer than 3 points leave
// the polygon untouched, a hull that does not close leaves count 0.
int convex_hull(std::span<const std::int32_t> xs, std::span<const std::int32_t> ys,
                PointPolygon& polygon);

// 1 when (x, y) lies inside the polygon widened by margin pixels (narrowed
// by a negative margin), else 0.
int in_polygon(int x, int y, const PointPolygon& polygon, int margin);

}  // namespace zyl::typeline

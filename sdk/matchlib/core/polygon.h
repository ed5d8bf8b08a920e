// The functions of polygon that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_polygon.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

Polygon* polygon_create(void);
void polygon_free(Polygon* p);
int polygon_append_points(Polygon* p, const PolyPoint* points, uint16_t n);
int polygon_append_point(Polygon* p, PolyPoint point);
void polygon_remove_point(Polygon* p, uint16_t index);
int64_t points_signed_area(const PolyPoint* pts, uint32_t n);
int64_t polygon_signed_area(const Polygon* p);
int64_t polygon_area(const Polygon* p);
int polygon_contains_point(PolyPoint pt, const PolyPoint* v, uint32_t n);
Polygon* polygon_convex_hull(const PolyPoint* points, uint32_t n);
void polygon_hull_init(Polygon* record, const PolyPoint* points, uint32_t n);
void polygon_hull_clear(Polygon* record);
int polygon_clip_edge(const Polygon* subject, PolyPoint e0, PolyPoint e1, int side, Polygon* out);
Polygon* polygon_intersect(const Polygon* a, const Polygon* b);

}  // namespace zyl::matchlib

/* Matcher library polygons on signed 16-bit points: convex hull, area,
 * point-in-polygon and clipping by a convex polygon. Orientation tests sum
 * three cross-product terms, each halved with truncation toward zero. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct PolyPoint {
  int16_t x;
  int16_t y;
} PolyPoint;

typedef struct PolySegment {
  int16_t x1, y1, x2, y2;
} PolySegment;

typedef struct PolyCircle {
  int16_t cx, cy;
  uint16_t r;
} PolyCircle;

typedef struct Polygon {
  PolyPoint* points;
  uint32_t count;
  uint32_t capacity;
  PolyPoint* heap; /* null while the points live in the inline storage */
} Polygon;

ZYL_API Polygon* polygon_create(void);
ZYL_API void polygon_free(Polygon* p);
/* 0, or -1 when memory runs out (the polygon unchanged). */
ZYL_API int polygon_append_points(Polygon* p, const PolyPoint* points, uint16_t n);
ZYL_API int polygon_append_point(Polygon* p, PolyPoint point);
ZYL_API void polygon_remove_point(Polygon* p, uint16_t index);
ZYL_API int64_t polygon_area(const Polygon* p);
ZYL_API int64_t polygon_signed_area(const Polygon* p);
ZYL_API int64_t points_signed_area(const PolyPoint* points, uint32_t n);
/* Mean x in the low 16 bits, mean y in the high 16 bits. */
ZYL_API uint32_t polygon_centroid(const Polygon* p);
ZYL_API int polygon_contains_point(PolyPoint point, const PolyPoint* points, uint32_t n);
ZYL_API int polygon_object_contains_point(PolyPoint point, const Polygon* p);
ZYL_API int point_in_circle(PolyPoint point, PolyCircle circle);
ZYL_API int64_t point_cross_half(PolyPoint a, PolyPoint b, int* out_negative);
ZYL_API int segments_cross(PolySegment s, PolySegment t);
ZYL_API Polygon* polygon_convex_hull(const PolyPoint* points, uint32_t n);
/* Fills a caller's record with the hull in a heap buffer of n points (count
 * 0 when n < 2 or the buffer cannot be had); free the buffer with
 * polygon_hull_clear. */
ZYL_API void polygon_hull_init(Polygon* record, const PolyPoint* points, uint32_t n);
ZYL_API void polygon_hull_clear(Polygon* record);
/* Keeps the subject's part on `side` of the directed edge; 0 or -1. */
ZYL_API int polygon_clip_edge(const Polygon* subject, PolyPoint edge_start, PolyPoint edge_end,
                              int side, Polygon* out);
ZYL_API Polygon* polygon_intersect(const Polygon* a, const Polygon* b);

ZYL_EXTERN_C_END

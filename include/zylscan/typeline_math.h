/* Integer geometry of the type-line engine: its direction unit, direction
 * and square-root look-ups, fixed-point trigonometry and division tables,
 * and convex polygons of point sets.
 *
 * Direction: 0..239, one step 1.5 degrees, in image co-ordinates (x to the
 * right, y downward): 0 points toward +x, 60 toward +y, 120 toward -x, 180
 * toward -y. A step of length k along d moves by
 * ((_table_03[d] * k) >> 14, (_table_04[d] * k) >> 14). Orientation (no
 * sense of travel): 0..119 in the same unit. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

#define TYPELINE_POLYGON_MAX_VERTICES 50

/* A convex polygon, vertices in hull order. */
typedef struct PointPolygon {
  int16_t count; /* 0..50 */
  int16_t x[TYPELINE_POLYGON_MAX_VERTICES];
  int16_t y[TYPELINE_POLYGON_MAX_VERTICES];
} PointPolygon;

/* The minutia part of a type-line record (zylscan/typeline_template.h). */
struct TypelineMinutiaList;

ZYL_EXTERN_C_BEGIN

/* round(atan2(dy, dx) * 120 / pi) at index dy * 50 + dx, dx, dy = 0..49;
 * entry 0 holds 60. */
ZYL_API extern const int16_t _table_01[2500];
/* Q14 cosine and sine: trunc(16384 * cos(i * 3.141592 / 120)) and the same
 * with sin. */
ZYL_API extern const int16_t _table_03[240];
ZYL_API extern const int16_t _table_04[240];
/* floor(5 * cos(i * 3.14159 / 120)) (0 at i = 60 and 180) and
 * floor(5 * sin(i * 3.14159 / 120)): one-pixel-ring neighbours at radius 5. */
ZYL_API extern const int16_t _5cos_table[240];
ZYL_API extern const int16_t _5sin_table[240];
/* i / 6 for i = 0..1530 and i / 9 for i = 0..2295; the entries behind are 0. */
ZYL_API extern const uint8_t div6_table[1536];
ZYL_API extern const uint8_t div9_table[2304];
/* Division by n = 1..511 as (x * divX_table1[n]) >> divX_table2[n];
 * entry 0 is (0, 0). */
ZYL_API extern const int16_t divX_table1[512];
ZYL_API extern const int16_t divX_table2[512];

/* Direction 0..239 of the vector from (x1, y1) to (x0, y0), i.e. where the
 * first point lies as seen from the second; 180 for two equal points. */
ZYL_API int op_func_01(int x0, int y0, int x1, int y1);
/* floor(sqrt(a) + 0.5); 0 for a <= 0, 512 for a > 262143. */
ZYL_API int op_func_02(int a);

/* Convex hull of the minutiae positions of a record's minutia part. Answers
 * 1 when a closed hull of at least 3 vertices was found, else 0 (the
 * vertex count is then 0, or the polygon untouched for fewer than 3
 * points). */
ZYL_API int get_polygon_points(const struct TypelineMinutiaList* list, PointPolygon* polygon);
/* Convex hull of n points; same answers. */
ZYL_API int get_polygon_points_sub(const int32_t* xs, const int32_t* ys, int n, PointPolygon* polygon);
/* 1 when (x, y) lies inside the convex polygon widened by margin pixels
 * (narrowed for a negative margin; the boundary counts as inside for a
 * margin of 0 or more), else 0. A polygon of fewer than 3 vertices
 * answers 0. */
ZYL_API int check_in_polygon(int x, int y, const PointPolygon* polygon, int margin);

ZYL_EXTERN_C_END

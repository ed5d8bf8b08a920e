// Internal faces of the keypoint detection steps shared by the detectors,
// the extraction driver and the keypoint stage.
#pragma once

#include <cstdint>

#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_context.h"

namespace zyl::matchlib {

int border_radius(const MatchContext* ctx);
int classify_point(const std::uint8_t* pixels, int height, int width, int x, int y,
                   int resolution);
// Sets *points / *count (null / 0 when nothing is found); the map is
// thinned in place.
int collect_points(const MatchContext* ctx, const std::uint8_t* pixels, std::uint8_t* map,
                   int height, int width, int border, int skip, KeyPoint** points, int* count);
int orient_points(const MatchContext* ctx, const std::uint8_t* pixels, int height, int width,
                  KeyPoint* points, int count);
// Angle from gradient maps over the disc of `radius`, samples outside the
// maps left out.
int orientation_disc(const std::int8_t* gx, const std::int8_t* gy, int height, int width, int y,
                     int x, int radius);

// Runs extraction driver record 1..8.
int run_driver(const MatchContext* ctx, const std::uint8_t* pixels, int height, int width,
               int record, KeyPoint** points, int* count);

// The ring corner score map (border widened to the widest ring used).
int ring_corner_map(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
                    std::uint8_t* map);

// Sampling patterns (dy, dx) of the detectors.
struct RingPattern {
  int n;
  const int* dy;
  const int* dx;
};
extern const RingPattern kPattern28;  // radius-3 circle, then the 5 x 5 ring
extern const RingPattern kRing1;      // radius 3, clockwise from the top
extern const RingPattern kRing2;      // border of the 5 x 5 square
extern const RingPattern kRing3;      // radius 4

}  // namespace zyl::matchlib

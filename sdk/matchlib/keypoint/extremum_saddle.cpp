// The 28-sample extremum test and the saddle ring score, their score maps
// and the detectors built on them.
#include <algorithm>
#include <cstdint>

#include "common/guarded_call.h"
#include "matchlib/keypoint/keypoint_detect.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/core/param_store.h"
#include "matchlib/keypoint/extremum_saddle.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeyExtremumThreshold = 0x0461d4c7;
constexpr std::uint32_t kKeySaddleThreshold = 0xe74ab946;
constexpr std::uint32_t kKeySaddleRings = 0xd99b3c17;
constexpr std::uint8_t kSaddleClass = 0x04;

constexpr int kDy28[28] = {-3, -1, 3, 1,  -3, 1, 3,  -1, -3, 0, 3, 0,  -2, 2,
                           2,  -2, -2, -2, -2, -1, 0, 1, 2, 2, 2, 1, 0, -1};
constexpr int kDx28[28] = {-1, 3,  1,  -3, 1, 3,  -1, -3, 0,  3,  0,  -3, 2,  2,
                           -2, -2, -1, 0,  1, 2,  2,  2,  1,  0,  -1, -2, -2, -2};
constexpr int kDyR1[16] = {-3, -3, -3, -2, -1, 0, 1, 2, 3, 3, 3, 2, 1, 0, -1, -2};
constexpr int kDxR1[16] = {-1, 0, 1, 2, 3, 3, 3, 2, 1, 0, -1, -2, -3, -3, -3, -2};
constexpr int kDyR2[16] = {-2, -2, -2, -2, -1, 0, 1, 2, 2, 2, 2, 2, 1, 0, -1, -2};
constexpr int kDxR2[16] = {-1, 0, 1, 2, 2, 2, 2, 2, 1, 0, -1, -2, -2, -2, -2, -2};
constexpr int kDyR3[16] = {-4, -4, -3, -2, -1, 1, 2, 3, 4, 4, 3, 2, 1, -1, -2, -3};
constexpr int kDxR3[16] = {-1, 1, 2, 3, 4, 4, 3, 2, 1, -1, -2, -3, -4, -4, -3, -2};

}  // namespace

const RingPattern kPattern28{28, kDy28, kDx28};
const RingPattern kRing1{16, kDyR1, kDxR1};
const RingPattern kRing2{16, kDyR2, kDxR2};
const RingPattern kRing3{16, kDyR3, kDxR3};

namespace {

template <int N>
void offsets_of(const RingPattern& p, int stride, int (&out)[N]) {
  for (int i = 0; i < N; ++i) out[i] = p.dy[i] * stride + p.dx[i];
}

int extremum28(const std::uint8_t* px, const int* off, int index, int t) {
  const int c = px[index];
  const int half = t / 2;
  int sum = 0;
  auto sample = [&](int k) { return static_cast<int>(px[index + off[k]]); };
  if (sample(0) > c + t) {
    for (int k = 0; k < 28; ++k) {
      const int s = sample(k);
      if (s <= c + (k < 16 ? t : half)) return 0;
      sum += s;
    }
    const int diff = sum - 28 * c;
    return (static_cast<std::uint16_t>(diff) >> 2) / 7;
  }
  for (int k = 0; k < 28; ++k) {
    const int s = sample(k);
    if (s >= c - (k < 16 ? t : half)) return 0;
    sum += s;
  }
  const int diff = 28 * c - sum;
  return (static_cast<std::uint16_t>(diff) >> 2) / 7;
}

int saddle_ring(const std::uint8_t* px, const int* ring, int index, int t) {
  const int c = px[index], lo = c - t, hi = c + t;
  int best = 0;
  for (int k = 0; k < 4; ++k) {
    const int a = px[index + ring[k]], b = px[index + ring[k + 8]];
    const int p = px[index + ring[k + 4]], q = px[index + ring[k + 12]];
    if (a < lo && b < lo && p > hi && q > hi) best = std::max(best, p + q - a - b);
    else if (a > hi && b > hi && p < lo && q < lo) best = std::max(best, a + b - p - q);
  }
  return best >> 1;
}

int saddle_rings(const std::uint8_t* px, const int* r1, const int* r2, const int* r3, int index,
                 int t, int rings) {
  const int s1 = saddle_ring(px, r1, index, t);
  if (rings <= 1 || s1 == 0) return s1;
  const int s2 = saddle_ring(px, r2, index, t);
  if (rings == 2) return (s1 + s2) / 2;
  return (s1 + s2 + saddle_ring(px, r3, index, t)) / 3;
}

int set_saddle_class(int status, KeyPoint* points, int count) {
  for (int i = 0; i < count; ++i) points[i].cls |= kSaddleClass;
  return status;
}

}  // namespace

int extremum_map(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
                 std::uint8_t* map) {
  const int t = zyl::matchlib::param_get(ctx, kKeyExtremumThreshold, 0);
  if (height <= 6 || width <= 6) return ML_OK;
  int off[28];
  offsets_of(kPattern28, width, off);
  for (int y = 3; y <= height - 4; ++y)
    for (int x = 3; x <= width - 4; ++x) {
      const int i = y * width + x;
      map[i] = static_cast<std::uint8_t>(extremum28(px, off, i, t));
    }
  return ML_OK;
}

int saddle_map(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
               std::uint8_t* map) {
  const int t = zyl::matchlib::param_get(ctx, kKeySaddleThreshold, 4);
  const int rings = std::clamp(zyl::matchlib::param_get(ctx, kKeySaddleRings, 1), 1, 3);
  const int b = rings >= 3 ? 4 : 3;
  int r1[16], r2[16], r3[16];
  offsets_of(kRing1, width, r1);
  offsets_of(kRing2, width, r2);
  offsets_of(kRing3, width, r3);
  for (int y = b; y <= height - b - 1; ++y)
    for (int x = b; x <= width - b - 1; ++x) {
      const int i = y * width + x;
      map[i] = static_cast<std::uint8_t>(saddle_rings(px, r1, r2, r3, i, t, rings));
    }
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API void ring_offsets_build(int stride, int* out, const int* dy, const int* dx,
                                           int n) {
  if (!out || !dy || !dx) return;
  for (int i = 0; i < n; ++i) out[i] = dy[i] * stride + dx[i];
}

int zyl::matchlib::extremum_test28(const uint8_t* pixels, const int* offsets, int index,
                                   int threshold) {
  if (!pixels || !offsets) return 0;
  return extremum28(pixels, offsets, index, threshold);
}

extern "C" ZYL_API int extremum_score_map(const MatchContext* ctx, const uint8_t* pixels,
                                          int height, int width, uint8_t* map) {
  if (!pixels || !map) return ML_BAD_ARGUMENT;
  return extremum_map(ctx, pixels, height, width, map);
}

extern "C" ZYL_API int saddle_ring_score(const uint8_t* pixels, const int* ring, int index,
                                         int threshold) {
  if (!pixels || !ring) return 0;
  return saddle_ring(pixels, ring, index, threshold);
}

extern "C" ZYL_API int saddle_score_rings(const uint8_t* pixels, const int* ring1, const int* ring2,
                                          const int* ring3, int index, int threshold, int rings) {
  if (!pixels || !ring1 || (rings >= 2 && !ring2) || (rings >= 3 && !ring3)) return 0;
  return saddle_rings(pixels, ring1, ring2, ring3, index, threshold, rings);
}

extern "C" ZYL_API int saddle_score_map(const MatchContext* ctx, const uint8_t* pixels, int height,
                                        int width, uint8_t* map) {
  if (!pixels || !map) return ML_BAD_ARGUMENT;
  return saddle_map(ctx, pixels, height, width, map);
}

extern "C" ZYL_API int detect_extremum(const MatchContext* ctx, const uint8_t* pixels, int height,
                                       int width, KeyPoint** points, int* count) {
  return run_driver(ctx, pixels, height, width, 7, points, count);
}

extern "C" ZYL_API int detect_extremum_scaled(const MatchContext* ctx, const uint8_t* pixels,
                                              int height, int width, KeyPoint** points,
                                              int* count) {
  return run_driver(ctx, pixels, height, width, 8, points, count);
}

extern "C" ZYL_API int detect_saddle(const MatchContext* ctx, const uint8_t* pixels, int height,
                                     int width, KeyPoint** points, int* count) {
  const int st = run_driver(ctx, pixels, height, width, 5, points, count);
  return points && *points && count ? set_saddle_class(st, *points, *count) : st;
}

extern "C" ZYL_API int detect_saddle_scaled(const MatchContext* ctx, const uint8_t* pixels,
                                            int height, int width, KeyPoint** points, int* count) {
  const int st = run_driver(ctx, pixels, height, width, 6, points, count);
  return points && *points && count ? set_saddle_class(st, *points, *count) : st;
}

extern "C" {

ZYL_API int extremum_test28(const uint8_t* pixels, const int* offsets, int index, int threshold) {
  return zyl::matchlib::extremum_test28(pixels, offsets, index, threshold);
}

}  // extern "C"

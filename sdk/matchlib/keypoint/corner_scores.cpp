// Corner score maps: the 12-of-16 segment test on the radius-3 ring and its
// extension over two more rings, their combination with the 28-sample
// extremum test, a local-spread score, and the detectors built on them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "common/guarded_call.h"
#include "matchlib/keypoint/keypoint_detect.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/core/param_store.h"
#include "matchlib/keypoint/corner_scores.h"
#include "matchlib/keypoint/extremum_saddle.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeyThreshold = 0xdd9f4ee9;
constexpr std::uint32_t kKeyRings = 0x222432cd;
constexpr std::uint32_t kKeyExtremumThreshold = 0x0461d4c7;
constexpr std::uint32_t kKeySparseLimit = 0x60bb2094;

constexpr int kDyNear[8] = {-2, -1, 0, 1, 2, 1, 0, -1};
constexpr int kDxNear[8] = {0, 1, 2, 1, 0, -1, -2, -1};
constexpr int kDyRing20[20] = {-4, -4, -4, -3, -2, -1, 0, 1, 2, 3, 4, 4, 4, 3, 2, 1, 0, -1, -2, -3};
constexpr int kDxRing20[20] = {-1, 0, 1, 2, 3, 4, 4, 4, 3, 2, 1, 0, -1, -2, -3, -4, -4, -4, -3, -2};

int segment12(const std::uint8_t* px, const int* r1, int index, int t, std::uint8_t* arc) {
  const int c = px[index];
  int s[16];
  for (int k = 0; k < 16; ++k) s[k] = px[index + r1[k]];
  int best = 0, best_start = -1;
  // A run of 12 neighbouring samples covers at least three of the four
  // compass samples, so two misses there rule the side out.
  auto side = [&](auto&& passes, auto&& value) {
    int compass = 0;
    for (int k = 0; k < 16; k += 4) compass += passes(s[k]);
    if (compass < 3) return;
    for (int start = 0; start < 16; ++start) {
      int sum = 0;
      bool ok = true;
      for (int j = 0; j < 12 && ok; ++j) {
        const int v = s[(start + j) & 15];
        ok = passes(v);
        sum += v;
      }
      if (!ok) continue;
      const int val = value(sum);
      if (val > best || best_start < 0) best = val, best_start = start;
    }
  };
  if (c + t <= 254) side([&](int v) { return v > c + t; }, [&](int sum) { return sum - 12 * c; });
  if (best_start < 0 && c - t > 0)
    side([&](int v) { return v < c - t; }, [&](int sum) { return 12 * c - sum; });
  if (arc) *arc = static_cast<std::uint8_t>(best_start < 0 ? 0 : best_start);
  return best_start < 0 ? 0 : best / 12;
}

// Walk of 12 samples of an outer ring from the winning arc's start: every
// sample on one side of the centre; the larger of the two sums, or -1.
int ring_walk(const std::uint8_t* px, const int* ring, int index, int t, int start) {
  const int c = px[index];
  int bright = 0, dark = 0, side = 0;
  for (int j = 0; j < 12; ++j) {
    const int v = px[index + ring[(start + j) & 15]];
    const int here = v > c + t ? 1 : v < c - t ? -1 : 0;
    if (here == 0 || (side && here != side)) return -1;
    side = here;
    (here > 0 ? bright : dark) += here > 0 ? v - c : c - v;
  }
  return std::max(bright, dark);
}

int ring_corner(const std::uint8_t* px, const int* r1, const int* r2, const int* r3, int index,
                int t, int rings) {
  std::uint8_t u = 0;
  int s = segment12(px, r1, index, t, &u);
  if (rings < 2 || s == 0) return s;
  if (const int w = ring_walk(px, r2, index, t, u); w >= 0) s += w / 12;
  if (rings == 2) return s / 2;
  if (const int w = ring_walk(px, r3, index, t, u); w >= 0) s += w / 12;
  return s / 3;
}

struct Rings {
  int r1[16], r2[16], r3[16], p28[28];
  explicit Rings(int stride) {
    for (int k = 0; k < 16; ++k) {
      r1[k] = kRing1.dy[k] * stride + kRing1.dx[k];
      r2[k] = kRing2.dy[k] * stride + kRing2.dx[k];
      r3[k] = kRing3.dy[k] * stride + kRing3.dx[k];
    }
    for (int k = 0; k < 28; ++k) p28[k] = kPattern28.dy[k] * stride + kPattern28.dx[k];
  }
};

// The ring count setting, and the border its widest ring needs: ring 3 has
// radius 4, so a smaller border setting is widened rather than read past
// the image.
int ring_count(const MatchContext* ctx) { return zyl::matchlib::param_get(ctx, kKeyRings, 1); }
int corner_border(const MatchContext* ctx, int rings) {
  return std::max({3, border_radius(ctx), rings >= 3 ? 4 : 3});
}

int dense_score(const std::uint8_t* px, const Rings& r, int i, int t, int rings, int te) {
  const int h = zyl::matchlib::extremum_test28(px, r.p28, i, te);
  if (h >= 32) return h;
  return std::max(h, ring_corner(px, r.r1, r.r2, r.r3, i, t, rings) / 8);
}

}  // namespace

int ring_corner_map(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
                    std::uint8_t* map) {
  const int t = zyl::matchlib::param_get(ctx, kKeyThreshold, 2);
  const int rings = ring_count(ctx);
  const int b = corner_border(ctx, rings);
  const Rings r(width);
  for (int y = b; y <= height - b - 1; ++y)
    for (int x = b; x <= width - b - 1; ++x) {
      const int i = y * width + x;
      map[i] = static_cast<std::uint8_t>(ring_corner(px, r.r1, r.r2, r.r3, i, t, rings));
    }
  return ML_OK;
}

namespace {

int dense_map(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
              std::uint8_t* map) {
  const int t = zyl::matchlib::param_get(ctx, kKeyThreshold, 2);
  const int te = zyl::matchlib::param_get(ctx, kKeyExtremumThreshold, 0);
  const int rings = ring_count(ctx);
  const int b = corner_border(ctx, rings);
  const Rings r(width);
  for (int y = b; y <= height - b - 1; ++y)
    for (int x = b; x <= width - b - 1; ++x) {
      const int i = y * width + x;
      map[i] = static_cast<std::uint8_t>(dense_score(px, r, i, t, rings, te));
    }
  return ML_OK;
}

int sparse_map(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
               std::uint8_t* map) {
  std::fill_n(map, static_cast<std::size_t>(height) * width, 0);
  const int t = zyl::matchlib::param_get(ctx, kKeyThreshold, 2);
  const int te = zyl::matchlib::param_get(ctx, kKeyExtremumThreshold, 0);
  const int limit = zyl::matchlib::param_get(ctx, kKeySparseLimit, 4);
  const int rings = ring_count(ctx);
  // One wider than the dense border, so that the neighbours evaluated
  // around a strong response still have their rings inside the image.
  const int b = corner_border(ctx, rings) + 1;
  const Rings r(width);
  for (int y = b; y <= height - b - 1; ++y)
    for (int x = b + (y & 1); x <= width - b - 1; x += 2) {
      const int i = y * width + x;
      const int v = dense_score(px, r, i, t, rings, te);
      map[i] = static_cast<std::uint8_t>(v);
      if (v < limit) continue;
      for (int n : {i - width, i + width, i - 1, i + 1})
        map[n] = static_cast<std::uint8_t>(dense_score(px, r, n, t, rings, te));
    }
  return ML_OK;
}

int variance_map(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
                 std::uint8_t* map) {
  const int t = zyl::matchlib::param_get(ctx, kKeyThreshold, 2);
  // The 20-sample ring has radius 4.
  const int b = std::max(4, border_radius(ctx));
  if (height - 2 * b <= 0 || width - 2 * b <= 0) return ML_OK;
  int near[8], ring[20];
  for (int k = 0; k < 8; ++k) near[k] = kDyNear[k] * width + kDxNear[k];
  for (int k = 0; k < 20; ++k) ring[k] = kDyRing20[k] * width + kDxRing20[k];
  for (int y = b; y <= height - b - 1; ++y)
    for (int x = b; x <= width - b - 1; ++x) {
      const int i = y * width + x;
      if (map[i]) continue;
      const int c = px[i];
      int sn = 0, sr = 0;
      for (int o : near) sn += px[i + o];
      for (int o : ring) sr += px[i + o];
      const int mn = sn >> 3, mr = sr / 20;
      long dn = 0, dr = 0;
      for (int o : near) dn += (px[i + o] - mn) * (px[i + o] - mn);
      for (int o : ring) dr += (px[i + o] - mr) * (px[i + o] - mr);
      dn /= 8;
      dr /= 20;
      if (std::max(dn, dr) < t) {
        // A flat pixel marks the rest of its diamond with the weakest
        // score in the map itself: those pixels are not evaluated later,
        // and the collection sees them as responses of 1.
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx)
            if ((dy || dx) && std::abs(dy) + std::abs(dx) <= 2) map[i + dy * width + dx] = 1;
        continue;
      }
      auto longest = [&](const int* off, int n, long limit) {
        int run = 0, best = 0;
        for (int k = 0; k < n; ++k) {
          const long d = px[i + off[k]] - c;
          run = d * d <= limit ? run + 1 : 0;
          best = std::max(best, run);
        }
        return best;
      };
      if (longest(ring, 20, dr) > 9 || longest(near, 8, dn) > 4) continue;
      int sum = 0;
      for (int o : near) sum += std::abs(px[i + o] - c);
      for (int o : ring) sum += std::abs(px[i + o] - c);
      map[i] = static_cast<std::uint8_t>(sum / 28);
    }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int segment_test12(const uint8_t* pixels, const int* ring1, int index,
                                      int threshold, uint8_t* arc) {
  if (!pixels || !ring1) return 0;
  return segment12(pixels, ring1, index, threshold, arc);
}

extern "C" ZYL_API int ring_corner_score(const uint8_t* pixels, const int* ring1, const int* ring2,
                                         const int* ring3, int index, int threshold, int rings) {
  if (!pixels || !ring1 || (rings >= 2 && !ring2) || (rings >= 3 && !ring3)) return 0;
  return ring_corner(pixels, ring1, ring2, ring3, index, threshold, rings);
}

extern "C" ZYL_API int ring_corner_score_map(const MatchContext* ctx, const uint8_t* pixels,
                                             int height, int width, uint8_t* map) {
  if (!pixels || !map) return ML_BAD_ARGUMENT;
  return ring_corner_map(ctx, pixels, height, width, map);
}

extern "C" ZYL_API int corner_score_map_dense(const MatchContext* ctx, const uint8_t* pixels,
                                              int height, int width, uint8_t* map) {
  if (!pixels || !map) return ML_BAD_ARGUMENT;
  return dense_map(ctx, pixels, height, width, map);
}

extern "C" ZYL_API int corner_score_map_sparse(const MatchContext* ctx, const uint8_t* pixels,
                                               int height, int width, uint8_t* map) {
  if (!pixels || !map || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  return sparse_map(ctx, pixels, height, width, map);
}

extern "C" ZYL_API int variance_score_map(const MatchContext* ctx, const uint8_t* pixels,
                                          int height, int width, uint8_t* map) {
  if (!pixels || !map) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return variance_map(ctx, pixels, height, width, map); });
}

int zyl::matchlib::detect_corners_sparse(const MatchContext* ctx, const uint8_t* pixels, int height,
                                         int width, KeyPoint** points, int* count) {
  return run_driver(ctx, pixels, height, width, 1, points, count);
}

extern "C" ZYL_API int detect_corners_dense_scaled(const MatchContext* ctx, const uint8_t* pixels,
                                                   int height, int width, KeyPoint** points,
                                                   int* count) {
  return run_driver(ctx, pixels, height, width, 2, points, count);
}

extern "C" ZYL_API int detect_variance_scaled(const MatchContext* ctx, const uint8_t* pixels,
                                              int height, int width, KeyPoint** points,
                                              int* count) {
  return run_driver(ctx, pixels, height, width, 3, points, count);
}

extern "C" ZYL_API int detect_rings_scaled(const MatchContext* ctx, const uint8_t* pixels,
                                           int height, int width, KeyPoint** points, int* count) {
  return run_driver(ctx, pixels, height, width, 4, points, count);
}

extern "C" {

ZYL_API int detect_corners_sparse(const MatchContext* ctx, const uint8_t* pixels, int height,
                                  int width, KeyPoint** points, int* count) {
  return zyl::matchlib::detect_corners_sparse(ctx, pixels, height, width, points, count);
}

}  // extern "C"

// Looks into the keypoint comparison of two prints as the light engines see
// them (a developer's tool):
//
//   keypoint_pair_view 3|4 A.pgm B.pgm [C.pgm D.pgm ...]
//
// For each pair of 500 dpi prints it extracts both with the engine of
// algorithm mode 3 (preset_create_light, raw pixels) or 4
// (preset_create_light_verify, image objects) and prints:
// - the engine's score (engine_verify_score, A enrolled, B the probe);
// - the largest consensus that any two of A's descriptor nearest
//   neighbours (over all of B's points, all descriptor types summed) give a
//   rigid alignment: the count of nearest-neighbour pairs it maps within 4
//   pixels, found by trying every two pairs (what the matcher's random
//   search can at best find among the same candidates);
// - under that alignment, for A's points with a point of B within 1.5
//   pixels: how many keep their direction (within 16 of 256 steps), how
//   many have it turned by half a turn, the mean error of the direction
//   axis, and the mean descriptor distance of both groups beside that of
//   random pairs.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_verify.h"

namespace {

DataBlob* extract(MatchEngine* engine, int mode, const std::string& path) {
  const zyltest::GreyImage g = zyltest::read_pgm(path);
  DataBlob* out = nullptr;
  FingerInfo* info = finger_info_default();
  int st;
  if (mode == 3) {
    st = engine_extract_pixels(engine, g.pixels.data(), g.height, g.width, 500, info, &out);
  } else {
    GrayImage* img = image_create(g.height, g.width, 500, 500, g.pixels.data(), 0);
    st = engine_extract_image(engine, img, info, &out);
    image_release(img);
  }
  finger_info_release(info);
  if (st) std::fprintf(stderr, "%s: extraction status %d\n", path.c_str(), st);
  return st ? nullptr : out;
}

BlockRecord* record_of(const DataBlob* blob) {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  BlockRecord* r = nullptr;
  if (tmpl_get_section(blob, 79, &data, &length) || blockrec_parse(data, length, 0, 0, &r)) return nullptr;
  return r;
}

// Descriptor distance of point i of A and point j of B over every type.
int distance(const BlockRecord* a, int i, const BlockRecord* b, int j) {
  int d = 0;
  for (int e = 0; e < a->extension_type_count && e < b->extension_type_count; ++e) {
    const int size = static_cast<int>(a->extension_types[e]->size());
    const uint8_t* p = a->extension_arrays[e] + static_cast<std::size_t>(i) * size;
    const uint8_t* q = b->extension_arrays[e] + static_cast<std::size_t>(j) * size;
    for (int k = 0; k < size; ++k) d += __builtin_popcount(static_cast<unsigned>(p[k] ^ q[k]));
  }
  return d;
}

struct Rigid {
  double c = 1, s = 0, tx = 0, ty = 0;
  void map(double x, double y, double& u, double& v) const {
    u = c * x - s * y + tx;
    v = s * x + c * y + ty;
  }
};

void view_pair(const BlockRecord* a, const BlockRecord* b) {
  const int n = a->point_count;
  std::vector<int> nn(n, -1);
  for (int i = 0; i < n; ++i) {
    int best = 1 << 30;
    for (int j = 0; j < b->point_count; ++j)
      if (const int d = distance(a, i, b, j); d < best) best = d, nn[i] = j;
  }
  int consensus = 0;
  Rigid best;
  for (int p = 0; p < n; ++p)
    for (int q = p + 1; q < n; ++q) {
      if (nn[p] < 0 || nn[q] < 0) continue;
      const KeyPoint &a1 = a->points[p], &a2 = a->points[q], &b1 = b->points[nn[p]], &b2 = b->points[nn[q]];
      const double la = std::hypot(a2.x - a1.x, a2.y - a1.y), lb = std::hypot(b2.x - b1.x, b2.y - b1.y);
      if (la < 8 || std::fabs(la - lb) > 2) continue;
      const double turn = std::atan2(b2.y - b1.y, b2.x - b1.x) - std::atan2(a2.y - a1.y, a2.x - a1.x);
      Rigid r{std::cos(turn), std::sin(turn), 0, 0};
      double u = 0, v = 0;
      r.map((a1.x + a2.x) / 2.0, (a1.y + a2.y) / 2.0, u, v);
      r.tx = (b1.x + b2.x) / 2.0 - u;
      r.ty = (b1.y + b2.y) / 2.0 - v;
      int count = 0;
      for (int i = 0; i < n; ++i) {
        if (nn[i] < 0) continue;
        r.map(a->points[i].x, a->points[i].y, u, v);
        const KeyPoint& m = b->points[nn[i]];
        count += (u - m.x) * (u - m.x) + (v - m.y) * (v - m.y) <= 16;
      }
      if (count > consensus) consensus = count, best = r;
    }
  const int turn = static_cast<int>(std::lround(std::atan2(best.s, best.c) * 128 / M_PI));
  int kept = 0, flipped = 0, other = 0;
  double axis = 0, d_kept = 0, d_flipped = 0, d_random = 0;
  std::uint32_t rng = 1;
  for (int i = 0; i < n; ++i) {
    double u = 0, v = 0;
    best.map(a->points[i].x, a->points[i].y, u, v);
    int j = -1;
    double nearest = 2.25;
    for (int k = 0; k < b->point_count; ++k) {
      const double d = (u - b->points[k].x) * (u - b->points[k].x) + (v - b->points[k].y) * (v - b->points[k].y);
      if (d <= nearest) nearest = d, j = k;
    }
    if (j < 0) continue;
    const int diff = static_cast<std::int8_t>(static_cast<std::uint8_t>(b->points[j].angle - a->points[i].angle - turn));
    const int ax = ((diff % 128) + 128) % 128;
    axis += std::min(ax, 128 - ax);
    const int d = distance(a, i, b, j);
    if (std::abs(diff) < 16) ++kept, d_kept += d;
    else if (std::abs(diff) > 112) ++flipped, d_flipped += d;
    else ++other;
    rng = rng * 1664525u + 1013904223u;
    d_random += distance(a, i, b, static_cast<int>((rng >> 16) % static_cast<std::uint32_t>(b->point_count)));
  }
  const int close = kept + flipped + other;
  std::printf("  points %d / %d; best two-pair consensus %d (turn %.1f degrees, shift %.1f, %.1f)\n", n,
              b->point_count, consensus, std::atan2(best.s, best.c) * 180 / M_PI, best.tx, best.ty);
  std::printf("  within 1.5 px: %d; direction kept %d, turned half a turn %d, other %d; mean axis error %.1f / 256\n",
              close, kept, flipped, other, close ? axis / close : 0.0);
  std::printf("  mean descriptor distance: kept %.1f, turned %.1f, random pairs %.1f\n", kept ? d_kept / kept : 0.0,
              flipped ? d_flipped / flipped : 0.0, close ? d_random / close : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const int mode = argc > 1 ? std::atoi(argv[1]) : 0;
  if ((mode != 3 && mode != 4) || argc < 4 || argc % 2) {
    std::fprintf(stderr, "usage: keypoint_pair_view 3|4 A.pgm B.pgm [C.pgm D.pgm ...]\n");
    return 2;
  }
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = mode == 3 ? preset_create_light(ctx) : preset_create_light_verify(ctx);
  int status = 0;
  for (int k = 2; k + 1 < argc; k += 2) {
    DataBlob* a = extract(engine, mode, argv[k]);
    DataBlob* b = extract(engine, mode, argv[k + 1]);
    BlockRecord* ra = a ? record_of(a) : nullptr;
    BlockRecord* rb = b ? record_of(b) : nullptr;
    if (ra && rb && rb->point_count > 0) {
      uint16_t score = 0;
      const int st = engine_verify_score(engine, &a, 1, b, &score);
      std::printf("%s ~ %s: engine score %d (status %d)\n", argv[k], argv[k + 1], score, st);
      view_pair(ra, rb);
    } else {
      std::printf("%s ~ %s: no points to compare\n", argv[k], argv[k + 1]);
      status = 1;
    }
    blockrec_free(ra);
    blockrec_free(rb);
    blob_release(a);
    blob_release(b);
  }
  engine_release(engine);
  ctx_release(ctx);
  return status;
}

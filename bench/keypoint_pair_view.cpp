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
//   axis, how many have a point of B within 3 pixels and how many find it
//   as their descriptor nearest neighbour, and the mean descriptor distance
//   of both groups beside that of random pairs;
// - the same under the alignment that best correlates the two prints'
//   pixels (found by search, independent of the points), with that
//   correlation.
// KPV_PARAMS="key=value,..." (hexadecimal keys) sets context parameters
// before the preset; KPV_DUMP=prefix writes the points of A and B to
// prefix_a.txt and prefix_b.txt.
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
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_verify.h"

namespace {

DataBlob* extract(MatchEngine* engine, int mode, const std::string& path) {
  const zyl::test::GreyImage g = zyl::test::read_pgm(path);
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

// The rigid alignment of two 500 dpi prints that best correlates their
// globally normalised pixels over the middle of A (turns of up to 15
// degrees about the middle, shifts of up to 32 pixels), as a map from A's
// pixels to B's.
Rigid image_alignment(const zyl::test::GreyImage& a, const zyl::test::GreyImage& b, double& corr) {
  auto normalised = [](const zyl::test::GreyImage& g) {
    double m = 0, v = 0;
    for (auto p : g.pixels) m += p;
    m /= g.pixels.size();
    for (auto p : g.pixels) v += (p - m) * (p - m);
    v = std::sqrt(v / g.pixels.size()) + 1e-9;
    std::vector<double> o(g.pixels.size());
    for (std::size_t i = 0; i < o.size(); ++i) o[i] = (g.pixels[i] - m) / v;
    return o;
  };
  const std::vector<double> na = normalised(a), nb = normalised(b);
  const double cx = a.width / 2.0, cy = a.height / 2.0;
  auto score = [&](double deg, double tx, double ty) {
    const double c = std::cos(deg * M_PI / 180), s = std::sin(deg * M_PI / 180);
    double sum = 0;
    int n = 0;
    for (int y = a.height / 5; y < a.height * 4 / 5; ++y)
      for (int x = a.width / 5; x < a.width * 4 / 5; ++x) {
        const double u = c * (x - cx) - s * (y - cy) + cx + tx, v = s * (x - cx) + c * (y - cy) + cy + ty;
        const int iu = static_cast<int>(std::floor(u)), iv = static_cast<int>(std::floor(v));
        if (iu < 0 || iv < 0 || iu + 1 >= b.width || iv + 1 >= b.height) continue;
        const double fu = u - iu, fv = v - iv;
        const double* r0 = &nb[static_cast<std::size_t>(iv) * b.width + iu];
        const double* r1 = r0 + b.width;
        const double p = (1 - fv) * ((1 - fu) * r0[0] + fu * r0[1]) + fv * ((1 - fu) * r1[0] + fu * r1[1]);
        sum += p * na[static_cast<std::size_t>(y) * a.width + x];
        ++n;
      }
    return n > 1000 ? sum / n : -1.0;
  };
  double bd = 0, bx = 0, by = 0;
  corr = -2;
  for (double d = -15; d <= 15; d += 1)
    for (int ty = -32; ty <= 32; ++ty)
      for (int tx = -32; tx <= 32; ++tx)
        if (const double v = score(d, tx, ty); v > corr) corr = v, bd = d, bx = tx, by = ty;
  const double d0 = bd, x0 = bx, y0 = by;
  for (double d = d0 - 1; d <= d0 + 1; d += 0.25)
    for (double ty = y0 - 1; ty <= y0 + 1; ty += 0.25)
      for (double tx = x0 - 1; tx <= x0 + 1; tx += 0.25)
        if (const double v = score(d, tx, ty); v > corr) corr = v, bd = d, bx = tx, by = ty;
  const double c = std::cos(bd * M_PI / 180), s = std::sin(bd * M_PI / 180);
  return {c, s, cx + bx - (c * cx - s * cy), cy + by - (s * cx + c * cy)};
}

// Under a given alignment (in record coordinates): how many of A's points
// reappear in B within 1.5 pixels, how their directions agree, and their
// descriptor distances beside random pairs.
void view_under(const BlockRecord* a, const BlockRecord* b, const Rigid& best, const char* label);

void view_pair(const BlockRecord* a, const BlockRecord* b, const Rigid* truth) {
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
  std::printf("  points %d / %d; best two-pair consensus %d (turn %.1f degrees, shift %.1f, %.1f)\n", n,
              b->point_count, consensus, std::atan2(best.s, best.c) * 180 / M_PI, best.tx, best.ty);
  view_under(a, b, best, "consensus");
  if (truth) view_under(a, b, *truth, "image");
}

void view_under(const BlockRecord* a, const BlockRecord* b, const Rigid& best, const char* label) {
  const int n = a->point_count;
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
  // How many of A's points have a point of B within 3 pixels at all, and
  // how many find it as their descriptor nearest neighbour over all of B.
  int near3 = 0, nn_right = 0;
  for (int i = 0; i < n; ++i) {
    double u = 0, v = 0;
    best.map(a->points[i].x, a->points[i].y, u, v);
    int best_d = 1 << 30, best_j = -1;
    bool any = false;
    for (int k = 0; k < b->point_count; ++k) {
      const double dd = (u - b->points[k].x) * (u - b->points[k].x) + (v - b->points[k].y) * (v - b->points[k].y);
      any = any || dd <= 9;
      if (const int d = distance(a, i, b, k); d < best_d) best_d = d, best_j = k;
    }
    near3 += any;
    if (best_j >= 0) {
      const double du = u - b->points[best_j].x, dv = v - b->points[best_j].y;
      nn_right += du * du + dv * dv <= 9;
    }
  }
  const int close = kept + flipped + other;
  std::printf("  [%s alignment: turn %.1f degrees, shift %.1f, %.1f]\n", label,
              std::atan2(best.s, best.c) * 180 / M_PI, best.tx, best.ty);
  std::printf("  within 1.5 px: %d; direction kept %d, turned half a turn %d, other %d; mean axis error %.1f / 256\n",
              close, kept, flipped, other, close ? axis / close : 0.0);
  std::printf("  within 3 px: %d; descriptor nearest neighbour within 3 px: %d\n", near3, nn_right);
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
  // KPV_PARAMS="key=value,..." (keys in hexadecimal) sets context parameters
  // before the preset, to try other settings of the road.
  if (const char* env = std::getenv("KPV_PARAMS")) {
    std::string list = env;
    for (std::size_t at = 0; at < list.size();) {
      std::size_t end = list.find(',', at);
      if (end == std::string::npos) end = list.size();
      const std::string item = list.substr(at, end - at);
      const std::size_t eq = item.find('=');
      if (eq != std::string::npos)
        param_set(ctx, static_cast<uint32_t>(std::stoul(item.substr(0, eq), nullptr, 16)),
                  std::stoi(item.substr(eq + 1)));
      at = end + 1;
    }
  }
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
      double corr = 0;
      const zyl::test::GreyImage ga = zyl::test::read_pgm(argv[k]);
      Rigid t = image_alignment(ga, zyl::test::read_pgm(argv[k + 1]), corr);
      // The records hold points at their working resolution (the stored
      // resolution field is not the horizontal one): scale by the sizes.
      const double f = static_cast<double>(ra->height) / ga.height;
      t.tx *= f;
      t.ty *= f;
      std::printf("  image correlation %.3f\n", corr);
      view_pair(ra, rb, &t);
      // KPV_DUMP=prefix writes each record's points (x y angle score class)
      // to prefix_a.txt and prefix_b.txt.
      if (const char* dump = std::getenv("KPV_DUMP")) {
        for (const BlockRecord* r : {ra, rb}) {
          const std::string name = std::string(dump) + (r == ra ? "_a.txt" : "_b.txt");
          if (FILE* f = std::fopen(name.c_str(), "w")) {
            for (int i = 0; i < r->point_count; ++i)
              std::fprintf(f, "%d %d %d %d %d\n", r->points[i].x, r->points[i].y, r->points[i].angle,
                           r->points[i].score, r->points[i].cls);
            std::fclose(f);
          }
        }
      }
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

// Learns the sampling pattern of a keypoint bit descriptor from prints (a
// developer's tool; its output is committed and turned into source by
// scripts/descriptor_patterns.py):
//
//   descriptor_pattern_fit 3|4 [--crop N] OUT.txt FOLDER...
//
// Mode 3 learns type 0x10 (64 pairs, whole-pixel samples, offsets even in
// -16..16) under the engine of algorithm mode 3; mode 4 learns type 0x2 (128
// pairs, bilinear samples, offsets even in -14..14) under the engine of
// mode 4 (use --crop 96: what the 0x2031 sees).
//
// 1. Every image of the folders (500 dpi PGM, <finger>_<impression>.pgm) is
//    extracted by the engine; its keypoints (position, direction) are read
//    from the template, and the image the descriptor is computed on is
//    rebuilt the way the engine builds it (converters, stage preparation,
//    resampling). The rebuilt image is checked: the bits of the current
//    pattern sampled on it must equal the template's own descriptor bits.
// 2. Every two impressions of one finger are compared by the engine; its
//    alignment (engine_best_score's transform, tried in both directions)
//    maps the first print's points onto the second's. A point with a point
//    of the other print within 2 pixels whose direction agrees within 16 of
//    256 steps (mutually nearest) is a corresponding pair; comparisons whose
//    alignment gives fewer than 4 such pairs are not used. Each
//    corresponding pair gets a non-corresponding partner: a point of the
//    second print at least 8 pixels from the mapped position (a fixed
//    linear congruential generator picks it).
// 3. Every pair of candidate offsets (even, within the bound, inside the
//    disc of radius bound + 1; unordered, so no pair is the complement of
//    another) is scored by how often its bit agrees on corresponding points
//    minus how often it agrees on non-corresponding ones (a sample outside
//    the image counts as half an agreement, as a seed bit would). Pairs
//    whose bit is 1 on fewer than 10 % or more than 90 % of the points are
//    refused (nearly constant).
// 4. The 3000 best candidates form the pool. Per corresponding pair, a
//    pattern's margin is the Hamming distance of the descriptors to the
//    non-corresponding point minus that to the corresponding one; starting
//    from the fixed pairs, the candidate taken next is the one that makes
//    the mean margin over its standard deviation largest (so a pair that
//    repeats what the pattern already tells adds little), until the
//    pattern is full.
// OUT.txt gets one pair a line (dx1 dy1 dx2 dy2), the chosen pairs in
// order of choice; the fixed pairs are not written.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "matchlib/core/fixed_math.h"
#include "matchlib/engine/preset_build.h"
#include "matchlib/core/subpixel.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/border_extend.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/filter/image_transforms.h"
#include "matchlib/image/mask_build.h"
#include "matchlib/keypoint/descriptor_compute.h"
#include "matchlib/keypoint/descriptor_patterns.h"
#include "matchlib/template/stage_extract.h"
#include "support/pgm.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_descriptor_type.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/matchlib_xform.h"

namespace {

namespace fs = std::filesystem;
namespace ml = zyl::matchlib;

constexpr std::size_t kPool = 3000;

struct Setup {
  int mode = 3;
  std::uint32_t type = 0x10;
  int pairs = 64;
  int bound = 16;
  const std::int8_t* current = ml::kPattern10;
  std::vector<std::array<int, 4>> fixed;  // kept as given
};

Setup setup_of(int mode) {
  Setup s;
  s.mode = mode;
  if (mode == 3) {
    s.fixed = {{-14, -2, -14, 2}, {6, -14, 6, -10}, {-4, -6, 4, -8}, {-2, -8, -2, 8}};
  } else {
    s.type = 0x2;
    s.pairs = 128;
    s.bound = 14;
    s.current = ml::kPattern2;
    s.fixed = {{-6, -10, -6, 12}, {0, 8, 10, 8}, {-10, -8, 6, -12}, {-4, -6, 4, -6}};
  }
  return s;
}

// One print: its keypoints and, per point, the sample at every candidate
// offset (-1 outside the image).
struct Print {
  int finger = 0, impression = 0;
  DataBlob* blob = nullptr;
  BlockRecord* record = nullptr;
  double scale = 1;  // record pixels per 500 dpi pixel
  std::vector<std::vector<std::int16_t>> samples;
};

std::vector<std::array<int, 2>> candidate_points(int bound) {
  std::vector<std::array<int, 2>> pts;
  for (int y = -bound; y <= bound; y += 2)
    for (int x = -bound; x <= bound; x += 2)
      if (x * x + y * y <= (bound + 1) * (bound + 1)) pts.push_back({x, y});
  return pts;
}

BlockRecord* record_of(const DataBlob* blob) {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  BlockRecord* r = nullptr;
  if (tmpl_get_section(blob, 79, &data, &length) || blockrec_parse(data, length, 0, 0, &r)) return nullptr;
  return r;
}

int extension_of(const BlockRecord* r, std::uint32_t type) {
  for (int e = 0; e < r->extension_type_count; ++e)
    if (r->extension_types[e]->type_id == type) return e;
  return -1;
}

// The image the keypoint stage hands to the descriptors, rebuilt as the
// engine makes it.
std::vector<std::uint8_t> working_image(MatchEngine* engine, MatchContext* ctx, int mode,
                                        const zyl::test::GreyImage& g, int& h, int& w) {
  GrayImage* img = ml::image_create(g.height, g.width, 500, 500, g.pixels.data(),
                                    mode == 3 ? IMAGE_NULL_IMPRESSION_TYPE : 0);
  if (mode == 4) ml::image_build_masks_from_params(img, ctx);
  GrayImage* conv = nullptr;
  ml::engine_apply_converters(engine, img, &conv);
  GrayImage* work = nullptr;
  if (mode == 3) {
    // Light extraction at 363 dpi.
    const auto resampled = [](int size) { return static_cast<int>((static_cast<long>(size) * 363 + 250) / 500); };
    work = ml::image_resize_with_resolution(conv, resampled(g.height), resampled(g.width), 363, 363);
  } else {
    work = ml::image_clone(conv);
    for (const ImagePrepRoutine* r = ml::kKeypointImages; *r; ++r) {
      const ImagePrepDescriptor d{*r};
      GrayImage* next = ml::image_preprocess_copy(work, ctx, &d);
      ml::image_release(work);
      work = next;
    }
  }
  h = ml::image_height(work);
  w = ml::image_width(work);
  std::vector<std::uint8_t> px(ml::image_pixels(work), ml::image_pixels(work) + static_cast<std::size_t>(h) * w);
  ml::image_release(work);
  ml::image_release(conv);
  ml::image_release(img);
  return px;
}

// Samples of every candidate offset around every point, as the descriptor
// computes them; also counts agreements of the current pattern's bits with
// the record's descriptors (the rebuilt image's check).
void sample_print(const Setup& s, const std::vector<std::array<int, 2>>& pts, const std::vector<std::uint8_t>& px,
                  int h, int w, Print& p, long& checked, long& agreed) {
  BlockRecord* r = p.record;
  const int e = extension_of(r, s.type);
  const std::uint8_t* desc = r->extension_arrays[e];
  const int bytes = static_cast<int>(r->extension_types[e]->size());
  p.samples.assign(static_cast<std::size_t>(r->point_count), {});
  if (s.mode == 3) {
    const int M = 4, W = w + 2 * M, H = h + 2 * M;
    std::vector<std::uint8_t> b(static_cast<std::size_t>(H) * W);
    ml::img_pad_extend_u8(px.data(), h, w, H, W, M, M, b.data());
    for (int i = 0; i < 3; ++i) ml::binomial3x3<std::uint8_t>(b.data(), H, W, b.data());
    // The mode-3 preset's record resolution (a template does not carry it).
    const long res = 508;
    for (int i = 0; i < r->point_count; ++i) {
      const KeyPoint& kp = r->points[i];
      const long c = ml::fx_cos256_alt(kp.angle), sn = ml::fx_sin256_alt(kp.angle);
      auto sample = [&](int dx, int dy) -> int {
        long u = ml::round_div(c * dx - sn * dy, 16384), v = ml::round_div(sn * dx + c * dy, 16384);
        if (res != 500) u = ml::round_div(u * res, 500), v = ml::round_div(v * res, 500);
        const long col = kp.x + M + u, row = kp.y + M + v;
        if (col < 0 || col >= W || row < 0 || row >= H) return -1;
        return b[static_cast<std::size_t>(row * W + col)];
      };
      auto& out = p.samples[static_cast<std::size_t>(i)];
      for (const auto& q : pts) out.push_back(static_cast<std::int16_t>(sample(q[0], q[1])));
      for (int k = 0; k < s.pairs; ++k) {
        const std::int8_t* q = s.current + 4 * k;
        const int g1 = sample(q[0], q[1]), g2 = sample(q[2], q[3]);
        if (g1 < 0 || g2 < 0) continue;
        ++checked;
        const bool bit = desc[i * bytes + k / 8] >> (k % 8) & 1;
        agreed += bit == (g1 <= g2);
      }
    }
  } else {
    std::vector<std::uint8_t> work(px);
    for (int i = 0; i < 3; ++i) ml::binomial3x3<std::uint8_t>(work.data(), h, w, work.data());
    // Record resolution 500: the pattern is used as stored.
    for (int i = 0; i < r->point_count; ++i) {
      const KeyPoint& kp = r->points[i];
      const int c = ml::fx_cos256_alt(kp.angle), sn = ml::fx_sin256_alt(kp.angle);
      const int X = kp.x * 16384, Y = kp.y * 16384;
      auto sample = [&](int dx, int dy) -> int {
        const int x = X + c * dx - sn * dy, y = Y + sn * dx + c * dy;
        if (ml::subpix_outside(x, y, h, w)) return -1;
        return ml::subpix_sample_u8(work.data(), h, w, x, y);
      };
      auto& out = p.samples[static_cast<std::size_t>(i)];
      for (const auto& q : pts) out.push_back(static_cast<std::int16_t>(sample(q[0], q[1])));
      for (int k = 0; k < s.pairs; ++k) {
        const std::int8_t* q = s.current + 4 * k;
        const int g1 = sample(q[0], q[1]), g2 = sample(q[2], q[3]);
        if (g1 < 0 || g2 < 0) continue;
        ++checked;
        const bool bit = desc[i * bytes + k / 8] >> (k % 8) & 1;
        agreed += bit == (g1 <= g2);
      }
    }
  }
}

struct Link {
  const Print* a;
  int i;
  const Print* b;
  int j;       // corresponding point
  int other;   // a non-corresponding point of b
};

// Corresponding points of two prints under the engine's alignment.
std::vector<Link> correspond(MatchEngine* engine, Print& a, Print& b, std::uint32_t& rng) {
  std::uint16_t score = 0;
  RigidTransform* t = nullptr;
  std::vector<Link> best;
  if (engine_best_score(engine, &a.blob, 1, b.blob, &score, &t) != ML_OK || !t) return best;
  const double c = t->cosine / 8192.0, sn = t->sine / 8192.0, dx = t->dx / 256.0, dy = t->dy / 256.0;
  const int turn = static_cast<int>(std::lround(t->angle / 65536.0)) & 255;
  xform_release(t);
  const BlockRecord *ra = a.record, *rb = b.record;
  for (int variant = 0; variant < 2; ++variant) {
    std::vector<Link> links;
    std::vector<int> to(static_cast<std::size_t>(ra->point_count), -1);
    std::vector<std::pair<double, double>> mapped(static_cast<std::size_t>(ra->point_count));
    for (int i = 0; i < ra->point_count; ++i) {
      const double x = ra->points[i].x / a.scale, y = ra->points[i].y / a.scale;
      double u, v;
      if (variant == 0) {
        u = c * x - sn * y + dx;
        v = sn * x + c * y + dy;
      } else {  // the inverse
        u = c * (x - dx) + sn * (y - dy);
        v = -sn * (x - dx) + c * (y - dy);
      }
      mapped[static_cast<std::size_t>(i)] = {u * b.scale, v * b.scale};
    }
    const int turn_v = variant == 0 ? turn : (256 - turn) & 255;
    auto nearest_b = [&](double u, double v, double& d2) {
      int j = -1;
      d2 = 1e9;
      for (int k = 0; k < rb->point_count; ++k) {
        const double e = (u - rb->points[k].x) * (u - rb->points[k].x) + (v - rb->points[k].y) * (v - rb->points[k].y);
        if (e < d2) d2 = e, j = k;
      }
      return j;
    };
    for (int i = 0; i < ra->point_count; ++i) {
      double d2 = 0;
      const auto [u, v] = mapped[static_cast<std::size_t>(i)];
      const int j = nearest_b(u, v, d2);
      if (j < 0 || d2 > 4.0) continue;
      const int diff = static_cast<std::int8_t>(static_cast<std::uint8_t>(rb->points[j].angle - ra->points[i].angle - turn_v));
      if (std::abs(diff) >= 16) continue;
      // Mutually nearest: no other point of a maps closer to j.
      bool mutual = true;
      for (int k = 0; k < ra->point_count && mutual; ++k) {
        if (k == i) continue;
        const auto [uk, vk] = mapped[static_cast<std::size_t>(k)];
        const double e = (uk - rb->points[j].x) * (uk - rb->points[j].x) + (vk - rb->points[j].y) * (vk - rb->points[j].y);
        mutual = e >= d2;
      }
      if (!mutual) continue;
      int other = -1;
      for (int tries = 0; tries < 50 && other < 0; ++tries) {
        rng = rng * 1664525u + 1013904223u;
        const int k = static_cast<int>((rng >> 8) % static_cast<std::uint32_t>(rb->point_count));
        const double e = (u - rb->points[k].x) * (u - rb->points[k].x) + (v - rb->points[k].y) * (v - rb->points[k].y);
        if (e >= 64) other = k;
      }
      if (other >= 0) links.push_back({&a, i, &b, j, other});
    }
    if (links.size() > best.size()) best = std::move(links);
  }
  if (best.size() < 4) best.clear();
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int mode = 0, crop = 0;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--crop" && i + 1 < argc) crop = std::atoi(argv[++i]);
    else if (!mode && (arg == "3" || arg == "4")) mode = std::atoi(argv[i]);
    else rest.push_back(arg);
  }
  if (!mode || rest.size() < 2) {
    std::fprintf(stderr, "usage: descriptor_pattern_fit 3|4 [--crop N] OUT.txt FOLDER...\n");
    return 2;
  }
  const Setup s = setup_of(mode);
  const auto pts = candidate_points(s.bound);
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = mode == 3 ? preset_create_light(ctx) : preset_create_light_verify(ctx);
  const std::regex name(R"((\d+)_(\d+)\.pgm)");
  std::vector<Print> prints;
  std::vector<std::size_t> folder_start;
  long checked = 0, agreed = 0;
  for (std::size_t f = 1; f < rest.size(); ++f) {
    folder_start.push_back(prints.size());
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(rest[f])) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& path : files) {
      std::smatch m;
      const std::string file = path.filename().string();
      if (!std::regex_match(file, m, name)) continue;
      const zyl::test::GreyImage g = zyl::test::centre_crop(zyl::test::read_pgm(path.string()), crop);
      Print p;
      p.finger = static_cast<int>(f * 1000) + std::stoi(m[1]);
      p.impression = std::stoi(m[2]);
      int st;
      if (mode == 3) {
        FingerInfo* info = finger_info_default();
        st = engine_extract_pixels(engine, g.pixels.data(), g.height, g.width, 500, info, &p.blob);
      } else {
        GrayImage* img = image_create(g.height, g.width, 500, 500, g.pixels.data(), 0);
        st = engine_extract_image(engine, img, nullptr, &p.blob);
        image_release(img);
      }
      if (st || !p.blob || !(p.record = record_of(p.blob)) || extension_of(p.record, s.type) < 0) {
        std::fprintf(stderr, "%s: no keypoints (status %d)\n", file.c_str(), st);
        continue;
      }
      int h = 0, w = 0;
      const std::vector<std::uint8_t> px = working_image(engine, ctx, mode, g, h, w);
      if (h != p.record->height || w != p.record->width) {
        std::fprintf(stderr, "%s: working image %d x %d, record %d x %d\n", file.c_str(), w, h, p.record->width,
                     p.record->height);
        return 1;
      }
      p.scale = static_cast<double>(p.record->height) / g.height;
      sample_print(s, pts, px, h, w, p, checked, agreed);
      prints.push_back(std::move(p));
    }
  }
  std::printf("prints %zu; current pattern's bits rebuilt: %ld of %ld agree with the templates\n", prints.size(),
              agreed, checked);
  if (checked == 0 || agreed != checked) {
    std::fprintf(stderr, "the rebuilt descriptor image does not match the engine's\n");
    return 1;
  }

  // Corresponding points of every two impressions of a finger.
  std::vector<Link> links;
  std::uint32_t rng = 12345;
  std::size_t used = 0, compared = 0;
  for (std::size_t x = 0; x < prints.size(); ++x)
    for (std::size_t y = x + 1; y < prints.size(); ++y) {
      if (prints[x].finger != prints[y].finger) continue;
      ++compared;
      std::vector<Link> l = correspond(engine, prints[x], prints[y], rng);
      if (!l.empty()) ++used;
      links.insert(links.end(), l.begin(), l.end());
    }
  std::printf("genuine comparisons %zu, aligned %zu, corresponding points %zu\n", compared, used, links.size());

  // Candidate pairs: unordered pairs of candidate points, not a fixed pair
  // or its swap.
  struct Cand {
    int p, q;
    double score = 0, ones = 0;
  };
  std::vector<Cand> cands;
  auto is_fixed = [&](int p, int q) {
    for (const auto& f : s.fixed) {
      const std::array<int, 2> a{f[0], f[1]}, b{f[2], f[3]};
      if ((pts[p] == a && pts[q] == b) || (pts[p] == b && pts[q] == a)) return true;
    }
    return false;
  };
  for (int p = 0; p < static_cast<int>(pts.size()); ++p)
    for (int q = p + 1; q < static_cast<int>(pts.size()); ++q)
      if (!is_fixed(p, q)) cands.push_back({p, q});
  // A bit: 1, 0, or -1 (outside: a seed bit).
  auto bit = [](const std::vector<std::int16_t>& v, int p, int q) -> int {
    return v[p] < 0 || v[q] < 0 ? -1 : v[p] <= v[q];
  };
  auto agree = [](int x, int y) { return x < 0 || y < 0 ? 0.5 : x == y ? 1.0 : 0.0; };
  // The points over which balance and correlation are measured: the
  // corresponding points of the first prints.
  std::vector<const std::vector<std::int16_t>*> sample;
  for (const Link& l : links) sample.push_back(&l.a->samples[static_cast<std::size_t>(l.i)]);
  for (Cand& c : cands) {
    double g = 0, n = 0, ones = 0, valid = 0;
    for (const Link& l : links) {
      const auto& va = l.a->samples[static_cast<std::size_t>(l.i)];
      const int ba = bit(va, c.p, c.q);
      g += agree(ba, bit(l.b->samples[static_cast<std::size_t>(l.j)], c.p, c.q));
      n += agree(ba, bit(l.b->samples[static_cast<std::size_t>(l.other)], c.p, c.q));
      if (ba >= 0) ones += ba, ++valid;
    }
    c.ones = valid ? ones / valid : 0.5;
    c.score = (g - n) / static_cast<double>(links.size());
  }
  std::stable_sort(cands.begin(), cands.end(), [](const Cand& a, const Cand& b) { return a.score > b.score; });

  // Per link, what a pair adds to the margin of the link: its disagreement
  // on the non-corresponding point minus that on the corresponding one, in
  // half units (-2 .. 2; a seed bit disagrees by half).
  const std::size_t L = links.size();
  auto margin_of = [&](int p, int q, std::vector<std::int8_t>& m) {
    m.resize(L);
    for (std::size_t k = 0; k < L; ++k) {
      const Link& l = links[k];
      const int ba = bit(l.a->samples[static_cast<std::size_t>(l.i)], p, q);
      const double pos = 1 - agree(ba, bit(l.b->samples[static_cast<std::size_t>(l.j)], p, q));
      const double neg = 1 - agree(ba, bit(l.b->samples[static_cast<std::size_t>(l.other)], p, q));
      m[k] = static_cast<std::int8_t>(std::lround(2 * (neg - pos)));
    }
  };
  auto index_of = [&](int x, int y) {
    for (int k = 0; k < static_cast<int>(pts.size()); ++k)
      if (pts[k][0] == x && pts[k][1] == y) return k;
    return -1;
  };
  // The pattern's margin per link, summed over its pairs so far; the
  // figure of merit is its mean over its standard deviation.
  std::vector<double> total(L, 0);
  auto add = [&](const std::vector<std::int8_t>& m) {
    for (std::size_t k = 0; k < L; ++k) total[k] += m[k];
  };
  auto merit = [&](const std::vector<double>& t) {
    double sum = 0, sq = 0;
    for (double v : t) sum += v, sq += v * v;
    const double mean = sum / static_cast<double>(L);
    return mean / std::sqrt(std::max(1e-9, sq / static_cast<double>(L) - mean * mean));
  };
  std::vector<std::int8_t> m;
  for (const auto& f : s.fixed) {
    margin_of(index_of(f[0], f[1]), index_of(f[2], f[3]), m);
    add(m);
  }
  // The pool: the best-scoring candidates that are not nearly constant.
  std::vector<const Cand*> pool;
  for (const Cand& c : cands)
    if (c.ones >= 0.1 && c.ones <= 0.9 && pool.size() < kPool) pool.push_back(&c);
  std::vector<std::vector<std::int8_t>> pool_margin(pool.size());
  for (std::size_t c = 0; c < pool.size(); ++c) margin_of(pool[c]->p, pool[c]->q, pool_margin[c]);
  const std::size_t wanted = static_cast<std::size_t>(s.pairs) - s.fixed.size();
  std::vector<const Cand*> chosen;
  std::vector<bool> used_c(pool.size(), false);
  while (chosen.size() < wanted) {
    // Adding candidate c: sum and sum of squares of total + m_c.
    double sum = 0, sq = 0;
    for (double v : total) sum += v, sq += v * v;
    double best = -1e18;
    std::size_t pick = pool.size();
    for (std::size_t c = 0; c < pool.size(); ++c) {
      if (used_c[c]) continue;
      const std::vector<std::int8_t>& mc = pool_margin[c];
      long ms = 0, mq = 0;
      double cross = 0;
      for (std::size_t k = 0; k < L; ++k) {
        ms += mc[k];
        mq += mc[k] * mc[k];
        cross += total[k] * mc[k];
      }
      const double n = static_cast<double>(L);
      const double mean = (sum + ms) / n;
      const double var = (sq + 2 * cross + mq) / n - mean * mean;
      const double value = mean / std::sqrt(std::max(1e-9, var));
      if (value > best) best = value, pick = c;
    }
    used_c[pick] = true;
    chosen.push_back(pool[pick]);
    add(pool_margin[pick]);
  }
  const double learned = merit(total);
  // The current pattern's figure, for comparison.
  std::fill(total.begin(), total.end(), 0.0);
  for (int k = 0; k < s.pairs; ++k) {
    const std::int8_t* q = s.current + 4 * k;
    const int p1 = index_of(q[0], q[1]), p2 = index_of(q[2], q[3]);
    if (p1 < 0 || p2 < 0) continue;  // outside the candidate disc
    margin_of(p1, p2, m);
    add(m);
  }
  std::printf("margin mean / deviation over the links: current pattern %.3f, learned %.3f\n", merit(total), learned);
  FILE* out = std::fopen(rest[0].c_str(), "w");
  if (!out) return 1;
  std::fprintf(out, "# Learned pairs of type 0x%x in order of choice (dx1 dy1 dx2 dy2), written by\n", s.type);
  std::fprintf(out, "# descriptor_pattern_fit %d%s on a build of the drawn patterns from:\n", mode,
               crop ? (" --crop " + std::to_string(crop)).c_str() : "");
  for (std::size_t f = 1; f < rest.size(); ++f)
    std::fprintf(out, "#   %s\n", fs::path(rest[f]).filename().string().c_str());
  for (const Cand* c : chosen)
    std::fprintf(out, "%d %d %d %d\n", pts[c->p][0], pts[c->p][1], pts[c->q][0], pts[c->q][1]);
  std::fclose(out);
  for (Print& p : prints) {
    blockrec_free(p.record);
    blob_release(p.blob);
  }
  engine_release(engine);
  ctx_release(ctx);
  return 0;
}

// Keypoint pair matcher: descriptor pairing of two point records, the
// random two-pair alignment search, inlier or refined pair selection, the
// least-squares rigid fit and the five sub-scores.
#include "zylscan/matchlib_pair_matcher.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_polygon.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/polygon.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/keypoint/descriptor_types.h"
#include "matchlib/keypoint/keypoint_stage.h"
#include "matchlib/match/pair_matcher.h"
#include "matchlib/keypoint/block_record.h"

namespace {

constexpr int kQ14 = 16384;

struct RecordFree {
  void operator()(BlockRecord* r) const { zyl::matchlib::blockrec_free(r); }
};
using RecordPtr = std::unique_ptr<BlockRecord, RecordFree>;
struct NearestFree {
  void operator()(NearestMatch* m) const { zyl::matchlib::nearest_match_free(m); }
};
using NearestPtr = std::unique_ptr<NearestMatch, NearestFree>;
struct PairingFree {
  void operator()(MinutiaPairing* p) const { zyl::matchlib::pairing_free(p); }
};
using PairingPtr = std::unique_ptr<MinutiaPairing, PairingFree>;

// Rounds v / d half away from zero (d > 0).
std::int64_t div_round(std::int64_t v, std::int64_t d) {
  return v >= 0 ? (v + d / 2) / d : -((-v + d / 2) / d);
}

int q14_round(std::int64_t v) { return static_cast<int>(div_round(v, kQ14)); }

// Q14 cosine and sine of a 24-bit phase (the tables are Q31).
void phase_trig(std::int32_t phase, int& c, int& s) {
  c = static_cast<int>(div_round(zyl::matchlib::fx_cos_phase24(phase), 1 << 17));
  s = static_cast<int>(div_round(zyl::matchlib::fx_sin_phase24(phase), 1 << 17));
}

int angle_byte(const PairAlignment& a) { return ((a.angle + 0x8000) >> 16) & 0xff; }

// Signed circular difference of two direction bytes.
int byte_diff(int a, int b) { return static_cast<std::int8_t>(static_cast<std::uint8_t>(a - b)); }

struct Mapped {
  int x, y;
};
Mapped map_point(const PairAlignment& al, int x, int y) {
  const std::int64_t vx = std::int64_t{al.dx} + std::int64_t{al.cosine} * x - std::int64_t{al.sine} * y;
  const std::int64_t vy = std::int64_t{al.dy} + std::int64_t{al.sine} * x + std::int64_t{al.cosine} * y;
  return {q14_round(vx), q14_round(vy)};
}
Mapped map_inverse(const PairAlignment& al, int x, int y) {
  const std::int64_t px = std::int64_t{x} * kQ14 - al.dx;
  const std::int64_t py = std::int64_t{y} * kQ14 - al.dy;
  const std::int64_t vx = std::int64_t{al.cosine} * px + std::int64_t{al.sine} * py;
  const std::int64_t vy = -std::int64_t{al.sine} * px + std::int64_t{al.cosine} * py;
  return {static_cast<int>(div_round(vx, std::int64_t{kQ14} * kQ14)),
          static_cast<int>(div_round(vy, std::int64_t{kQ14} * kQ14))};
}

std::int64_t dist_sq(int x1, int y1, int x2, int y2) {
  const std::int64_t dx = x1 - x2, dy = y1 - y2;
  return dx * dx + dy * dy;
}

// Points of two captures of one sensor session that lie where they were in
// both captures (same offset, no turn) carry a flag; such pairs tell nothing.
bool capture_excludes_flagged(const SampleInfo& ia, const SampleInfo& ib, const PairAlignment& al) {
  const std::int64_t ox = std::int64_t{ib.offset_x} + q14_round(al.dx) - ia.offset_x;
  const std::int64_t oy = std::int64_t{ib.offset_y} + q14_round(al.dy) - ia.offset_y;
  const int ab = angle_byte(al);
  return ox * ox + oy * oy <= 16 && std::min(ab, 256 - ab) < 9;
}

std::int64_t distance_limit(int setting, int count_a, int count_b) {
  if (setting) return std::int64_t{setting} * setting;
  static constexpr int kTable[16] = {1, 1, 1, 1, 1, 1, 1, 2, 5, 9, 12, 15, 16, 16, 16, 16};
  const int n = 16 * std::min(count_a, count_b);
  return n > 5424 ? 16 : kTable[(n + 175) / 350];
}

// A's and B's class groups that the points of class c are compared with.
void class_groups(int c, int groups[3], int& n) {
  n = 0;
  if (c < 1 || c > 7 || c == 4) return;
  const int base = c < 4 ? 0 : 4;
  if (c & 1) groups[n++] = base + 1;
  if (c & 2) groups[n++] = base + 2;
  groups[n++] = base + 3;
}

int extension_index(const BlockRecord* r, std::uint32_t type_id) {
  for (int k = 0; k < r->extension_type_count && k < BLOCKREC_MAX_EXTENSIONS; ++k)
    if (r->extension_types[k] && r->extension_types[k]->type_id == type_id) return k;
  return -1;
}

void reset_nearest(NearestMatch& m) {
  std::fill_n(m.best_a, m.count_a, PAIR_NONE);
  std::fill_n(m.match_a, m.count_a, PAIR_NONE);
  std::fill_n(m.best_b, m.count_b, PAIR_NONE);
  std::fill_n(m.match_b, m.count_b, PAIR_NONE);
}

// One neighbour search of every point of A (with `classes_swapped` the
// bright and dark class bits trade places, as inverted descriptors do)
// into `m`. `only` limits it to points whose class satisfies the filter.
template <class Filter>
int neighbour_search(const DescriptorType* type, const BlockRecord* a, const BlockRecord* b,
                     int invert, int swap, int mode, bool classes_swapped, NearestMatch& m,
                     Filter only) {
  MatchBests bests{m.best_a, m.best_b, reinterpret_cast<std::int16_t*>(m.match_a),
                   reinterpret_cast<std::int16_t*>(m.match_b)};
  for (int i = 0; i < a->point_count; ++i) {
    int c = a->points[i].cls;
    if (!only(c)) continue;
    if (classes_swapped && c != 0) c = (c & ~3) | ((c & 1) << 1) | ((c & 2) >> 1);
    int groups[3];
    int n = 0;
    class_groups(c, groups, n);
    for (int g = 0; g < n; ++g) {
      const int count = b->type_counts[groups[g]];
      if (count <= 0) continue;
      const int st = type->match_lists(static_cast<std::uint32_t>(i),
                                       static_cast<std::uint32_t>(b->type_starts[groups[g]]),
                                       static_cast<std::uint32_t>(count), invert, swap, mode, a, b,
                                       &bests);
      if (st) return st;
    }
  }
  return ML_OK;
}

// Sum of the best distances of all of A's points; a point that found no
// partner counts with its initial 0xffff, so the run that pairs more of A
// wins.
std::int64_t sum_best_a(const NearestMatch& m) {
  std::int64_t s = 0;
  for (int i = 0; i < m.count_a; ++i) s += m.best_a[i];
  return s;
}

int pair_list_build(const NearestMatch& m, bool mutual, std::vector<PairEntry>& out) {
  std::int64_t threshold = 0xffff;
  if (mutual) {
    std::int64_t sum = 0, n = 0;
    for (int i = 0; i < m.count_a; ++i)
      if (m.match_a[i] != PAIR_NONE) sum += m.best_a[i], ++n;
    for (int j = 0; j < m.count_b; ++j)
      if (m.match_b[j] != PAIR_NONE) sum += m.best_b[j], ++n;
    threshold = sum / std::max<std::int64_t>(n, 1);
  }
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    out.clear();
    for (int i = 0; i < m.count_a; ++i)
      if (m.match_a[i] != PAIR_NONE && m.best_a[i] <= threshold)
        out.push_back({m.best_a[i], static_cast<std::uint16_t>(i), m.match_a[i]});
    for (int j = 0; j < m.count_b; ++j)
      if (m.match_b[j] != PAIR_NONE && m.best_b[j] <= threshold)
        out.push_back({m.best_b[j], m.match_b[j], static_cast<std::uint16_t>(j)});
    return ML_OK;
  });
}

// Everything one scoring pass looks at.
struct ScoreInput {
  const BlockRecord* a;
  const BlockRecord* b;
  SampleInfo ia;
  SampleInfo ib;
  const MatcherSettings* settings;
  int tolerance;
};

bool pair_valid(const ScoreInput& in, int i, int j) {
  return i >= 0 && i < in.a->point_count && j >= 0 && j < in.b->point_count;
}

bool pair_flagged(const ScoreInput& in, int i, int j) {
  return in.a->points[i].spare || in.b->points[j].spare;
}

int consensus_count(const ScoreInput& in, const std::vector<PairEntry>& pairs,
                    const PairAlignment& al, std::int64_t limit) {
  const bool excl = capture_excludes_flagged(in.ia, in.ib, al);
  const int ab = angle_byte(al);
  int n = 0;
  for (const PairEntry& p : pairs) {
    const KeyPoint& pa = in.a->points[p.index_a];
    const KeyPoint& pb = in.b->points[p.index_b];
    if (std::abs(byte_diff(byte_diff(pb.angle, pa.angle), ab)) > in.tolerance) continue;
    const std::int64_t vx =
        std::int64_t{al.dx} + std::int64_t{al.cosine} * pa.x - std::int64_t{al.sine} * pa.y + 8192;
    const std::int64_t vy =
        std::int64_t{al.dy} + std::int64_t{al.sine} * pa.x + std::int64_t{al.cosine} * pa.y + 8192;
    if (dist_sq(static_cast<int>(vx >> 14), static_cast<int>(vy >> 14), pb.x, pb.y) > limit) continue;
    if (excl && pair_flagged(in, p.index_a, p.index_b)) continue;
    ++n;
  }
  return n;
}

void alignment_ransac(const ScoreInput& in, const std::vector<PairEntry>& pairs, int hypothesis_limit,
                      PairAlignment& best) {
  // The search starts from the all-zero alignment, which maps every point
  // onto the origin: a comparison that accepts no hypothesis is not scored
  // as if the two records were already aligned.
  best = PairAlignment{0, 0, 0, 0, 0};
  const int L = static_cast<int>(pairs.size());
  if (L < 2) return;
  const std::int64_t limit =
      distance_limit(in.settings->distance_setting, in.a->point_count, in.b->point_count);
  int best_count = consensus_count(in, pairs, best, limit);
  const std::int64_t ll = std::int64_t{L} * L;
  const std::int64_t trials = ll < 35 ? 0 : ll / 35;
  std::int64_t h = std::min<std::int64_t>(hypothesis_limit, ll / 1050);
  if (hypothesis_limit) h = std::max<std::int64_t>(h, 15);
  std::uint32_t state = 0;
  std::int64_t accepted = 0;
  auto dir_diff = [&](const PairEntry& p) {
    return byte_diff(in.b->points[p.index_b].angle, in.a->points[p.index_a].angle);
  };
  for (std::int64_t t = 0; t < trials && accepted < h; ++t) {
    const int i1 =
        static_cast<int>((std::int64_t{L} * (zyl::matchlib::rng_next_alt(&state) >> 16)) >> 16);
    const int i2 =
        static_cast<int>((std::int64_t{L} * (zyl::matchlib::rng_next_alt(&state) >> 16)) >> 16);
    if (i1 == i2) continue;
    const PairEntry& p1 = pairs[i1];
    const PairEntry& p2 = pairs[i2];
    const KeyPoint& a1 = in.a->points[p1.index_a];
    const KeyPoint& a2 = in.a->points[p2.index_a];
    const KeyPoint& b1 = in.b->points[p1.index_b];
    const KeyPoint& b2 = in.b->points[p2.index_b];
    const std::int64_t la = dist_sq(a1.x, a1.y, a2.x, a2.y);
    const std::int64_t lb = dist_sq(b1.x, b1.y, b2.x, b2.y);
    if (std::llabs(la - lb) >= 100 || la <= 15 || lb <= 15) continue;
    const int d1 = dir_diff(p1), d2 = dir_diff(p2);
    if (std::abs(byte_diff(d1, d2)) > in.tolerance) continue;
    const int rot = (zyl::matchlib::fx_atan2(b2.y - b1.y, b2.x - b1.x) -
                     zyl::matchlib::fx_atan2(a2.y - a1.y, a2.x - a1.x)) &
                    0xff;
    if (std::abs(byte_diff(d1, rot)) > in.tolerance || std::abs(byte_diff(d2, rot)) > in.tolerance)
      continue;
    PairAlignment h1;
    h1.cosine = zyl::matchlib::fx_cos256(rot);
    h1.sine = zyl::matchlib::fx_sin256(rot);
    h1.angle = rot << 16;
    auto residual = [&](const KeyPoint& pa, const KeyPoint& pb, bool x) {
      return x ? std::int64_t{pb.x} * kQ14 - (std::int64_t{h1.cosine} * pa.x - std::int64_t{h1.sine} * pa.y)
               : std::int64_t{pb.y} * kQ14 - (std::int64_t{h1.sine} * pa.x + std::int64_t{h1.cosine} * pa.y);
    };
    h1.dx = static_cast<std::int32_t>(div_round(residual(a1, b1, true) + residual(a2, b2, true), 2));
    h1.dy = static_cast<std::int32_t>(div_round(residual(a1, b1, false) + residual(a2, b2, false), 2));
    ++accepted;
    const int count = consensus_count(in, pairs, h1, limit);
    if (count > best_count) {
      best_count = count;
      best = h1;
    }
  }
}

struct Selected {
  std::vector<std::uint16_t> ia, ib;
  std::vector<std::int64_t> sq;
  std::vector<int> desc;
  std::vector<int> weight;
};

void inlier_select(const ScoreInput& in, const NearestMatch& m, const PairAlignment& al,
                   Selected& sel, PairStats& st) {
  const bool excl = capture_excludes_flagged(in.ia, in.ib, al);
  const std::int64_t limit =
      distance_limit(in.settings->distance_setting, in.a->point_count, in.b->point_count);
  int matched = 0;
  std::int64_t sum = 0;
  auto consider = [&](int i, int j) {
    if (!pair_valid(in, i, j)) return;
    ++matched;
    const Mapped q = map_point(al, in.a->points[i].x, in.a->points[i].y);
    const std::int64_t d = dist_sq(q.x, q.y, in.b->points[j].x, in.b->points[j].y);
    if (d > limit || (excl && pair_flagged(in, i, j))) return;
    sel.ia.push_back(static_cast<std::uint16_t>(i));
    sel.ib.push_back(static_cast<std::uint16_t>(j));
    sel.sq.push_back(d);
    sum += d;
  };
  for (int i = 0; i < m.count_a; ++i)
    if (m.match_a[i] != PAIR_NONE) consider(i, m.match_a[i]);
  for (int j = 0; j < m.count_b; ++j)
    if (m.match_b[j] != PAIR_NONE) consider(m.match_b[j], j);
  const int n = static_cast<int>(sel.ia.size());
  st.pairs = static_cast<std::int16_t>(std::min(n, 32767));
  st.unpaired = static_cast<std::int16_t>(std::min(matched - n, 32767));
  st.distance_figure = static_cast<std::int16_t>(n ? std::min<std::int64_t>(sum / n, 32767) : -1);
}

// Nearest B point of every A point and nearest A point of every B point
// under the alignment, through a lookup grid of 5-pixel cells over B.
struct NearRecord {
  std::int64_t sq = 0xffff;
  int ia;
  int ib;
};

void nearest_positions(const ScoreInput& in, const PairAlignment& al, std::vector<NearRecord>& ra,
                       std::vector<NearRecord>& rb) {
  const BlockRecord* a = in.a;
  const BlockRecord* b = in.b;
  ra.assign(a->point_count, {});
  rb.assign(b->point_count, {});
  for (int i = 0; i < a->point_count; ++i) ra[i] = {0xffff, i, PAIR_NONE};
  for (int j = 0; j < b->point_count; ++j) rb[j] = {0xffff, 1000, j};
  const int gw = b->width / 5 + 4, gh = b->height / 5 + 4;
  std::vector<int> start(static_cast<std::size_t>(gw) * gh + 1, 0);
  auto cells = [&](int j, auto&& fn) {
    const int cx = std::clamp(b->points[j].x / 5, 0, gw - 3);
    const int cy = std::clamp(b->points[j].y / 5, 0, gh - 3);
    for (int y = cy; y < cy + 3; ++y)
      for (int x = cx; x < cx + 3; ++x) fn(y * gw + x);
  };
  for (int j = 0; j < b->point_count; ++j) cells(j, [&](int c) { ++start[c + 1]; });
  for (std::size_t c = 1; c < start.size(); ++c) start[c] += start[c - 1];
  std::vector<int> fill(start.begin(), start.end() - 1);
  std::vector<int> entries(start.back());
  for (int j = 0; j < b->point_count; ++j) cells(j, [&](int c) { entries[fill[c]++] = j; });
  for (int i = 0; i < a->point_count; ++i) {
    const Mapped q = map_point(al, a->points[i].x, a->points[i].y);
    if (q.x < -5 || q.y < -5 || q.x > b->width + 5 || q.y > b->height + 5) continue;
    const int cx = std::min((q.x + 5) / 5, gw - 1);  // floor(x / 5) + 1 for x >= -5
    const int cy = std::min((q.y + 5) / 5, gh - 1);
    const int c = cy * gw + cx;
    for (int e = start[c]; e < start[c + 1]; ++e) {
      const int j = entries[e];
      const std::int64_t d = dist_sq(q.x, q.y, b->points[j].x, b->points[j].y);
      if (d < ra[i].sq) ra[i] = {d, i, j};
      if (d < rb[j].sq) rb[j] = {d, i, j};
    }
  }
}

int select_types(std::uint32_t mask, const DescriptorType* types[BLOCKREC_MAX_EXTENSIONS + 1]) {
  const DescriptorType* list[DESC_TYPE_COUNT + 1] = {};
  const int n = zyl::matchlib::desc_types_select(list, mask);
  int k = 0;
  for (int t = 0; t < n && k < BLOCKREC_MAX_EXTENSIONS; ++t) types[k++] = list[t];
  types[k] = nullptr;
  return k;
}

// The refined search of the paired scorer.
int refined_search(const ScoreInput& in, const MinutiaPairing& pairing, const PairAlignment& al,
                   Selected& sel, PairStats& st, std::int64_t& detail) {
  const DescriptorType* types[BLOCKREC_MAX_EXTENSIONS + 1];
  const int t = select_types(static_cast<std::uint32_t>(in.settings->extension_types), types);
  if (t == 0) return ML_CORRUPT;
  int budget = 0;
  for (int k = 0; k < t; ++k) budget += static_cast<int>((types[k]->compared_size() >> 3) & 7) * 30;
  const bool excl = capture_excludes_flagged(in.ia, in.ib, al);
  std::vector<NearRecord> ra, rb;
  nearest_positions(in, al, ra, rb);
  const int ab = angle_byte(al);
  const NearestMatch& m = *pairing.nearest;
  auto take = [&](const NearRecord& r, int own_best) -> int {
    if (r.sq > 24 || !pair_valid(in, r.ia, r.ib)) return ML_OK;
    const KeyPoint& pa = in.a->points[r.ia];
    const KeyPoint& pb = in.b->points[r.ib];
    if (std::abs(byte_diff(byte_diff(pb.angle, pa.angle), ab)) > in.tolerance) return ML_OK;
    if (excl && pair_flagged(in, r.ia, r.ib)) return ML_OK;
    int summed = 0;
    for (int k = 0; k < t; ++k) {
      const int ea = extension_index(in.a, types[k]->type_id);
      const int eb = extension_index(in.b, types[k]->type_id);
      if (ea < 0 || eb < 0) return ML_WRONG_KIND;
      std::uint8_t d = 0;
      const int s = types[k]->pair_distance(r.ia, r.ib, 1, in.a->extension_arrays[ea],
                                            in.b->extension_arrays[eb], in.settings->distance_mode,
                                            pairing.alignment_flag, &d);
      if (s) return s;
      summed += d;
    }
    const int e = own_best;
    if (e >= budget || e + 3 * t < summed) return ML_OK;
    sel.ia.push_back(static_cast<std::uint16_t>(r.ia));
    sel.ib.push_back(static_cast<std::uint16_t>(r.ib));
    sel.sq.push_back(r.sq);
    sel.desc.push_back(summed);
    sel.weight.push_back(static_cast<int>((3 * t + e - summed) * 5 / t - r.sq + 25));
    return ML_OK;
  };
  for (int i = 0; i < in.a->point_count; ++i)
    if (const int s = take(ra[i], i < m.count_a ? m.best_a[i] : 0xffff)) return s;
  for (int j = 0; j < in.b->point_count; ++j)
    if (const int s = take(rb[j], j < m.count_b ? m.best_b[j] : 0xffff)) return s;
  const int c = static_cast<int>(sel.ia.size());
  std::vector<std::int16_t> ax(c), ay(c), bx(c), by(c);
  for (int p = 0; p < c; ++p) {
    ax[p] = in.a->points[sel.ia[p]].x;
    ay[p] = in.a->points[sel.ia[p]].y;
    bx[p] = in.b->points[sel.ib[p]].x;
    by[p] = in.b->points[sel.ib[p]].y;
  }
  std::vector<std::int64_t> crowding(c);
  zyl::matchlib::pair_crowding(ax.data(), ay.data(), bx.data(), by.data(), c, crowding.data());
  std::int64_t support = 0, weights = 0, dsum = 0, sqsum = 0;
  for (int p = 0; p < c; ++p) {
    support += std::max<std::int64_t>(0, sel.weight[p] - crowding[p]);
    weights += sel.weight[p];
    dsum += sel.desc[p];
    sqsum += sel.sq[p];
  }
  const int k = std::min(c, 10), r = 10 - k;
  st.pairs = static_cast<std::int16_t>(std::min(c, 32767));
  st.unpaired = static_cast<std::int16_t>(std::clamp(in.a->point_count - c, -32768, 32767));
  if (c) {
    st.descriptor_figure =
        static_cast<std::int16_t>(std::min<std::int64_t>((dsum * 100 / c * k + 4300 * r) / 10, 32767));
    st.distance_figure =
        static_cast<std::int16_t>(std::min<std::int64_t>((sqsum * 100 / c * k + 400 * r) / 10, 32767));
  } else {
    st.descriptor_figure = 4300;
    st.distance_figure = 400;
  }
  st.support = static_cast<std::int32_t>(std::min<std::int64_t>(c ? support : 0, INT32_MAX));
  detail = weights;
  return ML_OK;
}

// The refined search of the global scorer (type-0x10 descriptors).
int refined_search_global(const ScoreInput& in, const NearestMatch& m, const PairAlignment& al,
                          Selected& sel, PairStats& st, std::int64_t& detail) {
  const int e16 = extension_index(in.a, 0x10), f16 = extension_index(in.b, 0x10);
  if (e16 < 0 || f16 < 0) return ML_WRONG_KIND;
  const DescriptorType* type = in.a->extension_types[e16];
  const bool excl = capture_excludes_flagged(in.ia, in.ib, al);
  std::vector<NearRecord> ra, rb;
  nearest_positions(in, al, ra, rb);
  auto take = [&](const NearRecord& r, int u) -> int {
    if (r.sq > 24 || !pair_valid(in, r.ia, r.ib)) return ML_OK;
    if (excl && pair_flagged(in, r.ia, r.ib)) return ML_OK;
    std::uint8_t v = 0;
    if (const int s = type->pair_distance(r.ia, r.ib, 1, in.a->extension_arrays[e16],
                                          in.b->extension_arrays[f16], 64, 0, &v))
      return s;
    if (u > 59 || u + 3 < v) return ML_OK;
    sel.ia.push_back(static_cast<std::uint16_t>(r.ia));
    sel.ib.push_back(static_cast<std::uint16_t>(r.ib));
    sel.sq.push_back(r.sq);
    sel.desc.push_back(v);
    sel.weight.push_back(static_cast<int>(5 * u - 5 * v - r.sq + 40));
    return ML_OK;
  };
  for (int i = 0; i < in.a->point_count; ++i)
    if (const int s = take(ra[i], i < m.count_a ? m.best_a[i] : 0xffff)) return s;
  for (int j = 0; j < in.b->point_count; ++j)
    if (const int s = take(rb[j], j < m.count_b ? m.best_b[j] : 0xffff)) return s;
  const int c = static_cast<int>(sel.ia.size());
  std::int64_t weights = 0, dsum = 0, sqsum = 0;
  for (int p = 0; p < c; ++p) weights += sel.weight[p], dsum += sel.desc[p], sqsum += sel.sq[p];
  st.pairs = static_cast<std::int16_t>(std::min(c, 32767));
  st.unpaired = static_cast<std::int16_t>(std::clamp(in.a->point_count - c, -32768, 32767));
  st.descriptor_figure = static_cast<std::int16_t>(c ? std::min<std::int64_t>(dsum * 100 / c, 32767) : -1);
  st.distance_figure = static_cast<std::int16_t>(c ? std::min<std::int64_t>(sqsum * 100 / c, 32767) : -1);
  st.support = 0;
  detail = weights;
  return ML_OK;
}

int overlap_stats(const ScoreInput& in, const PairAlignment& al, PairStats& st) {
  const BlockRecord* a = in.a;
  const BlockRecord* b = in.b;
  const bool excl = capture_excludes_flagged(in.ia, in.ib, al);
  const std::int64_t limit = distance_limit(in.settings->distance_setting, a->point_count, b->point_count);
  const int margin =
      static_cast<int>(zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(limit))) - 4;
  int na = 0, nb = 0;
  for (int i = 0; i < a->point_count; ++i) {
    if (excl && a->points[i].spare) continue;
    const Mapped q = map_point(al, a->points[i].x, a->points[i].y);
    if (q.x >= -margin && q.y >= -margin && q.x < b->width + margin && q.y < b->height + margin) ++na;
  }
  for (int j = 0; j < b->point_count; ++j) {
    if (excl && b->points[j].spare) continue;
    const Mapped q = map_inverse(al, b->points[j].x, b->points[j].y);
    if (q.x >= -margin && q.y >= -margin && q.x < a->width + margin && q.y < a->height + margin) ++nb;
  }
  st.overlap_a = static_cast<std::uint16_t>(std::min(na, 0xffff));
  st.overlap_b = static_cast<std::uint16_t>(std::min(nb, 0xffff));
  st.overlap_percent = 0;
  const std::int64_t area_a = std::int64_t{a->width} * a->height;
  if (area_a <= 0 || b->width == 0 || b->height == 0) return ML_OK;
  auto clamp16 = [](int v) { return static_cast<std::int16_t>(std::clamp(v, -32768, 32767)); };
  const int corners[4][2] = {{0, 0}, {a->width, 0}, {a->width, a->height}, {0, a->height}};
  PolyPoint pa[4];
  for (int k = 0; k < 4; ++k) {
    const Mapped q = map_point(al, corners[k][0], corners[k][1]);
    pa[k] = {clamp16(q.x), clamp16(q.y)};
  }
  const PolyPoint pb[4] = {{0, 0},
                           {clamp16(b->width), 0},
                           {clamp16(b->width), clamp16(b->height)},
                           {0, clamp16(b->height)}};
  Polygon* ga = zyl::matchlib::polygon_convex_hull(pa, 4);
  Polygon* gb = zyl::matchlib::polygon_convex_hull(pb, 4);
  Polygon* gi = ga && gb ? zyl::matchlib::polygon_intersect(ga, gb) : nullptr;
  const bool ok = ga && gb && gi;
  const std::int64_t area = ok ? std::llabs(zyl::matchlib::polygon_area(gi)) : 0;
  zyl::matchlib::polygon_free(gi);
  zyl::matchlib::polygon_free(gb);
  zyl::matchlib::polygon_free(ga);
  if (!ok) return ML_NO_MEMORY;
  st.overlap_percent = static_cast<std::uint8_t>(std::min<std::int64_t>(area * 100 / area_a, 100));
  return ML_OK;
}

int pair_score_vector(const ScoreInput& in, const PairStats& st, std::int64_t detail,
                      std::uint16_t** out, int* count) {
  auto* v = static_cast<std::uint16_t*>(std::calloc(PAIR_SCORE_COUNT, sizeof(std::uint16_t)));
  if (!v) return ML_NO_MEMORY;
  if (st.pairs <= 0) {
    v[2] = 4300;
    v[3] = 400;
  } else {
    const int s = zyl::matchlib::keypoint_budget_from_area(in.a->width * in.a->height);
    std::int64_t e = std::max<std::int64_t>(2 * s / 5, std::int64_t{st.overlap_a} + st.overlap_b);
    const std::int64_t l = std::int64_t{s} * std::max<int>(st.overlap_percent, 20) / 50;
    int ca = 0, cb = 0;
    zyl::matchlib::coverage_percent(in.a, &ca);
    zyl::matchlib::coverage_percent(in.b, &cb);
    const int c = ca + cb;
    if (c <= 151) e = c < 52 ? l : (e * (c / 2 - 25) + l * (75 - c / 2)) / 50;
    // Tiny areas would make the root 0; one point of expectation at least.
    e = std::clamp<std::int64_t>(e, 1, 0x3fffffff / 128);
    const std::int64_t root = zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(e * 128));
    auto u16 = [](std::int64_t x) { return static_cast<std::uint16_t>(std::clamp<std::int64_t>(x, 0, 0xffff)); };
    if (detail) {
      v[0] = u16(detail * 128 / root);
      v[1] = st.overlap_percent;
      v[2] = static_cast<std::uint16_t>(st.descriptor_figure);
      v[3] = static_cast<std::uint16_t>(st.distance_figure);
      v[4] = u16(st.support);
    } else {
      v[0] = u16(std::int64_t{st.pairs} * 4096 / root);
    }
  }
  *out = v;
  *count = PAIR_SCORE_COUNT;
  return ML_OK;
}

// Steps shared by the two scorers once an alignment search has run.
int finish_score(const ScoreInput& in, Selected& sel, PairStats& st, std::int64_t detail,
                 PairAlignment& al, std::uint16_t** out, int* count) {
  const int n = static_cast<int>(sel.ia.size());
  if (n > 5) {
    std::vector<std::int32_t> ax(n), ay(n), bx(n), by(n);
    for (int k = 0; k < n; ++k) {
      ax[k] = in.a->points[sel.ia[k]].x;
      ay[k] = in.a->points[sel.ia[k]].y;
      bx[k] = in.b->points[sel.ib[k]].x;
      by[k] = in.b->points[sel.ib[k]].y;
    }
    zyl::matchlib::rigid_fit(ax.data(), ay.data(), bx.data(), by.data(), n, &al);
  }
  if (const int s = overlap_stats(in, al, st)) return s;
  return pair_score_vector(in, st, detail, out, count);
}

int parse_pair(const std::uint8_t* a, std::uint32_t al, const std::uint8_t* b, std::uint32_t bl,
               const MatcherSettings& s, RecordPtr& ra, RecordPtr& rb) {
  BlockRecord* r = nullptr;
  if (const int st = zyl::matchlib::blockrec_parse(a, al, s.parse_selection, s.point_limit, &r))
    return st;
  ra.reset(r);
  r = nullptr;
  if (const int st = zyl::matchlib::blockrec_parse(b, bl, s.parse_selection, s.point_limit, &r))
    return st;
  rb.reset(r);
  const auto need = static_cast<std::uint32_t>(s.extension_types);
  if (!zyl::matchlib::extension_mask_covers(need,
                                            zyl::matchlib::blockrec_extension_mask(ra.get())) ||
      !zyl::matchlib::extension_mask_covers(need, zyl::matchlib::blockrec_extension_mask(rb.get())))
    return ML_WRONG_KIND;
  return ML_OK;
}

SampleInfo info_or_zero(const SampleInfo* i) { return i ? *i : SampleInfo{}; }

}  // namespace

NearestMatch* zyl::matchlib::nearest_match_create(int count_a, int count_b) {
  if (count_a < 0 || count_b < 0) return nullptr;
  auto* m = static_cast<NearestMatch*>(std::calloc(1, sizeof(NearestMatch)));
  if (!m) return nullptr;
  m->count_a = count_a;
  m->count_b = count_b;
  const std::size_t na = static_cast<std::size_t>(count_a) + 1, nb = static_cast<std::size_t>(count_b) + 1;
  m->best_a = static_cast<std::uint16_t*>(std::malloc(na * 2));
  m->match_a = static_cast<std::uint16_t*>(std::malloc(na * 2));
  m->best_b = static_cast<std::uint16_t*>(std::malloc(nb * 2));
  m->match_b = static_cast<std::uint16_t*>(std::malloc(nb * 2));
  if (!m->best_a || !m->match_a || !m->best_b || !m->match_b) {
    zyl::matchlib::nearest_match_free(m);
    return nullptr;
  }
  reset_nearest(*m);
  return m;
}

void zyl::matchlib::nearest_match_free(NearestMatch* m) {
  if (!m) return;
  std::free(m->best_a);
  std::free(m->best_b);
  std::free(m->match_a);
  std::free(m->match_b);
  std::free(m);
}

MinutiaPairing* zyl::matchlib::pairing_create(const MatcherSettings* settings) {
  auto* p = static_cast<MinutiaPairing*>(std::calloc(1, sizeof(MinutiaPairing)));
  if (p && settings) p->settings = *settings;
  return p;
}

void zyl::matchlib::pairing_free(MinutiaPairing* p) {
  if (!p) return;
  zyl::matchlib::nearest_match_free(p->nearest);
  std::free(p->pairs);
  std::free(p);
}

bool zyl::matchlib::pair_distance_mode_supported(int32_t mode) {
  // The 256-bit distance reads a descriptor and the one after it, so it
  // describes no single pair of points (and would read past the last
  // descriptor); list matching refuses it too.
  return mode == 0 || mode == 0x80 || mode == 64;
}

int zyl::matchlib::extension_mask_covers(uint32_t required, uint32_t present) {
  return (required & ~present) == 0 ? 1 : 0;
}

uint32_t zyl::matchlib::blockrec_extension_mask(const BlockRecord* record) {
  if (!record) return 0;
  std::uint32_t m = 0;
  for (int k = 0; k < record->extension_type_count && k < BLOCKREC_MAX_EXTENSIONS; ++k)
    if (record->extension_types[k]) m |= record->extension_types[k]->type_id;
  return m;
}

void zyl::matchlib::pair_alignment_identity(PairAlignment* a) {
  if (a) *a = {0, 0, kQ14, 0, 0};
}

void zyl::matchlib::alignment_from_xform(const RigidTransform* t, int resolution,
                                         PairAlignment* out) {
  if (!out) return;
  zyl::matchlib::pair_alignment_identity(out);
  if (!t || resolution <= 0) return;
  // Transform offsets are 1/128000 inch; the matcher wants 1/16384 pixel.
  out->dx = static_cast<std::int32_t>(div_round(std::int64_t{t->dx} * resolution * kQ14, 128000));
  out->dy = static_cast<std::int32_t>(div_round(std::int64_t{t->dy} * resolution * kQ14, 128000));
  out->angle = t->angle & 0xffffff;
  phase_trig(out->angle, out->cosine, out->sine);
}

RigidTransform* zyl::matchlib::alignment_to_xform(const PairAlignment* a, int resolution) {
  if (!a || resolution <= 0) return nullptr;
  RigidTransform* t = zyl::matchlib::xform_create_dpi_phase(0, 0, a->angle & 0xffffff, resolution);
  if (!t) return nullptr;
  // Keep the sub-pixel part of the offsets.
  t->dx = static_cast<std::int32_t>(div_round(std::int64_t{a->dx} * 128000, std::int64_t{kQ14} * resolution));
  t->dy = static_cast<std::int32_t>(div_round(std::int64_t{a->dy} * 128000, std::int64_t{kQ14} * resolution));
  return t;
}

int zyl::matchlib::rigid_fit(const int32_t* ax, const int32_t* ay, const int32_t* bx,
                             const int32_t* by, int n, PairAlignment* out) {
  if (n < 1 || !ax || !ay || !bx || !by || !out) return ML_BAD_ARGUMENT;
  std::int64_t sax = 0, say = 0, sbx = 0, sby = 0;
  for (int k = 0; k < n; ++k) sax += ax[k], say += ay[k], sbx += bx[k], sby += by[k];
  __int128 sxx = 0, sxy = 0, syx = 0, syy = 0;
  for (int k = 0; k < n; ++k) {
    const std::int64_t cax = std::int64_t{n} * ax[k] - sax, cay = std::int64_t{n} * ay[k] - say;
    const std::int64_t cbx = std::int64_t{n} * bx[k] - sbx, cby = std::int64_t{n} * by[k] - sby;
    sxx += static_cast<__int128>(cax) * cbx;
    sxy += static_cast<__int128>(cax) * cby;
    syx += static_cast<__int128>(cay) * cbx;
    syy += static_cast<__int128>(cay) * cby;
  }
  auto mag = [](__int128 v) { return v < 0 ? -v : v; };
  while (mag(sxx) > 0x10000000 || mag(sxy) > 0x10000000 || mag(syx) > 0x10000000 ||
         mag(syy) > 0x10000000) {
    sxx /= 2, sxy /= 2, syx /= 2, syy /= 2;
  }
  const int phase =
      zyl::matchlib::fx_atan2_phase24(static_cast<int>(sxy - syx), static_cast<int>(sxx + syy)) &
      0xffffff;
  int c = 0, s = 0;
  phase_trig(phase, c, s);
  out->cosine = c;
  out->sine = s;
  out->angle = phase;
  out->dx = static_cast<std::int32_t>(div_round(std::int64_t{kQ14} * sbx - (c * sax - s * say), n));
  out->dy = static_cast<std::int32_t>(div_round(std::int64_t{kQ14} * sby - (s * sax + c * say), n));
  return ML_OK;
}

int zyl::matchlib::coverage_percent(const BlockRecord* record, int* out_percent) {
  if (out_percent) *out_percent = 0;
  if (!record) return ML_CORRUPT;
  const int cols = record->width / 8, rows = record->height / 8;
  if (cols <= 0 || rows <= 0) return ML_OK;  // no whole cell: nothing covered
  std::vector<std::uint8_t> cells;
  if (const int st = zyl::GuardedCall(ML_NO_MEMORY, [&] {
        cells.assign(static_cast<std::size_t>(cols) * rows, 0);
        return ML_OK;
      }))
    return st;
  int occupied = 0;
  for (int i = 0; i < record->point_count; ++i) {
    const int cx = record->points[i].x / 8, cy = record->points[i].y / 8;
    if (record->points[i].x < 0 || record->points[i].y < 0 || cx >= cols || cy >= rows) continue;
    std::uint8_t& c = cells[static_cast<std::size_t>(cy) * cols + cx];
    if (!c) c = 1, ++occupied;
  }
  if (out_percent) *out_percent = static_cast<int>(std::int64_t{occupied} * 100 / (std::int64_t{cols} * rows));
  return ML_OK;
}

static int pairs_match_unguarded(const BlockRecord* a, const BlockRecord* b,
                                 MinutiaPairing* pairing) {
  if (!a || !b || !pairing) return ML_BAD_ARGUMENT;
  const MatcherSettings& s = pairing->settings;
  const DescriptorType* types[BLOCKREC_MAX_EXTENSIONS + 1];
  if (select_types(static_cast<std::uint32_t>(s.extension_types), types) == 0) return ML_BAD_ARGUMENT;
  // The first selected type drives the list matching; a type without list
  // matching (the dense grid's type 0x8) cannot, so such a selection is
  // refused like one that selects nothing.
  const DescriptorType* type = types[0];
  if (!type->match_lists) return ML_BAD_ARGUMENT;
  if (!zyl::matchlib::pair_distance_mode_supported(s.distance_mode)) return ML_WRONG_KIND;
  NearestPtr first(zyl::matchlib::nearest_match_create(a->point_count, b->point_count));
  if (!first) return ML_NO_MEMORY;
  auto all = [](int) { return true; };
  int flag = 0;
  if (!s.two_run) {
    if (const int st = neighbour_search(type, a, b, 0, 0, s.distance_mode, false, *first, all)) return st;
  } else {
    NearestPtr second(zyl::matchlib::nearest_match_create(a->point_count, b->point_count));
    if (!second) return ML_NO_MEMORY;
    const int swap = (type->variant & DESC_VARIANT_SYMMETRIC) ? 1 : 0;
    if (const int st = neighbour_search(type, a, b, 0, 0, s.distance_mode, false, *first, all)) return st;
    if (const int st = neighbour_search(type, a, b, 1, swap, s.distance_mode, true, *second, all)) return st;
    if (sum_best_a(*second) < sum_best_a(*first)) {
      first = std::move(second);
      flag = 1;
    }
    // Mixed-class points (both class bits) see the same groups in either
    // run; the bright and dark ones get a second look in the winner with
    // the opposite descriptor sense, so that a point's best is kept
    // whichever way its contrast went.
    auto single = [](int c) { return (c & 3) == 1 || (c & 3) == 2; };
    if (const int st = neighbour_search(type, a, b, flag ? 0 : 1, flag ? 0 : swap, s.distance_mode,
                                        !flag, *first, single))
      return st;
  }
  std::vector<PairEntry> list;
  if (const int st = pair_list_build(*first, s.mutual != 0, list)) return st;
  PairEntry* stored = nullptr;
  if (!list.empty()) {
    stored = static_cast<PairEntry*>(std::malloc(list.size() * sizeof(PairEntry)));
    if (!stored) return ML_NO_MEMORY;
    std::copy(list.begin(), list.end(), stored);
  }
  zyl::matchlib::nearest_match_free(pairing->nearest);
  std::free(pairing->pairs);
  pairing->nearest = first.release();
  pairing->pairs = stored;
  pairing->pair_count = static_cast<std::int32_t>(list.size());
  pairing->alignment_flag = flag;
  return ML_OK;
}

// Only pairs whose first points lie within 5 of each other across can
// contribute (s <= 31 needs dx^2 <= 31), so the pairs are taken in order of
// their first point's x and each is compared with those up to 5 further on;
// each such unordered pair adds 32 - s to both of its pairs. The sums are
// integers, so the order they are formed in does not matter: the result
// equals the plain comparison of every pair with every other.
void zyl::matchlib::pair_crowding(const int16_t* ax, const int16_t* ay, const int16_t* bx,
                                  const int16_t* by, int count, int64_t* crowd) {
  if (count <= 0) return;
  std::vector<int> order(static_cast<std::size_t>(count));
  for (int p = 0; p < count; ++p) order[p] = p;
  std::sort(order.begin(), order.end(), [&](int l, int r) { return ax[l] < ax[r]; });
  std::fill(crowd, crowd + count, 0);
  for (int i = 0; i < count; ++i) {
    const int p = order[i];
    for (int k = i + 1; k < count && ax[order[k]] - ax[p] <= 5; ++k) {
      const int q = order[k];
      const std::int64_t s = dist_sq(ax[p], ay[p], ax[q], ay[q]) + dist_sq(bx[p], by[p], bx[q], by[q]);
      if (s <= 31) {
        crowd[p] += 32 - s;
        crowd[q] += 32 - s;
      }
    }
  }
}

int zyl::matchlib::pairs_match(const BlockRecord* a, const BlockRecord* b,
                               MinutiaPairing* pairing) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return pairs_match_unguarded(a, b, pairing); });
}

int zyl::matchlib::pairs_score(const BlockRecord* a, const BlockRecord* b, const SampleInfo* info_a,
                               const SampleInfo* info_b, const MinutiaPairing* pairing,
                               uint16_t** out_scores, int* out_count, PairAlignment* alignment) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!a || !b || !pairing || !pairing->nearest || !out_scores || !out_count || !alignment)
    return ML_BAD_ARGUMENT;
  const MatcherSettings& s = pairing->settings;
  const DescriptorType* types[BLOCKREC_MAX_EXTENSIONS + 1];
  if (select_types(static_cast<std::uint32_t>(s.extension_types), types) == 0) return ML_BAD_ARGUMENT;
  // A stored pairing brings its own distance mode to the refined search.
  if (!zyl::matchlib::pair_distance_mode_supported(s.distance_mode)) return ML_WRONG_KIND;
  const NearestMatch& m = *pairing->nearest;
  if (m.count_a != a->point_count || m.count_b != b->point_count) return ML_BAD_ARGUMENT;
  ScoreInput in{a, b, info_or_zero(info_a), info_or_zero(info_b), &s,
                s.two_run ? 255 : s.direction_tolerance};
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<PairEntry> pairs;
    for (int k = 0; k < pairing->pair_count; ++k)
      if (pair_valid(in, pairing->pairs[k].index_a, pairing->pairs[k].index_b))
        pairs.push_back(pairing->pairs[k]);
    PairAlignment al;
    alignment_ransac(in, pairs, s.hypothesis_limit, al);
    Selected sel;
    PairStats st{};
    std::int64_t detail = 0;
    if (s.refined_search) {
      if (const int r = refined_search(in, *pairing, al, sel, st, detail)) return r;
    } else {
      inlier_select(in, m, al, sel, st);
    }
    if (const int r = finish_score(in, sel, st, detail, al, out_scores, out_count)) return r;
    *alignment = al;
    return ML_OK;
  });
}

int zyl::matchlib::pairs_match_and_score(const uint8_t* a, uint32_t a_length,
                                         const SampleInfo* info_a, const uint8_t* b,
                                         uint32_t b_length, const SampleInfo* info_b,
                                         const MatcherSettings* settings, uint16_t** out_scores,
                                         int* out_count, PairAlignment* alignment, int* out_flag) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!settings) return ML_BAD_ARGUMENT;
  RecordPtr ra, rb;
  if (const int st = parse_pair(a, a_length, b, b_length, *settings, ra, rb)) return st;
  PairingPtr pairing(zyl::matchlib::pairing_create(settings));
  if (!pairing) return ML_NO_MEMORY;
  if (const int st = zyl::matchlib::pairs_match(ra.get(), rb.get(), pairing.get())) return st;
  if (const int st = zyl::matchlib::pairs_score(ra.get(), rb.get(), info_a, info_b, pairing.get(),
                                                out_scores, out_count, alignment))
    return st;
  if (out_flag) *out_flag = pairing->alignment_flag;
  return ML_OK;
}

int zyl::matchlib::pairs_match_global(const uint8_t* a, uint32_t a_length, const SampleInfo* info_a,
                                      const uint8_t* b, uint32_t b_length, const SampleInfo* info_b,
                                      const MatcherSettings* settings, uint16_t** out_scores,
                                      int* out_count, PairAlignment* alignment) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!settings || !out_scores || !out_count || !alignment) return ML_BAD_ARGUMENT;
  const MatcherSettings& s = *settings;
  if (s.extension_types != 0x10) return ML_WRONG_KIND;
  RecordPtr ra, rb;
  if (const int st = parse_pair(a, a_length, b, b_length, s, ra, rb)) return st;
  if (ra->point_count == 0 || rb->point_count == 0) return ML_WRONG_KIND;
  const int e = extension_index(ra.get(), 0x10);
  const DescriptorType* type = ra->extension_types[e];
  NearestPtr m(zyl::matchlib::nearest_match_create(ra->point_count, rb->point_count));
  if (!m) return ML_NO_MEMORY;
  if (const int st = neighbour_search(type, ra.get(), rb.get(), 0, 0, 64, false, *m, [](int) { return true; }))
    return st;
  ScoreInput in{ra.get(), rb.get(), info_or_zero(info_a), info_or_zero(info_b), &s,
                s.two_run ? 255 : s.direction_tolerance};
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<PairEntry> pairs;
    if (const int st = pair_list_build(*m, true, pairs)) return st;
    PairAlignment al;
    alignment_ransac(in, pairs, s.hypothesis_limit, al);
    Selected sel;
    PairStats st{};
    std::int64_t detail = 0;
    if (s.refined_search) {
      if (const int r = refined_search_global(in, *m, al, sel, st, detail)) return r;
    } else {
      inlier_select(in, *m, al, sel, st);
    }
    if (const int r = finish_score(in, sel, st, detail, al, out_scores, out_count)) return r;
    *alignment = al;
    return ML_OK;
  });
}

extern "C" {

ZYL_API NearestMatch* nearest_match_create(int count_a, int count_b) {
  return zyl::matchlib::nearest_match_create(count_a, count_b);
}
ZYL_API void nearest_match_free(NearestMatch* m) { zyl::matchlib::nearest_match_free(m); }
ZYL_API MinutiaPairing* pairing_create(const MatcherSettings* settings) {
  return zyl::matchlib::pairing_create(settings);
}
ZYL_API void pairing_free(MinutiaPairing* p) { zyl::matchlib::pairing_free(p); }
ZYL_API int extension_mask_covers(uint32_t required, uint32_t present) {
  return zyl::matchlib::extension_mask_covers(required, present);
}
ZYL_API uint32_t blockrec_extension_mask(const BlockRecord* record) {
  return zyl::matchlib::blockrec_extension_mask(record);
}
ZYL_API void pair_alignment_identity(PairAlignment* a) {
  zyl::matchlib::pair_alignment_identity(a);
}
ZYL_API void alignment_from_xform(const RigidTransform* t, int resolution, PairAlignment* out) {
  zyl::matchlib::alignment_from_xform(t, resolution, out);
}
ZYL_API RigidTransform* alignment_to_xform(const PairAlignment* a, int resolution) {
  return zyl::matchlib::alignment_to_xform(a, resolution);
}
ZYL_API int rigid_fit(const int32_t* ax, const int32_t* ay, const int32_t* bx, const int32_t* by,
                      int n, PairAlignment* out) {
  return zyl::matchlib::rigid_fit(ax, ay, bx, by, n, out);
}
ZYL_API int coverage_percent(const BlockRecord* record, int* out_percent) {
  return zyl::matchlib::coverage_percent(record, out_percent);
}
ZYL_API int pairs_match(const BlockRecord* a, const BlockRecord* b, MinutiaPairing* pairing) {
  return zyl::matchlib::pairs_match(a, b, pairing);
}
ZYL_API int pairs_score(const BlockRecord* a, const BlockRecord* b, const SampleInfo* info_a,
                        const SampleInfo* info_b, const MinutiaPairing* pairing,
                        uint16_t** out_scores, int* out_count, PairAlignment* alignment) {
  return zyl::matchlib::pairs_score(a, b, info_a, info_b, pairing, out_scores, out_count,
                                    alignment);
}
ZYL_API int pairs_match_and_score(const uint8_t* a, uint32_t a_length, const SampleInfo* info_a,
                                  const uint8_t* b, uint32_t b_length, const SampleInfo* info_b,
                                  const MatcherSettings* settings, uint16_t** out_scores,
                                  int* out_count, PairAlignment* alignment, int* out_flag) {
  return zyl::matchlib::pairs_match_and_score(a, a_length, info_a, b, b_length, info_b, settings,
                                              out_scores, out_count, alignment, out_flag);
}
ZYL_API int pairs_match_global(const uint8_t* a, uint32_t a_length, const SampleInfo* info_a,
                               const uint8_t* b, uint32_t b_length, const SampleInfo* info_b,
                               const MatcherSettings* settings, uint16_t** out_scores,
                               int* out_count, PairAlignment* alignment) {
  return zyl::matchlib::pairs_match_global(a, a_length, info_a, b, b_length, info_b, settings,
                                           out_scores, out_count, alignment);
}

}  // extern "C"

// Point scores of two minutia sets under anchored alignments, and the cut
// of both records to the area they share before tag matching.
#include <cstdlib>

#include "typeline/matching.h"

namespace zyl::typeline {

namespace {

constexpr int kNoPartner = 10000;

// Cost of pairing two minutiae, or kNoPartner beyond 16 pixels on an axis
// or 10 direction steps.
int pair_cost(const TypelineMinutia& p, const TypelineMinutia& q) {
  const int dx = std::abs(p.x - q.x), dy = std::abs(p.y - q.y);
  if (dx > 16 || dy > 16) return kNoPartner;
  const int d = turn_difference(p.direction, q.direction);
  return d <= 10 ? dx + dy + d : kNoPartner;
}

// A minutia's cost against b, scanning b in its own order: the scan stops at
// the first partner cheaper than 20, else the cheapest one counts.
template <typename Indexes>
int scan_cost(const TypelineMinutia& p, std::span<const TypelineMinutia> b, const Indexes& indexes) {
  int best = kNoPartner;
  for (const int j : indexes) {
    best = std::min(best, pair_cost(p, b[static_cast<std::size_t>(j)]));
    if (best < 20) break;
  }
  return best;
}

}  // namespace

int set_score(std::span<const TypelineMinutia> a, std::span<const TypelineMinutia> b) {
  // Only b's minutiae within 16 pixels in x can pair, so b is ordered by x
  // once and each minutia of a scans that window, taken in b's own order
  // (which decides where the scan stops): the result is that of a scan of
  // the whole of b.
  constexpr std::size_t kIndexed = 64;  // the engine's lists hold at most 54
  std::array<int, kIndexed> by_x{}, window{};
  const bool indexed = b.size() <= kIndexed;
  const auto x_of = [&](int j) { return b[static_cast<std::size_t>(j)].x; };
  if (indexed) {
    for (std::size_t j = 0; j < b.size(); ++j) by_x[j] = static_cast<int>(j);
    std::stable_sort(by_x.begin(), by_x.begin() + static_cast<std::ptrdiff_t>(b.size()),
                     [&](int i, int j) { return x_of(i) < x_of(j); });
  }
  int sum = 0;
  for (const TypelineMinutia& p : a) {
    int e;
    if (indexed) {
      const auto first = by_x.begin(), last = by_x.begin() + static_cast<std::ptrdiff_t>(b.size());
      const auto lo = std::partition_point(first, last, [&](int j) { return x_of(j) < p.x - 16; });
      std::size_t n = 0;
      for (auto it = lo; it != last && x_of(*it) <= p.x + 16; ++it)
        if (std::abs(b[static_cast<std::size_t>(*it)].y - p.y) <= 16) window[n++] = *it;
      std::sort(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(n));
      e = scan_cost(p, b, std::span(window).first(n));
    } else {
      std::vector<int> all(b.size());
      for (std::size_t j = 0; j < b.size(); ++j) all[j] = static_cast<int>(j);
      e = scan_cost(p, b, all);
    }
    if (e <= 34) sum += 35 - e;
  }
  const int n = static_cast<int>(a.size() + b.size()) / 2;
  return n == 0 ? 0 : sum * 100 / n;
}

int largest_curvature(const TypelineMinutiaList& list) {
  int c = 0;
  for (const TypelineMinutia& m : minutiae_of(list)) c = std::max<int>(c, m.curvature);
  return c;
}

std::vector<int> choose_anchors(const TypelineMinutiaList& list, int curvature_limit, int min_quality, int spacing,
                                std::size_t max_anchors) {
  std::vector<int> anchors;
  const auto m = minutiae_of(list);
  for (std::size_t i = 0; i < m.size() && anchors.size() < max_anchors; ++i) {
    if (m[i].curvature >= curvature_limit || m[i].quality < min_quality) continue;
    const bool apart = std::all_of(anchors.begin(), anchors.end(),
                                   [&](int j) { return squared_distance(m[i], m[j]) > spacing; });
    if (apart) anchors.push_back(static_cast<int>(i));
  }
  return anchors;
}

namespace {

constexpr std::size_t kMaxAnchors = 7;
constexpr int kAnchorSpacing = 900;  // squared: anchors more than 30 apart
constexpr int kEarlyAnswer = 1700;


// A record's core frame: core centre and, with two cores, the axis from the
// second core towards the first.
struct CoreFrame {
  int count = 0;
  int cx = 0, cy = 0;
  int direction = 0;  // the core's direction (one core) or the axis (two)
};

CoreFrame frame_of(const TypelineRecord& record) {
  const Cores cores = cores_of(record.singular);
  CoreFrame f;
  f.count = cores.count;
  if (cores.count == 0) return f;
  const auto& c = cores.points;
  if (cores.count == 1) {
    f.cx = c[0].x;
    f.cy = c[0].y;
    f.direction = c[0].direction;
  } else {
    f.cx = (c[0].x + c[1].x) / 2;
    f.cy = (c[0].y + c[1].y) / 2;
    f.direction = direction_towards(c[0].x, c[0].y, c[1].x, c[1].y);
  }
  return f;
}

// Does the minutia pair keep its angle to the core frames? t and t2 are the
// angles to the frame direction (t2 = t + 120 for two cores).
bool frames_agree(const CoreFrame& fa, int ta, const CoreFrame& fb, int tb, int tolerance) {
  if (fa.count == 0 || fb.count == 0) return true;
  const int ta2 = wrap_direction(ta + kHalfTurn), tb2 = wrap_direction(tb + kHalfTurn);
  const auto near = [tolerance](int x, int y) { return turn_difference(x, y) <= tolerance; };
  if (fa.count == 1 && fb.count == 1) return near(ta, tb);
  if (fa.count == 2 && fb.count == 1) return near(ta, tb) || near(ta2, tb);
  if (fa.count == 1 && fb.count == 2) return near(ta, tb) || near(ta, tb2);
  return (near(ta, tb) || near(ta, tb2)) && (near(ta2, tb) || near(ta2, tb2));
}

// Score of a's minutiae laid on b by bringing anchor p onto q.
int anchored_score(TypelineMinutiaList& a, const TypelineMinutiaList& saved, const TypelineMinutia& p,
                   const TypelineMinutia& q, const TypelineMinutiaList& b) {
  const int r = wrap_direction(q.direction - p.direction);
  transform_minutiae(a, p.x, p.y, r, q.x - p.x, q.y - p.y);
  const int score = set_score(minutiae_of(a), minutiae_of(b));
  a = saved;
  return score;
}

}  // namespace

int point_score(TypelineRecord& a, const TypelineRecord& b) {
  const TypelineMinutiaList saved = a.minutiae;
  if (minutia_count(a.minutiae) < 3 || minutia_count(b.minutiae) < 3) return 0;
  const CoreFrame fa = frame_of(a), fb = frame_of(b);
  const int c = std::min(largest_curvature(a.minutiae), largest_curvature(b.minutiae));
  const bool poor = a.minutiae.meanQuality < 35 || b.minutiae.meanQuality < 35;
  const int t1 = poor ? 30 : 18, t2 = poor ? 40 : 30;
  const bool same_frame = fa.count == fb.count && fa.count > 0;

  int best = 0;
  for (int ia : choose_anchors(a.minutiae, c + 8, 0, kAnchorSpacing, kMaxAnchors)) {
    const TypelineMinutia p = saved.minutiae[ia];
    const int ra = same_frame ? rounded_sqrt(squared_distance(p.x, p.y, fa.cx, fa.cy)) : 0;
    const int ta = wrap_direction(p.direction - fa.direction);
    for (const TypelineMinutia& q : minutiae_of(b.minutiae)) {
      if (std::abs(q.curvature - p.curvature) > 5) continue;
      const int tb = wrap_direction(q.direction - fb.direction);
      if (!frames_agree(fa, ta, fb, tb, t2)) continue;
      if (same_frame && std::abs(ra - rounded_sqrt(squared_distance(q.x, q.y, fb.cx, fb.cy))) > t1) continue;
      const int score = anchored_score(a.minutiae, saved, p, q, b.minutiae);
      if (score > kEarlyAnswer) return score;
      best = std::max(best, score);
    }
  }
  return best;
}

int point_score2(TypelineRecord& a, const TypelineRecord& b, int& block_agreement_out) {
  const TypelineMinutiaList saved = a.minutiae;
  block_agreement_out = 0;
  if (minutia_count(a.minutiae) < 3 || minutia_count(b.minutiae) < 3) return 0;
  if (a.minutiae.meanQuality < 25 || b.minutiae.meanQuality < 25) return 0;
  const int c = std::min(largest_curvature(a.minutiae), largest_curvature(b.minutiae));
  const auto good = [](const TypelineMinutia& m) { return m.quality > 29; };

  int best = 0, best_r = 0, best_dx = 0, best_dy = 0;
  TypelineMinutia best_anchor{};
  for (int ia : choose_anchors(a.minutiae, c + 8, 30, kAnchorSpacing, kMaxAnchors)) {
    const TypelineMinutia p = saved.minutiae[ia];
    for (const TypelineMinutia& q : minutiae_of(b.minutiae)) {
      if (!good(q) || std::abs(q.curvature - p.curvature) > 5) continue;
      const int score = anchored_score(a.minutiae, saved, p, q, b.minutiae);
      if (score > best) {
        best = score;
        best_r = wrap_direction(q.direction - p.direction);
        best_dx = q.x - p.x;
        best_dy = q.y - p.y;
        best_anchor = p;
      }
    }
  }
  if (best == 0) return 0;
  TypelineBlockGrid grid = a.grid;
  transform_block(best_r, best_dx, best_dy, best_anchor.x, best_anchor.y, grid);
  block_agreement_out = block_agreement(30, 4, grid, b.grid);
  return best;
}

namespace {

struct Alignment {
  int r = 0, dx = 0, dy = 0, cx = 0, cy = 0;
};

int aligned_matches(const TypelineRecord& a, const TypelineRecord& b, const Alignment& al) {
  TypelineMinutiaList moved = a.minutiae;
  transform_minutiae(moved, al.cx, al.cy, al.r, al.dx, al.dy);
  return matched_minutiae(13, 7, moved, b.minutiae);
}

}  // namespace

int arrange_points(TypelineRecord& a, TypelineRecord& b, PairTagList& second_list, int& bound,
                   const BucketIndex& second_buckets, bool prune) {
  if (minutia_count(a.minutiae) == 0 || minutia_count(b.minutiae) == 0) return -1;
  const Cores ca = cores_of(a.singular), cb = cores_of(b.singular);
  if (ca.count == 0 || cb.count == 0) return 0;

  Alignment al;
  if (ca.count == cb.count) {
    const CoreFrame fa = frame_of(a), fb = frame_of(b);
    al = {wrap_direction(fb.direction - fa.direction), fb.cx - fa.cx, fb.cy - fa.cy, fa.cx, fa.cy};
    if (ca.count == 2) {
      Alignment turned = al;
      turned.r = wrap_direction(al.r + kHalfTurn);
      if (aligned_matches(a, b, al) <= aligned_matches(a, b, turned)) al = turned;
    }
  } else {
    int best = 0;
    const bool a_single = ca.count == 1;
    const int pairings = a_single ? cb.count : ca.count;
    for (int k = 0; k < pairings; ++k) {
      const TypelineSingularPoint& p = a_single ? ca.points[0] : ca.points[k];
      const TypelineSingularPoint& q = a_single ? cb.points[k] : cb.points[0];
      const Alignment trial{wrap_direction(q.direction - p.direction), q.x - p.x, q.y - p.y, p.x, p.y};
      const int score = aligned_matches(a, b, trial);
      if (score > best) {
        best = score;
        al = trial;
      }
    }
    if (best == 0) return 0;
  }

  if (!prune) return 0;
  TypelineBlockGrid grid = a.grid;
  transform_block(al.r, al.dx, al.dy, al.cx, al.cy, grid);
  const int agreement = block_agreement(30, 5, grid, b.grid);
  if (agreement <= 80) return 0;
  const int ta = a.patternType, tb = b.patternType;
  if (ta == 8 || tb == 8 || (ta == tb && ta < 2)) {
    TypelineRecord untouched = a;
    int g = 0;
    const int score = point_score2(untouched, b, g);
    // The prints already agree over their whole area: nothing to cut.
    if (agreement <= g && ((g > 91 && score > 700) || (ta == 1 && tb == 1 && score > 1000))) return 0;
  }
  arrange_points_sub(al.cx, al.cy, al.r, al.dx, al.dy, a.minutiae, grid, b, second_list, bound, second_buckets);
  return 0;
}

bool arrange_points_sub(int cx, int cy, int r, int dx, int dy, TypelineMinutiaList& first_minutiae,
                        const TypelineBlockGrid& first_grid, TypelineRecord& second, PairTagList& second_list,
                        int& bound, const BucketIndex& second_buckets) {
  TypelineMinutiaList moved = first_minutiae;
  transform_minutiae(moved, cx, cy, r, dx, dy);
  const std::vector<int> common = common_cells(first_grid, second.grid);
  if (common.empty()) return false;
  constexpr int kReach = 22;
  apply_minutia_map(first_minutiae,
                    near_cells_map(first_minutiae, common, first_grid.columns, kReach, minutiae_of(moved)));

  const std::vector<int> second_map =
      near_cells_map(second.minutiae, common, second.grid.columns, kReach, minutiae_of(second.minutiae));
  // The second record is cut only together with its tags, so that no tag
  // is left naming a minutia that moved.
  if (keep_tags(second_list, second_map).empty()) return false;
  apply_minutia_map(second.minutiae, second_map);

  bound = 0;
  second_buckets.clear();
  for (int t = 0; t < second_list.count; ++t) {
    bound = std::max(bound, second_list.tags[t].length + 1);
    second_buckets.file(second_list.tags[t].firstAngle, t);
  }
  return true;
}

}  // namespace zyl::typeline

// The score scaling of point matching and its structural decisions: where
// the matched area lies, singular-point geometry, cores close together,
// minutia types, the neighbourhood of a shared core and pairs that stayed
// apart; plus the further decisions of the same family.
#include <cstdlib>

#include "typeline/matching.h"
#include "typeline/polygon.h"

namespace zyl::typeline {

bool is_paired(const PointMatchResult& result, int index, int side) {
  const std::int16_t* list = side == 0 ? result.first : result.second;
  for (int i = 0; i < pair_count(result); ++i)
    if (list[i] == index) return true;
  return false;
}

bool pairs_valid(const PointMatchResult& result, const TypelineMinutiaList& a, const TypelineMinutiaList& b) {
  if (result.pairCount < 0 || result.pairCount > TYPELINE_MAX_MINUTIAE) return false;
  const int na = minutia_count(a), nb = minutia_count(b);
  for (int i = 0; i < result.pairCount; ++i)
    if (result.first[i] < 0 || result.first[i] >= na || result.second[i] < 0 || result.second[i] >= nb) return false;
  return true;
}

namespace {

const TypelineMinutia& first_of(const TypelineMinutiaList& a, const PointMatchResult& r, int i) {
  return a.minutiae[r.first[i]];
}
const TypelineMinutia& second_of(const TypelineMinutiaList& b, const PointMatchResult& r, int i) {
  return b.minutiae[r.second[i]];
}

// Factor of the first step when the second list holds 100 tags or more.
int large_list_factor(const AdjustInputs& in) {
  const auto [P, bA, bB, n, D, N, m, K, L, Q, M] = in;
  if (bB <= 67 && bA <= 92 && n <= 9 && K == 0) return 100;
  if (P < 900 && n <= 9 && n * 100 < m * 34 && M == 0) return 120;
  if (bA <= 77 || (n <= 15 && n * 100 < m * 34 && L <= 4)) return 130;
  if (n <= 11 && P < 850 && L == 0 && n * 100 < m * 50) return 130;
  if (n <= 11 && P < 1190 && (bA <= 88 || D <= 224)) {
    if (bB <= 66 && L <= 1) return 110;
    return bB >= 80 || L >= 4 ? 140 : 130;
  }
  if (L <= 2 && n <= 12 && N < 200) {
    if (L == 0 && n <= 8 && n * 100 < m * 45) return 110;
    if (N < 135) return 130;
    if (L >= 1 && n >= 12 && bA >= 94) return 190;
    return bB <= 69 && n * 100 < m * 50 ? 140 : 150;
  }
  if (N < 200) {
    if (bB <= 72 && D <= 232 && K == 0) return 150;
    if (n * 100 < m * 45 && D <= 240) return 160;
    return N <= 130 || bB <= 72 ? 160 : 200;
  }
  if (n <= 11 && n * 100 < m * 50 && bB <= 74) return 160;
  if (L <= 1 && n <= 10 && n * 100 < m * 42) return 170;
  if (L <= 2 && n <= 13 && n * 100 < m * 45) return 165;
  if (L <= 3 && n <= 13 && n * 100 < m * 55) return 170;
  return 200;
}

// The first step for fewer than 100 tags: the score times tenths.
int small_list_scaled(int s, const AdjustInputs& in) {
  const auto [P, bA, bB, n, D, N, m, K, L, Q, M] = in;
  if (bB <= 40 && bA <= 95 && n <= 5 && K == 0) return s * 8 / 10;
  if (bB <= 59 && L <= 4 && bA <= 93 && n <= 8 && K == 0) return P < 650 ? s * 6 / 10 : s * 9 / 10;
  if (!(bB >= 72 || n >= 6 || m < 2 * n || M != 0)) return s;
  if (n * 100 < m * 50 && n <= 7 && Q == 0) return s * 9 / 10;
  if (!(n >= 5 && bA >= 87 && n * 100 >= m * 42 && ((D >= 232 && m < 2 * n) || bA >= 92))) return s;
  if (n <= 6 && ((N < 50 && D <= 236) || (n * 100 <= m * 50 && (D <= 233 || bB <= 66)))) return s * 14 / 10;
  if (n * 100 < m * 43 && D <= 234 && bA <= 92) return s * 15 / 10;
  if (L <= 2 && n <= 11) {
    if (L == 0 && n * 100 < m * 50) return s;
    if (L == 0 && bA <= 94 && (K == 0 || n >= 8 || D <= 215)) return s * 12 / 10;
    return bB <= 59 ? s * 13 / 10 : s * 16 / 10;
  }
  if (bB <= 59 && bA <= 87 && n <= 8 && K == 0) return s * 15 / 10;
  return s * 2;
}

}  // namespace

int adjust_score(int s, const AdjustInputs& in) {
  const auto [P, bA, bB, n, D, N, m, K, L, Q, M] = in;
  if (N < 100)
    s = small_list_scaled(s, in);
  else if (n * 100 >= m * 40 || n >= 9 || Q == 1)
    s = static_cast<int>(static_cast<long long>(s) * large_list_factor(in) / N);

  s = static_cast<int>((static_cast<long long>(s) * 929 + 1637) / 1000 * D / 255);
  if (L <= 4 && P <= 1184 && bA + D <= 334 && (bA <= 94 || bB <= 69) && (n <= 9 || (s < 13 * n && n <= 14)))
    s = bA >= 92 && L >= 1 && n >= 6 && N <= 49 ? s * D / 210 : s * D / 255;
  return s;
}

bool check_paired_mp(const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result) {
  if (a.meanQuality < 35 || b.meanQuality < 35) return true;
  const int n = pair_count(result);
  const int m = std::min(minutia_count(a), minutia_count(b));
  if (m * 50 < n * 100 || n == 0) return true;
  long long mx = 0, my = 0;
  for (int i = 0; i < n; ++i) {
    mx += first_of(a, result, i).x;
    my += first_of(a, result, i).y;
  }
  // The unmatched good minutiae of the record with more minutiae.
  const bool use_first = minutia_count(b) < minutia_count(a);
  const TypelineMinutiaList& list = use_first ? a : b;
  long long ux = 0, uy = 0;
  int count = 0;
  for (int k = 0; k < minutia_count(list); ++k) {
    const TypelineMinutia& p = list.minutiae[k];
    if (p.quality < 30 || is_paired(result, k, use_first ? 0 : 1)) continue;
    ux += p.x;
    uy += p.y;
    ++count;
  }
  if (count == 0) return true;
  const int d2 = squared_distance(static_cast<int>(mx / n), static_cast<int>(my / n), static_cast<int>(ux / count),
                                  static_cast<int>(uy / count));
  return rounded_sqrt(d2) < 79;
}

namespace {

int distance_of(const TypelineSingularPoint& p, const TypelineSingularPoint& q) {
  return rounded_sqrt(squared_distance(p.x, p.y, q.x, q.y));
}

// Direction of the line from q to p folded onto a half turn.
int line_of(const TypelineSingularPoint& p, const TypelineSingularPoint& q) {
  const int d = direction_towards(p.x, p.y, q.x, q.y);
  return d > 119 ? d - kHalfTurn : d;
}

struct PairGeometry {
  int dd, da;
};

// Length and line differences of two point pairs.
PairGeometry compare_pairs(const TypelineSingularPoint& p1, const TypelineSingularPoint& q1,
                           const TypelineSingularPoint& p2, const TypelineSingularPoint& q2) {
  return {std::abs(distance_of(p1, q1) - distance_of(p2, q2)), orientation_difference(line_of(p1, q1), line_of(p2, q2))};
}

}  // namespace

int dec_func_01(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result, int L) {
  const SingularSplit sa = split_singular_points(a.singular), sb = split_singular_points(b.singular);
  const bool h = !(a.minutiae.meanQuality < 30 || b.minutiae.meanQuality < 30);
  const int r = result.rotation;
  const int s0 = s;

  if (sa.core_count == 1 && sb.core_count == 1) {
    const TypelineSingularPoint &p = sa.cores[0], &q = sb.cores[0];
    const int d = distance_of(p, q), an = turn_difference(p.direction, q.direction);
    if (d < 13 && an >= 40)
      s = h ? s / 2 : s * 2 / 3;
    else if (d >= 39 && an <= 19)
      s = h ? s / 2 : (L <= 1 ? s * 68 / 100 : s * 80 / 100);
    else if (h && an <= 9 && d >= 33)
      s = s * 2 / 3;
    else if (h && an <= 9 && d >= 23)
      s = s * 85 / 100;
    else if (d >= 14 && an >= 31)
      s = s * 80 / 100;
    if (r >= 90 && r <= 149 && d >= 39 && an >= 30 && h) s /= 2;
    const int opposite = std::abs(120 - an);
    const int ta = a.patternType, tb = b.patternType;
    if (d >= 91 && opposite >= 30)
      s = h ? s / 2 : s * 2 / 3;
    else if (d >= 120 && h)
      s = (ta == 8 && (tb == 4 || tb == 5)) || (tb == 8 && (ta == 4 || ta == 5)) ? s * 3 / 5 : s / 3;
    else if (d > 100)
      s = s * 2 / 3;
  }

  if (sa.core_count == 2 && sb.core_count == 2) {
    const PairGeometry g = compare_pairs(sa.cores[0], sa.cores[1], sb.cores[0], sb.cores[1]);
    const int e = rounded_sqrt(g.da * g.da + g.dd * g.dd);
    if (e >= 50) s = a.minutiae.meanQuality < 30 && b.minutiae.meanQuality < 30 ? s * 2 / 3 : s / 2;
  }

  if ((sa.core_count == 1 && sb.core_count == 2) || (sa.core_count == 2 && sb.core_count == 1)) {
    const TypelineSingularPoint& single = sa.core_count == 1 ? sa.cores[0] : sb.cores[0];
    const auto& pair = sa.core_count == 2 ? sa.cores : sb.cores;
    const int g = std::min(squared_distance(single.x, single.y, pair[0].x, pair[0].y),
                           squared_distance(single.x, single.y, pair[1].x, pair[1].y));
    if (g > 16899) s = 0;
    if (g > 10815) s /= 2;
  }

  if (sa.delta_count > 0 && sb.delta_count > 0) {
    if (sa.delta_count == 2 && sb.delta_count == 2) {
      const PairGeometry g = compare_pairs(sa.deltas[0], sa.deltas[1], sb.deltas[0], sb.deltas[1]);
      const int e = rounded_sqrt(g.da * g.da + g.dd * g.dd);
      if (e >= 200 || (h && e >= 100)) s = 0;
      if (e >= 60 || g.da > 40) s -= s * e / 200;
      if (g.dd < 13 && g.da < 10) s = s * 6 / 5;
    } else if (sa.core_count == 1 && sa.delta_count == 1 && sb.core_count == 1 && sb.delta_count == 1 &&
               a.patternType == b.patternType &&
               (a.patternType == 4 || a.patternType == 5 || a.patternType == 7)) {
      const PairGeometry g = compare_pairs(sa.cores[0], sa.deltas[0], sb.cores[0], sb.deltas[0]);
      if (h && g.dd >= 130) s = 0;
      if (g.dd >= 53 || g.da >= 31) s = h ? s / 3 : s * 2 / 3;
      if (g.dd < 11 && g.da < 8 && s0 > 50) s = s * 6 / 5;
    }
  }
  return s;
}

int dec_func_03(int s, const TypelineRecord& a, const TypelineRecord& b, int D, int bA, int L) {
  const Cores ca = cores_of(a.singular), cb = cores_of(b.singular);
  bool near = false;
  for (int i = 0; i < ca.count && !near; ++i)
    for (int j = 0; j < cb.count && !near; ++j)
      near = squared_distance(ca.points[i].x, ca.points[i].y, cb.points[j].x, cb.points[j].y) < 324;
  if (!near) return s;
  if (D < 221 && bA < 91) return s / 2;
  if (D < 231 && bA < 80) return s * 2 / 3;
  if (D < 223 && bA < 97) return s * 2 / 3;
  if (D < 228 && bA < 90) return s * 8 / 10;
  if (D < 236 && bA < 95 && L < 2) return s * 8 / 10;
  return s;
}

int dec_func_07(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result) {
  const int n = pair_count(result);
  if (n == 0) return 0;
  int x = 0;
  for (int i = 0; i < n; ++i) {
    const TypelineMinutia &p = first_of(a, result, i), &q = second_of(b, result, i);
    if (p.type != q.type && (std::max(p.quality, q.quality) >= 40 || std::min(p.quality, q.quality) >= 25)) ++x;
  }
  if (n < 5) return s;
  if (x * 10 >= n * 7) return s / 2;
  if (x * 3 >= n * 2) return s * 6 / 8;
  if (x * 2 >= n) return s * 65 / 80;
  return s;
}

int dec_func_12(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result) {
  const Cores ca = cores_of(a.singular), cb = cores_of(b.singular);
  const TypelineSingularPoint *c1 = nullptr, *c2 = nullptr;
  for (int i = 0; i < ca.count && !c1; ++i)
    for (int j = 0; j < cb.count && !c1; ++j) {
      const TypelineSingularPoint &p = ca.points[i], &q = cb.points[j];
      if (turn_difference(p.direction, q.direction) <= 10 && squared_distance(p.x, p.y, q.x, q.y) < 169) {
        c1 = &p;
        c2 = &q;
      }
    }
  if (!c1) return s;
  PointPolygon pa{}, pb{};
  if (!minutia_polygon(a.minutiae, pa) || !minutia_polygon(b.minutiae, pb)) return s;
  const auto ring = [](const TypelineMinutia& m, const TypelineSingularPoint& c) {
    const int d2 = squared_distance(m.x, m.y, c.x, c.y);
    return d2 >= 169 && d2 <= 2499;
  };
  for (int k = 0; k < minutia_count(a.minutiae); ++k) {
    const TypelineMinutia& p = a.minutiae.minutiae[k];
    if (p.quality < 20 || is_paired(result, k, 0) || !ring(p, *c1) || !in_polygon(p.x, p.y, pb, 0)) continue;
    int h = 0;
    for (int j = 0; j < minutia_count(b.minutiae); ++j) {
      const TypelineMinutia& q = b.minutiae.minutiae[j];
      if (is_paired(result, j, 1) || !ring(q, *c2) || squared_distance(p, q) >= 324) continue;
      ++h;
      const int dd = turn_difference(p.direction, q.direction);
      if (dd >= 40)
        s -= 5;
      else if (dd >= 25)
        s -= 2;
    }
    if (h == 0 && p.quality >= 40) s -= 7;
  }
  return std::max(s, 0);
}

int dec_func_13(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result, int D,
                int bA) {
  const int n = pair_count(result);
  if (n >= 10 || (D >= 250 && bA >= 90)) return s;
  int f = 0;
  for (int i = 0; i < n; ++i) {
    const TypelineMinutia &p = first_of(a.minutiae, result, i), &q = second_of(b.minutiae, result, i);
    if (p.quality >= 30 && q.quality >= 30 && rounded_sqrt(squared_distance(p, q)) > 7) ++f;
  }
  static constexpr int kPenalty[] = {0, 2, 3, 12, 20};
  if (f >= 5)
    s /= 2;
  else
    s -= kPenalty[f];
  if (f >= 1 && D < 229 && bA < 87) s = s * 2 / 3;
  return s;
}

bool check_point_kind(const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result) {
  const int n = pair_count(result);
  if (n == 0) return false;
  for (int i = 0; i < n; ++i)
    if (first_of(a, result, i).type != second_of(b, result, i).type) return false;
  return true;
}

int dec_func_02(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result) {
  // Good unpaired minutiae around a pair on one side, none on the other.
  const auto crowd = [&](const TypelineMinutiaList& list, const TypelineMinutia& centre, int side, int min_quality) {
    int count = 0;
    for (int k = 0; k < minutia_count(list); ++k) {
      const TypelineMinutia& p = list.minutiae[k];
      if (p.quality >= min_quality && !is_paired(result, k, side) && squared_distance(p, centre) <= 1225) ++count;
    }
    return count;
  };
  int shown = 0;
  for (int i = 0; i < pair_count(result); ++i) {
    const TypelineMinutia &p = first_of(a, result, i), &q = second_of(b, result, i);
    const bool first_good = p.quality >= 45 && q.quality >= 30 && crowd(a, p, 0, 45) > 2 && crowd(b, q, 1, 0) == 0;
    const bool second_good = q.quality >= 45 && p.quality >= 30 && crowd(b, q, 1, 45) > 2 && crowd(a, p, 0, 0) == 0;
    if (first_good || second_good) ++shown;
  }
  return shown >= 2 ? s * 3 / 4 : s;
}

namespace {

// Unpaired minutiae of good quality inside the polygon of their record's
// paired minutiae that the other record does not show nearby. With
// skip_paired the other record's paired minutiae do not count as showing one.
int unexplained(const TypelineMinutiaList& own, const TypelineMinutiaList& other, const PointMatchResult& result,
                int side, int min_quality, int angle_limit, bool skip_paired) {
  TypelineMinutiaList paired{};
  const int n = pair_count(result);
  for (int i = 0; i < n; ++i)
    paired.minutiae[i] = own.minutiae[side == 0 ? result.first[i] : result.second[i]];
  paired.count = static_cast<std::int8_t>(n);
  PointPolygon polygon{};
  if (!minutia_polygon(paired, polygon)) return 0;
  int total = 0;
  for (int k = 0; k < minutia_count(own); ++k) {
    const TypelineMinutia& p = own.minutiae[k];
    if (p.quality < min_quality || is_paired(result, k, side) || !in_polygon(p.x, p.y, polygon, 0)) continue;
    if (!check_exist(p.x, p.y, p.direction, -1, 20, angle_limit, other, &result, skip_paired, false, 1 - side))
      ++total;
  }
  return total;
}

int mean_paired_quality(const TypelineMinutiaList& list, const std::int16_t* indexes, int n) {
  int sum = 0;
  for (int i = 0; i < n; ++i) sum += list.minutiae[indexes[i]].quality;
  return n > 0 ? sum / n : 0;
}

}  // namespace

int dec_func_04(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result) {
  const int n = pair_count(result);
  if (n < 3) return s;
  if (std::min(mean_paired_quality(a.minutiae, result.first, n), mean_paired_quality(b.minutiae, result.second, n)) < 50)
    return s;
  const int total =
      unexplained(a.minutiae, b.minutiae, result, 0, 40, 15, true) +
      unexplained(b.minutiae, a.minutiae, result, 1, 40, 15, true);
  if (total > 4) return s / 2;
  if (total >= 3) return s - 5 * total;
  return s;
}

int dec_func_05(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result) {
  const int n = pair_count(result);
  if (n < 3 || n > 10) return s;
  const auto angle = [](const TypelineMinutia& i, const TypelineMinutia& j, const TypelineMinutia& k) {
    return turn_difference(direction_towards(j.x, j.y, i.x, i.y), direction_towards(k.x, k.y, i.x, i.y));
  };
  for (int i = 0; i < n; ++i) {
    const TypelineMinutia &ai = first_of(a.minutiae, result, i), &bi = second_of(b.minutiae, result, i);
    if (ai.quality < 30 || bi.quality < 30) continue;
    const auto close = [&](int j) {
      const TypelineMinutia &aj = first_of(a.minutiae, result, j), &bj = second_of(b.minutiae, result, j);
      return aj.quality >= 20 && bj.quality >= 20 && squared_distance(ai, aj) <= 1520 && squared_distance(bi, bj) <= 1520;
    };
    for (int j = 0; j < n; ++j) {
      if (j == i || !close(j)) continue;
      for (int k = j + 1; k < n; ++k) {
        if (k == i || !close(k)) continue;
        const int angle_a = angle(ai, first_of(a.minutiae, result, j), first_of(a.minutiae, result, k));
        const int angle_b = angle(bi, second_of(b.minutiae, result, j), second_of(b.minutiae, result, k));
        if (std::abs(angle_a - angle_b) < 30) continue;
        const bool overlapping =
            cores_of(a.singular).count > 0 && cores_of(b.singular).count > 0 && check_overlap(a.singular, b.singular);
        return overlapping ? s * 7 / 10 : s * 8 / 10;
      }
    }
  }
  return s;
}

int dec_func_06(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result, int t, int D,
                int bA, int x) {
  const int n = pair_count(result);
  if (n == 0 || minutia_count(a.minutiae) == 0 || minutia_count(b.minutiae) == 0) return 0;
  if (!(n <= 11 && s < 3 * t && x < 4 * t && (D < 245 || bA < 95) && (n < 10 || D < 248 || bA < 92))) return s;
  // Unlike dec_func_04, any minutia of the other record explains one here,
  // paired or not.
  const int total = unexplained(a.minutiae, b.minutiae, result, 0, 30, 20, false) +
                    unexplained(b.minutiae, a.minutiae, result, 1, 30, 20, false);
  const bool good = a.minutiae.meanQuality >= 35 && b.minutiae.meanQuality >= 35;
  if (total > 4) return check_core(a.singular, b.singular, 16, 7) && good ? s / 2 : s * 7 / 10;
  if (total >= 3) return good ? s - 5 * total : s - 3 * total;
  return s;
}

}  // namespace zyl::typeline

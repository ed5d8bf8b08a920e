// Decisions on the minutiae that found no partner: good minutiae missing on
// the other side, and matched pairs whose surroundings disagree.
#include <cstdlib>

#include "typeline/matching.h"
#include "typeline/polygon.h"

namespace zyl::typeline {

bool check_exist(int x, int y, int direction, int skip, int radius, int angle_limit,
                 const TypelineMinutiaList& minutiae, const PointMatchResult* result, bool exclude_paired,
                 bool position_only, int side) {
  const long long r2 = static_cast<long long>(radius) * radius;
  for (int i = 0; i < minutia_count(minutiae); ++i) {
    if (i == skip) continue;
    if (exclude_paired && result && is_paired(*result, i, side)) continue;
    const TypelineMinutia& m = minutiae.minutiae[i];
    if (squared_distance(m.x, m.y, x, y) >= r2) continue;
    if (position_only || turn_difference(m.direction, direction) < angle_limit) return true;
  }
  return false;
}

int dec_func_10(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result,
                const DecisionInputs& in) {
  const auto [L, bA, D, P, K, bB] = in;
  const int n = pair_count(result);
  const int m = std::min(minutia_count(a), minutia_count(b));
  if (n == 0) return 0;
  if (!(D < 235 || ((n < 15 || L < 2 || n * 100 < m * 50) && n < 19))) return s;
  if (!(D < 235 || n < 14 || L < 3 || P < 851 || n * 100 < m * 50)) return s;
  if (L < 7) {
    if (L == 5 && n > 7 && P > 1035) return s;
    if (L == 4 && D > 240 && bB > 80 && bA > 81 && (n > 10 || (m * 35 < n * 100 && n > 4))) return s;
    if (L == 4 && D > 251 && bB > 82 && n > 17 && m * 43 < n * 100) return s;
    if (L == 2 && n > 9 && bA > 91 && P > 1099 && K == 1) return s;
    if (L == 3 && bB > 75 && n > 6 && bA > 84 && P > 1000 && D > 250 && m * 40 < n * 100) return s;
    if (L == 3 && bB > 90 && n > 14 && bA > 82 && P > 1000 && D > 252 && m * 44 < n * 100) return s;
    if (L == 0 && n > 6 && bA < 83) s -= 2 * n;
    s = dec_func_08(s, a, b, result, in);
  }
  if ((L >= 5 && n * 100 > m * 34) || (L >= 2 && n >= 9 && P >= 931 && D >= 253 && K == 1) ||
      (L >= 3 && n >= 7 && P >= 851 && D >= 251))
    return s;
  return std::max(dec_func_09(s, a, b, result), 0);
}

namespace {

int weight_of(int w, int n, int m, const DecisionInputs& in) {
  const auto [L, bA, D, P, K, bB] = in;
  if (n * 100 >= m * 44) {
    if (bA > 95 && n > 6 && D > 245) w = 2;
    if (bA > 92 && n > 9 && D > 249) w = 2;
  }
  if (n < 7) {
    if (n < 6 && bA < 93) w = 4;
    if (bA < 90) w = n * 100 < m * 38 ? 5 : 4;
  }
  if (P > 1350 && n > 11 && n * 100 >= m * 33) w = 2;
  if (P < 350 && n < 8) w = 4;
  if (L == 0) w = 5;
  if (P > 1150 && n > 14) w = 4;
  if (L == 1 || K == 1) w = 4;
  if ((L == 3 && bA > 93) || (L == 5 && n * 100 > m * 34)) w = 2;
  if (L == 4 && bA > 91 && n * 100 > m * 70) w = 3;
  if (L == 2 && n * 100 > m * 50 && P > 750 && (n < 8 || K == 1)) w = 2;
  if (L > 1 && P > 900 && K == 1 && bA > 87 && D > 250) w -= 1;
  if (L == 2 && P < 400 && bA < 88) w += 1;
  if (L == 0 && P > 1100 && n > 8 && bA > 90) w = 4;
  if (L == 0 && n > 17 && n * 100 > m * 45) w = 4;
  if (L < 2 && ((n > 12 && P < 900) || (P < 650 && D < 235 && bA < 95)))
    w += 1;
  else if (L == 0 && P < 550 && n > 6)
    w += 1;
  if (L < 2 && n < 10 && P < 700 && (bA < 86 || (bA < 93 && n * 100 < m * 48))) w += 1;
  if (K == 1 && P > 1160 && bA > 93) w = 3;
  if (bB < 70 && K == 0) w += 1;
  if (bB < 76 && bA < 90 && n * 100 < m * 45 && K == 0) w += 1;
  return w;
}

int quality_floor(int mean) { return mean < 20 ? 20 : mean < 27 ? 26 : 30; }

}  // namespace

int dec_func_08(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result,
                const DecisionInputs& in) {
  const auto [L, bA, D, P, K, bB] = in;
  const int n = pair_count(result);
  const int m = std::min(minutia_count(a), minutia_count(b));
  const bool qc = std::abs(a.meanQuality - b.meanQuality) < 12;
  if (n >= 19 && D >= 235 && L >= 1) return s;
  if (n * 100 >= m * 44 && bA >= 98 && n >= 9 && P >= 1401) return s;
  if (n > 9 && m * 30 < n * 100 && bB > 78) {
    int u = 0;
    for (int k = 0; k < minutia_count(a); ++k) {
      const TypelineMinutia& p = a.minutiae[k];
      if (p.quality >= 35 && !is_paired(result, k, 0) &&
          check_exist(p.x, p.y, p.direction, -1, 20, 10, b, &result, false, false, 1))
        ++u;
    }
    const int c = (u + n) * 100;
    if (m * 60 < c && n > 12 && bA > 91 && D > 237 && P > 850 && L > 0 && qc) return s;
    if (m * 80 < c && n > 10 && bA > 90 && D > 215 && L > 0) return s;
    if (K == 1 && P > 900 && n > 12 && bA > 92 && D > 250 && L > 0) return s;
  }
  int w = weight_of(3, n, m, in);

  int f1 = quality_floor(a.meanQuality), f2 = quality_floor(b.meanQuality);
  if (!qc) {
    if (f1 < 30) f1 = a.meanQuality;
    if (f2 < 30) f2 = b.meanQuality;
    w = w < 5 ? 5 : w + 1;
  }
  if (L == 0 && n > 7 && n * 100 < m * 45) {
    if (a.meanQuality > 26) f1 = 28;
    if (b.meanQuality > 26) f2 = 28;
  }

  int unmatched = 0;
  for (int k = 0; k < minutia_count(a); ++k) {
    const TypelineMinutia& p = a.minutiae[k];
    if (p.quality < f1 || is_paired(result, k, 0)) continue;
    int h = 0;
    for (int j = 0; j < minutia_count(b); ++j) {
      const TypelineMinutia& q = b.minutiae[j];
      if (q.quality < f2 || is_paired(result, j, 1) || squared_distance(p, q) >= 324) continue;
      ++h;
      const int dd = turn_difference(p.direction, q.direction);
      if (dd >= 80)
        s -= 4;
      else if (dd >= 40)
        s -= 2;
      else if (dd >= 20)
        s -= 1;
    }
    if (h == 0) ++unmatched;
  }
  if (unmatched > 0) {
    if ((n < 6 && bA < 71) || (n < 5 && bA < 85))
      s /= unmatched * std::max(w, 1);
    else if (m * 30 < n * 100 && bA > 96 && unmatched < n && P > 400)
      s -= (w - 1) * unmatched;
    else
      s -= w * unmatched;
  }
  return std::max(s, 0);
}

int dec_func_09(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result) {
  PointPolygon pa{}, pb{};
  if (!minutia_polygon(a, pa) || !minutia_polygon(b, pb)) return s;
  std::array<bool, TYPELINE_MAX_MINUTIAE> counted_a{}, counted_b{};
  const int n = pair_count(result);
  const auto good = [](const TypelineMinutia& m) { return m.quality >= 45; };
  // Good unpaired minutiae near the midpoint of two pairs on one side whose
  // predicted place on the other side, inside its polygon, shows nothing.
  const auto probe = [&](const TypelineMinutiaList& own, const TypelineMinutiaList& other, int side, int i1, int i2,
                         int mx, int my, int ox, int oy, const PointPolygon& other_polygon, int margin,
                         std::array<bool, TYPELINE_MAX_MINUTIAE>& counted) {
    for (int k = 0; k < minutia_count(own); ++k) {
      const TypelineMinutia& p = own.minutiae[k];
      if (k == i1 || k == i2 || !good(p) || is_paired(result, k, side) || counted[k]) continue;
      if (squared_distance(p.x, p.y, mx, my) > 1600) continue;
      const int px = ox + p.x - mx, py = oy + p.y - my;
      if (!in_polygon(px, py, other_polygon, margin)) continue;
      if (check_exist(px, py, p.direction, -1, 23, 25, other, &result, true, false, 1 - side)) continue;
      s = s * 9 / 10;
      counted[k] = true;
    }
  };
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      const int ai = result.first[i], aj = result.first[j], bi = result.second[i], bj = result.second[j];
      const TypelineMinutia &pa_i = a.minutiae[ai], &pa_j = a.minutiae[aj];
      const TypelineMinutia &pb_i = b.minutiae[bi], &pb_j = b.minutiae[bj];
      if (!good(pa_i) || !good(pa_j) || !good(pb_i) || !good(pb_j)) continue;
      if (std::max(squared_distance(pa_i, pa_j), squared_distance(pb_i, pb_j)) >= 1600) continue;
      const int m1x = (pa_i.x + pa_j.x) / 2, m1y = (pa_i.y + pa_j.y) / 2;
      const int m2x = (pb_i.x + pb_j.x) / 2, m2y = (pb_i.y + pb_j.y) / 2;
      probe(a, b, 0, ai, aj, m1x, m1y, m2x, m2y, pb, -1, counted_a);
      probe(b, a, 1, bi, bj, m2x, m2y, m1x, m1y, pa, 0, counted_b);
    }
  }
  return s;
}

int dec_func_11(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result) {
  const int n = pair_count(result);
  if (n >= 14) return s;
  if (minutia_count(a.minutiae) == 0 || minutia_count(b.minutiae) == 0) return 0;
  const bool overlap = check_overlap(a.singular, b.singular);
  const bool hq = a.minutiae.meanQuality >= 35 && b.minutiae.meanQuality >= 35;
  int good = 0, bad = 0;
  const auto first_listed = std::span(result.first).first(static_cast<std::size_t>(n));
  const auto second_listed = std::span(result.second).first(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const TypelineMinutia &p = a.minutiae.minutiae[result.first[i]], &q = b.minutiae.minutiae[result.second[i]];
    if (p.quality < 30 || q.quality < 30) continue;
    ++good;
    TypelineMinutiaList h1{}, h2{};
    get_neighbor(p.x, p.y, a.minutiae, first_listed, true, 50, true, 30, false, 0, h1);
    get_neighbor(q.x, q.y, b.minutiae, second_listed, true, 50, true, 30, false, 0, h2);
    if (!check_neighbor(result.first[i], result.second[i], h1, h2, a, b)) ++bad;
  }
  if (good == 0) return s * 80 / 100;
  if (bad >= 5) return overlap && hq ? s / 2 : s * 33 / 50;
  if (bad == 4) return hq ? s - 24 : s - 20;
  if (bad == 3) return hq || good * 3 <= 12 ? s - 15 : s - 13;
  if (bad == 2) return s - 5;
  if (bad == 1) return s - 3;
  return s;
}

void get_neighbor(int x, int y, const TypelineMinutiaList& minutiae, std::span<const std::int16_t> listed,
                  bool exclude_listed, int radius, bool filter_quality, int min_quality, bool keep_nearest, int k,
                  TypelineMinutiaList& out) {
  out = TypelineMinutiaList{};
  struct Found {
    int index, d2;
  };
  std::array<Found, TYPELINE_MAX_MINUTIAE> found{};
  int n = 0;
  const long long r2 = static_cast<long long>(radius) * radius;
  for (int i = 0; i < minutia_count(minutiae); ++i) {
    const TypelineMinutia& m = minutiae.minutiae[i];
    if (filter_quality && m.quality < min_quality) continue;
    if (m.x == x && m.y == y) continue;
    if (exclude_listed && std::find(listed.begin(), listed.end(), i) != listed.end()) continue;
    const int d2 = squared_distance(m.x, m.y, x, y);
    if (d2 < r2) found[static_cast<std::size_t>(n++)] = {i, d2};
  }
  if (keep_nearest && n > k) {
    std::stable_sort(found.begin(), found.begin() + n, [](const Found& p, const Found& q) { return p.d2 < q.d2; });
    n = std::max(k, 0);
  }
  for (int i = 0; i < n; ++i) out.minutiae[i] = minutiae.minutiae[found[static_cast<std::size_t>(i)].index];
  out.count = static_cast<std::int8_t>(n);
}

bool check_neighbor(int first_index, int second_index, const TypelineMinutiaList& first_neighbours,
                    const TypelineMinutiaList& second_neighbours, const TypelineRecord& a, const TypelineRecord& b) {
  PointPolygon pa{}, pb{};
  if (!minutia_polygon(a.minutiae, pa) || !minutia_polygon(b.minutiae, pb)) return true;
  const auto missing = [](const TypelineMinutiaList& neighbours, const PointPolygon& polygon,
                          const TypelineMinutiaList& other, int skip) {
    int c = 0;
    for (const TypelineMinutia& p : minutiae_of(neighbours))
      if (in_polygon(p.x, p.y, polygon, 0) &&
          !check_exist(p.x, p.y, p.direction, skip, 20, 20, other, nullptr, false, false, 0))
        ++c;
    return c;
  };
  const int c1 = missing(first_neighbours, pb, b.minutiae, second_index);
  const int c2 = missing(second_neighbours, pa, a.minutiae, first_index);
  if (c2 >= 1 && c2 == minutia_count(second_neighbours)) return false;
  if (c1 >= 1 && c1 == minutia_count(first_neighbours)) return false;
  return true;
}

bool check_overlap(const TypelineSingularList& a, const TypelineSingularList& b) {
  const Cores ca = cores_of(a), cb = cores_of(b);
  for (int i = 0; i < ca.count; ++i)
    for (int j = 0; j < cb.count; ++j) {
      const TypelineSingularPoint &p = ca.points[i], &q = cb.points[j];
      if (squared_distance(p.x, p.y, q.x, q.y) < 256 && turn_difference(p.direction, q.direction) <= 6) return true;
    }
  return false;
}

}  // namespace zyl::typeline

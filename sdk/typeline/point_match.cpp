// Point matching of one direction: tag voting for a rotation and a shift,
// block-grid checks, clusters of agreeing tags, the matched pairs and the
// chain of score corrections. Also the local-structure comparison and the
// core comparison.
#include <cstdlib>
#include <memory>
#include <new>

#include "typeline/matching.h"

namespace zyl::typeline {

struct PointMatchTables {
  static constexpr int kMaxCandidates = 1000;
  static constexpr int kMaxSelected = 500;
  static constexpr int kMaxCluster = 199;

  std::array<int, TYPELINE_ROTATION_VOTES> rotation_votes{};
  std::array<PairCandidate, kMaxCandidates> candidates{};
  std::array<int, kShiftVotes> x_votes{}, y_votes{};
  std::array<int, kMaxSelected> selected{};
  std::array<bool, kMaxSelected> taken{};
  std::array<int, kMaxCluster + 1> cluster{};
  std::array<bool, kMaxCluster + 1> used{};
  BucketStore first_buckets, second_buckets;
  TypelineRecord first_entry{}, second_entry{};
};

namespace {

// Orientation difference between a tag's line and the block it crosses;
// -1 when the block has no direction or lies outside the grid.
int block_difference(const TypelineRecord& record, const PairTag& tag) {
  const TypelineMinutia& p = record.minutiae.minutiae[tag.first];
  const TypelineMinutia& q = record.minutiae.minutiae[tag.second];
  const int mx = (p.x + q.x) / 2, my = (p.y + q.y) / 2;
  const int column = mx / 16, row = my / 16;
  if (mx < 0 || my < 0 || column >= record.grid.columns || row >= record.grid.rows) return -1;
  const int cell = row * record.grid.columns + column;
  if (cell >= cell_count(record.grid) || record.grid.cells[cell] == kNoOrientation) return -1;
  return orientation_difference(record.grid.cells[cell], tag.lineDirection);
}

// The first-pass score of two tags, 0 or below when they do not agree.
int tag_score(const PairTag& t1, const PairTag& t2, const TypelineRecord& first, const TypelineRecord& second,
              bool block_check, bool type_check) {
  const int dl = std::abs(t1.length - t2.length);
  if (dl > 12) return 0;
  const int d1 = turn_difference(t1.firstAngle, t2.firstAngle);
  if (d1 > 9) return 0;
  const int d2 = turn_difference(t1.secondAngle, t2.secondAngle);
  if (d2 > 9) return 0;
  int s = 15 - rounded_sqrt(d1 * d1 + dl * dl + d2 * d2);
  if (s < 0) return 0;
  const TypelineMinutia &a1 = first.minutiae.minutiae[t1.first], &a2 = first.minutiae.minutiae[t1.second];
  const TypelineMinutia &b1 = second.minutiae.minutiae[t2.first], &b2 = second.minutiae.minutiae[t2.second];
  const int c1 = 30 - std::abs(b1.curvature - a1.curvature), c2 = 30 - std::abs(b2.curvature - a2.curvature);
  if (c1 < 0 || c2 < 0) return 0;
  s = s * c1 * c2 / 900;
  if (type_check) {
    if (a1.type != b1.type) s = s * 9 / 10;
    if (a2.type != b2.type) s = s * 9 / 10;
  }
  if (a1.quality < 25 || b1.quality < 25) s -= 1;
  if (a2.quality < 25 || b2.quality < 25) s -= 1;
  if (block_check) {
    const int e1 = block_difference(first, t1), e2 = block_difference(second, t2);
    if (e1 >= 0 && e2 >= 0) {
      const int e = std::abs(e1 - e2);
      if (e > 20) return 0;
      if (e > 10) s = s * 8 / 10;
    }
  }
  return s;
}

}  // namespace

int normalised_tag_sum(int sum, int n_tags) {
  const long long v = n_tags <= 100 ? 2LL * sum : 200LL * sum / n_tags;
  return static_cast<int>((v * 929 + 1637) / 1000);
}

bool weak_first_pass(int sum, int candidates, int t) { return sum * 2 < candidates * 5 && sum < 3 * t; }

bool block_grids_agree(int bA, int bB, int candidates) {
  if (bA < 75 && candidates < 110) return false;
  if (bB < 30) return false;
  return !(bA < 80 && bB < 50);
}

FirstPass first_voting_pass(const TypelineRecord& first, const TypelineRecord& second, const PairTagList& first_list,
                            const PairTagList& second_list, const BucketIndex& fb, const BucketIndex& sb,
                            bool block_check, bool type_check, std::span<int, TYPELINE_ROTATION_VOTES> votes,
                            std::span<PairCandidate> candidates) {
  FirstPass pass;
  const int capacity = static_cast<int>(candidates.size());
  int& c = pass.candidates;
  bool full = capacity == 0;
  for (int a = 0; a < TYPELINE_TAG_BUCKETS && !full; ++a) {
    for (int j = sb.count(a) - 1; j >= 0 && !full; --j) {
      const int i2 = sb.slot(a, j);
      const PairTag& t2 = second_list.tags[i2];
      int best = 0;
      for (int a1 = a - 10; a1 < a + 10 && !full; ++a1) {
        const int bucket = wrap_direction(a1);
        for (int k = fb.count(bucket) - 1; k >= 0; --k) {
          const int i1 = fb.slot(bucket, k);
          const PairTag& t1 = first_list.tags[i1];
          const int s = tag_score(t1, t2, first, second, block_check, type_check);
          if (s < 1) continue;
          const TypelineMinutiaList &ma = first.minutiae, &mb = second.minutiae;
          votes[wrap_direction(mb.minutiae[t2.first].direction - ma.minutiae[t1.first].direction)] += s;
          votes[wrap_direction(mb.minutiae[t2.second].direction - ma.minutiae[t1.second].direction)] += s;
          candidates[c++] = {static_cast<std::int16_t>(s), static_cast<std::int16_t>(i2),
                             static_cast<std::int16_t>(i1)};
          // A full list ends the whole pass; this last candidate has voted
          // and stays, but its tag's best is counted as it stood.
          if (c == capacity) {
            full = true;
            break;
          }
          best = std::max(best, s);
        }
      }
      pass.sum += best;
    }
  }
  return pass;
}

int point_matching(TypelineRecord& first, TypelineRecord& second, PointMatchResult& result, bool strict, int t,
                   std::int32_t& cache, PairTagList& first_list, PairTagList& second_list) {
  std::unique_ptr<PointMatchTables> tables(new (std::nothrow) PointMatchTables);
  // Without its tables point matching cannot vote: no match.
  if (!tables) return 0;
  PointMatchTables& w = *tables;
  w.first_entry = first;
  w.second_entry = second;
  const BucketIndex fb = w.first_buckets.view(), sb = w.second_buckets.view();

  const int qa = first.minutiae.meanQuality, qb = second.minutiae.meanQuality;
  const bool block_check = qa >= 35 && qb >= 35;
  const int D = 255 - std::abs(first.density - second.density);
  int score_limit = 7 * t / 2;

  // 1. Pair tags, the cut to the shared area, the other record's tags.
  int bound = search_tags(second, second_list, sb, 20, 200);
  if (second_list.count == 0) return 0;
  arrange_points(first, second, second_list, bound, sb, strict);
  const Centre centre = file_tags(first, first_list, fb, 20, bound);
  if (first_list.count == 0) return 0;

  // 2. First voting pass: rotation votes and candidates.
  const bool type_check = qa >= 33 || qb >= 33;
  const FirstPass pass = first_voting_pass(first, second, first_list, second_list, fb, sb, block_check, type_check,
                                           w.rotation_votes, w.candidates);
  int sum = pass.sum;
  const int c = pass.candidates;

  // 3, 4. Early refusal and the normalised first-pass score.
  if (strict && weak_first_pass(sum, c, t)) return 0;
  // The second list's size here serves every later normalisation and the
  // score adjustment, though the shared-area cut may shorten the list.
  const int n_tags = second_list.count;
  if (normalised_tag_sum(sum, n_tags) < t) return 0;

  // 5. Rotation.
  const int rotation = rotate_points(centre.x, centre.y, w.rotation_votes, first_list, first);

  // 6. Second pass: shift votes from the candidates whose lines now agree.
  int k = 0;
  sum = 0;
  {
    int best = 0;
    int group = c > 0 ? w.candidates[0].secondTag : -1;
    for (int i = 0; i < c; ++i) {
      const PairCandidate& cand = w.candidates[i];
      const PairTag &t1 = first_list.tags[cand.firstTag], &t2 = second_list.tags[cand.secondTag];
      if (orientation_difference(t1.lineDirection, t2.lineDirection) > 9) continue;
      add_shift_vote(13, cand.score, t1, t2, w.x_votes, w.y_votes, first.minutiae, second.minutiae);
      w.selected[k++] = i;
      if (k == PointMatchTables::kMaxSelected) break;
      if (cand.secondTag != group) {
        sum += best;
        best = 0;
        group = cand.secondTag;
      }
      best = std::max<int>(best, cand.score);
    }
    sum += best;
  }
  if (normalised_tag_sum(sum, n_tags) < t) return 0;

  // 7. Shift, grids and their agreement.
  const Shift shift = shift_points(first, w.x_votes, w.y_votes);
  transform_block(rotation, shift.dx, shift.dy, centre.x, centre.y, first.grid);
  const int bA = block_agreement(30, 5, first.grid, second.grid);
  const int bB = block_overlap(4, first.grid, second.grid);
  if (!block_grids_agree(bA, bB, c)) return 0;

  // 8. The shared area.
  if (!re_arrange_point(std::span(w.candidates).first(static_cast<std::size_t>(c)), w.selected, k, first, second,
                        first_list, second_list))
    return 0;

  // 9. Candidates whose minutiae coincide.
  {
    const auto m = minutiae_of(first.minutiae);
    long long sx = 0, sy = 0;
    for (const TypelineMinutia& p : m) {
      sx += p.x;
      sy += p.y;
    }
    const int n = std::max<int>(1, static_cast<int>(m.size()));
    const int cx = static_cast<int>(sx / n), cy = static_cast<int>(sy / n);
    int kept = 0;
    for (int i = 0; i < k; ++i) {
      const PairCandidate& cand = w.candidates[w.selected[i]];
      if (check_limit(first_list.tags[cand.firstTag], second_list.tags[cand.secondTag], first, second, cx, cy))
        w.selected[kept++] = w.selected[i];
    }
    k = kept;
  }
  if (k == 0) return 0;

  // 10. Clusters of candidates sharing a tag.
  const auto cand_at = [&](int pos) -> const PairCandidate& { return w.candidates[w.selected[pos]]; };
  sum = 0;
  std::fill(w.taken.begin(), w.taken.end(), false);
  for (int e = 0; e < k; ++e) {
    if (w.taken[e]) continue;
    int members = 0;
    w.cluster[members++] = e;
    int best = cand_at(e).score;
    bool growing = true;
    while (growing) {
      bool added = false;
      for (int f = 0; f < k && growing; ++f) {
        if (f == e || w.taken[f]) continue;
        const PairCandidate& cf = cand_at(f);
        bool linked = false;
        for (int j = 0; j < members && !linked; ++j) {
          const PairCandidate& cm = cand_at(w.cluster[j]);
          linked = cm.secondTag == cf.secondTag || cm.firstTag == cf.firstTag;
        }
        if (!linked) continue;
        w.cluster[members++] = f;
        if (members == PointMatchTables::kMaxCluster) {
          growing = false;
          break;
        }
        best = std::max<int>(best, cf.score);
        w.taken[f] = true;
        added = true;
      }
      if (!added) growing = false;
    }
    if (members < 4) {
      sum += best;
      continue;
    }
    // Best score per distinct tag of the side with fewer distinct tags.
    int distinct_second = 0, distinct_first = 0;
    for (int j = 0; j < members; ++j) {
      bool new_second = true, new_first = true;
      for (int i = 0; i < j; ++i) {
        if (cand_at(w.cluster[i]).secondTag == cand_at(w.cluster[j]).secondTag) new_second = false;
        if (cand_at(w.cluster[i]).firstTag == cand_at(w.cluster[j]).firstTag) new_first = false;
      }
      distinct_second += new_second;
      distinct_first += new_first;
    }
    const bool by_first = distinct_second > distinct_first;
    const auto key = [&](int j) {
      const PairCandidate& cm = cand_at(w.cluster[j]);
      return by_first ? cm.firstTag : cm.secondTag;
    };
    std::fill(w.used.begin(), w.used.end(), false);
    for (int j = 0; j < members; ++j) {
      if (w.used[j]) continue;
      int group_best = cand_at(w.cluster[j]).score;
      w.used[j] = true;
      for (int i = j + 1; i < members; ++i) {
        if (w.used[i] || key(i) != key(j)) continue;
        group_best = std::max<int>(group_best, cand_at(w.cluster[i]).score);
        w.used[i] = true;
      }
      sum += group_best;
    }
  }

  // 11. Matched pairs: one per minutia on either side.
  result = PointMatchResult{};
  int n = 0;
  for (int e = 0; e < k; ++e) {
    if (w.taken[e]) continue;
    const PairCandidate& cand = cand_at(e);
    const PairTag &t1 = first_list.tags[cand.firstTag], &t2 = second_list.tags[cand.secondTag];
    for (const auto& [ia, ib] : {std::pair{t1.first, t2.first}, std::pair{t1.second, t2.second}}) {
      bool clash = false;
      for (int i = 0; i < n && !clash; ++i) clash = result.first[i] == ia || result.second[i] == ib;
      if (clash || n == TYPELINE_MAX_MINUTIAE) continue;
      result.first[n] = ia;
      result.second[n] = ib;
      ++n;
    }
  }
  result.pairCount = static_cast<std::int16_t>(n);
  result.rotation = static_cast<std::int16_t>(rotation);
  result.shiftX = static_cast<std::int16_t>(shift.dx);
  result.shiftY = static_cast<std::int16_t>(shift.dy);
  result.centreX = static_cast<std::int16_t>(centre.x);
  result.centreY = static_cast<std::int16_t>(centre.y);

  // 12, 13. Enough agreement, and the local structures.
  if (sum < t / 2) return 0;
  const int m = std::min(minutia_count(first.minutiae), minutia_count(second.minutiae));
  const int L = matched_local_structures(first.minutiae, second.minutiae, result);
  if (L < 0) return 0;

  // 14. Point score of the records as they came, once per comparison.
  int P = cache;
  if (P <= 0) {
    P = point_score(w.first_entry, w.second_entry);
    cache = P;
    if (P > kDecisivePointScore) return 2 * t;
  }

  // 15. Score adjustment.
  const int S0 = sum;
  const int K = check_core(first.singular, second.singular, 10, 10) ? 1 : 0;
  const int Q = std::abs(qa - qb) >= 12 ? 0 : 1;
  const int M = check_paired_mp(first.minutiae, second.minutiae, result) ? 1 : 0;
  sum = adjust_score(sum, {P, bA, bB, n, D, n_tags, m, K, L, Q, M});

  // 16 - 23. Frequencies, strong agreement, block agreement.
  const int fa = first.frequency, fbq = second.frequency;
  const int lo = std::min(fa, fbq), hi = std::max(fa, fbq);
  const int F = fa != 0 && fbq != 0 ? hi - lo : 0;
  if (n >= 17 && K == 1 && S0 >= 241) sum = S0;
  const int pa = first.patternType, pb = second.patternType;
  if (F >= 22 && P < 1200) {
    sum = sum * lo / hi;
    if ((pa == 7 && (pb == 4 || pb == 5)) || (pb == 7 && (pa == 4 || pa == 5))) sum = sum * lo / hi;
  }
  if (sum > t && bA >= 83) {
    if (P >= 1061 && n * 100 > m * 50 && D >= 221 && n >= 12 && L >= 1 && bA >= 88) sum *= 2;
    if (n >= 14 && n * 100 >= m * 56 && D >= 242 && L >= 1) return sum;
  }
  if (L >= 6 && n >= 12 && n * 100 > m * 44 && D >= 251) sum *= 2;
  if (qa >= 32 || qb >= 32) sum = static_cast<int>(static_cast<long long>(sum) * bA * bA / 10000);
  if (sum < t) return 0;
  if (strict && L == 0 && sum < 12 * t / 10 && D + bA < 335 && bA < 95 &&
      !(P >= 1100 && n >= 9 && n * 100 >= m * 40))
    return 0;

  // 24 - 26. Decision flags and the structural decisions.
  const bool same_type = pa == 8 || pb == 8 || pa == pb;
  const bool core_near = check_core(first.singular, second.singular, 16, 7) && D + bA < 330 && P < 1250;
  const bool weak = !(P >= 1350 && n >= 11 && n * 100 >= m * 38);
  const bool strong = P >= 1001 && n >= 11 && bA >= 93 && K == 1 && same_type;
  const bool poor = (P < 1170 && L < 4 && (n < 12 || bB < 80)) || (P < 930 && L < 3) || (P < 460 && bB < 75);
  if (sum < 4 * t) {
    sum = dec_func_01(sum, first, second, result, L);
    if (L < 5 && (core_near || weak)) sum = dec_func_03(sum, first, second, D, bA, L);
  }
  if (qa < 35 && qb < 35) score_limit = 5 * t / 2;
  if (sum <= score_limit) {
    sum = dec_func_07(sum, first.minutiae, second.minutiae, result);
    if ((weak || core_near) && P < 1500)
      sum = dec_func_10(sum, first.minutiae, second.minutiae, result, {L, bA, D, P, K, bB});
    if (!strong && weak && poor) sum = dec_func_11(sum, first, second, result);
    if (block_check && P < 1100 && bA < 96) sum = dec_func_12(sum, first, second, result);
    if (L < 4 && n * 100 < m * 50) sum = dec_func_13(sum, first, second, result, D, bA);
  }
  return sum;
}

bool check_core(const TypelineSingularList& a, const TypelineSingularList& b, int distance_limit, int angle_limit) {
  const Cores ca = cores_of(a), cb = cores_of(b);
  if (ca.count == 0 || ca.count != cb.count) return false;
  int distance = 0, angle = 0;
  if (ca.count == 1) {
    const TypelineSingularPoint &p = ca.points[0], &q = cb.points[0];
    distance = rounded_sqrt(squared_distance(p.x, p.y, q.x, q.y));
    angle = turn_difference(p.direction, q.direction);
  } else {
    const auto line = [](const Cores& c) {
      const TypelineSingularPoint &p = c.points[0], &q = c.points[1];
      int d = direction_towards(p.x, p.y, q.x, q.y);
      if (d > 119) d -= kHalfTurn;
      return std::pair{rounded_sqrt(squared_distance(p.x, p.y, q.x, q.y)), d};
    };
    const auto [da, la] = line(ca);
    const auto [db, lb] = line(cb);
    distance = std::abs(da - db);
    angle = std::abs(la - lb);
  }
  return distance < distance_limit && angle < angle_limit;
}

void local_structures(const TypelineMinutiaList& minutiae, std::span<const std::int16_t> indexes,
                      TypelineLocalStructureSet& out) {
  out = TypelineLocalStructureSet{};
  const auto m = minutiae_of(minutiae);
  // The neighbour list is not emptied between radii; before the last scan
  // it holds at most 7 entries, so 7 + 49 always suffice.
  struct Neighbour {
    int index, d2;
  };
  std::array<Neighbour, 7 + TYPELINE_MAX_MINUTIAE - 1> list{};
  for (const std::int16_t centre_index : indexes) {
    if (out.count == 15) break;
    if (centre_index < 0 || static_cast<std::size_t>(centre_index) >= m.size()) continue;
    const TypelineMinutia& centre = m[static_cast<std::size_t>(centre_index)];
    if (centre.quality < 20) continue;
    std::size_t n = 0;
    for (int radius = 100; radius <= 200 && n <= 7; radius += 20) {
      for (std::size_t j = 0; j < m.size() && n < list.size(); ++j) {
        if (static_cast<int>(j) == centre_index) continue;
        const int d2 = squared_distance(m[j], centre);
        if (d2 < radius * radius) list[n++] = {static_cast<int>(j), d2};
      }
    }
    if (n <= 7) continue;
    std::stable_sort(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n),
                     [](const Neighbour& p, const Neighbour& q) { return p.d2 < q.d2; });
    TypelineLocalStructure& s = out.structures[out.count++];
    s.direction = centre.direction;
    for (int i = 0; i < 8; ++i) {
      const TypelineMinutia& nb = m[static_cast<std::size_t>(list[i].index)];
      s.neighbours[i].distance = rounded_sqrt(list[i].d2);
      s.neighbours[i].angle =
          static_cast<std::uint8_t>(wrap_direction(direction_towards(nb.x, nb.y, centre.x, centre.y) - centre.direction));
      s.neighbours[i].direction = static_cast<std::uint8_t>(wrap_direction(nb.direction - centre.direction));
    }
  }
}

bool match_structure(const TypelineLocalStructure& a, const TypelineLocalStructure& b) {
  int hits = 0;
  for (const TypelineNeighbour& p : a.neighbours) {
    for (const TypelineNeighbour& q : b.neighbours) {
      if (std::abs(p.distance - q.distance) <= 10 && turn_difference(p.angle, q.angle) <= 9 &&
          turn_difference(p.direction, q.direction) <= 9) {
        ++hits;
        break;
      }
    }
    if (hits >= 5) return true;
  }
  return false;
}

int match_structures(const TypelineLocalStructureSet& a, const TypelineLocalStructureSet& b) {
  const int na = std::clamp(a.count, 0, 15), nb = std::clamp(b.count, 0, 15);
  int matched = 0;
  for (int i = 0; i < na; ++i)
    for (int j = 0; j < nb; ++j)
      if (match_structure(a.structures[i], b.structures[j])) {
        ++matched;
        break;
      }
  return matched;
}

int matched_local_structures(const TypelineMinutiaList& a, const TypelineMinutiaList& b,
                             const PointMatchResult& result) {
  const auto n = static_cast<std::size_t>(pair_count(result));
  TypelineLocalStructureSet sa, sb;
  local_structures(a, std::span(result.first).first(n), sa);
  local_structures(b, std::span(result.second).first(n), sb);
  if (sa.count == 0 || sb.count == 0) return -1;
  return match_structures(sa, sb);
}

}  // namespace zyl::typeline

// Feature generalisation: three impressions of one finger become one feature
// record holding the minutiae that at least two of them agree on, averaged in
// the frame of the impression with most correspondences.
#include "zylscan/generalize.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "api/generalize.h"
#include "api/graph_lines.h"
#include "api/match_data.h"
#include "api/xw_context.h"
#include "api/match_sides.h"
#include "extract/feature_record.h"
#include "zylscan/graph_matcher.h"

namespace zyl::api {
namespace {

struct Pair {
  std::int32_t first;
  std::int32_t second;
};

// A pair set seen through the two index arrays of a long-form MatchDetails.
// Appends beyond the arrays' 1024 entries are dropped: the sets of one
// generalisation never come near it (templates hold at most 90 minutiae), and
// a caller's record must not be overrun.
class PairSet {
 public:
  explicit PairSet(MatchDetails& d) : d_(d) { d_.pairCount = std::clamp(d_.pairCount, 0, XW_DETAILS_MAX_PAIRS); }

  std::int32_t size() const { return d_.pairCount; }
  bool empty() const { return d_.pairCount == 0; }
  Pair operator[](std::int32_t i) const { return {d_.testIndexes[i], d_.sampleIndexes[i]}; }
  void clear() { d_.pairCount = 0; }
  void append(Pair p) {
    if (d_.pairCount >= XW_DETAILS_MAX_PAIRS) return;
    d_.testIndexes[d_.pairCount] = static_cast<std::uint16_t>(p.first);
    d_.sampleIndexes[d_.pairCount] = static_cast<std::uint16_t>(p.second);
    ++d_.pairCount;
  }
  void remove(std::int32_t i) { zyl::api::EliminatePointFromIps(d_.testIndexes, d_.sampleIndexes, &d_.pairCount, i); }
  // First position whose first (which 0) or second (which 1) index is v.
  std::int32_t find(std::int32_t v, int which) const {
    for (std::int32_t i = 0; i < size(); ++i)
      if ((which == 0 ? (*this)[i].first : (*this)[i].second) == v) return i;
    return -1;
  }
  // Moves every pair whose index `which` equals v to the end of `to`;
  // returns whether any moved.
  bool move_matching(std::int32_t v, int which, PairSet& to) {
    bool moved = false;
    for (std::int32_t i = 0; i < size();) {
      const Pair p = (*this)[i];
      if ((which == 0 ? p.first : p.second) == v) {
        to.append(p);
        remove(i);
        moved = true;
      } else {
        ++i;
      }
    }
    return moved;
  }

 private:
  MatchDetails& d_;
};

Pair reversed(Pair p) { return {p.second, p.first}; }

bool extract_duplicates(PairSet& pairs, PairSet& conflicts) {
  const std::int32_t before = conflicts.size();
  for (std::int32_t i = 0; i < pairs.size();) {
    const Pair p = pairs[i];
    bool moved = false;
    for (std::int32_t j = i + 1; j < pairs.size();) {
      const Pair q = pairs[j];
      if (q.first == p.first || q.second == p.second) {
        conflicts.append(q);
        pairs.remove(j);
        moved = true;
      } else {
        ++j;
      }
    }
    if (moved) {
      conflicts.append(p);
      pairs.remove(i);
    } else {
      ++i;
    }
  }
  // Pairs that share a minutia with a conflicting pair conflict too; the
  // conflict set grows while it is walked.
  for (std::int32_t k = 0; k < conflicts.size(); ++k) {
    const Pair c = conflicts[k];
    for (std::int32_t j = 0; j < pairs.size();) {
      const Pair q = pairs[j];
      if (q.first == c.first || q.second == c.second) {
        conflicts.append(q);
        pairs.remove(j);
      } else {
        ++j;
      }
    }
  }
  return conflicts.size() > before;
}

void append_ips(PairSet& p, PairSet& q, PairSet& p_conflicts, PairSet& q_conflicts) {
  // A correspondence found in both directions is kept once (in Q).
  for (std::int32_t k = 0; k < q.size(); ++k) {
    const Pair r = reversed(q[k]);
    for (std::int32_t i = 0; i < p.size(); ++i)
      if (p[i].first == r.first && p[i].second == r.second) {
        p.remove(i);
        break;
      }
  }
  for (std::int32_t i = 0; i < p.size(); ++i) q.append(reversed(p[i]));
  extract_duplicates(q, q_conflicts);
  p.clear();
  for (std::int32_t i = 0; i < q.size(); ++i) p.append(reversed(q[i]));
  p_conflicts.clear();
  for (std::int32_t i = 0; i < q_conflicts.size(); ++i) p_conflicts.append(reversed(q_conflicts[i]));
}

struct Minutia {
  std::int32_t x, y, angle, type, curvature;
};

Minutia minutia_at(const FeatureRecord& f, std::int32_t i) {
  return {f.minutiaX[i], f.minutiaY[i], f.minutiaAngle[i], f.minutiaType[i], f.minutiaCurvature[i]};
}

void push_minutia(FeatureRecord& f, const Minutia& m) {
  if (f.minutiaCount < 0) f.minutiaCount = 0;
  if (f.minutiaCount >= ZYL_MAX_MINUTIAE) return;
  const std::int32_t i = f.minutiaCount++;
  f.minutiaX[i] = m.x;
  f.minutiaY[i] = m.y;
  f.minutiaAngle[i] = m.angle;
  f.minutiaType[i] = m.type;
  f.minutiaCurvature[i] = m.curvature;
}

// Mean of two or three minutiae: coordinates and curvature truncated, the
// angle on the circle; the type is given by the caller's rule.
Minutia mean_of(std::initializer_list<Minutia> ms, std::int32_t type) {
  Minutia r{0, 0, 0, type, 0};
  std::array<std::int32_t, 3> angles{};
  std::int32_t n = 0;
  for (const Minutia& m : ms) {
    r.x += m.x;
    r.y += m.y;
    r.curvature += m.curvature;
    angles[n++] = m.angle;
  }
  r.x /= n;
  r.y /= n;
  r.curvature /= n;
  r.angle = zyl::api::AverageAngle(angles.data(), n);
  return r;
}

// Directed matches, (test, sample), in the order they are run.
constexpr std::array<std::array<int, 2>, 6> kDirections = {{{0, 1}, {0, 2}, {1, 0}, {1, 2}, {2, 0}, {2, 1}}};

// For each base impression: the pair records base -> X (A), base -> Y (B)
// and X -> Y (C), and the impressions X and Y.
struct BaseRoles {
  int a, b, c;
  int x, y;
};
constexpr std::array<BaseRoles, 3> kRoles = {{{0, 1, 3, 1, 2}, {2, 3, 1, 0, 2}, {4, 5, 0, 0, 1}}};

struct Work {
  std::array<PairRecord, 6> records;
  std::array<MatchDetails, 6> conflicts;
};

// Role of a minutia in the merge: the base impression or one of the others.
enum Role { kBase = 0, kX = 1, kY = 2 };

class Merger {
 public:
  Merger(Work& w, const std::array<const FeatureRecord*, 3>& impressions, int base)
      : roles_(kRoles[base]),
        a_(w.records[roles_.a].pairs),
        b_(w.records[roles_.b].pairs),
        c_(w.records[roles_.c].pairs),
        ca_(w.conflicts[roles_.a]),
        cb_(w.conflicts[roles_.b]),
        cc_(w.conflicts[roles_.c]) {
    // X and Y are read from the sample copies moved into the base frame.
    source_[kBase] = impressions[base];
    source_[kX] = &w.records[roles_.a].sample;
    source_[kY] = &w.records[roles_.b].sample;
    impression_[kBase] = base;
    impression_[kX] = roles_.x;
    impression_[kY] = roles_.y;
    for (int r = 0; r < 3; ++r) labels_[r].assign(ZYL_MAX_MINUTIAE, kNoGroup);
  }

  void run(FeatureRecord& result) {
    result.minutiaCount = 0;
    spread_conflicts();
    const std::int32_t groups = label_groups();
    for (std::int32_t g = 0; g < groups; ++g) add_group(g, result);
    add_consistent_pairs(result);
  }

 private:
  static constexpr std::int32_t kNoGroup = -1;

  struct SetRoles {
    PairSet* set;
    Role first;
    Role second;
  };

  bool valid(Role r, std::int32_t i) const { return i >= 0 && i < minutia_count(*source_[r]); }
  Minutia at(Role r, std::int32_t i) const { return minutia_at(*source_[r], i); }

  // A conflict anywhere drags the pairs that share its minutiae into the
  // conflict sets of the other two correspondences, until nothing moves.
  void spread_conflicts() {
    bool moved = true;
    while (moved) {
      moved = false;
      for (std::int32_t k = 0; k < ca_.size(); ++k) {
        moved |= b_.move_matching(ca_[k].first, 0, cb_);
        moved |= c_.move_matching(ca_[k].second, 0, cc_);
      }
      for (std::int32_t k = 0; k < cb_.size(); ++k) {
        moved |= a_.move_matching(cb_[k].first, 0, ca_);
        moved |= c_.move_matching(cb_[k].second, 1, cc_);
      }
      for (std::int32_t k = 0; k < cc_.size(); ++k) {
        moved |= a_.move_matching(cc_[k].first, 1, ca_);
        moved |= b_.move_matching(cc_[k].second, 1, cb_);
      }
    }
  }

  // Labels each connected group of conflicting pairs; returns the number of
  // groups. The conflict sets are empty afterwards.
  std::int32_t label_groups() {
    const std::array<SetRoles, 3> sets = {{{&ca_, kBase, kX}, {&cb_, kBase, kY}, {&cc_, kX, kY}}};
    std::int32_t group = 0;
    for (;;) {
      const SetRoles* seed = nullptr;
      for (const SetRoles& s : sets)
        if (!s.set->empty()) {
          seed = &s;
          break;
        }
      if (!seed) return group;
      label(seed->first, (*seed->set)[0].first, group);
      label(seed->second, (*seed->set)[0].second, group);
      seed->set->remove(0);
      bool changed = true;
      while (changed) {
        changed = false;
        for (const SetRoles& s : sets)
          for (std::int32_t i = 0; i < s.set->size();) {
            const Pair p = (*s.set)[i];
            if (label_of(s.first, p.first) == group || label_of(s.second, p.second) == group) {
              label(s.first, p.first, group);
              label(s.second, p.second, group);
              s.set->remove(i);
              changed = true;
            } else {
              ++i;
            }
          }
      }
      ++group;
    }
  }

  std::int32_t label_of(Role r, std::int32_t i) const {
    return i >= 0 && i < ZYL_MAX_MINUTIAE ? labels_[r][i] : kNoGroup;
  }
  void label(Role r, std::int32_t i, std::int32_t group) {
    if (i >= 0 && i < ZYL_MAX_MINUTIAE) labels_[r][i] = group;
  }

  // The impression with most members in a conflict group contributes them
  // unaveraged (the lowest impression index on ties).
  void add_group(std::int32_t group, FeatureRecord& result) {
    std::array<std::int32_t, 3> members{};
    for (int r = 0; r < 3; ++r)
      for (std::int32_t i = 0; i < minutia_count(*source_[r]); ++i)
        if (labels_[r][i] == group) ++members[r];
    Role best = kBase;
    for (Role r : {kX, kY})
      if (members[r] > members[best] || (members[r] == members[best] && impression_[r] < impression_[best]))
        best = r;
    for (std::int32_t i = 0; i < minutia_count(*source_[best]); ++i)
      if (labels_[best][i] == group) push_minutia(result, at(best, i));
  }

  void add_consistent_pairs(FeatureRecord& result) {
    for (std::int32_t k = 0; k < a_.size(); ++k) {
      const auto [i, x] = a_[k];
      const std::int32_t pos = b_.find(i, 0);
      if (pos >= 0) {
        const std::int32_t y = b_[pos].second;
        if (valid(kBase, i) && valid(kX, x) && valid(kY, y))
          push_minutia(result, mean_of({at(kBase, i), at(kX, x), at(kY, y)}, at(kY, y).type));
        b_.remove(pos);
      } else if (valid(kBase, i) && valid(kX, x)) {
        push_minutia(result, mean_of({at(kBase, i), at(kX, x)}, at(kBase, i).type));
      }
      const std::int32_t c = c_.find(x, 0);
      if (c >= 0) c_.remove(c);
    }
    for (std::int32_t k = 0; k < b_.size(); ++k) {
      const auto [i, y] = b_[k];
      if (valid(kBase, i) && valid(kY, y))
        push_minutia(result, mean_of({at(kBase, i), at(kY, y)}, at(kBase, i).type));
      const std::int32_t c = c_.find(y, 1);
      if (c >= 0) c_.remove(c);
    }
    for (std::int32_t k = 0; k < c_.size(); ++k) {
      const auto [x, y] = c_[k];
      if (valid(kX, x) && valid(kY, y)) push_minutia(result, mean_of({at(kX, x), at(kY, y)}, at(kX, x).type));
    }
  }

  BaseRoles roles_;
  PairSet a_, b_, c_;
  PairSet ca_, cb_, cc_;
  std::array<const FeatureRecord*, 3> source_{};
  std::array<int, 3> impression_{};
  std::array<std::vector<std::int32_t>, 3> labels_;
};

std::int32_t gen_match(XWContext& c, MatchData& md, PairRecord& pair, std::int32_t threshold) {
  set_rotation_mask(md, c.maxRotation);
  MatchSide& test = md.sides[0];
  zyl::extract::CopyFeatures(&test.features, pair.test);
  zyl::api::FillTestFeaturesMatchData(&c, &test);
  pair.pairs.size = XW_DETAILS_LONG;
  pair.pairs.pairCount = 0;
  MatchSide& work = md.sides[2];
  const std::int32_t score = match_sides(c, test, pair.sample, work, threshold, &pair.pairs);
  // The copy takes the sample's minutiae as the match moved them.
  const std::int32_t n = minutia_count(pair.sample);
  std::copy_n(work.features.minutiaX, n, pair.sample.minutiaX);
  std::copy_n(work.features.minutiaY, n, pair.sample.minutiaY);
  std::copy_n(work.features.minutiaAngle, n, pair.sample.minutiaAngle);
  std::copy_n(work.features.minutiaType, n, pair.sample.minutiaType);
  return score;
}

}  // namespace
}  // namespace zyl::api

using namespace zyl::api;

int32_t zyl::api::AverageAngle(int32_t* angles, int32_t n) {
  if (!angles || n < 1) return 0;
  const auto [lo, hi] = std::minmax_element(angles, angles + n);
  std::int64_t sum = 0;
  if (*hi - *lo < 120) {
    for (std::int32_t i = 0; i < n; ++i) sum += angles[i];
    return static_cast<std::int32_t>(sum / n);
  }
  // Spread over half a turn or more: take the directions above 119 as
  // negative so that, e.g., 230 and 10 meet at 0 rather than 120.
  for (std::int32_t i = 0; i < n; ++i) {
    if (angles[i] > 119) angles[i] -= 240;
    sum += angles[i];
  }
  std::int32_t mean = static_cast<std::int32_t>(sum / n);
  if (mean < 0) mean += 240;
  return mean;
}

void zyl::api::SortMinutiae(FeatureRecord* record) {
  if (!record) return;
  const std::int32_t n = minutia_count(*record);
  for (std::int32_t i = 0; i < n; ++i) {
    std::int32_t best = -1;
    for (std::int32_t j = i; j < n; ++j)
      if (record->minutiaY[j] < 10240 && (best < 0 || record->minutiaY[j] < record->minutiaY[best])) best = j;
    if (best <= i) continue;
    std::swap(record->minutiaX[i], record->minutiaX[best]);
    std::swap(record->minutiaY[i], record->minutiaY[best]);
    std::swap(record->minutiaAngle[i], record->minutiaAngle[best]);
    std::swap(record->minutiaType[i], record->minutiaType[best]);
    std::swap(record->minutiaCurvature[i], record->minutiaCurvature[best]);
  }
}

void zyl::api::EliminatePointFromIps(uint16_t* first, uint16_t* second, int32_t* count, int32_t position) {
  if (!first || !second || !count || position < 0 || position >= *count) return;
  std::copy(first + position + 1, first + *count, first + position);
  std::copy(second + position + 1, second + *count, second + position);
  --*count;
}

extern "C" ZYL_API int32_t FindFeatureInIPS(const MatchDetails* pairs, int32_t index, int32_t which) {
  if (!pairs) return -1;
  const std::int32_t n = std::clamp(pairs->pairCount, 0, XW_DETAILS_MAX_PAIRS);
  const std::uint16_t* column = which == 0 ? pairs->testIndexes : pairs->sampleIndexes;
  for (std::int32_t i = 0; i < n; ++i)
    if (column[i] == index) return i;
  return -1;
}

extern "C" ZYL_API int32_t ExtractDuplicates(MatchDetails* pairs, MatchDetails* conflicts) {
  if (!pairs || !conflicts) return 0;
  PairSet p(*pairs), c(*conflicts);
  return extract_duplicates(p, c) ? 1 : 0;
}

extern "C" ZYL_API void AppendIPS(MatchDetails* p, MatchDetails* q, MatchDetails* p_conflicts,
                                  MatchDetails* q_conflicts) {
  if (!p || !q || !p_conflicts || !q_conflicts) return;
  PairSet ps(*p), qs(*q), pc(*p_conflicts), qc(*q_conflicts);
  append_ips(ps, qs, pc, qc);
}

extern "C" ZYL_API int32_t GenMatchFeatures(PairRecord* pair, const int32_t* threshold, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!pair || !pair->test || !threshold) return XW_ERR_NULL_ARGUMENT;
  MatchData* md = ensure_match_data(*c);
  if (!md) return XW_ERR_NO_MEMORY;
  return gen_match(*c, *md, *pair, *threshold);
}

int32_t zyl::api::GeneralizeFeatures(const FeatureRecord* first, const FeatureRecord* second,
                                     const FeatureRecord* third, FeatureRecord* result, const int32_t* threshold,
                                     XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!first || !second || !third || !result || !threshold) return XW_ERR_NULL_ARGUMENT;
  MatchData* md = ensure_match_data(*c);
  if (!md) return ZYL_GENERALIZE_NO_MEMORY;
  std::unique_ptr<Work> work(new (std::nothrow) Work{});
  if (!work) return ZYL_GENERALIZE_NO_MEMORY;

  const std::array<const FeatureRecord*, 3> impressions = {first, second, third};
  for (std::size_t k = 0; k < kDirections.size(); ++k) {
    PairRecord& r = work->records[k];
    r.pairs.size = XW_DETAILS_LONG;
    r.test = impressions[kDirections[k][0]];
    zyl::extract::CopyFeatures(&r.sample, impressions[kDirections[k][1]]);
  }
  for (PairRecord& r : work->records)
    if (gen_match(*c, *md, r, *threshold) < *threshold) return ZYL_GENERALIZE_NO_MATCH;

  // One consistent set of correspondences per unordered pair of impressions.
  constexpr std::array<std::array<int, 2>, 3> kReverse = {{{0, 2}, {1, 4}, {3, 5}}};
  for (auto [p, q] : kReverse) {
    PairSet ps(work->records[p].pairs), qs(work->records[q].pairs);
    PairSet pc(work->conflicts[p]), qc(work->conflicts[q]);
    append_ips(ps, qs, pc, qc);
  }

  int base = 0;
  std::int32_t most = -1;
  for (int k = 0; k < 3; ++k) {
    const std::int32_t sum = work->records[2 * k].pairs.pairCount + work->records[2 * k + 1].pairs.pairCount;
    if (sum > most) {
      most = sum;
      base = k;
    }
  }
  Merger(*work, impressions, base).run(*result);
  zyl::api::SortMinutiae(result);
  return base;
}

extern "C" {

ZYL_API int32_t AverageAngle(int32_t* angles, int32_t n) { return zyl::api::AverageAngle(angles, n); }
ZYL_API void SortMinutiae(FeatureRecord* record) { zyl::api::SortMinutiae(record); }
ZYL_API void EliminatePointFromIps(uint16_t* first, uint16_t* second, int32_t* count, int32_t position) {
  zyl::api::EliminatePointFromIps(first, second, count, position);
}
ZYL_API int32_t GeneralizeFeatures(const FeatureRecord* first, const FeatureRecord* second, const FeatureRecord* third,
                                   FeatureRecord* result, const int32_t* threshold, XWContext* context) {
  return zyl::api::GeneralizeFeatures(first, second, third, result, threshold, context);
}

}  // extern "C"

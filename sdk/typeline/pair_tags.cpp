// Pair tags with their bucket index, the rotation and shift votes, the
// coincidence test and the cut to the area two prints share.
#include <cstdlib>
#include <vector>

#include "typeline/matching.h"

namespace zyl::typeline {

void BucketIndex::clear() const {
  std::fill(counts.begin(), counts.end(), 0);
  std::fill(slots.begin(), slots.end(), 0);
}

void BucketIndex::file(int angle, int tag) const {
  const auto a = static_cast<std::size_t>(wrap_direction(angle));
  const int held = std::clamp(counts[a], 0, TYPELINE_TAG_BUCKET_SLOTS - 1);
  slots[a * TYPELINE_TAG_BUCKET_SLOTS + static_cast<std::size_t>(held)] = tag;
  counts[a] = std::min(held + 1, TYPELINE_TAG_BUCKET_SLOTS - 1);
}

void fill_tag(const TypelineMinutiaList& minutiae, PairTag& tag) {
  const TypelineMinutia& a = minutiae.minutiae[tag.first];
  const TypelineMinutia& b = minutiae.minutiae[tag.second];
  const int g = direction_towards(b.x, b.y, a.x, a.y);
  const int opposite = g + kHalfTurn >= kFullTurn ? g - kHalfTurn : g + kHalfTurn;
  tag.lineDirection = static_cast<std::int16_t>(g >= kHalfTurn ? g - kHalfTurn : g);
  tag.firstAngle = static_cast<std::int16_t>(wrap_direction(g - a.direction));
  tag.secondAngle = static_cast<std::int16_t>(wrap_direction(opposite - b.direction));
}

namespace {

constexpr int kMinTagQuality = 15;  // both minutiae of a tag above 14
constexpr int kMaxSearchLength = 300;
constexpr int kMaxSearchTags = 500;

PairTag make_tag(const TypelineMinutiaList& minutiae, int length, int i, int k) {
  PairTag tag{static_cast<std::int16_t>(length), 0, 0, 0, static_cast<std::int16_t>(i), static_cast<std::int16_t>(k)};
  fill_tag(minutiae, tag);
  return tag;
}

void swap_ends(PairTag& tag) {
  std::swap(tag.first, tag.second);
  std::swap(tag.firstAngle, tag.secondAngle);
}

void append(PairTagList& list, const PairTag& tag, const BucketIndex& buckets) {
  list.tags[list.count] = tag;
  buckets.file(tag.firstAngle, list.count);
  ++list.count;
}

struct Candidate {
  int length, i, k;
};

}  // namespace

int search_tags(const TypelineRecord& record, PairTagList& list, const BucketIndex& buckets, int min_length,
                int max_length) {
  list.count = 0;
  if (!(min_length <= max_length && max_length <= kMaxSearchLength)) return 0;
  const int quality = record.minutiae.meanQuality;
  const std::size_t limit = quality < 46 ? 350 : 500;
  const auto m = minutiae_of(record.minutiae);
  std::vector<Candidate> found;
  found.reserve(limit);
  const int lo = min_length * min_length, hi = max_length * max_length;
  for (std::size_t i = 0; i < m.size() && found.size() < limit; ++i) {
    if (m[i].quality < kMinTagQuality) continue;
    for (std::size_t k = i + 1; k < m.size() && found.size() < limit; ++k) {
      if (m[k].quality < kMinTagQuality) continue;
      const int d2 = squared_distance(m[i], m[k]);
      if (d2 >= lo && d2 < hi) found.push_back({rounded_sqrt(d2), static_cast<int>(i), static_cast<int>(k)});
    }
  }

  std::vector<Candidate> kept = found;
  if (found.size() >= 150) {
    // Counting sort, shortest first; equal lengths come out in the reverse
    // of their finding order. A rounded length can reach 300 itself.
    std::array<int, kMaxSearchLength + 2> end{};
    for (const Candidate& c : found) ++end[static_cast<std::size_t>(c.length) + 1];
    for (std::size_t l = 1; l < end.size(); ++l) end[l] += end[l - 1];
    for (std::size_t l = 0; l + 1 < end.size(); ++l) end[l] = end[l + 1];
    for (const Candidate& c : found) kept[static_cast<std::size_t>(--end[static_cast<std::size_t>(c.length)])] = c;
    kept.resize(std::min<std::size_t>(kept.size(), quality >= 36 ? 150 : 300));
  }

  buckets.clear();
  int bound = 0;
  for (const Candidate& c : kept) {
    PairTag tag = make_tag(record.minutiae, c.length, c.i, c.k);
    if (c.length > bound) bound = c.length + 1;
    if (std::abs(tag.firstAngle - tag.secondAngle) > 10) {
      if (tag.firstAngle - tag.secondAngle > 10) swap_ends(tag);
      append(list, tag, buckets);
    } else {
      // Nearly symmetric tags are filed both ways round.
      append(list, tag, buckets);
      swap_ends(tag);
      append(list, tag, buckets);
    }
    // Checked after each pair: a pair filed both ways round may take the
    // list to 501, well within its 600 slots.
    if (list.count >= kMaxSearchTags) break;
  }
  return bound;
}

Centre file_tags(const TypelineRecord& record, PairTagList& list, const BucketIndex& buckets, int min_length,
                 int bound) {
  list.count = 0;
  buckets.clear();
  const auto m = minutiae_of(record.minutiae);
  const long long lo = static_cast<long long>(min_length - 13) * (min_length - 13);
  const long long hi = static_cast<long long>(bound + 13) * (bound + 13);
  for (std::size_t i = 0; i < m.size() && list.count < TYPELINE_MAX_PAIR_TAGS; ++i) {
    if (m[i].quality < kMinTagQuality) continue;
    for (std::size_t k = i + 1; k < m.size() && list.count < TYPELINE_MAX_PAIR_TAGS; ++k) {
      if (m[k].quality < kMinTagQuality) continue;
      const int d2 = squared_distance(m[i], m[k]);
      if (d2 <= lo || d2 >= hi) continue;
      PairTag tag = make_tag(record.minutiae, rounded_sqrt(d2), static_cast<int>(i), static_cast<int>(k));
      if (tag.secondAngle < tag.firstAngle) swap_ends(tag);
      append(list, tag, buckets);
    }
  }
  Centre centre;
  if (!m.empty()) {
    const auto [min_x, max_x] = std::minmax_element(m.begin(), m.end(), [](auto& p, auto& q) { return p.x < q.x; });
    const auto [min_y, max_y] = std::minmax_element(m.begin(), m.end(), [](auto& p, auto& q) { return p.y < q.y; });
    centre = {(max_x->x + min_x->x) / 2, (max_y->y + min_y->y) / 2};
  }
  return centre;
}

int rotate_points(int cx, int cy, std::span<int, TYPELINE_ROTATION_VOTES> votes, PairTagList& list,
                  TypelineRecord& record) {
  constexpr int n = TYPELINE_ROTATION_VOTES;
  std::array<long long, n> smooth{};
  for (int i = 0; i < n; ++i)
    for (int j = -4; j <= 4; ++j) smooth[i] += votes[static_cast<std::size_t>(wrap_direction(i + j))];
  for (int i = 0; i < n; ++i) votes[i] = static_cast<int>(std::min<long long>(smooth[i], std::numeric_limits<int>::max()));

  const int p = static_cast<int>(std::max_element(votes.begin(), votes.end()) - votes.begin());
  const long long half = votes[p] / 2;
  long long weights = 0, moment = 0;
  for (int k = p; k < p + 20; ++k) {
    const long long v = votes[static_cast<std::size_t>(wrap_direction(k - 10))];
    if (v > half && v > 20) {
      weights += v - half;
      moment += (v - half) * k;
    }
  }
  const long long m = weights > 0 ? (moment * 100 / weights + 50) / 100 : 0;
  const int rotation = wrap_direction(static_cast<int>(m) - 10);

  transform_minutiae(record.minutiae, cx, cy, rotation, 0, 0);
  for (int t = 0; t < std::clamp<int>(list.count, 0, TYPELINE_MAX_PAIR_TAGS); ++t) {
    int d = wrap_direction(list.tags[t].lineDirection + rotation);
    if (d > 119) d -= kHalfTurn;
    list.tags[t].lineDirection = static_cast<std::int16_t>(d);
  }
  transform_singular(record.singular, cx, cy, rotation, 0, 0);
  // Deltas' directions are turned as well here.
  for (int k = 0; k < singular_count(record.singular); ++k) {
    TypelineSingularPoint& s = record.singular.points[k];
    if (s.kind != 1) s.direction = static_cast<std::uint8_t>(wrap_direction(s.direction + rotation));
  }
  return rotation;
}

void add_shift_vote(int tolerance, int weight, const PairTag& first, const PairTag& second,
                    std::span<int, kShiftVotes> x_votes, std::span<int, kShiftVotes> y_votes,
                    const TypelineMinutiaList& first_minutiae, const TypelineMinutiaList& second_minutiae) {
  if (weight == 0) return;
  const TypelineMinutia& a1 = first_minutiae.minutiae[first.first];
  const TypelineMinutia& a2 = first_minutiae.minutiae[first.second];
  const TypelineMinutia& b1 = second_minutiae.minutiae[second.first];
  const TypelineMinutia& b2 = second_minutiae.minutiae[second.second];
  const int dx1 = b1.x - a1.x, dy1 = b1.y - a1.y, dx2 = b2.x - a2.x, dy2 = b2.y - a2.y;
  if (std::abs(dx1 - dx2) >= tolerance || std::abs(dy1 - dy2) >= tolerance) return;
  for (int v : {dx1, dy1, dx2, dy2})
    if (v <= -800 || v >= 800) return;
  const int xi = (dx1 + dx2) / 2 + kShiftOffset, yi = (dy1 + dy2) / 2 + kShiftOffset;
  // Shifts of 400 pixels or more have no slot in the tables.
  if (xi < 0 || xi >= kShiftVotes || yi < 0 || yi >= kShiftVotes) return;
  x_votes[static_cast<std::size_t>(xi)] += weight;
  y_votes[static_cast<std::size_t>(yi)] += weight;
}

namespace {

int choose_shift(std::span<int, kShiftVotes> votes) {
  std::array<long long, kShiftVotes> smooth{};
  for (int i = 5; i < kShiftVotes - 5; ++i)
    for (int j = i - 5; j < i + 5; ++j) smooth[i] += votes[static_cast<std::size_t>(j)];
  for (int i = 0; i < kShiftVotes; ++i)
    votes[i] = static_cast<int>(std::min<long long>(smooth[i], std::numeric_limits<int>::max()));
  const int p = static_cast<int>(std::max_element(votes.begin(), votes.end()) - votes.begin());
  const long long limit = 2LL * votes[p] / 3;
  long long weights = 0, moment = 0;
  for (int i = std::max(0, p - 10); i < std::min(kShiftVotes - 1, p + 10); ++i) {
    if (votes[i] > limit) {
      weights += votes[i];
      moment += static_cast<long long>(votes[i]) * i;
    }
  }
  return weights > 0 ? static_cast<int>(moment / weights) - kShiftOffset : 0;
}

}  // namespace

Shift shift_points(TypelineRecord& record, std::span<int, kShiftVotes> x_votes, std::span<int, kShiftVotes> y_votes) {
  const Shift shift{choose_shift(x_votes), choose_shift(y_votes)};
  for (TypelineMinutia& m : minutiae_of(record.minutiae)) {
    m.x = static_cast<std::int16_t>(m.x + shift.dx);
    m.y = static_cast<std::int16_t>(m.y + shift.dy);
  }
  for (int k = 0; k < singular_count(record.singular); ++k) {
    record.singular.points[k].x = static_cast<std::int16_t>(record.singular.points[k].x + shift.dx);
    record.singular.points[k].y = static_cast<std::int16_t>(record.singular.points[k].y + shift.dy);
  }
  return shift;
}

bool check_limit(const PairTag& first, const PairTag& second, const TypelineRecord& a, const TypelineRecord& b,
                 int cx, int cy) {
  const int base = std::max(a.density, b.density) > 200 ? 9 : 10;
  const auto coincide = [&](int ia, int ib) {
    const TypelineMinutia& p = a.minutiae.minutiae[ia];
    const TypelineMinutia& q = b.minutiae.minutiae[ib];
    const int r = rounded_sqrt(squared_distance(p.x, p.y, cx, cy));
    const int limit = r < 151 ? base + r / 50 : base + 3;
    return std::abs(p.x - q.x) < limit && std::abs(p.y - q.y) < limit;
  };
  return coincide(first.first, second.first) && coincide(first.second, second.second);
}

std::vector<int> near_cells_map(const TypelineMinutiaList& list, std::span<const int> common, int columns,
                                int reach, std::span<const TypelineMinutia> positions) {
  std::vector<int> map(static_cast<std::size_t>(minutia_count(list)), -1);
  if (columns == 0) return map;
  int kept = 0;
  for (std::size_t i = 0; i < map.size() && i < positions.size(); ++i) {
    const TypelineMinutia& p = positions[i];
    for (int c : common) {
      const int x = 16 * (c % columns) + 8, y = 16 * (c / columns) + 8;
      if (std::abs(p.x - x) < reach && std::abs(p.y - y) < reach) {
        map[i] = kept++;
        break;
      }
    }
  }
  return map;
}

int apply_minutia_map(TypelineMinutiaList& list, std::span<const int> map) {
  int kept = 0;
  for (std::size_t i = 0; i < map.size(); ++i)
    if (map[i] >= 0) list.minutiae[kept++] = list.minutiae[i];
  list.count = static_cast<std::int8_t>(kept);
  return kept;
}

std::vector<int> keep_tags(PairTagList& list, std::span<const int> minutia_map) {
  const int n = std::clamp<int>(list.count, 0, TYPELINE_MAX_PAIR_TAGS);
  std::vector<int> map(static_cast<std::size_t>(n), -1);
  const auto survivor = [&](int index) {
    return index >= 0 && static_cast<std::size_t>(index) < minutia_map.size() ? minutia_map[index] : -1;
  };
  int kept = 0;
  for (int t = 0; t < n; ++t)
    if (survivor(list.tags[t].first) >= 0 && survivor(list.tags[t].second) >= 0) map[t] = kept++;
  if (kept == 0) return {};
  for (int t = 0; t < n; ++t) {
    if (map[t] < 0) continue;
    PairTag tag = list.tags[t];
    tag.first = static_cast<std::int16_t>(survivor(tag.first));
    tag.second = static_cast<std::int16_t>(survivor(tag.second));
    list.tags[map[t]] = tag;
  }
  list.count = static_cast<std::int16_t>(kept);
  return map;
}

std::vector<int> common_cells(const TypelineBlockGrid& a, const TypelineBlockGrid& b) {
  std::vector<int> common;
  for (int c = 0; c < cell_count(a); ++c)
    if (a.cells[c] != kNoOrientation && b.cells[c] != kNoOrientation) common.push_back(c);
  return common;
}

bool re_arrange_point(std::span<PairCandidate> candidates, std::span<int> selected, int& selected_count,
                      TypelineRecord& first, TypelineRecord& second, PairTagList& first_list,
                      PairTagList& second_list) {
  const std::vector<int> common = common_cells(first.grid, second.grid);
  if (common.empty()) return false;
  for (int side = 0; side < 2; ++side) {
    TypelineRecord& record = side == 0 ? first : second;
    PairTagList& list = side == 0 ? first_list : second_list;
    const std::vector<int> minutia_map =
        near_cells_map(record.minutiae, common, record.grid.columns, 9, minutiae_of(record.minutiae));
    if (apply_minutia_map(record.minutiae, minutia_map) == 0) return false;
    const std::vector<int> tag_map = keep_tags(list, minutia_map);
    if (tag_map.empty()) return false;
    // Every candidate is renumbered or dropped, so none keeps a stale index.
    std::vector<bool> dropped(candidates.size(), false);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      std::int16_t& tag = side == 0 ? candidates[i].firstTag : candidates[i].secondTag;
      const int renumbered = tag >= 0 && static_cast<std::size_t>(tag) < tag_map.size() ? tag_map[tag] : -1;
      if (renumbered >= 0)
        tag = static_cast<std::int16_t>(renumbered);
      else
        dropped[i] = true;
    }
    int kept = 0;
    for (int j = 0; j < selected_count; ++j) {
      const int c = selected[static_cast<std::size_t>(j)];
      if (c >= 0 && static_cast<std::size_t>(c) < candidates.size() && !dropped[static_cast<std::size_t>(c)])
        selected[static_cast<std::size_t>(kept++)] = c;
    }
    selected_count = kept;
  }
  return true;
}

}  // namespace zyl::typeline

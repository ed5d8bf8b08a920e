// The type-line matcher: coarse alignment, type matching, pair tags, point
// scores, point matching, score corrections and the 1:N search.
//
// Functions take records as references and trust nothing but the array
// sizes: counts are read through the clamping helpers below, and matched
// pairs are expected to name minutiae within their records (the exported
// layer checks pairs handed in by callers).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "typeline/integer_geometry.h"
#include "typeline/template_codec.h"
#include "zylscan/typeline_match.h"

namespace zyl::typeline {

// ---- Shared helpers ----

inline int minutia_count(const TypelineMinutiaList& list) {
  return std::clamp<int>(list.count, 0, TYPELINE_MAX_MINUTIAE);
}
inline std::span<const TypelineMinutia> minutiae_of(const TypelineMinutiaList& list) {
  return {list.minutiae, static_cast<std::size_t>(minutia_count(list))};
}
inline std::span<TypelineMinutia> minutiae_of(TypelineMinutiaList& list) {
  return {list.minutiae, static_cast<std::size_t>(minutia_count(list))};
}
inline int cell_count(const TypelineBlockGrid& grid) {
  return std::min(grid.columns * grid.rows, TYPELINE_MAX_BLOCKS);
}
inline int singular_count(const TypelineSingularList& list) {
  return std::clamp<int>(list.count, 0, TYPELINE_MAX_SINGULAR_POINTS);
}

// Squared distance, saturated so that far-off points in caller records
// cannot overflow.
inline int squared_distance(int ax, int ay, int bx, int by) {
  const long long dx = ax - bx, dy = ay - by;
  const long long d = dx * dx + dy * dy;
  return d > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(d);
}
inline int squared_distance(const TypelineMinutia& a, const TypelineMinutia& b) {
  return squared_distance(a.x, a.y, b.x, b.y);
}

inline int wrap_direction(int d) {
  d %= kFullTurn;
  return d < 0 ? d + kFullTurn : d;
}

// Circular difference 0..120 of two directions; stored directions above 239
// (possible in a damaged template) are taken modulo 240 first.
inline int turn_difference(int a, int b) { return direction_difference(wrap_direction(a), wrap_direction(b)); }

// The rounded-sum rule of the Q14 products.
inline int round_q14(long long s) { return static_cast<int>(s > 0 ? (s + 8192) >> 14 : s >> 14); }

inline constexpr std::uint8_t kNoOrientation = 255;

// Cores of a singular-point list (at most 2, record order).
struct Cores {
  std::array<TypelineSingularPoint, 2> points{};
  int count = 0;
};
Cores cores_of(const TypelineSingularList& list);

// Convex hull of a list's minutia positions; false when none closes.
bool minutia_polygon(const TypelineMinutiaList& list, PointPolygon& polygon);

// Bucket index of a tag list: per first angle a count and 20 tag slots.
struct BucketIndex {
  std::span<int, TYPELINE_TAG_BUCKETS> counts;
  std::span<int, TYPELINE_TAG_BUCKETS * TYPELINE_TAG_BUCKET_SLOTS> slots;
  void clear() const;
  // A bucket keeps 19 counted tags; later tags overwrite its last slot.
  void file(int angle, int tag) const;
  int count(int angle) const { return counts[static_cast<std::size_t>(angle)]; }
  int slot(int angle, int j) const { return slots[static_cast<std::size_t>(angle * TYPELINE_TAG_BUCKET_SLOTS + j)]; }
};
struct BucketStore {
  std::array<int, TYPELINE_TAG_BUCKETS> counts{};
  std::array<int, TYPELINE_TAG_BUCKETS * TYPELINE_TAG_BUCKET_SLOTS> slots{};
  BucketIndex view() { return {counts, slots}; }
};

// ---- Coarse matching ----

void transform_points(TypelineRecord& record, int cx, int cy, int r, int dx, int dy);
void transform_minutiae(TypelineMinutiaList& list, int cx, int cy, int r, int dx, int dy);
void transform_singular(TypelineSingularList& list, int cx, int cy, int r, int dx, int dy);
void transform_block(int r, int dx, int dy, int cx, int cy, TypelineBlockGrid& grid);
int overlap_count(const TypelineMinutiaList& a, const TypelineMinutiaList& b);
struct MatchedCounts {
  int below8 = 0;
  int below11 = 0;
};
MatchedCounts matched_points(const TypelineMinutiaList& a, const TypelineMinutiaList& b);
int matched_minutiae(int radius, int tolerance, const TypelineMinutiaList& a, const TypelineMinutiaList& b);
int block_agreement(int tolerance, int ratio, const TypelineBlockGrid& a, const TypelineBlockGrid& b);
int block_overlap(int ratio, const TypelineBlockGrid& a, const TypelineBlockGrid& b);
int coarse_matching(const TypelineRecord& a, const TypelineRecord& b);

// ---- Type matching ----

int core_type_line_distance(const TypelineRecord& record, int k, bool far);
int type_matching(const TypelineRecord& a, const TypelineRecord& b);

// ---- Pair tags and alignment ----

inline constexpr int kShiftVotes = TYPELINE_SHIFT_VOTES;
inline constexpr int kShiftOffset = 400;

void fill_tag(const TypelineMinutiaList& minutiae, PairTag& tag);
int search_tags(const TypelineRecord& record, PairTagList& list, const BucketIndex& buckets, int min_length,
                int max_length);
struct Centre {
  int x = 0;
  int y = 0;
};
Centre file_tags(const TypelineRecord& record, PairTagList& list, const BucketIndex& buckets, int min_length,
                 int bound);
int rotate_points(int cx, int cy, std::span<int, TYPELINE_ROTATION_VOTES> votes, PairTagList& list,
                  TypelineRecord& record);
void add_shift_vote(int tolerance, int weight, const PairTag& first, const PairTag& second,
                    std::span<int, kShiftVotes> x_votes, std::span<int, kShiftVotes> y_votes,
                    const TypelineMinutiaList& first_minutiae, const TypelineMinutiaList& second_minutiae);
struct Shift {
  int dx = 0;
  int dy = 0;
};
Shift shift_points(TypelineRecord& record, std::span<int, kShiftVotes> x_votes, std::span<int, kShiftVotes> y_votes);
bool check_limit(const PairTag& first, const PairTag& second, const TypelineRecord& a, const TypelineRecord& b,
                 int cx, int cy);
// Cells (of a's size) where both grids hold an orientation.
std::vector<int> common_cells(const TypelineBlockGrid& a, const TypelineBlockGrid& b);
// Which minutiae lie within reach - 1 pixels in x and y of a common cell
// centre (positions[i] stands for minutia i): the old -> new index map of
// keeping them in order, -1 for the dropped ones.
std::vector<int> near_cells_map(const TypelineMinutiaList& list, std::span<const int> common, int columns,
                                int reach, std::span<const TypelineMinutia> positions);
// Cuts the list by the map; answers the number kept.
int apply_minutia_map(TypelineMinutiaList& list, std::span<const int> map);
// Keeps the tags whose two minutiae survive, renumbered; answers the old ->
// new tag map, or an empty map when no tag survives (the list unchanged).
std::vector<int> keep_tags(PairTagList& list, std::span<const int> minutia_map);
bool re_arrange_point(std::span<PairCandidate> candidates, std::span<int> selected, int& selected_count,
                      TypelineRecord& first, TypelineRecord& second, PairTagList& first_list,
                      PairTagList& second_list);

// ---- Grey-level normalisation ----

void normalize_grey(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

// ---- Point scores and common area ----

int largest_curvature(const TypelineMinutiaList& list);
// Anchors for anchored alignments: in order, curvature below the limit,
// quality at least min_quality, farther than the squared spacing from every
// anchor already chosen.
std::vector<int> choose_anchors(const TypelineMinutiaList& list, int curvature_limit, int min_quality, int spacing,
                                std::size_t max_anchors);
// Similarity of two minutia sets in one frame (3500 for two equal sets).
int set_score(std::span<const TypelineMinutia> a, std::span<const TypelineMinutia> b);
int point_score(TypelineRecord& a, const TypelineRecord& b);
int point_score2(TypelineRecord& a, const TypelineRecord& b, int& block_agreement_out);
int arrange_points(TypelineRecord& a, TypelineRecord& b, PairTagList& second_list, int& bound,
                   const BucketIndex& second_buckets, bool prune);
bool arrange_points_sub(int cx, int cy, int r, int dx, int dy, TypelineMinutiaList& first_minutiae,
                        const TypelineBlockGrid& first_grid, TypelineRecord& second, PairTagList& second_list,
                        int& bound, const BucketIndex& second_buckets);

// ---- Point matching ----

// Working tables of point matching, obtained once per call.
struct PointMatchTables;
// The numbered gates of point matching, on the numbers of one call.
// A pass's tag-score sum normalised by the second record's tag count: doubled
// up to 100 tags, else scaled by 200 / tags; then (v x 929 + 1637) / 1000.
int normalised_tag_sum(int sum, int n_tags);
// True when a strict first pass is too weak to go on: its sum is small for
// its candidates and below 3 t.
bool weak_first_pass(int sum, int candidates, int t);
// True when the turned and shifted block grids agree enough to go on (bA,
// bB in percent; a pass with many candidates is let through a lower bA).
bool block_grids_agree(int bA, int bB, int candidates);
// A point score above this decides a comparison at once (the call answers
// 2 t).
inline constexpr int kDecisivePointScore = 1700;
// The first voting pass: every second-list tag against the first-list tags
// of the 20 buckets around its first angle. Each agreeing pair votes its two
// rotations and is listed as a candidate; the sum adds each second-list
// tag's best score. A full candidate list ends the pass.
struct FirstPass {
  int sum = 0;
  int candidates = 0;
};
FirstPass first_voting_pass(const TypelineRecord& first, const TypelineRecord& second, const PairTagList& first_list,
                            const PairTagList& second_list, const BucketIndex& fb, const BucketIndex& sb,
                            bool block_check, bool type_check, std::span<int, TYPELINE_ROTATION_VOTES> votes,
                            std::span<PairCandidate> candidates);
int point_matching(TypelineRecord& first, TypelineRecord& second, PointMatchResult& result, bool strict, int t,
                   std::int32_t& cache, PairTagList& first_list, PairTagList& second_list);
bool check_core(const TypelineSingularList& a, const TypelineSingularList& b, int distance_limit, int angle_limit);
int matched_local_structures(const TypelineMinutiaList& a, const TypelineMinutiaList& b,
                             const PointMatchResult& result);
void local_structures(const TypelineMinutiaList& minutiae, std::span<const std::int16_t> indexes,
                      TypelineLocalStructureSet& out);
int match_structures(const TypelineLocalStructureSet& a, const TypelineLocalStructureSet& b);
bool match_structure(const TypelineLocalStructure& a, const TypelineLocalStructure& b);

// ---- Score adjustment and decisions ----

struct AdjustInputs {
  int P, bA, bB, n, D, N, m, K, L, Q, M;
};
int adjust_score(int s, const AdjustInputs& in);
bool check_paired_mp(const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result);
int dec_func_01(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result, int L);
int dec_func_03(int s, const TypelineRecord& a, const TypelineRecord& b, int D, int bA, int L);
int dec_func_07(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result);
int dec_func_12(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result);
int dec_func_13(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result, int D,
                int bA);
bool check_point_kind(const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result);
int dec_func_02(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result);
int dec_func_04(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result);
int dec_func_05(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result);
int dec_func_06(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result, int t, int D,
                int bA, int x);

// Matched pairs of a result, for the decisions.
inline int pair_count(const PointMatchResult& r) { return std::clamp<int>(r.pairCount, 0, TYPELINE_MAX_MINUTIAE); }
// 1 when index is listed among the result's pairs on that side (0 first, 1
// second).
bool is_paired(const PointMatchResult& result, int index, int side);
// Every pair names minutiae within the two lists.
bool pairs_valid(const PointMatchResult& result, const TypelineMinutiaList& a, const TypelineMinutiaList& b);

// ---- Unpaired-minutia decisions ----

struct DecisionInputs {
  int L, bA, D, P, K, bB;
};
bool check_exist(int x, int y, int direction, int skip, int radius, int angle_limit,
                 const TypelineMinutiaList& minutiae, const PointMatchResult* result, bool exclude_paired,
                 bool position_only, int side);
int dec_func_10(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result,
                const DecisionInputs& in);
int dec_func_08(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result,
                const DecisionInputs& in);
int dec_func_09(int s, const TypelineMinutiaList& a, const TypelineMinutiaList& b, const PointMatchResult& result);
int dec_func_11(int s, const TypelineRecord& a, const TypelineRecord& b, const PointMatchResult& result);
void get_neighbor(int x, int y, const TypelineMinutiaList& minutiae, std::span<const std::int16_t> listed,
                  bool exclude_listed, int radius, bool filter_quality, int min_quality, bool keep_nearest, int k,
                  TypelineMinutiaList& out);
bool check_neighbor(int first_index, int second_index, const TypelineMinutiaList& first_neighbours,
                    const TypelineMinutiaList& second_neighbours, const TypelineRecord& a, const TypelineRecord& b);
bool check_overlap(const TypelineSingularList& a, const TypelineSingularList& b);

// ---- Match driver and search ----

// Acceptance threshold of a mode.
int acceptance_threshold(int mode);
enum MatchStatus : int { kMatchRefused = -1, kMatchNoMemory = -21, kSearchNotFound = -11 };
int matching_main(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int mode);
int finger_match(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int mode);

inline constexpr std::size_t kGalleryStride = kTemplateSize;
int finger_search(std::span<const std::uint8_t> probe, std::span<const std::uint8_t> gallery, int count, int mode);
// The visiting order; false when the similarity table cannot be obtained.
bool search_order(std::span<const std::uint8_t> probe, std::span<const std::uint8_t> gallery, int count,
                  std::span<int> order);
int search_similarity(const TypelineRecord& gallery, const TypelineRecord& probe);
void select_best(std::span<const std::int32_t> similarities, std::span<int> order);
void search_transform(std::span<TypelineMinutia> list, int cx, int cy, int r, int sx, int sy);
int search_core_similarity(const TypelineRecord& probe, const TypelineRecord& gallery);

}  // namespace zyl::typeline

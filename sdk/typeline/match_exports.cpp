// The type-line matcher's exported C names: pointer and range checks and
// type conversions around the C++ code. No exception crosses this layer.
#include <cstring>
#include <new>

#include "common/guarded_call.h"
#include "typeline/matching.h"
#include "zylscan/typeline_match.h"

namespace tl = zyl::typeline;

namespace {

std::span<const std::uint8_t> template_bytes(const std::uint8_t* p) { return {p, tl::kTemplateSize}; }

tl::BucketIndex buckets(int* counts, int* slots) {
  return {std::span<int, TYPELINE_TAG_BUCKETS>(counts, TYPELINE_TAG_BUCKETS),
          std::span<int, TYPELINE_TAG_BUCKETS * TYPELINE_TAG_BUCKET_SLOTS>(
              slots, TYPELINE_TAG_BUCKETS * TYPELINE_TAG_BUCKET_SLOTS)};
}

bool tag_valid(const PairTag* tag, const TypelineMinutiaList& list) {
  const int n = tl::minutia_count(list);
  return tag && tag->first >= 0 && tag->first < n && tag->second >= 0 && tag->second < n;
}

bool tags_valid(const PairTagList& list, const TypelineMinutiaList& minutiae) {
  if (list.count < 0 || list.count > TYPELINE_MAX_PAIR_TAGS) return false;
  for (int t = 0; t < list.count; ++t)
    if (!tag_valid(&list.tags[t], minutiae)) return false;
  return true;
}

// A result checked against the two minutia lists it pairs.
bool result_ok(const PointMatchResult* r, const TypelineMinutiaList* a, const TypelineMinutiaList* b) {
  return r && a && b && tl::pairs_valid(*r, *a, *b);
}

}  // namespace

extern "C" {

// ---- Coarse matching ----

ZYL_API void transform_points(TypelineRecord* record, int cx, int cy, int r, int dx, int dy) {
  if (record) tl::transform_points(*record, cx, cy, r, dx, dy);
}

ZYL_API void transform_mp(TypelineMinutiaList* minutiae, int cx, int cy, int r, int dx, int dy) {
  if (minutiae) tl::transform_minutiae(*minutiae, cx, cy, r, dx, dy);
}

ZYL_API void transform_core(TypelineSingularList* points, int cx, int cy, int r, int dx, int dy) {
  if (points) tl::transform_singular(*points, cx, cy, r, dx, dy);
}

ZYL_API void transform_block(int r, int dx, int dy, int cx, int cy, TypelineBlockGrid* grid) {
  if (grid) tl::transform_block(r, dx, dy, cx, cy, *grid);
}

ZYL_API int get_min_points_number(const TypelineMinutiaList* a, const TypelineMinutiaList* b) {
  return a && b ? tl::overlap_count(*a, *b) : 0;
}

ZYL_API int get_matched_points_number(const TypelineMinutiaList* a, const TypelineMinutiaList* b, int* t8, int* t11) {
  const tl::MatchedCounts c = a && b ? tl::matched_points(*a, *b) : tl::MatchedCounts{};
  if (t8) *t8 = c.below8;
  if (t11) *t11 = c.below11;
  return c.below8;
}

ZYL_API int get_matched_mp_num(int radius, int tolerance, const TypelineMinutiaList* a, const TypelineMinutiaList* b) {
  return a && b ? tl::matched_minutiae(radius, tolerance, *a, *b) : 0;
}

ZYL_API int check_block(int tolerance, int ratio, const TypelineBlockGrid* a, const TypelineBlockGrid* b) {
  return a && b ? tl::block_agreement(tolerance, ratio, *a, *b) : 0;
}

ZYL_API int check_block2(int ratio, const TypelineBlockGrid* a, const TypelineBlockGrid* b) {
  return a && b ? tl::block_overlap(ratio, *a, *b) : 0;
}

ZYL_API int coarse_matching(const TypelineRecord* a, const TypelineRecord* b) {
  return a && b ? tl::coarse_matching(*a, *b) : 0;
}

// ---- Type matching ----

ZYL_API int get_distance(const TypelineRecord* record, int k, int far) {
  return record ? tl::core_type_line_distance(*record, k, far != 0) : 0;
}

ZYL_API int type_matching(const TypelineRecord* a, const TypelineRecord* b) {
  return a && b ? tl::type_matching(*a, *b) : 0;
}

// ---- Pair tags and alignment ----

ZYL_API void get_tag_item(const TypelineMinutiaList* minutiae, PairTag* tag) {
  if (minutiae && tag_valid(tag, *minutiae)) tl::fill_tag(*minutiae, *tag);
}

ZYL_API void get_search_tag(const TypelineRecord* record, PairTagList* list, int* lengthBound, int* bucketCounts,
                            int* bucketSlots, int minLength, int maxLength) {
  if (!record || !list || !bucketCounts || !bucketSlots) return;
  const int bound = zyl::GuardedCall(
      0, [&] { return tl::search_tags(*record, *list, buckets(bucketCounts, bucketSlots), minLength, maxLength); });
  if (lengthBound) *lengthBound = bound;
}

ZYL_API void get_file_tag(const TypelineRecord* record, PairTagList* list, int* bucketCounts, int* bucketSlots,
                          int* centreX, int* centreY, int minLength, int lengthBound) {
  if (!record || !list || !bucketCounts || !bucketSlots) return;
  const tl::Centre c = tl::file_tags(*record, *list, buckets(bucketCounts, bucketSlots), minLength, lengthBound);
  if (centreX) *centreX = c.x;
  if (centreY) *centreY = c.y;
}

ZYL_API int rotate_points(int cx, int cy, int* votes, PairTagList* list, TypelineRecord* record) {
  if (!votes || !list || !record) return 0;
  return tl::rotate_points(cx, cy, std::span<int, TYPELINE_ROTATION_VOTES>(votes, TYPELINE_ROTATION_VOTES), *list,
                           *record);
}

ZYL_API void get_shift_param(int tolerance, int weight, const PairTag* first, const PairTag* second, int* xVotes,
                             int* yVotes, const TypelineMinutiaList* firstMinutiae,
                             const TypelineMinutiaList* secondMinutiae) {
  if (!xVotes || !yVotes || !firstMinutiae || !secondMinutiae || !tag_valid(first, *firstMinutiae) ||
      !tag_valid(second, *secondMinutiae))
    return;
  tl::add_shift_vote(tolerance, weight, *first, *second, std::span<int, tl::kShiftVotes>(xVotes, tl::kShiftVotes),
                     std::span<int, tl::kShiftVotes>(yVotes, tl::kShiftVotes), *firstMinutiae, *secondMinutiae);
}

ZYL_API void shift_points(int* dx, int* dy, TypelineRecord* record, int* xVotes, int* yVotes) {
  if (!record || !xVotes || !yVotes) return;
  const tl::Shift s = tl::shift_points(*record, std::span<int, tl::kShiftVotes>(xVotes, tl::kShiftVotes),
                                       std::span<int, tl::kShiftVotes>(yVotes, tl::kShiftVotes));
  if (dx) *dx = s.dx;
  if (dy) *dy = s.dy;
}

ZYL_API int check_limit(int /*tolerance*/, const PairTag* first, const PairTag* second, const TypelineRecord* a,
                        const TypelineRecord* b, int cx, int cy) {
  if (!a || !b || !tag_valid(first, a->minutiae) || !tag_valid(second, b->minutiae)) return 0;
  return tl::check_limit(*first, *second, *a, *b, cx, cy) ? 1 : 0;
}

ZYL_API int re_arrange_point(PairCandidate* candidates, int* selected, int candidateCount, int* selectedCount,
                             TypelineRecord* first, TypelineRecord* second, PairTagList* firstList,
                             PairTagList* secondList) {
  if (!candidates || !selected || !selectedCount || !first || !second || !firstList || !secondList) return 0;
  if (candidateCount < 0 || candidateCount > 1000 || *selectedCount < 0 || *selectedCount > 500) return 0;
  if (!tags_valid(*firstList, first->minutiae) || !tags_valid(*secondList, second->minutiae)) return 0;
  return zyl::GuardedCall(0, [&] {
    return tl::re_arrange_point({candidates, static_cast<std::size_t>(candidateCount)},
                                {selected, static_cast<std::size_t>(*selectedCount)}, *selectedCount, *first,
                                *second, *firstList, *secondList)
               ? 1
               : 0;
  });
}

// ---- Grey-level normalisation ----

ZYL_API int normalizeZyl(const std::uint8_t* in, std::uint8_t* out, int width, int height, float /*factor*/) {
  if (!in || !out || width < 0 || height < 0) return -1;
  const auto n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  tl::normalize_grey({in, n}, {out, n});
  return 0;
}

// ---- Point scores and common area ----

ZYL_API int get_score_sub(const TypelineMinutiaList* a, const TypelineMinutiaList* b) {
  return a && b ? tl::set_score(tl::minutiae_of(*a), tl::minutiae_of(*b)) : 0;
}

ZYL_API int get_point_score(TypelineRecord* a, const TypelineRecord* b) {
  return a && b ? zyl::GuardedCall(0, [&] { return tl::point_score(*a, *b); }) : 0;
}

ZYL_API int get_point_score2(TypelineRecord* a, const TypelineRecord* b, int* blockAgreement) {
  int g = 0;
  const int score = a && b ? zyl::GuardedCall(0, [&] { return tl::point_score2(*a, *b, g); }) : 0;
  if (blockAgreement) *blockAgreement = g;
  return score;
}

ZYL_API int arrange_points(TypelineRecord* a, TypelineRecord* b, PairTagList* secondList, int* lengthBound,
                           int* bucketSlots, int* bucketCounts, int prune) {
  if (!a || !b || !secondList || !lengthBound || !bucketSlots || !bucketCounts) return 0;
  if (!tags_valid(*secondList, b->minutiae)) return 0;
  return zyl::GuardedCall(0, [&] {
    return tl::arrange_points(*a, *b, *secondList, *lengthBound, buckets(bucketCounts, bucketSlots), prune != 0);
  });
}

ZYL_API int arrange_points_sub(int cx, int cy, int r, int dx, int dy, TypelineMinutiaList* firstMinutiae,
                               const TypelineBlockGrid* firstGrid, TypelineRecord* second, PairTagList* secondList,
                               int* lengthBound, int* bucketSlots, int* bucketCounts) {
  if (!firstMinutiae || !firstGrid || !second || !secondList || !lengthBound || !bucketSlots || !bucketCounts)
    return 0;
  if (!tags_valid(*secondList, second->minutiae)) return 0;
  return zyl::GuardedCall(0, [&] {
    return tl::arrange_points_sub(cx, cy, r, dx, dy, *firstMinutiae, *firstGrid, *second, *secondList, *lengthBound,
                                  buckets(bucketCounts, bucketSlots))
               ? 1
               : 0;
  });
}

// ---- Match driver and search ----

ZYL_API int finger_match(const std::uint8_t* a, const std::uint8_t* b, int mode) {
  if (!a || !b) return 0;
  return zyl::GuardedCall(0, [&] { return tl::finger_match(template_bytes(a), template_bytes(b), mode); });
}

ZYL_API int matching_main(const std::uint8_t* a, const std::uint8_t* b, int mode) {
  if (!a || !b) return tl::kMatchRefused;
  return zyl::GuardedCall(tl::kMatchNoMemory,
                          [&] { return tl::matching_main(template_bytes(a), template_bytes(b), mode); });
}

ZYL_API int finger_search(const std::uint8_t* probe, const std::uint8_t* gallery, int count, int mode) {
  if (!probe || !gallery || count <= 0) return tl::kMatchRefused;
  const std::span<const std::uint8_t> all(gallery, static_cast<std::size_t>(count) * tl::kGalleryStride);
  return zyl::GuardedCall(tl::kMatchNoMemory,
                          [&] { return tl::finger_search(template_bytes(probe), all, count, mode); });
}

namespace {
// The visiting order is kept in 16-bit positions.
constexpr int kMaxOrdered = 65536;
}  // namespace

ZYL_API int sch_sub_func(const std::uint8_t* probe, const std::uint8_t* gallery, int count, std::uint16_t* order) {
  if (!probe || !gallery || !order || count <= 0 || count > kMaxOrdered) return 0;
  return zyl::GuardedCall(0, [&] {
    std::vector<int> wide(static_cast<std::size_t>(count));
    const std::span<const std::uint8_t> all(gallery, static_cast<std::size_t>(count) * tl::kGalleryStride);
    if (!tl::search_order(template_bytes(probe), all, count, wide)) return 0;
    for (int i = 0; i < count; ++i) order[i] = static_cast<std::uint16_t>(wide[static_cast<std::size_t>(i)]);
    return 1;
  });
}

ZYL_API int sch_sub_func_01(const TypelineRecord* gallery, const TypelineRecord* probe) {
  return gallery && probe ? tl::search_similarity(*gallery, *probe) : 0;
}

ZYL_API void sch_sub_func_02(const std::int32_t* similarities, int count, std::uint16_t* order) {
  if (!similarities || !order || count <= 0 || count > kMaxOrdered) return;
  zyl::GuardedCall(0, [&] {
    std::vector<int> wide(static_cast<std::size_t>(count));
    tl::select_best({similarities, static_cast<std::size_t>(count)}, wide);
    for (int i = 0; i < count; ++i) order[i] = static_cast<std::uint16_t>(wide[static_cast<std::size_t>(i)]);
    return 0;
  });
}

ZYL_API void sch_sub_func_03(TypelineMinutiaList* list, int cx, int cy, int r, int sx, int sy) {
  if (list) tl::search_transform(tl::minutiae_of(*list), cx, cy, r, sx, sy);
}

ZYL_API int sch_sub_func_04(const TypelineMinutiaList* a, const TypelineMinutiaList* b) {
  return a && b ? tl::set_score(tl::minutiae_of(*a), tl::minutiae_of(*b)) : 0;
}

ZYL_API int sch_sub_func_05(const TypelineRecord* probe, const TypelineRecord* gallery) {
  return probe && gallery ? tl::search_core_similarity(*probe, *gallery) : 0;
}

// ---- Point matching ----

ZYL_API int point_matching(TypelineRecord* first, TypelineRecord* second, PointMatchResult* result, int /*unused*/,
                           int strict, int t, std::int32_t* cache, PairTagList* firstList, PairTagList* secondList) {
  if (!first || !second || !result || !cache || !firstList || !secondList) return 0;
  return zyl::GuardedCall(
      0, [&] { return tl::point_matching(*first, *second, *result, strict != 0, t, *cache, *firstList, *secondList); });
}

ZYL_API int check_core(const TypelineSingularList* a, const TypelineSingularList* b, int distanceLimit,
                       int angleLimit) {
  return a && b && tl::check_core(*a, *b, distanceLimit, angleLimit) ? 1 : 0;
}

ZYL_API int GetMatchedTemplateNum(const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                                  const PointMatchResult* result) {
  if (!result_ok(result, a, b)) return -1;
  return tl::matched_local_structures(*a, *b, *result);
}

ZYL_API void get_paired_template(const TypelineMinutiaList* minutiae, int n, const std::int16_t* indexes,
                                 TypelineLocalStructureSet* out) {
  if (!out) return;
  if (!minutiae || !indexes || n <= 0) {
    *out = TypelineLocalStructureSet{};
    return;
  }
  tl::local_structures(*minutiae, {indexes, static_cast<std::size_t>(std::min(n, TYPELINE_MAX_MINUTIAE))}, *out);
}

ZYL_API int match_template(const TypelineLocalStructureSet* a, const TypelineLocalStructureSet* b) {
  return a && b ? tl::match_structures(*a, *b) : 0;
}

ZYL_API int match_paired_chunk(const TypelineLocalStructure* a, const TypelineLocalStructure* b) {
  return a && b && tl::match_structure(*a, *b) ? 1 : 0;
}

// ---- Score adjustment and decisions ----

ZYL_API int adjust_score(int s, int P, int bA, int bB, int /*unused*/, int n, int D, int N, int m, int K, int L, int Q,
                         int M) {
  // N divides in the factor step, which only lists of 100 tags or more take.
  return tl::adjust_score(s, {P, bA, bB, n, D, N, m, K, L, Q, M});
}

ZYL_API int check_paired_mp(const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                            const PointMatchResult* result) {
  return result_ok(result, a, b) && tl::check_paired_mp(*a, *b, *result) ? 1 : 0;
}

ZYL_API int dec_func_01(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result,
                        int L) {
  if (!a || !b || !result_ok(result, &a->minutiae, &b->minutiae)) return s;
  return tl::dec_func_01(s, *a, *b, *result, L);
}

ZYL_API int dec_func_03(int s, const TypelineRecord* a, const TypelineRecord* b, int D, int bA, int L) {
  return a && b ? tl::dec_func_03(s, *a, *b, D, bA, L) : s;
}

ZYL_API int dec_func_07(int s, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result) {
  return result_ok(result, a, b) ? tl::dec_func_07(s, *a, *b, *result) : s;
}

ZYL_API int dec_func_12(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result) {
  if (!a || !b || !result_ok(result, &a->minutiae, &b->minutiae)) return s;
  return tl::dec_func_12(s, *a, *b, *result);
}

ZYL_API int dec_func_13(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result,
                        int /*t*/, int D, int bA, int /*unused*/) {
  if (!a || !b || !result_ok(result, &a->minutiae, &b->minutiae)) return s;
  return tl::dec_func_13(s, *a, *b, *result, D, bA);
}

ZYL_API int check_point_kind(const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                             const PointMatchResult* result) {
  return result_ok(result, a, b) && tl::check_point_kind(*a, *b, *result) ? 1 : 0;
}

ZYL_API int dec_func_02(int s, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result) {
  return result_ok(result, a, b) ? tl::dec_func_02(s, *a, *b, *result) : s;
}

ZYL_API int dec_func_04(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result) {
  if (!a || !b || !result_ok(result, &a->minutiae, &b->minutiae)) return s;
  return tl::dec_func_04(s, *a, *b, *result);
}

ZYL_API int dec_func_05(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result) {
  if (!a || !b || !result_ok(result, &a->minutiae, &b->minutiae)) return s;
  return tl::dec_func_05(s, *a, *b, *result);
}

ZYL_API int dec_func_06(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result, int t,
                        int D, int bA, int x) {
  if (!a || !b || !result_ok(result, &a->minutiae, &b->minutiae)) return s;
  return tl::dec_func_06(s, *a, *b, *result, t, D, bA, x);
}

// ---- Unpaired-minutia decisions ----

ZYL_API int check_exist(int x, int y, int direction, int skip, int radius, int angleLimit,
                        const TypelineMinutiaList* minutiae, const PointMatchResult* result, int excludePaired,
                        int positionOnly, int side) {
  if (!minutiae || (excludePaired && !result)) return 0;
  return tl::check_exist(x, y, direction, skip, radius, angleLimit, *minutiae, result, excludePaired != 0,
                         positionOnly != 0, side)
             ? 1
             : 0;
}

ZYL_API int dec_func_10(int s, int L, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result, int bA, int D, int P, int K, int bB, int /*unused*/) {
  return result_ok(result, a, b) ? tl::dec_func_10(s, *a, *b, *result, {L, bA, D, P, K, bB}) : s;
}

ZYL_API int dec_func_08(int s, int L, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result, int bA, int D, int P, int K, int bB, int /*unused*/) {
  return result_ok(result, a, b) ? tl::dec_func_08(s, *a, *b, *result, {L, bA, D, P, K, bB}) : s;
}

ZYL_API int dec_func_09(int s, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result, int /*unused*/) {
  return result_ok(result, a, b) ? tl::dec_func_09(s, *a, *b, *result) : s;
}

ZYL_API int dec_func_11(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result,
                        int /*D*/, int /*P*/, int /*unused*/) {
  if (!a || !b || !result_ok(result, &a->minutiae, &b->minutiae)) return s;
  return tl::dec_func_11(s, *a, *b, *result);
}

ZYL_API void get_neighbor(int x, int y, const TypelineMinutiaList* minutiae, const std::int16_t* indexes,
                          int listLength, int excludeListed, int radius, int filterQuality, int minQuality,
                          int keepNearest, int k, TypelineMinutiaList* out) {
  if (!out) return;
  if (!minutiae || (excludeListed && !indexes)) {
    *out = TypelineMinutiaList{};
    return;
  }
  const std::size_t listed = indexes ? static_cast<std::size_t>(std::clamp(listLength, 0, TYPELINE_MAX_MINUTIAE)) : 0;
  tl::get_neighbor(x, y, *minutiae, {indexes, listed}, excludeListed != 0, radius, filterQuality != 0, minQuality,
                   keepNearest != 0, k, *out);
}

ZYL_API int check_neighbor(int firstIndex, int secondIndex, const TypelineMinutiaList* firstNeighbours,
                           const TypelineMinutiaList* secondNeighbours, const TypelineRecord* a,
                           const TypelineRecord* b) {
  if (!firstNeighbours || !secondNeighbours || !a || !b) return 1;
  return tl::check_neighbor(firstIndex, secondIndex, *firstNeighbours, *secondNeighbours, *a, *b) ? 1 : 0;
}

ZYL_API int check_overlap(const TypelineSingularList* a, const TypelineSingularList* b) {
  return a && b && tl::check_overlap(*a, *b) ? 1 : 0;
}

}  // extern "C"

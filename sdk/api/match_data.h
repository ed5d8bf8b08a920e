// Internal helpers of the graph matcher's work data.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <algorithm>

#include "zylscan/graph_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

MatchData* CreateMatchData(void);
void FreeMatchData(MatchData* md);

}  // namespace zyl::api

namespace zyl::api {

// Initial capacities of the growable arrays.
inline constexpr std::int32_t kPairCapacity = 2500;
inline constexpr std::int32_t kCountCapacity = 400;
inline constexpr std::int32_t kCandidateCapacity = 1500;
inline constexpr std::int32_t kIndexCapacity = 800;
inline constexpr std::int32_t kBinCapacity = 40;
inline constexpr std::int32_t kListGrowth = 500;
inline constexpr std::int32_t kBinGrowth = 20;

// Makes room for one more element of a malloc'ed array of trivially copyable
// T holding `count` elements. The capacity grows by `step` entries, or by half
// when that is more, so that a template with very many minutiae does not cost
// a quadratic number of copies. On failure the array stays as it was and
// false is returned: the caller then drops the element.
template <typename T>
bool reserve_one_more(T*& data, std::int32_t& capacity, std::int32_t count, std::int32_t step) {
  if (count < capacity) return true;
  const std::int64_t wanted = std::int64_t{capacity} + std::max<std::int64_t>(step, capacity / 2);
  if (wanted > INT32_MAX / static_cast<std::int64_t>(sizeof(T))) return false;
  void* grown = std::realloc(data, static_cast<std::size_t>(wanted) * sizeof(T));
  if (!grown) return false;
  data = static_cast<T*>(grown);
  capacity = static_cast<std::int32_t>(wanted);
  return true;
}

// Appends a line to its bin (the bin of its first relative angle, 0..239).
// Inline: the line builders call it for every line.
inline void add_to_bin(MatchSide& side, GraphLine* line) {
  const std::int32_t b = line->firstAngle;
  if (!reserve_one_more(side.bins[b], side.binCapacities[b], side.binCounts[b], kBinGrowth)) return;
  side.bins[b][side.binCounts[b]++] = line;
}

// Brings an angle into 0..239 whatever its range. Differences of angles in
// the turn (the usual case) need only the sign's correction, added without
// a branch (C++20 shifts a negative value arithmetically).
constexpr std::int32_t wrap240(std::int32_t a) {
  if (a > -240 && a < 240) return a + ((a >> 31) & 240);
  a %= 240;
  return a < 0 ? a + 240 : a;
}

// v / 10000 rounded half away from zero (truncating division after the
// offset), for products with the x 10^4 sine and cosine tables.
constexpr std::int64_t round_x10E4(std::int64_t v) {
  // One division after choosing the offset: the sign varies from point to
  // point, so a choice between two divisions would be a branch.
  const std::int64_t offset = v > 0 ? 5000 : -5000;
  return (v + offset) / 10000;
}

// Number of usable minutiae of a record (its count, kept within the table).
inline std::int32_t minutia_count(const FeatureRecord& f) {
  return std::clamp(f.minutiaCount, 0, ZYL_MAX_MINUTIAE);
}

// The translation bins of a candidate pair (test line against sample
// line): false when its endpoints disagree by the tolerance or more or fall
// outside the histograms (half_x and half_y: half their lengths). Inline: the
// matcher calls it for every candidate.
inline bool translation_bins(const std::int32_t* txs, const std::int32_t* tys, const std::int32_t* sxs,
                             const std::int32_t* sys, std::int32_t half_x, std::int32_t half_y,
                             const GraphLine& test_line, const GraphLine& sample_line, std::int32_t tolerance,
                             std::int32_t& bx, std::int32_t& by) {
  const std::int32_t ex1 = txs[test_line.first] - sxs[sample_line.first];
  const std::int32_t ex2 = txs[test_line.second] - sxs[sample_line.second];
  const std::int32_t ey1 = tys[test_line.first] - sys[sample_line.first];
  const std::int32_t ey2 = tys[test_line.second] - sys[sample_line.second];
  if (std::abs(ex1 - ex2) >= tolerance || std::abs(ey1 - ey2) >= tolerance) return false;
  if (std::abs(ex2) >= half_x || std::abs(ey2) >= half_x) return false;
  if (std::abs(ex1) >= half_y || std::abs(ey1) >= half_y) return false;
  bx = half_x + (ex1 + ex2) / 2;
  by = half_y + (ey1 + ey2) / 2;
  // The endpoint tests mix the two half sizes; with unequal halves the bins
  // could still fall outside the histograms (each 2 x half long).
  return bx >= 0 && bx < 2 * half_x && by >= 0 && by < 2 * half_y;
}

// Whether both endpoints of the two lines lie within the tolerance of each
// other in x and in y (LineLocationSimilarity's test). Inline: the matcher
// calls it for every candidate.
inline bool lines_coincide(const std::int32_t* txs, const std::int32_t* tys, const std::int32_t* sxs,
                           const std::int32_t* sys, const GraphLine& test_line, const GraphLine& sample_line,
                           std::int32_t tolerance) {
  return std::abs(txs[test_line.first] - sxs[sample_line.first]) < tolerance &&
         std::abs(tys[test_line.first] - sys[sample_line.first]) < tolerance &&
         std::abs(txs[test_line.second] - sxs[sample_line.second]) < tolerance &&
         std::abs(tys[test_line.second] - sys[sample_line.second]) < tolerance;
}

// The shift of a translation histogram, as TranslationHistogramProcessing
// finds it, when only bins lo..hi hold votes (all positive; lo > hi: none).
// The histogram is left as it is; scratch (size entries) holds the smoothed
// bins lo-4..hi+5 afterwards.
std::int32_t shift_from_votes(const std::int32_t* hist, std::int32_t* scratch, std::int32_t size,
                              std::int32_t lo, std::int32_t hi);

}  // namespace zyl::api

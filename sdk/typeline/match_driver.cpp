// The type-line match driver: decode, cheap refusals, then point matching
// in one direction and, when that fails, in the other.
#include <memory>
#include <new>

#include "typeline/matching.h"

namespace zyl::typeline {

int acceptance_threshold(int mode) {
  if (mode == 0) return 1;
  if (mode == 2) return 100;
  return 50;
}

namespace {

// Work areas of one comparison, obtained as one heap block so that a
// failure leaves nothing to release.
struct MatchWork {
  TypelineRecord a, b, a_entry, b_entry;
  PairTagList first_list, second_list;
  PointMatchResult result;
};

}  // namespace

int matching_main(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int mode) {
  const int t = acceptance_threshold(mode);
  std::unique_ptr<MatchWork> w(new (std::nothrow) MatchWork);
  if (!w) return kMatchNoMemory;
  read_template(a, w->a);
  w->a_entry = w->a;
  read_template(b, w->b);
  w->b_entry = w->b;
  if (!is_usable(w->a) || !is_usable(w->b)) return kMatchRefused;

  const int coarse = coarse_matching(w->a, w->b);
  if (coarse == 1) return 1000;
  if (!type_matching(w->a, w->b)) return kMatchRefused;

  std::int32_t cache = 0;
  int s = point_matching(w->a, w->b, w->result, true, t, cache, w->first_list, w->second_list);
  if (s >= t) return s;
  // Point matching turned and cut its records; the other direction starts
  // from the decoded ones.
  w->a = w->a_entry;
  w->b = w->b_entry;
  s = point_matching(w->b, w->a, w->result, true, t, cache, w->first_list, w->second_list);
  if (s >= t) return s;
  return coarse == 2 && s > t / 2 ? 1 : kMatchRefused;
}

int finger_match(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int mode) {
  return std::clamp(matching_main(a, b, mode), 0, 1000);
}

}  // namespace zyl::typeline

// What the local-structure forms and matchers share: the neighbour
// distance band, the nearest-neighbour rule, the layouts of the 64- and
// 46-minutia forms and the checks a stored form must pass.
#pragma once

#include <bit>
#include <cstdint>

namespace zyl::matchlib {

// Minutiae at squared distances in this band are neighbours of each other.
constexpr int kLocalNearSquared = 31;
constexpr int kLocalFarSquared = 12209;

// Keeps at most `limit` neighbours: past the limit, a new one replaces the
// first farthest kept when it is not farther, and is dropped otherwise.
template <class Neighbour>
void keep_nearest(Neighbour* kept, int& count, int limit, const Neighbour& e) {
  if (count < limit) {
    kept[count++] = e;
    return;
  }
  int far = 0;
  for (int k = 1; k < count; ++k)
    if (kept[k].distance > kept[far].distance) far = k;
  if (e.distance <= kept[far].distance) kept[far] = e;
}

// Byte layout of a packed form: a head {n, compact minutiae, has-quality
// flag} and one record per minutia {count, relative angles, neighbour set}.
struct FormLayout {
  int max_minutiae;  // minutiae the head holds
  int neighbours;    // relative angles a record holds
  int set_bytes;     // bytes of the neighbour set

  constexpr int quality_at() const { return 1 + 4 * max_minutiae; }
  constexpr int head() const { return quality_at() + 1; }
  constexpr int record() const { return 1 + neighbours + set_bytes; }
  constexpr int set_at() const { return 1 + neighbours; }
  constexpr int size() const { return head() + record() * max_minutiae; }
  constexpr bool in_set(const std::uint8_t* rec, int j) const {
    return (rec[set_at() + j / 8] >> (j % 8)) & 1;
  }
};

constexpr FormLayout kForm64{64, 24, 8};  // 258 + 33 n, at most 2370 bytes
constexpr FormLayout kForm46{46, 20, 6};  // 186 + 27 n, at most 1428 bytes

// A stored form is trusted only when its `length` bytes hold all n records,
// n fits the head, and every record's count is at most `max_count`, equals
// its set's popcount and names no minutia at or past n.
inline bool form_valid(const FormLayout& f, int max_count, const std::uint8_t* form,
                       std::uint32_t length) {
  if (!form || length < static_cast<std::uint32_t>(f.head())) return false;
  const int n = form[0];
  if (n > f.max_minutiae || length < static_cast<std::uint32_t>(f.head() + f.record() * n)) return false;
  for (int k = 0; k < n; ++k) {
    const std::uint8_t* rec = form + f.head() + f.record() * k;
    std::uint64_t set = 0;
    for (int b = 0; b < f.set_bytes; ++b) set |= std::uint64_t{rec[f.set_at() + b]} << (8 * b);
    if (n < 64 && (set >> n) != 0) return false;
    if (rec[0] > max_count || std::popcount(set) != rec[0]) return false;
  }
  return true;
}

}  // namespace zyl::matchlib

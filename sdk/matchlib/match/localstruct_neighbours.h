// Neighbour selection shared by the local-structure form and comparison.
#pragma once

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

}  // namespace zyl::matchlib

// Compact minutiae of card templates: conflict distances and the reduction
// to the number a matcher takes.
#include "matchlib/template/card_minutiae.h"

#include <algorithm>
#include <cstdlib>

#include "common/guarded_call.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"

namespace zyl::matchlib {

std::vector<std::uint8_t> conflict_distances(std::span<const CompactMinutia> m) {
  std::vector<std::uint8_t> out(m.size(), 255);
  for (std::size_t i = 0; i < m.size(); ++i)
    for (std::size_t j = i + 1; j < m.size(); ++j) {
      const int dx = m[j].x - m[i].x;
      const int dy = m[j].y - m[i].y;
      if (std::abs(dx) > 20 || std::abs(dy) > 20) continue;
      const int d2 = dx * dx + dy * dy;
      if (d2 >= 400) continue;
      const int a = zyl::matchlib::fx_dir_absdiff(m[i].direction, m[j].direction);
      const int r = static_cast<int>(zyl::matchlib::fx_isqrt16(static_cast<std::uint16_t>(d2)));
      int distance = -1;
      if (a > 114) {
        // Nearly opposite: a conflict when the step of length r from i along
        // the mean of i and the reversed j lands next to j.
        const int mean = zyl::matchlib::fx_dir_mean(m[i].direction, m[j].direction - 128);
        const int px = m[i].x + ((r * zyl::matchlib::fx_cos256(mean)) >> 14);
        const int py = m[i].y - ((r * zyl::matchlib::fx_sin256(mean)) >> 14);
        const int ex = px - m[j].x;
        const int ey = py - m[j].y;
        if (ex * ex + ey * ey <= 24) distance = r;
      } else if (d2 < 64 && a <= 13) {
        distance = r + 20;
      }
      if (distance < 0) continue;
      out[i] = static_cast<std::uint8_t>(std::min<int>(out[i], distance));
      out[j] = static_cast<std::uint8_t>(std::min<int>(out[j], distance));
    }
  return out;
}

void reduce_compact_minutiae(std::vector<CompactMinutia>& m, std::size_t maximum) {
  if (maximum >= m.size()) return;
  // Later minutiae that repeat an earlier position go.
  std::vector<CompactMinutia> unique;
  for (const CompactMinutia& c : m)
    if (std::none_of(unique.begin(), unique.end(),
                     [&](const CompactMinutia& u) { return u.x == c.x && u.y == c.y; }))
      unique.push_back(c);
  m.swap(unique);

  const std::size_t k = m.size();
  if (maximum < k && k >= 2) {
    // Keep the central band in x (150 wide around the middle of the x
    // spread without its outer sixteenths) and cut what lies far below.
    std::vector<int> work(k);
    std::transform(m.begin(), m.end(), work.begin(), [](const CompactMinutia& c) { return c.x; });
    std::sort(work.begin(), work.end());
    const int centre = (work[k / 16] + work[k - k / 16 - 1]) / 2;
    const int low = centre < 75 ? 0 : centre - 75;
    const int high = centre > 180 ? 255 : centre + 75;
    // The y values of the band overwrite the front of the sorted x values;
    // the cut reads position k / 32 of that shared buffer, as stored
    // templates were reduced.
    std::size_t band = 0;
    for (const CompactMinutia& c : m)
      if (c.x >= low && c.x <= high) work[band++] = c.y;
    std::sort(work.begin(), work.begin() + static_cast<std::ptrdiff_t>(band));
    const int cut = work[k / 32] + 180;
    std::erase_if(m, [&](const CompactMinutia& c) { return c.x < low || c.x > high || c.y > cut; });
  }

  const std::vector<std::uint8_t> distance = conflict_distances(m);
  std::vector<std::size_t> order(m.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const bool free_a = distance[a] == 255, free_b = distance[b] == 255;
    if (free_a != free_b) return free_a;
    return !free_a && distance[a] > distance[b];
  });
  std::vector<CompactMinutia> ordered;
  ordered.reserve(m.size());
  for (const std::size_t i : order) ordered.push_back(m[i]);
  m.swap(ordered);
}

}  // namespace zyl::matchlib

int zyl::matchlib::minutiae_conflict_distance(const CompactMinutia* minutiae, uint32_t count,
                                              uint8_t* out) {
  if (count && (!minutiae || !out)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const auto d = zyl::matchlib::conflict_distances({minutiae, count});
    std::copy(d.begin(), d.end(), out);
    return ML_OK;
  });
}

extern "C" {

ZYL_API int minutiae_conflict_distance(const CompactMinutia* minutiae, uint32_t count,
                                       uint8_t* out) {
  return zyl::matchlib::minutiae_conflict_distance(minutiae, count, out);
}

}  // extern "C"

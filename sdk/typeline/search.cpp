// One-to-many search: a cheap minutiae-only pre-ordering of the gallery,
// then full comparisons until one is accepted.
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "typeline/matching.h"
#include "typeline/tables.h"

namespace zyl::typeline {

void select_best(std::span<const std::int32_t> similarities, std::span<int> order) {
  const int count = static_cast<int>(std::min(similarities.size(), order.size()));
  for (int i = 0; i < count; ++i) order[i] = i;
  // Only the first ten positions are sorted, best first.
  for (int i = 0; i < std::min(count - 1, 10); ++i)
    for (int j = i + 1; j < count; ++j)
      if (similarities[order[i]] < similarities[order[j]]) std::swap(order[i], order[j]);
}

void search_transform(std::span<TypelineMinutia> list, int cx, int cy, int r, int sx, int sy) {
  const int k = r == 0 ? 0 : wrap_direction(kFullTurn - r);
  const long long c = kCosQ14[k], s = kSinQ14[k];
  for (TypelineMinutia& m : list) {
    const long long x = m.x - cx, y = m.y - cy;
    m.x = static_cast<std::int16_t>(sx + cx + ((y * s + x * c) >> 14));
    m.y = static_cast<std::int16_t>(sy + cy + ((y * c - x * s) >> 14));
    m.direction = static_cast<std::uint8_t>(wrap_direction(m.direction + r));
  }
}

namespace {

// Minutiae around a centre, gathered over growing radii until more than 4
// are held. The list is not emptied between radii, so a minutia can be held
// more than once; 4 + 50 entries always suffice.
struct Neighbourhood {
  std::array<TypelineMinutia, 4 + TYPELINE_MAX_MINUTIAE> entries{};
  std::size_t count = 0;
  std::span<TypelineMinutia> view() { return std::span(entries).first(count); }
};

Neighbourhood gather(const TypelineMinutiaList& list, int cx, int cy) {
  Neighbourhood n;
  for (int radius = 100; radius <= 200; radius += 20) {
    for (const TypelineMinutia& m : minutiae_of(list))
      if (squared_distance(m.x, m.y, cx, cy) < radius * radius && n.count < n.entries.size())
        n.entries[n.count++] = m;
    if (n.count > 4) break;
  }
  // Fewer than 5 even at radius 200: the list holds what was found.
  return n;
}

}  // namespace

int search_core_similarity(const TypelineRecord& probe, const TypelineRecord& gallery) {
  const Cores cp = cores_of(probe.singular), cg = cores_of(gallery.singular);
  int best = 0;
  for (int i = 0; i < cp.count; ++i) {
    const TypelineSingularPoint& c1 = cp.points[i];
    Neighbourhood around_probe = gather(probe.minutiae, c1.x, c1.y);
    for (int j = 0; j < cg.count; ++j) {
      const TypelineSingularPoint& c2 = cg.points[j];
      const int r = wrap_direction(c1.direction - c2.direction);
      Neighbourhood around_gallery = gather(gallery.minutiae, c2.x, c2.y);
      search_transform(around_gallery.view(), c2.x, c2.y, r, c1.x - c2.x, c1.y - c2.y);
      best = std::max(best, set_score(around_probe.view(), around_gallery.view()));
    }
  }
  return best;
}

int search_similarity(const TypelineRecord& gallery, const TypelineRecord& probe) {
  if (minutia_count(gallery.minutiae) < 3 || minutia_count(probe.minutiae) < 3) return 0;
  if (cores_of(gallery.singular).count > 0 && cores_of(probe.singular).count > 0)
    return search_core_similarity(probe, gallery);
  TypelineMinutiaList moved = gallery.minutiae;
  const int c = std::min(largest_curvature(gallery.minutiae), largest_curvature(probe.minutiae));
  int best = 0;
  for (int ia : choose_anchors(gallery.minutiae, c + 8, 0, 1600, 5)) {
    const TypelineMinutia& a = gallery.minutiae.minutiae[ia];
    for (const TypelineMinutia& p : minutiae_of(probe.minutiae)) {
      if (std::abs(a.curvature - p.curvature) >= 6) continue;
      search_transform(minutiae_of(moved), a.x, a.y, wrap_direction(p.direction - a.direction), p.x - a.x, p.y - a.y);
      best = std::max(best, set_score(minutiae_of(moved), minutiae_of(probe.minutiae)));
      moved = gallery.minutiae;
    }
  }
  return best;
}

namespace {

std::span<const std::uint8_t> gallery_template(std::span<const std::uint8_t> gallery, int i) {
  return gallery.subspan(static_cast<std::size_t>(i) * kGalleryStride, kGalleryStride);
}

}  // namespace

bool search_order(std::span<const std::uint8_t> probe, std::span<const std::uint8_t> gallery, int count,
                  std::span<int> order) {
  std::vector<std::int32_t> similarity;
  std::unique_ptr<TypelineRecord[]> records(new (std::nothrow) TypelineRecord[2]);
  if (zyl::GuardedCall(1, [&] {
        similarity.resize(static_cast<std::size_t>(count));
        return 0;
      }))
    return false;
  if (!records) return false;
  TypelineRecord &p = records[0], &g = records[1];
  read_template(probe, p);
  for (int i = 0; i < count; ++i) {
    read_template(gallery_template(gallery, i), g);
    similarity[static_cast<std::size_t>(i)] = search_similarity(g, p);
  }
  select_best(similarity, order);
  return true;
}

int finger_search(std::span<const std::uint8_t> probe, std::span<const std::uint8_t> gallery, int count, int mode) {
  if (count <= 0) return kMatchRefused;
  const int t = acceptance_threshold(mode);
  std::vector<int> order;
  if (int rc = zyl::GuardedCall(kMatchNoMemory, [&] {
        order.assign(static_cast<std::size_t>(count), 0);
        return 0;
      }))
    return rc;
  if (count > 1 && !search_order(probe, gallery, count, order)) return kMatchRefused;
  for (const int p : order)
    if (matching_main(gallery_template(gallery, p), probe, mode) >= t) return p;
  return kSearchNotFound;
}

}  // namespace zyl::typeline

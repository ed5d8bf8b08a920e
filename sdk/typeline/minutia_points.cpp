// Minutiae from the ridge walks: the grid of start points, removal of false
// candidates, quality and curvature of each, selection of the best 50 into
// the record, and the trace density around the singular points.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "typeline/extract_common.h"
#include "typeline/stages.h"
#include "typeline/integer_geometry.h"

namespace tl = zyl::typeline;

namespace {

int squared_distance(const MinutiaCandidate& a, const MinutiaCandidate& b) {
  return tl::squared_distance(a.x, a.y, b.x, b.y);
}

bool marked(const MinutiaCandidate& e) { return e.direction < 0; }
void mark(MinutiaCandidate& e) { e.direction = -1; }

int entries(const MinutiaCandidateList& list) { return std::clamp<int>(list.count, 0, TYPELINE_MAX_CANDIDATES); }

// Keeps the unmarked entries in their order.
void compact(MinutiaCandidateList& list) {
  int out = 0;
  for (int i = 0; i < entries(list); ++i)
    if (!marked(list.entries[i])) list.entries[out++] = list.entries[i];
  list.count = static_cast<std::int16_t>(out);
}

}  // namespace

namespace zyl::typeline {

void trace_minutiae(std::span<const std::uint8_t> grey, std::span<std::uint16_t> labels,
                     std::span<const std::uint8_t> orientation, int w, int h, MinutiaCandidateList& list) {
  std::memset(labels.data(), 0, pixels(w, h) * sizeof labels[0]);
  list.count = 0;
  int counter = 1;
  for (int y = 4; y < h; y += 8)
    for (int x = 4; x < w; x += 8) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      if (labels[i] != 0 || orientation[i] > 119) continue;
      trace_from({static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)}, grey, labels, orientation, w, h, list,
                  counter);
    }
}

void filter_minutiae(MinutiaCandidateList& list, const CoreList& cores, std::span<const std::uint8_t> orientation, int w,
                     int h) {
  const int n = entries(list);
  MinutiaCandidate* e = list.entries;
  // 1. Two ends of one ridge broken by a gap.
  for (int i = n - 1; i >= 0; --i) {
    if (e[i].type != 0 || marked(e[i])) continue;
    for (int j = n - 1; j >= 0; --j) {
      if (j == i || e[j].type != 0 || marked(e[j])) continue;
      if (is_false_pair(e[i].x, e[i].y, e[i].direction, e[j].x, e[j].y, e[j].direction)) {
        mark(e[i]);
        mark(e[j]);
        break;
      }
    }
  }
  // 2. Crowded places.
  for (int i = n - 1; i >= 0; --i) {
    int near = 0;
    for (int j = 0; j < n; ++j)
      if (j != i && ::squared_distance(e[i], e[j]) < 256) ++near;
    if (near > 5) mark(e[i]);
  }
  // 3. Twins.
  for (int i = n - 1; i >= 0; --i)
    for (int j = n - 1; j >= 0; --j)
      if (j != i && ::squared_distance(e[i], e[j]) <= 16) {
        mark(e[i]);
        mark(e[j]);
        break;
      }
  // 4. Border and background.
  for (int i = 0; i < n; ++i) {
    if (marked(e[i])) continue;
    const int x = e[i].x, y = e[i].y;
    if (x < 8 || x >= w - 8 || y < 8 || y >= h - 8) {
      mark(e[i]);
      continue;
    }
    bool inside = true;
    for (int r = 0; r < 8 && inside; ++r)
      for (int c = 0; c < 8 && inside; ++c)
        inside = orientation[static_cast<std::size_t>(y - 8 + 2 * r) * w + x - 8 + 2 * c] <= 119;
    if (!inside) mark(e[i]);
  }
  // 5. Near a core.
  const int ns = std::clamp<int>(cores.count, 0, 4);
  for (int i = 0; i < n; ++i) {
    if (marked(e[i])) continue;
    for (int k = 0; k < ns; ++k) {
      if (cores.kind[k] != 1) continue;
      if (squared_distance(e[i].x, e[i].y, cores.x[k], cores.y[k]) < 256) {
        mark(e[i]);
        break;
      }
    }
  }
  compact(list);
}

int ridge_density(const CoreList& cores, std::span<const std::uint8_t> orientation, int radius,
                  std::span<const std::uint16_t> labels, int w, int h) {
  int cx = w / 2, cy = h / 2;
  const int ns = std::clamp<int>(cores.count, 0, 4);
  if (ns > 0) {
    int sx = 0, sy = 0;
    for (int k = 0; k < ns; ++k) {
      sx += cores.x[k];
      sy += cores.y[k];
    }
    cx = sx / ns;
    cy = sy / ns;
  }
  // The window keeps one pixel from every border for the 3 x 3 test.
  const int x0 = std::max(cx > radius ? cx - radius + 1 : 1, 1);
  const int x1 = std::min(cx + radius < w ? cx + radius - 1 : w - 2, w - 2);
  const int y0 = std::max(cy > radius ? cy - radius + 1 : 1, 1);
  const int y1 = std::min(cy + radius < h ? cy + radius - 1 : h - 2, h - 2);
  long counted = 0, edges = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      if (orientation[static_cast<std::size_t>(y) * w + x] >= 120) continue;
      ++counted;
      int zeros = 0;
      for (int yy = y - 1; yy <= y + 1; ++yy)
        for (int xx = x - 1; xx <= x + 1; ++xx) zeros += labels[static_cast<std::size_t>(yy) * w + xx] == 0;
      if (zeros >= 1 && zeros <= 8) ++edges;
    }
  return counted ? static_cast<int>(edges * 255 / counted) : 0;
}

void rate_minutiae(MinutiaCandidateList& list, std::span<const std::uint8_t> reliability, int w, int h) {
  // The grid has (h / 2) x (w / 2) cells; an odd last row or column of the
  // image has no cell of its own.
  const int gw = w / 2, gh = h / 2;
  for (int i = 0; i < entries(list); ++i) {
    MinutiaCandidate& e = list.entries[i];
    const int r0 = std::max(0, e.y - 10) / 2, r1 = std::min({h - 1, e.y + 10, 2 * gh - 1}) / 2;
    const int c0 = std::max(0, e.x - 10) / 2, c1 = std::min({w - 1, e.x + 10, 2 * gw - 1}) / 2;
    int sum = 0, n = 0;
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) {
        sum += std::min<int>(reliability[static_cast<std::size_t>(r) * gw + c], 63);
        ++n;
      }
    e.quality = static_cast<std::uint8_t>(n ? sum / n : 0);
  }
}

void arrange_minutiae(MinutiaCandidateList& list, TypelineMinutiaList& minutiae, std::span<const std::uint8_t> orientation,
                      int w, int h) {
  for (int i = 0; i < entries(list); ++i)
    if (list.entries[i].quality < 11) mark(list.entries[i]);
  drop_weak_opposed_minutiae(list);
  const int n = entries(list);
  MinutiaCandidate* e = list.entries;
  for (int i = 0; i + 1 < n; ++i) {
    int best = -1;
    for (int j = i + 1; j < n; ++j)
      if (e[j].quality > e[i].quality && (best < 0 || e[j].quality > e[best].quality)) best = j;
    if (best >= 0) std::swap(e[i], e[best]);
  }
  const int m = std::min(n, TYPELINE_MAX_MINUTIAE);
  for (int i = 0; i < m; ++i) {
    TypelineMinutia& t = minutiae.minutiae[i];
    t.x = e[i].x;
    t.y = e[i].y;
    t.direction = static_cast<std::uint8_t>(e[i].direction & 0xFF);
    t.type = e[i].type;
    t.quality = e[i].quality;
    t.curvature = static_cast<std::uint8_t>(point_curvature(e[i].x, e[i].y, orientation, w, h));
  }
  minutiae.count = static_cast<std::int8_t>(m);
}

bool is_false_pair(int x1, int y1, int d1, int x2, int y2, int d2) {
  const int dx = std::abs(x1 - x2), dy = std::abs(y1 - y2);
  if (dx >= 14 || dy >= 14) return false;
  const int T = (dx < 7 && dy < 7) ? 97 : 100;
  const int g = direction_towards(x2, y2, x1, y1);
  const int opposite = (g + 120) % 240;
  return direction_difference(g, d1) >= T && direction_difference(d2, opposite) >= T;
}

void drop_weak_opposed_minutiae(MinutiaCandidateList& list) {
  const int n = entries(list);
  MinutiaCandidate* e = list.entries;
  for (int i = 0; i < n; ++i) {
    if (e[i].quality >= 35) continue;
    for (int j = 0; j < n; ++j) {
      if (j == i || e[j].quality >= 35 || ::squared_distance(e[i], e[j]) >= 64) continue;
      if (direction_difference(e[i].direction, e[j].direction) > 100) {
        mark(e[i]);
        mark(e[j]);
        break;
      }
    }
  }
  compact(list);
}

int point_curvature(int x, int y, std::span<const std::uint8_t> orientation, int w, int h) {
  if (x < 0 || y < 0 || x >= w || y >= h) return 0;
  const int o = orientation[static_cast<std::size_t>(y) * w + x];
  // Curvature needs an orientation at the minutia and at the samples: flat
  // samples (127) are skipped like background, so every term is 0..60.
  if (o > 119) return 0;
  const int ylast = y > h - 11 ? h - 1 : y + 10, xlast = x > w - 11 ? w - 1 : x + 10;
  long S = 0, n = 0;
  for (int yy = std::max(0, y - 10); yy <= ylast; yy += 2)
    for (int xx = std::max(0, x - 10); xx <= xlast; xx += 2) {
      const int c = orientation[static_cast<std::size_t>(yy) * w + xx];
      if (c > 119) continue;
      S += orientation_difference(o, c);
      ++n;
    }
  return n ? static_cast<int>(std::min<long>(127, S * 255 / (n * 60))) : 0;
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API void get_mp_points(const std::uint8_t* grey, std::uint16_t* labels, const std::uint8_t* orientation, int w,
                           int h, MinutiaCandidateList* list) {
  if (!tl::image_ok(grey, w, h) || !labels || !orientation || !list) return;
  const std::size_t n = tl::pixels(w, h);
  tl::trace_minutiae({grey, n}, {labels, n}, {orientation, n}, w, h, *list);
}

ZYL_API int check_false_mp(int x1, int y1, int d1, int x2, int y2, int d2) {
  return tl::is_false_pair(x1, y1, d1, x2, y2, d2) ? 1 : 0;
}

ZYL_API void filter_mp_points(MinutiaCandidateList* list, const CoreList* cores, const std::uint8_t* orientation,
                              int w, int h) {
  if (!list || !cores || !tl::image_ok(orientation, w, h)) return;
  tl::filter_minutiae(*list, *cores, {orientation, tl::pixels(w, h)}, w, h);
}

ZYL_API int get_density(const CoreList* cores, const std::uint8_t* orientation, int radius,
                        const std::uint16_t* labels, int w, int h) {
  if (!cores || !labels || !tl::image_ok(orientation, w, h)) return 0;
  const std::size_t n = tl::pixels(w, h);
  return tl::ridge_density(*cores, {orientation, n}, radius, {labels, n}, w, h);
}

// reliability holds (h / 2) x (w / 2) cells.
ZYL_API void get_point_value(MinutiaCandidateList* list, const std::uint8_t* reliability, int w, int h) {
  if (!list || !reliability || w < 2 || h < 2 || w > tl::kMaxSide || h > tl::kMaxSide) return;
  tl::rate_minutiae(*list, {reliability, static_cast<std::size_t>(w / 2) * static_cast<std::size_t>(h / 2)}, w, h);
}

ZYL_API void filter_mp_points2(MinutiaCandidateList* list) {
  if (list) tl::drop_weak_opposed_minutiae(*list);
}

ZYL_API int get_point_curve(int x, int y, const std::uint8_t* orientation, int w, int h) {
  if (!tl::image_ok(orientation, w, h)) return 0;
  return tl::point_curvature(x, y, {orientation, tl::pixels(w, h)}, w, h);
}

ZYL_API void arrange_mp(MinutiaCandidateList* list, TypelineMinutiaList* minutiae, const std::uint8_t* orientation,
                        int w, int h) {
  if (!list || !minutiae || !tl::image_ok(orientation, w, h)) return;
  tl::arrange_minutiae(*list, *minutiae, {orientation, tl::pixels(w, h)}, w, h);
}

}  // extern "C"

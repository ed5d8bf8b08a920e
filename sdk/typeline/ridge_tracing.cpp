// Ridge tracing: walks along a ridge from a start point in both senses,
// re-centring on the ridge's darkest line at every step, and records where
// each walk ends: a ridge ending, or a bifurcation where it meets a ridge
// traced before. Every walk is drawn into a 16-bit label image so that no
// ridge is traced twice.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "typeline/extract_common.h"
#include "typeline/integer_geometry.h"
#include "typeline/stages.h"
#include "typeline/tables.h"

namespace tl = zyl::typeline;

namespace {

constexpr int kCoarseStep = 3;
constexpr int kRecent = 8;
constexpr int kHistory = 21;
constexpr int kFirstPoints = 8;
// No walk on a 400 x 400 image needs more steps; a safety net against a
// walk that keeps circling without meeting its own trail.
constexpr int kMaxIterations = 8 * tl::kMaxSide * 4;

using Point = TypelinePoint;

constexpr Point kNoPoint{TYPELINE_NO_POINT, TYPELINE_NO_POINT};

bool is_none(Point p) { return p.x == TYPELINE_NO_POINT && p.y == TYPELINE_NO_POINT; }
bool inside(Point p, int w, int h) { return p.x >= 0 && p.y >= 0 && p.x < w && p.y < h; }
std::size_t index(Point p, int w) { return static_cast<std::size_t>(p.y) * w + p.x; }
Point make_point(int x, int y) { return {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)}; }
bool same(Point a, Point b) { return a.x == b.x && a.y == b.y; }
bool adjacent(Point a, Point b) { return std::abs(a.x - b.x) <= 1 && std::abs(a.y - b.y) <= 1; }
int direction_from(Point from, Point to) { return tl::direction_towards(to.x, to.y, from.x, from.y); }

// One-pixel step in the sector of a direction.
Point sector_step(int d) {
  static constexpr int steps[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  const int s = ((d + 15) / 30) % 8;
  return make_point(steps[s][0], steps[s][1]);
}

// orientation or orientation + 120, whichever is nearer to the current
// direction (the orientation itself on a tie).
int follow_orientation(int orientation, int current) {
  // Flat pixels (127) read as an orientation too; any value brought into
  // the direction range so that it can index the step tables.
  orientation = tl::wrap_direction(orientation);
  const int other = tl::wrap_direction(orientation + 120);
  return tl::direction_difference(other, current) < tl::direction_difference(orientation, current) ? other : orientation;
}

void append_candidate(MinutiaCandidateList& list, const MinutiaCandidate& e) {
  // The count stops at 299; a further entry only overwrites the last slot.
  if (list.count < TYPELINE_MAX_CANDIDATES - 1)
    list.entries[list.count++] = e;
  else
    list.entries[TYPELINE_MAX_CANDIDATES - 1] = e;
}

// A small list of the latest points, oldest first.
template <int N>
struct Trail {
  std::array<Point, N> p{};
  int n = 0;
  void push(Point q) {
    if (n == N) {
      std::copy(p.begin() + 1, p.end(), p.begin());
      --n;
    }
    p[n++] = q;
  }
};

}  // namespace

namespace zyl::typeline {

int line_section(int x1, int y1, int x2, int y2, TypelineSection* section) {
  if (!section) return 0;
  if (x2 < x1) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
  const int sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : (y2 < y1 ? -1 : 0);
  const bool along_x = dx >= dy;
  const int major = along_x ? dx : dy, minor = along_x ? dy : dx;
  // Points beyond the buffer are not written: callers keep lines short.
  const int count = std::min(major + 1, TYPELINE_SECTION_POINTS);
  int x = x1, y = y1, e = 2 * minor - major;
  for (int i = 0; i < count; ++i) {
    section->x[i] = static_cast<std::int16_t>(x);
    section->y[i] = static_cast<std::int16_t>(y);
    if (e >= 0) {
      if (along_x) y += sy;
      else x += sx;
      e += 2 * (minor - major);
    } else {
      e += 2 * minor;
    }
    if (along_x) x += sx;
    else y += sy;
  }
  section->count = static_cast<std::int16_t>(count);
  return count;
}

void filter_profile(Point p, int direction, int longProfile, TypelineSection* section, const std::uint8_t* grey, int w,
                    int h) {
  if (!section || !tl::image_ok(grey, w, h)) return;
  const int i = tl::wrap_direction(direction - 60);
  const int a = longProfile ? tl::kRing9X[i] : tl::kRing5X[i];
  const int b = longProfile ? tl::kRing9Y[i] : tl::kRing5Y[i];
  const int n = line_section(p.x + a, p.y + b, p.x - a, p.y - b, section);
  int g[TYPELINE_SECTION_POINTS];
  for (int k = 0; k < n; ++k) {
    const Point q{section->x[k], section->y[k]};
    g[k] = inside(q, w, h) ? grey[index(q, w)] : 255;
    section->value[k] = static_cast<std::int16_t>(g[k]);
  }
  if (longProfile) {
    for (int k = 2; k <= n - 3; ++k)
      section->value[k] = static_cast<std::int16_t>((g[k - 2] + 4 * g[k - 1] + 6 * g[k] + 4 * g[k + 1] + g[k + 2]) >> 4);
  } else {
    for (int k = 1; k <= n - 2; ++k)
      section->value[k] = static_cast<std::int16_t>((g[k - 1] + 6 * g[k] + g[k + 1]) >> 3);
  }
}

int nearest_minimum(Point p, const TypelineSection* section, int margin) {
  if (!section || margin < 0) return -1;
  const int n = std::clamp<int>(section->count, 0, TYPELINE_SECTION_POINTS);
  int best = -1, best_d = 0;
  for (int k = margin + 1; k < n - margin - 1; ++k) {
    const int v = section->value[k];
    if (v > section->value[k - 1] || v > section->value[k + 1]) continue;
    const int d = tl::squared_distance(section->x[k], section->y[k], p.x, p.y);
    if (best < 0 || d <= best_d) {
      best = k;
      best_d = d;
    }
  }
  return best;
}

Point ridge_centre(Point p, int direction, int checkLabels, const std::uint8_t* grey, const std::uint16_t* labels,
                   int w, int h) {
  if (!tl::image_ok(grey, w, h) || (checkLabels && !labels)) return kNoPoint;
  TypelineSection s;
  filter_profile(p, direction, 1, &s, grey, w, h);
  const int k = nearest_minimum(p, &s, 2);
  if (k >= 0) {
    const Point q{s.x[k], s.y[k]};
    if (!inside(q, w, h)) return kNoPoint;
    if (checkLabels && labels[index(q, w)] == 0) return q;
    const int mid = s.count / 2;
    const int d = std::abs(k - mid);
    if (d <= 2) return q;
    if (d == 3) {
      // Accept a minimum off the middle when the pixels between are ridge.
      const int gp = inside(p, w, h) ? grey[index(p, w)] : 255;
      bool dark = true;
      for (int j = std::min(k, mid) + 1; j < std::max(k, mid); ++j) {
        const Point t{s.x[j], s.y[j]};
        const int g = inside(t, w, h) ? grey[index(t, w)] : 255;
        if (g > gp || g >= 41) dark = false;
      }
      if (dark) return q;
    }
  }
  filter_profile(p, direction, 0, &s, grey, w, h);
  const int j = nearest_minimum(p, &s, 1);
  if (j < 0) return kNoPoint;
  const Point q{s.x[j], s.y[j]};
  return inside(q, w, h) ? q : kNoPoint;
}

void draw_label_line(Point a, Point b, std::uint16_t* labels, int w, int h, int label) {
  if (!tl::image_ok(labels, w, h)) return;
  TypelineSection s;
  const int n = line_section(a.x, a.y, b.x, b.y, &s);
  const bool steep = std::abs(a.x - b.x) < std::abs(a.y - b.y);
  for (int k = 0; k < n; ++k) {
    const int x = s.x[k], y = s.y[k];
    if (x <= 0 || y <= 0 || x >= w - 1 || y >= h - 1) continue;
    const auto v = static_cast<std::uint16_t>(label);
    labels[static_cast<std::size_t>(y) * w + x] = v;
    if (steep) {
      labels[static_cast<std::size_t>(y) * w + x - 1] = v;
      labels[static_cast<std::size_t>(y) * w + x + 1] = v;
    } else {
      labels[static_cast<std::size_t>(y - 1) * w + x] = v;
      labels[static_cast<std::size_t>(y + 1) * w + x] = v;
    }
  }
}

int stop_state(Point q, const std::uint16_t* labels, int w, int h, int* metLabel, const Point* recent, int count) {
  if (is_none(q) || !labels || !inside(q, w, h)) return 1;
  const int label = labels[index(q, w)];
  if (label != 0) {
    if (metLabel) *metLabel = label;
    return 3;
  }
  if (recent)
    for (int i = 0; i < std::clamp(count, 0, kRecent); ++i)
      if (same(recent[i], q)) return -2;
  return 0;
}

int refine_end_direction(Point end, Point reference, int direction, int label, const std::uint8_t* orientation,
                         const std::uint16_t* labels, int w, int h) {
  if (!tl::image_ok(orientation, w, h) || !labels || !inside(end, w, h)) return -1;
  const int D = tl::wrap_direction(direction);
  const int rho = tl::rounded_sqrt(tl::squared_distance(end.x, end.y, reference.x, reference.y));
  int hits = 0;
  int hit_dir[2] = {0, 0};
  Point last{};
  for (int j = -30; j <= 30 && hits < 2; ++j) {
    const int d = tl::wrap_direction(D + j);
    const Point t = make_point(end.x + tl::step_x(d, rho), end.y + tl::step_y(d, rho));
    if (!inside(t, w, h) || labels[index(t, w)] != label) continue;
    if (hits > 0 && adjacent(t, last)) {
      last = t;  // the same ridge crossing goes on
      continue;
    }
    hit_dir[hits++] = direction_from(end, t);
    last = t;
  }
  if (hits == 0) return -1;
  int hd = hit_dir[0];
  if (hits == 2) {
    const int o = orientation[index(end, w)];
    int o2 = o + 120;
    if (o2 >= 240) o2 -= 120 * 2;
    auto dist = [&](int a) { return std::min(tl::direction_difference(a, o), tl::direction_difference(a, o2)); };
    if (dist(hit_dir[1]) < dist(hit_dir[0])) hd = hit_dir[1];
  }
  const int diff = std::abs(D - hd);
  if (diff <= 120) return (D + hd) / 2;
  int r = (240 - diff) / 2 + std::max(D, hd);
  if (r >= 240) r -= 240;
  return r;
}

int follow_ridge(Point start, int direction, int forward, const std::uint8_t* grey, std::uint16_t* labels,
                 const std::uint8_t* orientation, int w, int h, Point* end, int* endDirection, Point* firstPoints,
                 int* firstCount, int* shortWalk, int label, int* metLabel) {
  if (!tl::image_ok(grey, w, h) || !labels || !orientation || !end || !endDirection || !firstPoints || !firstCount ||
      !shortWalk || !metLabel || !inside(start, w, h))
    return -1;
  auto orient = [&](Point p) -> int { return orientation[index(p, w)]; };
  Point c = start;
  int dir = forward ? tl::wrap_direction(direction) : tl::wrap_direction(direction + 120);
  Trail<kRecent> recent;
  Trail<kHistory> history;
  bool fine = false, restarted = false;
  Point saved = start;
  *metLabel = 0;
  *firstCount = 0;
  *shortWalk = 0;
  *endDirection = -1;
  *end = kNoPoint;
  auto draw_recent = [&] {
    for (int i = 0; i + 1 < recent.n; ++i) draw_label_line(recent.p[i], recent.p[i + 1], labels, w, h, label);
  };
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    if (fine) history.push(c);
    recent.push(c);
    if (!fine && *firstCount < kFirstPoints) firstPoints[(*firstCount)++] = c;

    Point n;
    if (!fine) {
      n = make_point(c.x + ((kCoarseStep * tl::kCosQ14[dir]) >> 14), c.y + ((kCoarseStep * tl::kSinQ14[dir]) >> 14));
    } else {
      const Point s = sector_step(dir);
      const int times = adjacent(c, start) ? 2 : 1;
      n = make_point(c.x + times * s.x, c.y + times * s.y);
    }
    if (!inside(n, w, h) || orient(n) == tl::kBackground) {
      draw_recent();
      return -1;
    }
    const Point q = ridge_centre(n, dir, 0, grey, labels, w, h);
    if (!is_none(q) && !inside(q, w, h)) return -1;
    int met = 0;
    const int s = stop_state(q, labels, w, h, &met, recent.p.data(), recent.n);
    if (s == 3) *metLabel = met;
    if (s == 0) {
      if (recent.n >= 7) draw_label_line(recent.p[0], recent.p[1], labels, w, h, label);
      c = q;
      if (!inside(c, w, h) || orient(c) == tl::kBackground) return -1;
      dir = follow_orientation(orient(c), dir);
      continue;
    }
    Point e = kNoPoint;
    if (s == 1) e = c;
    if (s == 3) e = q;
    if (!fine) {
      if (recent.n < 7) {
        c = recent.p[0];
        if (!inside(c, w, h) || orient(c) == tl::kBackground) return -1;
        dir = follow_orientation(orient(c), dir);
        recent.n = 0;
        recent.push(c);
        restarted = true;
      } else {
        saved = recent.p[0];
        c = recent.p[4];
        for (int i = 4; i < 7; ++i) recent.p[i] = recent.p[3];
        recent.p[7] = c;
        recent.n = kRecent;
        draw_label_line(recent.p[0], recent.p[1], labels, w, h, label);
        dir = follow_orientation(orient(c), dir);
      }
      history.n = 0;
      fine = true;
      *metLabel = 0;
      continue;
    }
    if (s != -2) *end = e;
    if (restarted || recent.n < 7) {
      if (history.n < 20) {
        *endDirection = -1;
        *shortWalk = 1;
      } else if (s != -2) {
        const Point ref = history.p[0];
        int d = direction_from(e, ref);
        if (s == 3) {
          const int refined = refine_end_direction(e, ref, d, *metLabel, orientation, labels, w, h);
          d = refined;
        }
        *endDirection = d;
      }
      draw_recent();
      return s;
    }
    Point ref = saved;
    if (history.n >= 20) {
      ref = history.p[0];
      saved = ref;
    }
    if (s != -2) {
      int d = direction_from(e, ref);
      if (s == 3) {
        const int refined = refine_end_direction(e, ref, d, *metLabel, orientation, labels, w, h);
        d = refined;
      }
      *endDirection = d;
    }
    draw_recent();
    draw_label_line(recent.p[recent.n - 1], c, labels, w, h, label);
    return s;
  }
  return -1;
}

int trace_ridge_end(Point start, int direction, int forward, const std::uint8_t* grey, std::uint16_t* labels,
                    const std::uint8_t* orientation, int w, int h, MinutiaCandidate* entry, Point* firstPoints,
                    int* firstCount, int* shortWalk, int label, int* metLabel) {
  if (!entry) return 0;
  Point e;
  int d;
  const int s = follow_ridge(start, direction, forward, grey, labels, orientation, w, h, &e, &d, firstPoints,
                                   firstCount, shortWalk, label, metLabel);
  if (s != 1 && s != 3) return 0;
  entry->x = e.x;
  entry->y = e.y;
  entry->direction = static_cast<std::int16_t>(d);
  entry->quality = 0;
  entry->type = s == 3 ? 1 : 0;
  return 1;
}

int trace_from(Point g, std::span<const std::uint8_t> grey, std::span<std::uint16_t> labels,
               std::span<const std::uint8_t> orientation, int w, int h, MinutiaCandidateList& list, int& labelCounter) {
  list.count = std::clamp<std::int16_t>(list.count, 0, TYPELINE_MAX_CANDIDATES - 1);
  const int o = orientation[index(g, w)];
  const Point q = ridge_centre(g, o, 1, grey.data(), labels.data(), w, h);
  if (is_none(q) || q.x < 3 || q.x >= w - 3 || q.y < 3 || q.y >= h - 3) return 0;
  if (orientation[index(q, w)] == kBackground || grey[index(q, w)] >= 226) return 0;
  for (int k = -3; k <= 3; ++k)
    if (labels[index(make_point(q.x, q.y + k), w)] || labels[index(make_point(q.x + k, q.y), w)]) return 0;

  const int label = labelCounter;
  struct Walk {
    MinutiaCandidate entry{};
    Point first[kFirstPoints]{};
    int first_count = 0, short_walk = 0, met = 0, ok = 0;
  } fw, bw;
  fw.ok = trace_ridge_end(q, o, 1, grey.data(), labels.data(), orientation.data(), w, h, &fw.entry, fw.first,
                          &fw.first_count, &fw.short_walk, label, &fw.met);
  if (fw.ok && !fw.short_walk) append_candidate(list, fw.entry);
  bw.ok = trace_ridge_end(q, o, 0, grey.data(), labels.data(), orientation.data(), w, h, &bw.entry, bw.first,
                          &bw.first_count, &bw.short_walk, label, &bw.met);
  if (bw.ok && !bw.short_walk) append_candidate(list, bw.entry);

  const bool fw_short = fw.ok && fw.short_walk, bw_short = bw.ok && bw.short_walk;
  const int m1 = fw.first_count, m2 = bw.first_count;
  // A short walk takes its direction from the far points of the other one.
  auto redirect = [&](Walk& walk, const Walk& other, int k) {
    if (k < 0 || k >= other.first_count) return false;
    const Point end = make_point(walk.entry.x, walk.entry.y);
    const Point ref = other.first[k];
    int d = direction_from(end, ref);
    if (walk.entry.type == 1) {
      const int refined = refine_end_direction(end, ref, d, walk.met, orientation.data(), labels.data(), w, h);
      d = refined;
    }
    walk.entry.direction = static_cast<std::int16_t>(d);
    return true;
  };
  if (bw_short && !fw_short) {
    if (m1 + m2 > 7 && redirect(bw, fw, 7 - m2)) append_candidate(list, bw.entry);
  } else if (fw_short && !bw_short) {
    if (m1 + m2 > 7 && redirect(fw, bw, 7 - m1)) append_candidate(list, fw.entry);
  } else if (fw_short && bw_short && m1 + m2 > 6) {
    const int k = m1 + m2 == 7 ? 6 : 7;
    const bool a = redirect(fw, bw, k - m1);
    const bool b = redirect(bw, fw, k - m2);
    if (a) append_candidate(list, fw.entry);
    if (b) append_candidate(list, bw.entry);
  }
  ++labelCounter;
  return 1;
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API int get_point_section(int x1, int y1, int x2, int y2, TypelineSection* section) {
  return tl::line_section(x1, y1, x2, y2, section);
}

ZYL_API void filter_section(Point p, int direction, int longProfile, TypelineSection* section, const std::uint8_t* grey,
                            int w, int h) {
  tl::filter_profile(p, direction, longProfile, section, grey, w, h);
}

ZYL_API int get_max_index(Point p, const TypelineSection* section, int margin) {
  return tl::nearest_minimum(p, section, margin);
}

ZYL_API Point get_local_maximum(Point p, int direction, int checkLabels, const std::uint8_t* grey,
                                const std::uint16_t* labels, int w, int h) {
  return tl::ridge_centre(p, direction, checkLabels, grey, labels, w, h);
}

ZYL_API void labelling(Point a, Point b, std::uint16_t* labels, int w, int h, int label) {
  tl::draw_label_line(a, b, labels, w, h, label);
}

ZYL_API int check_stop_criteria(Point q, const std::uint16_t* labels, int w, int h, int* metLabel, const Point* recent,
                                int count) {
  return tl::stop_state(q, labels, w, h, metLabel, recent, count);
}

ZYL_API int get_point_orient1(Point end, Point reference, int direction, int label, const std::uint8_t* orientation,
                              const std::uint16_t* labels, int w, int h) {
  return tl::refine_end_direction(end, reference, direction, label, orientation, labels, w, h);
}

ZYL_API int follow_ridge_point(Point start, int direction, int forward, const std::uint8_t* grey, std::uint16_t* labels,
                               const std::uint8_t* orientation, int w, int h, Point* end, int* endDirection,
                               Point* firstPoints, int* firstCount, int* shortWalk, int label, int* metLabel) {
  return tl::follow_ridge(start, direction, forward, grey, labels, orientation, w, h, end, endDirection, firstPoints,
                          firstCount, shortWalk, label, metLabel);
}

ZYL_API int trace_ridge(Point start, int direction, int forward, const std::uint8_t* grey, std::uint16_t* labels,
                        const std::uint8_t* orientation, int w, int h, MinutiaCandidate* entry, Point* firstPoints,
                        int* firstCount, int* shortWalk, int label, int* metLabel) {
  return tl::trace_ridge_end(start, direction, forward, grey, labels, orientation, w, h, entry, firstPoints, firstCount,
                             shortWalk, label, metLabel);
}

ZYL_API int start_trace(Point g, const std::uint8_t* grey, std::uint16_t* labels, const std::uint8_t* orientation,
                        int w, int h, MinutiaCandidateList* list, int* labelCounter) {
  if (!tl::image_ok(grey, w, h) || !labels || !orientation || !list || !labelCounter || !inside(g, w, h)) return 0;
  const std::size_t n = tl::pixels(w, h);
  return tl::trace_from(g, {grey, n}, {labels, n}, {orientation, n}, w, h, *list, *labelCounter);
}

}  // extern "C"

// Ridge frequency: the mean ridge period, in sixths of a pixel, measured
// across the ridges of the binary image at up to nine points near the
// image centre.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "typeline/extract_common.h"
#include "typeline/stages.h"
#include "typeline/integer_geometry.h"

namespace tl = zyl::typeline;

namespace zyl::typeline {

int ridge_frequency(std::span<const std::uint8_t> binary, std::span<const std::uint8_t> map, const CoreList& cores, int w, int h) {
  const int q = w / 4, cx = w / 2;
  const int ns = std::clamp<int>(cores.count, 0, 4);
  auto valid = [&](int px, int py) {
    for (int a = -1; a <= 1; ++a)
      for (int b = -1; b <= 1; ++b) {
        const int sx = px + 15 * a, sy = py + 15 * b;
        if (sx < 0 || sy < 0 || sx >= w || sy >= h || map[static_cast<std::size_t>(sy) * w + sx] >= 128) return false;
      }
    for (int k = 0; k < ns; ++k)
      if (std::abs(cores.x[k] - px) < 15 && std::abs(cores.y[k] - py) < 15) return false;
    return true;
  };
  int value = 0;
  for (int cy = h / 2;;) {
    int sum = 0, count = 0;
    for (int i = 0; i < 9; ++i) {
      const int px = cx + (i / 3 - 1) * q, py = cy + (i % 3 - 1) * q;
      const int v = valid(px, py) ? frequency_at(px, py, binary, map, w, h) : 0;
      if (v) {
        sum += v;
        ++count;
      }
    }
    value = count ? sum / count : 0;
    if (value != 0) break;
    cy += 30;
    if (cy + q >= h) break;
  }
  return std::clamp(value, 0, 120);
}

int frequency_at(int x, int y, std::span<const std::uint8_t> binary, std::span<const std::uint8_t> map, int w, int h) {
  if (x < 0 || y < 0 || x >= w || y >= h) return 0;
  auto inside = [&](int px, int py) { return px >= 0 && py >= 0 && px < w && py < h; };
  auto at = [&](int px, int py) -> int { return binary[static_cast<std::size_t>(py) * w + px]; };
  const int v = at(x, y);
  const int o = map[static_cast<std::size_t>(y) * w + x];
  const int p = o < 60 ? o + 60 : o - 60;  // across the ridges
  if (p < 0 || p >= 240) return 0;
  // 1. Forward to the first pixel of the other value.
  int bx = 0, by = 0, u = 0;
  for (int t = 1;; ++t) {
    bx = x + step_x(p, t);
    by = y + step_y(p, t);
    if (!inside(bx, by)) return 0;
    u = at(bx, by);
    if (u != v) break;
  }
  // 2. On from B: up to three returns to u.
  int n = 0, fx = bx, fy = by;
  bool other = false;
  for (int l = 1, found = 0; found < 3; ++l) {
    const int px = bx + step_x(p, l), py = by + step_y(p, l);
    if (!inside(px, py)) break;
    if (at(px, py) != u) {
      other = true;
    } else if (other) {
      other = false;
      fx = px;
      fy = py;
      ++found;
      ++n;
    }
  }
  // 3. Backward from (x, y): up to three returns to v.
  int gx = bx, gy = by;
  other = false;
  for (int t = 1, found = 0; found < 3; ++t) {
    const int px = x - step_x(p, t), py = y - step_y(p, t);
    if (!inside(px, py)) break;
    if (at(px, py) != v) {
      other = true;
    } else if (other) {
      other = false;
      gx = px;
      gy = py;
      ++found;
      ++n;
    }
  }
  if (n == 0) return 0;
  const int dx = fx - gx, dy = fy - gy;
  return rounded_sqrt(dx * dx + dy * dy) * 6 / n;
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API int get_frequency_sub(int x, int y, const std::uint8_t* binary, const std::uint8_t* map, int w, int h) {
  if (!tl::image_ok(binary, w, h) || !map) return 0;
  const std::size_t n = tl::pixels(w, h);
  return tl::frequency_at(x, y, {binary, n}, {map, n}, w, h);
}

ZYL_API int get_frequency(const std::uint8_t* binary, const std::uint8_t* map, const CoreList* cores, int w, int h) {
  if (!tl::image_ok(binary, w, h) || !map || !cores) return 0;
  return tl::ridge_frequency({binary, tl::pixels(w, h)}, {map, tl::pixels(w, h)}, *cores, w, h);
}

}  // extern "C"

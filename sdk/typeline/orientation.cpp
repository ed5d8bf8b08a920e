// Orientation map, directional filter, binarisation and the clean-ups of
// the binary ridge image.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "typeline/extract_common.h"
#include "typeline/stages.h"
#include "typeline/tables.h"

namespace tl = zyl::typeline;

namespace {

// Four-direction gradient measures summed over a window of 16 x 18 cells
// around every even pixel: H across columns, D1 along the falling
// diagonal, V across rows, D2 along the rising diagonal.
void orientation_kernel(std::uint8_t* map, const std::uint8_t* image, int w, int h, std::uint8_t* reliability) {
  const int gw = (w + 1) / 2, gh = (h + 1) / 2;  // even rows / columns
  const int SW = gw + 1;
  std::vector<std::array<std::int32_t, 4>> sat(static_cast<std::size_t>(SW) * (gh + 1), {0, 0, 0, 0});
  auto px = [&](int x, int y) -> int { return image[static_cast<std::size_t>(y) * w + x]; };
  for (int gy = 0; gy < gh; ++gy) {
    std::array<std::int32_t, 4> row{0, 0, 0, 0};
    const int y = 2 * gy;
    for (int gx = 0; gx < gw; ++gx) {
      const int x = 2 * gx;
      if (y >= 2 && y <= h - 3 && x >= 2 && x <= w - 4) {
        const int p = px(x, y);
        row[0] += std::abs(p - px(x - 1, y)) + std::abs(p - px(x + 1, y));
        row[1] += std::abs(p - px(x + 1, y + 1)) + std::abs(p - px(x - 1, y - 1));
        row[2] += std::abs(p - px(x, y + 1)) + std::abs(p - px(x, y - 1));
        row[3] += std::abs(p - px(x + 1, y - 1)) + std::abs(p - px(x - 1, y + 1));
      }
      auto& cell = sat[static_cast<std::size_t>(gy + 1) * SW + gx + 1];
      const auto& above = sat[static_cast<std::size_t>(gy) * SW + gx + 1];
      for (int k = 0; k < 4; ++k) cell[k] = above[k] + row[k];
    }
  }
  const int rw = w / 2, rh = h / 2;  // reliability grid
  for (int gy = 0; gy < gh; ++gy) {
    // Cells of the even rows r - 14 .. r + 16 and columns c - 16 .. c + 18.
    const int y0 = std::max(0, gy - 7), y1 = std::min(gh - 1, gy + 8);
    for (int gx = 0; gx < gw; ++gx) {
      const std::size_t at = static_cast<std::size_t>(2 * gy) * w + 2 * gx;
      const bool has_reliability = reliability && gy < rh && gx < rw;
      std::uint8_t* rel = has_reliability ? reliability + static_cast<std::size_t>(gy) * rw + gx : nullptr;
      if (map[at] == tl::kBackground) {
        if (rel) *rel = 0;
        continue;
      }
      const int x0 = std::max(0, gx - 8), x1 = std::min(gw - 1, gx + 9);
      std::int32_t S[4];
      for (int k = 0; k < 4; ++k)
        S[k] = sat[static_cast<std::size_t>(y1 + 1) * SW + x1 + 1][k] - sat[static_cast<std::size_t>(y0) * SW + x1 + 1][k] -
               sat[static_cast<std::size_t>(y1 + 1) * SW + x0][k] + sat[static_cast<std::size_t>(y0) * SW + x0][k];
      const int b = S[0], c = (S[1] * 91) >> 7, d = S[2], e = (S[3] * 91) >> 7;
      const int f = (b + c + d + e) / 4;
      // The measure runs 0..240 (the minutia quality reads it so); a field
      // dominated by one direction drives the formula past that, so it is
      // capped rather than left to wrap in the byte.
      if (rel) *rel = f == 0 ? 0 : static_cast<std::uint8_t>(std::min((std::abs(f - b) + std::abs(f - c) + std::abs(f - d) + std::abs(f - e)) * 40 / f, 240));
      const int G = 4 * (f - std::max(std::max(b, c), std::max(d, e)));
      if (G == 0) {
        map[at] = tl::kFlat;
        continue;
      }
      struct Pair {
        int sum, base, q0, q1, q2, q3;
      };
      const Pair pairs[4] = {{c + d, 45, b, c, d, e}, {d + e, 75, c, d, e, b}, {b + e, 105, d, e, b, c}, {b + c, 15, e, b, c, d}};
      const Pair* best = &pairs[0];
      for (const Pair& p : pairs)
        if (p.sum < best->sum) best = &p;
      const int o = (3 * best->q3 + best->q2 - 3 * best->q0 - best->q1) * 15 / G + best->base;
      // 120 becomes 0; any other value outside 0..119 wraps the same way.
      map[at] = static_cast<std::uint8_t>(((o % 120) + 120) % 120);
    }
  }
  for (int y = 0; y < h; y += 2)
    for (int x = 0; x < w; x += 2) {
      const std::uint8_t v = map[static_cast<std::size_t>(y) * w + x];
      if (x + 1 < w) map[static_cast<std::size_t>(y) * w + x + 1] = v;
      if (y + 1 < h) {
        map[static_cast<std::size_t>(y + 1) * w + x] = v;
        if (x + 1 < w) map[static_cast<std::size_t>(y + 1) * w + x + 1] = v;
      }
    }
}

}  // namespace

namespace zyl::typeline {

void estimate_orientation(std::span<std::uint8_t> map, std::span<const std::uint8_t> image, int w, int h,
                          std::span<std::uint8_t> reliability) {
  run_stage([&] { orientation_kernel(map.data(), image.data(), w, h, reliability.data()); });
}

void reestimate_orientation(std::span<std::uint8_t> map, std::span<const std::uint8_t> binary, int w, int h) {
  run_stage([&] { orientation_kernel(map.data(), binary.data(), w, h, nullptr); });
}

void directional_filter(std::span<std::uint8_t> image, std::span<const std::uint8_t> map, std::span<std::uint8_t> copy,
                        int w, int h) {
  const std::size_t n = pixels(w, h);
  std::memcpy(copy.data(), image.data(), n);
  auto at = [w](int x, int y) { return static_cast<std::size_t>(y) * w + x; };
  for (int y = 6; y <= h - 8; y += 2) {
    for (int x = 6; x <= w - 8; x += 2) {
      const int o = map[at(x, y)];
      if (o > 119) continue;
      std::int32_t v = kFilterCentre[o] * copy[at(x, y)];
      for (int k = 0; k < kFilterTaps[o]; ++k) {
        const int dy = kFilterRow[o * 18 + k], dx = kFilterColumn[o * 18 + k];
        v += kFilterWeight[o * 18 + k] * (copy[at(x + dx, y + dy)] + copy[at(x - dx, y - dy)]);
      }
      image[at(x, y)] = static_cast<std::uint8_t>(std::clamp(v >> 14, 0, 255));
    }
    // Fill the odd columns between the filtered even ones.
    int last = -1;
    for (int x = 6; x < w - 8; x += 2) {
      image[at(x + 1, y)] = static_cast<std::uint8_t>((image[at(x, y)] + image[at(x + 2, y)]) >> 1);
      last = x;
    }
    if (last >= 0) image[at(last + 1, y)] = image[at(last, y)];
  }
  for (int y = 7; y <= h - 9; y += 2)
    for (int x = 6; x <= w - 7; ++x)
      image[at(x, y)] = static_cast<std::uint8_t>((image[at(x, y - 1)] + image[at(x, y + 1)]) >> 1);
  std::memcpy(copy.data(), image.data(), n);
}

void binarise(std::span<const std::uint8_t> map, std::span<std::uint8_t> out, std::span<const std::uint8_t> image, int w,
              int h, int r1, int r2) {
  run_stage([&] {
    std::vector<std::int32_t> mean1(pixels(w, h));
    for_each_window_sum(image.data(), w, h, r1, [&](int x, int y, std::int32_t s, int rows, int cols) {
      mean1[static_cast<std::size_t>(y) * w + x] = s / (rows * cols);
    });
    for_each_window_sum(image.data(), w, h, r2, [&](int x, int y, std::int32_t s, int rows, int cols) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      if (map[i] < 128) out[i] = image[i] < (s / (rows * cols) + mean1[i]) / 2 ? 0 : 255;
    });
  });
}

void smooth_binary(std::span<std::uint8_t> binary, int w, int h) {
  run_stage([&] {
    const std::vector<std::uint8_t> in(binary.begin(), binary.begin() + static_cast<std::ptrdiff_t>(pixels(w, h)));
    for (int y = 1; y < h; ++y)
      for (int x = 1; x < w; ++x) {
        int s = 0;
        for (int yy = y - 1; yy <= std::min(y + 1, h - 1); ++yy)
          for (int xx = x - 1; xx <= std::min(x + 1, w - 1); ++xx) s += in[static_cast<std::size_t>(yy) * w + xx];
        binary[static_cast<std::size_t>(y) * w + x] = s >= 1152 ? 255 : 0;
      }
  });
}

void remove_holes(std::span<const std::uint8_t> map, std::span<std::uint8_t> binary, int w, int h) {
  constexpr int kMaxHole = 20;
  std::array<int, kMaxHole + 1> queue{};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t start = static_cast<std::size_t>(y) * w + x;
      if (map[start] == kBackground || binary[start] != 255) continue;
      int queued = 0, head = 0;
      bool abort = false;
      binary[start] = 0;
      queue[queued++] = static_cast<int>(start);
      while (head < queued && !abort) {
        const int p = queue[head++];
        const int px = p % w, py = p / w;
        if (px == 0 || py == 0 || px == w - 1 || py == h - 1) {
          abort = true;
          break;
        }
        const int nx[4] = {px, px + 1, px, px - 1}, ny[4] = {py - 1, py, py + 1, py};
        for (int k = 0; k < 4 && !abort; ++k) {
          const int q = ny[k] * w + nx[k];
          if (binary[q] != 255) continue;
          if (k == 0 && ny[k] < y) {
            abort = true;
            break;
          }
          if (queued == kMaxHole) {  // a 21st pixel: not a small hole
            abort = true;
            break;
          }
          binary[q] = 0;
          queue[queued++] = q;
        }
      }
      if (abort)
        for (int k = 0; k < queued; ++k) binary[queue[k]] = 255;
    }
}

// The block grid: the orientation at the centre of every 16 x 16 block.
void sample_blocks(std::span<const std::uint8_t> map, int w, int h, TypelineBlockGrid& grid, int columns, int rows) {
  grid.columns = static_cast<std::uint8_t>(columns);
  grid.rows = static_cast<std::uint8_t>(rows);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) {
      const int y = 8 + 16 * i, x = 8 + 16 * j;
      grid.cells[i * columns + j] = (x < w && y < h) ? map[static_cast<std::size_t>(y) * w + x] : kBackground;
    }
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API void get_orient_image(std::uint8_t* map, const std::uint8_t* image, int w, int h, std::uint8_t* reliability) {
  if (!tl::image_ok(image, w, h) || !map || !reliability) return;
  const std::size_t n = tl::pixels(w, h);
  tl::estimate_orientation({map, n}, {image, n}, w, h, {reliability, n});
}

ZYL_API void re_get_orient_image(std::uint8_t* map, const std::uint8_t* binary, int w, int h) {
  if (!tl::image_ok(binary, w, h) || !map) return;
  const std::size_t n = tl::pixels(w, h);
  tl::reestimate_orientation({map, n}, {binary, n}, w, h);
}

ZYL_API void image_proc_01(std::uint8_t* image, const std::uint8_t* map, std::uint8_t* copy, int w, int h) {
  if (!tl::image_ok(image, w, h) || !map || !copy) return;
  const std::size_t n = tl::pixels(w, h);
  tl::directional_filter({image, n}, {map, n}, {copy, n}, w, h);
}

ZYL_API void get_binary_image2(const std::uint8_t* map, std::uint8_t* out, const std::uint8_t* image, int w, int h,
                               int r1, int r2) {
  if (!tl::image_ok(image, w, h) || !map || !out || r1 < 0 || r2 < 0) return;
  const std::size_t n = tl::pixels(w, h);
  tl::binarise({map, n}, {out, n}, {image, n}, w, h, r1, r2);
}

ZYL_API void image_proc_04(std::uint8_t* binary, int w, int h) {
  if (!tl::image_ok(binary, w, h)) return;
  tl::smooth_binary({binary, tl::pixels(w, h)}, w, h);
}

ZYL_API void remove_hole(const std::uint8_t* map, std::uint8_t* binary, int w, int h) {
  if (!tl::image_ok(binary, w, h) || !map) return;
  const std::size_t n = tl::pixels(w, h);
  tl::remove_holes({map, n}, {binary, n}, w, h);
}

// grid points at a TypelineBlockGrid (columns, rows, then the cells).
ZYL_API void get_block_data(const std::uint8_t* map, int w, int h, std::uint8_t* grid, int columns, int rows) {
  if (!tl::image_ok(map, w, h) || !grid || columns < 0 || rows < 0 || columns > 255 || rows > 255 ||
      columns * rows > TYPELINE_MAX_BLOCKS)
    return;
  tl::sample_blocks({map, tl::pixels(w, h)}, w, h, *reinterpret_cast<TypelineBlockGrid*>(grid), columns, rows);
}

}  // extern "C"

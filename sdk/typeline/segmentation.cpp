// First image stages of the type-line extractor: box means that shrink at
// the border, foreground/background segmentation and local contrast
// enhancement.
#include <algorithm>
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

void box_mean(std::uint8_t* image, int w, int h, int r) {
  std::vector<std::uint8_t> out(tl::pixels(w, h));
  tl::for_each_window_sum(image, w, h, r, [&](int x, int y, std::int32_t s, int rows, int cols) {
    // Exact division by the pixels of the clipped window. (Reciprocal
    // multipliers such as x * 809 >> 16 for 81 fall just short of 1 / n
    // and would darken a flat image by one grey level.)
    const int v = s / (rows * cols);
    out[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
  });
  std::memcpy(image, out.data(), out.size());
}

constexpr int kProfileCapacity = 100;

}  // namespace

namespace zyl::typeline {

void smooth_profile(std::int32_t* values, int n, int r) {
  if (!values || n <= 0 || n > kProfileCapacity || r < 0) return;
  std::int32_t copy[kProfileCapacity];
  std::copy_n(values, n, copy);
  for (int i = 0; i < n; ++i) {
    const int a = std::max(0, i - r), b = std::min(n - 1, i + r);
    std::int64_t s = 0;
    for (int k = a; k <= b; ++k) s += copy[k];
    values[i] = static_cast<std::int32_t>(s / (b - a + 1));
  }
}

void smooth_box(std::span<std::uint8_t> image, int w, int h, int radius) {
  run_stage([&] { box_mean(image.data(), w, h, radius); });
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API void get_smoothed_image(std::uint8_t* image, int w, int h) {
  if (tl::image_ok(image, w, h)) tl::smooth_box({image, tl::pixels(w, h)}, w, h, 1);
}

ZYL_API void get_smoothed_image4(std::uint8_t* image, int w, int h) {
  if (tl::image_ok(image, w, h)) tl::smooth_box({image, tl::pixels(w, h)}, w, h, 4);
}

ZYL_API void histogram_smooth(std::int32_t* values, int n, int r) {
  tl::smooth_profile(values, n, r);
}

}  // extern "C"

namespace {

void segment_kernel(const std::uint8_t* image, std::uint8_t* mask, int w, int h) {
  const int W4 = w / 4, H4 = h / 4;
  const int bands = (h + 15) / 16;
  std::vector<std::int32_t> V(static_cast<std::size_t>(std::max(W4, 1)) * bands, 0);
  std::int32_t CP[kProfileCapacity] = {};
  std::int32_t R[kProfileCapacity] = {};
  auto px = [&](int x, int y) -> int { return image[static_cast<std::size_t>(y) * w + x]; };
  auto band = [&](int b) { return V.data() + static_cast<std::size_t>(b) * W4; };

  // 1. Vertical variation of every fourth column in bands of 16 rows. Only
  // whole groups of 4 columns are measured: a partial last group has no
  // place in the band table.
  for (int b = 0; 16 * b + 14 < h; ++b) {
    const int y0 = 16 * b;
    for (int g = 0; g < W4; ++g) {
      const int x = 4 * g;
      int sum = 0;
      for (int k = 0; k < 8; ++k) sum += px(x, y0 + 2 * k);
      const int m = sum >> 3;
      int v = 0;
      for (int k = 0; k < 8; ++k) v += std::abs(m - px(x, y0 + 2 * k));
      band(b)[g] = v;
      CP[g] += v;
    }
    tl::smooth_profile(band(b), W4, 2);
  }

  // 2. Column limits.
  std::int32_t M = 0;
  for (int g = 0; g < W4; ++g) M = std::max(M, CP[g]);
  std::int32_t T = M / 5;
  if (M > 2000 && T < 1000) T = 1000;
  int left = 4 * W4;
  for (int g = 0; g < W4; ++g)
    if (CP[g] > T) {
      left = 4 * g;
      break;
    }
  left = std::min(left, w);
  int right = 0;
  for (int g = W4 - 1; g >= 0; --g)
    if (CP[g] > T) {
      right = 4 * g + (g == W4 - 1 ? 3 : 0);
      break;
    }

  // 3. Horizontal variation per group of 4 rows between the limits.
  for (int x = left; x <= right && x + 8 < w; x += 8)
    for (int e = 0; e < H4; ++e) {
      const int y = 4 * e;
      int sum = 0;
      for (int k = 0; k < 4; ++k) sum += px(x + 2 * k, y);
      const int m = sum >> 2;
      for (int k = 0; k < 4; ++k) R[e] += std::abs(m - px(x + 2 * k, y));
      R[e] += band(y / 16)[x / 4] / 4;
    }

  // 4. Row limits.
  std::int32_t N = 0;
  for (int e = 0; e < H4; ++e) N = std::max(N, R[e]);
  const std::int32_t T2 = std::min<std::int32_t>(N / 7, 1000);
  int top = 4 * H4;
  for (int e = 0; e < H4; ++e)
    if (R[e] > T2) {
      top = 4 * e;
      break;
    }
  top = std::min(top, h);
  std::int32_t T3 = N / 5;
  if (N > 3000 && T3 < 1600) T3 = 1600;
  int bottom = 0;
  for (int e = H4 - 1; e >= 0; --e)
    if (R[e] > T3 && (e < 5 || R[e - 4] > T3)) {
      bottom = 4 * e + (e == H4 - 1 ? 3 : 0);
      break;
    }

  // 5. Paint the outside of the limits.
  auto paint = [&](int y, int x0, int x1) {  // columns x0..x1 - 1
    if (y < 0 || y >= h) return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, w);
    if (x0 < x1) std::memset(mask + static_cast<std::size_t>(y) * w + x0, tl::kBackground, x1 - x0);
  };
  for (int y = 0; y < h; ++y) {
    paint(y, 0, left);
    paint(y, right, w);
    if (y < top || y >= bottom) paint(y, left, right);
  }

  // 6. Refine the side limits band by band.
  for (int y = top; y < bottom;) {
    int n = (y == top && top % 16 != 0) ? 16 * (top / 16 + 1) - top : 16;
    if (y + n >= bottom) n = bottom - y + 1;
    const int b = y / 16;
    const int gL = left / 4, gR = std::min(right / 4, W4 - 1);
    std::int32_t Mb = 0;
    for (int g = gL; g <= gR; ++g) Mb = std::max(Mb, band(b)[g]);
    std::int32_t T4 = Mb / 5;
    if (Mb < 351 && T4 < 70) T4 = 70;
    int a = gR + 1;
    for (int g = gL; g <= gR; ++g)
      if (band(b)[g] > T4) {
        a = g;
        break;
      }
    const int L2 = std::min(4 * a, w - 1);
    int bb = std::max(gL - 1, 0);
    for (int g = gR; g >= gL; --g)
      if (band(b)[g] > T4) {
        bb = g;
        break;
      }
    const int R2 = 4 * bb;
    for (int k = 0; k < n; ++k) {
      paint(y + k, left, L2);
      paint(y + k, R2 + 1, right + 1);
    }
    y += n;
  }
}

void sharpen_kernel(std::uint8_t* target, const std::uint8_t* source, const std::uint8_t* mask, int w, int h, int R) {
  // Deviations on the even grid and their summed-area table.
  const int gw = (w + 1) / 2, gh = (h + 1) / 2;
  std::vector<std::int32_t> sat(static_cast<std::size_t>(gw + 1) * (gh + 1), 0);
  for (int gy = 0; gy < gh; ++gy) {
    std::int32_t row = 0;
    for (int gx = 0; gx < gw; ++gx) {
      const std::size_t i = static_cast<std::size_t>(2 * gy) * w + 2 * gx;
      row += std::abs(target[i] - source[i]);
      sat[static_cast<std::size_t>(gy + 1) * (gw + 1) + gx + 1] = sat[static_cast<std::size_t>(gy) * (gw + 1) + gx + 1] + row;
    }
  }
  // Even rows (or columns) within c - R .. c + R: grid indices.
  auto grid_range = [R](int c, int n) {
    const int lo = std::max(0, c - R), hi = std::min(n - 1, c + R);
    return std::pair<int, int>{(lo + 1) / 2, hi / 2};
  };
  for (int y = 0; y < h; y += 2) {
    const auto [gy0, gy1] = grid_range(y, h);
    const int nr = gy1 - gy0 + 1;
    for (int x = 0; x < w; x += 2) {
      const auto [gx0, gx1] = grid_range(x, w);
      const int nc = gx1 - gx0 + 1;
      const std::int64_t S = sat[static_cast<std::size_t>(gy1 + 1) * (gw + 1) + gx1 + 1] -
                             sat[static_cast<std::size_t>(gy0) * (gw + 1) + gx1 + 1] -
                             sat[static_cast<std::size_t>(gy1 + 1) * (gw + 1) + gx0] +
                             sat[static_cast<std::size_t>(gy0) * (gw + 1) + gx0];
      // Window counts stay below 512 for any radius: images are at most
      // 400 pixels, so at most 200 even rows or columns.
      const int g = static_cast<int>(((S * tl::kDivisionMultiplier[nr]) >> tl::kDivisionShift[nr]) * tl::kDivisionMultiplier[nc] >> tl::kDivisionShift[nc]);
      for (int dy = 0; dy < 2 && y + dy < h; ++dy)
        for (int dx = 0; dx < 2 && x + dx < w; ++dx) {
          const std::size_t i = static_cast<std::size_t>(y + dy) * w + x + dx;
          if (mask[i] == tl::kBackground) continue;
          const int M = target[i], v = source[i];
          int out;
          if (g == 0) {
            out = v;
          } else if (v <= M - g) {
            out = v >> 1;
          } else if (v >= M + g) {
            out = (v + 255) >> 1;
          } else if (M - g <= 0 && M + g >= 255) {
            out = v;
          } else {
            int q;
            if (M - g <= 0)
              q = tl::table_divide(255 * v, M + g);
            else if (M + g >= 255)
              q = tl::table_divide(255 * (v - M + g), 255 - M + g);
            else
              q = tl::table_divide(255 * (v - M + g), 2 * g);
            out = (q + v) >> 1;
          }
          target[i] = static_cast<std::uint8_t>(std::clamp(out, 0, 255));
        }
    }
  }
}

}  // namespace

namespace zyl::typeline {

void segment(std::span<const std::uint8_t> image, std::span<std::uint8_t> mask, int w, int h) {
  run_stage([&] { segment_kernel(image.data(), mask.data(), w, h); });
}

void sharpen(std::span<std::uint8_t> target, std::span<const std::uint8_t> source, std::span<const std::uint8_t> mask,
             int w, int h, int radius) {
  run_stage([&] { sharpen_kernel(target.data(), source.data(), mask.data(), w, h, radius); });
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API void get_segmentation(const std::uint8_t* image, std::uint8_t* mask, int w, int h) {
  if (tl::image_ok(image, w, h) && mask) tl::segment({image, tl::pixels(w, h)}, {mask, tl::pixels(w, h)}, w, h);
}

ZYL_API void get_sharpend_image(std::uint8_t* target, const std::uint8_t* source, const std::uint8_t* mask, int w,
                                int h, int R) {
  if (tl::image_ok(target, w, h) && source && mask && R >= 0)
    tl::sharpen({target, tl::pixels(w, h)}, {source, tl::pixels(w, h)}, {mask, tl::pixels(w, h)}, w, h, R);
}

}  // extern "C"

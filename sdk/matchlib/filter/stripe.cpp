// Stripe detection and correction of column (and, turned, row) strips, and
// the selector between them and checker removal.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"
#include "zylscan/matchlib_stripe.h"
#include "matchlib/image/checker.h"
#include "matchlib/filter/stripe.h"
#include "matchlib/image/reorient.h"

namespace zyl::matchlib {
namespace {

// Offset of strip i of row k from its surroundings, truncated toward zero.
int strip_offset(const std::uint8_t* img, int h, int w, int n, int strips, int k, int i) {
  const std::uint8_t* row = img + static_cast<std::size_t>(k) * w;
  const int f = i * n, l = f + n - 1, q = n == 1 ? 1 : n / 2;
  std::int64_t o = 0, weight = 0;
  if (i > 0) {
    o += std::int64_t{q} * (row[f] - row[f - 1]);
    weight += q;
  }
  if (i < strips - 1) {
    o += std::int64_t{q} * (row[l] - row[l + 1]);
    weight += q;
  }
  if (h >= 2) {
    const std::uint8_t* up = k > 0 ? row - w : nullptr;
    const std::uint8_t* down = k + 1 < h ? row + w : nullptr;
    for (int c = f; c <= l; ++c) {
      if (up && down) o += 2 * row[c] - up[c] - down[c];
      else o += row[c] - (up ? up[c] : down[c]);
    }
    weight += (up && down) ? 2 * n : n;
  }
  return weight ? static_cast<int>(o / weight) : 0;
}

int correct_columns(const std::uint8_t* src, int h, int w, int n, int threshold,
                    std::uint8_t* out) {
  if (!src || !out || h < 0 || w < 0 || n < 1 || w < n) return ML_BAD_ARGUMENT;
  const int strips = w / n;
  const std::size_t count = static_cast<std::size_t>(h) * strips;
  if (src != out) std::memmove(out, src, static_cast<std::size_t>(h) * w);
  Scratch<std::int16_t> offsets(count);
  if (!offsets) return ML_NO_MEMORY;
  std::int64_t previous = static_cast<std::int64_t>(count) * 255;
  for (int pass = 0; pass < 8; ++pass) {
    std::int64_t total = 0;
    for (int k = 0; k < h; ++k)
      for (int i = 0; i < strips; ++i) {
        const int off = strip_offset(out, h, w, n, strips, k, i);
        offsets[static_cast<std::size_t>(k) * strips + i] = static_cast<std::int16_t>(off);
        total += std::abs(off);
      }
    for (int k = 0; k < h; ++k)
      for (int i = 0; i < strips; ++i) {
        const int off = offsets[static_cast<std::size_t>(k) * strips + i];
        if (std::abs(off) <= threshold) continue;
        const int r = (off * 3) / -4;
        std::uint8_t* p = out + static_cast<std::size_t>(k) * w + i * n;
        for (int c = 0; c < n; ++c) p[c] = static_cast<std::uint8_t>(std::clamp(p[c] + r, 0, 255));
      }
    // Stop once the total fell by less than one per strip.
    if (total > previous - static_cast<std::int64_t>(count)) break;
    previous = total;
  }
  return ML_OK;
}

int detect_columns(const std::uint8_t* src, int h, int w, int a, int mode, std::uint8_t* flag) {
  if (!flag) return ML_BAD_ARGUMENT;
  *flag = 0;
  if (mode != 1 || a <= 1 || w < a || w <= 0 || h <= 0 || !src) return ML_BAD_ARGUMENT;
  std::uint64_t boundary = 0, inner = 0;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = src + static_cast<std::size_t>(y) * w;
    for (int j = 1; j < w; ++j) {
      const std::uint64_t f = static_cast<std::uint64_t>(std::abs(row[j] - row[j - 1]));
      if (j % a == 0) boundary += static_cast<std::uint64_t>(a - 1) * f;
      else inner += f;
    }
  }
  *flag = boundary * 16 / (inner + 1) >= 20 ? 1 : 0;
  return ML_OK;
}

// A quarter-turned copy (width rows of height pixels), or null.
Scratch<std::uint8_t> turned(const std::uint8_t* src, int h, int w) {
  Scratch<std::uint8_t> t(static_cast<std::size_t>(h) * w);
  if (t) zyl::matchlib::img_flip_rotate_u8(src, h, w, IMG_ORIENT_QUARTER_CW, t.get());
  return t;
}

int correct_rows(const std::uint8_t* src, int h, int w, int n, int threshold, std::uint8_t* out) {
  if (!src || !out || h < 0 || w < 0) return ML_BAD_ARGUMENT;
  // The strip test comes first so that a refused setting writes nothing.
  if (n < 1 || h < n) return ML_BAD_ARGUMENT;
  Scratch<std::uint8_t> t = turned(src, h, w);
  if (!t) return ML_NO_MEMORY;
  const int st = correct_columns(t.get(), w, h, n, threshold, t.get());
  if (st != ML_OK) return st;
  zyl::matchlib::img_flip_rotate_u8(t.get(), w, h, IMG_ORIENT_QUARTER_CCW, out);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::stripe_correct_columns(const uint8_t* pixels, int height, int width, int n,
                                          int threshold, uint8_t* out) {
  return correct_columns(pixels, height, width, n, threshold, out);
}

int zyl::matchlib::stripe_correct_rows(const uint8_t* pixels, int height, int width, int n,
                                       int threshold, uint8_t* out) {
  return correct_rows(pixels, height, width, n, threshold, out);
}

extern "C" ZYL_API int stripe_correct_whole_rows(uint8_t* pixels, int height, int width) {
  return correct_columns(pixels, height, width, width, 0, pixels);
}

extern "C" ZYL_API int stripe_correct_whole_columns(uint8_t* pixels, int height, int width) {
  return correct_rows(pixels, height, width, height, 0, pixels);
}

int zyl::matchlib::stripe_detect_columns(const uint8_t* pixels, int height, int width, int a,
                                         int mode, uint8_t* flag) {
  return detect_columns(pixels, height, width, a, mode, flag);
}

extern "C" ZYL_API int stripe_detect_rows(const uint8_t* pixels, int height, int width, int a,
                                          int mode, uint8_t* flag) {
  if (!flag) return ML_BAD_ARGUMENT;
  if (!pixels || height <= 0 || width <= 0) return detect_columns(pixels, height, width, a, mode, flag);
  Scratch<uint8_t> t = turned(pixels, height, width);
  if (!t) {
    *flag = 0;
    return ML_NO_MEMORY;
  }
  return detect_columns(t.get(), width, height, a, mode, flag);
}

int zyl::matchlib::imgproc_destripe_by_type(const uint8_t* pixels, int height, int width, int type,
                                            int strip, uint8_t* out) {
  switch (type) {
    case 0:
      return zyl::matchlib::imgproc_remove_checker(pixels, height, width, out);
    case 1: {
      if (strip != 1) {
        std::uint8_t found = 0;
        const int st =
            zyl::matchlib::stripe_detect_columns(pixels, height, width, strip, 1, &found);
        if (st != ML_OK) return st;
        if (!found) {
          if (out != pixels && height > 0 && width > 0)
            std::memmove(out, pixels, std::size_t(height) * std::size_t(width));
          return ML_OK;
        }
      }
      return zyl::matchlib::stripe_correct_columns(pixels, height, width, strip, 0, out);
    }
    case 2:
      return zyl::matchlib::stripe_correct_columns(pixels, height, width, width, 0, out);
    case 3:
      return zyl::matchlib::stripe_correct_rows(pixels, height, width, height, 0, out);
    case 4:
      return zyl::matchlib::stripe_correct_columns(pixels, height, width, 1, 0, out);
    default:
      return ML_WRONG_KIND;
  }
}

extern "C" {

ZYL_API int stripe_correct_columns(const uint8_t* pixels, int height, int width, int n,
                                   int threshold, uint8_t* out) {
  return zyl::matchlib::stripe_correct_columns(pixels, height, width, n, threshold, out);
}
ZYL_API int stripe_correct_rows(const uint8_t* pixels, int height, int width, int n, int threshold,
                                uint8_t* out) {
  return zyl::matchlib::stripe_correct_rows(pixels, height, width, n, threshold, out);
}
ZYL_API int stripe_detect_columns(const uint8_t* pixels, int height, int width, int a, int mode,
                                  uint8_t* flag) {
  return zyl::matchlib::stripe_detect_columns(pixels, height, width, a, mode, flag);
}

ZYL_API int imgproc_destripe_by_type(const uint8_t* pixels, int height, int width, int type,
                                     int strip, uint8_t* out) {
  return zyl::matchlib::imgproc_destripe_by_type(pixels, height, width, type, strip, out);
}

}  // extern "C"

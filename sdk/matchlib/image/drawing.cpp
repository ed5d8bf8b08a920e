// Drawing into 8-bit grey images in place. Every pixel is clipped to the
// image; nothing here allocates.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "zylscan/matchlib_drawing.h"
#include "matchlib/image/drawing.h"

namespace zyl::matchlib {
namespace {

struct Canvas {
  uint8_t* image;
  int height;
  int width;
  void put(long x, long y, uint8_t value) const {
    if (image && x >= 0 && y >= 0 && x < width && y < height)
      image[static_cast<std::size_t>(y) * width + x] = value;
  }
  // Steps k = lo .. hi of a run start + k * step (step -1, 0 or 1) cut to
  // the k whose position lies in 0 .. size - 1, so that far-away or huge
  // shapes cost only the pixels that can be drawn.
  static void cut(long start, int step, long size, long& lo, long& hi) {
    if (step == 0) {
      if (start < 0 || start >= size) hi = lo - 1;
      return;
    }
    const long a = step > 0 ? -start : start - (size - 1);
    const long b = step > 0 ? size - 1 - start : start;
    lo = std::max(lo, a);
    hi = std::min(hi, b);
  }
  // Pixels (x0 + k*sx, y0 + k*sy) for k = lo .. hi, each clipped.
  void run(long x0, long y0, int sx, int sy, long lo, long hi, uint8_t value) const {
    cut(x0, sx, width, lo, hi);
    cut(y0, sy, height, lo, hi);
    for (long k = lo; k <= hi; ++k) put(x0 + k * sx, y0 + k * sy, value);
  }
};

// Glyphs of the digit font, 4 columns by 7 rows, 'X' drawn.
constexpr const char* kGlyphs[10][7] = {
    {".XX.", "X..X", "X..X", "X..X", "X..X", "X..X", ".XX."},
    {"..X.", ".XX.", "..X.", "..X.", "..X.", "..X.", "XXXX"},
    {".XX.", "X..X", "...X", "..X.", ".X..", "X...", "XXXX"},
    {".XX.", "X..X", "...X", "..X.", "X..X", "X..X", ".XX."},
    {"...X", "..XX", ".X.X", "X..X", "XXXX", "...X", "...X"},
    {"XXXX", "X...", "X...", ".XX.", "...X", "...X", "XXX."},
    {".XX.", "X..X", "X...", "XXX.", "X..X", "X..X", ".XX."},
    {"XXXX", "...X", "..X.", ".X..", ".X..", ".X..", ".X.."},
    {".XX.", "X..X", "X..X", ".XX.", "X..X", "X..X", ".XX."},
    {".XX.", "X..X", "X..X", ".XXX", "...X", "X..X", ".XX."},
};

void line(const Canvas& c, long x0, long y0, long x1, long y1, uint8_t value) {
  c.put(x0, y0, value);
  c.put(x1, y1, value);
  if (y0 > y1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const long dy = y1 - y0, dx = x1 - x0;
  if (dy == 0 && dx == 0) return;
  const long adx = std::labs(dx);
  // The steps are cut to those whose stepping coordinate lies inside the
  // image (the same pixels, without walking a far-away line point by
  // point); the products are formed in 128 bits.
  long lo = 1;
  if (adx >= dy) {
    long hi = adx - 1;
    Canvas::cut(x0, dx < 0 ? -1 : 1, c.width, lo, hi);
    for (long k = lo; k <= hi; ++k)
      c.put(dx < 0 ? x0 - k : x0 + k, y0 + static_cast<long>(static_cast<__int128>(k) * dy / adx), value);
  } else {
    long hi = dy - 1;
    Canvas::cut(y0, 1, c.height, lo, hi);
    // C++ division truncates toward zero, as the step rule wants.
    for (long k = lo; k <= hi; ++k)
      c.put(x0 + static_cast<long>(static_cast<__int128>(k) * dx / dy), y0 + k, value);
  }
}

uint8_t lighten(uint8_t v, unsigned q) { return static_cast<uint8_t>(v + (255u - v) * q / 100u); }
uint8_t darken(uint8_t v, unsigned q) { return static_cast<uint8_t>(v - v * q / 100u); }

// Percentages above 100 act as 100; a negative one changes nothing.
unsigned percent_of(int percent) { return static_cast<unsigned>(std::clamp(percent, 0, 100)); }

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API void draw_pixel(uint8_t* image, int height, int width, int row, int column,
                                   uint8_t value) {
  if (!image) return;
  const uint16_t h = static_cast<uint16_t>(height), w = static_cast<uint16_t>(width);
  const uint16_t r = static_cast<uint16_t>(row), c = static_cast<uint16_t>(column);
  if (r < h && c < w) image[static_cast<std::size_t>(r) * w + c] = value;
}

void zyl::matchlib::draw_line(uint8_t* image, int height, int width, int x0, int y0, int x1, int y1,
                              uint8_t value) {
  line(Canvas{image, height, width}, x0, y0, x1, y1, value);
}

extern "C" ZYL_API void draw_triangle(uint8_t* image, int height, int width, int x1, int y1, int x2,
                                      int y2, int x3, int y3, uint8_t value) {
  const Canvas c{image, height, width};
  line(c, x1, y1, x2, y2, value);
  line(c, x2, y2, x3, y3, value);
  line(c, x3, y3, x1, y1, value);
}

// A width or height of 0 or less draws nothing: there is no outline to draw.
void zyl::matchlib::draw_rect(uint8_t* image, int height, int width, int x, int y, int rect_width,
                              int rect_height, uint8_t value) {
  if (rect_width <= 0 || rect_height <= 0) return;
  const Canvas c{image, height, width};
  const long left = x, right = long{x} + rect_width - 1;
  const long top = y, bottom = long{y} + rect_height - 1;
  c.run(left, top, 1, 0, 0, right - left, value);
  c.run(left, bottom, 1, 0, 0, right - left, value);
  if (rect_height >= 3) {
    c.run(left, top + 1, 0, 1, 0, bottom - top - 2, value);
    c.run(right, top + 1, 0, 1, 0, bottom - top - 2, value);
  }
}

void zyl::matchlib::draw_marker(uint8_t* image, int height, int width, int size, int x, int y,
                                uint8_t value) {
  const Canvas c{image, height, width};
  if (size <= 0) return;
  if (size == 1) {
    c.put(x, y, value);
    return;
  }
  if (size == 2) {
    c.put(x, y, value);
    c.put(long{x} + 1, y, value);
    c.put(x, long{y} + 1, value);
    c.put(long{x} + 1, long{y} + 1, value);
    return;
  }
  const long n = size;
  const long even = n % 2 == 0;
  const long x0 = x - n / 2 + even, y0 = y - n / 2 + even;
  static constexpr long kAdjust[4] = {0, 1, -1, 0};  // by n mod 4: 0, 1, 2, 3
  const long h = n / 2 + kAdjust[n % 4];
  const long start = (n - h) / 2;
  c.run(x0 + start, y0, 1, 0, 0, h - 1, value);          // top run
  c.run(x0 + start, y0 + n - 1, 1, 0, 0, h - 1, value);  // bottom run
  c.run(x0, y0 + start, 0, 1, 0, h - 1, value);          // left run
  c.run(x0 + n - 1, y0 + start, 0, 1, 0, h - 1, value);  // right run
  // Corner diagonals of start - 1 pixels join the ends of the runs.
  c.run(x0 + start, y0, -1, 1, 1, start - 1, value);
  c.run(x0 + n - 1 - start, y0, 1, 1, 1, start - 1, value);
  c.run(x0 + start, y0 + n - 1, -1, -1, 1, start - 1, value);
  c.run(x0 + n - 1 - start, y0 + n - 1, 1, -1, 1, start - 1, value);
}

void zyl::matchlib::draw_number(uint8_t* image, int height, int width, int32_t number,
                                int min_digits, int x, int y, uint8_t value) {
  const Canvas c{image, height, width};
  const uint8_t back = static_cast<uint8_t>(~value);
  long cell = x;
  // 64 bits so that the most negative number negates.
  std::int64_t rest = number;
  if (rest < 0) {
    for (long u = 0; u < 4; ++u) {
      c.put(cell + u, long{y} + 2, back);
      c.put(cell + u, long{y} + 4, back);
    }
    c.put(cell, long{y} + 3, back);
    c.put(cell + 3, long{y} + 3, back);
    c.put(cell + 1, long{y} + 3, value);
    c.put(cell + 2, long{y} + 3, value);
    cell += 5;
    rest = -rest;
  }
  bool drawn = false;
  std::int64_t place = 1000000000;
  for (int places = 10; places >= 1; --places, place /= 10) {
    const int digit = static_cast<int>(rest / place);
    rest %= place;
    if (!drawn && digit == 0 && places > min_digits) continue;
    drawn = true;
    for (long v = long{y} - 1; v <= long{y} + 7; ++v)
      for (long u = cell - 1; u <= cell + 4; ++u) c.put(u, v, back);
    // A leading digit above 9 cannot occur: an int32 has at most 10 digits.
    const auto& glyph = kGlyphs[digit % 10];
    for (int gy = 0; gy < 7; ++gy)
      for (int gx = 0; gx < 4; ++gx)
        if (glyph[gy][gx] == 'X') c.put(cell + gx, long{y} + gy, value);
    cell += 5;
  }
}

void zyl::matchlib::draw_lighten(const uint8_t* src, int height, int width, int percent,
                                 uint8_t* dst) {
  if (!src || !dst || height <= 0 || width <= 0) return;
  const unsigned q = percent_of(percent);
  const std::size_t n = static_cast<std::size_t>(height) * width;
  for (std::size_t k = 0; k < n; ++k) dst[k] = lighten(src[k], q);
}

extern "C" ZYL_API void draw_darken(const uint8_t* src, int height, int width, int percent,
                                    uint8_t* dst) {
  if (!src || !dst || height <= 0 || width <= 0) return;
  const unsigned q = percent_of(percent);
  const std::size_t n = static_cast<std::size_t>(height) * width;
  for (std::size_t k = 0; k < n; ++k) dst[k] = darken(src[k], q);
}

extern "C" {

ZYL_API void draw_line(uint8_t* image, int height, int width, int x0, int y0, int x1, int y1,
                       uint8_t value) {
  zyl::matchlib::draw_line(image, height, width, x0, y0, x1, y1, value);
}
ZYL_API void draw_rect(uint8_t* image, int height, int width, int x, int y, int rect_width,
                       int rect_height, uint8_t value) {
  zyl::matchlib::draw_rect(image, height, width, x, y, rect_width, rect_height, value);
}
ZYL_API void draw_marker(uint8_t* image, int height, int width, int size, int x, int y,
                         uint8_t value) {
  zyl::matchlib::draw_marker(image, height, width, size, x, y, value);
}
ZYL_API void draw_number(uint8_t* image, int height, int width, int32_t number, int min_digits,
                         int x, int y, uint8_t value) {
  zyl::matchlib::draw_number(image, height, width, number, min_digits, x, y, value);
}
ZYL_API void draw_lighten(const uint8_t* src, int height, int width, int percent, uint8_t* dst) {
  zyl::matchlib::draw_lighten(src, height, width, percent, dst);
}

}  // extern "C"

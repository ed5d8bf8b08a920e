// Contour thinning of 0/1 images: outlines are traced into step chains,
// peeled with the deletion table, mended with the restoration table and
// traced again from a new start until a whole pass deletes nothing.
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/extract/contour_thinning.h"
#include "zylscan/matchlib_contour_thin.h"
#include "zylscan/matchlib_object.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint8_t kObject = 0;
constexpr std::uint8_t kBackground = 1;

// Directions in clockwise screen order; even indices are the axis steps.
enum Dir : int { kUp, kUpRight, kRight, kDownRight, kDown, kDownLeft, kLeft, kUpLeft, kNone = -1 };
constexpr int kRowStep[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
constexpr int kColStep[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kPacked[8] = {THIN_UP,   THIN_UP_RIGHT, THIN_RIGHT, THIN_DOWN_RIGHT,
                            THIN_DOWN, THIN_DOWN_LEFT, THIN_LEFT, THIN_UP_LEFT};

constexpr std::array<std::uint8_t, 256> table_of(std::initializer_list<int> patterns) {
  std::array<std::uint8_t, 256> t{};
  for (int p : patterns) t[static_cast<std::size_t>(p)] = 1;
  return t;
}

}  // namespace

// Neighbour patterns (bit 128 up-left, 64 up, 32 up-right, 16 left, 8 right,
// 4 down-left, 2 down, 1 down-right) whose centre may be peeled away ...
extern const std::array<std::uint8_t, 256> kThinDelete = table_of(
    {7,   10,  11,  14,  15,  18,  19,  22,  23,  26,  31,  41,  42,  43,  46,  47,  58,
     63,  72,  73,  74,  78,  80,  82,  83,  84,  88,  89,  90,  92,  93,  104, 105, 107,
     111, 112, 114, 115, 116, 146, 147, 148, 150, 151, 154, 159, 186, 200, 201, 202, 206,
     208, 212, 214, 215, 224, 232, 233, 235, 240, 244, 246, 248, 249, 252});
// ... and those whose peeled centre must come back because it alone joined
// two neighbours.
extern const std::array<std::uint8_t, 256> kThinRestore =
    table_of({12, 17, 24, 34, 48, 65, 66, 68, 130, 136});

namespace {

class ContourThinner {
 public:
  ContourThinner(std::uint8_t* image, int height, int width)
      : img_(image),
        h_(height),
        w_(width),
        stride_((width + 7) / 8),
        visited_(static_cast<std::size_t>(stride_) * height, 0),
        budget_(static_cast<std::size_t>(height) * width) {
    for (int d = 0; d < 8; ++d) offset_[d] = kRowStep[d] * static_cast<std::ptrdiff_t>(w_) + kColStep[d];
  }

  // Contours are kept in the order they were found and walked from the
  // newest to the oldest: the order of a list that takes each new contour at
  // its front, without the cost of inserting there.
  void run() {
    search();
    for (;;) {
      bool any = false;
      for (auto c = contours_.rbegin(); c != contours_.rend(); ++c)
        if (!c->done && peel(*c)) any = true;
      if (!any) return;
      used_ = 0;
      for (auto c = contours_.rbegin(); c != contours_.rend(); ++c)
        if (!c->done) trace(*c, next_step(img_ + c->start, w_, c->start_dir));
    }
  }

  static int next_step(const std::uint8_t* pixel, std::ptrdiff_t w, int previous) {
    const bool axis = previous % 2 == 0;
    const int first = previous - (axis ? 1 : 2);
    const int positions = axis ? 6 : 7;
    for (int i = 0; i < positions; ++i) {
      const int d = (first + i + 8) & 7;
      if (pixel[kRowStep[d] * w + kColStep[d]] == kObject) return d;
    }
    return kNone;
  }

 private:
  struct Contour {
    std::ptrdiff_t start = 0;  // pixel index of the start
    int start_dir = kNone;     // direction a retrace asks the next step from
    std::vector<std::int8_t> chain;  // steps; the first entry marks the start
    bool done = false;
  };

  int pattern(std::ptrdiff_t i) const {
    const std::uint8_t* p = img_ + i;
    const std::ptrdiff_t w = w_;
    return (p[-w - 1] == kObject) << 7 | (p[-w] == kObject) << 6 | (p[-w + 1] == kObject) << 5 |
           (p[-1] == kObject) << 4 | (p[1] == kObject) << 3 | (p[w - 1] == kObject) << 2 |
           (p[w] == kObject) << 1 | (p[w + 1] == kObject);
  }

  void mark(std::ptrdiff_t i, bool on) {
    const std::ptrdiff_t y = i / w_, x = i % w_;
    std::uint8_t& byte = visited_[static_cast<std::size_t>(y * stride_ + x / 8)];
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << (x % 8));
    byte = on ? (byte | bit) : (byte & ~bit);
  }
  bool visited(std::ptrdiff_t i) const {
    const std::ptrdiff_t y = i / w_, x = i % w_;
    return visited_[static_cast<std::size_t>(y * stride_ + x / 8)] >> (x % 8) & 1;
  }

  // Object pixels on every second row are examined for the left edge of an
  // outline not traced yet (outer outlines and the outlines of holes alike).
  void search() {
    for (int y = 2; y < h_ - 1; y += 2)
      for (int x = 1; x <= w_ - 2; x += 2) {
        const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(y) * w_ + x;
        std::ptrdiff_t s = -1;
        if (img_[i] == kBackground && img_[i + 1] == kObject && !visited(i + 1))
          s = i + 1;
        else if (img_[i] == kObject && !visited(i) && img_[i - 1] == kBackground)
          s = i;
        if (s < 0) continue;
        Contour c;
        c.start = s;
        int first = kNone;
        for (int d : {kUpLeft, kUp, kUpRight, kRight, kDownRight, kDown, kDownLeft})
          if (img_[s + offset_[d]] == kObject) {
            first = d;
            break;
          }
        contours_.push_back(std::move(c));
        trace(contours_.back(), first);
      }
  }

  // Follows the outline from the contour's start, first step `first`, until
  // it would leave the start with that step again or the shared chain
  // budget of height x width steps is spent.
  void trace(Contour& c, int first) {
    c.chain.clear();
    if (used_ >= budget_) return;
    c.chain.push_back(-1);
    ++used_;
    mark(c.start, true);
    if (first == kNone) return;
    std::ptrdiff_t pos = c.start;
    int dir = first;
    while (used_ < budget_) {
      pos += offset_[dir];
      c.chain.push_back(static_cast<std::int8_t>(dir));
      ++used_;
      mark(pos, true);
      const int next = next_step(img_ + pos, w_, dir);
      if (next == kNone) return;
      if (pos == c.start && next == first) {
        c.chain.pop_back();  // the start is already the chain's first pixel
        --used_;
        return;
      }
      dir = next;
    }
  }

  // One thinning pass over one contour; true when it deleted pixels.
  bool peel(Contour& c) {
    if (c.chain.empty()) {
      c.done = true;
      return false;
    }
    pixels_.clear();
    std::ptrdiff_t pos = c.start;
    for (std::size_t k = 0; k < c.chain.size(); ++k) {
      if (k > 0) pos += offset_[c.chain[k]];
      pixels_.push_back(pos);
    }
    const std::size_t n = pixels_.size();
    deletable_.assign(n, 0);
    long deletions = 0;
    // A pixel's fate is settled two steps after its pattern was taken, so
    // that the next pixel still sees it.
    auto settle = [&](std::size_t k) {
      const std::ptrdiff_t i = pixels_[k];
      if (deletable_[k] && img_[i] == kObject) {
        img_[i] = kBackground;
        ++deletions;
      }
      mark(i, false);
    };
    for (std::size_t k = 0; k < n; ++k) {
      deletable_[k] = img_[pixels_[k]] == kObject && kThinDelete[pattern(pixels_[k])];
      if (k >= 2) settle(k - 2);
    }
    for (std::size_t k = n >= 2 ? n - 2 : 0; k < n; ++k) settle(k);

    for (std::ptrdiff_t i : pixels_)
      if (img_[i] == kBackground && kThinRestore[pattern(i)]) {
        img_[i] = kObject;
        mark(i, false);
        --deletions;
      }

    if (deletions <= 0) {
      c.done = true;
      return false;
    }
    for (std::ptrdiff_t i : pixels_) {
      if (img_[i] != kBackground) continue;
      const bool right = img_[i + 1] == kObject, left = img_[i - 1] == kObject;
      if (!right && left) {
        c.start = i - 1, c.start_dir = kDownLeft;
      } else if (right) {
        c.start = i + 1, c.start_dir = kUpRight;
      } else if (img_[i + w_] == kObject) {
        c.start = i + w_, c.start_dir = kDownRight;
      } else if (img_[i - w_] == kObject) {
        c.start = i - w_, c.start_dir = kUpLeft;
      } else {
        continue;
      }
      return true;
    }
    c.done = true;
    return true;
  }

  std::uint8_t* img_;
  int h_, w_, stride_;
  std::ptrdiff_t offset_[8];
  std::vector<std::uint8_t> visited_;
  std::size_t budget_, used_ = 0;
  std::vector<Contour> contours_;
  std::vector<std::ptrdiff_t> pixels_;
  std::vector<std::uint8_t> deletable_;
};

bool frame_is_background(const std::uint8_t* image, int height, int width) {
  const std::size_t w = static_cast<std::size_t>(width);
  for (int x = 0; x < width; ++x)
    if (image[x] != kBackground || image[(height - 1) * w + x] != kBackground) return false;
  for (int y = 0; y < height; ++y)
    if (image[y * w] != kBackground || image[y * w + w - 1] != kBackground) return false;
  return true;
}

int dir_index(int packed) {
  for (int d = 0; d < 8; ++d)
    if (kPacked[d] == packed) return d;
  return kNone;
}

}  // namespace

int thin_contours(std::uint8_t* image, int height, int width) {
  if (!image || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  if (height <= 3 || width < 3) return ML_OK;
  // Outlines are followed through the eight neighbours without bounds
  // tests: an object pixel on the frame would lead the trace off the image.
  if (!frame_is_background(image, height, width)) return ML_BAD_ARGUMENT;
  ContourThinner thinner(image, height, width);
  thinner.run();
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::bilevel_thin(uint8_t* image, int height, int width) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return thin_contours(image, height, width); });
}

extern "C" ZYL_API int contour_next_step(const uint8_t* pixel, int width, int previous) {
  const int d = dir_index(previous);
  if (!pixel || d == kNone) return 0;
  const int next = ContourThinner::next_step(pixel, width, d);
  return next == kNone ? 0 : kPacked[next];
}

extern "C" ZYL_API int pixel_is_isolated(const uint8_t* pixel, int width) {
  if (!pixel || *pixel != kObject) return 0;
  const std::ptrdiff_t w = width;
  for (int d = 0; d < 8; ++d)
    if (pixel[kRowStep[d] * w + kColStep[d]] == kObject) return 0;
  return 1;
}

extern "C" {

ZYL_API int bilevel_thin(uint8_t* image, int height, int width) {
  return zyl::matchlib::bilevel_thin(image, height, width);
}

}  // extern "C"

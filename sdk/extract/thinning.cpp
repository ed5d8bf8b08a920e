// Table-driven thinning of the binary ridge image, transition count and the
// straight-path ridge test.
#include "zylscan/extract_thinning.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "extract/skeleton_walk.h"
#include "extract/thinning.h"

// skelet[index]: index bit i set = neighbour i is ridge. Built by the rule of
// FESkltInit; 34 entries are 1.
ZYL_API std::uint8_t skelet[256] = {
    0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0,
    0, 0, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0,
};

extern "C" ZYL_API void FESkltInit(void) {
  for (int index = 0; index < 256; ++index) {
    int r[9];
    int n = 0;
    for (int i = 0; i < 8; ++i) n += r[i] = (index >> i) & 1;
    r[8] = r[0];
    if (n < 3 || n > 7) continue;
    int t = 0;
    for (int i = 0; i < 8; ++i) t += r[i] == 0 && r[i + 1] == 1;
    bool removable = false;
    if (t == 1) {
      // Keep a pixel that holds a T together: N, E and W, or N, S and W ridge.
      removable = !((r[0] && r[2] && r[6]) || (r[0] && r[4] && r[6]));
    } else if (t == 2) {
      removable = (r[0] && r[6] && !r[2] && !r[3] && !r[4]) ||
                  (r[4] && r[6] && !r[0] && !r[1] && !r[2]);
    }
    skelet[index] = removable ? 1 : 0;
  }
}

namespace {

// The neighbourhood index of the pixels 1..width - 2 of a row (bit i set =
// neighbour i is ridge), every pixel alike, so that the loop vectorises.
void neighbourhood_row(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                       const std::uint8_t* __restrict below, std::uint8_t* __restrict index, int width) {
  for (int x = 1; x <= width - 2; ++x)
    index[x] = static_cast<std::uint8_t>((above[x] == 0) | (above[x + 1] == 0) << 1 | (here[x + 1] == 0) << 2 |
                                         (below[x + 1] == 0) << 3 | (below[x] == 0) << 4 |
                                         (below[x - 1] == 0) << 5 | (here[x - 1] == 0) << 6 |
                                         (above[x - 1] == 0) << 7);
}

}  // namespace

static void SkeletonizeImageUnguarded(std::int32_t width, std::int32_t height, ByteImage image,
                                      std::int32_t passes) {
  if (image == nullptr || width < 3 || height < 3 || passes <= 0) return;
  const std::size_t w = static_cast<std::size_t>(width);
  // Rows as they were when the sub-pass began: the row above (already
  // rewritten in the image) and the current row; the row below is not yet
  // touched and is read from the image. So the pixels of a row decide
  // independently of each other.
  std::vector<std::uint8_t> above(w), current(w), index(w);
  // Per sub-pass and row: 1 = settled (visited without a removal).
  std::vector<std::uint8_t> settled[2] = {std::vector<std::uint8_t>(height, 0),
                                          std::vector<std::uint8_t>(height, 0)};
  // The second sub-pass turns the neighbourhood by 180 degrees, so index
  // bit i describes neighbour (i + 4) mod 8: the nibbles swap. The table of
  // each sub-pass takes the index as the row gives it.
  std::uint8_t removable[2][256];
  for (unsigned i = 0; i < 256; ++i) {
    removable[0][i] = skelet[i] ? 1 : 0;
    removable[1][i] = skelet[((i >> 4) | (i << 4)) & 0xFF] ? 1 : 0;
  }
  for (; passes > 0; --passes) {
    bool removed_in_pass = false;
    for (int sub = 0; sub < 2; ++sub) {
      const std::uint8_t* table = removable[sub];
      std::memcpy(above.data(), image[0], w);
      for (int y = 1; y <= height - 2; ++y) {
        std::memcpy(current.data(), image[y], w);
        if (!settled[sub][y]) {
          const std::uint8_t* below = image[y + 1];
          std::uint8_t* out = image[y];
          neighbourhood_row(above.data(), current.data(), below, index.data(), width);
          bool removed = false;
          for (int x = 1; x <= width - 2; ++x) {
            // Only ridge pixels (0) can go.
            const bool remove = current[x] == 0 && table[index[x]] != 0;
            out[x] = remove ? 255 : current[x];
            removed |= remove;
          }
          settled[sub][y] = removed ? 0 : 1;
          removed_in_pass |= removed;
        }
        above.swap(current);
      }
    }
    if (!removed_in_pass) break;
  }
}

void zyl::extract::SkeletonizeImage(std::int32_t width, std::int32_t height, ByteImage image, std::int32_t passes) {
  zyl::GuardedCall([&] { SkeletonizeImageUnguarded(width, height, image, passes); });
}

std::int32_t zyl::extract::GetTransitionCount(ByteImage image, std::int32_t y, std::int32_t x) {
  if (image[y][x] != 0) return -1;
  return zyl::extract::RingTransitions(image, y, x);
}

std::int32_t zyl::extract::PixelOnLine(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1,
                                       ByteImage image) {
  if (x0 == x1 && y0 == y1) return 1;
  const bool hit = zyl::extract::WalkStraight(x0, y0, x1, y1, [&](int x, int y) {
    return !(x == x0 && y == y0) && image[y][x] == 0;
  });
  return hit ? 1 : 0;
}

extern "C" {

ZYL_API void SkeletonizeImage(std::int32_t width, std::int32_t height, ByteImage image, std::int32_t passes) {
  zyl::extract::SkeletonizeImage(width, height, image, passes);
}
ZYL_API std::int32_t GetTransitionCount(ByteImage image, std::int32_t y, std::int32_t x) {
  return zyl::extract::GetTransitionCount(image, y, x);
}
ZYL_API std::int32_t PixelOnLine(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, ByteImage image) {
  return zyl::extract::PixelOnLine(x0, y0, x1, y1, image);
}

}  // extern "C"

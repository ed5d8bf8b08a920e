// Table-driven thinning of the binary ridge image, transition count and the
// straight-path ridge test.
#include "zylscan/extract_thinning.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

// The removal rule for a neighbourhood index (bit i set = neighbour i is
// ridge; 0 is north, counting clockwise).
bool removable_by_rule(int index) {
  int r[9];
  int n = 0;
  for (int i = 0; i < 8; ++i) n += r[i] = (index >> i) & 1;
  r[8] = r[0];
  if (n < 3 || n > 7) return false;
  int t = 0;
  for (int i = 0; i < 8; ++i) t += r[i] == 0 && r[i + 1] == 1;
  // Keep a pixel that holds a T together: N, E and W, or N, S and W ridge.
  if (t == 1) return !((r[0] && r[2] && r[6]) || (r[0] && r[4] && r[6]));
  if (t == 2) return (r[0] && r[6] && !r[2] && !r[3] && !r[4]) || (r[4] && r[6] && !r[0] && !r[1] && !r[2]);
  return false;
}

// True while skelet holds the rule's table (callers may rewrite it).
bool table_follows_rule() {
  for (int index = 0; index < 256; ++index)
    if ((skelet[index] != 0) != removable_by_rule(index)) return false;
  return true;
}

}  // namespace

extern "C" ZYL_API void FESkltInit(void) {
  for (int index = 0; index < 256; ++index) skelet[index] = removable_by_rule(index) ? 1 : 0;
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

namespace {

// Thinning through the table, byte by byte: for a table that callers have
// changed.
void skeletonize_by_table(std::int32_t width, std::int32_t height, ByteImage image, std::int32_t passes) {
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

using Word = zyl::extract::RidgeWord;

// The pixels of the rule's table that a sub-pass removes, 64 at a time:
// r[i] holds neighbour i of each pixel (bit set = ridge). The same rule as
// removable_by_rule, each count taken bit-sliced: at_least_k gathers the
// pixels where k or more of the inputs so far are set.
Word removable_words(const Word (&r)[8]) {
  Word n1 = 0, n2 = 0, n3 = 0;  // ridge neighbours: at least 1, 2, 3
  Word t1 = 0, t2 = 0, t3 = 0;  // background-to-ridge steps round the ring
  Word all = ~Word{0};
  for (int i = 0; i < 8; ++i) {
    const Word b = r[i];
    n3 |= n2 & b;
    n2 |= n1 & b;
    n1 |= b;
    all &= b;
    const Word step = ~b & r[(i + 1) & 7];
    t3 |= t2 & step;
    t2 |= t1 & step;
    t1 |= step;
  }
  const Word count_fits = n3 & ~all;  // 3 to 7 ridge neighbours
  const Word one_step = t1 & ~t2, two_steps = t2 & ~t3;
  const Word t_shape = (r[0] & r[2] & r[6]) | (r[0] & r[4] & r[6]);
  const Word corner = (r[0] & r[6] & ~r[2] & ~r[3] & ~r[4]) | (r[4] & r[6] & ~r[0] & ~r[1] & ~r[2]);
  return count_fits & ((one_step & ~t_shape) | (two_steps & corner));
}

// Row words shifted so that bit x holds pixel x + 1 (east) or x - 1 (west).
Word east(const Word* row, int k, int words) { return (row[k] >> 1) | (k + 1 < words ? row[k + 1] << 63 : 0); }
Word west(const Word* row, int k) { return (row[k] << 1) | (k > 0 ? row[k - 1] >> 63 : 0); }

// Thinning on ridge bits, 64 pixels a step, with the same sub-passes, the
// same settled rows and the same removals as skeletonize_by_table under
// the rule's table. The image is written once, at the end.
void skeletonize_by_rule(std::int32_t width, std::int32_t height, ByteImage image, std::int32_t passes) {
  const int words = (width + 63) / 64;
  const auto row_words = static_cast<std::size_t>(words);
  std::vector<Word> bits(row_words * static_cast<std::size_t>(height));
  auto row = [&](int y) { return bits.data() + static_cast<std::size_t>(y) * row_words; };
  for (int y = 0; y < height; ++y) zyl::extract::pack_ridge_row(image[y], width, row(y));
  // The pixels a sub-pass may remove: columns 1..width - 2.
  std::vector<Word> inner(row_words, ~Word{0});
  inner[0] &= ~Word{1};
  const int last = width - 1;
  inner[static_cast<std::size_t>(last / 64)] &= ~(Word{1} << (last % 64));
  if (last % 64 != 63) inner[static_cast<std::size_t>(last / 64)] &= (Word{1} << (last % 64)) - 1;
  std::vector<Word> above(row_words), current(row_words);
  std::vector<std::uint8_t> settled[2] = {std::vector<std::uint8_t>(height, 0),
                                          std::vector<std::uint8_t>(height, 0)};
  for (; passes > 0; --passes) {
    bool removed_in_pass = false;
    for (int sub = 0; sub < 2; ++sub) {
      std::copy_n(row(0), row_words, above.data());
      for (int y = 1; y <= height - 2; ++y) {
        Word* here = row(y);
        std::copy_n(here, row_words, current.data());
        if (!settled[sub][y]) {
          const Word* up = above.data();
          const Word* mid = current.data();
          const Word* down = row(y + 1);
          Word removed = 0;
          for (int k = 0; k < words; ++k) {
            // Neighbours 0..7 from north clockwise; the second sub-pass
            // turns them by 180 degrees.
            const Word n[8] = {up[k],   east(up, k, words),   east(mid, k, words), east(down, k, words),
                               down[k], west(down, k),        west(mid, k),        west(up, k)};
            const Word r[8] = {n[(sub * 4) & 7],     n[(sub * 4 + 1) & 7], n[(sub * 4 + 2) & 7],
                               n[(sub * 4 + 3) & 7], n[(sub * 4 + 4) & 7], n[(sub * 4 + 5) & 7],
                               n[(sub * 4 + 6) & 7], n[(sub * 4 + 7) & 7]};
            const Word remove = mid[k] & inner[static_cast<std::size_t>(k)] & removable_words(r);
            here[k] = mid[k] & ~remove;
            removed |= remove;
          }
          settled[sub][y] = removed ? 0 : 1;
          removed_in_pass |= removed != 0;
        }
        above.swap(current);
      }
    }
    if (!removed_in_pass) break;
  }
  // Removed pixels become background; every other pixel keeps its value.
  std::vector<Word> before(row_words);
  for (int y = 1; y <= height - 2; ++y) {
    zyl::extract::pack_ridge_row(image[y], width, before.data());
    const Word* after = row(y);
    for (int k = 0; k < words; ++k)
      for (Word gone = before[k] & ~after[k]; gone != 0; gone &= gone - 1)
        image[y][k * 64 + std::countr_zero(gone)] = 255;
  }
}

}  // namespace

void zyl::extract::pack_ridge_row_plain(const std::uint8_t* pixels, int width, RidgeWord* out) {
  for (int k = 0; k * 64 < width; ++k) {
    RidgeWord w = 0;
    for (int i = 0; i < 64 && k * 64 + i < width; ++i) w |= static_cast<RidgeWord>(pixels[k * 64 + i] == 0) << i;
    out[k] = w;
  }
}

void zyl::extract::pack_ridge_row(const std::uint8_t* pixels, int width, RidgeWord* out) {
#if defined(__SSE2__)
  // Sixteen pixels to a compare, their sign bits gathered by movemask.
  const __m128i zero = _mm_setzero_si128();
  int k = 0;
  for (; (k + 1) * 64 <= width; ++k) {
    RidgeWord w = 0;
    for (int q = 0; q < 4; ++q) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + k * 64 + q * 16));
      w |= static_cast<RidgeWord>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))) << (16 * q);
    }
    out[k] = w;
  }
  if (k * 64 < width) pack_ridge_row_plain(pixels + k * 64, width - k * 64, out + k);
#else
  pack_ridge_row_plain(pixels, width, out);
#endif
}

static void SkeletonizeImageUnguarded(std::int32_t width, std::int32_t height, ByteImage image,
                                      std::int32_t passes) {
  if (image == nullptr || width < 3 || height < 3 || passes <= 0) return;
  if (table_follows_rule())
    skeletonize_by_rule(width, height, image, passes);
  else
    skeletonize_by_table(width, height, image, passes);
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

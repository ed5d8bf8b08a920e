// Thinning of the ridge map's ridge (0x02) and valley (0x04) pixels, and
// the 1-3-8 level classes.
#include <cstdint>

#include "zylscan/matchlib_ridgemap.h"
#include "matchlib/filter/ridgemap_thinning.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint8_t kMarked = 0x80;

void thin(std::uint8_t* px, int h, int w, std::uint8_t bit) {
  if (!px || h <= 2 || w <= 2) return;
  const std::size_t stride = static_cast<std::size_t>(w);
  const std::uint8_t keep = static_cast<std::uint8_t>(~(kMarked | bit));
  // Ring offsets: east, north-east, north, north-west, west, south-west,
  // south, south-east (north is the row above).
  const std::ptrdiff_t s = static_cast<std::ptrdiff_t>(stride);
  const std::ptrdiff_t ring[8] = {1, 1 - s, -s, -s - 1, -1, s - 1, s, s + 1};
  bool marked_any = true;
  while (marked_any) {
    marked_any = false;
    for (int sub = 0; sub < 2; ++sub) {
      bool marked = false;
      for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
          std::uint8_t* p = px + y * stride + x;
          if (!(*p & bit)) continue;
          std::uint8_t r[9];
          for (int k = 0; k < 8; ++k) r[k] = (p[ring[k]] & bit) ? 1 : 0;
          r[8] = r[0];
          const int k_count = (!r[0] && (r[1] || r[2])) + (!r[2] && (r[3] || r[4])) +
                              (!r[4] && (r[5] || r[6])) + (!r[6] && (r[7] || r[0]));
          if (k_count != 1 || !zyl::matchlib::ridgemap_thin_neighbour_test(r)) continue;
          const bool side = sub == 0 ? (!r[0] || (!r[2] && !r[1] && r[7]))
                                     : (!r[4] || (!r[6] && !r[5] && r[3]));
          if (!side) continue;
          *p |= kMarked;
          marked = true;
        }
      if (marked) {
        for (int y = 1; y < h - 1; ++y)
          for (int x = 1; x < w - 1; ++x) {
            std::uint8_t& v = px[y * stride + x];
            if (v & kMarked) v &= keep;
          }
        marked_any = true;
      }
    }
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::ridgemap_thin_neighbour_test(const uint8_t* x) {
  const int p = (x[0] || x[1]) + (x[2] || x[3]) + (x[4] || x[5]) + (x[6] || x[7]);
  const int q = (x[1] || x[2]) + (x[3] || x[4]) + (x[5] || x[6]) + (x[7] || x[8]);
  const int m = p < q ? p : q;
  return m >= 2 && m <= 3;
}

void zyl::matchlib::ridgemap_thin_ridges(uint8_t* pixels, int height, int width) {
  thin(pixels, height, width, 0x02);
}

void zyl::matchlib::ridgemap_thin_valleys(uint8_t* pixels, int height, int width) {
  thin(pixels, height, width, 0x04);
}

extern "C" ZYL_API int level_class_125(int index, uint32_t value) {
  static constexpr uint32_t kStep[12] = {5,     10,     50,     100,    500,     1000,
                                         5000,  10000,  50000,  100000, 500000,  1000000};
  if (index < 1 || index > 12) return 0;
  const uint32_t v = value * kStep[index - 1];
  // Below 3 x 10^k the class is 3k, below 8 x 10^k it is 3k + 2.
  uint64_t decade = 1;
  for (int k = 0; k < 9; ++k, decade *= 10) {
    if (v < 3 * decade) return 3 * k;
    if (v < 8 * decade) return 3 * k + 2;
  }
  return 27;
}

extern "C" {

ZYL_API int ridgemap_thin_neighbour_test(const uint8_t* x) {
  return zyl::matchlib::ridgemap_thin_neighbour_test(x);
}
ZYL_API void ridgemap_thin_ridges(uint8_t* pixels, int height, int width) {
  zyl::matchlib::ridgemap_thin_ridges(pixels, height, width);
}
ZYL_API void ridgemap_thin_valleys(uint8_t* pixels, int height, int width) {
  zyl::matchlib::ridgemap_thin_valleys(pixels, height, width);
}

}  // extern "C"

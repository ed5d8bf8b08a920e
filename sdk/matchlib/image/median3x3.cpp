// 3x3 median filter in every pixel type. Border windows hold an even
// number of values and answer the mean of the two middle ones.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/image/median3x3.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_object.h"

namespace zyl::matchlib {
namespace {

// A column of three vertically adjacent values sorted once as it enters the
// sliding window.
template <class T>
struct Triple {
  T lo, mid, hi;
};

template <class T>
inline Triple<T> sorted_triple(T a, T b, T c) {
  sort2(a, b);
  sort2(b, c);
  sort2(a, b);
  return {a, b, c};
}

// Median of the 3x3 window made of three sorted column triples.
template <class T>
inline T window_median(const Triple<T>& a, const Triple<T>& b, const Triple<T>& c) {
  const T lo = std::max({a.lo, b.lo, c.lo});
  const T hi = std::min({a.hi, b.hi, c.hi});
  return median3(lo, median3(a.mid, b.mid, c.mid), hi);
}

// Output row of a window that spans the two rows a and b (first or last
// image row, or any row of a two-row image).
template <class T>
void two_row_medians(const T* a, const T* b, std::uint32_t w, T* out) {
  T v[6];
  for (std::uint32_t c = 0; c < w; ++c) {
    const std::uint32_t c0 = c ? c - 1 : 0, c1 = std::min(c + 1, w - 1);
    int n = 0;
    for (std::uint32_t k = c0; k <= c1; ++k) v[n++] = a[k], v[n++] = b[k];
    out[c] = middle_pair_mean(v, n);
  }
}

}  // namespace

template <class T>
int median3x3(const T* src, std::uint32_t h, std::uint32_t w, T* dst) {
  if (!src || !dst) return ML_BAD_ARGUMENT;
  if (h == 0 || w == 0) return ML_OK;  // nothing to filter
  if (h == 1 || w == 1) {
    if (src != dst) std::memmove(dst, src, pixel_count(h, w) * sizeof(T));
    return ML_OK;
  }
  RollingRows<T> rows(src, w, 1, same_buffer(src, dst));
  if (!rows.ok()) return ML_NO_MEMORY;
  for (std::uint32_t r = 0; r < h; ++r) {
    rows.enter(r);
    T* out = dst + static_cast<std::size_t>(r) * w;
    if (r == 0 || r == h - 1) {
      two_row_medians(rows.row(r), rows.row(r == 0 ? 1 : r - 1), w, out);
      continue;
    }
    const T* up = rows.row(r - 1);
    const T* mid = rows.row(r);
    const T* down = rows.row(r + 1);
    // First and last columns: two column triples, six values.
    for (std::uint32_t c : {0u, w - 1}) {
      const std::uint32_t k = c == 0 ? 1 : w - 2;
      T v[6] = {up[c], mid[c], down[c], up[k], mid[k], down[k]};
      out[c] = middle_pair_mean(v, 6);
    }
    Triple<T> left = sorted_triple(up[0], mid[0], down[0]);
    Triple<T> centre = sorted_triple(up[1], mid[1], down[1]);
    for (std::uint32_t c = 1; c + 1 < w; ++c) {
      const Triple<T> right = sorted_triple(up[c + 1], mid[c + 1], down[c + 1]);
      out[c] = window_median(left, centre, right);
      left = centre;
      centre = right;
    }
  }
  return ML_OK;
}

}  // namespace zyl::matchlib

#define ZYL_MEDIAN3X3(suffix, T)                                                                  \
  template int zyl::matchlib::median3x3<T>(const T*, uint32_t, uint32_t, T*);                     \
  extern "C" ZYL_API int filter_median3x3_##suffix(const T* src, uint32_t height, uint32_t width, \
                                                   T* dst) {                                      \
    return zyl::matchlib::median3x3<T>(src, height, width, dst);                                  \
  }
ZYL_MEDIAN3X3(u8, uint8_t)
ZYL_MEDIAN3X3(s8, int8_t)
ZYL_MEDIAN3X3(u16, uint16_t)
ZYL_MEDIAN3X3(s16, int16_t)
ZYL_MEDIAN3X3(u32, uint32_t)
ZYL_MEDIAN3X3(s32, int32_t)
#undef ZYL_MEDIAN3X3

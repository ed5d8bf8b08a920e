// Shared pieces of the raw-buffer pixel primitives: malloc-backed scratch
// buffers (a failed allocation is a status, never an exception), the
// rolling row copies that let a neighbourhood filter write over its own
// source, and the integer means the typed kernels share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "matchlib/core/allocation.h"

namespace zyl::matchlib {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Scratch memory of count elements, null when the allocation fails or the
// count does not fit a size_t.
template <class T>
class Scratch {
 public:
  Scratch() = default;
  explicit Scratch(std::size_t count, bool zeroed = false) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) return;
    const std::size_t bytes = count ? count * sizeof(T) : 1;
    p_.reset(static_cast<T*>(zeroed ? ml_calloc(bytes, 1) : ml_malloc(bytes)));
  }
  T* get() const { return p_.get(); }
  explicit operator bool() const { return p_ != nullptr; }
  T& operator[](std::size_t i) const { return p_.get()[i]; }
  // Hands the buffer to the caller, who frees it with free().
  T* release() { return p_.release(); }

 private:
  std::unique_ptr<T, FreeDeleter> p_;
};

inline std::size_t pixel_count(std::uint64_t height, std::uint64_t width) {
  return static_cast<std::size_t>(height * width);
}

// Copies of the last rows of a source that a filter overwrites row by row.
// Before output row r is written, enter(r) copies source row r into a ring
// of radius + 1 rows; row(y) then answers row y as it was before the call:
// the copy for y <= r (down to r - radius), the untouched source below.
// When the output is a different buffer no copies are needed.
template <class T>
class RollingRows {
 public:
  RollingRows(const T* src, std::uint32_t width, std::uint32_t radius, bool in_place)
      : src_(src), width_(width), slots_(radius + 1), in_place_(in_place) {
    if (in_place_) ring_ = Scratch<T>(static_cast<std::size_t>(slots_) * width_);
  }
  bool ok() const { return !in_place_ || static_cast<bool>(ring_); }
  void enter(std::uint32_t r) {
    if (in_place_)
      std::memcpy(slot(r), src_ + static_cast<std::size_t>(r) * width_, sizeof(T) * width_);
    current_ = r;
  }
  const T* row(std::uint32_t y) const {
    if (in_place_ && y <= current_) return slot(y);
    return src_ + static_cast<std::size_t>(y) * width_;
  }

 private:
  T* slot(std::uint32_t y) const {
    return ring_.get() + static_cast<std::size_t>(y % slots_) * width_;
  }
  const T* src_;
  std::uint32_t width_;
  std::uint32_t slots_;
  bool in_place_;
  std::uint32_t current_ = 0;
  Scratch<T> ring_;
};

// Whether two buffers are the same image (a filter working in place).
inline bool same_buffer(const void* a, const void* b) { return a == b; }

// Wide enough for sums of a few pixels of type T.
template <class T>
using WideOf = std::conditional_t<(sizeof(T) >= 4), std::int64_t, std::int32_t>;

// Mean of two values: rounded down for unsigned types, toward zero for
// signed ones; formed wide so no member overflows.
template <class T>
inline T mean2(T a, T b) {
  return static_cast<T>((static_cast<std::int64_t>(a) + static_cast<std::int64_t>(b)) / 2);
}

// Branch-free on purpose: on noisy pixels the comparison is unpredictable.
template <class T>
inline void sort2(T& a, T& b) {
  const T lo = b < a ? b : a;
  const T hi = b < a ? a : b;
  a = lo;
  b = hi;
}

template <class T>
inline T median3(T a, T b, T c) {
  sort2(a, b);
  sort2(b, c);
  sort2(a, b);
  return b;
}

// Median of five by a sorting network.
template <class T>
inline T median5(T a, T b, T c, T d, T e) {
  sort2(a, b);
  sort2(d, e);
  sort2(a, d);  // a is the smallest of a, b, d, e: not the median
  sort2(b, e);  // e is the largest of b, d, e: not the median
  // The median of the five is the median of the remaining b, c, d.
  return median3(b, c, d);
}

// Mean of the two middle values of n (4 or 6) values; v is reordered.
template <class T>
inline T middle_pair_mean(T* v, int n) {
  for (int i = 1; i < n; ++i)
    for (int j = i; j > 0 && v[j] < v[j - 1]; --j) sort2(v[j - 1], v[j]);
  return mean2(v[n / 2 - 1], v[n / 2]);
}

}  // namespace zyl::matchlib

// Shell sort with the library's fixed gap table, the int sorts built on it,
// and the expansion of per-index counts into an index list.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_support.h"
#include "matchlib/core/sorting.h"

using zyl::matchlib::ml_malloc;

namespace zyl::matchlib {
namespace {

constexpr int kGaps[] = {1391376, 463792, 198768, 86961, 33936, 13776, 4592, 1968,
                         861,     336,    112,    48,    21,    7,     3,     1};

}  // namespace
}  // namespace zyl::matchlib

void zyl::matchlib::shell_sort(void* base, int n, int record_size, RecordCompare compare) {
  if (!base || !compare || n < 2 || record_size <= 0) return;
  auto* p = static_cast<uint8_t*>(base);
  const std::size_t size = static_cast<std::size_t>(record_size);
  auto rec = [&](int i) { return p + static_cast<std::size_t>(i) * size; };
  for (int g : zyl::matchlib::kGaps) {
    if (g >= n) continue;
    for (int i = g; i < n; ++i)
      for (int h = i; h >= g && compare(rec(h - g), rec(h)) > 0; h -= g)
        std::swap_ranges(rec(h - g), rec(h - g) + size, rec(h));
  }
}

int zyl::matchlib::compare_i32_asc(const void* a, const void* b) {
  const int32_t x = *static_cast<const int32_t*>(a), y = *static_cast<const int32_t*>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

extern "C" ZYL_API int compare_i32_asc(const void* a, const void* b) {
  return zyl::matchlib::compare_i32_asc(a, b);
}

extern "C" ZYL_API int compare_i32_desc(const void* a, const void* b) {
  return -zyl::matchlib::compare_i32_asc(a, b);
}

extern "C" ZYL_API int sort_i32(int32_t* values, int n, int ascending) {
  if (!values) return ML_BAD_ARGUMENT;
  zyl::matchlib::shell_sort(values, n, 4, ascending ? ::compare_i32_asc : ::compare_i32_desc);
  return ML_OK;
}

extern "C" ZYL_API int index_list_from_counts(const int32_t* counts, int n, int64_t** out_list,
                                              int* out_total) {
  if (!counts || !out_list || !out_total) return ML_BAD_ARGUMENT;
  *out_list = nullptr;
  *out_total = 0;
  if (n <= 0) return ML_TOO_SHORT;
  // Only positive counts add entries, so only they count towards the total:
  // a negative count must not shrink the list below what is written into it.
  int64_t total = 0;
  for (int i = 0; i < n; ++i) total += std::max<int32_t>(counts[i], 0);
  if (total == 0) return ML_TOO_SHORT;
  if (total > INT32_MAX) return ML_BAD_ARGUMENT;
  *out_total = static_cast<int>(total);
  auto* list = static_cast<int64_t*>(ml_malloc(static_cast<std::size_t>(total) * sizeof(int64_t)));
  if (!list) return ML_NO_MEMORY;
  int64_t* w = list;
  for (int i = n - 1; i >= 0; --i) w = std::fill_n(w, std::max<int32_t>(counts[i], 0), i);
  *out_list = list;
  return ML_OK;
}

extern "C" {

ZYL_API void shell_sort(void* base, int n, int record_size, RecordCompare compare) {
  zyl::matchlib::shell_sort(base, n, record_size, compare);
}

}  // extern "C"

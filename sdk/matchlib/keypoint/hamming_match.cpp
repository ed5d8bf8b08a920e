// Hamming distances of keypoint descriptors: the one-to-many kernels, the
// list matching that keeps the best pairs of two point records, and the
// pair distances of the descriptor types.
#include "matchlib/keypoint/hamming_match.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_object.h"

namespace zyl::matchlib {
namespace {

std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// The probe after its transform, as up to four 64-bit words; `gallery_skip`
// is the byte offset of the compared half within each gallery descriptor
// (the upper half for the 64-bit distance with invert and swap).
struct Probe {
  std::uint64_t w[4] = {};
  std::size_t gallery_skip = 0;
};

Probe prepare(const std::uint8_t* probe, int words, int invert, int swap) {
  Probe p;
  for (int k = 0; k < words; ++k) p.w[k] = load64(probe + 8 * k);
  if (!invert) return p;
  for (int k = 0; k < words; ++k) p.w[k] = ~p.w[k];
  if (swap) {
    if (words == 1) p.gallery_skip = 8;
    if (words == 2) std::swap(p.w[0], p.w[1]);
    if (words == 4) {
      std::swap(p.w[0], p.w[2]);
      std::swap(p.w[1], p.w[3]);
    }
  }
  return p;
}

// The distances of the probe to `count` gallery descriptors for a fixed
// number of words. The kernel is compiled twice: plainly (the bit count is a
// library call on processors without one) and, on x86, for processors with
// the population-count instruction, which the matcher's inner loop is
// mostly made of. Both count the same bits, so they answer the same.
template <int Words>
[[gnu::always_inline]] inline void to_many(const Probe& p, const std::uint8_t* gallery,
                                           std::size_t stride, int count, std::uint8_t* out) {
  const std::uint8_t* g = gallery + p.gallery_skip;
  for (int c = 0; c < count; ++c, g += stride) {
    int d = 0;
    for (int k = 0; k < Words; ++k) d += __builtin_popcountll(p.w[k] ^ load64(g + 8 * k));
    // At most 64 bits a word: saturation matters for four words only.
    out[c] = static_cast<std::uint8_t>(Words < 4 ? d : std::min(d, 255));
  }
}

using ToMany = void (*)(const Probe&, const std::uint8_t*, std::size_t, int, std::uint8_t*);

template <int Words>
void to_many_plain(const Probe& p, const std::uint8_t* g, std::size_t stride, int count,
                   std::uint8_t* out) {
  to_many<Words>(p, g, stride, count, out);
}

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
template <int Words>
__attribute__((target("popcnt"))) void to_many_popcnt(const Probe& p, const std::uint8_t* g,
                                                        std::size_t stride, int count,
                                                        std::uint8_t* out) {
  to_many<Words>(p, g, stride, count, out);
}

bool have_popcnt() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("popcnt") != 0;
  }();
  return has;
}
#endif

// The kernel for 1, 2 or 4 words on this processor.
ToMany kernel_for(int words) {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
  if (have_popcnt()) {
    return words == 1 ? to_many_popcnt<1> : words == 2 ? to_many_popcnt<2> : to_many_popcnt<4>;
  }
#endif
  return words == 1 ? to_many_plain<1> : words == 2 ? to_many_plain<2> : to_many_plain<4>;
}

// The summed distances of list matching: for each of `count` gallery points
// (at 16-byte steps from each extension's array), the distances of the
// `compared` extensions added with saturation at 255 in extension order,
// as hamming_to_many on each extension followed by the saturating sum
// gives them (one or two words: a distance is at most 128, so it needs no
// saturation of its own).
// (Fixed is the number of extensions when it is 1 or 2, else 0 and
// `compared` says.)
template <int Words, int Fixed>
[[gnu::always_inline]] inline void summed(const Probe* p, const std::uint8_t* const* g, int compared,
                                          int count, int* d) {
  const int extensions = Fixed ? Fixed : compared;
  for (int c = 0; c < count; ++c) {
    int sum = 0;
    for (int e = 0; e < extensions; ++e) {
      const std::uint8_t* q = g[e] + 16 * static_cast<std::size_t>(c) + p[e].gallery_skip;
      int part = 0;
      for (int k = 0; k < Words; ++k) part += __builtin_popcountll(p[e].w[k] ^ load64(q + 8 * k));
      sum = e == 0 ? part : std::min(sum + part, 255);
    }
    d[c] = sum;
  }
}

using Summed = void (*)(const Probe*, const std::uint8_t* const*, int, int, int*);

template <int Words, int Fixed>
void summed_plain(const Probe* p, const std::uint8_t* const* g, int compared, int count, int* d) {
  summed<Words, Fixed>(p, g, compared, count, d);
}

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
template <int Words, int Fixed>
__attribute__((target("popcnt"))) void summed_popcnt(const Probe* p, const std::uint8_t* const* g,
                                                       int compared, int count, int* d) {
  summed<Words, Fixed>(p, g, compared, count, d);
}
#endif

template <template <int, int> class Pick>
Summed pick(int words, int compared) {
  if (words == 1) return compared == 1 ? Pick<1, 1>::f : compared == 2 ? Pick<1, 2>::f : Pick<1, 0>::f;
  return compared == 1 ? Pick<2, 1>::f : compared == 2 ? Pick<2, 2>::f : Pick<2, 0>::f;
}
template <int W, int F>
struct Plain {
  static constexpr Summed f = summed_plain<W, F>;
};
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
template <int W, int F>
struct Popcnt {
  static constexpr Summed f = summed_popcnt<W, F>;
};
#endif

// The summing kernel for 1 or 2 words and that many extensions on this
// processor.
Summed summed_for(int words, int compared) {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
  if (have_popcnt()) return pick<Popcnt>(words, compared);
#endif
  return pick<Plain>(words, compared);
}

}  // namespace

// The form the kernels replace, kept as the reference of the tests: any
// number of words, std::popcount, saturation at 255 for every count.
void hamming_to_many_reference(const std::uint8_t* probe, const std::uint8_t* gallery,
                               std::size_t stride, int words, int count, int invert, int swap,
                               std::uint8_t* out) {
  const Probe p = prepare(probe, words, invert, swap);
  for (int c = 0; c < count; ++c) {
    const std::uint8_t* g = gallery + stride * c + p.gallery_skip;
    int d = 0;
    for (int k = 0; k < words; ++k) d += std::popcount(p.w[k] ^ load64(g + 8 * k));
    out[c] = static_cast<std::uint8_t>(std::min(d, 255));
  }
}

void hamming_to_many(const std::uint8_t* probe, const std::uint8_t* gallery, std::size_t stride,
                     int words, int count, int invert, int swap, std::uint8_t* out) {
  if (words != 1 && words != 2 && words != 4) {
    hamming_to_many_reference(probe, gallery, stride, words, count, invert, swap, out);
    return;
  }
  const Probe p = prepare(probe, words, invert, swap);
  kernel_for(words)(p, gallery, stride, count, out);
}

void update_bests(MatchBests& bests, std::uint32_t probe, std::uint32_t start,
                  std::span<const int> d, bool gallery_ties_replace) {
  if (d.empty()) return;
  int best = d[0];
  std::uint32_t best_at = start;
  for (std::size_t k = 0; k < d.size(); ++k) {
    const std::uint32_t j = start + static_cast<std::uint32_t>(k);
    const int stored = bests.gallery_best[j];
    if (d[k] < stored || (gallery_ties_replace && d[k] == stored)) {
      bests.gallery_best[j] = static_cast<std::uint16_t>(d[k]);
      bests.gallery_match[j] = static_cast<std::int16_t>(probe);
    }
    if (d[k] < best) {
      best = d[k];
      best_at = j;
    }
  }
  if (best < bests.probe_best[probe]) {
    bests.probe_best[probe] = static_cast<std::uint16_t>(best);
    bests.probe_match[probe] = static_cast<std::int16_t>(best_at);
  }
}

int check_lists(std::uint32_t probe, std::uint32_t start, std::uint32_t count,
                const BlockRecord* a, const BlockRecord* b, const MatchBests* bests) {
  if (!a || !b || !bests || !bests->probe_best || !bests->gallery_best || !bests->probe_match ||
      !bests->gallery_match)
    return ML_BAD_ARGUMENT;
  if (count == 0) return ML_OK;
  const auto points_a = static_cast<std::uint64_t>(std::max(a->point_count, 0));
  const auto points_b = static_cast<std::uint64_t>(std::max(b->point_count, 0));
  if (probe >= points_a || std::uint64_t{start} + count > points_b) return ML_BAD_ARGUMENT;
  return ML_OK;
}

const std::uint8_t* extension_array(const BlockRecord* record, std::uint32_t type_id,
                                    std::uint32_t size) {
  if (!record) return nullptr;
  const int n = std::clamp<int>(record->extension_type_count, 0, BLOCKREC_MAX_EXTENSIONS);
  for (int k = 0; k < n; ++k) {
    const DescriptorType* t = record->extension_types[k];
    if (t && t->type_id == type_id) return t->size() == size ? record->extension_arrays[k] : nullptr;
  }
  return nullptr;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

namespace {

constexpr std::size_t kDesc = 16;

// 64-bit words compared per mode: 1 (64-bit), 2 (128-bit), 4 (256-bit,
// where the caller allows it), 0 for a refused mode.
int words_for(int mode, bool allow256) {
  if (mode == 0 || mode == 0x80) return 2;
  if (mode == 64) return 1;
  if (mode == 256 && allow256) return 4;
  return 0;
}

int pair16(int i, int j, int count, const std::uint8_t* a, const std::uint8_t* b, int mode,
           int invert, int swap, bool allow256, std::uint8_t* out) {
  const int words = words_for(mode, allow256);
  if (!words) return ML_WRONG_KIND;
  if (count <= 0) return ML_OK;
  if (!a || !b || !out || i < 0 || j < 0) return ML_BAD_ARGUMENT;
  const std::size_t stride = words == 4 ? 32 : kDesc;
  hamming_to_many(a + kDesc * i, b + kDesc * j, stride, words, count, invert, swap, out);
  return ML_OK;
}

}  // namespace

extern "C" ZYL_API uint32_t desc16_get(const uint8_t* array, int index, uint8_t* destination) {
  if (destination && array && index >= 0) std::memcpy(destination, array + kDesc * index, kDesc);
  return kDesc;
}

extern "C" ZYL_API uint32_t desc16_put(const uint8_t* source, uint8_t* array, int index) {
  if (!source || !array || index < 0) return 0;
  std::memcpy(array + kDesc * index, source, kDesc);
  return kDesc;
}

extern "C" ZYL_API void hamming64_to_many(const uint8_t* probe, const uint8_t* gallery, int count,
                                          int invert, int swap, uint8_t* out) {
  hamming_to_many(probe, gallery, kDesc, 1, count, invert, swap, out);
}

extern "C" ZYL_API void hamming128_to_many(const uint8_t* probe, const uint8_t* gallery, int count,
                                           int invert, int swap, uint8_t* out) {
  hamming_to_many(probe, gallery, kDesc, 2, count, invert, swap, out);
}

extern "C" ZYL_API void hamming256_to_many(const uint8_t* probe, const uint8_t* gallery, int count,
                                           int invert, int swap, uint8_t* out) {
  hamming_to_many(probe, gallery, 32, 4, count, invert, swap, out);
}

int zyl::matchlib::desc_match_lists(uint32_t probe, uint32_t start, uint32_t count, int invert,
                                    int swap, int mode, const BlockRecord* a, const BlockRecord* b,
                                    MatchBests* bests) {
  const int words = words_for(mode, false);
  if (!words) return ML_WRONG_KIND;
  const bool combined = a && a->extension_type_count >= 2 && a->extension_arrays[1];
  if (combined && (invert || swap)) return ML_WRONG_KIND;
  if (const int st = check_lists(probe, start, count, a, b, bests); st || count == 0) return st;

  // A's extensions in order (up to the first empty one), each against B's
  // extension of the same 16-byte type; extensions without such a partner
  // add nothing.
  const std::uint8_t* arrays_a[BLOCKREC_MAX_EXTENSIONS];
  const std::uint8_t* arrays_b[BLOCKREC_MAX_EXTENSIONS];
  int compared = 0;
  const int extensions =
      combined ? std::clamp<int>(a->extension_type_count, 1, BLOCKREC_MAX_EXTENSIONS) : 1;
  for (int e = 0; e < extensions && a->extension_arrays[e]; ++e) {
    const DescriptorType* t = a->extension_types[e];
    const std::uint8_t* pa = t ? extension_array(a, t->type_id, kDesc) : nullptr;
    const std::uint8_t* pb = t ? extension_array(b, t->type_id, kDesc) : nullptr;
    if (!pa || !pb) continue;
    arrays_a[compared] = pa;
    arrays_b[compared++] = pb;
  }
  if (compared == 0) return ML_BAD_ARGUMENT;

  // Runs of at most 64 gallery points keep the distances on the stack; the
  // distances of all extensions are summed in one pass over the run (see
  // summed(), the same sums as hamming_to_many per extension gives).
  constexpr std::uint32_t kRun = 64;
  int d[kRun];
  Probe probes[BLOCKREC_MAX_EXTENSIONS];
  for (int e = 0; e < compared; ++e) probes[e] = prepare(arrays_a[e] + kDesc * probe, words, invert, swap);
  const Summed sum = summed_for(words, compared);
  const std::uint8_t* run[BLOCKREC_MAX_EXTENSIONS];
  for (std::uint32_t done = 0; done < count; done += kRun) {
    const std::uint32_t n = std::min(kRun, count - done);
    const std::uint32_t s = start + done;
    for (int e = 0; e < compared; ++e) run[e] = arrays_b[e] + kDesc * s;
    sum(probes, run, compared, static_cast<int>(n), d);
    update_bests(*bests, probe, s, std::span<const int>(d, n), true);
  }
  return ML_OK;
}

extern "C" ZYL_API int desc_pair_distance(int i, int j, int count, const uint8_t* a,
                                          const uint8_t* b, int mode, int invert, uint8_t* out) {
  return pair16(i, j, count, a, b, mode, invert, 0, true, out);
}

extern "C" ZYL_API int desc_pair_distance_sym(int i, int j, int count, const uint8_t* a,
                                              const uint8_t* b, int mode, int invert,
                                              uint8_t* out) {
  return pair16(i, j, count, a, b, mode, invert, 1, true, out);
}

int zyl::matchlib::desc8_distance(int i, int j, int count, const uint8_t* a, const uint8_t* b, int,
                                  int invert, uint8_t* out) {
  if (count <= 0) return ML_OK;
  if (!a || !b || !out || i < 0 || j < 0) return ML_BAD_ARGUMENT;
  static constexpr std::uint8_t kZero[kDesc] = {};
  if (!std::memcmp(a + kDesc * i, kZero, kDesc) || !std::memcmp(b + kDesc * j, kZero, kDesc)) {
    out[0] = 64;
    return ML_OK;
  }
  return pair16(i, j, count, a, b, 0, invert, 0, false, out);
}

namespace zyl::matchlib {

int desc4_pair_distance(int i, int j, int count, const std::uint8_t* a, const std::uint8_t* b,
                        int mode, int invert, std::uint8_t* out) {
  return pair16(i, j, count, a, b, mode, invert, 0, false, out);
}

}  // namespace zyl::matchlib

extern "C" {

ZYL_API int desc_match_lists(uint32_t probe, uint32_t start, uint32_t count, int invert, int swap,
                             int mode, const BlockRecord* a, const BlockRecord* b,
                             MatchBests* bests) {
  return zyl::matchlib::desc_match_lists(probe, start, count, invert, swap, mode, a, b, bests);
}
ZYL_API int desc8_distance(int i, int j, int count, const uint8_t* a, const uint8_t* b, int arg5,
                           int invert, uint8_t* out) {
  return zyl::matchlib::desc8_distance(i, j, count, a, b, arg5, invert, out);
}

}  // extern "C"

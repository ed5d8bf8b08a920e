// The ten static descriptor type records, their selection from a flag word,
// and the 8-byte operations of type 0x10.
#include <algorithm>
#include <cstring>
#include <vector>

#include "matchlib/keypoint/descriptor_compute.h"
#include "matchlib/keypoint/descriptor_patterns.h"
#include "matchlib/keypoint/hamming_match.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/keypoint/descriptor_types.h"

using namespace zyl::matchlib;

namespace {

constexpr std::uint32_t kShort = 8;

std::uint32_t size16() { return 16; }
std::uint32_t size8() { return kShort; }
std::uint32_t size0() { return 0; }

// Pattern ids: the CRC-32 of the sampling pattern's bytes, which stored
// extensions carry so that a reader can refuse descriptors made with other
// patterns. Type 0x4 samples no pattern and answers 1.
template <const std::int8_t* Pattern, std::size_t Bytes>
std::uint32_t pattern() {
  return pattern_crc(Pattern, Bytes);
}
std::uint32_t no_pattern() { return 1; }

std::uint32_t get8(const std::uint8_t* array, int index, std::uint8_t* destination) {
  if (destination && array && index >= 0) std::memcpy(destination, array + kShort * index, kShort);
  return kShort;
}

std::uint32_t put8(const std::uint8_t* source, std::uint8_t* array, int index) {
  if (!source || !array || index < 0) return 0;
  std::memcpy(array + kShort * index, source, kShort);
  return kShort;
}

// Type 0x10: 64-bit distance of the 8-byte descriptors whatever the mode,
// invert and swap ignored; a gallery point changes hands only on a strictly
// smaller distance.
int match_lists8(std::uint32_t probe, std::uint32_t start, std::uint32_t count, int, int, int,
                 const BlockRecord* a, const BlockRecord* b, MatchBests* bests) {
  if (const int st = check_lists(probe, start, count, a, b, bests); st || count == 0) return st;
  const std::uint8_t* pa = extension_array(a, 0x10, kShort);
  const std::uint8_t* pb = extension_array(b, 0x10, kShort);
  if (!pa || !pb) return ML_BAD_ARGUMENT;
  constexpr std::uint32_t kRun = 64;
  int d[kRun];
  std::uint8_t part[kRun];
  for (std::uint32_t done = 0; done < count; done += kRun) {
    const std::uint32_t n = std::min(kRun, count - done);
    hamming_to_many(pa + kShort * probe, pb + kShort * (start + done), kShort, 1,
                    static_cast<int>(n), 0, 0, part);
    std::copy_n(part, n, d);
    update_bests(*bests, probe, start + done, std::span<const int>(d, n), false);
  }
  return ML_OK;
}

int pair_distance8(int i, int j, int count, const std::uint8_t* a, const std::uint8_t* b, int,
                   int invert, std::uint8_t* out) {
  if (count != 1 || invert) return ML_WRONG_KIND;
  if (!a || !b || !out || i < 0 || j < 0) return ML_BAD_ARGUMENT;
  hamming_to_many(a + kShort * i, b + kShort * j, kShort, 1, 1, 0, 0, out);
  return ML_OK;
}

template <std::uint32_t Id, std::uint32_t Variant, ComputeFn Compute, const std::int8_t* Pattern,
          int (*Distance)(int, int, int, const std::uint8_t*, const std::uint8_t*, int, int,
                          std::uint8_t*)>
constexpr DescriptorType pattern_type() {
  return {Id,
          Variant,
          Compute,
          size16,
          desc16_get,
          desc16_put,
          ::desc_match_lists,
          Distance,
          pattern<Pattern, 512>,
          size16};
}

// In the fixed selection order.
constexpr DescriptorType kTypes[DESC_TYPE_COUNT] = {
    {0x10, 0, compute_rotated_pairs, size8, get8, put8, match_lists8, pair_distance8,
     pattern<kPattern10, 256>, size8},
    // Type 0x8 has no list matching and is not counted by the pair matcher.
    {0x8, 0, compute_fixed_pairs, size16, desc16_get, desc16_put, nullptr, ::desc8_distance,
     pattern<kPattern8, 512>, size0},
    {0x4, 0, compute_texture_code, size16, desc16_get, desc16_put, ::desc_match_lists,
     desc4_pair_distance, no_pattern, size16},
    pattern_type<0x2, 0, compute_pairs_2, kPattern2, desc_pair_distance>(),
    pattern_type<0x20, 3, compute_pairs_20, kPattern20, desc_pair_distance_sym>(),
    pattern_type<0x200, 1, compute_pairs_200, kPattern200, desc_pair_distance>(),
    pattern_type<0x400, 0, compute_pairs_400, kPattern400, desc_pair_distance>(),
    pattern_type<0x800, 3, compute_pairs_800, kPattern800, desc_pair_distance_sym>(),
    pattern_type<0x1000, 0, compute_pairs_1000, kPattern1000, desc_pair_distance>(),
    pattern_type<0x2000, 0, compute_spectral, kPattern2000, desc_pair_distance>(),
};

}  // namespace

int zyl::matchlib::desc_types_select(const DescriptorType** list, uint32_t flags) {
  if (!list) return 0;
  int n = 0;
  for (const DescriptorType& t : kTypes)
    if (flags & t.type_id) list[n++] = &t;
  list[n] = nullptr;
  return n;
}

extern "C" {

ZYL_API int desc_types_select(const DescriptorType** list, uint32_t flags) {
  return zyl::matchlib::desc_types_select(list, flags);
}

}  // extern "C"

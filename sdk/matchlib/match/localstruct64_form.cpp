// The 64-minutia local-structure form of a card template: neighbours of
// each minutia by distance, their angles relative to the minutia, and the
// checks a comparison makes before it trusts a stored form.
#include "zylscan/matchlib_localstruct.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "matchlib/match/localstruct_neighbours.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"

namespace {

using zyl::matchlib::kLocalFarSquared;
using zyl::matchlib::kLocalNearSquared;

struct Neighbour {
  std::uint8_t index;
  std::uint8_t angle;
  std::uint16_t distance;
};

// Neighbours of minutia i: other minutiae within the distance band; past
// 24, a nearer (or as near) one replaces the first farthest kept.
int collect(const CompactMinutia* m, int n, int i, Neighbour out[LOCALSTRUCT64_MAX_NEIGHBOURS]) {
  int c = 0;
  for (int j = 0; j < n; ++j) {
    if (j == i) continue;
    const int dx = m[i].x - m[j].x, dy = m[i].y - m[j].y;
    const int sq = dx * dx + dy * dy;
    if (sq < kLocalNearSquared || sq > kLocalFarSquared) continue;
    const Neighbour nb{static_cast<std::uint8_t>(j),
                       static_cast<std::uint8_t>(m[i].direction -
                                                 fx_atan2_s16(static_cast<std::int16_t>(dx),
                                                              static_cast<std::int16_t>(dy))),
                       static_cast<std::uint16_t>(fx_isqrt16(static_cast<std::uint16_t>(sq)))};
    zyl::matchlib::keep_nearest(out, c, LOCALSTRUCT64_MAX_NEIGHBOURS, nb);
  }
  // Shell sort by neighbour index, gaps c / 2, c / 4, ..., 1.
  for (int gap = c / 2; gap > 0; gap /= 2)
    for (int k = gap; k < c; ++k)
      for (int l = k; l >= gap && out[l - gap].index > out[l].index; l -= gap) std::swap(out[l - gap], out[l]);
  return c;
}

void write_record(const Neighbour* nb, int c, std::uint8_t* rec) {
  std::memset(rec, 0, LOCALSTRUCT64_RECORD);
  rec[0] = static_cast<std::uint8_t>(c);
  for (int k = 0; k < c; ++k) {
    rec[1 + k] = nb[k].angle;
    rec[25 + nb[k].index / 8] |= static_cast<std::uint8_t>(1u << (nb[k].index % 8));
  }
}

}  // namespace

ZYL_API int localstruct64_copy(uint8_t* output, uint16_t offset, const uint8_t* source, uint16_t length) {
  if (std::uint32_t{offset} + length > LOCALSTRUCT64_SIZE || !output || (!source && length)) return 1;
  if (length) std::memmove(output + offset, source, length);
  return 0;
}

ZYL_API int localstruct64_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                  uint32_t card_length, uint8_t* output, uint16_t output_size,
                                  uint16_t* out_length, LocalStructCopy copy) {
  if (!work || !out_length || (!copy && work != output)) return ML_BAD_ARGUMENT;
  if (output_size < LOCALSTRUCT64_SIZE) {
    *out_length = LOCALSTRUCT64_SIZE;
    return ML_NO_MEMORY;
  }
  if (work_size <= 1025) return ML_NO_MEMORY;
  *out_length = 0;
  const bool in_place = work == output;
  // Records that fit after the head form one batch.
  const int batch = work_size - LOCALSTRUCT64_HEAD > 2144
                        ? LOCALSTRUCT64_MAX_MINUTIAE
                        : (work_size - LOCALSTRUCT64_HEAD) / LOCALSTRUCT64_RECORD;
  std::memset(work, 0, LOCALSTRUCT64_HEAD);
  CompactMinutia m[LOCALSTRUCT64_MAX_MINUTIAE] = {};
  std::uint32_t n = 0;
  int has_quality = 0;
  if (const int st = card_read_minutiae(card, card_length, LOCALSTRUCT64_MAX_MINUTIAE, 1,
                                        work + LOCALSTRUCT64_HEAD, m, &n, &has_quality))
    return st;
  n = std::min<std::uint32_t>(n, LOCALSTRUCT64_MAX_MINUTIAE);
  work[0] = static_cast<std::uint8_t>(n);
  std::memcpy(work + 1, m, 4 * n);
  work[257] = has_quality ? 1 : 0;
  if (!in_place && copy(output, 0, work, LOCALSTRUCT64_HEAD)) return ML_CORRUPT;
  int sent = 0, held = 0;
  for (int k = 0; k < static_cast<int>(n); ++k) {
    Neighbour nb[LOCALSTRUCT64_MAX_NEIGHBOURS];
    const int c = collect(m, static_cast<int>(n), k, nb);
    const int slot = in_place ? k : held;
    write_record(nb, c, work + LOCALSTRUCT64_HEAD + LOCALSTRUCT64_RECORD * slot);
    ++held;
    if (!in_place && (held == batch || k + 1 == static_cast<int>(n))) {
      if (copy(output, static_cast<std::uint16_t>(LOCALSTRUCT64_HEAD + LOCALSTRUCT64_RECORD * sent),
               work + LOCALSTRUCT64_HEAD, static_cast<std::uint16_t>(LOCALSTRUCT64_RECORD * held)))
        return ML_CORRUPT;
      sent += held;
      held = 0;
    }
  }
  *out_length = static_cast<std::uint16_t>(LOCALSTRUCT64_HEAD + LOCALSTRUCT64_RECORD * n);
  return ML_OK;
}

ZYL_API int localstruct64_form_check(const uint8_t* form, uint32_t length) {
  if (!form || length < LOCALSTRUCT64_HEAD) return ML_CORRUPT;
  const int n = form[0];
  if (n > LOCALSTRUCT64_MAX_MINUTIAE || length < LOCALSTRUCT64_HEAD + LOCALSTRUCT64_RECORD * std::uint32_t(n))
    return ML_CORRUPT;
  for (int k = 0; k < n; ++k) {
    const std::uint8_t* rec = form + LOCALSTRUCT64_HEAD + LOCALSTRUCT64_RECORD * k;
    std::uint64_t set = 0;
    for (int b = 0; b < 8; ++b) set |= std::uint64_t{rec[25 + b]} << (8 * b);
    // A neighbour index names a minutia of this form.
    if (n < 64 && (set >> n) != 0) return ML_CORRUPT;
    if (rec[0] > LOCALSTRUCT64_MAX_NEIGHBOURS || std::popcount(set) != rec[0]) return ML_CORRUPT;
  }
  return ML_OK;
}

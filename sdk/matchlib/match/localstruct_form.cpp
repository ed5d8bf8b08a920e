// The packed local-structure forms of a card template (64 minutiae with 24
// neighbours each, 46 minutiae with 20): neighbours of each minutia by
// distance, their angles relative to the minutia, and the checks a
// comparison makes before it trusts a stored form.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/match/localstruct_layout.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/match/localstruct_form.h"
#include "matchlib/template/card_template.h"

namespace {

using zyl::matchlib::FormLayout;
using zyl::matchlib::kForm46;
using zyl::matchlib::kForm64;
using zyl::matchlib::kLocalFarSquared;
using zyl::matchlib::kLocalNearSquared;

constexpr int kMaxNeighbours = LOCALSTRUCT64_MAX_NEIGHBOURS;

struct Neighbour {
  std::uint8_t index;
  std::uint8_t angle;
  std::uint16_t distance;
};

// Neighbours of minutia i: other minutiae within the distance band; past
// `limit`, a nearer (or as near) one replaces the first farthest kept.
int collect(const CompactMinutia* m, int n, int i, int limit, Neighbour out[kMaxNeighbours]) {
  int c = 0;
  for (int j = 0; j < n; ++j) {
    if (j == i) continue;
    const int dx = m[i].x - m[j].x, dy = m[i].y - m[j].y;
    const int sq = dx * dx + dy * dy;
    if (sq < kLocalNearSquared || sq > kLocalFarSquared) continue;
    const Neighbour nb{
        static_cast<std::uint8_t>(j),
        static_cast<std::uint8_t>(m[i].direction -
                                  zyl::matchlib::fx_atan2_s16(static_cast<std::int16_t>(dx),
                                                              static_cast<std::int16_t>(dy))),
        static_cast<std::uint16_t>(zyl::matchlib::fx_isqrt16(static_cast<std::uint16_t>(sq)))};
    zyl::matchlib::keep_nearest(out, c, limit, nb);
  }
  // Shell sort by neighbour index, gaps c / 2, c / 4, ..., 1.
  for (int gap = c / 2; gap > 0; gap /= 2)
    for (int k = gap; k < c; ++k)
      for (int l = k; l >= gap && out[l - gap].index > out[l].index; l -= gap) std::swap(out[l - gap], out[l]);
  return c;
}

void write_record(const FormLayout& f, const Neighbour* nb, int c, std::uint8_t* rec) {
  std::memset(rec, 0, f.record());
  rec[0] = static_cast<std::uint8_t>(c);
  for (int k = 0; k < c; ++k) {
    rec[1 + k] = nb[k].angle;
    rec[f.set_at() + nb[k].index / 8] |= static_cast<std::uint8_t>(1u << (nb[k].index % 8));
  }
}

// How one form is packed: its layout, the minutiae reader's reduce flag,
// the smallest work area (exclusive) and the work size past which all
// records fit one batch.
struct Packing {
  FormLayout form;
  int reduce;
  int work_floor;
  int whole_batch_above;
};

constexpr Packing kPack64{kForm64, 1, 1025, 258 + 2144};
constexpr Packing kPack64Unreduced{kForm64, 0, 1025, 258 + 2144};
constexpr Packing kPack46{kForm46, 0, 953, 1454};

// Builds the form's head and records in the work area and hands them to
// the output through `copy` in batches; built in place (nothing copied)
// when the work area is the output itself.
int pack(const Packing& p, uint8_t* work, uint16_t work_size, const uint8_t* card, uint32_t card_length,
         uint8_t* output, uint16_t output_size, uint16_t* out_length, LocalStructCopy copy) {
  const FormLayout& f = p.form;
  if (!work || !out_length || (!copy && work != output)) return ML_BAD_ARGUMENT;
  if (output_size < f.size()) {
    *out_length = static_cast<uint16_t>(f.size());
    return ML_NO_MEMORY;
  }
  if (work_size <= p.work_floor) return ML_NO_MEMORY;
  *out_length = 0;
  const bool in_place = work == output;
  // Records that fit after the head form one batch.
  const int batch = work_size > p.whole_batch_above ? f.max_minutiae : (work_size - f.head()) / f.record();
  std::memset(work, 0, f.head());
  CompactMinutia m[LOCALSTRUCT64_MAX_MINUTIAE] = {};
  std::uint32_t n = 0;
  int has_quality = 0;
  if (const int st = zyl::matchlib::card_read_minutiae(
          card, card_length, static_cast<std::uint32_t>(f.max_minutiae), p.reduce, work + f.head(),
          m, &n, &has_quality))
    return st;
  n = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(f.max_minutiae));
  work[0] = static_cast<std::uint8_t>(n);
  std::memcpy(work + 1, m, 4 * n);
  work[f.quality_at()] = has_quality ? 1 : 0;
  if (!in_place && copy(output, 0, work, static_cast<std::uint16_t>(f.head()))) return ML_CORRUPT;
  int sent = 0, held = 0;
  for (int k = 0; k < static_cast<int>(n); ++k) {
    Neighbour nb[kMaxNeighbours];
    const int c = collect(m, static_cast<int>(n), k, f.neighbours, nb);
    const int slot = in_place ? k : held;
    write_record(f, nb, c, work + f.head() + f.record() * slot);
    ++held;
    if (!in_place && (held == batch || k + 1 == static_cast<int>(n))) {
      if (copy(output, static_cast<std::uint16_t>(f.head() + f.record() * sent), work + f.head(),
               static_cast<std::uint16_t>(f.record() * held)))
        return ML_CORRUPT;
      sent += held;
      held = 0;
    }
  }
  *out_length = static_cast<std::uint16_t>(f.head() + f.record() * static_cast<int>(n));
  return ML_OK;
}

}  // namespace

extern "C" ZYL_API int localstruct64_copy(uint8_t* output, uint16_t offset, const uint8_t* source,
                                          uint16_t length) {
  if (std::uint32_t{offset} + length > LOCALSTRUCT64_SIZE || !output || (!source && length)) return 1;
  if (length) std::memmove(output + offset, source, length);
  return 0;
}

int zyl::matchlib::localstruct64_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                         uint32_t card_length, uint8_t* output,
                                         uint16_t output_size, uint16_t* out_length,
                                         LocalStructCopy copy) {
  return pack(kPack64, work, work_size, card, card_length, output, output_size, out_length, copy);
}

int zyl::matchlib::localstruct64_prepare_unreduced(uint8_t* work, uint16_t work_size,
                                                   const uint8_t* card, uint32_t card_length,
                                                   uint8_t* output, uint16_t output_size,
                                                   uint16_t* out_length, LocalStructCopy copy) {
  return pack(kPack64Unreduced, work, work_size, card, card_length, output, output_size, out_length, copy);
}

int zyl::matchlib::localstruct46_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                         uint32_t card_length, uint8_t* output,
                                         uint16_t output_size, uint16_t* out_size,
                                         LocalStructCopy copy) {
  return pack(kPack46, work, work_size, card, card_length, output, output_size, out_size, copy);
}

extern "C" ZYL_API int localstruct46_prepare_alt(uint8_t* work, uint16_t work_size,
                                                 const uint8_t* card, uint32_t card_length,
                                                 uint8_t* output, uint16_t output_size,
                                                 uint16_t* out_size, LocalStructCopy copy) {
  return zyl::matchlib::localstruct46_prepare(work, work_size, card, card_length, output,
                                              output_size, out_size, copy);
}

extern "C" ZYL_API int localstruct64_form_check(const uint8_t* form, uint32_t length) {
  return zyl::matchlib::form_valid(kForm64, LOCALSTRUCT64_MAX_NEIGHBOURS, form, length) ? ML_OK : ML_CORRUPT;
}

extern "C" ZYL_API int localstruct46_form_check(const uint8_t* form, uint32_t length) {
  return zyl::matchlib::form_valid(kForm46, LOCALSTRUCT46_MAX_NEIGHBOURS, form, length) ? ML_OK : ML_CORRUPT;
}

extern "C" {

ZYL_API int localstruct64_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                  uint32_t card_length, uint8_t* output, uint16_t output_size,
                                  uint16_t* out_length, LocalStructCopy copy) {
  return zyl::matchlib::localstruct64_prepare(work, work_size, card, card_length, output,
                                              output_size, out_length, copy);
}
ZYL_API int localstruct64_prepare_unreduced(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                            uint32_t card_length, uint8_t* output,
                                            uint16_t output_size, uint16_t* out_length,
                                            LocalStructCopy copy) {
  return zyl::matchlib::localstruct64_prepare_unreduced(work, work_size, card, card_length, output,
                                                        output_size, out_length, copy);
}
ZYL_API int localstruct46_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                  uint32_t card_length, uint8_t* output, uint16_t output_size,
                                  uint16_t* out_size, LocalStructCopy copy) {
  return zyl::matchlib::localstruct46_prepare(work, work_size, card, card_length, output,
                                              output_size, out_size, copy);
}

}  // extern "C"

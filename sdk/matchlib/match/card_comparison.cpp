// Card comparison: a probe card template against card references, the way
// a card would compare them, in caller buffers only. One reference template
// gives a 30-entry score vector (local-structure matcher, bounded grid-map
// comparison, qualities) that the parameter element's score table folds
// into one score; the first pass stops at the first template whose score
// exceeds its group's threshold, the second recomputes that template from
// a fresh copy of the probe. The card verification builds every byte
// string from templates and drives both passes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "matchlib/image/blob.h"
#include "matchlib/template/card_params.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/match/match_result.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/card_comparison.h"
#include "matchlib/match/gridmap_bounded.h"
#include "matchlib/match/card_reference.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib::card {
namespace {

constexpr uint16_t kCard = 0x7F2E;
constexpr int32_t kCardTemplateFormat = 67;
constexpr int32_t kMultiViewFormat = 80;
constexpr int kGridScoreAt = 9;  // the bounded grid comparison writes from here on
constexpr uint32_t kKeyPartSize = 0x76eb441e;
constexpr uint32_t kKeyRewrap = 0xbf15e9c0;
constexpr uint32_t kKeyAlgorithmWord = 0x48caf8b4;
constexpr uint32_t kKeyTableSet = 0x27410a62;
constexpr uint32_t kKeyListReduction = 0xa5f67fc5;
constexpr int kMaxPartSize = 65520;
constexpr int kLevelTracking = 28;

using Bytes = std::unique_ptr<uint8_t, decltype(&std::free)>;
using Blob = Ref<DataBlob>;

// A located reference part: its EF element, group mode and class byte.
struct Group {
  TlvElement ef{};
  int mode = 0;
  uint8_t class_byte = 0;
  const uint8_t* templates = nullptr;  // the children after C0
  uint32_t templates_length = 0;
};

enum class Located { yes, no, corrupt };

// Part n as a reference group. A part that cannot be located holds no
// templates (an empty reference is EF { C0 mode } without the top bit).
// The mode selects one of ten lists and a bit of the mask: stored modes 0
// and 11-15 would index past them and are refused.
Located read_group(const uint8_t* const* parts, const uint32_t* sizes, int k, int n, Group& g) {
  g = Group{};
  if (zyl::matchlib::card_read_params_header(parts, sizes, k, n, &g.ef) != ML_OK)
    return Located::no;
  TlvElement c0{};
  const uint32_t head = zyl::matchlib::tlv_read_element(g.ef.value, &c0, g.ef.length);
  g.mode = c0.value[0] & 0x0F;
  if (g.mode < 1 || g.mode > CARD_GROUPS) return Located::corrupt;
  g.class_byte = c0.length >= 2 ? c0.value[1] : 0;
  g.templates = g.ef.value + head;
  g.templates_length = g.ef.length - head;
  return Located::yes;
}

// Template `index` (in stored order) of a group: the value of its EE child.
bool template_at(const Group& g, int index, TlvElement& out) {
  const uint8_t* at = g.templates;
  const uint8_t* end = g.templates + g.templates_length;
  for (int i = 0; at < end;) {
    TlvElement e{};
    const uint32_t n = zyl::matchlib::tlv_read_element(at, &e, static_cast<uint32_t>(end - at));
    if (!n) return false;
    at += n;
    if (e.tag != 0xEE) continue;
    if (i++ == index) {
      out = e;
      return true;
    }
  }
  return false;
}

// Number of parts the parameter element announces (part 0 included).
int part_count(const uint8_t* const* parts, const uint32_t* sizes, int k) {
  TlvElement p0{}, c0{};
  if (zyl::matchlib::card_read_params_header(parts, sizes, k, 0, &p0) != ML_OK) return 0;
  zyl::matchlib::tlv_read_element(p0.value, &c0, p0.length);
  return be16(c0.value + 3);
}

int isqrt16(uint32_t v) {
  return static_cast<int>(
      zyl::matchlib::fx_isqrt16(static_cast<uint16_t>(std::min<uint32_t>(v, 65535))));
}

// The local-structure matcher the card flags select, on the packed
// reference form.
int run_matcher(uint32_t flags, uint8_t* work, uint32_t work_size, const uint8_t* form,
                uint32_t form_length, const uint8_t* probe, uint32_t probe_length,
                CardMatchResult* result, CardAlignment* alignment, int option) {
  const bool alternative = flags & CARD_ALTERNATIVE;
  const bool form64 = (flags & CARD_PACKING_MASK) == 1;
  const uint16_t room = static_cast<uint16_t>(std::min<uint32_t>(work_size, 0xFFFF));
  auto* matcher = alternative && form64 ? localstruct64_compare_unreduced
                  : alternative         ? localstruct46_compare_alt
                  : form64              ? localstruct64_compare_compact
                                        : localstruct46_compare;
  return matcher(work, room, form, form_length, probe, probe_length, result, alignment, option);
}

// Copies a batch of the 46-minutia form into the packing room; the form
// never passes its 1428 bytes, a batch that would is refused.
int copy_into_packing_room(uint8_t* output, uint16_t offset, const uint8_t* source, uint16_t length) {
  if (uint32_t{offset} + length > CARD_PACKING_ROOM) return 1;
  std::memcpy(output + offset, source, length);
  return 0;
}

// The reference's packed form: pre-packed (forms 1, 2), or packed now into
// the packing room (form 0).
int reference_form(uint32_t flags, const uint8_t* reference, uint32_t reference_length,
                   const TlvElement& packed, uint8_t* work, uint32_t work_size,
                   uint8_t* packing_room, const uint8_t** form, uint32_t* form_length) {
  const int packing = flags & CARD_PACKING_MASK;
  if (packing != 0) {
    if (!packed.value) return ML_NOTHING_TO_COMPARE;
    *form = packed.value;
    *form_length = packed.length;
    return ML_OK;
  }
  // Packed while comparing: a pre-packed element means the reference was
  // built for another packing form.
  for (int other = 1; other <= 2; ++other) {
    TlvElement e{};
    zyl::matchlib::card_find_probe_elements(reference, reference_length, other, &e, nullptr,
                                            nullptr, nullptr);
    if (e.value) return ML_CORRUPT;
  }
  if (!packing_room) return ML_BAD_ARGUMENT;
  auto* prepare = (flags & CARD_ALTERNATIVE) ? localstruct46_prepare_alt : ::localstruct46_prepare;
  uint16_t size = 0;
  if (const int st = prepare(work, static_cast<uint16_t>(std::min<uint32_t>(work_size, 0xFFFF)),
                             reference, reference_length, packing_room, CARD_PACKING_ROOM, &size,
                             copy_into_packing_room))
    return st;
  if (size <= LOCALSTRUCT46_HEAD || packing_room[0] == 0) return ML_NOTHING_TO_COMPARE;
  *form = packing_room;
  *form_length = size;
  return ML_OK;
}

// The folded score of a vector and its group's threshold. With the
// alternative set a probe without grid map is scored by the 9-entry table.
int fold(const CardProbeSetup& s, bool alternative_scoring, const uint16_t* v, uint8_t class_byte,
         uint32_t& score, uint32_t& threshold) {
  score = 0;
  int st = ML_OK;
  if (alternative_scoring) {
    if (v[0])
      st = zyl::matchlib::card_score_weighted_sum(s.alt_table, CARD_ALT_TABLE_ENTRIES, v, &score);
  } else if (v[0] || v[kGridScoreAt]) {
    st = zyl::matchlib::card_score_weighted_sum(s.table, CARD_TABLE_ENTRIES, v, &score);
  }
  if (st != ML_OK) return st;
  return zyl::matchlib::card_group_threshold(
      class_byte, alternative_scoring ? s.alt_thresholds : s.thresholds, &threshold);
}

// Pre-selection: a group's list of L slots {template index, similarity},
// ordered by descending similarity; 0xFF marks a free slot.
void list_insert(uint8_t* list, int L, int index, int similarity) {
  int at = 0;
  while (at < L && list[2 * at] != 0xFF && list[2 * at + 1] >= similarity) ++at;
  if (at == L) return;  // full of better (or equal, earlier) templates
  std::memmove(list + 2 * (at + 1), list + 2 * at, 2 * static_cast<size_t>(L - 1 - at));
  list[2 * at] = static_cast<uint8_t>(index);
  list[2 * at + 1] = static_cast<uint8_t>(similarity);
}

int fill_lists(const uint8_t* const* parts, const uint32_t* sizes, int k, int N,
               const CardProbeSetup& s, const TlvElement& probe_map, uint8_t* lists) {
  const int L = s.list_length;
  std::memset(lists, 0xFF, static_cast<size_t>(L) * 2 * CARD_GROUPS);
  const bool alternative = s.algorithm_word & CARD_ALTERNATIVE;
  for (int n = 1; n < N; ++n) {
    Group g;
    const Located at = read_group(parts, sizes, k, n, g);
    if (at == Located::corrupt) return ML_CORRUPT;
    if (at == Located::no || !(s.mode_mask >> g.mode & 1)) continue;
    uint8_t* list = lists + 2 * static_cast<size_t>(L) * (g.mode - 1);
    TlvElement t{};
    // Indices are stored in a byte whose 0xFF means free.
    for (int i = 0; i < 0xFF && template_at(g, i, t); ++i) {
      TlvElement map{};
      zyl::matchlib::card_find_probe_elements(t.value, t.length, 0, nullptr, nullptr, nullptr,
                                              &map);
      if (!map.value) continue;
      int similarity = 0;
      if (probe_map.value) {
        uint16_t h[2] = {0, 0};
        if (zyl::matchlib::gridmap_histogram_similarity_card(map.value, map.length, probe_map.value,
                                                             probe_map.length, h) != ML_OK)
          return ML_CORRUPT;
        const int D = 3 * h[1] + 2 * h[0];
        similarity = D >= 1024 ? 255 : D >> 2;
      } else if (!alternative) {
        // Without the alternative set a probe without grid map compares
        // nothing: there is nothing to rank.
        continue;
      }
      list_insert(list, L, i, similarity);
    }
  }
  return ML_OK;
}

struct PassResult {
  int decision = 0;
  uint32_t max_score = 0, best_score = 0;
  int index = -1, mode = 0;
};

// What both passes read first: the probe placed and part 0's tables.
struct Opened {
  CardProbeSetup s{};
  bool alternative_scoring = false;
  int parts = 0;
};

int open_pass(const uint8_t* const* parts, const uint32_t* sizes, int k, uint8_t* buffer,
              uint32_t buffer_size, uint32_t offset, Opened& o) {
  if (buffer_size < offset) return ML_CORRUPT;
  if (const int st =
          zyl::matchlib::card_parse_reference(parts, sizes, k, buffer, buffer_size, offset, &o.s))
    return st;
  TlvElement probe_map{};
  if (zyl::matchlib::card_find_probe_elements(o.s.probe, o.s.probe_length, 0, nullptr, nullptr,
                                              nullptr, &probe_map))
    return ML_CORRUPT;
  o.alternative_scoring = (o.s.algorithm_word & CARD_ALTERNATIVE) && !probe_map.value;
  o.parts = part_count(parts, sizes, k);
  return ML_OK;
}

// One reference template's folded score and its group's threshold: 0; 7
// when there is nothing to compare; another failure.
int score_template(const Opened& o, const Group& g, const TlvElement& t, uint8_t* work,
                   uint32_t work_size, uint32_t& score, uint32_t& threshold) {
  uint16_t v[CARD_SCORE_ENTRIES];
  const int st =
      zyl::matchlib::card_compare_core(t.value, t.length, work, work_size, o.s.probe,
                                       o.s.probe_length, o.s.option_word, o.s.packing_room, v);
  if (st != ML_OK) return st;
  return fold(o.s, o.alternative_scoring, v, g.class_byte, score, threshold);
}

int first_pass(const uint8_t* const* parts, const uint32_t* sizes, int k, uint8_t* buffer,
               uint32_t buffer_size, uint32_t offset, PassResult& r) {
  Opened o;
  if (const int st = open_pass(parts, sizes, k, buffer, buffer_size, offset, o)) return st;
  const CardProbeSetup& s = o.s;
  const int L = s.list_length;
  uint8_t* work = s.work;
  uint32_t work_size = s.work_size;
  const uint8_t* lists = nullptr;
  if (s.algorithm_word & CARD_PRESELECT) {
    const uint32_t need = static_cast<uint32_t>(L) * 2 * CARD_GROUPS;
    if (work_size < need) return ML_CORRUPT;
    TlvElement probe_map{};
    zyl::matchlib::card_find_probe_elements(s.probe, s.probe_length, 0, nullptr, nullptr, nullptr,
                                            &probe_map);
    if (const int st = fill_lists(parts, sizes, k, o.parts, s, probe_map, work)) return st;
    lists = work;
    work += need;
    work_size -= need;
  }
  for (int rank = 0; rank < L; ++rank) {
    bool found = false;
    for (int n = 1; n < o.parts; ++n) {
      Group g;
      const Located at = read_group(parts, sizes, k, n, g);
      if (at == Located::corrupt) return ML_CORRUPT;
      if (at == Located::no || !(s.mode_mask >> g.mode & 1)) continue;
      int index = rank;
      if (lists) {
        const uint8_t* slot = lists + 2 * (static_cast<size_t>(L) * (g.mode - 1) + rank);
        if (slot[0] == 0xFF) continue;
        index = slot[0];
      }
      TlvElement t{};
      if (!template_at(g, index, t)) continue;
      found = true;
      uint32_t score = 0, threshold = 0;
      const int st = score_template(o, g, t, work, work_size, score, threshold);
      if (st == ML_NOTHING_TO_COMPARE) continue;
      if (st != ML_OK) return st;
      r.max_score = std::max(r.max_score, score);
      if (score > threshold) {
        r.decision = 1;
        r.mode = g.mode;
        r.index = index;
        r.best_score = score;
        return ML_OK;
      }
    }
    if (!found) break;
  }
  return ML_OK;
}

int second_pass(const uint8_t* const* parts, const uint32_t* sizes, int k, uint8_t* buffer,
                uint32_t buffer_size, uint32_t offset, int index, int mode, bool& accepted,
                uint32_t& out_score) {
  accepted = false;
  out_score = 0;
  Opened o;
  if (const int st = open_pass(parts, sizes, k, buffer, buffer_size, offset, o)) return st;
  // The parts of the mode in order, as the first pass met them: the first
  // whose template passes decides, else the last one compared. When several
  // parts share the group mode the first pass stopped at the first part
  // whose template passed, so the check stops there too: going on to a later
  // part of the same mode would recompute another template's score, which
  // the first pass never reported and the caller compares against.
  for (int n = 1; n < o.parts; ++n) {
    Group g;
    const Located at = read_group(parts, sizes, k, n, g);
    if (at == Located::corrupt) return ML_CORRUPT;
    TlvElement t{};
    if (at == Located::no || g.mode != mode || !template_at(g, index, t)) continue;
    uint32_t score = 0, threshold = 0;
    const int st = score_template(o, g, t, o.s.work, o.s.work_size, score, threshold);
    if (st == ML_NOTHING_TO_COMPARE) continue;
    if (st != ML_OK) return st;
    out_score = score;
    if (score > threshold) {
      accepted = true;
      break;
    }
  }
  return ML_OK;
}

// The probe reduced to 7F2E { A1 } (its minutiae alone).
int rewrap_probe(const uint8_t* probe, uint32_t length, Bytes& out, uint32_t& out_length) {
  const uint16_t path[2] = {kCard, 0xA1};
  TlvElement a1{};
  Bytes inner(static_cast<uint8_t*>(ml_malloc(length)), &std::free);
  Bytes outer(static_cast<uint8_t*>(ml_malloc(length)), &std::free);
  if (!inner || !outer) return ML_NO_MEMORY;
  uint32_t n = 0;
  if (zyl::matchlib::tlv_find_path(probe, length, path, 2, &a1) == 1) {
    a1.tag = 0xA1;
    n = zyl::matchlib::tlv_write_element(inner.get(), &a1);
  }
  const TlvElement card{n, kCard, inner.get()};
  out_length = zyl::matchlib::tlv_write_element(outer.get(), &card);
  if (!out_length) return ML_CORRUPT;
  out = std::move(outer);
  return ML_OK;
}

// Both passes over one gallery template's byte strings.
int verify_one(const DataBlob* params, const DataBlob* reference, const uint8_t* probe,
               uint32_t probe_length, PassResult& r) {
  const uint8_t* parts[2] = {zyl::matchlib::blob_data(params), zyl::matchlib::blob_data(reference)};
  const uint32_t sizes[2] = {zyl::matchlib::blob_size(params), zyl::matchlib::blob_size(reference)};
  const uint32_t size = probe_length + CARD_VERIFY_ROOM;
  Bytes buffer(static_cast<uint8_t*>(ml_malloc(size)), &std::free);
  if (!buffer) return ML_NO_MEMORY;
  std::memcpy(buffer.get(), probe, probe_length);
  const int st = first_pass(parts, sizes, 2, buffer.get(), size, 0, r);
  if (r.decision != 1) return st != ML_OK ? ML_CORRUPT : ML_OK;
  std::memcpy(buffer.get(), probe, probe_length);
  bool accepted = false;
  uint32_t score = 0;
  const int again = second_pass(parts, sizes, 2, buffer.get(), size, 0, r.index, r.mode, accepted, score);
  // The two passes must agree on the same template.
  if (again != ML_OK || !accepted || score != r.best_score) return ML_CORRUPT;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib::card

using namespace zyl::matchlib::card;

int zyl::matchlib::card_compare_core(const uint8_t* reference, uint32_t reference_length,
                                     uint8_t* work, uint32_t work_size, const uint8_t* probe,
                                     uint32_t probe_length, uint16_t option_word,
                                     uint8_t* packing_room, uint16_t* scores) {
  if (!reference || !work || !probe || !scores) return ML_BAD_ARGUMENT;
  uint16_t* v = scores;
  std::fill(v, v + CARD_SCORE_ENTRIES, 0);
  const uint32_t word = flags();
  TlvElement packed{}, ref_map{}, probe_map{};
  uint8_t ref_quality = 0, probe_quality = 0;
  int8_t ref_origin[2] = {0, 0}, probe_origin[2] = {0, 0};
  if (zyl::matchlib::card_find_probe_elements(reference, reference_length, word & CARD_PACKING_MASK,
                                              &packed, &ref_quality, ref_origin, &ref_map))
    return ML_CORRUPT;
  const uint8_t* form = nullptr;
  uint32_t form_length = 0;
  if (const int st = reference_form(word, reference, reference_length, packed, work, work_size,
                                    packing_room, &form, &form_length))
    return st;
  if (!ref_map.value) return ML_NOTHING_TO_COMPARE;

  CardMatchResult match{};
  match.kind = CARD_RESULT_KIND;
  CardAlignment alignment{};
  const int option = (option_word & 1) | 2;  // bit 1: fill the sub-values
  const int st = run_matcher(word, work, work_size, form, form_length, probe, probe_length, &match,
                             &alignment, option);
  if (st != ML_OK) return match.count == 1 || match.count == 9 ? st : ML_CORRUPT;
  if (match.count != 1 && match.count != 9) return ML_CORRUPT;
  v[0] = match.score;
  if (match.count == 9) std::copy(match.sub, match.sub + 8, v + 1);

  if (zyl::matchlib::card_find_probe_elements(probe, probe_length, 0, nullptr, &probe_quality,
                                              probe_origin, &probe_map))
    return ML_CORRUPT;
  if (!probe_map.value) {
    // Only the alternative set scores a probe without grid map (by the
    // local structures alone).
    return word & CARD_ALTERNATIVE ? ML_OK : ML_NOTHING_TO_COMPARE;
  }

  // The matcher's offsets are in 0.1 mm; the maps' origins put both maps'
  // corners into the images' frames.
  const int d = alignment.angle;
  const int t1 = alignment.dx * 197 / 100, t2 = alignment.dy * 197 / 100;
  const int s = zyl::matchlib::fx_sin256(d), c = zyl::matchlib::fx_cos256(d);
  const int r0 = ref_origin[0], r1 = ref_origin[1], p0 = probe_origin[0], p1 = probe_origin[1];
  GridAlignment grid{static_cast<uint8_t>(d), t1 + ((r1 * c - r0 * s) >> 14) - p1,
                     t2 + ((r1 * s + r0 * c) >> 14) - p0};
  uint16_t* g = v + kGridScoreAt;
  g[0] = 0;
  g[1] = GRIDMAP_DETAIL_KIND;
  g[2] = 0;
  const int gs = zyl::matchlib::gridmap_match_bounded(
      work, work_size, ref_map.value, ref_map.length, probe_map.value, probe_map.length, 0, g,
      nullptr, &grid, (option_word & 1) ? 29 : 25);
  // An invalid map scores 0 with no sub-values; too little work room or an
  // oversized probe map cannot be compared.
  if (gs != ML_OK && gs != ML_WRONG_KIND) return ML_CORRUPT;
  const uint32_t grid_score = g[0];
  std::memmove(v + 10, v + 12, 16 * sizeof(uint16_t));
  v[26] = v[27] = 0;
  // Qualities are percentages: larger stored bytes count as 100.
  const int qr = std::min<int>(ref_quality, 100), qp = std::min<int>(probe_quality, 100);
  const int qmax = std::max(qr, qp);
  const int B = isqrt16(static_cast<uint32_t>(std::max(qmax, 60)) * 144);
  v[9] = static_cast<uint16_t>(std::min<uint32_t>(grid_score * 232 / static_cast<uint32_t>((B * 25 + 6) / 12), 0xFFFF));
  v[28] = static_cast<uint16_t>(std::abs(qr - qp));
  v[29] = static_cast<uint16_t>(isqrt16(static_cast<uint32_t>(100 - qmax) << 6));
  return ML_OK;
}

extern "C" ZYL_API int card_compare_reference(const uint8_t* const* parts, const uint32_t* sizes,
                                              int k, uint8_t* buffer, uint32_t buffer_size,
                                              uint32_t offset, int* decision, uint32_t* max_score,
                                              int* template_index, int* group_mode,
                                              uint32_t* best_score) {
  if (!decision) return ML_BAD_ARGUMENT;
  PassResult r;
  const int st = first_pass(parts, sizes, k, buffer, buffer_size, offset, r);
  *decision = r.decision;
  if (max_score) *max_score = r.max_score;
  if (template_index) *template_index = r.index;
  if (group_mode) *group_mode = r.mode;
  if (best_score) *best_score = r.best_score;
  return st;
}

extern "C" ZYL_API int card_compare_recheck(const uint8_t* const* parts, const uint32_t* sizes,
                                            int k, uint8_t* buffer, uint32_t buffer_size,
                                            uint32_t offset, int* decision, int template_index,
                                            int group_mode, uint32_t* score) {
  if (!decision || !score || *decision == 0) return ML_BAD_ARGUMENT;
  bool accepted = false;
  const int st = second_pass(parts, sizes, k, buffer, buffer_size, offset, template_index,
                             group_mode, accepted, *score);
  if (!accepted) *decision = 0;
  return st;
}

int zyl::matchlib::card_verify_gallery(MatchEngine* engine, DataBlob* const* gallery, int count,
                                       DataBlob* probe, int level, MatchResult* result) {
  if (!engine || !probe || !result || count < 0 || (count > 0 && !gallery)) return ML_BAD_ARGUMENT;
  MatchContext* ctx = zyl::matchlib::engine_get_context(engine);
  const int part_size = std::clamp<int32_t>(
      zyl::matchlib::param_get(ctx, kKeyPartSize, kMaxPartSize), 0, kMaxPartSize);
  const bool rewrap = zyl::matchlib::param_get(ctx, kKeyRewrap, 0) != 0;
  const uint16_t option_word = zyl::matchlib::param_get_360(ctx) ? 1 : 0;
  const bool tracking = level >= kLevelTracking;
  const int compare_level = tracking ? kLevelTracking - 1 : level;
  result->decision = 0;
  for (int i = 0; i < count; ++i) {
    if (!gallery[i] || zyl::matchlib::blob_type(gallery[i]) != kMultiViewFormat ||
        zyl::matchlib::blob_type(probe) != kCardTemplateFormat)
      return ML_WRONG_KIND;
    // The algorithm word: the thread's card flags unless the context says
    // otherwise.
    uint8_t info[13];
    uint32_t info_size = 0;
    uint16_t fields[5] = {};
    zyl::matchlib::card_get_algorithm_info(nullptr, nullptr, 0, info, sizeof info, &info_size);
    zyl::matchlib::card_parse_params(info, info_size, fields);
    const uint16_t word =
        static_cast<uint16_t>(zyl::matchlib::param_get(ctx, kKeyAlgorithmWord, fields[0]));
    if ((word >> 8) != CARD_ALGORITHM_ID) return ML_WRONG_KIND;

    const int list_length = 32 - zyl::matchlib::param_get(ctx, kKeyListReduction, 32);
    DataBlob* raw = nullptr;
    const ScoreProfile* const* profiles = zyl::matchlib::engine_get_score_profiles(engine);
    int st = profiles && profiles[0] ? zyl::matchlib::card_params_from_engine(
                                           engine, word, 2, 1024, static_cast<uint16_t>(part_size),
                                           compare_level, option_word, list_length, &raw)
                                     : zyl::matchlib::card_params_from_tables(
                                           word, zyl::matchlib::param_get(ctx, kKeyTableSet, 0), 2,
                                           1024, static_cast<uint16_t>(part_size), compare_level,
                                           option_word, list_length, &raw);
    const Blob params = Blob::adopt(raw);
    // No parameter element (the profiles or tables do not supply one):
    // there is nothing to compare with.
    if (st == ML_WRONG_KIND || (st == ML_OK && !params)) st = ML_CORRUPT;
    if (st != ML_OK) return st;
    int templates = 0;
    raw = nullptr;
    st = zyl::matchlib::card_reference_from_mvt(word, gallery[i], 2,
                                                static_cast<uint32_t>(part_size), &raw, &templates);
    const Blob reference = Blob::adopt(raw);
    if (st != ML_OK) return st;
    raw = nullptr;
    st = zyl::matchlib::card_probe_from_template(word, probe, &raw, 0);
    const Blob probe_form = Blob::adopt(raw);
    if (st != ML_OK) return st;
    const uint8_t* probe_bytes = zyl::matchlib::blob_data(probe_form.get());
    uint32_t probe_length = zyl::matchlib::blob_size(probe_form.get());
    Bytes reduced(nullptr, &std::free);
    if (rewrap) {
      if ((st = rewrap_probe(probe_bytes, probe_length, reduced, probe_length))) return st;
      probe_bytes = reduced.get();
    }
    PassResult r;
    if ((st = verify_one(params.get(), reference.get(), probe_bytes, probe_length, r))) return st;

    const uint32_t M = tracking ? r.max_score : 0;
    const bool keep = result->score != 0 && result->score >= M;
    if (!keep) {
      result->score = static_cast<uint16_t>(M);
      result->best_candidate = i;
      result->best_view = r.index;
      zyl::matchlib::match_result_set_indices(result, nullptr, 0);
    }
    if (r.decision == 1) {
      result->decision = 1;
      zyl::matchlib::xform_release(result->transform);
      result->transform = nullptr;
      return ML_OK;
    }
  }
  return ML_OK;
}

extern "C" ZYL_API int card_verify_op(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                      DataBlob* probe, GrayImage* image, int level,
                                      MatchResult* result) {
  if (image) return ML_WRONG_KIND;
  if (!probe) return ML_BAD_ARGUMENT;
  return zyl::matchlib::card_verify_gallery(engine, gallery, count, probe, level, result);
}

extern "C" ZYL_API int card_score_op(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                     DataBlob* probe, MatchResult* result) {
  if (!probe) return ML_BAD_ARGUMENT;
  const int st =
      zyl::matchlib::card_verify_gallery(engine, gallery, count, probe, kLevelTracking, result);
  if (st == ML_OK) result->best_raw_score = result->score;
  return st;
}

extern "C" {

ZYL_API int card_compare_core(const uint8_t* reference, uint32_t reference_length, uint8_t* work,
                              uint32_t work_size, const uint8_t* probe, uint32_t probe_length,
                              uint16_t option_word, uint8_t* packing_room, uint16_t* scores) {
  return zyl::matchlib::card_compare_core(reference, reference_length, work, work_size, probe,
                                          probe_length, option_word, packing_room, scores);
}
ZYL_API int card_verify_gallery(MatchEngine* engine, DataBlob* const* gallery, int count,
                                DataBlob* probe, int level, MatchResult* result) {
  return zyl::matchlib::card_verify_gallery(engine, gallery, count, probe, level, result);
}

}  // extern "C"

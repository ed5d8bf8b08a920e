// Card comparison parameter element: score tables folded from linear score
// models, the decision thresholds of one false-accept level, the header
// word; the readers that locate the parts of a comparison input; the
// thread's card flags word.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "matchlib/template/card_params.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/tlv_tree.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/score_model.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib::card {

namespace {
thread_local uint32_t t_card_flags = 0;
}  // namespace

uint32_t flags() { return t_card_flags; }
void set_flags(uint32_t word) { t_card_flags = word; }

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
int32_t be32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
                              p[3]);
}
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v >> 16);
  put16(p + 2, v);
}

int locate_part(const uint8_t* const* parts, const uint32_t* sizes, int k, int n, const uint8_t** start,
                uint32_t* size) {
  *start = nullptr;
  *size = 0;
  if (!parts || !sizes || !parts[0] || n < 0) return ML_CORRUPT;
  // Part 0: EF whose first child is C0 of more than 8 bytes starting 0x80.
  TlvElement ef{}, c0{};
  if (!zyl::matchlib::tlv_read_element(parts[0], &ef, sizes[0]) || ef.tag != 0xEF ||
      !zyl::matchlib::tlv_read_element(ef.value, &c0, ef.length) || c0.tag != 0xC0 ||
      c0.length <= 8 || c0.value[0] != 0x80)
    return ML_CORRUPT;
  const uint32_t N = be16(c0.value + 3), S0 = be16(c0.value + 5), S = be16(c0.value + 7);
  if ((k >= 2 && static_cast<uint32_t>(k) != N) || static_cast<uint32_t>(n) >= N) return ML_CORRUPT;
  if (n == 0) {
    *start = parts[0];
    *size = std::min(S0, sizes[0]);
  } else if (k >= 2) {
    if (!parts[n]) return ML_CORRUPT;
    *start = parts[n];
    *size = std::min(S, sizes[n]);
  } else {
    // One buffer: part n at S0 + S (n - 1), within the buffer.
    const uint64_t at = uint64_t{S0} + uint64_t{S} * (n - 1);
    if (at >= sizes[0]) return ML_CORRUPT;
    *start = parts[0] + at;
    *size = static_cast<uint32_t>(std::min<uint64_t>(S, sizes[0] - at));
  }
  return ML_OK;
}

namespace {

int bit_length(uint64_t v) {
  int n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

int64_t clamp64(__int128 v) {
  return static_cast<int64_t>(
      std::clamp<__int128>(v, INT64_MIN, INT64_MAX));
}

using Tree = std::unique_ptr<TlvNode, decltype(&zyl::matchlib::tlv_node_free)>;

void thresholds_at(const FarThresholdTable& t, int level, uint8_t* out15) {
  out15[0] = static_cast<uint8_t>(level);
  for (int c = 0; c < FAR_CLASS_COUNT; ++c) put16(out15 + 1 + 2 * c, t.t[c][level]);
}

}  // namespace
}  // namespace zyl::matchlib::card

using namespace zyl::matchlib::card;
using zyl::matchlib::tlv_add_child;

extern "C" ZYL_API uint32_t card_flags_get(void) { return flags(); }

uint8_t zyl::matchlib::card_class_byte(uint32_t n) {
  if (n < 2) return 0;
  static constexpr uint32_t kBound[7] = {1, 2, 4, 8, 16, 32, 64};
  int b = 1;
  while (b < 6 && n > kBound[b]) ++b;
  if (n > kBound[6]) return 0;  // never built: more than 64 templates are refused
  const uint32_t c = 32 * (kBound[b] - n) / (kBound[b] - kBound[b - 1]);
  return static_cast<uint8_t>(c << 3 | static_cast<uint32_t>(b));
}

int zyl::matchlib::card_group_threshold(uint8_t class_byte, const uint16_t* thresholds,
                                        uint32_t* out_threshold) {
  if (!thresholds || !out_threshold) return ML_BAD_ARGUMENT;
  *out_threshold = 0;
  const int b = class_byte & 7, c = class_byte >> 3;
  // Seven classes: index 7 would read past the thresholds.
  if (b == 7) return ML_CORRUPT;
  *out_threshold = b == 0 ? thresholds[0]
                          : (uint32_t{thresholds[b - 1]} * c + uint32_t{thresholds[b]} * (32 - c)) >> 5;
  return ML_OK;
}

int zyl::matchlib::card_score_table_build(const ScoreLinearRow* rows, int n, uint8_t* out) {
  if (!rows || !out || (n != CARD_TABLE_ENTRIES && n != CARD_ALT_TABLE_ENTRIES))
    return ML_BAD_ARGUMENT;
  int64_t B = 0;
  for (int i = 0; i < n; ++i) B += std::abs(int{rows[i].weight});
  if (B == 0) return ML_CORRUPT;  // no weight: the table would divide by zero
  __int128 offset = 0;
  for (int i = 0; i < n; ++i) {
    const ScoreLinearRow& r = rows[i];
    const int64_t sd = r.spread ? r.spread : 1;
    // 128-bit intermediates: a small spread would carry the 64-bit form over.
    const int64_t F = clamp64((__int128{r.weight} << 47) / sd * 65536 / B);
    offset += __int128{F} * r.mean / (1 << 18);
    const uint64_t mag = F < 0 ? (F == INT64_MIN ? uint64_t{1} << 63 : uint64_t(-F)) : uint64_t(F);
    int G = 0;
    int64_t H = F;
    if (mag > 0x7FFFFFFFu) {
      G = bit_length(mag >> 31);
      H = F >> G;
    }
    if (G > 32) return ML_CORRUPT;
    uint8_t* e = out + CARD_TABLE_ENTRY_SIZE * i;
    put16(e, r.minimum);
    put16(e + 2, r.maximum);
    put32(e + 4, static_cast<uint32_t>(static_cast<int32_t>(H)));
    e[8] = 0;
    e[9] = static_cast<uint8_t>(G);
  }
  const int64_t off = clamp64(offset >> 30);
  put32(out + CARD_TABLE_ENTRY_SIZE * n,
        static_cast<uint32_t>(static_cast<int32_t>(std::clamp<int64_t>(off, INT32_MIN, INT32_MAX))));
  return ML_OK;
}

int zyl::matchlib::card_score_weighted_sum(const uint8_t* table, int n, const uint16_t* scores,
                                           uint32_t* out_score) {
  if (!table || !scores || !out_score || (n != CARD_TABLE_ENTRIES && n != CARD_ALT_TABLE_ENTRIES))
    return ML_BAD_ARGUMENT;
  *out_score = 0;
  uint32_t acc = 0;  // 32-bit accumulator: sums wrap as the card's arithmetic does
  for (int i = 0; i < n; ++i) {
    const uint8_t* e = table + CARD_TABLE_ENTRY_SIZE * i;
    const int G = e[9];
    // Exponents past 27 shift the other way; past 32 they are no table of ours.
    if (G > 32) return ML_CORRUPT;
    const int64_t v = std::min<int64_t>(be16(e + 2), std::max<int64_t>(be16(e), scores[i]));
    const int64_t p = int64_t{be32(e + 4)} * v;
    const int64_t term = G <= 27 ? p >> (27 - G) : static_cast<int64_t>(static_cast<uint64_t>(p) << (G - 27));
    acc += static_cast<uint32_t>(term);
  }
  const int64_t offset = be32(table + CARD_TABLE_ENTRY_SIZE * n);
  const int64_t r = (static_cast<int64_t>(static_cast<int32_t>(acc)) >> 5) - offset + 4096;
  *out_score = static_cast<uint32_t>(std::clamp<int64_t>(r, 0, 65535));
  return ML_OK;
}

int zyl::matchlib::card_params_from_models(uint16_t algorithm_word, const ScoreLinearRow* rows30,
                                           const FarThresholdTable* thresholds,
                                           const ScoreLinearRow* rows9,
                                           const FarThresholdTable* alt_thresholds,
                                           uint16_t table_tag, uint16_t part_count,
                                           uint16_t part0_size, uint16_t part_size, int level,
                                           uint16_t option_word, int list_length, DataBlob** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (level < 0 || level >= FAR_LEVEL_COUNT || list_length < 0 || list_length > 255)
    return ML_BAD_ARGUMENT;
  const bool alt = algorithm_word & CARD_ALTERNATIVE;
  if (!rows30 || !thresholds || (alt && (!rows9 || !alt_thresholds)) ||
      (table_tag != 0xC4 && table_tag != 0xC1))
    return ML_BAD_ARGUMENT;
  uint8_t c0[9], table[304], c2[15], c3[3], table9[94], c6[15];
  if (zyl::matchlib::card_score_table_build(rows30, CARD_TABLE_ENTRIES, table) != ML_OK)
    return ML_CORRUPT;
  if (alt && zyl::matchlib::card_score_table_build(rows9, CARD_ALT_TABLE_ENTRIES, table9) != ML_OK)
    return ML_CORRUPT;
  c0[0] = 0x80;
  put16(c0 + 1, algorithm_word);
  put16(c0 + 3, part_count);
  put16(c0 + 5, part0_size);
  put16(c0 + 7, part_size);
  thresholds_at(*thresholds, level, c2);
  put16(c3, option_word);
  c3[2] = static_cast<uint8_t>(list_length);
  if (alt) thresholds_at(*alt_thresholds, level, c6);

  Tree root(zyl::matchlib::tlv_node_create(0xEF, 0, nullptr), &zyl::matchlib::tlv_node_free);
  if (!root || !tlv_add_child(root.get(), 0xC0, c0, 9) || !tlv_add_child(root.get(), table_tag, table, 304) ||
      !tlv_add_child(root.get(), 0xC2, c2, 15) || !tlv_add_child(root.get(), 0xC3, c3, 3) ||
      (alt && (!tlv_add_child(root.get(), 0xC5, table9, 94) || !tlv_add_child(root.get(), 0xC6, c6, 15))))
    return ML_NO_MEMORY;
  if (part0_size == 0) {
    uint32_t size = 0;
    if (zyl::matchlib::tlv_encode(root.get(), nullptr, &size) != ML_OK) return ML_NO_MEMORY;
    put16(c0 + 5, (size + 15) / 16 * 16);
  }
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  const int st = zyl::matchlib::tlv_encode(root.get(), &bytes, &size);
  if (st != ML_OK) return st;
  *out = zyl::matchlib::blob_create(CARD_FORMAT, bytes, size);
  std::free(bytes);
  return *out ? ML_OK : ML_NO_MEMORY;
}

int zyl::matchlib::card_params_from_engine(const MatchEngine* engine, uint16_t algorithm_word,
                                           uint16_t part_count, uint16_t part0_size,
                                           uint16_t part_size, int level, uint16_t option_word,
                                           int list_length, DataBlob** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!engine || level < 0 || level >= FAR_LEVEL_COUNT || list_length < 0 || list_length > 255)
    return ML_BAD_ARGUMENT;
  const ScoreProfile* const* profiles = zyl::matchlib::engine_get_score_profiles(engine);
  // The linear part of a profile's model of exactly n rows.
  auto rows_of = [](const ScoreProfile* p, int n, ScoreLinearRow* rows) {
    if (!p || !p->thresholds || !p->model.rows || p->model.feature_count != n) return false;
    const int kind = zyl::matchlib::score_model_kind(&p->model);
    if (kind == 2 || kind == 3) {
      std::memcpy(rows, p->model.rows, sizeof(ScoreLinearRow) * n);
      return true;
    }
    if (kind == 4 || kind == 5) {
      const auto* q = static_cast<const ScoreQuadraticRow*>(p->model.rows);
      for (int i = 0; i < n; ++i)
        rows[i] = ScoreLinearRow{q[i].minimum, q[i].maximum, q[i].mean, q[i].spread, q[i].weight};
      return true;
    }
    return false;
  };
  ScoreLinearRow rows30[CARD_TABLE_ENTRIES], rows9[CARD_ALT_TABLE_ENTRIES];
  const ScoreProfile* first = profiles ? profiles[0] : nullptr;
  const ScoreProfile* second = first ? profiles[1] : nullptr;
  const bool alt = algorithm_word & CARD_ALTERNATIVE;
  // Without the models there is no element; answering success with none
  // would let a caller compare without one.
  if (!rows_of(first, CARD_TABLE_ENTRIES, rows30) ||
      (alt && !rows_of(second, CARD_ALT_TABLE_ENTRIES, rows9)))
    return ML_WRONG_KIND;
  return zyl::matchlib::card_params_from_models(
      algorithm_word, rows30, first->thresholds, alt ? rows9 : nullptr,
      alt ? second->thresholds : nullptr, 0xC4, part_count, part0_size, part_size, level,
      option_word, list_length, out);
}

int zyl::matchlib::card_params_from_tables(uint16_t algorithm_word, int table_set,
                                           uint16_t /*part_count*/, uint16_t /*part0_size*/,
                                           uint16_t /*part_size*/, int level,
                                           uint16_t /*option_word*/, int list_length,
                                           DataBlob** out) {
  if (out) *out = nullptr;
  if (level < 0 || level >= FAR_LEVEL_COUNT || list_length < 0 || list_length > 255)
    return ML_BAD_ARGUMENT;
  if ((algorithm_word >> 8) < CARD_ALGORITHM_ID) return ML_WRONG_KIND;
  if (table_set < 1 || table_set > 5) return ML_OUT_OF_LIMITS;
  // The built-in sets' models and thresholds are not part of this library;
  // answering success with no element would let a caller compare without
  // one.
  return ML_WRONG_KIND;
}

int zyl::matchlib::card_parse_params(const uint8_t* bytes, uint32_t available, uint16_t out[5]) {
  TlvElement e{};
  if (!bytes || !out || !zyl::matchlib::tlv_read_element(bytes, &e, available) || e.tag != 0xC0 ||
      e.length <= 10)
    return ML_UNAVAILABLE;
  for (int i = 0; i < 5; ++i) out[i] = be16(e.value + 1 + 2 * i);
  return ML_OK;
}

extern "C" ZYL_API int card_read_c0_header(const uint8_t* bytes, uint32_t available, int* top_bit,
                                           int* mode, uint16_t fields[5]) {
  if (fields) std::fill(fields, fields + 5, 0);
  TlvElement e{};
  if (!bytes || !zyl::matchlib::tlv_read_element(bytes, &e, available)) return ML_CORRUPT;
  bool bare = true;
  if (e.tag == 0xEF) {
    bare = false;
    if (!zyl::matchlib::tlv_read_element(e.value, &e, e.length)) return ML_CORRUPT;
  }
  if (e.tag != 0xC0 || e.length < 1) return ML_CORRUPT;
  if (top_bit) *top_bit = e.value[0] >> 7;
  if (mode) *mode = e.value[0] & 0x0F;
  if (fields && (e.value[0] & 0x7F) == 0 && e.length >= 9) {
    for (int i = 0; i < 4; ++i) fields[i] = be16(e.value + 1 + 2 * i);
    if (bare && e.length > 10) fields[4] = be16(e.value + 9);
  }
  return ML_OK;
}

int zyl::matchlib::card_read_params_header(const uint8_t* const* parts, const uint32_t* sizes,
                                           int k, int n, TlvElement* out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = TlvElement{};
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (locate_part(parts, sizes, k, n, &p, &size) != ML_OK) return ML_CORRUPT;
  TlvElement part{}, first{};
  if (!zyl::matchlib::tlv_read_element(p, &part, size) || part.tag != 0xEF ||
      !zyl::matchlib::tlv_read_element(part.value, &first, part.length) || first.tag != 0xC0 ||
      first.length < 1 || !(first.value[0] & 0x80))
    return ML_CORRUPT;
  *out = part;
  return ML_OK;
}

int zyl::matchlib::card_get_algorithm_info(const uint8_t* const* parts, const uint32_t* sizes,
                                           int k, uint8_t* out, uint32_t room, uint32_t* out_size) {
  if (!out || room < 13) return ML_CORRUPT;
  std::memset(out, 0, 13);
  out[0] = 0xC0;
  out[1] = 0x0B;
  if (out_size) *out_size = 13;
  const uint32_t word = flags();
  TlvElement p0{};
  if (!parts || !sizes ||
      zyl::matchlib::card_read_params_header(parts, sizes, k, 0, &p0) != ML_OK) {
    put16(out + 3, word);
    return word > 0xFFFF ? ML_WRONG_KIND : ML_OK;
  }
  TlvElement c0{};
  zyl::matchlib::tlv_read_element(p0.value, &c0, p0.length);
  std::memcpy(out + 2, c0.value, 9);
  const uint32_t N = be16(c0.value + 3);
  uint16_t modes = 0;
  for (uint32_t n = 1; n < N; ++n) {
    TlvElement part{}, g{};
    if (zyl::matchlib::card_read_params_header(parts, sizes, k, static_cast<int>(n), &part) !=
        ML_OK)
      continue;
    zyl::matchlib::tlv_read_element(part.value, &g, part.length);
    if (g.value[0] & 0x80) modes = static_cast<uint16_t>(modes | 1u << (g.value[0] & 0x0F));
  }
  put16(out + 11, modes);
  return be16(c0.value + 1) != word ? ML_WRONG_KIND : ML_OK;
}

int zyl::matchlib::card_parse_reference(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                        uint8_t* buffer, uint32_t buffer_size, uint32_t offset,
                                        CardProbeSetup* out) {
  if (!out || !buffer) return ML_BAD_ARGUMENT;
  *out = CardProbeSetup{};
  out->mode_mask = CARD_MODE_MASK_ALL;
  if (offset >= buffer_size) return ML_CORRUPT;
  uint32_t at = offset;
  TlvElement e{};
  uint32_t n = zyl::matchlib::tlv_read_element(buffer + at, &e, buffer_size - at);
  if (n && e.tag == 0xC0 && e.length == 2) {
    out->mode_mask = be16(e.value);
    at += n;
    n = at < buffer_size ? zyl::matchlib::tlv_read_element(buffer + at, &e, buffer_size - at) : 0;
  }
  if (!n || e.tag != 0x7F2E) return ML_CORRUPT;
  // The template goes to the end of the buffer; the room before it is work.
  uint8_t* probe = buffer + buffer_size - n;
  if (probe != buffer + at) std::memmove(probe, buffer + at, n);
  out->probe = probe;
  out->probe_length = n;
  uint8_t* room = buffer + offset;
  uint32_t room_size = static_cast<uint32_t>(probe - room);

  TlvElement p0{}, c0{};
  if (zyl::matchlib::card_read_params_header(parts, sizes, k, 0, &p0) != ML_OK ||
      !zyl::matchlib::tlv_read_element(p0.value, &c0, p0.length))
    return ML_CORRUPT;
  const uint16_t word = be16(c0.value + 1);
  set_flags(word);
  out->algorithm_word = word;
  if ((word >> 8) != CARD_ALGORITHM_ID) return ML_WRONG_KIND;
  if ((word & CARD_PACKING_MASK) == 0) {
    if (room_size < CARD_PACKING_ROOM) return ML_CORRUPT;
    out->packing_room = room;
    room += CARD_PACKING_ROOM;
    room_size -= CARD_PACKING_ROOM;
  }
  out->work = room;
  out->work_size = room_size;

  const bool alt = word & CARD_ALTERNATIVE;
  bool table = false, c2 = false, c3 = false, c5 = !alt, c6 = !alt;
  const uint8_t* end = p0.value + p0.length;
  for (const uint8_t* q = p0.value; q < end;) {
    TlvElement c{};
    const uint32_t m = zyl::matchlib::tlv_read_element(q, &c, static_cast<uint32_t>(end - q));
    if (!m) break;
    q += m;
    if (c.tag == 0xC4 && c.length == 304) {
      out->table = c.value;
      table = true;
    } else if (c.tag == 0xC2 && c.length > 14) {
      for (int i = 0; i < 7; ++i) out->thresholds[i] = be16(c.value + 1 + 2 * i);
      c2 = true;
    } else if (c.tag == 0xC3 && c.length > 2) {
      out->option_word = be16(c.value);
      out->list_length = c.value[2] ? c.value[2] : ((word & CARD_PRESELECT) ? 8 : 32);
      c3 = true;
    } else if (alt && c.tag == 0xC5 && c.length == 94) {
      out->alt_table = c.value;
      c5 = true;
    } else if (alt && c.tag == 0xC6 && c.length > 14) {
      for (int i = 0; i < 7; ++i) out->alt_thresholds[i] = be16(c.value + 1 + 2 * i);
      c6 = true;
    }
  }
  return table && c2 && c3 && c5 && c6 ? ML_OK : ML_CORRUPT;
}

extern "C" {

ZYL_API uint8_t card_class_byte(uint32_t n) { return zyl::matchlib::card_class_byte(n); }
ZYL_API int card_group_threshold(uint8_t class_byte, const uint16_t* thresholds,
                                 uint32_t* out_threshold) {
  return zyl::matchlib::card_group_threshold(class_byte, thresholds, out_threshold);
}
ZYL_API int card_score_table_build(const ScoreLinearRow* rows, int n, uint8_t* out) {
  return zyl::matchlib::card_score_table_build(rows, n, out);
}
ZYL_API int card_score_weighted_sum(const uint8_t* table, int n, const uint16_t* scores,
                                    uint32_t* out_score) {
  return zyl::matchlib::card_score_weighted_sum(table, n, scores, out_score);
}
ZYL_API int card_params_from_models(uint16_t algorithm_word, const ScoreLinearRow* rows30,
                                    const FarThresholdTable* thresholds,
                                    const ScoreLinearRow* rows9,
                                    const FarThresholdTable* alt_thresholds, uint16_t table_tag,
                                    uint16_t part_count, uint16_t part0_size, uint16_t part_size,
                                    int level, uint16_t option_word, int list_length,
                                    DataBlob** out) {
  return zyl::matchlib::card_params_from_models(algorithm_word, rows30, thresholds, rows9,
                                                alt_thresholds, table_tag, part_count, part0_size,
                                                part_size, level, option_word, list_length, out);
}
ZYL_API int card_params_from_engine(const MatchEngine* engine, uint16_t algorithm_word,
                                    uint16_t part_count, uint16_t part0_size, uint16_t part_size,
                                    int level, uint16_t option_word, int list_length,
                                    DataBlob** out) {
  return zyl::matchlib::card_params_from_engine(engine, algorithm_word, part_count, part0_size,
                                                part_size, level, option_word, list_length, out);
}
ZYL_API int card_params_from_tables(uint16_t algorithm_word, int table_set, uint16_t arg2,
                                    uint16_t arg3, uint16_t arg4, int level, uint16_t arg6,
                                    int list_length, DataBlob** out) {
  return zyl::matchlib::card_params_from_tables(algorithm_word, table_set, arg2, arg3, arg4, level,
                                                arg6, list_length, out);
}
ZYL_API int card_parse_params(const uint8_t* bytes, uint32_t available, uint16_t out[5]) {
  return zyl::matchlib::card_parse_params(bytes, available, out);
}
ZYL_API int card_read_params_header(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                    int n, TlvElement* out) {
  return zyl::matchlib::card_read_params_header(parts, sizes, k, n, out);
}
ZYL_API int card_get_algorithm_info(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                    uint8_t* out, uint32_t room, uint32_t* out_size) {
  return zyl::matchlib::card_get_algorithm_info(parts, sizes, k, out, room, out_size);
}
ZYL_API int card_parse_reference(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                 uint8_t* buffer, uint32_t buffer_size, uint32_t offset,
                                 CardProbeSetup* out) {
  return zyl::matchlib::card_parse_reference(parts, sizes, k, buffer, buffer_size, offset, out);
}

}  // extern "C"

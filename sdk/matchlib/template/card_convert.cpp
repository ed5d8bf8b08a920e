// Conversions between standard ISO minutiae records and card templates:
// coordinates move between 197 and 100 pixels per centimetre, directions
// between 256 and 64 steps, and the cores, deltas and zonal quality of the
// record's extended data travel as the card elements 92, 93 and 94.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/minutiae_layout.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/template/card_convert.h"
#include "matchlib/template/card_template.h"
#include "matchlib/template/minutiae_extended.h"
#include "matchlib/template/minutiae_record.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kCard = 0x7F2E;
using Bytes = std::vector<std::uint8_t>;
using Tree = std::unique_ptr<TlvNode, decltype(&zyl::matchlib::tlv_node_free)>;

// Size of `count` packed core or delta entries starting at `p`, or nullopt
// when they run past `end`.
std::optional<std::size_t> packed_entries_size(const std::uint8_t* p, const std::uint8_t* end,
                                               int count, int angle_bytes) {
  const std::uint8_t* q = p;
  for (int i = 0; i < count; ++i) {
    if (end - q < 4) return std::nullopt;
    const std::size_t n = 4 + ((q[0] & 0xC0) ? angle_bytes : 0);
    if (std::size_t(end - q) < n) return std::nullopt;
    q += n;
  }
  return std::size_t(q - p);
}

// A count byte and its packed entries, rescaled.
bool rescaled_part(std::span<const std::uint8_t> src, int angle_bytes, int from, int to, int x0,
                   int y0, Bytes& part, std::size_t& used) {
  if (src.empty()) return false;
  const int count = src[0] & 0x0F;
  const auto size = packed_entries_size(src.data() + 1, src.data() + src.size(), count, angle_bytes);
  if (!size) return false;
  part.assign(src.begin(), src.begin() + 1 + *size);
  zyl::matchlib::coredelta_rescale(part.data() + 1, count, from, to, angle_bytes, x0, y0);
  used = 1 + *size;
  return true;
}

// The first extended block of a type in an ISO record: 1 found, 0 absent,
// -1 malformed.
int find_block(std::span<const std::uint8_t> record, std::uint16_t type,
               std::span<const std::uint8_t>& data) {
  const auto offset = fmr_ext_offset(record);
  if (!offset) return -1;
  ByteReader r(record);
  r.seek(*offset);
  const std::uint32_t area = r.u16();
  std::uint32_t walked = 0;
  while (walked < area) {
    const std::uint16_t t = r.u16();
    const std::uint16_t length = r.u16();
    const auto bytes = r.view(length);
    if (!r.ok()) return -1;
    if (t == type) {
      data = bytes;
      return 1;
    }
    walked += length + 4u;
  }
  return 0;
}

struct RecordView {
  int version = 0;
  std::span<const std::uint8_t> bytes;  // the declared length
  std::size_t minutiae_at = 0;
  std::size_t stride = 6;
  int count = 0;
  int resolution = 0, width = 0, height = 0;
};

int view_record(const std::uint8_t* record, std::uint32_t size, RecordView& v) {
  const std::span<const std::uint8_t> all(record, size);
  v.version = fmr_version_of(all);
  ByteReader r(all);
  r.seek(FmrCommon::length);
  const std::uint32_t length = r.u32();
  if (!r.ok() || length > size) return ML_UNAVAILABLE;
  v.bytes = all.first(length);
  ByteReader h(v.bytes);
  if (v.version == 20) {
    using F = Iso2005Fields;
    if (length < F::minutiae) return ML_UNAVAILABLE;
    h.seek(F::width);
    v.width = h.u16();
    v.height = h.u16();
    v.resolution = h.u16();
    h.seek(F::view_count);
    if (h.u8() != 1) return ML_UNAVAILABLE;
    h.seek(F::minutia_count);
    v.count = h.u8();
    v.minutiae_at = F::minutiae;
    v.stride = 6;
  } else if (v.version == 30) {
    if (length <= 48) return ML_UNAVAILABLE;
    using F = Iso2011Fields;
    h.seek(F::representation_count);
    if (h.u16() != 1) return ML_UNAVAILABLE;
    const std::size_t p = iso2011_body_start(h);
    h.seek(p + F::x_resolution);
    v.resolution = h.u16();
    h.seek(p + F::width);
    v.width = h.u16();
    v.height = h.u16();
    v.stride = h.u8() >> 4;
    v.count = h.u8();
    v.minutiae_at = p + F::minutiae;
    if (!h.ok() || v.stride < 5 || v.minutiae_at + v.stride * v.count + 2 > length)
      return ML_UNAVAILABLE;
  } else {
    return ML_UNAVAILABLE;
  }
  return h.ok() ? ML_OK : ML_UNAVAILABLE;
}

int attach(TlvNode* parent, TlvNode* child) {
  if (!child) return ML_NO_MEMORY;
  const int status = zyl::matchlib::tlv_append_child(parent, child);
  if (status != ML_OK) zyl::matchlib::tlv_node_free(child);
  return status;
}

int record_to_card(const std::uint8_t* record, std::uint32_t size, int maximum, std::uint8_t** out,
                   std::uint32_t* out_size, std::vector<int>* kept = nullptr) {
  RecordView v;
  if (const int status = view_record(record, size, v); status != ML_OK) return status;
  const int n = std::clamp(std::min(maximum, int{CARD_MAX_MINUTIAE}), 0, v.count);
  if (v.version == 20 && v.bytes.size() < 30 + 6u * n) return ML_UNAVAILABLE;
  struct Point {
    int x, y, type, direction;
  };
  std::vector<Point> points;
  for (int i = 0; i < n; ++i) {
    const std::uint8_t* p = v.bytes.data() + v.minutiae_at + v.stride * i;
    points.push_back({(p[0] & 0x3F) << 8 | p[1], (p[2] & 0x3F) << 8 | p[3], p[0] >> 6, p[4]});
  }
  int hx = 0, hy = 0;
  if (!points.empty()) {
    const auto [min_x, max_x] = std::minmax_element(points.begin(), points.end(),
                                                    [](auto& a, auto& b) { return a.x < b.x; });
    const auto [min_y, max_y] = std::minmax_element(points.begin(), points.end(),
                                                    [](auto& a, auto& b) { return a.y < b.y; });
    if (max_x->x > 492 && max_x->x - min_x->x < 493) hx = max_x->x - 492;
    if (max_y->y > 492 && max_y->y - min_y->y < 493) hy = max_y->y - 492;
  }
  Bytes minutiae;
  if (kept) kept->clear();
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Point& p = points[i];
    const int x = ((p.x - hx) * 800 / 197 + 4) >> 3;
    const int y = ((p.y - hy) * 800 / 197 + 4) >> 3;
    // A set spanning more than the card's 0..255 cannot be written there;
    // such minutiae are left out rather than wrapped to wrong places.
    if (x < 0 || x > 255 || y < 0 || y > 255) continue;
    if (kept) kept->push_back(static_cast<int>(i));
    minutiae.push_back(static_cast<std::uint8_t>(x));
    minutiae.push_back(static_cast<std::uint8_t>(y));
    minutiae.push_back(static_cast<std::uint8_t>(p.type << 6 | (((p.direction + 2) >> 2) & 0x3F)));
  }
  // Extended data: cores, deltas and zonal quality.
  Bytes cores, deltas, zonal;
  std::span<const std::uint8_t> block;
  int found = find_block(v.bytes, 0x0002, block);
  if (found < 0) return ML_UNAVAILABLE;
  if (found) {
    std::size_t used = 0, used_deltas = 0;
    if (!rescaled_part(block, 1, 197, 100, hx, hy, cores, used) ||
        !rescaled_part(block.subspan(used), 3, 197, 100, hx, hy, deltas, used_deltas))
      return ML_UNAVAILABLE;
    if ((cores[0] & 0x0F) == 0) cores.clear();
    if ((deltas[0] & 0x0F) == 0) deltas.clear();
  }
  found = find_block(v.bytes, 0x0003, block);
  if (found < 0) return ML_UNAVAILABLE;
  if (found) {
    const std::size_t skip = v.version == 30 ? 4 : 0;
    if (block.size() < skip + 3) return ML_UNAVAILABLE;
    const int cell_width = block[skip], cell_height = block[skip + 1];
    // A cell of no size describes no map the card could carry.
    if (cell_width == 0 || cell_height == 0) return ML_UNAVAILABLE;
    zonal.push_back(static_cast<std::uint8_t>(10 * v.resolution / cell_width));
    zonal.push_back(static_cast<std::uint8_t>((v.width + cell_width - 1) / cell_width));
    zonal.push_back(static_cast<std::uint8_t>((v.height + cell_height - 1) / cell_height));
    zonal.insert(zonal.end(), block.begin() + skip + 2, block.end());
  }
  Tree root(zyl::matchlib::tlv_node_create(kCard, 0, nullptr), &zyl::matchlib::tlv_node_free);
  if (!root) return ML_NO_MEMORY;
  TlvNode* parent = root.get();
  if (v.version == 20) {
    TlvNode* a1 = zyl::matchlib::tlv_node_create(0xA1, 0, nullptr);
    if (const int status = attach(parent, a1); status != ML_OK) return status;
    parent = a1;
  }
  auto add = [&](std::uint16_t tag, const Bytes& value) {
    return attach(parent, zyl::matchlib::tlv_node_create(
                              tag, static_cast<std::uint32_t>(value.size()), value.data()));
  };
  if (const int status = add(v.version == 20 ? 0x90 : 0x81, minutiae); status != ML_OK) return status;
  if (!cores.empty())
    if (const int status = add(0x92, cores); status != ML_OK) return status;
  if (!deltas.empty())
    if (const int status = add(0x93, deltas); status != ML_OK) return status;
  if (!zonal.empty())
    if (const int status = add(0x94, zonal); status != ML_OK) return status;
  return zyl::matchlib::tlv_encode(root.get(), out, out_size);
}

// Appends an extended block (type, data) to a built ISO record.
void append_block(Bytes& record, int version, std::uint16_t type, const Bytes& data) {
  const auto offset = fmr_ext_offset(record);
  const std::size_t at = record.size();
  record.resize(at + 4 + data.size());
  ByteWriter w({record.data() + at, 4 + data.size()});
  w.u16(type);
  w.u16(static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), record.begin() + at + 4);
  ByteWriter whole(record);
  whole.patch_u32(8, static_cast<std::uint32_t>(record.size()));
  if (version == 30) whole.patch_u32(15, static_cast<std::uint32_t>(record.size() - 15));
  const std::uint32_t area = ByteReader({record.data() + *offset, 2}).u16();
  whole.patch_u16(*offset, area + 4 + static_cast<std::uint32_t>(data.size()));
}

int card_to_record(const std::uint8_t* card, std::uint32_t length, int version, std::uint8_t** out,
                   std::uint32_t* out_size) {
  const std::uint8_t* value = nullptr;
  std::uint32_t value_length = 0;
  if (zyl::matchlib::card_get_minutiae(card, length, &value, &value_length) != ML_OK)
    return ML_UNAVAILABLE;
  const std::uint32_t n = value_length / 3;
  // The standard records count their minutiae in one byte.
  if (n > MINREC_MAX_MINUTIAE) return ML_UNAVAILABLE;
  TlvElement e92{}, e93{}, e94{};
  const bool has_cores = zyl::matchlib::card_find_element(card, length, 0x92, &e92) == ML_OK;
  const bool has_deltas = zyl::matchlib::card_find_element(card, length, 0x93, &e93) == ML_OK;
  const bool has_zonal = zyl::matchlib::card_find_element(card, length, 0x94, &e94) == ML_OK;

  std::unique_ptr<MinutiaeRecord, decltype(&zyl::matchlib::minrec_free)> rec(
      zyl::matchlib::minrec_create(), &zyl::matchlib::minrec_free);
  if (!rec) return ML_NO_MEMORY;
  rec->resolution = MINREC_RESOLUTION;
  rec->product_id = MINREC_DEFAULT_PRODUCT_ID;
  rec->count = static_cast<std::uint8_t>(n);
  int max_x = -2, max_y = -2;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint8_t* p = value + 3 * i;
    MinutiaEntry& m = rec->minutiae[i];
    m.x = static_cast<std::uint16_t>((p[0] * 197 + 50) / 100);
    m.y = static_cast<std::uint16_t>((p[1] * 197 + 50) / 100);
    m.type = static_cast<std::uint8_t>(p[2] >> 6);
    m.direction = static_cast<std::uint8_t>(p[2] * 4);
    max_x = std::max<int>(max_x, m.x);
    max_y = std::max<int>(max_y, m.y);
  }
  rec->width = static_cast<std::uint16_t>((max_x + 2) & ~1);
  rec->height = static_cast<std::uint16_t>((max_y + 2) & ~1);
  if (n == 0) rec->width = rec->height = 2;

  Bytes core_delta, zonal;
  if (has_cores || has_deltas) {
    Bytes part;
    std::size_t used = 0;
    if (has_cores) {
      if (!rescaled_part({e92.value, e92.length}, 1, 100, 197, 0, 0, part, used)) return ML_UNAVAILABLE;
      core_delta = part;
    } else {
      core_delta.push_back(0);
    }
    if (has_deltas) {
      if (!rescaled_part({e93.value, e93.length}, 3, 100, 197, 0, 0, part, used)) return ML_UNAVAILABLE;
      core_delta.insert(core_delta.end(), part.begin(), part.end());
    } else {
      core_delta.push_back(0);
    }
  }
  if (has_zonal) {
    if (e94.length < 4 || e94.value[0] == 0) return ML_UNAVAILABLE;  // no cell size to read
    const int cell = 1970 / e94.value[0];
    if (cell > 255) return ML_UNAVAILABLE;
    if (version == 30) zonal = {FMR_QUALITY_VENDOR_ID >> 8, FMR_QUALITY_VENDOR_ID & 0xFF, 0, 0};
    zonal.push_back(static_cast<std::uint8_t>(cell));
    zonal.push_back(static_cast<std::uint8_t>(cell));
    zonal.insert(zonal.end(), e94.value + 3, e94.value + e94.length);
    rec->width = static_cast<std::uint16_t>(e94.value[1] * cell);
    rec->height = static_cast<std::uint16_t>(e94.value[2] * cell);
  }
  std::uint8_t* built = nullptr;
  std::uint32_t built_size = 0;
  const int status = version == 20
                         ? zyl::matchlib::fmr_build_iso2005(rec.get(), &built, &built_size)
                         : zyl::matchlib::fmr_write_iso2011(rec.get(), &built, &built_size);
  if (status != ML_OK) return status;
  Bytes record(built, built + ByteReader({built + 8, 4}).u32());
  std::free(built);
  if (!core_delta.empty()) append_block(record, version, 0x0002, core_delta);
  if (!zonal.empty()) append_block(record, version, 0x0003, zonal);
  auto* buffer = static_cast<std::uint8_t*>(ml_malloc(record.size()));
  if (!buffer) return ML_NO_MEMORY;
  std::memcpy(buffer, record.data(), record.size());
  *out = buffer;
  if (out_size) *out_size = static_cast<std::uint32_t>(record.size());
  return ML_OK;
}

int minrec_card(const MinutiaeRecord* record, int maximum, bool newer, std::uint8_t** out,
                std::uint32_t* out_size) {
  if (record->resolution != MINREC_RESOLUTION) return ML_UNAVAILABLE;
  // A temporary copy without extended data: the record's minutiae only.
  std::unique_ptr<MinutiaeRecord, decltype(&zyl::matchlib::minrec_free)> plain(
      zyl::matchlib::minrec_create(), &zyl::matchlib::minrec_free);
  if (!plain) return ML_NO_MEMORY;
  std::memcpy(plain->minutiae, record->minutiae, sizeof record->minutiae);
  plain->count = record->count;
  plain->height = record->height;
  plain->width = record->width;
  plain->resolution = record->resolution;
  plain->product_id = record->product_id;
  plain->finger_position = record->finger_position;
  plain->impression_type = record->impression_type;
  plain->finger_quality = record->finger_quality;
  std::uint8_t* iso = nullptr;
  std::uint32_t iso_size = 0;
  int status = newer ? zyl::matchlib::fmr_write_iso2011(plain.get(), &iso, &iso_size)
                     : zyl::matchlib::fmr_build_iso2005(plain.get(), &iso, &iso_size);
  if (status != ML_OK) return status;
  status = record_to_card(iso, ByteReader({iso + 8, 4}).u32(), maximum, out, out_size);
  std::free(iso);
  return status;
}

int parse_card_record(const std::uint8_t* card, std::uint32_t length, MinutiaeRecord* record) {
  std::uint8_t* iso = nullptr;
  std::uint32_t size = 0;
  int status = card_to_record(card, length, 20, &iso, &size);
  if (status != ML_OK) return status;
  status = zyl::matchlib::fmr_parse_iso(iso, size, record);
  if (status == ML_OK)
    status = zyl::matchlib::fmr_read_core_delta_block(iso, size, &record->cores, &record->deltas);
  if (status == ML_OK) {
    std::free(record->zonal_quality.cells);
    status = zyl::matchlib::fmr_read_zonal_quality_block(iso, size, &record->zonal_quality);
  }
  std::free(iso);
  return status;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::fmr_to_card(const uint8_t* record, uint32_t size, int max_minutiae,
                               uint8_t** out, uint32_t* out_size) {
  if (!record || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return record_to_card(record, size, max_minutiae, out, out_size); });
}

int zyl::matchlib::fmr_to_card_keeping(const uint8_t* record, uint32_t size, int max_minutiae,
                                       uint8_t** out, uint32_t* out_size, std::vector<int>& kept) {
  if (!record || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return record_to_card(record, size, max_minutiae, out, out_size, &kept);
  });
}

extern "C" ZYL_API int minrec_to_card(const MinutiaeRecord* record, int max_minutiae, uint8_t** out,
                                      uint32_t* out_size) {
  if (!record || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return minrec_card(record, max_minutiae, false, out, out_size); });
}

extern "C" ZYL_API int minrec_to_card_2011(const MinutiaeRecord* record, int max_minutiae,
                                           uint8_t** out, uint32_t* out_size) {
  if (!record || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return minrec_card(record, max_minutiae, true, out, out_size); });
}

extern "C" ZYL_API int card_to_iso2005(const uint8_t* card, uint32_t length, uint8_t** out,
                                       uint32_t* out_size) {
  if (!card || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return card_to_record(card, length, 20, out, out_size); });
}

extern "C" ZYL_API int card_to_iso2011(const uint8_t* card, uint32_t length, uint8_t** out,
                                       uint32_t* out_size) {
  if (!card || !out) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return card_to_record(card, length, 30, out, out_size); });
}

int zyl::matchlib::card_to_minrec(const uint8_t* card, uint32_t length, MinutiaeRecord* record) {
  if (!card || !record) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return parse_card_record(card, length, record); });
}

extern "C" ZYL_API int card_to_minrec_any(const uint8_t* bytes, uint32_t length,
                                          MinutiaeRecord* record) {
  if (!bytes || !record) return ML_BAD_ARGUMENT;
  TlvElement e{};
  const uint32_t total = zyl::matchlib::tlv_read_element(bytes, &e, length);
  if (total == 0 || total != length) return ML_UNAVAILABLE;
  if (e.tag == 0xE1) {
    TlvElement first{};
    const uint32_t inner = zyl::matchlib::tlv_read_element(e.value, &first, e.length);
    if (inner == 0 || first.tag != kCard) return ML_UNAVAILABLE;
    return zyl::matchlib::card_to_minrec(e.value, inner, record);
  }
  if (e.tag != kCard) return ML_UNAVAILABLE;
  return zyl::matchlib::card_to_minrec(bytes, length, record);
}

extern "C" {

ZYL_API int fmr_to_card(const uint8_t* record, uint32_t size, int max_minutiae, uint8_t** out,
                        uint32_t* out_size) {
  return zyl::matchlib::fmr_to_card(record, size, max_minutiae, out, out_size);
}
ZYL_API int card_to_minrec(const uint8_t* card, uint32_t length, MinutiaeRecord* record) {
  return zyl::matchlib::card_to_minrec(card, length, record);
}

}  // extern "C"

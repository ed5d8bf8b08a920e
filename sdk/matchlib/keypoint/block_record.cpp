// The block-structured point record: creation, type ordering, compaction,
// best-score selection, the stored form's writer and bounded readers, the
// separate extension byte string, and the disc crop.
#include "matchlib/core/allocation.h"
#include "matchlib/keypoint/block_record.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "zylscan/matchlib_codec.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/byte_codec.h"
#include "matchlib/keypoint/descriptor_types.h"
#include "matchlib/template/container.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kHeaderBlock = 0x1234;
constexpr std::uint16_t kExtensionList = 6;
constexpr std::uint16_t kPoints8 = 1;
constexpr std::uint16_t kPoints16 = 8;
constexpr std::uint16_t kScores = 4;
constexpr std::uint16_t kFlags = 5;
constexpr std::uint16_t kExtensionBlock = 9;
constexpr int kVersion = 6;
constexpr std::uint32_t kAcceptedIds[] = {0x2,   0x4,   0x8,    0x10,   0x20,
                                          0x200, 0x400, 0x800, 0x1000, 0x2000};

bool accepted_id(std::uint32_t id) {
  return std::find(std::begin(kAcceptedIds), std::end(kAcceptedIds), id) != std::end(kAcceptedIds);
}

const DescriptorType* find_type(DescriptorTypes known, std::uint32_t id) {
  if (!accepted_id(id)) return nullptr;
  for (const DescriptorType* t : known)
    if (t && t->type_id == id) return t;
  return nullptr;
}

std::uint32_t element_size(const DescriptorType* t) { return t && t->size ? t->size() : 0; }
std::uint32_t pattern_of(const DescriptorType* t) { return t && t->pattern_id ? t->pattern_id() : 0; }

// The descriptor types this build carries.
struct LibraryTypes {
  const DescriptorType* list[11] = {};
  int count = 0;
  LibraryTypes() { count = std::clamp(zyl::matchlib::desc_types_select(list, 0xFFFFFFFFu), 0, 10); }
  DescriptorTypes span() const { return {list, static_cast<std::size_t>(count)}; }
};

void free_arrays(BlockRecord* r) {
  for (auto& a : r->extension_arrays) {
    std::free(a);
    a = nullptr;
  }
}

// Registers a type in the next slot with a zero-filled array for
// `capacity` points.
int register_type(BlockRecord* r, const DescriptorType* t) {
  if (r->extension_type_count >= BLOCKREC_MAX_EXTENSIONS) return ML_BAD_ARGUMENT;
  const std::size_t bytes = std::size_t{element_size(t)} * static_cast<std::size_t>(r->capacity);
  auto* array = static_cast<std::uint8_t*>(ml_calloc(bytes ? bytes : 1, 1));
  if (!array) return ML_NO_MEMORY;
  const int k = r->extension_type_count++;
  r->extension_types[k] = t;
  r->extension_arrays[k] = array;
  r->extension_bytes_per_point += static_cast<std::int32_t>(element_size(t));
  r->extension_flags = static_cast<std::uint16_t>(r->extension_flags | t->type_id);
  return ML_OK;
}

bool coordinates_fit_byte(const BlockRecord* r) {
  for (int i = 0; i < r->point_count; ++i)
    if (r->points[i].x > 255 || r->points[i].y > 255 || r->points[i].x < 0 || r->points[i].y < 0)
      return false;
  return true;
}

// The counts and starts must describe ranges inside the points.
bool ranges_ok(const BlockRecord* r) {
  for (int t = 1; t < BLOCKREC_POINT_TYPES; ++t) {
    if (r->type_counts[t] == 0) continue;
    if (r->type_counts[t] < 0 || r->type_starts[t] < 0 ||
        std::int64_t{r->type_starts[t]} + r->type_counts[t] > r->point_count)
      return false;
  }
  return true;
}

int write_record(const BlockRecord* r, bool with_extensions, std::uint8_t** out,
                 std::uint32_t* size) {
  if (!out || !size) return ML_BAD_ARGUMENT;
  *out = nullptr;
  *size = 0;
  if (!r || r->point_count < 0 || r->point_count > BLOCKREC_MAX_POINTS ||
      r->point_count > r->capacity || !ranges_ok(r))
    return ML_BAD_ARGUMENT;
  const int types = with_extensions ? r->extension_type_count : 0;
  const std::size_t ext_bytes = with_extensions ? static_cast<std::size_t>(r->extension_bytes_per_point) : 0;
  const bool wide = !coordinates_fit_byte(r);
  const std::size_t entry = (wide ? 5 : 3) + ext_bytes;
  const std::size_t per_block = std::max<std::size_t>(1, 32768 / entry);
  const std::size_t c = static_cast<std::size_t>(r->point_count);
  std::size_t total = 2 + 12 + 4 + 1 + 7 * std::size_t(types);
  for (int t = 1; t < BLOCKREC_POINT_TYPES; ++t) {
    const std::size_t m = static_cast<std::size_t>(std::max(0, r->type_counts[t]));
    const std::size_t blocks = (m + per_block - 1) / per_block;
    total += blocks * 9 + m * entry;
  }
  total += 8 + c + 8 + (c + 7) / 8;
  // A point entry that alone passes the 16-bit body length cannot be stored.
  if (entry + 5 > 0xFFFF || total > UINT32_MAX) return ML_BAD_ARGUMENT;
  auto* buffer = static_cast<std::uint8_t*>(ml_calloc(total, 1));
  if (!buffer) return ML_NO_MEMORY;
  ByteWriter w({buffer, total});
  w.u16(kVersion);
  w.u16(kHeaderBlock);
  w.u16(8);
  w.u16(with_extensions ? r->extension_flags : 0);
  w.u16(r->width);
  w.u16(r->height);
  w.u16(static_cast<std::uint32_t>(c));
  w.u16(kExtensionList);
  w.u16(1 + 7 * static_cast<std::uint32_t>(types));
  w.u8(static_cast<std::uint32_t>(types));
  for (int k = 0; k < types; ++k) {
    w.u16(r->extension_types[k]->type_id);
    w.u8(element_size(r->extension_types[k]));
    w.u32(pattern_of(r->extension_types[k]));
  }
  for (int t = 1; t < BLOCKREC_POINT_TYPES; ++t) {
    const int count = std::max(0, r->type_counts[t]);
    for (int done = 0; done < count;) {
      const int m = static_cast<int>(std::min<std::size_t>(per_block, std::size_t(count - done)));
      const int first = r->type_starts[t] + done;
      w.u16(wide ? kPoints16 : kPoints8);
      w.u16(static_cast<std::uint32_t>(5 + std::size_t(m) * entry));
      w.u8(static_cast<std::uint32_t>(t));
      w.u16(static_cast<std::uint32_t>(first));
      w.u16(static_cast<std::uint32_t>(m));
      for (int i = first; i < first + m; ++i) {
        const KeyPoint& p = r->points[i];
        if (wide) {
          w.u16(static_cast<std::uint16_t>(p.x));
          w.u16(static_cast<std::uint16_t>(p.y));
        } else {
          w.u8(static_cast<std::uint8_t>(p.x));
          w.u8(static_cast<std::uint8_t>(p.y));
        }
        w.u8(p.angle);
        for (int k = 0; k < types; ++k) {
          const std::size_t s = element_size(r->extension_types[k]);
          w.bytes(r->extension_arrays[k] + std::size_t(i) * s, s);
        }
      }
      done += m;
    }
  }
  w.u16(kScores);
  w.u16(static_cast<std::uint32_t>(4 + c));
  w.u16(0);
  w.u16(static_cast<std::uint32_t>(c));
  for (std::size_t i = 0; i < c; ++i) w.u8(r->points[i].score);
  w.u16(kFlags);
  w.u16(static_cast<std::uint32_t>(4 + (c + 7) / 8));
  w.u16(0);
  w.u16(static_cast<std::uint32_t>(c));
  for (std::size_t i = 0; i < c; i += 8) {
    std::uint32_t bits = 0;
    for (std::size_t j = 0; j < 8 && i + j < c; ++j)
      if (r->points[i + j].spare) bits |= 1u << j;
    w.u8(bits);
  }
  if (!w.ok() || w.pos() != total) {
    std::free(buffer);
    return ML_CORRUPT;
  }
  *out = buffer;
  *size = static_cast<std::uint32_t>(total);
  return ML_OK;
}

// Parse state handed to the block routines.
struct ParseState {
  BlockRecord* record;
  DescriptorTypes known;
  int skip;
  bool header_seen = false;
  bool extensions_seen = false;
  // read_points form
  std::vector<std::uint8_t>* pairs = nullptr;
  std::size_t ext_bytes = 0;
};

// One reader per block kind; the full parse and the score/angle reader both
// go through them.

// Header block: extension flags, width, height, point count.
struct HeaderBlock {
  std::uint16_t extension_flags, width, height, point_count;
};

int read_header_block(const std::uint8_t* body, std::uint32_t length, HeaderBlock& h) {
  if (length != 8) return ML_TOO_SHORT;
  ByteReader r({body, length});
  h.extension_flags = r.u16();
  h.width = r.u16();
  h.height = r.u16();
  h.point_count = r.u16();
  return ML_OK;
}

// Extension list: a count byte, then 7 bytes a type (id, element size,
// pattern id). The caller answers for an empty body.
struct ExtensionEntry {
  std::uint16_t id;
  std::uint8_t size;
  std::uint32_t pattern;
};
struct ExtensionList {
  int count = 0;
  ExtensionEntry entries[BLOCKREC_MAX_EXTENSIONS];
};

bool read_extension_list(const std::uint8_t* body, std::uint32_t length, ExtensionList& list) {
  const int n = body[0];
  if (n > BLOCKREC_MAX_EXTENSIONS || length != 7u * n + 1) return false;
  ByteReader r({body + 1, length - 1});
  list.count = n;
  for (int i = 0; i < n; ++i) {
    list.entries[i].id = r.u16();
    list.entries[i].size = r.u8();
    list.entries[i].pattern = r.u32();
  }
  return r.ok();
}

// Points block: type, first index, count, then `count` entries of
// coordinates (8-bit, or 16-bit in the wide block kind), angle and the
// points' extension bytes.
struct PointsBlock {
  std::uint8_t type;
  std::uint32_t first, count;
  bool wide;
  std::size_t entry;
  std::span<const std::uint8_t> entries;
};

int read_points_block(const std::uint8_t* body, std::uint32_t length, const std::uint8_t* header,
                      int point_count, std::size_t ext_bytes, PointsBlock& b) {
  b.wide = (header[0] << 8 | header[1]) == kPoints16;
  if (length <= 4) return ML_TOO_SHORT;
  ByteReader r({body, length});
  b.type = r.u8();
  b.first = r.u16();
  b.count = r.u16();
  if (b.first + b.count > static_cast<std::uint32_t>(point_count)) return ML_CORRUPT;
  b.entry = (b.wide ? 5 : 3) + ext_bytes;
  if (length != 5 + b.count * b.entry) return ML_TOO_SHORT;
  b.entries = r.view(b.count * b.entry);
  return ML_OK;
}

struct PointEntry {
  std::int16_t x, y;
  std::uint8_t angle;
  std::span<const std::uint8_t> extensions;
};

PointEntry point_entry(const PointsBlock& b, std::uint32_t i) {
  ByteReader r(b.entries.subspan(i * b.entry, b.entry));
  PointEntry e;
  e.x = static_cast<std::int16_t>(b.wide ? r.u16() : r.u8());
  e.y = static_cast<std::int16_t>(b.wide ? r.u16() : r.u8());
  e.angle = r.u8();
  e.extensions = r.view(r.remaining());
  return e;
}

// Scores and flags share their head: first index, count, then `values`
// bytes (one a point for scores, one bit a point for flags).
struct RunBlock {
  std::uint32_t first, count;
  const std::uint8_t* values;
};

int read_run_block(const std::uint8_t* body, std::uint32_t length, int points, bool bits,
                   RunBlock& run) {
  if (length <= 3) return ML_TOO_SHORT;
  ByteReader r({body, length});
  run.first = r.u16();
  run.count = r.u16();
  if (run.first + run.count > static_cast<std::uint32_t>(points)) return ML_CORRUPT;
  if (length != 4 + (bits ? (run.count + 7) / 8 : run.count)) return ML_TOO_SHORT;
  run.values = body + 4;
  return ML_OK;
}

int on_header(void* target, const std::uint8_t* body, std::uint32_t length, void*, const std::uint8_t*) {
  auto* s = static_cast<ParseState*>(target);
  HeaderBlock h;
  if (const int status = read_header_block(body, length, h)) return status;
  // A second header would orphan the arrays sized by the first.
  if (s->header_seen) return ML_CORRUPT;
  s->header_seen = true;
  BlockRecord* rec = s->record;
  rec->extension_flags = h.extension_flags;
  rec->width = h.width;
  rec->height = h.height;
  rec->point_count = h.point_count;
  rec->capacity = rec->point_count;
  rec->points = static_cast<KeyPoint*>(
      ml_calloc(static_cast<std::size_t>(std::max(1, rec->point_count)), sizeof(KeyPoint)));
  return rec->points ? ML_OK : ML_NO_MEMORY;
}

int on_extensions(void* target, const std::uint8_t* body, std::uint32_t length, void*,
                  const std::uint8_t*) {
  auto* s = static_cast<ParseState*>(target);
  if (length == 0) return ML_TOO_SHORT;
  ExtensionList list;
  if (!read_extension_list(body, length, list)) return ML_CORRUPT;
  // The arrays are sized by the header's point count, and one list only.
  if (!s->header_seen || s->extensions_seen) return ML_CORRUPT;
  s->extensions_seen = true;
  for (int i = 0; i < list.count; ++i) {
    const ExtensionEntry& x = list.entries[i];
    const DescriptorType* t = find_type(s->known, x.id);
    if (!t || element_size(t) != x.size || pattern_of(t) != x.pattern) return ML_CORRUPT;
    if (const int status = register_type(s->record, t)) return status == ML_NO_MEMORY ? status : ML_CORRUPT;
  }
  return ML_OK;
}

int on_points(void* target, const std::uint8_t* body, std::uint32_t length, void*,
              const std::uint8_t* header) {
  auto* s = static_cast<ParseState*>(target);
  BlockRecord* rec = s->record;
  PointsBlock b;
  if (const int status = read_points_block(body, length, header, rec->point_count,
                                           static_cast<std::size_t>(rec->extension_bytes_per_point), b))
    return status;
  // Point types are counted 0..7; a larger one could never be written back.
  if (b.type >= BLOCKREC_POINT_TYPES) return ML_CORRUPT;
  if (s->skip && (b.type & 3) == 1) return ML_OK;
  for (std::uint32_t i = 0; i < b.count; ++i) {
    const PointEntry e = point_entry(b, i);
    KeyPoint& p = rec->points[b.first + i];
    p.x = e.x;
    p.y = e.y;
    p.angle = e.angle;
    p.cls = b.type;
    ByteReader x(e.extensions);
    for (int k = 0; k < rec->extension_type_count; ++k) {
      const std::size_t size = element_size(rec->extension_types[k]);
      if (!x.bytes(rec->extension_arrays[k] + std::size_t(b.first + i) * size, size)) return ML_CORRUPT;
    }
  }
  return ML_OK;
}

int on_scores(void* target, const std::uint8_t* body, std::uint32_t length, void*, const std::uint8_t*) {
  auto* s = static_cast<ParseState*>(target);
  RunBlock run;
  if (const int st = read_run_block(body, length, s->record->point_count, false, run)) return st;
  for (std::uint32_t i = 0; i < run.count; ++i) s->record->points[run.first + i].score = run.values[i];
  return ML_OK;
}

int on_flags(void* target, const std::uint8_t* body, std::uint32_t length, void*, const std::uint8_t*) {
  auto* s = static_cast<ParseState*>(target);
  RunBlock run;
  if (const int st = read_run_block(body, length, s->record->point_count, true, run)) return st;
  for (std::uint32_t i = 0; i < run.count; ++i)
    s->record->points[run.first + i].spare = (run.values[i / 8] >> (i % 8)) & 1;
  return ML_OK;
}

constexpr BlockHandler kParseTable[] = {{kHeaderBlock, on_header}, {kExtensionList, on_extensions},
                                        {kPoints8, on_points},     {kPoints16, on_points},
                                        {kScores, on_scores},      {kFlags, on_flags},
                                        {0, nullptr}};

// read_points routines: one 2-byte entry {score, angle} per point.
int rp_header(void* target, const std::uint8_t* body, std::uint32_t length, void*, const std::uint8_t*) {
  auto* s = static_cast<ParseState*>(target);
  HeaderBlock h;
  if (const int status = read_header_block(body, length, h)) return status;
  if (s->header_seen) return ML_CORRUPT;
  s->header_seen = true;
  s->record->point_count = h.point_count;
  s->pairs->assign(2 * static_cast<std::size_t>(s->record->point_count), 0);
  return ML_OK;
}

int rp_extensions(void* target, const std::uint8_t* body, std::uint32_t length, void*, const std::uint8_t*) {
  auto* s = static_cast<ParseState*>(target);
  ExtensionList list;
  if (length == 0 || !read_extension_list(body, length, list)) return ML_CORRUPT;
  s->ext_bytes = 0;
  for (int i = 0; i < list.count; ++i) s->ext_bytes += list.entries[i].size;
  return ML_OK;
}

int rp_points(void* target, const std::uint8_t* body, std::uint32_t length, void*,
              const std::uint8_t* header) {
  auto* s = static_cast<ParseState*>(target);
  PointsBlock b;
  if (const int status =
          read_points_block(body, length, header, s->record->point_count, s->ext_bytes, b))
    return status;
  for (std::uint32_t i = 0; i < b.count; ++i) (*s->pairs)[2 * (b.first + i) + 1] = point_entry(b, i).angle;
  return ML_OK;
}

int rp_scores(void* target, const std::uint8_t* body, std::uint32_t length, void*, const std::uint8_t*) {
  auto* s = static_cast<ParseState*>(target);
  RunBlock run;
  if (const int st = read_run_block(body, length, s->record->point_count, false, run)) return st;
  for (std::uint32_t i = 0; i < run.count; ++i) (*s->pairs)[2 * (run.first + i)] = run.values[i];
  return ML_OK;
}

constexpr BlockHandler kPointsTable[] = {{kHeaderBlock, rp_header}, {kExtensionList, rp_extensions},
                                         {kPoints8, rp_points},     {kPoints16, rp_points},
                                         {kScores, rp_scores},      {0, nullptr}};

int version_status(std::span<const std::uint8_t> data) {
  if (data.size() < 2) return ML_TOO_SHORT;
  return (data[0] << 8 | data[1]) <= 5 ? ML_WRONG_KIND : ML_OK;
}

}  // namespace

int blockrec_parse_with(std::span<const std::uint8_t> data, int skip, int limit,
                        DescriptorTypes known, BlockRecord** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!data.data()) return ML_BAD_ARGUMENT;
  auto* rec = static_cast<BlockRecord*>(ml_calloc(1, sizeof(BlockRecord)));
  if (!rec) return ML_NO_MEMORY;
  int status = version_status(data);
  if (status == ML_OK && data.size() > 2) {
    ParseState state{rec, known, skip};
    status = zyl::matchlib::blocks_dispatch4(&state, kParseTable, data.data() + 2,
                                             static_cast<std::uint32_t>(data.size() - 2), nullptr);
  }
  if (status != ML_OK) {
    zyl::matchlib::blockrec_free(rec);
    return status;
  }
  zyl::matchlib::blockrec_compact(rec);
  zyl::matchlib::blockrec_count_types(rec);
  if (limit > 0 && limit < rec->point_count) zyl::matchlib::blockrec_keep_best(rec, limit);
  *out = rec;
  return ML_OK;
}

int blockrec_read_extensions_with(BlockRecord* rec, std::span<const std::uint8_t> data,
                                  DescriptorTypes known) {
  if (!rec || !data.data() || data.empty()) return ML_BAD_ARGUMENT;
  free_arrays(rec);
  for (auto& t : rec->extension_types) t = nullptr;
  rec->extension_type_count = 0;
  rec->extension_bytes_per_point = 0;
  rec->extension_flags = 0;
  struct State {
    BlockRecord* rec;
    DescriptorTypes known;
  } state{rec, known};
  auto on_block = [](void* target, const std::uint8_t* body, std::uint32_t length, void*,
                     const std::uint8_t*) -> int {
    auto* st = static_cast<State*>(target);
    BlockRecord* r = st->rec;
    if (length < 8) return ML_UNAVAILABLE;
    ByteReader br({body, length});
    const int slot = br.u8();
    const std::uint16_t id = br.u16();
    const std::uint8_t size = br.u8();
    const std::uint32_t pattern = br.u32();
    if (slot >= BLOCKREC_MAX_EXTENSIONS) return ML_UNAVAILABLE;
    const DescriptorType* t = find_type(st->known, id);
    if (!t || pattern_of(t) != pattern || element_size(t) != size) return ML_UNAVAILABLE;
    // The block must carry an element for every point.
    const std::size_t bytes = std::size_t{size} * static_cast<std::size_t>(r->point_count);
    auto elements = br.view(bytes);
    if (!br.ok() || r->extension_arrays[slot]) return ML_UNAVAILABLE;
    const std::size_t allocated = std::size_t{size} * static_cast<std::size_t>(r->capacity);
    auto* array = static_cast<std::uint8_t*>(ml_calloc(allocated ? allocated : 1, 1));
    if (!array) return ML_NO_MEMORY;
    if (bytes) std::memcpy(array, elements.data(), bytes);
    r->extension_types[slot] = t;
    r->extension_arrays[slot] = array;
    r->extension_flags = static_cast<std::uint16_t>(r->extension_flags | id);
    return ML_OK;
  };
  const BlockHandler table[] = {{kExtensionBlock, on_block}, {0, nullptr}};
  int status = zyl::matchlib::blocks_dispatch6(
      &state, table, data.data() + 1, static_cast<std::uint32_t>(data.size() - 1), nullptr);
  // The slots read must follow one another from slot 0: the count is that
  // of the blocks present, so records with several types survive.
  int count = 0;
  while (count < BLOCKREC_MAX_EXTENSIONS && rec->extension_types[count]) ++count;
  for (int k = count; k < BLOCKREC_MAX_EXTENSIONS && status == ML_OK; ++k)
    if (rec->extension_types[k]) status = ML_UNAVAILABLE;
  if (status != ML_OK) {
    free_arrays(rec);
    for (auto& t : rec->extension_types) t = nullptr;
    rec->extension_flags = 0;
    return status;
  }
  rec->extension_type_count = count;
  for (int k = 0; k < count; ++k)
    rec->extension_bytes_per_point += static_cast<std::int32_t>(element_size(rec->extension_types[k]));
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;
using zyl::ByteWriter;

int zyl::matchlib::blockrec_create(int height, int width, int capacity,
                                   const DescriptorType* const* types, BlockRecord** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (capacity < 0 || height < 0 || width < 0 || height > 0xFFFF || width > 0xFFFF)
    return ML_BAD_ARGUMENT;
  auto* r = static_cast<BlockRecord*>(ml_calloc(1, sizeof(BlockRecord)));
  if (!r) return ML_NO_MEMORY;
  r->height = static_cast<std::uint16_t>(height);
  r->width = static_cast<std::uint16_t>(width);
  r->resolution_x = r->resolution_y = 500;
  r->capacity = capacity;
  r->points = static_cast<KeyPoint*>(ml_calloc(static_cast<std::size_t>(std::max(1, capacity)),
                                                 sizeof(KeyPoint)));
  int status = r->points ? ML_OK : ML_NO_MEMORY;
  for (int k = 0; status == ML_OK && types && types[k]; ++k) status = register_type(r, types[k]);
  if (status != ML_OK) {
    zyl::matchlib::blockrec_free(r);
    return status;
  }
  *out = r;
  return ML_OK;
}

void zyl::matchlib::blockrec_free(BlockRecord* record) {
  if (!record) return;
  free_arrays(record);
  std::free(record->points);
  std::free(record);
}

void zyl::matchlib::blockrec_count_types(BlockRecord* record) {
  if (!record) return;
  for (int t = 0; t < BLOCKREC_POINT_TYPES; ++t) record->type_counts[t] = 0;
  for (int i = 0; i < record->point_count; ++i)
    if (record->points[i].cls < BLOCKREC_POINT_TYPES) ++record->type_counts[record->points[i].cls];
  record->type_starts[0] = 0;
  for (int t = 1; t < BLOCKREC_POINT_TYPES; ++t)
    record->type_starts[t] = record->type_starts[t - 1] + record->type_counts[t - 1];
}

void zyl::matchlib::blockrec_compact(BlockRecord* record) {
  if (!record) return;
  int kept = 0;
  for (int i = 0; i < record->point_count; ++i) {
    if (record->points[i].cls == 0) continue;
    if (kept != i) {
      record->points[kept] = record->points[i];
      for (int k = 0; k < record->extension_type_count; ++k) {
        const std::size_t s = element_size(record->extension_types[k]);
        std::memmove(record->extension_arrays[k] + std::size_t(kept) * s,
                     record->extension_arrays[k] + std::size_t(i) * s, s);
      }
    }
    ++kept;
  }
  record->point_count = kept;
}

void zyl::matchlib::blockrec_keep_best(BlockRecord* record, int n) {
  if (!record || n < 0) return;
  const int c = record->point_count;
  const int drop = c - n;
  if (drop <= 0) return;
  int histogram[256] = {};
  for (int i = 0; i < c; ++i) ++histogram[record->points[i].score];
  int sum = 0, threshold = 256, below = 0;
  for (int s = 0; s < 256; ++s) {
    if (sum + histogram[s] >= drop) {
      threshold = s;
      below = sum;
      break;
    }
    sum += histogram[s];
  }
  int at_threshold = drop - below;
  for (int i = 0; i < c; ++i) {
    KeyPoint& p = record->points[i];
    if (p.score < threshold) {
      p.cls = 0;
    } else if (p.score == threshold && at_threshold > 0) {
      p.cls = 0;
      --at_threshold;
    }
  }
  zyl::matchlib::blockrec_compact(record);
  zyl::matchlib::blockrec_count_types(record);
}

int zyl::matchlib::blockrec_write(const BlockRecord* record, uint8_t** out, uint32_t* size) {
  return write_record(record, true, out, size);
}

int zyl::matchlib::blockrec_write_copy(const BlockRecord* record, uint8_t** out, uint32_t* size) {
  return write_record(record, false, out, size);
}

int zyl::matchlib::blockrec_parse(const uint8_t* data, uint32_t length, int skip, int limit,
                                  BlockRecord** out) {
  const LibraryTypes known;
  return blockrec_parse_with({data, data ? length : 0}, skip, limit, known.span(), out);
}

int zyl::matchlib::blockrec_read_points(const uint8_t* data, uint32_t length, uint8_t** out,
                                        int* count) {
  if (out) *out = nullptr;
  if (count) *count = 0;
  if (!out || !count) return ML_BAD_ARGUMENT;
  if (!data) return ML_BAD_ARGUMENT;
  int status = version_status({data, length});
  if (status != ML_OK) return status;
  BlockRecord rec{};
  std::vector<std::uint8_t> pairs;
  ParseState state{&rec, {}, 0};
  state.pairs = &pairs;
  if (length > 2)
    status = zyl::GuardedCall(ML_NO_MEMORY, [&] {
      return zyl::matchlib::blocks_dispatch4(&state, kPointsTable, data + 2, length - 2, nullptr);
    });
  if (status != ML_OK) return status;
  auto* array = static_cast<std::uint8_t*>(ml_malloc(pairs.empty() ? 1 : pairs.size()));
  if (!array) return ML_NO_MEMORY;
  if (!pairs.empty()) std::memcpy(array, pairs.data(), pairs.size());
  *out = array;
  *count = rec.point_count;
  return ML_OK;
}

extern "C" ZYL_API int blockrec_crop_disc(const DataBlob* blob, int centre_x, int centre_y,
                                          int radius, uint8_t** out, uint32_t* size) {
  if (out) *out = nullptr;
  if (size) *size = 0;
  if (!out || !size) return ML_BAD_ARGUMENT;
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  int status = zyl::matchlib::tmpl_get_section(blob, BLOCKREC_FORMAT, &data, &length);
  if (status != ML_OK) return status;
  BlockRecord* rec = nullptr;
  status = zyl::matchlib::blockrec_parse(data, length, 0, 0, &rec);
  if (status != ML_OK) return status;
  const std::int64_t r2 = std::int64_t{radius} * radius;
  for (int i = 0; i < rec->point_count; ++i) {
    const std::int64_t dx = rec->points[i].x - centre_x, dy = rec->points[i].y - centre_y;
    if (dx * dx + dy * dy > r2) rec->points[i].cls = 0;
  }
  zyl::matchlib::blockrec_compact(rec);
  zyl::matchlib::blockrec_count_types(rec);
  status = zyl::matchlib::blockrec_write(rec, out, size);
  zyl::matchlib::blockrec_free(rec);
  return status;
}

int zyl::matchlib::blockrec_write_extensions(const BlockRecord* record, uint8_t** out,
                                             uint32_t* size) {
  if (!out || !size) return ML_BAD_ARGUMENT;
  *out = nullptr;
  *size = 0;
  if (!record || record->point_count < 0 || record->point_count > record->capacity)
    return ML_BAD_ARGUMENT;
  const std::size_t points = static_cast<std::size_t>(record->point_count);
  std::size_t total = 1;
  for (int k = 0; k < record->extension_type_count; ++k)
    total += 14 + element_size(record->extension_types[k]) * points;
  if (total > UINT32_MAX) return ML_BAD_ARGUMENT;
  auto* buffer = static_cast<std::uint8_t*>(ml_malloc(total));
  if (!buffer) return ML_NO_MEMORY;
  ByteWriter w({buffer, total});
  // The count of types rather than a fixed 1, so that a record with several
  // types reads back whole; the reader counts the blocks themselves.
  w.u8(static_cast<std::uint32_t>(record->extension_type_count));
  for (int k = 0; k < record->extension_type_count; ++k) {
    const DescriptorType* t = record->extension_types[k];
    const std::size_t bytes = element_size(t) * points;
    w.u16(kExtensionBlock);
    w.u32(static_cast<std::uint32_t>(14 + bytes));
    w.u8(static_cast<std::uint32_t>(k));
    w.u16(t->type_id);
    w.u8(element_size(t));
    w.u32(pattern_of(t));
    w.bytes(record->extension_arrays[k], bytes);
  }
  *out = buffer;
  *size = static_cast<std::uint32_t>(total);
  return ML_OK;
}

int zyl::matchlib::blockrec_read_extensions(BlockRecord* record, const uint8_t* data,
                                            uint32_t length) {
  const LibraryTypes known;
  return blockrec_read_extensions_with(record, {data, data ? length : 0}, known.span());
}

void zyl::matchlib::blockrec_copy_point_extensions(BlockRecord* record, const BlockRecord* other,
                                                   int a, int b) {
  if (!record || !other || a < 0 || b < 0 || a >= record->capacity || b >= other->capacity) return;
  for (int k = 0; k < record->extension_type_count; ++k) {
    const std::size_t s = element_size(record->extension_types[k]);
    if (k >= other->extension_type_count || element_size(other->extension_types[k]) != s) continue;
    std::memcpy(record->extension_arrays[k] + std::size_t(a) * s,
                other->extension_arrays[k] + std::size_t(b) * s, s);
  }
}

extern "C" ZYL_API int blockrec_absent(void) { return ML_NOT_FOUND; }

extern "C" {

ZYL_API int blockrec_create(int height, int width, int capacity, const DescriptorType* const* types,
                            BlockRecord** out) {
  return zyl::matchlib::blockrec_create(height, width, capacity, types, out);
}
ZYL_API void blockrec_free(BlockRecord* record) { zyl::matchlib::blockrec_free(record); }
ZYL_API void blockrec_count_types(BlockRecord* record) {
  zyl::matchlib::blockrec_count_types(record);
}
ZYL_API void blockrec_compact(BlockRecord* record) { zyl::matchlib::blockrec_compact(record); }
ZYL_API void blockrec_keep_best(BlockRecord* record, int n) {
  zyl::matchlib::blockrec_keep_best(record, n);
}
ZYL_API int blockrec_write(const BlockRecord* record, uint8_t** out, uint32_t* size) {
  return zyl::matchlib::blockrec_write(record, out, size);
}
ZYL_API int blockrec_write_copy(const BlockRecord* record, uint8_t** out, uint32_t* size) {
  return zyl::matchlib::blockrec_write_copy(record, out, size);
}
ZYL_API int blockrec_parse(const uint8_t* data, uint32_t length, int skip, int limit,
                           BlockRecord** out) {
  return zyl::matchlib::blockrec_parse(data, length, skip, limit, out);
}
ZYL_API int blockrec_read_points(const uint8_t* data, uint32_t length, uint8_t** out, int* count) {
  return zyl::matchlib::blockrec_read_points(data, length, out, count);
}
ZYL_API int blockrec_write_extensions(const BlockRecord* record, uint8_t** out, uint32_t* size) {
  return zyl::matchlib::blockrec_write_extensions(record, out, size);
}
ZYL_API int blockrec_read_extensions(BlockRecord* record, const uint8_t* data, uint32_t length) {
  return zyl::matchlib::blockrec_read_extensions(record, data, length);
}
ZYL_API void blockrec_copy_point_extensions(BlockRecord* record, const BlockRecord* other, int a,
                                            int b) {
  zyl::matchlib::blockrec_copy_point_extensions(record, other, a, b);
}

}  // extern "C"

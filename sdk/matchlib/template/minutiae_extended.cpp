// Extended data blocks of ISO minutiae records (cores and deltas, zonal
// quality, orientation and ridge-frequency maps), the rescaling of packed
// core/delta lists and the fitting of oversized minutiae sets.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/minutiae_layout.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/template/minutiae_extended.h"

namespace zyl::matchlib {

std::optional<std::size_t> fmr_ext_offset(std::span<const std::uint8_t> b) {
  ByteReader r(b);
  std::size_t offset = 0;
  switch (fmr_version_of(b)) {
    case 20:
      r.seek(Iso2005Fields::minutia_count);
      offset = Iso2005Fields::minutiae + 6 * std::size_t{r.u8()};
      break;
    case 30: {
      const std::size_t p = iso2011_body_start(r);
      r.seek(p + Iso2011Fields::entry_size);
      const std::size_t entry = r.u8() >> 4;
      offset = p + Iso2011Fields::minutiae + entry * r.u8();
      break;
    }
    default: return std::nullopt;
  }
  if (!r.ok() || offset + 2 > b.size()) return std::nullopt;
  return offset;
}

namespace {

constexpr std::uint16_t kCoreDelta = 0x0002;
constexpr std::uint16_t kZonalQuality = 0x0003;
constexpr std::uint16_t kOrientation = 0xED0F;
constexpr std::uint16_t kFrequency = 0xEDFF;

struct Found {
  int status;  // 0 found, 6 absent, 3 malformed
  std::span<const std::uint8_t> data;
};

// The first block of a type in the extended data area.
Found find_block(std::span<const std::uint8_t> record, std::uint16_t type) {
  const auto offset = fmr_ext_offset(record);
  if (!offset) return {ML_UNAVAILABLE, {}};
  ByteReader r(record);
  r.seek(*offset);
  const std::uint32_t area = r.u16();
  std::uint32_t walked = 0;
  while (walked < area) {
    const std::uint16_t t = r.u16();
    const std::uint16_t length = r.u16();
    if (!r.ok()) return {ML_UNAVAILABLE, {}};
    auto data = r.view(length);
    if (!r.ok()) return {ML_UNAVAILABLE, {}};
    if (t == type) return {ML_OK, data};
    walked += length + 4u;
  }
  return {ML_NOT_FOUND, {}};
}

// Appends a block of `size` bytes (head included) written by `fill` to the
// caller's record, updating the total, representation and area lengths.
template <class Fill>
int append_block(std::uint8_t** cursor, std::uint32_t size, Fill fill) {
  if (!cursor || !*cursor) return ML_BAD_ARGUMENT;
  std::uint8_t* old = *cursor;
  const int version = fmr_version_of({old, 8});
  if (version != 20 && version != 30) return ML_UNAVAILABLE;
  const std::uint32_t length = ByteReader({old + 8, 4}).u32();
  const auto offset = fmr_ext_offset({old, length});
  if (!offset) return ML_UNAVAILABLE;
  const std::uint64_t grown = std::uint64_t{length} + size;
  if (grown > UINT32_MAX) return ML_UNAVAILABLE;
  auto* buffer = static_cast<std::uint8_t*>(ml_calloc(grown, 1));
  if (!buffer) return ML_NO_MEMORY;
  std::memcpy(buffer, old, length);
  ByteWriter w({buffer, static_cast<std::size_t>(grown)});
  w.patch_u32(8, static_cast<std::uint32_t>(grown));
  if (version == 30) w.patch_u32(15, ByteReader({old + 15, 4}).u32() + size);
  w.patch_u16(*offset, ByteReader({old + *offset, 2}).u16() + size);
  ByteWriter block({buffer + length, size});
  fill(block);
  std::free(old);
  *cursor = buffer;
  return ML_OK;
}

void write_point(ByteWriter& w, std::uint16_t x, std::uint16_t y, bool with_angles) {
  w.u8(static_cast<std::uint32_t>((with_angles ? 0x40 : 0) | ((x >> 8) & 0x3F)));
  w.u8(x & 0xFF);
  w.u8((y >> 8) & 0x3F);
  w.u8(y & 0xFF);
}

int add_map(std::uint8_t** cursor, const CellMap* map, std::uint16_t type) {
  if (!map) return ML_BAD_ARGUMENT;
  const std::uint32_t cells = std::uint32_t{map->rows} * map->columns;
  if (cells && !map->cells) return ML_BAD_ARGUMENT;
  const bool orientation = type == kOrientation;
  return append_block(cursor, cells + 11, [&](ByteWriter& w) {
    w.u16(type);
    w.u16(cells + 7);
    w.u8(map->cell_size);
    w.u16(static_cast<std::uint32_t>(std::max<int>(0, map->origin_first)));
    w.u16(static_cast<std::uint32_t>(std::max<int>(0, map->origin_second)));
    w.u8(map->columns);
    w.u8(map->rows);
    for (std::uint32_t i = 0; i < cells; ++i) {
      const int v = map->cells[i];
      if (orientation)
        w.u8(v == 0 ? 128 : static_cast<std::uint8_t>(191 - v));
      else
        w.u8(static_cast<std::uint32_t>(std::min(v, 32)));
    }
  });
}

int read_map(std::span<const std::uint8_t> record, CellMap* map, std::uint16_t type) {
  *map = CellMap{};
  const Found f = find_block(record, type);
  if (f.status != ML_OK) return ML_UNAVAILABLE;
  ByteReader r(f.data);
  map->cell_size = r.u8();
  map->origin_first = static_cast<std::int16_t>(std::min<int>(r.u16(), INT16_MAX));
  map->origin_second = static_cast<std::int16_t>(std::min<int>(r.u16(), INT16_MAX));
  map->columns = r.u8();
  map->rows = r.u8();
  const std::size_t cells = std::size_t{map->rows} * map->columns;
  auto values = r.view(cells);
  if (!r.ok()) {
    *map = CellMap{};
    return ML_UNAVAILABLE;
  }
  map->cells = static_cast<std::uint8_t*>(ml_malloc(cells ? cells : 1));
  if (!map->cells) {
    *map = CellMap{};
    return ML_NO_MEMORY;
  }
  for (std::size_t i = 0; i < cells; ++i) {
    const std::uint8_t e = values[i];
    map->cells[i] = type == kOrientation ? (e >= 128 ? 0 : static_cast<std::uint8_t>(191 - e)) : e;
  }
  return ML_OK;
}

// Cuts the first `rows` rows and `columns` columns from a map.
int cut_map(CellMap& map, int rows, int columns) {
  if (!map.cells || (rows == 0 && columns == 0)) return ML_OK;
  const int new_rows = std::max(0, map.rows - rows);
  const int new_columns = std::max(0, map.columns - columns);
  const std::size_t n = std::size_t(new_rows) * new_columns;
  auto* cells = static_cast<std::uint8_t*>(ml_malloc(n ? n : 1));
  if (!cells) return ML_NO_MEMORY;
  for (int y = 0; y < new_rows; ++y)
    for (int x = 0; x < new_columns; ++x)
      cells[std::size_t(y) * new_columns + x] =
          map.cells[std::size_t(y + rows) * map.columns + (x + columns)];
  std::free(map.cells);
  map.cells = cells;
  map.rows = static_cast<std::uint8_t>(new_rows);
  map.columns = static_cast<std::uint8_t>(new_columns);
  return ML_OK;
}

std::uint16_t shifted(std::uint16_t v, int by) {
  // A set spanning nearly the whole window can reach below 0 by less than
  // a cell; it stays on the edge instead of wrapping to a huge value.
  return static_cast<std::uint16_t>(std::max(0, v - by));
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;
using zyl::ByteReader;
using zyl::ByteWriter;

int zyl::matchlib::fmr_add_core_delta_block(uint8_t** record, const CoreList* cores,
                                            const DeltaList* deltas) {
  const int nc = cores ? std::min<int>(cores->count, MINREC_MAX_SINGULAR) : 0;
  const int nd = deltas ? std::min<int>(deltas->count, MINREC_MAX_SINGULAR) : 0;
  if (nc == 0 && nd == 0) return ML_OK;
  std::uint32_t size = 6;
  for (int i = 0; i < nc; ++i) size += cores->entries[i].type ? 5 : 4;
  for (int i = 0; i < nd; ++i) size += deltas->entries[i].type ? 7 : 4;
  return append_block(record, size, [&](ByteWriter& w) {
    w.u16(0x0002);
    w.u16(size - 4);
    w.u8(static_cast<std::uint32_t>(nc));
    for (int i = 0; i < nc; ++i) {
      const CoreEntry& c = cores->entries[i];
      write_point(w, c.x, c.y, c.type != 0);
      if (c.type) w.u8(c.angle);
    }
    w.u8(static_cast<std::uint32_t>(nd));
    for (int i = 0; i < nd; ++i) {
      const DeltaEntry& d = deltas->entries[i];
      write_point(w, d.x, d.y, d.type != 0);
      if (d.type)
        for (std::uint8_t a : d.angles) w.u8(a);
    }
  });
}

int zyl::matchlib::fmr_add_zonal_quality_block(uint8_t** record, const ZonalQuality* quality,
                                               int bits) {
  if (bits < 1 || bits > 8) return ML_BAD_ARGUMENT;
  if (!quality || !record || !*record) return ML_BAD_ARGUMENT;
  const std::uint32_t cells = std::uint32_t{quality->rows} * quality->columns;
  if (cells && !quality->cells) return ML_BAD_ARGUMENT;
  const int version = fmr_version_of({*record, 8});
  const std::uint32_t data = (static_cast<std::uint32_t>(bits) * cells + 7) / 8;
  const std::uint32_t size = data + (version == 30 ? 11 : 7);
  const int g = (1 << bits) - 1;
  const int h = (g + 99) / g;
  return append_block(record, size, [&](ByteWriter& w) {
    w.u16(0x0003);
    w.u16(size - 4);
    if (version == 30) {
      w.u16(FMR_QUALITY_VENDOR_ID);
      w.u16(0);
    }
    w.u8(quality->cell_width);
    w.u8(quality->cell_height);
    w.u8(static_cast<std::uint32_t>(bits));
    std::uint32_t acc = 0;
    int filled = 0;
    for (std::uint32_t i = 0; i < cells; ++i) {
      const int v = quality->cells[i];
      const int level = std::clamp((v - 1) / h + 1, 0, g);
      acc |= static_cast<std::uint32_t>(level) << filled;
      filled += bits;
      while (filled >= 8) {
        w.u8(acc & 0xFF);
        acc >>= 8;
        filled -= 8;
      }
    }
    if (filled > 0) w.u8(acc & 0xFF);
  });
}

int zyl::matchlib::fmr_add_orientation_block(uint8_t** record, const CellMap* map) {
  return add_map(record, map, kOrientation);
}

int zyl::matchlib::fmr_add_frequency_block(uint8_t** record, const CellMap* map) {
  return add_map(record, map, kFrequency);
}

int zyl::matchlib::fmr_read_core_delta_block(const uint8_t* record, uint32_t size, CoreList* cores,
                                             DeltaList* deltas) {
  if (!record || !cores || !deltas) return ML_BAD_ARGUMENT;
  *cores = CoreList{};
  *deltas = DeltaList{};
  const Found f = find_block({record, size}, kCoreDelta);
  if (f.status == ML_NOT_FOUND) return ML_OK;
  if (f.status != ML_OK) return ML_UNAVAILABLE;
  ByteReader r(f.data);
  auto point = [&r](std::uint16_t& x, std::uint16_t& y) {
    const std::uint8_t b0 = r.u8();
    x = static_cast<std::uint16_t>((b0 & 0x3F) << 8 | r.u8());
    y = static_cast<std::uint16_t>((r.u8() & 0x3F) << 8);
    y = static_cast<std::uint16_t>(y | r.u8());
    return static_cast<std::uint8_t>(b0 >> 6);
  };
  // Every entry is walked to find the delta count; the first four are kept.
  const int nc = r.u8() & 0x0F;
  for (int i = 0; i < nc && r.ok(); ++i) {
    CoreEntry c{};
    c.type = point(c.x, c.y);
    if (c.type) c.angle = r.u8();
    if (i < MINREC_MAX_SINGULAR) cores->entries[cores->count++] = c;
  }
  const int nd = r.u8() & 0x0F;
  for (int i = 0; i < nd && r.ok(); ++i) {
    DeltaEntry d{};
    d.type = point(d.x, d.y);
    if (d.type)
      for (std::uint8_t& a : d.angles) a = r.u8();
    if (i < MINREC_MAX_SINGULAR) deltas->entries[deltas->count++] = d;
  }
  if (!r.ok()) {
    *cores = CoreList{};
    *deltas = DeltaList{};
    return ML_UNAVAILABLE;
  }
  return ML_OK;
}

int zyl::matchlib::fmr_read_zonal_quality_block(const uint8_t* record, uint32_t size,
                                                ZonalQuality* quality) {
  if (!record || !quality) return ML_BAD_ARGUMENT;
  *quality = ZonalQuality{};
  const std::span<const std::uint8_t> b(record, size);
  const int version = fmr_version_of(b);
  if (version != 20 && version != 30) return ML_UNAVAILABLE;
  const Found f = find_block(b, kZonalQuality);
  if (f.status == ML_NOT_FOUND) return ML_OK;
  if (f.status != ML_OK) return ML_UNAVAILABLE;
  // Image size from the record header: ISO 2005 in the fixed header, ISO
  // 2011 in the finger representation.
  ByteReader h(b);
  h.seek(version == 20 ? Iso2005Fields::width : iso2011_body_start(h) + Iso2011Fields::width);
  const int width = h.u16();
  const int height = h.u16();
  const std::size_t head = version == 30 ? 7 : 3;
  if (!h.ok() || f.data.size() < head) return ML_UNAVAILABLE;
  ByteReader r(f.data);
  r.skip(head - 3);
  const int cell_width = r.u8();
  const int cell_height = r.u8();
  const int bits = r.u8();
  // Cells of no size, or a grid the 8-bit dimensions cannot hold, describe
  // no usable map.
  if (cell_width == 0 || cell_height == 0 || bits < 1 || bits > 8) return ML_UNAVAILABLE;
  const int columns = (width + cell_width - 1) / cell_width;
  const int rows = (height + cell_height - 1) / cell_height;
  if (columns > 255 || rows > 255) return ML_UNAVAILABLE;
  const std::size_t cells = std::size_t(rows) * columns;
  auto packed = r.view((bits * cells + 7) / 8);
  if (!r.ok()) return ML_UNAVAILABLE;
  auto* values = static_cast<std::uint8_t*>(ml_malloc(cells ? cells : 1));
  if (!values) return ML_NO_MEMORY;
  const int step = 1600 / ((1 << bits) - 1);
  for (std::size_t i = 0; i < cells; ++i) {
    const std::size_t bit = i * bits;
    std::uint32_t word = packed[bit / 8];
    if (bit / 8 + 1 < packed.size()) word |= std::uint32_t{packed[bit / 8 + 1]} << 8;
    const int level = static_cast<int>((word >> (bit % 8)) & ((1u << bits) - 1));
    const int v = (step * level) >> 4;
    values[i] = static_cast<std::uint8_t>(v > 100 ? 0 : v);
  }
  *quality = {values, static_cast<std::uint8_t>(rows), static_cast<std::uint8_t>(columns),
              static_cast<std::uint8_t>(cell_height), static_cast<std::uint8_t>(cell_width)};
  return ML_OK;
}

extern "C" ZYL_API int fmr_read_orientation_block(const uint8_t* record, uint32_t size,
                                                  CellMap* map) {
  if (!record || !map) return ML_BAD_ARGUMENT;
  return read_map({record, size}, map, kOrientation);
}

extern "C" ZYL_API int fmr_read_frequency_block(const uint8_t* record, uint32_t size,
                                                CellMap* map) {
  if (!record || !map) return ML_BAD_ARGUMENT;
  return read_map({record, size}, map, kFrequency);
}

extern "C" ZYL_API int fmr_ext_data(const uint8_t* record, uint32_t size, const uint8_t** area) {
  if (!record || !area) return ML_BAD_ARGUMENT;
  *area = nullptr;
  const auto offset = fmr_ext_offset({record, size});
  if (!offset) return ML_UNAVAILABLE;
  *area = record + *offset;
  return ML_OK;
}

extern "C" ZYL_API int fmr_ext_length_add(uint8_t* record, uint32_t size, int delta) {
  if (!record) return ML_BAD_ARGUMENT;
  const auto offset = fmr_ext_offset({record, size});
  if (!offset) return ML_UNAVAILABLE;
  ByteWriter({record, size}).patch_u16(
      *offset, static_cast<std::uint32_t>(ByteReader({record + *offset, 2}).u16() + delta));
  return ML_OK;
}

void zyl::matchlib::coredelta_rescale(uint8_t* entries, int count, int from, int to,
                                      int angle_bytes, int x_origin, int y_origin) {
  if (!entries || from <= 0 || count <= 0) return;
  auto scale = [&](int v, int origin) {
    const std::int64_t s = ((std::int64_t{v} - origin) * to * 8 / from + 4) >> 3;
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(s, 0, 0x3FFF));
  };
  std::uint8_t* p = entries;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t type = p[0] & 0xC0;
    const std::uint16_t x = scale((p[0] & 0x3F) << 8 | p[1], x_origin);
    const std::uint16_t y = scale((p[2] & 0x3F) << 8 | p[3], y_origin);
    p[0] = static_cast<std::uint8_t>(type | (x >> 8));
    p[1] = static_cast<std::uint8_t>(x);
    p[2] = static_cast<std::uint8_t>((p[2] & 0xC0) | (y >> 8));
    p[3] = static_cast<std::uint8_t>(y);
    p += 4 + (type ? std::max(0, angle_bytes) : 0);
  }
}

int zyl::matchlib::minrec_fit_coordinates(MinutiaeRecord* m) {
  if (!m || m->count == 0) return ML_OK;
  if (m->height <= MINREC_FIT_WINDOW && m->width <= MINREC_FIT_WINDOW) return ML_OK;
  int max_x = 0, max_y = 0, min_x = INT32_MAX, min_y = INT32_MAX;
  for (int i = 0; i < m->count; ++i) {
    max_x = std::max<int>(max_x, m->minutiae[i].x);
    max_y = std::max<int>(max_y, m->minutiae[i].y);
    min_x = std::min<int>(min_x, m->minutiae[i].x);
    min_y = std::min<int>(min_y, m->minutiae[i].y);
  }
  if (max_x <= MINREC_FIT_WINDOW && max_y <= MINREC_FIT_WINDOW) return ML_OK;
  if (max_x - min_x > MINREC_FIT_WINDOW || max_y - min_y > MINREC_FIT_WINDOW) return ML_OK;
  const bool map_empty = !m->orientation.cells || m->orientation.rows == 0 ||
                         m->orientation.columns == 0 || m->orientation.cell_size == 0;
  const int cell = map_empty ? 1 : m->orientation.cell_size;
  const int oy = std::max(0, (max_y - MINREC_FIT_WINDOW) / cell + 1);
  const int ox = std::max(0, (max_x - MINREC_FIT_WINDOW) / cell + 1);
  // Cut the maps first: a memory failure must leave the record unchanged.
  CellMap orientation = m->orientation, frequency = m->frequency;
  orientation.cells = frequency.cells = nullptr;
  auto copy = [](const CellMap& from, CellMap& to) {
    if (!from.cells) return true;
    const std::size_t n = std::size_t{from.rows} * from.columns;
    to.cells = static_cast<std::uint8_t*>(ml_malloc(n ? n : 1));
    if (!to.cells) return false;
    std::memcpy(to.cells, from.cells, n);
    return true;
  };
  if (!copy(m->orientation, orientation) || !copy(m->frequency, frequency) ||
      cut_map(orientation, oy, ox) != ML_OK || cut_map(frequency, oy, ox) != ML_OK) {
    std::free(orientation.cells);
    std::free(frequency.cells);
    return ML_NO_MEMORY;
  }
  std::free(m->orientation.cells);
  std::free(m->frequency.cells);
  m->orientation = orientation;
  m->frequency = frequency;
  const int dx = ox * cell, dy = oy * cell;
  for (int i = 0; i < m->count; ++i) {
    m->minutiae[i].x = shifted(m->minutiae[i].x, dx);
    m->minutiae[i].y = shifted(m->minutiae[i].y, dy);
  }
  for (int i = 0; i < std::min<int>(m->cores.count, MINREC_MAX_SINGULAR); ++i) {
    m->cores.entries[i].x = shifted(m->cores.entries[i].x, dx);
    m->cores.entries[i].y = shifted(m->cores.entries[i].y, dy);
  }
  for (int i = 0; i < std::min<int>(m->deltas.count, MINREC_MAX_SINGULAR); ++i) {
    m->deltas.entries[i].x = shifted(m->deltas.entries[i].x, dx);
    m->deltas.entries[i].y = shifted(m->deltas.entries[i].y, dy);
  }
  m->height = shifted(m->height, dy);
  m->width = shifted(m->width, dx);
  return ML_OK;
}

extern "C" {

ZYL_API int fmr_add_core_delta_block(uint8_t** record, const CoreList* cores,
                                     const DeltaList* deltas) {
  return zyl::matchlib::fmr_add_core_delta_block(record, cores, deltas);
}
ZYL_API int fmr_add_zonal_quality_block(uint8_t** record, const ZonalQuality* quality, int bits) {
  return zyl::matchlib::fmr_add_zonal_quality_block(record, quality, bits);
}
ZYL_API int fmr_add_orientation_block(uint8_t** record, const CellMap* map) {
  return zyl::matchlib::fmr_add_orientation_block(record, map);
}
ZYL_API int fmr_add_frequency_block(uint8_t** record, const CellMap* map) {
  return zyl::matchlib::fmr_add_frequency_block(record, map);
}
ZYL_API int fmr_read_core_delta_block(const uint8_t* record, uint32_t size, CoreList* cores,
                                      DeltaList* deltas) {
  return zyl::matchlib::fmr_read_core_delta_block(record, size, cores, deltas);
}
ZYL_API int fmr_read_zonal_quality_block(const uint8_t* record, uint32_t size,
                                         ZonalQuality* quality) {
  return zyl::matchlib::fmr_read_zonal_quality_block(record, size, quality);
}
ZYL_API void coredelta_rescale(uint8_t* entries, int count, int from, int to, int angle_bytes,
                               int x_origin, int y_origin) {
  zyl::matchlib::coredelta_rescale(entries, count, from, to, angle_bytes, x_origin, y_origin);
}
ZYL_API int minrec_fit_coordinates(MinutiaeRecord* m) {
  return zyl::matchlib::minrec_fit_coordinates(m);
}

}  // extern "C"

// C1 block maps: encoding, the detail layer's difference code, and the
// expansion into the grid feature map byte form.
#include "matchlib/core/allocation.h"
#include "matchlib/template/block_maps.h"

#include <cstdlib>
#include <cstring>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "matchlib/template/bit_stream.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_object.h"

namespace zyl::matchlib {
namespace {

// The eight detail cells around the centre of a 3 x 3 group, in stored order:
// top-left, top, top-right, left, right, bottom-left, bottom, bottom-right.
constexpr int kNeighbour[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};

constexpr std::uint8_t kMapPrefix[3] = {0x5B, 0xDA, 0x02};
constexpr std::size_t kMapHead = 10;

std::size_t detail_index(unsigned r, unsigned c, unsigned columns, int dr, int dc) {
  return static_cast<std::size_t>(3 * r + 1 + dr) * (3u * columns) + (3 * c + 1 + dc);
}

struct Layout {
  std::int8_t vertical_origin = 0;
  std::int8_t horizontal_origin = 0;
  std::uint8_t rows = 0;
  std::uint8_t columns = 0;
  std::uint8_t cell_size = 0;
  std::span<const std::uint8_t> base_cells;  // N cells of `cell_width` bytes
  unsigned cell_width = 2;
  int detail_type = 0;                       // 0 none, 1 raw, 2 coded
  std::span<const std::uint8_t> detail;      // the layer's value
};

// Reads the C1 prefix, base and detail layer header; 0 or a status.
int read_layout(std::span<const std::uint8_t> in, bool skip_detail, Layout& out) {
  if (in.size() < 4) return ML_WRONG_KIND;
  ByteReader r(in);
  std::span<const std::uint8_t> base = in;
  const bool long_form = in[0] == 0;
  if (long_form) {
    if (in[1] != 0) return 4;
    r.skip(2);
    const std::uint16_t base_length = r.u16();
    base = r.view(base_length);
    if (!r.ok()) return 5;
  }
  if (base.size() < 5) return ML_WRONG_KIND;
  out.cell_size = base[0];  // the whole byte: a doubled map has cells of 16
  out.vertical_origin = static_cast<std::int8_t>(base[1]);
  out.rows = base[2];
  out.horizontal_origin = static_cast<std::int8_t>(base[3]);
  out.columns = base[4];
  const std::size_t n = static_cast<std::size_t>(out.rows) * out.columns;
  // Only cells of 2 or 3 bytes exist; any other base length would make the
  // cell reads leave the base, so it is a malformed size.
  if (base.size() == 3 * n + 5)
    out.cell_width = 3;
  else if (base.size() == 2 * n + 5)
    out.cell_width = 2;
  else
    return ML_WRONG_KIND;
  out.base_cells = base.subspan(5);
  if (!long_form || skip_detail || r.remaining() < 3) return ML_OK;
  const std::uint8_t type = r.u8();
  const std::uint16_t layer_length = r.u16();
  const auto layer = r.view(layer_length);
  if (!r.ok()) return 6;
  if ((type == 1 && layer_length == 18 * n) || type == 2) {
    out.detail_type = type;
    out.detail = layer;
  }
  return ML_OK;
}

// Decodes a type-2 layer: two length-prefixed streams, each read only within
// the layer; values a short stream does not supply are 0.
void decode_coded_detail(const Layout& l, std::uint8_t* detail_cells) {
  const std::size_t n = static_cast<std::size_t>(l.rows) * l.columns;
  ByteReader r(l.detail);
  std::vector<std::int8_t> diffs[2];
  for (auto& stream : diffs) {
    const std::uint16_t len = r.u16();
    const auto bytes = l.detail.subspan(r.pos(), std::min<std::size_t>(len, r.remaining()));
    r.skip(bytes.size());
    stream = diffcode_decode(bytes, 8 * n);
    stream.resize(8 * n, 0);
  }
  for (unsigned row = 0; row < l.rows; ++row)
    for (unsigned c = 0; c < l.columns; ++c) {
      const std::size_t cell = static_cast<std::size_t>(row) * l.columns + c;
      const std::uint8_t* base = &l.base_cells[cell * l.cell_width];
      for (int plane = 0; plane < 2; ++plane) {
        detail_cells[2 * detail_index(row, c, l.columns, 0, 0) + plane] = base[plane];
        for (int k = 0; k < 8; ++k) {
          const std::size_t at = detail_index(row, c, l.columns, kNeighbour[k][0], kNeighbour[k][1]);
          detail_cells[2 * at + plane] =
              static_cast<std::uint8_t>(base[plane] + 4 * diffs[plane][8 * cell + k]);
        }
      }
    }
}

int expand(std::span<const std::uint8_t> in, std::uint8_t** out_map, std::uint32_t* out_size,
           int* vertical_origin, int* horizontal_origin, int* rows, int* columns, bool skip_detail,
           const std::uint8_t* trailing_byte, const std::uint8_t* trailing4) {
  Layout l;
  if (const int status = read_layout(in, skip_detail, l); status != ML_OK) return status;
  const std::size_t n = static_cast<std::size_t>(l.rows) * l.columns;
  const std::size_t detail_bytes = l.detail_type ? 18 * n : 0;
  const std::size_t size = kMapHead + 2 * n + detail_bytes + (trailing4 ? 4 : 0) + (trailing_byte ? 1 : 0);
  if (out_map) {
    auto* map = static_cast<std::uint8_t*>(ml_calloc(size, 1));
    if (!map) return ML_NO_MEMORY;
    ByteWriter w({map, size});
    w.bytes(kMapPrefix, 3);
    w.u8(l.cell_size);
    w.u16(500);
    w.u8(l.columns);
    w.u8(l.rows);
    w.u16(0);
    for (std::size_t i = 0; i < n; ++i) w.bytes(&l.base_cells[i * l.cell_width], 2);
    if (l.detail_type == 1) w.bytes(l.detail.data(), detail_bytes);
    if (l.detail_type == 2) {
      std::uint8_t* detail_cells = map + w.pos();
      w.fill(0, detail_bytes);
      decode_coded_detail(l, detail_cells);
    }
    if (trailing4) w.bytes(trailing4, 4);
    if (trailing_byte) w.u8(*trailing_byte);
    *out_map = map;
  }
  *out_size = static_cast<std::uint32_t>(size);
  *vertical_origin = l.vertical_origin;
  *horizontal_origin = l.horizontal_origin;
  *rows = l.rows;
  *columns = l.columns;
  return ML_OK;
}

}  // namespace

int quantise_detail_difference(int detail, int base) {
  const int d = detail - base;
  const int magnitude = d < 0 ? -d : d;
  const int q = magnitude <= 5 ? (magnitude + 2) >> 2 : 2;
  return d < 0 ? -q : q;
}

std::optional<std::vector<std::uint8_t>> diffcode_encode(std::span<const std::int8_t> values) {
  std::vector<std::uint8_t> out((values.size() * 3 + 7) / 8, 0);
  BitWriter w(out);
  for (const std::int8_t v : values) {
    switch (v) {
      case 0: w.put(0b00, 2); break;
      case 1: w.put(0b01, 2); break;
      case -1: w.put(0b11, 2); break;
      case 2: w.put(0b101, 3); break;
      case -2: w.put(0b100, 3); break;
      default: return std::nullopt;
    }
  }
  out.resize((w.bit_pos() + 7) / 8);
  return out;
}

std::vector<std::int8_t> diffcode_decode(std::span<const std::uint8_t> bytes, std::size_t count) {
  std::vector<std::int8_t> values;
  values.reserve(count);
  BitReader r(bytes);
  while (values.size() < count) {
    if (r.bits_left() < 2) break;
    const std::uint32_t two = r.get(2);
    if (two == 0b00) {
      values.push_back(0);
    } else if (two == 0b01) {
      values.push_back(1);
    } else if (two == 0b11) {
      values.push_back(-1);
    } else {
      if (r.bits_left() < 1) break;
      values.push_back(r.get(1) ? 2 : -2);
    }
  }
  return values;
}

std::vector<std::uint8_t> encode_block_maps(const BlockMaps& m) {
  const std::size_t n = static_cast<std::size_t>(m.rows) * m.columns;
  if (m.orientation.size() != n || m.frequency.size() != n) return {};
  const bool detail = !m.detail_orientation.empty() || !m.detail_frequency.empty();
  if (detail && (m.detail_orientation.size() != 9 * n || m.detail_frequency.size() != 9 * n)) return {};

  std::vector<std::uint8_t> streams[2];
  if (detail) {
    const std::span<const std::uint8_t> base_planes[2] = {m.orientation, m.frequency};
    const std::span<const std::uint8_t> detail_planes[2] = {m.detail_orientation, m.detail_frequency};
    for (int plane = 0; plane < 2; ++plane) {
      std::vector<std::int8_t> diffs;
      diffs.reserve(8 * n);
      for (unsigned r = 0; r < m.rows; ++r)
        for (unsigned c = 0; c < m.columns; ++c)
          for (const auto& nb : kNeighbour)
            diffs.push_back(static_cast<std::int8_t>(quantise_detail_difference(
                detail_planes[plane][detail_index(r, c, m.columns, nb[0], nb[1])],
                base_planes[plane][static_cast<std::size_t>(r) * m.columns + c])));
      streams[plane] = *diffcode_encode(diffs);
      if (streams[plane].size() > 8 * n || streams[plane].size() > 0xFFFF) return {};
    }
  }
  const std::size_t base_length = 2 * n + 5;
  const std::size_t layer_length = detail ? 4 + streams[0].size() + streams[1].size() : 0;
  if (detail && (base_length > 0xFFFF || layer_length > 0xFFFF)) return {};
  std::vector<std::uint8_t> out((detail ? 4 + 3 + layer_length : 0) + base_length);
  ByteWriter w(out);
  if (detail) {
    w.u16(0);
    w.u16(static_cast<std::uint32_t>(base_length));
  }
  w.u8(m.cell_size);
  w.u8(static_cast<std::uint8_t>(m.vertical_origin));
  w.u8(m.rows);
  w.u8(static_cast<std::uint8_t>(m.horizontal_origin));
  w.u8(m.columns);
  for (std::size_t i = 0; i < n; ++i) {
    w.u8(m.orientation[i]);
    w.u8(m.frequency[i]);
  }
  if (detail) {
    w.u8(2);
    w.u16(static_cast<std::uint32_t>(layer_length));
    for (const auto& s : streams) {
      w.u16(static_cast<std::uint32_t>(s.size()));
      w.bytes(s.data(), s.size());
    }
  }
  if (!w.ok()) return {};
  return out;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::gridmap_from_compact(const uint8_t* c1, uint32_t length, uint8_t** out_map,
                                        uint32_t* out_size, int* out_vertical_origin,
                                        int* out_horizontal_origin, int* out_rows, int* out_columns,
                                        int skip_detail, const uint8_t* trailing_byte,
                                        const uint8_t* trailing4) {
  if (!c1 || !out_size || !out_vertical_origin || !out_horizontal_origin || !out_rows || !out_columns)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return expand({c1, length}, out_map, out_size, out_vertical_origin, out_horizontal_origin, out_rows,
                  out_columns, skip_detail != 0, trailing_byte, trailing4);
  });
}

extern "C" ZYL_API int gridmap_extent_500(const uint8_t* map, uint32_t length, int* width,
                                          int* height) {
  if (!map || !width || !height) return ML_BAD_ARGUMENT;
  if (length < kMapHead) return ML_UNAVAILABLE;
  if (std::memcmp(map, kMapPrefix, 3) != 0) return ML_WRONG_KIND;
  zyl::ByteReader r({map, length});
  r.skip(3);
  const long cell = r.u8();
  const long resolution = r.u16();
  const long columns = r.u8();
  const long rows = r.u8();
  *width = 192;
  *height = 192;
  if (resolution == 0) return ML_OK;
  *width = static_cast<int>((columns * cell * 500 + resolution / 2) / resolution);
  *height = static_cast<int>((rows * cell * 500 + resolution / 2) / resolution);
  return ML_OK;
}

extern "C" ZYL_API int diffcode_pack(const int8_t* values, uint32_t count, uint32_t max_bytes,
                                     uint8_t* out, uint32_t* out_bytes) {
  if ((!values && count) || !out || !out_bytes) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const auto code = diffcode_encode({values, count});
    if (!code) return ML_BAD_ARGUMENT;
    if (code->size() > max_bytes) return ML_WRONG_KIND;
    if (!code->empty()) std::memcpy(out, code->data(), code->size());
    *out_bytes = static_cast<uint32_t>(code->size());
    return ML_OK;
  });
}

extern "C" ZYL_API int diffcode_unpack(const uint8_t* bytes, uint32_t length, uint32_t count,
                                       uint8_t* out_values, uint32_t* out_count) {
  if ((!bytes && length) || (!out_values && count) || !out_count) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const auto values = diffcode_decode({bytes, length}, count);
    if (values.size() < count) return ML_CORRUPT;
    for (std::size_t i = 0; i < values.size(); ++i) out_values[i] = static_cast<uint8_t>(values[i]);
    *out_count = count;
    return ML_OK;
  });
}

extern "C" {

ZYL_API int gridmap_from_compact(const uint8_t* c1, uint32_t length, uint8_t** out_map,
                                 uint32_t* out_size, int* out_vertical_origin,
                                 int* out_horizontal_origin, int* out_rows, int* out_columns,
                                 int skip_detail, const uint8_t* trailing_byte,
                                 const uint8_t* trailing4) {
  return zyl::matchlib::gridmap_from_compact(c1, length, out_map, out_size, out_vertical_origin,
                                             out_horizontal_origin, out_rows, out_columns,
                                             skip_detail, trailing_byte, trailing4);
}

}  // extern "C"

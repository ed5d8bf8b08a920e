// Grid feature block: creation, the bit-packed stored form and its reader.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/bit_stream.h"
#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/template/grid_block.h"

namespace zyl::matchlib {
namespace {

constexpr GridBlockSettings kExtractionSettings = {
    {{8, 1}, {8, 1}, {6, 1}, {6, 2}, {4, 3}, {4, 3}}};

constexpr unsigned kPlaneHeadBits = 4 + 3 + 8 + 8;
constexpr unsigned kTrailerBits = 32;

std::size_t cell_count(const GridFeatureBlock& b) {
  return static_cast<std::size_t>(b.rows) * b.columns;
}

// The square blocks of B x B cells one value plane is averaged over.
struct BlockGrid {
  unsigned edge = 1;
  unsigned rows = 0;
  unsigned columns = 0;

  BlockGrid(const GridFeatureBlock& b, unsigned block_edge)
      : edge(block_edge),
        rows((b.rows + block_edge - 1) / block_edge),
        columns((b.columns + block_edge - 1) / block_edge) {}
  std::size_t size() const { return static_cast<std::size_t>(rows) * columns; }
  std::size_t of(unsigned r, unsigned c) const {
    return static_cast<std::size_t>(r / edge) * columns + c / edge;
  }
};

// Valid cells per block (from bit 0 of each valid byte, as stored).
std::vector<int> valid_per_block(const GridFeatureBlock& b, const BlockGrid& grid) {
  std::vector<int> count(grid.size(), 0);
  for (unsigned r = 0; r < b.rows; ++r)
    for (unsigned c = 0; c < b.columns; ++c)
      if (b.cells[static_cast<std::size_t>(r) * b.columns + c].valid & 1u) ++count[grid.of(r, c)];
  return count;
}

// One value plane as the writer codes it.
struct EncodedPlane {
  unsigned width = 1;
  unsigned edge = 1;
  int lo = 256;
  int hi = -1;
  std::vector<int> means;  // one per block with valid cells, in block order

  std::size_t bits() const { return kPlaneHeadBits + static_cast<std::size_t>(width) * means.size(); }
};

EncodedPlane encode_plane(const GridFeatureBlock& b, unsigned k, const GridBlockPlaneSetting& s) {
  EncodedPlane p;
  p.edge = s.block_size;
  const BlockGrid grid(b, s.block_size);
  const std::vector<int> count = valid_per_block(b, grid);
  std::vector<int> sum(grid.size(), 0);
  for (unsigned r = 0; r < b.rows; ++r)
    for (unsigned c = 0; c < b.columns; ++c) {
      const GridCell& cell = b.cells[static_cast<std::size_t>(r) * b.columns + c];
      if (cell.valid & 1u) sum[grid.of(r, c)] += cell.values[k];
    }
  for (std::size_t i = 0; i < grid.size(); ++i) {
    if (count[i] == 0) continue;
    const int mean = (count[i] / 2 + sum[i]) / count[i];  // halves go up
    p.means.push_back(mean);
    p.lo = std::min(p.lo, mean);
    p.hi = std::max(p.hi, mean);
  }
  const int range = p.hi - p.lo;
  unsigned needed = 1;
  while ((1 << needed) < range) ++needed;
  p.width = std::min<unsigned>(needed, s.max_width);
  return p;
}

void write_plane(BitWriter& w, const EncodedPlane& p) {
  w.put(p.width, 4);
  w.put(p.edge & 7u, 3);
  w.put(static_cast<std::uint32_t>(p.lo) & 0xFFu, 8);
  w.put(static_cast<std::uint32_t>(p.hi) & 0xFFu, 8);
  const int range = p.hi - p.lo;
  const int m = (1 << p.width) - 1;
  for (const int mean : p.means) {
    const int code = range == 0 ? 0 : (range / 2 + (mean - p.lo) * m) / range;
    w.put(static_cast<std::uint32_t>(code) & static_cast<std::uint32_t>(m), p.width);
  }
}

bool settings_valid(const GridBlockSettings& s) {
  return std::all_of(std::begin(s.planes), std::end(s.planes), [](const GridBlockPlaneSetting& p) {
    return p.max_width >= 1 && p.max_width <= 8 && p.block_size >= 1 && p.block_size <= 7;
  });
}

int serialize(const GridFeatureBlock& b, const GridBlockSettings& s, std::uint8_t** out,
              std::uint16_t* out_length) {
  std::vector<EncodedPlane> planes;
  std::size_t bits = cell_count(b);
  for (unsigned k = 0; k < GRIDBLOCK_VALUES; ++k) {
    planes.push_back(encode_plane(b, k, s.planes[k]));
    bits += planes.back().bits();
  }
  const std::size_t stream_bytes = (bits + kTrailerBits + 7) / 8;
  // The reported length is two bytes short of what is filled: stored sections
  // carry it that way, and the two bytes lost lie in the zero trailer.
  const std::size_t reported = 9 + stream_bytes;
  if (reported > 0xFFFF) return ML_WRONG_KIND;
  // The customary buffer size is rows x columns x 6 + 2057; large grids need
  // a little more than that, so never allocate less than is filled.
  const std::size_t filled = 11 + stream_bytes;
  const std::size_t capacity = std::max(cell_count(b) * GRIDBLOCK_VALUES + 2057, filled);
  auto* buffer = static_cast<std::uint8_t*>(ml_calloc(capacity, 1));
  if (!buffer) return ML_NO_MEMORY;

  ByteWriter head({buffer, 11});
  head.u16(GRIDBLOCK_MAGIC);
  head.u8(GRIDBLOCK_VERSION);
  head.u8(b.cell_size);
  head.u8(b.rows);
  head.u8(b.columns);
  head.u8(b.origin_x);
  head.u8(b.origin_y);
  head.u8(GRIDBLOCK_VALUES);
  head.u16(b.resolution);
  BitWriter w({buffer + 11, capacity - 11});
  for (std::size_t i = 0; i < cell_count(b); ++i) w.put(b.cells[i].valid & 1u, 1);
  for (const EncodedPlane& p : planes) write_plane(w, p);
  w.put(0, kTrailerBits);
  if (!head.ok() || !w.ok()) {  // cannot happen with the sizes above
    std::free(buffer);
    return ML_CORRUPT;
  }
  *out = buffer;
  *out_length = static_cast<std::uint16_t>(reported);
  return ML_OK;
}

// Reads one plane into value byte k of every cell. 17 for a plane head that
// no writer produces (it would divide by zero or mean nothing).
int read_plane(BitReader& r, GridFeatureBlock& b, unsigned k) {
  const unsigned width = r.get(4);
  const unsigned edge = r.get(3);
  const int lo = static_cast<int>(r.get(8));
  const int hi = static_cast<int>(r.get(8));
  if (edge == 0 || width > 8 || (width == 0 && lo != hi)) return ML_CORRUPT;
  const BlockGrid grid(b, edge);
  const std::vector<int> count = valid_per_block(b, grid);
  std::vector<std::uint8_t> value(grid.size(), 0);
  const int m = (1 << width) - 1;
  for (std::size_t i = 0; i < grid.size(); ++i) {
    if (count[i] == 0) continue;
    const int q = static_cast<int>(r.get(width));
    int v = hi;
    if (lo != hi) v = std::clamp(lo + (m / 2 + q * (hi - lo)) / m, std::min(lo, hi), hi);
    value[i] = static_cast<std::uint8_t>(v);
  }
  for (unsigned row = 0; row < b.rows; ++row)
    for (unsigned c = 0; c < b.columns; ++c)
      b.cells[static_cast<std::size_t>(row) * b.columns + c].values[k] = value[grid.of(row, c)];
  return ML_OK;
}

int parse(std::span<const std::uint8_t> in, GridFeatureBlock** out) {
  ByteReader head(in);
  const std::uint16_t magic = head.u16();
  const std::uint8_t version = head.u8();
  const std::uint8_t cell_size = head.u8();
  const std::uint8_t rows = head.u8();
  const std::uint8_t columns = head.u8();
  const std::uint8_t origin_x = head.u8();
  const std::uint8_t origin_y = head.u8();
  const std::uint8_t value_count = head.u8();
  const std::uint16_t resolution = version == 2 ? head.u16() : 0;
  if (!head.ok() || magic != GRIDBLOCK_MAGIC) return ML_CORRUPT;

  std::unique_ptr<GridFeatureBlock, decltype(&zyl::matchlib::gridblock_free)> b(
      zyl::matchlib::gridblock_create(rows, columns, resolution, origin_y, origin_x),
      &zyl::matchlib::gridblock_free);
  if (!b) return ML_NO_MEMORY;
  b->version = version;
  b->cell_size = cell_size;
  b->value_count = value_count;  // kept as stored; six planes are decoded regardless
  BitReader r(in.subspan(head.pos()));
  for (std::size_t i = 0; i < cell_count(*b); ++i) b->cells[i].valid = static_cast<std::uint8_t>(r.get(1));
  for (unsigned k = 0; k < GRIDBLOCK_VALUES; ++k) {
    const int status = read_plane(r, *b, k);
    if (status != ML_OK) return status;
  }
  *out = b.release();
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API const GridBlockSettings* gridblock_default_settings(void) {
  return &kExtractionSettings;
}

GridFeatureBlock* zyl::matchlib::gridblock_create(uint8_t rows, uint8_t columns,
                                                  uint16_t resolution, uint8_t origin_y,
                                                  uint8_t origin_x) {
  const std::size_t n = static_cast<std::size_t>(rows) * columns;
  auto* b = static_cast<GridFeatureBlock*>(ml_calloc(1, sizeof(GridFeatureBlock) + n * sizeof(GridCell)));
  if (!b) return nullptr;
  b->magic = GRIDBLOCK_MAGIC;
  b->version = GRIDBLOCK_VERSION;
  b->rows = rows;
  b->columns = columns;
  b->origin_x = origin_x;
  b->origin_y = origin_y;
  b->value_count = GRIDBLOCK_VALUES;
  b->resolution = resolution;
  b->cells = reinterpret_cast<GridCell*>(b + 1);
  return b;
}

void zyl::matchlib::gridblock_free(GridFeatureBlock* block) { std::free(block); }

int zyl::matchlib::gridblock_serialize(const GridFeatureBlock* block, uint8_t** out,
                                       uint16_t* out_length, const GridBlockSettings* settings) {
  if (!block || !out || !out_length || (cell_count(*block) && !block->cells)) return ML_BAD_ARGUMENT;
  const GridBlockSettings& s = settings ? *settings : kExtractionSettings;
  if (!settings_valid(s)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return serialize(*block, s, out, out_length); });
}

int zyl::matchlib::gridblock_parse(const uint8_t* bytes, uint32_t length, GridFeatureBlock** out) {
  if (!bytes || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;  // nothing is handed out on failure
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return parse({bytes, length}, out); });
}

extern "C" {

ZYL_API GridFeatureBlock* gridblock_create(uint8_t rows, uint8_t columns, uint16_t resolution,
                                           uint8_t origin_y, uint8_t origin_x) {
  return zyl::matchlib::gridblock_create(rows, columns, resolution, origin_y, origin_x);
}
ZYL_API void gridblock_free(GridFeatureBlock* block) { zyl::matchlib::gridblock_free(block); }
ZYL_API int gridblock_serialize(const GridFeatureBlock* block, uint8_t** out, uint16_t* out_length,
                                const GridBlockSettings* settings) {
  return zyl::matchlib::gridblock_serialize(block, out, out_length, settings);
}
ZYL_API int gridblock_parse(const uint8_t* bytes, uint32_t length, GridFeatureBlock** out) {
  return zyl::matchlib::gridblock_parse(bytes, length, out);
}

}  // extern "C"

// Layout of the band grid's storage: a fixed head with a scratch area,
// then the cells (3 bytes each, padded to a multiple of 4 bytes), then the
// optional row buffer of 16 rows.
//
// The map that bandgrid_finish writes starts 12 bytes before the cells, in
// the tail of the scratch area: its 10-byte head is written before any
// cell is read, and its cell k (2 bytes) lands below cell k of the grid
// (3 bytes), so writing never overtakes a cell that is still to be read.
#pragma once

#include <cstddef>
#include <cstdint>

struct BandGrid {
  uint16_t width;
  uint16_t height;
  uint16_t stride;
  int16_t x_offset;
  int16_t y_offset;
  int16_t top_row;        // top row of the next cell row to analyse
  uint16_t finished_rows; // cell rows finished
  uint8_t cell_size;
  uint8_t columns;
  uint8_t rows;
  uint8_t has_row_buffer;
  uint16_t first_row;     // image row of the first row held
  uint16_t rows_held;
  uint32_t ratio_sum;
  const uint8_t* in_place; // the fed image of a grid without a row buffer
  uint8_t reserved[8];
  // One cell's power spectrum, later the threshold histogram, and the
  // head of the output map in its last 12 bytes.
  alignas(8) uint8_t scratch[1496];
};

namespace zyl::matchlib::bandgrid {

constexpr uint32_t kHeadSize = 1544;
static_assert(sizeof(BandGrid) == kHeadSize, "head and scratch of the grid storage");
constexpr int kWindow = 16;
constexpr int kMaxHeld = 16;
constexpr std::size_t kMapLead = 12;  // map start before the cells

// Spectrum scratch: P(u, v) for u = 0..8, v = -8..7 (v stored mod 16).
inline uint32_t* spectrum(BandGrid* g) { return reinterpret_cast<uint32_t*>(g->scratch); }
inline const uint32_t* spectrum(const BandGrid* g) {
  return reinterpret_cast<const uint32_t*>(g->scratch);
}
inline uint8_t* cells(BandGrid* g) { return reinterpret_cast<uint8_t*>(g) + kHeadSize; }
inline const uint8_t* cells(const BandGrid* g) {
  return reinterpret_cast<const uint8_t*>(g) + kHeadSize;
}
inline std::size_t cell_bytes(int columns, int rows) {
  return 4 * ((3 * static_cast<std::size_t>(columns) * rows + 3) / 4);
}
inline uint8_t* row_buffer(BandGrid* g) { return cells(g) + cell_bytes(g->columns, g->rows); }
// (16 - c) / 2: how far a cell's window reaches above and left of it.
inline int window_lead(int cell_size) { return (kWindow - cell_size) / 2; }

}  // namespace zyl::matchlib::bandgrid

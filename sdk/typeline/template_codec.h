// The type-line template: writer, bounded reader, section codecs, validity
// test and singular-point split.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_io.h"
#include "zylscan/typeline_template.h"

namespace zyl::typeline {

inline constexpr std::size_t kTemplateSize = TYPELINE_TEMPLATE_SIZE;
// Section C keeps its length in one byte: 2 + cells / 2 <= 255.
inline constexpr int kMaxStoredBlockCells = 507;

// Writes the template of a record; answers m + 100 * L (m minutiae, L bytes).
// The result always reads back through read_template: singular points,
// minutiae and grid rows beyond what the format holds are left out.
int write_template(const TypelineRecord& record, std::span<std::uint8_t, kTemplateSize> out);

// Rebuilds a record (cleared first) from the template bytes. Never reads past
// bytes.size() (nor past 750); a section cut short by the end of the input
// ends the parse without being applied. A template that declares more block
// cells or singular points than the record holds, or a negative count,
// leaves a record with tag 0, which is_usable refuses.
void read_template(std::span<const std::uint8_t> bytes, TypelineRecord& record);

// The validity test of the matcher.
bool is_usable(const TypelineRecord& record);

// Integer mean of the minutiae's qualities; 0 without minutiae.
int mean_quality(const TypelineMinutiaList& minutiae);

// Cores and deltas in record order, at most 2 of each.
struct SingularSplit {
  std::array<TypelineSingularPoint, 2> cores{};
  std::array<TypelineSingularPoint, 2> deltas{};
  int core_count = 0;
  int delta_count = 0;
};
// keep_deltas false: deltas are skipped and never end the walk.
SingularSplit split_singular_points(const TypelineSingularList& points, bool keep_deltas = true);

// Section bodies. The packers write through w; the unpackers read through r
// and report false when the input ends first (r then also fails).
void pack_type_lines(std::span<const std::int16_t, 8> values, ByteWriter& w);
bool unpack_type_lines(ByteReader& r, std::span<std::int16_t, 8> values);

// Rows of the grid that the template stores: whole rows up to 507 cells.
int stored_block_rows(const TypelineBlockGrid& grid);
// Rows, columns and floor(rows x columns / 2) code bytes; answers the bytes
// written.
int pack_block_grid(const TypelineBlockGrid& grid, ByteWriter& w);
enum class GridRead { Ok, Truncated, TooLarge };
// TooLarge: more than 625 cells declared; the grid is left empty.
GridRead unpack_block_grid(ByteReader& r, TypelineBlockGrid& grid);

// Count byte and 4-byte points; answers the count written (0..4).
int pack_singular_points(const TypelineSingularList& points, ByteWriter& w);
// Answers the declared count; stores at most 4 points and a count clamped
// to 0..4. Sets *complete to false when the input ends first.
int unpack_singular_points(ByteReader& r, TypelineSingularList& points, bool* complete);

void pack_minutia(const TypelineMinutia& m, ByteWriter& w);
TypelineMinutia unpack_minutia(ByteReader& r);

// Publishes the image's height for callers to read back, then extracts the
// template of the image (the body of the exported template entry points).
int template_recording_height(std::uint8_t* image, int width, int height, std::uint8_t* out);

}  // namespace zyl::typeline

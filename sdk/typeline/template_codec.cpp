#include "typeline/template_codec.h"

#include <algorithm>
#include <cstring>

namespace zyl::typeline {
namespace {

constexpr std::uint8_t kSectionA = 'A', kSectionB = 'B', kSectionC = 'C', kSectionD = 'D',
                       kSectionE = 'E';
constexpr int kHeaderSize = 4;
// A section that would end at or beyond this offset ends the parse.
constexpr std::size_t kSectionLimit = kTemplateSize;
// Last offset the reader looks for a section tag at.
constexpr std::size_t kLastSectionStart = kTemplateSize - 2;
constexpr std::uint8_t kNoDirection = 255;
constexpr std::uint8_t kNoDirectionCode = 15;
constexpr int kMinutiaBytes = 5;

int clamp_count(int count, int limit) { return std::clamp(count, 0, limit); }

// The header keeps half the image size in a byte; sizes beyond 511 (or
// negative) cannot be told apart there, so they saturate instead of wrapping.
std::uint8_t half_size(int size) { return static_cast<std::uint8_t>(std::clamp(size / 2, 0, 255)); }

std::uint8_t block_code(std::uint8_t direction) {
  // Orientations 0..119 keep their top four bits; flat (127), background
  // (255) and anything else outside 0..119 has no direction.
  return direction < 120 ? direction >> 3 : kNoDirectionCode;
}

std::uint8_t block_direction(std::uint8_t code) { return code == kNoDirectionCode ? kNoDirection : code * 8; }

// Fields are 9 bits wide in the template.
std::uint32_t nine_bits(int v) { return static_cast<std::uint32_t>(v) & 0x1FF; }

}  // namespace

void pack_type_lines(std::span<const std::int16_t, 8> values, ByteWriter& w) {
  // 72 bits, most significant first.
  std::uint8_t bytes[9] = {};
  int bit = 0;
  for (std::int16_t v : values) {
    const std::uint32_t field = nine_bits(v);
    for (int b = 8; b >= 0; --b, ++bit)
      if (field >> b & 1) bytes[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
  }
  w.bytes(bytes, sizeof bytes);
}

bool unpack_type_lines(ByteReader& r, std::span<std::int16_t, 8> values) {
  std::uint8_t bytes[9];
  if (!r.bytes(bytes, sizeof bytes)) return false;
  int bit = 0;
  for (std::int16_t& v : values) {
    int field = 0;
    for (int b = 0; b < 9; ++b, ++bit) field = field << 1 | (bytes[bit / 8] >> (7 - bit % 8) & 1);
    v = static_cast<std::int16_t>(field);
  }
  return true;
}

int stored_block_rows(const TypelineBlockGrid& grid) {
  if (grid.columns == 0) return grid.rows;
  return std::min<int>(grid.rows, kMaxStoredBlockCells / grid.columns);
}

int pack_block_grid(const TypelineBlockGrid& grid, ByteWriter& w) {
  const int rows = stored_block_rows(grid);
  const int pairs = rows * grid.columns / 2;
  w.u8(static_cast<std::uint32_t>(rows));
  w.u8(grid.columns);
  // Two cells a byte, the first in the high nibble; an odd last cell is not
  // stored.
  for (int k = 0; k < pairs; ++k)
    w.u8(static_cast<std::uint32_t>(block_code(grid.cells[2 * k]) << 4 | block_code(grid.cells[2 * k + 1])));
  return 2 + pairs;
}

GridRead unpack_block_grid(ByteReader& r, TypelineBlockGrid& grid) {
  std::memset(&grid, 0, sizeof grid);
  const std::uint8_t rows = r.u8();
  const std::uint8_t columns = r.u8();
  if (!r.ok()) return GridRead::Truncated;
  const int cells = rows * columns;
  if (cells > TYPELINE_MAX_BLOCKS) return GridRead::TooLarge;
  const auto codes = r.view(static_cast<std::size_t>(cells / 2));
  if (!r.ok()) return GridRead::Truncated;
  grid.rows = rows;
  grid.columns = columns;
  for (std::size_t k = 0; k < codes.size(); ++k) {
    grid.cells[2 * k] = block_direction(codes[k] >> 4);
    grid.cells[2 * k + 1] = block_direction(codes[k] & 0x0F);
  }
  return GridRead::Ok;
}

int pack_singular_points(const TypelineSingularList& points, ByteWriter& w) {
  const int n = clamp_count(points.count, TYPELINE_MAX_SINGULAR_POINTS);
  w.u8(static_cast<std::uint32_t>(n));
  for (int k = 0; k < n; ++k) {
    const TypelineSingularPoint& p = points.points[k];
    const std::uint32_t x = nine_bits(p.x), y = nine_bits(p.y);
    w.u8(x >> 1);
    w.u8((x & 1) << 7 | y >> 8);
    w.u8(y & 0xFF);
    w.u8(p.direction);
  }
  return n;
}

int unpack_singular_points(ByteReader& r, TypelineSingularList& points, bool* complete) {
  std::memset(&points, 0, sizeof points);
  const int declared = r.s8();
  const int n = clamp_count(declared, TYPELINE_MAX_SINGULAR_POINTS);
  for (int k = 0; k < n; ++k) {
    TypelineSingularPoint& p = points.points[k];
    const std::uint8_t b0 = r.u8(), b1 = r.u8(), b2 = r.u8(), b3 = r.u8();
    p.x = static_cast<std::int16_t>(b0 << 1 | b1 >> 7);
    p.y = static_cast<std::int16_t>((b1 & 1) << 8 | b2);
    p.direction = b3;
    p.kind = b3 == kNoDirection ? 0 : 1;  // deltas carry no direction
  }
  points.count = static_cast<std::int8_t>(n);
  if (complete) *complete = r.ok();
  return declared;
}

void pack_minutia(const TypelineMinutia& m, ByteWriter& w) {
  w.u24(nine_bits(m.x) << 15 | nine_bits(m.y) << 6 | (m.quality & 0x3Fu));
  w.u8(m.direction);
  w.u8(static_cast<std::uint32_t>((m.curvature & 0x7F) << 1 | (m.type & 1)));
}

TypelineMinutia unpack_minutia(ByteReader& r) {
  TypelineMinutia m{};
  const std::uint32_t word = r.u24();
  m.x = static_cast<std::int16_t>(word >> 15 & 0x1FF);
  m.y = static_cast<std::int16_t>(word >> 6 & 0x1FF);
  m.quality = static_cast<std::uint8_t>(word & 0x3F);
  m.direction = r.u8();
  const std::uint8_t last = r.u8();
  m.curvature = last >> 1;
  m.type = last & 1;
  return m;
}

int write_template(const TypelineRecord& record, std::span<std::uint8_t, kTemplateSize> out) {
  // Sections placed over the header would hide it from the reader.
  const std::size_t first = std::max<std::size_t>(record.firstSection, kHeaderSize);
  ByteWriter header(std::span<std::uint8_t>(out).first(kHeaderSize));
  header.u8(record.tag);
  header.u8(static_cast<std::uint32_t>(first));
  header.u8(half_size(record.width));
  header.u8(half_size(record.height));

  ByteWriter w(std::span<std::uint8_t>(out).subspan(first));
  w.u8(kSectionA);
  w.u8(3);
  w.u8(record.patternType);
  w.u8(record.density);
  w.u8(record.frequency);

  w.u8(kSectionB);
  w.u8(9);
  pack_type_lines(record.typeLines, w);

  w.u8(kSectionC);
  w.u8(static_cast<std::uint32_t>(2 + stored_block_rows(record.grid) * record.grid.columns / 2));
  pack_block_grid(record.grid, w);

  w.u8(kSectionD);
  w.u8(static_cast<std::uint32_t>(4 * clamp_count(record.singular.count, TYPELINE_MAX_SINGULAR_POINTS) + 1));
  pack_singular_points(record.singular, w);

  // Section E's length byte counts one byte more than its body, and the
  // reader drops a section that would end at offset 750 or beyond, so the
  // last record must end by offset 748.
  const std::size_t e = first + w.pos();
  const std::size_t last_end = kSectionLimit - 2;
  const int room = e + 3 <= last_end ? static_cast<int>((last_end - (e + 3)) / kMinutiaBytes) : 0;
  const int m = std::min(clamp_count(record.minutiae.count, TYPELINE_MAX_MINUTIAE), room);
  w.u8(kSectionE);
  w.u8(static_cast<std::uint32_t>(kMinutiaBytes * m + 2));
  w.u8(static_cast<std::uint32_t>(m));
  for (int k = 0; k < m; ++k) pack_minutia(record.minutiae.minutiae[k], w);
  return m + 100 * static_cast<int>(first + w.pos());
}

void read_template(std::span<const std::uint8_t> bytes, TypelineRecord& record) {
  // Cleared byte for byte (padding too), so equal templates give records
  // that compare equal as bytes.
  std::memset(&record, 0, sizeof record);
  const auto data = bytes.first(std::min(bytes.size(), kTemplateSize));
  ByteReader header(data);
  record.tag = header.u8();
  record.firstSection = header.u8();
  record.width = static_cast<std::int16_t>(2 * header.u8());
  record.height = static_cast<std::int16_t>(2 * header.u8());

  std::size_t i = record.firstSection;
  bool done = false;
  while (!done && i <= kLastSectionStart && i + 2 <= data.size()) {
    const std::uint8_t tag = data[i];
    std::size_t length = data[i + 1];
    if (length == 0) {
      i += 2;
      continue;
    }
    ByteReader body(data.subspan(i + 2));
    if (tag == kSectionC && data.size() >= i + 4) {
      // Templates of grids above 507 cells carry only the low byte of the
      // section length; step over the whole grid they hold.
      const std::size_t whole = static_cast<std::size_t>(data[i + 2] * data[i + 3] / 2 + 2);
      if (whole > 255 && (whole & 0xFF) == length && data[i + 2] * data[i + 3] <= TYPELINE_MAX_BLOCKS)
        length = whole;
    }
    if (i + 2 + length >= kSectionLimit) break;

    switch (tag) {
      case kSectionA: {
        const std::uint8_t pattern = body.u8(), density = body.u8(), frequency = body.u8();
        if (!body.ok()) {
          done = true;
          break;
        }
        record.patternType = pattern;
        record.density = density;
        record.frequency = frequency;
        break;
      }
      case kSectionB: {
        std::int16_t values[8];
        if (!unpack_type_lines(body, values)) {
          done = true;
          break;
        }
        std::copy(std::begin(values), std::end(values), record.typeLines);
        break;
      }
      case kSectionC: {
        TypelineBlockGrid grid;
        switch (unpack_block_grid(body, grid)) {
          case GridRead::Ok:
            std::memcpy(&record.grid, &grid, sizeof grid);
            break;
          case GridRead::TooLarge:
            std::memset(&record.grid, 0, sizeof record.grid);
            record.tag = 0;
            break;
          case GridRead::Truncated:
            done = true;
            break;
        }
        break;
      }
      case kSectionD: {
        TypelineSingularList points;
        bool complete = false;
        const int declared = unpack_singular_points(body, points, &complete);
        if (!complete) {
          done = true;
          break;
        }
        std::memcpy(&record.singular, &points, sizeof points);
        if (declared < 0 || declared > TYPELINE_MAX_SINGULAR_POINTS) record.tag = 0;
        break;
      }
      case kSectionE: {
        done = true;  // nothing behind section E is read
        if (length < 7) break;
        const int declared = body.s8();
        int k = 0;
        while (k < declared && k < TYPELINE_MAX_MINUTIAE && body.has(kMinutiaBytes))
          record.minutiae.minutiae[k++] = unpack_minutia(body);
        record.minutiae.count = static_cast<std::int8_t>(k);
        break;
      }
      default:
        break;
    }
    i += 2 + length;
  }
  record.minutiae.meanQuality = static_cast<std::uint8_t>(mean_quality(record.minutiae));
}

bool is_usable(const TypelineRecord& record) {
  return record.tag == TYPELINE_TAG && record.singular.count >= 0 &&
         record.singular.count <= TYPELINE_MAX_SINGULAR_POINTS && record.patternType <= 10 &&
         record.minutiae.count > 2 && record.minutiae.count <= TYPELINE_MAX_MINUTIAE;
}

int mean_quality(const TypelineMinutiaList& minutiae) {
  const int n = clamp_count(minutiae.count, TYPELINE_MAX_MINUTIAE);
  if (n == 0) return 0;
  int sum = 0;
  for (int k = 0; k < n; ++k) sum += minutiae.minutiae[k].quality;
  return sum / n;
}

SingularSplit split_singular_points(const TypelineSingularList& points, bool keep_deltas) {
  SingularSplit split;
  const int n = clamp_count(points.count, TYPELINE_MAX_SINGULAR_POINTS);
  for (int k = 0; k < n; ++k) {
    const TypelineSingularPoint& p = points.points[k];
    if (p.kind == 1) {
      if (split.core_count == 2) break;
      split.cores[split.core_count++] = p;
    } else if (keep_deltas) {
      if (split.delta_count == 2) break;
      split.deltas[split.delta_count++] = p;
    }
  }
  return split;
}

}  // namespace zyl::typeline

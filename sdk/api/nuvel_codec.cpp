#include "api/nuvel_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zyl::api {

namespace {

constexpr int kOriginBias = 2048;

int clamp_origin(int v) { return std::clamp(v, -kOriginBias, kOriginBias - 1); }

std::uint32_t pack_point(std::uint32_t dx, std::uint32_t dy, std::uint32_t code, int angle) {
  return dx << 21 | dy << 10 | (code & 3u) << 8 | (static_cast<std::uint32_t>(angle) & 0xFFu);
}

struct Unpacked {
  int x, y, code, angle;
};

Unpacked unpack_point(std::uint32_t word, NuvelOrigin origin) {
  // Angles of 240 and above (an ISO angle byte of 0 converts to 240) would
  // later index 240-entry tables: bring them back into the turn.
  return {origin.x + static_cast<int>(word >> 21), origin.y + static_cast<int>((word >> 10) & 0x7FF),
          static_cast<int>((word >> 8) & 3), static_cast<int>(word & 0xFF) % kNuvelAngleSteps};
}

int finger_point_value = 0;

}  // namespace

NuvelOrigin OriginFinder::origin() const {
  if (!any_) return {};
  return {clamp_origin(minX_), clamp_origin(minY_)};
}

std::uint32_t singular_kind_code(int kind) {
  switch (kind) {
    case 1: return 1;
    case 2: return 2;
    case -1: return 3;
    default: return 0;
  }
}

int singular_kind_from_code(std::uint32_t code) {
  switch (code & 3) {
    case 1: return 1;
    case 2: return 2;
    case 3: return -1;
    default: return 0;
  }
}

NuvelBuilder::NuvelBuilder(std::span<std::uint8_t> out, std::uint8_t flags,
                           std::uint8_t borderDensity, NuvelOrigin origin)
    : out_(out), w_(out, Endian::Little), flags_(flags), origin_(origin) {
  w_.u8(flags);
  w_.u8(borderDensity);
  w_.u24(static_cast<std::uint32_t>(origin.y + kOriginBias) |
         static_cast<std::uint32_t>(origin.x + kOriginBias) << 12);
  w_.u16(0);  // minutiae count, patched as minutiae are added
}

bool NuvelBuilder::offsets(int x, int y, std::uint32_t& dx, std::uint32_t& dy) const {
  // 64-bit differences: coordinates come from untrusted records.
  long long ox = static_cast<long long>(x) - origin_.x;
  long long oy = static_cast<long long>(y) - origin_.y;
  if (ox < 0 || oy < 0 || ox > maxDx_ || oy > maxDy_) return false;
  dx = static_cast<std::uint32_t>(ox);
  dy = static_cast<std::uint32_t>(oy);
  return true;
}

bool NuvelBuilder::add_minutia(int x, int y, int type, int angle, int curvature) {
  std::uint32_t dx, dy;
  if (inSingular_ || minutiae_ >= minutiaCap_ || !offsets(x, y, dx, dy)) return false;
  w_.u32(pack_point(dx, dy, static_cast<std::uint32_t>(type), angle));
  if (flags_ & kNuvelCurvature) w_.u8(static_cast<std::uint32_t>(curvature) & 0xFF);
  ++minutiae_;
  return true;
}

void NuvelBuilder::begin_singular() {
  w_.patch_u16(5, static_cast<std::uint32_t>(minutiae_));
  singularCountAt_ = w_.pos();
  w_.u8(0);
  inSingular_ = true;
}

bool NuvelBuilder::add_singular(int x, int y, int kindCode, int angle) {
  std::uint32_t dx, dy;
  if (!inSingular_ || singular_ >= singularCap_ || !offsets(x, y, dx, dy)) return false;
  w_.u32(pack_point(dx, dy, static_cast<std::uint32_t>(kindCode), angle));
  ++singular_;
  return true;
}

std::size_t NuvelBuilder::finish() {
  w_.patch_u16(5, static_cast<std::uint32_t>(minutiae_));
  if (!w_.ok()) return 0;
  if (inSingular_) out_[singularCountAt_] = static_cast<std::uint8_t>(singular_);
  return w_.pos();
}

std::size_t compress_features(const FeatureRecord& record, std::span<std::uint8_t> out,
                              const NuvelWriterSettings& settings) {
  const int minutiae = std::clamp(record.minutiaCount, 0, ZYL_MAX_MINUTIAE);
  const int singular = std::clamp(record.singularCount, 0, ZYL_MAX_SINGULAR_POINTS);

  std::uint8_t flags = 0;
  if (settings.curvature &&
      std::any_of(record.minutiaCurvature, record.minutiaCurvature + minutiae,
                  [](std::int32_t c) { return c != 255; }))
    flags |= kNuvelCurvature;
  if (settings.singular && singular > 0) flags |= kNuvelSingular;
  if (settings.blocks && record.blockColumns > 0 && record.blockRows > 0) flags |= kNuvelBlocks;

  OriginFinder finder;
  for (int i = 0; i < minutiae; ++i) finder.add(record.minutiaX[i], record.minutiaY[i]);
  if (flags & kNuvelSingular)
    for (int i = 0; i < singular; ++i) finder.add(record.singularX[i], record.singularY[i]);

  NuvelBuilder b(out, flags, record.borderDensity, finder.origin());
  for (int i = 0; i < minutiae; ++i)
    b.add_minutia(record.minutiaX[i], record.minutiaY[i], record.minutiaType[i],
                  record.minutiaAngle[i], record.minutiaCurvature[i]);
  if (flags & kNuvelSingular) {
    b.begin_singular();
    for (int i = 0; i < singular; ++i) {
      if (settings.kind1Only && record.singularKind[i] != 1) continue;
      b.add_singular(record.singularX[i], record.singularY[i],
                     static_cast<int>(singular_kind_code(record.singularKind[i])),
                     record.singularAngle[i]);
    }
  }
  std::size_t length = b.finish();
  if (length == 0 || !(flags & kNuvelBlocks)) return length;

  std::size_t blocks = compress_block_grid(record, out.subspan(length));
  if (blocks == 0) {
    // The grid does not fit the caller's buffer: the template stays valid
    // without it.
    out[0] = static_cast<std::uint8_t>(out[0] & ~kNuvelBlocks);
    return length;
  }
  return length + blocks;
}

namespace {

// Everything of a template but its block section. Returns the bytes read or
// kBadTemplate; `blocks` tells whether a block section follows.
int decompress_points(std::span<const std::uint8_t> tmpl, FeatureRecord& record, bool& blocks) {
  record.minutiaCount = 0;
  record.singularCount = 0;
  record.blockColumns = 0;
  record.blockRows = 0;
  blocks = false;

  ByteReader r(tmpl, Endian::Little);
  const std::uint8_t flags = r.u8();
  const std::uint8_t border = r.u8();
  const std::uint32_t originBits = r.u24();
  const int count = r.u16();
  if (!r.ok() || count > kNuvelMaxMinutiae) return kBadTemplate;
  const NuvelOrigin origin{static_cast<int>(originBits >> 12 & 0xFFF) - kOriginBias,
                           static_cast<int>(originBits & 0xFFF) - kOriginBias};

  for (int i = 0; i < count; ++i) {
    Unpacked p = unpack_point(r.u32(), origin);
    record.minutiaX[i] = p.x;
    record.minutiaY[i] = p.y;
    record.minutiaAngle[i] = p.angle;
    record.minutiaType[i] = 0;  // the type bits are not read back
    int curvature = -1;
    if (flags & kNuvelCurvature) {
      curvature = r.u8();
      if (curvature == 255) curvature = -1;
    }
    record.minutiaCurvature[i] = curvature;
  }
  int singular = 0;
  if (flags & kNuvelSingular) {
    singular = r.u8();
    if (singular > kNuvelMaxSingular) return kBadTemplate;
    for (int i = 0; i < singular; ++i) {
      Unpacked p = unpack_point(r.u32(), origin);
      record.singularX[i] = p.x;
      record.singularY[i] = p.y;
      record.singularAngle[i] = p.angle;
      record.singularKind[i] = singular_kind_from_code(static_cast<std::uint32_t>(p.code));
    }
  }
  if (!r.ok()) return kBadTemplate;

  record.borderDensity = border;
  record.minutiaCount = count;
  record.singularCount = singular;
  blocks = (flags & kNuvelBlocks) != 0;
  return static_cast<int>(r.pos());
}

}  // namespace

int decompress_features(std::span<const std::uint8_t> tmpl, FeatureRecord& record, AbsentGrid absent) {
  bool blocks = false;
  const int used = decompress_points(tmpl, record, blocks);
  // The block section's reader sets every cell first; a record without one
  // gets the empty grid here (or keeps its bytes, when asked, under its size
  // of 0 x 0).
  if (blocks)
    decompress_block_grid(tmpl.subspan(static_cast<std::size_t>(used)), record);
  else if (absent == AbsentGrid::Clear)
    std::memset(record.blockDirections, 255, sizeof record.blockDirections);
  return used;
}

// Block direction grid --------------------------------------------------------

namespace {

constexpr std::uint8_t kEmptyCell = 255;
constexpr std::uint8_t kEmptyLiteral = 126;
constexpr int kDirections = 120;

constexpr std::uint8_t kRepeat = 0x80;
constexpr std::uint8_t kDeltas = 0xA0;
constexpr std::uint8_t kEndRow = 0xC0;
constexpr std::uint8_t kEndGrid = 0xE0;
constexpr int kMaxRun = 32;

bool valid_direction(std::uint8_t v) { return v < kDirections; }

// Literal code of a cell that does not start a run of valid directions.
std::uint8_t literal_of(std::uint8_t v) {
  if (v == kEmptyCell) return kEmptyLiteral;
  if (v > kDirections) return 127;
  return v;
}

int wrap_delta(int d) {
  if (d < -60) d += kDirections;
  if (d > 59) d -= kDirections;
  return d;
}

int add_direction(int previous, int delta) {
  int v = (previous + delta) % kDirections;
  return v < 0 ? v + kDirections : v;
}

const std::uint8_t* row_of(const FeatureRecord& record, std::uint32_t r) {
  return record.blockDirections + static_cast<std::size_t>(r) * ZYL_MAX_BLOCKS;
}

bool row_has_cell(const FeatureRecord& record, std::uint32_t r, std::uint32_t columns) {
  const std::uint8_t* row = row_of(record, r);
  return std::any_of(row, row + columns, [](std::uint8_t v) { return v != kEmptyCell; });
}

}  // namespace

void compress_block_line(int& previous, std::span<const std::uint8_t> values, ByteWriter& out) {
  std::size_t i = 0;
  while (i < values.size()) {
    if (previous < kDirections) {
      std::size_t same = 0;
      while (i + same < values.size() && same < kMaxRun && values[i + same] == previous) ++same;
      if (same >= 2) {
        out.u8(kRepeat | static_cast<std::uint8_t>(same - 1));
        i += same;
        continue;
      }
      std::array<int, 2 * kMaxRun> deltas{};
      std::size_t n = 0;
      int before = previous;
      while (i + n < values.size() && n < deltas.size() && valid_direction(values[i + n])) {
        int d = wrap_delta(values[i + n] - before);
        if (d < -8 || d > 7) break;
        deltas[n++] = d;
        before = values[i + n - 1];
      }
      const std::size_t pairs = n / 2;
      if (pairs >= 2) {
        out.u8(kDeltas | static_cast<std::uint8_t>(pairs - 1));
        for (std::size_t p = 0; p < pairs; ++p)
          out.u8(static_cast<std::uint32_t>((deltas[2 * p] + 8) << 4 | (deltas[2 * p + 1] + 8)));
        i += 2 * pairs;
        previous = values[i - 1];
        continue;
      }
    }
    const std::uint8_t literal = literal_of(values[i]);
    out.u8(literal);
    previous = literal;
    ++i;
  }
}

std::size_t compress_block_grid(const FeatureRecord& record, std::span<std::uint8_t> out) {
  const std::uint32_t columns = std::min<std::uint32_t>(record.blockColumns, ZYL_MAX_BLOCKS);
  const std::uint32_t rows = std::min<std::uint32_t>(record.blockRows, ZYL_MAX_BLOCKS);
  if (columns == 0 || rows == 0) return 0;

  ByteWriter w(out);
  w.u8(columns - 1);
  w.u8(rows - 1);
  for (std::uint32_t r = 0; r < rows; ++r) {
    const std::uint8_t* row = row_of(record, r);
    int previous = kEmptyLiteral;
    std::uint32_t c = 0;
    while (c < columns) {
      std::uint32_t first = c;
      while (first < columns && row[first] == kEmptyCell) ++first;
      if (first == columns) {
        std::uint32_t next = r + 1;
        while (next < rows && !row_has_cell(record, next, columns)) ++next;
        if (next == rows) {
          w.u8(kEndGrid);
          return w.ok() ? w.pos() : 0;
        }
        if (next == r + 1) {
          w.u8(kEndRow);
        } else {
          std::uint32_t skip = std::min<std::uint32_t>(next - r - 1, 31);
          w.u8(kEndGrid | skip);
          r += skip;
        }
        break;
      }
      const std::uint32_t empties = first - c;
      if (empties >= 2) {
        std::uint32_t k = std::min<std::uint32_t>(empties - 1, kMaxRun - 1);
        w.u8(kEndRow | k);
        c += k + 1;
        previous = kEmptyLiteral;
        continue;
      }
      std::uint32_t run = 0;
      while (c + run < columns && valid_direction(row[c + run])) ++run;
      if (run == 0) {
        const std::uint8_t literal = literal_of(row[c]);
        w.u8(literal);
        previous = literal;
        ++c;
        continue;
      }
      compress_block_line(previous, std::span<const std::uint8_t>(row + c, run), w);
      c += run;
    }
  }
  return w.ok() ? w.pos() : 0;
}

std::size_t decompress_block_grid(std::span<const std::uint8_t> data, FeatureRecord& record) {
  std::memset(record.blockDirections, kEmptyCell, sizeof record.blockDirections);
  record.blockColumns = 0;
  record.blockRows = 0;
  ByteReader r(data);
  const std::uint32_t columns = r.u8() + 1u;
  const std::uint32_t rows = r.u8() + 1u;
  if (!r.ok()) return r.pos();
  // The size bytes reach 256; the record holds 128 x 128. Codes are followed
  // over the declared size so the stream stays in step, cells beyond the
  // record are dropped.
  record.blockColumns = std::min<std::uint32_t>(columns, ZYL_MAX_BLOCKS);
  record.blockRows = std::min<std::uint32_t>(rows, ZYL_MAX_BLOCKS);

  for (std::uint32_t row = 0; row < rows; ++row) {
    std::uint8_t* cells = row < ZYL_MAX_BLOCKS
                              ? record.blockDirections + static_cast<std::size_t>(row) * ZYL_MAX_BLOCKS
                              : nullptr;
    auto put = [&](std::uint32_t c, int value) {
      if (cells && c < ZYL_MAX_BLOCKS)
        cells[c] = value == kEmptyLiteral ? kEmptyCell : static_cast<std::uint8_t>(value);
    };
    int previous = kEmptyLiteral;
    std::uint32_t c = 0;
    while (c < columns) {
      if (!r.has(1)) return r.pos();
      const std::uint8_t code = r.u8();
      const std::uint32_t k = code & 0x1Fu;
      if (code < kRepeat) {
        put(c++, code);
        previous = code;
      } else if (code < kDeltas) {
        for (std::uint32_t i = 0; i <= k && c < columns; ++i) put(c++, previous);
      } else if (code < kEndRow) {
        for (std::uint32_t i = 0; i <= k; ++i) {
          if (!r.has(1)) return r.pos();
          const std::uint8_t pair = r.u8();
          for (int d : {(pair >> 4) - 8, (pair & 0xF) - 8}) {
            previous = add_direction(previous, d);
            if (c < columns) put(c++, previous);
          }
        }
      } else if (code == kEndRow) {
        c = columns;
      } else if (code < kEndGrid) {
        c += k + 1;
        previous = kEmptyLiteral;
      } else if (code == kEndGrid) {
        return r.pos();
      } else {
        row += k;
        c = columns;
      }
    }
  }
  return r.pos();
}

void set_finger_point(int value) { finger_point_value = value; }
int finger_point() { return finger_point_value; }

}  // namespace zyl::api

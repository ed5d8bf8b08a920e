#include "api/iso_ansi_record.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "api/nuvel_codec.h"
#include "common/byte_io.h"

namespace zyl::api {

namespace {

constexpr std::uint8_t kMagic[4] = {'F', 'M', 'R', 0};
constexpr std::uint8_t kVersion[4] = {' ', '2', '0', 0};
constexpr std::uint32_t kPixelsPerCm = 197;
constexpr std::uint8_t kQuality = 100;
constexpr int kMaxRecordCoordinate = 1024;
// CBEFF product identifier of the ANSI header: owner and type of the product
// line. 0 marks an unregistered product.
constexpr std::uint32_t kAnsiProductOwner = 0;
constexpr std::uint32_t kAnsiProductType = 0;

struct Layout {
  std::size_t lengthBytes;  // size of the record length field at offset 8
  std::size_t countAt;      // minutiae count byte
  std::size_t entriesAt;    // first minutia entry
  int angleDivisorScale;    // degrees x scale / 360 gives the angle byte
  int nuvelCap;             // minutiae kept in the converted template
};

constexpr Layout layout_of(MinutiaeRecordKind kind) {
  return kind == MinutiaeRecordKind::Iso ? Layout{4, 27, 28, 255, 60} : Layout{2, 29, 30, 179, 90};
}

bool in_record_range(int v) { return v >= 0 && v <= kMaxRecordCoordinate; }

void put_entry(ByteWriter& w, int x, int y, unsigned typeBits, std::uint8_t angle,
               std::uint8_t quality) {
  w.u8((typeBits & 3u) << 6 | static_cast<unsigned>(x) >> 8);
  w.u8(static_cast<unsigned>(x) & 0xFF);
  w.u8(static_cast<unsigned>(y) >> 8);
  w.u8(static_cast<unsigned>(y) & 0xFF);
  w.u8(angle);
  w.u8(quality);
}

// Header of an ISO record up to and including the minutiae count (which is
// patched once known): 28 bytes.
void put_iso_header(ByteWriter& w, int width, int height, int xResolution, int yResolution,
                    std::uint8_t fingerPosition) {
  w.bytes(kMagic, 4);
  w.bytes(kVersion, 4);
  w.u32(0);  // record length, patched
  w.u16(0);  // capture equipment
  w.u16(static_cast<std::uint32_t>(width) & 0xFFFF);
  w.u16(static_cast<std::uint32_t>(height) & 0xFFFF);
  w.u16(static_cast<std::uint32_t>(xResolution) & 0xFFFF);
  w.u16(static_cast<std::uint32_t>(yResolution) & 0xFFFF);
  w.u8(1);  // finger views
  w.u8(0);
  w.u8(fingerPosition);
  w.u8(0);  // view number and impression type
  w.u8(kQuality);
  w.u8(0);  // minutiae count, patched
}

}  // namespace

int round_half_up(float x) {
  if (std::isnan(x)) return 0;
  const float v = x + 0.5f;
  if (v >= 2147483647.0f) return std::numeric_limits<int>::max();
  if (v <= -2147483648.0f) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

std::uint8_t angle_to_record_byte(MinutiaeRecordKind kind, int angle) {
  // Degrees of the reversed direction, computed in single precision.
  int degrees = static_cast<int>(static_cast<float>(240 - angle) * 1.5f);
  if (degrees < 0 || degrees > 359) degrees = 0;
  return static_cast<std::uint8_t>(degrees * layout_of(kind).angleDivisorScale / 360);
}

int record_byte_to_angle(MinutiaeRecordKind kind, std::uint8_t byte) {
  const int degrees = kind == MinutiaeRecordKind::Iso ? byte * 360 / 255 : byte * 2;
  const int c = 360 - degrees;
  // floor(2c / 3); ANSI bytes above 180 give negative values, which are
  // turned back into the 0..239 range (an ISO byte of 0 still gives 240,
  // which the template reader reduces).
  int angle = c >= 0 ? 2 * c / 3 : -((-2 * c + 2) / 3);
  if (angle < 0) angle += 240;
  return angle;
}

std::size_t write_minutiae_record(MinutiaeRecordKind kind, const FeatureRecord& record,
                                  std::span<std::uint8_t> out, std::uint8_t fingerPosition,
                                  int width, int height) {
  const Layout L = layout_of(kind);
  ByteWriter w(out);
  if (kind == MinutiaeRecordKind::Iso) {
    put_iso_header(w, width, height, kPixelsPerCm, kPixelsPerCm, fingerPosition);
  } else {
    w.bytes(kMagic, 4);
    w.bytes(kVersion, 4);
    w.u16(0);  // record length, patched
    w.u16(kAnsiProductOwner);
    w.u16(kAnsiProductType);
    w.u16(0);  // capture equipment
    w.u16(static_cast<std::uint32_t>(width) & 0xFFFF);
    w.u16(static_cast<std::uint32_t>(height) & 0xFFFF);
    w.u16(kPixelsPerCm);
    w.u16(kPixelsPerCm);
    w.u8(1);
    w.u8(0);
    w.u8(fingerPosition);
    w.u8(0);
    w.u8(kQuality);
    w.u8(0);  // minutiae count, patched
  }

  // The first 100 minutiae of the record are considered; those outside the
  // record's coordinate range are left out.
  const int considered = std::clamp(record.minutiaCount, 0, kRecordMaxMinutiae);
  int written = 0;
  for (int i = 0; i < considered; ++i) {
    const int x = record.minutiaX[i];
    const int y = record.minutiaY[i];
    if (!in_record_range(x) || !in_record_range(y)) continue;
    put_entry(w, x, y, static_cast<unsigned>(record.minutiaType[i] + 1),
              angle_to_record_byte(kind, record.minutiaAngle[i]), kQuality);
    ++written;
  }
  w.u16(0);  // extended data length
  if (!w.ok()) return 0;

  const std::size_t length = w.pos();
  out[L.countAt] = static_cast<std::uint8_t>(written);
  ByteWriter patch(out);
  if (L.lengthBytes == 4)
    patch.patch_u32(8, static_cast<std::uint32_t>(length));
  else
    patch.patch_u16(8, static_cast<std::uint32_t>(length));
  return length;
}

std::size_t minutiae_record_read_limit(MinutiaeRecordKind kind) {
  return layout_of(kind).entriesAt + kRecordReadMinutiae * kMinutiaEntrySize;
}

int minutiae_record_to_nuvel(MinutiaeRecordKind kind, std::span<const std::uint8_t> record,
                             std::span<std::uint8_t> out) {
  const Layout L = layout_of(kind);
  ByteReader r(record);
  std::uint8_t magic[3] = {};
  r.bytes(magic, 3);
  r.seek(8);
  const std::uint64_t declared = L.lengthBytes == 4 ? r.u32() : r.u16();
  r.seek(L.countAt);
  const int count = r.u8();
  if (!r.ok() || magic[0] != 'F' || magic[1] != 'M' || magic[2] != 'R') return kBadTemplate;
  // Every declared minutia must lie inside the record's own length, and the
  // ones read inside the data.
  if (L.entriesAt + static_cast<std::uint64_t>(count) * kMinutiaEntrySize > declared)
    return kBadTemplate;
  const int used = std::min(count, kRecordReadMinutiae);
  if (!r.has(L.entriesAt - r.pos() + used * kMinutiaEntrySize)) return kBadTemplate;

  struct Entry {
    int x, y, type, angle;
  };
  Entry entries[kRecordReadMinutiae];
  OriginFinder finder;
  r.seek(L.entriesAt);
  for (int i = 0; i < used; ++i) {
    const std::uint8_t b0 = r.u8();
    const std::uint8_t b1 = r.u8();
    const std::uint8_t b2 = r.u8();
    const std::uint8_t b3 = r.u8();
    const std::uint8_t angle = r.u8();
    r.u8();  // minutia quality
    Entry& e = entries[i];
    e.x = (b0 & 0x3F) << 8 | b1;
    e.y = (b2 & 0x3F) << 8 | b3;
    e.type = ((b0 >> 6) - 1) & 3;
    e.angle = record_byte_to_angle(kind, angle);
    finder.add(e.x, e.y);
  }

  NuvelBuilder b(out, 0, kNuvelConvertedBorderDensity, finder.origin());
  b.set_minutia_cap(L.nuvelCap);
  for (int i = 0; i < used; ++i) b.add_minutia(entries[i].x, entries[i].y, entries[i].type, entries[i].angle);
  const std::size_t length = b.finish();
  return length == 0 ? kBadTemplate : static_cast<int>(length);
}

}  // namespace zyl::api

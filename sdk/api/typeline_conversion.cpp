// Type-line minutiae to an ISO record or a native template.
#include <algorithm>
#include <cstring>

#include "api/iso_ansi_record.h"
#include "api/nuvel_codec.h"
#include "common/byte_io.h"
#include "zylscan/typeline_template.h"

namespace zyl::api {

namespace {

constexpr int kTypelineFingerPosition = 7;
constexpr int kTypelineNuvelCap = 50;
constexpr int kMaxRecordCoordinate = 1024;

std::span<std::uint8_t> cleared(std::span<std::uint8_t> out) {
  out = out.first(std::min(out.size(), kConvertedBufferSize));
  std::fill(out.begin(), out.end(), 0);
  return out;
}

std::span<const TypelineMinutia> first_entries(std::span<const TypelineMinutia> entries) {
  return entries.first(std::min<std::size_t>(entries.size(), kRecordReadMinutiae));
}

}  // namespace

std::size_t typeline_to_iso(std::span<const TypelineMinutia> entries, std::span<std::uint8_t> out,
                            int width, int height, int xResolution, int yResolution) {
  out = cleared(out);
  ByteWriter w(out);
  const std::uint8_t magic[8] = {'F', 'M', 'R', 0, ' ', '2', '0', 0};
  w.bytes(magic, 8);
  w.u32(0);  // record length, patched
  w.u16(0);
  for (int v : {width, height, xResolution, yResolution}) w.u16(static_cast<std::uint32_t>(v) & 0xFFFF);
  w.u8(1);
  w.u8(0);
  w.u8(kTypelineFingerPosition);
  w.u8(0);
  w.u8(100);
  w.u8(0);  // minutiae count, patched
  int written = 0;
  for (const TypelineMinutia& m : first_entries(entries)) {
    if (m.x < 0 || m.y < 0 || m.x > kMaxRecordCoordinate || m.y > kMaxRecordCoordinate) continue;
    // Whole degrees of the stored direction (not reversed), in 256ths of a
    // turn; a direction past the turn wraps instead of overflowing the byte.
    const int degrees = static_cast<int>(m.direction * 1.5) % 360;
    w.u8(static_cast<unsigned>(m.x) >> 8 | (m.type & 3u) << 6);
    w.u8(static_cast<unsigned>(m.x) & 0xFF);
    w.u8(static_cast<unsigned>(m.y) >> 8);
    w.u8(static_cast<unsigned>(m.y) & 0xFF);
    w.u8(static_cast<unsigned>(degrees * 256 / 360));
    w.u8(m.quality);
    ++written;
  }
  w.u16(0);  // extended data length
  if (!w.ok()) return 0;
  out[27] = static_cast<std::uint8_t>(written);
  w.patch_u32(8, static_cast<std::uint32_t>(w.pos()));
  return w.pos();
}

std::size_t typeline_to_nuvel(std::span<const TypelineMinutia> entries,
                              std::span<std::uint8_t> out) {
  out = cleared(out);
  entries = first_entries(entries);
  OriginFinder finder;
  for (const TypelineMinutia& m : entries) finder.add(m.x, m.y);
  NuvelBuilder b(out, 0, kNuvelConvertedBorderDensity, finder.origin());
  b.set_minutia_cap(kTypelineNuvelCap);
  for (const TypelineMinutia& m : entries) b.add_minutia(m.x, m.y, m.type, m.direction);
  return b.finish();
}

}  // namespace zyl::api

#include "api/idcard_feature.h"

#include <algorithm>
#include <memory>

#include "api/iso_ansi_record.h"
#include "api/nuvel_codec.h"
#include "common/byte_io.h"
#include "device/crc8.h"

namespace zyl::api {

namespace {

constexpr std::uint8_t kTag = 'C';
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kCountAt = 19;
constexpr std::size_t kCoresAt = 22;
constexpr std::size_t kMinutiaeAt = 31;
constexpr int kCoreEntries = 3;
constexpr int kMaxX = 255;
constexpr int kMaxY = 359;
// Offsets from the origin kept when a card is read into a native template.
constexpr int kNuvelMaxDx = 256;
constexpr int kNuvelMaxDy = 360;
constexpr int kNuvelCap = 60;
constexpr int kNuvelSingularCap = 4;

// Degrees of the reversed direction of a 240-step angle, 360 written as 0.
int card_degrees(int angle) {
  const int degrees = round_half_up(static_cast<float>(240 - angle) * 1.5f);
  return degrees == 360 ? 0 : degrees;
}

// The inverse; degrees above 359 are brought back into the turn rather than
// giving negative angles.
int card_angle(int degrees) {
  int angle = 240 - round_half_up(static_cast<float>(degrees) / 1.5f);
  angle %= 240;
  return angle < 0 ? angle + 240 : angle;
}

struct CardPoint {
  int x, y, angle;
};

struct CardContents {
  std::uint8_t secondaryCode = 0;
  int cores = 0;
  CardPoint core[kCoreEntries]{};
  int minutiae = 0;
  CardPoint minutia[kIdCardMaxMinutiae]{};
};

enum class CardCheck { Ok, BadTag, BadVersion, Empty };

CardCheck read_card(std::span<const std::uint8_t> card, CardContents& c) {
  ByteReader r(card);
  if (card.size() < kIdCardSize) return CardCheck::BadTag;
  if (r.u8() != kTag) return CardCheck::BadTag;
  r.seek(4);
  if (r.u8() != kVersion) return CardCheck::BadVersion;
  c.secondaryCode = r.u8();
  r.seek(kCountAt);
  const int count = std::min<int>(r.u8(), kIdCardMaxMinutiae);
  if (count == 0) return CardCheck::Empty;

  r.seek(kCoresAt);
  for (int i = 0; i < kCoreEntries; ++i) {
    const int x = r.u8();
    const int yLow = r.u8();
    const int yHigh = r.u8() & 1;
    if ((x | yLow | yHigh) == 0) continue;  // empty entry
    c.core[c.cores++] = {x, yHigh << 8 | yLow, 0};
  }
  r.seek(kMinutiaeAt);
  for (int i = 0; i < count; ++i) {
    const int x = r.u8();
    const int yLow = r.u8();
    const int degreesLow = r.u8();
    const int high = r.u8();
    c.minutia[i] = {x, (high & 1) << 8 | yLow, card_angle((high >> 1 & 1) << 8 | degreesLow)};
  }
  c.minutiae = count;
  return r.ok() ? CardCheck::Ok : CardCheck::BadTag;
}

}  // namespace

std::int32_t nuvel_to_idcard(std::span<const std::uint8_t> nuvel, std::span<std::uint8_t> out,
                             std::uint8_t fingerCode, std::uint8_t secondaryCode) {
  if (out.size() < kIdCardSize || nuvel.empty() || nuvel[0] > 31) return kIdCardBadTemplate;
  auto record = std::make_unique<FeatureRecord>();
  if (decompress_features(nuvel, *record) < 0) return kIdCardBadTemplate;

  std::uint8_t card[kIdCardSize] = {};
  ByteWriter w(card);
  for (std::uint8_t b : {kTag, std::uint8_t{4}, fingerCode, std::uint8_t{2}, kVersion, secondaryCode,
                         std::uint8_t{100}})
    w.u8(b);
  w.fill(0xFF, 12);

  // Core entries: of the first three singular points, each kind-1 point
  // higher up than all before it counts one entry; the highest fills them.
  const int singular = std::min(record->singularCount, 4);
  int entries = 0;
  int topY = kMaxY;
  int coreX = 0, coreY = 0;
  for (int i = 0; i < std::min(singular, kCoreEntries); ++i) {
    const int x = record->singularX[i];
    const int y = record->singularY[i];
    if (record->singularKind[i] != 1 || y >= topY || y < 0 || x < 0 || x > kMaxX) continue;
    topY = y;
    coreX = x;
    coreY = y;
    ++entries;
  }
  w.fill(0, 3);  // count and length, patched below
  for (int i = 0; i < entries; ++i) {
    w.u8(static_cast<std::uint32_t>(coreX));
    w.u8(static_cast<std::uint32_t>(coreY) & 0xFF);
    w.u8(static_cast<std::uint32_t>(coreY) >> 8);
  }

  w.fill(0, static_cast<std::size_t>(kCoreEntries - entries) * 3);
  int written = 0;
  const int considered = std::min(record->minutiaCount, kIdCardMaxMinutiae);
  for (int i = 0; i < considered; ++i) {
    const int x = record->minutiaX[i];
    const int y = record->minutiaY[i];
    if (x < 0 || y < 0 || x > kMaxX || y > kMaxY) continue;
    const int degrees = card_degrees(record->minutiaAngle[i]);
    w.u8(static_cast<std::uint32_t>(x));
    w.u8(static_cast<std::uint32_t>(y) & 0xFF);
    w.u8(static_cast<std::uint32_t>(degrees) & 0xFF);
    w.u8(0xFCu | (static_cast<std::uint32_t>(degrees) >> 8 & 1u) << 1 |
         static_cast<std::uint32_t>(y) >> 8);
    ++written;
  }
  card[kCountAt] = static_cast<std::uint8_t>(written);
  w.patch_u16(20, static_cast<std::uint32_t>(written * 4 + 9));
  card[kIdCardSize - 1] = device::crc8(std::span<const std::uint8_t>(card, kIdCardSize - 1));
  std::copy(card, card + kIdCardSize, out.begin());
  return kIdCardWritten;
}

std::int32_t idcard_to_nuvel(std::span<const std::uint8_t> card, std::span<std::uint8_t> out) {
  CardContents c;
  if (read_card(card, c) != CardCheck::Ok) return kBadTemplate;

  OriginFinder finder;
  for (int i = 0; i < c.minutiae; ++i) finder.add(c.minutia[i].x, c.minutia[i].y);
  for (int i = 0; i < c.cores; ++i) finder.add(c.core[i].x, c.core[i].y);
  NuvelBuilder b(out, c.cores > 0 ? kNuvelSingular : 0, kNuvelConvertedBorderDensity,
                 finder.origin());
  b.set_offset_limits(kNuvelMaxDx, kNuvelMaxDy);
  b.set_minutia_cap(kNuvelCap);
  b.set_singular_cap(kNuvelSingularCap);
  for (int i = 0; i < c.minutiae; ++i) b.add_minutia(c.minutia[i].x, c.minutia[i].y, 0, c.minutia[i].angle);
  if (c.cores > 0) {
    b.begin_singular();
    for (int i = 0; i < c.cores; ++i) b.add_singular(c.core[i].x, c.core[i].y, 0, 0);
  }
  const std::size_t length = b.finish();
  return length == 0 ? kBadTemplate : static_cast<std::int32_t>(length);
}

std::int32_t idcard_to_record(std::span<const std::uint8_t> card, FeatureRecord& record,
                              std::uint8_t& secondaryCode) {
  CardContents c;
  switch (read_card(card, c)) {
    case CardCheck::Ok: break;
    case CardCheck::BadVersion: return kIdCardBadVersion;
    default: return kIdCardBadTag;
  }
  secondaryCode = c.secondaryCode;
  record.borderDensity = 0;
  record.minutiaCount = c.minutiae;
  for (int i = 0; i < c.minutiae; ++i) {
    record.minutiaX[i] = c.minutia[i].x;
    record.minutiaY[i] = c.minutia[i].y;
    record.minutiaAngle[i] = c.minutia[i].angle;
    record.minutiaType[i] = 0;
    record.minutiaCurvature[i] = -1;
  }
  record.singularCount = c.cores;
  for (int i = 0; i < c.cores; ++i) {
    record.singularX[i] = c.core[i].x;
    record.singularY[i] = c.core[i].y;
    record.singularAngle[i] = 0;
    record.singularKind[i] = 1;
  }
  record.blockColumns = 0;
  record.blockRows = 0;
  return 0;
}

}  // namespace zyl::api

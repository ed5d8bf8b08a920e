#include <gtest/gtest.h>

#include <vector>

#include "api/iso_ansi_record.h"
#include "api/nuvel_codec.h"
#include "template_test_support.h"
#include "zylscan/minutiae_record.h"
#include "zylscan/nuvel.h"
#include "zylscan/template_format.h"

namespace {

using namespace zyl::test;
using zyl::api::MinutiaeRecordKind;

std::vector<uint8_t> iso_of(const FeatureRecord& r, uint8_t position = 3, int w = 256, int h = 360) {
  std::vector<uint8_t> out(1024, 0xEE);
  out.resize(CompressFeatures_ISO(&r, out.data(), nullptr, position, w, h));
  return out;
}

std::vector<uint8_t> ansi_of(const FeatureRecord& r, uint8_t position = 3, int w = 256, int h = 360) {
  std::vector<uint8_t> out(1024, 0xEE);
  out.resize(CompressFeatures_ANSI(&r, out.data(), nullptr, position, w, h));
  return out;
}

TEST(MinutiaeRecord, IsoHeaderFollowsThePublishedLayout) {
  auto r = empty_record();
  add_minutia(*r, 300, 260, 80, 1);
  const std::vector<uint8_t> expected = {
      'F', 'M', 'R', 0, ' ', '2', '0', 0,  // format identifier, version
      0, 0, 0, 36,                         // record length (4 bytes)
      0, 0,                                // capture equipment
      0x01, 0x2C, 0x01, 0x90,              // image 300 x 400
      0, 197, 0, 197,                      // pixels per centimetre
      1, 0,                                // one finger view, reserved
      5, 0, 100, 1,                        // position, view/impression, quality, count
      0x81, 0x2C, 0x01, 0x04, 170, 100,    // bifurcation at (300, 260), 240 degrees
      0, 0,                                // no extended data
  };
  EXPECT_EQ(iso_of(*r, 5, 300, 400), expected);
}

TEST(MinutiaeRecord, AnsiHeaderFollowsThePublishedLayout) {
  auto r = empty_record();
  add_minutia(*r, 7, 1024, 0, 0);
  const std::vector<uint8_t> expected = {
      'F', 'M', 'R', 0, ' ', '2', '0', 0,  // format identifier, version
      0, 38,                               // record length (2 bytes)
      0, 0, 0, 0,                          // product identifier owner and type
      0, 0,                                // capture equipment
      0x01, 0x00, 0x01, 0x68,              // image 256 x 360
      0, 197, 0, 197,                      // pixels per centimetre
      1, 0,                                // one finger view, reserved
      2, 0, 100, 1,                        // position, view/impression, quality, count
      0x40, 7, 0x04, 0x00, 0, 100,         // ridge ending at (7, 1024), 360 degrees as 0
      0, 0,                                // no extended data
  };
  EXPECT_EQ(ansi_of(*r, 2), expected);
}

TEST(MinutiaeRecord, AngleBytesBothWays) {
  struct Write {
    int angle;
    uint8_t iso, ansi;
  } writes[] = {
      {0, 0, 0},       // 360 degrees counts as 0
      {80, 170, 119},  // 240 degrees
      {120, 127, 89},  // 180 degrees
      {1, 253, 178},   // 358.5 truncated to 358
      {239, 0, 0},     // 1.5 -> 1 degree
      {-5, 0, 0},      // outside the turn
  };
  for (const Write& c : writes) {
    EXPECT_EQ(zyl::api::angle_to_record_byte(MinutiaeRecordKind::Iso, c.angle), c.iso) << c.angle;
    EXPECT_EQ(zyl::api::angle_to_record_byte(MinutiaeRecordKind::Ansi, c.angle), c.ansi) << c.angle;
  }
  struct Read {
    MinutiaeRecordKind kind;
    uint8_t byte;
    int angle;
  } reads[] = {
      {MinutiaeRecordKind::Iso, 0, 240},   // reduced to 0 when the template is read
      {MinutiaeRecordKind::Iso, 128, 120},
      {MinutiaeRecordKind::Iso, 170, 80},
      {MinutiaeRecordKind::Iso, 255, 0},
      {MinutiaeRecordKind::Ansi, 90, 120},
      {MinutiaeRecordKind::Ansi, 180, 0},
      {MinutiaeRecordKind::Ansi, 181, 238},  // 362 degrees
      {MinutiaeRecordKind::Ansi, 255, 140},  // 510 degrees
  };
  for (const Read& c : reads)
    EXPECT_EQ(zyl::api::record_byte_to_angle(c.kind, c.byte), c.angle) << int(c.byte);
}

TEST(MinutiaeRecord, CapsAtOneHundredMinutiae) {
  auto r = empty_record();
  for (int i = 0; i < 120; ++i) add_minutia(*r, i, 2 * i, i, i % 2);
  const std::vector<uint8_t> iso = iso_of(*r);
  ASSERT_EQ(iso.size(), 630u);
  EXPECT_EQ(iso[27], 100);
  EXPECT_EQ(iso[10] << 8 | iso[11], 630);
  EXPECT_EQ(ZYL_getFormatType(iso.data(), int(iso.size())), ZYL_FORMAT_ISO);
  const std::vector<uint8_t> ansi = ansi_of(*r);
  ASSERT_EQ(ansi.size(), 632u);
  EXPECT_EQ(ansi[29], 100);
  EXPECT_EQ(ansi[8] << 8 | ansi[9], 632);
  EXPECT_EQ(ZYL_getFormatType(ansi.data(), int(ansi.size())), ZYL_FORMAT_ANSI);
}

TEST(MinutiaeRecord, SkipsCoordinatesOutsideTheRecordRange) {
  auto r = empty_record();
  add_minutia(*r, 1025, 10, 0);
  add_minutia(*r, 10, -1, 0);
  add_minutia(*r, 1024, 0, 0);
  add_minutia(*r, -3, 5, 0);
  const std::vector<uint8_t> iso = iso_of(*r);
  ASSERT_EQ(iso.size(), 36u);
  EXPECT_EQ(iso[27], 1);
  EXPECT_EQ(iso[28] & 0x3F, 0x04);
  EXPECT_EQ(iso[29], 0x00);
}

// A record of n minutiae at (i, 2i) with the given angle byte.
std::vector<uint8_t> record_with(MinutiaeRecordKind kind, int n, uint8_t angle = 64) {
  auto r = empty_record();
  for (int i = 0; i < n; ++i) add_minutia(*r, 40 + i, 30 + 2 * i, 0, i % 2);
  std::vector<uint8_t> rec = kind == MinutiaeRecordKind::Iso ? iso_of(*r) : ansi_of(*r);
  const std::size_t first = kind == MinutiaeRecordKind::Iso ? 28 : 30;
  for (int i = 0; i < n; ++i) rec[first + 6 * i + 4] = angle;
  return rec;
}

TEST(MinutiaeRecord, ConvertsToNativeTemplates) {
  struct Case {
    MinutiaeRecordKind kind;
    int minutiae;
    int kept;
  } cases[] = {
      {MinutiaeRecordKind::Iso, 100, 60},
      {MinutiaeRecordKind::Ansi, 100, 90},
      {MinutiaeRecordKind::Iso, 5, 5},
      {MinutiaeRecordKind::Ansi, 0, 0},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> rec = record_with(c.kind, c.minutiae);
    std::vector<uint8_t> nuvel(1024, 0xEE);
    int32_t length = -1;
    const int status = c.kind == MinutiaeRecordKind::Iso
                           ? ZylISOToNuvel(rec.data(), nuvel.data(), &length)
                           : ZylANSIToNuvel(rec.data(), nuvel.data(), &length);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(length, 7 + 4 * c.kept);
    EXPECT_EQ(nuvel[0], 0);
    EXPECT_EQ(nuvel[1], 150);
    EXPECT_EQ(GetFeatureNum(nuvel.data()), c.kept);
    auto back = empty_record();
    ASSERT_EQ(DecompressFeatures(nuvel.data(), back.get()), length);
    for (int i = 0; i < c.kept; ++i) {
      EXPECT_EQ(back->minutiaX[i], 40 + i);
      EXPECT_EQ(back->minutiaY[i], 30 + 2 * i);
    }
  }
}

TEST(MinutiaeRecord, WrittenAndReadBackKeepsTheDirection) {
  auto r = empty_record();
  for (int a = 0; a < 240; a += 3) add_minutia(*r, a, 500 - a, a, 0);
  for (MinutiaeRecordKind kind : {MinutiaeRecordKind::Iso, MinutiaeRecordKind::Ansi}) {
    const std::vector<uint8_t> rec = kind == MinutiaeRecordKind::Iso ? iso_of(*r) : ansi_of(*r);
    std::vector<uint8_t> nuvel(1024);
    ASSERT_GT(zyl::api::minutiae_record_to_nuvel(kind, rec, nuvel), 0);
    auto back = empty_record();
    ASSERT_GT(zyl::api::decompress_features(nuvel, *back), 0);
    ASSERT_EQ(back->minutiaCount, std::min(r->minutiaCount, kind == MinutiaeRecordKind::Iso ? 60 : 90));
    for (int i = 0; i < back->minutiaCount; ++i) {
      int diff = std::abs(back->minutiaAngle[i] - r->minutiaAngle[i]);
      diff = std::min(diff, 240 - diff);
      EXPECT_LE(diff, 3) << "angle " << r->minutiaAngle[i];
      EXPECT_EQ(back->minutiaX[i], r->minutiaX[i]);
    }
  }
}

TEST(MinutiaeRecord, RefusesMalformedRecords) {
  const std::vector<uint8_t> good = record_with(MinutiaeRecordKind::Iso, 10);
  std::vector<uint8_t> not_fmr = good;
  not_fmr[2] = 'X';
  std::vector<uint8_t> count_past_length = good;
  count_past_length[27] = 11;  // 11 minutiae in a record declared 90 bytes long
  std::vector<uint8_t> short_length = good;
  short_length[11] = 20;
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    int result;
  } cases[] = {
      {"good", good, 47},
      {"not FMR", not_fmr, ZYL_ERR_NOT_MINUTIAE_RECORD},
      {"count beyond the declared length", count_past_length, ZYL_ERR_NOT_MINUTIAE_RECORD},
      {"declared length shorter than the header", short_length, ZYL_ERR_NOT_MINUTIAE_RECORD},
      {"data cut inside the minutiae", std::vector<uint8_t>(good.begin(), good.begin() + 60), ZYL_ERR_NOT_MINUTIAE_RECORD},
      {"data cut inside the header", std::vector<uint8_t>(good.begin(), good.begin() + 20), ZYL_ERR_NOT_MINUTIAE_RECORD},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> nuvel(1024);
    EXPECT_EQ(zyl::api::minutiae_record_to_nuvel(MinutiaeRecordKind::Iso, c.data, nuvel), c.result)
        << c.name;
  }
  std::vector<uint8_t> out(1024);
  int32_t length = 0;
  EXPECT_EQ(ZylISOToNuvel(not_fmr.data(), out.data(), &length), ZYL_ERR_NOT_MINUTIAE_RECORD);
  EXPECT_EQ(ZylANSIToNuvel(nullptr, out.data(), &length), -4);
}

TEST(MinutiaeRecord, ReadsOnlyTheFirstNinetyEntriesOfLongRecords) {
  // 255 minutiae declared and present; the converter looks at 90 of them.
  auto rec = record_with(MinutiaeRecordKind::Ansi, 0);
  rec.resize(32 + 6 * 255, 0);
  rec[8] = uint8_t((32 + 6 * 255) >> 8);
  rec[9] = uint8_t(32 + 6 * 255);
  rec[29] = 255;
  for (int i = 0; i < 255; ++i) {
    rec[30 + 6 * i] = 0x40;
    rec[30 + 6 * i + 1] = uint8_t(i);
  }
  std::vector<uint8_t> nuvel(1024);
  const std::size_t needed = zyl::api::minutiae_record_read_limit(MinutiaeRecordKind::Ansi);
  EXPECT_EQ(needed, 30u + 90 * 6);
  EXPECT_EQ(zyl::api::minutiae_record_to_nuvel(
                MinutiaeRecordKind::Ansi, std::span<const uint8_t>(rec.data(), needed), nuvel),
            7 + 90 * 4);
}

TEST(MinutiaeRecord, RoundHalfUp) {
  struct Case {
    float x;
    int expected;
  } cases[] = {{0.5f, 1}, {1.49f, 1}, {358.5f, 359}, {-0.4f, 0}, {-1.6f, -1},
               {1e20f, 2147483647}, {-1e20f, -2147483647 - 1}};
  for (const Case& c : cases) EXPECT_EQ(myround(c.x), c.expected) << c.x;
  EXPECT_EQ(myround(std::numeric_limits<float>::quiet_NaN()), 0);
}

}  // namespace

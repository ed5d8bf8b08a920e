#include <gtest/gtest.h>

#include <vector>

#include "api/nuvel_codec.h"
#include "template_test_support.h"
#include "zylscan/crc8.h"
#include "zylscan/idcard_feature.h"
#include "zylscan/nuvel.h"

namespace {

using namespace zyl::test;

std::vector<uint8_t> nuvel_of(const FeatureRecord& r) {
  std::vector<uint8_t> out(1024);
  out.resize(zyl::api::compress_features(r, out, {}));
  return out;
}

std::vector<uint8_t> card_of(const FeatureRecord& r, uint8_t finger = 17, uint8_t secondary = 1) {
  const std::vector<uint8_t> nuvel = nuvel_of(r);
  std::vector<uint8_t> card(512, 0xEE);
  EXPECT_EQ(ZYL_Zylfea2IDCardfea(nuvel.data(), int32_t(nuvel.size()), card.data(), finger, secondary), 1);
  return card;
}

TEST(IdCardFeature, WritesHeaderMinutiaeAndCrc) {
  auto r = empty_record();
  add_minutia(*r, 10, 20, 0);    // 360 degrees, written as 0
  add_minutia(*r, 11, 21, 1);    // 358.5 -> 359: 0x67 with degree bit 8
  add_minutia(*r, 256, 30, 5);   // x above 255: left out
  add_minutia(*r, 12, 300, 80);  // y bit 8, 240 degrees
  add_minutia(*r, 13, 360, 80);  // y above 359: left out
  const std::vector<uint8_t> card = card_of(*r, 17, 1);

  const std::vector<uint8_t> header = {'C', 4, 17, 2, 1, 1, 100, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 21};
  EXPECT_EQ(std::vector<uint8_t>(card.begin(), card.begin() + 22), header);
  EXPECT_EQ(std::vector<uint8_t>(card.begin() + 22, card.begin() + 31), std::vector<uint8_t>(9, 0));
  const std::vector<uint8_t> minutiae = {10, 20, 0, 0xFC, 11, 21, 0x67, 0xFE, 12, 44, 240, 0xFD};
  EXPECT_EQ(std::vector<uint8_t>(card.begin() + 31, card.begin() + 43), minutiae);
  EXPECT_EQ(std::vector<uint8_t>(card.begin() + 43, card.begin() + 511),
            std::vector<uint8_t>(468, 0));
  EXPECT_EQ(card[511], CRC8_BlockChecksum(card.data(), 511));
}

TEST(IdCardFeature, CoreEntriesHoldTheHighestKindOneCore) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> points;  // (y, kind); x is 100 + index
    int entries;
    int x, y;
  } cases[] = {
      {"one core", {{200, 1}}, 1, 100, 200},
      {"rising cores count twice", {{200, 1}, {150, -1}, {100, 1}}, 2, 102, 100},
      {"a lower core is not counted", {{100, 1}, {200, 1}}, 1, 100, 100},
      {"only the first three points", {{300, -1}, {300, -1}, {300, -1}, {50, 1}}, 0, 0, 0},
      {"y of 359 does not fit", {{359, 1}}, 0, 0, 0},
      {"y above 255 uses bit 8", {{300, 1}}, 1, 100, 300},
  };
  for (const Case& c : cases) {
    auto r = empty_record();
    add_minutia(*r, 1, 1, 0);
    for (std::size_t i = 0; i < c.points.size(); ++i)
      add_singular(*r, 100 + int(i), c.points[i].first, 0, c.points[i].second);
    const std::vector<uint8_t> card = card_of(*r);
    for (int e = 0; e < 3; ++e) {
      const uint8_t* entry = card.data() + 22 + 3 * e;
      if (e < c.entries) {
        EXPECT_EQ(entry[0], c.x) << c.name;
        EXPECT_EQ(entry[1], c.y & 0xFF) << c.name;
        EXPECT_EQ(entry[2], c.y >> 8) << c.name;
      } else {
        EXPECT_EQ(entry[0] | entry[1] | entry[2], 0) << c.name << " entry " << e;
      }
    }
  }
}

TEST(IdCardFeature, WriterRefusals) {
  std::vector<uint8_t> nuvel = nuvel_header(32, 0, 0, 0, 0);
  std::vector<uint8_t> card(512, 0xEE);
  EXPECT_EQ(ZYL_Zylfea2IDCardfea(nuvel.data(), 7, card.data(), 1, 1), -1);
  nuvel[0] = 0x18;  // unknown flag bits are accepted
  EXPECT_EQ(ZYL_Zylfea2IDCardfea(nuvel.data(), 7, card.data(), 1, 1), 1);
  std::vector<uint8_t> cut = nuvel_header(0, 0, 0, 0, 3);
  EXPECT_EQ(ZYL_Zylfea2IDCardfea(cut.data(), int32_t(cut.size()), card.data(), 1, 1), -1);
  EXPECT_EQ(ZYL_Zylfea2IDCardfea(nullptr, 7, card.data(), 1, 1), -4);
}

std::vector<uint8_t> raw_card(int count) {
  std::vector<uint8_t> card(512, 0);
  card[0] = 'C';
  card[4] = 1;
  card[5] = 9;
  card[19] = uint8_t(count);
  for (int i = 0; i < std::min(count, 120); ++i) {
    card[31 + 4 * i] = uint8_t(i);
    card[32 + 4 * i] = uint8_t(i);
    card[34 + 4 * i] = 0xFC;
  }
  return card;
}

TEST(IdCardFeature, ReadersRefuseBadCards) {
  std::vector<uint8_t> wrong_tag = raw_card(3);
  wrong_tag[0] = 'D';
  std::vector<uint8_t> version2 = raw_card(3);
  version2[4] = 2;
  struct Case {
    const char* name;
    std::vector<uint8_t> card;
    int nuvelResult, recordResult;
  } cases[] = {
      {"wrong tag", wrong_tag, ZYL_ERR_BAD_TEMPLATE, -1},
      {"byte 4 is 2", version2, ZYL_ERR_BAD_TEMPLATE, -2},
      {"no minutiae", raw_card(0), ZYL_ERR_BAD_TEMPLATE, -1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(1024, 0xEE);
    EXPECT_EQ(IDcardfea2Nuvelfea(c.card.data(), out.data()), c.nuvelResult) << c.name;
    EXPECT_EQ(out[0], 0xEE) << c.name;
    auto r = empty_record();
    r->minutiaCount = 5;
    uint8_t secondary = 77;
    EXPECT_EQ(DecompressFeaturesIdcardtoNuvel(c.card.data(), r.get(), &secondary), c.recordResult)
        << c.name;
    EXPECT_EQ(secondary, 77) << c.name;
    EXPECT_EQ(r->minutiaCount, 5) << c.name;
  }
}

TEST(IdCardFeature, ReadsAtMostOneHundredTwentyMinutiae) {
  const std::vector<uint8_t> card = raw_card(130);
  auto r = empty_record();
  uint8_t secondary = 0;
  ASSERT_EQ(DecompressFeaturesIdcardtoNuvel(card.data(), r.get(), &secondary), 0);
  EXPECT_EQ(r->minutiaCount, 120);
  EXPECT_EQ(secondary, 9);
  std::vector<uint8_t> out(1024);
  const int length = IDcardfea2Nuvelfea(card.data(), out.data());
  EXPECT_EQ(length, 7 + 60 * 4);  // the native template keeps 60
}

TEST(IdCardFeature, RoundTripThroughTheCard) {
  auto r = empty_record();
  for (int i = 0; i < 30; ++i) add_minutia(*r, 20 + 7 * i, 10 + 11 * i, (i * 37) % 240, 1);
  add_singular(*r, 120, 140, 33, 1);
  const std::vector<uint8_t> card = card_of(*r);

  auto rec = empty_record();
  uint8_t secondary = 0;
  ASSERT_EQ(DecompressFeaturesIdcardtoNuvel(card.data(), rec.get(), &secondary), 0);
  std::vector<uint8_t> nuvel(1024);
  const int length = IDcardfea2Nuvelfea(card.data(), nuvel.data());
  ASSERT_EQ(length, 7 + 30 * 4 + 1 + 4);
  EXPECT_EQ(nuvel[0], 2);
  EXPECT_EQ(nuvel[1], 150);
  auto fromNuvel = empty_record();
  ASSERT_GT(DecompressFeatures(nuvel.data(), fromNuvel.get()), 0);

  for (const FeatureRecord* back : {rec.get(), fromNuvel.get()}) {
    ASSERT_EQ(back->minutiaCount, 30);
    for (int i = 0; i < 30; ++i) {
      EXPECT_EQ(back->minutiaX[i], r->minutiaX[i]);
      EXPECT_EQ(back->minutiaY[i], r->minutiaY[i]);
      EXPECT_EQ(back->minutiaAngle[i], r->minutiaAngle[i]);  // 1.5-degree steps survive
      EXPECT_EQ(back->minutiaType[i], 0);
    }
    ASSERT_EQ(back->singularCount, 1);
    EXPECT_EQ(back->singularX[0], 120);
    EXPECT_EQ(back->singularY[0], 140);
    EXPECT_EQ(back->singularAngle[0], 0);
  }
  EXPECT_EQ(rec->singularKind[0], 1);
  EXPECT_EQ(fromNuvel->singularKind[0], 0);
  EXPECT_EQ(rec->borderDensity, 0);
}

TEST(IdCardFeature, DegreesPastTheTurnStayInRange) {
  std::vector<uint8_t> card = raw_card(3);
  const int degrees[] = {360, 361, 511};
  const int angles[] = {0, 239, 139};
  for (int i = 0; i < 3; ++i) {
    card[33 + 4 * i] = uint8_t(degrees[i]);
    card[34 + 4 * i] = uint8_t(0xFC | (degrees[i] >> 8) << 1);
  }
  auto r = empty_record();
  uint8_t secondary = 0;
  ASSERT_EQ(DecompressFeaturesIdcardtoNuvel(card.data(), r.get(), &secondary), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r->minutiaAngle[i], angles[i]) << degrees[i];
}

}  // namespace

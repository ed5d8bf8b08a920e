#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "api/feature_calls.h"
#include "support/device_fixture.h"
#include "support/pgm.h"
#include "zylscan/crc8.h"
#include "zylscan/template_format.h"
#include "zylscan/xw.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylfpscan_image.h"

using zyl::device::ScoreMatches;
using zyl::device::SecurityThreshold;

namespace {

using Buffer = std::vector<std::uint8_t>;

std::string Image(const std::string& name) { return "image " + zyl::test::test_data(name) + "\n"; }

// Prints of the large sensor's scenario, served in this order.
const std::string kPrints = Image("fvc2004_102_1.pgm") + Image("fvc2004_102_2.pgm") + Image("fvc2004_103_1.pgm");

}  // namespace

TEST(SecurityLevels, ThresholdsAtTheirEdges) {
  const int thresholds[] = {23, 29, 35, 47, 59, 71, 83, 95, 107, 119, 131};
  for (int level = 1; level <= 11; ++level) {
    const int t = thresholds[level - 1];
    EXPECT_EQ(SecurityThreshold(level), t);
    EXPECT_FALSE(ScoreMatches(t, level)) << level;
    EXPECT_TRUE(ScoreMatches(t + 1, level)) << level;
  }
  EXPECT_TRUE(ScoreMatches(24, 1));
  EXPECT_FALSE(ScoreMatches(24, 2));
  EXPECT_FALSE(zyl::device::ValidSecurityLevel(0));
  EXPECT_FALSE(zyl::device::ValidSecurityLevel(12));
}

class FeatureCallsTest : public DeviceTest {
 protected:
  Buffer CaptureAndExtract(int expected = 0) {
    Buffer image(static_cast<std::size_t>(record().width) * record().height);
    EXPECT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
    Buffer feature(ZYLFPSCAN_FEATURE_SIZE, 0xEE);
    EXPECT_EQ(ZYLFPSCAN_ExtractFeature(handle_, 0, feature.data()), expected);
    return feature;
  }
  Buffer LastImage() {
    return {record().lastImage.begin(), record().lastImage.begin() + record().width * record().height};
  }
  struct Outcome {
    int rc, score, match;
  };
  Outcome Verify(int level, const Buffer& a, const Buffer& b) {
    Outcome o{0, -77, -77};
    o.rc = ZYLFPSCAN_Verify(handle_, level, a.data(), b.data(), &o.score, &o.match);
    return o;
  }
};

TEST_F(FeatureCallsTest, SameFingerMatchesOtherFingerDoesNotAtLevel5) {
  Open("device vid1:0x1024\n" + kPrints);
  ASSERT_EQ(AlgMode, 0);
  const Buffer first = CaptureAndExtract(), second = CaptureAndExtract(), other = CaptureAndExtract();
  for (const auto* f : {&first, &second, &other}) {
    EXPECT_GT((*f)[5], 4) << "minutiae";
    EXPECT_EQ(ZYL_getFormatType(f->data(), 1024), ZYL_FORMAT_NUVEL);
  }
  const auto same = Verify(5, first, second);
  EXPECT_EQ(same.rc, 0);
  EXPECT_GT(same.score, 59);
  EXPECT_EQ(same.match, 1);
  const auto different = Verify(5, first, other);
  EXPECT_EQ(different.rc, 0);
  EXPECT_LE(different.score, 59);
  EXPECT_EQ(different.match, 0);

  // The enrolled-finger shape: three slots, the best one decides.
  Buffer slots(3 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  std::copy(other.begin(), other.end(), slots.begin());
  std::copy(second.begin(), second.end(), slots.begin() + ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
  std::copy(other.begin(), other.end(), slots.begin() + 2 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
  int best = -1, result = -1;
  EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, 5, first.data(), 3, slots.data(), &best, &result), ZYLFPSCAN_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(best, same.score);
  EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, 5, other.data(), 1, slots.data() + ZYLFPSCAN_TEMPLATE_SLOT_SIZE, &best,
                                &result),
            ZYLFPSCAN_NO_MATCH);
  EXPECT_EQ(result, 1);
  EXPECT_LE(best, 59);
}

TEST_F(FeatureCallsTest, VerifyExtDecidesTheBestScoreAtItsOwnLevel) {
  Open("device vid1:0x1024\n" + kPrints);
  const Buffer first = CaptureAndExtract(), second = CaptureAndExtract();
  const int score = Verify(1, first, second).score;
  ASSERT_GT(score, 23);
  ASSERT_LT(score, 1000);
  Buffer slot(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  std::copy(second.begin(), second.end(), slot.begin());
  for (int level = 1; level <= 11; ++level) {
    int best = -1, result = -1;
    const int rc = ZYLFPSCAN_VerifyExt(handle_, level, first.data(), 1, slot.data(), &best, &result);
    EXPECT_EQ(best, score);
    EXPECT_EQ(rc, score > SecurityThreshold(level) ? 0 : 1) << level;
    EXPECT_EQ(result, rc);
  }
}

TEST_F(FeatureCallsTest, ScoresAreKeptInsideTheirRange) {
  Open("device vid1:0x1024\n" + kPrints);
  const Buffer t = CaptureAndExtract();
  auto* context = record().algorithmContext;
  // A large score scale takes a template against itself far above 1000.
  ASSERT_EQ(XWSetAdditionalParameter(20021, 100000, context), XW_OK);
  auto o = Verify(11, t, t);
  EXPECT_EQ(o.rc, 0);
  EXPECT_EQ(o.score, 1000);
  EXPECT_EQ(o.match, 1);
  // A large negative offset takes it below 0: no match, not a failure.
  ASSERT_EQ(XWSetAdditionalParameter(20021, 535, context), XW_OK);
  ASSERT_EQ(XWSetAdditionalParameter(20022, -10000000, context), XW_OK);
  o = Verify(1, t, t);
  EXPECT_EQ(o.rc, 0);
  EXPECT_EQ(o.score, 0);
  EXPECT_EQ(o.match, 0);
}

TEST_F(FeatureCallsTest, IsoFeatureAgainstNativeTemplateMatches) {
  Open("device vid1:0x1024\n" + kPrints);
  Buffer image(300 * 400);
  ASSERT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
  Buffer iso(1024, 0xEE), ansi(1024, 0xEE);
  ASSERT_EQ(ZYLFPSCAN_ExtractISOFeature(handle_, 0x103, iso.data()), ZYLFPSCAN_OK) << "position: low 8 bits";
  ASSERT_EQ(ZYLFPSCAN_ExtractANSIFeature(handle_, 3, ansi.data()), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYL_getFormatType(iso.data(), 1024), ZYL_FORMAT_ISO);
  EXPECT_EQ(ZYL_getFormatType(ansi.data(), 1024), ZYL_FORMAT_ANSI);
  EXPECT_EQ(iso[24], 3);
  EXPECT_EQ(iso[14] * 256 + iso[15], 300);
  const Buffer native = CaptureAndExtract();
  for (const Buffer* record : {&iso, &ansi}) {
    const auto o = Verify(5, *record, native);
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(o.match, 1) << o.score;
  }
}

TEST_F(FeatureCallsTest, ExtractionLeavesTheLastImageAsCaptured) {
  Open("device vid1:0x1024\n" + kPrints);
  const Buffer feature = CaptureAndExtract();
  const Buffer captured = LastImage();
  Buffer again(1024, 0);
  ASSERT_EQ(ZYLFPSCAN_ExtractFeature(handle_, 10, again.data()), ZYLFPSCAN_OK);
  EXPECT_EQ(LastImage(), captured);
  EXPECT_EQ(again, feature) << "the second extraction sees the same image";
  Buffer iso(1024);
  ASSERT_EQ(ZYLFPSCAN_ExtractISOFeature(handle_, 1, iso.data()), ZYLFPSCAN_OK);
  EXPECT_EQ(LastImage(), captured);
}

TEST_F(FeatureCallsTest, TooFewMinutiaeOnAWideImage) {
  Open("device vid1:0x2024\nimage solid=255\n");
  Buffer feature = CaptureAndExtract(-221);
  EXPECT_LE(feature[5], 4);
  Buffer iso(1024, 0xEE);
  EXPECT_EQ(ZYLFPSCAN_ExtractCIDFeature(handle_, 0, iso.data()), ZYLFPSCAN_ERR_EXTRACT);
}

TEST_F(FeatureCallsTest, NarrowImagesReportTheEngineResult) {
  // 0x2021 (192 x 192) selects the matcher library: its result, into a
  // whole template slot. A blank image has nothing to extract.
  Open("device vid1:0x2021\n" + Image("fvc2002_101_1_160.pgm") + "image solid=255\n");
  ASSERT_EQ(AlgMode, 3);
  Buffer image(192 * 192);
  ASSERT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
  Buffer feature(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0xEE);
  EXPECT_EQ(ZYLFPSCAN_ExtractFeature(handle_, 0, feature.data()), ZYLFPSCAN_OK);
  EXPECT_EQ(feature[0], 79) << "a wrapped template of the matcher";
  ASSERT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
  const int blank = ZYLFPSCAN_ExtractFeature(handle_, 0, feature.data());
  if (blank != 0) {
    EXPECT_GT(blank, 0) << "the library's own status";
    EXPECT_TRUE(std::all_of(feature.begin(), feature.end(), [](auto b) { return b == 0; })) << "zeroed whole";
  }
  int score = -1, match = -1;
  Buffer past(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  past[1] = past[2] = 0xFF;
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 5, past.data(), past.data(), &score, &match), -17);
  EXPECT_EQ(score, 0) << "a failed comparison is no score";
  EXPECT_EQ(match, 0);
  setAlgMode(0);
  // 192 x 192 on the skeleton road: its own result, whatever the count.
  const int rc = ZYLFPSCAN_ExtractFeature(handle_, 0, feature.data());
  EXPECT_TRUE(rc == 0 || rc == -103) << rc;
  EXPECT_LT(feature[0], 0x20);
}

TEST_F(FeatureCallsTest, TypelineRoadAnswersSuccessForMinutiaeAndFailureForNone) {
  // A 192 x 192 scanner whose application picks the type-line engine: a
  // print, then a blank image.
  Open("device vid1:0x2021\n" + Image("fvc2002_101_1_160.pgm") + "image solid=255\n");
  setAlgMode(2);
  Buffer image(192 * 192);
  ASSERT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
  Buffer feature(1024, 0xEE);
  EXPECT_EQ(ZYLFPSCAN_ExtractFeature(handle_, 0, feature.data()), ZYLFPSCAN_OK) << "a template with minutiae";
  EXPECT_TRUE(std::any_of(feature.begin(), feature.begin() + 512, [](auto b) { return b != 0; }))
      << "the type-line template at byte 0";
  Buffer card(1024, 0xEE);
  EXPECT_EQ(ZYLFPSCAN_ExtractCIDFeature(handle_, 0, card.data()), ZYLFPSCAN_OK) << "narrow: the same rule";

  ASSERT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_ExtractFeature(handle_, 0, feature.data()), ZYLFPSCAN_ERR_EXTRACT) << "nothing found";
  EXPECT_EQ(ZYLFPSCAN_ExtractCIDFeature(handle_, 0, card.data()), ZYLFPSCAN_ERR_EXTRACT);
  setAlgMode(0);
}

TEST_F(FeatureCallsTest, IdentityCardFeatureFlipsTheLastImage) {
  Open("device vid1:0x1024\n" + Image("fvc2004_102_1.pgm"));
  Buffer image(300 * 400);
  ASSERT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
  testing::internal::CaptureStdout();
  Buffer card(1024, 0xEE);
  ASSERT_EQ(ZYLFPSCAN_ExtractCIDFeature(handle_, 0, card.data()), ZYLFPSCAN_OK);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n sizeof(DWORD) = 4\n");
  EXPECT_EQ(ZYL_getFormatType(card.data(), 512), ZYL_FORMAT_IDCARD);
  EXPECT_EQ(card[2], 17);
  EXPECT_EQ(card[5], 1);
  const int m = card[19];
  EXPECT_GT(m, 4);
  EXPECT_EQ(card[20] * 256 + card[21], m * 4 + 9);
  EXPECT_EQ(card[511], CRC8_BlockChecksum(card.data(), 511));
  EXPECT_TRUE(std::all_of(card.begin() + 512, card.end(), [](auto b) { return b == 0; }));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(record().lastImage[static_cast<std::size_t>(399 * 300 + i)], image[i]);

  testing::internal::CaptureStdout();
  Buffer twice(1024);
  ASSERT_EQ(ZYLFPSCAN_ExtractCIDFeature(handle_, 0, twice.data()), ZYLFPSCAN_OK);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(LastImage(), image) << "flipped twice: as captured";
}

TEST_F(FeatureCallsTest, ExtractionChecksArgumentsInOrder) {
  Open("device vid1:0x1024\n");
  Buffer out(1024);
  using Call = int (*)(void*, int, unsigned char*);
  struct Case {
    Call call;
    bool positionFirst;  // the ISO and ANSI calls judge the position before the output
  };
  const Case cases[] = {{ZYLFPSCAN_ExtractFeature, false},
                        {ZYLFPSCAN_ExtractCIDFeature, false},
                        {ZYLFPSCAN_ExtractISOFeature, true},
                        {ZYLFPSCAN_ExtractANSIFeature, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(nullptr, 11, nullptr), ZYLFPSCAN_ERR_NOT_OPEN);
    EXPECT_EQ(c.call(handle_, 11, nullptr), c.positionFirst ? -900 : 10);
    EXPECT_EQ(c.call(handle_, 0, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
    EXPECT_EQ(c.call(handle_, 11, out.data()), ZYLFPSCAN_ERR_PARAM);
    EXPECT_EQ(c.call(handle_, -1, out.data()), ZYLFPSCAN_ERR_PARAM);
    auto* context = record().algorithmContext;
    record().algorithmContext = nullptr;
    EXPECT_EQ(c.call(handle_, 1, out.data()), ZYLFPSCAN_ERR_NOT_OPEN);
    record().algorithmContext = context;
    zyl::device::sdk().initialised = 0;
    EXPECT_EQ(c.call(nullptr, 11, nullptr), ZYLFPSCAN_ERR_NOT_INIT);
    zyl::device::sdk().initialised = 1;
  }
}

TEST_F(FeatureCallsTest, VerifyChecksArgumentsInOrder) {
  Open("device vid1:0x1024\n" + kPrints);
  const Buffer t = CaptureAndExtract();
  int score = -1, match = -1;
  const auto* a = t.data();
  EXPECT_EQ(ZYLFPSCAN_Verify(nullptr, 0, nullptr, a, &score, &match), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 0, nullptr, a, &score, &match), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 0, a, nullptr, &score, &match), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 0, a, a, nullptr, &match), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 0, a, a, &score, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 0, a, a, &score, &match), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 12, a, a, &score, &match), ZYLFPSCAN_ERR_PARAM);
  record().algorithmReady = 0;
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 1, a, a, &score, &match), ZYLFPSCAN_ERR_ALG_NOT_READY);
  auto* context = record().algorithmContext;
  record().algorithmContext = nullptr;
  EXPECT_EQ(ZYLFPSCAN_Verify(handle_, 1, a, a, &score, &match), ZYLFPSCAN_ERR_NOT_OPEN);
  record().algorithmContext = context;
  record().algorithmReady = 1;
  zyl::device::sdk().initialised = 0;
  EXPECT_EQ(ZYLFPSCAN_Verify(nullptr, 0, nullptr, a, &score, &match), ZYLFPSCAN_ERR_NOT_INIT);
  zyl::device::sdk().initialised = 1;
  EXPECT_EQ(score, -1);
  EXPECT_EQ(match, -1);
}

TEST_F(FeatureCallsTest, ContainerAsFirstTemplateIsAFailureNotAScore) {
  Open("device vid1:0x1024\n" + kPrints);
  const Buffer t = CaptureAndExtract();
  Buffer qxe(1024, 0);
  std::int32_t n = 0;
  ASSERT_EQ(ZYL_FromNuvelToQXE(t.data(), 400, QxeIdentifier{}, qxe.data(), &n, QxeInfo{}), 1);
  const auto o = Verify(1, qxe, t);
  EXPECT_EQ(o.rc, -402);
  EXPECT_EQ(o.score, 0);
  EXPECT_EQ(o.match, 0);
  // In a set of slots such a comparison counts as no score at all.
  Buffer slots(2 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  std::copy(t.begin(), t.end(), slots.begin() + ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
  int best = -1, result = -1;
  EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, 5, qxe.data(), 2, slots.data(), &best, &result), ZYLFPSCAN_NO_MATCH);
  EXPECT_EQ(best, 0);
}

TEST_F(FeatureCallsTest, VerifyExtEdges) {
  Open("device vid1:0x1024\n" + kPrints);
  const Buffer t = CaptureAndExtract();
  int best = -1, result = -1;
  EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, 5, t.data(), 0, nullptr, &best, &result), ZYLFPSCAN_NO_MATCH) << "no templates";
  EXPECT_EQ(best, 0);
  EXPECT_EQ(result, 1);

  // A feature with too few minutiae to match anything.
  Buffer few = t;
  few[5] = 3;
  few[6] = 0;
  few[0] = 0;  // no curvature bytes, singular points or blocks after the minutiae
  Buffer slots(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  std::copy(t.begin(), t.end(), slots.begin());
  EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, 5, few.data(), 1, slots.data(), &best, &result), ZYLFPSCAN_NO_MATCH);
  EXPECT_LE(best, 59);

  struct Case {
    int level, count;
    bool feature, slots, outputs;
    int code;
  };
  const Case cases[] = {
      {5, 1, false, true, true, 10},  {5, 1, true, false, true, 10}, {5, 1, true, true, false, 10},
      {0, 1, true, true, true, -900}, {12, 1, true, true, true, -900}, {5, -1, true, true, true, -900},
  };
  for (const auto& c : cases) {
    best = result = -1;
    EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, c.level, c.feature ? t.data() : nullptr, c.count,
                                  c.slots ? slots.data() : nullptr, c.outputs ? &best : nullptr, &result),
              c.code)
        << c.level << " " << c.count;
    EXPECT_EQ(result, -1);
  }
  EXPECT_EQ(ZYLFPSCAN_VerifyExt(nullptr, 5, t.data(), 1, slots.data(), &best, &result), ZYLFPSCAN_ERR_NOT_OPEN);
  zyl::device::sdk().initialised = 0;
  EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, 5, t.data(), 1, slots.data(), &best, &result), ZYLFPSCAN_ERR_NOT_INIT);
  zyl::device::sdk().initialised = 1;
}

TEST(GeneralizeTemplate, CopiesTheSlots) {
  Buffer in(2 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE), out(2 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE + 1, 0xEE);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(ZYLFPSCAN_GeneralizeTemplate(in.data(), 2, out.data()), ZYLFPSCAN_OK);
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
  EXPECT_EQ(out.back(), 0xEE);
  EXPECT_EQ(ZYLFPSCAN_GeneralizeTemplate(in.data(), 2, nullptr), ZYLFPSCAN_ERR_NO_MEMORY);
  EXPECT_EQ(ZYLFPSCAN_GeneralizeTemplate(nullptr, 1, out.data()), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_GeneralizeTemplate(in.data(), -1, out.data()), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_GeneralizeTemplate(nullptr, 0, out.data()), ZYLFPSCAN_OK);
}

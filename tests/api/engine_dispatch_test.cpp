#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/pgm.h"
#include "template_test_support.h"
#include "zylscan/devalg.h"
#include "zylscan/idcard_feature.h"
#include "zylscan/nuvel.h"
#include "zylscan/template_format.h"
#include "zylscan/xw_operations.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Runs each test under a chosen algorithm mode with a fresh device context,
// and puts the process-wide mode back afterwards.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = AlgMode;
    setAlgMode(0);
    ASSERT_EQ(DevAlgCreateCtx(&context_), 1);
    ASSERT_NE(context_, nullptr);
  }
  void TearDown() override {
    DevAlgFreeCtx(context_);
    setAlgMode(saved_);
  }

  static zyl::test::GreyImage Print(const char* name) { return zyl::test::read_pgm(zyl::test::test_data(name)); }

  // A native template of a test image (the engine works on a copy).
  Bytes Native(const char* name) {
    auto img = Print(name);
    Bytes out(1024, 0);
    std::int32_t length = 0;
    EXPECT_EQ(DevAlgExtract(img.width, img.height, img.pixels.data(), 500, out.data(), &length, context_), 0) << name;
    return out;
  }
  Bytes Iso(const char* name) {
    auto img = Print(name);
    Bytes out(1024, 0);
    std::int32_t length = 0;
    EXPECT_EQ(DevAlgExtract_ISO(img.width, img.height, img.pixels.data(), 500, out.data(), &length, 3, context_), 0);
    return out;
  }

  XWContext* context_ = nullptr;
  std::int32_t saved_ = 0;
};

}  // namespace

TEST_F(DispatchTest, ExtractionRoadsByModeAndSize) {
  // A 160 x 160 image is small; the same pixels padded to 193 wide are not.
  const auto small = Print("fvc2002_101_1_160.pgm");
  Bytes wide(193 * 160, 255);
  for (int y = 0; y < 160; ++y)
    std::copy_n(&small.pixels[static_cast<std::size_t>(y) * 160], 160, &wide[static_cast<std::size_t>(y) * 193 + 16]);
  struct Case {
    int mode;
    bool isWide;
    int format;  // 0: extracted by the skeleton engine; else the matcher's format code
  };
  const Case cases[] = {
      {0, false, 0}, {1, false, 0}, {2, true, 0}, {3, false, 79}, {4, false, 84}, {4, true, 0}, {5, false, 0},
      {-1, false, 0},
  };
  for (const auto& c : cases) {
    setAlgMode(c.mode);
    Bytes pixels = c.isWide ? wide : small.pixels;
    const int w = c.isWide ? 193 : 160;
    // The matcher's road fills up to a template slot.
    Bytes out(20480, 0xEE);
    std::int32_t length = -7;
    const int rc = DevAlgExtract(w, 160, pixels.data(), 500, out.data(), &length, context_);
    if (!c.format) {
      EXPECT_TRUE(rc == 0 || rc == -103) << c.mode << " " << rc;
      EXPECT_GT(length, 0) << c.mode;
      EXPECT_LT(out[0], 0x20) << "a native template at byte 0";
    } else if (rc == 0) {
      EXPECT_EQ(out[0], c.format) << c.mode;
      EXPECT_EQ(length, out[1] * 256 + out[2] + 3) << c.mode;
      EXPECT_EQ(pixels, small.pixels) << "the matcher works on its own copy";
    } else {
      // A mode-4 template of a 160 x 160 image is larger than a slot: it is
      // refused and nothing is written.
      EXPECT_EQ(c.mode, 4);
      EXPECT_EQ(rc, 1);
      EXPECT_EQ(length, -7);
      EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto b) { return b == 0xEE; }));
    }
  }
}

TEST_F(DispatchTest, VerificationRoadsByMode) {
  const Bytes a = Native("fvc2004_102_1.pgm");
  // A wrapped header whose length runs past the slot: the matcher library's
  // road refuses it with -17; the skeleton road does not know the format.
  Bytes past(20480, 0);
  past[0] = 79;
  past[1] = 0xFF;
  past[2] = 0xFF;
  struct Case {
    int mode;
    bool matcher;
  };
  const Case cases[] = {{0, false}, {2, false}, {-3, false}, {3, true}, {4, true}, {7, true}};
  for (const auto& c : cases) {
    setAlgMode(c.mode);
    if (c.matcher) {
      EXPECT_EQ(DevAlgVerify(past.data(), past.data(), context_), -17) << c.mode;
      EXPECT_EQ(DevAlgVerify(past.data(), past.data(), nullptr), -17) << "no context needed";
    } else {
      EXPECT_GT(DevAlgVerify(a.data(), a.data(), context_), 500) << "a template against itself, mode " << c.mode;
    }
  }
}

TEST_F(DispatchTest, WithoutContext) {
  auto img = Print("fvc2002_101_1_160.pgm");
  Bytes out(1024);
  std::int32_t length = 0;
  EXPECT_EQ(DevAlgExtract(160, 160, img.pixels.data(), 500, out.data(), &length, nullptr), DEVALG_ERR_NO_CONTEXT);
  EXPECT_EQ(DevAlgExtract_ISO(160, 160, img.pixels.data(), 500, out.data(), &length, 1, nullptr), DEVALG_ERR_NO_CONTEXT);
  EXPECT_EQ(DevAlgExtract_ANSI(160, 160, img.pixels.data(), 500, out.data(), &length, 1, nullptr), DEVALG_ERR_NO_CONTEXT);
  const Bytes t = Native("fvc2002_101_1_160.pgm");
  EXPECT_EQ(DevAlgGeneralize(t.data(), t.data(), t.data(), out.data(), &length, nullptr), DEVALG_ERR_NO_CONTEXT);

  // Verification brings both templates into shape first: a format error wins.
  Bytes qxe(1024, 0);
  std::copy_n("QXE", 3, qxe.begin());
  EXPECT_EQ(DevAlgVerify(t.data(), qxe.data(), nullptr), DEVALG_ERR_UNKNOWN_FORMAT);
  EXPECT_EQ(DevAlgVerify(t.data(), t.data(), nullptr), DEVALG_ERR_NO_CONTEXT);
  EXPECT_EQ(DevAlgVerify(nullptr, t.data(), context_), -4);
  EXPECT_EQ(DevAlgVerify(t.data(), nullptr, context_), -4);
}

TEST_F(DispatchTest, RefusesContainersAndUnknownData) {
  const Bytes t = Native("fvc2004_102_1.pgm");
  Bytes qxe(1024, 0);
  std::int32_t n = 0;
  ASSERT_EQ(ZYL_FromNuvelToQXE(t.data(), 300, QxeIdentifier{}, qxe.data(), &n, QxeInfo{}), 1);
  Bytes text(1024, 'x');
  EXPECT_EQ(DevAlgVerify(qxe.data(), t.data(), context_), DEVALG_ERR_UNKNOWN_FORMAT) << "a container as the first template";
  EXPECT_EQ(DevAlgVerify(t.data(), qxe.data(), context_), DEVALG_ERR_UNKNOWN_FORMAT);
  EXPECT_EQ(DevAlgVerify(t.data(), text.data(), context_), DEVALG_ERR_UNKNOWN_FORMAT);
}

TEST_F(DispatchTest, ForeignFormatsAreMatchedAfterConversion) {
  const Bytes nuvel2 = Native("fvc2004_102_2.pgm");
  const Bytes iso1 = Iso("fvc2004_102_1.pgm");
  const Bytes other = Native("fvc2004_103_1.pgm");
  ASSERT_EQ(ZYL_getFormatType(iso1.data(), 1024), ZYL_FORMAT_ISO);
  EXPECT_GT(DevAlgVerify(iso1.data(), nuvel2.data(), context_), 59) << "ISO against native, same finger";
  EXPECT_GT(DevAlgVerify(nuvel2.data(), iso1.data(), context_), 59);
  EXPECT_LE(DevAlgVerify(iso1.data(), other.data(), context_), 59);

  auto img = Print("fvc2004_102_1.pgm");
  Bytes ansi(1024, 0);
  std::int32_t length = 0;
  ASSERT_EQ(DevAlgExtract_ANSI(img.width, img.height, img.pixels.data(), 500, ansi.data(), &length, 3, context_), 0);
  ASSERT_EQ(ZYL_getFormatType(ansi.data(), 1024), ZYL_FORMAT_ANSI);
  EXPECT_GT(DevAlgVerify(ansi.data(), nuvel2.data(), context_), 59);

  // An identity-card feature keeps the minutiae inside 256 x 360 only.
  Bytes card(512, 0);
  ASSERT_EQ(ZYL_Zylfea2IDCardfea(Native("fvc2004_102_1.pgm").data(), 0, card.data(), 17, 1), 1);
  EXPECT_GE(DevAlgVerify(card.data(), nuvel2.data(), context_), 0);
  // A refused card feature is a template without minutiae: no error, no match.
  card[4] = 2;
  EXPECT_EQ(ZYL_getFormatType(card.data(), 512), ZYL_FORMAT_IDCARD);
  const int refused = DevAlgVerify(card.data(), nuvel2.data(), context_);
  EXPECT_GE(refused, 0);
  EXPECT_LE(refused, 23);
}

TEST_F(DispatchTest, IdentityCardFeatureToNativeTemplate) {
  auto record = zyl::test::empty_record();
  for (int i = 0; i < 12; ++i) zyl::test::add_minutia(*record, 20 + 17 * i, 30 + 25 * i, (i * 37) % 240, i % 2);
  Bytes nuvel(1024, 0), card(512, 0), out(1024, 0xEE);
  CompressFeatures(record.get(), nuvel.data(), context_);
  ASSERT_EQ(ZYL_Zylfea2IDCardfea(nuvel.data(), 0, card.data(), 5, 9), 1);
  std::int32_t length = 0;
  std::uint8_t secondary = 0;
  ASSERT_EQ(DevAlgIdcfeaToNuvelfea(card.data(), out.data(), &length, &secondary), 0);
  EXPECT_EQ(secondary, 9);
  EXPECT_GT(length, 7);
  auto back = zyl::test::empty_record();
  ASSERT_GT(DecompressFeatures(out.data(), back.get()), 0);
  ASSERT_EQ(back->minutiaCount, 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(back->minutiaX[i], record->minutiaX[i]) << i;
    EXPECT_EQ(back->minutiaY[i], record->minutiaY[i]) << i;
  }
  card[0] = 'D';
  EXPECT_EQ(DevAlgIdcfeaToNuvelfea(card.data(), out.data(), &length, &secondary), -1);
  card[0] = 'C';
  card[4] = 3;
  EXPECT_EQ(DevAlgIdcfeaToNuvelfea(card.data(), out.data(), &length, &secondary), -2);
  EXPECT_EQ(DevAlgIdcfeaToNuvelfea(nullptr, out.data(), &length, &secondary), -4);
}

TEST_F(DispatchTest, GeneralisesThroughTheContext) {
  const Bytes a = Native("fvc2004_102_1.pgm"), b = Native("fvc2004_102_2.pgm");
  Bytes out(1024, 0);
  std::int32_t length = 0;
  const int base = DevAlgGeneralize(a.data(), b.data(), a.data(), out.data(), &length, context_);
  EXPECT_GE(base, 0);
  EXPECT_LE(base, 2);
  EXPECT_GT(length, 7);
  EXPECT_GT(DevAlgVerify(out.data(), b.data(), context_), 59);
}

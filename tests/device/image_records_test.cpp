#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "device/device_record.h"
#include "device/image_records.h"
#include "support/pgm.h"
#include "zylscan/zylfpscan_image.h"

using namespace zyl::device;

namespace {

std::vector<std::uint8_t> Ramp(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), std::uint8_t{1});
  return v;
}

class InitialisedSdk : public ::testing::Test {
 protected:
  void SetUp() override { sdk().initialised = 1; }
  void TearDown() override { sdk() = {}; }
};

}  // namespace

TEST(BitmapLayout, HeaderPaletteAndBottomRowFirst) {
  // 3 x 2 image: rows {1, 2, 3} (top) and {4, 5, 6}.
  const auto raw = Ramp(6);
  std::vector<std::uint8_t> bmp(BitmapSize(3, 2), 0xEE);
  ASSERT_TRUE(WriteBitmap(raw, 3, 2, bmp));
  const std::vector<std::uint8_t> header = {
      'B', 'M', 0, 0, 0, 0,  0, 0, 0, 0,   // file size field 0, reserved
      0x36, 0x04, 0, 0,                    // pixel data at 1078
      40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0,  // header size, width, height
      1, 0, 8, 0};                          // planes, bits per pixel
  EXPECT_EQ(std::vector<std::uint8_t>(bmp.begin(), bmp.begin() + 30), header);
  for (std::size_t i = 30; i < 54; ++i) EXPECT_EQ(bmp[i], 0) << i;
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* e = bmp.data() + 54 + 4 * i;
    ASSERT_EQ(std::vector<std::uint8_t>(e, e + 4), (std::vector<std::uint8_t>{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0}));
  }
  EXPECT_EQ(std::vector<std::uint8_t>(bmp.begin() + 1078, bmp.end()), (std::vector<std::uint8_t>{4, 5, 6, 1, 2, 3}));
}

TEST(BitmapLayout, RefusesBadSizesAndShortBuffers) {
  std::vector<std::uint8_t> raw(16), bmp(BitmapSize(4, 4));
  EXPECT_FALSE(WriteBitmap(raw, 0, 4, bmp));
  EXPECT_FALSE(WriteBitmap(raw, 4, -1, bmp));
  EXPECT_FALSE(WriteBitmap(raw, 5, 4, bmp)) << "raw too short";
  EXPECT_FALSE(WriteBitmap(raw, 4, 4, std::span(bmp).first(bmp.size() - 1)));
  EXPECT_FALSE(ReadBitmap(std::span(bmp).first(1077), 4, 4, raw));
}

TEST_F(InitialisedSdk, RawToBitmapToRawRoundTripsARealPrint) {
  const auto print = zyl::test::read_pgm(zyl::test::test_data("fvc2000_102_1.pgm"));
  std::vector<std::uint8_t> bmp(ZYLFPSCAN_BITMAP_SIZE(print.width, print.height));
  ASSERT_EQ(ZYLFPSCAN_RawToBitmap(print.pixels.data(), bmp.data(), print.width, print.height), ZYLFPSCAN_OK);
  // The last bitmap row is the image's top row.
  EXPECT_TRUE(std::equal(print.pixels.begin(), print.pixels.begin() + print.width,
                         bmp.end() - print.width));
  std::vector<std::uint8_t> back(print.pixels.size(), 0);
  ASSERT_EQ(ZYLFPSCAN_BitmapToRaw(bmp.data(), back.data(), print.width, print.height), ZYLFPSCAN_OK);
  EXPECT_EQ(back, print.pixels);
}

TEST_F(InitialisedSdk, BitmapToRawTakesEitherSignatureLetterFirst) {
  const auto raw = Ramp(4);
  std::vector<std::uint8_t> bmp(BitmapSize(2, 2)), out(4);
  ASSERT_EQ(ZYLFPSCAN_RawToBitmap(raw.data(), bmp.data(), 2, 2), ZYLFPSCAN_OK);
  for (std::uint8_t first : {'B', 'M'}) {
    bmp[0] = first;
    std::fill(out.begin(), out.end(), 0);
    EXPECT_EQ(ZYLFPSCAN_BitmapToRaw(bmp.data(), out.data(), 2, 2), ZYLFPSCAN_OK) << first;
    EXPECT_EQ(out, raw);
  }
  bmp[0] = 'P';
  EXPECT_EQ(ZYLFPSCAN_BitmapToRaw(bmp.data(), out.data(), 2, 2), ZYLFPSCAN_ERR_PARAM);
}

TEST_F(InitialisedSdk, ConversionsCheckTheirArguments) {
  std::vector<std::uint8_t> raw(16, 7), bmp(BitmapSize(4, 4), 'B');
  struct Case {
    bool input, output;
    int width, height, code;
  };
  const Case cases[] = {
      {false, true, 4, 4, 10}, {true, false, 4, 4, 10},     {true, true, 0, 4, -900},
      {true, true, 4, -3, -900}, {true, true, 4097, 1, -900},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZYLFPSCAN_RawToBitmap(c.input ? raw.data() : nullptr, c.output ? bmp.data() : nullptr, c.width, c.height),
              c.code)
        << c.width << "x" << c.height;
    EXPECT_EQ(ZYLFPSCAN_BitmapToRaw(c.input ? bmp.data() : nullptr, c.output ? raw.data() : nullptr, c.width, c.height),
              c.code)
        << c.width << "x" << c.height;
  }
  sdk().initialised = 0;
  EXPECT_EQ(ZYLFPSCAN_RawToBitmap(raw.data(), bmp.data(), 4, 4), ZYLFPSCAN_ERR_NOT_INIT);
  EXPECT_EQ(ZYLFPSCAN_BitmapToRaw(bmp.data(), raw.data(), 4, 4), ZYLFPSCAN_ERR_NOT_INIT);
}

TEST(FingerImageRecord, IsoHeaderBytes) {
  const auto image = Ramp(6);
  std::vector<std::uint8_t> out(ImageRecordSize(ImageRecordKind::Iso, 3, 2), 0xEE);
  ASSERT_EQ(out.size(), 52u);
  ASSERT_EQ(WriteImageRecord(ImageRecordKind::Iso, image, 3, 2, {7, 2, 600}, out), 52u);
  const std::vector<std::uint8_t> header = {
      'F', 'I', 'R', 0, '0', '1', '0', 0,  // format identifier, version
      0, 0, 0, 0, 0, 52,                   // record length
      0x02, 0x58,                          // capture device id: the model word
      0, 31, 1, 1,                         // acquisition level, fingers, scale units
      0x01, 0xF4, 0x01, 0xF4, 0x01, 0xF4, 0x01, 0xF4,  // 500 dpi four times
      8, 2, 0, 0,                          // depth, compression code, reserved
      0, 0, 0, 20,                         // finger record length: 6 + 14
      7, 1, 1, 100, 0,                     // position, views, view, quality, impression
      0, 3, 0, 2, 0};                      // line lengths, reserved
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 46), header);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 46, out.end()), image);
}

TEST(FingerImageRecord, AnsiCarriesTheProductIdentifier) {
  const auto image = Ramp(6);
  std::vector<std::uint8_t> iso(52), ansi(56);
  ASSERT_EQ(WriteImageRecord(ImageRecordKind::Iso, image, 3, 2, {7, 2, 600}, iso), 52u);
  ASSERT_EQ(WriteImageRecord(ImageRecordKind::Ansi, image, 3, 2, {7, 2, 600}, ansi), 56u);
  EXPECT_EQ(ansi[13], 56);
  EXPECT_EQ(std::vector<std::uint8_t>(ansi.begin() + 14, ansi.begin() + 18), (std::vector<std::uint8_t>{0, 0, 0, 0}));
  // Everything after offset 14 is the ISO header moved by 4, except quality.
  for (std::size_t i = 14; i < iso.size(); ++i) {
    if (i == 39) continue;
    EXPECT_EQ(ansi[i + 4], iso[i]) << i;
  }
  EXPECT_EQ(iso[39], 100);
  EXPECT_EQ(ansi[43], 254);
}

TEST(FingerImageRecord, SizesOfAFullSensorImage) {
  EXPECT_EQ(ImageRecordSize(ImageRecordKind::Iso, 256, 360), 92206u);
  EXPECT_EQ(ImageRecordSize(ImageRecordKind::Ansi, 256, 360), 92210u);
  std::vector<std::uint8_t> image(256 * 360, 9), out(92209);
  EXPECT_EQ(WriteImageRecord(ImageRecordKind::Ansi, image, 256, 360, {}, out), 0u) << "one byte short";
  EXPECT_EQ(WriteImageRecord(ImageRecordKind::Iso, std::span(image).first(1000), 256, 360, {}, out), 0u);
}

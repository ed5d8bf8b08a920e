#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "device/image_records.h"
#include "support/device_fixture.h"
#include "support/pgm.h"
#include "zylscan/image_quality.h"
#include "zylscan/zylfpscan_image.h"

using zyl::device::DeviceRecord;

namespace {

std::string Image(const std::string& name) { return "image " + zyl::test::test_data(name) + "\n"; }

}  // namespace

class ImageCallsTest : public DeviceTest {
 protected:
  std::size_t Pixels() { return static_cast<std::size_t>(record().width) * record().height; }
  std::vector<std::uint8_t> LastImage() {
    return {record().lastImage.begin(), record().lastImage.begin() + static_cast<std::ptrdiff_t>(Pixels())};
  }
  // The FF AA commands written, by opcode.
  static std::vector<int> Opcodes() {
    std::vector<int> out;
    for (const auto& w : Written())
      if (w.size() == 12 && w[0] == 0xFF && w[1] == 0xAA) out.push_back(w[5]);
    return out;
  }
  void MarkLastImage() { std::fill(record().lastImage.begin(), record().lastImage.end(), 0x42); }
  // What a raw capture gives now (the scenario serves the same image again).
  std::vector<std::uint8_t> RawCapture() {
    std::vector<std::uint8_t> image(Pixels());
    EXPECT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
    return image;
  }
};

TEST_F(ImageCallsTest, IsoRecordOfAGeneralScanner) {
  Open("device vid1:0x2024\nmodel 600\n" + Image("fvc2004_102_1.pgm"));
  MarkLastImage();
  std::vector<std::uint8_t> rec(92206 + 10, 0xEE);
  int length = 0;
  ASSERT_EQ(ZYLFPSCAN_CaptureISOData(handle_, 3, 0x107, 0x2A, rec.data(), &length), ZYLFPSCAN_OK);
  EXPECT_EQ(length, 92206);
  EXPECT_EQ(std::vector<std::uint8_t>(rec.begin(), rec.begin() + 14),
            (std::vector<std::uint8_t>{'F', 'I', 'R', 0, '0', '1', '0', 0, 0, 0, 0, 0x01, 0x68, 0x2E}));
  EXPECT_EQ(rec[14] * 256 + rec[15], 600) << "device id: the description's model word";
  EXPECT_EQ(rec[29], 0x2A) << "compression code as given";
  EXPECT_EQ(rec[36], 0x07) << "finger position, low 8 bits";
  EXPECT_EQ(rec[39], 100);
  EXPECT_EQ(rec[41] * 256 + rec[42], 256);
  EXPECT_EQ(rec[43] * 256 + rec[44], 360);
  EXPECT_EQ(rec[92206], 0xEE) << "nothing written past the record";
  const std::vector<std::uint8_t> pixels(rec.begin() + 46, rec.begin() + 92206);
  EXPECT_EQ(LastImage(), pixels);
  EXPECT_EQ(Opcodes(), (std::vector<int>{0x90, 0x0A})) << "general capture and upload";
  EXPECT_EQ(RawCapture(), pixels);
}

TEST_F(ImageCallsTest, AnsiRecordOfTheShortFormScanner) {
  Open("device vid1:0x1023\n" + Image("fvc2004_102_1.pgm"));
  std::vector<std::uint8_t> rec(92210);
  int length = 0;
  ASSERT_EQ(ZYLFPSCAN_CaptureANSIData(handle_, 2, 1, 0, rec.data(), &length), ZYLFPSCAN_OK);
  EXPECT_EQ(length, 92210);
  EXPECT_EQ(rec[13], 0x32);
  EXPECT_EQ(rec[43], 254);
  const auto written = Written();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written[0][6], 10) << "short form: t x 5 in byte 6";
  EXPECT_EQ(std::vector<std::uint8_t>(rec.begin() + 50, rec.end()), LastImage());
}

TEST_F(ImageCallsTest, AnsiRecordOfTheLargeSensor) {
  Open("device vid1:0x1024\n" + Image("fvc2004_102_1.pgm"));
  std::vector<std::uint8_t> rec(300 * 400 + 50);
  int length = 0;
  ASSERT_EQ(ZYLFPSCAN_CaptureANSIData(handle_, 3, 2, 0, rec.data(), &length), ZYLFPSCAN_OK);
  EXPECT_EQ(length, 120050);
  EXPECT_EQ(rec[45] * 256 + rec[46], 300);
  EXPECT_EQ(rec[47] * 256 + rec[48], 400);
  EXPECT_EQ(std::vector<std::uint8_t>(rec.begin() + 50, rec.end()), RawCapture());
}

TEST_F(ImageCallsTest, AnsiRecordRefusedWithoutTransferElsewhere) {
  Open("device vid1:0x2024\n" + Image("fvc2004_102_1.pgm"));
  std::vector<std::uint8_t> rec(92210, 0xEE);
  int length = 77;
  EXPECT_EQ(ZYLFPSCAN_CaptureANSIData(handle_, 3, 1, 0, rec.data(), &length), ZYLFPSCAN_ERR_NO_DEVICE);
  EXPECT_TRUE(zyl::test::vscanner::transfers().empty());
  EXPECT_EQ(length, 77);
  EXPECT_TRUE(std::all_of(rec.begin(), rec.end(), [](auto b) { return b == 0xEE; }));
}

TEST_F(ImageCallsTest, RecordCapturesRefuseBlankImagesAndFailures) {
  struct Case {
    const char* scenario;
    int code;
  };
  const Case cases[] = {
      {"device vid1:0x2024\nimage solid=255\n", -110},
      {"device vid1:0x2024\nfault reply=0x0a timeout\n", -104},
      {"device vid1:0x1124\nfault reply=0x90 status=1\n", -104},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Open(c.scenario);
    MarkLastImage();
    std::vector<std::uint8_t> rec(300 * 400 + 50, 0xEE);
    int length = 77;
    EXPECT_EQ(ZYLFPSCAN_CaptureISOData(handle_, 1, 1, 0, rec.data(), &length), c.code) << c.scenario;
    EXPECT_EQ(length, 77);
    EXPECT_EQ(rec[0], 0xEE);
    EXPECT_EQ(record().lastImage[1000], 0x42) << "the last image changes only on success";
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST_F(ImageCallsTest, CapturesCheckArgumentsInOrder) {
  Open("device vid1:0x1023\n");
  std::vector<std::uint8_t> out(300 * 400 + 1078);
  int length = 0;
  auto* h = handle_;
  auto* o = out.data();
  for (auto iso : {true, false}) {
    auto call = iso ? ZYLFPSCAN_CaptureISOData : ZYLFPSCAN_CaptureANSIData;
    EXPECT_EQ(call(nullptr, 0, 1, 0, nullptr, nullptr), ZYLFPSCAN_ERR_NOT_OPEN);
    EXPECT_EQ(call(h, 0, 1, 0, nullptr, &length), ZYLFPSCAN_ERR_NULL_BUFFER);
    EXPECT_EQ(call(h, 0, 1, 0, o, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
    EXPECT_EQ(call(h, 0, 1, 0, o, &length), ZYLFPSCAN_ERR_PARAM);
    EXPECT_EQ(call(h, -5, 1, 0, o, &length), ZYLFPSCAN_ERR_PARAM);
    zyl::device::sdk().initialised = 0;
    EXPECT_EQ(call(nullptr, 0, 1, 0, nullptr, nullptr), ZYLFPSCAN_ERR_NOT_INIT);
    zyl::device::sdk().initialised = 1;
  }
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(nullptr, 0, nullptr), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(h, 0, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(h, 0, o), ZYLFPSCAN_ERR_PARAM);
  zyl::device::sdk().initialised = 0;
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(nullptr, 0, nullptr), ZYLFPSCAN_ERR_NOT_INIT);
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(nullptr, static_cast<unsigned char*>(nullptr)), ZYLFPSCAN_ERR_NOT_INIT);
  zyl::device::sdk().initialised = 1;
  EXPECT_TRUE(zyl::test::vscanner::transfers().empty());
}

TEST_F(ImageCallsTest, BitmapCaptureWithTimeOut) {
  Open("device vid1:0x2022\n" + Image("fvc2004_102_1.pgm"));
  std::vector<std::uint8_t> bmp(ZYLFPSCAN_BITMAP_SIZE(192, 256));
  ASSERT_EQ(ZYLFPSCAN_CaptureBitmapData(handle_, 4, bmp.data()), ZYLFPSCAN_OK);
  std::vector<std::uint8_t> raw(192 * 256);
  ASSERT_EQ(ZYLFPSCAN_BitmapToRaw(bmp.data(), raw.data(), 192, 256), ZYLFPSCAN_OK);
  EXPECT_EQ(raw, LastImage());
  EXPECT_EQ(raw, RawCapture());
  EXPECT_EQ(bmp[18], 192);
  EXPECT_EQ(bmp[22], 0) << "256 high";
  EXPECT_EQ(bmp[23], 1);
}

TEST_F(ImageCallsTest, BitmapCaptureFailures) {
  struct Case {
    const char* scenario;
    int code;
  };
  const Case cases[] = {
      {"device vid1:0x2022\nfault reply=0x90 timeout\n", -104},
      {"device vid1:0x1200 endpoints=0x81,0x02\nfault write=start stall\n", -303},
      {"device vid1:0x7000\nfault reply=0x0a short=100\n", -104},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Open(c.scenario);
    MarkLastImage();
    std::vector<std::uint8_t> bmp(ZYLFPSCAN_BITMAP_SIZE(300, 400), 0xEE);
    EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(handle_, 1, bmp.data()), c.code) << c.scenario;
    EXPECT_EQ(bmp[0], 0xEE);
    EXPECT_EQ(record().lastImage[7], 0x42);
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST_F(ImageCallsTest, TwoArgumentBitmapCaptureGatesOnQuality) {
  // fvc2000 101_1 rates between the record gate (20) and the bitmap gate
  // (50) once padded into the 256 x 360 frame.
  Open("device vid1:0x2024\n" + Image("fvc2000_101_1.pgm") + Image("fvc2004_102_1.pgm") +
       "fault reply=0x90 timeout skip=2\n");
  MarkLastImage();
  std::vector<std::uint8_t> bmp(ZYLFPSCAN_BITMAP_SIZE(256, 360), 0xEE);
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(handle_, bmp.data()), ZYLFPSCAN_ERR_LOW_QUALITY);
  EXPECT_TRUE(std::all_of(bmp.begin(), bmp.end(), [](auto b) { return b == 0xEE; })) << "output untouched";
  EXPECT_EQ(record().lastImage[5], 0x42) << "last image untouched";

  ASSERT_EQ(ZYLFPSCAN_CaptureBitmapData(handle_, bmp.data()), ZYLFPSCAN_OK);
  std::vector<std::uint8_t> raw(256 * 360);
  ASSERT_EQ(ZYLFPSCAN_BitmapToRaw(bmp.data(), raw.data(), 256, 360), ZYLFPSCAN_OK);
  EXPECT_EQ(raw, LastImage());
  int q = 0;
  ASSERT_EQ(ZYLFPSCAN_ImgQuality(256, 360, raw.data(), &q), ZYLFPSCAN_OK);
  EXPECT_GE(q, 50);

  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(handle_, bmp.data()), ZYLFPSCAN_BITMAP_CAPTURE_FAILED) << "a failed capture";
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(handle_, static_cast<unsigned char*>(nullptr)), ZYLFPSCAN_ERR_BITMAP_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_CaptureBitmapData(nullptr, bmp.data()), ZYLFPSCAN_ERR_NOT_OPEN);
}

TEST_F(ImageCallsTest, ImageQualityOfThePrintBehindTheGate) {
  const auto print = zyl::test::read_pgm(zyl::test::test_data("fvc2000_101_1.pgm"));
  std::vector<std::uint8_t> padded(256 * 360, 255);
  for (int y = 0; y < print.height; ++y)
    std::copy_n(&print.pixels[static_cast<std::size_t>(y) * print.width], print.width,
                &padded[static_cast<std::size_t>(y + 20) * 256 + 8]);
  int q = -1;
  ASSERT_EQ(ZYLFPSCAN_ImgQuality(256, 360, padded.data(), &q), ZYLFPSCAN_OK);
  EXPECT_EQ(q, ZylEx_GetQuality(256, 360, padded.data()));
  EXPECT_GE(q, 20);
  EXPECT_LT(q, 50);
}

TEST(ImageQuality, ChecksItsArgumentsWithoutTheSdk) {
  std::vector<std::uint8_t> white(64 * 64, 255);
  int q = -1;
  EXPECT_EQ(ZYLFPSCAN_ImgQuality(64, 64, white.data(), &q), ZYLFPSCAN_OK);
  EXPECT_EQ(q, ZylEx_GetQuality(64, 64, white.data()));
  EXPECT_EQ(ZYLFPSCAN_ImgQuality(64, 64, white.data(), nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_ImgQuality(64, 64, nullptr, &q), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_ImgQuality(0, 64, white.data(), &q), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_ImgQuality(64, -1, white.data(), &q), ZYLFPSCAN_ERR_PARAM);
}

TEST_F(ImageCallsTest, LiveCaptureStates) {
  Open("device vid1:0x2022\n" + Image("fvc2004_102_1.pgm"));
  std::vector<std::uint8_t> image(192 * 256);
  EXPECT_EQ(ZYLFPSCAN_LiveCaptureRawData(handle_, image.data()), ZYLFPSCAN_ERR_LIVE_NOT_STARTED);
  EXPECT_EQ(ZYLFPSCAN_EndLiveCapture(handle_), ZYLFPSCAN_ERR_LIVE_NOT_STARTED);
  EXPECT_EQ(ZYLFPSCAN_BeginLiveCapture(handle_), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_BeginLiveCapture(handle_), ZYLFPSCAN_ERR_LIVE_STARTED);
  EXPECT_EQ(record().liveCapture, 1);
  EXPECT_EQ(ZYLFPSCAN_EndLiveCapture(handle_), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_EndLiveCapture(handle_), ZYLFPSCAN_ERR_LIVE_NOT_STARTED);
  EXPECT_EQ(ZYLFPSCAN_BeginLiveCapture(nullptr), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_EndLiveCapture(nullptr), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_TRUE(zyl::test::vscanner::transfers().empty());
}

TEST_F(ImageCallsTest, LiveImagesTakeTheShortFormWithoutTimeOut) {
  Open("device vid1:0x2022\n" + Image("fvc2004_102_1.pgm"));
  ASSERT_EQ(ZYLFPSCAN_BeginLiveCapture(handle_), ZYLFPSCAN_OK);
  std::vector<std::uint8_t> image(192 * 256), bmp(ZYLFPSCAN_BITMAP_SIZE(192, 256));
  ASSERT_EQ(ZYLFPSCAN_LiveCaptureRawData(handle_, image.data()), ZYLFPSCAN_OK);
  EXPECT_EQ(image, LastImage());
  const auto written = Written();
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0][5], 0x90);
  EXPECT_EQ(written[0][6], 0) << "no time-out on the wire";
  ASSERT_EQ(ZYLFPSCAN_LiveCaptureBitmap(handle_, bmp.data()), ZYLFPSCAN_OK);
  std::vector<std::uint8_t> back(image.size());
  ASSERT_EQ(ZYLFPSCAN_BitmapToRaw(bmp.data(), back.data(), 192, 256), ZYLFPSCAN_OK);
  EXPECT_EQ(back, image);
  EXPECT_EQ(ZYLFPSCAN_LiveCaptureRawData(handle_, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
}

TEST_F(ImageCallsTest, LiveCaptureFailureAndLargeSensor) {
  Open("device vid1:0x2022\nfault reply=0x90 status=2\n");
  ASSERT_EQ(ZYLFPSCAN_BeginLiveCapture(handle_), ZYLFPSCAN_OK);
  MarkLastImage();
  std::vector<std::uint8_t> image(192 * 256, 0xEE);
  EXPECT_EQ(ZYLFPSCAN_LiveCaptureRawData(handle_, image.data()), ZYLFPSCAN_ERR_CAPTURE) << "the short form maps the status";
  EXPECT_EQ(image[0], 0xEE);
  EXPECT_EQ(record().lastImage[0], 0x42);
  ZYLFPSCAN_CloseDevice(&handle_);

  ResetSdk();
  Open("device vid1:0x1024\n" + Image("fvc2004_102_1.pgm"));
  ASSERT_EQ(ZYLFPSCAN_BeginLiveCapture(handle_), ZYLFPSCAN_OK);
  std::vector<std::uint8_t> large(300 * 400);
  ASSERT_EQ(ZYLFPSCAN_LiveCaptureRawData(handle_, large.data()), ZYLFPSCAN_OK);
  const auto written = Written();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(std::vector<std::uint8_t>(written[0].begin() + 6, written[0].begin() + 10),
            (std::vector<std::uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(large, RawCapture());
}

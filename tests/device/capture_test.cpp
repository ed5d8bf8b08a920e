#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <memory>
#include <vector>

#include "device/capture.h"
#include "device/command_frames.h"
#include "support/device_fixture.h"
#include "support/pgm.h"

using namespace zyl::device;

namespace {

// The served image as the scanner fits it: centred, cropped or padded with 255.
std::vector<std::uint8_t> Fitted(const std::string& name, int w, int h) {
  auto img = zyl::test::read_pgm(zyl::test::test_data(name));
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h, 255);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sx = x - (w - img.width) / 2, sy = y - (h - img.height) / 2;
      if (sx >= 0 && sx < img.width && sy >= 0 && sy < img.height) out[static_cast<std::size_t>(y) * w + x] = img.at(sx, sy);
    }
  return out;
}

std::string Image(const std::string& name) { return "image " + zyl::test::test_data(name) + "\n"; }

std::vector<zyl::test::vscanner::Call> Bulk(bool in) {
  std::vector<zyl::test::vscanner::Call> out;
  for (auto& c : zyl::test::vscanner::transfers())
    if (c.what == "bulk" && bool(c.endpoint & 0x80) == in) out.push_back(c);
  return out;
}

}  // namespace

class CaptureTest : public DeviceTest {
 protected:
  std::vector<std::uint8_t> Capture(int t, int expected = 0) {
    std::vector<std::uint8_t> image(static_cast<std::size_t>(record().width) * record().height, 0xEE);
    EXPECT_EQ(ZYLFPSCAN_CaptureRawData(handle_, t, image.data()), expected);
    return image;
  }
  std::vector<std::uint8_t> LastImage() {
    return {record().lastImage.begin(), record().lastImage.begin() + record().width * record().height};
  }
};

TEST_F(CaptureTest, GeneralFamilyCapturesThenUploads) {
  Open("device vid1:0x2022\n" + Image("fvc2000_102_1.pgm") + Image("fvc2002_101_1_160.pgm"));
  auto first = Capture(3);
  EXPECT_EQ(first, Fitted("fvc2000_102_1.pgm", 192, 256));
  EXPECT_EQ(LastImage(), first);

  auto out = Bulk(false);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].data, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x90, 0, 0, 0, 0, 0x00, 0x9D}));
  EXPECT_EQ(out[1].data, Bytes({0xFF, 0xAA, 0x01, 0x68, 0x01, 0x0A, 0, 0, 0, 0, 0x00, 0x62}));
  auto in = Bulk(true);
  ASSERT_EQ(in.size(), 1u + 192 * 256 / 512);
  EXPECT_EQ(in[0].length, 12);
  EXPECT_EQ(in[0].timeout, 13000u) << "(t + 5) s plus the single read's 5 s";
  for (std::size_t i = 1; i < in.size(); ++i) EXPECT_EQ(in[i].timeout, 8000u);
  // The capture command is preceded by a ping and two pauses.
  auto all = zyl::test::vscanner::trace();
  ASSERT_GE(all.size(), 4u);
  EXPECT_EQ(all[0].what, "control");
  EXPECT_EQ(all[1].what, "sleep");
  EXPECT_EQ(all[2].what, "sleep");
  EXPECT_EQ(all[3].what, "bulk");

  EXPECT_EQ(Capture(0), Fitted("fvc2002_101_1_160.pgm", 192, 256)) << "images are served in order";
}

TEST_F(CaptureTest, GeneralFamilyUploadsDespiteACaptureStatus) {
  Open("device vid1:0x2024\n" + Image("fvc2000_102_1.pgm") + "fault reply=0x90 status=2\n");
  EXPECT_EQ(Capture(1), Fitted("fvc2000_102_1.pgm", 256, 360));
}

TEST_F(CaptureTest, GatedAndEf01ProductsUseTheirOwnCaptureFrames) {
  Open("device vid1:0x2043\nfw 1 0 0\n" + Image("fvc2000_102_1.pgm"));
  EXPECT_EQ(Capture(0), Fitted("fvc2000_102_1.pgm", 256, 360));
  EXPECT_EQ(Bulk(false)[0].data, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x01, 0, 0, 0, 0, 0x00, 0x0C}));
  ZYLFPSCAN_CloseDevice(&handle_);
  ResetSdk();

  Open("device vid1:0x9005\nef01_version 20\n" + Image("fvc2000_102_1.pgm"));
  EXPECT_EQ(Capture(0), Fitted("fvc2000_102_1.pgm", 256, 288));
  auto out = Bulk(false);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].data, Bytes({0xEF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x03, 0x01, 0x00, 0x05}));
  EXPECT_EQ(out[1].data, Bytes({0xEF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x03, 0x0A, 0x00, 0x0E}));
  auto in = Bulk(true);
  EXPECT_EQ(in[0].length, 64);
  EXPECT_EQ(in[0].timeout, 1000u);
}

TEST_F(CaptureTest, GeneralFamilyFailuresKeepTheLastImage) {
  struct Case {
    const char* fault;
    int code;
  };
  const Case cases[] = {
      {"fault reply=ping stall skip=1", -1000},  // the open's description read pings once
      {"fault write=0x90 stall", -309},
      {"fault reply=0x90 timeout", -309},
      {"fault write=0x0a error", -310},
      {"fault reply=0x0a timeout", -310},
      {"fault reply=0x0a short=1000", -310},
      {"fault reply=0x0a zero", -310},
      {"fault reply=0x0a unplug", -310},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Open(std::string("device vid1:0x1023\n") + c.fault + "\n");
    std::fill(record().lastImage.begin(), record().lastImage.end(), 0x42);
    Capture(0, c.code);
    for (auto b : LastImage()) ASSERT_EQ(b, 0x42) << c.fault;
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST_F(CaptureTest, CaptureChecksItsArguments) {
  Open("device vid1:0x1023\n");
  std::vector<std::uint8_t> image(256 * 360);
  EXPECT_EQ(ZYLFPSCAN_CaptureRawData(nullptr, 0, image.data()), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 0, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  zyl::device::sdk().initialised = 0;
  EXPECT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 0, image.data()), ZYLFPSCAN_ERR_NOT_INIT);
  EXPECT_TRUE(zyl::test::vscanner::transfers().empty());
}

TEST_F(CaptureTest, LargeSensorRectifiesItsFrame) {
  Open("device vid1:0x1024 endpoints=0x81,0x02\n" + Image("fvc2000_102_1.pgm"));
  auto image = Capture(3);
  EXPECT_EQ(image, Fitted("fvc2000_102_1.pgm", 300, 400));
  auto out = Bulk(false);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].data, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x90, 0x01, 0x0B, 0xB8, 0x00, 0x00, 0x2F ^ 0x55}));
  EXPECT_EQ(out[1].data, Bytes({0xFF, 0xAA, 0x01, 0x53, 0x00, 0x0A, 0, 0, 0, 0, 0x00, 0x58}));
  EXPECT_EQ(out[0].endpoint, 0x02);
  auto in = Bulk(true);
  ASSERT_EQ(in.size(), 2u);
  EXPECT_EQ(in[0].length, 12);
  EXPECT_EQ(in[0].timeout, 8000u);
  EXPECT_EQ(in[1].length, 480000);
  EXPECT_EQ(in[1].timeout, 5000u);
  // No ping before either command.
  for (auto& c : zyl::test::vscanner::transfers()) EXPECT_NE(c.what, "control");
}

TEST_F(CaptureTest, LargeSensorTimeOutBytes) {
  struct Case {
    int t;
    std::vector<std::uint8_t> bytes;
    unsigned wait;
  };
  const Case cases[] = {
      {0, Bytes({0, 0, 0, 0}), 5000},
      {-4, Bytes({0, 0, 0, 0}), 5000},
      {3, Bytes({0x01, 0x0B, 0xB8, 0x00}), 8000},
      {65, Bytes({0x01, 0xFD, 0xE8, 0x00}), 70000},
      // 66 s and more do not fit the 16-bit field: saturated, not wrapped.
      {66, Bytes({0x01, 0xFF, 0xFF, 0x00}), 71000},
      {1000000, Bytes({0x01, 0xFF, 0xFF, 0x00}), 1000005000},
  };
  Open("device vid1:0x7000\n");
  for (const auto& c : cases) {
    zyl::test::vscanner::clear_trace();
    Capture(c.t);
    auto out = Bulk(false);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(std::vector<std::uint8_t>(out[0].data.begin() + 6, out[0].data.begin() + 10), c.bytes) << c.t;
    EXPECT_EQ(Bulk(true)[0].timeout, c.wait) << c.t;
  }
}

TEST_F(CaptureTest, LargeSensorFailuresGive104AndKeepTheLastImage) {
  Open("device vid1:0x1124\n" + Image("fvc2000_102_1.pgm") +
       "fault reply=0x90 status=1 skip=1\nfault reply=0x0a short=479999 skip=1\n");
  auto good = Capture(0);
  Capture(0, -104);  // refused capture command
  EXPECT_EQ(LastImage(), good);
  Capture(0, -104);  // short frame
  EXPECT_EQ(LastImage(), good);
  // A calibration whose points give no usable transform.
  auto& p = record().rectifyParameters;
  const std::uint16_t degenerate[8] = {10, 10, 20, 0, 60, 0, 40, 0};  // points 1, 3, 5, 7
  const int slots[4] = {1, 3, 5, 7};
  for (int k = 0; k < 4; ++k) {
    p[36 + 4 * slots[k]] = 0;
    p[37 + 4 * slots[k]] = static_cast<std::uint8_t>(degenerate[2 * k]);
    p[38 + 4 * slots[k]] = 0;
    p[39 + 4 * slots[k]] = static_cast<std::uint8_t>(degenerate[2 * k + 1]);
  }
  Capture(0, -104);
  EXPECT_EQ(LastImage(), good);
}

TEST_F(CaptureTest, LargeSensorWithAnAllZeroCalibrationDoesNotCrash) {
  Open("device vid1:0x1024\ncalibration 0 0 0 0 0 0 0 0\n" + Image("fvc2000_102_1.pgm"));
  // Every pixel comes from one corner of the frame, except a row where the
  // transform's denominator is 0.
  auto image = Capture(0);
  EXPECT_EQ(image[0], 255);
  EXPECT_EQ(image[200 * 300], 0);
}

TEST_F(CaptureTest, PacketStreamRequestsInSequence) {
  Open("device vid1:0x1200 endpoints=0x81,0x02\n" + Image("fvc2002_101_1_160.pgm"));
  EXPECT_EQ(Capture(9), Fitted("fvc2002_101_1_160.pgm", 192, 192));
  auto out = Bulk(false);
  ASSERT_EQ(out.size(), 1u + 192 + 1);
  EXPECT_EQ(out[0].data, Bytes({0x6F, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0x90, 0x0C, 0x80, 0x00, 0x04, 0x00, 0x00, 0x1F, 0x46}));
  for (std::size_t k = 1; k < out.size(); ++k) {
    const int seq = k == 1 ? 1 : static_cast<int>(k - 1);
    EXPECT_EQ(out[k].data, Bytes({0x6F, 0x05, 0, 0, 0, 0, seq, 0, 0, 0, 0, 0xC0, 0, 0, 0})) << k;
    EXPECT_EQ(out[k].timeout, 1000u);
  }
  auto in = Bulk(true);
  ASSERT_EQ(in.size(), 1u + 192 + 1);
  EXPECT_EQ(in.front().length, 12);
  EXPECT_EQ(in.front().timeout, 3000u);
  for (std::size_t k = 1; k + 1 < in.size(); ++k) {
    EXPECT_EQ(in[k].length, 204);
    EXPECT_EQ(in[k].timeout, 1000u);
  }
  EXPECT_EQ(in.back().length, 12);
  EXPECT_EQ(in.back().timeout, 3000u);
}

TEST_F(CaptureTest, PacketStreamFailures) {
  struct Case {
    const char* fault;
    int code;
  };
  const Case cases[] = {
      {"fault write=start stall", -303},  {"fault reply=start timeout", -304},
      {"fault write=request stall skip=5", -304}, {"fault reply=request short=11 skip=3", -304},
      {"fault reply=request short=12", -304},  // a packet without payload
      {"fault reply=close timeout", -304},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Open(std::string("device vid1:0x1200 endpoints=0x81,0x02\n") + c.fault + "\n");
    std::fill(record().lastImage.begin(), record().lastImage.end(), 0x42);
    Capture(0, c.code);
    EXPECT_EQ(record().lastImage[100], 0x42) << c.fault;
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST_F(CaptureTest, CameraFrameOfZerosGivesWhite) {
  testing::internal::CaptureStdout();
  Open("device vid1:0x0020\nimage solid=0\n");
  auto image = Capture(0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n control rc = 22");
  for (auto b : image) ASSERT_EQ(b, 255);
  auto t = zyl::test::vscanner::transfers();
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t[0].what, "control");
  EXPECT_EQ(t[0].request_type, 0x80);
  EXPECT_EQ(t[0].request, 6);
  EXPECT_EQ(t[0].value, 0x0303);
  EXPECT_EQ(t[0].index, 0x0904);
  EXPECT_EQ(t[0].length, 22);
  EXPECT_GT(t[0].timeout, 0u);
  EXPECT_EQ(t[1].data, Bytes({0x6A, 0x56}));
  EXPECT_EQ(Bulk(true).size(), 600u);
}

TEST_F(CaptureTest, CameraFailuresReturnTransportCodes) {
  struct Case {
    const char* fault;
    int code;
  };
  const Case cases[] = {{"fault reply=control stall", LIBUSB_ERROR_PIPE},
                        {"fault write=camera stall", -303},
                        {"fault reply=camera timeout", -304},
                        {"fault reply=camera short=307199", -304}};
  for (const auto& c : cases) {
    ResetSdk();
    testing::internal::CaptureStdout();
    Open(std::string("device vid1:0x0020\n") + c.fault + "\n");
    Capture(0, c.code);
    testing::internal::GetCapturedStdout();
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST(CameraFrame, ResamplesInvertsAndCrops) {
  auto frame = std::make_unique<std::array<std::uint8_t, kCameraFrameSize>>();
  frame->fill(0);
  auto put = [&](int row, int col, int v) { (*frame)[static_cast<std::size_t>(row) * 384 + col] = static_cast<std::uint8_t>(v); };
  // Output (0, 0) is resampled (32, 419): columns 38-39, rows 698-699,
  // fx = 40000, fy = 33473.
  put(698, 38, 10);
  put(699, 38, 110);
  put(698, 39, 50);
  put(699, 39, 250);
  // Output (255, 359) is resampled (287, 60): columns 344-345, rows 100-101,
  // fx = 40000, fy = 20.
  put(100, 344, 200);
  put(101, 344, 100);
  put(100, 345, 0);
  put(101, 345, 255);
  auto work = std::make_unique<std::array<std::uint8_t, kResampledSize>>();
  ResampleCameraFrame(*frame, *work);
  std::array<std::uint8_t, 256 * 360> out{};
  CropCameraImage(*work, out);
  // a = 43.473 -> 43, b = 116.946 -> 116, v = 72.2 -> 72.
  EXPECT_EQ(out[0], 255 - 72);
  // a = (200e5 - 100 * 20) / 1e5 = 199.98 -> 199; b = 0.051 -> 0;
  // v = (199e5 - 199 * 40000) / 1e5 = 119.4 -> 119.
  EXPECT_EQ(out[359 * 256 + 255], 255 - 119);
  EXPECT_EQ((*work)[419 * 320 + 32], out[0]);
}

TEST_F(CaptureTest, ShortFormCarriesASaturatedTimeOutByte) {
  Open("device vid1:0x1023\n" + Image("fvc2000_102_1.pgm"));
  struct Case {
    int t;
    int byte6;
  };
  std::vector<std::uint8_t> image(256 * 360);
  for (auto c : {Case{0, 0}, Case{-2, 0}, Case{3, 15}, Case{51, 255}, Case{52, 255}, Case{100000, 255}}) {
    zyl::test::vscanner::clear_trace();
    ASSERT_EQ(CaptureShortForm(record(), image, c.t), 0) << c.t;
    auto out = Bulk(false);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].data[5], 0x90);
    EXPECT_EQ(out[0].data[6], c.byte6) << c.t;
    EXPECT_EQ(zyl::device::CheckCommandFrame(out[0].data), 1) << "check over bytes 2..9";
  }
  EXPECT_EQ(image, Fitted("fvc2000_102_1.pgm", 256, 360));
}

TEST_F(CaptureTest, ShortFormMapsTheCaptureStatus) {
  struct Case {
    const char* fault;
    int code;
  };
  const Case cases[] = {{"fault reply=ping stall skip=1", -1000},
                        {"fault reply=0x90 status=1", -309},
                        {"fault reply=0x90 timeout", -309},
                        {"fault reply=0x0a timeout", -310}};
  std::vector<std::uint8_t> image(256 * 360);
  for (const auto& c : cases) {
    ResetSdk();
    Open(std::string("device vid1:0x1023\n") + c.fault + "\n");
    EXPECT_EQ(CaptureShortForm(record(), image, 1), c.code) << c.fault;
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST_F(CaptureTest, BlockedCaptureWaitsUntilReleased) {
  Open("device vid1:0x1023\n" + Image("fvc2000_102_1.pgm") + "fault reply=0x90 block\n");
  std::vector<std::uint8_t> image(256 * 360);
  std::atomic<int> result{1};
  std::thread capture([&] { result = ZYLFPSCAN_CaptureRawData(handle_, 0, image.data()); });
  while (zyl::test::vscanner::blocked_reads() == 0) std::this_thread::yield();
  EXPECT_EQ(result, 1);
  zyl::test::vscanner::release_captures();
  capture.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(image, Fitted("fvc2000_102_1.pgm", 256, 360));
}

// A held image is what every later capture sees (the finger stays on the
// scanner): "hold=FILE" until FILE exists, then the next image; "hold" for
// good, where plain images would start again at the first.
TEST_F(CaptureTest, HeldImageStaysOnTheScanner) {
  std::string dir = (std::filesystem::temp_directory_path() / "zyl-hold-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string until = dir + "/next";
  Open("device vid1:0x2022\nimage solid=10\nimage solid=20 hold=" + until +
       "\nimage solid=30 hold\nimage solid=40\n");
  const auto grey = [&] {
    const auto image = Capture(0);
    return image.empty() ? -1 : int{image[0]};
  };
  EXPECT_EQ(grey(), 10);
  EXPECT_EQ(grey(), 20);
  EXPECT_EQ(grey(), 20);
  EXPECT_EQ(grey(), 20);
  std::ofstream(until).put('x');
  std::vector<int> after;
  for (int i = 0; i < 4; ++i) after.push_back(grey());
  EXPECT_EQ(after, (std::vector<int>{30, 30, 30, 30}));
  std::filesystem::remove_all(dir);
}

// The virtual scanner itself: other suites (service, tools) rely on its
// scenario parser and on its strictness.
#include <gtest/gtest.h>

#include "device/command_frames.h"
#include "support/device_fixture.h"

TEST(VirtualScanner, ScenarioErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"fw 1 2 3\n", "line 1: 'fw' before any device"},
      {"device vid1\n", "line 1: device needs vid:pid"},
      {"device vid1:0x2022\nfw 1 2\n", "line 2: expected 3 values"},
      {"device vid1:0x2022\nmcu 256\n", "line 2: out of range: 256"},
      {"# c\ndevice vid1:0x2022 colour=red\n", "line 2: unknown device option: colour"},
      {"device vid1:0x2022\nfault timeout\n", "line 2: fault without a place (at=, reply=, write=, open, ...)"},
      {"device vid1:0x2022\nfault at=3\n", "line 2: fault without a kind"},
      {"device vid1:0x2022\nfault at=3 melt\n", "line 2: unknown fault word: melt"},
      {"device vid1:0x2022\nimage /nonexistent.pgm\n", "line 2: cannot open /nonexistent.pgm"},
      {"device vid1:0x2022\nimage solid=1 hold=\n", "line 2: hold= needs a file"},
      {"device vid1:0x2022\nimage solid=1 a.pgm\n", "line 2: image needs one path or solid=V"},
      {"device vid1:0x2022\nclock slow\n", "line 2: clock is virtual or real"},
      {"device vid1:0x2022\nlaser on\n", "line 2: unknown line: laser"},
  };
  for (const auto& c : cases) EXPECT_EQ(zyl::test::vscanner::load(c.text), std::string("scenario ") + c.message) << c.text;
  EXPECT_EQ(zyl::test::vscanner::load("clock real\nfault list\n# only a comment\n"), "");
  EXPECT_EQ(zyl::test::vscanner::load(""), "");  // back to the virtual clock
}

TEST_F(DeviceTest, VirtualScannerRefusesMalformedFrames) {
  Open("device vid1:0x1023\n");
  auto* h = record().usbHandle;
  struct Case {
    std::vector<std::uint8_t> frame;
    const char* note;
  };
  auto good = zyl::device::CommandFrame(zyl::device::commands::kFwVersion3);
  std::vector<std::uint8_t> badCheck(good.begin(), good.end());
  badCheck[11] ^= 1;
  std::vector<std::uint8_t> badType(good.begin(), good.end());
  badType[2] = 2;
  std::vector<std::uint8_t> badParam(good.begin(), good.end());
  badParam[7] = 1;
  badParam[11] ^= 1;
  std::vector<std::uint8_t> uploadFirst =
      Bytes({0xFF, 0xAA, 0x01, 0x68, 0x01, 0x0A, 0, 0, 0, 0, 0x00, 0x62});
  const Case cases[] = {
      {badCheck, "refused: bad check word"},
      {badType, "refused: packet type"},
      {badParam, "refused: parameter bytes of 0x32"},
      {std::vector<std::uint8_t>(good.begin(), good.begin() + 11), "refused: frame of 11 bytes"},
      {uploadFirst, "refused: upload without capture"},
  };
  for (const auto& c : cases) {
    zyl::test::vscanner::clear_trace();
    ASSERT_EQ(zyl::device::BulkWrite(h, c.frame), static_cast<int>(c.frame.size()));
    std::uint8_t reply[12];
    EXPECT_EQ(zyl::device::BulkReadWhole(h, reply, 1), LIBUSB_ERROR_TIMEOUT) << c.note << ": no answer";
    EXPECT_EQ(zyl::test::vscanner::transfers()[0].note, c.note);
  }
}

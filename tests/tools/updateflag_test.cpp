// updateflag as users run it: the unmodified program with the virtual
// scanner preloaded, and end to end with fwdownload.
#include <gtest/gtest.h>

#include <string>

#include "tool_runner.h"

namespace {

using zyl::test::ToolRun;
using zyl::test::Sandbox;

std::string scanner(int version, int minor, int mcu, const std::string& extra = "") {
  return "device vid1:0x1023 bus=1 address=3\n"
         "fw " + std::to_string(version) + " 0 0\n"
         "minor 0 " + std::to_string(minor) + " 0\n"
         "mcu " + std::to_string(mcu) + "\n" + extra;
}

bool flag_sent(const ToolRun& r) {
  for (const auto& t : r.trace)
    if ((t.kind == "bulk") && t.data.size() >= 6 && t.data[0] == 0xFF && t.data[1] == 0xAA && t.data[5] == 0xB0)
      return true;
  return false;
}

TEST(UpdateFlag, FlagsOnlyTheOneFirmwareLine) {
  struct Case {
    int version, minor, mcu;
    bool flagged;
    int status;
  };
  const Case cases[] = {
      {23, 55, 7, true, 0},  {23, 0, 7, true, 0},   {23, 56, 7, false, 56}, {24, 3, 7, false, 3},
      {22, 3, 7, false, 3},  {23, 3, 6, false, 3},  {23, 3, 8, false, 3},   {23, 0, 6, false, 0},
      {23, 200, 7, false, 200},
  };
  for (const auto& c : cases) {
    Sandbox box;
    ToolRun r = box.run(UPDATEFLAG_PATH, {}, scanner(c.version, c.minor, c.mcu));
    SCOPED_TRACE(std::to_string(c.version) + "/" + std::to_string(c.minor) + "/" + std::to_string(c.mcu));
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_EQ(flag_sent(r), c.flagged);
    const std::string line = "\n version = " + std::to_string(c.version) + ", minorVersion = " +
                             std::to_string(c.minor) + ", mcuType = " + std::to_string(c.mcu);
    EXPECT_EQ(r.out, "\n please wait ......\n" + line) << r.out;
  }
}

TEST(UpdateFlag, NoScannerEndsQuietlyWithZero) {
  Sandbox box;
  ToolRun r = box.run(UPDATEFLAG_PATH, {}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n please wait ......\n\n ZYLFPSCAN_OpenDevice ret = -900");
  EXPECT_EQ(r.slept_us(), 0u);
}

TEST(UpdateFlag, FailingFirstOpenIsRetriedOnceAfterTenSeconds) {
  Sandbox box;
  ToolRun r = box.run(UPDATEFLAG_PATH, {}, scanner(24, 3, 7, "fault open error\n"));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_EQ(r.out.rfind("\n please wait ......\n\n ZYLFPSCAN_OpenDevice ret = -109\n quit", 0), 0u) << r.out;
  EXPECT_GE(r.slept_us(), 10'000'000u);

  r = box.run(UPDATEFLAG_PATH, {}, scanner(24, 3, 7, "fault open error times=2\n"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\n quit\n ZYLFPSCAN_OpenDevice ret = -109\n init failed ret = -109"), std::string::npos)
      << r.out;
}

TEST(UpdateFlag, FailingQueryEndsWithOne) {
  struct Case {
    const char* fault;
    const char* call;
  };
  const Case cases[] = {
      {"fault reply=0x32 timeout\n", "ZYLFPSCAN_GetFwVersion"},
      {"fault reply=0x60 status=3\n", "ZYLFPSCAN_GetFwMinorVersion"},
      {"fault reply=0xB7 timeout\n", "ZYLFPSCAN_GetMcuType"},
  };
  for (const auto& c : cases) {
    Sandbox box;
    ToolRun r = box.run(UPDATEFLAG_PATH, {}, scanner(23, 3, 7, c.fault));
    EXPECT_EQ(r.status, 1) << c.call << r.out;
    EXPECT_NE(r.out.find(std::string("\n ") + c.call + " ret = -"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("version ="), std::string::npos);
  }
}

TEST(FirmwareUpdate, FlaggedScannerComesBackInUpdateStateAndTakesTheImage) {
  Sandbox box;
  const std::string scenario = scanner(23, 40, 7, "update_state " + box.path("flagged") + "\n");
  ToolRun flag = box.run(UPDATEFLAG_PATH, {}, scenario);
  ASSERT_EQ(flag.status, 0) << flag.out;
  ASSERT_TRUE(flag_sent(flag));

  std::vector<std::uint8_t> image(1000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
  box.write("fw.bin", image);
  ToolRun dl = box.run(FWDOWNLOAD_PATH, {"-f", box.path("fw.bin")}, scenario);
  EXPECT_EQ(dl.status, 0) << dl.out;
  EXPECT_NE(dl.out.find("handshake successfully ... \n"), std::string::npos) << dl.out;
  EXPECT_NE(dl.out.find("PacketCount=20\n"), std::string::npos);
  EXPECT_NE(dl.out.find("done packet successfully ... \n"), std::string::npos);
}

}  // namespace

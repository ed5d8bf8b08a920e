#include <gtest/gtest.h>

#include <vector>

#include "device/command_frames.h"
#include "support/device_fixture.h"

using namespace zyl::device;

TEST(CommandFrames, CatalogueFramesCarryTheirCheckBytes) {
  struct Case {
    const char* name;
    Command command;
    std::vector<std::uint8_t> params;
    std::vector<std::uint8_t> frame;
  };
  const Case cases[] = {
      {"firmware version, three-byte form", commands::kFwVersion3, {},
       Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x32, 0, 0, 0, 0, 0x00, 0x3F})},
      {"firmware version, one-byte form", commands::kFwVersion1, {},
       Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x32, 0, 0, 0, 0, 0x00, 0x6A})},
      {"MCU type", commands::kMcuType, {}, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0xB7, 0, 0, 0, 0, 0x00, 0xEF})},
      {"minor version", commands::kFwMinor, {}, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x60, 0, 0, 0, 0, 0x00, 0x38})},
      {"minor version, gate form", commands::kFwMinorGate, {},
       Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x60, 0, 0, 0, 0, 0x00, 0x6D})},
      {"update flag", commands::kUpdateFlag, {}, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0xB0, 0, 0, 0, 0, 0x00, 0xE8})},
      {"search", commands::kSearch, {}, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x56, 0, 0, 0, 0, 0x00, 0x5B})},
      {"set LED 1 on", commands::kSetLed, Bytes({3, 1}),
       Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x34, 0x03, 0x01, 0, 0, 0x00, 0x6E})},
      {"get LED 0", commands::kGetLed, Bytes({2}), Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x33, 0x02, 0, 0, 0, 0x00, 0x69})},
      {"rectification block", commands::kRectifyParameters, {},
       Bytes({0xFF, 0xAA, 0x01, 0x01, 0x00, 0xA4, 0, 0, 0, 0, 0x00, 0xF1})},
      {"description", commands::kDescription, {}, Bytes({0xFF, 0xAA, 0x01, 0x04, 0x00, 0xA6, 0, 0, 0, 0, 0x00, 0xA3})},
      {"session key", commands::kSessionKey, Bytes({0x00, 0x18, 0x00, 0x00}),
       Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0xF0, 0x00, 0x18, 0x00, 0x00, 0x00, 0xE5})},
  };
  for (const auto& c : cases) {
    Frame f = CommandFrame(c.command, c.params);
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.end()), c.frame) << c.name;
  }
}

TEST(CommandFrames, Ef01FramesCarryTheirChecksums) {
  struct Case {
    std::uint8_t instruction;
    std::uint16_t checksum;
  };
  for (auto c : {Case{0x01, 0x0005}, Case{0x0A, 0x000E}, Case{0x32, 0x0036}}) {
    auto f = Ef01Frame(c.instruction);
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.begin() + 10),
              Bytes({0xEF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x03, c.instruction}));
    EXPECT_EQ(f[10] << 8 | f[11], c.checksum) << int(c.instruction);
  }
  auto d = Ef01DescriptionFrame();
  EXPECT_EQ(std::vector<std::uint8_t>(d.begin(), d.end()),
            Bytes({0xEF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x05, 0xA6, 0x04, 0x00, 0x00, 0xB0}));
}

TEST(CommandFrames, BuilderRefusesBadTypeAndSmallBuffer) {
  std::uint8_t buf[12] = {};
  EXPECT_EQ(BuildCommandFrame(buf, 3, 0x000C, 0x32, {}), 0);
  EXPECT_EQ(BuildCommandFrame(buf, 0, 0x000C, 0x32, {}), 0);
  EXPECT_EQ(buf[0], 0) << "a refused frame writes nothing";
  EXPECT_EQ(BuildCommandFrame(std::span<std::uint8_t>(buf, 11), 1, 0x000C, 0x32, {}), 0);
  // Type 2 is accepted; two parameter bytes make a 10-byte frame.
  const std::uint8_t two[2] = {0x12, 0x34};
  ASSERT_EQ(BuildCommandFrame(buf, 2, 0x0102, 0x40, two), 10);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 10),
            Bytes({0xFF, 0xAA, 0x02, 0x01, 0x02, 0x40, 0x12, 0x34, 0x00, 0x02 ^ 0x01 ^ 0x02 ^ 0x40 ^ 0x12 ^ 0x34}));
}

TEST(CommandFrames, CheckAcceptsOnlyWellFormedFrames) {
  Frame good = CommandFrame(commands::kFwVersion3);
  EXPECT_EQ(CheckCommandFrame(good), 1);
  Frame badHead = good;
  badHead[1] = 0xAB;
  EXPECT_EQ(CheckCommandFrame(badHead), 0);
  Frame badCheck = good;
  badCheck[11] ^= 1;
  EXPECT_EQ(CheckCommandFrame(badCheck), 0);
  Frame highByte = good;
  highByte[10] = 1;
  EXPECT_EQ(CheckCommandFrame(highByte), 0);
  // A frame checked over 0..9 does not pass the 2..9 check.
  EXPECT_EQ(CheckCommandFrame(CommandFrame(commands::kFwVersion1)), 0);
  EXPECT_EQ(CheckCommandFrame(std::span<const std::uint8_t>(good.data(), 2)), 0);
}

TEST(CommandFrames, ReplyStatusMapsToCodes) {
  struct Case {
    int status;
    int code;
  };
  for (auto c : {Case{0, 0}, Case{1, -400}, Case{2, -401}, Case{3, -402}, Case{4, -403}, Case{5, -404},
                 Case{6, -110}, Case{0x80, -110}, Case{255, -110}})
    EXPECT_EQ(ReplyStatusToCode(static_cast<std::uint8_t>(c.status)), c.code) << c.status;
}

TEST(Transport, WaitSaturatesInsteadOfWrapping) {
  EXPECT_EQ(WaitMs(5, 5000), 10000u);
  EXPECT_EQ(WaitMs(0, 3000), 3000u);
  EXPECT_EQ(WaitMs(-7, 5000), 5000u);
  EXPECT_EQ(WaitMs(2147483647, 5000), 4294967295u);
  EXPECT_EQ(WaitMs(4294967, 5000), 4294967295u);
}

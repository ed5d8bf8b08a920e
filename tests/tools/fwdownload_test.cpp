// fwdownload as users run it, against the virtual scanner's update-state
// device, which checks every packet (offsets, lengths, padding, size and sum).
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "tool_runner.h"
#include "zyl_config.h"

namespace {

using zyl::test::ToolRun;
using zyl::test::Sandbox;
using zyl::test::word;

const std::string kUpdateDevice = "device vid1:0x0503 bus=1 address=5 endpoints=0x81,0x02\n";

std::vector<std::uint8_t> pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return v;
}

// Packets written to the device (OUT endpoint 0x02) and their replies.
std::vector<std::vector<std::uint8_t>> sent(const ToolRun& r, int ep = 0x02) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& t : r.on(ep)) out.push_back(t.data);
  return out;
}

ToolRun download(const Sandbox& box, const std::vector<std::uint8_t>& image, const std::string& scenario,
             std::vector<std::string> extra = {}) {
  box.write("fw.bin", image);
  std::vector<std::string> args = std::move(extra);
  args.push_back("-f");
  args.push_back(box.path("fw.bin"));
  return box.run(FWDOWNLOAD_PATH, args, scenario);
}

TEST(FwDownload, SendsEveryImageSizeInFiftyTwoBytePieces) {
  struct Case {
    std::size_t size;
    std::size_t data_packets;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {52, 1}, {53, 2}, {0x5F000, 7484}};
  for (const auto& c : cases) {
    Sandbox box;
    const auto image = pattern(c.size);
    ToolRun r = download(box, image, kUpdateDevice);
    SCOPED_TRACE("size " + std::to_string(c.size));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    auto packets = sent(r);
    ASSERT_EQ(packets.size(), c.data_packets + 3);  // handshake, description, data, end
    EXPECT_EQ(word(packets[0], 0), 1u);
    EXPECT_EQ(word(packets[0], 1), 0x5c2e91a7u);
    EXPECT_EQ(word(packets[1], 0), 9u);
    EXPECT_EQ(word(packets[1], 2), 0x20000u);
    EXPECT_EQ(word(packets[1], 3), c.size);
    const std::uint32_t sum = std::accumulate(image.begin(), image.end(), 0u);
    EXPECT_EQ(word(packets[1], 4), sum);
    std::size_t offset = 0;
    for (std::size_t k = 0; k < c.data_packets; ++k) {
      const auto& p = packets[2 + k];
      const std::size_t length = std::min<std::size_t>(52, c.size - offset);
      ASSERT_EQ(word(p, 0), 5u);
      ASSERT_EQ(word(p, 1), offset);
      ASSERT_EQ(word(p, 2), length);
      ASSERT_TRUE(std::equal(image.begin() + static_cast<long>(offset),
                             image.begin() + static_cast<long>(offset + length), p.begin() + 12));
      offset += length;
    }
    EXPECT_EQ(word(packets.back(), 0), 7u);
    EXPECT_NE(r.out.find("done packet successfully ... \n"), std::string::npos);
    if (c.data_packets > 0) {
      EXPECT_NE(r.out.find("PacketCount=" + std::to_string(c.data_packets) + "\n"), std::string::npos);
    }
  }
}

TEST(FwDownload, SumWrapsAndCountsBytesUnsigned) {
  Sandbox box;
  ToolRun r = download(box, std::vector<std::uint8_t>(4, 0xFF), kUpdateDevice);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(word(sent(r)[1], 4), 1020u);
}

TEST(FwDownload, RefusedDataPacketStopsTheDownload) {
  Sandbox box;
  // The third data packet is refused with status 3.
  ToolRun r = download(box, pattern(200), kUpdateDevice + "fault reply=data status=3 skip=2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("PacketCount=3\n\n sentLen = 104data sent failed offset=0x68, 0x3 ... \n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("PacketCount=4"), std::string::npos);
  EXPECT_EQ(sent(r).size(), 5u);  // no end packet
}

TEST(FwDownload, RefusedDescriptionOrEndFailsTheRun) {
  Sandbox box;
  ToolRun r = download(box, pattern(10), kUpdateDevice + "fault reply=describe status=9\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("image info failed 0x9 ... \n"), std::string::npos) << r.out;
  EXPECT_EQ(sent(r).size(), 2u);

  r = download(box, pattern(10), kUpdateDevice + "fault reply=done status=4\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("done packet failed 0x4 ... \n"), std::string::npos) << r.out;
}

TEST(FwDownload, RefusedHandshakeDoesNotStopTheDownload) {
  Sandbox box;
  ToolRun r = download(box, pattern(60), kUpdateDevice + "fault reply=handshake status=5\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("handshake failed 0x5 ... \n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("done packet successfully ... \n"), std::string::npos);
}

TEST(FwDownload, InTimeoutClearsBothHaltsAndWaitsTenSeconds) {
  Sandbox box;
  ToolRun r = download(box, pattern(10), kUpdateDevice + "fault reply=describe timeout\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("libusb in transfer failed: LIBUSB_ERROR_TIMEOUT\nimage info failed 0x0 ... \n"),
            std::string::npos)
      << r.out;
  std::vector<int> halts;
  for (const auto& t : r.trace)
    if (t.kind == "clear_halt") halts.push_back(t.ep);
  EXPECT_EQ(halts, (std::vector<int>{0x81, 0x02}));
  EXPECT_EQ(r.slept_us(), 10'000'000u);
  for (const auto& t : r.on(0x81)) EXPECT_EQ(t.raw.find("timeout=7000") != std::string::npos, true);
}

TEST(FwDownload, UsesInterruptEndpointsWhenTheDeviceHasThem) {
  Sandbox box;
  ToolRun r = download(box, pattern(60),
                   "device vid1:0x0503 endpoints=0x83,0x04 transfer=interrupt\n");
  EXPECT_EQ(r.status, 0) << r.out;
  auto out = r.on(0x04);
  ASSERT_EQ(out.size(), 5u);
  for (const auto& t : out) EXPECT_EQ(t.kind, "interrupt");
}

TEST(FwDownload, SelectsByBusAndAddressAndIgnoresIds) {
  Sandbox box;
  const std::string scenario =
      "device vid1:0x0503 bus=1 address=5 endpoints=0x81,0x02\n"
      "device 0x1234:0x0503 bus=2 address=7 endpoints=0x81,0x02\n";
  ToolRun r = download(box, pattern(30), scenario, {"-p", "2,7", "-d", "1:2"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("_open device_path 2,7\n_open device_path 2,7\n"), std::string::npos) << r.out;
  // The packets went to the second device (dev=1 in the trace).
  int to_second = 0;
  for (const auto& t : r.trace)
    if (t.kind == "bulk" && t.raw.find(" dev=1 ") != std::string::npos) ++to_second;
  EXPECT_EQ(to_second, 8);
}

TEST(FwDownload, SelectsByVendorAndProductAndNeedsAnHidInterface) {
  Sandbox box;
  char ids[32];
  std::snprintf(ids, sizeof ids, "%x:503", ZYL_VENDOR_ID_1);
  const std::string scenario =
      "device vid1:0x0504 bus=1 address=2\n"                 // other product
      "device vid1:0x0503 bus=1 address=3 class=255\n"       // not in update state
      "device vid1:0x0503 bus=1 address=4 endpoints=0x81,0x02\n";
  ToolRun r = download(box, pattern(30), scenario, {"-d", ids});
  EXPECT_EQ(r.status, 0) << r.out;
  char line[96];
  std::snprintf(line, sizeof line, "Examing %04x:0504 (bus 1, device 2)\nExaming %04x:0503 (bus 1, device 3)\n",
                ZYL_VENDOR_ID_1, ZYL_VENDOR_ID_1);
  EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  int to_third = 0;
  for (const auto& t : r.trace)
    if (t.kind == "bulk" && t.raw.find(" dev=2 ") != std::string::npos) ++to_third;
  EXPECT_EQ(to_third, 8);
}

TEST(FwDownload, NoDeviceTriesThreeTimesAndSucceedsQuietly) {
  Sandbox box;
  ToolRun r = download(box, pattern(30), "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.slept_us(), 3'000'000u);
}

TEST(FwDownload, ReleasesWhatItTook) {
  Sandbox box;
  ToolRun r = download(box, pattern(30), kUpdateDevice);
  ASSERT_EQ(r.status, 0);
  int claims = 0, releases = 0, closes = 0;
  for (const auto& t : r.trace) {
    claims += t.kind == "claim";
    releases += t.kind == "release";
    closes += t.kind == "close";
  }
  EXPECT_EQ(claims, 1);
  EXPECT_EQ(releases, 1);
  EXPECT_EQ(closes, 1);
}

TEST(FwDownload, RefusesImagesItCannotSendWhole) {
  Sandbox box;
  ToolRun r = download(box, pattern(0x5F001), kUpdateDevice);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("larger than"), std::string::npos) << r.out;
  EXPECT_EQ(sent(r).size(), 1u);  // the handshake only

  r = box.run(FWDOWNLOAD_PATH, {"-f", box.dir()}, kUpdateDevice);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is not a regular file"), std::string::npos) << r.out;

  r = box.run(FWDOWNLOAD_PATH, {"-f", box.path("missing.bin")}, kUpdateDevice);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("send_image: cannot open " + box.path("missing.bin") + "\n"), std::string::npos);
}

TEST(FwDownload, AddressOptionIsParsedInAnyBaseAndEchoed) {
  struct Case {
    const char* arg;
    std::uint32_t value;
  };
  const Case cases[] = {{"0x20000", 0x20000}, {"4096", 4096}, {"010", 8}, {"0xFFFFFFFF", 0xFFFFFFFF}};
  for (const auto& c : cases) {
    Sandbox box;
    ToolRun r = download(box, pattern(5), kUpdateDevice, {"-a", c.arg});
    ASSERT_EQ(r.status, 0) << c.arg;
    char echo[16];
    std::snprintf(echo, sizeof echo, "%x\n", c.value);
    EXPECT_EQ(r.out.rfind(echo, 0), 0u) << r.out;
    EXPECT_EQ(word(sent(r)[1], 2), c.value);
  }
}

TEST(FwDownload, BadCommandLinesEndWithStatusMinusOne) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::string vid_msg = "please specify VID & PID as \"vid:pid\" in hexadecimal format\n";
  const std::string path_msg = "please specify bus number & device number as \"bus,dev\" in decimal format\n";
  const Case cases[] = {
      {{"-h"}, "\nUsage: "},
      {{"-?"}, "\nUsage: "},
      {{"-x", "-f", "a"}, "\nUsage: "},
      {{}, "no firmware specified!\n\nUsage: "},
      {{"-d", "12"}, vid_msg.c_str()},
      {{"-d", "zz:1"}, vid_msg.c_str()},
      {{"-d", "10000:1"}, vid_msg.c_str()},
      {{"-d", "1:2:3"}, vid_msg.c_str()},
      {{"-p", "1"}, path_msg.c_str()},
      {{"-p", "1,x"}, path_msg.c_str()},
      {{"-p", "256,1"}, path_msg.c_str()},
      {{"-p", "-1,2"}, path_msg.c_str()},
      {{"-a", "xyz", "-f", "a"}, "download address"},
      {{"-a", "0x100000000", "-f", "a"}, "download address"},
      {{"-a", "12ab", "-f", "a"}, "download address"},
  };
  for (const auto& c : cases) {
    Sandbox box;
    ToolRun r = box.run(FWDOWNLOAD_PATH, c.args, kUpdateDevice);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(r.status, 255) << joined;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << joined << ": " << r.err;
    EXPECT_TRUE(r.on(0x02).empty()) << joined;
  }
  Sandbox box;
  ToolRun r = box.run(FWDOWNLOAD_PATH, {"-h"}, "");
  EXPECT_EQ(r.err,
            "\nUsage: " FWDOWNLOAD_PATH " [-d vid:pid] [-p bus,addr] [-a address] -f firmware\n"
            "  -d <vid:pid>   -- Target device, as an USB VID:PID\n"
            "  -p <bus,addr>  -- Target device, as a libusb bus number and device address path\n"
            "  -f frimware    -- firmware path to download\n"
            "  -a address     -- firmware download address\n");
}

}  // namespace

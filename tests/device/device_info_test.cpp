#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "device/command_frames.h"
#include "support/device_fixture.h"

using zyl::device::sdk;

namespace {

const char* kVersioned =
    "device vid1:0x1023\n"
    "fw 15 2 3\nminor 4 59 6\nmcu 7\nsearch 0 9 0x0102\n";

int Sleeps(unsigned ms) {
  int n = 0;
  for (auto& c : zyl::test::vscanner::trace())
    if (c.what == "sleep" && c.timeout == ms) ++n;
  return n;
}

}  // namespace

TEST_F(DeviceTest, VersionsComeFromTheirReplyBytes) {
  Open(kVersioned);
  int v = -1;
  EXPECT_EQ(ZYLFPSCAN_GetFwVersion(handle_, &v), ZYLFPSCAN_OK);
  EXPECT_EQ(v, 15);
  EXPECT_EQ(ZYLFPSCAN_GetFwMinorVersion(handle_, &v), ZYLFPSCAN_OK);
  EXPECT_EQ(v, 59);
  EXPECT_EQ(ZYLFPSCAN_GetMcuType(handle_, &v), ZYLFPSCAN_OK);
  EXPECT_EQ(v, 7);
  unsigned char bytes[3] = {};
  EXPECT_EQ(ZYLFPSCAN_GetFwVersion(handle_, bytes), ZYLFPSCAN_OK);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 3), Bytes({15, 2, 3}));

  // One-byte forms check over bytes 0..9, the three-byte form over 2..9.
  auto w = Written();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x32, 0, 0, 0, 0, 0x00, 0x6A}));
  EXPECT_EQ(w[2], Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0xB7, 0, 0, 0, 0, 0x00, 0xEF}));
  EXPECT_EQ(w[3], Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x32, 0, 0, 0, 0, 0x00, 0x3F}));

  // Every exchange pings first, with a time-out (a hung scanner must not
  // hang the caller), and reads its 12-byte reply in one transfer.
  for (auto& c : zyl::test::vscanner::transfers()) {
    if (c.what == "control") {
      EXPECT_EQ(c.request_type, 0xC0);
      EXPECT_GT(c.timeout, 0u);
    } else if (c.endpoint & 0x80) {
      EXPECT_EQ(c.length, 12);
      EXPECT_EQ(c.timeout, 10000u);
    } else {
      EXPECT_EQ(c.timeout, 5000u);
    }
  }
}

TEST_F(DeviceTest, VersionCallsCheckHandleAndOutput) {
  Open(kVersioned);
  int v = 0;
  unsigned char bytes[3];
  EXPECT_EQ(ZYLFPSCAN_GetFwVersion(nullptr, &v), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_GetFwVersion(handle_, static_cast<int*>(nullptr)), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_GetFwMinorVersion(nullptr, &v), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_GetMcuType(handle_, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_GetFwVersion(nullptr, bytes), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_GetFwVersion(handle_, static_cast<unsigned char*>(nullptr)), ZYLFPSCAN_ERR_NULL_BUFFER);
  // The int forms work without an initialised SDK; the byte form does not.
  sdk().initialised = 0;
  EXPECT_EQ(ZYLFPSCAN_GetMcuType(handle_, &v), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_GetFwVersion(handle_, bytes), ZYLFPSCAN_ERR_NOT_INIT);
}

TEST_F(DeviceTest, TransportFailuresAndReplyStatusesBecomeCodes) {
  struct Case {
    const char* fault;
    int code;
  };
  const Case cases[] = {
      {"fault reply=ping stall skip=1", -302},  {"fault write=0x32 stall", -303},
      {"fault reply=0x32 timeout", -304}, {"fault reply=0x32 zero", -304},
      {"fault reply=0x32 short=6", -304}, {"fault reply=0x32 status=3", -402},
      {"fault reply=0x32 status=6", -110}, {"fault reply=0x32 unplug", -304},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Open(std::string(kVersioned) + c.fault + "\n");
    int v = -1;
    EXPECT_EQ(ZYLFPSCAN_GetFwVersion(handle_, &v), c.code) << c.fault;
    EXPECT_EQ(v, -1) << c.fault;
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST_F(DeviceTest, UpdateFlagIsSetOrFailsWith115) {
  Open(kVersioned);
  EXPECT_EQ(ZYLFPSCAN_SetQZ650UpdateFlag(handle_), ZYLFPSCAN_OK);
  EXPECT_TRUE(zyl::test::vscanner::device_state(0).update_flag);
  EXPECT_EQ(Written().back(), Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0xB0, 0, 0, 0, 0, 0x00, 0xE8}));
  EXPECT_EQ(ZYLFPSCAN_SetQZ650UpdateFlag(nullptr), ZYLFPSCAN_ERR_NOT_OPEN);
  ZYLFPSCAN_CloseDevice(&handle_);
  ResetSdk();
  Open(std::string(kVersioned) + "fault reply=0xb0 status=1\n");
  EXPECT_EQ(ZYLFPSCAN_SetQZ650UpdateFlag(handle_), ZYLFPSCAN_ERR_SET_LED);
}

TEST_F(DeviceTest, LedsAreDrivenOnTheProductEndpoint) {
  Open("device vid1:0x1023 endpoints=0x81,0x01,0x02\n");
  EXPECT_EQ(ZYLFPSCAN_SetLedStatus(handle_, 1, 1), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_SetLedStatus(handle_, 0, 0), ZYLFPSCAN_OK);
  int state = -1;
  EXPECT_EQ(ZYLFPSCAN_GetLedStatus(handle_, 1, &state), ZYLFPSCAN_OK);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(ZYLFPSCAN_GetLedStatus(handle_, 0, &state), ZYLFPSCAN_OK);
  EXPECT_EQ(state, 0);
  auto w = Written();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x34, 0x03, 0x01, 0, 0, 0x00, 0x6E}));
  // Written on the product endpoint, read whole with 5 s.
  for (auto& c : zyl::test::vscanner::transfers()) {
    if (c.what != "bulk") continue;
    if (c.endpoint & 0x80) {
      EXPECT_EQ(c.timeout, 5000u);
    } else {
      EXPECT_EQ(c.endpoint, 0x02);
    }
  }

  struct Case {
    int led, state;
    int code;
  };
  for (auto c : {Case{2, 1, -900}, Case{-1, 0, -900}, Case{0, 2, -900}, Case{1, -1, -900}})
    EXPECT_EQ(ZYLFPSCAN_SetLedStatus(handle_, c.led, c.state), c.code);
  EXPECT_EQ(ZYLFPSCAN_GetLedStatus(handle_, 2, &state), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_GetLedStatus(handle_, 0, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_SetLedStatus(nullptr, 0, 1), ZYLFPSCAN_ERR_NOT_OPEN);
  sdk().initialised = 0;
  EXPECT_EQ(ZYLFPSCAN_SetLedStatus(handle_, 0, 1), ZYLFPSCAN_ERR_NOT_INIT);
}

TEST_F(DeviceTest, LedsAreRefusedWithoutTransferOnModelsWithoutThem) {
  Open("device vid1:0x1023\nmodel 601\n");
  zyl::test::vscanner::clear_trace();
  int state = 0;
  EXPECT_EQ(ZYLFPSCAN_SetLedStatus(handle_, 1, 1), ZYLFPSCAN_ERR_NO_LED);
  EXPECT_EQ(ZYLFPSCAN_GetLedStatus(handle_, 1, &state), ZYLFPSCAN_ERR_NO_LED);
  EXPECT_TRUE(zyl::test::vscanner::transfers().empty());
}

TEST_F(DeviceTest, LedFailuresGive115And116) {
  Open("device vid1:0x1023\nfault reply=0x34 status=2\nfault reply=0x33 timeout\n");
  int state = 0;
  EXPECT_EQ(ZYLFPSCAN_SetLedStatus(handle_, 0, 1), ZYLFPSCAN_ERR_SET_LED);
  EXPECT_EQ(ZYLFPSCAN_GetLedStatus(handle_, 0, &state), ZYLFPSCAN_ERR_GET_LED);
}

TEST_F(DeviceTest, SearchChecksItsReply) {
  struct Case {
    const char* extra;
    int code;
    int result, position;
  };
  const Case cases[] = {
      {"", 0, 9, 0x0102},
      {"fault reply=0x56 status=7\n", 7, -1, -1},
      {"fault reply=0x56 corrupt\n", -117, -1, -1},
      {"fault reply=0x56 timeout\n", -304, -1, -1},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Open(std::string(kVersioned) + c.extra);
    unsigned char result = 0xFF;
    int position = -1;
    EXPECT_EQ(ZYLFPSCAN_SearchFromModule(handle_, &result, &position), c.code) << c.extra;
    EXPECT_EQ(c.result < 0 ? -1 : int(result), c.result < 0 ? -1 : c.result) << c.extra;
    EXPECT_EQ(position, c.position) << c.extra;
    EXPECT_EQ(ZYLFPSCAN_SearchFromModule(handle_, nullptr, &position), ZYLFPSCAN_ERR_NULL_BUFFER);
    EXPECT_EQ(ZYLFPSCAN_SearchFromModule(handle_, &result, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
    ZYLFPSCAN_CloseDevice(&handle_);
  }
}

TEST_F(DeviceTest, DescriptionCopiesOnlyTheNamedFields) {
  Open("device vid1:0x1023\nname Front door\nmodel 600\n");
  std::array<unsigned char, 1024> out;
  out.fill(0xEE);
  ASSERT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out.data()), ZYLFPSCAN_OK);
  // What the scanner sent: the two 512-byte pieces of the read.
  std::vector<std::uint8_t> sent;
  for (auto& c : zyl::test::vscanner::transfers())
    if (c.what == "bulk" && (c.endpoint & 0x80)) {
      EXPECT_EQ(c.length, 512);
      EXPECT_EQ(c.timeout, 8000u);
      sent.insert(sent.end(), c.data.begin(), c.data.end());
    }
  ASSERT_EQ(sent.size(), 1024u);
  for (int i = 0; i < 1024; ++i) {
    int want;
    if (i <= 106 || i == 110)
      want = sent[i];
    else if (i >= 113 && i <= 261)
      want = 0;
    else
      want = 0xEE;
    ASSERT_EQ(out[i], want) << "byte " << i;
  }
  EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + 16), "Front door");
  EXPECT_EQ(out[100] | out[101] << 8, 600);
  // The device was open: its handle was used, no second one opened.
  EXPECT_EQ(zyl::test::vscanner::counts().opens, 1 + 1 /* the description read during open */);
}

TEST_F(DeviceTest, DescriptionChecksArgumentsInOrder) {
  Load("device vid1:0x1023\n");
  unsigned char out[1024];
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out), ZYLFPSCAN_ERR_NOT_INIT);
  ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(-1, nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(-1, out), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(1, out), ZYLFPSCAN_ERR_PARAM);
  // A device that is not open is opened for the call and closed again.
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out), ZYLFPSCAN_OK);
  auto c = zyl::test::vscanner::counts();
  EXPECT_EQ(c.opens, 1);
  EXPECT_EQ(c.closes, 1);
}

TEST_F(DeviceTest, GatedProductsReadTheDescriptionOnlyFromNewFirmware) {
  struct Case {
    const char* scenario;
    bool reads;
  };
  const Case cases[] = {
      {"device vid1:0x2043\nfw 14 0 0\nminor 59 0 0\n", false},
      {"device vid1:0x2043\nfw 15 0 0\nminor 0 0 0\n", true},
      {"device vid1:0x2043\nfw 0 0 0\nminor 60 0 0\n", true},
      {"device vid1:0x9005\nef01_version 24\n", false},
      {"device vid1:0x9005\nef01_version 25\n", true},
      {"device vid1:0x1200\n", false},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Load(c.scenario);
    ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
    std::array<unsigned char, 1024> out;
    out.fill(0xEE);
    EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out.data()), ZYLFPSCAN_OK) << c.scenario;
    EXPECT_EQ(out[0] != 0xEE, c.reads) << c.scenario;
    bool asked = false;
    for (auto& w : Written())
      if ((w.size() == 12 && w[5] == 0xA6) || (w.size() == 14 && w[9] == 0xA6)) asked = true;
    EXPECT_EQ(asked, c.reads) << c.scenario;
  }
  // The gate's own frames: three-byte version, then the gate's minor form.
  ResetSdk();
  Load("device vid1:0x2043\nfw 14 0 0\nminor 59 0 0\n");
  ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
  unsigned char out[1024];
  ASSERT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out), ZYLFPSCAN_OK);
  auto w = Written();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0][11], 0x3F);
  EXPECT_EQ(w[1], Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0x60, 0, 0, 0, 0, 0x00, 0x6D}));
}

TEST_F(DeviceTest, SessionKeyExchangeDeliversTheDescription) {
  Open("device vid1:0x2022 endpoints=0x81,0x01,0x83,0x02\nname Key exchange\nmodel 600\n");
  std::array<unsigned char, 1024> out{};
  ASSERT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out.data()), ZYLFPSCAN_OK);
  EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + 16), "Key exchange");
  EXPECT_EQ(out[100] | out[101] << 8, 600);
  EXPECT_EQ(record().descriptionModel, 600);

  // Session-key command, the sealed key, then the description command, all
  // on the stream endpoint with 7 s; answers on the key-exchange endpoint.
  std::vector<zyl::test::vscanner::Call> bulk;
  for (auto& c : zyl::test::vscanner::transfers())
    if (c.what == "bulk") bulk.push_back(c);
  ASSERT_EQ(bulk.size(), 7u);  // 3 writes, 2 key answers, 2 description pieces
  EXPECT_EQ(bulk[0].data, Bytes({0xFF, 0xAA, 0x01, 0x00, 0x0C, 0xF0, 0x00, 0x18, 0x00, 0x00, 0x00, 0xE5}));
  EXPECT_EQ(bulk[0].endpoint, 0x02);
  EXPECT_EQ(bulk[0].timeout, 7000u);
  EXPECT_EQ(bulk[1].endpoint, 0x83);
  EXPECT_EQ(bulk[1].length, 64);
  EXPECT_EQ(bulk[1].transferred, 12);
  EXPECT_EQ(bulk[2].data.size(), 24u);
  EXPECT_EQ(bulk[3].length, 24);
  EXPECT_EQ(bulk[3].transferred, 24);
  EXPECT_EQ(bulk[4].data, Bytes({0xFF, 0xAA, 0x01, 0x04, 0x00, 0xA6, 0, 0, 0, 0, 0x00, 0xA3}));
  EXPECT_EQ(bulk[4].timeout, 7000u);
  EXPECT_EQ(Sleeps(100), 1);
}

TEST_F(DeviceTest, SessionKeyExchangeFailures) {
  struct Case {
    const char* fault;
    int code;
  };
  const Case cases[] = {
      {"fault reply=0xf0 corrupt", 3},     // the answer fails its check
      {"fault reply=0xf0 status=4", 4},    // the raw status comes back
      {"fault reply=0xf0 short=5", -304},  // an answer of the wrong length
      {"fault reply=key short=16", -304},
      {"fault reply=0xa6 short=1000", 2},  // a description of the wrong length
      {"fault reply=key timeout", LIBUSB_ERROR_TIMEOUT},
      {"fault write=0xf0 stall", LIBUSB_ERROR_PIPE},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Load(std::string("device vid1:0x2024 endpoints=0x81,0x01,0x02\n") + c.fault + "\n");
    ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
    std::array<unsigned char, 1024> out;
    out.fill(0xEE);
    EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out.data()), c.code) << c.fault;
    EXPECT_EQ(out[0], 0xEE) << c.fault;
  }
}

TEST_F(DeviceTest, FailedDescriptionResetsTheScannerOnTheVirtualClock) {
  Load("device vid1:0x1024 endpoints=0x82,0x03\nfault reply=0xa6 timeout\n");
  ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
  zyl::device::endpoints().replyIn = 0x82;
  zyl::device::endpoints().commandOut = 0x03;
  unsigned char out[1024];
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out), ZYLFPSCAN_ERR_READ);
  std::vector<std::string> steps;
  for (auto& c : zyl::test::vscanner::trace()) {
    if (c.what == "sleep" && c.timeout == 10000) steps.push_back("pause");
    if (c.what == "reset") steps.push_back("reset");
    if (c.what == "clear_halt") steps.push_back("clear " + std::to_string(c.endpoint));
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"pause", "reset", "pause", "clear 130", "clear 3", "pause"}));
  EXPECT_GE(zyl::test::vscanner::slept_us(), 30000000u);
  EXPECT_LT(zyl::test::vscanner::slept_us(), 30100000u);
  auto c = zyl::test::vscanner::counts();
  EXPECT_EQ(c.opens, c.closes);
}

TEST_F(DeviceTest, ChunkedReadsUseOneTransferBelow512Bytes) {
  Open("device vid1:0x1023\n");
  auto* h = record().usbHandle;
  struct Case {
    int length;
    std::vector<int> pieces;
    unsigned timeout;
  };
  const Case cases[] = {{12, {12}, 10000}, {511, {511}, 10000}, {512, {512}, 8000}, {1024, {512, 512}, 8000}};
  for (const auto& c : cases) {
    zyl::test::vscanner::clear_trace();
    ASSERT_EQ(zyl::device::BulkWrite(h, zyl::device::CommandFrame(zyl::device::commands::kDescription)), 12);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(c.length), 0xEE);
    EXPECT_EQ(zyl::device::BulkReadChunked(h, buf, 5), c.length);
    std::vector<int> pieces;
    for (auto& t : zyl::test::vscanner::transfers())
      if (t.endpoint & 0x80) {
        pieces.push_back(t.length);
        EXPECT_EQ(t.timeout, c.timeout) << c.length;
      }
    EXPECT_EQ(pieces, c.pieces) << c.length;
    // Drop what the device still holds of its 1024 bytes.
    std::vector<std::uint8_t> rest(1024);
    if (c.length < 1024) zyl::device::BulkReadWhole(h, rest, 1);
  }
}

TEST_F(DeviceTest, ChunkedReadEndsAtAZeroBytePiece) {
  Load("device vid1:0x1023\nfault reply=0xa6 zeros\n");
  ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
  unsigned char out[1024];
  // A scanner that answers only with zero-length packets: the read ends at
  // once instead of asking forever.
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out), ZYLFPSCAN_ERR_READ);
  int reads = 0;
  for (auto& t : zyl::test::vscanner::transfers())
    if (t.endpoint & 0x80) ++reads;
  EXPECT_EQ(reads, 1);

  // Transfers: ping, write, first piece, then a zero-length packet.
  Load("device vid1:0x1023\nfault at=4 zero\n");
  std::array<unsigned char, 1024> out2;
  out2.fill(0xEE);
  EXPECT_EQ(ZYLFPSCAN_GetDeviceDescription(0, out2.data()), ZYLFPSCAN_OK) << "512 bytes did arrive";
  reads = 0;
  for (auto& t : zyl::test::vscanner::transfers())
    if (t.endpoint & 0x80) ++reads;
  EXPECT_EQ(reads, 2);
}

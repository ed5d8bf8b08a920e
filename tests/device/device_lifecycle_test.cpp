#include <gtest/gtest.h>

#include "support/device_fixture.h"
#include "zyl_config.h"

using zyl::device::sdk;

namespace {

// Everything the SDK took from libusb has been given back, apart from the
// default context that an initialised SDK holds.
void ExpectReleased(const char* what) {
  auto c = zyl::test::vscanner::counts();
  EXPECT_EQ(c.opens, c.closes) << what;
  EXPECT_EQ(c.lists_taken, c.lists_freed) << what;
  EXPECT_EQ(c.configs_taken, c.configs_freed) << what;
  EXPECT_EQ(c.device_refs, 0) << what;
}

const char* kTwoScanners =
    "device vid1:0x2022 bus=1 address=3\n"
    "device 0x1234:0x2022 bus=1 address=4\n"  // foreign vendor
    "device vid2:0x2033 bus=1 address=5\n"    // known product, never enumerated
    "device vid3:0x1023 bus=2 address=7\n";

}  // namespace

TEST_F(DeviceTest, GlobalInitTwiceAnswersAlreadyInitialised) {
  Load("");
  EXPECT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_ERR_ALREADY_INIT);
  EXPECT_EQ(ZYLFPSCAN_GlobalFree(), ZYLFPSCAN_OK);
  EXPECT_EQ(zyl::test::vscanner::counts().context_refs, 1);
}

TEST_F(DeviceTest, DeviceCountWithAndWithoutScanners) {
  struct Case {
    const char* scenario;
    int result;
    int count;
  };
  const Case cases[] = {
      {"", -107, 0},
      {"device 0x1234:0x5678\n", 0, 0},
      {kTwoScanners, 0, 2},
      {"fault list\ndevice vid1:0x2022\n", -107, 0},
      {"device vid1:0x2022\nfault descriptor\ndevice vid1:0x1023\n", 0, 1},
  };
  for (const auto& c : cases) {
    Load(c.scenario);
    int count = 99;
    EXPECT_EQ(ZYLFPSCAN_GetDeviceCount(&count), c.result) << c.scenario;
    EXPECT_EQ(count, c.count) << c.scenario;
    EXPECT_EQ(zyl::test::vscanner::counts().context_refs, 0) << "the count releases its own reference";
    ExpectReleased(c.scenario);
  }
  EXPECT_EQ(ZYLFPSCAN_GetDeviceCount(nullptr), ZYLFPSCAN_ERR_NULL_BUFFER);
}

TEST_F(DeviceTest, OpenRefusalsReleaseEverything) {
  struct Case {
    const char* name;
    const char* scenario;
    int index;
    int result;
  };
  const Case cases[] = {
      {"index below range", kTwoScanners, -1, -900},
      {"index at count", kTwoScanners, 2, -900},
      {"USB open refused", "device vid1:0x1023\nfault open\n", 0, -109},
      {"description times out", "device vid1:0x1023\nfault reply=0xa6 timeout\n", 0, -108},
      {"key exchange refused", "device vid1:0x2021\nfault reply=0xf0 status=2\n", 0, -108},
      {"rectification block lost", "device vid1:0x1024\nfault reply=0xa4 timeout\n", 0, -114},
      {"rectification block short", "device vid1:0x7000\nfault reply=0xa4 short=100\n", 0, -114},
  };
  for (const auto& c : cases) {
    ResetSdk();
    Load(c.scenario);
    ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
    void* h = nullptr;
    EXPECT_EQ(ZYLFPSCAN_OpenDevice(&h, c.index), c.result) << c.name;
    EXPECT_EQ(h, nullptr) << c.name;
    ExpectReleased(c.name);
    for (auto& e : sdk().openDeviceTable) EXPECT_EQ(e.isOpen, 0) << c.name;
  }
}

TEST_F(DeviceTest, OpenChecksStateAndHandleFirst) {
  Load(kTwoScanners);
  void* h = nullptr;
  EXPECT_EQ(ZYLFPSCAN_OpenDevice(&h, 0), ZYLFPSCAN_ERR_NOT_INIT);
  ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_OpenDevice(nullptr, 0), ZYLFPSCAN_ERR_NULL_BUFFER);
  EXPECT_EQ(ZYLFPSCAN_OpenDevice(nullptr, 99), ZYLFPSCAN_ERR_NULL_BUFFER) << "output before range";
  int dummy;
  h = &dummy;
  EXPECT_EQ(ZYLFPSCAN_OpenDevice(&h, 0), ZYLFPSCAN_ERR_ALREADY_OPEN);
  EXPECT_EQ(zyl::test::vscanner::counts().opens, 0);
}

TEST_F(DeviceTest, OpenFillsTheRecordAndCloseEndsTheSdk) {
  Open(kTwoScanners, 1);
  auto& r = record();
  EXPECT_EQ(r.productId, 0x1023);
  EXPECT_EQ(r.vendorId, ZYL_VENDOR_ID_3);
  EXPECT_EQ(r.modelCode, 10);
  EXPECT_EQ(r.width, 256);
  EXPECT_EQ(r.height, 360);
  EXPECT_EQ(r.resolution, 500);
  EXPECT_EQ(r.algorithmReady, 1);
  EXPECT_EQ(r.deviceIndex, 1);
  EXPECT_EQ(r.descriptionModel, 600);
  EXPECT_EQ(sdk().openDeviceTable[1].isOpen, 1);
  EXPECT_EQ(sdk().openDeviceTable[1].usbHandle, r.usbHandle);

  // The same index again is refused by the table, even with a fresh handle.
  void* second = nullptr;
  EXPECT_EQ(ZYLFPSCAN_OpenDevice(&second, 1), ZYLFPSCAN_ERR_ALREADY_OPEN);
  EXPECT_EQ(second, nullptr);

  EXPECT_EQ(ZYLFPSCAN_CloseDevice(&handle_), ZYLFPSCAN_OK);
  EXPECT_EQ(handle_, nullptr);
  EXPECT_EQ(sdk().initialised, 0);
  EXPECT_EQ(sdk().openDeviceTable[1].isOpen, 0);
  EXPECT_EQ(zyl::test::vscanner::counts().context_refs, 0);
  ExpectReleased("after close");

  // Opening again needs a new init.
  EXPECT_EQ(ZYLFPSCAN_OpenDevice(&handle_, 0), ZYLFPSCAN_ERR_NOT_INIT);
  EXPECT_EQ(ZYLFPSCAN_CloseDevice(&handle_), ZYLFPSCAN_ERR_NOT_INIT);
}

TEST_F(DeviceTest, CloseOfNullHandleStillReleasesTheContext) {
  Load(kTwoScanners);
  ASSERT_EQ(ZYLFPSCAN_GlobalInit(), ZYLFPSCAN_OK);
  EXPECT_EQ(ZYLFPSCAN_CloseDevice(nullptr), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(sdk().initialised, 0);
  EXPECT_EQ(zyl::test::vscanner::counts().context_refs, 0);
}

TEST_F(DeviceTest, EachProductSetsItsAlgorithmMode) {
  struct Step {
    const char* device;
    int mode;
  };
  // Products without a mode of their own keep the process's last one.
  const Step steps[] = {{"device vid1:0x2022\n", 0}, {"device vid1:0x2031\n", 4}, {"device vid1:0x2022\n", 4},
                        {"device vid1:0x1061\n", 3}, {"device vid4:0x9005\n", 3}, {"device vid1:0x2021\n", 3}};
  setAlgMode(77);
  for (const auto& s : steps) {
    Open(s.device);
    EXPECT_EQ(AlgMode, s.mode) << s.device;
    EXPECT_EQ(ZYLFPSCAN_CloseDevice(&handle_), ZYLFPSCAN_OK);
    auto keep = sdk().algorithmMode;
    ResetSdk();
    sdk().algorithmMode = keep;
  }
}

TEST_F(DeviceTest, EndpointsComeFromTheConfiguration) {
  Open("device vid1:0x1023 endpoints=0x81,0x02,0x83,0x04\n");
  auto& e = zyl::device::endpoints();
  EXPECT_EQ(e.replyIn, 0x83);
  EXPECT_EQ(e.keyExchangeIn, 0x83);
  EXPECT_EQ(e.commandOut, 0x04);
  EXPECT_EQ(e.streamOut, 0x04);
  EXPECT_EQ(e.productCommandOut, 0x04);
  auto c = zyl::test::vscanner::counts();
  EXPECT_EQ(c.configs_taken, c.configs_freed);
  EXPECT_EQ(c.opens, c.closes + 1) << "only the open device's handle is held";
}

TEST_F(DeviceTest, OpenWithoutConfigurationKeepsTheEndpoints) {
  zyl::device::endpoints().replyIn = 0x81;
  zyl::device::endpoints().commandOut = 0x01;
  testing::internal::CaptureStdout();
  Open("device vid1:0x1023 endpoints=0x81,0x01,0x82\nfault config\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Couldn't retrieve descriptors\n");
  EXPECT_EQ(zyl::device::endpoints().commandOut, 0x01);
}

TEST_F(DeviceTest, CameraOpensWithoutDescriptionAndHasNoLeds) {
  Open("device vid1:0x0020\n");
  EXPECT_EQ(record().descriptionModel, 0);
  int state = 0;
  EXPECT_EQ(ZYLFPSCAN_SetLedStatus(handle_, 0, 1), ZYLFPSCAN_ERR_NO_LED);
  EXPECT_EQ(ZYLFPSCAN_GetLedStatus(handle_, 0, &state), ZYLFPSCAN_ERR_NO_LED);
  EXPECT_TRUE(zyl::test::vscanner::transfers().empty());
}

// The device methods of the service (getDeviceCount, getDeviceName,
// openDevice, releaseDevice) against the virtual scanner, observed through
// their answers and the exact lines they log.
#include <string>
#include <vector>

#include "service_fixture.h"

namespace zyl::test {
namespace {

using Lines = std::vector<std::string>;

std::string openLine(int i) { return "vyx-fingerprint-driver     openDevice   i: " + std::to_string(i); }
std::string initLine(int ret) {
  return "vyx-fingerprint-driver    openDevice    ZYLFPSCAN_GlobalInit111   ret :" + std::to_string(ret);
}
std::string openResultLine(int ret) {
  return "vyx-fingerprint-driver    openDevice    ZYLFPSCAN_OpenDevice   ret :" + std::to_string(ret);
}
const std::string kClaimed = "vyx-fingerprint-driver    openDevice   m_state == DeviceStateClaimed";
const std::string kBeyondCount = "vyx-fingerprint-driver   openDevice    deviceNum - 1 < i";
const std::string kCountFailed = "vyx-fingerprint-driver   openDevice    FPDEV_GetDevCount ret != 0";
const std::string kOpenFailed = "vyx-fingerprint-driver    openDevice    FPDEV_Init   ret != 0";
const std::string kRelease = "vyx-fingerprint-driver     releaseDevice";
const std::string kGetName = "vyx-fingerprint-driver     getDeviceName";

// A fresh claim of index i: the SDK starts anew and the scanner opens.
Lines claims(int i) { return {openLine(i), initLine(0), openResultLine(0)}; }

constexpr char kTwoScanners[] = R"(device vid1:0x1023 address=2
name Alpha Scanner
device vid1:0x1023 address=3
name Beta Scanner
)";

class DeviceMethods : public ServiceWithScannersTest {
 protected:
  void start(const std::string &scenario) { instance_ = startAndWait(bus().scannerEnv(scenario)); }

  // The lines that one call logs.
  Lines logged(const std::string &method, int arg) {
    bus().syslog().clear();
    bus().callVoid(method, {std::to_string(arg)});
    return bus().syslog().messages(bus().pid(instance_));
  }

  struct Step {
    const char *method;
    int arg;
    Lines expected;
    const char *why;
  };
  void run(const std::vector<Step> &steps) {
    for (const Step &step : steps)
      EXPECT_EQ(logged(step.method, step.arg), step.expected) << step.method << "(" << step.arg << "): " << step.why;
  }

  int instance_ = 0;
};

TEST_F(DeviceMethods, OpenAndReleaseFollowTheirGuards) {
  start(kTwoScanners);
  EXPECT_EQ(bus().callInt("getDeviceCount"), 2);
  run({
      {"openDevice", 0, claims(0), "claims scanner 0"},
      {"openDevice", 0, {openLine(0)}, "the claimed index again does nothing"},
      {"openDevice", 1, {openLine(1), kClaimed}, "another index while one is claimed"},
      {"openDevice", 2, {openLine(2), kClaimed}, "the claim is checked before the count"},
      {"releaseDevice", 7, {kRelease}, "closes whatever is open, whatever the argument"},
      {"releaseDevice", 0, {kRelease}, "nothing open: still released"},
      {"openDevice", 2, {openLine(2), kBeyondCount}, "an index beyond the count"},
      {"openDevice", 1, claims(1), "index 1 opens; the SDK had ended with the release"},
      {"releaseDevice", 0, {kRelease}, "closes scanner 1"},
      {"openDevice", 1, claims(1), "the release closed it, so it opens again"},
  });
}

TEST_F(DeviceMethods, IndexBeyondCountClosesTheHandleItGivesUp) {
  start(kTwoScanners);
  SignalRecorder signalsSeen(bus().busAddress());
  ASSERT_TRUE(signalsSeen.connected());

  run({{"openDevice", 0, claims(0), "claims scanner 0"}});
  // A verification result leaves the scanner open but no longer claimed.
  bus().callVoid("verify", {gvariantString("alice"), "1"});
  auto result = signalsSeen.waitFor("verifyStatusChanged");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->args, (QVariantList{QString("alice"), 1, QString("")}));

  run({{"openDevice", 0, {openLine(0)}, "the same index does nothing, even when released"}});
  bus().syslog().clear();
  bus().callVoid("verify", {gvariantString("alice"), "1"});
  result = signalsSeen.waitFor("verifyStatusChanged");
  ASSERT_TRUE(result) << "verify without a claimed scanner still answers";
  EXPECT_EQ(result->args, (QVariantList{QString("alice"), 1, QString("")}));
  EXPECT_EQ(bus().syslog().messages(bus().pid(instance_)), Lines{}) << "and starts no worker";

  run({
      {"openDevice", 5, {openLine(5), kBeyondCount}, "gives up the open handle"},
      {"releaseDevice", 0, {kRelease}, "nothing left to close"},
      // A handle given up without closing would leave index 0 open in the
      // SDK (-106 from every later open) and the SDK initialised (-904).
      {"openDevice", 0, claims(0), "scanner 0 opens again"},
  });
}

TEST_F(DeviceMethods, FailingOpenLeavesFieldsAndInitialisedSdkIsAccepted) {
  start(R"(device vid1:0x1023 address=2
fault open
device vid1:0x1023 address=3
)");
  run({
      {"openDevice", 0, {openLine(0), initLine(0), openResultLine(-109), kOpenFailed}, "USB open fails once"},
      // The index was not taken, so the same index is tried again; the SDK
      // stayed initialised and says so, which counts as success.
      {"openDevice", 0, {openLine(0), initLine(-904), openResultLine(0)}, "second try opens"},
      {"openDevice", 1, {openLine(1), kClaimed}, "and the scanner is claimed"},
  });
}

TEST_F(DeviceMethods, GetDeviceNameReadsScannerZeroAndClosesOnlyWhatItOpened) {
  start(kTwoScanners);
  bus().syslog().clear();
  EXPECT_EQ(bus().callString("getDeviceName"), "Alpha Scanner");
  // It opened scanner 0 for the call and closed it again.
  run({{"openDevice", 1, claims(1), "the SDK ended with the name call's close"}});

  bus().syslog().clear();
  EXPECT_EQ(bus().callString("getDeviceName"), "Alpha Scanner") << "scanner 0, whatever is claimed";
  EXPECT_EQ(bus().syslog().messages(bus().pid(instance_)), Lines{kGetName});
  run({{"openDevice", 0, {openLine(0), kClaimed}, "the framework's claim survives the name call"}});
}

TEST_F(DeviceMethods, BadArgumentsAreRefusedAndTheServiceCarriesOn) {
  start(kTwoScanners);
  run({
      {"openDevice", -1, {openLine(-1)}, "equals the index of no claim: nothing happens"},
      {"openDevice", -5, {openLine(-5), initLine(0), openResultLine(-900), kOpenFailed}, "the SDK refuses it"},
      {"openDevice", 0, {openLine(0), initLine(-904), openResultLine(0)}, "a good index still opens"},
  });
  // Arguments of the wrong type never reach the adaptor.
  CommandResult wrongType =
      runCommand({"dbus-send", "--system", "--print-reply", std::string("--dest=") + kServiceName, kObjectPath,
                  std::string(kInterface) + ".openDevice", "string:0"},
                 bus().busEnv());
  EXPECT_NE(wrongType.exitCode, 0);
  EXPECT_NE(wrongType.err.find("UnknownMethod"), std::string::npos) << wrongType.err;
  EXPECT_EQ(bus().callInt("getDeviceCount"), 2);
  EXPECT_TRUE(bus().isRunning(instance_));
}

TEST_F(DeviceMethods, WithoutScannersCountIsZeroAndNameEmpty) {
  start("");
  EXPECT_EQ(bus().callInt("getDeviceCount"), 0);
  EXPECT_EQ(bus().callString("getDeviceName"), "");
  run({{"openDevice", 0, {openLine(0), kCountFailed}, "no USB device at all: counting fails"}});
}

}  // namespace
}  // namespace zyl::test

// Runs of the service's workers that are stopped or overlap: stops during a
// capture that blocks, a second run of the same kind, a run of another kind
// while the scanner is busy. Each run ends with exactly one result, carried
// with its own user id, and the scanner closes only after its worker has
// returned.
#include <string>
#include <thread>
#include <vector>

#include "service_workers_fixture.h"

namespace zyl::test {
namespace {

namespace fs = std::filesystem;

const std::string kStopping = "finishRun   stop and wait for the running worker";

class WorkerRuns : public ServiceWorkersTest {
 protected:
  // A large sensor named "Alpha Scanner" whose first capture waits for
  // release(), then serves one print.
  void startBlocked() {
    trace_ = bus().root() / "trace.txt";
    start(blockedCapture() + "device vid1:0x1024\nname Alpha Scanner\n" + kBlockFirstCapture +
              scenarioImages({"fvc2004_102_1.pgm"}),
          trace_);
  }

  // Runs a D-Bus call that blocks until a worker returns on its own thread.
  std::thread callInBackground(const std::string &method, std::vector<std::string> args) {
    return std::thread([this, method, args] { backgroundResult_ = bus().call(method, args); });
  }

  fs::path trace_;
  CommandResult backgroundResult_;
};

TEST_F(WorkerRuns, StopEnrollDuringABlockedCaptureEndsWithTheStopResultAndNoFile) {
  startBlocked();
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("alice"), gvariantString("thumb")});
  ASSERT_TRUE(waitForCaptures(trace_, 1));
  bus().callVoid("stopEnroll");
  release();
  EXPECT_EQ(enrolmentSignals(), (std::vector<Status>{{"alice", 2, progressMessage(0)}, {"alice", 1, kEnrollFailed}}))
      << diagnostics();
  EXPECT_FALSE(fs::exists(userDir("alice")));
  EXPECT_TRUE(quiet("enrollStatusChanged"));
}

TEST_F(WorkerRuns, StopEnrollWithNothingRunningOnlyLogs) {
  startBlocked();
  bus().callVoid("stopEnroll");
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("stopEnroll");
  EXPECT_TRUE(quiet("enrollStatusChanged"));
  std::vector<std::string> stops;
  for (const auto &line : logged())
    if (line.find("stop") != std::string::npos) stops.push_back(line);
  EXPECT_EQ(stops, std::vector<std::string>(2, "vyx-fingerprint-driver    stopEnroll"));
}

TEST_F(WorkerRuns, VerifyStopClosesTheScannerOnlyAfterTheBlockedCaptureReturned) {
  storeFinger("alice", "alice_01_thumb");
  startBlocked();
  EXPECT_EQ(bus().callString("getDeviceName"), "Alpha Scanner");
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("verify", {gvariantString("alice"), "1"});
  ASSERT_TRUE(waitForCaptures(trace_, 1));

  // While the worker holds the scanner the name comes from before and the
  // scanner sees nothing new.
  const std::size_t traffic = settledTrace(trace_);
  EXPECT_EQ(bus().callString("getDeviceName"), "Alpha Scanner");
  std::this_thread::sleep_for(Milliseconds(100));
  EXPECT_EQ(traceLines(trace_).size(), traffic);

  std::thread stop = callInBackground("verifyStop", {});
  ASSERT_TRUE(bus().syslog().waitFor("verifyStop()", kEventDeadline));
  std::this_thread::sleep_for(Milliseconds(100));
  EXPECT_EQ(traceLines(trace_).size(), traffic) << "not closed while the capture waits";
  release();
  stop.join();
  EXPECT_EQ(backgroundResult_.exitCode, 0) << backgroundResult_.err;
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"alice", 1, ""}));
  EXPECT_TRUE(quiet("verifyStatusChanged"));

  // The capture's upload comes before the close, and nothing after it.
  const auto lines = traceLines(trace_);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(" close "), std::string::npos) << lines.back();
  EXPECT_NE(lines[lines.size() - 2].find("len=480000"), std::string::npos) << lines[lines.size() - 2];
}

TEST_F(WorkerRuns, EnrolAndResetWhileVerifyingAreRefusedAndEachResultKeepsItsUser) {
  storeFinger("alice", "alice_01_thumb");
  startBlocked();
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("verify", {gvariantString("alice"), "1"});
  ASSERT_TRUE(waitForCaptures(trace_, 1));

  bus().callVoid("enroll", {gvariantString("bob"), gvariantString("index")});
  EXPECT_EQ(enrolmentSignals(), (std::vector<Status>{{"bob", 1, kEnrollFailed}}));
  bus().callVoid("resetDevice", {"0"});
  EXPECT_EQ(next("restStatus"), (Status{"", 3, ""}));
  EXPECT_FALSE(loggedLine("RecvRegCmd"));
  EXPECT_FALSE(loggedLine("RecvResetCmd"));

  release();
  // The verification's result names alice, not the later caller bob. The
  // zero templates stored for alice match no print.
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"alice", 1, ""})) << diagnostics();
  EXPECT_TRUE(fs::exists(userDir("alice") / "alice_01_thumb"));
  EXPECT_FALSE(fs::exists(userDir("bob")));
}

TEST_F(WorkerRuns, SecondEnrolmentEndsAndReportsTheFirstBeforeItStarts) {
  startBlocked();
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("alice"), gvariantString("thumb")});
  ASSERT_TRUE(waitForCaptures(trace_, 1));

  std::thread second = callInBackground("enroll", {gvariantString("bob"), gvariantString("index")});
  ASSERT_TRUE(bus().syslog().waitFor(kStopping, kEventDeadline));
  release();
  second.join();
  EXPECT_EQ(backgroundResult_.exitCode, 0) << backgroundResult_.err;

  std::vector<Status> expected = {{"alice", 2, progressMessage(0)}, {"alice", 1, kEnrollFailed}};
  for (const Status &s : enrolled("bob")) expected.push_back(s);
  std::vector<Status> seen = enrolmentSignals();
  for (const Status &s : enrolmentSignals()) seen.push_back(s);
  EXPECT_EQ(seen, expected) << diagnostics();
  EXPECT_FALSE(fs::exists(userDir("alice")));
  EXPECT_EQ(filesOf("bob"), std::vector<std::string>{"bob_01_index"});
}

TEST_F(WorkerRuns, SecondVerificationEndsAndReportsTheFirstBeforeItStarts) {
  storeFinger("alice", "alice_01_thumb");
  startBlocked();
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("verify", {gvariantString("alice"), "1"});
  ASSERT_TRUE(waitForCaptures(trace_, 1));

  std::thread second = callInBackground("verify", {gvariantString("bob"), "1"});
  ASSERT_TRUE(bus().syslog().waitFor(kStopping, kEventDeadline));
  release();
  second.join();
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"alice", 1, ""}));
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"bob", 1, ""})) << "bob has no fingers";
  EXPECT_TRUE(quiet("verifyStatusChanged"));
}

}  // namespace
}  // namespace zyl::test

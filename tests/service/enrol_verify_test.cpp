// Enrolment and verification through the service on a private bus, with the
// virtual scanner serving real prints: the progress and result signals, the
// finger file written, and the comparisons against it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "service_workers_fixture.h"

namespace zyl::test {
namespace {

namespace fs = std::filesystem;

// The large sensor serves these prints in order, looping.
std::string largeSensor(const std::vector<std::string> &prints) {
  return "device vid1:0x1024\n" + scenarioImages(prints);
}

using EnrolVerify = ServiceWorkersTest;

TEST_F(EnrolVerify, EnrolsFromThreeCapturesVerifiesAndRefusesTheSameFingerAgain) {
  // Enrolment: 102_1, 102_2, 102_1; verification: 102_2 (same finger), then
  // 103_1 (another finger); the second enrolment meets 102_1 again.
  start(largeSensor({"fvc2004_102_1.pgm", "fvc2004_102_2.pgm", "fvc2004_102_1.pgm", "fvc2004_102_2.pgm",
                     "fvc2004_103_1.pgm", "fvc2004_102_1.pgm"}));
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("alice"), gvariantString("left_thumb")});
  EXPECT_EQ(enrolmentSignals(), enrolled("alice")) << diagnostics();

  ASSERT_EQ(filesOf("alice"), std::vector<std::string>{"alice_01_left_thumb"});
  const std::string file = readFileBytes(userDir("alice") / "alice_01_left_thumb");
  ASSERT_EQ(file.size(), static_cast<std::size_t>(kFingerFileSize));
  const auto slot = [&](int n) { return file.substr(n * kSlotSize, kSlotSize); };
  for (int n = 0; n < 3; ++n) {
    EXPECT_NE(slot(n).substr(0, 16), std::string(16, '\0')) << "slot " << n << " holds a template";
    EXPECT_EQ(slot(n).substr(1024), std::string(kSlotSize - 1024, '\0')) << "slot " << n << " behind the template";
  }
  EXPECT_EQ(slot(0), slot(2)) << "the first and third captures were the same print";
  EXPECT_NE(slot(0), slot(1));
  EXPECT_EQ(fs::status(userDir("alice")).permissions() & fs::perms::all, fs::perms::owner_all)
      << "only the service lists who enrolled";

  // The service's standard output goes to the journal: the extraction line
  // tells the template's length, never its bytes.
  const std::string output = bus().serviceOutput(instance_);
  const std::regex featureLine("ZYLFPSCAN_ExtractFeature   featurebuf: ([^\n]*)\n");
  int featureLines = 0;
  for (auto it = std::sregex_iterator(output.begin(), output.end(), featureLine); it != std::sregex_iterator(); ++it) {
    ++featureLines;
    EXPECT_TRUE(std::regex_match((*it)[1].str(), std::regex("[1-9][0-9]* bytes"))) << (*it)[0];
  }
  EXPECT_GE(featureLines, 3);

  // A result leaves the scanner open but released: claim it again.
  bus().callVoid("releaseDevice", {"0"});
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("verify", {gvariantString("alice"), "3"});
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"alice", 0, ""})) << diagnostics();

  bus().callVoid("releaseDevice", {"0"});
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("verify", {gvariantString("alice"), "3"});
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"alice", 1, ""})) << "another finger";

  bus().callVoid("releaseDevice", {"0"});
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("alice"), gvariantString("again")});
  EXPECT_EQ(enrolmentSignals(), (std::vector<Status>{{"alice", 2, progressMessage(0)}, {"alice", 1, kAlreadyEnrolled}}))
      << diagnostics();
  EXPECT_EQ(filesOf("alice"), std::vector<std::string>{"alice_01_left_thumb"});
}

#ifdef ZYL_ALG_MODE_PRELOAD
TEST_F(EnrolVerify, NarrowScannerOnTheTypelineEngineEnrolsItsGoodCaptures) {
  // A 192 x 192 scanner serving the centres of two impressions of one
  // finger, in a service whose host application chose the type-line engine:
  // each good capture gives a template with minutiae, which the service
  // keeps.
  recorder_ = std::make_unique<SignalRecorder>(bus().busAddress());
  ASSERT_TRUE(recorder_->connected());
  std::vector<std::string> env = bus().scannerEnv(
      "device vid1:0x2021\n" + scenarioImages({"fvc2004_102_1.pgm", "fvc2004_102_2.pgm", "fvc2004_102_1.pgm"}));
  for (std::string &e : env)
    if (e.rfind("LD_PRELOAD=", 0) == 0) e.insert(std::strlen("LD_PRELOAD="), std::string(ZYL_ALG_MODE_PRELOAD) + ":");
  env.push_back("ZYL_TEST_ALG_MODE=2");
  instance_ = startAndWait(env);
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("carol"), gvariantString("index")});
  EXPECT_EQ(enrolmentSignals(), enrolled("carol")) << diagnostics();
  ASSERT_EQ(filesOf("carol"), std::vector<std::string>{"carol_01_index"});
  const std::string file = readFileBytes(userDir("carol") / "carol_01_index");
  ASSERT_EQ(file.size(), static_cast<std::size_t>(kFingerFileSize));
  for (int n = 0; n < 3; ++n) {
    const std::string slot = file.substr(static_cast<std::size_t>(n) * kSlotSize, 1024);
    EXPECT_NE(slot.substr(0, 16), std::string(16, '\0')) << "slot " << n << ": the type-line template";
    EXPECT_NE(slot.substr(512, 16), std::string(16, '\0')) << "slot " << n << ": the native template behind it";
  }
}
#endif

TEST_F(EnrolVerify, NewFingerTakesTheFirstFreeNumberAndTakenNamesAreRefusedAtOnce) {
  // Stored fingers whose (zero) templates match nothing; ids 1, 2 and 4.
  storeFinger("alice", "alice_01_left_thumb");
  storeFinger("alice", "alice_02_right");
  storeFinger("alice", "alice_04_ring");
  const fs::path trace = bus().root() / "trace.txt";
  start(largeSensor({"fvc2004_102_1.pgm"}), trace);
  bus().callVoid("openDevice", {"0"});
  // "left" is not "left_thumb": the name is read whole, "_" and all.
  bus().callVoid("enroll", {gvariantString("alice"), gvariantString("left")});
  ASSERT_EQ(enrolmentSignals(), enrolled("alice")) << diagnostics();
  EXPECT_EQ(filesOf("alice"),
            (std::vector<std::string>{"alice_01_left_thumb", "alice_02_right", "alice_03_left", "alice_04_ring"}));

  for (const char *taken : {"left_thumb", "right", "ring", "left"}) {
    bus().syslog().clear();
    const std::size_t traffic = traceLines(trace).size();
    bus().callVoid("enroll", {gvariantString("alice"), gvariantString(taken)});
    EXPECT_EQ(enrolmentSignals(), (std::vector<Status>{{"alice", 1, kDuplicateName}})) << taken;
    EXPECT_FALSE(loggedLine("RecvRegCmd")) << taken << ": no worker starts";
    EXPECT_EQ(traceLines(trace).size(), traffic) << taken << ": the scanner is not touched";
  }
  EXPECT_EQ(filesOf("alice").size(), 4u);
}

TEST_F(EnrolVerify, PoorAndFailedCapturesGiveNoTemplate) {
  // A blank frame and a poor print (quality 28) between the good prints,
  // and one capture whose reply fails.
  start("device vid1:0x1024\nimage solid=255\n" + scenarioImages({"fvc2004_102_1.pgm", "fvc2004_101_1.pgm"}) +
        "fault reply=0x90 error skip=2\n");
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("bob"), gvariantString("index")});
  ASSERT_EQ(enrolmentSignals(), enrolled("bob")) << diagnostics();
  EXPECT_TRUE(loggedLine("FPDEV_GetFPRawImage   ret: -104")) << diagnostics();
  const auto lines = logged();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string &l) { return l.find("ZYLFPSCAN_ExtractFeature   ret") != std::string::npos; }),
            3)
      << "only the three good prints are extracted";

  const std::string file = readFileBytes(userDir("bob") / "bob_01_index");
  ASSERT_EQ(file.size(), static_cast<std::size_t>(kFingerFileSize));
  // Every slot holds the print's template, none a blank frame's or a failed
  // capture's.
  const std::string first = file.substr(0, kSlotSize);
  EXPECT_NE(first.substr(0, 16), std::string(16, '\0'));
  EXPECT_EQ(file.substr(kSlotSize, kSlotSize), first);
  EXPECT_EQ(file.substr(2 * kSlotSize), first);
}

TEST_F(EnrolVerify, VerifyOfAUserWithoutFingersAnswersNoMatchWithoutCapturing) {
  const fs::path trace = bus().root() / "trace.txt";
  start(largeSensor({"fvc2004_102_1.pgm"}), trace);
  bus().callVoid("openDevice", {"0"});
  const std::size_t traffic = traceLines(trace).size();
  bus().callVoid("verify", {gvariantString("nobody"), "5"});
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"nobody", 1, ""}));
  EXPECT_EQ(traceLines(trace).size(), traffic);
  EXPECT_TRUE(loggedLine("verifyFingerprint   !dir.exists()"));
}

TEST_F(EnrolVerify, NamesThatWouldLeaveTheDataRootAreRefused) {
  start(largeSensor({"fvc2004_102_1.pgm"}));
  const fs::path parent = bus().hostPath("/usr/share/vyx-authentication/modes/zq3300", instance_);
  ASSERT_TRUE(waitUntil([&] { return fs::is_directory(dataRoot()); })) << diagnostics();
  struct Case {
    const char *user;
    const char *finger;
  };
  const Case cases[] = {{"", "thumb"}, {".", "thumb"},   {"..", "thumb"}, {"../zq3300", "thumb"},
                        {"a/b", "thumb"}, {"alice", ""}, {"alice", ".."}, {"alice", "../../x"}};
  for (const Case &c : cases) {
    bus().callVoid("openDevice", {"0"});
    bus().callVoid("enroll", {gvariantString(c.user), gvariantString(c.finger)});
    EXPECT_EQ(enrolmentSignals(), (std::vector<Status>{{c.user, 1, kEnrollFailed}}))
        << c.user << " / " << c.finger;
    if (std::string(c.user) == "alice") continue;
    bus().callVoid("verify", {gvariantString(c.user), "1"});
    EXPECT_EQ(next("verifyStatusChanged"), (Status{c.user, 1, ""})) << c.user;
  }
  EXPECT_FALSE(loggedLine("RecvRegCmd")) << diagnostics();
  EXPECT_FALSE(loggedLine("RecvAuthCmd"));
  // Nothing was made beside the data root.
  std::vector<std::string> entries;
  for (const auto &e : fs::directory_iterator(parent)) entries.push_back(e.path().filename().string());
  EXPECT_EQ(entries, std::vector<std::string>{"data"});
  EXPECT_TRUE(fs::is_empty(dataRoot()));
}

TEST_F(EnrolVerify, FingerFileThatCannotBeWrittenEndsInFailure) {
  // A plain file where the user's directory belongs.
  fs::create_directories(userDir("carol").parent_path());
  std::ofstream(userDir("carol")) << "not a directory";
  start(largeSensor({"fvc2004_102_1.pgm"}));
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("carol"), gvariantString("thumb")});
  std::vector<Status> expected;
  for (int p : {0, 30, 60, 90}) expected.push_back({"carol", 2, progressMessage(p)});
  expected.push_back({"carol", 1, kEnrollFailed});
  EXPECT_EQ(enrolmentSignals(), expected) << diagnostics();
  EXPECT_EQ(readFileBytes(userDir("carol")), "not a directory");
}

TEST_F(EnrolVerify, EnrolWithoutAClaimedScannerReportsTheFailure) {
  start(largeSensor({"fvc2004_102_1.pgm"}));
  bus().callVoid("enroll", {gvariantString("alice"), gvariantString("thumb")});
  EXPECT_EQ(enrolmentSignals(), (std::vector<Status>{{"alice", 2, progressMessage(0)}, {"alice", 1, kEnrollFailed}}));
  EXPECT_TRUE(loggedLine("RecvRegCmd   _end  pUid: alice01   ret: 1   retval: -905")) << diagnostics();
  EXPECT_FALSE(fs::exists(userDir("alice")));
}

}  // namespace
}  // namespace zyl::test

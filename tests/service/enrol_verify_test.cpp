// Enrolment and verification through the service on a private bus, with the
// virtual scanner serving real prints: the progress and result signals, the
// finger file written, and the comparisons against it.
#include <algorithm>
#include <string>
#include <vector>

#include "service_workers_fixture.h"

namespace zyl::servicetest {
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

}  // namespace
}  // namespace zyl::servicetest

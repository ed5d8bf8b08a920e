// The service with a 0x1061 (160 x 160, matcher library in mode 3) on a
// private bus: enrolment from three captures into whole template slots,
// then verification of the same crop and of another finger.
#include <string>
#include <vector>

#include "service_workers_fixture.h"

namespace zyl::test {
namespace {

using SmallSensor = ServiceWorkersTest;

TEST_F(SmallSensor, EnrolsFromThreeCapturesAndVerifiesOnA1061) {
  // Enrolment: 101_1, 101_2, 101_1; verification: 101_1 (the same crop),
  // then 102_1 (another finger).
  start("device vid1:0x1061\n" + scenarioImages({"fvc2002_101_1_160.pgm", "fvc2002_101_2_160.pgm",
                                                 "fvc2002_101_1_160.pgm", "fvc2002_101_1_160.pgm",
                                                 "fvc2002_102_1_160.pgm"}));
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("dave"), gvariantString("index")});
  EXPECT_EQ(enrolmentSignals(), enrolled("dave")) << diagnostics();

  ASSERT_EQ(filesOf("dave"), std::vector<std::string>{"dave_01_index"});
  const std::string file = readFileBytes(userDir("dave") / "dave_01_index");
  ASSERT_EQ(file.size(), static_cast<std::size_t>(kFingerFileSize));
  const auto slot = [&](int n) { return file.substr(static_cast<std::size_t>(n) * kSlotSize, kSlotSize); };
  for (int n = 0; n < 3; ++n) {
    // A wrapped template of the matcher: format code 79, then its length.
    const std::string s = slot(n);
    EXPECT_EQ(static_cast<unsigned char>(s[0]), 79) << "slot " << n;
    const std::size_t wrapped =
        static_cast<unsigned char>(s[1]) * 256u + static_cast<unsigned char>(s[2]) + 3;
    EXPECT_GT(wrapped, 1024u) << "slot " << n << ": more than the other engines' 1024 bytes";
    EXPECT_EQ(s.substr(wrapped), std::string(kSlotSize - wrapped, '\0')) << "slot " << n << " behind the template";
  }
  EXPECT_EQ(slot(0), slot(2)) << "the first and third captures were the same crop";
  EXPECT_NE(slot(0), slot(1));

  bus().callVoid("releaseDevice", {"0"});
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("verify", {gvariantString("dave"), "3"});
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"dave", 0, ""})) << "the same crop\n" << diagnostics();

  bus().callVoid("releaseDevice", {"0"});
  bus().callVoid("openDevice", {"0"});
  bus().callVoid("verify", {gvariantString("dave"), "3"});
  EXPECT_EQ(next("verifyStatusChanged"), (Status{"dave", 1, ""})) << "another finger\n" << diagnostics();
}

}  // namespace
}  // namespace zyl::test

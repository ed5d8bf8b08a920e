// The whole service as the host framework drives it, on the private bus
// with the virtual scanner serving real prints: enrol two fingers of one user
// and one of another, list, rename, verify, delete one, delete all, reset,
// with the files and signals checked at each step.
#include <string>
#include <vector>

#include "service_workers_fixture.h"

namespace zyl::test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class FrameworkFlow : public ServiceWorkersTest {
 protected:
  // Each result releases the claim; the framework claims the scanner anew.
  void reclaim() {
    bus().callVoid("releaseDevice", {"0"});
    bus().callVoid("openDevice", {"0"});
  }
  void enrol(const std::string &user, const std::string &finger) {
    reclaim();
    bus().callVoid("enroll", {gvariantString(user), gvariantString(finger)});
    EXPECT_EQ(enrolmentSignals(), enrolled(QString::fromStdString(user))) << user << "/" << finger << diagnostics();
  }
  int verify(const std::string &user) {
    reclaim();
    bus().callVoid("verify", {gvariantString(user), "3"});
    const Status s = next("verifyStatusChanged");
    EXPECT_EQ(s.id.toStdString(), user);
    return s.code;
  }
  Names list(const std::string &user) { return bus().callStringList("listfingers", {gvariantString(user)}); }
};

TEST_F(FrameworkFlow, EnrolListRenameVerifyDeleteAndReset) {
  bus().writeUserDatabase({"alice", "bob"});
  // Captures in order: alice's thumb (three), alice's index (three), bob's
  // ring (three), then one each for the verifications. Alice's index and
  // bob's ring are the same print: a finger stored for one user is never
  // compared with another user's captures.
  start("device vid1:0x1024\n" +
        scenarioImages({"fvc2004_102_1.pgm", "fvc2004_102_2.pgm", "fvc2004_102_1.pgm", "fvc2004_103_1.pgm",
                        "fvc2004_103_1.pgm", "fvc2004_103_1.pgm", "fvc2004_103_1.pgm", "fvc2004_103_1.pgm",
                        "fvc2004_103_1.pgm", "fvc2004_102_2.pgm", "fvc2004_102_1.pgm", "fvc2004_102_1.pgm"}));
  bus().callVoid("openDevice", {"0"});

  enrol("alice", "left_thumb");
  enrol("alice", "index");
  enrol("bob", "ring");
  EXPECT_EQ(filesOf("alice"), (Names{"alice_01_left_thumb", "alice_02_index"}));
  EXPECT_EQ(filesOf("bob"), (Names{"bob_01_ring"}));
  EXPECT_EQ(list("alice"), (Names{"left_thumb", "index"}));
  EXPECT_EQ(list("bob"), (Names{"ring"}));

  bus().callVoid("renamefingerName", {gvariantString("alice"), gvariantString("left_thumb"),
                                      gvariantString("right_ring_finger")});
  EXPECT_EQ(filesOf("alice"), (Names{"alice_01_right_ring_finger", "alice_02_index"}));
  EXPECT_EQ(list("alice"), (Names{"right_ring_finger", "index"}));

  EXPECT_EQ(verify("alice"), 0) << "alice's thumb, under its new name";
  EXPECT_EQ(verify("bob"), 1) << "alice's thumb is none of bob's fingers";
  EXPECT_EQ(verify("alice"), 0);

  for (const char *name : {"right", "right_ring", "index_"})
    bus().callVoid("deleteFingerByName", {gvariantString("alice"), gvariantString(name)});
  EXPECT_EQ(filesOf("alice").size(), 2u);
  bus().callVoid("deleteFingerByName", {gvariantString("alice"), gvariantString("right_ring_finger")});
  EXPECT_EQ(filesOf("alice"), (Names{"alice_02_index"}));

  bus().callVoid("deleteAllFeatureByUserId", {gvariantString("alice")});
  EXPECT_FALSE(fs::exists(userDir("alice")));
  EXPECT_EQ(list("alice"), Names{});
  EXPECT_EQ(list("bob"), (Names{"ring"}));

  bus().callVoid("resetDevice", {"0"});
  ASSERT_EQ(next("restStatus"), (Status{"", 0, ""})) << diagnostics();
  EXPECT_TRUE(waitUntil([&] { return !fs::exists(dataRoot()); }));
  EXPECT_EQ(list("bob"), Names{});
  EXPECT_TRUE(quiet("enrollStatusChanged") && quiet("verifyStatusChanged", Milliseconds(0)));
}

}  // namespace
}  // namespace zyl::test

// The storage methods of the service (listfingers, renamefingerName,
// deleteFingerByName, deleteAllFeatureByUserId) and the reset, on stored
// files and the framework's user database as an instance finds them.
#include <memory>
#include <string>
#include <vector>

#include "device/finger_database.h"
#include "service_workers_fixture.h"

namespace zyl::test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class FingerStorage : public ServiceWorkersTest {
 protected:
  Names list(const std::string &user) { return bus().callStringList("listfingers", {gvariantString(user)}); }
  void rename(const std::string &user, const std::string &from, const std::string &to) {
    bus().callVoid("renamefingerName", {gvariantString(user), gvariantString(from), gvariantString(to)});
  }
  void remove(const std::string &user, const std::string &finger) {
    bus().callVoid("deleteFingerByName", {gvariantString(user), gvariantString(finger)});
  }
  void removeAll(const std::string &user) { bus().callVoid("deleteAllFeatureByUserId", {gvariantString(user)}); }
};

TEST_F(FingerStorage, ListsRenamesAndDeletesFingersByTheirWholeNames) {
  bus().writeUserDatabase({"u", "a_b"});
  for (const char *file : {"u_01_left", "u_02_right", "u_03_left_thumb", "u_04_left"}) storeFinger("u", file);
  storeFinger("a_b", "a_b_07_x_y");
  start("");

  EXPECT_EQ(list("u"), (Names{"left", "right", "left_thumb", "left"}));
  EXPECT_EQ(list("a_b"), (Names{"x_y"}));

  rename("u", "left", "thumb");
  EXPECT_EQ(filesOf("u"), (Names{"u_01_thumb", "u_02_right", "u_03_left_thumb", "u_04_thumb"}))
      << "every file of that name, ids kept, left_thumb untouched";
  rename("u", "left_thumb", "index_tip");
  rename("u", "right", "index_tip");
  EXPECT_EQ(list("u"), (Names{"thumb", "index_tip", "index_tip", "thumb"})) << "a new name is not checked";

  remove("u", "thumb");
  EXPECT_EQ(filesOf("u"), (Names{"u_02_index_tip", "u_03_index_tip", "u_04_thumb"})) << "one file per call";
  remove("u", "index");
  remove("u", "tip");
  EXPECT_EQ(filesOf("u").size(), 3u) << "names are compared whole";
  for (const char *name : {"index_tip", "thumb"}) remove("u", name);
  EXPECT_EQ(filesOf("u"), (Names{"u_03_index_tip"}));
  remove("u", "index_tip");
  EXPECT_FALSE(fs::exists(userDir("u"))) << "the last finger takes the directory with it";
  EXPECT_EQ(list("u"), Names{});
  EXPECT_TRUE(loggedLine("listfingers    !dir.exists()"));

  removeAll("a_b");
  EXPECT_FALSE(fs::exists(userDir("a_b")));
  EXPECT_TRUE(fs::is_directory(dataRoot()));
}

TEST_F(FingerStorage, UsersMissingFromTheFrameworkDatabaseAreLeftAlone) {
  bus().writeUserDatabase({"alice"});
  storeFinger("mallory", "mallory_01_thumb");
  start("");
  EXPECT_EQ(list("mallory"), Names{});
  rename("mallory", "thumb", "index");
  remove("mallory", "thumb");
  removeAll("mallory");
  EXPECT_EQ(filesOf("mallory"), Names{"mallory_01_thumb"});
  EXPECT_EQ(list("alice"), Names{}) << "a known user without a directory";
}

TEST_F(FingerStorage, MissingDatabaseIsNeitherReadNorCreated) {
  storeFinger("alice", "alice_01_thumb");
  start("");
  EXPECT_EQ(list("alice"), Names{});
  removeAll("alice");
  EXPECT_EQ(filesOf("alice"), Names{"alice_01_thumb"});
  EXPECT_FALSE(fs::exists(bus().hostPath("/opt/vantor/db/vantor.db", instance_)));
}

TEST_F(FingerStorage, NamesThatWouldLeaveTheUsersDirectoryAreRefused) {
  // Even ids that the framework's table holds never become paths outside.
  bus().writeUserDatabase({"..", ".", "alice", "../modes"});
  storeFinger("alice", "alice_01_thumb");
  const fs::path sentinel = bus().hostPath("/usr/share/vyx-authentication/modes/keep");
  std::ofstream(sentinel) << "keep";
  start("");

  for (const char *user : {"..", ".", "../modes"}) {
    EXPECT_EQ(list(user), Names{}) << user;
    removeAll(user);
    remove(user, "thumb");
  }
  rename("alice", "thumb", "../../escape");
  rename("alice", "thumb", "a/b");
  rename("alice", "thumb", "");
  remove("alice", "../alice/alice_01_thumb");
  EXPECT_EQ(filesOf("alice"), Names{"alice_01_thumb"});
  EXPECT_EQ(readFileBytes(sentinel), "keep");
  EXPECT_TRUE(fs::is_directory(dataRoot()));
}

TEST_F(FingerStorage, ExportAndImportMethodsAnswerAndDoNothing) {
  start("");
  bus().syslog().clear();
  bus().callVoid("setStorageType", {"3"});
  bus().callVoid("exportAllDataFromDevice", {gvariantString("/tmp/out")});
  bus().callVoid("exportDataStop");
  bus().callVoid("importAllDataToDevice");
  bus().callVoid("importDataStop");
  EXPECT_TRUE(recorder_->collect(Milliseconds(200)).empty());
  EXPECT_EQ(logged(), Names{});
}

class Reset : public ServiceWorkersTest {
 protected:
  // Lines of the reset worker's calls of the SDK, in order.
  Names deleteAllLines() {
    Names out;
    for (const auto &line : logged())
      if (line.find("ZYLFPSCAN_DeleteAllFinger") != std::string::npos) out.push_back(line);
    return out;
  }
};

TEST_F(Reset, ClearsEachUsersOnHostDatabaseOnceAndRemovesTheDataRoot) {
  namespace db = zyl::device::fingerdb;
  storeFinger("alice", "alice_01_thumb");
  storeFinger("bob.smith", "bob.smith_01_index");
  // Alice has an on-host database with one enrolled finger; bob.smith none.
  std::vector<std::uint8_t> image(db::kPlainSize);
  const db::Plain plain(image.data(), db::kPlainSize);
  db::FormatBlank(plain);
  auto staged = std::make_unique<db::StagingArea>();
  staged->fill(0x5A);
  db::RecordAt(plain, 0).enrol("thumb", *staged);
  const fs::path aliceDatabase = bus().hostPath("/usr/ZYL_alice");
  fs::create_directories(aliceDatabase.parent_path());
  ASSERT_EQ(db::WriteDatabase(aliceDatabase.string(), plain), 0);

  start("device vid1:0x1024\n");
  bus().callVoid("resetDevice", {"0"});
  ASSERT_EQ(next("restStatus"), (Status{"", 0, ""})) << diagnostics();
  EXPECT_TRUE(waitUntil([&] { return !fs::exists(dataRoot()); }));

  // Once per user, by the whole user id; a user without an on-host database
  // gets -232 (then its text) and none is created.
  const Names expected = {
      "vyx-fingerprint-driver    RecvResetCmd   ZYLFPSCAN_DeleteAllFinger   userId: alice   ret: 0   ",
      "vyx-fingerprint-driver    RecvResetCmd   ZYLFPSCAN_DeleteAllFinger   userId: bob.smith   ret: -232"};
  Names lines = deleteAllLines();
  for (std::size_t i = 0; i < lines.size() && i < expected.size(); ++i) lines[i].resize(expected[i].size());
  EXPECT_EQ(lines, expected) << diagnostics();
  for (const char *name : {"/usr/ZYL_bob.smith", "/usr/ZYL_bob"})
    EXPECT_FALSE(fs::exists(bus().hostPath(name, instance_))) << name;
  ASSERT_EQ(db::ReadDatabase(aliceDatabase.string(), plain), 0);
  EXPECT_FALSE(db::RecordAt(plain, 0).in_use()) << "alice's finger was freed";
  EXPECT_EQ(db::RecordAt(plain, 0).slot(0)[0], 0);

  // The scanner was released, so it can be claimed again.
  bus().syslog().clear();
  bus().callVoid("openDevice", {"0"});
  EXPECT_TRUE(loggedLine("ZYLFPSCAN_OpenDevice   ret :0")) << diagnostics();
}

TEST_F(Reset, EmptyDataRootIsRemovedAndReported) {
  start("device vid1:0x1024\n");
  bus().callVoid("resetDevice", {"0"});
  ASSERT_EQ(next("restStatus"), (Status{"", 0, ""})) << diagnostics();
  EXPECT_EQ(deleteAllLines(), Names{});
  EXPECT_TRUE(waitUntil([&] { return !fs::exists(dataRoot()); }));
}

TEST_F(Reset, WithoutAScannerIsRefusedAndDeletesNothing) {
  storeFinger("alice", "alice_01_thumb");
  start("");
  bus().callVoid("resetDevice", {"0"});
  EXPECT_EQ(next("restStatus"), (Status{"", 3, ""}));
  EXPECT_EQ(filesOf("alice"), Names{"alice_01_thumb"});
  EXPECT_FALSE(loggedLine("RecvResetCmd"));
}

}  // namespace
}  // namespace zyl::test

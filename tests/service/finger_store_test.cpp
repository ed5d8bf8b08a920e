// The service's finger files on disk: names read back by user id and number,
// the next free number, atomic saves, tree removal and the read-only lookup
// in the framework's user database.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <QSqlDatabase>
#include <QSqlQuery>

#include "finger_store.h"

namespace {

namespace fs = std::filesystem;

QString q(const std::string &s) { return QString::fromStdString(s); }

std::string readAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void touch(const fs::path &path, const std::string &content = "x") {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// A temporary directory removed after each test.
class FingerStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zyl-fingers-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }
  fs::path root_;
};

TEST(FingerFileNames, ReadBackAsUserIdNumberAndTheRest) {
  struct Case {
    const char *file;
    const char *user;
    bool valid;
    int id;
    const char *idText;
    const char *finger;
  };
  const Case cases[] = {
      {"alice_01_left", "alice", true, 1, "01", "left"},
      {"alice_02_left_thumb", "alice", true, 2, "02", "left_thumb"},
      {"alice_100_x", "alice", true, 100, "100", "x"},
      {"a_b_03_x_y", "a_b", true, 3, "03", "x_y"},
      {".bob_04_ring", ".bob", true, 4, "04", "ring"},
      // In user a's directory a file of user a_b is no finger of a's.
      {"a_b_03_x", "a", false, 0, "", ""},
      {"bob_01_left", "alice", false, 0, "", ""},
      {"alice_x1_left", "alice", false, 0, "", ""},
      {"alice__left", "alice", false, 0, "", ""},
      {"alice_01_", "alice", false, 0, "", ""},
      {"alice_01", "alice", false, 0, "", ""},
      {"alice_99999999999_x", "alice", false, 0, "", ""},
      {".saving-Ab12Cd", "alice", false, 0, "", ""},
      {"alice_01_left", "", false, 0, "", ""},
  };
  for (const Case &c : cases) {
    const auto file = vyx::parseFingerFileName(q(c.file), q(c.user));
    ASSERT_EQ(file.has_value(), c.valid) << c.file << " of " << c.user;
    if (!file) continue;
    EXPECT_EQ(file->id, c.id) << c.file;
    EXPECT_EQ(file->idText, q(c.idText)) << c.file;
    EXPECT_EQ(file->fingerName, q(c.finger)) << c.file;
  }
}

TEST(FingerFileNames, EveryNameWrittenReadsBackAsWritten) {
  // Random user ids and finger names over an alphabet rich in "_", digits
  // and dots: what a file name is built from is exactly what it reads back
  // as, so no name can pass for another.
  std::mt19937 random(7);
  const std::string alphabet = "_0123456789.ab_";
  const auto randomName = [&] {
    std::string name(1 + random() % 8, ' ');
    for (char &c : name) c = alphabet[random() % alphabet.size()];
    return q(name);
  };
  for (int i = 0; i < 5000; ++i) {
    const QString user = randomName();
    const QString finger = randomName();
    const int id = 1 + static_cast<int>(random() % 150);
    const QString path = vyx::fingerFilePath("/d/" + user, user, id, finger);
    const auto file = vyx::parseFingerFileName(path.mid(path.lastIndexOf('/') + 1), user);
    ASSERT_TRUE(file) << path.toStdString();
    EXPECT_EQ(file->id, id) << path.toStdString();
    EXPECT_EQ(file->fingerName, finger) << path.toStdString();
  }
}

TEST(FingerFileNames, AreBuiltWithTwoDigitIdsAtLeast) {
  EXPECT_EQ(vyx::paddedFingerId(1), "01");
  EXPECT_EQ(vyx::paddedFingerId(12), "12");
  EXPECT_EQ(vyx::paddedFingerId(100), "100");
  EXPECT_EQ(vyx::fingerFilePath("/d/u_1", "u_1", 3, "left_thumb"), "/d/u_1/u_1_03_left_thumb");
  EXPECT_EQ(vyx::userFeatureDir("alice"), "/usr/share/vyx-authentication/modes/zq3300/data/alice");
}

TEST(FingerFileNames, NamesThatWouldLeaveTheDirectoryAreUnsafe) {
  for (const char *bad : {"", ".", "..", "../etc", "a/b", "/"}) EXPECT_FALSE(vyx::isSafeName(q(bad))) << bad;
  EXPECT_FALSE(vyx::isSafeName(QString::fromLatin1("a\0b", 3)));
  for (const char *good : {"alice", "left_thumb", ".hidden", "...", "a.b", "名字"})
    EXPECT_TRUE(vyx::isSafeName(QString::fromUtf8(good))) << good;
}

TEST_F(FingerStore, ListsOnlyTheUsersFilesInNameOrderAndFindsTheNextFreeId) {
  const fs::path dir = root_ / "u_1";
  for (const char *name : {"u_1_04_ring", "u_1_01_left_thumb", "u_1_02_right", "notes.txt", "u_1_xx_bad"})
    touch(dir / name, std::string(vyx::kFingerFileSize, 'a'));
  fs::create_directories(dir / "u_1_05_directory");

  std::vector<std::string> names;
  for (const auto &file : vyx::listFingerFiles(q(dir.string()))) names.push_back(file.fingerName.toStdString());
  EXPECT_EQ(names, (std::vector<std::string>{"left_thumb", "right", "ring"}));

  EXPECT_EQ(vyx::nextFingerId(q(dir.string())), 3) << "ids 1, 2 and 4 are taken";
  const auto map = vyx::scanFingerFiles(q(dir.string()));
  EXPECT_TRUE(vyx::getSameFinger(map, "left_thumb"));
  EXPECT_FALSE(vyx::getSameFinger(map, "left")) << "a name is compared whole";
  EXPECT_FALSE(vyx::getSameFinger(map, "Right")) << "and case-sensitively";

  EXPECT_EQ(vyx::nextFingerId(q((root_ / "nobody").string())), 1);
  EXPECT_TRUE(vyx::scanFingerFiles(q((root_ / "nobody").string())).isEmpty());
}

TEST_F(FingerStore, SaveWritesTheWholeFileUnderItsNameAndLeavesNoTemporaryFile) {
  const fs::path dir = root_ / "new" / "alice";
  std::string bytes(vyx::kFingerFileSize, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  const fs::path file = dir / "alice_01_left";
  ASSERT_EQ(vyx::saveFeatureData(bytes.data(), static_cast<int>(bytes.size()), q(dir.string()), q(file.string())),
            vyx::kSaveOk);
  EXPECT_EQ(readAll(file), bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all)
      << "a new user directory lists its fingers to its owner alone";
}

TEST_F(FingerStore, UserDirectoryIsPrivateWhateverTheUmask) {
  const mode_t saved = ::umask(0);
  const fs::path dir = root_ / "bob";
  const std::string bytes(16, 'n');
  const int status = vyx::saveFeatureData(bytes.data(), 16, q(dir.string()), q((dir / "bob_01_x").string()));
  ::umask(saved);
  ASSERT_EQ(status, vyx::kSaveOk);
  EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(FingerStore, SaveNeverReplacesAStoredFinger) {
  const fs::path file = root_ / "alice_01_left";
  touch(file, "stored");
  const std::string bytes(16, 'n');
  EXPECT_EQ(vyx::saveFeatureData(bytes.data(), 16, q(root_.string()), q(file.string())), vyx::kSaveExists);
  EXPECT_EQ(readAll(file), "stored");
  EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1) << "no temporary file left";
}

TEST_F(FingerStore, SaveIntoAnUnwritableDirectoryFailsAndWritesNothing) {
  if (geteuid() == 0) {
    // Root writes anywhere; a plain file in the directory's place stops it.
    touch(root_ / "blocked");
    const std::string bytes(16, 'n');
    const fs::path dir = root_ / "blocked" / "alice";
    EXPECT_NE(vyx::saveFeatureData(bytes.data(), 16, q(dir.string()), q((dir / "alice_01_x").string())), 0);
    EXPECT_EQ(readAll(root_ / "blocked"), "x");
    return;
  }
  fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec);
  const std::string bytes(16, 'n');
  EXPECT_EQ(vyx::saveFeatureData(bytes.data(), 16, q(root_.string()), q((root_ / "alice_01_x").string())),
            vyx::kSaveCannotCreate);
  fs::permissions(root_, fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(FingerStore, RemovePathTakesTheWholeTreeButNothingALinkPointsTo) {
  const fs::path outside = root_ / "outside";
  touch(outside / "keep");
  const fs::path tree = root_ / "data";
  touch(tree / "alice" / "alice_01_left");
  touch(tree / ".bob" / ".bob_01_x");
  touch(tree / "carol" / "deep" / "deeper" / "f");
  touch(tree / "carol" / ".saving-Ab12Cd");
  fs::create_directory_symlink(outside, tree / "carol" / "link");
  fs::create_symlink(outside / "keep", tree / "alice" / "filelink");

  vyx::removePath(q(tree.string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_TRUE(fs::exists(outside / "keep"));

  // A link given itself is removed, not its target; an empty path is nothing.
  fs::create_directory_symlink(outside, root_ / "dirlink");
  vyx::removePath(q((root_ / "dirlink").string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "dirlink")));
  vyx::removePath(QString());
  vyx::removePath(q((outside / "keep").string()));
  EXPECT_FALSE(fs::exists(outside / "keep"));
  EXPECT_TRUE(fs::is_directory(outside));
}

TEST_F(FingerStore, UserLookupReadsTheDatabaseAndNeverCreatesIt) {
  const fs::path db = root_ / "vantor.db";
  {
    QSqlDatabase sql = QSqlDatabase::addDatabase("QSQLITE", "finger-store-test");
    sql.setDatabaseName(q(db.string()));
    ASSERT_TRUE(sql.open());
    QSqlQuery query(sql);
    ASSERT_TRUE(query.exec("CREATE TABLE user (id INTEGER PRIMARY KEY, user_id TEXT)"));
    ASSERT_TRUE(query.exec("INSERT INTO user (user_id) VALUES ('alice'), ('a_b')"));
    sql.close();
  }
  QSqlDatabase::removeDatabase("finger-store-test");

  struct Case {
    const char *user;
    bool exists;
  };
  for (const Case &c : {Case{"alice", true}, Case{"a_b", true}, Case{"bob", false}, Case{"alice' OR '1'='1", false},
                        Case{"", false}})
    EXPECT_EQ(vyx::userExists(q(c.user), q(db.string())), c.exists) << c.user;
  // Called again and again on the same connection settings.
  EXPECT_TRUE(vyx::userExists("alice", q(db.string())));

  const fs::path missing = root_ / "missing.db";
  EXPECT_FALSE(vyx::userExists("alice", q(missing.string())));
  EXPECT_FALSE(fs::exists(missing)) << "a missing database must not be created";

  touch(root_ / "empty.db", "");
  EXPECT_FALSE(vyx::userExists("alice", q((root_ / "empty.db").string()))) << "no user table";
}

}  // namespace

// The on-host finger database: file layout and encipherment, the record
// calls, the name rules, safe rewrites, and the enrolment and identification
// flows driven by a scripted scanner.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "api/product_device_calls.h"
#include "device/des_buffer.h"
#include "device/device_record.h"
#include "device/finger_database.h"
#include "support/device_fixture.h"
#include "support/pgm.h"
#include "zylscan/zylfpscan_database.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Layout values as tabled, written out here rather than taken from the
// library so that a wrong constant there shows up.
constexpr std::size_t kFile = 3072640;
constexpr std::size_t kRecord = 307264;
constexpr std::size_t kSlot = 20480;
constexpr std::size_t kName = 19;
constexpr std::size_t kCount = 307259;
constexpr std::uint8_t kBlankSum = 0x92;  // 8-bit sum of "QXE",1,1,0x20,0xA5 and 35 x 0xFF

Bytes BlankRecord() {
  Bytes r(kRecord, 0);
  const std::uint8_t head[] = {'Q', 'X', 'E', 1, 1, 0x20, 0xA5};
  std::copy(std::begin(head), std::end(head), r.begin());
  std::fill(r.begin() + 8, r.begin() + 43, 0xFF);
  r[204843] = kBlankSum;
  return r;
}

Bytes BlankPlain() {
  Bytes plain;
  for (int i = 0; i < 10; ++i) {
    const Bytes r = BlankRecord();
    plain.insert(plain.end(), r.begin(), r.end());
  }
  return plain;
}

std::uint8_t* Rec(Bytes& plain, int index) { return plain.data() + index * kRecord; }

// A 1024-byte template whose first byte tells it apart.
Bytes Feature(std::uint8_t marker) {
  Bytes f(1024, 0);
  f[0] = marker;
  f[5] = 20;
  f[1023] = 0x5A;
  return f;
}

// Marks a record enrolled as the enrolment leaves it: slot k holds the
// template of marker + k.
void EnrolRecord(Bytes& plain, int index, const std::string& name, std::uint8_t marker, int count = 10) {
  std::uint8_t* r = Rec(plain, index);
  r[7] = 1;
  std::fill(r + kName, r + kName + 24, 0);
  std::memcpy(r + kName, name.data(), name.size());
  for (int k = 0; k < std::min(count, 15); ++k) {
    const Bytes f = Feature(static_cast<std::uint8_t>(marker + k));
    std::copy(f.begin(), f.end(), r + 43 + k * kSlot);
  }
  std::fill(r + 307244, r + 307254, 0xA5);
  r[kCount] = static_cast<std::uint8_t>(count);
}

Bytes ReadFile(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return {};
  Bytes bytes(size);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  return bytes;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One 3DES-ECB call over the whole buffer under the stored key: the
// reference for the library's faster database cipher.
Bytes ReferenceEncipher(const Bytes& plain) {
  Bytes out(plain.size());
  EXPECT_EQ(zyl::device::triple_des_ecb_encrypt(plain, zyl::device::stored_key(), out),
            static_cast<std::ptrdiff_t>(plain.size()));
  return out;
}

Bytes ReferenceDecipher(const Bytes& file) {
  Bytes out(file.size());
  EXPECT_EQ(zyl::device::triple_des_ecb_decrypt(file, zyl::device::stored_key(), out), 0);
  return out;
}

// The library's database cipher, for fixtures (checked against the
// reference above).
Bytes Encipher(Bytes plain) {
  Bytes out(kFile);
  zyl::device::fingerdb::EncipherDatabase(zyl::device::fingerdb::Plain(plain.data(), kFile),
                                          std::span<std::uint8_t, kFile>(out.data(), kFile));
  return out;
}

Bytes Decipher(const Bytes& file) {
  Bytes out(kFile);
  zyl::device::fingerdb::DecipherDatabase(std::span<const std::uint8_t, kFile>(file.data(), kFile),
                                          zyl::device::fingerdb::Plain(out.data(), kFile));
  return out;
}

std::string NameField(const Bytes& plain, int index) {
  return std::string(reinterpret_cast<const char*>(plain.data() + index * kRecord + kName), 24);
}

std::string Padded(const std::string& name) { return name + std::string(24 - name.size(), '\0'); }

// One round of the scripted scanner: what the capture, the quality measure
// and the extraction answer.
struct Round {
  int capture = 0;
  int quality = 80;
  int extract = 0;
};

struct VerifyCall {
  int level;
  int count;
  std::uint8_t first_slot_marker;
};

// Stands in for the device calls: each capture takes 10 ms of a fake clock,
// so a time-out of 10 x (n - 1) ms gives exactly n rounds. Each extraction
// yields Feature(0x80 + round). Comparisons are answered by compare(marker
// of the first slot, count) -> score; a score above 59 matches.
struct ScriptedScanner {
  std::vector<Round> rounds{Round{}};
  std::function<int(std::uint8_t marker, int count)> compare = [](std::uint8_t, int) { return 0; };
  std::vector<VerifyCall> verifies;
  int captures = 0;
  std::chrono::steady_clock::time_point clock{};

  const Round& current() const {
    return rounds[std::min<std::size_t>(static_cast<std::size_t>(captures - 1), rounds.size() - 1)];
  }

  zyl::device::DeviceCalls calls() {
    zyl::device::DeviceCalls c;
    c.now = [this] { return clock; };
    c.capture = [this](void*, int, std::uint8_t* image) {
      ++captures;
      clock += std::chrono::milliseconds(10);
      image[0] = 1;
      return current().capture;
    };
    c.quality = [this](int, int, const std::uint8_t*, int* q) {
      *q = current().quality;
      return 0;
    };
    c.extract = [this](void*, int, std::uint8_t* feature) {
      const Bytes f = Feature(static_cast<std::uint8_t>(0x80 + captures));
      std::copy(f.begin(), f.end(), feature);
      return current().extract;
    };
    c.verify_ext = [this](void*, int level, const std::uint8_t*, int count, const std::uint8_t* slots,
                          int* best, int* result) {
      verifies.push_back({level, count, count > 0 ? slots[0] : std::uint8_t{0}});
      *best = count > 0 ? compare(slots[0], count) : 0;
      *result = *best > 59 ? 0 : 1;
      return *result;
    };
    return c;
  }
};

class FingerDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fingerdb_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    device_ = std::make_unique<zyl::device::DeviceRecord>();
    // Never dereferenced by the database code; only its presence counts.
    device_->algorithmContext = reinterpret_cast<XWContext*>(&context_dummy_);
    device_->width = 16;
    device_->height = 16;
    device_->productId = 0x2022;
    zyl::device::EnrolmentStaging().fill(0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Path(const std::string& db = "db") const { return dir_ / ("ZYL_" + db); }
  std::string Dir() const { return dir_.string(); }
  void* Handle() { return device_.get(); }

  void Store(const Bytes& plain, const std::string& db = "db") { WriteFile(Path(db), Encipher(plain)); }
  Bytes Load(const std::string& db = "db") {
    const Bytes file = ReadFile(Path(db));
    EXPECT_EQ(file.size(), kFile);
    return file.size() == kFile ? Decipher(file) : Bytes();
  }
  ino_t Inode(const std::string& db = "db") const {
    struct stat st {};
    EXPECT_EQ(::stat(Path(db).c_str(), &st), 0);
    return st.st_ino;
  }
  // The names of the files in the test directory.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  int Enroll(ScriptedScanner& s, int step, const char* finger = "thumb", const char* db = "db",
             int timeout = 0) {
    return zyl::device::Enroll(Dir(), s.calls(), Handle(), timeout, step, db, finger);
  }
  int Identify(ScriptedScanner& s, char* name, int* score, int timeout = 0, int level = 5) {
    return zyl::device::Identify(Dir(), s.calls(), Handle(), level, timeout, "db", name, score);
  }

  fs::path dir_;
  std::unique_ptr<zyl::device::DeviceRecord> device_;
  int context_dummy_ = 0;
};

// --- file layout -----------------------------------------------------------

TEST_F(FingerDatabaseTest, TenStepEnrolmentWritesTheTabledFile) {
  ScriptedScanner scanner;
  for (int step = 1; step <= 9; ++step) {
    ASSERT_EQ(Enroll(scanner, step), ZYLFPSCAN_OK) << step;
    EXPECT_TRUE(Files().empty()) << "staging writes no file";
  }
  ASSERT_EQ(Enroll(scanner, 10), ZYLFPSCAN_OK);
  EXPECT_EQ(Files(), std::vector<std::string>{"ZYL_db"});

  const Bytes file = ReadFile(Path());
  ASSERT_EQ(file.size(), kFile);
  const Bytes plain = ReferenceDecipher(file);
  Bytes expected = BlankPlain();
  std::uint8_t* r = Rec(expected, 0);
  r[7] = 1;
  std::fill(r + kName, r + kName + 24, 0);
  std::memcpy(r + kName, "thumb", 5);
  // Step k's sample is the one of capture k (markers 0x81..0x8A). Slot 10
  // keeps the blank record's sum byte.
  for (int k = 0; k < 10; ++k) {
    const Bytes f = Feature(static_cast<std::uint8_t>(0x81 + k));
    std::copy(f.begin(), f.end(), r + 43 + k * kSlot);
  }
  std::fill(r + 307244, r + 307254, 0xA5);
  r[kCount] = 10;

  ASSERT_EQ(plain.size(), expected.size());
  for (int i = 0; i < 10; ++i)
    EXPECT_TRUE(std::equal(plain.begin() + i * kRecord, plain.begin() + (i + 1) * kRecord,
                           expected.begin() + i * kRecord))
        << "record " << i;
  EXPECT_EQ(plain[204843], kBlankSum);
}

TEST(FingerDatabaseCipher, MatchesOneCipherCallOverTheWholeImage) {
  // Zero and non-zero blocks in runs of every length, at both ends too;
  // the cipher text holds blocks that decipher to zero among others.
  std::mt19937 rng(11);
  Bytes plain(kFile, 0);
  for (std::size_t block = 0; block < kFile / 8;) {
    const std::size_t run = 1 + rng() % 40;
    const bool random = rng() % 2 == 0 || block == 0 || block + run >= kFile / 8;
    for (std::size_t b = block; b < std::min(block + run, kFile / 8); ++b)
      for (std::size_t i = 0; i < 8; ++i) plain[b * 8 + i] = random ? std::uint8_t(rng() | 1) : 0;
    block += run;
  }
  const Bytes file = ReferenceEncipher(plain);
  EXPECT_EQ(Encipher(plain), file);
  EXPECT_EQ(Decipher(file), plain);
}

TEST_F(FingerDatabaseTest, SecondEnrolmentTakesTheNextFreeRecord) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "first", 0x10);
  Store(plain);
  ScriptedScanner scanner;
  for (int step = 1; step <= 10; ++step) ASSERT_EQ(Enroll(scanner, step, "second"), ZYLFPSCAN_OK);
  const Bytes after = Load();
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + kRecord, plain.begin()));
  EXPECT_EQ(after[kRecord + 7], 1);
  EXPECT_EQ(NameField(after, 1), Padded("second"));
}

TEST_F(FingerDatabaseTest, EleventhFingerIsRefusedWithTheFileUnchanged) {
  Bytes plain = BlankPlain();
  for (int i = 0; i < 10; ++i) EnrolRecord(plain, i, "f" + std::to_string(i), 0x10);
  Store(plain);
  const Bytes before = ReadFile(Path());
  const ino_t inode = Inode();

  ScriptedScanner scanner;
  for (int step = 1; step <= 9; ++step) ASSERT_EQ(Enroll(scanner, step, "eleventh"), ZYLFPSCAN_OK);
  EXPECT_EQ(Enroll(scanner, 10, "eleventh"), ZYLFPSCAN_ERR_DB_FULL);
  EXPECT_EQ(ReadFile(Path()), before);
  EXPECT_EQ(Inode(), inode);
}

// --- record calls ------------------------------------------------------------

TEST_F(FingerDatabaseTest, DeleteFreesTheFirstRecordWhoseNameStartsWithTheGivenName) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "rightthumb", 0x10);
  EnrolRecord(plain, 1, "leftthumb", 0x20, 12);
  EnrolRecord(plain, 2, "leftindex", 0x30);
  Store(plain);

  EXPECT_EQ(zyl::device::DeleteFinger(Dir(), "db", "thumb"), ZYLFPSCAN_NO_MATCH) << "prefix, not substring";
  EXPECT_EQ(zyl::device::DeleteFinger(Dir(), "db", "left"), ZYLFPSCAN_OK);

  const Bytes after = Load();
  Bytes expected = plain;
  std::uint8_t* r = Rec(expected, 1);
  r[7] = 0;
  std::fill(r + 43, r + 43 + 15 * kSlot, 0);  // every slot, the learnt ones too
  std::fill(r + kName, r + kName + 24, 0xFF);  // count and 0xA5 mark stay
  EXPECT_EQ(after, expected);
}

TEST_F(FingerDatabaseTest, DeletingAnUnknownNameReturnsOneAndStillRewrites) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "thumb", 0x10);
  Store(plain);
  ::chmod(Path().c_str(), 0640);
  const ino_t inode = Inode();

  EXPECT_EQ(zyl::device::DeleteFinger(Dir(), "db", "index"), ZYLFPSCAN_NO_MATCH);
  EXPECT_EQ(Load(), plain);
  EXPECT_NE(Inode(), inode) << "the file was replaced";
  struct stat st {};
  ASSERT_EQ(::stat(Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the permissions";
  EXPECT_EQ(Files(), std::vector<std::string>{"ZYL_db"});
}

TEST_F(FingerDatabaseTest, DeleteAllFreesEveryRecordAndKeepsTheNames) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "a", 0x10);
  EnrolRecord(plain, 3, "b", 0x20, 15);
  Store(plain);

  ASSERT_EQ(zyl::device::DeleteAllFinger(Dir(), "db"), ZYLFPSCAN_OK);
  Bytes expected = plain;
  for (int i : {0, 3}) {
    std::uint8_t* r = Rec(expected, i);
    r[7] = 0;
    std::fill(r + 43, r + 43 + 15 * kSlot, 0);
  }
  EXPECT_EQ(Load(), expected);
  char names[240];
  int count = -1;
  ASSERT_EQ(zyl::device::EnrollListFingers(Dir(), "db", names, &count), ZYLFPSCAN_OK);
  EXPECT_EQ(count, 0);
}

TEST_F(FingerDatabaseTest, ListCopiesTheNameFieldsOfEnrolledRecordsInOrder) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 1, "index", 0x10);
  EnrolRecord(plain, 4, "abcdefghijklmnopqrstuvwx", 0x20);  // fills the field
  Rec(plain, 6)[7] = 2;  // neither free nor enrolled: not listed
  Store(plain);
  const ino_t inode = Inode();

  char names[240];
  std::memset(names, '#', sizeof names);
  int count = -1;
  ASSERT_EQ(zyl::device::EnrollListFingers(Dir(), "db", names, &count), ZYLFPSCAN_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(std::string(names, 48), Padded("index") + "abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(names[48], '#') << "nothing written past the listed names";
  EXPECT_EQ(Inode(), inode) << "listing does not rewrite";
}

TEST_F(FingerDatabaseTest, RenameReplacesTheWholeNameField) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "leftthumb", 0x10);
  Store(plain);

  ASSERT_EQ(zyl::device::RenameFinger(Dir(), "db", "left", "x"), ZYLFPSCAN_OK);
  EXPECT_EQ(NameField(Load(), 0), Padded("x"));
  ASSERT_EQ(zyl::device::RenameFinger(Dir(), "db", "x", "abcdefghijklmnopqrstuvwx"), ZYLFPSCAN_OK);
  EXPECT_EQ(NameField(Load(), 0), "abcdefghijklmnopqrstuvwx");
  // No match: 0, and the record is as it was.
  EXPECT_EQ(zyl::device::RenameFinger(Dir(), "db", "nobody", "y"), ZYLFPSCAN_OK);
  EXPECT_EQ(NameField(Load(), 0), "abcdefghijklmnopqrstuvwx");
}

// --- refusals and file codes -------------------------------------------------

TEST_F(FingerDatabaseTest, RefusesBadNamesWithoutTouchingTheDirectory) {
  ScriptedScanner scanner;
  const std::string longest(190, 'd');
  const std::string too_long(191, 'd');
  const char* finger24 = "abcdefghijklmnopqrstuvwx";
  const char* finger25 = "abcdefghijklmnopqrstuvwxy";
  char names[240];
  int count = 0;
  int score = 0;
  struct Case {
    const char* what;
    std::function<int()> call;
    int expected;
  };
  const std::vector<Case> cases = {
      {"delete, null database", [&] { return zyl::device::DeleteFinger(Dir(), nullptr, "a"); }, -900},
      {"delete, null finger", [&] { return zyl::device::DeleteFinger(Dir(), "db", nullptr); }, -900},
      {"delete, slash", [&] { return zyl::device::DeleteFinger(Dir(), "../db", "a"); }, -900},
      {"delete, 25-byte finger", [&] { return zyl::device::DeleteFinger(Dir(), "db", finger25); }, -900},
      {"delete, 24-byte finger", [&] { return zyl::device::DeleteFinger(Dir(), "db", finger24); }, -232},
      {"delete all, null", [&] { return zyl::device::DeleteAllFinger(Dir(), nullptr); }, -900},
      {"delete all, slash", [&] { return zyl::device::DeleteAllFinger(Dir(), "a/b"); }, -900},
      {"delete all, 191 bytes", [&] { return zyl::device::DeleteAllFinger(Dir(), too_long.c_str()); }, -900},
      {"delete all, 190 bytes", [&] { return zyl::device::DeleteAllFinger(Dir(), longest.c_str()); }, -232},
      {"list, null database", [&] { return zyl::device::EnrollListFingers(Dir(), nullptr, names, &count); }, -900},
      {"list, null names", [&] { return zyl::device::EnrollListFingers(Dir(), "db", nullptr, &count); }, 10},
      {"list, null count", [&] { return zyl::device::EnrollListFingers(Dir(), "db", names, nullptr); }, 10},
      {"rename, null old", [&] { return zyl::device::RenameFinger(Dir(), "db", nullptr, "b"); }, -900},
      {"rename, null new", [&] { return zyl::device::RenameFinger(Dir(), "db", "a", nullptr); }, -900},
      {"rename, 25-byte new", [&] { return zyl::device::RenameFinger(Dir(), "db", "a", finger25); }, -900},
      {"rename, slash", [&] { return zyl::device::RenameFinger(Dir(), "/etc/x", "a", "b"); }, -900},
      {"enroll, step 0", [&] { return Enroll(scanner, 0); }, -900},
      {"enroll, step 11", [&] { return Enroll(scanner, 11); }, -900},
      {"enroll, null finger", [&] { return Enroll(scanner, 1, nullptr); }, -900},
      {"enroll, 25-byte finger", [&] { return Enroll(scanner, 1, finger25); }, -900},
      {"enroll, null database", [&] { return Enroll(scanner, 1, "a", nullptr); }, -900},
      {"enroll, slash", [&] { return Enroll(scanner, 1, "a", "x/y"); }, -900},
      {"identify, null name", [&] { return Identify(scanner, nullptr, &score); }, -900},
      {"identify, null score", [&] { return Identify(scanner, names, nullptr); }, -900},
      {"identify, slash",
       [&] { return zyl::device::Identify(Dir(), scanner.calls(), Handle(), 5, 0, "a/b", names, &score); },
       -900},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
  EXPECT_EQ(scanner.captures, 0) << "refused before any capture";
  EXPECT_TRUE(Files().empty()) << "no call creates the database it does not find";
}

TEST_F(FingerDatabaseTest, ExportedCallsRefuseNullNamesWithoutAHandle) {
  char names[240];
  int count = 0;
  EXPECT_EQ(ZYLFPSCAN_DeleteFinger(nullptr, nullptr, "a"), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_DeleteFinger(nullptr, "x", nullptr), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_DeleteAllFinger(nullptr, nullptr), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_EnrollListFingers(nullptr, nullptr, names, &count), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_RenameFinger(nullptr, nullptr, "a", "b"), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_RenameFinger(nullptr, "x", "a", "bbbbbbbbbbbbbbbbbbbbbbbbb"), ZYLFPSCAN_ERR_PARAM);
}

// Runs body in a child process with a private, empty "/usr", so that the
// exported calls can work on their fixed directory without touching the
// machine's. The child's exit status is body's result.
int InPrivateUsr(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("fingerdb", "/usr", "tmpfs", 0, "size=16m") != 0)
      ::_exit(77);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TEST(FingerDatabaseExports, WorkOnUsrZylFiles) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "thumb", 0x10);
  EnrolRecord(plain, 1, "index", 0x20);
  const Bytes file = Encipher(plain);
  Bytes expected = plain;
  Rec(expected, 0)[7] = 0;
  std::fill(Rec(expected, 0) + 43, Rec(expected, 0) + 43 + 15 * kSlot, 0);
  std::fill(Rec(expected, 0) + kName, Rec(expected, 0) + kName + 24, 0xFF);
  const std::string ring = Padded("ring");
  std::copy(ring.begin(), ring.end(), Rec(expected, 1) + kName);

  const int status = InPrivateUsr([&] {
    WriteFile("/usr/ZYL_people", file);
    char names[240];
    int count = 0;
    if (ZYLFPSCAN_DeleteFinger(nullptr, "people", "thumb") != 0) return 1;
    if (ZYLFPSCAN_RenameFinger(nullptr, "people", "ind", "ring") != 0) return 2;
    if (ZYLFPSCAN_EnrollListFingers(nullptr, "people", names, &count) != 0 || count != 1) return 3;
    if (std::string(names, 24) != Padded("ring")) return 4;
    if (Decipher(ReadFile("/usr/ZYL_people")) != expected) return 5;
    // A database that does not exist stays so.
    if (ZYLFPSCAN_DeleteAllFinger(nullptr, "nobody") != -232) return 6;
    if (fs::exists("/usr/ZYL_nobody")) return 7;
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/usr")) ++entries;
    return entries == 1 ? 0 : 8;
  });
  if (status == 77) GTEST_SKIP() << "no private mount namespace here (needs root)";
  EXPECT_EQ(status, 0);
}

TEST_F(FingerDatabaseTest, FlowsNeedAHandleWithAnAlgorithmContext) {
  ScriptedScanner scanner;
  char name[24];
  int score = 0;
  EXPECT_EQ(zyl::device::Enroll(Dir(), scanner.calls(), nullptr, 0, 1, "db", "a"), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(zyl::device::Identify(Dir(), scanner.calls(), nullptr, 5, 0, "db", name, &score), ZYLFPSCAN_ERR_NOT_OPEN);
  device_->algorithmContext = nullptr;
  EXPECT_EQ(Enroll(scanner, 1), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(Identify(scanner, name, &score), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(scanner.captures, 0);
}

TEST_F(FingerDatabaseTest, FileProblemsGiveTheirCodes) {
  char names[240];
  int count = 0;
  int score = 0;
  ScriptedScanner scanner;
  struct Case {
    const char* what;
    std::function<void()> prepare;
    int expected;
  };
  const std::vector<Case> cases = {
      {"missing", [] {}, -232},
      {"empty", [&] { WriteFile(Path(), {}); }, -232},
      {"one block short", [&] { WriteFile(Path(), Bytes(kFile - 8, 0)); }, -231},
      {"a directory", [&] { fs::create_directory(Path()); }, -1},
      // Special files must be refused, not waited on.
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(Path().c_str(), 0600), 0); }, -1},
      {"a symlink to a device", [&] { fs::create_symlink("/dev/null", Path()); }, -1},
  };
  for (const Case& c : cases) {
    fs::remove_all(Path());
    c.prepare();
    testing::internal::CaptureStdout();
    EXPECT_EQ(zyl::device::DeleteFinger(Dir(), "db", "a"), c.expected) << c.what;
    EXPECT_EQ(zyl::device::DeleteAllFinger(Dir(), "db"), c.expected) << c.what;
    EXPECT_EQ(zyl::device::EnrollListFingers(Dir(), "db", names, &count), c.expected) << c.what;
    EXPECT_EQ(zyl::device::RenameFinger(Dir(), "db", "a", "b"), c.expected) << c.what;
    EXPECT_EQ(Identify(scanner, names, &score), c.expected) << c.what;
    const std::string out = testing::internal::GetCapturedStdout();
    std::string printed;
    if (c.expected == -1)
      for (int i = 0; i < 5; ++i) printed += "open file fail";
    EXPECT_EQ(out, printed) << c.what;
    EXPECT_EQ(Files(), c.expected == -232 && std::string(c.what) == "missing"
                           ? std::vector<std::string>{}
                           : std::vector<std::string>{"ZYL_db"})
        << c.what;
  }
  EXPECT_EQ(scanner.captures, 0);
}

TEST_F(FingerDatabaseTest, BytesBeyondTheDatabaseAreIgnored) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "thumb", 0x10);
  Bytes file = Encipher(plain);
  file.resize(kFile + 5, 0x33);
  WriteFile(Path(), file);
  char names[240];
  int count = 0;
  ASSERT_EQ(zyl::device::EnrollListFingers(Dir(), "db", names, &count), ZYLFPSCAN_OK);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(zyl::device::DeleteFinger(Dir(), "db", "thumb"), ZYLFPSCAN_OK);
  EXPECT_EQ(ReadFile(Path()).size(), kFile) << "the rewrite has the exact size";
}

// --- interrupted writes --------------------------------------------------------

// Lets the process write files of at most limit bytes; a longer write fails
// (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = saved_;
    lower.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  sighandler_t old_handler_;
};

TEST_F(FingerDatabaseTest, InterruptedWritesLeaveThePreviousDatabaseIntact) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "thumb", 0x10);
  EnrolRecord(plain, 1, "index", 0x20);
  Store(plain);
  const Bytes before = ReadFile(Path());

  ScriptedScanner enrolling;
  for (int step = 1; step <= 9; ++step) ASSERT_EQ(Enroll(enrolling, step, "middle"), ZYLFPSCAN_OK);
  ScriptedScanner learning;
  learning.compare = [](std::uint8_t marker, int) { return marker == 0x10 ? 300 : 0; };
  char name[24];
  int score = 0;

  const FileSizeLimit limit(1 << 20);
  struct Case {
    const char* what;
    std::function<int()> call;
  };
  const std::vector<Case> cases = {
      {"delete", [&] { return zyl::device::DeleteFinger(Dir(), "db", "thumb"); }},
      {"delete all", [&] { return zyl::device::DeleteAllFinger(Dir(), "db"); }},
      {"rename", [&] { return zyl::device::RenameFinger(Dir(), "db", "thumb", "toe"); }},
      {"enrolment", [&] { return Enroll(enrolling, 10, "middle"); }},
      {"learning", [&] { return Identify(learning, name, &score); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), ZYLFPSCAN_ERR_DB_WRITE) << c.what;
    EXPECT_EQ(ReadFile(Path()), before) << c.what;
    EXPECT_EQ(Files(), std::vector<std::string>{"ZYL_db"}) << c.what << ": no temporary file left";
  }
}

// --- enrolment -------------------------------------------------------------------

TEST_F(FingerDatabaseTest, EnrolmentCapturesUntilTheQualityIsGood) {
  ScriptedScanner scanner;
  scanner.rounds = {{0, 10, 0}, {0, 49, 0}, {0, 50, 0}};
  ASSERT_EQ(Enroll(scanner, 1, "thumb", "db", 1000), ZYLFPSCAN_OK);
  EXPECT_EQ(scanner.captures, 3);
  EXPECT_EQ(zyl::device::EnrolmentStaging()[0], 0x83) << "the good capture's sample is staged";

  // Time runs out: 0 ms plus the 10 ms grace is one capture.
  ScriptedScanner poor;
  poor.rounds = {{0, 49, 0}};
  EXPECT_EQ(Enroll(poor, 2, "thumb", "db", 0), ZYLFPSCAN_ERR_QUALITY_TIMEOUT);
  EXPECT_EQ(poor.captures, 1);
  ScriptedScanner poor_longer;
  poor_longer.rounds = {{0, 49, 0}};
  EXPECT_EQ(Enroll(poor_longer, 2, "thumb", "db", 40), ZYLFPSCAN_ERR_QUALITY_TIMEOUT);
  EXPECT_EQ(poor_longer.captures, 5);
}

TEST_F(FingerDatabaseTest, EnrolmentPassesCaptureAndExtractionFailuresOn) {
  ScriptedScanner failing_capture;
  failing_capture.rounds = {{-104, 80, 0}};
  EXPECT_EQ(Enroll(failing_capture, 1, "thumb", "db", 1000), ZYLFPSCAN_ERR_CAPTURE);
  EXPECT_EQ(failing_capture.captures, 1) << "returned at once";

  ScriptedScanner failing_extraction;
  failing_extraction.rounds = {{0, 80, -221}};
  EXPECT_EQ(Enroll(failing_extraction, 1), ZYLFPSCAN_ERR_EXTRACT);
  EXPECT_EQ(zyl::device::EnrolmentStaging()[0], 0) << "nothing staged";
}

TEST_F(FingerDatabaseTest, EnrolmentRefusesAFingerThatIsAlreadyEnrolled) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "thumb", 0x10, 12);
  EnrolRecord(plain, 2, "index", 0x20, 40);  // a count beyond 15 is capped
  Store(plain);
  ScriptedScanner scanner;
  scanner.compare = [](std::uint8_t marker, int) { return marker == 0x20 ? 60 : 59; };
  EXPECT_EQ(Enroll(scanner, 3, "other"), ZYLFPSCAN_ERR_DB_ENROLLED);
  ASSERT_EQ(scanner.verifies.size(), 2u);
  EXPECT_EQ(scanner.verifies[0].level, 5);
  EXPECT_EQ(scanner.verifies[0].count, 12);
  EXPECT_EQ(scanner.verifies[1].count, 15);
  EXPECT_EQ(zyl::device::EnrolmentStaging()[2 * kSlot], 0) << "nothing staged";

  // A database that cannot be read does not stop the enrolment.
  WriteFile(Path(), Bytes(100, 0));
  EXPECT_EQ(Enroll(scanner, 3, "other"), ZYLFPSCAN_OK);
  EXPECT_EQ(zyl::device::EnrolmentStaging()[2 * kSlot], 0x82);
}

TEST_F(FingerDatabaseTest, SamplesTooCloseToStagedOnesAreRefusedOnTheSmallSensorOnly) {
  struct Case {
    std::uint16_t product;
    int step;
    int score;
    int expected;
    std::size_t staged_comparisons;
  };
  const Case cases[] = {
      {0x1061, 1, 999, 0, 0},    // nothing staged to compare with
      {0x1061, 4, 401, -236, 3},
      {0x1061, 4, 400, 0, 3},
      {0x2022, 4, 999, 0, 0},
  };
  for (const Case& c : cases) {
    device_->productId = c.product;
    ScriptedScanner scanner;
    scanner.compare = [&](std::uint8_t, int) { return c.score; };
    EXPECT_EQ(Enroll(scanner, c.step), c.expected) << c.product << " step " << c.step << " score " << c.score;
    const std::size_t staged = c.staged_comparisons ? 1u : 0u;
    ASSERT_EQ(scanner.verifies.size(), staged) << "no database yet: only the staged samples are compared";
    if (staged) {
      EXPECT_EQ(scanner.verifies[0].level, 5);
      EXPECT_EQ(scanner.verifies[0].count, static_cast<int>(c.staged_comparisons));
    }
  }
}

// --- identification --------------------------------------------------------------

TEST_F(FingerDatabaseTest, IdentificationLearnsFromASureMatch) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "index", 0x10);
  EnrolRecord(plain, 2, "thumb", 0x20);
  Store(plain);
  ScriptedScanner scanner;
  scanner.compare = [](std::uint8_t marker, int) { return marker == 0x20 ? 300 : 40; };
  char name[25];
  std::memset(name, '#', sizeof name);
  int score = -1;

  ASSERT_EQ(Identify(scanner, name, &score), ZYLFPSCAN_OK);
  EXPECT_EQ(std::string(name, 24), Padded("thumb"));
  EXPECT_EQ(name[24], '#');
  EXPECT_EQ(score, 300);

  Bytes expected = plain;
  std::uint8_t* r = Rec(expected, 2);
  const Bytes learnt = Feature(0x81);
  std::copy(learnt.begin(), learnt.end(), r + 43 + 10 * kSlot);  // over the sum byte
  r[kCount] = 11;
  EXPECT_EQ(Load(), expected);
}

TEST_F(FingerDatabaseTest, LearningNeedsAScoreStrictlyBetween200And400AndAFreeSlot) {
  struct Case {
    int score;
    int count;
    bool learns;
  };
  const Case cases[] = {{201, 10, true}, {399, 14, true}, {200, 10, false},
                        {400, 10, false}, {300, 15, false}, {300, 40, false}};
  for (const Case& c : cases) {
    Bytes plain = BlankPlain();
    EnrolRecord(plain, 0, "thumb", 0x10, c.count);
    Store(plain);
    const ino_t inode = Inode();
    ScriptedScanner scanner;
    scanner.compare = [&](std::uint8_t, int) { return c.score; };
    char name[24];
    int score = 0;
    ASSERT_EQ(Identify(scanner, name, &score), ZYLFPSCAN_OK) << c.score << "/" << c.count;
    const Bytes after = Load();
    const int stored = std::min(c.count, 15);
    EXPECT_EQ(after[kCount], c.learns ? stored + 1 : c.count) << c.score << "/" << c.count;
    if (c.learns) {
      EXPECT_EQ(after[43 + stored * kSlot], 0x81);
    }
    EXPECT_EQ(Inode() != inode, c.learns) << "rewritten only when learning";
  }
}

TEST_F(FingerDatabaseTest, TheLastGoodCaptureDecidesButEarlierLearningStays) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "thumb", 0x10);
  Store(plain);
  ScriptedScanner scanner;
  scanner.rounds = {{0, 80, 0}, {0, 20, 0}, {0, 80, 0}, {0, 10, 0}};
  // The first capture matches at 300; later ones match nothing.
  scanner.compare = [&](std::uint8_t, int) { return scanner.captures == 1 ? 300 : 30; };
  char name[24];
  std::memset(name, '#', sizeof name);
  int score = -1;
  EXPECT_EQ(Identify(scanner, name, &score, 30), ZYLFPSCAN_ERR_DB_NO_MATCH);
  EXPECT_EQ(scanner.captures, 4) << "the loop runs until the time is up";
  EXPECT_EQ(score, 30);
  EXPECT_EQ(name[0], '#') << "no name without an identification";
  const Bytes after = Load();
  EXPECT_EQ(after[kCount], 11);
  EXPECT_EQ(after[43 + 10 * kSlot], 0x81);
}

TEST_F(FingerDatabaseTest, IdentificationOutcomes) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 0, "thumb", 0x10);
  Store(plain);
  struct Case {
    const char* what;
    std::vector<Round> rounds;
    int timeout;
    int score;
    int expected;
  };
  const std::vector<Case> cases = {
      {"match", {{0, 80, 0}}, 0, 100, 0},
      {"no match", {{0, 80, 0}}, 0, 59, -235},
      {"low quality only", {{0, 49, 0}}, 20, 100, -211},
      {"extraction fails", {{0, 80, -221}}, 0, 100, -235},
      {"good then poor capture", {{0, 80, 0}, {0, 10, 0}}, 10, 100, 0},
      {"capture fails", {{0, 80, 0}, {-310, 80, 0}}, 1000, 100, -310},
  };
  for (const Case& c : cases) {
    ScriptedScanner scanner;
    scanner.rounds = c.rounds;
    scanner.compare = [&](std::uint8_t, int) { return c.score; };
    char name[24];
    int score = 0;
    EXPECT_EQ(Identify(scanner, name, &score, c.timeout), c.expected) << c.what;
    for (const VerifyCall& v : scanner.verifies) EXPECT_EQ(v.level, 5) << c.what;
  }
}

TEST_F(FingerDatabaseTest, IdentificationStopsAtTheFirstMatchingRecord) {
  Bytes plain = BlankPlain();
  EnrolRecord(plain, 1, "first", 0x10, 0);
  EnrolRecord(plain, 3, "second", 0x20, 13);
  EnrolRecord(plain, 5, "third", 0x30);
  Store(plain);
  ScriptedScanner scanner;
  scanner.compare = [](std::uint8_t marker, int) { return marker == 0x10 ? 0 : 100; };
  char name[24];
  int score = 0;
  ASSERT_EQ(Identify(scanner, name, &score, 0, 7), ZYLFPSCAN_OK);
  EXPECT_EQ(std::string(name, 24), Padded("second"));
  ASSERT_EQ(scanner.verifies.size(), 2u);
  EXPECT_EQ(scanner.verifies[0].count, 0) << "an empty record is compared with nothing";
  EXPECT_EQ(scanner.verifies[1].count, 13);
  EXPECT_EQ(scanner.verifies[1].level, 7);
}

// --- through the virtual scanner ---------------------------------------------------

class FingerDatabaseScannerTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    char pattern[] = "/tmp/fingerdb_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    zyl::device::EnrolmentStaging().fill(0);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    DeviceTest::TearDown();
  }
  static std::string Image(const std::string& name) { return "image " + zyl::test::test_data(name) + "\n"; }

  fs::path dir_;
};

TEST_F(FingerDatabaseScannerTest, EnrolsIdentifiesAndRefusesAKnownFinger) {
  // Ten captures of one finger for the enrolment, then another finger,
  // then the first again; the scanner loops back to the start after that.
  std::string scenario = "device vid1:0x2023\n";
  for (int i = 0; i < 5; ++i) scenario += Image("fvc2002_101_1_crop.pgm") + Image("fvc2002_101_2_crop.pgm");
  scenario += Image("fvc2002_102_1_crop.pgm") + Image("fvc2002_101_2_crop.pgm");
  Open(scenario);
  // The product's calls with a clock that moves 10 ms a capture: a time-out
  // of 0 then gives exactly one capture, however fast extraction runs (on
  // the wall clock a fast machine fits a second capture into the grace).
  zyl::device::DeviceCalls calls = zyl::device::ProductDeviceCalls();
  std::chrono::steady_clock::time_point clock{};
  calls.now = [&clock] { return clock; };
  calls.capture = [&clock, capture = calls.capture](void* handle, int t, std::uint8_t* image) {
    clock += std::chrono::milliseconds(10);
    return capture(handle, t, image);
  };
  const std::string dir = dir_.string();

  for (int step = 1; step <= 10; ++step)
    ASSERT_EQ(zyl::device::Enroll(dir, calls, handle_, 1000, step, "db", "thumb"), ZYLFPSCAN_OK) << step;
  ASSERT_EQ(zyl::test::vscanner::device_state(0).captures, 10) << "every capture was good enough";
  char name[24];
  int score = -1;
  EXPECT_EQ(zyl::device::Identify(dir, calls, handle_, 5, 0, "db", name, &score), ZYLFPSCAN_ERR_DB_NO_MATCH);
  EXPECT_LE(score, 59);
  EXPECT_EQ(zyl::device::Identify(dir, calls, handle_, 5, 0, "db", name, &score), ZYLFPSCAN_OK);
  EXPECT_EQ(std::string(name, 24), Padded("thumb"));
  EXPECT_GT(score, 59);
  EXPECT_EQ(zyl::device::Enroll(dir, calls, handle_, 1000, 1, "db", "again"), ZYLFPSCAN_ERR_DB_ENROLLED);

  char names[240];
  int count = 0;
  ASSERT_EQ(zyl::device::EnrollListFingers(dir, "db", names, &count), ZYLFPSCAN_OK);
  EXPECT_EQ(count, 1);
}

TEST_F(FingerDatabaseScannerTest, ExportedFlowsCheckTheHandleFirst) {
  char name[24];
  int score = 0;
  EXPECT_EQ(ZYLFPSCAN_Enroll(nullptr, 0, 1, "db", "thumb"), ZYLFPSCAN_ERR_NOT_OPEN);
  EXPECT_EQ(ZYLFPSCAN_Identify(nullptr, 5, 0, "db", name, &score), ZYLFPSCAN_ERR_NOT_OPEN);
  Open("device vid1:0x2023\n");
  EXPECT_EQ(ZYLFPSCAN_Enroll(handle_, 0, 0, "db", "thumb"), ZYLFPSCAN_ERR_PARAM);
  EXPECT_EQ(ZYLFPSCAN_Identify(handle_, 5, 0, "a/b", name, &score), ZYLFPSCAN_ERR_PARAM);
}

}  // namespace

// The small scanners whose open selects the matcher library (0x1061 and
// 0x2021: mode 3; 0x2031: mode 4), end to end on the virtual scanner:
// capture, extraction into a template slot, verification at level 5, and
// the on-host database's enrolment and identification.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "api/product_device_calls.h"
#include "device/finger_database.h"
#include "support/device_fixture.h"
#include "support/pgm.h"
#include "zylscan/zylfpscan_database.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylfpscan_image.h"

namespace {

namespace fs = std::filesystem;
using Buffer = std::vector<std::uint8_t>;

std::string Image(const std::string& name) { return "image " + zyl::test::test_data(name) + "\n"; }

constexpr int kLevel = 5;
constexpr int kLevel5Threshold = 59;

class MatcherScannerTest : public DeviceTest {
 protected:
  void TearDown() override {
    DeviceTest::TearDown();
    setAlgMode(4);
  }
  // Captures the next image and extracts it into a whole slot.
  Buffer CaptureAndExtract() {
    Buffer image(static_cast<std::size_t>(record().width) * record().height);
    EXPECT_EQ(ZYLFPSCAN_CaptureRawData(handle_, 1, image.data()), ZYLFPSCAN_OK);
    Buffer slot(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0xEE);
    EXPECT_EQ(ZYLFPSCAN_ExtractFeature(handle_, 0, slot.data()), ZYLFPSCAN_OK);
    return slot;
  }
  int Score(const Buffer& a, const Buffer& b, int* match) {
    int score = -1;
    EXPECT_EQ(ZYLFPSCAN_Verify(handle_, kLevel, a.data(), b.data(), &score, match), ZYLFPSCAN_OK);
    return score;
  }
};

struct Scanner {
  const char* device;
  int mode;
  std::uint8_t format;  // of the wrapped template
};

}  // namespace

TEST_F(MatcherScannerTest, SameCropMatchesAnotherFingerDoesNotAtLevel5) {
  const Scanner scanners[] = {{"0x1061", 3, 79}, {"0x2021", 3, 79}, {"0x2031", 4, 84}};
  for (const Scanner& s : scanners) {
    SCOPED_TRACE(s.device);
    // The crop twice, another impression of the finger, another finger.
    Open(std::string("device vid1:") + s.device + "\n" + Image("fvc2002_101_1_160.pgm") +
         Image("fvc2002_101_1_160.pgm") + Image("fvc2002_101_2_160.pgm") + Image("fvc2002_102_1_160.pgm"));
    ASSERT_EQ(AlgMode, s.mode);
    const Buffer first = CaptureAndExtract(), again = CaptureAndExtract(), other_impression = CaptureAndExtract(),
                 other_finger = CaptureAndExtract();
    for (const Buffer* t : {&first, &again, &other_impression, &other_finger}) {
      EXPECT_EQ((*t)[0], s.format);
      const std::size_t wrapped = (*t)[1] * 256u + (*t)[2] + 3;
      EXPECT_LE(wrapped, ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
      EXPECT_TRUE(std::all_of(t->begin() + static_cast<std::ptrdiff_t>(wrapped), t->end(),
                              [](auto b) { return b == 0; }))
          << "the slot is zeroed whole";
    }
    EXPECT_EQ(first, again) << "the same capture gives the same template";

    int match = -1;
    EXPECT_GT(Score(first, again, &match), kLevel5Threshold);
    EXPECT_EQ(match, 1);
    const int other = Score(first, other_finger, &match);
    EXPECT_LE(other, kLevel5Threshold);
    EXPECT_EQ(match, 0);
    // Another impression of the finger is reported, not required.
    const int impression = Score(first, other_impression, &match);
    std::printf("[ info ] %s: same crop %d, other impression %d, other finger %d (template %d bytes)\n",
                s.device, Score(first, again, &match), impression, other,
                first[1] * 256 + first[2] + 3);

    // VerifyExt over slots: the crop's own slot among others decides.
    Buffer slots = other_finger;
    slots.insert(slots.end(), again.begin(), again.end());
    int best = -1, result = -1;
    EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, kLevel, first.data(), 2, slots.data(), &best, &result), ZYLFPSCAN_OK);
    EXPECT_EQ(result, 0);
    EXPECT_GT(best, kLevel5Threshold);
    EXPECT_EQ(ZYLFPSCAN_VerifyExt(handle_, kLevel, first.data(), 1, slots.data(), &best, &result), ZYLFPSCAN_NO_MATCH);
    EXPECT_EQ(result, 1);
    EXPECT_LE(best, kLevel5Threshold);

    // The identity-card call hands out the same slot for these images.
    Buffer card(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0xEE);
    EXPECT_EQ(ZYLFPSCAN_ExtractCIDFeature(handle_, 0, card.data()), ZYLFPSCAN_OK);
    EXPECT_EQ(card[0], s.format);
    ZYLFPSCAN_CloseDevice(&handle_);
    ResetSdk();
  }
}

TEST_F(MatcherScannerTest, ScoresStayOnTheMatcherScale) {
  // The engine's FAR scale ends at 63277, 93 after scaling: levels 8 to 11
  // (thresholds 95 and above) never match in these modes.
  Open("device vid1:0x1061\n" + Image("fvc2002_101_1_160.pgm"));
  const Buffer t = CaptureAndExtract();
  int score = -1, match = -1;
  ASSERT_EQ(ZYLFPSCAN_Verify(handle_, 7, t.data(), t.data(), &score, &match), ZYLFPSCAN_OK);
  EXPECT_LE(score, 93);
  for (int level = 8; level <= 11; ++level) {
    ASSERT_EQ(ZYLFPSCAN_Verify(handle_, level, t.data(), t.data(), &score, &match), ZYLFPSCAN_OK);
    EXPECT_EQ(match, 0) << level;
  }
}

class MatcherDatabaseTest : public MatcherScannerTest {
 protected:
  void SetUp() override {
    MatcherScannerTest::SetUp();
    char pattern[] = "/tmp/quentadb_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    zyl::device::EnrolmentStaging().fill(0);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    MatcherScannerTest::TearDown();
  }
  fs::path dir_;
};

TEST_F(MatcherDatabaseTest, EnrolAndIdentifyOnA1061) {
  // Ten captures of one crop for the enrolment.
  std::string images;
  for (int i = 0; i < 10; ++i) images += Image("fvc2002_101_1_160.pgm");
  Open("device vid1:0x1061\n" + images);
  ASSERT_EQ(AlgMode, 3);
  const auto& calls = zyl::device::ProductDeviceCalls();
  const std::string dir = dir_.string();
  for (int step = 1; step <= 10; ++step) {
    // The staging check of this scanner (a score above 400) cannot fire on
    // the matcher's 0..93 scale: the same crop is staged ten times.
    EXPECT_EQ(zyl::device::Enroll(dir, calls, handle_, 1000, step, "db", "index"), ZYLFPSCAN_OK) << "step " << step;
  }
  // The staged slots went to the file whole: record 0 holds ten wrapped
  // templates of the matcher.
  std::vector<std::uint8_t> plain(zyl::device::fingerdb::kPlainSize);
  const zyl::device::fingerdb::Plain view(plain.data(), plain.size());
  const std::string path = (dir_ / "ZYL_db").string();
  ASSERT_EQ(zyl::device::fingerdb::ReadDatabase(path, view), 0);
  const auto record = zyl::device::fingerdb::RecordAt(view, 0);
  EXPECT_TRUE(record.in_use());
  EXPECT_EQ(record.template_count(), 10);
  for (std::size_t k = 0; k < 10; ++k) {
    const auto slot = record.slot(k);
    EXPECT_EQ(slot[0], 79) << k;
    EXPECT_GT(slot[1] * 256 + slot[2] + 3, 1024) << "larger than the 1024 bytes of the other engines";
  }
  EXPECT_EQ(zyl::device::Enroll(dir, calls, handle_, 1000, 1, "db", "again"), ZYLFPSCAN_ERR_DB_ENROLLED);

  // Identification keeps capturing until its time is up and the last
  // capture decides: each case gets a scanner that serves one image only.
  struct Case {
    const char* image;
    int expected;
  } cases[] = {{"fvc2002_101_1_160.pgm", 0}, {"fvc2002_102_1_160.pgm", ZYLFPSCAN_ERR_DB_NO_MATCH}};
  for (const Case& c : cases) {
    ZYLFPSCAN_CloseDevice(&handle_);
    ResetSdk();
    Open("device vid1:0x1061\n" + Image(c.image));
    char name[24] = {};
    int score = -1;
    EXPECT_EQ(zyl::device::Identify(dir, calls, handle_, kLevel, 0, "db", name, &score), c.expected) << c.image;
    if (c.expected == 0) {
      EXPECT_EQ(std::string(name, 5), "index");
      EXPECT_GT(score, kLevel5Threshold);
    } else {
      EXPECT_LE(score, kLevel5Threshold);
    }
  }
  // Learning needs 200 < score < 400, beyond the matcher's scale: the
  // record keeps its ten templates.
  ASSERT_EQ(zyl::device::fingerdb::ReadDatabase(path, view), 0);
  EXPECT_EQ(record.template_count(), 10);
}

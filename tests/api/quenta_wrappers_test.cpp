// The matcher-library wrappers: wrapped template layout, score scaling
// through a spy match operation, size limits, statuses, the file writer,
// and the dispatch of modes 3 and 4 on real crops.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "zylscan/devalg.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylquenta.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Puts the library-wide mode back after each test.
class QuentaTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = AlgMode; }
  void TearDown() override { setAlgMode(saved_); }
  std::int32_t saved_ = 0;
};

// What the spy match operation answers and what it was given.
struct Spy {
  int status = ML_OK;
  std::uint16_t score = 0;
  int calls = 0;
  std::int32_t gallery_type = -1, probe_type = -1;
  Bytes gallery, probe;
  int count = 0;
};
Spy spy;

int SpyMatch(MatchEngine*, DataBlob* const* gallery, std::uint8_t count, DataBlob* probe, GrayImage*, int,
             MatchResult* result) {
  ++spy.calls;
  spy.count = count;
  spy.gallery_type = blob_type(gallery[0]);
  spy.probe_type = blob_type(probe);
  spy.gallery.assign(blob_data(gallery[0]), blob_data(gallery[0]) + blob_size(gallery[0]));
  spy.probe.assign(blob_data(probe), blob_data(probe) + blob_size(probe));
  result->score = spy.score;
  return spy.status;
}

// An engine of the current mode whose match operation is the spy.
struct SpyEngine {
  MatchEngine* engine = nullptr;
  SpyEngine() {
    spy = Spy{};
    EXPECT_EQ(ZylQuenta_Init(&engine), 0);
    EXPECT_NE(engine, nullptr);
    const EngineMatchOps ops{SpyMatch, nullptr};
    engine_set_match_ops(engine, &ops);
  }
  ~SpyEngine() { ZylQuenta_Free(engine); }
};

// A wrapped template as it lies in a slot.
Bytes Wrapped(std::uint8_t format, const Bytes& payload) {
  Bytes out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  out[0] = format;
  out[1] = static_cast<std::uint8_t>(payload.size() >> 8);
  out[2] = static_cast<std::uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), out.begin() + 3);
  return out;
}

zyl::test::GreyImage Crop(const char* name) { return zyl::test::read_pgm(zyl::test::test_data(name)); }


// A wrapped template of the image through the device road.
Bytes Extract(const zyl::test::GreyImage& img, int expected = 0) {
  Bytes out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  Bytes pixels = img.pixels;
  std::int32_t length = -1;
  EXPECT_EQ(DevAlgExtract(img.width, img.height, pixels.data(), 500, out.data(), &length, nullptr), expected);
  if (expected == 0) {
    EXPECT_EQ(length, out[1] * 256 + out[2] + 3);
    EXPECT_EQ(pixels, img.pixels) << "the caller's pixels stay as they were";
  }
  return out;
}

}  // namespace

TEST_F(QuentaTest, ScoreIsTheEngineScoreOver675) {
  setAlgMode(3);
  SpyEngine e;
  const Bytes a = Wrapped(79, {1, 2, 3, 4}), b = Wrapped(79, {5, 6});
  const struct {
    std::uint16_t engine;
    int score;
  } cases[] = {{0, 0}, {674, 0}, {675, 1}, {1349, 1}, {40499, 59}, {40500, 60}, {63277, 93}, {65535, 97}};
  for (const auto& c : cases) {
    spy.score = c.engine;
    EXPECT_EQ(ZylQuenta_Verify(e.engine, a.data(), 0, b.data(), 0), c.score) << c.engine;
  }
  EXPECT_EQ(spy.count, 1);
  EXPECT_EQ(spy.gallery, Bytes({1, 2, 3, 4})) << "A is the gallery";
  EXPECT_EQ(spy.probe, Bytes({5, 6})) << "B is the probe";
  EXPECT_EQ(spy.gallery_type, 79);
}

TEST_F(QuentaTest, HeaderRebuildsTheBlob) {
  setAlgMode(4);
  SpyEngine e;
  spy.score = 675 * 3;
  // Length 0 gives an empty blob of the header's format; the length is
  // big-endian and aliased format codes resolve as the library does.
  const Bytes empty = Wrapped(84, {}), big = Wrapped(5, Bytes(300, 0xAB));
  EXPECT_EQ(ZylQuenta_Verify(e.engine, empty.data(), 0, big.data(), 0), 3);
  EXPECT_TRUE(spy.gallery.empty());
  EXPECT_EQ(spy.gallery_type, 84);
  EXPECT_EQ(spy.probe, Bytes(300, 0xAB));
  EXPECT_EQ(spy.probe_type, 2) << "format 5 reads as 2";
}

TEST_F(QuentaTest, MatcherStatusesComeBackNegated) {
  setAlgMode(3);
  SpyEngine e;
  const Bytes t = Wrapped(79, {1});
  for (int status : {ML_WRONG_KIND, ML_NO_MEMORY, ML_CORRUPT}) {
    spy.status = status;
    spy.score = 50000;
    EXPECT_EQ(ZylQuenta_Verify(e.engine, t.data(), 0, t.data(), 0), -status);
  }
  // Null engine or template: the library's bad-argument status.
  EXPECT_EQ(ZylQuenta_Verify(nullptr, t.data(), 0, t.data(), 0), -ML_BAD_ARGUMENT);
  EXPECT_EQ(ZylQuenta_Verify(e.engine, nullptr, 0, t.data(), 0), -ML_BAD_ARGUMENT);
  EXPECT_EQ(ZylQuenta_Verify(e.engine, t.data(), 0, nullptr, 0), -ML_BAD_ARGUMENT);
}

TEST_F(QuentaTest, TemplatesAreBoundByTheSlot) {
  setAlgMode(3);
  SpyEngine e;
  spy.score = 675 * 10;
  // L + 3 exactly the slot is read; one byte more is refused unread.
  Bytes fits = Wrapped(79, Bytes(ZYLFPSCAN_TEMPLATE_SLOT_SIZE - 3, 7));
  EXPECT_EQ(ZylQuenta_Verify(e.engine, fits.data(), 0, fits.data(), 0), 10);
  EXPECT_EQ(spy.gallery.size(), ZYLFPSCAN_TEMPLATE_SLOT_SIZE - 3u);
  const int calls = spy.calls;
  for (unsigned length : {ZYLFPSCAN_TEMPLATE_SLOT_SIZE - 2u, 0xFFFFu}) {
    Bytes past = fits;
    past[1] = static_cast<std::uint8_t>(length >> 8);
    past[2] = static_cast<std::uint8_t>(length);
    EXPECT_EQ(ZylQuenta_Verify(e.engine, past.data(), 0, fits.data(), 0), -ML_CORRUPT) << length;
    EXPECT_EQ(ZylQuenta_Verify(e.engine, fits.data(), 0, past.data(), 0), -ML_CORRUPT) << length;
  }
  EXPECT_EQ(spy.calls, calls) << "the engine never sees a template past its slot";
}

TEST_F(QuentaTest, TemplateToBufferLayout) {
  Bytes payload(700);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  DataBlob* blob = blob_create(84, payload.data(), static_cast<std::uint32_t>(payload.size()));
  ASSERT_NE(blob, nullptr);
  Bytes out(800, 0xEE);
  EXPECT_EQ(template_ttobuffer(blob, nullptr, out.data()), 703);
  EXPECT_EQ(out[0], 84);
  EXPECT_EQ(out[1], 0x02);
  EXPECT_EQ(out[2], 0xBC);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin() + 3));
  EXPECT_EQ(out[703], 0xEE) << "nothing past L + 3";
  blob_release(blob);

  // A blob whose length the 16-bit field cannot carry is not written.
  Bytes huge(0x10000, 1);
  blob = blob_create(84, huge.data(), static_cast<std::uint32_t>(huge.size()));
  ASSERT_NE(blob, nullptr);
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(template_ttobuffer(blob, nullptr, out.data()), 0);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(template_ttobuffer(blob, nullptr, nullptr), 0);
  EXPECT_EQ(template_ttobuffer(nullptr, nullptr, out.data()), 0);
  blob_release(blob);
}

TEST_F(QuentaTest, InitAndExtractRefuseBadArguments) {
  EXPECT_EQ(ZylQuenta_Init(nullptr), ML_BAD_ARGUMENT);
  const auto img = Crop("fvc2002_101_1_160.pgm");
  Bytes out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0xEE);
  int length = -1;
  for (int mode : {3, 4}) {
    setAlgMode(mode);
    EXPECT_EQ(ZylQuenta_Extract(nullptr, img.pixels.data(), 160, 160, out.data(), &length, 0), ML_BAD_ARGUMENT);
    MatchEngine* engine = nullptr;
    ASSERT_EQ(ZylQuenta_Init(&engine), 0);
    EXPECT_EQ(ZylQuenta_Extract(engine, nullptr, 160, 160, out.data(), &length, 0), ML_BAD_ARGUMENT) << mode;
    EXPECT_EQ(ZylQuenta_Extract(engine, img.pixels.data(), 160, 160, nullptr, &length, 0), ML_BAD_ARGUMENT);
    EXPECT_EQ(ZylQuenta_Extract(engine, img.pixels.data(), 160, 160, out.data(), nullptr, 0), ML_BAD_ARGUMENT);
    EXPECT_EQ(ZylQuenta_Extract(engine, img.pixels.data(), 0, 160, out.data(), &length, 0), ML_BAD_ARGUMENT);
    EXPECT_EQ(ZylQuenta_Free(engine), 0);
  }
  // A size the image object cannot hold: mode 4 answers the image's
  // failure without handing the engine anything.
  setAlgMode(4);
  MatchEngine* engine = nullptr;
  ASSERT_EQ(ZylQuenta_Init(&engine), 0);
  EXPECT_EQ(ZylQuenta_Extract(engine, img.pixels.data(), 70000, 1, out.data(), &length, 0), ML_NO_MEMORY);
  ZylQuenta_Free(engine);
  EXPECT_EQ(length, -1);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto b) { return b == 0xEE; }));
  EXPECT_EQ(ZylQuenta_Free(nullptr), 0);
}

TEST_F(QuentaTest, EachModeWritesItsEnginesTemplate) {
  // Each mode on the image size of its scanners: 160 x 160 for mode 3,
  // the 96 x 96 of the 0x2031 for mode 4.
  const auto img = Crop("fvc2002_101_1_160.pgm");
  const struct {
    int mode, side;
    std::uint8_t format;
  } cases[] = {{3, 160, 79}, {4, 96, 84}};
  for (const auto& c : cases) {
    setAlgMode(c.mode);
    const Bytes t = Extract(zyl::test::centre_crop(img, c.side));
    const int length = t[1] * 256 + t[2];
    EXPECT_EQ(t[0], c.format) << c.mode;
    EXPECT_GT(length, 100) << c.mode;
    EXPECT_TRUE(std::all_of(t.begin() + 3 + length, t.end(), [](auto b) { return b == 0; })) << "no more written";
    // The same template against itself scores high; a wrapped template of
    // one engine is read back by the same mode.
    EXPECT_GT(DevAlgVerify(t.data(), t.data(), nullptr), 59) << c.mode;
  }
}

TEST_F(QuentaTest, OversizeTemplateIsRefusedUnwritten) {
  // Mode 4 on a 160 x 160 crop: its template (about 21 KB today) is larger
  // than a slot. The rule is checked against the size the engine gives for
  // the same image, so that it holds whichever way that size goes.
  setAlgMode(4);
  const auto img = Crop("fvc2002_101_1_160.pgm");
  MatchEngine* engine = nullptr;
  ASSERT_EQ(ZylQuenta_Init(&engine), 0);
  GrayImage* image = image_create(160, 160, 500, 500, img.pixels.data(), 0);
  DataBlob* blob = nullptr;
  ASSERT_EQ(engine_extract_image(engine, image, nullptr, &blob), 0);
  const std::uint32_t size = blob_size(blob);
  blob_release(blob);
  image_release(image);

  Bytes out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE + 4096, 0xEE);
  int length = -1;
  const int rc = ZylQuenta_Extract(engine, img.pixels.data(), 160, 160, out.data(), &length, 0);
  ZylQuenta_Free(engine);
  if (size + 3 > ZYLFPSCAN_TEMPLATE_SLOT_SIZE) {
    EXPECT_EQ(rc, ML_WRONG_KIND) << size;
    EXPECT_EQ(length, -1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto b) { return b == 0xEE; })) << "nothing written";
  } else {
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(static_cast<std::uint32_t>(length), size + 3);
  }
}

TEST_F(QuentaTest, DispatchSendsOnlySmallImagesToTheMatcher) {
  const auto img = Crop("fvc2004_102_1.pgm");  // larger than 192 on a side
  setAlgMode(3);
  XWContext* context = nullptr;
  ASSERT_EQ(DevAlgCreateCtx(&context), 1);
  Bytes out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  Bytes pixels = img.pixels;
  std::int32_t length = 0;
  const int rc = DevAlgExtract(img.width, img.height, pixels.data(), 500, out.data(), &length, context);
  EXPECT_TRUE(rc == 0 || rc == -103) << "the skeleton engine's answer: " << rc;
  EXPECT_LT(out[0], 0x20) << "a native template";
  DevAlgFreeCtx(context);
  // Verification in every mode above 2 is the matcher's, whatever the data:
  // a null template is refused as on every road.
  const Bytes t = Wrapped(79, {});
  for (int mode : {3, 4, 7}) {
    setAlgMode(mode);
    EXPECT_EQ(DevAlgVerify(nullptr, t.data(), nullptr), -4);
    // An empty keypoint record is shorter than any of its versions.
    EXPECT_EQ(DevAlgVerify(t.data(), t.data(), nullptr), -ML_TOO_SHORT) << mode;
  }
}

TEST_F(QuentaTest, RepeatedCallsLeaveNothingBehind) {
  // Under the leak checker every context and engine made here must be gone
  // when the program ends.
  const auto img = zyl::test::centre_crop(Crop("fvc2002_101_1_160.pgm"), 96);
  for (int mode : {3, 4}) {
    setAlgMode(mode);
    MatchEngine* engine = nullptr;
    ASSERT_EQ(ZylQuenta_Init(&engine), 0);
    EXPECT_EQ(ctx_refcount(engine_get_context(engine)), 1u) << "the engine's reference only";
    EXPECT_EQ(engine_refcount(engine), 1u);
    ZylQuenta_Free(engine);
    const Bytes first = Extract(img);
    const int self = DevAlgVerify(first.data(), first.data(), nullptr);
    EXPECT_GT(self, 59) << mode;
    for (int i = 0; i < 5; ++i) {
      const Bytes t = Extract(img);
      EXPECT_EQ(t, first) << "extraction is repeatable";
      EXPECT_EQ(DevAlgVerify(t.data(), first.data(), nullptr), self) << "and so is the score";
    }
  }
}

TEST(QuentaFile, WritesTheBufferWhole) {
  char pattern[] = "/tmp/quenta_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string path = dir + "/t.bin";
  const Bytes data = {1, 2, 3, 0, 255};
  ASSERT_EQ(ZylTepbuf2File(data.data(), 5, path.c_str()), 0);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), data);
  in.close();
  ASSERT_EQ(ZylTepbuf2File(data.data(), 2, path.c_str()), 0) << "truncates";
  std::ifstream again(path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(again), {}), Bytes({1, 2}));
  EXPECT_EQ(ZylTepbuf2File(nullptr, 0, path.c_str()), 0);
  EXPECT_EQ(ZylTepbuf2File(data.data(), 5, (dir + "/missing/t.bin").c_str()), -1);
  EXPECT_EQ(ZylTepbuf2File(data.data(), 5, nullptr), -1);
  EXPECT_EQ(ZylTepbuf2File(data.data(), -1, path.c_str()), -1);
  EXPECT_EQ(ZylTepbuf2File(nullptr, 3, path.c_str()), -1);
  std::filesystem::remove_all(dir);
}

TEST_F(QuentaTest, AMatcherThatCannotBeMadeIsAFailedComparison) {
  // The first allocation of a verification is the matcher's context: when
  // it fails the comparison answers the negated out-of-memory status, never
  // a score the device API would report as a comparison made.
  const auto img = zyl::test::centre_crop(Crop("fvc2002_101_1_160.pgm"), 96);
  for (int mode : {3, 4}) {
    setAlgMode(mode);
    const Bytes t = Extract(img);
    zyl::matchlib::test_hook::fail_allocation(1);
    const int rc = DevAlgVerify(t.data(), t.data(), nullptr);
    EXPECT_TRUE(zyl::test::allocation_failed()) << mode;
    EXPECT_EQ(rc, -ML_NO_MEMORY) << mode;
    // Every other failing allocation of a verification either fails the
    // comparison (a negative answer) or leaves the answer as it would be
    // (a parameter default that is read back as its default).
    const int baseline = DevAlgVerify(t.data(), t.data(), nullptr);
    ASSERT_GT(baseline, 59) << mode;
    zyl::test::sweep_allocation_failures([&] {
      const int score = DevAlgVerify(t.data(), t.data(), nullptr);
      if (zyl::test::allocation_failed() && score >= 0) {
        EXPECT_EQ(score, baseline) << mode;
      }
    });
  }
}

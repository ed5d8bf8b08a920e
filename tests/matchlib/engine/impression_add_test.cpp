// Adding impressions of real prints to the accumulator: argument checks,
// the slot shift of full-size impressions and the point-wise merge of
// smaller ones, repeats that are not stored, the base map, the running mean,
// the order of a series, the slot overlap statistics, and the accumulator
// as an observer of an enrolment object.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "zylscan/matchlib_accum.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace {

struct ImageFree {
  void operator()(GrayImage* i) const { image_release(i); }
};
using Image = std::unique_ptr<GrayImage, ImageFree>;
struct AccumFree {
  void operator()(ImpressionAccumulator* a) const { accum_release(a); }
};
using Accum = std::unique_ptr<ImpressionAccumulator, AccumFree>;
struct CtxFree {
  void operator()(MatchContext* c) const { ctx_release(c); }
};
using Ctx = std::unique_ptr<MatchContext, CtxFree>;
struct RecordFree {
  void operator()(BlockRecord* r) const { blockrec_free(r); }
};
using Record = std::unique_ptr<BlockRecord, RecordFree>;

const zyl::test::GreyImage& print(const std::string& name) {
  static std::vector<std::pair<std::string, zyl::test::GreyImage>> cache;
  for (const auto& [n, g] : cache)
    if (n == name) return g;
  cache.emplace_back(name, zyl::test::read_pgm(zyl::test::test_data(name)));
  return cache.back().second;
}

// Impression k (1..5) of finger 101, 160 x 160.
std::string finger(int k) { return "fvc2002_101_" + std::to_string(k) + "_160.pgm"; }

Image full(const std::string& name) {
  const auto& g = print(name);
  return Image(image_create(g.height, g.width, 500, 500, g.pixels.data(), 0));
}

Image inverted(const std::string& name) {
  auto g = print(name);
  for (auto& v : g.pixels) v = static_cast<std::uint8_t>(255 - v);
  return Image(image_create(g.height, g.width, 500, 500, g.pixels.data(), 0));
}

// The h x w window at (row, column) of a print, knowing where it lies.
Image window(const std::string& name, int h, int w, int row, int column) {
  const auto& g = print(name);
  std::vector<std::uint8_t> px(static_cast<std::size_t>(h) * w);
  for (int y = 0; y < h; ++y)
    std::memcpy(&px[static_cast<std::size_t>(y) * w], &g.pixels[static_cast<std::size_t>(row + y) * g.width + column], w);
  Image i(image_create(h, w, 500, 500, px.data(), 0));
  EXPECT_EQ(image_set_source_window(i.get(), row, column, g.height, g.width), ML_OK);
  return i;
}

int occupied(const ImpressionAccumulator& a) {
  int n = 0;
  for (const DataBlob* s : a.slots) n += s != nullptr;
  return n;
}

Record record_of(const DataBlob* b) {
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_parse(blob_data(b), blob_size(b), 0, 0, &r), ML_OK);
  return Record(r);
}

const std::uint8_t* descriptor(const BlockRecord& r, int i) { return r.extension_arrays[0] + 16 * i; }

TEST(AccumAddImage, RefusesImagesThatDoNotFitTheArea) {
  Ctx ctx(ctx_create());
  Accum a(accum_create_sized(160, 160));
  Image other = Image(image_create(120, 160, 500, 500, nullptr, 0));
  EXPECT_EQ(accum_add_image(a.get(), ctx.get(), other.get()), ML_BAD_ARGUMENT);
  EXPECT_EQ(accum_add_image(a.get(), ctx.get(), nullptr), ML_BAD_ARGUMENT);
  Image part = window(finger(1), 80, 80, 40, 40);
  EXPECT_EQ(accum_add_image(nullptr, ctx.get(), part.get()), ML_BAD_ARGUMENT);
  // The window's rows or columns past the area.
  ASSERT_EQ(image_set_source_window(part.get(), 100, 40, 160, 160), ML_OK);
  EXPECT_EQ(accum_add_image(a.get(), ctx.get(), part.get()), ML_BAD_ARGUMENT);
  ASSERT_EQ(image_set_source_window(part.get(), 40, 100, 160, 160), ML_OK);
  EXPECT_EQ(accum_add_image(a.get(), ctx.get(), part.get()), ML_BAD_ARGUMENT);
  EXPECT_EQ(occupied(*a), 0);
}

TEST(AccumAddImage, FullImpressionsShiftTheSlotsAndRepeatsAreNotStored) {
  Ctx ctx(ctx_create());
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
  ASSERT_EQ(occupied(*a), 1);
  const DataBlob* slot0 = a->slots[0];
  EXPECT_EQ(blob_type(slot0), BLOCKREC_FORMAT);
  // A fresh cell seen once: repeat count 1, nothing else.
  for (int i = 0; i < 160 * 160; ++i) ASSERT_EQ(a->base_map[i], 0x10) << i;

  // The same impression again lies on slot 0: nothing stored, base map kept.
  Image again = full(finger(1));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), again.get()), ML_OK);
  EXPECT_EQ(occupied(*a), 1);
  EXPECT_EQ(a->slots[0], slot0);
  for (int i = 0; i < 160 * 160; ++i) ASSERT_EQ(a->base_map[i], 0x10) << i;

  // Other impressions of the finger are stored, the newest in slot 0.
  for (int k = 2; k <= 5; ++k) {
    Image next = full(finger(k));
    ASSERT_EQ(accum_add_image(a.get(), ctx.get(), next.get()), ML_OK) << k;
    ASSERT_EQ(occupied(*a), k) << k;
  }
  EXPECT_EQ(a->slots[4], slot0);
  // From the fourth on the new impression is compared with two or more
  // earlier ones: where it repeats them the cells carry bit 6; none is
  // covered yet, which takes a repeat of a repeat.
  int seen = 0;
  for (int i = 0; i < 160 * 160; ++i) {
    ASSERT_EQ(a->base_map[i] & 0x80, 0) << i;
    seen += (a->base_map[i] & 0x40) != 0;
  }
  EXPECT_GT(seen, 0);
  EXPECT_EQ(a->last_height, 160);
  EXPECT_EQ(a->last_row, 0);
}

TEST(AccumAddImage, MaskBitsMarkWhereTheImpressionRepeatsTheAccumulatedOnes) {
  Ctx ctx(ctx_create());
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  for (int k = 1; k <= 3; ++k) {
    Image next = full(finger(k));
    ASSERT_EQ(accum_add_image(a.get(), ctx.get(), next.get()), ML_OK);
  }
  for (int i = 0; i < 160 * 160; ++i) ASSERT_EQ(a->base_map[i], 0x30) << i;
  Image fourth = full(finger(4));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), fourth.get()), ML_OK);
  const std::uint8_t* cells = mask_cells(image_mask_plane(fourth.get()));
  ASSERT_NE(cells, nullptr);
  int marked = 0;
  for (int i = 0; i < 160 * 160; ++i) {
    // Working map 1 and the base map's bit 6 agree cell by cell.
    ASSERT_EQ((cells[i] & MASK_ACCUMULATOR_STRONG) != 0, (a->base_map[i] & 0x40) != 0) << i;
    marked += (cells[i] & MASK_ACCUMULATOR_WEAK) != 0;
  }
  EXPECT_GT(marked, 0);
}

TEST(AccumAddImage, InvertedRepeatIsRecognisedWithTheInversionTest) {
  Ctx ctx(ctx_create());
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
  Image neg = inverted(finger(1));
  // Without the test an inverted copy differs everywhere and is stored.
  Accum b(accum_copy(a.get()));
  ASSERT_EQ(accum_add_image(b.get(), ctx.get(), neg.get()), ML_OK);
  EXPECT_EQ(occupied(*b), 2);
  ASSERT_EQ(param_set(ctx.get(), 0xee8003dbu, 1), ML_OK);
  Image neg2 = inverted(finger(1));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), neg2.get()), ML_OK);
  EXPECT_EQ(occupied(*a), 1);
}

TEST(AccumAddImage, FlaggedImagesOnlyReadTheBaseMap) {
  Ctx ctx(ctx_create());
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
  a->base_map[5 * 160 + 7] = 0x80;
  Image flagged = full(finger(2));
  image_set_flag_word(flagged.get(), 1);
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), flagged.get()), ML_OK);
  EXPECT_EQ(occupied(*a), 1);
  EXPECT_EQ(a->base_map[5 * 160 + 7], 0x80);
  const std::uint8_t* cells = mask_cells(image_mask_plane(flagged.get()));
  EXPECT_TRUE(cells[5 * 160 + 7] & MASK_ACCUMULATOR_STRONG);
  EXPECT_FALSE(cells[5 * 160 + 8] & MASK_ACCUMULATOR_STRONG);
}

TEST(AccumAddImage, SmallerImpressionsMergePointByPoint) {
  Ctx ctx(ctx_create());
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
  const Record before = record_of(a->slots[0]);
  Image part = window(finger(2), 80, 60, 40, 50);
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), part.get()), ML_OK);
  // Every slot now holds the grid; inside the window slot 0 has the new
  // impression's data and slot 1 what slot 0 held, outside nothing moved.
  ASSERT_EQ(occupied(*a), ACCUM_SLOTS);
  EXPECT_EQ(a->last_height, 80);
  EXPECT_EQ(a->last_width, 60);
  EXPECT_EQ(a->last_row, 40);
  EXPECT_EQ(a->last_column, 50);
  const Record s0 = record_of(a->slots[0]), s1 = record_of(a->slots[1]);
  ASSERT_EQ(s0->point_count, before->point_count);
  int inside = 0;
  for (int i = 0; i < s0->point_count; ++i) {
    const KeyPoint& p = s0->points[i];
    const bool in = p.y >= 40 && p.y < 120 && p.x >= 50 && p.x < 110;
    inside += in;
    if (in) {
      ASSERT_EQ(std::memcmp(descriptor(*s1, i), descriptor(*before, i), 16), 0) << i;
    } else {
      ASSERT_EQ(std::memcmp(descriptor(*s0, i), descriptor(*before, i), 16), 0) << i;
    }
  }
  EXPECT_EQ(inside, 16 * 12);
  // The base map changed inside the window only.
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) {
      const bool in = y >= 40 && y < 120 && x >= 50 && x < 110;
      ASSERT_EQ(a->base_map[y * 160 + x], in ? 0x20 : 0x10) << y << "," << x;
    }
  // The saved form carries the seven slots and parses back.
  Accum copy(accum_copy(a.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(occupied(*copy), ACCUM_SLOTS);
}

TEST(AccumAddImage, RunningMeanCountsEachWindowCell) {
  Ctx ctx(ctx_create());
  ASSERT_EQ(param_set(ctx.get(), 0x41fd08a3u, 1), ML_OK);
  ASSERT_EQ(param_set(ctx.get(), 0xfb0008aau, 1), ML_OK);  // stop after the mean
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
  ASSERT_NE(a->mean_image, nullptr);
  ASSERT_NE(a->count_map, nullptr);
  EXPECT_EQ(occupied(*a), 0);
  Image part = window(finger(2), 40, 40, 10, 20);
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), part.get()), ML_OK);
  EXPECT_EQ(a->count_map[0], 1);
  EXPECT_EQ(a->count_map[10 * 160 + 20], 2);
  EXPECT_EQ(a->count_map[49 * 160 + 59], 2);
  EXPECT_EQ(a->count_map[50 * 160 + 59], 1);
  // The count stops at the limit.
  ASSERT_EQ(param_set(ctx.get(), 0xf195d9d9u, 3), ML_OK);
  for (int k = 0; k < 4; ++k) {
    Image again = full(finger(1));
    ASSERT_EQ(accum_add_image(a.get(), ctx.get(), again.get()), ML_OK);
  }
  EXPECT_EQ(a->count_map[0], 3);
  // Maps travel in the saved form.
  EXPECT_EQ(accum_write(nullptr, a.get()), 2u + 23 + 6 + 160 * 160 + 6 + 2 * 160 * 160);
}

// Mean absolute distance of the mean image from mid grey.
int mean_spread(const ImpressionAccumulator& a) {
  long sum = 0;
  for (int i = 0; i < a.height * a.width; ++i) sum += std::abs(a.mean_image[i] - 128);
  return static_cast<int>(sum / (a.height * a.width));
}

TEST(AccumAddImage, InversionTestKeepsAnInvertedImpressionFromFlatteningTheMean) {
  // Without the test an inverted impression averages the mean image
  // towards flat grey; with it the impression is turned back first.
  int spread[2] = {};
  for (int test = 0; test < 2; ++test) {
    Ctx ctx(ctx_create());
    ASSERT_EQ(param_set(ctx.get(), 0x41fd08a3u, 1), ML_OK);
    ASSERT_EQ(param_set(ctx.get(), 0xfb0008aau, 1), ML_OK);
    if (test) {
      ASSERT_EQ(param_set(ctx.get(), 0xee8003dbu, 1), ML_OK);
    }
    Image first = full(finger(1));
    Accum a(accum_create(first.get()));
    ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
    const int before = mean_spread(*a);
    Image neg = inverted(finger(1));
    ASSERT_EQ(accum_add_image(a.get(), ctx.get(), neg.get()), ML_OK);
    spread[test] = mean_spread(*a);
    EXPECT_GT(before, 8);
    if (test) {
      EXPECT_GT(spread[test] * 4, before * 3);
    }
  }
  EXPECT_LT(spread[0] * 2, spread[1]);
}

TEST(AccumAddImage, SettledMeanIsTakenOutOfThePixelsUnlessItAddsAPattern) {
  Ctx ctx(ctx_create());
  ASSERT_EQ(param_set(ctx.get(), 0x41fd08a3u, 1), ML_OK);
  ASSERT_EQ(param_set(ctx.get(), 0xfb0008aau, 1), ML_OK);
  ASSERT_EQ(param_set(ctx.get(), 0xdf8699d4u, 2), ML_OK);
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
  // Not settled after one impression: the pixels are as captured.
  const auto& g = print(finger(1));
  EXPECT_EQ(std::memcmp(image_pixels(first.get()), g.pixels.data(), g.pixels.size()), 0);
  Image second = full(finger(1));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), second.get()), ML_OK);
  // The same impression twice: its filtered pixels equal the mean, so the
  // settled result is flat grey, which shows no checker pattern and
  // replaces the pixels.
  const std::uint8_t* px = image_pixels(second.get());
  for (int i = 0; i < 160 * 160; ++i) ASSERT_NEAR(px[i], 128, 1) << i;
}

TEST(AccumAddImage, MemoryFailureLeavesTheSlotsAsTheyWere) {
  Ctx ctx(ctx_create());
  Image first = full(finger(1));
  Accum base(accum_create(first.get()));
  ASSERT_EQ(accum_add_image(base.get(), ctx.get(), first.get()), ML_OK);
  Image second = full(finger(2));
  ASSERT_EQ(accum_add_image(base.get(), ctx.get(), second.get()), ML_OK);
  const std::vector<uint8_t> saved = [&] {
    std::vector<uint8_t> b(accum_write(nullptr, base.get()));
    accum_write(b.data(), base.get());
    return b;
  }();
  // A full-size impression (slot shift) and a window (point-wise merge),
  // with the 1st, 2nd, ... allocation of the add failing.
  for (int merge = 0; merge < 2; ++merge) {
    int n = 1;
    for (; n < 10000; ++n) {
      SCOPED_TRACE(::testing::Message() << "merge " << merge << ", allocation " << n << " fails");
      Accum a(accum_copy(base.get()));
      ASSERT_NE(a, nullptr);
      Image next = merge ? window(finger(3), 60, 60, 30, 30) : full(finger(3));
      zyl::matchlib::test_hook::fail_allocation(static_cast<std::uint64_t>(n));
      const int status = accum_add_image(a.get(), ctx.get(), next.get());
      if (!zyl::test::allocation_failed()) {
        ASSERT_EQ(status, ML_OK);
        break;
      }
      // 9, or 1 where the descriptors' band filter finds no gain table.
      ASSERT_TRUE(status == ML_NO_MEMORY || status == ML_WRONG_KIND) << status;
      std::vector<uint8_t> now(accum_write(nullptr, a.get()));
      accum_write(now.data(), a.get());
      // Only the geometry of the last impression may have moved.
      ASSERT_EQ(now.size(), saved.size());
      ASSERT_EQ(std::memcmp(now.data() + 31, saved.data() + 31, now.size() - 31), 0);
    }
    EXPECT_GT(n, 1) << merge;
    EXPECT_LT(n, 10000) << merge;
  }
}

std::vector<int> g_progress;
void record_progress(MatchContext*, int index, void* user) {
  g_progress.push_back(index);
  ++*static_cast<int*>(user);
}

TEST(AccumAddImages, LongSeriesAddTheirLastFiveFirst) {
  Ctx ctx(ctx_create());
  ASSERT_EQ(param_set(ctx.get(), 0xfb0008aau, 1), ML_OK);  // masks and geometry only
  Accum a(accum_create_sized(160, 160));
  std::vector<Image> owned;
  std::vector<GrayImage*> images;
  for (int k = 0; k < 7; ++k) {
    owned.push_back(window(finger(1), 40, 40, 10 * k, 5 * k));
    images.push_back(owned.back().get());
  }
  Image bad = Image(image_create(50, 50, 500, 500, nullptr, 0));
  struct Case {
    int n, bad_index;
    std::vector<int> progress;
    int status;
  };
  const Case cases[] = {
      {7, -1, {0, 1, 2, 3, 4, 5, 6}, ML_OK},
      {7, 1, {0, 1}, ML_BAD_ARGUMENT},   // 2..6 passed, then 0 and 1
      {7, 3, {}, ML_BAD_ARGUMENT},       // failed within 2..6
      {5, 3, {0, 1, 2, 3}, ML_BAD_ARGUMENT},
      {6, 0, {0}, ML_BAD_ARGUMENT},      // 1..5 first
  };
  for (const Case& c : cases) {
    std::vector<GrayImage*> list(images.begin(), images.begin() + c.n);
    if (c.bad_index >= 0) list[c.bad_index] = bad.get();
    g_progress.clear();
    int calls = 0;
    EXPECT_EQ(accum_add_images_progress(a.get(), ctx.get(), list.data(), c.n, record_progress, &calls),
              c.status)
        << c.n << " " << c.bad_index;
    EXPECT_EQ(g_progress, c.progress) << c.n << " " << c.bad_index;
    EXPECT_EQ(calls, static_cast<int>(c.progress.size()));
  }
  EXPECT_EQ(accum_add_images(a.get(), ctx.get(), images.data(), 7), ML_OK);
  EXPECT_EQ(a->last_row, 60);
  EXPECT_EQ(a->last_column, 30);
  EXPECT_EQ(accum_add_images(a.get(), ctx.get(), nullptr, 3), ML_BAD_ARGUMENT);
  EXPECT_EQ(accum_add_images(a.get(), ctx.get(), images.data(), 0), ML_BAD_ARGUMENT);
}

TEST(AccumSlotOverlapStats, WindowIsBoundedBeforeItsMapIsMade) {
  // Accumulators filled by hand: a window above the statistics' 65536 cells
  // answers 1 before its map is allocated, one reaching outside the area 17.
  struct Case {
    const char* what;
    uint16_t height, width, last_height, last_width, last_row, last_column;
    int status;
  };
  const Case cases[] = {
      {"a 300 x 400 sensor's whole area", 300, 400, 300, 400, 0, 0, ML_WRONG_KIND},
      {"65535 x 65535 on a 20 x 20 area", 20, 20, 65535, 65535, 0, 0, ML_WRONG_KIND},
      {"window below the area", 20, 20, 20, 20, 10, 0, ML_CORRUPT},
      {"window right of the area", 20, 20, 10, 10, 0, 11, ML_CORRUPT},
  };
  Ctx ctx(ctx_create());
  const uint8_t junk[3] = {1, 2, 3};
  for (const Case& c : cases) {
    Accum a(accum_create_sized(c.height, c.width));
    ASSERT_NE(a, nullptr);
    a->slots[0] = blob_create(79, junk, sizeof junk);
    a->slots[1] = blob_create(79, junk, sizeof junk);
    a->last_height = c.last_height;
    a->last_width = c.last_width;
    a->last_row = c.last_row;
    a->last_column = c.last_column;
    uint16_t stats[4] = {};
    EXPECT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), 0, stats), c.status) << c.what;
  }
}

TEST(AccumSlotOverlapStats, SimilarityOfASlotToSlotZero) {
  Ctx ctx(ctx_create());
  Image first = full(finger(1));
  Accum a(accum_create(first.get()));
  uint16_t stats[4] = {};
  EXPECT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), 6, stats), ML_WRONG_KIND);
  EXPECT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), -1, stats), ML_WRONG_KIND);
  EXPECT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), 0, stats), ML_EMPTY_SLOT);
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), first.get()), ML_OK);
  EXPECT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), 0, stats), ML_EMPTY_SLOT);
  // Slot 1 holding slot 0's template: the most similar third is all 1.
  a->slots[1] = blob_retain(a->slots[0]);
  ASSERT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), 0, stats), ML_OK);
  EXPECT_EQ(stats[3], 65535 - 256);
  uint16_t same[4];
  Image second = full(finger(2));
  ASSERT_EQ(accum_add_image(a.get(), ctx.get(), second.get()), ML_OK);
  ASSERT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), 0, same), ML_OK);
  // Another impression is less similar: a larger mean term, so a smaller
  // first value.
  EXPECT_LT(same[0], stats[0]);
  EXPECT_EQ(accum_slot_overlap_stats(a.get(), ctx.get(), 2, stats), ML_EMPTY_SLOT);
}

// ---- observer ----

// An enrolment object that records what reaches its add and its reset.
struct Recorder {
  EnrolSession head;
  MatchContext* ctx;
  std::vector<GrayImage*> added;
  int resets = 0;
};
Recorder* g_recorder = nullptr;
int recorder_add(EnrolSession*, GrayImage* image, DataBlob*, void*) {
  g_recorder->added.push_back(image);
  return ML_OK;
}
int recorder_reset(EnrolSession*) {
  ++g_recorder->resets;
  g_recorder->added.clear();
  return ML_OK;
}
MatchContext* recorder_context(EnrolSession*) { return g_recorder->ctx; }
void recorder_destroy(EnrolSession*) {}

TEST(AccumObserver, SixthImpressionRestartsTheEnrolmentWithoutRecursion) {
  Ctx ctx(ctx_create());
  Recorder r{};
  r.head.add_sample = recorder_add;
  r.head.reset = recorder_reset;
  r.head.context = recorder_context;
  r.head.destroy = recorder_destroy;
  r.ctx = ctx.get();
  g_recorder = &r;
  AccumState* state = accum_state_create(0);
  EXPECT_EQ(accum_observe_install(nullptr, state), ML_BAD_ARGUMENT);
  EXPECT_EQ(accum_observe_install(&r.head, nullptr), ML_BAD_ARGUMENT);
  zyl::matchlib::test_hook::fail_allocation(1);
  EXPECT_EQ(accum_observe_install(&r.head, state), ML_NO_MEMORY);
  EXPECT_TRUE(zyl::test::allocation_failed());
  EXPECT_EQ(state->refcount, 1u);
  EXPECT_EQ(r.head.observer_data, nullptr);
  ASSERT_EQ(accum_observe_install(&r.head, state), ML_OK);
  // Installing again replaces the observer (the first one's reference on
  // the state is given back).
  ASSERT_EQ(accum_observe_install(&r.head, state), ML_OK);
  EXPECT_EQ(state->refcount, 2u);

  std::vector<Image> images;
  const int offsets[7][2] = {{0, 0}, {40, 40}, {80, 0}, {0, 80}, {80, 80}, {20, 60}, {60, 20}};
  for (int k = 0; k < 7; ++k) images.push_back(window(finger(1 + k % 5), 80, 80, offsets[k][0], offsets[k][1]));
  for (int k = 0; k < 5; ++k) ASSERT_EQ(enrol_add_sample(&r.head, images[k].get(), nullptr, nullptr), ML_OK);
  EXPECT_EQ(r.added.size(), 5u);
  EXPECT_EQ(r.resets, 0);
  ASSERT_GT(state->size, 0u);
  {
    ImpressionAccumulator* held = nullptr;
    ASSERT_EQ(accum_parse(state->bytes, state->size, &held), ML_OK);
    EXPECT_EQ(held->last_row, 80);
    EXPECT_EQ(held->last_column, 80);
    accum_release(held);
  }
  // The sixth: the enrolment starts over with the first five offered again
  // and the sixth through its own add, each once.
  ASSERT_EQ(enrol_add_sample(&r.head, images[5].get(), nullptr, nullptr), ML_OK);
  EXPECT_EQ(r.resets, 1);
  std::vector<GrayImage*> expected;
  for (int k = 0; k < 6; ++k) expected.push_back(images[k].get());
  EXPECT_EQ(r.added, expected);
  {
    // The accumulator was rebuilt from the six as one series, which ends
    // with the sixth.
    ImpressionAccumulator* held = nullptr;
    ASSERT_EQ(accum_parse(state->bytes, state->size, &held), ML_OK);
    EXPECT_EQ(held->last_row, 20);
    EXPECT_EQ(held->last_column, 60);
    accum_release(held);
  }
  // Later impressions go to the accumulator and the enrolment, kept by
  // neither list nor replay.
  ASSERT_EQ(enrol_add_sample(&r.head, images[6].get(), nullptr, nullptr), ML_OK);
  EXPECT_EQ(r.added.size(), 7u);
  EXPECT_EQ(r.resets, 1);
  ImpressionAccumulator* held = nullptr;
  ASSERT_EQ(accum_parse(state->bytes, state->size, &held), ML_OK);
  EXPECT_EQ(held->last_row, 60);
  accum_release(held);
  // Destroying the enrolment releases the observer and its images.
  enrol_destroy(&r.head);
  EXPECT_EQ(state->refcount, 1u);
  for (const Image& i : images) EXPECT_EQ(object_refcount(i.get()), 1);
  accum_state_release(state);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"

namespace {

// A skeleton drawn on a background of 1; line pixels 0.
struct Skeleton {
  int h, w;
  std::vector<std::uint8_t> px;
  Skeleton(int height, int width) : h(height), w(width), px(std::size_t(height) * width, 1) {}
  void set(int y, int x) { px[std::size_t(y) * w + x] = 0; }
};

struct Detection {
  std::vector<MinutiaEntry> minutiae;
  std::vector<std::uint8_t> counts;
};

Detection detect(Skeleton& s, int kind, int quality, int scale) {
  std::vector<std::uint8_t> orientation(s.px.size(), 0), q(s.px.size(), std::uint8_t(quality));
  Detection d;
  d.counts.assign(s.px.size(), 0);
  std::vector<MinutiaEntry> m(MINREC_MAX_MINUTIAE);
  std::uint8_t count = 0;
  EXPECT_EQ(minutiae_detect_branches(s.px.data(), orientation.data(), s.h, s.w, kind, q.data(),
                                     m.data(), &count, d.counts.data(), scale, 1),
            ML_OK);
  d.minutiae.assign(m.begin(), m.begin() + count);
  return d;
}

Skeleton y_junction() {
  Skeleton s(60, 60);
  for (int k = 0; k < 26; ++k) s.set(30 + k, 30);  // stem down
  for (int k = 1; k < 26; ++k) {
    s.set(30 - k, 30 - k);
    s.set(30 - k, 30 + k);
  }
  return s;
}

TEST(SkeletonBranches, StepAndBranchStarts) {
  Skeleton s(5, 5);
  s.set(2, 2);
  s.set(1, 1);
  s.set(1, 3);
  s.set(3, 2);
  int pos[8], codes[8];
  ASSERT_EQ(skeleton_branch_starts(s.px.data(), 5, 2 * 5 + 2, pos, codes), 3);
  EXPECT_EQ(codes[0], 5);  // up-left first
  EXPECT_EQ(codes[1], 6);
  EXPECT_EQ(codes[2], 2);
  int code = 1, p = 2 * 5 + 2;  // arriving upwards: up, up-left, up-right
  ASSERT_EQ(skeleton_step(s.px.data(), 5, &code, &p), 1);
  EXPECT_EQ(code, 5);
  EXPECT_EQ(p, 1 * 5 + 1);
  code = 1;
  EXPECT_EQ(skeleton_step(s.px.data(), 5, &code, &p), 0);  // nothing above (1,1)
  EXPECT_EQ(code, 1);
}

TEST(SkeletonBranches, EraseRecountsItsNeighbours) {
  Skeleton s(7, 7);
  for (int x = 1; x < 6; ++x) s.set(3, x);
  s.set(2, 3);
  std::vector<std::uint8_t> counts(49, 0);
  counts[3 * 7 + 2] = 3;  // stale counts around (3, 3)
  counts[3 * 7 + 3] = 3;
  counts[3 * 7 + 4] = 2;
  counts[2 * 7 + 3] = 3;
  skeleton_erase_pixel(s.px.data(), counts.data(), 7, 3, 3);
  EXPECT_EQ(s.px[3 * 7 + 3], 1);
  EXPECT_EQ(counts[3 * 7 + 3], 0);
  EXPECT_EQ(counts[3 * 7 + 2], 2);  // decreased
  EXPECT_EQ(counts[2 * 7 + 3], 2);
  EXPECT_EQ(counts[3 * 7 + 4], 2);  // recounted: (3,5) and (2,3)
}

TEST(SkeletonBranches, YJunctionGivesOneMinutiaWithItsQuality) {
  Skeleton s = y_junction();
  const Detection d = detect(s, 0, 70, 1);
  ASSERT_EQ(d.minutiae.size(), 1u);
  const MinutiaEntry& m = d.minutiae[0];
  EXPECT_EQ(m.x, 30);
  EXPECT_EQ(m.y, 30);
  EXPECT_EQ(m.type, 2);
  EXPECT_EQ(m.quality, 70);
  EXPECT_EQ(m.direction, 64);  // between the two upper arms
  EXPECT_EQ(d.counts[30 * 60 + 30], 3);
  EXPECT_EQ(d.counts[55 * 60 + 30], 1);  // line end
  Skeleton valley = y_junction();
  ASSERT_EQ(detect(valley, 1, 70, 2).minutiae.at(0).type, 1);
}

TEST(SkeletonBranches, ShortArmLowersQuality) {
  // The upper right arm is cut to 5 pixels: d^2 = 50 at its end, so the
  // quality becomes (100 / (c - 7 + 7)) * q / 100 for the class's c.
  auto cut = [] {
    Skeleton s = y_junction();
    for (int k = 6; k < 26; ++k) s.px[std::size_t(30 - k) * 60 + 30 + k] = 1;
    return s;
  };
  Skeleton high = cut();
  Detection d = detect(high, 0, 70, 1);
  ASSERT_EQ(d.minutiae.size(), 1u);
  EXPECT_EQ(d.minutiae[0].quality, 35);  // c = 2: 50 * 70 / 100
  Skeleton mid = cut();
  d = detect(mid, 0, 50, 1);
  ASSERT_EQ(d.minutiae.size(), 1u);
  EXPECT_EQ(d.minutiae[0].quality, 16);  // c = 3: 33 * 50 / 100
  Skeleton low = cut();
  EXPECT_TRUE(detect(low, 0, 10, 1).minutiae.empty());  // u = 100 > 50: dropped
}

TEST(SkeletonBranches, SpurIsErased) {
  Skeleton s(40, 60);
  for (int x = 5; x < 55; ++x) s.set(20, x);
  s.set(19, 30);
  s.set(18, 30);
  const Detection d = detect(s, 0, 70, 1);
  EXPECT_TRUE(d.minutiae.empty());
  EXPECT_EQ(s.px[18 * 60 + 30], 1);
}

TEST(SkeletonBranches, SmallSkeletonHasNoCandidates) {
  Skeleton s(3, 10);
  for (int x = 0; x < 10; ++x) s.set(1, x);
  s.set(0, 4);
  s.set(2, 4);
  EXPECT_TRUE(detect(s, 0, 70, 1).minutiae.empty());
}

TEST(SkeletonBranches, RefusesASkeletonWithoutABackgroundFrame) {
  // The walks rely on a one-pixel background frame; a line pixel on any
  // outer row or column is refused before anything is read around it.
  struct Case {
    const char* where;
    int y, x;
  };
  const Case cases[] = {{"top row", 0, 3}, {"bottom row", 5, 4}, {"left column", 2, 0},
                        {"right column", 3, 7}, {"corner", 5, 7}};
  for (const Case& c : cases) {
    Skeleton s(6, 8);  // exact-size buffers: a read past them is caught
    for (int x = 1; x < 7; ++x) s.set(3, x);
    for (int y = 1; y < 5; ++y) s.set(y, 4);
    s.set(c.y, c.x);
    std::vector<std::uint8_t> orientation(s.px.size(), 0), q(s.px.size(), 70), counts(s.px.size(), 0);
    std::vector<MinutiaEntry> m(MINREC_MAX_MINUTIAE);
    std::uint8_t count = 0;
    EXPECT_EQ(minutiae_detect_branches(s.px.data(), orientation.data(), s.h, s.w, 0, q.data(),
                                       m.data(), &count, counts.data(), 1, 1),
              ML_BAD_ARGUMENT)
        << c.where;
    EXPECT_EQ(count, 0) << c.where;
  }
  Skeleton framed(6, 8);  // the same cross inside the frame is read
  for (int x = 1; x < 7; ++x) framed.set(3, x);
  for (int y = 1; y < 5; ++y) framed.set(y, 4);
  detect(framed, 0, 70, 1);
}

MinutiaEntry entry(int x, int y, int dir, int type, int quality = 50, int extra = 0) {
  MinutiaEntry m{};
  m.x = static_cast<std::uint16_t>(x);
  m.y = static_cast<std::uint16_t>(y);
  m.direction = static_cast<std::uint8_t>(dir);
  m.type = static_cast<std::uint8_t>(type);
  m.quality = static_cast<std::uint8_t>(quality);
  m.extra = static_cast<std::uint8_t>(extra);
  return m;
}

TEST(SkeletonBranches, ClosePairsMergeAtFullResolutionOnly) {
  std::vector<MinutiaEntry> m{entry(10, 10, 10, 1), entry(13, 14, 20, 2), entry(90, 90, 0, 2)};
  auto full = m;
  ASSERT_EQ(minutiae_merge_close_pairs(full.data(), 3, 1), 2);
  EXPECT_EQ(full[0].x, 11);
  EXPECT_EQ(full[0].y, 12);
  EXPECT_EQ(full[0].direction, 15);
  EXPECT_EQ(full[0].type, 2);
  EXPECT_EQ(full[1].x, 90);
  auto half = m;
  EXPECT_EQ(minutiae_merge_close_pairs(half.data(), 3, 2), 3);  // 4 x 25 = 100
  auto turned = m;
  turned[1].direction = 30;  // 20 apart
  EXPECT_EQ(minutiae_merge_close_pairs(turned.data(), 3, 1), 3);
}

// Three horizontal ridges 8 apart; the middle one ends at column 40.
Skeleton ridges(bool neighbours) {
  Skeleton s(60, 80);
  for (int x = 5; x < 75; ++x) {
    if (neighbours) {
      s.set(20, x);
      s.set(36, x);
    }
    if (x <= 40) s.set(28, x);
  }
  return s;
}

std::vector<std::uint8_t> counts_of(const Skeleton& s) {
  std::vector<std::uint8_t> c(s.px.size(), 0);
  for (int y = 1; y < s.h - 1; ++y)
    for (int x = 1; x < s.w - 1; ++x) {
      if (s.px[y * s.w + x]) continue;
      int n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) n += (dy || dx) && s.px[(y + dy) * s.w + x + dx] == 0;
      c[y * s.w + x] = static_cast<std::uint8_t>(n);
    }
  return c;
}

TEST(MinutiaeValidation, EndingNeedsRidgesOnBothSides) {
  std::vector<std::uint8_t> freq(60 * 80, 8);
  Skeleton with = ridges(true);
  auto counts = counts_of(with);
  std::vector<MinutiaEntry> m{entry(42, 28, 0, 1), entry(60, 50, 0, 2)};
  EXPECT_EQ(minutiae_validate_endings(m.data(), 2, with.px.data(), counts.data(), freq.data(), 60,
                                      80, 1, 1),
            2);
  Skeleton lonely = ridges(false);
  counts = counts_of(lonely);
  m = {entry(42, 28, 0, 1), entry(60, 50, 0, 2)};
  ASSERT_EQ(minutiae_validate_endings(m.data(), 2, lonely.px.data(), counts.data(), freq.data(), 60,
                                      80, 1, 1),
            1);
  EXPECT_EQ(m[0].type, 2);  // bifurcations are not examined
}

TEST(MinutiaeValidation, EndingAtTheEdgeIsDropped) {
  // A lone ridge ends 2 pixels from the left edge; the ending points left
  // out of the image, so the trials move right... and without neighbours
  // the only way to be kept is to find them: removed.
  Skeleton s(40, 40);
  for (int x = 2; x < 30; ++x) s.set(20, x);
  auto counts = counts_of(s);
  std::vector<std::uint8_t> freq(40 * 40, 8);
  std::vector<MinutiaEntry> m{entry(2, 20, 0, 1)};  // points right: trials go left, off the image
  EXPECT_EQ(minutiae_validate_endings(m.data(), 1, s.px.data(), counts.data(), freq.data(), 40, 40,
                                      1, 1),
            0);
}

TEST(MinutiaeValidation, EndingFarFromAnyRidgeEndIsKeptUntested) {
  Skeleton s(130, 130);
  for (int x = 1; x < 129; ++x) s.set(64, x);  // ends on the frame only
  auto counts = counts_of(s);
  std::vector<std::uint8_t> freq(130 * 130, 8);
  std::vector<MinutiaEntry> m{entry(64, 2, 0, 1)};  // 60 rows from the line's ends
  for (int x = 1; x < 129; ++x) counts[64 * 130 + x] = 2;
  EXPECT_EQ(minutiae_validate_endings(m.data(), 1, s.px.data(), counts.data(), freq.data(), 130,
                                      130, 1, 1),
            1);
}

TEST(MinutiaeValidation, FlowCheckDropsCrossingDirections) {
  // Orientation byte 128 everywhere: ridges run at 64 - 128 = -64, i.e.
  // vertically; minutiae pointing up or down agree, pointing right do not.
  std::vector<std::uint8_t> o(50 * 50, 128);
  std::vector<MinutiaEntry> m{entry(25, 25, 64, 1), entry(25, 25, 0, 1), entry(25, 25, 192, 2)};
  ASSERT_EQ(minutiae_check_flow(m.data(), 3, o.data(), 50, 50, 2, 1), 2);
  EXPECT_EQ(m[0].direction, 64);
  EXPECT_EQ(m[1].direction, 192);
}

TEST(MinutiaeValidation, FlowCheckLeavesMinutiaeOffTheMapUnchecked) {
  // A 20 x 20 map: a position outside it has no flow to compare with, so
  // the minutia is kept as it is; those inside are checked as usual. The map
  // lies at the start of a larger buffer whose further bytes hold the same
  // crossing flow: a check that read a position off the map as row * 20 +
  // column would find bytes there (no fault, in any build) and drop every
  // off-map minutia below, which all point across that flow.
  std::vector<std::uint8_t> o(400 * 20 + 400, 128);
  std::vector<MinutiaEntry> m{entry(5, 25, 0, 1),  entry(10, 10, 0, 1), entry(20, 3, 0, 2),
                              entry(10, 10, 64, 1), entry(300, 400, 0, 1)};
  ASSERT_EQ(minutiae_check_flow(m.data(), 5, o.data(), 20, 20, 2, 1), 4);
  EXPECT_EQ(m[0].y, 25);
  EXPECT_EQ(m[1].x, 20);  // (10, 10) pointing across the flow was removed
  EXPECT_EQ(m[2].direction, 64);
  EXPECT_EQ(m[3].x, 300);
}

TEST(MinutiaeSort, EveryCodeIsStable) {
  MinutiaeRecord r{};
  const std::vector<MinutiaEntry> base{entry(5, 9, 30, 1, 40, 0), entry(5, 2, 30, 2, 60, 1),
                                       entry(1, 9, 200, 1, 40, 2), entry(5, 9, 10, 1, 60, 3),
                                       entry(1, 9, 30, 2, 40, 4)};
  struct Case {
    int code;
    std::vector<int> order;  // by the extra field (the input index)
  };
  const std::vector<Case> cases{
      {1, {2, 4, 1, 0, 3}},  {2, {1, 2, 4, 0, 3}},  {3, {3, 0, 1, 4, 2}},
      {4, {0, 3, 2, 4, 1}},  {5, {0, 2, 4, 1, 3}},  {17, {0, 3, 1, 2, 4}},
      {18, {0, 3, 2, 4, 1}}, {19, {2, 0, 1, 4, 3}}, {20, {1, 2, 4, 0, 3}},
      {21, {1, 3, 0, 2, 4}}, {6, {0, 1, 2, 3, 4}},  {0, {0, 1, 2, 3, 4}}};
  for (const Case& c : cases) {
    r.count = static_cast<std::uint8_t>(base.size());
    std::copy(base.begin(), base.end(), r.minutiae);
    minutiae_sort(&r, c.code, 9, 5);  // centroid at the first minutia
    std::vector<int> got;
    for (int i = 0; i < r.count; ++i) got.push_back(r.minutiae[i].extra);
    EXPECT_EQ(got, c.order) << "code " << c.code;
  }
}

TEST(MinutiaeValidation, FacingPairs) {
  std::vector<MinutiaEntry> m{entry(10, 20, 0, 1), entry(30, 20, 128, 1), entry(10, 60, 0, 1)};
  FacingPair out[4];
  int n = 0;
  ASSERT_EQ(minutiae_find_facing_pairs(m.data(), 3, out, 4, &n), ML_OK);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(out[0].x, 20);
  EXPECT_EQ(out[0].y, 20);
}

}  // namespace

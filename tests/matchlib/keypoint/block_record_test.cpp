#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "matchlib/keypoint/block_record.h"
#include "support/prefix_sweep.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zyl::matchlib::blockrec_parse_with;
using zyl::matchlib::blockrec_read_extensions_with;

// Stand-ins for two descriptor types: what the record needs of them is the
// id, the element size and the pattern id.
uint32_t size16() { return 16; }
uint32_t size250() { return 250; }
uint32_t pattern_a() { return 0x47A12F37; }
uint32_t pattern_b() { return 0x1234; }
const DescriptorType kType2 = {0x2, 0, nullptr, size16, nullptr, nullptr, nullptr, nullptr, pattern_a, size16};
const DescriptorType kType4 = {0x4, 0, nullptr, size16, nullptr, nullptr, nullptr, nullptr, pattern_b, size16};
const DescriptorType kWide = {0x8, 0, nullptr, size250, nullptr, nullptr, nullptr, nullptr, pattern_b, size16};
const DescriptorType* const kKnown[] = {&kType2, &kType4, &kWide};

struct Free {
  void operator()(BlockRecord* r) const { blockrec_free(r); }
};
using RecordPtr = std::unique_ptr<BlockRecord, Free>;

RecordPtr make(int n, std::initializer_list<const DescriptorType*> types, int max_coord = 200) {
  std::vector<const DescriptorType*> list(types);
  list.push_back(nullptr);
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(300, 280, n, list.data(), &r), ML_OK);
  r->point_count = n;
  for (int i = 0; i < n; ++i) {
    KeyPoint& p = r->points[i];
    p.x = static_cast<int16_t>(i * 7 % (max_coord + 1));
    p.y = static_cast<int16_t>(max_coord - i % (max_coord + 1));
    p.angle = static_cast<uint8_t>(i * 13);
    p.score = static_cast<uint8_t>(i * 31);
    p.cls = static_cast<uint8_t>(1 + (i * 3 / std::max(n, 1)));  // ordered by type
    p.spare = static_cast<uint8_t>(i % 3 == 0 ? 0x20 : 0);
    for (int k = 0; k < r->extension_type_count; ++k) {
      const std::size_t s = r->extension_types[k]->size();
      for (std::size_t b = 0; b < s; ++b) r->extension_arrays[k][i * s + b] = static_cast<uint8_t>(i + b + k);
    }
  }
  blockrec_count_types(r);
  return RecordPtr(r);
}

Bytes written(const BlockRecord* r) {
  uint8_t* out = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(blockrec_write(r, &out, &size), ML_OK);
  Bytes b(out, out + size);
  std::free(out);
  return b;
}

RecordPtr parsed(const Bytes& b, int skip = 0, int limit = 0, int* status = nullptr) {
  BlockRecord* r = nullptr;
  const int s = blockrec_parse_with(b, skip, limit, kKnown, &r);
  if (status)
    *status = s;
  else
    EXPECT_EQ(s, 0);
  return RecordPtr(r);
}

// Block types in stored order, walked from byte 2.
std::vector<int> block_types(const Bytes& b) {
  std::vector<int> types;
  for (std::size_t p = 2; p + 4 <= b.size();) {
    types.push_back(b[p] << 8 | b[p + 1]);
    p += 4 + (b[p + 2] << 8 | b[p + 3]);
  }
  return types;
}

TEST(BlockRecord, ExactLayoutOfASmallRecord) {
  BlockRecord* r = nullptr;
  ASSERT_EQ(blockrec_create(20, 30, 2, nullptr, &r), ML_OK);
  RecordPtr hold(r);
  r->point_count = 2;
  r->points[0] = {5, 6, 7, 8, 1, 1};
  r->points[1] = {9, 10, 11, 12, 2, 0};
  blockrec_count_types(r);
  const Bytes expected = {0, 6,
                          0x12, 0x34, 0, 8, 0, 0, 0, 30, 0, 20, 0, 2,  // header
                          0, 6, 0, 1, 0,                               // no extension types
                          0, 1, 0, 8, 1, 0, 0, 0, 1, 5, 6, 7,          // type 1, index 0
                          0, 1, 0, 8, 2, 0, 1, 0, 1, 9, 10, 11,        // type 2, index 1
                          0, 4, 0, 6, 0, 0, 0, 2, 8, 12,               // scores
                          0, 5, 0, 5, 0, 0, 0, 2, 0x01};               // flags
  EXPECT_EQ(written(r), expected);
}

TEST(BlockRecord, RoundTripWithExtensions) {
  auto r = make(40, {&kType2, &kType4});
  const Bytes b = written(r.get());
  auto back = parsed(b);
  ASSERT_EQ(back->point_count, 40);
  EXPECT_EQ(back->extension_type_count, 2);
  EXPECT_EQ(back->extension_flags, 0x6);
  EXPECT_EQ(back->width, 280);
  EXPECT_EQ(back->resolution_x, 0);  // not stored
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(back->points[i].x, r->points[i].x);
    EXPECT_EQ(back->points[i].y, r->points[i].y);
    EXPECT_EQ(back->points[i].angle, r->points[i].angle);
    EXPECT_EQ(back->points[i].score, r->points[i].score);
    EXPECT_EQ(back->points[i].cls, r->points[i].cls);
    EXPECT_EQ(back->points[i].spare, r->points[i].spare ? 1 : 0);
  }
  EXPECT_EQ(std::memcmp(back->extension_arrays[1], r->extension_arrays[1], 40 * 16), 0);
  EXPECT_EQ(written(back.get()), b);
}

TEST(BlockRecord, CoordinateFormAndBlockCuts) {
  // Largest coordinate 255: 8-bit point blocks; one at 256 switches all.
  auto small = make(3, {}, 255);
  small->points[0].x = 255;
  EXPECT_EQ(block_types(written(small.get()))[2], 1);
  small->points[0].x = 256;
  const Bytes wide = written(small.get());
  for (int t : block_types(wide))
    EXPECT_NE(t, 1);
  EXPECT_EQ(parsed(wide)->points[0].x, 256);

  // 40 points of one type, no extensions: one point block.
  auto one = make(40, {});
  for (int i = 0; i < 40; ++i) one->points[i].cls = 3;
  blockrec_count_types(one.get());
  EXPECT_EQ(block_types(written(one.get())), (std::vector<int>{0x1234, 6, 1, 4, 5}));

  // A 250-byte extension: 253-byte entries, at most 129 points a block.
  auto big = make(300, {&kWide});
  for (int i = 0; i < 300; ++i) big->points[i].cls = 1;
  blockrec_count_types(big.get());
  const Bytes b = written(big.get());
  EXPECT_EQ(block_types(b), (std::vector<int>{0x1234, 6, 1, 1, 1, 4, 5}));
  EXPECT_EQ(b[2 + 12 + 12 + 4 + 3] << 8 | b[2 + 12 + 12 + 4 + 4], 129);  // first block's count
  auto back = parsed(b);
  EXPECT_EQ(back->point_count, 300);
  EXPECT_EQ(back->extension_arrays[0][299 * 250 + 7], static_cast<uint8_t>(299 + 7));
}

TEST(BlockRecord, KeepBestDropsLowestScoresEarliestFirst) {
  struct Case {
    int limit;
    std::vector<int> kept_scores;
  };
  const Case cases[] = {{7, {2, 3, 4, 5, 6, 7, 8}}, {8, {2, 2, 3, 4, 5, 6, 7, 8}}};
  const int scores[] = {1, 2, 2, 2, 3, 4, 5, 6, 7, 8};
  for (const Case& c : cases) {
    auto r = make(10, {});
    for (int i = 0; i < 10; ++i) {
      r->points[i].score = static_cast<uint8_t>(scores[i]);
      r->points[i].cls = 1;
      r->points[i].x = static_cast<int16_t>(i);
    }
    blockrec_count_types(r.get());
    auto back = parsed(written(r.get()), 0, c.limit);
    ASSERT_EQ(back->point_count, c.limit);
    std::vector<int> got;
    for (int i = 0; i < back->point_count; ++i) got.push_back(back->points[i].score);
    EXPECT_EQ(got, c.kept_scores);
    // The later points of the threshold score survive.
    EXPECT_EQ(back->points[0].x, 10 - c.limit);
  }
}

TEST(BlockRecord, SkipFlagAndUnfilledPoints) {
  auto r = make(10, {});
  for (int i = 0; i < 10; ++i) r->points[i].cls = static_cast<uint8_t>(i < 4 ? 2 : 5);
  blockrec_count_types(r.get());
  Bytes b = written(r.get());
  EXPECT_EQ(parsed(b, 1)->point_count, 4);  // the type-5 block is skipped
  EXPECT_EQ(parsed(b, 0)->point_count, 10);
  // A header that promises more points than the blocks fill.
  b[2 + 10] = 0;
  b[2 + 11] = 12;
  EXPECT_EQ(parsed(b)->point_count, 10);
}

TEST(BlockRecord, RejectsBadStoredForms) {
  auto r = make(4, {&kType2});
  const Bytes good = written(r.get());
  struct Case {
    const char* what;
    Bytes bytes;
    int status;
  };
  auto edit = [&](std::size_t at, uint8_t v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  const std::size_t ext = 2 + 12;      // extension list block
  const std::size_t pts = ext + 4 + 8;  // first point block
  const Case cases[] = {
      {"version 5", edit(1, 5), ML_WRONG_KIND},
      {"one byte", Bytes{0}, ML_TOO_SHORT},
      {"header body of 7", Bytes{0, 6, 0x12, 0x34, 0, 7, 0, 0, 0, 0, 0, 0, 0}, ML_TOO_SHORT},
      {"chain does not fill", Bytes(good.begin(), good.end() - 1), ML_CORRUPT},
      {"unknown extension id", edit(ext + 5, 0x40), ML_CORRUPT},
      {"wrong pattern id", edit(ext + 10, 0), ML_CORRUPT},
      {"wrong element size", edit(ext + 7, 8), ML_CORRUPT},
      {"point range past the count", edit(pts + 6, 3), ML_CORRUPT},
      {"extension list before header",
       Bytes{0, 6, 0, 6, 0, 1, 0, 0x12, 0x34, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0}, ML_CORRUPT},
      {"two headers",
       Bytes{0, 6, 0x12, 0x34, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0},
       ML_CORRUPT},
  };
  for (const Case& c : cases) {
    int status = -1;
    auto out = parsed(c.bytes, 0, 0, &status);
    EXPECT_EQ(status, c.status) << c.what;
    EXPECT_EQ(out, nullptr) << c.what;
  }
  BlockRecord* out = reinterpret_cast<BlockRecord*>(1);
  EXPECT_EQ(blockrec_parse(nullptr, 5, 0, 0, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  // The library's own reader knows no descriptor type until that part is
  // built; records without extensions read all the same.
  auto plain = make(4, {});
  const Bytes p = written(plain.get());
  ASSERT_EQ(blockrec_parse(p.data(), static_cast<uint32_t>(p.size()), 0, 0, &out), ML_OK);
  blockrec_free(out);
}

// Every cut of a stored record: a cut inside a block is refused by both
// readers; a cut between blocks is a shorter, complete record.
TEST(BlockRecord, RejectsEveryCutInsideABlock) {
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "16-bit points" : "8-bit points");
    auto r = make(12, {&kType2, &kType4}, wide ? 300 : 200);
    const Bytes b = written(r.get());
    std::set<std::size_t> boundaries = {0};  // the empty input answers as too short
    for (std::size_t p = 2; p + 4 <= b.size(); p += 4 + (b[p + 2] << 8 | b[p + 3]))
      boundaries.insert(p);
    zyl::test::for_each_prefix(b, [&](std::span<const std::uint8_t> cut) {
      BlockRecord* back = nullptr;
      const int status = blockrec_parse_with(cut, 0, 0, kKnown, &back);
      uint8_t* pairs = nullptr;
      int count = 0;
      const int points_status =
          blockrec_read_points(cut.data(), static_cast<uint32_t>(cut.size()), &pairs, &count);
      if (!boundaries.count(cut.size()) && cut.size() > 2) {
        EXPECT_NE(status, ML_OK);
        EXPECT_EQ(back, nullptr);
        EXPECT_NE(points_status, ML_OK);
      }
      blockrec_free(back);
      std::free(pairs);
    });
  }
}

TEST(BlockRecord, ExtensionStringRefusesEveryCut) {
  auto r = make(6, {&kType2, &kType4});
  uint8_t* ext = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(blockrec_write_extensions(r.get(), &ext, &size), ML_OK);
  const Bytes b(ext, ext + size);
  std::free(ext);
  zyl::test::for_each_prefix(b, [&](std::span<const std::uint8_t> cut) {
    auto bare = make(6, {});
    const int status = blockrec_read_extensions_with(bare.get(), cut, kKnown);
    // A cut at a block boundary leaves fewer types, which is a shorter
    // complete string; inside a block it is refused.
    if (status == ML_OK) {
      EXPECT_LT(bare->extension_type_count, 2);
    }
  });
}

TEST(BlockRecord, ReadPointsGivesScoreAndAngle) {
  auto r = make(20, {&kType2}, 300);
  const Bytes b = written(r.get());
  uint8_t* pairs = nullptr;
  int count = 0;
  ASSERT_EQ(blockrec_read_points(b.data(), static_cast<uint32_t>(b.size()), &pairs, &count), ML_OK);
  ASSERT_EQ(count, 20);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(pairs[2 * i], r->points[i].score);
    EXPECT_EQ(pairs[2 * i + 1], r->points[i].angle);
  }
  std::free(pairs);
  EXPECT_EQ(blockrec_read_points(b.data(), 1, &pairs, &count), ML_TOO_SHORT);
  Bytes old = b;
  old[1] = 5;
  EXPECT_EQ(blockrec_read_points(old.data(), static_cast<uint32_t>(old.size()), &pairs, &count), ML_WRONG_KIND);
  EXPECT_EQ(pairs, nullptr);
}

TEST(BlockRecord, ExtensionStringRoundTripWithSeveralTypes) {
  auto r = make(6, {&kType2, &kType4});
  uint8_t* ext = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(blockrec_write_extensions(r.get(), &ext, &size), ML_OK);
  EXPECT_EQ(size, 1u + 2 * (14 + 6 * 16));
  EXPECT_EQ(ext[0], 2);
  EXPECT_EQ(Bytes(ext + 1, ext + 15),
            (Bytes{0, 9, 0, 0, 0, 110, 0, 0, 2, 16, 0x47, 0xA1, 0x2F, 0x37}));
  // Into a record of the same points without extensions.
  uint8_t* copy = nullptr;
  uint32_t copy_size = 0;
  ASSERT_EQ(blockrec_write_copy(r.get(), &copy, &copy_size), ML_OK);
  auto bare = parsed(Bytes(copy, copy + copy_size));
  EXPECT_EQ(bare->extension_type_count, 0);
  ASSERT_EQ(blockrec_read_extensions_with(bare.get(), {ext, size}, kKnown), ML_OK);
  EXPECT_EQ(bare->extension_type_count, 2);
  EXPECT_EQ(bare->extension_bytes_per_point, 32);
  EXPECT_EQ(std::memcmp(bare->extension_arrays[1], r->extension_arrays[1], 6 * 16), 0);
  // A block too short for its points is refused.
  EXPECT_EQ(blockrec_read_extensions_with(bare.get(), {ext, size - 1}, kKnown), ML_CORRUPT);
  Bytes cut(ext, ext + size);
  cut[5] -= 1;       // first block's total length one shorter
  cut.erase(cut.begin() + 14 + 6 * 16);
  EXPECT_NE(blockrec_read_extensions_with(bare.get(), cut, kKnown), ML_OK);
  EXPECT_EQ(bare->extension_type_count, 0);
  std::free(copy);
  std::free(ext);
}

TEST(BlockRecord, CropDiscKeepsPointsInsideTheRadius) {
  auto r = make(3, {});
  r->points[0] = {10, 10, 0, 0, 1, 0};
  r->points[1] = {13, 14, 0, 0, 1, 0};  // distance 5: on the rim, kept
  r->points[2] = {14, 14, 0, 0, 1, 0};
  blockrec_count_types(r.get());
  const Bytes b = written(r.get());
  DataBlob* blob = blob_create(79, b.data(), static_cast<uint32_t>(b.size()));
  uint8_t* out = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(blockrec_crop_disc(blob, 10, 10, 5, &out, &size), ML_OK);
  auto back = parsed(Bytes(out, out + size));
  EXPECT_EQ(back->point_count, 2);
  std::free(out);
  blob_release(blob);
  DataBlob* other = blob_create(77, b.data(), 4);
  EXPECT_EQ(blockrec_crop_disc(other, 0, 0, 1, &out, &size), ML_UNAVAILABLE);
  blob_release(other);
  EXPECT_EQ(blockrec_absent(), ML_NOT_FOUND);
}

TEST(BlockRecord, CompactMovesExtensionElementsAlong) {
  auto r = make(4, {&kType2});
  r->points[1].cls = 0;
  blockrec_compact(r.get());
  ASSERT_EQ(r->point_count, 3);
  EXPECT_EQ(r->extension_arrays[0][16], 2);  // point 2's first byte (2 + 0 + 0)
  auto other = make(4, {&kType2});
  blockrec_copy_point_extensions(r.get(), other.get(), 0, 3);
  EXPECT_EQ(r->extension_arrays[0][0], 3);
  blockrec_copy_point_extensions(r.get(), other.get(), 9, 3);  // out of range: nothing
}

}  // namespace

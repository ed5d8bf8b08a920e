// Stage match pairs of the card and grid stages: the grid-map histogram
// comparison over two templates and the three fusions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/pgm.h"
#include "support/tlv_bytes.h"
#include "zylscan/matchlib_bandgrid.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_stage_pairs.h"
#include "zylscan/matchlib_xform.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes el(uint16_t tag, const Bytes& value) {
  Bytes out;
  if (tag > 0xFF) out.push_back(static_cast<uint8_t>(tag >> 8));
  out.push_back(static_cast<uint8_t>(tag));
  out.push_back(static_cast<uint8_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

// An extended card template whose block maps have the given cells.
DataBlob* card_with_maps(uint8_t rows, uint8_t columns, uint8_t first_value) {
  Bytes c1 = {8, 0, rows, 0, columns};
  for (int i = 0; i < rows * columns; ++i) {
    c1.push_back(static_cast<uint8_t>(20 * i));
    c1.push_back(static_cast<uint8_t>(first_value + 9 * i));
  }
  Bytes a2 = el(0xC1, c1);
  const Bytes c3 = el(0xC3, {1, 0, 1, 0, 1, 50});
  a2.insert(a2.end(), c3.begin(), c3.end());
  Bytes body = el(0xA1, el(0x90, {10, 20, 0x41}));
  const Bytes a2e = el(0xA2, a2);
  body.insert(body.end(), a2e.begin(), a2e.end());
  const Bytes t = el(0x7F2E, body);
  return blob_create(67, t.data(), static_cast<uint32_t>(t.size()));
}

struct Outcome {
  int status;
  std::vector<uint16_t> v;
};

Outcome run(DataBlob* a, DataBlob* b) {
  uint16_t* scores = nullptr;
  uint16_t count = 0;
  Outcome r;
  r.status = match_gridmap_histogram(nullptr, a, b, &scores, &count, nullptr);
  if (scores) r.v.assign(scores, scores + count);
  std::free(scores);
  return r;
}

TEST(StagePairs, GridmapHistogramOfTwoTemplates) {
  DataBlob* a = card_with_maps(2, 3, 60);
  DataBlob* same = card_with_maps(2, 3, 60);
  DataBlob* other_size = card_with_maps(2, 2, 60);
  const Outcome r = run(a, same);
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_EQ(r.v, (std::vector<uint16_t>{6, 0, 300}));  // every cell shared; equal lengths
  const Outcome d = run(a, other_size);
  ASSERT_EQ(d.status, ML_OK);
  ASSERT_EQ(d.v.size(), 3u);
  EXPECT_EQ(d.v[2], 0);  // expanded lengths differ
  EXPECT_LE(d.v[0], 4);

  const Bytes plain = el(0x7F2E, el(0xA1, el(0x90, {10, 20, 0x41})));
  DataBlob* no_section = blob_create(67, plain.data(), static_cast<uint32_t>(plain.size()));
  const Outcome n = run(a, no_section);
  EXPECT_NE(n.status, ML_OK);
  EXPECT_TRUE(n.v.empty());
  blob_release(a);
  blob_release(same);
  blob_release(other_size);
  blob_release(no_section);
}

// A grid map of rows x columns cells with a coded detail layer, stored in
// the long compact form: 00 00, base length, base (cell size, origins,
// rows, columns, 2 bytes a cell), then layer type 2 holding two streams.
// The first stream is `stream_bytes` zero bytes, the second is empty; zero
// bits decode to zero differences and a short stream is padded with zeros,
// so every stream size expands to the same map of 10 + 20 x cells bytes.
Bytes compact_gridmap(uint8_t rows, uint8_t columns, uint16_t stream_bytes) {
  const int n = rows * columns;
  const int base_length = 2 * n + 5, layer_length = 4 + stream_bytes;
  const auto hi = [](int v) { return static_cast<uint8_t>(v >> 8); };
  const auto lo = [](int v) { return static_cast<uint8_t>(v); };
  Bytes out = {0, 0, hi(base_length), lo(base_length), 8, 0, rows, 0, columns};
  for (int i = 0; i < n; ++i) {
    out.push_back(static_cast<uint8_t>(20 * i));
    out.push_back(static_cast<uint8_t>(60 + 9 * i));  // every cell valid
  }
  out.insert(out.end(), {2, hi(layer_length), lo(layer_length)});
  out.insert(out.end(), {hi(stream_bytes), lo(stream_bytes)});
  out.insert(out.end(), stream_bytes, 0);
  out.insert(out.end(), {0, 0});
  return out;
}

// The same map already expanded, as a template may store it.
Bytes expanded_gridmap(uint8_t rows, uint8_t columns) {
  const Bytes c = compact_gridmap(rows, columns, 0);
  uint8_t* map = nullptr;
  uint32_t size = 0;
  int vo, ho, r, cols;
  EXPECT_EQ(gridmap_from_compact(c.data(), static_cast<uint32_t>(c.size()), &map, &size, &vo, &ho,
                                 &r, &cols, 0, nullptr, nullptr),
            ML_OK);
  Bytes out(map, map + size);
  std::free(map);
  return out;
}

DataBlob* gridmap_template(const Bytes& section) {
  return container_put_entry(nullptr, 66, section.data(), static_cast<uint32_t>(section.size()));
}

TEST(StagePairs, GridmapHistogramThirdValueFromStoredLengths) {
  // Equal expansions, stored lengths apart by d: the third value is
  // 300 - d, and 0 (not a wrapped 16-bit value) once d reaches 300.
  // A compact map of n cells with empty streams stores 2n + 16 bytes and
  // expands to 20n + 10.
  constexpr int kExpanded = -1;
  struct Row {
    uint8_t rows, columns;
    int a, b;  // stream bytes of a compact form, or kExpanded
    int difference;
    uint16_t third;
  };
  const Row table[] = {
      {2, 2, 0, 8, 8, 292},             // two compact forms
      {2, 2, 0, kExpanded, 66, 234},    // compact against expanded
      {1, 17, 1, kExpanded, 299, 1},
      {1, 17, 0, kExpanded, 300, 0},
      {2, 9, 17, kExpanded, 301, 0},    // 300 - 301 would wrap to 65535
      {4, 5, kExpanded, 0, 354, 0},     // the longer one as probe
      {4, 5, 400, 0, 400, 0},           // two compact forms far apart
  };
  for (const Row& row : table) {
    const auto section = [&](int form) {
      if (form == kExpanded) return expanded_gridmap(row.rows, row.columns);
      return compact_gridmap(row.rows, row.columns, static_cast<uint16_t>(form));
    };
    const Bytes sa = section(row.a), sb = section(row.b);
    ASSERT_EQ(std::abs(static_cast<int>(sa.size()) - static_cast<int>(sb.size())), row.difference)
        << row.a << " " << row.b;
    DataBlob* a = gridmap_template(sa);
    DataBlob* b = gridmap_template(sb);
    const Outcome r = run(a, b);
    ASSERT_EQ(r.status, ML_OK) << row.difference;
    const uint16_t cells = row.rows * row.columns;
    EXPECT_EQ(r.v, (std::vector<uint16_t>{cells, 0, row.third})) << row.difference;
    uint16_t fused = 0;
    EXPECT_EQ(fuse_weighted_three(nullptr, nullptr, nullptr, r.v.data(), 3, nullptr, &fused),
              ML_OK);
    EXPECT_EQ(fused, 2 * cells + 3 * row.third) << row.difference;
    blob_release(a);
    blob_release(b);
  }
}

TEST(StagePairs, Fusions) {
  uint16_t score = 99;
  const uint16_t two[2] = {5, 7}, three[3] = {1, 2, 3}, big[3] = {65535, 65535, 65535};
  EXPECT_EQ(fuse_weighted_three(nullptr, nullptr, nullptr, two, 2, nullptr, &score), ML_CORRUPT);
  EXPECT_EQ(score, 0);
  EXPECT_EQ(fuse_weighted_three(nullptr, nullptr, nullptr, three, 3, nullptr, &score), ML_OK);
  EXPECT_EQ(score, 17);
  EXPECT_EQ(fuse_weighted_three(nullptr, nullptr, nullptr, big, 3, nullptr, &score), ML_OK);
  EXPECT_EQ(score, 65535);  // saturates instead of wrapping

  EXPECT_EQ(fuse_first(nullptr, nullptr, nullptr, two + 1, 1, nullptr, &score), ML_OK);
  EXPECT_EQ(score, 7);

  ScoreProfile pass{};
  pass.model = ScoreModel{nullptr, -1, score_model_eval_pass, nullptr};
  score = 99;
  EXPECT_EQ(fuse_two_with_profile(nullptr, nullptr, nullptr, two, 2, nullptr, &score), ML_CORRUPT);
  EXPECT_EQ(score, 0);
  EXPECT_EQ(fuse_two_with_profile(nullptr, nullptr, nullptr, three, 3, &pass, &score), ML_CORRUPT);
  EXPECT_EQ(fuse_two_with_profile(nullptr, nullptr, nullptr, two, 2, &pass, &score), ML_OK);
  EXPECT_EQ(score, 5);
}

}  // namespace

namespace {

TEST(StagePairs, KeypointsThenGridblockPassesFailuresThrough) {
  // Templates without keypoint sections: the keypoint matcher's status
  // comes back with no vector and no transform, and the incoming
  // transform is released (the leak checker sees it otherwise).
  const std::vector<uint8_t> junk = {1, 2, 3, 4};
  DataBlob* a = blob_create(79, junk.data(), 4);
  DataBlob* b = blob_create(79, junk.data(), 4);
  RigidTransform* t = xform_create(1, 2, 3);
  uint16_t* v = reinterpret_cast<uint16_t*>(&t);  // any non-null value
  uint16_t n = 7;
  const int st = match_keypoints_then_gridblock(nullptr, a, b, &v, &n, &t);
  EXPECT_NE(st, ML_OK);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(t, nullptr);
  blob_release(a);
  blob_release(b);
}

}  // namespace

namespace {

TEST(StagePairs, TableOfFourPairs) {
  struct Row {
    StageMatchRoutine match;
    StageFuseRoutine fuse;
  };
  const Row rows[STAGE_PAIR_COUNT] = {
      {match_gridmap_histogram, fuse_weighted_three},
      {match_keypoints_then_gridblock, fuse_two_with_profile},
      {match_card_then_gridblock, fuse_first},
      {match_keypoints_then_gridblock, fuse_first},
  };
  for (int pair = 1; pair <= STAGE_PAIR_COUNT; ++pair) {
    const StageMatchOps* ops = stage_pair_ops(pair);
    ASSERT_NE(ops, nullptr);
    EXPECT_EQ(ops->match, rows[pair - 1].match) << pair;
    EXPECT_EQ(ops->fuse, rows[pair - 1].fuse) << pair;
  }
  EXPECT_EQ(stage_pair_ops(0), nullptr);
  EXPECT_EQ(stage_pair_ops(STAGE_PAIR_COUNT + 1), nullptr);
}

TEST(StagePairs, CardThenGridblockPassesFailuresThrough) {
  // Card templates without grid-block sections: the card-and-grid matcher
  // has no grid map and fails; its status comes back with nothing handed
  // out and the incoming transform released.
  DataBlob* a = card_with_maps(2, 3, 60);
  DataBlob* b = card_with_maps(2, 3, 60);
  for (bool with_transform : {true, false}) {
    RigidTransform* t = with_transform ? xform_create(1, 2, 3) : nullptr;
    uint16_t* v = nullptr;
    uint16_t n = 7;
    const int st = match_card_then_gridblock(nullptr, a, b, &v, &n, with_transform ? &t : nullptr);
    EXPECT_NE(st, ML_OK);
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(t, nullptr);
  }
  EXPECT_EQ(match_card_then_gridblock(nullptr, a, b, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
  blob_release(a);
  blob_release(b);
}

}  // namespace

namespace {

// A real print's template holding the sections both two-step pairs read:
// an extended card (67: the card, its grid map in the short compact form
// the card-and-grid matcher expands (cell size, vertical origin, rows,
// horizontal origin, columns, cells) and image information of quality 80),
// the grid block (77) and the keypoints (79).
DataBlob* composite(MatchContext* ctx, const char* name) {
  const zyl::test::GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
  GrayImage* image = image_create(g.height, g.width, 500, 500, g.pixels.data(), 0);
  const auto section = [&](StageExtractRoutine extract, int32_t format) {
    DataBlob* blob = nullptr;
    EXPECT_EQ(extract(ctx, image, nullptr, format, &blob), ML_OK) << name << " " << format;
    Bytes bytes;
    if (blob) bytes.assign(blob_data(blob), blob_data(blob) + blob_size(blob));
    blob_release(blob);
    return bytes;
  };
  const Bytes card = section(card_extract_d, 2);
  const Bytes map = section(stage_extract_gridmap250, 66);
  Bytes compact;
  if (map.size() > 10) {
    const int columns = map[6], rows = map[7];
    compact = {map[3], 0, static_cast<uint8_t>(rows), 0, static_cast<uint8_t>(columns)};
    compact.insert(compact.end(), map.begin() + 10, map.begin() + 10 + 2 * rows * columns);
  }
  const Bytes extended = zyl::test::el(
      0xE1, zyl::test::cat({card, zyl::test::el(0xC1, compact), zyl::test::el(0xC3, {1, 160, 0, 160, 0, 80})}));
  struct Part {
    int32_t format;
    Bytes bytes;
  };
  const Part parts[] = {{67, extended},
                        {77, section(gridext_extract, 77)},
                        {79, section(keypoint_stage_extract, 79)}};
  DataBlob* all = nullptr;
  for (const Part& p : parts) {
    DataBlob* next =
        container_put_entry(all, p.format, p.bytes.data(), static_cast<uint32_t>(p.bytes.size()));
    blob_release(all);
    all = next;
  }
  image_release(image);
  return all;
}

struct PairRun {
  int status;
  std::vector<uint16_t> v;
  bool transform;
};

PairRun run_pair(StageMatchRoutine match, MatchContext* ctx, DataBlob* a, DataBlob* b) {
  uint16_t* scores = nullptr;
  uint16_t count = 0;
  RigidTransform* t = nullptr;
  PairRun r{match(ctx, a, b, &scores, &count, &t), {}, t != nullptr};
  if (scores) r.v.assign(scores, scores + count);
  std::free(scores);
  xform_release(t);
  return r;
}

TEST(StagePairsPrints, TwoStepPairsOnRealPrints) {
  MatchContext* ctx = ctx_create();
  DataBlob* a = composite(ctx, "fvc2004_102_1.pgm");
  DataBlob* b = composite(ctx, "fvc2004_102_2.pgm");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);

  // The first matcher's alignment feeds the refinement; the vectors carry
  // the refinement's first value (and the keypoint score).
  RigidTransform* t = nullptr;
  uint16_t* kp = nullptr;
  uint16_t nkp = 0;
  ASSERT_EQ(match_keypoints(ctx, a, b, &kp, &nkp, &t), ML_OK);
  uint16_t* grid = nullptr;
  uint16_t ngrid = 0;
  ASSERT_EQ(match_gridblock_refine(ctx, a, b, &grid, &ngrid, &t), ML_OK);
  const PairRun k = run_pair(match_keypoints_then_gridblock, ctx, a, b);
  ASSERT_EQ(k.status, ML_OK);
  EXPECT_EQ(k.v, (std::vector<uint16_t>{grid[0], kp[0]}));
  EXPECT_TRUE(k.transform);
  std::free(kp);
  std::free(grid);
  xform_release(t);

  t = nullptr;
  uint16_t* card = nullptr;
  uint16_t ncard = 0;
  ASSERT_EQ(match_card_grid(ctx, a, b, &card, &ncard, &t), ML_OK);
  ASSERT_EQ(match_gridblock_refine(ctx, a, b, &grid, &ngrid, &t), ML_OK);
  const PairRun c = run_pair(match_card_then_gridblock, ctx, a, b);
  ASSERT_EQ(c.status, ML_OK);
  EXPECT_EQ(c.v, (std::vector<uint16_t>{grid[0]}));
  EXPECT_TRUE(c.transform);
  std::free(card);
  std::free(grid);
  xform_release(t);

  // The print against itself refines at least as well as the genuine pair.
  const PairRun self = run_pair(match_card_then_gridblock, ctx, a, a);
  ASSERT_EQ(self.status, ML_OK);
  EXPECT_GE(self.v[0], c.v[0]);
  EXPECT_GT(self.v[0], 0);

  blob_release(a);
  blob_release(b);
  ctx_release(ctx);
}

}  // namespace

// Stage match pairs of the card and grid stages: the grid-map histogram
// comparison over two templates and the three fusions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "zylscan/matchlib_blob.h"
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

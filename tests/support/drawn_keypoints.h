// Drawn keypoint records for the matcher tests: a pair of type-0x10
// records whose second is the first shifted by (6, -4) pixels, as format-79
// blobs.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_descriptor_type.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {

struct KeypointBlobDeleter {
  void operator()(DataBlob* b) const { blob_release(b); }
};
using KeypointBlob = std::unique_ptr<DataBlob, KeypointBlobDeleter>;

// A turned-and-shifted pair of drawn type-0x10 records as format-79 blobs.
inline KeypointBlob blob_of(const std::vector<KeyPoint>& pts, const std::vector<std::uint64_t>& desc) {
  const DescriptorType* types[11] = {};
  desc_types_select(types, 0x10);
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(200, 200, static_cast<int>(pts.size()) + 1, types, &r), ML_OK);
  std::unique_ptr<BlockRecord, decltype(&blockrec_free)> rec(r, blockrec_free);
  for (std::size_t k = 0; k < pts.size(); ++k) {
    r->points[k] = pts[k];
    types[0]->put(reinterpret_cast<const std::uint8_t*>(&desc[k]), r->extension_arrays[0], static_cast<int>(k));
  }
  r->point_count = static_cast<int>(pts.size());
  blockrec_count_types(r);
  DataBlob* out = nullptr;
  EXPECT_EQ(blockrec_to_blob(r, &out), ML_OK);
  return KeypointBlob(out);
}

struct Drawn {
  std::vector<KeyPoint> a, b;
  std::vector<std::uint64_t> desc;
};

inline Drawn drawn_pair(std::uint32_t seed, int n) {
  std::mt19937 rng(seed);
  Drawn d;
  for (int k = 0; k < n; ++k) {
    const auto x = static_cast<std::int16_t>(40 + rng() % 120), y = static_cast<std::int16_t>(40 + rng() % 120);
    const auto angle = static_cast<std::uint8_t>(rng());
    d.a.push_back({x, y, angle, static_cast<std::uint8_t>(rng()), 1, 0});
    d.b.push_back({static_cast<std::int16_t>(x + 6), static_cast<std::int16_t>(y - 4), angle, d.a.back().score, 1, 0});
    d.desc.push_back((std::uint64_t{rng()} << 32) | rng());
  }
  return d;
}

}  // namespace zyl::test

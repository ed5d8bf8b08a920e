// The one-to-many Hamming kernels (fixed word counts, hardware bit count
// where the processor has one) against the plain form they replace.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/keypoint/hamming_match.h"

namespace {

TEST(HammingToMany, KernelsMatchPlainFormOnRandomDescriptors) {
  std::mt19937 rng(46);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int words : {1, 2, 4}) {
    const std::size_t stride = words == 4 ? 32 : 16;
    for (int trial = 0; trial < 200; ++trial) {
      const int count = trial % 70;
      std::vector<std::uint8_t> probe(32), gallery(stride * (count + 1));
      // Some descriptors near the probe or its complement, so that small and
      // large distances (and the 255 saturation of four words) occur.
      for (auto& b : probe) b = static_cast<std::uint8_t>(byte(rng));
      for (std::size_t k = 0; k < gallery.size(); ++k) {
        const int kind = static_cast<int>(k / stride) % 3;
        const std::uint8_t p = probe[k % stride % 32];
        gallery[k] = static_cast<std::uint8_t>(kind == 0   ? byte(rng)
                                               : kind == 1 ? p ^ (byte(rng) & byte(rng) & 0x11)
                                                           : ~p);
      }
      for (int invert : {0, 1})
        for (int swap : {0, 1}) {
          std::vector<std::uint8_t> got(count + 1, 0xEE), want(count + 1, 0xEE);
          zyl::matchlib::hamming_to_many(probe.data(), gallery.data(), stride, words, count, invert,
                                         swap, got.data());
          zyl::matchlib::hamming_to_many_reference(probe.data(), gallery.data(), stride, words,
                                                   count, invert, swap, want.data());
          ASSERT_EQ(got, want) << "words " << words << " count " << count << " invert " << invert
                               << " swap " << swap;
        }
    }
  }
}

TEST(HammingToMany, FourWordDistancesSaturateAt255) {
  std::vector<std::uint8_t> probe(32, 0x00), gallery(64, 0xFF);
  gallery[32] = 0x00;  // second descriptor: 248 bits differ
  std::uint8_t out[2] = {};
  zyl::matchlib::hamming_to_many(probe.data(), gallery.data(), 32, 4, 2, 0, 0, out);
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[1], 248);
}

}  // namespace

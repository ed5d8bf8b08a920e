// The one-to-many Hamming kernels (fixed word counts, hardware bit count
// where the processor has one) and the one-pass list matching, against the
// plain forms they replace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/keypoint/hamming_match.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_descriptor_type.h"
#include "zylscan/matchlib_object.h"

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

const DescriptorType* type_of(std::uint32_t id) {
  const DescriptorType* list[11];
  desc_types_select(list, id);
  return list[0];
}

struct Bests {
  std::vector<std::uint16_t> pb, gb;
  std::vector<std::int16_t> pm, gm;
  MatchBests m;
  Bests(int np, int ng) : pb(np, 0xffff), gb(ng, 0xffff), pm(np, -1), gm(ng, -1) {
    m = {pb.data(), gb.data(), pm.data(), gm.data()};
  }
};

// The list matching as it was: per run of 64 gallery points, each
// extension's distances by the plain kernel, summed with saturation, then
// the bests lowered.
void reference_lists(std::uint32_t probe, std::uint32_t start, std::uint32_t count, int invert,
                     int swap, int words, const std::vector<const std::uint8_t*>& a,
                     const std::vector<const std::uint8_t*>& b, MatchBests& bests) {
  for (std::uint32_t done = 0; done < count; done += 64) {
    const std::uint32_t n = std::min<std::uint32_t>(64, count - done), s = start + done;
    std::vector<int> d(n, 0);
    std::vector<std::uint8_t> part(n);
    for (std::size_t e = 0; e < a.size(); ++e) {
      zyl::matchlib::hamming_to_many_reference(a[e] + 16 * probe, b[e] + 16 * s, 16, words,
                                               static_cast<int>(n), invert, swap, part.data());
      for (std::uint32_t k = 0; k < n; ++k) d[k] = std::min(d[k] + part[k], 255);
    }
    zyl::matchlib::update_bests(bests, probe, s, d, true);
  }
}

TEST(HammingToMany, OnePassListMatchingEqualsPerExtensionForm) {
  std::mt19937 rng(464);
  const std::vector<std::uint32_t> ids = {0x2, 0x20, 0x200};
  for (int trial = 0; trial < 120; ++trial) {
    const int extensions = 1 + trial % 3, np = 5, ng = 1 + static_cast<int>(rng() % 150);
    std::vector<const DescriptorType*> types;
    for (int e = 0; e < extensions; ++e) types.push_back(type_of(ids[e]));
    types.push_back(nullptr);
    BlockRecord* a = nullptr;
    BlockRecord* b = nullptr;
    ASSERT_EQ(blockrec_create(100, 100, np, types.data(), &a), ML_OK);
    ASSERT_EQ(blockrec_create(100, 100, ng, types.data(), &b), ML_OK);
    a->point_count = np;
    b->point_count = ng;
    std::vector<const std::uint8_t*> pa, pb;
    for (int e = 0; e < extensions; ++e) {
      // Near copies of a few patterns, so that ties and small distances occur.
      for (int k = 0; k < 16 * np; ++k) a->extension_arrays[e][k] = static_cast<std::uint8_t>(rng() % 4 ? 0x5A : rng());
      // Some gallery points near the complement: sums past 255 saturate.
      for (int k = 0; k < 16 * ng; ++k)
        b->extension_arrays[e][k] = static_cast<std::uint8_t>(rng() % 4 ? ((k / 16) % 3 ? 0x5A : 0xA5) : rng());
      pa.push_back(a->extension_arrays[e]);
      pb.push_back(b->extension_arrays[e]);
    }
    const int mode = trial % 2 ? 64 : (trial % 4 ? 0 : 0x80);
    const int words = mode == 64 ? 1 : 2;
    const int invert = extensions == 1 ? static_cast<int>(rng() % 2) : 0;
    const int swap = invert ? static_cast<int>(rng() % 2) : 0;
    Bests got(np, ng), want(np, ng);
    for (std::uint32_t probe = 0; probe < static_cast<std::uint32_t>(np); ++probe) {
      const std::uint32_t start = probe % 2 ? 1 % ng : 0, count = static_cast<std::uint32_t>(ng) - start;
      ASSERT_EQ(zyl::matchlib::desc_match_lists(probe, start, count, invert, swap, mode, a, b, &got.m), ML_OK);
      reference_lists(probe, start, count, invert, swap, words, pa, pb, want.m);
    }
    EXPECT_EQ(got.pb, want.pb) << "trial " << trial;
    EXPECT_EQ(got.pm, want.pm) << "trial " << trial;
    EXPECT_EQ(got.gb, want.gb) << "trial " << trial;
    EXPECT_EQ(got.gm, want.gm) << "trial " << trial;
    blockrec_free(a);
    blockrec_free(b);
  }
}

}  // namespace

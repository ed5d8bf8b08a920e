#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_descriptor_type.h"
#include "zylscan/matchlib_object.h"

namespace {

std::vector<std::uint32_t> ids(std::uint32_t flags) {
  const DescriptorType* list[11];
  std::fill(std::begin(list), std::end(list), reinterpret_cast<const DescriptorType*>(1));
  const int n = desc_types_select(list, flags);
  EXPECT_EQ(list[n], nullptr);
  std::vector<std::uint32_t> out;
  for (int k = 0; k < n; ++k) out.push_back(list[k]->type_id);
  return out;
}

TEST(DescriptorTypes, SelectsInFixedOrder) {
  struct Case {
    std::uint32_t flags;
    std::vector<std::uint32_t> want;
  };
  const Case cases[] = {
      {0, {}},
      {2, {0x2}},
      {6, {0x4, 0x2}},
      {16, {0x10}},
      {0x12, {0x10, 0x2}},
      {0x1, {}},
      {0xFFFFFFFFu, {0x10, 0x8, 0x4, 0x2, 0x20, 0x200, 0x400, 0x800, 0x1000, 0x2000}},
  };
  for (const Case& c : cases) EXPECT_EQ(ids(c.flags), c.want) << std::hex << c.flags;
}

TEST(DescriptorTypes, RecordsCarrySizesVariantsAndPatternIds) {
  struct Case {
    std::uint32_t id, variant, size, compared, pattern;
    bool lists;
  };
  const Case cases[] = {
      // Pattern 0: the CRC-32 of the type's own pattern bytes (checked
      // beside the patterns); type 0x4 samples no pattern and answers 1.
      {0x10, 0, 8, 8, 0, true},     {0x8, 0, 16, 0, 0, false},     {0x4, 0, 16, 16, 1, true},
      {0x2, 0, 16, 16, 0, true},    {0x20, 3, 16, 16, 0, true},    {0x200, 1, 16, 16, 0, true},
      {0x400, 0, 16, 16, 0, true},  {0x800, 3, 16, 16, 0, true},   {0x1000, 0, 16, 16, 0, true},
      {0x2000, 0, 16, 16, 0, true},
  };
  for (const Case& c : cases) {
    const DescriptorType* list[11];
    ASSERT_EQ(desc_types_select(list, c.id), 1);
    const DescriptorType* t = list[0];
    EXPECT_EQ(t->variant, c.variant) << std::hex << c.id;
    EXPECT_EQ(t->size(), c.size);
    EXPECT_EQ(t->compared_size(), c.compared);
    if (c.pattern) {
      EXPECT_EQ(t->pattern_id(), c.pattern);
    }
    EXPECT_EQ(t->match_lists != nullptr, c.lists);
    // get/put round trip at index 1; a null source copies nothing.
    std::vector<std::uint8_t> array(3 * c.size, 0), src(c.size), back(c.size, 0);
    for (std::uint32_t k = 0; k < c.size; ++k) src[k] = static_cast<std::uint8_t>(k + 1);
    EXPECT_EQ(t->put(src.data(), array.data(), 1), c.size);
    EXPECT_EQ(t->put(nullptr, array.data(), 2), 0u);
    EXPECT_EQ(t->get(array.data(), 1, back.data()), c.size);
    EXPECT_EQ(back, src);
    EXPECT_EQ(t->get(array.data(), 0, nullptr), c.size);
    EXPECT_TRUE(std::all_of(array.begin() + 2 * c.size, array.end(), [](auto v) { return !v; }));
  }
}

// Plain bitwise reference of the probe transform and distance.
int reference(const std::uint8_t* p, const std::uint8_t* g, int bytes, int invert, int swap,
              bool low64) {
  std::vector<std::uint8_t> t(p, p + bytes);
  if (invert) {
    for (auto& v : t) v = static_cast<std::uint8_t>(~v);
    if (swap && !low64) std::rotate(t.begin(), t.begin() + bytes / 2, t.end());
  }
  const std::uint8_t* gg = (low64 && invert && swap) ? g + 8 : g;
  int d = 0;
  for (int k = 0; k < bytes; ++k)
    for (int b = 0; b < 8; ++b) d += ((t[k] >> b) & 1) != ((gg[k] >> b) & 1);
  return std::min(d, 255);
}

TEST(HammingKernels, MatchBitwiseReference) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> probe(32), gallery(32 * 9);
  for (auto& v : probe) v = static_cast<std::uint8_t>(rng());
  for (auto& v : gallery) v = static_cast<std::uint8_t>(rng());
  std::uint8_t out[9];
  for (int invert = 0; invert < 2; ++invert)
    for (int swap = 0; swap < 2; ++swap) {
      hamming64_to_many(probe.data(), gallery.data(), 9, invert, swap, out);
      for (int c = 0; c < 9; ++c)
        EXPECT_EQ(out[c], reference(probe.data(), &gallery[16 * c], 8, invert, swap, true));
      hamming128_to_many(probe.data(), gallery.data(), 9, invert, swap, out);
      for (int c = 0; c < 9; ++c)
        EXPECT_EQ(out[c], reference(probe.data(), &gallery[16 * c], 16, invert, swap, false));
      hamming256_to_many(probe.data(), gallery.data(), 8, invert, swap, out);
      for (int c = 0; c < 8; ++c)
        EXPECT_EQ(out[c], reference(probe.data(), &gallery[32 * c], 32, invert, swap, false));
    }
}

TEST(HammingKernels, ExactAnswersAndSaturation) {
  std::uint8_t zero[32] = {}, ones[32];
  std::fill(std::begin(ones), std::end(ones), 0xFF);
  std::uint8_t out[1];
  hamming128_to_many(zero, ones, 1, 0, 0, out);
  EXPECT_EQ(out[0], 128);
  hamming128_to_many(zero, zero, 1, 1, 0, out);
  EXPECT_EQ(out[0], 128);
  hamming256_to_many(zero, ones, 1, 0, 0, out);
  EXPECT_EQ(out[0], 255);  // 256 differing bits saturate
  // Point-symmetric 64-bit: complemented lower half of the probe against the
  // gallery's upper half.
  std::uint8_t p[16] = {0x0F}, g[16] = {};
  g[8] = 0xF0;
  std::fill(g + 9, g + 16, 0xFF);
  hamming64_to_many(p, g, 1, 1, 1, out);
  EXPECT_EQ(out[0], 0);
}

TEST(PairDistance, ModesAndRefusals) {
  std::vector<std::uint8_t> a(48, 0), b(48, 0xFF);
  std::uint8_t out[2] = {0xAA, 0xAA};
  struct Case {
    int (*fn)(int, int, int, const std::uint8_t*, const std::uint8_t*, int, int, std::uint8_t*);
    int mode, status, want;
  };
  const DescriptorType* list[11];
  desc_types_select(list, 0x14);  // 0x10 then 0x4
  const auto type10 = list[0]->pair_distance;
  const auto type4 = list[1]->pair_distance;
  const Case cases[] = {
      {desc_pair_distance, 0, ML_OK, 128},
      {desc_pair_distance, 0x80, ML_OK, 128},
      {desc_pair_distance, 64, ML_OK, 64},
      {desc_pair_distance, 256, ML_OK, 255},
      {desc_pair_distance, 1, ML_WRONG_KIND, 0xAA},
      {desc_pair_distance_sym, 32, ML_WRONG_KIND, 0xAA},
      {type4, 64, ML_OK, 64},
      {type4, 256, ML_WRONG_KIND, 0xAA},
      {type10, 256, ML_OK, 64},
      {desc8_distance, 999, ML_OK, 64},
  };
  for (const Case& c : cases) {
    out[0] = 0xAA;
    EXPECT_EQ(c.fn(0, 0, 1, a.data(), b.data(), c.mode, 0, out), c.status) << c.mode;
    EXPECT_EQ(out[0], c.want) << c.mode;
  }
  // Type 0x10 takes one pair without invert only.
  EXPECT_EQ(type10(0, 0, 2, a.data(), b.data(), 0, 0, out), ML_WRONG_KIND);
  EXPECT_EQ(type10(0, 0, 1, a.data(), b.data(), 0, 1, out), ML_WRONG_KIND);
}

TEST(PairDistance, ZeroDescriptorOfType8CountsAsOutside) {
  std::vector<std::uint8_t> zero(16, 0), some(16, 0);
  some[3] = 0x81;  // two bits set
  std::uint8_t out[1];
  EXPECT_EQ(desc8_distance(0, 0, 1, zero.data(), some.data(), 0, 0, out), ML_OK);
  EXPECT_EQ(out[0], 64);
  EXPECT_EQ(desc8_distance(0, 0, 1, some.data(), zero.data(), 0, 1, out), ML_OK);
  EXPECT_EQ(out[0], 64);
  std::vector<std::uint8_t> other(16, 0);
  other[0] = 1;
  EXPECT_EQ(desc8_distance(0, 0, 1, some.data(), other.data(), 0, 0, out), ML_OK);
  EXPECT_EQ(out[0], 3);
}

// Point records with given descriptor types and per-point descriptor bytes.
struct Records {
  BlockRecord* r = nullptr;
  Records(std::vector<const DescriptorType*> types, int points) {
    types.push_back(nullptr);
    EXPECT_EQ(blockrec_create(100, 100, points, types.data(), &r), ML_OK);
    r->point_count = points;
  }
  ~Records() { blockrec_free(r); }
  void set(int ext, int point, std::uint8_t fill, int bytes = 16) {
    std::fill_n(r->extension_arrays[ext] + bytes * point, bytes, fill);
  }
};

struct Bests {
  std::vector<std::uint16_t> pb, gb;
  std::vector<std::int16_t> pm, gm;
  MatchBests m;
  Bests(int np, int ng) : pb(np, 1000), gb(ng, 1000), pm(np, -1), gm(ng, -1) {
    m = {pb.data(), gb.data(), pm.data(), gm.data()};
  }
};

const DescriptorType* type_of(std::uint32_t id) {
  const DescriptorType* list[11];
  desc_types_select(list, id);
  return list[0];
}

TEST(MatchLists, TiesAndBests) {
  const DescriptorType* t2 = type_of(0x2);
  Records probe({t2}, 2), gallery({t2}, 3);
  probe.set(0, 0, 0x00);
  probe.set(0, 1, 0x00);
  gallery.set(0, 0, 0xFF);  // 128
  gallery.set(0, 1, 0x01);  // 16
  gallery.set(0, 2, 0x01);  // 16, same as point 1
  Bests b(2, 3);
  EXPECT_EQ(desc_match_lists(0, 0, 3, 0, 0, 0, probe.r, gallery.r, &b.m), ML_OK);
  EXPECT_EQ(b.pb[0], 16);
  EXPECT_EQ(b.pm[0], 1);  // the first of two equal bests
  EXPECT_EQ(b.gm, (std::vector<std::int16_t>{0, 0, 0}));
  // A later probe at the same distance takes the gallery points over.
  EXPECT_EQ(desc_match_lists(1, 1, 2, 0, 0, 0, probe.r, gallery.r, &b.m), ML_OK);
  EXPECT_EQ(b.gm, (std::vector<std::int16_t>{0, 1, 1}));

  // Type 0x10 keeps the earlier probe on a tie.
  const DescriptorType* t10 = type_of(0x10);
  Records p8({t10}, 2), g8({t10}, 1);
  g8.set(0, 0, 0x03, 8);
  Bests b8(2, 1);
  EXPECT_EQ(t10->match_lists(0, 0, 1, 1, 1, 256, p8.r, g8.r, &b8.m), 0);
  EXPECT_EQ(t10->match_lists(1, 0, 1, 0, 0, 0, p8.r, g8.r, &b8.m), 0);
  EXPECT_EQ(b8.gb[0], 16);
  EXPECT_EQ(b8.gm[0], 0);
  EXPECT_EQ(b8.pm, (std::vector<std::int16_t>{0, 0}));
}

TEST(MatchLists, RefusesBadModesFlagsAndRanges) {
  const DescriptorType* t2 = type_of(0x2);
  const DescriptorType* t20 = type_of(0x20);
  Records one({t2}, 2), two({t2, t20}, 2);
  Bests b(2, 2);
  const Bests before = b;
  struct Case {
    std::uint32_t i, s, n;
    int invert, swap, mode;
    const BlockRecord* a;
    int status;
  };
  const Case cases[] = {
      {0, 0, 2, 0, 0, 256, one.r, 1}, {0, 0, 2, 0, 0, 3, one.r, 1},
      {0, 0, 2, 1, 0, 0, two.r, 1},   {0, 0, 2, 0, 1, 0, two.r, 1},
      {2, 0, 1, 0, 0, 0, one.r, 2},   {0, 1, 2, 0, 0, 0, one.r, 2},
      {0, 0, 0, 0, 0, 0, one.r, 0},   {0, 0, 2, 0, 0, 0, nullptr, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(desc_match_lists(c.i, c.s, c.n, c.invert, c.swap, c.mode, c.a, one.r, &b.m),
              c.status);
    EXPECT_EQ(b.gb, before.gb);
    EXPECT_EQ(b.pb, before.pb);
  }
}

TEST(MatchLists, CombinedExtensionsSumAndSaturate) {
  const DescriptorType* types[] = {type_of(0x2), type_of(0x20), type_of(0x200)};
  Records a({types[0], types[1], types[2]}, 2), b({types[0], types[1], types[2]}, 2);
  for (int e = 0; e < 3; ++e) {
    a.set(e, 0, 0x5A);
    b.set(e, 0, 0x5A);
    a.set(e, 1, 0x00);
    b.set(e, 1, 0xFF);
  }
  Bests m(2, 2);
  EXPECT_EQ(desc_match_lists(0, 0, 2, 0, 0, 0, a.r, b.r, &m.m), ML_OK);
  EXPECT_EQ(m.pb[0], 0);  // identical in every extension
  EXPECT_EQ(m.pm[0], 0);
  Bests far(2, 2);
  EXPECT_EQ(desc_match_lists(1, 1, 1, 0, 0, 0x80, a.r, b.r, &far.m), ML_OK);
  EXPECT_EQ(far.pb[1], 255);  // 3 x 128 saturates
  EXPECT_EQ(desc_match_lists(1, 1, 1, 0, 0, 64, a.r, b.r, &far.m), ML_OK);
  EXPECT_EQ(far.pb[1], 192);  // 3 x 64
}

TEST(MatchLists, LongRunsMatchOneAtATime) {
  const DescriptorType* t2 = type_of(0x2);
  const int n = 150;
  Records p({t2}, 1), g({t2}, n);
  std::mt19937 rng(3);
  for (int k = 0; k < 16; ++k) p.r->extension_arrays[0][k] = static_cast<std::uint8_t>(rng());
  for (int k = 0; k < 16 * n; ++k) g.r->extension_arrays[0][k] = static_cast<std::uint8_t>(rng());
  Bests b(1, n);
  ASSERT_EQ(desc_match_lists(0, 0, n, 1, 1, 0, p.r, g.r, &b.m), ML_OK);
  int best = 1000, at = -1;
  for (int j = 0; j < n; ++j) {
    const int d = reference(p.r->extension_arrays[0], g.r->extension_arrays[0] + 16 * j, 16, 1, 1,
                            false);
    EXPECT_EQ(b.gb[j], d);
    if (d < best) best = d, at = j;
  }
  EXPECT_EQ(b.pb[0], best);
  EXPECT_EQ(b.pm[0], at);
}

TEST(MatchLists, ExtensionsArePairedByTypeNotByPosition) {
  // A stored view may carry a type the probe lacks, or list the same types
  // in another order. Point 0 carries the same descriptors in both records,
  // point 1 their complements, type by type; an 8-byte type-0x10 array is
  // never read as a 16-byte one. Distances are 64-bit, one 64 per 16-byte
  // type that both records carry.
  struct Case {
    std::vector<std::uint32_t> a, b;
    int compared;
  };
  const Case cases[] = {
      {{0x10, 0x4, 0x2}, {0x4, 0x2}, 2}, {{0x4, 0x2}, {0x10, 0x4, 0x2}, 2},
      {{0x2, 0x4}, {0x4, 0x2}, 2},       {{0x2}, {0x10, 0x2}, 1},
      {{0x4, 0x2}, {0x2}, 1},            {{0x10, 0x2}, {0x2, 0x10}, 1},
  };
  auto fill = [](Records& r, const std::vector<std::uint32_t>& types) {
    for (std::size_t e = 0; e < types.size(); ++e) {
      const int bytes = types[e] == 0x10 ? 8 : 16;
      const auto pattern = static_cast<std::uint8_t>(0x35 + 17 * types[e]);
      r.set(static_cast<int>(e), 0, pattern, bytes);
      r.set(static_cast<int>(e), 1, static_cast<std::uint8_t>(~pattern), bytes);
    }
  };
  for (const Case& c : cases) {
    std::vector<const DescriptorType*> ta, tb;
    for (std::uint32_t id : c.a) ta.push_back(type_of(id));
    for (std::uint32_t id : c.b) tb.push_back(type_of(id));
    Records a(ta, 2), b(tb, 2);
    fill(a, c.a);
    fill(b, c.b);
    Bests m(2, 2);
    ASSERT_EQ(desc_match_lists(0, 0, 2, 0, 0, 64, a.r, b.r, &m.m), ML_OK) << c.a.size() << " " << c.b.size();
    EXPECT_EQ(m.pb[0], 0);
    EXPECT_EQ(m.pm[0], 0);
    EXPECT_EQ(m.gb[1], 64 * c.compared);
  }
  // Type 0x10's own list matching finds its array wherever it stands.
  const DescriptorType* t10 = type_of(0x10);
  const DescriptorType* t2 = type_of(0x2);
  Records a({t2, t10}, 2), b({t10, t2}, 2);
  fill(a, {0x2, 0x10});
  fill(b, {0x10, 0x2});
  Bests m(2, 2);
  ASSERT_EQ(t10->match_lists(0, 0, 2, 0, 0, 0, a.r, b.r, &m.m), ML_OK);
  EXPECT_EQ(m.pb[0], 0);
  EXPECT_EQ(m.gb[1], 64);
  // A record without a comparable array is refused.
  Records only8({t10}, 2);
  EXPECT_EQ(desc_match_lists(0, 0, 2, 0, 0, 64, only8.r, b.r, &m.m), ML_BAD_ARGUMENT);
  EXPECT_EQ(t10->match_lists(0, 0, 2, 0, 0, 0, a.r, Records({t2}, 2).r, &m.m), ML_BAD_ARGUMENT);
}

}  // namespace

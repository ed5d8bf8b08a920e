// Keypoint pair matcher on drawn records: a turned and shifted copy is
// aligned and paired in full, impostors are not, the empty and small
// cases, the rigid fit at large coordinates, and the stored pairing.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "support/prefix_sweep.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_pair_matcher.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct RecordDeleter {
  void operator()(BlockRecord* r) const { blockrec_free(r); }
};
using Record = std::unique_ptr<BlockRecord, RecordDeleter>;
struct PairingDeleter {
  void operator()(MinutiaPairing* p) const { pairing_free(p); }
};
using Pairing = std::unique_ptr<MinutiaPairing, PairingDeleter>;

struct Point {
  int x, y, angle;
};

// A record of class-1 points carrying type-0x10 descriptors.
Record make_record(const std::vector<Point>& pts, const std::vector<std::uint64_t>& desc, int size = 200) {
  const DescriptorType* types[11] = {};
  EXPECT_EQ(desc_types_select(types, 0x10), 1);
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(size, size, static_cast<int>(pts.size()) + 1, types, &r), ML_OK);
  for (std::size_t k = 0; k < pts.size(); ++k) {
    r->points[k] = {static_cast<std::int16_t>(pts[k].x), static_cast<std::int16_t>(pts[k].y),
                    static_cast<std::uint8_t>(pts[k].angle), 100, 1, 0};
    types[0]->put(reinterpret_cast<const std::uint8_t*>(&desc[k]), r->extension_arrays[0],
                  static_cast<int>(k));
  }
  r->point_count = static_cast<int>(pts.size());
  blockrec_count_types(r);
  return Record(r);
}

Bytes bytes_of(const BlockRecord* r) {
  std::uint8_t* out = nullptr;
  std::uint32_t n = 0;
  EXPECT_EQ(blockrec_write(r, &out, &n), ML_OK);
  Bytes b(out, out + n);
  std::free(out);
  return b;
}

struct Print {
  std::vector<Point> pts;
  std::vector<std::uint64_t> desc;
};

Print random_print(std::uint32_t seed, int n) {
  std::mt19937 rng(seed);
  Print p;
  for (int k = 0; k < n; ++k) {
    p.pts.push_back({40 + static_cast<int>(rng() % 120), 40 + static_cast<int>(rng() % 120),
                     static_cast<int>(rng() % 256)});
    p.desc.push_back((std::uint64_t{rng()} << 32) | rng());
  }
  return p;
}

// Turned by `steps` (256 a turn) about the origin, then shifted.
Print turned(const Print& p, int steps, int dx, int dy) {
  const double a = steps * 2 * M_PI / 256;
  Print q = p;
  for (Point& t : q.pts) {
    const double x = t.x, y = t.y;
    t.x = static_cast<int>(std::lround(std::cos(a) * x - std::sin(a) * y)) + dx;
    t.y = static_cast<int>(std::lround(std::sin(a) * x + std::cos(a) * y)) + dy;
    t.angle = (t.angle + steps) & 0xff;
  }
  return q;
}

MatcherSettings plain_settings() {
  MatcherSettings s{};
  s.hypothesis_limit = 200;
  s.extension_types = 0x10;
  s.direction_tolerance = 32;
  s.mutual = 1;
  s.required_count = 1;
  return s;
}

struct Scored {
  int status;
  std::vector<std::uint16_t> v;
  PairAlignment al;
};

Scored score(const Print& a, const Print& b, MatcherSettings s, bool global = false) {
  const Bytes ba = bytes_of(make_record(a.pts, a.desc).get());
  const Bytes bb = bytes_of(make_record(b.pts, b.desc).get());
  const SampleInfo info{};
  Scored r{};
  pair_alignment_identity(&r.al);
  std::uint16_t* v = nullptr;
  int count = 0;
  int flag = -1;
  r.status = global ? pairs_match_global(ba.data(), static_cast<std::uint32_t>(ba.size()), &info, bb.data(),
                                         static_cast<std::uint32_t>(bb.size()), &info, &s, &v, &count, &r.al)
                    : pairs_match_and_score(ba.data(), static_cast<std::uint32_t>(ba.size()), &info,
                                            bb.data(), static_cast<std::uint32_t>(bb.size()), &info, &s, &v,
                                            &count, &r.al, &flag);
  if (v) r.v.assign(v, v + count);
  std::free(v);
  return r;
}

TEST(PairMatcher, TurnedAndShiftedCopyIsAlignedWithEveryPointPaired) {
  const Print a = random_print(7, 60);
  const int steps = 12, dx = 25, dy = -30;
  const Print b = turned(a, steps, dx, dy);
  for (bool global : {false, true})
    for (int refined : {0, 1}) {
      MatcherSettings s = plain_settings();
      s.refined_search = refined;
      const Scored r = score(a, b, s, global);
      ASSERT_EQ(r.status, ML_OK);
      ASSERT_EQ(r.v.size(), 5u);
      const int angle = ((r.al.angle + 0x8000) >> 16) & 0xff;
      EXPECT_LE(std::abs(static_cast<std::int8_t>(angle - steps)), 1) << global << refined;
      EXPECT_NEAR(r.al.dx / 16384.0, dx, 1.0);
      EXPECT_NEAR(r.al.dy / 16384.0, dy, 1.0);
      EXPECT_GT(r.v[0], 0);
      if (!refined) {
        // The plain path: only the first entry is set.
        EXPECT_EQ(r.v[1] | r.v[2] | r.v[3] | r.v[4], 0);
      } else {
        EXPECT_GT(r.v[1], 50);      // overlap percentage
        EXPECT_LT(r.v[3], 400);     // the distance figure of exact pairs
      }
    }
  // Every point paired: the plain score equals pairs x 4096 / root(e x 128)
  // for the pair count of both directions, which a copy without one point
  // cannot reach.
  Print fewer = b;
  fewer.pts.resize(40);
  fewer.desc.resize(40);
  EXPECT_GT(score(a, b, plain_settings()).v[0], score(a, fewer, plain_settings()).v[0]);
}

TEST(PairMatcher, ImpostorsScoreFarBelowTheGenuineCopy) {
  const Print a = random_print(1, 60);
  const std::uint16_t genuine = score(a, turned(a, 5, 4, 9), plain_settings()).v[0];
  for (std::uint32_t seed = 2; seed < 8; ++seed) {
    const Scored r = score(a, random_print(seed, 60), plain_settings());
    ASSERT_EQ(r.status, ML_OK);
    EXPECT_LT(r.v[0] * 4, genuine) << seed;
  }
}

TEST(PairMatcher, NoPairsScoreTheFixedVector) {
  // Every B point lies far from every mapped A point.
  Print a = random_print(3, 20);
  Print b = a;
  for (Point& p : b.pts) p.x = 5, p.y = 195;
  for (std::uint64_t& d : b.desc) d = ~d;
  for (int refined : {0, 1}) {
    MatcherSettings s = plain_settings();
    s.refined_search = refined;
    const Scored r = score(a, b, s);
    ASSERT_EQ(r.status, ML_OK);
    EXPECT_EQ(r.v, (std::vector<std::uint16_t>{0, 0, 4300, 400, 0}));
  }
}

TEST(PairMatcher, UnderElevenPointsOnlyExactPositionsAreInliers) {
  const Print a = random_print(11, 10);
  Print b = turned(a, 0, 3, 2);
  const std::uint16_t exact = score(a, b, plain_settings()).v[0];
  // One B point two pixels off: still a descriptor pair, no more an inlier.
  b.pts[4].x += 2;
  const std::uint16_t moved = score(a, b, plain_settings()).v[0];
  EXPECT_GT(exact, moved);
  // A caller limit of 3 pixels takes it back.
  MatcherSettings s = plain_settings();
  s.distance_setting = 3;
  EXPECT_EQ(score(a, b, s).v[0], exact);
}

TEST(PairMatcher, MissingDescriptorTypeIsRefused) {
  const Print a = random_print(5, 12);
  MatcherSettings s = plain_settings();
  s.extension_types = 0x12;  // 0x2 is not in the records
  EXPECT_EQ(score(a, a, s).status, ML_WRONG_KIND);
  EXPECT_EQ(score(a, a, s, true).status, ML_WRONG_KIND);
  s.extension_types = 0;
  EXPECT_EQ(score(a, a, s).status, ML_BAD_ARGUMENT);  // no descriptor type selected
}

TEST(PairMatcher, RigidFitIsExactAtLargeCoordinates) {
  // 30 degrees and a shift, points near the 16-bit limit.
  const double a = M_PI / 6;
  std::vector<std::int32_t> ax, ay, bx, by;
  for (int k = 0; k < 12; ++k) {
    const int x = 30000 + (k % 4) * 700, y = 29000 + (k / 4) * 900;
    ax.push_back(x);
    ay.push_back(y);
    bx.push_back(static_cast<std::int32_t>(std::lround(std::cos(a) * x - std::sin(a) * y + 1234)));
    by.push_back(static_cast<std::int32_t>(std::lround(std::sin(a) * x + std::cos(a) * y - 567)));
  }
  PairAlignment al;
  ASSERT_EQ(rigid_fit(ax.data(), ay.data(), bx.data(), by.data(), 12, &al), ML_OK);
  EXPECT_NEAR(al.angle, 0x1000000 / 12, 0x1000000 / 4096);
  EXPECT_NEAR(al.cosine, 16384 * std::cos(a), 2);
  EXPECT_NEAR(al.sine, 16384 * std::sin(a), 2);
  for (int k = 0; k < 12; ++k) {
    const double mx = (al.dx + double(al.cosine) * ax[k] - double(al.sine) * ay[k]) / 16384;
    const double my = (al.dy + double(al.sine) * ax[k] + double(al.cosine) * ay[k]) / 16384;
    EXPECT_NEAR(mx, bx[k], 3.0);
    EXPECT_NEAR(my, by[k], 3.0);
  }
  EXPECT_EQ(rigid_fit(ax.data(), ay.data(), bx.data(), by.data(), 0, &al), ML_BAD_ARGUMENT);
}

TEST(PairMatcher, CoverageOfTinyAreasIsZero) {
  const Print a = random_print(3, 5);
  Record small = make_record({{1, 1, 0}}, {1}, 7);
  int pct = -1;
  EXPECT_EQ(coverage_percent(small.get(), &pct), ML_OK);
  EXPECT_EQ(pct, 0);
  Record full = make_record({{1, 1, 0}, {9, 1, 0}, {1, 9, 0}, {9, 9, 0}}, {1, 2, 3, 4}, 16);
  EXPECT_EQ(coverage_percent(full.get(), &pct), ML_OK);
  EXPECT_EQ(pct, 100);
  EXPECT_EQ(coverage_percent(nullptr, &pct), ML_CORRUPT);
}

Pairing match_pairing(const Print& a, const Print& b) {
  Record ra = make_record(a.pts, a.desc), rb = make_record(b.pts, b.desc);
  const MatcherSettings s = plain_settings();
  Pairing p(pairing_create(&s));
  EXPECT_EQ(pairs_match(ra.get(), rb.get(), p.get()), ML_OK);
  return p;
}

TEST(PairingCodec, RoundTripClampsDistancesTo255) {
  const Print a = random_print(21, 30);
  Pairing p = match_pairing(a, random_print(22, 25));
  ASSERT_GT(p->pair_count, 0);
  p->nearest->best_a[0] = 300;
  p->pairs[0].distance = 1000;
  p->alignment_flag = 1;
  const std::uint32_t n = pairing_write(p.get(), nullptr);
  // 25 fixed bytes: the version, both counts, the pair count and 18 of settings.
  EXPECT_EQ(n, 25u + 3u * (30 + 25) + 5u * p->pair_count);
  Bytes out(n);
  ASSERT_EQ(pairing_write(p.get(), out.data()), n);
  MinutiaPairing* raw = nullptr;
  ASSERT_EQ(pairing_read(out.data(), n, &raw), n);
  Pairing q(raw);
  EXPECT_EQ(q->nearest->best_a[0], 255);
  EXPECT_EQ(q->pairs[0].distance, 255);
  for (int i = 1; i < 30; ++i) {
    EXPECT_EQ(q->nearest->match_a[i], p->nearest->match_a[i]);
    EXPECT_EQ(q->nearest->best_a[i], std::min<int>(p->nearest->best_a[i], 255));
  }
  for (int k = 1; k < p->pair_count; ++k) {
    EXPECT_EQ(q->pairs[k].index_a, p->pairs[k].index_a);
    EXPECT_EQ(q->pairs[k].index_b, p->pairs[k].index_b);
  }
  EXPECT_EQ(std::memcmp(&q->settings, &p->settings, sizeof(MatcherSettings)), 0);
  EXPECT_EQ(q->alignment_flag, 1);
  // Written again it gives the same bytes.
  Bytes again(n);
  pairing_write(q.get(), again.data());
  EXPECT_EQ(again, out);
}

TEST(PairingCodec, RefusesShortInputBadVersionsAndForeignIndices) {
  Pairing p = match_pairing(random_print(31, 10), random_print(32, 8));
  Bytes out(pairing_write(p.get(), nullptr));
  pairing_write(p.get(), out.data());
  MinutiaPairing* raw = nullptr;
  zyl::test::for_each_prefix(out, [&](std::span<const std::uint8_t> cut) {
    EXPECT_EQ(pairing_read(cut.data(), static_cast<std::uint32_t>(cut.size()), &raw), 0u);
    EXPECT_EQ(raw, nullptr);
  });
  Bytes v = out;
  v[0] = 2;
  EXPECT_EQ(pairing_read(v.data(), static_cast<std::uint32_t>(v.size()), &raw), 0u);
  v[0] = 0;  // version 0 reads
  EXPECT_EQ(pairing_read(v.data(), static_cast<std::uint32_t>(v.size()), &raw), v.size());
  pairing_free(raw);
  // A's first partner pointing past B's 8 points; 0xffff stays "none".
  v = out;
  v[5] = 0;
  v[6] = 8;
  EXPECT_EQ(pairing_read(v.data(), static_cast<std::uint32_t>(v.size()), &raw), 0u);
  v[5] = 0xff;
  v[6] = 0xff;
  EXPECT_EQ(pairing_read(v.data(), static_cast<std::uint32_t>(v.size()), &raw), v.size());
  pairing_free(raw);
  // A pair index past A's 10 points.
  v = out;
  const std::size_t first_pair = 1 + 4 + 3 * 18 + 2;
  ASSERT_GT(p->pair_count, 0);
  v[first_pair] = 0;
  v[first_pair + 1] = 10;
  EXPECT_EQ(pairing_read(v.data(), static_cast<std::uint32_t>(v.size()), &raw), 0u);
}

}  // namespace

namespace {

// Type-0x2 records (16-byte descriptors): B holds the complement of A's
// descriptors with the bright and dark classes exchanged, as a print of
// inverted contrast gives.
Bytes contrast_record(const Print& p, bool inverted) {
  const DescriptorType* types[11] = {};
  EXPECT_EQ(desc_types_select(types, 0x2), 1);
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(200, 200, static_cast<int>(p.pts.size()) + 1, types, &r), ML_OK);
  Record rec(r);
  // Records keep their points grouped by class: the class-1 points first.
  const std::size_t n = p.pts.size();
  for (std::size_t slot = 0; slot < n; ++slot) {
    const std::size_t k = inverted ? (slot + n / 2) % n : slot;
    const std::uint8_t cls = k < n / 2 ? 1 : 2;
    r->points[slot] = {static_cast<std::int16_t>(p.pts[k].x), static_cast<std::int16_t>(p.pts[k].y),
                    static_cast<std::uint8_t>(p.pts[k].angle), 100,
                    static_cast<std::uint8_t>(inverted ? 3 - cls : cls), 0};
    std::uint64_t d[2] = {p.desc[k], p.desc[k] * 0x9E3779B97F4A7C15ull};
    if (inverted) d[0] = ~d[0], d[1] = ~d[1];
    types[0]->put(reinterpret_cast<const std::uint8_t*>(d), r->extension_arrays[0], static_cast<int>(slot));
  }
  r->point_count = static_cast<int>(p.pts.size());
  blockrec_count_types(r);
  return bytes_of(r);
}

TEST(PairMatcher, TwoRunSearchFindsAnInvertedContrastPrint) {
  const Print a = random_print(41, 50);
  const Print b = turned(a, 0, 5, 5);
  const Bytes ba = contrast_record(a, false);
  const SampleInfo info{};
  MatcherSettings s = plain_settings();
  s.extension_types = 0x2;
  for (bool inverted : {false, true}) {
    const Bytes bb = contrast_record(b, inverted);
    for (int two_run : {0, 1}) {
      s.two_run = two_run;
      std::uint16_t* v = nullptr;
      int count = 0, flag = -1;
      PairAlignment al;
      pair_alignment_identity(&al);
      ASSERT_EQ(pairs_match_and_score(ba.data(), static_cast<std::uint32_t>(ba.size()), &info, bb.data(),
                                      static_cast<std::uint32_t>(bb.size()), &info, &s, &v, &count, &al, &flag),
                ML_OK);
      ASSERT_EQ(count, 5);
      if (!inverted || two_run) {
        EXPECT_GT(v[0], 1000) << inverted << two_run;
        EXPECT_EQ(flag, inverted ? 1 : 0);
        EXPECT_NEAR(al.dx / 16384.0, 5, 1.0);
      } else {
        EXPECT_LT(v[0], 1000);  // one run only: the contrast is not undone
      }
      std::free(v);
    }
  }
}

}  // namespace

namespace {

// A record of class-1 points carrying descriptors of the given types, in
// that order: 8 bytes of `desc` for type 0x10, 16 bytes derived from it
// for the others.
Bytes typed_record(const Print& p, const std::vector<std::uint32_t>& ids) {
  std::vector<const DescriptorType*> types;
  for (std::uint32_t id : ids) {
    const DescriptorType* one[11] = {};
    EXPECT_EQ(desc_types_select(one, id), 1);
    types.push_back(one[0]);
  }
  types.push_back(nullptr);
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(200, 200, static_cast<int>(p.pts.size()) + 1, types.data(), &r), ML_OK);
  Record rec(r);
  for (std::size_t k = 0; k < p.pts.size(); ++k) {
    r->points[k] = {static_cast<std::int16_t>(p.pts[k].x), static_cast<std::int16_t>(p.pts[k].y),
                    static_cast<std::uint8_t>(p.pts[k].angle), 100, 1, 0};
    const std::uint64_t d[2] = {p.desc[k], p.desc[k] * 0x9E3779B97F4A7C15ull};
    for (std::size_t e = 0; e + 1 < types.size(); ++e)
      types[e]->put(reinterpret_cast<const std::uint8_t*>(d), r->extension_arrays[e], static_cast<int>(k));
  }
  r->point_count = static_cast<int>(p.pts.size());
  blockrec_count_types(r);
  return bytes_of(r);
}

Scored score_bytes(const Bytes& ba, const Bytes& bb, const MatcherSettings& s) {
  const SampleInfo info{};
  Scored r{};
  pair_alignment_identity(&r.al);
  std::uint16_t* v = nullptr;
  int count = 0, flag = 0;
  r.status = pairs_match_and_score(ba.data(), static_cast<std::uint32_t>(ba.size()), &info, bb.data(),
                                   static_cast<std::uint32_t>(bb.size()), &info, &s, &v, &count, &r.al, &flag);
  if (v) r.v.assign(v, v + count);
  std::free(v);
  return r;
}

TEST(PairMatcher, SelectionLedByATypeWithoutListMatchingIsRefused) {
  // Type 0x8 has no list matching, so it cannot drive the neighbour search
  // when it is the first selected type, alone or before type 0x2.
  const Print a = random_print(51, 30);
  const Bytes ba = typed_record(a, {0x8, 0x2}), bb = typed_record(turned(a, 3, 4, 5), {0x8, 0x2});
  struct Case {
    std::uint32_t types;
    int status;
  };
  for (const Case c : {Case{0x8, ML_BAD_ARGUMENT}, Case{0xA, ML_BAD_ARGUMENT}, Case{0x2, ML_OK}})
    for (int two_run : {0, 1}) {
      MatcherSettings s = plain_settings();
      s.extension_types = static_cast<std::int32_t>(c.types);
      s.two_run = two_run;
      s.refined_search = 1;
      const Scored r = score_bytes(ba, bb, s);
      EXPECT_EQ(r.status, c.status) << std::hex << c.types << " " << two_run;
      EXPECT_EQ(r.v.empty(), c.status != ML_OK);
    }
}

TEST(PairMatcher, OnlyTheDistanceModesOfSinglePairsAreAccepted) {
  // Type 0x10 leads the neighbour search whatever the mode; the refined
  // search then asks type 0x2 for pair distances in the settings' mode.
  // The 256-bit distance reads the descriptor after the pair's, past the
  // last one, so it is refused with every mode that names no distance.
  const Print a = random_print(61, 40);
  const Bytes ba = typed_record(a, {0x10, 0x2}), bb = typed_record(turned(a, 0, 6, -3), {0x10, 0x2});
  struct Case {
    int mode, status;
  };
  const Case cases[] = {{0, ML_OK},          {0x80, ML_OK},         {64, ML_OK},
                        {256, ML_WRONG_KIND}, {1, ML_WRONG_KIND},    {32, ML_WRONG_KIND},
                        {0x180, ML_WRONG_KIND}, {-64, ML_WRONG_KIND}};
  for (const Case& c : cases) {
    MatcherSettings s = plain_settings();
    s.extension_types = 0x12;
    s.refined_search = 1;
    s.distance_mode = c.mode;
    const Scored r = score_bytes(ba, bb, s);
    EXPECT_EQ(r.status, c.status) << c.mode;
    if (c.status == ML_OK) {
      EXPECT_GT(r.v.at(0), 0) << c.mode;
    }

    // A pairing made under a good mode and stored with this one.
    BlockRecord* ra = nullptr;
    BlockRecord* rb = nullptr;
    ASSERT_EQ(blockrec_parse(ba.data(), static_cast<std::uint32_t>(ba.size()), 0, 0, &ra), ML_OK);
    ASSERT_EQ(blockrec_parse(bb.data(), static_cast<std::uint32_t>(bb.size()), 0, 0, &rb), ML_OK);
    Record keep_a(ra), keep_b(rb);
    s.distance_mode = 0;
    Pairing p(pairing_create(&s));
    ASSERT_EQ(pairs_match(ra, rb, p.get()), ML_OK);
    p->settings.distance_mode = c.mode;
    Bytes stored(pairing_write(p.get(), nullptr));
    pairing_write(p.get(), stored.data());
    MinutiaPairing* raw = nullptr;
    ASSERT_EQ(pairing_read(stored.data(), static_cast<std::uint32_t>(stored.size()), &raw), stored.size());
    Pairing restored(raw);
    const SampleInfo info{};
    std::uint16_t* v = nullptr;
    int count = 0;
    PairAlignment al;
    EXPECT_EQ(pairs_score(ra, rb, &info, &info, restored.get(), &v, &count, &al), c.status) << c.mode;
    EXPECT_EQ(v == nullptr, c.status != ML_OK);
    std::free(v);
  }
}

TEST(PairMatcher, NoAcceptedHypothesisLeavesTheRecordsUnaligned) {
  // The alignment search starts from the all-zero alignment, not from the
  // identity: when it accepts no hypothesis (two points make too few pairs
  // for a trial; a hypothesis limit of 0 accepts none), even identical
  // records are not scored as aligned.
  struct Case {
    int points, hypotheses;
  };
  for (const Case c : {Case{2, 200}, Case{60, 0}}) {
    const Print a = random_print(71, c.points);
    MatcherSettings s = plain_settings();
    s.hypothesis_limit = c.hypotheses;
    for (int refined : {0, 1}) {
      s.refined_search = refined;
      const Scored r = score(a, a, s);
      ASSERT_EQ(r.status, ML_OK);
      EXPECT_EQ(r.v, (std::vector<std::uint16_t>{0, 0, 4300, 400, 0})) << c.points << " " << refined;
    }
  }
  // With hypotheses the identical copy aligns and scores.
  EXPECT_GT(score(random_print(71, 60), random_print(71, 60), plain_settings()).v[0], 1000);
}

// Type-0x2 record of the points of `p` with the given classes (grouped by
// class, as records keep them) and descriptors.
Record classed_record(const Print& p, const std::vector<std::uint8_t>& classes,
                      const std::vector<std::array<std::uint64_t, 2>>& desc) {
  const DescriptorType* types[11] = {};
  EXPECT_EQ(desc_types_select(types, 0x2), 1);
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(200, 200, static_cast<int>(p.pts.size()) + 1, types, &r), ML_OK);
  for (std::size_t k = 0; k < p.pts.size(); ++k) {
    r->points[k] = {static_cast<std::int16_t>(p.pts[k].x), static_cast<std::int16_t>(p.pts[k].y),
                    static_cast<std::uint8_t>(p.pts[k].angle), 100, classes[k], 0};
    types[0]->put(reinterpret_cast<const std::uint8_t*>(desc[k].data()), r->extension_arrays[0], static_cast<int>(k));
  }
  r->point_count = static_cast<int>(p.pts.size());
  blockrec_count_types(r);
  return Record(r);
}

TEST(PairMatcher, TwoRunSearchWeighsEveryPointOfTheFirstRecord) {
  // A holds 2 bright points and 10 dark ones; B only bright points: exact
  // copies of A's bright descriptors and the complements (3 bits off) of
  // A's dark ones. The plain run pairs A's 2 bright points at distance 0,
  // the reversed run its 10 dark points at distance 3 each. Counting the
  // unpaired points of A (0xffff each) the reversed run is the better one;
  // summing only the paired ones would keep the plain run.
  const Print a = random_print(81, 12);
  std::vector<std::uint8_t> ca, cb(12, 1);
  std::vector<std::array<std::uint64_t, 2>> da, db;
  for (int k = 0; k < 12; ++k) {
    const std::array<std::uint64_t, 2> d = {a.desc[k], a.desc[k] * 0x9E3779B97F4A7C15ull};
    ca.push_back(k < 2 ? 1 : 2);
    da.push_back(d);
    db.push_back(k < 2 ? d : std::array<std::uint64_t, 2>{~d[0] ^ 0x7, ~d[1]});
  }
  Record ra = classed_record(a, ca, da), rb = classed_record(turned(a, 0, 2, 2), cb, db);
  MatcherSettings s = plain_settings();
  s.extension_types = 0x2;
  s.two_run = 1;
  Pairing p(pairing_create(&s));
  ASSERT_EQ(pairs_match(ra.get(), rb.get(), p.get()), ML_OK);
  EXPECT_EQ(p->alignment_flag, 1);
  for (int i = 2; i < 12; ++i) {
    EXPECT_EQ(p->nearest->match_a[i], i) << i;
    EXPECT_EQ(p->nearest->best_a[i], 3) << i;
  }
}

}  // namespace

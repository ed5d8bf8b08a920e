// The 64-minutia local-structure form: sizes, batches against an in-place
// build, the neighbour distance band and the 24 nearest, the copy
// callback's bound, and the checks of a stored form.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/card_prints.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using Min = zyl::test::CardMinutia;

Bytes card(const std::vector<Min>& m) { return zyl::test::card_of(m); }

struct Prepared {
  int status;
  Bytes form;
};

Prepared prepare(const Bytes& c, std::uint16_t work_size = 2064, bool in_place = false) {
  Bytes out(LOCALSTRUCT64_SIZE, 0xAA);
  Bytes work(work_size);
  std::uint16_t length = 0;
  const int st = in_place ? localstruct64_prepare(out.data(), LOCALSTRUCT64_SIZE, c.data(),
                                                  static_cast<std::uint32_t>(c.size()), out.data(),
                                                  LOCALSTRUCT64_SIZE, &length, localstruct64_copy)
                          : localstruct64_prepare(work.data(), work_size, c.data(),
                                                  static_cast<std::uint32_t>(c.size()), out.data(),
                                                  LOCALSTRUCT64_SIZE, &length, localstruct64_copy);
  out.resize(st == ML_OK ? length : 0);
  return {st, out};
}

std::vector<Min> spread(int n) {
  std::vector<Min> m;
  for (int k = 0; k < n; ++k) m.push_back({10 + (k % 8) * 12, 10 + (k / 8) * 12, (k * 37) & 0xFC});
  return m;
}

TEST(LocalStruct64, FormSizes) {
  const Prepared none = prepare(card({}));
  ASSERT_EQ(none.status, ML_OK);
  EXPECT_EQ(none.form.size(), 258u);
  const Prepared one = prepare(card({{50, 60, 64}}));
  ASSERT_EQ(one.status, ML_OK);
  ASSERT_EQ(one.form.size(), 258u + 33u);
  EXPECT_EQ(one.form[0], 1);
  EXPECT_EQ(one.form[1], 50);
  EXPECT_EQ(one.form[2], 60);
  EXPECT_EQ(one.form[258], 0);  // no neighbours
  EXPECT_EQ(localstruct64_form_check(one.form.data(), static_cast<std::uint32_t>(one.form.size())), ML_OK);
}

TEST(LocalStruct64, BatchesGiveTheBytesOfAnInPlaceBuild) {
  const Bytes c = card(spread(64));
  const Prepared whole = prepare(c, 2370, true);
  ASSERT_EQ(whole.status, ML_OK);
  ASSERT_EQ(whole.form.size(), 258u + 64u * 33u);
  for (std::uint16_t work : {1026, 1100, 2064, 2500}) {
    const Prepared p = prepare(c, work);
    ASSERT_EQ(p.status, ML_OK) << work;
    EXPECT_EQ(p.form, whole.form) << work;
  }
  EXPECT_EQ(localstruct64_form_check(whole.form.data(), static_cast<std::uint32_t>(whole.form.size())), ML_OK);
}

TEST(LocalStruct64, NeighbourBandAndTheTwentyFourNearest) {
  struct Case {
    int dx, dy;
    int neighbours;
  };
  // Squared distances 29 and 32 at the near end of the band 31..12209,
  // 12209 and 12218 at the far end.
  for (const Case c : {Case{5, 2, 0}, Case{4, 4, 1}, Case{103, 40, 1}, Case{97, 53, 0}}) {
    const int sq = c.dx * c.dx + c.dy * c.dy;
    const int want = c.neighbours;
    const Prepared p = prepare(card({{0, 0, 0}, {c.dx, c.dy, 0}}));
    ASSERT_EQ(p.status, ML_OK);
    EXPECT_EQ(p.form[258], want) << sq;
    EXPECT_EQ(p.form[258 + 33], want) << sq;
  }
  // Thirty minutiae around the first at growing distances: the 24 nearest
  // (indices 1..24) are kept.
  std::vector<Min> m = {{0, 0, 0}};
  for (int k = 1; k <= 30; ++k) m.push_back({6 + 3 * k, 0, 0});
  const Prepared p = prepare(card(m));
  ASSERT_EQ(p.status, ML_OK);
  EXPECT_EQ(p.form[258], 24);
  const std::uint64_t want = ((std::uint64_t{1} << 25) - 1) & ~std::uint64_t{1};
  std::uint64_t set = 0;
  for (int b = 0; b < 8; ++b) set |= std::uint64_t{p.form[258 + 25 + b]} << (8 * b);
  EXPECT_EQ(set, want);
  EXPECT_EQ(localstruct64_form_check(p.form.data(), static_cast<std::uint32_t>(p.form.size())), ML_OK);
}

TEST(LocalStruct64, SmallBuffersAndRefusedCopies) {
  const Bytes c = card(spread(10));
  Bytes out(LOCALSTRUCT64_SIZE), work(2064);
  std::uint16_t length = 0;
  EXPECT_EQ(localstruct64_prepare(work.data(), 2064, c.data(), static_cast<std::uint32_t>(c.size()), out.data(),
                                  2369, &length, localstruct64_copy),
            ML_NO_MEMORY);
  EXPECT_EQ(length, 2370);
  EXPECT_EQ(localstruct64_prepare(work.data(), 1025, c.data(), static_cast<std::uint32_t>(c.size()), out.data(),
                                  2370, &length, localstruct64_copy),
            ML_NO_MEMORY);
  auto refuse = [](std::uint8_t*, std::uint16_t offset, const std::uint8_t*, std::uint16_t) { return offset ? 1 : 0; };
  EXPECT_EQ(localstruct64_prepare(work.data(), 2064, c.data(), static_cast<std::uint32_t>(c.size()), out.data(),
                                  2370, &length, refuse),
            ML_CORRUPT);
  const std::uint8_t src[4] = {1, 2, 3, 4};
  EXPECT_EQ(localstruct64_copy(out.data(), 2366, src, 4), 0);
  EXPECT_EQ(localstruct64_copy(out.data(), 2367, src, 4), 1);
}

TEST(LocalStruct64, StoredFormChecks) {
  const Prepared p = prepare(card(spread(12)));
  ASSERT_EQ(p.status, ML_OK);
  const auto check = [](const Bytes& f) { return localstruct64_form_check(f.data(), static_cast<std::uint32_t>(f.size())); };
  ASSERT_EQ(check(p.form), ML_OK);
  Bytes f = p.form;
  f[258] = 25;  // count 25
  EXPECT_EQ(check(f), ML_CORRUPT);
  f = p.form;
  ASSERT_GT(f[258], 0);
  f[258] = static_cast<std::uint8_t>(f[258] - 1);  // the set holds one bit more than the count
  EXPECT_EQ(check(f), ML_CORRUPT);
  f = p.form;  // a neighbour index past n, count kept equal to the popcount
  f[258 + 25 + 7] = 0x80;
  f[258] = static_cast<std::uint8_t>(f[258] + 1);
  EXPECT_EQ(check(f), ML_CORRUPT);
  f = p.form;
  f.pop_back();  // shorter than 258 + 33 n
  EXPECT_EQ(check(f), ML_CORRUPT);
  f = p.form;
  f[0] = 65;
  EXPECT_EQ(check(f), ML_CORRUPT);
}

}  // namespace

namespace {

struct Compared {
  int status;
  CardMatchResult result;
  CardAlignment alignment;
};

Compared compare(const Bytes& a, const Bytes& b, int mode = 2, std::uint16_t work_size = 2064) {
  const Prepared form = prepare(a);
  EXPECT_EQ(form.status, ML_OK);
  Bytes work(work_size);
  Compared c{};
  c.result.kind = CARD_RESULT_KIND;
  c.status = localstruct64_compare(work.data(), work_size, form.form.data(), static_cast<std::uint32_t>(form.form.size()),
                                   b.data(), static_cast<std::uint32_t>(b.size()), &c.result, &c.alignment, mode);
  return c;
}

std::vector<Min> finger(std::uint32_t seed, int n) { return zyl::test::card_finger(seed, n); }
std::vector<Min> turn(const std::vector<Min>& m, int steps, int dx, int dy) {
  return zyl::test::card_turn(m, steps, dx, dy);
}

TEST(LocalStruct64Compare, SelfTurnedAndImpostor) {
  const auto a = finger(1, 30);
  const Compared self = compare(card(a), card(a));
  ASSERT_EQ(self.status, ML_OK);
  EXPECT_EQ(self.result.count, 9);
  EXPECT_GE(self.result.sub[1], 24);  // pairs
  EXPECT_EQ(self.alignment.angle, 0);
  EXPECT_EQ(self.alignment.dx, 0);
  EXPECT_EQ(self.alignment.dy, 0);
  // Turned 30 degrees (about 21 steps) and shifted.
  const Compared turned = compare(card(a), card(turn(a, 21, 6, -4)));
  ASSERT_EQ(turned.status, ML_OK);
  EXPECT_GT(turned.result.sub[1], 15);
  // Card directions come in steps of 4.
  EXPECT_LE(std::abs(static_cast<std::int8_t>(turned.alignment.angle - 21)), 4) << int(turned.alignment.angle);
  for (std::uint32_t seed = 2; seed < 7; ++seed) {
    const Compared imp = compare(card(a), card(finger(seed, 30)));
    ASSERT_EQ(imp.status, ML_OK);
    EXPECT_LT(imp.result.score * 4, turned.result.score) << seed;
  }
  EXPECT_GT(turned.result.score * 2, self.result.score / 4);
}

TEST(LocalStruct64Compare, EmptySidesOnePairAndBadForms) {
  const auto a = finger(3, 20);
  const Compared none = compare(card({}), card(a));
  ASSERT_EQ(none.status, ML_OK);
  EXPECT_EQ(none.result.score, 0);
  EXPECT_EQ(none.result.count, 1);
  // Two minutiae: at most one pair, which scores 0.
  const std::vector<Min> two = {{100, 100, 0}, {130, 100, 64}};
  EXPECT_EQ(compare(card(two), card(two)).result.score, 0);
  EXPECT_EQ(compare(card(a), card(a), 2, 2049).status, ML_CORRUPT);
  Prepared f = prepare(card(a));
  f.form[258] = 25;
  Bytes work(2064);
  const Bytes b = card(a);
  EXPECT_EQ(localstruct64_compare(work.data(), 2064, f.form.data(), static_cast<std::uint32_t>(f.form.size()), b.data(),
                                  static_cast<std::uint32_t>(b.size()), nullptr, nullptr, 0),
            ML_CORRUPT);
}

}  // namespace

namespace {

// Without mode bit 0 the direction tolerance is 32 steps (45 degrees): a
// copy turned by a quarter turn is refused pair by pair (only chance
// pairs of the drawn grid remain). The full-turn tolerance finds it and
// its turn.
TEST(LocalStruct64Compare, QuarterTurnNeedsTheFullTurnMode) {
  const auto a = finger(4, 30);
  const Bytes b = card(turn(a, 64, 3, 2));
  const Compared narrow = compare(card(a), b, 2);
  const Compared full = compare(card(a), b, 3);
  ASSERT_EQ(narrow.status, ML_OK);
  ASSERT_EQ(full.status, ML_OK);
  EXPECT_EQ(full.result.count, 9);
  EXPECT_GT(full.result.sub[1], 15);
  EXPECT_LT(narrow.result.sub[1], 6);
  EXPECT_LT(narrow.result.score * 20, full.result.score) << narrow.result.score << " " << full.result.score;
  EXPECT_LE(std::abs(static_cast<std::int8_t>(full.alignment.angle - 64)), 4) << int(full.alignment.angle);
  // A turn inside the narrow tolerance pairs in both modes.
  const Bytes small = card(turn(a, 16, 3, 2));
  EXPECT_GT(compare(card(a), small, 2).result.sub[1], 15);
  EXPECT_GT(compare(card(a), small, 3).result.sub[1], 15);
}

}  // namespace

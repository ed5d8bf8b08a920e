// The 46-minutia local-structure form and the compact matchers: form bytes
// by hand, batches against an in-place build, the checks of a stored form,
// buffer bounds, and the matchers on a print against itself, turned and
// shifted copies and impostors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/card_prints.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zyl::test::card_finger;
using zyl::test::card_of;
using zyl::test::card_turn;
using Min = zyl::test::CardMinutia;

constexpr std::uint8_t kGuard = 0x5A;
constexpr std::size_t kGuardBytes = 64;

// A caller buffer of `size` bytes between guard bytes that must stay put.
struct Guarded {
  Bytes bytes;
  std::size_t size;
  explicit Guarded(std::size_t n, std::uint8_t fill = 0) : bytes(n + 2 * kGuardBytes, kGuard), size(n) {
    std::fill_n(data(), n, fill);
  }
  std::uint8_t* data() { return bytes.data() + kGuardBytes; }
  bool intact() const {
    for (std::size_t i = 0; i < kGuardBytes; ++i)
      if (bytes[i] != kGuard || bytes[kGuardBytes + size + i] != kGuard) return false;
    return true;
  }
  Bytes first(std::size_t n) const { return Bytes(bytes.begin() + kGuardBytes, bytes.begin() + kGuardBytes + n); }
};

// Copy into a 1428-byte output; refuses writes past it.
int copy46(std::uint8_t* out, std::uint16_t offset, const std::uint8_t* src, std::uint16_t length) {
  if (offset + length > LOCALSTRUCT46_SIZE) return 1;
  std::copy_n(src, length, out + offset);
  return 0;
}

struct Packed {
  int status;
  Bytes form;
};

using Prepare = int (*)(uint8_t*, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint16_t, uint16_t*, LocalStructCopy);

Packed pack46(const Bytes& card, std::uint16_t work_size = 1500, bool in_place = false,
              Prepare prepare = localstruct46_prepare) {
  Guarded out(LOCALSTRUCT46_SIZE, 0xAA), work(work_size);
  std::uint16_t size = 0;
  const int st = in_place ? prepare(out.data(), LOCALSTRUCT46_SIZE, card.data(), static_cast<std::uint32_t>(card.size()),
                                    out.data(), LOCALSTRUCT46_SIZE, &size, copy46)
                          : prepare(work.data(), work_size, card.data(), static_cast<std::uint32_t>(card.size()),
                                    out.data(), LOCALSTRUCT46_SIZE, &size, copy46);
  EXPECT_TRUE(out.intact() && work.intact());
  return {st, st == ML_OK ? out.first(size) : Bytes{}};
}

Packed pack64(const Bytes& card, Prepare prepare = localstruct64_prepare) {
  Bytes out(LOCALSTRUCT64_SIZE), work(2064);
  std::uint16_t size = 0;
  const int st = prepare(work.data(), 2064, card.data(), static_cast<std::uint32_t>(card.size()), out.data(),
                         LOCALSTRUCT64_SIZE, &size, localstruct64_copy);
  out.resize(st == ML_OK ? size : 0);
  return {st, out};
}

int check46(const Bytes& f) { return localstruct46_form_check(f.data(), static_cast<std::uint32_t>(f.size())); }

TEST(LocalStruct46Form, BytesByHand) {
  const Packed none = pack46(card_of({}));
  ASSERT_EQ(none.status, ML_OK);
  EXPECT_EQ(none.form, Bytes(186, 0));

  // One minutia: the head and one record of count 0.
  const Packed one = pack46(card_of({{60, 70, 128}}));
  ASSERT_EQ(one.status, ML_OK);
  Bytes lone(186 + 27, 0);
  lone[0] = 1, lone[1] = 60, lone[2] = 70, lone[3] = 128, lone[4] = 240;
  EXPECT_EQ(one.form, lone);

  // Two minutiae 10 apart along x, a third beyond the far bound of all
  // (squared distance 115^2 > 12209 and more) and a fourth too near the
  // first (5^2 < 31).
  const Packed p = pack46(card_of({{100, 100, 0}, {110, 100, 64}, {100, 220, 128}, {100, 105, 192}}));
  ASSERT_EQ(p.status, ML_OK);
  ASSERT_EQ(p.form.size(), 186u + 4 * 27u);
  Bytes want(186 + 4 * 27, 0);
  want[0] = 4;
  const std::uint8_t head[] = {100, 100, 0, 240, 110, 100, 64, 240, 100, 220, 128, 240, 100, 105, 192, 240};
  std::copy(std::begin(head), std::end(head), want.begin() + 1);
  // Minutia 0 sees 1 at direction 192 from it (x grows to the right): relative 64.
  std::uint8_t* r = &want[186];
  r[0] = 1, r[1] = 64, r[21] = 0x02;
  // Minutia 1 sees 0 (direction 64 from it) and 3 (squared distance 125,
  // direction 83 from it: relative 64 - 83).
  r += 27;
  r[0] = 2, r[1] = 0, r[2] = 237, r[21] = 0x09;
  // Minutia 2 has none; minutia 3 sees 1 at direction -45: relative 192 + 45.
  r += 54;
  r[0] = 1, r[1] = 237, r[21] = 0x02;
  EXPECT_EQ(p.form, want);
  EXPECT_EQ(check46(p.form), ML_OK);
}

TEST(LocalStruct46Form, BatchesGiveTheBytesOfAnInPlaceBuild) {
  const Bytes c = card_of(card_finger(4, 46));
  const Packed whole = pack46(c, 0, true);
  ASSERT_EQ(whole.status, ML_OK);
  ASSERT_EQ(whole.form.size(), std::size_t{LOCALSTRUCT46_SIZE});
  EXPECT_EQ(check46(whole.form), ML_OK);
  // 954 bytes: batches of 28 records.
  for (std::uint16_t work : {954, 1000, 1454, 1455, 3000}) {
    const Packed p = pack46(c, work);
    ASSERT_EQ(p.status, ML_OK) << work;
    EXPECT_EQ(p.form, whole.form) << work;
  }
  const Packed alt = pack46(c, 1500, false, localstruct46_prepare_alt);
  EXPECT_EQ(alt.form, whole.form);
  // More than 46 minutiae: the first 46 as stored, every record within 20.
  auto many = card_finger(5, 46);
  for (int k = 0; k < 8; ++k) many.push_back({20 + 5 * k, 230, 32});
  const Packed capped = pack46(card_of(many));
  ASSERT_EQ(capped.status, ML_OK);
  EXPECT_EQ(capped.form[0], 46);
  EXPECT_EQ(capped.form[1], many[0].x);
  EXPECT_EQ(capped.form[1 + 4 * 45], many[45].x);
  for (int k = 0; k < 46; ++k) EXPECT_LE(capped.form[186 + 27 * k], 20);
}

TEST(LocalStruct46Form, SmallBuffersAndRefusedCopies) {
  const Bytes c = card_of(card_finger(6, 12));
  Guarded out(LOCALSTRUCT46_SIZE), work(2000);
  std::uint16_t size = 0;
  const auto run = [&](std::uint16_t work_size, std::uint16_t out_size, LocalStructCopy copy) {
    return localstruct46_prepare(work.data(), work_size, c.data(), static_cast<std::uint32_t>(c.size()), out.data(),
                                 out_size, &size, copy);
  };
  EXPECT_EQ(run(1500, 1427, copy46), ML_NO_MEMORY);
  EXPECT_EQ(size, 1428);
  EXPECT_EQ(run(953, 1428, copy46), ML_NO_MEMORY);
  EXPECT_EQ(run(1500, 1428, [](std::uint8_t*, std::uint16_t offset, const std::uint8_t*, std::uint16_t) {
              return offset ? 1 : 0;
            }),
            ML_CORRUPT);
  EXPECT_EQ(run(1500, 1428, nullptr), ML_BAD_ARGUMENT);
  const Bytes no_minutiae = zyl::test::el(0x7F2E, zyl::test::el(0xA2, {}));
  EXPECT_EQ(localstruct46_prepare(work.data(), 1500, no_minutiae.data(), static_cast<std::uint32_t>(no_minutiae.size()),
                                  out.data(), 1428, &size, copy46),
            ML_CORRUPT);
  EXPECT_TRUE(out.intact() && work.intact());
}

TEST(LocalStruct46Form, StoredFormChecks) {
  const Packed p = pack46(card_of(card_finger(7, 14)));
  ASSERT_EQ(p.status, ML_OK);
  ASSERT_EQ(check46(p.form), ML_OK);
  std::size_t r = 186;
  while (p.form[r] == 0 || p.form[r] >= 20) r += 27;  // a record with room for one more
  struct Case {
    const char* what;
    void (*spoil)(Bytes&, std::size_t);
  } cases[] = {
      {"count 3 over a set of 4", [](Bytes& f, std::size_t at) { f[at] = static_cast<std::uint8_t>(f[at] - 1); }},
      {"a set bit at n", [](Bytes& f, std::size_t at) { f[at + 21 + 14 / 8] |= 1 << (14 % 8), ++f[at]; }},
      {"a set bit at 47", [](Bytes& f, std::size_t at) { f[at + 26] |= 0x80, ++f[at]; }},
      {"count 21", [](Bytes& f, std::size_t at) { f[at] = 21; }},
      {"short by a byte", [](Bytes& f, std::size_t) { f.pop_back(); }},
      {"47 minutiae", [](Bytes& f, std::size_t) { f[0] = 47; }},
      {"no head", [](Bytes& f, std::size_t) { f.resize(185); }},
  };
  for (const Case& c : cases) {
    Bytes f = p.form;
    c.spoil(f, r);
    EXPECT_EQ(check46(f), ML_CORRUPT) << c.what;
  }
}

// One compact matcher with the form it reads.
struct Matcher {
  const char* name;
  int (*compare)(uint8_t*, uint16_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, CardMatchResult*,
                 CardAlignment*, int);
  bool form64;
  std::uint16_t work;
  int self_pairs;  // a 30-minutia print against itself: the link pool (416 or 614) holds the links of 20 or 25 minutiae
};

const Matcher kMatchers[] = {
    {"46", localstruct46_compare, false, LOCALSTRUCT46_COMPARE_WORK, 20},
    {"46 alt", localstruct46_compare_alt, false, LOCALSTRUCT46_COMPARE_ALT_WORK, 20},
    {"64 compact", localstruct64_compare_compact, true, LOCALSTRUCT46_COMPARE_WORK, 20},
    {"64 unreduced", localstruct64_compare_unreduced, true, LOCALSTRUCT64_COMPARE_WORK, 25},
};

struct Compared {
  int status;
  CardMatchResult result;
  CardAlignment alignment;
};

Bytes form_for(const Matcher& m, const Bytes& card) {
  const Packed p = m.form64 ? pack64(card, localstruct64_prepare_unreduced) : pack46(card);
  EXPECT_EQ(p.status, ML_OK);
  return p.form;
}

Compared run(const Matcher& m, const Bytes& form, const Bytes& probe, int option = 2, int work_size = -1) {
  const std::uint16_t size = static_cast<std::uint16_t>(work_size < 0 ? m.work : work_size);
  Guarded work(size);
  Compared c{};
  c.result.kind = CARD_RESULT_KIND;
  c.alignment = {99, 99, 99};
  c.status = m.compare(work.data(), size, form.data(), static_cast<std::uint32_t>(form.size()), probe.data(),
                       static_cast<std::uint32_t>(probe.size()), &c.result, &c.alignment, option);
  EXPECT_TRUE(work.intact()) << m.name;
  return c;
}

TEST(LocalStructCompact, SelfTurnedShiftedAndImpostors) {
  const auto a = card_finger(1, 30);
  for (const Matcher& m : kMatchers) {
    const Bytes form = form_for(m, card_of(a));
    const Compared self = run(m, form, card_of(a));
    ASSERT_EQ(self.status, ML_OK) << m.name;
    EXPECT_EQ(self.result.count, 9) << m.name;
    EXPECT_EQ(self.result.sub[1], m.self_pairs) << m.name;  // pairs
    EXPECT_EQ(self.alignment.angle, 0) << m.name;
    EXPECT_EQ(self.alignment.dx, 0) << m.name;
    EXPECT_EQ(self.alignment.dy, 0) << m.name;
    // A pure shift comes back exactly as the alignment offsets.
    auto shifted = a;
    for (Min& p : shifted) p.x += 7, p.y -= 5;
    const Compared moved = run(m, form, card_of(shifted));
    ASSERT_EQ(moved.status, ML_OK) << m.name;
    EXPECT_EQ(moved.alignment.angle, 0) << m.name;
    EXPECT_EQ(moved.alignment.dx, 7) << m.name;
    EXPECT_EQ(moved.alignment.dy, -5) << m.name;
    // Turned about 30 degrees (21 steps) and shifted: the turn comes back
    // within a card direction step.
    const Compared turned = run(m, form, card_of(card_turn(a, 21, 6, -4)));
    ASSERT_EQ(turned.status, ML_OK) << m.name;
    EXPECT_GT(turned.result.sub[1], 15) << m.name;
    EXPECT_LE(std::abs(static_cast<std::int8_t>(turned.alignment.angle - 21)), 4)
        << m.name << " " << int(turned.alignment.angle);
    EXPECT_GT(turned.result.score * 2, self.result.score / 4) << m.name;
    for (std::uint32_t seed = 2; seed < 7; ++seed) {
      const Compared imp = run(m, form, card_of(card_finger(seed, 30)));
      ASSERT_EQ(imp.status, ML_OK) << m.name;
      EXPECT_LT(imp.result.score * 4, turned.result.score) << m.name << " " << seed;
    }
  }
}

TEST(LocalStructCompact, EmptySidesOnePairOptionsAndRefusals) {
  const auto a = card_finger(3, 20);
  const std::vector<Min> two = {{100, 100, 0}, {130, 100, 64}};
  for (const Matcher& m : kMatchers) {
    const Bytes form = form_for(m, card_of(a));
    // No minutiae on either side: score 0, zero alignment.
    for (const auto& [ref, probe] : {std::pair{card_of({}), card_of(a)}, std::pair{card_of(a), card_of({})}}) {
      const Compared c = run(m, form_for(m, ref), probe);
      ASSERT_EQ(c.status, ML_OK) << m.name;
      EXPECT_EQ(c.result.score, 0) << m.name;
      EXPECT_EQ(c.result.count, 1) << m.name;
      EXPECT_EQ(c.alignment.angle, 0) << m.name;
      EXPECT_EQ(c.alignment.dx, 0) << m.name;
      EXPECT_EQ(c.alignment.dy, 0) << m.name;
    }
    // Two minutiae: at most one pair, which scores 0.
    EXPECT_EQ(run(m, form_for(m, card_of(two)), card_of(two)).result.score, 0) << m.name;
    // Without option bit 1 the count stays 0 and no sub-value is written.
    const Compared quiet = run(m, form, card_of(a), 0);
    EXPECT_GT(quiet.result.score, 0) << m.name;
    EXPECT_EQ(quiet.result.count, 0) << m.name;
    EXPECT_EQ(quiet.result.sub[1], 0) << m.name;
    // Work area one byte short; a form short by a byte; a probe without minutiae.
    EXPECT_EQ(run(m, form, card_of(a), 2, m.work - 1).status, ML_CORRUPT) << m.name;
    Bytes cut = form;
    cut.pop_back();
    EXPECT_EQ(run(m, cut, card_of(a)).status, ML_CORRUPT) << m.name;
    EXPECT_EQ(run(m, form, zyl::test::el(0x7F2E, zyl::test::el(0xA2, {}))).status, ML_CORRUPT) << m.name;
    // A 46-minutia form is no 64-minutia form and the other way round.
    const Matcher& other = m.form64 ? kMatchers[0] : kMatchers[2];
    EXPECT_EQ(run(other, form, card_of(a)).status, ML_CORRUPT) << m.name;
  }
}

TEST(LocalStructCompact, QualityNibblesMustAgree) {
  auto a = card_finger(8, 30);
  for (Min& p : a) p.quality = 0xA4;
  for (const Matcher& m : kMatchers) {
    const Bytes form = form_for(m, card_of(a));
    auto near = a, far = a;
    for (Min& p : near) p.quality = 0xB5;  // low nibbles 1 apart
    for (Min& p : far) p.quality = 0xA6;   // 2 apart
    EXPECT_EQ(run(m, form, card_of(near)).result.sub[1], m.self_pairs) << m.name;
    EXPECT_EQ(run(m, form, card_of(far)).result.score, 0) << m.name;
  }
}

}  // namespace

namespace {

// The unreduced 64-minutia build reads cards as stored and counts poor
// minutiae by quality alone; the plain build reduces cards of more than 64
// minutiae and counts unpaired minutiae in conflict as poor.
TEST(LocalStruct64Unreduced, ReadsAsStoredAndIgnoresConflicts) {
  std::vector<Min> many;
  for (int k = 0; k < 70; ++k) many.push_back({20 + (k % 10) * 18, 20 + (k / 10) * 18, (k * 52) & 0xFC});
  const Packed plain = pack64(card_of(many)), unreduced = pack64(card_of(many), localstruct64_prepare_unreduced);
  ASSERT_EQ(plain.status, ML_OK);
  ASSERT_EQ(unreduced.status, ML_OK);
  ASSERT_EQ(unreduced.form[0], 64);
  for (int k = 0; k < 64; ++k) {
    EXPECT_EQ(unreduced.form[1 + 4 * k], many[k].x) << k;
    EXPECT_EQ(unreduced.form[2 + 4 * k], many[k].y) << k;
  }
  EXPECT_NE(plain.form, unreduced.form);

  // A probe with one more minutia beside minutia 10, parallel to it and 3
  // away: a conflict that the plain build counts as poor.
  const auto a = card_finger(1, 30);
  auto b = a;
  b.push_back({a[10].x + 3, a[10].y, a[10].direction});
  const Bytes form = pack64(card_of(a)).form;
  auto compare = [&](auto fn) {
    Bytes work(2064);
    CardMatchResult r{};
    r.kind = CARD_RESULT_KIND;
    const Bytes probe = card_of(b);
    EXPECT_EQ(fn(work.data(), 2064, form.data(), static_cast<std::uint32_t>(form.size()), probe.data(),
                 static_cast<std::uint32_t>(probe.size()), &r, nullptr, 2),
              ML_OK);
    return r;
  };
  const CardMatchResult p = compare(localstruct64_compare), u = compare(localstruct64_compare_unreduced);
  EXPECT_EQ(p.sub[1], u.sub[1]);  // the same pairs
  EXPECT_GT(p.score, u.score);    // one inside minutia fewer, one poor more
}

}  // namespace

// The 64-minutia local-structure form: sizes, batches against an in-place
// build, the neighbour distance band and the 24 nearest, the copy
// callback's bound, and the checks of a stored form.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Min {
  int x, y, direction;
};

// A card template holding only a minutiae element (7F2E / 81).
Bytes card(const std::vector<Min>& m) {
  // BER lengths: one byte below 128, else 0x81 and the length.
  auto put_length = [](Bytes& b, std::size_t n) {
    if (n >= 128) b.push_back(0x81);
    b.push_back(static_cast<std::uint8_t>(n));
  };
  Bytes inner;
  inner.push_back(0x81);
  put_length(inner, 3 * m.size());
  for (const Min& p : m) {
    inner.push_back(static_cast<std::uint8_t>(p.x));
    inner.push_back(static_cast<std::uint8_t>(p.y));
    inner.push_back(static_cast<std::uint8_t>(p.direction / 4));
  }
  Bytes out;
  out.push_back(0x7F);
  out.push_back(0x2E);
  put_length(out, inner.size());
  out.insert(out.end(), inner.begin(), inner.end());
  return out;
}

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

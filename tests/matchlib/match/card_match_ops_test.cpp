// Card stage operations: the card-only match of two templates (self,
// impostor, converted minutiae records, failures) and the card and
// card+grid fuses' count checks and zero-score short cut.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct BlobDeleter {
  void operator()(DataBlob* b) const { blob_release(b); }
};
using Blob = std::unique_ptr<DataBlob, BlobDeleter>;
struct ContextDeleter {
  void operator()(MatchContext* c) const { ctx_release(c); }
};
using Context = std::unique_ptr<MatchContext, ContextDeleter>;

// A card template of jittered minutiae inside the card window (7F2E / 81).
Bytes card(std::uint32_t seed, int n) {
  std::uint32_t st = seed * 2654435761u + 1;
  auto rnd = [&st](int m) {
    st = st * 1664525u + 1013904223u;
    return static_cast<int>((st >> 8) % static_cast<std::uint32_t>(m));
  };
  Bytes inner{0x81, 0x81, static_cast<std::uint8_t>(3 * n)};
  for (int k = 0; k < n; ++k) {
    inner.push_back(static_cast<std::uint8_t>(70 + (k % 6) * 20 + rnd(9)));
    inner.push_back(static_cast<std::uint8_t>(70 + (k / 6) * 20 + rnd(9)));
    inner.push_back(static_cast<std::uint8_t>(rnd(64)));
  }
  const auto size = static_cast<std::uint8_t>(inner.size());
  inner.insert(inner.begin(), {0x7F, 0x2E, 0x81, size});
  return inner;
}

Blob card_blob(const Bytes& c) { return Blob(blob_create(2, c.data(), static_cast<std::uint32_t>(c.size()))); }

struct Answer {
  int status;
  std::vector<std::uint16_t> v;
  RigidTransform* alignment;
};

Answer run(MatchContext* ctx, DataBlob* a, DataBlob* b) {
  Answer r{};
  std::uint16_t* v = reinterpret_cast<std::uint16_t*>(1);
  std::uint16_t count = 77;
  r.alignment = xform_create(3, 4, 5);
  r.status = match_card(ctx, a, b, &v, &count, &r.alignment);
  if (r.status) {
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(r.alignment, nullptr);
  }
  if (v) r.v.assign(v, v + count);
  std::free(v);
  return r;
}

TEST(MatchCard, SelfScoresAtZeroAlignmentAndAnImpostorLower) {
  Context ctx(ctx_create());
  const Bytes a = card(7, 30);
  Blob ba = card_blob(a), bb = card_blob(a);
  const Answer self = run(ctx.get(), ba.get(), bb.get());
  ASSERT_EQ(self.status, ML_OK);
  ASSERT_EQ(self.v.size(), 9u);
  EXPECT_GT(self.v[0], 0);
  EXPECT_GE(self.v[2], 8);  // paired minutiae
  ASSERT_NE(self.alignment, nullptr);
  EXPECT_EQ(xform_get_dx(self.alignment), 0);
  EXPECT_EQ(xform_get_dy(self.alignment), 0);
  EXPECT_EQ(xform_get_angle(self.alignment), 0);
  xform_release(self.alignment);

  Blob other = card_blob(card(99, 30));
  const Answer imp = run(ctx.get(), ba.get(), other.get());
  ASSERT_EQ(imp.status, ML_OK);
  EXPECT_LT(imp.v[0], self.v[0] / 2);
  xform_release(imp.alignment);
}

TEST(MatchCard, MinutiaeRecordsAreConvertedToCards) {
  Context ctx(ctx_create());
  const Bytes a = card(11, 24);
  std::uint8_t* iso = nullptr;
  std::uint32_t iso_size = 0;
  ASSERT_EQ(card_to_iso2005(a.data(), static_cast<std::uint32_t>(a.size()), &iso, &iso_size), ML_OK);
  Blob record(blob_create(1, iso, iso_size));
  std::free(iso);
  Blob converted(card_section_to_template(record.get()));
  ASSERT_NE(converted, nullptr);
  EXPECT_EQ(blob_type(converted.get()), 2);
  Blob ba = card_blob(a);
  const Answer r = run(ctx.get(), ba.get(), record.get());
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_GT(r.v[0], 0);
  xform_release(r.alignment);
}

TEST(MatchCard, Failures) {
  Context ctx(ctx_create());
  Blob ba = card_blob(card(7, 20));
  const Bytes junk{1, 2, 3, 4};
  Blob bad(blob_create(77, junk.data(), 4));
  EXPECT_EQ(run(ctx.get(), ba.get(), bad.get()).status, ML_WRONG_KIND);
  EXPECT_EQ(run(ctx.get(), nullptr, ba.get()).status, ML_BAD_ARGUMENT);
  EXPECT_EQ(card_section_to_template(nullptr), nullptr);
}

TEST(CardFuses, CountsAndZeroScores) {
  std::uint16_t out = 55;
  const std::vector<std::uint16_t> zeros(30, 0);
  std::vector<std::uint16_t> grid_only(30, 0);
  grid_only[9] = 1;
  // Zero scores give 0 without a profile; wrong counts are refused.
  EXPECT_EQ(fuse_card_grid(nullptr, nullptr, nullptr, zeros.data(), 30, nullptr, &out), ML_OK);
  EXPECT_EQ(out, 0);
  out = 55;
  EXPECT_EQ(fuse_card_grid(nullptr, nullptr, nullptr, zeros.data(), 29, nullptr, &out), ML_CORRUPT);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(fuse_card(nullptr, nullptr, nullptr, zeros.data(), 9, nullptr, &out), ML_OK);
  EXPECT_EQ(fuse_card(nullptr, nullptr, nullptr, zeros.data(), 30, nullptr, &out), ML_CORRUPT);
  // A non-zero grid score reaches the profile: without one the fuse fails.
  EXPECT_NE(fuse_card_grid(nullptr, nullptr, nullptr, grid_only.data(), 30, nullptr, &out), ML_OK);
}

}  // namespace

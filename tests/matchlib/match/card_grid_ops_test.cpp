// Card+grid stage operations on extended card templates (a card, the
// compact block map of a real crop and the image information): identical
// templates, the quality divisor of the grid score, the switch to the card
// alignment, the grid-only operation and the failure state.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_bandgrid.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_image.h"
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

void put_element(Bytes& out, std::initializer_list<std::uint8_t> tag, const Bytes& value) {
  out.insert(out.end(), tag);
  const std::size_t n = value.size();
  if (n < 128) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n));
  }
  out.insert(out.end(), value.begin(), value.end());
}

// Card minutiae on a jittered grid; `n` of them, moved by (dx, dy) card
// units.
Bytes card(int n, int dx = 0, int dy = 0) {
  Bytes minutiae;
  for (int k = 0; k < n; ++k) {
    minutiae.push_back(static_cast<std::uint8_t>(70 + dx + (k % 6) * 20 + (k * 7) % 9));
    minutiae.push_back(static_cast<std::uint8_t>(70 + dy + (k / 6) * 20 + (k * 5) % 9));
    minutiae.push_back(static_cast<std::uint8_t>((k * 23) % 64));
  }
  Bytes inner, out;
  put_element(inner, {0x81}, minutiae);
  put_element(out, {0x7F, 0x2E}, inner);
  return out;
}

const Bytes& crop_map() {
  static const Bytes map = [] {
    const zyl::test::GreyImage img = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_160.pgm"));
    MatchContext* ctx = ctx_create();
    GrayImage* gi = image_create(img.height, img.width, 500, 500, img.pixels.data(), 0);
    DataBlob* blob = nullptr;
    EXPECT_EQ(stage_extract_gridmap250(ctx, gi, nullptr, 66, &blob), ML_OK);
    // The extracted grid map (5B DA 02, cell size, resolution, columns,
    // rows, 2 bytes, cells) in the short compact form: cell size, vertical
    // origin, rows, horizontal origin, columns, cells.
    Bytes m;
    if (blob) {
      const std::uint8_t* g = blob_data(blob);
      const int columns = g[6], rows = g[7];
      m = {g[3], 0, static_cast<std::uint8_t>(rows), 0, static_cast<std::uint8_t>(columns)};
      m.insert(m.end(), g + 10, g + 10 + 2 * rows * columns);
    }
    blob_release(blob);
    image_release(gi);
    ctx_release(ctx);
    return m;
  }();
  return map;
}

// E1 { 7F2E card, C1 map, C3 image information } as a format-67 blob.
Blob extended(int minutiae, std::uint8_t quality, int dx = 0, int dy = 0) {
  Bytes inner = card(minutiae, dx, dy);
  put_element(inner, {0xC1}, crop_map());
  put_element(inner, {0xC3}, Bytes{1, 160, 0, 160, 0, quality});
  Bytes out;
  put_element(out, {0xE1}, inner);
  return Blob(blob_create(67, out.data(), static_cast<std::uint32_t>(out.size())));
}

struct Answer {
  int status;
  std::vector<std::uint16_t> v;
  RigidTransform* alignment;
};

Answer run(StageMatchRoutine op, MatchContext* ctx, DataBlob* a, DataBlob* b,
           RigidTransform* incoming, bool with_alignment = true) {
  Answer r{};
  std::uint16_t* v = reinterpret_cast<std::uint16_t*>(1);
  std::uint16_t count = 77;
  r.alignment = incoming;
  r.status = op(ctx, a, b, &v, &count, with_alignment ? &r.alignment : nullptr);
  if (r.status) {
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(count, 0);
    if (with_alignment) {
      EXPECT_EQ(r.alignment, nullptr);
    }
  }
  if (v) r.v.assign(v, v + count);
  std::free(v);
  return r;
}

TEST(CardGridOps, IdenticalTemplatesAgree) {
  Context ctx(ctx_create());
  Blob a = extended(30, 80), b = extended(30, 80);
  for (StageMatchRoutine op : {match_card_grid, match_card_grid_detail, match_card_grid_fixed}) {
    const Answer r = run(op, ctx.get(), a.get(), b.get(), xform_create(0, 0, 0));
    ASSERT_EQ(r.status, ML_OK);
    ASSERT_EQ(r.v.size(), 30u);
    EXPECT_GT(r.v[0], 0);
    EXPECT_GT(r.v[9], 0);
    EXPECT_EQ(r.v[26], 0);
    EXPECT_EQ(r.v[27], 0);
    EXPECT_EQ(r.v[28], 0);
    EXPECT_EQ(r.v[29], 35);  // isqrt(20 x 64)
    xform_release(r.alignment);
  }
}

TEST(CardGridOps, GridScoreDividedByQuality) {
  Context ctx(ctx_create());
  auto grid = [&](std::uint8_t q) {
    Blob a = extended(30, q), b = extended(30, q);
    const Answer r = run(match_card_grid, ctx.get(), a.get(), b.get(), nullptr, false);
    EXPECT_EQ(r.status, ML_OK);
    return r.v.size() == 30 ? static_cast<int>(r.v[9]) : -1;
  };
  const int low = grid(30), sixty = grid(60), top = grid(100), over = grid(200);
  EXPECT_EQ(low, sixty);  // qualities up to 60 share the divisor 194
  EXPECT_EQ(top, over);   // qualities are limited to 100
  ASSERT_GT(top, 0);
  // Same raw score: 232 / 194 against 232 / 250, up to truncation.
  EXPECT_NEAR(sixty * 194.0, top * 250.0, 250.0);
}

TEST(CardGridOps, EightPairedMinutiaeHandBackTheCardAlignment) {
  Context ctx(ctx_create());
  Blob a = extended(30, 80), b = extended(30, 80);
  // A far-off incoming alignment is ignored once the card pairs 8 or more.
  const Answer r = run(match_card_grid, ctx.get(), a.get(), b.get(), xform_create_dpi(37, -23, 20, 500));
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_GE(r.v[2], 8);
  ASSERT_NE(r.alignment, nullptr);
  EXPECT_EQ(xform_get_dx(r.alignment), 0);
  EXPECT_EQ(xform_get_dy(r.alignment), 0);
  EXPECT_EQ(xform_get_angle(r.alignment), 0);
  xform_release(r.alignment);
}

TEST(CardGridOps, FixedVariantScoresTheGridAtTheIncomingAlignmentUnderEightPairs) {
  // The second card is the first moved by 10 and 5 card units; the block
  // maps are the same. Its 6 minutiae pair fewer than 8, so with the default
  // sensor size the grid is scored only at the incoming alignment (zero),
  // exactly as the grid-only operation scores it there, while the card
  // alignment is what the operation hands back.
  Context ctx(ctx_create());
  ASSERT_EQ(param_set_360(ctx.get(), 0), ML_OK);
  Blob a = extended(6, 80), b = extended(6, 80, 10, 5);
  const Answer fixed = run(match_card_grid_fixed, ctx.get(), a.get(), b.get(), xform_create(0, 0, 0));
  const Answer grid = run(match_grid_map, ctx.get(), a.get(), b.get(), xform_create(0, 0, 0));
  ASSERT_EQ(fixed.status, ML_OK);
  ASSERT_EQ(grid.status, ML_OK);
  EXPECT_GT(fixed.v[0], 0);
  EXPECT_LT(fixed.v[2], 8);
  EXPECT_EQ(std::vector<std::uint16_t>(fixed.v.begin() + 9, fixed.v.begin() + 26),
            std::vector<std::uint16_t>(grid.v.begin() + 9, grid.v.begin() + 26));
  ASSERT_NE(fixed.alignment, nullptr);
  // 0.1 mm to pixels: 10 x 197 / 100 = 19 and 5 x 197 / 100 = 9, one way
  // or the other.
  EXPECT_EQ(std::abs(xform_get_dx(fixed.alignment)), 19);
  EXPECT_EQ(std::abs(xform_get_dy(fixed.alignment)), 9);
  xform_release(fixed.alignment);
  // The search variant scores there too and hands the grid's alignment back.
  const Answer search = run(match_card_grid, ctx.get(), a.get(), b.get(), xform_create(0, 0, 0));
  ASSERT_EQ(search.status, ML_OK);
  EXPECT_GE(search.v[9], fixed.v[9]);
  xform_release(search.alignment);
}

TEST(CardGridOps, GridMapAloneNeedsAndConsumesTheAlignment) {
  Context ctx(ctx_create());
  Blob a = extended(30, 90), b = extended(30, 70);
  EXPECT_EQ(run(match_grid_map, ctx.get(), a.get(), b.get(), nullptr, false).status, ML_BAD_ARGUMENT);
  const Answer r = run(match_grid_map, ctx.get(), a.get(), b.get(), xform_create(0, 0, 0));
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_EQ(r.alignment, nullptr);
  ASSERT_EQ(r.v.size(), 30u);
  for (int k : {0, 1, 2, 3, 4, 5, 6, 7, 8, 26, 27}) EXPECT_EQ(r.v[k], 0) << k;
  EXPECT_GT(r.v[9], 0);
  EXPECT_EQ(r.v[28], 20);
  EXPECT_EQ(r.v[29], 25);  // isqrt(10 x 64)
}

TEST(CardGridOps, FailuresLeaveNothing) {
  Context ctx(ctx_create());
  Blob a = extended(30, 80);
  const Bytes c = card(30);
  Blob plain(blob_create(2, c.data(), static_cast<std::uint32_t>(c.size())));  // no block map
  for (StageMatchRoutine op : {match_card_grid, match_card_grid_fixed, match_grid_map})
    EXPECT_NE(run(op, ctx.get(), a.get(), plain.get(), xform_create(1, 2, 3)).status, ML_OK);
  EXPECT_EQ(run(match_card_grid, nullptr, a.get(), a.get(), xform_create(1, 2, 3)).status, ML_BAD_ARGUMENT);
}

TEST(CardGridOps, ImageInformation) {
  Blob a = extended(10, 77);
  std::uint16_t w = 0, h = 0;
  std::uint8_t q = 0;
  EXPECT_EQ(card_template_image_info(a.get(), &w, &h, &q), ML_OK);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 160);
  EXPECT_EQ(q, 77);
  const Bytes c = card(5);
  Blob plain(blob_create(2, c.data(), static_cast<std::uint32_t>(c.size())));
  EXPECT_EQ(card_template_image_info(plain.get(), &w, &h, &q), ML_OK);
  EXPECT_EQ(w, 192);
  EXPECT_EQ(q, 0);
}

}  // namespace

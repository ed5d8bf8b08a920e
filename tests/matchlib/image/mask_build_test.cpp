// Building an image's mask bits from its settings, the map forms, and the
// planes derived for reoriented, turned and pasted images.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_reorient.h"

namespace {

using zyl::matchlib::Ref;
using Bytes = std::vector<uint8_t>;

// A busy image: every pixel differs strongly from its neighbours, so the
// background segmentation marks nothing.
Ref<GrayImage> busy_image(int h, int w) {
  Bytes px(size_t(h) * w);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) px[size_t(i) * w + j] = (i + j) % 2 ? 230 : 20;
  return Ref<GrayImage>::adopt(image_create(h, w, 500, 500, px.data(), 0));
}

Bytes bits_of(const GrayImage* img, int bits) {
  const MaskPlane* m = image_mask_plane(img);
  Bytes out(size_t(image_height(img)) * image_width(img), 0);
  if (m) mask_extract_bits(m, bits, out.data());
  return out;
}

MaskSettings settings(int radius, int col, int row, int rw, int rh, int left, int top) {
  return MaskSettings{radius, col, row, rw, rh, left, top, 0, 0};
}

TEST(MaskBuild, RegionFromCircleRectangleOrNeither) {
  struct Case {
    const char* name;
    MaskSettings s;
    int h, w;
    bool (*inside)(int i, int j);
  } cases[] = {
      {"nothing", settings(0, 50, 50, 0, 0, 0, 0), 20, 30, [](int, int) { return true; }},
      {"rectangle without width", settings(0, 50, 50, 0, 10, 2, 2), 20, 30,
       [](int, int) { return true; }},
      {"circle", settings(10, 50, 50, 0, 0, 0, 0), 100, 100,
       [](int i, int j) { return (i - 50) * (i - 50) + (j - 50) * (j - 50) <= 100; }},
      {"rectangle", settings(0, 0, 0, 7, 5, 3, 4), 20, 30,
       [](int i, int j) { return i >= 4 && i < 9 && j >= 3 && j < 10; }},
      {"circle cut by rectangle", settings(6, 10, 10, 30, 4, 0, 8), 20, 30,
       [](int i, int j) {
         return (i - 10) * (i - 10) + (j - 10) * (j - 10) <= 36 && i >= 8 && i < 12;
       }},
  };
  for (const auto& c : cases) {
    auto img = busy_image(c.h, c.w);
    ASSERT_EQ(image_build_masks(img.get(), &c.s, 0), ML_OK) << c.name;
    const Bytes roi = bits_of(img.get(), MASK_OUTSIDE_ROI);
    for (int i = 0; i < c.h; ++i)
      for (int j = 0; j < c.w; ++j)
        ASSERT_EQ(roi[size_t(i) * c.w + j], c.inside(i, j) ? 0 : 1)
            << c.name << " at " << i << "," << j;
    EXPECT_EQ(img->mask_settings.circle_radius, c.s.circle_radius);
    EXPECT_EQ(img->region_built, 1);
    EXPECT_EQ(img->background_built, 1);
  }
}

TEST(MaskBuild, BackgroundUsesTheDefaultsForZeroSettings) {
  std::mt19937 rng(5);
  const int h = 40, w = 50;
  Bytes px(size_t(h) * w, 128);
  for (int i = 10; i < 30; ++i)
    for (int j = 5; j < 35; ++j) px[size_t(i) * w + j] = uint8_t(rng() % 256);
  Bytes expected(px.size());
  ASSERT_EQ(imgproc_segment_local_variance(px.data(), h, w, 64, 75, expected.data()), ML_OK);
  for (auto [threshold, vote] : {std::pair{0, 0}, {-3, -1}, {64, 75}}) {
    auto img = Ref<GrayImage>::adopt(image_create(h, w, 500, 500, px.data(), 0));
    MaskSettings s = settings(0, 0, 0, 0, 0, 0, 0);
    s.variance_threshold = threshold;
    s.vote_percent = vote;
    ASSERT_EQ(image_build_masks(img.get(), &s, 0), ML_OK);
    const Bytes bg = bits_of(img.get(), MASK_BACKGROUND);
    for (size_t i = 0; i < bg.size(); ++i)
      ASSERT_EQ(bg[i], expected[i] ? 0 : MASK_BACKGROUND) << threshold << " at " << i;
  }
  auto img = Ref<GrayImage>::adopt(image_create(h, w, 500, 500, px.data(), 0));
  ASSERT_EQ(image_build_background_default(img.get()), ML_OK);
  EXPECT_EQ(mask_bits_percent(image_mask_plane(img.get()), MASK_BACKGROUND),
            mask_bits_percent(image_mask_plane(img.get()), 0xFF));
  EXPECT_EQ(img->background_built, 0);  // nothing else changes
}

TEST(MaskBuild, RebuildsOnlyWhenForcedAndOnlyAddsBits) {
  auto img = busy_image(30, 30);
  const MaskSettings small = settings(5, 15, 15, 0, 0, 0, 0);
  const MaskSettings large = settings(12, 15, 15, 0, 0, 0, 0);
  const MaskSettings offset = settings(5, 5, 5, 0, 0, 0, 0);
  ASSERT_EQ(image_build_masks(img.get(), &small, 0), ML_OK);
  const Bytes first = bits_of(img.get(), MASK_OUTSIDE_ROI);
  ASSERT_EQ(image_build_masks(img.get(), &offset, 0), ML_OK);
  EXPECT_EQ(bits_of(img.get(), MASK_OUTSIDE_ROI), first);
  EXPECT_EQ(img->mask_settings.circle_column, 15);
  ASSERT_EQ(image_build_masks(img.get(), &large, 1), ML_OK);
  EXPECT_EQ(bits_of(img.get(), MASK_OUTSIDE_ROI), first);  // a larger circle removes nothing
  ASSERT_EQ(image_build_masks(img.get(), &offset, 1), ML_OK);
  const Bytes both = bits_of(img.get(), MASK_OUTSIDE_ROI);
  EXPECT_EQ(both[size_t(15) * 30 + 15], 1);  // outside the new circle
  EXPECT_EQ(both[size_t(5) * 30 + 5], 1);    // outside the old one
  ASSERT_EQ(image_rebuild_masks(img.get()), ML_OK);
  EXPECT_EQ(image_build_masks(img.get(), nullptr, 1), ML_BAD_ARGUMENT);
  EXPECT_EQ(image_build_masks(nullptr, &small, 1), ML_BAD_ARGUMENT);
}

TEST(MaskBuild, SettingsFromParametersWithImageDefaults) {
  auto img = busy_image(21, 33);
  MaskSettings s{};
  ASSERT_EQ(mask_settings_from_params(img.get(), nullptr, &s), ML_OK);
  EXPECT_EQ(s.circle_radius, 0);
  EXPECT_EQ(s.circle_column, 16);
  EXPECT_EQ(s.circle_row, 10);
  EXPECT_EQ(s.variance_threshold, 64);
  EXPECT_EQ(s.vote_percent, 75);
  MatchContext* ctx = ctx_create();
  param_set(ctx, 0x0cb73cb4, 4);
  param_set(ctx, 0x45561a26, 9);
  param_set(ctx, 0x4a550e6a, 2);
  param_set(ctx, 0xb4f25cce, 40);
  ASSERT_EQ(mask_settings_from_params(img.get(), ctx, &s), ML_OK);
  EXPECT_EQ(s.circle_radius, 4);
  EXPECT_EQ(s.rect_width, 9);
  EXPECT_EQ(s.rect_top, 2);
  EXPECT_EQ(s.vote_percent, 40);
  ASSERT_EQ(image_build_masks_from_params(img.get(), ctx), ML_OK);
  EXPECT_EQ(img->mask_settings.circle_radius, 4);
  EXPECT_EQ(bits_of(img.get(), MASK_OUTSIDE_ROI)[0], 1);
  EXPECT_EQ(mask_settings_from_params(nullptr, ctx, &s), ML_BAD_ARGUMENT);
  EXPECT_EQ(mask_settings_from_params(img.get(), ctx, nullptr), ML_BAD_ARGUMENT);
  ctx_release(ctx);
}

TEST(MaskBuild, MapFormsAssignOrAddTheChosenBit) {
  const Bytes map = {0, 1, 0, 7};
  struct Case {
    int (*op)(GrayImage*, const uint8_t*, int);
    int which;
    Bytes expected;
  } cases[] = {{image_mask_from_map, 0, {0x01, 0x02, 0x01, 0x02}},
               {image_mask_from_map, 1, {0x02, 0x01, 0x03, 0x00}},
               {image_mask_or_from_map, 0, {0x01, 0x03, 0x01, 0x02}},
               {image_mask_or_from_map, 5, {0x02, 0x03, 0x03, 0x02}}};
  for (const auto& c : cases) {
    auto img = Ref<GrayImage>::adopt(image_create(2, 2, 500, 500, nullptr, 0));
    MaskPlane* m = image_mask_plane_ensure(img.get());
    const uint8_t start[4] = {0x00, 0x03, 0x01, 0x02};
    std::copy(start, start + 4, mask_cells(m));
    ASSERT_EQ(c.op(img.get(), map.data(), c.which), ML_OK);
    EXPECT_EQ(Bytes(mask_cells(m), mask_cells(m) + 4), c.expected) << c.which;
  }
  auto fresh = Ref<GrayImage>::adopt(image_create(2, 2, 500, 500, nullptr, 0));
  ASSERT_EQ(image_mask_or_from_map(fresh.get(), map.data(), 0), ML_OK);  // plane made on demand
  EXPECT_EQ(bits_of(fresh.get(), 0xFF), (Bytes{1, 0, 1, 0}));
}

TEST(MaskBuild, EllipseMapZeroesOutside) {
  Bytes map(7 * 9, 5);
  mask_ellipse_map(map.data(), 7, 9, 2, 3);
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 9; ++c) {
      const int i = r - 3, j = c - 4;
      const bool outside = i * i * 9 + j * j * 4 > 36;
      EXPECT_EQ(map[size_t(r) * 9 + c], outside ? 0 : 5) << r << "," << c;
    }
}

TEST(MaskDerive, ReorientRotateAndPasteFollowThePixels) {
  MaskPlane* m = mask_create(2, 3);
  const uint8_t cells[6] = {1, 2, 3, 4, 5, 6};
  std::copy(cells, cells + 6, mask_cells(m));

  MaskPlane* q = mask_reorient(m, 4);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(mask_height(q), 3);
  EXPECT_EQ(mask_width(q), 2);
  Bytes expected(6);
  ASSERT_EQ(img_flip_rotate_u8(cells, 2, 3, 4, expected.data()), ML_OK);
  EXPECT_EQ(Bytes(mask_cells(q), mask_cells(q) + 6), expected);
  MaskPlane* mirrored = mask_reorient(m, 1);
  EXPECT_EQ(Bytes(mask_cells(mirrored), mask_cells(mirrored) + 6), (Bytes{3, 2, 1, 6, 5, 4}));

  MaskPlane* big = mask_create(21, 21);
  MaskPlane* turned = mask_rotate(big, 32);  // an eighth of a turn
  ASSERT_NE(turned, nullptr);
  EXPECT_GT(mask_height(turned), 21);
  EXPECT_EQ(mask_test_bits(turned, 0xFF, 0), MASK_OUTSIDE_SOURCE);  // a corner came from outside
  const int centre = (mask_height(turned) / 2) * mask_width(turned) + mask_width(turned) / 2;
  EXPECT_EQ(mask_test_bits(turned, 0xFF, centre), 0);

  MaskPlane* pasted = mask_paste(big, m, 1, 2);
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(mask_test_bits(pasted, 0xFF, 1 * 21 + 2), 1);
  EXPECT_EQ(mask_test_bits(pasted, 0xFF, 2 * 21 + 4), 6);
  EXPECT_EQ(mask_test_bits(big, 0xFF, 1 * 21 + 2), 0);  // the base is untouched
  EXPECT_EQ(mask_paste(nullptr, m, 0, 0), nullptr);
  for (MaskPlane* p : {m, q, mirrored, big, turned, pasted}) mask_release(p);
}

}  // namespace

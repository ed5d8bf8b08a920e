// Images derived by geometry: windows and their source windows, shared
// rows, resizing and resampling, crops, extension, framing and tiling.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_window.h"

namespace {

using zyl::matchlib::Ref;
using Bytes = std::vector<uint8_t>;

Ref<GrayImage> adopt(GrayImage* img) { return Ref<GrayImage>::adopt(img); }

Bytes ramp(int h, int w) {
  Bytes px(size_t(h) * w);
  for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i % 251);
  return px;
}

Bytes pixels_of(const GrayImage* img) {
  return Bytes(image_pixels(img), image_pixels(img) + image_pixel_count(img));
}

uint8_t at(const GrayImage* img, int row, int col) {
  return image_pixels(img)[size_t(row) * image_width(img) + col];
}

TEST(ImageWindow, OwnSizeAtOriginIsTheImageItself) {
  auto img = adopt(image_create(4, 5, 500, 500, nullptr, 0));
  GrayImage* same = image_window(img.get(), 4, 5, 0, 0);
  EXPECT_EQ(same, img.get());
  EXPECT_EQ(object_refcount(img.get()), 2);
  image_release(same);
}

TEST(ImageWindow, WholeRowsOfAReadOnlyImageAreShared) {
  Bytes px = ramp(6, 4);
  GrayImage* src = image_wrap(6, 4, 500, 500, px.data(), 0);
  GrayImage* win = image_window(src, 3, 4, 2, 0);
  ASSERT_NE(win, nullptr);
  EXPECT_EQ(image_pixels(win), px.data() + 8);
  EXPECT_EQ(object_refcount(src), 2);
  EXPECT_EQ(image_is_writable(win), 0);  // the caller's pixels stay untouchable
  image_release(src);                    // the window keeps its source alive
  EXPECT_EQ(at(win, 0, 0), px[8]);
  EXPECT_EQ(image_offset_y(win), 2);
  image_release(win);

  // The same window of an own image, or one not spanning whole rows, copies.
  auto own = adopt(image_create(6, 4, 500, 500, px.data(), 0));
  auto copy = adopt(image_window(own.get(), 3, 4, 2, 0));
  EXPECT_NE(image_pixels(copy.get()), image_pixels(own.get()) + 8);
  EXPECT_EQ(pixels_of(copy.get()), Bytes(px.begin() + 8, px.begin() + 20));
  auto wrapped = adopt(image_wrap(6, 4, 500, 500, px.data(), 0));
  auto narrow = adopt(image_window(wrapped.get(), 3, 3, 2, 0));
  EXPECT_EQ(object_refcount(wrapped.get()), 1);
  EXPECT_EQ(image_is_writable(narrow.get()), 1);
}

TEST(ImageWindow, OutsideIsWhiteAndOffsetsAreRemembered) {
  const Bytes px = ramp(5, 6);
  auto img = adopt(image_create(5, 6, 500, 400, px.data(), 3));
  img->stats.quality = 50;
  image_set_flag_word(img.get(), 9);
  auto win = adopt(image_window(img.get(), 4, 5, -2, -3));
  ASSERT_TRUE(win);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 5; ++c) {
      const uint8_t expected = r < 2 || c < 3 ? 255 : px[size_t(r - 2) * 6 + (c - 3)];
      ASSERT_EQ(at(win.get(), r, c), expected) << r << "," << c;
    }
  const SourceWindow* sw = image_source_window(win.get());
  ASSERT_NE(sw, nullptr);
  EXPECT_EQ(sw->row_offset, -2);
  EXPECT_EQ(sw->column_offset, -3);
  EXPECT_EQ(sw->source_height, 5);
  EXPECT_EQ(sw->source_width, 6);
  EXPECT_EQ(sw->height, 4);
  EXPECT_EQ(sw->width, 5);
  EXPECT_EQ(win->stats.quality, -1);  // statistics do not carry over
  EXPECT_EQ(image_flag_word(win.get()), 9u);
  EXPECT_EQ(image_resolution_x(win.get()), 400);
  EXPECT_EQ(image_impression_type(win.get()), 3);
}

TEST(ImageWindow, WindowsOfWindowsComposeOffsets) {
  auto img = adopt(image_create(100, 120, 500, 500, nullptr, 0));
  auto outer = adopt(image_window(img.get(), 60, 70, 5, 5));
  auto inner = adopt(image_window(outer.get(), 20, 30, 10, 20));
  EXPECT_EQ(image_offset_y(inner.get()), 15);
  EXPECT_EQ(image_offset_x(inner.get()), 25);
  EXPECT_EQ(image_source_height(inner.get()), 100);
  EXPECT_EQ(image_source_width(inner.get()), 120);
  EXPECT_EQ(image_source_height(img.get()), 100);  // an image is its own source
  EXPECT_EQ(image_offset_x(img.get()), 0);
  // Offsets beyond the 16-bit window record are refused.
  EXPECT_EQ(image_window(img.get(), 2, 2, 40000, 0), nullptr);
}

TEST(ImageWindow, MaskPlaneIsWindowedWithThePixels) {
  auto img = adopt(image_create(4, 4, 500, 500, nullptr, 0));
  MaskPlane* m = image_mask_plane_ensure(img.get());
  for (int i = 0; i < 16; ++i) mask_set_cell_bits(m, i, i);
  auto win = adopt(image_window(img.get(), 3, 3, 1, -1));
  MaskPlane* wm = image_mask_plane(win.get());
  ASSERT_NE(wm, nullptr);
  EXPECT_EQ(Bytes(mask_cells(wm), mask_cells(wm) + 9), (Bytes{0, 4, 5, 0, 8, 9, 0, 12, 13}));
}

TEST(ImageResize, ResamplingToAResolutionScalesSizeAndWindow) {
  const Bytes px = ramp(400, 300);
  auto img = adopt(image_create(400, 300, 500, 500, px.data(), 0));
  image_mask_plane_ensure(img.get());
  ASSERT_EQ(image_set_source_window(img.get(), -10, 20, 800, 600), ML_OK);
  img->stats.quality = 61;
  auto half = adopt(image_resample_to_resolution(img.get(), 250, 250));
  ASSERT_TRUE(half);
  EXPECT_EQ(image_height(half.get()), 200);
  EXPECT_EQ(image_width(half.get()), 150);
  EXPECT_EQ(image_resolution_y(half.get()), 250);
  EXPECT_EQ(image_resolution_x(half.get()), 250);
  Bytes expected(200 * 150);
  ASSERT_EQ(img_resize_u8(px.data(), 400, 300, expected.data(), 200, 150), ML_OK);
  EXPECT_EQ(pixels_of(half.get()), expected);
  EXPECT_EQ(mask_height(image_mask_plane(half.get())), 200);
  const SourceWindow* sw = image_source_window(half.get());
  EXPECT_EQ(sw->source_height, 400);
  EXPECT_EQ(sw->source_width, 300);
  EXPECT_EQ(sw->row_offset, -4);  // (-10 x 200 + 200) / 400, truncated
  EXPECT_EQ(sw->column_offset, 10);
  EXPECT_EQ(sw->height, 200);
  EXPECT_EQ(half->stats.quality, 61);  // a resized copy keeps the cached values

  // image_resize rounds the scaled resolutions.
  auto odd = adopt(image_resize(img.get(), 133, 300));
  EXPECT_EQ(image_resolution_y(odd.get()), (133 * 500 + 200) / 400);
  EXPECT_EQ(image_resolution_x(odd.get()), 500);
  auto set = adopt(image_resize_with_resolution(img.get(), 10, 10, 123, 456));
  EXPECT_EQ(image_resolution_y(set.get()), 123);
  EXPECT_EQ(image_resolution_x(set.get()), 456);
  auto no_dpi = adopt(image_create(4, 4, 0, 0, nullptr, 0));
  EXPECT_EQ(image_resample_to_resolution(no_dpi.get(), 250, 250), nullptr);
}

TEST(ImageCrop, CentredAndForegroundCrops) {
  const Bytes px = ramp(9, 10);
  auto img = adopt(image_create(9, 10, 500, 500, px.data(), 0));
  int row = -1, col = -1;
  auto centred = adopt(image_crop_centred_out(img.get(), 4, 4, &row, &col));
  EXPECT_EQ(row, 2);
  EXPECT_EQ(col, 3);
  auto larger = adopt(image_crop_centred_out(img.get(), 12, 11, &row, &col));
  EXPECT_EQ(row, -1);  // (9 - 12) / 2 truncated toward zero
  EXPECT_EQ(col, 0);

  // A flat image has no foreground: the crop centres on the middle.
  auto flat = adopt(image_create(40, 50, 500, 500, nullptr, 0));
  auto fg = adopt(image_crop_on_foreground(flat.get(), 10, 20, 64, &row, &col));
  ASSERT_TRUE(fg);
  EXPECT_EQ(row, 20 - 5);
  EXPECT_EQ(col, 25 - 10);
  // A window larger than the image starts at the top and is filled white.
  auto big = adopt(image_crop_on_foreground(flat.get(), 60, 50, 64, &row, &col));
  EXPECT_EQ(row, 0);
  EXPECT_EQ(image_height(big.get()), 60);
  EXPECT_EQ(at(big.get(), 59, 0), 255);

  // Texture in the lower right corner pulls the crop there.
  Bytes tex(40 * 50, 128);
  for (int r = 25; r < 40; ++r)
    for (int c = 30; c < 50; ++c) tex[size_t(r) * 50 + c] = (r + c) % 2 ? 250 : 5;
  auto textured = adopt(image_create(40, 50, 500, 500, tex.data(), 0));
  auto moved = adopt(image_crop_on_foreground(textured.get(), 10, 10, 64, &row, &col));
  EXPECT_GT(row, 15);
  EXPECT_GT(col, 20);
}

TEST(ImageExtend, OldPixelsCentredWithAnOutsideMaskBorder) {
  const Bytes px = ramp(8, 9);
  auto img = adopt(image_create(8, 9, 500, 500, px.data(), 0));
  image_mask_plane_ensure(img.get());
  auto ext = adopt(image_extend(img.get(), 12, 14));
  ASSERT_TRUE(ext);
  Bytes expected(12 * 14);
  ASSERT_EQ(img_pad_profile_u8(px.data(), 8, 9, 12, 14, 2, 2, expected.data()), ML_OK);
  EXPECT_EQ(pixels_of(ext.get()), expected);
  EXPECT_EQ(at(ext.get(), 2 + 3, 2 + 4), px[3 * 9 + 4]);  // the inside is kept
  const MaskPlane* m = image_mask_plane(ext.get());
  EXPECT_EQ(mask_test_bits(m, 0xFF, 0), MASK_OUTSIDE_SOURCE);
  EXPECT_EQ(mask_test_bits(m, 0xFF, 1 * 14 + 2), MASK_OUTSIDE_SOURCE);
  EXPECT_EQ(mask_test_bits(m, 0xFF, 2 * 14 + 2), 0);
  EXPECT_EQ(mask_test_bits(m, 0xFF, 9 * 14 + 10), 0);
  EXPECT_EQ(mask_test_bits(m, 0xFF, 10 * 14 + 10), MASK_OUTSIDE_SOURCE);
  EXPECT_EQ(image_offset_y(ext.get()), -2);
  EXPECT_EQ(image_offset_x(ext.get()), -2);
  EXPECT_EQ(image_extend(img.get(), 7, 14), nullptr);
  EXPECT_EQ(image_extend(img.get(), 12, 8), nullptr);
}

TEST(ImageFramed, TwoBlackOutlinesAroundTheImage) {
  const Bytes px(3 * 4, 200);
  auto img = adopt(image_create(3, 4, 500, 500, px.data(), 0));
  auto framed = adopt(image_framed(img.get()));
  ASSERT_TRUE(framed);
  EXPECT_EQ(image_height(framed.get()), 5);
  EXPECT_EQ(image_width(framed.get()), 6);
  // Outer border and the ring at (1, 1) of the old size are 0; a 3 x 4
  // image keeps its inner 1 x 2 pixels.
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 6; ++c) {
      const bool inner = r == 2 && (c == 2 || c == 3);
      EXPECT_EQ(at(framed.get(), r, c), inner ? 200 : 0) << r << "," << c;
    }
}

TEST(ImageSourceWindow, SetClearAndNullImage) {
  auto img = adopt(image_create(3, 3, 500, 500, nullptr, 0));
  EXPECT_EQ(image_set_source_window(nullptr, 0, 0, 1, 1), ML_BAD_ARGUMENT);
  ASSERT_EQ(image_set_source_window(img.get(), 4, -5, 30, 40), ML_OK);
  EXPECT_EQ(image_source_height(img.get()), 30);
  EXPECT_EQ(image_offset_x(img.get()), -5);
  EXPECT_EQ(image_source_window(img.get())->height, 3);
  image_clear_source_window(img.get());
  EXPECT_EQ(image_source_window(img.get()), nullptr);
  EXPECT_EQ(image_source_width(img.get()), 3);
  EXPECT_EQ(image_source_height(nullptr), 0);
}

TEST(Tiling, FitsByOverlapPercentage) {
  auto img = adopt(image_create(300, 150, 500, 500, nullptr, 0));
  TilingSpec spec{0, 0, 64, 2, 1, 200, 150, 0};
  struct Case {
    int limit, fits;
  } cases[] = {{40, 0}, {60, 1}, {50, 0}, {51, 1}, {0, 1}, {100, 1}, {256 + 40, 0}};
  for (const auto& c : cases) EXPECT_EQ(tiling_fits(img.get(), &spec, c.limit), c.fits) << c.limit;
  TilingSpec too_tall{0, 0, 64, 1, 1, 301, 150, 0};
  EXPECT_EQ(tiling_fits(img.get(), &too_tall, 0), 0);
  TilingSpec capped{250, 0, 64, 1, 1, 260, 150, 0};  // the maximum height limits the usable rows
  EXPECT_EQ(tiling_fits(img.get(), &capped, 0), 0);
  TilingSpec zero{0, 0, 64, 0, 1, 10, 10, 0};
  EXPECT_EQ(tiling_fits(img.get(), &zero, 0), 0);
  EXPECT_EQ(tiling_tile_count(&spec), 2);
  TilingSpec extra{0, 0, 64, 2, 3, 10, 10, 1};
  EXPECT_EQ(tiling_tile_count(&extra), 7);
}

TEST(Tiling, SplitGivesOverlappingTilesInRowMajorOrder) {
  const Bytes px = ramp(30, 40);
  auto img = adopt(image_create(30, 40, 500, 500, px.data(), 0));
  TilingSpec single{0, 0, 64, 1, 1, 30, 40, 0};
  GrayImage* one[1];
  ASSERT_EQ(image_split_tiles(img.get(), &single, one), ML_OK);
  EXPECT_EQ(one[0], img.get());  // the centred area is the image itself
  image_release(one[0]);

  TilingSpec grid{0, 0, 64, 2, 3, 20, 16, 1};
  std::vector<GrayImage*> tiles(tiling_tile_count(&grid));
  ASSERT_EQ(image_split_tiles(img.get(), &grid, tiles.data()), ML_OK);
  // Extra centred tile first, then rows at 0 and 10, columns at 0, 12, 24.
  EXPECT_EQ(image_offset_y(tiles[0]), 5);
  EXPECT_EQ(image_offset_x(tiles[0]), 12);
  const int rows[] = {0, 0, 0, 10, 10, 10}, cols[] = {0, 12, 24, 0, 12, 24};
  for (int k = 0; k < 6; ++k) {
    GrayImage* t = tiles[k + 1];
    EXPECT_EQ(image_height(t), 20);
    EXPECT_EQ(image_width(t), 16);
    EXPECT_EQ(image_offset_y(t), rows[k]) << k;
    EXPECT_EQ(image_offset_x(t), cols[k]) << k;
    EXPECT_EQ(at(t, 0, 0), px[size_t(rows[k]) * 40 + cols[k]]);
  }
  for (GrayImage* t : tiles) image_release(t);

  TilingSpec too_big{0, 0, 64, 1, 1, 31, 40, 0};
  GrayImage* none[1] = {reinterpret_cast<GrayImage*>(1)};
  EXPECT_EQ(image_split_tiles(img.get(), &too_big, none), ML_BAD_ARGUMENT);
  EXPECT_EQ(none[0], nullptr);
  EXPECT_EQ(image_split_tiles(img.get(), nullptr, none), ML_BAD_ARGUMENT);
}

TEST(Downscale, IntoACallerBuffer) {
  const Bytes px = ramp(40, 30);
  Bytes out(40 * 30);
  int h = 0, w = 0;
  ASSERT_EQ(img_downscale_into(px.data(), 500, 40, 30, out.data(), 250, &h, &w, 20 * 15), ML_OK);
  EXPECT_EQ(h, 20);
  EXPECT_EQ(w, 15);
  Bytes expected(20 * 15);
  img_resize_u8(px.data(), 40, 30, expected.data(), 20, 15);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 300), expected);
  EXPECT_EQ(img_downscale_into(px.data(), 500, 40, 30, out.data(), 250, &h, &w, 299),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(img_downscale_into(px.data(), 500, 40, 30, out.data(), 500, &h, &w, 2000),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(img_downscale_into(nullptr, 500, 40, 30, out.data(), 250, &h, &w, 2000),
            ML_BAD_ARGUMENT);
}

}  // namespace

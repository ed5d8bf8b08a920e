// Grid extraction operations: settings, resampling to the working
// resolution and the format-77 blob.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "matchlib/extract/grating.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace zyl::test {
namespace {

struct Ctx {
  MatchContext* c = ctx_create();
  ~Ctx() { ctx_release(c); }
};
struct Img {
  GrayImage* i;
  Img(int h, int w, int ry, int rx) {
    const auto px = grating(h, w, 8.0, 0.6, 60);
    i = image_create(h, w, ry, rx, px.data(), 0);
  }
  ~Img() { image_release(i); }
};
struct Blob {
  DataBlob* b = nullptr;
  ~Blob() { blob_release(b); }
};
struct Block {
  GridFeatureBlock* b = nullptr;
  ~Block() { gridblock_free(b); }
};

TEST(GridExtractOps, SettingsDefaultsAndKeys) {
  Ctx ctx;
  GridExtractParams p;
  gridext_params_read(&p, ctx.c);
  EXPECT_EQ(p.cell_size, 4);
  EXPECT_EQ(p.min_variance, 16);
  EXPECT_EQ(p.max_period, 4608);
  EXPECT_EQ(p.min_period, 1208);
  EXPECT_EQ(p.variance_ceiling, 7000);
  EXPECT_EQ(p.variance_floor, 500);
  EXPECT_EQ(p.min_coverage, 128);
  EXPECT_EQ(p.band_divisor, 8u);
  EXPECT_EQ(p.gauss_width, 0);
  EXPECT_EQ(p.amplitude_scale, 0);
  EXPECT_EQ(p.max_maxima, 32);
  EXPECT_EQ(p.agreement_threshold, 128);
  EXPECT_EQ(p.coherence_flag, 1);
  const uint8_t bits[6] = {8, 8, 6, 6, 4, 4}, pool[6] = {1, 1, 1, 2, 3, 3};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(p.plane_bits[k], bits[k]);
    EXPECT_EQ(p.plane_pooling[k], pool[k]);
  }
  param_set(ctx.c, GRIDEXT_KEY_CELL_SIZE, 3);
  param_set(ctx.c, GRIDEXT_KEY_COHERENCE_FLAG, 0);
  gridext_params_read(&p, ctx.c);
  EXPECT_EQ(p.cell_size, 3);
  EXPECT_EQ(p.coherence_flag, 0);
}

// Rows and columns of the block that the operation makes of an image.
struct Case {
  const char* what;
  int h, w, ry, rx;
  int working;  // 0: key unset
  int status, rows, columns;
};

TEST(GridExtractOps, ResamplesToTheWorkingResolution) {
  const Case cases[] = {
      // 500 at working 500: no resampling, 160 / 4 cells.
      {"500 at 500", 160, 160, 500, 500, 0, ML_OK, 40, 40},
      // 650: 208 raised to 216 (a multiple of 12) on both sides.
      {"square at 650", 160, 160, 500, 500, 650, ML_OK, 54, 54},
      // 150 x 200: H1 195 -> 204, W = (200 x 204 + 75) / 150 = 272.
      {"oblong at 650", 150, 200, 500, 500, 650, ML_OK, 51, 68},
      // Resolution within 8 of the working one: used unchanged.
      {"505 at 500", 160, 160, 505, 505, 500, ML_OK, 40, 40},
      {"unequal resolutions", 160, 160, 500, 400, 0, ML_WRONG_KIND, 0, 0},
      {"no resolution", 160, 160, 0, 500, 0, ML_WRONG_KIND, 0, 0},
  };
  for (const Case& c : cases) {
    Ctx ctx;
    if (c.working) param_set(ctx.c, GRIDEXT_KEY_WORKING_DPI, c.working);
    Img img(c.h, c.w, c.ry, c.rx);
    Blob out;
    ASSERT_EQ(gridext_extract(ctx.c, img.i, nullptr, 77, &out.b), c.status) << c.what;
    if (c.status != ML_OK) {
      EXPECT_EQ(out.b, nullptr);
      continue;
    }
    EXPECT_EQ(blob_type(out.b), 77);
    Block blk;
    ASSERT_EQ(gridblock_parse(blob_data(out.b), blob_size(out.b), &blk.b), ML_OK) << c.what;
    EXPECT_EQ(blk.b->rows, c.rows) << c.what;
    EXPECT_EQ(blk.b->columns, c.columns) << c.what;
    EXPECT_EQ(blk.b->cell_size, 4);
    int valid = 0;
    for (int k = 0; k < blk.b->rows * blk.b->columns; ++k) valid += blk.b->cells[k].valid;
    EXPECT_GT(valid, blk.b->rows * blk.b->columns / 2) << c.what;
  }
}

TEST(GridExtractOps, RefusesWrongFormatAndUnsupportedSettings) {
  Img img(160, 160, 500, 500);
  {
    Ctx ctx;
    Blob out;
    EXPECT_EQ(gridext_extract(ctx.c, img.i, nullptr, 66, &out.b), ML_WRONG_KIND);
  }
  {
    // Front end 250 with an odd cell size.
    Ctx ctx;
    param_set(ctx.c, GRIDEXT_KEY_FRONT_END_DPI, 250);
    param_set(ctx.c, GRIDEXT_KEY_CELL_SIZE, 3);
    Blob out;
    EXPECT_EQ(gridext_extract(ctx.c, img.i, nullptr, 77, &out.b), ML_WRONG_KIND);
    param_set(ctx.c, GRIDEXT_KEY_CELL_SIZE, 4);
    ASSERT_EQ(gridext_extract(ctx.c, img.i, nullptr, 77, &out.b), ML_OK);
    Block blk;
    ASSERT_EQ(gridblock_parse(blob_data(out.b), blob_size(out.b), &blk.b), ML_OK);
    EXPECT_EQ(blk.b->rows, 42);  // 80 rows at 250 dpi raised to 84 (granule 6), cells of 2
  }
  {
    Ctx ctx;
    param_set(ctx.c, GRIDEXT_KEY_FRONT_END_DPI, 300);
    Blob out;
    EXPECT_EQ(gridext_extract(ctx.c, img.i, nullptr, 77, &out.b), ML_WRONG_KIND);
  }
  EXPECT_EQ(gridext_extract(nullptr, img.i, nullptr, 77, nullptr), ML_BAD_ARGUMENT);
}

TEST(GridExtractOps, TwinKeepsTheResolutionUnlessATargetIsSet) {
  Img img500(160, 160, 500, 500);
  Img img250(80, 80, 250, 250);
  Img unequal(80, 80, 250, 300);
  {
    Ctx ctx;
    Blob out;
    EXPECT_EQ(gridext_extract_i16(ctx.c, img500.i, nullptr, 77, &out.b), ML_WRONG_KIND);
    EXPECT_EQ(out.b, nullptr);
    EXPECT_EQ(gridext_extract_i16(ctx.c, unequal.i, nullptr, 77, &out.b), ML_WRONG_KIND);
    ASSERT_EQ(gridext_extract_i16(ctx.c, img250.i, nullptr, 77, &out.b), ML_OK);
    Block blk;
    ASSERT_EQ(gridblock_parse(blob_data(out.b), blob_size(out.b), &blk.b), ML_OK);
    EXPECT_EQ(blk.b->resolution, 250);
    EXPECT_EQ(blk.b->rows, 20);
  }
  {
    // A target of 250 brings the 500-dpi image down to 80 x 80.
    Ctx ctx;
    param_set(ctx.c, GRIDEXT_KEY_FRONT_END_DPI, 250);
    param_set(ctx.c, GRIDEXT_KEY_CELL_SIZE, 2);
    Blob out;
    ASSERT_EQ(gridext_extract_i16(ctx.c, img500.i, nullptr, 77, &out.b), ML_OK);
    Block blk;
    ASSERT_EQ(gridblock_parse(blob_data(out.b), blob_size(out.b), &blk.b), ML_OK);
    EXPECT_EQ(blk.b->resolution, 250);
    EXPECT_EQ(blk.b->rows, 40);
    EXPECT_EQ(blk.b->cell_size, 2);
  }
}

}  // namespace
}  // namespace zyl::test

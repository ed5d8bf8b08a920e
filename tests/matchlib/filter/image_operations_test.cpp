// Guarded wrappers and type selectors: which kernel each code reaches with
// which arguments, the argument guards, and the size helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kernel_stand_ins.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zyl::test::kernel_fakes::calls;

// A grey ramp with noise: something for every kernel to change.
Bytes test_image(int h, int w, unsigned seed) {
  Bytes px(size_t(h) * w);
  for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i * 7 + (i * seed) % 23) % 256);
  return px;
}

// Column stripes of period 4: one column of each strip is much brighter.
Bytes striped_image(int h, int w) {
  Bytes px(size_t(h) * w);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) px[size_t(i) * w + j] = uint8_t(90 + (j % 4 == 0 ? 80 : 0) + i % 3);
  return px;
}

Bytes run(int (*f)(const uint8_t*, int, int, uint8_t*), const Bytes& px, int h, int w) {
  Bytes out(px.size());
  EXPECT_EQ(f(px.data(), h, w, out.data()), ML_OK);
  return out;
}

TEST(ImageOperations, NormalizeByTypeReachesItsKernel) {
  const int h = 6, w = 5;
  const Bytes px = test_image(h, w, 3);
  struct Case {
    int type;
    Bytes expected;
  } cases[] = {
      {0, run([](const uint8_t* p, int hh, int ww, uint8_t* o) {
                return imgproc_stretch_percentile(p, hh, ww, 1, o);
              }, px, h, w)},
      {1, run([](const uint8_t* p, int hh, int ww, uint8_t* o) {
                return imgproc_stretch_percentile_below(p, hh, ww, 1, 250, o);
              }, px, h, w)},
      {2, run(imgproc_equalize_recursive, px, h, w)},
      {3, run([](const uint8_t* p, int hh, int ww, uint8_t* o) {
                return imgproc_normalize_global(p, hh, ww, 128, 75, o);
              }, px, h, w)},
  };
  for (const auto& c : cases) {
    Bytes out(px.size());
    EXPECT_EQ(imgproc_normalize_by_type(px.data(), h, w, 500, c.type, out.data()), ML_OK);
    EXPECT_EQ(out, c.expected) << "type " << c.type;
  }
  Bytes out(px.size()), expected(px.size());
  EXPECT_EQ(imgproc_normalize_by_type(px.data(), h, w, 500, 4, out.data()), ML_OK);
  ASSERT_EQ(imgproc_normalize_local(px.data(), h, w, nullptr, 3, 128, 75, expected.data()), ML_OK);
  EXPECT_EQ(out, expected);  // no mask, radius 3 at 500 dpi
  for (int type : {5, -1}) {
    Bytes untouched(px.size(), 1);
    EXPECT_EQ(imgproc_normalize_by_type(px.data(), h, w, 500, type, untouched.data()), ML_WRONG_KIND);
    EXPECT_EQ(untouched, Bytes(px.size(), 1)) << type;
  }
}

TEST(ImageOperations, DestripeByTypeReachesItsCorrection) {
  const int h = 12, w = 16;
  const Bytes px = striped_image(h, w);
  auto columns = [&](int n) {
    Bytes out(px.size());
    EXPECT_EQ(stripe_correct_columns(px.data(), h, w, n, 0, out.data()), ML_OK);
    return out;
  };
  Bytes rows(px.size());
  ASSERT_EQ(stripe_correct_rows(px.data(), h, w, h, 0, rows.data()), ML_OK);
  uint8_t found = 0;
  ASSERT_EQ(stripe_detect_columns(px.data(), h, w, 4, 1, &found), ML_OK);
  ASSERT_EQ(found, 1);
  struct Case {
    int type, strip;
    Bytes expected;
  } cases[] = {{1, 1, columns(1)}, {1, 4, columns(4)}, {2, 0, columns(w)},
               {3, 0, rows},       {4, 9, columns(1)}};
  for (const auto& c : cases) {
    Bytes out(px.size());
    EXPECT_EQ(imgproc_destripe_by_type(px.data(), h, w, c.type, c.strip, out.data()), ML_OK);
    EXPECT_EQ(out, c.expected) << c.type << " strip " << c.strip;
  }
  Bytes out(px.size());
  EXPECT_EQ(imgproc_destripe_by_type(px.data(), h, w, 0, 0, out.data()), ML_OK);
  EXPECT_EQ(out, run(imgproc_remove_checker, px, h, w));
  EXPECT_EQ(imgproc_destripe_by_type(px.data(), h, w, 5, 1, out.data()), ML_WRONG_KIND);
}

TEST(ImageOperations, DestripeWithoutStripesCopiesTheInput) {
  const int h = 8, w = 16;
  Bytes px(size_t(h) * w);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) px[size_t(i) * w + j] = uint8_t(100 + i);
  uint8_t found = 1;
  ASSERT_EQ(stripe_detect_columns(px.data(), h, w, 4, 1, &found), ML_OK);
  ASSERT_EQ(found, 0);
  Bytes out(px.size(), 0);
  EXPECT_EQ(imgproc_destripe_by_type(px.data(), h, w, 1, 4, out.data()), ML_OK);
  EXPECT_EQ(out, px);
  EXPECT_EQ(imgproc_destripe_by_type(px.data(), h, w, 1, 4, px.data()), ML_OK);  // same buffer
}

TEST(ImageOperations, DestripeByParamsReadsModeAndStrip) {
  MatchContext* ctx = ctx_create();
  const int h = 12, w = 16;
  const Bytes px = striped_image(h, w);
  struct Case {
    int mode, strip;  // mode m acts as type m + 1
  } cases[] = {{0, 1}, {0, 4}, {1, 3}, {2, 1}, {3, 1}};
  for (const auto& c : cases) {
    param_set(ctx, 0x7001808b, c.mode);
    param_set(ctx, 0x17e400f4, c.strip);
    Bytes out(px.size()), expected(px.size());
    EXPECT_EQ(imgop_destripe_by_params(ctx, px.data(), nullptr, h, w, 500, nullptr, out.data()),
              ML_OK);
    ASSERT_EQ(imgproc_destripe_by_type(px.data(), h, w, c.mode + 1, c.strip, expected.data()), ML_OK);
    EXPECT_EQ(out, expected) << c.mode;
  }
  param_set(ctx, 0x7001808b, 4);
  Bytes out(px.size());
  EXPECT_EQ(imgop_destripe_by_params(ctx, px.data(), nullptr, h, w, 500, nullptr, out.data()), ML_WRONG_KIND);
  ctx_release(ctx);
  // Without a context the defaults apply: mode 0, strip 1.
  Bytes expected(px.size());
  ASSERT_EQ(imgproc_destripe_by_type(px.data(), h, w, 1, 1, expected.data()), ML_OK);
  EXPECT_EQ(imgop_destripe_by_params(nullptr, px.data(), nullptr, h, w, 500, nullptr, out.data()),
            ML_OK);
  EXPECT_EQ(out, expected);
}

TEST(ImageOperations, GuardsRefuseNullBuffersAndZero16BitSizes) {
  const Bytes px(16, 1);
  Bytes out(16);
  for (ImageOperation op : image_operation_table) {
    zyl::test::kernel_fakes::reset();
    EXPECT_EQ(op(nullptr, nullptr, nullptr, 4, 4, 500, nullptr, out.data()), ML_BAD_ARGUMENT);
    EXPECT_EQ(op(nullptr, px.data(), nullptr, 4, 4, 500, nullptr, nullptr), ML_BAD_ARGUMENT);
    EXPECT_EQ(op(nullptr, px.data(), nullptr, 0, 4, 500, nullptr, out.data()), ML_BAD_ARGUMENT);
    EXPECT_EQ(op(nullptr, px.data(), nullptr, 4, 65536, 500, nullptr, out.data()),
              ML_BAD_ARGUMENT);
  }
  // With good arguments each reaches its kernel.
  const Bytes big = test_image(16, 16, 9);
  Bytes via_table(big.size()), direct(big.size());
  struct Reach {
    ImageOperation op;
    int (*kernel)(const uint8_t*, int, int, uint8_t*);
  } reaches[] = {
      {imgop_remove_checker, imgproc_remove_checker},
      {imgop_smooth_binomial, filter_binomial3x3_u8},
      {imgop_band_filter,
       [](const uint8_t* p, int h, int w, uint8_t* o) {
         return fftfilt_band_by_resolution_u8(p, h, w, 500, o);
       }},
      {imgop_normalize_local,
       [](const uint8_t* p, int h, int w, uint8_t* o) {
         return imgproc_normalize_local_ring(p, h, w, 3, 128, 75, o);
       }},
  };
  for (const auto& r : reaches) {
    const int st = r.op(nullptr, big.data(), nullptr, 16, 16, 500, nullptr, via_table.data());
    EXPECT_EQ(st, r.kernel(big.data(), 16, 16, direct.data()));
    if (st == ML_OK) {
      EXPECT_EQ(via_table, direct);
    }
  }
  // Resolution is checked where it is used.
  EXPECT_EQ(imgproc_normalize_local_dpi(px.data(), 4, 4, 0, out.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_band_filter_guarded(px.data(), 4, 4, 65536, out.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_smooth_binomial_guarded(px.data(), 4, 4, 0, out.data()), ML_OK);
  EXPECT_EQ(img_remove_checker_guarded(px.data(), 4, 4, 0, out.data()), ML_OK);
}

TEST(ImageOperations, LocalNormalisationRadiusFollowsTheResolution) {
  const Bytes px = test_image(12, 14, 5);
  Bytes out(px.size()), expected(px.size());
  for (auto [dpi, radius] : {std::pair{500, 3}, {1000, 7}, {250, 2}, {72, 0}}) {
    ASSERT_EQ(imgproc_normalize_local_dpi(px.data(), 12, 14, dpi, out.data()), ML_OK);
    ASSERT_EQ(imgproc_normalize_local_ring(px.data(), 12, 14, radius, 128, 75, expected.data()), ML_OK);
    EXPECT_EQ(out, expected) << dpi;
  }
}

TEST(ImageOperations, SmoothAndSharpenByType) {
  const Bytes px = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  Bytes out(9), ref(9);
  // The radial band filter with the arguments each code passes, or none.
  struct Case {
    bool sharpen;
    int type, value, status;
    std::vector<int> filter;  // b, c, d, e, zero-frequency flag
  } cases[] = {
      {false, 4, 9, ML_OK, {0, 0, 9, 156, 0}},
      {false, 2, 9, ML_WRONG_KIND, {}},
      {false, 5, 9, ML_WRONG_KIND, {}},
      {true, 1, 40, ML_OK, {40, 156, -1, 0, 0}},
      {true, 2, 40, ML_OK, {40, 0, -1, 0, 0}},
      {true, 3, 40, ML_WRONG_KIND, {}},
  };
  const Bytes big = test_image(24, 20, 4);
  Bytes big_out(big.size()), big_ref(big.size());
  for (const auto& c : cases) {
    const int st =
        c.sharpen ? img_sharpen_by_type(big.data(), 24, 20, 500, c.type, c.value, big_out.data())
                  : img_smooth_by_type(big.data(), 24, 20, 500, c.type, c.value, big_out.data());
    if (c.filter.empty()) {
      EXPECT_EQ(st, c.status) << c.sharpen << " " << c.type;
      continue;
    }
    const auto& f = c.filter;
    EXPECT_EQ(st, fftfilt_radial_u8(big.data(), 24, 20, 500, f[0], f[1], f[2], f[3], f[4],
                                    big_ref.data()));
    EXPECT_EQ(big_out, big_ref) << c.sharpen << " " << c.type;
  }
  zyl::test::kernel_fakes::reset();
  EXPECT_EQ(img_smooth_by_type(px.data(), 3, 3, 500, 1, 0, out.data()), ML_OK);
  ASSERT_EQ(filter_binomial3x3_u8(px.data(), 3, 3, ref.data()), ML_OK);
  EXPECT_EQ(out, ref);
  // The 3x3 sharpening takes a byte; 256 and more become 2.
  for (auto [amount, strength] : {std::pair{17, 17}, {256, 2}, {1000, 2}}) {
    ASSERT_EQ(img_sharpen_by_type(px.data(), 3, 3, 500, 0, amount, out.data()), ML_OK);
    ASSERT_EQ(filter_sharpen3x3_u8(px.data(), 3, 3, uint8_t(strength), ref.data()), ML_OK);
    EXPECT_EQ(out, ref) << amount;
  }
}

TEST(ImageOperations, ScaledPixelCount) {
  struct Case {
    int h, w, from, to, status;
    uint32_t count;
  } cases[] = {{400, 300, 500, 250, ML_OK, 200 * 150},
               {400, 300, 508, 500, ML_OK, 400 * 300},  // within 8 dpi: unchanged
               {401, 301, 500, 491, ML_OK, 394 * 296},
               {400, 300, 500, 500, ML_BAD_ARGUMENT, 0},
               {400, 300, 250, 500, ML_BAD_ARGUMENT, 0},
               {400, 300, 500, 0, ML_BAD_ARGUMENT, 0},
               {0, 300, 500, 250, 2, 0}};
  for (const auto& c : cases) {
    uint32_t count = 0;
    EXPECT_EQ(img_scaled_pixel_count(c.h, c.w, c.from, c.to, &count), c.status) << c.h << " " << c.to;
    if (c.status == ML_OK) {
      EXPECT_EQ(count, c.count) << c.h << " " << c.to;
    }
  }
  EXPECT_EQ(img_scaled_pixel_count(4, 4, 500, 250, nullptr), ML_BAD_ARGUMENT);
}

TEST(ImageOperations, QualityAndContrastGuardedForms) {
  zyl::test::kernel_fakes::reset();
  const Bytes px(9, 1);
  uint8_t q = 0, bright = 0;
  uint32_t fg = 0;
  // The real assessment: an image under one 12-pixel block is not assessed.
  q = bright = 5;
  fg = 5;
  EXPECT_EQ(img_quality_guarded(px.data(), 3, 3, &q, &fg, &bright), ML_OK);
  EXPECT_EQ(q, 0);
  EXPECT_EQ(fg, 0u);
  EXPECT_EQ(bright, 0);
  EXPECT_EQ(img_quality_guarded(px.data(), 3, 3, nullptr, nullptr, nullptr), ML_OK);
  EXPECT_EQ(img_quality_guarded(nullptr, 3, 3, &q, &fg, &bright), ML_BAD_ARGUMENT);
  // The real block contrast: under 16 rows it refuses, and the guarded form
  // passes that on with the output cleared.
  uint8_t contrast = 99;
  EXPECT_EQ(img_block_contrast_guarded(px.data(), 3, 3, 500, &contrast), ML_TOO_POOR);
  EXPECT_EQ(contrast, 0);
  Bytes ridges(32 * 32);
  for (size_t i = 0; i < ridges.size(); ++i) ridges[i] = (i % 32 / 4) % 2 ? 200 : 40;
  uint8_t expected = 0;
  ASSERT_EQ(imgstat_block_contrast(ridges.data(), 32, 32, 500, &expected, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
            ML_OK);
  EXPECT_EQ(img_block_contrast_guarded(ridges.data(), 32, 32, 500, &contrast), ML_OK);
  EXPECT_EQ(contrast, expected);
}

}  // namespace

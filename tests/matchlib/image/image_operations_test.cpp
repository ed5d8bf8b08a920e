// Guarded wrappers and type selectors: which kernel each code reaches with
// which arguments, the argument guards, and the size helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kernel_stand_ins.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_smoothing.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kernel_fakes::calls;

struct Dispatch {
  int type;
  int status;
  std::string kernel;       // empty: none called
  std::vector<long> args;   // the recorded int arguments
};

TEST(ImageOperations, NormalizeByTypeReachesItsKernel) {
  const Dispatch cases[] = {
      {0, 0, "imgproc_stretch_percentile", {6, 5, 1}},
      {1, 0, "imgproc_stretch_percentile_below", {6, 5, 1, 250}},
      {2, 0, "imgproc_equalize_recursive", {6, 5}},
      {4, 0, "imgproc_normalize_local", {6, 5, 0, 3, 128, 75}},
      {5, 1, "", {}},
      {-1, 1, "", {}},
  };
  const Bytes px(30, 100);
  for (const auto& c : cases) {
    kernel_fakes::reset();
    Bytes out(30, 1);
    EXPECT_EQ(imgproc_normalize_by_type(px.data(), 6, 5, 500, c.type, out.data()), c.status);
    if (c.kernel.empty()) {
      EXPECT_TRUE(calls().empty());
      EXPECT_EQ(out, Bytes(30, 1)) << "type " << c.type << " left the output";
      continue;
    }
    ASSERT_EQ(calls().size(), 1u) << c.type;
    EXPECT_EQ(calls()[0].name, c.kernel);
    EXPECT_EQ(calls()[0].args, c.args) << c.type;
  }
  // The stretches' status is not consulted.
  kernel_fakes::reset();
  kernel_fakes::setting()["imgproc_stretch_percentile"] = 9;
  Bytes out(30);
  EXPECT_EQ(imgproc_normalize_by_type(px.data(), 6, 5, 500, 0, out.data()), 0);
  // Type 3 is the global normalisation itself.
  EXPECT_EQ(imgproc_normalize_by_type(px.data(), 6, 5, 500, 3, out.data()), 0);
}

TEST(ImageOperations, DestripeByTypeReachesItsCorrection) {
  const Bytes px(6 * 7, 100);
  struct Case {
    int type, strip, stripes;
    std::vector<std::string> names;
    std::vector<long> last_args;
  } cases[] = {
      {0, 0, 0, {"imgproc_remove_checker"}, {6, 7}},
      {1, 1, 0, {"stripe_correct_columns"}, {6, 7, 1, 0}},
      {1, 4, 1, {"stripe_detect_columns", "stripe_correct_columns"}, {6, 7, 4, 0}},
      {2, 0, 0, {"stripe_correct_columns"}, {6, 7, 7, 0}},
      {3, 0, 0, {"stripe_correct_rows"}, {6, 7, 6, 0}},
      {4, 9, 0, {"stripe_correct_columns"}, {6, 7, 1, 0}},
  };
  for (const auto& c : cases) {
    kernel_fakes::reset();
    kernel_fakes::setting()["stripes"] = c.stripes;
    Bytes out(px.size());
    EXPECT_EQ(imgproc_destripe_by_type(px.data(), 6, 7, c.type, c.strip, out.data()), 0);
    EXPECT_EQ(kernel_fakes::names(), c.names) << c.type;
    EXPECT_EQ(calls().back().args, c.last_args) << c.type;
  }
  Bytes out(px.size());
  EXPECT_EQ(imgproc_destripe_by_type(px.data(), 6, 7, 5, 1, out.data()), ML_WRONG_KIND);
}

TEST(ImageOperations, DestripeWithoutStripesCopiesTheInput) {
  kernel_fakes::reset();
  Bytes px(4 * 8);
  for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i);
  Bytes out(px.size(), 0);
  EXPECT_EQ(imgproc_destripe_by_type(px.data(), 4, 8, 1, 4, out.data()), 0);
  EXPECT_EQ(out, px);
  EXPECT_EQ(kernel_fakes::names(), std::vector<std::string>{"stripe_detect_columns"});
  EXPECT_EQ(calls()[0].args, (std::vector<long>{4, 8, 4, 1}));
  EXPECT_EQ(imgproc_destripe_by_type(px.data(), 4, 8, 1, 4, px.data()), 0);  // same buffer
}

TEST(ImageOperations, DestripeByParamsReadsModeAndStrip) {
  MatchContext* ctx = ctx_create();
  const Bytes px(25, 1);
  Bytes out(25);
  struct Case {
    int mode, strip, status;
    std::string kernel;
  } cases[] = {{0, 1, 0, "stripe_correct_columns"},  // mode m acts as type m + 1
               {1, 3, 0, "stripe_correct_columns"},
               {2, 1, 0, "stripe_correct_rows"},
               {3, 1, 0, "stripe_correct_columns"},
               {4, 1, 1, ""}};
  for (const auto& c : cases) {
    kernel_fakes::reset();
    param_set(ctx, 0x7001808b, c.mode);
    param_set(ctx, 0x17e400f4, c.strip);
    EXPECT_EQ(imgop_destripe_by_params(ctx, px.data(), nullptr, 5, 5, 500, nullptr, out.data()),
              c.status);
    if (!c.kernel.empty()) {
      ASSERT_FALSE(calls().empty());
      EXPECT_EQ(calls().back().name, c.kernel) << c.mode;
    }
  }
  ctx_release(ctx);
}

TEST(ImageOperations, GuardsRefuseNullBuffersAndZero16BitSizes) {
  const Bytes px(16, 1);
  Bytes out(16);
  for (ImageOperation op : image_operation_table) {
    kernel_fakes::reset();
    EXPECT_EQ(op(nullptr, nullptr, nullptr, 4, 4, 500, nullptr, out.data()), ML_BAD_ARGUMENT);
    EXPECT_EQ(op(nullptr, px.data(), nullptr, 4, 4, 500, nullptr, nullptr), ML_BAD_ARGUMENT);
    EXPECT_EQ(op(nullptr, px.data(), nullptr, 0, 4, 500, nullptr, out.data()), ML_BAD_ARGUMENT);
    EXPECT_EQ(op(nullptr, px.data(), nullptr, 4, 65536, 500, nullptr, out.data()),
              ML_BAD_ARGUMENT);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(op(nullptr, px.data(), nullptr, 4, 4, 500, nullptr, out.data()), 0);
    // The binomial smoothing is the real kernel, which records nothing.
    EXPECT_EQ(calls().size(), op == imgop_smooth_binomial ? 0u : 1u);
  }
  // Resolution is checked where it is used.
  EXPECT_EQ(imgproc_normalize_local_dpi(px.data(), 4, 4, 0, out.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_band_filter_guarded(px.data(), 4, 4, 65536, out.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_smooth_binomial_guarded(px.data(), 4, 4, 0, out.data()), 0);
  EXPECT_EQ(img_remove_checker_guarded(px.data(), 4, 4, 0, out.data()), 0);
}

TEST(ImageOperations, LocalNormalisationRadiusFollowsTheResolution) {
  const Bytes px(16, 1);
  Bytes out(16);
  for (auto [dpi, radius] : {std::pair{500, 3}, {1000, 7}, {250, 2}, {72, 0}}) {
    kernel_fakes::reset();
    ASSERT_EQ(imgproc_normalize_local_dpi(px.data(), 4, 4, dpi, out.data()), 0);
    EXPECT_EQ(calls()[0].args, (std::vector<long>{4, 4, radius, 128, 75})) << dpi;
  }
}

TEST(ImageOperations, SmoothAndSharpenByType) {
  const Bytes px = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  Bytes out(9), ref(9);
  struct Case {
    bool sharpen;
    int type, value, status;
    std::vector<long> filter_args;  // of fftfilt_radial_u8, when reached
  } cases[] = {
      {false, 4, 9, 0, {3, 3, 500, 0, 0, 9, 156, 0}},
      {false, 2, 9, 1, {}},
      {false, 5, 9, 1, {}},
      {true, 1, 40, 0, {3, 3, 500, 40, 156, -1, 0, 0}},
      {true, 2, 40, 0, {3, 3, 500, 40, 0, -1, 0, 0}},
      {true, 3, 40, 1, {}},
  };
  for (const auto& c : cases) {
    kernel_fakes::reset();
    const int st = c.sharpen ? img_sharpen_by_type(px.data(), 3, 3, 500, c.type, c.value, out.data())
                             : img_smooth_by_type(px.data(), 3, 3, 500, c.type, c.value, out.data());
    EXPECT_EQ(st, c.status) << c.sharpen << " " << c.type;
    if (c.filter_args.empty()) continue;
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].args, c.filter_args);
  }
  kernel_fakes::reset();
  EXPECT_EQ(img_smooth_by_type(px.data(), 3, 3, 500, 1, 0, out.data()), 0);
  ASSERT_EQ(filter_binomial3x3_u8(px.data(), 3, 3, ref.data()), 0);
  EXPECT_EQ(out, ref);
  // The 3x3 sharpening takes a byte; 256 and more become 2.
  for (auto [amount, strength] : {std::pair{17, 17}, {256, 2}, {1000, 2}}) {
    ASSERT_EQ(img_sharpen_by_type(px.data(), 3, 3, 500, 0, amount, out.data()), 0);
    ASSERT_EQ(filter_sharpen3x3_u8(px.data(), 3, 3, uint8_t(strength), ref.data()), 0);
    EXPECT_EQ(out, ref) << amount;
  }
}

TEST(ImageOperations, ScaledPixelCount) {
  struct Case {
    int h, w, from, to, status;
    uint32_t count;
  } cases[] = {{400, 300, 500, 250, 0, 200 * 150},
               {400, 300, 508, 500, 0, 400 * 300},  // within 8 dpi: unchanged
               {401, 301, 500, 491, 0, 394 * 296},
               {400, 300, 500, 500, 2, 0},
               {400, 300, 250, 500, 2, 0},
               {400, 300, 500, 0, 2, 0},
               {0, 300, 500, 250, 2, 0}};
  for (const auto& c : cases) {
    uint32_t count = 0;
    EXPECT_EQ(img_scaled_pixel_count(c.h, c.w, c.from, c.to, &count), c.status) << c.h << " " << c.to;
    if (c.status == 0) {
      EXPECT_EQ(count, c.count) << c.h << " " << c.to;
    }
  }
  EXPECT_EQ(img_scaled_pixel_count(4, 4, 500, 250, nullptr), ML_BAD_ARGUMENT);
}

TEST(ImageOperations, QualityAndContrastGuardedForms) {
  kernel_fakes::reset();
  const Bytes px(9, 1);
  uint8_t q = 0, bright = 0;
  uint32_t fg = 0;
  EXPECT_EQ(img_quality_guarded(px.data(), 3, 3, &q, &fg, &bright), 0);
  EXPECT_EQ(q, 77);
  EXPECT_EQ(fg, 1234u);
  EXPECT_EQ(bright, 44);
  EXPECT_EQ(img_quality_guarded(px.data(), 3, 3, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(img_quality_guarded(nullptr, 3, 3, &q, &fg, &bright), ML_BAD_ARGUMENT);
  uint8_t contrast = 99;
  EXPECT_EQ(img_block_contrast_guarded(px.data(), 3, 3, 500, &contrast), 0);
  EXPECT_EQ(contrast, 11);
  kernel_fakes::setting()["imgstat_block_contrast"] = 4;
  EXPECT_EQ(img_block_contrast_guarded(px.data(), 3, 3, 500, &contrast), 4);
  EXPECT_EQ(contrast, 0);
}

}  // namespace

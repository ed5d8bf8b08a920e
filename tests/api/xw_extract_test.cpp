// Extraction through the context API: resolution and size bounds, the
// stretching to 500 dpi, the written template and the returned status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/pgm.h"
#include "xw_operations_support.h"
#include "zylscan/nuvel.h"
#include "zylscan/template_format.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

class Extraction : public testing::Test {
 protected:
  zyl::test::Context context{XWCreateContext()};
  zyl::test::GreyImage print = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(ZYL_TEMPLATE_BUFFER_SIZE, 0xEE);
  std::int32_t length = -1;

  void SetUp() override { ASSERT_NE(context, nullptr); }

  // The middle of the print: small enough that its doubled copy stays cheap.
  zyl::test::GreyImage middle() const {
    zyl::test::GreyImage small{150, 160, {}};
    for (int y = 0; y < small.height; ++y)
      for (int x = 0; x < small.width; ++x) small.pixels.push_back(print.at(x + 50, y + 60));
    return small;
  }

  std::int32_t extract(zyl::test::GreyImage& image, std::int32_t resolution) {
    return XWExtract(image.width, image.height, image.pixels.data(), resolution, out.data(), &length,
                     context.get());
  }
};

// The image with every pixel repeated twice across and twice down.
zyl::test::GreyImage doubled(const zyl::test::GreyImage& g) {
  zyl::test::GreyImage d{g.width * 2, g.height * 2, {}};
  d.pixels.resize(static_cast<std::size_t>(d.width) * d.height);
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) d.pixels[static_cast<std::size_t>(y) * d.width + x] = g.at(x / 2, y / 2);
  return d;
}

TEST(StretchedSize, RefusesResolutionsAndSizesOutsideTheirBounds) {
  struct Case {
    std::int32_t width, height, resolution;
    std::int32_t status, w, h;
  };
  const Case cases[] = {
      {256, 360, 500, XW_OK, 256, 360},
      {256, 360, 250, XW_OK, 512, 720},
      {256, 360, 49, XW_ERR_RESOLUTION, 0, 0},
      {100, 150, 50, XW_OK, 1000, 1500},
      {256, 360, 50, XW_ERR_IMAGE_SIZE, 2560, 3600},
      {256, 360, 5000, XW_OK, 25, 36},
      {256, 360, 5001, XW_ERR_RESOLUTION, 0, 0},
      {15, 360, 500, XW_ERR_IMAGE_SIZE, 15, 360},
      {30, 360, 900, XW_OK, 16, 200},
      {4097, 360, 1000, XW_OK, 2048, 180},
      {4098, 360, 1000, XW_ERR_IMAGE_SIZE, 2049, 180},
      {360, 15, 500, XW_ERR_IMAGE_SIZE, 360, 15},
      {360, 4098, 1000, XW_ERR_IMAGE_SIZE, 180, 2049},
      {0, 360, 500, XW_ERR_IMAGE_SIZE, 0, 360},
      {-300, 360, 500, XW_ERR_IMAGE_SIZE, -300, 360},
  };
  for (const Case& c : cases) {
    std::int32_t w = 0, h = 0;
    EXPECT_EQ(ComputeStretchedImageSize(c.width, c.height, c.resolution, &w, &h), c.status)
        << c.width << "x" << c.height << "@" << c.resolution;
    EXPECT_EQ(w, c.w) << c.width << "x" << c.height << "@" << c.resolution;
    EXPECT_EQ(h, c.h) << c.width << "x" << c.height << "@" << c.resolution;
  }
  std::int32_t w = 0;
  EXPECT_EQ(ComputeStretchedImageSize(256, 360, 500, &w, nullptr), XW_ERR_NULL_ARGUMENT);
}

}  // namespace

TEST_F(Extraction, RefusalsWriteNothing) {
  const auto pixels = print.pixels;
  struct Case {
    std::int32_t width, height, resolution;
    bool null_pixels, null_out, null_length;
    std::int32_t status;
  };
  const Case cases[] = {
      {print.width, print.height, 49, false, false, false, XW_ERR_RESOLUTION},
      {print.width, print.height, 5001, false, false, false, XW_ERR_RESOLUTION},
      {15, print.height, 500, false, false, false, XW_ERR_IMAGE_SIZE},
      {print.width, 15, 500, false, false, false, XW_ERR_IMAGE_SIZE},
      {print.width, print.height, 500, true, false, false, XW_ERR_NULL_ARGUMENT},
      {print.width, print.height, 500, false, true, false, XW_ERR_NULL_ARGUMENT},
      {print.width, print.height, 500, false, false, true, XW_ERR_NULL_ARGUMENT},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XWExtract(c.width, c.height, c.null_pixels ? nullptr : print.pixels.data(), c.resolution,
                        c.null_out ? nullptr : out.data(), c.null_length ? nullptr : &length, context.get()),
              c.status)
        << c.width << "x" << c.height << "@" << c.resolution;
    EXPECT_EQ(length, -1);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(print.pixels, pixels);
  }
}

TEST_F(Extraction, WritesTheTemplateAndLeavesTheSkeletonInTheImage) {
  ASSERT_EQ(extract(print, 500), XW_OK);
  auto record = zyl::test::record_of({});
  ASSERT_GT(length, 7);
  EXPECT_EQ(DecompressFeatures(out.data(), record.get()), length);
  EXPECT_GE(record->minutiaCount, 15);
  EXPECT_TRUE(std::all_of(print.pixels.begin(), print.pixels.end(), [](std::uint8_t v) { return v == 0 || v == 255; }));
  const auto ridge = std::count(print.pixels.begin(), print.pixels.end(), std::uint8_t{0});
  EXPECT_GT(ridge, 1000);  // thin lines, but many of them
  EXPECT_LT(ridge, static_cast<long>(print.pixels.size() / 4));
}

TEST_F(Extraction, AnImageAt250DpiIsProcessedAtTwiceItsSize) {
  zyl::test::GreyImage small = middle();
  zyl::test::GreyImage big = doubled(small);
  const std::int32_t status = extract(big, 500);
  const std::vector<std::uint8_t> at500(out.begin(), out.begin() + length);
  const auto big_skeleton = big.pixels;

  EXPECT_EQ(extract(small, 250), status);
  ASSERT_GT(length, 7);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + length), at500);
  // The skeleton comes back at the input's size: every other pixel of the
  // large one.
  for (int y = 0; y < small.height; ++y)
    for (int x = 0; x < small.width; ++x)
      ASSERT_EQ(small.at(x, y), big_skeleton[static_cast<std::size_t>(2 * y) * big.width + 2 * x]) << x << "," << y;
}

TEST_F(Extraction, TheRawResultFlagReturnsTheQualityValue) {
  zyl::test::GreyImage flat{200, 200, std::vector<std::uint8_t>(200 * 200, 128)};
  auto flat2 = flat;
  EXPECT_EQ(extract(flat, 500), XW_ERR_POOR_IMAGE);
  EXPECT_GE(length, 7);  // written all the same
  auto good = print;

  ASSERT_EQ(XWSetAdditionalParameter(11000, 1, context.get()), XW_OK);
  const std::int32_t poor_value = extract(flat2, 500);
  EXPECT_GE(poor_value, 120);
  EXPECT_LE(poor_value, 255);
  const std::int32_t good_value = extract(good, 500);
  EXPECT_GE(good_value, 0);
  EXPECT_LT(good_value, 120);

  // With the threshold moved under the good image's value, it is refused too.
  ASSERT_EQ(XWSetAdditionalParameter(11000, 0, context.get()), XW_OK);
  ASSERT_EQ(XWSetAdditionalParameter(10000, good_value, context.get()), XW_OK);
  auto again = print;
  EXPECT_EQ(extract(again, 500), XW_ERR_POOR_IMAGE);
}

TEST_F(Extraction, WritesStandardRecordsOfTheInputSize) {
  struct Case {
    decltype(&XWExtract_ISO) call;
    std::int32_t format;
    int size_at;  // offset of the big-endian image width, then height
  };
  const auto be16 = [&](int at) { return out[at] << 8 | out[at + 1]; };
  for (const Case& c : {Case{&XWExtract_ISO, 2, 14}, Case{&XWExtract_ANSI, 4, 16}}) {
    auto image = middle();
    c.call(image.width, image.height, image.pixels.data(), 250, out.data(), &length, 3, context.get());
    EXPECT_EQ(ZYL_getFormatType(out.data(), length), c.format);
    // The record gives the size of the image as the caller passed it.
    EXPECT_EQ(be16(c.size_at), 150);
    EXPECT_EQ(be16(c.size_at + 2), 160);
  }
}

TEST_F(Extraction, FixedResolutionFormIsTheCallAt500Dpi) {
  auto copy = print;
  ASSERT_EQ(extract(copy, 500), XW_OK);
  const std::vector<std::uint8_t> first(out.begin(), out.begin() + length);
  std::int32_t length2 = 0;
  std::vector<std::uint8_t> out2(ZYL_TEMPLATE_BUFFER_SIZE);
  ASSERT_EQ(XWFExtract(print.width, print.height, print.pixels.data(), out2.data(), &length2, context.get()), XW_OK);
  EXPECT_EQ(std::vector<std::uint8_t>(out2.begin(), out2.begin() + length2), first);
}

// Impressions of one finger score clearly above impressions of different
// fingers (two fingers, two impressions each, from an optical sensor).
TEST_F(Extraction, GenuinePairsScoreClearlyAboveImpostorPairs) {
  std::vector<std::vector<std::uint8_t>> t;
  for (const char* name : {"fvc2002_101_1_crop.pgm", "fvc2002_101_2_crop.pgm", "fvc2002_102_1_crop.pgm",
                           "fvc2002_102_2_crop.pgm"}) {
    auto image = zyl::test::read_pgm(zyl::test::test_data(name));
    ASSERT_EQ(extract(image, 500), XW_OK) << name;
    t.emplace_back(out.begin(), out.end());
  }
  const std::int32_t genuine[] = {XWFVerify(t[0].data(), t[1].data(), context.get()),
                                  XWFVerify(t[2].data(), t[3].data(), context.get())};
  std::int32_t worst_impostor = 0;
  for (int i : {0, 1})
    for (int j : {2, 3}) worst_impostor = std::max(worst_impostor, XWFVerify(t[i].data(), t[j].data(), context.get()));
  for (std::int32_t g : genuine) {
    EXPECT_GT(g, 47) << "impostor " << worst_impostor;
    EXPECT_GT(g, 2 * worst_impostor) << "impostor " << worst_impostor;
  }
  EXPECT_LT(worst_impostor, 47);
  EXPECT_GE(XWFVerify(t[0].data(), t[0].data(), context.get()), 500);

  // Merged from impressions of one finger, the template still matches each
  // of them and still does not match the other finger.
  const std::uint8_t* set[3] = {t[0].data(), t[1].data(), t[0].data()};
  std::vector<std::uint8_t> merged(ZYL_TEMPLATE_BUFFER_SIZE);
  std::int32_t merged_length = 0;
  ASSERT_GE(XWFGeneralize(set, merged.data(), &merged_length, context.get()), 0);
  EXPECT_GT(XWFVerify(merged.data(), t[0].data(), context.get()), 47);
  EXPECT_GT(XWFVerify(merged.data(), t[1].data(), context.get()), 47);
  EXPECT_LT(XWFVerify(merged.data(), t[2].data(), context.get()), 47);
}

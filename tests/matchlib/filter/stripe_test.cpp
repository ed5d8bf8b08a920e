// Stripe detection and correction.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_stripe.h"

namespace {

// A smooth diagonal ramp with every second strip of n columns raised.
std::vector<uint8_t> striped(int h, int w, int n, int step) {
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = static_cast<uint8_t>(60 + y + x + ((x / n) % 2) * step);
  return img;
}

long boundary_steps(const std::vector<uint8_t>& img, int h, int w, int n) {
  long s = 0;
  for (int y = 0; y < h; ++y)
    for (int x = n; x < w; x += n) s += std::abs(img[y * w + x] - img[y * w + x - 1]);
  return s;
}

TEST(StripeDetect, FindsStripsOfTheGivenWidth) {
  const int h = 16, w = 32;
  uint8_t flag = 7;
  const auto clean = striped(h, w, 4, 0), dirty = striped(h, w, 4, 20);
  ASSERT_EQ(stripe_detect_columns(dirty.data(), h, w, 4, 1, &flag), ML_OK);
  EXPECT_EQ(flag, 1);
  ASSERT_EQ(stripe_detect_columns(clean.data(), h, w, 4, 1, &flag), ML_OK);
  EXPECT_EQ(flag, 0);
  struct Case {
    int a, mode, h, w;
  };
  for (const Case c : {Case{1, 1, h, w}, Case{4, 0, h, w}, Case{40, 1, h, w}, Case{4, 1, 0, w}}) {
    flag = 7;
    EXPECT_EQ(stripe_detect_columns(dirty.data(), c.h, c.w, c.a, c.mode, &flag), ML_BAD_ARGUMENT);
    EXPECT_EQ(flag, 0);
  }
  EXPECT_EQ(stripe_detect_columns(dirty.data(), h, w, 4, 1, nullptr), ML_BAD_ARGUMENT);
  // Rows: the same image turned.
  std::vector<uint8_t> t(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) t[x * h + y] = dirty[y * w + x];
  ASSERT_EQ(stripe_detect_rows(t.data(), w, h, 4, 1, &flag), ML_OK);
  EXPECT_EQ(flag, 1);
}

TEST(StripeCorrect, ColumnStripsLoseMostOfTheirOffset) {
  const int h = 16, w = 34, n = 4;  // 8 strips, two columns past the last strip
  const auto dirty = striped(h, w, n, 24);
  std::vector<uint8_t> out(h * w);
  ASSERT_EQ(stripe_correct_columns(dirty.data(), h, w, n, 0, out.data()), ML_OK);
  EXPECT_LT(boundary_steps(out, h, w, n) * 3, boundary_steps(dirty, h, w, n));
  for (int y = 0; y < h; ++y)
    for (int x = 32; x < 34; ++x) EXPECT_EQ(out[y * w + x], dirty[y * w + x]) << "no strip there";
  auto in_place = dirty;
  ASSERT_EQ(stripe_correct_columns(in_place.data(), h, w, n, 0, in_place.data()), ML_OK);
  EXPECT_EQ(in_place, out);
}

TEST(StripeCorrect, CleanImageAndRefusedWidths) {
  const int h = 8, w = 8;
  std::vector<uint8_t> flat(h * w, 90), out(h * w);
  ASSERT_EQ(stripe_correct_columns(flat.data(), h, w, 2, 0, out.data()), ML_OK);
  EXPECT_EQ(out, flat);
  std::vector<uint8_t> untouched(h * w, 1);
  EXPECT_EQ(stripe_correct_columns(flat.data(), h, w, 0, 0, untouched.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(stripe_correct_columns(flat.data(), h, w, 9, 0, untouched.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(stripe_correct_rows(flat.data(), h, w, 9, 0, untouched.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(untouched, std::vector<uint8_t>(h * w, 1));
}

TEST(StripeCorrect, SinglePixelOutliersMoveBackAboveTheThreshold) {
  const int h = 5, w = 5;
  std::vector<uint8_t> img(h * w, 100), out(h * w);
  img[12] = 140;  // 40 above its four neighbours
  img[6] = 103;   // 3 above: below threshold 4 on average
  ASSERT_EQ(stripe_correct_columns(img.data(), h, w, 1, 4, out.data()), ML_OK);
  EXPECT_LT(out[12], 115);
  EXPECT_GE(out[12], 100);
  EXPECT_EQ(out[6], 103);
  // First pass alone: offset (1*40 + 1*40 + 80) / 4 = 40, moved by -30.
  EXPECT_EQ(out[0], 100);
}

TEST(StripeCorrect, WholeRowsAndColumnsPullOffsetLinesBack) {
  const int h = 12, w = 10;
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = static_cast<uint8_t>(80 + 2 * x + (y == 5 ? 40 : 0));
  auto rows = img;
  ASSERT_EQ(stripe_correct_whole_rows(rows.data(), h, w), ML_OK);
  EXPECT_LT(rows[5 * w + 3] - rows[4 * w + 3], 15);
  // The transposed problem through the column form and through the row form.
  std::vector<uint8_t> t(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) t[x * h + y] = img[y * w + x];
  ASSERT_EQ(stripe_correct_whole_columns(t.data(), w, h), ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) EXPECT_EQ(t[x * h + y], rows[y * w + x]) << y << "," << x;
  std::vector<uint8_t> by_rows(h * w);
  ASSERT_EQ(stripe_correct_rows(img.data(), h, w, 1, 0, by_rows.data()), ML_OK);
  std::vector<uint8_t> transposed(h * w), by_cols(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) transposed[x * h + y] = img[y * w + x];
  ASSERT_EQ(stripe_correct_columns(transposed.data(), w, h, 1, 0, by_cols.data()), ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(by_rows[y * w + x], by_cols[x * h + y]);
}

}  // namespace

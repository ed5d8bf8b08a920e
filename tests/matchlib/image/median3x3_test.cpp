#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "matchlib/image/pixel_reference.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_object.h"

namespace {

// Brute force over the clipped 3x3 window; thin images are copied.
template <class T>
std::vector<T> reference_median(const std::vector<T>& src, uint32_t h, uint32_t w) {
  if (h == 1 || w == 1) return src;
  std::vector<std::pair<int, int>> window;
  for (int dr = -1; dr <= 1; ++dr)
    for (int dc = -1; dc <= 1; ++dc) window.push_back({dr, dc});
  return zyl::test::reference_median(src, int(h), int(w), window);
}

template <class T>
using MedianFn = int (*)(const T*, uint32_t, uint32_t, T*);

template <class T>
void check_against_reference(MedianFn<T> fn, uint32_t seed) {
  std::mt19937 rng(seed);
  for (uint32_t h : {1u, 2u, 3u, 4u, 7u, 16u})
    for (uint32_t w : {1u, 2u, 3u, 5u, 13u}) {
      std::vector<T> src(h * w);
      // Narrow value ranges make ties common; full ranges test overflow.
      for (int pass = 0; pass < 2; ++pass) {
        std::uniform_int_distribution<int64_t> d(
            pass ? int64_t{std::numeric_limits<T>::min()} : 0,
            pass ? int64_t{std::numeric_limits<T>::max()} : 3);
        for (auto& v : src) v = static_cast<T>(d(rng));
        const auto want = reference_median(src, h, w);
        std::vector<T> out(src.size());
        ASSERT_EQ(fn(src.data(), h, w, out.data()), 0);
        EXPECT_EQ(out, want) << h << "x" << w;
        std::vector<T> in_place = src;
        ASSERT_EQ(fn(in_place.data(), h, w, in_place.data()), 0);
        EXPECT_EQ(in_place, want) << "in place " << h << "x" << w;
      }
    }
}

TEST(Median3x3, EveryTypeMatchesBruteForceAlsoInPlace) {
  check_against_reference<uint8_t>(filter_median3x3_u8, 1);
  check_against_reference<int8_t>(filter_median3x3_s8, 2);
  check_against_reference<uint16_t>(filter_median3x3_u16, 3);
  check_against_reference<int16_t>(filter_median3x3_s16, 4);
  check_against_reference<uint32_t>(filter_median3x3_u32, 5);
  check_against_reference<int32_t>(filter_median3x3_s32, 6);
}

TEST(Median3x3, KnownAnswers) {
  std::vector<uint8_t> square = {130, 60, 253, 230}, out(4);
  ASSERT_EQ(filter_median3x3_u8(square.data(), 2, 2, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(4, 180));

  std::vector<uint8_t> nine = {1, 2, 3, 4, 5, 6, 7, 8, 9}, o9(9);
  ASSERT_EQ(filter_median3x3_u8(nine.data(), 3, 3, o9.data()), ML_OK);
  EXPECT_EQ(o9, (std::vector<uint8_t>{3, 3, 4, 4, 5, 5, 6, 6, 7}));

  std::vector<int8_t> neg = {-1, -2, -3, -4, -5, -6, -7, -8, -9}, on(9);
  ASSERT_EQ(filter_median3x3_s8(neg.data(), 3, 3, on.data()), ML_OK);
  EXPECT_EQ(on, (std::vector<int8_t>{-3, -3, -4, -4, -5, -5, -6, -6, -7}));
}

TEST(Median3x3, MiddlePairMeanDoesNotOverflow) {
  std::vector<uint32_t> u = {4294967295u, 4294967294u, 4294967295u, 4294967294u}, ou(4);
  ASSERT_EQ(filter_median3x3_u32(u.data(), 2, 2, ou.data()), ML_OK);
  EXPECT_EQ(ou[0], 4294967294u);
  std::vector<int32_t> s = {2147483647, 2147483646, 2147483647, 2147483646}, os(4);
  ASSERT_EQ(filter_median3x3_s32(s.data(), 2, 2, os.data()), ML_OK);
  EXPECT_EQ(os[0], 2147483646);
}

TEST(Median3x3, RemovesAnOutlierAndKeepsAnEdge) {
  const uint32_t h = 8, w = 8;
  std::vector<uint8_t> img(h * w), out(h * w);
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t c = 0; c < w; ++c) img[r * w + c] = c < 4 ? 40 : 200;
  std::vector<uint8_t> edge = img;
  img[3 * w + 1] = 0;  // one dark pixel inside the flat left half
  ASSERT_EQ(filter_median3x3_u8(img.data(), h, w, out.data()), ML_OK);
  for (uint32_t r = 1; r + 1 < h; ++r) EXPECT_EQ(out[r * w + 1], 40);
  for (uint32_t r = 1; r + 1 < h; ++r)
    for (uint32_t c = 1; c + 1 < w; ++c) EXPECT_EQ(out[r * w + c], edge[r * w + c]);
}

TEST(Median3x3, EmptyImageAndNullBuffers) {
  uint8_t px = 7;
  EXPECT_EQ(filter_median3x3_u8(&px, 0, 5, &px), ML_OK);
  EXPECT_EQ(px, 7);
  EXPECT_EQ(filter_median3x3_u8(nullptr, 3, 3, &px), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_median3x3_u8(&px, 1, 1, nullptr), ML_BAD_ARGUMENT);
}

}  // namespace

// The window filters against plain brute-force references on random images
// of random sizes and radii, radii beyond the image included. Every filter
// writes over its input, so matching a reference computed from a copy of
// the input also shows that each window read only values from before the
// call.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "extract/binarisation.h"
#include "extract/field_images.h"
#include "extract/smoothing.h"
#include "extract/window_sums.h"
#include "zylscan/extract_filters.h"
#include "zylscan/geometry.h"

namespace {

using zyl::test::Grid;

struct Shape {
  int width, height, radius;
};

// Random sizes from 1 x 1 up; radii from 0 to well beyond the image.
std::vector<Shape> random_shapes(std::mt19937& rng, int n) {
  std::uniform_int_distribution<int> side(1, 37);
  std::uniform_int_distribution<int> radius(0, 12);
  std::vector<Shape> shapes = {{1, 1, 0}, {1, 9, 3}, {9, 1, 2}, {5, 4, 40}, {23, 17, 1000}};
  for (int i = 0; i < n; ++i) shapes.push_back({side(rng), side(rng), radius(rng)});
  shapes.push_back({30, 20, 25});
  return shapes;
}

int window_mean(const Grid& g, int x, int y, int r) {
  long sum = 0, count = 0;
  for (int yy = std::max(0, y - r); yy <= std::min(g.height - 1, y + r); ++yy)
    for (int xx = std::max(0, x - r); xx <= std::min(g.width - 1, x + r); ++xx) {
      sum += g.at(xx, yy);
      ++count;
    }
  return static_cast<int>(sum / count);
}

Grid means(const Grid& g, int r) {
  Grid out(g.width, g.height);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) out.at(x, y) = window_mean(g, x, y, r);
  return out;
}

// Background (255) where the grey value is at or above the mean, ridge
// (0) elsewhere.
Grid binarised(const Grid& g, const Grid& m) {
  Grid out(g.width, g.height);
  for (std::size_t i = 0; i < g.v.size(); ++i) out.v[i] = g.v[i] >= m.v[i] ? 255 : 0;
  return out;
}

Grid random_binary(std::mt19937& rng, int w, int h) {
  Grid g = zyl::test::random_grid(rng, w, h, 0, 2);
  for (int& p : g.v) p = p == 0 ? 0 : 255;
  return g;
}

// Direction bytes: orientations 0..127, a third of them with the bad bit.
Grid random_directions(std::mt19937& rng, int w, int h) {
  Grid g = zyl::test::random_grid(rng, w, h, 0, 127);
  std::bernoulli_distribution bad(1.0 / 3);
  for (int& p : g.v)
    if (bad(rng)) p |= 0x80;
  return g;
}

bool good(const Grid& D, int x, int y) { return (D.at(x, y) & 0x80) == 0; }
bool interior(const Grid& g, int x, int y) { return x >= 1 && y >= 1 && x <= g.width - 2 && y <= g.height - 2; }
bool on_border(const Grid& binary, int x, int y) {
  int sum = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) sum += binary.at(x + dx, y + dy);
  return sum >= 9 && sum <= 2286;
}

// Running sums of a window slide, with vectors and plainly, against sums
// taken column by column: entering columns only, entering and leaving, and
// leaving only; 32-bit steps as large as a 2048-row column of bytes gives,
// and 16-bit ones whose running sums stay below 2^16 while their
// differences wrap; every length modulo the vector widths.
template <typename Sum>
void CheckRunningSums(std::mt19937& rng, int trial, Sum largest) {
  const int n = trial % 37;
  auto draw = [&](long low, long high) { return std::uniform_int_distribution<long>(low, high)(rng); };
  auto check = [&](auto run, auto plain, const std::vector<Sum>& plus, const std::vector<Sum>& minus, Sum start,
                   bool with_plus, bool with_minus) {
    std::vector<Sum> want(n), fast(n, 1), slow(n, 1);
    long sum = start;
    for (int i = 0; i < n; ++i) {
      sum += (with_plus ? static_cast<long>(plus[i]) : 0) - (with_minus ? static_cast<long>(minus[i]) : 0);
      ASSERT_TRUE(sum >= 0 && sum <= largest) << "the test's own steps leave the range";
      want[i] = static_cast<Sum>(sum);
    }
    const Sum last = n > 0 ? want[n - 1] : start;
    const std::string what = std::string("trial ") + std::to_string(trial) + (with_plus ? " +" : "") +
                             (with_minus ? " -" : "");
    EXPECT_EQ(run(plus.data(), minus.data(), n, start, fast.data()), last) << what;
    EXPECT_EQ(plain(plus.data(), minus.data(), n, start, slow.data()), last) << what;
    EXPECT_EQ(fast, want) << what;
    EXPECT_EQ(slow, want) << what;
  };
  using zyl::extract::running_sum;
  using zyl::extract::running_sum_plain;
  // Entering and leaving: a level that climbs to the largest sum and falls
  // back to 0 in large steps.
  std::vector<Sum> plus(n), minus(n);
  const Sum start = static_cast<Sum>(draw(0, largest));
  long level = start;
  for (int i = 0; i < n; ++i) {
    const long next = trial % 4 == 0 ? (i % 2 ? 0 : largest) : draw(0, largest);
    const long out = draw(std::max(0L, level - next), largest - std::max(0L, next - level));
    plus[i] = static_cast<Sum>(next - level + out);
    minus[i] = static_cast<Sum>(out);
    level = next;
  }
  check([](const Sum* p, const Sum* m, int k, Sum s, Sum* o) { return running_sum<true, true>(p, m, k, s, o); },
        [](const Sum* p, const Sum* m, int k, Sum s, Sum* o) {
          return running_sum_plain<true, true, Sum>(p, m, k, s, o);
        },
        plus, minus, start, true, true);
  // Entering only, from 0 up to at most the largest sum, and leaving only,
  // from there back down.
  std::vector<Sum> steps(n);
  long total = 0;
  for (auto& v : steps) total += v = static_cast<Sum>(trial % 4 == 0 ? largest / std::max(n, 1) : draw(0, largest / std::max(n, 1)));
  check([](const Sum* p, const Sum*, int k, Sum s, Sum* o) { return running_sum<true, false>(p, nullptr, k, s, o); },
        [](const Sum* p, const Sum*, int k, Sum s, Sum* o) {
          return running_sum_plain<true, false, Sum>(p, nullptr, k, s, o);
        },
        steps, steps, Sum{0}, true, false);
  check([](const Sum*, const Sum* m, int k, Sum s, Sum* o) { return running_sum<false, true>(nullptr, m, k, s, o); },
        [](const Sum*, const Sum* m, int k, Sum s, Sum* o) {
          return running_sum_plain<false, true, Sum>(nullptr, m, k, s, o);
        },
        steps, steps, static_cast<Sum>(total), false, true);
}

TEST(WindowFilters, RunningSumsWithAndWithoutVectorInstructions) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 300; ++trial) {
    CheckRunningSums<std::int32_t>(rng, trial, 255 * 2048 * 9);
    CheckRunningSums<std::uint16_t>(rng, trial, 65535);
  }
}

// The mean by reciprocal against the integer quotient: every sum below 2^16
// for the window sizes of radii up to 7, and for every window size below
// 2^21 / 255 (radius 44) the sums where an error would show, just below and
// at each multiple of the size, up to the bound of 2^21.
TEST(WindowFilters, MeanByReciprocalIsTheIntegerQuotient) {
  using zyl::extract::reciprocal_up;
  using zyl::extract::scaled_mean_of;
  for (int n = 1; n <= 225; ++n) {
    const float r = reciprocal_up(n);
    for (std::int32_t sum = 0; sum < (1 << 16); ++sum) ASSERT_EQ(scaled_mean_of(sum, r), sum / n) << sum << " / " << n;
  }
  for (int n = 1; n <= 8224; ++n) {
    const float r = reciprocal_up(n);
    ASSERT_GE(static_cast<double>(r) * n, 1.0) << n;
    for (std::int64_t multiple = n; multiple < (1 << 21); multiple += n) {
      const auto sum = static_cast<std::int32_t>(multiple);
      ASSERT_EQ(scaled_mean_of(sum, r), sum / n) << sum << " / " << n;
      ASSERT_EQ(scaled_mean_of(sum - 1, r), (sum - 1) / n) << sum - 1 << " / " << n;
    }
    ASSERT_EQ(scaled_mean_of((1 << 21) - 1, r), ((1 << 21) - 1) / n) << n;
  }
}

// Images of white pixels with windows whose sums just fit 16 bits (257 x 1
// and 15 x 15 pixels give 65535 and 57375) or just do not (17 x 16), beside
// random images of the same shapes; windows of 225 pixels, of 256 and 257
// (16-bit sums, but too large for 16-bit comparisons) and larger.
TEST(WindowFilters, MeanFiltersAtTheLimitsOfSixteenBitSums) {
  std::mt19937 rng(16);
  const Shape shapes[] = {{257, 1, 128}, {1, 257, 128}, {258, 3, 128}, {15, 15, 7},
                          {40, 30, 7},   {16, 16, 8},   {17, 16, 8},    {40, 30, 8}};
  for (const Shape& s : shapes) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " r=" << s.radius);
    for (int white = 0; white < 2; ++white) {
      const Grid g = white ? Grid(s.width, s.height, 255) : zyl::test::random_grid(rng, s.width, s.height);
      auto smooth = g.image();
      SmoothImage(s.width, s.height, smooth.get(), s.radius);
      EXPECT_EQ(Grid::of(smooth), means(g, s.radius));
      auto binary = g.image();
      BinarizeImage(s.width, s.height, binary.get(), s.radius);
      const Grid m = means(g, s.radius);
      Grid expected = binarised(g, m);
      EXPECT_EQ(Grid::of(binary), expected);

      // The adaptive binarisation, alone and after the density
      // binarisation with choices, with one window of this radius and
      // smaller ones.
      const int high = 130, low = 115;
      const Grid density = zyl::test::random_grid(rng, s.width, s.height, low - 2, high + 2);
      const int rs = s.radius / 3, rm = s.radius / 2, rl = s.radius;
      const Grid ms = means(g, rs), mm = means(g, rm);
      for (std::size_t i = 0; i < g.v.size(); ++i) {
        const int d = density.v[i];
        expected.v[i] = g.v[i] >= (d >= high ? ms.v[i] : d >= low ? mm.v[i] : m.v[i]) ? 255 : 0;
      }
      auto adaptive = g.image();
      auto dens = density.image();
      BinarizeImageA(s.width, s.height, adaptive.get(), dens.get(), high, low, rs, rm, rl);
      EXPECT_EQ(Grid::of(adaptive), expected);
      auto fused = g.image();
      zyl::extract::OwnedByteImage two(s.width, s.height);
      zyl::extract::BinarizeImageTwoWithChoices(s.width, s.height, fused.get(), two.get(), rs, rm, rl);
      zyl::extract::BinarizeImageByChoices(s.width, s.height, fused.get(), dens.get(), high, low);
      EXPECT_EQ(Grid::of(fused), expected);
      for (std::size_t i = 0; i < g.v.size(); ++i) expected.v[i] = g.v[i] >= (ms.v[i] + m.v[i]) / 2 ? 255 : 0;
      EXPECT_EQ(Grid::of(two), expected);
    }
  }
}

// Window sums of four 32-bit channels side by side (their running sums
// slide as the lanes of one vector) against brute force, with channel
// values up to the largest a direction difference pair takes and beyond.
TEST(WindowFilters, FourChannelWindowSumsMatchBruteForce) {
  std::mt19937 rng(23);
  for (const Shape& shape : random_shapes(rng, 60)) {
    const int w = shape.width, h = shape.height, r = shape.radius;
    std::uniform_int_distribution<std::int32_t> value(0, 100000);
    std::vector<std::int32_t> values(4 * static_cast<std::size_t>(w) * h);
    for (auto& v : values) v = value(rng);
    auto at = [&](int x, int y, int k) { return values[(static_cast<std::size_t>(y) * w + x) * 4 + k]; };
    zyl::extract::WindowSums<std::int32_t, 4, true> sums(w, h, r);
    for (int y = 0; y < h; ++y) {
      sums.advance_interleaved([&](int yy, std::int32_t* out) {
        std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(4) * w * yy, 4 * w, out);
      });
      for (int x = 0; x < w; ++x)
        for (int k = 0; k < 4; ++k) {
          std::int64_t expected = 0;
          for (int yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
            for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) expected += at(xx, yy, k);
          ASSERT_EQ(sums.sum(k, x), expected) << w << "x" << h << " r " << r << " at " << x << "," << y << " k " << k;
        }
    }
  }
}

TEST(WindowFilters, MeanFiltersMatchBruteForce) {
  std::mt19937 rng(11);
  for (const Shape& s : random_shapes(rng, 25)) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " r=" << s.radius);
    const Grid g = zyl::test::random_grid(rng, s.width, s.height);

    auto smooth = g.image();
    SmoothImage(s.width, s.height, smooth.get(), s.radius);
    EXPECT_EQ(Grid::of(smooth), means(g, s.radius));
    auto from = g.image();
    zyl::extract::OwnedByteImage to(s.width, s.height);
    zyl::extract::SmoothImageInto(s.width, s.height, from.get(), to.get(), s.radius);
    EXPECT_EQ(Grid::of(to), means(g, s.radius));
    EXPECT_EQ(Grid::of(from), g) << "the source is only read";

    auto putty = g.image();
    PuttyImage(s.width, s.height, putty.get());
    EXPECT_EQ(Grid::of(putty), means(g, 1));
  }
}

// The 3 x 3 mean on images of one to three rows and columns, where every
// window is clipped, and on a larger one.
TEST(WindowFilters, PuttyOnNarrowImages) {
  std::mt19937 rng(17);
  for (int w = 1; w <= 4; ++w)
    for (int h = 1; h <= 4; ++h) {
      const Grid g = zyl::test::random_grid(rng, w, h);
      auto putty = g.image();
      PuttyImage(w, h, putty.get());
      EXPECT_EQ(Grid::of(putty), means(g, 1)) << w << " x " << h;
    }
  const Grid white(70, 3, 255);
  auto putty = white.image();
  PuttyImage(70, 3, putty.get());
  EXPECT_EQ(Grid::of(putty), white);
}

TEST(WindowFilters, BinarisationsMatchBruteForce) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> radius(0, 9);
  for (const Shape& s : random_shapes(rng, 25)) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " r=" << s.radius);
    const Grid g = zyl::test::random_grid(rng, s.width, s.height);

    auto plain = g.image();
    BinarizeImage(s.width, s.height, plain.get(), s.radius);
    const Grid m = means(g, s.radius);
    Grid expected = binarised(g, m);
    EXPECT_EQ(Grid::of(plain), expected);

    // Two windows, in either order of the radii.
    const int r2 = radius(rng);
    auto grey = g.image();
    zyl::extract::OwnedByteImage out(s.width, s.height);
    BinarizeImageTwo(s.width, s.height, grey.get(), out.get(), s.radius, r2);
    const Grid m2 = means(g, r2);
    for (std::size_t i = 0; i < g.v.size(); ++i) expected.v[i] = g.v[i] >= (m.v[i] + m2.v[i]) / 2 ? 255 : 0;
    EXPECT_EQ(Grid::of(out), expected);
    EXPECT_EQ(Grid::of(grey), g) << "grey is only read";

    // Density-adaptive: densities around both limits, so that a density
    // equal to high takes the small window and one equal to low the middle.
    const int high = 130, low = 115;
    const Grid density = zyl::test::random_grid(rng, s.width, s.height, low - 2, high + 2);
    const int rs = radius(rng), rm = radius(rng), rl = radius(rng);
    auto adaptive = g.image();
    auto dens = density.image();
    BinarizeImageA(s.width, s.height, adaptive.get(), dens.get(), high, low, rs, rm, rl);
    const Grid ms = means(g, rs), mm = means(g, rm), ml = means(g, rl);
    for (std::size_t i = 0; i < g.v.size(); ++i) {
      const int d = density.v[i];
      const int mean = d >= high ? ms.v[i] : d >= low ? mm.v[i] : ml.v[i];
      expected.v[i] = g.v[i] >= mean ? 255 : 0;
    }
    EXPECT_EQ(Grid::of(adaptive), expected);

    // The same two binarisations from one pass and the choice bits, with
    // the density image changed in between as the pipeline changes it.
    auto fused = g.image();
    zyl::extract::OwnedByteImage fused_out(s.width, s.height);
    zyl::extract::BinarizeImageTwoWithChoices(s.width, s.height, fused.get(), fused_out.get(), rs, rm, rl);
    const Grid mrl = means(g, rl);
    for (std::size_t i = 0; i < g.v.size(); ++i) expected.v[i] = g.v[i] >= (ms.v[i] + mrl.v[i]) / 2 ? 255 : 0;
    EXPECT_EQ(Grid::of(fused_out), expected);
    zyl::extract::BinarizeImageByChoices(s.width, s.height, fused.get(), dens.get(), high, low);
    EXPECT_EQ(Grid::of(fused), Grid::of(adaptive));
  }
}

TEST(WindowFilters, NormalisationMatchesBruteForce) {
  std::mt19937 rng(13);
  for (const Shape& s : random_shapes(rng, 25)) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " r=" << s.radius);
    const Grid g = zyl::test::random_grid(rng, s.width, s.height);
    // A smoothed image lies close to the grey one; clamp into 0..255.
    Grid sm = means(g, 2);
    std::uniform_int_distribution<int> jitter(-30, 30);
    for (int& p : sm.v) p = std::clamp(p + jitter(rng), 0, 255);

    Grid deviation(s.width, s.height);
    for (std::size_t i = 0; i < g.v.size(); ++i) deviation.v[i] = std::abs(sm.v[i] - g.v[i]);
    const Grid d = means(deviation, s.radius);
    Grid expected(s.width, s.height);
    for (std::size_t i = 0; i < g.v.size(); ++i) {
      const int low = d.v[i] > sm.v[i] ? 0 : sm.v[i] - d.v[i];
      const int high = std::min(255, sm.v[i] + d.v[i]);
      const int grey = g.v[i];
      expected.v[i] = low == high    ? grey
                      : grey <= low  ? 0
                      : grey >= high ? 255
                                     : (grey - low) * 255 / (high - low);
    }
    auto grey = g.image();
    auto smooth = sm.image();
    NormalizeImage(s.width, s.height, grey.get(), smooth.get(), s.radius);
    EXPECT_EQ(Grid::of(smooth), expected);
    EXPECT_EQ(Grid::of(grey), g);
  }
}

TEST(WindowFilters, BorderDensityImageMatchesBruteForce) {
  std::mt19937 rng(14);
  for (const Shape& s : random_shapes(rng, 25)) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " r=" << s.radius);
    const Grid binary = random_binary(rng, s.width, s.height);
    const Grid D = random_directions(rng, s.width, s.height);
    Grid expected(s.width, s.height);
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) {
        int n = 0, b = 0;
        for (int yy = std::max(0, y - s.radius); yy <= std::min(s.height - 1, y + s.radius); ++yy)
          for (int xx = std::max(0, x - s.radius); xx <= std::min(s.width - 1, x + s.radius); ++xx) {
            if (!interior(binary, xx, yy) || !good(D, xx, yy)) continue;
            ++n;
            b += on_border(binary, xx, yy);
          }
        const int o = D.at(x, y) & 0x7F;
        const int k = o <= 119 ? dir_koefs[o] : 100;
        expected.at(x, y) = n == 0 ? 0 : (b * 255 / n) * k / 100;
      }
    auto image = binary.image();
    auto dirs = D.image();
    ComputeGImage(s.width, s.height, image.get(), dirs.get(), s.radius);
    EXPECT_EQ(Grid::of(image), expected);
  }
}

// Large windows on either side of 2^15 pixels, where the two counts of a
// window no longer share one 32-bit sum, against window counts taken from
// summed-area tables.
TEST(WindowFilters, BorderDensityImageOfLargeWindows) {
  std::mt19937 rng(15);
  const int w = 200, h = 190;
  const Grid binary = random_binary(rng, w, h);
  const Grid D = random_directions(rng, w, h);
  std::vector<long> goods((w + 1) * (h + 1), 0), borders(goods.size(), 0);
  auto at = [&](std::vector<long>& t, int x, int y) -> long& { return t[static_cast<std::size_t>(y) * (w + 1) + x]; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool g = interior(binary, x, y) && good(D, x, y);
      at(goods, x + 1, y + 1) = g + at(goods, x, y + 1) + at(goods, x + 1, y) - at(goods, x, y);
      at(borders, x + 1, y + 1) =
          (g && on_border(binary, x, y)) + at(borders, x, y + 1) + at(borders, x + 1, y) - at(borders, x, y);
    }
  for (int radius : {89, 95, 300}) {  // 179 x 179 windows pack; 191 x 190 and whole-image ones do not
    SCOPED_TRACE(radius);
    Grid expected(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int x0 = std::max(0, x - radius), x1 = std::min(w, x + radius + 1);
        const int y0 = std::max(0, y - radius), y1 = std::min(h, y + radius + 1);
        auto window = [&](std::vector<long>& t) { return at(t, x1, y1) - at(t, x0, y1) - at(t, x1, y0) + at(t, x0, y0); };
        const long n = window(goods), b = window(borders);
        const int o = D.at(x, y) & 0x7F;
        const int k = o <= 119 ? dir_koefs[o] : 100;
        expected.at(x, y) = n == 0 ? 0 : static_cast<int>(b * 255 / n) * k / 100;
      }
    auto image = binary.image();
    auto dirs = D.image();
    ComputeGImage(w, h, image.get(), dirs.get(), radius);
    EXPECT_EQ(Grid::of(image), expected);
  }
}

TEST(WindowFilters, MajorityAndAreaMeasuresMatchBruteForce) {
  std::mt19937 rng(15);
  for (const Shape& s : random_shapes(rng, 25)) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height);
    const Grid binary = random_binary(rng, s.width, s.height);
    const Grid D = random_directions(rng, s.width, s.height);

    Grid expected(s.width, s.height, 255);
    int good_count = 0, border_count = 0;
    for (int y = 1; y < s.height - 1; ++y)
      for (int x = 1; x < s.width - 1; ++x) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) sum += binary.at(x + dx, y + dy);
        expected.at(x, y) = sum >= 1152 ? 255 : 0;
        if (good(D, x, y)) {
          ++good_count;
          border_count += on_border(binary, x, y);
        }
      }
    auto image = binary.image();
    auto dirs = D.image();
    EXPECT_EQ(ComputeG(s.width, s.height, image.get(), dirs.get()),
              good_count == 0 ? 0 : border_count * 255 / good_count);
    EXPECT_EQ(ComputeA(s.width, s.height, image.get(), dirs.get()), good_count * 100 / (s.width * s.height));
    EXPECT_EQ(BSmoothImage(s.width, s.height, image.get()), s.height - 1);
    EXPECT_EQ(Grid::of(image), expected);
  }
}

TEST(WindowFilters, UniformImagePassesUnchanged) {
  const int w = 21, h = 13;
  const Grid uniform(w, h, 77);
  auto a = uniform.image(), b = uniform.image(), grey = uniform.image(), smooth = uniform.image();
  PuttyImage(w, h, a.get());
  SmoothImage(w, h, b.get(), 6);
  NormalizeImage(w, h, grey.get(), smooth.get(), 128);
  EXPECT_EQ(Grid::of(a), uniform);
  EXPECT_EQ(Grid::of(b), uniform);
  EXPECT_EQ(Grid::of(smooth), uniform) << "low equals high: the grey value stays";
  auto bin = uniform.image();
  BinarizeImage(w, h, bin.get(), 5);
  EXPECT_EQ(Grid::of(bin), Grid(w, h, 255));
}

TEST(WindowFilters, AreaOfAllGoodAndAllBadDirectionImages) {
  const int w = 40, h = 30;
  auto binary = Grid(w, h, 0).image();
  auto all_good = Grid(w, h, 5).image();
  auto all_bad = Grid(w, h, 0x85).image();
  EXPECT_EQ(ComputeA(w, h, binary.get(), all_good.get()), 38 * 28 * 100 / (40 * 30));
  EXPECT_EQ(ComputeA(w, h, binary.get(), all_bad.get()), 0);
  EXPECT_EQ(ComputeG(w, h, binary.get(), all_bad.get()), 0);
  ComputeGImage(w, h, binary.get(), all_bad.get(), 4);
  EXPECT_EQ(Grid::of(binary), Grid(w, h, 0)) << "no good pixel in reach gives 0";
}

TEST(WindowFilters, IgnoresNullAndEmptyImages) {
  auto img = Grid(4, 4, 9).image();
  PuttyImage(4, 4, nullptr);
  SmoothImage(0, 4, img.get(), 2);
  SmoothImage(4, -1, img.get(), 2);
  NormalizeImage(4, 4, img.get(), nullptr, 2);
  BinarizeImage(4, 4, nullptr, 2);
  BinarizeImageTwo(4, 4, img.get(), nullptr, 1, 2);
  BinarizeImageA(4, 4, img.get(), nullptr, 130, 115, 3, 5, 7);
  ComputeGImage(4, 4, img.get(), nullptr, 3);
  EXPECT_EQ(ComputeG(4, 4, nullptr, img.get()), 0);
  EXPECT_EQ(ComputeA(0, 0, img.get(), img.get()), 0);
  EXPECT_EQ(BSmoothImage(4, 4, nullptr), 3);
  EXPECT_EQ(EliminateSpots(4, 4, nullptr), 4);
  EXPECT_EQ(Grid::of(img), Grid(4, 4, 9));
}

}  // namespace

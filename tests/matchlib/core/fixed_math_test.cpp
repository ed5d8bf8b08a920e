// Fixed-point maths: the tables against their rules, the stated known
// answers, and every routine against a plain floating-point reference.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <random>

#include "matchlib/core/fixed_tables.h"
#include "zylscan/matchlib_fixed.h"

namespace {

using namespace zyl::matchlib;
const double kPi = std::acos(-1.0);

// Circular distance of two values modulo m.
int64_t circ(int64_t a, int64_t b, int64_t m) {
  int64_t d = ((a - b) % m + m) % m;
  return std::min(d, m - d);
}

TEST(FixedTables, EveryEntryFollowsItsRule) {
  for (int i = 0; i <= 64; ++i) {
    EXPECT_EQ(kQuarterSineTrunc[i], std::floor(16384 * std::sin(i * kPi / 128))) << i;
    EXPECT_EQ(kQuarterSineRound[i], std::round(16384 * std::sin(i * kPi / 128))) << i;
  }
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(kFineQuarterSine[i], std::floor(16384 * std::sin(i * kPi / 510))) << i;
  for (int i = 0; i <= 256; ++i) {
    EXPECT_EQ(kPhaseSine[i], std::llround(2147483647.0 * std::sin(i * kPi / 512))) << i;
    EXPECT_EQ(kAtanPhase24[i], std::llround(std::atan(i / 256.0) * 16777216.0 / (2 * kPi))) << i;
  }
  for (int i = 0; i <= 128; ++i)
    EXPECT_EQ(kAtan256[i], std::lround(std::atan(i / 128.0) * 128 / kPi)) << i;
  for (int i = 0; i < 64; ++i) EXPECT_EQ(kExp2Frac[i], std::lround(256 * std::exp2(i / 64.0))) << i;
  // Entries the rules make special.
  EXPECT_EQ(kFineQuarterSine[85], 8191);
  EXPECT_EQ(kPhaseSine[255], 2147443221);
  EXPECT_EQ(kAtanPhase24[256], 0x200000);
}

struct Answer {
  const char* call;
  int got;
  int expected;
};

TEST(FixedMath, KnownAnswers) {
  const Answer answers[] = {
      {"sin256(64)", fx_sin256(64), 16384},
      {"sin256(2)", fx_sin256(2), 803},
      {"sin256_rounded(2)", fx_sin256_rounded(2), 804},
      {"cos256(192)", fx_cos256(192), 0},
      {"sin256(192)", fx_sin256(192), -16384},
      {"sin256(-64)", fx_sin256(-64), -16384},
      {"cos256_rounded(0)", fx_cos256_rounded(0), 16384},
      {"sin256_half_rounded(126)", fx_sin256_half_rounded(126), 804},
      {"isqrt16(16383)", int(fx_isqrt16(16383)), 128},
      {"isqrt16(16634)", int(fx_isqrt16(16384 + 250)), 128},
      {"isqrt16(2)", int(fx_isqrt16(2)), 1},
      {"isqrt16(3)", int(fx_isqrt16(3)), 2},
      {"isqrt_round(2)", fx_isqrt_round(2), 1},
      {"isqrt_round(3)", fx_isqrt_round(3), 2},
      {"isqrt_round(0)", fx_isqrt_round(0), 0},
      {"isqrt30_round(0xC0000004)", int(fx_isqrt30_round(0xC0000004u)), 2},
      {"isqrt_shr7(2^32-1)", int(fx_isqrt_shr7(0xFFFFFFFFu)), 511},
      {"log2_floor(1)", fx_log2_floor(1), 0},
      {"log2_floor(0)", fx_log2_floor(0), 0},
      {"log2_floor(2^31)", fx_log2_floor(0x80000000u), 31},
      {"clz32(1)", fx_clz32(1), 31},
      {"clz32(0)", fx_clz32(0), 32},
      {"atan2(0,-5)", fx_atan2(0, -5), -128},
      {"atan2(5,0)", fx_atan2(5, 0), 64},
      {"atan2(0,0)", fx_atan2(0, 0), 0},
      {"atan2(-11,-59)", fx_atan2(-11, -59), -121},
      {"atan2_s16(-11,-59)", fx_atan2_s16(-11, -59), -120},
      {"atan2_s16(0,0)", fx_atan2_s16(0, 0), 0},
      {"atan2_approx(0,0)", fx_atan2_approx(0, 0), 0},
      {"atan2_phase24(5,5)", fx_atan2_phase24(5, 5), 0x200000},
      {"atan2_phase24(-5,0)", fx_atan2_phase24(-5, 0), 0xC00000},
      {"atan2_phase24(0,0)", fx_atan2_phase24(0, 0), 0},
      {"atan2_phase24(0,-5)", fx_atan2_phase24(0, -5), 0x800000},
      {"sin_phase24(0x400000)", fx_sin_phase24(0x400000), 0x7FFFFFFF},
      {"cos_phase24(0)", fx_cos_phase24(0), 0x7FFFFFFF},
      {"sin_phase24(0x800000)", fx_sin_phase24(0x800000), 0},
      {"sin_phase24(0xC00000)", fx_sin_phase24(0xC00000), -0x7FFFFFFF},
      {"sin65536(0x4000-32)", fx_sin65536(0x4000 - 32), 16384},
      {"sin65536(0xC000-32)", fx_sin65536(0xC000 - 32), -16384},
      {"cos65536(0)", fx_cos65536(0), 16384},
      {"sin_rad(102943)", fx_sin_rad(102943), 16384},
      {"sin_rad(-102943)", fx_sin_rad(-102943), -16384},
      {"cos_rad(0)", fx_cos_rad(0), 16384},
      {"exp(0)", fx_exp(0), 256},
      {"exp(-256)", fx_exp(-256), 93},
      {"exp(-2900)", fx_exp(-2900), 0},
      {"dir_absdiff(0,130)", fx_dir_absdiff(0, 130), 126},
      {"dir_absdiff(0,128)", fx_dir_absdiff(0, 128), 128},
      {"dir_diff(250,4)", fx_dir_diff(250, 4), 10},
      {"dir_sdiff(0,127)", fx_dir_sdiff(0, 127), -127},
      {"dir_sdiff(0,128)", fx_dir_sdiff(0, 128), 128},
      {"dir_mean(0,200)", fx_dir_mean(0, 200), 228},
      {"dir_mean(10,20)", fx_dir_mean(10, 20), 15},
      {"orient_absdiff(0,100)", fx_orient_absdiff(0, 100), 28},
      {"orient_diff(0,100)", fx_orient_diff(0, 100), -28},
      {"orient_diff(100,0)", fx_orient_diff(100, 0), 28},
      {"orient_mean(10,120)", fx_orient_mean(10, 120), 1},
      {"orient_mean(10,20)", fx_orient_mean(10, 20), 15},
      {"q14_round(-16384)", fx_q14_round(-16384), -1},
      {"q14_round(-8192)", fx_q14_round(-8192), -1},
      {"q14_round(-8191)", fx_q14_round(-8191), 0},
      {"q14_round(8192)", fx_q14_round(8192), 1},
      {"q14_round(8191)", fx_q14_round(8191), 0},
      {"int_div_round(-7,2)", int_div_round(-7, 2), -4},
      {"int_div_round(7,-2)", int_div_round(7, -2), -4},
      {"int_div_round(5,2)", int_div_round(5, 2), 3},
      {"int_div_round(-5,-2)", int_div_round(-5, -2), 3},
      {"int_div_round(INT_MAX,2)", int_div_round(INT_MAX, 2), 1073741824},
      {"int_abs(INT_MIN)", int_abs(INT_MIN), INT_MAX},
      {"int_mod_pos(-1,5)", int_mod_pos(-1, 5), 4},
      {"int_mod_pos(-10,5)", int_mod_pos(-10, 5), 0},
      {"clamp_u8(-3)", clamp_u8(-3), 0},
      {"clamp_u8(300)", clamp_u8(300), 255},
      {"round_f32(2.5)", fx_round_f32(2.5f), 3},
      {"round_f32(-2.5)", fx_round_f32(-2.5f), -3},
      {"round_f32(-0.4)", fx_round_f32(-0.4f), 0},
      {"round_f32(1e20)", fx_round_f32(1e20f), INT_MAX},
      {"dist_sq", fx_dist_sq(1, 2, 4, 6), 25},
      {"dist_round", fx_dist_round(0, 0, 1, 1), 1},
      {"dist_sq far", fx_dist_sq(INT_MIN, 0, INT_MAX, 0), INT_MAX},
      {"dir_between (5,0)", fx_dir_between(0, 0, 5, 0), 64},
      {"dir_between (0,-5)", fx_dir_between(0, 0, 0, -5), 128},
      {"dir_between (-5,0)", fx_dir_between(0, 0, -5, 0), 192},
      {"dir_between (0,5)", fx_dir_between(0, 0, 0, 5), 0},
      {"dir_between (-1,100)", fx_dir_between(0, 0, -1, 100), 256},
      {"dir_between same", fx_dir_between(3, 3, 3, 3), 0},
      {"atan_slope(128)", fx_atan_slope(128), 32},
      {"atan_slope(-128)", fx_atan_slope(-128), -32},
      {"atan_slope(INT_MIN)", fx_atan_slope(INT_MIN), -64},
      {"atan_octant(10,10)", fx_atan_octant(10, 10), 32},
  };
  for (const Answer& a : answers) EXPECT_EQ(a.got, a.expected) << a.call;
}

TEST(FixedMath, TwinsAgreeWithTheirNamesakes) {
  for (int a = -300; a < 300; ++a) {
    EXPECT_EQ(fx_sin256_alt(a), fx_sin256(a));
    EXPECT_EQ(fx_cos256_alt(a), fx_cos256(a));
    EXPECT_EQ(fx_dir_absdiff_alt(a, 77), fx_dir_absdiff(a, 77));
    EXPECT_EQ(fx_dir_diff_alt(a, 77), fx_dir_diff(a, 77));
    EXPECT_EQ(fx_dir_mean_alt(a, 77), fx_dir_mean(a, 77));
  }
  for (uint32_t v : {0u, 1u, 65535u, 123456789u, 0xFFFFFFFFu}) {
    EXPECT_EQ(fx_isqrt32_alt(v), fx_isqrt32(v));
    EXPECT_EQ(fx_isqrt16_alt(static_cast<uint16_t>(v)), fx_isqrt16(static_cast<uint16_t>(v)));
  }
}

TEST(FixedMath, SquareRootsMatchTheirRoundingRules) {
  for (uint32_t a = 0; a < 65536; ++a) {
    const double r = std::sqrt(double(a));
    EXPECT_EQ(fx_isqrt16(static_cast<uint16_t>(a)), a < 16384 ? std::lround(r) : std::floor(r)) << a;
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t a = rng();
    const uint64_t f = fx_isqrt32(a);
    ASSERT_LE(f * f, a);
    ASSERT_GT((f + 1) * (f + 1), a);
    const int64_t n = fx_isqrt_round(static_cast<int>(a >> 1));
    ASSERT_LE(std::abs(double(n) - std::sqrt(double(a >> 1))), 0.5) << a;
    ASSERT_EQ(fx_isqrt30_round(a), uint32_t(std::lround(std::sqrt(double(a & 0x3FFFFFFF)))));
    ASSERT_EQ(fx_isqrt_shr7(a), f >> 7);
    ASSERT_EQ(fx_log2_floor(a | 1), int(std::floor(std::log2(double(a | 1)))));
  }
}

TEST(FixedMath, DirectionSinesFollowTheQuarterWave) {
  for (int a = 0; a < 256; ++a) {
    const double s = 16384 * std::sin(a * 2 * kPi / 256);
    EXPECT_LE(std::abs(fx_sin256(a) - s), 1.0) << a;
    EXPECT_LE(std::abs(fx_sin256_rounded(a) - s), 0.5 + 1e-9) << a;
    EXPECT_EQ(fx_cos256(a), fx_sin256(a + 64));
    EXPECT_EQ(fx_sin256(a), -fx_sin256(a + 128)) << a;
  }
  for (int a = 0; a <= 128; ++a) EXPECT_EQ(fx_sin256_half_rounded(a), fx_sin256_rounded(a));
}

TEST(FixedMath, FineAndPhaseSinesTrackTheTrueSine) {
  for (int a = -70000; a < 70000; a += 7) {
    // Steps of 64 units, truncated, index a table of 255 steps a quarter
    // turn: the coarsest of the sines, within 1 % of full scale.
    ASSERT_LE(std::abs(fx_sin65536(a) - 16384 * std::sin(a * 2 * kPi / 65536)), 160) << a;
    ASSERT_LE(std::abs(fx_cos65536(a) - 16384 * std::cos(a * 2 * kPi / 65536)), 160) << a;
  }
  for (int a = -900000; a < 900000; a += 97) {
    // A rounded index into a truncated table of 255 steps a quarter turn.
    ASSERT_LE(std::abs(fx_sin_rad(a) - 16384 * std::sin(a / 65536.0)), 110) << a;
    ASSERT_LE(std::abs(fx_cos_rad(a) - 16384 * std::cos(a / 65536.0)), 110) << a;
  }
  for (int64_t n = -0x1000000; n < 0x2000000; n += 4093) {
    const double t = n * 2 * kPi / 16777216.0;
    ASSERT_LE(std::abs(fx_sin_phase24(int32_t(n)) - 2147483647.0 * std::sin(t)), 12000) << n;
    ASSERT_LE(std::abs(fx_cos_phase24(int32_t(n)) - 2147483647.0 * std::cos(t)), 12000) << n;
  }
}

TEST(FixedMath, ArctangentsTrackTheTrueAngle) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> small(-3000, 3000);
  for (int i = 0; i < 20000; ++i) {
    int y = small(rng), x = small(rng);
    if (i % 4 == 0) {  // large magnitudes take the guarded ratio
      y *= 700000;
      x *= 700000;
    }
    const double angle = std::atan2(double(y), double(x));
    const int64_t want256 = std::lround(angle * 128 / kPi);
    ASSERT_LE(circ(fx_atan2(y, x), want256, 256), 1) << y << "," << x;
    ASSERT_LE(circ(fx_atan2_approx(x, y), want256, 256), 1) << y << "," << x;
    const int64_t want24 = std::llround(angle * 16777216.0 / (2 * kPi));
    ASSERT_LE(circ(fx_atan2_phase24(y, x), want24, 0x1000000), 8) << y << "," << x;
    const int p = fx_atan2_phase24(y, x);
    ASSERT_GE(p, 0);
    ASSERT_LE(p, 0x1000000);
    if (i % 4) {
      ASSERT_LE(circ(fx_atan2_s16(int16_t(y), int16_t(x)), want256, 256), 1) << y << "," << x;
      // Measured from +y towards +x; the answer lies in 0..256.
      const int d = fx_dir_between(0, 0, x, y);
      ASSERT_GE(d, 0);
      ASSERT_LE(d, 256);
      if (x || y) {
        ASSERT_LE(circ(d, std::lround(std::atan2(double(x), double(y)) * 128 / kPi), 256), 1);
      }
    }
  }
  for (int s = -1000; s <= 1000; ++s)
    ASSERT_LE(std::abs(fx_atan_slope(s) - std::atan(s / 128.0) * 128 / kPi), 1.0) << s;
}

TEST(FixedMath, DirectionArithmeticAgainstModularReference) {
  for (int a = 0; a < 256; a += 3)
    for (int b = 0; b < 256; b += 5) {
      const int d = ((a - b) % 256 + 256) % 256;
      ASSERT_EQ(fx_dir_absdiff(a, b), std::min(d, 256 - d));
      ASSERT_EQ(fx_dir_diff(a, b), (256 - d) % 256);
      ASSERT_EQ(fx_dir_sdiff(a, b), d > 128 ? d - 256 : d);
      // The mean lies midway along the shorter arc (either midpoint for opposites).
      const int m = fx_dir_mean(a, b);
      ASSERT_LE(std::abs(fx_dir_absdiff(m, a) - fx_dir_absdiff(m, b)), 1) << a << "," << b;
      if (a < 128 && b < 128) {
        ASSERT_LE(fx_orient_absdiff(a, b), 64);
        ASSERT_EQ((fx_orient_diff(a, b) - (b - a)) % 128, 0);
        const int o = fx_orient_mean(a, b);
        ASSERT_LE(std::abs(fx_orient_absdiff(o, a) - fx_orient_absdiff(o, b)), 1) << a << "," << b;
      }
    }
}

TEST(FixedMath, ExponentialTracksTheTrueExponential) {
  for (int x = -4000; x <= 512; ++x) {
    const double want = 256 * std::exp(x / 256.0);
    // 177/256 stands for ln 2, so the error grows slowly with |x|.
    ASSERT_LE(std::abs(fx_exp(x) - want), 1.5 + want * (0.02 + std::abs(x) / 256.0 * 0.003)) << x;
  }
}

TEST(FixedMath, RandomGenerator) {
  uint32_t s = 0;
  EXPECT_EQ(rng_next(&s), 1013904223u);
  EXPECT_EQ(s, 1013904223u);
  EXPECT_EQ(rng_next_alt(&s), 1013904223u * 1664525u + 1013904223u);
  uint32_t r = 42;
  int counts[5] = {};
  for (int i = 0; i < 50000; ++i) {
    const int v = rng_next_range(&r, -2, 2);
    ASSERT_GE(v, -2);
    ASSERT_LE(v, 2);
    ++counts[v + 2];
  }
  for (int c : counts) EXPECT_NEAR(c, 10000, 500);
  uint32_t t = 5;
  rng_next(&t);
  r = 5;
  EXPECT_EQ(rng_next_range(&r, 0, -1), 0);  // an empty range answers lo
  rng_seed_global(5);
  EXPECT_EQ(rng_next_global(), t);
  rng_seed_global(0);
}

}  // namespace

// Radial band-pass gain tables: known rows, symmetry, the float builder
// against its closed form, the ready tables and their resolution bands.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "zylscan/matchlib_gain_table.h"

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using ByteTable = std::unique_ptr<uint8_t, FreeDeleter>;
using FloatTable = std::unique_ptr<float, FreeDeleter>;

std::vector<int> row0(const uint8_t* t) { return std::vector<int>(t, t + 33); }

std::vector<int> with_zeros(std::vector<int> v) {
  v.resize(33, 0);
  return v;
}

TEST(GainTable, KnownRowsOfTheByteBuilder) {
  struct Case {
    int r, b, c, d, e;
    std::vector<int> row;
  };
  const Case cases[] = {
      {500, 201, 0, 1280, 512,
       with_zeros({0, 19, 69, 130, 183, 220, 241, 251, 255, 255, 255, 249, 234, 214, 194, 165,
                   134, 103, 73, 47, 25, 10, 1})},
      {500, 128, 0, 1024, 256,
       with_zeros({0, 46, 136, 210, 244, 254, 255, 255, 255, 255, 255, 231, 183, 122, 68, 22,
                   1})},
  };
  for (const auto& c : cases) {
    ByteTable t(fftfilt_gain_table_u8(c.r, c.b, c.c, c.d, c.e));
    ASSERT_TRUE(t);
    EXPECT_EQ(row0(t.get()), c.row) << c.b << " " << c.d;
  }
}

TEST(GainTable, ByteTablesAreSymmetric) {
  for (auto [b, c, d, e] : {std::array{201, 0, 1280, 512}, {128, 300, 900, 200}, {0, 0, 0, 0}}) {
    ByteTable t(fftfilt_gain_table_u8(500, b, c, d, e));
    ASSERT_TRUE(t);
    const uint8_t* p = t.get();
    for (int i = 1; i <= 32; ++i)
      for (int j = 0; j <= 32; ++j) ASSERT_EQ(p[(64 - i) * 33 + j], p[i * 33 + j]) << i << "," << j;
    for (int i = 0; i <= 32; ++i)
      for (int j = 0; j <= 32; ++j) ASSERT_EQ(p[i * 33 + j], p[j * 33 + i]) << i << "," << j;
  }
}

TEST(GainTable, NoLowCutOrNoHighCut) {
  ByteTable no_low(fftfilt_gain_table_u8(500, 0, 0, 1280, 512));
  ASSERT_TRUE(no_low);
  EXPECT_EQ(no_low.get()[0], 255) << "b = 0 leaves the zero frequency at full gain";
  ByteTable no_high(fftfilt_gain_table_u8(500, 201, 0, 0, 512));
  ASSERT_TRUE(no_high);
  EXPECT_EQ(no_high.get()[0], 0);
  EXPECT_EQ(no_high.get()[32 * 33 + 32], 255) << "no high cut: full gain to the corner";
  EXPECT_EQ(fftfilt_gain_table_u8(0, 201, 0, 1280, 512), nullptr);
}

TEST(GainTable, FloatBuilderFollowsItsCurve) {
  // (500, 201, 0, 0, 0): b' = 319, centre = (319 * 1024 + 250) / 500 = 653,
  // a Gaussian high-pass with no high cut.
  FloatTable t(fftfilt_gain_table_float(500, 201, 0, 0, 0));
  ASSERT_TRUE(t);
  const float* p = t.get();
  for (int i : {0, 3, 17, 100})
    for (int j : {0, 5, 40, 128}) {
      const int k = static_cast<int>(std::sqrt(16.0 * (i * i + j * j)));
      const float x = 16.0f * k / 653;
      EXPECT_NEAR(p[i * 129 + j], std::min(1.0f, 1.0f - std::exp(-0.5f * x * x)), 1e-6) << i << "," << j;
      EXPECT_EQ(p[(256 - (i ? i : 256)) % 256 * 129 + j], p[i * 129 + j]);
    }
  EXPECT_EQ(p[0], 0.0f);
  // A high cut puts zeros beyond it: (500, 201, 0, 1280, 512) cuts at 260 steps.
  FloatTable cut(fftfilt_gain_table_float(500, 201, 0, 1280, 512));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut.get()[0 * 129 + 128], 0.0f);
  EXPECT_GT(cut.get()[0 * 129 + 40], 0.9f);
}

TEST(GainTable, ReadyTablesByResolutionBand) {
  struct Case {
    int resolution, nominal;  // 0: none
  };
  const Case cases[] = {{380, 374}, {391, 397}, {356, 0}, {357, 0}, {233, 0},
                        {234, 250}, {1017, 0},  {500, 508}, {984, 1000}};
  for (const auto& c : cases) {
    const uint8_t* t = fftfilt_gain_table_ready_u8(c.resolution);
    EXPECT_EQ(t != nullptr, c.nominal != 0) << c.resolution;
    if (t) {
      EXPECT_EQ(t, fftfilt_gain_table_ready_u8(c.nominal)) << c.resolution;
    }
  }
  const uint8_t* t508 = fftfilt_gain_table_ready_u8(508);
  EXPECT_EQ(row0(t508), with_zeros({0, 19, 68, 128, 181, 218, 239, 249, 253, 255, 255, 248, 234,
                                    213, 188, 159, 128, 97, 67, 42, 22, 7, 1}));
  // Radially symmetric: (3, 4) lies at radius 5; rows 64 - i mirror row i.
  EXPECT_EQ(t508[3 * 33 + 4], t508[5]);
  EXPECT_EQ(t508[(64 - 3) * 33 + 4], t508[5]);
  // Near the builder with the fallback settings from 339 dpi up.
  for (int dpi : {339, 508, 667}) {
    ByteTable built(fftfilt_gain_table_u8(dpi, 201, 0, 1280, 512));
    const uint8_t* ready = fftfilt_gain_table_ready_u8(dpi);
    for (int j = 0; j <= 32; ++j) EXPECT_NEAR(ready[j], built.get()[j], 21) << dpi << " " << j;
  }
}

}  // namespace

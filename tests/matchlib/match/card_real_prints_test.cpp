// The card comparison on real prints: cards of the tests/data crops made by
// the minutiae extraction's card routines, compared with `match_card`.
// Every genuine pair must score above every impostor pair, and a print
// against a turned and shifted copy of itself must hand the turn back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_xform.h"

namespace {

struct Routine {
  const char* name;
  StageExtractRoutine extract;
  std::int32_t kind;  // 67: an extended card holding the card section
};

// Routine D reads the same table slot as C and gives the same cards.
const Routine kRoutines[] = {
    {"A", card_extract_a, 67},
    {"B", card_extract_b, 2},
    {"C", card_extract_c, 2},
    {"D", card_extract_d, 2},
};

DataBlob* extract(MatchContext* ctx, const Routine& r, const zyl::test::GreyImage& g) {
  GrayImage* image = image_create(g.height, g.width, 500, 500, const_cast<std::uint8_t*>(g.pixels.data()), 0);
  DataBlob* blob = nullptr;
  EXPECT_EQ(r.extract(ctx, image, nullptr, r.kind, &blob), ML_OK) << r.name;
  image_release(image);
  return blob;
}

struct Scored {
  int status;
  int score;
  int pairs;
  int angle;  // of the handed-back alignment, 256 steps a turn
};

Scored compare(MatchContext* ctx, DataBlob* a, DataBlob* b) {
  std::uint16_t* v = nullptr;
  std::uint16_t n = 0;
  RigidTransform* t = nullptr;
  Scored s{match_card(ctx, a, b, &v, &n, &t), 0, 0, 0};
  if (s.status == ML_OK && n == CARD_SUBSCORES) {
    s.score = v[0];
    s.pairs = v[2];
  }
  if (t) s.angle = xform_get_angle(t);
  std::free(v);
  xform_release(t);
  return s;
}

struct Pair {
  const char* a;
  const char* b;
};

// Genuine pairs of impressions that share an area of the finger
// (fvc2002 101_5 and 101_6 show opposite ends of the print and stay out).
const Pair kGenuine[] = {
    {"fvc2000_102_1_160.pgm", "fvc2000_102_2_160.pgm"}, {"fvc2002_101_1_crop.pgm", "fvc2002_101_2_crop.pgm"},
    {"fvc2002_102_1_crop.pgm", "fvc2002_102_2_crop.pgm"}, {"fvc2004_102_1_160.pgm", "fvc2004_102_5_160.pgm"},
    {"fvc2002_101_1_160.pgm", "fvc2002_101_2_160.pgm"}, {"fvc2002_101_1_160.pgm", "fvc2002_101_3_160.pgm"},
    {"fvc2002_101_1_160.pgm", "fvc2002_101_4_160.pgm"}, {"fvc2002_101_7_160.pgm", "fvc2002_101_8_160.pgm"},
};
const Pair kImpostor[] = {
    {"fvc2002_101_1_crop.pgm", "fvc2002_102_2_crop.pgm"}, {"fvc2002_102_1_crop.pgm", "fvc2002_101_2_crop.pgm"},
    {"fvc2004_103_1_160.pgm", "fvc2004_102_5_160.pgm"},   {"fvc2004_102_1_160.pgm", "fvc2004_103_1_160.pgm"},
    {"fvc2002_101_1_160.pgm", "fvc2000_102_1_160.pgm"},   {"fvc2000_102_2_160.pgm", "fvc2004_102_5_160.pgm"},
    {"fvc2002_101_1_160.pgm", "fvc2002_102_1_160.pgm"},   {"fvc2002_103_1_160.pgm", "fvc2002_104_1_160.pgm"},
    {"fvc2002_105_1_160.pgm", "fvc2002_101_2_160.pgm"},   {"fvc2002_104_1_160.pgm", "fvc2002_105_1_160.pgm"},
};

TEST(CardRealPrints, GenuinePairsRankAboveImpostorsUnderMatchCard) {
  MatchContext* ctx = ctx_create();
  for (const Routine& r : kRoutines) {
    std::map<std::string, DataBlob*> cards;
    const auto card = [&](const char* name) {
      DataBlob*& c = cards[name];
      if (!c) c = extract(ctx, r, zyl::test::read_pgm(zyl::test::test_data(name)));
      return c;
    };
    const auto scores = [&](const auto& pairs) {
      std::vector<int> out;
      for (const Pair& p : pairs) {
        const Scored s = compare(ctx, card(p.a), card(p.b));
        EXPECT_EQ(s.status, ML_OK) << r.name << " " << p.a << " " << p.b;
        out.push_back(s.score);
      }
      return out;
    };
    const std::vector<int> g = scores(kGenuine), i = scores(kImpostor);
    std::string text;
    for (int v : g) text += std::to_string(v) + " ";
    text += "| ";
    for (int v : i) text += std::to_string(v) + " ";
    EXPECT_GT(*std::min_element(g.begin(), g.end()), *std::max_element(i.begin(), i.end()))
        << "card routine " << r.name << ": " << text;
    for (auto& [name, c] : cards) blob_release(c);
  }
  ctx_release(ctx);
}

// The middle `size` x `size` pixels of `g` turned by `degrees` about its
// centre (clockwise on the screen: x to the right, y down) and moved by
// (dx, dy); bilinear, white where the source ends.
zyl::test::GreyImage turned_crop(const zyl::test::GreyImage& g, double degrees, int size, int dx, int dy) {
  zyl::test::GreyImage out;
  out.width = out.height = size;
  out.pixels.assign(static_cast<std::size_t>(size) * size, 255);
  const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double u = x - size / 2.0 - dx, v = y - size / 2.0 - dy;
      const double sx = c * u + s * v + g.width / 2.0, sy = -s * u + c * v + g.height / 2.0;
      const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
      if (x0 < 0 || y0 < 0 || x0 + 1 >= g.width || y0 + 1 >= g.height) continue;
      const double fx = sx - x0, fy = sy - y0;
      const double top = (1 - fx) * g.at(x0, y0) + fx * g.at(x0 + 1, y0);
      const double bottom = (1 - fx) * g.at(x0, y0 + 1) + fx * g.at(x0 + 1, y0 + 1);
      out.pixels[static_cast<std::size_t>(y) * size + x] = static_cast<std::uint8_t>(std::lround((1 - fy) * top + fy * bottom));
    }
  return out;
}

// The extracted card directions and the matcher's neighbour angles agree
// on the sense of a turn: a print turned on the screen comes back with
// its turn as the alignment angle, and still outscores every impostor of
// the test above.
TEST(CardRealPrints, TurnedCopyOfARealPrintHandsTheTurnBack) {
  MatchContext* ctx = ctx_create();
  const zyl::test::GreyImage g = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1.pgm"));
  const Routine& r = kRoutines[2];
  DataBlob* a = extract(ctx, r, turned_crop(g, 0, 160, 0, 0));
  for (const double degrees : {-40.0, -30.0, -15.0, 15.0, 30.0, 40.0}) {
    DataBlob* b = extract(ctx, r, turned_crop(g, degrees, 160, 5, -3));
    const Scored s = compare(ctx, a, b);
    ASSERT_EQ(s.status, ML_OK) << degrees;
    const int want = static_cast<int>(std::lround(degrees * 256 / 360));
    EXPECT_LE(std::abs(static_cast<std::int8_t>(s.angle - want)), 3) << degrees << ": " << s.angle;
    EXPECT_GE(s.pairs, 12) << degrees;
    EXPECT_GT(s.score, 500) << degrees;
    blob_release(b);
  }
  blob_release(a);
  ctx_release(ctx);
}

}  // namespace

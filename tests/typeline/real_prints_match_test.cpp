// The matcher on templates the extractor makes from real 160 x 160 prints.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/pgm.h"
#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_match.h"

namespace {

std::vector<std::uint8_t> template_of(const std::string& name) {
  auto image = zyl::test::read_pgm(zyl::test::test_data(name));
  std::vector<std::uint8_t> t(TYPELINE_TEMPLATE_SIZE, 0);
  EXPECT_GT(create_template(image.pixels.data(), image.width, image.height, t.data()), 0) << name;
  return t;
}

struct Prints : testing::Test {
  static void SetUpTestSuite() {
    for (const char* name : {"fvc2004_102_1_160.pgm", "fvc2004_102_5_160.pgm", "fvc2004_103_1_160.pgm",
                             "fvc2000_102_1_160.pgm", "fvc2000_102_2_160.pgm"})
      templates().push_back(template_of(name));
  }
  static std::vector<std::vector<std::uint8_t>>& templates() {
    static std::vector<std::vector<std::uint8_t>> t;
    return t;
  }
  static const std::uint8_t* t(int i) { return templates()[static_cast<std::size_t>(i)].data(); }
};

TEST_F(Prints, SameFingerScoresClearlyAboveOtherFingers) {
  // Two impressions of one finger from each set, in both orders: accepted
  // (one through point matching, one through the cores).
  for (const auto& [a, b] : {std::pair{0, 1}, std::pair{3, 4}}) {
    EXPECT_GE(finger_match(t(a), t(b), 1), 100);
    EXPECT_GE(finger_match(t(b), t(a), 1), 100);
  }
  // Every pair of different fingers: nothing.
  const int fingers[] = {0, 2, 3};
  for (int i : fingers)
    for (int j : fingers)
      if (i != j) {
        EXPECT_EQ(finger_match(t(i), t(j), 1), 0) << i << " " << j;
      }
}

TEST_F(Prints, SearchFindsTheOtherImpression) {
  std::vector<std::uint8_t> gallery;
  for (int i : {2, 3, 1, 4}) gallery.insert(gallery.end(), templates()[i].begin(), templates()[i].end());
  EXPECT_EQ(finger_search(t(0), gallery.data(), 4, 1), 2);
  EXPECT_EQ(finger_search(t(0), gallery.data(), 2, 1), -11);
}

}  // namespace

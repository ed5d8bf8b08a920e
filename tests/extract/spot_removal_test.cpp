// Removal of enclosed bad-area spots: drawn cases and random maps against
// the plain fixpoint (a bad pixel is kept when a 4-neighbour is kept,
// starting from the bad pixels of the border).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "extract/field_images.h"
#include "zylscan/extract_filters.h"

namespace {

using zyl::test::Grid;

// '#' bad, '.' good; bits 0..6 hold an orientation that must not matter.
Grid parse(const std::vector<std::string>& rows) {
  Grid g(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) g.at(x, y) = rows[y][x] == '#' ? 0x80 | (x * 7 % 120) : 127;
  return g;
}

Grid as_result(const std::vector<std::string>& rows) {
  Grid g(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) g.at(x, y) = rows[y][x] == '#' ? 255 : 0;
  return g;
}

Grid eliminate(const Grid& flags) {
  auto image = flags.image();
  EXPECT_EQ(EliminateSpots(flags.width, flags.height, image.get()), flags.height);
  return Grid::of(image);
}

Grid fixpoint_reference(const Grid& flags) {
  Grid kept(flags.width, flags.height);
  auto bad = [&](int x, int y) { return (flags.at(x, y) & 0x80) != 0; };
  for (int y = 0; y < flags.height; ++y)
    for (int x = 0; x < flags.width; ++x)
      if (bad(x, y) && (x == 0 || y == 0 || x == flags.width - 1 || y == flags.height - 1)) kept.at(x, y) = 255;
  for (bool changed = true; changed;) {
    changed = false;
    for (int y = 0; y < flags.height; ++y)
      for (int x = 0; x < flags.width; ++x) {
        if (!bad(x, y) || kept.at(x, y)) continue;
        const int nx[] = {x - 1, x + 1, x, x}, ny[] = {y, y, y - 1, y + 1};
        for (int i = 0; i < 4; ++i)
          if (kept.inside(nx[i], ny[i]) && kept.at(nx[i], ny[i])) {
            kept.at(x, y) = 255;
            changed = true;
            break;
          }
      }
  }
  return kept;
}

struct Case {
  const char* name;
  std::vector<std::string> in;
  std::vector<std::string> out;
};

TEST(SpotRemoval, DrawnCases) {
  const Case cases[] = {
      {"enclosed ring disappears with its inside and outside good",
       {"........", ".######.", ".#....#.", ".#....#.", ".######.", "........"},
       {"........", "........", "........", "........", "........", "........"}},
      {"band from top edge to bottom edge stays whole",
       {"...#....", "...##...", "....#...", "....#...", "...##...", "...#...."},
       {"...#....", "...##...", "....#...", "....#...", "...##...", "...#...."}},
      {"pixel joined to the border only diagonally disappears",
       {"#.......", ".#......", "........", "........"},
       {"#.......", "........", "........", "........"}},
      {"corner pixels are border pixels",
       {"#......#", "........", "#......#"},
       {"#......#", "........", "#......#"}},
      {"a winding path from the right edge keeps the pixels deep inside; a lone one goes",
       {"..........", ".#######..", ".#.....#..", ".#.###.###", ".#.#.#....", ".###.#....", "........#.", ".....#...."},
       {"..........", ".#######..", ".#.....#..", ".#.###.###", ".#.#.#....", ".###.#....", "..........", ".....#...."}},
      {"all bad stays all bad", {"###", "###", "###"}, {"###", "###", "###"}},
      {"one pixel image", {"#"}, {"#"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(eliminate(parse(c.in)), as_result(c.out));
  }
}

TEST(SpotRemoval, RandomMapsReachTheFixpoint) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<int> side(1, 48);
  for (int trial = 0; trial < 40; ++trial) {
    Grid flags = zyl::test::random_grid(rng, side(rng), side(rng));
    // About half bad: near the percolation threshold, so both kept and
    // removed regions of every shape occur.
    for (int& p : flags.v) p = (p & 1) ? (p | 0x80) : (p & 0x7F);
    EXPECT_EQ(eliminate(flags), fixpoint_reference(flags)) << flags.width << "x" << flags.height;
  }
}

}  // namespace

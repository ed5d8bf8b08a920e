// The exported stages take records, lists and maps from any caller: none
// may read or write outside its buffers or overflow, whatever the counts,
// positions and values say (the sanitizer build checks).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_template.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TypelineRobustness, StagesTakeArbitraryListsMapsAndPositions) {
  std::mt19937 rng(5);
  auto any16 = [&] { return static_cast<std::int16_t>(rng()); };
  auto near16 = [&](int limit) { return static_cast<std::int16_t>(static_cast<int>(rng() % (3 * limit)) - limit); };
  for (int round = 0; round < 40; ++round) {
    const int w = 16 + static_cast<int>(rng() % 120), h = 16 + static_cast<int>(rng() % 120);
    const std::size_t n = static_cast<std::size_t>(w) * h;
    Bytes map(n), grey(n), binary(n), rel(n), work(n);
    std::vector<std::uint16_t> labels(n);
    for (std::size_t i = 0; i < n; ++i) {
      map[i] = static_cast<std::uint8_t>(round % 2 ? rng() % 121 : rng());
      grey[i] = static_cast<std::uint8_t>(rng());
      binary[i] = rng() % 2 ? 255 : 0;
      rel[i] = static_cast<std::uint8_t>(rng());
      labels[i] = static_cast<std::uint16_t>(rng() % 4);
    }
    CoreList cores{};
    cores.count = static_cast<std::int16_t>(static_cast<int>(rng() % 13) - 3);
    for (int k = 0; k < 4; ++k) {
      cores.x[k] = round % 3 ? near16(w) : any16();
      cores.y[k] = round % 3 ? near16(h) : any16();
      cores.direction[k] = round % 3 ? static_cast<std::int16_t>(rng() % 256) : any16();
      cores.kind[k] = static_cast<std::int16_t>(rng() % 3);
    }
    MinutiaCandidateList list{};
    list.count = static_cast<std::int16_t>(static_cast<int>(rng() % 400) - 50);
    for (auto& e : list.entries) {
      e.x = round % 3 ? near16(w) : any16();
      e.y = round % 3 ? near16(h) : any16();
      e.direction = round % 3 ? static_cast<std::int16_t>(static_cast<int>(rng() % 300) - 30) : any16();
      e.quality = static_cast<std::uint8_t>(rng());
      e.type = static_cast<std::uint8_t>(rng() % 3);
    }
    TypeLineSet lines{};
    for (int L = 0; L < 4; ++L) {
      lines.count[L] = static_cast<std::uint8_t>(rng());
      for (int i = 0; i < TYPELINE_TYPE_LINE_POINTS; ++i) {
        lines.x[L][i] = round % 3 ? near16(w) : any16();
        lines.y[L][i] = round % 3 ? near16(h) : any16();
      }
    }
    TypelineRecord record{};

    CoreList found{};
    get_core_points(&found, map.data(), w, h);
    EXPECT_LE(found.count, 4);
    const int type = get_type_line(&record, &cores, map.data(), work.data(), w, h);
    EXPECT_GE(type, 0);
    EXPECT_LE(type, 10);
    copy_core(&cores, &record);
    EXPECT_LE(record.singular.count, 4);
    EXPECT_LE(get_frequency(binary.data(), map.data(), &cores, w, h), 120);
    check_whorl(&cores, &lines);
    const TypelinePoint a{any16(), any16()}, b{near16(w), near16(h)};
    check_arch(&lines, &a, &b);
    check_near_line(&lines, static_cast<int>(rng() % 5) - 1, 15);
    get_distance_to_line(&lines, any16(), any16(), static_cast<int>(rng() % 6) - 1);
    int candidates = static_cast<int>(rng() % 30) - 10;
    std::int16_t cx[10], cy[10], cs[10] = {};
    for (int k = 0; k < 10; ++k) cx[k] = any16(), cy[k] = any16();
    check_core_cand(any16(), any16(), any16(), cx, cy, cs, &candidates);
    EXPECT_LE(candidates, 10);
    EXPECT_GE(get_density(&cores, map.data(), static_cast<int>(rng() % 200) - 50, labels.data(), w, h), 0);
    get_point_curve(a.x, a.y, map.data(), w, h);
    get_point_orient1(b, a, any16(), static_cast<int>(rng() % 4), map.data(), labels.data(), w, h);
    TypelinePoint end, first[8];
    int end_dir = 0, first_count = 0, short_walk = 0, met = 0;
    follow_ridge_point(b, any16(), static_cast<int>(rng() % 2), grey.data(), labels.data(), map.data(), w, h, &end,
                       &end_dir, first, &first_count, &short_walk, 9, &met);
    EXPECT_LE(first_count, 8);

    MinutiaCandidateList copy = list;
    filter_mp_points(&copy, &cores, map.data(), w, h);
    get_point_value(&copy, rel.data(), w, h);
    arrange_mp(&copy, &record.minutiae, map.data(), w, h);
    EXPECT_GE(record.minutiae.count, 0);
    EXPECT_LE(record.minutiae.count, 50);
    copy = list;
    filter_mp_points2(&copy);
    EXPECT_LE(copy.count, TYPELINE_MAX_CANDIDATES);
    copy = list;
    get_mp_points(grey.data(), labels.data(), map.data(), w, h, &copy);
    EXPECT_LE(copy.count, TYPELINE_MAX_CANDIDATES - 1);
  }
}

}  // namespace

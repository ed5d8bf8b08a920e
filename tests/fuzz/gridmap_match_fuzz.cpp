// The grid feature map parser and matcher on arbitrary bytes: the first
// byte splits the rest into two maps and picks the flags. No crash, no
// read or write past the inputs or the exact-size work memory; a refused
// work size refuses the match; scores stay in range.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size > 4000) return 0;
  const std::size_t split = 1 + (data[0] * (size - 1)) / 256;
  const std::uint32_t flags = data[1] & 0x17F;
  std::vector<std::uint8_t> a(data + 2, data + split + 1), b(data + split + 1, data + size);
  const auto la = static_cast<std::uint16_t>(a.size()), lb = static_cast<std::uint16_t>(b.size());
  std::uint8_t cols, rows, cell, quality;
  std::uint16_t res;
  const std::uint8_t *cells, *detail, *element;
  const int pa = gridmap_parse(a.data(), la, &cols, &rows, &cell, &res, &cells, &detail, &quality, &element);
  if (pa == ML_OK) {
    require(cell != 0 && res != 0);
    require(cells == a.data() + 10);
    require(la >= 10u + 2u * cols * rows);
  }
  const std::uint32_t need = gridmap_match_work_size(a.data(), la, b.data(), lb, flags);
  std::vector<std::uint8_t> work(need ? need : 1);
  std::uint16_t record[3 + GRIDMAP_DETAIL_VALUES] = {0, GRIDMAP_DETAIL_KIND, 0};
  std::uint8_t decision = 9;
  GridAlignment alignment{static_cast<std::uint8_t>(data[1]), 3, -5};
  const int index = data[2] % 14;
  const int st = gridmap_match(work.data(), need, a.data(), la, b.data(), lb, index, record,
                               &decision, &alignment, flags);
  if (need == 0) require(st != ML_OK || pa != ML_OK || record[0] == 0);
  if (index > 12) require(st == ML_BAD_ARGUMENT);
  if (st == ML_OK) {
    require(decision <= 2);
    if (flags & GRIDMAP_RAW_SCORE) require(record[0] <= 32767);
    if ((flags & GRIDMAP_DETAIL) && record[2] != 0) require(record[2] == 1 || record[2] == 17);
  } else {
    require(decision == 0);
  }
  if (need > 1) {
    // One byte short is refused.
    std::vector<std::uint8_t> short_work(need - 1);
    require(gridmap_match(short_work.data(), need - 1, a.data(), la, b.data(), lb, 0, nullptr, nullptr,
                          nullptr, flags) != ML_OK);
  }
  std::uint16_t sim[2];
  gridmap_histogram_similarity(a.data(), la, b.data(), lb, sim);
  return 0;
}

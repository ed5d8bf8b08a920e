// The card comparison-input readers on arbitrary bytes: part location in
// one buffer and in a list of two, header and parameter readers, the
// algorithm information, probe-form elements, template extents and the
// bounded grid-map comparison. The first byte picks the split and the part
// number. No crash, no read past the inputs; found elements lie inside
// their buffer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

namespace {

bool inside(const TlvElement& e, const std::uint8_t* p, std::size_t n) {
  return !e.value || (e.value >= p && e.value + e.length <= p + n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 8000) return 0;
  const std::size_t split = 1 + (data[0] * (size - 1)) / 256;
  const int n = data[1] % 4;
  // Each piece in its own exact-size buffer so that overreads show.
  std::vector<std::uint8_t> all(data + 1, data + size), a(data + 1, data + split),
      b(data + split, data + size);
  const std::uint8_t* one[1] = {all.data()};
  const std::uint32_t one_size[1] = {static_cast<std::uint32_t>(all.size())};
  const std::uint8_t* two[2] = {a.data(), b.data()};
  const std::uint32_t two_size[2] = {static_cast<std::uint32_t>(a.size()),
                                     static_cast<std::uint32_t>(b.size())};
  TlvElement e{};
  if (card_read_params_header(one, one_size, 1, n, &e) == ML_OK) {
    require(e.tag == 0xEF && inside(e, all.data(), all.size()));
  }
  if (card_read_params_header(two, two_size, 2, n & 1, &e) == ML_OK) {
    require(e.tag == 0xEF);
    require(inside(e, a.data(), a.size()) || inside(e, b.data(), b.size()));
  }
  std::uint8_t info[13];
  std::uint32_t info_size = 0;
  card_get_algorithm_info(one, one_size, 1, info, 13, &info_size);
  card_get_algorithm_info(two, two_size, 2, info, 13, &info_size);
  require(info_size == 13 && info[0] == 0xC0 && info[1] == 0x0B);

  std::uint16_t fields[5];
  int top = 0, mode = 0;
  card_parse_params(all.data(), one_size[0], fields);
  if (card_read_c0_header(all.data(), one_size[0], &top, &mode, fields) == ML_OK) {
    require(top <= 1 && mode <= 15);
  }
  const std::uint32_t extent = card_template_extent(all.data(), one_size[0], data[0]);
  require(extent <= all.size());

  TlvElement packed{}, map{};
  std::uint8_t quality = 0;
  std::int8_t origin[2];
  if (card_find_probe_elements(all.data(), one_size[0], n % 3, &packed, &quality, origin, &map) ==
      ML_OK) {
    require(inside(packed, all.data(), all.size()) && inside(map, all.data(), all.size()));
  }

  // The second half as a probe buffer with room behind it, the first as
  // part 0: the probe ends up at the buffer's end, the work in front.
  std::vector<std::uint8_t> buffer(b);
  buffer.resize(b.size() + (data[0] & 1 ? 1500 : 16), 0);
  CardProbeSetup setup{};
  const std::uint8_t* p0[1] = {a.data()};
  if (card_parse_reference(p0, two_size, 1, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                           0, &setup) == ML_OK) {
    require(setup.probe + setup.probe_length == buffer.data() + buffer.size());
    require(setup.work + setup.work_size == setup.probe);
    require(setup.table != nullptr && setup.list_length != 0);
  }

  // The two halves as grid maps: similarity and the bounded comparison in
  // exact-size work memory.
  std::uint16_t sim[2] = {0, 0};
  gridmap_histogram_similarity_card(a.data(), two_size[0], b.data(), two_size[1], sim);
  const std::uint32_t need = gridmap_bounded_work_size(a.data(), two_size[0], b.data(), two_size[1]);
  if (need > 1 && need < (1u << 20)) {
    std::vector<std::uint8_t> work(need);
    std::uint16_t v[19] = {};
    v[1] = GRIDMAP_DETAIL_KIND;
    GridAlignment al{data[0], static_cast<std::int32_t>(data[1]) - 128, 7};
    const int st = gridmap_match_bounded(work.data(), need, a.data(), two_size[0], b.data(),
                                         two_size[1], 0, v, nullptr, &al, 25);
    require(st == ML_OK || st == ML_BAD_ARGUMENT);
    require(v[2] == 1 || v[2] == 17 || st != ML_OK);
    if (v[2] == 17) require(v[0] <= 0x7FFF);
  }
  return 0;
}

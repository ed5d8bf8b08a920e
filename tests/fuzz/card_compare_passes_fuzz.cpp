// Both card comparison passes on an arbitrary reference part and probe
// against fixed parameter elements. Byte 0 picks the element (matcher set,
// pre-selection, candidate list length, options), bytes 1-2 (BE) the
// reference part's length, the rest is the probe with room behind it. No
// crash, no read past the inputs; a first-pass acceptance is confirmed by
// the second pass from a fresh copy of the probe with the same score.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

namespace {

std::vector<std::uint8_t> parameter_element(std::uint16_t word, int list_length, std::uint16_t option) {
  std::vector<ScoreLinearRow> rows30(30, ScoreLinearRow{0, 65535, 0, 65536, 0});
  std::vector<ScoreLinearRow> rows9(9, ScoreLinearRow{0, 65535, 0, 65536, 0});
  rows30[0] = ScoreLinearRow{0, 65535, 1000u << 16, 20000u << 16, 1};
  rows30[9] = ScoreLinearRow{0, 65535, 5000u << 16, 40000u << 16, 1};
  rows30[28] = ScoreLinearRow{0, 100, 10u << 16, 20u << 16, -1};
  rows9[0] = rows30[0];
  FarThresholdTable t{};
  for (int c = 0; c < 7; ++c)
    for (int l = 0; l < 28; ++l) t.t[c][l] = static_cast<std::uint16_t>(6000 + 1000 * c);
  DataBlob* p = nullptr;
  card_params_from_models(word, rows30.data(), &t, rows9.data(), &t, 0xC4, 2, 0, 0xFFF0, 5, option,
                          list_length, &p);
  std::vector<std::uint8_t> out(blob_data(p), blob_data(p) + blob_size(p));
  blob_release(p);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size > 12000) return 0;
  static const std::vector<std::uint8_t> elements[8] = {
      parameter_element(0x1211, 0, 1),  // alternative set, pre-packed 64-minutia forms
      parameter_element(0x1219, 2, 0),  // the same with pre-selection, two candidates
      parameter_element(0x1200, 0, 1),  // packed while comparing, compact matcher
      parameter_element(0x1219, 0, 1),
      parameter_element(0x1201, 1, 0),  // pre-packed 64-minutia forms, compact matcher
      parameter_element(0x1212, 0, 1),  // pre-packed 46-minutia forms, alternative matcher
      parameter_element(0x1218, 3, 0),  // packed while comparing, alternative, pre-selection
      parameter_element(0x1202, 0, 0),
  };
  const std::vector<std::uint8_t>& p0 = elements[data[0] & 7];
  const std::size_t split = std::min<std::size_t>(size - 3, std::size_t{data[1]} << 8 | data[2]);
  // Each piece in its own exact-size buffer so that overreads show.
  const std::vector<std::uint8_t> part(data + 3, data + 3 + split);
  const std::vector<std::uint8_t> probe(data + 3 + split, data + size);
  const std::uint8_t* parts[2] = {p0.data(), part.data()};
  const std::uint32_t sizes[2] = {static_cast<std::uint32_t>(p0.size()), static_cast<std::uint32_t>(part.size())};
  const std::uint32_t room = data[0] & 0x80 ? CARD_VERIFY_ROOM : 2100;
  std::vector<std::uint8_t> buffer(probe);
  buffer.resize(probe.size() + room, 0);
  int decision = -1, index = -2, mode = -1;
  std::uint32_t max_score = 0, best = 0;
  const int st = card_compare_reference(parts, sizes, 2, buffer.data(), static_cast<std::uint32_t>(buffer.size()), 0,
                                        &decision, &max_score, &index, &mode, &best);
  require(decision == 0 || decision == 1);
  if (st != ML_OK || decision != 1) {
    require(index == -1 && best == 0);
    return 0;
  }
  require(mode >= 1 && mode <= 10 && index >= 0 && index < 255 && best <= max_score && max_score <= 65535);
  std::fill(buffer.begin(), buffer.end(), 0);
  std::copy(probe.begin(), probe.end(), buffer.begin());
  std::uint32_t again = 0;
  const int st2 = card_compare_recheck(parts, sizes, 2, buffer.data(), static_cast<std::uint32_t>(buffer.size()), 0,
                                       &decision, index, mode, &again);
  require(st2 == ML_OK && decision == 1 && again == best);
  return 0;
}

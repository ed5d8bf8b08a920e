// The native template reader on arbitrary bytes: no crash, no read past the
// input, counts and angles within the format; whatever it reads is written
// and read again into the same template, and converts to a card feature.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "api/idcard_feature.h"
#include "api/nuvel_codec.h"
#include "fuzz_check.h"
#include "zylscan/nuvel.h"

namespace {

using namespace zyl::api;
using zyl::test::require;

void check_record(const FeatureRecord& r) {
  require(r.minutiaCount >= 0 && r.minutiaCount <= kNuvelMaxMinutiae);
  require(r.singularCount >= 0 && r.singularCount <= kNuvelMaxSingular);
  require(r.blockColumns <= ZYL_MAX_BLOCKS && r.blockRows <= ZYL_MAX_BLOCKS);
  for (int i = 0; i < r.minutiaCount; ++i)
    require(r.minutiaAngle[i] >= 0 && r.minutiaAngle[i] < kNuvelAngleSteps);
  for (int i = 0; i < r.singularCount; ++i)
    require(r.singularAngle[i] >= 0 && r.singularAngle[i] < kNuvelAngleSteps);
}

std::vector<std::uint8_t> rewrite(const FeatureRecord& r) {
  NuvelWriterSettings all;
  all.blocks = true;
  std::vector<std::uint8_t> out(2 * ZYL_MAX_BLOCKS * ZYL_MAX_BLOCKS + 1024);
  out.resize(compress_features(r, out, all));
  require(!out.empty());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto first = std::make_unique<FeatureRecord>();
  const int used = decompress_features({data, size}, *first);
  check_record(*first);
  if (used < 0) return 0;
  require(static_cast<std::size_t>(used) <= size);

  // Written again, the minutiae that fit come back in place; written once
  // more (now within the writer's caps), the template no longer changes.
  const std::vector<std::uint8_t> once = rewrite(*first);
  auto second = std::make_unique<FeatureRecord>();
  require(decompress_features(once, *second) >= 0);
  check_record(*second);
  const int kept = std::min(first->minutiaCount, kNuvelMaxWritten);
  require(second->minutiaCount == kept);
  for (int i = 0; i < kept; ++i) {
    require(second->minutiaX[i] == first->minutiaX[i]);
    require(second->minutiaY[i] == first->minutiaY[i]);
    require(second->minutiaAngle[i] == first->minutiaAngle[i]);
  }
  const std::vector<std::uint8_t> twice = rewrite(*second);
  auto third = std::make_unique<FeatureRecord>();
  require(decompress_features(twice, *third) >= 0);
  require(rewrite(*third) == twice);

  // The exported reader takes a whole feature buffer; the card writer reads
  // the template up to its length.
  std::array<std::uint8_t, ZYL_TEMPLATE_BUFFER_SIZE> padded{};
  std::memcpy(padded.data(), data, std::min(size, padded.size()));
  DecompressFeatures(padded.data(), third.get());
  check_record(*third);
  std::array<std::uint8_t, kIdCardSize> card{};
  nuvel_to_idcard({data, size}, card, 1, 1);
  return 0;
}

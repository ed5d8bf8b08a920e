// The identity-card readers on arbitrary bytes: no crash, no read past the
// input; both readers agree on what they accept and on the minutiae.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "api/idcard_feature.h"
#include "api/nuvel_codec.h"
#include "fuzz_check.h"

namespace {

using namespace zyl::api;
using zyl::test::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> card(data, size);
  std::array<std::uint8_t, kTemplateBufferSize> nuvel{};
  const int length = idcard_to_nuvel(card, nuvel);
  auto record = std::make_unique<FeatureRecord>();
  std::uint8_t secondary = 0;
  const int status = idcard_to_record(card, *record, secondary);
  require((length > 0) == (status == 0));
  if (status != 0) return 0;

  require(record->minutiaCount > 0 && record->minutiaCount <= kIdCardMaxMinutiae);
  require(record->singularCount <= 3);
  for (int i = 0; i < record->minutiaCount; ++i)
    require(record->minutiaAngle[i] >= 0 && record->minutiaAngle[i] < 240);
  auto fromNuvel = std::make_unique<FeatureRecord>();
  require(decompress_features(std::span<const std::uint8_t>(nuvel.data(), length), *fromNuvel) >= 0);
  require(fromNuvel->minutiaCount <= 60 && fromNuvel->minutiaCount <= record->minutiaCount);

  // The template made from a card converts back into a card.
  std::array<std::uint8_t, kIdCardSize> again{};
  require(nuvel_to_idcard(std::span<const std::uint8_t>(nuvel.data(), length), again, 1, 1) ==
          kIdCardWritten);
  return 0;
}

// The ISO and ANSI record readers on arbitrary bytes: no crash, no read past
// the input; what they accept is a native template that reads back.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "api/iso_ansi_record.h"
#include "api/nuvel_codec.h"
#include "fuzz_check.h"
#include "zylscan/minutiae_record.h"

namespace {

using namespace zyl::api;
using zyl::test::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto record = std::make_unique<FeatureRecord>();
  for (MinutiaeRecordKind kind : {MinutiaeRecordKind::Iso, MinutiaeRecordKind::Ansi}) {
    std::array<std::uint8_t, kConvertedBufferSize> nuvel{};
    const int length = minutiae_record_to_nuvel(kind, {data, size}, nuvel);
    if (length < 0) continue;
    require(decompress_features(std::span<const std::uint8_t>(nuvel.data(), length), *record) ==
            length);
    require(record->minutiaCount <= (kind == MinutiaeRecordKind::Iso ? 60 : 90));
  }

  // The exported forms take no length: they get the input in a buffer of
  // the most they may read.
  std::array<std::uint8_t, 1024> padded{};
  std::memcpy(padded.data(), data, std::min(size, padded.size()));
  std::array<std::uint8_t, kConvertedBufferSize> nuvel{};
  std::int32_t length = 0;
  ZylISOToNuvel(padded.data(), nuvel.data(), &length);
  ZylANSIToNuvel(padded.data(), nuvel.data(), &length);
  return 0;
}

// The 512-byte identity-card feature: written from a native template, read
// into a native template or a feature record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "zylscan/feature_record.h"

namespace zyl::api {

inline constexpr std::size_t kIdCardSize = 512;
inline constexpr int kIdCardMaxMinutiae = 120;

enum IdCardStatus : std::int32_t {
  kIdCardWritten = 1,
  kIdCardBadTemplate = -1,  // writer: flag byte above 31 or malformed template
  kIdCardBadTag = -1,       // record reader: not 'C' or no minutiae
  kIdCardBadVersion = -2,   // record reader: byte 4 is not 1
};

// Returns kIdCardWritten or kIdCardBadTemplate; out must hold 512 bytes.
std::int32_t nuvel_to_idcard(std::span<const std::uint8_t> nuvel, std::span<std::uint8_t> out,
                             std::uint8_t fingerCode, std::uint8_t secondaryCode);
// Returns the native template length or kBadTemplate (-901).
std::int32_t idcard_to_nuvel(std::span<const std::uint8_t> card, std::span<std::uint8_t> out);
// Returns 0, kIdCardBadTag or kIdCardBadVersion.
std::int32_t idcard_to_record(std::span<const std::uint8_t> card, FeatureRecord& record,
                              std::uint8_t& secondaryCode);

}  // namespace zyl::api

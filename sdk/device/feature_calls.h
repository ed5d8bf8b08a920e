// Security levels of the device API's verification calls.
#pragma once

#include <array>

namespace zyl::device {

constexpr int kMinSecurityLevel = 1;
constexpr int kMaxSecurityLevel = 11;
// Level at which VerifyExt compares each slot; its own level decides on the
// best score only.
constexpr int kSlotCompareLevel = 4;
constexpr int kMaxScore = 1000;

// A comparison matches at a level when its score is above the threshold.
constexpr std::array<int, kMaxSecurityLevel> kSecurityThresholds = {23, 29, 35, 47, 59, 71, 83, 95, 107, 119, 131};

constexpr bool ValidSecurityLevel(int level) { return level >= kMinSecurityLevel && level <= kMaxSecurityLevel; }
// The level must be valid.
constexpr int SecurityThreshold(int level) { return kSecurityThresholds[static_cast<std::size_t>(level - 1)]; }
constexpr bool ScoreMatches(int score, int level) { return score > SecurityThreshold(level); }

}  // namespace zyl::device

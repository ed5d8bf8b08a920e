// Security levels of the device API's verification calls.
#pragma once

#include <array>

#include "zylscan/zylfpscan_feature.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::device {

int ExtractFeature(void* handle, int count, unsigned char* feature);
int ExtractCidFeature(void* handle, int count, unsigned char* feature);
int Verify(void* handle, int level, const unsigned char* template_a, const unsigned char* template_b, int* score,
           int* match);
int VerifyExt(void* handle, int level, const unsigned char* feature, int count, const unsigned char* slots,
              int* best_score, int* result);

}  // namespace zyl::device

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

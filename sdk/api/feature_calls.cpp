// Feature and verification calls of the device API: the bridge from the last
// captured image and the caller's templates to the engine dispatch.
#include "api/feature_calls.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "api/engine_dispatch.h"
#include "api/idcard_feature.h"
#include "common/guarded_call.h"
#include "device/device_record.h"
#include "device/image_records.h"
#include "zylscan/devalg.h"
#include "zylscan/zylfpscan_feature.h"

namespace zyl::device {

namespace {

constexpr int kMaxExtractCount = 10;
constexpr int kMaxFingerPosition = 10;
// Images up to this width report the engine's own extraction result; wider
// ones are judged by the template's minutiae count.
constexpr int kNarrowImageWidth = 192;
constexpr int kMinMinutiae = 5;
constexpr std::size_t kMinutiaeCountOffset = 5;
constexpr std::size_t kIdCardFeatureSize = 512;
// Header codes of the identity-card features the device hands out.
constexpr std::uint8_t kIdCardFingerCode = 17;
constexpr std::uint8_t kIdCardSecondaryCode = 1;

using Feature = std::array<std::uint8_t, ZYLFPSCAN_FEATURE_SIZE>;

// Bytes of the caller's feature buffer that an extraction of this image
// fills: a template slot on the matcher-library road, whose templates run
// far past the 1024 bytes of the other engines; 1024 otherwise.
std::size_t FeatureSize(const DeviceRecord& r) {
  return zyl::api::ExtractsByMatcher(r.width, r.height) ? ZYLFPSCAN_TEMPLATE_SLOT_SIZE : ZYLFPSCAN_FEATURE_SIZE;
}

// SDK, handle, output: the checks before any range.
int CheckCall(const void* handle, const void* output) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!output) return ZYLFPSCAN_ERR_NULL_BUFFER;
  return ZYLFPSCAN_OK;
}

int CheckContext(const DeviceRecord& r) {
  if (!r.algorithmContext) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!ValidImageSize(r.width, r.height) || PixelCount(r.width, r.height) > kLastImageSize)
    return ZYLFPSCAN_ERR_PARAM;
  return ZYLFPSCAN_OK;
}

// The engine writes its skeleton into the pixels it is given; it gets a
// copy so that the last image stays what was captured.
std::vector<std::uint8_t> CopyOfLastImage(const DeviceRecord& r) {
  return {r.lastImage.begin(), r.lastImage.begin() + static_cast<std::ptrdiff_t>(PixelCount(r.width, r.height))};
}

// Template of the last image into a zeroed feature buffer (of FeatureSize
// bytes at least); returns the call's result by the rule for narrow and
// wide images.
int ExtractNative(DeviceRecord& r, std::span<std::uint8_t> feature) {
  std::fill(feature.begin(), feature.end(), 0);
  std::vector<std::uint8_t> pixels = CopyOfLastImage(r);
  std::int32_t length = 0;
  // Asked before the call: the road is chosen by the mode and size as they
  // stand now.
  const bool typeline = zyl::api::ExtractsByTypeline(r.width, r.height);
  const std::int32_t rc = zyl::api::DevAlgExtract(r.width, r.height, pixels.data(), r.resolution, feature.data(),
                                                  &length, r.algorithmContext);
  // The type-line road answers the minutiae count, 0 when extraction
  // failed; callers of the device API read 0 as success, so the count is
  // turned into a status here.
  if (typeline) return rc > 0 ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_EXTRACT;
  if (r.width <= kNarrowImageWidth) return rc;
  return feature[kMinutiaeCountOffset] >= kMinMinutiae ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_EXTRACT;
}

void FlipRows(DeviceRecord& r) {
  const std::size_t row = static_cast<std::size_t>(r.width);
  for (int top = 0, bottom = r.height - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(r.lastImage.begin() + static_cast<std::ptrdiff_t>(top * row),
                     r.lastImage.begin() + static_cast<std::ptrdiff_t>((top + 1) * row),
                     r.lastImage.begin() + static_cast<std::ptrdiff_t>(bottom * row));
}

enum class RecordKind { Iso, Ansi };

int ExtractRecord(void* handle, int fingerPosition, unsigned char* out, RecordKind kind) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NOT_OPEN;
  const std::uint8_t position = static_cast<std::uint8_t>(fingerPosition);
  // The position is judged before the output, as callers of these calls
  // have always seen it.
  if (position > kMaxFingerPosition) return ZYLFPSCAN_ERR_PARAM;
  if (!out) return ZYLFPSCAN_ERR_NULL_BUFFER;
  auto& r = *static_cast<DeviceRecord*>(handle);
  if (int rc = CheckContext(r)) return rc;

  std::memset(out, 0, ZYLFPSCAN_FEATURE_SIZE);
  std::vector<std::uint8_t> pixels = CopyOfLastImage(r);
  std::int32_t length = 0;
  const std::int32_t rc = kind == RecordKind::Iso
                              ? zyl::api::DevAlgExtract_ISO(r.width, r.height, pixels.data(), 500, out, &length,
                                                            position, r.algorithmContext)
                              : zyl::api::DevAlgExtract_ANSI(r.width, r.height, pixels.data(), r.resolution, out,
                                                             &length, position, r.algorithmContext);
  return rc < 0 ? ZYLFPSCAN_ERR_EXTRACT : ZYLFPSCAN_OK;
}

}  // namespace

}  // namespace zyl::device

using namespace zyl::device;

int zyl::device::ExtractFeature(void* handle, int count, unsigned char* feature) {
  // The work buffers are the only things that can fail to be had.
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&]() -> int {
    if (int rc = CheckCall(handle, feature)) return rc;
    if (count < 0 || count > kMaxExtractCount) return ZYLFPSCAN_ERR_PARAM;
    auto& r = *static_cast<DeviceRecord*>(handle);
    if (int rc = CheckContext(r)) return rc;
    std::vector<std::uint8_t> work(FeatureSize(r));
    const int rc = ExtractNative(r, work);
    std::memcpy(feature, work.data(), work.size());
    return rc;
  });
}

extern "C" ZYL_API int ZYLFPSCAN_ExtractISOFeature(void* handle, int fingerPosition, unsigned char* feature) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY,
                          [&] { return ExtractRecord(handle, fingerPosition, feature, RecordKind::Iso); });
}

extern "C" ZYL_API int ZYLFPSCAN_ExtractANSIFeature(void* handle, int fingerPosition, unsigned char* feature) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY,
                          [&] { return ExtractRecord(handle, fingerPosition, feature, RecordKind::Ansi); });
}

int zyl::device::ExtractCidFeature(void* handle, int count, unsigned char* feature) {
  // The work buffers are the only things that can fail to be had.
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&]() -> int {
    if (int rc = CheckCall(handle, feature)) return rc;
    if (count < 0 || count > kMaxExtractCount) return ZYLFPSCAN_ERR_PARAM;
    auto& r = *static_cast<DeviceRecord*>(handle);
    if (int rc = CheckContext(r)) return rc;

    FlipRows(r);
    std::vector<std::uint8_t> native(FeatureSize(r));
    const int rc = ExtractNative(r, native);
    if (r.width <= kNarrowImageWidth || rc != ZYLFPSCAN_OK) {
      std::memcpy(feature, native.data(), native.size());
      return rc;
    }
    std::printf("\n sizeof(DWORD) = %d\n", 4);
    Feature card{};
    if (zyl::api::nuvel_to_idcard(std::span(native).first(ZYLFPSCAN_FEATURE_SIZE),
                                  std::span(card).first(kIdCardFeatureSize), kIdCardFingerCode,
                                  kIdCardSecondaryCode) != zyl::api::kIdCardWritten) {
      std::memcpy(feature, native.data(), native.size());
      return ZYLFPSCAN_ERR_EXTRACT;
    }
    std::memcpy(feature, card.data(), card.size());
    return ZYLFPSCAN_OK;
  });
}

int zyl::device::Verify(void* handle, int level, const unsigned char* template_a, const unsigned char* template_b,
                        int* score, int* match) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!template_a || !template_b || !score || !match) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (!ValidSecurityLevel(level)) return ZYLFPSCAN_ERR_PARAM;
  auto& r = *static_cast<DeviceRecord*>(handle);
  if (!r.algorithmContext) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!r.algorithmReady) return ZYLFPSCAN_ERR_ALG_NOT_READY;

  const int s = zyl::api::DevAlgVerify(template_a, template_b, r.algorithmContext);
  if (s < 0) {
    // A failed comparison is no score: report its status, never a match.
    *score = 0;
    *match = 0;
    return s;
  }
  *score = std::min(s, kMaxScore);
  *match = ScoreMatches(*score, level) ? 1 : 0;
  return ZYLFPSCAN_OK;
}

int zyl::device::VerifyExt(void* handle, int level, const unsigned char* feature, int count, const unsigned char* slots,
                           int* best_score, int* result) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!feature || !best_score || !result || (count > 0 && !slots)) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (!ValidSecurityLevel(level) || count < 0) return ZYLFPSCAN_ERR_PARAM;
  if (!static_cast<DeviceRecord*>(handle)->algorithmContext) return ZYLFPSCAN_ERR_NOT_OPEN;

  int best = 0;
  for (int i = 0; i < count; ++i) {
    int score = 0, match = 0;
    const unsigned char* slot = slots + static_cast<std::size_t>(i) * ZYLFPSCAN_TEMPLATE_SLOT_SIZE;
    if (zyl::device::Verify(handle, kSlotCompareLevel, feature, slot, &score, &match) == ZYLFPSCAN_OK)
      best = std::max(best, score);
  }
  *best_score = best;
  *result = ScoreMatches(best, level) ? ZYLFPSCAN_OK : ZYLFPSCAN_NO_MATCH;
  return *result;
}

extern "C" ZYL_API int ZYLFPSCAN_GeneralizeTemplate(const unsigned char* slots, int count, unsigned char* out) {
  if (!out) return ZYLFPSCAN_ERR_NO_MEMORY;
  if (count > 0 && !slots) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (count < 0) return ZYLFPSCAN_ERR_PARAM;
  if (count > 0) std::memmove(out, slots, static_cast<std::size_t>(count) * ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
  return ZYLFPSCAN_OK;
}

extern "C" {

ZYL_API int ZYLFPSCAN_ExtractFeature(void* handle, int count, unsigned char* feature) {
  return zyl::device::ExtractFeature(handle, count, feature);
}
ZYL_API int ZYLFPSCAN_ExtractCIDFeature(void* handle, int count, unsigned char* feature) {
  return zyl::device::ExtractCidFeature(handle, count, feature);
}
ZYL_API int ZYLFPSCAN_Verify(void* handle, int level, const unsigned char* template_a, const unsigned char* template_b,
                             int* score, int* match) {
  return zyl::device::Verify(handle, level, template_a, template_b, score, match);
}
ZYL_API int ZYLFPSCAN_VerifyExt(void* handle, int level, const unsigned char* feature, int count,
                                const unsigned char* slots, int* best_score, int* result) {
  return zyl::device::VerifyExt(handle, level, feature, count, slots, best_score, result);
}

}  // extern "C"

// Engine dispatch: the device API's extraction and verification go through
// here, and the library-wide algorithm mode picks the engine.
#include "api/engine_dispatch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "api/alg_mode.h"
#include "api/quenta_wrappers.h"
#include "api/template_exports.h"
#include "api/xw_context.h"
#include "api/xw_context_setup.h"
#include "api/xw_extract.h"
#include "api/xw_operations.h"
#include "common/guarded_call.h"
#include "typeline/matching.h"
#include "zylscan/devalg.h"
#include "zylscan/feature_record.h"
#include "zylscan/idcard_feature.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/minutiae_record.h"
#include "zylscan/nuvel.h"
#include "zylscan/template_format.h"
#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_match.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"
#include "zylscan/zylquenta.h"

namespace zyl::api {

namespace {

// Images up to this size on both sides go to the small-sensor engines.
constexpr int kSmallImageSide = 192;
constexpr std::size_t kWorkBufferSize = 1024;

bool SmallImage(std::int32_t width, std::int32_t height) {
  return width <= kSmallImageSide && height <= kSmallImageSide;
}

// The small-sensor template of mode 2: the type-line template at byte 0, the
// native template from byte 512 on, both in the caller's 1024-byte buffer.
constexpr std::size_t kNativeHalfOffset = 512;
constexpr std::size_t kNativeHalfSize = kWorkBufferSize - kNativeHalfOffset;

// Mode 2 extraction: the type-line template, then (with a context) the native
// one behind it. Answers the minutiae count, 0 for any failure of the
// type-line extractor.
std::int32_t ExtractTypeline(std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
                             std::int32_t resolution, std::uint8_t* out, std::int32_t* out_length,
                             XWContext* context) {
  if (!pixels || !out) return 0;
  // The type-line extractor works in its input image; the native extraction
  // below must see the image as captured, so each gets its own copy.
  const std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::unique_ptr<std::uint8_t[]> work(new (std::nothrow) std::uint8_t[area]);
  if (!work) return 0;
  std::memcpy(work.get(), pixels, area);
  const int r = zyl::typeline::template_recording_height(work.get(), width, height, out);
  if (context && out_length) {
    std::memcpy(work.get(), pixels, area);
    // Its status is not looked at: the type-line result decides.
    extract_native(context, width, height, work.get(), resolution, {out + kNativeHalfOffset, kNativeHalfSize},
                   out_length);
  }
  return r / 100 > 0 ? r % 100 : r / 100;
}

}  // namespace

bool ExtractsByTypeline(std::int32_t width, std::int32_t height) {
  return zyl::api::algorithm_mode == 2 && SmallImage(width, height);
}

bool ExtractsByMatcher(std::int32_t width, std::int32_t height) {
  return (zyl::api::algorithm_mode == 3 || zyl::api::algorithm_mode == 4) && SmallImage(width, height);
}

std::int32_t TypelineVerdict(std::int32_t score, bool confirmed) {
  if (score >= 100 && !confirmed) score = 0;
  return score > 40 ? score - 40 : score;
}

namespace {

// Mode 1 verification: the type-line templates at byte 0, confirmed by the
// native halves from byte 512 on.
std::int32_t VerifyTypeline(const std::uint8_t* a, const std::uint8_t* b, XWContext* context) {
  if (!a || !b) return XW_ERR_NULL_ARGUMENT;
  const std::int32_t score = zyl::GuardedCall(0, [&] {
    return zyl::typeline::finger_match({a, zyl::typeline::kTemplateSize}, {b, zyl::typeline::kTemplateSize}, 1);
  });
  bool confirmed = true;
  if (score >= 100 && context) {
    // The native halves hold at most 512 bytes; the verifier reads a whole
    // native buffer, so each half is copied into one rather than read past
    // the caller's template.
    std::array<std::uint8_t, kWorkBufferSize> halfA{}, halfB{};
    std::memcpy(halfA.data(), a + kNativeHalfOffset, kNativeHalfSize);
    std::memcpy(halfB.data(), b + kNativeHalfOffset, kNativeHalfSize);
    MatchDetails details{};
    details.size = XW_DETAILS_SHORT;
    const std::int32_t rc = zyl::api::XWVerify(halfA.data(), halfB.data(), &details, context);
    confirmed = rc == XW_VERIFY_COMPLETED && details.score > 47;
  }
  return TypelineVerdict(score, confirmed);
}

// Brings one template of any known format into a zeroed native work buffer.
// Returns 0 or the status that ends the verification.
std::int32_t ToNuvel(const std::uint8_t* in, std::array<std::uint8_t, kWorkBufferSize>& work) {
  std::int32_t length = 0;
  switch (zyl::api::ZYL_getFormatType(in, DEVALG_TEMPLATE_READ_SIZE)) {
    case ZYL_FORMAT_NUVEL:
      std::memcpy(work.data(), in, DEVALG_TEMPLATE_READ_SIZE);
      return 0;
    case ZYL_FORMAT_ISO:
      return zyl::api::ZylISOToNuvel(in, work.data(), &length);
    case ZYL_FORMAT_ANSI:
      return zyl::api::ZylANSIToNuvel(in, work.data(), &length);
    case ZYL_FORMAT_IDCARD:
      // A feature the reader refuses leaves the work buffer zeroed: a
      // template without minutiae, which matches nothing.
      zyl::api::IDcardfea2Nuvelfea(in, work.data());
      return 0;
    default:
      return DEVALG_ERR_UNKNOWN_FORMAT;
  }
}

std::int32_t VerifyNative(const std::uint8_t* a, const std::uint8_t* b, XWContext* context) {
  if (!a || !b) return XW_ERR_NULL_ARGUMENT;
  std::array<std::uint8_t, kWorkBufferSize> workA{}, workB{};
  if (std::int32_t rc = ToNuvel(a, workA)) return rc;
  if (std::int32_t rc = ToNuvel(b, workB)) return rc;
  if (!context) return DEVALG_ERR_NO_CONTEXT;
  MatchDetails details{};
  details.size = XW_DETAILS_SHORT;
  if (zyl::api::XWVerify(workA.data(), workB.data(), &details, context) != XW_VERIFY_COMPLETED)
    return DEVALG_ERR_VERIFY_INCOMPLETE;
  // A context whose score offset pushes a poor match below 0 must not hand
  // back something that reads as a failure status.
  return std::max(details.score, 0);
}

// Modes 3 and 4: the matcher library, one engine for this call only.
std::int32_t ExtractMatcher(std::int32_t width, std::int32_t height, const std::uint8_t* pixels, std::uint8_t* out,
                            std::int32_t* out_length) {
  MatchEngine* engine = nullptr;
  std::int32_t status = zyl::api::ZylQuenta_Init(&engine);
  if (status == 0) status = zyl::api::ZylQuenta_Extract(engine, pixels, width, height, out, out_length, 0);
  zyl::api::ZylQuenta_Free(engine);
  return status;
}

// Every mode above 2: the matcher library compares.
std::int32_t VerifyMatcher(const std::uint8_t* a, const std::uint8_t* b) {
  if (!a || !b) return XW_ERR_NULL_ARGUMENT;
  MatchEngine* engine = nullptr;
  // A verification answers a score (0 or more) or a negative status. The
  // initialisation answers a positive status (1 when no matcher context can
  // be made) and may leave no engine when the preset cannot be built: both
  // are a lack of memory, and are answered negated so that no caller reads
  // the failure as a score.
  if (zyl::api::ZylQuenta_Init(&engine) != 0 || !engine) {
    zyl::api::ZylQuenta_Free(engine);
    return -ML_NO_MEMORY;
  }
  const std::int32_t result = zyl::api::ZylQuenta_Verify(engine, a, 0, b, 0);
  zyl::api::ZylQuenta_Free(engine);
  return result;
}

}  // namespace

}  // namespace zyl::api

using namespace zyl::api;

int32_t zyl::api::DevAlgExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                int32_t* out_length, XWContext* context) {
  if (ExtractsByTypeline(width, height))
    return ExtractTypeline(width, height, pixels, resolution, out, out_length, context);
  if (ExtractsByMatcher(width, height)) return ExtractMatcher(width, height, pixels, out, out_length);
  if (!context) return DEVALG_ERR_NO_CONTEXT;
  return zyl::api::XWExtract(width, height, pixels, resolution, out, out_length, context);
}

int32_t zyl::api::DevAlgExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                    int32_t* out_length, uint8_t finger_position, XWContext* context) {
  if (!context) return DEVALG_ERR_NO_CONTEXT;
  return zyl::api::XWExtract_ISO(width, height, pixels, resolution, out, out_length, finger_position, context);
}

int32_t zyl::api::DevAlgExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                     int32_t* out_length, uint8_t finger_position, XWContext* context) {
  if (!context) return DEVALG_ERR_NO_CONTEXT;
  return zyl::api::XWExtract_ANSI(width, height, pixels, resolution, out, out_length, finger_position, context);
}

int32_t zyl::api::DevAlgVerify(const uint8_t* template_a, const uint8_t* template_b, XWContext* context) {
  if (zyl::api::algorithm_mode == 1) return VerifyTypeline(template_a, template_b, context);
  if (zyl::api::algorithm_mode > 2) return VerifyMatcher(template_a, template_b);
  return VerifyNative(template_a, template_b, context);
}

extern "C" ZYL_API int32_t DevAlgGeneralize(const uint8_t* template_1, const uint8_t* template_2,
                                            const uint8_t* template_3, uint8_t* out, int32_t* out_length,
                                            XWContext* context) {
  if (!context) return DEVALG_ERR_NO_CONTEXT;
  const uint8_t* set[3] = {template_1, template_2, template_3};
  return zyl::api::XWGeneralize(3, set, out, out_length, context);
}

extern "C" ZYL_API int32_t DevAlgIdcfeaToNuvelfea(const uint8_t* card, uint8_t* out, int32_t* out_length,
                                                  uint8_t* secondary_code) {
  if (!card || !out || !out_length || !secondary_code) return XW_ERR_NULL_ARGUMENT;
  // The template is written under the settings of a fresh context, whatever
  // the device's own context holds.
  std::unique_ptr<XWContext, decltype(&zyl::api::free_context)> context(zyl::api::create_context(),
                                                                        &zyl::api::free_context);
  if (!context) return DEVALG_ERR_NO_CONTEXT;
  std::unique_ptr<FeatureRecord> record(new (std::nothrow) FeatureRecord{});
  if (!record) return DEVALG_ERR_NO_CONTEXT;
  if (int32_t rc = zyl::api::DecompressFeaturesIdcardtoNuvel(card, record.get(), secondary_code)) return rc;
  *out_length = zyl::api::CompressFeatures(record.get(), out, context.get());
  return 0;
}

extern "C" {

ZYL_API int32_t DevAlgExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                              int32_t* out_length, XWContext* context) {
  return zyl::api::DevAlgExtract(width, height, pixels, resolution, out, out_length, context);
}
ZYL_API int32_t DevAlgExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                  int32_t* out_length, uint8_t finger_position, XWContext* context) {
  return zyl::api::DevAlgExtract_ISO(width, height, pixels, resolution, out, out_length, finger_position, context);
}
ZYL_API int32_t DevAlgExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                   int32_t* out_length, uint8_t finger_position, XWContext* context) {
  return zyl::api::DevAlgExtract_ANSI(width, height, pixels, resolution, out, out_length, finger_position, context);
}
ZYL_API int32_t DevAlgVerify(const uint8_t* template_a, const uint8_t* template_b, XWContext* context) {
  return zyl::api::DevAlgVerify(template_a, template_b, context);
}

}  // extern "C"

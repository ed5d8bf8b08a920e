// Matcher-library wrappers: one engine per call, templates as wrapped byte
// buffers, scores on the scale of the other engines.
#include "api/quenta_wrappers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "api/alg_mode.h"
#include "matchlib/image/blob.h"
#include "matchlib/engine/engine_extract.h"
#include "matchlib/engine/engine_match.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/engine/preset_light.h"
#include "matchlib/engine/preset_light_verify.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/devalg.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylquenta.h"

namespace {

constexpr int kResolution = 500;
constexpr int kImpressionType = 0;
constexpr std::uint32_t kMaxPayload = 0xFFFF;  // what the 16-bit length field carries
// A wrapped template fits one template slot of the device API: callers hand
// out slots, and the database stores them.
constexpr std::uint32_t kMaxWrapped = ZYLFPSCAN_TEMPLATE_SLOT_SIZE;
static_assert(kMaxWrapped - ZYLQUENTA_HEADER_SIZE <= kMaxPayload);

struct BlobRelease {
  void operator()(DataBlob* b) const { zyl::matchlib::blob_release(b); }
};
using BlobRef = std::unique_ptr<DataBlob, BlobRelease>;

// Extraction by the engine of the current mode into a new blob.
int ExtractBlob(MatchEngine* engine, const std::uint8_t* pixels, int width, int height, DataBlob** out) {
  if (zyl::api::algorithm_mode == 4) {
    if (!pixels || width <= 0 || height <= 0) return ML_BAD_ARGUMENT;
    GrayImage* image = zyl::matchlib::image_create(height, width, kResolution, kResolution, pixels, kImpressionType);
    // Without an image there is nothing to hand the engine.
    if (!image) return ML_NO_MEMORY;
    const int status = zyl::matchlib::engine_extract_image(engine, image, nullptr, out);
    zyl::matchlib::image_release(image);
    return status;
  }
  return zyl::matchlib::engine_extract_pixels(engine, pixels, height, width, kResolution,
                                              zyl::matchlib::finger_info_default(), out);
}

// The blob of a wrapped template, or null; *status says why not.
BlobRef Unwrap(const std::uint8_t* wrapped, int* status) {
  if (!wrapped) {
    *status = ML_BAD_ARGUMENT;
    return nullptr;
  }
  const std::uint32_t length = static_cast<std::uint32_t>(wrapped[1]) << 8 | wrapped[2];
  // The template lives in a slot: a length that runs past it is not a
  // template, and reading it would leave the caller's buffer.
  if (length + ZYLQUENTA_HEADER_SIZE > kMaxWrapped) {
    *status = ML_CORRUPT;
    return nullptr;
  }
  BlobRef blob(zyl::matchlib::blob_create(wrapped[0], wrapped + ZYLQUENTA_HEADER_SIZE, length));
  if (!blob) *status = ML_NO_MEMORY;
  return blob;
}

}  // namespace

int zyl::api::ZylQuenta_Init(MatchEngine** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  MatchContext* context = zyl::matchlib::ctx_create();
  if (!context) return 1;
  *out = zyl::api::algorithm_mode == 4 ? zyl::matchlib::preset_create_light_verify(context)
                                       : zyl::matchlib::preset_create_light(context);
  // The engine holds its own reference to the context; this one is ours.
  zyl::matchlib::ctx_release(context);
  return 0;
}

int zyl::api::ZylQuenta_Extract(MatchEngine* engine, const uint8_t* pixels, int width, int height, uint8_t* out,
                                int* out_length, int /*reserved*/) {
  if (!engine || !out || !out_length) return ML_BAD_ARGUMENT;
  DataBlob* raw = nullptr;
  const int status = ExtractBlob(engine, pixels, width, height, &raw);
  BlobRef blob(raw);
  if (status != ML_OK) return status;
  if (!blob) return ML_BAD_ARGUMENT;
  if (zyl::matchlib::blob_size(blob.get()) + ZYLQUENTA_HEADER_SIZE > kMaxWrapped) return ML_WRONG_KIND;
  *out_length = zyl::api::template_ttobuffer(blob.get(), nullptr, out);
  return ML_OK;
}

int zyl::api::ZylQuenta_Verify(MatchEngine* engine, const uint8_t* template_a, int /*reserved_a*/,
                               const uint8_t* template_b, int /*reserved_b*/) {
  int status = ML_OK;
  BlobRef a = Unwrap(template_a, &status);
  if (!a) return -status;
  BlobRef b = Unwrap(template_b, &status);
  if (!b) return -status;
  DataBlob* gallery[1] = {a.get()};
  std::uint16_t score = 0;
  status = zyl::matchlib::engine_verify_score(engine, gallery, 1, b.get(), &score);
  if (status != ML_OK) return -status;
  return score / ZYLQUENTA_SCORE_DIVISOR;
}

int zyl::api::ZylQuenta_Free(MatchEngine* engine) {
  zyl::matchlib::engine_release(engine);
  return 0;
}

int zyl::api::template_ttobuffer(const DataBlob* blob, const void* /*reserved*/, uint8_t* out) {
  if (!blob || !out) return 0;
  const std::uint32_t length = zyl::matchlib::blob_size(blob);
  // A length cut to 16 bits would describe a different template.
  if (length > kMaxPayload) return 0;
  out[0] = static_cast<std::uint8_t>(zyl::matchlib::blob_type(blob));
  out[1] = static_cast<std::uint8_t>(length >> 8);
  out[2] = static_cast<std::uint8_t>(length);
  if (length) std::copy_n(zyl::matchlib::blob_data(blob), length, out + ZYLQUENTA_HEADER_SIZE);
  return static_cast<int>(length + ZYLQUENTA_HEADER_SIZE);
}

extern "C" ZYL_API int ZylTepbuf2File(const uint8_t* data, int length, const char* path) {
  if (!path || length < 0 || (!data && length > 0)) return -1;
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return -1;
  const std::size_t n = static_cast<std::size_t>(length);
  const bool written = n == 0 || std::fwrite(data, 1, n, file) == n;
  // A file that did not take every byte is reported like one that could
  // not be opened: the caller holds no complete copy.
  const bool closed = std::fclose(file) == 0;
  return written && closed ? 0 : -1;
}

extern "C" {

ZYL_API int ZylQuenta_Init(MatchEngine** out) { return zyl::api::ZylQuenta_Init(out); }
ZYL_API int ZylQuenta_Extract(MatchEngine* engine, const uint8_t* pixels, int width, int height, uint8_t* out,
                              int* out_length, int arg6) {
  return zyl::api::ZylQuenta_Extract(engine, pixels, width, height, out, out_length, arg6);
}
ZYL_API int ZylQuenta_Verify(MatchEngine* engine, const uint8_t* template_a, int arg2, const uint8_t* template_b,
                             int arg4) {
  return zyl::api::ZylQuenta_Verify(engine, template_a, arg2, template_b, arg4);
}
ZYL_API int ZylQuenta_Free(MatchEngine* engine) { return zyl::api::ZylQuenta_Free(engine); }
ZYL_API int template_ttobuffer(const DataBlob* blob, const void* arg1, uint8_t* out) {
  return zyl::api::template_ttobuffer(blob, arg1, out);
}

}  // extern "C"

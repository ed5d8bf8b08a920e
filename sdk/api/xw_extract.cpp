// The context API's extraction calls: a grey image of any resolution is
// brought to 500 dpi, its minutiae extracted and written as a native
// template or a standard minutiae record.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <new>

#include "api/xw_context.h"
#include "api/xw_operations.h"
#include "extract/byte_image.h"
#include "zylscan/extract_pipeline.h"
#include "zylscan/image_stretch.h"
#include "zylscan/minutiae_record.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw_operations.h"
#include "api/xw_extract.h"
#include "extract/pipeline.h"
#include "extract/image_stretch.h"
#include "api/template_exports.h"

namespace zyl::api {
namespace {

enum class TemplateKind { Native, Iso, Ansi };

std::int32_t extract(XWContext* context, std::int32_t width, std::int32_t height, std::uint8_t* pixels,
                     std::int32_t resolution, std::uint8_t* out, std::size_t capacity, std::int32_t* out_length,
                     TemplateKind kind, std::uint8_t finger_position) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!pixels || !out || !out_length) return XW_ERR_NULL_ARGUMENT;
  std::int32_t w = 0, h = 0;
  if (const std::int32_t status = zyl::api::ComputeStretchedImageSize(width, height, resolution, &w, &h);
      status != XW_OK)
    return status;

  zyl::extract::OwnedByteImage work(w, h);
  std::unique_ptr<FeatureRecord> record(new (std::nothrow) FeatureRecord{});
  if (!work || !record) return XW_ERR_NO_MEMORY;
  zyl::api::StretchImageFromLinear(width, height, pixels, w, h, work.get());
  const std::int32_t r = zyl::extract::ExtractFeatures(w, h, work.get(), record.get(), c);
  if (r < 0) return XW_ERR_POOR_IMAGE;  // not reached: context and sizes are checked above

  // The template is written even for a poor image; the status says so.
  switch (kind) {
    case TemplateKind::Native:
      *out_length = static_cast<std::int32_t>(compress_features(*record, {out, capacity}, writer_settings(c)));
      break;
    case TemplateKind::Iso:
      *out_length = zyl::api::CompressFeatures_ISO(record.get(), out, c, finger_position, width, height);
      break;
    case TemplateKind::Ansi:
      *out_length = zyl::api::CompressFeatures_ANSI(record.get(), out, c, finger_position, width, height);
      break;
  }
  // The caller's image receives the extractor's skeleton at its own size.
  zyl::api::StretchImageToLinear(w, h, work.get(), width, height, pixels);
  if (c->rawExtractionResult) return r;
  return r != 0 ? XW_OK : XW_ERR_POOR_IMAGE;
}

}  // namespace

std::int32_t extract_native(XWContext* context, std::int32_t width, std::int32_t height, std::uint8_t* pixels,
                            std::int32_t resolution, std::span<std::uint8_t> out, std::int32_t* out_length) {
  return extract(context, width, height, pixels, resolution, out.data(), out.size(), out_length,
                 TemplateKind::Native, 0);
}

}  // namespace zyl::api

using namespace zyl::api;

int32_t zyl::api::ComputeStretchedImageSize(int32_t width, int32_t height, int32_t resolution, int32_t* stretched_width,
                                            int32_t* stretched_height) {
  if (!stretched_width || !stretched_height) return XW_ERR_NULL_ARGUMENT;
  if (resolution < XW_MIN_RESOLUTION || resolution > XW_MAX_RESOLUTION) return XW_ERR_RESOLUTION;
  const std::int64_t w = std::int64_t{width} * XW_WORK_RESOLUTION / resolution;
  const std::int64_t h = std::int64_t{height} * XW_WORK_RESOLUTION / resolution;
  const auto inside = [](std::int64_t v) { return v >= XW_MIN_WORK_SIZE && v <= XW_MAX_WORK_SIZE; };
  *stretched_width = static_cast<std::int32_t>(std::clamp<std::int64_t>(w, INT32_MIN, INT32_MAX));
  *stretched_height = static_cast<std::int32_t>(std::clamp<std::int64_t>(h, INT32_MIN, INT32_MAX));
  return inside(w) && inside(h) ? XW_OK : XW_ERR_IMAGE_SIZE;
}

int32_t zyl::api::XWExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                            int32_t* out_length, XWContext* context) {
  return extract(context, width, height, pixels, resolution, out, kTemplateBufferSize, out_length,
                 TemplateKind::Native, 0);
}

int32_t zyl::api::XWExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                int32_t* out_length, uint8_t finger_position, XWContext* context) {
  return extract(context, width, height, pixels, resolution, out, ZYL_ISO_RECORD_MAX, out_length, TemplateKind::Iso,
                 finger_position);
}

int32_t zyl::api::XWExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                 int32_t* out_length, uint8_t finger_position, XWContext* context) {
  return extract(context, width, height, pixels, resolution, out, ZYL_ANSI_RECORD_MAX, out_length, TemplateKind::Ansi,
                 finger_position);
}

extern "C" ZYL_API int32_t XWFExtract(int32_t width, int32_t height, uint8_t* pixels, uint8_t* out, int32_t* out_length,
                                      XWContext* context) {
  return zyl::api::XWExtract(width, height, pixels, XW_WORK_RESOLUTION, out, out_length, context);
}

extern "C" {

ZYL_API int32_t ComputeStretchedImageSize(int32_t width, int32_t height, int32_t resolution, int32_t* stretched_width,
                                          int32_t* stretched_height) {
  return zyl::api::ComputeStretchedImageSize(width, height, resolution, stretched_width, stretched_height);
}
ZYL_API int32_t XWExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                          int32_t* out_length, XWContext* context) {
  return zyl::api::XWExtract(width, height, pixels, resolution, out, out_length, context);
}
ZYL_API int32_t XWExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                              int32_t* out_length, uint8_t finger_position, XWContext* context) {
  return zyl::api::XWExtract_ISO(width, height, pixels, resolution, out, out_length, finger_position, context);
}
ZYL_API int32_t XWExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                               int32_t* out_length, uint8_t finger_position, XWContext* context) {
  return zyl::api::XWExtract_ANSI(width, height, pixels, resolution, out, out_length, finger_position, context);
}

}  // extern "C"

// The exported C names of the template codecs and converters. Each converts
// pointers to bounded spans and passes status codes through.
#include "api/template_exports.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "api/idcard_feature.h"
#include "api/iso_ansi_record.h"
#include "api/nuvel_codec.h"
#include "api/template_format.h"
#include "api/xw_context.h"
#include "zylscan/idcard_feature.h"
#include "zylscan/minutiae_record.h"
#include "zylscan/nuvel.h"
#include "zylscan/template_format.h"
#include "zylscan/typeline_template.h"

namespace {

using namespace zyl::api;

constexpr std::int32_t kNullArgument = -4;
constexpr std::size_t kBlockSectionMax = 2 + ZYL_MAX_BLOCKS * ZYL_MAX_BLOCKS;

std::span<const std::uint8_t> in(const std::uint8_t* p, std::size_t n) { return {p, n}; }
std::span<std::uint8_t> out_of(std::uint8_t* p, std::size_t n) { return {p, n}; }

std::int32_t record_to_nuvel(MinutiaeRecordKind kind, const std::uint8_t* record, std::uint8_t* out,
                             std::int32_t* outLength) {
  if (!record || !out || !outLength) return kNullArgument;
  // The record's own length field bounds the reading; the reader also never
  // looks past the header and the first 90 minutiae.
  const int length = minutiae_record_to_nuvel(kind, in(record, minutiae_record_read_limit(kind)),
                                              out_of(out, 7 + kRecordReadMinutiae * 4));
  if (length < 0) return length;
  *outLength = length;
  return 0;
}

}  // namespace

namespace zyl::api {

// Writer settings of a context; without one (no default context either)
// those of a freshly created context, which is what a caller that never
// touched the settings expects.
NuvelWriterSettings writer_settings(XWContext* context) {
  NuvelWriterSettings settings;
  if (const XWContext* c = resolve_context(context)) {
    settings.curvature = c->writeCurvature != 0;
    settings.singular = c->writeSingularPoints != 0;
    settings.kind1Only = c->onlyKind1Singular != 0;
    settings.blocks = c->writeBlockDirections != 0;
  }
  return settings;
}

}  // namespace zyl::api

namespace {

using namespace zyl::api;

// The type-line minutiae at base + offset, copied out (the offset need not
// be aligned). Only entries that lie inside a TypelineRecord at base are
// taken, at most the 90 the converters use.
struct TypelineEntries {
  TypelineMinutia entries[kRecordReadMinutiae];
  std::size_t count = 0;
  std::span<const TypelineMinutia> span() const { return {entries, count}; }
};

TypelineEntries typeline_entries(const void* base, int32_t count, int32_t offset) {
  TypelineEntries e;
  constexpr std::size_t kRecordSize = sizeof(TypelineRecord);
  if (count <= 0 || offset < 0 || static_cast<std::size_t>(offset) >= kRecordSize) return e;
  const std::size_t inside = (kRecordSize - static_cast<std::size_t>(offset)) / sizeof(TypelineMinutia);
  e.count = std::min({static_cast<std::size_t>(count), inside,
                      static_cast<std::size_t>(kRecordReadMinutiae)});
  std::memcpy(e.entries, static_cast<const std::uint8_t*>(base) + offset,
              e.count * sizeof(TypelineMinutia));
  return e;
}

}  // namespace

int32_t zyl::api::CompressFeatures(const FeatureRecord* record, uint8_t* out, XWContext* context) {
  if (!record || !out) return kNullArgument;
  return static_cast<int32_t>(
      compress_features(*record, out_of(out, kTemplateBufferSize), writer_settings(context)));
}

int32_t zyl::api::DecompressFeatures(const uint8_t* tmpl, FeatureRecord* record) {
  if (!tmpl || !record) return kNullArgument;
  return decompress_features(in(tmpl, kTemplateBufferSize), *record);
}

extern "C" ZYL_API int32_t CompressBO(const FeatureRecord* record, uint8_t* out) {
  if (!record || !out) return kNullArgument;
  return static_cast<int32_t>(compress_block_grid(*record, out_of(out, kBlockSectionMax)));
}

extern "C" ZYL_API int32_t CompressBOLine(int32_t previous, int32_t count, const uint8_t* values, uint8_t* out) {
  if (!values || !out) return kNullArgument;
  if (count <= 0) return 0;
  const std::size_t n = static_cast<std::size_t>(count);
  zyl::ByteWriter w(out_of(out, n));
  int prev = previous;
  compress_block_line(prev, in(values, n), w);
  return static_cast<int32_t>(w.pos());
}

extern "C" ZYL_API int32_t DecompressBO(const uint8_t* data, FeatureRecord* record) {
  if (!data || !record) return kNullArgument;
  return static_cast<int32_t>(decompress_block_grid(in(data, kTemplateBufferSize), *record));
}

extern "C" ZYL_API int32_t GetFeatureNum(const uint8_t* tmpl) {
  if (!tmpl) return 0;
  return tmpl[5] | tmpl[6] << 8;
}

extern "C" ZYL_API void SetFingerPoint(int32_t value) { set_finger_point(value); }
extern "C" ZYL_API int32_t GetFingerPoint(void) { return finger_point(); }

int32_t zyl::api::ZYL_getFormatType(const uint8_t* buffer, int32_t length) {
  if (!buffer || length <= 0) return ZYL_FORMAT_UNKNOWN;
  return static_cast<int32_t>(detect_format(in(buffer, static_cast<std::size_t>(length))));
}

extern "C" ZYL_API int32_t CheckFeaFormat(void) { return 0; }

extern "C" ZYL_API int32_t ZYL_FromNuvelToQXE(const uint8_t* nuvel, int32_t n, QxeIdentifier identifier, uint8_t* out,
                                              int32_t* outLength, QxeInfo info) {
  if (!out || !outLength || (!nuvel && n != 0)) return ZYL_QXE_NULL_ARGUMENT;
  if (n < 0 || static_cast<std::size_t>(n) > kQxeMaxTemplate) return ZYL_QXE_LENGTH_MISMATCH;
  const std::size_t size = static_cast<std::size_t>(n);
  const std::size_t total =
      wrap_qxe(in(nuvel, size), identifier, info, out_of(out, size + kQxeOverhead));
  *outLength = static_cast<int32_t>(total);
  return ZYL_QXE_OK;
}

extern "C" ZYL_API int32_t ZYL_FromQXEToNuvel(const uint8_t* container, int32_t length, uint8_t* out,
                                              int32_t* nuvelLength, QxeInfo* info, QxeIdentifier* identifier) {
  if (!container || !out || !nuvelLength || !info || !identifier) return ZYL_QXE_NULL_ARGUMENT;
  if (length < 0) return ZYL_QXE_LENGTH_MISMATCH;
  QxeContents contents;
  const int32_t status = unwrap_qxe(in(container, static_cast<std::size_t>(length)), contents);
  if (status != ZYL_QXE_OK) return status;
  std::copy(contents.nuvel.begin(), contents.nuvel.end(), out);
  *nuvelLength = static_cast<int32_t>(contents.nuvel.size());
  *info = contents.info;
  *identifier = contents.identifier;
  return ZYL_QXE_OK;
}

int32_t zyl::api::CompressFeatures_ISO(const FeatureRecord* record, uint8_t* out, XWContext*, uint8_t fingerPosition,
                                       int32_t width, int32_t height) {
  if (!record || !out) return kNullArgument;
  return static_cast<int32_t>(write_minutiae_record(MinutiaeRecordKind::Iso, *record,
                                                    out_of(out, ZYL_ISO_RECORD_MAX), fingerPosition,
                                                    width, height));
}

int32_t zyl::api::CompressFeatures_ANSI(const FeatureRecord* record, uint8_t* out, XWContext*, uint8_t fingerPosition,
                                        int32_t width, int32_t height) {
  if (!record || !out) return kNullArgument;
  return static_cast<int32_t>(write_minutiae_record(MinutiaeRecordKind::Ansi, *record,
                                                    out_of(out, ZYL_ANSI_RECORD_MAX),
                                                    fingerPosition, width, height));
}

int32_t zyl::api::ZylISOToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength) {
  return record_to_nuvel(MinutiaeRecordKind::Iso, record, out, outLength);
}

int32_t zyl::api::ZylANSIToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength) {
  return record_to_nuvel(MinutiaeRecordKind::Ansi, record, out, outLength);
}

extern "C" ZYL_API int32_t TerrakTemplateISO(const void* base, int32_t count, int32_t offset, uint8_t* out,
                                             int32_t* outLength, int32_t width, int32_t height, int32_t xResolution,
                                             int32_t yResolution) {
  if (!base || !out || !outLength) return kNullArgument;
  const TypelineEntries e = typeline_entries(base, count, offset);
  *outLength = static_cast<int32_t>(typeline_to_iso(e.span(), out_of(out, kConvertedBufferSize),
                                                    width, height, xResolution, yResolution));
  return 1;
}

extern "C" ZYL_API int32_t TerrakTemplateNuvel(const void* base, int32_t count, int32_t offset, uint8_t* out,
                                               int32_t* outLength) {
  if (!base || !out || !outLength) return kNullArgument;
  const TypelineEntries e = typeline_entries(base, count, offset);
  *outLength = static_cast<int32_t>(typeline_to_nuvel(e.span(), out_of(out, kConvertedBufferSize)));
  return 1;
}

extern "C" ZYL_API int32_t myround(float x) { return round_half_up(x); }

extern "C" ZYL_API int32_t ZYL_Zylfea2IDCardfea(const uint8_t* nuvel, int32_t length, uint8_t* out, uint8_t fingerCode,
                                                uint8_t secondaryCode) {
  if (!nuvel || !out) return kNullArgument;
  const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : kTemplateBufferSize;
  return nuvel_to_idcard(in(nuvel, size), out_of(out, kIdCardSize), fingerCode, secondaryCode);
}

int32_t zyl::api::IDcardfea2Nuvelfea(const uint8_t* card, uint8_t* out) {
  if (!card || !out) return kNullArgument;
  return idcard_to_nuvel(in(card, kIdCardSize), out_of(out, kTemplateBufferSize));
}

int32_t zyl::api::DecompressFeaturesIdcardtoNuvel(const uint8_t* card, FeatureRecord* record, uint8_t* secondaryCode) {
  if (!card || !record || !secondaryCode) return kNullArgument;
  return idcard_to_record(in(card, kIdCardSize), *record, *secondaryCode);
}

extern "C" {

ZYL_API int32_t CompressFeatures(const FeatureRecord* record, uint8_t* out, XWContext* context) {
  return zyl::api::CompressFeatures(record, out, context);
}
ZYL_API int32_t ZYL_getFormatType(const uint8_t* buffer, int32_t length) {
  return zyl::api::ZYL_getFormatType(buffer, length);
}
ZYL_API int32_t ZylISOToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength) {
  return zyl::api::ZylISOToNuvel(record, out, outLength);
}
ZYL_API int32_t ZylANSIToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength) {
  return zyl::api::ZylANSIToNuvel(record, out, outLength);
}
ZYL_API int32_t DecompressFeaturesIdcardtoNuvel(const uint8_t* card, FeatureRecord* record, uint8_t* secondaryCode) {
  return zyl::api::DecompressFeaturesIdcardtoNuvel(card, record, secondaryCode);
}
ZYL_API int32_t DecompressFeatures(const uint8_t* tmpl, FeatureRecord* record) {
  return zyl::api::DecompressFeatures(tmpl, record);
}
ZYL_API int32_t CompressFeatures_ISO(const FeatureRecord* record, uint8_t* out, XWContext* arg2, uint8_t fingerPosition,
                                     int32_t width, int32_t height) {
  return zyl::api::CompressFeatures_ISO(record, out, arg2, fingerPosition, width, height);
}
ZYL_API int32_t CompressFeatures_ANSI(const FeatureRecord* record, uint8_t* out, XWContext* arg2,
                                      uint8_t fingerPosition, int32_t width, int32_t height) {
  return zyl::api::CompressFeatures_ANSI(record, out, arg2, fingerPosition, width, height);
}
ZYL_API int32_t IDcardfea2Nuvelfea(const uint8_t* card, uint8_t* out) {
  return zyl::api::IDcardfea2Nuvelfea(card, out);
}

}  // extern "C"

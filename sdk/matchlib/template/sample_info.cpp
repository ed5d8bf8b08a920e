// Sample information of one impression (the format-86 section) and the
// blob calls that read and replace its view quality.
#include <cstdint>

#include "common/byte_io.h"
#include "matchlib/image/blob.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/template/container.h"
#include "matchlib/template/sample_info.h"

namespace zyl::matchlib {
namespace {

constexpr int kWrittenVersion = 6;
constexpr std::uint32_t kWrittenSize = 31;

// Shortest section each version may be; versions above 6 read as 6.
std::uint32_t min_size(int version) {
  switch (version) {
    case 1: return 8;
    case 2: return 9;
    case 3: return 11;
    case 4:
    case 5: return 19;
    default: return 31;
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::sample_info_read(void* /*context*/, const DataBlob* blob, SampleInfo* out) {
  if (!out) return ML_BAD_ARGUMENT;
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  const int status = zyl::matchlib::tmpl_get_section(blob, SAMPLE_INFO_FORMAT, &data, &length);
  if (status != ML_OK) return status;
  zyl::ByteReader r({data, length});
  const int version = r.u16();
  if (!r.ok()) return ML_TOO_SHORT;
  if (version == 0) return ML_WRONG_KIND;
  if (length < min_size(version)) return ML_TOO_SHORT;
  out->height = r.u16();
  out->width = r.u16();
  out->quality = r.u16();
  if (version <= 3) {
    out->source_height = out->height;
    out->source_width = out->width;
    out->offset_y = 0;
    out->offset_x = 0;
    if (version == 3) {
      r.skip(1);
      out->resolution = r.u16();
    }
    return ML_OK;
  }
  r.skip(1);
  out->resolution = r.u16();
  out->source_height = r.u16();
  out->source_width = r.u16();
  out->offset_y = r.u16();
  out->offset_x = r.u16();
  if (version >= 6) {
    out->finger_attribute = r.u32();
    out->finger_position = r.u32();
    out->finger_value = r.u32();
  }
  return r.ok() ? ML_OK : ML_TOO_SHORT;
}

int zyl::matchlib::sample_info_write(void* /*context*/, const SampleInfo* info, DataBlob** blob) {
  if (!info || !blob) return ML_BAD_ARGUMENT;
  std::uint8_t bytes[kWrittenSize] = {};
  zyl::ByteWriter w(bytes);
  w.u16(kWrittenVersion);
  w.u16(info->height);
  w.u16(info->width);
  w.u16(info->quality);
  w.u8(0);
  w.u16(info->resolution);
  w.u16(info->source_height);
  w.u16(info->source_width);
  w.u16(info->offset_y);
  w.u16(info->offset_x);
  w.u32(info->finger_attribute);
  w.u32(info->finger_position);
  w.u32(info->finger_value);
  DataBlob* out =
      zyl::matchlib::container_put_entry(*blob, SAMPLE_INFO_FORMAT, bytes, kWrittenSize);
  if (!out) return ML_NO_MEMORY;
  *blob = out;
  return ML_OK;
}

uint8_t zyl::matchlib::blob_get_quality(const DataBlob* blob) {
  SampleInfo info{};
  if (!blob || zyl::matchlib::sample_info_read(nullptr, blob, &info) != ML_OK) return 0;
  return static_cast<std::uint8_t>(info.quality & 0xFF);
}

DataBlob* zyl::matchlib::blob_with_quality(DataBlob* blob, uint8_t quality) {
  if (!blob) return nullptr;
  SampleInfo info{};
  if (zyl::matchlib::sample_info_read(nullptr, blob, &info) != ML_OK) return nullptr;
  info.quality = quality;
  // A bare sample-information blob has no other sections to keep: its
  // replacement is a container of the new section alone.
  const bool container = zyl::matchlib::blob_type(blob) == CONTAINER_FORMAT;
  DataBlob* out = container ? blob : nullptr;
  if (zyl::matchlib::sample_info_write(nullptr, &info, &out) != ML_OK) return nullptr;
  if (!container) zyl::matchlib::blob_set_image(out, zyl::matchlib::blob_get_image(blob));
  return out;
}

extern "C" {

ZYL_API int sample_info_read(void* arg0, const DataBlob* blob, SampleInfo* out) {
  return zyl::matchlib::sample_info_read(arg0, blob, out);
}
ZYL_API int sample_info_write(void* arg0, const SampleInfo* info, DataBlob** blob) {
  return zyl::matchlib::sample_info_write(arg0, info, blob);
}
ZYL_API uint8_t blob_get_quality(const DataBlob* blob) {
  return zyl::matchlib::blob_get_quality(blob);
}
ZYL_API DataBlob* blob_with_quality(DataBlob* blob, uint8_t quality) {
  return zyl::matchlib::blob_with_quality(blob, quality);
}

}  // extern "C"

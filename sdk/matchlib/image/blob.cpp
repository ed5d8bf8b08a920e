// The matcher library's data blob.
#include "matchlib/core/allocation.h"
#include "matchlib/image/blob.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/byte_io.h"
#include "zylscan/matchlib_codec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/byte_codec.h"
#include "matchlib/image/grey_image.h"

namespace zyl::matchlib {
namespace {

GrayImage* retain_image(GrayImage* image) {
  if (image) zyl::matchlib::image_retain(image);
  return image;
}

void release_image(GrayImage* image) {
  if (image) zyl::matchlib::image_release(image);
}

DataBlob* new_header(std::size_t extra) {
  void* mem = ml_malloc(sizeof(DataBlob) + extra);
  if (!mem) return nullptr;
  return new (mem) DataBlob{1, nullptr, 0, 0, nullptr, 0, nullptr, nullptr};
}

// Inline form: one allocation holds the header and, from the first 16-byte
// boundary after it, the payload.
DataBlob* new_inline(std::int32_t format, const void* data, std::uint32_t length) {
  if (!data && length) return nullptr;
  DataBlob* b = new_header(std::size_t{length} + 16);
  if (!b) return nullptr;
  auto after = reinterpret_cast<std::uintptr_t>(b + 1);
  b->data = reinterpret_cast<std::uint8_t*>((after + 15) & ~std::uintptr_t{15});
  if (length) std::memcpy(b->data, data, length);
  b->length = length;
  b->format = format;
  return b;
}

constexpr std::pair<std::int32_t, std::int32_t> kTypeAliases[] = {
    {5, 2}, {4, 1}, {6, 3}, {73, 67}, {74, 67}};

}  // namespace

std::size_t read_blob(std::span<const std::uint8_t> in, Ref<DataBlob>& out) {
  out.reset();
  ByteReader r(in);
  const std::uint8_t marker = r.u8();
  if (!r.ok()) return 0;
  if (marker == 0) return 1;
  const std::uint8_t code = r.u8();
  const std::uint32_t length = r.u32();
  const auto payload = r.view(length);
  if (!r.ok()) return 0;
  void* copy = nullptr;
  if (zyl::matchlib::bytes_dup(&copy, payload.data(), length) != ML_OK) return 0;
  DataBlob* b = zyl::matchlib::blob_wrap(code, copy, length, 1, free_callback, copy);
  if (!b) {
    std::free(copy);
    return 0;
  }
  out = Ref<DataBlob>::adopt(b);
  return 6 + std::size_t{length};
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

DataBlob* zyl::matchlib::blob_create(int32_t format, const void* data, uint32_t length) {
  return new_inline(format, data, length);
}

extern "C" ZYL_API DataBlob* blob_view(int32_t format, const void* data, uint32_t length) {
  if (!data && length) return nullptr;
  DataBlob* b = new_header(0);
  if (!b) return nullptr;
  b->data = static_cast<std::uint8_t*>(const_cast<void*>(data));
  b->length = length;
  b->format = format;
  b->borrowed = 1;
  return b;
}

DataBlob* zyl::matchlib::blob_wrap(int32_t format, void* data, uint32_t length, int owns,
                                   BlobReleaseRoutine release, void* user) {
  if (!data && length) return nullptr;
  DataBlob* b = new_header(0);
  if (!b) return nullptr;
  b->data = static_cast<std::uint8_t*>(data);
  b->length = length;
  b->format = format;
  b->borrowed = owns ? 0 : 1;
  b->release = release;
  b->user = user;
  return b;
}

DataBlob* zyl::matchlib::blob_copy(const DataBlob* blob) {
  if (!blob) return nullptr;
  DataBlob* b = new_inline(blob->format, blob->data, blob->length);
  if (b) b->image = retain_image(blob->image);
  return b;
}

DataBlob* zyl::matchlib::blob_retain(DataBlob* blob) {
  if (blob) ++blob->refcount;
  return blob;
}

void zyl::matchlib::blob_release(DataBlob* blob) {
  if (!blob) return;
  if (blob->refcount-- != 1) return;
  if (blob->release) blob->release(blob->user);
  release_image(blob->image);
  blob->~DataBlob();
  std::free(blob);
}

extern "C" ZYL_API uint32_t blob_refcount(const DataBlob* blob) {
  return blob ? blob->refcount : 0;
}

extern "C" ZYL_API int blob_equal(const DataBlob* a, const DataBlob* b) {
  if (a == b) return 1;
  if (!a || !b) return 0;
  if (a->length != b->length || a->format != b->format) return 0;
  return std::ranges::equal(blob_bytes(a), blob_bytes(b)) ? 1 : 0;
}

int32_t zyl::matchlib::blob_type(const DataBlob* blob) {
  if (!blob) return 0;
  for (auto [stored, answered] : kTypeAliases)
    if (blob->format == stored) return answered;
  return blob->format;
}

extern "C" ZYL_API void blob_set_type(DataBlob* blob, int32_t format) {
  if (blob) blob->format = format;
}

uint8_t* zyl::matchlib::blob_data(const DataBlob* blob) { return blob ? blob->data : nullptr; }

uint32_t zyl::matchlib::blob_size(const DataBlob* blob) { return blob ? blob->length : 0; }

void zyl::matchlib::blob_set_image(DataBlob* blob, GrayImage* image) {
  if (!blob || blob->image == image) return;
  GrayImage* old = blob->image;
  blob->image = retain_image(image);
  release_image(old);
}

GrayImage* zyl::matchlib::blob_get_image(const DataBlob* blob) {
  return blob ? blob->image : nullptr;
}

int zyl::matchlib::blob_owns_data(const DataBlob* blob) {
  return blob && blob->borrowed == 0 ? 1 : 0;
}

extern "C" ZYL_API void blob_set_owns_data(DataBlob* blob, int owns) {
  if (blob) blob->borrowed = owns ? 0 : 1;
}

uint32_t zyl::matchlib::blob_write(uint8_t* out, const DataBlob* blob) {
  if (!blob) return static_cast<uint32_t>(zyl::matchlib::bytes_write_u8(out, 0));
  uint32_t size = 0;
  size += zyl::matchlib::bytes_write_u8(nullptr, 1);
  size += zyl::matchlib::bytes_write_u8(nullptr, blob->format);
  size += zyl::matchlib::bytes_write_be32(nullptr, blob->length);
  size += zyl::matchlib::bytes_write_raw(nullptr, blob->data, blob->length);
  if (out) {
    uint8_t* p = out;
    p += zyl::matchlib::bytes_write_u8(p, 1);
    p += zyl::matchlib::bytes_write_u8(p, blob->format & 0xFF);
    p += zyl::matchlib::bytes_write_be32(p, blob->length);
    zyl::matchlib::bytes_write_raw(p, blob->data, blob->length);
  }
  return size;
}

extern "C" ZYL_API uint32_t blob_read(const uint8_t* in, DataBlob** out) {
  if (out) *out = nullptr;
  if (!in || !out) return 0;
  // The caller vouches for the marker, the header and the payload, which
  // gives the extent of the bytes to read.
  std::size_t extent = in[0] == 0 ? 1 : 6 + std::size_t{zyl::matchlib::bytes_read_be32(in + 2)};
  Ref<DataBlob> blob;
  const std::size_t used = read_blob(std::span<const std::uint8_t>(in, extent), blob);
  *out = blob.release();
  return static_cast<uint32_t>(used);
}

uint32_t zyl::matchlib::blob_read_bounded(const uint8_t* in, uint32_t available, DataBlob** out) {
  if (out) *out = nullptr;
  if (!in || !out) return 0;
  Ref<DataBlob> blob;
  const std::size_t used = read_blob(std::span<const std::uint8_t>(in, available), blob);
  *out = blob.release();
  return static_cast<uint32_t>(used);
}

extern "C" {

ZYL_API DataBlob* blob_create(int32_t format, const void* data, uint32_t length) {
  return zyl::matchlib::blob_create(format, data, length);
}
ZYL_API DataBlob* blob_wrap(int32_t format, void* data, uint32_t length, int owns,
                            BlobReleaseRoutine release, void* user) {
  return zyl::matchlib::blob_wrap(format, data, length, owns, release, user);
}
ZYL_API DataBlob* blob_copy(const DataBlob* blob) { return zyl::matchlib::blob_copy(blob); }
ZYL_API DataBlob* blob_retain(DataBlob* blob) { return zyl::matchlib::blob_retain(blob); }
ZYL_API void blob_release(DataBlob* blob) { zyl::matchlib::blob_release(blob); }
ZYL_API int32_t blob_type(const DataBlob* blob) { return zyl::matchlib::blob_type(blob); }
ZYL_API uint8_t* blob_data(const DataBlob* blob) { return zyl::matchlib::blob_data(blob); }
ZYL_API uint32_t blob_size(const DataBlob* blob) { return zyl::matchlib::blob_size(blob); }
ZYL_API void blob_set_image(DataBlob* blob, GrayImage* image) {
  zyl::matchlib::blob_set_image(blob, image);
}
ZYL_API GrayImage* blob_get_image(const DataBlob* blob) {
  return zyl::matchlib::blob_get_image(blob);
}
ZYL_API int blob_owns_data(const DataBlob* blob) { return zyl::matchlib::blob_owns_data(blob); }
ZYL_API uint32_t blob_write(uint8_t* out, const DataBlob* blob) {
  return zyl::matchlib::blob_write(out, blob);
}
ZYL_API uint32_t blob_read_bounded(const uint8_t* in, uint32_t available, DataBlob** out) {
  return zyl::matchlib::blob_read_bounded(in, available, out);
}

}  // extern "C"

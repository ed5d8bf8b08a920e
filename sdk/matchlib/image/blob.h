// Internal face of the data blob: its record and a bounded reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_blob.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

DataBlob* blob_create(int32_t format, const void* data, uint32_t length);
DataBlob* blob_wrap(int32_t format, void* data, uint32_t length, int owns,
                    BlobReleaseRoutine release, void* user);
DataBlob* blob_copy(const DataBlob* blob);
DataBlob* blob_retain(DataBlob* blob);
void blob_release(DataBlob* blob);
int32_t blob_type(const DataBlob* blob);
uint8_t* blob_data(const DataBlob* blob);
uint32_t blob_size(const DataBlob* blob);
void blob_set_image(DataBlob* blob, GrayImage* image);
GrayImage* blob_get_image(const DataBlob* blob);
int blob_owns_data(const DataBlob* blob);
uint32_t blob_write(uint8_t* out, const DataBlob* blob);
uint32_t blob_read_bounded(const uint8_t* in, uint32_t available, DataBlob** out);

}  // namespace zyl::matchlib

struct DataBlob {
  std::uint32_t refcount;
  std::uint8_t* data;
  std::uint32_t length;
  std::int32_t format;
  GrayImage* image;
  std::uint32_t borrowed;
  BlobReleaseRoutine release;
  void* user;
};

namespace zyl::matchlib {

template <>
struct RefTraits<DataBlob> {
  static void retain(DataBlob* b) { zyl::matchlib::blob_retain(b); }
  static void release(DataBlob* b) { zyl::matchlib::blob_release(b); }
};

inline std::span<const std::uint8_t> blob_bytes(const DataBlob* b) {
  return b ? std::span<const std::uint8_t>(b->data, b->length) : std::span<const std::uint8_t>{};
}

// Reads one serialised blob from the front of `in`. Answers the bytes
// consumed (1 for "no blob", 6 + L for a blob, stored in `out`), or 0 with
// `out` empty when the input is too short or memory runs out.
std::size_t read_blob(std::span<const std::uint8_t> in, Ref<DataBlob>& out);

}  // namespace zyl::matchlib

// Internal face of the data blob: its record and a bounded reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_blob.h"

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
  static void retain(DataBlob* b) { blob_retain(b); }
  static void release(DataBlob* b) { blob_release(b); }
};

inline std::span<const std::uint8_t> blob_bytes(const DataBlob* b) {
  return b ? std::span<const std::uint8_t>(b->data, b->length) : std::span<const std::uint8_t>{};
}

// Reads one serialised blob from the front of `in`. Answers the bytes
// consumed (1 for "no blob", 6 + L for a blob, stored in `out`), or 0 with
// `out` empty when the input is too short or memory runs out.
std::size_t read_blob(std::span<const std::uint8_t> in, Ref<DataBlob>& out);

}  // namespace zyl::matchlib

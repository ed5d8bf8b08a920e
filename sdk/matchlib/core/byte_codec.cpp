// The matcher library's byte-order codec. The pointer-based readers and
// writers are the library's C face; underneath, every conversion and every
// chain walk goes through the SDK's bounded ByteReader/ByteWriter.
#include <bit>
#include <cstdlib>
#include <cstring>
#include <span>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_codec.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/byte_codec.h"

namespace zyl::matchlib {
namespace {

template <std::size_t N>
std::uint32_t read_be(const std::uint8_t* p) {
  ByteReader r(std::span<const std::uint8_t>(p, N));
  if constexpr (N == 1) return r.u8();
  if constexpr (N == 2) return r.u16();
  if constexpr (N == 4) return r.u32();
}

template <std::size_t N>
int write_be(std::uint8_t* out, std::uint32_t v) {
  if (out) {
    ByteWriter w(std::span<std::uint8_t>(out, N));
    if constexpr (N == 1) w.u8(v);
    if constexpr (N == 2) w.u16(v);
    if constexpr (N == 4) w.u32(v);
  }
  return static_cast<int>(N);
}

// One chain walker for both header forms: Header6 holds the total block
// length, Header4 the body length.
template <bool Header6>
int dispatch_chain(void* target, const BlockHandler* table, const std::uint8_t* buffer,
                   std::uint32_t length, void* user) {
  if (!target || !table || !buffer) return ML_BAD_ARGUMENT;
  const std::span<const std::uint8_t> chain(buffer, length);
  constexpr std::size_t header = Header6 ? 6 : 4;

  // Extent of the block at pos, or 0 when it does not fit. Both forms demand
  // six bytes at the start of a block, so a 4-byte-header chain cannot end in
  // a block whose body is shorter than 2 bytes.
  auto extent_at = [&](std::size_t pos) -> std::size_t {
    ByteReader r(chain.subspan(pos));
    if (r.remaining() < 6) return 0;
    r.u16();
    const std::size_t extent = Header6 ? r.u32() : std::size_t{r.u16()} + 4;
    if (extent < header || extent > r.size()) return 0;
    return extent;
  };

  for (std::size_t pos = 0; pos < chain.size();) {
    const std::size_t extent = extent_at(pos);
    if (extent == 0) return ML_CORRUPT;
    pos += extent;
  }
  for (std::size_t pos = 0; pos < chain.size();) {
    const std::size_t extent = extent_at(pos);
    const std::uint16_t type = ByteReader(chain.subspan(pos, 2)).u16();
    for (const BlockHandler* h = table; h->routine; ++h) {
      if (h->type != type) continue;
      const int status = h->routine(target, buffer + pos + header,
                                    static_cast<std::uint32_t>(extent - header), user, buffer + pos);
      if (status != ML_OK) return status;
      break;
    }
    pos += extent;
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API uint8_t bytes_read_u8(const uint8_t* p) {
  return static_cast<uint8_t>(read_be<1>(p));
}
int zyl::matchlib::bytes_write_u8(uint8_t* out, int value) {
  return write_be<1>(out, static_cast<uint32_t>(value));
}
uint16_t zyl::matchlib::bytes_read_be16(const uint8_t* p) {
  return static_cast<uint16_t>(read_be<2>(p));
}
extern "C" ZYL_API uint16_t bytes_read_be16_alt(const uint8_t* p) {
  return zyl::matchlib::bytes_read_be16(p);
}
int zyl::matchlib::bytes_write_be16(uint8_t* out, int value) {
  return write_be<2>(out, static_cast<uint32_t>(value));
}
extern "C" ZYL_API int bytes_write_be16(uint8_t* out, int value) {
  return zyl::matchlib::bytes_write_be16(out, value);
}
extern "C" ZYL_API int bytes_write_be16_alt(uint8_t* out, int value) {
  return zyl::matchlib::bytes_write_be16(out, value);
}
uint32_t zyl::matchlib::bytes_read_be32(const uint8_t* p) { return read_be<4>(p); }
extern "C" ZYL_API uint32_t bytes_read_be32_alt(const uint8_t* p) {
  return zyl::matchlib::bytes_read_be32(p);
}
int zyl::matchlib::bytes_write_be32(uint8_t* out, uint32_t value) {
  return write_be<4>(out, value);
}
extern "C" ZYL_API int bytes_write_be32_alt(uint8_t* out, uint32_t value) {
  return zyl::matchlib::bytes_write_be32(out, value);
}
extern "C" ZYL_API float bytes_read_be_f32(const uint8_t* p) {
  return std::bit_cast<float>(read_be<4>(p));
}
extern "C" ZYL_API int bytes_write_be_f32(uint8_t* out, float value) {
  return write_be<4>(out, std::bit_cast<uint32_t>(value));
}

uint32_t zyl::matchlib::bytes_write_raw(uint8_t* out, const void* src, uint32_t n) {
  if (out && src && n) std::memcpy(out, src, n);
  return n;
}

int zyl::matchlib::bytes_dup(void** out, const void* src, uint32_t n) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!src && n) return ML_BAD_ARGUMENT;
  // A copy of zero bytes is still a block the caller can free.
  void* copy = ml_malloc(n ? n : 1);
  if (!copy) return ML_NO_MEMORY;
  if (n) std::memcpy(copy, src, n);
  *out = copy;
  return ML_OK;
}

extern "C" ZYL_API int block_write_header6(uint8_t* out, int type, uint32_t total_length) {
  if (out) {
    write_be<2>(out, static_cast<uint32_t>(type));
    write_be<4>(out + 2, total_length);
  }
  return 6;
}

extern "C" ZYL_API int block_write_header4(uint8_t* out, int type, int total_length) {
  if (out) {
    write_be<2>(out, static_cast<uint32_t>(type));
    write_be<2>(out + 2, static_cast<uint32_t>(total_length - 4));
  }
  return 4;
}

int zyl::matchlib::blocks_dispatch6(void* target, const BlockHandler* table, const uint8_t* buffer,
                                    uint32_t length, void* user) {
  return dispatch_chain<true>(target, table, buffer, length, user);
}

int zyl::matchlib::blocks_dispatch4(void* target, const BlockHandler* table, const uint8_t* buffer,
                                    uint32_t length, void* user) {
  return dispatch_chain<false>(target, table, buffer, length, user);
}

extern "C" ZYL_API void codec_noop(void) {}

extern "C" {

ZYL_API int bytes_write_u8(uint8_t* out, int value) {
  return zyl::matchlib::bytes_write_u8(out, value);
}
ZYL_API uint16_t bytes_read_be16(const uint8_t* p) { return zyl::matchlib::bytes_read_be16(p); }
ZYL_API uint32_t bytes_read_be32(const uint8_t* p) { return zyl::matchlib::bytes_read_be32(p); }
ZYL_API int bytes_write_be32(uint8_t* out, uint32_t value) {
  return zyl::matchlib::bytes_write_be32(out, value);
}
ZYL_API uint32_t bytes_write_raw(uint8_t* out, const void* src, uint32_t n) {
  return zyl::matchlib::bytes_write_raw(out, src, n);
}
ZYL_API int bytes_dup(void** out, const void* src, uint32_t n) {
  return zyl::matchlib::bytes_dup(out, src, n);
}
ZYL_API int blocks_dispatch6(void* target, const BlockHandler* table, const uint8_t* buffer,
                             uint32_t length, void* user) {
  return zyl::matchlib::blocks_dispatch6(target, table, buffer, length, user);
}
ZYL_API int blocks_dispatch4(void* target, const BlockHandler* table, const uint8_t* buffer,
                             uint32_t length, void* user) {
  return zyl::matchlib::blocks_dispatch4(target, table, buffer, length, user);
}

}  // extern "C"

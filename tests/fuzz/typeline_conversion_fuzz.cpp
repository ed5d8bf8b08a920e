// The type-line template's section readers and the conversions of type-line
// minutiae into ISO records and native templates, on arbitrary bytes with a
// caller-given count and offset: no read past the input or the record, no
// write past the 1024-byte output; the converted templates read back.
//
// Input: a count byte (signed), an offset byte pair (16-bit little endian,
// signed), then the bytes of a type-line record (zero-padded to its size)
// which also serve as the section bodies for the unpackers.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "api/iso_ansi_record.h"
#include "api/nuvel_codec.h"
#include "common/byte_io.h"
#include "fuzz_check.h"
#include "typeline/template_codec.h"
#include "zylscan/minutiae_record.h"
#include "zylscan/typeline_template.h"

namespace {

namespace tl = zyl::typeline;
using zyl::test::require;

void unpack_sections(std::span<const std::uint8_t> body) {
  // The bounded readers take exactly the input's bytes.
  {
    zyl::ByteReader r(body);
    std::array<std::int16_t, 8> values{};
    tl::unpack_type_lines(r, values);
  }
  {
    zyl::ByteReader r(body);
    auto grid = std::make_unique<TypelineBlockGrid>();
    const tl::GridRead read = tl::unpack_block_grid(r, *grid);
    if (read == tl::GridRead::TooLarge) require(grid->rows == 0 || grid->columns == 0);
    require(grid->rows * grid->columns <= TYPELINE_MAX_BLOCKS);
  }
  {
    zyl::ByteReader r(body);
    TypelineSingularList points{};
    bool complete = true;
    tl::unpack_singular_points(r, points, &complete);
    require(points.count >= 0 && points.count <= TYPELINE_MAX_SINGULAR_POINTS);
  }
  // The exported unpackers read as far as their own first bytes say: call
  // them only when the input holds that extent.
  if (body.size() >= 9) {
    std::array<std::int16_t, 8> values{};
    decomp_typeline(body.data(), values.data());
  }
  if (body.size() >= 2) {
    const int cells = body[0] * body[1];
    const std::size_t extent = 2 + (cells <= TYPELINE_MAX_BLOCKS ? cells / 2 : 0);
    if (body.size() >= extent) {
      auto grid = std::make_unique<TypelineBlockGrid>();
      decomp_block(body.data(), grid.get());
    }
  }
  if (!body.empty()) {
    const int n = std::clamp<int>(static_cast<std::int8_t>(body[0]), 0, TYPELINE_MAX_SINGULAR_POINTS);
    if (body.size() >= static_cast<std::size_t>(1 + 4 * n)) {
      TypelineSingularList points{};
      decomp_core(body.data(), &points);
      require(points.count >= 0 && points.count <= TYPELINE_MAX_SINGULAR_POINTS);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int count = static_cast<std::int8_t>(data[0]);
  const int offset = static_cast<std::int16_t>(data[1] | data[2] << 8);
  const std::span<const std::uint8_t> body(data + 3, size - 3);
  unpack_sections(body);

  auto record = std::make_unique<TypelineRecord>();
  std::memset(record.get(), 0, sizeof *record);
  std::memcpy(record.get(), body.data(), std::min(body.size(), sizeof *record));

  auto record_out = std::make_unique<FeatureRecord>();
  std::vector<std::uint8_t> out(zyl::api::kConvertedBufferSize);
  std::int32_t length = -1;
  require(TerrakTemplateNuvel(record.get(), count, offset, out.data(), &length) == 1);
  require(length >= 0 && static_cast<std::size_t>(length) <= out.size());
  require(zyl::api::decompress_features(std::span<const std::uint8_t>(out.data(), length), *record_out) == length);
  require(record_out->minutiaCount <= zyl::api::kRecordReadMinutiae);

  length = -1;
  require(TerrakTemplateISO(record.get(), count, offset, out.data(), &length, 256 + data[0], 300, 197, 197) == 1);
  require(length >= 0 && static_cast<std::size_t>(length) <= out.size());
  std::array<std::uint8_t, zyl::api::kConvertedBufferSize> nuvel{};
  const int back = zyl::api::minutiae_record_to_nuvel(zyl::api::MinutiaeRecordKind::Iso,
                                                     std::span<const std::uint8_t>(out.data(), length), nuvel);
  require(back >= 0);
  return 0;
}

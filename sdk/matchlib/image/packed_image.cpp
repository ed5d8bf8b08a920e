// Packed image record (template type 71) and the C3 image-information
// element of the extended card template.
#include <cstdlib>
#include <cstring>

#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/packed_image.h"

using zyl::matchlib::ml_malloc;

namespace {

constexpr std::uint8_t kPackedMagic[4] = {'K', 'W', 'I', 'M'};
constexpr std::size_t kPackedHead = 15;

}  // namespace

int zyl::matchlib::card_parse_image_info(const uint8_t* value, uint32_t length, uint16_t* rows,
                                         uint16_t* columns, uint8_t* flag) {
  if (!rows || !columns || !flag || (!value && length)) return ML_BAD_ARGUMENT;
  *rows = 0;
  *columns = 0;
  *flag = 0;
  zyl::ByteReader r({value, length}, zyl::Endian::Little);
  if (length < 5 || r.u8() != 1) return ML_UNAVAILABLE;
  *rows = r.u16();
  *columns = r.u16();
  if (r.has(1)) *flag = r.u8();
  return ML_OK;
}

int zyl::matchlib::packed_image_write(const uint8_t* pixels, uint16_t rows, uint16_t columns,
                                      uint16_t horizontal_dpi, uint16_t vertical_dpi, uint8_t flag,
                                      uint8_t** out, uint32_t* out_size) {
  const std::size_t n = static_cast<std::size_t>(rows) * columns;
  if (!out || !out_size || (!pixels && n)) return ML_BAD_ARGUMENT;
  const std::size_t size = kPackedHead + n;
  auto* record = static_cast<std::uint8_t*>(ml_malloc(size));
  if (!record) return ML_NO_MEMORY;
  zyl::ByteWriter w({record, size});
  w.bytes(kPackedMagic, 4);
  w.u16(1);
  w.u16(rows);
  w.u16(columns);
  w.u16(vertical_dpi);
  w.u16(horizontal_dpi);
  w.u8(flag);
  w.bytes(pixels, n);
  *out = record;
  *out_size = static_cast<std::uint32_t>(size);
  return ML_OK;
}

int zyl::matchlib::packed_image_read(const uint8_t* record, uint32_t length, const uint8_t** pixels,
                                     uint16_t* rows, uint16_t* columns, uint16_t* horizontal_dpi,
                                     uint16_t* vertical_dpi, uint8_t* flag) {
  if (!record || !pixels || !rows || !columns || !horizontal_dpi || !vertical_dpi || !flag)
    return ML_BAD_ARGUMENT;
  zyl::ByteReader r({record, length});
  std::uint8_t magic[4] = {};
  r.bytes(magic, 4);
  const std::uint16_t version = r.u16();
  const std::uint16_t h = r.u16();
  const std::uint16_t w = r.u16();
  const std::uint16_t vdpi = r.u16();
  const std::uint16_t hdpi = r.u16();
  const std::uint8_t f = r.u8();
  if (!r.ok() || std::memcmp(magic, kPackedMagic, 4) != 0 || version != 1 ||
      r.remaining() != static_cast<std::size_t>(h) * w)
    return ML_UNAVAILABLE;
  *pixels = record + kPackedHead;
  *rows = h;
  *columns = w;
  *horizontal_dpi = hdpi;
  *vertical_dpi = vdpi;
  *flag = f;
  return ML_OK;
}

extern "C" {

ZYL_API int card_parse_image_info(const uint8_t* value, uint32_t length, uint16_t* rows,
                                  uint16_t* columns, uint8_t* flag) {
  return zyl::matchlib::card_parse_image_info(value, length, rows, columns, flag);
}
ZYL_API int packed_image_write(const uint8_t* pixels, uint16_t rows, uint16_t columns,
                               uint16_t horizontal_dpi, uint16_t vertical_dpi, uint8_t flag,
                               uint8_t** out, uint32_t* out_size) {
  return zyl::matchlib::packed_image_write(pixels, rows, columns, horizontal_dpi, vertical_dpi,
                                           flag, out, out_size);
}
ZYL_API int packed_image_read(const uint8_t* record, uint32_t length, const uint8_t** pixels,
                              uint16_t* rows, uint16_t* columns, uint16_t* horizontal_dpi,
                              uint16_t* vertical_dpi, uint8_t* flag) {
  return zyl::matchlib::packed_image_read(record, length, pixels, rows, columns, horizontal_dpi,
                                          vertical_dpi, flag);
}

}  // extern "C"

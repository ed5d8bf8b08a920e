// Layout facts of the standard minutiae records shared by their builders,
// parsers and extended-block routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/byte_io.h"

namespace zyl::matchlib {

// Field offsets of the four standard record forms, from the start of the
// record. Every record opens with the magic "FMR\0" and a four-byte version
// (" 20\0" or "030\0"); the length field follows at byte 8.
struct FmrCommon {
  static constexpr std::size_t magic = 0;
  static constexpr std::size_t version = 4;
  static constexpr std::size_t length = 8;
};

// ISO 2005 (" 20"): one fixed header, then the minutiae.
struct Iso2005Fields {
  static constexpr std::size_t length = 8;  // u32
  static constexpr std::size_t width = 14;
  static constexpr std::size_t height = 16;
  static constexpr std::size_t x_resolution = 18;
  static constexpr std::size_t view_count = 22;
  static constexpr std::size_t finger_position = 24;  // first view header
  static constexpr std::size_t impression_type = 25;  // low 4 bits
  static constexpr std::size_t finger_quality = 26;
  static constexpr std::size_t minutia_count = 27;
  static constexpr std::size_t minutiae = 28;
};

// ANSI 2004 (" 20"): a 16-bit length and the product id before the image
// size; each view header is 4 bytes from the finger position on.
struct Ansi2004Fields {
  static constexpr std::size_t length = 8;  // u16
  static constexpr std::size_t product_id = 10;
  static constexpr std::size_t width = 16;
  static constexpr std::size_t height = 18;
  static constexpr std::size_t x_resolution = 20;
  static constexpr std::size_t view_count = 24;
  static constexpr std::size_t first_view = 26;  // finger position, then the view's fields
  static constexpr std::size_t finger_position = 26;
  static constexpr std::size_t impression_type = 27;  // low 4 bits
  static constexpr std::size_t finger_quality = 28;
  static constexpr std::size_t minutia_count = 29;
  static constexpr std::size_t minutiae = 30;
};

// ANSI 2009 ("030"): a 32-bit length whose low half (byte 10) is what the
// readers take, the view header from byte 21 with the image size inside it.
struct Ansi2009Fields {
  static constexpr std::size_t length = 8;        // u32
  static constexpr std::size_t length_low = 10;   // u16, the length as read
  static constexpr std::size_t product_id = 12;
  static constexpr std::size_t view_count = 19;
  static constexpr std::size_t first_view = 21;  // finger position, then the view's fields
  static constexpr std::size_t finger_position = 21;
  static constexpr std::size_t impression_type = 23;  // a whole byte
  static constexpr std::size_t finger_quality = 24;
  static constexpr std::size_t width = 29;
  static constexpr std::size_t height = 31;
  static constexpr std::size_t x_resolution = 33;
  static constexpr std::size_t minutia_count = 37;
  static constexpr std::size_t minutiae = 38;
};

// ISO 2011 ("030"): a general header, then one finger representation whose
// start P follows variable quality and certification blocks (see
// iso2011_body_start). The representation's fields are offsets from P.
struct Iso2011Fields {
  static constexpr std::size_t length = 8;  // u32
  static constexpr std::size_t representation_count = 12;  // u16
  static constexpr std::size_t certification_flag = 14;
  static constexpr std::size_t first_representation = 15;  // its u32 length first
  static constexpr std::size_t product_id = 29;
  static constexpr std::size_t quality_count = 33;
  static constexpr std::size_t first_quality = 34;  // 5 bytes a quality record
  static constexpr std::size_t quality_record = 5;
  static constexpr std::size_t certification_record = 3;
  // From P:
  static constexpr std::size_t finger_position = 0;
  static constexpr std::size_t x_resolution = 2;
  static constexpr std::size_t impression_type = 6;
  static constexpr std::size_t width = 7;
  static constexpr std::size_t height = 9;
  static constexpr std::size_t entry_size = 11;  // high 4 bits: bytes a minutia
  static constexpr std::size_t minutia_count = 12;
  static constexpr std::size_t minutiae = 13;
};

// 20 for a " 20" record, 30 for a "030" record (byte 4 may be ' ' or '0'),
// 0 for anything else, including a wrong "FMR" magic or a short buffer.
int fmr_version_of(std::span<const std::uint8_t> bytes);

// Start P of the finger representation body of an ISO 2011 record: after
// the quality records (byte 33 counts them, 5 bytes each) and, when the
// certification flag (byte 14) is set, the certification records (byte P
// counts them, 3 bytes each). The caller checks the reader's ok().
std::size_t iso2011_body_start(ByteReader& r);

// Offset of the u16 extended data area length of an ISO record (" 20" read
// as ISO 2005, "030" as ISO 2011), when the area length lies within the
// bytes.
std::optional<std::size_t> fmr_ext_offset(std::span<const std::uint8_t> bytes);

}  // namespace zyl::matchlib

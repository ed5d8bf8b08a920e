// Layout facts of the standard minutiae records shared by their builders,
// parsers and extended-block routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/byte_io.h"

namespace zyl::matchlib {

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

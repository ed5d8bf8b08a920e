// ISO/IEC 19794-2 and ANSI INCITS 378 finger minutiae records as the library
// writes and reads them, and the conversions from type-line minutiae.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "zylscan/feature_record.h"

struct TypelineMinutia;

namespace zyl::api {

enum class MinutiaeRecordKind { Iso, Ansi };

inline constexpr std::size_t kMinutiaEntrySize = 6;
inline constexpr int kRecordMaxMinutiae = 100;
// Entries of a record that take part in the conversion to a native template.
inline constexpr int kRecordReadMinutiae = 90;
inline constexpr std::size_t kConvertedBufferSize = 1024;

// Writes the record of a feature record's minutiae; returns its length, 0
// when out is too small.
std::size_t write_minutiae_record(MinutiaeRecordKind kind, const FeatureRecord& record,
                                  std::span<std::uint8_t> out, std::uint8_t fingerPosition,
                                  int width, int height);

// Reads a record into a native template. Returns the template length, or
// kBadTemplate when the data is not a record, the minutiae run past the
// record's length field or past the data, or out is too small.
int minutiae_record_to_nuvel(MinutiaeRecordKind kind, std::span<const std::uint8_t> record,
                             std::span<std::uint8_t> out);

// The smallest prefix of an unsized record the reader may need: the header
// and the first 90 minutiae.
std::size_t minutiae_record_read_limit(MinutiaeRecordKind kind);

// Record angle bytes <-> the 240-step unit.
std::uint8_t angle_to_record_byte(MinutiaeRecordKind kind, int angle);
int record_byte_to_angle(MinutiaeRecordKind kind, std::uint8_t byte);

// Type-line minutiae (the first min(count, 90) entries) to an ISO record or a
// native template; out is cleared to 1024 bytes first. Return the length.
std::size_t typeline_to_iso(std::span<const TypelineMinutia> entries, std::span<std::uint8_t> out,
                            int width, int height, int xResolution, int yResolution);
std::size_t typeline_to_nuvel(std::span<const TypelineMinutia> entries,
                              std::span<std::uint8_t> out);

int round_half_up(float x);

}  // namespace zyl::api

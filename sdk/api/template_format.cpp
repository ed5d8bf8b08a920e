#include "api/template_format.h"

#include <cstring>

#include "common/byte_io.h"

namespace zyl::api {

namespace {

constexpr std::size_t kIdCardSize = 512;

bool starts_with(std::span<const std::uint8_t> data, const char (&magic)[4]) {
  return data.size() >= 3 && std::memcmp(data.data(), magic, 3) == 0;
}

// The record length field agrees with the minutiae count: header bytes
// plus six per minutia. Reads nothing past the data.
bool length_matches(std::span<const std::uint8_t> data, std::size_t countAt, std::size_t lengthAt,
                    unsigned headerBytes) {
  ByteReader r(data);
  r.seek(countAt);
  const unsigned count = r.u8();
  r.seek(lengthAt);
  const unsigned length = r.u16();
  return r.ok() && count * 6 + headerBytes == length;
}

}  // namespace

TemplateFormat detect_format(std::span<const std::uint8_t> data) {
  if (data.empty()) return TemplateFormat::Unknown;
  if (starts_with(data, "QXE")) return TemplateFormat::Qxe;
  // A native template's flag byte is below 8.
  if (data[0] < 0x20) return TemplateFormat::Nuvel;
  if (data[0] == 'C')
    return data.size() == kIdCardSize ? TemplateFormat::IdCard : TemplateFormat::Unknown;
  if (starts_with(data, "FMR")) {
    if (length_matches(data, 27, 10, 30)) return TemplateFormat::Iso;
    if (length_matches(data, 29, 8, 32)) return TemplateFormat::Ansi;
  }
  return TemplateFormat::Unknown;
}

}  // namespace zyl::api

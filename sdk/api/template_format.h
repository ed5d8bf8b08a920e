// Format detection of incoming templates and the QXE container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "zylscan/template_format.h"

namespace zyl::api {

enum class TemplateFormat : std::int32_t {
  Qxe = ZYL_FORMAT_QXE,
  Nuvel = ZYL_FORMAT_NUVEL,
  Iso = ZYL_FORMAT_ISO,
  IdCard = ZYL_FORMAT_IDCARD,
  Ansi = ZYL_FORMAT_ANSI,
  Unknown = ZYL_FORMAT_UNKNOWN,
};

TemplateFormat detect_format(std::span<const std::uint8_t> data);

inline constexpr std::size_t kQxeHeaderSize = 25;
inline constexpr std::size_t kQxeOverhead = ZYL_QXE_OVERHEAD;
inline constexpr std::size_t kQxeMaxTemplate = ZYL_QXE_MAX_TEMPLATE;

enum QxeStatus : std::int32_t {
  kQxeOk = ZYL_QXE_OK,
  kQxeCrcMismatch = ZYL_QXE_CRC_MISMATCH,
  kQxeLengthMismatch = ZYL_QXE_LENGTH_MISMATCH,
};

// Writes the container of a template into out (which must hold
// nuvel.size() + 26 bytes); returns the bytes written, 0 when the template
// is too long for the 16-bit length or out too small.
std::size_t wrap_qxe(std::span<const std::uint8_t> nuvel, const QxeIdentifier& identifier,
                     const QxeInfo& info, std::span<std::uint8_t> out);

struct QxeContents {
  std::span<const std::uint8_t> nuvel;  // inside the container
  QxeIdentifier identifier{};
  QxeInfo info{};
};

// Checks a container (its length against the stored template length, then
// the CRC) and returns the parts, or a QxeStatus below 0.
std::int32_t unwrap_qxe(std::span<const std::uint8_t> container, QxeContents& contents);

}  // namespace zyl::api

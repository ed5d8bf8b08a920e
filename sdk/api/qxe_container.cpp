#include <algorithm>

#include "api/nuvel_codec.h"
#include "api/template_format.h"
#include "common/byte_io.h"
#include "device/crc8.h"

namespace zyl::api {

namespace {

constexpr std::uint8_t kMagic[3] = {'Q', 'X', 'E'};

// The singular-point count byte follows the minutiae; only read when it lies
// inside the template (a short template has none).
std::uint8_t singular_count_of(std::span<const std::uint8_t> nuvel, std::uint8_t minutiae) {
  if (nuvel.empty() || !(nuvel[0] & kNuvelSingular)) return 0;
  const std::size_t entry = (nuvel[0] & kNuvelCurvature) ? 5 : 4;
  const std::size_t at = kNuvelHeaderSize + minutiae * entry;
  return at < nuvel.size() ? nuvel[at] : 0;
}

}  // namespace

std::size_t wrap_qxe(std::span<const std::uint8_t> nuvel, const QxeIdentifier& identifier,
                     const QxeInfo& info, std::span<std::uint8_t> out) {
  const std::size_t total = nuvel.size() + kQxeOverhead;
  if (nuvel.size() > kQxeMaxTemplate || out.size() < total) return 0;
  const std::uint8_t minutiae = nuvel.size() > 5 ? nuvel[5] : 0;
  const std::uint8_t* id = identifier.bytes;

  ByteWriter w(out.first(total));
  w.bytes(kMagic, 3);
  w.bytes(id + 5, 4);
  w.u8(info.infoByte1);
  for (std::int32_t number : info.infoNumbers) w.u16(static_cast<std::uint32_t>(number) & 0xFFFF);
  w.u8(info.infoByte2);
  w.u8(static_cast<std::uint32_t>(info.infoValue3) & 0xFF);
  w.bytes(id, 5);
  w.u8(minutiae);
  w.u8(singular_count_of(nuvel, minutiae));
  w.u16(static_cast<std::uint32_t>(nuvel.size()));
  w.bytes(nuvel.data(), nuvel.size());
  w.u8(device::crc8(out.first(total - 1)));
  return w.ok() ? total : 0;
}

std::int32_t unwrap_qxe(std::span<const std::uint8_t> container, QxeContents& contents) {
  if (container.size() < kQxeOverhead) return kQxeLengthMismatch;
  ByteReader r(container);
  r.seek(23);
  const std::size_t n = r.u16();
  if (container.size() != n + kQxeOverhead) return kQxeLengthMismatch;
  if (device::crc8(container.first(container.size() - 1)) != container.back())
    return kQxeCrcMismatch;

  std::uint8_t* id = contents.identifier.bytes;
  r.seek(3);
  r.bytes(id + 5, 4);
  contents.info.infoByte1 = r.u8();
  for (std::int32_t& number : contents.info.infoNumbers) number = r.u16();
  contents.info.infoByte2 = r.u8();
  contents.info.infoValue3 = r.u8();
  r.bytes(id, 5);
  r.seek(kQxeHeaderSize);
  contents.nuvel = r.view(n);
  return kQxeOk;
}

}  // namespace zyl::api

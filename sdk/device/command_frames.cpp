#include "device/command_frames.h"

#include <algorithm>

#include "common/byte_io.h"
#include "device/usb_transport.h"
#include "zylscan/zylfpscan_status.h"

namespace zyl::device {

int BuildCommandFrame(std::span<std::uint8_t> out, std::uint8_t type, std::uint16_t parameter,
                      std::uint8_t opcode, std::span<const std::uint8_t> params) {
  if (type != 1 && type != 2) return 0;
  static constexpr std::uint8_t kNoParams[4] = {0, 0, 0, 0};
  if (params.empty()) params = kNoParams;
  const std::size_t length = 6 + params.size() + 2;
  if (out.size() < length) return 0;
  ByteWriter w(out);
  w.u8(0xFF);
  w.u8(0xAA);
  w.u8(type);
  w.u16(parameter);
  w.u8(opcode);
  w.bytes(params.data(), params.size());
  std::uint8_t check = 0;
  for (std::size_t i = 2; i < w.pos(); ++i) check ^= out[i];
  w.u16(check);
  return static_cast<int>(length);
}

int CheckCommandFrame(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4 || frame[0] != 0xFF || frame[1] != 0xAA) return 0;
  std::uint8_t check = 0;
  for (std::size_t i = 2; i + 2 < frame.size(); ++i) check ^= frame[i];
  ByteReader r(frame.subspan(frame.size() - 2));
  return r.u16() == check ? 1 : 0;
}

int ReplyStatusToCode(std::uint8_t status) {
  if (status == 0) return ZYLFPSCAN_OK;
  if (status <= 5) return ZYLFPSCAN_SCANNER_STATUS(status);
  return ZYLFPSCAN_ERR_UNKNOWN_REPLY;
}

int BuildEf01Frame(std::span<std::uint8_t> out, std::uint8_t instruction, std::span<const std::uint8_t> params) {
  const std::size_t length = 10 + params.size() + 2;
  if (out.size() < length) return 0;
  ByteWriter w(out);
  w.u8(0xEF);
  w.u8(0x01);
  w.u32(0xFFFFFFFF);
  w.u8(0x01);
  w.u16(static_cast<std::uint32_t>(1 + params.size() + 2));
  w.u8(instruction);
  w.bytes(params.data(), params.size());
  unsigned sum = 0;
  for (std::size_t i = 6; i < w.pos(); ++i) sum += out[i];
  w.u16(sum & 0xFFFF);
  return static_cast<int>(length);
}

Frame CommandFrame(const Command& command, std::span<const std::uint8_t> params) {
  Frame f{};
  std::uint8_t p[4] = {0, 0, 0, 0};
  std::copy_n(params.begin(), std::min<std::size_t>(params.size(), 4), p);
  BuildCommandFrame(f, 0x01, command.parameter, command.opcode, p);
  // The builder's check covers bytes 2..9; a check over 0..9 also takes in
  // FF and AA.
  if (command.span == CheckSpan::From0) f[11] ^= 0xFF ^ 0xAA;
  return f;
}

std::array<std::uint8_t, 12> Ef01Frame(std::uint8_t instruction) {
  std::array<std::uint8_t, 12> f{};
  BuildEf01Frame(f, instruction, {});
  return f;
}

std::array<std::uint8_t, 14> Ef01DescriptionFrame() {
  static constexpr std::uint8_t kParams[2] = {0x04, 0x00};
  std::array<std::uint8_t, 14> f{};
  BuildEf01Frame(f, 0xA6, kParams);
  return f;
}

int Exchange(libusb_device_handle* h, const Command& command, std::span<const std::uint8_t> frame,
             std::span<std::uint8_t> reply, int seconds, const ExchangeCodes& codes, int* received) {
  if (received) *received = 0;
  if (command.ping && PingDevice(h) < 0) return codes.ping;
  int sent = command.writer == Writer::Command ? BulkWrite(h, frame) : BulkWriteByProduct(h, frame);
  if (sent < 0 || static_cast<std::size_t>(sent) != frame.size()) return codes.write;
  int got = command.reader == Reader::Chunked ? BulkReadChunked(h, reply, seconds)
                                              : BulkReadWhole(h, reply, seconds);
  if (got <= 0) return codes.read;
  if (received) *received = got;
  if (reply.size() == kFrameSize && got != static_cast<int>(kFrameSize)) return codes.read;
  if (command.mapStatus) return ReplyStatusToCode(reply[6]);
  return ZYLFPSCAN_OK;
}

}  // namespace zyl::device

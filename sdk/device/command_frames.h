// Wire formats of the scanners' commands: the 12-byte FF AA frame with its
// XOR check word, the EF01 frame, and the catalogue of FF AA commands with
// how each is exchanged.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <span>

namespace zyl::device {

constexpr std::size_t kFrameSize = 12;
using Frame = std::array<std::uint8_t, kFrameSize>;

// Writes FF AA, type, the 16-bit parameter (big-endian), the opcode, the
// parameter bytes (four zeros when there are none) and the XOR of bytes 2 up
// to the last parameter byte as a big-endian word. Returns the frame length,
// or 0 (nothing written) for a type other than 1 or 2 or an output too small.
int BuildCommandFrame(std::span<std::uint8_t> out, std::uint8_t type, std::uint16_t parameter,
                      std::uint8_t opcode, std::span<const std::uint8_t> params);
// 1 when the frame starts FF AA and the XOR of bytes 2..length-3 equals the
// big-endian word in its last two bytes, else 0.
int CheckCommandFrame(std::span<const std::uint8_t> frame);
// Status byte of a reply (byte 6) to a device API code.
int ReplyStatusToCode(std::uint8_t status);

// EF01 frame: EF 01, address FF FF FF FF, packet id 1, length, instruction,
// parameters, 16-bit sum of bytes 6 .. 9+n. Returns the length or 0.
int BuildEf01Frame(std::span<std::uint8_t> out, std::uint8_t instruction,
                   std::span<const std::uint8_t> params);

// Which bytes the check word covers.
enum class CheckSpan { From2, From0 };
// Which primitive writes the command and which reads its reply.
enum class Writer { Command, ByProduct };
enum class Reader { Chunked, Whole };

struct Command {
  std::uint8_t opcode;
  std::uint16_t parameter;
  CheckSpan span;
  bool ping;
  Writer writer;
  Reader reader;
  bool mapStatus;
};

// The catalogue (replies of 12 bytes at 5 s unless a caller says otherwise).
namespace commands {
constexpr Command kFwVersion3{0x32, 0x000C, CheckSpan::From2, true, Writer::Command, Reader::Chunked, true};
constexpr Command kFwVersion1{0x32, 0x000C, CheckSpan::From0, true, Writer::Command, Reader::Chunked, true};
constexpr Command kFwMinor{0x60, 0x000C, CheckSpan::From0, true, Writer::Command, Reader::Chunked, true};
constexpr Command kFwMinorGate{0x60, 0x000C, CheckSpan::From2, true, Writer::Command, Reader::Chunked, true};
constexpr Command kMcuType{0xB7, 0x000C, CheckSpan::From0, true, Writer::Command, Reader::Chunked, true};
constexpr Command kUpdateFlag{0xB0, 0x000C, CheckSpan::From0, true, Writer::Command, Reader::Chunked, true};
constexpr Command kSearch{0x56, 0x000C, CheckSpan::From2, true, Writer::Command, Reader::Chunked, false};
constexpr Command kSetLed{0x34, 0x000C, CheckSpan::From0, true, Writer::ByProduct, Reader::Whole, true};
constexpr Command kGetLed{0x33, 0x000C, CheckSpan::From0, true, Writer::ByProduct, Reader::Whole, true};
constexpr Command kRectifyParameters{0xA4, 0x0100, CheckSpan::From0, false, Writer::ByProduct, Reader::Whole, false};
constexpr Command kLargeCapture{0x90, 0x000C, CheckSpan::From0, false, Writer::ByProduct, Reader::Whole, true};
constexpr Command kLargeUpload{0x0A, 0x5300, CheckSpan::From2, false, Writer::ByProduct, Reader::Whole, false};
constexpr Command kGeneralCapture{0x90, 0x000C, CheckSpan::From2, true, Writer::Command, Reader::Chunked, false};
constexpr Command kShortCapture{0x90, 0x000C, CheckSpan::From2, true, Writer::Command, Reader::Chunked, true};
constexpr Command kGeneralUpload{0x0A, 0x6801, CheckSpan::From2, true, Writer::Command, Reader::Chunked, false};
constexpr Command kDescription{0xA6, 0x0400, CheckSpan::From2, true, Writer::Command, Reader::Chunked, false};
constexpr Command kSessionKey{0xF0, 0x000C, CheckSpan::From2, true, Writer::Command, Reader::Chunked, false};
}  // namespace commands

// The frame of a catalogue command with up to four parameter bytes.
Frame CommandFrame(const Command& command, std::span<const std::uint8_t> params = {});

// EF01 frames of the 0x9005 scanner.
std::array<std::uint8_t, 12> Ef01Frame(std::uint8_t instruction);  // capture, upload, version
std::array<std::uint8_t, 14> Ef01DescriptionFrame();

// How an exchange failed: the codes the callers turn into their own.
struct ExchangeCodes {
  int ping = -302;
  int write = -303;
  int read = -304;
};

// Ping (when the command says so), write the frame, read the reply into
// reply (its size is the reply length) with the given time-out in seconds,
// and map the reply status when the command says so. A 12-byte reply that
// arrives shorter fails the read: its status byte would be the buffer's zero
// fill. Returns 0 or a code. received (optional) gets the byte count.
int Exchange(libusb_device_handle* h, const Command& command, std::span<const std::uint8_t> frame,
             std::span<std::uint8_t> reply, int seconds = 5, const ExchangeCodes& codes = {},
             int* received = nullptr);

}  // namespace zyl::device

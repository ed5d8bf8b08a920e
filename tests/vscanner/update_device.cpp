// The device side of the firmware-update state: 64-byte packets of sixteen
// little-endian words. The device checks each packet strictly and answers
// command + 1 in word 0, the offset (data packets) in word 1 and a status in
// word 2: 0 accepted, otherwise the reason it refused.
#include <cstring>

#include "virtual_device.h"

namespace zyl::test::vscanner {

namespace {

constexpr std::uint32_t kHandshakeWord = 0x5c2e91a7;
constexpr std::size_t kMaxImage = 0x5F000;

enum Refusal : std::uint32_t {
  kAccepted = 0,
  kBadHandshake = 0x11,
  kNotDescribed = 0x12,
  kTooLarge = 0x13,
  kBadOffset = 0x14,
  kBadLength = 0x15,
  kOverrun = 0x16,
  kShortImage = 0x17,
  kBadSum = 0x18,
  kBadPadding = 0x19,
};

std::uint32_t word(const std::uint8_t* p, int i) {
  return static_cast<std::uint32_t>(p[4 * i]) | static_cast<std::uint32_t>(p[4 * i + 1]) << 8 |
         static_cast<std::uint32_t>(p[4 * i + 2]) << 16 | static_cast<std::uint32_t>(p[4 * i + 3]) << 24;
}

void put(std::vector<std::uint8_t>& p, int i, std::uint32_t v) {
  for (int b = 0; b < 4; ++b) p[static_cast<std::size_t>(4 * i + b)] = static_cast<std::uint8_t>(v >> (8 * b));
}

}  // namespace

bool VirtualDevice::receive_update(const std::uint8_t* p, int n, std::string& note) {
  if (n != 64) {
    note = "refused: update packets are 64 bytes";
    return false;
  }
  const std::uint32_t command = word(p, 0);
  std::uint32_t status = kAccepted;
  std::uint32_t w1 = 0;
  switch (command) {
    case 1:
      if (word(p, 1) != kHandshakeWord) {
        status = kBadHandshake;
        note = "handshake with a wrong word";
      } else {
        state_.handshake = true;
        note = "handshake";
      }
      break;
    case 9:
      if (word(p, 3) > kMaxImage) {
        status = kTooLarge;
        note = "image description: too large";
      } else {
        described_ = true;
        state_.fw_address = word(p, 2);
        state_.fw_size = word(p, 3);
        state_.fw_sum = word(p, 4);
        state_.firmware.clear();
        state_.data_packets = 0;
        state_.fw_done = false;
        note = "image description";
      }
      break;
    case 5: {
      const std::uint32_t offset = word(p, 1), length = word(p, 2);
      w1 = offset;
      if (!described_) {
        status = kNotDescribed;
      } else if (offset != state_.firmware.size()) {
        status = kBadOffset;
      } else if (length < 1 || length > 52) {
        status = kBadLength;
      } else if (offset + length > state_.fw_size) {
        status = kOverrun;
      } else {
        for (std::uint32_t i = 12 + length; i < 64; ++i)
          if (p[i] != 0) status = kBadPadding;
      }
      if (status == kAccepted) {
        state_.firmware.insert(state_.firmware.end(), p + 12, p + 12 + length);
        ++state_.data_packets;
        note = "data packet";
      } else {
        note = "data packet refused";
      }
      break;
    }
    case 7: {
      std::uint32_t sum = 0;
      for (std::uint8_t b : state_.firmware) sum += b;
      if (!described_) {
        status = kNotDescribed;
      } else if (state_.firmware.size() != state_.fw_size) {
        status = kShortImage;
      } else if (sum != state_.fw_sum) {
        status = kBadSum;
      } else {
        state_.fw_done = true;
      }
      note = status == kAccepted ? "end of image" : "end of image refused";
      break;
    }
    case 11:
      note = "two-value command";
      break;
    default:
      note = "refused: unknown update command";
      return false;
  }
  std::vector<std::uint8_t> r(64, 0);
  put(r, 0, command + 1);
  put(r, 1, w1);
  put(r, 2, status);
  queue(std::move(r));
  return true;
}

}  // namespace zyl::test::vscanner

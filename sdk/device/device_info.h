// Reading what a scanner is: versions, the device description with its
// session-key exchange, and the large sensor's rectification block.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <span>

namespace zyl::device {

// Three firmware version bytes (reply bytes 7-9): 0, a transport code or a
// mapped reply status.
int GetFwVersion(libusb_device_handle* h, std::span<std::uint8_t, 3> version);
// The 1024-byte description: plain or behind the session-key exchange, by
// product. 0, a transport code, or (key exchange) 2, 3 or a raw status.
int ReadDeviceDescription(std::span<std::uint8_t, 1024> description, libusb_device_handle* h,
                          std::uint16_t productId);
// The 256-byte rectification block (command 0xA4): 0 or a negative code.
int ReadRectifyParameters(std::span<std::uint8_t, 256> parameters, libusb_device_handle* h);

}  // namespace zyl::device

// Reading what a scanner is: versions, the device description with its
// session-key exchange, and the large sensor's rectification block.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <span>

#include "device/device_record.h"

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

// Scanners on the bus into count (0 when the list cannot be read):
// ZYLFPSCAN_OK or ZYLFPSCAN_ERR_DEVICE_LIST.
int CountDevices(int& count);
// The index-th scanner's description into out, the scanner opened for the
// read unless it is open already: the codes of
// ZYLFPSCAN_GetDeviceDescription after its argument checks.
int DescribeDevice(int index, std::span<std::uint8_t, kDescriptionSize> out);
}  // namespace zyl::device

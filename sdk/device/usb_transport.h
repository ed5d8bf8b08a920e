// Transfer primitives over libusb: every exchange with a scanner goes
// through these, on the process-wide endpoint addresses.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <span>

namespace zyl::device {

// The endpoint addresses in use; rewritten at every open by endpoint
// discovery and shared by all devices of the process.
struct Endpoints {
  std::uint8_t keyExchangeIn = 0x81;
  std::uint8_t streamOut = 0x02;
  std::uint8_t replyIn = 0x81;
  std::uint8_t commandOut = 0x01;
  std::uint8_t productCommandOut = 0x02;
};
Endpoints& endpoints();

// Time-outs in milliseconds.
constexpr unsigned kWriteTimeoutMs = 5000;
constexpr unsigned kStreamTimeoutMs = 7000;
// The ping used to go without a time-out, so a hung scanner hung its caller
// for good; a second is ample for a two-byte control answer.
constexpr unsigned kPingTimeoutMs = 1000;

// Pauses the calling thread.
void Pause(unsigned milliseconds);

// seconds x 1000 + extra, as a libusb time-out: negative seconds count as 0
// and a value that does not fit saturates instead of wrapping.
unsigned WaitMs(int seconds, unsigned extra);

// Vendor control IN request 0 (two bytes), then a 1 ms pause. Returns the
// libusb result (the byte count on success).
int PingDevice(libusb_device_handle* h);
// PingDevice and a further 1 ms pause (before the general family's capture).
int PingDeviceTwice(libusb_device_handle* h);

// Bulk OUT of the whole buffer on commandOut (BulkWrite), productCommandOut
// (BulkWriteByProduct) or streamOut, then a 1 ms pause. Return the bytes
// sent or a negative libusb code.
int BulkWrite(libusb_device_handle* h, std::span<const std::uint8_t> data);
int BulkWriteByProduct(libusb_device_handle* h, std::span<const std::uint8_t> data);
int BulkWriteStream(libusb_device_handle* h, std::span<const std::uint8_t> data, unsigned timeout_ms);

// Zero-fills buffer, then reads into it from replyIn: below 512 bytes in one
// transfer (time-out seconds x 1000 + 5000 ms), otherwise in 512-byte pieces
// (seconds x 1000 + 3000 ms each). A zero-byte piece ends the data. Returns
// the bytes received or a negative libusb code (also after some pieces).
int BulkReadChunked(libusb_device_handle* h, std::span<std::uint8_t> buffer, int seconds);
// Zero-fills buffer, then one bulk IN from replyIn with seconds x 1000 ms.
int BulkReadWhole(libusb_device_handle* h, std::span<std::uint8_t> buffer, int seconds);
// One bulk IN of up to buffer.size() bytes from an endpoint (no zero fill).
int BulkReadFrom(libusb_device_handle* h, std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                 unsigned timeout_ms);

}  // namespace zyl::device

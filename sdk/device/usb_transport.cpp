#include "device/usb_transport.h"

#include <time.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace zyl::device {

namespace {
constexpr int kPiece = 512;
constexpr unsigned kSinglePieceExtraMs = 5000;
constexpr unsigned kPieceExtraMs = 3000;

int BulkOut(libusb_device_handle* h, std::uint8_t endpoint, std::span<const std::uint8_t> data,
            unsigned timeout_ms) {
  if (data.size() > INT_MAX) return LIBUSB_ERROR_INVALID_PARAM;
  int sent = 0;
  // libusb takes a non-const buffer for both directions; an OUT transfer
  // only reads it.
  int rc = libusb_bulk_transfer(h, endpoint, const_cast<std::uint8_t*>(data.data()),
                                static_cast<int>(data.size()), &sent, timeout_ms);
  if (rc < 0) return rc;
  Pause(1);
  return sent;
}
}  // namespace

Endpoints& endpoints() {
  static Endpoints e;
  return e;
}

void Pause(unsigned milliseconds) {
  timespec t{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

unsigned WaitMs(int seconds, unsigned extra) {
  const unsigned long long s = seconds > 0 ? static_cast<unsigned long long>(seconds) : 0;
  const unsigned long long ms = s * 1000ull + extra;
  return ms > UINT_MAX ? UINT_MAX : static_cast<unsigned>(ms);
}

int PingDevice(libusb_device_handle* h) {
  std::uint8_t answer[2] = {0, 0};
  int rc = libusb_control_transfer(h, 0xC0, 0, 0, 0, answer, sizeof answer, kPingTimeoutMs);
  if (rc < 0) return rc;
  Pause(1);
  return rc;
}

int PingDeviceTwice(libusb_device_handle* h) {
  int rc = PingDevice(h);
  if (rc < 0) return rc;
  Pause(1);
  return rc;
}

int BulkWrite(libusb_device_handle* h, std::span<const std::uint8_t> data) {
  return BulkOut(h, endpoints().commandOut, data, kWriteTimeoutMs);
}

int BulkWriteByProduct(libusb_device_handle* h, std::span<const std::uint8_t> data) {
  return BulkOut(h, endpoints().productCommandOut, data, kWriteTimeoutMs);
}

int BulkWriteStream(libusb_device_handle* h, std::span<const std::uint8_t> data, unsigned timeout_ms) {
  return BulkOut(h, endpoints().streamOut, data, timeout_ms);
}

int BulkReadFrom(libusb_device_handle* h, std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                 unsigned timeout_ms) {
  if (buffer.size() > INT_MAX) return LIBUSB_ERROR_INVALID_PARAM;
  int got = 0;
  int rc = libusb_bulk_transfer(h, endpoint, buffer.data(), static_cast<int>(buffer.size()), &got, timeout_ms);
  return rc < 0 ? rc : got;
}

int BulkReadChunked(libusb_device_handle* h, std::span<std::uint8_t> buffer, int seconds) {
  if (buffer.size() > INT_MAX) return LIBUSB_ERROR_INVALID_PARAM;
  std::fill(buffer.begin(), buffer.end(), 0);
  const std::uint8_t ep = endpoints().replyIn;
  if (buffer.size() < kPiece) return BulkReadFrom(h, ep, buffer, WaitMs(seconds, kSinglePieceExtraMs));
  const unsigned piece_timeout = WaitMs(seconds, kPieceExtraMs);
  std::size_t total = 0;
  while (total < buffer.size()) {
    const std::size_t piece = std::min<std::size_t>(kPiece, buffer.size() - total);
    int rc = BulkReadFrom(h, ep, buffer.subspan(total, piece), piece_timeout);
    if (rc < 0) return rc;
    // A zero-byte piece means the scanner has nothing more to send; asking
    // again would loop for as long as it keeps answering so.
    if (rc == 0) break;
    total += static_cast<std::size_t>(rc);
  }
  return static_cast<int>(total);
}

int BulkReadWhole(libusb_device_handle* h, std::span<std::uint8_t> buffer, int seconds) {
  std::fill(buffer.begin(), buffer.end(), 0);
  return BulkReadFrom(h, endpoints().replyIn, buffer, WaitMs(seconds, 0));
}

}  // namespace zyl::device

#include "device/capture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "device/command_frames.h"
#include "device/rectify.h"
#include "device/usb_transport.h"
#include "zylscan/zylfpscan.h"

namespace zyl::device {

namespace {

// Seconds to wait for a capture's reply: t + 5, with t <= 0 counted as 0
// and no overflow for a huge t.
int CaptureWaitSeconds(int t) {
  const int s = std::max(t, 0);
  return s > INT32_MAX - 5 ? INT32_MAX : s + 5;
}

constexpr unsigned kPacketTimeoutMs = 1000;
constexpr unsigned kAckTimeoutMs = 3000;
constexpr std::size_t kPacketHead = 10, kPacketTail = 2;
constexpr std::size_t kPacketPayload = 192;
// The camera's string-descriptor request went without a time-out; like the
// ping, a hung scanner must not hang its caller.
constexpr unsigned kCameraControlTimeoutMs = 1000;

constexpr std::uint8_t kStartPacket[19] = {0x6F, 0x09, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0x90, 0x0C, 0x80, 0x00, 0x04, 0x00, 0x00, 0x1F, 0x46};

std::array<std::uint8_t, 15> RequestPacket(std::uint8_t sequence) {
  std::array<std::uint8_t, 15> p{};
  p[0] = 0x6F;
  p[1] = 0x05;
  p[6] = sequence;
  p[11] = static_cast<std::uint8_t>(kPacketPayload);
  return p;
}

// General upload of width x height bytes (EF01 frame on 0x9005).
int UploadGeneralImage(const DeviceRecord& r, std::span<std::uint8_t> image, bool ef01) {
  libusb_device_handle* h = r.usbHandle;
  if (PingDevice(h) < 0) return ZYLFPSCAN_ERR_UPLOAD;
  int sent;
  if (ef01) {
    const auto frame = Ef01Frame(0x0A);
    sent = BulkWrite(h, frame) == static_cast<int>(frame.size());
  } else {
    const Frame frame = CommandFrame(commands::kGeneralUpload);
    sent = BulkWrite(h, frame) == static_cast<int>(frame.size());
  }
  if (!sent) return ZYLFPSCAN_ERR_UPLOAD;
  // A short image would hand on the buffer's zero fill as fingerprint.
  if (BulkReadChunked(h, image, 5) != static_cast<int>(image.size())) return ZYLFPSCAN_ERR_UPLOAD;
  return ZYLFPSCAN_OK;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

}  // namespace

CaptureFamily FamilyOf(std::uint16_t productId) {
  if (IsLargeSensor(productId)) return CaptureFamily::LargeSensor;
  if (productId == product::kStream) return CaptureFamily::Stream;
  if (productId == product::kCamera) return CaptureFamily::Camera;
  return CaptureFamily::General;
}

std::array<std::uint8_t, 4> LargeCaptureParameters(int t) {
  if (t <= 0) return {0, 0, 0, 0};
  // Saturate: the field is 16 bits and a longer time-out must not wrap to a
  // short one.
  const long long ms = std::min(static_cast<long long>(t) * 1000, 0xFFFFll);
  return {0x01, static_cast<std::uint8_t>(ms >> 8), static_cast<std::uint8_t>(ms & 0xFF), 0x00};
}

std::uint8_t ShortCaptureByte(int t) {
  if (t <= 0) return 0;
  return static_cast<std::uint8_t>(std::min(static_cast<long long>(t) * 5, 0xFFll));
}

int CaptureLargeSensorFrame(libusb_device_handle* h, std::span<std::uint8_t, kLastImageSize> frame, int t) {
  const Frame capture = CommandFrame(commands::kLargeCapture, LargeCaptureParameters(t));
  Frame reply{};
  if (Exchange(h, commands::kLargeCapture, capture, reply, CaptureWaitSeconds(t)) != 0)
    return ZYLFPSCAN_ERR_CAPTURE_COMMAND;
  const Frame upload = CommandFrame(commands::kLargeUpload);
  int got = 0;
  if (Exchange(h, commands::kLargeUpload, upload, frame, 5, {}, &got) != 0 ||
      got != static_cast<int>(frame.size()))
    return ZYLFPSCAN_ERR_UPLOAD;
  return ZYLFPSCAN_OK;
}

int CaptureGeneralImage(const DeviceRecord& r, std::span<std::uint8_t> image, int t) {
  libusb_device_handle* h = r.usbHandle;
  const bool ef01 = r.productId == product::kEf01;
  if (PingDeviceTwice(h) < 0) return ZYLFPSCAN_ERR_PING_BEFORE_CAPTURE;
  if (ef01) {
    const auto frame = Ef01Frame(0x01);
    if (BulkWrite(h, frame) != static_cast<int>(frame.size())) return ZYLFPSCAN_ERR_CAPTURE_COMMAND;
    std::array<std::uint8_t, 64> reply{};
    if (BulkReadFrom(h, endpoints().replyIn, reply, 1000) <= 0) return ZYLFPSCAN_ERR_CAPTURE_COMMAND;
  } else {
    Command c = commands::kGeneralCapture;
    if (r.productId == product::kGated) c.opcode = 0x01;
    const Frame frame = CommandFrame(c);
    if (BulkWrite(h, frame) != static_cast<int>(frame.size())) return ZYLFPSCAN_ERR_CAPTURE_COMMAND;
    // The reply's status is not looked at: the scanner uploads what it has.
    Frame reply{};
    if (BulkReadChunked(h, reply, CaptureWaitSeconds(t)) <= 0) return ZYLFPSCAN_ERR_CAPTURE_COMMAND;
  }
  return UploadGeneralImage(r, image, ef01);
}

int CaptureShortForm(const DeviceRecord& r, std::span<std::uint8_t> image, int t) {
  const std::array<std::uint8_t, 4> params{ShortCaptureByte(t), 0, 0, 0};
  const Frame frame = CommandFrame(commands::kShortCapture, params);
  Frame reply{};
  const ExchangeCodes codes{ZYLFPSCAN_ERR_PING_BEFORE_CAPTURE, ZYLFPSCAN_ERR_CAPTURE_COMMAND,
                            ZYLFPSCAN_ERR_CAPTURE_COMMAND};
  int rc = Exchange(r.usbHandle, commands::kShortCapture, frame, reply, CaptureWaitSeconds(t), codes);
  if (rc == ZYLFPSCAN_ERR_PING_BEFORE_CAPTURE) return rc;
  if (rc != 0) return ZYLFPSCAN_ERR_CAPTURE_COMMAND;
  return UploadGeneralImage(r, image, false);
}

int CaptureStreamImage(libusb_device_handle* h, std::span<std::uint8_t> image) {
  if (BulkWriteStream(h, kStartPacket, kPacketTimeoutMs) != static_cast<int>(sizeof kStartPacket))
    return ZYLFPSCAN_ERR_WRITE;
  std::array<std::uint8_t, kFrameSize> ack{};
  if (BulkReadFrom(h, endpoints().replyIn, ack, kAckTimeoutMs) <= 0) return ZYLFPSCAN_ERR_READ;

  std::array<std::uint8_t, kPacketHead + kPacketPayload + kPacketTail> packet{};
  std::size_t received = 0;
  unsigned requests = 0;
  auto nextSequence = [&] { return static_cast<std::uint8_t>(requests++ == 0 ? 1 : requests - 1); };
  while (received < image.size()) {
    const auto request = RequestPacket(nextSequence());
    if (BulkWriteStream(h, request, kPacketTimeoutMs) <= 0) return ZYLFPSCAN_ERR_READ;
    const std::size_t remaining = image.size() - received;
    // Whole packets while more than a packet's worth remains, then the rest
    // plus head and tail; never more than the packet buffer holds.
    const std::size_t want = std::min(remaining + kPacketHead + kPacketTail, packet.size());
    int got = BulkReadFrom(h, endpoints().replyIn, std::span(packet.data(), want), kPacketTimeoutMs);
    // A packet without payload would leave the loop asking forever.
    if (got <= static_cast<int>(kPacketHead + kPacketTail)) return ZYLFPSCAN_ERR_READ;
    const std::size_t payload = static_cast<std::size_t>(got) - kPacketHead - kPacketTail;
    std::memcpy(image.data() + received, packet.data() + kPacketHead, payload);
    received += payload;
  }
  const auto closing = RequestPacket(nextSequence());
  if (BulkWriteStream(h, closing, kPacketTimeoutMs) <= 0) return ZYLFPSCAN_ERR_READ;
  if (BulkReadFrom(h, endpoints().replyIn, ack, kAckTimeoutMs) <= 0) return ZYLFPSCAN_ERR_READ;
  return ZYLFPSCAN_OK;
}

int CaptureCameraFrame(libusb_device_handle* h, std::span<std::uint8_t, kCameraFrameSize> frame) {
  std::uint8_t descriptor[22] = {};
  int rc = libusb_control_transfer(h, 0x80, 6, 0x0303, 0x0904, descriptor, sizeof descriptor, kCameraControlTimeoutMs);
  std::printf("\n control rc = %d", rc);
  if (rc < 0) return rc;
  Pause(1);
  static constexpr std::uint8_t kRequest[2] = {0x6A, 0x56};
  if (BulkWrite(h, kRequest) != 2) return ZYLFPSCAN_ERR_WRITE;
  // A partial frame would be resampled from the buffer's zero fill.
  if (BulkReadChunked(h, frame, 5) != static_cast<int>(frame.size())) return ZYLFPSCAN_ERR_READ;
  return ZYLFPSCAN_OK;
}

void ResampleCameraFrame(std::span<const std::uint8_t, kCameraFrameSize> s,
                         std::span<std::uint8_t, kResampledSize> out) {
  constexpr std::int64_t kUnit = 100000;
  // Steps 384 x 1000000 / 320 and 800 x 1000000 / 480, each divided by 10
  // with rounding half up.
  constexpr std::int64_t kStepX = (kCameraColumns * 1000000LL / kResampledColumns + 5) / 10;
  constexpr std::int64_t kStepY = (kCameraRows * 1000000LL / kResampledRows + 5) / 10;
  static_assert(kStepX == 120000 && kStepY == 166667);
  auto at = [&](std::int64_t y, std::int64_t x) -> std::int64_t {
    return s[static_cast<std::size_t>(y * kCameraColumns + x)];
  };
  for (std::int64_t y = 0; y < kResampledRows; ++y) {
    const std::int64_t sy = y * kStepY, y0 = sy / kUnit, fy = sy % kUnit;
    for (std::int64_t x = 0; x < kResampledColumns; ++x) {
      const std::int64_t sx = x * kStepX, x0 = sx / kUnit, fx = sx % kUnit;
      const std::int64_t a = FloorDiv(at(y0, x0) * kUnit + (at(y0 + 1, x0) - at(y0, x0)) * fy, kUnit);
      const std::int64_t b = FloorDiv(at(y0, x0 + 1) * kUnit + (at(y0 + 1, x0 + 1) - at(y0, x0 + 1)) * fy, kUnit);
      const std::int64_t v = FloorDiv(a * kUnit + (b - a) * fx, kUnit);
      out[static_cast<std::size_t>(y * kResampledColumns + x)] = static_cast<std::uint8_t>(255 - v);
    }
  }
}

void CropCameraImage(std::span<const std::uint8_t, kResampledSize> source,
                     std::span<std::uint8_t, kCameraImageWidth * kCameraImageHeight> out) {
  constexpr int kLeft = (kResampledColumns - kCameraImageWidth) / 2;   // 32
  constexpr int kBottom = kResampledRows - (kResampledRows - kCameraImageHeight) / 2 - 1;  // 419
  for (int i = 0; i < kCameraImageHeight; ++i)
    std::memcpy(out.data() + static_cast<std::size_t>(i) * kCameraImageWidth,
                source.data() + static_cast<std::size_t>(kBottom - i) * kResampledColumns + kLeft, kCameraImageWidth);
}

int CaptureRaw(DeviceRecord& r, int t, std::uint8_t* image) {
  const std::size_t size = static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height);
  if (size == 0 || size > kLastImageSize) return ZYLFPSCAN_ERR_PARAM;
  std::vector<std::uint8_t> buffer(size, 0);
  // A span from pointer and size: the range constructor would export
  // std::ranges symbols from the library in unoptimised builds.
  const std::span<std::uint8_t> result(buffer.data(), buffer.size());
  switch (FamilyOf(r.productId)) {
    case CaptureFamily::LargeSensor: {
      auto frame = std::make_unique<std::array<std::uint8_t, kLastImageSize>>();
      if (CaptureLargeSensorFrame(r.usbHandle, *frame, t) != 0) return ZYLFPSCAN_ERR_CAPTURE;
      // A calibration block that gives no usable transform fails the capture.
      if (RectifyFrame(*frame, kRawFrameWidth, kRawFrameHeight, result, r.rectifyParameters, r.width, r.height) != 0)
        return ZYLFPSCAN_ERR_CAPTURE;
      break;
    }
    case CaptureFamily::Stream: {
      int rc = CaptureStreamImage(r.usbHandle, result);
      if (rc != 0) return rc;
      break;
    }
    case CaptureFamily::Camera: {
      if (size != static_cast<std::size_t>(kCameraImageWidth * kCameraImageHeight)) return ZYLFPSCAN_ERR_PARAM;
      auto frame = std::make_unique<std::array<std::uint8_t, kCameraFrameSize>>();
      auto work = std::make_unique<std::array<std::uint8_t, kResampledSize>>();
      int rc = CaptureCameraFrame(r.usbHandle, *frame);
      if (rc != 0) return rc;
      ResampleCameraFrame(*frame, *work);
      CropCameraImage(*work,
                      std::span<std::uint8_t, kCameraImageWidth * kCameraImageHeight>(result.data(), result.size()));
      break;
    }
    case CaptureFamily::General: {
      int rc = CaptureGeneralImage(r, result, t);
      if (rc != 0) return rc;
      break;
    }
  }
  std::copy(result.begin(), result.end(), r.lastImage.begin());
  std::copy(result.begin(), result.end(), image);
  return ZYLFPSCAN_OK;
}

}  // namespace zyl::device

int zyl::device::CaptureRawData(void* handle, int t, unsigned char* image) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!image) return ZYLFPSCAN_ERR_NULL_BUFFER;
  return CaptureRaw(*static_cast<DeviceRecord*>(handle), t, image);
}

extern "C" {

ZYL_API int ZYLFPSCAN_CaptureRawData(void* handle, int t, unsigned char* image) {
  return zyl::device::CaptureRawData(handle, t, image);
}

}  // extern "C"

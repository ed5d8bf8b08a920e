// Image capture by product family. The sequences here also serve the image
// record, bitmap and live calls of the device API.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <span>

#include "device/device_record.h"
#include "zylscan/zylfpscan.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::device {

int CaptureRawData(void* handle, int t, unsigned char* image);

}  // namespace zyl::device

namespace zyl::device {

constexpr std::size_t kCameraFrameSize = 640 * 480;  // read as 384 columns x 800 rows
constexpr int kCameraColumns = 384, kCameraRows = 800;
constexpr int kResampledColumns = 320, kResampledRows = 480;
constexpr std::size_t kResampledSize = kResampledColumns * kResampledRows;
constexpr int kCameraImageWidth = 256, kCameraImageHeight = 360;

enum class CaptureFamily { LargeSensor, Stream, Camera, General };
CaptureFamily FamilyOf(std::uint16_t productId);

// Parameter bytes 6-9 of the large sensor's capture command for a time-out
// of t seconds: 01, then t x 1000 ms big-endian, saturated at the 16-bit
// field's maximum; zeros for t <= 0.
std::array<std::uint8_t, 4> LargeCaptureParameters(int t);
// Byte 6 of the short-time-out capture command: t x 5, saturated at 255;
// 0 for t <= 0.
std::uint8_t ShortCaptureByte(int t);

// Capture command then the 480000-byte upload: -309 / -310.
int CaptureLargeSensorFrame(libusb_device_handle* h, std::span<std::uint8_t, kLastImageSize> frame, int t);
// Capture command (reply status not looked at) then the width x height
// upload: -1000 (ping), -309, -310.
int CaptureGeneralImage(const DeviceRecord& r, std::span<std::uint8_t> image, int t);
// Short-time-out capture (status mapped) then the general upload: -1000,
// -309, -310.
int CaptureShortForm(const DeviceRecord& r, std::span<std::uint8_t> image, int t);
// The packet protocol of 0x1200: -303, -304.
int CaptureStreamImage(libusb_device_handle* h, std::span<std::uint8_t> image);
// The camera request of 0x0020: a negative control result, -303, -304.
int CaptureCameraFrame(libusb_device_handle* h, std::span<std::uint8_t, kCameraFrameSize> frame);

// 384 x 800 camera frame to 320 x 480, bilinear in fixed point, inverted.
void ResampleCameraFrame(std::span<const std::uint8_t, kCameraFrameSize> source,
                         std::span<std::uint8_t, kResampledSize> out);
// Centre 256 x 360 of the resampled image, flipped top to bottom.
void CropCameraImage(std::span<const std::uint8_t, kResampledSize> source,
                     std::span<std::uint8_t, kCameraImageWidth * kCameraImageHeight> out);

// One raw image of the record's product into lastImage and image (width x
// height bytes): 0 or the family's code; lastImage is kept on failure.
int CaptureRaw(DeviceRecord& r, int t, std::uint8_t* image);

}  // namespace zyl::device

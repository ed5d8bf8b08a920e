// Captures behind the bitmap, image record and live calls of the device API.
#pragma once

#include <cstdint>
#include <span>

#include "device/device_record.h"
#include "zylscan/zylfpscan_image.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::device {

int ImgQuality(int width, int height, const unsigned char* image, int* quality);

}  // namespace zyl::device

namespace zyl::device {

// How a scanner outside the large-sensor family takes its image. Large
// sensors always take the capture command with its time-out, the 800 x 600
// upload and the rectification.
enum class SmallSensorCapture {
  General,           // general capture command and upload
  GeneralOrStream,   // the packet protocol on 0x1200, else as General
  ShortForm,         // short-time-out capture command and the general upload
};

// Captures one width x height image of the record's scanner into image
// (which holds at least that many bytes) without touching lastImage.
// Returns 0, -104 for a failed exchange (the packet protocol's own codes for
// GeneralOrStream on 0x1200), -118 when memory runs out.
int CaptureImage(const DeviceRecord& r, int t, std::span<std::uint8_t> image, SmallSensorCapture how);

// The capture quality 0..100 of an image (the quality measure's answer; a
// negative one for sizes it cannot measure).
int ImageQuality(int width, int height, const std::uint8_t* image);

// The pixels of a bitmap (the caller's bytes, `bitmap.size()` of them) back
// into a width x height raw image: 0, or -900 when the first byte is neither
// 'B' nor 'M', the size is invalid, or either buffer is too small for it.
int BitmapToRaw(std::span<const std::uint8_t> bitmap, int width, int height, std::span<std::uint8_t> raw);

// Keeps a successful capture as the device's last image.
void KeepLastImage(DeviceRecord& r, std::span<const std::uint8_t> image);

}  // namespace zyl::device

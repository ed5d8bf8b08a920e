// Image calls of the device API: image size and quality, raw/bitmap
// conversions, the bitmap and finger image record captures, live capture.
#include "device/image_calls.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "device/capture.h"
#include "device/image_records.h"
#include "device/rectify.h"
#include "extract/quality.h"
#include "zylscan/image_quality.h"
#include "zylscan/zylfpscan.h"
#include "zylscan/zylfpscan_image.h"

namespace zyl::device {

namespace {

// Quality a record capture must reach, and the one of the two-argument
// bitmap capture.
constexpr int kRecordMinQuality = 20;
constexpr int kBitmapMinQuality = 50;
// The one small sensor that gives ANSI image records (by the short capture).
constexpr std::uint16_t kAnsiShortFormProduct = 0x1023;

std::size_t ImageSize(const DeviceRecord& r) { return PixelCount(r.width, r.height); }

// Work buffers are viewed through spans made from pointer and size: the
// range constructor would export std::ranges symbols from the library in
// unoptimised builds.
std::span<std::uint8_t> View(std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

// The checks every call on a handle starts with.
int CheckHandle(const void* handle) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NOT_OPEN;
  return ZYLFPSCAN_OK;
}

// A record whose size does not fit the last-image buffer cannot have come
// from an open; refuse it rather than overrun.
bool UsableSize(const DeviceRecord& r) {
  return ValidImageSize(r.width, r.height) && ImageSize(r) <= kLastImageSize;
}

int CaptureLargeSensorImage(const DeviceRecord& r, int t, std::span<std::uint8_t> image) {
  std::unique_ptr<std::array<std::uint8_t, kLastImageSize>> frame(new (std::nothrow)
                                                                      std::array<std::uint8_t, kLastImageSize>);
  if (!frame) return ZYLFPSCAN_ERR_NO_MEMORY;
  if (CaptureLargeSensorFrame(r.usbHandle, *frame, t) != 0) return ZYLFPSCAN_ERR_CAPTURE;
  std::fill(image.begin(), image.end(), 0);
  // A calibration block that gives no usable transform fails the capture.
  if (RectifyFrame(*frame, kRawFrameWidth, kRawFrameHeight, image, r.rectifyParameters, r.width, r.height) != 0)
    return ZYLFPSCAN_ERR_CAPTURE;
  return ZYLFPSCAN_OK;
}

int RecordCapture(void* handle, int t, int fingerPosition, int compression, unsigned char* record, int* length,
                  ImageRecordKind kind) {
  if (int rc = CheckHandle(handle)) return rc;
  if (!record || !length) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (t <= 0) return ZYLFPSCAN_ERR_PARAM;
  auto& r = *static_cast<DeviceRecord*>(handle);
  if (!UsableSize(r)) return ZYLFPSCAN_ERR_PARAM;

  SmallSensorCapture how = SmallSensorCapture::General;
  if (kind == ImageRecordKind::Ansi && !IsLargeSensor(r.productId)) {
    // Only the large sensors and 0x1023 give ANSI image records; the others
    // refuse before any transfer.
    if (r.productId != kAnsiShortFormProduct) return ZYLFPSCAN_ERR_NO_DEVICE;
    how = SmallSensorCapture::ShortForm;
  }
  std::vector<std::uint8_t> buffer(ImageSize(r), 0);
  const auto image = View(buffer);
  if (int rc = CaptureImage(r, t, image, how)) return rc;
  if (ImageQuality(r.width, r.height, image.data()) < kRecordMinQuality) return ZYLFPSCAN_ERR_QUALITY_TIMEOUT;

  KeepLastImage(r, image);
  const ImageRecordFields fields{static_cast<std::uint8_t>(fingerPosition), static_cast<std::uint8_t>(compression),
                                 r.descriptionModel};
  // The caller's record buffer holds the whole record (header and image).
  const std::size_t total = ImageRecordSize(kind, r.width, r.height);
  WriteImageRecord(kind, image, r.width, r.height, fields, std::span(record, total));
  *length = static_cast<int>(total);
  return ZYLFPSCAN_OK;
}

int LiveCapture(void* handle, unsigned char* out, bool bitmap) {
  if (int rc = CheckHandle(handle)) return rc;
  if (!out) return ZYLFPSCAN_ERR_NULL_BUFFER;
  auto& r = *static_cast<DeviceRecord*>(handle);
  if (!r.liveCapture) return ZYLFPSCAN_ERR_LIVE_NOT_STARTED;
  if (!UsableSize(r)) return ZYLFPSCAN_ERR_PARAM;

  std::vector<std::uint8_t> buffer(ImageSize(r), 0);
  const auto image = View(buffer);
  // Live images take the short capture form on every small sensor, with no
  // time-out on the wire.
  if (CaptureImage(r, 0, image, SmallSensorCapture::ShortForm) != 0) return ZYLFPSCAN_ERR_CAPTURE;
  KeepLastImage(r, image);
  if (bitmap)
    WriteBitmap(image, r.width, r.height, std::span(out, BitmapSize(r.width, r.height)));
  else
    std::copy(image.begin(), image.end(), out);
  return ZYLFPSCAN_OK;
}

int CaptureBitmap(void* handle, int t, unsigned char* bitmap) {
  if (int rc = CheckHandle(handle)) return rc;
  if (!bitmap) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (t <= 0) return ZYLFPSCAN_ERR_PARAM;
  auto& r = *static_cast<DeviceRecord*>(handle);
  if (!UsableSize(r)) return ZYLFPSCAN_ERR_PARAM;
  std::vector<std::uint8_t> buffer(ImageSize(r), 0);
  const auto image = View(buffer);
  if (int rc = CaptureImage(r, t, image, SmallSensorCapture::GeneralOrStream)) return rc;
  KeepLastImage(r, image);
  WriteBitmap(image, r.width, r.height, std::span(bitmap, BitmapSize(r.width, r.height)));
  return ZYLFPSCAN_OK;
}

int CaptureBitmapWithoutTimeOut(void* handle, unsigned char* bitmap) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!bitmap) return ZYLFPSCAN_ERR_BITMAP_BUFFER;
  auto& r = *static_cast<DeviceRecord*>(handle);
  if (!UsableSize(r)) return ZYLFPSCAN_ERR_PARAM;
  // The image becomes the last image only when the whole call succeeds.
  const std::size_t size = ImageSize(r);
  std::vector<std::uint8_t> previous(r.lastImage.begin(), r.lastImage.begin() + static_cast<std::ptrdiff_t>(size));
  std::vector<std::uint8_t> buffer(size, 0);
  const auto image = View(buffer);
  if (CaptureRaw(r, 0, image.data()) != 0) return ZYLFPSCAN_BITMAP_CAPTURE_FAILED;
  if (ImageQuality(r.width, r.height, image.data()) < kBitmapMinQuality) {
    KeepLastImage(r, View(previous));
    return ZYLFPSCAN_ERR_LOW_QUALITY;
  }
  WriteBitmap(image, r.width, r.height, std::span(bitmap, BitmapSize(r.width, r.height)));
  return ZYLFPSCAN_OK;
}

}  // namespace

int CaptureImage(const DeviceRecord& r, int t, std::span<std::uint8_t> image, SmallSensorCapture how) {
  if (IsLargeSensor(r.productId)) return CaptureLargeSensorImage(r, t, image);
  if (how == SmallSensorCapture::GeneralOrStream && r.productId == product::kStream)
    return CaptureStreamImage(r.usbHandle, image);
  const int rc =
      how == SmallSensorCapture::ShortForm ? CaptureShortForm(r, image, t) : CaptureGeneralImage(r, image, t);
  return rc == 0 ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_CAPTURE;
}

int ImageQuality(int width, int height, const std::uint8_t* image) {
  return zyl::extract::ZylEx_GetQuality(width, height, image);
}

int BitmapToRaw(std::span<const std::uint8_t> bitmap, int width, int height, std::span<std::uint8_t> raw) {
  // Either letter of the signature is accepted in first place.
  if (bitmap.empty() || (bitmap[0] != 'B' && bitmap[0] != 'M')) return ZYLFPSCAN_ERR_PARAM;
  if (!ValidImageSize(width, height)) return ZYLFPSCAN_ERR_PARAM;
  return ReadBitmap(bitmap, width, height, raw) ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_PARAM;
}

void KeepLastImage(DeviceRecord& r, std::span<const std::uint8_t> image) {
  std::copy_n(image.begin(), std::min(image.size(), r.lastImage.size()), r.lastImage.begin());
}

}  // namespace zyl::device

using namespace zyl::device;

extern "C" ZYL_API int ZYLFPSCAN_GetImageInfo(void* handle, int* width, int* height, int* resolution) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  const auto* r = static_cast<const DeviceRecord*>(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!width || !height || !resolution) return ZYLFPSCAN_ERR_NULL_BUFFER;
  *width = r->width;
  *height = r->height;
  *resolution = r->resolution;
  return ZYLFPSCAN_OK;
}

int zyl::device::ImgQuality(int width, int height, const unsigned char* image, int* quality) {
  if (!image || !quality) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (!ValidImageSize(width, height)) return ZYLFPSCAN_ERR_PARAM;
  const int q = ImageQuality(width, height, image);
  // The measure answers below 0 only for images it cannot rate at all.
  if (q < 0) return ZYLFPSCAN_ERR_PARAM;
  *quality = q;
  return ZYLFPSCAN_OK;
}

extern "C" ZYL_API int ZYLFPSCAN_RawToBitmap(const unsigned char* raw, unsigned char* bitmap, int width, int height) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!raw || !bitmap) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (!ValidImageSize(width, height)) return ZYLFPSCAN_ERR_PARAM;
  const std::size_t pixels = PixelCount(width, height);
  if (!WriteBitmap(std::span(raw, pixels), width, height, std::span(bitmap, BitmapSize(width, height))))
    return ZYLFPSCAN_ERR_RAW_TO_BMP;
  return ZYLFPSCAN_OK;
}

extern "C" ZYL_API int ZYLFPSCAN_BitmapToRaw(const unsigned char* bitmap, unsigned char* raw, int width, int height) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!bitmap || !raw) return ZYLFPSCAN_ERR_NULL_BUFFER;
  // The caller's buffers hold the bitmap and the image of the size it gives;
  // an invalid size is refused before any length is derived from it.
  if (!ValidImageSize(width, height)) return ZYLFPSCAN_ERR_PARAM;
  return BitmapToRaw(std::span(bitmap, BitmapSize(width, height)), width, height,
                     std::span(raw, PixelCount(width, height)));
}

extern "C" ZYL_API int ZYLFPSCAN_CaptureBitmapData(void* handle, int t, unsigned char* bitmap) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&] { return CaptureBitmap(handle, t, bitmap); });
}

extern "C" ZYL_API int ZYLFPSCAN_CaptureISOData(void* handle, int t, int fingerPosition, int compression,
                                                unsigned char* record, int* length) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&] {
    return RecordCapture(handle, t, fingerPosition, compression, record, length, ImageRecordKind::Iso);
  });
}

extern "C" ZYL_API int ZYLFPSCAN_CaptureANSIData(void* handle, int t, int fingerPosition, int compression,
                                                 unsigned char* record, int* length) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&] {
    return RecordCapture(handle, t, fingerPosition, compression, record, length, ImageRecordKind::Ansi);
  });
}

extern "C" ZYL_API int ZYLFPSCAN_BeginLiveCapture(void* handle) {
  if (int rc = CheckHandle(handle)) return rc;
  auto& r = *static_cast<DeviceRecord*>(handle);
  if (r.liveCapture) return ZYLFPSCAN_ERR_LIVE_STARTED;
  r.liveCapture = 1;
  return ZYLFPSCAN_OK;
}

extern "C" ZYL_API int ZYLFPSCAN_EndLiveCapture(void* handle) {
  if (int rc = CheckHandle(handle)) return rc;
  auto& r = *static_cast<DeviceRecord*>(handle);
  const int was = r.liveCapture;
  r.liveCapture = 0;
  return was ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_LIVE_NOT_STARTED;
}

extern "C" ZYL_API int ZYLFPSCAN_LiveCaptureRawData(void* handle, unsigned char* image) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&] { return LiveCapture(handle, image, false); });
}

extern "C" ZYL_API int ZYLFPSCAN_LiveCaptureBitmap(void* handle, unsigned char* bitmap) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&] { return LiveCapture(handle, bitmap, true); });
}

// The older two-argument bitmap capture: no time-out, a quality gate, and its
// own codes (-117 for a null bitmap, 1 for a failed capture).
ZYL_API int ZYLFPSCAN_CaptureBitmapData(void* handle, unsigned char* bitmap) {
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&] { return CaptureBitmapWithoutTimeOut(handle, bitmap); });
}

extern "C" {

ZYL_API int ZYLFPSCAN_ImgQuality(int width, int height, const unsigned char* image, int* quality) {
  return zyl::device::ImgQuality(width, height, image, quality);
}

}  // extern "C"

// Bitmap and finger image record layouts.
#include "device/image_records.h"

#include <algorithm>
#include <cstring>

#include "common/byte_io.h"

namespace zyl::device {

namespace {

constexpr std::uint16_t kImageAcquisitionLevel = 31;
constexpr std::uint8_t kScaleUnitsPerInch = 1;
constexpr std::uint16_t kScanResolution = 500;
constexpr std::uint8_t kPixelDepth = 8;
constexpr std::uint8_t kIsoImageQuality = 100;
constexpr std::uint8_t kAnsiImageQuality = 254;
// Impression type 0, a live-scan plain impression: what these scanners take.
constexpr std::uint8_t kImpressionType = 0;
// The finger record header between the general header and the image.
constexpr std::uint32_t kFingerHeaderSize = 14;

}  // namespace

bool ValidImageSize(int width, int height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide;
}

std::size_t PixelCount(int width, int height) {
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

std::size_t BitmapSize(int width, int height) { return kBitmapHeaderSize + PixelCount(width, height); }

bool WriteBitmap(std::span<const std::uint8_t> raw, int width, int height, std::span<std::uint8_t> bitmap) {
  if (!ValidImageSize(width, height)) return false;
  const std::size_t pixels = PixelCount(width, height);
  if (raw.size() < pixels || bitmap.size() < kBitmapHeaderSize + pixels) return false;

  ByteWriter w(bitmap.first(kBitmapHeaderSize), Endian::Little);
  w.u8('B');
  w.u8('M');
  w.u32(0);  // file size field left 0, as readers of these bitmaps expect
  w.u32(0);
  w.u32(kBitmapHeaderSize);
  w.u32(kBitmapInfoHeaderSize);
  w.u32(static_cast<std::uint32_t>(width));
  w.u32(static_cast<std::uint32_t>(height));
  w.u16(1);  // planes
  w.u16(8);  // bits per pixel
  w.fill(0, 24);  // compression, image size, resolutions, colours used and important
  for (std::uint32_t i = 0; i < 256; ++i) {
    w.u8(i);
    w.u8(i);
    w.u8(i);
    w.u8(0);
  }
  if (!w.ok() || w.pos() != kBitmapHeaderSize) return false;

  const std::size_t row = static_cast<std::size_t>(width);
  std::uint8_t* out = bitmap.data() + kBitmapHeaderSize;
  for (int i = 0; i < height; ++i)
    std::memcpy(out + static_cast<std::size_t>(i) * row, raw.data() + static_cast<std::size_t>(height - 1 - i) * row, row);
  return true;
}

bool ReadBitmap(std::span<const std::uint8_t> bitmap, int width, int height, std::span<std::uint8_t> raw) {
  if (!ValidImageSize(width, height)) return false;
  const std::size_t pixels = PixelCount(width, height);
  if (raw.size() < pixels || bitmap.size() < kBitmapHeaderSize + pixels) return false;
  const std::size_t row = static_cast<std::size_t>(width);
  const std::uint8_t* in = bitmap.data() + kBitmapHeaderSize;
  for (int i = 0; i < height; ++i)
    std::memcpy(raw.data() + static_cast<std::size_t>(height - 1 - i) * row, in + static_cast<std::size_t>(i) * row, row);
  return true;
}

std::size_t ImageRecordSize(ImageRecordKind kind, int width, int height) {
  return (kind == ImageRecordKind::Iso ? kIsoImageRecordHeader : kAnsiImageRecordHeader) + PixelCount(width, height);
}

std::size_t WriteImageRecord(ImageRecordKind kind, std::span<const std::uint8_t> image, int width, int height,
                             const ImageRecordFields& fields, std::span<std::uint8_t> out) {
  if (!ValidImageSize(width, height)) return 0;
  const std::size_t pixels = PixelCount(width, height);
  const std::size_t total = ImageRecordSize(kind, width, height);
  if (image.size() < pixels || out.size() < total) return 0;

  const bool iso = kind == ImageRecordKind::Iso;
  ByteWriter w(out.first(total), Endian::Big);
  w.bytes(reinterpret_cast<const std::uint8_t*>("FIR\0"), 4);
  w.bytes(reinterpret_cast<const std::uint8_t*>("010\0"), 4);
  w.u16(0);  // the record length is a 6-byte field: two zero bytes, then 32 bits
  w.u32(static_cast<std::uint32_t>(total));
  if (!iso) w.u32(0);  // product identifier
  w.u16(fields.deviceId);
  w.u16(kImageAcquisitionLevel);
  w.u8(1);  // number of fingers
  w.u8(kScaleUnitsPerInch);
  for (int i = 0; i < 4; ++i) w.u16(kScanResolution);  // scan and image, horizontal and vertical
  w.u8(kPixelDepth);
  w.u8(fields.compression);
  w.u16(0);  // reserved
  w.u32(static_cast<std::uint32_t>(pixels) + kFingerHeaderSize);
  w.u8(fields.fingerPosition);
  w.u8(1);  // count of views
  w.u8(1);  // view number
  w.u8(iso ? kIsoImageQuality : kAnsiImageQuality);
  w.u8(kImpressionType);
  w.u16(static_cast<std::uint32_t>(width));
  w.u16(static_cast<std::uint32_t>(height));
  w.u8(0);  // reserved
  // The pixels go out uncompressed whatever the compression code says.
  w.bytes(image.data(), pixels);
  return w.ok() && w.pos() == total ? total : 0;
}

}  // namespace zyl::device

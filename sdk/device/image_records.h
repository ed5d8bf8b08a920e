// Image layouts that the device API hands out besides raw pixels: the 8-bit
// grey bitmap and the finger image records (ISO/IEC 19794-4 and ANSI 381).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zyl::device {

// Bitmap: 14-byte file header, 40-byte info header, 256-entry grey palette,
// then the rows bottom first, unpadded.
constexpr std::size_t kBitmapFileHeaderSize = 14;
constexpr std::size_t kBitmapInfoHeaderSize = 40;
constexpr std::size_t kBitmapPaletteSize = 256 * 4;
constexpr std::size_t kBitmapHeaderSize = kBitmapFileHeaderSize + kBitmapInfoHeaderSize + kBitmapPaletteSize;  // 1078

// Largest side the image calls accept; keeps every size computation far
// inside the int range of the C interface.
constexpr int kMaxImageSide = 4096;

// True for 1..kMaxImageSide on both sides.
bool ValidImageSize(int width, int height);
std::size_t PixelCount(int width, int height);
std::size_t BitmapSize(int width, int height);

// Writes the bitmap of a raw image (top row first): the header and palette,
// then the rows in reverse order. Returns false (nothing written) when the
// size is invalid or a buffer is too small.
bool WriteBitmap(std::span<const std::uint8_t> raw, int width, int height, std::span<std::uint8_t> bitmap);
// Reads the pixels of a bitmap back into a raw image (top row first). The
// size is the caller's; the header is not consulted beyond its first byte.
bool ReadBitmap(std::span<const std::uint8_t> bitmap, int width, int height, std::span<std::uint8_t> raw);

// The two forms of the finger image record; the ANSI form carries a 4-byte
// product identifier after the record length.
enum class ImageRecordKind { Ansi = 0, Iso = 1 };

constexpr std::size_t kIsoImageRecordHeader = 46;
constexpr std::size_t kAnsiImageRecordHeader = 50;

std::size_t ImageRecordSize(ImageRecordKind kind, int width, int height);

struct ImageRecordFields {
  std::uint8_t fingerPosition = 0;
  std::uint8_t compression = 0;
  std::uint16_t deviceId = 0;
};

// Writes the record of an uncompressed image (top row first) into out and
// returns its total length; 0 (nothing written) when out is too small or the
// size is invalid.
std::size_t WriteImageRecord(ImageRecordKind kind, std::span<const std::uint8_t> image, int width, int height,
                             const ImageRecordFields& fields, std::span<std::uint8_t> out);

}  // namespace zyl::device

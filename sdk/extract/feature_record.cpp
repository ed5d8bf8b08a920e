// Byte images and feature records: allocation and copying.
#include "zylscan/feature_record.h"
#include "extract/feature_record.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Counts come from decoders of untrusted templates too: never copy beyond
// the columns.
std::int32_t bounded(std::int32_t count, std::int32_t limit) { return std::clamp(count, 0, limit); }

template <typename T, std::size_t N>
void copy_prefix(T (&dst)[N], const T (&src)[N], std::int32_t count) {
  std::memcpy(dst, src, sizeof(T) * static_cast<std::size_t>(count));
}

}  // namespace

ByteImage zyl::extract::CreateByteImage(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto rows = static_cast<ByteImage>(std::calloc(static_cast<std::size_t>(height), sizeof(std::uint8_t*)));
  if (!rows) return nullptr;
  for (int32_t y = 0; y < height; ++y) {
    rows[y] = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(width), 1));
    if (!rows[y]) {
      zyl::extract::FreeImage(rows, y);
      return nullptr;
    }
  }
  return rows;
}

int32_t zyl::extract::FreeImage(ByteImage image, int32_t height) {
  if (image) {
    for (int32_t y = 0; y < height; ++y) std::free(image[y]);
    std::free(image);
  }
  return 0;
}

int32_t zyl::extract::CopyByteImage(int32_t width, int32_t height, ByteImage source, ByteImage destination) {
  if (source && destination && width > 0)
    for (int32_t y = 0; y < height; ++y) std::memcpy(destination[y], source[y], static_cast<std::size_t>(width));
  return height;
}

int32_t zyl::extract::CopyFeatures(FeatureRecord* destination, const FeatureRecord* source) {
  if (!destination || !source) return 0;
  const std::int32_t n = bounded(source->minutiaCount, ZYL_MAX_MINUTIAE);
  destination->minutiaCount = n;
  copy_prefix(destination->minutiaX, source->minutiaX, n);
  copy_prefix(destination->minutiaY, source->minutiaY, n);
  copy_prefix(destination->minutiaAngle, source->minutiaAngle, n);
  copy_prefix(destination->minutiaType, source->minutiaType, n);
  copy_prefix(destination->minutiaCurvature, source->minutiaCurvature, n);
  destination->blockColumns = source->blockColumns;
  destination->blockRows = source->blockRows;
  std::memcpy(destination->blockDirections, source->blockDirections, sizeof(source->blockDirections));
  destination->borderDensity = source->borderDensity;
  const std::int32_t s = bounded(source->singularCount, ZYL_MAX_SINGULAR_POINTS);
  destination->singularCount = s;
  copy_prefix(destination->singularX, source->singularX, s);
  copy_prefix(destination->singularY, source->singularY, s);
  copy_prefix(destination->singularAngle, source->singularAngle, s);
  copy_prefix(destination->singularKind, source->singularKind, s);
  return 0;
}

extern "C" {

ZYL_API ByteImage CreateByteImage(int32_t width, int32_t height) {
  return zyl::extract::CreateByteImage(width, height);
}
ZYL_API int32_t FreeImage(ByteImage image, int32_t height) { return zyl::extract::FreeImage(image, height); }
ZYL_API int32_t CopyByteImage(int32_t width, int32_t height, ByteImage source, ByteImage destination) {
  return zyl::extract::CopyByteImage(width, height, source, destination);
}
ZYL_API int32_t CopyFeatures(FeatureRecord* destination, const FeatureRecord* source) {
  return zyl::extract::CopyFeatures(destination, source);
}

}  // extern "C"

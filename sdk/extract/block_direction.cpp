// The block direction image: one ridge orientation per 16 x 16 pixel block,
// and the clean-up of unreliable blocks.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"
#include "zylscan/direction_image.h"
#include "extract/block_direction.h"

namespace zyl::extract {
namespace {

constexpr int kBlock = ZYL_BLOCK_SIZE;

// Sums the H, D1, V, D2 differences of the pixels of each block, then runs
// the estimate on the means over the 3 x 3 blocks around each block.
void block_directions(int width, int height, ByteImage image, int columns, int rows, ByteImage directions,
                      ByteImage noise, int contrast) {
  // The grid may be given smaller than the image holds, never larger.
  columns = std::min(columns, width / kBlock);
  rows = std::min(rows, height / kBlock);
  if (columns <= 0 || rows <= 0) return;

  const std::size_t cells = static_cast<std::size_t>(columns) * rows;
  std::vector<std::array<std::int64_t, 4>> block_sums(cells, {0, 0, 0, 0});
  // A pixel's difference pair is at most 2 x 255 and a block row adds 16 of
  // them, so the differences and a block row's sum fit 32 bits; the block
  // sums are kept in 64.
  std::vector<std::int32_t> diff(4 * static_cast<std::size_t>(width));
  const std::array<std::int32_t*, 4> out = {diff.data(), diff.data() + width, diff.data() + 2 * width,
                                            diff.data() + 3 * width};
  DirectRows source(image);
  for (int y = 0; y < rows * kBlock; ++y) {
    direction_differences<DifferenceKind::Absolute>(source, width, height, y, out);
    auto* row_sums = block_sums.data() + static_cast<std::size_t>(y / kBlock) * columns;
    for (int bx = 0; bx < columns; ++bx)
      for (int k = 0; k < 4; ++k) {
        const std::int32_t* d = out[k] + bx * kBlock;
        std::int32_t s = 0;
        for (int i = 0; i < kBlock; ++i) s += d[i];
        row_sums[bx][k] += s;
      }
  }

  const std::int64_t contrast_limit = static_cast<std::int64_t>(contrast) * 512;
  for (int by = 0; by < rows; ++by)
    for (int bx = 0; bx < columns; ++bx) {
      std::array<std::int64_t, 4> s = {0, 0, 0, 0};
      int n = 0;
      for (int y = std::max(0, by - 1); y <= std::min(rows - 1, by + 1); ++y)
        for (int x = std::max(0, bx - 1); x <= std::min(columns - 1, bx + 1); ++x) {
          const auto& b = block_sums[static_cast<std::size_t>(y) * columns + x];
          for (int k = 0; k < 4; ++k) s[k] += b[k];
          ++n;
        }
      const OrientationEstimate e =
          estimate_orientation(s[0] / n, s[1] * 71 / (n * 100), s[2] / n, s[3] * 71 / (n * 100));
      const int old_bit = directions[by][bx] & kBadBit;
      directions[by][bx] = static_cast<std::uint8_t>(e.orientation | old_bit);
      noise[by][bx] = static_cast<std::uint8_t>(contrast_limit >= e.peak ? kUnreliableNoise : e.noise);
    }
}

// A block keeps its direction only when more than 4 blocks of its clipped
// 3 x 3 neighbourhood (itself included) are reliable.
void cleanup_blocks(int columns, int rows, ByteImage directions, ByteImage noise, int limit) {
  std::vector<std::uint8_t> reliable(static_cast<std::size_t>(columns) * rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) reliable[static_cast<std::size_t>(y) * columns + x] = noise[y][x] < limit;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) {
      int count = 0;
      for (int yy = std::max(0, y - 1); yy <= std::min(rows - 1, y + 1); ++yy)
        for (int xx = std::max(0, x - 1); xx <= std::min(columns - 1, x + 1); ++xx)
          count += reliable[static_cast<std::size_t>(yy) * columns + xx];
      if (count <= 4) directions[y][x] = kNoOrientation;
    }
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

extern "C" ZYL_API void ComputeBlockedImageSize(int32_t width, int32_t height, int32_t* block_columns,
                                                int32_t* block_rows) {
  if (block_columns) *block_columns = width / kBlock;
  if (block_rows) *block_rows = height / kBlock;
}

void zyl::extract::ComputeBlockDirImage(int32_t width, int32_t height, ByteImage image, int32_t block_columns,
                                        int32_t block_rows, ByteImage directions, ByteImage noise, int32_t contrast) {
  if (valid_image(width, height, image) && directions && noise)
    block_directions(width, height, image, block_columns, block_rows, directions, noise, contrast);
}

void zyl::extract::CleanupBlockDirImage(int32_t block_columns, int32_t block_rows, ByteImage directions,
                                        ByteImage noise, int32_t limit) {
  if (valid_image(block_columns, block_rows, directions) && noise)
    cleanup_blocks(block_columns, block_rows, directions, noise, limit);
}

extern "C" {

ZYL_API void ComputeBlockDirImage(int32_t width, int32_t height, ByteImage image, int32_t block_columns,
                                  int32_t block_rows, ByteImage directions, ByteImage noise, int32_t contrast) {
  zyl::extract::ComputeBlockDirImage(width, height, image, block_columns, block_rows, directions, noise, contrast);
}
ZYL_API void CleanupBlockDirImage(int32_t block_columns, int32_t block_rows, ByteImage directions, ByteImage noise,
                                  int32_t limit) {
  zyl::extract::CleanupBlockDirImage(block_columns, block_rows, directions, noise, limit);
}

}  // extern "C"

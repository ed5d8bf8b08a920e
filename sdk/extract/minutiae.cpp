// Minutia detection on the cleaned skeleton: endings and bifurcations with
// their direction and the local curvature of the orientation field.
#include "zylscan/extract_minutiae.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "zylscan/extract_ridges.h"
#include "zylscan/extract_thinning.h"
#include "extract/minutiae.h"
#include "extract/skeleton_walk.h"
#include "extract/ridge_cleanup.h"
#include "extract/thinning.h"

namespace {

constexpr std::uint8_t kBadBit = 0x80;
constexpr std::int32_t kNoOrientation = 127;
constexpr std::int32_t kCurvatureRadius = 10;

}  // namespace

int32_t zyl::extract::ComputeCurvature(int32_t width, int32_t height, ByteImage D, int32_t y, int32_t x, int32_t r) {
  if (!D || x < 0 || y < 0 || x >= width || y >= height) return 0;
  const std::int32_t centre = D[y][x] & 0x7F;
  if (centre == kNoOrientation) return 0;
  r = std::max(r, 0);
  const std::int32_t x0 = std::max(x - r, 0), x1 = std::min(x + r, width - 1);
  const std::int32_t y0 = std::max(y - r, 0), y1 = std::min(y + r, height - 1);
  std::int32_t sum = 0;
  std::int32_t count = 0;
  for (std::int32_t yy = y0; yy <= y1; ++yy) {
    const std::uint8_t* row = D[yy];
    for (std::int32_t xx = x0; xx <= x1; ++xx) {
      // Bad pixels count too: only the orientation matters here.
      const std::int32_t o = row[xx] & 0x7F;
      if (o == kNoOrientation) continue;
      std::int32_t d = std::abs(o - centre);
      if (d > 60) d = 120 - d;
      sum += d;
      ++count;
    }
  }
  return count == 0 ? 0 : sum * 255 / (count * 60);
}

void zyl::extract::ExtractMinutiae(int32_t width, int32_t height, ByteImage skeleton, ByteImage D,
                                   FeatureRecord* list) {
  if (!list) return;
  list->minutiaCount = 0;
  if (!skeleton || !D) return;
  std::int32_t n = 0;
  // The selection relies on this order: by row, then by column. Once the
  // list is full every later minutia would be dropped, so the scan ends.
  for (std::int32_t y = 2; y <= height - 3 && n < ZYL_MAX_MINUTIAE; ++y) {
    const std::uint8_t* ridge = skeleton[y];
    const std::uint8_t* dir = D[y];
    for (std::int32_t x = 2; x <= width - 3 && n < ZYL_MAX_MINUTIAE; ++x) {
      x = zyl::extract::NextRidge(ridge, x, width - 2);
      if (x > width - 3) break;
      if (ridge[x] != 0 || (dir[x] & kBadBit)) continue;
      const std::int32_t t = zyl::extract::GetTransitionCount(skeleton, y, x);
      std::int32_t type;
      std::int32_t angle;
      if (t == 1) {
        type = 0;
        angle = zyl::extract::ComputeEndDirection(width, height, skeleton, y, x);
      } else if (t == 3) {
        type = 1;
        angle = zyl::extract::ComputeBranchDirection(width, height, skeleton, y, x);
      } else {
        continue;
      }
      list->minutiaX[n] = x;
      list->minutiaY[n] = y;
      list->minutiaAngle[n] = angle;
      list->minutiaType[n] = type;
      list->minutiaCurvature[n] = zyl::extract::ComputeCurvature(width, height, D, y, x, kCurvatureRadius);
      ++n;
    }
  }
  list->minutiaCount = n;
}

extern "C" ZYL_API int32_t WriteImageToDisc(void) { return 0; }

extern "C" {

ZYL_API int32_t ComputeCurvature(int32_t width, int32_t height, ByteImage D, int32_t y, int32_t x, int32_t r) {
  return zyl::extract::ComputeCurvature(width, height, D, y, x, r);
}
ZYL_API void ExtractMinutiae(int32_t width, int32_t height, ByteImage skeleton, ByteImage D, FeatureRecord* list) {
  zyl::extract::ExtractMinutiae(width, height, skeleton, D, list);
}

}  // extern "C"

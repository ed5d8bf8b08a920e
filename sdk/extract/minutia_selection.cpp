// Selection of the detected minutiae: crowding, facing pairs, border and bad
// area, and a contrast test on the grey image around each minutia.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "extract/byte_image.h"
#include "zylscan/extract_minutiae.h"
#include "zylscan/geometry.h"
#include "extract/geometry.h"
#include "extract/minutia_selection.h"

namespace {

using zyl::extract::OwnedByteImage;

constexpr std::uint8_t kBadBit = 0x80;
constexpr std::int32_t kCrowdDistance = 15;
constexpr std::int32_t kCrowdLimit = 6;
constexpr std::int32_t kFacingDistance = 6;
constexpr std::int32_t kFacingEndingDistance = 3;
constexpr std::int32_t kBorder = 10;
constexpr std::int32_t kPatch = ZYL_MINUTIA_PATCH;

std::int32_t distance(const FeatureRecord& m, std::int32_t i, std::int32_t j) {
  return zyl::extract::ComputeDistance(std::abs(m.minutiaX[i] - m.minutiaX[j]),
                                       std::abs(m.minutiaY[i] - m.minutiaY[j]));
}

// Visits every j != i whose row differs from that of i by less than
// row_limit, in list order. The detector writes the list row by row, so the
// window's first entry only moves forward and is kept in `first` between
// calls for increasing i; a list from elsewhere that is not in row order is
// scanned whole, which gives the same answer.
class RowWindow {
 public:
  explicit RowWindow(const FeatureRecord& m) : m_(m) {
    for (std::int32_t k = 1; k < m.minutiaCount; ++k)
      if (m.minutiaY[k] < m.minutiaY[k - 1]) ordered_ = false;
  }

  template <class Visit>
  void visit(std::int32_t i, std::int32_t row_limit, Visit&& fn) {
    const std::int32_t n = m_.minutiaCount;
    const std::int32_t yi = m_.minutiaY[i];
    std::int32_t j = 0;
    if (ordered_) {
      while (first_ < n && yi - m_.minutiaY[first_] >= row_limit) ++first_;
      j = first_;
    }
    for (; j < n; ++j) {
      const std::int32_t dy = m_.minutiaY[j] - yi;
      if (ordered_ && dy >= row_limit) break;
      if (j == i || std::abs(dy) >= row_limit) continue;
      if (!fn(j)) break;
    }
  }

 private:
  const FeatureRecord& m_;
  bool ordered_ = true;
  std::int32_t first_ = 0;
};

void reject_crowded(FeatureRecord& m) {
  RowWindow window(m);
  for (std::int32_t i = 0; i < m.minutiaCount; ++i) {
    std::int32_t near = 0;
    // Rejected neighbours count as well: crowding is a property of the
    // detected pattern, not of what survives.
    window.visit(i, kCrowdDistance + 1, [&](std::int32_t j) {
      if (distance(m, i, j) < kCrowdDistance) ++near;
      return true;
    });
    if (near >= kCrowdLimit) m.minutiaAngle[i] = ZYL_MINUTIA_REJECT_CROWDED;
  }
}

void reject_facing_pairs(FeatureRecord& m) {
  RowWindow window(m);
  for (std::int32_t i = 0; i < m.minutiaCount; ++i) {
    window.visit(i, 11, [&](std::int32_t j) {
      if (m.minutiaAngle[i] < 0) return false;
      if (m.minutiaAngle[j] < 0) return true;
      const std::int32_t e = distance(m, i, j);
      if (e >= kFacingDistance) return true;
      const bool both_branches = m.minutiaType[i] != 0 && m.minutiaType[j] != 0;
      if (!both_branches && e >= kFacingEndingDistance) return true;
      const std::int32_t a = ((m.minutiaAngle[i] - m.minutiaAngle[j]) % 240 + 240) % 240;
      // Opposite within 27 degrees: two ends of one broken ridge, or a
      // short bridge between two ridges.
      if (a >= 102 && a <= 138) {
        m.minutiaAngle[i] = ZYL_MINUTIA_REJECT_FACING;
        m.minutiaAngle[j] = ZYL_MINUTIA_REJECT_FACING;
      }
      return true;
    });
  }
}

bool near_border_or_bad(std::int32_t width, std::int32_t height, ByteImage D, std::int32_t x, std::int32_t y) {
  if (x - kBorder < 0 || x + kBorder >= width || y - kBorder < 0 || y + kBorder >= height) return true;
  for (std::int32_t yy = y - kBorder; yy <= y + kBorder; ++yy) {
    const std::uint8_t* row = D[yy];
    for (std::int32_t xx = x - kBorder; xx <= x + kBorder; ++xx)
      if (row[xx] & kBadBit) return true;
  }
  return false;
}

// The 30 x 30 neighbourhood of the minutia turned to its direction; 255
// outside the image.
void sample_patch(std::int32_t width, std::int32_t height, ByteImage O, std::int32_t x, std::int32_t y,
                  std::int32_t angle, ByteImage patch) {
  const std::int32_t r = angle == 0 ? 0 : 240 - angle;
  const std::int32_t s = sin_x10E4[r];
  const std::int32_t c = cos_x10E4[r];
  for (std::int32_t a = 0; a < kPatch; ++a) {
    for (std::int32_t b = 0; b < kPatch; ++b) {
      const std::int32_t px = x + ((b - 15) * c + (a - 15) * s) / 10000;
      const std::int32_t py = y + ((a - 15) * c - (b - 15) * s) / 10000;
      patch[a][b] = (px >= 0 && px < width && py >= 0 && py < height) ? O[py][px] : 255;
    }
  }
}

void reject_poor_contrast(std::int32_t width, std::int32_t height, ByteImage O, FeatureRecord& m) {
  OwnedByteImage patch(kPatch, kPatch), scratch(kPatch, kPatch);
  if (!patch || !scratch) return;
  for (std::int32_t i = 0; i < m.minutiaCount; ++i) {
    const std::int32_t angle = m.minutiaAngle[i];
    if (angle < 0 || angle > 239) continue;
    sample_patch(width, height, O, m.minutiaX[i], m.minutiaY[i], angle, patch.get());
    zyl::extract::Putty1FTR1(patch.get(), scratch.get(), kPatch, kPatch);
    if (zyl::extract::GetFtrQuality(width, height, nullptr, patch.get(), scratch.get(), kPatch, &m, i))
      m.minutiaAngle[i] = ZYL_MINUTIA_REJECT_CONTRAST;
  }
}

}  // namespace

void zyl::extract::SelectBadMinutiae(int32_t width, int32_t height, ByteImage O, ByteImage D, FeatureRecord* list,
                                     int32_t pairing, int32_t image_test) {
  if (!list || !D) return;
  FeatureRecord& m = *list;
  m.minutiaCount = std::clamp(m.minutiaCount, 0, ZYL_MAX_MINUTIAE);
  reject_crowded(m);
  if (pairing) reject_facing_pairs(m);
  for (std::int32_t i = 0; i < m.minutiaCount; ++i)
    if (m.minutiaAngle[i] >= 0 && near_border_or_bad(width, height, D, m.minutiaX[i], m.minutiaY[i]))
      m.minutiaAngle[i] = ZYL_MINUTIA_REJECT_BORDER;
  if (image_test && O) reject_poor_contrast(width, height, O, m);
}

void zyl::extract::Putty1FTR1(ByteImage patch, ByteImage scratch, int32_t width, int32_t height) {
  if (!patch || !scratch || width < 3 || height < 3) return;
  for (std::int32_t y = 1; y < height - 1; ++y)
    for (std::int32_t x = 1; x < width - 1; ++x) {
      std::int32_t sum = 0;
      for (std::int32_t dy = -1; dy <= 1; ++dy)
        for (std::int32_t dx = -1; dx <= 1; ++dx) sum += patch[y + dy][x + dx];
      scratch[y][x] = static_cast<std::uint8_t>(sum / 9);
    }
  // The outer ring repeats its inner neighbour: rows first, then columns
  // (which also fills the corners).
  for (std::int32_t x = 1; x < width - 1; ++x) {
    scratch[0][x] = scratch[1][x];
    scratch[height - 1][x] = scratch[height - 2][x];
  }
  for (std::int32_t y = 0; y < height; ++y) {
    scratch[y][0] = scratch[y][1];
    scratch[y][width - 1] = scratch[y][width - 2];
  }
  for (std::int32_t y = 0; y < height; ++y) {
    std::memcpy(patch[y], scratch[y], static_cast<std::size_t>(width));
    std::memset(scratch[y], 0, static_cast<std::size_t>(width));
  }
}

int32_t zyl::extract::GetFtrQuality(int32_t, int32_t, ByteImage, ByteImage patch, ByteImage scratch, int32_t n,
                                    const FeatureRecord*, int32_t) {
  // A patch too small to hold a row difference shows no contrast.
  if (!patch || !scratch || n < 2) return 1;
  std::int64_t total = 0;
  for (std::int32_t y = 0; y < n - 1; ++y)
    for (std::int32_t x = 0; x < n; ++x) {
      const std::int32_t d = std::abs(patch[y][x] - patch[y + 1][x]);
      scratch[y][x] = static_cast<std::uint8_t>(d);
      total += d;
    }
  std::memset(scratch[n - 1], 0, static_cast<std::size_t>(n));
  const std::int64_t cap = 2 * (total / (static_cast<std::int64_t>(n - 1) * n));
  const std::int32_t half = n / 2;
  std::int64_t top = 0, bottom = 0, left = 0, right = 0;
  for (std::int32_t y = 0; y < n; ++y)
    for (std::int32_t x = 0; x < n; ++x) {
      // Large differences are capped so that one sharp edge cannot pass
      // for a ridge pattern.
      const std::int64_t v = std::min<std::int64_t>(scratch[y][x], cap);
      scratch[y][x] = static_cast<std::uint8_t>(v);
      (y < half ? top : bottom) += v;
      (x < half ? left : right) += v;
    }
  const std::int64_t top_mean = top * 100 / (static_cast<std::int64_t>(half) * n);
  const std::int64_t bottom_mean = bottom * 100 / (static_cast<std::int64_t>(n - half) * n);
  const std::int64_t left_mean = left * 100 / (static_cast<std::int64_t>(half) * n);
  const std::int64_t right_mean = right * 100 / (static_cast<std::int64_t>(n - half) * n);
  const bool good = top_mean >= 130 && bottom_mean >= 130 && left_mean >= 130 && right_mean >= 130 &&
                    top_mean + bottom_mean + left_mean + right_mean >= 760;
  return good ? 0 : 1;
}

void zyl::extract::EliminateBadMinutiae(FeatureRecord* list) {
  if (!list) return;
  const std::int32_t n = std::clamp(list->minutiaCount, 0, ZYL_MAX_MINUTIAE);
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    if (list->minutiaAngle[i] < 0) continue;
    if (kept != i) {
      list->minutiaX[kept] = list->minutiaX[i];
      list->minutiaY[kept] = list->minutiaY[i];
      list->minutiaAngle[kept] = list->minutiaAngle[i];
      list->minutiaType[kept] = list->minutiaType[i];
      list->minutiaCurvature[kept] = list->minutiaCurvature[i];
    }
    ++kept;
  }
  list->minutiaCount = kept;
}

extern "C" {

ZYL_API void SelectBadMinutiae(int32_t width, int32_t height, ByteImage O, ByteImage D, FeatureRecord* list,
                               int32_t pairing, int32_t image_test) {
  zyl::extract::SelectBadMinutiae(width, height, O, D, list, pairing, image_test);
}
ZYL_API void Putty1FTR1(ByteImage patch, ByteImage scratch, int32_t width, int32_t height) {
  zyl::extract::Putty1FTR1(patch, scratch, width, height);
}
ZYL_API int32_t GetFtrQuality(int32_t arg0, int32_t arg1, ByteImage arg2, ByteImage patch, ByteImage scratch, int32_t n,
                              const FeatureRecord* arg6, int32_t arg7) {
  return zyl::extract::GetFtrQuality(arg0, arg1, arg2, patch, scratch, n, arg6, arg7);
}
ZYL_API void EliminateBadMinutiae(FeatureRecord* list) { zyl::extract::EliminateBadMinutiae(list); }

}  // extern "C"

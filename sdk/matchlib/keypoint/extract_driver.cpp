// Keypoint extraction driver: smooth, score, collect the score map's local
// maxima as points and orient them, at full size or on a resampled copy.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/keypoint/keypoint_detect.h"
#include "zylscan/matchlib_extract_driver.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/core/param_store.h"
#include "matchlib/image/rescale.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeySkipBright = 0xd35784c3;
constexpr std::uint32_t kKeyScale = 0xaa63d8e3;
constexpr std::uint32_t kKeyPreSmooth = 0x96a90e2e;
constexpr std::uint32_t kKeyPostSmooth = 0xf21fe861;
constexpr int kPlainBorder = 4;

using Bytes = std::vector<std::uint8_t>;

std::size_t area(int height, int width) {
  return static_cast<std::size_t>(height) * static_cast<std::size_t>(width);
}

int smooth_passes(std::uint8_t* image, int height, int width, int passes) {
  for (int i = 0; i < passes; ++i)
    if (const int st = zyl::matchlib::binomial3x3<std::uint8_t>(image, height, width, image))
      return st;
  return ML_OK;
}

bool sizes_fit(int height, int width) {
  // Points and the collection hold coordinates in 16 bits.
  return height > 0 && width > 0 && height <= 0x7FFF && width <= 0x7FFF;
}

int drive_plain(const MatchContext* ctx, const std::uint8_t* pixels, int height, int width,
                ScoreMapRoutine detector, KeyPointFinisher finisher, KeyPoint** points,
                int* count) {
  const int skip = zyl::matchlib::param_get(ctx, kKeySkipBright, 0);
  {
    Bytes smoothed(area(height, width));
    if (const int st =
            zyl::matchlib::binomial3x3<std::uint8_t>(pixels, height, width, smoothed.data()))
      return st;
    Bytes map(area(height, width), 0);
    if (const int st = detector(ctx, smoothed.data(), height, width, map.data())) return st;
    if (const int st = collect_points(ctx, pixels, map.data(), height, width, kPlainBorder, skip,
                                      points, count))
      return st;
  }
  return finisher(ctx, pixels, height, width, *points, *count);
}

int drive_resampled(const MatchContext* ctx, const std::uint8_t* pixels, int height, int width,
                    ScoreMapRoutine detector, KeyPointFinisher finisher, KeyPoint** points,
                    int* count) {
  const int border = std::max(border_radius(ctx), 3);
  const int skip = zyl::matchlib::param_get(ctx, kKeySkipBright, 0);
  const int scale = zyl::matchlib::param_get(ctx, kKeyScale, 16);
  const int pre = zyl::matchlib::param_get(ctx, kKeyPreSmooth, 1);
  const int post = zyl::matchlib::param_get(ctx, kKeyPostSmooth, 1);
  const long wh = static_cast<long>(height) * scale / 16, ww = static_cast<long>(width) * scale / 16;
  // A scale that leaves no working pixels (or more than the points can
  // address) is a bad setting, not an empty result.
  if (!sizes_fit(static_cast<int>(std::min(wh, 0x8000L)), static_cast<int>(std::min(ww, 0x8000L))))
    return ML_BAD_ARGUMENT;
  const int h2 = static_cast<int>(wh), w2 = static_cast<int>(ww);
  Bytes map(area(h2, w2), 0), work(area(h2, w2)), full(area(height, width));
  if (scale == 16) {
    std::memcpy(work.data(), pixels, work.size());
  } else if (const int st =
                 zyl::matchlib::img_resize_u8(pixels, height, width, work.data(), h2, w2)) {
    return st;
  }
  if (const int st = smooth_passes(work.data(), h2, w2, pre)) return st;
  if (const int st = detector(ctx, work.data(), h2, w2, map.data())) return st;
  std::uint8_t* scores = map.data();
  if (scale != 16) {
    if (const int st = zyl::matchlib::img_resize_u8(map.data(), h2, w2, full.data(), height, width))
      return st;
    scores = full.data();
  }
  if (const int st = collect_points(ctx, pixels, scores, height, width, border, skip, points,
                                    count))
    return st;
  std::memcpy(full.data(), pixels, full.size());
  if (const int st = smooth_passes(full.data(), height, width, post)) return st;
  return finisher(ctx, full.data(), height, width, *points, *count);
}

constexpr ExtractDriver kRecords[EXTDRV_RECORD_COUNT] = {
    {extdrv_drive_plain, corner_score_map_sparse, keypoint_orient},
    {extdrv_drive_resampled, corner_score_map_dense, keypoint_orient},
    {extdrv_drive_resampled, variance_score_map, keypoint_orient},
    {extdrv_drive_resampled, ring_corner_score_map, keypoint_orient},
    {extdrv_drive_plain, saddle_score_map, keypoint_orient},
    {extdrv_drive_resampled, saddle_score_map, keypoint_orient},
    {extdrv_drive_plain, extremum_score_map, keypoint_orient},
    {extdrv_drive_resampled, extremum_score_map, keypoint_orient},
};

bool bad_drive(const std::uint8_t* pixels, int height, int width, ScoreMapRoutine detector,
               KeyPointFinisher finisher, KeyPoint** points, int* count) {
  return !pixels || !detector || !finisher || !points || !count || !sizes_fit(height, width);
}

}  // namespace

int run_driver(const MatchContext* ctx, const std::uint8_t* pixels, int height, int width,
               int record, KeyPoint** points, int* count) {
  const ExtractDriver& r = kRecords[record - 1];
  return r.driver(ctx, pixels, height, width, r.detector, r.finisher, points, count);
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API const ExtractDriver* extdrv_record(int number) {
  return number >= 1 && number <= EXTDRV_RECORD_COUNT ? &kRecords[number - 1] : nullptr;
}

ZYL_API int extdrv_run(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                       const ExtractDriver* record, KeyPoint** points, int* count) {
  if (!record || !record->driver) return ML_BAD_ARGUMENT;
  return record->driver(ctx, pixels, height, width, record->detector, record->finisher, points,
                        count);
}

ZYL_API int extdrv_drive_plain(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, ScoreMapRoutine detector, KeyPointFinisher finisher,
                               KeyPoint** points, int* count) {
  if (points) *points = nullptr;
  if (count) *count = 0;
  if (bad_drive(pixels, height, width, detector, finisher, points, count)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return drive_plain(ctx, pixels, height, width, detector, finisher, points, count);
  });
}

ZYL_API int extdrv_drive_resampled(const MatchContext* ctx, const uint8_t* pixels, int height,
                                   int width, ScoreMapRoutine detector, KeyPointFinisher finisher,
                                   KeyPoint** points, int* count) {
  if (points) *points = nullptr;
  if (count) *count = 0;
  if (bad_drive(pixels, height, width, detector, finisher, points, count)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return drive_resampled(ctx, pixels, height, width, detector, finisher, points, count);
  });
}

}  // extern "C"

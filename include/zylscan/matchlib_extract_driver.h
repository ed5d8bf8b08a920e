/* Matcher library keypoint extraction driver: a constant record names the
 * driver (plain or resampling), the score-map detector and the finisher of
 * one keypoint pipeline; extdrv_run runs it. Score maps are height x width
 * bytes, zero where there is no response. Point arrays are malloc'd by the
 * point collection and owned by the caller from then on (also when a later
 * step fails); free them with free(). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef int (*ScoreMapRoutine)(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, uint8_t* map);
typedef int (*KeyPointFinisher)(const MatchContext* ctx, const uint8_t* pixels, int height,
                                int width, KeyPoint* points, int count);
typedef int (*ExtractDriveRoutine)(const MatchContext* ctx, const uint8_t* pixels, int height,
                                   int width, ScoreMapRoutine detector, KeyPointFinisher finisher,
                                   KeyPoint** points, int* count);

typedef struct ExtractDriver {
  ExtractDriveRoutine driver;
  ScoreMapRoutine detector;
  KeyPointFinisher finisher;
} ExtractDriver;

enum { EXTDRV_RECORD_COUNT = 8 };

/* Records 1..8: (plain, sparse corners), (resampled, dense corners),
 * (resampled, local variance), (resampled, ring corners), (plain, saddle),
 * (resampled, saddle), (plain, extremum), (resampled, extremum); all with
 * keypoint_orient as finisher. Null outside 1..8. */
ZYL_API const ExtractDriver* extdrv_record(int number);

/* Calls the record's driver with its detector and finisher. */
ZYL_API int extdrv_run(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                       const ExtractDriver* record, KeyPoint** points, int* count);
/* Smooths a copy once, scores it, collects with border 4 from the input
 * pixels (skip flag: key 0xd35784c3) and finishes on the input pixels. */
ZYL_API int extdrv_drive_plain(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, ScoreMapRoutine detector, KeyPointFinisher finisher,
                               KeyPoint** points, int* count);
/* Resizes by key 0xaa63d8e3 sixteenths (16: none), smooths key 0x96a90e2e
 * times, scores, resizes the map back, collects with border max(3, border
 * radius) and finishes on a copy smoothed key 0xf21fe861 times. */
ZYL_API int extdrv_drive_resampled(const MatchContext* ctx, const uint8_t* pixels, int height,
                                   int width, ScoreMapRoutine detector, KeyPointFinisher finisher,
                                   KeyPoint** points, int* count);

ZYL_EXTERN_C_END

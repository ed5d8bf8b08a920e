/* Matcher library multi-sample enrolment: an enrolment object that takes
 * finished templates, checks their grid coverage and size, refuses one at
 * the place of a matching earlier sample, keeps the samples ordered by the
 * distance to their nearest matching neighbour and merges the accepted
 * ones into a multi-view template. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_enrol.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct MultiSampleSettings {
  uint16_t capacity;        /* 0 refuses creation */
  uint8_t most_compared;    /* earlier samples compared, 0 = all */
  uint32_t serialise_flag;
  uint32_t add_flag;        /* views added with flag 2 when non-zero */
  uint32_t size_limit;      /* 0 = none */
  uint16_t keep_marks;      /* 0 or 1 */
  uint16_t shift_tolerance;
  uint8_t angle_tolerance;
  uint8_t maximum_views;
  int32_t least_coverage;   /* percent */
  int16_t least_distance;
  uint16_t least_size;      /* bytes */
} MultiSampleSettings;

typedef struct MultiSampleSlot {
  DataBlob* tmpl;
  int16_t distance;
  uint8_t mark;
} MultiSampleSlot;

typedef struct MultiSampleEnrol {
  EnrolSession head; /* operation slots and observer */
  MatchEngine* engine;
  MatchContext* context;
  FingerInfo* finger;
  const EnrolHooks* hooks;
  uint32_t format;
  MultiSampleSettings settings;
  uint16_t accepted, pending, spare;
  MultiSampleSlot* slots; /* capacity entries */
  uint32_t total_size;
} MultiSampleEnrol;

/* Null for a zero capacity or memory failure. */
ZYL_API EnrolSession* multi_enrol_create(MatchEngine* engine, MatchContext* context,
                                         FingerInfo* finger, const EnrolHooks* hooks,
                                         uint32_t format, const MultiSampleSettings* settings);
/* Settings from the engine's configuration and the context's parameters;
 * null for a keep-marks flag of 2 or more or a zero capacity (the smaller
 * of the configuration's first unnamed byte and its most views). Writes
 * parameter 0x8c846b0a (default the configuration's view-selection word)
 * into that word, which every add reads as the promotion mode. */
ZYL_API EnrolSession* multi_enrol_create_default(MatchEngine* engine, FingerInfo* finger,
                                                 const EnrolHooks* hooks, uint8_t most_compared,
                                                 uint16_t keep_marks);
/* Takes a finished template (18 for none or when an image is given); 19
 * when full or when the size limit is reached; *progress (optional) 0, or
 * 100 once full. */
ZYL_API int multi_enrol_add(EnrolSession* enrolment, GrayImage* image, DataBlob* tmpl,
                            void* progress);
ZYL_API int multi_enrol_count(EnrolSession* enrolment);
ZYL_API int multi_enrol_set_tolerance(EnrolSession* enrolment, uint16_t shift, uint8_t angle,
                                      void* unused);
/* 17 with fewer accepted samples than parameter 0x91d9186a (default 1); 2; 9;
 * the status of adding the samples when that fails, 19 also when the
 * template keeps none of them (a size limit below every sample's size). */
ZYL_API int multi_enrol_finalise(EnrolSession* enrolment, uint8_t maximum_views, DataBlob** out,
                                 void* unused);
ZYL_API int multi_enrol_finalise_engine(MatchEngine* engine, EnrolSession* enrolment,
                                        DataBlob** out);
ZYL_API void multi_enrol_destroy(EnrolSession* enrolment);
/* A pointer to a constant zero word of the module; nothing calls it. */
ZYL_API const uint32_t* multi_enrol_zero_word(void);

ZYL_EXTERN_C_END

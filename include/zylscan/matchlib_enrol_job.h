/* Matcher library enrolment job: a third enrolment object that keeps its
 * samples in a plain array, refuses poor and small samples and checks each
 * new sample against the stored ones; and the process-wide result slot of
 * the capture-driven enrolment. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_enrol.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct EnrolJobSettings {
  uint16_t sample_limit;
  uint8_t quality_minimum;  /* percent of non-empty grid cells */
  uint32_t minimum_size;    /* bytes */
  int16_t score_minimum;    /* least distance to the nearest matching sample */
  uint32_t size_limit;      /* of all samples together, 0 = none */
  uint32_t reject_duplicates;
  uint16_t shift_limit;
  uint8_t angle_limit;
} EnrolJobSettings;

typedef struct EnrolJobSample {
  DataBlob* blob;
  uint16_t score;
  uint8_t accepted;
} EnrolJobSample;

typedef struct EnrolJob {
  EnrolSession head;
  MatchContext* context;
  MatchEngine* engine;
  FingerInfo* finger;
  void* user;
  int32_t format;
  EnrolJobSettings settings;
  const EnrolHooks* hooks; /* events and progress, or null */
  void* hooks_data;
  uint16_t count;
  EnrolJobSample* samples; /* sample_limit entries */
  uint32_t total_size;
} EnrolJob;

/* Null when memory runs out or the context has no engine. */
ZYL_API EnrolSession* enrol_job_create(MatchContext* context, FingerInfo* finger, void* user,
                                       const EnrolJobSettings* settings, const EnrolHooks* hooks,
                                       void* hooks_data);
/* Null also when hooks are given without their data or duplicate rejection is set. */
ZYL_API EnrolSession* enrol_job_create_guarded(MatchContext* context, FingerInfo* finger,
                                               void* user, const EnrolJobSettings* settings,
                                               const EnrolHooks* hooks, void* hooks_data);
/* Settings from the engine's configuration and the context's parameters. */
ZYL_API EnrolSession* enrol_job_create_from_params(MatchContext* context, FingerInfo* finger,
                                                   void* user, const EnrolHooks* hooks,
                                                   void* hooks_data);
/* 18 for no template or an image given; 19 when full, also when the
 * engine's multi-view template cannot hold the sample beside the stored ones
 * (its most views reached); 21 for a poor, small or (with duplicate
 * rejection) duplicate sample. A sample refused with any status is not kept
 * and the stored samples stay as they were. */
ZYL_API int enrol_job_add(EnrolSession* job, GrayImage* image, DataBlob* tmpl, void* progress);
ZYL_API int enrol_job_count(EnrolSession* job);
ZYL_API int enrol_job_set_tolerance(EnrolSession* job, uint16_t shift, uint8_t angle, void* unused);
/* 17 with fewer samples than parameter 0x91d9186a (default 1); 2; 9; 19
 * when the template keeps none of the samples (maximum views 0). */
ZYL_API int enrol_job_finalise(EnrolSession* job, uint8_t maximum_views, DataBlob** out,
                               void* unused);
/* 1 when the engine's format differs from the job's. */
ZYL_API int enrol_job_finalise_engine(MatchEngine* engine, EnrolSession* job, DataBlob** out);
ZYL_API void enrol_job_destroy(EnrolSession* job);

/* Releases the slot's blob and keeps a new reference; 0. */
ZYL_API int enrol_result_slot_set(DataBlob* blob);
/* Hands the slot's blob to the caller and empties the slot. */
ZYL_API DataBlob* enrol_result_slot_take(void);

ZYL_EXTERN_C_END

/* Matcher library session: accompanies one engine through an enrolment and
 * verification life, keeps counters, settings and a log of the last 1000
 * events, and saves itself to one self-describing byte block ("KWZR" ...
 * "RZWK"). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_accum.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  SESSION_VERSION = 5,
  SESSION_LOG_SIZE = 1000,
  SESSION_SETTINGS = 4,
  SESSION_STATISTICS = 11,
  SESSION_MAX_TILES = 21,
  /* Event types. */
  SESSION_EVENT_FINALISED = 0,
  SESSION_EVENT_VERIFIED = 1,
  SESSION_EVENT_COMMITTED = 2,
  SESSION_EVENT_ADDED = 3,
  /* Parameter that receives setting S0. */
  SESSION_S0_PARAMETER = (int32_t)0xfb0008aa
};

/* Statistics T0..T10. */
enum {
  SESSION_FINISHED_ENROLMENTS,
  SESSION_ACCEPTED,
  SESSION_REJECTED,
  SESSION_COMMITTED,
  SESSION_ACCEPTED_SINCE_ENROLMENT,
  SESSION_REJECTED_SINCE_ENROLMENT,
  SESSION_CONSECUTIVE_ACCEPTS,
  SESSION_CONSECUTIVE_REJECTS,
  SESSION_TEMPLATE_UPDATES,
  SESSION_ACCEPTED_SINCE_UPDATE,
  SESSION_REJECTED_SINCE_UPDATE
};

typedef struct SessionEvent {
  uint8_t type;     /* 0..7 */
  int32_t code;     /* low 5 bits kept in the saved form */
  uint8_t payload[4];
} SessionEvent;

typedef struct SessionImageNode SessionImageNode;
struct SessionImageNode {
  SessionImageNode* next;
  SessionImageNode* previous;
  GrayImage* image; /* one reference held */
  int32_t seen;
  int32_t enrolled;
};

typedef struct MatcherSession MatcherSession;
struct MatcherSession {
  uint32_t refcount;
  int32_t version;
  ImpressionAccumulator* accumulator; /* or null */
  int32_t settings[SESSION_SETTINGS];
  int32_t statistics[SESSION_STATISTICS];
  SessionEvent events[SESSION_LOG_SIZE]; /* ring: index = event number mod 1000 */
  int32_t event_total;
  SessionImageNode* first_image;
  SessionImageNode* last_image;
  int32_t image_count;
  EnrolSession* enrolment; /* or null */
  int32_t trigger_done;
  MatchEngine* engine; /* one reference */
  MatchResult* pending; /* owned, or null */
  void* user_data;
  void (*user_release)(void* user_data);
  GrayImage* accepted_image;
  DataBlob* accepted_template;
  uint8_t drift_updates; /* U0 */
  uint8_t skip_count;    /* U1 */
  void (*destroy)(MatcherSession* session);
};

/* settings: S0..S3 as four native i32 (16 bytes) or null for zeros.
 * 2 without engine or out; 9. */
ZYL_API int session_create(const int32_t* settings, MatchEngine* engine, MatcherSession** out);
/* Null session: 0 and a null copy; 2 without engine; 9. The copy shares the
 * engine, carries settings, statistics, the log and a deep copy of the
 * accumulator (none when the session has none). */
ZYL_API int session_copy(const MatcherSession* session, MatcherSession** out);
ZYL_API MatcherSession* session_retain(MatcherSession* session);
ZYL_API void session_release(MatcherSession* session);
ZYL_API void session_set_user_data(MatcherSession* session, void* data,
                                   void (*release)(void* data));
ZYL_API void* session_user_data(const MatcherSession* session);
/* Empties the accumulator (0 without one; 2 for null). */
ZYL_API int session_reset_accumulator(MatcherSession* session);
/* Two entry points of the session's table that answer 0 and do nothing,
 * whatever they are given. */
ZYL_API int session_reserved_first(MatcherSession* session);
ZYL_API int session_reserved_second(MatcherSession* session);
/* Releases the enrolment object and the image list; 0. */
ZYL_API int session_reset_enrolment(MatcherSession* session);

/* Adds impressions to the accumulator (made from the first image when the
 * session has none), after the six-image trigger when it is due: 0; 2 for
 * a null session or an empty list; 9; the first failing add's status.
 * Logs event 3 with the status and the number offered. */
ZYL_API int session_add_images(MatcherSession* session, GrayImage* const* images, int n);
/* The same for one image, with the given context (the engine's when null). */
ZYL_API int session_add_image(MatcherSession* session, MatchContext* context, GrayImage* image);
/* Finalises the enrolment of the listed impressions into a multi-view
 * template (an empty enrolment when none is under way), logs event 0 with
 * the status and the number of enrolled impressions, and ends the
 * enrolment: the enrolment object, the image list, the trigger and the
 * pending result are dropped. On success T0 counts up and T4, T5 restart. */
ZYL_API int session_finalise_enrolment(MatcherSession* session, DataBlob** out);

/* What session_add_impression reports about an image. */
typedef struct SessionImageStatistics {
  uint8_t foreground_percent;
  uint8_t quality;
  uint8_t block_contrast;
  uint8_t reserved;
  int32_t engine_rating; /* the engine's rating under setting S1 */
} SessionImageStatistics;
typedef struct SessionImageMatch {
  uint8_t best_overlap;  /* with the enrolment's samples */
  uint8_t first_overlap; /* with the first enrolled impression, when it matches */
  uint16_t best_score;
} SessionImageMatch;
/* Lists an impression (accumulating it when new) and marks it seen; with
 * the outputs, its statistics (17 when one cannot be measured) and how it
 * compares with the enrolment's samples. 2; 9; the add's, the engine's or
 * the comparison's status. */
ZYL_API int session_add_impression(MatcherSession* session, GrayImage* image,
                                   SessionImageStatistics* statistics, SessionImageMatch* match);
/* Offers impressions to the enrolment (listing and accumulating new
 * ones); the last becomes the accepted image with its template. 17
 * without session or images, 2 for n = 0; a failure ends the enrolment.
 * *enrolled (optional): the number of enrolled impressions. */
ZYL_API int session_enrol_images(MatcherSession* session, GrayImage* const* images, int n,
                                 int* enrolled, void* sample_data);

/* The caller's own decision on a pending result. */
typedef struct SessionDecision {
  int32_t present;  /* 1: the record holds a decision */
  int32_t decision; /* 1 match, 0 no match */
  int32_t level;    /* FAR level it was taken at; -1: none */
} SessionDecision;

/* Commits the pending verification result: a matching result's probe
 * image becomes the accepted image (its template extracted through the
 * engine); with `out`, a matching result that carries its gallery template
 * and probe image is adapted into a new multi-view template through the
 * engine's template-adapt operation. Logs event 2; the pending result is
 * gone afterwards. 1 without a pending result; 2; the extraction's or the
 * adaptation's status. */
ZYL_API int session_commit_result(MatcherSession* session, DataBlob** out);
/* As session_commit_result after putting the caller's decision into the
 * pending result (only a present record with a level; otherwise nothing is
 * adapted); 22 when the result had decided otherwise. */
ZYL_API int session_commit_with_decision(MatcherSession* session, const SessionDecision* decision,
                                         DataBlob** out);

enum {
  SESSION_RECORD_VERSION = 1,
  SESSION_RECORD_MAX_SCORES = 64
};

/* Replays a verification record against a multi-view template. The record
 * blob holds a stored minutia pairing (pairing_write form) followed by the
 * result record: version byte (below 2), BE u32 key of the matched view,
 * BE u16 best value, byte m, m BE u16 sub-scores, a stage selector byte,
 * then the keypoint extension blobs of the matched view and of the probe
 * (blob_write form, a single 0 byte when absent). The probe is matched
 * against that view with the pairing; the m-entry vector (the new
 * sub-scores first, at most m of them, then the record's) is fused by the
 * selected stage and put on the FAR scale for the template's view count.
 * The caller's decision stands unless at most m new sub-scores were found,
 * they equal the record's and the fused score equals the record's best
 * value: the decision then becomes a match when the FAR-scale score beats
 * FAR level 9. With `update` and a match, the probe replaces the view the
 * template picks and the template is returned. 0; 2; 1 for a record
 * version of 2 or more; 17 for a malformed record or more than 64
 * sub-scores; 6 for an unknown view; 9; the matcher's status. */
ZYL_API int session_update_from_record(MatchEngine* engine, DataBlob* multi_view, DataBlob* probe,
                                       DataBlob* record, int update, SessionDecision* decision,
                                       DataBlob** out);

enum {
  SESSION_DECISION_BYTES = 4,
  /* scratch_value of a result that was passed over without matching. */
  SESSION_RESULT_SKIPPED = 1,
  /* FAR level of the comparison of the stored template with a new match. */
  SESSION_DRIFT_LEVEL = 15,
  /* Parameter switching on the relaxed second decision at FAR level 8. */
  SESSION_RELAX_PARAMETER = (int32_t)0xe2d5c90d
};

/* Verifies a probe image against n (1..255) multi-view templates (format
 * 80) at a FAR level (0..28) and leaves the result pending for
 * session_commit_result; *out receives a copy that the caller releases.
 * decision: SESSION_DECISION_BYTES bytes or null for zeros; byte 0 is
 * logged, byte 2 selects the learned model level (0..9). The bytes are
 * kept in the first four bytes of the result's scratch area.
 *
 * The probe is accumulated as by session_add_image. Both thresholds are
 * the level adjusted for the attempts since the last enrolment (T4 + T5,
 * one less for a re-presented probe, i.e. one whose image flag word is
 * not 0) by the engine's FAR adjustments 1 and 2: the first decides and
 * goes to requested_level, the stricter goes to second_level. While U1 is
 * not 0 the attempt is passed over (decision 0, scratch_value
 * SESSION_RESULT_SKIPPED). Otherwise, when the engine's quality decision
 * under S2 lets the image through, the engine matches it. A rejection is
 * taken back at FAR level 8 when SESSION_RELAX_PARAMETER is set, at most
 * 200 attempts were counted and the four newest successful verifications
 * all reached level 8 or more. After a match the stored accepted template
 * is compared with the probe's at SESSION_DRIFT_LEVEL: four comparisons in
 * a row whose result value (values[1]) stays within 16 of the score-step
 * value of their count make the next three attempts pass over. With a
 * quality model, a match (or any attempt at level 28) is confirmed by
 * learned_match_score of the probe's template against the accepted
 * template, which must reach the selected level's threshold (no accepted
 * template: the engine's decision stands). reached_level receives the
 * level the score reaches (the decision level after a relaxed decision).
 * Counters T1, T2, T4..T7, T9, T10 follow the outcome; a re-presented
 * probe first takes back the previous attempt's counts (never below 0).
 * A type-1 event {byte 0, decision level, stricter level, reached level}
 * with the status is logged for every attempt past the argument checks.
 * 0; 1 when a result is pending; 2 for a bad argument, a template of
 * another format or a model level above 9; 9; the accumulator's, the
 * engine's, the matcher's or the learned score's status (nothing is
 * pending and no counter moves then). */
ZYL_API int session_verify(MatcherSession* session, DataBlob* const* gallery, int n,
                           GrayImage* probe, int level, const uint8_t* decision,
                           MatchResult** out);
/* session_verify, and on a match a replay record for
 * session_update_from_record: the pairing of the matched view with the
 * probe's template, the keypoint sub-scores that the pairing gives between
 * their reduced forms (template_reduce_keypoints) with the extension
 * blocks, the view's key, the deciding stage and that stage's fusion of the
 * sub-scores, as a format-0 blob in *out_record; the probe's reduced
 * template in *out_reduced. Without a match both stay null. A failing
 * record answers its status (17 for more than 64 sub-scores or a size
 * mismatch, 2 for a deciding stage without fusion profile) and drops the
 * copy; the verification itself stands and its result stays pending. */
ZYL_API int session_verify_with_record(MatcherSession* session, DataBlob* const* gallery, int n,
                                       GrayImage* probe, int level, const uint8_t* decision,
                                       MatchResult** out, DataBlob** out_record,
                                       DataBlob** out_reduced);

/* 0 with a new malloc'd block (the caller frees it); 2, 9. */
ZYL_API int session_save(const MatcherSession* session, uint8_t** out, uint32_t* out_size);
/* 2 for a null block, zero size or no engine; 4 below 10 bytes; 1 for a
 * wrong head or trailer or a malformed section; 9. */
ZYL_API int session_restore(const uint8_t* block, uint32_t size, MatchEngine* engine,
                            MatcherSession** out);

/* Event log. */
ZYL_API int session_event_count(const MatcherSession* session);
/* The i-th newest entry, or null. */
ZYL_API const SessionEvent* session_event_at(const MatcherSession* session, int i);
/* 2 for a null session or a type above 7; copies at most the type's
 * payload length. */
ZYL_API int session_log_event(MatcherSession* session, int type, int32_t code,
                              const uint8_t* payload, int length);
/* Over type-1 events with code 0, newest first. */
ZYL_API int session_count_recent_type1(const MatcherSession* session, int threshold, int limit);
/* Rounded mean of the fourth payload byte of the newest `limit`; 28 when none. */
ZYL_API int session_mean_recent_type1(const MatcherSession* session, int limit);
/* Copies the four payload bytes of each into buffer (4 bytes an entry),
 * up to *count entries; *count receives the number copied. */
ZYL_API int session_collect_type1(const MatcherSession* session, uint8_t* buffer, int* count);

/* Splits an image with the engine's tiling request into new tiles (at most
 * SESSION_MAX_TILES entries of `tiles`); 1 when the request yields 22 or more. */
ZYL_API int session_tiling(const MatcherSession* session, GrayImage* image, GrayImage** tiles,
                           int* count);

/* The template's format-86 sample information and format-79 keypoints:
 * the keypoint record's extension blocks as a format-0 blob, and a new
 * container of the sample information and the keypoints without their
 * extension data. Either output may be null. The section lookup's status,
 * the record parser's, or 9. */
ZYL_API int template_reduce_keypoints(const DataBlob* tmpl, DataBlob** out_extensions,
                                      DataBlob** out_reduced);
/* Every view of a multi-view template reduced as above; 9 when the template
 * does not parse or memory runs out, 17 for a missing view. */
ZYL_API int session_strip_views(DataBlob* multi_view, DataBlob** out);

ZYL_EXTERN_C_END

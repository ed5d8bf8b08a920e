/* Matcher library scores: score models (a vector of integer features fused
 * into one 16-bit score), score profiles (a stage's model and its table of
 * raw-score thresholds by gallery size and FAR level) and the false-accept
 * scale (a FAR of 1 in N as the score round(2048 * log2(N)), 0 .. 63277). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* ---- score models ---- */

/* One record per feature when evaluate is asked for a trace. */
typedef struct ScoreTrace {
  int32_t value;
  int32_t minimum;
  int32_t maximum;
  float mean;
  float spread;
  float weight;
  float contribution;
} ScoreTrace;

typedef int (*ScoreEvaluate)(const int32_t* features, int count, const void* rows, int32_t* out_score,
                             ScoreTrace* trace);
typedef void (*ScoreRowsFree)(void* rows);

typedef struct ScoreModel {
  void* rows;
  int32_t feature_count; /* -1: any number of features */
  ScoreEvaluate evaluate;
  ScoreRowsFree free_rows;
} ScoreModel;

/* Rows of kinds 2 and 3 (mean and spread in 16.16 fixed point). */
typedef struct ScoreLinearRow {
  uint16_t minimum;
  uint16_t maximum;
  uint32_t mean;
  uint32_t spread;
  int16_t weight;
} ScoreLinearRow;

/* Rows of kinds 4 and 5. */
typedef struct ScoreQuadraticRow {
  uint16_t minimum;
  uint16_t maximum;
  uint32_t mean;
  uint32_t spread;
  int16_t weight;
  int16_t quadratic_weight;
} ScoreQuadraticRow;

typedef struct ScoreTerm {
  int32_t minimum;
  int32_t maximum;
  float mean;
  float spread;
  float linear_weight;
  float quadratic_weight;
} ScoreTerm;

typedef struct ScoreTablePoint {
  float x;
  int32_t y;
} ScoreTablePoint;

/* The rows of a kind-6 model. */
typedef struct ScoreTableModel {
  ScoreTerm* terms;
  uint32_t term_count;
  int32_t has_offset_scale;
  float offset;
  float scale;
  ScoreTablePoint* points;
  uint32_t point_count;
} ScoreTableModel;

/* Evaluate routines of the six kinds; a model's kind is known by its routine. */
ZYL_API int score_model_eval_pass(const int32_t* features, int count, const void* rows,
                                  int32_t* out_score, ScoreTrace* trace);
ZYL_API int score_model_eval_linear(const int32_t* features, int count, const void* rows,
                                    int32_t* out_score, ScoreTrace* trace);
ZYL_API int score_model_eval_linear_zero(const int32_t* features, int count, const void* rows,
                                         int32_t* out_score, ScoreTrace* trace);
ZYL_API int score_model_eval_quadratic(const int32_t* features, int count, const void* rows,
                                       int32_t* out_score, ScoreTrace* trace);
ZYL_API int score_model_eval_quadratic_zero(const int32_t* features, int count, const void* rows,
                                            int32_t* out_score, ScoreTrace* trace);
ZYL_API int score_model_eval_table(const int32_t* features, int count, const void* rows,
                                   int32_t* out_score, ScoreTrace* trace);
/* Frees a kind-6 row record with all its parts. */
ZYL_API void score_table_model_free(void* rows);

/* Kind id 1..6 of a model, 0 when its routine is none of the six. */
ZYL_API int score_model_kind(const ScoreModel* model);
ZYL_API int score_model_evaluate(const ScoreModel* model, const int32_t* features, int count,
                                 int32_t* out_score, ScoreTrace* trace);
/* Widens 16-bit sub-scores and evaluates; the score is clamped to 0..65535. */
ZYL_API int score_model_evaluate_u16(const ScoreModel* model, const uint16_t* scores, int count,
                                     uint16_t* out_score, ScoreTrace* trace);
/* Size-or-write: 4 + body bytes; 0 for a model of no known kind. */
ZYL_API uint32_t score_model_write(uint8_t* out, const ScoreModel* model);
/* Fills *model from a serialised model whose bytes the caller guarantees;
 * readers of untrusted bytes use score_model_read_bounded. */
ZYL_API int score_model_read(const uint8_t* in, ScoreModel* model);
/* As score_model_read within `available` bytes; 4 when the record does not
 * fit in them (the model stays empty). */
ZYL_API int score_model_read_bounded(const uint8_t* in, uint32_t available, ScoreModel* model);
/* Frees the rows through the model's free routine, then the model itself. */
ZYL_API void score_model_free(ScoreModel* model);

/* ---- false-accept scale ---- */

enum { FAR_LEVEL_COUNT = 28, FAR_CLASS_COUNT = 7, FAR_SCORE_MAX = 63277, FAR_SCORE_BEYOND = 63278 };

typedef struct FarScaleRow {
  int32_t score;
  int32_t level;
  int32_t n;
} FarScaleRow;

/* Raw-score thresholds: row r is the gallery-size class of 2^r candidates,
 * column L the FAR level L. 0xffff: the level has no threshold. */
typedef struct FarThresholdTable {
  uint16_t t[FAR_CLASS_COUNT][FAR_LEVEL_COUNT];
} FarThresholdTable;

typedef struct ScoreProfile {
  const void* match_ops; /* the lookup key: the stage's StageMatchOps */
  int16_t variant;
  ScoreModel model;
  const FarThresholdTable* thresholds;
} ScoreProfile;

/* The 30 rows of the scale and the 10 step rows (score, index, N). */
ZYL_API const FarScaleRow* far_scale_table(void);
ZYL_API int far_score_from_thresholds(uint16_t raw, int candidates, const FarThresholdTable* table);
ZYL_API int far_threshold_accept(const MatchContext* context, uint16_t raw, uint8_t candidates,
                                 int level, const FarThresholdTable* table, int* out_accept,
                                 uint16_t* out_threshold);
ZYL_API int far_level_to_score(int level);
ZYL_API int far_score_to_level(uint16_t score);
ZYL_API int far_score_add_bits(uint16_t score, int bits);
ZYL_API FarScaleRow far_level_row(int level);
ZYL_API FarScaleRow far_row_from_n(uint32_t n);
ZYL_API FarScaleRow far_row_from_score(uint16_t score);
ZYL_API int far_level_limit(uint32_t level);
ZYL_API int far_level_clamp(int level);
ZYL_API int far_level_shift(int16_t level, int16_t delta);
ZYL_API int score_step_value(int index);
ZYL_API int score_step_passes(int index, int value);

/* ---- score profiles ---- */

ZYL_API const ScoreProfile* score_profile_find(const ScoreProfile* const* profiles,
                                               const void* match_ops, int16_t variant);
ZYL_API int score_profile_fuse(const uint16_t* scores, int16_t count, const ScoreProfile* profile,
                               uint16_t* out_score);

ZYL_EXTERN_C_END

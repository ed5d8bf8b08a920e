/* Matcher library static score-profile data of the light presets.
 *
 * Threshold tables (7 candidate classes x 28 FAR levels) of the light
 * preset's profile and of the light verification preset's two profiles,
 * the neutral table, and the 58-row linear-plus-quadratic model of the
 * verification preset's last stage. Rows 0 (one candidate) and 6 (64
 * candidates) of each table are the product's; rows 1..5 lie between them,
 * linear in log2 of the candidate count. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_score.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { LIGHT_VERIFY_MODEL_FEATURES = 58, LIGHT_VERIFY_MODEL_FIRST_ACTIVE = 30 };

/* All zeros but the last entry, 1: every raw score above 0 passes. */
ZYL_API const FarThresholdTable* far_table_neutral(void);
ZYL_API const FarThresholdTable* far_table_light(void);
ZYL_API const FarThresholdTable* far_table_light_verify(void);
ZYL_API const FarThresholdTable* far_table_light_verify_model(void);

/* The 58 rows of the verification preset's last-stage model (kind 4). */
ZYL_API const ScoreQuadraticRow* score_rows_light_verify(void);
/* A static model over those rows (feature count 58, no free routine). */
ZYL_API ScoreModel score_model_light_verify(void);

ZYL_EXTERN_C_END

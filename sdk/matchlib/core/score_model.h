// The functions of score model that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_score.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int score_model_eval_table(const int32_t* features, int count, const void* rows_ptr, int32_t* out,
                           ScoreTrace* trace);
void score_table_model_free(void* rows);
int score_model_kind(const ScoreModel* model);
int score_model_evaluate(const ScoreModel* model, const int32_t* features, int count,
                         int32_t* out_score, ScoreTrace* trace);
int score_model_evaluate_u16(const ScoreModel* model, const uint16_t* scores, int count,
                             uint16_t* out_score, ScoreTrace* trace);
uint32_t score_model_write(uint8_t* out, const ScoreModel* model);
int score_model_read_bounded(const uint8_t* in, uint32_t available, ScoreModel* model);

}  // namespace zyl::matchlib

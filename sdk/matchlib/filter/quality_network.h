// The functions of quality network that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_quality_model.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

QualityModelHolder* quality_model_create(MatchContext* ctx, const QualityModel* model);
QualityModelHolder* quality_model_create_default(MatchContext* ctx);
void quality_model_release(QualityModelHolder* holder);
const MlpNetwork* quality_model_network(const QualityModelHolder* holder);
int quality_model_level_threshold(const QualityModelHolder* holder, int level);
int mlp_input_count(const MlpNetwork* network);
int mlp_forward(const int32_t* values, const MlpNetwork* network);
void mlp_evaluate_batch(const MlpBatch* batch, const MlpNetwork* network, int32_t* scores);
uint32_t mlp_get_error(void);
void mlp_set_error(uint32_t index);
int mlp_error_status(uint32_t index);

}  // namespace zyl::matchlib

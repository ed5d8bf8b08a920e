// The functions of param store that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_param.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint32_t param_key_hash(const char* text);
int32_t param_get(const MatchContext* ctx, uint32_t key, int32_t fallback);
int32_t param_get_text(const MatchContext* ctx, const char* text, int32_t fallback);
int param_set(MatchContext* ctx, uint32_t key, int32_t value);
int param_set_text(MatchContext* ctx, const char* text, int32_t value);
int param_ensure(MatchContext* ctx, uint32_t key, int32_t fallback);
int param_ensure_text(MatchContext* ctx, const char* text, int32_t fallback);
void param_remove_text(MatchContext* ctx, const char* text);
int param_set_sensor_type(MatchContext* ctx, int32_t value);
int param_set_sensor_size(MatchContext* ctx, int32_t value);
int32_t param_get_sensor_size(const MatchContext* ctx);
int param_set_360(MatchContext* ctx, int32_t value);
int32_t param_get_360(const MatchContext* ctx);

}  // namespace zyl::matchlib

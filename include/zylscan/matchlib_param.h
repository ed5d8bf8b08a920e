/* Matcher library parameters: int values addressed by the 32-bit hash of a
 * dotted key text ("vn.algorithm.sensor_type"), kept in the context's store
 * (attachment key 8) or, for a null context, in the process-wide store,
 * which is also the fallback of every read. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct ParamStore ParamStore;

/* One record of param_list: the store keeps no key texts, so the text is
 * all zero; the value is -1 for a locked entry. */
typedef struct ParamRecord {
  char text[64];
  int32_t value;
} ParamRecord;

ZYL_API uint32_t param_key_hash(const char* text);
ZYL_API int32_t param_get(const MatchContext* ctx, uint32_t key, int32_t fallback);
ZYL_API int32_t param_get_text(const MatchContext* ctx, const char* text, int32_t fallback);
/* 0, 3 for a locked entry, 9 when memory runs out. */
ZYL_API int param_set(MatchContext* ctx, uint32_t key, int32_t value);
ZYL_API int param_set_text(MatchContext* ctx, const char* text, int32_t value);
ZYL_API int param_ensure(MatchContext* ctx, uint32_t key, int32_t fallback);
ZYL_API int param_ensure_text(MatchContext* ctx, const char* text, int32_t fallback);
ZYL_API void param_remove_text(MatchContext* ctx, const char* text);
ZYL_API void param_clear(MatchContext* ctx);
/* The context's own entries, newest first, in a new malloc'd array that the
 * caller frees (never null on success). 0, 2 for a null context or output,
 * 9 when memory runs out. */
ZYL_API int param_list(const MatchContext* ctx, ParamRecord** out_records, int* out_count);
ZYL_API void param_store_destroy(void* store);

ZYL_API int param_set_sensor_type(MatchContext* ctx, int32_t value);
ZYL_API int32_t param_get_sensor_type(const MatchContext* ctx);
ZYL_API int param_set_sensor_size(MatchContext* ctx, int32_t value);
ZYL_API int32_t param_get_sensor_size(const MatchContext* ctx);
ZYL_API int param_set_360(MatchContext* ctx, int32_t value);
ZYL_API int32_t param_get_360(const MatchContext* ctx);

ZYL_EXTERN_C_END

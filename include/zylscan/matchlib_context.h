/* Matcher library context: the root object, a reference-counted list of
 * keyed attachments (8 the parameter store, 9 the enrolment or
 * identification object, 11 the engine), and the library's identity. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct MatchContext MatchContext;
typedef struct MatchEngine MatchEngine;
typedef void (*AttachmentDestroy)(void* value);

enum MatchContextKey {
  CTX_KEY_PARAMS = 8,
  CTX_KEY_ENROLMENT = 9,
  CTX_KEY_ENGINE = 11
};

ZYL_API MatchContext* ctx_create(void);
ZYL_API MatchContext* ctx_create_or_retain(MatchContext* ctx);
ZYL_API MatchContext* ctx_retain(MatchContext* ctx);
ZYL_API void ctx_release(MatchContext* ctx);
ZYL_API void ctx_destroy(MatchContext* ctx);
ZYL_API void* ctx_find(const MatchContext* ctx, int32_t key);
/* Replaces the first attachment of the key (destroying its value) with the
 * value, attached in front. 0, 2 for a null context, 9 when memory runs out
 * (the old attachment then stays and the caller still owns the value). */
ZYL_API int ctx_attach(MatchContext* ctx, void* value, int32_t key, AttachmentDestroy destroy);
ZYL_API void ctx_detach(MatchContext* ctx, int32_t key);
ZYL_API MatchEngine* ctx_get_engine(const MatchContext* ctx);
ZYL_API uint32_t ctx_refcount(const MatchContext* ctx);
ZYL_API uint32_t ctx_attachment_count(const MatchContext* ctx);

ZYL_API const char* lib_framework_name(void);
ZYL_API const char* lib_release_name(void);
ZYL_API int lib_version_number(void);
ZYL_API const char* lib_build_id(void);

ZYL_EXTERN_C_END

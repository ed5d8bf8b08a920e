/* Matcher library enrolment-object dispatch: every multi-sample enrolment
 * object starts with the same operation slots followed by an optional
 * observer, and is reached only through these calls. Also the callback
 * holder, a counted wrapper of a caller's callback and its data. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_sensor.h" /* event codes */
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct EnrolSession EnrolSession;
typedef int (*EnrolAddSample)(EnrolSession* session, GrayImage* image, DataBlob* tmpl, void* user);

/* The head every enrolment object starts with. */
struct EnrolSession {
  EnrolAddSample add_sample;
  int (*count)(EnrolSession* session);
  int (*finalise)(EnrolSession* session, uint8_t max_views, DataBlob** out, void* further);
  int (*finalise_engine)(MatchEngine* engine, EnrolSession* session, DataBlob** out);
  void (*destroy)(EnrolSession* session);
  int (*optional)(EnrolSession* session, void* a, void* b, void* c, void* d, void* e); /* may be null */
  int (*set_limits)(EnrolSession* session, uint16_t a, uint8_t b, void* further);
  MatchContext* (*context)(EnrolSession* session); /* may be null */
  int (*reset)(EnrolSession* session);             /* may be null */
  /* observer */
  void* observer_data;
  EnrolAddSample observer;
  void (*observer_release)(void* observer_data);
  int32_t setting;
};

/* 2 for a null object; the observer (when set) runs before slot 0. */
ZYL_API int enrol_add_sample(EnrolSession* session, GrayImage* image, DataBlob* tmpl, void* user);
/* 0 for a null object or slot. */
ZYL_API int enrol_count(EnrolSession* session);
ZYL_API int enrol_finalise(EnrolSession* session, uint8_t max_views, DataBlob** out, void* further);
ZYL_API int enrol_finalise_engine(MatchEngine* engine, EnrolSession* session, DataBlob** out);
ZYL_API void enrol_destroy(EnrolSession* session);
ZYL_API int enrol_call_optional(EnrolSession* session, void* a, void* b, void* c, void* d, void* e);
ZYL_API int enrol_set_limits(EnrolSession* session, uint16_t a, uint8_t b, void* further);
ZYL_API void enrol_set_value(EnrolSession* session, int32_t value);
/* The object's context (null without the slot). */
ZYL_API MatchContext* enrol_context(EnrolSession* session);
/* 2 for a null object, 18 without the slot. */
ZYL_API int enrol_reset(EnrolSession* session);

/* Hooks of an enrolment object, called with the enrolment's context;
 * every routine may be null. */
typedef struct EnrolHooks {
  int (*event)(MatchContext* context, int code, FingerInfo* finger);
  int (*layout)(MatchContext* context, void* corner_lists, int tree_count);
  void (*picture)(MatchContext* context, GrayImage* image);
  void* unused;
  void (*progress)(MatchContext* context, int count, int capacity);
  int (*veto)(MatchContext* context, void* record); /* 0 refuses */
} EnrolHooks;
/* Installs an observer (the previous one released first). */
ZYL_API void enrol_set_observer(EnrolSession* session, void* data, EnrolAddSample callback,
                                void (*release)(void* data));

typedef int (*HolderCallback)(void* user, void* a, void* b, void* c);
typedef struct CallbackHolder CallbackHolder;
struct CallbackHolder {
  int32_t refcount;
  void* user;
  HolderCallback callback;
  void (*release_user)(void* user); /* may be null */
  void (*destroy)(CallbackHolder* holder);
};

ZYL_API CallbackHolder* callback_holder_create(void* user, HolderCallback callback,
                                               void (*release_user)(void* user));
ZYL_API CallbackHolder* callback_holder_retain(CallbackHolder* holder);
ZYL_API void callback_holder_release(CallbackHolder* holder);
ZYL_API void callback_holder_destroy(CallbackHolder* holder);
/* 2 for a null holder, 18 without a callback. */
ZYL_API int callback_holder_call(CallbackHolder* holder, void* a, void* b, void* c);

ZYL_EXTERN_C_END

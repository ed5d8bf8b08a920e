// Dispatch of the enrolment objects' operation slots, and the callback holder.
#include <cstdint>
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/engine/enrol_dispatch.h"

using zyl::matchlib::ml_malloc;

int zyl::matchlib::enrol_add_sample(EnrolSession* s, GrayImage* image, DataBlob* tmpl, void* user) {
  if (!s) return ML_BAD_ARGUMENT;
  if (s->observer_data && s->observer) s->observer(s, image, tmpl, user);
  return s->add_sample ? s->add_sample(s, image, tmpl, user) : ML_OUT_OF_LIMITS;
}

int zyl::matchlib::enrol_count(EnrolSession* s) { return s && s->count ? s->count(s) : 0; }

extern "C" ZYL_API int enrol_finalise(EnrolSession* s, uint8_t max_views, DataBlob** out,
                                      void* further) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->finalise ? s->finalise(s, max_views, out, further) : ML_OUT_OF_LIMITS;
}

int zyl::matchlib::enrol_finalise_engine(MatchEngine* engine, EnrolSession* s, DataBlob** out) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->finalise_engine ? s->finalise_engine(engine, s, out) : ML_OUT_OF_LIMITS;
}

void zyl::matchlib::enrol_destroy(EnrolSession* s) {
  if (!s) return;
  if (s->observer_data && s->observer_release) {
    s->observer_release(s->observer_data);
    s->observer_data = nullptr;
    s->observer = nullptr;
    s->observer_release = nullptr;
  }
  if (s->destroy) s->destroy(s);
}

extern "C" ZYL_API int enrol_call_optional(EnrolSession* s, void* a, void* b, void* c, void* d,
                                           void* e) {
  return s && s->optional ? s->optional(s, a, b, c, d, e) : 0;
}

extern "C" ZYL_API int enrol_set_limits(EnrolSession* s, uint16_t a, uint8_t b, void* further) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->set_limits ? s->set_limits(s, a, b, further) : ML_OUT_OF_LIMITS;
}

extern "C" ZYL_API void enrol_set_value(EnrolSession* s, int32_t value) {
  if (s) s->setting = value;
}

MatchContext* zyl::matchlib::enrol_context(EnrolSession* s) {
  return s && s->context ? s->context(s) : nullptr;
}

int zyl::matchlib::enrol_reset(EnrolSession* s) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->reset ? s->reset(s) : ML_OUT_OF_LIMITS;
}

void zyl::matchlib::enrol_set_observer(EnrolSession* s, void* data, EnrolAddSample callback,
                                       void (*release)(void* data)) {
  if (!s) return;
  if (s->observer_data && s->observer_release) s->observer_release(s->observer_data);
  s->observer_data = data;
  s->observer = callback;
  s->observer_release = release;
}

extern "C" ZYL_API CallbackHolder* callback_holder_create(void* user, HolderCallback callback,
                                                          void (*release_user)(void* user)) {
  auto* h = static_cast<CallbackHolder*>(ml_malloc(sizeof(CallbackHolder)));
  if (!h) return nullptr;
  *h = CallbackHolder{1, user, callback, release_user, callback_holder_destroy};
  return h;
}

extern "C" ZYL_API CallbackHolder* callback_holder_retain(CallbackHolder* h) {
  if (h) ++h->refcount;
  return h;
}

extern "C" ZYL_API void callback_holder_release(CallbackHolder* h) {
  if (!h || --h->refcount != 0) return;
  if (h->release_user) h->release_user(h->user);
  if (h->destroy) h->destroy(h);
}

extern "C" ZYL_API void callback_holder_destroy(CallbackHolder* h) { std::free(h); }

extern "C" ZYL_API int callback_holder_call(CallbackHolder* h, void* a, void* b, void* c) {
  if (!h) return ML_BAD_ARGUMENT;
  return h->callback ? h->callback(h->user, a, b, c) : ML_OUT_OF_LIMITS;
}

extern "C" {

ZYL_API int enrol_add_sample(EnrolSession* s, GrayImage* image, DataBlob* tmpl, void* user) {
  return zyl::matchlib::enrol_add_sample(s, image, tmpl, user);
}
ZYL_API int enrol_count(EnrolSession* s) { return zyl::matchlib::enrol_count(s); }
ZYL_API int enrol_finalise_engine(MatchEngine* engine, EnrolSession* s, DataBlob** out) {
  return zyl::matchlib::enrol_finalise_engine(engine, s, out);
}
ZYL_API void enrol_destroy(EnrolSession* s) { zyl::matchlib::enrol_destroy(s); }
ZYL_API MatchContext* enrol_context(EnrolSession* s) { return zyl::matchlib::enrol_context(s); }
ZYL_API int enrol_reset(EnrolSession* s) { return zyl::matchlib::enrol_reset(s); }
ZYL_API void enrol_set_observer(EnrolSession* s, void* data, EnrolAddSample callback,
                                void (*release)(void* data)) {
  zyl::matchlib::enrol_set_observer(s, data, callback, release);
}

}  // extern "C"

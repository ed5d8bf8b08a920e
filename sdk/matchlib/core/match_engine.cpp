// The match engine object: creation on a context, teardown, and the
// configuration that presets and callers set.
#include "matchlib/core/allocation.h"
#include "matchlib/core/match_engine.h"

#include <cstdint>
#include <cstdlib>

#include "matchlib/core/match_context.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_verify.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/model_set.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/stage_chain.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kOption1Key = 0x8a4a9dcd;
constexpr const char* kOption0Text = "vn.algorithm.360";
constexpr const char* kOption2Text = "vn.ehm.spectral_increase_hr_search_range";

// The keys an engine writes into its context and removes at teardown, in
// the order of removal (the entry of option 1's key id stays).
constexpr const char* kEngineKeys[] = {"vn.algorithm.sensor_size", "vn.algorithm.sensor_type",
                                       "vn.algorithm.spectral_fullsearch", kOption2Text,
                                       kOption0Text};

void holder_release(QualityModelHolder* h) {
  if (h && --h->refcount == 0 && h->destroy) h->destroy(h);
}

void engine_destroy(MatchEngine* e) {
  holder_release(e->quality_model);
  zyl::matchlib::chain_free(e->chain);
  zyl::matchlib::model_set_free(e->model_set);
  // The context is stored before anything can fail, so the keys are always
  // removed from the engine's own context, never from the process-wide store.
  if (e->context) {
    for (const char* key : kEngineKeys) zyl::matchlib::param_remove_text(e->context, key);
    if (zyl::matchlib::ctx_get_engine(e->context) == e)
      zyl::matchlib::ctx_detach(e->context, CTX_KEY_ENGINE);
    zyl::matchlib::ctx_release(e->context);
  }
  std::free(e);
}

int mirror_option(MatchContext* ctx, int index, std::int32_t value) {
  switch (index) {
    case 0:
      return zyl::matchlib::param_set_text(ctx, kOption0Text, value);
    case 1:
      return zyl::matchlib::param_set(ctx, kOption1Key, value);
    default:
      return zyl::matchlib::param_set_text(ctx, kOption2Text, value);
  }
}

std::int32_t round_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = ((a < 0) != (b < 0) ? a - b / 2 : a + b / 2) / b;
  return static_cast<std::int32_t>(q);
}

}  // namespace

void engine_install_model_set(MatchEngine* engine, ScoreModelSet* set) {
  engine->model_set = set;
  if (set && set->profiles) engine->profiles = set->profiles;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

EngineConfig* zyl::matchlib::engine_config_init(EngineConfig* config) {
  if (!config) return nullptr;
  *config = EngineConfig{};
  config->most_views = 96;
  config->unnamed_u8_1 = 32;
  config->unnamed_i32_1 = 1;
  return config;
}

int zyl::matchlib::engine_new(MatchContext* context, StageChain* chain, MatchEngine** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  Ref<MatchContext> ctx = Ref<MatchContext>::adopt(zyl::matchlib::ctx_create_or_retain(context));
  if (!ctx) return ML_NO_MEMORY;
  if (zyl::matchlib::ctx_find(ctx.get(), CTX_KEY_ENGINE)) return ML_BAD_ARGUMENT;
  auto* e = static_cast<MatchEngine*>(ml_calloc(1, sizeof(MatchEngine)));
  if (!e) return ML_NO_MEMORY;
  e->refcount = 1;
  e->context = zyl::matchlib::ctx_retain(ctx.get());
  e->destroy = engine_destroy;
  int status = zyl::matchlib::ctx_attach(ctx.get(), e, CTX_KEY_ENGINE, nullptr);
  e->input_mode = ENGINE_INPUT_IMAGE;
  for (int i = 0; i < ENGINE_OPTION_COUNT; ++i) e->options[i] = e->switchable[i] = 1;
  if (status == ML_OK) status = zyl::matchlib::param_set_sensor_type(e->context, 0);
  if (status == ML_OK) status = zyl::matchlib::param_set_sensor_size(e->context, 0);
  if (status == ML_OK) status = zyl::matchlib::param_set(e->context, kOption1Key, 1);
  if (status == ML_OK) status = zyl::matchlib::param_set_text(e->context, kOption2Text, 1);
  if (status == ML_OK) status = zyl::matchlib::param_set_360(e->context, 1);
  if (status != ML_OK) {
    engine_destroy(e);
    return status;
  }
  e->chain = chain;
  e->format = ENGINE_DEFAULT_FORMAT;
  zyl::matchlib::engine_config_init(&e->config);
  e->match = engine_match_gallery;
  e->gallery_score = ::engine_score_gallery;
  e->merge = engine_merge_templates;
  e->adapt = engine_adapt_template;
  *out = e;
  return ML_OK;
}

MatchEngine* zyl::matchlib::engine_create(MatchContext* context, StageChain* chain, int32_t format,
                                          int32_t sensor_type, int32_t sensor_size,
                                          const int32_t* options, int option_count,
                                          const int32_t* switchable, int switchable_count,
                                          const EngineConfig* config) {
  MatchEngine* e = nullptr;
  if (zyl::matchlib::engine_new(context, chain, &e) != ML_OK) return nullptr;
  e->format = format;
  if (config) e->config = *config;
  e->sensor_type = sensor_type;
  int status = zyl::matchlib::param_set_sensor_type(e->context, sensor_type);
  e->sensor_size = sensor_size;
  if (status == ML_OK) status = zyl::matchlib::param_set_sensor_size(e->context, sensor_size);
  for (int i = 0; i < ENGINE_OPTION_COUNT; ++i) e->options[i] = e->switchable[i] = 0;
  for (int i = 0; options && i < option_count; ++i)
    if (options[i] >= 0 && options[i] < ENGINE_OPTION_COUNT) e->options[options[i]] = 1;
  for (int i = 0; switchable && i < switchable_count; ++i)
    if (switchable[i] >= 0 && switchable[i] < ENGINE_OPTION_COUNT) e->switchable[switchable[i]] = 1;
  if (status == ML_OK) status = mirror_option(e->context, 1, e->options[1]);
  if (status == ML_OK) status = mirror_option(e->context, 2, e->options[2]);
  if (status == ML_OK) status = mirror_option(e->context, 0, e->options[0]);
  if (status != ML_OK) {
    // A refused creation leaves the chain with the caller.
    e->chain = nullptr;
    zyl::matchlib::engine_release(e);
    return nullptr;
  }
  return e;
}

MatchEngine* zyl::matchlib::engine_retain(MatchEngine* engine) {
  if (engine) ++engine->refcount;
  return engine;
}

void zyl::matchlib::engine_release(MatchEngine* engine) {
  if (engine && --engine->refcount == 0) engine->destroy(engine);
}

extern "C" ZYL_API uint32_t engine_refcount(const MatchEngine* engine) {
  return engine ? engine->refcount : 0;
}
MatchContext* zyl::matchlib::engine_get_context(const MatchEngine* e) {
  return e ? e->context : nullptr;
}
StageChain* zyl::matchlib::engine_get_chain(const MatchEngine* e) { return e ? e->chain : nullptr; }
int32_t zyl::matchlib::engine_get_format(const MatchEngine* e) { return e->format; }
extern "C" ZYL_API int32_t engine_get_sensor_type(const MatchEngine* e) {
  return e ? e->sensor_type : 0;
}
extern "C" ZYL_API int32_t engine_get_sensor_size(const MatchEngine* e) { return e->sensor_size; }
const EngineConfig* zyl::matchlib::engine_get_config(const MatchEngine* e) {
  return e ? &e->config : nullptr;
}
const ScoreProfile* const* zyl::matchlib::engine_get_score_profiles(const MatchEngine* e) {
  return e ? e->profiles : nullptr;
}
int zyl::matchlib::engine_uses_image_input(const MatchEngine* e) {
  return e && e->input_mode == ENGINE_INPUT_IMAGE ? 1 : 0;
}

int zyl::matchlib::engine_set_chain(MatchEngine* e, StageChain* chain) {
  if (!e) return ML_BAD_ARGUMENT;
  if (e->chain != chain) zyl::matchlib::chain_free(e->chain);
  e->chain = chain;
  return ML_OK;
}

void zyl::matchlib::engine_set_score_profiles(MatchEngine* e, const ScoreProfile* const* profiles) {
  if (e) e->profiles = profiles;
}

const ScoreProfile* zyl::matchlib::engine_find_score_profile(const MatchEngine* e,
                                                             const StageMatchOps* ops,
                                                             int16_t variant,
                                                             int16_t* out_variant) {
  if (!e || !e->profiles) return nullptr;
  const ScoreProfile* p = zyl::matchlib::score_profile_find(e->profiles, ops, variant);
  if (p) {
    if (out_variant) *out_variant = variant;
    return p;
  }
  p = zyl::matchlib::score_profile_find(e->profiles, ops, 0);
  if (p && out_variant) *out_variant = 0;
  return p;
}

int zyl::matchlib::engine_set_converters(MatchEngine* e, const ImagePrepDescriptor* const* list) {
  if (!e) return ML_BAD_ARGUMENT;
  e->converters = list;
  return ML_OK;
}

void zyl::matchlib::engine_set_input_mode(MatchEngine* e, int32_t mode) {
  if (e) e->input_mode = mode;
}

void zyl::matchlib::engine_set_expected_size(MatchEngine* e, int32_t height, int32_t width) {
  if (!e) return;
  e->expected_height = height;
  e->expected_width = width;
}

extern "C" ZYL_API void engine_get_expected_size(const MatchEngine* e, int32_t* height,
                                                 int32_t* width) {
  if (height) *height = e ? e->expected_height : 0;
  if (width) *width = e ? e->expected_width : 0;
}

void zyl::matchlib::engine_set_expected_dpi(MatchEngine* e, int32_t dpi) {
  if (e) e->expected_dpi = dpi;
}
extern "C" ZYL_API int32_t engine_get_expected_dpi(const MatchEngine* e) {
  return e ? e->expected_dpi : 0;
}

extern "C" ZYL_API int engine_set_option(MatchEngine* e, int index, int32_t value) {
  if (!e || index < 0 || index >= ENGINE_OPTION_COUNT) return ML_BAD_ARGUMENT;
  if (!e->switchable[index]) return ML_WRONG_KIND;
  e->options[index] = value;
  return mirror_option(e->context, index, value);
}

extern "C" ZYL_API int32_t engine_get_option(const MatchEngine* e, int index) {
  if (!e || index < 0 || index >= ENGINE_OPTION_COUNT) return -1;
  return e->options[index];
}

extern "C" ZYL_API int32_t engine_option_switchable(const MatchEngine* e, int index) {
  if (!e || index < 0 || index >= ENGINE_OPTION_COUNT) return 0;
  return e->switchable[index];
}

extern "C" ZYL_API int engine_set_kind_limit(MatchEngine* e, int index, uint16_t limit) {
  if (!e || index < 0 || index >= ENGINE_KIND_LIMITS) return ML_BAD_ARGUMENT;
  e->kind_limits[index] = limit;
  return ML_OK;
}

int zyl::matchlib::engine_get_kind_limit(const MatchEngine* e, int index) {
  if (!e || index < 0 || index >= ENGINE_KIND_LIMITS) return -1;
  return e->kind_limits[index];
}

StageObject* zyl::matchlib::engine_get_stage(const MatchEngine* e, int index) {
  if (!e || !e->chain || index < 0) return nullptr;
  StageObject* s = zyl::matchlib::chain_first(e->chain);
  for (int i = 0; s && i < index; ++i) s = zyl::matchlib::stage_next(s);
  return s;
}

uint32_t zyl::matchlib::engine_stage_count(const MatchEngine* e) {
  return e && e->chain ? zyl::matchlib::chain_count(e->chain) : 0;
}

void zyl::matchlib::engine_set_match_ops(MatchEngine* e, const EngineMatchOps* ops) {
  if (!e) return;
  e->match = ops && ops->match ? ops->match : engine_match_gallery;
  e->gallery_score = ops && ops->gallery_score ? ops->gallery_score : ::engine_score_gallery;
}

extern "C" ZYL_API void engine_set_template_ops(MatchEngine* e, const EngineTemplateOps* ops) {
  if (!e) return;
  e->merge = ops && ops->merge ? ops->merge : engine_merge_templates;
  e->adapt = ops && ops->adapt ? ops->adapt : engine_adapt_template;
}

extern "C" ZYL_API void engine_set_precheck(MatchEngine* e, EnginePrecheck routine) {
  if (e) e->precheck = routine;
}
void zyl::matchlib::engine_set_hook(MatchEngine* e, EngineHook routine) {
  if (e) e->hook = routine;
}
extern "C" ZYL_API void engine_set_quality_routine(MatchEngine* e, EngineQualityRoutine routine) {
  if (e) e->quality = routine;
}
extern "C" ZYL_API void engine_set_rating_routine(MatchEngine* e, EngineRatingRoutine routine) {
  if (e) e->rating = routine;
}

extern "C" ZYL_API int engine_call_hook(MatchEngine* e, void* a, void* b, void* c, void* d,
                                        void* f) {
  if (!e) return ML_BAD_ARGUMENT;
  if (!e->hook) return ML_WRONG_KIND;
  return e->hook(a, b, c, d, f);
}

void zyl::matchlib::engine_set_quality_model(MatchEngine* e, QualityModelHolder* holder) {
  if (!e) return;
  if (holder) ++holder->refcount;
  holder_release(e->quality_model);
  e->quality_model = holder;
}

QualityModelHolder* zyl::matchlib::engine_get_quality_model(const MatchEngine* e) {
  return e ? e->quality_model : nullptr;
}

extern "C" ZYL_API void engine_set_user_slot(MatchEngine* e, int slot, void* value) {
  if (!e) return;
  (slot == 2 ? e->user_slot2 : e->user_slot1) = value;
}

extern "C" ZYL_API void* engine_get_user_slot(const MatchEngine* e, int slot) {
  if (!e) return nullptr;
  return slot == 2 ? e->user_slot2 : e->user_slot1;
}

extern "C" ZYL_API void engine_set_far_adjust(MatchEngine* e, uint8_t count, int32_t low,
                                              int32_t high, int which) {
  if (!e) return;
  for (int b = 0; b < 2; ++b)
    if (which & (1 << b)) e->far_adjust[b] = EngineFarAdjust{count, low, high};
}

extern "C" ZYL_API EngineFarAdjust engine_get_far_adjust(const MatchEngine* e, int which) {
  if (!e || (which != 1 && which != 2)) return EngineFarAdjust{0, 0, 0};
  return e->far_adjust[which - 1];
}

int zyl::matchlib::engine_adjust_far_level(const MatchEngine* e, int count, int level, int which) {
  if (!e) return ENGINE_LEVEL_BEYOND;
  const EngineFarAdjust& b = e->far_adjust[which == 2 ? 1 : 0];
  if (b.count == 0 || (b.low == 0 && b.high == 0) || level == ENGINE_LEVEL_BEYOND) return level;
  const std::int32_t shift =
      count >= b.count ? b.high
                       : b.low + round_div(static_cast<std::int64_t>(count) * (b.high - b.low), b.count);
  return zyl::matchlib::far_level_shift(static_cast<int16_t>(level), static_cast<int16_t>(shift));
}

extern "C" ZYL_API int engine_set_callbacks(MatchEngine* e, EngineBeforeExtract before,
                                            EngineAfterExtract after, void* user) {
  if (!e) return ML_BAD_ARGUMENT;
  e->before = before;
  e->after = after;
  e->user = user;
  return ML_OK;
}

int zyl::matchlib::engine_quality_pass(int level, int score, int* out_flag) {
  if (!out_flag) return ML_WRONG_KIND;
  *out_flag = zyl::matchlib::score_step_passes(level, score);
  return ML_OK;
}

int zyl::matchlib::engine_quality_decision(MatchEngine* e, void* object, int level,
                                           uint16_t* out_rating, int* out_flag) {
  if (!e || !out_flag) return ML_BAD_ARGUMENT;
  if (e->rating) {
    if (level == 0) {
      *out_flag = 1;
      return ML_OK;
    }
    // The rating routine's data is the second user slot, stored beside it.
    uint16_t rating = 0;
    int flag = 0;
    const int status = e->rating(object, e->user_slot2, level, &rating, &flag, e);
    if (status != ML_OK) return status;
    if (out_rating) *out_rating = rating;
    return zyl::matchlib::engine_quality_pass(level, rating, out_flag);
  }
  if (level < 1) {
    *out_flag = 1;
    return ML_OK;
  }
  return ML_WRONG_KIND;
}

const ScoreModelSet* zyl::matchlib::engine_get_model_set(const MatchEngine* e) {
  return e ? e->model_set : nullptr;
}

// ---- the engine's set ----

extern "C" ZYL_API int model_set_load(MatchEngine* engine, const uint8_t* bytes, uint32_t length) {
  if (!engine || !bytes) return ML_BAD_ARGUMENT;
  if (zyl::matchlib::engine_get_model_set(engine)) return ML_TOO_MANY;
  ScoreModelSet* set = nullptr;
  const int status = zyl::matchlib::model_set_parse(
      bytes, length, zyl::matchlib::engine_get_score_profiles(engine), &set);
  if (status != ML_OK) return status;
  engine_install_model_set(engine, set);
  return ML_OK;
}

extern "C" ZYL_API int model_set_write(MatchEngine* engine, uint8_t** out, uint32_t* out_length) {
  if (!engine || !out || !out_length) return ML_BAD_ARGUMENT;
  if (zyl::matchlib::engine_get_model_set(engine)) return ML_TOO_MANY;
  ScoreModelSet* set = nullptr;
  int status = zyl::matchlib::model_set_from_profiles(
      zyl::matchlib::engine_get_score_profiles(engine), &set);
  if (status != ML_OK) return status;
  status = zyl::matchlib::model_set_serialize(set, out, out_length);
  if (status != ML_OK) {
    zyl::matchlib::model_set_free(set);
    return status;
  }
  engine_install_model_set(engine, set);
  return ML_OK;
}

extern "C" {

ZYL_API EngineConfig* engine_config_init(EngineConfig* config) {
  return zyl::matchlib::engine_config_init(config);
}
ZYL_API int engine_new(MatchContext* context, StageChain* chain, MatchEngine** out) {
  return zyl::matchlib::engine_new(context, chain, out);
}
ZYL_API MatchEngine* engine_create(MatchContext* context, StageChain* chain, int32_t format,
                                   int32_t sensor_type, int32_t sensor_size, const int32_t* options,
                                   int option_count, const int32_t* switchable,
                                   int switchable_count, const EngineConfig* config) {
  return zyl::matchlib::engine_create(context, chain, format, sensor_type, sensor_size, options,
                                      option_count, switchable, switchable_count, config);
}
ZYL_API MatchEngine* engine_retain(MatchEngine* engine) {
  return zyl::matchlib::engine_retain(engine);
}
ZYL_API void engine_release(MatchEngine* engine) { zyl::matchlib::engine_release(engine); }
ZYL_API MatchContext* engine_get_context(const MatchEngine* e) {
  return zyl::matchlib::engine_get_context(e);
}
ZYL_API StageChain* engine_get_chain(const MatchEngine* e) {
  return zyl::matchlib::engine_get_chain(e);
}
ZYL_API int32_t engine_get_format(const MatchEngine* e) {
  return zyl::matchlib::engine_get_format(e);
}
ZYL_API const EngineConfig* engine_get_config(const MatchEngine* e) {
  return zyl::matchlib::engine_get_config(e);
}
ZYL_API const ScoreProfile* const* engine_get_score_profiles(const MatchEngine* e) {
  return zyl::matchlib::engine_get_score_profiles(e);
}
ZYL_API int engine_uses_image_input(const MatchEngine* e) {
  return zyl::matchlib::engine_uses_image_input(e);
}
ZYL_API int engine_set_chain(MatchEngine* e, StageChain* chain) {
  return zyl::matchlib::engine_set_chain(e, chain);
}
ZYL_API void engine_set_score_profiles(MatchEngine* e, const ScoreProfile* const* profiles) {
  zyl::matchlib::engine_set_score_profiles(e, profiles);
}
ZYL_API const ScoreProfile* engine_find_score_profile(const MatchEngine* e,
                                                      const StageMatchOps* ops, int16_t variant,
                                                      int16_t* out_variant) {
  return zyl::matchlib::engine_find_score_profile(e, ops, variant, out_variant);
}
ZYL_API int engine_set_converters(MatchEngine* e, const ImagePrepDescriptor* const* list) {
  return zyl::matchlib::engine_set_converters(e, list);
}
ZYL_API void engine_set_input_mode(MatchEngine* e, int32_t mode) {
  zyl::matchlib::engine_set_input_mode(e, mode);
}
ZYL_API void engine_set_expected_size(MatchEngine* e, int32_t height, int32_t width) {
  zyl::matchlib::engine_set_expected_size(e, height, width);
}
ZYL_API void engine_set_expected_dpi(MatchEngine* e, int32_t dpi) {
  zyl::matchlib::engine_set_expected_dpi(e, dpi);
}
ZYL_API int engine_get_kind_limit(const MatchEngine* e, int index) {
  return zyl::matchlib::engine_get_kind_limit(e, index);
}
ZYL_API StageObject* engine_get_stage(const MatchEngine* e, int index) {
  return zyl::matchlib::engine_get_stage(e, index);
}
ZYL_API uint32_t engine_stage_count(const MatchEngine* e) {
  return zyl::matchlib::engine_stage_count(e);
}
ZYL_API void engine_set_match_ops(MatchEngine* e, const EngineMatchOps* ops) {
  zyl::matchlib::engine_set_match_ops(e, ops);
}
ZYL_API void engine_set_hook(MatchEngine* e, EngineHook routine) {
  zyl::matchlib::engine_set_hook(e, routine);
}
ZYL_API void engine_set_quality_model(MatchEngine* e, QualityModelHolder* holder) {
  zyl::matchlib::engine_set_quality_model(e, holder);
}
ZYL_API QualityModelHolder* engine_get_quality_model(const MatchEngine* e) {
  return zyl::matchlib::engine_get_quality_model(e);
}
ZYL_API int engine_adjust_far_level(const MatchEngine* e, int count, int level, int which) {
  return zyl::matchlib::engine_adjust_far_level(e, count, level, which);
}
ZYL_API int engine_quality_pass(int level, int score, int* out_flag) {
  return zyl::matchlib::engine_quality_pass(level, score, out_flag);
}
ZYL_API int engine_quality_decision(MatchEngine* e, void* object, int level, uint16_t* out_rating,
                                    int* out_flag) {
  return zyl::matchlib::engine_quality_decision(e, object, level, out_rating, out_flag);
}
ZYL_API const ScoreModelSet* engine_get_model_set(const MatchEngine* e) {
  return zyl::matchlib::engine_get_model_set(e);
}

}  // extern "C"

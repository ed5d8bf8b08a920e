/* Matcher library engine: the object an application holds to extract
 * templates and compare them. It is built on a context by a preset: the
 * preset writes its parameter defaults, builds a stage chain, fills an
 * EngineConfig and calls engine_create. The engine owns the chain and
 * keeps the configuration, the stages' score profiles, the checks that
 * incoming images must pass and four replaceable operations (match,
 * gallery score, template merge, template adapt). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_model_set.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  ENGINE_OPTION_COUNT = 3,
  ENGINE_KIND_LIMITS = 32,
  ENGINE_DEFAULT_FORMAT = 84,
  ENGINE_INPUT_IMAGE = 1, /* any other input mode: raw pixel buffers */
  ENGINE_MAX_GALLERY = 255,
  ENGINE_LEVEL_BEYOND = 28 /* the FAR level one past the scale's table */
};

/* Progress routine of the verification, called with the result after each
 * compared view; a non-zero answer ends the verification with it. */
typedef int (*EngineProgressRoutine)(MatchResult* result);

/* The engine's fixed configuration, copied into the engine whole. */
typedef struct EngineConfig {
  uint8_t most_views;     /* most views of a multi-view template the engine builds */
  uint8_t quality_limit;  /* limit of the single quality-table entry of such templates */
  int32_t quality_value;  /* format code of that entry */
  int32_t serialize_flag; /* handed to the multi-view template writer */
  int32_t view_selection; /* non-zero: gallery views added in mode 6 when 0xac395352 is not 0 */
  int32_t size_limit;     /* serialised-size limit of multi-view templates (0 = none) */
  uint8_t unnamed_u8_1;
  int32_t unnamed_i32_1;
  int32_t view_mode_keep; /* 0: the view mode is lowered by 2 */
  int32_t unnamed_i32_2;
  int32_t unnamed_i32_3;
  uint8_t unnamed_u8_2;
  EngineProgressRoutine scoring_routine; /* the verification's progress routine */
  TilingSpec tiling;                     /* crop request for input images */
} EngineConfig;

/* The engine keeps one reference to a learned quality model holder
 * (matchlib_quality_model.h). */

typedef int (*EngineMatchOp)(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                             DataBlob* probe, GrayImage* probe_image, int level,
                             MatchResult* result);
typedef int (*EngineGalleryScoreOp)(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                    DataBlob* probe, MatchResult* result);
typedef int (*EngineMergeOp)(MatchEngine* engine, DataBlob* base, DataBlob* const* blobs,
                             int count, DataBlob** out, const KwzdWriter* writer,
                             void* writer_data);
typedef int (*EngineAdaptOp)(MatchEngine* engine, DataBlob* blob, MatchResult* result,
                             DataBlob** out, const KwzdWriter* writer, void* writer_data);
typedef struct EngineMatchOps {
  EngineMatchOp match;
  EngineGalleryScoreOp gallery_score;
} EngineMatchOps;
typedef struct EngineTemplateOps {
  EngineMergeOp merge;
  EngineAdaptOp adapt;
} EngineTemplateOps;

typedef int (*EnginePrecheck)(MatchContext* context, GrayImage* image);
typedef int (*EngineHook)(void* a, void* b, void* c, void* d, void* e);
typedef int (*EngineQualityRoutine)(MatchContext* context, GrayImage* image, uint16_t* out_rating);
/* External rating routine of engine_quality_decision: (object, rating
 * pair, level, out rating, out flag, engine). */
typedef int (*EngineRatingRoutine)(void* object, const void* pair, int level, uint16_t* out_rating,
                                   int* out_flag, MatchEngine* engine);
typedef void (*EngineBeforeExtract)(void* user, GrayImage* image, FingerInfo* info,
                                    DataBlob** blob);
typedef void (*EngineAfterExtract)(void* user, DataBlob* blob, int status);

typedef struct EngineFarAdjust {
  uint8_t count;
  int32_t low;
  int32_t high;
} EngineFarAdjust;

/* ---- object, creation and configuration ---- */
ZYL_API EngineConfig* engine_config_init(EngineConfig* config);
/* 0; 2 when the context already carries an engine; 9. The chain stays the
 * caller's unless 0 is answered. */
ZYL_API int engine_new(MatchContext* context, StageChain* chain, MatchEngine** out);
/* The engine, or null (the chain then stays the caller's). */
ZYL_API MatchEngine* engine_create(MatchContext* context, StageChain* chain, int32_t format,
                                   int32_t sensor_type, int32_t sensor_size,
                                   const int32_t* options, int option_count,
                                   const int32_t* switchable, int switchable_count,
                                   const EngineConfig* config);
ZYL_API MatchEngine* engine_retain(MatchEngine* engine);
ZYL_API void engine_release(MatchEngine* engine);
ZYL_API uint32_t engine_refcount(const MatchEngine* engine);
ZYL_API MatchContext* engine_get_context(const MatchEngine* engine);
ZYL_API StageChain* engine_get_chain(const MatchEngine* engine);
ZYL_API int32_t engine_get_format(const MatchEngine* engine);
ZYL_API int32_t engine_get_sensor_type(const MatchEngine* engine);
ZYL_API int32_t engine_get_sensor_size(const MatchEngine* engine);
ZYL_API const EngineConfig* engine_get_config(const MatchEngine* engine);
ZYL_API const ScoreProfile* const* engine_get_score_profiles(const MatchEngine* engine);
ZYL_API int engine_uses_image_input(const MatchEngine* engine);
ZYL_API int engine_set_chain(MatchEngine* engine, StageChain* chain);
ZYL_API void engine_set_score_profiles(MatchEngine* engine, const ScoreProfile* const* profiles);
ZYL_API const ScoreProfile* engine_find_score_profile(const MatchEngine* engine,
                                                      const StageMatchOps* ops, int16_t variant,
                                                      int16_t* out_variant);
/* Converters: a null-terminated list of descriptors run over every input
 * image before the stages. */
ZYL_API int engine_set_converters(MatchEngine* engine, const ImagePrepDescriptor* const* list);
ZYL_API void engine_set_input_mode(MatchEngine* engine, int32_t mode);
ZYL_API void engine_set_expected_size(MatchEngine* engine, int32_t height, int32_t width);
ZYL_API void engine_get_expected_size(const MatchEngine* engine, int32_t* height, int32_t* width);
ZYL_API void engine_set_expected_dpi(MatchEngine* engine, int32_t dpi);
ZYL_API int32_t engine_get_expected_dpi(const MatchEngine* engine);
ZYL_API int engine_set_option(MatchEngine* engine, int index, int32_t value);
ZYL_API int32_t engine_get_option(const MatchEngine* engine, int index);
ZYL_API int32_t engine_option_switchable(const MatchEngine* engine, int index);
ZYL_API int engine_set_kind_limit(MatchEngine* engine, int index, uint16_t limit);
ZYL_API int engine_get_kind_limit(const MatchEngine* engine, int index);
ZYL_API StageObject* engine_get_stage(const MatchEngine* engine, int index);
ZYL_API uint32_t engine_stage_count(const MatchEngine* engine);
ZYL_API void engine_set_match_ops(MatchEngine* engine, const EngineMatchOps* ops);
ZYL_API void engine_set_template_ops(MatchEngine* engine, const EngineTemplateOps* ops);
ZYL_API void engine_set_precheck(MatchEngine* engine, EnginePrecheck routine);
ZYL_API void engine_set_hook(MatchEngine* engine, EngineHook routine);
ZYL_API void engine_set_quality_routine(MatchEngine* engine, EngineQualityRoutine routine);
ZYL_API void engine_set_rating_routine(MatchEngine* engine, EngineRatingRoutine routine);
ZYL_API int engine_call_hook(MatchEngine* engine, void* a, void* b, void* c, void* d, void* e);
ZYL_API void engine_set_quality_model(MatchEngine* engine, QualityModelHolder* holder);
ZYL_API QualityModelHolder* engine_get_quality_model(const MatchEngine* engine);
ZYL_API void engine_set_user_slot(MatchEngine* engine, int slot, void* value);
ZYL_API void* engine_get_user_slot(const MatchEngine* engine, int slot);
/* Sets the count, low and high values of the chosen FAR adjustment blocks
 * (the fields of EngineFarAdjust in order); which: bit value 1 block 1, bit
 * value 2 block 2 (3 sets both). The getter takes 1 or 2 and answers a
 * zero block for another index. */
ZYL_API void engine_set_far_adjust(MatchEngine* engine, uint8_t count, int32_t low, int32_t high,
                                   int which);
ZYL_API EngineFarAdjust engine_get_far_adjust(const MatchEngine* engine, int which);
ZYL_API int engine_adjust_far_level(const MatchEngine* engine, int count, int level, int which);
ZYL_API int engine_set_callbacks(MatchEngine* engine, EngineBeforeExtract before,
                                 EngineAfterExtract after, void* user);
ZYL_API int engine_quality_pass(int level, int score, int* out_flag);
ZYL_API int engine_quality_decision(MatchEngine* engine, void* object, int level,
                                    uint16_t* out_rating, int* out_flag);
/* The engine's score-model set (null when none is installed). */
ZYL_API const ScoreModelSet* engine_get_model_set(const MatchEngine* engine);

/* ---- extraction ---- */
ZYL_API int engine_extract_image(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                                 DataBlob** out);
ZYL_API int engine_extract_pixels(MatchEngine* engine, const uint8_t* pixels, int height,
                                  int width, int resolution, FingerInfo* info, DataBlob** out);
ZYL_API int engine_extract(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                           DataBlob** blob);
ZYL_API int engine_attach_sample_info(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                                      DataBlob** blob);
ZYL_API int engine_apply_converters(MatchEngine* engine, GrayImage* image, GrayImage** out);
ZYL_API int engine_run_stage_extract(MatchContext* context, const StageObject* stage,
                                     GrayImage* image, FingerInfo* info, DataBlob** blob);
ZYL_API int engine_run_stage_extract_pixels(MatchContext* context, const StageObject* stage,
                                            const StageChain* chain, GrayImage* image,
                                            FingerInfo* info, DataBlob** blob);

/* ---- score-model set ---- */
/* 0; 19 when the engine already holds a set; 3, 17, 1, 9 from parsing
 * (a refused load leaves the engine's profiles as they were). */
ZYL_API int model_set_load(MatchEngine* engine, const uint8_t* bytes, uint32_t length);
/* The stored form of the engine's profiles in a new malloc'd buffer (the
 * caller frees it); the engine then holds that set. 0, 2, 19, 9; 1 when a
 * profile's model has no stored form (writes as 0 bytes, as the unfitted
 * models of the preset catalogue's placeholder profiles do): every entry
 * stands for the profile at its index, so none is left out, and the engine
 * keeps its profiles and no set. */
ZYL_API int model_set_write(MatchEngine* engine, uint8_t** out, uint32_t* out_length);

ZYL_EXTERN_C_END

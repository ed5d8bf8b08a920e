/* Matcher library learned quality model: a small layered network evaluated
 * in integer arithmetic, bundled with ten score levels and the image sizes
 * and resolutions it accepts, and tied to a context by a reference-counted
 * holder. The network rates an image (or a template pair) from the
 * 190-value texture feature vector; scores run 0..1000.
 *
 * Process-wide error index: batch evaluation and the feature steps record
 * a failure there (3 out of memory, 27 a network or sample the evaluation
 * refuses); `mlp_error_status` turns it into a status. Every operation that
 * reads it clears it first, so one failure does not outlive its call. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct GrayImage GrayImage;

enum {
  MLP_MAX_ACTIVATIONS = 514, /* inputs plus every layer's outputs */
  QUALITY_FEATURE_COUNT = 190,
  QUALITY_LEVEL_COUNT = 10,
  MLP_ERROR_NO_MEMORY = 3,
  MLP_ERROR_BAD_NETWORK = 27
};

/* Layer sizes include the input layer. Weights run layer after layer; in
 * the layer mapping n inputs to m outputs the weight of input j for output
 * k sits at k*n + j from the layer's start. Biases: one per output, layer
 * after layer. minimum/maximum: one entry per input. */
typedef struct MlpNetwork {
  const int32_t* layer_sizes;
  int32_t layer_count;
  int32_t weight_count;
  int32_t bias_count;
  const int32_t* weights;
  const int32_t* biases;
  const int32_t* minimum;
  const int32_t* maximum;
} MlpNetwork;

/* A resolution of 0xFFFF accepts any. */
typedef struct QualityModel {
  int32_t enabled;
  MlpNetwork network;
  int32_t levels[QUALITY_LEVEL_COUNT]; /* used through their low 16 bits */
  uint16_t min_height, max_height, resolution_y;
  uint16_t min_width, max_width, resolution_x;
} QualityModel;

typedef struct QualityModelHolder QualityModelHolder;
struct QualityModelHolder {
  uint32_t refcount;
  MatchContext* context;      /* retained */
  const QualityModel* model;  /* borrowed: models outlive their holders */
  void (*destroy)(QualityModelHolder* holder);
};

typedef struct MlpBatch {
  int32_t values_per_sample;
  int32_t sample_count;
  const int32_t* values; /* sample after sample */
} MlpBatch;

/* The built-in model: enabled, 10..10000 rows and columns, any resolution,
 * levels 0 75 125 250 312 375 500 725 750 875, and a 190-8-1 network whose
 * weights are all 0, so it scores every vector 500. */
ZYL_API const QualityModel* quality_model_builtin(void);

/* Null for a null model or when memory runs out; retains the context. */
ZYL_API QualityModelHolder* quality_model_create(MatchContext* ctx, const QualityModel* model);
ZYL_API QualityModelHolder* quality_model_create_default(MatchContext* ctx);
ZYL_API QualityModelHolder* quality_model_retain(QualityModelHolder* holder);
ZYL_API void quality_model_release(QualityModelHolder* holder);
ZYL_API const MlpNetwork* quality_model_network(const QualityModelHolder* holder);
/* Low 16 bits of the level's threshold; -1 for a null holder or a level
 * outside 0..9. */
ZYL_API int quality_model_level_threshold(const QualityModelHolder* holder, int level);

/* First layer size; 0 without layers. */
ZYL_API int mlp_input_count(const MlpNetwork* network);
/* Score of one input vector (the first mlp_input_count values are read):
 * ((y*900) >> 11) + 50 of the output unit y, -18..1017. A network whose
 * layers do not fit the activation array sets error index 27 and scores 0. */
ZYL_API int mlp_forward(const int32_t* values, const MlpNetwork* network);
/* One score per sample, clamped to 0..1000. Sets the error index: 3 when
 * the scratch cannot be allocated, 27 for a bad network or a sample longer
 * than the network's layer sizes together (no score written then). */
ZYL_API void mlp_evaluate_batch(const MlpBatch* batch, const MlpNetwork* network, int32_t* scores);
ZYL_API uint32_t mlp_get_error(void);
ZYL_API void mlp_set_error(uint32_t index);
/* Status of an error index (0 ok, 9 out of memory, 2 refused, ...). */
ZYL_API int mlp_error_status(uint32_t index);

/* The 190 features of an image (allocated; the caller frees them): 2 for a
 * null argument or a network without 190 inputs, 1 for a disabled model,
 * 18 for an image outside the model's sizes or resolutions, 9 out of
 * memory. The outputs are untouched on failure. */
ZYL_API int quality_extract_features(const QualityModelHolder* holder, const GrayImage* image,
                                     int32_t** out_values, uint16_t* out_count);
/* The image's learned quality, cached in its stored quality: a stored value
 * (anything but 0xFFFF) is answered without computing. */
ZYL_API int quality_model_image_score(const QualityModelHolder* holder, GrayImage* image,
                                      int16_t* out_score);
/* Flag 1 when the image's score reaches the level's threshold; 2 for a null
 * argument or a level outside 0..9. */
ZYL_API int quality_model_image_meets_level(const QualityModelHolder* holder, GrayImage* image,
                                            int level, int* out_flag);

ZYL_EXTERN_C_END

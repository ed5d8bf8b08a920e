/* Matcher library image feature vectors.
 *
 * The 210-value vector of a 500-dpi grey image (signed 16-bit values):
 *   0-4    per mille of pixels above m, m + d, m + 2d and below m - d,
 *          m - 2d (m the mean grey, d the grey deviation)
 *   5-9    the same around 127
 *   10     0
 *   11-18  per mille of all pixels whose 8 neighbours hold k = 1..8 pixels
 *          darker than m (interior pixels darker than m)
 *   19-208 the 190 texture features halved into 16 bits (0..65535)
 *   209    m
 * A classifier callback rates the vector against its threshold.
 *
 * The 25-value spectral vector (see image_features_spectral.cpp) holds the
 * classical quality, the foreground and bright shares and statistics of
 * 32 x 32 tile spectra of the image at 500 dpi. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct GrayImage GrayImage;

enum { IMAGE_FEATURE_COUNT = 210, SPECTRAL_FEATURE_COUNT = 25 };

typedef struct ImageClassifier {
  int (*rate)(MatchContext* ctx, const int16_t* vector, int count, uint16_t* out_score);
  uint16_t threshold;
} ImageClassifier;

/* Per mille of pixels > centre, > centre + d, > centre + 2d, < centre - d,
 * < centre - 2d; all 0 for an empty image. */
ZYL_API void imgfeat_grey_stats(const uint8_t* pixels, int height, int width, int centre, int d,
                                int16_t* out);
/* The vector (allocated; free with imgfeat_free) and its count 210: 1 for
 * an image outside 492..508 dpi vertically, 2 for a null argument, 9 out
 * of memory, or the texture step's status (nothing handed out then). The
 * first argument is not read. */
ZYL_API int imgfeat_compute(const void* unused, const GrayImage* image, int16_t** out_vector,
                            int* out_count);
ZYL_API void imgfeat_free(int16_t* vector);
/* A texture feature in 16 bits: below -1 gives 0, -1..131071 half the
 * value (truncated), above 131071 gives 65535. */
ZYL_API uint16_t imgfeat_halve_texture(int32_t value);
/* Flag 1 when the classifier's score of the image's vector reaches its
 * threshold; the statuses of the vector and of the callback pass on. */
ZYL_API int imgfeat_classify(MatchContext* ctx, const GrayImage* image,
                             const ImageClassifier* classifier, int* out_flag);

typedef struct SpectralFeatureVector {
  int32_t values[SPECTRAL_FEATURE_COUNT];
  int32_t count;
  uint8_t quality;      /* classical quality 1..100, 0 when not assessed */
  int16_t area_mm2;     /* foreground area in square millimetres */
  uint8_t bright;       /* bright-pixel percentage */
} SpectralFeatureVector;

/* The vector of the image (allocated; free with specfeat_free): 2 for a
 * null argument, 9 out of memory, the quality assessment's and the
 * segmentation's statuses. Images outside 492..508 dpi on either axis are
 * resampled to 500 dpi first. */
ZYL_API int specfeat_compute(const GrayImage* image, SpectralFeatureVector** out);
ZYL_API void specfeat_free(SpectralFeatureVector* vector);
/* One model over the vector's values; 2 for a null model, vector or
 * output. The first argument is not read. */
ZYL_API int specfeat_score_with(const void* unused, const ScoreModel* model,
                                const SpectralFeatureVector* vector, int32_t* out_score);
/* Each output optional; 2 for a null vector. */
ZYL_API int specfeat_info(const SpectralFeatureVector* vector, uint8_t* quality,
                          int16_t* area_mm2, uint8_t* bright);
/* Four first-stage models over the 25 values and a final model over their
 * four scores. */
typedef struct SpectralScoreModels {
  const ScoreModel* first[4];
  const ScoreModel* final_model;
} SpectralScoreModels;

/* The image's spectral score with the given models: t of the final model
 * gives 0 below -20000, t + 20000 below 45536, else 65535 (as 16 bits). 2
 * for a null argument or model; the vector's and the models' statuses. */
ZYL_API int specfeat_score_models(const SpectralScoreModels* models, const GrayImage* image,
                                  int16_t* out_score);
/* The same with the library's own models. The library carries no trained
 * rows for them, so this answers 1 (unsupported) after checking its
 * arguments (2 for a null one), until a build supplies them. */
ZYL_API int specfeat_score(MatchContext* ctx, const GrayImage* image, int16_t* out_score);
/* The mapping of a combined score t to the 16-bit score. */
ZYL_API uint16_t specfeat_combine(int32_t t);

ZYL_EXTERN_C_END

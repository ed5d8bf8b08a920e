// The engine's extraction path: an image object or a caller's raw pixel
// buffer becomes a template container, one section per stage, led by the
// sample-information section.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "matchlib/image/blob.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/engine/engine_extract.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/filter/image_transforms.h"
#include "matchlib/image/mask_build.h"
#include "matchlib/template/container.h"
#include "matchlib/template/sample_info.h"
#include "matchlib/template/stage_extract.h"

namespace zyl::matchlib {
namespace {

// An image size passes when it lies within 10 % of the expected one, in
// either orientation.
bool size_passes(int height, int width, int want_h, int want_w) {
  auto near = [](long want, long have) { return std::labs(want - have) * 100 / have <= 10; };
  return (near(want_h, height) && near(want_w, width)) ||
         (near(want_h, width) && near(want_w, height));
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::engine_run_stage_extract_pixels(MatchContext* context, const StageObject* stage,
                                                   const StageChain* /*chain*/, GrayImage* image,
                                                   FingerInfo* info, DataBlob** blob) {
  if (!context || !stage || !image || !blob) return ML_BAD_ARGUMENT;
  const ImagePrepRoutine* routines = zyl::matchlib::stage_get_image_routines(stage);
  if (routines && *routines) return ML_BAD_ARGUMENT;  // the raw path prepares nothing
  const StageExtractor* extractor = zyl::matchlib::stage_get_extractor(stage);
  if (!extractor || !extractor->extract) return *blob ? ML_OK : ML_BAD_ARGUMENT;
  if (*blob && zyl::matchlib::tmpl_has_section(*blob, zyl::matchlib::stage_get_kind(stage)))
    return ML_OK;
  Ref<DataBlob> old = Ref<DataBlob>::adopt(std::exchange(*blob, nullptr));
  DataBlob* section = nullptr;
  const int status =
      extractor->extract(context, image, info, zyl::matchlib::stage_get_kind(stage), &section);
  Ref<DataBlob> owned = Ref<DataBlob>::adopt(section);
  if (status != ML_OK) return status;
  DataBlob* merged = zyl::matchlib::container_merge(old.get(), owned.get());
  if (!merged) return ML_NO_MEMORY;
  *blob = merged;
  return ML_OK;
}

int zyl::matchlib::engine_extract(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                                  DataBlob** blob) {
  if (!engine || !blob) return ML_BAD_ARGUMENT;
  if (engine->before) engine->before(engine->user, image, info, blob);
  info = zyl::matchlib::finger_info_or_default(info);
  int status = ML_OK;
  Ref<DataBlob> working;
  if (image) {
    status = zyl::matchlib::image_build_masks_from_params(image, engine->context);
    Ref<GrayImage> work;
    if (status == ML_OK) {
      const TilingSpec& t = engine->config.tiling;
      if (zyl::matchlib::tiling_fits(image, &t, 0)) {
        int row = 0;
        int column = 0;
        work = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_on_foreground(
            image, t.tile_height, t.tile_width, t.variance_threshold, &row, &column));
        if (!work) status = ML_NO_MEMORY;
      } else {
        work = Ref<GrayImage>::share(image);
      }
    }
    Ref<GrayImage> converted;
    if (status == ML_OK) {
      working = Ref<DataBlob>::adopt(std::exchange(*blob, nullptr));
      DataBlob* w = working.release();
      status = zyl::matchlib::engine_attach_sample_info(engine, work.get(), info, &w);
      working = Ref<DataBlob>::adopt(w);
    }
    if (status == ML_OK) {
      GrayImage* c = nullptr;
      status = zyl::matchlib::engine_apply_converters(engine, work.get(), &c);
      converted = Ref<GrayImage>::adopt(c);
    }
    for (StageObject* s = zyl::matchlib::chain_first(engine->chain); status == ML_OK && s;
         s = zyl::matchlib::stage_next(s)) {
      DataBlob* w = working.release();
      status =
          zyl::matchlib::engine_run_stage_extract(engine->context, s, converted.get(), info, &w);
      working = Ref<DataBlob>::adopt(w);
    }
    if (status == ML_OK) *blob = working.release();
  }
  if (engine->after) engine->after(engine->user, status == ML_OK ? *blob : nullptr, status);
  return status;
}

int zyl::matchlib::engine_extract_image(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                                        DataBlob** out) {
  if (!engine || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (engine->input_mode != ENGINE_INPUT_IMAGE) return ML_WRONG_KIND;
  // Without an image there is no template to give: a caller that wrote the
  // empty answer out would store a template of nothing.
  if (!image) return ML_BAD_ARGUMENT;
  return zyl::matchlib::engine_extract(engine, image, info, out);
}

int zyl::matchlib::engine_extract_pixels(MatchEngine* engine, const uint8_t* pixels, int height,
                                         int width, int resolution, FingerInfo* info,
                                         DataBlob** out) {
  if (!engine) return ML_BAD_ARGUMENT;
  if (out) *out = nullptr;
  if (!info || !out || !pixels || height <= 0 || width <= 0 || engine->config.tiling.tiles_down != 0)
    return ML_BAD_ARGUMENT;
  if (engine->input_mode == ENGINE_INPUT_IMAGE) return ML_WRONG_KIND;
  if (engine->expected_dpi != 0 && std::abs(engine->expected_dpi - resolution) > 8)
    return ML_BAD_ARGUMENT;
  if (engine->expected_height != 0 && engine->expected_width != 0 &&
      !size_passes(height, width, engine->expected_height, engine->expected_width))
    return ML_BAD_ARGUMENT;
  // The converters rewrite pixels in place: they work on the image's own
  // copy, so the caller's buffer (a captured image, extracted again later)
  // stays as it was.
  Ref<GrayImage> wrapped = Ref<GrayImage>::adopt(zyl::matchlib::image_create(
      height, width, resolution, resolution, pixels, IMAGE_NULL_IMPRESSION_TYPE));
  if (!wrapped) return ML_NO_MEMORY;
  std::uint8_t* own = zyl::matchlib::image_pixels(wrapped.get());
  int status = ML_OK;
  for (const ImagePrepDescriptor* const* d = engine->converters; status == ML_OK && d && *d; ++d)
    status = (*d)->routine(engine->context, own, nullptr, height, width, resolution, nullptr, own,
                           nullptr, nullptr);
  if (status == ML_OK && engine->precheck) status = engine->precheck(engine->context, wrapped.get());
  Ref<DataBlob> working;
  for (StageObject* s = zyl::matchlib::chain_first(engine->chain); status == ML_OK && s;
       s = zyl::matchlib::stage_next(s)) {
    DataBlob* w = working.release();
    status = zyl::matchlib::engine_run_stage_extract_pixels(engine->context, s, engine->chain,
                                                            wrapped.get(), info, &w);
    working = Ref<DataBlob>::adopt(w);
  }
  if (status == ML_OK) *out = working.release();
  return status;
}

extern "C" {

ZYL_API int engine_run_stage_extract_pixels(MatchContext* context, const StageObject* stage,
                                            const StageChain* arg2, GrayImage* image,
                                            FingerInfo* info, DataBlob** blob) {
  return zyl::matchlib::engine_run_stage_extract_pixels(context, stage, arg2, image, info, blob);
}
ZYL_API int engine_extract(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                           DataBlob** blob) {
  return zyl::matchlib::engine_extract(engine, image, info, blob);
}
ZYL_API int engine_extract_image(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                                 DataBlob** out) {
  return zyl::matchlib::engine_extract_image(engine, image, info, out);
}
ZYL_API int engine_extract_pixels(MatchEngine* engine, const uint8_t* pixels, int height, int width,
                                  int resolution, FingerInfo* info, DataBlob** out) {
  return zyl::matchlib::engine_extract_pixels(engine, pixels, height, width, resolution, info, out);
}

}  // extern "C"

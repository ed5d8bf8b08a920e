// The steps of the engine's extraction that run on one image: the
// sample-information section, the engine's converters, and one stage's
// section of the template container.
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "matchlib/image/blob.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/filter/image_transforms.h"
#include "matchlib/template/container.h"
#include "matchlib/template/sample_info.h"
#include "matchlib/template/stage_extract.h"

namespace zyl::matchlib {
namespace {

// Replaces *image by the output of one preprocessing step; false when the
// step gives nothing.
bool prep_step(Ref<GrayImage>& image, MatchContext* ctx, const ImagePrepDescriptor* d) {
  GrayImage* next = zyl::matchlib::image_preprocess_copy(image.get(), ctx, d);
  if (!next) return false;
  image = Ref<GrayImage>::adopt(next);
  return true;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::engine_attach_sample_info(MatchEngine* engine, GrayImage* image,
                                             FingerInfo* info, DataBlob** blob) {
  if (!engine || !blob || !image) return ML_BAD_ARGUMENT;
  if (*blob && zyl::matchlib::tmpl_has_section(*blob, SAMPLE_INFO_FORMAT)) return ML_OK;
  info = zyl::matchlib::finger_info_or_default(info);
  SampleInfo s{};
  s.height = static_cast<std::uint16_t>(zyl::matchlib::image_height(image));
  s.width = static_cast<std::uint16_t>(zyl::matchlib::image_width(image));
  if (engine->quality) {
    std::uint16_t rating = 0;
    const int status = engine->quality(engine->context, image, &rating);
    if (status != ML_OK) return status;
    s.quality = rating;
  } else {
    s.quality = static_cast<std::uint8_t>(zyl::matchlib::image_property_byte(image));
  }
  s.resolution =
      zyl::matchlib::image_resolution_y(image) == zyl::matchlib::image_resolution_x(image)
          ? static_cast<std::uint16_t>(zyl::matchlib::image_resolution_y(image))
          : 0;
  s.source_height = static_cast<std::uint16_t>(zyl::matchlib::image_source_height(image));
  s.source_width = static_cast<std::uint16_t>(zyl::matchlib::image_source_width(image));
  s.offset_y = static_cast<std::uint16_t>(zyl::matchlib::image_offset_y(image));
  s.offset_x = static_cast<std::uint16_t>(zyl::matchlib::image_offset_x(image));
  s.finger_attribute = zyl::matchlib::finger_info_attribute_id(info);
  s.finger_position = static_cast<std::uint32_t>(zyl::matchlib::finger_info_position(info));
  s.finger_value = static_cast<std::uint32_t>(zyl::matchlib::finger_info_second_value(info));
  DataBlob* merged = *blob;
  if (zyl::matchlib::sample_info_write(nullptr, &s, &merged) != ML_OK) return ML_NO_MEMORY;
  zyl::matchlib::blob_release(*blob);
  *blob = merged;
  return ML_OK;
}

int zyl::matchlib::engine_apply_converters(MatchEngine* engine, GrayImage* image, GrayImage** out) {
  if (!engine || !image || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!engine->converters && !engine->precheck) {
    *out = zyl::matchlib::image_retain(image);
    return ML_OK;
  }
  Ref<GrayImage> copy = Ref<GrayImage>::adopt(zyl::matchlib::image_clone(image));
  if (!copy) return ML_NO_MEMORY;
  for (const ImagePrepDescriptor* const* d = engine->converters; d && *d; ++d)
    if (!prep_step(copy, engine->context, *d)) return ML_NO_MEMORY;
  if (engine->precheck) {
    const int status = engine->precheck(engine->context, copy.get());
    if (status != ML_OK) return status;
  }
  *out = copy.release();
  return ML_OK;
}

int zyl::matchlib::engine_run_stage_extract(MatchContext* context, const StageObject* stage,
                                            GrayImage* image, FingerInfo* info, DataBlob** blob) {
  if (!stage || !context || !blob) return ML_BAD_ARGUMENT;
  const StageExtractor* extractor = zyl::matchlib::stage_get_extractor(stage);
  if (!extractor || !extractor->extract || !image)
    return image && !*blob ? ML_BAD_ARGUMENT : ML_OK;  // the stage only matches
  if (*blob && zyl::matchlib::tmpl_has_section(*blob, zyl::matchlib::stage_get_kind(stage)))
    return ML_OK;
  Ref<DataBlob> old = Ref<DataBlob>::adopt(std::exchange(*blob, nullptr));
  Ref<GrayImage> copy = Ref<GrayImage>::adopt(zyl::matchlib::image_clone(image));
  if (!copy) return ML_NO_MEMORY;
  for (const ImagePrepRoutine* r = zyl::matchlib::stage_get_image_routines(stage); r && *r; ++r) {
    const ImagePrepDescriptor d{*r};
    if (!prep_step(copy, context, &d)) return ML_NO_MEMORY;
  }
  DataBlob* section = nullptr;
  const int status =
      extractor->extract(context, copy.get(), info, zyl::matchlib::stage_get_kind(stage), &section);
  Ref<DataBlob> owned = Ref<DataBlob>::adopt(section);
  if (status != ML_OK) return status;
  DataBlob* merged = zyl::matchlib::container_merge(old.get(), owned.get());
  if (!merged) return ML_NO_MEMORY;
  *blob = merged;
  return ML_OK;
}

extern "C" {

ZYL_API int engine_attach_sample_info(MatchEngine* engine, GrayImage* image, FingerInfo* info,
                                      DataBlob** blob) {
  return zyl::matchlib::engine_attach_sample_info(engine, image, info, blob);
}
ZYL_API int engine_apply_converters(MatchEngine* engine, GrayImage* image, GrayImage** out) {
  return zyl::matchlib::engine_apply_converters(engine, image, out);
}
ZYL_API int engine_run_stage_extract(MatchContext* context, const StageObject* stage,
                                     GrayImage* image, FingerInfo* info, DataBlob** blob) {
  return zyl::matchlib::engine_run_stage_extract(context, stage, image, info, blob);
}

}  // extern "C"

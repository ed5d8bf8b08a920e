// False-accept defaults of the table presets and the normalising image
// routines of the card and grid-block stages.
#include <cstdint>

#include "matchlib/engine/preset_build.h"

#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_presets.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/preset_defaults.h"
#include "matchlib/filter/enhancement_operations.h"

namespace zyl::matchlib {
namespace {

constexpr int kNormalizeGlobal = 3, kNormalizeLocal = 4;

int normalize(MatchContext* ctx, uint32_t switch_key, const uint8_t* pixels, int height, int width,
              int resolution, uint8_t* out) {
  const int type =
      zyl::matchlib::param_get(ctx, switch_key, 1) ? kNormalizeLocal : kNormalizeGlobal;
  return zyl::matchlib::imgproc_normalize_by_type(pixels, height, width, resolution, type, out);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::preset_register_far_defaults(MatchContext* context) {
  static constexpr PresetDefault kDefaults[] = {
      {"vn.morva_light.far.reject", 0, 1},
      {"vn.morva.far.reject", 0, 3},
      {nullptr, 0x522624e7u, 32},
      {nullptr, 0xdb4cd8b0u, 6},
      {"vn.morva_light.verify.reject_far", 0, 0},
      {nullptr, 0xc1c1874du, 12},
      {"vn.morva.verify.reject_far", 0, 9},
      {nullptr, 0x1ba6e66cu, 3},
  };
  return write_defaults(context, kDefaults);
}

extern "C" ZYL_API int stage_image_normalize(MatchContext* ctx, const uint8_t* pixels,
                                             const uint8_t*, int height, int width, int resolution,
                                             const SourceWindow*, uint8_t* out, uint8_t**, int*) {
  return normalize(ctx, 0x9df44d82u, pixels, height, width, resolution, out);
}

extern "C" ZYL_API int stage_image_normalize_grid(MatchContext* ctx, const uint8_t* pixels,
                                                  const uint8_t*, int height, int width,
                                                  int resolution, const SourceWindow*, uint8_t* out,
                                                  uint8_t**, int*) {
  return normalize(ctx, 0xcb0badd0u, pixels, height, width, resolution, out);
}

extern "C" {

ZYL_API int preset_register_far_defaults(MatchContext* context) {
  return zyl::matchlib::preset_register_far_defaults(context);
}

}  // extern "C"

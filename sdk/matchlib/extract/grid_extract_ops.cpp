// Grid feature extraction operations: read the grid settings from the
// context, bring the image to the working resolution, build the map of
// usable pixels and wrap the front end's serialised block in a format-77
// data blob.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/guarded_call.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/param_store.h"
#include "matchlib/extract/grid_extract_ops.h"
#include "matchlib/extract/grid_frontend.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_geometry.h"

namespace zyl::matchlib::grid {
namespace {

struct ImageRelease {
  void operator()(GrayImage* image) const { zyl::matchlib::image_release(image); }
};
using ImagePtr = std::unique_ptr<GrayImage, ImageRelease>;
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<uint8_t, FreeDeleter>;

using FrontEnd = int (*)(const uint8_t*, const uint8_t*, int, int, int, uint8_t**, uint16_t*,
                         const GridExtractParams*);

int32_t round_up(int32_t v, int32_t granule) { return (v + granule - 1) / granule * granule; }

// Runs a front end on the image and wraps its bytes as a format-77 blob.
int run_front_end(GrayImage* image, FrontEnd front_end, int resolution,
                  const GridExtractParams& p, DataBlob** out_blob) {
  uint8_t* usable_raw = nullptr;
  int st = zyl::matchlib::image_usable_mask_bytes(image, &usable_raw);
  if (st != ML_OK) return st;
  Bytes usable(usable_raw);
  uint8_t* bytes_raw = nullptr;
  uint16_t length = 0;
  st = front_end(zyl::matchlib::image_pixels(image), usable.get(),
                 zyl::matchlib::image_height(image), zyl::matchlib::image_width(image), resolution,
                 &bytes_raw, &length, &p);
  Bytes bytes(bytes_raw);
  if (st != ML_OK) return st;
  DataBlob* blob = zyl::matchlib::blob_create(GRIDEXT_FORMAT, bytes.get(), length);
  if (!blob) return ML_NO_MEMORY;
  *out_blob = blob;
  return ML_OK;
}

// Both sides scaled to the working resolution d, the smaller one raised to
// a multiple of the granule and the other keeping the aspect ratio.
void working_size(int32_t h, int32_t w, int32_t r, int32_t d, int32_t granule, int32_t& H,
                  int32_t& W) {
  const int32_t h1 = static_cast<uint16_t>((int64_t{h} * d + r / 2) / r);
  const int32_t w1 = static_cast<uint16_t>((int64_t{w} * d + r / 2) / r);
  if (h1 < w1) {
    H = round_up(h1, granule);
    W = static_cast<int32_t>((int64_t{w} * H + h / 2) / h);
  } else if (h1 > w1) {
    W = round_up(w1, granule);
    H = static_cast<int32_t>((int64_t{h} * W + w / 2) / w);
  } else {
    H = W = round_up(h1, granule);
  }
}

int extract(MatchContext* context, GrayImage* image, int32_t format, DataBlob** out_blob) {
  GridExtractParams p;
  zyl::matchlib::gridext_params_read(&p, context);
  const int h = zyl::matchlib::image_height(image), w = zyl::matchlib::image_width(image);
  // Unequal resolutions have no common one to scale by: refused like a
  // missing resolution.
  const int r = zyl::matchlib::image_resolution(image);
  const int32_t front = zyl::matchlib::param_get(context, GRIDEXT_KEY_FRONT_END_DPI, 500);
  const int32_t d = zyl::matchlib::param_get(context, GRIDEXT_KEY_WORKING_DPI, front);
  if (format != GRIDEXT_FORMAT || zyl::matchlib::image_resolution_y(image) == 0 ||
      zyl::matchlib::image_resolution_x(image) == 0 || r <= 0 || h <= 0 || w <= 0)
    return ML_WRONG_KIND;
  if (front != 500 && (front != 250 || (p.cell_size & 1))) return ML_WRONG_KIND;
  if (d <= 0 || d > 0xFFFF) return ML_WRONG_KIND;  // no size to scale to
  ImagePtr working(zyl::matchlib::image_retain(image));
  if (std::abs(r - d) > 8) {
    int32_t H = 0, W = 0;
    working_size(h, w, r, d, d == 250 ? 6 : 12, H, W);
    const int32_t ry = static_cast<int32_t>((int64_t{r} * H + h / 2) / h);
    const int32_t rx = static_cast<int32_t>((int64_t{r} * W + w / 2) / w);
    if ((std::abs(ry - r) > 8 || std::abs(rx - r) > 8) && rx != r) {
      if (H <= 0 || W <= 0) return ML_WRONG_KIND;
      working.reset(zyl::matchlib::image_resize_with_resolution(image, H, W, rx, rx));
      if (!working) return ML_NO_MEMORY;
    }
  }
  return front == 500
             ? run_front_end(working.get(), zyl::matchlib::gridblock_extract32, 500, p, out_blob)
             : run_front_end(working.get(), zyl::matchlib::gridblock_extract, 250, p, out_blob);
}

int extract_i16(MatchContext* context, GrayImage* image, int32_t format, DataBlob** out_blob) {
  GridExtractParams p;
  zyl::matchlib::gridext_params_read(&p, context);
  const int h = zyl::matchlib::image_height(image), w = zyl::matchlib::image_width(image);
  const int r = zyl::matchlib::image_resolution(image);
  const int32_t target = zyl::matchlib::param_get(context, GRIDEXT_KEY_FRONT_END_DPI, 0);
  if (format != GRIDEXT_FORMAT || zyl::matchlib::image_resolution_y(image) == 0 ||
      zyl::matchlib::image_resolution_x(image) == 0 || r <= 0 || h <= 0 || w <= 0)
    return ML_WRONG_KIND;
  ImagePtr working(zyl::matchlib::image_retain(image));
  int resolution = r;
  if (target > 0 && std::abs(target - r) > 8) {
    const int32_t H = static_cast<int32_t>((int64_t{target} * h + r / 2) / r);
    const int32_t W = static_cast<int32_t>((int64_t{target} * w + r / 2) / r);
    if (H <= 0 || W <= 0) return ML_WRONG_KIND;
    const int e = (static_cast<uint16_t>((int64_t{r} * H + h / 2) / h) +
                   static_cast<uint16_t>((int64_t{r} * W + w / 2) / w)) /
                  2;
    if (std::abs(r - e) > 8) {
      working.reset(zyl::matchlib::image_resize_with_resolution(image, H, W, e, e));
      if (!working) return ML_NO_MEMORY;
      resolution = e;
    }
  }
  if (resolution > 400) return ML_WRONG_KIND;
  return run_front_end(working.get(), zyl::matchlib::gridblock_extract_i16, resolution, p,
                       out_blob);
}

}  // namespace
}  // namespace zyl::matchlib::grid

using namespace zyl::matchlib::grid;

GridExtractParams* zyl::matchlib::gridext_params_read(GridExtractParams* out,
                                                      const MatchContext* context) {
  if (!out) return nullptr;
  *out = GridExtractParams{};
  out->cell_size =
      static_cast<int16_t>(zyl::matchlib::param_get(context, GRIDEXT_KEY_CELL_SIZE, 4));
  out->min_variance = 16;
  out->max_period = 4608;
  out->min_period = 1208;
  out->variance_ceiling = 7000;
  out->variance_floor = 500;
  out->min_coverage = 128;
  out->band_divisor =
      static_cast<uint32_t>(zyl::matchlib::param_get(context, GRIDEXT_KEY_BAND_DIVISOR, 8));
  out->gauss_width =
      static_cast<uint16_t>(zyl::matchlib::param_get(context, GRIDEXT_KEY_GAUSS_WIDTH, 0));
  out->amplitude_scale =
      static_cast<uint16_t>(zyl::matchlib::param_get(context, GRIDEXT_KEY_AMPLITUDE_SCALE, 0));
  out->max_maxima =
      static_cast<uint16_t>(zyl::matchlib::param_get(context, GRIDEXT_KEY_MAX_MAXIMA, 32));
  out->agreement_threshold =
      static_cast<uint16_t>(zyl::matchlib::param_get(context, GRIDEXT_KEY_AGREEMENT, 128));
  out->coherence_flag =
      static_cast<uint8_t>(zyl::matchlib::param_get(context, GRIDEXT_KEY_COHERENCE_FLAG, 1));
  const uint8_t bits[GRIDBLOCK_VALUES] = {8, 8, 6, 6, 4, 4};
  const uint8_t pooling[GRIDBLOCK_VALUES] = {1, 1, 1, 2, 3, 3};
  for (int k = 0; k < GRIDBLOCK_VALUES; ++k) {
    out->plane_bits[k] = bits[k];
    out->plane_pooling[k] = pooling[k];
  }
  return out;
}

extern "C" ZYL_API int gridext_extract(MatchContext* context, GrayImage* image, void*,
                                       int32_t format, DataBlob** out_blob) {
  if (!image || !out_blob) return ML_BAD_ARGUMENT;
  *out_blob = nullptr;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return extract(context, image, format, out_blob); });
}

extern "C" ZYL_API int gridext_extract_i16(MatchContext* context, GrayImage* image, void*,
                                           int32_t format, DataBlob** out_blob) {
  if (!image || !out_blob) return ML_BAD_ARGUMENT;
  *out_blob = nullptr;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return extract_i16(context, image, format, out_blob); });
}

extern "C" {

ZYL_API GridExtractParams* gridext_params_read(GridExtractParams* out,
                                               const MatchContext* context) {
  return zyl::matchlib::gridext_params_read(out, context);
}

}  // extern "C"

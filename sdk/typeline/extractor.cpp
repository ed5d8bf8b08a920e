// The type-line extractor's driver: one grey image in, one type-line
// template out, through the stages in a fixed order.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "common/guarded_call.h"
#include "typeline/extract_common.h"
#include "typeline/stages.h"
#include "typeline/template_codec.h"
#include "zylscan/typeline_match.h"
#include "zylscan/typeline_template.h"

namespace tl = zyl::typeline;

namespace {

constexpr int kNullArgument = -1;
constexpr int kOutOfMemory = -21;
constexpr int kTooFewFeatures = -31;
constexpr int kBadSize = -41;
constexpr int kVersion = 0x1002;

struct WorkAreas {
  std::unique_ptr<MinutiaCandidateList> list;
  std::unique_ptr<TypelineRecord> record;
  std::vector<std::uint8_t> normalised, map, image2, aux;
  std::vector<std::uint16_t> work16;
};

int run_pipeline(std::uint8_t* image, int w, int h, std::uint8_t* out) {
  const std::size_t n = tl::pixels(w, h);
  WorkAreas a;
  if (int rc = zyl::GuardedCall(kOutOfMemory, [&] {
        a.list = std::make_unique<MinutiaCandidateList>();
        a.record = std::make_unique<TypelineRecord>();
        std::memset(out, 0, TYPELINE_TEMPLATE_SIZE);
        a.normalised.assign(n, 0);
        a.map.assign(n, 0);
        a.work16.resize(n);
        a.image2.resize(n);
        a.aux.resize(n);
        return 0;
      }))
    return rc;
  // An empty image has nothing to find (and no pixels to work on).
  if (n == 0) return kTooFewFeatures;
  TypelineRecord& record = *a.record;
  MinutiaCandidateList& list = *a.list;
  std::uint8_t* img2 = a.image2.data();

  const std::span<std::uint8_t> grey{image, n};
  const std::span<std::uint8_t> map = a.map, image2 = a.image2, aux = a.aux;
  const std::span<std::uint16_t> labels = a.work16;
  tl::normalize_grey(grey, a.normalised);
  std::memcpy(image, a.normalised.data(), n);
  tl::smooth_box(grey, w, h, 1);
  std::memcpy(img2, image, n);
  tl::segment(grey, map, w, h);
  tl::smooth_box(image2, w, h, 4);
  tl::sharpen(image2, grey, map, w, h, 64);
  std::memcpy(image, img2, n);
  tl::smooth_box(image2, w, h, 1);
  tl::estimate_orientation(map, image2, w, h, aux);
  tl::directional_filter(grey, map, image2, w, h);
  tl::smooth_box(grey, w, h, 4);
  tl::sharpen(grey, image2, map, w, h, 64);
  tl::binarise(map, image2, grey, w, h, 3, 7);
  tl::smooth_binary(image2, w, h);
  tl::remove_holes(map, image2, w, h);
  tl::reestimate_orientation(map, image2, w, h);
  tl::sample_blocks(map, w, h, record.grid, w / 16, h / 16);

  CoreList cores{};
  tl::find_singular_points(cores, map, w, h);
  // The type-line tracer borrows the label buffer as byte scratch.
  record.patternType = static_cast<std::uint8_t>(
      tl::trace_type_lines(record, cores, map, {reinterpret_cast<std::uint8_t*>(labels.data()), n}, w, h));
  tl::copy_singular_points(cores, record);
  record.frequency = static_cast<std::uint8_t>(tl::ridge_frequency(image2, map, cores, w, h));
  tl::directional_filter(image2, map, grey, w, h);

  tl::trace_minutiae(grey, labels, map, w, h, list);
  tl::filter_minutiae(list, cores, map, w, h);
  record.density = static_cast<std::uint8_t>(tl::ridge_density(cores, map, 64, labels, w, h));
  tl::rate_minutiae(list, aux, w, h);
  tl::arrange_minutiae(list, record.minutiae, map, w, h);

  if (record.minutiae.count <= 2 && record.singular.count == 0) return kTooFewFeatures;
  record.tag = TYPELINE_TAG;
  record.firstSection = 4;
  record.width = static_cast<std::int16_t>(w);
  record.height = static_cast<std::int16_t>(h);
  return tl::write_template(record, std::span<std::uint8_t, tl::kTemplateSize>(out, tl::kTemplateSize));
}

int checked_pipeline(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  if (!image || !out) return kNullArgument;
  if (width < 0 || height < 0 || width > tl::kMaxSide || height > tl::kMaxSide) return kBadSize;
  return run_pipeline(image, width, height, out);
}

}  // namespace

namespace zyl::typeline {

// The template entry points publish the height of the last image they were
// given (callers read it back), then run the checked pipeline.
int template_recording_height(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  last_template_height = height;
  return checked_pipeline(image, width, height, out);
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API int ext_main(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  return checked_pipeline(image, width, height, out);
}

ZYL_API int create_template(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  return tl::template_recording_height(image, width, height, out);
}

ZYL_API int create_template_devided(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  return tl::template_recording_height(image, width, height, out);
}

ZYL_API int GetAlgorithmLibraryVersin(void) { return kVersion; }

ZYL_API int ResizeImage(std::uint8_t* buffer, unsigned W, unsigned H, unsigned w, unsigned h) {
  if (!buffer || w > W || h > H) return -1;
  const std::size_t x0 = (W - w) / 2, y0 = (H - h) / 2;
  for (unsigned i = 0; i < h; ++i)
    std::memmove(buffer + static_cast<std::size_t>(w) * i, buffer + (y0 + i) * W + x0, w);
  const std::size_t kept = static_cast<std::size_t>(w) * h;
  std::memset(buffer + kept, 0, static_cast<std::size_t>(W) * H - kept);
  return 0;
}

}  // extern "C"

// The type-line extractor's driver: one grey image in, one type-line
// template out, through the stages in a fixed order.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "typeline/extract_common.h"
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
  try {
    a.list = std::make_unique<MinutiaCandidateList>();
    a.record = std::make_unique<TypelineRecord>();
    std::memset(out, 0, TYPELINE_TEMPLATE_SIZE);
    a.normalised.assign(n, 0);
    a.map.assign(n, 0);
    a.work16.resize(n);
    a.image2.resize(n);
    a.aux.resize(n);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  // An empty image has nothing to find (and no pixels to work on).
  if (n == 0) return kTooFewFeatures;
  TypelineRecord& record = *a.record;
  MinutiaCandidateList& list = *a.list;
  std::uint8_t* map = a.map.data();
  std::uint8_t* img2 = a.image2.data();

  normalizeZyl(image, a.normalised.data(), w, h, 0.5f);
  std::memcpy(image, a.normalised.data(), n);
  get_smoothed_image(image, w, h);
  std::memcpy(img2, image, n);
  get_segmentation(image, map, w, h);
  get_smoothed_image4(img2, w, h);
  get_sharpend_image(img2, image, map, w, h, 64);
  std::memcpy(image, img2, n);
  get_smoothed_image(img2, w, h);
  get_orient_image(map, img2, w, h, a.aux.data());
  image_proc_01(image, map, img2, w, h);
  get_smoothed_image4(image, w, h);
  get_sharpend_image(image, img2, map, w, h, 64);
  get_binary_image2(map, img2, image, w, h, 3, 7);
  image_proc_04(img2, w, h);
  remove_hole(map, img2, w, h);
  re_get_orient_image(map, img2, w, h);
  get_block_data(map, w, h, &record.grid.columns, w / 16, h / 16);

  CoreList cores{};
  get_core_points(&cores, map, w, h);
  record.patternType = static_cast<std::uint8_t>(
      get_type_line(&record, &cores, map, reinterpret_cast<std::uint8_t*>(a.work16.data()), w, h));
  copy_core(&cores, &record);
  record.frequency = static_cast<std::uint8_t>(get_frequency(img2, map, &cores, w, h));
  image_proc_01(img2, map, image, w, h);

  get_mp_points(image, a.work16.data(), map, w, h, &list);
  filter_mp_points(&list, &cores, map, w, h);
  record.density = static_cast<std::uint8_t>(get_density(&cores, map, 64, a.work16.data(), w, h));
  get_point_value(&list, a.aux.data(), w, h);
  arrange_mp(&list, &record.minutiae, map, w, h);

  if (record.minutiae.count <= 2 && record.singular.count == 0) return kTooFewFeatures;
  record.tag = TYPELINE_TAG;
  record.firstSection = 4;
  record.width = static_cast<std::int16_t>(w);
  record.height = static_cast<std::int16_t>(h);
  return get_byte_template(&record, out);
}

}  // namespace

extern "C" {

ZYL_API int dyn_image_height = 0;

ZYL_API int ext_main(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  if (!image || !out) return kNullArgument;
  if (width < 0 || height < 0 || width > tl::kMaxSide || height > tl::kMaxSide) return kBadSize;
  return run_pipeline(image, width, height, out);
}

ZYL_API int create_template(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  dyn_image_height = height;
  return ext_main(image, width, height, out);
}

ZYL_API int create_template_devided(std::uint8_t* image, int width, int height, std::uint8_t* out) {
  return create_template(image, width, height, out);
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

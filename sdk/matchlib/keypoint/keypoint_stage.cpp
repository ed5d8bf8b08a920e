// Keypoint extraction stage: working image at the working resolution,
// detectors within a point budget, descriptors of the selected types, and
// the BlockRecord written as a type-79 blob.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_support.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/sorting.h"
#include "matchlib/filter/normalize_global.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/keypoint/corner_scores.h"
#include "matchlib/keypoint/descriptor_types.h"
#include "matchlib/keypoint/keypoint_stage.h"
#include "matchlib/keypoint/block_record.h"

namespace zyl::matchlib {
namespace {

constexpr std::int32_t kKind = BLOCKREC_FORMAT;
constexpr std::uint32_t kKeyDetectorList = 0x041e91f6;
constexpr std::uint32_t kKeyDescriptorTypes = 0xaeeec432;
constexpr std::uint32_t kKeyResolution = 0x47664bcc;
constexpr std::uint32_t kKeyBudget = 0xc901dcad;
constexpr std::uint32_t kKeyDropMixed = 0x142ccb9b;
constexpr std::uint32_t kKeyTurnBright = 0x86931a0a;
constexpr std::uint32_t kKeyDoubleMixed = 0x4c4f1caf;
constexpr std::uint32_t kKeyRecordResolution = 0xa932dde5;
constexpr std::uint32_t kKeyOwnPixels = 0x02c24623;
constexpr std::uint32_t kKeyNormalise = 0x7ad82b4d;
constexpr std::uint32_t kKeyLightMask = 0x458516be;
constexpr int kResampleTolerance = 8;

constexpr DetectorEntry kList1[] = {{corner_pipeline_v0, 0, -1, -1}, {}};
constexpr DetectorEntry kList2[] = {{detect_rings_scaled, 0, -1, -1}, {}};
constexpr DetectorEntry kList4[] = {
    {detect_rings_scaled, 0, -1, -1}, {corner_pipeline_v3, 1, -1, -1}, {}};
constexpr DetectorEntry kList8[] = {{detect_variance_scaled, 1, -1, -1}, {}};
constexpr DetectorEntry kList16[] = {{::detect_corners_sparse, 0, -1, -1}, {}};
constexpr DetectorEntry kList32[] = {{detect_block_corners, 0, -1, -1}, {}};
constexpr DetectorEntry kList64[] = {{detect_extremum_scaled, 0, -1, -1}, {}};
constexpr DetectorEntry kList128[] = {{detect_saddle_scaled, 0, 50, -1}, {}};
constexpr DetectorEntry kList256[] = {{detect_corners_dense_scaled, 0, -1, -1}, {}};
constexpr DetectorEntry kEmpty[] = {{}};

struct PointList {
  KeyPoint* p = nullptr;
  int n = 0;
  PointList() = default;
  PointList(const PointList&) = delete;
  PointList& operator=(const PointList&) = delete;
  ~PointList() { std::free(p); }
};

struct RecordOwner {
  BlockRecord* r = nullptr;
  ~RecordOwner() { zyl::matchlib::blockrec_free(r); }
};

void sort_points(KeyPoint* p, int n, RecordCompare cmp) {
  if (n > 1) zyl::matchlib::shell_sort(p, n, sizeof(KeyPoint), cmp);
}

int budget_value(const MatchContext* ctx) {
  return zyl::matchlib::param_get(ctx, kKeyBudget, 0) & 0xFFFF;
}

// |R - r| beyond the tolerance resamples: (size x R + r/2) / r.
int resampled(int size, int to, int from) {
  return static_cast<int>((static_cast<long>(size) * to + from / 2) / from);
}

void append(BlockRecord* rec, const KeyPoint* p, int n) {
  for (int i = 0; i < n && rec->point_count < rec->capacity; ++i) {
    rec->points[rec->point_count++] = p[i];
    ++rec->type_counts[p[i].cls % BLOCKREC_POINT_TYPES];
  }
}

void finish_record(const MatchContext* ctx, BlockRecord* rec, int working_resolution) {
  rec->resolution_x = static_cast<std::uint16_t>(working_resolution);
  rec->resolution_y =
      static_cast<std::uint16_t>(zyl::matchlib::param_get(ctx, kKeyRecordResolution, 500));
  sort_points(rec->points, rec->point_count, kp_cmp_class_score);
  zyl::matchlib::blockrec_count_types(rec);
}

int valid_map(const MaskPlane* mask, std::vector<std::uint8_t>& map, int height, int width) {
  map.assign(static_cast<std::size_t>(height) * width, 0);
  // A plane of another size than the pixels would be read past its end.
  if (zyl::matchlib::mask_height(mask) != height || zyl::matchlib::mask_width(mask) != width)
    return ML_CORRUPT;
  return zyl::matchlib::mask_to_valid_bytes(mask, map.data());
}

int compute_descriptors(BlockRecord* rec, const std::uint8_t* px, const std::uint8_t* map,
                        int height, int width) {
  for (int k = 0; k < rec->extension_type_count; ++k)
    if (const int st = rec->extension_types[k]->compute(rec, k, px, map, height, width)) return st;
  return ML_OK;
}

// Entry budget of budget mode 1: the stage budget key when set, else one
// point per 25 usable pixels. The usable share comes from the mask plane;
// an image without one has no usable area measured, so such an entry adds
// no points.
int area_budget(const MatchContext* ctx, const GrayImage* work, int height, int width) {
  if (const int b = budget_value(ctx)) return b;
  const long u = zyl::matchlib::image_usable_percent(work);
  const long a = u * height * width;
  if (a < 100) return 0;
  return static_cast<int>(std::min<long>((a / 100 + 12) / 25, KEYPOINT_MAX_BUDGET));
}

int run_entry(const MatchContext* ctx, const DetectorEntry& e, const std::uint8_t* norm,
              int height, int width, const GrayImage* work, const MaskPlane* mask, int budget,
              BlockRecord* rec) {
  PointList list;
  if (const int st = e.detector(ctx, norm, height, width, &list.p, &list.n)) return st;
  if (zyl::matchlib::param_get(ctx, kKeyDropMixed, 0)) {
    for (int i = 0; i < list.n;) {
      if ((list.p[i].cls & 3) == 3) list.p[i] = list.p[--list.n];
      else ++i;
    }
  }
  if (zyl::matchlib::param_get(ctx, kKeyTurnBright, 0))
    for (int i = 0; i < list.n; ++i)
      if (list.p[i].cls & 1) list.p[i].angle = static_cast<std::uint8_t>(list.p[i].angle + 128);
  if (zyl::matchlib::param_get(ctx, kKeyDoubleMixed, 0) && list.n > 0) {
    int extra = 0;
    for (int i = 0; i < list.n; ++i) extra += (list.p[i].cls & 3) == 3;
    auto* grown = static_cast<KeyPoint*>(ml_malloc(sizeof(KeyPoint) * (list.n + extra)));
    if (!grown) return ML_NO_MEMORY;
    std::copy(list.p, list.p + list.n, grown);
    int n = list.n;
    for (int i = 0; i < list.n; ++i)
      if ((list.p[i].cls & 3) == 3) {
        grown[n] = list.p[i];
        grown[n++].angle = static_cast<std::uint8_t>(list.p[i].angle + 128);
      }
    std::free(list.p);
    list.p = grown;
    list.n = n;
  }
  if (mask) zyl::matchlib::kp_filter_by_mask(mask, list.p, &list.n);
  bool sorted = false;
  if (e.keep_percent >= 0) {
    const int keep = e.keep_percent * budget / 100;
    if (keep < list.n) {
      sort_points(list.p, list.n, kp_cmp_score_desc);
      list.n = keep;
      sorted = true;
    }
  }
  if (e.score_percent >= 0)
    for (int i = 0; i < list.n; ++i)
      list.p[i].score = static_cast<std::uint8_t>(list.p[i].score * e.score_percent / 100);
  if (e.budget_mode > 1) return ML_OK;
  const int entry_budget = e.budget_mode == 1 ? area_budget(ctx, work, height, width) : budget;
  const int room = entry_budget - rec->point_count;
  if (room <= 0) return ML_OK;
  if (!sorted && room < list.n) sort_points(list.p, list.n, kp_cmp_score_desc);
  append(rec, list.p, std::min(room, list.n));
  return ML_OK;
}

int extract_full(MatchContext* ctx, GrayImage* image, std::int32_t kind, DataBlob** out) {
  const DetectorEntry* entries =
      zyl::matchlib::keypoint_detector_list(zyl::matchlib::param_get(ctx, kKeyDetectorList, 4));
  const DescriptorType* types[DESC_TYPE_COUNT + 1];
  zyl::matchlib::desc_types_select(
      types, static_cast<std::uint32_t>(zyl::matchlib::param_get(ctx, kKeyDescriptorTypes, 2)));
  if (kind != kKind) return ML_WRONG_KIND;
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!image) return ML_BAD_ARGUMENT;
  const int R = zyl::matchlib::param_get(ctx, kKeyResolution, 500);
  const int r = zyl::matchlib::image_resolution_y(image);
  // Both resolutions divide sizes below: an image whose resolution was
  // never set cannot be brought to the working resolution.
  if (r <= 0 || R <= 0) return ML_BAD_ARGUMENT;
  Ref<GrayImage> work;
  int working_resolution = r;
  if (std::abs(R - r) <= kResampleTolerance) {
    work = Ref<GrayImage>::adopt(zyl::matchlib::image_retain(image));
  } else {
    work = Ref<GrayImage>::adopt(zyl::matchlib::image_resize_with_resolution(
        image, resampled(zyl::matchlib::image_height(image), R, r),
        resampled(zyl::matchlib::image_width(image), R, r), R, R));
    if (!work) return ML_NO_MEMORY;
    working_resolution = R;
  }
  const int h = zyl::matchlib::image_height(work.get()), w = zyl::matchlib::image_width(work.get());
  const std::uint8_t* px = zyl::matchlib::image_pixels(work.get());
  if (!px && h * w > 0) return ML_BAD_ARGUMENT;
  std::vector<std::uint8_t> norm(static_cast<std::size_t>(h) * w);
  if (h > 0 && w > 0)
    if (const int st = zyl::matchlib::imgproc_normalize_global(px, h, w, 128, 100, norm.data()))
      return st;
  int budget = budget_value(ctx);
  if (!budget) budget = h * w > 0 ? zyl::matchlib::keypoint_budget_from_area(h * w) : 0;
  RecordOwner rec;
  if (const int st = zyl::matchlib::blockrec_create(h, w, budget, types, &rec.r)) return st;
  const MaskPlane* mask = zyl::matchlib::image_mask_plane(work.get());
  for (const DetectorEntry* e = entries; e->detector && h > 0 && w > 0; ++e) {
    if (rec.r->point_count >= budget) continue;
    if (const int st = run_entry(ctx, *e, norm.data(), h, w, work.get(), mask, budget, rec.r))
      return st;
  }
  finish_record(ctx, rec.r, working_resolution);
  std::vector<std::uint8_t> map;
  if (mask)
    if (const int st = valid_map(mask, map, h, w)) return st;
  const std::uint8_t* pixels = zyl::matchlib::param_get(ctx, kKeyOwnPixels, 1) ? px : norm.data();
  if (h > 0 && w > 0)
    if (const int st = compute_descriptors(rec.r, pixels, mask ? map.data() : nullptr, h, w))
      return st;
  return zyl::matchlib::blockrec_to_blob(rec.r, out);
}

// Moves the n strongest points to the front without sorting: the points
// above the threshold score, then points at the threshold in list order.
void select_strongest(KeyPoint* p, int count, int n) {
  int hist[256] = {};
  for (int i = 0; i < count; ++i) ++hist[p[i].score];
  int t = 255, at_least = hist[255];
  while (t > 0 && at_least < n) at_least += hist[--t];
  int front = 0, ties = n - (at_least - hist[t]);
  for (int i = 0; i < count; ++i) {
    const bool take = p[i].score > t || (p[i].score == t && ties > 0);
    if (!take) continue;
    if (p[i].score == t) --ties;
    std::swap(p[front++], p[i]);
  }
}

int extract_light(MatchContext* ctx, GrayImage* image, std::int32_t kind, DataBlob** out) {
  const DescriptorType* types[DESC_TYPE_COUNT + 1];
  zyl::matchlib::desc_types_select(types, 0x10);
  if (kind != kKind) return ML_WRONG_KIND;
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!image) return ML_BAD_ARGUMENT;
  const int R = zyl::matchlib::param_get(ctx, kKeyResolution, 500);
  const int N = zyl::matchlib::param_get(ctx, kKeyNormalise, 1);
  const int r = zyl::matchlib::image_resolution_y(image);
  if (r <= 0 || R <= 0) return ML_BAD_ARGUMENT;
  int h = zyl::matchlib::image_height(image), w = zyl::matchlib::image_width(image);
  const std::uint8_t* px = zyl::matchlib::image_pixels(image);
  if (!px && h * w > 0) return ML_BAD_ARGUMENT;
  const MaskPlane* mask = zyl::matchlib::image_mask_plane(image);
  int working_resolution = R;
  Ref<GrayImage> scaled;
  std::vector<std::uint8_t> copy;
  if (std::abs(R - r) > kResampleTolerance || N) {
    if (std::abs(R - r) > kResampleTolerance) {
      // The image object is resampled as a whole so that its mask plane
      // shares the working grid with the pixels and the points.
      scaled = Ref<GrayImage>::adopt(zyl::matchlib::image_resize_with_resolution(
          image, resampled(h, R, r), resampled(w, R, r), R, R));
      if (!scaled) return ML_NO_MEMORY;
      h = zyl::matchlib::image_height(scaled.get());
      w = zyl::matchlib::image_width(scaled.get());
      mask = zyl::matchlib::image_mask_plane(scaled.get());
      copy.assign(zyl::matchlib::image_pixels(scaled.get()),
                  zyl::matchlib::image_pixels(scaled.get()) + std::size_t(h) * w);
    } else {
      working_resolution = r;
      copy.assign(px, px + static_cast<std::size_t>(h) * w);
    }
    if (N && h > 0 && w > 0)
      if (const int st =
              zyl::matchlib::imgproc_normalize_global(copy.data(), h, w, 128, 100, copy.data()))
        return st;
    px = copy.data();
  }
  int budget = budget_value(ctx);
  if (!budget) budget = h * w > 0 ? zyl::matchlib::keypoint_budget_from_area(h * w) : 0;
  RecordOwner rec;
  if (const int st = zyl::matchlib::blockrec_create(h, w, budget, types, &rec.r)) return st;
  if (budget > 0 && h > 0 && w > 0) {
    PointList list;
    if (const int st = zyl::matchlib::detect_corners_sparse(ctx, px, h, w, &list.p, &list.n))
      return st;
    if (mask) zyl::matchlib::kp_filter_by_mask(mask, list.p, &list.n);
    const int n = std::min(budget - rec.r->point_count, list.n);
    if (n < list.n) select_strongest(list.p, list.n, n);
    append(rec.r, list.p, n);
  }
  finish_record(ctx, rec.r, working_resolution);
  std::vector<std::uint8_t> map;
  const bool with_map = mask && zyl::matchlib::param_get(ctx, kKeyLightMask, 0);
  if (with_map)
    if (const int st = valid_map(mask, map, h, w)) return st;
  if (h > 0 && w > 0)
    if (const int st = compute_descriptors(rec.r, px, with_map ? map.data() : nullptr, h, w))
      return st;
  return zyl::matchlib::blockrec_to_blob(rec.r, out);
}

int dense_grid(GrayImage* image, DataBlob** out, int flag) {
  const int H = zyl::matchlib::image_source_height(image),
            W = zyl::matchlib::image_source_width(image);
  const int oy = zyl::matchlib::image_offset_y(image), ox = zyl::matchlib::image_offset_x(image);
  const DescriptorType* types[DESC_TYPE_COUNT + 1];
  zyl::matchlib::desc_types_select(types, 0x8);
  RecordOwner rec;
  if (const int st = zyl::matchlib::blockrec_create(H, W, (H / 5) * (W / 5), types, &rec.r))
    return st;
  const int res = zyl::matchlib::image_resolution(image);
  rec.r->resolution_x = rec.r->resolution_y = static_cast<std::uint16_t>(res);
  for (int y = 4; y < H; y += 5)
    for (int x = 4; x < W; x += 5)
      rec.r->points[rec.r->point_count++] = {static_cast<std::int16_t>(x),
                                             static_cast<std::int16_t>(y), 0, 100, 3, 0};
  zyl::matchlib::blockrec_count_types(rec.r);
  const int h = zyl::matchlib::image_height(image), w = zyl::matchlib::image_width(image);
  if (flag && h > 0 && w > 0 && rec.r->point_count > 0) {
    const std::uint8_t* px = zyl::matchlib::image_pixels(image);
    if (!px) return ML_BAD_ARGUMENT;
    std::vector<std::uint8_t> norm(static_cast<std::size_t>(h) * w);
    if (const int st = zyl::matchlib::imgproc_normalize_global(px, h, w, 128, 100, norm.data()))
      return st;
    auto move = [&](int dx, int dy) {
      for (int i = 0; i < rec.r->point_count; ++i) {
        rec.r->points[i].x = static_cast<std::int16_t>(rec.r->points[i].x + dx);
        rec.r->points[i].y = static_cast<std::int16_t>(rec.r->points[i].y + dy);
      }
    };
    move(-ox, -oy);
    const int st = rec.r->extension_types[0]->compute(rec.r, 0, norm.data(), nullptr, h, w);
    move(ox, oy);
    if (st) return st;
  }
  return zyl::matchlib::blockrec_to_blob(rec.r, out);
}

constexpr StageExtractor kExtractors[2] = {{keypoint_stage_extract_light},
                                           {keypoint_stage_extract}};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

const DetectorEntry* zyl::matchlib::keypoint_detector_list(int32_t value) {
  switch (value) {
    case 1: return kList1;
    case 2: return kList2;
    case 4: return kList4;
    case 8: return kList8;
    case 16: return kList16;
    case 32: return kList32;
    case 64: return kList64;
    case 128: return kList128;
    case 256: return kList256;
    default: return kEmpty;
  }
}

extern "C" ZYL_API int keypoint_stage_extract(MatchContext* ctx, GrayImage* image, void*,
                                              int32_t kind, DataBlob** out) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return extract_full(ctx, image, kind, out); });
}

extern "C" ZYL_API int keypoint_stage_extract_light(MatchContext* ctx, GrayImage* image, void*,
                                                    int32_t kind, DataBlob** out) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return extract_light(ctx, image, kind, out); });
}

const StageExtractor* zyl::matchlib::keypoint_stage_extractors(void) { return kExtractors; }

extern "C" ZYL_API int kp_cmp_score_desc(const void* a, const void* b) {
  return static_cast<const KeyPoint*>(b)->score - static_cast<const KeyPoint*>(a)->score;
}

extern "C" ZYL_API int kp_cmp_class_score(const void* a, const void* b) {
  const auto* p = static_cast<const KeyPoint*>(a);
  const auto* q = static_cast<const KeyPoint*>(b);
  if (p->cls != q->cls) return p->cls - q->cls;
  return q->score - p->score;
}

void zyl::matchlib::kp_filter_by_mask(const MaskPlane* mask, KeyPoint* points, int* count) {
  if (!mask || !points || !count) return;
  const std::uint8_t* cells = zyl::matchlib::mask_cells(mask);
  const int mh = zyl::matchlib::mask_height(mask), mw = zyl::matchlib::mask_width(mask);
  for (int i = 0; i < *count;) {
    const KeyPoint& p = points[i];
    // A point off the plane has no cell to vouch for it and is dropped.
    const bool on = p.x >= 0 && p.y >= 0 && p.x < mw && p.y < mh && cells;
    const std::uint8_t cell = on ? cells[static_cast<std::size_t>(p.y) * mw + p.x] : 0xFF;
    if (cell & (MASK_EXCLUSION | MASK_ACCUMULATOR_STRONG)) {
      points[i] = points[--*count];
      continue;
    }
    points[i].spare = cell & MASK_ACCUMULATOR_WEAK;
    ++i;
  }
}

int zyl::matchlib::blockrec_to_blob(const BlockRecord* record, DataBlob** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  if (const int st = zyl::matchlib::blockrec_write(record, &bytes, &size)) return st;
  DataBlob* b = zyl::matchlib::blob_wrap(BLOCKREC_FORMAT, bytes, size, 1, free_callback, bytes);
  if (!b) {
    std::free(bytes);
    return ML_NO_MEMORY;
  }
  *out = b;
  return ML_OK;
}

int zyl::matchlib::keypoint_budget_from_area(int area) {
  const int b = area > 0 ? (area + 12) / 25 : (area - 12) / 25;
  return std::min(b, static_cast<int>(KEYPOINT_MAX_BUDGET));
}

int zyl::matchlib::keypoint_dense_grid_features(GrayImage* image, DataBlob** out, int flag) {
  if (!out) return ML_WRONG_KIND;
  *out = nullptr;
  if (!image) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return dense_grid(image, out, flag); });
}

extern "C" {

ZYL_API const DetectorEntry* keypoint_detector_list(int32_t value) {
  return zyl::matchlib::keypoint_detector_list(value);
}
ZYL_API const StageExtractor* keypoint_stage_extractors(void) {
  return zyl::matchlib::keypoint_stage_extractors();
}
ZYL_API void kp_filter_by_mask(const MaskPlane* mask, KeyPoint* points, int* count) {
  zyl::matchlib::kp_filter_by_mask(mask, points, count);
}
ZYL_API int blockrec_to_blob(const BlockRecord* record, DataBlob** out) {
  return zyl::matchlib::blockrec_to_blob(record, out);
}
ZYL_API int keypoint_budget_from_area(int area) {
  return zyl::matchlib::keypoint_budget_from_area(area);
}
ZYL_API int keypoint_dense_grid_features(GrayImage* image, DataBlob** out, int flag) {
  return zyl::matchlib::keypoint_dense_grid_features(image, out, flag);
}

}  // extern "C"

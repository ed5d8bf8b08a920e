// Adding impressions to the accumulator: the running mean of the sensor
// area with its inversion test, the dense-grid template of each impression,
// its similarity to the templates already held, the slot update (shift or
// point-wise merge), the base map of covered cells and the mask bits handed
// back on the image.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/image/blob.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/template/impression_accumulator.h"
#include "zylscan/matchlib_accum.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/core/param_store.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/image/checker.h"
#include "matchlib/image/histogram.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/filter/image_transforms.h"
#include "matchlib/image/mask_build.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/keypoint/keypoint_stage.h"
#include "matchlib/match/similarity_map.h"
#include "matchlib/keypoint/block_record.h"
#include "matchlib/engine/impression_add.h"

namespace zyl::matchlib {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Parameters of the add.
constexpr std::uint32_t kKeyRunningMean = 0x41fd08a3;
constexpr std::uint32_t kKeyInversionTest = 0xee8003db;
constexpr std::uint32_t kKeyInverseBand = 0x2eddd291;     // default 512
constexpr std::uint32_t kKeyMeanCountLimit = 0xf195d9d9;  // default 10
constexpr std::uint32_t kKeyMeanReady = 0xdf8699d4;       // default 10
constexpr std::uint32_t kKeyMasksOnly = 0xfb0008aa;
constexpr std::uint32_t kKeyPreprocess = 0x849ffc94;
constexpr std::uint32_t kKeyThresholds = 0x6c8ed2a9;

constexpr std::uint32_t kTemplateFormat = BLOCKREC_FORMAT;
constexpr int kComparedSlots = 5;

// The impression's place in the sensor area.
struct Window {
  int height, width, row, column;
  std::size_t cells() const { return static_cast<std::size_t>(height) * width; }
};

struct RecordFree {
  void operator()(BlockRecord* r) const { zyl::matchlib::blockrec_free(r); }
};
using RecordPtr = std::unique_ptr<BlockRecord, RecordFree>;

int sign(int v) { return (v > 0) - (v < 0); }

// ---- running mean and inversion test ----

// Neighbour orderings of the filtered impression against the mean image
// over every second row and column: far more reversed than kept orderings
// mean the impression came with inverted contrast.
bool looks_inverted(const Bytes& filtered, const std::uint8_t* mean, int h, int w) {
  static constexpr int kDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
  static constexpr int kDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
  std::int64_t opposite = 0, equal = 0;
  for (int y = 1; y + 1 < h; y += 2) {
    for (int x = 1; x + 1 < w; x += 2) {
      const std::size_t c = static_cast<std::size_t>(y) * w + x;
      for (int k = 0; k < 8; ++k) {
        const std::size_t n = static_cast<std::size_t>(y + kDy[k]) * w + (x + kDx[k]);
        const int sf = sign(filtered[n] - filtered[c]), sm = sign(mean[n] - mean[c]);
        if (!sf || !sm) continue;
        (sf == sm ? equal : opposite) += 1;
      }
    }
  }
  const std::int64_t q = static_cast<std::int64_t>(h) * w / 4;
  if (q == 0) return false;
  return opposite * 256 / q - equal * 256 / q > 512;
}

int checker_strength(const std::uint8_t* pixels, int h, int w) {
  std::vector<std::int8_t> response(static_cast<std::size_t>(h) * w);
  if (zyl::matchlib::filter_checker_response_s8(pixels, h, w, response.data()) != ML_OK) return 255;
  return zyl::matchlib::imgstat_mean_abs_s8(response.data(), h, w);
}

// The filtered copy of the impression: folded into the accumulator's mean
// image (when the running mean is on) and, once the mean has settled, used
// to take the fixed pattern of the sensor out of the image's pixels.
int running_mean(ImpressionAccumulator& acc, const MatchContext* ctx, GrayImage* image,
                 const Window& win) {
  const bool mean_on = zyl::matchlib::param_get(ctx, kKeyRunningMean, 0) != 0;
  const bool inversion_test = zyl::matchlib::param_get(ctx, kKeyInversionTest, 0) != 0;
  if (!mean_on && !inversion_test) return ML_OK;
  const int h = win.height, w = win.width;
  std::uint8_t* pixels = zyl::matchlib::image_pixels(image);
  if (!pixels) return ML_BAD_ARGUMENT;
  const int resolution = zyl::matchlib::image_resolution(image);
  Bytes filtered(win.cells()), work(win.cells());
  if (const int s =
          zyl::matchlib::fftfilt_radial_u8(pixels, h, w, resolution, 128, 0, -1, 0, 0, work.data()))
    return s;
  if (const int s = zyl::matchlib::fftfilt_radial_inverted_u8(
          work.data(), h, w, resolution, 0, 0, zyl::matchlib::param_get(ctx, kKeyInverseBand, 512),
          256, 0, filtered.data()))
    return s;

  bool inverted = false;
  if (inversion_test && h == acc.height && w == acc.width && acc.mean_image &&
      looks_inverted(filtered, acc.mean_image, h, w)) {
    zyl::matchlib::img_invert_u8(filtered.data(), h, w, filtered.data());
    inverted = true;
  }
  if (!mean_on) return ML_OK;
  if (win.row < 0 || win.column < 0 || win.row + h > acc.height || win.column + w > acc.width)
    return ML_CORRUPT;

  const std::size_t W = acc.width;
  const bool first = !acc.mean_image;
  if (const int s = accum_ensure_maps(acc)) return s;
  const int count_limit = std::clamp(zyl::matchlib::param_get(ctx, kKeyMeanCountLimit, 10), 1, 255);
  int largest = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t a = (win.row + y) * W + (win.column + x);
      const int v = filtered[static_cast<std::size_t>(y) * w + x];
      const int c = first ? 0 : acc.count_map[a];
      acc.mean_image[a] = static_cast<std::uint8_t>((acc.mean_image[a] * c + v) / (c + 1));
      acc.count_map[a] = static_cast<std::uint8_t>(std::min(c + 1, std::max(count_limit, c)));
      largest = std::max<int>(largest, acc.count_map[a]);
    }
  }
  const int ready = zyl::matchlib::param_get(ctx, kKeyMeanReady, 10);
  if (largest < ready) return ML_OK;
  // Cells whose mean has settled lose it (v - m + 128); the others keep
  // their own pixel. The result is kept only when it shows no stronger
  // checker pattern than the pixels as captured.
  Bytes result(pixels, pixels + win.cells());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t a = (win.row + y) * W + (win.column + x);
      if (acc.count_map[a] < ready) continue;
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      const int m = inverted ? 255 - acc.mean_image[a] : acc.mean_image[a];
      result[i] = static_cast<std::uint8_t>(std::clamp(filtered[i] - m + 128, 0, 255));
    }
  }
  if (h >= 2 && w >= 2 && zyl::matchlib::image_is_writable(image) &&
      checker_strength(result.data(), h, w) <= checker_strength(pixels, h, w))
    std::memcpy(pixels, result.data(), result.size());
  return ML_OK;
}

// ---- similarity to the held templates ----

// Similarity map (small values: similar) of template a against b over the
// window; the invert check follows the inversion test's parameter, so that
// an impression of inverted contrast still reads as the same skin.
int window_map(const DataBlob* a, const DataBlob* b, const Window& win, int invert, Bytes& map) {
  map.resize(win.cells());
  return zyl::matchlib::blockrec_similarity_map(
      zyl::matchlib::blob_data(a), zyl::matchlib::blob_size(a), zyl::matchlib::blob_data(b),
      zyl::matchlib::blob_size(b), map.data(), win.height, win.width, win.row, win.column, invert);
}

std::uint8_t below(int value, int threshold) {
  const int t = threshold ? threshold : 1;
  return static_cast<std::uint8_t>(value < t ? t - value : 0);
}

// ---- slot update ----

int parse_record(const DataBlob* b, RecordPtr& out) {
  BlockRecord* r = nullptr;
  if (const int s = zyl::matchlib::blockrec_parse(zyl::matchlib::blob_data(b),
                                                  zyl::matchlib::blob_size(b), 0, 0, &r))
    return s;
  out.reset(r);
  return ML_OK;
}

// Every grid point of the new template inside the window moves each slot's
// data at that point one slot up (slot 6's is dropped) and takes slot 0.
int merge_points(DataBlob* const (&slots)[ACCUM_SLOTS], const DataBlob* fresh, GrayImage* image,
                 const Window& win, std::array<Ref<DataBlob>, ACCUM_SLOTS>& out) {
  RecordPtr add;
  if (const int s = parse_record(fresh, add)) return s;
  std::array<RecordPtr, ACCUM_SLOTS> records;
  for (int k = 0; k < ACCUM_SLOTS; ++k) {
    if (slots[k]) {
      if (const int s = parse_record(slots[k], records[k])) return s;
    } else {
      // An empty slot starts from the dense grid of this impression.
      DataBlob* grid = nullptr;
      if (const int s = zyl::matchlib::keypoint_dense_grid_features(image, &grid, 1)) return s;
      const Ref<DataBlob> owned = Ref<DataBlob>::adopt(grid);
      if (const int s = parse_record(grid, records[k])) return s;
    }
    // All slots hold the same grid over the same area.
    const BlockRecord& r = *records[k];
    if (r.point_count != add->point_count || r.extension_type_count != add->extension_type_count)
      return ML_CORRUPT;
    for (int i = 0; i < r.point_count; ++i)
      if (r.points[i].x != add->points[i].x || r.points[i].y != add->points[i].y) return ML_CORRUPT;
  }
  for (int i = 0; i < add->point_count; ++i) {
    const KeyPoint& p = add->points[i];
    if (p.y < win.row || p.y >= win.row + win.height || p.x < win.column ||
        p.x >= win.column + win.width)
      continue;
    for (int k = ACCUM_SLOTS - 1; k > 0; --k) {
      records[k]->points[i] = records[k - 1]->points[i];
      zyl::matchlib::blockrec_copy_point_extensions(records[k].get(), records[k - 1].get(), i, i);
    }
    records[0]->points[i] = p;
    zyl::matchlib::blockrec_copy_point_extensions(records[0].get(), add.get(), i, i);
  }
  for (int k = 0; k < ACCUM_SLOTS; ++k) {
    std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    if (const int s = zyl::matchlib::blockrec_write(records[k].get(), &bytes, &size)) return s;
    const std::int32_t format = slots[k] ? zyl::matchlib::blob_type(slots[k]) : kTemplateFormat;
    out[k] = Ref<DataBlob>::adopt(zyl::matchlib::blob_create(format, bytes, size));
    std::free(bytes);
    if (!out[k]) return ML_NO_MEMORY;
  }
  return ML_OK;
}

// Base-map cell update (see the bit layout in the header): the level rises
// while the impressions keep repeating the cell and falls while they do
// not; a cell becomes covered after repeated sightings, or when its level
// is high and its neighbourhood repeats too.
void update_base_map(ImpressionAccumulator& acc, const Window& win, Bytes& map1, const Bytes& map2) {
  const int h = win.height, w = win.width;
  auto neighbour = [&](int y, int x) {
    if (y < 0 || y >= h || x < 0 || x >= w) return 0;
    const int v = map1[static_cast<std::size_t>(y) * w + x];
    return v == 0 ? -3 : v < 85 ? 0 : 3;
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      std::uint8_t& b = acc.base_map[static_cast<std::size_t>(win.row + y) * acc.width + win.column + x];
      const int v = map1[i], wv = map2[i];
      const int c = (b & ACCUM_REPEAT_MASK) >> 4;
      const bool seen = b & ACCUM_SEEN;
      bool covered = b & ACCUM_COVERED;
      int level = b & ACCUM_LEVEL_MASK;
      int repeat;
      if (v) {
        level += std::min(v / 85, 2);
        if (seen) {
          repeat = std::min(c + 1, 3);
          if (c >= 2 && wv) ++level;
        } else {
          repeat = 0;
        }
        const int n = neighbour(y, x - 5) + neighbour(y, x + 5) + neighbour(y - 5, x) + neighbour(y + 5, x);
        if (!covered && ((seen && c + 1 > 1) || (n > 9 && level > 6))) covered = true;
      } else {
        level -= 2;
        if (seen) {
          repeat = 0;
        } else {
          repeat = std::min(c + 1, 3);
          if (c >= 2 && !wv) --level;
          if (covered && c + 1 > 1) covered = false;
        }
      }
      if (covered) map1[i] = 1;
      b = static_cast<std::uint8_t>((covered ? ACCUM_COVERED : 0) | (v ? ACCUM_SEEN : 0) | repeat << 4 |
                                    std::clamp(level, 0, 7));
    }
  }
}

// The band filter as an image preparation step.
int band_filter_step(MatchContext*, const std::uint8_t* pixels, const std::uint8_t*, int height,
                     int width, int resolution, const SourceWindow*, std::uint8_t* out,
                     std::uint8_t** out_map, int* out_code) {
  if (out_map) *out_map = nullptr;
  if (out_code) *out_code = 0;
  return zyl::matchlib::accum_band_filter(pixels, height, width, resolution, out);
}
constexpr ImagePrepDescriptor kBandFilterStep = {band_filter_step};

int add_impression(ImpressionAccumulator& acc, MatchContext* ctx, GrayImage* image) {
  const Window win{zyl::matchlib::image_height(image), zyl::matchlib::image_width(image),
                   zyl::matchlib::image_offset_y(image), zyl::matchlib::image_offset_x(image)};
  if (win.column < 0 || win.column + win.width > acc.width) return ML_BAD_ARGUMENT;
  if (const int s = zyl::matchlib::image_build_masks_from_params(image, ctx)) return s;
  acc.last_height = static_cast<std::uint16_t>(win.height);
  acc.last_width = static_cast<std::uint16_t>(win.width);
  acc.last_row = static_cast<std::uint16_t>(win.row);
  acc.last_column = static_cast<std::uint16_t>(win.column);

  if (const int s = running_mean(acc, ctx, image, win)) return s;
  if (zyl::matchlib::param_get(ctx, kKeyMasksOnly, 0) != 0) return ML_OK;

  Ref<GrayImage> working = zyl::matchlib::param_get(ctx, kKeyPreprocess, 0) != 0
                               ? Ref<GrayImage>::adopt(zyl::matchlib::image_preprocess_copy(
                                     image, ctx, &kBandFilterStep))
                               : Ref<GrayImage>::share(image);
  if (!working) return ML_NO_MEMORY;
  if (const std::int32_t t = zyl::matchlib::param_get(ctx, kKeyThresholds, 0); t != 0)
    acc.settings[0] = acc.settings[1] = static_cast<std::uint8_t>(std::clamp(t, 0, 255));
  const int t1 = acc.settings[0], t2 = acc.settings[1];
  Bytes map1(win.cells(), 0), map2(win.cells(), 0);
  MaskPlane* plane = zyl::matchlib::image_mask_plane_ensure(image);
  if (!plane) return ML_NO_MEMORY;

  DataBlob* made = nullptr;
  if (const int s = zyl::matchlib::keypoint_dense_grid_features(working.get(), &made, 1)) return s;
  const Ref<DataBlob> fresh = Ref<DataBlob>::adopt(made);
  const int invert = zyl::matchlib::param_get(ctx, kKeyInversionTest, 0) != 0 ? 1 : 0;

  // Does the impression lie on the latest full-size one?
  Bytes map;
  bool overlaps = false;
  if (acc.slots[0]) {
    if (const int s = window_map(fresh.get(), acc.slots[0], win, invert, map)) return s;
    const std::size_t similar =
        static_cast<std::size_t>(std::count_if(map.begin(), map.end(), [&](std::uint8_t v) { return v < acc.settings[2]; }));
    overlaps = similar * 100 >= static_cast<std::size_t>(acc.settings[3]) * map.size();
  }

  // Similarity to the earlier impressions: map 2 against the nearest, map 1
  // against the trimmed mean of up to five.
  std::vector<std::uint16_t> sum(win.cells(), 0);
  Bytes lo(win.cells(), 255), hi(win.cells(), 0);
  int compared = 0;
  for (int k = 1; k < ACCUM_SLOTS && compared < kComparedSlots; ++k) {
    if (!acc.slots[k]) continue;
    if (const int s = window_map(fresh.get(), acc.slots[k], win, invert, map)) return s;
    if (compared++ == 0)
      for (std::size_t i = 0; i < map.size(); ++i) map2[i] = below(map[i], t2);
    for (std::size_t i = 0; i < map.size(); ++i) {
      sum[i] = static_cast<std::uint16_t>(sum[i] + map[i]);
      lo[i] = std::min(lo[i], map[i]);
      hi[i] = std::max(hi[i], map[i]);
    }
  }
  if (compared >= 2)
    for (std::size_t i = 0; i < map1.size(); ++i) {
      const int mean = compared == kComparedSlots ? (sum[i] - lo[i] - hi[i]) / 3 : sum[i] / compared;
      map1[i] = below(mean, t1);
    }

  if (zyl::matchlib::image_flag_word(image) != 0 || overlaps) {
    // Nothing new to learn: mark what the base map already knows.
    for (int y = 0; y < win.height; ++y)
      for (int x = 0; x < win.width; ++x) {
        const std::uint8_t b = acc.base_map[static_cast<std::size_t>(win.row + y) * acc.width + win.column + x];
        map1[static_cast<std::size_t>(y) * win.width + x] = (b & (ACCUM_COVERED | ACCUM_SEEN)) ? 1 : 0;
      }
    // Map 2 was made against the first occupied of slots 1 to 6; it stands
    // only when that was slot 1.
    if (!acc.slots[1]) std::fill(map2.begin(), map2.end(), 0);
  } else {
    std::array<Ref<DataBlob>, ACCUM_SLOTS> next;
    if (win.height == acc.height && win.width == acc.width) {
      next[0] = fresh;
      for (int k = 1; k < ACCUM_SLOTS; ++k) next[k] = Ref<DataBlob>::share(acc.slots[k - 1]);
    } else if (const int s = merge_points(acc.slots, fresh.get(), working.get(), win, next)) {
      return s;
    }
    for (int k = 0; k < ACCUM_SLOTS; ++k) {
      zyl::matchlib::blob_release(acc.slots[k]);
      acc.slots[k] = next[k].release();
    }
    update_base_map(acc, win, map1, map2);
  }

  zyl::matchlib::mask_set_bits_where_set(plane, MASK_ACCUMULATOR_STRONG, map1.data());
  zyl::matchlib::mask_set_bits_where_set(plane, MASK_ACCUMULATOR_WEAK, map2.data());
  zyl::matchlib::image_set_mask_plane(image, plane);
  return ML_OK;
}

bool fits(const ImpressionAccumulator& acc, const GrayImage* image) {
  return image && zyl::matchlib::image_source_height(image) == acc.height &&
         zyl::matchlib::image_source_width(image) == acc.width &&
         zyl::matchlib::image_offset_y(image) >= 0 &&
         zyl::matchlib::image_offset_y(image) + zyl::matchlib::image_height(image) <= acc.height;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::accum_add_image(ImpressionAccumulator* acc, MatchContext* ctx,
                                   GrayImage* image) {
  if (!acc || !acc->base_map || !fits(*acc, image)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return add_impression(*acc, ctx, image); });
}

int zyl::matchlib::accum_add_images_progress(ImpressionAccumulator* acc, MatchContext* ctx,
                                             GrayImage* const* images, int n,
                                             AccumProgress progress, void* user) {
  if (!images || n < 1) return ML_BAD_ARGUMENT;
  // A long series first learns from its latest impressions, so the whole
  // series is then judged against them.
  if (n > 5)
    for (int i = n - 5; i < n; ++i)
      if (const int s = zyl::matchlib::accum_add_image(acc, ctx, images[i])) return s;
  for (int i = 0; i < n; ++i) {
    if (progress) progress(ctx, i, user);
    if (const int s = zyl::matchlib::accum_add_image(acc, ctx, images[i])) return s;
  }
  return ML_OK;
}

int zyl::matchlib::accum_add_images(ImpressionAccumulator* acc, MatchContext* ctx,
                                    GrayImage* const* images, int n) {
  return zyl::matchlib::accum_add_images_progress(acc, ctx, images, n, nullptr, nullptr);
}

extern "C" ZYL_API int accum_slot_overlap_stats(const ImpressionAccumulator* acc,
                                                const MatchContext* ctx, int index,
                                                uint16_t out[4]) {
  if (!acc || !out) return ML_BAD_ARGUMENT;
  if (index < 0 || index > 5) return ML_WRONG_KIND;
  if (!acc->slots[0] || !acc->slots[index + 1]) return ML_EMPTY_SLOT;
  const Window win{acc->last_height, acc->last_width, acc->last_row, acc->last_column};
  if (win.height == 0 || win.width == 0) return ML_BAD_ARGUMENT;
  // The statistics take at most ACCUM_MAX_CELLS cells: a larger window is
  // refused before its map is allocated, and a window reaching outside the
  // sensor area (possible only in a hand-made accumulator) is no window.
  if (win.cells() > ACCUM_MAX_CELLS) return ML_WRONG_KIND;
  if (win.height + win.row > acc->height || win.width + win.column > acc->width) return ML_CORRUPT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    Bytes map;
    if (const int s =
            window_map(acc->slots[index + 1], acc->slots[0], win,
                       zyl::matchlib::param_get(ctx, kKeyInversionTest, 0) != 0 ? 1 : 0, map))
      return s;
    return zyl::matchlib::accum_map_statistics(ctx, map.data(), win.height, win.width, out);
  });
}

int zyl::matchlib::accum_band_filter(const uint8_t* pixels, int height, int width, int resolution,
                                     uint8_t* out) {
  return zyl::matchlib::fftfilt_band_by_resolution_u8(pixels, height, width, resolution, out);
}

extern "C" {

ZYL_API int accum_add_image(ImpressionAccumulator* acc, MatchContext* ctx, GrayImage* image) {
  return zyl::matchlib::accum_add_image(acc, ctx, image);
}
ZYL_API int accum_add_images_progress(ImpressionAccumulator* acc, MatchContext* ctx,
                                      GrayImage* const* images, int n, AccumProgress progress,
                                      void* user) {
  return zyl::matchlib::accum_add_images_progress(acc, ctx, images, n, progress, user);
}
ZYL_API int accum_add_images(ImpressionAccumulator* acc, MatchContext* ctx,
                             GrayImage* const* images, int n) {
  return zyl::matchlib::accum_add_images(acc, ctx, images, n);
}
ZYL_API int accum_band_filter(const uint8_t* pixels, int height, int width, int resolution,
                              uint8_t* out) {
  return zyl::matchlib::accum_band_filter(pixels, height, width, resolution, out);
}

}  // extern "C"

// Keyed 16-bit reference planes: the default settings of a set, learning a
// running-average reference of the full sensor area per key, and correcting
// frames by it.
#include "matchlib/core/allocation.h"
#include "matchlib/filter/ref_planes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/image/grey_image.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kMid = 0x7FFF;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

template <class T>
Buffer<T> alloc_array(std::size_t n) {
  return Buffer<T>(static_cast<T*>(ml_malloc((n ? n : 1) * sizeof(T))));
}

std::uint16_t saturate16(std::int64_t v) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 0xFFFF));
}

const RefPlaneKey* find_key(const RefPlaneSet* set, int key) {
  if (!set || key < 0 || key >= set->key_count) return nullptr;
  for (int i = 0; i < set->key_count; ++i)
    if (set->keys[i].key == key) return &set->keys[i];
  return nullptr;
}

bool frame_ok(const Plane16* f) {
  return f && f->pixels && f->height && f->width && f->resolution;
}

bool inside_full_area(const RefPlaneSet* set, const Plane16* f) {
  return f->row_offset >= 0 && f->column_offset >= 0 &&
         f->row_offset + f->height <= set->full_height &&
         f->column_offset + f->width <= set->full_width;
}

std::size_t frame_size(const Plane16* f) { return std::size_t{f->height} * f->width; }

void destroy_set(RefPlaneSet* set) {
  if (!set) return;
  if (set->planes)
    for (int i = 0; i < set->key_count; ++i) {
      std::free(set->planes[i].reference);
      std::free(set->planes[i].counts);
    }
  std::free(set->planes);
  std::free(set->keys);
  std::free(set);
}

// Filters a frame into `work` and centres it to mid-level.
int filter_and_centre(const Plane16* f, int strength, std::uint16_t* work) {
  const int st = zyl::matchlib::fftfilt_radial_u16(
      static_cast<const std::uint16_t*>(f->pixels), int{f->height}, int{f->width},
      int{f->resolution}, strength, 128, -1, 0, 1, work);
  if (st != ML_OK) return st;
  zyl::matchlib::plane16_center_mean(work, nullptr, nullptr, f->height, f->width);
  return ML_OK;
}

int learn_one(RefPlaneSet* set, const Plane16* f, int key, int strength) {
  if (!frame_ok(f)) return ML_BAD_ARGUMENT;
  auto work = alloc_array<std::uint16_t>(frame_size(f));
  if (!work) return ML_NO_MEMORY;
  const int st = filter_and_centre(f, strength, work.get());
  if (st != ML_OK) return st;
  return set->settings.learning ? zyl::matchlib::ref_plane_accumulate(set, key, f, work.get())
                                : ML_OK;
}

int correct(RefPlaneSet* set, const Plane16* f, int key, GrayImage** out_image) {
  const RefPlaneKey* entry = find_key(set, key);
  if (!entry) return ML_BAD_ARGUMENT;
  const std::size_t n = frame_size(f);
  auto work = alloc_array<std::uint16_t>(n);
  auto copy = alloc_array<std::uint16_t>(n);
  if (!work || !copy) return ML_NO_MEMORY;
  int st = zyl::matchlib::fftfilt_radial_u16(static_cast<const std::uint16_t*>(f->pixels),
                                             int{f->height}, int{f->width}, int{f->resolution},
                                             set->settings.pre_filter, 128, -1, 0, 1, work.get());
  if (st != ML_OK) return st;
  zyl::matchlib::plane16_center_mean(work.get(), f->pixels, copy.get(), f->height, f->width);
  if (set->settings.learning) {
    st = zyl::matchlib::ref_plane_accumulate(set, key, f, work.get());
    if (st != ML_OK) return st;
  }
  if (!out_image) return ML_OK;
  const RefPlane& plane = set->planes[key];
  if (set->settings.learning && !entry->hold && plane.reference) {
    if (!inside_full_area(set, f)) return ML_CORRUPT;
    for (std::size_t i = 0; i < f->height; ++i) {
      const std::size_t at = (i + f->row_offset) * set->full_width + f->column_offset;
      for (std::size_t j = 0; j < f->width; ++j) {
        if (plane.counts[at + j] < set->settings.weight_threshold) continue;
        std::uint16_t& v = copy[i * f->width + j];
        v = saturate16(std::int64_t{v} - plane.reference[at + j] + kMid);
      }
    }
  }
  st = zyl::matchlib::fftfilt_radial_u16(
      static_cast<const std::uint16_t*>(copy.get()), int{f->height}, int{f->width},
      int{f->resolution}, set->settings.post_filter, 0, set->settings.band, 128, 1, copy.get());
  if (st != ML_OK) return st;
  const int range = entry->range;
  const int low = kMid - range / 2;
  // A range of 1 would put the top below the bottom; the window is then
  // one grey level wide.
  const int high = std::max(range / 2 + 32766, low + 1);
  auto bytes = alloc_array<std::uint8_t>(n);
  if (!bytes) return ML_NO_MEMORY;
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>(
        (std::clamp<int>(copy[i], low, high) - low) * 255 / (high - low));
  *out_image = zyl::matchlib::image_create(f->height, f->width, f->resolution, f->resolution,
                                           bytes.get(), 0);
  return *out_image ? ML_OK : ML_NO_MEMORY;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::ref_plane_settings_default(RefPlaneSettings* s) {
  if (!s) return;
  *s = RefPlaneSettings{1, 20, 10, 768, 128, 1536};
}

int zyl::matchlib::ref_plane_set_create(int full_height, int full_width,
                                        const RefPlaneSettings* settings, const RefPlaneKey* keys,
                                        int key_count, RefPlaneSet** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (full_height <= 0 || full_width <= 0 || full_height > 0xFFFF || full_width > 0xFFFF ||
      key_count < 0 || (key_count && !keys))
    return ML_BAD_ARGUMENT;
  // Planes are found by the key value itself, so every key must name its
  // own slot below the count.
  for (int i = 0; i < key_count; ++i) {
    if (keys[i].range == 0 || keys[i].key >= key_count) return ML_BAD_ARGUMENT;
    for (int j = 0; j < i; ++j)
      if (keys[j].key == keys[i].key) return ML_BAD_ARGUMENT;
  }
  auto* set = static_cast<RefPlaneSet*>(ml_calloc(1, sizeof(RefPlaneSet)));
  if (!set) return ML_NO_MEMORY;
  set->refcount = 1;
  set->full_height = static_cast<std::uint16_t>(full_height);
  set->full_width = static_cast<std::uint16_t>(full_width);
  set->key_count = key_count;
  zyl::matchlib::ref_plane_settings_default(&set->settings);
  set->flag = 1;
  set->destroy = destroy_set;
  if (settings) {
    set->settings = *settings;
  }
  set->keys = static_cast<RefPlaneKey*>(ml_malloc(sizeof(RefPlaneKey) * (key_count ? key_count : 1)));
  set->planes = static_cast<RefPlane*>(ml_calloc(key_count ? key_count : 1, sizeof(RefPlane)));
  if (!set->keys || !set->planes) {
    destroy_set(set);
    return ML_NO_MEMORY;
  }
  if (key_count) std::memcpy(set->keys, keys, sizeof(RefPlaneKey) * key_count);
  *out = set;
  return ML_OK;
}

extern "C" ZYL_API void ref_plane_set_destroy(RefPlaneSet* set) { destroy_set(set); }

extern "C" ZYL_API int ref_plane_set_routines(RefPlaneSet* set, RefPlanePreRoutine pre,
                                              RefPlanePostRoutine post, void* user) {
  if (!set) return ML_BAD_ARGUMENT;
  set->pre = pre;
  set->post = post;
  set->user = user;
  return ML_OK;
}

void zyl::matchlib::plane16_center_mean(uint16_t* plane, const uint16_t* source, uint16_t* out,
                                        int height, int width) {
  if (!plane || height <= 0 || width <= 0) return;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += plane[i];
  const std::int64_t shift = std::int64_t{kMid} - static_cast<std::int64_t>(sum / n);
  for (std::size_t i = 0; i < n; ++i) plane[i] = saturate16(plane[i] + shift);
  if (source && out)
    for (std::size_t i = 0; i < n; ++i) out[i] = saturate16(source[i] + shift);
}

int zyl::matchlib::ref_plane_accumulate(RefPlaneSet* set, int key, const Plane16* frame,
                                        const uint16_t* values) {
  const RefPlaneKey* entry = find_key(set, key);
  if (!entry || !frame || !values) return ML_BAD_ARGUMENT;
  if (entry->hold) return ML_OK;
  if (!inside_full_area(set, frame)) return ML_CORRUPT;
  RefPlane& plane = set->planes[key];
  const std::size_t full = std::size_t{set->full_height} * set->full_width;
  const bool first = !plane.reference;
  if (first) {
    auto reference = alloc_array<std::uint16_t>(full);
    auto counts = alloc_array<std::uint8_t>(full);
    if (!reference || !counts) return ML_NO_MEMORY;
    std::fill(reference.get(), reference.get() + full, kMid);
    std::memset(counts.get(), 0, full);
    plane.reference = reference.release();
    plane.counts = counts.release();
  }
  for (std::size_t i = 0; i < frame->height; ++i) {
    const std::size_t at = (i + frame->row_offset) * set->full_width + frame->column_offset;
    for (std::size_t j = 0; j < frame->width; ++j) {
      const std::uint16_t v = values[i * frame->width + j];
      std::uint16_t& ref = plane.reference[at + j];
      std::uint8_t& count = plane.counts[at + j];
      if (first || count == 0) {
        ref = v;
        count = 1;
        continue;
      }
      ref = static_cast<std::uint16_t>((std::uint64_t{ref} * count + v) / (count + 1u));
      if (count < set->settings.count_cap) ++count;
    }
  }
  return ML_OK;
}

extern "C" ZYL_API int ref_plane_learn_list(RefPlaneSet* set, const Plane16* frames, int count,
                                            int key) {
  if (!find_key(set, key) || (count > 0 && !frames)) return ML_BAD_ARGUMENT;
  for (int i = 0; i < count; ++i) {
    const int st = learn_one(set, &frames[i], key, 128);
    if (st != ML_OK) return st;
  }
  return ML_OK;
}

extern "C" ZYL_API int ref_plane_learn_frames(RefPlaneSet* set, const Plane16* const* frames,
                                              int count, int key) {
  if (!find_key(set, key) || (count > 0 && !frames)) return ML_BAD_ARGUMENT;
  for (int i = 0; i < count; ++i) {
    if (set->pre) set->pre(set->user, i, count);
    const int st = learn_one(set, frames[i], key, set->settings.pre_filter);
    if (set->post) set->post(set->user, st);
    if (st != ML_OK) return st;
  }
  return ML_OK;
}

extern "C" ZYL_API int ref_plane_correct_image(RefPlaneSet* set, const Plane16* frame, int key,
                                               GrayImage** out_image, int value1, int value2) {
  if (out_image) *out_image = nullptr;
  if (!set || !frame_ok(frame)) return ML_BAD_ARGUMENT;
  if (set->pre) set->pre(set->user, value1, value2);
  const int st = correct(set, frame, key, out_image);
  if (set->post) set->post(set->user, st);
  return st;
}

extern "C" {

ZYL_API void ref_plane_settings_default(RefPlaneSettings* s) {
  zyl::matchlib::ref_plane_settings_default(s);
}
ZYL_API int ref_plane_set_create(int full_height, int full_width, const RefPlaneSettings* settings,
                                 const RefPlaneKey* keys, int key_count, RefPlaneSet** out) {
  return zyl::matchlib::ref_plane_set_create(full_height, full_width, settings, keys, key_count,
                                             out);
}
ZYL_API void plane16_center_mean(uint16_t* plane, const uint16_t* source, uint16_t* out, int height,
                                 int width) {
  zyl::matchlib::plane16_center_mean(plane, source, out, height, width);
}
ZYL_API int ref_plane_accumulate(RefPlaneSet* set, int key, const Plane16* frame,
                                 const uint16_t* values) {
  return zyl::matchlib::ref_plane_accumulate(set, key, frame, values);
}

}  // extern "C"

// Minutiae extraction operations and their drivers: an image object is
// resampled to the working resolution, a pipeline fills a minutiae record,
// and the record is encoded as the requested standard record, card
// template or extended card template.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_tlv.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/param_store.h"
#include "matchlib/extract/minutiae_operations.h"
#include "matchlib/extract/minutiae_pipeline_bilevel.h"
#include "matchlib/extract/minutiae_pipeline_grey.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/template/card_convert.h"
#include "matchlib/template/card_extended.h"
#include "matchlib/template/card_extended_build.h"
#include "matchlib/template/card_template.h"
#include "matchlib/template/minutiae_extended.h"
#include "matchlib/template/minutiae_record.h"
#include "matchlib/template/tlv.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeyOrder = 0x508aadc2;
constexpr std::uint32_t kKeyMaxCount = 0xcb11ee86;
constexpr std::uint32_t kKeyResolution = 0x94547f74;
constexpr std::uint32_t kKeyNo360 = 0x0f94fc30;

using RecordPtr = std::unique_ptr<MinutiaeRecord, decltype(&zyl::matchlib::minrec_free)>;

struct Buffer {
  std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { std::free(data); }
  void reset(std::uint8_t* d, std::uint32_t s) {
    std::free(data);
    data = d;
    size = s;
  }
  std::uint8_t* release() {
    std::uint8_t* d = data;
    data = nullptr;
    size = 0;
    return d;
  }
};

bool impression_ok(int t) { return t == 0 || t == 1 || t == 2 || t == 3 || t == 8 || t == 29; }
bool order_ok(int code) { return (code >> 4) < 2 && (code & 15) >= 1 && (code & 15) <= 5; }

struct TypeEntry {
  int requested, format, options, blob_type;
};
constexpr TypeEntry kTypes[] = {
    {1, 1, 0x0400, 1}, {2, 2, 0x0400, 2},  {3, 3, 0x0400, 3},  {4, 1, 0, 1},
    {5, 2, 0, 2},      {6, 3, 0, 3},       {67, 2, 0x0430, 67}, {72, 2, 0x0630, 72},
    {73, 4, 0, 67},    {74, 2, 0x04B0, 67}, {75, 2, 0x06B0, 72}};

const TypeEntry* type_entry(int requested) {
  for (const TypeEntry& t : kTypes)
    if (t.requested == requested) return &t;
  return nullptr;
}

// The record's fields that a driver sets before the pipeline runs.
void prepare(MinutiaeRecord& r, int finger_position, int impression, int max_count, int order, int options,
             int format, bool independent_maps) {
  r.options = static_cast<std::uint16_t>(options);
  r.order_code = static_cast<std::uint8_t>(order);
  r.max_count = static_cast<std::uint8_t>(max_count);
  r.finger_position = static_cast<std::uint8_t>(finger_position > 10 ? 0 : finger_position);
  r.impression_type = static_cast<std::uint8_t>(impression);
  r.finger_quality = 0;
  r.product_id = MINREC_DEFAULT_PRODUCT_ID;
  r.cores_wanted = (options & MINX_CORES) != 0;
  r.deltas_wanted = (options & MINX_DELTAS) != 0;
  r.zonal_wanted = (options & MINX_ZONAL) ? 1 : 0;
  (void)independent_maps;  // both drivers want each map by its own bit
  r.orientation_wanted = (format == MINX_FORMAT_WRAPPED || (options & MINX_ORIENTATION)) ? 1 : 0;
  r.frequency_wanted = (format == MINX_FORMAT_WRAPPED || (options & MINX_FREQUENCY)) ? 1 : 0;
  if (options & MINX_FINE_MAPS) {
    r.orientation_wanted |= 2;
    r.frequency_wanted |= 2;
  }
}

int iso_record(const MinutiaeRecord& r, bool newer, Buffer& out) {
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  const int status = newer ? zyl::matchlib::fmr_build_iso2011(&r, &bytes, &size)
                           : zyl::matchlib::fmr_build_iso2005(&r, &bytes, &size);
  if (status != ML_OK) return status;
  out.reset(bytes, zyl::matchlib::fmr_get_length(bytes, 0xFFFFFFFFu));
  return ML_OK;
}

// The extended blocks a driver adds: cores and deltas, zonal quality, and
// (for a standard record) the two maps.
int add_blocks(const MinutiaeRecord& r, int options, bool maps, Buffer& rec) {
  int status = ML_OK;
  if (options & (MINX_CORES | MINX_DELTAS))
    status = zyl::matchlib::fmr_add_core_delta_block(&rec.data,
                                                     (options & MINX_CORES) ? &r.cores : nullptr,
                                                     (options & MINX_DELTAS) ? &r.deltas : nullptr);
  if (status == ML_OK && (options & MINX_ZONAL) && r.zonal_quality.cells)
    status = zyl::matchlib::fmr_add_zonal_quality_block(&rec.data, &r.zonal_quality, 2);
  if (maps && status == ML_OK && (options & MINX_ORIENTATION) && r.orientation.cells)
    status = zyl::matchlib::fmr_add_orientation_block(&rec.data, &r.orientation);
  if (maps && status == ML_OK && (r.frequency_wanted & 1) && r.frequency.cells)
    status = zyl::matchlib::fmr_add_frequency_block(&rec.data, &r.frequency);
  if (status == ML_OK) rec.size = zyl::matchlib::fmr_get_length(rec.data, 0xFFFFFFFFu);
  return status;
}

int card_from_record(MinutiaeRecord& r, int options, bool newer, int max_count, Buffer& card) {
  int status = zyl::matchlib::minrec_fit_coordinates(&r);
  if (status != ML_OK) return status;
  // The card keeps at most this many minutiae; the quality element lists
  // the same ones.
  r.count = static_cast<std::uint8_t>(std::min<int>({r.count, max_count, CARD_MAX_MINUTIAE}));
  Buffer rec;
  if ((status = iso_record(r, newer, rec)) != ML_OK) return status;
  if ((status = add_blocks(r, options, false, rec)) != ML_OK) return status;
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  std::vector<int> kept;
  if ((status = zyl::matchlib::fmr_to_card_keeping(rec.data, rec.size, max_count, &bytes, &size,
                                                   kept)) != ML_OK)
    return status;
  card.reset(bytes, size);
  if (options & MINX_CARD_QUALITY) {
    // The quality element has one byte per minutia of the card, which
    // leaves out minutiae it cannot place (a print spanning more than its
    // coordinate range): built from those kept, it agrees with the card.
    auto listed = std::make_unique<MinutiaeRecord>();
    listed->count = static_cast<std::uint8_t>(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) listed->minutiae[i] = r.minutiae[kept[i]];
    // On failure the card is still ours: `card` frees it.
    status = zyl::matchlib::card_add_quality_element(&card.data, card.size, listed.get(), &card.size);
  }
  return status;
}

// Element C9: a tree F0 of F1 { C0 slot number, C1 slot bytes } for every
// trace slot that holds data.
int trace_slots_element(MinutiaeRecord& r, Buffer& out) {
  std::unique_ptr<TlvNode, decltype(&zyl::matchlib::tlv_node_free)> root(
      zyl::matchlib::tlv_node_create(0xF0, 0, nullptr), &zyl::matchlib::tlv_node_free);
  if (!root) return ML_NO_MEMORY;
  std::uint8_t numbers[57];
  for (int i = 0; i < 57; ++i) {
    if (r.trace_slots[i].length == 0) continue;
    numbers[i] = static_cast<std::uint8_t>(i);
    TlvNode* f1 = zyl::matchlib::tlv_node_create(0xF1, 0, nullptr);
    if (int s = zyl::matchlib::tlv_append_child(root.get(), f1); s != ML_OK) {
      zyl::matchlib::tlv_node_free(f1);
      return s;
    }
    if (int s = zyl::matchlib::tlv_append_child(
            f1, zyl::matchlib::tlv_node_create(0xC0, 1, &numbers[i]));
        s != ML_OK)
      return s;
    if (int s = zyl::matchlib::tlv_append_child(
            f1,
            zyl::matchlib::tlv_node_create(0xC1, r.trace_slots[i].length, r.trace_slots[i].data));
        s != ML_OK)
      return s;
  }
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  const int status = zyl::matchlib::tlv_encode(root.get(), &bytes, &size);
  if (status == ML_OK) out.reset(bytes, size);
  for (auto& slot : r.trace_slots) {
    std::free(slot.data);
    slot.data = nullptr;
    slot.length = 0;
  }
  return status;
}

int add_a2(Buffer& card, std::uint16_t tag, const std::uint8_t* value, std::uint32_t length) {
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  const int status =
      zyl::matchlib::card_add_a2_element(card.data, card.size, tag, value, length, &bytes, &size);
  if (status == ML_OK) card.reset(bytes, size);
  return status;
}

int encode(MinutiaeRecord& r, const std::uint8_t* pixels, int height, int width, int options, int format,
           bool second_given, Buffer& out) {
  const bool newer = options & MINX_NEW_VERSIONS;
  int status = ML_OK;
  switch (format) {
    case MINX_FORMAT_RECORD: {
      if ((status = iso_record(r, newer, out)) != ML_OK) return status;
      return add_blocks(r, options, true, out);
    }
    case MINX_FORMAT_ANSI: {
      std::uint8_t* bytes = nullptr;
      std::uint32_t size = 0;
      status = newer ? zyl::matchlib::fmr_build_ansi2009(&r, &bytes, &size)
                     : zyl::matchlib::fmr_build_ansi2004(&r, &bytes, &size);
      if (status == ML_OK) out.reset(bytes, size);
      return status;
    }
    case MINX_FORMAT_CARD:
    case MINX_FORMAT_WRAPPED:
      break;
    default:
      return ML_BAD_ARGUMENT;
  }
  Buffer card;
  if ((status = card_from_record(r, options, newer, r.max_count, card)) != ML_OK) return status;
  const bool half = options & MINX_HALF;
  if (format == MINX_FORMAT_CARD && (options & MINX_ORIENTATION) && (options & MINX_FREQUENCY)) {
    const std::uint8_t* image = (options & MINX_WITH_IMAGE) && !half ? pixels : nullptr;
    const int f = half ? 2 : 1;
    std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    status = zyl::matchlib::card_build_extended(
        card.data, card.size, &r.orientation, &r.frequency, r.orientation_fine, r.frequency_fine,
        image, static_cast<std::uint16_t>(f * height), static_cast<std::uint16_t>(f * width),
        r.impression_type, r.finger_quality, &bytes, &size);
    if (status != ML_OK) return status;
    card.reset(bytes, size);
    if (options & MINX_RIDGE_TRACE) {
      if ((status = add_a2(card, 0xCA, r.trace_value, 4)) != ML_OK) return status;
      if (second_given) {
        Buffer slots;
        if ((status = trace_slots_element(r, slots)) != ML_OK) return status;
        if ((status = add_a2(card, 0xC9, slots.data, slots.size)) != ML_OK) return status;
      }
    }
  }
  if (format == MINX_FORMAT_WRAPPED) {
    std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    if ((status = zyl::matchlib::card_wrap_block_maps(card.data, card.size, &r.orientation,
                                                      &r.frequency, &bytes, &size)) != ML_OK)
      return status;
    card.reset(bytes, size);
  }
  out.reset(card.data, card.size);
  card.release();
  return ML_OK;
}

// The grey driver; with `bits` the bit-packed pipeline runs instead (it
// refuses finger positions over 10 and gives no standard records).
int driver_grey(const std::uint8_t* pixels, const std::uint8_t* mask, int height, int width, int finger_position,
                int impression, int min_count, int max_count, int order, int options, int format,
                std::uint8_t** out, std::uint32_t* out_size, RidgeTraceCallback ridge_trace,
                RidgeTraceCallback second, bool bits = false, void* user = nullptr) {
  if (!impression_ok(impression) || !order_ok(order)) return ML_BAD_ARGUMENT;
  if (bits && finger_position > 10) return ML_BAD_ARGUMENT;
  RecordPtr r(zyl::matchlib::minrec_create(), &zyl::matchlib::minrec_free);
  if (!r) return ML_NO_MEMORY;
  prepare(*r, finger_position, impression, max_count, order, options, format, false);
  int status = bits ? zyl::matchlib::minutiae_pipeline_bilevel(pixels, mask, height, width, r.get(),
                                                               ridge_trace, user)
                    : zyl::matchlib::minutiae_pipeline_grey(pixels, mask, height, width, r.get(),
                                                            ridge_trace, second);
  if (status != ML_OK) return status;
  if (r->count < min_count) return ML_CORRUPT;
  if (bits && (format == MINX_FORMAT_RECORD || format == MINX_FORMAT_ANSI)) return ML_OK;
  if (format == MINX_FORMAT_MINREC) {
    *out_size = sizeof(MinutiaeRecord);
    *out = reinterpret_cast<std::uint8_t*>(r.release());
    return ML_OK;
  }
  Buffer result;
  if ((status = encode(*r, pixels, height, width, options, format, second != nullptr, result)) != ML_OK)
    return status;
  *out_size = result.size;
  *out = result.release();
  return ML_OK;
}

int driver_maps(const std::uint8_t* pixels, const std::uint8_t* mask, int height, int width, int finger_position,
                int impression, int options, int format, std::uint8_t** out, std::uint32_t* out_size) {
  if (finger_position > 10 || !impression_ok(impression)) return ML_BAD_ARGUMENT;
  RecordPtr r(zyl::matchlib::minrec_create(), &zyl::matchlib::minrec_free);
  if (!r) return ML_NO_MEMORY;
  // The caller's finger position and impression type are validated, not
  // stored: the maps record carries neither.
  prepare(*r, 0, 0, 0, 0, options, format, true);
  r->orientation_wanted |= 1;
  r->frequency_wanted |= 1;
  r->resolution = MINREC_RESOLUTION;
  int status = zyl::matchlib::minutiae_pipeline_maps(pixels, mask, height, width, r.get());
  if (status != ML_OK) return status;
  r->count = 0;
  if (format != MINX_FORMAT_CARD && format != MINX_FORMAT_WRAPPED) return ML_OK;
  const int card_options = options & ~(MINX_CORES | MINX_DELTAS | MINX_ZONAL);
  Buffer card;
  if ((status = card_from_record(*r, card_options | (options & MINX_CARD_QUALITY), true, 0, card)) != ML_OK)
    return status;
  // Format 4 hands out the card template itself: this driver builds no
  // wrapped form.
  if (format == MINX_FORMAT_CARD && (options & MINX_ORIENTATION) && (options & MINX_FREQUENCY)) {
    const int f = (options & MINX_HALF) ? 2 : 1;
    std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    status = zyl::matchlib::card_build_extended_maps(
        card.data, card.size, &r->orientation, &r->frequency, nullptr, nullptr,
        static_cast<std::uint16_t>(f * height), static_cast<std::uint16_t>(f * width),
        r->finger_quality, &bytes, &size);
    if (status != ML_OK) return status;
    card.reset(bytes, size);
  }
  *out_size = card.size;
  *out = card.release();
  return ML_OK;
}

// Resamples the image to the fitted resolution when it differs; answers
// the image to work on (retained) in *work.
int working_image(MatchContext* ctx, GrayImage* image, int divisor, GrayImage** work) {
  const int ry = zyl::matchlib::image_resolution_y(image);
  int out_ry = 0, out_rx = 0, h = 0, w = 0;
  int status = zyl::matchlib::extract_fit_resolution(
      zyl::matchlib::param_get(ctx, kKeyResolution, 500) / divisor, divisor, ry, ry,
      zyl::matchlib::image_height(image), zyl::matchlib::image_width(image), &out_ry, &out_rx, &h,
      &w);
  if (status != ML_OK) return status;
  if (out_ry == ry) {
    *work = zyl::matchlib::image_retain(image);
    return ML_OK;
  }
  GrayImage* copy = zyl::matchlib::image_resize_with_resolution(image, h, w, out_ry, out_ry);
  if (!copy) return ML_NO_MEMORY;
  if (!zyl::matchlib::image_is_writable(image)) {
    zyl::matchlib::image_release_pixels(image, nullptr);
    zyl::matchlib::image_mark_releasable(copy);
  }
  *work = copy;
  return ML_OK;
}

struct ImageHold {
  GrayImage* image = nullptr;
  std::uint8_t* mask = nullptr;
  ~ImageHold() {
    std::free(mask);
    if (image) zyl::matchlib::image_release(image);
  }
};

int wrap_blob(std::uint8_t* bytes, std::uint32_t size, int type, DataBlob** out) {
  DataBlob* blob = zyl::matchlib::blob_create(type, bytes, size);
  zyl::matchlib::minutiae_buffer_free(bytes);
  if (!blob) return ML_NO_MEMORY;
  *out = blob;
  return ML_OK;
}

int finger_position_of(GrayImage* image) {
  const FingerInfo* info = zyl::matchlib::image_finger_info(image);
  return info ? zyl::matchlib::finger_info_position(info) : 0;
}

int grey_operation(MatchContext* ctx, GrayImage* image, int requested, DataBlob** out, int mode) {
  const int ry = zyl::matchlib::image_resolution_y(image);
  const int order =
      zyl::matchlib::minutiae_order_from_key(zyl::matchlib::param_get(ctx, kKeyOrder, 0));
  const int max_count = zyl::matchlib::param_get(ctx, kKeyMaxCount, 64) & 0xFF;
  const int sensor = zyl::matchlib::param_get_text(ctx, "vn.algorithm.sensor_size", 0);
  const TypeEntry* type = type_entry(requested);
  if (!type) return ML_WRONG_KIND;
  int options = type->options;
  // Without a resolution the image's size in pixels at 500 dpi is unknown.
  if (ry <= 0) return ML_WRONG_KIND;
  if ((options & MINX_FINE_MAPS) && (zyl::matchlib::image_height(image) * 500 / ry >= 320 ||
                                     zyl::matchlib::image_width(image) * 500 / ry >= 320))
    return ML_WRONG_KIND;
  if (sensor >= 4 && sensor <= 9 && zyl::matchlib::param_get(ctx, kKeyNo360, 0) == 0 &&
      zyl::matchlib::param_get_text(ctx, "vn.algorithm.360", 0))
    options |= MINX_RIDGE_TRACE;
  ImageHold hold;
  int status = working_image(ctx, image, mode == MINX_HALF ? 2 : 1, &hold.image);
  if (status != ML_OK) return status;
  if (zyl::matchlib::image_mask_plane(hold.image) &&
      (status = zyl::matchlib::image_usable_mask_bytes(hold.image, &hold.mask)) != ML_OK)
    return status;
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  status = zyl::matchlib::minutiae_driver_grey(
      zyl::matchlib::image_pixels(hold.image), hold.mask,
      static_cast<std::uint16_t>(zyl::matchlib::image_height(hold.image)),
      static_cast<std::uint16_t>(zyl::matchlib::image_width(hold.image)),
      // Clamped before the cut to a byte, so that 266 stays "over 10".
      static_cast<std::uint8_t>(std::clamp(finger_position_of(image), 0, 255)),
      static_cast<std::uint8_t>(zyl::matchlib::image_impression_type(image)), nullptr, 0,
      static_cast<std::uint8_t>(max_count), static_cast<std::uint8_t>(order),
      static_cast<std::uint16_t>(options | mode | MINX_CORES | MINX_CARD_QUALITY),
      static_cast<std::uint8_t>(type->format), &bytes, &size, ridgetrace_run, nullptr);
  if (!zyl::matchlib::image_is_writable(image)) zyl::matchlib::image_release_pixels(image, nullptr);
  if (status != ML_OK || !bytes) return status;
  return wrap_blob(bytes, size, type->blob_type, out);
}

int bilevel_operation(MatchContext* ctx, GrayImage* image, int requested, DataBlob** out) {
  if (requested != 67) return ML_OUT_OF_LIMITS;
  const int sensor = zyl::matchlib::param_get_text(ctx, "vn.algorithm.sensor_size", 0);
  if (sensor >= 4 && sensor <= 9 && zyl::matchlib::param_get(ctx, kKeyNo360, 0) == 0 &&
      zyl::matchlib::param_get_text(ctx, "vn.algorithm.360", 0))
    return ML_OUT_OF_LIMITS;
  ImageHold hold;
  int status = working_image(ctx, image, 2, &hold.image);
  if (status != ML_OK) return status;
  if (zyl::matchlib::image_mask_plane(hold.image) &&
      (status = zyl::matchlib::image_usable_mask_bytes(hold.image, &hold.mask)) != ML_OK)
    return status;
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  status = zyl::matchlib::minutiae_driver_bilevel(
      zyl::matchlib::image_pixels(hold.image), hold.mask,
      static_cast<std::uint16_t>(zyl::matchlib::image_height(hold.image)),
      static_cast<std::uint16_t>(zyl::matchlib::image_width(hold.image)),
      static_cast<std::uint8_t>(std::clamp(finger_position_of(image), 0, 255)),
      static_cast<std::uint8_t>(zyl::matchlib::image_impression_type(image)), nullptr, 0,
      static_cast<std::uint8_t>(zyl::matchlib::param_get(ctx, kKeyMaxCount, 64) & 0xFF),
      static_cast<std::uint8_t>(
          zyl::matchlib::minutiae_order_from_key(zyl::matchlib::param_get(ctx, kKeyOrder, 0))),
      0x9472, MINX_FORMAT_CARD, &bytes, &size, ridgetrace_run, nullptr);
  if (status != ML_OK || !bytes) return status;
  return wrap_blob(bytes, size, 67, out);
}

int maps_operation(MatchContext* ctx, GrayImage* image, int requested, DataBlob** out) {
  if (requested != 67) return ML_BAD_ARGUMENT;
  ImageHold hold;
  int status = working_image(ctx, image, 2, &hold.image);
  if (status != ML_OK) return status;
  if (zyl::matchlib::image_mask_plane(hold.image) &&
      (status = zyl::matchlib::image_usable_mask_bytes(hold.image, &hold.mask)) != ML_OK)
    return status;
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  status = zyl::matchlib::minutiae_driver_maps(
      zyl::matchlib::image_pixels(hold.image), hold.mask,
      static_cast<std::uint16_t>(zyl::matchlib::image_height(hold.image)),
      static_cast<std::uint16_t>(zyl::matchlib::image_width(hold.image)),
      static_cast<std::uint8_t>(std::clamp(finger_position_of(image), 0, 255)),
      static_cast<std::uint8_t>(zyl::matchlib::image_impression_type(image)), 0x1030,
      MINX_FORMAT_CARD, &bytes, &size);
  if (status != ML_OK || !bytes) return status;
  return wrap_blob(bytes, size, 67, out);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::minutiae_order_from_key(int32_t key) {
  const int criterion = (key >> 2) & 7;
  if (key == 0 || criterion == 0 || criterion > 4) return 21;
  return criterion + ((key & 3) == 2 ? 16 : 0);
}

int zyl::matchlib::extract_fit_resolution(int target, int divisor, int ry, int rx, int height,
                                          int width, int* out_ry, int* out_rx, int* out_height,
                                          int* out_width) {
  if (!out_ry || !out_rx || !out_height || !out_width || divisor <= 0) return ML_BAD_ARGUMENT;
  *out_ry = ry;
  *out_rx = rx;
  *out_height = height;
  *out_width = width;
  // A resolution of 0 (or a size of 0) gives no scale to fit.
  if (ry <= 0 || rx <= 0 || height <= 0 || width <= 0) return ML_WRONG_KIND;
  const long t = target;
  long h = (t * height + ry / 2) / ry, w = (t * width + rx / 2) / rx;
  const long v = 12 / divisor;
  auto round_up = [v](long x) { return v > 0 ? (x + v - 1) / v * v : x; };
  if (h < w) {
    h = round_up(h);
    w = (height / 2 + long(width) * h) / height;
  } else if (w < h) {
    w = round_up(w);
    h = (width / 2 + long(height) * w) / width;
  } else {
    h = round_up(h);
    w = round_up(w);
  }
  const long a = 8 / divisor;
  if (std::labs(ry - t) > a || std::labs(rx - t) > a) {
    const long new_ry = (height / 2 + long(ry) * h) / height, new_rx = (width / 2 + long(rx) * w) / width;
    if (std::labs(ry - new_ry) > a || std::labs(rx - new_rx) > a) {
      *out_ry = static_cast<int>(new_ry);
      *out_rx = static_cast<int>(new_rx);
      *out_height = static_cast<int>(h);
      *out_width = static_cast<int>(w);
    }
  }
  return ML_OK;
}

int zyl::matchlib::minutiae_driver_grey(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                        uint16_t width, uint8_t finger_position,
                                        uint8_t impression_type, const void* reserved,
                                        uint8_t min_count, uint8_t max_count, uint8_t order_code,
                                        uint16_t options, uint8_t format, uint8_t** out,
                                        uint32_t* out_size, RidgeTraceCallback ridge_trace,
                                        RidgeTraceCallback second) {
  (void)reserved;
  if (!out || !out_size) return ML_BAD_ARGUMENT;
  *out = nullptr;
  *out_size = 0;
  if (!pixels) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return driver_grey(pixels, mask, height, width, finger_position, impression_type, min_count, max_count,
                       order_code, options, format, out, out_size, ridge_trace, second);
  });
}

int zyl::matchlib::minutiae_driver_bilevel(const uint8_t* pixels, const uint8_t* mask,
                                           uint16_t height, uint16_t width, uint8_t finger_position,
                                           uint8_t impression_type, const void* reserved,
                                           uint8_t min_count, uint8_t max_count, uint8_t order_code,
                                           uint16_t options, uint8_t format, uint8_t** out,
                                           uint32_t* out_size, RidgeTraceCallback callback,
                                           void* user) {
  (void)reserved;
  if (!out || !out_size) return ML_BAD_ARGUMENT;
  *out = nullptr;
  *out_size = 0;
  if (!pixels) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return driver_grey(pixels, mask, height, width, finger_position, impression_type, min_count, max_count,
                       order_code, options, format, out, out_size, callback, nullptr, true, user);
  });
}

int zyl::matchlib::minutiae_driver_maps(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                        uint16_t width, uint8_t finger_position,
                                        uint8_t impression_type, uint16_t options, uint8_t format,
                                        uint8_t** out, uint32_t* out_size) {
  if (!out || !out_size) return ML_BAD_ARGUMENT;
  *out = nullptr;
  *out_size = 0;
  if (!pixels) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return driver_maps(pixels, mask, height, width, finger_position, impression_type, options, format, out,
                       out_size);
  });
}

extern "C" ZYL_API int minutiae_driver_settings(const uint8_t* pixels, uint16_t height,
                                                uint16_t width, uint8_t finger_position,
                                                uint8_t impression_type,
                                                const MinutiaeDriverSettings* s) {
  if (!s) return ML_BAD_ARGUMENT;
  return zyl::matchlib::minutiae_driver_grey(
      pixels, nullptr, height, width, finger_position, impression_type, nullptr, s->min_count,
      s->max_count, s->order_code, s->options, s->format, s->out, s->out_size, nullptr, nullptr);
}

extern "C" ZYL_API int minutiae_driver_card_fixed(const uint8_t* pixels, uint16_t height,
                                                  uint16_t width, uint8_t finger_position,
                                                  uint8_t impression_type, uint8_t** out,
                                                  uint32_t* out_size) {
  // No sampling mode was ever set for this driver; it works at full
  // resolution (500-dpi input), the mode that needs no halved image.
  return zyl::matchlib::minutiae_driver_grey(
      pixels, nullptr, height, width, finger_position, impression_type, nullptr, 0, 64, 21,
      MINX_CARD_QUALITY | MINX_FULL, MINX_FORMAT_CARD, out, out_size, nullptr, nullptr);
}

void zyl::matchlib::minutiae_buffer_free(uint8_t* buffer) { std::free(buffer); }

int zyl::matchlib::extract_minutiae_grey(MatchContext* context, GrayImage* image, void* argument,
                                         int32_t requested, DataBlob** out, int mode) {
  (void)argument;
  if (!image || !out || !zyl::matchlib::image_pixels(image)) return ML_BAD_ARGUMENT;
  *out = nullptr;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return grey_operation(context, image, requested, out, mode); });
}

int zyl::matchlib::extract_minutiae_grey_half(MatchContext* context, GrayImage* image,
                                              void* argument, int32_t requested, DataBlob** out) {
  return zyl::matchlib::extract_minutiae_grey(context, image, argument, requested, out, MINX_HALF);
}

int zyl::matchlib::extract_minutiae_grey_full(MatchContext* context, GrayImage* image,
                                              void* argument, int32_t requested, DataBlob** out) {
  return zyl::matchlib::extract_minutiae_grey(context, image, argument, requested, out, MINX_FULL);
}

int zyl::matchlib::extract_minutiae_grey_plain(MatchContext* context, GrayImage* image,
                                               void* argument, int32_t requested, DataBlob** out) {
  // The plain slot names no sampling mode, which the grey pipeline cannot
  // run without; it is read as the full-resolution mode, so the card stages
  // that point at it get a template.
  return zyl::matchlib::extract_minutiae_grey(context, image, argument, requested, out, MINX_FULL);
}

int zyl::matchlib::extract_minutiae_bilevel(MatchContext* context, GrayImage* image, void* argument,
                                            int32_t requested, DataBlob** out) {
  (void)argument;
  if (!image || !out || !zyl::matchlib::image_pixels(image)) return ML_BAD_ARGUMENT;
  *out = nullptr;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return bilevel_operation(context, image, requested, out); });
}

int zyl::matchlib::extract_block_maps(MatchContext* context, GrayImage* image, void* argument,
                                      int32_t requested, DataBlob** out) {
  (void)argument;
  if (!image || !out || !zyl::matchlib::image_pixels(image)) return ML_BAD_ARGUMENT;
  *out = nullptr;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return maps_operation(context, image, requested, out); });
}

// The minutiae extraction operation table, in slot order. The card-template
// stage routines that the engine's chains name A to E are these slots in
// the same order (A = slot 0 ... E = slot 4).
const StageExtractor minutiae_extract_operations[5] = {{::extract_minutiae_bilevel},
                                                       {::extract_minutiae_grey_half},
                                                       {::extract_minutiae_grey_full},
                                                       {::extract_minutiae_grey_plain},
                                                       {::extract_block_maps}};

extern "C" ZYL_API int card_extract_a(MatchContext* c, GrayImage* i, void* a, int32_t k,
                                      DataBlob** o) {
  return zyl::matchlib::extract_minutiae_bilevel(c, i, a, k, o);
}
extern "C" ZYL_API int card_extract_b(MatchContext* c, GrayImage* i, void* a, int32_t k,
                                      DataBlob** o) {
  return zyl::matchlib::extract_minutiae_grey_half(c, i, a, k, o);
}
extern "C" ZYL_API int card_extract_c(MatchContext* c, GrayImage* i, void* a, int32_t k,
                                      DataBlob** o) {
  return zyl::matchlib::extract_minutiae_grey_full(c, i, a, k, o);
}
extern "C" ZYL_API int card_extract_d(MatchContext* c, GrayImage* i, void* a, int32_t k,
                                      DataBlob** o) {
  return zyl::matchlib::extract_minutiae_grey_plain(c, i, a, k, o);
}
extern "C" ZYL_API int card_extract_e(MatchContext* c, GrayImage* i, void* a, int32_t k,
                                      DataBlob** o) {
  return zyl::matchlib::extract_block_maps(c, i, a, k, o);
}

extern "C" {

ZYL_API int minutiae_order_from_key(int32_t key) {
  return zyl::matchlib::minutiae_order_from_key(key);
}
ZYL_API int extract_fit_resolution(int target, int divisor, int ry, int rx, int height, int width,
                                   int* out_ry, int* out_rx, int* out_height, int* out_width) {
  return zyl::matchlib::extract_fit_resolution(target, divisor, ry, rx, height, width, out_ry,
                                               out_rx, out_height, out_width);
}
ZYL_API int minutiae_driver_grey(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                 uint16_t width, uint8_t finger_position, uint8_t impression_type,
                                 const void* reserved, uint8_t min_count, uint8_t max_count,
                                 uint8_t order_code, uint16_t options, uint8_t format,
                                 uint8_t** out, uint32_t* out_size, RidgeTraceCallback ridge_trace,
                                 RidgeTraceCallback second) {
  return zyl::matchlib::minutiae_driver_grey(
      pixels, mask, height, width, finger_position, impression_type, reserved, min_count, max_count,
      order_code, options, format, out, out_size, ridge_trace, second);
}
ZYL_API int minutiae_driver_bilevel(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                    uint16_t width, uint8_t finger_position,
                                    uint8_t impression_type, const void* reserved,
                                    uint8_t min_count, uint8_t max_count, uint8_t order_code,
                                    uint16_t options, uint8_t format, uint8_t** out,
                                    uint32_t* out_size, RidgeTraceCallback callback, void* user) {
  return zyl::matchlib::minutiae_driver_bilevel(
      pixels, mask, height, width, finger_position, impression_type, reserved, min_count, max_count,
      order_code, options, format, out, out_size, callback, user);
}
ZYL_API int minutiae_driver_maps(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                 uint16_t width, uint8_t finger_position, uint8_t impression_type,
                                 uint16_t options, uint8_t format, uint8_t** out,
                                 uint32_t* out_size) {
  return zyl::matchlib::minutiae_driver_maps(pixels, mask, height, width, finger_position,
                                             impression_type, options, format, out, out_size);
}
ZYL_API void minutiae_buffer_free(uint8_t* buffer) { zyl::matchlib::minutiae_buffer_free(buffer); }
ZYL_API int extract_minutiae_grey(MatchContext* context, GrayImage* image, void* argument,
                                  int32_t requested, DataBlob** out, int mode) {
  return zyl::matchlib::extract_minutiae_grey(context, image, argument, requested, out, mode);
}
ZYL_API int extract_minutiae_grey_half(MatchContext* context, GrayImage* image, void* argument,
                                       int32_t requested, DataBlob** out) {
  return zyl::matchlib::extract_minutiae_grey_half(context, image, argument, requested, out);
}
ZYL_API int extract_minutiae_grey_full(MatchContext* context, GrayImage* image, void* argument,
                                       int32_t requested, DataBlob** out) {
  return zyl::matchlib::extract_minutiae_grey_full(context, image, argument, requested, out);
}
ZYL_API int extract_minutiae_grey_plain(MatchContext* context, GrayImage* image, void* argument,
                                        int32_t requested, DataBlob** out) {
  return zyl::matchlib::extract_minutiae_grey_plain(context, image, argument, requested, out);
}
ZYL_API int extract_minutiae_bilevel(MatchContext* context, GrayImage* image, void* argument,
                                     int32_t requested, DataBlob** out) {
  return zyl::matchlib::extract_minutiae_bilevel(context, image, argument, requested, out);
}
ZYL_API int extract_block_maps(MatchContext* context, GrayImage* image, void* argument,
                               int32_t requested, DataBlob** out) {
  return zyl::matchlib::extract_block_maps(context, image, argument, requested, out);
}

}  // extern "C"

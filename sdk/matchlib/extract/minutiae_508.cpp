// Minutiae extraction at 508 dpi into a card template: local
// normalisation, a pixel orientation field, 32 x 32 block spectra and FFT
// enhancement, binarisation into a smoothed ridge and valley pair,
// thinning, branch points and ending validation; the first 64 minutiae in
// detection order make the card.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_bilevel.h"
#include "zylscan/matchlib_binarize.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_contour_thin.h"
#include "zylscan/matchlib_fft_enhance.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_stft.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/param_store.h"
#include "matchlib/extract/contour_thinning.h"
#include "matchlib/extract/minutiae_validate.h"
#include "matchlib/extract/skeleton_branches.h"
#include "matchlib/filter/bilevel.h"
#include "matchlib/filter/binarize.h"
#include "matchlib/filter/normalize.h"
#include "matchlib/filter/quality_coherence.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/spectral/block_frequency.h"
#include "matchlib/spectral/fft_enhance.h"
#include "matchlib/spectral/orientation.h"
#include "matchlib/template/card_convert.h"
#include "matchlib/template/minutiae_record.h"

namespace zyl::matchlib {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kKeyOrientationRadius = 0xf74e862c;
constexpr std::uint32_t kKeyBlock = 0x5dafad02;

struct Held {
  GrayImage* image = nullptr;
  std::uint8_t* mask = nullptr;
  ~Held() {
    std::free(mask);
    if (image) zyl::matchlib::image_release(image);
  }
};

int minutiae_508(MatchContext* ctx, GrayImage* source, int requested, DataBlob** out) {
  const int g = zyl::matchlib::image_resolution_y(source);
  // Without a resolution there is no scale to 508 dpi.
  if (g <= 0) return ML_WRONG_KIND;
  Held held;
  if (std::abs(g - 508) >= 9) {
    const int h = (zyl::matchlib::image_height(source) * 508 + g / 2) / g,
              w = (zyl::matchlib::image_width(source) * 508 + g / 2) / g;
    held.image = zyl::matchlib::image_resize_with_resolution(source, h, w, 508, 508);
    if (!held.image) return ML_NO_MEMORY;
  } else {
    held.image = zyl::matchlib::image_retain(source);
  }
  GrayImage* image = held.image;
  const int r = zyl::matchlib::image_resolution(image);
  if (r < 500 || r > 516) return ML_WRONG_KIND;
  int status = zyl::matchlib::image_usable_mask_bytes(image, &held.mask);
  if (status != ML_OK) return status;
  const int h = zyl::matchlib::image_height(image), w = zyl::matchlib::image_width(image);
  const std::size_t n = std::size_t(h) * w;
  const std::uint8_t* mask = held.mask;

  Bytes normalised(n);
  status = zyl::matchlib::imgproc_normalize_local(zyl::matchlib::image_pixels(image), h, w, mask,
                                                  (r * 7 + 508) / 1016, 128, 75, normalised.data());
  if (status != ML_OK) return status;
  Bytes orientation(n), coherence(n), quality(n);
  status = zyl::matchlib::orient_pixel_field(
      normalised.data(), h, w, mask, zyl::matchlib::param_get(ctx, kKeyOrientationRadius, 12),
      orientation.data(), coherence.data());
  if (status != ML_OK) return status;
  if ((status = zyl::matchlib::quality_map_expand(coherence.data(), mask, h, w, 1, quality.data(),
                                                  h, w)) != ML_OK)
    return status;
  const int b = std::max(1, zyl::matchlib::param_get(ctx, kKeyBlock, 8));
  const int rows = h / b, columns = w / b;
  if (rows < 1 || columns < 1) return ML_BAD_ARGUMENT;
  Bytes period(std::size_t(rows) * columns, 0);
  status =
      zyl::matchlib::stft_block_analysis32(normalised.data(), mask, h, w, b, 18, 5, nullptr, rows,
                                           columns, nullptr, period.data(), nullptr, nullptr);
  if (status != ML_OK) return status;
  Bytes frequency(n, 0);
  for (int y = 0; y < h; ++y)  // the enlargement leaves its outer half cell to us
    for (int x = 0; x < w; ++x)
      frequency[std::size_t(y) * w + x] = period[std::size_t(std::min(y / b, rows - 1)) * columns + std::min(x / b, columns - 1)];
  if ((status = zyl::matchlib::expand_bilinear<std::uint8_t>(period.data(), rows, columns, b,
                                                             frequency.data(), h, w)) != ML_OK)
    return status;
  std::vector<std::int8_t> enhanced(n + w + 16, 0);
  status =
      zyl::matchlib::fftenh_enhance32(normalised.data(), h, w, frequency.data(), orientation.data(),
                                      mask, nullptr, 3, h, w, 1, enhanced.data());
  if (status != ML_OK) return status;
  Bytes ridges(n, 1), valleys(n, 1);
  status = zyl::matchlib::binarize_blocks_percentile(enhanced.data(), quality.data(), h, w, mask, 1,
                                                     47, ridges.data(), valleys.data());
  if (status != ML_OK) return status;
  zyl::matchlib::bilevel_set_border(ridges.data(), h, w, 1, 1, 1, 1);
  zyl::matchlib::bilevel_set_border(valleys.data(), h, w, 1, 1, 1, 1);
  if ((status = zyl::matchlib::bilevel_smooth_pair(ridges.data(), valleys.data(), quality.data(), h,
                                                   w)) != ML_OK)
    return status;
  if ((status = zyl::matchlib::bilevel_thin(ridges.data(), h, w)) != ML_OK) return status;
  if ((status = zyl::matchlib::bilevel_thin(valleys.data(), h, w)) != ML_OK) return status;

  std::unique_ptr<MinutiaeRecord, decltype(&zyl::matchlib::minrec_free)> rec(
      zyl::matchlib::minrec_create(), &zyl::matchlib::minrec_free);
  if (!rec) return ML_NO_MEMORY;
  rec->max_count = 64;
  rec->height = static_cast<std::uint16_t>(h);
  rec->width = static_cast<std::uint16_t>(w);
  rec->resolution = MINREC_RESOLUTION;
  rec->product_id = MINREC_DEFAULT_PRODUCT_ID;
  // Endings are the branch points of the valleys, bifurcations those of
  // the (dark) ridges, as in the grey pipeline: a dark-ridge ending is an
  // ending here too. The ridge skeleton's count map serves the validation.
  Bytes counts(n, 0);
  status = zyl::matchlib::minutiae_detect_branches(valleys.data(), orientation.data(), h, w, 1,
                                                   quality.data(), rec->minutiae, &rec->count,
                                                   counts.data(), 1, 1);
  if (status != ML_OK) return status;
  status = zyl::matchlib::minutiae_detect_branches(ridges.data(), orientation.data(), h, w, 0,
                                                   quality.data(), rec->minutiae, &rec->count,
                                                   counts.data(), 1, 1);
  if (status != ML_OK) return status;
  int count = zyl::matchlib::minutiae_merge_close_pairs(rec->minutiae, rec->count, 1);
  count = zyl::matchlib::minutiae_validate_endings(rec->minutiae, count, ridges.data(),
                                                   counts.data(), frequency.data(), h, w, 1, 1);
  for (int i = 0; i < count; ++i) {
    MinutiaEntry& m = rec->minutiae[i];
    m.extra = static_cast<std::uint8_t>(std::max(0, frequency[std::size_t(m.y) * w + m.x] - 5));
  }
  rec->count = static_cast<std::uint8_t>(std::min(count, 64));
  if (requested != 2) return ML_OK;
  std::uint8_t* iso = nullptr;
  std::uint32_t iso_size = 0;
  if ((status = zyl::matchlib::fmr_build_iso2011(rec.get(), &iso, &iso_size)) != ML_OK)
    return status;
  std::uint8_t* card = nullptr;
  std::uint32_t card_size = 0;
  status = zyl::matchlib::fmr_to_card(iso, iso_size, 128, &card, &card_size);
  std::free(iso);
  if (status != ML_OK) return status;
  DataBlob* blob = zyl::matchlib::blob_create(2, card, card_size);
  std::free(card);
  if (!blob) return ML_NO_MEMORY;
  *out = blob;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

ZYL_API int extract_minutiae_508(MatchContext* context, GrayImage* image, void* argument, int32_t requested,
                                 DataBlob** out) {
  (void)argument;
  if (!image || !out || !zyl::matchlib::image_pixels(image)) return ML_BAD_ARGUMENT;
  *out = nullptr;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return minutiae_508(context, image, requested, out); });
}

// The skeleton engine's pipeline: grey image to feature record, and the
// texture quality of an image from the first half of the same chain.
#include "extract/pipeline.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "extract/context_record.h"
#include "extract/byte_image.h"
#include "extract/singular_point_list.h"
#include "zylscan/direction_image.h"
#include "zylscan/extract_filters.h"
#include "zylscan/extract_minutiae.h"
#include "zylscan/extract_pipeline.h"
#include "zylscan/extract_ridges.h"
#include "zylscan/extract_thinning.h"
#include "zylscan/oriented_filter.h"
#include "zylscan/singular_points.h"
#include "extract/bad_area.h"
#include "extract/binarisation.h"
#include "extract/block_direction.h"
#include "extract/border_density.h"
#include "extract/feature_record.h"
#include "extract/good_area.h"
#include "extract/minutia_selection.h"
#include "extract/minutiae.h"
#include "extract/oriented_filter.h"
#include "extract/pixel_direction.h"
#include "extract/ridge_cleanup.h"
#include "extract/singular_points.h"
#include "extract/smoothing.h"
#include "extract/spot_removal.h"
#include "extract/thinning.h"

namespace zyl::extract {

namespace {

constexpr std::int32_t kBlockSide = 16;
// Larger sides would give a block grid beyond the record's 128 x 128.
constexpr std::int32_t kMaxSide = ZYL_MAX_BLOCKS * kBlockSide;
constexpr std::uint8_t kBadBit = 0x80;
// Above this quality value the contrast test of the minutiae is skipped:
// on such a noisy image it would reject nearly everything.
constexpr std::int32_t kContrastTestLimit = 95;
constexpr std::int32_t kGoodAreaGrowth = 5;

// Settings of ExtractFeatures_GetQ, which has no context.
constexpr std::int32_t kQSmoothRadius = 4;
constexpr std::int32_t kQNormaliseRadius = 128;
constexpr std::int32_t kQDirectionRadius = 12;
constexpr std::int32_t kQContrast = 19;
constexpr std::int32_t kQBadAreaRadius = 16;
constexpr std::int32_t kQBadAreaThreshold = 196;
constexpr std::int32_t kQBinariseRadius = 5;

void copy(const OwnedByteImage& from, const OwnedByteImage& to) {
  zyl::extract::CopyByteImage(from.width(), from.height(), from.get(), to.get());
}

// The bad-area bits of `from` replace those of `to`, row by row (distinct
// images, so the row vectorises).
void merge_bad_bits(std::uint8_t* __restrict to, const std::uint8_t* __restrict from, std::int32_t width) {
  for (std::int32_t x = 0; x < width; ++x) to[x] = static_cast<std::uint8_t>((to[x] & 0x7F) | (from[x] & kBadBit));
}

// Block directions, stored in the record, and the singular point candidates
// read off them.
SingularPointList block_stage(const XWContext& p, const OwnedByteImage& W, FeatureRecord& record) {
  const std::int32_t columns = W.width() / kBlockSide;
  const std::int32_t rows = W.height() / kBlockSide;
  record.blockColumns = static_cast<std::uint32_t>(std::min(columns, ZYL_MAX_BLOCKS));
  record.blockRows = static_cast<std::uint32_t>(std::min(rows, ZYL_MAX_BLOCKS));
  // Cells outside the grid read as "no direction", so a reused record
  // carries nothing over from an earlier image.
  std::memset(record.blockDirections, 255, sizeof record.blockDirections);
  SingularPointList scratch{};
  if (columns == 0 || rows == 0) return scratch;
  OwnedByteImage directions(columns, rows), noise(columns, rows);
  zyl::extract::ComputeBlockDirImage(W.width(), W.height(), W.get(), columns, rows, directions.get(), noise.get(),
                                     p.blockDirectionContrast);
  zyl::extract::CleanupBlockDirImage(columns, rows, directions.get(), noise.get(), p.blockCleanupLimit);
  for (std::uint32_t r = 0; r < record.blockRows; ++r)
    std::memcpy(record.blockDirections + r * ZYL_MAX_BLOCKS, directions[static_cast<int>(r)], record.blockColumns);
  zyl::extract::ExtractSingularPoints(columns, rows, directions.get(), &scratch);
  return scratch;
}

std::int32_t extract(const XWContext& p, std::int32_t width, std::int32_t height, ByteImage image,
                     FeatureRecord& record) {
  namespace ex = zyl::extract;
  // The grey image is the caller's rows and becomes the ridge image; the
  // other images are owned here. One work image serves four roles in turn,
  // each bound to its name where it begins.
  const std::int32_t w = width, h = height;
  OwnedByteImage as_given;  // the grey image before any change, for the contrast test
  if (p.imageTest) {
    as_given = OwnedByteImage(w, h);
    ex::CopyByteImage(w, h, image, as_given.get());
  }
  ex::PuttyImage(w, h, image);
  if (p.extraMeanPasses) ex::PuttyImage(w, h, image);

  // Pixel directions, with the bad-area bit (kBadBit) set where the print is
  // too poor to use.
  OwnedByteImage work(w, h), directions(w, h);
  if (!work || !directions || (p.imageTest && !as_given)) return ZYL_EXTRACT_BAD_ARGUMENT;
  OwnedByteImage& normalised = work;
  ex::SmoothImageInto(w, h, image, normalised.get(), p.smoothingRadius);
  ex::NormalizeImage(w, h, image, normalised.get(), p.normalisationRadius);
  for (int i = p.extraMeanPasses ? 3 : 2; i > 0; --i) ex::PuttyImage(w, h, normalised.get());

  SingularPointList candidates = block_stage(p, normalised, record);
  ex::ComputeDirImage(w, h, normalised.get(), directions.get(), p.directionRadius, p.noiseRadius,
                      p.pixelDirectionContrast, p.directionSquares);
  SingularPointList points{};
  ex::GroupSingularPoints(w, h, directions.get(), &candidates, &points);
  store_singular_points(record, points);

  // -1 (no good pixel) reads as 255, the worst quality.
  const std::int32_t q = static_cast<std::uint8_t>(ex::ComputeBadArea(
      w, h, directions.get(), normalised.get(), &points, p.badAreaWindowRadius, p.badAreaThreshold));
  if (p.goodAreaGrowing) ex::EnhanceGoodArea(w, h, directions.get(), kGoodAreaGrowth);
  if (p.spotRemoval) {
    OwnedByteImage& spots = work;
    copy(directions, spots);
    ex::EliminateSpots(w, h, spots.get());
    for (std::int32_t y = 0; y < h; ++y) merge_bad_bits(directions[y], spots[y], w);
  }

  ex::DirectSmoothImage(w, h, image, directions.get());
  OwnedByteImage& density = work;
  auto binarise = [&] {
    if (p.adaptiveBinarisation)
      ex::BinarizeImageA(w, h, image, density.get(), p.densityHigh, p.densityLow, p.binarisationRadiusSmall,
                         p.binarisationRadiusMiddle, p.binarisationRadiusLarge);
    else
      ex::BinarizeImage(w, h, image, p.binarisationRadiusMiddle);
  };
  if (p.adaptiveBinarisation) {
    // The density image's binarisation and the window means of the adaptive
    // one come from one pass over the grey image, which holds the choice
    // bits until the density image is ready.
    ex::BinarizeImageTwoWithChoices(w, h, image, density.get(), p.binarisationRadiusSmall,
                                    p.binarisationRadiusMiddle, p.binarisationRadiusLarge);
    ex::ComputeGImage(w, h, density.get(), directions.get(), p.densityRadius);
    ex::SmoothImage(w, h, density.get(), p.densitySmoothingRadius);
    ex::BinarizeImageByChoices(w, h, image, density.get(), p.densityHigh, p.densityLow);
  } else {
    binarise();
  }
  if (p.filterPasses + p.filteredDirectionStart + p.filteredDirectionFactor != 0) {
    if (p.filterPasses) ex::DirFilterImage(w, h, image, p.filterRadius, p.filterPasses);
    // The passes each pixel is due go into bits 0..2 of the density image,
    // and the filter counts them down to 0; the second binarisation reads
    // the density image as it then stands.
    OwnedByteImage& passes_due = density;
    if (p.filteredDirectionStart + p.filteredDirectionFactor != 0 &&
        ex::ComputeDirImageF(w, h, image, directions.get(), passes_due.get(), &points, p.filteredDirectionRadius,
                             p.filteredDirectionCap, p.filteredDirectionBase, p.filteredDirectionStart,
                             p.filteredDirectionFactor) == 0)
      ex::FilterImage(w, h, image, directions.get(), passes_due.get());
    binarise();
  }
  ex::BSmoothImage(w, h, image);

  OwnedByteImage& skeleton = work;
  ex::CopyByteImage(w, h, image, skeleton.get());
  record.borderDensity = static_cast<std::uint8_t>(ex::ComputeG(w, h, skeleton.get(), directions.get()));
  ex::SkeletonizeImage(w, h, skeleton.get(), p.thinningPasses);
  ex::EliminateLines(w, h, skeleton.get(), directions.get());
  ex::EliminateEyes(w, h, skeleton.get(), directions.get());
  ex::CopyByteImage(w, h, skeleton.get(), image);

  ex::ExtractMinutiae(w, h, skeleton.get(), directions.get(), &record);
  ex::SelectBadMinutiae(w, h, as_given.get(), directions.get(), &record, p.pairingRule,
                        p.imageTest && q <= kContrastTestLimit);
  ex::EliminateBadMinutiae(&record);

  if (p.rawExtractionResult) return q;
  return q < p.qualityThreshold ? 1 : 0;
}

}  // namespace

std::int32_t texture_quality_score(std::int32_t noise, std::int32_t area) {
  // Single precision where the formula says so, each term truncated on its
  // own: the values are compared against fixed thresholds by callers.
  const auto c = static_cast<std::int32_t>(static_cast<float>((255 - noise) * 100 / 256) * 1.6f);
  const std::int32_t s = 2 * c + area;
  const std::int32_t t = 2 * (100 - c) * (100 - c) + (100 - area) * (100 - area);
  std::int32_t g = 100;
  if (t != 0) {
    auto term = [&](std::int32_t v) {
      float f = static_cast<float>(s - v) / 300.0f;
      f *= static_cast<float>(v);
      f *= static_cast<float>(100 - v);
      f *= static_cast<float>(100 - v);
      f /= static_cast<float>(t);
      return static_cast<std::int32_t>(f);
    };
    g = 2 * term(c) + term(area);
  }
  return std::clamp(static_cast<std::int32_t>(static_cast<float>(g) * 1.2f), 0, 100);
}

}  // namespace zyl::extract

int32_t zyl::extract::ExtractFeatures(int32_t width, int32_t height, ByteImage image, FeatureRecord* record,
                                      XWContext* context) {
  const XWContext* p = zyl::api::resolve_context(context);
  if (!p || !image || !record || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
    return ZYL_EXTRACT_BAD_ARGUMENT;
  return extract(*p, width, height, image, *record);
}

int32_t zyl::extract::ExtractFeatures_GetQ(int32_t width, int32_t height, ByteImage rows) {
  if (!rows || width < 1 || height < 1) return -1;
  const std::int32_t w = width, h = height;
  OwnedByteImage normalised(w, h), directions(w, h);
  if (!normalised || !directions) return -1;
  PuttyImage(w, h, rows);
  SmoothImageInto(w, h, rows, normalised.get(), kQSmoothRadius);
  NormalizeImage(w, h, rows, normalised.get(), kQNormaliseRadius);
  PuttyImage(w, h, normalised.get());
  ComputeDirImage(w, h, normalised.get(), directions.get(), kQDirectionRadius, kQDirectionRadius, kQContrast, 0);
  const std::int32_t noise = static_cast<std::uint8_t>(
      ComputeBadAreaA(w, h, directions.get(), normalised.get(), kQBadAreaRadius, kQBadAreaThreshold));
  // The grey rows become the ridge image, then the bad-area map.
  DirectSmoothImage(w, h, rows, directions.get());
  BinarizeImage(w, h, rows, kQBinariseRadius);
  BSmoothImage(w, h, rows);
  MapBadArea(w, h, rows, directions.get());
  const std::int32_t area = ComputeA(w, h, rows, directions.get());
  return texture_quality_score(noise, area);
}

extern "C" {

ZYL_API int32_t ExtractFeatures(int32_t width, int32_t height, ByteImage image, FeatureRecord* record,
                                XWContext* context) {
  return zyl::extract::ExtractFeatures(width, height, image, record, context);
}
ZYL_API int32_t ExtractFeatures_GetQ(int32_t width, int32_t height, ByteImage rows) {
  return zyl::extract::ExtractFeatures_GetQ(width, height, rows);
}

}  // extern "C"

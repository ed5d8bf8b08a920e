// Matching a sample record against a prepared test side: the step the
// verification and identification calls and the generalisation share.
#include "api/match_sides.h"

#include <algorithm>
#include <cstdint>

#include "api/graph_lines.h"
#include "api/match_data.h"
#include "api/match_features.h"
#include "api/xw_context.h"
#include "extract/feature_record.h"
#include "zylscan/graph_matcher.h"

namespace zyl::api {

void set_rotation_mask(MatchData& md, std::int32_t max_rotation) {
  const std::int32_t l = std::clamp(max_rotation, 0, kMaxRotation);
  for (std::int32_t b = 0; b < ZYL_ANGLE_BINS; ++b)
    md.rotationFlags[b] = (b < l || b >= ZYL_ANGLE_BINS - l) ? 1 : 0;
}

std::int32_t match_sides(XWContext& c, MatchSide& test, const FeatureRecord& sample, MatchSide& work,
                         std::int32_t threshold, MatchDetails* details) {
  return match_sides(c, test, sample, TemplatePairs{}, work, threshold, details);
}

namespace {

// CopyFeatures for the matcher's work copy, without the grid's 16 KB when
// the grid has no size: the matcher reads the cells only when both grids
// have columns and rows.
void copy_for_matching(FeatureRecord& work, const FeatureRecord& sample) {
  if (sample.blockColumns && sample.blockRows) {
    zyl::extract::CopyFeatures(&work, &sample);
    return;
  }
  const std::int32_t n = std::clamp(sample.minutiaCount, 0, ZYL_MAX_MINUTIAE);
  work.minutiaCount = n;
  std::copy_n(sample.minutiaX, n, work.minutiaX);
  std::copy_n(sample.minutiaY, n, work.minutiaY);
  std::copy_n(sample.minutiaAngle, n, work.minutiaAngle);
  std::copy_n(sample.minutiaType, n, work.minutiaType);
  std::copy_n(sample.minutiaCurvature, n, work.minutiaCurvature);
  work.blockColumns = sample.blockColumns;
  work.blockRows = sample.blockRows;
  work.borderDensity = sample.borderDensity;
  const std::int32_t s = std::clamp(sample.singularCount, 0, ZYL_MAX_SINGULAR_POINTS);
  work.singularCount = s;
  std::copy_n(sample.singularX, s, work.singularX);
  std::copy_n(sample.singularY, s, work.singularY);
  std::copy_n(sample.singularAngle, s, work.singularAngle);
  std::copy_n(sample.singularKind, s, work.singularKind);
}

}  // namespace

std::int32_t match_sides(XWContext& c, MatchSide& test, const FeatureRecord& sample, const TemplatePairs& pairs,
                         MatchSide& work, std::int32_t threshold, MatchDetails* details) {
  copy_for_matching(work.features, sample);
  fill_sample_side(c, work, test.lengthBound, test.coreIndex != -1 ? 1 : 0, pairs);
  return zyl::api::MatchFeatures(&test, &work, threshold, details, &c);
}

}  // namespace zyl::api

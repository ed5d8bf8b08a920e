// The context API's comparison calls: verification of two templates in both
// directions, identification of candidates against one probe, and the
// generalisation of three templates into one.
#include "api/xw_operations.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "api/graph_lines.h"
#include "api/match_data.h"
#include "api/xw_context.h"
#include "zylscan/generalize.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw_operations.h"
#include "api/generalize.h"
#include "api/match_sides.h"
#include "api/template_exports.h"

namespace zyl::api {

namespace {

bool valid_details_size(const MatchDetails* details) {
  return !details || details->size == XW_DETAILS_SHORT || details->size == XW_DETAILS_LONG;
}

void clear_details(MatchDetails* details) {
  if (!details) return;
  details->score = 0;
  details->rotation = 0;
  details->shiftX = 0;
  details->shiftY = 0;
  if (details->size == XW_DETAILS_LONG) details->pairCount = 0;
}

// Side roles in the match data: the first template, the second template, and
// the work copy that matching turns and shifts.
constexpr int kFirstSide = 0;
constexpr int kSecondSide = 1;
constexpr int kWorkSide = 2;

// Scores the template decoded in the second side against the first side,
// already prepared as the test. Only a first score inside the verification
// window is worth the reverse match: clear rejects and clear matches cost one
// matcher pass. Each template's pairs are listed once (pairs[0]: the first
// side's, when listed; pairs[1] is listed here) and read in both of its roles.
std::int32_t score_both_ways(XWContext& c, MatchData& md, MatchDetails* details, bool details_in_reverse,
                             TemplatePairs (&pairs)[2]) {
  MatchSide& first = md.sides[kFirstSide];
  MatchSide& second = md.sides[kSecondSide];
  MatchSide& work = md.sides[kWorkSide];
  list_template_pairs(second.features, c.shortestLine, c.longestLine, pairs[1]);
  const std::int32_t s1 = match_sides(c, first, second.features, pairs[1], work, c.matchThreshold, details);
  if (s1 < c.verifyWindowLow || s1 > c.verifyWindowHigh) return s1;
  fill_test_side(c, md, second, pairs[1]);
  const std::int32_t s2 = match_sides(c, second, first.features, pairs[0], work, c.matchThreshold,
                                      details_in_reverse ? details : nullptr);
  return (s1 + s2) / 2;
}

// The pair lists of a verification's two templates: storage kept between
// calls (per thread), so that listing allocates nothing once it has grown.
TemplatePairs (&template_pairs())[2] {
  static thread_local TemplatePairs pairs[2];
  return pairs;
}

// Decodes a template (at most a feature buffer's bytes). Records decoded
// only for comparison may keep their old grid bytes under a 0 x 0 size.
std::int32_t decode(const std::uint8_t* tmpl, FeatureRecord& record, AbsentGrid absent = AbsentGrid::Clear) {
  return decompress_features(std::span<const std::uint8_t>(tmpl, kTemplateBufferSize), record, absent) < 0
             ? XW_ERR_BAD_TEMPLATE
             : XW_OK;
}

// Fills the result's non-minutia fields from the base impression: singular
// points, border density and its block grid (cells outside the grid 255).
void take_base_fields(const FeatureRecord& base, FeatureRecord& result) {
  result.singularCount = std::clamp(base.singularCount, 0, ZYL_MAX_SINGULAR_POINTS);
  std::copy_n(base.singularX, result.singularCount, result.singularX);
  std::copy_n(base.singularY, result.singularCount, result.singularY);
  std::copy_n(base.singularAngle, result.singularCount, result.singularAngle);
  std::copy_n(base.singularKind, result.singularCount, result.singularKind);
  result.borderDensity = base.borderDensity;
  const std::uint32_t columns = std::min<std::uint32_t>(base.blockColumns, ZYL_MAX_BLOCKS);
  const std::uint32_t rows = std::min<std::uint32_t>(base.blockRows, ZYL_MAX_BLOCKS);
  result.blockColumns = columns;
  result.blockRows = rows;
  std::memset(result.blockDirections, 255, sizeof result.blockDirections);
  for (std::uint32_t r = 0; r < rows; ++r)
    std::copy_n(base.blockDirections + r * ZYL_MAX_BLOCKS, columns, result.blockDirections + r * ZYL_MAX_BLOCKS);
}

}  // namespace
}  // namespace zyl::api

using namespace zyl::api;

int32_t zyl::api::XWVerify(const uint8_t* template_a, const uint8_t* template_b, MatchDetails* details,
                           XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (c->identifyInProgress) return XW_ERR_IDENTIFY_IN_PROGRESS;
  if (!template_a || !template_b) return XW_ERR_NULL_ARGUMENT;
  MatchData* md = ensure_match_data(*c);
  if (!md) return XW_ERR_NO_MEMORY;
  if (!valid_details_size(details)) return XW_ERR_BAD_VALUE;
  clear_details(details);
  set_rotation_mask(*md, c->maxRotation);

  // A malformed template is refused rather than scored as an empty one.
  if (decode(template_a, md->sides[kFirstSide].features, AbsentGrid::Leave) != XW_OK ||
      decode(template_b, md->sides[kSecondSide].features, AbsentGrid::Leave) != XW_OK)
    return XW_ERR_BAD_TEMPLATE;
  TemplatePairs (&pairs)[2] = template_pairs();
  list_template_pairs(md->sides[kFirstSide].features, c->shortestLine, c->longestLine, pairs[0]);
  fill_test_side(*c, *md, md->sides[kFirstSide], pairs[0]);
  const std::int32_t score = score_both_ways(*c, *md, details, true, pairs);
  if (details) details->score = score;
  return XW_VERIFY_COMPLETED;
}

extern "C" ZYL_API int32_t XWFVerify(const uint8_t* template_a, const uint8_t* template_b, XWContext* context) {
  MatchDetails details{};
  details.size = XW_DETAILS_SHORT;
  zyl::api::XWVerify(template_a, template_b, &details, context);
  return details.score;
}

// The identification start step: the probe is decoded and prepared as the
// test side once, then every candidate is only decoded and matched.
extern "C" ZYL_API int32_t XWIdentifyStart(const uint8_t* probe, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (c->identifyInProgress) return XW_ERR_IDENTIFY_IN_PROGRESS;
  if (!probe) return XW_ERR_NULL_ARGUMENT;
  MatchData* md = ensure_match_data(*c);
  if (!md) return XW_ERR_NO_MEMORY;
  if (decode(probe, md->sides[kFirstSide].features, AbsentGrid::Leave) != XW_OK) return XW_ERR_BAD_TEMPLATE;
  zyl::api::FillTestFeaturesMatchData(c, &md->sides[kFirstSide]);
  c->identifyInProgress = 1;
  return XW_OK;
}

extern "C" ZYL_API int32_t XWIdentifyNext(const uint8_t* candidate, MatchDetails* details, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!c->identifyInProgress) return XW_ERR_IDENTIFY_IN_PROGRESS;
  if (!candidate) return XW_ERR_NULL_ARGUMENT;
  MatchData* md = ensure_match_data(*c);
  if (!md) return XW_ERR_NO_MEMORY;
  if (!valid_details_size(details)) return XW_ERR_BAD_VALUE;
  clear_details(details);
  set_rotation_mask(*md, c->maxRotation);
  if (decode(candidate, md->sides[kSecondSide].features, AbsentGrid::Leave) != XW_OK)
    return XW_ERR_BAD_TEMPLATE;
  // The probe's pairs are not kept between calls: its sample role finds them.
  TemplatePairs (&pairs)[2] = template_pairs();
  pairs[0].valid = false;
  const std::int32_t score = score_both_ways(*c, *md, details, false, pairs);
  if (details) details->score = score;
  return score > c->matchThreshold ? 0 : -1;
}

extern "C" ZYL_API int32_t XWIdentifyEnd(XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!c->identifyInProgress) return XW_ERR_IDENTIFY_IN_PROGRESS;
  c->identifyInProgress = 0;
  return XW_OK;
}

int32_t zyl::api::XWGeneralize(int32_t count, const uint8_t* const* templates, uint8_t* out, int32_t* out_length,
                               XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (c->identifyInProgress) return XW_ERR_IDENTIFY_IN_PROGRESS;
  if (count != 3) return XW_ERR_BAD_VALUE;
  if (!templates || !out || !out_length || !templates[0] || !templates[1] || !templates[2])
    return XW_ERR_NULL_ARGUMENT;
  if (!ensure_match_data(*c)) return XW_ERR_NO_MEMORY;

  // Decoded impressions and the result: four records of about 37 KB each.
  std::unique_ptr<FeatureRecord[]> records(new (std::nothrow) FeatureRecord[4]{});
  if (!records) return XW_ERR_NO_MEMORY;
  for (int k = 0; k < 3; ++k)
    if (decode(templates[k], records[k]) != XW_OK) return XW_ERR_BAD_TEMPLATE;
  FeatureRecord& result = records[3];
  const std::int32_t threshold = c->generalisationThreshold;
  const std::int32_t base = zyl::api::GeneralizeFeatures(&records[0], &records[1], &records[2], &result, &threshold, c);
  if (base < 0) return base;
  take_base_fields(records[base], result);
  *out_length = zyl::api::CompressFeatures(&result, out, c);
  return base;
}

extern "C" ZYL_API int32_t XWFGeneralize(const uint8_t* const* templates, uint8_t* out, int32_t* out_length,
                                         XWContext* context) {
  return zyl::api::XWGeneralize(3, templates, out, out_length, context);
}

extern "C" {

ZYL_API int32_t XWVerify(const uint8_t* template_a, const uint8_t* template_b, MatchDetails* details,
                         XWContext* context) {
  return zyl::api::XWVerify(template_a, template_b, details, context);
}
ZYL_API int32_t XWGeneralize(int32_t count, const uint8_t* const* templates, uint8_t* out, int32_t* out_length,
                             XWContext* context) {
  return zyl::api::XWGeneralize(count, templates, out, out_length, context);
}

}  // extern "C"

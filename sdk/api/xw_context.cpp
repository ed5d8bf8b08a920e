// XW contexts: the record's helpers and the numbered parameters. Creation
// with the default settings is in xw_context_setup.cpp, the default context
// in extract/context_record.cpp.
#include "api/xw_context.h"
#include "api/match_data.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

namespace zyl::api {
namespace {

std::int32_t g_extract_features_mode = 0;

// How a stored value is brought into its field's range.
enum class Rule : std::uint8_t {
  Byte,        // 0..255
  Count,       // negative -> 0, no upper bound
  Flag,        // stored as given
  Signed,      // stored as given (score scale and offset)
  Setting0to3, // 0..3
  LineBudget,  // 0..ZYL_GRAPH_LINES: the line table holds no more
};

struct Field {
  std::int32_t id;
  Rule rule;
  std::uint8_t XWContext::*byte_field;
  std::int32_t XWContext::*int_field;
};

constexpr Field B(std::int32_t id, std::uint8_t XWContext::*f) { return {id, Rule::Byte, f, nullptr}; }
constexpr Field I(std::int32_t id, std::int32_t XWContext::*f, Rule r = Rule::Count) {
  return {id, r, nullptr, f};
}
constexpr Field F(std::int32_t id, std::int32_t XWContext::*f) { return {id, Rule::Flag, nullptr, f}; }

using C = XWContext;
constexpr Field kFields[] = {
    B(10000, &C::qualityThreshold),
    F(10001, &C::adaptiveBinarisation),
    I(10002, &C::setting10002, Rule::Setting0to3),
    I(10003, &C::binarisationRadiusSmall),
    I(10004, &C::binarisationRadiusMiddle),
    I(10005, &C::binarisationRadiusLarge),
    B(10006, &C::densityHigh),
    B(10007, &C::densityLow),
    B(10008, &C::pixelDirectionContrast),
    B(10009, &C::blockDirectionContrast),
    B(10010, &C::badAreaThreshold),
    B(10011, &C::blockCleanupLimit),
    I(10012, &C::filterPasses),
    B(10013, &C::filteredDirectionCap),
    B(10014, &C::filteredDirectionBase),
    I(10015, &C::filteredDirectionStart),
    I(10016, &C::filteredDirectionFactor),
    I(10017, &C::thinningPasses),
    F(10018, &C::pairingRule),
    F(10019, &C::imageTest),
    I(10020, &C::setting10020),
    F(10021, &C::writeCurvature),
    F(10022, &C::writeSingularPoints),
    I(10023, &C::setting10023),
    F(10024, &C::onlyKind1Singular),
    F(10025, &C::writeBlockDirections),
    I(10026, &C::smoothingRadius),
    I(10027, &C::normalisationRadius),
    I(10028, &C::densityRadius),
    I(10029, &C::densitySmoothingRadius),
    I(10030, &C::directionRadius),
    I(10031, &C::filterRadius),
    I(10032, &C::filteredDirectionRadius),
    I(10033, &C::noiseRadius),
    F(10034, &C::directionSquares),
    F(10035, &C::spotRemoval),
    F(10036, &C::goodAreaGrowing),
    F(10037, &C::extraMeanPasses),
    I(10038, &C::badAreaWindowRadius),
    F(11000, &C::rawExtractionResult),
    I(20000, &C::lengthTolerance),
    I(20001, &C::angleTolerance),
    I(20003, &C::testLineBudget, Rule::LineBudget),
    I(20004, &C::sampleLineBudget, Rule::LineBudget),
    I(20005, &C::shortestLine),
    I(20006, &C::longestLine),
    I(20007, &C::coreWindow),
    I(20008, &C::coreDivisor),
    I(20009, &C::coreSlack),
    I(20010, &C::curvatureWindow),
    I(20011, &C::curvatureDivisor),
    I(20012, &C::normalisationLimit),
    I(20013, &C::normalisationFactor),
    I(20014, &C::verifyWindowLow),
    I(20015, &C::verifyWindowHigh),
    F(20016, &C::borderDensityWeighting),
    F(20017, &C::curvatureWeighting),
    F(20018, &C::blockGridComparison),
    F(20019, &C::coreOption),
    F(20020, &C::groupScoring),
    I(20021, &C::scoreScale, Rule::Signed),
    I(20022, &C::scoreOffset, Rule::Signed),
};

const Field* find_field(std::int32_t id) {
  for (const Field& f : kFields)
    if (f.id == id) return &f;
  return nullptr;
}

std::int32_t load(const XWContext& c, const Field& f) {
  return f.byte_field ? static_cast<std::int32_t>(c.*f.byte_field) : c.*f.int_field;
}

void store(XWContext& c, const Field& f, std::int32_t value) {
  if (f.byte_field)
    c.*f.byte_field = static_cast<std::uint8_t>(value);
  else
    c.*f.int_field = value;
}

std::int32_t clamp_to_rule(Rule rule, std::int32_t value) {
  switch (rule) {
    case Rule::Byte: return std::clamp(value, 0, 255);
    case Rule::Count: return std::max(value, 0);
    case Rule::Flag:
    case Rule::Signed: return value;
    case Rule::Setting0to3: return std::clamp(value, 0, 3);
    case Rule::LineBudget: return std::clamp(value, 0, ZYL_GRAPH_LINES);
  }
  return value;
}

// Settings the extractor and the matcher cannot work with are refused rather
// than clamped: a cap not above the base would never end the strength loop, a
// start plus factor above 7 does not fit the three strength bits, and a
// directional filter radius below 5 gives a row ring shorter than the
// kernel's reach.
constexpr std::int32_t kMinFilterRadius = 5;
constexpr std::int32_t kMaxFilterStrength = 7;

bool acceptable(const XWContext& c, std::int32_t id, std::int32_t value) {
  switch (id) {
    case 10013: return value > c.filteredDirectionBase;
    case 10014: return c.filteredDirectionCap > value;
    case 10015: return std::int64_t{value} + c.filteredDirectionFactor <= kMaxFilterStrength;
    case 10016: return std::int64_t{c.filteredDirectionStart} + value <= kMaxFilterStrength;
    case 10031: return value >= kMinFilterRadius;
    // The matcher divides by the core-distance and curvature divisors.
    case 20008:
    case 20011: return value > 0;
    default: return true;
  }
}

// Name of the algorithm (11 characters) and the owner notice (62 characters);
// callers size their buffers by these lengths.
constexpr char kAlgorithmName[] = "XW skeleton";
constexpr char kOwnerNotice[] = "Skeleton minutiae extractor and graph matcher, part of zylscan";
static_assert(sizeof(kAlgorithmName) == 12);
static_assert(sizeof(kOwnerNotice) == 63);
constexpr std::int32_t kAlgorithmVersion = 0x10000;  // major 1, minor 0

std::int32_t copy_text(const char* text, std::size_t size, void* out) {
  if (out) std::memcpy(out, text, size);
  return static_cast<std::int32_t>(size - 1);
}

std::optional<std::int32_t> simple_parameter(const XWContext& c, std::int32_t id) {
  switch (id) {
    case 110: return c.extractFeatures;
    case 200: return c.matchThreshold;
    case 201: return c.maxRotation;
    case 210: return c.matchFeatures;
    case 220: return c.matchingSpeed;
    case 300: return c.generalisationThreshold;
    case 1000: return c.mode;
    default: return std::nullopt;
  }
}

std::int32_t parameter_type(std::int32_t id) {
  if (id >= 10000) return zyl::api::XWGetAdditionalParameterType(id);
  switch (id) {
    case 0: return XW_ERR_NULL_ARGUMENT;
    case 10:
    case 13: return XW_TYPE_STRING;
    case 11:
    case 12: return XW_TYPE_VERSION;
    case 110:
    case 200:
    case 201:
    case 210:
    case 220:
    case 300:
    case 1000: return XW_TYPE_INT;
    default: return XW_ERR_BAD_VALUE;
  }
}

}  // namespace

MatchData* ensure_match_data(XWContext& context) {
  if (!context.matchData) context.matchData = zyl::api::CreateMatchData();
  return context.matchData;
}

bool store_parameter_field(XWContext& context, std::int32_t id, std::int32_t value) {
  const Field* f = find_field(id);
  if (!f) return false;
  store(context, *f, value);
  return true;
}

std::int32_t free_context(XWContext* context) {
  if (!context) return XW_ERR_NULL_ARGUMENT;
  zyl::api::FreeMatchData(context->matchData);
  delete context;
  return XW_OK;
}

}  // namespace zyl::api

using namespace zyl::api;

extern "C" ZYL_API int32_t XWGetParameter(int32_t id, void* out, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (id >= 10000) return zyl::api::XWGetAdditionalParameter(id, static_cast<std::int32_t*>(out), c);
  switch (id) {
    case 10: return copy_text(kAlgorithmName, sizeof kAlgorithmName, out);
    case 13: return copy_text(kOwnerNotice, sizeof kOwnerNotice, out);
    default: break;
  }
  if (!out) return XW_ERR_NULL_ARGUMENT;
  if (id == 0) {
    // The type query carries the asked id in the pointer argument itself.
    return parameter_type(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(out)));
  }
  if (id == 11 || id == 12) {
    *static_cast<std::int32_t*>(out) = kAlgorithmVersion;
    return XW_OK;
  }
  const auto value = simple_parameter(*c, id);
  if (!value) return XW_ERR_UNKNOWN_PARAMETER;
  *static_cast<std::int32_t*>(out) = *value;
  return XW_OK;
}

int32_t zyl::api::XWGetAdditionalParameter(int32_t id, int32_t* out, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!out) return XW_ERR_NULL_ARGUMENT;
  const Field* f = find_field(id);
  if (!f) return XW_ERR_UNKNOWN_PARAMETER;
  *out = load(*c, *f);
  return XW_OK;
}

int32_t zyl::api::XWGetAdditionalParameterType(int32_t id) {
  const Field* f = find_field(id);
  if (!f) return XW_ERR_BAD_VALUE;
  return f->rule == Rule::Flag ? XW_TYPE_FLAG : XW_TYPE_INT;
}

int32_t zyl::api::XWSetAdditionalParameter(int32_t id, int32_t value, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (c->identifyInProgress) return XW_ERR_IDENTIFY_IN_PROGRESS;
  const Field* f = find_field(id);
  if (!f) return XW_ERR_UNKNOWN_PARAMETER;
  const std::int32_t clamped = clamp_to_rule(f->rule, value);
  if (!acceptable(*c, id, clamped)) return XW_ERR_BAD_VALUE;
  store(*c, *f, clamped);
  return XW_OK;
}

extern "C" ZYL_API int32_t SetExtractFeaturesMode(int32_t value) {
  g_extract_features_mode = value;
  return XW_OK;
}

extern "C" {

ZYL_API int32_t XWGetAdditionalParameter(int32_t id, int32_t* out, XWContext* context) {
  return zyl::api::XWGetAdditionalParameter(id, out, context);
}
ZYL_API int32_t XWGetAdditionalParameterType(int32_t id) { return zyl::api::XWGetAdditionalParameterType(id); }
ZYL_API int32_t XWSetAdditionalParameter(int32_t id, int32_t value, XWContext* context) {
  return zyl::api::XWSetAdditionalParameter(id, value, context);
}

}  // extern "C"

// The XW context record: the settings of the skeleton extractor, the
// template writer and the graph matcher, and the process's default context.
//
// The record is opaque to applications (they use the numbered parameters);
// the extractor, the template writer and the graph matcher read its fields
// directly. Field comments give the parameter id.
#pragma once

#include <cstdint>

#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

struct XWContext {
  std::uint8_t qualityThreshold;       // 10000: extraction fails at or above
  std::int32_t adaptiveBinarisation;   // 10001 flag
  std::int32_t setting10002;           // 10002, 0..3, stored only
  std::int32_t binarisationRadiusSmall;   // 10003
  std::int32_t binarisationRadiusMiddle;  // 10004 (alone for plain binarisation)
  std::int32_t binarisationRadiusLarge;   // 10005
  std::uint8_t densityHigh;            // 10006
  std::uint8_t densityLow;             // 10007
  std::uint8_t pixelDirectionContrast; // 10008
  std::uint8_t blockDirectionContrast; // 10009
  std::uint8_t badAreaThreshold;       // 10010
  std::uint8_t blockCleanupLimit;      // 10011
  std::int32_t filterPasses;           // 10012: directional filter passes, 0 off
  std::uint8_t filteredDirectionCap;   // 10013, always above the base
  std::uint8_t filteredDirectionBase;  // 10014
  std::int32_t filteredDirectionStart;   // 10015, start + factor <= 7
  std::int32_t filteredDirectionFactor;  // 10016
  std::int32_t thinningPasses;         // 10017
  std::int32_t pairingRule;            // 10018 flag
  std::int32_t imageTest;              // 10019 flag
  std::int32_t extractFeatures;        // (110) 0, 1 or 2
  std::int32_t setting10020;           // 10020, stored only
  std::int32_t writeCurvature;         // 10021 flag
  std::int32_t writeSingularPoints;    // 10022 flag
  std::int32_t setting10023;           // 10023, stored only
  std::int32_t onlyKind1Singular;      // 10024 flag
  std::int32_t writeBlockDirections;   // 10025 flag
  std::int32_t smoothingRadius;        // 10026
  std::int32_t normalisationRadius;    // 10027
  std::int32_t densityRadius;          // 10028
  std::int32_t densitySmoothingRadius; // 10029
  std::int32_t directionRadius;        // 10030: pixel direction image
  std::int32_t filterRadius;           // 10031: directional filter, at least 5
  std::int32_t filteredDirectionRadius;  // 10032
  std::int32_t noiseRadius;            // 10033: pixel direction image
  std::int32_t directionSquares;       // 10034 flag
  std::int32_t spotRemoval;            // 10035 flag
  std::int32_t goodAreaGrowing;        // 10036 flag
  std::int32_t extraMeanPasses;        // 10037 flag
  std::int32_t badAreaWindowRadius;    // 10038
  std::int32_t rawExtractionResult;    // 11000 flag
  MatchData* matchData;                // created on first use, freed with the context
  std::int32_t lengthTolerance;        // 20000
  std::int32_t angleTolerance;         // 20001
  std::int32_t testLineBudget;         // 20003, at most ZYL_GRAPH_LINES
  std::int32_t sampleLineBudget;       // 20004, at most ZYL_GRAPH_LINES
  std::int32_t shortestLine;           // 20005
  std::int32_t longestLine;            // 20006
  std::int32_t coreWindow;             // 20007
  std::int32_t coreDivisor;            // 20008
  std::int32_t coreSlack;              // 20009
  std::int32_t curvatureWindow;        // 20010
  std::int32_t curvatureDivisor;       // 20011
  std::int32_t normalisationLimit;     // 20012
  std::int32_t normalisationFactor;    // 20013
  std::int32_t verifyWindowLow;        // 20014
  std::int32_t verifyWindowHigh;       // 20015
  std::int32_t borderDensityWeighting; // 20016 flag
  std::int32_t matchFeatures;          // (210) 0, 1 or 2
  std::int32_t curvatureWeighting;     // 20017 flag
  std::int32_t blockGridComparison;    // 20018 flag
  std::int32_t coreOption;             // 20019 flag
  std::int32_t groupScoring;           // 20020 flag
  std::int32_t matchingSpeed;          // (220) 0 or 256
  std::int32_t scoreScale;             // 20021
  std::int32_t scoreOffset;            // 20022
  std::int32_t matchThreshold;         // (200)
  std::int32_t maxRotation;            // (201) 0..120
  std::int32_t generalisationThreshold;  // (300)
  std::int32_t mode;                   // (1000) last preset applied
  std::int32_t identifyInProgress;     // refuses settings and verification while set
};

namespace zyl::api {

// The process's default context, used wherever a call passes a null context:
// created by the first XWInitialize, freed by the last XWFinalize, null
// outside them.
extern XWContext* g_default_context;

// The given context, or the default one for null (null when there is none).
XWContext* resolve_context(XWContext* context);

}  // namespace zyl::api

/* Matcher library learned match score: a template pair rated by the
 * engine's learned quality network from the full matcher's sub-scores and
 * the two templates' kind-87 feature vectors. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Runs match_full on (first, second) with no starting alignment, then the
 * network of the engine's quality model over the sub-scores, the second
 * template's feature vector and the first's. On success the result holds
 * the unclamped score (-18..1017) in learned_score and the input vector
 * and its length (sub-score count + 2 x vector length) in learned_inputs
 * and learned_length, replacing any earlier vector.
 * 2 for a null argument or an engine without quality model; the
 * matcher's status; 3 when a blob is no container or the two vectors
 * differ in length; 6 when a template has no feature vector; the
 * parser's status; 9 out of memory; the network's status (2 for a network
 * the forward pass refuses). Failing before the vectors are compared
 * leaves the result untouched; failing later leaves it without vector. */
ZYL_API int learned_match_score(MatchEngine* engine, DataBlob* first, DataBlob* second,
                                MatchResult* result);

ZYL_EXTERN_C_END

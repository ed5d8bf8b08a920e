// Input vector of the learned match score of a template pair: the full
// matcher's sub-scores, then the second template's feature vector, then the
// first's (each found as the template's kind-87 entry).
#pragma once

#include <cstdint>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_learned_match.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int learned_match_score(MatchEngine* engine, DataBlob* first, DataBlob* second,
                        MatchResult* result);

// Allocates (malloc, zero-filled) at least the network's input count of
// values and reports the vector's own length, count + 2c. 2 for a bad
// sub-score list; the container's and the parser's statuses; 3 when the
// two vectors differ in length; 9 out of memory. Nothing is allocated on
// failure.
int learned_match_inputs(const std::uint16_t* sub_scores, int count, const DataBlob* first,
                         const DataBlob* second, const MlpNetwork& network,
                         std::int32_t** out_values, std::int32_t* out_length);

}  // namespace zyl::matchlib

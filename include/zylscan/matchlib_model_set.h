/* Matcher library score-model set: a stored replacement for the score
 * models and threshold tables of an engine's score profiles (up to ten
 * entries), read from and written to its big-endian block form. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_score.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { MODEL_SET_MAX_ENTRIES = 10, MODEL_SET_BLOCK_TYPE = 1001 };

typedef struct ScoreModelSetEntry {
  ScoreModel model; /* owned rows */
  FarThresholdTable table;
} ScoreModelSetEntry;

typedef struct ScoreModelSet {
  ScoreModelSetEntry entries[MODEL_SET_MAX_ENTRIES];
  int32_t count;
  ScoreProfile* profile_storage;  /* count copies, owned */
  const ScoreProfile** profiles;  /* null-terminated, owned; null until built */
} ScoreModelSet;

/* Reads one block body (entry index, model size, 196 thresholds, model)
 * into its entry: 0; 3 for an index above 9 or a body that does not hold
 * what it announces; the model reader's status otherwise. */
ZYL_API int model_set_read_entry(ScoreModelSet* set, const uint8_t* body, uint32_t length);
/* Parses a stored set and builds its profiles from the current ones (the
 * engine's array, in order): each copy takes the entry's table and a copy
 * of the entry's model. 0; 3 (version below 1, bad blocks, more than 10
 * entries); 17 (fewer current profiles than entries, a model copy of
 * another size, a malformed block chain); 1 (a model that writes as 0
 * bytes); 9. *out is set only on success. */
ZYL_API int model_set_parse(const uint8_t* bytes, uint32_t length,
                            const ScoreProfile* const* current, ScoreModelSet** out);
/* A set of the profiles' tables and copies of their models: 0, 19 for more
 * than 10 profiles, 1 for a model without a stored form (0 bytes), 17 for
 * one whose copy writes to another size, 9. */
ZYL_API int model_set_from_profiles(const ScoreProfile* const* profiles, ScoreModelSet** out);
/* The stored form in a new malloc'd buffer (the caller frees it): 0, 2, 9. */
ZYL_API int model_set_serialize(const ScoreModelSet* set, uint8_t** out, uint32_t* out_length);
ZYL_API void model_set_free(ScoreModelSet* set);

ZYL_EXTERN_C_END

/* Matcher library preset catalogue: the profile rows of the card, grid-map
 * and nine-score card families, the chain builders of the catalogue's
 * engines, the engine factories and the static lists that hold them.
 * Nothing in the library walks the lists: callers select a factory by list
 * and position. Every factory takes a context (or null for a new one) and
 * answers a new engine that the caller releases, or null; whatever it
 * built is freed on failure.
 *
 * Score profiles of the catalogue are placeholders: each stage that fuses
 * through a profile finds one whose model passes the first sub-score
 * through and whose threshold table is the neutral one (every raw score
 * above 0 passes every level), until fitted data for these engines exist.
 * The engine-only card comparison engines have no chain; the comparison
 * builds its parameter element from a 30-row model in the first profile,
 * which the placeholder lacks, so their verification answers 17 until
 * fitted models exist. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct AlgorithmProfile AlgorithmProfile;

/* Builds the chain of a profile row around an extraction descriptor. */
typedef StageChain* (*ProfileChainBuilder)(MatchContext* context, const StageExtractor* descriptor,
                                           const AlgorithmProfile* row);

/* A profile row: its chain builder (null in the nine-score card table,
 * whose builder takes an image list), the preset layout and the switches
 * of its two option lists (j = 0, 1, 2). */
struct AlgorithmProfile {
  ProfileChainBuilder builder;
  AlgorithmPreset preset;
  int32_t first_switches[3];
  int32_t second_switches[3];
};

enum {
  PROFILE_TABLE_ROWS = 9,
  PROFILE_GRIDMAP_ROWS = 1,
  PROFILE_CARD9_ROWS = 4,
  PROFILE_KEY_SKIP = (int32_t)0xa5f67fc5,   /* candidates the card stages leave out */
  PROFILE_KEY_TRIPLE = (int32_t)0xb6623030, /* absent reads as 4711 */
  PROFILE_ABSENT = 4711
};

/* Row of the card profile table (0..8), the grid-map table (0) and the
 * nine-score card table (0..3); null outside. */
ZYL_API const AlgorithmProfile* profile_table_row(int row);
ZYL_API const AlgorithmProfile* profile_gridmap_row(int row);
ZYL_API const AlgorithmProfile* profile_card9_row(int row);
/* The row's first (which 0) or second (which 1) option list as in
 * preset_option_list; -1 for a null row or another list. */
ZYL_API int profile_option_list(const AlgorithmProfile* row, int which, int32_t out[3]);

/* ---- profile chains ---- */
/* Budget b; k = PROFILE_KEY_SKIP (default 0), limited to 0 .. b - 1.
 * Stage 1 (kind = the row's format, the descriptor): stage pair 1, scores
 * not carried. Stage 2 (no descriptor): {match_card_grid, fuse_card_grid},
 * candidate limit b - k. */
ZYL_API StageChain* profile_chain_card(MatchContext* context, const StageExtractor* descriptor,
                                       const AlgorithmProfile* row);
/* As profile_chain_card with {match_card_grid_detail, fuse_card_grid} in
 * stage 2. */
ZYL_API StageChain* profile_chain_card_alt(MatchContext* context, const StageExtractor* descriptor,
                                           const AlgorithmProfile* row);
/* Kind 74 throughout; k = PROFILE_KEY_SKIP (default 3b/4 - 1), limited to
 * 0 .. b - 1. Stage 1 as in profile_chain_card; stage 2 {match_card_grid,
 * fuse_card_grid}, offset 2, level "vn.algorithm.reject_far" (default 4),
 * limit b - k/3, scores not carried; stage 3 {match_card_grid_detail,
 * fuse_card_grid}, limit (b - k)/2, at least 1. */
ZYL_API StageChain* profile_chain_triple(MatchContext* context, const StageExtractor* descriptor,
                                         const AlgorithmProfile* row);
/* Sets PROFILE_KEY_TRIPLE to 1 when it reads as absent, then
 * profile_chain_triple. */
ZYL_API StageChain* profile_chain_triple_default(MatchContext* context,
                                                 const StageExtractor* descriptor,
                                                 const AlgorithmProfile* row);
/* Kind 66: stage pair 1 on the descriptor (scores not carried), then the
 * texture algorithm's grid-map comparison and decision, limit b. */
ZYL_API StageChain* profile_chain_gridmap(MatchContext* context, const StageExtractor* descriptor,
                                          const AlgorithmProfile* row);
/* One stage of the row's format with the descriptor and image list:
 * {match_card, fuse_card}. */
ZYL_API StageChain* profile_chain_card9(const StageExtractor* descriptor,
                                        const AlgorithmProfile* row,
                                        const ImagePrepRoutine* images);
/* An engine from a profile row as preset_create_indexed builds one from a
 * preset row (the row's H is not copied), the chain from the row's
 * builder on the descriptor; input mode 2 (raw pixel buffers). */
ZYL_API MatchEngine* profile_create_engine(MatchContext* context, const StageExtractor* descriptor,
                                           const AlgorithmProfile* row,
                                           const ScoreProfile* const* profiles);

/* ---- further chains of the catalogue ---- */
/* Card D (kind 67, {match_card_grid, fuse_card_grid}), full keypoints
 * (kind 79, {match_keypoints, fuse_with_profile}), both with flags 2 | 4,
 * then the grid-block stage (kind 77) on the given descriptor with the
 * given match ops. */
ZYL_API StageChain* preset_build_card_keypoint_grid_chain(const StageMatchOps* ops,
                                                          const StageExtractor* grid);
/* Orientation histogram, keypoints (offset 3, level "vn.morva.far.reject"
 * default 3, limit 0xdb4cd8b0 default 24), grid block ({match_gridblock,
 * fuse_with_profile}, limit 0xda569574 default 16); with 0x79ce7252 set,
 * the extraction-only card D and texture stages. */
ZYL_API StageChain* preset_build_verify_chain_grid(MatchContext* context);
/* Ensures 0xaeeec432 = 16; light orientation histogram, card E
 * (extraction only), then match_full on light keypoints with its card and
 * grid part only (0xd487b008 = 0, 0x94240dd0 = 1 are set). The row is not
 * read. */
ZYL_API StageChain* preset_build_card_verify_chain(MatchContext* context,
                                                   const AlgorithmPreset* row);
/* preset_build_pair_chain with {match_keypoints, fuse_with_profile}. */
ZYL_API StageChain* preset_build_pair_chain_alt(MatchContext* context);
/* Format 78 engine on a card descriptor (the catalogue uses B and D; null
 * without one): stage pair 1 on the card, then {match_card_grid,
 * fuse_card_grid} (offset 2, level 2, limit 24), then the grid-block
 * refinement in place (limit 8); first quality-table value 77. */
ZYL_API MatchEngine* preset_create_card_grid(MatchContext* context, const StageExtractor* card);
/* Light-chain engine of a table row with the light defaults at 363 dpi:
 * raw pixel buffers, globally normalised. Null when a default cannot be
 * written. */
ZYL_API MatchEngine* preset_create_indexed_light(MatchContext* context,
                                                 const ScoreProfile* const* profiles, int row);
/* Card-verification engine of a table row: raw pixel buffers, locally
 * normalised, at 363 dpi, with the pair-chain hook. Null when a default
 * cannot be written. */
ZYL_API MatchEngine* preset_create_indexed_card(MatchContext* context,
                                                const ScoreProfile* const* profiles, int row);

/* Reconfiguration hooks with the contract of preset_pair_chain_hook, which
 * no factory installs: the card, keypoint and grid-block chain of stage
 * pair 4 on the grid-block descriptor; the one-stage pair chain with the
 * catalogue's profiles. */
ZYL_API int preset_card_grid_hook(void* engine, void* unused_b, void* unused_c, void* unused_d,
                                  void* unused_e);
ZYL_API int preset_pair_chain_hook_alt(void* engine, void* unused_b, void* unused_c, void* unused_d,
                                       void* unused_e);

/* The catalogue's placeholder profile list (see above). */
ZYL_API const ScoreProfile* const* preset_catalogue_profiles(void);

/* ---- factory lists ---- */
typedef MatchEngine* (*PresetFactory)(MatchContext* context);

enum PresetFactoryList {
  PRESET_LIST_CARD_ENGINE = 0, /* engine-only card comparison */
  PRESET_LIST_CARD_SMALL,
  PRESET_LIST_CARD_LARGE,
  PRESET_LIST_CARD_GRID,
  PRESET_LIST_LIGHT_INDEXED,
  PRESET_LIST_KEYPOINT_GRID,
  PRESET_LIST_KEYPOINT_OWN,
  PRESET_LIST_MAIN,
  PRESET_LIST_CARD9,
  PRESET_LIST_GRIDMAP,
  PRESET_LIST_COUNT
};

/* The list's factories in order and their count; null and 0 for a list
 * outside the catalogue or one without entries. */
ZYL_API const PresetFactory* preset_factory_list(int list, int* out_count);

ZYL_EXTERN_C_END

/* Matcher library preset pieces that stand before the presets: the
 * false-accept defaults the table presets register, and the image routines
 * of the card and grid-block stages. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Ensures, in order, "vn.morva_light.far.reject" 1, "vn.morva.far.reject"
 * 3, 0x522624e7 32, 0xdb4cd8b0 6, "vn.morva_light.verify.reject_far" 0,
 * 0xc1c1874d 12, "vn.morva.verify.reject_far" 9, 0x1ba6e66c 3: values set
 * before stay. 0, or the first failing write's status. */
ZYL_API int preset_register_far_defaults(MatchContext* context);

/* Image routines of the card (kind 67) and grid-block (kind 77) stages:
 * local normalisation when parameter 0x9df44d82 (grid: 0xcb0badd0), read
 * with default 1, is non-zero, else global normalisation. */
ZYL_API int stage_image_normalize(MatchContext* ctx, const uint8_t* pixels, const uint8_t* usable,
                                  int height, int width, int resolution,
                                  const SourceWindow* window, uint8_t* out, uint8_t** out_map,
                                  int* out_code);
ZYL_API int stage_image_normalize_grid(MatchContext* ctx, const uint8_t* pixels,
                                       const uint8_t* usable, int height, int width,
                                       int resolution, const SourceWindow* window, uint8_t* out,
                                       uint8_t** out_map, int* out_code);

/* One row of the engine preset table: output format; most views (A), the
 * byte field that defaults to 32 (B) and the candidate budget; the two
 * preset-only fields (D, E); F (its low byte counts); sensor size class;
 * G (always 1); H (first value of the quality-table entry). */
typedef struct AlgorithmPreset {
  int32_t format;
  uint8_t most_views;
  uint8_t byte_b;
  uint8_t budget;
  int32_t d;
  int32_t e;
  int32_t f;
  int32_t size_class;
  int32_t g;
  int32_t h;
} AlgorithmPreset;

enum { PRESET_TABLE_ROWS = 13 };

/* Row 0..12 of the preset table, or null. */
ZYL_API const AlgorithmPreset* preset_table_row(int row);
/* The row's first (which 0) or second (which 1) option list: values 0, 1,
 * 2 in order for each switch that is on; answers the count (0..3), -1 for
 * a row or list outside the table. */
ZYL_API int preset_option_list(int row, int which, int32_t out[3]);

/* Builds a new stage chain for a preset row, or null. */
typedef StageChain* (*PresetChainBuilder)(MatchContext* context, const AlgorithmPreset* row);

/* Engine from table row 0..12: configuration, option lists and format
 * from the row, chain from the builder, the profile list (kept by
 * reference: it must outlive the engine) and the hook when one is given.
 * Null for a bad row or builder, a null chain, or a failed creation (the
 * chain is then freed). */
ZYL_API MatchEngine* preset_create_indexed(MatchContext* context, int row,
                                           const ScoreProfile* const* profiles,
                                           PresetChainBuilder builder, EngineHook hook);
/* The two light keypoint stages: the orientation-histogram comparison
 * (its scores restart), then the global light keypoint comparison
 * (match_keypoints_global_light) rejecting at
 * "vn.morva_light.far.reject" (default 0) with candidate limit 0x522624e7
 * (default 5). The row is not read. */
ZYL_API StageChain* preset_build_light_chain(MatchContext* context, const AlgorithmPreset* row);
/* The engine of every algorithm mode but 4: raw pixel buffers normalised
 * globally, the light chain on row 10, one profile on the light stage.
 * Null when a default cannot be written or the context already holds an
 * engine. The caller releases the engine. */
ZYL_API MatchEngine* preset_create_light(MatchContext* context);

/* The verification chain: two keypoint stages (orientation histogram,
 * then the keypoint comparison with early rejection), the card stage when
 * card_switch or 0x79ce7252 is non-zero, the grid-block stage, the
 * combined last stage, and the texture stage when 0x79ce7252 is non-zero.
 * Null on allocation failure (what was made is freed). */
ZYL_API StageChain* preset_build_verify_chain(MatchContext* context, int card_switch);
/* The engine of algorithm mode 4: image objects, the verification chain,
 * profiles on its second and last keypoint stages, the pair-chain hook.
 * Values set on the context before stay, except 0x2a1d740f (the card and
 * grid part of the last stage), which is set to 0. */
ZYL_API MatchEngine* preset_create_light_verify(MatchContext* context);

/* One full keypoint stage with the given match ops and the keypoint image
 * routines: destripe and band filter when 0x031185aa is non-zero, none
 * when 0x03214c8e is, else the band filter. Null on allocation failure. */
ZYL_API StageChain* preset_build_pair_chain(MatchContext* context, const StageMatchOps* ops);
/* Reconfiguration hook (EngineHook; the first argument is the engine):
 * replaces the engine's chain with the pair chain of {match_keypoints,
 * fuse_with_profile} and installs that pair's profile. 0; 17 without an
 * engine or context; 9 no memory. */
ZYL_API int preset_pair_chain_hook(void* engine, void* unused_b, void* unused_c, void* unused_d,
                                   void* unused_e);

ZYL_EXTERN_C_END

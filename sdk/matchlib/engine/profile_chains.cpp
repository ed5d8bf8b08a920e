// Chains of the card, triple, grid-map and nine-score card profile rows,
// and the engine built from a profile row.
#include <algorithm>
#include <cstdint>
#include <span>

#include "matchlib/engine/preset_build.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_preset_catalogue.h"
#include "zylscan/matchlib_stage_pairs.h"
#include "zylscan/matchlib_stage_tables.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/preset_table.h"
#include "matchlib/engine/profile_chains.h"
#include "matchlib/match/full_match_op.h"
#include "matchlib/match/stage_pairs.h"

namespace zyl::matchlib {
namespace {

constexpr int32_t kKindTriple = 74;
constexpr int32_t kInputPixels = 2;
constexpr const char* kKeyTripleReject = "vn.algorithm.reject_far";

// {match_card_grid, fuse_card_grid} and its detail variant.
const StageMatchOps* card_grid_ops() { return zyl::matchlib::card_stage_ops(4); }
const StageMatchOps* card_grid_detail_ops() { return zyl::matchlib::card_stage_ops(3); }

// Candidates the first stage leaves out of the second. A value at or over
// the budget leaves one candidate; a negative one would raise the limit
// over the budget (and past the byte it is kept in), so it counts as 0.
int skipped(MatchContext* ctx, int budget, int fallback) {
  const int32_t k =
      zyl::matchlib::param_get(ctx, static_cast<uint32_t>(PROFILE_KEY_SKIP), fallback);
  return std::clamp<int32_t>(k, 0, std::max(budget - 1, 0));
}

StageChain* card_chain(MatchContext* ctx, const StageExtractor* descriptor,
                       const AlgorithmProfile* row, const StageMatchOps* second) {
  if (!row) return nullptr;
  const int b = row->preset.budget;
  const int k = skipped(ctx, b, 0);
  const int32_t kind = row->preset.format;
  return chain_of({
      {.extractor = descriptor,
       .kind = kind,
       .ops = zyl::matchlib::stage_pair_ops(1),
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.kind = kind, .ops = second, .limit = b - k},
  });
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API StageChain* profile_chain_card(MatchContext* context,
                                                  const StageExtractor* descriptor,
                                                  const AlgorithmProfile* row) {
  return card_chain(context, descriptor, row, card_grid_ops());
}

extern "C" ZYL_API StageChain* profile_chain_card_alt(MatchContext* context,
                                                      const StageExtractor* descriptor,
                                                      const AlgorithmProfile* row) {
  return card_chain(context, descriptor, row, card_grid_detail_ops());
}

StageChain* zyl::matchlib::profile_chain_triple(MatchContext* context,
                                                const StageExtractor* descriptor,
                                                const AlgorithmProfile* row) {
  if (!row) return nullptr;
  const int b = row->preset.budget;
  const int k = skipped(context, b, 3 * b / 4 - 1);
  const int rest = b - k;
  return chain_of({
      {.extractor = descriptor,
       .kind = kKindTriple,
       .ops = zyl::matchlib::stage_pair_ops(1),
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.kind = kKindTriple,
       .ops = card_grid_ops(),
       .offset = 2,
       .level = zyl::matchlib::param_get_text(context, kKeyTripleReject, 4),
       .limit = b - k / 3,
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.kind = kKindTriple, .ops = card_grid_detail_ops(), .limit = rest < 2 ? 1 : rest / 2},
  });
}

extern "C" ZYL_API StageChain* profile_chain_triple_default(MatchContext* context,
                                                            const StageExtractor* descriptor,
                                                            const AlgorithmProfile* row) {
  const auto key = static_cast<uint32_t>(PROFILE_KEY_TRIPLE);
  if (zyl::matchlib::param_get(context, key, PROFILE_ABSENT) == PROFILE_ABSENT)
    (void)zyl::matchlib::param_set(context, key, 1);
  return zyl::matchlib::profile_chain_triple(context, descriptor, row);
}

extern "C" ZYL_API StageChain* profile_chain_gridmap(MatchContext*,
                                                     const StageExtractor* descriptor,
                                                     const AlgorithmProfile* row) {
  if (!row) return nullptr;
  const int32_t kind = row->preset.format;
  return chain_of({
      {.extractor = descriptor,
       .kind = kind,
       .ops = zyl::matchlib::stage_pair_ops(1),
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.kind = kind, .ops = texture_stage_ops(), .limit = row->preset.budget},
  });
}

StageChain* zyl::matchlib::profile_chain_card9(const StageExtractor* descriptor,
                                               const AlgorithmProfile* row,
                                               const ImagePrepRoutine* images) {
  if (!row) return nullptr;
  return chain_of({{.extractor = descriptor,
                    .kind = row->preset.format,
                    .images = images,
                    .ops = zyl::matchlib::card_stage_ops(5)}});
}

MatchEngine* zyl::matchlib::profile_create_engine(MatchContext* context,
                                                  const StageExtractor* descriptor,
                                                  const AlgorithmProfile* row,
                                                  const ScoreProfile* const* profiles) {
  if (!row || !row->builder) return nullptr;
  int32_t first[3] = {}, second[3] = {};
  const int first_count = zyl::matchlib::profile_option_list(row, 0, first);
  const int second_count = zyl::matchlib::profile_option_list(row, 1, second);
  const AlgorithmPreset& p = row->preset;
  // The row's H is not copied: the quality-table value keeps its default.
  const EngineShape shape{p.format,
                          1,
                          p.size_class,
                          p.most_views,
                          p.byte_b,
                          p.d,
                          p.e,
                          p.f,
                          0,
                          std::span<const int32_t>(first, first_count),
                          std::span<const int32_t>(second, second_count)};
  MatchEngine* engine =
      engine_of(context, row->builder(context, descriptor, row), shape, profiles, nullptr);
  if (engine) zyl::matchlib::engine_set_input_mode(engine, kInputPixels);
  return engine;
}

extern "C" {

ZYL_API StageChain* profile_chain_triple(MatchContext* context, const StageExtractor* descriptor,
                                         const AlgorithmProfile* row) {
  return zyl::matchlib::profile_chain_triple(context, descriptor, row);
}
ZYL_API StageChain* profile_chain_card9(const StageExtractor* descriptor,
                                        const AlgorithmProfile* row,
                                        const ImagePrepRoutine* images) {
  return zyl::matchlib::profile_chain_card9(descriptor, row, images);
}
ZYL_API MatchEngine* profile_create_engine(MatchContext* context, const StageExtractor* descriptor,
                                           const AlgorithmProfile* row,
                                           const ScoreProfile* const* profiles) {
  return zyl::matchlib::profile_create_engine(context, descriptor, row, profiles);
}

}  // extern "C"

// The engine factories of the preset catalogue and the static lists that
// hold them. Each factory writes its parameter defaults, builds its chain,
// creates the engine on the context and sets what the engine reads from
// outside the chain (expected size and resolution, input mode, converters,
// reconfiguration hook, quality model).
#include <cstdint>
#include <span>

#include "matchlib/engine/preset_build.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_preset_catalogue.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_stage_pairs.h"
#include "zylscan/matchlib_stage_tables.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/preset_catalogue_chains.h"
#include "matchlib/engine/preset_defaults.h"
#include "matchlib/engine/preset_light.h"
#include "matchlib/engine/preset_light_verify.h"
#include "matchlib/engine/preset_pair_chain.h"
#include "matchlib/engine/preset_table.h"
#include "matchlib/engine/profile_chains.h"
#include "matchlib/engine/static_profiles.h"
#include "matchlib/filter/quality_network.h"
#include "matchlib/match/full_match_op.h"
#include "matchlib/match/stage_pairs.h"

namespace zyl::matchlib {
namespace {

constexpr int32_t kKindKeypoints = 79, kKindGridBlock = 77, kKindCard = 67, kKindNineScore = 2;
constexpr int32_t kInputPixels = 2;
constexpr uint32_t kKeyTexture = 0x79ce7252u;

constexpr int32_t k0[] = {0}, k01[] = {0, 1}, k012[] = {0, 1, 2}, k02[] = {0, 2};
// The card-and-grid factories switch option 1 on (listed three times) and
// let options 1 and 0 be switched.
constexpr int32_t k111[] = {1, 1, 1}, k10[] = {1, 0};

// The context a factory works on: the caller's, retained, or a new one.
class Context {
 public:
  explicit Context(MatchContext* context) : ctx_(zyl::matchlib::ctx_create_or_retain(context)) {}
  ~Context() { zyl::matchlib::ctx_release(ctx_); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  MatchContext* get() const { return ctx_; }

 private:
  MatchContext* ctx_;
};

const ScoreProfile* const* profiles() { return zyl::matchlib::preset_catalogue_profiles(); }

// Configuration shapes shared by several factories (A/B/D/E/F).
EngineShape shape(int32_t size_class, uint8_t a, uint8_t b, int32_t d, int32_t e,
                  std::span<const int32_t> first, std::span<const int32_t> second,
                  int32_t format = 79) {
  return EngineShape{format, 1, size_class, a, b, d, e, 20, 0, first, second};
}
EngineShape shape_64(int32_t size_class) { return shape(size_class, 64, 24, 70, 81, k012, k02); }
EngineShape shape_72(int32_t size_class) { return shape(size_class, 72, 32, 75, 81, k012, k02); }
EngineShape shape_32() { return shape(3, 32, 16, 65, 121, k01, k0); }

// Raw-pixel input at a resolution, through a converter list.
MatchEngine* raw_input(MatchEngine* engine, int32_t dpi, const ImagePrepDescriptor* const* list) {
  if (engine) {
    zyl::matchlib::engine_set_expected_dpi(engine, dpi);
    zyl::matchlib::engine_set_input_mode(engine, kInputPixels);
    zyl::matchlib::engine_set_converters(engine, list);
  }
  return engine;
}

// Attaches the built-in quality model when the texture stage is on; the
// engine is released when the model cannot be made.
MatchEngine* with_quality_model(MatchContext* ctx, MatchEngine* engine) {
  if (!engine || !zyl::matchlib::param_get(ctx, kKeyTexture, 0)) return engine;
  QualityModelHolder* model = zyl::matchlib::quality_model_create_default(ctx);
  if (!model) {
    zyl::matchlib::engine_release(engine);
    return nullptr;
  }
  zyl::matchlib::engine_set_quality_model(engine, model);
  zyl::matchlib::quality_model_release(model);
  return engine;
}

// ---- light chain on a table row (L1..L3) ----
struct LightValues {
  int row;
  int32_t limit_a, limit_b, resolution, resolution_b, second_limit, budget;
};

template <LightValues V>
MatchEngine* light_factory(MatchContext* context) {
  Context c(context);
  MatchContext* ctx = c.get();
  if (!ctx) return nullptr;
  if (write_defaults(ctx, {{nullptr, 0x222432cdu, 2},
                           {nullptr, 0xdd9f4ee9u, V.limit_a},
                           {nullptr, 0x0461d4c7u, V.limit_b},
                           {nullptr, 0xd35784c3u, 0},
                           {nullptr, 0x47664bccu, V.resolution},
                           {nullptr, 0xa932dde5u, V.resolution_b},
                           {nullptr, 0x2d09c049u, 20},
                           {nullptr, 0x522624e7u, V.second_limit},
                           {nullptr, 0xaeeec432u, 16, true},
                           {nullptr, 0xc901dcadu, V.budget},
                           {nullptr, 0x641a9b75u, 4},
                           {nullptr, 0x9d55e9b7u, 14}}) != ML_OK)
    return nullptr;
  (void)zyl::matchlib::param_ensure(ctx, 0x7ad82b4du, 0);
  return raw_input(zyl::matchlib::preset_create_indexed(ctx, V.row, profiles(),
                                                        preset_build_light_chain, nullptr),
                   V.resolution, kRawImageList);
}

// ---- indexed light and card engines (L5..L8, K0..K4) ----
struct IndexedLightValues {
  int row;
  int32_t limit_a, limit_b, second_limit, budget;
};

template <IndexedLightValues V>
MatchEngine* indexed_light_factory(MatchContext* context) {
  Context c(context);
  if (!c.get()) return nullptr;
  if (write_defaults(c.get(), {{nullptr, 0xdd9f4ee9u, V.limit_a},
                               {nullptr, 0x0461d4c7u, V.limit_b},
                               {nullptr, 0x522624e7u, V.second_limit},
                               {nullptr, 0xc901dcadu, V.budget}}) != ML_OK)
    return nullptr;
  return zyl::matchlib::preset_create_indexed_light(c.get(), profiles(), V.row);
}

template <int Row>
MatchEngine* indexed_card_factory(MatchContext* context) {
  return zyl::matchlib::preset_create_indexed_card(context, profiles(), Row);
}

// ---- verification chains (VF1..VF8, B1) ----
enum class Extra { none, grid_resolution, texture, texture_grid };

struct VerifyValues {
  int card_switch;  // -1: the chain with the grid-block keypoint stage
  int32_t size_class;
  uint8_t a, b;  // most views and the byte that defaults to 32
  int32_t d;     // the first preset-only field (the second is 81)
  Extra extra = Extra::none;
};

template <VerifyValues V>
MatchEngine* verify_factory(MatchContext* context) {
  Context c(context);
  MatchContext* ctx = c.get();
  if (!ctx || zyl::matchlib::preset_register_far_defaults(ctx) != ML_OK) return nullptr;
  if (V.extra == Extra::grid_resolution &&
      zyl::matchlib::param_ensure(ctx, 0x94547f74u, 650) != ML_OK)
    return nullptr;
  if (V.extra == Extra::texture && zyl::matchlib::param_ensure(ctx, kKeyTexture, 1) != ML_OK)
    return nullptr;
  if (V.extra == Extra::texture_grid &&
      write_defaults(ctx, {{nullptr, 0xa2d1d9d5u, 5}, {nullptr, kKeyTexture, 1}}) != ML_OK)
    return nullptr;
  StageChain* chain = V.card_switch < 0
                          ? zyl::matchlib::preset_build_verify_chain_grid(ctx)
                          : zyl::matchlib::preset_build_verify_chain(ctx, V.card_switch);
  MatchEngine* engine = engine_of(ctx, chain, shape(V.size_class, V.a, V.b, V.d, 81, k012, k02),
                                  profiles(), preset_pair_chain_hook);
  if (V.extra == Extra::texture || V.extra == Extra::texture_grid)
    engine = with_quality_model(ctx, engine);
  return engine;
}

// The smallest verification engine: no card stage, the small shape.
MatchEngine* verify_small(MatchContext* context) {
  Context c(context);
  MatchContext* ctx = c.get();
  if (!ctx || zyl::matchlib::preset_register_far_defaults(ctx) != ML_OK) return nullptr;
  return engine_of(ctx, zyl::matchlib::preset_build_verify_chain(ctx, 0), shape_32(), profiles(),
                   preset_pair_chain_hook);
}

MatchEngine* card_verify(MatchContext* context) {
  Context c(context);
  MatchContext* ctx = c.get();
  if (!ctx || zyl::matchlib::preset_register_far_defaults(ctx) != ML_OK) return nullptr;
  MatchEngine* engine = engine_of(ctx, zyl::matchlib::preset_build_card_verify_chain(ctx, nullptr),
                                  shape_72(9), profiles(), preset_pair_chain_hook);
  return raw_input(engine, 363, kSecondRawImageList);
}

// ---- one-stage pair chains (S0..S5) ----
struct PairValues {
  int ops_row;  // row of the keypoint-section table
  int level;    // 0 none, 1 far defaults and the wide keypoint search, 2 and 3 more
};

template <PairValues V>
MatchEngine* pair_factory(MatchContext* context) {
  Context c(context);
  MatchContext* ctx = c.get();
  if (!ctx) return nullptr;
  // These defaults are not tested: a failed write leaves the read defaults.
  if (V.level >= 1) (void)zyl::matchlib::preset_register_far_defaults(ctx);
  if (V.level == 1)
    (void)write_defaults(ctx, {{nullptr, 0xaeeec432u, 32}, {nullptr, 0x95e5efb5u, 1}}, false);
  if (V.level >= 2)
    (void)write_defaults(ctx,
                         {{nullptr, 0xaeeec432u, 512},
                          {nullptr, 0x95e5efb5u, 1},
                          {nullptr, 0x142ccb9bu, 1},
                          {nullptr, 0x86931a0au, 1}},
                         false);
  if (V.level == 3)
    (void)write_defaults(
        ctx, {{nullptr, 0x031185aau, 1}, {nullptr, 0x41fd08a3u, 1}, {nullptr, 0xc901dcadu, 500}},
        false);
  StageChain* chain = V.level >= 2 ? zyl::matchlib::preset_build_pair_chain_alt(ctx)
                                   : zyl::matchlib::preset_build_pair_chain(
                                         ctx, zyl::matchlib::keypoint_stage_ops(V.ops_row));
  return engine_of(ctx, chain, shape_32(), profiles(), preset_pair_chain_hook);
}

// ---- keypoint chains of their own (O1, O2) ----
template <bool Second>
MatchEngine* own_keypoint_factory(MatchContext* context) {
  Context c(context);
  MatchContext* ctx = c.get();
  if (!ctx) return nullptr;
  const int st = Second ? write_defaults(ctx, {{nullptr, 0x4cc7a81du, 250},
                                               {nullptr, 0x35a97c9bu, 0},
                                               {nullptr, 0x0a11f34bu, 3}})
                        : zyl::matchlib::param_ensure(ctx, 0x35a97c9bu, 1);
  if (st != ML_OK) return nullptr;
  StageChain* chain = chain_of({
      {.extractor = extractor_keypoints_light(),
       .kind = kKindKeypoints,
       .ops = zyl::matchlib::keypoint_stage_ops(6),
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.extractor = Second ? extractor_keypoints_light() : extractor_keypoints_full(),
       .kind = kKindKeypoints,
       .images = Second ? nullptr : kKeypointImages,
       .ops = zyl::matchlib::keypoint_stage_ops(5),
       .offset = Second ? 3 : 28,
       .level = zyl::matchlib::param_get_text(ctx, "vn.morva.far.reject", 3),
       .limit = zyl::matchlib::param_get(ctx, 0xdb4cd8b0u, 32),
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.extractor = Second ? extractor_gridblock_alt() : extractor_gridblock(),
       .kind = kKindGridBlock,
       .images = kGridImages,
       .ops = zyl::matchlib::keypoint_stage_ops(4),
       .limit = zyl::matchlib::param_get(ctx, 0xda569574u, Second ? 16 : 1)},
  });
  MatchEngine* engine = engine_of(ctx, chain, shape_64(4), profiles(), preset_pair_chain_hook);
  if (!engine) return nullptr;
  const int32_t dpi = Second ? 363 : 508;
  (void)write_defaults(ctx,
                       {{nullptr, 0x47664bccu, dpi},
                        {nullptr, 0xaeeec432u, 16},
                        {nullptr, 0xa2d1d9d5u, 5},
                        {nullptr, 0x8916c384u, 20},
                        {nullptr, 0xc901dcadu, 300},
                        {nullptr, 0x142ccb9bu, 0},
                        {nullptr, 0x7ad82b4du, 0}},
                       false);
  return raw_input(engine, dpi, Second ? kSecondRawImageList : kRawImageList);
}

// ---- card and grid (G1..G6) ----
EngineShape card_grid_shape() { return shape(5, 72, 32, 75, 81, k111, k10, 84); }

template <int Pair, bool Alt, bool Defaults>
MatchEngine* card_keypoint_grid_factory(MatchContext* context) {
  Context c(context);
  MatchContext* ctx = c.get();
  if (!ctx) return nullptr;
  if (Defaults && write_defaults(ctx, {{nullptr, 0x4cc7a81du, 250},
                                       {nullptr, 0x35a97c9bu, 0},
                                       {nullptr, 0x0a11f34bu, 2}}) != ML_OK)
    return nullptr;
  StageChain* chain = zyl::matchlib::preset_build_card_keypoint_grid_chain(
      zyl::matchlib::stage_pair_ops(Pair), Alt ? extractor_gridblock_alt() : extractor_gridblock());
  return engine_of(ctx, chain, card_grid_shape(), profiles(), nullptr);
}

MatchEngine* card_then_grid(MatchContext* context) {
  Context c(context);
  if (!c.get()) return nullptr;
  StageChain* chain = chain_of({
      {.extractor = extractor_card('D'),
       .kind = kKindCard,
       .images = kCardImages,
       .ops = zyl::matchlib::card_stage_ops(4),
       .flags = STAGE_FLAG_RESTART_SCORES | STAGE_FLAG_SKIP_PAIR},
      {.extractor = extractor_gridblock(),
       .kind = kKindGridBlock,
       .images = kGridImages,
       .ops = zyl::matchlib::stage_pair_ops(3)},
  });
  return engine_of(c.get(), chain, card_grid_shape(), profiles(), nullptr);
}

template <char Card>
MatchEngine* card_grid_factory(MatchContext* context) {
  return zyl::matchlib::preset_create_card_grid(context, extractor_card(Card));
}

// ---- card profiles ----
struct CardProfileValues {
  char card;
  int row;
  int32_t rows = 0, columns = 0;  // expected size; 0: none
  int32_t dpi = 0;                // expected resolution; 0: none
};

template <CardProfileValues V>
MatchEngine* card_profile_factory(MatchContext* context) {
  Context c(context);
  if (!c.get()) return nullptr;
  MatchEngine* engine = zyl::matchlib::profile_create_engine(
      c.get(), extractor_card(V.card), zyl::matchlib::profile_table_row(V.row), profiles());
  if (engine && V.rows) zyl::matchlib::engine_set_expected_size(engine, V.rows, V.columns);
  if (engine && V.dpi) zyl::matchlib::engine_set_expected_dpi(engine, V.dpi);
  return engine;
}

// ---- grid map and nine-score card ----
// The grid-map chain compares the grid maps of card templates: the block
// map routine (E) is the card routine whose template carries them.
MatchEngine* gridmap_factory(MatchContext* context) {
  Context c(context);
  if (!c.get()) return nullptr;
  return zyl::matchlib::profile_create_engine(c.get(), extractor_card('E'),
                                              zyl::matchlib::profile_gridmap_row(0), profiles());
}

template <char Card>
MatchEngine* card9_factory(MatchContext* context) {
  Context c(context);
  if (!c.get()) return nullptr;
  const AlgorithmProfile* row = zyl::matchlib::profile_card9_row(0);
  const EngineShape s = shape(row->preset.size_class, row->preset.most_views, row->preset.byte_b,
                              row->preset.d, row->preset.e, k0, k0, row->preset.format);
  MatchEngine* engine =
      engine_of(c.get(), zyl::matchlib::profile_chain_card9(extractor_card(Card), row, kCardImages),
                s, profiles(), nullptr);
  if (engine) zyl::matchlib::engine_set_input_mode(engine, kInputPixels);
  return engine;
}

MatchEngine* card9_compare_only(MatchContext* context) {
  Context c(context);
  if (!c.get()) return nullptr;
  StageChain* chain = chain_of({{.kind = kKindNineScore, .ops = zyl::matchlib::card_stage_ops(5)}});
  return engine_of(c.get(), chain,
                   shape(1, 16, 8, 60, 121, std::span<const int32_t>(), std::span<const int32_t>(),
                         kKindNineScore),
                   profiles(), nullptr);
}

// ---- engine-only card comparison (E0..E5) ----
// No chain: the engine's match and gallery-score operations are the card
// comparison's, which builds its parameter element from the engine's first
// score profile (a 30-row model and its threshold table). The placeholder
// profile here carries no such model, so until fitted models exist the
// comparison finds no parameter element and answers 17.
const ScoreProfile* const* card_engine_profiles() {
  static const ScoreProfile kPlaceholder{zyl::matchlib::card_stage_ops(4),
                                         0,
                                         {nullptr, -1, score_model_eval_pass, nullptr},
                                         zyl::matchlib::far_table_neutral()};
  static const ScoreProfile* const kList[] = {&kPlaceholder, nullptr};
  return kList;
}

template <int32_t SizeClass, int32_t SensorType, bool Profiles>
MatchEngine* card_engine_factory(MatchContext* context) {
  Context c(context);
  if (!c.get()) return nullptr;
  const EngineConfig zero{};  // an all-zero configuration block
  MatchEngine* engine = zyl::matchlib::engine_create(c.get(), nullptr, 0, SensorType, SizeClass,
                                                     nullptr, 0, nullptr, 0, &zero);
  if (!engine) return nullptr;
  static constexpr EngineMatchOps kCardComparison{card_verify_op, card_score_op};
  zyl::matchlib::engine_set_match_ops(engine, &kCardComparison);
  if (Profiles) zyl::matchlib::engine_set_score_profiles(engine, card_engine_profiles());
  return engine;
}

// ---- the lists ----
constexpr auto E0 = card_engine_factory<0, 0, false>;
constexpr auto E1 = card_engine_factory<3, 1, true>;
constexpr auto E2 = card_engine_factory<2, 1, true>;
constexpr auto E3 = card_engine_factory<2, 1, true>;
constexpr auto E4 = card_engine_factory<3, 1, true>;
constexpr auto E5 = card_engine_factory<2, 1, true>;
constexpr PresetFactory kCardEngine[] = {E5, E4, E3, E2, E1, E0};

constexpr PresetFactory kCardSmall[] = {
    card_profile_factory<CardProfileValues{'A', 0, 96, 96, 254}>,
    card_profile_factory<CardProfileValues{'A', 5, 80, 80, 254}>,
    card_profile_factory<CardProfileValues{'A', 6, 64, 64, 254}>,
    card_profile_factory<CardProfileValues{'A', 6, 90, 40, 254}>,
    card_profile_factory<CardProfileValues{'B', 0, 96, 96, 254}>,
    card_profile_factory<CardProfileValues{'B', 5, 80, 80, 254}>,
    card_profile_factory<CardProfileValues{'B', 6, 64, 64, 254}>,
    card_profile_factory<CardProfileValues{'B', 6, 90, 40, 254}>,
};
constexpr PresetFactory kCardLarge[] = {
    card_profile_factory<CardProfileValues{'B', 6, 40, 96, 254}>,
    card_profile_factory<CardProfileValues{'B', 3, 40, 96, 254}>,
    card_profile_factory<CardProfileValues{'D', 1}>,
    card_profile_factory<CardProfileValues{'B', 5, 80, 80, 254}>,
    card_profile_factory<CardProfileValues{'A', 5, 80, 80, 254}>,
    card_profile_factory<CardProfileValues{'B', 0, 0, 0, 254}>,
    card_profile_factory<CardProfileValues{'D', 4}>,
    card_profile_factory<CardProfileValues{'D', 8}>,
    card_profile_factory<CardProfileValues{'D', 0}>,
};

constexpr auto G1 = card_keypoint_grid_factory<4, true, true>;
constexpr auto G2 = card_then_grid;
constexpr auto G3 = card_keypoint_grid_factory<2, false, false>;
constexpr auto G4 = card_keypoint_grid_factory<4, false, false>;
constexpr auto G5 = card_grid_factory<'B'>;
constexpr auto G6 = card_grid_factory<'D'>;
constexpr PresetFactory kCardGrid[] = {G3, G2, G1, G4, G5, G6};

constexpr auto L1 = light_factory<LightValues{12, 16, 16, 254, 254, 2, 350}>;
constexpr auto L2 = light_factory<LightValues{11, 32, 18, 363, 363, 8, 256}>;
constexpr auto L3 = light_factory<LightValues{0, 10, 4, 363, 363, 11, 175}>;
constexpr auto L5 = indexed_light_factory<IndexedLightValues{10, 10, 4, 16, 175}>;
constexpr auto L6 = indexed_light_factory<IndexedLightValues{10, 10, 4, 16, 175}>;
constexpr auto L7 = indexed_light_factory<IndexedLightValues{0, 10, 4, 11, 175}>;
constexpr auto L8 = indexed_light_factory<IndexedLightValues{11, 32, 18, 8, 256}>;
constexpr auto K0 = indexed_card_factory<1>;
constexpr auto K1 = indexed_card_factory<5>;
constexpr auto K2 = indexed_card_factory<1>;
constexpr auto K3 = indexed_card_factory<0>;
constexpr auto K4 = indexed_card_factory<11>;
constexpr PresetFactory kLightIndexed[] = {L8, L7, L6, L5, K4, K3, K2, K1};

constexpr auto VF1 = verify_factory<VerifyValues{1, 4, 64, 24, 70}>;
constexpr auto VF2 = verify_factory<VerifyValues{1, 5, 72, 32, 75}>;
constexpr auto VF3 = verify_factory<VerifyValues{1, 4, 64, 24, 70}>;
constexpr auto VF4 = verify_factory<VerifyValues{1, 9, 72, 32, 75}>;
constexpr auto VF5 = verify_factory<VerifyValues{1, 6, 96, 32, 80, Extra::grid_resolution}>;
constexpr auto VF6 = verify_small;
constexpr auto VF7 = verify_factory<VerifyValues{-1, 4, 64, 24, 70, Extra::texture_grid}>;
constexpr auto VF8 = verify_factory<VerifyValues{1, 4, 64, 24, 70, Extra::texture}>;
constexpr auto B1 = verify_factory<VerifyValues{-1, 4, 64, 24, 70}>;
constexpr auto C1 = card_verify;
constexpr PresetFactory kKeypointGrid[] = {K0, VF7, VF8};

constexpr auto O1 = own_keypoint_factory<false>;
constexpr auto O2 = own_keypoint_factory<true>;
constexpr PresetFactory kKeypointOwn[] = {B1, O1, O2};

constexpr auto S0 = pair_factory<PairValues{5, 0}>;
constexpr auto S1 = pair_factory<PairValues{7, 0}>;
constexpr auto S2 = pair_factory<PairValues{5, 0}>;
constexpr auto S3 = pair_factory<PairValues{5, 1}>;
constexpr auto S4 = pair_factory<PairValues{5, 2}>;
constexpr auto S5 = pair_factory<PairValues{5, 3}>;
constexpr PresetFactory kMain[] = {
    VF6,
    ::preset_create_light,
    ::preset_create_light,
    L3,
    L2,
    L1,
    S2,
    C1,
    VF4,
    ::preset_create_light_verify,
    ::preset_create_light_verify,
    VF5,
    VF2,
    VF1,
    VF3,
    S3,
    S4,
    S5,
    S0,
    S1,
};

constexpr PresetFactory kCard9[] = {card9_compare_only, card9_factory<'B'>, card9_factory<'D'>};
constexpr PresetFactory kGridmap[] = {gridmap_factory};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API const PresetFactory* preset_factory_list(int list, int* out_count) {
  const std::span<const PresetFactory> lists[PRESET_LIST_COUNT] = {
      kCardEngine,   kCardSmall,   kCardLarge, kCardGrid, kLightIndexed,
      kKeypointGrid, kKeypointOwn, kMain,      kCard9,    kGridmap};
  const bool inside = list >= 0 && list < PRESET_LIST_COUNT && !lists[list].empty();
  if (out_count) *out_count = inside ? static_cast<int>(lists[list].size()) : 0;
  return inside ? lists[list].data() : nullptr;
}

}  // extern "C"

// The preset catalogue: the profile tables, the profile chain builders'
// candidate limits, the structure of every factory's engine against the
// tables, the hooks, and each factory's engine built and released on a
// context of its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_prep_steps.h"
#include "zylscan/matchlib_preset_catalogue.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_stage_pairs.h"
#include "zylscan/matchlib_stage_tables.h"
#include "zylscan/matchlib_texture_algorithm.h"

namespace {

std::string ops_name(const StageMatchOps* ops) {
  if (!ops) return "-";
  for (int row = 1; row <= 10; ++row)
    if (ops == keypoint_stage_ops(row)) return "kp" + std::to_string(row);
  for (int row = 1; row <= 5; ++row)
    if (ops == card_stage_ops(row)) return "card" + std::to_string(row);
  for (int row = 1; row <= 2; ++row)
    if (ops == refine_stage_ops(row)) return "refine" + std::to_string(row);
  for (int row = 1; row <= STAGE_PAIR_COUNT; ++row)
    if (ops == stage_pair_ops(row)) return "pair" + std::to_string(row);
  if (ops->match == texture_match && ops->fuse == texture_decide) return "texture";
  return "?";
}

std::string extractor_name(const StageExtractor* x) {
  if (!x) return "-";
  const StageExtractRoutine r = x->extract;
  return r == keypoint_stage_extract_light ? "kp-light"
         : r == keypoint_stage_extract     ? "kp-full"
         : r == card_extract_a             ? "card-A"
         : r == card_extract_b             ? "card-B"
         : r == card_extract_d             ? "card-D"
         : r == card_extract_e             ? "card-E"
         : r == gridext_extract            ? "grid"
         : r == gridext_extract_i16        ? "grid-alt"
         : r == texture_extract            ? "texture"
                                           : "?";
}

std::string images_name(const ImagePrepRoutine* r) {
  if (!r) return "-";
  std::string s;
  for (; *r; ++r)
    s += std::string(s.empty() ? "" : "+") +
         (*r == prep_band_filter             ? "band"
          : *r == prep_destripe              ? "destripe"
          : *r == stage_image_normalize      ? "norm"
          : *r == stage_image_normalize_grid ? "norm-grid"
                                             : "?");
  return s;
}

std::string dump_chain(const StageChain* chain) {
  std::string s;
  for (const StageObject* st = chain_first(chain); st; st = stage_next(st)) {
    s += "  " + std::to_string(stage_get_kind(st)) + " " + extractor_name(stage_get_extractor(st));
    s += " img " + images_name(stage_get_image_routines(st));
    s += " ops " + ops_name(stage_get_match_ops(st));
    s += " off " + std::to_string(stage_get_threshold_offset(st));
    s += " lvl " + std::to_string(stage_get_far_level(st));
    s += " lim " + std::to_string(stage_get_max_candidates(st));
    s += " early " + std::to_string(st->early_far_level) + "/" + std::to_string(st->early_min_count);
    s += " flags " + std::to_string(stage_get_flags(st)) + "\n";
  }
  return s;
}

// Everything a factory fixes about its engine, then its chain.
std::string dump_engine(const MatchEngine* e) {
  const EngineConfig* c = engine_get_config(e);
  int32_t h = 0, w = 0;
  engine_get_expected_size(e, &h, &w);
  std::string s = "format " + std::to_string(engine_get_format(e)) + " sensor " +
                  std::to_string(engine_get_sensor_type(e)) + " class " +
                  std::to_string(engine_get_sensor_size(e)) + " options ";
  for (int i = 0; i < 3; ++i) s += std::to_string(engine_get_option(e, i));
  s += "/";
  for (int i = 0; i < 3; ++i) s += engine_option_switchable(e, i) ? "1" : "0";
  s += engine_uses_image_input(e) ? " images" : " pixels";
  s += " size " + std::to_string(h) + "x" + std::to_string(w);
  s += " dpi " + std::to_string(engine_get_expected_dpi(e));
  s += " config " + std::to_string(c->most_views) + "/" + std::to_string(c->unnamed_u8_1) + "/" +
       std::to_string(c->unnamed_i32_2) + "/" + std::to_string(c->unnamed_i32_3) + "/" +
       std::to_string(c->unnamed_u8_2) + "/" + std::to_string(c->quality_value);
  if (engine_get_quality_model(e)) s += " quality-model";
  return s + "\n" + dump_chain(engine_get_chain(e));
}

// Every stage whose fusion reads a profile finds one in the engine's list.
void expect_profiles_cover_stages(const MatchEngine* e, const std::string& label) {
  for (const StageObject* st = chain_first(engine_get_chain(e)); st; st = stage_next(st)) {
    const StageMatchOps* ops = stage_get_match_ops(st);
    if (!ops || ops->fuse == fuse_orientation_histogram || ops->fuse == fuse_weighted_three ||
        ops->fuse == fuse_first)
      continue;
    EXPECT_NE(score_profile_find(engine_get_score_profiles(e), ops, 0), nullptr)
        << label << " kind " << stage_get_kind(st) << " " << ops_name(ops);
  }
}

TEST(PresetCatalogue, ProfileTables) {
  struct Row {
    int32_t format, a, b, budget, d, e, f, size_class, g, h;
    const char* first;
    const char* second;
  };
  const auto lists = [](const AlgorithmProfile* p) {
    std::string s[2];
    for (int which = 0; which < 2; ++which) {
      int32_t v[3];
      const int n = profile_option_list(p, which, v);
      for (int i = 0; i < n; ++i) s[which] += std::to_string(v[i]);
    }
    return std::make_pair(s[0], s[1]);
  };
  const auto check = [&](const AlgorithmProfile* p, const Row& r, ProfileChainBuilder builder) {
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->builder, builder);
    const AlgorithmPreset& q = p->preset;
    EXPECT_EQ((std::vector<int32_t>{q.format, q.most_views, q.byte_b, q.budget, q.d, q.e, q.f,
                                    q.size_class, q.g, q.h}),
              (std::vector<int32_t>{r.format, r.a, r.b, r.budget, r.d, r.e, r.f, r.size_class,
                                    r.g, r.h}));
    EXPECT_EQ(lists(p), std::make_pair(std::string(r.first), std::string(r.second)));
  };
  const ProfileChainBuilder builders[PROFILE_TABLE_ROWS] = {
      profile_chain_card, profile_chain_card_alt, profile_chain_triple_default,
      profile_chain_triple, profile_chain_card, profile_chain_card, profile_chain_card,
      profile_chain_card, profile_chain_card};
  const Row rows[PROFILE_TABLE_ROWS] = {
      {67, 16, 8, 8, 60, 121, 20, 2, 1, 0, "0", "02"},
      {74, 64, 24, 24, 70, 81, 20, 8, 1, 0, "012", "02"},
      {74, 72, 32, 32, 75, 81, 20, 5, 1, 0, "012", "02"},
      {74, 64, 24, 24, 70, 81, 20, 8, 1, 0, "012", "02"},
      {67, 72, 32, 32, 75, 81, 20, 2, 1, 0, "012", "02"},
      {67, 32, 16, 16, 65, 121, 20, 3, 1, 0, "0", "01"},
      {67, 64, 24, 24, 70, 81, 20, 8, 1, 0, "01", "0"},
      {67, 72, 32, 32, 75, 81, 20, 5, 1, 0, "01", "0"},
      {67, 32, 16, 16, 65, 121, 20, 3, 1, 0, "0", "01"},
  };
  for (int i = 0; i < PROFILE_TABLE_ROWS; ++i) {
    SCOPED_TRACE(i);
    check(profile_table_row(i), rows[i], builders[i]);
  }
  EXPECT_EQ(profile_table_row(PROFILE_TABLE_ROWS), nullptr);
  EXPECT_EQ(profile_table_row(-1), nullptr);
  check(profile_gridmap_row(0), {66, 16, 8, 8, 60, 121, 20, 2, 1, 0, "01", "0"},
        profile_chain_gridmap);
  EXPECT_EQ(profile_gridmap_row(1), nullptr);
  const Row card9[PROFILE_CARD9_ROWS] = {
      {2, 16, 8, 8, 60, 121, 20, 2, 1, 0, "0", "0"},
      {2, 32, 16, 16, 65, 121, 20, 3, 1, 0, "0", "0"},
      {2, 16, 8, 8, 60, 121, 20, 1, 2, 0, "0", "0"},
      {2, 16, 8, 8, 60, 121, 20, 1, 1, 0, "0", "0"},
  };
  for (int i = 0; i < PROFILE_CARD9_ROWS; ++i) {
    SCOPED_TRACE(i);
    check(profile_card9_row(i), card9[i], nullptr);
  }
  EXPECT_EQ(profile_card9_row(4), nullptr);
  EXPECT_EQ(profile_option_list(nullptr, 0, nullptr), -1);
}

std::vector<int> limits(const StageChain* chain) {
  std::vector<int> v;
  for (const StageObject* st = chain_first(chain); st; st = stage_next(st))
    v.push_back(stage_get_max_candidates(st));
  return v;
}

TEST(PresetCatalogue, CardChainLimitFromTheSkippedCount) {
  const AlgorithmProfile* row = profile_table_row(6);  // budget 24
  struct Case {
    int32_t skip;  // 0xa5f67fc5; INT32_MIN: absent
    int limit;
  };
  // At or over the budget one candidate is left; a negative count is 0.
  const Case cases[] = {{INT32_MIN, 24}, {5, 19}, {23, 1}, {24, 1}, {1000, 1}, {-7, 24}};
  for (const Case& c : cases) {
    MatchContext* ctx = ctx_create();
    if (c.skip != INT32_MIN) param_set(ctx, static_cast<uint32_t>(PROFILE_KEY_SKIP), c.skip);
    for (ProfileChainBuilder b : {profile_chain_card, profile_chain_card_alt}) {
      StageChain* chain = b(ctx, nullptr, row);
      ASSERT_NE(chain, nullptr);
      EXPECT_EQ(limits(chain), (std::vector<int>{255, c.limit})) << c.skip;
      chain_free(chain);
    }
    ctx_release(ctx);
  }
  EXPECT_EQ(profile_chain_card(nullptr, nullptr, nullptr), nullptr);
}

TEST(PresetCatalogue, TripleChainLimits) {
  const AlgorithmProfile* row = profile_table_row(3);  // budget 24
  MatchContext* ctx = ctx_create();
  // Absent: the skipped count reads 3 x 24 / 4 - 1 = 17.
  StageChain* chain = profile_chain_triple(ctx, nullptr, row);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(limits(chain), (std::vector<int>{255, 24 - 17 / 3, (24 - 17) / 2}));
  EXPECT_EQ(limits(chain), (std::vector<int>{255, 19, 3}));
  chain_free(chain);
  // Nearly everything skipped: the last stage keeps one candidate.
  param_set(ctx, static_cast<uint32_t>(PROFILE_KEY_SKIP), 23);
  chain = profile_chain_triple(ctx, nullptr, row);
  EXPECT_EQ(limits(chain), (std::vector<int>{255, 24 - 23 / 3, 1}));
  chain_free(chain);
  ctx_release(ctx);
}

TEST(PresetCatalogue, TripleDefaultWritesOnlyWhenAbsent) {
  const AlgorithmProfile* row = profile_table_row(2);
  const auto key = static_cast<uint32_t>(PROFILE_KEY_TRIPLE);
  MatchContext* ctx = ctx_create();
  StageChain* chain = profile_chain_triple_default(ctx, nullptr, row);
  ASSERT_NE(chain, nullptr);
  chain_free(chain);
  EXPECT_EQ(param_get(ctx, key, PROFILE_ABSENT), 1);
  ctx_release(ctx);

  for (int32_t before : {0, 5, 1}) {
    ctx = ctx_create();
    param_set(ctx, key, before);
    chain = profile_chain_triple_default(ctx, nullptr, row);
    ASSERT_NE(chain, nullptr);
    chain_free(chain);
    EXPECT_EQ(param_get(ctx, key, PROFILE_ABSENT), before);
    ctx_release(ctx);
  }
}

struct Golden {
  int list;
  int position;
  const char* name;
  const char* dump;
};

std::string run_factory(PresetFactory f, const std::string& label) {
  MatchContext* ctx = ctx_create();
  MatchEngine* e = f(ctx);
  std::string s;
  if (!e) {
    ADD_FAILURE() << label << " built no engine";
  } else {
    EXPECT_EQ(engine_get_context(e), ctx) << label;
    s = dump_engine(e);
    expect_profiles_cover_stages(e, label);
    engine_release(e);
  }
  ctx_release(ctx);
  return s;
}

// Golden dumps of every factory, list by list: engine line, then one line
// per stage (kind, descriptor, image routines, match ops, threshold offset,
// reject level, candidate limit, early reject level/count, flags).
const std::vector<Golden> kGolden = {
    {PRESET_LIST_CARD_ENGINE, 0, "E5",
     "format 0 sensor 1 class 2 options 000/000 images size 0x0 dpi 0 config 0/0/0/0/0/0\n"},
    {PRESET_LIST_CARD_ENGINE, 1, "E4",
     "format 0 sensor 1 class 3 options 000/000 images size 0x0 dpi 0 config 0/0/0/0/0/0\n"},
    {PRESET_LIST_CARD_ENGINE, 2, "E3",
     "format 0 sensor 1 class 2 options 000/000 images size 0x0 dpi 0 config 0/0/0/0/0/0\n"},
    {PRESET_LIST_CARD_ENGINE, 3, "E2",
     "format 0 sensor 1 class 2 options 000/000 images size 0x0 dpi 0 config 0/0/0/0/0/0\n"},
    {PRESET_LIST_CARD_ENGINE, 4, "E1",
     "format 0 sensor 1 class 3 options 000/000 images size 0x0 dpi 0 config 0/0/0/0/0/0\n"},
    {PRESET_LIST_CARD_ENGINE, 5, "E0",
     "format 0 sensor 0 class 0 options 000/000 images size 0x0 dpi 0 config 0/0/0/0/0/0\n"},
    {PRESET_LIST_CARD_SMALL, 0, "small 0",
     "format 67 sensor 1 class 2 options 100/101 pixels size 96x96 dpi 254 config 16/8/60/121/20/0\n"
     "  67 card-A img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_SMALL, 1, "small 1",
     "format 67 sensor 1 class 3 options 100/110 pixels size 80x80 dpi 254 config 32/16/65/121/20/0\n"
     "  67 card-A img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_SMALL, 2, "small 2",
     "format 67 sensor 1 class 8 options 110/100 pixels size 64x64 dpi 254 config 64/24/70/81/20/0\n"
     "  67 card-A img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 24 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_SMALL, 3, "small 3",
     "format 67 sensor 1 class 8 options 110/100 pixels size 90x40 dpi 254 config 64/24/70/81/20/0\n"
     "  67 card-A img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 24 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_SMALL, 4, "small 4",
     "format 67 sensor 1 class 2 options 100/101 pixels size 96x96 dpi 254 config 16/8/60/121/20/0\n"
     "  67 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_SMALL, 5, "small 5",
     "format 67 sensor 1 class 3 options 100/110 pixels size 80x80 dpi 254 config 32/16/65/121/20/0\n"
     "  67 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_SMALL, 6, "small 6",
     "format 67 sensor 1 class 8 options 110/100 pixels size 64x64 dpi 254 config 64/24/70/81/20/0\n"
     "  67 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 24 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_SMALL, 7, "small 7",
     "format 67 sensor 1 class 8 options 110/100 pixels size 90x40 dpi 254 config 64/24/70/81/20/0\n"
     "  67 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 24 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 0, "large 0",
     "format 67 sensor 1 class 8 options 110/100 pixels size 40x96 dpi 254 config 64/24/70/81/20/0\n"
     "  67 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 24 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 1, "large 1",
     "format 74 sensor 1 class 8 options 111/101 pixels size 40x96 dpi 254 config 64/24/70/81/20/0\n"
     "  74 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  74 - img - ops card4 off 2 lvl 4 lim 19 early 0/255 flags 2\n"
     "  74 - img - ops card3 off 0 lvl 0 lim 3 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 2, "large 2",
     "format 74 sensor 1 class 8 options 111/101 pixels size 0x0 dpi 0 config 64/24/70/81/20/0\n"
     "  74 card-D img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  74 - img - ops card3 off 0 lvl 0 lim 24 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 3, "large 3",
     "format 67 sensor 1 class 3 options 100/110 pixels size 80x80 dpi 254 config 32/16/65/121/20/0\n"
     "  67 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 4, "large 4",
     "format 67 sensor 1 class 3 options 100/110 pixels size 80x80 dpi 254 config 32/16/65/121/20/0\n"
     "  67 card-A img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 5, "large 5",
     "format 67 sensor 1 class 2 options 100/101 pixels size 0x0 dpi 254 config 16/8/60/121/20/0\n"
     "  67 card-B img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 6, "large 6",
     "format 67 sensor 1 class 2 options 111/101 pixels size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  67 card-D img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 32 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 7, "large 7",
     "format 67 sensor 1 class 3 options 100/110 pixels size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  67 card-D img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_LARGE, 8, "large 8",
     "format 67 sensor 1 class 2 options 100/101 pixels size 0x0 dpi 0 config 16/8/60/121/20/0\n"
     "  67 card-D img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_GRID, 0, "G3",
     "format 84 sensor 1 class 5 options 010/110 images size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  67 card-D img norm ops card4 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops pair2 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_GRID, 1, "G2",
     "format 84 sensor 1 class 5 options 010/110 images size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  67 card-D img norm ops card4 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops pair3 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_GRID, 2, "G1",
     "format 84 sensor 1 class 5 options 010/110 images size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  67 card-D img norm ops card4 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
     "  77 grid-alt img norm-grid ops pair4 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_GRID, 3, "G4",
     "format 84 sensor 1 class 5 options 010/110 images size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  67 card-D img norm ops card4 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops pair4 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_GRID, 4, "G5",
     "format 78 sensor 1 class 4 options 111/101 images size 0x0 dpi 0 config 64/24/70/81/20/77\n"
     "  67 card-B img norm ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 2 lvl 2 lim 24 early 0/255 flags 0\n"
     "  77 grid img norm-grid ops refine2 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD_GRID, 5, "G6",
     "format 78 sensor 1 class 4 options 111/101 images size 0x0 dpi 0 config 64/24/70/81/20/77\n"
     "  67 card-D img norm ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 - img - ops card4 off 2 lvl 2 lim 24 early 0/255 flags 0\n"
     "  77 grid img norm-grid ops refine2 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 0, "L8",
     "format 79 sensor 1 class 2 options 110/100 pixels size 0x0 dpi 363 config 16/8/60/121/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 1, "L7",
     "format 79 sensor 1 class 3 options 110/100 pixels size 0x0 dpi 363 config 32/16/65/121/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 11 early 0/255 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 2, "L6",
     "format 79 sensor 1 class 5 options 110/100 pixels size 0x0 dpi 363 config 72/32/75/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 3, "L5",
     "format 79 sensor 1 class 5 options 110/100 pixels size 0x0 dpi 363 config 72/32/75/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 4, "K4",
     "format 79 sensor 1 class 2 options 110/100 pixels size 0x0 dpi 363 config 16/8/60/121/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 card-E img - ops - off 0 lvl 0 lim 8 early 0/255 flags 6\n"
     "  79 kp-light img - ops kp9 off 0 lvl 0 lim 8 early 4/4 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 5, "K3",
     "format 79 sensor 1 class 3 options 110/100 pixels size 0x0 dpi 363 config 32/16/65/121/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 card-E img - ops - off 0 lvl 0 lim 8 early 0/255 flags 6\n"
     "  79 kp-light img - ops kp9 off 0 lvl 0 lim 8 early 4/4 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 6, "K2",
     "format 79 sensor 1 class 4 options 111/101 pixels size 0x0 dpi 363 config 64/24/70/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 card-E img - ops - off 0 lvl 0 lim 8 early 0/255 flags 6\n"
     "  79 kp-light img - ops kp9 off 0 lvl 0 lim 8 early 4/4 flags 0\n"},
    {PRESET_LIST_LIGHT_INDEXED, 7, "K1",
     "format 79 sensor 1 class 8 options 111/101 pixels size 0x0 dpi 363 config 64/24/70/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 card-E img - ops - off 0 lvl 0 lim 8 early 0/255 flags 6\n"
     "  79 kp-light img - ops kp9 off 0 lvl 0 lim 8 early 4/4 flags 0\n"},
    {PRESET_LIST_KEYPOINT_GRID, 0, "K0",
     "format 79 sensor 1 class 4 options 111/101 pixels size 0x0 dpi 363 config 64/24/70/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 card-E img - ops - off 0 lvl 0 lim 8 early 0/255 flags 6\n"
     "  79 kp-light img - ops kp9 off 0 lvl 0 lim 8 early 4/4 flags 0\n"},
    {PRESET_LIST_KEYPOINT_GRID, 1, "VF7",
     "format 79 sensor 1 class 4 options 111/101 images size 0x0 dpi 0 config 64/24/70/81/20/0 quality-model\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp5 off 3 lvl 3 lim 6 early 0/255 flags 0\n"
     "  77 grid img norm-grid ops kp4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"
     "  67 card-D img norm ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  87 texture img - ops - off 0 lvl 0 lim 255 early 0/255 flags 4\n"},
    {PRESET_LIST_KEYPOINT_GRID, 2, "VF8",
     "format 79 sensor 1 class 4 options 111/101 images size 0x0 dpi 0 config 64/24/70/81/20/0 quality-model\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 32 early 0/12 flags 10\n"
     "  67 card-D img norm ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"
     "  87 texture img - ops - off 0 lvl 0 lim 255 early 0/255 flags 4\n"},
    {PRESET_LIST_KEYPOINT_OWN, 0, "B1",
     "format 79 sensor 1 class 4 options 111/101 images size 0x0 dpi 0 config 64/24/70/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp5 off 3 lvl 3 lim 6 early 0/255 flags 0\n"
     "  77 grid img norm-grid ops kp4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_KEYPOINT_OWN, 1, "O1",
     "format 79 sensor 1 class 4 options 111/101 pixels size 0x0 dpi 508 config 64/24/70/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp5 off 28 lvl 3 lim 32 early 0/255 flags 2\n"
     "  77 grid img norm-grid ops kp4 off 0 lvl 0 lim 1 early 0/255 flags 0\n"},
    {PRESET_LIST_KEYPOINT_OWN, 2, "O2",
     "format 79 sensor 1 class 4 options 111/101 pixels size 0x0 dpi 363 config 64/24/70/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp5 off 3 lvl 3 lim 32 early 0/255 flags 2\n"
     "  77 grid-alt img norm-grid ops kp4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 0, "VF6",
     "format 79 sensor 1 class 3 options 110/100 images size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 32 early 0/12 flags 10\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"},
    {PRESET_LIST_MAIN, 1, "light",
     "format 79 sensor 1 class 5 options 110/100 pixels size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 2, "light",
     "format 79 sensor 1 class 5 options 110/100 pixels size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 16 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 3, "L3",
     "format 79 sensor 1 class 3 options 110/100 pixels size 0x0 dpi 363 config 32/16/65/121/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 11 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 4, "L2",
     "format 79 sensor 1 class 2 options 110/100 pixels size 0x0 dpi 363 config 16/8/60/121/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 5, "L1",
     "format 79 sensor 1 class 1 options 110/100 pixels size 0x0 dpi 254 config 8/4/60/121/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-light img - ops kp2 off 0 lvl 0 lim 2 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 6, "S2",
     "format 79 sensor 1 class 3 options 110/100 images size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 7, "C1",
     "format 79 sensor 1 class 9 options 111/101 pixels size 0x0 dpi 363 config 72/32/75/81/20/0\n"
     "  79 kp-light img - ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  67 card-E img - ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-light img - ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"},
    {PRESET_LIST_MAIN, 8, "VF4",
     "format 79 sensor 1 class 9 options 111/101 images size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 32 early 0/12 flags 10\n"
     "  67 card-D img norm ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"},
    {PRESET_LIST_MAIN, 9, "light verify",
     "format 79 sensor 1 class 7 options 111/101 images size 0x0 dpi 0 config 96/32/80/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 40 early 0/255 flags 10\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 30 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 30 early 6/16 flags 0\n"},
    {PRESET_LIST_MAIN, 10, "light verify",
     "format 79 sensor 1 class 7 options 111/101 images size 0x0 dpi 0 config 96/32/80/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 40 early 0/255 flags 10\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 30 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 30 early 6/16 flags 0\n"},
    {PRESET_LIST_MAIN, 11, "VF5",
     "format 79 sensor 1 class 6 options 111/101 images size 0x0 dpi 0 config 96/32/80/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 32 early 0/12 flags 10\n"
     "  67 card-D img norm ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"},
    {PRESET_LIST_MAIN, 12, "VF2",
     "format 79 sensor 1 class 5 options 111/101 images size 0x0 dpi 0 config 72/32/75/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 32 early 0/12 flags 10\n"
     "  67 card-D img norm ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"},
    {PRESET_LIST_MAIN, 13, "VF1",
     "format 79 sensor 1 class 4 options 111/101 images size 0x0 dpi 0 config 64/24/70/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 32 early 0/12 flags 10\n"
     "  67 card-D img norm ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"},
    {PRESET_LIST_MAIN, 14, "VF3",
     "format 79 sensor 1 class 4 options 111/101 images size 0x0 dpi 0 config 64/24/70/81/20/0\n"
     "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  79 kp-full img band ops kp7 off 3 lvl 1 lim 32 early 0/12 flags 10\n"
     "  67 card-D img norm ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  77 grid img norm-grid ops - off 0 lvl 0 lim 6 early 0/255 flags 6\n"
     "  79 kp-full img band ops kp9 off 0 lvl 0 lim 6 early 9/3 flags 0\n"},
    {PRESET_LIST_MAIN, 15, "S3",
     "format 79 sensor 1 class 3 options 110/100 images size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 16, "S4",
     "format 79 sensor 1 class 3 options 110/100 images size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 17, "S5",
     "format 79 sensor 1 class 3 options 110/100 images size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  79 kp-full img destripe+band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 18, "S0",
     "format 79 sensor 1 class 3 options 110/100 images size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_MAIN, 19, "S1",
     "format 79 sensor 1 class 3 options 110/100 images size 0x0 dpi 0 config 32/16/65/121/20/0\n"
     "  79 kp-full img band ops kp7 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD9, 0, "NS2",
     "format 2 sensor 1 class 1 options 000/000 images size 0x0 dpi 0 config 16/8/60/121/20/0\n"
     "  2 - img - ops card5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD9, 1, "NS1",
     "format 2 sensor 1 class 2 options 100/100 pixels size 0x0 dpi 0 config 16/8/60/121/20/0\n"
     "  2 card-B img norm ops card5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_CARD9, 2, "NS0",
     "format 2 sensor 1 class 2 options 100/100 pixels size 0x0 dpi 0 config 16/8/60/121/20/0\n"
     "  2 card-D img norm ops card5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
    {PRESET_LIST_GRIDMAP, 0, "M0",
     "format 66 sensor 1 class 2 options 110/100 pixels size 0x0 dpi 0 config 16/8/60/121/20/0\n"
     "  66 card-E img - ops pair1 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
     "  66 - img - ops texture off 0 lvl 0 lim 8 early 0/255 flags 0\n"},
};

TEST(PresetCatalogue, EveryFactoryMatchesItsGoldenDump) {
  // Each factory builds its engine on a fresh context and releases it (the
  // sanitizer build reports any leak).
  int total = 0;
  for (const Golden& g : kGolden) {
    int n = 0;
    const PresetFactory* list = preset_factory_list(g.list, &n);
    ASSERT_NE(list, nullptr) << g.name;
    ASSERT_LT(g.position, n) << g.name;
    EXPECT_EQ(run_factory(list[g.position], g.name), g.dump) << g.name;
    ++total;
  }
  int sum = 0;
  for (int l = 0; l < PRESET_LIST_COUNT; ++l) {
    int n = -1;
    preset_factory_list(l, &n);
    sum += n;
  }
  EXPECT_EQ(sum, total);  // no factory without its golden dump
}

TEST(PresetCatalogue, ListSizesAndBounds) {
  const int sizes[PRESET_LIST_COUNT] = {6, 8, 9, 6, 8, 3, 3, 20, 3, 1};
  for (int l = 0; l < PRESET_LIST_COUNT; ++l) {
    int n = -1;
    const PresetFactory* f = preset_factory_list(l, &n);
    EXPECT_EQ(n, sizes[l]) << l;
    EXPECT_EQ(f == nullptr, sizes[l] == 0) << l;
  }
  int n = -1;
  EXPECT_EQ(preset_factory_list(PRESET_LIST_COUNT, &n), nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(preset_factory_list(-1, nullptr), nullptr);
  // The live presets stand where the initialisation takes them from.
  const PresetFactory* main = preset_factory_list(PRESET_LIST_MAIN, &n);
  EXPECT_EQ(main[1], preset_create_light);
  EXPECT_EQ(main[9], preset_create_light_verify);
}

TEST(PresetCatalogue, SecondEngineOnOneContextIsRefused) {
  // One factory of each builder family: the refused engine's chain is freed.
  for (int l = 1; l < PRESET_LIST_COUNT; ++l) {
    int n = 0;
    const PresetFactory* list = preset_factory_list(l, &n);
    for (int i = 0; i < n; ++i) {
      MatchContext* ctx = ctx_create();
      MatchEngine* first = list[i](ctx);
      ASSERT_NE(first, nullptr) << l << " " << i;
      EXPECT_EQ(list[i](ctx), nullptr) << l << " " << i;
      engine_release(first);
      ctx_release(ctx);
    }
  }
}

TEST(PresetCatalogue, NullContextGetsItsOwn) {
  int n = 0;
  const PresetFactory* list = preset_factory_list(PRESET_LIST_CARD_GRID, &n);
  MatchEngine* e = list[0](nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_NE(engine_get_context(e), nullptr);
  engine_release(e);
}

TEST(PresetCatalogue, FactoryDefaultsKeepValuesSetBefore) {
  int n = 0;
  const PresetFactory* main = preset_factory_list(PRESET_LIST_MAIN, &n);
  MatchContext* ctx = ctx_create();
  ASSERT_EQ(param_set(ctx, 0xdb4cd8b0u, 12), ML_OK);
  MatchEngine* vf1 = main[13](ctx);
  ASSERT_NE(vf1, nullptr);
  EXPECT_EQ(stage_get_max_candidates(engine_get_stage(vf1, 4)), 12);
  EXPECT_EQ(param_get_text(ctx, "vn.morva.far.reject", -1), 3);
  engine_release(vf1);
  ctx_release(ctx);
}

TEST(PresetCatalogue, HooksReplaceTheChain) {
  struct Case {
    EngineHook hook;
    const char* chain;
  };
  const Case cases[] = {
      {preset_pair_chain_hook,
       "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
      {preset_pair_chain_hook_alt,
       "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
      {preset_card_grid_hook,
       "  67 card-D img norm ops card4 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
       "  79 kp-full img band ops kp5 off 0 lvl 0 lim 255 early 0/255 flags 6\n"
       "  77 grid img norm-grid ops pair4 off 0 lvl 0 lim 255 early 0/255 flags 0\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.hook(nullptr, nullptr, nullptr, nullptr, nullptr), ML_CORRUPT);
    MatchContext* ctx = ctx_create();
    MatchEngine* e = preset_create_card_grid(ctx, nullptr);
    EXPECT_EQ(e, nullptr);  // a card descriptor is required
    int n = 0;
    e = preset_factory_list(PRESET_LIST_CARD_GRID, &n)[4](ctx);  // G5: installs no hook
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(engine_call_hook(e, e, nullptr, nullptr, nullptr, nullptr), ML_WRONG_KIND);
    engine_set_hook(e, c.hook);
    ASSERT_EQ(engine_call_hook(e, e, nullptr, nullptr, nullptr, nullptr), ML_OK);
    EXPECT_EQ(dump_chain(engine_get_chain(e)), c.chain);
    expect_profiles_cover_stages(e, "hook");
    engine_release(e);
    ctx_release(ctx);
  }
}

TEST(PresetCatalogue, CardVerifyChainSwitchesTheLastStage) {
  MatchContext* ctx = ctx_create();
  StageChain* chain = preset_build_card_verify_chain(ctx, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(param_get(ctx, static_cast<uint32_t>(FULL_KEY_GRID_BLOCK), -1), 0);
  EXPECT_EQ(param_get(ctx, static_cast<uint32_t>(FULL_KEY_VARIANT), -1), 1);
  EXPECT_EQ(param_get(ctx, 0xaeeec432u, -1), 16);
  chain_free(chain);
  ctx_release(ctx);
}

TEST(PresetCatalogue, VerifyChainGridWithTexture) {
  MatchContext* ctx = ctx_create();
  StageChain* chain = preset_build_verify_chain_grid(ctx);
  EXPECT_EQ(chain_count(chain), 3u);
  chain_free(chain);
  param_set(ctx, 0x79ce7252u, 1);
  chain = preset_build_verify_chain_grid(ctx);
  EXPECT_EQ(dump_chain(chain),
            "  79 kp-full img band ops kp6 off 0 lvl 0 lim 255 early 0/255 flags 2\n"
            "  79 kp-full img band ops kp5 off 3 lvl 3 lim 24 early 0/255 flags 0\n"
            "  77 grid img norm-grid ops kp4 off 0 lvl 0 lim 16 early 0/255 flags 0\n"
            "  67 card-D img norm ops - off 0 lvl 0 lim 8 early 0/255 flags 6\n"
            "  87 texture img - ops - off 0 lvl 0 lim 255 early 0/255 flags 4\n");
  chain_free(chain);
  ctx_release(ctx);
}

TEST(PresetCatalogue, AllocationFailuresLeaveNothingBehind) {
  // Every factory under a failing allocation at each step: a null answer
  // or a whole engine, and nothing left allocated either way (the leak
  // checker of the sanitizer build sees it otherwise).
  for (int l = 0; l < PRESET_LIST_COUNT; ++l) {
    int n = 0;
    const PresetFactory* list = preset_factory_list(l, &n);
    for (int i = 0; i < n; ++i) {
      SCOPED_TRACE(::testing::Message() << "list " << l << " position " << i);
      const int made = zyl::test::sweep_allocation_failures([&] {
        MatchContext* ctx = ctx_create();
        MatchEngine* e = ctx ? list[i](ctx) : nullptr;
        const bool failed = zyl::test::allocation_failed();
        if (e) {
          // Only the engine-only card comparison engines have no chain.
          EXPECT_EQ(chain_count(engine_get_chain(e)) > 0, l != PRESET_LIST_CARD_ENGINE);
          EXPECT_EQ(engine_get_context(e), ctx);
        } else if (ctx) {
          EXPECT_TRUE(failed);
        }
        engine_release(e);
        ctx_release(ctx);
      });
      EXPECT_GT(made, 0);
    }
  }
}

TEST(PresetCatalogue, CardEnginesCompareThroughTheCardComparison) {
  int n = 0;
  const PresetFactory* list = preset_factory_list(PRESET_LIST_CARD_ENGINE, &n);
  const uint8_t bytes[] = {1, 2, 3, 4};
  for (int i = 0; i < n; ++i) {
    MatchContext* ctx = ctx_create();
    MatchEngine* e = list[i](ctx);
    ASSERT_NE(e, nullptr);
    // The card comparison refuses an image probe and templates of other
    // formats (the stage walk would answer otherwise without a chain).
    DataBlob* probe = blob_create(79, bytes, sizeof bytes);
    DataBlob* gallery = blob_create(79, bytes, sizeof bytes);
    GrayImage* image = image_create(8, 8, 500, 500, nullptr, 0);
    MatchResult* r = match_result_create(1);
    EXPECT_EQ(engine_match_image(e, &gallery, 1, nullptr, image, 5, r), ML_WRONG_KIND) << i;
    MatchResult* out = nullptr;
    EXPECT_EQ(engine_match_result(e, &gallery, 1, probe, 5, &out), ML_WRONG_KIND) << i;
    EXPECT_EQ(out, nullptr);
    // E1..E5 carry the placeholder profile; E0 none.
    const ScoreProfile* const* profiles = engine_get_score_profiles(e);
    EXPECT_EQ(profiles != nullptr, i != n - 1) << i;
    match_result_release(r);
    image_release(image);
    blob_release(probe);
    blob_release(gallery);
    engine_release(e);
    ctx_release(ctx);
  }
}

}  // namespace

namespace {

// A template of a print through the engine's own input road (an image
// object or raw pixels); null when the engine refuses the print.
DataBlob* extract_print(MatchEngine* e, const zyl::test::GreyImage& g) {
  DataBlob* out = nullptr;
  if (engine_uses_image_input(e)) {
    GrayImage* image = image_create(g.height, g.width, 500, 500, g.pixels.data(), 0);
    if (engine_extract_image(e, image, nullptr, &out) != ML_OK) out = nullptr;
    image_release(image);
  } else {
    std::vector<uint8_t> pixels = g.pixels;
    if (engine_extract_pixels(e, pixels.data(), g.height, g.width, 500, nullptr, &out) != ML_OK)
      out = nullptr;
  }
  return out;
}

bool has_placeholder_profile(const MatchEngine* e) {
  const ScoreProfile* const* p = engine_get_score_profiles(e);
  for (; p && *p; ++p)
    if ((*p)->thresholds == far_table_neutral()) return true;
  return false;
}

TEST(PresetCatalogue, PlaceholderProfilesNeverReportAMatch) {
  // Engines whose profiles are placeholders (no fitted model or thresholds)
  // compare two different fingers: no level, not even 0, gives a match.
  // The first such engine that extracts both prints is tried at every
  // level; the others at level 0, the most lenient.
  const zyl::test::GreyImage a = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_160.pgm"));
  const zyl::test::GreyImage b = zyl::test::read_pgm(zyl::test::test_data("fvc2002_102_1_160.pgm"));
  int tried = 0;
  for (int l = 0; l < PRESET_LIST_COUNT; ++l) {
    int n = 0;
    const PresetFactory* list = preset_factory_list(l, &n);
    for (int i = 0; i < n; ++i) {
      MatchContext* ctx = ctx_create();
      MatchEngine* e = list[i](ctx);
      ASSERT_NE(e, nullptr) << l << " " << i;
      DataBlob* ta = has_placeholder_profile(e) ? extract_print(e, a) : nullptr;
      DataBlob* tb = ta ? extract_print(e, b) : nullptr;
      if (ta && tb) {
        const int last_level = tried == 0 ? 27 : 0;
        for (int level = 0; level <= last_level; ++level) {
          int32_t decision = -1;
          const int status = engine_match_decide(e, &ta, 1, tb, level, &decision, nullptr, nullptr, nullptr);
          EXPECT_EQ(decision, 0) << "list " << l << " factory " << i << " level " << level;
          EXPECT_NE(status, ML_OK) << "list " << l << " factory " << i << " level " << level;
        }
        ++tried;
      }
      blob_release(ta);
      blob_release(tb);
      engine_release(e);
      ctx_release(ctx);
    }
  }
  EXPECT_GT(tried, 0);
  std::printf("placeholder engines compared: %d\n", tried);
}

}  // namespace

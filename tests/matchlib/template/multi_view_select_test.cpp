// View selection of multi-view templates: replacing a view of a full
// template, adding views in append and selection modes, candidates and
// the organisation of candidates into classes by their pair results.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/scripted_stages.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_verify.h"

namespace {

using zyl::test::make_template;

struct Full {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  DataBlob* stored = nullptr;
  // Four views with ids 1..4 of the given qualities and view flags.
  Full(const std::vector<uint8_t>& qualities, const std::vector<uint8_t>& flags, int append = 1) {
    MultiViewTemplate* t = mvt_create(4);
    for (int i = 0; i < 4; ++i) {
      DataBlob* v = make_template(i + 1, qualities[static_cast<size_t>(i)]);
      int32_t key = 0;
      mvt_add_view(mvt_store(t), v, nullptr, 0, 0, &key);
      mvt_write_view_sections(mvt_store(t), key, nullptr, 0, 0, flags[static_cast<size_t>(i)]);
      blob_release(v);
    }
    stored = mvt_serialize(t, append ? 0 : 1);
    mvt_release(t);
  }
  ~Full() {
    blob_release(stored);
    engine_release(engine);
    ctx_release(ctx);
  }
  MultiViewTemplate* parse() const {
    MultiViewTemplate* t = nullptr;
    EXPECT_EQ(mvt_from_blob(stored, &t), ML_OK);
    return t;
  }
};

std::vector<int> ids(const MultiViewTemplate* t) {
  std::vector<int> out;
  for (int i = 0; i < kwzd_record_count(mvt_store(t)); ++i) {
    DataBlob* b = kwzd_get_at(mvt_store(t), i, nullptr);
    out.push_back(zyl::test::template_id(b));
    blob_release(b);
  }
  return out;
}

uint32_t leading_crc(const DataBlob* b) { return crc32_compute(blob_data(b), std::min<uint32_t>(blob_size(b), 1024)); }

TEST(ViewSelection, AFixedRandomStateEvictsTheSameViewEveryRun) {
  Full f({10, 10, 10, 10}, {0, 0, 0, 0});
  DataBlob* incoming = make_template(9, 10);
  uint32_t state = leading_crc(f.stored) + leading_crc(incoming);
  rng_next(&state);
  const int32_t expected_index = static_cast<int32_t>(state % 4);
  int32_t first_removed = -2;
  for (int run = 0; run < 3; ++run) {
    MultiViewTemplate* t = f.parse();
    int32_t removed = -2, added = -2;
    ASSERT_EQ(mvt_pick_view_to_replace(t, f.engine, incoming, &removed, &added), ML_OK);
    if (run == 0) first_removed = removed;
    EXPECT_EQ(removed, first_removed);
    EXPECT_NE(added, -1);
    std::vector<int> left = ids(t);
    EXPECT_EQ(left.size(), 4u);
    EXPECT_EQ(std::count(left.begin(), left.end(), expected_index + 1), 0) << "index " << expected_index;
    EXPECT_EQ(left.back(), 9);
    mvt_release(t);
  }
  blob_release(incoming);
}

TEST(ViewSelection, KeepFlaggedAndProtectedViewsStay) {
  // Views 1 and 2 keep-flagged, view 3 of a quality the engine wants one
  // view of; view 4 (quality 40, beyond the engine's table) is the only choice.
  Full f({10, 10, 5, 40}, {MVT_VIEW_KEEP, MVT_VIEW_KEEP, 0, 0});
  engine_set_kind_limit(f.engine, 5, 1);
  DataBlob* incoming = make_template(9, 10);
  for (int run = 0; run < 5; ++run) {
    MultiViewTemplate* t = f.parse();
    int32_t removed = 0, added = 0;
    ASSERT_EQ(mvt_pick_view_to_replace(t, f.engine, incoming, &removed, &added), ML_OK);
    EXPECT_EQ(ids(t), (std::vector<int>{1, 2, 3, 9}));
    // The new view is now the only one to choose.
    DataBlob* another = make_template(8, 5);
    EXPECT_EQ(mvt_pick_view_to_replace(t, f.engine, another, &removed, &added), ML_OK);
    EXPECT_EQ(ids(t), (std::vector<int>{1, 2, 3, 8}));
    blob_release(another);
    mvt_release(t);
  }
  Full none({5, 10, 10, 10}, {0, MVT_VIEW_KEEP, MVT_VIEW_KEEP, MVT_VIEW_KEEP});
  engine_set_kind_limit(none.engine, 5, 1);
  MultiViewTemplate* kept = none.parse();
  int32_t removed = 0, added = 0;
  EXPECT_EQ(mvt_pick_view_to_replace(kept, none.engine, incoming, &removed, &added), ML_NOT_FOUND);
  EXPECT_EQ(removed, -1);
  EXPECT_EQ(ids(kept), (std::vector<int>{1, 2, 3, 4}));
  mvt_release(kept);
  MultiViewTemplate* limited = f.parse();
  mvt_set_size_limit(limited, 1000);
  EXPECT_EQ(mvt_pick_view_to_replace(limited, f.engine, incoming, &removed, &added), ML_WRONG_KIND);
  mvt_release(limited);
  blob_release(incoming);
}

TEST(ViewSelection, AppendModeStopsAtTheSizeLimit) {
  MultiViewTemplate* t = mvt_create(10);
  mvt_check_view_marks(t);  // an empty store: all unmarked, so views are appended
  std::vector<DataBlob*> views;
  for (int i = 0; i < 5; ++i) views.push_back(make_template(i + 1));
  int taken = -1;
  ASSERT_EQ(mvt_add_views(t, nullptr, views.data(), 2, 0, &taken), ML_OK);
  EXPECT_EQ(taken, 1);
  const uint32_t two = kwzd_serialized_size(mvt_store(t));
  mvt_set_size_limit(t, two + 10);  // room for no more view
  // Nothing offered could be taken: the template cannot take views.
  EXPECT_EQ(mvt_add_views(t, nullptr, views.data() + 2, 3, 0, &taken), ML_TOO_MANY);
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(ids(t), (std::vector<int>{1, 2}));
  std::vector<DataBlob*> many(254, views[0]);
  EXPECT_EQ(mvt_add_views(t, nullptr, many.data(), 254, 0, &taken), ML_WRONG_KIND);
  for (DataBlob* v : views) blob_release(v);
  mvt_release(t);
}

TEST(ViewSelection, SelectionDropsAViewWhenTheTemplateIsFull) {
  Full f({10, 10, 10, 10}, {0, 0, MVT_VIEW_KEEP, 0}, 0);
  DataBlob* incoming = make_template(9, 10);
  MultiViewTemplate* t = f.parse();
  ASSERT_EQ(mvt_append_mode(t), 0);
  int taken = 0;
  ASSERT_EQ(mvt_add_views(t, f.engine, &incoming, 1, MVT_OPTION_KEEP, &taken), ML_OK);
  const std::vector<int> left = ids(t);
  EXPECT_EQ(left.size(), 4u);
  EXPECT_NE(std::find(left.begin(), left.end(), 3), left.end());  // keep-flagged
  const bool new_kept = std::find(left.begin(), left.end(), 9) != left.end();
  EXPECT_EQ(taken, new_kept ? 1 : 3);
  mvt_release(t);

  param_set(f.ctx, 0xac395352, 7);  // no such rule
  t = f.parse();
  EXPECT_EQ(mvt_add_views(t, f.engine, &incoming, 1, 0, &taken), ML_CORRUPT);
  EXPECT_EQ(ids(t).size(), 4u);
  mvt_release(t);
  blob_release(incoming);
}

// The template's header section rewritten with the given limit table.
DataBlob* with_limit_table(DataBlob* stored, const std::vector<std::pair<uint8_t, uint8_t>>& table) {
  KwzdContainer* store = nullptr;
  EXPECT_EQ(kwzd_parse(stored, &store), ML_OK);
  uint16_t length = 0;
  const uint8_t* h = kwzd_get_section(store, KWZD_HEADER_KEY, MVT_HEADER_SECTION, &length);
  EXPECT_EQ(length, 21);
  std::vector<uint8_t> header(h, h + length);
  header[10] = static_cast<uint8_t>(table.size());
  std::fill(header.begin() + 11, header.end(), 0);
  for (size_t i = 0; i < table.size(); ++i) {
    header[11 + 2 * i] = table[i].first;
    header[12 + 2 * i] = table[i].second;
  }
  kwzd_remove_section(store, KWZD_HEADER_KEY, MVT_HEADER_SECTION);
  kwzd_add_section(store, KWZD_HEADER_KEY, MVT_HEADER_SECTION, header.data(), 21);
  DataBlob* out = nullptr;
  EXPECT_EQ(kwzd_serialize(store, &out), ML_OK);
  kwzd_free(store);
  return out;
}

TEST(ViewSelection, ACandidateNoLimitCountsLeavesTheStoreUnchanged) {
  // Two stored views and one new one. A limit table without a format-0
  // entry (or with no entry at all) never counts a view without that
  // format: the selection has no outcome for it and refuses, where
  // committing would remove the stored views.
  const struct {
    const char* name;
    std::vector<std::pair<uint8_t, uint8_t>> table;
  } cases[] = {{"no entry", {}}, {"format 66 only", {{66, 255}}}, {"formats 66 and 68", {{66, 4}, {68, 4}}}};
  Full f({10, 10, 10, 10}, {0, 0, 0, 0});
  MultiViewTemplate* two = mvt_create(4);
  for (int i = 1; i <= 2; ++i) {
    DataBlob* v = make_template(i, 10);
    int32_t key = 0;
    mvt_add_view(mvt_store(two), v, nullptr, 0, 0, &key);
    blob_release(v);
  }
  DataBlob* base = mvt_serialize(two, 0);
  mvt_release(two);
  DataBlob* incoming = make_template(9, 10);
  for (const auto& c : cases) {
    DataBlob* stored = with_limit_table(base, c.table);
    MultiViewTemplate* t = nullptr;
    ASSERT_EQ(mvt_from_blob(stored, &t), ML_OK) << c.name;
    int taken = -1;
    EXPECT_EQ(mvt_add_views(t, f.engine, &incoming, 1, 0, &taken), ML_CORRUPT) << c.name;
    EXPECT_EQ(taken, 0) << c.name;
    EXPECT_EQ(ids(t), (std::vector<int>{1, 2})) << c.name;
    mvt_release(t);
    // The engine's merge passes the refusal on and makes no template.
    DataBlob* merged = nullptr;
    EXPECT_EQ(engine_merge_templates(f.engine, stored, &incoming, 1, &merged, nullptr, nullptr),
              ML_CORRUPT)
        << c.name;
    EXPECT_EQ(merged, nullptr) << c.name;
    blob_release(stored);
  }
  blob_release(incoming);
  blob_release(base);
}

TEST(ViewSelection, AStoredViewWithoutItsInformationSectionIsMalformed) {
  Full f({10, 10, 10, 10}, {0, 0, 0, 0});
  MultiViewTemplate* t = f.parse();
  KwzdContainer* store = mvt_store(t);
  int32_t key = 0;
  DataBlob* second = kwzd_get_at(store, 1, &key);
  blob_release(second);
  ASSERT_EQ(kwzd_remove_section(store, key, MVT_VIEW_INFO_SECTION), ML_OK);
  DataBlob* incoming = make_template(9, 10);
  int taken = -1;
  EXPECT_EQ(mvt_add_views(t, f.engine, &incoming, 1, 0, &taken), ML_CORRUPT);
  EXPECT_EQ(ids(t), (std::vector<int>{1, 2, 3, 4}));
  int32_t removed = 0, added = 0;
  EXPECT_EQ(mvt_pick_view_to_replace(t, f.engine, incoming, &removed, &added), ML_CORRUPT);
  EXPECT_EQ(ids(t), (std::vector<int>{1, 2, 3, 4}));
  blob_release(incoming);
  mvt_release(t);
}

// Keep-flagged views of a template.
int kept_views(const MultiViewTemplate* t) { return mvt_count_flagged_views(t, MVT_VIEW_KEEP); }

TEST(ViewSelection, AppendOrSelectionFollowsTheAllUnmarkedFlag) {
  // Append mode takes views as they come and ignores the keep option; the
  // selection honours it. Which one runs is the template's all-unmarked
  // flag: 0 at creation, set by mvt_check_view_marks.
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  DataBlob* views[] = {make_template(1, 10), make_template(2, 10)};
  const struct {
    bool checked;
    int keep_flagged;
  } cases[] = {{false, 2}, {true, 0}};
  for (const auto& c : cases) {
    MultiViewTemplate* t = mvt_create(4);
    if (c.checked) mvt_check_view_marks(t);
    EXPECT_EQ(mvt_all_unmarked(t), c.checked ? 1 : 0);
    int taken = 0;
    ASSERT_EQ(mvt_add_views(t, engine, views, 2, MVT_OPTION_KEEP, &taken), ML_OK) << c.checked;
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(ids(t), (std::vector<int>{1, 2})) << c.checked;
    EXPECT_EQ(kept_views(t), c.keep_flagged) << c.checked;
    mvt_release(t);
  }
  for (DataBlob* v : views) blob_release(v);
  engine_release(engine);
  ctx_release(ctx);
}

// A full template of two views that carry no class section: parsed, its
// all-unmarked flag is set and it is in append mode.
DataBlob* full_unclassed() {
  MultiViewTemplate* t = mvt_create(2);
  for (int i = 1; i <= 2; ++i) {
    DataBlob* v = make_template(i, 10);
    int32_t key = 0;
    kwzd_append(mvt_store(t), v, &key);
    blob_release(v);
  }
  DataBlob* out = mvt_serialize(t, 0);
  mvt_release(t);
  return out;
}

TEST(ViewSelection, AFullTemplateInAppendModeTakesNothingAndSaysSo) {
  DataBlob* stored = full_unclassed();
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(stored, &t), ML_OK);
  ASSERT_EQ(mvt_all_unmarked(t), 1);
  ASSERT_EQ(mvt_append_mode(t), 1);
  DataBlob* incoming = make_template(9, 10);
  int taken = -1;
  EXPECT_EQ(mvt_add_views(t, nullptr, &incoming, 1, 0, &taken), ML_TOO_MANY);
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(ids(t), (std::vector<int>{1, 2}));
  mvt_release(t);

  // The adaptation of such a template answers that status and no template,
  // so no caller counts an update that did not happen.
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  MatchResult* r = match_result_create(1);
  match_result_set_probe_blob(r, incoming);
  DataBlob* out = nullptr;
  EXPECT_EQ(engine_adapt_template(engine, stored, r, &out, nullptr, nullptr), ML_TOO_MANY);
  EXPECT_EQ(out, nullptr);
  match_result_release(r);
  engine_release(engine);
  ctx_release(ctx);
  blob_release(incoming);
  blob_release(stored);
}

TEST(ViewSelection, AdaptationPlacesTheProbeInTheMatchedViewsClass) {
  // Stored views of classes 1 and 3; the match was made with the class-3
  // view at (7, -5): the adapted template holds the probe in class 3 at
  // that alignment.
  MultiViewTemplate* t = mvt_create(4);
  int32_t keys[2] = {0, 0};
  const uint8_t classes[2] = {1, 3};
  for (int i = 0; i < 2; ++i) {
    DataBlob* v = make_template(i + 1, 10);
    mvt_add_view(mvt_store(t), v, nullptr, classes[i], 0, &keys[i]);
    blob_release(v);
  }
  DataBlob* stored = mvt_serialize(t, 0);
  mvt_release(t);

  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  MatchResult* r = match_result_create(1);
  DataBlob* probe = make_template(9, 10);
  match_result_set_probe_blob(r, probe);
  r->record_key = keys[1];
  r->transform = xform_create(7, -5, 0);
  DataBlob* out = nullptr;
  ASSERT_EQ(engine_adapt_template(engine, stored, r, &out, nullptr, nullptr), ML_OK);
  MultiViewTemplate* adapted = nullptr;
  ASSERT_EQ(mvt_from_blob(out, &adapted), ML_OK);
  EXPECT_EQ(ids(adapted), (std::vector<int>{1, 2, 9}));
  int32_t key = 0;
  DataBlob* v = kwzd_get_at(mvt_store(adapted), 2, &key);
  blob_release(v);
  uint16_t length = 0;
  const uint8_t* c = kwzd_get_section(mvt_store(adapted), key, MVT_CLASS_SECTION, &length);
  ASSERT_TRUE(c && length == 1);
  EXPECT_EQ(c[0], 3);
  const uint8_t* info = kwzd_get_section(mvt_store(adapted), key, MVT_VIEW_INFO_SECTION, &length);
  ASSERT_TRUE(info && length == 6);
  EXPECT_EQ(static_cast<int16_t>(info[0] << 8 | info[1]), 7);
  EXPECT_EQ(static_cast<int16_t>(info[2] << 8 | info[3]), -5);
  mvt_release(adapted);
  blob_release(out);
  blob_release(probe);
  match_result_release(r);
  engine_release(engine);
  ctx_release(ctx);
  blob_release(stored);
}

TEST(ViewSelection, CandidatesOfNewAndStoredViews) {
  DataBlob* v = make_template(1, 33);
  MvtCandidate* c = mvt_candidate_create(v);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->quality, 33);
  EXPECT_EQ(c->key, MVT_NEW_KEY);
  EXPECT_EQ(c->origin, MVT_ORIGIN_NEW);
  EXPECT_EQ(c->view_class, MVT_NO_CLASS);
  mvt_candidate_free(c);

  KwzdContainer* store = kwzd_create();
  int32_t k1 = 0, k2 = 0;
  RigidTransform* xf = xform_create(7, 0, 0);
  mvt_add_view(store, v, xf, 3, 1, &k1);
  mvt_add_view(store, v, nullptr, 0, 0, &k2);
  mvt_write_view_sections(store, k2, nullptr, 0, 0, MVT_VIEW_MARKED | MVT_VIEW_KEEP);
  MvtCandidate* stored = mvt_load_candidate(store, 0);
  MvtCandidate* marked = mvt_load_candidate(store, 1);
  ASSERT_TRUE(stored && marked);
  EXPECT_EQ(stored->origin, MVT_ORIGIN_STORED);
  EXPECT_EQ(stored->view_class, 3);
  EXPECT_EQ(stored->flag_byte, 1);
  EXPECT_EQ(xform_get_dx(stored->alignment), 7);
  EXPECT_EQ(marked->origin, MVT_ORIGIN_MARKED);
  EXPECT_EQ(marked->keep, 1);
  EXPECT_EQ(marked->alignment, nullptr);
  EXPECT_EQ(mvt_load_candidate(store, 2), nullptr);
  mvt_candidate_free(stored);
  mvt_candidate_free(marked);
  xform_release(xf);
  kwzd_free(store);
  blob_release(v);
}

TEST(ViewSelection, OrganizeMakesAClassOfEachAlignmentTree) {
  MultiViewTemplate* t = mvt_create(10);
  DataBlob* a = make_template(1);
  DataBlob* b = make_template(2);
  DataBlob* c = make_template(3);
  MvtCandidate* cands[] = {mvt_candidate_create(a), mvt_candidate_create(b), mvt_candidate_create(c)};
  PairList pairs{};
  RigidTransform* shift = xform_create(30, 0, 0);
  PairResult* match = pair_result_create(a, b, 900, 1, shift);
  PairResult* none = pair_result_create(a, c, 10, 0, nullptr);
  pair_result_list_insert(match, &pairs);
  pair_result_list_insert(none, &pairs);
  int taken = 0;
  ASSERT_EQ(mvt_organize(t, nullptr, &pairs, cands, 3, 0, &taken), ML_OK);
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(cands[0]->view_class, cands[1]->view_class);
  EXPECT_NE(cands[2]->view_class, cands[0]->view_class);
  EXPECT_EQ(std::abs(xform_get_dx(cands[0]->alignment) - xform_get_dx(cands[1]->alignment)), 30);
  EXPECT_EQ(kwzd_record_count(mvt_store(t)), 3);
  pair_result_release(match);
  pair_result_release(none);
  pair_result_list_clear(&pairs);
  xform_release(shift);
  for (MvtCandidate* x : cands) mvt_candidate_free(x);
  blob_release(a);
  blob_release(b);
  blob_release(c);
  mvt_release(t);
}

}  // namespace

namespace {

// A format-3 standard record with minutiae on a 3 x 3 grid of 20-pixel
// cells starting at (x0, y0).
DataBlob* record_at(int x0, int y0) {
  MinutiaeRecord* rec = minrec_create();
  rec->width = 300;
  rec->height = 300;
  rec->resolution = MINREC_RESOLUTION;
  for (int i = 0; i < 9; ++i) {
    rec->minutiae[i].x = static_cast<uint16_t>(x0 + 20 * (i % 3) + 5);
    rec->minutiae[i].y = static_cast<uint16_t>(y0 + 20 * (i / 3) + 5);
    rec->minutiae[i].type = 1;
  }
  rec->count = 9;
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(fmr_build_iso2005(rec, &bytes, &size), ML_OK);
  minrec_free(rec);
  DataBlob* blob = blob_create(3, bytes, size);
  std::free(bytes);
  return blob;
}

TEST(ViewSelection, CoverageRuleDropsTheViewTheOthersCoverBest) {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  param_set(ctx, 0xac395352, 0);
  MultiViewTemplate* t = mvt_create(2);
  DataBlob* a = record_at(0, 0);
  DataBlob* b = record_at(0, 0);  // the same area as a
  DataBlob* c = record_at(200, 200);
  MvtCandidate* cands[] = {mvt_candidate_create(a), mvt_candidate_create(b), mvt_candidate_create(c)};
  PairList none{};
  int taken = 0;
  ASSERT_EQ(mvt_organize(t, engine, &none, cands, 3, 0, &taken), ML_OK);
  EXPECT_EQ(cands[0]->point_count, 9);
  ASSERT_EQ(kwzd_record_count(mvt_store(t)), 2);
  DataBlob* first = kwzd_get_at(mvt_store(t), 0, nullptr);
  DataBlob* second = kwzd_get_at(mvt_store(t), 1, nullptr);
  EXPECT_EQ(first, a);  // b leaves a and c covering everything; ties go to the later one
  EXPECT_EQ(second, c);
  blob_release(first);
  blob_release(second);
  for (MvtCandidate* x : cands) mvt_candidate_free(x);
  blob_release(a);
  blob_release(b);
  blob_release(c);
  mvt_release(t);
  engine_release(engine);
  ctx_release(ctx);
}

}  // namespace

#include "support/allocation_sweep.h"

namespace {

TEST(ViewSelection, AllocationFailuresLeaveTheTemplateAsItWas) {
  Full f({10, 10, 10, 10}, {0, 0, MVT_VIEW_KEEP, 0}, 0);
  DataBlob* incoming = make_template(9, 10);
  MultiViewTemplate* t = f.parse();
  DataBlob* before = mvt_serialize(t, 0);
  zyl::test::sweep_allocation_failures([&] {
    int taken = 0;
    const int status = mvt_add_views(t, f.engine, &incoming, 1, 0, &taken);
    if (!zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_OK);
      return;
    }
    EXPECT_EQ(status, ML_NO_MEMORY);
    DataBlob* now = mvt_serialize(t, 0);
    EXPECT_EQ(blob_equal(now, before), 1);
    blob_release(now);
  });
  mvt_release(t);
  t = f.parse();
  zyl::test::sweep_allocation_failures([&] {
    int32_t removed = 0, added = 0;
    const int status = mvt_pick_view_to_replace(t, f.engine, incoming, &removed, &added);
    if (!zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_OK);
      return;
    }
    EXPECT_EQ(status, ML_NO_MEMORY);
    EXPECT_EQ(kwzd_record_count(mvt_store(t)), 4);
  });
  mvt_release(t);
  blob_release(before);
  blob_release(incoming);
}

}  // namespace

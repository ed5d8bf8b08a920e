// Card comparison: the score vector of one reference template, the two
// passes over a comparison input (thresholds by class, pre-selection, mode
// masks and groups), and the card verification through the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/grid_maps.h"
#include "support/tlv_bytes.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_stage.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zyl::test::cat;
using zyl::test::el;
using zyl::test::world_map;

struct Min {
  int x, y, direction;
};

// A print-like spread of minutiae in card units (0.1 mm).
std::vector<Min> finger(uint32_t seed, int n) {
  uint32_t st = seed * 2654435761u + 1;
  auto rnd = [&st](int m) {
    st = st * 1664525u + 1013904223u;
    return static_cast<int>((st >> 8) % static_cast<uint32_t>(m));
  };
  std::vector<Min> m;
  for (int k = 0; k < n; ++k) m.push_back({70 + (k % 6) * 20 + rnd(9), 70 + (k / 6) * 20 + rnd(9), rnd(64) * 4});
  return m;
}

Bytes minutiae_element(const std::vector<Min>& m) {
  Bytes b;
  for (const Min& p : m) b.insert(b.end(), {static_cast<uint8_t>(p.x), static_cast<uint8_t>(p.y), static_cast<uint8_t>(p.direction / 4)});
  return el(0x90, b);
}

// The 64- or 46-minutia local-structure form of a card holding the
// minutiae, as the card comparison packs them.
Bytes packed(const std::vector<Min>& m, bool form64 = true) {
  const Bytes card = el(0x7F2E, el(0xA1, minutiae_element(m)));
  Bytes work(2064), out(LOCALSTRUCT64_SIZE);
  uint16_t length = 0;
  const uint32_t n = static_cast<uint32_t>(card.size());
  EXPECT_EQ(form64 ? localstruct64_prepare_unreduced(work.data(), 2064, card.data(), n, out.data(), LOCALSTRUCT64_SIZE,
                                                     &length, localstruct64_copy)
                   : localstruct46_prepare(work.data(), 2064, card.data(), n, out.data(), LOCALSTRUCT46_SIZE, &length,
                                           localstruct64_copy),
            ML_OK);
  out.resize(length);
  return out;
}

// A probe form: minutiae, image information with the quality, a grid map
// (none when empty) with its origin, and optionally a packed form.
struct Form {
  std::vector<Min> minutiae;
  Bytes map;
  int quality = 80;
  uint16_t packed_tag = 0;  // 0xCD, 0xCE or none
  Bytes packed = {};
};

Bytes probe_form(const Form& f) {
  Bytes a2 = el(0xC3, {1, 0, 1, 0, 1, static_cast<uint8_t>(f.quality)});
  if (!f.map.empty()) a2 = cat({a2, el(0xC4, f.map), el(0xC5, {0, 0})});
  if (f.packed_tag) a2 = cat({a2, el(f.packed_tag, f.packed)});
  return el(0x7F2E, cat({el(0xA1, minutiae_element(f.minutiae)), el(0xA2, a2)}));
}

// A reference template as the comparison finds it: the grid map and, in
// packing forms 1 and 2, the pre-packed form (else the minutiae alone).
Bytes reference_template(const std::vector<Min>& m, const Bytes& map, int quality = 80, int packing = 1) {
  if (packing == 0) return probe_form({m, map, quality});
  return probe_form({m, map, quality, static_cast<uint16_t>(0xCC + packing), packed(m, packing == 1)});
}

Bytes reference_part(int mode, uint8_t class_byte, const std::vector<Bytes>& templates) {
  Bytes body = el(0xC0, {static_cast<uint8_t>(0x80 | mode), class_byte});
  for (const Bytes& t : templates) body = cat({body, el(0xEE, t)});
  return el(0xEF, body);
}

// The genuine finger's maps: the world at the origin and seen shifted by
// the minutiae's shift (card units to pixels).
Bytes genuine_map(double shift_x = 0, double shift_y = 0) {
  return world_map(16, 16, 8, 0, -shift_x * 1.97, -shift_y * 1.97);
}
Bytes impostor_map() { return world_map(16, 16, 8, 100, 700, 420); }

// The genuine finger seen again: shifted, a few minutiae lost, the rest
// one unit off here and there.
std::vector<Min> genuine_probe_minutiae(const std::vector<Min>& a, int dx, int dy) {
  std::vector<Min> m;
  for (size_t i = 0; i < a.size(); ++i) {
    if (i % 9 == 4) continue;
    m.push_back({a[i].x + dx + static_cast<int>(i % 3) - 1, a[i].y + dy + static_cast<int>(i % 2), a[i].direction});
  }
  return m;
}

const std::vector<Min>& finger_a() {
  static const std::vector<Min> a = finger(1, 30);
  return a;
}
Bytes genuine_probe() { return probe_form({genuine_probe_minutiae(finger_a(), 6, -4), genuine_map(6, -4)}); }
Bytes impostor_probe() { return probe_form({finger(5, 30), impostor_map()}); }
Bytes genuine_reference() { return reference_template(finger_a(), genuine_map()); }
Bytes impostor_reference() { return reference_template(finger(7, 28), impostor_map()); }

// A test model over the local-structure score (entry 0) and the grid score
// (entry 9); the 9-row model over entry 0 alone. Thresholds 8000, and
// 20000 from class 2 on, at every level but the last (60000).
struct Model {
  std::vector<ScoreLinearRow> rows30, rows9;
  FarThresholdTable t{};
  Model() : rows30(30, ScoreLinearRow{0, 65535, 0, 65536, 0}), rows9(9, ScoreLinearRow{0, 65535, 0, 65536, 0}) {
    rows30[0] = ScoreLinearRow{0, 65535, 1000u << 16, 20000u << 16, 1};
    rows30[9] = ScoreLinearRow{0, 65535, 5000u << 16, 40000u << 16, 1};
    rows9[0] = rows30[0];
    for (int c = 0; c < 7; ++c)
      for (int l = 0; l < 28; ++l) t.t[c][l] = l == 27 ? 60000 : c < 2 ? 8000 : 20000;
  }
  // The double-precision score of a vector under the 30-row model.
  static double score(const uint16_t* v) {
    return std::clamp(4096 + 16384 * ((v[0] - 1000.0) / 20000 + (v[9] - 5000.0) / 40000), 0.0, 65535.0);
  }
};

Bytes parameter_element(uint16_t word, int list_length = 0, uint16_t table_tag = 0xC4) {
  static const Model m;
  DataBlob* p = nullptr;
  EXPECT_EQ(card_params_from_models(word, m.rows30.data(), &m.t, m.rows9.data(), &m.t, table_tag, 2, 0, 0xFFF0, 5, 1,
                                    list_length, &p),
            ML_OK);
  const Bytes out = p ? Bytes(blob_data(p), blob_data(p) + blob_size(p)) : Bytes{};
  blob_release(p);
  return out;
}

constexpr uint16_t kWord = 0x1211;  // alternative matcher set, pre-packed 64-minutia forms

struct Pass {
  int status = -1, decision = -1, index = -2, mode = -1;
  uint32_t max_score = 0, best_score = 0;
  int recheck_status = -1, recheck_decision = -1;
  uint32_t recheck_score = 0;
};

// Both passes over {parameter element, reference part}, each from its own
// copy of the probe with the verification's room behind it.
Pass compare(const Bytes& p0, const Bytes& part, const Bytes& probe, uint32_t room = CARD_VERIFY_ROOM) {
  const uint8_t* parts[2] = {p0.data(), part.data()};
  const uint32_t sizes[2] = {static_cast<uint32_t>(p0.size()), static_cast<uint32_t>(part.size())};
  Bytes buffer = probe;
  buffer.resize(probe.size() + room, 0xAA);
  Pass r;
  r.status = card_compare_reference(parts, sizes, 2, buffer.data(), static_cast<uint32_t>(buffer.size()), 0,
                                    &r.decision, &r.max_score, &r.index, &r.mode, &r.best_score);
  if (r.status == ML_OK && r.decision == 1) {
    std::fill(buffer.begin(), buffer.end(), 0x55);
    std::copy(probe.begin(), probe.end(), buffer.begin());
    r.recheck_decision = 1;
    r.recheck_status = card_compare_recheck(parts, sizes, 2, buffer.data(), static_cast<uint32_t>(buffer.size()), 0,
                                            &r.recheck_decision, r.index, r.mode, &r.recheck_score);
  }
  return r;
}

// The score vector of one reference template against a probe under the
// card flags of `word`.
struct Core {
  int status = -1;
  uint16_t v[CARD_SCORE_ENTRIES] = {};
};
Core core(uint16_t word, const Bytes& reference, const Bytes& probe, uint16_t option_word = 1) {
  const Bytes p0 = parameter_element(word);
  const Bytes part = reference_part(2, 0, {});
  const uint8_t* parts[2] = {p0.data(), part.data()};
  const uint32_t sizes[2] = {static_cast<uint32_t>(p0.size()), static_cast<uint32_t>(part.size())};
  Bytes buffer = probe;
  buffer.resize(probe.size() + CARD_VERIFY_ROOM);
  CardProbeSetup s{};
  Core c;
  EXPECT_EQ(card_parse_reference(parts, sizes, 2, buffer.data(), static_cast<uint32_t>(buffer.size()), 0, &s), ML_OK);
  c.status = card_compare_core(reference.data(), static_cast<uint32_t>(reference.size()), s.work, s.work_size, s.probe,
                               s.probe_length, option_word, s.packing_room, c.v);
  return c;
}

// An extended card template (format 67): minutiae, the grid map in the
// short compact block-map form (cell size, origins, rows, columns, cells)
// and the image information.
Bytes extended_template(const std::vector<Min>& m, const Bytes& map, int quality = 80) {
  Bytes c1 = {map[3], 0, map[7], 0, map[6]};
  c1.insert(c1.end(), map.begin() + 10, map.end());
  return el(0x7F2E, cat({el(0xA1, minutiae_element(m)),
                         el(0xA2, cat({el(0xC1, c1), el(0xC3, {1, 0, 1, 0, 1, static_cast<uint8_t>(quality)})}))}));
}

struct BlobRef {
  DataBlob* p = nullptr;
  explicit BlobRef(DataBlob* b = nullptr) : p(b) {}
  BlobRef(int32_t format, const Bytes& b) : p(blob_create(format, b.data(), static_cast<uint32_t>(b.size()))) {}
  ~BlobRef() { blob_release(p); }
  BlobRef(const BlobRef&) = delete;
  BlobRef& operator=(const BlobRef&) = delete;
};

// A multi-view template (format 80) of the given extended card templates.
DataBlob* gallery_entry(const std::vector<Bytes>& views) {
  MultiViewTemplate* t = mvt_create(255);
  for (const Bytes& v : views) {
    BlobRef view(67, v);
    int32_t key = 0;
    EXPECT_EQ(mvt_add_view(mvt_store(t), view.p, nullptr, 0, 0, &key), ML_OK);
  }
  DataBlob* b = mvt_serialize(t, 0);
  mvt_release(t);
  return b;
}

// An engine whose first two score profiles carry the test models.
struct CardEngine {
  Model model;
  ScoreProfile first{}, second{};
  const ScoreProfile* profiles[3] = {&first, &second, nullptr};
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  explicit CardEngine(bool with_profiles = true) {
    engine = engine_create(ctx, chain_create(), 79, 1, 2, nullptr, 0, nullptr, 0, nullptr);
    first.model = ScoreModel{model.rows30.data(), 30, score_model_eval_linear, nullptr};
    first.thresholds = &model.t;
    second.model = ScoreModel{model.rows9.data(), 9, score_model_eval_linear, nullptr};
    second.thresholds = &model.t;
    if (with_profiles) engine_set_score_profiles(engine, profiles);
  }
  ~CardEngine() {
    engine_set_score_profiles(engine, nullptr);
    engine_release(engine);
    ctx_release(ctx);
  }
  void word(uint16_t w) { param_set(ctx, 0x48caf8b4, w); }
};

}  // namespace


TEST(CardCompareCore, VectorOfAGenuineTemplate) {
  const Core c = core(kWord, genuine_reference(), genuine_probe());
  ASSERT_EQ(c.status, ML_OK);
  const uint16_t* v = c.v;
  EXPECT_GT(v[0], 2000);     // local-structure score
  EXPECT_GT(v[2], 20);       // paired minutiae among the matcher's sub-values
  EXPECT_GT(v[9], 10000);    // the grid maps agree under the matcher's alignment
  EXPECT_GT(v[10], 200);     // overlap cells of the bounded comparison (moved down by two)
  EXPECT_GT(v[11], 300);     // mean joint agreement
  EXPECT_EQ(v[26], 0);
  EXPECT_EQ(v[27], 0);
  EXPECT_EQ(v[28], 0);       // both qualities 80
  EXPECT_EQ(v[29], 36);      // sqrt((100 - 80) x 64)

  const Core imp = core(kWord, genuine_reference(), impostor_probe());
  ASSERT_EQ(imp.status, ML_OK);
  EXPECT_LT(imp.v[0] * 10, v[0]);
  EXPECT_LT(imp.v[9] * 10, v[9]);
}

TEST(CardCompareCore, QualitiesScaleTheGridScoreAndAreLimitedTo100) {
  struct Case {
    int ref_quality, probe_quality;
    uint16_t difference, headroom;
  } cases[] = {
      {80, 80, 0, 36}, {30, 90, 60, 25}, {60, 40, 20, 51}, {100, 100, 0, 0},
      {200, 50, 50, 0},  // stored above 100: taken as 100
      {255, 255, 0, 0},
  };
  const Bytes probe_min = probe_form({genuine_probe_minutiae(finger_a(), 6, -4), genuine_map(6, -4), 50});
  uint16_t grid[2] = {};
  for (const Case& k : cases) {
    const Bytes ref = reference_template(finger_a(), genuine_map(), k.ref_quality);
    const Bytes probe = probe_form({genuine_probe_minutiae(finger_a(), 6, -4), genuine_map(6, -4), k.probe_quality});
    const Core c = core(kWord, ref, probe);
    ASSERT_EQ(c.status, ML_OK) << k.ref_quality << " " << k.probe_quality;
    EXPECT_EQ(c.v[28], k.difference) << k.ref_quality << " " << k.probe_quality;
    EXPECT_EQ(c.v[29], k.headroom) << k.ref_quality << " " << k.probe_quality;
    if (k.ref_quality == 60 && k.probe_quality == 40) grid[0] = c.v[9];
    if (k.ref_quality == 100 && k.probe_quality == 100) grid[1] = c.v[9];
  }
  // The raw grid score is divided by 194 up to quality 60 and by 250 at 100.
  ASSERT_GT(grid[1], 0);
  EXPECT_NEAR(grid[0] * 194.0, grid[1] * 250.0, 250.0);
}

TEST(CardCompareCore, NothingToCompareAndRefusals) {
  const Bytes probe = genuine_probe();
  const Bytes no_map_ref = reference_template(finger_a(), {});
  EXPECT_EQ(core(kWord, no_map_ref, probe).status, ML_NOTHING_TO_COMPARE);
  const Bytes unpacked_ref = probe_form({finger_a(), genuine_map()});
  EXPECT_EQ(core(kWord, unpacked_ref, probe).status, ML_NOTHING_TO_COMPARE);
  // Packing while comparing, yet the reference is pre-packed.
  EXPECT_EQ(core(0x1210, genuine_reference(), probe).status, ML_CORRUPT);
  const Bytes junk = {0x7F, 0x2E, 0x05, 1, 2};
  EXPECT_EQ(core(kWord, junk, probe).status, ML_CORRUPT);

  // A probe without grid map: scored by the local structures alone.
  const Core no_map = core(kWord, genuine_reference(), probe_form({genuine_probe_minutiae(finger_a(), 6, -4), {}}));
  ASSERT_EQ(no_map.status, ML_OK);
  EXPECT_GT(no_map.v[0], 2000);
  for (int i = 9; i < CARD_SCORE_ENTRIES; ++i) EXPECT_EQ(no_map.v[i], 0) << i;

  // A probe map over 256 cells cannot be compared in bounded room.
  const Bytes big = probe_form({genuine_probe_minutiae(finger_a(), 6, -4), world_map(17, 16, 8, 0, 0, 0)});
  EXPECT_EQ(core(kWord, genuine_reference(), big).status, ML_CORRUPT);
  uint16_t v[CARD_SCORE_ENTRIES];
  uint8_t work[16];
  EXPECT_EQ(card_compare_core(nullptr, 0, work, 16, probe.data(), 4, 0, nullptr, v), ML_BAD_ARGUMENT);
}

TEST(CardComparePasses, GenuineAcceptedImpostorRefusedBothPassesAgree) {
  const Bytes p0 = parameter_element(kWord);
  const Bytes part = reference_part(2, 0, {impostor_reference(), genuine_reference()});
  const Pass g = compare(p0, part, genuine_probe());
  ASSERT_EQ(g.status, ML_OK);
  EXPECT_EQ(g.decision, 1);
  EXPECT_EQ(g.index, 1);
  EXPECT_EQ(g.mode, 2);
  EXPECT_GT(g.best_score, 8000u);
  EXPECT_EQ(g.max_score, g.best_score);
  EXPECT_EQ(g.recheck_status, ML_OK);
  EXPECT_EQ(g.recheck_decision, 1);
  EXPECT_EQ(g.recheck_score, g.best_score);
  // The folded score follows the double-precision model of the vector.
  const Core c = core(kWord, genuine_reference(), genuine_probe());
  EXPECT_NEAR(g.best_score, Model::score(c.v), 2.0);

  const Pass i = compare(p0, part, impostor_probe());
  ASSERT_EQ(i.status, ML_OK);
  EXPECT_EQ(i.decision, 0);
  EXPECT_EQ(i.index, -1);
  EXPECT_EQ(i.mode, 0);
  EXPECT_LT(i.max_score, 8000u);

  // A probe without grid map is scored by the 9-entry table against its
  // own thresholds.
  const Pass n = compare(p0, part, probe_form({genuine_probe_minutiae(finger_a(), 6, -4), {}}));
  ASSERT_EQ(n.status, ML_OK);
  EXPECT_EQ(n.decision, 1);
  EXPECT_EQ(n.recheck_score, n.best_score);
}

TEST(CardComparePasses, GroupThresholdFollowsTheClassByte) {
  const Bytes p0 = parameter_element(kWord);
  const Bytes probe = genuine_probe();
  struct Case {
    uint8_t class_byte;
    int status, decision;
  } cases[] = {
      {0, ML_OK, 1},            // T[0] = 8000
      {2, ML_OK, 0},            // b = 2, c = 0: T[2] = 20000
      {8 << 3 | 2, ML_OK, 0},   // (8 T[1] + 24 T[2]) / 32 = 17000
      {20 << 3 | 2, ML_OK, 1},  // (20 T[1] + 12 T[2]) / 32 = 12500
      {7, ML_CORRUPT, 0},       // class index 7 would read past the seven thresholds
  };
  const Pass ref = compare(p0, reference_part(2, 0, {genuine_reference()}), probe);
  ASSERT_GT(ref.best_score, 12500u);
  ASSERT_LT(ref.best_score, 17000u);
  for (const Case& c : cases) {
    const Pass r = compare(p0, reference_part(2, c.class_byte, {genuine_reference()}), probe);
    EXPECT_EQ(r.status, c.status) << int(c.class_byte);
    EXPECT_EQ(r.decision, c.decision) << int(c.class_byte);
    if (c.status == ML_OK) {
      EXPECT_EQ(r.max_score, ref.best_score);
    }
  }
}

TEST(CardComparePasses, ModesMasksAndEmptyReferences) {
  const Bytes p0 = parameter_element(kWord);
  const Bytes probe = genuine_probe();
  // Stored modes 0 and 11-15 would index past the ten groups.
  for (int mode : {0, 11, 15}) {
    const Pass r = compare(p0, reference_part(mode, 0, {genuine_reference()}), probe);
    EXPECT_EQ(r.status, ML_CORRUPT) << mode;
    EXPECT_EQ(r.decision, 0) << mode;
  }
  EXPECT_EQ(compare(p0, reference_part(10, 0, {genuine_reference()}), probe).decision, 1);

  // A mask without the group's mode compares nothing.
  const Bytes masked = cat({el(0xC0, {0x00, 0x08}), probe});  // mode 3 only
  EXPECT_EQ(compare(p0, reference_part(2, 0, {genuine_reference()}), masked).decision, 0);
  EXPECT_EQ(compare(p0, reference_part(3, 0, {genuine_reference()}), masked).decision, 1);

  // An empty reference, and one whose templates lack grid maps.
  const Pass empty = compare(p0, Bytes{0xEF, 0x03, 0xC0, 0x01, 0x02}, probe);
  EXPECT_EQ(empty.status, ML_OK);
  EXPECT_EQ(empty.decision, 0);
  const Bytes no_maps = reference_part(2, 0, {reference_template(finger_a(), {}), reference_template(finger_a(), {})});
  const Pass none = compare(p0, no_maps, probe);
  EXPECT_EQ(none.status, ML_OK);
  EXPECT_EQ(none.decision, 0);
  EXPECT_EQ(none.max_score, 0u);
}

TEST(CardComparePasses, PreselectionComparesTheMostSimilarFirst) {
  const Bytes part = reference_part(2, 0, {impostor_reference(), impostor_reference(), genuine_reference()});
  const Bytes probe = genuine_probe();
  // One candidate a group: in stored order the first template only; ranked
  // by grid-map histograms the genuine one.
  const Pass plain = compare(parameter_element(kWord, 1), part, probe);
  EXPECT_EQ(plain.status, ML_OK);
  EXPECT_EQ(plain.decision, 0);
  const Pass ranked = compare(parameter_element(kWord | CARD_PRESELECT, 1), part, probe);
  EXPECT_EQ(ranked.status, ML_OK);
  EXPECT_EQ(ranked.decision, 1);
  EXPECT_EQ(ranked.index, 2);
  EXPECT_EQ(ranked.recheck_score, ranked.best_score);
  // The lists take L x 20 bytes of the room.
  EXPECT_EQ(compare(parameter_element(kWord | CARD_PRESELECT, 200), part, probe, 2049 + 3999).status, ML_CORRUPT);
}

TEST(CardComparePasses, InputRefusals) {
  const Bytes p0 = parameter_element(kWord);
  const Bytes part = reference_part(2, 0, {genuine_reference()});
  const uint8_t* parts[2] = {p0.data(), part.data()};
  const uint32_t sizes[2] = {static_cast<uint32_t>(p0.size()), static_cast<uint32_t>(part.size())};
  Bytes buffer = genuine_probe();
  buffer.resize(buffer.size() + CARD_VERIFY_ROOM);
  const uint32_t n = static_cast<uint32_t>(buffer.size());
  int decision = 7;
  uint32_t score = 0;
  EXPECT_EQ(card_compare_reference(parts, sizes, 2, buffer.data(), n, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(card_compare_reference(parts, sizes, 2, buffer.data(), 10, 11, &decision, nullptr, nullptr, nullptr, nullptr),
            ML_CORRUPT);
  EXPECT_EQ(decision, 0);
  decision = 0;
  EXPECT_EQ(card_compare_recheck(parts, sizes, 2, buffer.data(), n, 0, &decision, 0, 2, &score), ML_BAD_ARGUMENT);
  decision = 1;
  EXPECT_EQ(card_compare_recheck(parts, sizes, 2, buffer.data(), n, 0, &decision, 0, 2, nullptr), ML_BAD_ARGUMENT);
  // Parameter elements that the comparison refuses: algorithm 17, the
  // score table under C1.
  EXPECT_EQ(compare(parameter_element(0x1111), part, genuine_probe()).status, ML_WRONG_KIND);
  EXPECT_EQ(compare(parameter_element(kWord, 0, 0xC1), part, genuine_probe()).status, ML_CORRUPT);
  // A recheck of a template that does not pass clears the decision.
  const Pass passing = compare(p0, part, genuine_probe());
  EXPECT_EQ(passing.decision, 1) << passing.status << " " << passing.max_score;
  const Bytes probe = genuine_probe();
  std::copy(probe.begin(), probe.end(), buffer.begin());
  const Bytes low_part = reference_part(2, 2, {genuine_reference()});
  const uint8_t* low_parts[2] = {p0.data(), low_part.data()};
  const uint32_t low_sizes[2] = {sizes[0], static_cast<uint32_t>(low_part.size())};
  decision = 1;
  EXPECT_EQ(card_compare_recheck(low_parts, low_sizes, 2, buffer.data(), n, 0, &decision, 0, 2, &score), ML_OK);
  EXPECT_EQ(decision, 0);
  EXPECT_GT(score, 8000u);
}

TEST(CardVerifyGallery, Refusals) {
  CardEngine e;
  e.word(kWord);
  BlobRef probe(67, extended_template(finger_a(), genuine_map()));
  BlobRef entry(gallery_entry({extended_template(finger_a(), genuine_map())}));
  BlobRef not_a_gallery(67, extended_template(finger_a(), genuine_map()));
  BlobRef not_a_probe(76, extended_template(finger_a(), genuine_map()));
  MatchResult* r = match_result_create(1);
  DataBlob* gallery[1] = {entry.p};
  DataBlob* wrong_gallery[1] = {not_a_gallery.p};
  EXPECT_EQ(card_verify_gallery(e.engine, wrong_gallery, 1, probe.p, 5, r), ML_WRONG_KIND);
  EXPECT_EQ(card_verify_gallery(e.engine, gallery, 1, not_a_probe.p, 5, r), ML_WRONG_KIND);
  EXPECT_EQ(card_verify_gallery(nullptr, gallery, 1, probe.p, 5, r), ML_BAD_ARGUMENT);
  EXPECT_EQ(card_verify_gallery(e.engine, gallery, 1, probe.p, 5, nullptr), ML_BAD_ARGUMENT);
  GrayImage* image = image_create(8, 8, 500, 500, nullptr, 0);
  EXPECT_EQ(card_verify_op(e.engine, gallery, 1, probe.p, image, 5, r), ML_WRONG_KIND);
  image_release(image);
  EXPECT_EQ(card_verify_op(e.engine, gallery, 1, nullptr, nullptr, 5, r), ML_BAD_ARGUMENT);
  EXPECT_EQ(card_score_op(e.engine, gallery, 1, nullptr, r), ML_BAD_ARGUMENT);
  // Algorithm 17 from the context.
  e.word(0x1111);
  EXPECT_EQ(card_verify_gallery(e.engine, gallery, 1, probe.p, 5, r), ML_WRONG_KIND);
  e.word(kWord);
  // A level past the FAR table's last is refused by the parameter element
  // builder below 28; 28 itself compares at 27.
  EXPECT_EQ(card_verify_gallery(e.engine, gallery, 1, probe.p, -1, r), ML_BAD_ARGUMENT);
  // No parameter element: an engine without score profiles and no table
  // set, or a table set the library does not carry.
  CardEngine bare(false);
  bare.word(kWord);
  EXPECT_EQ(card_verify_gallery(bare.engine, gallery, 1, probe.p, 5, r), ML_OUT_OF_LIMITS);
  param_set(bare.ctx, 0x27410a62, 1);
  EXPECT_EQ(card_verify_gallery(bare.engine, gallery, 1, probe.p, 5, r), ML_CORRUPT);
  EXPECT_EQ(r->decision, 0);
  match_result_release(r);
}


TEST(CardComparePasses, EveryMatcherSet) {
  // Packed while comparing (46-minutia form), pre-packed 64- and
  // 46-minutia forms; compact and alternative matchers.
  for (uint16_t word : {0x1200, 0x1210, 0x1201, 0x1211, 0x1202, 0x1212}) {
    const int packing = word & 3;
    const Bytes p0 = parameter_element(word);
    const Bytes part = reference_part(2, 0, {reference_template(finger(7, 28), impostor_map(), 80, packing),
                                             reference_template(finger_a(), genuine_map(), 80, packing)});
    const Pass g = compare(p0, part, genuine_probe());
    ASSERT_EQ(g.status, ML_OK) << std::hex << word;
    EXPECT_EQ(g.decision, 1) << std::hex << word;
    EXPECT_EQ(g.index, 1) << std::hex << word;
    EXPECT_EQ(g.recheck_status, ML_OK) << std::hex << word;
    EXPECT_EQ(g.recheck_decision, 1) << std::hex << word;
    EXPECT_EQ(g.recheck_score, g.best_score) << std::hex << word;
    const Pass i = compare(p0, part, impostor_probe());
    ASSERT_EQ(i.status, ML_OK) << std::hex << word;
    EXPECT_EQ(i.decision, 0) << std::hex << word;
    EXPECT_LT(i.max_score, 8000u) << std::hex << word;
    EXPECT_GT(g.best_score, i.max_score + 5000) << std::hex << word;
  }
  // Packing while comparing needs its 1428 bytes in front of the work.
  const Bytes part0 = reference_part(2, 0, {reference_template(finger_a(), genuine_map(), 80, 0)});
  EXPECT_EQ(compare(parameter_element(0x1200), part0, genuine_probe(), 1427 + 1000).status, ML_CORRUPT);
  // A reference without minutiae has nothing to compare.
  const Bytes bare = reference_part(2, 0, {reference_template({}, genuine_map(), 80, 0)});
  const Pass b = compare(parameter_element(0x1200), bare, genuine_probe());
  EXPECT_EQ(b.status, ML_OK);
  EXPECT_EQ(b.decision, 0);
}

// The genuine finger's and an impostor's extended card templates, and the
// genuine finger seen again as the probe.
Bytes genuine_view() { return extended_template(finger_a(), genuine_map()); }
Bytes impostor_view() { return extended_template(finger(7, 28), impostor_map()); }
Bytes genuine_probe_view() { return extended_template(genuine_probe_minutiae(finger_a(), 6, -4), genuine_map(6, -4)); }
Bytes impostor_probe_view() { return extended_template(finger(5, 30), impostor_map()); }

TEST(CardVerifyGallery, GenuineAcceptedImpostorRefused) {
  // Every packing form (references pre-packed or packed while comparing)
  // under both matcher sets.
  for (uint16_t word : {0x1200, 0x1210, 0x1201, 0x1211, 0x1202, 0x1212, 0x1208}) {
    SCOPED_TRACE(word);
    CardEngine e;
    e.word(word);
    BlobRef other(gallery_entry({impostor_view()}));
    BlobRef finger_entry(gallery_entry({impostor_view(), genuine_view()}));
    DataBlob* gallery[2] = {other.p, finger_entry.p};
    BlobRef genuine(67, genuine_probe_view()), impostor(67, impostor_probe_view());

    MatchResult* r = match_result_create(2);
    ASSERT_EQ(card_verify_op(e.engine, gallery, 2, genuine.p, nullptr, 5, r), ML_OK) << word;
    EXPECT_EQ(r->decision, 1);
    EXPECT_EQ(r->best_candidate, 1);
    EXPECT_EQ(r->best_view, 1);
    EXPECT_EQ(r->transform, nullptr);
    EXPECT_EQ(r->score, 0);  // scores are kept at level 28 only
    match_result_release(r);

    r = match_result_create(2);
    ASSERT_EQ(card_verify_gallery(e.engine, gallery, 2, impostor.p, 5, r), ML_OK);
    EXPECT_EQ(r->decision, 0);
    match_result_release(r);

    // Level 28 compares at 27, where nothing passes, and keeps the best
    // score seen.
    r = match_result_create(2);
    ASSERT_EQ(card_verify_gallery(e.engine, gallery, 2, genuine.p, 28, r), ML_OK);
    EXPECT_EQ(r->decision, 0);
    EXPECT_GT(r->score, 8000);
    EXPECT_EQ(r->best_candidate, 1);
    EXPECT_EQ(r->best_view, -1);
    const uint16_t genuine_score = r->score;
    match_result_release(r);
    r = match_result_create(2);
    ASSERT_EQ(card_score_op(e.engine, gallery, 2, genuine.p, r), ML_OK);
    EXPECT_EQ(r->score, genuine_score);
    EXPECT_EQ(r->best_raw_score, genuine_score);
    match_result_release(r);
    r = match_result_create(2);
    ASSERT_EQ(card_score_op(e.engine, gallery, 2, impostor.p, r), ML_OK);
    EXPECT_EQ(r->decision, 0);
    EXPECT_LT(r->score + 5000, genuine_score);
    EXPECT_EQ(r->best_raw_score, r->score);
    match_result_release(r);

    // The thread's card flags now hold the word: the next verification
    // takes it as its default.
    EXPECT_EQ(card_flags_get(), word);
  }
}

TEST(CardVerifyGallery, ProbeRewrappedToItsMinutiaeComparesNothingWithoutTheAlternativeSet) {
  CardEngine e;
  e.word(0x1200);
  param_set(e.ctx, 0xbf15e9c0, 1);
  BlobRef entry(gallery_entry({genuine_view()}));
  DataBlob* gallery[1] = {entry.p};
  BlobRef genuine(67, genuine_probe_view());
  MatchResult* r = match_result_create(1);
  ASSERT_EQ(card_verify_gallery(e.engine, gallery, 1, genuine.p, 28, r), ML_OK);
  EXPECT_EQ(r->decision, 0);
  EXPECT_EQ(r->score, 0);
  match_result_release(r);
  // With the alternative set the minutiae alone decide.
  e.word(0x1210);
  r = match_result_create(1);
  ASSERT_EQ(card_verify_gallery(e.engine, gallery, 1, genuine.p, 5, r), ML_OK);
  EXPECT_EQ(r->decision, 1);
  match_result_release(r);
}

TEST(CardVerifyGallery, AllocationFailuresAnswerNoMemoryAndLeakNothing) {
  CardEngine e;
  e.word(0x1211);
  param_set(e.ctx, 0xbf15e9c0, 1);  // the re-wrap allocates too
  param_set_360(e.ctx, 0);
  BlobRef entry(gallery_entry({impostor_view(), genuine_view()}));
  DataBlob* gallery[1] = {entry.p};
  BlobRef genuine(67, genuine_probe_view());
  zyl::test::sweep_allocation_failures([&] {
    MatchResult* r = match_result_create(1);
    if (!r) {
      zyl::test::allocation_failed();
      return;
    }
    const int st = card_verify_gallery(e.engine, gallery, 1, genuine.p, 28, r);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
    } else {
      EXPECT_EQ(st, ML_OK);
      EXPECT_EQ(r->decision, 0);  // nothing passes level 27
      EXPECT_GT(r->score, 8000);
    }
    match_result_release(r);
  });
}

// Card comparison byte strings: class bytes and group thresholds, score
// tables and their weighted sum, the parameter element, part location,
// probe forms and references built from multi-view templates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "support/allocation_sweep.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"
#include "support/tlv_bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

using zyl::test::cat;
using zyl::test::el;

struct Blob {
  DataBlob* p = nullptr;
  ~Blob() { blob_release(p); }
  Bytes bytes() const { return p ? Bytes(blob_data(p), blob_data(p) + blob_size(p)) : Bytes{}; }
};

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// A card template with block maps (short-form C1 of 3 x 2 cells, origins
// -2 and 3), a packed image and image information of quality 77.
Bytes card_template(bool with_maps = true) {
  const Bytes minutiae = el(0xA1, el(0x90, {10, 20, 0x41, 30, 40, 0x42}));
  const Bytes c1 = el(0xC1, {8, 0xFE, 2, 3, 3, 10, 60, 11, 61, 12, 62, 13, 63, 14, 64, 15, 65});
  const Bytes rest = cat({el(0xC2, {1, 2, 3}), el(0xC3, {1, 0, 1, 0, 1, 77})});
  return el(0x7F2E, cat({minutiae, el(0xA2, with_maps ? cat({c1, rest}) : rest)}));
}

TEST(CardClass, ByteAndGroupThreshold) {
  struct Case {
    uint32_t n;
    uint8_t byte;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 16 << 3 | 2}, {4, 2}, {5, 24 << 3 | 3},
               {9, 28 << 3 | 4}, {33, 31 << 3 | 6}, {64, 6}};
  for (const Case& c : cases) EXPECT_EQ(card_class_byte(c.n), c.byte) << c.n;

  const uint16_t T[7] = {100, 200, 300, 400, 500, 600, 700};
  uint32_t t = 0;
  EXPECT_EQ(card_group_threshold(0, T, &t), ML_OK);
  EXPECT_EQ(t, 100u);
  EXPECT_EQ(card_group_threshold(16 << 3 | 2, T, &t), ML_OK);
  EXPECT_EQ(t, (200u * 16 + 300u * 16) >> 5);
  EXPECT_EQ(card_group_threshold(31 << 3 | 6, T, &t), ML_OK);
  EXPECT_EQ(t, (600u * 31 + 700u * 1) >> 5);
  EXPECT_EQ(card_group_threshold(7, T, &t), ML_CORRUPT);  // class index 7 reads past T
}

std::vector<ScoreLinearRow> random_model(std::mt19937& rng, int n) {
  std::vector<ScoreLinearRow> rows(n);
  for (ScoreLinearRow& r : rows) {
    r.minimum = static_cast<uint16_t>(rng() % 200);
    r.maximum = static_cast<uint16_t>(r.minimum + 100 + rng() % 4000);
    r.mean = static_cast<uint32_t>((r.minimum + rng() % (r.maximum - r.minimum)) * 65536.0);
    r.spread = static_cast<uint32_t>((20 + rng() % 800) * 65536.0);
    r.weight = static_cast<int16_t>(static_cast<int>(rng() % 2001) - 1000);
  }
  return rows;
}

double double_model(const std::vector<ScoreLinearRow>& rows, const uint16_t* v) {
  double B = 0;
  for (const ScoreLinearRow& r : rows) B += std::abs(r.weight);
  double s = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const double x = std::clamp<double>(v[i], rows[i].minimum, rows[i].maximum);
    s += rows[i].weight * (x - rows[i].mean / 65536.0) / (rows[i].spread / 65536.0);
  }
  return std::clamp(4096 + 32768 / B * s, 0.0, 65535.0);
}

TEST(CardScoreTable, WeightedSumFollowsTheModel) {
  std::mt19937 rng(29);
  double total_miss = 0;
  int scored = 0;
  for (int n : {30, 9}) {
    for (int trial = 0; trial < 40; ++trial) {
      const auto rows = random_model(rng, n);
      Bytes table(10 * n + 4);
      ASSERT_EQ(card_score_table_build(rows.data(), n, table.data()), ML_OK);
      for (int i = 0; i < n; ++i) {
        EXPECT_EQ(be16(&table[10 * i]), rows[i].minimum);
        EXPECT_EQ(table[10 * i + 8], 0);
      }
      uint16_t v[30];
      for (int k = 0; k < 10; ++k) {
        for (int i = 0; i < n; ++i) v[i] = static_cast<uint16_t>(rng() % 4500);
        uint32_t score = 0;
        ASSERT_EQ(card_score_weighted_sum(table.data(), n, v, &score), ML_OK);
        // The card arithmetic floors every term (30 x under 1/32), the
        // final shift (under 1) and the offset (under 1, the other way):
        // one score may miss by up to 2, the mean miss stays within 1.
        const double miss = score - double_model(rows, v);
        EXPECT_NEAR(miss, 0.0, 2.0) << n << " " << trial;
        total_miss += std::abs(miss);
        ++scored;
      }
    }
  }
  EXPECT_LT(total_miss / scored, 1.0);
}

TEST(CardScoreTable, ExponentsAndRefusals) {
  std::vector<ScoreLinearRow> rows(30, ScoreLinearRow{0, 1000, 0, 65536 * 10, 0});
  Bytes table(304);
  EXPECT_EQ(card_score_table_build(rows.data(), 30, table.data()), ML_CORRUPT);  // no weight
  EXPECT_EQ(card_score_table_build(rows.data(), 12, table.data()), ML_BAD_ARGUMENT);
  // A tiny spread needs an exponent past 27: the sum shifts left.
  rows[0].weight = 100;
  rows[0].spread = 1;
  ASSERT_EQ(card_score_table_build(rows.data(), 30, table.data()), ML_OK);
  EXPECT_GT(table[9], 27);
  EXPECT_LE(table[9], 32);
  uint16_t v[30] = {};
  uint32_t score = 0;
  EXPECT_EQ(card_score_weighted_sum(table.data(), 30, v, &score), ML_OK);
  EXPECT_EQ(score, 4096u);  // a zero vector at mean 0
  table[9] = 33;
  EXPECT_EQ(card_score_weighted_sum(table.data(), 30, v, &score), ML_CORRUPT);
}

struct Params {
  std::vector<ScoreLinearRow> rows30, rows9;
  FarThresholdTable t{}, t_alt{};
  Params() {
    std::mt19937 rng(3);
    rows30 = random_model(rng, 30);
    rows9 = random_model(rng, 9);
    for (int c = 0; c < 7; ++c)
      for (int l = 0; l < 28; ++l) {
        t.t[c][l] = static_cast<uint16_t>(1000 + 100 * c + l);
        t_alt.t[c][l] = static_cast<uint16_t>(2000 + 100 * c + l);
      }
  }
  int build(uint16_t word, Blob& out, uint16_t part0 = 1024, int level = 5, int list = 7,
            uint16_t tag = 0xC4) {
    return card_params_from_models(word, rows30.data(), &t, rows9.data(), &t_alt, tag, 2, part0,
                                   4000, level, 1, list, &out.p);
  }
};

TEST(CardParams, ElementLayout) {
  Params p;
  Blob b;
  ASSERT_EQ(p.build(0x1208, b), ML_OK);
  EXPECT_EQ(blob_type(b.p), CARD_FORMAT);
  const Bytes e = b.bytes();
  TlvElement ef{}, c{};
  ASSERT_EQ(tlv_read_element(e.data(), &ef, static_cast<uint32_t>(e.size())), e.size());
  EXPECT_EQ(ef.tag, 0xEF);
  struct Child {
    uint16_t tag;
    uint32_t length;
  } expect[] = {{0xC0, 9}, {0xC4, 304}, {0xC2, 15}, {0xC3, 3}};
  const uint8_t* at = ef.value;
  for (const Child& x : expect) {
    const uint32_t n = tlv_read_element(at, &c, static_cast<uint32_t>(ef.value + ef.length - at));
    ASSERT_NE(n, 0u);
    EXPECT_EQ(c.tag, x.tag);
    EXPECT_EQ(c.length, x.length);
    if (c.tag == 0xC0) {
      EXPECT_EQ(Bytes(c.value, c.value + 9), (Bytes{0x80, 0x12, 0x08, 0, 2, 0x04, 0, 0x0F, 0xA0}));
    }
    if (c.tag == 0xC2) {
      EXPECT_EQ(c.value[0], 5);
      EXPECT_EQ(be16(c.value + 1), 1005);
      EXPECT_EQ(be16(c.value + 13), 1605);
    }
    if (c.tag == 0xC3) {
      EXPECT_EQ(Bytes(c.value, c.value + 3), (Bytes{0, 1, 7}));
    }
    at += n;
  }
  EXPECT_EQ(at, ef.value + ef.length);

  // The alternative set adds C5 and C6; part 0 size 0 becomes the size
  // rounded up to 16.
  Blob alt;
  ASSERT_EQ(p.build(0x1210, alt, 0), ML_OK);
  const Bytes a = alt.bytes();
  uint16_t fields[5];
  int top = 0, mode = -1;
  ASSERT_EQ(card_read_c0_header(a.data(), static_cast<uint32_t>(a.size()), &top, &mode, fields), ML_OK);
  EXPECT_EQ(top, 1);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(fields[2], (a.size() + 15) / 16 * 16);
  const uint16_t c6_path[2] = {0xEF, 0xC6};
  ASSERT_EQ(tlv_find_path(a.data(), static_cast<uint32_t>(a.size()), c6_path, 2, &c), 1);
  EXPECT_EQ(be16(c.value + 1), 2005);

  Blob none;
  EXPECT_EQ(p.build(0x1200, none, 1024, 28), ML_BAD_ARGUMENT);
  EXPECT_EQ(p.build(0x1200, none, 1024, 5, 256), ML_BAD_ARGUMENT);
  EXPECT_EQ(none.p, nullptr);
}

TEST(CardParams, BuiltInTableSets) {
  DataBlob* out = nullptr;
  EXPECT_EQ(card_params_from_tables(0x1100, 1, 2, 1024, 4000, 5, 0, 8, &out), ML_WRONG_KIND);
  EXPECT_EQ(card_params_from_tables(0x1200, 0, 2, 1024, 4000, 5, 0, 8, &out), ML_OUT_OF_LIMITS);
  EXPECT_EQ(card_params_from_tables(0x1200, 6, 2, 1024, 4000, 5, 0, 8, &out), ML_OUT_OF_LIMITS);
  EXPECT_EQ(card_params_from_tables(0x1200, 1, 2, 1024, 4000, 28, 0, 8, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(card_params_from_tables(0x1200, 1, 2, 1024, 4000, 5, 0, 300, &out), ML_BAD_ARGUMENT);
  // No built-in set is carried: a refusal, never success without an element.
  for (int set = 1; set <= 5; ++set)
    EXPECT_EQ(card_params_from_tables(0x1200, set, 2, 1024, 4000, 5, 0, 8, &out), ML_WRONG_KIND);
  EXPECT_EQ(out, nullptr);
}

TEST(CardParams, HeaderReaders) {
  uint16_t v[5];
  const Bytes c0 = el(0xC0, {0x80, 0x12, 0x00, 0, 3, 0x01, 0, 0x02, 0, 0xAB, 0xCD});
  ASSERT_EQ(card_parse_params(c0.data(), static_cast<uint32_t>(c0.size()), v), ML_OK);
  EXPECT_EQ(v[0], 0x1200);
  EXPECT_EQ(v[1], 3);
  EXPECT_EQ(v[4], 0xABCD);
  const Bytes short_c0 = el(0xC0, Bytes(10, 0));
  EXPECT_EQ(card_parse_params(short_c0.data(), 12, v), ML_UNAVAILABLE);
  const Bytes other = el(0xC1, Bytes(11, 0));
  EXPECT_EQ(card_parse_params(other.data(), 13, v), ML_UNAVAILABLE);

  int top = -1, mode = -1;
  uint16_t f[5];
  ASSERT_EQ(card_read_c0_header(c0.data(), static_cast<uint32_t>(c0.size()), &top, &mode, f), ML_OK);
  EXPECT_EQ(f[4], 0xABCD);  // bare and longer than 10 bytes
  const Bytes group = el(0xEF, cat({el(0xC0, {0x83, 0x12}), el(0xEE, {})}));
  ASSERT_EQ(card_read_c0_header(group.data(), static_cast<uint32_t>(group.size()), &top, &mode, f), ML_OK);
  EXPECT_EQ(top, 1);
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(card_read_c0_header(group.data(), 3, &top, &mode, f), ML_CORRUPT);
  EXPECT_EQ(card_read_c0_header(other.data(), 13, &top, &mode, f), ML_CORRUPT);
}

// A multi-view template blob of n views of the card template.
DataBlob* multi_view(int n, const Bytes& view) {
  MultiViewTemplate* t = mvt_create(255);
  KwzdContainer* store = mvt_store(t);
  DataBlob* v = blob_create(67, view.data(), static_cast<uint32_t>(view.size()));
  for (int i = 0; i < n; ++i) {
    int32_t key = 0;
    EXPECT_EQ(mvt_add_view(store, v, nullptr, 0, 0, &key), ML_OK);
  }
  blob_release(v);
  DataBlob* b = mvt_serialize(t, 0);
  mvt_release(t);
  return b;
}

TEST(CardProbeForm, BlockMapsBecomeGridMapAndOrigin) {
  const Bytes t = card_template();
  Blob in{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  Blob form{card_template_to_probe_form(in.p, 0)};
  ASSERT_NE(form.p, nullptr);
  EXPECT_EQ(blob_type(form.p), CARD_FORMAT);
  const Bytes f = form.bytes();
  const uint16_t c1[3] = {0x7F2E, 0xA2, 0xC1}, c2[3] = {0x7F2E, 0xA2, 0xC2};
  TlvElement e{};
  EXPECT_EQ(tlv_find_path(f.data(), static_cast<uint32_t>(f.size()), c1, 3, &e), 0);
  EXPECT_EQ(tlv_find_path(f.data(), static_cast<uint32_t>(f.size()), c2, 3, &e), 0);
  TlvElement packed{}, map{};
  uint8_t quality = 0;
  int8_t origin[2] = {};
  ASSERT_EQ(card_find_probe_elements(f.data(), static_cast<uint32_t>(f.size()), 0, &packed,
                                     &quality, origin, &map),
            ML_OK);
  EXPECT_EQ(quality, 77);
  EXPECT_EQ(origin[0], -2);
  EXPECT_EQ(origin[1], 3);
  Bytes expected_map = {0x5B, 0xDA, 0x02, 0x08, 0x01, 0xF4, 3, 2, 0, 0,
                        10, 60, 11, 61, 12, 62, 13, 63, 14, 64, 15, 65};
  EXPECT_EQ(Bytes(map.value, map.value + map.length), expected_map);
  EXPECT_EQ(packed.value, nullptr);
  EXPECT_EQ(card_template_extent(f.data(), static_cast<uint32_t>(f.size()), 0), f.size());

  // Without block maps: no grid map, no origin.
  const Bytes plain = card_template(false);
  Blob in2{blob_create(67, plain.data(), static_cast<uint32_t>(plain.size()))};
  Blob form2{card_template_to_probe_form(in2.p, 0)};
  ASSERT_NE(form2.p, nullptr);
  const Bytes f2 = form2.bytes();
  ASSERT_EQ(card_find_probe_elements(f2.data(), static_cast<uint32_t>(f2.size()), 0, nullptr,
                                     &quality, origin, &map),
            ML_OK);
  EXPECT_EQ(map.value, nullptr);
  EXPECT_EQ(origin[0], 0);

  Blob wrong{blob_create(66, t.data(), static_cast<uint32_t>(t.size()))};
  EXPECT_EQ(card_template_to_probe_form(wrong.p, 0), nullptr);
  EXPECT_EQ(card_template_to_probe_form(in.p, 3), nullptr);
}

TEST(CardProbe, MaskPrefixAndRefusals) {
  const Bytes t = card_template();
  Blob in{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  Blob plain, all, masked, bad;
  ASSERT_EQ(card_probe_from_template(0x1200, in.p, &plain.p, 0), ML_OK);
  ASSERT_EQ(card_probe_from_template(0x1200, in.p, &all.p, 2046), ML_OK);
  EXPECT_EQ(plain.bytes(), all.bytes());
  EXPECT_EQ(plain.bytes()[0], 0x7F);
  ASSERT_EQ(card_probe_from_template(0x1203, in.p, &masked.p, 0x0004), ML_OK);
  const Bytes m = masked.bytes();
  EXPECT_EQ(Bytes(m.begin(), m.begin() + 4), (Bytes{0xC0, 0x02, 0x00, 0x04}));
  EXPECT_EQ(Bytes(m.begin() + 4, m.end()), plain.bytes());  // packing bits cleared
  EXPECT_EQ(card_template_extent(m.data(), static_cast<uint32_t>(m.size()), 0), m.size() - 4);
  EXPECT_EQ(card_probe_from_template(0x1200, in.p, &bad.p, 0x0800), ML_BAD_ARGUMENT);
  EXPECT_EQ(card_probe_from_template(0x1200, in.p, &bad.p, 0x0001), ML_BAD_ARGUMENT);
  EXPECT_EQ(card_probe_from_template(0x1100, in.p, &bad.p, 0), ML_WRONG_KIND);
  const Bytes junk = {1, 2, 3};
  Blob j{blob_create(67, junk.data(), 3)};
  EXPECT_EQ(card_probe_from_template(0x1200, j.p, &bad.p, 0), ML_UNAVAILABLE);
  EXPECT_EQ(bad.p, nullptr);
}

TEST(CardReference, ClassBytesSizeLimitAndTooManyViews) {
  const Bytes t = card_template();
  struct Case {
    int views;
    uint8_t class_byte;
  } cases[] = {{1, 0}, {3, 16 << 3 | 2}};
  for (const Case& c : cases) {
    Blob mvt{multi_view(c.views, t)};
    Blob ref;
    int n = -1;
    ASSERT_EQ(card_reference_from_mvt(0x1200, mvt.p, 4, 0, &ref.p, &n), ML_OK);
    EXPECT_EQ(n, c.views);
    const Bytes r = ref.bytes();
    TlvElement ef{}, c0{};
    ASSERT_EQ(tlv_read_element(r.data(), &ef, static_cast<uint32_t>(r.size())), r.size());
    ASSERT_NE(tlv_read_element(ef.value, &c0, ef.length), 0u);
    EXPECT_EQ(Bytes(c0.value, c0.value + c0.length), (Bytes{0x84, c.class_byte}));
    // Every EE holds one probe form.
    int ee = 0;
    for (const uint8_t* at = c0.value + c0.length; at < ef.value + ef.length; ++ee) {
      TlvElement e{};
      const uint32_t k = tlv_read_element(at, &e, static_cast<uint32_t>(ef.value + ef.length - at));
      ASSERT_NE(k, 0u);
      EXPECT_EQ(e.tag, 0xEE);
      EXPECT_EQ(card_template_extent(e.value, e.length, 0), e.length);
      at += k;
    }
    EXPECT_EQ(ee, c.views);
  }

  Blob three{multi_view(3, t)};
  Blob limited;
  int n = -1;
  ASSERT_EQ(card_reference_from_mvt(0x1200, three.p, 2, 20, &limited.p, &n), ML_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(limited.bytes(), (Bytes{0xEF, 0x04, 0xC0, 0x02, 0x82, 0x00}));

  Blob many{multi_view(65, t)};
  Blob none;
  EXPECT_EQ(card_reference_from_mvt(0x1200, many.p, 2, 0, &none.p, &n), ML_TOO_MANY);
  EXPECT_EQ(none.p, nullptr);

  Blob empty;
  ASSERT_EQ(card_reference_from_mvt(0x1200, nullptr, 5, 0, &empty.p, &n), ML_OK);
  EXPECT_EQ(empty.bytes(), (Bytes{0xEF, 0x03, 0xC0, 0x01, 0x05}));
  EXPECT_EQ(card_reference_from_mvt(0x1200, three.p, 11, 0, &none.p, &n), ML_BAD_ARGUMENT);
  Blob not_mvt{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  EXPECT_EQ(card_reference_from_mvt(0x1200, not_mvt.p, 2, 0, &none.p, &n), ML_BAD_ARGUMENT);
}

TEST(CardInput, PartsAreLocatedInListsAndInOneBuffer) {
  Params p;
  Blob params, ref;
  ASSERT_EQ(p.build(0x1200, params, 0), ML_OK);
  const Bytes t = card_template();
  Blob mvt{multi_view(2, t)};
  int n = 0;
  ASSERT_EQ(card_reference_from_mvt(0x1200, mvt.p, 3, 0, &ref.p, &n), ML_OK);
  // card_params_from_models wrote part size 4000.
  Bytes p0 = params.bytes(), p1 = ref.bytes();
  const uint8_t* parts[2] = {p0.data(), p1.data()};
  const uint32_t sizes[2] = {static_cast<uint32_t>(p0.size()), static_cast<uint32_t>(p1.size())};
  TlvElement e{};
  ASSERT_EQ(card_read_params_header(parts, sizes, 2, 1, &e), ML_OK);
  EXPECT_EQ(e.value + e.length, p1.data() + p1.size());
  ASSERT_EQ(card_read_params_header(parts, sizes, 2, 0, &e), ML_OK);
  EXPECT_EQ(card_read_params_header(parts, sizes, 2, 2, &e), ML_CORRUPT);  // only two parts
  EXPECT_EQ(card_read_params_header(parts, sizes, 3, 1, &e), ML_CORRUPT);  // count differs

  // One buffer: part 0 padded to its stated size, then part 1.
  uint16_t f[5];
  ASSERT_EQ(card_read_c0_header(p0.data(), static_cast<uint32_t>(p0.size()), nullptr, nullptr, f), ML_OK);
  Bytes one = p0;
  one.resize(f[2], 0);
  one.insert(one.end(), p1.begin(), p1.end());
  const uint8_t* single[1] = {one.data()};
  const uint32_t single_size[1] = {static_cast<uint32_t>(one.size())};
  ASSERT_EQ(card_read_params_header(single, single_size, 1, 1, &e), ML_OK);
  EXPECT_EQ(e.value + e.length, one.data() + one.size());

  // Algorithm information: part 0's header and the modes of the parts.
  uint8_t info[13];
  uint32_t size = 0;
  EXPECT_EQ(card_get_algorithm_info(parts, sizes, 2, info, 12, &size), ML_CORRUPT);
  const int st = card_get_algorithm_info(parts, sizes, 2, info, 13, &size);
  EXPECT_EQ(st, card_flags_get() == 0x1200 ? ML_OK : ML_WRONG_KIND);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(Bytes(info, info + 4), (Bytes{0xC0, 0x0B, 0x80, 0x12}));
  EXPECT_EQ(be16(info + 11), 1 << 3);
  ASSERT_EQ(card_get_algorithm_info(nullptr, nullptr, 0, info, 13, &size), ML_OK);
  EXPECT_EQ(Bytes(info, info + 13), (Bytes{0xC0, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CardProbeSetupTest, ProbeMovesToTheEndAndPartZeroIsRead) {
  Params p;
  const Bytes t = card_template();
  Blob in{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  Blob probe, ref;
  ASSERT_EQ(card_probe_from_template(0x1200, in.p, &probe.p, 0x0006), ML_OK);
  Blob mvt{multi_view(1, t)};
  int n = 0;
  ASSERT_EQ(card_reference_from_mvt(0x1200, mvt.p, 2, 0, &ref.p, &n), ML_OK);
  const Bytes pr = probe.bytes(), p1 = ref.bytes();

  struct Case {
    const char* what;
    uint16_t word;
    uint16_t tag;
    uint32_t room;
    int status;
  } cases[] = {
      {"plain", 0x1208, 0xC4, 3544, ML_OK},
      {"alternative set", 0x1211, 0xC4, 100, ML_OK},  // pre-packed: no packing room needed
      {"score table under C1", 0x1200, 0xC1, 3544, ML_CORRUPT},
      {"algorithm 17", 0x1100, 0xC4, 3544, ML_WRONG_KIND},
      {"no packing room", 0x1200, 0xC4, 1423, ML_CORRUPT},  // with the mask: 1427
  };
  for (const Case& c : cases) {
    Blob params;
    ASSERT_EQ(p.build(c.word, params, 0, 5, 0, c.tag), ML_OK) << c.what;
    const Bytes p0 = params.bytes();
    const uint8_t* parts[2] = {p0.data(), p1.data()};
    const uint32_t sizes[2] = {static_cast<uint32_t>(p0.size()), static_cast<uint32_t>(p1.size())};
    Bytes buffer(5 + pr.size() + c.room, 0xAA);
    std::copy(pr.begin(), pr.end(), buffer.begin() + 5);
    CardProbeSetup s{};
    EXPECT_EQ(card_parse_reference(parts, sizes, 2, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                   5, &s),
              c.status)
        << c.what;
    EXPECT_EQ(card_flags_get(), c.word) << c.what;
    if (c.status != ML_OK) continue;
    EXPECT_EQ(s.mode_mask, 6);
    EXPECT_EQ(s.probe + s.probe_length, buffer.data() + buffer.size());
    EXPECT_EQ(Bytes(s.probe, s.probe + s.probe_length), Bytes(pr.begin() + 4, pr.end()));
    EXPECT_EQ(s.thresholds[0], 1005);
    EXPECT_EQ(s.list_length, (c.word & 0x08) ? 8 : 32);  // the element asked for the default
    EXPECT_EQ(s.option_word, 1);
    ASSERT_NE(s.table, nullptr);
    if (c.word & 0x10) {
      EXPECT_NE(s.alt_table, nullptr);
      EXPECT_EQ(s.alt_thresholds[6], 2605);
      EXPECT_EQ(s.packing_room, nullptr);
    } else {
      EXPECT_EQ(s.packing_room, buffer.data() + 5);
      EXPECT_EQ(s.work, buffer.data() + 5 + CARD_PACKING_ROOM);
    }
    EXPECT_EQ(s.work + s.work_size, s.probe);
  }

  // A probe that is not a 7F2E element.
  Blob params;
  ASSERT_EQ(p.build(0x1200, params), ML_OK);
  const Bytes p0 = params.bytes();
  const uint8_t* parts[1] = {p0.data()};
  const uint32_t sizes[1] = {static_cast<uint32_t>(p0.size())};
  Bytes junk = el(0x7F2F, {1, 2, 3});
  junk.resize(2000, 0);
  CardProbeSetup s{};
  EXPECT_EQ(card_parse_reference(parts, sizes, 1, junk.data(), static_cast<uint32_t>(junk.size()), 0, &s),
            ML_CORRUPT);
}

TEST(CardAllocationFailure, BuildersAnswerNoMemoryAndLeakNothing) {
  Params p;
  const Bytes t = card_template();
  Blob in{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  Blob mvt{multi_view(3, t)};
  Blob whole_ref, whole_probe, whole_params;
  int n = 0;
  ASSERT_EQ(card_reference_from_mvt(0x1200, mvt.p, 2, 0, &whole_ref.p, &n), ML_OK);
  ASSERT_EQ(card_probe_from_template(0x1200, in.p, &whole_probe.p, 6), ML_OK);
  ASSERT_EQ(p.build(0x1210, whole_params, 0), ML_OK);

  zyl::test::sweep_allocation_failures([&] {
    Blob ref;
    int count = -1;
    const int st = card_reference_from_mvt(0x1200, mvt.p, 2, 0, &ref.p, &count);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
      EXPECT_EQ(ref.p, nullptr);
    } else {
      ASSERT_EQ(st, ML_OK);
      EXPECT_EQ(ref.bytes(), whole_ref.bytes());
    }
  });
  zyl::test::sweep_allocation_failures([&] {
    Blob probe;
    const int st = card_probe_from_template(0x1200, in.p, &probe.p, 6);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
      EXPECT_EQ(probe.p, nullptr);
    } else {
      EXPECT_EQ(probe.bytes(), whole_probe.bytes());
    }
  });
  zyl::test::sweep_allocation_failures([&] {
    Blob params;
    const int st = p.build(0x1210, params, 0);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
      EXPECT_EQ(params.p, nullptr);
    } else {
      EXPECT_EQ(params.bytes(), whole_params.bytes());
    }
  });
}

TEST(CardParams, FromTheEnginesFirstProfile) {
  Params p;
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 79, 1, 2, nullptr, 0, nullptr, 0, nullptr);
  ASSERT_NE(engine, nullptr);
  Blob none;
  // No profiles: nothing to build from, and no success without an element.
  EXPECT_EQ(card_params_from_engine(engine, 0x1200, 2, 1024, 4000, 5, 1, 7, &none.p), ML_WRONG_KIND);
  ScoreProfile first{}, second{};
  first.model = ScoreModel{p.rows30.data(), 30, score_model_eval_linear, nullptr};
  first.thresholds = &p.t;
  second.model = ScoreModel{p.rows9.data(), 9, score_model_eval_linear, nullptr};
  second.thresholds = &p.t_alt;
  const ScoreProfile* list[3] = {&first, &second, nullptr};
  engine_set_score_profiles(engine, list);
  for (uint16_t word : {0x1200, 0x1210}) {
    Blob from_engine, from_models;
    ASSERT_EQ(card_params_from_engine(engine, word, 2, 1024, 4000, 5, 1, 7, &from_engine.p), ML_OK);
    ASSERT_EQ(p.build(word, from_models), ML_OK);
    EXPECT_EQ(from_engine.bytes(), from_models.bytes()) << word;
  }
  EXPECT_EQ(card_params_from_engine(engine, 0x1200, 2, 1024, 4000, 28, 1, 7, &none.p), ML_BAD_ARGUMENT);
  const ScoreProfile* short_list[2] = {&second, nullptr};  // a 9-row model first
  engine_set_score_profiles(engine, short_list);
  EXPECT_EQ(card_params_from_engine(engine, 0x1200, 2, 1024, 4000, 5, 1, 7, &none.p), ML_WRONG_KIND);
  EXPECT_EQ(none.p, nullptr);
  engine_set_score_profiles(engine, nullptr);
  engine_release(engine);
  ctx_release(ctx);
}

// A card template with four minutiae in A1, their qualities in 82, block
// maps, a packed image and image information.
Bytes card_with_qualities() {
  const Bytes minutiae = el(0xA1, el(0x90, {60, 60, 0x01, 70, 62, 0x12, 64, 75, 0x23, 80, 80, 0x34}));
  const Bytes quality = el(0x82, {0x98, 0xEC, 0x15, 0xE1, 0xA1, 0xB2, 0xC3, 0xD4});
  const Bytes c1 = el(0xC1, {8, 0xFE, 2, 3, 3, 10, 60, 11, 61, 12, 62, 13, 63, 14, 64, 15, 65});
  const Bytes a2 = el(0xA2, cat({c1, el(0xC2, {1, 2, 3}), el(0xC3, {1, 0, 1, 0, 1, 77})}));
  return el(0x7F2E, cat({minutiae, quality, a2}));
}

using Prepare = int (*)(uint8_t*, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint16_t, uint16_t*, LocalStructCopy);

Bytes packed_form(Prepare prepare, const uint8_t* card, uint32_t length) {
  Bytes work(2064), out(LOCALSTRUCT64_SIZE);
  uint16_t size = 0;
  EXPECT_EQ(prepare(work.data(), 2064, card, length, out.data(), LOCALSTRUCT64_SIZE, &size, localstruct64_copy), ML_OK);
  out.resize(size);
  return out;
}

Bytes value_of(const Bytes& bytes, std::initializer_list<uint16_t> path) {
  const std::vector<uint16_t> p(path);
  TlvElement e{};
  if (tlv_find_path(bytes.data(), static_cast<uint32_t>(bytes.size()), p.data(), static_cast<int>(p.size()), &e) != 1 ||
      !e.value)
    return {};
  return Bytes(e.value, e.value + e.length);
}

TEST(CardProbeForm, PackingFormsReplaceTheMinutiae) {
  const Bytes t = card_with_qualities();
  Blob in{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  struct Case {
    uint32_t word;
    uint16_t tag;
    Prepare prepare;
  } cases[] = {{1, 0xCD, localstruct64_prepare}, {2, 0xCE, localstruct46_prepare}};
  for (const Case& c : cases) {
    Blob form{card_template_to_probe_form(in.p, c.word)};
    ASSERT_NE(form.p, nullptr) << c.word;
    const Bytes f = form.bytes();
    const Bytes want = packed_form(c.prepare, t.data(), static_cast<uint32_t>(t.size()));
    ASSERT_EQ(want[0], 4);
    EXPECT_EQ(value_of(f, {0x7F2E, 0xA2, c.tag}), want) << c.word;
    EXPECT_TRUE(value_of(f, {0x7F2E, 0xA1}).empty()) << c.word;
    EXPECT_TRUE(value_of(f, {0x7F2E, 0x82}).empty()) << c.word;
    EXPECT_EQ(value_of(f, {0x7F2E, 0xA2, 0xC3}), (Bytes{1, 0, 1, 0, 1, 77}));
    EXPECT_EQ(value_of(f, {0x7F2E, 0xA2, 0xC5}), (Bytes{0xFE, 3}));
    TlvElement packed{};
    ASSERT_EQ(card_find_probe_elements(f.data(), static_cast<uint32_t>(f.size()), static_cast<int>(c.word), &packed,
                                       nullptr, nullptr, nullptr),
              ML_OK);
    EXPECT_EQ(Bytes(packed.value, packed.value + packed.length), want);
    // References of packing forms hold the packed templates too.
    Blob mvt{multi_view(2, t)}, ref;
    int n = 0;
    ASSERT_EQ(card_reference_from_mvt(static_cast<uint16_t>(0x1200 | c.word), mvt.p, 2, 0, &ref.p, &n), ML_OK);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(value_of(ref.bytes(), {0xEF, 0xEE, 0x7F2E, 0xA2, c.tag}), want);
  }
  // A template without minutiae cannot be packed.
  const Bytes bare = el(0x7F2E, el(0xA2, el(0xC3, {1, 0, 1, 0, 1, 77})));
  Blob no_minutiae{blob_create(67, bare.data(), static_cast<uint32_t>(bare.size()))};
  EXPECT_EQ(card_template_to_probe_form(no_minutiae.p, 2), nullptr);
  Blob unpacked{card_template_to_probe_form(no_minutiae.p, 0)};
  EXPECT_NE(unpacked.p, nullptr);
}

// A comparison input for a probe entry: part 0 from the models, part 1 a
// reference of group `mode` whose EF length is in the two-byte form,
// holding one template, inside a part buffer of `part_size` bytes.
struct EntryInput {
  Bytes p0, p1;
  const uint8_t* parts[2];
  uint32_t sizes[2];
  EntryInput(Params& p, uint16_t word, int mode, uint32_t part_size, bool long_length = true) {
    Blob params;
    EXPECT_EQ(p.build(word, params, 0), ML_OK);
    p0 = params.bytes();
    const Bytes content = cat({el(0xC0, {static_cast<uint8_t>(0x80 | mode), 0}), el(0xEE, card_template())});
    p1 = long_length ? cat({Bytes{0xEF, 0x82, static_cast<uint8_t>(content.size() >> 8),
                                 static_cast<uint8_t>(content.size())},
                           content})
                     : el(0xEF, content);
    p1.resize(part_size, 0);
    parts[0] = p0.data();
    parts[1] = p1.data();
    sizes[0] = static_cast<uint32_t>(p0.size());
    sizes[1] = part_size;
  }
};

// The probe at `offset` of a buffer with `room` bytes behind it, between guards.
struct ProbeBuffer {
  Bytes bytes;
  uint32_t size;
  ProbeBuffer(const Bytes& probe, uint32_t room, uint32_t offset = 3)
      : bytes(16 + offset + probe.size() + room + 16, 0x5A) {
    size = static_cast<uint32_t>(offset + probe.size() + room);
    std::fill_n(data(), size, 0);
    std::copy(probe.begin(), probe.end(), data() + offset);
  }
  uint8_t* data() { return bytes.data() + 16; }
  bool intact() const {
    return std::all_of(bytes.begin(), bytes.begin() + 16, [](uint8_t b) { return b == 0x5A; }) &&
           std::all_of(bytes.end() - 16, bytes.end(), [](uint8_t b) { return b == 0x5A; });
  }
};

// The probe form of card_with_qualities (no mask, no packing).
Bytes probe_with_qualities() {
  const Bytes t = card_with_qualities();
  Blob in{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  Blob probe;
  EXPECT_EQ(card_probe_from_template(0x1200, in.p, &probe.p, 0), ML_OK);
  return probe.bytes();
}

TEST(CardReferenceEntry, ProbeAppendsToItsGroupInEveryPackingForm) {
  Params p;
  const Bytes probe = probe_with_qualities();
  ASSERT_FALSE(probe.empty());
  struct Case {
    uint16_t word;
    uint16_t tag;
    Prepare prepare;
  } cases[] = {{0x1200, 0, nullptr},
               {0x1201, 0xCD, localstruct64_prepare},
               {0x1211, 0xCD, localstruct64_prepare_unreduced},
               {0x1202, 0xCE, localstruct46_prepare},
               {0x1212, 0xCE, localstruct46_prepare_alt}};
  for (const Case& c : cases) {
    EntryInput input(p, c.word, 3, 4000);
    ProbeBuffer buffer(probe, 3544);
    CardReferenceEntry e{};
    ASSERT_EQ(card_probe_to_reference_entry(input.parts, input.sizes, 2, buffer.data(), buffer.size, 3, 3, &e), ML_OK)
        << c.word;
    EXPECT_TRUE(buffer.intact()) << c.word;
    EXPECT_EQ(e.part, 1);
    EXPECT_EQ(e.length_at, 2u);
    EXPECT_EQ(e.length_width, 2u);
    const uint32_t old_length = be16(input.p1.data() + 2);
    EXPECT_EQ(e.content_end, 4 + old_length);
    EXPECT_EQ(be16(e.new_length), old_length + e.element_size);
    const Bytes element(e.element, e.element + e.element_size);
    // The caller appends the element and writes the new length.
    Bytes part = input.p1;
    std::copy(element.begin(), element.end(), part.begin() + e.content_end);
    std::copy(e.new_length, e.new_length + 2, part.begin() + e.length_at);
    const uint8_t* parts[2] = {input.p0.data(), part.data()};
    TlvElement ef{};
    ASSERT_EQ(card_read_params_header(parts, input.sizes, 2, 1, &ef), ML_OK);
    EXPECT_EQ(ef.value + ef.length, part.data() + e.content_end + e.element_size);
    TlvElement ee{};
    ASSERT_EQ(tlv_read_element(element.data(), &ee, e.element_size), e.element_size);
    EXPECT_EQ(ee.tag, 0xEE);
    const Bytes templ(ee.value, ee.value + ee.length);
    if (c.tag == 0) {
      EXPECT_EQ(templ, probe);  // the probe itself, behind its new header
      EXPECT_EQ(e.new_length, buffer.data() + 3);
      continue;
    }
    EXPECT_EQ(e.element, buffer.data() + 3);
    EXPECT_EQ(e.new_length, e.element + e.element_size);
    // All lengths in the two-byte form.
    EXPECT_EQ(element[1], 0x82);
    EXPECT_EQ(Bytes(element.begin() + 4, element.begin() + 7), (Bytes{0x7F, 0x2E, 0x82}));
    EXPECT_EQ(value_of(templ, {0x7F2E, 0xA2, c.tag}), packed_form(c.prepare, probe.data(), static_cast<uint32_t>(probe.size())));
    for (uint16_t tag : {0xC3, 0xC4, 0xC5})
      EXPECT_EQ(value_of(templ, {0x7F2E, 0xA2, tag}), value_of(probe, {0x7F2E, 0xA2, tag})) << tag;
    EXPECT_FALSE(value_of(templ, {0x7F2E, 0xA2, 0xC4}).empty());
  }

  // One buffer holding both parts: part 1 at part 0's stated size; the
  // offsets are within that buffer.
  EntryInput input(p, 0x1202, 3, 4000);
  uint16_t f[5];
  ASSERT_EQ(card_read_c0_header(input.p0.data(), static_cast<uint32_t>(input.p0.size()), nullptr, nullptr, f), ML_OK);
  Bytes one = input.p0;
  one.resize(f[2], 0);
  one.insert(one.end(), input.p1.begin(), input.p1.end());
  const uint8_t* single[1] = {one.data()};
  const uint32_t single_size[1] = {static_cast<uint32_t>(one.size())};
  ProbeBuffer b1(probe, 3544), b2(probe, 3544);
  CardReferenceEntry listed{}, joined{};
  ASSERT_EQ(card_probe_to_reference_entry(input.parts, input.sizes, 2, b1.data(), b1.size, 3, 3, &listed), ML_OK);
  ASSERT_EQ(card_probe_to_reference_entry(single, single_size, 1, b2.data(), b2.size, 3, 3, &joined), ML_OK);
  EXPECT_EQ(joined.length_at, f[2] + listed.length_at);
  EXPECT_EQ(joined.content_end, f[2] + listed.content_end);
  EXPECT_EQ(Bytes(joined.element, joined.element + joined.element_size),
            Bytes(listed.element, listed.element + listed.element_size));
}

// A card template of n minutiae on a grid, with block maps and image
// information.
Bytes card_with_minutiae(int n) {
  Bytes points;
  for (int k = 0; k < n; ++k)
    points.insert(points.end(), {static_cast<uint8_t>(20 + (k % 10) * 22), static_cast<uint8_t>(15 + (k / 10) * 30),
                                 static_cast<uint8_t>(((k % 3) << 6) | ((k * 11) % 64))});
  const Bytes c1 = el(0xC1, {8, 0xFE, 2, 3, 3, 10, 60, 11, 61, 12, 62, 13, 63, 14, 64, 15, 65});
  const Bytes a2 = el(0xA2, cat({c1, el(0xC3, {1, 0, 1, 0, 1, 77})}));
  return el(0x7F2E, cat({el(0xA1, el(0x90, points)), a2}));
}

TEST(CardPacking, SixtyFourMinutiaFormIsTheReducedBuildUnlessTheAlternativeSetAsks) {
  // 70 minutiae: the standard build reduces them to the central band, the
  // unreduced one keeps 64 and fills all 2370 bytes.
  const Bytes t = card_with_minutiae(70);
  const Bytes reduced = packed_form(localstruct64_prepare, t.data(), static_cast<uint32_t>(t.size()));
  const Bytes unreduced = packed_form(localstruct64_prepare_unreduced, t.data(), static_cast<uint32_t>(t.size()));
  ASSERT_EQ(unreduced.size(), 2370u);
  ASSERT_LT(reduced.size(), unreduced.size());
  ASSERT_GT(reduced.size(), 258u);
  // The probe form and the references built from multi-view templates take
  // packing form 1 from the word's low bits: the standard build.
  Blob in{blob_create(67, t.data(), static_cast<uint32_t>(t.size()))};
  Blob form{card_template_to_probe_form(in.p, 1)};
  EXPECT_EQ(value_of(form.bytes(), {0x7F2E, 0xA2, 0xCD}), reduced);
  for (uint16_t word : {0x1201, 0x1211}) {
    Blob mvt{multi_view(1, t)}, ref;
    int n = 0;
    ASSERT_EQ(card_reference_from_mvt(word, mvt.p, 2, 0, &ref.p, &n), ML_OK) << word;
    EXPECT_EQ(value_of(ref.bytes(), {0xEF, 0xEE, 0x7F2E, 0xA2, 0xCD}), reduced) << word;
  }
  // A probe packed into a reference entry: the alternative set (bit 4)
  // packs unreduced, as its matcher reads.
  Blob probe;
  ASSERT_EQ(card_probe_from_template(0x1200, in.p, &probe.p, 0), ML_OK);
  Params p;
  struct Case {
    uint16_t word;
    const Bytes& want;
  };
  for (const Case& c : {Case{0x1201, reduced}, Case{0x1211, unreduced}}) {
    EntryInput input(p, c.word, 3, 4000);
    ProbeBuffer buffer(probe.bytes(), 3544);
    CardReferenceEntry e{};
    ASSERT_EQ(card_probe_to_reference_entry(input.parts, input.sizes, 2, buffer.data(), buffer.size, 3, 3, &e), ML_OK)
        << c.word;
    TlvElement ee{};
    ASSERT_EQ(tlv_read_element(e.element, &ee, e.element_size), e.element_size);
    EXPECT_EQ(value_of(Bytes(ee.value, ee.value + ee.length), {0x7F2E, 0xA2, 0xCD}), c.want) << c.word;
  }
}

TEST(CardReferenceEntry, Refusals) {
  Params p;
  const Bytes probe = probe_with_qualities();
  ASSERT_FALSE(probe.empty());
  // The packed bytes may take the buffer less 971 bytes: a buffer of
  // exactly 971 + the 46-minutia form of four minutiae fits.
  const uint32_t form46 = 186 + 4 * 27, at_limit = static_cast<uint32_t>(971 + form46 - 3 - probe.size());
  struct Case {
    const char* what;
    uint16_t word;
    int mode;
    uint32_t part_size;
    bool long_length;
    uint32_t room, offset;
    int status;
  } cases[] = {
      {"fits", 0x1202, 3, 4000, true, at_limit, 3, ML_OK},
      {"mode 0", 0x1202, 0, 4000, true, at_limit, 3, ML_CORRUPT},
      {"no part of the mode", 0x1202, 4, 4000, true, at_limit, 3, ML_CORRUPT},
      {"short-form part length", 0x1202, 3, 4000, false, at_limit, 3, ML_CORRUPT},
      {"part too small for the new length", 0x1202, 3, 300, true, at_limit, 3, ML_CORRUPT},
      {"buffer under 971 bytes", 0x1202, 3, 4000, true, 700, 3, ML_CORRUPT},
      {"packed form over the buffer less 971", 0x1202, 3, 4000, true, at_limit - 1, 3, ML_CORRUPT},
      {"room too small for the element", 0x1201, 3, 4000, true, 400, 1500, ML_CORRUPT},
      {"room just enough", 0x1201, 3, 4000, true, 600, 1500, ML_OK},
      {"form 0 without packing room", 0x1200, 3, 4000, true, 1000, 3, ML_CORRUPT},
      {"algorithm 17", 0x1102, 3, 4000, true, at_limit, 3, ML_WRONG_KIND},
  };
  for (const Case& c : cases) {
    EntryInput input(p, c.word, 3, c.part_size, c.long_length);
    ProbeBuffer buffer(probe, c.room, c.offset);
    CardReferenceEntry e{};
    e.element_size = 77;
    EXPECT_EQ(
        card_probe_to_reference_entry(input.parts, input.sizes, 2, buffer.data(), buffer.size, c.offset, c.mode, &e),
        c.status)
        << c.what;
    EXPECT_TRUE(buffer.intact()) << c.what;
    EXPECT_EQ(e.element == nullptr, c.status != ML_OK) << c.what;
  }
}

}  // namespace

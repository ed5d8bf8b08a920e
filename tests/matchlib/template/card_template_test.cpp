// Card templates and extended card templates: element lookups, compact
// minutiae reading, splitting, image removal, A2 additions and the sections
// of composite card templates.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "support/tlv_bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

using zyl::test::cat;
using zyl::test::el;

Bytes minutiae_bytes(int n) {
  Bytes m;
  for (int i = 0; i < n; ++i) m.insert(m.end(), {static_cast<uint8_t>(10 + 7 * i), static_cast<uint8_t>(20 + 3 * i), static_cast<uint8_t>(0x40 | (i % 64))});
  return m;
}

Bytes quality_element(int n, int extra = 0) {
  Bytes q = {0x98, 0xEC, 0x15, 0xE1};
  for (int i = 0; i < n + extra; ++i) q.push_back(static_cast<uint8_t>(0x10 * (i % 16) + 3));
  return el(0x82, q);
}

TEST(CardLookup, FindsElementsInCardAndA1AndTheMinutiaeInTheirFourPlaces) {
  const Bytes m = minutiae_bytes(2);
  struct Case {
    const char* what;
    Bytes card;
  };
  const Case cases[] = {
      {"7F2E/81", el(0x7F2E, el(0x81, m))},
      {"7F2E/A1/81", el(0x7F2E, el(0xA1, el(0x81, m)))},
      {"7F2E/90", el(0x7F2E, cat({el(0x92, {0}), el(0x90, m)}))},
      {"7F2E/A1/90", el(0x7F2E, el(0xA1, cat({el(0x90, m), el(0x93, {1})})))},
  };
  for (const Case& c : cases) {
    const uint8_t* v = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(card_get_minutiae(c.card.data(), c.card.size(), &v, &n), ML_OK) << c.what;
    EXPECT_EQ(Bytes(v, v + n), m) << c.what;
    EXPECT_EQ(card_template_size(c.card.data(), c.card.size()), c.card.size());
  }
  TlvElement e{};
  const Bytes& a1 = cases[3].card;
  ASSERT_EQ(card_find_element(a1.data(), a1.size(), 0x93, &e), ML_OK);
  EXPECT_EQ(e.length, 1u);
  EXPECT_EQ(card_find_element(a1.data(), a1.size(), 0x94, &e), ML_UNAVAILABLE);
  const Bytes not_card = el(0xE1, el(0x81, m));
  EXPECT_EQ(card_find_element(not_card.data(), not_card.size(), 0x81, &e), ML_UNAVAILABLE);
  EXPECT_EQ(card_template_size(not_card.data(), not_card.size()), 0u);
  // A declared length beyond the bytes is not a template.
  EXPECT_EQ(card_template_size(a1.data(), a1.size() - 1), 0u);
  EXPECT_EQ(card_find_element(a1.data(), a1.size() - 1, 0x93, &e), ML_UNAVAILABLE);
  const Bytes ragged = el(0x7F2E, el(0x81, {1, 2, 3, 4}));
  const uint8_t* v = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(card_get_minutiae(ragged.data(), ragged.size(), &v, &n), ML_UNAVAILABLE);
}

struct Read {
  int status;
  std::vector<CompactMinutia> m;
  int has_quality;
};

Read read(const Bytes& card, uint32_t maximum, int reduce = 0) {
  std::vector<CompactMinutia> out(CARD_MAX_MINUTIAE);
  uint32_t count = 999;
  int has_quality = -1;
  uint8_t work[CARD_READ_WORK_SIZE];
  Read r{card_read_minutiae(card.data(), card.size(), maximum, reduce, work, out.data(), &count, &has_quality),
         {}, has_quality};
  if (r.status == ML_OK) r.m.assign(out.begin(), out.begin() + count);
  return r;
}

TEST(CardReadMinutiae, ReadsCompactMinutiaeWithOrWithoutQuality) {
  const Bytes m = minutiae_bytes(3);
  const Read plain = read(el(0x7F2E, el(0xA1, el(0x90, m))), 10);
  ASSERT_EQ(plain.status, ML_OK);
  ASSERT_EQ(plain.m.size(), 3u);
  EXPECT_EQ(plain.has_quality, 0);
  EXPECT_EQ(plain.m[1].x, 17);
  EXPECT_EQ(plain.m[1].y, 23);
  EXPECT_EQ(plain.m[1].direction, 4);  // angle 1 of 64, type bits dropped
  EXPECT_EQ(plain.m[1].quality, 240);

  const Read with_q = read(el(0x7F2E, cat({el(0xA1, el(0x90, m)), quality_element(3)})), 2);
  ASSERT_EQ(with_q.status, ML_OK);
  EXPECT_EQ(with_q.has_quality, 1);
  ASSERT_EQ(with_q.m.size(), 2u);  // the maximum, without reduction
  EXPECT_EQ(with_q.m[1].quality, 0x13);

  // The quality element may also sit in A2.
  const Read in_a2 = read(el(0x7F2E, cat({el(0x81, m), el(0xA2, quality_element(3))})), 5);
  EXPECT_EQ(in_a2.has_quality, 1);
}

TEST(CardReadMinutiae, RefusesMissingMinutiaeAndDisagreeingQuality) {
  const Bytes m = minutiae_bytes(4);
  struct Case {
    const char* what;
    Bytes card;
    int status;
    int has_quality;
  };
  const Case cases[] = {
      {"no minutiae", el(0x7F2E, el(0x92, {0})), ML_CORRUPT, -1},
      {"quality one short", el(0x7F2E, cat({el(0x81, m), quality_element(4, -1)})), ML_CORRUPT, -1},
      {"quality one long", el(0x7F2E, cat({el(0x81, m), quality_element(4, 1)})), ML_CORRUPT, -1},
      {"quality without prefix is ignored", el(0x7F2E, cat({el(0x81, m), el(0x82, {1, 2, 3, 4, 5, 6, 7, 8})})),
       ML_OK, 0},
      {"empty minutiae element", el(0x7F2E, el(0x81, {})), ML_OK, 0},
  };
  for (const Case& c : cases) {
    const Read r = read(c.card, 128);
    EXPECT_EQ(r.status, c.status) << c.what;
    if (r.status == ML_OK) {
      EXPECT_EQ(r.has_quality, c.has_quality) << c.what;
      for (const auto& x : r.m) EXPECT_EQ(x.quality, 240) << c.what;
    }
  }
}

TEST(CardReadMinutiae, HandsOutAtMost128AndReducesOnRequest) {
  const Bytes many = el(0x7F2E, el(0x81, minutiae_bytes(150)));
  EXPECT_EQ(read(many, 200).m.size(), 128u);
  // Reduction: a repeated position goes first.
  Bytes m = minutiae_bytes(5);
  m.insert(m.end(), {10, 20, 10});  // repeats minutia 0's position, direction 40
  const Read r = read(el(0x7F2E, el(0x81, m)), 5, 1);
  ASSERT_EQ(r.status, ML_OK);
  ASSERT_EQ(r.m.size(), 5u);
  for (const auto& x : r.m) EXPECT_NE(x.direction, 40);
  // Without the reduce flag the first five are handed out as they come.
  EXPECT_EQ(read(el(0x7F2E, el(0x81, m)), 5).m.back().x, 38);
}

TEST(CardExtended, SplitsBothShapes) {
  const Bytes card = el(0x7F2E, cat({el(0xA1, el(0x90, minutiae_bytes(1))),
                                     el(0xA2, cat({el(0xC1, {1, 2}), el(0xC3, {1, 0, 1, 0, 1, 0})}))}));
  const uint8_t* part = nullptr;
  uint32_t size = 0;
  TlvElement c1{}, c2{}, c3{};
  ASSERT_EQ(card_parse_extended(card.data(), card.size(), &part, &size, &c1, &c2, &c3), ML_OK);
  EXPECT_EQ(part, card.data());
  EXPECT_EQ(size, card.size());
  EXPECT_EQ(Bytes(c1.value, c1.value + c1.length), (Bytes{1, 2}));
  EXPECT_EQ(c2.value, nullptr);
  EXPECT_EQ(c3.length, 6u);

  const Bytes inner = el(0x7F2E, el(0x81, minutiae_bytes(2)));
  const Bytes wrapped = el(0xE1, cat({inner, el(0xC1, {9, 9, 9}), el(0xC2, {7})}));
  ASSERT_EQ(card_parse_extended(wrapped.data(), wrapped.size(), &part, &size, &c1, &c2, &c3), ML_OK);
  EXPECT_EQ(part, wrapped.data() + 2);
  EXPECT_EQ(size, inner.size());
  EXPECT_EQ(c1.length, 3u);
  EXPECT_EQ(c2.length, 1u);
  EXPECT_EQ(c3.value, nullptr);

  // A bare 7F2E without A2: 0 with empty C1-C3.
  c1 = {5, 0xC1, card.data()};
  ASSERT_EQ(card_parse_extended(inner.data(), inner.size(), &part, &size, &c1, &c2, &c3), ML_OK);
  EXPECT_EQ(c1.value, nullptr);
  EXPECT_EQ(c1.length, 0u);

  struct Case {
    const char* what;
    Bytes bytes;
    uint32_t length;
  };
  const Bytes not_card_first = el(0xE1, cat({el(0xC1, {1}), inner}));
  const Case bad[] = {
      {"E1 whose first child is not 7F2E", not_card_first, static_cast<uint32_t>(not_card_first.size())},
      {"one byte more than the element", cat({inner, {0}}), static_cast<uint32_t>(inner.size() + 1)},
      {"shorter than the element", inner, static_cast<uint32_t>(inner.size() - 1)},
      {"other tag", el(0xA1, {}), 2},
  };
  for (const Case& c : bad) {
    c1 = {5, 0xC1, card.data()};
    EXPECT_EQ(card_parse_extended(c.bytes.data(), c.length, &part, &size, &c1, &c2, &c3), ML_UNAVAILABLE) << c.what;
    EXPECT_EQ(c1.value, nullptr) << c.what;
  }
}

Bytes take(uint8_t* p, uint32_t n) {
  Bytes b(p, p + n);
  std::free(p);
  return b;
}

TEST(CardExtended, StripImageDropsTheFirstC2) {
  const Bytes a1 = el(0xA1, el(0x90, minutiae_bytes(1)));
  const Bytes card = el(0x7F2E, cat({a1, el(0xA2, cat({el(0xC1, {1}), el(0xC2, {2, 2}), el(0xC3, {3})}))}));
  uint8_t* out = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(card_strip_image(card.data(), card.size(), &out, &n), ML_OK);
  EXPECT_EQ(take(out, n), el(0x7F2E, cat({a1, el(0xA2, cat({el(0xC1, {1}), el(0xC3, {3})}))})));

  const Bytes inner = el(0x7F2E, el(0x81, {}));
  const Bytes wrapped = el(0xE1, cat({inner, el(0xC2, {1}), el(0xC1, {2})}));
  ASSERT_EQ(card_strip_image(wrapped.data(), wrapped.size(), &out, &n), ML_OK);
  EXPECT_EQ(take(out, n), el(0xE1, cat({inner, el(0xC1, {2})})));

  EXPECT_EQ(card_strip_image(inner.data(), inner.size(), &out, &n), ML_UNAVAILABLE);
  const Bytes c2_outside_a2 = el(0x7F2E, el(0xC2, {1}));
  EXPECT_EQ(card_strip_image(c2_outside_a2.data(), c2_outside_a2.size(), &out, &n), ML_UNAVAILABLE);
}

TEST(CardExtended, AddA2ElementAppendsToTheFirstA2) {
  const Bytes card = el(0x7F2E, cat({el(0x81, {}), el(0xA2, el(0xC1, {1}))}));
  const Bytes value = {5, 6, 7};
  uint8_t* out = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(card_add_a2_element(card.data(), card.size(), 0xC9, value.data(), 3, &out, &n), ML_OK);
  EXPECT_EQ(take(out, n), el(0x7F2E, cat({el(0x81, {}), el(0xA2, cat({el(0xC1, {1}), el(0xC9, value)}))})));
  const Bytes no_a2 = el(0x7F2E, el(0x81, {}));
  EXPECT_EQ(card_add_a2_element(no_a2.data(), no_a2.size(), 0xC9, value.data(), 3, &out, &n), ML_BAD_ARGUMENT);
  EXPECT_EQ(card_add_a2_element(card.data(), card.size() - 1, 0xC9, value.data(), 3, &out, &n), ML_UNAVAILABLE);
}

TEST(CompositeSections, TableOfCodes) {
  const Bytes card = el(0x7F2E, cat({el(0xA1, el(0x90, minutiae_bytes(1))),
                                     el(0xA2, cat({el(0xC1, {1, 1}), el(0xC5, {5}), el(0xC6, {6, 6}),
                                                   el(0xC9, {9}), el(0xCA, {0xA})}))}));
  const Bytes plain = el(0x7F2E, cat({el(0xA1, el(0x90, minutiae_bytes(1))), el(0xA2, el(0xC6, {6}))}));
  struct Case {
    const Bytes* bytes;
    int code;
    int status;
    Bytes expected;  // empty: the whole template
  };
  const Case cases[] = {
      {&card, 66, ML_OK, {1, 1}}, {&card, 67, ML_OK, {}}, {&card, 73, ML_OK, {}},
      {&card, 74, ML_OK, {}}, {&card, 77, ML_OK, {5}}, {&card, 78, ML_OK, {}},
      {&card, 79, ML_OK, {6, 6}}, {&card, 83, ML_OK, {0xA}}, {&card, 85, ML_OK, {9}},
      {&plain, 78, ML_UNAVAILABLE, {}}, {&plain, 66, ML_UNAVAILABLE, {}}, {&plain, 77, ML_UNAVAILABLE, {}},
      {&card, 80, ML_UNAVAILABLE, {}}, {&card, 1, ML_UNAVAILABLE, {}},
  };
  for (const Case& c : cases) {
    const uint8_t* d = reinterpret_cast<const uint8_t*>(1);
    uint32_t n = 99;
    ASSERT_EQ(tmpl_card_section(c.bytes->data(), c.bytes->size(), c.code, &d, &n), c.status) << c.code;
    if (c.status != ML_OK) {
      EXPECT_EQ(d, nullptr);
      EXPECT_EQ(n, 0u);
    } else if (c.expected.empty()) {
      EXPECT_EQ(d, c.bytes->data()) << c.code;
      EXPECT_EQ(n, c.bytes->size()) << c.code;
    } else {
      EXPECT_EQ(Bytes(d, d + n), c.expected) << c.code;
    }
  }
  const uint8_t* d = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(tmpl_card_section(card.data(), card.size(), 2, &d, &n), ML_OK);
  EXPECT_EQ(d, card.data());
  const Bytes broken(card.begin(), card.end() - 1);
  EXPECT_EQ(tmpl_card_section(broken.data(), broken.size(), 2, &d, &n), ML_UNAVAILABLE);
}

struct BlobPtr {
  DataBlob* p;
  ~BlobPtr() { blob_release(p); }
};

TEST(CompositeSections, ReachedThroughTemplatesAndContainers) {
  const Bytes card = el(0x7F2E, cat({el(0xA1, el(0x90, minutiae_bytes(1))), el(0xA2, el(0xC6, {6, 7}))}));
  BlobPtr c67{blob_create(67, card.data(), card.size())};
  BlobPtr info{blob_create(86, "info", 4)};
  BlobPtr with_card{container_merge(info.p, c67.p)};
  BlobPtr c85{blob_create(85, "y", 1)};
  BlobPtr without_card{container_merge(info.p, c85.p)};
  const uint8_t* d = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(tmpl_get_section(c67.p, 79, &d, &n), ML_OK);
  EXPECT_EQ(Bytes(d, d + n), (Bytes{6, 7}));
  ASSERT_EQ(tmpl_get_section(with_card.p, 79, &d, &n), ML_OK);
  EXPECT_EQ(Bytes(d, d + n), (Bytes{6, 7}));
  EXPECT_EQ(tmpl_has_section(with_card.p, 79), 1);
  EXPECT_EQ(tmpl_get_section(without_card.p, 79, &d, &n), ML_NOT_FOUND);
  EXPECT_EQ(tmpl_has_section(c67.p, 77), 0);
}

}  // namespace

namespace {

uint8_t* malloc_copy(const Bytes& b) {
  auto* p = static_cast<uint8_t*>(std::malloc(b.size()));
  std::copy(b.begin(), b.end(), p);
  return p;
}

TEST(CardQualityElement, AddsTheElementAndRegroupsTheMinutiae) {
  auto record = std::unique_ptr<MinutiaeRecord, decltype(&minrec_free)>(minrec_create(), &minrec_free);
  record->count = 4;
  const uint8_t qualities[4] = {0, 50, 99, 100};
  for (int i = 0; i < 4; ++i) {
    record->minutiae[i].quality = qualities[i];
    record->minutiae[i].extra = static_cast<uint8_t>(5 + i * 4);  // 21 keeps its low 4 bits
  }
  const Bytes q = {0x98, 0xEC, 0x15, 0xE1, 0x05, 0x89, 0xFD, 0xF1};
  const Bytes m = minutiae_bytes(4);
  struct Case {
    const char* what;
    Bytes card;
    Bytes expected;
  };
  const Case cases[] = {
      {"81 alone", el(0x7F2E, el(0x81, m)), el(0x7F2E, cat({el(0x81, m), el(0x82, q)}))},
      {"81 and 92", el(0x7F2E, cat({el(0x81, m), el(0x92, {0})})),
       el(0x7F2E, cat({el(0xA1, cat({el(0x81, m), el(0x92, {0})})), el(0x82, q)}))},
      {"A1 with 90, an old 82 replaced", el(0x7F2E, cat({el(0xA1, el(0x90, m)), el(0x82, {1})})),
       el(0x7F2E, cat({el(0xA1, el(0x90, m)), el(0x82, q)}))},
  };
  for (const Case& c : cases) {
    uint8_t* card = malloc_copy(c.card);
    uint32_t size = 0;
    ASSERT_EQ(card_add_quality_element(&card, c.card.size(), record.get(), &size), ML_OK) << c.what;
    EXPECT_EQ(take(card, size), c.expected) << c.what;
  }
  // The result reads back with its quality bytes.
  uint8_t* card = malloc_copy(cases[1].card);
  uint32_t size = 0;
  ASSERT_EQ(card_add_quality_element(&card, cases[1].card.size(), record.get(), &size), ML_OK);
  const Read r = read(take(card, size), 10);
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_EQ(r.has_quality, 1);
  EXPECT_EQ(r.m[3].quality, 0xF1);
}

TEST(CardQualityElement, FailureLeavesTheCallersCard) {
  auto record = std::unique_ptr<MinutiaeRecord, decltype(&minrec_free)>(minrec_create(), &minrec_free);
  const Bytes not_card = el(0xE1, el(0x81, {}));
  const Bytes good = el(0x7F2E, el(0x81, {}));
  struct Case {
    const char* what;
    const Bytes& card;
    uint32_t length;
    const MinutiaeRecord* record;
    int status;
  } cases[] = {
      {"not a card", not_card, static_cast<uint32_t>(not_card.size()), record.get(), ML_UNAVAILABLE},
      {"cut short", good, static_cast<uint32_t>(good.size() - 1), record.get(), ML_UNAVAILABLE},
      {"no record", good, static_cast<uint32_t>(good.size()), nullptr, ML_BAD_ARGUMENT},
  };
  for (const Case& c : cases) {
    uint8_t* card = malloc_copy(c.card);
    uint8_t* const mine = card;
    uint32_t size = 0;
    EXPECT_EQ(card_add_quality_element(&card, c.length, c.record, &size), c.status) << c.what;
    EXPECT_EQ(card, mine) << c.what;
    EXPECT_EQ(Bytes(card, card + c.card.size()), c.card) << c.what;  // still readable: not freed
    std::free(card);
  }
}

}  // namespace

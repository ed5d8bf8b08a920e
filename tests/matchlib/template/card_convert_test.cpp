#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_tlv.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using RecordPtr = std::unique_ptr<MinutiaeRecord, decltype(&minrec_free)>;

RecordPtr record(std::initializer_list<std::array<int, 4>> minutiae) {  // x, y, direction, type
  RecordPtr r(minrec_create(), &minrec_free);
  r->resolution = MINREC_RESOLUTION;
  r->width = 400;
  r->height = 400;
  for (const auto& m : minutiae) {
    MinutiaEntry& e = r->minutiae[r->count++];
    e.x = static_cast<std::uint16_t>(m[0]);
    e.y = static_cast<std::uint16_t>(m[1]);
    e.direction = static_cast<std::uint8_t>(m[2]);
    e.type = static_cast<std::uint8_t>(m[3]);
    e.quality = 60;
  }
  return r;
}

Bytes take(std::uint8_t* p, std::uint32_t n) {
  Bytes b(p, p + n);
  std::free(p);
  return b;
}

Bytes iso(const MinutiaeRecord& r, bool newer) {
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  EXPECT_EQ(newer ? fmr_build_iso2011(&r, &out, &size) : fmr_build_iso2005(&r, &out, &size), ML_OK);
  return take(out, fmr_get_length(out, 1u << 20));
}

Bytes to_card(const Bytes& rec, int maximum = 128, int expect = ML_OK) {
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  EXPECT_EQ(fmr_to_card(rec.data(), static_cast<std::uint32_t>(rec.size()), maximum, &out, &size), expect);
  return out ? take(out, size) : Bytes{};
}

bool has_path(const Bytes& card, std::initializer_list<std::uint16_t> path) {
  TlvElement e{};
  return tlv_find_path(card.data(), static_cast<std::uint32_t>(card.size()), path.begin(),
                       static_cast<int>(path.size()), &e) == 1;
}

Bytes minutiae_of(const Bytes& card) {
  const std::uint8_t* v = nullptr;
  std::uint32_t n = 0;
  EXPECT_EQ(card_get_minutiae(card.data(), static_cast<std::uint32_t>(card.size()), &v, &n), ML_OK);
  return Bytes(v, v + n);
}

TEST(CardConvert, ShapeFollowsTheRecordVersion) {
  auto r = record({{197, 492, 253, 1}, {10, 20, 254, 2}});
  const Bytes old_card = to_card(iso(*r, false));
  EXPECT_TRUE(has_path(old_card, {0x7F2E, 0xA1, 0x90}));
  EXPECT_FALSE(has_path(old_card, {0x7F2E, 0x81}));
  const Bytes new_card = to_card(iso(*r, true));
  EXPECT_TRUE(has_path(new_card, {0x7F2E, 0x81}));
  EXPECT_FALSE(has_path(new_card, {0x7F2E, 0xA1}));
  for (const Bytes& card : {old_card, new_card}) {
    const Bytes m = minutiae_of(card);
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0], 100);  // x 197
    EXPECT_EQ(m[1], 250);  // y 492
    EXPECT_EQ(m[2], 0x40 | 63);  // ending, direction 253
    EXPECT_EQ(m[5], 0x80 | 0);   // bifurcation, direction 254 wraps to 0
  }
}

TEST(CardConvert, BackToRecordsWithinOneUnit) {
  auto r = record({{197, 492, 252, 1}, {0, 3, 100, 2}, {311, 77, 17, 1}, {45, 400, 200, 2}});
  for (bool newer : {false, true}) {
    const Bytes card = to_card(iso(*r, newer));
    for (bool back_newer : {false, true}) {
      std::uint8_t* out = nullptr;
      std::uint32_t size = 0;
      ASSERT_EQ((back_newer ? card_to_iso2011 : card_to_iso2005)(card.data(), static_cast<std::uint32_t>(card.size()),
                                                                 &out, &size),
                ML_OK);
      const Bytes rec = take(out, size);
      EXPECT_EQ(fmr_get_length(rec.data(), size), size);
      MinutiaeRecord parsed{};
      ASSERT_EQ(fmr_parse_iso(rec.data(), size, &parsed), ML_OK);
      ASSERT_EQ(parsed.count, r->count);
      for (int i = 0; i < r->count; ++i) {
        EXPECT_NEAR(parsed.minutiae[i].x, r->minutiae[i].x, 1) << i;
        EXPECT_NEAR(parsed.minutiae[i].y, r->minutiae[i].y, 1) << i;
        EXPECT_EQ(parsed.minutiae[i].type, r->minutiae[i].type);
        EXPECT_LE(std::abs(int(parsed.minutiae[i].direction) - int(r->minutiae[i].direction)) % 254, 2);
      }
      EXPECT_EQ(parsed.minutiae[0].x, 197);
      EXPECT_EQ(parsed.minutiae[0].direction, 252);
      EXPECT_EQ(parsed.width, (311 + 2) & ~1);  // largest x' (311) + 2, even
    }
  }
}

TEST(CardConvert, AtMost128MinutiaeAndTheMaximum) {
  auto r = record({});
  for (int i = 0; i < 200; ++i) {
    MinutiaEntry& e = r->minutiae[r->count++];
    e.x = static_cast<std::uint16_t>(i * 2);
    e.y = static_cast<std::uint16_t>(i);
    e.type = 1;
  }
  EXPECT_EQ(minutiae_of(to_card(iso(*r, false), 200)).size(), 3u * 128);
  EXPECT_EQ(minutiae_of(to_card(iso(*r, true), 10)).size(), 3u * 10);
  EXPECT_EQ(minutiae_of(to_card(iso(*r, true), 0)).size(), 0u);
}

TEST(CardConvert, WideSetsAreShiftedOrLosePointsOutsideTheCard) {
  // Spanning 400 pixels from 300: shifted by 700 - 492.
  auto shifted = record({{300, 10, 0, 1}, {700, 10, 0, 1}});
  shifted->width = 800;
  Bytes m = minutiae_of(to_card(iso(*shifted, false)));
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[0], ((300 - 208) * 800 / 197 + 4) >> 3);
  EXPECT_EQ(m[3], 250);
  // Spanning 600 pixels: no shift, and the far minutia cannot be written.
  auto wide = record({{10, 10, 0, 1}, {610, 10, 0, 1}, {20, 20, 0, 2}});
  wide->width = 800;
  m = minutiae_of(to_card(iso(*wide, false)));
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[0], 5);
  EXPECT_EQ(m[3], 10);
}

TEST(CardConvert, CoresDeltasAndZonalQualityTravel) {
  auto r = record({{100, 100, 0, 1}});
  r->cores.count = 1;
  r->cores.entries[0] = CoreEntry{200, 150, 64, 1};
  r->deltas.count = 1;
  r->deltas.entries[0] = DeltaEntry{300, 50, {1, 2, 3}, 1};
  auto* cells = static_cast<std::uint8_t*>(std::malloc(4));  // the record owns it
  const std::uint8_t values[4] = {100, 50, 0, 20};
  std::copy(values, values + 4, cells);
  r->zonal_quality = ZonalQuality{cells, 2, 2, 200, 200};
  for (bool newer : {false, true}) {
    Bytes rec = iso(*r, newer);
    std::uint8_t* p = static_cast<std::uint8_t*>(std::malloc(rec.size()));
    std::copy(rec.begin(), rec.end(), p);
    ASSERT_EQ(fmr_add_core_delta_block(&p, &r->cores, &r->deltas), ML_OK);
    ASSERT_EQ(fmr_add_zonal_quality_block(&p, &r->zonal_quality, 2), ML_OK);
    rec = take(p, fmr_get_length(p, 1u << 20));
    const Bytes card = to_card(rec);
    TlvElement e{};
    ASSERT_EQ(card_find_element(card.data(), static_cast<std::uint32_t>(card.size()), 0x92, &e), ML_OK);
    EXPECT_EQ(e.length, 6u);
    EXPECT_EQ(e.value[4], ((200 * 800 / 197 + 4) >> 3));  // y at 100 px/cm
    ASSERT_EQ(card_find_element(card.data(), static_cast<std::uint32_t>(card.size()), 0x93, &e), ML_OK);
    ASSERT_EQ(card_find_element(card.data(), static_cast<std::uint32_t>(card.size()), 0x94, &e), ML_OK);
    ASSERT_GE(e.length, 5u);
    EXPECT_EQ(e.value[0], 1970 / 200);
    EXPECT_EQ(e.value[1], 2);  // ceil(400 / 200)
    EXPECT_EQ(e.value[2], 2);
    EXPECT_EQ(e.value[3], 2);
    MinutiaeRecord back{};
    ASSERT_EQ(card_to_minrec(card.data(), static_cast<std::uint32_t>(card.size()), &back), ML_OK);
    ASSERT_EQ(back.cores.count, 1);
    EXPECT_NEAR(back.cores.entries[0].y, 200, 2);
    EXPECT_NEAR(back.cores.entries[0].x, 150, 2);
    EXPECT_EQ(back.cores.entries[0].angle, 64);
    ASSERT_EQ(back.deltas.count, 1);
    EXPECT_EQ(back.deltas.entries[0].angles[2], 3);
    EXPECT_EQ(back.width, 2 * (1970 / (1970 / 200)));  // columns x the card's cell
    ASSERT_EQ(back.zonal_quality.rows, 2);
    std::free(back.zonal_quality.cells);
  }
}

TEST(CardConvert, MalformedCardsAreRefused) {
  // More than 255 minutiae cannot be counted by a record.
  Bytes many(3 * 256, 10);
  TlvNode* root = tlv_node_create(0x7F2E, 0, nullptr);
  tlv_append_child(root, tlv_node_create(0x81, static_cast<std::uint32_t>(many.size()), many.data()));
  std::uint8_t* enc = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(tlv_encode(root, &enc, &size), ML_OK);
  tlv_node_free(root);
  Bytes card = take(enc, size);
  std::uint8_t* out = nullptr;
  std::uint32_t out_size = 0;
  EXPECT_EQ(card_to_iso2005(card.data(), size, &out, &out_size), ML_UNAVAILABLE);
  EXPECT_EQ(out, nullptr);
  // A zonal element whose resolution byte is 0.
  const std::uint8_t minutiae[3] = {1, 2, 3};
  const std::uint8_t zonal[5] = {0, 1, 1, 2, 0};
  root = tlv_node_create(0x7F2E, 0, nullptr);
  tlv_append_child(root, tlv_node_create(0x81, 3, minutiae));
  tlv_append_child(root, tlv_node_create(0x94, 5, zonal));
  ASSERT_EQ(tlv_encode(root, &enc, &size), ML_OK);
  tlv_node_free(root);
  card = take(enc, size);
  EXPECT_EQ(card_to_iso2011(card.data(), size, &out, &out_size), ML_UNAVAILABLE);
  // Not a card, and a record of another kind.
  const Bytes junk{0x30, 0x03, 0x81, 0x01, 0x00};
  EXPECT_EQ(card_to_iso2005(junk.data(), 5, &out, &out_size), ML_UNAVAILABLE);
  MinutiaeRecord r{};
  EXPECT_EQ(card_to_minrec_any(junk.data(), 5, &r), ML_UNAVAILABLE);
  Bytes ansi(40, 0);
  EXPECT_EQ(to_card(ansi, 128, ML_UNAVAILABLE).size(), 0u);
}

TEST(CardConvert, MinutiaeRecordRoutes) {
  auto r = record({{197, 100, 64, 1}});
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(minrec_to_card(r.get(), 64, &out, &size), ML_OK);
  Bytes card = take(out, size);
  EXPECT_TRUE(has_path(card, {0x7F2E, 0xA1, 0x90}));
  ASSERT_EQ(minrec_to_card_2011(r.get(), 64, &out, &size), ML_OK);
  card = take(out, size);
  EXPECT_TRUE(has_path(card, {0x7F2E, 0x81}));
  r->resolution = 196;
  EXPECT_EQ(minrec_to_card(r.get(), 64, &out, &size), ML_UNAVAILABLE);
  // Through an E1 wrapper.
  Bytes wrapped{0xE1, static_cast<std::uint8_t>(card.size())};
  wrapped.insert(wrapped.end(), card.begin(), card.end());
  MinutiaeRecord back{};
  ASSERT_EQ(card_to_minrec_any(wrapped.data(), static_cast<std::uint32_t>(wrapped.size()), &back), ML_OK);
  ASSERT_EQ(back.count, 1);
  EXPECT_EQ(back.minutiae[0].x, 197);
  EXPECT_EQ(card_to_minrec_any(wrapped.data(), static_cast<std::uint32_t>(wrapped.size() - 1), &back),
            ML_UNAVAILABLE);
}

struct Maps {
  Bytes o, f, of, ff;
  CellMap orientation{}, frequency{};
  explicit Maps(int rows, int columns) : o(rows * columns), f(rows * columns), of(9 * rows * columns), ff(9 * rows * columns) {
    for (std::size_t i = 0; i < o.size(); ++i) {
      o[i] = static_cast<std::uint8_t>(64 + i % 100);
      f[i] = static_cast<std::uint8_t>(8 + i % 3);
    }
    for (std::size_t i = 0; i < of.size(); ++i) {
      of[i] = 100;
      ff[i] = 9;
    }
    orientation = CellMap{o.data(), static_cast<std::uint8_t>(rows), static_cast<std::uint8_t>(columns), 12, 3, -4};
    frequency = orientation;
    frequency.cells = f.data();
  }
};

TEST(CardExtended, BuildReadsBackThroughTheParsers) {
  auto r = record({{197, 100, 64, 1}, {50, 60, 0, 2}});
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(minrec_to_card_2011(r.get(), 64, &out, &size), ML_OK);
  ASSERT_EQ(card_add_quality_element(&out, size, r.get(), &size), ML_OK);
  const Bytes card = take(out, size);
  Maps maps(4, 5);
  const std::vector<std::uint8_t> pixels(30 * 20, 77);
  for (bool fine : {false, true}) {
    ASSERT_EQ(card_build_extended(card.data(), static_cast<std::uint32_t>(card.size()), &maps.orientation,
                                  &maps.frequency, fine ? maps.of.data() : nullptr,
                                  fine ? maps.ff.data() : nullptr, pixels.data(), 30, 20, 5, 6, &out, &size),
              ML_OK);
    const Bytes ext = take(out, size);
    const std::uint8_t* part = nullptr;
    std::uint32_t part_size = 0;
    TlvElement c1{}, c2{}, c3{};
    ASSERT_EQ(card_parse_extended(ext.data(), size, &part, &part_size, &c1, &c2, &c3), ML_OK);
    EXPECT_EQ(minutiae_of(Bytes(part, part + part_size)), minutiae_of(card));
    ASSERT_NE(c1.value, nullptr);
    EXPECT_EQ(c1.value[0] == 0, fine);  // long form with a detail layer
    int vo = 0, ho = 0, rows = 0, cols = 0;
    std::uint32_t map_size = 0;
    ASSERT_EQ(gridmap_from_compact(c1.value, c1.length, nullptr, &map_size, &vo, &ho, &rows, &cols, 0, nullptr,
                                   nullptr),
              ML_OK);
    EXPECT_EQ(rows, 4);
    EXPECT_EQ(cols, 5);
    EXPECT_EQ(vo, -4);
    EXPECT_EQ(ho, 3);
    const std::uint8_t* px = nullptr;
    std::uint16_t pr = 0, pc = 0, hd = 0, vd = 0;
    std::uint8_t flag = 0;
    ASSERT_EQ(packed_image_read(c2.value, c2.length, &px, &pr, &pc, &hd, &vd, &flag), ML_OK);
    EXPECT_EQ(pr, 30);
    EXPECT_EQ(flag, 5);
    ASSERT_EQ(c3.length, 6u);
    EXPECT_EQ(Bytes(c3.value, c3.value + 6), (Bytes{1, 30, 0, 20, 0, 6}));  // little-endian
    const std::uint8_t* section = nullptr;
    std::uint32_t section_size = 0;
    EXPECT_EQ(tmpl_card_section(ext.data(), size, 2, &section, &section_size), ML_OK);
    EXPECT_EQ(tmpl_card_section(ext.data(), size, 66, &section, &section_size), ML_OK);
    EXPECT_TRUE(has_path(ext, {0x7F2E, 0xA2, 0x82}));
  }
  // Without pixels: no C2; the maps form keeps C3.
  ASSERT_EQ(card_build_extended_maps(card.data(), static_cast<std::uint32_t>(card.size()), &maps.orientation,
                                     &maps.frequency, nullptr, nullptr, 60, 40, 0, &out, &size),
            ML_OK);
  const Bytes ext = take(out, size);
  TlvElement c1{}, c2{}, c3{};
  ASSERT_EQ(card_parse_extended(ext.data(), size, nullptr, nullptr, &c1, &c2, &c3), ML_OK);
  EXPECT_EQ(c2.value, nullptr);
  EXPECT_NE(c3.value, nullptr);
}

TEST(CardExtended, WrapPutsTheCardFirst) {
  auto r = record({{197, 100, 64, 1}});
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(minrec_to_card(r.get(), 64, &out, &size), ML_OK);
  const Bytes card = take(out, size);
  Maps maps(3, 3);
  ASSERT_EQ(card_wrap_block_maps(card.data(), static_cast<std::uint32_t>(card.size()), &maps.orientation,
                                 &maps.frequency, &out, &size),
            ML_OK);
  const Bytes wrapped = take(out, size);
  EXPECT_EQ(wrapped[0], 0xE1);
  const std::uint8_t* part = nullptr;
  std::uint32_t part_size = 0;
  TlvElement c1{};
  ASSERT_EQ(card_parse_extended(wrapped.data(), size, &part, &part_size, &c1, nullptr, nullptr), ML_OK);
  EXPECT_EQ(Bytes(part, part + part_size), card);
  EXPECT_EQ(c1.length, 2u * 9 + 5);
  MinutiaeRecord back{};
  EXPECT_EQ(card_to_minrec_any(wrapped.data(), size, &back), ML_OK);
  Maps other(3, 4);
  EXPECT_EQ(card_wrap_block_maps(card.data(), static_cast<std::uint32_t>(card.size()), &maps.orientation,
                                 &other.frequency, &out, &size),
            ML_CORRUPT);
  const Bytes junk{0x7F, 0x2E, 0x05, 0x81};
  EXPECT_EQ(card_wrap_block_maps(junk.data(), 4, &maps.orientation, &maps.frequency, &out, &size), ML_UNAVAILABLE);
}

}  // namespace

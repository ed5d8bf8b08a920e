#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "support/prefix_sweep.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct RecordFree {
  void operator()(MinutiaeRecord* r) const { minrec_free(r); }
};
using RecordPtr = std::unique_ptr<MinutiaeRecord, RecordFree>;

RecordPtr sample_record(int n) {
  RecordPtr m(minrec_create());
  m->resolution = 197;
  m->width = 300;
  m->height = 400;
  m->product_id = 0x12345678;
  m->finger_position = 3;
  m->impression_type = 0x21;
  m->finger_quality = 80;
  m->count = static_cast<uint8_t>(n);
  for (int i = 0; i < n; ++i) {
    MinutiaEntry& e = m->minutiae[i];
    e.x = static_cast<uint16_t>(10 + 7 * i);
    e.y = static_cast<uint16_t>(300 + 3 * i);
    e.direction = static_cast<uint8_t>(37 * i);
    e.type = static_cast<uint8_t>(1 + i % 2);
    e.quality = static_cast<uint8_t>(50 + i);
  }
  return m;
}

using Builder = int (*)(const MinutiaeRecord*, uint8_t**, uint32_t*);
using Parser = int (*)(const uint8_t*, uint32_t, MinutiaeRecord*);

struct Form {
  const char* name;
  Builder build;
  Parser parse;
  uint32_t header;  // bytes before the minutiae
  bool ansi;
};
const Form kForms[] = {
    {"ISO 2005", fmr_build_iso2005, fmr_parse_iso2005, 28, false},
    {"ANSI 2004", fmr_build_ansi2004, fmr_parse_ansi2004, 30, true},
    {"ANSI 2009", fmr_build_ansi2009, fmr_parse_ansi2009, 38, true},
    {"ISO 2011", fmr_build_iso2011, fmr_parse_iso2011, 52, false},
};

Bytes built(const Form& f, const MinutiaeRecord* m) {
  uint8_t* out = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(f.build(m, &out, &size), ML_OK) << f.name;
  Bytes b(out, out + size);
  std::free(out);
  return b;
}

TEST(MinutiaeRecord, EmptyRecordSizes) {
  auto m = sample_record(0);
  for (const Form& f : kForms) {
    const Bytes b = built(f, m.get());
    EXPECT_EQ(b.size(), f.header + 2) << f.name;
    EXPECT_EQ(b[b.size() - 1], 0);
    EXPECT_EQ(b[b.size() - 2], 0);
  }
}

TEST(MinutiaeRecord, IsoAndAnsiHeaderLayouts) {
  auto m = sample_record(1);
  const Bytes iso = built(kForms[0], m.get());
  const Bytes expected_iso = {'F', 'M', 'R', 0, ' ', '2', '0', 0, 0, 0, 0, 36, 0, 0, 0x01, 0x2C,
                              0x01, 0x90, 0, 197, 0, 197, 1, 0, 3, 0x01, 80, 1,
                              // type 1, x 10, y 300, direction 0, quality 50
                              0x40, 10, 0x01, 0x2C, 0, 50, 0, 0};
  EXPECT_EQ(iso, expected_iso);
  const Bytes ansi = built(kForms[2], m.get());
  const Bytes expected_ansi = {'F', 'M', 'R', 0, '0', '3', '0', 0, 0, 0, 0, 46, 0x12, 0x34,
                               0x56, 0x78, 0, 0, 0, 1, 0, 3, 0, 0x21, 80, 0, 0, 0, 0,
                               0x01, 0x2C, 0x01, 0x90, 0, 197, 0, 197, 1,
                               0x40, 10, 0x01, 0x2C, 0, 50, 0, 0};
  EXPECT_EQ(ansi, expected_ansi);
  const Bytes iso11 = built(kForms[3], m.get());
  EXPECT_EQ(iso11[11], 60);
  EXPECT_EQ(iso11[18], 45);  // representation length 39 + 6
  EXPECT_EQ(iso11[19], 0xFF);
  EXPECT_EQ(iso11[27], 0xFF);
  EXPECT_EQ(iso11[50], 0x60);
  EXPECT_EQ(iso11[51], 1);
}

TEST(MinutiaeRecord, EveryFormRoundTrips) {
  auto m = sample_record(40);
  for (const Form& f : kForms) {
    const Bytes b = built(f, m.get());
    RecordPtr back(minrec_create());
    ASSERT_EQ(f.parse(b.data(), static_cast<uint32_t>(b.size()), back.get()), ML_OK) << f.name;
    ASSERT_EQ(back->count, 40);
    EXPECT_EQ(back->width, 300);
    EXPECT_EQ(back->height, 400);
    EXPECT_EQ(back->finger_position, 3);
    EXPECT_EQ(back->finger_quality, 80);
    for (int i = 0; i < 40; ++i) {
      const MinutiaEntry& a = m->minutiae[i];
      const MinutiaEntry& r = back->minutiae[i];
      EXPECT_EQ(r.x, a.x);
      EXPECT_EQ(r.y, a.y);
      EXPECT_EQ(r.type, a.type);
      EXPECT_EQ(r.quality, a.quality);
      EXPECT_EQ(r.extra, 5);
      const int diff = (r.direction - a.direction + 256) % 256;
      EXPECT_TRUE(f.ansi ? (diff <= 1 || diff == 255) : diff == 0) << f.name << " " << i;
    }
  }
}

TEST(MinutiaeRecord, AnsiAngleConversion) {
  auto m = sample_record(1);
  m->minutiae[0].direction = 255;
  const Bytes b = built(kForms[1], m.get());
  EXPECT_EQ(b[30 + 4], 179);
  struct Case {
    uint8_t stored, direction;
  };
  for (const Case c : {Case{179, 255}, Case{180, 0}, Case{90, 128}, Case{0, 0}}) {
    Bytes x = b;
    x[34] = c.stored;
    RecordPtr r(minrec_create());
    ASSERT_EQ(fmr_parse_ansi2004(x.data(), static_cast<uint32_t>(x.size()), r.get()), ML_OK);
    EXPECT_EQ(r->minutiae[0].direction, c.direction) << int(c.stored);
  }
}

TEST(MinutiaeRecord, ResolutionChecks) {
  for (int res : {196, 198}) {
    auto m = sample_record(2);
    m->resolution = static_cast<uint16_t>(res);
    for (const Form& f : kForms) {
      uint8_t* out = nullptr;
      EXPECT_EQ(f.build(m.get(), &out, nullptr), ML_UNAVAILABLE) << f.name;
      EXPECT_EQ(out, nullptr);
    }
    uint8_t* out = nullptr;
    EXPECT_EQ(fmr_write_iso2011(m.get(), &out, nullptr), ML_OK);  // no check there
    std::free(out);
  }
  auto m = sample_record(2);
  struct Where {
    const Form& form;
    std::size_t vertical;
  };
  for (const Where w : {Where{kForms[0], 21}, Where{kForms[1], 23}, Where{kForms[2], 36},
                        Where{kForms[3], 44}}) {
    Bytes b = built(w.form, m.get());
    b[w.vertical] = 196;
    RecordPtr r(minrec_create());
    EXPECT_EQ(w.form.parse(b.data(), static_cast<uint32_t>(b.size()), r.get()), ML_WRONG_KIND) << w.form.name;
    b[w.vertical - 2] = 196;  // both 196: equal but not 197
    EXPECT_EQ(w.form.parse(b.data(), static_cast<uint32_t>(b.size()), r.get()), ML_WRONG_KIND) << w.form.name;
  }
}

TEST(MinutiaeRecord, ParsersStayWithinTheBytes) {
  auto m = sample_record(5);
  for (const Form& f : kForms) {
    const Bytes b = built(f, m.get());
    RecordPtr r(minrec_create());
    zyl::test::for_each_prefix(b, [&](std::span<const std::uint8_t> cut) {
      EXPECT_EQ(f.parse(cut.data(), static_cast<uint32_t>(cut.size()), r.get()), ML_UNAVAILABLE) << f.name;
    });
    Bytes bad = b;
    bad[0] = 'X';
    EXPECT_EQ(f.parse(bad.data(), static_cast<uint32_t>(bad.size()), r.get()), ML_UNAVAILABLE);
  }
  // A count that the declared length cannot hold.
  Bytes iso = built(kForms[0], m.get());
  iso[27] = 6;
  RecordPtr r(minrec_create());
  EXPECT_EQ(fmr_parse_iso2005(iso.data(), static_cast<uint32_t>(iso.size()), r.get()), ML_UNAVAILABLE);
}

TEST(MinutiaeRecord, Iso2011WithoutQualityRecordHasQualityZero) {
  auto m = sample_record(2);
  Bytes b = built(kForms[3], m.get());
  // Drop the one quality record (bytes 34..38) and shorten both lengths.
  ASSERT_EQ(b[33], 1);
  b.erase(b.begin() + 34, b.begin() + 39);
  b[33] = 0;
  b[11] = static_cast<uint8_t>(b[11] - 5);
  b[18] = static_cast<uint8_t>(b[18] - 5);
  RecordPtr r(minrec_create());
  ASSERT_EQ(fmr_parse_iso2011(b.data(), static_cast<uint32_t>(b.size()), r.get()), ML_OK);
  EXPECT_EQ(r->finger_quality, 0);
  EXPECT_EQ(r->finger_position, 3);
  EXPECT_EQ(r->impression_type, 0x21);
  EXPECT_EQ(r->count, 2);
  EXPECT_EQ(r->minutiae[1].x, m->minutiae[1].x);
}

TEST(MinutiaeRecord, ImpressionTypeKeepsItsWholeByteInVersion30Forms) {
  auto m = sample_record(1);
  for (int type : {0, 8, 20, 24, 29}) {
    m->impression_type = static_cast<uint8_t>(type);
    for (const Form& f : {kForms[2], kForms[3]}) {
      const Bytes b = built(f, m.get());
      RecordPtr back(minrec_create());
      ASSERT_EQ(f.parse(b.data(), static_cast<uint32_t>(b.size()), back.get()), ML_OK) << f.name;
      EXPECT_EQ(back->impression_type, type) << f.name;
    }
  }
}

TEST(MinutiaeRecord, Iso2011WithShortMinutiaFields) {
  auto m = sample_record(2);
  Bytes b = built(kForms[3], m.get());
  b[50] = 0x50;  // 5-byte fields: no quality byte
  RecordPtr r(minrec_create());
  ASSERT_EQ(fmr_parse_iso2011(b.data(), static_cast<uint32_t>(b.size()), r.get()), ML_OK);
  EXPECT_EQ(r->minutiae[0].x, m->minutiae[0].x);
  EXPECT_EQ(r->minutiae[0].quality, 0);
  EXPECT_EQ(r->minutiae[1].quality, 0);
  b[50] = 0x40;  // too short to hold a minutia
  EXPECT_EQ(fmr_parse_iso2011(b.data(), static_cast<uint32_t>(b.size()), r.get()), ML_UNAVAILABLE);
}

TEST(MinutiaeRecord, ConvertersKeepTheFirstMinutiae) {
  auto m = sample_record(40);
  const Bytes ansi = built(kForms[2], m.get());
  uint8_t* out = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(fmr_to_iso2005(ansi.data(), static_cast<uint32_t>(ansi.size()), 10, &out, &size), ML_OK);
  RecordPtr r(minrec_create());
  ASSERT_EQ(fmr_parse_iso(out, size, r.get()), ML_OK);
  std::free(out);
  ASSERT_EQ(r->count, 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(r->minutiae[i].x, m->minutiae[i].x);

  const Bytes iso = built(kForms[0], m.get());
  ASSERT_EQ(fmr_to_ansi2009(iso.data(), static_cast<uint32_t>(iso.size()), 100, &out, &size), ML_OK);
  EXPECT_EQ(fmr_version(out, size), 30);
  ASSERT_EQ(fmr_parse_ansi(out, size, r.get()), ML_OK);
  EXPECT_EQ(r->count, 40);
  std::free(out);
  // The source family is the caller's choice: an ISO input read as ANSI
  // fails its checks or reads differently, never crashes.
  EXPECT_EQ(fmr_to_iso2011(iso.data(), 5, 10, &out, &size), ML_UNAVAILABLE);
}

TEST(MinutiaeRecord, SizeChecksAndVersions) {
  auto m = sample_record(3);
  const Bytes iso11 = built(kForms[3], m.get());
  const Bytes ansi09 = built(kForms[2], m.get());
  const Bytes iso05 = built(kForms[0], m.get());
  const Bytes ansi04 = built(kForms[1], m.get());
  auto n = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
  EXPECT_EQ(fmr_check_iso_size(iso11.data(), n(iso11)), ML_OK);
  EXPECT_EQ(fmr_check_iso_size(iso05.data(), n(iso05)), ML_OK);
  EXPECT_EQ(fmr_check_iso_size(iso11.data(), n(iso11) - 1), ML_UNAVAILABLE);
  EXPECT_EQ(fmr_check_ansi_size(ansi09.data(), n(ansi09)), ML_OK);
  EXPECT_EQ(fmr_check_ansi_size(ansi04.data(), n(ansi04)), ML_OK);
  // A "030" record that is at the same time a consistent ISO 2011 record.
  EXPECT_EQ(fmr_check_ansi_size(iso11.data(), n(iso11)), ML_UNAVAILABLE);
  EXPECT_EQ(fmr_check_ansi_size(iso05.data(), n(iso05)), ML_UNAVAILABLE);
  EXPECT_EQ(fmr_version(iso05.data(), n(iso05)), 20);
  EXPECT_EQ(fmr_version(iso11.data(), n(iso11)), 30);
  Bytes other = iso05;
  other[4] = '0';  // "020" passes as well
  EXPECT_EQ(fmr_version(other.data(), n(other)), 20);
  other[1] = 'X';
  EXPECT_EQ(fmr_version(other.data(), n(other)), 0);
  EXPECT_EQ(fmr_get_length(iso11.data(), n(iso11)), n(iso11));
  EXPECT_EQ(fmr_get_length_ansi(ansi04.data(), n(ansi04)), n(ansi04));
  EXPECT_EQ(fmr_get_length_ansi(ansi09.data(), n(ansi09)), n(ansi09));
}

TEST(MinutiaeRecord, MergesTwoAnsiViews) {
  auto a = sample_record(2);
  auto b = sample_record(3);
  for (const Form* f : {&kForms[1], &kForms[2]}) {
    const Bytes x = built(*f, a.get());
    const Bytes y = built(*f, b.get());
    uint8_t* out = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(fmr_merge_views(x.data(), static_cast<uint32_t>(x.size()), 2, y.data(),
                              static_cast<uint32_t>(y.size()), 7, &out, &size),
              ML_OK)
        << f->name;
    if (f == &kForms[1]) {
      EXPECT_EQ(size, x.size() + y.size() - 26);
      EXPECT_EQ(out[8] << 8 | out[9], static_cast<int>(size));
      EXPECT_EQ(out[24], 2);
      EXPECT_EQ(out[26], 2);
      EXPECT_EQ(out[x.size()], 7);
    } else {
      EXPECT_EQ(size, 59u + 12 + 18);
      EXPECT_EQ(out[19], 2);
      EXPECT_EQ(out[21], 2);
      EXPECT_EQ(out[38 + 12 + 2], 7);
      EXPECT_EQ(out[38 + 12 + 2 + 16], 3);  // second view's count
    }
    std::free(out);
    EXPECT_EQ(fmr_merge_views(x.data(), static_cast<uint32_t>(x.size()), 2, y.data(),
                              static_cast<uint32_t>(y.size()), 2, &out, &size),
              ML_UNAVAILABLE);
  }
}

// Extended data blocks ---------------------------------------------------

Bytes with_block(const Bytes& record, int (*add)(uint8_t**)) {
  auto* p = static_cast<uint8_t*>(std::malloc(record.size()));
  std::copy(record.begin(), record.end(), p);
  EXPECT_EQ(add(&p), ML_OK);
  const uint32_t size = p[8] << 24 | p[9] << 16 | p[10] << 8 | p[11];
  Bytes out(p, p + size);
  std::free(p);
  return out;
}

TEST(MinutiaeExtended, CoreDeltaBlockLayoutAndReadBack) {
  auto m = sample_record(1);
  const Bytes iso = built(kForms[0], m.get());
  static CoreList cores{};
  cores.count = 2;
  cores.entries[0] = {0x0123, 0x0456, 77, 1};
  cores.entries[1] = {20, 30, 0, 0};
  const Bytes b = with_block(iso, [](uint8_t** p) { return fmr_add_core_delta_block(p, &cores, nullptr); });
  ASSERT_EQ(b.size(), iso.size() + 15);
  const Bytes block(b.begin() + static_cast<std::ptrdiff_t>(iso.size()), b.end());
  EXPECT_EQ(block, (Bytes{0, 2, 0, 11, 2, 0x44, 0x56, 0x01, 0x23, 77, 0, 30, 0, 20, 0}));
  EXPECT_EQ(b[34] << 8 | b[35], 15);  // area length
  CoreList c{};
  DeltaList d{};
  ASSERT_EQ(fmr_read_core_delta_block(b.data(), static_cast<uint32_t>(b.size()), &c, &d), ML_OK);
  ASSERT_EQ(c.count, 2);
  EXPECT_EQ(c.entries[0].x, 0x0456);
  EXPECT_EQ(c.entries[0].angle, 77);
  EXPECT_EQ(c.entries[1].type, 0);
  EXPECT_EQ(d.count, 0);
  // A record without the block gives empty lists; a cut one is refused.
  ASSERT_EQ(fmr_read_core_delta_block(iso.data(), static_cast<uint32_t>(iso.size()), &c, &d), ML_OK);
  EXPECT_EQ(c.count, 0);
  zyl::test::for_each_prefix(b, [&](std::span<const std::uint8_t> cut) {
    const int status = fmr_read_core_delta_block(cut.data(), static_cast<uint32_t>(cut.size()), &c, &d);
    // Cut inside the block it is refused; cut before the block starts the
    // record is refused as a whole. Never a success.
    EXPECT_EQ(status, ML_UNAVAILABLE);
  });
}

TEST(MinutiaeExtended, ZonalQualityLevels) {
  auto m = sample_record(0);
  m->width = 4;
  m->height = 1;
  const Bytes iso = built(kForms[0], m.get());
  static uint8_t values[4] = {0, 34, 35, 100};
  static ZonalQuality zq{values, 1, 4, 1, 1};
  const Bytes b = with_block(iso, [](uint8_t** p) { return fmr_add_zonal_quality_block(p, &zq, 2); });
  // Levels 1, 1, 2, 3 packed from the low bits: 01 01 10 11 -> 0b11100101.
  EXPECT_EQ(b.back(), 0xE5);
  ZonalQuality back{};
  ASSERT_EQ(fmr_read_zonal_quality_block(b.data(), static_cast<uint32_t>(b.size()), &back), ML_OK);
  ASSERT_EQ(back.columns, 4);
  ASSERT_EQ(back.rows, 1);
  EXPECT_EQ(Bytes(back.cells, back.cells + 4), (Bytes{33, 33, 66, 99}));
  std::free(back.cells);
  uint8_t* p = nullptr;
  EXPECT_EQ(fmr_add_zonal_quality_block(&p, &zq, 9), ML_BAD_ARGUMENT);
}

TEST(MinutiaeExtended, ZonalQualityOnIso2011CarriesTheVendorBytes) {
  auto m = sample_record(3);
  m->width = 30;
  m->height = 20;
  const Bytes iso = built(kForms[3], m.get());
  static uint8_t values[6] = {100, 0, 50, 25, 75, 100};
  static ZonalQuality zq{values, 2, 3, 10, 10};
  const Bytes b = with_block(iso, [](uint8_t** p) { return fmr_add_zonal_quality_block(p, &zq, 8); });
  ASSERT_EQ(b.size(), iso.size() + 11 + 6);
  const std::size_t block = iso.size();
  EXPECT_EQ(Bytes(b.begin() + block, b.begin() + block + 11),
            (Bytes{0, 3, 0, 13, 0, 0, 0, 0, 10, 10, 8}));
  const uint8_t* area = nullptr;
  ASSERT_EQ(fmr_ext_data(b.data(), static_cast<uint32_t>(b.size()), &area), ML_OK);
  EXPECT_EQ(area, b.data() + 52 + 18);
  EXPECT_EQ(area[0] << 8 | area[1], 17);
  ZonalQuality back{};
  ASSERT_EQ(fmr_read_zonal_quality_block(b.data(), static_cast<uint32_t>(b.size()), &back), ML_OK);
  ASSERT_EQ(back.rows, 2);
  ASSERT_EQ(back.columns, 3);
  // 8 bits: the level is the value itself; it reads back as (1600 / 255 x level) >> 4.
  EXPECT_EQ(back.cells[0], (1600 / 255 * 100) >> 4);
  EXPECT_EQ(back.cells[1], 0);
  std::free(back.cells);
  // A cell size of zero describes no map.
  Bytes zero = b;
  zero[block + 8] = 0;
  EXPECT_EQ(fmr_read_zonal_quality_block(zero.data(), static_cast<uint32_t>(zero.size()), &back), ML_UNAVAILABLE);
}

TEST(MinutiaeExtended, MapsOnIso2011RaiseBothLengths) {
  auto m = sample_record(2);
  const Bytes iso = built(kForms[3], m.get());
  static uint8_t orient[2] = {64, 0};
  static CellMap om{orient, 1, 2, 16, -3, 5};
  const Bytes b = with_block(iso, [](uint8_t** p) { return fmr_add_orientation_block(p, &om); });
  ASSERT_EQ(b.size(), iso.size() + 13);
  EXPECT_EQ(b[15] << 24 | b[16] << 16 | b[17] << 8 | b[18], 39 + 12 + 13);
  EXPECT_EQ(b[b.size() - 2], 127);
  EXPECT_EQ(b[b.size() - 1], 128);
  CellMap back{};
  ASSERT_EQ(fmr_read_orientation_block(b.data(), static_cast<uint32_t>(b.size()), &back), ML_OK);
  EXPECT_EQ(back.cells[0], 64);
  EXPECT_EQ(back.cells[1], 0);
  EXPECT_EQ(back.origin_first, 0);  // negative origins are written as 0
  EXPECT_EQ(back.origin_second, 5);
  EXPECT_EQ(back.cell_size, 16);
  std::free(back.cells);
  EXPECT_EQ(fmr_read_frequency_block(b.data(), static_cast<uint32_t>(b.size()), &back), ML_UNAVAILABLE);
  EXPECT_EQ(back.cells, nullptr);

  static uint8_t freq[1] = {40};
  static CellMap fm{freq, 1, 1, 16, 0, 0};
  const Bytes f = with_block(b, [](uint8_t** p) { return fmr_add_frequency_block(p, &fm); });
  EXPECT_EQ(f.back(), 32);
  ASSERT_EQ(fmr_read_frequency_block(f.data(), static_cast<uint32_t>(f.size()), &back), ML_OK);
  EXPECT_EQ(back.cells[0], 32);
  std::free(back.cells);
}

TEST(MinutiaeExtended, FitCoordinatesMovesTallSetsByWholeCells) {
  struct Case {
    int max_x, min_y, max_y;
    int dx, dy;
  };
  const Case cases[] = {
      {300, 30, 500, 0, 16},   // shifted up one cell, not sideways
      {480, 30, 500, 16, 16},  // within one cell of the window: also moves left
      {300, 0, 500, 0, 0},     // spans 500 rows: unchanged
  };
  for (const Case& c : cases) {
    RecordPtr m(minrec_create());
    m->height = 560;
    m->width = 560;
    m->count = 2;
    m->minutiae[0] = {static_cast<uint16_t>(c.min_y), 20, 0, 1, 0, 0};
    m->minutiae[1] = {static_cast<uint16_t>(c.max_y), static_cast<uint16_t>(c.max_x), 0, 1, 0, 0};
    for (CellMap* map : {&m->orientation, &m->frequency}) {
      map->rows = 35;
      map->columns = 35;
      map->cell_size = 16;
      map->cells = static_cast<uint8_t*>(std::malloc(35 * 35));
      for (int i = 0; i < 35 * 35; ++i) map->cells[i] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(minrec_fit_coordinates(m.get()), ML_OK);
    EXPECT_EQ(m->minutiae[1].y, c.max_y - c.dy);
    EXPECT_EQ(m->minutiae[1].x, c.max_x - c.dx);
    EXPECT_EQ(m->height, 560 - c.dy);
    EXPECT_EQ(m->width, 560 - c.dx);
    EXPECT_EQ(m->orientation.rows, 35 - c.dy / 16);
    EXPECT_EQ(m->frequency.columns, 35 - c.dx / 16);
    // The first kept cell is the one at (dy/16, dx/16) of the old map.
    EXPECT_EQ(m->orientation.cells[0], static_cast<uint8_t>((c.dy / 16) * 35 + c.dx / 16));
  }
}

TEST(MinutiaeExtended, RescalesPackedCoreEntries) {
  // Core with angle at (x 197, y 394), core without angle at (x 100, y 0).
  uint8_t entries[] = {0x40, 197, 0x01, 0x8A, 9, 0x00, 100, 0x00, 0x00};
  coredelta_rescale(entries, 2, 197, 100, 1, 0, 0);
  EXPECT_EQ(entries[1], 100);
  EXPECT_EQ(entries[2] << 8 | entries[3], 200);
  EXPECT_EQ(entries[0] & 0xC0, 0x40);
  EXPECT_EQ(entries[4], 9);   // angle untouched
  EXPECT_EQ(entries[6], 51);  // 100 * 100 / 197 = 50.8
  coredelta_rescale(entries, 1, 100, 197, 1, 0, 0);
  EXPECT_EQ(entries[1], 197);
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "synthetic_print.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_tlv.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zyl::test::PlantedMinutia;

struct Context {
  MatchContext* ctx = ctx_create();
  ~Context() { ctx_release(ctx); }
};

struct Image {
  GrayImage* image;
  Image(const Bytes& px, int h, int w, int dpi = 500) : image(image_create(h, w, dpi, dpi, px.data(), 0)) {}
  ~Image() { image_release(image); }
};

struct Blob {
  DataBlob* blob = nullptr;
  ~Blob() {
    if (blob) blob_release(blob);
  }
  Bytes bytes() const { return Bytes(blob_data(blob), blob_data(blob) + blob_size(blob)); }
};

using Operation = int (*)(MatchContext*, GrayImage*, void*, int32_t, DataBlob**);

const std::vector<PlantedMinutia> kPlanted{{60, 60, 2, 1}, {130, 60, 2, 1}, {60, 130, 2, -1}, {130, 130, 2, -1}};

bool has_path(const Bytes& b, std::initializer_list<std::uint16_t> path) {
  TlvElement e{};
  return tlv_find_path(b.data(), static_cast<std::uint32_t>(b.size()), path.begin(), static_cast<int>(path.size()),
                       &e) == 1;
}

TEST(MinutiaeOperations, OrderCodeFromTheKey) {
  EXPECT_EQ(minutiae_order_from_key(0), 21);
  EXPECT_EQ(minutiae_order_from_key(0x0E), 19);  // angle, descending
  EXPECT_EQ(minutiae_order_from_key(0x04), 1);
  EXPECT_EQ(minutiae_order_from_key(0x09), 2);   // bits 0-1 of 1: ascending
  EXPECT_EQ(minutiae_order_from_key(0x12), 20);
  for (int key : {0x14, 0x18, 0x1C, 0x02}) EXPECT_EQ(minutiae_order_from_key(key), 21) << key;
}

TEST(MinutiaeOperations, FitResolution) {
  struct Case {
    int target, divisor, ry, h, w;
    int out_r, out_h, out_w;
  };
  const Case cases[] = {
      {500, 1, 500, 300, 400, 500, 300, 400},  // within 8 dpi: unchanged
      {250, 2, 500, 300, 400, 250, 150, 200},  // halved, smaller side a multiple of 6
      {500, 1, 400, 300, 400, 500, 384, 512},  // 375 rounded up to 384, width in proportion
      {500, 1, 508, 160, 160, 508, 160, 160},  // 8 dpi off: unchanged
      {500, 1, 510, 100, 100, 500, 108, 108},  // rounded up to 108 both; 510 * 108 / 100 = 551 > 8 off
  };
  for (const Case& c : cases) {
    int ry = 0, rx = 0, h = 0, w = 0;
    ASSERT_EQ(extract_fit_resolution(c.target, c.divisor, c.ry, c.ry, c.h, c.w, &ry, &rx, &h, &w), ML_OK);
    EXPECT_EQ(h, c.out_h) << c.ry << " " << c.h;
    EXPECT_EQ(w, c.out_w) << c.ry << " " << c.w;
    if (h != c.h) {
      EXPECT_EQ(ry, (c.h / 2 + c.ry * h) / c.h);
    }
    EXPECT_EQ(rx, ry);
  }
  int ry = 0, rx = 0, h = 0, w = 0;
  EXPECT_EQ(extract_fit_resolution(500, 1, 0, 500, 100, 100, &ry, &rx, &h, &w), ML_WRONG_KIND);
}

TEST(MinutiaeOperations, RequestedTypes) {
  Context c;
  const Bytes px = zyl::test::synthetic_print(192, 192, 9, kPlanted);
  Image img(px, 192, 192);
  struct Case {
    int requested, blob_type;
    const char* form;  // "iso05", "iso11", "ansi04", "ansi09", "card05", "card11", "ext", "wrap"
  };
  // Requested types 4, 5 and 6 give the older versions as blob types 1, 2 and 3.
  const Case cases[] = {{1, 1, "iso11"},  {2, 2, "card11"}, {3, 3, "ansi09"}, {4, 1, "iso05"},
                        {5, 2, "card05"}, {6, 3, "ansi04"}, {67, 67, "ext"},  {72, 72, "ext"},
                        {73, 67, "wrap"}, {74, 67, "ext"},  {75, 72, "ext"}};
  for (const Case& k : cases) {
    Blob out;
    ASSERT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, k.requested, &out.blob), ML_OK) << k.requested;
    ASSERT_NE(out.blob, nullptr);
    EXPECT_EQ(blob_type(out.blob), k.blob_type);
    const Bytes b = out.bytes();
    const std::string form = k.form;
    MinutiaeRecord r{};
    if (form == "iso05" || form == "iso11") {
      EXPECT_EQ(fmr_version(b.data(), static_cast<std::uint32_t>(b.size())), form == "iso05" ? 20 : 30);
      ASSERT_EQ(fmr_parse_iso(b.data(), static_cast<std::uint32_t>(b.size()), &r), ML_OK);
      EXPECT_EQ(r.count, 4);
      CoreList cores;
      DeltaList deltas;
      EXPECT_EQ(fmr_read_core_delta_block(b.data(), static_cast<std::uint32_t>(b.size()), &cores, &deltas), ML_OK);
    } else if (form == "ansi04" || form == "ansi09") {
      ASSERT_EQ(fmr_parse_ansi(b.data(), static_cast<std::uint32_t>(b.size()), &r), ML_OK);
      EXPECT_EQ(r.count, 4);
      EXPECT_EQ(b[5], form == "ansi04" ? '2' : '3');
    } else if (form == "card05" || form == "card11") {
      EXPECT_TRUE(has_path(b, {0x7F2E, 0xA1, 0x90}) == (form == "card05"));
      EXPECT_TRUE(has_path(b, {0x7F2E, 0x82}));  // quality element
      CompactMinutia m[CARD_MAX_MINUTIAE];
      std::uint32_t n = 0;
      int q = 0;
      ASSERT_EQ(card_read_minutiae(b.data(), static_cast<std::uint32_t>(b.size()), 64, 0, nullptr, m, &n, &q), ML_OK);
      EXPECT_EQ(n, 4u);
      EXPECT_EQ(q, 1);
    } else {
      TlvElement c1{}, c2{}, c3{};
      const std::uint8_t* part = nullptr;
      std::uint32_t part_size = 0;
      ASSERT_EQ(card_parse_extended(b.data(), static_cast<std::uint32_t>(b.size()), &part, &part_size, &c1, &c2, &c3),
                ML_OK);
      EXPECT_NE(c1.value, nullptr);
      EXPECT_EQ(c2.value != nullptr, k.requested == 72 || k.requested == 75);
      EXPECT_EQ(b[0] == 0xE1, form == "wrap");
      if (k.requested >= 74) {
        EXPECT_EQ(c1.value[0], 0);  // long form: fine maps
      }
      ASSERT_EQ(card_to_minrec_any(b.data(), static_cast<std::uint32_t>(b.size()), &r), ML_OK);
      EXPECT_EQ(r.count, 4);
    }
    std::free(r.zonal_quality.cells);
  }
  for (int other : {0, 7, 66, 68, 76}) {
    Blob out;
    EXPECT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, other, &out.blob), ML_WRONG_KIND) << other;
    EXPECT_EQ(out.blob, nullptr);
  }
}

TEST(MinutiaeOperations, FineMapsRefuseLargeImages) {
  Context c;
  const Bytes px = zyl::test::synthetic_print(320, 200, 9, kPlanted);
  Image img(px, 320, 200);
  Blob out;
  EXPECT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, 74, &out.blob), ML_WRONG_KIND);
  EXPECT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, 67, &out.blob), ML_OK);
  Image zero(px, 320, 200, 0);
  Blob none;
  EXPECT_EQ(extract_minutiae_grey_full(c.ctx, zero.image, nullptr, 2, &none.blob), ML_WRONG_KIND);
}

TEST(MinutiaeOperations, HalfModeAndBlockMaps) {
  Context c;
  const Bytes px = zyl::test::synthetic_print(384, 384, 18, {{120, 120, 2, 1}, {260, 120, 2, 1}, {120, 260, 2, -1}});
  Image img(px, 384, 384);
  Blob card;
  ASSERT_EQ(extract_minutiae_grey_half(c.ctx, img.image, nullptr, 2, &card.blob), ML_OK);
  const Bytes b = card.bytes();
  CompactMinutia m[CARD_MAX_MINUTIAE];
  std::uint32_t n = 0;
  int q = 0;
  ASSERT_EQ(card_read_minutiae(b.data(), static_cast<std::uint32_t>(b.size()), 64, 0, nullptr, m, &n, &q), ML_OK);
  EXPECT_EQ(n, 3u);
  Blob maps;
  EXPECT_EQ(extract_block_maps(c.ctx, img.image, nullptr, 2, &maps.blob), ML_BAD_ARGUMENT);
  ASSERT_EQ(extract_block_maps(c.ctx, img.image, nullptr, 67, &maps.blob), ML_OK);
  EXPECT_EQ(blob_type(maps.blob), 67);
  const Bytes e = maps.bytes();
  TlvElement c1{}, c3{};
  ASSERT_EQ(card_parse_extended(e.data(), static_cast<std::uint32_t>(e.size()), nullptr, nullptr, &c1, nullptr, &c3),
            ML_OK);
  ASSERT_NE(c1.value, nullptr);
  EXPECT_EQ(c1.value[0], 12);  // cells of 6 at half resolution, doubled
  std::uint16_t rows = 0, columns = 0;
  std::uint8_t flag = 0;
  ASSERT_EQ(card_parse_image_info(c3.value, c3.length, &rows, &columns, &flag), ML_OK);
  EXPECT_EQ(rows, 384);  // 192 rows at 250 dpi, doubled
}

TEST(MinutiaeOperations, BilevelOperationAndTheTable) {
  Context c;
  const Bytes px = zyl::test::synthetic_print(384, 384, 18, {{120, 120, 2, 1}, {260, 120, 2, 1}, {120, 260, 2, -1}});
  Image img(px, 384, 384);
  Blob refused;
  EXPECT_EQ(extract_minutiae_bilevel(c.ctx, img.image, nullptr, 2, &refused.blob), ML_OUT_OF_LIMITS);
  EXPECT_EQ(refused.blob, nullptr);
  Blob ext;
  ASSERT_EQ(minutiae_extract_operations[0].extract(c.ctx, img.image, nullptr, 67, &ext.blob), ML_OK);
  EXPECT_EQ(blob_type(ext.blob), 67);
  const Bytes b = ext.bytes();
  MinutiaeRecord r{};
  ASSERT_EQ(card_to_minrec_any(b.data(), static_cast<std::uint32_t>(b.size()), &r), ML_OK);
  EXPECT_EQ(r.count, 3);
  TlvElement c1{};
  ASSERT_EQ(card_parse_extended(b.data(), static_cast<std::uint32_t>(b.size()), nullptr, nullptr, &c1, nullptr, nullptr),
            ML_OK);
  EXPECT_NE(c1.value, nullptr);
  // The chains' routines A to E are the table's slots in order; D reads the
  // plain slot as full resolution, the same as C.
  const Operation named[] = {card_extract_a, card_extract_b, card_extract_c, card_extract_d, card_extract_e};
  const int type[] = {67, 2, 2, 2, 67};
  for (int slot = 0; slot < 5; ++slot) {
    Blob x, y;
    ASSERT_EQ(named[slot](c.ctx, img.image, nullptr, type[slot], &x.blob), ML_OK) << slot;
    ASSERT_EQ(minutiae_extract_operations[slot].extract(c.ctx, img.image, nullptr, type[slot], &y.blob), ML_OK);
    EXPECT_EQ(x.bytes(), y.bytes()) << slot;
  }
  Blob c_card, d_card;
  ASSERT_EQ(card_extract_c(c.ctx, img.image, nullptr, 2, &c_card.blob), ML_OK);
  ASSERT_EQ(card_extract_d(c.ctx, img.image, nullptr, 2, &d_card.blob), ML_OK);
  EXPECT_EQ(c_card.bytes(), d_card.bytes());
  // The driver itself: no standard records, finger positions up to 10.
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  EXPECT_EQ(minutiae_driver_bilevel(px.data(), nullptr, 192, 192, 1, 0, nullptr, 0, 64, 21, 0x9472, 1, &out, &size,
                                    nullptr, nullptr),
            ML_OK);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(minutiae_driver_bilevel(px.data(), nullptr, 192, 192, 11, 0, nullptr, 0, 64, 21, 0x9472, 2, &out, &size,
                                    nullptr, nullptr),
            ML_BAD_ARGUMENT);
}

TEST(MinutiaeOperations, DriverChecks) {
  const Bytes px = zyl::test::synthetic_print(96, 96, 9, {{48, 48, 2, 1}});
  std::uint8_t* out = reinterpret_cast<std::uint8_t*>(1);
  std::uint32_t size = 7;
  // Impression type 4 and order codes 0x06 and 0x21 are refused.
  EXPECT_EQ(minutiae_driver_grey(px.data(), nullptr, 96, 96, 1, 4, nullptr, 0, 64, 21, MINX_FULL, 2, &out, &size,
                                 nullptr, nullptr),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(size, 0u);
  for (int order : {0x06, 0x21, 0x10})
    EXPECT_EQ(minutiae_driver_grey(px.data(), nullptr, 96, 96, 1, 0, nullptr, 0, 64, static_cast<std::uint8_t>(order),
                                   MINX_FULL, 2, &out, &size, nullptr, nullptr),
              ML_BAD_ARGUMENT);
  EXPECT_EQ(minutiae_driver_grey(px.data(), nullptr, 96, 96, 1, 0, nullptr, 5, 64, 21, MINX_FULL, 2, &out, &size,
                                 nullptr, nullptr),
            ML_CORRUPT);  // fewer than 5 minutiae
  EXPECT_EQ(minutiae_driver_grey(px.data(), nullptr, 96, 96, 1, 0, nullptr, 0, 64, 21, 0, 2, &out, &size, nullptr,
                                 nullptr),
            ML_WRONG_KIND);  // no sampling mode
  ASSERT_EQ(minutiae_driver_grey(px.data(), nullptr, 96, 96, 12, 8, nullptr, 0, 64, 21, MINX_FULL, MINX_FORMAT_MINREC,
                                 &out, &size, nullptr, nullptr),
            ML_OK);
  auto* r = reinterpret_cast<MinutiaeRecord*>(out);
  EXPECT_EQ(size, sizeof(MinutiaeRecord));
  EXPECT_EQ(r->finger_position, 0);  // over 10: stored as 0
  EXPECT_EQ(r->impression_type, 8);
  EXPECT_EQ(r->count, 1);
  minrec_free(r);
  EXPECT_EQ(minutiae_driver_maps(px.data(), nullptr, 96, 96, 11, 0, 0x1030, 2, &out, &size), ML_BAD_ARGUMENT);
  ASSERT_EQ(minutiae_driver_card_fixed(px.data(), 96, 96, 1, 0, &out, &size), ML_OK);
  EXPECT_TRUE(has_path(Bytes(out, out + size), {0x7F2E, 0x82}));
  minutiae_buffer_free(out);
}

TEST(MinutiaeOperations, OlderStandardTypesAreStoredAsTheirBaseTypes) {
  // Requested types 4, 5 and 6 give the older standard versions under the
  // blob types 1, 2 and 3 themselves, not aliases that only read as them.
  Context c;
  const Bytes px = zyl::test::synthetic_print(192, 192, 9, kPlanted);
  Image img(px, 192, 192);
  struct Case {
    int requested, stored;
  };
  for (const Case& k : {Case{4, 1}, Case{5, 2}, Case{6, 3}}) {
    Blob out;
    ASSERT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, k.requested, &out.blob), ML_OK) << k.requested;
    const Bytes b = out.bytes();
    DataBlob* expected = blob_create(k.stored, b.data(), static_cast<std::uint32_t>(b.size()));
    EXPECT_EQ(blob_equal(out.blob, expected), 1) << k.requested;
    std::vector<std::uint8_t> written(blob_write(nullptr, out.blob));
    blob_write(written.data(), out.blob);
    std::vector<std::uint8_t> reference(blob_write(nullptr, expected));
    blob_write(reference.data(), expected);
    EXPECT_EQ(written, reference) << k.requested;
    blob_release(expected);
  }
}

TEST(MinutiaeOperations, FingerPositionOver10IsStoredAs0BeforeAnyCutToAByte) {
  Context c;
  const Bytes px = zyl::test::synthetic_print(192, 192, 9, kPlanted);
  struct Case {
    int position, stored;
  };
  const Case cases[] = {{3, 3}, {10, 10}, {11, 0}, {256, 0}, {265, 0}, {266, 0}, {-1, 0}};
  for (const Case& k : cases) {
    Image img(px, 192, 192);
    FingerInfo* info = finger_info_create(k.position, nullptr);
    image_set_finger_info(img.image, info);
    finger_info_release(info);
    Blob out;
    ASSERT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, 1, &out.blob), ML_OK) << k.position;
    const Bytes b = out.bytes();
    MinutiaeRecord r{};
    ASSERT_EQ(fmr_parse_iso(b.data(), static_cast<std::uint32_t>(b.size()), &r), ML_OK);
    EXPECT_EQ(r.finger_position, k.stored) << k.position;
    std::free(r.zonal_quality.cells);
  }
}

TEST(MinutiaeOperations, MapsDriverHandsOutFormat4AsThePlainCard) {
  const Bytes px = zyl::test::synthetic_print(192, 192, 9, kPlanted);
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(minutiae_driver_maps(px.data(), nullptr, 192, 192, 1, 0, MINX_HALF | MINX_CARD_QUALITY,
                                 MINX_FORMAT_WRAPPED, &out, &size),
            ML_OK);
  const Bytes b(out, out + size);
  minutiae_buffer_free(out);
  ASSERT_GE(b.size(), 2u);
  EXPECT_EQ(card_template_size(b.data(), static_cast<std::uint32_t>(b.size())), b.size()) << "a 7F2E card, no E1 wrap";
  EXPECT_TRUE(has_path(b, {0x7F2E, 0x82}));
}

// A print wider than the card's coordinate range: the card leaves out the
// minutiae it cannot place, and its quality element lists the same ones,
// so the card matchers can read it.
TEST(MinutiaeOperations, QualityElementListsTheMinutiaeTheCardKeeps) {
  Context c;
  const Bytes px =
      zyl::test::synthetic_print(200, 700, 9, {{60, 100, 2, 1}, {350, 100, 2, -1}, {640, 100, 2, 1}});
  Image img(px, 200, 700);
  Blob record, card;
  ASSERT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, 1, &record.blob), ML_OK);
  const Bytes rb = record.bytes();
  MinutiaeRecord r{};
  ASSERT_EQ(fmr_parse_iso(rb.data(), static_cast<std::uint32_t>(rb.size()), &r), ML_OK);
  std::free(r.zonal_quality.cells);
  ASSERT_EQ(extract_minutiae_grey_full(c.ctx, img.image, nullptr, 2, &card.blob), ML_OK);
  const Bytes b = card.bytes();
  const std::uint8_t* minutiae = nullptr;
  std::uint32_t length = 0;
  ASSERT_EQ(card_get_minutiae(b.data(), static_cast<std::uint32_t>(b.size()), &minutiae, &length), ML_OK);
  const std::uint32_t on_card = length / 3;
  ASSERT_LT(on_card, r.count) << "the print must span more than the card can hold";
  ASSERT_GT(on_card, 0u);
  TlvElement quality{};
  ASSERT_EQ(card_find_element(b.data(), static_cast<std::uint32_t>(b.size()), 0x82, &quality), ML_OK);
  EXPECT_EQ(quality.length, on_card + 4);
  CompactMinutia m[CARD_MAX_MINUTIAE];
  std::uint32_t n = 0;
  int q = 0;
  ASSERT_EQ(card_read_minutiae(b.data(), static_cast<std::uint32_t>(b.size()), 64, 0, nullptr, m, &n, &q), ML_OK);
  EXPECT_EQ(n, on_card);
  EXPECT_EQ(q, 1);
  // Each kept minutia carries its own quality byte.
  for (std::uint32_t i = 0; i < n; ++i) EXPECT_NE(m[i].quality, 240) << i;
}

// Every allocation of the card path may fail: the driver answers its
// out-of-memory status with no output and frees the card it held (the
// sanitizer build's leak checker sees a card left behind when the quality
// element cannot be added).
TEST(MinutiaeOperations, CardDriverFreesEverythingWhenMemoryRunsOut) {
  const Bytes px = zyl::test::synthetic_print(96, 96, 9, {{48, 48, 2, 1}});
  struct Case {
    int format;
    int wrap_status;  // what the last step answers when memory runs out
  };
  // The wrapping of format 4 answers 17 when its buffer cannot be made.
  for (const Case& c : {Case{MINX_FORMAT_CARD, ML_NO_MEMORY}, Case{MINX_FORMAT_WRAPPED, ML_CORRUPT}}) {
    const int allocations = zyl::test::sweep_allocation_failures([&] {
      std::uint8_t* out = nullptr;
      std::uint32_t size = 0;
      const int status = minutiae_driver_grey(px.data(), nullptr, 96, 96, 1, 0, nullptr, 0, 64, 21,
                                              MINX_FULL | MINX_CORES | MINX_CARD_QUALITY,
                                              static_cast<std::uint8_t>(c.format), &out, &size, nullptr, nullptr);
      if (zyl::test::allocation_failed()) {
        EXPECT_TRUE(status == ML_NO_MEMORY || status == c.wrap_status) << status;
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(size, 0u);
      } else {
        EXPECT_EQ(status, ML_OK);
      }
      minutiae_buffer_free(out);
    });
    EXPECT_GT(allocations, 0) << c.format;
  }
}

TEST(RidgeTrace, NothingToMeasure) {
  MinutiaeRecord r{};
  MinutiaeWorkInfo work{};
  work.height = work.width = 3;
  Bytes img(9, 0);
  ASSERT_EQ(ridgetrace_run(&work, img.data(), nullptr, 1, 0, nullptr, &r, 0), ML_OK);
  EXPECT_EQ(Bytes(r.trace_value, r.trace_value + 4), (Bytes{0x00, 0x80, 0x00, 0xFF}));
  EXPECT_EQ(img, Bytes(9, 0));  // untouched
  // Closed loops only: no free end to follow.
  work.height = work.width = 64;
  img.assign(64 * 64, 255);
  for (int k = 10; k < 50; ++k) {
    img[10 * 64 + k] = img[49 * 64 + k] = img[k * 64 + 10] = img[k * 64 + 49] = 0;
  }
  Bytes blocks(8 * 8, 1);
  std::memset(r.trace_value, 1, 4);
  ASSERT_EQ(ridgetrace_run(&work, img.data(), blocks.data(), 8, 0, nullptr, &r, 0), ML_OK);
  EXPECT_EQ(Bytes(r.trace_value, r.trace_value + 4), (Bytes{0x00, 0x80, 0x00, 0xFF}));
}

// Gently curved open ridges across a 128 x 128 frame.
Bytes curved_ridges() {
  Bytes img(128 * 128, 255);
  for (int ridge = 0; ridge < 9; ++ridge)
    for (int x = 8; x < 120; ++x) {
      const int y = 12 + ridge * 12 + static_cast<int>(std::lround(4 * std::sin(x / 18.0)));
      img[std::size_t(y) * 128 + x] = 0;
      if (x > 8) {  // keep the line 8-connected
        const int prev = 12 + ridge * 12 + static_cast<int>(std::lround(4 * std::sin((x - 1) / 18.0)));
        for (int yy = std::min(prev, y) + 1; yy < std::max(prev, y); ++yy) img[std::size_t(yy) * 128 + x] = 0;
      }
    }
  return img;
}

TEST(RidgeTrace, TraceValueOfAFixture) {
  for (int half = 0; half < 2; ++half) {
    MinutiaeRecord r{};
    r.options = half ? MINX_HALF : MINX_FULL;
    MinutiaeWorkInfo work{};
    work.height = work.width = 128;
    Bytes img = curved_ridges();
    Bytes blocks(16 * 16, 1);
    ASSERT_EQ(ridgetrace_run(&work, img.data(), blocks.data(), 8, 0, nullptr, &r, 0), ML_OK);
    const Bytes value(r.trace_value, r.trace_value + 4);
    // Pinned: peers store and compare this element. Both window steps see
    // the same bulges here.
    EXPECT_EQ(value, (Bytes{0x20, 0x18, 0x23, 0x0E})) << half;
    for (std::size_t i = 0; i < img.size(); ++i) EXPECT_NE(img[i], 0) << "every ridge was followed";
  }
}

TEST(Minutiae508, CardOfPlantedMinutiae) {
  Context c;
  const Bytes px = zyl::test::synthetic_print(192, 192, 9, kPlanted);
  Bytes inv = px;
  for (auto& v : inv) v = static_cast<std::uint8_t>(255 - v);
  for (int invert = 0; invert < 2; ++invert) {
    Image img(invert ? inv : px, 192, 192);
    Blob out;
    ASSERT_EQ(extract_minutiae_508(c.ctx, img.image, nullptr, 2, &out.blob), ML_OK);
    ASSERT_NE(out.blob, nullptr);
    EXPECT_EQ(blob_type(out.blob), 2);
    const Bytes b = out.bytes();
    EXPECT_TRUE(has_path(b, {0x7F2E, 0x81}));
    const std::uint8_t* v = nullptr;
    std::uint32_t n = 0;
    ASSERT_EQ(card_get_minutiae(b.data(), static_cast<std::uint32_t>(b.size()), &v, &n), ML_OK);
    ASSERT_EQ(n, 3u * kPlanted.size()) << invert;
    for (std::uint32_t i = 0; i < n; i += 3) EXPECT_EQ(v[i + 2] >> 6, invert ? 1 : 2);  // dark-ridge polarity
  }
  Image plain(px, 192, 192);
  Blob none;
  EXPECT_EQ(extract_minutiae_508(c.ctx, plain.image, nullptr, 1, &none.blob), ML_OK);
  EXPECT_EQ(none.blob, nullptr);
}

TEST(Minutiae508, Resolutions) {
  Context c;
  const Bytes px = zyl::test::synthetic_print(160, 160, 7, kPlanted);
  Image low(px, 160, 160, 400);  // resampled to 508 dpi
  Blob out;
  EXPECT_EQ(extract_minutiae_508(c.ctx, low.image, nullptr, 2, &out.blob), ML_OK);
  EXPECT_NE(out.blob, nullptr);
  GrayImage* mixed = image_create(160, 160, 500, 400, px.data(), 0);
  Blob refused;
  EXPECT_EQ(extract_minutiae_508(c.ctx, mixed, nullptr, 2, &refused.blob), ML_WRONG_KIND);
  image_release(mixed);
  Image zero(px, 160, 160, 0);
  EXPECT_EQ(extract_minutiae_508(c.ctx, zero.image, nullptr, 2, &refused.blob), ML_WRONG_KIND);
  for (const char* name : {"fvc2004_102_1_160.pgm", "fvc2000_101_1.pgm"}) {
    const zyl::test::GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
    Image img(g.pixels, g.height, g.width);
    Blob card;
    ASSERT_EQ(extract_minutiae_508(c.ctx, img.image, nullptr, 2, &card.blob), ML_OK) << name;
    const Bytes b = card.bytes();
    const std::uint8_t* v = nullptr;
    std::uint32_t n = 0;
    ASSERT_EQ(card_get_minutiae(b.data(), static_cast<std::uint32_t>(b.size()), &v, &n), ML_OK);
    EXPECT_GT(n, 3u * 5);
    EXPECT_LE(n, 3u * 64);
  }
}

// Real prints: crops and 500-dpi images of the test data.
TEST(MinutiaeOperations, RealPrintsGiveRecordsAndCards) {
  Context c;
  const char* files[] = {"fvc2000_102_1_160.pgm", "fvc2000_102_2_160.pgm", "fvc2002_101_1_160.pgm",
                         "fvc2004_102_1_160.pgm", "fvc2004_102_5_160.pgm", "fvc2004_103_1_160.pgm",
                         "fvc2000_101_1.pgm",     "fvc2002_101_1_crop.pgm", "fvc2004_101_1.pgm"};
  for (const char* name : files) {
    const zyl::test::GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
    Image img(g.pixels, g.height, g.width);
    for (Operation op : {extract_minutiae_grey_full, extract_minutiae_grey_half, extract_minutiae_grey_plain}) {
      // (the bit-plane operation gives extended cards only; see below)
      Blob rec;
      ASSERT_EQ(op(c.ctx, img.image, nullptr, 1, &rec.blob), ML_OK) << name;
      const Bytes b = rec.bytes();
      MinutiaeRecord r{};
      ASSERT_EQ(fmr_parse_iso(b.data(), static_cast<std::uint32_t>(b.size()), &r), ML_OK) << name;
      EXPECT_GT(r.count, 5) << name;
      for (int i = 0; i < r.count; ++i) {
        EXPECT_LT(r.minutiae[i].x, r.width) << name;
        EXPECT_LT(r.minutiae[i].y, r.height) << name;
      }
      std::uint8_t* card = nullptr;
      std::uint32_t card_size = 0;
      ASSERT_EQ(fmr_to_card(b.data(), static_cast<std::uint32_t>(b.size()), 128, &card, &card_size), ML_OK);
      std::uint8_t* back = nullptr;
      std::uint32_t back_size = 0;
      ASSERT_EQ(card_to_iso2005(card, card_size, &back, &back_size), ML_OK);
      MinutiaeRecord rb{};
      ASSERT_EQ(fmr_parse_iso(back, back_size, &rb), ML_OK);
      ASSERT_EQ(rb.count, std::min<int>(r.count, 128));
      for (int i = 0; i < rb.count; ++i) {
        EXPECT_NEAR(rb.minutiae[i].x, r.minutiae[i].x, 1);
        EXPECT_NEAR(rb.minutiae[i].y, r.minutiae[i].y, 1);
      }
      std::free(card);
      std::free(back);
      for (int type : {2, 67, 73}) {
        Blob out;
        ASSERT_EQ(op(c.ctx, img.image, nullptr, type, &out.blob), ML_OK) << name << " " << type;
        const Bytes e = out.bytes();
        const std::uint8_t* section = nullptr;
        std::uint32_t section_size = 0;
        if (type == 2) {
          const std::uint8_t* v = nullptr;
          std::uint32_t n = 0;
          EXPECT_EQ(card_get_minutiae(e.data(), static_cast<std::uint32_t>(e.size()), &v, &n), ML_OK);
        } else {
          EXPECT_EQ(card_parse_extended(e.data(), static_cast<std::uint32_t>(e.size()), nullptr, nullptr, nullptr,
                                        nullptr, nullptr),
                    ML_OK);
          EXPECT_EQ(tmpl_card_section(e.data(), static_cast<std::uint32_t>(e.size()), 2, &section, &section_size),
                    ML_OK);
          EXPECT_EQ(tmpl_card_section(e.data(), static_cast<std::uint32_t>(e.size()), 66, &section, &section_size),
                    ML_OK);
        }
      }
    }
    Blob maps, bits;
    EXPECT_EQ(extract_block_maps(c.ctx, img.image, nullptr, 67, &maps.blob), ML_OK) << name;
    ASSERT_EQ(extract_minutiae_bilevel(c.ctx, img.image, nullptr, 67, &bits.blob), ML_OK) << name;
    const Bytes e = bits.bytes();
    MinutiaeRecord r{};
    ASSERT_EQ(card_to_minrec_any(e.data(), static_cast<std::uint32_t>(e.size()), &r), ML_OK) << name;
    EXPECT_GT(r.count, 5) << name;
  }
}

}  // namespace

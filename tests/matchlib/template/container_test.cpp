#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const DataBlob* b) { return Bytes(blob_data(b), blob_data(b) + blob_size(b)); }

struct BlobHolder {
  DataBlob* p;
  explicit BlobHolder(DataBlob* b) : p(b) {}
  ~BlobHolder() { blob_release(p); }
  BlobHolder(const BlobHolder&) = delete;
  BlobHolder& operator=(const BlobHolder&) = delete;
};

DataBlob* section(int code, const std::string& text) {
  return blob_create(code, text.data(), static_cast<uint32_t>(text.size()));
}

std::vector<int> codes_of(const DataBlob* b) {
  ContainerTable t;
  EXPECT_EQ(container_parse(blob_data(b), blob_size(b), &t), ML_OK);
  std::vector<int> codes;
  for (int i = 0; i < t.count; ++i) codes.push_back(t.entries[i].format);
  return codes;
}

std::string entry_text(const DataBlob* b, int code) {
  const uint8_t* d = nullptr;
  uint32_t n = 0;
  if (container_find_entry(b, code, &d, &n) != 0) return "<absent>";
  return std::string(reinterpret_cast<const char*>(d), n);
}

// Container of n entries with codes 1..n, each holding its code as text.
DataBlob* container_of(int n) {
  DataBlob* c = nullptr;
  for (int i = 1; i <= n; ++i) {
    const std::string text = std::to_string(i);
    DataBlob* next = container_put_entry(c, i, reinterpret_cast<const uint8_t*>(text.data()),
                                         static_cast<uint32_t>(text.size()));
    blob_release(c);
    c = next;
  }
  return c;
}

TEST(Container, EmptyContainerIsEighteenExactBytes) {
  ContainerTable t{};
  t.form = 1;
  BlobHolder c(container_build(&t));
  ASSERT_NE(c.p, nullptr);
  EXPECT_EQ(blob_type(c.p), 84);
  const Bytes expected = {'V', 'O', 'R', 'N', 'A', 'L', 'I', 0, 1, 0,
                          0xC6, 0xD2, 0x2D, 0x89, 'F', 'O', 'O', 'F'};
  EXPECT_EQ(bytes_of(c.p), expected);
  EXPECT_EQ(container_is_empty(c.p), 1);
  EXPECT_EQ(container_verify(blob_data(c.p), blob_size(c.p), 2), 1);
}

TEST(Container, OneEntryLayoutAndHeaderCrc) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  BlobHolder c(container_put_entry(nullptr, 86, abc, 3));
  ASSERT_NE(c.p, nullptr);
  const Bytes expected = {'V', 'O', 'R', 'N', 'A', 'L', 'I', 0, 1, 1, 0xD6, 0x17, 0xAF, 0xE3,
                          0, 86, 0, 0, 0, 3, 0x35, 0x24, 0x41, 0xC2, 'a', 'b', 'c',
                          'F', 'O', 'O', 'F'};
  EXPECT_EQ(bytes_of(c.p), expected);
  ContainerTable t;
  ASSERT_EQ(container_parse(blob_data(c.p), blob_size(c.p), &t), ML_OK);
  EXPECT_EQ(container_header_crc(&t), 0xD617AFE3u);
  EXPECT_EQ(t.entries[0].crc, 0x352441C2u);
  EXPECT_EQ(container_is_empty(c.p), 0);
}

TEST(Container, PlainFormParsesAndRefusesExtraBytes) {
  Bytes plain = {'V', 'O', 'R', 'N', 'A', 'L', 'I', 0, 0, 2,
                 0, 79, 0, 0, 0, 2, 'x', 'y', 0, 77, 0, 0, 0, 0};
  ContainerTable t;
  ASSERT_EQ(container_parse(plain.data(), static_cast<uint32_t>(plain.size()), &t), ML_OK);
  EXPECT_EQ(t.form, 0);
  ASSERT_EQ(t.count, 2);
  EXPECT_EQ(t.entries[0].format, 79);
  EXPECT_EQ(t.entries[0].length, 2u);
  EXPECT_EQ(t.entries[0].data, plain.data() + 16);
  EXPECT_EQ(t.entries[1].format, 77);
  EXPECT_EQ(t.entries[1].length, 0u);
  // The section access reads the plain form too.
  BlobHolder b(blob_view(84, plain.data(), static_cast<uint32_t>(plain.size())));
  const uint8_t* d;
  uint32_t n;
  ASSERT_EQ(tmpl_get_section(b.p, 79, &d, &n), ML_OK);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(d[0], 'x');

  for (const Bytes& tail : {Bytes{'F', 'O', 'O', 'F'}, Bytes{0}}) {
    Bytes longer = plain;
    longer.insert(longer.end(), tail.begin(), tail.end());
    EXPECT_EQ(container_parse(longer.data(), static_cast<uint32_t>(longer.size()), &t), ML_UNAVAILABLE);
  }
}

TEST(Container, RejectsMalformedBytes) {
  BlobHolder good(container_of(2));
  const Bytes base = bytes_of(good.p);
  struct Case {
    const char* what;
    std::size_t at;
    int value;  // -1: cut the buffer at `at`
  };
  const Case cases[] = {
      {"wrong magic", 0, 'W'},
      {"count above ten", 9, 11},
      {"count beyond the entries", 9, 3},
      {"code zero low byte", 15, 0},
      {"entry runs past the end", 19, 0x40},
      {"trailer damaged", base.size() - 1, 'X'},
      {"trailer missing", base.size() - 4, -1},
      {"cut inside an entry header", 16, -1},
      {"shorter than a header", 9, -1},
  };
  for (const Case& c : cases) {
    Bytes b = base;
    if (c.value < 0)
      b.resize(c.at);
    else
      b[c.at] = static_cast<uint8_t>(c.value);
    ContainerTable t;
    EXPECT_EQ(container_parse(b.data(), static_cast<uint32_t>(b.size()), &t), ML_UNAVAILABLE) << c.what;
    EXPECT_EQ(t.count, 0) << c.what;
  }
  Bytes extra = base;
  extra.push_back(0);
  ContainerTable t;
  EXPECT_EQ(container_parse(extra.data(), static_cast<uint32_t>(extra.size()), &t), ML_UNAVAILABLE);
  EXPECT_EQ(container_parse(nullptr, 5, &t), ML_OK);
  EXPECT_EQ(t.count, 0);
}

TEST(Container, VerifyLevels) {
  BlobHolder c(container_of(3));
  Bytes b = bytes_of(c.p);
  const auto n = static_cast<uint32_t>(b.size());
  for (int level : {0, 1, 2, -1}) EXPECT_EQ(container_verify(b.data(), n, level), 1) << level;

  Bytes data_changed = b;
  data_changed[n - 5] ^= 1;  // last data byte
  EXPECT_EQ(container_verify(data_changed.data(), n, 1), 1);
  EXPECT_EQ(container_verify(data_changed.data(), n, 2), 0);

  Bytes header_changed = b;
  header_changed[10] ^= 1;
  EXPECT_EQ(container_verify(header_changed.data(), n, 0), 1);
  EXPECT_EQ(container_verify(header_changed.data(), n, -1), 1);
  EXPECT_EQ(container_verify(header_changed.data(), n, 1), 0);

  // Level 0 looks only at the magic and the trailer.
  const Bytes shell = {'V', 'O', 'R', 'N', 'A', 'L', 'I', 0, 9, 9, 9, 'F', 'O', 'O', 'F'};
  EXPECT_EQ(container_verify(shell.data(), static_cast<uint32_t>(shell.size()), 0), 1);
  EXPECT_EQ(container_verify(shell.data(), static_cast<uint32_t>(shell.size()), 1), 0);
  EXPECT_EQ(container_verify(b.data(), 7, 0), 0);
}

TEST(Container, PutEntryLimitsAndOrder) {
  BlobHolder nine(container_of(9));
  BlobHolder ten(container_put_entry(nine.p, 50, nullptr, 0));
  ASSERT_NE(ten.p, nullptr);
  EXPECT_EQ(codes_of(ten.p), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 50}));
  EXPECT_EQ(container_put_entry(ten.p, 51, nullptr, 0), nullptr);
  EXPECT_EQ(container_put_entry(ten.p, 3, nullptr, 0), nullptr);  // full even for a present code

  const uint8_t text[] = {'n', 'e', 'w'};
  BlobHolder replaced(container_put_entry(nine.p, 4, text, 3));
  EXPECT_EQ(codes_of(replaced.p), codes_of(nine.p));
  EXPECT_EQ(entry_text(replaced.p, 4), "new");
  EXPECT_EQ(container_verify(blob_data(replaced.p), blob_size(replaced.p), 2), 1);
  EXPECT_EQ(entry_text(nine.p, 4), "4");  // the input is untouched

  // Codes that do not fit the stored 16-bit field, and code 0, are refused.
  for (int bad : {0, -1, 0x10000}) EXPECT_EQ(container_put_entry(nine.p, bad, text, 3), nullptr);
}

TEST(Container, TakeAndKeepMoveTheLastEntryIntoTheGap) {
  BlobHolder c(container_of(5));
  const uint8_t* d = nullptr;
  uint32_t n = 0;
  BlobHolder taken(container_take_entry(c.p, 2, &d, &n));
  ASSERT_NE(taken.p, nullptr);
  EXPECT_EQ(codes_of(taken.p), (std::vector<int>{1, 5, 3, 4}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d), n), "2");
  EXPECT_EQ(container_take_entry(c.p, 9, &d, &n), nullptr);
  EXPECT_EQ(d, nullptr);

  const int32_t keep[] = {4, 1};
  BlobHolder kept(container_keep_codes(c.p, keep, 2));
  EXPECT_EQ(codes_of(kept.p), (std::vector<int>{1, 4}));
  BlobHolder none(container_keep_codes(c.p, keep, 0));
  EXPECT_EQ(container_is_empty(none.p), 1);

  BlobHolder plain79(section(79, "p"));
  EXPECT_EQ(container_remove_entry(plain79.p, 79), nullptr);  // only containers
  BlobHolder removed(container_remove_entry(c.p, 5));
  EXPECT_EQ(codes_of(removed.p), (std::vector<int>{1, 2, 3, 4}));
}

TEST(Container, MergeKeepsFirstEntryOfACode) {
  BlobHolder info(section(86, "info"));
  BlobHolder points(section(79, "points"));
  BlobHolder other(section(79, "other"));
  BlobHolder grid(section(77, "grid"));
  BlobHolder merged(container_merge(info.p, points.p));
  ASSERT_NE(merged.p, nullptr);
  EXPECT_EQ(codes_of(merged.p), (std::vector<int>{86, 79}));
  EXPECT_EQ(container_verify(blob_data(merged.p), blob_size(merged.p), 2), 1);
  BlobHolder again(container_merge(merged.p, other.p));
  EXPECT_EQ(codes_of(again.p), (std::vector<int>{86, 79}));
  EXPECT_EQ(entry_text(again.p, 79), "points");
  BlobHolder three(container_merge(again.p, grid.p));
  EXPECT_EQ(codes_of(three.p), (std::vector<int>{86, 79, 77}));

  EXPECT_EQ(container_merge(nullptr, nullptr), nullptr);
  const uint32_t count = blob_refcount(points.p);
  DataBlob* lone = container_merge(nullptr, points.p);
  EXPECT_EQ(lone, points.p);
  EXPECT_EQ(blob_refcount(points.p), count + 1);
  blob_release(lone);

  BlobHolder ten(container_of(10));
  EXPECT_EQ(container_merge(ten.p, grid.p), nullptr);  // no partial result
  BlobHolder wrapped(container_from_blob(grid.p));
  EXPECT_EQ(codes_of(wrapped.p), (std::vector<int>{77}));
}

TEST(Container, MergeCarriesTheImagesSecondWins) {
  const uint8_t pixels[4] = {1, 2, 3, 4};
  GrayImage* a = image_create(2, 2, 500, 500, pixels, 0);
  GrayImage* b = image_create(2, 2, 500, 500, pixels, 0);
  BlobHolder first(section(86, "i"));
  BlobHolder second(section(79, "p"));
  blob_set_image(first.p, a);
  {
    BlobHolder m(container_merge(first.p, second.p));
    EXPECT_EQ(blob_get_image(m.p), a);
  }
  blob_set_image(second.p, b);
  {
    BlobHolder m(container_merge(first.p, second.p));
    EXPECT_EQ(blob_get_image(m.p), b);
    const uint8_t x = 1;
    BlobHolder put(container_put_entry(m.p, 5, &x, 1));
    EXPECT_EQ(blob_get_image(put.p), b);
  }
  image_release(a);
  image_release(b);
}

TEST(Container, SectionAccess) {
  BlobHolder info(section(86, "info"));
  BlobHolder points(section(79, "pts"));
  BlobHolder c(container_merge(info.p, points.p));
  const uint8_t* d = reinterpret_cast<const uint8_t*>(1);
  uint32_t n = 99;

  ASSERT_EQ(tmpl_get_section(c.p, 79, &d, &n), ML_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d), n), "pts");
  EXPECT_GE(d, blob_data(c.p));  // borrowed from the container
  EXPECT_LT(d, blob_data(c.p) + blob_size(c.p));
  ASSERT_EQ(tmpl_get_section(points.p, 79, &d, &n), ML_OK);
  EXPECT_EQ(d, blob_data(points.p));

  struct Case {
    const DataBlob* blob;
    int code;
    int status;
  };
  BlobHolder short84(blob_create(84, "VORNALI", 8));
  const Case cases[] = {
      {c.p, 77, ML_NOT_FOUND},
      {points.p, 77, ML_UNAVAILABLE},
      {nullptr, 79, ML_BAD_ARGUMENT},
      {short84.p, 79, ML_UNAVAILABLE}};
  for (const Case& k : cases) {
    d = reinterpret_cast<const uint8_t*>(1);
    n = 99;
    EXPECT_EQ(tmpl_get_section(k.blob, k.code, &d, &n), k.status) << k.code;
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(n, 0u);
  }
  EXPECT_EQ(tmpl_get_section(c.p, 79, nullptr, &n), ML_BAD_ARGUMENT);
  EXPECT_EQ(tmpl_has_section(c.p, 86), 1);
  EXPECT_EQ(tmpl_has_section(c.p, 77), 0);
  EXPECT_EQ(tmpl_has_section(points.p, 79), 1);
  EXPECT_EQ(tmpl_has_section(nullptr, 79), 0);
  EXPECT_EQ(container_has_entry(c.p, 79), 1);
  EXPECT_EQ(container_has_entry(points.p, 79), 0);
}

TEST(Container, SectionsOfACompositeCardTemplate) {
  // 7F2E { A2 { C6 <points> } }: the points section inside a card template.
  const uint8_t card[] = {0x7F, 0x2E, 0x06, 0xA2, 0x04, 0xC6, 0x02, 0x33, 0x44};
  BlobHolder info(section(86, "i"));
  BlobHolder card_blob(blob_create(67, card, sizeof card));
  BlobHolder c(container_merge(info.p, card_blob.p));
  const uint8_t* d = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(tmpl_get_section(c.p, 79, &d, &n), ML_OK);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(d[0], 0x33);
  EXPECT_EQ(tmpl_has_section(c.p, 79), 1);
  ASSERT_EQ(tmpl_get_section(card_blob.p, 79, &d, &n), ML_OK);
  EXPECT_EQ(d, blob_data(card_blob.p) + 7);
  EXPECT_EQ(tmpl_get_section(card_blob.p, 77, &d, &n), ML_UNAVAILABLE);  // no C5 element
  EXPECT_EQ(tmpl_has_section(card_blob.p, 77), 0);
  BlobHolder without(container_from_blob(info.p));
  EXPECT_EQ(tmpl_get_section(without.p, 79, &d, &n), ML_NOT_FOUND);
}

TEST(Container, LocateRefusesHeadersThatLeaveTheBytes) {
  BlobHolder c(container_of(3));
  Bytes b = bytes_of(c.p);
  b[19] = 0x7F;  // first entry's length now runs far past the end
  ContainerEntry e;
  EXPECT_EQ(container_locate(b.data(), static_cast<uint32_t>(b.size()), 3, &e), ML_UNAVAILABLE);
  b = bytes_of(c.p);
  EXPECT_EQ(container_locate(b.data(), static_cast<uint32_t>(b.size()), 3, &e), ML_OK);
  EXPECT_EQ(e.length, 1u);
  EXPECT_EQ(e.data[0], '3');
  EXPECT_EQ(container_locate(b.data(), static_cast<uint32_t>(b.size()), 4, &e), ML_NOT_FOUND);
  EXPECT_EQ(container_locate(b.data(), 12, 1, &e), ML_UNAVAILABLE);
}

// Sample information ------------------------------------------------------

SampleInfo full_info() {
  SampleInfo s{};
  s.width = 300;
  s.height = 400;
  s.quality = 0x1234;
  s.resolution = 500;
  s.offset_y = 7;
  s.offset_x = 9;
  s.source_height = 410;
  s.source_width = 320;
  s.finger_attribute = 0xA1B2C3D4;
  s.finger_position = 3;
  s.finger_value = 0x01020304;
  return s;
}

TEST(SampleInfo, WritesVersionSixLayoutAndReadsItBack) {
  const SampleInfo s = full_info();
  DataBlob* blob = nullptr;
  ASSERT_EQ(sample_info_write(nullptr, &s, &blob), ML_OK);
  BlobHolder holder(blob);
  const uint8_t* d;
  uint32_t n;
  ASSERT_EQ(tmpl_get_section(blob, 86, &d, &n), ML_OK);
  const Bytes expected = {0, 6, 0x01, 0x90, 0x01, 0x2C, 0x12, 0x34, 0, 0x01, 0xF4,
                          0x01, 0x9A, 0x01, 0x40, 0, 7, 0, 9, 0xA1, 0xB2, 0xC3,
                          0xD4, 0, 0, 0, 3, 1, 2, 3, 4};
  EXPECT_EQ(Bytes(d, d + n), expected);
  SampleInfo back{};
  ASSERT_EQ(sample_info_read(nullptr, blob, &back), ML_OK);
  EXPECT_EQ(std::memcmp(&back, &s, sizeof s), 0);
}

TEST(SampleInfo, OlderVersionsFillWhatTheyCarry) {
  struct Case {
    Bytes section;
    int status;
    uint16_t resolution, source_height, offset_y;
    uint32_t finger_value;
  };
  const uint32_t kept = 0xEEEEEEEE;  // caller's value, left alone by old versions
  const Case cases[] = {
      {{0, 1, 0, 20, 0, 10, 0, 55}, ML_OK, 111, 20, 0, kept},
      {{0, 3, 0, 20, 0, 10, 0, 55, 0, 0x01, 0xF4}, ML_OK, 500, 20, 0, kept},
      {{0, 3, 0, 20, 0, 10, 0, 55, 0, 0x01}, ML_TOO_SHORT, 111, 111, 111, kept},
      {{0, 5, 0, 20, 0, 10, 0, 55, 0, 0, 9, 0, 30, 0, 40, 0, 4, 0, 6}, ML_OK, 9, 30, 4, kept},
      {{0, 6, 0, 20, 0, 10, 0, 55, 0, 0, 9, 0, 30, 0, 40, 0, 4, 0, 6}, ML_TOO_SHORT, 111, 111, 111, kept},
      {{0, 0, 0, 20, 0, 10, 0, 55}, ML_WRONG_KIND, 111, 111, 111, kept},
      {{0}, ML_TOO_SHORT, 111, 111, 111, kept},
  };
  for (const Case& c : cases) {
    BlobHolder b(blob_create(86, c.section.data(), static_cast<uint32_t>(c.section.size())));
    SampleInfo s{};
    s.resolution = s.source_height = s.offset_y = 111;
    s.finger_value = kept;
    EXPECT_EQ(sample_info_read(nullptr, b.p, &s), c.status) << c.section.size();
    if (c.status != ML_OK) continue;
    EXPECT_EQ(s.height, 20);
    EXPECT_EQ(s.width, 10);
    EXPECT_EQ(s.quality, 55);
    EXPECT_EQ(s.resolution, c.resolution);
    EXPECT_EQ(s.source_height, c.source_height);
    EXPECT_EQ(s.offset_y, c.offset_y);
    EXPECT_EQ(s.finger_value, c.finger_value);
  }
  BlobHolder other(section(79, "x"));
  SampleInfo s{};
  EXPECT_EQ(sample_info_read(nullptr, other.p, &s), ML_UNAVAILABLE);
}

TEST(BlobQuality, ReadsAndReplacesTheViewQuality) {
  SampleInfo s = full_info();
  BlobHolder points(section(79, "pts"));
  DataBlob* t = nullptr;
  ASSERT_EQ(sample_info_write(nullptr, &s, &t), ML_OK);
  BlobHolder info(t);
  BlobHolder tmpl(container_merge(info.p, points.p));
  EXPECT_EQ(blob_get_quality(tmpl.p), 0x34);

  const uint32_t count = blob_refcount(tmpl.p);
  BlobHolder changed(blob_with_quality(tmpl.p, 77));
  ASSERT_NE(changed.p, nullptr);
  EXPECT_NE(changed.p, tmpl.p);
  EXPECT_EQ(blob_refcount(tmpl.p), count);
  EXPECT_EQ(blob_get_quality(changed.p), 77);
  EXPECT_EQ(blob_get_quality(tmpl.p), 0x34);
  EXPECT_EQ(entry_text(changed.p, 79), "pts");
  SampleInfo back{};
  ASSERT_EQ(sample_info_read(nullptr, changed.p, &back), ML_OK);
  EXPECT_EQ(back.quality, 77);  // the second quality byte is not carried
  EXPECT_EQ(back.finger_value, s.finger_value);

  // A bare sample-information section becomes a container of it alone.
  BlobHolder bare(blob_create(86, blob_data(changed.p) + 24, 31));
  ASSERT_EQ(blob_get_quality(bare.p), 77);
  BlobHolder from_bare(blob_with_quality(bare.p, 5));
  ASSERT_NE(from_bare.p, nullptr);
  EXPECT_EQ(blob_get_quality(from_bare.p), 5);

  EXPECT_EQ(blob_get_quality(points.p), 0);
  EXPECT_EQ(blob_get_quality(nullptr), 0);
  EXPECT_EQ(blob_with_quality(points.p, 5), nullptr);
  EXPECT_EQ(blob_refcount(points.p), 1u);
  EXPECT_EQ(blob_with_quality(nullptr, 5), nullptr);
}

}  // namespace

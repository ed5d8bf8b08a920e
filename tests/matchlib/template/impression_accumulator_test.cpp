// Impression accumulator: creation, reset, the version-7 saved form byte by
// byte, the older forms, corrupt forms and the map statistics.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/allocation_sweep.h"
#include "zylscan/matchlib_accum.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace {

using Bytes = std::vector<uint8_t>;

void be16(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void be32(Bytes& b, uint32_t v) {
  be16(b, v >> 16);
  be16(b, v & 0xffff);
}

Bytes written(const ImpressionAccumulator* a) {
  Bytes out(accum_write(nullptr, a));
  EXPECT_EQ(accum_write(out.data(), a), out.size());
  return out;
}

struct Parsed {
  int status = -1;
  ImpressionAccumulator* acc = nullptr;
  explicit Parsed(const Bytes& b) { status = accum_parse(b.data(), b.size(), &acc); }
  ~Parsed() { accum_release(acc); }
};

// Head block of a version-7 form; the last window is the whole area unless
// given.
struct Window {
  unsigned height, width, row, column;
};
Bytes v7_head(unsigned h, unsigned w, uint32_t head_length = 23, Window last = {0, 0, 0, 0}) {
  if (last.height == 0 && last.width == 0) last = {h, w, 0, 0};
  Bytes b;
  be16(b, 7);
  be16(b, 0x200);
  be32(b, head_length);
  for (unsigned v : {h, w, last.height, last.width, last.row, last.column}) be16(b, v);
  for (uint8_t s : {100, 100, 80, 95, 20}) b.push_back(s);
  return b;
}
void base_map_block(Bytes& b, unsigned cells, uint8_t fill = 0) {
  be16(b, 0x202);
  be32(b, 6 + cells);
  b.insert(b.end(), cells, fill);
}
void template_block(Bytes& b, unsigned slot, const Bytes& t, uint32_t length_field) {
  be16(b, 0x201);
  be32(b, 12 + static_cast<uint32_t>(t.size()));
  b.push_back(static_cast<uint8_t>(slot));
  b.push_back(79);
  be32(b, length_field);
  b.insert(b.end(), t.begin(), t.end());
}

TEST(ImpressionAccumulator, CreatedFromTheSourceSizeOfTheImage) {
  GrayImage* image = image_create(40, 30, 500, 500, nullptr, 0);
  ASSERT_NE(image, nullptr);
  ImpressionAccumulator* a = accum_create(image);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->refcount, 1);
  EXPECT_EQ(a->height, 40);
  EXPECT_EQ(a->width, 30);
  EXPECT_EQ(a->last_height, 40);
  EXPECT_EQ(a->last_width, 30);
  const uint8_t defaults[5] = {100, 100, 80, 95, 20};
  EXPECT_EQ(std::memcmp(a->settings, defaults, 5), 0);
  for (int i = 0; i < 40 * 30; ++i) ASSERT_EQ(a->base_map[i], 0);
  EXPECT_EQ(a->mean_image, nullptr);
  EXPECT_EQ(accum_retain(a), a);
  accum_release(a);
  EXPECT_EQ(a->refcount, 1);
  accum_release(a);
  image_release(image);
  EXPECT_EQ(accum_create(nullptr), nullptr);
  EXPECT_EQ(accum_create_sized(0, 5), nullptr);
  int counter = 4;
  EXPECT_EQ(accum_count_up(&counter), &counter);
  EXPECT_EQ(counter, 5);
}

TEST(ImpressionAccumulator, FreshFormIsHeadAndBaseMapAndParsesBack) {
  ImpressionAccumulator* a = accum_create_sized(3, 4);
  ASSERT_NE(a, nullptr);
  Bytes expected = v7_head(3, 4);
  base_map_block(expected, 12);
  const Bytes form = written(a);
  EXPECT_EQ(form.size(), 2u + 23 + 6 + 12);
  EXPECT_EQ(form, expected);

  AccumState* state = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(accum_serialize(a, &state, &size), ML_OK);
  EXPECT_EQ(size, form.size());
  EXPECT_EQ(state->size, size);
  EXPECT_EQ(state->refcount, 1u);
  EXPECT_EQ(Bytes(state->bytes, state->bytes + size), form);
  accum_state_release(state);

  Parsed p(form);
  ASSERT_EQ(p.status, ML_OK);
  EXPECT_EQ(p.acc->height, 3);
  EXPECT_EQ(p.acc->width, 4);
  EXPECT_EQ(std::memcmp(p.acc->settings, a->settings, 5), 0);
  EXPECT_EQ(written(p.acc), form);
  accum_release(a);
}

TEST(ImpressionAccumulator, TemplatesAndOptionalMapsRoundTripThroughACopy) {
  ImpressionAccumulator* a = accum_create_sized(2, 3);
  ASSERT_NE(a, nullptr);
  const uint8_t t1[] = {1, 2, 3, 4, 5};
  const uint8_t t4[] = {9, 8};
  a->slots[1] = blob_create(79, t1, sizeof t1);
  a->slots[4] = blob_create(79, t4, sizeof t4);
  a->count_map = static_cast<uint8_t*>(std::calloc(6, 1));
  a->mean_image = static_cast<uint8_t*>(std::calloc(6, 1));
  for (int i = 0; i < 6; ++i) {
    a->base_map[i] = static_cast<uint8_t>(0x80 | i);
    a->count_map[i] = static_cast<uint8_t>(i + 1);
    a->mean_image[i] = static_cast<uint8_t>(100 + i);
  }
  // A 1 x 1 window in the last column: a window must lie inside the area.
  a->last_height = 1;
  a->last_width = 1;
  a->last_column = 2;
  const Bytes form = written(a);
  ASSERT_EQ(form.size(), 2u + 23 + (6 + 6) + (6 + 12) + (12 + 5) + (12 + 2));
  // The map block holds the count map first, then the mean image.
  const size_t maps = 2 + 23 + 12;
  EXPECT_EQ(form[maps + 1], 0x03);
  EXPECT_EQ(form[maps + 6], 1);
  EXPECT_EQ(form[maps + 12], 100);
  // Template blocks follow in slot order: id, length, slot, format, length, bytes.
  const size_t t = maps + 18;
  EXPECT_EQ(Bytes(form.begin() + t, form.begin() + t + 17),
            (Bytes{0x02, 0x01, 0, 0, 0, 17, 1, 79, 0, 0, 0, 5, 1, 2, 3, 4, 5}));
  ImpressionAccumulator* copy = accum_copy(a);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->last_height, 1);
  EXPECT_EQ(copy->last_column, 2);
  ASSERT_NE(copy->slots[4], nullptr);
  EXPECT_EQ(blob_equal(copy->slots[4], a->slots[4]), 1);
  EXPECT_EQ(copy->slots[0], nullptr);
  EXPECT_EQ(written(copy), form);

  ASSERT_EQ(accum_reset(copy), ML_OK);
  for (auto* slot : copy->slots) EXPECT_EQ(slot, nullptr);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(copy->base_map[i], 0);
    EXPECT_EQ(copy->count_map[i], 0);
    EXPECT_EQ(copy->mean_image[i], 0);
  }
  EXPECT_EQ(accum_reset(nullptr), ML_BAD_ARGUMENT);
  accum_release(copy);
  accum_release(a);
}

// Older forms: u16 version, height, width, then the version's fields.
Bytes old_form(unsigned version, unsigned h, unsigned w, unsigned n, const Bytes& tmpl) {
  Bytes b;
  be16(b, version);
  be16(b, h);
  be16(b, w);
  if (version >= 5) {
    for (unsigned v : {h - 1, w - 1, 1u, 1u}) be16(b, v);
    b.insert(b.end(), {0, 0, 0, 11, 12, 13, 14, 15});
  } else if (version >= 2) {
    b.insert(b.end(), {0, 0, 0, 11, 12, 13, 14, 15});
  } else {
    b.insert(b.end(), {0, 0, 0, 11, 12});
  }
  b.push_back(static_cast<uint8_t>(n));
  be32(b, static_cast<uint32_t>(tmpl.size()));
  for (unsigned i = 0; i < n; ++i) b.insert(b.end(), tmpl.begin(), tmpl.end());
  return b;
}

TEST(ImpressionAccumulator, OlderFormsReadTheirFields) {
  const Bytes tmpl = {7, 7, 7};
  {
    Parsed p(old_form(1, 2, 2, 2, tmpl));
    ASSERT_EQ(p.status, ML_OK);
    const uint8_t settings[5] = {11, 12, 80, 95, 20};
    EXPECT_EQ(std::memcmp(p.acc->settings, settings, 5), 0);
    EXPECT_EQ(p.acc->last_height, 2);
    ASSERT_NE(p.acc->slots[1], nullptr);
    EXPECT_EQ(blob_type(p.acc->slots[1]), 79);
    EXPECT_EQ(p.acc->slots[2], nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.acc->base_map[i], 0);
  }
  // Versions 1 and 2 carry no map; any sensor's area is read, up to the
  // largest frame (800 x 600).
  for (const auto [version, h, w] : {std::array<unsigned, 3>{2, 256, 256}, {2, 300, 400},
                                     {1, 400, 300}, {2, 800, 600}, {2, 600, 800}}) {
    Parsed p(old_form(version, h, w, 0, {}));
    ASSERT_EQ(p.status, ML_OK) << version << " " << h << " x " << w;
    EXPECT_EQ(p.acc->height, h);
    EXPECT_EQ(p.acc->width, w);
    EXPECT_EQ(p.acc->base_map[h * w - 1], 0);
  }
  {
    Bytes b = old_form(3, 2, 2, 1, tmpl);
    b.insert(b.end(), {1, 2, 3, 4});
    Parsed p(b);
    ASSERT_EQ(p.status, ML_OK);
    const uint8_t settings[5] = {11, 12, 13, 14, 15};
    EXPECT_EQ(std::memcmp(p.acc->settings, settings, 5), 0);
    EXPECT_EQ(p.acc->base_map[3], 4);
    EXPECT_EQ(p.acc->mean_image, nullptr);
  }
  {
    // Version 5: a non-zero fill byte fills the count map, the mean image follows.
    Bytes b = old_form(5, 2, 2, 0, {});
    b.insert(b.end(), {1, 2, 3, 4, 6, 50, 51, 52, 53});
    Parsed p(b);
    ASSERT_EQ(p.status, ML_OK);
    EXPECT_EQ(p.acc->last_height, 1);
    EXPECT_EQ(p.acc->last_row, 1);
    ASSERT_NE(p.acc->count_map, nullptr);
    EXPECT_EQ(p.acc->count_map[2], 6);
    EXPECT_EQ(p.acc->mean_image[3], 53);
  }
  {
    // Version 6: the flag byte announces both maps.
    Bytes b = old_form(6, 2, 2, 0, {});
    b.insert(b.end(), {1, 2, 3, 4, 1, 9, 8, 7, 6, 50, 51, 52, 53});
    Parsed p(b);
    ASSERT_EQ(p.status, ML_OK);
    EXPECT_EQ(p.acc->count_map[1], 8);
    EXPECT_EQ(p.acc->mean_image[0], 50);
  }
}

TEST(ImpressionAccumulator, CorruptFormsAreRefused) {
  const Bytes t = {1, 2, 3};
  struct Case {
    const char* what;
    Bytes bytes;
    int status;
  };
  std::vector<Case> cases;
  cases.push_back({"one byte", {7}, ML_CORRUPT});
  cases.push_back({"version alone", {0, 7}, ML_CORRUPT});
  {
    Bytes b = v7_head(2, 2);
    cases.push_back({"head without base map", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2, 24);
    b.push_back(0);
    base_map_block(b, 4);
    cases.push_back({"head of the wrong length", b, ML_CORRUPT});
  }
  {
    Bytes b;
    be16(b, 7);
    base_map_block(b, 4);
    Bytes h = v7_head(2, 2);
    b.insert(b.end(), h.begin() + 2, h.end());
    cases.push_back({"base map before the head", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2);
    Bytes h = v7_head(2, 2);
    b.insert(b.end(), h.begin() + 2, h.end());
    base_map_block(b, 4);
    cases.push_back({"two heads", b, ML_CORRUPT});
  }
  {
    // A head alone asking for the largest area: refused without a map.
    Bytes b = v7_head(65535, 65535);
    cases.push_back({"huge area, no map", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2);
    base_map_block(b, 3);
    cases.push_back({"short base map", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2);
    base_map_block(b, 4);
    be16(b, 0x203);
    be32(b, 6 + 4);
    b.insert(b.end(), 4, 0);
    cases.push_back({"map block not twice the area", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2);
    base_map_block(b, 4);
    template_block(b, 2, t, 3);
    template_block(b, 2, t, 3);
    cases.push_back({"occupied slot", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2);
    base_map_block(b, 4);
    template_block(b, 7, t, 3);
    cases.push_back({"slot beyond the seventh", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2);
    base_map_block(b, 4);
    template_block(b, 0, t, 0xfffffff0u);
    cases.push_back({"template length beyond its block", b, ML_CORRUPT});
  }
  {
    Bytes b = v7_head(2, 2);
    base_map_block(b, 4);
    b.push_back(0);
    cases.push_back({"trailing byte", b, ML_CORRUPT});
  }
  cases.push_back({"old form, eight templates", old_form(2, 2, 2, 8, {1}), ML_CORRUPT});
  {
    Bytes b = old_form(2, 2, 2, 2, {1, 2});
    b.resize(b.size() - 1);
    cases.push_back({"old form, templates past the end", b, ML_CORRUPT});
  }
  {
    Bytes b = old_form(2, 2, 2, 255, {});
    b[b.size() - 4] = 0xff;  // n x L far beyond the bytes
    cases.push_back({"old form, n x L overflow", b, ML_CORRUPT});
  }
  cases.push_back({"old form, no base map", old_form(3, 2, 2, 0, {}), ML_CORRUPT});
  cases.push_back({"version 2, unbounded area", old_form(2, 65535, 65535, 0, {}), ML_CORRUPT});
  cases.push_back({"version 2, one row past the largest area", old_form(2, 801, 600, 0, {}), ML_CORRUPT});
  cases.push_back({"version 1, one column past the largest area", old_form(1, 600, 801, 0, {}), ML_CORRUPT});
  {
    // Version 0 was never written: not read as a block form.
    Bytes b = v7_head(2, 2);
    b[1] = 0;
    base_map_block(b, 4);
    cases.push_back({"version 0", b, ML_CORRUPT});
  }
  // The last window sizes the maps rendered over it: it must lie inside the
  // sensor area.
  const struct {
    const char* what;
    Window last;
  } windows[] = {{"last window larger than the area", {2000, 1000, 0, 0}},
                 {"last window 65535 x 65535", {65535, 65535, 0, 0}},
                 {"last window one row too tall", {21, 20, 0, 0}},
                 {"last window moved past the bottom", {10, 10, 11, 0}},
                 {"last window moved past the right", {10, 10, 0, 11}},
                 {"offsets far out", {1, 1, 65535, 65535}}};
  for (const auto& w : windows) {
    Bytes b = v7_head(20, 20, 23, w.last);
    base_map_block(b, 400);
    cases.push_back({w.what, b, ML_CORRUPT});
    Bytes old;  // the same in a version-5 form, which carries the window too
    be16(old, 5);
    be16(old, 20);
    be16(old, 20);
    for (unsigned v : {w.last.height, w.last.width, w.last.row, w.last.column}) be16(old, v);
    old.insert(old.end(), {0, 0, 0, 11, 12, 13, 14, 15, 0, 0, 0, 0, 0});
    old.insert(old.end(), 400, 0);  // base map
    old.push_back(0);               // no further maps
    cases.push_back({w.what, old, ML_CORRUPT});
  }
  cases.push_back({"version 4, area beyond the bytes", old_form(4, 300, 300, 0, {}), ML_CORRUPT});
  {
    Bytes b = old_form(6, 2, 2, 0, {});
    b.insert(b.end(), {1, 2, 3, 4, 1, 9, 8, 7, 6, 50});
    cases.push_back({"version 6, short mean image", b, ML_CORRUPT});
  }
  for (const Case& c : cases) {
    Parsed p(c.bytes);
    EXPECT_EQ(p.status, c.status) << c.what;
    EXPECT_EQ(p.acc, nullptr) << c.what;
  }
  ImpressionAccumulator* out = nullptr;
  const uint8_t one = 7;
  EXPECT_EQ(accum_parse(nullptr, 4, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(accum_parse(&one, 0, &out), ML_BAD_ARGUMENT);
  AccumState* s = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(accum_serialize(nullptr, &s, &n), ML_BAD_ARGUMENT);
}

TEST(ImpressionAccumulator, StateBufferIsCounted) {
  AccumState* empty = accum_state_create(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->size, 0u);
  EXPECT_EQ(empty->bytes, nullptr);
  EXPECT_EQ(accum_state_retain(empty), empty);
  EXPECT_EQ(empty->refcount, 2u);
  accum_state_release(empty);
  accum_state_release(empty);
  AccumState* sized = accum_state_create(16);
  ASSERT_NE(sized, nullptr);
  EXPECT_EQ(sized->size, 16u);
  accum_state_release(sized);
}

TEST(ImpressionAccumulator, MapStatistics) {
  // 3 x 3 map: values 0..8 x 30.
  uint8_t map[9];
  for (int i = 0; i < 9; ++i) map[i] = static_cast<uint8_t>(i * 30);
  uint16_t s[4];
  ASSERT_EQ(accum_map_statistics(nullptr, map, 3, 3, s), ML_OK);
  // S = 1080, Q = 900 x 204 = 183600; M = 1080 x 256 / 9 = 30720;
  // V = (183600 - 1080 x 120) / 9 = 6000; the bottom third runs until more
  // than 3 cells: 0, 30, 60, 90 -> 180 x 256 / 4 = 11520; top: 240..150 -> 195 x 256.
  EXPECT_EQ(s[0], 65535 - 30720);
  EXPECT_EQ(s[1], 6000);
  EXPECT_EQ(s[2], 65535 - 195 * 256);
  EXPECT_EQ(s[3], 65535 - 11520);

  // Within radius 0 of the centre only the middle cell (120) counts.
  MatchContext* ctx = ctx_create();
  ASSERT_NE(ctx, nullptr);
  param_set(ctx, 0x0cb73cb4u, 0);
  param_set(ctx, 0x4dc10c80u, 1);
  param_set(ctx, 0x967d3b73u, 1);
  ASSERT_EQ(accum_map_statistics(ctx, map, 3, 3, s), ML_OK);
  EXPECT_EQ(s[0], 65535 - 120 * 256 / 9);
  EXPECT_EQ(s[2], 65535 - 120 * 256);
  ctx_release(ctx);

  std::vector<uint8_t> big(257 * 256);
  EXPECT_EQ(accum_map_statistics(nullptr, big.data(), 257, 256, s), ML_WRONG_KIND);
}

}  // namespace

namespace {

TEST(ImpressionAccumulator, AllocationFailuresAnswerOutOfMemory) {
  ImpressionAccumulator* a = accum_create_sized(2, 3);
  ASSERT_NE(a, nullptr);
  const uint8_t t[] = {1, 2, 3};
  a->slots[0] = blob_create(79, t, 3);
  a->slots[6] = blob_create(79, t, 3);
  a->count_map = static_cast<uint8_t*>(std::calloc(6, 1));
  a->mean_image = static_cast<uint8_t*>(std::calloc(6, 1));
  const Bytes form = written(a);
  Bytes old = old_form(6, 2, 2, 2, {5, 6});
  old.insert(old.end(), {1, 2, 3, 4, 1, 9, 8, 7, 6, 50, 51, 52, 53});
  for (const Bytes& input : {form, old}) {
    const int n = zyl::test::sweep_allocation_failures([&] {
      ImpressionAccumulator* out = nullptr;
      const int status = accum_parse(input.data(), static_cast<uint32_t>(input.size()), &out);
      if (zyl::test::allocation_failed()) {
        EXPECT_EQ(status, ML_NO_MEMORY);
        EXPECT_EQ(out, nullptr);
      }
      accum_release(out);
    });
    EXPECT_GT(n, 2);
  }
  zyl::test::sweep_allocation_failures([&] {
    AccumState* s = nullptr;
    uint32_t size = 0;
    const int status = accum_serialize(a, &s, &size);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
    }
    accum_state_release(s);
    ImpressionAccumulator* c = accum_copy(a);
    accum_release(c);
  });
  accum_release(a);
}

}  // namespace

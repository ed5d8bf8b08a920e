// Matcher session: creation and copy, the event log and its statistics,
// the saved block byte by byte, restore and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/drawn_keypoints.h"
#include "support/pgm.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_session.h"
#include "zylscan/matchlib_stage.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Engine {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  Engine() { engine = engine_create(ctx, chain_create(), 79, 0, 0, nullptr, 0, nullptr, 0, nullptr); }
  ~Engine() {
    engine_release(engine);
    ctx_release(ctx);
  }
};

struct Session {
  MatcherSession* s = nullptr;
  ~Session() { session_release(s); }
};

Bytes saved(const MatcherSession* s) {
  uint8_t* block = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(session_save(s, &block, &size), ML_OK);
  Bytes b(block, block + size);
  std::free(block);
  return b;
}

int restore(const Bytes& b, MatchEngine* engine, Session& out) {
  return session_restore(b.data(), static_cast<uint32_t>(b.size()), engine, &out.s);
}

TEST(MatcherSession, CreatePublishesS0AndCopyCarriesTheState) {
  Engine e;
  ASSERT_NE(e.engine, nullptr);
  const int32_t settings[4] = {7, 1, 2, 3};
  Session s;
  ASSERT_EQ(session_create(settings, e.engine, &s.s), ML_OK);
  EXPECT_EQ(s.s->version, 5);
  EXPECT_EQ(s.s->settings[3], 3);
  EXPECT_EQ(param_get(e.ctx, 0xfb0008aau, -1), 7);
  EXPECT_EQ(engine_refcount(e.engine), 2u);
  MatcherSession* none = nullptr;
  EXPECT_EQ(session_create(settings, nullptr, &none), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_create(settings, e.engine, nullptr), ML_BAD_ARGUMENT);

  s.s->statistics[SESSION_ACCEPTED] = 4;
  session_log_event(s.s, 3, 0, nullptr, 0);
  // No accumulator: the copy has none either.
  Session c;
  ASSERT_EQ(session_copy(s.s, &c.s), ML_OK);
  ASSERT_NE(c.s, nullptr);
  EXPECT_EQ(c.s->accumulator, nullptr);
  EXPECT_EQ(c.s->statistics[SESSION_ACCEPTED], 4);
  EXPECT_EQ(session_event_count(c.s), 1);
  EXPECT_EQ(c.s->engine, e.engine);
  // With one, a deep copy.
  s.s->accumulator = accum_create_sized(4, 4);
  Session d;
  ASSERT_EQ(session_copy(s.s, &d.s), ML_OK);
  ASSERT_NE(d.s->accumulator, nullptr);
  EXPECT_NE(d.s->accumulator, s.s->accumulator);
  EXPECT_EQ(d.s->accumulator->height, 4);
  MatcherSession* null_copy = reinterpret_cast<MatcherSession*>(1);
  EXPECT_EQ(session_copy(nullptr, &null_copy), ML_OK);
  EXPECT_EQ(null_copy, nullptr);
}

int released_with = 0;
void count_release(void* data) { released_with += *static_cast<int*>(data); }

TEST(MatcherSession, UserDataIsReleasedWhenReplacedAndWithTheSession) {
  Engine e;
  int one = 1, ten = 10;
  released_with = 0;
  {
    Session s;
    ASSERT_EQ(session_create(nullptr, e.engine, &s.s), ML_OK);
    session_set_user_data(s.s, &one, count_release);
    EXPECT_EQ(session_user_data(s.s), &one);
    session_set_user_data(s.s, &ten, count_release);
    EXPECT_EQ(released_with, 1);
  }
  EXPECT_EQ(released_with, 11);
  EXPECT_EQ(engine_refcount(e.engine), 1u);
}

TEST(MatcherSession, EventLogRingAndGuards) {
  Engine e;
  Session s;
  ASSERT_EQ(session_create(nullptr, e.engine, &s.s), ML_OK);
  EXPECT_EQ(session_event_at(s.s, 0), nullptr);
  // A type above 7 is refused; a long payload is cut to the type's length.
  const uint8_t payload[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  EXPECT_EQ(session_log_event(s.s, 8, 0, payload, 4), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_log_event(s.s, -1, 0, payload, 4), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_event_count(s.s), 0);
  ASSERT_EQ(session_log_event(s.s, 0, 3, payload, 16), ML_OK);
  const SessionEvent* ev = session_event_at(s.s, 0);
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(ev->payload[0], 1);
  EXPECT_EQ(ev->payload[1], 0);
  for (int i = 0; i < 1499; ++i) session_log_event(s.s, 4, i, nullptr, 0);
  EXPECT_EQ(session_event_count(s.s), 1000);
  EXPECT_EQ(s.s->event_total, 1500);
  EXPECT_EQ(session_event_at(s.s, 0)->code, 1498);
  EXPECT_EQ(session_event_at(s.s, 999)->code, 499);
  EXPECT_EQ(session_event_at(s.s, 1000), nullptr);
}

TEST(MatcherSession, Type1Statistics) {
  Engine e;
  Session s;
  ASSERT_EQ(session_create(nullptr, e.engine, &s.s), ML_OK);
  EXPECT_EQ(session_mean_recent_type1(s.s, 5), 28);
  // Oldest to newest: levels 10, 3 (code 1, not counted), 12, 20; a type-0 between.
  const uint8_t p1[4] = {1, 0, 0, 10}, p2[4] = {2, 0, 0, 3}, p3[4] = {3, 0, 0, 12},
                p4[4] = {4, 0, 0, 20};
  session_log_event(s.s, 1, 0, p1, 4);
  session_log_event(s.s, 1, 1, p2, 4);
  session_log_event(s.s, 0, 0, p2, 1);
  session_log_event(s.s, 1, 0, p3, 4);
  session_log_event(s.s, 1, 0, p4, 4);
  EXPECT_EQ(session_count_recent_type1(s.s, 12, 10), 2);
  EXPECT_EQ(session_count_recent_type1(s.s, 0, 2), 2);
  EXPECT_EQ(session_count_recent_type1(s.s, 21, 10), 0);
  EXPECT_EQ(session_mean_recent_type1(s.s, 2), 16);
  EXPECT_EQ(session_mean_recent_type1(s.s, 10), 14);  // (42 + 1) / 3
  uint8_t buffer[12] = {};
  int count = 2;
  ASSERT_EQ(session_collect_type1(s.s, buffer, &count), ML_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(buffer[0], 4);
  EXPECT_EQ(buffer[4], 3);
  EXPECT_EQ(buffer[8], 0);
  count = 3;
  ASSERT_EQ(session_collect_type1(s.s, buffer, &count), ML_OK);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(buffer[8], 1);
}

TEST(MatcherSession, FreshSessionSavesItsExactBlock) {
  Engine e;
  const int32_t settings[4] = {0x101, 2, 3, 4};
  Session s;
  ASSERT_EQ(session_create(settings, e.engine, &s.s), ML_OK);
  const Bytes b = saved(s.s);
  Bytes expected = {'K', 'W', 'Z', 'R', 0, 5};
  // statistics: id, length 52, version 1, eleven zero u32
  expected.insert(expected.end(), {0x02, 0x00, 0, 0, 0, 52, 0, 1});
  expected.insert(expected.end(), 44, 0);
  // log: id, length 10, version 1, count 0
  expected.insert(expected.end(), {0x03, 0x00, 0, 0, 0, 10, 0, 1, 0, 0});
  // settings: id, length 12, version 3, the low bytes
  expected.insert(expected.end(), {0x04, 0x00, 0, 0, 0, 12, 0, 3, 1, 2, 3, 4});
  // accepted pair: id, length 11, version 1, no blob, no image
  expected.insert(expected.end(), {0x05, 0x00, 0, 0, 0, 11, 0, 1, 0, 1, 0});
  // drift bytes: id, length 10, version 1, U0, U1
  expected.insert(expected.end(), {0x06, 0x00, 0, 0, 0, 10, 0, 1, 0, 0});
  expected.insert(expected.end(), {'R', 'Z', 'W', 'K'});
  EXPECT_EQ(b.size(), 105u);
  EXPECT_EQ(b, expected);

  Session r;
  ASSERT_EQ(restore(b, e.engine, r), ML_OK);
  EXPECT_EQ(r.s->version, 5);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(r.s->settings[i], settings[i] & 0xff);
  for (int32_t t : r.s->statistics) EXPECT_EQ(t, 0);
  EXPECT_EQ(session_event_count(r.s), 0);
  EXPECT_EQ(r.s->accumulator, nullptr);
  EXPECT_EQ(saved(r.s), expected);
}

TEST(MatcherSession, FullSessionRoundTrips) {
  Engine e;
  Session s;
  const int32_t settings[4] = {1, 2, 3, 4};
  ASSERT_EQ(session_create(settings, e.engine, &s.s), ML_OK);
  for (int i = 0; i < SESSION_STATISTICS; ++i) s.s->statistics[i] = 100 * i + 1;
  s.s->accumulator = accum_create_sized(3, 5);
  s.s->accumulator->base_map[7] = 0x83;
  const uint8_t t[3] = {9, 8, 7};
  s.s->accepted_template = blob_create(79, t, 3);
  uint8_t pixels[6] = {1, 2, 3, 4, 5, 6};
  s.s->accepted_image = image_create(2, 3, 500, 500, pixels, 0);
  s.s->drift_updates = 2;
  s.s->skip_count = 3;
  // 1500 events: the block keeps 1000, event 500 the oldest.
  for (int i = 0; i < 1500; ++i) {
    const uint8_t p[4] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 9};
    session_log_event(s.s, i % 4, i % 32, p, 4);
  }
  const Bytes b = saved(s.s);
  Session r;
  ASSERT_EQ(restore(b, e.engine, r), ML_OK);
  EXPECT_EQ(session_event_count(r.s), 1000);
  const SessionEvent* oldest = session_event_at(r.s, 999);
  ASSERT_NE(oldest, nullptr);
  EXPECT_EQ(oldest->type, 500 % 4);
  EXPECT_EQ(oldest->code, 500 % 32);
  EXPECT_EQ(oldest->payload[0], 500 & 0xff);  // type 0: one payload byte
  const SessionEvent* newest = session_event_at(r.s, 0);
  EXPECT_EQ(newest->type, 1499 % 4);
  EXPECT_EQ(newest->payload[0], 1499 & 0xff);
  EXPECT_EQ(std::memcmp(r.s->statistics, s.s->statistics, sizeof r.s->statistics), 0);
  ASSERT_NE(r.s->accumulator, nullptr);
  EXPECT_EQ(r.s->accumulator->base_map[7], 0x83);
  ASSERT_NE(r.s->accepted_template, nullptr);
  EXPECT_EQ(blob_equal(r.s->accepted_template, s.s->accepted_template), 1);
  ASSERT_NE(r.s->accepted_image, nullptr);
  EXPECT_EQ(image_pixels(r.s->accepted_image)[5], 6);
  EXPECT_EQ(r.s->drift_updates, 2);
  EXPECT_EQ(r.s->skip_count, 3);
  // Everything before the accepted pair saves again byte for byte (the
  // image record of a restored image may carry more than the original's).
  const Bytes again = saved(r.s);
  const size_t pair = b.size() - 4 - 10 - (6 + 2 + 9 + image_write(nullptr, s.s->accepted_image));
  ASSERT_GE(again.size(), pair);
  EXPECT_TRUE(std::equal(b.begin(), b.begin() + static_cast<long>(pair), again.begin()));
}

// Replaces the body of the first section of the given type.
Bytes with_section(const Bytes& block, uint16_t type, const Bytes& body) {
  size_t at = 6;
  while (at + 6 <= block.size() - 4) {
    const uint16_t t = static_cast<uint16_t>(block[at] << 8 | block[at + 1]);
    const uint32_t len = static_cast<uint32_t>(block[at + 2]) << 24 | block[at + 3] << 16 |
                         block[at + 4] << 8 | block[at + 5];
    if (t == type) {
      Bytes out(block.begin(), block.begin() + static_cast<long>(at));
      const uint32_t n = static_cast<uint32_t>(6 + body.size());
      out.insert(out.end(), {static_cast<uint8_t>(t >> 8), static_cast<uint8_t>(t),
                             static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
      out.insert(out.end(), body.begin(), body.end());
      out.insert(out.end(), block.begin() + static_cast<long>(at + len), block.end());
      return out;
    }
    at += len;
  }
  ADD_FAILURE() << "no section " << type;
  return block;
}

TEST(MatcherSession, RestoreRefusesBadBlocks) {
  Engine e;
  Session s;
  ASSERT_EQ(session_create(nullptr, e.engine, &s.s), ML_OK);
  const Bytes good = saved(s.s);
  struct Case {
    const char* what;
    Bytes bytes;
    int status;
  };
  ASSERT_EQ(good.size(), 105u);
  Bytes wrong_trailer = good;
  wrong_trailer[104] = 'X';
  Bytes wrong_head = good;
  wrong_head[0] = 'X';
  Bytes statistics_v2(46, 0);
  statistics_v2[1] = 2;
  Bytes chain_short = good;
  chain_short.erase(chain_short.begin() + 10);
  const std::vector<Case> cases = {
      {"9 bytes", Bytes(good.begin(), good.begin() + 9), ML_TOO_SHORT},
      {"wrong trailer", wrong_trailer, ML_WRONG_KIND},
      {"wrong head", wrong_head, ML_WRONG_KIND},
      {"broken chain", chain_short, ML_WRONG_KIND},
      {"statistics of version 2", with_section(good, 0x200, statistics_v2), ML_WRONG_KIND},
      {"short statistics", with_section(good, 0x200, {0, 1, 0, 0}), ML_WRONG_KIND},
      {"settings of version 4", with_section(good, 0x400, {0, 4, 1, 2, 3, 4}), ML_WRONG_KIND},
      {"truncated event section", with_section(good, 0x300, {0, 1, 0, 2, 0x20, 1, 2, 3, 4, 0x00}), ML_WRONG_KIND},
      {"event count beyond the entries", with_section(good, 0x300, {0, 1, 0, 3, 0x40, 0x40}), ML_WRONG_KIND},
      {"blob past its section", with_section(good, 0x500, {0, 1, 1, 79, 0, 0, 0, 9, 1}), ML_WRONG_KIND},
      {"drift bytes of version 1", with_section(good, 0x600, {0, 1, 0, 0}), ML_OK},
  };
  for (const Case& c : cases) {
    Session r;
    EXPECT_EQ(restore(c.bytes, e.engine, r), c.status) << c.what;
    EXPECT_EQ(r.s == nullptr, c.status != ML_OK) << c.what;
  }
  Session r;
  EXPECT_EQ(session_restore(nullptr, 20, e.engine, &r.s), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_restore(good.data(), 0, e.engine, &r.s), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_restore(good.data(), static_cast<uint32_t>(good.size()), nullptr, &r.s), ML_BAD_ARGUMENT);
}

TEST(MatcherSession, RestoreReadsOlderSettingsAndAnAccumulatorSection) {
  Engine e;
  Session s;
  const int32_t settings[4] = {9, 9, 9, 9};
  ASSERT_EQ(session_create(settings, e.engine, &s.s), ML_OK);
  const Bytes good = saved(s.s);
  {
    Session r;
    ASSERT_EQ(restore(with_section(good, 0x400, {0, 1, 6}), e.engine, r), ML_OK);
    EXPECT_EQ(r.s->settings[0], 6);
    EXPECT_EQ(r.s->settings[1], 0);
    EXPECT_EQ(param_get(e.ctx, 0xfb0008aau, -1), 6);
  }
  {
    Session r;
    ASSERT_EQ(restore(with_section(good, 0x400, {0, 2, 6, 5}), e.engine, r), ML_OK);
    EXPECT_EQ(r.s->settings[3], 5);
  }
  // An accumulator section that does not parse is a malformed block.
  Bytes bad = good;
  const Bytes section = {0x01, 0x00, 0, 0, 0, 9, 0, 7, 1};
  bad.insert(bad.begin() + 6, section.begin(), section.end());
  Session r;
  EXPECT_EQ(restore(bad, e.engine, r), ML_WRONG_KIND);
}

TEST(MatcherSession, TilingFollowsTheEngineRequest) {
  Engine e;
  Session s;
  ASSERT_EQ(session_create(nullptr, e.engine, &s.s), ML_OK);
  EngineConfig* config = const_cast<EngineConfig*>(engine_get_config(e.engine));
  config->tiling = TilingSpec{0, 0, 0, 2, 2, 10, 10, 0};
  GrayImage* image = image_create(20, 20, 500, 500, nullptr, 0);
  GrayImage* tiles[SESSION_MAX_TILES] = {};
  int count = 0;
  ASSERT_EQ(session_tiling(s.s, image, tiles, &count), ML_OK);
  EXPECT_EQ(count, 4);
  for (int i = 0; i < count; ++i) image_release(tiles[i]);
  config->tiling = TilingSpec{0, 0, 0, 1, 22, 1, 1, 0};
  EXPECT_EQ(session_tiling(s.s, image, tiles, &count), ML_WRONG_KIND);
  image_release(image);
}

}  // namespace

namespace {

TEST(MatcherSession, AllocationFailuresAnswerOutOfMemoryAndLeakNothing) {
  Engine e;
  Session s;
  ASSERT_EQ(session_create(nullptr, e.engine, &s.s), ML_OK);
  s.s->accumulator = accum_create_sized(3, 3);
  const uint8_t t[3] = {9, 8, 7};
  s.s->accepted_template = blob_create(79, t, 3);
  session_log_event(s.s, 1, 0, t, 3);
  const Bytes block = saved(s.s);
  zyl::test::sweep_allocation_failures([&] {
    Session r;
    const int status = restore(block, e.engine, r);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(r.s, nullptr);
    }
  });
  zyl::test::sweep_allocation_failures([&] {
    Session c;
    const int status = session_copy(s.s, &c.s);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
    }
  });
  zyl::test::sweep_allocation_failures([&] {
    uint8_t* b = nullptr;
    uint32_t n = 0;
    const int status = session_save(s.s, &b, &n);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
    }
    std::free(b);
  });
}

}  // namespace

namespace {

// A container of sample information (86) and a two-point keypoint record (79).
DataBlob* keypoint_template(int x) {
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(20, 30, 2, nullptr, &r), ML_OK);
  r->point_count = 2;
  r->points[0] = {static_cast<int16_t>(x), 6, 7, 8, 1, 1};
  r->points[1] = {9, 10, 11, 12, 2, 0};
  blockrec_count_types(r);
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(blockrec_write(r, &bytes, &size), ML_OK);
  blockrec_free(r);
  const uint8_t info[] = {1, 2, 3, 4};
  DataBlob* a = container_put_entry(nullptr, 86, info, sizeof info);
  DataBlob* b = container_put_entry(a, 79, bytes, size);
  if (b != a) blob_release(a);
  std::free(bytes);
  return b;
}

Bytes section(const DataBlob* blob, int32_t format) {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (tmpl_get_section(blob, format, &data, &length) != ML_OK) return {};
  return Bytes(data, data + length);
}

TEST(MatcherSession, ReducedTemplatesKeepSampleInformationAndBareKeypoints) {
  DataBlob* t = keypoint_template(5);
  DataBlob* extensions = nullptr;
  DataBlob* reduced = nullptr;
  ASSERT_EQ(template_reduce_keypoints(t, &extensions, &reduced), ML_OK);
  ASSERT_NE(extensions, nullptr);
  EXPECT_EQ(blob_type(extensions), 0);
  ASSERT_NE(reduced, nullptr);
  EXPECT_EQ(section(reduced, 86), (Bytes{1, 2, 3, 4}));
  BlockRecord* back = nullptr;
  const Bytes kp = section(reduced, 79);
  ASSERT_EQ(blockrec_parse(kp.data(), static_cast<uint32_t>(kp.size()), 0, 0, &back), ML_OK);
  EXPECT_EQ(back->point_count, 2);
  EXPECT_EQ(back->points[0].x, 5);
  blockrec_free(back);
  blob_release(extensions);
  blob_release(reduced);

  // Without sample information the lookup's status comes back.
  const uint8_t only[] = {0};
  DataBlob* bare = container_put_entry(nullptr, 79, only, 1);
  EXPECT_EQ(template_reduce_keypoints(bare, &extensions, &reduced), ML_NOT_FOUND);
  EXPECT_EQ(reduced, nullptr);
  blob_release(bare);

  // Every view of a multi-view template is reduced in its place.
  MultiViewTemplate* mvt = mvt_create(4);
  DataBlob* second = keypoint_template(7);
  for (DataBlob* v : {t, second}) mvt_add_view(mvt_store(mvt), v, nullptr, 0, 0, nullptr);
  DataBlob* stored = mvt_serialize(mvt, 0);
  mvt_release(mvt);
  DataBlob* stripped = nullptr;
  ASSERT_EQ(session_strip_views(stored, &stripped), ML_OK);
  MultiViewTemplate* parsed = nullptr;
  ASSERT_EQ(mvt_from_blob(stripped, &parsed), ML_OK);
  ASSERT_EQ(kwzd_record_count(mvt_store(parsed)), 2);
  DataBlob* view = kwzd_get_at(mvt_store(parsed), 1, nullptr);
  EXPECT_EQ(section(view, 86), (Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(section(view, 79).empty());
  blob_release(view);
  mvt_release(parsed);
  blob_release(stripped);
  blob_release(stored);
  blob_release(second);
  blob_release(t);
  EXPECT_EQ(session_strip_views(nullptr, &stripped), ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

// Committing a pending verification result, over an engine whose one stage
// extracts a template that carries the image's first pixel as its id.
struct CommitRig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  MatcherSession* s = nullptr;
  GrayImage* probe = nullptr;
  DataBlob* gallery = nullptr;

  CommitRig() {
    zyl::test::script() = {};
    EngineConfig config;
    engine_config_init(&config);
    config.most_views = 8;
    engine = zyl::test::scripted_engine(ctx, config);
    session_create(nullptr, engine, &s);
    const std::vector<uint8_t> px(64 * 64, 33);
    probe = image_create(64, 64, 500, 500, px.data(), 0);
    MultiViewTemplate* t = mvt_create(8);
    DataBlob* view = zyl::test::make_template(5);
    mvt_add_view(mvt_store(t), view, nullptr, 0, 0, nullptr);
    blob_release(view);
    gallery = mvt_serialize(t, 0);
    mvt_release(t);
  }
  ~CommitRig() {
    session_release(s);
    image_release(probe);
    blob_release(gallery);
    engine_release(engine);
    ctx_release(ctx);
  }
  // A result of the given decision for the probe image against the gallery.
  MatchResult* result(int decision) const {
    MatchResult* r = match_result_create(1);
    r->decision = decision;
    r->probe_image = image_retain(probe);
    r->further_blob = blob_retain(gallery);
    r->transform = xform_create(0, 0, 0);
    return r;
  }
  void pend(int decision) { s->pending = result(decision); }
  const SessionEvent& newest() const { return *session_event_at(s, 0); }
};

TEST(MatcherSessionCommit, AMatchBecomesTheAcceptedImageAndAnUpdatedTemplate) {
  CommitRig r;
  DataBlob* out = nullptr;
  EXPECT_EQ(session_commit_result(r.s, &out), ML_WRONG_KIND);  // nothing pending
  EXPECT_EQ(session_commit_result(nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_event_count(r.s), 0);

  r.pend(1);
  ASSERT_EQ(session_commit_result(r.s, &out), ML_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(zyl::test::view_count(out), 2);  // the probe joined the gallery's view
  EXPECT_EQ(r.s->accepted_image, r.probe);
  ASSERT_NE(r.s->accepted_template, nullptr);
  EXPECT_EQ(zyl::test::template_id(r.s->accepted_template), 33);
  EXPECT_EQ(r.s->pending, nullptr);
  const int32_t* t = r.s->statistics;
  EXPECT_EQ(t[SESSION_COMMITTED], 1);
  EXPECT_EQ(t[SESSION_TEMPLATE_UPDATES], 1);
  EXPECT_EQ(t[SESSION_ACCEPTED_SINCE_UPDATE], 1);
  EXPECT_EQ(t[SESSION_REJECTED_SINCE_UPDATE], 0);
  EXPECT_EQ(r.newest().type, SESSION_EVENT_COMMITTED);
  EXPECT_EQ(r.newest().code, ML_OK);
  blob_release(out);

  // A rejection changes neither the accepted image nor the template.
  r.s->statistics[SESSION_REJECTED_SINCE_UPDATE] = 4;
  const int extractions = zyl::test::script().extract_calls;
  r.pend(0);
  ASSERT_EQ(session_commit_result(r.s, &out), ML_OK);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(zyl::test::script().extract_calls, extractions);
  EXPECT_EQ(r.s->statistics[SESSION_COMMITTED], 2);
  EXPECT_EQ(r.s->statistics[SESSION_TEMPLATE_UPDATES], 1);
  EXPECT_EQ(r.s->statistics[SESSION_REJECTED_SINCE_UPDATE], 4);
}

TEST(MatcherSessionCommit, AFailingExtractionIsLoggedAndDropsTheResult) {
  CommitRig r;
  zyl::test::script().extract_status = ML_CORRUPT;
  r.pend(1);
  DataBlob* out = nullptr;
  EXPECT_EQ(session_commit_result(r.s, &out), ML_CORRUPT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(r.s->pending, nullptr);
  EXPECT_EQ(r.s->accepted_image, nullptr);
  EXPECT_EQ(r.s->statistics[SESSION_COMMITTED], 0);
  EXPECT_EQ(r.newest().type, SESSION_EVENT_COMMITTED);
  EXPECT_EQ(r.newest().code, ML_CORRUPT);
}

TEST(MatcherSessionCommit, TheCallersDecisionOverridesAndADisagreementAnswers22) {
  CommitRig r;
  DataBlob* out = nullptr;
  // The engine rejected; the caller accepts at level 9.
  r.pend(0);
  const SessionDecision accept{1, 1, 9};
  EXPECT_EQ(session_commit_with_decision(r.s, &accept, &out), ML_NOT_SET);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(zyl::test::view_count(out), 2);
  EXPECT_EQ(r.s->accepted_image, r.probe);
  blob_release(out);
  out = nullptr;
  // A record without a level is not taken: the engine's match stands, but
  // nothing is adapted.
  r.pend(1);
  const SessionDecision no_level{1, 0, -1};
  EXPECT_EQ(session_commit_with_decision(r.s, &no_level, &out), ML_OK);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(r.s->statistics[SESSION_COMMITTED], 2);
  // Agreement answers 0.
  r.pend(1);
  const SessionDecision agree{1, 1, 9};
  EXPECT_EQ(session_commit_with_decision(r.s, &agree, &out), ML_OK);
  EXPECT_NE(out, nullptr);
  blob_release(out);
  EXPECT_EQ(session_commit_with_decision(r.s, &agree, &out), ML_WRONG_KIND);
  EXPECT_EQ(session_commit_with_decision(r.s, nullptr, &out), ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

// Replaying a verification record: a drawn keypoint view and its shifted
// copy as the probe, a stored pairing of the two, an engine whose one stage
// matches keypoints and fuses every vector to 60000.
int fuse_fixed(MatchContext*, DataBlob*, DataBlob*, const uint16_t*, uint16_t count, const ScoreProfile*,
               uint16_t* out) {
  *out = count ? 60000 : 0;
  return ML_OK;
}
const StageMatchOps kKeypointOps{match_keypoints, fuse_fixed};
const ScoreProfile kKeypointProfile{&kKeypointOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile* const kKeypointProfiles[] = {&kKeypointProfile, nullptr};

struct RecordRig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  zyl::test::KeypointBlob view, probe;
  MinutiaPairing* pairing = nullptr;
  std::vector<uint16_t> fresh;  // the sub-scores the stored pairing gives
  DataBlob* gallery = nullptr;
  int32_t key = 0;

  RecordRig() {
    param_set(ctx, static_cast<uint32_t>(KP_KEY_EXTENSIONS), 16);
    param_set(ctx, static_cast<uint32_t>(KP_KEY_REQUIRED), 5);
    StageChain* chain = chain_create();
    chain_append(chain, stage_create(nullptr, 79, nullptr, &kKeypointOps, 0, 0));
    engine = engine_create(ctx, chain, 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
    engine_set_score_profiles(engine, kKeypointProfiles);
    const zyl::test::Drawn d = zyl::test::drawn_pair(9, 40);
    view = zyl::test::blob_of(d.a, d.desc);
    probe = zyl::test::blob_of(d.b, d.desc);
    EXPECT_EQ(match_keypoint_pairs(ctx, view.get(), probe.get(), &pairing), ML_OK);
    uint16_t* v = nullptr;
    uint16_t n = 0;
    EXPECT_EQ(match_keypoints_with_pairing(ctx, view.get(), nullptr, 0, probe.get(), nullptr, 0, pairing, &v, &n,
                                           nullptr),
              ML_OK);
    fresh.assign(v, v + n);
    std::free(v);
    MultiViewTemplate* t = mvt_create(4);
    mvt_add_view(mvt_store(t), view.get(), nullptr, 0, 0, nullptr);
    blob_release(kwzd_get_at(mvt_store(t), 0, &key));
    gallery = mvt_serialize(t, 0);
    mvt_release(t);
  }
  ~RecordRig() {
    pairing_free(pairing);
    blob_release(gallery);
    engine_release(engine);
    ctx_release(ctx);
  }
  // The pairing and the result record, as a format-0 blob.
  Bytes record_bytes(const std::vector<uint16_t>& scores, uint16_t best = 60000, uint8_t version = 1,
                     int32_t view_key = INT32_MIN, uint8_t stage = 0) const {
    Bytes b(pairing_write(pairing, nullptr));
    pairing_write(pairing, b.data());
    const uint32_t k = static_cast<uint32_t>(view_key == INT32_MIN ? key : view_key);
    b.insert(b.end(), {version, static_cast<uint8_t>(k >> 24), static_cast<uint8_t>(k >> 16),
                       static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k), static_cast<uint8_t>(best >> 8),
                       static_cast<uint8_t>(best), static_cast<uint8_t>(scores.size())});
    for (uint16_t s : scores) b.insert(b.end(), {static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)});
    b.insert(b.end(), {stage, 0, 0});  // stage selector, no extension blobs
    return b;
  }
  int replay(const Bytes& record, int update, SessionDecision& decision, DataBlob** out) {
    DataBlob* r = blob_create(0, record.data(), static_cast<uint32_t>(record.size()));
    const int status = session_update_from_record(engine, gallery, probe.get(), r, update, &decision, out);
    blob_release(r);
    return status;
  }
};

TEST(MatcherSessionRecord, AFaithfulReplayBecomesAMatchAndUpdatesTheTemplate) {
  RecordRig r;
  ASSERT_EQ(r.fresh.size(), 5u);
  ASSERT_GT(60000, far_level_row(9).score);
  SessionDecision d{1, 0, 9};
  DataBlob* out = nullptr;
  ASSERT_EQ(r.replay(r.record_bytes(r.fresh), 1, d, &out), ML_OK);
  EXPECT_EQ(d.decision, 1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(zyl::test::view_count(out), 2);  // room left: the probe joins the view
  blob_release(out);
  // Without the update switch the decision alone.
  d = {1, 0, 9};
  ASSERT_EQ(r.replay(r.record_bytes(r.fresh), 0, d, &out), ML_OK);
  EXPECT_EQ(d.decision, 1);
  EXPECT_EQ(out, nullptr);
}

TEST(MatcherSessionRecord, TheCallersDecisionStandsUnlessTheRecordIsReproduced) {
  RecordRig r;
  DataBlob* out = nullptr;
  std::vector<uint16_t> tampered = r.fresh;
  tampered[2] ^= 1;
  // A different sub-score, a different best value, and a record shorter
  // than the new vector (only its length is copied; the decision stands).
  const std::vector<Bytes> records = {r.record_bytes(tampered), r.record_bytes(r.fresh, 59999),
                                      r.record_bytes({r.fresh[0], r.fresh[1]})};
  for (const Bytes& record : records) {
    SessionDecision d{1, 0, 9};
    ASSERT_EQ(r.replay(record, 1, d, &out), ML_OK);
    EXPECT_EQ(d.decision, 0);
    EXPECT_EQ(out, nullptr);
  }
  // A caller's match is kept and updates the template.
  SessionDecision d{1, 1, 9};
  ASSERT_EQ(r.replay(r.record_bytes(tampered), 1, d, &out), ML_OK);
  EXPECT_EQ(d.decision, 1);
  EXPECT_NE(out, nullptr);
  blob_release(out);
}

TEST(MatcherSessionRecord, MalformedRecordsAreRefused) {
  RecordRig r;
  SessionDecision d{1, 0, 9};
  DataBlob* out = nullptr;
  Bytes longer = r.record_bytes(r.fresh);
  longer.push_back(0);
  Bytes shorter = r.record_bytes(r.fresh);
  shorter.pop_back();
  std::vector<std::pair<Bytes, int>> cases = {
      {longer, 17},
      {shorter, 17},
      {r.record_bytes(std::vector<uint16_t>(65, 1)), 17},
      {r.record_bytes(r.fresh, 60000, 2), 1},
      {r.record_bytes(r.fresh, 60000, 1, r.key + 100), 6},
      {r.record_bytes(r.fresh, 60000, 1, INT32_MIN, 3), 2},  // no such stage
      {Bytes{1, 2, 3}, 17},
  };
  // A stored pairing whose distance mode the matcher does not compute (the
  // 256-bit distance reads past the last descriptor) is damaged data.
  const int32_t kept = r.pairing->settings.distance_mode;
  for (int mode : {256, 1, 0x100 | 64}) {
    r.pairing->settings.distance_mode = mode;
    cases.push_back({r.record_bytes(r.fresh), 17});
  }
  r.pairing->settings.distance_mode = kept;
  for (const auto& [record, status] : cases) {
    EXPECT_EQ(r.replay(record, 1, d, &out), status);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(d.decision, 0);
  }
  DataBlob* rec = blob_create(0, longer.data(), 4);
  EXPECT_EQ(session_update_from_record(r.engine, r.gallery, r.probe.get(), rec, 1, nullptr, &out), ML_BAD_ARGUMENT);
  blob_release(rec);
}

}  // namespace

namespace {

// Impressions through the session: real 160 x 160 prints accumulate; the
// enrolment (placement-checking, eight slots) compares them through a
// scripted engine whose templates carry the image's first pixel as id.
struct ImpressionRig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  MatcherSession* s = nullptr;
  std::vector<GrayImage*> images;

  ImpressionRig() {
    zyl::test::script() = {};
    zyl::test::script().default_score = 60000;  // every pair matches,
    zyl::test::script().transform_dx = 60;      // placed apart
    EngineConfig config;
    engine_config_init(&config);
    config.most_views = 10;
    config.unnamed_u8_1 = 8;  // enrolment slots
    engine = zyl::test::scripted_engine(ctx, config);
    session_create(nullptr, engine, &s);
  }
  ~ImpressionRig() {
    session_release(s);
    for (GrayImage* i : images) image_release(i);
    engine_release(engine);
    ctx_release(ctx);
  }
  GrayImage* print(const char* name) {
    const zyl::test::GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
    images.push_back(image_create(g.height, g.width, 500, 500, g.pixels.data(), 0));
    return images.back();
  }
  std::vector<GrayImage*> finger(int n) {
    const char* names[] = {"fvc2002_101_1_160.pgm", "fvc2002_101_2_160.pgm", "fvc2002_101_3_160.pgm",
                           "fvc2002_101_4_160.pgm", "fvc2002_101_5_160.pgm", "fvc2002_102_1_160.pgm",
                           "fvc2002_103_1_160.pgm", "fvc2002_104_1_160.pgm"};
    std::vector<GrayImage*> out;
    for (int i = 0; i < n; ++i) out.push_back(print(names[i]));
    return out;
  }
  const SessionEvent& newest() const { return *session_event_at(s, 0); }
};

TEST(MatcherSessionImpressions, AddingAnswersTheFirstFailureAndLogsEvent3) {
  ImpressionRig r;
  EXPECT_EQ(session_add_images(r.s, nullptr, 0), ML_BAD_ARGUMENT);
  EXPECT_EQ(r.newest().type, SESSION_EVENT_ADDED);
  EXPECT_EQ(r.newest().code, ML_BAD_ARGUMENT);
  EXPECT_EQ(r.newest().payload[0], 0);
  EXPECT_EQ(session_add_images(nullptr, nullptr, 0), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_event_count(r.s), 1);

  std::vector<GrayImage*> two = r.finger(2);
  ASSERT_EQ(session_add_images(r.s, two.data(), 2), ML_OK);
  ASSERT_NE(r.s->accumulator, nullptr);
  EXPECT_EQ(r.s->accumulator->height, 160);
  EXPECT_EQ(r.newest().code, ML_OK);
  EXPECT_EQ(r.newest().payload[0], 2);
  // An impression of another size does not fit the accumulator: its
  // status is answered, not 0.
  const std::vector<uint8_t> px(100 * 120, 128);
  GrayImage* other = image_create(100, 120, 500, 500, px.data(), 0);
  EXPECT_EQ(session_add_image(r.s, nullptr, other), ML_BAD_ARGUMENT);
  EXPECT_EQ(r.newest().code, ML_BAD_ARGUMENT);
  EXPECT_EQ(r.newest().payload[0], 1);
  image_release(other);
}

TEST(MatcherSessionImpressions, EnrolledImpressionsFinaliseIntoAMultiViewTemplate) {
  ImpressionRig r;
  DataBlob* out = nullptr;
  // Nothing enrolled: the empty enrolment refuses with 1.
  EXPECT_EQ(session_finalise_enrolment(r.s, &out), ML_WRONG_KIND);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(r.newest().type, SESSION_EVENT_FINALISED);
  EXPECT_EQ(r.newest().code, ML_WRONG_KIND);
  EXPECT_EQ(r.s->statistics[SESSION_FINISHED_ENROLMENTS], 0);

  std::vector<GrayImage*> three = r.finger(3);
  int enrolled = -1;
  ASSERT_EQ(session_enrol_images(r.s, three.data(), 3, &enrolled, nullptr), ML_OK);
  EXPECT_EQ(enrolled, 3);
  EXPECT_EQ(enrol_count(r.s->enrolment), 3);
  EXPECT_EQ(r.s->image_count, 3);
  EXPECT_EQ(r.s->accepted_image, three[2]);
  ASSERT_NE(r.s->accepted_template, nullptr);
  r.s->statistics[SESSION_ACCEPTED_SINCE_ENROLMENT] = 5;
  ASSERT_EQ(session_finalise_enrolment(r.s, &out), ML_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(blob_type(out), 80);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(out, &t), ML_OK);
  EXPECT_EQ(kwzd_record_count(mvt_store(t)), 3);
  mvt_release(t);
  blob_release(out);
  EXPECT_EQ(r.newest().code, ML_OK);
  EXPECT_EQ(r.newest().payload[0], 3);
  EXPECT_EQ(r.s->statistics[SESSION_FINISHED_ENROLMENTS], 1);
  EXPECT_EQ(r.s->statistics[SESSION_ACCEPTED_SINCE_ENROLMENT], 0);
  EXPECT_EQ(r.s->enrolment, nullptr);
  EXPECT_EQ(r.s->image_count, 0);

  EXPECT_EQ(session_enrol_images(r.s, nullptr, 1, nullptr, nullptr), ML_CORRUPT);
  EXPECT_EQ(session_enrol_images(r.s, three.data(), 0, nullptr, nullptr), ML_BAD_ARGUMENT);
  // A failing offer ends the enrolment.
  zyl::test::script().extract_status = ML_CORRUPT;
  EXPECT_EQ(session_enrol_images(r.s, three.data(), 3, &enrolled, nullptr), ML_CORRUPT);
  EXPECT_EQ(r.s->enrolment, nullptr);
  EXPECT_EQ(r.s->image_count, 0);
}

TEST(MatcherSessionImpressions, AnImpressionIsListedMeasuredAndCompared) {
  ImpressionRig r;
  std::vector<GrayImage*> prints = r.finger(3);
  SessionImageStatistics st{};
  SessionImageMatch m{1, 1, 1};
  ASSERT_EQ(session_add_impression(r.s, prints[0], &st, &m), ML_OK);
  EXPECT_EQ(r.s->image_count, 1);
  EXPECT_EQ(r.s->first_image->seen, 1);
  EXPECT_EQ(r.s->first_image->enrolled, 0);
  EXPECT_EQ(st.quality, image_quality(prints[0]));
  EXPECT_EQ(st.foreground_percent, image_foreground_percent(prints[0]));
  EXPECT_GT(st.quality, 0);
  // Nothing enrolled yet: nothing to compare with.
  EXPECT_EQ(m.best_score, 0);
  EXPECT_EQ(m.best_overlap, 0);
  EXPECT_EQ(m.first_overlap, 0);
  // Offered again it is not added again.
  ASSERT_EQ(session_add_impression(r.s, prints[0], nullptr, nullptr), ML_OK);
  EXPECT_EQ(r.s->image_count, 1);
  // Enrol it (it goes straight to the enrolment), then compare another.
  ASSERT_EQ(session_enrol_images(r.s, prints.data(), 1, nullptr, nullptr), ML_OK);
  ASSERT_EQ(session_add_impression(r.s, prints[1], nullptr, &m), ML_OK);
  EXPECT_GT(m.best_score, 0);
  EXPECT_GT(m.first_overlap, 0);  // 60 pixels apart on a 160-pixel square
  EXPECT_LT(m.first_overlap, 100);
  EXPECT_EQ(session_add_impression(r.s, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
}

TEST(MatcherSessionImpressions, TheSixthListedImpressionTriggersARebuild) {
  ImpressionRig r;
  std::vector<GrayImage*> prints = r.finger(7);
  ASSERT_EQ(session_enrol_images(r.s, prints.data(), 6, nullptr, nullptr), ML_OK);
  EXPECT_EQ(r.s->trigger_done, 0);
  // The next add finds six listed impressions: they are accumulated as one
  // series and a new enrolment takes (extracts) the six enrolled ones again.
  const int extractions = zyl::test::script().extract_calls;
  ASSERT_EQ(session_add_impression(r.s, prints[6], nullptr, nullptr), ML_OK);
  EXPECT_EQ(r.s->trigger_done, 1);
  EXPECT_EQ(zyl::test::script().extract_calls - extractions, 6);
  EXPECT_EQ(enrol_count(r.s->enrolment), 6);
  EXPECT_EQ(r.s->image_count, 7);
  // Once an enrolment has finished, six impressions trigger nothing.
  session_reset_enrolment(r.s);
  r.s->statistics[SESSION_FINISHED_ENROLMENTS] = 1;
  ASSERT_EQ(session_enrol_images(r.s, prints.data(), 6, nullptr, nullptr), ML_OK);
  const int later = zyl::test::script().extract_calls;
  ASSERT_EQ(session_add_impression(r.s, prints[6], nullptr, nullptr), ML_OK);
  EXPECT_EQ(r.s->trigger_done, 0);
  EXPECT_EQ(zyl::test::script().extract_calls, later);
}

}  // namespace

namespace {

TEST(MatcherSessionAllocation, CommitAndReplayAnswerOutOfMemoryAndLeakNothing) {
  {
    CommitRig r;
    // Results made beforehand, so that only the commit's allocations fail.
    std::vector<MatchResult*> results;
    for (int i = 0; i < 400; ++i) results.push_back(r.result(1));
    size_t next = 0;
    const int n = zyl::test::sweep_allocation_failures([&] {
      ASSERT_LT(next, results.size());
      r.s->pending = results[next++];
      image_release(r.s->accepted_image);
      blob_release(r.s->accepted_template);
      r.s->accepted_image = nullptr;
      r.s->accepted_template = nullptr;
      DataBlob* out = nullptr;
      const int status = session_commit_result(r.s, &out);
      if (zyl::test::allocation_failed()) {
        EXPECT_EQ(status, ML_NO_MEMORY);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(r.s->pending, nullptr);
      } else {
        EXPECT_EQ(status, ML_OK);
      }
      blob_release(out);
    });
    EXPECT_GT(n, 0);
    for (; next < results.size(); ++next) match_result_release(results[next]);
  }
  RecordRig r;
  const Bytes record = r.record_bytes(r.fresh);
  DataBlob* rec = blob_create(0, record.data(), static_cast<uint32_t>(record.size()));
  const int n = zyl::test::sweep_allocation_failures([&] {
    SessionDecision d{1, 0, 9};
    DataBlob* out = nullptr;
    const int status = session_update_from_record(r.engine, r.gallery, r.probe.get(), rec, 1, &d, &out);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(out, nullptr);
    } else {
      EXPECT_EQ(status, ML_OK);
      EXPECT_EQ(zyl::test::view_count(out), 2);
    }
    blob_release(out);
  });
  EXPECT_GT(n, 0);
  blob_release(rec);
}

}  // namespace

namespace {

TEST(MatcherSession, ReservedEntryPointsAnswer0AndChangeNothing) {
  Engine e;
  Session s;
  const int32_t settings[4] = {3, 4, 5, 6};
  ASSERT_EQ(session_create(settings, e.engine, &s.s), ML_OK);
  const Bytes before = saved(s.s);
  EXPECT_EQ(session_reserved_first(s.s), ML_OK);
  EXPECT_EQ(session_reserved_second(s.s), ML_OK);
  EXPECT_EQ(session_reserved_first(nullptr), ML_OK);
  EXPECT_EQ(session_reserved_second(nullptr), ML_OK);
  EXPECT_EQ(saved(s.s), before);
  EXPECT_EQ(session_event_count(s.s), 0);
}

}  // namespace

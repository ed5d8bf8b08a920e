// Score-model sets, the enrolment-object dispatch and the callback holder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_model_set.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_preset_catalogue.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Profiles {
  ScoreLinearRow row{0, 1000, 100u << 16, 10u << 16, 800};
  FarThresholdTable t1{}, t2{};
  ScoreProfile pass{nullptr, 0, {nullptr, -1, score_model_eval_pass, nullptr}, &t1};
  ScoreProfile linear{nullptr, 0, {&row, 1, score_model_eval_linear, nullptr}, &t2};
  const ScoreProfile* list[3] = {&pass, &linear, nullptr};
  Profiles() {
    for (int r = 0; r < FAR_CLASS_COUNT; ++r)
      for (int l = 0; l < FAR_LEVEL_COUNT; ++l) {
        t1.t[r][l] = static_cast<uint16_t>(r * 100 + l);
        t2.t[r][l] = static_cast<uint16_t>(60000 + r * 10 + l);
      }
  }
};

Bytes serialize(const ScoreModelSet* set) {
  uint8_t* buf = nullptr;
  uint32_t len = 0;
  EXPECT_EQ(model_set_serialize(set, &buf, &len), ML_OK);
  Bytes out(buf, buf + len);
  std::free(buf);
  return out;
}

TEST(ModelSet, WritesAndReadsBackTheProfilesModels) {
  Profiles p;
  ScoreModelSet* set = nullptr;
  ASSERT_EQ(model_set_from_profiles(p.list, &set), ML_OK);
  EXPECT_EQ(set->count, 2);
  const Bytes bytes = serialize(set);
  ASSERT_EQ(bytes.size(), 4u + 2 * 401 + 4 + 18);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 13), (Bytes{0, 1, 0, 2, 0x03, 0xe9, 0, 0, 0x01, 0x95, 0, 0, 4}));
  model_set_free(set);

  ScoreModelSet* back = nullptr;
  ASSERT_EQ(model_set_parse(bytes.data(), static_cast<uint32_t>(bytes.size()), p.list, &back), ML_OK);
  ASSERT_NE(back->profiles, nullptr);
  ASSERT_NE(back->profiles[1], nullptr);
  EXPECT_EQ(back->profiles[2], nullptr);
  EXPECT_EQ(back->profiles[1]->thresholds->t[6][27], 60000 + 60 + 27);
  EXPECT_EQ(back->profiles[0]->thresholds->t[3][4], 304);
  EXPECT_NE(back->profiles[1]->model.rows, &p.row);  // a copy of its own
  const uint16_t v[1] = {110};
  uint16_t a = 0, b = 0;
  EXPECT_EQ(score_profile_fuse(v, 1, back->profiles[1], &a), ML_OK);
  EXPECT_EQ(score_profile_fuse(v, 1, &p.linear, &b), ML_OK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(serialize(back), bytes);
  model_set_free(back);
}

TEST(ModelSet, RefusesBadSets) {
  Profiles p;
  ScoreModelSet* set = nullptr;
  ASSERT_EQ(model_set_from_profiles(p.list, &set), ML_OK);
  const Bytes good = serialize(set);
  model_set_free(set);
  auto with = [&](size_t at, uint8_t value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  const ScoreProfile* one[2] = {&p.pass, nullptr};
  struct Case {
    const char* what;
    Bytes bytes;
    const ScoreProfile* const* current;
    int status;
  } cases[] = {
      {"version 0", with(1, 0), p.list, ML_UNAVAILABLE},
      {"negative version", with(0, 0x80), p.list, ML_UNAVAILABLE},
      {"eleven entries", with(3, 11), p.list, ML_UNAVAILABLE},
      {"entry index 10", with(10, 10), p.list, ML_UNAVAILABLE},
      {"fewer current profiles", good, one, ML_CORRUPT},
      {"an entry without a block", with(3, 3), p.list, ML_CORRUPT},
      {"truncated", Bytes(good.begin(), good.end() - 1), p.list, ML_CORRUPT},
      {"head only", Bytes(good.begin(), good.begin() + 3), p.list, ML_UNAVAILABLE},
  };
  for (const Case& c : cases) {
    ScoreModelSet* out = nullptr;
    EXPECT_EQ(model_set_parse(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), c.current, &out),
              c.status)
        << c.what;
    EXPECT_EQ(out, nullptr);
  }
  // Two entries announced, one block: the second entry has no model to copy.
  Bytes single = with(3, 1);
  single[3] = 2;
  single.resize(4 + 401 + 4);
  ScoreModelSet* out = nullptr;
  EXPECT_EQ(model_set_parse(single.data(), static_cast<uint32_t>(single.size()), p.list, &out), ML_WRONG_KIND);
  std::vector<const ScoreProfile*> eleven(11, &p.pass);
  eleven.push_back(nullptr);
  EXPECT_EQ(model_set_from_profiles(eleven.data(), &out), ML_TOO_MANY);
}

struct FakeSession {
  EnrolSession head{};
  std::vector<std::string> calls;
};

FakeSession* fake(EnrolSession* s) { return reinterpret_cast<FakeSession*>(s); }

FakeSession make_session() {
  FakeSession f;
  f.head.add_sample = [](EnrolSession* s, GrayImage*, DataBlob*, void* user) {
    fake(s)->calls.push_back("add " + std::to_string(reinterpret_cast<intptr_t>(user)));
    return 4;
  };
  f.head.count = [](EnrolSession*) { return 3; };
  f.head.destroy = [](EnrolSession* s) { fake(s)->calls.push_back("destroy"); };
  f.head.set_limits = [](EnrolSession*, uint16_t a, uint8_t b, void*) { return a + b; };
  return f;
}

TEST(EnrolDispatch, ObserverRunsFirstAndIsReleasedOnDestroy) {
  FakeSession f = make_session();
  EXPECT_EQ(enrol_add_sample(&f.head, nullptr, nullptr, reinterpret_cast<void*>(7)), 4);
  static int released = 0;
  enrol_set_observer(&f.head, &f, [](EnrolSession* s, GrayImage*, DataBlob*, void* user) {
    fake(s)->calls.push_back("observe " + std::to_string(reinterpret_cast<intptr_t>(user)));
    return 0;
  }, [](void*) { ++released; });
  EXPECT_EQ(enrol_add_sample(&f.head, nullptr, nullptr, reinterpret_cast<void*>(8)), 4);
  EXPECT_EQ(enrol_count(&f.head), 3);
  EXPECT_EQ(enrol_set_limits(&f.head, 10, 5, nullptr), 15);
  EXPECT_EQ(enrol_call_optional(&f.head, nullptr, nullptr, nullptr, nullptr, nullptr), ML_OK);
  EXPECT_EQ(enrol_finalise(&f.head, 3, nullptr, nullptr), ML_OUT_OF_LIMITS);  // no such slot
  enrol_set_value(&f.head, 42);
  EXPECT_EQ(f.head.setting, 42);
  enrol_destroy(&f.head);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"add 7", "observe 8", "add 8", "destroy"}));
  EXPECT_EQ(released, 1);
  EXPECT_EQ(f.head.observer, nullptr);
  EXPECT_EQ(f.head.observer_data, nullptr);

  FakeSession plain = make_session();
  enrol_destroy(&plain.head);  // no observer: slot 4 only
  EXPECT_EQ(plain.calls, (std::vector<std::string>{"destroy"}));
  EXPECT_EQ(enrol_add_sample(nullptr, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(enrol_count(nullptr), 0);
  enrol_destroy(nullptr);
}

TEST(CallbackHolder, CallsWithItsDataAndReleasesOnce) {
  static int released = 0;
  int data = 5;
  CallbackHolder* h = callback_holder_create(&data, [](void* user, void* a, void*, void*) {
    return *static_cast<int*>(user) * 10 + static_cast<int>(reinterpret_cast<intptr_t>(a));
  }, [](void* user) { released += *static_cast<int*>(user); });
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(callback_holder_call(h, reinterpret_cast<void*>(3), nullptr, nullptr), 53);
  callback_holder_retain(h);
  callback_holder_release(h);
  EXPECT_EQ(released, 0);
  callback_holder_release(h);
  EXPECT_EQ(released, 5);
  EXPECT_EQ(callback_holder_call(nullptr, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

struct EngineWithProfiles {
  Profiles p;
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 79, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  EngineWithProfiles() { engine_set_score_profiles(engine, p.list); }
  ~EngineWithProfiles() {
    engine_release(engine);
    ctx_release(ctx);
  }
};

TEST(EngineModelSet, WrittenSetLoadsIntoAFreshEngineWithTheSameBytes) {
  EngineWithProfiles a;
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(model_set_write(a.engine, &bytes, &length), ML_OK);
  const Bytes written(bytes, bytes + length);
  std::free(bytes);
  EXPECT_EQ(length, 4u + 2 * 401 + score_model_write(nullptr, &a.p.pass.model) +
                        score_model_write(nullptr, &a.p.linear.model));
  ASSERT_NE(engine_get_model_set(a.engine), nullptr);
  EXPECT_EQ(model_set_write(a.engine, &bytes, &length), ML_TOO_MANY);

  EngineWithProfiles b;
  ASSERT_EQ(model_set_load(b.engine, written.data(), static_cast<uint32_t>(written.size())), ML_OK);
  const ScoreProfile* const* loaded = engine_get_score_profiles(b.engine);
  ASSERT_NE(loaded, b.p.list);
  EXPECT_EQ(loaded[0]->thresholds->t[3][4], 304);
  EXPECT_EQ(loaded[1]->thresholds->t[6][27], 60087);
  EXPECT_EQ(loaded[2], nullptr);
  EXPECT_EQ(serialize(engine_get_model_set(b.engine)), written);
  EXPECT_EQ(model_set_load(b.engine, written.data(), static_cast<uint32_t>(written.size())), ML_TOO_MANY);
  EXPECT_EQ(model_set_write(b.engine, &bytes, &length), ML_TOO_MANY);
}

TEST(EngineModelSet, PlaceholderProfilesHaveNoStoredFormAndAnswer1) {
  // The catalogue's profiles carry unfitted models, which have no stored
  // form (0 bytes): no set can be written from them. The engine is left
  // without a set and with its profiles, so a later write still works.
  EngineWithProfiles e;
  const ScoreProfile* const* catalogue = preset_catalogue_profiles();
  ASSERT_NE(catalogue[0], nullptr);
  EXPECT_EQ(score_model_write(nullptr, &catalogue[0]->model), 0u);
  engine_set_score_profiles(e.engine, catalogue);
  uint8_t* bytes = nullptr;
  uint32_t length = 7;
  EXPECT_EQ(model_set_write(e.engine, &bytes, &length), ML_WRONG_KIND);
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(engine_get_model_set(e.engine), nullptr);
  EXPECT_EQ(engine_get_score_profiles(e.engine), catalogue);
  // One placeholder among fitted profiles is enough to refuse.
  const ScoreProfile* mixed[3] = {&e.p.pass, catalogue[0], nullptr};
  engine_set_score_profiles(e.engine, mixed);
  EXPECT_EQ(model_set_write(e.engine, &bytes, &length), ML_WRONG_KIND);
  EXPECT_EQ(engine_get_model_set(e.engine), nullptr);
  engine_set_score_profiles(e.engine, e.p.list);
  ASSERT_EQ(model_set_write(e.engine, &bytes, &length), ML_OK);
  std::free(bytes);
}

TEST(EngineModelSet, ARefusedLoadLeavesTheOldProfiles) {
  EngineWithProfiles e;
  const Bytes version0 = {0, 0, 0, 0};
  EXPECT_EQ(model_set_load(e.engine, version0.data(), 4), ML_UNAVAILABLE);
  EXPECT_EQ(engine_get_score_profiles(e.engine), e.p.list);
  EXPECT_EQ(engine_get_model_set(e.engine), nullptr);
  // Three entries but two profiles: the set cannot be built.
  EngineWithProfiles three;
  const ScoreProfile* list3[4] = {&three.p.pass, &three.p.linear, &three.p.pass, nullptr};
  engine_set_score_profiles(three.engine, list3);
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(model_set_write(three.engine, &bytes, &length), ML_OK);
  EXPECT_EQ(model_set_load(e.engine, bytes, length), ML_CORRUPT);
  EXPECT_EQ(engine_get_score_profiles(e.engine), e.p.list);
  std::free(bytes);
  EXPECT_EQ(model_set_load(nullptr, version0.data(), 4), ML_BAD_ARGUMENT);
}

}  // namespace

// XW contexts: defaults, parameter access and clamping, presets of every
// mode, the score normalisation table and the default context's counting.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "api/xw_context.h"
#include "zylscan/xw.h"

namespace {

struct ContextDeleter {
  void operator()(XWContext* c) const { XWFreeContext(c); }
};
using Context = std::unique_ptr<XWContext, ContextDeleter>;

Context make_context() {
  Context c(XWCreateContext());
  EXPECT_NE(c, nullptr);
  return c;
}

// Every id of the additional parameter table.
const std::vector<std::int32_t>& additional_ids() {
  static const std::vector<std::int32_t> ids = [] {
    std::vector<std::int32_t> v;
    for (std::int32_t id = 10000; id <= 10038; ++id) v.push_back(id);
    v.push_back(11000);
    for (std::int32_t id = 20000; id <= 20022; ++id)
      if (id != 20002) v.push_back(id);
    return v;
  }();
  return ids;
}

std::int32_t get(XWContext* c, std::int32_t id) {
  std::int32_t value = -12345;
  EXPECT_EQ(XWGetAdditionalParameter(id, &value, c), XW_OK) << id;
  return value;
}

std::int32_t get_simple(XWContext* c, std::int32_t id) {
  std::int32_t value = -12345;
  EXPECT_EQ(XWGetParameter(id, &value, c), XW_OK) << id;
  return value;
}

// All parameters of a context, additional and simple, by id.
std::map<std::int32_t, std::int32_t> snapshot(XWContext* c) {
  std::map<std::int32_t, std::int32_t> all;
  for (std::int32_t id : additional_ids()) all[id] = get(c, id);
  for (std::int32_t id : {110, 200, 201, 210, 220, 300, 1000}) all[id] = get_simple(c, id);
  return all;
}

TEST(XWContext, StartsWithTheDefaultOfEveryParameter) {
  struct Case {
    std::int32_t id;
    std::int32_t value;
  };
  const Case cases[] = {
      {10000, 120}, {10001, 1},   {10002, 3},   {10003, 3},   {10004, 5},   {10005, 7},
      {10006, 130}, {10007, 115}, {10008, 19},  {10009, 17},  {10010, 196}, {10011, 207},
      {10012, 2},   {10013, 30},  {10014, 20},  {10015, 0},   {10016, 4},   {10017, 12},
      {10018, 1},   {10019, 1},   {10020, 1024}, {10021, 1},  {10022, 1},   {10023, 64},
      {10024, 0},   {10025, 0},   {10026, 4},   {10027, 128}, {10028, 16},  {10029, 16},
      {10030, 12},  {10031, 12},  {10032, 12},  {10033, 12},  {10034, 0},   {10035, 0},
      {10036, 0},   {10037, 0},   {10038, 16},  {11000, 0},   {20000, 13},  {20001, 9},
      {20003, 700}, {20004, 1400}, {20005, 50}, {20006, 150}, {20007, 30},  {20008, 900},
      {20009, 40},  {20010, 30},  {20011, 900}, {20012, 100}, {20013, 200}, {20014, 20},
      {20015, 500}, {20016, 1},   {20017, 0},   {20018, 0},   {20019, 0},   {20020, 1},
      {20021, 535}, {20022, 1360}, {110, 1},    {210, 2},     {220, 0},     {200, 47},
      {201, 120},   {300, 47},    {1000, 0},
  };
  Context c = make_context();
  const auto all = snapshot(c.get());
  EXPECT_EQ(all.size(), std::size(cases));
  for (const Case& k : cases) EXPECT_EQ(all.at(k.id), k.value) << "parameter " << k.id;
  EXPECT_EQ(c->matchData, nullptr);
  EXPECT_EQ(c->identifyInProgress, 0);
}

TEST(XWContext, EveryAdditionalParameterReadsBackItsOwnField) {
  // Distinct valid values for all ids, set first and read afterwards, so two
  // ids sharing one field would show.
  Context c = make_context();
  std::map<std::int32_t, std::int32_t> wanted;
  std::int32_t next = 41;
  for (std::int32_t id : additional_ids()) {
    std::int32_t value = next++;
    if (XWGetAdditionalParameterType(id) == 10) value = 1000 + id;  // flags keep any value
    if (id == 10002) value = 2;
    if (id == 10014) value = 42;  // below the cap (10013 = 43 just before)
    if (id == 10013) value = 43;
    if (id == 10015) value = 3;
    if (id == 10016) value = 4;
    wanted[id] = value;
  }
  // Cap before base, start before factor, so neither is refused on the way.
  for (std::int32_t id : additional_ids()) EXPECT_EQ(XWSetAdditionalParameter(id, wanted[id], c.get()), XW_OK) << id;
  for (std::int32_t id : additional_ids()) EXPECT_EQ(get(c.get(), id), wanted[id]) << id;
}

TEST(XWContext, ClampsValuesAtAndBeyondEveryBound) {
  struct Case {
    std::int32_t id;
    std::int32_t value;
    std::int32_t stored;
  };
  const Case cases[] = {
      // byte fields
      {10000, 300, 255}, {10000, 255, 255}, {10000, -1, 0}, {10006, 256, 255},
      {10007, -9, 0}, {10008, 0, 0}, {10009, 1000, 255}, {10010, 255, 255}, {10011, -300, 0},
      // 0..3 setting
      {10002, 7, 3}, {10002, 3, 3}, {10002, -1, 0}, {10002, 0, 0},
      // flags and the score pair keep any value
      {10001, -7, -7}, {10019, 99, 99}, {11000, -1, -1}, {20016, 2, 2},
      {20021, -50, -50}, {20022, -9999, -9999}, {20021, 123456, 123456},
      // other ints: negative -> 0, no upper bound
      {10026, -3, 0}, {10027, 1000000, 1000000}, {10038, -1, 0}, {20000, -13, 0},
      {20006, 99999, 99999}, {20014, -20, 0},
      // line budgets: the line table holds 5000 lines
      {20003, 5000, 5000}, {20003, 5001, 5000}, {20004, 100000, 5000}, {20004, -1, 0},
  };
  for (const Case& k : cases) {
    Context c = make_context();
    EXPECT_EQ(XWSetAdditionalParameter(k.id, k.value, c.get()), XW_OK) << k.id << " = " << k.value;
    EXPECT_EQ(get(c.get(), k.id), k.stored) << k.id << " = " << k.value;
  }

  struct SimpleCase {
    std::int32_t id;
    std::int32_t value;
    std::int32_t stored;
  };
  const SimpleCase simple[] = {
      {201, 500, 120}, {201, 121, 120}, {201, 120, 120}, {201, -1, 0}, {201, 0, 0}, {201, 37, 37},
      {200, -5, 0},    {200, 1000000, 1000000},          {300, -1, 0}, {300, 900, 900},
  };
  for (const SimpleCase& k : simple) {
    Context c = make_context();
    EXPECT_EQ(XWSetParameter(k.id, k.value, c.get()), XW_OK) << k.id << " = " << k.value;
    EXPECT_EQ(get_simple(c.get(), k.id), k.stored) << k.id << " = " << k.value;
  }
}

TEST(XWContext, RefusesSettingsTheExtractorOrMatcherCannotRun) {
  // Defaults: cap 30, base 20, start 0, factor 4, filter radius 12.
  struct Case {
    std::int32_t id;
    std::int32_t value;
    std::int32_t result;
  };
  const Case cases[] = {
      {10013, 20, -5}, {10013, 5, -5},  {10013, -1, -5}, {10013, 21, 0}, {10013, 999, 0},
      {10014, 30, -5}, {10014, 300, -5}, {10014, 29, 0},
      {10015, 4, -5},  {10015, 3, 0},   {10016, 8, -5},  {10016, 7, 0},  {10016, -4, 0},
      {10031, 4, -5},  {10031, 0, -5},  {10031, -8, -5}, {10031, 5, 0},
      {10015, 2147483647, -5},
      // the matcher divides by these
      {20008, 0, -5},  {20008, -3, -5}, {20008, 1, 0},  {20011, 0, -5}, {20011, 1, 0},
  };
  for (const Case& k : cases) {
    Context c = make_context();
    const auto before = snapshot(c.get());
    EXPECT_EQ(XWSetAdditionalParameter(k.id, k.value, c.get()), k.result) << k.id << " = " << k.value;
    if (k.result != 0) {
      EXPECT_EQ(snapshot(c.get()), before) << k.id << " = " << k.value;
    }
  }
  // Through the general setter as well.
  Context c = make_context();
  EXPECT_EQ(XWSetParameter(10013, 10, c.get()), XW_ERR_BAD_VALUE);
  EXPECT_EQ(get(c.get(), 10013), 30);
}

TEST(XWContext, AnswersTypeQueries) {
  struct Case {
    std::int32_t asked;
    std::int32_t type;
  };
  const Case cases[] = {
      {10021, 10}, {10001, 10}, {10018, 10}, {10019, 10}, {10022, 10}, {10024, 10}, {10025, 10},
      {10034, 10}, {10035, 10}, {10036, 10}, {10037, 10}, {11000, 10}, {20016, 10}, {20017, 10},
      {20018, 10}, {20019, 10}, {20020, 10}, {10000, 6},  {10002, 6},  {10038, 6},  {20003, 6},
      {20021, 6},  {20022, 6},  {20002, -5}, {10039, -5}, {11001, -5}, {20023, -5}, {10, 100},
      {13, 100},   {11, 5},     {12, 5},     {110, 6},    {200, 6},    {201, 6},    {210, 6},
      {220, 6},    {300, 6},    {1000, 6},   {1, -5},     {14, -5},    {9999, -5},  {-3, -5},
  };
  Context c = make_context();
  for (const Case& k : cases) {
    void* carried = reinterpret_cast<void*>(static_cast<std::intptr_t>(k.asked));
    EXPECT_EQ(XWGetParameter(0, carried, c.get()), k.type) << "type of " << k.asked;
  }
  EXPECT_EQ(XWGetParameter(0, nullptr, c.get()), XW_ERR_NULL_ARGUMENT);  // asking for id 0 itself
}

TEST(XWContext, ReturnsTheNameNoticeAndVersion) {
  Context c = make_context();
  char name[64];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(XWGetParameter(10, name, c.get()), 11);
  EXPECT_EQ(std::strlen(name), 11u);
  char notice[128];
  std::memset(notice, 'x', sizeof notice);
  EXPECT_EQ(XWGetParameter(13, notice, c.get()), 62);
  EXPECT_EQ(std::strlen(notice), 62u);
  EXPECT_EQ(notice[63], 'x');  // 63 bytes written, no more
  for (std::int32_t id : {11, 12}) EXPECT_EQ(get_simple(c.get(), id), 0x10000);
}

TEST(XWContext, NullOutArgumentsGiveLengthsOrMinusFour) {
  Context c = make_context();
  EXPECT_EQ(XWGetParameter(10, nullptr, c.get()), 11);
  EXPECT_EQ(XWGetParameter(13, nullptr, c.get()), 62);
  for (std::int32_t id : {11, 12, 110, 200, 201, 210, 220, 300, 1000, 10000, 20021, 5})
    EXPECT_EQ(XWGetParameter(id, nullptr, c.get()), XW_ERR_NULL_ARGUMENT) << id;
  EXPECT_EQ(XWGetAdditionalParameter(10000, nullptr, c.get()), XW_ERR_NULL_ARGUMENT);
}

TEST(XWContext, RejectsUnknownAndReadOnlyParameters) {
  Context c = make_context();
  const auto before = snapshot(c.get());
  std::int32_t out = 0;
  for (std::int32_t id : {1, 9, 14, 111, 202, 1001, 9999, -1}) {
    EXPECT_EQ(XWGetParameter(id, &out, c.get()), XW_ERR_UNKNOWN_PARAMETER) << id;
    EXPECT_EQ(XWSetParameter(id, 1, c.get()), XW_ERR_UNKNOWN_PARAMETER) << id;
  }
  for (std::int32_t id : {20002, 10039, 10999, 11001, 19999, 20023, 30000}) {
    EXPECT_EQ(XWGetAdditionalParameter(id, &out, c.get()), XW_ERR_UNKNOWN_PARAMETER) << id;
    EXPECT_EQ(XWGetParameter(id, &out, c.get()), XW_ERR_UNKNOWN_PARAMETER) << id;
    EXPECT_EQ(XWSetAdditionalParameter(id, 1, c.get()), XW_ERR_UNKNOWN_PARAMETER) << id;
    EXPECT_EQ(XWSetParameter(id, 1, c.get()), XW_ERR_UNKNOWN_PARAMETER) << id;
  }
  for (std::int32_t id : {0, 10, 11, 12, 13}) EXPECT_EQ(XWSetParameter(id, 1, c.get()), XW_ERR_READ_ONLY) << id;
  EXPECT_EQ(snapshot(c.get()), before);
}

TEST(XWContext, RefusesSettingsWhileIdentificationRuns) {
  Context c = make_context();
  c->identifyInProgress = 1;
  EXPECT_EQ(XWSetParameter(200, 10, c.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(XWSetParameter(10000, 10, c.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(XWSetAdditionalParameter(10000, 10, c.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(get_simple(c.get(), 200), 47);  // reading still works
  EXPECT_EQ(get(c.get(), 10000), 120);
}

TEST(XWContext, FeatureChoicesSetTheirFlags) {
  struct Case {
    std::int32_t choice;
    std::int32_t block_directions;  // 10025
    std::int32_t curvature;         // 10021
  };
  for (const Case& k : {Case{0, 1, 1}, Case{1, 0, 1}, Case{2, 0, 0}}) {
    Context c = make_context();
    EXPECT_EQ(XWSetParameter(110, k.choice, c.get()), XW_OK);
    EXPECT_EQ(get_simple(c.get(), 110), k.choice);
    EXPECT_EQ(get(c.get(), 10025), k.block_directions);
    EXPECT_EQ(get(c.get(), 10021), k.curvature);
  }
  struct MatchCase {
    std::int32_t choice;
    std::int32_t block_grid;  // 20018
    std::int32_t curvature;   // 20017
    std::int32_t scale;
    std::int32_t offset;
  };
  for (const MatchCase& k : {MatchCase{0, 1, 1, 929, 2898}, MatchCase{1, 0, 1, 880, 1362},
                             MatchCase{2, 0, 0, 535, 1360}}) {
    Context c = make_context();
    EXPECT_EQ(XWSetParameter(210, k.choice, c.get()), XW_OK);
    EXPECT_EQ(get_simple(c.get(), 210), k.choice);
    EXPECT_EQ(get(c.get(), 20018), k.block_grid);
    EXPECT_EQ(get(c.get(), 20017), k.curvature);
    EXPECT_EQ(get(c.get(), 20021), k.scale);
    EXPECT_EQ(get(c.get(), 20022), k.offset);
  }
  Context c = make_context();
  const auto before = snapshot(c.get());
  for (std::int32_t bad : {-1, 3, 256}) {
    EXPECT_EQ(SetExtractFeatures(bad, c.get()), XW_ERR_BAD_VALUE);
    EXPECT_EQ(SetMatchFeatures(bad, c.get()), XW_ERR_BAD_VALUE);
  }
  EXPECT_EQ(snapshot(c.get()), before);
}

TEST(XWContext, MatchingSpeedSetsBudgetsWindowAndNormalisation) {
  Context c = make_context();
  XWSetAdditionalParameter(20014, 1, c.get());
  XWSetAdditionalParameter(20015, 2, c.get());
  EXPECT_EQ(XWSetParameter(220, 256, c.get()), XW_OK);
  EXPECT_EQ(get_simple(c.get(), 220), 256);
  EXPECT_EQ(get(c.get(), 20003), 150);
  EXPECT_EQ(get(c.get(), 20004), 300);
  EXPECT_EQ(get(c.get(), 20014), 20);
  EXPECT_EQ(get(c.get(), 20015), 500);
  EXPECT_EQ(get(c.get(), 20021), 461);
  EXPECT_EQ(get(c.get(), 20022), 32);

  const auto before = snapshot(c.get());
  for (std::int32_t bad : {1, 128, -256, 512}) EXPECT_EQ(SetMatchingSpeed(bad, c.get()), XW_ERR_BAD_VALUE);
  EXPECT_EQ(snapshot(c.get()), before);

  EXPECT_EQ(SetMatchingSpeed(0, c.get()), XW_OK);
  EXPECT_EQ(get(c.get(), 20003), 700);
  EXPECT_EQ(get(c.get(), 20004), 1400);
  EXPECT_EQ(get(c.get(), 20021), 535);
  EXPECT_EQ(get(c.get(), 20022), 1360);
}

// Values of the preset of each mode, transcribed per mode. "Kept" fields keep
// what the context held before.
constexpr std::int32_t KEPT = -999999;

struct PresetCase {
  std::int32_t mode;
  // 10000 10001 10002 10006 10007 10008 10010 10018 10026 10027
  // 10030 10031 10032 10033 10034 10035 10036 10037
  // 20000 20001 20005 20006 20007 20008 20009 20012 20013 20019
  std::int32_t values[28];
};

constexpr std::int32_t kPresetIds[28] = {10000, 10001, 10002, 10006, 10007, 10008, 10010,
                                         10018, 10026, 10027, 10030, 10031, 10032, 10033,
                                         10034, 10035, 10036, 10037, 20000, 20001, 20005,
                                         20006, 20007, 20008, 20009, 20012, 20013, 20019};

constexpr PresetCase kPresets[] = {
    {0, {120, 1, 3, 130, 115, 19, 196, 1, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
         13, 9, 50, 150, 30, 900, 40, 100, 200, 0}},
    {100, {120, 1, 3, 130, 115, 19, 196, 1, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
           13, 9, 50, 150, 30, 900, 40, 100, 200, 0}},
    {200, {120, KEPT, KEPT, 145, 115, 19, 185, 1, 6, 128, 24, 12, 12, 20, 1, 1, 0, 0,
           12, 9, 20, 150, 30, 900, 40, 100, 200, 0}},
    {300, {110, 1, 3, 102, 92, 19, 196, 1, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
           14, 10, 10, 300, 30, 900, 40, 50, 100, 0}},
    {400, {120, KEPT, KEPT, 145, 110, 19, 196, 1, 4, 128, 12, 12, 12, 12, 1, 1, 0, 0,
           12, 9, 20, 150, 30, 900, 40, 100, 200, 0}},
    {500, {120, 1, 3, 130, 115, 19, 180, 1, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
           12, 9, 20, 200, 30, 900, 40, 100, 200, 0}},
    {600, {90, 1, 3, 147, 125, 17, 196, 0, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
           13, 9, 35, 300, 34, 1156, 45, 100, 200, 0}},
    {700, {120, 1, 3, 147, 126, 19, 185, 1, 16, 16, 12, 12, 12, 12, 0, 0, 0, 0,
           13, 9, 25, 220, 34, 1156, 45, 300, 600, 1}},
    {800, {120, 1, 3, 130, 115, 19, 196, 1, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
           13, 9, 50, 150, 30, 900, 40, 100, 200, 0}},
    {810, {120, 1, 3, 130, 115, 19, 196, 1, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
           13, 9, 50, 150, 30, 900, 40, 100, 200, 0}},
    {900, {120, 1, 3, 130, 115, 19, 130, 1, 4, 128, 20, 20, 20, 12, 0, 0, 0, 1,
           16, 9, 20, 150, 30, 900, 40, 130, 260, 0}},
    {1000, {120, 1, 3, 130, 115, 19, 196, 1, 4, 128, 16, 16, 12, 16, 0, 0, 0, 0,
            14, 9, 20, 150, 30, 900, 40, 70, 140, 0}},
    {1100, {120, 1, 3, 130, 115, 19, 196, 1, 4, 128, 12, 12, 12, 12, 0, 0, 1, 0,
            13, 9, 20, 150, 30, 900, 40, 100, 200, 0}},
    {1200, {120, 1, 3, 130, 115, 19, 196, 1, 4, 128, 12, 12, 12, 12, 0, 0, 0, 0,
            13, 9, 50, 150, 30, 900, 40, 100, 200, 0}},
};

// Set by every preset alike.
constexpr std::int32_t kCommon[][2] = {
    {10003, 3},  {10004, 5},  {10005, 7},    {10009, 17},  {10011, 207}, {10012, 2},
    {10013, 30}, {10014, 20}, {10015, 0},    {10016, 4},   {10017, 12},  {10019, 1},
    {10020, 1024}, {10022, 1}, {10023, 64},  {10024, 0},   {10028, 16},  {10029, 16},
    {10038, 16}, {20010, 30}, {20011, 900},  {20016, 1},   {20020, 1},
};

// Perturbs every parameter so that a preset that forgets a field shows.
void perturb(XWContext* c) {
  XWSetAdditionalParameter(10013, 200, c);  // cap first: the base must stay below it
  XWSetAdditionalParameter(10015, 1, c);
  for (std::int32_t id : additional_ids()) {
    std::int32_t value = 77;
    if (id == 10002) value = 2;
    if (id == 10013) value = 200;
    if (id == 10014) value = 100;
    if (id == 10015 || id == 10016) value = 2;
    ASSERT_EQ(XWSetAdditionalParameter(id, value, c), XW_OK) << id;
  }
  XWSetParameter(200, 77, c);
  XWSetParameter(201, 77, c);
  XWSetParameter(300, 77, c);
}

TEST(XWContext, EveryModeAppliesItsPreset) {
  for (const PresetCase& p : kPresets) {
    SCOPED_TRACE(testing::Message() << "mode " << p.mode);
    Context c = make_context();
    ASSERT_EQ(SetMatchingSpeed(256, c.get()), XW_OK);
    ASSERT_EQ(SetMatchFeatures(1, c.get()), XW_OK);
    ASSERT_EQ(SetExtractFeatures(0, c.get()), XW_OK);
    perturb(c.get());
    const auto before = snapshot(c.get());
    ASSERT_EQ(SetMode(p.mode, c.get()), XW_OK);
    auto expected = before;
    for (int i = 0; i < 28; ++i)
      if (p.values[i] != KEPT) expected[kPresetIds[i]] = p.values[i];
    for (const auto& [id, value] : kCommon) expected[id] = value;
    if (p.mode == 600) {
      expected[20003] = 650;
      expected[20004] = 1300;
    }
    expected[1000] = p.mode;
    expected[20021] = get(c.get(), 20021);  // normalisation: its own test below
    expected[20022] = get(c.get(), 20022);
    const auto after = snapshot(c.get());
    for (const auto& [id, value] : expected) EXPECT_EQ(after.at(id), value) << "parameter " << id;
  }
}

TEST(XWContext, UnknownModeChangesNothing) {
  Context c = make_context();
  ASSERT_EQ(SetMode(300, c.get()), XW_OK);
  const auto before = snapshot(c.get());
  for (std::int32_t mode : {250, -100, 1, 99, 101, 805, 1300, 10000}) {
    EXPECT_EQ(SetMode(mode, c.get()), XW_ERR_BAD_VALUE) << mode;
    EXPECT_EQ(XWSetParameter(1000, mode, c.get()), XW_ERR_BAD_VALUE) << mode;
  }
  EXPECT_EQ(snapshot(c.get()), before);
}

TEST(XWContext, Mode800EqualsModeZeroButForItsNumber) {
  Context zero = make_context();
  Context other = make_context();
  ASSERT_EQ(SetMode(300, zero.get()), XW_OK);
  ASSERT_EQ(SetMode(300, other.get()), XW_OK);
  ASSERT_EQ(SetMode(0, zero.get()), XW_OK);
  ASSERT_EQ(SetMode(800, other.get()), XW_OK);
  auto a = snapshot(zero.get());
  auto b = snapshot(other.get());
  EXPECT_EQ(b[1000], 800);
  b[1000] = 0;
  EXPECT_EQ(a, b);
}

TEST(XWContext, NormalisationFollowsModeSpeedAndMatchFeatures) {
  struct Row {
    std::int32_t mode;
    std::int32_t pairs[6][2];  // speed 0: mf 0, 1, 2; speed 256: mf 0, 1, 2
  };
  const Row rows[] = {
      {0, {{929, 2898}, {880, 1362}, {535, 1360}, {788, 2361}, {764, -57}, {461, 32}}},
      {800, {{929, 2898}, {880, 1362}, {535, 1360}, {788, 2361}, {764, -57}, {461, 32}}},
      {810, {{929, 2898}, {880, 1362}, {535, 1360}, {788, 2361}, {764, -57}, {461, 32}}},
      {1200, {{929, 2898}, {880, 1362}, {535, 1360}, {788, 2361}, {764, -57}, {461, 32}}},
      {100, {{1015, 3821}, {971, 2197}, {578, 1792}, {1000, 0}, {955, -3075}, {573, -3092}}},
      {200, {{2200, -6318}, {2006, -8725}, {1153, -5571}, {1492, -5578}, {1249, -7476}, {750, -4592}}},
      {300, {{2391, -1822}, {2394, -6096}, {1317, -3111}, {2069, -6435}, {1714, -7682}, {903, -2123}}},
      {400, {{1640, -793}, {1428, -1627}, {876, -1178}, {1122, -744}, {978, -3189}, {636, -2218}}},
      {500, {{1470, 572}, {1332, -315}, {857, -890}, {1153, 262}, {1045, -1938}, {686, -2762}}},
      {600, {{1475, 894}, {1365, -1052}, {903, -1894}, {1151, -2015}, {1027, -4866}, {694, -5109}}},
      {700, {{739, 894}, {629, -714}, {419, -1819}, {977, -2462}, {782, -4637}, {569, -5802}}},
      {900, {{578, 4669}, {553, 2698}, {406, -1609}, {642, -750}, {585, -4490}, {391, -5905}}},
      {1000, {{1911, -3207}, {1766, -5212}, {1047, -4266}, {1541, -3387}, {1384, -6392}, {826, -4858}}},
      {1100, {{1514, -528}, {1378, -2507}, {783, -1512}, {1095, -729}, {933, -3172}, {644, -5583}}},
  };
  for (const Row& row : rows) {
    for (int column = 0; column < 6; ++column) {
      const std::int32_t speed = column < 3 ? 0 : 256;
      const std::int32_t mf = column % 3;
      SCOPED_TRACE(testing::Message() << "mode " << row.mode << " speed " << speed << " mf " << mf);
      // Reach the combination in different orders: each setter re-selects.
      Context a = make_context();
      ASSERT_EQ(SetMode(row.mode, a.get()), XW_OK);
      ASSERT_EQ(SetMatchingSpeed(speed, a.get()), XW_OK);
      ASSERT_EQ(SetMatchFeatures(mf, a.get()), XW_OK);
      Context b = make_context();
      ASSERT_EQ(SetMatchFeatures(mf, b.get()), XW_OK);
      ASSERT_EQ(SetMatchingSpeed(speed, b.get()), XW_OK);
      ASSERT_EQ(SetMode(row.mode, b.get()), XW_OK);
      for (XWContext* c : {a.get(), b.get()}) {
        EXPECT_EQ(get(c, 20021), row.pairs[column][0]);
        EXPECT_EQ(get(c, 20022), row.pairs[column][1]);
      }
    }
  }
}

TEST(XWContext, NormalisationOutsideTheTableChangesNothing) {
  Context c = make_context();
  c->mode = 250;  // only reachable by writing the record directly
  EXPECT_EQ(SetThresholdNormalization(c.get()), XW_ERR_BAD_VALUE);
  EXPECT_EQ(get(c.get(), 20021), 535);
  EXPECT_EQ(get(c.get(), 20022), 1360);
}

TEST(XWDefaultContext, CountsInitialisationsAndFreesOnTheLast) {
  std::int32_t out = 0;
  EXPECT_EQ(XWFinalize(), XW_ERR_NO_CONTEXT);  // finalise without initialise
  EXPECT_EQ(XWGetParameter(200, &out, nullptr), XW_ERR_NO_CONTEXT);
  EXPECT_EQ(XWSetParameter(200, 1, nullptr), XW_ERR_NO_CONTEXT);
  EXPECT_EQ(XWGetAdditionalParameter(10000, &out, nullptr), XW_ERR_NO_CONTEXT);
  EXPECT_EQ(SetMode(0, nullptr), XW_ERR_NO_CONTEXT);

  EXPECT_EQ(XWInitialize(), 0);
  EXPECT_EQ(XWInitialize(), 1);
  EXPECT_EQ(XWInitialize(), 2);
  EXPECT_EQ(XWSetParameter(200, 60, nullptr), XW_OK);
  EXPECT_EQ(XWGetParameter(200, &out, nullptr), XW_OK);
  EXPECT_EQ(out, 60);
  EXPECT_EQ(XWFinalize(), 2);
  EXPECT_EQ(XWFinalize(), 0);  // one remains, reported as 0
  EXPECT_EQ(XWGetParameter(200, &out, nullptr), XW_OK);
  EXPECT_EQ(out, 60);  // the same default context all along
  EXPECT_EQ(XWFinalize(), 0);
  EXPECT_EQ(XWGetParameter(200, &out, nullptr), XW_ERR_NO_CONTEXT);  // freed
  EXPECT_EQ(XWFinalize(), XW_ERR_NO_CONTEXT);

  EXPECT_EQ(XWInitialize(), 0);  // a fresh default context
  EXPECT_EQ(XWGetParameter(200, &out, nullptr), XW_OK);
  EXPECT_EQ(out, 47);
  EXPECT_EQ(XWFinalize(), 0);
}

TEST(XWContext, FreeingNullIsRefusedAndTheTwinsBehaveAlike) {
  EXPECT_EQ(XWFreeContext(nullptr), XW_ERR_NULL_ARGUMENT);
  EXPECT_EQ(XWFFreeContext(nullptr), XW_ERR_NULL_ARGUMENT);
  XWContext* c = XWFCreateContext();
  ASSERT_NE(c, nullptr);
  Context reference = make_context();
  EXPECT_EQ(snapshot(c), snapshot(reference.get()));
  EXPECT_EQ(XWFFreeContext(c), XW_OK);
  EXPECT_EQ(SetExtractFeaturesMode(5), XW_OK);
}

}  // namespace

namespace {

TEST(ScoreNormalisation, ScalesAndOffsetsTheRawValue) {
  Context c = make_context();
  // 350 test lines, raw 100: v = 200 x 100 / 350 = 57, score 32.
  EXPECT_EQ(zyl::api::normalise_score(*c, 200 * 100 / 350), 32);
  EXPECT_EQ(zyl::api::normalise_score(*c, 0), 1);  // (1360 + 500) / 1000
  ASSERT_EQ(SetMode(200, c.get()), XW_OK);               // 1153, -5571
  EXPECT_EQ(zyl::api::normalise_score(*c, 1), -3);   // (1153 - 5571 + 500) / 1000 truncates
}

}  // namespace

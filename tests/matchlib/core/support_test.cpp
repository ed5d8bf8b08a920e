// Support layer: Shell sort, index lists, timestamps, the operation-table
// holder and the fixed-answer routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_support.h"

namespace {

using I32 = std::vector<int32_t>;

TEST(Sorting, SortsIntsBothWays) {
  I32 a = {3, 1, 2};
  ASSERT_EQ(sort_i32(a.data(), 3, 1), ML_OK);
  EXPECT_EQ(a, (I32{1, 2, 3}));
  ASSERT_EQ(sort_i32(a.data(), 3, 0), ML_OK);
  EXPECT_EQ(a, (I32{3, 2, 1}));
  EXPECT_EQ(sort_i32(nullptr, 3, 1), ML_BAD_ARGUMENT);

  std::mt19937 rng(2);
  for (int n : {0, 1, 2, 3, 7, 22, 100, 5000}) {
    I32 v(n + 1);  // one sentinel past the end stays in place
    for (auto& x : v) x = static_cast<int32_t>(rng() % 50) - 25;  // many equal keys
    I32 want = v;
    std::sort(want.begin(), want.end() - 1);
    ASSERT_EQ(sort_i32(v.data(), n, 1), ML_OK);
    ASSERT_EQ(v, want) << n;
  }
}

struct Rec {
  int32_t key;
  int32_t payload;
};
int g_compares = 0;
int by_key(const void* a, const void* b) {
  ++g_compares;
  return compare_i32_asc(a, b);
}

TEST(Sorting, ShellSortMovesWholeRecordsAndSkipsShortInputs) {
  std::vector<Rec> recs;
  for (int i = 0; i < 300; ++i) recs.push_back({(i * 37) % 101, i});
  shell_sort(recs.data(), 300, sizeof(Rec), by_key);
  for (size_t i = 1; i < recs.size(); ++i) ASSERT_LE(recs[i - 1].key, recs[i].key);
  for (const Rec& r : recs) ASSERT_EQ(r.key, (r.payload * 37) % 101);  // records stay whole

  g_compares = 0;
  shell_sort(recs.data(), 1, sizeof(Rec), by_key);
  shell_sort(recs.data(), 0, sizeof(Rec), by_key);
  EXPECT_EQ(g_compares, 0);
  EXPECT_EQ(compare_i32_desc(&recs[0].key, &recs[0].key), 0);
}

TEST(IndexList, ExpandsCountsFromTheLastIndexDown) {
  const I32 counts = {2, 0, 1};
  int64_t* list = nullptr;
  int total = -1;
  ASSERT_EQ(index_list_from_counts(counts.data(), 3, &list, &total), ML_OK);
  ASSERT_EQ(total, 3);
  EXPECT_EQ(std::vector<int64_t>(list, list + 3), (std::vector<int64_t>{2, 0, 0}));
  std::free(list);
}

TEST(IndexList, RefusesEmptyAndBadInput) {
  struct Case {
    const char* name;
    I32 counts;
    int expected, total;
  };
  const Case cases[] = {
      {"all zero", {0, 0, 0}, ML_TOO_SHORT, 0},
      {"no counts", {}, ML_TOO_SHORT, 0},
      // A negative count adds nothing, so it cannot shrink the list either.
      {"negative count", {3, -2}, ML_OK, 3},
  };
  for (const Case& c : cases) {
    int64_t* list = reinterpret_cast<int64_t*>(1);
    int total = -1;
    const I32 counts = c.counts.empty() ? I32{5} : c.counts;
    const int n = static_cast<int>(c.counts.size());
    EXPECT_EQ(index_list_from_counts(counts.data(), n, &list, &total), c.expected) << c.name;
    EXPECT_EQ(total, c.total) << c.name;
    if (c.expected == ML_OK)
      std::free(list);
    else
      EXPECT_EQ(list, nullptr) << c.name;
  }
  int64_t* list;
  int total;
  const I32 one = {1};
  EXPECT_EQ(index_list_from_counts(nullptr, 1, &list, &total), ML_BAD_ARGUMENT);
  EXPECT_EQ(index_list_from_counts(one.data(), 1, nullptr, &total), ML_BAD_ARGUMENT);
  EXPECT_EQ(index_list_from_counts(one.data(), 1, &list, nullptr), ML_BAD_ARGUMENT);
}

TEST(Timestamps, DifferencesRoundAsStated) {
  struct Case {
    Timestamp later, earlier;
    int ms;
    int64_t s;
    int later_flag;
  };
  const Case cases[] = {
      {{1, 999600}, {1, 0}, 1000, 1, 1},
      {{2, 0}, {1, 999999}, 0, 0, 1},  // 1 us across a second
      {{2, 400}, {1, 999999}, 0, 0, 1},
      {{2, 499}, {1, 999999}, 1, 0, 1},  // 500 us: half a millisecond rounds up
      {{1, 999999}, {2, 499}, -1, 0, 0},  // and symmetrically down
      {{3, 499499}, {2, 0}, 1499, 1, 1},
      {{3, 500000}, {2, 0}, 1500, 2, 1},
      {{1, 968000}, {2, 0}, -32, 0, 0},
      {{3000000, 0}, {0, 0}, INT_MAX, 3000000, 1},  // beyond 32 bits of milliseconds
      {{0, 0}, {3000000, 0}, INT_MIN, -3000000, 0},
      {{5, 400}, {5, 0}, 0, 0, 1},
      {{5, 0}, {5, 0}, 0, 0, 0},
      {{4, 0}, {5, 0}, -1000, -1, 0},
      {{10, 499999}, {0, 0}, 10500, 10, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(time_diff_ms(&c.later, &c.earlier), c.ms);
    EXPECT_EQ(time_diff_s(&c.later, &c.earlier), c.s);
    EXPECT_EQ(time_later(&c.later, &c.earlier), c.later_flag);
  }
  Timestamp now, zero;
  time_now(&now);
  time_zero(&zero);
  EXPECT_EQ(zero.seconds, 0);
  EXPECT_EQ(zero.microseconds, 0);
  EXPECT_GT(now.seconds, 1600000000);
  EXPECT_GE(time_elapsed_ms(&now), 0);
  EXPECT_LT(time_elapsed_s(&now), 5);
  EXPECT_EQ(time_elapsed_exceeds(&now, 60000), 0);
  EXPECT_EQ(time_elapsed_exceeds(&zero, 1000), 1);
}

struct OpLog {
  std::vector<int> slots;
  uint16_t narrowed = 0;
  int destroyed_user = 0;
};

int op0(CallbackObject* o, void*, void*, void*, uint16_t v) {
  auto* log = static_cast<OpLog*>(cbobj_user_data(o));
  log->slots.push_back(0);
  log->narrowed = v;
  return 0;
}
int op3(CallbackObject* o, uint32_t* a, uint32_t* b, uint32_t* c) {
  static_cast<OpLog*>(cbobj_user_data(o))->slots.push_back(3);
  return int(*a + *b + *c);  // all cleared before the call
}
int op4(CallbackObject*, void*, void*, int, uint64_t* a, uint16_t* b, uint64_t*, uint64_t* d) {
  return int(a[0] + a[2] + b[2] + d[2]);
}
void destroy_user(void* user) { ++static_cast<OpLog*>(user)->destroyed_user; }

TEST(CallbackObject, DispatchesSlotsAndDestroysUserDataAtTheLastRelease) {
  static const CallbackOps ops = {op0, nullptr, nullptr, op3, op4, nullptr, nullptr};
  OpLog log;
  int handle = 0;
  CallbackObject* o = cbobj_create(&handle, 7, &ops, &log, destroy_user);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(cbobj_handle(o), &handle);
  EXPECT_EQ(cbobj_kind(o), 7);

  EXPECT_EQ(cbobj_op0(o, nullptr, nullptr, nullptr, 0x12345), ML_OK);
  EXPECT_EQ(log.narrowed, 0x2345);
  uint32_t w[3] = {5, 6, 7};
  EXPECT_EQ(cbobj_op3(o, &w[0], &w[1], &w[2]), ML_OK);
  uint64_t a[3] = {1, 1, 1}, c[3] = {9, 9, 9}, d[3] = {1, 1, 1};
  uint16_t b[3] = {1, 1, 1};
  EXPECT_EQ(cbobj_op4(o, nullptr, nullptr, 0x103, a, b, c, d), ML_OK);  // low byte 3
  EXPECT_EQ(c[2], 0u);
  EXPECT_EQ(cbobj_op1(o, nullptr, 1), ML_OUT_OF_LIMITS);
  EXPECT_EQ(cbobj_op6(nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(log.slots, (std::vector<int>{0, 3}));

  EXPECT_EQ(cbobj_retain(o), o);
  cbobj_release(o);
  EXPECT_EQ(log.destroyed_user, 0);
  cbobj_release_alt(o);
  EXPECT_EQ(log.destroyed_user, 1);
  cbobj_release(nullptr);
  EXPECT_EQ(cbobj_retain(nullptr), nullptr);
}

int answer_user(void* user) { return *static_cast<int*>(user); }

TEST(SupportStubs, FixedAnswers) {
  struct Pair {
    void* (*create)();
    void (*release)(void*);
  };
  for (const Pair& s : {Pair{stub1_create, stub1_free}, Pair{stub2_create, stub2_free},
                        Pair{stub3_create, stub3_free}}) {
    void* p = s.create();
    EXPECT_NE(p, nullptr);
    s.release(p);
    s.release(nullptr);
  }
  int v = 42;
  EXPECT_EQ(stub1_run(nullptr, answer_user, &v), 42);
  stub1_noop();
  EXPECT_EQ(stub1_one(), 1);
  EXPECT_EQ(stub_one(), 1);
  EXPECT_EQ(stub2_op(), 0);
  EXPECT_EQ(stub3_op(), 0);

  uint64_t marker = 0;
  EXPECT_EQ(stub_open_handle(&v, &v, &v, &v, &v, &marker), ML_OK);
  EXPECT_EQ(marker, 0xFECAADDEFECAADDEull);
  EXPECT_EQ(stub_open_handle(&v, &v, nullptr, &v, &v, &marker), ML_UNAVAILABLE);

  void* block = nullptr;
  uint32_t size = 0;
  marker = 0;
  EXPECT_EQ(stub_alloc_handle(&v, &v, nullptr, &v, &block, &size, &marker), ML_OK);
  EXPECT_EQ(size, 16u);
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(marker, 0xFECAADDEFECAADDEull);
  std::free(block);
  EXPECT_EQ(stub_alloc_handle(&v, nullptr, nullptr, &v, &block, &size, nullptr), ML_UNAVAILABLE);
}

}  // namespace

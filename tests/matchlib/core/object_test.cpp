// Object conventions: the scratch-allocation check and the intrusive Ref.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_object.h"

namespace {

// Each present pointer is a real block, so the sanitizer build reports a
// block that alloc_check leaks or that it frees although the caller keeps it.
TEST(AllocCheck, FreesEveryPresentPointerWhenOneOfTheFirstNIsMissing) {
  struct Case {
    const char* name;
    bool present[7];
    uint8_t n;
    int expected;
  };
  const Case cases[] = {
      {"n=3, p3 missing, p5 beyond n", {1, 1, 0, 0, 1, 0, 0}, 3, ML_NO_MEMORY},
      {"n=2 all present, rest anything", {1, 1, 0, 1, 0, 0, 1}, 2, ML_OK},
      {"n=0 always passes", {0, 0, 0, 0, 0, 0, 0}, 0, ML_OK},
      {"n above 7 counts as 7", {1, 1, 1, 1, 1, 1, 1}, 200, ML_OK},
      {"n above 7, p7 missing", {1, 1, 1, 1, 1, 1, 0}, 9, ML_NO_MEMORY},
      {"first missing", {0, 1, 1, 1, 1, 1, 1}, 1, ML_NO_MEMORY},
  };
  for (const Case& c : cases) {
    void* p[7];
    for (int i = 0; i < 7; ++i) p[i] = c.present[i] ? std::malloc(8) : nullptr;
    const int status = alloc_check(p[0], p[1], p[2], p[3], p[4], p[5], p[6], c.n);
    EXPECT_EQ(status, c.expected) << c.name;
    // On success nothing was freed and the caller still owns every block;
    // on failure everything was freed (ASan reports a double free otherwise).
    if (status == ML_OK)
      for (void* q : p) std::free(q);
  }
}

struct Counted {
  uint32_t refcount = 1;
  int* destroyed;
};

}  // namespace

namespace zyl::matchlib {
template <>
struct RefTraits<Counted> {
  static void retain(Counted* c) { ++c->refcount; }
  static void release(Counted* c) {
    if (--c->refcount == 0) {
      ++*c->destroyed;
      delete c;
    }
  }
};
}  // namespace zyl::matchlib

namespace {

using zyl::matchlib::Ref;

TEST(Ref, AdoptShareCopyMoveAndReleaseKeepTheCountExact) {
  int destroyed = 0;
  auto* raw = new Counted{1, &destroyed};
  {
    Ref<Counted> a = Ref<Counted>::adopt(raw);
    EXPECT_EQ(raw->refcount, 1u);
    Ref<Counted> b = a;
    EXPECT_EQ(raw->refcount, 2u);
    Ref<Counted> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(raw->refcount, 2u);
    Ref<Counted> d = Ref<Counted>::share(raw);
    EXPECT_EQ(raw->refcount, 3u);
    Counted* handed = d.release();
    EXPECT_EQ(handed, raw);
    EXPECT_EQ(raw->refcount, 3u);
    zyl::matchlib::RefTraits<Counted>::release(handed);
    c = Ref<Counted>();
    EXPECT_EQ(raw->refcount, 1u);
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(Ref<Counted>::share(nullptr));
}

}  // namespace

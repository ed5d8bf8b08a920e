// Exported calls whose work buffers are standard containers answer their
// failure status when an allocation fails, instead of letting the exception
// reach the C caller (which would abort the process).
//
// This executable replaces the global operator new and delete (a test-only
// replacement: the library's own allocation routines are untouched) so that
// the n-th allocation after arming throws std::bad_alloc.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "extract/skeleton_canvas.h"
#include "zylscan/extract_minutiae.h"
#include "zylscan/extract_thinning.h"
#include "zylscan/image_quality.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"

namespace {

// 0: disarmed; n > 0: the n-th operator new from now throws.
thread_local long g_countdown = 0;
thread_local bool g_failed = false;

void* allocate(std::size_t n) {
  if (g_countdown > 0 && --g_countdown == 0) {
    g_failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

// Runs `attempt` with the 1st, 2nd, ... operator new inside its armed
// section failing, until one run completes without reaching the armed
// allocation; answers how many allocations the call makes. `attempt` gets
// `under_failure(call)`, which runs the call armed and answers whether an
// allocation failed; the checks around it allocate freely.
template <class Attempt>
int sweep_new_failures(Attempt attempt) {
  int n = 1;
  bool failed = false;
  for (; n <= 1000; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n << " fails");
    failed = false;
    attempt([&](auto&& call) {
      g_failed = false;
      g_countdown = n;
      call();
      g_countdown = 0;
      failed = g_failed;
      return failed;
    });
    if (!failed) break;
  }
  EXPECT_LE(n, 1000) << "the call never completed";
  return n - 1;
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using zyl::test::Canvas;

std::vector<std::uint8_t> pixels_of(const Canvas& c, int width, int height) {
  std::vector<std::uint8_t> out;
  for (int y = 0; y < height; ++y) out.insert(out.end(), c.get()[y], c.get()[y] + width);
  return out;
}

// Void calls have no status to answer: a failed allocation leaves the image
// as it was (the work buffers come before any change); the run that
// completes matches an unguarded reference run.
TEST(ExceptionGuard, VoidImageCallsLeaveTheImageWholeWhenMemoryRunsOut) {
  const std::vector<std::string> rows = {
      "..........", ".########.", ".########.", ".########.", ".########.",
      ".########.", "..........",
  };
  const int width = 10, height = 7;
  struct Case {
    const char* name;
    void (*run)(ByteImage image, int width, int height);
  };
  const Case cases[] = {
      {"SkeletonizeImage", [](ByteImage i, int w, int h) { SkeletonizeImage(w, h, i, 4); }},
      {"EnhanceGoodArea", [](ByteImage i, int w, int h) { EnhanceGoodArea(w, h, i, 2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas reference(rows);
    c.run(reference.get(), width, height);
    const std::vector<std::uint8_t> expected = pixels_of(reference, width, height);
    const int allocations = sweep_new_failures([&](auto under_failure) {
      Canvas image(rows);
      const std::vector<std::uint8_t> before = pixels_of(image, width, height);
      const bool failed = under_failure([&] { c.run(image.get(), width, height); });
      const std::vector<std::uint8_t> after = pixels_of(image, width, height);
      if (failed)
        EXPECT_EQ(after, before);
      else
        EXPECT_EQ(after, expected);
    });
    EXPECT_GT(allocations, 0);
  }
}

TEST(ExceptionGuard, StatusCallsAnswerTheirFailureStatusWhenMemoryRunsOut) {
  std::vector<std::uint8_t> image(64 * 64);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>((i * 37) % 251);
  std::vector<std::uint8_t> range(image.size());
  struct Case {
    const char* name;
    int failure;  // the family's out-of-memory or failure answer
    int (*run)(const std::uint8_t* image, std::uint8_t* out);
  };
  const Case cases[] = {
      {"DevAlgImgQualityAndroid", -1,
       [](const std::uint8_t* i, std::uint8_t*) { return DevAlgImgQualityAndroid(64, 64, i); }},
      {"filter_local_range_disk_u8", ML_NO_MEMORY,
       [](const std::uint8_t* i, std::uint8_t* o) {
         return filter_local_range_disk_u8(i, 64, 64, 3, o);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int expected = c.run(image.data(), range.data());
    EXPECT_NE(expected, c.failure);
    const int allocations = sweep_new_failures([&](auto under_failure) {
      int status = 0;
      const bool failed = under_failure([&] { status = c.run(image.data(), range.data()); });
      EXPECT_EQ(status, failed ? c.failure : expected);
    });
    EXPECT_GT(allocations, 0);
  }
}

}  // namespace

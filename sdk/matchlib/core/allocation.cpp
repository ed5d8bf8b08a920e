// The matcher library's allocation routines and their test hook.
#include "matchlib/core/allocation.h"

#include <atomic>
#include <cstdlib>

namespace zyl::matchlib {
namespace {

// Allocations left before the failing one; 0 when disarmed.
std::atomic<std::uint64_t> g_countdown{0};
std::atomic<bool> g_failed{false};

}  // namespace

bool allocation_should_fail() noexcept {
  std::uint64_t left = g_countdown.load(std::memory_order_relaxed);
  while (left != 0) {
    if (g_countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
      if (left != 1) return false;
      g_failed.store(true, std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}

void* ml_malloc(std::size_t bytes) noexcept {
  return allocation_should_fail() ? nullptr : std::malloc(bytes);
}

void* ml_calloc(std::size_t count, std::size_t size) noexcept {
  return allocation_should_fail() ? nullptr : std::calloc(count, size);
}

namespace test_hook {

void fail_allocation(std::uint64_t n) noexcept {
  if (n != 0) g_failed.store(false, std::memory_order_relaxed);
  g_countdown.store(n, std::memory_order_relaxed);
}

bool allocation_failed() noexcept { return g_failed.load(std::memory_order_relaxed); }

}  // namespace test_hook
}  // namespace zyl::matchlib

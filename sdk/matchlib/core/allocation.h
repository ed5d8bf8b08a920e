// Every allocation of the matcher library goes through these routines, so a
// test can make the N-th one fail and check that each path answers its
// out-of-memory status, leaks nothing and leaves the caller's objects whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace zyl::matchlib {

// Counts one allocation; true when the armed failure falls on it.
bool allocation_should_fail() noexcept;

// malloc and calloc of the library: null when memory runs out (or the test
// hook says so). The blocks are released with std::free.
void* ml_malloc(std::size_t bytes) noexcept;
void* ml_calloc(std::size_t count, std::size_t size) noexcept;

// new (std::nothrow) T(args...) under the hook.
template <class T, class... Args>
T* ml_new(Args&&... args) noexcept(noexcept(T(static_cast<Args&&>(args)...))) {
  if (allocation_should_fail()) return nullptr;
  return new (std::nothrow) T(static_cast<Args&&>(args)...);
}

// The standard allocator under the hook, for the library's containers: a
// failed allocation throws std::bad_alloc like any other.
template <class T>
struct HookedAllocator {
  using value_type = T;
  HookedAllocator() = default;
  template <class U>
  HookedAllocator(const HookedAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (allocation_should_fail()) throw std::bad_alloc();
    return std::allocator<T>{}.allocate(n);
  }
  void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>{}.deallocate(p, n); }
  template <class U>
  bool operator==(const HookedAllocator<U>&) const noexcept {
    return true;
  }
};

template <class T>
using HookedVector = std::vector<T, HookedAllocator<T>>;

namespace test_hook {
// Makes the n-th allocation from now fail (1 = the next one); 0 disarms and
// keeps what allocation_failed() answers. Process-wide; meant for
// single-threaded tests.
void fail_allocation(std::uint64_t n) noexcept;
// True once the armed failure has happened (until the next arming).
bool allocation_failed() noexcept;
}  // namespace test_hook

}  // namespace zyl::matchlib

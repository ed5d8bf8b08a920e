// Intrusive reference for the matcher library's reference-counted records.
//
// Every shared object of the matcher library is a plain C record whose first
// field is its reference count and whose release routine destroys it at the
// last reference. Ref<T> holds one such reference inside C++ code; across the
// C boundary objects travel as raw pointers with the counting rules of their
// create/retain/release calls. Each object type supplies RefTraits<T> with
// its retain and release routines.
#pragma once

#include <utility>

namespace zyl::matchlib {

template <class T>
struct RefTraits;  // static void retain(T*); static void release(T*);

template <class T>
class Ref {
 public:
  Ref() = default;
  // Takes over a reference the caller already holds (a constructor's result).
  static Ref adopt(T* p) { return Ref(p); }
  // Adds a reference of its own.
  static Ref share(T* p) {
    if (p) RefTraits<T>::retain(p);
    return Ref(p);
  }

  Ref(const Ref& o) : p_(o.p_) {
    if (p_) RefTraits<T>::retain(p_);
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) RefTraits<T>::release(p);
  }
  // Hands the reference to the caller (an out parameter of a C call).
  [[nodiscard]] T* release() { return std::exchange(p_, nullptr); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit Ref(T* p) : p_(p) {}
  T* p_ = nullptr;
};

}  // namespace zyl::matchlib

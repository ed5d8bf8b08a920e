// Wall-clock timestamps for the image capture's frame timing.
#include <sys/time.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "zylscan/matchlib_support.h"
#include "matchlib/core/timestamp.h"

namespace {

std::int64_t difference_us(const Timestamp& later, const Timestamp& earlier) {
  return (later.seconds - earlier.seconds) * 1000000 + (later.microseconds - earlier.microseconds);
}

// The whole difference is rounded, half away from zero: rounding the
// microsecond part alone made 1 us across a second boundary read as 1 ms.
std::int64_t rounded_quotient(std::int64_t us, std::int64_t unit) {
  return us >= 0 ? (us + unit / 2) / unit : -((-us + unit / 2) / unit);
}

}  // namespace

void zyl::matchlib::time_now(Timestamp* out) {
  if (!out) return;
  timeval tv{};
  gettimeofday(&tv, nullptr);
  out->seconds = tv.tv_sec;
  out->microseconds = tv.tv_usec;
}

extern "C" ZYL_API void time_zero(Timestamp* out) {
  if (out) *out = Timestamp{0, 0};
}

int zyl::matchlib::time_diff_ms(const Timestamp* later, const Timestamp* earlier) {
  if (!later || !earlier) return 0;
  const std::int64_t ms = rounded_quotient(difference_us(*later, *earlier), 1000);
  return static_cast<int>(std::clamp<std::int64_t>(ms, INT_MIN, INT_MAX));
}

int64_t zyl::matchlib::time_diff_s(const Timestamp* later, const Timestamp* earlier) {
  if (!later || !earlier) return 0;
  return rounded_quotient(difference_us(*later, *earlier), 1000000);
}

extern "C" ZYL_API int time_later(const Timestamp* t1, const Timestamp* t0) {
  if (!t1 || !t0) return 0;
  return t1->seconds > t0->seconds ||
                 (t1->seconds == t0->seconds && t1->microseconds > t0->microseconds)
             ? 1
             : 0;
}

int zyl::matchlib::time_elapsed_ms(const Timestamp* start) {
  Timestamp now;
  zyl::matchlib::time_now(&now);
  return zyl::matchlib::time_diff_ms(&now, start);
}

extern "C" ZYL_API int64_t time_elapsed_s(const Timestamp* start) {
  Timestamp now;
  zyl::matchlib::time_now(&now);
  return zyl::matchlib::time_diff_s(&now, start);
}

extern "C" ZYL_API int time_elapsed_exceeds(const Timestamp* start, int limit_ms) {
  return zyl::matchlib::time_elapsed_ms(start) > limit_ms ? 1 : 0;
}

extern "C" {

ZYL_API void time_now(Timestamp* out) { zyl::matchlib::time_now(out); }
ZYL_API int time_diff_ms(const Timestamp* later, const Timestamp* earlier) {
  return zyl::matchlib::time_diff_ms(later, earlier);
}
ZYL_API int64_t time_diff_s(const Timestamp* later, const Timestamp* earlier) {
  return zyl::matchlib::time_diff_s(later, earlier);
}
ZYL_API int time_elapsed_ms(const Timestamp* start) {
  return zyl::matchlib::time_elapsed_ms(start);
}

}  // extern "C"

// Wall-clock timestamps for the image capture's frame timing.
#include <sys/time.h>

#include "zylscan/matchlib_support.h"

extern "C" {

ZYL_API void time_now(Timestamp* out) {
  if (!out) return;
  timeval tv{};
  gettimeofday(&tv, nullptr);
  out->seconds = tv.tv_sec;
  out->microseconds = tv.tv_usec;
}

ZYL_API void time_zero(Timestamp* out) {
  if (out) *out = Timestamp{0, 0};
}

ZYL_API int time_diff_ms(const Timestamp* later, const Timestamp* earlier) {
  if (!later || !earlier) return 0;
  return static_cast<int>((later->seconds - earlier->seconds) * 1000 +
                          (later->microseconds - earlier->microseconds + 500) / 1000);
}

ZYL_API int64_t time_diff_s(const Timestamp* later, const Timestamp* earlier) {
  if (!later || !earlier) return 0;
  return later->seconds - earlier->seconds +
         (later->microseconds - earlier->microseconds + 500000) / 1000000;
}

ZYL_API int time_later(const Timestamp* t1, const Timestamp* t0) {
  if (!t1 || !t0) return 0;
  return t1->seconds > t0->seconds ||
                 (t1->seconds == t0->seconds && t1->microseconds > t0->microseconds)
             ? 1
             : 0;
}

ZYL_API int time_elapsed_ms(const Timestamp* start) {
  Timestamp now;
  time_now(&now);
  return time_diff_ms(&now, start);
}

ZYL_API int64_t time_elapsed_s(const Timestamp* start) {
  Timestamp now;
  time_now(&now);
  return time_diff_s(&now, start);
}

ZYL_API int time_elapsed_exceeds(const Timestamp* start, int limit_ms) {
  return time_elapsed_ms(start) > limit_ms ? 1 : 0;
}

}  // extern "C"

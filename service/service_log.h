// Diagnostics of vyx-fingerprint-driver. Every line goes to syslog at debug
// priority; the identity, options and facility are set once by the adaptor's
// constructor (openServiceLog).
#pragma once

#include <cstdarg>

#include <syslog.h>

namespace vyx {

// The identity keeps its trailing blank: it is part of what the framework's
// log filters look for. openlog keeps the pointer, so it must stay alive.
inline constexpr char kLogIdentity[] = "vyx-fingerprint-driver ";

inline void openServiceLog() { openlog(kLogIdentity, LOG_CONS | LOG_PID, LOG_USER); }
inline void closeServiceLog() { closelog(); }

// One printf-style line at LOG_DEBUG.
__attribute__((format(printf, 1, 2))) inline void logDebug(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsyslog(LOG_DEBUG, format, args);
  va_end(args);
}

}  // namespace vyx

// The library-wide engine selector and a device's algorithm context.
#pragma once

#include <cstdint>

#include "zylscan/xw.h"

namespace zyl::api {

// The engine selector (the exported AlgMode) under the name the library's
// code reads.
extern std::int32_t& algorithm_mode;

// Selects the engine for every device: always 0.
std::int32_t set_algorithm_mode(std::int32_t mode);
// Creates a device's algorithm context into out: always 1. A context that
// cannot be created is stored as null.
std::int32_t create_device_context(XWContext*& out);
// Frees a device's context: the XW status (null is refused).
std::int32_t free_device_context(XWContext* context);

}  // namespace zyl::api

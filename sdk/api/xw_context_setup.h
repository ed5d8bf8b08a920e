// Creation of contexts with the default settings (the mode presets applied),
// used by the life cycle calls and by the device algorithm contexts.
#pragma once

#include "zylscan/xw.h"

namespace zyl::api {

// A context with the default settings; null when memory runs out.
XWContext* create_context();

}  // namespace zyl::api

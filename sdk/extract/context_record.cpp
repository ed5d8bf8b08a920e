// The process's default context and the choice between it and a given one.
#include "extract/context_record.h"

namespace zyl::api {

XWContext* g_default_context = nullptr;

XWContext* resolve_context(XWContext* context) { return context ? context : g_default_context; }

}  // namespace zyl::api

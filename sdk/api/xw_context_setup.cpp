// Contexts with the default settings: their creation (the mode 0 preset and
// the default feature and speed choices), the default context's
// initialisation and finalisation, and XWSetParameter, whose mode and
// feature choices apply the presets.
#include "api/xw_context_setup.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "api/xw_context.h"
#include "api/xw_modes.h"
#include "zylscan/xw.h"

namespace zyl::api {
namespace {

std::int32_t g_init_count = 0;

}  // namespace

XWContext* create_context() {
  auto* context = new (std::nothrow) XWContext{};
  if (!context) return nullptr;
  zyl::api::SetMode(0, context);
  zyl::api::SetMatchingSpeed(0, context);
  zyl::api::SetExtractFeatures(1, context);
  zyl::api::SetMatchFeatures(2, context);
  context->rawExtractionResult = 0;
  context->matchThreshold = 47;
  context->generalisationThreshold = 47;
  context->maxRotation = kMaxRotation;
  context->identifyInProgress = 0;
  return context;
}

}  // namespace zyl::api

using namespace zyl::api;

extern "C" ZYL_API XWContext* XWCreateContext(void) { return create_context(); }

extern "C" ZYL_API int32_t XWFreeContext(XWContext* context) { return free_context(context); }

extern "C" ZYL_API XWContext* XWFCreateContext(void) { return create_context(); }
extern "C" ZYL_API int32_t XWFFreeContext(XWContext* context) { return free_context(context); }

extern "C" ZYL_API int32_t XWInitialize(void) {
  if (g_init_count == 0) {
    g_default_context = create_context();
    if (!g_default_context) return XW_ERR_NO_MEMORY;
  }
  return g_init_count++;
}

extern "C" ZYL_API int32_t XWFinalize(void) {
  if (g_init_count == 0) return XW_ERR_NO_CONTEXT;
  --g_init_count;
  if (g_init_count == 0) {
    if (!g_default_context) return XW_ERR_NO_CONTEXT;
    free_context(g_default_context);
    g_default_context = nullptr;
  }
  return g_init_count == 1 ? 0 : g_init_count;
}

extern "C" ZYL_API int32_t XWSetParameter(int32_t id, int32_t value, XWContext* context) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (c->identifyInProgress) return XW_ERR_IDENTIFY_IN_PROGRESS;
  if (id >= 10000) return zyl::api::XWSetAdditionalParameter(id, value, c);
  switch (id) {
    case 0:
    case 10:
    case 11:
    case 12:
    case 13: return XW_ERR_READ_ONLY;
    case 110:
      return zyl::api::SetExtractFeatures(value, c);
    case 200: c->matchThreshold = std::max(value, 0); return XW_OK;
    case 201: c->maxRotation = std::clamp(value, 0, kMaxRotation); return XW_OK;
    case 210:
      return zyl::api::SetMatchFeatures(value, c);
    case 220:
      return zyl::api::SetMatchingSpeed(value, c);
    case 300: c->generalisationThreshold = std::max(value, 0); return XW_OK;
    case 1000:
      return zyl::api::SetMode(value, c);
    default: return XW_ERR_UNKNOWN_PARAMETER;
  }
}

// The library-wide engine selector and the algorithm context of a device.
#include <cstdint>

#include "zylscan/devalg.h"
#include "zylscan/xw.h"
#include "api/alg_mode.h"
#include "api/xw_context.h"
#include "api/xw_context_setup.h"

extern "C" {

// Until a device is opened the matcher-library engine with its small-sensor
// preset is selected.
ZYL_API int32_t AlgMode = 4;

ZYL_API int32_t setAlgMode(int32_t mode) { return zyl::api::set_algorithm_mode(mode); }

ZYL_API int32_t DevAlgCreateCtx(XWContext** out) {
  if (!out) return XW_ERR_NULL_ARGUMENT;
  return zyl::api::create_device_context(*out);
}

ZYL_API int32_t DevAlgFreeCtx(XWContext* context) { return zyl::api::free_device_context(context); }

ZYL_API int32_t DevAlg_GetVersion(void) { return 1; }

}  // extern "C"

namespace zyl::api {

std::int32_t& algorithm_mode = AlgMode;

std::int32_t set_algorithm_mode(std::int32_t mode) {
  algorithm_mode = mode;
  return 0;
}

std::int32_t create_device_context(XWContext*& out) {
  // A context that cannot be created is stored as null; the XW calls made
  // with it later answer that no context exists.
  out = create_context();
  return 1;
}

std::int32_t free_device_context(XWContext* context) { return free_context(context); }

}  // namespace zyl::api

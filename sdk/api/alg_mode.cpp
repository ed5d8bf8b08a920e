// The library-wide engine selector and the algorithm context of a device.
#include <cstdint>

#include "zylscan/devalg.h"
#include "zylscan/xw.h"

extern "C" {

// Until a device is opened the matcher-library engine with its small-sensor
// preset is selected.
ZYL_API int32_t AlgMode = 4;

ZYL_API int32_t setAlgMode(int32_t mode) {
  AlgMode = mode;
  return 0;
}

ZYL_API int32_t DevAlgCreateCtx(XWContext** out) {
  if (!out) return XW_ERR_NULL_ARGUMENT;
  // A context that cannot be created is stored as null; the XW calls made
  // with it later answer that no context exists.
  *out = XWCreateContext();
  return 1;
}

ZYL_API int32_t DevAlgFreeCtx(XWContext* context) { return XWFreeContext(context); }

ZYL_API int32_t DevAlg_GetVersion(void) { return 1; }

}  // extern "C"

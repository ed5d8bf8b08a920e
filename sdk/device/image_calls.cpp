// Small image calls of the device API.
#include "device/device_record.h"
#include "zylscan/zylfpscan_image.h"

using zyl::device::DeviceRecord;
using zyl::device::sdk;

extern "C" {

ZYL_API int ZYLFPSCAN_GetImageInfo(void* handle, int* width, int* height, int* resolution) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  const auto* r = static_cast<const DeviceRecord*>(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!width || !height || !resolution) return ZYLFPSCAN_ERR_NULL_BUFFER;
  *width = r->width;
  *height = r->height;
  *resolution = r->resolution;
  return ZYLFPSCAN_OK;
}

}  // extern "C"

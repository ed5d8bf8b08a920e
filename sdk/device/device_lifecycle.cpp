// Global init and free, and the device count. Opening and closing a device,
// which sets up its algorithm context, is in api/device_open.cpp.
#include "device/device_info.h"
#include "device/device_record.h"
#include "device/usb_transport.h"
#include "zylscan/zylfpscan.h"

using namespace zyl::device;

namespace zyl::device {

int CountDevices(int& count) {
  count = 0;
  if (libusb_init(nullptr) != 0) return ZYLFPSCAN_ERR_DEVICE_LIST;
  int rc = ZYLFPSCAN_ERR_DEVICE_LIST;
  {
    DeviceList list;
    if (list.size() > 0) {
      count = list.CountScanners();
      rc = ZYLFPSCAN_OK;
    }
  }
  libusb_exit(nullptr);
  return rc;
}

}  // namespace zyl::device

extern "C" {

ZYL_API int ZYLFPSCAN_GlobalInit(void) {
  if (sdk().initialised == 1) return ZYLFPSCAN_ERR_ALREADY_INIT;
  if (libusb_init(nullptr) != 0) return ZYLFPSCAN_ERR_DEVICE_INIT;
  sdk().initialised = 1;
  return ZYLFPSCAN_OK;
}

ZYL_API int ZYLFPSCAN_GlobalFree(void) { return ZYLFPSCAN_OK; }

ZYL_API int ZYLFPSCAN_GetDeviceCount(int* count) {
  if (!count) return ZYLFPSCAN_ERR_NULL_BUFFER;
  return CountDevices(*count);
}

}  // extern "C"

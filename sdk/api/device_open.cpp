// Opening a scanner, with its algorithm context, and closing it.
#include "api/device_open.h"

#include <cstdio>
#include <memory>
#include <array>

#include "api/alg_mode.h"
#include "common/guarded_call.h"
#include "device/device_info.h"
#include "device/device_record.h"
#include "device/usb_transport.h"
#include "common/byte_io.h"
#include "zylscan/zylfpscan.h"

using namespace zyl::device;

namespace {

// Everything an open has acquired so far, released unless the open succeeds.
struct OpenInProgress {
  std::unique_ptr<DeviceRecord> record;
  ~OpenInProgress() {
    if (!record) return;
    if (record->algorithmReady) zyl::api::free_device_context(record->algorithmContext);
    if (record->usbHandle) libusb_close(record->usbHandle);
  }
};

}  // namespace

namespace zyl::device {

int OpenDevice(int index, DeviceRecord*& opened) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  int count = 0;
  CountDevices(count);
  if (index < 0 || index >= count || index >= kMaxDevices) return ZYLFPSCAN_ERR_PARAM;

  DeviceList list;
  libusb_device_descriptor descriptor{};
  libusb_device* device = list.FindScanner(index, &descriptor);
  // The scanner may have gone between the count and the walk.
  if (!device) return ZYLFPSCAN_ERR_PARAM;

  OpenInProgress open;
  open.record = std::make_unique<DeviceRecord>();
  DeviceRecord& r = *open.record;
  r.deviceIndex = index;
  r.vendorId = descriptor.idVendor;
  r.productId = descriptor.idProduct;

  if (sdk().openDeviceTable[index].isOpen == 1) {
    std::printf("\n ind[%d].IsOpen = %d", index, 1);
    return ZYLFPSCAN_ERR_ALREADY_OPEN;
  }

  libusb_config_descriptor* config = nullptr;
  if (libusb_get_config_descriptor(device, 0, &config) != 0 || !config) {
    std::printf("\n Couldn't retrieve descriptors\n");
  } else {
    DiscoverEndpoints(*config);
    libusb_free_config_descriptor(config);
  }

  if (libusb_open(device, &r.usbHandle) != 0) {
    r.usbHandle = nullptr;
    return ZYLFPSCAN_ERR_OPEN_DEVICE;
  }
  if (zyl::api::create_device_context(r.algorithmContext) != 1) return ZYLFPSCAN_ERR_ALG_INIT;
  r.algorithmReady = 1;

  ApplyProductSettings(r, r.productId, r.vendorId);
  zyl::api::set_algorithm_mode(sdk().algorithmMode);

  std::array<std::uint8_t, kDescriptionSize> description{};
  if (r.productId != product::kCamera && DescribeDevice(index, description) != 0)
    return ZYLFPSCAN_ERR_DEVICE_INFO;
  r.resolution = 500;
  zyl::ByteReader words(description, zyl::Endian::Little);
  words.seek(100);
  r.descriptionModel = words.u16();

  if (IsLargeSensor(r.productId) && ReadRectifyParameters(r.rectifyParameters, r.usbHandle) != 0)
    return ZYLFPSCAN_ERR_HARDWARE_INFO;

  sdk().openDeviceTable[index] = {r.usbHandle, 1};
  opened = open.record.release();
  return ZYLFPSCAN_OK;
}

}  // namespace zyl::device

extern "C" {

ZYL_API int ZYLFPSCAN_OpenDevice(void** handle, int index) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!handle) return ZYLFPSCAN_ERR_NULL_BUFFER;
  if (*handle) return ZYLFPSCAN_ERR_ALREADY_OPEN;
  return zyl::GuardedCall(ZYLFPSCAN_ERR_NO_MEMORY, [&] {
    DeviceRecord* opened = nullptr;
    const int rc = OpenDevice(index, opened);
    if (rc == ZYLFPSCAN_OK) *handle = opened;
    return rc;
  });
}

ZYL_API int ZYLFPSCAN_CloseDevice(void** handle) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  sdk().initialised = 0;
  int rc = ZYLFPSCAN_ERR_NOT_OPEN;
  if (handle && *handle) {
    auto* r = static_cast<DeviceRecord*>(*handle);
    zyl::api::free_device_context(r->algorithmContext);
    if (r->deviceIndex >= 0 && r->deviceIndex < kMaxDevices) sdk().openDeviceTable[r->deviceIndex] = {};
    libusb_close(r->usbHandle);
    delete r;
    *handle = nullptr;
    rc = ZYLFPSCAN_OK;
  }
  libusb_exit(nullptr);
  return rc;
}

}  // extern "C"

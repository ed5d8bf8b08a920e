#include <algorithm>

#include "device/device_record.h"
#include "device/usb_transport.h"
#include "zyl_config.h"

namespace zyl::device {

namespace {

constexpr std::uint16_t kVendorIds[] = {ZYL_VENDOR_ID_1, ZYL_VENDOR_ID_2, ZYL_VENDOR_ID_3, ZYL_VENDOR_ID_4};

constexpr ProductInfo kProducts[] = {
    {0x0020, 18, 256, 360, true, std::nullopt},
    {0x1023, 10, 256, 360, true, std::nullopt},
    {0x1024, 11, 300, 400, true, std::nullopt},
    {0x1061, 12, 160, 160, true, 3},
    {0x1124, 13, 300, 400, true, std::nullopt},
    {0x1200, 17, 192, 192, true, std::nullopt},
    {0x2021, 6, 192, 192, true, 3},
    {0x2022, 7, 192, 256, true, std::nullopt},
    {0x2023, 8, 256, 288, true, std::nullopt},
    {0x2024, 9, 256, 360, true, std::nullopt},
    {0x2031, 19, 96, 96, true, 4},
    {0x2033, 1, 152, 200, false, std::nullopt},
    {0x2034, 2, 192, 192, false, std::nullopt},
    {0x2041, 3, 180, 256, false, std::nullopt},
    {0x2042, 4, 256, 288, false, std::nullopt},
    {0x2043, 5, 256, 360, true, std::nullopt},
    {0x7000, 16, 300, 400, true, std::nullopt},
    {0x9005, 14, 256, 288, true, std::nullopt},
};

}  // namespace

SdkState& sdk() {
  static SdkState s;
  return s;
}

const ProductInfo* FindProduct(std::uint16_t productId) {
  for (const auto& p : kProducts)
    if (p.productId == productId) return &p;
  return nullptr;
}

bool IsSupportedScanner(std::uint16_t vendorId, std::uint16_t productId) {
  if (std::find(std::begin(kVendorIds), std::end(kVendorIds), vendorId) == std::end(kVendorIds)) return false;
  const ProductInfo* p = FindProduct(productId);
  return p && p->enumerated;
}

bool IsLargeSensor(std::uint16_t productId) {
  return productId == 0x1024 || productId == 0x1124 || productId == 0x7000;
}

bool UsesSessionKey(std::uint16_t productId) {
  switch (productId) {
    case 0x2021: case 0x2022: case 0x2023: case 0x2024: case 0x1061: case 0x2031: return true;
    default: return false;
  }
}

int ApplyProductSettings(DeviceRecord& record, std::uint16_t productId, std::uint16_t /*vendorId*/) {
  const ProductInfo* p = FindProduct(productId);
  if (!p) return -1;
  record.modelCode = p->modelCode;
  record.width = p->width;
  record.height = p->height;
  if (p->algorithmMode) sdk().algorithmMode = *p->algorithmMode;
  return 0;
}

void DiscoverEndpoints(const libusb_config_descriptor& config) {
  Endpoints& e = endpoints();
  for (int i = 0; i < config.bNumInterfaces; ++i) {
    const libusb_interface& iface = config.interface[i];
    for (int a = 0; a < iface.num_altsetting; ++a) {
      const libusb_interface_descriptor& setting = iface.altsetting[a];
      for (int k = 0; k < setting.bNumEndpoints; ++k) {
        const std::uint8_t address = setting.endpoint[k].bEndpointAddress;
        if (address & 0x80) {
          e.keyExchangeIn = e.replyIn = address;
        } else {
          e.streamOut = e.commandOut = e.productCommandOut = address;
        }
      }
    }
  }
}

libusb_device* DeviceList::FindScanner(int index, libusb_device_descriptor* descriptor) const {
  int seen = 0;
  for (ssize_t i = 0; i < count_; ++i) {
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(list_[i], &d) != 0) continue;
    if (!IsSupportedScanner(d.idVendor, d.idProduct)) continue;
    if (seen++ == index) {
      if (descriptor) *descriptor = d;
      return list_[i];
    }
  }
  return nullptr;
}

int DeviceList::CountScanners() const {
  int n = 0;
  for (ssize_t i = 0; i < count_; ++i) {
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(list_[i], &d) == 0 && IsSupportedScanner(d.idVendor, d.idProduct)) ++n;
  }
  return n;
}

}  // namespace zyl::device

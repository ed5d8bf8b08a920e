// The record behind a device handle, the process-wide state of the device
// API and the table of supported products.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <optional>

#include "zylscan/devalg.h"

namespace zyl::device {

constexpr int kMaxDevices = 32;
constexpr int kRawFrameWidth = 800;
constexpr int kRawFrameHeight = 600;
constexpr std::size_t kLastImageSize = kRawFrameWidth * kRawFrameHeight;  // 480000
constexpr std::size_t kRectifyParametersSize = 256;
constexpr std::size_t kDescriptionSize = 1024;
constexpr std::uint16_t kLedModel = 600;

// Product ids of the families that take their own paths.
namespace product {
constexpr std::uint16_t kCamera = 0x0020;
constexpr std::uint16_t kStream = 0x1200;
constexpr std::uint16_t kEf01 = 0x9005;
constexpr std::uint16_t kGated = 0x2043;
}  // namespace product

struct DeviceRecord {
  libusb_device_handle* usbHandle = nullptr;
  std::array<std::uint8_t, kRectifyParametersSize> rectifyParameters{};
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  XWContext* algorithmContext = nullptr;
  int modelCode = 0;
  int width = 0;
  int height = 0;
  int resolution = 0;
  int algorithmReady = 0;
  int liveCapture = 0;
  int deviceIndex = 0;
  std::array<std::uint8_t, kLastImageSize> lastImage{};
  std::uint16_t descriptionModel = 0;
};

struct OpenEntry {
  libusb_device_handle* usbHandle = nullptr;
  int isOpen = 0;
};

// One copy per process; callers of the device API serialise every call.
struct SdkState {
  int initialised = 0;
  std::array<OpenEntry, kMaxDevices> openDeviceTable{};
  std::uint8_t algorithmMode = 0;
};
SdkState& sdk();

struct ProductInfo {
  std::uint16_t productId;
  int modelCode;
  int width;
  int height;
  bool enumerated;               // admitted by enumeration
  std::optional<std::uint8_t> algorithmMode;  // set at open; none keeps the current mode
};

// The entry of a product id, or null for an unknown one.
const ProductInfo* FindProduct(std::uint16_t productId);
// True for one of the configured vendor ids with an enumerated product id.
bool IsSupportedScanner(std::uint16_t vendorId, std::uint16_t productId);
bool IsLargeSensor(std::uint16_t productId);
bool UsesSessionKey(std::uint16_t productId);

// Sets model code and image size (and the process's algorithm mode for the
// products that choose one): 0, or -1 for an unknown product (nothing set).
int ApplyProductSettings(DeviceRecord& record, std::uint16_t productId, std::uint16_t vendorId);
// Every IN endpoint of the configuration becomes keyExchangeIn and replyIn,
// every OUT endpoint streamOut, commandOut and productCommandOut; the last of
// each direction wins.
void DiscoverEndpoints(const libusb_config_descriptor& config);

// libusb's device list, freed (and its devices unreferenced) on destruction.
class DeviceList {
 public:
  DeviceList() { count_ = libusb_get_device_list(nullptr, &list_); }
  ~DeviceList() {
    if (count_ >= 0) libusb_free_device_list(list_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  // Number of USB devices, or a negative libusb code.
  ssize_t size() const { return count_; }
  // The index-th supported scanner in list order, or null.
  libusb_device* FindScanner(int index, libusb_device_descriptor* descriptor = nullptr) const;
  int CountScanners() const;

 private:
  libusb_device** list_ = nullptr;
  ssize_t count_ = 0;
};

}  // namespace zyl::device

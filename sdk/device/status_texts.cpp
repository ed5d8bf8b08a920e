// Texts of the device API's status codes.
#include <cstring>
#include <string_view>

#include "zylscan/zylfpscan_status.h"

namespace zyl::device {
namespace {

struct StatusText {
  int code;
  std::string_view text;
};

// The texts are the system's own (spelling included): logs and the service's
// messages show them as they stand. Codes without a row read "Illegal Error.".
constexpr StatusText kStatusTexts[] = {
    {ZYLFPSCAN_OK, "OK"},
    {ZYLFPSCAN_ERR_NULL_BUFFER, "Parameter memory allocation is empty."},
    {ZYLFPSCAN_ERR_NOT_INIT, "SDK not initialized."},
    {ZYLFPSCAN_ERR_ALREADY_INIT, "SDK inited done."},
    {ZYLFPSCAN_ERR_PARAM, "Parameters Error!"},
    {ZYLFPSCAN_ERR_RAW_TO_BMP, "RAW to BMP failed."},
    {ZYLFPSCAN_ERR_TEMPLATE, "Getting template data failed."},
    {ZYLFPSCAN_ERR_EXTRACT, "Extracting feature data failed."},
    {ZYLFPSCAN_ERR_ALG_NOT_READY, "Algorithm not initialized."},
    {ZYLFPSCAN_ERR_LOW_QUALITY, "Iamge quality is too low."},
    {ZYLFPSCAN_ERR_ALG_INIT, "Algorithm initialization failed."},
    {ZYLFPSCAN_ERR_GET_LED, "Get Led status failed."},
    {ZYLFPSCAN_ERR_SET_LED, "Set Led status failed."},
    {ZYLFPSCAN_ERR_HARDWARE_INFO, "Get device hardware infomation failed."},
    {ZYLFPSCAN_ERR_OPEN_DEVICE, "Open device failed."},
    {ZYLFPSCAN_ERR_DEVICE_INFO, "Get device infomation failed."},
    {ZYLFPSCAN_ERR_DEVICE_LIST, "Get device list failed."},
    {ZYLFPSCAN_ERR_ALREADY_OPEN, "Device is already open."},
    {ZYLFPSCAN_ERR_DEVICE_INIT, "Device initialization failed."},
    {ZYLFPSCAN_ERR_CAPTURE, "Capture image failed."},
    {ZYLFPSCAN_ERR_NOT_OPEN, "Device not open."},
    {ZYLFPSCAN_ERR_NO_DEVICE, "No Device."},
};
constexpr std::string_view kUnknownStatusText = "Illegal Error.";

static_assert([] {
  for (const auto& row : kStatusTexts)
    if (row.text.size() >= ZYLFPSCAN_ERROR_TEXT_SIZE) return false;
  return true;
}(), "every text must fit the caller's buffer with its terminating zero");

std::string_view status_text(int code) {
  for (const auto& row : kStatusTexts)
    if (row.code == code) return row.text;
  return kUnknownStatusText;
}

}  // namespace
}  // namespace zyl::device

extern "C" ZYL_API int ZYLFPSCAN_GetErrorInfo(int code, char* text) {
  if (text == nullptr) return ZYLFPSCAN_ERR_NULL_BUFFER;
  std::memset(text, 0, ZYLFPSCAN_ERROR_TEXT_SIZE);
  const std::string_view message = zyl::device::status_text(code);
  std::memcpy(text, message.data(), message.size());
  return ZYLFPSCAN_OK;
}

// Device information, LEDs and module commands.
#include "device/device_info.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

#include "device/command_frames.h"
#include "device/des_buffer.h"
#include "device/device_record.h"
#include "device/usb_transport.h"
#include "zylscan/zylfpscan.h"

namespace zyl::device {

namespace {

DeviceRecord* RecordOf(void* handle) { return static_cast<DeviceRecord*>(handle); }

// One 12-byte command exchange with the default codes.
int Ask(libusb_device_handle* h, const Command& c, Frame& reply, std::span<const std::uint8_t> params = {}) {
  const Frame frame = CommandFrame(c, params);
  return Exchange(h, c, frame, reply);
}

constexpr std::size_t kKeySize = 24;
constexpr std::size_t kEf01VersionReply = 64;
constexpr int kDescriptionPause = 10000;

// The status of a key-exchange answer of the wrong length (the scanner's
// other failures give 2, 3 or its raw status): the read failed.
constexpr int kKeyExchangeShortRead = ZYLFPSCAN_ERR_READ;

int ReadSessionDescription(std::span<std::uint8_t, kDescriptionSize> description, libusb_device_handle* h) {
  const auto& stored = stored_key();
  // A fresh session key per exchange; the scanner sees it only enciphered.
  std::array<std::uint8_t, kKeySize> session{};
  std::random_device random;
  for (auto& b : session) b = static_cast<std::uint8_t>(random());
  std::array<std::uint8_t, kKeySize> sealed{};
  triple_des_ecb_encrypt(session, stored, sealed);

  if (PingDevice(h) < 0) return ZYLFPSCAN_ERR_PING;
  const Frame keyCommand = CommandFrame(commands::kSessionKey, std::array<std::uint8_t, 4>{0x00, 0x18, 0x00, 0x00});
  int rc = BulkWriteStream(h, keyCommand, kStreamTimeoutMs);
  if (rc < 0) return rc;
  if (rc != static_cast<int>(keyCommand.size())) return ZYLFPSCAN_ERR_WRITE;

  std::array<std::uint8_t, 64> answer{};
  rc = BulkReadFrom(h, endpoints().keyExchangeIn, answer, kStreamTimeoutMs);
  if (rc < 0) return rc;
  if (rc != static_cast<int>(kFrameSize)) return kKeyExchangeShortRead;
  std::span<const std::uint8_t> frame(answer.data(), kFrameSize);
  if (!CheckCommandFrame(frame)) return 3;
  if (frame[6] != 0) return frame[6];

  if (PingDevice(h) < 0) return ZYLFPSCAN_ERR_PING;
  rc = BulkWriteStream(h, sealed, kStreamTimeoutMs);
  if (rc < 0) return rc;
  if (rc != static_cast<int>(sealed.size())) return ZYLFPSCAN_ERR_WRITE;

  Pause(100);
  std::array<std::uint8_t, kKeySize> sealedDescriptionKey{};
  rc = BulkReadFrom(h, endpoints().keyExchangeIn, sealedDescriptionKey, kStreamTimeoutMs);
  if (rc < 0) return rc;
  if (rc != static_cast<int>(kKeySize)) return kKeyExchangeShortRead;
  std::array<std::uint8_t, kKeySize> descriptionKey{};
  triple_des_ecb_decrypt(sealedDescriptionKey, session, descriptionKey);

  if (PingDevice(h) < 0) return ZYLFPSCAN_ERR_PING;
  const Frame describe = CommandFrame(commands::kDescription);
  rc = BulkWriteStream(h, describe, kStreamTimeoutMs);
  if (rc < 0) return rc;
  if (rc != static_cast<int>(describe.size())) return ZYLFPSCAN_ERR_WRITE;

  std::array<std::uint8_t, kDescriptionSize> sealedDescription{};
  if (BulkReadChunked(h, sealedDescription, 5) != static_cast<int>(kDescriptionSize)) return 2;
  triple_des_ecb_decrypt(sealedDescription, descriptionKey, description);
  return ZYLFPSCAN_OK;
}

// Copies the fields of a description into the caller's buffer. Bytes the
// scanner's layout does not name keep what the caller had there, except the
// span 113..261 that is cleared.
void CopyDescription(std::span<const std::uint8_t, kDescriptionSize> d, std::uint8_t* out) {
  std::memset(out, 0, 88);
  std::memset(out + 92, 0, 8);
  std::memset(out + 113, 0, 149);
  std::memcpy(out, d.data(), 107);  // bytes 0..106: every field up to the three bytes at 104
  out[110] = d[110];                // flags byte
}

// Whether the gated products have a description to give: 1 yes, 0 no, or a
// negative code.
int DescriptionGate(libusb_device_handle* h, std::uint16_t productId) {
  if (productId == product::kGated) {
    std::array<std::uint8_t, 3> version{};
    int rc = GetFwVersion(h, version);
    if (rc != 0) return rc;
    Frame reply{};
    rc = Ask(h, commands::kFwMinorGate, reply);
    if (rc != 0) return rc;
    return version[0] > 14 || reply[7] > 59 ? 1 : 0;
  }
  if (productId == product::kEf01) {
    const auto frame = Ef01Frame(0x32);
    if (PingDevice(h) < 0) return ZYLFPSCAN_ERR_PING;
    int rc = BulkWrite(h, frame);
    if (rc < 0 || rc != static_cast<int>(frame.size())) return ZYLFPSCAN_ERR_WRITE;
    std::array<std::uint8_t, kEf01VersionReply> reply{};
    rc = BulkReadChunked(h, reply, 5);
    // The version sits in bytes 11-12; a shorter answer has none to give.
    if (rc < 13) return ZYLFPSCAN_ERR_READ;
    return reply[11] * 256 + reply[12] > 24 ? 1 : 0;
  }
  return 1;
}

}  // namespace

int GetFwVersion(libusb_device_handle* h, std::span<std::uint8_t, 3> version) {
  Frame reply{};
  int rc = Ask(h, commands::kFwVersion3, reply);
  if (rc == 0) std::copy_n(reply.begin() + 7, 3, version.begin());
  return rc;
}

int ReadDeviceDescription(std::span<std::uint8_t, kDescriptionSize> description, libusb_device_handle* h,
                          std::uint16_t productId) {
  if (UsesSessionKey(productId)) return ReadSessionDescription(description, h);
  if (PingDevice(h) < 0) return ZYLFPSCAN_ERR_PING;
  int rc;
  if (productId == product::kEf01) {
    rc = BulkWrite(h, Ef01DescriptionFrame());
    if (rc != 14) return ZYLFPSCAN_ERR_WRITE;
  } else {
    rc = BulkWrite(h, CommandFrame(commands::kDescription));
    if (rc != static_cast<int>(kFrameSize)) return ZYLFPSCAN_ERR_WRITE;
  }
  if (BulkReadChunked(h, description, 5) <= 0) return ZYLFPSCAN_ERR_READ;
  return ZYLFPSCAN_OK;
}

int ReadRectifyParameters(std::span<std::uint8_t, kRectifyParametersSize> parameters, libusb_device_handle* h) {
  const Frame frame = CommandFrame(commands::kRectifyParameters);
  int got = 0;
  int rc = Exchange(h, commands::kRectifyParameters, frame, parameters, 5, {}, &got);
  if (rc != 0) return rc;
  // Calibration points from a partial block would be the zero fill.
  return got == static_cast<int>(kRectifyParametersSize) ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_READ;
}

int DescribeDevice(int index, std::span<std::uint8_t, kDescriptionSize> out) {
  int count = 0;
  CountDevices(count);
  if (index < 0 || index >= count) return ZYLFPSCAN_ERR_PARAM;

  DeviceList list;
  libusb_device_descriptor descriptor{};
  libusb_device* device = list.FindScanner(index, &descriptor);
  if (!device) return ZYLFPSCAN_ERR_PARAM;
  libusb_device_handle* h = nullptr;
  bool ownHandle = false;
  if (index < kMaxDevices && sdk().openDeviceTable[index].isOpen) {
    h = sdk().openDeviceTable[index].usbHandle;
  } else {
    if (libusb_open(device, &h) != 0) return ZYLFPSCAN_ERR_OPEN_DEVICE;
    ownHandle = true;
  }
  struct Closer {
    libusb_device_handle* h;
    bool own;
    ~Closer() {
      if (own) libusb_close(h);
    }
  } closer{h, ownHandle};

  const std::uint16_t productId = descriptor.idProduct;
  if (productId == product::kStream || productId == product::kCamera) return ZYLFPSCAN_OK;
  int gate = DescriptionGate(h, productId);
  if (gate <= 0) return gate;

  std::array<std::uint8_t, kDescriptionSize> description{};
  int rc = ReadDeviceDescription(description, h, productId);
  if (rc != 0) {
    // Bring a scanner that stopped answering back to a known state.
    Pause(kDescriptionPause);
    libusb_reset_device(h);
    Pause(kDescriptionPause);
    libusb_clear_halt(h, endpoints().replyIn);
    libusb_clear_halt(h, endpoints().commandOut);
    Pause(kDescriptionPause);
    return rc;
  }
  CopyDescription(description, out.data());
  return ZYLFPSCAN_OK;
}

}  // namespace zyl::device

using namespace zyl::device;

namespace {

// The one-byte answers of the version family: no SDK check.
int ReadVersionByte(void* handle, int* out, const Command& command, int byte) {
  DeviceRecord* r = RecordOf(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!out) return ZYLFPSCAN_ERR_NULL_BUFFER;
  Frame reply{};
  int rc = Ask(r->usbHandle, command, reply);
  if (rc == 0) *out = reply[static_cast<std::size_t>(byte)];
  return rc;
}

// LED 0 is the scanner's LED 2, LED 1 its LED 3.
constexpr std::uint8_t LedOnWire(int led) { return led == 1 ? 3 : 2; }

}  // namespace

ZYL_API int ZYLFPSCAN_GetFwVersion(void* handle, unsigned char* version) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  DeviceRecord* r = RecordOf(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!version) return ZYLFPSCAN_ERR_NULL_BUFFER;
  return GetFwVersion(r->usbHandle, std::span<std::uint8_t, 3>(version, 3));
}

extern "C" {

ZYL_API int ZYLFPSCAN_GetFwVersion(void* handle, int* version) {
  return ReadVersionByte(handle, version, commands::kFwVersion1, 7);
}

ZYL_API int ZYLFPSCAN_GetFwMinorVersion(void* handle, int* minor) {
  return ReadVersionByte(handle, minor, commands::kFwMinor, 8);
}

ZYL_API int ZYLFPSCAN_GetMcuType(void* handle, int* mcu) {
  return ReadVersionByte(handle, mcu, commands::kMcuType, 7);
}

ZYL_API int ZYLFPSCAN_SetQZ650UpdateFlag(void* handle) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  DeviceRecord* r = RecordOf(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  Frame reply{};
  return Ask(r->usbHandle, commands::kUpdateFlag, reply) == 0 ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_SET_LED;
}

ZYL_API int ZYLFPSCAN_SetLedStatus(void* handle, int led, int state) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  DeviceRecord* r = RecordOf(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (r->descriptionModel != kLedModel) return ZYLFPSCAN_ERR_NO_LED;
  if ((led != 0 && led != 1) || (state != 0 && state != 1)) return ZYLFPSCAN_ERR_PARAM;
  Frame reply{};
  const std::array<std::uint8_t, 4> params{LedOnWire(led), static_cast<std::uint8_t>(state), 0, 0};
  return Ask(r->usbHandle, commands::kSetLed, reply, params) == 0 ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_SET_LED;
}

ZYL_API int ZYLFPSCAN_GetLedStatus(void* handle, int led, int* state) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  DeviceRecord* r = RecordOf(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (r->descriptionModel != kLedModel) return ZYLFPSCAN_ERR_NO_LED;
  if (led != 0 && led != 1) return ZYLFPSCAN_ERR_PARAM;
  if (!state) return ZYLFPSCAN_ERR_NULL_BUFFER;
  Frame reply{};
  const std::array<std::uint8_t, 4> params{LedOnWire(led), 0, 0, 0};
  if (Ask(r->usbHandle, commands::kGetLed, reply, params) != 0) return ZYLFPSCAN_ERR_GET_LED;
  *state = reply[7];
  return ZYLFPSCAN_OK;
}

ZYL_API int ZYLFPSCAN_SearchFromModule(void* handle, unsigned char* result, int* position) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  DeviceRecord* r = RecordOf(handle);
  if (!r) return ZYLFPSCAN_ERR_NOT_OPEN;
  if (!result || !position) return ZYLFPSCAN_ERR_NULL_BUFFER;
  Frame reply{};
  int rc = Ask(r->usbHandle, commands::kSearch, reply);
  if (rc != 0) return rc;
  if (reply[0] == 0xFF && reply[1] == 0xAA) {
    std::uint8_t check = 0;
    for (int i = 2; i <= 9; ++i) check ^= reply[i];
    if (check != reply[11]) return ZYLFPSCAN_ERR_SEARCH_REPLY;
  }
  if (reply[6] != 0) return reply[6];
  *result = reply[7];
  *position = reply[8] + 256 * reply[9];
  return ZYLFPSCAN_OK;
}

ZYL_API int ZYLFPSCAN_GetDeviceDescription(int index, unsigned char* out) {
  if (!sdk().initialised) return ZYLFPSCAN_ERR_NOT_INIT;
  if (!out) return ZYLFPSCAN_ERR_NULL_BUFFER;
  return DescribeDevice(index, std::span<std::uint8_t, kDescriptionSize>(out, kDescriptionSize));
}

}  // extern "C"

// Scenario of the virtual scanner: which devices are present, what they
// serve and which faults happen when. Text format: README.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zyl::test::vscanner {

enum class Family { General, LargeSensor, Packet, Camera, Ef01, Update };

enum class FaultPlace {
  Transfer,    // the device's n-th transfer (any kind)
  Reply,       // the reply to a command
  Write,       // the write of a command
  Open,        // libusb_open of the device
  Config,      // its configuration descriptor
  Descriptor,  // its device descriptor
  List,        // libusb_get_device_list (scenario-wide)
};

enum class FaultKind { Timeout, Short, Zero, Zeros, Stall, Error, Unplug, Status, Corrupt, Block };

struct Fault {
  FaultPlace place = FaultPlace::Transfer;
  int at = 0;             // transfer number for FaultPlace::Transfer (1-based)
  std::string command;    // command token for Reply/Write ("0x32", "start", ...)
  FaultKind kind = FaultKind::Timeout;
  int arg = 0;            // byte count of Short, status of Status
  int times = 1;          // how often it fires; 0 = every time
  int skip = 0;           // matches to let pass first
  int fired = 0;          // run-time count
};

struct DeviceSpec {
  std::uint16_t vid = 0, pid = 0;
  std::uint8_t bus = 1, address = 1;
  std::vector<std::uint8_t> endpoints{0x81, 0x01};
  Family family = Family::General;
  int width = 0, height = 0;          // image the scanner delivers (product size)
  std::array<std::uint8_t, 3> fw{1, 0, 0};
  std::array<std::uint8_t, 3> minor{0, 0, 0};
  std::uint8_t mcu = 0;
  std::uint16_t ef01_version = 30;
  std::uint16_t model = 600;
  std::string name = "Virtual scanner";
  enum class Description { Plain, Session, None } description = Description::Plain;
  std::array<std::uint8_t, 24> description_key{};  // D of the session-key exchange
  std::array<std::uint16_t, 8> calibration{103, 203, 497, 203, 497, 597, 103, 597};
  std::uint8_t search_status = 0, search_byte = 0;
  std::uint16_t search_value = 0;
  // Served frames, in order, looping. A held frame is served again by every
  // capture (the finger stays on the scanner) until its file exists, or for
  // good when it names none.
  struct Frame {
    std::vector<std::uint8_t> pixels;
    bool hold = false;
    std::string until;  // with hold: the file whose existence moves on
  };
  std::vector<Frame> frames;
  std::uint8_t interface_class = 0xFF;            // vendor specific; 3 (HID) in update state
  std::uint8_t transfer_type = 2;                  // endpoint attributes: 2 bulk, 3 interrupt
  // Firmware update state: the file marks a scanner that was told to enter
  // it (created by the flag command); a scanner whose file exists at load
  // enumerates as the update-state device instead.
  std::string update_state_file;
  std::vector<Fault> faults;
};

struct Scenario {
  std::vector<DeviceSpec> devices;
  std::vector<Fault> faults;  // scenario-wide (list)
  bool virtual_clock = true;
  std::string release_file;
};

// Parses text; on failure returns a message and leaves out unspecified.
std::string parse_scenario(const std::string& text, const std::string& base_dir, Scenario& out);

// Frame geometry the scanner serves for a spec (columns, rows).
void frame_size(const DeviceSpec& spec, int& columns, int& rows);

}  // namespace zyl::test::vscanner

// Control face of the virtual scanner for test programs that link it.
//
// The virtual scanner (libvscanner.so) defines the libusb-1.0 functions that
// the SDK and the firmware tools call and plays the scanners behind them. A
// test program linked against it loads a scenario (see README.md), runs the
// product code, then reads the trace, the resource counters and the virtual
// clock from here. Programs run under LD_PRELOAD use the environment instead
// (VSCANNER_SCENARIO, VSCANNER_TRACE).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#define VSCANNER_API __attribute__((visibility("default")))

namespace zyl::test::vscanner {

// Replaces the whole state (devices, trace, counters, clock) by the scenario
// in text. Relative image paths are taken from base_dir. Returns an empty
// string on success, else a message naming the offending line.
VSCANNER_API std::string load(const std::string& text, const std::string& base_dir = ".");
VSCANNER_API std::string load_file(const std::string& path);

// One recorded call.
struct Call {
  std::string what;        // "control", "bulk", "interrupt", "open", "close", "reset",
                           // "clear_halt", "claim", "release", "sleep", ...
  int device = -1;         // index of the device in the scenario, -1 for none
  std::uint8_t endpoint = 0;
  std::uint8_t request_type = 0, request = 0;  // control transfers
  std::uint16_t value = 0, index = 0;
  int length = 0;          // requested length
  unsigned timeout = 0;    // milliseconds as passed (0 = none)
  int result = 0;          // libusb result of the call
  int transferred = 0;     // bytes moved
  std::vector<std::uint8_t> data;  // bytes sent (OUT) or received (IN)
  std::uint64_t clock_us = 0;      // virtual clock when the call began
  std::string note;        // the device's view ("refused: bad check word", ...)
};

VSCANNER_API std::vector<Call> trace();
VSCANNER_API void clear_trace();
// Transfers only (control, bulk, interrupt), in order.
VSCANNER_API std::vector<Call> transfers();

// Resource counters since the last load.
struct Counts {
  int context_refs = 0;    // libusb_init minus libusb_exit on the default context
  int inits = 0, exits = 0;
  int lists_taken = 0, lists_freed = 0;
  int configs_taken = 0, configs_freed = 0;
  int opens = 0, closes = 0;
  int resets = 0, clear_halts = 0;
  int device_refs = 0;     // references on device objects held outside the scanner
};
VSCANNER_API Counts counts();

// Total time slept through sleep/usleep/nanosleep and waited in time-outs.
VSCANNER_API std::uint64_t clock_us();
VSCANNER_API std::uint64_t slept_us();

// What a device has been told (for asserting effects of commands).
struct DeviceState {
  bool update_flag = false;
  int led[2] = {0, 0};     // LED 0 and LED 1
  int captures = 0;
  bool present = true;
  // Firmware update state: what the description announced and what arrived.
  bool handshake = false;
  std::uint32_t fw_address = 0, fw_size = 0, fw_sum = 0;
  std::vector<std::uint8_t> firmware;
  int data_packets = 0;
  bool fw_done = false;
};
VSCANNER_API DeviceState device_state(int device);

// Releases every read that a "block" fault holds at the moment of the call.
VSCANNER_API void release_captures();
// Number of reads waiting in a "block" fault now.
VSCANNER_API int blocked_reads();

}  // namespace zyl::test::vscanner

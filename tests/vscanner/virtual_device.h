// The device side of one virtual scanner: it checks every frame the host
// sends like a strict device and queues the replies the host will read.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "scenario.h"
#include "vscanner.h"

namespace zyl::test::vscanner {

struct Message {
  std::vector<std::uint8_t> bytes;
  std::size_t pos = 0;
  Fault* fault = nullptr;  // applied when the host first reads this message
  bool started = false;
};

class VirtualDevice {
 public:
  explicit VirtualDevice(DeviceSpec spec) : spec_(std::move(spec)) {}

  const DeviceSpec& spec() const { return spec_; }
  DeviceSpec& spec() { return spec_; }
  DeviceState& state() { return state_; }
  std::deque<Message>& replies() { return replies_; }
  int next_transfer() { return ++transfers_; }

  bool has_endpoint(std::uint8_t ep) const;

  // The token by which faults name what bytes are ("0x32", "start", ...),
  // without acting on them.
  std::string classify(const std::uint8_t* p, int n) const;

  // Takes bytes written to an OUT endpoint. Returns false (with a note) when
  // the device refuses them; a refused command gets no answer.
  bool receive(const std::uint8_t* p, int n, std::string& note);

  // Answers a control IN request into buf; returns the byte count or a libusb
  // error (a stall for requests the device does not know).
  int control_in(std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
                 std::uint16_t index, std::uint8_t* buf, int length, std::string& note);

  // Finds the first fault for a reply or write of the given command.
  Fault* match_command_fault(FaultPlace place, const std::string& token);
  Fault* match_transfer_fault(int transfer);

  std::vector<std::uint8_t> description() const;

 private:
  void reply(std::uint8_t op, std::uint8_t status, std::uint8_t b7 = 0, std::uint8_t b8 = 0,
             std::uint8_t b9 = 0);
  void queue(std::vector<std::uint8_t> bytes);
  void take_next_image();
  bool receive_ffaa(const std::uint8_t* p, int n, std::string& note);
  bool receive_ef01(const std::uint8_t* p, int n, std::string& note);
  bool receive_packet(const std::uint8_t* p, int n, std::string& note);
  bool receive_update(const std::uint8_t* p, int n, std::string& note);

  DeviceSpec spec_;
  DeviceState state_;
  std::deque<Message> replies_;
  std::string pending_token_;  // command whose replies are being queued
  int transfers_ = 0;
  std::size_t next_image_ = 0;
  std::vector<std::uint8_t> captured_;
  bool has_capture_ = false;
  // Session-key exchange.
  bool expecting_key_ = false;
  bool session_ = false;
  std::array<std::uint8_t, 24> session_key_{};
  // Packet stream.
  bool streaming_ = false;
  int requests_ = 0;
  std::size_t streamed_ = 0;
  // Firmware update state.
  bool described_ = false;
};

// Three-key 3DES-ECB over whole blocks (n a multiple of 8).
void triple_des(const std::uint8_t key[24], bool encipher, const std::uint8_t* in, std::uint8_t* out,
                std::size_t n);
// The library's stored key (from the build configuration).
std::array<std::uint8_t, 24> stored_key();

}  // namespace zyl::test::vscanner

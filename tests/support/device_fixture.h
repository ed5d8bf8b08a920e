// Shared set-up of the tests that drive the device API: a scenario in the
// virtual scanner and the SDK's process state reset around each test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_record.h"
#include "device/usb_transport.h"
#include "vscanner.h"
#include "zylscan/devalg.h"
#include "zylscan/zylfpscan.h"

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSdk(); }
  void TearDown() override {
    if (handle_) {
      zyl::device::sdk().initialised = 1;
      ZYLFPSCAN_CloseDevice(&handle_);
    }
    ResetSdk();
  }

  static void ResetSdk() {
    zyl::device::sdk() = {};
    zyl::device::endpoints() = {};
  }

  void Load(const std::string& scenario) { ASSERT_EQ(zyl::test::vscanner::load(scenario), ""); }

  // Loads the scenario, initialises and opens device 0 into handle_.
  void Open(const std::string& scenario, int index = 0) {
    Load(scenario);
    ASSERT_EQ(ZYLFPSCAN_GlobalInit(), 0);
    ASSERT_EQ(ZYLFPSCAN_OpenDevice(&handle_, index), 0);
    zyl::test::vscanner::clear_trace();
  }

  zyl::device::DeviceRecord& record() { return *static_cast<zyl::device::DeviceRecord*>(handle_); }

  // Bulk OUT transfers, as the bytes sent.
  static std::vector<std::vector<std::uint8_t>> Written() {
    std::vector<std::vector<std::uint8_t>> out;
    for (auto& c : zyl::test::vscanner::transfers())
      if (c.what == "bulk" && !(c.endpoint & 0x80)) out.push_back(c.data);
    return out;
  }

  void* handle_ = nullptr;
};

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<std::uint8_t> out;
  for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

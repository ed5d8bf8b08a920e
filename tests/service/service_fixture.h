// GoogleTest base for the whole-program service tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "bus_harness.h"

namespace zyl::test {

// Skips with the reason when this machine cannot run the service on a
// private bus (see busTestsUnavailableReason); otherwise each test gets a
// harness with its own running bus.
class ServiceBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string &why = busTestsUnavailableReason();
    if (!why.empty()) GTEST_SKIP() << why;
    harness_ = std::make_unique<ServiceHarness>();
  }

  ServiceHarness &bus() { return *harness_; }

  // Starts an instance and waits until it owns the service name. A loaded
  // machine (and the sanitizer build) may start it slowly: the wait is for
  // the bus's announcement, with a deadline of minutes, and ends early only
  // when the instance has exited.
  int startAndWait(const std::vector<std::string> &env = {}) {
    int instance = bus().startService(env);
    if (!bus().waitForName(kNameDeadline, instance))
      ADD_FAILURE() << "the service did not take its name; its output:\n" << bus().serviceOutput(instance);
    return instance;
  }

  static constexpr Milliseconds kNameDeadline{180000};

  // Waits until `done` holds, looking again every few milliseconds; false
  // when the deadline passed first. For what the service does on its own
  // time (a directory it makes or removes), never a fixed pause.
  template <typename Condition>
  static bool waitUntil(Condition done, Milliseconds timeout = kEventDeadline) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(Milliseconds(10));
    }
    return true;
  }

  std::unique_ptr<ServiceHarness> harness_;
};

// The same with the virtual scanner: skips when the build has none.
class ServiceWithScannersTest : public ServiceBusTest {
 protected:
  void SetUp() override {
    ServiceBusTest::SetUp();
    if (IsSkipped()) return;
    if (virtualScannerLibrary().empty()) GTEST_SKIP() << "this build has no virtual scanner";
  }
};

}  // namespace zyl::test

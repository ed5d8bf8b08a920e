// Starting the service on demand: a bus whose service folder holds the
// service's activation file (the one installing puts on the system, its
// Exec= line pointed at the program of this build) starts the service on the
// first method call for its name, the call is answered, and later calls
// reach the same process.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bus_harness.h"

namespace zyl::test {
namespace {

// The installed activation file with its Exec= line naming `program`.
std::string activationFileFor(const std::string &program) {
  std::ifstream in(ZYL_SERVICE_ACTIVATION_TEMPLATE);
  std::stringstream text;
  text << in.rdbuf();
  std::string out;
  bool exec = false;
  for (std::string line; std::getline(text, line);) {
    if (line.rfind("Exec=", 0) == 0) {
      line = "Exec=" + program;
      exec = true;
    }
    out += line + "\n";
  }
  if (!exec) ADD_FAILURE() << "no Exec= line in " << ZYL_SERVICE_ACTIVATION_TEMPLATE;
  return out;
}

struct Reply {
  int exitCode = -1;
  std::string sender;  // unique name of the connection that answered
  std::string body;    // the reply's arguments as dbus-send prints them
  std::string error;
};

// A method call with the standard client that does not ask for the
// object's description first (gdbus would introspect, and that call would
// be the one that starts the service). The bus starts a service for a call
// only when the caller allows it, as dbus-send does by default.
Reply callWithAutoStart(ServiceHarness &bus, const std::string &method) {
  const CommandResult r = runCommand(
      {"dbus-send", "--system", "--print-reply", "--reply-timeout=600000",
       std::string("--dest=") + kServiceName, kObjectPath, std::string(kInterface) + "." + method},
      bus.busEnv(), Milliseconds(660000));
  Reply reply{r.exitCode, {}, {}, r.err};
  std::smatch m;
  if (std::regex_search(r.out, m, std::regex(R"(sender=(:[0-9.]+))"))) reply.sender = m[1];
  if (const std::size_t nl = r.out.find('\n'); nl != std::string::npos) reply.body = r.out.substr(nl + 1);
  return reply;
}

constexpr char kTwoScanners[] = R"(device vid1:0x1023 address=2
name Alpha Scanner
device vid1:0x1023 address=3
name Beta Scanner
)";

class ServiceActivation : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string *why : {&busTestsUnavailableReason(), &activationUnavailableReason()})
      if (!why->empty()) GTEST_SKIP() << *why;
    if (virtualScannerLibrary().empty()) GTEST_SKIP() << "this build has no virtual scanner";
  }
};

TEST_F(ServiceActivation, FirstCallStartsTheServiceAndLaterCallsReachTheSameProcess) {
  ServiceHarness bus(ActivatingBus{activationFileFor(ZYL_SERVICE_BIN)});
  // The scanners the started service sees: the bus hands the preload to the
  // programs it starts, never loads it itself.
  bus.setActivationEnvironment(bus.scannerEnv(kTwoScanners));

  ASSERT_EQ(bus.nameOwner(), "") << "something owns the name before any call";
  const CommandResult activatable = runCommand(
      {"gdbus", "call", "--system", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
       "--method", "org.freedesktop.DBus.ListActivatableNames"},
      bus.busEnv());
  EXPECT_NE(activatable.out.find(std::string("'") + kServiceName + "'"), std::string::npos)
      << "the bus did not read the activation file: " << activatable.out << activatable.err;

  const Reply first = callWithAutoStart(bus, "getDeviceCount");
  ASSERT_EQ(first.exitCode, 0) << first.error << "\nbus log:\n" << bus.busLog();
  EXPECT_EQ(first.body, "   int32 2\n") << "the started service does not see the virtual scanners";
  ASSERT_FALSE(first.sender.empty());
  EXPECT_EQ(bus.nameOwner(), first.sender);
  const long long pid = bus.connectionPid(first.sender);
  ASSERT_GT(pid, 0);

  const Reply second = callWithAutoStart(bus, "getDeviceCount");
  ASSERT_EQ(second.exitCode, 0) << second.error << "\nbus log:\n" << bus.busLog();
  EXPECT_EQ(second.body, "   int32 2\n");
  EXPECT_EQ(second.sender, first.sender) << "a second instance answered";
  EXPECT_EQ(bus.connectionPid(second.sender), pid);
}

}  // namespace
}  // namespace zyl::test

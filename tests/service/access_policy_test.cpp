// Who may talk to the service: its bus policy lets only root call it and
// hear its signals. Another user is refused by the bus itself, so the
// service never sees the call: nothing on disk changes, the scanner is not
// touched and nothing is logged.
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <optional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "service_workers_fixture.h"

namespace zyl::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr char kAccessDenied[] = "org.freedesktop.DBus.Error.AccessDenied";

// Every file and directory under `root` with its content.
std::map<std::string, std::string> snapshot(const fs::path &root) {
  std::map<std::string, std::string> out;
  std::error_code ignored;
  for (const auto &entry : fs::recursive_directory_iterator(root, ignored)) {
    const std::string rel = fs::relative(entry.path(), root).string();
    out[rel] = entry.is_directory() ? "<dir>" : readFileBytes(entry.path());
  }
  return out;
}

// Method names of the service's interface in its introspection XML.
std::set<std::string> introspectedMethods(const std::string &xml) {
  std::set<std::string> out;
  const std::size_t begin = xml.find(std::string("<interface name=\"") + kInterface + "\"");
  const std::size_t end = xml.find("</interface>", begin);
  if (begin == std::string::npos || end == std::string::npos) return out;
  const std::string part = xml.substr(begin, end - begin);
  static const std::regex method("<method name=\"([A-Za-z0-9_]+)\"");
  for (std::sregex_iterator it(part.begin(), part.end(), method), last; it != last; ++it)
    out.insert((*it)[1].str());
  return out;
}

struct Call {
  std::string method;
  std::vector<std::string> args;
};

// Every method, with arguments that would do harm if they got through.
std::vector<Call> everyMethod() {
  const std::string alice = gvariantString("alice");
  const std::string thumb = gvariantString("left_thumb");
  return {
      {"getDeviceName", {}},
      {"getDeviceCount", {}},
      {"setStorageType", {"1"}},
      {"openDevice", {"0"}},
      {"releaseDevice", {"0"}},
      {"resetDevice", {"0"}},
      {"enroll", {alice, gvariantString("mallory_finger")}},
      {"stopEnroll", {}},
      {"verify", {alice, "3"}},
      {"verifyStop", {}},
      {"deleteFingerByName", {alice, thumb}},
      {"deleteAllFeatureByUserId", {alice}},
      {"listfingers", {alice}},
      {"renamefingerName", {alice, thumb, gvariantString("stolen")}},
      {"exportAllDataFromDevice", {gvariantString("/tmp")}},
      {"exportDataStop", {}},
      {"importAllDataToDevice", {}},
      {"importDataStop", {}},
  };
}

class AccessPolicy : public ServiceWorkersTest {
 protected:
  void SetUp() override {
    ServiceWorkersTest::SetUp();
    if (IsSkipped()) return;
    bus().writeUserDatabase({"alice"});
    storeFinger("alice", "alice_01_left_thumb");
  }

  // The signal listener, as `uid` when given; it has its match in place
  // when this returns.
  std::unique_ptr<BackgroundCommand> listen(const std::string &name, std::optional<uid_t> uid) {
    std::vector<std::string> argv = uid ? asUserPrefix(*uid) : std::vector<std::string>{};
    argv.push_back(ZYL_SIGNAL_LISTENER);
    argv.push_back((bus().root() / (name + ".stop")).string());
    auto listener = std::make_unique<BackgroundCommand>(argv, bus().busEnv(), bus().root() / (name + ".out"));
    EXPECT_TRUE(listener->waitForOutput("ready\n", Milliseconds(120000))) << name << ": " << listener->output();
    return listener;
  }
  // Stops a listener; the signals it received, one line each.
  std::vector<std::string> finish(const std::string &name, BackgroundCommand &listener) {
    std::ofstream(bus().root() / (name + ".stop")) << "stop";
    EXPECT_TRUE(listener.waitForOutput("done\n", Milliseconds(120000))) << name << ": " << listener.output();
    EXPECT_EQ(listener.wait(Milliseconds(120000)), 0) << name << ": " << listener.output();
    std::vector<std::string> lines;
    std::istringstream in(listener.output());
    for (std::string line; std::getline(in, line);)
      if (line != "ready" && line != "done") lines.push_back(line);
    return lines;
  }
};

TEST_F(AccessPolicy, EveryMethodCallOfAnotherUserIsRefusedByTheBusAndChangesNothing) {
  const fs::path trace = bus().root() / "trace.txt";
  start("device vid1:0x1024\n" + scenarioImages({"fvc2004_102_1.pgm"}), trace);

  // The table covers the whole interface.
  std::set<std::string> tabled;
  for (const Call &c : everyMethod()) tabled.insert(c.method);
  EXPECT_EQ(tabled, introspectedMethods(bus().introspectXml()));

  const auto filesBefore = snapshot(dataRoot());
  ASSERT_EQ(filesBefore.count("alice/alice_01_left_thumb"), 1u);
  const std::size_t trafficBefore = settledTrace(trace);
  bus().syslog().clear();

  for (const Call &c : everyMethod()) {
    const CommandResult r = bus().call(c.method, c.args, kNobody);
    EXPECT_NE(r.exitCode, 0) << c.method << " answered " << r.out;
    EXPECT_NE(r.err.find(kAccessDenied), std::string::npos) << c.method << ": " << r.err;
  }
  // The standard interfaces of the service's object are closed as well.
  const CommandResult introspect = runCommand(
      [] {
        auto argv = asUserPrefix(kNobody);
        for (const char *a : {"gdbus", "introspect", "--system", "--dest", kServiceName, "--object-path", kObjectPath})
          argv.push_back(a);
        return argv;
      }(),
      bus().busEnv());
  EXPECT_NE(introspect.exitCode, 0) << introspect.out;
  EXPECT_NE(introspect.err.find(kAccessDenied), std::string::npos) << introspect.err;

  // Every call of the service logs its name: none reached it.
  EXPECT_EQ(logged(), std::vector<std::string>{});
  EXPECT_EQ(settledTrace(trace), trafficBefore) << "the scanner was not touched";
  EXPECT_EQ(snapshot(dataRoot()), filesBefore);
  EXPECT_EQ(bus().callStringList("listfingers", {gvariantString("alice")}), std::vector<std::string>{"left_thumb"});
  EXPECT_TRUE(bus().isRunning(instance_));
}

TEST_F(AccessPolicy, AnotherUserHearsNoSignalWhileRootEnrols) {
  start("device vid1:0x1024\n" + scenarioImages({"fvc2004_102_1.pgm", "fvc2004_102_2.pgm", "fvc2004_102_1.pgm"}));
  auto asNobody = listen("nobody", kNobody);
  auto asRoot = listen("root", std::nullopt);

  bus().callVoid("openDevice", {"0"});
  bus().callVoid("enroll", {gvariantString("alice"), gvariantString("index")});
  ASSERT_EQ(enrolmentSignals(), enrolled("alice")) << diagnostics();
  // Root's listener, the same program, hears the whole enrolment.
  ASSERT_TRUE(asRoot->waitForOutput("enrollStatusChanged alice 0 \n", Milliseconds(120000))) << asRoot->output();
  const auto rootHeard = finish("root", *asRoot);
  EXPECT_GE(rootHeard.size(), enrolled("alice").size());
  EXPECT_EQ(finish("nobody", *asNobody), std::vector<std::string>{});
}

TEST_F(AccessPolicy, OnlyRootMayOwnTheName) {
  startAndWait(bus().scannerEnv(""));
  const auto requestName = [&](std::vector<std::string> argv) {
    for (const char *a : {"gdbus", "call", "--system", "--dest", "org.freedesktop.DBus", "--object-path",
                          "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.RequestName"})
      argv.push_back(a);
    argv.push_back(gvariantString(kServiceName));
    argv.push_back("4");  // do not queue
    return runCommand(argv, bus().busEnv());
  };
  CommandResult asNobody = requestName(asUserPrefix(kNobody));
  EXPECT_NE(asNobody.exitCode, 0);
  EXPECT_NE(asNobody.err.find(kAccessDenied), std::string::npos) << asNobody.err;
  // Root may ask; the name is taken, so the answer is "exists" (3).
  CommandResult asRoot = requestName({});
  EXPECT_EQ(asRoot.exitCode, 0) << asRoot.err;
  EXPECT_EQ(asRoot.out, "(uint32 3,)\n");
}

TEST_F(AccessPolicy, AGrantAsTheFileDescribesLetsThatUserIn) {
  startAndWait(bus().scannerEnv(""));
  ASSERT_NE(bus().call("getDeviceCount", {}, kNobody).exitCode, 0);

  // The administrator's own file, as the policy's comment shows it, then a
  // reload of the bus's configuration.
  std::ofstream(bus().root() / "grant.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <policy user=\"nobody\">\n"
         "    <allow send_destination=\"com.vyx.fingerprintdriver\"/>\n"
         "    <allow receive_sender=\"com.vyx.fingerprintdriver\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
  const fs::path config = bus().root() / "bus.conf";
  std::string text = readFileBytes(config);
  const std::size_t close = text.rfind("</busconfig>");
  ASSERT_NE(close, std::string::npos);
  text.insert(close, "  <include>" + (bus().root() / "grant.conf").string() + "</include>\n");
  std::ofstream(config, std::ios::trunc) << text;
  const CommandResult reload =
      runCommand({"gdbus", "call", "--system", "--dest", "org.freedesktop.DBus", "--object-path",
                  "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ReloadConfig"},
                 bus().busEnv());
  ASSERT_EQ(reload.exitCode, 0) << reload.err;

  const CommandResult call = bus().call("getDeviceCount", {}, kNobody);
  EXPECT_EQ(call.exitCode, 0) << call.err;
  EXPECT_EQ(call.out, "(0,)\n");
}

}  // namespace
}  // namespace zyl::test

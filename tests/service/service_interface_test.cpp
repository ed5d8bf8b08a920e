// The service's start-up and its D-Bus face: the exported interface, syslog
// reporting, and a second instance that finds the name taken.
#include <QString>
#include <QXmlStreamReader>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "service_fixture.h"

namespace zyl::test {
namespace {

constexpr char kDataRoot[] = "/usr/share/vyx-authentication/modes/zq3300/data/";

// Members of one interface in introspection order, each written as
// "name(type arg, ...) -> outTypes" (methods) or "name(type arg, ...)" (signals).
struct InterfaceMembers {
  std::vector<std::string> methods;
  std::vector<std::string> signalList;
};

InterfaceMembers membersOf(const std::string &xml, const std::string &interfaceName) {
  InterfaceMembers out;
  QXmlStreamReader reader(QString::fromStdString(xml));
  bool inInterface = false;
  std::string current, ins, outs;
  bool isSignal = false;
  while (!reader.atEnd()) {
    reader.readNext();
    const std::string name = reader.name().toString().toStdString();
    const auto attr = [&](const char *a) { return reader.attributes().value(a).toString().toStdString(); };
    if (reader.isStartElement()) {
      if (name == "interface") inInterface = attr("name") == interfaceName;
      if (!inInterface) continue;
      if (name == "method" || name == "signal") {
        current = attr("name");
        isSignal = name == "signal";
        ins.clear();
        outs.clear();
      } else if (name == "arg") {
        // Signal arguments are all "out"; they are listed like method inputs.
        if (!isSignal && attr("direction") == "out") {
          outs += attr("type");
        } else {
          if (!ins.empty()) ins += ", ";
          ins += attr("type") + " " + attr("name");
        }
      }
    } else if (reader.isEndElement() && inInterface) {
      if (name == "method") out.methods.push_back(current + "(" + ins + ")" + (outs.empty() ? "" : " -> " + outs));
      if (name == "signal") out.signalList.push_back(current + "(" + ins + ")");
      if (name == "interface") inInterface = false;
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  return out;
}

std::vector<std::string> scannerlessEnv(ServiceHarness &bus) {
  // Without a virtual scanner the service would look at this machine's USB.
  return virtualScannerLibrary().empty() ? std::vector<std::string>{} : bus.scannerEnv("");
}

using ServiceInterface = ServiceBusTest;

// The tables below, and the description installed for clients
// (service/com.vyx.FingerprintIndentifyDriver.xml), are what the running
// service answers to Introspect.
TEST_F(ServiceInterface, IntrospectedInterfaceEqualsMethodAndSignalTablesAndInstalledDescription) {
  startAndWait(scannerlessEnv(bus()));
  const InterfaceMembers members = membersOf(bus().introspectXml(), kInterface);

  const std::vector<std::string> methods = {
      "getDeviceName() -> s",
      "getDeviceCount() -> i",
      "setStorageType(i type)",
      "openDevice(i i)",
      "releaseDevice(i i)",
      "resetDevice(i i)",
      "enroll(s userId, s fingerName)",
      "stopEnroll()",
      "verify(s userId, i tryCount)",
      "verifyStop()",
      "deleteFingerByName(s userId, s fingerName)",
      "deleteAllFeatureByUserId(s userId)",
      "listfingers(s userId) -> as",
      "renamefingerName(s userId, s fingerName, s newName)",
      "exportAllDataFromDevice(s path)",
      "exportDataStop()",
      "importAllDataToDevice()",
      "importDataStop()",
  };
  const std::vector<std::string> signalList = {
      "enrollStatusChanged(s id, i code, s msg)",
      "verifyStatusChanged(s id, i code, s msg)",
      "DataExportStatus(s id, i code, s msg)",
      "DataImportStatus(s id, i code, s msg)",
      "restStatus(s id, i code, s msg)",
      "SendRegCmd(i deviceIndex, s pUid, i id, s featureDir, s featureFile)",
      "SendStopRegCmd(i deviceIndex)",
      "SendResetCmd(s dataPath)",
      "SendAuthCmd(i deviceIndex, s pUid, s featureDir, i tryCount)",
      "SendStopAuthCmd(i deviceIndex)",
  };
  EXPECT_EQ(members.methods, methods);
  EXPECT_EQ(members.signalList, signalList);

  std::ifstream file(ZYL_SERVICE_INTROSPECTION);
  ASSERT_TRUE(file) << "cannot read " << ZYL_SERVICE_INTROSPECTION;
  const std::string installed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const InterfaceMembers described = membersOf(installed, kInterface);
  EXPECT_EQ(described.methods, members.methods) << ZYL_SERVICE_INTROSPECTION;
  EXPECT_EQ(described.signalList, members.signalList) << ZYL_SERVICE_INTROSPECTION;
}

TEST_F(ServiceInterface, StartUpCreatesDataRootAndLogsToSyslogAtDebugLevel) {
  int instance = startAndWait(scannerlessEnv(bus()));
  const auto dataRoot = bus().hostPath(kDataRoot, instance);
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::is_directory(dataRoot); }))
      << bus().serviceOutput(instance);

  bus().syslog().clear();
  bus().callVoid("releaseDevice", {"3"});
  // Priority 15 is LOG_USER | LOG_DEBUG; the identity keeps its trailing
  // blank and LOG_PID adds the process id.
  const std::string expected = "vyx-fingerprint-driver [" + std::to_string(bus().pid(instance)) +
                               "]: vyx-fingerprint-driver     releaseDevice";
  const auto raw = bus().syslog().raw();
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_EQ(raw[0].rfind("<15>", 0), 0u) << raw[0];
  EXPECT_NE(raw[0].find(expected), std::string::npos) << raw[0];
}

TEST_F(ServiceInterface, DataRootThatCannotBeMadeIsReportedAndServiceRuns) {
  // A plain file where a directory of the data root's path should be.
  const auto blocker = bus().hostPath("/usr/share/vyx-authentication");
  std::filesystem::create_directories(blocker.parent_path());
  std::ofstream(blocker) << "not a directory";

  const int instance = startAndWait(scannerlessEnv(bus()));
  EXPECT_EQ(bus().callInt("getDeviceCount"), 0);
  const std::string output = bus().serviceOutput(instance);
  EXPECT_NE(output.find("mkdir error: QDir( \"/usr/share/vyx-authentication/modes/zq3300/data\""),
            std::string::npos)
      << output;
}

TEST_F(ServiceInterface, SecondInstanceFindsNameTakenAndIdles) {
  const auto env = scannerlessEnv(bus());
  const int first = startAndWait(env);
  const std::string owner = bus().nameOwner();
  ASSERT_EQ(owner, bus().uniqueNameOf(first));

  const int second = bus().startService(env);
  // Its connection appears on the bus when it has started, which a loaded
  // machine may take minutes to do.
  std::string secondName;
  const auto deadline = std::chrono::steady_clock::now() + kNameDeadline;
  while (secondName.empty() && bus().isRunning(second) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(Milliseconds(50));
    secondName = bus().uniqueNameOf(second);
  }
  ASSERT_FALSE(secondName.empty()) << bus().serviceOutput(second);
  EXPECT_EQ(bus().nameOwner(), owner);
  EXPECT_TRUE(bus().isRunning(second));
  // It says so where a person looks first, and in its log, naming the owner.
  const std::string refusal = "cannot take the name com.vyx.fingerprintdriver, serving nobody: it is owned by " + owner;
  EXPECT_TRUE(bus().waitForServiceOutput(second, refusal)) << bus().serviceOutput(second);
  EXPECT_TRUE(bus().syslog().waitFor(refusal, kEventDeadline));

  // It did not queue for the name either: the name stays free once the
  // first instance is gone, and the second goes on idling.
  bus().stopService(first);
  const auto released = std::chrono::steady_clock::now() + Milliseconds(60000);
  while (!bus().nameOwner().empty() && std::chrono::steady_clock::now() < released)
    std::this_thread::sleep_for(Milliseconds(20));
  std::this_thread::sleep_for(Milliseconds(300));
  EXPECT_EQ(bus().nameOwner(), "");
  EXPECT_TRUE(bus().isRunning(second));
}

TEST_F(ServiceInterface, WithoutAReachableBusItSaysWhyAndRuns) {
  // A bus address where no bus listens: the service cannot serve anyone,
  // keeps running as it would with the name taken, and says why on its
  // standard error and in its log, with the bus library's error.
  std::vector<std::string> env = scannerlessEnv(bus());
  const std::string absent = (bus().root() / "no-bus.sock").string();
  env.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + absent);
  const int instance = bus().startService(env);
  const std::string said = "vyx-fingerprint-driver: cannot reach the system bus, serving nobody: ";
  ASSERT_TRUE(bus().waitForServiceOutput(instance, said)) << bus().serviceOutput(instance);
  const std::string output = bus().serviceOutput(instance);
  const std::string line = output.substr(output.find(said));
  EXPECT_NE(line.find("org.freedesktop.DBus.Error."), std::string::npos) << line;
  EXPECT_TRUE(bus().syslog().waitFor("main   cannot reach the system bus, serving nobody: ", kEventDeadline));
  EXPECT_TRUE(bus().isRunning(instance));
  EXPECT_EQ(bus().nameOwner(), "");
}

}  // namespace
}  // namespace zyl::test

// Test harness for vyx-fingerprint-driver on a real, private system bus.
//
// A ServiceHarness owns a temporary directory holding a private dbus-daemon
// (configured like a system bus, with the service's own policy file), a
// catcher for the service's syslog lines and, per started service instance,
// the upper layers of overlays over "/usr", "/opt" and "/dev". Each instance
// runs unmodified in its own mount namespace, so the fixed paths it writes
// ("/usr/share/vyx-authentication/...", "/opt/vantor/db/vantor.db", the SDK's
// files under "/usr") land in the harness's directory and nothing on the
// machine changes. Clients are the standard gdbus tool; signals are recorded
// with a QtDBus client (SignalRecorder). See README.md beside this file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QDBusMessage>
#include <QObject>
#include <QVariantList>

namespace zyl::test {

inline constexpr char kServiceName[] = "com.vyx.fingerprintdriver";
inline constexpr char kObjectPath[] = "/com/vyx/fingerprintdriver";
inline constexpr char kInterface[] = "com.vyx.FingerprintIndentifyDriver";

using Milliseconds = std::chrono::milliseconds;

// How long a test waits for an event it expects (a signal, a file, a log
// line, a reply): minutes, since a machine busy with parallel builds, and
// the sanitizer build, may be slow to get there. An event that comes ends
// the wait at once.
inline constexpr Milliseconds kEventDeadline{180000};

struct CommandResult {
  int exitCode = -1;  // -1 when the command could not run or timed out
  std::string out;
  std::string err;
};

// Runs argv with the current environment plus `extraEnv` ("NAME=value"),
// capturing both outputs; the command is killed after `timeout`.
CommandResult runCommand(const std::vector<std::string> &argv,
                         const std::vector<std::string> &extraEnv = {},
                         Milliseconds timeout = Milliseconds(120000));

// The prefix that runs a command under another uid (and that uid as its
// group, without supplementary groups).
std::vector<std::string> asUserPrefix(uid_t uid);

// A command running in the background with stdout and stderr in one file;
// stopped (SIGTERM, then SIGKILL) when destroyed.
class BackgroundCommand {
 public:
  BackgroundCommand(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv,
                    const std::filesystem::path &outputFile);
  ~BackgroundCommand();
  BackgroundCommand(const BackgroundCommand &) = delete;
  BackgroundCommand &operator=(const BackgroundCommand &) = delete;

  std::string output() const;
  // Waits until the output holds `needle`; false when the command ended or
  // the time ran out first.
  bool waitForOutput(const std::string &needle, Milliseconds timeout);
  // Waits for the command to end by itself; its exit code, -1 after a
  // timeout (the command is then killed) or a death by signal.
  int wait(Milliseconds timeout);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = -1;
  std::filesystem::path outputFile_;
};

// Why the bus tests cannot run on this machine (not root, a missing tool,
// no mount namespaces or overlays), or empty when they can.
const std::string &busTestsUnavailableReason();

// Why a bus that starts the service itself (ActivatingBus) cannot run here
// (besides busTestsUnavailableReason: no process namespaces, no dbus-send),
// or empty when it can.
const std::string &activationUnavailableReason();

// A bus that starts the service itself on the first call for its name:
// `activationFile` is the text of the service's D-Bus activation file (its
// Exec= line names the program to run), put into the bus's service folder.
// The bus daemon runs in its own process namespace and in the mount
// namespace with overlays that instance 0 would get, so the service it
// starts writes where hostPath(path, 0) shows, and ending the bus ends
// every process it started.
struct ActivatingBus {
  std::string activationFile;
};

// Path of the virtual scanner library for LD_PRELOAD; empty when the build
// has none.
std::string virtualScannerLibrary();

// GVariant text of a string, as gdbus expects a string argument.
std::string gvariantString(const std::string &s);

// Values of gdbus's reply text "(v1, v2, ...)": ints, strings and string arrays.
struct ReplyValue {
  enum Kind { Int, String, StringList } kind = Int;
  long long i = 0;
  std::string s;
  std::vector<std::string> list;
};
std::optional<std::vector<ReplyValue>> parseGdbusReply(const std::string &text);

// Receives the datagrams that syslog() sends to "/dev/log".
class SyslogCatcher {
 public:
  explicit SyslogCatcher(const std::filesystem::path &socketPath);
  ~SyslogCatcher();
  SyslogCatcher(const SyslogCatcher &) = delete;
  SyslogCatcher &operator=(const SyslogCatcher &) = delete;

  // Raw datagrams, e.g. "<15>Dec 10 13:28:14 vyx-fingerprint-driver [42]: text".
  std::vector<std::string> raw() const;
  // Message texts (after "]: "), optionally only those of one process.
  std::vector<std::string> messages(pid_t pid = 0) const;
  // Waits until a message contains `needle`; true when one did.
  bool waitFor(const std::string &needle, Milliseconds timeout) const;
  void clear();

 private:
  void run();
  void drainLocked() const;
  int fd_ = -1;
  bool stop_ = false;
  mutable std::mutex mutex_;
  mutable std::vector<std::string> lines_;
  std::thread thread_;
};

class ServiceHarness {
 public:
  // Starts the private bus; the service itself starts with startService.
  ServiceHarness();
  // A bus that starts the service on demand (see ActivatingBus); use
  // setActivationEnvironment instead of startService.
  explicit ServiceHarness(const ActivatingBus &activating);
  ~ServiceHarness();
  ServiceHarness(const ServiceHarness &) = delete;
  ServiceHarness &operator=(const ServiceHarness &) = delete;

  const std::filesystem::path &root() const { return root_; }
  std::string busAddress() const;
  // Environment entries every client and service instance gets.
  std::vector<std::string> busEnv() const;

  // Where a file that instance `instance` sees at the absolute `servicePath`
  // (under "/usr", "/opt" or "/dev") is kept on the host. Files written there
  // before startService are what the instance finds; files the instance
  // writes appear there.
  std::filesystem::path hostPath(const std::string &servicePath, int instance = 0) const;

  // Writes the host framework's user database as instance `instance` will
  // find it ("/opt/vantor/db/vantor.db": table `user` with column `user_id`,
  // one row per id). Call before startService.
  void writeUserDatabase(const std::vector<std::string> &userIds, int instance = 0);

  // Starts a service instance in its own mount namespace with `extraEnv`
  // (e.g. LD_PRELOAD of the virtual scanner and its scenario); an entry of
  // `extraEnv` replaces the harness's own of the same name (such as
  // DBUS_SYSTEM_BUS_ADDRESS). Instances are numbered from 0 in start order;
  // the answer is the instance number.
  int startService(const std::vector<std::string> &extraEnv = {});
  pid_t pid(int instance) const { return instances_.at(instance).pid; }
  bool isRunning(int instance);
  // Stops an instance (SIGTERM, then SIGKILL) and waits for it.
  void stopService(int instance);
  // Standard output and error of an instance.
  std::string serviceOutput(int instance) const;
  // Waits until the instance's output holds `needle`; false when the time
  // ran out, or the instance ended without writing it.
  bool waitForServiceOutput(int instance, const std::string &needle,
                            Milliseconds timeout = kEventDeadline);

  // Unique bus name owning kServiceName, empty when none.
  std::string nameOwner();
  // Unique bus name of an instance's connection, found by its process id.
  std::string uniqueNameOf(int instance);
  // Waits, on the bus's own announcement, until kServiceName has an owner;
  // false after `timeout`, or at once when `instance` (if given) has ended.
  // A connection or a question that the loaded bus does not answer in time
  // is tried again until the deadline.
  bool waitForName(Milliseconds timeout = Milliseconds(180000), int instance = -1);

  // gdbus call of a method of the service's interface. `args` are GVariant
  // texts (see gvariantString). With `asUser` a non-root uid makes the call.
  CommandResult call(const std::string &method, const std::vector<std::string> &args = {},
                     std::optional<uid_t> asUser = std::nullopt);
  // Calls that must succeed, with their single result.
  void callVoid(const std::string &method, const std::vector<std::string> &args = {});
  long long callInt(const std::string &method, const std::vector<std::string> &args = {});
  std::string callString(const std::string &method, const std::vector<std::string> &args = {});
  std::vector<std::string> callStringList(const std::string &method,
                                          const std::vector<std::string> &args = {});
  // The service object's introspection XML.
  std::string introspectXml();

  SyslogCatcher &syslog() { return *syslog_; }

  // Environment entries ("NAME=value") the bus adds for the programs it
  // starts (org.freedesktop.DBus.UpdateActivationEnvironment), e.g. the
  // virtual scanner's scannerEnv. Throws when the bus refuses.
  void setActivationEnvironment(const std::vector<std::string> &entries);
  // The process id the bus knows for a connection's unique name; -1 when
  // it knows none.
  long long connectionPid(const std::string &uniqueName);
  // The bus daemon's output (with an activating bus also the output of the
  // programs it started).
  std::string busLog() const;

  // Environment that makes an instance see the scanners of a virtual scanner
  // scenario (text format: tests/vscanner/README.md); with `tracePath` the
  // scanner's traffic is recorded there. Throws when the build has no
  // virtual scanner.
  std::vector<std::string> scannerEnv(const std::string &scenario,
                                      const std::filesystem::path &tracePath = {});

 private:
  struct Instance {
    pid_t pid = -1;
    bool reaped = false;
  };
  void startBus();
  std::filesystem::path root_;
  std::optional<ActivatingBus> activating_;
  pid_t busPid_ = -1;
  std::unique_ptr<SyslogCatcher> syslog_;
  std::vector<Instance> instances_;
};

// One D-Bus signal as the recorder received it.
struct RecordedSignal {
  std::string member;
  std::string path;
  QVariantList args;
  std::string sender;
};

// A QtDBus client on the harness's bus that records every signal of the
// service's interface. Signals are delivered while a wait runs.
class SignalRecorder : public QObject {
  Q_OBJECT
 public:
  explicit SignalRecorder(const std::string &busAddress);
  ~SignalRecorder() override;

  // Waits for the next not yet taken signal named `member`.
  std::optional<RecordedSignal> waitFor(const std::string &member,
                                        Milliseconds timeout = kEventDeadline);
  // Lets signals arrive for `time`, then answers all received so far.
  std::vector<RecordedSignal> collect(Milliseconds time);
  bool connected() const { return connected_; }

 private slots:
  void onSignal(const QDBusMessage &message);

 private:
  QString connectionName_;
  bool connected_ = false;
  std::vector<RecordedSignal> received_;
  std::vector<bool> taken_;
};

}  // namespace zyl::test

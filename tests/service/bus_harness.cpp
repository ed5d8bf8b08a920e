#include "bus_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDBusReply>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

extern char **environ;

namespace fs = std::filesystem;

namespace zyl::test {
namespace {

using Clock = std::chrono::steady_clock;

void ensureQtApplication();

// A setting of the build (a macro), overridden by the environment variable of
// the same name.
std::string setting(const char *name, const char *builtIn) {
  const char *value = std::getenv(name);
  if (value && *value) return value;
  if (builtIn && *builtIn) return builtIn;
  throw std::runtime_error(std::string("not configured: ") + name);
}

#ifndef ZYL_VSCANNER_LIB
#define ZYL_VSCANNER_LIB ""
#endif

std::string serviceBinary() { return setting("ZYL_SERVICE_BIN", ZYL_SERVICE_BIN); }
std::string servicePolicy() { return setting("ZYL_SERVICE_POLICY", ZYL_SERVICE_POLICY); }

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const fs::path &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

fs::path makeTempDir(const char *prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
  // Clients that run as another user must reach the bus socket inside.
  chmod(pattern.c_str(), 0755);
  return pattern;
}

// The current environment with `extra` entries added or replacing same-named ones.
std::vector<std::string> mergedEnvironment(const std::vector<std::string> &extra) {
  std::set<std::string> overridden;
  for (const auto &entry : extra) overridden.insert(entry.substr(0, entry.find('=')));
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) {
    std::string entry(*e);
    if (!overridden.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char *> cStrings(std::vector<std::string> &strings) {
  std::vector<char *> out;
  for (auto &s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Starts argv with stdin from /dev/null and stdout and stderr into files.
// The child is killed when the test process dies, so a crashed or timed-out
// test leaves no bus or service behind.
pid_t spawn(std::vector<std::string> argv, const std::vector<std::string> &extraEnv,
            const fs::path &outPath, const fs::path &errPath) {
  std::vector<std::string> env = mergedEnvironment(extraEnv);
  std::vector<char *> cArgv = cStrings(argv);
  std::vector<char *> cEnv = cStrings(env);
  const bool oneFile = errPath == outPath;
  const char *outFile = outPath.c_str();
  const char *errFile = errPath.c_str();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: only async-signal-safe calls until exec.
  int in = open("/dev/null", O_RDONLY);
  int out = open(outFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = oneFile ? out : open(errFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0) _exit(127);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  execvpe(cArgv[0], cArgv.data(), cEnv.data());
  _exit(127);
}

// Waits for `pid` up to `timeout`; the exit code, or -1 after a timeout or a
// death by signal.
int waitFor(pid_t pid, Milliseconds timeout, bool *exited = nullptr) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (exited) *exited = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (r < 0) {
      if (exited) *exited = true;
      return -1;
    }
    if (Clock::now() >= deadline) {
      if (exited) *exited = false;
      return -1;
    }
    std::this_thread::sleep_for(Milliseconds(5));
  }
}

bool tryConnect(const fs::path &socketPath) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// Runs inside a new mount namespace: overlays over /usr, /opt and /dev whose
// upper layers are the instance's directories, the syslog catcher's socket
// over /dev/log, then the command. Arguments: instance dir, syslog socket,
// command...
constexpr char kNamespaceScript[] = R"(set -eu
inst=$1; logsock=$2; shift 2
for d in usr opt dev; do
  mkdir -p "$inst/$d.up" "$inst/$d.work"
  mount -t overlay overlay -o "lowerdir=/$d,upperdir=$inst/$d.up,workdir=$inst/$d.work" "/$d"
done
touch /dev/log
mount --bind "$logsock" /dev/log
exec "$@"
)";

// With `ownProcesses` the command also runs as process 1 of a new process
// namespace (with its own /proc): when it ends, or unshare is killed, the
// kernel ends every process it started.
std::vector<std::string> namespaceCommand(const fs::path &instanceDir, const fs::path &syslogSocket,
                                          const std::vector<std::string> &command,
                                          bool ownProcesses = false) {
  std::vector<std::string> argv = {"unshare", "--mount", "--propagation", "private"};
  if (ownProcesses)
    for (const char *a : {"--pid", "--fork", "--kill-child", "--mount-proc"}) argv.push_back(a);
  for (const char *a : {"--", "/bin/sh", "-c", kNamespaceScript, "sh"}) argv.push_back(a);
  argv.push_back(instanceDir.string());
  argv.push_back(syslogSocket.string());
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

// `extra` goes into the configuration as it is (service folders, limits).
std::string busConfig(const fs::path &socketPath, const std::string &policyFile,
                      const std::string &extra = {}) {
  // A system bus in miniature: EXTERNAL authentication and a policy that
  // denies owning names and calling methods unless a policy file allows it.
  return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" +
         socketPath.string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <policy user="root">
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Monitoring"/>
  </policy>
)" + extra + R"(  <include>)" +
         policyFile + R"(</include>
</busconfig>
)";
}

bool onPath(const std::string &tool) {
  const char *path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && access((fs::path(dir) / tool).c_str(), X_OK) == 0) return true;
  return false;
}

// Minimal reader of the GVariant text that gdbus prints.
class ReplyParser {
 public:
  explicit ReplyParser(const std::string &text) : t_(text) {}

  std::optional<std::vector<ReplyValue>> tuple() {
    std::vector<ReplyValue> values;
    skip();
    if (!eat('(')) return std::nullopt;
    for (;;) {
      skip();
      if (eat(')')) break;
      auto v = value();
      if (!v) return std::nullopt;
      values.push_back(*v);
      skip();
      if (eat(',')) continue;
      if (eat(')')) break;
      return std::nullopt;
    }
    skip();
    return p_ == t_.size() ? std::optional(values) : std::nullopt;
  }

 private:
  std::optional<ReplyValue> value() {
    skip();
    // Type annotations that gdbus puts before values it cannot print plainly.
    for (const char *prefix : {"@as ", "uint32 ", "int64 ", "uint64 ", "int16 ", "uint16 ", "byte "})
      if (t_.compare(p_, std::strlen(prefix), prefix) == 0) p_ += std::strlen(prefix);
    if (p_ >= t_.size()) return std::nullopt;
    ReplyValue v;
    char c = t_[p_];
    if (c == '[') {
      ++p_;
      v.kind = ReplyValue::StringList;
      skip();
      if (eat(']')) return v;
      for (;;) {
        auto s = string();
        if (!s) return std::nullopt;
        v.list.push_back(*s);
        skip();
        if (eat(',')) continue;
        if (eat(']')) return v;
        return std::nullopt;
      }
    }
    if (c == '\'' || c == '"') {
      auto s = string();
      if (!s) return std::nullopt;
      v.kind = ReplyValue::String;
      v.s = *s;
      return v;
    }
    std::size_t end = p_;
    if (end < t_.size() && t_[end] == '-') ++end;
    while (end < t_.size() && std::isdigit(static_cast<unsigned char>(t_[end]))) ++end;
    if (end == p_) return std::nullopt;
    v.kind = ReplyValue::Int;
    v.i = std::stoll(t_.substr(p_, end - p_));
    p_ = end;
    return v;
  }

  std::optional<std::string> string() {
    skip();
    if (p_ >= t_.size() || (t_[p_] != '\'' && t_[p_] != '"')) return std::nullopt;
    char quote = t_[p_++];
    std::string out;
    while (p_ < t_.size()) {
      char c = t_[p_++];
      if (c == quote) return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (p_ >= t_.size()) return std::nullopt;
      char e = t_[p_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'u':
        case 'U': {
          std::size_t digits = e == 'u' ? 4 : 8;
          if (p_ + digits > t_.size()) return std::nullopt;
          unsigned long cp = std::stoul(t_.substr(p_, digits), nullptr, 16);
          p_ += digits;
          appendUtf8(out, cp);
          break;
        }
        default: out += e;
      }
    }
    return std::nullopt;
  }

  static void appendUtf8(std::string &out, unsigned long cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  void skip() {
    while (p_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[p_]))) ++p_;
  }
  bool eat(char c) {
    if (p_ < t_.size() && t_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }

  const std::string &t_;
  std::size_t p_ = 0;
};

}  // namespace

CommandResult runCommand(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv,
                         Milliseconds timeout) {
  CommandResult result;
  fs::path dir = makeTempDir("zyl-cmd-");
  pid_t pid = spawn(argv, extraEnv, dir / "out", dir / "err");
  if (pid > 0) {
    bool exited = false;
    result.exitCode = waitFor(pid, timeout, &exited);
    if (!exited) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    result.out = readFile(dir / "out");
    result.err = readFile(dir / "err");
  } else {
    result.err = "cannot start " + argv.front();
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return result;
}

std::vector<std::string> asUserPrefix(uid_t uid) {
  const std::string id = std::to_string(uid);
  return {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
}

BackgroundCommand::BackgroundCommand(const std::vector<std::string> &argv,
                                     const std::vector<std::string> &extraEnv, const fs::path &outputFile)
    : outputFile_(outputFile) {
  pid_ = spawn(argv, extraEnv, outputFile, outputFile);
  if (pid_ <= 0) throw std::runtime_error("cannot start " + argv.front());
}

BackgroundCommand::~BackgroundCommand() {
  if (reaped_) return;
  kill(pid_, SIGTERM);
  bool exited = false;
  waitFor(pid_, Milliseconds(5000), &exited);
  if (!exited) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string BackgroundCommand::output() const { return readFile(outputFile_); }

bool BackgroundCommand::waitForOutput(const std::string &needle, Milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (output().find(needle) != std::string::npos) return true;
    if (reaped_ || Clock::now() >= deadline) return false;
    if (int status = 0; waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      continue;  // one more look at what it wrote before it ended
    }
    std::this_thread::sleep_for(Milliseconds(10));
  }
}

int BackgroundCommand::wait(Milliseconds timeout) {
  if (reaped_) return exitCode_;
  bool exited = false;
  exitCode_ = waitFor(pid_, timeout, &exited);
  if (!exited) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  reaped_ = true;
  return exitCode_;
}

const std::string &busTestsUnavailableReason() {
  static const std::string reason = [] () -> std::string {
    if (geteuid() != 0) return "the service tests need root (mount namespaces, overlays)";
    for (const char *tool : {"dbus-daemon", "gdbus", "unshare", "setpriv", "mount"})
      if (!onPath(tool)) return std::string("the service tests need the tool ") + tool;
    // A dry run of the namespace set-up that every service instance gets.
    fs::path dir = makeTempDir("zyl-nscheck-");
    writeFile(dir / "log", "");
    CommandResult r = runCommand(namespaceCommand(dir / "inst", dir / "log", {"true"}));
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    if (r.exitCode != 0)
      return "cannot run a service in a private mount namespace with overlays: " + r.err;
    return {};
  }();
  return reason;
}

const std::string &activationUnavailableReason() {
  static const std::string reason = [] () -> std::string {
    if (!onPath("dbus-send")) return "the activation tests need the tool dbus-send";
    fs::path dir = makeTempDir("zyl-pidcheck-");
    writeFile(dir / "log", "");
    CommandResult r = runCommand(namespaceCommand(dir / "inst", dir / "log", {"true"}, true));
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    if (r.exitCode != 0) return "cannot run a bus in its own process namespace: " + r.err;
    return {};
  }();
  return reason;
}

std::string virtualScannerLibrary() {
  const char *value = std::getenv("ZYL_VSCANNER_LIB");
  return value && *value ? value : ZYL_VSCANNER_LIB;
}

std::string gvariantString(const std::string &s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

std::optional<std::vector<ReplyValue>> parseGdbusReply(const std::string &text) {
  return ReplyParser(text).tuple();
}

// ---------------------------------------------------------------- syslog

SyslogCatcher::SyslogCatcher(const fs::path &socketPath) {
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.string().size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long");
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot bind the syslog socket: " + std::string(strerror(errno)));
  chmod(socketPath.c_str(), 0666);
  thread_ = std::thread([this] { run(); });
}

SyslogCatcher::~SyslogCatcher() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  thread_.join();
  close(fd_);
}

void SyslogCatcher::drainLocked() const {
  char buffer[8192];
  for (;;) {
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return;
    std::string line(buffer, static_cast<std::size_t>(n));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\0')) line.pop_back();
    lines_.push_back(std::move(line));
  }
}

void SyslogCatcher::run() {
  // Keeps the socket drained so that a service that logs a lot never blocks
  // on a full queue while a test waits for something else.
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, 50);
    std::lock_guard lock(mutex_);
    if (stop_) return;
    drainLocked();
  }
}

std::vector<std::string> SyslogCatcher::raw() const {
  // A line logged before a D-Bus reply is already queued on the socket when
  // the reply arrives, so draining here makes the answer exact.
  std::lock_guard lock(mutex_);
  drainLocked();
  return lines_;
}

std::vector<std::string> SyslogCatcher::messages(pid_t pid) const {
  std::vector<std::string> out;
  const std::string tag = pid > 0 ? "[" + std::to_string(pid) + "]: " : "]: ";
  for (const auto &line : raw()) {
    std::size_t at = line.find(tag);
    if (at != std::string::npos) out.push_back(line.substr(at + tag.size()));
  }
  return out;
}

bool SyslogCatcher::waitFor(const std::string &needle, Milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    for (const auto &line : raw())
      if (line.find(needle) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Milliseconds(10));
  }
}

void SyslogCatcher::clear() {
  std::lock_guard lock(mutex_);
  drainLocked();
  lines_.clear();
}

// ---------------------------------------------------------------- harness

ServiceHarness::ServiceHarness() : root_(makeTempDir("zyl-service-")) {
  syslog_ = std::make_unique<SyslogCatcher>(root_ / "syslog.sock");
  startBus();
}

ServiceHarness::ServiceHarness(const ActivatingBus &activating)
    : root_(makeTempDir("zyl-service-")), activating_(activating) {
  syslog_ = std::make_unique<SyslogCatcher>(root_ / "syslog.sock");
  startBus();
}

ServiceHarness::~ServiceHarness() {
  for (std::size_t i = 0; i < instances_.size(); ++i) stopService(static_cast<int>(i));
  if (busPid_ > 0 && activating_) {
    // unshare's child, the bus, dies with it, and with the bus, process 1 of
    // its namespace, every service it started.
    kill(busPid_, SIGKILL);
    waitpid(busPid_, nullptr, 0);
  } else if (busPid_ > 0) {
    kill(busPid_, SIGTERM);
    if (bool exited = false; waitFor(busPid_, Milliseconds(3000), &exited), !exited) {
      kill(busPid_, SIGKILL);
      waitpid(busPid_, nullptr, 0);
    }
  }
  syslog_.reset();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void ServiceHarness::startBus() {
  const fs::path socketPath = root_ / "bus.sock";
  std::vector<std::string> daemon = {"dbus-daemon", "--config-file=" + (root_ / "bus.conf").string(),
                                     "--nofork", "--nopidfile", "--nosyslog"};
  if (activating_) {
    // The bus runs the activation file's Exec= line itself (no launch
    // helper, no systemd). A service started under the sanitizers on a
    // loaded machine may need minutes to take its name: the bus waits ten.
    const fs::path services = root_ / "services";
    fs::create_directories(services);
    writeFile(services / (std::string(kServiceName) + ".service"), activating_->activationFile);
    writeFile(root_ / "bus.conf",
              busConfig(socketPath, servicePolicy(),
                        "  <servicedir>" + services.string() + "</servicedir>\n"
                        "  <limit name=\"service_start_timeout\">600000</limit>\n"));
    // The programs it starts inherit its environment: the bus address, and
    // a sanitizer build's acceptance of a preloaded library.
    std::vector<std::string> env = busEnv();
    std::string asan = "verify_asan_link_order=0";
    if (const char *a = std::getenv("ASAN_OPTIONS"); a && *a) asan = std::string(a) + ":" + asan;
    env.push_back("ASAN_OPTIONS=" + asan);
    busPid_ = spawn(namespaceCommand(root_ / "inst0", root_ / "syslog.sock", daemon, true), env,
                    root_ / "bus.log", root_ / "bus.log");
  } else {
    writeFile(root_ / "bus.conf", busConfig(socketPath, servicePolicy()));
    busPid_ = spawn(daemon, {}, root_ / "bus.log", root_ / "bus.log");
  }
  if (busPid_ <= 0) throw std::runtime_error("cannot start dbus-daemon");
  // A loaded machine may take long to start the daemon; one that died is
  // noticed at once.
  const auto deadline = Clock::now() + Milliseconds(120000);
  while (!tryConnect(socketPath)) {
    if (Clock::now() >= deadline || waitpid(busPid_, nullptr, WNOHANG) == busPid_)
      throw std::runtime_error("the private bus did not come up: " + readFile(root_ / "bus.log"));
    std::this_thread::sleep_for(Milliseconds(10));
  }
}

std::string ServiceHarness::busAddress() const { return "unix:path=" + (root_ / "bus.sock").string(); }

std::vector<std::string> ServiceHarness::busEnv() const {
  return {"DBUS_SYSTEM_BUS_ADDRESS=" + busAddress()};
}

fs::path ServiceHarness::hostPath(const std::string &servicePath, int instance) const {
  fs::path p(servicePath);
  auto it = p.begin();
  if (p.is_relative() || ++it == p.end()) throw std::invalid_argument("not an overlaid path: " + servicePath);
  const std::string top = it->string();
  if (top != "usr" && top != "opt" && top != "dev") throw std::invalid_argument("not an overlaid path: " + servicePath);
  fs::path out = root_ / ("inst" + std::to_string(instance)) / (top + ".up");
  for (++it; it != p.end(); ++it) out /= *it;
  return out;
}

void ServiceHarness::writeUserDatabase(const std::vector<std::string> &userIds, int instance) {
  const fs::path file = hostPath("/opt/vantor/db/vantor.db", instance);
  fs::create_directories(file.parent_path());
  fs::remove(file);
  static int counter = 0;
  const QString connection = QStringLiteral("zyl-userdb-%1").arg(++counter);
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(QString::fromStdString(file.string()));
    if (!db.open()) throw std::runtime_error("cannot create " + file.string());
    QSqlQuery query(db);
    // The framework's table has more columns; the service reads only user_id.
    if (!query.exec(QStringLiteral("CREATE TABLE user (id INTEGER PRIMARY KEY, user_id TEXT, name TEXT)")))
      throw std::runtime_error(query.lastError().text().toStdString());
    for (const auto &id : userIds) {
      query.prepare(QStringLiteral("INSERT INTO user (user_id, name) VALUES (:user_id, :user_id)"));
      query.bindValue(QStringLiteral(":user_id"), QString::fromStdString(id));
      if (!query.exec()) throw std::runtime_error(query.lastError().text().toStdString());
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(connection);
}

int ServiceHarness::startService(const std::vector<std::string> &extraEnv) {
  const int instance = static_cast<int>(instances_.size());
  const fs::path dir = root_ / ("inst" + std::to_string(instance));
  fs::create_directories(dir);
  std::vector<std::string> env = busEnv();
  // A sanitizer build must accept a preloaded library (the virtual scanner)
  // that comes before its runtime.
  std::string asan = "verify_asan_link_order=0";
  if (const char *a = std::getenv("ASAN_OPTIONS"); a && *a) asan = std::string(a) + ":" + asan;
  env.push_back("ASAN_OPTIONS=" + asan);
  // A preloaded library reaches the service alone: `env` sets it at the
  // last exec, so the namespace's helper programs (unshare, sh, mount) never
  // load it. A library built for a sanitizer may not load into them.
  std::vector<std::string> command = {serviceBinary()};
  for (const std::string &e : extraEnv) {
    if (e.rfind("LD_PRELOAD=", 0) == 0) {
      command = {"env", e, serviceBinary()};
      continue;
    }
    const std::string name = e.substr(0, e.find('=') + 1);
    env.erase(std::remove_if(env.begin(), env.end(),
                             [&](const std::string &own) { return own.rfind(name, 0) == 0; }),
              env.end());
    env.push_back(e);
  }
  pid_t pid = spawn(namespaceCommand(dir, root_ / "syslog.sock", command), env, dir / "service.log",
                    dir / "service.log");
  if (pid <= 0) throw std::runtime_error("cannot start the service");
  instances_.push_back({pid, false});
  return instance;
}

std::vector<std::string> ServiceHarness::scannerEnv(const std::string &scenario, const fs::path &tracePath) {
  const std::string library = virtualScannerLibrary();
  if (library.empty()) throw std::runtime_error("this build has no virtual scanner");
  static int counter = 0;
  const fs::path file = root_ / ("scenario" + std::to_string(counter++) + ".txt");
  writeFile(file, scenario);
  std::vector<std::string> env = {"LD_PRELOAD=" + library, "VSCANNER_SCENARIO=" + file.string()};
  if (!tracePath.empty()) env.push_back("VSCANNER_TRACE=" + tracePath.string());
  return env;
}

bool ServiceHarness::isRunning(int instance) {
  Instance &in = instances_.at(instance);
  if (in.reaped) return false;
  if (waitpid(in.pid, nullptr, WNOHANG) == in.pid) in.reaped = true;
  return !in.reaped;
}

void ServiceHarness::stopService(int instance) {
  Instance &in = instances_.at(instance);
  if (in.reaped) return;
  kill(in.pid, SIGTERM);
  bool exited = false;
  waitFor(in.pid, Milliseconds(5000), &exited);
  if (!exited) {
    kill(in.pid, SIGKILL);
    waitpid(in.pid, nullptr, 0);
  }
  in.reaped = true;
}

std::string ServiceHarness::serviceOutput(int instance) const {
  return readFile(root_ / ("inst" + std::to_string(instance)) / "service.log");
}

bool ServiceHarness::waitForServiceOutput(int instance, const std::string &needle, Milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    // Whether it still runs is asked first: an instance that wrote the
    // needle and then ended is still found by the read that follows.
    const bool running = isRunning(instance);
    if (serviceOutput(instance).find(needle) != std::string::npos) return true;
    if (!running || Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Milliseconds(20));
  }
}

namespace {

CommandResult busCall(const std::vector<std::string> &env, const std::string &method,
                      const std::vector<std::string> &args) {
  std::vector<std::string> argv = {"gdbus", "call", "--system", "--dest", "org.freedesktop.DBus",
                                   "--object-path", "/org/freedesktop/DBus", "--method",
                                   "org.freedesktop.DBus." + method};
  argv.insert(argv.end(), args.begin(), args.end());
  return runCommand(argv, env);
}

std::string singleString(const CommandResult &r) {
  if (r.exitCode != 0) return {};
  auto values = parseGdbusReply(r.out);
  if (!values || values->size() != 1 || (*values)[0].kind != ReplyValue::String) return {};
  return (*values)[0].s;
}

}  // namespace

void ServiceHarness::setActivationEnvironment(const std::vector<std::string> &entries) {
  std::string dict = "{";
  for (const std::string &e : entries) {
    const std::size_t eq = e.find('=');
    if (eq == std::string::npos) throw std::invalid_argument("not NAME=value: " + e);
    if (dict.size() > 1) dict += ", ";
    dict += gvariantString(e.substr(0, eq)) + ": " + gvariantString(e.substr(eq + 1));
  }
  dict += "}";
  CommandResult r = busCall(busEnv(), "UpdateActivationEnvironment", {"@a{ss} " + dict});
  if (r.exitCode != 0) throw std::runtime_error("UpdateActivationEnvironment failed: " + r.err);
}

long long ServiceHarness::connectionPid(const std::string &uniqueName) {
  CommandResult r = busCall(busEnv(), "GetConnectionUnixProcessID", {gvariantString(uniqueName)});
  auto values = parseGdbusReply(r.out);
  if (r.exitCode != 0 || !values || values->size() != 1 || (*values)[0].kind != ReplyValue::Int) return -1;
  return (*values)[0].i;
}

std::string ServiceHarness::busLog() const { return readFile(root_ / "bus.log"); }

std::string ServiceHarness::nameOwner() {
  return singleString(busCall(busEnv(), "GetNameOwner", {gvariantString(kServiceName)}));
}

std::string ServiceHarness::uniqueNameOf(int instance) {
  CommandResult r = busCall(busEnv(), "ListNames", {});
  auto values = parseGdbusReply(r.out);
  if (r.exitCode != 0 || !values || values->size() != 1) return {};
  for (const auto &name : (*values)[0].list) {
    if (name.empty() || name[0] != ':') continue;
    CommandResult p = busCall(busEnv(), "GetConnectionUnixProcessID", {gvariantString(name)});
    auto pidValue = parseGdbusReply(p.out);
    if (p.exitCode == 0 && pidValue && pidValue->size() == 1 && (*pidValue)[0].i == pid(instance))
      return name;
  }
  return {};
}

bool ServiceHarness::waitForName(Milliseconds timeout, int instance) {
  ensureQtApplication();
  static int counter = 0;
  const auto deadline = Clock::now() + timeout;
  // Each question to the bus may take as long as it needs within the
  // deadline (libdbus's own default of 25 s is no limit on a loaded machine).
  const auto remaining = [&] {
    return static_cast<int>(std::max<long long>(
        1000, std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count()));
  };
  bool owned = false;
  while (!owned && Clock::now() < deadline) {
    // An instance that has ended will never take the name.
    if (instance >= 0 && !isRunning(instance)) break;
    const QString connectionName = QStringLiteral("zyl-name-watch-%1").arg(++counter);
    {
      QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(busAddress()), connectionName);
      if (bus.isConnected()) {
        // The bus announces the new owner (NameOwnerChanged); the watcher's
        // match rule is in force once the question below has come back, so
        // a name taken before that is seen by the question and one taken
        // after it by the watcher. A question without an answer is asked
        // again, so a lost announcement cannot hide the name either.
        QDBusServiceWatcher watcher(QString::fromLatin1(kServiceName), bus,
                                    QDBusServiceWatcher::WatchForRegistration);
        QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, [&owned] { owned = true; });
        while (!owned && Clock::now() < deadline) {
          QDBusMessage question = QDBusMessage::createMethodCall(
              "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
          question << QString::fromLatin1(kServiceName);
          const QDBusReply<bool> registered = bus.call(question, QDBus::Block, remaining());
          if (registered.isValid() && registered.value()) owned = true;
          if (!bus.isConnected()) break;
          const auto nextQuestion = std::min(deadline, Clock::now() + Milliseconds(5000));
          while (!owned && Clock::now() < nextQuestion) {
            if (instance >= 0 && !isRunning(instance)) break;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 200);
          }
          if (instance >= 0 && !isRunning(instance)) break;
        }
      }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    if (!owned) std::this_thread::sleep_for(Milliseconds(200));
  }
  return owned;
}

CommandResult ServiceHarness::call(const std::string &method, const std::vector<std::string> &args,
                                   std::optional<uid_t> asUser) {
  std::vector<std::string> argv;
  if (asUser) argv = asUserPrefix(*asUser);
  const std::string replyTimeout = std::to_string(kEventDeadline.count() / 1000);
  for (const char *a : {"gdbus", "call", "--system", "--timeout", replyTimeout.c_str(), "--dest", kServiceName,
                        "--object-path", kObjectPath, "--method"})
    argv.push_back(a);
  argv.push_back(std::string(kInterface) + "." + method);
  // Negative numbers would read as options.
  argv.push_back("--");
  argv.insert(argv.end(), args.begin(), args.end());
  return runCommand(argv, busEnv(), kEventDeadline + Milliseconds(20000));
}

namespace {

ReplyValue single(const CommandResult &r, const std::string &method, ReplyValue::Kind kind) {
  if (r.exitCode != 0) throw std::runtime_error(method + " failed: " + r.err);
  auto values = parseGdbusReply(r.out);
  if (!values || values->size() != 1 || (*values)[0].kind != kind)
    throw std::runtime_error(method + " answered an unexpected reply: " + r.out);
  return (*values)[0];
}

}  // namespace

void ServiceHarness::callVoid(const std::string &method, const std::vector<std::string> &args) {
  CommandResult r = call(method, args);
  auto values = parseGdbusReply(r.out);
  if (r.exitCode != 0 || !values || !values->empty())
    throw std::runtime_error(method + " failed: " + r.err + r.out);
}

long long ServiceHarness::callInt(const std::string &method, const std::vector<std::string> &args) {
  return single(call(method, args), method, ReplyValue::Int).i;
}

std::string ServiceHarness::callString(const std::string &method, const std::vector<std::string> &args) {
  return single(call(method, args), method, ReplyValue::String).s;
}

std::vector<std::string> ServiceHarness::callStringList(const std::string &method,
                                                        const std::vector<std::string> &args) {
  return single(call(method, args), method, ReplyValue::StringList).list;
}

std::string ServiceHarness::introspectXml() {
  CommandResult r = runCommand(
      {"gdbus", "introspect", "--system", "--dest", kServiceName, "--object-path", kObjectPath, "--xml"},
      busEnv());
  if (r.exitCode != 0) throw std::runtime_error("introspection failed: " + r.err);
  return r.out;
}

// ---------------------------------------------------------------- signals

namespace {

void ensureQtApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "service_tests";
  static char *argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
}

}  // namespace

SignalRecorder::SignalRecorder(const std::string &busAddress) {
  ensureQtApplication();
  static int counter = 0;
  connectionName_ = QStringLiteral("zyl-recorder-%1").arg(++counter);
  QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(busAddress), connectionName_);
  if (!bus.isConnected()) return;
  // Any sender: a restarted service has a new unique name.
  connected_ = bus.connect(QString(), QString::fromLatin1(kObjectPath), QString::fromLatin1(kInterface),
                           QString(), this, SLOT(onSignal(QDBusMessage)));
  // One round trip: the bus handles a connection's messages in order, so the
  // match rule is in force once this answer is back.
  // A loaded bus may take long to answer: the wait is the events' deadline,
  // not libdbus's default of 25 s.
  bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                          "org.freedesktop.DBus", "GetId"),
           QDBus::Block, static_cast<int>(kEventDeadline.count()));
}

SignalRecorder::~SignalRecorder() { QDBusConnection::disconnectFromBus(connectionName_); }

void SignalRecorder::onSignal(const QDBusMessage &message) {
  received_.push_back({message.member().toStdString(), message.path().toStdString(), message.arguments(),
                       message.service().toStdString()});
  taken_.push_back(false);
}

std::optional<RecordedSignal> SignalRecorder::waitFor(const std::string &member, Milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    for (std::size_t i = 0; i < received_.size(); ++i) {
      if (!taken_[i] && received_[i].member == member) {
        taken_[i] = true;
        return received_[i];
      }
    }
    if (Clock::now() >= deadline) return std::nullopt;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(Milliseconds(2));
  }
}

std::vector<RecordedSignal> SignalRecorder::collect(Milliseconds time) {
  const auto deadline = Clock::now() + time;
  while (Clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(Milliseconds(2));
  }
  return received_;
}

}  // namespace zyl::test

// Shared set-up of the service's enrolment, verification and storage tests:
// a service instance with the virtual scanner, a signal recorder, the user
// directories as the instance sees them and helpers that wait for results.
#pragma once

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service_fixture.h"
#include "support/pgm.h"

namespace zyl::test {

inline constexpr char kDataRoot[] = "/usr/share/vyx-authentication/modes/zq3300/data/";
inline constexpr int kFingerFileSize = 61440;
inline constexpr int kSlotSize = 20480;

// The messages of the enrolment signal.
inline const QString kDuplicateName = QString::fromUtf8("{\u201Csubcode\u201D:\u201C2}");
inline const QString kAlreadyEnrolled = QStringLiteral("{\"subcode\":2}");
inline const QString kEnrollFailed = QStringLiteral("{\"subcode\":3}");
inline QString progressMessage(int progress) {
  return QStringLiteral("{\"msg\":\"enroll Stage Passed !\",\"progress\": %1}").arg(progress);
}

// A status signal's arguments.
struct Status {
  QString id;
  int code = -1;
  QString msg;
  bool operator==(const Status &o) const { return id == o.id && code == o.code && msg == o.msg; }
};
inline std::ostream &operator<<(std::ostream &out, const Status &s) {
  return out << "(" << s.id.toStdString() << ", " << s.code << ", " << s.msg.toStdString() << ")";
}

// "image <path>" lines of a scenario, for files of tests/data.
inline std::string scenarioImages(const std::vector<std::string> &names) {
  std::string out;
  for (const auto &name : names) out += "image " + zyl::test::test_data(name) + "\n";
  return out;
}

inline std::string readFileBytes(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ServiceWorkersTest : public ServiceWithScannersTest {
 protected:
  void start(const std::string &scenario, const std::filesystem::path &trace = {}) {
    recorder_ = std::make_unique<SignalRecorder>(bus().busAddress());
    ASSERT_TRUE(recorder_->connected());
    instance_ = startAndWait(bus().scannerEnv(scenario, trace));
  }

  std::filesystem::path dataRoot() { return bus().hostPath(kDataRoot, instance_); }
  std::filesystem::path userDir(const std::string &user) { return bus().hostPath(kDataRoot + user, instance_); }

  // Names of the files in a user's directory, sorted.
  std::vector<std::string> filesOf(const std::string &user) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(userDir(user), ignored))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Writes a stored finger file as the service would find it.
  void storeFinger(const std::string &user, const std::string &fileName, const std::string &content = {}) {
    std::filesystem::create_directories(userDir(user));
    std::ofstream(userDir(user) / fileName, std::ios::binary)
        << (content.empty() ? std::string(kFingerFileSize, '\0') : content);
  }

  static Status statusOf(const RecordedSignal &signal) {
    return {signal.args.value(0).toString(), signal.args.value(1).toInt(), signal.args.value(2).toString()};
  }

  // The next status signal named `member`; code -1 when none came in time.
  Status next(const std::string &member, Milliseconds timeout = kEventDeadline) {
    auto signal = recorder_->waitFor(member, timeout);
    return signal ? statusOf(*signal) : Status{};
  }

  // Enrolment signals up to and including the first that is not progress.
  std::vector<Status> enrolmentSignals(Milliseconds timeout = kEventDeadline) {
    std::vector<Status> out;
    for (;;) {
      Status s = next("enrollStatusChanged", timeout);
      out.push_back(s);
      if (s.code != 2) return out;
    }
  }

  // The signals of a successful enrolment of `user`.
  static std::vector<Status> enrolled(const QString &user) {
    std::vector<Status> out;
    for (int p : {0, 30, 60, 90, 100}) out.push_back({user, 2, progressMessage(p)});
    out.push_back({user, 0, ""});
    return out;
  }

  // No further signal named `member` within `time`.
  bool quiet(const std::string &member, Milliseconds time = Milliseconds(300)) {
    return !recorder_->waitFor(member, time);
  }

  std::vector<std::string> logged() { return bus().syslog().messages(bus().pid(instance_)); }
  bool loggedLine(const std::string &needle) {
    for (const auto &line : logged())
      if (line.find(needle) != std::string::npos) return true;
    return false;
  }
  std::string diagnostics() {
    std::string out = "service output:\n" + bus().serviceOutput(instance_) + "\nsyslog:\n";
    for (const auto &line : logged()) out += line + "\n";
    return out;
  }

  // Scenario lines that make the first capture wait until release() (the
  // large sensor's capture reply blocks).
  std::string blockedCapture() { return "release_file " + releaseFile().string() + "\n"; }
  static constexpr char kBlockFirstCapture[] = "fault reply=0x90 block\n";
  std::filesystem::path releaseFile() { return bus().root() / "release"; }
  void release() { std::ofstream(releaseFile()) << "go"; }

  // Lines of the scanner's trace file.
  static std::vector<std::string> traceLines(const std::filesystem::path &trace) {
    std::vector<std::string> lines;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Waits until the trace shows `count` capture commands; the read of the
  // last one's reply follows at once.
  // The deadline is generous: a loaded machine may be slow to get there.
  static bool waitForCaptures(const std::filesystem::path &trace, int count) {
    const auto deadline = std::chrono::steady_clock::now() + kEventDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto lines = traceLines(trace);
      if (std::count_if(lines.begin(), lines.end(), [](const std::string &l) {
            return l.find("# capture") != std::string::npos;
          }) >= count)
        return true;
      std::this_thread::sleep_for(Milliseconds(10));
    }
    return false;
  }

  // Waits until the trace has not grown for a while; its number of lines.
  static std::size_t settledTrace(const std::filesystem::path &trace) {
    std::size_t lines = traceLines(trace).size();
    for (int quietPolls = 0, i = 0; quietPolls < 20 && i < 1000; ++i) {
      std::this_thread::sleep_for(Milliseconds(10));
      const std::size_t now = traceLines(trace).size();
      quietPolls = now == lines ? quietPolls + 1 : 0;
      lines = now;
    }
    return lines;
  }

  std::unique_ptr<SignalRecorder> recorder_;
  int instance_ = 0;
};

}  // namespace zyl::test

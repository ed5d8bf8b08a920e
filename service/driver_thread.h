// Base of the service's workers. A worker lives on one of the adaptor's
// threads and runs exactly one command, received through a queued signal.
// The adaptor asks it to stop by writing its stop flag, which the command
// polls between steps, and waits for the command to return before it ends
// the thread: a worker is never killed while it runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <QObject>
#include <QString>

class DriverThread : public QObject {
  Q_OBJECT

 public:
  explicit DriverThread(QObject *parent = nullptr) : QObject(parent) {}
  ~DriverThread() override = default;

  // Called from the adaptor's thread while the worker's command runs. The
  // flag starts clear and only ever gets set, so a stop that comes before
  // the command begins is kept.
  void requestStop();
  // Blocks the calling (adaptor's) thread until the command has returned.
  void waitUntilFinished();

  // Seconds of the wall clock, the unit of the workers' time limits.
  static long currentSeconds();

  // 0 when the 20480-byte feature buffer matches one of the finger files in
  // `featureDir` (security level 5), 1 otherwise.
  int verifyByTemp(const unsigned char *feature, const QString &featureDir);

 protected:
  // Captures of at least this quality give templates.
  static constexpr int kMinQuality = 60;
  // Whole seconds after which a capture loop gives up.
  static constexpr long kTimeLimitSeconds = 49;

  bool stopRequested() const { return m_stop.load() != 0; }
  // Zeroes the 20480-byte feature buffer and extracts the template of the
  // last capture into it, with the debug lines on standard output; the
  // SDK's answer.
  int extractFeature(unsigned char *feature);
  // Marks the command as returned; every command calls it once, after its
  // result signal.
  void commandFinished();

  // Written by the adaptor's thread and read by the worker's: atomics keep
  // both sides well defined without a lock.
  std::atomic<int> m_deviceIndex{-1};
  std::atomic<int> m_stop{0};
  // Copy of the adaptor's SDK device handle; the adaptor owns the device.
  void *m_handle = nullptr;

 private:
  std::mutex m_finishMutex;
  std::condition_variable m_finishedChanged;
  bool m_finished = false;
};

// Base of the service's workers. A worker lives on one of the adaptor's
// threads, receives its command through a queued signal and is asked to stop
// by the adaptor writing its stop flag, which the worker polls between steps.
#pragma once

#include <atomic>

#include <QObject>

class DriverThread : public QObject {
  Q_OBJECT

 public:
  explicit DriverThread(QObject *parent = nullptr) : QObject(parent) {}
  ~DriverThread() override = default;

  // Called from the adaptor's thread while the worker's command runs.
  void requestStop();

  // Seconds of the wall clock, the unit of the workers' time limits.
  static long currentSeconds();

 protected:
  // Written by the adaptor's thread and read by the worker's: atomics keep
  // both sides well defined without a lock.
  std::atomic<int> m_deviceIndex{-1};
  std::atomic<int> m_stop{0};
  // Copy of the adaptor's SDK device handle; the adaptor owns the device.
  void *m_handle = nullptr;
};

#include "fingerprint_driver_service.h"

#include <array>
#include <cstring>

#include <QDebug>
#include <QDir>

#include "auth_action.h"
#include "reg_action.h"
#include "reset_action.h"
#include "service_log.h"
#include "zylscan/zylfpscan.h"

using vyx::logDebug;

namespace {

// How long ending a worker waits for its thread before terminating it.
constexpr unsigned long kWorkerEndTimeoutMs = 5000;

}  // namespace

void ensureDir(const QString &dir) {
  QDir d(dir);
  if (!d.exists() && !d.mkpath(dir)) qDebug() << "mkdir error:" << d;
}

vyxFingerprintDriverDbusService::vyxFingerprintDriverDbusService(QObject *parent)
    : QDBusAbstractAdaptor(parent) {
  vyx::openServiceLog();
  setAutoRelaySignals(true);
  ensureDir(QString::fromLatin1(kDataRoot));
}

vyxFingerprintDriverDbusService::~vyxFingerprintDriverDbusService() {
  endWorker(m_authThread, m_authAction);
  endWorker(m_resetThread, m_resetAction);
  endWorker(m_regThread, m_regAction);
  if (m_handle) closeHandle();
  vyx::closeServiceLog();
}

template <typename Worker>
void vyxFingerprintDriverDbusService::endWorker(QThread &thread, Worker *&worker) {
  // A worker whose command has ended waits in its thread's event loop, and
  // quitting that loop ends the thread cleanly; terminating it there could
  // kill it while it holds a lock of the event dispatcher. Only a thread that
  // does not finish in time (a command still inside a scanner call) is
  // terminated.
  if (worker) worker->requestStop();
  thread.quit();
  if (!thread.wait(kWorkerEndTimeoutMs)) {
    thread.terminate();
    thread.wait();
  }
  delete worker;
  worker = nullptr;
}

template <typename Worker, typename Connect>
Worker *vyxFingerprintDriverDbusService::wireWorker(QThread &thread, Worker *&worker,
                                                    Connect connectSignals) {
  // An earlier worker of this kind may still run its command: it is asked to
  // stop and its thread ended before the worker is deleted.
  endWorker(thread, worker);
  worker = new Worker(m_handle, nullptr);
  connectSignals(worker);
  worker->moveToThread(&thread);
  thread.start(QThread::InheritPriority);
  return worker;
}

QString vyxFingerprintDriverDbusService::userFeatureDir(const QString &userId) {
  return QStringLiteral("%1%2").arg(QString::fromLatin1(kDataRoot), userId);
}

bool vyxFingerprintDriverDbusService::checkstate() const { return m_state == DeviceStateClaimed; }

bool vyxFingerprintDriverDbusService::workerRunning() const {
  return m_regThread.isRunning() || m_resetThread.isRunning() || m_authThread.isRunning();
}

void vyxFingerprintDriverDbusService::closeHandle() {
  ZYLFPSCAN_CloseDevice(&m_handle);
  m_handle = nullptr;
  ZYLFPSCAN_GlobalFree();
}

int vyxFingerprintDriverDbusService::getDeviceCount() {
  int count = 0;
  return ZYLFPSCAN_GetDeviceCount(&count) == 0 ? count : 0;
}

void vyxFingerprintDriverDbusService::openDevice(int i) {
  logDebug("vyx-fingerprint-driver     openDevice   i: %d", i);
  if (i == m_deviceIndex) return;
  if (m_state == DeviceStateClaimed) {
    logDebug("vyx-fingerprint-driver    openDevice   m_state == DeviceStateClaimed");
    return;
  }
  int count = 0;
  if (ZYLFPSCAN_GetDeviceCount(&count) != 0) {
    logDebug("vyx-fingerprint-driver   openDevice    FPDEV_GetDevCount ret != 0");
    return;
  }
  if (i >= count) {
    // The handle given up here must be closed too: a handle dropped while
    // open keeps its index marked open in the SDK, and every later open of
    // that index fails. A running worker still uses the handle, so it stays
    // untouched until that worker has ended.
    if (m_handle && !workerRunning()) closeHandle();
    logDebug("vyx-fingerprint-driver   openDevice    deviceNum - 1 < i");
    return;
  }
  if (m_handle) return;

  int ret = ZYLFPSCAN_GlobalInit();
  logDebug("vyx-fingerprint-driver    openDevice    ZYLFPSCAN_GlobalInit111   ret :%d", ret);
  if (ret != 0 && ret != ZYLFPSCAN_ERR_ALREADY_INIT) {
    logDebug("vyx-fingerprint-driver    openDevice    ZYLFPSCAN_GlobalInit   ret != 0");
    return;
  }
  ret = ZYLFPSCAN_OpenDevice(&m_handle, i);
  logDebug("vyx-fingerprint-driver    openDevice    ZYLFPSCAN_OpenDevice   ret :%d", ret);
  if (ret == 0) {
    m_deviceIndex = i;
    m_state = DeviceStateClaimed;
    m_action = ActionIdle;
  } else {
    logDebug("vyx-fingerprint-driver    openDevice    FPDEV_Init   ret != 0");
  }
}

void vyxFingerprintDriverDbusService::releaseDevice(int) {
  logDebug("vyx-fingerprint-driver     releaseDevice");
  if (m_handle) closeHandle();
  m_state = DeviceStateReleased;
  m_deviceIndex = -1;
  m_action = ActionIdle;
}

QString vyxFingerprintDriverDbusService::getDeviceName() {
  logDebug("vyx-fingerprint-driver     getDeviceName");
  // A worker owns the scanner while it runs: answer the name read before
  // rather than talk to the device under it.
  if (workerRunning()) return m_deviceName;

  const bool openedHere = m_handle == nullptr;
  if (openedHere) {
    openDevice(0);
    if (!m_handle) return QString();
  }
  std::array<char, ZYLFPSCAN_DESCRIPTION_SIZE> description{};
  ZYLFPSCAN_GetDeviceDescription(0, reinterpret_cast<unsigned char *>(description.data()));
  // Only a scanner opened for this call is closed again; one that the
  // framework claimed stays claimed.
  if (openedHere) releaseDevice(0);

  const char *name = description.data() + ZYLFPSCAN_DESCRIPTION_NAME_OFFSET;
  m_deviceName = QString::fromLatin1(name, static_cast<int>(strnlen(name, ZYLFPSCAN_DESCRIPTION_NAME_SIZE)));
  return m_deviceName;
}

void vyxFingerprintDriverDbusService::setStorageType(int type) { m_storageType = type; }

// Enrolment, verification, storage management and reset run on the workers;
// until they are built these methods accept their calls and do nothing.
void vyxFingerprintDriverDbusService::resetDevice(int) {}
void vyxFingerprintDriverDbusService::enroll(QString, QString) {}
void vyxFingerprintDriverDbusService::stopEnroll() {}
void vyxFingerprintDriverDbusService::verify(QString userId, int tryCount) {
  m_userId = userId;
  if (!checkstate()) return;
  if (getDeviceCount() < 1) {
    emit verifyStatusChanged(m_userId, 1, QString());
    return;
  }
  m_action = ActionVerifying;
  wireWorker(m_authThread, m_authAction, [this](CAuthAction *worker) {
    connect(this, &vyxFingerprintDriverDbusService::SendAuthCmd, worker, &CAuthAction::RecvAuthCmd);
    connect(this, &vyxFingerprintDriverDbusService::SendStopAuthCmd, worker, &CAuthAction::RecvStopAuthCmd);
    connect(worker, &CAuthAction::SendAuthResult, this, &vyxFingerprintDriverDbusService::RecvAuthResult);
  });
  emit SendAuthCmd(m_deviceIndex, userId, userFeatureDir(userId), tryCount);
}

void vyxFingerprintDriverDbusService::RecvAuthResult(QString, int code, int) {
  // A result still queued from a worker that a newer verify already ended
  // belongs to no running verification.
  if (sender() != m_authAction) return;
  endWorker(m_authThread, m_authAction);
  m_state = DeviceStateReleased;
  emit verifyStatusChanged(m_userId, code, QString());
}

// Stopping a running verification comes with the verification worker's
// capture loop.
void vyxFingerprintDriverDbusService::verifyStop() {}
void vyxFingerprintDriverDbusService::deleteFingerByName(QString, QString) {}
void vyxFingerprintDriverDbusService::deleteAllFeatureByUserId(QString) {}
QStringList vyxFingerprintDriverDbusService::listfingers(QString) { return {}; }
void vyxFingerprintDriverDbusService::renamefingerName(QString, QString, QString) {}

void vyxFingerprintDriverDbusService::RecvRegResult(QString, int, int) {}
void vyxFingerprintDriverDbusService::RecvRegStatus(QString, int) {}
void vyxFingerprintDriverDbusService::RecvResetResult(int) {}

// Data export and import are not offered by these scanners; the methods exist
// because the framework's interface has them.
void vyxFingerprintDriverDbusService::exportAllDataFromDevice(QString) {}
void vyxFingerprintDriverDbusService::exportDataStop() {}
void vyxFingerprintDriverDbusService::importAllDataToDevice() {}
void vyxFingerprintDriverDbusService::importDataStop() {}

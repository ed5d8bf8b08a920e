#include "fingerprint_driver_service.h"

#include <climits>
#include <cstring>

#include <array>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "auth_action.h"
#include "finger_store.h"
#include "reg_action.h"
#include "reset_action.h"
#include "service_log.h"
#include "zylscan/zylfpscan.h"

using vyx::logDebug;

namespace {

// The result messages of the enrolment signal.
// The duplicate-name message is malformed JSON (typographic quotes, one left
// open) but it is what this signal has always carried, and clients may
// compare it byte for byte: keep it exactly.
const QString kDuplicateNameMessage = QString::fromUtf8("{\u201Csubcode\u201D:\u201C2}");
const QString kAlreadyEnrolledMessage = QStringLiteral("{\"subcode\":2}");
const QString kEnrollFailedMessage = QStringLiteral("{\"subcode\":3}");

QString dataRoot() { return QString::fromLatin1(vyx::kDataRoot); }

}  // namespace

vyxFingerprintDriverDbusService::vyxFingerprintDriverDbusService(QObject *parent)
    : QDBusAbstractAdaptor(parent) {
  vyx::openServiceLog();
  setAutoRelaySignals(true);
  vyx::ensureDir(dataRoot());
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
  // Terminating a thread could kill it inside malloc or syslog with their
  // locks held. The command is asked to stop and comes back at its next
  // check (a scanner call in progress finishes first); the thread then
  // leaves its event loop by itself.
  if (worker) {
    worker->requestStop();
    worker->waitUntilFinished();
  }
  thread.quit();
  thread.wait();
  delete worker;
  worker = nullptr;
}

template <typename Worker>
void vyxFingerprintDriverDbusService::finishRun(QThread &thread, Worker *&worker) {
  if (!worker) return;
  logDebug("vyx-fingerprint-driver     finishRun   stop and wait for the running worker");
  worker->requestStop();
  worker->waitUntilFinished();
  // The command has returned, so its progress and result signals are queued
  // here; delivering them now reports that run before anything new starts,
  // and its result slot ends the worker.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  if (worker) endWorker(thread, worker);
}

void vyxFingerprintDriverDbusService::finishAllRuns() {
  finishRun(m_authThread, m_authAction);
  finishRun(m_regThread, m_regAction);
  finishRun(m_resetThread, m_resetAction);
}

template <typename Worker, typename Connect>
Worker *vyxFingerprintDriverDbusService::wireWorker(QThread &thread, Worker *&worker, Connect connectSignals) {
  endWorker(thread, worker);
  worker = new Worker(m_handle, nullptr);
  connectSignals(worker);
  worker->moveToThread(&thread);
  thread.start(QThread::InheritPriority);
  return worker;
}

bool vyxFingerprintDriverDbusService::checkstate() const { return m_state == DeviceStateClaimed; }

bool vyxFingerprintDriverDbusService::workerRunning() const {
  return m_regAction || m_resetAction || m_authAction;
}

void vyxFingerprintDriverDbusService::closeHandle() {
  ZYLFPSCAN_CloseDevice(&m_handle);
  m_handle = nullptr;
  ZYLFPSCAN_GlobalFree();
}

// ---------------------------------------------------------------- device

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
  // The log lines keep their established texts, older call names and this
  // "111" included: log filters in the field match them.
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
  // Workers use the handle: each running one is stopped and has returned
  // (and reported) before the scanner closes under it.
  finishAllRuns();
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

// ---------------------------------------------------------------- enrolment

void vyxFingerprintDriverDbusService::enroll(QString userId, QString fingerName) {
  logDebug("vyx-fingerprint-driver     enroll   userId: %s    fingerName: %s", qPrintable(userId),
           qPrintable(fingerName));
  const QString featureDir = vyx::userFeatureDir(userId);
  m_userId = userId;
  m_fingerName = fingerName;
  // Both names become parts of a file path.
  if (!vyx::isSafeName(userId) || !vyx::isSafeName(fingerName)) {
    logDebug("vyx-fingerprint-driver     enroll   refused name");
    emit enrollStatusChanged(userId, 1, kEnrollFailedMessage);
    return;
  }
  if (m_authAction || m_resetAction) {
    logDebug("vyx-fingerprint-driver     enroll   device busy");
    emit enrollStatusChanged(userId, 1, kEnrollFailedMessage);
    return;
  }
  // An enrolment still running ends (and reports) first, so that the file
  // it may have written counts for the name check and the id.
  finishRun(m_regThread, m_regAction);

  if (vyx::getSameFinger(vyx::scanFingerFiles(featureDir), fingerName)) {
    logDebug("vyx-fingerprint-driver     enroll   getSameFinger(pFileNameMap,_enrollName)==1)//手指名重复");
    emit enrollStatusChanged(userId, 1, kDuplicateNameMessage);
    return;
  }
  const int id = vyx::nextFingerId(featureDir);
  const QString pUid = QStringLiteral("%1%2").arg(userId, vyx::paddedFingerId(id));
  const QString featureFile = vyx::fingerFilePath(featureDir, userId, id, fingerName);
  // A name too long for the file system would fail only after three
  // captures; it is refused before the first.
  if (QFile::encodeName(QFileInfo(featureFile).fileName()).size() > NAME_MAX) {
    logDebug("vyx-fingerprint-driver     enroll   refused name");
    emit enrollStatusChanged(userId, 1, kEnrollFailedMessage);
    return;
  }
  logDebug("vyx-fingerprint-driver     enroll   pUid: %s", qPrintable(pUid));

  m_action = ActionEnrolling;
  m_regUserId = userId;
  wireWorker(m_regThread, m_regAction, [this](CRegAction *worker) {
    connect(this, &vyxFingerprintDriverDbusService::SendRegCmd, worker, &CRegAction::RecvRegCmd);
    connect(this, &vyxFingerprintDriverDbusService::SendStopRegCmd, worker, &CRegAction::RecvStopRegCmd);
    connect(worker, &CRegAction::SendRegResult, this, &vyxFingerprintDriverDbusService::RecvRegResult);
    connect(worker, &CRegAction::SendRegStatus, this, &vyxFingerprintDriverDbusService::RecvRegStatus);
  });
  emit SendRegCmd(m_deviceIndex, pUid, id, featureDir, featureFile);
}

void vyxFingerprintDriverDbusService::stopEnroll() {
  logDebug("vyx-fingerprint-driver    stopEnroll");
  if (m_action != ActionEnrolling) return;
  if (!checkstate()) {
    logDebug("vyx-fingerprint-driver    stopEnroll   !checkstate()");
    // A running enrolment is stopped even so: a run started after an
    // earlier result released the claim would otherwise go on until its
    // time limit.
    if (!m_regAction) return;
  }
  m_action = ActionEnrollStopAsked;
  if (m_regAction) m_regAction->stop();
}

void vyxFingerprintDriverDbusService::RecvRegStatus(QString pUid, int progress) {
  if (sender() != m_regAction) return;
  logDebug("vyx-fingerprint-driver    RecvRegStatus   pUid: %s   progress: %d", qPrintable(pUid), progress);
  emit enrollStatusChanged(m_regUserId, 2,
                           QStringLiteral("{\"msg\":\"enroll Stage Passed !\",\"progress\": %1}").arg(progress));
}

void vyxFingerprintDriverDbusService::RecvRegResult(QString pUid, int code, int subCode) {
  if (sender() != m_regAction) return;
  logDebug("vyx-fingerprint-driver    RecvRegResult   pUid: %s   code: %d   subCode: %d", qPrintable(pUid), code,
           subCode);
  endWorker(m_regThread, m_regAction);
  m_state = DeviceStateReleased;
  QString message;
  if (code == 1) message = subCode == 2 ? kAlreadyEnrolledMessage : kEnrollFailedMessage;
  emit enrollStatusChanged(m_regUserId, code, message);
}

// ---------------------------------------------------------------- verification

void vyxFingerprintDriverDbusService::verify(QString userId, int tryCount) {
  m_userId = userId;
  // Without a claimed scanner, a bad user id or a scanner busy with another
  // worker no run starts; the framework still gets its result.
  if (!checkstate() || !vyx::isSafeName(userId) || m_regAction || m_resetAction) {
    emit verifyStatusChanged(userId, 1, QString());
    return;
  }
  // A verification still running ends (and reports) first.
  finishRun(m_authThread, m_authAction);
  if (getDeviceCount() < 1) {
    emit verifyStatusChanged(userId, 1, QString());
    return;
  }
  m_action = ActionVerifying;
  m_authUserId = userId;
  wireWorker(m_authThread, m_authAction, [this](CAuthAction *worker) {
    connect(this, &vyxFingerprintDriverDbusService::SendAuthCmd, worker, &CAuthAction::RecvAuthCmd);
    connect(this, &vyxFingerprintDriverDbusService::SendStopAuthCmd, worker, &CAuthAction::RecvStopAuthCmd);
    connect(worker, &CAuthAction::SendAuthResult, this, &vyxFingerprintDriverDbusService::RecvAuthResult);
  });
  emit SendAuthCmd(m_deviceIndex, userId, vyx::userFeatureDir(userId), tryCount);
}

void vyxFingerprintDriverDbusService::RecvAuthResult(QString, int code, int) {
  if (sender() != m_authAction) return;
  endWorker(m_authThread, m_authAction);
  m_state = DeviceStateReleased;
  emit verifyStatusChanged(m_authUserId, code, QString());
}

void vyxFingerprintDriverDbusService::verifyStop() {
  logDebug("vyx-fingerprint-driver     verifyStop()");
  m_action = ActionVerifyStopAsked;
  // releaseDevice stops the running verification and waits until it has
  // returned and reported before the scanner closes; no fixed pause is
  // needed.
  releaseDevice(0);
}

// ---------------------------------------------------------------- storage

QStringList vyxFingerprintDriverDbusService::listfingers(QString userId) {
  QStringList names;
  if (!vyx::isSafeName(userId) || !vyx::userExists(userId)) return names;
  const QString featureDir = vyx::userFeatureDir(userId);
  if (!QDir(featureDir).exists()) {
    logDebug("vyx-fingerprint-driver    listfingers    !dir.exists()    featureDir: %s", qPrintable(featureDir));
    return names;
  }
  for (const vyx::FingerFile &file : vyx::listFingerFiles(featureDir)) names << file.fingerName;
  return names;
}

void vyxFingerprintDriverDbusService::renamefingerName(QString userId, QString fingerName, QString newName) {
  if (!vyx::isSafeName(userId) || !vyx::isSafeName(newName) || !vyx::userExists(userId)) return;
  const QString featureDir = vyx::userFeatureDir(userId);
  if (!QDir(featureDir).exists()) return;
  for (const vyx::FingerFile &file : vyx::listFingerFiles(featureDir)) {
    if (file.fingerName != fingerName) continue;
    // QFile::rename never replaces an existing file: a name already taken
    // leaves both files as they are.
    QFile::rename(file.path, QStringLiteral("%1/%2_%3_%4").arg(featureDir, userId, file.idText, newName));
  }
}

void vyxFingerprintDriverDbusService::deleteFingerByName(QString userId, QString fingerName) {
  if (!vyx::isSafeName(userId) || !vyx::userExists(userId)) return;
  const QString featureDir = vyx::userFeatureDir(userId);
  if (!QDir(featureDir).exists()) return;
  for (const vyx::FingerFile &file : vyx::listFingerFiles(featureDir)) {
    if (file.fingerName != fingerName) continue;
    QFile::remove(file.path);
    if (vyx::directoryHoldsNoFiles(featureDir)) vyx::removePath(featureDir);
    return;
  }
}

void vyxFingerprintDriverDbusService::deleteAllFeatureByUserId(QString userId) {
  logDebug("vyx-fingerprint-driver    deleteAllFeatureByUserId   userId: %s", qPrintable(userId));
  if (vyx::isSafeName(userId) && vyx::userExists(userId)) vyx::removePath(vyx::userFeatureDir(userId));
}

// ---------------------------------------------------------------- reset

void vyxFingerprintDriverDbusService::resetDevice(int i) {
  logDebug("vyx-fingerprint-driver     resetDevice   i: %d ", i);
  if (m_regAction || m_authAction) {
    logDebug("vyx-fingerprint-driver     resetDevice   device busy");
    emit restStatus(QString(), 3, QString());
    return;
  }
  finishRun(m_resetThread, m_resetAction);
  openDevice(i);
  if (!m_handle) {
    emit restStatus(QString(), 3, QString());
    return;
  }
  wireWorker(m_resetThread, m_resetAction, [this](CResetAction *worker) {
    connect(this, &vyxFingerprintDriverDbusService::SendResetCmd, worker, &CResetAction::RecvResetCmd);
    connect(worker, &CResetAction::SendResetResult, this, &vyxFingerprintDriverDbusService::RecvResetResult);
  });
  emit SendResetCmd(dataRoot());
}

void vyxFingerprintDriverDbusService::RecvResetResult(int code) {
  if (sender() != m_resetAction) return;
  endWorker(m_resetThread, m_resetAction);
  m_state = DeviceStateReleased;
  if (code != 0) {
    emit restStatus(QString(), code, QString());
    return;
  }
  vyx::removePath(dataRoot());
  releaseDevice(0);
  emit restStatus(QString(), 0, QString());
}

// Data export and import are not offered by these scanners; the methods exist
// because the framework's interface has them.
void vyxFingerprintDriverDbusService::exportAllDataFromDevice(QString) {}
void vyxFingerprintDriverDbusService::exportDataStop() {}
void vyxFingerprintDriverDbusService::importAllDataToDevice() {}
void vyxFingerprintDriverDbusService::importDataStop() {}

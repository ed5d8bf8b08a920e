// The D-Bus adaptor of vyx-fingerprint-driver: the whole interface
// "com.vyx.FingerprintIndentifyDriver" that the host authentication framework
// calls, the device state it tracks, and the three worker threads on which
// enrolment, verification and reset run.
//
// One device worker runs at a time: a call that needs the scanner while a
// worker of another kind holds it ends at once with its failure signal; a
// second call of the same kind stops the earlier run, waits for it to
// return and reports its result before it starts. The scanner is closed only
// when no worker uses it.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QString>
#include <QStringList>
#include <QThread>

class CRegAction;
class CResetAction;
class CAuthAction;

class vyxFingerprintDriverDbusService : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.vyx.FingerprintIndentifyDriver")

 public:
  enum DeviceState { DeviceStateReleased = 1, DeviceStateClaimed = 2 };
  enum Action {
    ActionIdle = 1,
    ActionEnrolling = 2,
    ActionEnrollStopAsked = 3,
    ActionVerifying = 4,
    ActionVerifyStopAsked = 5,
  };

  explicit vyxFingerprintDriverDbusService(QObject *parent);
  ~vyxFingerprintDriverDbusService() override;

  // True while a scanner is claimed through openDevice.
  bool checkstate() const;

 public slots:
  QString getDeviceName();
  int getDeviceCount();
  void setStorageType(int type);
  void openDevice(int i);
  void releaseDevice(int i);
  void resetDevice(int i);
  void enroll(QString userId, QString fingerName);
  void stopEnroll();
  void verify(QString userId, int tryCount);
  void verifyStop();
  void deleteFingerByName(QString userId, QString fingerName);
  void deleteAllFeatureByUserId(QString userId);
  QStringList listfingers(QString userId);
  void renamefingerName(QString userId, QString fingerName, QString newName);
  void exportAllDataFromDevice(QString path);
  void exportDataStop();
  void importAllDataToDevice();
  void importDataStop();

 signals:
  void enrollStatusChanged(QString id, int code, QString msg);
  void verifyStatusChanged(QString id, int code, QString msg);
  void DataExportStatus(QString id, int code, QString msg);
  void DataImportStatus(QString id, int code, QString msg);
  void restStatus(QString id, int code, QString msg);
  void SendRegCmd(int deviceIndex, QString pUid, int id, QString featureDir, QString featureFile);
  void SendStopRegCmd(int deviceIndex);
  void SendResetCmd(QString dataPath);
  void SendAuthCmd(int deviceIndex, QString pUid, QString featureDir, int tryCount);
  void SendStopAuthCmd(int deviceIndex);

 private slots:
  void RecvRegResult(QString pUid, int code, int subCode);
  void RecvRegStatus(QString pUid, int progress);
  void RecvResetResult(int code);
  void RecvAuthResult(QString pUid, int code, int subCode);

 private:
  // True while a worker object exists, from its start until its result
  // has been handled: the scanner then belongs to that worker and the
  // adaptor must not use or close it.
  bool workerRunning() const;
  // Closes the open scanner and ends the SDK session (no state change).
  void closeHandle();

  // Makes a new worker of one kind on its thread, lets `connectSignals` wire
  // it to the adaptor and starts the thread.
  template <typename Worker, typename Connect>
  Worker *wireWorker(QThread &thread, Worker *&worker, Connect connectSignals);
  // Ends a worker: asks it to stop, waits until its command has returned,
  // quits its thread's event loop, waits for the thread, deletes the worker
  // and clears the pointer. A worker is never terminated.
  template <typename Worker>
  static void endWorker(QThread &thread, Worker *&worker);
  // Ends a running worker and reports its result: asks it to stop, waits
  // for its command to return, then delivers its queued signals (progress
  // and result) to this adaptor at once, whose result slot ends it.
  template <typename Worker>
  void finishRun(QThread &thread, Worker *&worker);
  // Ends every running worker, reporting each result.
  void finishAllRuns();

  int m_state = DeviceStateReleased;
  int m_storageType = 0;
  int m_deviceIndex = -1;
  int m_action = ActionIdle;
  QString m_fingerName;
  QString m_userId;
  // The user of the running enrolment and of the running verification:
  // each result goes out with the id of the call that started that run.
  QString m_regUserId;
  QString m_authUserId;
  void *m_handle = nullptr;
  QThread m_regThread;
  CRegAction *m_regAction = nullptr;
  QThread m_resetThread;
  CResetAction *m_resetAction = nullptr;
  QThread m_authThread;
  CAuthAction *m_authAction = nullptr;
  // Name of scanner 0 from the last description read, answered by
  // getDeviceName while a worker holds the scanner.
  QString m_deviceName;
};

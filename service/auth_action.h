// Verification worker: captures one good image and compares its template with
// the user's stored finger files.
#pragma once

#include <QString>

#include "driver_thread.h"

class CAuthAction : public DriverThread {
  Q_OBJECT

 public:
  CAuthAction(void *handle, QObject *parent);
  ~CAuthAction() override = default;

  void stop();

  // 0 when the first good capture matches one of the user's files, 1
  // otherwise (also when stopped, out of time or without a scanner).
  int verifyFingerprint(const QString &pUid, const QString &featureDir, long startTime);

 signals:
  void SendAuthResult(QString uid, int code, int subCode);

 public slots:
  void RecvAuthCmd(int deviceIndex, QString pUid, QString featureDir, int tryCount);
  void RecvStopAuthCmd(int deviceIndex);
};

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

 signals:
  void SendAuthResult(QString uid, int code, int subCode);

 public slots:
  void RecvAuthCmd(int deviceIndex, QString pUid, QString featureDir, int tryCount);
  void RecvStopAuthCmd(int deviceIndex);
};

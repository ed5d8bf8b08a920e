// Enrolment worker: captures three good templates of one finger and stores
// them as the user's next finger file.
#pragma once

#include <QString>

#include "driver_thread.h"

class CRegAction : public DriverThread {
  Q_OBJECT

 public:
  CRegAction(void *handle, QObject *parent);
  ~CRegAction() override = default;

  void stop();

 signals:
  void SendRegResult(QString uid, int code, int subCode);
  void SendRegStatus(QString uid, int progress);

 public slots:
  void RecvRegCmd(int deviceIndex, QString pUid, int id, QString featureDir, QString featureFile);
  void RecvStopRegCmd(int deviceIndex);

 private:
  struct Result {
    int code;
    int subCode;
  };
  // The capture loop: the result that RecvRegCmd reports.
  Result enrollFinger(const QString &pUid, const QString &featureDir, const QString &featureFile);
};

// Reset worker: clears every user's fingers from the scanner's on-host
// database before the adaptor removes the stored files.
#pragma once

#include <QString>

#include "driver_thread.h"

class CResetAction : public DriverThread {
  Q_OBJECT

 public:
  CResetAction(void *handle, QObject *parent);
  ~CResetAction() override = default;

 signals:
  void SendResetResult(int code);

 public slots:
  void RecvResetCmd(QString dataPath);
};

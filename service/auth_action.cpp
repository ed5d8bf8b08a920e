#include "auth_action.h"

#include "service_log.h"

CAuthAction::CAuthAction(void *handle, QObject *parent) : DriverThread(parent) { m_handle = handle; }

void CAuthAction::stop() { requestStop(); }

void CAuthAction::RecvAuthCmd(int deviceIndex, QString pUid, QString featureDir, int tryCount) {
  vyx::logDebug(
      "vyx-fingerprint-driver    RecvAuthCmd   deviceIndex: %d   pUid: %s    featureDir: %s    "
      "tryCount: %d",
      deviceIndex, qPrintable(pUid), qPrintable(featureDir), tryCount);
  // The capture loop is not built yet: report a failure so that the adaptor
  // ends the run and the framework gets its result.
  emit SendAuthResult(pUid, 1, 1);
}

void CAuthAction::RecvStopAuthCmd(int) { requestStop(); }

#include "reg_action.h"

#include "service_log.h"

CRegAction::CRegAction(void *handle, QObject *parent) : DriverThread(parent) { m_handle = handle; }

void CRegAction::stop() {
  vyx::logDebug("vyx-fingerprint-driver    stop");
  requestStop();
}

void CRegAction::RecvRegCmd(int deviceIndex, QString pUid, int id, QString featureDir,
                            QString featureFile) {
  vyx::logDebug(
      "vyx-fingerprint-driver    RecvRegCmd   deviceIndex: %d   pUid: %s   id: %d   featureDir: %s   "
      "featureFile: %s",
      deviceIndex, qPrintable(pUid), id, qPrintable(featureDir), qPrintable(featureFile));
  // The capture loop is not built yet: report a failure so that the adaptor
  // ends the run and the framework gets its result.
  emit SendRegResult(pUid, 1, 1);
}

void CRegAction::RecvStopRegCmd(int deviceIndex) {
  vyx::logDebug("vyx-fingerprint-driver    RecvStopRegCmd   deviceIndex: %d", deviceIndex);
  requestStop();
}

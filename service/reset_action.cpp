#include "reset_action.h"

#include "service_log.h"

CResetAction::CResetAction(void *handle, QObject *parent) : DriverThread(parent) { m_handle = handle; }

void CResetAction::RecvResetCmd(QString dataPath) {
  vyx::logDebug("vyx-fingerprint-driver    RecvResetCmd   dataPath: %s", qPrintable(dataPath));
  // Clearing the scanner's on-host database is not built yet: report a
  // failure, so that the adaptor removes no stored data.
  emit SendResetResult(1);
}

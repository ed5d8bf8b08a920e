#include "reset_action.h"

#include <QDir>
#include <QFile>

#include <array>

#include "service_log.h"
#include "zylscan/zylfpscan_database.h"
#include "zylscan/zylfpscan_status.h"

using vyx::logDebug;

CResetAction::CResetAction(void *handle, QObject *parent) : DriverThread(parent) { m_handle = handle; }

void CResetAction::RecvResetCmd(QString dataPath) {
  logDebug("vyx-fingerprint-driver    RecvResetCmd   dataPath: %s", qPrintable(dataPath));
  QDir root(dataPath);
  if (dataPath.isEmpty() || !root.exists()) {
    logDebug("vyx-fingerprint-driver    RecvResetCmd   !dir.exists()");
  } else {
    // Each user directory names the user's on-host database. The whole
    // directory name is the user id (a user id may hold dots), and only the
    // user directories themselves are users: nothing deeper is one.
    for (const QString &userId : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
      const QByteArray database = QFile::encodeName(userId);
      const int ret = ZYLFPSCAN_DeleteAllFinger(m_handle, database.constData());
      // A failure is only logged: the reset goes on with the next user.
      std::array<char, ZYLFPSCAN_ERROR_TEXT_SIZE> text{};
      if (ret != 0) ZYLFPSCAN_GetErrorInfo(ret, text.data());
      logDebug("vyx-fingerprint-driver    RecvResetCmd   ZYLFPSCAN_DeleteAllFinger   userId: %s   ret: %d   %s",
               database.constData(), ret, text.data());
    }
  }
  emit SendResetResult(0);
  commandFinished();
}

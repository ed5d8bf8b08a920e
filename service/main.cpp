// vyx-fingerprint-driver: the D-Bus service through which the host
// authentication framework claims the scanner, enrols and verifies fingers.
#include <cstdio>

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>
#include <QString>

#include "fingerprint_driver_service.h"
#include "service_log.h"

namespace {

constexpr char kServiceName[] = "com.vyx.fingerprintdriver";

// Why the service cannot be reached goes where a person looks first (the
// terminal, or the journal under the unit) as well as to syslog.
void reportUnreachable(const char *what, const QString &why) {
  const QByteArray text = why.toLocal8Bit();
  std::fprintf(stderr, "vyx-fingerprint-driver: %s: %s\n", what, text.constData());
  std::fflush(stderr);
  vyx::logDebug("vyx-fingerprint-driver     main   %s: %s", what, text.constData());
}

QString errorText(const QDBusError &error) {
  return QStringLiteral("%1 (%2)").arg(error.message(), error.name());
}

// The bus answers a request for a name that another connection owns
// without an error: then the owner is what tells why.
QString nameRefusal(QDBusConnection &bus) {
  if (bus.lastError().isValid()) return errorText(bus.lastError());
  const QDBusReply<QString> owner = bus.interface()->serviceOwner(QString::fromLatin1(kServiceName));
  if (!owner.isValid()) return errorText(owner.error());
  return QStringLiteral("it is owned by %1").arg(owner.value());
}

}  // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  vyxFingerprintDriverDbusService service(&app);

  QDBusConnection bus = QDBusConnection::systemBus();
  // Without the name the object is not exported either: the instance idles
  // on the event loop until it is killed, having said why it serves nobody.
  if (!bus.isConnected()) {
    reportUnreachable("cannot reach the system bus, serving nobody", errorText(bus.lastError()));
  } else if (bus.registerService(QString::fromLatin1(kServiceName))) {
    bus.registerObject(QStringLiteral("/com/vyx/fingerprintdriver"), &app,
                       QDBusConnection::ExportAdaptors);
  } else {
    reportUnreachable("cannot take the name com.vyx.fingerprintdriver, serving nobody",
                      nameRefusal(bus));
  }
  return app.exec();
}

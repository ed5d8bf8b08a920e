// vyx-fingerprint-driver: the D-Bus service through which the host
// authentication framework claims the scanner, enrols and verifies fingers.
#include <QCoreApplication>
#include <QDBusConnection>

#include "fingerprint_driver_service.h"

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  vyxFingerprintDriverDbusService service(&app);

  QDBusConnection bus = QDBusConnection::systemBus();
  // Without the name the object is not exported either: a second instance
  // idles on the event loop until it is killed.
  if (bus.registerService(QStringLiteral("com.vyx.fingerprintdriver")))
    bus.registerObject(QStringLiteral("/com/vyx/fingerprintdriver"), &app,
                       QDBusConnection::ExportAdaptors);
  return app.exec();
}

// A stand-alone client that listens for the service's signals on the system
// bus (DBUS_SYSTEM_BUS_ADDRESS), so that tests can listen as another user:
//
//   zyl_signal_listener STOP_FILE
//
// It adds a match for every signal of the service's interface, makes one
// round trip to the bus (the match is in force once the answer is back) and
// prints "ready". Then it prints each signal as one line, "member arg...".
// When STOP_FILE exists it makes a second round trip, so that every signal
// the bus queued for it before has arrived, prints what is left, prints
// "done" and exits. Every line is flushed at once.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

constexpr char kInterface[] = "com.vyx.FingerprintIndentifyDriver";

void printLine(const QString &line) {
  std::fputs(line.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void roundTrip(QDBusConnection &bus) {
  bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                          "org.freedesktop.DBus", "GetId"));
}

class Listener : public QObject {
  Q_OBJECT
 public slots:
  void onSignal(const QDBusMessage &message) {
    QString line = message.member();
    for (const QVariant &arg : message.arguments()) line += QLatin1Char(' ') + arg.toString();
    printLine(line);
  }
};

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s STOP_FILE\n", argv[0]);
    return 2;
  }
  const QString stopFile = QString::fromLocal8Bit(argv[1]);
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "cannot connect to the system bus\n");
    return 1;
  }
  Listener listener;
  // Any sender and any path: a denial must not depend on how the match is put.
  if (!bus.connect(QString(), QString(), QString::fromLatin1(kInterface), QString(), &listener,
                   SLOT(onSignal(QDBusMessage)))) {
    std::fprintf(stderr, "cannot add the signal match\n");
    return 1;
  }
  roundTrip(bus);
  printLine(QStringLiteral("ready"));

  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!QFileInfo::exists(stopFile)) return;
    poll.stop();
    roundTrip(bus);
    // Signals that came in during the blocking call are delivered as events.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    printLine(QStringLiteral("done"));
    app.quit();
  });
  poll.start(20);
  return app.exec();
}

#include "signal_listener.moc"

#pragma once

#include "Reader/MailContent.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace bx::test {

// The reader's scheme must be known before the QApplication exists; once
// for the whole test program.
inline const bool mailSchemeRegistered = [] {
  MailContent::registerScheme();
  return true;
}();

// Spins the event loop until `done` holds or `ms` pass; returns `done()`.
inline bool waitUntil(const std::function<bool()>& done, int ms = 15000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

inline void spin(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// scripts/count-server.py on a free loopback port.
class CountServer {
public:
  CountServer() {
    log_ = dir_.filePath("log.txt");
    process_.setProgram("python3");
    process_.setArguments({qEnvironmentVariable("BX_COUNT_SERVER"), log_});
    process_.start();
    process_.waitForStarted();
    process_.waitForReadyRead(10000);
    port_ = QString::fromLatin1(process_.readLine()).trimmed().toInt();
  }
  ~CountServer() {
    process_.kill();
    process_.waitForFinished();
  }
  int port() const { return port_; }
  QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
  QStringList lines() const {
    QFile f(log_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList out;
    for (const QByteArray& line : f.readAll().split('\n'))
      if (!line.isEmpty()) out << QString::fromUtf8(line);
    return out;
  }
  int connections() const { return int(lines().count(QStringLiteral("CONN"))); }
  QStringList requests() const {
    QStringList out;
    for (const QString& l : lines())
      if (l.startsWith("REQ ")) out << l.mid(4);
    return out;
  }

private:
  QTemporaryDir dir_;
  QString log_;
  QProcess process_;
  int port_ = 0;
};

} // namespace bx::test

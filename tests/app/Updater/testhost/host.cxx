// A small program that runs as an installed app for the updater's install
// tests: it starts the kit, checks at once, and when the update is staged
// quits ("quit") or restarts through the update window's action ("restart").
//
//   orrery_testhost quit|restart [--fsize BYTES]
//
// ORRERY_TEST_CA names a CA certificate to trust. --fsize sets RLIMIT_FSIZE
// as the app quits, so the install script inherits it.

#include "Orrery/Orrery.h"
#include "Updater/Updater.h"

#include <QApplication>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  const bool restart = args.value(1) == u"restart";
  const qsizetype at = args.indexOf(QStringLiteral("--fsize"));
  const rlim_t fsize = at > 0 ? rlim_t(args.value(at + 1).toLongLong()) : 0;

  if (const QByteArray ca = qgetenv("ORRERY_TEST_CA"); !ca.isEmpty()) {
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.addCaCertificates(QSslCertificate::fromPath(QString::fromLocal8Bit(ca)));
    QSslConfiguration::setDefaultConfiguration(conf);
  }
  if (fsize > 0) {
    // Connected before the kit starts, so it runs before the install step.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [fsize] {
      const rlimit limit{fsize, fsize};
      setrlimit(RLIMIT_FSIZE, &limit);
    });
  }

  using orrery::Orrery;
  using Kind = orrery::Updater::Phase::Kind;
  orrery::Updater& updater = Orrery::updater();
  Orrery::start({});
  QObject::connect(&updater, &orrery::Updater::phaseChanged, [&updater, restart] {
    const auto& phase = updater.phase();
    if (phase.kind == Kind::Ready) {
      if (restart) updater.installAndRelaunch();
      else QCoreApplication::quit();
    } else if (phase.kind == Kind::Failed) {
      std::fprintf(stderr, "failed: %s\n", qPrintable(phase.message));
      QCoreApplication::exit(3);
    } else if (phase.kind == Kind::Idle || phase.kind == Kind::UpToDate || phase.kind == Kind::Available) {
      std::fprintf(stderr, "no update staged (phase %d)\n", int(phase.kind));
      QCoreApplication::exit(4);
    }
  });
  QTimer::singleShot(0, [&updater] { updater.check(false); });
  QTimer::singleShot(60000, [] { QCoreApplication::exit(5); });
  return app.exec();
}

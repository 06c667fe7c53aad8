// bench_updater seal [ROUNDS]
//   Builds an install tree like the one a package ships (the application,
//   every shared library it loads, Qt's plugins and web-engine resources),
//   seals it, and times the seal's verification (every file hashed).
// bench_updater download [MiB]
//   Serves a signed archive of that size (default: the 512 MiB cap) over
//   local HTTPS and lets the updater fetch and verify it; reports the
//   process's peak memory before and after and the time taken.

#include "UpdaterFixtures.h"

#include "support/Process.h"
#include "support/TempDir.h"

#include "Updater/CodeSeal.h"
#include "Updater/Updater.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;
using namespace orrery;

namespace {

long peakKiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

void copyInto(const fs::path& from, const fs::path& into) {
  std::error_code ec;
  fs::create_directories(into, ec);
  fs::copy(from, into / from.filename(),
           fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::skip_existing, ec);
}

int benchSeal(int rounds) {
#ifndef BX_APP_EXECUTABLE
  std::fprintf(stderr, "the application is not built\n");
  return 1;
#else
  bx::test::TempDir dir("bench-seal");
  const fs::path app = dir / "Brindlebox.app";
  copyInto(BX_APP_EXECUTABLE, app);
  const auto ldd = bx::test::runCommand({"ldd", BX_APP_EXECUTABLE});
  static const QRegularExpression lib(QStringLiteral("=> (/\\S+)"));
  for (const auto& m : lib.globalMatch(QString::fromStdString(ldd.out)))
    copyInto(fs::canonical(m.captured(1).toStdString()), app / "lib");
  for (const char* extra : {"/usr/lib/x86_64-linux-gnu/qt6/plugins", "/usr/lib/x86_64-linux-gnu/qt6/libexec",
                            "/usr/share/qt6/resources", "/usr/share/qt6/translations/qtwebengine_locales"})
    if (fs::exists(extra)) copyInto(extra, app / "qt");
  test::writeAppInfo(QString::fromStdString(app.string()), test::appInfo("1.0"));
  if (!CodeSeal::write(QString::fromStdString(app.string()), test::privateKey())) return 1;

  qint64 files = 0, bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(app))
    if (e.is_regular_file() && !e.is_symlink()) ++files, bytes += qint64(e.file_size());
  std::vector<double> secs;
  for (int i = 0; i < rounds; ++i) {
    QElapsedTimer t;
    t.start();
    if (!CodeSeal::verify(QString::fromStdString(app.string()))) return 1;
    secs.push_back(t.nsecsElapsed() / 1e9);
  }
  std::sort(secs.begin(), secs.end());
  const double median = secs[secs.size() / 2];
  std::printf("seal verify: %lld files, %.1f MiB; median %.3f s, min %.3f s, max %.3f s over %d rounds; %.0f MiB/s, "
              "%.0f files/s (page cache warm)\n",
              (long long)files, bytes / 1048576.0, median, secs.front(), secs.back(), rounds,
              bytes / 1048576.0 / median, files / median);
  return 0;
#endif
}

int makeArchive(const QString& path, qint64 size) {
  QByteArray data(size, '\0');
  QRandomGenerator gen(1);
  gen.fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(data) != size) return 1;
  std::printf("%s\n", qPrintable(test::signatureOf(data)));
  return 0;
}

int benchDownload(qint64 mib) {
  test::scratch();
  bx::test::TempDir dir("bench-download");
  const qint64 size = mib << 20;
  const QString archive = QString::fromStdString((dir / "big.zip").string());
  // Made in a child so its buffer does not count towards our peak.
  const auto made = bx::test::runCommand({QCoreApplication::applicationFilePath().toStdString(), "make-archive",
                                          archive.toStdString(), std::to_string(size)});
  if (!made.ok()) return 1;
  const QString signature = QString::fromStdString(made.out).trimmed();

  test::FeedServer server;
  test::Route zip;
  zip.bodyFile = archive;
  server.route("/big.zip", zip);
  UpdateFeed feed{"1.1", "https://example.com/", std::nullopt, std::nullopt,
                  UpdateFeed::Download{server.url("/big.zip"), size, signature}};
  test::Route feedRoute;
  feedRoute.body = feed.encode();
  server.route("/feed.json", feedRoute);

  const QString folder = QString::fromStdString((dir / "Vault").string());
  test::writeAppInfo(folder, test::appInfo("1.0", server.url("/feed.json")));
  Updater updater(*Bundle::open(folder));
  const long before = peakKiB();
  QElapsedTimer t;
  t.start();
  qint64 fetchedAt = 0;
  QObject::connect(&updater, &Updater::phaseChanged, [&] {
    if (updater.phase().kind == Updater::Phase::Kind::Downloading && updater.phase().progress >= 1.0)
      fetchedAt = t.elapsed();
  });
  bool done = false;
  QObject::connect(&updater, &Updater::checkFinished, [&] { done = true; });
  updater.check(false);
  test::waitUntil([&] { return done; }, 600000);
  const long after = peakKiB();
  std::printf("download of %lld MiB: fetched in %.2f s, whole check %.2f s (ends: %s)\n", (long long)mib,
              fetchedAt / 1000.0, t.elapsed() / 1000.0,
              qPrintable(updater.phase().message.isEmpty() ? QStringLiteral("ready") : updater.phase().message));
  std::printf("peak RSS: %.1f MiB before, %.1f MiB after; growth %.1f MiB = %.3f x the archive\n", before / 1024.0,
              after / 1024.0, (after - before) / 1024.0, (after - before) / 1024.0 / double(mib));
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.value(1) == "seal") return benchSeal(args.value(2, "5").toInt());
  if (args.value(1) == "download") return benchDownload(args.value(2, "512").toLongLong());
  if (args.value(1) == "make-archive") return makeArchive(args.value(2), args.value(3).toLongLong());
  std::fprintf(stderr, "usage: bench_updater seal [ROUNDS] | download [MiB]\n");
  return 2;
}

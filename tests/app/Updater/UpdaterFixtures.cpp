#include "UpdaterFixtures.h"

#include "support/Process.h"
#include "support/TestCerts.h"

#include "Updater/CodeSeal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <memory>

namespace orrery::test {

bx::test::TempDir& scratch() {
  static bx::test::TempDir dir("updater-tests");
  static const bool once = [] {
    qputenv("XDG_CACHE_HOME", QFile::encodeName(QString::fromStdString((dir / "cache").string())));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((dir / "config").string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString((dir / "config").string()));
    return true;
  }();
  (void)once;
  return dir;
}

void trustTestCA() {
  static const bool once = [] {
    const auto& certs = bx::test::TestCerts::get();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.addCaCertificates(QSslCertificate::fromPath(QString::fromStdString(certs.trustedCA.string())));
    QSslConfiguration::setDefaultConfiguration(conf);
    return true;
  }();
  (void)once;
}

namespace {
QString sourceDir() {
  const QByteArray env = qgetenv("BX_SOURCE_DIR");
  return env.isEmpty() ? QStringLiteral(BX_SOURCE_DIR) : QString::fromLocal8Bit(env);
}
} // namespace

FeedServer::FeedServer() {
  trustTestCA();
  const auto& certs = bx::test::TestCerts::get();
  writeRoutes();
  const std::string script = (sourceDir() + "/tests/app/Updater/feed_server.py").toStdString();
  pid_ = bx::test::spawnServer({"python3", script, certs.localhost.certFile.string(), certs.localhost.keyFile.string(),
                                dir_.string()},
                               dir_ / "server.log");
  const QString portFile = QString::fromStdString((dir_ / "port").string());
  // Python and its TLS set-up start slowly on a busy machine.
  for (int i = 0; i < 1200 && !QFile::exists(portFile); ++i) QThread::msleep(25);
  QFile f(portFile);
  if (f.open(QIODevice::ReadOnly)) port_ = f.readAll().toInt();
  if (port_ == 0) ADD_FAILURE() << "feed server did not start: " << dir_.read("server.log");
}

FeedServer::~FeedServer() { bx::test::stopServer(pid_); }

QString FeedServer::url(const QString& path) const { return QStringLiteral("https://localhost:%1%2").arg(port_).arg(path); }

void FeedServer::route(const QString& path, const Route& r) {
  QString name = r.bodyFile;
  if (name.isEmpty()) {
    name = QStringLiteral("body-%1").arg(++bodies_);
    dir_.write(name.toStdString(), std::string_view(r.body.constData(), size_t(r.body.size())));
  }
  QJsonObject all = QJsonDocument::fromJson(routes_).object();
  QJsonObject o;
  o.insert(QStringLiteral("status"), r.status);
  o.insert(QStringLiteral("body"), name);
  o.insert(QStringLiteral("chunk"), r.chunk);
  o.insert(QStringLiteral("pause_ms"), r.pauseMs);
  o.insert(QStringLiteral("stall_after"), r.stallAfter);
  if (!r.location.isEmpty()) o.insert(QStringLiteral("location"), r.location);
  all.insert(path, o);
  routes_ = QJsonDocument(all).toJson();
  writeRoutes();
}

void FeedServer::clear() {
  routes_ = "{}";
  writeRoutes();
  QFile::remove(QString::fromStdString((dir_ / "requests.log").string()));
}

void FeedServer::writeRoutes() {
  dir_.write("routes.tmp", std::string_view(routes_.constData(), size_t(routes_.size())));
  std::filesystem::rename(dir_ / "routes.tmp", dir_ / "routes.json");
}

QStringList FeedServer::requests() const {
  QFile f(QString::fromStdString((dir_ / "requests.log").string()));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

int FeedServer::count(const QString& path) const {
  int n = 0;
  for (const QString& line : requests())
    if (line.section(u' ', 1, 1) == path) ++n;
  return n;
}

void WithFeedServer::serveUpdate(const QString& version, const QByteArray& zip, std::optional<qint64> length,
                                 Route archive) {
  if (archive.body.isEmpty() && archive.bodyFile.isEmpty()) archive.body = zip;
  server->route("/v.zip", archive);
  Route feed;
  feed.body = feedFor(version, server->url("/v.zip"), zip, length);
  server->route("/feed.json", feed);
}

QByteArray privateKey() { return QByteArray(32, '\x2a'); }
QString publicKeyBase64() { return QString::fromLatin1(CodeSeal::publicKeyFor(privateKey()).toBase64()); }
QString signatureOf(const QByteArray& data) { return QString::fromLatin1(CodeSeal::sign(data, privateKey()).toBase64()); }

ZipMaker& ZipMaker::dir(const QString& path, int mode) {
  entries_.push_back({path, {}, {}, mode, 1});
  return *this;
}
ZipMaker& ZipMaker::file(const QString& path, const QByteArray& bytes, int mode) {
  entries_.push_back({path, bytes, {}, mode, 0});
  return *this;
}
ZipMaker& ZipMaker::link(const QString& path, const QString& target) {
  entries_.push_back({path, {}, target, 0777, 2});
  return *this;
}

QByteArray ZipMaker::bytes() const {
  std::vector<char> out(64 << 20);
  size_t used = 0;
  std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(), &archive_write_free);
  archive_write_set_format_zip(a.get());
  archive_write_open_memory(a.get(), out.data(), out.size(), &used);
  for (const Entry& e : entries_) {
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> en(archive_entry_new(), &archive_entry_free);
    archive_entry_set_pathname(en.get(), e.path.toUtf8().constData());
    archive_entry_set_filetype(en.get(), e.type == 0 ? AE_IFREG : e.type == 1 ? AE_IFDIR : AE_IFLNK);
    archive_entry_set_perm(en.get(), mode_t(e.mode));
    archive_entry_set_size(en.get(), e.type == 0 ? e.bytes.size() : 0);
    if (e.type == 2) archive_entry_set_symlink(en.get(), e.target.toUtf8().constData());
    archive_entry_set_mtime(en.get(), 1700000000, 0);
    archive_write_header(a.get(), en.get());
    if (e.type == 0) archive_write_data(a.get(), e.bytes.constData(), size_t(e.bytes.size()));
  }
  archive_write_close(a.get());
  return QByteArray(out.data(), qsizetype(used));
}

void writeAppInfo(const QString& folder, const QVariantMap& info) {
  QDir().mkpath(folder);
  QFile f(folder + QStringLiteral("/app-info.json"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(QJsonDocument(QJsonObject::fromVariantMap(info)).toJson());
}

QVariantMap appInfo(const QString& version, const QString& feedURL, bool withKey) {
  QVariantMap m{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.test.vault")},
                {QStringLiteral("CFBundleShortVersionString"), version},
                {QStringLiteral("CFBundleName"), QStringLiteral("Vault")}};
  if (!feedURL.isEmpty()) m.insert(QStringLiteral("OrreryUpdateFeedURL"), feedURL);
  if (withKey) m.insert(QStringLiteral("OrreryUpdatePublicKey"), publicKeyBase64());
  return m;
}

QByteArray sealedAppZip(const bx::test::TempDir& work, const QString& version,
                        const std::function<void(const QString&)>& tweak) {
  const QString base = QString::fromStdString(work.string()) + QStringLiteral("/pack-") + version;
  const QString app = base + QStringLiteral("/Vault.app");
  QDir(base).removeRecursively();
  writeAppInfo(app, appInfo(version));
  QDir().mkpath(app + QStringLiteral("/lib"));
  QFile f(app + QStringLiteral("/lib/data.txt"));
  f.open(QIODevice::WriteOnly);
  f.write("version " + version.toUtf8() + "\n");
  f.close();
  QFile::link(QStringLiteral("lib/data.txt"), app + QStringLiteral("/data-link"));
  EXPECT_TRUE(CodeSeal::write(app, privateKey()));
  if (tweak) tweak(app);
  const QString zip = base + QStringLiteral(".zip");
  const auto r = bx::test::runCommand({QStringLiteral(BX_BINARY_DIR "/OrreryKit/tools/orrery-seal/orrery-seal").toStdString(),
                                       "zip", app.toStdString(), zip.toStdString()});
  EXPECT_TRUE(r.ok()) << r.err;
  QFile z(zip);
  z.open(QIODevice::ReadOnly);
  return z.readAll();
}

QByteArray feedFor(const QString& version, const QString& url, const QByteArray& zip, std::optional<qint64> length) {
  UpdateFeed feed;
  feed.version = version;
  feed.url = QStringLiteral("https://example.com/vault");
  feed.download = UpdateFeed::Download{url, length.value_or(zip.size()), signatureOf(zip)};
  return feed.encode();
}

bool waitUntil(const std::function<bool()>& done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

} // namespace orrery::test

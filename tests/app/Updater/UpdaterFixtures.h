#pragma once
// Shared pieces of the updater's tests: the scripted HTTPS server, signing
// keys, zips made entry by entry, install folders and waiting on the event
// loop.

#include "support/TempDir.h"

#include "Updater/Bundle.h"
#include "Updater/Updater.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sys/types.h>

namespace orrery::test {

// The updater's tests share one private cache and settings folder.
bx::test::TempDir& scratch();

// Trusts the test CA in the process's default TLS configuration.
void trustTestCA();

struct Route {
  int status = 200;
  QByteArray body;
  int chunk = 0;        // bytes per write; 0 sends the body at once
  int pauseMs = 0;      // pause after each write
  qint64 stallAfter = -1;
  QString location;     // with a 3xx status
  QString bodyFile;     // serve this file instead of `body`
};

// python3's http.server behind TLS with the test localhost certificate,
// re-scripted per test; it logs every request.
class FeedServer {
public:
  FeedServer();
  ~FeedServer();
  FeedServer(const FeedServer&) = delete;
  FeedServer& operator=(const FeedServer&) = delete;

  QString url(const QString& path) const;
  void route(const QString& path, const Route& r);
  void clear();
  // "GET <path> <user agent>" per request since the last clear().
  QStringList requests() const;
  int count(const QString& path) const;

private:
  void writeRoutes();
  bx::test::TempDir dir_{"feed-server"};
  pid_t pid_ = -1;
  int port_ = 0;
  QByteArray routes_ = "{}";
  int bodies_ = 0;
};

// A test suite that shares one feed server among its tests.
class WithFeedServer : public ::testing::Test {
public:
  static void SetUpTestSuite() {
    scratch();
    server = new FeedServer;
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  // Serves a feed for `version` at /feed.json whose download announces
  // `zip` (at `length` when given), and at /v.zip the archive route, which
  // sends `zip` unless it has a body of its own.
  static void serveUpdate(const QString& version, const QByteArray& zip, std::optional<qint64> length = std::nullopt,
                          Route archive = {});

  static inline FeedServer* server = nullptr;
};

// A fixed Ed25519 key pair for the tests.
QByteArray privateKey();
QString publicKeyBase64();
QString signatureOf(const QByteArray& data);

// A zip made entry by entry (paths as given, so crafted ones too).
class ZipMaker {
public:
  ZipMaker& dir(const QString& path, int mode = 0755);
  ZipMaker& file(const QString& path, const QByteArray& bytes, int mode = 0644);
  ZipMaker& link(const QString& path, const QString& target);
  QByteArray bytes() const;

private:
  struct Entry {
    QString path;
    QByteArray bytes;
    QString target;
    int mode;
    int type; // 0 file, 1 dir, 2 link
  };
  std::vector<Entry> entries_;
};

// Writes an app-info file into `folder`.
void writeAppInfo(const QString& folder, const QVariantMap& info);
// The keys of an app named "Vault" with identifier app.test.vault.
QVariantMap appInfo(const QString& version, const QString& feedURL = {}, bool withKey = true);

// Zips an install folder made in `work` as Vault.app: app-info at `version`,
// a file, a link and a folder, sealed with the test key.
QByteArray sealedAppZip(const bx::test::TempDir& work, const QString& version,
                        const std::function<void(const QString& appFolder)>& tweak = {});

// A feed document for `version` with a download of `zip` at `url`.
QByteArray feedFor(const QString& version, const QString& url, const QByteArray& zip,
                   std::optional<qint64> length = std::nullopt);

// Runs the event loop until `done` is true or `ms` pass; true when done.
bool waitUntil(const std::function<bool()>& done, int ms = 20000);

} // namespace orrery::test

// The check, download and staging against a real local HTTPS server.

#include "UpdaterFixtures.h"

#include "Updater/CodeSeal.h"
#include "Updater/UpdateError.h"
#include "Updater/UpdateView.h"
#include "Updater/Updater.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace orrery;
using namespace orrery::test;
using Kind = Updater::Phase::Kind;

namespace {

QByteArray randomBytes(qsizetype n) {
  QByteArray b(n, '\0');
  QRandomGenerator gen(7);
  for (qsizetype i = 0; i < n; ++i) b[i] = char(gen.generate() & 0xff);
  return b;
}

class UpdaterNet : public WithFeedServer {
public:
  void SetUp() override {
    server->clear();
    QSettings().clear();
    QDir(QString::fromStdString((scratch() / "cache").string())).removeRecursively();
  }

  // An updater for an install folder of "Vault" at `version` whose feed is
  // served at /feed.json.
  std::unique_ptr<Updater> make(const QString& version = QStringLiteral("1.0"), QVariantMap extra = {}) {
    QVariantMap info = appInfo(version, server->url("/feed.json"));
    for (auto it = extra.cbegin(); it != extra.cend(); ++it) info.insert(it.key(), it.value());
    const QString folder = QString::fromStdString(install.string());
    writeAppInfo(folder, info);
    auto updater = std::make_unique<Updater>(*Bundle::open(folder));
    updater->setSystemVersion({2, 36, 0});
    return updater;
  }

  // Runs one check to its end; returns how often the window was asked for.
  int check(Updater& u, bool user) {
    QSignalSpy windows(&u, &Updater::windowRequested);
    QSignalSpy done(&u, &Updater::checkFinished);
    u.check(user);
    EXPECT_TRUE(waitUntil([&] { return done.count() > 0; })) << "check did not finish";
    return int(windows.count());
  }

  static bool announced(const QString& v) { return QSettings().value("OrreryAnnounced-" + v).toBool(); }

  bx::test::TempDir work{"updater-work"};
  bx::test::TempDir install{"vault-install"};
};

} // namespace

TEST_F(UpdaterNet, OneCheckDecisionTable) {
  const QByteArray zip11 = sealedAppZip(work, "1.1");
  struct Case {
    const char* what;
    bool user;
    std::function<void(UpdaterNet&, Updater&)> arrange;
    Kind phase;
    int windows;
    bool announcedAfter;
  };
  auto feedOnly = [](const char* version, const char* minimum = nullptr) {
    return [=](UpdaterNet&, Updater&) {
      UpdateFeed f{version, "https://example.com/", std::nullopt, std::nullopt, std::nullopt};
      if (minimum) f.minimumSystemVersion = QString::fromLatin1(minimum);
      Route r;
      r.body = f.encode();
      server->route("/feed.json", r);
    };
  };
  auto status = [](int code, QByteArray body = "{}") {
    return [=](UpdaterNet&, Updater&) {
      Route r;
      r.status = code;
      r.body = body;
      server->route("/feed.json", r);
    };
  };
  auto autoDownload = [&](UpdaterNet& t, Updater&) { t.serveUpdate("1.1", zip11); };
  auto noAutoDownload = [&](UpdaterNet& t, Updater& u) {
    u.setAutomaticallyDownloads(false);
    t.serveUpdate("1.1", zip11);
  };
  auto staged = [&](UpdaterNet& t, Updater& u) {
    t.serveUpdate("1.1", zip11);
    t.check(u, false);
    ASSERT_EQ(u.phase().kind, Kind::Ready);
    QSettings().clear();
  };
  const Case cases[] = {
      {"server error, user", true, status(500), Kind::Failed, 1, false},
      {"server error, background", false, status(500), Kind::Idle, 0, false},
      {"not modified, user", true, status(304), Kind::Failed, 1, false},
      {"not JSON, background", false, status(200, "<html>"), Kind::Idle, 0, false},
      {"not newer, user", true, feedOnly("1.0"), Kind::UpToDate, 1, false},
      {"not newer, background", false, feedOnly("0.9"), Kind::UpToDate, 0, false},
      {"system too old, background", false, feedOnly("1.1", "2.37"), Kind::UpToDate, 0, false},
      {"system new enough, background", false, feedOnly("1.1", "2.36"), Kind::Available, 1, true},
      {"newer without download, user", true, feedOnly("1.1"), Kind::Available, 1, false},
      {"auto download, background", false, autoDownload, Kind::Ready, 1, true},
      {"auto download, user", true, autoDownload, Kind::Ready, 2, true},
      {"auto download off, background", false, noAutoDownload, Kind::Available, 1, true},
      {"auto download off, user", true, noAutoDownload, Kind::Available, 1, false},
      {"staged, user", true, staged, Kind::Ready, 1, false},
      {"staged, background", false, staged, Kind::Ready, 0, false},
  };
  for (const Case& c : cases) {
    SetUp();
    auto u = make();
    c.arrange(*this, *u);
    const int before = server->count("/feed.json");
    EXPECT_EQ(check(*u, c.user), c.windows) << c.what;
    EXPECT_EQ(u->phase().kind, c.phase) << c.what << ": " << u->phase().message.toStdString();
    EXPECT_EQ(announced("1.1"), c.announcedAfter) << c.what;
    if (c.phase == Kind::Failed) EXPECT_EQ(u->phase().message, UpdateMessages::checkFailed) << c.what;
    // Only a staged update keeps the check from fetching.
    const bool wasStaged = c.phase == Kind::Ready && std::string(c.what).starts_with("staged");
    EXPECT_EQ(server->count("/feed.json") > before, !wasStaged) << c.what;
    EXPECT_EQ(u->lastChecked().has_value(), c.phase != Kind::Failed && c.phase != Kind::Idle) << c.what;
  }
}

TEST_F(UpdaterNet, AnnouncesEachVersionOnceAndSendsItsName) {
  auto u = make("1.9");
  u->setAutomaticallyDownloads(false);
  Route r;
  r.body = R"({"version":"1.10","url":"https://example.com/"})";
  server->route("/feed.json", r);
  EXPECT_EQ(check(*u, true), 1);
  EXPECT_FALSE(announced("1.10")) << "a user check does not mark the version";
  EXPECT_EQ(check(*u, false), 1);
  EXPECT_EQ(check(*u, false), 0);
  EXPECT_EQ(u->phase().kind, Kind::Available);
  ASSERT_FALSE(server->requests().isEmpty());
  EXPECT_EQ(server->requests().front(), "GET /feed.json Vault/1.9");
  // A later failed background check clears what was shown.
  server->route("/feed.json", Route{500});
  const auto last = u->lastChecked();
  check(*u, false);
  EXPECT_EQ(u->phase().kind, Kind::Idle);
  EXPECT_EQ(u->lastChecked(), last);
}

TEST_F(UpdaterNet, OnlyHttpsIsFetched) {
  const QByteArray zip = sealedAppZip(work, "1.1");
  // A feed address that is not https leaves the updater inert.
  for (const QString& feed : {server->url("/feed.json").replace("https:", "http:"),
                              QStringLiteral("file:///etc/passwd"), QStringLiteral("not a url")}) {
    writeAppInfo(QString::fromStdString(install.string()), appInfo("1.0", feed));
    Updater u(*Bundle::open(QString::fromStdString(install.string())));
    EXPECT_FALSE(u.feedURL());
    EXPECT_EQ(check(u, false), 0);
    EXPECT_EQ(u.phase().kind, Kind::Idle);
  }
  // A download address that is not https is only announced.
  auto u = make();
  Route r;
  r.body = feedFor("1.1", server->url("/v.zip").replace("https:", "http:"), zip);
  server->route("/feed.json", r);
  check(*u, false);
  EXPECT_EQ(u->phase().kind, Kind::Available);
  // A version that could name another folder fails the decode, and the
  // user is told it is the feed, not the connection.
  r.body = feedFor("1.1/../../x", server->url("/v.zip"), zip);
  server->route("/feed.json", r);
  check(*u, true);
  EXPECT_EQ(u->phase().kind, Kind::Failed);
  EXPECT_EQ(u->phase().message, UpdateMessages::unusableVersion("1.1/../../x"));
  EXPECT_EQ(u->phase().message,
            "The update feed names the version \u201C1.1/../../x\u201D, which can\u2019t be used as a version number.");
  check(*u, false);
  EXPECT_EQ(u->phase().kind, Kind::Idle);
  // A redirect may not leave https.
  server->route("/feed.json", Route{302, {}, 0, 0, -1, server->url("/other.json").replace("https:", "http:")});
  check(*u, true);
  EXPECT_EQ(u->phase().kind, Kind::Failed);
  EXPECT_EQ(server->count("/v.zip"), 0);
  EXPECT_EQ(server->count("/other.json"), 0);
  // An oversized feed is not read to its end.
  server->route("/feed.json", Route{200, QByteArray(Updater::maxFeedBytes + 10, ' ') + "{}"});
  check(*u, true);
  EXPECT_EQ(u->phase().kind, Kind::Failed);
}

TEST_F(UpdaterNet, SizeRules) {
  const QByteArray zip = sealedAppZip(work, "1.1");
  struct Case {
    const char* what;
    qint64 extra; // bytes the server sends beyond the announced length
    QString message;
  } cases[] = {
      {"one byte missing", -1, UpdateMessages::incomplete},
      {"1024 bytes too many", 1024, UpdateMessages::incomplete},
      {"1025 bytes too many", 1025, UpdateMessages::tooLarge},
  };
  for (const auto& c : cases) {
    SetUp();
    auto u = make();
    Route archive;
    archive.body = c.extra < 0 ? zip.left(zip.size() + c.extra) : zip + QByteArray(c.extra, 'z');
    serveUpdate("1.1", zip, std::nullopt, archive);
    check(*u, false);
    EXPECT_EQ(u->phase().kind, Kind::Failed) << c.what;
    EXPECT_EQ(u->phase().message, c.message) << c.what;
  }
  // Above the cap nothing is fetched; a negative length is never reserved.
  for (qint64 length : {Updater::maxDownloadBytes + 1, std::numeric_limits<qint64>::max(), qint64(-5)}) {
    SetUp();
    auto u = make();
    serveUpdate("1.1", zip, length);
    check(*u, false);
    EXPECT_EQ(u->phase().kind, Kind::Failed) << length;
    EXPECT_EQ(u->phase().message, UpdateMessages::tooLarge) << length;
    if (length > 0) EXPECT_EQ(server->count("/v.zip"), 0) << length;
  }
  SetUp();
  auto u = make();
  serveUpdate("1.1", zip, std::nullopt, Route{404});
  check(*u, false);
  EXPECT_EQ(u->phase().message, UpdateMessages::downloadFailed);
}

TEST_F(UpdaterNet, ProgressPointsDoNotDependOnChunking) {
  const qsizetype size = 600 * 1024;
  const QByteArray body = randomBytes(size);
  const QList<double> expected{262145.0 / size, 524290.0 / size, 1.0};
  for (int chunk : {0, 65536, 1}) {
    SetUp();
    auto u = make();
    Route archive;
    archive.chunk = chunk;
    serveUpdate("1.1", body, std::nullopt, archive);
    QList<double> points;
    QObject::connect(u.get(), &Updater::phaseChanged, [&] {
      if (u->phase().kind == Kind::Downloading && u->phase().progress > 0) points << u->phase().progress;
    });
    check(*u, false);
    EXPECT_EQ(points, expected) << "chunk " << chunk;
    // Not a zip: the download itself was fine.
    EXPECT_EQ(u->phase().message, UpdateMessages::unpackRefused + "its archive couldn\u2019t be read as a zip file.");
  }
}

TEST_F(UpdaterNet, AStallFailsAndTheNextCheckWorks) {
  const QByteArray zip = sealedAppZip(work, "1.1");
  auto u = make();
  u->setIdleTimeout(700);
  Route stalled;
  stalled.stallAfter = 100;
  serveUpdate("1.1", zip, std::nullopt, stalled);
  check(*u, false);
  EXPECT_EQ(u->phase().kind, Kind::Failed);
  EXPECT_TRUE(u->phase().message.startsWith(UpdateMessages::otherPrefix)) << u->phase().message.toStdString();
  serveUpdate("1.1", zip);
  check(*u, true);
  EXPECT_EQ(u->phase().kind, Kind::Ready) << u->phase().message.toStdString();
}

TEST_F(UpdaterNet, OverlappingChecksMakeOneArchiveRequest) {
  const QByteArray zip = sealedAppZip(work, "1.1");
  auto u = make();
  Route slow;
  slow.chunk = 4096;
  slow.pauseMs = 20;
  serveUpdate("1.1", zip, std::nullopt, slow);
  QSignalSpy done(u.get(), &Updater::checkFinished);
  u->check(false);
  u->check(true);
  u->check(false);
  ASSERT_TRUE(waitUntil([&] { return done.count() >= 3 && u->phase().kind != Kind::Downloading; }));
  EXPECT_EQ(u->phase().kind, Kind::Ready) << u->phase().message.toStdString();
  EXPECT_EQ(server->count("/v.zip"), 1);
  ASSERT_TRUE(u->stagedApp());
  EXPECT_TRUE(CodeSeal::verify(*u->stagedApp()));
  // A check while staged fetches nothing and keeps the staged update.
  check(*u, true);
  EXPECT_EQ(u->phase().kind, Kind::Ready);
  EXPECT_EQ(server->count("/v.zip"), 1);
}

TEST_F(UpdaterNet, StagedAppMustBeThisAppAtThisVersionUnderItsSeal) {
  struct Case {
    const char* what;
    QString feedVersion;
    std::function<QByteArray(UpdaterNet&)> zip;
    QString message;
  } cases[] = {
      {"good", "1.1", [](UpdaterNet& t) { return sealedAppZip(t.work, "1.1"); }, QString()},
      {"app in a subfolder", "1.1",
       [](UpdaterNet&) { return ZipMaker().dir("Release").file("Release/Vault.app/app-info.json", "{}").bytes(); },
       UpdateMessages::noApp},
      {"2.0 against 2.0.0", "2.0.0", [](UpdaterNet& t) { return sealedAppZip(t.work, "2.0"); }, UpdateMessages::mismatch},
      {"another app", "1.1",
       [](UpdaterNet& t) {
         return sealedAppZip(t.work, "1.1", [](const QString& app) {
           QVariantMap info = appInfo("1.1");
           info["CFBundleIdentifier"] = "app.test.other";
           writeAppInfo(app, info);
           CodeSeal::write(app, privateKey());
         });
       },
       UpdateMessages::mismatch},
      {"a byte changed", "1.1",
       [](UpdaterNet& t) {
         return sealedAppZip(t.work, "1.1", [](const QString& app) {
           QFile f(app + "/lib/data.txt");
           f.open(QIODevice::ReadWrite);
           f.write("X");
         });
       },
       UpdateMessages::sealDamaged},
      {"a file extra", "1.1",
       [](UpdaterNet& t) {
         return sealedAppZip(t.work, "1.1", [](const QString& app) { QFile(app + "/lib/more").open(QIODevice::WriteOnly); });
       },
       UpdateMessages::sealDamaged},
      {"a file missing", "1.1",
       [](UpdaterNet& t) {
         return sealedAppZip(t.work, "1.1", [](const QString& app) { QFile::remove(app + "/lib/data.txt"); });
       },
       UpdateMessages::sealDamaged},
      {"no seal", "1.1",
       [](UpdaterNet& t) {
         return sealedAppZip(t.work, "1.1", [](const QString& app) { QFile::remove(app + "/.orrery-seal"); });
       },
       UpdateMessages::sealDamaged},
  };
  for (const auto& c : cases) {
    SetUp();
    auto u = make();
    serveUpdate(c.feedVersion, c.zip(*this));
    check(*u, false);
    if (c.message.isEmpty()) {
      EXPECT_EQ(u->phase().kind, Kind::Ready) << c.what << ": " << u->phase().message.toStdString();
      const QString staging = u->stagingFolder();
      EXPECT_EQ(u->stagedApp(), staging + "/1.1/Vault.app");
      EXPECT_EQ(QFileInfo(staging).permissions() & 0x0077, QFile::Permissions(0)) << "staging is private";
      EXPECT_FALSE(QFile::exists(staging + "/update.zip"));
    } else {
      EXPECT_EQ(u->phase().kind, Kind::Failed) << c.what;
      EXPECT_EQ(u->phase().message, c.message) << c.what;
      EXPECT_FALSE(u->stagedApp()) << c.what;
    }
  }
  // A bad signature stops before anything is written.
  SetUp();
  auto u = make();
  const QByteArray zip = sealedAppZip(work, "1.1");
  Route archive;
  archive.body = QByteArray(zip).replace(0, 2, "PL");
  serveUpdate("1.1", zip, std::nullopt, archive);
  check(*u, false);
  EXPECT_EQ(u->phase().message, UpdateMessages::badSignature);
  EXPECT_FALSE(QFile::exists(u->stagingFolder()));
}

TEST_F(UpdaterNet, StartChecksEightSecondsLater) {
  auto u = make("1.0");
  u->setAutomaticallyDownloads(false);
  Route r;
  r.body = R"({"version":"1.0","url":"https://example.com/"})";
  server->route("/feed.json", r);
  QElapsedTimer clock;
  clock.start();
  u->start();
  ASSERT_TRUE(waitUntil([&] { return u->phase().kind == Kind::UpToDate; }, 30000));
  EXPECT_GE(clock.elapsed(), 7900);
  EXPECT_EQ(server->count("/feed.json"), 1);
}

TEST_F(UpdaterNet, ACopyThatCannotBeReplacedIsOnlyAnnounced) {
  const QByteArray zip = sealedAppZip(work, "1.1");
  QVariantMap info = appInfo("1.0", server->url("/feed.json"));
  Bundle elsewhere{QString::fromStdString((install / "not-here/Vault").string()), info};
  Updater u(elsewhere);
  EXPECT_FALSE(u.canInstallInPlace());
  serveUpdate("1.1", zip);
  EXPECT_EQ(check(u, false), 1);
  EXPECT_EQ(u.phase().kind, Kind::Available);
  EXPECT_EQ(server->count("/v.zip"), 0);
}

TEST_F(UpdaterNet, WithoutFeedOnlyTheUserHearsWhyAndWithoutKeyItIsAnnounced) {
  writeAppInfo(QString::fromStdString(install.string()), appInfo("1.0"));
  Updater inert(*Bundle::open(QString::fromStdString(install.string())));
  QSignalSpy phases(&inert, &Updater::phaseChanged);
  inert.start();
  EXPECT_EQ(check(inert, false), 0);
  EXPECT_EQ(phases.count(), 0);
  // Asked by the user, a copy without a feed says so in the update window.
  EXPECT_EQ(check(inert, true), 1);
  EXPECT_EQ(inert.phase(),
            Updater::Phase::failed("This copy of Vault doesn\u2019t get updates: it was built without an update feed."));
  EXPECT_TRUE(server->requests().isEmpty());

  const QByteArray zip = sealedAppZip(work, "1.1");
  auto u = make("1.0", {{"OrreryUpdatePublicKey", QVariant()}});
  EXPECT_FALSE(u->publicKey());
  serveUpdate("1.1", zip);
  check(*u, false);
  EXPECT_EQ(u->phase().kind, Kind::Available);
  u->download(*u->phase().feed);
  EXPECT_EQ(u->phase().kind, Kind::Available);
  EXPECT_EQ(server->count("/v.zip"), 0);
}

TEST_F(UpdaterNet, AStagingFolderThatIsALinkIsRefusedBeforeAnythingIsRemoved) {
  const QByteArray zip = sealedAppZip(work, "1.1");
  // The staging folder itself, or the identifier folder above it, replaced
  // by a link to a folder of the user's.
  for (const bool parent : {false, true}) {
    SetUp();
    auto u = make();
    bx::test::TempDir victim{"victim"};
    victim.write("keep/precious.txt", "mine");
    victim.write("keep/OrreryUpdate/also.txt", "mine too");
    const QString staging = u->stagingFolder();
    const QString linkAt = parent ? QFileInfo(staging).absolutePath() : staging;
    QDir().mkpath(QFileInfo(linkAt).absolutePath());
    ASSERT_TRUE(QFile::link(QString::fromStdString((victim / "keep").string()), linkAt));
    serveUpdate("1.1", zip);
    check(*u, false);
    EXPECT_EQ(u->phase().kind, Kind::Failed) << parent;
    EXPECT_TRUE(u->phase().message.endsWith(linkAt + " is not a folder.")) << u->phase().message.toStdString();
    EXPECT_EQ(victim.read("keep/precious.txt"), "mine") << parent;
    EXPECT_EQ(victim.read("keep/OrreryUpdate/also.txt"), "mine too") << parent;
    QFile::remove(linkAt);
  }
}

TEST_F(UpdaterNet, AnUpdateLeftStagedIsTakenUpAtTheNextStart) {
  const QByteArray zip = sealedAppZip(work, "1.1");
  struct Case {
    const char* what;
    bool note;          // the install script gave up: the app was still running
    bool tamper;        // a staged file changed while nothing ran
    QString running;    // the version that starts next
    bool taken;
  } cases[] = {
      {"script gave up", true, false, "1.0", true},
      {"app ended without installing", false, false, "1.0", true},
      {"staged copy changed", true, true, "1.0", false},
      {"installed meanwhile", true, false, "1.1", false},
  };
  for (const auto& c : cases) {
    SetUp();
    QString staging, app;
    {
      auto first = make();
      serveUpdate("1.1", zip);
      check(*first, false);
      ASSERT_EQ(first->phase().kind, Kind::Ready) << first->phase().message.toStdString();
      staging = first->stagingFolder();
      app = *first->stagedApp();
    }
    if (c.note) QFile(staging + "/still-running").open(QIODevice::WriteOnly);
    if (c.tamper) {
      QFile f(app + "/lib/data.txt");
      ASSERT_TRUE(f.open(QIODevice::ReadWrite));
      f.write("X");
    }
    auto next = make(c.running);
    QSignalSpy windows(next.get(), &Updater::windowRequested);
    next->start();
    if (c.taken) {
      ASSERT_TRUE(waitUntil([&] { return next->phase().kind == Kind::Ready; }, 10000)) << c.what;
      EXPECT_EQ(next->stagedApp(), app) << c.what;
      EXPECT_EQ(next->phase().feed->version, "1.1") << c.what;
      EXPECT_EQ(next->installWasInterrupted(), c.note) << c.what;
      // Only the user who quit and saw nothing happen is told, once.
      EXPECT_EQ(windows.count(), c.note ? 1 : 0) << c.what;
      EXPECT_FALSE(QFile::exists(staging + "/still-running")) << c.what;
      UpdateView view(*next);
      auto* said = view.findChild<QLabel*>("interrupted");
      EXPECT_EQ(said ? said->text() : QString(),
                // The window names the running app (a test build: App).
                c.note ? "It wasn\u2019t installed when you last quit App, because App was still running a minute "
                         "later."
                       : QString())
          << c.what;
    } else {
      waitUntil([] { return false; }, 1500);
      EXPECT_EQ(next->phase().kind, Kind::Idle) << c.what;
      EXPECT_FALSE(next->stagedApp()) << c.what;
    }
  }
}

// The real application, installed as a user installs it, updates itself.
// `cmake --install` lays the build out in a temporary folder; its app-info
// gets a feed on 127.0.0.1 and the test key (what BX_UPDATE_FEED_URL and
// BX_UPDATE_PUBLIC_KEY write at configure time); newer versions, installed
// the same way, sealed, zipped and signed, are served over HTTPS. The app
// runs under its own Xvfb and is judged from outside: requests, files,
// processes and exit statuses.
//
//   1. A staged update installs when the app is ended by SIGTERM, without
//      reopening it.
//   2. "Restart Now" (Return in the update window) installs the next one
//      and reopens it from the same folder, where it runs as the new version.

#include "UpdaterFixtures.h"

#include "support/Process.h"
#include "support/TestCerts.h"

#include "Updater/Bundle.h"
#include "Updater/CodeSeal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orrery;
using namespace orrery::test;

namespace {

QString str(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Sets keys of a folder's app-info, keeping the rest as installed.
void setAppInfo(const QString& folder, const QJsonObject& keys) {
  QJsonObject info = QJsonDocument::fromJson(readAll(folder + "/app-info.json")).object();
  for (auto it = keys.begin(); it != keys.end(); ++it) info.insert(it.key(), it.value());
  QFile f(folder + "/app-info.json");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(QJsonDocument(info).toJson());
}

class InstalledApp : public WithFeedServer {
public:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "cmake"})
      if (QStandardPaths::findExecutable(tool).isEmpty()) GTEST_SKIP() << tool << " missing";
    // The reopened app is orphaned by the install script; as its
    // subreaper the test can still collect its exit status.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    server->clear();
    // As /proc names the running program: no link on the way.
    dest = QFileInfo(str(root.path())).canonicalFilePath() + "/Apps/Brindlebox";
    startDisplay();
  }

  void TearDown() override {
    for (const pid_t pid : running()) ::kill(pid, SIGKILL);
    if (xvfb > 0) bx::test::stopServer(xvfb);
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // Stripped: a smaller archive to seal, zip, serve and unpack.
  static void install(const QString& prefix) {
    const auto r = bx::test::runCommand({"cmake", "--install", BX_BINARY_DIR, "--prefix", prefix.toStdString(), "--strip"});
    ASSERT_TRUE(r.ok()) << r.out << r.err;
  }

  QJsonObject feedKeys() const {
    return {{"OrreryUpdateFeedURL", server->url("/feed.json").replace("localhost", "127.0.0.1")},
            {"OrreryUpdatePublicKey", publicKeyBase64()}};
  }

  // Installs the build as `version`, seals it, and serves it as the update.
  void serveVersion(const QString& version) {
    const QString pack = str(root / ("pack-" + version.toStdString()) / "Brindlebox.app");
    install(pack);
    QJsonObject keys = feedKeys();
    keys.insert("CFBundleShortVersionString", version);
    setAppInfo(pack, keys);
    ASSERT_TRUE(CodeSeal::write(pack, privateKey()));
    const QString zip = QFileInfo(pack).absolutePath() + "/update.zip";
    const auto zipped = bx::test::runCommand(
        {BX_BINARY_DIR "/OrreryKit/tools/orrery-seal/orrery-seal", "zip", pack.toStdString(), zip.toStdString()});
    ASSERT_TRUE(zipped.ok()) << zipped.err;
    serveUpdate(version, readAll(zip));
  }

  void startDisplay() {
    const auto log = root / "xvfb.log";
    xvfb = bx::test::spawnServer({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x900x24"}, log);
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto m = QRegularExpression("^(\\d+)$", QRegularExpression::MultilineOption)
                             .match(QString::fromUtf8(readAll(str(log))));
          if (m.hasMatch()) display = ":" + m.captured(1);
          return !display.isEmpty();
        },
        20000))
        << "Xvfb did not start";
  }

  QProcessEnvironment environment() const {
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH"));
    for (const char* d : {"home", "config", "data", "cache", "state", "runtime", "tmp", "vault"})
      QDir().mkpath(str(root / "env" / d));
    QFile::setPermissions(str(root / "env/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert("HOME", str(root / "env/home"));
    env.insert("XDG_CONFIG_HOME", str(root / "env/config"));
    env.insert("XDG_DATA_HOME", str(root / "env/data"));
    env.insert("XDG_CACHE_HOME", str(root / "env/cache"));
    env.insert("XDG_STATE_HOME", str(root / "env/state"));
    env.insert("XDG_RUNTIME_DIR", str(root / "env/runtime"));
    env.insert("TMPDIR", str(root / "env/tmp"));
    env.insert("BRINDLEBOX_ARCHIVE_DIR", str(root / "env/vault"));
    env.insert("TZ", "UTC");
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-background-networking --disable-component-update");
    // The one trust setting the whole app follows, mail and updates alike.
    env.insert("SSL_CERT_FILE", str(bx::test::TestCerts::get().trustedCA));
    return env;
  }

  // Processes running the program of the install folder.
  QList<pid_t> running() const {
    QList<pid_t> pids;
    const QString program = dest + "/bin/brindlebox";
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      bool number = false;
      const pid_t pid = pid_t(entry.toInt(&number));
      if (number && QFileInfo("/proc/" + entry + "/exe").symLinkTarget() == program) pids << pid;
    }
    return pids;
  }

  // Starts the installed program as a user would.
  void startApp(QProcess& app) const {
    app.setProcessEnvironment(environment());
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(dest + "/bin/brindlebox");
    ASSERT_TRUE(app.waitForStarted(20000));
  }

  // Whether the running app has staged `version`: its record names it.
  bool staged(const QString& version) const {
    return readAll(staging + "/staged.json").contains("\"" + version.toUtf8() + "\"");
  }

  QString installedVersion() const { return Bundle::open(dest)->shortVersion().value_or("?"); }

  // Waits for the update window, then presses Return in it: its default
  // button.
  void pressReturnInUpdateWindow() {
    QString window;
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto r = bx::test::runCommand(
              {"env", "DISPLAY=" + display.toStdString(), "xdotool", "search", "--name", "^Software Update$"});
          window = QString::fromStdString(r.out).trimmed().section('\n', -1);
          return r.ok() && !window.isEmpty();
        },
        90000))
        << "no update window";
    const auto focus = bx::test::runCommand(
        {"env", "DISPLAY=" + display.toStdString(), "xdotool", "windowfocus", window.toStdString(), "sleep", "0.5",
         "key", "Return"});
    ASSERT_TRUE(focus.ok()) << focus.err;
  }

  bx::test::TempDir root{"installed-app"};
  QString dest;
  QString staging = str(root / "env/cache/app.brindlebox.Brindlebox/OrreryUpdate");
  QString display;
  pid_t xvfb = -1;
};

} // namespace

TEST_F(InstalledApp, UpdatesOnSigtermAndOnRestartNowInItsOwnFolder) {
  install(dest);
  // The installed layout, named and versioned by the build.
  EXPECT_TRUE(QFileInfo(dest + "/bin/brindlebox").isExecutable());
  EXPECT_TRUE(QFileInfo(dest + "/bin/brindlebox-preview").isExecutable());
  EXPECT_TRUE(QFile::exists(dest + "/share/icons/hicolor/scalable/apps/app.brindlebox.Brindlebox.svg"));
  EXPECT_TRUE(readAll(dest + "/share/applications/app.brindlebox.Brindlebox.desktop")
                  .contains("Exec=\"" + dest.toUtf8() + "/bin/brindlebox\"\n"));
  const auto bundle = Bundle::open(dest);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->string("CFBundleName"), "Brindlebox");
  EXPECT_EQ(bundle->identifier(), "app.brindlebox.Brindlebox");
  EXPECT_EQ(bundle->shortVersion(), BX_PROJECT_VERSION);
  EXPECT_EQ(bundle->launcher({}), "bin/brindlebox");
  setAppInfo(dest, feedKeys());

  const QString v1 = BX_PROJECT_VERSION;
  const QString v2 = v1 + ".1";
  const QString v3 = v2 + ".1";

  // 1. The first check (8 s after start) downloads and stages v2 and
  //    announces it; SIGTERM then ends the app as Quit does.
  serveVersion(v2);
  QProcess first;
  startApp(first);
  ASSERT_TRUE(waitUntil([&] { return staged(v2); }, 90000))
      << "nothing staged\n" << server->requests().join('\n').toStdString();
  EXPECT_EQ(server->requests().value(0), "GET /feed.json Brindlebox/" + v1);
  ::kill(pid_t(first.processId()), SIGTERM);
  ASSERT_TRUE(first.waitForFinished(60000));
  EXPECT_EQ(first.exitStatus(), QProcess::NormalExit) << first.readAll().right(2000).toStdString();
  EXPECT_EQ(first.exitCode(), 0);
  ASSERT_TRUE(waitUntil([&] { return !QFile::exists(staging + "/" + v2); }, 30000)) << "not installed";
  EXPECT_EQ(installedVersion(), v2);
  EXPECT_TRUE(CodeSeal::verify(dest));
  waitUntil([] { return false; }, 1000);
  EXPECT_TRUE(running().isEmpty()) << "reopened after SIGTERM";

  // 2. v2 runs, stages v3; Return in the update window is "Restart Now".
  server->clear();
  serveVersion(v3);
  QProcess second;
  startApp(second);
  ASSERT_TRUE(waitUntil([&] { return staged(v3); }, 90000)) << "nothing staged";
  EXPECT_EQ(server->requests().value(0), "GET /feed.json Brindlebox/" + v2);
  pressReturnInUpdateWindow();
  ASSERT_TRUE(second.waitForFinished(60000)) << "Restart Now did not quit";
  EXPECT_EQ(second.exitCode(), 0) << second.readAll().right(2000).toStdString();

  // The new version runs from the same folder and reads itself as v3: its
  // first check names v3, the number its About tab shows.
  QList<pid_t> reopened;
  ASSERT_TRUE(waitUntil([&] { return !(reopened = running()).isEmpty(); }, 60000)) << "not reopened";
  EXPECT_EQ(installedVersion(), v3);
  EXPECT_EQ(QDir(str(root / "Apps")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"Brindlebox"});
  ASSERT_TRUE(waitUntil([&] { return server->requests().contains("GET /feed.json Brindlebox/" + v3); }, 60000))
      << server->requests().join('\n').toStdString();

  ::kill(reopened.front(), SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(reopened.front(), &status, 0), reopened.front());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

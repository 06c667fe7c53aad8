// The real install after quit: a throwaway install folder whose launcher
// writes its version to a marker, a host program linking the kit that runs
// from that folder, reaches "ready" through the HTTPS server and quits.

#include "UpdaterFixtures.h"

#include "support/Process.h"
#include "support/TestCerts.h"

#include "Updater/CodeSeal.h"
#include "Updater/InstallScript.h"

#include <QThread>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using namespace orrery;
using namespace orrery::test;

namespace {

QString str(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

void writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions perms) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
  f.close();
  f.setPermissions(perms);
}

const QFile::Permissions exec = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

// An install folder of "Vault" at `version`: the app-info, a launcher that
// records its version in $ORRERY_TEST_MARKER, a payload, the seal.
// `launcher` is where the launcher sits inside the folder.
void makeApp(const QString& folder, const QString& version, const QString& feedURL, bool withHost,
             const QString& launcher = "launch.sh") {
  QVariantMap info = appInfo(version, feedURL);
  info.insert("CFBundleExecutable", launcher);
  writeAppInfo(folder, info);
  QDir().mkpath(QFileInfo(folder + "/" + launcher).absolutePath());
  writeFile(folder + "/" + launcher, "#!/bin/sh\necho " + version.toUtf8() + " > \"$ORRERY_TEST_MARKER\"\n", exec);
  writeFile(folder + "/payload.bin", QByteArray(256 * 1024, 'p'), QFile::ReadOwner | QFile::WriteOwner);
  if (withHost) ASSERT_TRUE(QFile::copy(ORRERY_TESTHOST, folder + "/orrery_testhost"));
  ASSERT_TRUE(CodeSeal::write(folder, privateKey()));
}

class UpdaterInstall : public WithFeedServer {
public:

  // Installs 1.0 under `parentName`, serves 1.1, runs the host in `mode`.
  void run(const QString& parentName, const QString& mode, const QStringList& extraArgs = {},
           const QString& launcher = "launch.sh") {
    server->clear();
    dest = str(dir / parentName.toStdString() / "Vault");
    QDir().mkpath(dest);
    makeApp(dest, "1.0", server->url("/feed.json"), true, launcher);
    const QString pack = str(dir / "pack/Vault.app");
    makeApp(pack, "1.1", server->url("/feed.json"), false, launcher);
    const QString zipPath = str(dir / "pack/update.zip");
    const auto zipped = bx::test::runCommand(
        {BX_BINARY_DIR "/OrreryKit/tools/orrery-seal/orrery-seal", "zip", pack.toStdString(), zipPath.toStdString()});
    ASSERT_TRUE(zipped.ok()) << zipped.err;
    QFile z(zipPath);
    ASSERT_TRUE(z.open(QIODevice::ReadOnly));
    serveUpdate("1.1", z.readAll());

    marker = str(dir / "marker");
    cache = str(dir / "cache");
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORRERY_TEST_CA", QString::fromStdString(bx::test::TestCerts::get().trustedCA.string()));
    env.insert("ORRERY_TEST_MARKER", marker);
    env.insert("XDG_CACHE_HOME", cache);
    env.insert("XDG_CONFIG_HOME", str(dir / "config"));
    host.setProcessEnvironment(env);
    host.setWorkingDirectory(str(dir.path()));
    host.start(dest + "/orrery_testhost", QStringList{mode} + extraArgs);
    ASSERT_TRUE(host.waitForFinished(60000));
    ASSERT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    // The install runs after the host is gone; it ends by removing the
    // staged version folder.
    staged = cache + "/app.test.vault/OrreryUpdate/1.1";
    ASSERT_TRUE(waitUntil([&] { return !QFile::exists(staged); }, 30000)) << "the install script did not finish";
  }

  QString installedVersion() const { return Bundle::open(dest)->shortVersion().value_or("?"); }
  QStringList besideDest() const {
    return QDir(QFileInfo(dest).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }
  QString markerText() const {
    QFile f(marker);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
  }

  bx::test::TempDir dir{"install"};
  QString dest, marker, cache, staged;
};

} // namespace

TEST_F(UpdaterInstall, PlainQuitInstallsInPlaceWithoutReopening) {
  run("Apps", "quit");
  EXPECT_EQ(installedVersion(), "1.1");
  EXPECT_TRUE(CodeSeal::verify(dest));
  EXPECT_EQ(besideDest(), QStringList{"Vault"});
  // Give a relaunch, if one were started, time to write its marker.
  QThread::msleep(300);
  EXPECT_FALSE(QFile::exists(marker)) << "the app was reopened";
}

TEST_F(UpdaterInstall, RestartNowReopensTheNewVersion) {
  run("Apps", "restart");
  EXPECT_EQ(installedVersion(), "1.1");
  ASSERT_TRUE(waitUntil([&] { return markerText() == "1.1"; }, 10000)) << markerText().toStdString();
  EXPECT_EQ(besideDest(), QStringList{"Vault"});
}

TEST_F(UpdaterInstall, RestartNowReopensALauncherInBin) {
  // The installed layout: the program in bin/, the app-info above it.
  run("Apps", "restart", {}, "bin/launch.sh");
  EXPECT_EQ(installedVersion(), "1.1");
  ASSERT_TRUE(waitUntil([&] { return markerText() == "1.1"; }, 10000)) << "not reopened";
}

TEST_F(UpdaterInstall, AFailedCopyLeavesTheOldVersionRunnable) {
  // The copy of the 256 KiB payload hits the file-size limit the install
  // script inherits from the quitting app.
  run("Apps", "quit", {"--fsize", "65536"});
  EXPECT_EQ(installedVersion(), "1.0");
  EXPECT_TRUE(CodeSeal::verify(dest)) << "the old install was changed";
  EXPECT_EQ(besideDest(), QStringList{"Vault"});
  const auto launched = bx::test::runCommand({"env", "ORRERY_TEST_MARKER=" + marker.toStdString(), (dest + "/launch.sh").toStdString()});
  EXPECT_TRUE(launched.ok());
  EXPECT_EQ(markerText(), "1.0");
}

TEST_F(UpdaterInstall, AnAwkwardPathInstalls) {
  run(QStringLiteral("My Apps 'q' \"dq\" $(touch pwned) `touch pwned2`"), "restart");
  EXPECT_EQ(installedVersion(), "1.1");
  ASSERT_TRUE(waitUntil([&] { return markerText() == "1.1"; }, 10000));
  EXPECT_FALSE(QFile::exists(str(dir / "pwned")));
  EXPECT_FALSE(QFile::exists(str(dir / "pwned2")));
  EXPECT_EQ(besideDest(), QStringList{"Vault"});
}

TEST(InstallScript, RefusesArgumentsItCannotTrust) {
  // The script acts only on a numeric PID, absolute paths and a source in
  // the staging folder; anything else leaves both folders alone.
  bx::test::TempDir dir;
  const QString staging = QString::fromStdString((dir / "cache/OrreryUpdate").string());
  const QString src = staging + "/1.1/Vault.app";
  const QString dest = QString::fromStdString((dir / "Vault").string());
  QDir().mkpath(src);
  QDir().mkpath(dest);
  dir.write("cache/OrreryUpdate/1.1/Vault.app/new", "new");
  dir.write("Vault/old", "old");
  struct Case {
    const char* what;
    QStringList args; // PID SRC DEST RELAUNCH LAUNCHER STAGING
  } cases[] = {
      {"PID not a number", {"1; touch x", src, dest, "0", "launch.sh", staging}},
      {"empty PID", {"", src, dest, "0", "launch.sh", staging}},
      {"relative DEST", {"999999", src, "Vault", "0", "launch.sh", staging}},
      {"SRC outside staging", {"999999", QString::fromStdString((dir / "Vault").string()), dest, "0", "x", staging}},
      {"SRC climbing out", {"999999", staging + "/../../Vault", dest, "0", "x", staging}},
      {"staging not ours", {"999999", src, dest, "0", "x", QString::fromStdString(dir.string())}},
  };
  for (const auto& c : cases) {
    QProcess sh;
    sh.start("/bin/sh", QStringList{"-c", QString::fromUtf8(installScript), "orrery-update"} + c.args);
    ASSERT_TRUE(sh.waitForFinished(10000));
    EXPECT_EQ(sh.exitCode(), 0) << c.what;
    EXPECT_EQ(dir.read("Vault/old"), "old") << c.what;
    EXPECT_EQ(dir.read("cache/OrreryUpdate/1.1/Vault.app/new"), "new") << c.what;
  }
}

TEST(InstallScript, GivesUpOnAnAppThatDoesNotEndAndLeavesANote) {
  // The wait is cut from a minute to half a second; the rest is the script
  // as the updater runs it.
  QString script = QString::fromUtf8(installScript);
  ASSERT_TRUE(script.contains("-lt 600"));
  script.replace("-lt 600", "-lt 5");
  bx::test::TempDir dir;
  const QString staging = str(dir / "cache/OrreryUpdate");
  const QString src = staging + "/1.1/Vault.app";
  const QString dest = str(dir / "Vault");
  dir.write("cache/OrreryUpdate/1.1/Vault.app/new", "new");
  dir.write("Vault/old", "old");
  QProcess alive;
  alive.start("sleep", {"30"});
  ASSERT_TRUE(alive.waitForStarted());
  QProcess sh;
  sh.start("/bin/sh", {"-c", script, "orrery-update", QString::number(alive.processId()), src, dest, "1", "old",
                       staging});
  ASSERT_TRUE(sh.waitForFinished(10000));
  alive.kill();
  alive.waitForFinished();
  EXPECT_EQ(dir.read("Vault/old"), "old");
  EXPECT_EQ(dir.read("cache/OrreryUpdate/1.1/Vault.app/new"), "new") << "the staged update was dropped";
  EXPECT_TRUE(QFile::exists(staging + "/still-running"));
}

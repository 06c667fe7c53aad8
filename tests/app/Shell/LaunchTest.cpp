#include "FakeShellStore.h"
#include "ShellTestSupport.h"
#include "Shell/Harness.h"
#include "Shell/AppSession.h"
#include "support/TempDir.h"

#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>

using namespace bx;
using namespace bx::test;

namespace {

class LaunchTest : public ShellTest {};

// Hooks that log when they run; the harness scripts pause like real ones.
struct Recorder {
  QStringList log;
  QElapsedTimer clock;
  qint64 uiTestAt = -1;

  HarnessHooks hooks() {
    HarnessHooks h;
    h.warmUpReader = [this] { log << "warmUp"; };
    h.demoRun = [this]() -> orrery::Task<> {
      log << "demo";
      co_await orrery::pause(10);
    };
    h.uiTestRun = [this]() -> orrery::Task<> {
      uiTestAt = clock.elapsed();
      log << "uiTest";
      co_return;
    };
    h.snapshotRun = [this]() -> orrery::Task<> {
      log << "snapshot";
      co_return;
    };
    return h;
  }
};

} // namespace

TEST_F(LaunchTest, PathTableFromTheEnvironment) {
  struct Case {
    const char* name;
    QList<std::pair<const char*, const char*>> env;
    LaunchPath path;
    QStringList log;
  };
  const QList<Case> cases{
      {"none", {}, LaunchPath::Normal, {"warmUp", "reload", "scheduler"}},
      {"demo empty", {{"BRINDLEBOX_DEMO_DIR", ""}}, LaunchPath::Demo, {"warmUp", "reload", "demo"}},
      {"demo and port",
       {{"BRINDLEBOX_DEMO_DIR", "/x"}, {"BRINDLEBOX_UITEST_PORT", "1143"}},
       LaunchPath::Demo,
       {"warmUp", "reload", "demo"}},
      {"snapshot alone",
       {{"BRINDLEBOX_SNAPSHOT_DIR", ""}},
       LaunchPath::Normal,
       {"warmUp", "reload", "snapshot", "scheduler"}},
      {"snapshot over the demo vault",
       {{"BRINDLEBOX_SNAPSHOT_DIR", "/tmp"}, {"BRINDLEBOX_SNAPSHOT_DEMO", ""}},
       LaunchPath::Normal,
       {"warmUp", "reload", "snapshot"}},
      {"self-test and snapshot",
       {{"BRINDLEBOX_UITEST_SCRUB", ""}, {"BRINDLEBOX_SNAPSHOT_DIR", "/tmp"}},
       LaunchPath::UITest,
       {"warmUp", "reload", "uiTest"}},
      {"network switch", {{"BRINDLEBOX_UITEST_NETWORK", ""}}, LaunchPath::UITest, {"warmUp", "reload", "uiTest"}},
      {"port abc", {{"BRINDLEBOX_UITEST_PORT", "abc"}}, LaunchPath::Normal, {"warmUp", "reload", "scheduler"}},
  };
  for (const Case& c : cases) {
    QProcessEnvironment env;
    for (const auto& [k, v] : c.env) env.insert(QString::fromLatin1(k), QString::fromLatin1(v));
    EXPECT_EQ(Launch::choosePath(env), c.path) << c.name;

    Recorder rec;
    rec.clock.start();
    HarnessHooks hooks = rec.hooks();
    QObject context;
    Launch::Targets targets{[&rec] { rec.log << "reload"; }, [&rec] { rec.log << "scheduler"; }, &context};
    auto task = Launch::run(targets, hooks, env);
    // The sequence never blocks: reload is under way before the paths wait.
    EXPECT_GE(rec.log.size(), 2) << c.name;
    QTRY_VERIFY_WITH_TIMEOUT(task.done(), 4000);
    EXPECT_EQ(task.result(), c.path) << c.name;
    EXPECT_EQ(rec.log, c.log) << c.name;
    if (c.path == LaunchPath::UITest) {
      EXPECT_GE(rec.uiTestAt, 1500) << "the self-test starts 1.5 s later";
    }
  }
}

TEST_F(LaunchTest, PortValues) {
  const QList<std::pair<const char*, std::optional<quint16>>> cases{
      {"1143", 1143}, {"0", 0}, {"65535", 65535}, {"65536", std::nullopt}, {"", std::nullopt},
      {" 12", std::nullopt}, {"12a", std::nullopt}, {"-1", std::nullopt}, {"+5", 5}, {"-0", 0},
  };
  for (const auto& [value, port] : cases) {
    QProcessEnvironment env;
    env.insert("BRINDLEBOX_UITEST_PORT", value);
    EXPECT_EQ(Launch::uiTestPort(env), port) << value;
  }
  EXPECT_EQ(Launch::uiTestPort(QProcessEnvironment()), std::nullopt);
}

TEST_F(LaunchTest, SelfTestWaitEndsWithItsContext) {
  Recorder rec;
  HarnessHooks hooks = rec.hooks();
  QProcessEnvironment env;
  env.insert("BRINDLEBOX_UITEST_NETWORK", "");
  auto* context = new QObject;
  auto task = Launch::run({[] {}, [] {}, context}, hooks, env);
  delete context;
  QTest::qWait(1700);
  EXPECT_FALSE(rec.log.contains("uiTest"));
}

TEST(OwnFolders, DataCacheAndSettingsFoldersAreOwnerOnly) {
  const test::TempDir home("bx-own-folders");
  const std::filesystem::path data = home / "data", cache = home / "cache", config = home / "config";
  const QByteArray saved[] = {qgetenv("XDG_DATA_HOME"), qgetenv("XDG_CACHE_HOME"), qgetenv("XDG_CONFIG_HOME")};
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.string()));
  qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cache.string()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.string()));
  // One left open by an earlier run, the others not there yet.
  const std::string open = QStandardPaths::writableLocation(QStandardPaths::CacheLocation).toStdString();
  std::filesystem::create_directories(open);
  ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
  AppSession::makeOwnFoldersPrivate();
  for (const auto location :
       {QStandardPaths::AppDataLocation, QStandardPaths::CacheLocation, QStandardPaths::AppConfigLocation}) {
    const QString path = QStandardPaths::writableLocation(location);
    EXPECT_TRUE(path.startsWith(QString::fromStdString(home.path().string()))) << path.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    EXPECT_EQ(st.st_mode & 07777, 0700u) << path.toStdString();
  }
  const char* names[] = {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"};
  for (int i = 0; i < 3; ++i) {
    if (saved[i].isNull())
      qunsetenv(names[i]);
    else
      qputenv(names[i], saved[i]);
  }
}

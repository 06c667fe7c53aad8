#include "ShellTestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

using namespace bx::test;

namespace {

class AppBinaryTest : public ShellTest {
protected:
  QString binary() const { return qEnvironmentVariable("BX_BINARY_DIR") + "/Brindlebox/brindlebox"; }

  QProcessEnvironment cleanEnvironment() const {
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH"));
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("BRINDLEBOX_ARCHIVE_DIR", home.path() + "/vault");
    return env;
  }

  QTemporaryDir home;
};

} // namespace

TEST_F(AppBinaryTest, WithoutADisplayItSaysSoInOneLine) {
  ASSERT_TRUE(QFile::exists(binary())) << binary().toStdString();
  struct Case {
    const char* name;
    QList<std::pair<QString, QString>> env;
    QString why;
  };
  const QList<Case> cases{
      {"nothing set", {}, "DISPLAY is not set"},
      {"a local display nobody serves", {{"DISPLAY", ":97"}}, "nothing answers on DISPLAY :97"},
      {"xcb asked for", {{"QT_QPA_PLATFORM", "xcb"}}, "DISPLAY is not set"},
  };
  for (const Case& c : cases) {
    QProcess app;
    QProcessEnvironment env = cleanEnvironment();
    for (const auto& [k, v] : c.env) env.insert(k, v);
    app.setProcessEnvironment(env);
    app.start(binary(), {});
    ASSERT_TRUE(app.waitForFinished(10000)) << c.name;
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << c.name;
    EXPECT_EQ(app.exitCode(), 2) << c.name;
    const QString err = QString::fromUtf8(app.readAllStandardError());
    EXPECT_EQ(err.count('\n'), 1) << c.name << ": " << err.toStdString();
    EXPECT_TRUE(err.contains(c.why)) << err.toStdString();
    EXPECT_TRUE(err.contains("xvfb-run")) << err.toStdString();
  }
}

TEST_F(AppBinaryTest, StartsWithAnEmptyVaultOnAPlatformThatNeedsNoDisplay) {
  QProcess app;
  QProcessEnvironment env = cleanEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  app.setProcessEnvironment(env);
  app.start(binary(), {});
  ASSERT_TRUE(app.waitForStarted(5000));
  // Still running after start-up: no abort, no crash on the way in.
  EXPECT_FALSE(app.waitForFinished(3000)) << app.readAllStandardError().toStdString();
  app.terminate();
  app.waitForFinished(5000);
}

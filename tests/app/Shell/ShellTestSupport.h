#pragma once

#include "AppTestSupport.h"
#include "Shell/Quitting.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace bx::test {

// Each test gets its own settings file and a clean environment of launch
// switches, on top of the pinned look.
class ShellTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    QCoreApplication::setOrganizationName(QStringLiteral("Brindlebox"));
    QCoreApplication::setApplicationName(QStringLiteral("Brindlebox"));
    ASSERT_TRUE(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings().clear();
    for (const char* name : kSwitches) qunsetenv(name);
    Quitting::reset();
    Quitting::setHandler([this] { ++quitRequests; });
  }
  void TearDown() override {
    for (const char* name : kSwitches) qunsetenv(name);
    Quitting::reset();
    Quitting::setHandler({});
    PinnedLook::TearDown();
  }

  static bool seen() { return QSettings().value(QStringLiteral("bx.didShowWelcome"), false).toBool(); }

  // Lets queued and timed work up to `ms` from now run.
  static void settle(int ms = 0) {
    QTest::qWait(ms);
    QCoreApplication::processEvents();
  }

  static constexpr const char* kSwitches[] = {"BRINDLEBOX_DEMO_DIR",        "BRINDLEBOX_SNAPSHOT_DIR",
                                              "BRINDLEBOX_UITEST_PORT",     "BRINDLEBOX_UITEST_NETWORK",
                                              "BRINDLEBOX_UITEST_SCRUB",    "BRINDLEBOX_SNAPSHOT_DEMO"};
  QTemporaryDir settingsDir;
  int quitRequests = 0;
};

} // namespace bx::test

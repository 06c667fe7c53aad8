#include "ShellTestSupport.h"
#include "Shell/AppSession.h"
#include "Shell/MainWindow.h"
#include "Store/AppStore.h"

#include <QDir>
#include <QFile>
#include <QThreadPool>

using namespace bx;
using namespace bx::test;

namespace {
class QuitTest : public ShellTest {};
} // namespace

// Quitting while the first scan of a large vault is still reading files:
// the session goes (window, then store) with the scan in flight, the scan
// finds nobody to report to, and nothing it does afterwards touches freed
// memory (run under ASan to see that).
TEST_F(QuitTest, QuitDuringTheFirstScanEndsCleanly) {
  QTemporaryDir vault;
  for (int y = 0; y < 4; ++y) {
    const QString folder = vault.path() + QStringLiteral("/Work/INBOX/%1").arg(2020 + y);
    QDir().mkpath(folder);
    for (int i = 0; i < 500; ++i) {
      QFile f(folder + QStringLiteral("/m%1.eml").arg(i));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(QStringLiteral("From: a@example.org\r\nSubject: Message %1\r\nDate: Mon, 3 Feb %2 10:00:00 +0000\r\n\r\n"
                             "Body %1 with some words to index.\r\n")
                  .arg(i)
                  .arg(2020 + y)
                  .toUtf8());
    }
  }
  qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
  QSettings().setValue("bx.didShowWelcome", true);
  {
    AppSession session;
    session.start();
    QTRY_VERIFY_WITH_TIMEOUT(session.store().indexing().has_value(), 2000);
    QTest::qWait(20);
    session.window().close();
    EXPECT_TRUE(Quitting::isOn());
    EXPECT_EQ(quitRequests, 1);
  }
  // The scan ends on its own; its late reports are dropped.
  QThreadPool::globalInstance()->waitForDone(20000);
  QCoreApplication::processEvents();
  QTest::qWait(50);
  EXPECT_EQ(AppStore::shared(), nullptr);
  qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
}

// The launch (index load, scan) runs only once the window has drawn.
TEST_F(QuitTest, LaunchWaitsForTheFirstFrame) {
  QTemporaryDir vault;
  qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
  QSettings().setValue("bx.didShowWelcome", true);
  {
    AppSession session;
    session.start();
    EXPECT_FALSE(session.launched());
    EXPECT_FALSE(session.store().indexing().has_value());
    QTRY_VERIFY_WITH_TIMEOUT(session.launched(), 2000);
  }
  QThreadPool::globalInstance()->waitForDone(5000);
  qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
}

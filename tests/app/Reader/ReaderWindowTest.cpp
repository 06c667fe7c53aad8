// The reader inside the real application window: opening the first message
// (the first web view) keeps the window the user sees.
//   xvfb-run -a env QT_QPA_PLATFORM=xcb test_app_reader --gtest_filter='ReaderWindowTest.*' 

#include "AppTestSupport.h"
#include "ReaderTestSupport.h"
#include "Reader/MailWebView.h"
#include "Reader/MessageReader.h"
#include "Shell/AppSession.h"
#include "Shell/MainWindow.h"
#include "Store/AppStore.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

using namespace bx;
using namespace bx::test;

namespace {

class ReaderWindowTest : public PinnedLook {};

// Under a window manager a window made again flashes and jumps back to the
// centre: its native window must be the one it was shown with.
TEST_F(ReaderWindowTest, OpeningTheFirstMessageKeepsTheWindow) {
  // Only a display server makes GL windows; ctest runs this case under Xvfb
  // as ReaderWindowUnderX.
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run)";
  QTemporaryDir vault;
  QDir(vault.path()).mkpath("Work/INBOX/2026");
  QFile f(vault.path() + "/Work/INBOX/2026/first.eml");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("From: Ada <ada@example.org>\r\nTo: me@example.org\r\nSubject: First\r\n"
          "Date: Tue, 1 Dec 2026 10:00:00 +0000\r\nMessage-ID: <first@example.org>\r\n"
          "Content-Type: text/html\r\n\r\n<p>Hello</p>\r\n");
  f.close();
  qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
  QSettings().setValue("bx.didShowWelcome", true);
  {
    AppSession session;
    session.start();
    MainWindow& window = session.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(waitUntil([&] { return session.store().records().size() == 1 && !session.store().indexing(); }, 20000));
    QWindow* handle = window.windowHandle();
    const WId id = window.winId();
    const QPoint placed = window.pos();

    session.store().setSelectedPath(QStringLiteral("Work/INBOX/2026/first.eml"));
    MessageReader* reader = nullptr;
    ASSERT_TRUE(waitUntil([&] {
      reader = window.findChild<MessageReader*>();
      return reader && reader->webView() && reader->webView()->loadsStarted() > 0 &&
             !reader->webView()->page()->isLoading();
    }, 20000));
    spin(300);
    EXPECT_EQ(window.windowHandle(), handle);
    EXPECT_EQ(window.winId(), id);
    EXPECT_EQ(window.pos(), placed);
  }
  qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
}

} // namespace

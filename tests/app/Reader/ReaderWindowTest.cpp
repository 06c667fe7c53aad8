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
#include <optional>
#include <gtest/gtest.h>

using namespace bx;
using namespace bx::test;

namespace {

class ReaderWindowTest : public PinnedLook {};

// The application over a vault of one HTML message, its window shown and
// that message opened until its page has loaded.
struct OpenedFirstMessage {
  QTemporaryDir vault;
  std::optional<AppSession> session;
  QWindow* handle = nullptr;
  WId id = 0;
  QPoint placed;

  void run() {
    QDir(vault.path()).mkpath("Work/INBOX/2026");
    QFile f(vault.path() + "/Work/INBOX/2026/first.eml");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("From: Ada <ada@example.org>\r\nTo: me@example.org\r\nSubject: First\r\n"
            "Date: Tue, 1 Dec 2026 10:00:00 +0000\r\nMessage-ID: <first@example.org>\r\n"
            "Content-Type: text/html\r\n\r\n<p>Hello</p>\r\n");
    f.close();
    qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
    QSettings().setValue("bx.didShowWelcome", true);
    session.emplace();
    session->start();
    MainWindow& window = session->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(waitUntil([&] { return session->store().records().size() == 1 && !session->store().indexing(); }, 20000));
    handle = window.windowHandle();
    id = window.winId();
    placed = window.pos();

    session->store().setSelectedPath(QStringLiteral("Work/INBOX/2026/first.eml"));
    MessageReader* reader = nullptr;
    ASSERT_TRUE(waitUntil([&] {
      reader = window.findChild<MessageReader*>();
      return reader && reader->webView() && reader->webView()->loadsStarted() > 0 &&
             !reader->webView()->page()->isLoading();
    }, 20000));
    spin(300);
  }
  ~OpenedFirstMessage() {
    session.reset();
    qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
  }
};

// Under a window manager a window made again flashes and jumps back to the
// centre: its native window must be the one it was shown with.
TEST_F(ReaderWindowTest, OpeningTheFirstMessageKeepsTheWindow) {
  // Only a display server makes GL windows; ctest runs this case under Xvfb
  // as ReaderWindowUnderX.
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run)";
  OpenedFirstMessage opened;
  ASSERT_NO_FATAL_FAILURE(opened.run());
  MainWindow& window = opened.session->window();
  EXPECT_EQ(window.windowHandle(), opened.handle);
  EXPECT_EQ(window.winId(), opened.id);
  EXPECT_EQ(window.pos(), opened.placed);
}

// A platform that cannot put GL widgets in a window (offscreen, even where an
// X display would give it GL contexts; ctest runs it so as
// ReaderWindowOffscreenUnderX) still shows the window and the message.
TEST_F(ReaderWindowTest, TheWindowShowsAMessageOnAPlatformWithoutGLWidgets) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "runs on the offscreen platform";
  OpenedFirstMessage opened;
  ASSERT_NO_FATAL_FAILURE(opened.run());
  EXPECT_FALSE(opened.session->window().grab().isNull());
}

} // namespace

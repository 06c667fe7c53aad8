// Pictures of the shell for review: the welcome page, the browser window and
// the guide's four pages, light and dark, at the default and the minimum
// window size. Written only when BX_SHELL_SHOTS names a folder:
//   BX_SHELL_SHOTS=/tmp/shots build/tests/app/test_app_shell --gtest_filter='Screenshots*'
#include "FakeShellStore.h"
#include "ShellTestSupport.h"
#include "Theme/Theme.h"
#include "Shell/AppPalette.h"
#include "Shell/AppSession.h"
#include "Shell/BrindleboxCommands.h"
#include "Shell/SettingsWindow.h"
#include "Store/AppStore.h"

#include <QDialog>
#include "Shell/MainWindow.h"
#include "Shell/Onboarding.h"
#include "Shell/RootView.h"
#include "Shell/SheetHost.h"

#include <QDir>
#include <QFileInfo>

using namespace bx;
using namespace bx::test;

namespace {
class Screenshots : public ShellTest {};
} // namespace

TEST_F(Screenshots, Shell) {
  const QString dir = qEnvironmentVariable("BX_SHELL_SHOTS");
  if (dir.isEmpty()) GTEST_SKIP() << "set BX_SHELL_SHOTS to a folder";
  QDir().mkpath(dir);
  QSettings().setValue("bx.didShowWelcome", true);
  for (ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    Appearance::shared().setOverride(scheme);
    const QPalette before = QApplication::palette();
    QApplication::setPalette(AppPalette::make());
    const QString look = scheme == ColorScheme::Dark ? "dark" : "light";
    for (QSize size : {MainWindow::kDefaultSize, MainWindow::kMinimumSize}) {
      const QString tag = QStringLiteral("%1-%2x%3").arg(look).arg(size.width()).arg(size.height());
      FakeShellStore store;
      store.import = QStringLiteral("Imported 12 messages");
      MainWindow window(store);
      window.resize(size);
      window.show();
      QTest::qWait(150);
      window.grab().save(dir + "/welcome-" + tag + ".png");

      store.currentToast = Toast::make("Backup finished \u2014 3 new messages saved", "checkmark.circle.fill",
                                       Theme::seal);
      store.setAccounts(1);
      emit store.toastChanged();
      QTest::qWait(150);
      window.grab().save(dir + "/browser-" + tag + ".png");

      if (size == MainWindow::kDefaultSize) {
        store.setAccounts(0);
        for (int page = 0; page < 4; ++page) {
          OnboardingView::snapshotPage = page;
          store.setFlag(Seams::Sheet::Welcome, true);
          QDialog* guide = window.root()->sheets()->current();
          ASSERT_TRUE(guide);
          QTest::qWait(100);
          guide->grab().save(dir + QStringLiteral("/guide-%1-%2.png").arg(page).arg(look));
          store.setFlag(Seams::Sheet::Welcome, false);
        }
        OnboardingView::snapshotPage.reset();
      }
    }
    QApplication::setPalette(before);
  }
}

// The whole application as main() starts it, over a small vault of .eml
// files, so the real columns, reader and sheets are in the pictures; last a
// folder of loose files.
TEST_F(Screenshots, Application) {
  const QString dir = qEnvironmentVariable("BX_SHELL_SHOTS");
  if (dir.isEmpty()) GTEST_SKIP() << "set BX_SHELL_SHOTS to a folder";
  QDir().mkpath(dir);
  QTemporaryDir vault;
  const QStringList subjects{"Quarterly numbers", "Lunch on Friday?", "Your invoice #2231", "Flight itinerary"};
  // Message i of the set as a file, dated in March of `year`.
  const auto writeMessage = [&](const QString& file, int i, int year, const QString& body) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("From: Ada Example <ada@example.org>\r\nTo: me@example.org\r\nSubject: %1\r\n"
                           "Date: Mon, %2 Mar %3 10:00:00 +0000\r\nMessage-ID: <%4@example.org>\r\n\r\n%5\r\n")
                .arg(subjects[i])
                .arg(10 + i)
                .arg(year)
                .arg(QFileInfo(file).completeBaseName(), body)
                .toUtf8());
  };
  for (int i = 0; i < subjects.size(); ++i) {
    const QString folder = vault.path() + QStringLiteral("/Work/INBOX/202%1").arg(3 + i % 2);
    QDir().mkpath(folder);
    writeMessage(folder + QStringLiteral("/m%1.eml").arg(i), i, 2023 + i % 2,
                 QStringLiteral("Hello, this is message %1.").arg(i));
  }
  qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
  QSettings().setValue("bx.didShowWelcome", true);
  for (ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    Appearance::shared().setOverride(scheme);
    const QPalette before = QApplication::palette();
    QApplication::setPalette(AppPalette::make());
    const QString look = scheme == ColorScheme::Dark ? "dark" : "light";
    {
      AppSession session;
      session.start();
      for (QSize size : {MainWindow::kDefaultSize, MainWindow::kMinimumSize}) {
        session.window().resize(size);
        QTest::qWait(1500);
        session.window().grab().save(
            dir + QStringLiteral("/app-%1-%2x%3.png").arg(look).arg(size.width()).arg(size.height()));
      }
      // The sheets and the settings window as the shell presents them.
      const std::pair<Seams::Sheet, const char*> sheets[] = {{Seams::Sheet::AddAccount, "add-account"},
                                                              {Seams::Sheet::BackupActivity, "ledger"},
                                                              {Seams::Sheet::Welcome, "guide"}};
      for (const auto& [kind, name] : sheets) {
        if (kind == Seams::Sheet::AddAccount) session.store().setShowAddAccount(true);
        if (kind == Seams::Sheet::BackupActivity) session.store().setShowBackupActivity(true);
        if (kind == Seams::Sheet::Welcome) session.store().setShowWelcome(true);
        QTest::qWait(400);
        QDialog* sheet = session.window().root()->sheets()->current();
        ASSERT_TRUE(sheet) << name;
        sheet->grab().save(dir + QStringLiteral("/app-sheet-%1-%2.png").arg(QString::fromLatin1(name), look));
        sheet->done(QDialog::Rejected);
        QTest::qWait(50);
      }
      session.window().commands()->run(Command::Settings);
      QTest::qWait(400);
      ASSERT_TRUE(SettingsWindow::current());
      SettingsWindow::current()->grab().save(dir + QStringLiteral("/app-settings-%1.png").arg(look));
      SettingsWindow::current()->close();
      QTest::qWait(50);
      // A folder selected in the sidebar and its first message open.
      session.store().setSidebar(SidebarItem::makeFolder(QStringLiteral("Work"), QStringLiteral("INBOX")));
      QTest::qWait(200);
      if (!session.store().visible().empty())
        session.store().setSelectedPath(QString::fromStdString(session.store().visible().front()->path));
      QTest::qWait(1500);
      session.window().grab().save(dir + QStringLiteral("/app-open-%1.png").arg(look));
      // The vault emptied: the welcome page, with only the window's own
      // toolbar items.
      QTemporaryDir empty;
      session.store().changeArchiveRoot(empty.path().toStdString());
      QTest::qWait(800);
      session.window().grab().save(dir + QStringLiteral("/app-welcome-%1.png").arg(look));
      // A folder of loose .eml files, as the README suggests: one group,
      // its first message open.
      QTemporaryDir loose;
      for (int i = 0; i < subjects.size(); ++i)
        writeMessage(loose.path() + QStringLiteral("/%1.eml").arg(i == 0 ? QStringLiteral("plain")
                                                                         : QStringLiteral("filler0%1").arg(i)),
                     i, 2024, QStringLiteral("A loose message, number %1.").arg(i));
      session.store().changeArchiveRoot(loose.path().toStdString());
      QTest::qWait(800);
      session.store().setSidebar(SidebarItem::makeAccount(QString()));
      QTest::qWait(200);
      if (!session.store().visible().empty())
        session.store().setSelectedPath(QString::fromStdString(session.store().visible().front()->path));
      QTest::qWait(1500);
      session.window().grab().save(dir + QStringLiteral("/app-loose-%1.png").arg(look));
    }
    QApplication::setPalette(before);
  }
  qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
}

// Pictures of the shell for review: the welcome page, the browser window and
// the guide's four pages, light and dark, at the default and the minimum
// window size. Written only when BX_SHELL_SHOTS names a folder:
//   BX_SHELL_SHOTS=/tmp/shots build/tests/app/test_app_shell --gtest_filter='Screenshots*'
#include "FakeShellStore.h"
#include "ShellTestSupport.h"
#include "Theme/Theme.h"
#include "Shell/AppPalette.h"
#include "Shell/MainWindow.h"
#include "Shell/Onboarding.h"
#include "Shell/RootView.h"
#include "Shell/SheetHost.h"

#include <QDir>

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

#include "MainWindowTest.h"
#include "Theme/Theme.h"
#include "Shell/Onboarding.h"
#include "Shell/RootView.h"
#include "Shell/SheetHost.h"
#include "Shell/WelcomeView.h"
#include "Views/ToastOverlay.h"

#include <QDialog>
#include <QSignalSpy>
#include <QSplitter>

using namespace bx;
using namespace bx::test;

namespace {

class RootViewTest : public MainWindowTest {
protected:
  RootView& root() { return *window->root(); }
};

} // namespace

TEST_F(RootViewTest, TheWindowItself) {
  open();
  EXPECT_EQ(window->objectName(), "main");
  EXPECT_EQ(window->windowTitle(), "Brindlebox");
  EXPECT_EQ(window->size(), QSize(1280, 800));
  EXPECT_EQ(window->minimumSize(), QSize(1100, 620));
}

TEST_F(RootViewTest, EmptyVaultTable) {
  open();
  struct Case {
    int accounts;
    bool records;
    bool indexing;
    bool welcome;
  };
  const Case cases[] = {
      {0, false, false, true},  {1, false, false, false}, {0, true, false, false},
      {0, false, true, false},  {2, true, true, false},   {0, false, false, true},
  };
  for (const Case& c : cases) {
    store.accounts = c.accounts;
    store.records = c.records;
    store.setIndexing(c.indexing);
    EXPECT_EQ(store.isEmptyVault(), c.welcome);
    EXPECT_EQ(root().showsWelcome(), c.welcome) << c.accounts << c.records << c.indexing;
  }
}

TEST_F(RootViewTest, BrowserColumns) {
  store.accounts = 1;
  open();
  QSplitter* browser = root().browser();
  ASSERT_EQ(browser->count(), 3);
  EXPECT_EQ(browser->widget(0)->minimumWidth(), 210);
  EXPECT_EQ(browser->widget(0)->maximumWidth(), 300);
  EXPECT_EQ(browser->widget(1)->minimumWidth(), 380);
  EXPECT_EQ(browser->widget(1)->maximumWidth(), 600);
  EXPECT_EQ(browser->widget(2), root().readerHost());
  QWidget* spine = browser->widget(1)->findChild<QWidget*>("spine");
  ASSERT_TRUE(spine);
  EXPECT_EQ(spine->width(), 84);
  EXPECT_EQ(spine->x(), 0);
}

TEST_F(RootViewTest, ReturnOnTheWelcomePageAsksForAnAccount) {
  open();
  ASSERT_TRUE(root().showsWelcome());
  QTest::keyClick(window.get(), Qt::Key_Return);
  EXPECT_TRUE(store.flag(Seams::Sheet::AddAccount));
  // The add-account sheet is up now: Return belongs to it, not to the page.
  store.calls.clear();
  QDialog* sheet = root().sheets()->current();
  ASSERT_TRUE(sheet);
  QApplication::setActiveWindow(sheet);
  store.flags[0] = false;
  QTest::keyClick(window.get(), Qt::Key_Enter);
  EXPECT_FALSE(store.calls.contains("setFlag 0 1"));
}

TEST_F(RootViewTest, GuideOpensOnceWhenDue) {
  open(false);
  EXPECT_TRUE(root().guideScheduled());
  // Not at once: it waits for the window to settle (a wall-clock bound
  // here would fail on a loaded machine).
  EXPECT_FALSE(store.flag(Seams::Sheet::Welcome));
  QTRY_VERIFY_WITH_TIMEOUT(store.flag(Seams::Sheet::Welcome), 1000);
  auto* guide = qobject_cast<OnboardingView*>(root().sheets()->current());
  ASSERT_TRUE(guide);
  EXPECT_EQ(guide->page(), 0);
  EXPECT_EQ(guide->size(), QSize(580, 470));
  EXPECT_EQ(guide->windowModality(), Qt::WindowModal);
  QTest::keyClick(guide, Qt::Key_Escape);
  EXPECT_FALSE(store.flag(Seams::Sheet::Welcome));
  EXPECT_TRUE(seen());
  // Shown again: no second scheduling.
  window->hide();
  window->show();
  QTest::qWait(500);
  EXPECT_FALSE(store.flag(Seams::Sheet::Welcome));
}

TEST_F(RootViewTest, GuideNotDueNeverOpens) {
  qputenv("BRINDLEBOX_UITEST_PORT", "1143");
  open(false);
  EXPECT_FALSE(root().guideScheduled());
  QTest::qWait(500);
  EXPECT_FALSE(store.flag(Seams::Sheet::Welcome));
}

TEST_F(RootViewTest, GuideOpensOnTheSnapshotPage) {
  open();
  OnboardingView::snapshotPage = 2;
  store.setFlag(Seams::Sheet::Welcome, true);
  OnboardingView::snapshotPage.reset();
  auto* guide = qobject_cast<OnboardingView*>(root().sheets()->current());
  ASSERT_TRUE(guide);
  EXPECT_EQ(guide->page(), 2);
  EXPECT_EQ(guide->footerButtons(), (QStringList{"Skip", "Back", "Continue"}));
  // Cleared by the harness: the guide goes without marking itself seen.
  QSettings().remove("bx.didShowWelcome");
  store.setFlag(Seams::Sheet::Welcome, false);
  EXPECT_FALSE(root().sheets()->current());
  EXPECT_FALSE(seen());
}

TEST_F(RootViewTest, ToastsOverTheWelcomePageAndTheReader) {
  open();
  store.currentToast = Toast::make("Backup finished", "checkmark", Theme::seal);
  emit store.toastChanged();
  ASSERT_TRUE(root().welcomeToasts()->currentView());
  EXPECT_EQ(root().welcomeToasts()->currentView()->parentWidget(), root().welcome());
  QSignalSpy dismissed(root().welcomeToasts(), &ToastOverlay::dismissed);
  emit root().welcomeToasts()->currentView()->clicked();
  EXPECT_EQ(store.calls.value(0), "clearToast");
  EXPECT_FALSE(store.currentToast);

  store.setAccounts(1);
  store.currentToast = Toast::make("Stopped", "stop.fill", Theme::ink2);
  emit store.toastChanged();
  ASSERT_TRUE(root().readerToasts()->currentView());
  EXPECT_EQ(root().readerToasts()->currentView()->parentWidget(), root().readerHost());
}

TEST_F(RootViewTest, ImportStatusOnTheWelcomePage) {
  open();
  store.import = QStringLiteral("Importing\u2026");
  emit store.importMessageChanged();
  EXPECT_EQ(root().welcome()->importMessage(), QStringLiteral("Importing\u2026"));
  EXPECT_TRUE(root().welcome()->importStatus()->isVisibleTo(root().welcome()));
}

TEST_F(RootViewTest, ClosingTheMainWindowQuits) {
  open();
  window->close();
  EXPECT_TRUE(Quitting::isOn());
  EXPECT_EQ(quitRequests, 1);
}

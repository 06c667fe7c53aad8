#include "FakeShellStore.h"
#include "ShellTestSupport.h"
#include "Shell/Onboarding.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"

#include <QCloseEvent>
#include <QMainWindow>
#include <QSettings>

using namespace bx;
using namespace bx::test;

namespace {

class OnboardingTestBase : public ShellTest {
protected:
  void SetUp() override {
    ShellTest::SetUp();
    window = std::make_unique<QMainWindow>();
    window->resize(800, 600);
    window->show();
  }
  void TearDown() override {
    window.reset();
    ShellTest::TearDown();
  }

  OnboardingView* open(int page = 0) {
    OnboardingActions actions;
    actions.context = &store;
    actions.accountCount = [this] { return store.accountCount(); };
    actions.presentImportPanel = [this] { store.presentImportPanel(); };
    actions.showAddAccount = [this] { store.setFlag(Seams::Sheet::AddAccount, true); };
    auto* guide = new OnboardingView(page, std::move(actions), window.get());
    guide->show();
    QCoreApplication::processEvents();
    return guide;
  }

  FakeShellStore store;
  std::unique_ptr<QMainWindow> window;
};

class ShouldShowTest : public OnboardingTestBase {};
class GuideTest : public OnboardingTestBase {};

} // namespace

TEST_F(ShouldShowTest, SwitchesAndTheSeenFlag) {
  struct Case {
    const char* name;
    const char* value;  // nullptr: unset
    bool seen;
    bool expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, false, true},
      {nullptr, nullptr, true, false},
      {"BRINDLEBOX_SNAPSHOT_DIR", "", false, false},
      {"BRINDLEBOX_DEMO_DIR", "", false, false},
      // The self-test drives a fresh profile: no guide over it.
      {"BRINDLEBOX_UITEST_PORT", "1143", false, false},
      {"BRINDLEBOX_UITEST_NETWORK", "", false, false},
      {"BRINDLEBOX_UITEST_SCRUB", "1", false, false},
      // A port that is no number selects no self-test.
      {"BRINDLEBOX_UITEST_PORT", "abc", false, true},
      {"BRINDLEBOX_SNAPSHOT_DEMO", "", false, true},
  };
  for (const Case& c : cases) {
    for (const char* name : kSwitches) qunsetenv(name);
    if (c.name) qputenv(c.name, c.value);
    QSettings().setValue("bx.didShowWelcome", c.seen);
    EXPECT_EQ(Onboarding::shouldShow(), c.expected) << (c.name ? c.name : "none") << " seen=" << c.seen;
  }
}

TEST_F(GuideTest, FooterPerPageAndTheCounter) {
  struct Case {
    int page;
    QStringList buttons;
    QString number;
  };
  const QList<Case> cases{
      {0, {"Skip", "Continue"}, "01"},
      {1, {"Skip", "Back", "Continue"}, "02"},
      {2, {"Skip", "Back", "Continue"}, "03"},
      {3, {"Back", "Import Files\u2026", "Add a Mail Account"}, "04"},
  };
  for (const Case& c : cases) {
    OnboardingView* guide = open(c.page);
    EXPECT_EQ(guide->footerButtons(), c.buttons) << c.page;
    auto* number = guide->pageArea()->current()->findChild<TextBlock*>("pageNumber");
    auto* count = guide->pageArea()->current()->findChild<TextBlock*>("pageCount");
    ASSERT_TRUE(number && count);
    EXPECT_EQ(number->text(), c.number);
    EXPECT_EQ(count->text(), "/ 04");
    // The current dot is the wide one.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(guide->dots()->dotWidth(i), i == c.page ? 18 : 6);
    if (auto* skip = guide->footerButton("Skip")) {
      EXPECT_EQ(skip->focusPolicy(), Qt::NoFocus);
    }
    delete guide;
  }
  store.accounts = 1;
  OnboardingView* guide = open(3);
  EXPECT_EQ(guide->footerButtons().last(), "Start Reading");
  delete guide;
}

TEST_F(GuideTest, OutOfRangeStartPagesAreClamped) {
  for (auto [start, page] : {std::pair{-3, 0}, {4, 3}, {99, 3}}) {
    OnboardingView* guide = open(start);
    EXPECT_EQ(guide->page(), page) << start;
    delete guide;
  }
}

TEST_F(GuideTest, ReturnAdvancesAndFinishesWithTheAddAccountSheetLater) {
  OnboardingView* guide = open(0);
  for (int expected : {1, 2, 3}) {
    QTest::keyClick(guide, Qt::Key_Return);
    EXPECT_EQ(guide->page(), expected);
    EXPECT_TRUE(guide->forward());
  }
  EXPECT_FALSE(seen());
  QTest::keyClick(guide, Qt::Key_Enter);
  // Written before the sheet went, and synced.
  EXPECT_TRUE(seen());
  EXPECT_FALSE(guide->isVisible());
  EXPECT_FALSE(store.flag(Seams::Sheet::AddAccount));
  settle(200);
  EXPECT_FALSE(store.flag(Seams::Sheet::AddAccount)) << "not before 0.35 s";
  settle(250);
  EXPECT_TRUE(store.flag(Seams::Sheet::AddAccount));
  delete guide;
}

TEST_F(GuideTest, FinishWithAnAccountOnlyCloses) {
  store.accounts = 1;
  OnboardingView* guide = open(3);
  guide->footerButton("Start Reading")->click();
  settle(450);
  EXPECT_TRUE(seen());
  EXPECT_FALSE(store.flag(Seams::Sheet::AddAccount));
  EXPECT_TRUE(store.calls.isEmpty());
  delete guide;
}

TEST_F(GuideTest, BackSlidesTheOtherWay) {
  OnboardingView* guide = open(2);
  guide->footerButton("Back")->click();
  EXPECT_EQ(guide->page(), 1);
  EXPECT_FALSE(guide->forward());
  delete guide;
}

TEST_F(GuideTest, EveryExitWritesTheFlag) {
  struct Exit {
    const char* name;
    std::function<void(OnboardingView*)> run;
  };
  const QList<Exit> exits{
      {"Escape", [](OnboardingView* g) { QTest::keyClick(g, Qt::Key_Escape); }},
      {"Skip", [](OnboardingView* g) { g->footerButton("Skip")->click(); }},
      {"close button", [](OnboardingView* g) { g->close(); }},
  };
  for (const Exit& exit : exits) {
    QSettings().remove("bx.didShowWelcome");
    OnboardingView* guide = open(1);
    exit.run(guide);
    EXPECT_TRUE(seen()) << exit.name;
    EXPECT_FALSE(guide->isVisible()) << exit.name;
    delete guide;
  }
  // Escape on the last page still skips (no Skip button there).
  QSettings().remove("bx.didShowWelcome");
  OnboardingView* guide = open(3);
  QTest::keyClick(guide, Qt::Key_Escape);
  EXPECT_TRUE(seen());
  settle(450);
  EXPECT_FALSE(store.flag(Seams::Sheet::AddAccount)) << "Skip is not Finish";
  delete guide;
}

TEST_F(GuideTest, ImportClosesThenOpensThePanel) {
  OnboardingView* guide = open(3);
  guide->footerButton("Import Files\u2026")->click();
  EXPECT_TRUE(seen());
  EXPECT_TRUE(store.calls.isEmpty()) << "the panel waits until the sheet has gone";
  settle();
  EXPECT_EQ(store.calls, QStringList{"presentImportPanel"});
  delete guide;
}

TEST_F(GuideTest, QuittingWithTheGuideOpenWritesNothing) {
  OnboardingView* guide = open(1);
  Quitting::begin();
  guide->close();
  window->close();
  EXPECT_FALSE(seen());
  delete guide;
}

TEST_F(GuideTest, DeferredStepsDieWithTheirContext) {
  auto* context = new FakeShellStore;
  OnboardingActions actions;
  actions.context = context;
  actions.accountCount = [] { return 0; };
  bool raised = false;
  actions.showAddAccount = [&raised] { raised = true; };
  auto* guide = new OnboardingView(3, std::move(actions), window.get());
  guide->show();
  guide->finish();
  delete context;
  settle(450);
  EXPECT_FALSE(raised);
  delete guide;
}

#include "FakeShellStore.h"
#include "ShellTestSupport.h"
#include "Shell/SheetHost.h"

#include <QDialog>
#include <QMainWindow>

using namespace bx;
using namespace bx::test;

namespace {

class SheetHostTest : public ShellTest {
protected:
  using Sheet = Seams::Sheet;
  void SetUp() override {
    ShellTest::SetUp();
    window.resize(600, 400);
    window.show();
    host = std::make_unique<SheetHost>(
        &window,
        [this](Sheet kind, QWidget* parent) {
          auto* d = new QDialog(parent);
          d->setObjectName(QString::number(int(kind)));
          ++made;
          return d;
        },
        [this](Sheet kind) { return store.flag(kind); },
        [this](Sheet kind, bool value) { store.setFlag(kind, value); });
    QObject::connect(&store, &ShellStore::flagChanged, host.get(), &SheetHost::flagChanged);
  }
  void TearDown() override {
    host.reset();
    ShellTest::TearDown();
  }

  QString shown() const { return host->current() ? host->current()->objectName() : QString(); }

  FakeShellStore store;
  QMainWindow window;
  std::unique_ptr<SheetHost> host;
  int made = 0;
};

} // namespace

TEST_F(SheetHostTest, TrueOpensWindowModalFalseCloses) {
  store.setFlag(Sheet::FreeUp, true);
  ASSERT_EQ(shown(), "1");
  EXPECT_TRUE(host->current()->isVisible());
  EXPECT_EQ(host->current()->windowModality(), Qt::WindowModal);
  EXPECT_FALSE(host->current()->isModal() && host->current()->windowModality() == Qt::ApplicationModal);
  store.setFlag(Sheet::FreeUp, false);
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(made, 1);
}

TEST_F(SheetHostTest, ClosingTheSheetClearsItsFlag) {
  for (auto close : {+[](QDialog* d) { d->reject(); }, +[](QDialog* d) { d->close(); },
                     +[](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }}) {
    store.setFlag(Sheet::AddAccount, true);
    ASSERT_TRUE(host->current());
    close(host->current());
    EXPECT_FALSE(store.flag(Sheet::AddAccount));
    EXPECT_EQ(shown(), "");
  }
}

TEST_F(SheetHostTest, ASecondFlagWaitsForTheFirstSheet) {
  store.setFlag(Sheet::AddAccount, true);
  store.setFlag(Sheet::Welcome, true);
  store.setFlag(Sheet::BackupActivity, true);
  EXPECT_EQ(shown(), "0");
  // Cleared while waiting: it does not open.
  store.setFlag(Sheet::BackupActivity, false);
  host->current()->reject();
  EXPECT_EQ(shown(), "3");
  host->current()->reject();
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(made, 2);
}

TEST_F(SheetHostTest, RaisingTheShownFlagAgainOpensNothingNew) {
  store.setFlag(Sheet::FreeUp, true);
  QDialog* first = host->current();
  store.setFlag(Sheet::FreeUp, true);
  EXPECT_EQ(host->current(), first);
  EXPECT_EQ(made, 1);
}

TEST_F(SheetHostTest, GoingWithTheWindowLeavesFlagsAlone) {
  store.setFlag(Sheet::FreeUp, true);
  host.reset();
  EXPECT_TRUE(store.flag(Sheet::FreeUp));
}

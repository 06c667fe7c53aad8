#include "MainWindowTest.h"
#include "Shell/BrindleboxCommands.h"
#include "Shell/RootView.h"
#include "Shell/SheetHost.h"
#include "Shell/ToolbarButton.h"

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>

using namespace bx;
using namespace bx::test;

namespace {

class CommandsTest : public MainWindowTest {
protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    open();
  }
  BrindleboxCommands& commands() { return *window->commands(); }
};

CommandState base() {
  CommandState s;
  s.hasAccounts = true;
  s.visibleEmpty = false;
  return s;
}

} // namespace

TEST(CommandRulesTest, EnabledRulesAsFunctionsOfState) {
  struct Case {
    const char* name;
    std::function<void(CommandState&)> set;
    QList<Command> disabled;  // everything else is enabled
  };
  const QList<Case> cases{
      {"idle with accounts and a live selection",
       [](CommandState& s) {
         s.hasSelection = s.selectionLive = true;
         s.query = "invoice";
       },
       {Command::StopBackup}},
      {"no accounts",
       [](CommandState& s) { s.hasAccounts = false; },
       {Command::BackUpNow, Command::FreeUpSpace, Command::StopBackup, Command::ShowImages, Command::ShowInFinder,
        Command::OpenInMailApp, Command::SaveSearch}},
      {"backup running",
       [](CommandState& s) { s.backupRunning = true; },
       {Command::BackUpNow, Command::ShowImages, Command::ShowInFinder, Command::OpenInMailApp,
        Command::SaveSearch}},
      {"empty list",
       [](CommandState& s) { s.visibleEmpty = true; },
       {Command::StopBackup, Command::NextMessage, Command::PreviousMessage, Command::ShowImages,
        Command::ShowInFinder, Command::OpenInMailApp, Command::SaveSearch}},
      {"selection whose file a rescan removed",
       [](CommandState& s) { s.hasSelection = true; },
       {Command::StopBackup, Command::ShowInFinder, Command::OpenInMailApp, Command::SaveSearch}},
      {"query of spaces and tabs",
       [](CommandState& s) { s.query = " \t  "; },
       {Command::StopBackup, Command::ShowImages, Command::ShowInFinder, Command::OpenInMailApp,
        Command::SaveSearch}},
      {"query with spaces around a word",
       [](CommandState& s) { s.query = "  a "; },
       {Command::StopBackup, Command::ShowImages, Command::ShowInFinder, Command::OpenInMailApp}},
  };
  for (const Case& c : cases) {
    CommandState s = base();
    c.set(s);
    for (int i = 0; i <= int(Command::Welcome); ++i) {
      const Command cmd = Command(i);
      EXPECT_EQ(CommandRules::enabled(cmd, s), !c.disabled.contains(cmd)) << c.name << ", command " << i;
    }
  }
}

TEST_F(CommandsTest, MenusHoldEveryItemInOrder) {
  auto titles = [&](const char* menu) {
    QStringList out;
    for (QAction* a : commands().menu(QString::fromLatin1(menu))->actions())
      out << (a->isSeparator() ? QStringLiteral("-") : a->text() + " " + a->shortcut().toString());
    return out;
  };
  EXPECT_EQ(titles("File"), (QStringList{"Add Account\u2026 Ctrl+N", "Import .eml or .mbox\u2026 Ctrl+Shift+I", "-",
                                         "Show Vault in Files Ctrl+Shift+A", "-", "Settings\u2026 Ctrl+,", "-",
                                         "Quit Ctrl+Q"}));
  EXPECT_EQ(titles("Mailbox"),
            (QStringList{"Back Up Now Ctrl+Shift+B", "Stop Backup Ctrl+.", "Backup Ledger\u2026 Ctrl+Shift+0", "-",
                         "Free Up Space\u2026 Ctrl+Shift+F", "Rebuild Search Index ", "-", "Everything Ctrl+1",
                         "Last 30 Days Ctrl+2", "With Attachments Ctrl+3", "Needs a Second Look Ctrl+4"}));
  EXPECT_EQ(titles("Message"),
            (QStringList{"Next Message Ctrl+Down", "Previous Message Ctrl+Up", "-", "Show Images Ctrl+Shift+L",
                         "Show in Files Ctrl+Shift+R", "Open in Default Mail App Ctrl+O", "-",
                         "Save Search as Smart Filter Ctrl+Alt+S"}));
  EXPECT_EQ(titles("Help"), (QStringList{"Welcome to Brindlebox\u2026 ", "Check for Updates\u2026 "}));
}

TEST_F(CommandsTest, EnabledStatesFollowTheStoreSignals) {
  EXPECT_FALSE(commands().action(Command::BackUpNow)->isEnabled());
  EXPECT_FALSE(commands().action(Command::FreeUpSpace)->isEnabled());
  EXPECT_TRUE(commands().action(Command::AddAccount)->isEnabled());
  EXPECT_TRUE(commands().action(Command::BackupLedger)->isEnabled());
  EXPECT_TRUE(commands().action(Command::RebuildIndex)->isEnabled());
  store.setAccounts(1);
  EXPECT_TRUE(commands().action(Command::BackUpNow)->isEnabled());
  store.setRunning(true);
  EXPECT_FALSE(commands().action(Command::BackUpNow)->isEnabled());
  EXPECT_TRUE(commands().action(Command::StopBackup)->isEnabled());
  store.setRunning(false);
  EXPECT_TRUE(commands().action(Command::BackUpNow)->isEnabled());
  EXPECT_FALSE(commands().action(Command::StopBackup)->isEnabled());
}

TEST_F(CommandsTest, ShortcutsReachTheStore) {
  store.setAccounts(1);
  store.state.visibleEmpty = false;
  store.state.hasSelection = store.state.selectionLive = true;
  store.state.query = "x";
  emit store.commandStateChanged();
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    QString call;
  };
  const QList<Case> cases{
      {Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier, "backUpNow"},
      {Qt::Key_1, Qt::ControlModifier, "selectShelf 0"},
      {Qt::Key_4, Qt::ControlModifier, "selectShelf 3"},
      {Qt::Key_Down, Qt::ControlModifier, "selectNext 1"},
      {Qt::Key_Up, Qt::ControlModifier, "selectNext -1"},
      {Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier, "showImages"},
      {Qt::Key_S, Qt::ControlModifier | Qt::AltModifier, "saveSearch"},
      {Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier, "presentImportPanel"},
      {Qt::Key_N, Qt::ControlModifier, "setFlag 0 1"},
  };
  for (const Case& c : cases) {
    store.calls.clear();
    QTest::keyClick(window.get(), c.key, c.mods);
    EXPECT_EQ(store.calls.value(0), c.call) << c.call.toStdString();
    if (store.flags[0]) {
      store.calls.clear();
      store.setFlag(Seams::Sheet::AddAccount, false);
    }
  }
}

TEST_F(CommandsTest, ADisabledCommandDoesNotRunByShortcutEvenIfTheMenuIsStale) {
  store.setAccounts(1);
  // The state changes without a signal: the item still looks enabled.
  store.state.backupRunning = true;
  ASSERT_TRUE(commands().action(Command::BackUpNow)->isEnabled());
  QTest::keyClick(window.get(), Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(store.calls.contains("backUpNow"));
  EXPECT_FALSE(commands().action(Command::BackUpNow)->isEnabled());
}

TEST_F(CommandsTest, NoShortcutsWhileASheetIsUp) {
  store.setAccounts(1);
  store.setFlag(Seams::Sheet::BackupActivity, true);
  QDialog* sheet = window->root()->sheets()->current();
  ASSERT_TRUE(sheet);
  sheet->activateWindow();
  QApplication::setActiveWindow(sheet);
  store.calls.clear();
  QTest::keyClick(sheet, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(sheet, Qt::Key_1, Qt::ControlModifier);
  EXPECT_TRUE(store.calls.isEmpty()) << store.calls.join(", ").toStdString();
}

TEST_F(CommandsTest, ToolbarItems) {
  RootView* root = window->root();
  ToolbarButton* backup = root->backupButton()->button();
  EXPECT_FALSE(backup->isEnabled());
  EXPECT_FALSE(root->freeUpButton()->isEnabled());
  EXPECT_TRUE(root->moreButton()->isEnabled());
  store.setAccounts(1);
  EXPECT_TRUE(backup->isEnabled());
  EXPECT_TRUE(root->freeUpButton()->isEnabled());
  backup->click();
  EXPECT_EQ(store.calls.value(0), "backUpNow");

  // Running: another label, pulsing, and a click opens the ledger.
  store.calls.clear();
  store.setRunning(true);
  EXPECT_EQ(backup->text(), "Backing Up");
  EXPECT_TRUE(backup->isPulsing());
  EXPECT_EQ(backup->toolTip(), "Show the backup ledger");
  store.setAccounts(0);
  EXPECT_TRUE(backup->isEnabled()) << "a running backup keeps the item usable";
  backup->click();
  EXPECT_EQ(store.calls.value(0), "setFlag 2 1");
  store.flags[2] = false;
  store.setAccounts(1);

  // A finished backup: idle label, one bounce per new finish time.
  const int before = backup->bounces();
  store.setRunning(false, QDateTime::fromSecsSinceEpoch(1000));
  EXPECT_EQ(backup->text(), "Back Up Now");
  EXPECT_FALSE(backup->isPulsing());
  EXPECT_EQ(backup->bounces(), before + 1);
  emit store.backupChanged();
  EXPECT_EQ(backup->bounces(), before + 1);

  // More: its three items, no shortcuts.
  QStringList items;
  for (QAction* a : root->moreButton()->menu()->actions()) {
    items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_TRUE(a->shortcut().isEmpty());
  }
  EXPECT_EQ(items, (QStringList{"Import .eml or .mbox\u2026", "Show Vault in Files", "-", "Backup Ledger\u2026"}));
}

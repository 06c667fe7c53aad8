#pragma once

#include "Shell/ShellStore.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;

namespace bx {

// The application's menu commands.
enum class Command {
  AddAccount,
  Import,
  ShowVault,
  Settings,
  Quit,
  BackUpNow,
  StopBackup,
  BackupLedger,
  FreeUpSpace,
  RebuildIndex,
  ShelfAll,
  ShelfRecent,
  ShelfAttachments,
  ShelfSuspicious,
  NextMessage,
  PreviousMessage,
  ShowImages,
  ShowInFinder,
  OpenInMailApp,
  SaveSearch,
  Welcome,
};

namespace CommandRules {
// Whether `command` can run in `state`.
bool enabled(Command command, const CommandState& state);
// The search text as the save treats it: without leading and trailing
// spaces and tabs.
QString trimmedQuery(const QString& query);
} // namespace CommandRules

// The main window's menu bar: File, Mailbox, Message and Help with every
// item, shortcut and enabled rule, the kit's "Check for Updates…" in Help.
// Shortcuts belong to the main window (a sheet over it keeps them off);
// enabled states follow the store's signals and are checked again when an
// item runs, so a shortcut never runs a disabled command.
class BrindleboxCommands : public QObject {
  Q_OBJECT
public:
  struct Hooks {
    std::function<void()> openSettings;
    std::function<void()> quit;
  };

  BrindleboxCommands(ShellStore& store, QMainWindow* window, Hooks hooks);

  QAction* action(Command command) const { return actions_.value(int(command)); }
  QMenu* menu(const QString& title) const;
  QAction* checkForUpdates() const { return updates_; }

  // Re-reads the store and sets every item's enabled state.
  void refresh();
  // Runs a command when its rule allows it now; false when it did not run.
  bool run(Command command);

private:
  QAction* add(QMenu* menu, Command command, const QString& title, const QKeySequence& shortcut);
  void perform(Command command);

  ShellStore& store_;
  QPointer<QMainWindow> window_;
  Hooks hooks_;
  QHash<int, QAction*> actions_;
  QAction* updates_ = nullptr;
};

} // namespace bx

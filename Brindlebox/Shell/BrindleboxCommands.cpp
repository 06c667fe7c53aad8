#include "Shell/BrindleboxCommands.h"

#include "Orrery/OrreryCommands.h"
#include "Platform/PlatformText.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace bx {

QString CommandRules::trimmedQuery(const QString& query) {
  qsizetype from = 0, to = query.size();
  auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
  while (from < to && blank(query[from])) ++from;
  while (to > from && blank(query[to - 1])) --to;
  return query.mid(from, to - from);
}

bool CommandRules::enabled(Command command, const CommandState& s) {
  switch (command) {
  case Command::BackUpNow:
    return !s.backupRunning && s.hasAccounts;
  case Command::StopBackup:
    return s.backupRunning;
  case Command::FreeUpSpace:
    return s.hasAccounts;
  case Command::NextMessage:
  case Command::PreviousMessage:
    // Nothing to move to in an empty list.
    return !s.visibleEmpty;
  case Command::ShowImages:
    return s.hasSelection;
  case Command::ShowInFinder:
  case Command::OpenInMailApp:
    // A search can keep a selection whose file a rescan removed: acting on
    // it would fail silently.
    return s.selectionLive;
  case Command::SaveSearch:
    // The save ignores a query of spaces and tabs.
    return !trimmedQuery(s.query).isEmpty();
  default:
    return true;
  }
}

BrindleboxCommands::BrindleboxCommands(ShellStore& store, QMainWindow* window, Hooks hooks)
    : QObject(window), store_(store), window_(window), hooks_(std::move(hooks)) {
  QMenuBar* bar = window->menuBar();
  auto key = [](const char* seq) { return QKeySequence(QString::fromLatin1(seq)); };

  QMenu* file = bar->addMenu(QStringLiteral("File"));
  add(file, Command::AddAccount, QStringLiteral("Add Account\u2026"), key("Ctrl+N"));
  add(file, Command::Import, QStringLiteral("Import .eml or .mbox\u2026"), key("Ctrl+Shift+I"));
  file->addSeparator();
  add(file, Command::ShowVault, PlatformText::localize(QStringLiteral("Show Vault in Finder")), key("Ctrl+Shift+A"));
  // No application menu here: the settings and quitting end File.
  file->addSeparator();
  QAction* settings = add(file, Command::Settings, QStringLiteral("Settings\u2026"), key("Ctrl+,"));
  settings->setMenuRole(QAction::PreferencesRole);
  file->addSeparator();
  QAction* quit = add(file, Command::Quit, QStringLiteral("Quit"), key("Ctrl+Q"));
  quit->setMenuRole(QAction::QuitRole);

  QMenu* mailbox = bar->addMenu(QStringLiteral("Mailbox"));
  add(mailbox, Command::BackUpNow, QStringLiteral("Back Up Now"), key("Ctrl+Shift+B"));
  add(mailbox, Command::StopBackup, QStringLiteral("Stop Backup"), key("Ctrl+."));
  add(mailbox, Command::BackupLedger, QStringLiteral("Backup Ledger\u2026"), key("Ctrl+Shift+0"));
  mailbox->addSeparator();
  add(mailbox, Command::FreeUpSpace, QStringLiteral("Free Up Space\u2026"), key("Ctrl+Shift+F"));
  add(mailbox, Command::RebuildIndex, QStringLiteral("Rebuild Search Index"), {});
  mailbox->addSeparator();
  add(mailbox, Command::ShelfAll, QStringLiteral("Everything"), key("Ctrl+1"));
  add(mailbox, Command::ShelfRecent, QStringLiteral("Last 30 Days"), key("Ctrl+2"));
  add(mailbox, Command::ShelfAttachments, QStringLiteral("With Attachments"), key("Ctrl+3"));
  add(mailbox, Command::ShelfSuspicious, QStringLiteral("Needs a Second Look"), key("Ctrl+4"));

  QMenu* message = bar->addMenu(QStringLiteral("Message"));
  add(message, Command::NextMessage, QStringLiteral("Next Message"), QKeySequence(Qt::CTRL | Qt::Key_Down));
  add(message, Command::PreviousMessage, QStringLiteral("Previous Message"), QKeySequence(Qt::CTRL | Qt::Key_Up));
  message->addSeparator();
  add(message, Command::ShowImages, QStringLiteral("Show Images"), key("Ctrl+Shift+L"));
  add(message, Command::ShowInFinder, PlatformText::localize(QStringLiteral("Show in Finder")), key("Ctrl+Shift+R"));
  add(message, Command::OpenInMailApp, QStringLiteral("Open in Default Mail App"), key("Ctrl+O"));
  message->addSeparator();
  add(message, Command::SaveSearch, QStringLiteral("Save Search as Smart Filter"), key("Ctrl+Alt+S"));

  QMenu* help = bar->addMenu(QStringLiteral("Help"));
  add(help, Command::Welcome, QStringLiteral("Welcome to Brindlebox\u2026"), {});
  // The kit's item; there is no application menu for it here.
  updates_ = orrery::OrreryCommands::addTo(help);

  connect(&store_, &ShellStore::commandStateChanged, this, &BrindleboxCommands::refresh);
  refresh();
}

QAction* BrindleboxCommands::add(QMenu* menu, Command command, const QString& title, const QKeySequence& shortcut) {
  auto* a = new QAction(title, menu);
  a->setShortcut(shortcut);
  a->setShortcutContext(Qt::WindowShortcut);
  menu->addAction(a);
  // A menu bar's actions fire only through the window they belong to.
  if (window_) window_->addAction(a);
  connect(a, &QAction::triggered, this, [this, command] { run(command); });
  actions_.insert(int(command), a);
  return a;
}

QMenu* BrindleboxCommands::menu(const QString& title) const {
  if (!window_) return nullptr;
  for (QAction* a : window_->menuBar()->actions()) {
    if (a->menu() && a->text() == title) return a->menu();
  }
  return nullptr;
}

void BrindleboxCommands::refresh() {
  const CommandState state = store_.commandState();
  for (auto it = actions_.cbegin(); it != actions_.cend(); ++it)
    it.value()->setEnabled(CommandRules::enabled(Command(it.key()), state));
}

bool BrindleboxCommands::run(Command command) {
  // The menu may not have been drawn since the state changed.
  if (!CommandRules::enabled(command, store_.commandState())) {
    refresh();
    return false;
  }
  perform(command);
  return true;
}

void BrindleboxCommands::perform(Command command) {
  using Sheet = Seams::Sheet;
  switch (command) {
  case Command::AddAccount: store_.setFlag(Sheet::AddAccount, true); break;
  case Command::Import: store_.presentImportPanel(); break;
  case Command::ShowVault: store_.openArchiveInFinder(); break;
  case Command::Settings:
    if (hooks_.openSettings) hooks_.openSettings();
    break;
  case Command::Quit:
    if (hooks_.quit) hooks_.quit();
    break;
  case Command::BackUpNow: store_.backUpNow(); break;
  case Command::StopBackup: store_.stopBackup(); break;
  case Command::BackupLedger: store_.setFlag(Sheet::BackupActivity, true); break;
  case Command::FreeUpSpace: store_.setFlag(Sheet::FreeUp, true); break;
  case Command::RebuildIndex: store_.reloadArchive(); break;
  case Command::ShelfAll: store_.selectShelf(Shelf::All); break;
  case Command::ShelfRecent: store_.selectShelf(Shelf::Recent); break;
  case Command::ShelfAttachments: store_.selectShelf(Shelf::Attachments); break;
  case Command::ShelfSuspicious: store_.selectShelf(Shelf::Suspicious); break;
  case Command::NextMessage: store_.selectNext(1); break;
  case Command::PreviousMessage: store_.selectNext(-1); break;
  case Command::ShowImages: store_.showImagesForSelection(); break;
  case Command::ShowInFinder: store_.revealSelection(); break;
  case Command::OpenInMailApp: store_.openSelection(); break;
  case Command::SaveSearch: store_.saveCurrentSearch(); break;
  case Command::Welcome: store_.setFlag(Sheet::Welcome, true); break;
  }
}

} // namespace bx

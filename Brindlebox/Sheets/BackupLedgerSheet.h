#pragma once
// The backup ledger: per account and chosen mail folder, how many messages
// the vault holds and what the current backup is doing; from here the user
// backs up all or one account, stops a run, opens the vault folder, closes.
// A window-modal dialog shown with show(); Return presses "Close", Escape
// closes. Closing never stops a backup.
#include "Sheets/SheetStore.h"
#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <map>

class QVBoxLayout;
class QScrollArea;

namespace bx {

class NoteSlot;
class ProgressLine;
class RollingCount;
class SheetHeader;
class SmallSpinner;
class SymbolView;
class TextBlock;
class VaultButton;
class VaultEmpty;

// What a folder line's status column shows.
struct LedgerStatus {
  QString text;
  ThemeColor color;
  bool checkmark = false;
  std::optional<double> progress;  // the bar under a running line

  static LedgerStatus of(const std::optional<BackupLedgerLine>& line, const std::optional<Date>& lastRun,
                         const std::function<QString(Date)>& ago);
};

class LedgerFolderLine : public ThemedWidget {
  Q_OBJECT
public:
  LedgerFolderLine(const QString& shownName, QWidget* parent = nullptr);
  void update(std::int64_t count, const LedgerStatus& status);

  QString shownName() const;
  QString countText() const;
  QString statusText() const;
  ThemeColor statusColor() const;
  bool hasCheckmark() const;
  ProgressLine* progress() const;  // nullptr unless running

private:
  TextBlock* name_;
  RollingCount* count_;
  SymbolView* check_;
  TextBlock* status_;
  ProgressLine* bar_;
  std::optional<bool> barShown_;
};

class LedgerAccountCard : public ThemedWidget {
  Q_OBJECT
public:
  LedgerAccountCard(SheetStore* store, const MailAccount& account, QWidget* parent = nullptr);

  // Reads the account's sync file again (when built and when a run ends).
  void reloadSync();
  void refresh(const MailAccount& account);

  const MailAccount& account() const { return account_; }
  bool busy() const;
  QString trailingText() const;  // the phase while busy, else the last-backup text
  VaultButton* backUpButton() const { return backUp_; }
  NoteSlot* problemNote() const { return problem_; }
  LedgerFolderLine* line(const std::string& mailbox) const;
  // The account folder and mail folder a chosen folder's messages are
  // counted under.
  std::pair<std::string, std::string> countKey(const std::string& mailbox) const;

private:
  SheetStore* store_;
  MailAccount account_;
  AccountSyncState sync_;
  SymbolView* symbol_;
  TextBlock* label_;
  TextBlock* user_;
  TextBlock* phase_;
  TextBlock* last_;
  VaultButton* backUp_;
  NoteSlot* problem_;
  QVBoxLayout* lines_;
  std::map<std::string, LedgerFolderLine*> lineByName_;
  std::optional<bool> shownBusy_;
};

class BackupLedgerSheet : public QDialog {
  Q_OBJECT
public:
  explicit BackupLedgerSheet(SheetStore* store, QWidget* parent = nullptr);

  QString statusTitle() const;
  // The header's shield: "checkmark.shield.fill", or the caution one while
  // an account's last run failed.
  QString shieldSymbol() const;
  static QString statusTitle(bool running, const QString& account, const std::optional<QString>& lastMessage);

  SheetHeader* header() const { return header_; }
  LedgerAccountCard* card(const UUID& id) const;
  QList<LedgerAccountCard*> cards() const;
  VaultEmpty* emptyState() const { return empty_; }
  VaultButton* addAccountButton() const { return addAccount_; }
  QWidget* importedRow() const { return imported_; }
  QString importedText() const;
  QString pathText() const;
  VaultButton* showButton() const { return show_; }
  VaultButton* actionButton() const;  // "Stop" or "Back Up All"
  VaultButton* closeButton() const { return close_; }
  bool showsSpinner() const;

protected:
  void keyPressEvent(QKeyEvent* e) override;

private:
  void refresh();
  void rebuildCards();
  bool cardsMatch() const;

  SheetStore* store_;
  std::optional<Date> shownFinish_;
  std::optional<bool> shownRunning_;
  SheetHeader* header_;
  SmallSpinner* spinner_;
  NoteSlot* listProblem_ = nullptr;
  SymbolView* shield_;
  QWidget* trailing_;
  QVBoxLayout* body_;
  QList<LedgerAccountCard*> cards_;
  VaultEmpty* empty_;
  VaultButton* addAccount_;
  QWidget* imported_;
  TextBlock* importedCount_;
  TextBlock* path_;
  VaultButton* show_;
  VaultButton* stop_;
  VaultButton* backUpAll_;
  VaultButton* close_;
};

}  // namespace bx

#pragma once
// What the backup ledger sheet needs of the application state: accounts,
// the backup run, per-folder ledger lines and problems, record counts, the
// vault's sync files and summary, and the operations it calls.
//
// Busy flags, problems and ledger lines are looked up by the account itself
// (its id), never by its label: two accounts may carry one label.
#include "Engines/FriendlyError.h"
#include "Util/Date.h"
#include "Vault/AccountSyncState.h"
#include "Vault/MailAccount.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace bx {

// One folder's line in the current or last run.
struct BackupLedgerLine {
  bool running = false;
  std::int64_t done = 0;
  std::int64_t total = 0;
  bool finished = false;
  std::int64_t newMessages = 0;
  friend bool operator==(const BackupLedgerLine&, const BackupLedgerLine&) = default;
};

class BackupLedgerHost : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;

  virtual std::vector<MailAccount> accounts() const = 0;

  virtual bool backupRunning() const = 0;
  // The account the running backup works on (its label as the engine
  // reports it, and its id), and the engine's phase text.
  virtual QString runningAccountLabel() const = 0;
  virtual std::optional<UUID> runningAccountID() const = 0;
  virtual QString phase() const = 0;
  virtual std::optional<QString> lastMessage() const = 0;
  virtual std::optional<Date> lastFinished() const = 0;

  virtual std::optional<FriendlyError::Message> problem(const MailAccount& account) const = 0;
  virtual std::optional<BackupLedgerLine> ledgerLine(const MailAccount& account, const std::string& mailbox) const = 0;
  // Indexed records of one account folder and mail folder of the vault.
  virtual std::int64_t count(const std::string& accountDirectory, const std::string& folderDirectory) const = 0;
  virtual AccountSyncState loadSync(const MailAccount& account) const = 0;

  virtual QString vaultSummary() const = 0;
  virtual QString vaultPath() const = 0;
  // Records under "Imported", and whether that folder is among the vault's
  // account folders.
  virtual std::int64_t importedCount() const = 0;
  virtual bool hasImported() const = 0;

  virtual void backUpNow(const std::optional<MailAccount>& only) = 0;
  virtual void stopBackup() = 0;
  virtual void openArchiveInFinder() = 0;
  // Opens the add-account sheet a moment after this sheet has gone.
  virtual void requestAddAccount() = 0;

  // Relative age for "last backup" texts: "just now", "12 min ago", "3 h ago",
  // "5 d ago", else the abbreviated date.
  virtual QString ago(Date date) const;
  // The symbol of the account's provider preset; unknown ids get the
  // custom preset's.
  virtual QString providerSymbol(const std::string& provider) const;

signals:
  // Anything the sheet shows may have changed.
  void changed();
  // A run ended: sync files are worth reading again.
  void runEnded();
};

}  // namespace bx

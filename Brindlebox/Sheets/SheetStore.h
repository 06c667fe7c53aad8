#pragma once

#include "Engines/FriendlyError.h"
#include "Sheets/BackupLedgerLine.h"
#include "Sheets/FreeUpState.h"
#include "Util/Date.h"
#include "Vault/AccountSyncState.h"
#include "Vault/MailAccount.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bx {

// What the sheets and the settings window ask of the application store: the
// accounts and the operations on them, the backup state they must respect,
// the free-up flow, the backup ledger, the vault's location and the flags
// that present things in the main window. The application implements it
// over its store (AppSheetStore); tests give a store of their own.
//
// Busy flags, problems and ledger lines are looked up by the account itself
// (its id), never by its label: two accounts may carry one label.
class SheetStore : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;

  // ---- Accounts
  virtual std::vector<MailAccount> accounts() const = 0;
  // Stores the password, then the account. Throws std::exception (what() is
  // shown to the user) and leaves nothing behind when either write fails.
  virtual void addAccount(const MailAccount& account, const std::string& password) = 0;
  virtual void updateAccount(const MailAccount& account) = 0;
  virtual void removeAccount(const MailAccount& account) = 0;
  // Whether running work (a backup that includes it, its free-up) still
  // writes for this account: it cannot be removed meanwhile.
  virtual bool accountBusy(const UUID& id) const = 0;

  // ---- Backups
  // Starts a backup of one account, or of all; while one runs, the new one
  // starts when it ends (and counts for accountBusy meanwhile).
  virtual void backUpNow(const std::optional<MailAccount>& only) = 0;
  virtual void stopBackup() = 0;
  virtual bool backupRunning() const = 0;
  // The account the running backup works on (its label as the engine
  // reports it, and its id, which alone tells accounts apart), and the
  // engine's phase text.
  virtual QString runningAccountLabel() const = 0;
  virtual std::optional<UUID> runningAccountID() const = 0;
  virtual QString phase() const = 0;
  virtual std::optional<QString> lastMessage() const = 0;
  virtual std::optional<Date> lastFinished() const = 0;
  virtual std::optional<FriendlyError::Message> problem(const MailAccount& account) const = 0;
  // Some account's last run failed (the same rule as the backup strip's).
  virtual bool anyProblem() const = 0;
  virtual std::optional<BackupLedgerLine> ledgerLine(const MailAccount& account, const std::string& mailbox) const = 0;

  // The vault folder or the account list on disk cannot be read: what,
  // where and what to do.
  virtual std::optional<FriendlyError::Message> storageProblem() const { return std::nullopt; }

  // ---- The vault
  // The account's folder in the vault, where its mail is.
  virtual std::string accountFolder(const MailAccount& account) const = 0;
  // Indexed records of one account folder and mail folder of the vault.
  virtual std::int64_t count(const std::string& accountDirectory, const std::string& folderDirectory) const = 0;
  virtual AccountSyncState loadSync(const MailAccount& account) const = 0;
  // Records under "Imported", and whether that folder is among the vault's
  // account folders.
  virtual std::int64_t importedCount() const = 0;
  virtual bool hasImported() const = 0;
  virtual QString vaultRoot() const = 0;
  virtual QString vaultSummary() const = 0;
  virtual void openArchiveInFinder() = 0;
  // Points the vault at another folder; a text saying why when it refuses.
  virtual std::optional<QString> changeArchiveRoot(const QString& path) = 0;

  // ---- The free-up flow
  virtual FreeUpState cleanupState() const = 0;
  virtual void checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) = 0;
  virtual void runCleanup(const MailAccount& account) = 0;
  virtual void cancelCleanup() = 0;
  virtual void resetCleanup() = 0;
  // The two moves the sheet makes by hand: verify -> release and back.
  virtual void setCleanupStage(FreeUpStage stage) = 0;

  // ---- Presenting
  virtual void setShowAddAccount() = 0;
  virtual void setShowWelcome() = 0;
  // Opens the add-account sheet a moment after the ledger has gone.
  virtual void requestAddAccount() = 0;

  // Relative age for "last backup" texts: "just now", "12 min ago", "3 h ago",
  // "5 d ago", else the abbreviated date.
  virtual QString ago(Date date) const;
  // The symbol of the account's provider preset; unknown ids get the
  // custom preset's.
  virtual QString providerSymbol(const std::string& provider) const;

signals:
  void accountsChanged();
  void busyChanged();
  void vaultChanged();
  // Anything of the free-up flow changed.
  void cleanupChanged();
  // Anything the backup ledger shows may have changed.
  void ledgerChanged();
  // A backup run ended: sync files are worth reading again.
  void backupRunEnded();
};

} // namespace bx

namespace bx {

// Thrown by SheetStore::addAccount: which of the two writes failed, and the
// system's description of why.
struct AccountSaveError : std::runtime_error {
  enum class Part { Password, Accounts };
  Part part;
  AccountSaveError(Part part, const std::string& what) : std::runtime_error(what), part(part) {}
};

} // namespace bx

#pragma once
// The free-up sheet and the backup ledger over the application store: each
// presentation builds a new sheet with a host of its own.
#include "Sheets/BackupLedgerHost.h"
#include "Sheets/FreeUpSheetHost.h"

class QDialog;
class QWidget;

namespace bx {

class AppStore;

class FreeUpStoreHost : public FreeUpSheetHost {
  Q_OBJECT
public:
  explicit FreeUpStoreHost(AppStore& store, QObject* parent = nullptr);

  std::vector<MailAccount> accounts() const override;
  FreeUpState state() const override;
  void checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) override;
  void runCleanup(const MailAccount& account) override;
  void cancelCleanup() override;
  void resetCleanup() override;
  void setStage(FreeUpStage stage) override;

private:
  AppStore& store_;
};

class BackupLedgerStoreHost : public BackupLedgerHost {
  Q_OBJECT
public:
  explicit BackupLedgerStoreHost(AppStore& store, QObject* parent = nullptr);

  std::vector<MailAccount> accounts() const override;
  bool backupRunning() const override;
  QString runningAccountLabel() const override;
  std::optional<UUID> runningAccountID() const override;
  QString phase() const override;
  std::optional<QString> lastMessage() const override;
  std::optional<Date> lastFinished() const override;
  std::optional<FriendlyError::Message> problem(const MailAccount& account) const override;
  std::optional<BackupLedgerLine> ledgerLine(const MailAccount& account, const std::string& mailbox) const override;
  std::int64_t count(const std::string& accountDirectory, const std::string& folderDirectory) const override;
  AccountSyncState loadSync(const MailAccount& account) const override;
  QString vaultSummary() const override;
  QString vaultPath() const override;
  std::int64_t importedCount() const override;
  bool hasImported() const override;
  void backUpNow(const std::optional<MailAccount>& only) override;
  void stopBackup() override;
  void openArchiveInFinder() override;
  void requestAddAccount() override;
  QString ago(Date date) const override;
  QString providerSymbol(const std::string& provider) const override;

private:
  bool labelIsUnique(const MailAccount& account) const;
  AppStore& store_;
  bool wasRunning_ = false;
};

// A new free-up sheet or backup ledger over the store, each with a host of
// its own, for the main window to show while its flag is up.
QDialog* makeFreeUpSheet(AppStore& store, QWidget* window);
QDialog* makeBackupLedger(AppStore& store, QWidget* window);

}  // namespace bx

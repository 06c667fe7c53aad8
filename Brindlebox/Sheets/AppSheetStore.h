#pragma once

#include "Sheets/SheetStore.h"

#include <QPointer>

class QDialog;
class QWidget;

namespace bx {

class AppStore;

// The sheets' view of the application store.
class AppSheetStore : public SheetStore {
  Q_OBJECT
public:
  explicit AppSheetStore(AppStore* store, QObject* parent = nullptr);
  // The one adapter of a store, living as long as the store, so a backup
  // queued by a sheet that has closed still starts.
  static AppSheetStore* of(AppStore& store);

  std::vector<MailAccount> accounts() const override;
  void addAccount(const MailAccount& account, const std::string& password) override;
  void updateAccount(const MailAccount& account) override;
  void removeAccount(const MailAccount& account) override;
  bool accountBusy(const UUID& id) const override;

  // A backup asked for while one runs waits for it in the store, so a new
  // account's first backup is never lost to a busy vault.
  void backUpNow(const std::optional<MailAccount>& only) override;
  void stopBackup() override;
  bool backupRunning() const override;
  QString runningAccountLabel() const override;
  std::optional<UUID> runningAccountID() const override;
  QString phase() const override;
  std::optional<QString> lastMessage() const override;
  std::optional<Date> lastFinished() const override;
  std::optional<FriendlyError::Message> problem(const MailAccount& account) const override;
  bool anyProblem() const override;
  std::optional<FriendlyError::Message> storageProblem() const override;
  std::string accountFolder(const MailAccount& account) const override;
  std::optional<BackupLedgerLine> ledgerLine(const MailAccount& account, const std::string& mailbox) const override;

  std::int64_t count(const std::string& accountDirectory, const std::string& folderDirectory) const override;
  AccountSyncState loadSync(const MailAccount& account) const override;
  std::int64_t importedCount() const override;
  bool hasImported() const override;
  QString vaultRoot() const override;
  QString vaultSummary() const override;
  void openArchiveInFinder() override;
  std::optional<QString> changeArchiveRoot(const QString& path) override;

  FreeUpState cleanupState() const override;
  void checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) override;
  void runCleanup(const MailAccount& account) override;
  void cancelCleanup() override;
  void resetCleanup() override;
  void setCleanupStage(FreeUpStage stage) override;

  void setShowAddAccount() override;
  void setShowWelcome() override;
  void requestAddAccount() override;
  QString ago(Date date) const override;
  QString providerSymbol(const std::string& provider) const override;

private:
  QPointer<AppStore> store_;
  bool wasRunning_ = false;
};

// A new free-up sheet or backup ledger over the store, for the main window
// to show while its flag is up.
QDialog* makeFreeUpSheet(AppStore& store, QWidget* window);
QDialog* makeBackupLedger(AppStore& store, QWidget* window);

} // namespace bx

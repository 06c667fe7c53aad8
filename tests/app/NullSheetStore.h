#pragma once

#include "Sheets/SheetStore.h"

namespace bx::test {

// A store with nothing in it that ignores every call: test stores derive
// from it and give the parts their test needs.
class NullSheetStore : public SheetStore {
public:
  std::vector<MailAccount> accounts() const override { return {}; }
  void addAccount(const MailAccount&, const std::string&) override {}
  void updateAccount(const MailAccount&) override {}
  void removeAccount(const MailAccount&) override {}
  bool accountBusy(const UUID&) const override { return false; }

  void backUpNow(const std::optional<MailAccount>&) override {}
  void stopBackup() override {}
  bool backupRunning() const override { return false; }
  QString runningAccountLabel() const override { return {}; }
  std::optional<UUID> runningAccountID() const override { return std::nullopt; }
  QString phase() const override { return {}; }
  std::optional<QString> lastMessage() const override { return std::nullopt; }
  std::optional<Date> lastFinished() const override { return std::nullopt; }
  std::optional<FriendlyError::Message> problem(const MailAccount&) const override { return std::nullopt; }
  bool anyProblem() const override { return false; }
  std::optional<BackupLedgerLine> ledgerLine(const MailAccount&, const std::string&) const override {
    return std::nullopt;
  }

  std::string accountFolder(const MailAccount& a) const override { return a.directoryName(); }
  std::int64_t count(const std::string&, const std::string&) const override { return 0; }
  AccountSyncState loadSync(const MailAccount&) const override { return {}; }
  std::int64_t importedCount() const override { return 0; }
  bool hasImported() const override { return false; }
  QString vaultRoot() const override { return {}; }
  QString vaultSummary() const override { return {}; }
  void openArchiveInFinder() override {}
  std::optional<QString> changeArchiveRoot(const QString&) override { return std::nullopt; }

  FreeUpState cleanupState() const override { return {}; }
  void checkCleanup(const MailAccount&, const std::string&, Date) override {}
  void runCleanup(const MailAccount&) override {}
  void cancelCleanup() override {}
  void resetCleanup() override {}
  void setCleanupStage(FreeUpStage) override {}

  void setShowAddAccount() override {}
  void setShowWelcome() override {}
  void requestAddAccount() override {}
};

} // namespace bx::test

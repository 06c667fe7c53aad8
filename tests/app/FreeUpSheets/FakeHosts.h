#pragma once
// Hosts the sheets can be driven by in tests: every value settable, every
// call recorded.
#include "NullSheetStore.h"

#include <QStringList>

#include <map>

namespace bx::test {

class FakeFreeUpHost : public NullSheetStore {
  Q_OBJECT
public:
  std::vector<MailAccount> accountList;
  FreeUpState current;
  QStringList calls;
  std::optional<MailAccount> lastAccount;
  std::string lastMailbox;
  std::optional<Date> lastBefore;

  std::vector<MailAccount> accounts() const override { return accountList; }
  FreeUpState cleanupState() const override { return current; }

  void checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) override {
    calls << "check";
    lastAccount = account;
    lastMailbox = mailbox;
    lastBefore = before;
  }
  void runCleanup(const MailAccount& account) override {
    calls << "run";
    lastAccount = account;
  }
  void cancelCleanup() override { calls << "cancel"; }
  void resetCleanup() override { calls << "reset"; }
  void setCleanupStage(FreeUpStage stage) override {
    calls << QString("stage %1").arg(int(stage));
    current.stage = stage;
    emit cleanupChanged();
  }

  void publish(const FreeUpState& s) {
    current = s;
    emit cleanupChanged();
  }
  void setAccounts(std::vector<MailAccount> a) {
    accountList = std::move(a);
    emit accountsChanged();
  }
};

class FakeLedgerHost : public NullSheetStore {
  Q_OBJECT
public:
  std::vector<MailAccount> accountList;
  bool running = false;
  QString runningLabel;
  std::optional<UUID> runningID;
  QString phaseText;
  std::optional<QString> last;
  std::optional<Date> finished;
  std::map<UUID, FriendlyError::Message> problems;
  std::map<std::pair<UUID, std::string>, BackupLedgerLine> lines;
  std::map<std::pair<std::string, std::string>, std::int64_t> counts;
  std::map<UUID, AccountSyncState> syncs;
  std::map<UUID, std::string> folders;  // account folders other than the label's
  QString summary = "0 messages";
  QString path = "/srv/vault";
  std::int64_t imported = 0;
  bool importedShown = false;
  QStringList calls;
  mutable int syncReads = 0;

  std::vector<MailAccount> accounts() const override { return accountList; }
  bool backupRunning() const override { return running; }
  QString runningAccountLabel() const override { return runningLabel; }
  std::optional<UUID> runningAccountID() const override { return runningID; }
  QString phase() const override { return phaseText; }
  std::optional<QString> lastMessage() const override { return last; }
  std::optional<Date> lastFinished() const override { return finished; }
  std::optional<FriendlyError::Message> problem(const MailAccount& a) const override {
    auto it = problems.find(a.id);
    if (it == problems.end()) return std::nullopt;
    return it->second;
  }
  bool anyProblem() const override { return !problems.empty(); }
  std::string accountFolder(const MailAccount& a) const override {
    auto it = folders.find(a.id);
    return it == folders.end() ? a.directoryName() : it->second;
  }
  std::optional<BackupLedgerLine> ledgerLine(const MailAccount& a, const std::string& mailbox) const override {
    auto it = lines.find({a.id, mailbox});
    if (it == lines.end()) return std::nullopt;
    return it->second;
  }
  std::int64_t count(const std::string& accountDir, const std::string& folderDir) const override {
    auto it = counts.find({accountDir, folderDir});
    return it == counts.end() ? 0 : it->second;
  }
  AccountSyncState loadSync(const MailAccount& a) const override {
    ++syncReads;
    auto it = syncs.find(a.id);
    return it == syncs.end() ? AccountSyncState{} : it->second;
  }
  QString vaultSummary() const override { return summary; }
  QString vaultRoot() const override { return path; }
  std::int64_t importedCount() const override { return imported; }
  bool hasImported() const override { return importedShown; }
  void backUpNow(const std::optional<MailAccount>& only) override {
    calls << (only ? "backup " + QString::fromStdString(only->label) : QString("backup all"));
  }
  void stopBackup() override { calls << "stop"; }
  void openArchiveInFinder() override { calls << "show"; }
  void requestAddAccount() override { calls << "add account"; }

  void publish() { emit ledgerChanged(); }
};

}  // namespace bx::test

#pragma once

#include "NullSheetStore.h"

#include <map>

namespace bx::test {

// A store that keeps accounts and passwords in memory and records what the
// sheets asked of it.
class TestSheetStore : public NullSheetStore {
public:
  std::vector<MailAccount> list;
  std::map<std::string, std::string> passwords;  // by account id
  std::optional<AccountSaveError> failAdd;
  std::vector<std::optional<MailAccount>> backups;
  std::set<UUID> busy;
  QString root = QStringLiteral("/home/tester/Vault");
  std::vector<QString> rootChanges;
  std::optional<QString> refuseRoot;
  int showAddAccount = 0, showWelcome = 0, openedInFiles = 0, updates = 0;

  std::vector<MailAccount> accounts() const override { return list; }
  void addAccount(const MailAccount& account, const std::string& password) override {
    if (failAdd) throw *failAdd;
    passwords[account.id.string()] = password;
    list.push_back(account);
    emit accountsChanged();
  }
  void updateAccount(const MailAccount& account) override {
    ++updates;
    for (auto& a : list)
      if (a.id == account.id) {
        a = account;
        emit accountsChanged();
        return;
      }
  }
  void removeAccount(const MailAccount& account) override {
    passwords.erase(account.id.string());
    std::erase_if(list, [&](const MailAccount& a) { return a.id == account.id; });
    emit accountsChanged();
  }
  void backUpNow(const std::optional<MailAccount>& only) override { backups.push_back(only); }
  bool accountBusy(const UUID& id) const override { return busy.count(id) > 0; }
  QString vaultRoot() const override { return root; }
  QString vaultSummary() const override { return QStringLiteral("3 messages · 12 KB"); }
  void openArchiveInFinder() override { ++openedInFiles; }
  std::optional<QString> changeArchiveRoot(const QString& path) override {
    if (refuseRoot) return refuseRoot;
    rootChanges.push_back(path);
    root = path;
    emit vaultChanged();
    return std::nullopt;
  }
  void setShowAddAccount() override { ++showAddAccount; }
  void setShowWelcome() override { ++showWelcome; }
};

} // namespace bx::test

#pragma once

#include "Sheets/SheetStore.h"

#include <QPointer>

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
  // A backup asked for while one runs starts when that one ends, so a new
  // account's first backup is never lost to a busy vault.
  void backUpNow(const std::optional<MailAccount>& only) override;
  bool accountBusy(const UUID& id) const override;
  QString vaultRoot() const override;
  QString vaultSummary() const override;
  void openArchiveInFinder() override;
  std::optional<QString> changeArchiveRoot(const QString& path) override;
  void setShowAddAccount() override;
  void setShowWelcome() override;
  // Backups asked for during a run, still waiting for it to end.
  size_t queuedBackups() const { return queued_.size(); }

private:
  QPointer<AppStore> store_;
  std::vector<std::optional<MailAccount>> queued_;
};

} // namespace bx

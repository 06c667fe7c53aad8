#include "Sheets/AppSheetStore.h"

#include "Platform/Credentials.h"
#include "Store/AppStore.h"
#include "Store/CleanupModel.h"

#include "Util/AtomicFile.h"
#include "Util/Json.h"

#include <QDir>
#include <algorithm>

namespace bx {

AppSheetStore::AppSheetStore(AppStore* store, QObject* parent) : SheetStore(parent), store_(store) {
  connect(store, &AppStore::accountsChanged, this, &SheetStore::accountsChanged);
  connect(store, &AppStore::layoutChanged, this, &SheetStore::vaultChanged);
  connect(store, &AppStore::recordsChanged, this, &SheetStore::vaultChanged);
  connect(store, &AppStore::cachesChanged, this, &SheetStore::vaultChanged);
  connect(store, &AppStore::backupChanged, this, [this] {
    emit busyChanged();
    if (!store_ || store_->backup().running || queued_.empty()) return;
    auto next = queued_.front();
    queued_.erase(queued_.begin());
    store_->backUpNow(next);
  });
  connect(&store->cleanup(), &CleanupModel::busyChanged, this, &SheetStore::busyChanged);
}

AppSheetStore* AppSheetStore::of(AppStore& store) {
  if (auto* existing = store.findChild<AppSheetStore*>(QString(), Qt::FindDirectChildrenOnly)) return existing;
  return new AppSheetStore(&store, &store);
}

std::vector<MailAccount> AppSheetStore::accounts() const { return store_->accounts(); }

void AppSheetStore::addAccount(const MailAccount& account, const std::string& password) {
  const std::vector<MailAccount> before = store_->accounts();
  try {
    store_->addAccount(account, QString::fromStdString(password));
  } catch (const CredentialError& e) {
    throw AccountSaveError(AccountSaveError::Part::Password, e.what());
  } catch (const std::exception& e) {
    throw AccountSaveError(AccountSaveError::Part::Accounts, e.what());
  }
  // The store keeps a failed write of accounts.json to itself: the account
  // would be gone at the next start with its password left behind. Writing
  // the same list again tells; on failure both are undone.
  try {
    writeFileAtomically(store_->layout().accountsURL(), encodeJSON(store_->accounts()).dump());
  } catch (const std::exception& e) {
    const std::string key = Credentials::key(account);
    const bool shared = std::any_of(before.begin(), before.end(),
                                    [&](const MailAccount& a) { return Credentials::key(a) == key; });
    if (!shared) {
      try {
        Credentials::remove(account);
      } catch (...) {
      }
    }
    store_->setAccounts(before);
    throw AccountSaveError(AccountSaveError::Part::Accounts, e.what());
  }
}

void AppSheetStore::updateAccount(const MailAccount& account) { store_->updateAccount(account); }
void AppSheetStore::removeAccount(const MailAccount& account) { store_->removeAccount(account); }

void AppSheetStore::backUpNow(const std::optional<MailAccount>& only) {
  if (store_->backup().running) {
    queued_.push_back(only);
    store_->setShowBackupActivity(true);
    return;
  }
  store_->backUpNow(only);
}

bool AppSheetStore::accountBusy(const UUID& id) const { return store_->accountBusy(id); }

QString AppSheetStore::vaultRoot() const { return QString::fromStdString(store_->layout().root.string()); }
QString AppSheetStore::vaultSummary() const { return store_->vaultSummary(); }
void AppSheetStore::openArchiveInFinder() { store_->openArchiveInFinder(); }

std::optional<QString> AppSheetStore::changeArchiveRoot(const QString& path) {
  if (store_->changeArchiveRoot(std::filesystem::path(path.toStdString()))) return std::nullopt;
  return QStringLiteral("A backup, release or import is still running. Move the vault when it has finished.");
}

void AppSheetStore::setShowAddAccount() { store_->setShowAddAccount(true); }
void AppSheetStore::setShowWelcome() { store_->setShowWelcome(true); }

} // namespace bx

#include "Sheets/AppSheetStore.h"

#include "Platform/Credentials.h"
#include "Sheets/BackupLedgerSheet.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Store/AppStore.h"
#include "Store/BackupRules.h"
#include "Store/CleanupModel.h"
#include "Store/ProviderPreset.h"

#include <QTimer>

namespace bx {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

AppSheetStore::AppSheetStore(AppStore* store, QObject* parent)
    : SheetStore(parent), store_(store), wasRunning_(store->backup().running) {
  for (auto signal : {&AppStore::accountsChanged, &AppStore::storageProblemChanged})
    connect(store, signal, this, &SheetStore::accountsChanged);
  for (auto signal : {&AppStore::layoutChanged, &AppStore::recordsChanged, &AppStore::cachesChanged})
    connect(store, signal, this, &SheetStore::vaultChanged);
  for (auto signal : {&AppStore::ledgerChanged, &AppStore::backupProblemsChanged, &AppStore::accountsChanged,
                      &AppStore::recordsChanged, &AppStore::layoutChanged, &AppStore::storageProblemChanged})
    connect(store, signal, this, &SheetStore::ledgerChanged);
  connect(store, &AppStore::backupChanged, this, [this] {
    if (!store_) return;
    const bool running = store_->backup().running;
    const bool ended = wasRunning_ && !running;
    wasRunning_ = running;
    emit busyChanged();
    if (ended) emit backupRunEnded();
    emit ledgerChanged();
  });
  connect(&store->cleanup(), &CleanupModel::busyChanged, this, &SheetStore::busyChanged);
  connect(&store->cleanup(), &CleanupModel::changed, this, &SheetStore::cleanupChanged);
}

AppSheetStore* AppSheetStore::of(AppStore& store) {
  if (auto* existing = store.findChild<AppSheetStore*>(QString(), Qt::FindDirectChildrenOnly)) return existing;
  return new AppSheetStore(&store, &store);
}

// ---------------------------------------------------------------- accounts

std::vector<MailAccount> AppSheetStore::accounts() const { return store_->accounts(); }

void AppSheetStore::addAccount(const MailAccount& account, const std::string& password) {
  try {
    store_->addAccount(account, QString::fromStdString(password));
  } catch (const CredentialError& e) {
    throw AccountSaveError(AccountSaveError::Part::Password, e.what());
  } catch (const std::exception& e) {
    throw AccountSaveError(AccountSaveError::Part::Accounts, e.what());
  }
}

void AppSheetStore::updateAccount(const MailAccount& account) { store_->updateAccount(account); }
void AppSheetStore::removeAccount(const MailAccount& account) { store_->removeAccount(account); }

bool AppSheetStore::accountBusy(const UUID& id) const { return store_->accountBusy(id); }

// ---------------------------------------------------------------- backups

void AppSheetStore::backUpNow(const std::optional<MailAccount>& only) { store_->queueBackup(only); }

void AppSheetStore::stopBackup() { store_->stopBackup(); }
bool AppSheetStore::backupRunning() const { return store_->backup().running; }
QString AppSheetStore::runningAccountLabel() const { return qs(store_->backup().progress.account); }
QString AppSheetStore::phase() const { return qs(store_->backup().progress.phase); }
std::optional<QString> AppSheetStore::lastMessage() const { return store_->backup().lastMessage; }
std::optional<Date> AppSheetStore::lastFinished() const { return store_->backup().lastFinished; }

std::optional<UUID> AppSheetStore::runningAccountID() const {
  if (!store_->backup().running) return std::nullopt;
  return store_->backup().accountID;
}

std::optional<FriendlyError::Message> AppSheetStore::problem(const MailAccount& account) const {
  return store_->backupProblem(account);
}

bool AppSheetStore::anyProblem() const { return !store_->backupProblems().isEmpty(); }

std::optional<FriendlyError::Message> AppSheetStore::storageProblem() const { return store_->storageProblem(); }

std::optional<BackupLedgerLine> AppSheetStore::ledgerLine(const MailAccount& account,
                                                          const std::string& mailbox) const {
  const auto& ledger = store_->ledger();
  const auto it = ledger.find(BackupRules::ledgerKey(account, mailbox));
  if (it == ledger.end()) return std::nullopt;
  return BackupLedgerLine{it->running, it->done, it->total, it->finished, it->newMessages, it->failed};
}

std::string AppSheetStore::accountFolder(const MailAccount& account) const {
  return store_->accountFolder(account).toStdString();
}

// ---------------------------------------------------------------- the vault

std::int64_t AppSheetStore::count(const std::string& accountDirectory, const std::string& folderDirectory) const {
  return store_->count(qs(accountDirectory), qs(folderDirectory));
}

AccountSyncState AppSheetStore::loadSync(const MailAccount& account) const {
  return store_->layout().loadSync(account);
}

std::int64_t AppSheetStore::importedCount() const {
  std::int64_t n = 0;
  for (const auto& r : store_->records()) n += r.account == "Imported";
  return n;
}

bool AppSheetStore::hasImported() const { return store_->archiveAccounts().contains("Imported"); }

QString AppSheetStore::vaultRoot() const { return QString::fromStdString(store_->layout().root.string()); }
QString AppSheetStore::vaultSummary() const { return store_->vaultSummary(); }
void AppSheetStore::openArchiveInFinder() { store_->openArchiveInFinder(); }

std::optional<QString> AppSheetStore::changeArchiveRoot(const QString& path) {
  if (store_->changeArchiveRoot(std::filesystem::path(path.toStdString()))) return std::nullopt;
  return QStringLiteral("A backup, release or import is still running. Move the vault when it has finished.");
}

// ---------------------------------------------------------------- free-up

FreeUpState AppSheetStore::cleanupState() const {
  const CleanupModel& m = store_->cleanup();
  FreeUpState s;
  s.stage = FreeUpStage(int(m.stage()));
  s.plan = m.plan();
  s.checked = m.checked();
  s.busy = m.busy();
  s.error = m.error();
  if (auto r = m.released()) s.released = std::pair<std::int64_t, std::int64_t>(r->done, r->total);
  if (m.result()) s.result = m.result()->toStdString();
  s.releasedUIDs = m.releasedUIDs();
  s.leftoversUnflagged = m.leftoversUnflagged();
  return s;
}

void AppSheetStore::checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) {
  store_->checkCleanup(account, qs(mailbox), before);
}
void AppSheetStore::runCleanup(const MailAccount& account) { store_->runCleanup(account); }
void AppSheetStore::cancelCleanup() { store_->cancelCleanup(); }
void AppSheetStore::resetCleanup() { store_->resetCleanup(); }
void AppSheetStore::setCleanupStage(FreeUpStage stage) { store_->cleanup().setStage(CleanupStage(int(stage))); }

// ---------------------------------------------------------------- presenting

void AppSheetStore::setShowAddAccount() { store_->setShowAddAccount(true); }
void AppSheetStore::setShowWelcome() { store_->setShowWelcome(true); }

void AppSheetStore::requestAddAccount() {
  // The store owns the timer: the ledger has gone by the time it fires.
  AppStore* store = store_;
  QTimer::singleShot(300, store, [store] { store->setShowAddAccount(true); });
}

QString AppSheetStore::ago(Date date) const {
  const QString text = Fmt::ago(date);
  return text.isEmpty() ? SheetStore::ago(date) : text;
}

QString AppSheetStore::providerSymbol(const std::string& provider) const {
  const QString symbol = ProviderPreset::named(qs(provider)).symbol;
  return symbol.isEmpty() ? SheetStore::providerSymbol(provider) : symbol;
}

// ---------------------------------------------------------------- factories

QDialog* makeFreeUpSheet(AppStore& store, QWidget* window) {
  return new FreeUpSpaceSheet(AppSheetStore::of(store), window);
}

QDialog* makeBackupLedger(AppStore& store, QWidget* window) {
  return new BackupLedgerSheet(AppSheetStore::of(store), window);
}

} // namespace bx

#include "Sheets/SheetStoreHosts.h"

#include "Sheets/BackupLedgerSheet.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Store/AppStore.h"
#include "Store/CleanupModel.h"
#include "Store/ProviderPreset.h"

#include <QTimer>

namespace bx {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

// ---------------------------------------------------------------- free-up

FreeUpStoreHost::FreeUpStoreHost(AppStore& store, QObject* parent) : FreeUpSheetHost(parent), store_(store) {
  connect(&store_.cleanup(), &CleanupModel::changed, this, &FreeUpSheetHost::stateChanged);
  connect(&store_, &AppStore::accountsChanged, this, &FreeUpSheetHost::accountsChanged);
}

std::vector<MailAccount> FreeUpStoreHost::accounts() const { return store_.accounts(); }

FreeUpState FreeUpStoreHost::state() const {
  const CleanupModel& m = store_.cleanup();
  FreeUpState s;
  s.stage = FreeUpStage(int(m.stage()));
  s.plan = m.plan();
  s.checked = m.checked();
  s.busy = m.busy();
  s.error = m.error();
  if (auto r = m.released()) s.released = std::pair<std::int64_t, std::int64_t>(r->done, r->total);
  if (m.result()) s.result = m.result()->toStdString();
  s.releasedUIDs = m.releasedUIDs();
  return s;
}

void FreeUpStoreHost::checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) {
  store_.checkCleanup(account, qs(mailbox), before);
}
void FreeUpStoreHost::runCleanup(const MailAccount& account) { store_.runCleanup(account); }
void FreeUpStoreHost::cancelCleanup() { store_.cancelCleanup(); }
void FreeUpStoreHost::resetCleanup() { store_.resetCleanup(); }
void FreeUpStoreHost::setStage(FreeUpStage stage) { store_.cleanup().setStage(CleanupStage(int(stage))); }

// ---------------------------------------------------------------- ledger

BackupLedgerStoreHost::BackupLedgerStoreHost(AppStore& store, QObject* parent)
    : BackupLedgerHost(parent), store_(store), wasRunning_(store.backup().running) {
  for (auto signal : {&AppStore::ledgerChanged, &AppStore::backupProblemsChanged, &AppStore::accountsChanged,
                      &AppStore::recordsChanged, &AppStore::layoutChanged})
    connect(&store_, signal, this, &BackupLedgerHost::changed);
  connect(&store_, &AppStore::backupChanged, this, [this] {
    const bool running = store_.backup().running;
    const bool ended = wasRunning_ && !running;
    wasRunning_ = running;
    if (ended) emit runEnded();
    emit changed();
  });
}

std::vector<MailAccount> BackupLedgerStoreHost::accounts() const { return store_.accounts(); }
bool BackupLedgerStoreHost::backupRunning() const { return store_.backup().running; }
QString BackupLedgerStoreHost::runningAccountLabel() const { return qs(store_.backup().progress.account); }
QString BackupLedgerStoreHost::phase() const { return qs(store_.backup().progress.phase); }
std::optional<QString> BackupLedgerStoreHost::lastMessage() const { return store_.backup().lastMessage; }
std::optional<Date> BackupLedgerStoreHost::lastFinished() const { return store_.backup().lastFinished; }

bool BackupLedgerStoreHost::labelIsUnique(const MailAccount& account) const {
  int n = 0;
  for (const auto& a : store_.accounts()) n += a.label == account.label;
  return n <= 1;
}

std::optional<UUID> BackupLedgerStoreHost::runningAccountID() const {
  if (!store_.backup().running) return std::nullopt;
  const std::string& label = store_.backup().progress.account;
  std::optional<UUID> found;
  for (const auto& a : store_.accounts())
    if (a.label == label) {
      // A label two accounts share names neither for sure.
      if (found) return std::nullopt;
      found = a.id;
    }
  return found;
}

std::optional<FriendlyError::Message> BackupLedgerStoreHost::problem(const MailAccount& account) const {
  const auto& problems = store_.backupProblems();
  auto byID = problems.find(qs(account.id.string()));
  if (byID != problems.end()) return *byID;
  if (!labelIsUnique(account)) return std::nullopt;
  auto byLabel = problems.find(qs(account.label));
  if (byLabel != problems.end()) return *byLabel;
  return std::nullopt;
}

std::optional<BackupLedgerLine> BackupLedgerStoreHost::ledgerLine(const MailAccount& account,
                                                                  const std::string& mailbox) const {
  const auto& ledger = store_.ledger();
  auto line = [](const LedgerLine& l) {
    return BackupLedgerLine{l.running, l.done, l.total, l.finished, l.newMessages};
  };
  auto byID = ledger.find(qs(account.id.string() + "/" + mailbox));
  if (byID != ledger.end()) return line(*byID);
  if (!labelIsUnique(account)) return std::nullopt;
  auto byDir = ledger.find(qs(account.directoryName() + "/" + mailbox));
  if (byDir != ledger.end()) return line(*byDir);
  return std::nullopt;
}

std::int64_t BackupLedgerStoreHost::count(const std::string& accountDirectory,
                                          const std::string& folderDirectory) const {
  return store_.count(qs(accountDirectory), qs(folderDirectory));
}

AccountSyncState BackupLedgerStoreHost::loadSync(const MailAccount& account) const {
  return store_.layout().loadSync(account);
}

QString BackupLedgerStoreHost::vaultSummary() const { return store_.vaultSummary(); }
QString BackupLedgerStoreHost::vaultPath() const { return QString::fromStdString(store_.layout().root.string()); }

std::int64_t BackupLedgerStoreHost::importedCount() const {
  std::int64_t n = 0;
  for (const auto& r : store_.records()) n += r.account == "Imported";
  return n;
}

bool BackupLedgerStoreHost::hasImported() const { return store_.archiveAccounts().contains("Imported"); }

void BackupLedgerStoreHost::backUpNow(const std::optional<MailAccount>& only) { store_.backUpNow(only); }
void BackupLedgerStoreHost::stopBackup() { store_.stopBackup(); }
void BackupLedgerStoreHost::openArchiveInFinder() { store_.openArchiveInFinder(); }

void BackupLedgerStoreHost::requestAddAccount() {
  // The store owns the timer: the ledger has gone by the time it fires.
  AppStore* store = &store_;
  QTimer::singleShot(300, store, [store] { store->setShowAddAccount(true); });
}

QString BackupLedgerStoreHost::ago(Date date) const {
  const QString text = Fmt::ago(date);
  return text.isEmpty() ? BackupLedgerHost::ago(date) : text;
}

QString BackupLedgerStoreHost::providerSymbol(const std::string& provider) const {
  const QString symbol = ProviderPreset::named(qs(provider)).symbol;
  return symbol.isEmpty() ? BackupLedgerHost::providerSymbol(provider) : symbol;
}

// ---------------------------------------------------------------- factories

QDialog* makeFreeUpSheet(AppStore& store, QWidget* window) {
  auto* host = new FreeUpStoreHost(store);
  auto* sheet = new FreeUpSpaceSheet(host, window);
  host->setParent(sheet);
  return sheet;
}

QDialog* makeBackupLedger(AppStore& store, QWidget* window) {
  auto* host = new BackupLedgerStoreHost(store);
  auto* sheet = new BackupLedgerSheet(host, window);
  host->setParent(sheet);
  return sheet;
}

}  // namespace bx

#include "Store/AppStore.h"

#include "Store/CleanupModel.h"

#include <QTimer>

namespace bx {

namespace {
AppStore* sharedStore = nullptr;
}

AppStore::AppStore(QObject* parent)
    : QObject(parent),
      records_(std::make_shared<const std::vector<MessageRecord>>()),
      timeline_(new TimelineModel(this)),
      cleanup_(new CleanupModel(this)),
      index_(std::make_shared<SearchIndex>()) {
  layout_ = ArchiveLayout(ArchiveLayout::defaultRoot());
}

AppStore::~AppStore() {
  if (sharedStore == this) sharedStore = nullptr;
}

AppStore* AppStore::shared() { return sharedStore; }
void AppStore::setShared(AppStore* store) { sharedStore = store; }

std::function<std::filesystem::path()>& AppStore::demoArchivePreparer() {
  static std::function<std::filesystem::path()> preparer;
  return preparer;
}

void AppStore::setAccounts(std::vector<MailAccount> accounts) {
  accounts_ = std::move(accounts);
  emit accountsChanged();
}
void AppStore::setSidebar(const SidebarItem& item) {
  sidebar_ = item;
  emit sidebarChanged();
}
void AppStore::setQuery(const QString& query) {
  query_ = query;
  emit queryChanged();
}
void AppStore::setSelectedPath(const std::optional<QString>& path) {
  selectedPath_ = path;
  emit selectedPathChanged();
}
void AppStore::setSavedSearches(const QList<SavedSearch>& list) {
  savedSearches_ = list;
  emit savedSearchesChanged();
}
void AppStore::setBackup(const BackupStatus& status) {
  backup_ = status;
  emit backupChanged();
}
void AppStore::setShowAddAccount(bool on) { showAddAccount_ = on; emit showAddAccountChanged(); }
void AppStore::setShowFreeUp(bool on) { showFreeUp_ = on; emit showFreeUpChanged(); }
void AppStore::setShowBackupActivity(bool on) { showBackupActivity_ = on; emit showBackupActivityChanged(); }
void AppStore::setShowWelcome(bool on) { showWelcome_ = on; emit showWelcomeChanged(); }
void AppStore::setAllowImagesFor(const QSet<QString>& keys) { allowImagesFor_ = keys; emit allowImagesForChanged(); }
void AppStore::allowImages(const QString& key) { allowImagesFor_.insert(key); emit allowImagesForChanged(); }
void AppStore::setImportMessage(const std::optional<QString>& text) { importMessage_ = text; emit importMessageChanged(); }
void AppStore::setExpandedAccounts(const QSet<QString>& dirs) { expandedAccounts_ = dirs; emit expandedAccountsChanged(); }
void AppStore::setListEpoch(int epoch) { listEpoch_ = epoch; emit listEpochChanged(); }
void AppStore::setLedger(const QMap<QString, LedgerLine>& ledger) { ledger_ = ledger; emit ledgerChanged(); }
void AppStore::setBackupProblems(const QMap<QString, FriendlyError::Message>& problems) {
  backupProblems_ = problems;
  emit backupProblemsChanged();
}

void AppStore::saveAccounts() {}
void AppStore::addAccount(const MailAccount& account, const QString& password) { (void)account; (void)password; }
void AppStore::updateAccount(const MailAccount& account) { (void)account; }
void AppStore::removeAccount(const MailAccount& account) { (void)account; }
bool AppStore::changeArchiveRoot(const std::filesystem::path& root) { (void)root; return false; }
void AppStore::showToast(const QString& text, const QString& symbol, const ThemeColor& tint) {
  toast_ = Toast::make(text, symbol, tint);
  emit toastChanged();
}
QStringList AppStore::archiveAccounts() const { return {}; }
QString AppStore::vaultSummary() const { return {}; }
bool AppStore::longWorkRunning() const { return false; }

void AppStore::reloadArchive() {}
void AppStore::loadServerSizes() {}

void AppStore::refreshVisible() {}
std::vector<MonthGroup> AppStore::group(const std::vector<const MessageRecord*>& records) { (void)records; return {}; }
void AppStore::scrub(const MonthKey& key) { (void)key; }
void AppStore::selectNext(int step) { (void)step; }
void AppStore::revealSelected() {}
void AppStore::saveCurrentSearch() {}
int AppStore::count(const QString& account, const QString& folderDir) const { (void)account; (void)folderDir; return 0; }
QString AppStore::sidebarTitle() const { return QStringLiteral("Everything"); }

void AppStore::openSelected() {}

void AppStore::readAccounts() {}
bool AppStore::readFilters() { return false; }
void AppStore::saveFilters() {}
void AppStore::publishRecords(std::shared_ptr<const std::vector<MessageRecord>> records) { (void)records; }
void AppStore::publishSortedRecords(std::shared_ptr<const std::vector<MessageRecord>> sorted) { (void)sorted; }
void AppStore::refreshCaches() {}
void AppStore::learnSenders() {}
std::map<QString, std::vector<FolderSummary>> AppStore::computeFolders() const { return {}; }
void AppStore::setIndexing(std::optional<IndexingProgress> p) { indexing_ = p; emit indexingChanged(); }
void AppStore::setOpenMessage(std::optional<OpenMessage> m) { openMessage_ = std::move(m); emit openMessageChanged(); }

}  // namespace bx

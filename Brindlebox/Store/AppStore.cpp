#include "Store/AppStore.h"

#include "Store/BackupOrchestrator.h"
#include "Store/BackupRules.h"
#include "Store/CleanupModel.h"
#include "Store/OffThread.h"
#include "Platform/Credentials.h"
#include "Platform/RevealFile.h"
#include "Theme/Theme.h"

#include "Index/VaultScan.h"
#include "Mime/MIMEParser.h"
#include "Safety/Domains.h"
#include "Safety/HTMLInspector.h"
#include "Safety/ReplyToCheck.h"
#include "Safety/SenderCheck.h"
#include "Util/AtomicFile.h"
#include "Util/Json.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QSettings>
#include <QTextBoundaryFinder>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <system_error>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <unordered_set>

#include <sys/stat.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace bx {

namespace {

AppStore* sharedStore = nullptr;

constexpr int toastMillis = 2600;

bool envPresent(const char* name) { return std::getenv(name) != nullptr; }

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool isSpaceOrTab(QChar c) {
  return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

// Spaces and tabs off both ends; line breaks stay.
QString trimSpacesAndTabs(const QString& s) {
  qsizetype b = 0, e = s.size();
  while (b < e && isSpaceOrTab(s[b])) ++b;
  while (e > b && isSpaceOrTab(s[e - 1])) --e;
  return s.mid(b, e - b);
}

// Finder-like order: runs of digits compare by their value, the rest
// without regard to case ("Archive 2" before "Archive 10").
int naturalCompare(const QString& a, const QString& b, const QCollator& collator) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype ie = i, je = j;
      while (ie < a.size() && a[ie].isDigit()) ++ie;
      while (je < b.size() && b[je].isDigit()) ++je;
      QStringView da = QStringView(a).mid(i, ie - i), db = QStringView(b).mid(j, je - j);
      while (da.size() > 1 && da[0] == QLatin1Char('0')) da = da.mid(1);
      while (db.size() > 1 && db[0] == QLatin1Char('0')) db = db.mid(1);
      if (da.size() != db.size()) return da.size() < db.size() ? -1 : 1;
      if (const int c = da.compare(db); c != 0) return c < 0 ? -1 : 1;
      i = ie;
      j = je;
      continue;
    }
    qsizetype ie = i, je = j;
    while (ie < a.size() && !a[ie].isDigit()) ++ie;
    while (je < b.size() && !b[je].isDigit()) ++je;
    if (const int c = collator.compare(QStringView(a).mid(i, ie - i), QStringView(b).mid(j, je - j)); c != 0)
      return c < 0 ? -1 : 1;
    i = ie;
    j = je;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool newerFirst(const MessageRecord& a, const MessageRecord& b) { return a.date > b.date; }

std::shared_ptr<const std::vector<MessageRecord>> sortedNewestFirst(std::vector<MessageRecord> list) {
  std::stable_sort(list.begin(), list.end(), newerFirst);
  return std::make_shared<const std::vector<MessageRecord>>(std::move(list));
}

// The accounts of accounts.json: none when there is no such file; a
// problem to show when there is one that cannot be read or decoded (an
// empty file included), for then the accounts are only out of sight.
std::vector<MailAccount> decodeAccounts(const std::filesystem::path& file,
                                        std::optional<FriendlyError::Message>& problem) {
  problem.reset();
  std::error_code ec;
  // Only a file that is not there means no accounts; one that cannot even
  // be looked for (a state folder without permission) is a problem too.
  if (!std::filesystem::exists(file, ec) && !ec) return {};
  std::string why;
  try {
    return decodeJSON<std::vector<MailAccount>>(parseJSON(readFileOrThrow(file)));
  } catch (const std::system_error& e) {
    why = e.code().message();
  } catch (const std::exception&) {
    why = "it is not a valid account list";
  }
  problem = FriendlyError::Message{
      "The account list can\u2019t be read",
      file.string() + " could not be read (" + why +
          "), so no accounts are shown. Brindlebox leaves the file as it is and will not write over it: "
          "repair it, or move it aside, then open Brindlebox again. The mail in the vault is untouched."};
  return {};
}

}  // namespace

AppStore::AppStore(QObject* parent)
    : QObject(parent),
      records_(std::make_shared<const std::vector<MessageRecord>>()),
      timeline_(new TimelineModel(this)),
      cleanup_(new CleanupModel(this)),
      toastTimer_(new QTimer(this)),
      index_(std::make_shared<SearchIndex>()) {
  toastTimer_->setSingleShot(true);
  connect(toastTimer_, &QTimer::timeout, this, [this] {
    toast_.reset();
    emit toastChanged();
  });

  std::filesystem::path root;
  if (envPresent("BRINDLEBOX_DEMO_DIR") || envPresent("BRINDLEBOX_SNAPSHOT_DEMO")) {
    if (demoArchivePreparer())
      root = demoArchivePreparer()();
    else
      root = privateTempDirectory() / "demo-vault";
  } else if (const char* dir = std::getenv("BRINDLEBOX_ARCHIVE_DIR")) {
    root = std::filesystem::path(dir);
  } else {
    const QVariant stored = QSettings().value(QStringLiteral("archiveRoot"));
    if (stored.typeId() == QMetaType::QString)
      root = std::filesystem::path(stored.toString().toStdString());
    else
      root = ArchiveLayout::defaultRoot();
  }
  layout_ = ArchiveLayout(root);

  checkVaultRoot();
  readAccounts();
  readFilters();
  for (const MailAccount& a : accounts_) expandedAccounts_.insert(accountFolder(a));
}

AppStore::~AppStore() {
  if (scanStop_) scanStop_->request_stop();
  if (sharedStore == this) sharedStore = nullptr;
}

AppStore* AppStore::shared() { return sharedStore; }
void AppStore::setShared(AppStore* store) { sharedStore = store; }

std::function<std::filesystem::path()>& AppStore::demoArchivePreparer() {
  static std::function<std::filesystem::path()> preparer;
  return preparer;
}

// ---- Setters ------------------------------------------------------------------

void AppStore::setAccounts(std::vector<MailAccount> accounts) {
  accounts_ = std::move(accounts);
  refreshAccountFolders();
  emit accountsChanged();
}

QString AppStore::accountFolder(const MailAccount& account) const {
  const auto it = accountFolders_.find(QString::fromStdString(account.id.string()));
  return it != accountFolders_.end() ? *it : QString::fromStdString(account.directoryName());
}

bool AppStore::refreshAccountFolders() {
  QHash<QString, QString> folders;
  for (const MailAccount& a : accounts_)
    folders.insert(QString::fromStdString(a.id.string()), QString::fromStdString(layout_.accountFolder(a)));
  if (folders == accountFolders_) return false;
  // An open group stays open when its account's mail turns out to live in
  // another folder (a second account of the same label, after its first backup).
  bool opened = false;
  for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
    const auto before = accountFolders_.constFind(it.key());
    if (before != accountFolders_.cend() && *before != *it && expandedAccounts_.contains(*before) &&
        !expandedAccounts_.contains(*it)) {
      expandedAccounts_.insert(*it);
      opened = true;
    }
  }
  accountFolders_ = std::move(folders);
  if (opened) emit expandedAccountsChanged();
  return true;
}

void AppStore::setSidebar(const SidebarItem& item) {
  // Every assignment refreshes, also of the same item: the shelves move with
  // the clock.
  const bool changed = item != sidebar_;
  sidebar_ = item;
  if (changed) emit sidebarChanged();
  refreshVisible();
}

void AppStore::setQuery(const QString& query) {
  const bool changed = query != query_;
  query_ = query;
  if (changed) emit queryChanged();
  refreshVisible();
}

void AppStore::setSelectedPath(const std::optional<QString>& path) {
  const bool changed = path != selectedPath_;
  selectedPath_ = path;
  if (changed) emit selectedPathChanged();
  openSelected();
}

void AppStore::setSavedSearches(const QList<SavedSearch>& list) {
  savedSearches_ = list;
  emit savedSearchesChanged();
  saveFilters();
}

void AppStore::setBackup(const BackupStatus& status) {
  backup_ = status;
  emit backupChanged();
}

void AppStore::setShowAddAccount(bool on) {
  showAddAccount_ = on;
  emit showAddAccountChanged();
}
void AppStore::setShowFreeUp(bool on) {
  showFreeUp_ = on;
  emit showFreeUpChanged();
}
void AppStore::setShowBackupActivity(bool on) {
  showBackupActivity_ = on;
  emit showBackupActivityChanged();
}
void AppStore::setShowWelcome(bool on) {
  showWelcome_ = on;
  emit showWelcomeChanged();
}
void AppStore::setAllowImagesFor(const QSet<QString>& keys) {
  allowImagesFor_ = keys;
  emit allowImagesForChanged();
}
void AppStore::allowImages(const QString& key) {
  allowImagesFor_.insert(key);
  emit allowImagesForChanged();
}
void AppStore::setImportMessage(const std::optional<QString>& text) {
  importMessage_ = text;
  emit importMessageChanged();
}
void AppStore::setExpandedAccounts(const QSet<QString>& dirs) {
  expandedAccounts_ = dirs;
  emit expandedAccountsChanged();
}
void AppStore::setListEpoch(int epoch) {
  listEpoch_ = epoch;
  emit listEpochChanged();
}
void AppStore::setLedger(const QMap<QString, LedgerLine>& ledger) {
  ledger_ = ledger;
  emit ledgerChanged();
}
void AppStore::setBackupProblems(const QMap<QString, FriendlyError::Message>& problems) {
  backupProblems_ = problems;
  emit backupProblemsChanged();
}
void AppStore::setIndexing(std::optional<IndexingProgress> p) {
  indexing_ = p;
  emit indexingChanged();
}
void AppStore::setOpenMessage(std::shared_ptr<const OpenMessage> m) {
  openMessage_ = std::move(m);
  emit openMessageChanged();
}

// ---- Accounts and saved searches on disk ------------------------------------------

void AppStore::checkVaultRoot() {
  // A vault not made yet is no problem: the first backup makes it.
  std::optional<FriendlyError::Message> problem;
  std::error_code ec;
  const auto status = std::filesystem::status(layout_.root, ec);
  std::string why;
  if (ec && ec != std::errc::no_such_file_or_directory)
    why = ec.message();
  else if (!ec && !std::filesystem::is_directory(status))
    why = "it is not a folder";
  else if (!ec) {
    std::filesystem::directory_iterator it(layout_.root, ec);
    if (ec) why = ec.message();
  }
  if (!why.empty())
    problem = FriendlyError::Message{
        "The vault folder can\u2019t be read",
        layout_.root.string() + " could not be opened (" + why +
            "), so none of its mail is shown. Check that the folder is there and that you may read it, or choose "
            "another vault folder in Settings. Nothing in it has been changed."};
  if (problem == vaultProblem_) return;
  vaultProblem_ = std::move(problem);
  emit storageProblemChanged();
}

std::optional<FriendlyError::Message> AppStore::storageProblem() const {
  return vaultProblem_ ? vaultProblem_ : accountsProblem_;
}

void AppStore::readAccounts() {
  const auto before = accountsProblem_;
  accounts_ = decodeAccounts(layout_.accountsURL(), accountsProblem_);
  refreshAccountFolders();
  if (accountsProblem_ != before) emit storageProblemChanged();
}

bool AppStore::readFilters() {
  const auto data = readFile(layout_.filtersURL());
  if (!data) return false;
  auto list = SavedSearch::decodeList(QByteArray::fromStdString(*data));
  if (!list) return false;
  setSavedSearches(*list);
  return true;
}

void AppStore::saveAccounts() {
  try {
    writeAccounts(accounts_);
  } catch (...) {
  }
}

void AppStore::writeAccounts(const std::vector<MailAccount>& accounts) {
  // The user's file stays as it is until they have seen to it.
  if (accountsProblem_) throw std::runtime_error(accountsProblem_->advice);
  try {
    layout_.ensure();
  } catch (...) {
    // The write below says whether the folder is usable.
  }
  writeFileAtomically(layout_.accountsURL(), encodeJSON(accounts).dump());
}

void AppStore::saveFilters() {
  try {
    layout_.ensure();
  } catch (...) {
  }
  const QByteArray data = SavedSearch::encodeList(savedSearches_);
  try {
    writeFileAtomically(layout_.filtersURL(), std::string_view(data.constData(), size_t(data.size())));
  } catch (...) {
  }
}

void AppStore::addAccount(const MailAccount& account, const QString& password) {
  // What the keyring held for this login before: a failed save puts it back.
  const std::optional<QString> previous = Credentials::password(account);
  Credentials::save(password, account);
  std::vector<MailAccount> next = accounts_;
  const bool isNew = std::none_of(next.begin(), next.end(), [&](const MailAccount& a) { return a.id == account.id; });
  std::erase_if(next, [&](const MailAccount& a) { return a.id == account.id; });
  next.push_back(account);
  // An account missing from accounts.json is gone at the next start: a
  // failed write is the caller's to report, with nothing left behind.
  try {
    writeAccounts(next);
  } catch (...) {
    try {
      if (previous)
        Credentials::save(*previous, account);
      else
        Credentials::remove(account);
    } catch (...) {
    }
    throw;
  }
  if (isNew) {
    std::vector<UUID> others;
    for (const MailAccount& a : accounts_) others.push_back(a.id);
    layout_.adoptSync(account, others);
  }
  accounts_ = std::move(next);
  refreshAccountFolders();
  expandedAccounts_.insert(accountFolder(account));
  emit accountsChanged();
  emit expandedAccountsChanged();
}

void AppStore::updateAccount(const MailAccount& account) {
  for (MailAccount& a : accounts_) {
    if (a.id == account.id) {
      a = account;
      emit accountsChanged();
      saveAccounts();
      return;
    }
  }
}

void AppStore::removeAccount(const MailAccount& account) {
  // Two accounts with the same login on the same server share one password
  // entry: it stays while another account still uses it.
  const std::string key = Credentials::key(account);
  const bool shared = std::any_of(accounts_.begin(), accounts_.end(), [&](const MailAccount& a) {
    return a.id != account.id && Credentials::key(a) == key;
  });
  if (!shared) Credentials::remove(account);
  layout_.nameSyncOwner(account);
  std::erase_if(accounts_, [&](const MailAccount& a) { return a.id == account.id; });
  accountFolders_.remove(QString::fromStdString(account.id.string()));
  if (backups_) backups_->dropQueued(account.id);
  // What the ledger and the strip said about it goes with it.
  if (backupProblems_.remove(BackupRules::problemKey(account)) > 0) emit backupProblemsChanged();
  Ledger ledger = ledger_;
  BackupRules::removeLines(ledger, account.id);
  if (ledger != ledger_) setLedger(ledger);
  emit accountsChanged();
  saveAccounts();
  showToast(QStringLiteral("Removed “") + QString::fromStdString(account.label) +
                QStringLiteral("” — its messages stay in the vault"),
            QStringLiteral("person.crop.circle.badge.minus"), Theme::ink2);
}

bool AppStore::longWorkRunning() const {
  return backup_.running || cleanup_->busy() || importsRunning_ > 0;
}

bool AppStore::accountBusy(const UUID& id) const {
  const std::vector<UUID> run = backups_ ? backups_->runAccounts() : std::vector<UUID>{};
  // Work whose accounts are not known holds every account.
  if (backup_.running && run.empty()) return true;
  if (std::find(run.begin(), run.end(), id) != run.end()) return true;
  if (cleanup_->busy()) return !cleanup_->busyAccount() || *cleanup_->busyAccount() == id;
  return false;
}

bool AppStore::changeArchiveRoot(const std::filesystem::path& root) {
  // A running backup, release or import would go on writing into the old
  // vault while its results land in the new one.
  if (longWorkRunning()) return false;
  QSettings().setValue(QStringLiteral("archiveRoot"), QString::fromStdString(root.string()));
  layout_ = ArchiveLayout(root);
  checkVaultRoot();
  emit layoutChanged();
  if (scanStop_) scanStop_->request_stop();
  ++scanRun_;
  index_ = std::make_shared<SearchIndex>();
  slotRecordsStale_ = true;
  // The same relative path in another vault is another message.
  selectedPath_.reset();
  emit selectedPathChanged();
  setOpenMessage(nullptr);
  setAllowImagesFor({});
  serverSizes_.clear();
  publishSortedRecords(std::make_shared<const std::vector<MessageRecord>>());
  readAccounts();
  emit accountsChanged();
  readFilters();
  reloadArchive();
  return true;
}

void AppStore::showToast(const QString& text, const QString& symbol, const ThemeColor& tint) {
  toast_ = Toast::make(text, symbol, tint);
  emit toastChanged();
  toastTimer_->start(toastMillis);
}

void AppStore::clearToast() {
  toastTimer_->stop();
  if (!toast_) return;
  toast_.reset();
  emit toastChanged();
}

QStringList AppStore::archiveAccounts() const {
  QStringList out;
  for (const MailAccount& a : accounts_)
    if (const QString folder = accountFolder(a); !out.contains(folder)) out.append(folder);
  for (const std::string& dir : recordAccounts_) {
    const QString d = QString::fromStdString(dir);
    if (!out.contains(d)) out.append(d);
  }
  return out;
}

QString AppStore::vaultSummary() const {
  const qlonglong n = qlonglong(records_->size());
  QStringList parts;
  parts << QLocale().toString(n) + QStringLiteral(" message") + (n == 1 ? QString() : QStringLiteral("s"));
  parts << Fmt::bytes(totalBytes_);
  std::optional<Date> last = backup_.lastFinished;
  if (!last) {
    for (const MailAccount& a : accounts_)
      if (a.lastBackup && (!last || *a.lastBackup > *last)) last = a.lastBackup;
  }
  if (last) parts << QStringLiteral("last checked ") + Fmt::ago(*last);
  return parts.join(QStringLiteral(" · "));
}

// ---- Vault scan -------------------------------------------------------------------

std::optional<AppStore::FileStamp> AppStore::stampOf(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{int64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                   uint64_t(st.st_ino)};
}

void AppStore::reloadArchive() {
  checkVaultRoot();
  if (scanStop_) scanStop_->request_stop();
  auto stop = std::make_shared<std::stop_source>();
  scanStop_ = stop;
  const uint64_t run = ++scanRun_;
  const ArchiveLayout layout = layout_;
  const std::vector<MailAccount> accounts = accounts_;
  // The records and index of the last complete scan, when they still stand
  // for index.json: an unchanged vault is then checked against them without
  // reading the index again.
  std::shared_ptr<const std::vector<MessageRecord>> previous = indexStamp_ ? records_ : nullptr;
  const std::shared_ptr<SearchIndex> previousIndex = index_;
  const std::optional<FileStamp> previousStamp = indexStamp_;
  setIndexing(IndexingProgress{0, 0});

  QPointer<AppStore> self(this);
  QThreadPool::globalInstance()->start([self, stop, run, layout, accounts, previous, previousIndex,
                                        previousStamp]() mutable {
    // The store hands its memory back after every scan, complete or not:
    // what a scan freed on this worker stays with the allocator otherwise.
    struct Trim {
      ~Trim() {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
      }
    } trim;
    auto onDisk = VaultScan::walk(layout.root);
    if (stop->stop_requested()) return;
    if (previous && stampOf(layout.indexURL()) == previousStamp && VaultScan::matches(onDisk, *previous)) {
      // Nothing to add or remove and nothing to save: the index in use is
      // the scanned one, and the list is published again as it is.
      auto derived = derive(previous);
      auto sizes = std::make_shared<std::unordered_map<std::string, int64_t>>(serverSizesOf(layout, accounts));
      onGuiThread(self, [run, derived, sizes, previousIndex, previousStamp](AppStore& s) {
        if (run != s.scanRun_) return;
        s.setIndexing(std::nullopt);
        if (s.index_ != previousIndex) {
          s.index_ = previousIndex;
          s.slotRecordsStale_ = true;
        }
        s.serverSizes_ = std::move(*sizes);
        s.publishDerived(derived);
        s.indexStamp_ = previousStamp;
        s.setIndexing(std::nullopt);
      });
      return;
    }
    // The old list stays only as long as the window shows it.
    previous.reset();
    // Loaded here rather than on the GUI thread: a large index.json takes
    // long enough to read that the window would stall.
    std::shared_ptr<SearchIndex> index(SearchIndex::load(layout.indexURL()).release());
    if (!index) index = std::make_shared<SearchIndex>();
    // The list as last published, newest first; each batch is merged into
    // it rather than sorting everything again.
    std::shared_ptr<const std::vector<MessageRecord>> shown;
    VaultScan::Events events;
    events.planned = [&](size_t total) {
      onGuiThread(self, [run, total](AppStore& s) {
        if (run != s.scanRun_) return;
        s.setIndexing(total ? std::optional(IndexingProgress{0, int(total)}) : std::nullopt);
      });
    };
    // A new list goes to the GUI only once it has taken the previous one,
    // and no more often than its making can afford: each list copies every
    // record so far, so a large first scan spends a bounded share of its
    // time on them rather than one copy per batch. Batches pile up here
    // meanwhile and are merged together.
    auto guiBusy = std::make_shared<std::atomic<bool>>(false);
    std::vector<MessageRecord> pending;
    QElapsedTimer sinceList;
    sinceList.start();
    qint64 listCost = 0;
    events.batch = [&](size_t done, size_t total, std::vector<MessageRecord> added) {
      pending.insert(pending.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
      std::shared_ptr<Derived> derived;
      const bool due = !shown || sinceList.elapsed() >= std::max<qint64>(250, 10 * listCost);
      if (due && !guiBusy->load()) {
        QElapsedTimer cost;
        cost.start();
        // Live records before this scan's additions; those it replaced or
        // added are dropped below and merged in again from `pending`.
        if (!shown) shown = sortedNewestFirst(index->liveRecords());
        std::unordered_set<std::string_view> addedPaths;
        for (const auto& r : pending) addedPaths.insert(r.path);
        // Later additions of one path win: keep the last of each.
        std::vector<MessageRecord> fresh;
        {
          std::unordered_set<std::string_view> seen;
          for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            if (seen.insert(it->path).second) fresh.push_back(std::move(*it));
          std::reverse(fresh.begin(), fresh.end());
        }
        std::stable_sort(fresh.begin(), fresh.end(), newerFirst);
        std::vector<const MessageRecord*> kept;
        kept.reserve(shown->size());
        for (const MessageRecord& r : *shown)
          if (!addedPaths.count(r.path)) kept.push_back(&r);
        auto merged = std::make_shared<std::vector<MessageRecord>>();
        merged->reserve(kept.size() + fresh.size());
        auto k = kept.begin();
        for (MessageRecord& r : fresh) {
          while (k != kept.end() && !newerFirst(r, **k)) merged->push_back(**k++);
          merged->push_back(std::move(r));
        }
        while (k != kept.end()) merged->push_back(**k++);
        pending.clear();
        shown = merged;
        derived = derive(std::move(merged));
        guiBusy->store(true);
        listCost = cost.elapsed();
        sinceList.restart();
      }
      onGuiThread(self, [run, done, total, derived, guiBusy](AppStore& s) {
        if (run != s.scanRun_) return;
        s.setIndexing(IndexingProgress{int(done), int(total)});
        if (derived) {
          s.publishDerived(derived);
          guiBusy->store(false);
        }
      });
    };
    const VaultScan::Result result = VaultScan::run(*index, layout, std::move(onDisk), stop->get_token(), events);
    if (!result.completed || stop->stop_requested()) return;
    shown.reset();
    std::vector<MessageRecord>().swap(pending);
    const std::optional<FileStamp> stamp = stampOf(layout.indexURL());
    // The index stays only to answer searches: the list takes its records
    // rather than a copy of them, so they are not kept twice.
    auto derived = derive(sortedNewestFirst(index->takeLiveRecords()));
    // The first search after the scan finds its records ready.
    derived->slotRecords = slotRecordsOf(*index, *derived->records);
    auto sizes = std::make_shared<std::unordered_map<std::string, int64_t>>(serverSizesOf(layout, accounts));
    onGuiThread(self, [run, index, derived, sizes, stamp](AppStore& s) {
      if (run != s.scanRun_) return;
      s.index_ = index;
      s.serverSizes_ = std::move(*sizes);
      s.publishDerived(derived);
      s.indexStamp_ = stamp;
      s.setIndexing(std::nullopt);
    });
  });
}

std::unordered_map<std::string, int64_t> AppStore::serverSizesOf(const ArchiveLayout& layout,
                                                                const std::vector<MailAccount>& accounts) {
  std::unordered_map<std::string, int64_t> map;
  for (const MailAccount& account : accounts) {
    const AccountSyncState state = layout.loadSync(account);
    for (const auto& [mailbox, folder] : state.folders) {
      if (!folder.sizes || folder.sizes->empty()) continue;
      for (const auto& [uid, path] : folder.files) {
        const auto it = folder.sizes->find(uid);
        if (it != folder.sizes->end()) map[path] = it->second;
      }
    }
  }
  return map;
}

void AppStore::loadServerSizes() { serverSizes_ = serverSizesOf(layout_, accounts_); }

void AppStore::publishRecords(std::shared_ptr<const std::vector<MessageRecord>> records) {
  publishSortedRecords(sortedNewestFirst(*records));
}

void AppStore::publishSortedRecords(std::shared_ptr<const std::vector<MessageRecord>> sorted) {
  publishDerived(derive(std::move(sorted)));
}

std::shared_ptr<AppStore::Derived> AppStore::derive(std::shared_ptr<const std::vector<MessageRecord>> sorted) {
  auto d = std::make_shared<Derived>();
  d->records = std::move(sorted);
  d->byPath.reserve(d->records->size());
  for (const MessageRecord& r : *d->records) d->byPath.emplace(r.path, &r);
  refreshCaches(*d);
  learnSenders(*d);
  return d;
}

void AppStore::publishDerived(std::shared_ptr<Derived> d) {
  // visible_ and groups_ point into records_: both are rebuilt before any
  // signal goes out.
  if (d->slotRecords) {
    slotRecords_ = std::move(*d->slotRecords);
    slotRecordsStale_ = false;
  } else if (d->records != records_) {
    slotRecordsStale_ = true;
  }
  auto old = std::make_shared<Derived>();
  old->records = std::exchange(records_, std::move(d->records));
  old->byPath = std::exchange(byPath_, std::move(d->byPath));
  old->folders = std::exchange(folders_, std::move(d->folders));
  smartCounts_ = std::move(d->smartCounts);
  recordAccounts_ = std::move(d->recordAccounts);
  totalBytes_ = d->totalBytes;
  old->knownDomains = std::exchange(knownDomains_, std::move(d->knownDomains));
  old->knownNames = std::exchange(knownNames_, std::move(d->knownNames));
  indexStamp_.reset();
  visible_.clear();
  groups_.clear();
  emit recordsChanged();
  emit foldersChanged();
  emit cachesChanged();
  refreshVisible();
  // The list and maps it replaced are freed on a worker once the views hold
  // the new ones: a vault's worth of records takes longer to free than a
  // frame lasts.
  QThreadPool::globalInstance()->start([old = std::move(old)]() mutable {
    old.reset();
#ifdef __GLIBC__
    malloc_trim(0);
#endif
  });
}

void AppStore::rebuildSlotRecords() {
  slotRecords_ = slotRecordsOf(*index_, *records_);
  slotRecordsStale_ = false;
}

std::vector<const MessageRecord*> AppStore::slotRecordsOf(const SearchIndex& index,
                                                           const std::vector<MessageRecord>& records) {
  std::vector<const MessageRecord*> slotRecords(index.slotCount(), nullptr);
  for (const MessageRecord& r : records) {
    // A record published from the index in use carries its slot; one from a
    // scan still running was numbered by that scan's index instead.
    std::optional<SearchIndex::Slot> slot;
    const auto id = uint64_t(r.id);
    if (r.id >= 0 && id < slotRecords.size() && index.pathAt(SearchIndex::Slot(id)) == std::string_view(r.path))
      slot = SearchIndex::Slot(id);
    else
      slot = index.slot(r.path);
    // The first record of a path, as byPath_ keeps it.
    if (slot && *slot < slotRecords.size() && !slotRecords[*slot]) slotRecords[*slot] = &r;
  }
  return slotRecords;
}

void AppStore::refreshCaches(Derived& d) {
  const std::vector<MessageRecord>& records = *d.records;
  d.folders = computeFolders(records);
  d.smartCounts.clear();
  const double now = nowSeconds();
  for (SmartFilter f : SmartFilters::allCases) {
    int n = 0;
    for (const MessageRecord& r : records)
      if (SmartFilters::contains(f, r, now)) ++n;
    d.smartCounts[f] = n;
  }
  std::set<std::string> accounts;
  int64_t total = 0;
  for (const MessageRecord& r : records) {
    accounts.insert(r.account);
    total += r.size;
  }
  d.recordAccounts.assign(accounts.begin(), accounts.end());
  d.totalBytes = total;
}

std::map<QString, std::vector<FolderSummary>> AppStore::computeFolders(const std::vector<MessageRecord>& records) {
  std::map<std::pair<std::string, std::string>, int> counts;
  for (const MessageRecord& r : records) ++counts[{r.account, r.folder}];
  std::map<QString, std::vector<FolderSummary>> out;
  for (const auto& [key, n] : counts)
    out[QString::fromStdString(key.first)].push_back(
        FolderSummary{QString::fromStdString(key.first), QString::fromStdString(key.second), n});
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  for (auto& [account, rows] : out) {
    std::stable_sort(rows.begin(), rows.end(), [&](const FolderSummary& a, const FolderSummary& b) {
      const bool ai = a.folder == QLatin1String("INBOX"), bi = b.folder == QLatin1String("INBOX");
      if (ai != bi) return ai;
      if (ai) return false;
      return naturalCompare(a.folder, b.folder, collator) < 0;
    });
  }
  return out;
}

void AppStore::learnSenders(Derived& d) {
  std::map<std::string, int> domainCounts;
  std::map<std::string, std::map<std::string, int>> nameDomains;
  for (const MessageRecord& r : *d.records) {
    if (r.trust != SenderTrust::verified) continue;
    // The last non-empty piece after splitting at "@".
    std::string_view email = r.fromEmail;
    std::string_view last;
    size_t start = 0;
    while (start <= email.size()) {
      const size_t at = email.find('@', start);
      const std::string_view piece = email.substr(start, at == std::string_view::npos ? email.npos : at - start);
      if (!piece.empty()) last = piece;
      if (at == std::string_view::npos) break;
      start = at + 1;
    }
    if (last.empty()) continue;
    const std::string domain = Domains::registrable(last);
    ++domainCounts[domain];
    if (!r.fromName.empty()) ++nameDomains[QString::fromStdString(r.fromName).toLower().toStdString()][domain];
  }
  d.knownDomains.clear();
  for (const auto& [domain, n] : domainCounts)
    if (n >= 2) d.knownDomains.insert(domain);
  d.knownNames.clear();
  for (const auto& [name, domains] : nameDomains)
    if (domains.size() == 1 && domains.begin()->second >= 2) d.knownNames[name] = domains.begin()->first;
}

// ---- Browsing ----------------------------------------------------------------------

void AppStore::refreshVisible() {
  const QString typed = trimSpacesAndTabs(query_);
  QString searchText = typed;
  if (sidebar_.kind == SidebarItem::Kind::saved) {
    for (const SavedSearch& s : savedSearches_) {
      if (s.id != sidebar_.saved) continue;
      QStringList parts;
      if (!s.query.isEmpty()) parts << s.query;
      if (!typed.isEmpty()) parts << typed;
      searchText = parts.join(QLatin1Char(' '));
      break;
    }
  }

  std::vector<const MessageRecord*> base;
  if (searchText.isEmpty()) {
    base.reserve(records_->size());
    for (const MessageRecord& r : *records_) base.push_back(&r);
  } else {
    // Hits of the index as it was at the last finished scan; those that are
    // not among the current records are left out.
    if (slotRecordsStale_) rebuildSlotRecords();
    const auto hits = index_->searchSlots(searchText.toStdString());
    base.reserve(hits.size());
    for (SearchIndex::Slot slot : hits)
      if (slot < slotRecords_.size() && slotRecords_[slot]) base.push_back(slotRecords_[slot]);
  }

  std::vector<const MessageRecord*> result;
  switch (sidebar_.kind) {
    case SidebarItem::Kind::account: {
      const std::string a = sidebar_.account.toStdString();
      for (auto* r : base)
        if (r->account == a) result.push_back(r);
      break;
    }
    case SidebarItem::Kind::folder: {
      const std::string a = sidebar_.account.toStdString(), f = sidebar_.folder.toStdString();
      for (auto* r : base)
        if (r->account == a && r->folder == f) result.push_back(r);
      break;
    }
    case SidebarItem::Kind::smart:
      for (auto* r : base)
        if (SmartFilters::contains(sidebar_.smart, *r, nowSeconds())) result.push_back(r);
      break;
    case SidebarItem::Kind::saved:
    case SidebarItem::Kind::all:
      result = std::move(base);
      break;
  }

  visible_ = std::move(result);
  groups_ = group(visible_);
  ++groupsVersion_;
  emit visibleChanged();
  emit groupsChanged();
  emit groupsVersionChanged();

  const auto current = timeline_->currentMonth();
  const bool known = current && std::any_of(groups_.begin(), groups_.end(),
                                            [&](const MonthGroup& g) { return g.key == *current; });
  if (!known) timeline_->setCurrentMonth(groups_.empty() ? std::nullopt : std::optional(groups_.front().key));

  if (!selectedPath_) return;
  const std::string selected = selectedPath_->toStdString();
  if (std::any_of(visible_.begin(), visible_.end(), [&](const MessageRecord* r) { return r->path == selected; }))
    return;
  if (!typed.isEmpty()) return;
  if (visible_.empty())
    setSelectedPath(std::nullopt);
  else
    setSelectedPath(QString::fromStdString(visible_.front()->path));
}

std::vector<MonthGroup> AppStore::group(const std::vector<const MessageRecord*>& records) {
  std::vector<MonthGroup> groups;
  std::unordered_set<int> keys;
  // The local month of the previous record and its bounds: a run of records
  // of one month needs one calendar lookup, not one per record.
  MonthKey key;
  Date monthStart = Date::max(), monthEnd = Date::min();
  for (const MessageRecord* r : records) {
    if (r->date < monthStart || r->date >= monthEnd) {
      key = MonthKey(r->date);
      const auto bounds = MonthKey::bounds(key);
      monthStart = bounds.first;
      monthEnd = bounds.second;
      if (!(r->date >= monthStart && r->date < monthEnd)) monthStart = Date::max(), monthEnd = Date::min();
    }
    if (groups.empty() || groups.back().key != key) {
      groups.push_back(MonthGroup{key, {}});
      keys.insert(key.index());
    }
    groups.back().records.push_back(r);
  }
  if (keys.size() == groups.size()) return groups;
  // Months broken into several runs: merge each month's runs in walk order,
  // newest month first.
  std::map<int, MonthGroup, std::greater<int>> merged;
  for (MonthGroup& g : groups) {
    auto [it, fresh] = merged.try_emplace(g.key.index(), MonthGroup{g.key, {}});
    it->second.records.insert(it->second.records.end(), g.records.begin(), g.records.end());
  }
  std::vector<MonthGroup> out;
  out.reserve(merged.size());
  for (auto& [index, g] : merged) out.push_back(std::move(g));
  return out;
}

void AppStore::scrub(const MonthKey& key) {
  if (groups_.empty()) return;
  const int t = key.index();
  const MonthGroup* chosen = &groups_.back();
  for (const MonthGroup& g : groups_) {
    if (g.key.index() <= t) {
      chosen = &g;
      break;
    }
  }
  ++scrubToken_;
  const MonthKey target = chosen->key;
  timeline_->setScrubTarget(ScrubTarget{target, scrubToken_});
  timeline_->setCurrentMonth(target);
}

void AppStore::selectNext(int step) {
  if (visible_.empty()) return;
  int i = -1;
  if (selectedPath_) {
    const std::string selected = selectedPath_->toStdString();
    for (size_t k = 0; k < visible_.size(); ++k) {
      if (visible_[k]->path == selected) {
        i = int(k);
        break;
      }
    }
  }
  const int target = std::clamp(i + step, 0, int(visible_.size()) - 1);
  setSelectedPath(QString::fromStdString(visible_[size_t(target)]->path));
}

void AppStore::revealSelected() {
  if (!selectedPath_) return;
  const auto file = layout_.resolve(selectedPath_->toStdString());
  if (!file) return;
  RevealFile::reveal(QString::fromStdString(file->string()));
}

void AppStore::saveCurrentSearch() {
  const QString typed = trimSpacesAndTabs(query_);
  if (typed.isEmpty()) return;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, typed);
  const qsizetype firstEnd = std::max<qsizetype>(1, finder.toNextBoundary());
  const QString name = typed.left(firstEnd).toUpper() + typed.mid(firstEnd);
  const SavedSearch saved{QUuid::createUuid(), name, typed};
  QList<SavedSearch> list = savedSearches_;
  list.append(saved);
  setSavedSearches(list);
  setQuery(QString());
  setSidebar(SidebarItem::makeSaved(saved.id));
  showToast(QStringLiteral("Saved “") + name + QStringLiteral("” to the sidebar"),
            QStringLiteral("magnifyingglass.circle.fill"), Theme::seal);
}

int AppStore::count(const QString& account, const QString& folderDir) const {
  const std::string a = account.toStdString(), f = folderDir.toStdString();
  int n = 0;
  for (const MessageRecord& r : *records_)
    if (r.account == a && r.folder == f) ++n;
  return n;
}

QString AppStore::sidebarTitle() const {
  switch (sidebar_.kind) {
    case SidebarItem::Kind::account: return SidebarItem::accountTitle(sidebar_.account);
    case SidebarItem::Kind::folder: return sidebar_.folder;
    case SidebarItem::Kind::smart: return SmartFilters::title(sidebar_.smart);
    case SidebarItem::Kind::saved:
      for (const SavedSearch& s : savedSearches_)
        if (s.id == sidebar_.saved) return s.name;
      return QStringLiteral("Saved Search");
    case SidebarItem::Kind::all: return QStringLiteral("Everything");
  }
  return {};
}

// ---- Opening ------------------------------------------------------------------------

void AppStore::openSelected() {
  if (!selectedPath_) {
    setOpenMessage(nullptr);
    return;
  }
  const std::string path = selectedPath_->toStdString();
  const auto found = byPath_.find(path);
  if (found == byPath_.end()) {
    setOpenMessage(nullptr);
    return;
  }
  const MessageRecord record = *found->second;
  const std::optional<std::filesystem::path> file = layout_.resolve(path);
  std::optional<int64_t> serverSize;
  if (const auto it = serverSizes_.find(path); it != serverSizes_.end()) serverSize = it->second;
  const std::set<std::string> domains = knownDomains_;
  const std::map<std::string, std::string> names = knownNames_;
  const QString selected = *selectedPath_;
  ++openRun_;

  runOffThread(
      this,
      [file, serverSize, record, domains, names]() {
        OpenMessage m;
        m.record = record;
        const std::optional<std::string> data = file ? readFile(*file) : std::nullopt;
        if (!data) {
          m.unreadable = true;
          return m;
        }
        m.parsed = MIMEParser::parse(*data);
        if (m.parsed.htmlBody) {
          // The checks and the reader's document from one parse.
          HTMLInspector::Prepared prepared = HTMLInspector::prepare(*m.parsed.htmlBody, m.parsed.attachments,
                                                                    HTMLInspector::RemoteImages::placeholders);
          m.report = std::move(prepared.report);
          m.display = std::make_shared<const std::string>(std::move(prepared.document));
        }
        auto [trust, auth] = SenderTrust::from(m.parsed.headers);
        m.trust = trust;
        m.authResults = std::move(auth);
        const int64_t n = int64_t(data->size());
        if (!serverSize)
          m.copy = record.account == "Imported" ? CopyStatus::imported() : CopyStatus::saved();
        else if (n == *serverSize && MIMEParser::looksValid(*data))
          m.copy = CopyStatus::verified(*serverSize);
        else
          m.copy = CopyStatus::differs(n, *serverSize);
        m.replyTo = ReplyToCheck::mismatch(m.parsed.from, m.parsed.replyTo);
        std::optional<MailAddress> from;
        if (!m.parsed.from.empty()) from = m.parsed.from.front();
        m.senderFlags = SenderCheck::check(from, domains, names);
        m.fileSize = n;
        return m;
      },
      [selected](AppStore& s, OpenMessage m) {
        if (!s.selectedPath_ || *s.selectedPath_ != selected) return;
        s.setOpenMessage(std::make_shared<const OpenMessage>(std::move(m)));
      });
}

}  // namespace bx

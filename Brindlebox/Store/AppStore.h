#pragma once
// The one observable store of the application. Every window, sheet, menu
// command and harness reads its state and calls its operations; views never
// touch files or mail servers themselves. It lives on the GUI thread; long
// work (scan, opening, backup, free-up, import) runs on workers and comes
// back by queued calls, tagged with its run so that a late report of an old
// run is dropped.
//
// Setters whose assignment does something (selectedPath opens the message,
// query and sidebar refresh the list, savedSearches writes filters.json) act
// on every assignment, also of an equal value.

#include "Store/StoreTypes.h"
#include "Store/TimelineModel.h"
#include "Theme/ThemeColor.h"
#include "Views/Toast.h"

#include "Engines/BackupProgress.h"
#include "Engines/CleanupPlan.h"
#include "Engines/FriendlyError.h"
#include "Index/MessageRecord.h"
#include "Store/CoreIndex.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QTimer;
class QWidget;

namespace bx {

class BackupOrchestrator;
class CleanupModel;
class ImportQueue;

class AppStore : public QObject {
  Q_OBJECT
public:
  // Chooses the vault root and reads accounts.json and filters.json; does not
  // scan (the launch sequence calls reloadArchive()).
  explicit AppStore(QObject* parent = nullptr);
  ~AppStore() override;

  // The application's store, made in main() and registered here; tests, the
  // demo and the self-test may run other stores side by side.
  static AppStore* shared();
  static void setShared(AppStore* store);

  // Builds the made-up demo vault and returns its root; set by the demo
  // harness. Without it a demo run uses a private temporary folder.
  static std::function<std::filesystem::path()>& demoArchivePreparer();

  // ---- State ----------------------------------------------------------------
  const ArchiveLayout& layout() const { return layout_; }

  const std::vector<MailAccount>& accounts() const { return accounts_; }
  // For the backup run, which then calls saveAccounts().
  void setAccounts(std::vector<MailAccount> accounts);
  // The account's folder in the vault (ArchiveLayout::accountFolder), as
  // last read: where its mail is, which is not its label's folder when
  // another account had that name first, or when it took over the state of
  // an account of the same login. Everything that shows an account's mail
  // finds it through this.
  QString accountFolder(const MailAccount& account) const;
  // accounts.json exists but cannot be read or decoded: what, where and
  // what to do. While it is set the file is never written.
  const std::optional<FriendlyError::Message>& accountsProblem() const { return accountsProblem_; }
  // The vault folder exists but cannot be read (not a folder, no
  // permission): what, where and what to do. Checked when the vault is
  // chosen and at every reload.
  const std::optional<FriendlyError::Message>& vaultProblem() const { return vaultProblem_; }
  // The vault's problem, else the account list's.
  std::optional<FriendlyError::Message> storageProblem() const;

  // Every live record of the index, newest first.
  const std::vector<MessageRecord>& records() const { return *records_; }
  // The message list as shown; pointers into records().
  const std::vector<const MessageRecord*>& visible() const { return visible_; }
  const std::vector<MonthGroup>& groups() const { return groups_; }
  int groupsVersion() const { return groupsVersion_; }

  const SidebarItem& sidebar() const { return sidebar_; }
  void setSidebar(const SidebarItem& item);  // refreshes, every time

  const QString& query() const { return query_; }
  void setQuery(const QString& query);  // refreshes, every time

  const std::optional<QString>& selectedPath() const { return selectedPath_; }
  void setSelectedPath(const std::optional<QString>& path);  // opens, every time

  const OpenMessage* openMessage() const { return openMessage_.get(); }
  // The same, for a holder that keeps it: shared, it is never copied.
  std::shared_ptr<const OpenMessage> openMessageShared() const { return openMessage_; }

  const QList<SavedSearch>& savedSearches() const { return savedSearches_; }
  void setSavedSearches(const QList<SavedSearch>& list);  // writes filters.json

  // Progress of the vault scan; nullopt when no scan is adding files.
  std::optional<IndexingProgress> indexing() const { return indexing_; }

  const BackupStatus& backup() const { return backup_; }
  void setBackup(const BackupStatus& status);

  bool showAddAccount() const { return showAddAccount_; }
  void setShowAddAccount(bool on);
  bool showFreeUp() const { return showFreeUp_; }
  void setShowFreeUp(bool on);
  bool showBackupActivity() const { return showBackupActivity_; }
  void setShowBackupActivity(bool on);
  bool showWelcome() const { return showWelcome_; }
  void setShowWelcome(bool on);

  // Vault-relative paths whose remote images the reader shows.
  const QSet<QString>& allowImagesFor() const { return allowImagesFor_; }
  void setAllowImagesFor(const QSet<QString>& keys);
  void allowImages(const QString& key);

  const std::optional<QString>& importMessage() const { return importMessage_; }
  void setImportMessage(const std::optional<QString>& text);

  const QSet<QString>& expandedAccounts() const { return expandedAccounts_; }
  void setExpandedAccounts(const QSet<QString>& dirs);

  const std::optional<Toast>& toast() const { return toast_; }

  int listEpoch() const { return listEpoch_; }
  void setListEpoch(int epoch);

  TimelineModel& timeline() { return *timeline_; }
  CleanupModel& cleanup() { return *cleanup_; }

  // Keyed by account id (upper-case UUID text) + "/" + mailbox.
  const QMap<QString, LedgerLine>& ledger() const { return ledger_; }
  void setLedger(const QMap<QString, LedgerLine>& ledger);
  // Keyed by the account's id (upper-case UUID text), never by label: two
  // accounts may share a label. backupProblem(account) looks one up.
  const QMap<QString, FriendlyError::Message>& backupProblems() const { return backupProblems_; }
  std::optional<FriendlyError::Message> backupProblem(const MailAccount& account) const;
  void setBackupProblems(const QMap<QString, FriendlyError::Message>& problems);

  // Folder rows per account directory.
  const std::map<QString, std::vector<FolderSummary>>& folders() const { return folders_; }
  // Records per shelf.
  const std::map<SmartFilter, int>& smartCounts() const { return smartCounts_; }
  int64_t totalBytes() const { return totalBytes_; }

  // The search index used for searching; replaced by each finished scan.
  const SearchIndex& index() const { return *index_; }

  // Sizes the server reported, by vault-relative path.
  const std::unordered_map<std::string, int64_t>& serverSizes() const { return serverSizes_; }
  const std::set<std::string>& knownDomains() const { return knownDomains_; }
  const std::map<std::string, std::string>& knownNames() const { return knownNames_; }

  // ---- Accounts, vault root, toasts ---------------------------------------
  void saveAccounts();
  // Stores the password, then the account (moved to the end when its id is
  // present). Throws CredentialError when the password cannot be stored, and
  // the write's std::exception when accounts.json cannot be written; either
  // way the accounts stay as they were and the password stored for the
  // login before the call is put back (or removed when there was none). A
  // new account takes over the sync state that a gone account of the same
  // login left (ArchiveLayout::adoptSync), so nothing is fetched twice.
  void addAccount(const MailAccount& account, const QString& password);
  void updateAccount(const MailAccount& account);
  // Also forgets the account's problem, ledger lines and waiting backup.
  void removeAccount(const MailAccount& account);
  // Refused (returns false) while a backup, release or import runs.
  bool changeArchiveRoot(const std::filesystem::path& root);
  void showToast(const QString& text, const QString& symbol, const ThemeColor& tint);
  void clearToast();

  // Account directory names to show: accounts first, then those with records.
  QStringList archiveAccounts() const;
  QString vaultSummary() const;
  // A backup, release or import is running.
  bool longWorkRunning() const;
  // A running or waiting backup covers the account, or a free-up works on
  // it: it must not be removed now.
  bool accountBusy(const UUID& id) const;
  // Backups asked for during a run, still waiting for it to end.
  std::size_t queuedBackups() const;

  // ---- Vault scan -----------------------------------------------------------
  void reloadArchive();
  void loadServerSizes();

  // ---- Browsing ---------------------------------------------------------------
  void refreshVisible();
  static std::vector<MonthGroup> group(const std::vector<const MessageRecord*>& records);
  void scrub(const MonthKey& key);
  void selectNext(int step);
  void revealSelected();
  void saveCurrentSearch();
  int count(const QString& account, const QString& folderDir) const;
  QString sidebarTitle() const;

  // ---- Opening ------------------------------------------------------------------
  void openSelected();

  // ---- Backup and schedule ----------------------------------------------------
  void backUpNow(const std::optional<MailAccount>& only = std::nullopt);
  // The same, except that while a run is going the new one waits for it
  // (the add-account flow's first backup is never lost to a busy vault).
  void queueBackup(const std::optional<MailAccount>& only);
  // Cancels the running backup (menu, strip and ledger stop buttons).
  void stopBackup();
  // `accountKey` is the account's id text (BackupRules::accountKey).
  void apply(const BackupProgress& progress, const QString& accountKey);
  void startScheduler();
  void checkSchedule();

  // ---- Free-up ------------------------------------------------------------------
  void resetCleanup();
  void checkCleanup(const MailAccount& account, const QString& mailbox, Date before);
  // The paced verify walk; `done` runs on the GUI thread when it ends or stops.
  void verifyProgressively(const CleanupPlan& plan, const ArchiveLayout& layout,
                           std::function<void()> done = {});
  void runCleanup(const MailAccount& account);
  void finishCleanup(int released, const CleanupPlan& plan, const MailAccount& account, bool partial);
  void cancelCleanup();

  // ---- Import -------------------------------------------------------------------
  void presentImportPanel(QWidget* parent = nullptr);
  void importFiles(const QStringList& paths);
  void openArchiveInFinder();

signals:
  void layoutChanged();
  void accountsChanged();
  void recordsChanged();
  void visibleChanged();
  void sidebarChanged();
  void queryChanged();
  void selectedPathChanged();
  void openMessageChanged();
  void savedSearchesChanged();
  void indexingChanged();
  void backupChanged();
  void showAddAccountChanged();
  void showFreeUpChanged();
  void showBackupActivityChanged();
  void showWelcomeChanged();
  void allowImagesForChanged();
  void importMessageChanged();
  void expandedAccountsChanged();
  void toastChanged();
  void listEpochChanged();
  void groupsChanged();
  void groupsVersionChanged();
  void ledgerChanged();
  void backupProblemsChanged();
  void foldersChanged();
  // smartCounts, recordAccounts and totalBytes were rebuilt.
  void cachesChanged();
  // accountsProblem or vaultProblem changed.
  void storageProblemChanged();

private:
  void readAccounts();
  // Returns whether any account's folder changed.
  bool refreshAccountFolders();
  // Throws when accounts.json cannot be written.
  void writeAccounts(const std::vector<MailAccount>& accounts);
  bool readFilters();
  void saveFilters();
  // A list of records, newest first, with everything the store derives
  // from it. Made off the GUI thread for a list of the vault's size, so that
  // publishing it there only swaps it in.
  struct Derived {
    std::shared_ptr<const std::vector<MessageRecord>> records;
    // Path -> record of records.
    std::unordered_map<std::string_view, const MessageRecord*> byPath;
    std::map<QString, std::vector<FolderSummary>> folders;
    std::map<SmartFilter, int> smartCounts;
    std::vector<std::string> recordAccounts;
    int64_t totalBytes = 0;
    std::set<std::string> knownDomains;
    std::map<std::string, std::string> knownNames;
    // Slot of the index that goes with the list -> its record, when made.
    std::optional<std::vector<const MessageRecord*>> slotRecords;
  };
  static std::shared_ptr<Derived> derive(std::shared_ptr<const std::vector<MessageRecord>> sorted);
  static void refreshCaches(Derived& d);
  static void learnSenders(Derived& d);
  static std::map<QString, std::vector<FolderSummary>> computeFolders(const std::vector<MessageRecord>& records);
  static std::unordered_map<std::string, int64_t> serverSizesOf(const ArchiveLayout& layout,
                                                                const std::vector<MailAccount>& accounts);
  void publishRecords(std::shared_ptr<const std::vector<MessageRecord>> records);
  void publishSortedRecords(std::shared_ptr<const std::vector<MessageRecord>> sorted);
  void publishDerived(std::shared_ptr<Derived> derived);
  void setIndexing(std::optional<IndexingProgress> p);
  void setOpenMessage(std::shared_ptr<const OpenMessage> m);

  ArchiveLayout layout_;
  std::vector<MailAccount> accounts_;
  std::optional<FriendlyError::Message> accountsProblem_;
  std::optional<FriendlyError::Message> vaultProblem_;
  void checkVaultRoot();
  QHash<QString, QString> accountFolders_;  // by account id text
  std::shared_ptr<const std::vector<MessageRecord>> records_;
  std::vector<const MessageRecord*> visible_;
  SidebarItem sidebar_;
  QString query_;
  std::optional<QString> selectedPath_;
  std::shared_ptr<const OpenMessage> openMessage_;
  QList<SavedSearch> savedSearches_;
  std::optional<IndexingProgress> indexing_;
  BackupStatus backup_;
  bool showAddAccount_ = false;
  bool showFreeUp_ = false;
  bool showBackupActivity_ = false;
  QSet<QString> allowImagesFor_;
  std::optional<QString> importMessage_;
  QSet<QString> expandedAccounts_;
  std::optional<Toast> toast_;
  bool showWelcome_ = false;
  int listEpoch_ = 0;
  std::vector<MonthGroup> groups_;
  int groupsVersion_ = 0;
  TimelineModel* timeline_ = nullptr;
  CleanupModel* cleanup_ = nullptr;
  QMap<QString, LedgerLine> ledger_;
  QMap<QString, FriendlyError::Message> backupProblems_;
  std::unordered_map<std::string, int64_t> serverSizes_;
  std::set<std::string> knownDomains_;
  std::map<std::string, std::string> knownNames_;
  QTimer* toastTimer_ = nullptr;
  std::shared_ptr<SearchIndex> index_;
  std::map<QString, std::vector<FolderSummary>> folders_;
  std::map<SmartFilter, int> smartCounts_;
  std::vector<std::string> recordAccounts_;
  int64_t totalBytes_ = 0;
  int scrubToken_ = 0;
  // Path -> record of records_, rebuilt with it.
  std::unordered_map<std::string_view, const MessageRecord*> byPath_;
  // What index.json looked like when index_ and records_ were made from it
  // by a complete scan; empty when they were not. A rescan that finds the
  // same file and the same message files has nothing to read.
  struct FileStamp {
    int64_t size = 0, mtimeNs = 0;
    uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
  };
  static std::optional<FileStamp> stampOf(const std::filesystem::path& file);
  std::optional<FileStamp> indexStamp_;
  // Slot of index_ -> record of records_ with the same path (null when
  // none), so that a search turns its hits into records without a lookup by
  // path each. Built on the first search after records_ or index_ changed.
  std::vector<const MessageRecord*> slotRecords_;
  bool slotRecordsStale_ = true;
  void rebuildSlotRecords();
  static std::vector<const MessageRecord*> slotRecordsOf(const SearchIndex& index,
                                                         const std::vector<MessageRecord>& records);

  // Runs: each long job keeps its stop source; a result is applied only
  // while its run number is still the latest of its kind.
  std::shared_ptr<std::stop_source> scanStop_;
  uint64_t scanRun_ = 0;
  uint64_t openRun_ = 0;

  // Long work (backup, schedule, free-up, import).
  std::shared_ptr<std::stop_source> backupStop_;
  uint64_t backupRun_ = 0;
  QTimer* scheduleTimer_ = nullptr;
  std::shared_ptr<std::stop_source> cleanupStop_;
  uint64_t cleanupRun_ = 0;
  int importsRunning_ = 0;
  BackupOrchestrator* backups_ = nullptr;
  ImportQueue* imports_ = nullptr;
  BackupOrchestrator& backups();
  ImportQueue& imports();
  CleanupModel& preparedCleanup();
};

}  // namespace bx

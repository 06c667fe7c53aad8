#include "Shell/AppStoreShell.h"

#include "Store/AppStore.h"

#include <QDesktopServices>
#include <QUrl>

namespace bx {

AppStoreShell::AppStoreShell(AppStore& store, QObject* parent) : ShellStore(parent), store_(store) {
  auto commands = [this] { emit commandStateChanged(); };
  auto vault = [this] { emit vaultChanged(); };
  for (auto signal : {&AppStore::backupChanged, &AppStore::accountsChanged, &AppStore::queryChanged,
                      &AppStore::visibleChanged})
    connect(&store_, signal, this, commands);
  for (auto signal : {&AppStore::selectedPathChanged, &AppStore::recordsChanged}) {
    connect(&store_, signal, this, [this] {
      recheckSelection();
      emit commandStateChanged();
    });
  }
  for (auto signal : {&AppStore::accountsChanged, &AppStore::recordsChanged, &AppStore::indexingChanged,
                      &AppStore::storageProblemChanged})
    connect(&store_, signal, this, vault);
  connect(&store_, &AppStore::backupChanged, this, &ShellStore::backupChanged);
  connect(&store_, &AppStore::importMessageChanged, this, &ShellStore::importMessageChanged);
  connect(&store_, &AppStore::toastChanged, this, &ShellStore::toastChanged);
  connect(&store_, &AppStore::showAddAccountChanged, this,
          [this] { emit flagChanged(Sheet::AddAccount, store_.showAddAccount()); });
  connect(&store_, &AppStore::showFreeUpChanged, this,
          [this] { emit flagChanged(Sheet::FreeUp, store_.showFreeUp()); });
  connect(&store_, &AppStore::showBackupActivityChanged, this,
          [this] { emit flagChanged(Sheet::BackupActivity, store_.showBackupActivity()); });
  connect(&store_, &AppStore::showWelcomeChanged, this,
          [this] { emit flagChanged(Sheet::Welcome, store_.showWelcome()); });
  recheckSelection();
}

void AppStoreShell::recheckSelection() {
  selectionLive_ = false;
  const std::optional<QString>& path = store_.selectedPath();
  if (!path) return;
  const std::string wanted = path->toStdString();
  for (const MessageRecord& r : store_.records()) {
    if (r.path == wanted) {
      selectionLive_ = true;
      return;
    }
  }
}

CommandState AppStoreShell::commandState() const {
  CommandState s;
  s.backupRunning = store_.backup().running;
  s.hasAccounts = !store_.accounts().empty();
  s.query = store_.query();
  s.hasSelection = store_.selectedPath().has_value();
  s.selectionLive = s.hasSelection && selectionLive_;
  s.visibleEmpty = store_.visible().empty();
  return s;
}

bool AppStoreShell::hasAccounts() const { return !store_.accounts().empty(); }
int AppStoreShell::accountCount() const { return int(store_.accounts().size()); }
bool AppStoreShell::hasRecords() const { return !store_.records().empty(); }
bool AppStoreShell::hasStorageProblem() const { return store_.storageProblem().has_value(); }
// A scan that has not yet found anything to add ((0, 0) while it walks the
// vault) is not counted: an empty vault would show the browser for that
// moment at every launch.
bool AppStoreShell::isIndexing() const {
  const auto& indexing = store_.indexing();
  return indexing && indexing->total > 0;
}
bool AppStoreShell::backupRunning() const { return store_.backup().running; }

std::optional<QDateTime> AppStoreShell::lastFinished() const {
  const auto& d = store_.backup().lastFinished;
  if (!d) return std::nullopt;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d->time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

bool AppStoreShell::flag(Sheet kind) const {
  switch (kind) {
  case Sheet::AddAccount: return store_.showAddAccount();
  case Sheet::FreeUp: return store_.showFreeUp();
  case Sheet::BackupActivity: return store_.showBackupActivity();
  case Sheet::Welcome: return store_.showWelcome();
  }
  return false;
}

std::optional<QString> AppStoreShell::importMessage() const { return store_.importMessage(); }
std::optional<Toast> AppStoreShell::toast() const { return store_.toast(); }

void AppStoreShell::setFlag(Sheet kind, bool value) {
  switch (kind) {
  case Sheet::AddAccount: store_.setShowAddAccount(value); break;
  case Sheet::FreeUp: store_.setShowFreeUp(value); break;
  case Sheet::BackupActivity: store_.setShowBackupActivity(value); break;
  case Sheet::Welcome: store_.setShowWelcome(value); break;
  }
}

// A click takes the banner away; the store forgets it too, unless a newer
// toast has already replaced it.
void AppStoreShell::clearToast(QUuid id) {
  if (store_.toast() && store_.toast()->id == id) store_.clearToast();
}

void AppStoreShell::backUpNow() { store_.backUpNow(std::nullopt); }
void AppStoreShell::stopBackup() { store_.stopBackup(); }
void AppStoreShell::presentImportPanel() { store_.presentImportPanel(window_); }
void AppStoreShell::openArchiveInFinder() { store_.openArchiveInFinder(); }
void AppStoreShell::reloadArchive() { store_.reloadArchive(); }
void AppStoreShell::startScheduler() { store_.startScheduler(); }

void AppStoreShell::selectShelf(Shelf shelf) {
  switch (shelf) {
  case Shelf::All: store_.setSidebar(SidebarItem::makeAll()); break;
  case Shelf::Recent: store_.setSidebar(SidebarItem::makeSmart(SmartFilter::recent)); break;
  case Shelf::Attachments: store_.setSidebar(SidebarItem::makeSmart(SmartFilter::attachments)); break;
  case Shelf::Suspicious: store_.setSidebar(SidebarItem::makeSmart(SmartFilter::suspicious)); break;
  }
  store_.refreshVisible();
}

void AppStoreShell::selectNext(int step) { store_.selectNext(step); }

void AppStoreShell::showImagesForSelection() {
  if (const auto& path = store_.selectedPath()) store_.allowImages(*path);
}

void AppStoreShell::revealSelection() {
  if (store_.selectedPath()) store_.revealSelected();
}

void AppStoreShell::openSelection() {
  const auto& path = store_.selectedPath();
  if (!path) return;
  const std::optional<std::filesystem::path> file = store_.layout().resolve(path->toStdString());
  if (!file) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file->string())));
}

void AppStoreShell::saveCurrentSearch() { store_.saveCurrentSearch(); }

void AppStoreShell::shutDown() {
  // Long work is asked to stop before the store goes.
  store_.stopBackup();
  store_.cancelCleanup();
}

} // namespace bx

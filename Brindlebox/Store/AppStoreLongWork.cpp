// Backups and their schedule, the free-up flow and imports: the store's
// side of each, over the engines that do the work on worker threads.

#include "Store/AppStore.h"
#include "Platform/Credentials.h"
#include "Store/BackupOrchestrator.h"
#include "Store/CleanupModel.h"
#include "Store/ImportQueue.h"
#include "Theme/Theme.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <system_error>

namespace bx {

namespace {

std::optional<std::string> passwordOf(const MailAccount& account) {
  if (auto pw = Credentials::password(account)) return pw->toStdString();
  return std::nullopt;
}

}  // namespace

// ---- Backup and schedule

BackupOrchestrator& AppStore::backups() {
  if (backups_) return *backups_;
  BackupOrchestrator::Host h;
  h.accounts = [this] { return accounts_; };
  h.layout = [this] { return layout_; };
  h.password = passwordOf;
  h.status = [this] { return backup_; };
  h.setStatus = [this](const BackupStatus& s) { setBackup(s); };
  h.ledger = [this] { return ledger_; };
  h.setLedger = [this](const Ledger& l) { setLedger(l); };
  h.problems = [this] { return backupProblems_; };
  h.setProblems = [this](const BackupProblems& p) { setBackupProblems(p); };
  h.recordBackup = [this](const UUID& id, Date when) {
    // The store's current copy, so edits made during the run survive.
    std::vector<MailAccount> list = accounts_;
    for (auto& a : list) {
      if (a.id != id) continue;
      a.lastBackup = when;
      setAccounts(std::move(list));
      saveAccounts();
      return;
    }
  };
  h.reloadArchive = [this] {
    // A first backup settles where a new account's mail goes.
    if (refreshAccountFolders()) emit accountsChanged();
    reloadArchive();
  };
  h.toast = [this](const QString& t, const QString& s, const ThemeColor& c) { showToast(t, s, c); };
  h.showBackupActivity = [this] { setShowBackupActivity(true); };
  h.showAddAccount = [this] { setShowAddAccount(true); };
  h.scheduleEnabled = [] { return QSettings().value(QStringLiteral("scheduleEnabled"), false).toBool(); };
  h.scheduleHours = []() -> std::optional<int> {
    QSettings settings;
    if (!settings.contains(QStringLiteral("scheduleHours"))) return std::nullopt;
    return settings.value(QStringLiteral("scheduleHours")).toInt();
  };
  backups_ = new BackupOrchestrator(std::move(h), this);
  return *backups_;
}

std::optional<FriendlyError::Message> AppStore::backupProblem(const MailAccount& account) const {
  auto it = backupProblems_.find(BackupRules::problemKey(account));
  if (it == backupProblems_.end()) return std::nullopt;
  return *it;
}

void AppStore::backUpNow(const std::optional<MailAccount>& only) { backups().backUpNow(only); }

void AppStore::queueBackup(const std::optional<MailAccount>& only) { backups().queue(only); }

std::size_t AppStore::queuedBackups() const { return backups_ ? backups_->queuedCount() : 0; }

void AppStore::stopBackup() { backups().cancel(); }

void AppStore::apply(const BackupProgress& progress, const QString& accountKey) {
  BackupStatus status = backup_;
  QMap<QString, LedgerLine> ledger = ledger_;
  BackupRules::apply(status, ledger, progress, accountKey);
  setBackup(status);
  setLedger(ledger);
}

void AppStore::startScheduler() {
  delete scheduleTimer_;
  scheduleTimer_ = new QTimer(this);
  scheduleTimer_->setInterval(BackupOrchestrator::scheduleInterval * 1000);
  connect(scheduleTimer_, &QTimer::timeout, this, [this] { checkSchedule(); });
  scheduleTimer_->start();
}

void AppStore::checkSchedule() { backups().checkSchedule(); }

// ---- Free-up

CleanupModel& AppStore::preparedCleanup() {
  if (!cleanup_->hasServices()) {
    CleanupModel::Services s;
    s.layout = [this] { return layout_; };
    s.password = passwordOf;
    s.toast = [this](const QString& t, const QString& sym, const ThemeColor& c) { showToast(t, sym, c); };
    cleanup_->setServices(std::move(s));
  }
  return *cleanup_;
}

void AppStore::resetCleanup() { preparedCleanup().reset(); }

void AppStore::checkCleanup(const MailAccount& account, const QString& mailbox, Date before) {
  preparedCleanup().check(account, mailbox.toStdString(), before);
}

void AppStore::verifyProgressively(const CleanupPlan& plan, const ArchiveLayout& layout,
                                   std::function<void()> done) {
  preparedCleanup().verifyProgressively(plan, layout, std::move(done));
}

void AppStore::runCleanup(const MailAccount& account) { preparedCleanup().run(account); }

void AppStore::finishCleanup(int released, const CleanupPlan& plan, const MailAccount& account, bool partial) {
  preparedCleanup().finish(released, plan, account, partial);
}

void AppStore::cancelCleanup() { preparedCleanup().cancel(); }

// ---- Import

ImportQueue& AppStore::imports() {
  if (imports_) return *imports_;
  ImportQueue::Host h;
  h.layout = [this] { return layout_; };
  h.setImportMessage = [this](const std::optional<QString>& m) { setImportMessage(m); };
  h.importMessage = [this] { return importMessage_; };
  h.toast = [this](const QString& t, const QString& s, const ThemeColor& c) { showToast(t, s, c); };
  h.reloadArchive = [this] { reloadArchive(); };
  imports_ = new ImportQueue(std::move(h), this);
  connect(imports_, &ImportQueue::importFinished, this, [this] { --importsRunning_; });
  return *imports_;
}

void AppStore::presentImportPanel(QWidget* parent) {
  auto* dialog = new QFileDialog(parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setNameFilter(QStringLiteral("Mail files (*.eml *.mbox *.mbx)"));
  dialog->setWindowTitle(QStringLiteral("Choose .eml or .mbox files to copy into your Brindlebox archive."));
  dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Import"));
  if (parent) dialog->setWindowModality(Qt::WindowModal);
  connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList& files) { importFiles(files); });
  dialog->open();
}

void AppStore::importFiles(const QStringList& paths) {
  std::vector<std::filesystem::path> files;
  files.reserve(std::size_t(paths.size()));
  for (const QString& p : paths) files.emplace_back(p.toStdString());
  ImportQueue& queue = imports();
  ++importsRunning_;
  queue.importFiles(files);
}

void AppStore::openArchiveInFinder() {
  std::error_code ec;
  std::filesystem::create_directories(layout_.root, ec);  // a failure is ignored
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(layout_.root.string())));
}

}  // namespace bx

// Backups and their schedule, the free-up flow and imports.

#include "Store/AppStore.h"
#include "Store/CleanupModel.h"

#include <QTimer>

namespace bx {

void AppStore::backUpNow(const std::optional<MailAccount>& only) { (void)only; }

void AppStore::stopBackup() {
  if (backupStop_) backupStop_->request_stop();
}

void AppStore::apply(const BackupProgress& progress, const QString& accountDir) {
  (void)progress;
  (void)accountDir;
}

void AppStore::startScheduler() {}

void AppStore::checkSchedule() {}

void AppStore::resetCleanup() {}

void AppStore::checkCleanup(const MailAccount& account, const QString& mailbox, Date before) {
  (void)account;
  (void)mailbox;
  (void)before;
}

void AppStore::verifyProgressively(const CleanupPlan& plan, const ArchiveLayout& layout,
                                   std::function<void()> done) {
  (void)plan;
  (void)layout;
  if (done) done();
}

void AppStore::runCleanup(const MailAccount& account) { (void)account; }

void AppStore::finishCleanup(int released, const CleanupPlan& plan, const MailAccount& account, bool partial) {
  (void)released;
  (void)plan;
  (void)account;
  (void)partial;
}

void AppStore::cancelCleanup() {}

void AppStore::presentImportPanel(QWidget* parent) { (void)parent; }

void AppStore::importFiles(const QStringList& paths) { (void)paths; }

void AppStore::openArchiveInFinder() {}

}  // namespace bx

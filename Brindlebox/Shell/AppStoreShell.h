#pragma once

#include "Shell/ShellStore.h"

#include <QPointer>
#include <QWidget>

class QWidget;

namespace bx {

class AppStore;

// The shell's view of the application's AppStore.
class AppStoreShell : public ShellStore {
  Q_OBJECT
public:
  explicit AppStoreShell(AppStore& store, QObject* parent = nullptr);

  // The window that the store's panels (import) open over.
  void setWindow(QWidget* window) { window_ = window; }

  CommandState commandState() const override;
  bool hasAccounts() const override;
  int accountCount() const override;
  bool hasRecords() const override;
  bool hasStorageProblem() const override;
  bool isIndexing() const override;
  bool backupRunning() const override;
  std::optional<QDateTime> lastFinished() const override;
  bool flag(Sheet kind) const override;
  std::optional<QString> importMessage() const override;
  std::optional<Toast> toast() const override;
  AppStore* store() override { return &store_; }

  void setFlag(Sheet kind, bool value) override;
  void clearToast(QUuid id) override;
  void backUpNow() override;
  void stopBackup() override;
  void presentImportPanel() override;
  void openArchiveInFinder() override;
  void reloadArchive() override;
  void startScheduler() override;
  void selectShelf(Shelf shelf) override;
  void selectNext(int step) override;
  void showImagesForSelection() override;
  void revealSelection() override;
  void openSelection() override;
  void saveCurrentSearch() override;
  void shutDown() override;

private:
  void recheckSelection();

  AppStore& store_;
  QPointer<QWidget> window_;
  // The selection names a record still in the vault (kept up to date, so
  // the enabled rules never search the records).
  bool selectionLive_ = false;
};

} // namespace bx

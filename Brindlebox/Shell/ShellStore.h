#pragma once

#include "Shell/Seams.h"
#include "Views/Toast.h"

#include <QDateTime>
#include <QObject>

#include <optional>

namespace bx {

class AppStore;

// What the menu commands' enabled rules read, as one value.
struct CommandState {
  bool backupRunning = false;
  bool hasAccounts = false;
  QString query;
  // A message is selected (its path is set).
  bool hasSelection = false;
  // A message is selected and its record is still in the vault.
  bool selectionLive = false;
  bool visibleEmpty = true;
};

// The shelves the Mailbox menu jumps to.
enum class Shelf { All, Recent, Attachments, Suspicious };

// The shell's view of the store: what the root window, toolbar and menus
// read and call, with one signal per thing that changes. The application
// uses the one over AppStore (AppStoreShell); tests may drive the shell with
// their own.
class ShellStore : public QObject {
  Q_OBJECT
public:
  using Sheet = Seams::Sheet;
  using QObject::QObject;

  // Reading.
  virtual CommandState commandState() const = 0;
  virtual bool hasAccounts() const = 0;
  virtual int accountCount() const = 0;
  virtual bool hasRecords() const = 0;
  virtual bool isIndexing() const = 0;
  virtual bool backupRunning() const = 0;
  virtual std::optional<QDateTime> lastFinished() const = 0;
  virtual bool flag(Sheet kind) const = 0;
  virtual std::optional<QString> importMessage() const = 0;
  virtual std::optional<Toast> toast() const = 0;
  // The store itself, for the views of other subsystems; null in tests that
  // drive the shell alone.
  virtual AppStore* store() { return nullptr; }

  // Acting.
  virtual void setFlag(Sheet kind, bool value) = 0;
  virtual void clearToast(QUuid id) = 0;
  virtual void backUpNow() = 0;
  virtual void stopBackup() = 0;
  virtual void presentImportPanel() = 0;
  virtual void openArchiveInFinder() = 0;
  virtual void reloadArchive() = 0;
  virtual void startScheduler() = 0;
  virtual void selectShelf(Shelf shelf) = 0;
  virtual void selectNext(int step) = 0;
  virtual void showImagesForSelection() = 0;
  virtual void revealSelection() = 0;
  virtual void openSelection() = 0;
  virtual void saveCurrentSearch() = 0;
  // Stops and joins the store's work before the store goes (quit).
  virtual void shutDown() {}

  // The vault is empty: no accounts, no records, no scan adding files.
  // The account list or the vault folder cannot be read: what is in them
  // is only out of sight, so the vault is not shown as empty.
  virtual bool hasStorageProblem() const { return false; }
  bool isEmptyVault() const { return !hasAccounts() && !hasRecords() && !isIndexing() && !hasStorageProblem(); }

signals:
  // Anything the commands' enabled rules read changed.
  void commandStateChanged();
  // Accounts, records or indexing changed.
  void vaultChanged();
  void backupChanged();
  void flagChanged(bx::Seams::Sheet kind, bool value);
  void importMessageChanged();
  void toastChanged();
};

} // namespace bx

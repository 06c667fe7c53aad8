#pragma once

#include "Shell/ShellStore.h"

#include <QStringList>

namespace bx::test {

// A store for driving the shell alone: plain state the test sets, and a log
// of every operation the shell calls.
class FakeShellStore : public ShellStore {
public:
  CommandState state;
  int accounts = 0;
  bool records = false;
  bool indexing = false;
  std::optional<QDateTime> finished;
  bool flags[4] = {false, false, false, false};
  std::optional<QString> import;
  std::optional<Toast> currentToast;
  QStringList calls;

  CommandState commandState() const override {
    CommandState s = state;
    s.hasAccounts = accounts > 0;
    return s;
  }
  bool hasAccounts() const override { return accounts > 0; }
  int accountCount() const override { return accounts; }
  bool hasRecords() const override { return records; }
  bool isIndexing() const override { return indexing; }
  bool backupRunning() const override { return state.backupRunning; }
  std::optional<QDateTime> lastFinished() const override { return finished; }
  bool flag(Sheet kind) const override { return flags[int(kind)]; }
  std::optional<QString> importMessage() const override { return import; }
  std::optional<Toast> toast() const override { return currentToast; }

  void setFlag(Sheet kind, bool value) override {
    calls << QStringLiteral("setFlag %1 %2").arg(int(kind)).arg(value);
    flags[int(kind)] = value;
    emit flagChanged(kind, value);
  }
  void clearToast(QUuid) override {
    calls << QStringLiteral("clearToast");
    currentToast.reset();
    emit toastChanged();
  }
  void backUpNow() override { calls << QStringLiteral("backUpNow"); }
  void stopBackup() override { calls << QStringLiteral("stopBackup"); }
  void presentImportPanel() override { calls << QStringLiteral("presentImportPanel"); }
  void openArchiveInFinder() override { calls << QStringLiteral("openArchiveInFinder"); }
  void reloadArchive() override { calls << QStringLiteral("reloadArchive"); }
  void startScheduler() override { calls << QStringLiteral("startScheduler"); }
  void selectShelf(Shelf shelf) override { calls << QStringLiteral("selectShelf %1").arg(int(shelf)); }
  void selectNext(int step) override { calls << QStringLiteral("selectNext %1").arg(step); }
  void showImagesForSelection() override { calls << QStringLiteral("showImages"); }
  void revealSelection() override { calls << QStringLiteral("reveal"); }
  void openSelection() override { calls << QStringLiteral("open"); }
  void saveCurrentSearch() override { calls << QStringLiteral("saveSearch"); }

  // Changes that the real store announces.
  void setAccounts(int n) {
    accounts = n;
    emit vaultChanged();
    emit commandStateChanged();
  }
  void setRecords(bool on) {
    records = on;
    emit vaultChanged();
  }
  void setIndexing(bool on) {
    indexing = on;
    emit vaultChanged();
  }
  void setRunning(bool on, std::optional<QDateTime> lastFinished = std::nullopt) {
    state.backupRunning = on;
    if (lastFinished) finished = lastFinished;
    emit backupChanged();
    emit commandStateChanged();
  }
};

} // namespace bx::test

#pragma once

#include "Views/ThemedWidget.h"

#include <QObject>
#include <QTimer>
#include <optional>

class QAbstractButton;

namespace bx {

class AppStore;
class CountText;
class TextBlock;
class ProgressLine;
class SmallCaps;
class StatusLine;
class SymbolView;
class VaultButton;
struct MailAccount;
struct BackupStatus;

// The two schedule settings as the strip shows them, and the signal that
// they changed (the settings window calls `notifyChanged` after a write).
class ScheduleSettings : public QObject {
  Q_OBJECT
public:
  static ScheduleSettings& shared();
  static bool enabled();
  // nullopt while nothing was ever stored.
  static std::optional<int> hours();
  void notifyChanged() { emit changed(); }

signals:
  void changed();
};

// The latest of the last finished run and the accounts' last backups.
std::optional<std::chrono::system_clock::time_point> lastCheckDate(const BackupStatus& backup,
                                                                   const std::vector<MailAccount>& accounts);

// The sidebar's first row: "THE VAULT", the message count, bytes and years,
// and how long ago the vault was last checked (re-read every minute).
class VaultHeader : public ThemedWidget {
  Q_OBJECT
public:
  explicit VaultHeader(AppStore& store, QWidget* parent = nullptr);

  QString countText() const;
  QString detail() const;
  // "checked 12 min ago", or empty without a last-check date.
  QString checkedText() const;

  void refresh();
  CountText* countLabel() const { return count_; }

signals:
  // A line came or went: the header's height changed.
  void linesChanged();

private:
  AppStore& store_;
  CountText* count_;
  long long shownCount_ = 0;
  TextBlock* messages_;
  TextBlock* detail_;
  TextBlock* checked_;
  QTimer minute_;
};

// The card below the sidebar: idle (whether and when the vault was backed
// up, the schedule, "Back Up") or running (phase and folder, a progress bar,
// counts, a stop button), then the indexing line. A double-click anywhere
// on it opens the backup ledger; the second press of a double-click never
// presses one of its buttons.
class BackupStrip : public ThemedWidget {
  Q_OBJECT
public:
  explicit BackupStrip(AppStore& store, QWidget* parent = nullptr);

  QString statusTitle() const;
  QString statusDetail() const;
  bool isRunningShown() const;
  VaultButton* backUpButton() const { return backUp_; }
  VaultButton* stopButton() const { return stop_; }
  QString runningTitle() const;
  QString progressText() const;
  double progressValue() const;
  // The indexing line, empty when hidden.
  QString indexingText() const;
  // "Back Up" sits below the texts, as they would not fit beside it.
  bool isBackUpBelow() const;
  SymbolView* shield() const { return shield_; }
  CountText* progressLabel() const { return progress_; }

  void refresh();

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  AppStore& store_;
  QWidget* idle_;
  QWidget* running_;
  // The block the strip switched to fades in with the shared spring (the
  // fade under Reduce Motion).
  void fadeIn(QWidget* block);
  void placeBackUp(bool below);
  void fitBackUp();

  StatusLine* status_;
  SymbolView* shield_;
  QWidget* beside_;
  QWidget* below_;
  std::optional<std::chrono::system_clock::time_point> shownFinish_;
  TextBlock* title_;
  TextBlock* detail_;
  VaultButton* backUp_;
  class Spinner* spinner_;
  TextBlock* runTitle_;
  VaultButton* stop_;
  ProgressLine* bar_;
  CountText* progress_;
  TextBlock* indexing_;
  QTimer minute_;
};

} // namespace bx

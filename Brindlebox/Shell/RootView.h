#pragma once

#include "Shell/ShellStore.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QMainWindow;
class QSplitter;
class QStackedWidget;
class QToolBar;

namespace bx {

class SheetHost;
class ToastOverlay;
class ToolbarButton;
class WelcomeView;

// The toolbar's backup item: "Back Up Now" (the arrow bounces once each time
// a backup ends) or, while a backup runs, "Backing Up" with a pulsing symbol;
// clicking it then opens the backup ledger instead of starting another run.
class BackupToolbarButton : public QObject {
  Q_OBJECT
public:
  BackupToolbarButton(ShellStore& store, ToolbarButton* button);
  ToolbarButton* button() const { return button_; }
  void refresh();

private:
  ShellStore& store_;
  ToolbarButton* button_;
  std::optional<QDateTime> lastFinished_;
};

// The content of the main window: the welcome page while the vault is empty,
// else the browser (sidebar; timeline spine beside the message list; reader),
// switched with the 0.18 s fade. Puts the toolbar on the window, presents the
// four sheets from the store's flags, lays toasts over the welcome page and
// the reader, and opens the onboarding guide 0.4 s after the window first
// shows when it is due.
//
// Seams: the columns and the reader come from Seams (placeholders until
// their subsystems set them); the sheets from Seams::sheet, except the guide,
// which is this shell's OnboardingView.
class RootView : public QWidget {
  Q_OBJECT
public:
  RootView(ShellStore& store, QMainWindow* window);
  ~RootView() override;

  bool showsWelcome() const;
  WelcomeView* welcome() const { return welcome_; }
  QSplitter* browser() const { return browser_; }
  QWidget* readerHost() const { return readerHost_; }
  QToolBar* toolBar() const { return toolBar_; }
  BackupToolbarButton* backupButton() const { return backup_; }
  ToolbarButton* freeUpButton() const { return freeUp_; }
  ToolbarButton* moreButton() const { return more_; }
  SheetHost* sheets() const { return sheets_; }
  ToastOverlay* welcomeToasts() const { return welcomeToasts_; }
  ToastOverlay* readerToasts() const { return readerToasts_; }
  // Whether the guide's delayed opening has been scheduled (once per view).
  bool guideScheduled() const { return guideScheduled_; }

protected:
  void showEvent(QShowEvent*) override;

private:
  void buildToolbar(QMainWindow* window);
  void buildBrowser();
  void syncPage(bool animated);
  void syncToolbar();
  QDialog* makeSheet(Seams::Sheet kind, QWidget* parent);

  ShellStore& store_;
  QStackedWidget* stack_ = nullptr;
  WelcomeView* welcome_ = nullptr;
  QSplitter* browser_ = nullptr;
  QWidget* readerHost_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  BackupToolbarButton* backup_ = nullptr;
  ToolbarButton* freeUp_ = nullptr;
  ToolbarButton* more_ = nullptr;
  SheetHost* sheets_ = nullptr;
  ToastOverlay* welcomeToasts_ = nullptr;
  ToastOverlay* readerToasts_ = nullptr;
  bool guideScheduled_ = false;
  bool shownOnce_ = false;
};

} // namespace bx
